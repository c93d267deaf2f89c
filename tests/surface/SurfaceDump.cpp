// Test-only dump of one surface pass: per atom its number, centre, radius and
// the summed contact-patch area divided by R² (the free solid angle of its
// expanded sphere as the 1280 sphere samples measure it). Used by
// tools/freesasa_compare.py.
//   surface_dump <pdb file> [het|nohet] [elements]
// A trailing "# kind" line gives the element count and summed area of each
// kind; "elements" adds every element in list order at full precision, so two
// builds can be compared for bit-identical surfaces.
#include <array>
#include <cstdio>
#include <exception>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"
#include "surface/ConollyObjects.h"

int main(int argc, char** argv) {
  using namespace cavitas;
  if (argc < 2) {
    std::fprintf(stderr, "usage: surface_dump <pdb file> [het|nohet] [elements]\n");
    return 2;
  }
  const bool withHet = argc < 3 || std::string(argv[2]) != "nohet";
  const bool elements = argc >= 4 && std::string(argv[3]) == "elements";
  try {
    ProgramLog().LogFileName = "/dev/null";
    TProteinObject p;
    ReadProtein(p, argv[1], "/dev/null", 0);
    TSurface s;
    TRunStatus status = TRunStatus::Good;
    if (withHet)
      ComputeSurfaceWithHet(p, s, status);
    else
      ComputeSurfaceWithoutHet(p, s, status);
    const int last = withHet ? p.AtomCount : p.ProteinAtomCount;
    std::printf("# status %d atoms %d elements %zu\n", StatusNumber(status), last, s.Elements.size());
    for (int i = 1; i <= last; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const double R = p.Context.Model.Radius(a);
      double area = 0;
      if (static_cast<std::size_t>(i) < s.AtomElements.size())
        for (const TConollyObject* e : s.AtomElements[static_cast<std::size_t>(i)])
          if (e->Kind == kContactPatch) area += e->Area(p.Context.Model);
      std::printf("%d %.4f %.4f %.4f %.4f %.6f\n", i, a.X, a.Y, a.Z, R, area / (R * R));
    }
    std::array<std::size_t, 4> count{};
    std::array<double, 4> total{};
    for (const auto& e : s.Elements) {
      const auto kind = static_cast<std::size_t>(e->Kind);
      ++count[kind];
      total[kind] += e->Area(p.Context.Model);
    }
    for (int k = 1; k <= 3; ++k) std::printf("# kind %d count %zu area %.10g\n", k, count[k], total[k]);
    if (elements) {
      for (const auto& e : s.Elements) {
        std::printf("%d %d", static_cast<int>(e->Kind), e->Atom->Number);
        if (e->Kind == kContactPatch) {
          const auto& c = static_cast<const TConollyObject1&>(*e);
          std::printf(" edges %d inner %a %a %a", c.EdgeCount, c.InnerPoint.X, c.InnerPoint.Y, c.InnerPoint.Z);
          for (const TConollyObject2* x : c.Edges) std::printf(" %d-%d", x->Atom->Number, x->Atom2->Number);
        } else if (e->Kind == kSaddlePatch) {
          const auto& c = static_cast<const TConollyObject2&>(*e);
          std::printf(" %d %d %d %a %a deg %d", c.Atom2->Number, c.StartAtom ? c.StartAtom->Number : 0,
                      c.EndAtom ? c.EndAtom->Number : 0, c.Angle, c.Radius, c.Degenerate ? 1 : 0);
          for (int r = 0; r < 3; ++r) std::printf(" %La", c.Center[r]);
          for (const auto& row : c.Frame)
            for (const long double v : row) std::printf(" %La", v);
        } else {
          const auto& c = static_cast<const TConollyObject3&>(*e);
          std::printf(" %d %d %a %a %a", c.Atom2->Number, c.Atom3->Number, c.ProbeCenter.X, c.ProbeCenter.Y,
                      c.ProbeCenter.Z);
        }
        std::printf(" area %a\n", e->Area(p.Context.Model));
      }
    }
  } catch (const FatalError& e) {
    std::fprintf(stderr, "%s\n", e.Text.c_str());
    return ToInt(e.Code);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
