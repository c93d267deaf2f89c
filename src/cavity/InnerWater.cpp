// The inner-water search. A cheap test of each crystal water against the outer
// contact patches of its nearest surface atom selects candidates; all
// candidates are then put into the atom table together, the surface is rebuilt
// once, and every candidate that shows up on the rebuilt outer surface is
// dropped again. The confirmed waters become hetero atoms in groups.
#include "cavity/InnerWater.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "cavity/Cluster.h"
#include "cavity/ContactObject.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Threads.h"
#include "model/NeighbourGrid.h"
#include "model/Radii.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

constexpr double kStartDistance = 1000.0;
constexpr double kWaterSphere = 1.4;      // radius of the water sphere in the patch tests
constexpr double kGroupDistance2 = 10.89;  // (3.3 Å)^2: two inner waters in one element

const std::vector<TConollyObject*>* SlotOf(const TAtomElementLists& lists, int atom) {
  if (atom < 1) RaiseLimit("atom " + std::to_string(atom) + " below 1 in the per-atom element lists");
  if (!HasRow(lists, atom)) return nullptr;
  return &At(lists, atom);
}

bool HasElements(const TAtomElementLists& lists, int atom) {
  const auto* slot = SlotOf(lists, atom);
  return slot != nullptr && !slot->empty();
}

// The candidates' atoms while they stand in the atom table for the trial
// surface. The waters keep owning them otherwise: every slot filled here goes
// back to its water when the trial ends, also when a stage throws.
class TTrialWaters {
 public:
  explicit TTrialWaters(TProteinObject& protein) : protein_(protein), tableSize_(protein.Atoms.size()) {}
  ~TTrialWaters() { Restore(); }
  TTrialWaters(const TTrialWaters&) = delete;
  TTrialWaters& operator=(const TTrialWaters&) = delete;

  void Put(int slot, THetAtom& water, int index) {
    if (!water.OwnedAtom) RaiseLimit("water " + std::to_string(index) + " without its atom");
    TAtom& atom = *water.OwnedAtom;
    protein_.PutAtom(slot, std::move(water.OwnedAtom));
    placed_.push_back({slot, &water});
    atom.Number = slot;
    atom.ResidueIndex = index;
  }

  void Restore() {
    for (const auto& [slot, water] : placed_) water->OwnedAtom = protein_.TakeAtom(slot);
    placed_.clear();
    // The table ends where it ended before the trial.
    auto& table = protein_.Atoms;
    while (table.size() > tableSize_ && !table.back()) table.pop_back();
  }

 private:
  struct Placed {
    int Slot;
    THetAtom* Water;
  };
  TProteinObject& protein_;
  std::size_t tableSize_;
  std::vector<Placed> placed_;
};

struct TConfirmed {
  int Index;  // 1-based position in Waters
  THetAtom* Water;
};

// Splits the confirmed waters into groups: a group grows breadth-first by
// every remaining water closer than 3.3 Å to one of its members.
std::vector<std::vector<TConfirmed>> GroupWaters(std::vector<TConfirmed> confirmed) {
  std::vector<std::vector<TConfirmed>> groups;
  while (!confirmed.empty()) {
    std::vector<TConfirmed> group{confirmed.front()};
    confirmed.erase(confirmed.begin());
    for (std::size_t m = 0; m < group.size(); ++m) {
      const TAtom& member = *group[m].Water->Atom;
      for (std::size_t pos = 0; pos < confirmed.size();) {
        if (Distance2(*confirmed[pos].Water->Atom, member) < kGroupDistance2) {
          group.push_back(confirmed[pos]);
          confirmed.erase(confirmed.begin() + static_cast<std::ptrdiff_t>(pos));
        } else {
          ++pos;
        }
      }
    }
    groups.push_back(std::move(group));
  }
  return groups;
}

}  // namespace

bool IsInnerWaterCandidate(double p, double q) {
  const double d = p - q;
  if (d > -0.1) return true;
  return d >= -2.7 && p > -1.4;
}

void WaterPatchDistances(const TModelConstants& model, const std::vector<TConollyObject*>& slot, const TCoord& water,
                         double& p, double& q) {
  p = kStartDistance;
  q = kStartDistance;
  for (const TConollyObject* e : slot) {
    if (e->Kind != kContactPatch) continue;
    TCoord probe;
    p = std::min(p, e->ProbeDistance(model, water, probe, kWaterSphere));
    q = std::min(q, e->PatchDistance(model, water, kWaterSphere));
  }
}

namespace detail {

std::vector<std::int32_t> NearestSurfaceAtomsScan(const TProteinObject& protein, std::int32_t atomCount,
                                                  const std::vector<std::uint8_t>& flags,
                                                  const std::vector<const TAtom*>& waters) {
  std::vector<std::int32_t> nearest(waters.size(), 0);
  for (std::size_t j = 0; j < waters.size(); ++j) {
    double best = kStartDistance;
    for (int i = 1; i <= atomCount; ++i) {
      if (static_cast<std::size_t>(i) >= flags.size() || !flags[static_cast<std::size_t>(i)]) continue;
      const double g = SurfaceDistance(*waters[j], *protein.AtomAt(i), protein.Context.Model);
      if (g < best) {
        best = g;
        nearest[j] = i;
      }
    }
  }
  return nearest;
}

std::vector<std::int32_t> NearestSurfaceAtomsIndexed(const TProteinObject& protein, std::int32_t atomCount,
                                                     const std::vector<std::uint8_t>& flags,
                                                     const std::vector<const TAtom*>& waters) {
  std::vector<std::int32_t> nearest(waters.size(), 0);
  std::vector<const TAtom*> atoms;
  std::array<double, 3> lo{1e30, 1e30, 1e30}, hi{-1e30, -1e30, -1e30};
  double maxRadius = 0;
  for (int i = 1; i <= atomCount; ++i) {
    if (static_cast<std::size_t>(i) >= flags.size() || !flags[static_cast<std::size_t>(i)]) continue;
    const TAtom* a = protein.AtomAt(i);
    atoms.push_back(a);
    const std::array<double, 3> c{a->X, a->Y, a->Z};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], c[k]);
      hi[k] = std::max(hi[k], c[k]);
    }
    maxRadius = std::max(maxRadius, protein.Context.Model.Radius(*a));
  }
  if (atoms.empty()) return nearest;

  // Cells of about 4 Å, at most 64 per axis.
  std::array<int, 3> dim{};
  std::array<double, 3> edge{};
  for (int k = 0; k < 3; ++k) {
    const double extent = hi[k] - lo[k];
    edge[k] = std::max(4.0, extent / 64.0);
    dim[k] = std::min(64, static_cast<int>(extent / edge[k]) + 1);
  }
  const auto cellOf = [&](const std::array<double, 3>& c, std::array<int, 3>& cell) {
    for (int k = 0; k < 3; ++k) cell[k] = std::clamp(static_cast<int>((c[k] - lo[k]) / edge[k]), 0, dim[k] - 1);
  };
  const auto flat = [&](int x, int y, int z) { return (static_cast<std::size_t>(x) * dim[1] + y) * dim[2] + z; };
  std::vector<std::vector<const TAtom*>> cells(static_cast<std::size_t>(dim[0]) * dim[1] * dim[2]);
  for (const TAtom* a : atoms) {  // ascending Number within each cell
    std::array<int, 3> c{};
    cellOf({a->X, a->Y, a->Z}, c);
    cells[flat(c[0], c[1], c[2])].push_back(a);
  }
  const double minEdge = std::min({edge[0], edge[1], edge[2]});
  const int maxRing = std::max({dim[0], dim[1], dim[2]});

  for (std::size_t j = 0; j < waters.size(); ++j) {
    const TAtom& w = *waters[j];
    const double wr = protein.Context.Model.Radius(w);
    std::array<int, 3> c{};
    cellOf({w.X, w.Y, w.Z}, c);
    double best = kStartDistance;
    std::int32_t bestAtom = 0;
    for (int ring = 0; ring <= maxRing; ++ring) {
      for (int x = std::max(0, c[0] - ring); x <= std::min(dim[0] - 1, c[0] + ring); ++x)
        for (int y = std::max(0, c[1] - ring); y <= std::min(dim[1] - 1, c[1] + ring); ++y)
          for (int z = std::max(0, c[2] - ring); z <= std::min(dim[2] - 1, c[2] + ring); ++z) {
            if (std::max({std::abs(x - c[0]), std::abs(y - c[1]), std::abs(z - c[2])}) != ring) continue;
            for (const TAtom* a : cells[flat(x, y, z)]) {
              const double g = SurfaceDistance(w, *a, protein.Context.Model);
              // The scan keeps the first of equal gaps: the lowest Number.
              if (g < best || (g == best && bestAtom != 0 && a->Number < bestAtom)) {
                best = g;
                bestAtom = a->Number;
              }
            }
          }
      // Cells beyond this ring lie at least ring * edge from the water's cell
      // (and from the water: projecting onto the grid box shortens no distance
      // to a point inside it).
      const double bound = ring * minEdge - maxRadius - wr;
      if (bound > best + 1e-3) break;
    }
    nearest[j] = bestAtom;
  }
  return nearest;
}

}  // namespace detail

void FindInnerWaterIn(TProteinObject& protein, std::vector<TWaterVerdict>* trace, TSurfaceMemo* memo) {
  if (trace) trace->clear();
  if (protein.Waters.empty()) return;

  const std::int32_t n0 = protein.AtomCount;
  TClusteredConollyArea area;
  if (!protein.NeighboursNear) BuildNeighbourLists(protein);
  area.Compute(protein, true, true, memo);
  std::vector<std::uint8_t> surfaceAtom(static_cast<std::size_t>(n0) + 1, 0);
  for (int i = 1; i <= protein.AtomCount; ++i)
    if (HasElements(area.AtomElements, i)) surfaceAtom[static_cast<std::size_t>(i)] = 1;

  const int n = static_cast<int>(protein.Waters.size());
  std::vector<const TAtom*> waterAtoms;
  for (int j = 1; j <= n; ++j) {
    const TAtom* atom = protein.Waters[static_cast<std::size_t>(j - 1)]->Atom;
    if (atom == nullptr) RaiseLimit("water " + std::to_string(j) + " without its atom");
    waterAtoms.push_back(atom);
  }
  const std::vector<std::int32_t> nearest = detail::NearestSurfaceAtomsIndexed(protein, n0, surfaceAtom, waterAtoms);

  // inner[j] for water j = 1..n (index 0 unused).
  std::vector<std::uint8_t> inner(static_cast<std::size_t>(n) + 1, 0);
  std::vector<TWaterVerdict> verdicts(static_cast<std::size_t>(n));
  // Each water's test reads the surface only: the waters are shared among threads.
  const int parts = std::min(WorkerThreads(n, 200), n);
  RunParts(parts, [&](int t) {
    for (int j = n * t / parts + 1; j <= n * (t + 1) / parts; ++j) {
      TWaterVerdict& v = verdicts[static_cast<std::size_t>(j - 1)];
      v.Nearest = nearest[static_cast<std::size_t>(j - 1)];
      if (v.Nearest <= 0 || !HasElements(area.AtomElements, v.Nearest)) continue;
      WaterPatchDistances(protein.Context.Model, *SlotOf(area.AtomElements, v.Nearest),
                          *waterAtoms[static_cast<std::size_t>(j - 1)], v.P, v.Q);
      v.Candidate = IsInnerWaterCandidate(v.P, v.Q);
      if (v.Candidate) inner[static_cast<std::size_t>(j)] = 1;
    }
  });
  const auto publish = [&] {
    if (trace) *trace = verdicts;
  };

  std::int32_t r = n0;
  {
    TTrialWaters trial(protein);
    for (int j = 1; j <= n; ++j) {
      if (!inner[static_cast<std::size_t>(j)]) continue;
      ++r;
      trial.Put(r, *protein.Waters[static_cast<std::size_t>(j - 1)], j);
    }
    if (r == n0) {
      protein.AtomCount = protein.ProteinAtomCount + static_cast<std::int32_t>(protein.HetAtoms.size());
      publish();
      return;
    }

    RemoveHetNeighbours(protein);
    protein.AtomCount = r;
    area.Clear();
    AddHetNeighbours(protein);
    area.Compute(protein, true, true, memo);
    for (int i = n0 + 1; i <= protein.AtomCount; ++i) {
      if (!HasElements(area.AtomElements, i)) continue;
      const int j = protein.AtomAt(i)->ResidueIndex;
      if (j < 1 || j > n) RaiseLimit("water index " + std::to_string(j) + " outside 1.." + std::to_string(n));
      inner[static_cast<std::size_t>(j)] = 0;
      verdicts[static_cast<std::size_t>(j - 1)].Exposed = true;
    }
    RemoveHetNeighbours(protein);
    trial.Restore();
    protein.AtomCount = n0;
  }
  // The confirmed waters follow the atoms present at entry.
  r = n0;

  std::vector<TConfirmed> confirmed;
  for (int j = 1; j <= n; ++j)
    if (inner[static_cast<std::size_t>(j)]) confirmed.push_back({j, protein.Waters[static_cast<std::size_t>(j - 1)].get()});

  if (!confirmed.empty()) {
    for (const auto& group : GroupWaters(std::move(confirmed))) {
      const auto size = static_cast<std::int32_t>(group.size());
      for (std::int32_t o = 1; o <= size; ++o) {
        const TConfirmed& c = group[static_cast<std::size_t>(o - 1)];
        verdicts[static_cast<std::size_t>(c.Index - 1)].Inner = true;
        protein.HetAtoms.push_back(std::move(protein.Waters[static_cast<std::size_t>(c.Index - 1)]));
        THetAtom& het = *protein.HetAtoms.back();
        TAtom& atom = *het.Atom;
        atom.Number = r + o;
        atom.ResidueIndex = static_cast<std::int32_t>(protein.HetAtoms.size());
        atom.AtomCode = kWaterCode;
        protein.PutAtom(r + o, std::move(het.OwnedAtom));
      }
      protein.HetElementCount += 1;
      const std::int32_t row = protein.ElementCount + protein.HetElementCount;
      TElementZeile& element = protein.ElementRow(row);
      element.First = r + 1;
      element.Last = r + size;
      element.ConnectedFrom = 0;
      element.ConnectedTo = 0;
      element.ResetAtoms();
      element.ElementKind = TElementKind::Water;
      r += size;
    }
    // The waters that stay outside keep their order; those beyond the examined
    // ones stay as well.
    auto& waters = protein.Waters;
    waters.erase(std::remove(waters.begin(), waters.end(), nullptr), waters.end());
  }
  protein.AtomCount = protein.ProteinAtomCount + static_cast<std::int32_t>(protein.HetAtoms.size());
  AddHetNeighbours(protein);
  publish();
}

void TNewContactObject::FindInnerWater() { FindInnerWaterIn(*this, nullptr, &surfaceMemo_); }

}  // namespace cavitas
