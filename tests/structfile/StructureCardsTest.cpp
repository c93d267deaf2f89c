#include "structfile/StructureCards.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "SmallProtein.h"
#include "TestSupport.h"
#include "frame/Error.h"
#include "structfile/CheckSum.h"

namespace cavitas {
namespace {

std::vector<std::string> Cards(const TProteinObject& p) {
  std::vector<std::string> lines;
  RenderStructureCards(p, [&](const std::string& l) { lines.push_back(l); });
  return lines;
}

TEST(SummaryCards, Layouts) {
  TProteinObject p;
  EXPECT_EQ(ResolutionCard(p), "RESOLT    RESOLUTION. 50.0 ANGSTROMS. ");  // default resolution, field grows
  p.Resolution = 2.0;
  EXPECT_EQ(ResolutionCard(p).substr(22, 3), "2.0");
  EXPECT_EQ(MethodCard().size(), 51u);
  p.ResidueCount = 129;
  p.ProteinAtomCount = 1001;
  p.AtomCount = 1102;
  const std::string length = LengthCard(p);
  EXPECT_EQ(length.substr(10, 6), "   129");
  EXPECT_EQ(length.substr(24, 7), "   1001");
  EXPECT_EQ(length.substr(39, 7), "   1102");
  p.ElementCount = 7;
  EXPECT_EQ(ElementCountCard(p), "NRELEM       7 (number of elements) ");
  p.ChainBreaks = {12, 57};
  EXPECT_EQ(BreakCard(p), "REMARK    BREAK AFTER AA 12 57");
  p.HoleDefinitions.Count = 2;
  p.HoleDefinitions.Names[1] = "POCKET";
  EXPECT_EQ(SpecialHoleCard(p, 1), "SPECHL   hole number   0 ");
  EXPECT_EQ(SpecialHoleCard(p, 2), "SPECHL   hole number  -1 POCKET");
  p.HoleDefinitions.HolesPartlyFilled = 1;
  p.HoleDefinitions.FilledHolesHetRemoved = 4;
  const std::string holes = HoleCountCard(p);
  EXPECT_EQ(holes.substr(8, 6), "     1");
  EXPECT_EQ(holes.substr(107, 6), "     4");
}

TEST(ElementCards, ProteinHeteroAndSuperElement) {
  TProteinObject p;
  testing::FillSmallProtein(p);
  EXPECT_EQ(ElementCard(p, p.ElementTable[1], 1), "SEKSTN      1 COIL          1 -        2 GLY    1 A - ALA    2 A");
  EXPECT_EQ(ElementCard(p, p.ElementTable[2], 2), "SEKSTH      2 OTHER         1 -        2 SO4   301B");
  TSSSE sse;
  sse.SSEKind = 2;
  sse.EntryCount = 2;
  sse.Entries[1] = {1, 2, 3};
  const std::string card = SuperElementCard(p, sse, 3, 2);
  EXPECT_EQ(card.substr(8, 5), "    3");
  EXPECT_EQ(card[14], 'S');
  EXPECT_EQ(card.substr(21, 7), "      2");
  EXPECT_EQ(card.substr(28, 7), "      2");
  EXPECT_EQ(card.substr(35, 8), "       1");
  EXPECT_EQ(card.substr(46, 8), "       2");
  EXPECT_EQ(card.substr(55, 2), " 3");
}

TEST(AtomLines, ColumnsAndExtension) {
  TProteinObject p;
  testing::FillSmallProtein(p);
  const TBACKBONE& ala = p.Residue(2);
  const std::string cb = AtomLine(p, *p.AtomAt(9), ala);
  EXPECT_EQ(cb, "ATOM      9  CB  ALA A   2       3.500   3.700   1.200  1.00 12.50");
  // Atom without neighbour entries: the line ends with the element number and "  0".
  const std::string plain = ExtendedAtomLine(p, *p.AtomAt(1), p.Residue(1), p.ElementTable[1].ElementAtoms.get(), "     1");
  EXPECT_EQ(plain.substr(plain.size() - 9), "     1  0");
  const std::string withEntries =
      ExtendedAtomLine(p, *p.AtomAt(2), p.Residue(1), p.ElementTable[1].ElementAtoms.get(), "     1");
  EXPECT_EQ(withEntries.substr(66), "   0.00   0.00      1  2 1234  3.5 7  6.2");
  const std::string het = HetAtomLine(p, *p.HetAtoms[0]);
  EXPECT_EQ(het, "HETATM   10  S   SO4    301B    21.000  21.000  22.000  1.00 12.50");
  EXPECT_EQ(het[21], ' ');
  EXPECT_EQ(het[27], 'B');
}

TEST(SumStructureCards, OrderAndChecksumOfTheRenderedCards) {
  TProteinObject p;
  testing::FillSmallProtein(p);
  const std::vector<std::string> lines = Cards(p);
  // 2 header lines, 9 summary cards, 2 element cards, 9 atom lines, 2 hetero lines, END.
  ASSERT_EQ(lines.size(), 2u + 9u + 2u + 9u + 2u + 1u);
  EXPECT_EQ(lines[2].substr(0, 6), "RESOLT");
  EXPECT_EQ(lines[11].substr(0, 6), "SEKSTN");
  EXPECT_EQ(lines[13].substr(0, 11), "ATOM      1");
  EXPECT_EQ(lines[22].substr(0, 6), "HETATM");
  EXPECT_EQ(lines.back(), "END        ");
  std::int32_t sum = kCheckSumStart;
  for (const auto& l : lines) AddToCheckSum(l, sum);
  EXPECT_EQ(SumStructureCards(p), sum);
}

TEST(SumStructureCards, OutOfRangeIndicesAreSkipped) {
  TProteinObject p;
  testing::FillSmallProtein(p);
  p.ElementTable[1].Last = 20000;  // beyond the residues that exist
  p.ElementTable[2].Last = 200000;  // beyond the atom table
  p.SuperSSE.Count = 3;             // items never created
  EXPECT_EQ(Cards(p).size(), 2u + 9u + 2u + 9u + 2u + 1u);
}

TEST(WriteStructureCards, FileEndsWithTheCheckSumCard) {
  TProteinObject p;
  testing::FillSmallProtein(p);
  testing::TempDir dir;
  EXPECT_EQ(WriteStructureCards(p, dir.File("s.crd")), SumStructureCards(p));
  std::istringstream in(testing::ReadFile(dir.File("s.crd")));
  std::string line, last;
  std::int32_t sum = kCheckSumStart;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) AddToCheckSum(lines[i], sum);
  EXPECT_EQ(lines.back(), CheckSumCard(SumStructureCards(p)));
  EXPECT_EQ(sum, SumStructureCards(p));
  EXPECT_THROW(WriteStructureCards(p, dir.File("no/such/dir/s.crd")), IoError);
}

}  // namespace
}  // namespace cavitas
