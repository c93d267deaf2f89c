// The fixed capacities of the read: residues, side-chain atoms, atoms and chain
// breaks, each just inside and just beyond its bound. Inputs are generated.
#include <gtest/gtest.h>

#include "input/InputTestSupport.h"
#include "model/Limits.h"

namespace cavitas::testing {
namespace {

const std::string kCapacityText = " !!! NUMBER OF ATOMS OR RESIDUES EXCEEDS STORAGE CAPACITY !!!";

std::string AlaChain(int residues) {
  TChainBuilder b;
  b.RowLength(40);
  for (int i = 0; i < residues; ++i) b.Ala();
  return HeaderCards() + b.Text() + "END   \n";
}

TEST(Capacity, FinishResidue_11998ResiduesAreAccepted) {
  const TReadResult r = ReadPdbText(AlaChain(kMaxResidues));
  EXPECT_NE(r.Protein->Status, 1) << r.Protein->StatusText;
  EXPECT_EQ(r.Protein->ResidueCount, kMaxResidues);
  EXPECT_EQ(r.Protein->ProteinAtomCount, 5 * kMaxResidues);
}

TEST(Capacity, FinishResidue_11999ResiduesExceedTheStorage) {
  const TReadResult r = ReadPdbText(AlaChain(kMaxResidues + 1));
  EXPECT_EQ(r.Protein->Status, 1);
  EXPECT_EQ(r.Protein->StatusText, kCapacityText);
  EXPECT_TRUE(LogHas(r, kCapacityText));
  EXPECT_EQ(r.Protein->ResidueCount, kMaxResidues);
  EXPECT_EQ(r.Protein->ProteinAtomCount, 5 * kMaxResidues);  // the rejected residue gave its atoms back
}

TEST(Capacity, FinishResidue_SideChainsBeyond60000ExceedTheStorage) {
  TChainBuilder b;
  b.RowLength(40);
  const std::vector<std::string> trp = {" CB ", " CG ", " CD1", " CD2", " NE1", " CE2", " CE3", " CZ2", " CZ3", " CH2"};
  for (int i = 0; i <= kMaxSideAtoms / 10; ++i) b.Residue("TRP", trp);
  const TReadResult r = ReadPdbText(HeaderCards() + b.Text());
  EXPECT_EQ(r.Protein->Status, 1);
  EXPECT_EQ(r.Protein->StatusText, kCapacityText);
  EXPECT_EQ(r.Protein->ResidueCount, kMaxSideAtoms / 10);
}

TEST(Capacity, ReadProtein_MoreThan108000AtomsWithHeteroAtoms) {
  TChainBuilder b;
  b.Ala().Ala();
  std::string text = HeaderCards() + b.Text();
  text.reserve(text.size() + 82u * kMaxAtoms);
  for (int k = 0; k < kMaxAtoms; ++k)
    text += HetAtomLine(k, " C1 ", "LIG", 'B', 1, 100 + (k % 100) * 2.0, 100 + (k / 100 % 100) * 2.0, 100 + (k / 10000) * 2.0);
  const TReadResult r = ReadPdbText(text);
  EXPECT_EQ(r.Protein->Status, 1);
  EXPECT_EQ(r.Protein->StatusText, "Too many atoms");
  EXPECT_TRUE(LogHas(r, "Too many atoms"));
  EXPECT_EQ(r.Protein->AtomCount, 10);  // nothing was appended
}

std::string Segments(int count) {
  TChainBuilder b;
  b.RowLength(40);
  for (int i = 0; i < count; ++i) b.Ala().Ter();
  return HeaderCards() + b.Text();
}

TEST(Capacity, RecordBreak_1000EntriesFit) {
  // 999 breaks between the segments and one after the last, which is dropped at the end.
  const TReadResult r = ReadPdbText(Segments(kMaxChainBreaks));
  EXPECT_EQ(r.Protein->Status, 30) << r.Protein->StatusText;
  EXPECT_EQ(r.Protein->ChainBreaks.size(), static_cast<std::size_t>(kMaxChainBreaks - 1));
}

TEST(Capacity, RecordBreak_TheTableOverflows) {
  const TReadResult r = ReadPdbText(Segments(kMaxChainBreaks + 1));
  EXPECT_EQ(r.Protein->Status, 1);
  EXPECT_EQ(r.Protein->StatusText, "Too many breaks");
  EXPECT_TRUE(LogHas(r, "Too many Breaks"));
}

}  // namespace
}  // namespace cavitas::testing
