// Test-only dump of one surface pass: per atom its number, centre, radius and
// the summed contact-patch area divided by R² (the free solid angle of its
// expanded sphere as the 1280 sphere samples measure it). Used by
// tools/freesasa_compare.py.
//   surface_dump <pdb file> [het|nohet]
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
    std::fprintf(stderr, "usage: surface_dump <pdb file> [het|nohet]\n");
    return 2;
  }
  const bool withHet = argc < 3 || std::string(argv[2]) != "nohet";
  try {
    ProgramLog().LogFileName = "/dev/null";
    TProteinObject p;
    ReadProtein(p, argv[1], "/dev/null", 0);
    TSurface s;
    std::int32_t status = 0;
    if (withHet)
      ComputeSurfaceWithHet(p, s, status);
    else
      ComputeSurfaceWithoutHet(p, s, status);
    const int last = withHet ? p.AtomCount : p.ProteinAtomCount;
    std::printf("# status %d atoms %d elements %zu\n", status, last, s.Elements.size());
    for (int i = 1; i <= last; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const double R = Radius(a);
      double area = 0;
      if (static_cast<std::size_t>(i) < s.AtomElements.size())
        for (const TConollyObject* e : s.AtomElements[static_cast<std::size_t>(i)])
          if (e->Kind == kContactPatch) area += e->Area();
      std::printf("%d %.4f %.4f %.4f %.4f %.6f\n", i, a.X, a.Y, a.Z, R, area / (R * R));
    }
  } catch (const FatalError& e) {
    std::fprintf(stderr, "%s\n", e.Text.c_str());
    return e.Code;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
