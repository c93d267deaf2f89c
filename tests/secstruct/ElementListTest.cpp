#include <gtest/gtest.h>

#include <tuple>

#include "SecStructTestSupport.h"
#include "secstruct/SecStruct.h"

namespace cavitas {
namespace {

using testing::SetSymbols;
using Element = std::tuple<int, int, int>;  // First, Last, ElementKind

std::vector<Element> Elements(const TProteinObject& p) {
  std::vector<Element> list;
  for (int k = 1; k <= p.ElementCount; ++k) {
    const TElementZeile& e = p.ElementTable[static_cast<std::size_t>(k)];
    list.emplace_back(e.First, e.Last, static_cast<int>(e.ElementKind));
  }
  return list;
}

enum Geometry { kHelical, kExtended };

struct ElementCase {
  const char* name;
  std::string symbols;
  Geometry geometry;
  std::vector<std::int32_t> breaks;
  std::vector<Element> expected;
};

TEST(BuildElementList, CutsLettersIntoElements) {
  const ElementCase cases[] = {
      {"no helix or strand", "          ", kExtended, {}, {{1, 10, 1}}},
      {"strand at the start", "EEE       ", kExtended, {}, {{1, 3, 2}, {4, 10, 1}}},
      {"strand to the end stops before N", "      EEEE", kExtended, {}, {{1, 6, 1}, {7, 9, 2}, {10, 10, 1}}},
      {"single E and B are coil", "  E  B    ", kExtended, {}, {{1, 10, 1}}},
      {"three H are coil", "  HHH     ", kHelical, {}, {{1, 10, 1}}},
      {"four H make a helix", "  HHHH    ", kHelical, {}, {{1, 2, 1}, {3, 6, 0}, {7, 10, 1}}},
      {"helical angles bridge a gap", "HHHH H    ", kHelical, {}, {{1, 6, 0}, {7, 10, 1}}},
      {"extended angles stop the helix", "HHHH H    ", kExtended, {}, {{1, 4, 0}, {5, 10, 1}}},
      {"residue after a helix is no strand start", "HHHHEEE   ", kExtended, {},
       {{1, 4, 0}, {5, 5, 1}, {6, 7, 2}, {8, 10, 1}}},
      {"adjacent strands leave no empty coil", "EEHHHH    ", kHelical, {}, {{1, 2, 2}, {3, 6, 0}, {7, 10, 1}}},
      {"break splits a strand", "EEEEEE", kExtended, {3}, {{1, 3, 2}, {4, 5, 2}, {6, 6, 1}}},
      {"break at the end of an element", "EEEEEE", kExtended, {5}, {{1, 5, 2}, {6, 6, 1}}},
      {"breaks split coils too", "   EE   ", kExtended, {1, 6}, {{1, 1, 1}, {2, 3, 1}, {4, 5, 2}, {6, 6, 1}, {7, 8, 1}}},
  };
  for (const ElementCase& c : cases) {
    const int n = static_cast<int>(c.symbols.size());
    auto p = c.geometry == kHelical ? testing::BuildHelix(n) : testing::BuildExtended(n);
    SetSymbols(*p, c.symbols);
    p->ChainBreaks = c.breaks;
    BuildElementList(*p);
    EXPECT_EQ(p->Status, TRunStatus::Good) << c.name;
    EXPECT_EQ(Elements(*p), c.expected) << c.name;
  }
}

TEST(BuildElementList, SplitCopiesConnections) {
  auto p = testing::BuildExtended(6);
  SetSymbols(*p, "EEEEEE");
  for (int e = 1; e <= 3; ++e) p->ElementRow(e).ConnectedFrom = 7, p->ElementRow(e).ConnectedTo = 8;
  p->ChainBreaks = {2};
  BuildElementList(*p);
  ASSERT_EQ(p->ElementCount, 3);
  EXPECT_EQ(p->ElementTable[2].ConnectedFrom, 7);
  EXPECT_EQ(p->ElementTable[2].ConnectedTo, 8);
  EXPECT_EQ(p->ElementTable[2].First, 3);
}

// `strands` two-residue strands separated by one coil residue, the first at residue 1.
std::unique_ptr<TProteinObject> ManyStrands(int strands) {
  auto p = testing::BuildLine(3 * strands);
  std::string s;
  for (int k = 0; k < strands; ++k) s += "EE ";
  SetSymbols(*p, s);
  return p;
}

// More elements than the old table of 8000 rows, and splits at chain breaks
// among them: the table grows, nothing is lost.
TEST(BuildElementList, TheTableGrowsBeyondItsOldSize) {
  auto p = ManyStrands(4001);
  p->ChainBreaks = {1, 4, 7};  // each inside a strand
  BuildElementList(*p);
  EXPECT_EQ(p->Status, TRunStatus::Good) << p->StatusText;
  EXPECT_EQ(p->ElementCount, 8002 + 3);
  EXPECT_GE(p->ElementTable.size(), static_cast<std::size_t>(p->ElementCount) + 1);
  EXPECT_EQ(p->ElementTable[2].First, 2);
  EXPECT_EQ(p->ElementTable[2].Last, 2);
  EXPECT_EQ(p->ElementTable[3].First, 3);
  for (int e = 2; e <= p->ElementCount; ++e)
    EXPECT_EQ(p->ElementTable[static_cast<std::size_t>(e)].First, p->ElementTable[static_cast<std::size_t>(e - 1)].Last + 1) << e;
}

}  // namespace
}  // namespace cavitas

namespace cavitas {
namespace {

// Hetero atoms after two protein atoms: a two-atom ligand, a one-atom ion of
// another chain, then the ligand's residue again after the ion (a new group).
TEST(BuildHetElements, OneGroupPerRunOfOneResidue) {
  TProteinObject p;
  p.ProteinAtomCount = 2;
  p.ElementCount = 3;
  struct Het {
    const char* res;
    char chain;
    const char* number;
  };
  const Het hets[] = {{"HEM ", 'A', "  201"}, {"HEM ", 'A', "  201"}, {"ZN  ", 'B', "  301"}, {"HEM ", 'A', "  201"}};
  for (int i = 1; i <= 2; ++i) {
    auto a = std::make_unique<TAtom>();
    a->Number = i;
    p.PutAtom(i, std::move(a));
  }
  int number = 2;
  for (const Het& h : hets) {
    auto het = std::make_unique<THetAtom>();
    het->ResName = h.res;
    het->Chain = h.chain;
    het->ResNumber = h.number;
    auto a = std::make_unique<TAtom>();
    a->Number = ++number;
    a->ResidueIndex = static_cast<std::int32_t>(p.HetAtoms.size()) + 1;
    het->Atom = a.get();
    p.PutAtom(number, std::move(a));
    p.HetAtoms.push_back(std::move(het));
  }
  p.AtomCount = number;
  BuildHetElements(p);
  ASSERT_EQ(p.HetElementCount, 3);
  const std::pair<int, int> ranges[] = {{3, 4}, {5, 5}, {6, 6}};
  for (int h = 0; h < 3; ++h) {
    const TElementZeile& e = p.ElementTable[static_cast<std::size_t>(p.ElementCount + h + 1)];
    EXPECT_EQ(e.ElementKind, TElementKind::HetGroup);
    EXPECT_EQ(e.First, ranges[h].first);
    EXPECT_EQ(e.Last, ranges[h].second);
    EXPECT_TRUE(e.ElementAtoms);
  }
}

TEST(BuildHetElements, NoHeteroAtomsNoElements) {
  TProteinObject p;
  p.ProteinAtomCount = p.AtomCount = 0;
  BuildHetElements(p);
  EXPECT_EQ(p.HetElementCount, 0);
}

}  // namespace
}  // namespace cavitas
