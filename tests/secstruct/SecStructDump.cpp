// Prints the secondary structure of one PDB file, one residue per line:
//   index|residue id (6)|one-letter|summary|label1 partner1|label2 partner2|sheet
// preceded by "# status <Status> <StatusText>"; with --elements also the element rows.
// Used by tools/dssp_compare.py; not part of the program.
#include <cstdio>
#include <string>

#include "cavity/ContactObject.h"
#include "input/ReadProtein.h"
#include "secstruct/SecStruct.h"

int main(int argc, char** argv) {
  using namespace cavitas;
  if (argc < 2) {
    std::fprintf(stderr, "usage: secstruct_dump file.pdb [--elements] [log]\n");
    return 2;
  }
  const bool elements = argc > 2 && std::string(argv[2]) == "--elements";
  const std::string log = argc > 3 ? argv[3] : "/dev/null";
  TNewContactObject protein;
  ReadProtein(protein, argv[1], log, 0);
  std::printf("# status %d %s\n", StatusNumber(protein.Status), protein.StatusText.c_str());
  for (int i = 1; i <= protein.ResidueCount; ++i) {
    const TBACKBONE& r = protein.Residue(i);
    std::printf("%5d|%s|%c|%c|%c%5d|%c%5d|%c\n", i, r.ResidueId.c_str(), r.OneLetter, r.SSSymbol, r.BridgeLabel1,
                r.BridgePartner1, r.BridgeLabel2, r.BridgePartner2, r.SheetLabel);
  }
  if (elements && protein.Status != TRunStatus::Failed) {
    protein.Context.Log = &protein;
    BuildElementList(protein);
    for (std::int32_t b : protein.ChainBreaks) std::printf("# break %d\n", b);
    for (int k = 1; k <= protein.ElementCount; ++k) {
      const TElementZeile& e = protein.ElementTable[static_cast<std::size_t>(k)];
      std::printf("# element %d %d %d\n", e.First, e.Last, static_cast<int>(e.ElementKind));
    }
  }
  return 0;
}
