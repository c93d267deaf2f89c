#include "model/NeighbourGrid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "frame/Error.h"
#include "model/Radii.h"

namespace cavitas {

namespace {

using Ext = long double;

constexpr int kCells = 16;  // per axis
constexpr std::size_t kNearCapacity = 30, kMidCapacity = 70, kFarCapacity = 20;

// A pair is measured exactly (Distance in extended precision, rounded to
// double) only when a cheap double-precision squared distance could be below
// the far limit. The relative margin is far above the rounding of either
// computation, so the filter never drops a pair the exact test would keep.
constexpr double kPrefilterMargin = 1e-9;

struct TClassLists {
  TNeighbourLists* Near;
  TNeighbourLists* Mid;
  TNeighbourLists* Far;
};

// Appends the relation of atoms a and b (Numbers) to both per-atom lists of the class of d.
inline void AddPair(const TClassLists& lists, const TNeighbourLimits& limits, std::int32_t a, std::int32_t b,
                    double d) {
  TNeighbourLists& target = d < limits.Near ? *lists.Near : d < limits.Mid ? *lists.Mid : *lists.Far;
  target[static_cast<std::size_t>(a - 1)].emplace_back(b, d);
  target[static_cast<std::size_t>(b - 1)].emplace_back(a, d);
}

std::vector<TNachbarStruktur> FreshList(std::size_t capacity) {
  std::vector<TNachbarStruktur> list;
  list.reserve(capacity);
  return list;
}

// Checks the atom table the lists are built on: counts inside the table bounds
// and every atom present with Number equal to its index.
void ValidateAtoms(const TProteinObject& p) {
  if (p.AtomCount < 0 || p.AtomCount > kMaxAtoms)
    RaiseLimit("atom count " + std::to_string(p.AtomCount) + " outside 0.." + std::to_string(kMaxAtoms));
  if (p.ProteinAtomCount < 0 || p.ProteinAtomCount > p.AtomCount)
    RaiseLimit("protein atom count " + std::to_string(p.ProteinAtomCount) + " outside 0.." +
               std::to_string(p.AtomCount));
  for (int i = 1; i <= p.AtomCount; ++i) {
    const TAtom* a = p.AtomAt(i);
    if (a == nullptr || a->Number != i) RaiseLimit("atom " + std::to_string(i) + " missing from the atom table");
  }
}

TClassLists Lists(TProteinObject& p) {
  return {p.NeighboursNear.get(), p.NeighboursMid.get(), p.NeighboursFar.get()};
}

// The transient cell grid: cell lists stored back to back (cell order, then
// ascending Number inside a cell), with copies of the coordinates for locality.
class TCellGrid {
 public:
  explicit TCellGrid(const TProteinObject& p, const TNeighbourLimits& limits) {
    const int n = p.ProteinAtomCount;
    float minimum[3] = {1000.0f, 1000.0f, 1000.0f};
    float maximum[3] = {-1000.0f, -1000.0f, -1000.0f};
    for (int i = 1; i <= n; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const float c[3] = {a.X, a.Y, a.Z};
      for (int k = 0; k < 3; ++k) {
        if (minimum[k] > c[k]) minimum[k] = c[k];
        if (maximum[k] < c[k]) maximum[k] = c[k];
      }
    }
    for (int k = 0; k < 3; ++k) {
      minimum_[k] = static_cast<float>(Ext(minimum[k]) - 0.1L);
      const float top = static_cast<float>(Ext(maximum[k]) + 0.1L);
      float edge = static_cast<float>((Ext(top) - Ext(minimum_[k])) * 0.0625L);
      if (edge < limits.MinCellEdge) edge = static_cast<float>(limits.MinCellEdge);
      inverse_[k] = static_cast<float>(1.0L / Ext(edge));
    }
    // Counting sort by cell keeps the atoms of each cell in ascending Number.
    std::vector<int> cellOf(static_cast<std::size_t>(n) + 1);
    std::vector<int> count(kCells * kCells * kCells + 1, 0);
    for (int i = 1; i <= n; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const int cell = CellIndex(Index(a.X, 0), Index(a.Y, 1), Index(a.Z, 2));
      cellOf[static_cast<std::size_t>(i)] = cell;
      ++count[static_cast<std::size_t>(cell) + 1];
    }
    for (std::size_t c = 1; c < count.size(); ++c) count[c] += count[c - 1];
    start_ = count;
    number_.resize(static_cast<std::size_t>(n));
    coord_.resize(static_cast<std::size_t>(n));
    for (int i = 1; i <= n; ++i) {
      const auto slot = static_cast<std::size_t>(count[static_cast<std::size_t>(cellOf[static_cast<std::size_t>(i)])]++);
      number_[slot] = i;
      coord_[slot] = *p.AtomAt(i);
    }
  }

  // Cell index per axis, 1..16.
  int Index(float coordinate, int axis) const {
    const Ext t = (Ext(coordinate) - Ext(minimum_[axis])) * Ext(inverse_[axis]);
    const int index = static_cast<int>(std::trunc(t)) + 1;
    if (!(t >= 0) || index < 1 || index > kCells) RaiseLimit("neighbour grid index outside 1..16");
    return index;
  }
  static int CellIndex(int ix, int iy, int iz) { return ((ix - 1) * kCells + (iy - 1)) * kCells + (iz - 1); }

  std::size_t Begin(int cell) const { return static_cast<std::size_t>(start_[static_cast<std::size_t>(cell)]); }
  std::size_t End(int cell) const { return static_cast<std::size_t>(start_[static_cast<std::size_t>(cell) + 1]); }
  std::int32_t Number(std::size_t slot) const { return number_[slot]; }
  const TCoord& Coord(std::size_t slot) const { return coord_[slot]; }

 private:
  float minimum_[3]{}, inverse_[3]{};
  std::vector<int> start_;  // cell c holds slots start_[c] .. start_[c+1]-1
  std::vector<std::int32_t> number_;
  std::vector<TCoord> coord_;
};

inline double CoarseDistance2(const TCoord& a, const TCoord& b) {
  const double dx = double(a.X) - double(b.X), dy = double(a.Y) - double(b.Y), dz = double(a.Z) - double(b.Z);
  return dx * dx + dy * dy + dz * dz;
}

// Protein-protein relations in the order of the grid scan: cells by ix, iy,
// iz; atoms of a cell in list order; neighbour cells by nx, ny, nz; partners in
// list order, each pair once, from its higher-numbered atom.
void ScanGrid(const TCellGrid& grid, const TClassLists& lists, const TNeighbourLimits& limits) {
  const double far2 = limits.Far * limits.Far * (1 + kPrefilterMargin);
  for (int ix = 1; ix <= kCells; ++ix)
    for (int iy = 1; iy <= kCells; ++iy)
      for (int iz = 1; iz <= kCells; ++iz) {
        const int cell = TCellGrid::CellIndex(ix, iy, iz);
        for (std::size_t sa = grid.Begin(cell); sa < grid.End(cell); ++sa) {
          const std::int32_t a = grid.Number(sa);
          const TCoord& ca = grid.Coord(sa);
          for (int nx = std::max(ix - 1, 1); nx <= std::min(ix + 1, kCells); ++nx)
            for (int ny = std::max(iy - 1, 1); ny <= std::min(iy + 1, kCells); ++ny)
              for (int nz = std::max(iz - 1, 1); nz <= std::min(iz + 1, kCells); ++nz) {
                const int other = TCellGrid::CellIndex(nx, ny, nz);
                // Cell lists ascend in Number: the partners below a end at the first b >= a.
                for (std::size_t sb = grid.Begin(other), end = grid.End(other); sb < end; ++sb) {
                  const std::int32_t b = grid.Number(sb);
                  if (b >= a) break;
                  const TCoord& cb = grid.Coord(sb);
                  if (CoarseDistance2(ca, cb) >= far2) continue;
                  const double d = Distance(ca, cb);
                  if (d < limits.Far) AddPair(lists, limits, a, b, d);
                }
              }
        }
      }
}

}  // namespace

TNeighbourLimits NeighbourLimits() {
  const Ext probe = Model.ProbeRadius;
  TNeighbourLimits l{};
  l.Near = static_cast<double>(probe + 2.4L + 0.01L);
  l.Mid = static_cast<double>(2.0L * Ext(l.Near));
  l.Far = static_cast<double>(Ext(l.Mid) + 0.8L);
  l.MinCellEdge = static_cast<double>((2.41L + probe + 0.4L) * 2.0L);
  return l;
}

void BuildNeighbourLists(TProteinObject& protein) {
  ValidateAtoms(protein);
  protein.NeighboursFar.reset();
  protein.NeighboursMid.reset();
  protein.NeighboursNear.reset();
  const auto n = static_cast<std::size_t>(protein.AtomCount);
  protein.NeighboursNear = std::make_unique<TNeighbourLists>();
  protein.NeighboursMid = std::make_unique<TNeighbourLists>();
  protein.NeighboursFar = std::make_unique<TNeighbourLists>();
  protein.NeighboursNear->reserve(n);
  protein.NeighboursMid->reserve(n);
  protein.NeighboursFar->reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    protein.NeighboursNear->push_back(FreshList(kNearCapacity));
    protein.NeighboursMid->push_back(FreshList(kMidCapacity));
    protein.NeighboursFar->push_back(FreshList(kFarCapacity));
  }
  const TNeighbourLimits limits = NeighbourLimits();
  {
    const TCellGrid grid(protein, limits);
    ScanGrid(grid, Lists(protein), limits);
  }
  AddHetNeighbours(protein);
}

void AddHetNeighbours(TProteinObject& protein) {
  ValidateAtoms(protein);
  // Lists that were never built start empty, so the hetero relations still come out whole.
  if (!protein.NeighboursNear) protein.NeighboursNear = std::make_unique<TNeighbourLists>();
  if (!protein.NeighboursMid) protein.NeighboursMid = std::make_unique<TNeighbourLists>();
  if (!protein.NeighboursFar) protein.NeighboursFar = std::make_unique<TNeighbourLists>();
  const int first = protein.ProteinAtomCount + 1, last = protein.AtomCount;
  const std::pair<TNeighbourLists*, std::size_t> classes[3] = {{protein.NeighboursNear.get(), kNearCapacity},
                                                               {protein.NeighboursMid.get(), kMidCapacity},
                                                               {protein.NeighboursFar.get(), kFarCapacity}};
  for (int i = first; i <= last; ++i)
    for (const auto& [list, capacity] : classes) {
      const auto item = static_cast<std::size_t>(i - 1);
      // Shorter outer lists are filled up so that item k stays the list of atom k+1.
      while (list->size() <= item) list->push_back(FreshList(capacity));
      (*list)[item] = FreshList(capacity);
    }
  if (first > last) return;

  const TNeighbourLimits limits = NeighbourLimits();
  const TClassLists lists = Lists(protein);
  const double far2 = limits.Far * limits.Far * (1 + kPrefilterMargin);
  // Coordinates as doubles, back to back, for the coarse pass over all lower-numbered atoms.
  std::vector<double> xs(static_cast<std::size_t>(last) + 1), ys(xs.size()), zs(xs.size()), d2(xs.size());
  for (int k = 1; k <= last; ++k) {
    const TAtom& a = *protein.AtomAt(k);
    xs[static_cast<std::size_t>(k)] = a.X;
    ys[static_cast<std::size_t>(k)] = a.Y;
    zs[static_cast<std::size_t>(k)] = a.Z;
  }
  for (int j = first; j <= last; ++j) {
    const auto uj = static_cast<std::size_t>(j);
    const double x = xs[uj], y = ys[uj], z = zs[uj];
    for (std::size_t k = 1; k < uj; ++k) {
      const double dx = x - xs[k], dy = y - ys[k], dz = z - zs[k];
      d2[k] = dx * dx + dy * dy + dz * dz;
    }
    const TAtom& atomJ = *protein.AtomAt(j);
    for (std::size_t k = 1; k < uj; ++k) {
      if (d2[k] >= far2) continue;
      const int ik = static_cast<int>(k);
      const double d = Distance(atomJ, *protein.AtomAt(ik));
      if (d < limits.Far) AddPair(lists, limits, j, ik, d);
    }
  }
}

void RemoveHetNeighbours(TProteinObject& protein) {
  if (protein.AtomCount > kMaxAtoms || protein.ProteinAtomCount < 0)
    RaiseLimit("atom count " + std::to_string(protein.AtomCount) + " outside 0.." + std::to_string(kMaxAtoms));
  const int first = protein.ProteinAtomCount + 1, last = protein.AtomCount;
  for (TNeighbourLists* list : {protein.NeighboursNear.get(), protein.NeighboursMid.get(), protein.NeighboursFar.get()}) {
    if (list == nullptr) continue;
    for (int i = first; i <= last && static_cast<std::size_t>(i) <= list->size(); ++i) {
      std::vector<TNachbarStruktur>& own = (*list)[static_cast<std::size_t>(i - 1)];
      for (const TNachbarStruktur& entry : own) {
        if (entry.Atom < 1 || static_cast<std::size_t>(entry.Atom) > list->size() || entry.Atom == i) continue;
        std::vector<TNachbarStruktur>& partner = (*list)[static_cast<std::size_t>(entry.Atom - 1)];
        const auto it = std::find_if(partner.begin(), partner.end(),
                                     [i](const TNachbarStruktur& e) { return e.Atom == i; });
        if (it != partner.end()) partner.erase(it);
      }
      own.clear();
    }
  }
  for (int d = last; d >= first; --d)
    for (TNeighbourLists* list :
         {protein.NeighboursNear.get(), protein.NeighboursMid.get(), protein.NeighboursFar.get()}) {
      const auto item = static_cast<std::size_t>(d - 1);
      if (list != nullptr && item < list->size()) list->erase(list->begin() + static_cast<std::ptrdiff_t>(item));
    }
}

}  // namespace cavitas
