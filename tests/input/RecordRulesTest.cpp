// Structures as programs write them: hydrogens in every naming, force-field
// names, segments, selenomethionine, other residues in ATOM records, markers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "input/InputTestSupport.h"
#include "model/InputRecord.h"
#include "input/RecordRules.h"
#include "model/Tables.h"

namespace cavitas::testing {
namespace {

TPdbLine Record(std::uint8_t kind, const std::string& name, const std::string& element,
                const std::string& residue = "ALA ") {
  TPdbLine line;
  line.Kind = kind;
  line.AtomName = name;
  line.Element = element;
  line.ResidueName = residue;
  line.OneLetter = ResidueLetter(residue);
  return line;
}

// Columns 67-78 of a record: the segment identifier and the element symbol.
std::string WithColumns(std::string line, const std::string& segment, const std::string& element) {
  line.pop_back();  // the line end
  line.resize(72, ' ');
  return line + segment + element + "\n";
}

// Every record of text gets the segment columns.
std::string InSegment(const std::string& text, const std::string& segment) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    out += WithColumns(text.substr(start, end - start + 1), segment, "  ");
    start = end + 1;
  }
  return out;
}

// Every record of text moved by dy along y.
std::string ShiftedY(const std::string& text, double dy) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start + 1);
    char field[16];
    std::snprintf(field, sizeof field, "%8.3f", std::stod(line.substr(38, 8)) + dy);
    line.replace(38, 8, field);
    out += line;
    start = end + 1;
  }
  return out;
}

std::size_t CountLines(const TReadResult& r, const std::string& line) {
  return static_cast<std::size_t>(std::count(r.Log.begin(), r.Log.end(), line));
}

TEST(RecordRules, IsHydrogenRecord_ElementFirstThenTheName) {
  struct Case {
    std::uint8_t Kind;
    const char* Name;
    const char* Element;
    bool Hydrogen;
  };
  const Case cases[] = {
      // Element symbol present: it decides, in either alignment and case.
      {kAtomRecord, "HG21", " H", true},
      {kAtomRecord, " CA ", " H", true},
      {kAtomRecord, "HG21", "C ", false},
      {kAtomRecord, " D  ", " D", true},
      {kHetAtmRecord, " H1 ", " h", true},
      {kHetAtmRecord, "HG  ", "HG", false},  // mercury
      {kHetAtmRecord, "HO  ", "HO", false},  // holmium
      {kHetAtmRecord, "HF  ", "Hf", false},  // hafnium
      // No symbol (or none that is a symbol): the names.
      {kAtomRecord, "HG21", "  ", true},
      {kAtomRecord, "HD13", "18", true},
      {kAtomRecord, " HN ", "  ", true},
      {kAtomRecord, "HN  ", "  ", true},
      {kAtomRecord, " HT1", "  ", true},
      {kAtomRecord, "HT3 ", "  ", true},
      {kAtomRecord, " H1 ", "  ", true},
      {kAtomRecord, "1HB ", "  ", true},
      {kAtomRecord, "DG21", "  ", true},
      {kAtomRecord, " QB ", "  ", true},  // NMR pseudo-atom
      {kAtomRecord, " CG ", "  ", false},
      {kAtomRecord, " NH1", "  ", false},
      {kAtomRecord, " OH ", "  ", false},
      {kAtomRecord, " OXT", "  ", false},
      {kHetAtmRecord, "HG  ", "  ", false},  // HETATM keeps the old rule
      {kHetAtmRecord, " HG ", "  ", true},
      {kHetAtmRecord, "1H  ", "  ", true},
      {kHetAtmRecord, "FE  ", "  ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Name) + "|" + c.Element + "|" + std::to_string(c.Kind));
    EXPECT_EQ(IsHydrogenRecord(Record(c.Kind, c.Name, c.Element)), c.Hydrogen);
  }
}

TEST(RecordRules, MapForceFieldNames_ToStandardNames) {
  struct Case {
    const char* Residue;
    const char* Name;
    const char* MappedResidue;
    const char* MappedName;
    std::vector<std::string> Applied;
  };
  const Case cases[] = {
      {"HSD ", " CB ", "HIS ", " CB ", {"HSD -> HIS"}},
      {"HSE ", " ND1", "HIS ", " ND1", {"HSE -> HIS"}},
      {"HIP ", " N  ", "HIS ", " N  ", {"HIP -> HIS"}},
      {"CYX ", " SG ", "CYS ", " SG ", {"CYX -> CYS"}},
      {"ASH ", " OD1", "ASP ", " OD1", {"ASH -> ASP"}},
      {"GLH ", " OE2", "GLU ", " OE2", {"GLH -> GLU"}},
      {"LYN ", " NZ ", "LYS ", " NZ ", {"LYN -> LYS"}},
      {"ILE ", " CD ", "ILE ", " CD1", {"ILE CD -> CD1"}},
      {"LEU ", " CD ", "LEU ", " CD ", {}},  // only isoleucine
      {"GLY ", " OT1", "GLY ", " O  ", {"OT1 -> O"}},
      {"GLY ", " OT2", "GLY ", " OXT", {"OT2 -> OXT"}},
      {"ALA ", " OC2", "ALA ", " OXT", {"OC2 -> OXT"}},
      {"TIP ", " OH2", "HOH ", " O  ", {"TIP -> HOH", "OH2 -> O"}},
      {"SOL ", " OW ", "HOH ", " O  ", {"SOL -> HOH", "OW -> O"}},
      {"WAT ", " O  ", "WAT ", " O  ", {}},  // already a water name
      {"LIG ", " OT1", "LIG ", " OT1", {}},  // not an amino acid
      {"ALA ", " CB ", "ALA ", " CB ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Residue) + c.Name);
    TPdbLine line = Record(kAtomRecord, c.Name, "  ", c.Residue);
    std::vector<std::string> applied;
    MapForceFieldNames(line, applied);
    EXPECT_EQ(line.ResidueName, c.MappedResidue);
    EXPECT_EQ(line.AtomName, c.MappedName);
    EXPECT_EQ(line.OneLetter, ResidueLetter(c.MappedResidue));
    EXPECT_EQ(applied, c.Applied);
  }
}

TEST(RecordRules, ChainsForSegments_OnlyWhenSegmentsDiffer) {
  EXPECT_TRUE(ChainsForSegments({"1HPV"}, "AB").empty());  // one identifier: the entry's code
  const auto chains = ChainsForSegments({"PROA", "PROB", "SOLV"}, "AC");
  EXPECT_EQ(chains.at("PROA"), 'B');
  EXPECT_EQ(chains.at("PROB"), 'D');
  EXPECT_EQ(chains.at("SOLV"), 'E');
  std::vector<std::string> many;
  for (int k = 0; k < 70; ++k) many.push_back("S" + std::to_string(k));
  const auto all = ChainsForSegments(many, "");
  EXPECT_EQ(all.size(), 62u);  // A..Z, a..z, 0..9; the rest keep the blank chain
  EXPECT_EQ(all.at("S61"), '9');
}

TEST(RecordRules, CharmmStyleFileKeepsEveryResidueWithStandardNames) {
  TChainBuilder a(' ');
  a.Residue("HSD", {" CB ", " CG ", " ND1", " CD2", " CE1", " NE2"})
      .Residue("ILE", {" CB ", " CG1", " CG2", " CD "})
      .Residue("HSE", {" CB ", " CG ", " ND1", " CD2", " CE1", " NE2"});
  std::string first = a.Text();
  // CHARMM's amide hydrogens and terminal oxygens.
  first += AtomLine(90, " HN ", "ILE", ' ', 2, 3.0, 0.5, 0.0) + AtomLine(91, " HT1", "HSE", ' ', 3, 7.0, 0.5, 0.0);
  const std::size_t o = first.rfind(" O   HSE");
  first.replace(o, 8, " OT1 HSE");
  first += AtomLine(92, " OT2", "HSE", ' ', 3, 8.0, 0.0, 1.5);
  TChainBuilder b(' ');
  b.Residue("GLY", {}).Residue("LYN", {" CB ", " CG ", " CD ", " CE ", " NZ "});
  // The second segment lies 20 Å away along y.
  const std::string moved = ShiftedY(b.Text(), 20.0);
  const std::string waters = AtomLine(93, " OH2", "TIP", ' ', 1, 30, 30, 30).replace(17, 4, "TIP3") +
                             AtomLine(94, " H1 ", "TIP", ' ', 1, 30.9, 30, 30).replace(17, 4, "TIP3") +
                             AtomLine(95, " OH2", "TIP", ' ', 2, 33, 30, 30).replace(17, 4, "TIP3");
  const TReadResult r = ReadPdbText(HeaderCards() + InSegment(first, "PROA") + InSegment(moved, "PROB") +
                                    InSegment(waters, "SOLV") + "END\n");
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.ResidueCount, 5);
  const char* names[] = {"HIS ", "ILE ", "HIS ", "GLY ", "LYS "};
  const char chains[] = {'A', 'A', 'A', 'B', 'B'};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(p.Residue(k).ResidueName, names[k - 1]) << k;
    EXPECT_EQ(p.Residue(k).ResidueId[5], chains[k - 1]) << k;
  }
  EXPECT_EQ(p.Residue(3).SideChainCount, 7);  // six atoms and OXT
  // ILE CD1 and OXT under their standard codes; no hydrogen anywhere.
  std::vector<std::string> sideNames(p.SideAtomNames.begin(), p.SideAtomNames.end());
  EXPECT_NE(std::find(sideNames.begin(), sideNames.end(), " CD1"), sideNames.end());
  EXPECT_NE(std::find(sideNames.begin(), sideNames.end(), " OXT"), sideNames.end());
  for (int n = 1; n <= p.ProteinAtomCount; ++n) EXPECT_NE(p.AtomAt(n)->AtomCode, kOtherCode) << n;
  EXPECT_EQ(p.ProteinAtomCount, 4 * 5 + 6 + 4 + 7 + 5);
  ASSERT_EQ(p.Waters.size(), 2u);
  EXPECT_EQ(p.Waters[0]->ResName, "HOH ");
  EXPECT_EQ(p.Waters[0]->AtomName, " O  ");
  EXPECT_EQ(p.Waters[0]->Chain, 'C');
  EXPECT_EQ(p.Status, TRunStatus::ChainInterrupted);  // the two segments are two chains
  EXPECT_EQ(CountLines(r, "3 hydrogen atoms ignored"), 1u);
  EXPECT_EQ(CountLines(r, "residue HOH in ATOM records read as water"), 1u);
  EXPECT_EQ(CountLines(r, "names read as the standard ones: segment PROA -> chain A, HSD -> HIS, ILE CD -> CD1, "
                          "HSE -> HIS, OT1 -> O, OT2 -> OXT, segment PROB -> chain B, LYN -> LYS, "
                          "segment SOLV -> chain C, TIP -> HOH, OH2 -> O"),
            1u);
  for (const std::string& line : r.Log) {
    EXPECT_EQ(line.find("Atom not found"), std::string::npos) << line;
    EXPECT_EQ(line.find("sidechain"), std::string::npos) << line;
  }
}

TEST(RecordRules, SelenomethionineIsMethionineWhenItsBackboneIsComplete) {
  for (const bool het : {false, true}) {
    SCOPED_TRACE(het ? "HETATM" : "ATOM");
    TChainBuilder b;
    b.Ala().Residue("MSE", {" CB ", " CG ", "SE  ", " CE "}).Ala().Residue("MSE", {" CB ", " CG ", "SE  ", " CE "});
    std::string text = b.Text();
    if (het)
      for (std::size_t at = text.find("ATOM  "); at != std::string::npos; at = text.find("ATOM  ", at + 6))
        if (text.compare(at + 17, 3, "MSE") == 0) text.replace(at, 6, "HETATM");
    // The second one lacks its O: it stays the hetero group it was written as.
    const std::size_t o = text.rfind(" O   MSE");
    text.erase(o - 12, text.find('\n', o) - (o - 12) + 1);
    const TReadResult r = ReadPdbText(HeaderCards() + text);
    const TProteinObject& p = *r.Protein;
    ASSERT_EQ(p.ResidueCount, 3);
    EXPECT_EQ(p.Residue(2).ResidueName, "MET ");
    EXPECT_EQ(p.Residue(2).OneLetter, 'M');
    EXPECT_TRUE(p.ChainBreaks.empty());  // the chain runs through it
    const TAtom& sd = *p.AtomAt(p.Residue(2).FirstAtom + 6);
    EXPECT_EQ(sd.AtomCode, 102);  // SD of methionine
    ASSERT_EQ(p.HetAtoms.size(), 7u);
    EXPECT_EQ(p.HetAtoms[0]->ResName, "MSE ");
    EXPECT_EQ(p.HetAtoms[5]->AtomName, "SE  ");
    EXPECT_EQ(CountLines(r, "names read as the standard ones: MSE SE -> SD, MSE -> MET"), 1u);
    EXPECT_EQ(CountLines(r, "residue MSE in ATOM records read as a hetero group"), het ? 0u : 1u);
  }
}

TEST(RecordRules, MixedConventionsMarkersAndHeteroHydrogens) {
  TChainBuilder b;
  b.Ala().Residue("SER", {" CB ", " OG "}).Ala();
  std::string text = b.Text();
  // Hydrogens of the second residue: with and without the element symbol, in
  // two alternate locations, and deuterium.
  text += WithColumns(AtomLine(40, " HA ", "SER", 'A', 2, 5, 1, 1, 'A'), "    ", " H") +
          WithColumns(AtomLine(41, " HA ", "SER", 'A', 2, 5, 1, 1.2, 'B'), "    ", " H") +
          AtomLine(42, "HB21", "SER", 'A', 2, 5, 1, 2) + WithColumns(AtomLine(43, " D  ", "SER", 'A', 2, 5, 0, 0), "    ", " D");
  text += WithColumns(HetAtomLine(50, "HG  ", " HG", 'A', 101, 20, 0, 0), "    ", "HG") +
          HetAtomLine(51, "HG  ", " HG", 'A', 102, 25, 0, 0) +
          WithColumns(HetAtomLine(52, " C1 ", "LIG", 'A', 103, 30, 0, 0), "    ", " C") +
          WithColumns(HetAtomLine(53, " H1 ", "LIG", 'A', 103, 31, 0, 0), "    ", " H") +
          HetAtomLine(54, "1H  ", "LIG", 'A', 103, 31, 1, 0) + HetAtomLine(60, " O  ", "DUM", ' ', 1, 40, 0, 0) +
          HetAtomLine(61, " N  ", "DUM", ' ', 2, 42, 0, 0) + HetAtomLine(62, " O  ", "DUM", ' ', 3, 44, 0, 0);
  const TReadResult r = ReadPdbText(HeaderCards() + text);
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::Good);  // hydrogens in alternate locations are no alternate-location problem
  EXPECT_EQ(p.ResidueCount, 3);
  EXPECT_EQ(p.Residue(2).SideChainCount, 2);
  ASSERT_EQ(p.HetAtoms.size(), 3u);
  EXPECT_EQ(p.HetAtoms[0]->Atom->AtomCode, 269);  // mercury, with and without the symbol
  EXPECT_EQ(p.HetAtoms[1]->Atom->AtomCode, 269);
  EXPECT_EQ(p.HetAtoms[2]->AtomName, " C1 ");
  const std::vector<std::string> expected = {"6 hydrogen atoms ignored", "3 membrane marker atoms (DUM) ignored"};
  EXPECT_EQ(r.Log, expected);
}

TEST(RecordRules, HetatmRecordsAreStoredAsWatersOrHeteroAtoms) {
  const std::string text =
      "HETATM    1  O   HOH A 101      10.000  10.000  10.000  1.00 10.00\n"
      "HETATM    2  O   WAT A 102      11.000  10.000  10.000  1.00 10.00\n"
      "HETATM    3  H1  HOH A 101      10.500  10.000  10.000  1.00 10.00\n"
      "HETATM    4 ZN    ZN A 201      12.000  10.000  10.000  0.50 20.00\n"
      "HETATM    5  C1  LIG A 301      13.000  10.000  10.000  1.00 10.00\n"
      "HETATM    6  C2  LIG A 301       bad    10.000  10.000  1.00 10.00\n";
  TChainBuilder b;
  b.Ala();
  const TReadResult r = ReadPdbText(b.Text() + text);
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.Waters.size(), 2u);
  ASSERT_EQ(p.HetAtoms.size(), 2u);
  const THetAtom& zn = *p.HetAtoms[0];
  EXPECT_EQ(zn.AtomName, "ZN  ");
  EXPECT_EQ(zn.ResName, " ZN ");
  EXPECT_EQ(zn.ResNumber, " 201 ");
  EXPECT_EQ(zn.Chain, 'A');
  EXPECT_EQ(zn.Atom->AtomCode, 304);
  EXPECT_FLOAT_EQ(zn.Atom->Occupancy, 0.5f);
  EXPECT_EQ(p.Waters[1]->ResName, "WAT ");
  EXPECT_TRUE(LogHas(r, "line 11: HETATM record ignored, coordinate \"   bad  \" is not a number"));
  EXPECT_TRUE(LogHas(r, "1 hydrogen atoms ignored"));
}

}  // namespace
}  // namespace cavitas::testing
