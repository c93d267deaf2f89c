#include <gtest/gtest.h>

#include <set>

#include "ModelTestSupport.h"
#include "model/Radii.h"
#include "model/Tables.h"

namespace cavitas {
namespace {

using testing::ReportCapture;

std::string Key(int code) { return std::string(AtomNameEntry(code).Name, 4); }

TEST(AtomNameTable, BlocksStartWithBackboneAndEndWithOxt) {
  std::set<std::string> keys;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (IsNoResidueLetter(letter)) continue;
    const int base = BackboneBase(letter);
    SCOPED_TRACE(letter);
    EXPECT_EQ(Key(base), std::string("N  ") + letter);
    EXPECT_EQ(Key(base + 1), std::string("C  ") + letter);
    EXPECT_EQ(Key(base + 2), std::string("CA ") + letter);
    EXPECT_EQ(Key(base + 3), std::string("O  ") + letter);
    EXPECT_EQ(SideFirst(letter), base + 4);
    EXPECT_EQ(Key(SideLast(letter)), std::string("OXT") + letter);
  }
  for (int code = 0; code < kAtomCodeCount; ++code) keys.insert(Key(code));
  // Unique but for the X group, which lists O both as backbone (189) and as side-chain atom (209).
  EXPECT_EQ(keys.size(), 306u);
  EXPECT_EQ(Key(189), Key(209));
}

TEST(AtomNameTable, CodeRangesPerLetter) {
  struct Range {
    char Letter;
    int Base, Last;
  };
  const Range ranges[] = {{'A', 0, 5},     {'C', 6, 12},    {'D', 13, 23},   {'E', 24, 35},   {'F', 36, 47},
                          {'G', 48, 52},   {'H', 53, 67},   {'I', 68, 76},   {'K', 77, 86},   {'L', 87, 95},
                          {'M', 96, 104},  {'N', 105, 115}, {'P', 116, 123}, {'Q', 124, 135}, {'R', 136, 147},
                          {'S', 148, 154}, {'T', 155, 162}, {'V', 163, 170}, {'W', 171, 185}, {'X', 186, 210},
                          {'Y', 211, 223}, {'Z', 224, 230}};
  for (const Range& r : ranges) {
    EXPECT_EQ(BackboneBase(r.Letter), r.Base) << r.Letter;
    EXPECT_EQ(SideLast(r.Letter), r.Last) << r.Letter;
  }
  EXPECT_EQ(BackboneBase('O'), 231);
  EXPECT_EQ(SideFirst('O'), 231);
  EXPECT_EQ(SideLast('O'), 306);
  for (char c : {'B', 'J', 'U'}) {
    EXPECT_TRUE(IsNoResidueLetter(c));
    EXPECT_GT(SideFirst(c), SideLast(c)) << c;
  }
  EXPECT_TRUE(IsNoResidueLetter('O'));
  EXPECT_FALSE(IsNoResidueLetter('A'));
  EXPECT_EQ(Key(305), "HOHO");
  EXPECT_EQ(Key(306), "OTRO");
  EXPECT_EQ(AtomCodeName(304), "ZN ");
  EXPECT_EQ(AtomCodeName(246), "AG ");
}

TEST(ResidueLetter, KnownAndUnknownNames) {
  const std::pair<const char*, char> cases[] = {{"ALA", 'A'}, {"PR0", 'P'}, {"PRO", 'P'}, {"MSE", '-'},
                                                {"ACE", '-'}, {"FOR", '-'}, {"HOH", '-'}, {"UNK", 'X'},
                                                {"ASX", 'B'}, {"GLX", 'Z'}, {"TRY", 'W'}, {"CYX", 'C'},
                                                {"ILU", 'I'}, {"VAL", 'V'}, {"", '-'}};
  for (const auto& [name, letter] : cases) EXPECT_EQ(ResidueLetter(name), letter) << name;
  EXPECT_EQ(ResidueNameAt(47), "PR0");
  EXPECT_EQ(OneLetterCodeAt(50), '-');
}

struct SideCase {
  char Letter;
  const char* Name;
  int Code;
  int Type;  // STOUTEN
};

TEST(FindSideAtom, MatchesNormalisedNames) {
  const SideCase cases[] = {
      {'X', " OD1", 196, 13},  // only two characters compared in X
      {'X', " CG1", 193, 13},  {'L', " OXT", 95, 6}, {'S', " OG ", 153, 8}, {'A', " CB ", 4, 12},
      {'O', " FE ", 264, 5},   {'W', " CH2", 184, 12},
  };
  ReportCapture capture;
  for (const SideCase& c : cases) {
    std::uint8_t type = 0;
    std::int16_t code = 0;
    FindSideAtom(capture.Run, c.Letter, c.Name, type, code);
    EXPECT_EQ(code, c.Code) << c.Letter << c.Name;
    EXPECT_EQ(type, c.Type) << c.Letter << c.Name;
  }
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(FindSideAtom, UnknownNameReportsAndReturnsOther) {
  ReportCapture capture;
  std::uint8_t type = 0;
  std::int16_t code = 0;
  FindSideAtom(capture.Run, 'A', " CG ", type, code);
  EXPECT_EQ(code, 306);
  EXPECT_EQ(type, 9);
  FindSideAtom(capture.Run, 'B', "1HB ", type, code);  // no leading blank: used as is
  FindSideAtom(capture.Run, 'G', " CA ", type, code);  // backbone names are not side-chain atoms
  EXPECT_EQ(capture.Lines(),
            (std::vector<std::string>{"Atom not found CG   A", "Atom not found 1HB  B", "Atom not found CA   G"}));
}

TEST(BackboneAtomCode, KindsLettersAndReports) {
  ReportCapture capture;
  std::int16_t code = -1;
  BackboneAtomCode(capture.Run, 'G', kBackboneCA, code);
  EXPECT_EQ(code, 50);
  BackboneAtomCode(capture.Run, 'A', kBackboneN, code);
  EXPECT_EQ(code, 0);
  BackboneAtomCode(capture.Run, 'W', kBackboneO, code);
  EXPECT_EQ(code, 174);
  BackboneAtomCode(capture.Run, 'Z', kBackboneC, code);
  EXPECT_EQ(code, 225);
  EXPECT_TRUE(capture.Lines().empty());

  code = 77;
  BackboneAtomCode(capture.Run, 'B', 0, code);
  EXPECT_EQ(code, 77) << "left unchanged";
  BackboneAtomCode(capture.Run, 'a', 0, code);
  EXPECT_EQ(code, 77);
  BackboneAtomCode(capture.Run, 'K', 4, code);
  EXPECT_EQ(code, 306);
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Atom not found B", "Atom not found a",
                                                       "Atom not found - Kein HauptkettenAtom K"}));
}

TEST(ClassifyHetAtom, ElementsFromNames) {
  const std::tuple<const char*, int, int> cases[] = {
      {" FE ", 264, 5}, {"ZN  ", 304, 11}, {" C1 ", 231, 13}, {" CA ", 255, 4}, {"HG  ", 269, 11},
      {"  XX", 244, 11}, {" CL ", 258, 11}, {" O  ", 233, 2},  {" N1 ", 232, 0},  {" S  ", 234, 11},
      {"fe  ", 264, 5},  {"1C  ", 231, 13},  // a leading digit: the second attempt finds carbon
  };
  ReportCapture capture;
  for (const auto& [name, code, type] : cases) {
    std::uint8_t t = 0;
    std::int16_t c = 0;
    ClassifyHetAtom(capture.Run, name, t, c);
    EXPECT_EQ(c, code) << name;
    EXPECT_EQ(t, type) << name;
  }
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(ClassifyHetAtom, UnknownNamesReportTheOriginalName) {
  ReportCapture capture;
  std::uint8_t t = 0;
  std::int16_t c = 0;
  ClassifyHetAtom(capture.Run, "  QQ", t, c);
  EXPECT_EQ(c, 306);
  EXPECT_EQ(t, 9);
  ClassifyHetAtom(capture.Run, "1HB ", t, c);
  EXPECT_EQ(c, 306);
  ClassifyHetAtom(capture.Run, "  qq", t, c);
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"Atom not found - Other -   QQ",
                                                       "Atom not found - Other - 1HB ",
                                                       "Atom not found - Other -   qq"}));
}

TEST(NamePredicates, WaterAndHydrogen) {
  for (const char* n : {"HOH", "H2O", "WAT", "OH2", "DOD"}) EXPECT_TRUE(IsWaterName(n)) << n;
  for (const char* n : {"HO", "hoh", "SO4", "OHH"}) EXPECT_FALSE(IsWaterName(n)) << n;
  for (const char* n : {" H  ", "1HB ", "2HG1", "3HD2", " D  ", " Q  ", " HA "}) EXPECT_TRUE(IsHydrogenName(n)) << n;
  for (const char* n : {" Hg ", " He ", " Ho ", "HG  ", " CA ", "4HB ", "H   ", " N  "})
    EXPECT_FALSE(IsHydrogenName(n)) << n;
}

}  // namespace
}  // namespace cavitas
