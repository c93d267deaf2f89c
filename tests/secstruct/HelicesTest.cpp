#include <gtest/gtest.h>

#include "SecStructTestSupport.h"
#include "secstruct/Helices.h"
#include "secstruct/SecStruct.h"

namespace cavitas {
namespace {

using testing::BuildLine;
using testing::SetBond;
using testing::Symbols;

std::string Marks(const TProteinObject& p, int n) {
  std::string s;
  for (int i = 1; i <= p.ResidueCount; ++i) {
    const TBACKBONE& r = p.Residue(i);
    s += n == 3 ? r.Turn3 : n == 4 ? r.Turn4 : r.Turn5;
  }
  return s;
}

TEST(FlagTurn, MarksStartInsideEndAndBoth) {
  auto p = BuildLine(16);
  SetBond(*p, 7, 3);   // 4-turn 3..7
  SetBond(*p, 11, 7);  // 4-turn 7..11: residue 7 both ends and starts
  SetBond(*p, 9, 6);   // 3-turn 6..9
  FlagTurn(*p);
  EXPECT_EQ(Marks(*p, 4), "  >444X444<     ");
  EXPECT_EQ(Marks(*p, 3), "     >33<       ");
  EXPECT_EQ(Marks(*p, 5), std::string(16, ' '));
}

TEST(FlagTurn, ChainBreakInsideTurnIgnoresBond) {
  auto p = BuildLine(12);
  SetBond(*p, 8, 4);
  p->ChainBreaks = {6};
  FlagTurn(*p);
  EXPECT_EQ(Marks(*p, 4), std::string(12, ' '));
}

TEST(FlagTurn, ConsecutiveTurnsMakeAlphaHelix) {
  auto p = BuildLine(14);
  for (int a = 3; a <= 6; ++a) SetBond(*p, a + 4, a);
  FlagTurn(*p);
  // Turns start at 3..6: pairs (3,4), (4,5), (5,6) give H at 4..7, 5..8, 6..9;
  // the turn starts themselves are not turn residues.
  EXPECT_EQ(Symbols(*p), "   HHHHHH     ");
}

TEST(FlagTurn, FirstAndLastResiduesNeverTurnOrBend) {
  auto p = BuildLine(8);
  SetBond(*p, 4, 1);  // 3-turn starting at residue 1
  SetBond(*p, 8, 5);  // 3-turn ending at the last residue
  for (int i = 1; i <= 8; ++i) p->Residue(i).BendAngle = 120;
  FlagTurn(*p);
  EXPECT_EQ(Symbols(*p), " TTSSTT ");
  EXPECT_EQ(p->Residue(1).BendMark, 'S');
  EXPECT_EQ(p->Residue(8).BendMark, 'S');
}

TEST(FlagTurn, BendNeedsMoreThanSeventyDegrees) {
  auto p = BuildLine(6);
  const double angles[] = {360, 70, 70.0001, 180, 360, 360};
  for (int i = 1; i <= 6; ++i) p->Residue(i).BendAngle = angles[i - 1];
  FlagTurn(*p);
  EXPECT_EQ(Symbols(*p), "  SS  ");
}

// Turn marks set by hand; the summary letter comes from FlagHelix alone.
struct HelixCase {
  const char* name;
  std::string turn3, turn4, turn5, before, after;
};

TEST(FlagHelix, PrecedenceOfLetters) {
  const HelixCase cases[] = {
      {"3-10 helix", " >>        ", "", "", "           ", "  GGG      "},
      {"3-10 window blocked by a strand", " >>        ", "", "", "   E       ", "  TET      "},
      {"3-10 window blocked by a bridge", " >>        ", "", "", "    B      ", "  TTB      "},
      {"alpha overrides strands", "", " >>        ", "", "  EEB      ", "  HHHH     "},
      {"3-10 over pi: the whole pi window stays unmarked", " >>        ", "", " >>        ", "           ", "  GGGTT    "},
      {"pi window blocked by 3-10", "  >>       ", "", " >>        ", "           ", "  TGGGT    "},
      {"pi helix", "", "", " >>        ", "           ", "  IIIII    "},
      {"turn reaches n-1 on, never the last residue", "", "", "       X   ", "           ", "        TT "},
  };
  for (const HelixCase& c : cases) {
    auto p = BuildLine(11);
    for (int i = 1; i <= 11; ++i) {
      TBACKBONE& r = p->Residue(i);
      auto at = [&](const std::string& s) { return static_cast<std::size_t>(i - 1) < s.size() ? s[static_cast<std::size_t>(i - 1)] : ' '; };
      r.Turn3 = at(c.turn3);
      r.Turn4 = at(c.turn4);
      r.Turn5 = at(c.turn5);
      r.SSSymbol = at(c.before);
    }
    FlagHelix(*p);
    EXPECT_EQ(Symbols(*p), c.after) << c.name;
  }
}

}  // namespace
}  // namespace cavitas
