// Prints the atoms the surface with hetero atoms is built from (after the
// inner-water search), one line each: number, radius, x, y, z. Used by the
// cross-check scripts in tools/.
#include <cstdio>
#include <string>

#include "cavity/ContactObject.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"
#include "secstruct/SecStruct.h"

int main(int argc, char** argv) {
  using namespace cavitas;
  if (argc < 2) {
    std::fprintf(stderr, "usage: atom_radii_dump PDB_FILE [protor]\n");
    return 2;
  }
  TNewContactObject protein;
  if (argc > 2 && std::string(argv[2]) == "protor") protein.Context.Model.SelectRadiusSet(kProtor);
  ReadProtein(protein, argv[1], "/dev/null", 0);
  if (protein.Status == TRunStatus::Failed) return 3;
  BuildElementList(protein);
  protein.FindInnerWater();
  for (int i = 1; i <= protein.AtomCount; ++i) {
    const TAtom* a = protein.AtomAt(i);
    if (a) std::printf("%d %.4f %.3f %.3f %.3f\n", a->Number, protein.Context.Model.Radius(*a), a->X, a->Y, a->Z);
  }
  return 0;
}
