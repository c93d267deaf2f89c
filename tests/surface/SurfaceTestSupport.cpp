#include "surface/SurfaceTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "model/Radii.h"

namespace cavitas::testing {

namespace {

double D2(const TCoord& a, const TCoord& b) {
  const double x = double(a.X) - b.X, y = double(a.Y) - b.Y, z = double(a.Z) - b.Z;
  return x * x + y * y + z * z;
}

bool Touch(const TConollyObject2* a, const TConollyObject2* b, double tol2) {
  TCoord a1, a2, b1, b2;
  a->ArcEnds(a1, a2);
  b->ArcEnds(b1, b2);
  return D2(a1, b1) < tol2 || D2(a1, b2) < tol2 || D2(a2, b1) < tol2 || D2(a2, b2) < tol2;
}

}  // namespace

std::unique_ptr<TProteinObject> MakeProtein(const std::vector<TTestAtom>& atoms, int proteinCount) {
  auto p = std::make_unique<TProteinObject>();
  p->FileName = "test";
  int n = 0;
  for (const TTestAtom& a : atoms) {
    auto atom = std::make_unique<TAtom>();
    atom->X = static_cast<float>(a.X);
    atom->Y = static_cast<float>(a.Y);
    atom->Z = static_cast<float>(a.Z);
    atom->RadiusType = static_cast<std::uint8_t>(a.RadiusType);
    atom->Number = ++n;
    p->PutAtom(n, std::move(atom));
  }
  p->AtomCount = n;
  p->ProteinAtomCount = proteinCount < 0 ? n : proteinCount;
  return p;
}

// Every element in list order with all of its geometry as hex floats.
std::string Serialise(const TElementList& elements) {
  std::string out;
  char b[160];
  auto add = [&](const char* fmt, auto... v) {
    std::snprintf(b, sizeof b, fmt, v...);
    out += b;
  };
  for (const auto& e : elements) {
    add("%d %d", static_cast<int>(e->Kind), e->Atom->Number);
    if (e->Kind == kContactPatch) {
      const auto& c = static_cast<const TConollyObject1&>(*e);
      add(" %a %a %a", c.InnerPoint.X, c.InnerPoint.Y, c.InnerPoint.Z);
      for (const TConollyObject2* x : c.Edges) add(" %d-%d", x->Atom->Number, x->Atom2->Number);
    } else if (e->Kind == kSaddlePatch) {
      const auto& c = static_cast<const TConollyObject2&>(*e);
      add(" %d %d %d %a %a %d", c.Atom2->Number, c.StartAtom ? c.StartAtom->Number : 0,
          c.EndAtom ? c.EndAtom->Number : 0, c.Angle, c.Radius, c.Degenerate ? 1 : 0);
      for (const long double v : c.Center) add(" %La", v);
      for (const auto& row : c.Frame)
        for (const long double v : row) add(" %La", v);
    } else {
      const auto& c = static_cast<const TConollyObject3&>(*e);
      add(" %d %d %a %a %a", c.Atom2->Number, c.Atom3->Number, c.ProbeCenter.X, c.ProbeCenter.Y, c.ProbeCenter.Z);
    }
    out += "\n";
  }
  return out;
}

std::string CheckSurfaceInvariants(const TProteinObject& p, const TSurface& s, int lastAtom, bool concaveAtEveryEnd) {
  std::ostringstream out;
  int failures = 0;
  auto fail = [&](const std::string& text) {
    if (++failures <= 8) out << text << "\n";
  };
  // Every element once in Elements; listed in the lists of every atom it touches.
  std::set<const TConollyObject*> seen;
  for (const auto& e : s.Elements)
    if (!seen.insert(e.get()).second) fail("element listed twice in Elements");
  auto listed = [&](const TConollyObject* e, const TAtom* a) {
    int c = 0;
    for (const TConollyObject* x : s.AtomElements[static_cast<std::size_t>(a->Number)]) c += (x == e);
    return c;
  };
  for (const auto& up : s.Elements) {
    const TConollyObject* e = up.get();
    if (listed(e, e->Atom) != 1) fail("element not listed once under its atom " + std::to_string(e->Atom->Number));
    if (e->Kind == kSaddlePatch) {
      const auto* sd = static_cast<const TConollyObject2*>(e);
      if (!(sd->Atom->Number < sd->Atom2->Number)) fail("saddle not owned by its lower atom");
      if (listed(e, sd->Atom2) != 1) fail("saddle not listed once under Atom2");
      if (concaveAtEveryEnd && sd->StartAtom && sd->EndAtom && !sd->Degenerate) {
        TCoord a, b;
        sd->ArcEnds(a, b);
        for (const auto& [third, point] : {std::pair{sd->StartAtom, a}, std::pair{sd->EndAtom, b}}) {
          std::vector<int> want{sd->Atom->Number, sd->Atom2->Number, third->Number};
          std::sort(want.begin(), want.end());
          bool found = false;
          for (const TConollyObject* x : s.AtomElements[static_cast<std::size_t>(sd->Atom->Number)]) {
            if (x->Kind != kConcavePatch) continue;
            const auto* c = static_cast<const TConollyObject3*>(x);
            if (c->Atom->Number == want[0] && c->Atom2->Number == want[1] && c->Atom3->Number == want[2] &&
                D2(c->ProbeCenter, point) < 1e-5)
              found = true;
          }
          if (!found)
            fail("saddle " + std::to_string(sd->Atom->Number) + "-" + std::to_string(sd->Atom2->Number) +
                 " without concave patch at end atom " + std::to_string(third->Number));
        }
      }
    } else if (e->Kind == kConcavePatch) {
      const auto* c = static_cast<const TConollyObject3*>(e);
      if (!c->IsOwner()) fail("concave patch kept that is not the owner");
      if (listed(e, c->Atom2) != 1 || listed(e, c->Atom3) != 1) fail("concave patch not listed under all atoms");
    } else {
      // Contact patch: boundary cycles close; inner point is free.
      const auto* cp = static_cast<const TConollyObject1*>(e);
      const int n = cp->EdgeCount;
      int cycleStart = 1;
      for (int k = 1; k <= n; ++k) {
        const TConollyObject2* cur = cp->Kante(k);
        const bool fullCircle = cur->StartAtom == nullptr;
        const bool last = (k == n);
        const bool continues = !last && !fullCircle && Touch(cur, cp->Kante(k + 1), 1e-5);
        if (!continues) {
          if (!fullCircle && !Touch(cur, cp->Kante(cycleStart), 1e-5))
            fail("open boundary cycle at atom " + std::to_string(cp->Atom->Number));
          if (fullCircle && k != cycleStart) fail("full circle inside a cycle");
          cycleStart = k + 1;
        }
      }
      const TAtom& a = *cp->Atom;
      const TModelConstants& model = p.Context.Model;
      const double R1 = model.Radius(a) + model.ProbeRadius;
      const double len = std::sqrt(double(cp->InnerPoint.X) * cp->InnerPoint.X +
                                   double(cp->InnerPoint.Y) * cp->InnerPoint.Y + double(cp->InnerPoint.Z) * cp->InnerPoint.Z);
      const TCoord q{static_cast<float>(a.X + R1 * cp->InnerPoint.X / len),
                     static_cast<float>(a.Y + R1 * cp->InnerPoint.Y / len),
                     static_cast<float>(a.Z + R1 * cp->InnerPoint.Z / len)};
      // Every sphere that can reach the expanded sphere lies within the mid
      // neighbour limit, so the neighbour lists hold all candidates.
      for (const auto* lists : {p.NeighboursNear.get(), p.NeighboursMid.get()})
        for (const TNachbarStruktur& nb : (*lists)[static_cast<std::size_t>(a.Number - 1)]) {
          if (nb.Atom > lastAtom) continue;
          const TAtom* b = p.AtomAt(nb.Atom);
          const double Rk = model.Radius(*b) + model.ProbeRadius;
          if (D2(q, *b) <= Rk * Rk)
            fail("inner point of atom " + std::to_string(a.Number) + " inside atom " + std::to_string(nb.Atom));
        }
      if (n > 0 && !cp->IsInside(model, cp->InnerPoint)) fail("inner point not inside its own patch");
    }
  }
  if (failures > 8) out << "... " << failures << " failures\n";
  return out.str();
}

double BruteForceContactArea(const TProteinObject& p, int atom, int lastAtom) {
  const TAtom& a = *p.AtomAt(atom);
  const TModelConstants& model = p.Context.Model;
  const double R = model.Radius(a), R1 = R + model.ProbeRadius;
  std::vector<const TAtom*> near;
  for (int k = 1; k <= lastAtom; ++k) {
    const TAtom* b = p.AtomAt(k);
    if (b == nullptr || b == &a) continue;
    const double Rk = model.Radius(*b) + model.ProbeRadius;
    if (D2(a, *b) < (R1 + Rk) * (R1 + Rk)) near.push_back(b);
  }
  long double sum = 0;
  for (const TSphereSample& s : SphereSamples()) {
    const double x = a.X + R1 * double(s.Direction[0]), y = a.Y + R1 * double(s.Direction[1]),
                 z = a.Z + R1 * double(s.Direction[2]);
    bool free = true;
    for (const TAtom* b : near) {
      const double Rk = model.Radius(*b) + model.ProbeRadius;
      const double dx = x - b->X, dy = y - b->Y, dz = z - b->Z;
      if (dx * dx + dy * dy + dz * dz < Rk * Rk) {
        free = false;
        break;
      }
    }
    if (free) sum += s.Weight;
  }
  return static_cast<double>(R * R * sum);
}

}  // namespace cavitas::testing
