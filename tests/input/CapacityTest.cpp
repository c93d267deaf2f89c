// The tables of the read grow with the structure: residues, side-chain
// atoms, atoms and chain breaks well beyond the fixed tables they once had
// (11 998 residues, 60 000 side-chain atoms, 108 000 atoms, 1 000 breaks).
#include <gtest/gtest.h>

#include "input/InputTestSupport.h"

namespace cavitas::testing {
namespace {

TEST(Capacity, ReadProtein_TablesGrowBeyondTheOldBounds) {
  TChainBuilder b;
  b.RowLength(40);
  const std::vector<std::string> trp = {" CB ", " CG ", " CD1", " CD2", " NE1", " CE2", " CE3", " CZ2", " CZ3", " CH2"};
  for (int i = 0; i < 6100; ++i) {  // 61 000 side-chain atoms, a break after every fifth residue
    b.Residue("TRP", trp);
    if (i % 5 == 4) b.Ter().Gap(3);
  }
  for (int i = 0; i < 6000; ++i) b.Ala();
  std::string text = HeaderCards() + b.Text();
  for (int k = 0; k < 300; ++k)
    text += HetAtomLine(k, " C1 ", "LIG", 'B', 1, 900 + (k % 10) * 2.0, 900 + (k / 10) * 2.0, 900);
  const TReadResult r = ReadPdbText(text);
  ASSERT_NE(r.Protein->Status, TRunStatus::Failed) << r.Protein->StatusText;
  EXPECT_EQ(r.Protein->ResidueCount, 12100);
  EXPECT_EQ(r.Protein->ProteinAtomCount, 6100 * 14 + 6000 * 5);
  EXPECT_EQ(r.Protein->AtomCount, r.Protein->ProteinAtomCount + 300);
  EXPECT_EQ(r.Protein->SideAtoms.size(), 61000u + 6000u + 1u);
  EXPECT_GE(r.Protein->ChainBreaks.size(), 1219u);
}

}  // namespace
}  // namespace cavitas::testing
