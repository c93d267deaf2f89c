// Points where the expanded spheres of four atoms meet: the free arcs of two
// of the six probe circles through such a point have length zero, so two
// contact-patch cycles stay open there. They are recorded during the per-atom
// loop and repaired afterwards with a zero-length saddle edge.
#include <algorithm>
#include <cstdio>
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

void TConollyRun::StopDegenerate() { RaiseError(103, "conolly", "GetAtConolly"); }

void TConollyRun::RecordProblem(int a1, int a2, int a3, const TCoord& point) {
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

void TConollyRun::RepairDegeneratePoints() {
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
          StopDegenerate();
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
      if (static_cast<int>(table.size()) >= kMaxSaddlesPerAtom)
        RaiseLimit("more than 100 saddle patches at atom " + std::to_string(number));
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
            StopDegenerate();
          }
        }
      }
      if (pr.A[3] == 0) {
        ProgramLog().LogLine("4.Atom nicht gefunden zu ");
        ProgramLog().LogLine(Num(pr.A[0]) + " " + Num(pr.A[1]) + " " + Num(pr.A[2]) + " " + " Suche nach 4. Punkt");
        StopDegenerate();
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
      StopDegenerate();
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
}

}  // namespace cavitas::surface_detail
