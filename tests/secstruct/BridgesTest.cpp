#include <gtest/gtest.h>

#include <random>

#include "SecStructTestSupport.h"
#include "secstruct/Bridges.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace cavitas {
namespace {

using testing::BuildLine;
using testing::LogCapture;
using testing::SetBond;

const TBridgeEntry& Ladder(const TReadState& s, int n) { return s.BridgeTable[static_cast<std::size_t>(n)]; }

TEST(FlagBridge, NoBondsChangesNothing) {
  auto p = BuildLine(30);
  TReadState state;
  FlagBridge(*p, state);
  EXPECT_EQ(state.BridgeCount, 0);
  EXPECT_EQ(testing::Symbols(*p), std::string(30, ' '));
  EXPECT_EQ(p->Residue(10).BridgeLabel1, ' ');
}

// Antiparallel bridges (10, 30) and (11, 29): mutual bonds 10 <-> 30 and N-H(12) -> O=C(28).
std::unique_ptr<TProteinObject> AntiparallelPair() {
  auto p = BuildLine(40);
  SetBond(*p, 10, 30);
  SetBond(*p, 30, 10);
  SetBond(*p, 12, 28);
  return p;
}

TEST(FlagBridge, AntiparallelPairFormsOneLadder) {
  auto p = AntiparallelPair();
  TReadState state;
  FlagBridge(*p, state);
  ASSERT_EQ(state.BridgeCount, 1);
  const TBridgeEntry& e = Ladder(state, 1);
  EXPECT_EQ(e.BridgeKind, kBridgeAntiparallel);
  EXPECT_EQ(std::vector<int>({e.IStart, e.IEnd, e.JStart, e.JEnd}), std::vector<int>({10, 11, 29, 30}));
  EXPECT_EQ(e.LadderLetter, 'A');
  EXPECT_EQ(e.SheetLetter, 'A');
  const std::string symbols = testing::Symbols(*p);
  EXPECT_EQ(symbols.substr(8, 5), " EE  ");
  EXPECT_EQ(symbols.substr(27, 4), " EE ");
  EXPECT_EQ(p->Residue(10).BridgePartner1, 30);
  EXPECT_EQ(p->Residue(11).BridgePartner1, 29);
  EXPECT_EQ(p->Residue(29).BridgePartner1, 11);
  EXPECT_EQ(p->Residue(30).BridgeLabel1, 'A');
  EXPECT_EQ(p->Residue(30).SheetLabel, 'A');
  EXPECT_EQ(p->Residue(12).SheetLabel, ' ');
}

TEST(FlagBridge, IndexedSearchMatchesFullScan) {
  // A mixed bond pattern: helix-like i -> i-4 bonds plus strand pairs in both directions.
  auto build = [] {
    auto p = BuildLine(120);
    for (int i = 5; i <= 30; ++i) SetBond(*p, i, i - 4);
    for (int k = 0; k < 6; k += 2) {
      SetBond(*p, 40 + k, 80 - k);
      SetBond(*p, 80 - k, 40 + k);
    }
    for (int k = 0; k < 6; ++k) {
      SetBond(*p, 60 + k, 99 + k);
      SetBond(*p, 101 + k, 60 + k);
    }
    return p;
  };
  auto fast = build(), slow = build();
  TReadState a, b;
  FlagBridge(*fast, a);
  FlagBridgeReference(*slow, b);
  ASSERT_EQ(a.BridgeCount, b.BridgeCount);
  EXPECT_GE(a.BridgeCount, 2);
  for (int n = 1; n <= a.BridgeCount; ++n) EXPECT_EQ(BridgeTableLine(a, n), BridgeTableLine(b, n));
  EXPECT_EQ(testing::Symbols(*fast), testing::Symbols(*slow));
}

TEST(AddBridge, ChainBreakSplitsLadder) {
  auto p = BuildLine(40);
  TReadState state;
  AddBridge(*p, state, 10, 30, kBridgeAntiparallel);
  AddBridge(*p, state, 11, 29, kBridgeAntiparallel);
  EXPECT_EQ(state.BridgeCount, 1);
  p->ChainBreaks = {20};  // not inside either strand step: still extends
  AddBridge(*p, state, 12, 28, kBridgeAntiparallel);
  EXPECT_EQ(state.BridgeCount, 1);
  p->ChainBreaks = {12};
  AddBridge(*p, state, 13, 27, kBridgeAntiparallel);
  EXPECT_EQ(state.BridgeCount, 2);
  p->ChainBreaks = {26};
  AddBridge(*p, state, 14, 26, kBridgeAntiparallel);
  EXPECT_EQ(state.BridgeCount, 3);
  AddBridge(*p, state, 14, 40, kBridgeNone);
  AddBridge(*p, state, 14, 14, kBridgeParallel);
  EXPECT_EQ(state.BridgeCount, 3);
}

TEST(FindBridges, ThirdPartnerIgnored) {
  // Residue 5 has parallel partners 20 and 30 through N-H(6), and 40 through N-H(5).
  auto p = BuildLine(50);
  SetBond(*p, 6, 20);
  SetBond(*p, 6, 30);
  SetBond(*p, 20, 4);
  SetBond(*p, 30, 4);
  SetBond(*p, 5, 39);
  SetBond(*p, 41, 5);
  TReadState state;
  FindBridges(*p, state, 5);
  ASSERT_EQ(state.BridgeCount, 2);
  EXPECT_EQ(Ladder(state, 1).JStart, 20);
  EXPECT_EQ(Ladder(state, 2).JStart, 30);
  EXPECT_EQ(Ladder(state, 1).BridgeKind, kBridgeParallel);
}

TEST(FindBridges, PartnersNeedThreeApartAndNotLast) {
  auto p = BuildLine(20);
  SetBond(*p, 5, 7);
  SetBond(*p, 7, 5);  // j = i+2 is too close
  SetBond(*p, 12, 20);
  SetBond(*p, 20, 12);  // j = N is never searched
  TReadState state;
  FlagBridge(*p, state);
  EXPECT_EQ(state.BridgeCount, 0);
}

// Ladder a: antiparallel (10, 40), (11, 39); ladder b: one bridge after gaps gI, gJ.
struct BulgeCase {
  TBridgeKind kind;
  int gapI, gapJ;
  bool linked;
};

TEST(LinkLadders, BulgeLimits) {
  const BulgeCase cases[] = {
      {kBridgeAntiparallel, 1, 2, true},  {kBridgeAntiparallel, 2, 5, true},  {kBridgeAntiparallel, 3, 5, false},
      {kBridgeAntiparallel, 5, 2, true},  {kBridgeAntiparallel, 6, 1, false}, {kBridgeAntiparallel, 1, 6, false},
      {kBridgeAntiparallel, 3, 3, false}, {kBridgeParallel, 2, 5, true},      {kBridgeParallel, 3, 5, false},
      {kBridgeParallel, 5, 2, true},      {kBridgeParallel, 6, 0, false},     {kBridgeParallel, 1, 6, false},
  };
  for (const BulgeCase& c : cases) {
    auto p = BuildLine(80);
    TReadState state;
    if (c.kind == kBridgeAntiparallel) {
      AddBridge(*p, state, 10, 40, c.kind);
      AddBridge(*p, state, 11, 39, c.kind);
      AddBridge(*p, state, 11 + c.gapI, 39 - c.gapJ, c.kind);
    } else {
      AddBridge(*p, state, 10, 40, c.kind);
      AddBridge(*p, state, 11, 41, c.kind);
      AddBridge(*p, state, 11 + c.gapI, 41 + c.gapJ, c.kind);
    }
    ASSERT_EQ(state.BridgeCount, 2);
    LinkLadders(*p, state);
    EXPECT_EQ(Ladder(state, 1).LinkTo, c.linked ? 2 : 0) << int(c.kind) << " " << c.gapI << " " << c.gapJ;
    EXPECT_EQ(Ladder(state, 2).LinkFrom, c.linked ? 1 : 0);
    EXPECT_EQ(Ladder(state, 2).Group == Ladder(state, 1).Group, c.linked);
    // A chain break between the first strands forbids the link.
    if (c.linked) {
      TReadState broken;
      p->ChainBreaks = {11};
      broken.BridgeTable = state.BridgeTable;
      broken.BridgeCount = 2;
      broken.BridgeTable[1].LinkTo = broken.BridgeTable[2].LinkFrom = 0;
      LinkLadders(*p, broken);
      EXPECT_EQ(Ladder(broken, 1).LinkTo, 0);
    }
  }
}

TEST(LabelSheets, LetterSequencesWrap) {
  // 60 isolated single-bridge ladders, none overlapping or linked: 60 sheets.
  auto p = BuildLine(1500);
  TReadState state;
  for (int n = 1; n <= 60; ++n)
    AddBridge(*p, state, 7 * n, 1000 + 7 * n, n == 28 ? kBridgeParallel : kBridgeAntiparallel);
  ASSERT_EQ(state.BridgeCount, 60);
  LinkLadders(*p, state);
  LabelSheets(state);
  EXPECT_EQ(Ladder(state, 1).LadderLetter, 'A');
  EXPECT_EQ(Ladder(state, 26).LadderLetter, 'Z');
  EXPECT_EQ(Ladder(state, 27).LadderLetter, 'A');
  EXPECT_EQ(Ladder(state, 28).LadderLetter, 'b');
  EXPECT_EQ(Ladder(state, 26).SheetLetter, 'Z');
  EXPECT_EQ(Ladder(state, 27).SheetLetter, '[');
  EXPECT_EQ(Ladder(state, 58).SheetLetter, 'z');
  EXPECT_EQ(Ladder(state, 59).SheetLetter, 'A');
}

TEST(MarkStrands, SingleBridgeIsBAndStrandNeverBecomesB) {
  auto p = BuildLine(60);
  TReadState state;
  AddBridge(*p, state, 10, 40, kBridgeAntiparallel);  // isolated bridge
  AddBridge(*p, state, 20, 50, kBridgeParallel);      // two-residue parallel ladder
  AddBridge(*p, state, 21, 51, kBridgeParallel);
  LinkLadders(*p, state);
  LabelSheets(state);
  p->Residue(40).SSSymbol = 'E';
  MarkStrands(*p, state);
  const std::string s = testing::Symbols(*p);
  EXPECT_EQ(s[9], 'B');
  EXPECT_EQ(s[39], 'E');
  EXPECT_EQ(s.substr(19, 2), "EE");
  EXPECT_EQ(s.substr(49, 2), "EE");
  EXPECT_EQ(p->Residue(21).BridgePartner1, 51);
  EXPECT_EQ(p->Residue(51).BridgePartner1, 21);
  EXPECT_EQ(p->Residue(20).BridgeLabel1, 'b');
  EXPECT_EQ(p->Residue(50).SheetLabel, 'B');
}

TEST(MarkStrands, ThirdColumnIsLeftUnmarkedWithTableAndWarning) {
  // Residue 10 takes part in three ladders: the third finds both columns used
  // and stays unmarked; the others keep their marks and sheet letters.
  auto p = BuildLine(80);
  TReadState state;
  AddBridge(*p, state, 10, 30, kBridgeAntiparallel);
  AddBridge(*p, state, 10, 50, kBridgeParallel);
  AddBridge(*p, state, 30, 50, kBridgeAntiparallel);
  AddBridge(*p, state, 10, 70, kBridgeParallel);
  LinkLadders(*p, state);
  LabelSheets(state);
  LogCapture log(*p);
  MarkStrands(*p, state);
  EXPECT_EQ(p->Status, TRunStatus::StrandColumnOverwritten);
  EXPECT_EQ(p->StatusText, " !!! STRAND COLUMN OVERWRITTEN !!!");
  const std::vector<std::string> expected = {
      "    4A d p    10   10   70   70 1 2 3 4", "    1A A a    10   10   30   30 1 2 3 4",
      "    2A b p    10   10   50   50 1 2 3 4", "    3A C a    30   30   50   50 1 2 3 4",
      "    4A d p    10   10   70   70 1 2 3 4", " !!! STRAND COLUMN OVERWRITTEN !!!"};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_EQ(p->Residue(10).BridgeLabel1, 'A');
  EXPECT_EQ(p->Residue(10).BridgeLabel2, 'b');
  EXPECT_EQ(p->Residue(70).BridgeLabel1, ' ');
  EXPECT_EQ(p->Residue(70).SSSymbol, ' ');
  EXPECT_EQ(p->Residue(10).SheetLabel, 'A');
}

// Ladders beyond the old table of 2550, and sheets found among them as the
// closure of overlapping and bulge-linked ladders, in the order of their
// lowest ladder: checked against a plain closure over all pairs.
TEST(LabelSheets, ManyLaddersGroupLikeThePlainClosure) {
  auto p = BuildLine(10);
  TReadState state;
  std::mt19937 random(20261210);
  for (int k = 1; k <= 3000; ++k) {
    const int i = 1 + static_cast<int>(random() % 60000), len = static_cast<int>(random() % 4);
    const int j = i + 5 + static_cast<int>(random() % 200);
    TBridgeEntry e;
    e.IStart = i;
    e.IEnd = i + len;
    e.JStart = j;
    e.JEnd = j + len;
    e.BridgeKind = k % 3 == 0 ? kBridgeParallel : kBridgeAntiparallel;
    state.BridgeTable.resize(static_cast<std::size_t>(k) + 1);
    state.BridgeTable[static_cast<std::size_t>(k)] = e;
    state.BridgeCount = k;
  }
  for (int k = 1; k + 1 <= 3000; k += 97) {  // a few bulge links
    state.BridgeTable[static_cast<std::size_t>(k)].LinkTo = k + 1;
    state.BridgeTable[static_cast<std::size_t>(k) + 1].LinkFrom = k;
  }
  LabelSheets(state);
  // The plain closure: sheet by sheet from the lowest unassigned ladder.
  const int n = state.BridgeCount;
  std::vector<int> sheet(static_cast<std::size_t>(n) + 1, 0);
  int sheets = 0;
  for (int first = 1; first <= n; ++first) {
    if (sheet[static_cast<std::size_t>(first)]) continue;
    sheet[static_cast<std::size_t>(first)] = ++sheets;
    for (bool changed = true; changed;) {
      changed = false;
      for (int a = 1; a <= n; ++a) {
        if (sheet[static_cast<std::size_t>(a)] != sheets) continue;
        for (int b = 1; b <= n; ++b) {
          if (sheet[static_cast<std::size_t>(b)]) continue;
          const bool bulge = Ladder(state, a).LinkTo == b || Ladder(state, b).LinkTo == a;
          if (!bulge && !LaddersLinked(state, a, b)) continue;
          sheet[static_cast<std::size_t>(b)] = sheets;
          changed = true;
        }
      }
    }
  }
  ASSERT_GT(sheets, 100);
  char letter = '@';
  std::vector<char> letters(static_cast<std::size_t>(sheets) + 1);
  for (int s = 1; s <= sheets; ++s) letters[static_cast<std::size_t>(s)] = letter = letter == 'z' ? 'A' : letter + 1;
  for (int a = 1; a <= n; ++a) {
    EXPECT_EQ(Ladder(state, a).SheetLetter, letters[static_cast<std::size_t>(sheet[static_cast<std::size_t>(a)])]) << a;
    for (int b : {1, a / 2 + 1, n})
      EXPECT_EQ(Ladder(state, a).Group == Ladder(state, b).Group, sheet[static_cast<std::size_t>(a)] == sheet[static_cast<std::size_t>(b)]);
  }
}

}  // namespace
}  // namespace cavitas
