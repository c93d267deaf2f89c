// The read driver on crafted fragments, each read with LF and with CR LF line ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/InputTestSupport.h"

namespace cavitas::testing {
namespace {

// Drops every line containing `needle`.
std::string WithoutLines(const std::string& text, const std::string& needle) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    if (line.find(needle) == std::string::npos) out += line;
    start = end;
  }
  return out;
}

// Every line containing `needle`, with `column` (1-based) set to c.
std::string CopyLines(const std::string& text, const std::string& needle, int column, char c) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    if (line.find(needle) != std::string::npos) {
      line[static_cast<std::size_t>(column - 1)] = c;
      out += line;
    }
    start = end;
  }
  return out;
}

// The first line containing `needle`, with its line end.
std::string LineWith(const std::string& text, const std::string& needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return "";
  const std::size_t start = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  return text.substr(start, text.find('\n', at) + 1 - start);
}

class ReadProteinTest : public ::testing::TestWithParam<bool> {
 protected:
  TReadResult Read(const std::string& lf) { return ReadPdbText(GetParam() ? WithCrLf(lf) : lf); }
};

INSTANTIATE_TEST_SUITE_P(LineEnds, ReadProteinTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) { return param.param ? "CrLf" : "Lf"; });

TEST_P(ReadProteinTest, CleanChain_NumbersAtomsInReadingOrder) {
  TChainBuilder b;
  b.Ala().Gly().Ala();
  const TReadResult r = Read(HeaderCards() + b.Text() + "END   \n");
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::Good) << p.StatusText;
  EXPECT_TRUE(r.Log.empty()) << r.Log.front();
  ASSERT_EQ(p.ResidueCount, 3);
  EXPECT_EQ(p.ProteinAtomCount, 14);
  EXPECT_EQ(p.AtomCount, 14);
  EXPECT_TRUE(p.ChainBreaks.empty());
  // Backbone first in file order, then the side chain; numbers equal table positions.
  for (int n = 1; n <= 14; ++n) {
    ASSERT_NE(p.AtomAt(n), nullptr);
    EXPECT_EQ(p.AtomAt(n)->Number, n);
  }
  const int first[] = {1, 6, 10};
  const int sideStart[] = {0, 1, 1};
  const int sideCount[] = {1, 0, 1};
  for (int i = 1; i <= 3; ++i) {
    const TBACKBONE& res = p.Residue(i);
    EXPECT_EQ(res.Index, i);
    EXPECT_EQ(res.FirstAtom, first[i - 1]);
    EXPECT_EQ(res.SideChainStart, sideStart[i - 1]);
    EXPECT_EQ(res.SideChainCount, sideCount[i - 1]);
    EXPECT_EQ(res.AtomN, p.AtomAt(res.FirstAtom));
    EXPECT_EQ(res.AtomCA, p.AtomAt(res.FirstAtom + 1));
    EXPECT_EQ(res.AtomC, p.AtomAt(res.FirstAtom + 2));
    EXPECT_EQ(res.AtomO, p.AtomAt(res.FirstAtom + 3));
    for (int k = 0; k < 4 + res.SideChainCount; ++k) EXPECT_EQ(p.AtomAt(res.FirstAtom + k)->ResidueIndex, i);
  }
  EXPECT_EQ(p.Residue(2).OneLetter, 'G');
  EXPECT_EQ(p.Residue(2).ResidueName, "GLY ");
  EXPECT_EQ(p.Residue(2).ResidueId, "   2 A");
  // Radius types by backbone kind, atom codes from the table.
  EXPECT_EQ(p.AtomAt(1)->RadiusType, 0);
  EXPECT_EQ(p.AtomAt(2)->RadiusType, 3);
  EXPECT_EQ(p.AtomAt(3)->RadiusType, 1);
  EXPECT_EQ(p.AtomAt(4)->RadiusType, 2);
  EXPECT_EQ(p.AtomAt(1)->AtomCode, 0);   // N of ALA
  EXPECT_EQ(p.AtomAt(2)->AtomCode, 2);   // CA of ALA
  EXPECT_EQ(p.AtomAt(5)->AtomCode, 4);   // CB of ALA
  EXPECT_EQ(p.AtomAt(7)->AtomCode, 50);  // CA of GLY
  ASSERT_EQ(p.SideAtoms.size(), 3u);
  EXPECT_EQ(p.SideAtoms[1], p.AtomAt(5));
  EXPECT_EQ(p.SideAtomNames[2], " CB ");
  EXPECT_FLOAT_EQ(p.AtomAt(1)->Occupancy, 1.0f);
  EXPECT_FLOAT_EQ(p.AtomAt(1)->BFactor, 20.0f);
  // The first residue keeps its H on N; the others 1 Å from N, opposite to the previous C=O (here -z).
  EXPECT_FLOAT_EQ(p.Residue(1).HPos.Z, p.AtomAt(1)->Z);
  const TAtom& n2 = *p.Residue(2).AtomN;
  EXPECT_FLOAT_EQ(p.Residue(2).HPos.X, n2.X);
  EXPECT_FLOAT_EQ(p.Residue(2).HPos.Z, n2.Z - 1.0f);
}

TEST_P(ReadProteinTest, AddAtom_SideChainBeforeBackboneIsNumberedAfterIt) {
  const std::string text = HeaderCards() + AtomLine(1, " CB ", "ALA", 'A', 1, 1.2, 0, 2.3) +
                           AtomLine(2, " N  ", "ALA", 'A', 1, 0, 0, 0) + AtomLine(3, " CA ", "ALA", 'A', 1, 1.2, 0, 0.8) +
                           AtomLine(4, " C  ", "ALA", 'A', 1, 2.5, 0, 0) + AtomLine(5, " O  ", "ALA", 'A', 1, 2.5, 0, 1.2);
  const TReadResult r = Read(text);
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.ResidueCount, 1);
  EXPECT_EQ(p.Residue(1).FirstAtom, 1);
  EXPECT_EQ(p.Residue(1).AtomN->Number, 1);
  EXPECT_FLOAT_EQ(p.AtomAt(5)->Z, 2.3f);  // the CB comes last
  EXPECT_EQ(p.Status, TRunStatus::Good) << p.StatusText;
}

TEST_P(ReadProteinTest, FinishResidue_IncompleteBackboneIsIgnoredAndGivesNumbersBack) {
  TChainBuilder b;
  b.Ala().Ala().Ala();
  const TReadResult r = Read(HeaderCards() + WithoutLines(b.Text(), " O   ALA A   2"));
  const TProteinObject& p = *r.Protein;
  EXPECT_TRUE(LogHas(r, "backbone incomplete for residue  ALA    2 A. It will be ignored!"));
  EXPECT_TRUE(LogHas(r, " !!! POLYPEPTIDE CHAIN INTERRUPTED !!!"));
  EXPECT_EQ(p.Status, TRunStatus::ResidueIgnored);
  EXPECT_EQ(p.StatusText, " !!! BACKBONE INCOMPLETE FOR RESIDUE  ALA    2 A RESIDUE WILL BE IGNORED !!!");
  ASSERT_EQ(p.ResidueCount, 2);
  EXPECT_EQ(p.Residue(2).ResidueId, "   3 A");
  EXPECT_EQ(p.Residue(2).FirstAtom, 6);
  EXPECT_EQ(p.ProteinAtomCount, 10);
  EXPECT_EQ(p.ChainBreaks, std::vector<std::int32_t>{1});
}

TEST_P(ReadProteinTest, FinishResidue_AlternateBackboneIsIgnored) {
  TChainBuilder b;
  b.Ala().Ala();
  const std::string head = b.Text();
  const std::string copy = CopyLines(head, "ALA A   2", 27, 'A');  // same coordinates, insertion code A
  b.Ala();
  const std::string text = HeaderCards() + head + copy + b.Text().substr(head.size());
  const TReadResult r = Read(text);
  const TProteinObject& p = *r.Protein;
  EXPECT_TRUE(LogHas(r, "alternate backbone location for residue  ALA    2AA. It will be ignored!"));
  EXPECT_EQ(p.Status, TRunStatus::ResidueIgnored);
  EXPECT_EQ(p.StatusText, " !!! ALTERNATE BACKBONE LOCATION FOR RESIDUE  ALA    2AA RESIDUE WILL BE IGNORED !!!");
  ASSERT_EQ(p.ResidueCount, 3);
  EXPECT_EQ(p.Residue(3).FirstAtom, 11);
  EXPECT_EQ(p.ProteinAtomCount, 15);
  EXPECT_TRUE(p.ChainBreaks.empty());
}

// Atoms at the place of atoms read before them (within 0.001 Å) would make the
// surfaces degenerate: a side-chain copy is left out, a residue whose backbone
// coincides with anything is ignored, hetero atoms and waters on any earlier
// atom are removed; each residue is reported once, with the line.
TEST_P(ReadProteinTest, CoincidentAtomsAreLeftOutOncePerResidue) {
  TChainBuilder b;
  b.Ala().Residue("SER", {" CB ", " OG "}).Ala();
  std::string text = b.Text();
  // The serine's CB (line 14, after 4 header lines) twice more: lines 15 and 16.
  const std::string cb = LineWith(text, " CB  SER");
  text.insert(text.find(cb) + cb.size(), cb + cb);
  // A fourth residue (lines 23-27) whose CA (line 24) lies on its N.
  TChainBuilder longer;
  longer.Ala().Ala().Ala().Ala();
  std::string last = CopyLines(longer.Text(), "ALA A   4", 1, 'A');
  const std::string n = LineWith(last, " N   ALA"), ca = LineWith(last, " CA  ALA");
  last.replace(last.find(ca), ca.size(), ca.substr(0, 30) + n.substr(30));
  std::string het;
  het += HetAtomLine(40, " O  ", "HOH", 'W', 1, 50, 50, 50);
  het += HetAtomLine(41, " O  ", "HOH", 'W', 2, 50, 50, 50.0004);  // line 29: on water 1
  het += HetAtomLine(42, "ZN  ", " ZN", 'Z', 9, 60, 60, 60);
  het += HetAtomLine(43, " O  ", "HOH", 'W', 3, 60, 60, 60);  // line 31: on the zinc
  const TReadResult r = Read(HeaderCards() + text + last + het + "END   \n");
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.ResidueCount, 3);
  EXPECT_EQ(p.Residue(2).SideChainCount, 2);
  EXPECT_EQ(p.ProteinAtomCount, 16);
  EXPECT_TRUE(LogHas(r, "line 15: 2 atoms of residue  SER    2 A at the place of atoms read before, ignored"));
  EXPECT_TRUE(LogHas(r, "line 24: backbone atoms of residue  ALA    4 A coincide with other atoms. It will be ignored!"));
  EXPECT_EQ(p.Status, TRunStatus::AtomsCoincide) << p.StatusText;
  EXPECT_EQ(p.HetAtoms.size(), 1u);
  ASSERT_EQ(p.Waters.size(), 1u);
  EXPECT_EQ(p.Waters[0]->ResNumber, "   1 ");
  EXPECT_TRUE(LogHas(r, "line 29: 1 atom of hetero residue HOH W   2  at the place of atoms read before, ignored"));
  EXPECT_TRUE(LogHas(r, "line 31: 1 atom of hetero residue HOH W   3  at the place of atoms read before, ignored"));
}

TEST_P(ReadProteinTest, CollapsedStructureFails) {
  // Every residue on one point, or the same chain three times over.
  TChainBuilder b;
  b.Ala().Ala().Ala();
  std::string onePoint;
  for (std::size_t start = 0, end; start < b.Text().size(); start = end + 1) {
    end = b.Text().find('\n', start);
    onePoint += b.Text().substr(start, 30) + "   1.000   2.000   3.000" + b.Text().substr(start + 54, end + 1 - start - 54);
  }
  const TReadResult r = Read(HeaderCards() + onePoint + "END   \n");
  EXPECT_EQ(r.Protein->Status, TRunStatus::Failed);
  EXPECT_EQ(r.Protein->StatusText, " !!! STRUCTURE COLLAPSED: 3 OF 3 RESIDUES COINCIDE WITH OTHERS !!!");
  EXPECT_TRUE(LogHas(r, "structure collapsed: 3 of 3 complete residues lie at the place of other residues or atoms"));

  const TReadResult thrice = Read(HeaderCards() + b.Text() + "TER   \n" + b.Text() + "TER   \n" + b.Text() + "END   \n");
  EXPECT_EQ(thrice.Protein->Status, TRunStatus::Failed);
  EXPECT_EQ(thrice.Protein->StatusText, " !!! STRUCTURE COLLAPSED: 6 OF 9 RESIDUES COINCIDE WITH OTHERS !!!");
  // Twice is a copy, not a collapse: the first is analysed.
  const TReadResult twice = Read(HeaderCards() + b.Text() + "TER   \n" + b.Text() + "END   \n");
  EXPECT_NE(twice.Protein->Status, TRunStatus::Failed) << twice.Protein->StatusText;
  EXPECT_EQ(twice.Protein->ResidueCount, 3);
}

TEST_P(ReadProteinTest, IsolatedAtomsAreReportedWithTheirLineAndKept) {
  TChainBuilder b;
  b.Ala().Ala();
  const std::string het = HetAtomLine(20, "NA  ", " NA", 'Z', 900, 2000, 0, 0) +
                          HetAtomLine(21, "NA  ", " NA", 'Z', 901, 2, 25, 0) +  // 20 Å or more from all
                          HetAtomLine(22, "CL  ", " CL", 'Z', 902, 3, 5, 0);  // far from the atom before it only
  const TReadResult r = Read(HeaderCards() + b.Text() + het + "END   \n");
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.AtomCount, 13);
  EXPECT_TRUE(LogHas(r, "line 15: atom 11 of residue  NA Z 900  has no other atom within 20 A; it is analysed as an "
                        "isolated atom"));
  EXPECT_EQ(std::count_if(r.Log.begin(), r.Log.end(),
                          [](const std::string& l) { return l.find("isolated atom") != std::string::npos; }),
            std::ptrdiff_t{2});
}

TEST_P(ReadProteinTest, ReadRecords_OtherResidueInAtomRecordsIsAHeteroGroup) {
  TChainBuilder b;
  b.Ala().Residue("LIG", {" CB ", " CG "}).Ala().Residue("LIG", {" C1 "});
  const TReadResult r = Read(HeaderCards() + b.Text());
  const TProteinObject& p = *r.Protein;
  const std::vector<std::string> log = {"residue LIG in ATOM records read as a hetero group",
                                        " !!! POLYPEPTIDE CHAIN INTERRUPTED !!!"};
  EXPECT_EQ(r.Log, log);
  EXPECT_EQ(p.Status, TRunStatus::ChainInterrupted);
  EXPECT_EQ(p.ResidueCount, 2);
  EXPECT_EQ(p.HetAtoms.size(), 11u);  // no atom is lost
  EXPECT_EQ(p.AtomCount, p.ProteinAtomCount + 11);
  EXPECT_EQ(p.HetAtoms[0]->ResName, "LIG ");
  EXPECT_EQ(p.ChainBreaks, std::vector<std::int32_t>{1});  // the gap the hetero group leaves in the chain
}

TEST_P(ReadProteinTest, ReadRecords_AlternateLocationBIsReportedAndDropped) {
  std::string text = HeaderCards();
  text += AtomLine(1, " N  ", "SER", 'A', 1, 0, 0, 0) + AtomLine(2, " CA ", "SER", 'A', 1, 1.2, 0, 0.8) +
          AtomLine(3, " C  ", "SER", 'A', 1, 2.5, 0, 0) + AtomLine(4, " O  ", "SER", 'A', 1, 2.5, 0, 1.2) +
          AtomLine(5, " CB ", "SER", 'A', 1, 1.2, 0, 2.3) + AtomLine(6, " OG ", "SER", 'A', 1, 1.2, 0, 3.5, 'A') +
          AtomLine(7, " OG ", "SER", 'A', 1, 1.2, 1, 3.5, 'B');
  const TReadResult r = Read(text);
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(r.Log, (std::vector<std::string>{
                       "In Residue SER     1 A alternate location indicator",
                       "1 atoms at a second or later alternate location left out; the first location is analysed"}));
  EXPECT_EQ(p.DroppedAltLocAtoms, 1);
  EXPECT_EQ(p.Status, TRunStatus::AlternateLocation);
  EXPECT_EQ(p.StatusText, " !!! IN RESIDUE SER    1 A ALTERNATE LOCATION INDICATOR ");
  ASSERT_EQ(p.ResidueCount, 1);
  EXPECT_EQ(p.Residue(1).SideChainCount, 2);
  EXPECT_FLOAT_EQ(p.AtomAt(6)->Y, 0.0f);  // location A
}

TEST_P(ReadProteinTest, CheckSideChainDistances_FarAtomIsDropped) {
  std::string text = HeaderCards();
  text += AtomLine(1, " N  ", "ALA", 'A', 1, 0, 0, 0) + AtomLine(2, " CA ", "ALA", 'A', 1, 1.2, 0, 0.8) +
          AtomLine(3, " C  ", "ALA", 'A', 1, 2.5, 0, 0) + AtomLine(4, " O  ", "ALA", 'A', 1, 2.5, 0, 1.2) +
          AtomLine(5, " CB ", "ALA", 'A', 1, 1.2, 0, 10.81);  // 10.01 Å from CA
  const TReadResult r = Read(text + AtomLine(6, " N  ", "ALA", 'A', 2, 3.8, 0, 0) +
                             AtomLine(7, " CA ", "ALA", 'A', 2, 5.0, 0, 0.8) + AtomLine(8, " C  ", "ALA", 'A', 2, 6.3, 0, 0) +
                             AtomLine(9, " O  ", "ALA", 'A', 2, 6.3, 0, 1.2) +
                             AtomLine(10, " CB ", "ALA", 'A', 2, 5.0, 0, 10.79));  // 9.99 Å: kept
  const TProteinObject& p = *r.Protein;
  const std::vector<std::string> expected = {"illegal sidechain atom named  CB ",
                                             "not enough sidechain atoms in residue  ALA    1 A"};
  EXPECT_EQ(r.Log, expected);
  EXPECT_EQ(p.Status, TRunStatus::SideChainAtomTooFar);
  EXPECT_EQ(p.StatusText, " !!! RESIDUE  ALA    1 A HAS ILLEGAL SIDECHAIN ATOM NAMED  CB ");
  ASSERT_EQ(p.ResidueCount, 2);
  EXPECT_EQ(p.Residue(1).SideChainCount, 0);
  EXPECT_EQ(p.Residue(2).SideChainCount, 1);
  EXPECT_EQ(p.ProteinAtomCount, 9);
}

struct TSideChainCase {
  const char* Name;
  const char* Residue;
  std::vector<std::string> Side;
  TRunStatus Status;
  std::string Log;
  std::string StatusText;
};

TEST_P(ReadProteinTest, CheckSideChainCount_ExpectationsByResidueLetter) {
  const std::vector<TSideChainCase> cases = {
      {"oxt stays and is not counted", "ALA", {" CB ", " OXT"}, TRunStatus::Good, "", " "},
      {"oxt does not make up for a missing atom", "SER", {" CB ", " OXT"}, TRunStatus::TooFewSideChainAtoms,
       "not enough sidechain atoms in residue  SER    1 A", " !!! RESIDUE  SER    1 A HAS NOT ENOUGH SIDECHAIN ATOMS"},
      {"too many", "ALA", {" CB ", " CB ", " OXT"}, TRunStatus::TooManySideChainAtoms, "too many sidechain atoms in residue  ALA    1 A",
       " !!! RESIDUE  ALA    1 A HAS TO MANY SIDECHAIN ATOMS"},
      {"short", "SER", {" CB "}, TRunStatus::TooFewSideChainAtoms, "not enough sidechain atoms in residue  SER    1 A",
       " !!! RESIDUE  SER    1 A HAS NOT ENOUGH SIDECHAIN ATOMS"},
      {"trp", "TRP", {" CB ", " CG ", " CD1", " CD2", " NE1", " CE2", " CE3", " CZ2", " CZ3", " CH2"}, TRunStatus::Good, "", " "},
      {"x has no expectation", "UNK", {" CB ", " CG ", " CD ", " CE ", " NZ ", " OG ", " SD ", " OH "}, TRunStatus::Good, "", " "},
  };
  for (const TSideChainCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TChainBuilder b;
    b.Residue(c.Residue, c.Side);
    const TReadResult r = Read(HeaderCards() + b.Text());
    EXPECT_EQ(r.Protein->Status, c.Status);
    EXPECT_EQ(r.Protein->StatusText, c.StatusText);
    EXPECT_EQ(r.Log, c.Log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Log});
    EXPECT_EQ(r.Protein->Residue(1).SideChainCount, static_cast<int>(c.Side.size()));
  }
}

TEST_P(ReadProteinTest, FinishResidue_TerEndsAChainSegment) {
  TChainBuilder b;
  b.Ala().Ala().Ter().Ala().Ter();
  const TReadResult r = Read(HeaderCards() + b.Text() + "END   \n");
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(r.Log, std::vector<std::string>{" !!! POLYPEPTIDE CHAIN INTERRUPTED !!!"});
  EXPECT_EQ(p.Status, TRunStatus::ChainInterrupted);
  EXPECT_EQ(p.StatusText, " !!! POLYPEPTIDE CHAIN INTERRUPTED !!!");
  // The break after the last residue is removed at the end of the read.
  EXPECT_EQ(p.ChainBreaks, std::vector<std::int32_t>{2});
}

TEST_P(ReadProteinTest, FinishResidue_LongPeptideBondIsABreakButHydrogenIsStillPlaced) {
  TChainBuilder b;
  b.Ala().Gap(1.21).Ala();  // C-N 2.51 Å
  const TReadResult r = Read(HeaderCards() + b.Text());
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::ChainInterrupted);
  EXPECT_EQ(p.ChainBreaks, std::vector<std::int32_t>{1});
  EXPECT_FLOAT_EQ(p.Residue(2).HPos.Z, p.Residue(2).AtomN->Z - 1.0f);

  TChainBuilder near;
  near.Ala().Gap(1.19).Ala();  // C-N 2.49 Å: no break
  const TReadResult r2 = Read(HeaderCards() + near.Text());
  EXPECT_EQ(r2.Protein->Status, TRunStatus::Good) << r2.Protein->StatusText;
  EXPECT_TRUE(r2.Protein->ChainBreaks.empty());
}

// Coincident C and O would reach the surfaces as one point twice: the residue
// is ignored like any residue whose backbone atoms coincide, and the next one
// starts the chain with its hydrogen on N.
TEST_P(ReadProteinTest, FinishResidue_CoincidingCAndOIgnoreTheResidue) {
  std::string text = HeaderCards();
  text += AtomLine(1, " N  ", "ALA", 'A', 1, 0, 0, 0) + AtomLine(2, " CA ", "ALA", 'A', 1, 1.2, 0, 0.8) +
          AtomLine(3, " C  ", "ALA", 'A', 1, 2.5, 0, 0) + AtomLine(4, " O  ", "ALA", 'A', 1, 2.5, 0, 0) +
          AtomLine(5, " CB ", "ALA", 'A', 1, 1.2, 0, 2.3);
  text += AtomLine(6, " N  ", "ALA", 'A', 2, 3.8, 0, 0) + AtomLine(7, " CA ", "ALA", 'A', 2, 5.0, 0, 0.8) +
          AtomLine(8, " C  ", "ALA", 'A', 2, 6.3, 0, 0) + AtomLine(9, " O  ", "ALA", 'A', 2, 6.3, 0, 1.2) +
          AtomLine(10, " CB ", "ALA", 'A', 2, 5.0, 0, 2.3);
  const TReadResult r = Read(text);
  const TProteinObject& p = *r.Protein;
  EXPECT_TRUE(LogHas(r, "line 8: backbone atoms of residue  ALA    1 A coincide with other atoms. It will be ignored!"));
  EXPECT_EQ(p.Status, TRunStatus::ResidueIgnored);
  ASSERT_EQ(p.ResidueCount, 1);
  EXPECT_EQ(p.Residue(1).ResidueId, "   2 A");
  EXPECT_FLOAT_EQ(p.Residue(1).HPos.X, 3.8f);
  EXPECT_FLOAT_EQ(p.Residue(1).HPos.Z, 0.0f);
}

TEST_P(ReadProteinTest, FinishResidue_ProlineKeepsHydrogenOnN) {
  TChainBuilder b;
  b.Ala().Residue("PRO", {" CB ", " CG ", " CD "});
  const TReadResult r = Read(HeaderCards() + b.Text());
  const TBACKBONE& pro = r.Protein->Residue(2);
  EXPECT_EQ(pro.OneLetter, 'P');
  EXPECT_FLOAT_EQ(pro.HPos.Z, pro.AtomN->Z);
  EXPECT_EQ(r.Protein->Status, TRunStatus::Good) << r.Protein->StatusText;
}

TEST_P(ReadProteinTest, ReadRecords_MissingHeaderCardsSetTheirStatusOnly) {
  const std::string headers[] = {"HEADER", "COMPND", "SOURCE", "AUTHOR"};
  const TRunStatus status[] = {TRunStatus::HeaderMissing, TRunStatus::CompoundMissing, TRunStatus::SourceMissing,
                              TRunStatus::AuthorMissing};
  const std::string text[] = {" !!! HEADER-CARD MISSING !!!", " !!! COMPOUND-CARD MISSING !!!",
                              " !!! SOURCE-CARD MISSING !!!", " !!! AUTHOR CARD MISSING !!!"};
  TChainBuilder b;
  b.Ala().Ala();
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(headers[k]);
    const TReadResult r = Read(WithoutLines(HeaderCards(), headers[k]) + b.Text());
    EXPECT_EQ(r.Protein->Status, status[k]);
    EXPECT_EQ(r.Protein->StatusText, text[k]);
    EXPECT_TRUE(r.Log.empty());
    EXPECT_EQ(r.Protein->ResidueCount, 2);
  }
  // Without any header the first check wins.
  const TReadResult none = Read(b.Text());
  EXPECT_EQ(none.Protein->Status, TRunStatus::HeaderMissing);
  EXPECT_EQ(none.Protein->HeaderLines.size(), 0u);
}

TEST_P(ReadProteinTest, ReadRecords_HeaderLinesAreKept) {
  TChainBuilder b;
  b.Ala();
  const TReadResult r = Read(HeaderCards() + "COMPND   2 MORE\n" + b.Text());
  const TProteinObject& p = *r.Protein;
  ASSERT_EQ(p.CompndLines.size(), 2u);
  EXPECT_EQ(p.CompndLines[1]->Text, "COMPND   2 MORE" + std::string(105, ' '));
  ASSERT_EQ(p.HeaderLines.size(), 1u);
  EXPECT_EQ(p.HeaderLines[0]->Text.size(), 120u);
  EXPECT_EQ(p.SourceLines.size(), 1u);
  EXPECT_EQ(p.AuthorLines.size(), 1u);
}

TEST_P(ReadProteinTest, ReadRecords_MoreThan200SSBondsAreKept) {
  TChainBuilder b;
  b.Ala().Ala();
  std::string ssbonds;
  for (int k = 1; k <= 201; ++k) ssbonds += "SSBOND   1 CYS A    6    CYS A  127                          1555   1555  2.03\n";
  const TReadResult r = Read(HeaderCards() + ssbonds + b.Text());
  EXPECT_EQ(r.Protein->Status, TRunStatus::Good) << r.Protein->StatusText;
  for (const std::string& line : r.Log) EXPECT_EQ(line.find("ssbonds"), std::string::npos) << line;
}

TEST_P(ReadProteinTest, ReadRecords_GlycineOnlyChainHasNoSideChains) {
  TChainBuilder b;
  b.Gly().Gly().Gly();
  const TReadResult r = Read(HeaderCards() + b.Text());
  EXPECT_EQ(r.Protein->Status, TRunStatus::Failed);
  EXPECT_EQ(r.Protein->StatusText, " !!! ALL SIDECHAIN COORDINATES MISSING !!!");
  EXPECT_TRUE(LogHas(r, " !!! ALL SIDECHAIN COORDINATES MISSING !!!"));
}

TEST_P(ReadProteinTest, ReadRecords_HydrogensAreDropped) {
  std::string text = HeaderCards();
  text += AtomLine(1, " N  ", "ALA", 'A', 1, 0, 0, 0) + AtomLine(2, " H  ", "ALA", 'A', 1, 0, -1, 0) +
          AtomLine(3, " CA ", "ALA", 'A', 1, 1.2, 0, 0.8) + AtomLine(4, " C  ", "ALA", 'A', 1, 2.5, 0, 0) +
          AtomLine(5, " O  ", "ALA", 'A', 1, 2.5, 0, 1.2) + AtomLine(6, " CB ", "ALA", 'A', 1, 1.2, 0, 2.3) +
          AtomLine(7, "1HB ", "ALA", 'A', 1, 1.2, 1, 2.6) + AtomLine(8, " HB2", "ALA", 'A', 1, 1.2, -1, 2.6) +
          AtomLine(9, " DB3", "ALA", 'A', 1, 1.5, 0, 3.0) + AtomLine(10, " HA ", "ALA", 'A', 1, 1.2, 0.9, 0.9);
  text += HetAtomLine(11, " H1 ", "HOH", ' ', 101, 9, 9, 9) + HetAtomLine(12, " O  ", "HOH", ' ', 101, 9, 9, 8);
  const TReadResult r = Read(text);
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::Good) << p.StatusText;
  EXPECT_EQ(p.ProteinAtomCount, 5);
  EXPECT_EQ(p.Residue(1).SideChainCount, 1);
  EXPECT_EQ(p.Waters.size(), 1u);
}

TEST_P(ReadProteinTest, ReadProtein_WatersStayApartAndHeteroAtomsFollowTheProtein) {
  TChainBuilder b;
  b.Ala().Ala();
  std::string het;
  het += HetAtomLine(20, " O  ", "HOH", 'A', 101, 20, 0, 0);
  het += HetAtomLine(21, " O  ", "WAT", 'A', 102, 20, 3, 0);
  het += HetAtomLine(22, " O  ", "HOH", 'A', 103, 20.0005, 3, 0);  // duplicate of 21 within 1e-3 Å
  het += HetAtomLine(23, "FE  ", "HEM", 'A', 201, 10, 10, 10);
  het += HetAtomLine(24, " C1 ", "HEM", 'A', 201, 11, 10, 10);
  het += HetAtomLine(25, "FE  ", "HEM", 'A', 201, 10, 10, 10);  // same place as 23
  het += HetAtomLine(26, " CA ", "CA ", 'A', 301, 12, 12, 12);
  const TReadResult r = Read(HeaderCards() + b.Text() + het + "END   \n");
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::Good) << p.StatusText;
  EXPECT_EQ(p.Waters.size(), 2u);
  ASSERT_EQ(p.HetAtoms.size(), 3u);
  EXPECT_EQ(p.ProteinAtomCount, 10);
  EXPECT_EQ(p.AtomCount, 13);
  for (int i = 1; i <= 3; ++i) {
    const TAtom* atom = p.AtomAt(10 + i);
    ASSERT_NE(atom, nullptr);
    EXPECT_EQ(atom, p.HetAtoms[static_cast<std::size_t>(i - 1)]->Atom);
    EXPECT_EQ(atom->Number, 10 + i);
    EXPECT_EQ(atom->ResidueIndex, i);
  }
  EXPECT_EQ(p.HetAtoms[0]->ResName, "HEM ");
  EXPECT_EQ(p.HetAtoms[0]->ResNumber, " 201 ");
  EXPECT_EQ(p.HetAtoms[0]->Chain, 'A');
  EXPECT_EQ(p.AtomAt(11)->AtomCode, 264);  // iron
  EXPECT_EQ(p.AtomAt(12)->AtomCode, 231);  // carbon
  EXPECT_EQ(p.AtomAt(13)->AtomCode, 255);  // calcium, not an alpha carbon
  EXPECT_EQ(p.AtomAt(14), nullptr);
  EXPECT_EQ(p.Waters[0]->Atom->AtomCode, 233);  // classified as an element: oxygen
}

TEST_P(ReadProteinTest, ReadPdbRecord_ModelSelectionReadsTheFirstModel) {
  TChainBuilder model1;
  model1.Ala().Ala();
  TChainBuilder model2('B');
  model2.Ala().Ala().Ala();
  const std::string two = HeaderCards() + "MODEL        1\n" + model1.Text() + "ENDMDL\nMODEL        2\n" +
                          model2.Text() + "ENDMDL\nEND   \n";
  const TReadResult r = Read(two);
  EXPECT_TRUE(r.Protein->MultiModel);
  EXPECT_EQ(r.Protein->ResidueCount, 2);
  EXPECT_EQ(r.Protein->Residue(1).ResidueId, "   1 A");
  EXPECT_NE(std::find(r.Log.begin(), r.Log.end(), "2 models in the file; only model 1 is analysed"), r.Log.end());

  // A single MODEL record selects nothing: the atoms after ENDMDL are read too
  // (the two residues of chain B on those of chain A as copies, left out).
  const std::string one = HeaderCards() + "MODEL        1\n" + model1.Text() + "ENDMDL\n" + model2.Text();
  const TReadResult r1 = Read(one);
  EXPECT_FALSE(r1.Protein->MultiModel);
  ASSERT_EQ(r1.Protein->ResidueCount, 3);
  EXPECT_EQ(r1.Protein->Residue(3).ResidueId, "   3 B");
  for (const std::string& line : r1.Log) EXPECT_EQ(line.find("models"), std::string::npos) << line;
}

TEST_P(ReadProteinTest, ReadPdbRecord_ResolutionFromRemark) {
  TChainBuilder b;
  b.Ala();
  const std::string text = HeaderCards() + "REMARK   2\nREMARK   2 RESOLUTION. 1.80 ANGSTROMS.\n" +
                           "REMARK   2 RESOLUTION. NOT APPLICABLE.\n" + b.Text();
  const TReadResult r = Read(text);
  EXPECT_DOUBLE_EQ(r.Protein->Resolution, 1.8);
  EXPECT_EQ(r.Protein->RemarkLines.size(), 0u);  // REMARK records of the input are not kept

  const TReadResult none = Read(HeaderCards() + b.Text());
  EXPECT_DOUBLE_EQ(none.Protein->Resolution, 50.0);
}

// An empty file is no structure file at all, and says so.
TEST_P(ReadProteinTest, ReadProtein_EmptyFileIsNotAStructureFile) {
  EXPECT_THROW(Read(""), IoError);
  // A file of header records alone is a PDB file without residues.
  const TReadResult r = Read("HEADER    EMPTY\n");
  EXPECT_EQ(r.Protein->Status, TRunStatus::Failed);
  EXPECT_EQ(r.Protein->StatusText, " !!! NO RESIDUE WITH COMPLETE BACKBONE !!!");
}

TEST_P(ReadProteinTest, ReadPdbRecord_JunkCoordinateDropsTheAtomWithAReport) {
  std::string text = HeaderCards();
  TChainBuilder b;
  b.Ala().Ala();
  std::string chain = b.Text();
  // The CB of residue 2 gets an x that is not a number.
  const std::size_t at = chain.find(" CB  ALA A   2");
  ASSERT_NE(at, std::string::npos);
  chain.replace(at - 12 + 30, 8, "  1x.5  ");
  const TReadResult r = Read(text + chain);
  const TProteinObject& p = *r.Protein;
  EXPECT_TRUE(LogHas(r, "line 14: ATOM record ignored, coordinate \"  1x.5  \" is not a number"));
  EXPECT_EQ(p.Residue(2).SideChainCount, 0);
  EXPECT_EQ(p.Status, TRunStatus::TooFewSideChainAtoms);  // the residue is now short of its CB
}

TEST(ReadProtein, MissingFileAndDirectoryThrowIoErrorNamingTheFile) {
  TempDir dir;
  const std::string missing = dir.File("absent.pdb");
  try {
    ReadPdbFile(missing);
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos);
  }
  try {
    ReadPdbFile(dir.Path().string());
    FAIL() << "no error";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.Path().string()), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("directory"), std::string::npos);
  }

  const std::string locked = dir.File("locked.pdb");
  WriteFile(locked, "HEADER\n");
  std::filesystem::permissions(locked, std::filesystem::perms::none);
  if (std::FILE* f = std::fopen(locked.c_str(), "rb")) {
    std::fclose(f);  // running with rights that ignore permissions
  } else {
    try {
      ReadPdbFile(locked);
      FAIL() << "no error";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
    }
  }
}

TEST(ReadProtein, BinaryFilesEndWithAStatusNotACrash) {
  std::mt19937 random(2024);
  for (int round = 0; round < 8; ++round) {
    std::string bytes(static_cast<std::size_t>(random() % 50000), '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    // Plant some records so that the driver has something to chew on.
    TChainBuilder b;
    b.Ala().Ala();
    bytes.insert(bytes.size() / 2, b.Text());
    const TReadResult r = ReadPdbText(bytes);
    EXPECT_NE(r.Protein->Status, TRunStatus::Good);
    EXPECT_LE(r.Protein->ProteinAtomCount, 10);
  }
}

}  // namespace
}  // namespace cavitas::testing
