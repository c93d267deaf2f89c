// Points where the expanded spheres of four atoms meet: the free arcs of two
// of the six probe circles through such a point have length zero, so two
// contact-patch cycles stay open there. They are recorded during the per-atom
// loop and repaired afterwards with a zero-length saddle edge.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "surface/ConollyRun.h"

namespace cavitas::surface_detail {

namespace {

std::string Fixed12(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%12.6f", v);
  return b;
}

std::string Num(int n) { return std::to_string(n); }

bool Contains(const std::array<int, 4>& atoms, int count, int x) {
  for (int k = 0; k < count; ++k)
    if (atoms[static_cast<std::size_t>(k)] == x) return true;
  return false;
}

struct TSaddleInfo {
  TConollyObject2* Saddle;
  int Partner, Start, End;
};

}  // namespace

void TConollyRun::NoteAtomsThrough(const TAtom& atom, const TCoord& point) {
  degenerateAtoms_.push_back(atom.Number);
  const double P = Model.ProbeRadius;
  for (const TAtom* n : neighbours_) {
    const double gap = std::sqrt(static_cast<double>(Dist2(*n, point))) -
                       (Model.RadiusTable[static_cast<std::size_t>(n->RadiusType)] + P);
    if (std::fabs(gap) < kThroughPoint) degenerateAtoms_.push_back(n->Number);
  }
}

void TConollyRun::NoteCoincidentNeighbours(const TAtom& atom) {
  // Of two coincident centres with different radii one sphere lies inside the
  // other, which the construction handles exactly; equal radii make one
  // sphere twice.
  const double radius = Model.RadiusTable[static_cast<std::size_t>(atom.RadiusType)];
  for (const TAtom* n : neighbours_)
    if (n->Number > atom.Number && n->X == atom.X && n->Y == atom.Y && n->Z == atom.Z &&
        Model.RadiusTable[static_cast<std::size_t>(n->RadiusType)] == radius)
      coincidentAtoms_.push_back(n->Number);
}

void TConollyRun::RecordProblem(int a1, int a2, int a3, const TCoord& point) {
  // The atom's neighbour list is current: its cycle is being built.
  NoteAtomsThrough(*AtomOf(a1), point);
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
  problemForAtom_ = true;
  ShowError(status_, "conolly", "GetAtConolly", false);
  ProgramLog().LogLine("Es schneiden sich mindestens 4 Atome in einem Punkt");
  ProgramLog().LogLine("beim Protein " + protein_.FileName + " bei Atom Nr " + AtomText(a1) + " und den Atomen " +
                       AtomText(a2) + " und " + Num(a3));
  ProgramLog().LogLine(" im Punkt (" + Fixed12(point.X) + Fixed12(point.Y) + Fixed12(point.Z) + ") .");
}

bool TConollyRun::RepairDegeneratePoints() {
  // 2. Merge records of one point into problems of four atoms.
  for (std::size_t p = 0; p < problems_.size(); ++p) {
    for (std::size_t q = p + 1; q < problems_.size();) {
      TProblem& P = problems_[p];
      const TProblem& Q = problems_[q];
      const int pc = P.A[3] != 0 ? 4 : 3;
      int shared = 0;
      for (int k = 0; k < pc; ++k)
        if (Contains(Q.A, 3, P.A[static_cast<std::size_t>(k)])) ++shared;
      if (shared < 2 || Dist2(P.Point, Q.Point) >= 1e-5) {
        ++q;
        continue;
      }
      if (shared == 2) {
        int other = 0;
        for (int k = 0; k < 3; ++k)
          if (!Contains(P.A, pc, Q.A[static_cast<std::size_t>(k)])) other = Q.A[static_cast<std::size_t>(k)];
        if (P.A[3] != 0) {
          ProgramLog().LogLine("Mehr als 4 Atome schneiden sich in einem Punkt in");
          ProgramLog().LogLine(Num(P.A[0]) + " " + Num(P.A[1]) + " " + Num(P.A[2]) + " " + Num(P.A[3]) + " " +
                               Num(other) + " Merging 4AtomProblems ");
          return false;
        }
        P.A[3] = other;
      }
      problems_.erase(problems_.begin() + static_cast<std::ptrdiff_t>(q));
    }
  }

  auto saddlesOf = [&](int number) {
    std::vector<TSaddleInfo> table;
    for (TConollyObject* e : ListOf(number)) {
      if (e->Kind != kSaddlePatch) continue;
      auto* s = static_cast<TConollyObject2*>(e);
      table.push_back({s, s->Atom->Number == number ? s->Atom2->Number : s->Atom->Number,
                       s->StartAtom ? s->StartAtom->Number : 0, s->EndAtom ? s->EndAtom->Number : 0});
    }
    return table;
  };

  // 3. Complete, bridge and rebuild every problem.
  const std::size_t rows = problems_.size();
  for (std::size_t row = 0; row < rows; ++row) {
    TProblem pr = problems_[row];
    // b. The fourth atom: a saddle of one atom that ends at the point on one of
    //    the other two and leads to an atom outside the three.
    if (pr.A[3] == 0) {
      for (int x = 0; x < 3; ++x) {
        const int X = pr.A[static_cast<std::size_t>(x)];
        const int Y = pr.A[static_cast<std::size_t>((x + 1) % 3)], Z = pr.A[static_cast<std::size_t>((x + 2) % 3)];
        for (const TSaddleInfo& s : saddlesOf(X)) {
          const bool touches = s.Start == Y || s.Start == Z || s.End == Y || s.End == Z;
          if (!touches || s.Partner == Y || s.Partner == Z) continue;
          TCoord a, b;
          s.Saddle->ArcEnds(a, b);
          if (!(Dist2(a, pr.Point) < 1e-5 || Dist2(b, pr.Point) < 1e-5)) continue;
          if (pr.A[3] == 0) {
            pr.A[3] = s.Partner;
          } else if (pr.A[3] != s.Partner) {
            ProgramLog().LogLine("Mehr als 4 Atome schneiden sich in einem Punkt in");
            ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + Num(pr.A[3]) + " " +
                                 Num(s.Partner) + " Suche nach 4. Punkt");
            return false;
          }
        }
      }
      if (pr.A[3] == 0) {
        ProgramLog().LogLine("4.Atom nicht gefunden zu ");
        ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + " Suche nach 4. Punkt");
        return false;
      }
      problems_[row].A[3] = pr.A[3];
    }
    // d. Open atoms: those whose own cycle walk stopped at this point.
    std::vector<int> open;
    for (const int a : pr.A) {
      const bool failed = std::any_of(failures_.begin(), failures_.end(), [&](const TFailure& f) {
        return f.Atom == a && Dist2(f.Point, pr.Point) < 1e-5;
      });
      if (failed && std::find(open.begin(), open.end(), a) == open.end()) open.push_back(a);
    }
    if (open.size() != 2 && open.size() != 4) {
      ProgramLog().LogLine(Num(static_cast<int>(open.size())) + "offene Zyklen beim Subproblem ");
      ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + Num(pr.A[3]) + " " +
                           " Konstruktion neuer Kanten");
      return false;
    }
    // e. A zero-length saddle edge between the two open atoms.
    if (open.size() == 2) {
      TAtom* lo = AtomOf(std::min(open[0], open[1]));
      TAtom* hi = AtomOf(std::max(open[0], open[1]));
      std::vector<TAtom*> rest;
      for (int k = 1; k < 4; ++k) {
        const int a = pr.A[static_cast<std::size_t>(k)];
        if (std::find(open.begin(), open.end(), a) == open.end()) rest.push_back(AtomOf(a));
      }
      if (rest.size() < 2) {
        const int a = pr.A[0];
        if (std::find(open.begin(), open.end(), a) == open.end()) rest.insert(rest.begin(), AtomOf(a));
      }
      TProbeCircle circle;
      if (rest.size() >= 2 && PairProbeCircle(*lo, *hi, circle) == TCircleResult::Ok) {
        const TExtVector l = ToLocal(circle.Frame, Sub(ToExt(pr.Point), circle.Center));
        const Ext s = PolarAngle(l[0] / circle.Radius, l[1] / circle.Radius);
        auto edge = std::make_unique<TConollyObject2>(lo, rest[1], rest[0], 0.0, static_cast<double>(circle.Radius),
                                                      TurnFrame(circle.Frame, s), circle.Center, hi);
        edge->Degenerate = true;
        AppendElement(std::move(edge), lo->Number);
      }
    }
    // g. Rebuild the contact patches of the open atoms.
    for (const int a : open) {
      TAtom& atom = *AtomOf(a);
      currentAtom_ = a;
      CollectNeighbours(atom);
      auto& list = ListOf(a);
      std::vector<TConollyObject*> patches;
      for (TConollyObject* e : list)
        if (e->Kind == kContactPatch) patches.push_back(e);
      for (TConollyObject* e : patches) RemoveElement(e, a);
      BuildContactPatch(atom);
    }
  }

  // 4. Diagnostic listing.
  for (std::size_t row = 0; row < problems_.size(); ++row) {
    const TProblem& pr = problems_[row];
    ProgramLog().LogLine(Num(static_cast<int>(row + 1)));
    ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + Num(pr.A[3]));
    for (int k = 0; k < 3; ++k) {
      const int a = pr.A[static_cast<std::size_t>(k)];
      const auto& list = ListOf(a);
      ProgramLog().LogLine("  " + Num(a) + "  " + Num(static_cast<int>(list.size())) + " Elemente");
      for (std::size_t pos = 0; pos < list.size(); ++pos) {
        const TConollyObject* e = list[pos];
        std::string line = "     " + Num(static_cast<int>(pos + 1)) + "  ";
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
  return true;
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
std::array<double, 3> Direction(int number, int round) {
  std::uint64_t state = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(number)) << 8) |
                        static_cast<std::uint64_t>(round & 0xff);
  for (;;) {
    std::array<double, 3> d{};
    for (double& c : d) {
      state = Mix(state);
      c = static_cast<double>(state >> 11) * 0x1.0p-52 - 1.0;  // [-1, 1)
    }
    const double n2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
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
    const std::array<double, 3> d = Direction(number, round);
    atom->X = static_cast<float>(it->Original.X + step * d[0]);
    atom->Y = static_cast<float>(it->Original.Y + step * d[1]);
    atom->Z = static_cast<float>(it->Original.Z + step * d[2]);
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "%zu atoms moved by %.3f A for the surface: their expanded spheres met four or more in one point, "
                "or coincided",
                numbers.size(), step);
  ReportLine(text);
}

}  // namespace cavitas::surface_detail

namespace cavitas {

void RestoreDisplacedAtoms(TProteinObject& protein) {
  for (const auto& d : protein.DisplacedAtoms) static_cast<TCoord&>(*d.Atom) = d.Original;
  protein.DisplacedAtoms.clear();
}

}  // namespace cavitas
