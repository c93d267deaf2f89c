// Points where the expanded spheres of four atoms meet: the free arcs of two
// of the six probe circles through such a point have length zero, so two
// contact-patch cycles stay open there. They are recorded during the per-atom
// loop and repaired afterwards with a zero-length saddle edge; what stays
// open is resolved by moving the atoms (DisplaceAtoms).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Tolerances.h"
#include "surface/DegeneratePoints.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas::surface_detail {

namespace {

std::string Fixed12(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%12.6f", v);
  return b;
}

std::string Num(int n) { return std::to_string(n); }
std::string Num(std::size_t n) { return std::to_string(n); }

// Whether atom x is among the first `count` atoms of a problem.
bool Contains(const std::array<TAtomIndex, 4>& atoms, std::size_t count, TAtomIndex x) {
  return std::find(atoms.begin(), atoms.begin() + count, x) != atoms.begin() + count;
}

struct TSaddleInfo {
  TConollyObject2* Saddle;
  int Partner, Start, End;
};

void LogAtoms(const std::array<TAtomIndex, 4>& a, const std::string& tail) {
  ProgramLog().LogLine(Num(a[0]) + " " + Num(a[1]) + " " + Num(a[2]) + " " + Num(a[3]) + " " + tail);
}

}  // namespace

TDegeneracies::TDegeneracies(const TProteinObject& protein, TElementStore& store, const TSurfaceRadii& radii)
    : protein_(protein), store_(store), radii_(radii) {}

void TDegeneracies::NoteCoincidentNeighbours(const TAtom& atom, const std::vector<TAtom*>& neighbours) {
  // Of two coincident centres with different radii one sphere lies inside the
  // other, which the construction handles exactly; equal radii make one
  // sphere twice.
  const double radius = radii_.Radius(atom);
  for (const TAtom* n : neighbours)
    if (n->Number > atom.Number && n->X == atom.X && n->Y == atom.Y && n->Z == atom.Z && radii_.Radius(*n) == radius)
      coincidentAtoms_.push_back(n->Number);
}

void TDegeneracies::SetOpen(int atom, bool open) {
  if (open)
    openAtoms_.insert(atom);
  else
    openAtoms_.erase(atom);
}

void TDegeneracies::RecordProblem(const TAtom& atom, const std::vector<TAtom*>& neighbours, int a2, int a3,
                                  const TCoord& point) {
  const int a1 = atom.Number;
  // The atoms whose expanded spheres pass through the point.
  degenerateAtoms_.push_back(a1);
  for (const TAtom* n : neighbours) {
    const double gap = std::sqrt(static_cast<double>(Dist2(*n, point))) - radii_.Expanded(*n);
    if (std::fabs(gap) < tolerance::kThroughPoint) degenerateAtoms_.push_back(n->Number);
  }
  degenerateAtoms_.push_back(a2);
  degenerateAtoms_.push_back(a3);
  ++problemCount_;
  if (problemCount_ > kMaxProblems) {
    ProgramLog().LogText("Zu viele Probleme mit degenerierten Schnittpunkten bei GetAtConnolly");
  } else {
    TProblem p;
    p.A = {a1, a2, a3, 0};
    p.Point = point;
    problems_.push_back(p);
    failures_.push_back({a1, point});
  }
  problemInRun_ = true;
  ShowError(static_cast<TErrorCode>(StatusNumber(store_.Status())), "conolly", "GetAtConolly", false);
  ProgramLog().LogLine("Es schneiden sich mindestens 4 Atome in einem Punkt");
  ProgramLog().LogLine("beim Protein " + store_.FileName() + " bei Atom Nr " + Width4(a1) + " und den Atomen " +
                       Width4(a2) + " und " + Num(a3));
  ProgramLog().LogLine(" im Punkt (" + Fixed12(point.X) + Fixed12(point.Y) + Fixed12(point.Z) + ") .");
}

// Records of one point become problems of four atoms.
bool TDegeneracies::MergeProblems() {
  for (std::size_t p = 0; p < problems_.size(); ++p) {
    for (std::size_t q = p + 1; q < problems_.size();) {
      TProblem& P = problems_[p];
      const TProblem& Q = problems_[q];
      const std::size_t pc = P.A[3] != 0 ? 4 : 3;
      int shared = 0;
      for (std::size_t k = 0; k < pc; ++k)
        if (Contains(Q.A, 3, P.A[k])) ++shared;
      if (shared < 2 || Dist2(P.Point, Q.Point) >= tolerance::kSamePoint2) {
        ++q;
        continue;
      }
      if (shared == 2) {
        int other = 0;
        for (std::size_t k = 0; k < 3; ++k)
          if (!Contains(P.A, pc, Q.A[k])) other = Q.A[k];
        if (P.A[3] != 0) {
          ProgramLog().LogLine("Mehr als 4 Atome schneiden sich in einem Punkt in");
          LogAtoms(P.A, Num(other) + " Merging 4AtomProblems ");
          return false;
        }
        P.A[3] = other;
      }
      problems_.erase(problems_.begin() + static_cast<std::ptrdiff_t>(q));
    }
  }
  return true;
}

// The fourth atom of a point of three: a saddle of one atom that ends at the
// point on one of the other two and leads to an atom outside the three.
bool TDegeneracies::FindFourthAtom(TProblem& pr) {
  auto saddlesOf = [&](int number) {
    std::vector<TSaddleInfo> table;
    for (TConollyObject* e : store_.ListOf(number)) {
      if (e->Kind != kSaddlePatch) continue;
      auto* s = static_cast<TConollyObject2*>(e);
      table.push_back({s, s->Atom->Number == number ? s->Atom2->Number : s->Atom->Number,
                       s->StartAtom ? s->StartAtom->Number : 0, s->EndAtom ? s->EndAtom->Number : 0});
    }
    return table;
  };
  for (std::size_t x = 0; x < 3; ++x) {
    const TAtomIndex X = pr.A[x], Y = pr.A[(x + 1) % 3], Z = pr.A[(x + 2) % 3];
    for (const TSaddleInfo& s : saddlesOf(X)) {
      const bool touches = s.Start == Y || s.Start == Z || s.End == Y || s.End == Z;
      if (!touches || s.Partner == Y || s.Partner == Z) continue;
      TCoord a, b;
      s.Saddle->ArcEnds(a, b);
      if (!(Dist2(a, pr.Point) < tolerance::kSamePoint2 || Dist2(b, pr.Point) < tolerance::kSamePoint2)) continue;
      if (pr.A[3] == 0) {
        pr.A[3] = s.Partner;
      } else if (pr.A[3] != s.Partner) {
        ProgramLog().LogLine("Mehr als 4 Atome schneiden sich in einem Punkt in");
        LogAtoms(pr.A, Num(s.Partner) + " Suche nach 4. Punkt");
        return false;
      }
    }
  }
  if (pr.A[3] == 0) {
    ProgramLog().LogLine("4.Atom nicht gefunden zu ");
    ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + " Suche nach 4. Punkt");
    return false;
  }
  return true;
}

std::vector<int> TDegeneracies::OpenAtoms(const TProblem& pr) const {
  std::vector<int> open;
  for (const int a : pr.A) {
    const bool failed = std::any_of(failures_.begin(), failures_.end(), [&](const TFailure& f) {
      return f.Atom == a && Dist2(f.Point, pr.Point) < tolerance::kSamePoint2;
    });
    if (failed && std::find(open.begin(), open.end(), a) == open.end()) open.push_back(a);
  }
  return open;
}

// A zero-length saddle edge at the point between the two open atoms.
void TDegeneracies::Bridge(const TProblem& pr, const std::vector<int>& open) {
  TAtom* lo = protein_.AtomAt(std::min(open[0], open[1]));
  TAtom* hi = protein_.AtomAt(std::max(open[0], open[1]));
  std::vector<TAtom*> rest;
  for (std::size_t k = 1; k < 4; ++k) {
    const TAtomIndex a = pr.A[k];
    if (std::find(open.begin(), open.end(), a) == open.end()) rest.push_back(protein_.AtomAt(a));
  }
  if (rest.size() < 2) {
    const int a = pr.A[0];
    if (std::find(open.begin(), open.end(), a) == open.end()) rest.insert(rest.begin(), protein_.AtomAt(a));
  }
  TProbeCircle circle;
  if (rest.size() < 2 || PairProbeCircle(*lo, *hi, radii_, circle) != TCircleResult::Ok) return;
  const TExtVector l = ToLocal(circle.Frame, ToExt(pr.Point) - circle.Center);
  const Ext s = PolarAngle(l[0] / circle.Radius, l[1] / circle.Radius);
  auto edge = std::make_unique<TConollyObject2>(lo, rest[1], rest[0], 0.0, static_cast<double>(circle.Radius),
                                                TurnFrame(circle.Frame, s), circle.Center, hi);
  edge->Degenerate = true;
  store_.Append(std::move(edge), lo->Number);
}

bool TDegeneracies::Repair(const std::function<void(TAtom&)>& rebuild) {
  if (!MergeProblems()) return false;
  for (std::size_t row = 0; row < problems_.size(); ++row) {
    TProblem pr = problems_[row];
    if (pr.A[3] == 0) {
      if (!FindFourthAtom(pr)) return false;
      problems_[row].A[3] = pr.A[3];
    }
    const std::vector<int> open = OpenAtoms(pr);
    if (open.size() != 2 && open.size() != 4) {
      ProgramLog().LogLine(Num(open.size()) + "offene Zyklen beim Subproblem ");
      LogAtoms(pr.A, " Konstruktion neuer Kanten");
      return false;
    }
    if (open.size() == 2) Bridge(pr, open);
    // The contact patches of the open atoms anew.
    for (const int a : open) {
      TAtom& atom = *protein_.AtomAt(a);
      store_.SetCurrentAtom(a);
      auto& list = store_.ListOf(a);
      std::vector<TConollyObject*> patches;
      for (TConollyObject* e : list)
        if (e->Kind == kContactPatch) patches.push_back(e);
      for (TConollyObject* e : patches) store_.Remove(e, a);
      rebuild(atom);
    }
  }
  LogProblems();
  return true;
}

// The diagnostic listing of the repaired points and the elements of their atoms.
void TDegeneracies::LogProblems() {
  for (std::size_t row = 0; row < problems_.size(); ++row) {
    const TProblem& pr = problems_[row];
    ProgramLog().LogLine(Num(row + 1));
    ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + Num(pr.A[3]));
    for (std::size_t k = 0; k < 3; ++k) {
      const TAtomIndex a = pr.A[k];
      const auto& list = store_.ListOf(a);
      ProgramLog().LogLine("  " + Num(a) + "  " + Num(list.size()) + " Elemente");
      for (std::size_t pos = 0; pos < list.size(); ++pos) {
        const TConollyObject* e = list[pos];
        std::string line = "     " + Num(pos + 1) + "  ";
        auto add = [&line](const TAtom* x) { line += "  " + Num(x ? x->Number : 0); };
        add(e->Atom);
        if (e->Kind == kSaddlePatch) {
          const auto* s = static_cast<const TConollyObject2*>(e);
          add(s->Atom2);
          add(s->StartAtom);
          add(s->EndAtom);
        } else if (e->Kind == kConcavePatch) {
          const auto* c = static_cast<const TConollyObject3*>(e);
          add(c->Atom2);
          add(c->Atom3);
        }
        ProgramLog().LogLine(line);
      }
    }
  }
}

std::vector<int> TDegeneracies::AtomsToMove(bool closed) const {
  // Points the zero-length edges closed stay as they are.
  std::vector<int> atoms = coincidentAtoms_;
  atoms.insert(atoms.end(), tiedAtoms_.begin(), tiedAtoms_.end());
  if (!closed || !openAtoms_.empty()) atoms.insert(atoms.end(), degenerateAtoms_.begin(), degenerateAtoms_.end());
  std::sort(atoms.begin(), atoms.end());
  atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
  return atoms;
}

namespace {

// splitmix64: a fixed, portable stream of bits for the directions of the moves.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// A unit direction drawn from the atom's number and the round.
TDoubleVector Direction(int number, int round) {
  std::uint64_t state = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) << 8) |
                        static_cast<std::uint64_t>(round & 0xff);
  for (;;) {
    TDoubleVector d{};
    for (double& c : d) {
      state = Mix(state);
      c = static_cast<double>(state >> 11) * 0x1.0p-52 - 1.0;  // [-1, 1)
    }
    const double n2 = Norm2(d);
    if (n2 > 0.01 && n2 <= 1.0) {  // uniform over directions, never near zero length
      const double n = std::sqrt(n2);
      for (double& c : d) c /= n;
      return d;
    }
  }
}

}  // namespace

void DisplaceAtoms(TProteinObject& protein, const std::vector<int>& numbers, int round) {
  const double step = kFirstDisplacement * static_cast<double>(1 << round);
  for (const int number : numbers) {
    TAtom* atom = protein.AtomAt(number);
    if (atom == nullptr) continue;
    auto& moved = protein.DisplacedAtoms;
    auto it = std::find_if(moved.begin(), moved.end(), [atom](const auto& d) { return d.Atom == atom; });
    if (it == moved.end()) {
      moved.push_back({atom, static_cast<TCoord&>(*atom)});
      it = std::prev(moved.end());
    }
    const TDoubleVector d = Direction(number, round);
    atom->X = static_cast<float>(it->Original.X + step * d[0]);
    atom->Y = static_cast<float>(it->Original.Y + step * d[1]);
    atom->Z = static_cast<float>(it->Original.Z + step * d[2]);
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "%zu atoms moved by %.3f A for the surface: their expanded spheres met four or more in one point, "
                "or coincided",
                numbers.size(), step);
  protein.Context.Report(text);
}

}  // namespace cavitas::surface_detail

namespace cavitas {

void RestoreDisplacedAtoms(TProteinObject& protein) {
  for (const auto& d : protein.DisplacedAtoms) static_cast<TCoord&>(*d.Atom) = d.Original;
  protein.DisplacedAtoms.clear();
}

}  // namespace cavitas
