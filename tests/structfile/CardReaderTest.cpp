#include "structfile/CardReader.h"

#include <gtest/gtest.h>

#include <vector>

#include "ReadCards.h"
#include "SmallProtein.h"
#include "TestSupport.h"
#include "model/Radii.h"
#include "structfile/StructureCards.h"

namespace cavitas {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> Cards(const TProteinObject& p) {
  std::vector<std::string> lines;
  RenderStructureCards(p, [&](const std::string& l) { lines.push_back(l); });
  return lines;
}

// Feeds card text to a reader record by record, without the residue assembly.
struct Feed {
  explicit Feed(const std::string& text, int format = 3) : text_(text), reader(protein, text_, format) {
    protein.SetLogFile(dir.File("feed.log"));
    protein.ClearLog();
    protein.Context.Log = &protein;
  }
  std::vector<std::uint8_t> All() {
    std::vector<std::uint8_t> kinds;
    TPdbLine line;
    for (int guard = 0; guard < 1000; ++guard) {
      reader.ReadRecord(line);
      kinds.push_back(line.Kind);
      if (line.Kind == kEndRecord || protein.Status == TRunStatus::Failed) break;
    }
    return kinds;
  }
  std::string Log() { return ReadFile(dir.File("feed.log")); }
  TempDir dir;
  TProteinObject protein;
  std::string text_;
  TStructureCardReader reader;
};

TEST(ReadStructureCard, RoundTripOfTheSmallProtein) {
  TProteinObject original;
  testing::FillSmallProtein(original);
  TempDir dir;
  WriteStructureCards(original, dir.File("s.crd"));
  TProteinObject back;
  testing::ReadCardFile(back, dir.File("s.crd"), 3, dir.File("r.log"));
  // SourceMissing: the small protein has no SOURCE line.
  EXPECT_EQ(back.Status, TRunStatus::SourceMissing) << back.StatusText << "\n" << ReadFile(dir.File("r.log"));
  EXPECT_EQ(Cards(back), Cards(original));
  EXPECT_EQ(SumStructureCards(back), SumStructureCards(original));
  EXPECT_EQ(back.CheckSum, SumStructureCards(original));  // the driver keeps the file's CH-SUM value
  // The hetero chain comes from column 28, where the writer puts it.
  ASSERT_EQ(back.HetAtoms.size(), 2u);
  EXPECT_EQ(back.HetAtoms[0]->Chain, 'B');
  EXPECT_EQ(back.AtomAt(2)->NeighbourCount, 2);
  ASSERT_TRUE(back.ElementRow(1).ElementAtoms);
  EXPECT_EQ((*back.ElementRow(1).ElementAtoms)[0].Atom, 1234);
}

TEST(ReadStructureCard, DeclaredAtomsBeyondTheFileAreRefused) {
  // A total of 1.9 billion atoms in the LENGTH card of a small file: every
  // walk over the atoms would visit them all.
  TProteinObject original;
  testing::FillSmallProtein(original);
  TempDir dir;
  WriteStructureCards(original, dir.File("s.crd"));
  std::string text = ReadFile(dir.File("s.crd"));
  const std::size_t total = text.find(" ATOMS TOTAL");
  ASSERT_NE(total, std::string::npos);
  text.replace(total - 7, 7, "1900000");
  WriteFile(dir.File("s.crd"), text);
  TProteinObject back;
  testing::ReadCardFile(back, dir.File("s.crd"), 3, dir.File("r.log"));
  EXPECT_EQ(back.Status, TRunStatus::Failed);
  EXPECT_EQ(back.StatusText, " !!! BAD NUMBER OF ATOMS !!!");
  EXPECT_EQ(back.AtomCount, original.AtomCount);
}

TEST(ReadStructureCard, SummaryCardsReadBack) {
  Feed f(
      "RESOLT    RESOLUTION. 2.0 ANGSTROMS. \n"
      "CUTOFF 3.1\n"
      "NRHOLE       1 (holes partly filled)     2 (holes not filled)     3 (partly filled holes with Hets removed)     4 (filled holes with Hets removed) \n"
      "NRSPHL    2 (number of special hole definitions) \n"
      "SPECHL   hole number   0 FIRST\n"
      "SPECHL   hole number  -1 SECOND rest\n"
      "SPECHL   hole number   1 IGNORED\n"
      "SPECHL   hole number -11 IGNORED\n"
      "REMARK    BREAK AFTER AA 12 57\n"
      "REMARK short\n"
      "END\n");
  f.All();
  EXPECT_DOUBLE_EQ(f.protein.Resolution, 2.0);
  EXPECT_DOUBLE_EQ(f.protein.Context.Model.CutOff, 3.1);
  const THoleDefinitions& h = f.protein.HoleDefinitions;
  EXPECT_EQ(h.HolesPartlyFilled, 1);
  EXPECT_EQ(h.HolesNotFilled, 2);
  EXPECT_EQ(h.PartlyFilledHolesHetRemoved, 3);
  EXPECT_EQ(h.FilledHolesHetRemoved, 4);
  EXPECT_EQ(h.Count, 2);
  EXPECT_EQ(h.Names[0], "FIRST");
  EXPECT_EQ(h.Names[1], "SECOND");
  ASSERT_EQ(f.protein.RemarkLines.size(), 1u);
  EXPECT_EQ(f.protein.RemarkLines[0]->Text.substr(0, 12), "REMARK short");
}

TEST(ReadStructureCard, MalformedSuperElementCardsAreRejected) {
  // Element counts 0, so the item index is the card number.
  Feed f(
      "SEKSTS      1 SHEET        2      2       1 -        2  3\n"  // entry 2 before entry 1
      "SEKSTS    501 SHEET        1      1       1 -        2  3\n"  // item outside 1..500
      "SEKSTS      2 SHEET        1     51       1 -        2  3\n"  // entry outside 1..50
      "SEKSTS      3 SHEET        2      1       4 -        9  1\n"
      "SEKSTS      3 SHEET        2      2      11 -       19  2\n"
      "SEKSTN   9001 COIL          1 -        2\n"                   // element outside 1..8000
      "SEKSTN      4 HELIX      x1 -        2\n"                     // field error in First
      "END\n");
  f.All();
  const TSSSECol& col = f.protein.SuperSSE;
  ASSERT_EQ(col.Items.size(), 3u);
  EXPECT_FALSE(col.Items[0]);
  EXPECT_FALSE(col.Items[1]);
  ASSERT_TRUE(col.Items[2]);
  EXPECT_EQ(col.Items[2]->SSEKind, 2);
  EXPECT_EQ(col.Items[2]->EntryCount, 2);
  EXPECT_EQ(col.Items[2]->Entries[1].StartResidue, 11);
  EXPECT_EQ(col.Items[2]->Entries[1].Code, 2);
  EXPECT_EQ(f.protein.ElementRow(4).ElementKind, TElementKind::Helix);
  EXPECT_EQ(f.protein.ElementRow(4).Last, 2);
  const std::string log = f.Log();
  EXPECT_NE(log.find("before entry 1"), std::string::npos);
  EXPECT_NE(log.find("Fehler beim einlesen! "), std::string::npos);
  EXPECT_EQ(f.protein.Status, TRunStatus::Good);
}

TEST(ReadStructureCard, AtomLineOutsideTheElementTableStopsTheRead) {
  Feed f("ATOM      1  N   GLY A   1       1.000   2.000   3.000  1.00 10.00   0.00   0.00   9001  0\nEND\n");
  f.All();
  EXPECT_EQ(f.protein.Status, TRunStatus::Failed);
  EXPECT_EQ(f.protein.StatusText, kStructureReadError);
}

TEST(ReadStructureCard, ConnectionsLinkBothWays) {
  Feed f("CONNEC    3            1 4 7\nCONNEC    2            9 9000\nEND\n");
  f.All();
  EXPECT_EQ(f.protein.ElementRow(1).ConnectedTo, 4);
  EXPECT_EQ(f.protein.ElementRow(4).ConnectedFrom, 1);
  EXPECT_EQ(f.protein.ElementRow(4).ConnectedTo, 7);
  EXPECT_EQ(f.protein.ElementRow(7).ConnectedFrom, 4);
  EXPECT_TRUE(f.protein.StreamFlag);
}

TEST(ReadStructureCard, ShortConnectionCardIsRejected) {
  Feed f(std::string("CONNEC\xab\xf5\x8a\nCONNEC 2\nEND\n"));
  f.All();
  EXPECT_FALSE(f.protein.StreamFlag);
  EXPECT_NE(f.Log().find("Structure card rejected"), std::string::npos);
}

// The overview statuses: first problem wins, so each case starts fresh.
TEST(ReadOverviewCard, StatusValues) {
  struct Case {
    const char* text;
    TRunStatus status;
    const char* report;
  };
  const Case cases[] = {
      {"LENGTH    10 AA 80 ATOMS 80\nOVERVW    H0001 C0005\nEND\n", TRunStatus::OverviewNoElementCount, "Error in reading overvwcard"},
      {"LENGTH    10 AA 80 ATOMS 80\nNRELEM 2\nOVERVW    H0001 CX005\nEND\n", TRunStatus::OverviewNoNumber, "Error in reading overvwcard - no number"},
      {"LENGTH    10 AA 80 ATOMS 80\nNRELEM 2\nOVERVW    H0005 C0002\nEND\n", TRunStatus::OverviewBadNumber, "Error in reading overvwcard - bad number"},
      {"LENGTH    10 AA 80 ATOMS 80\nNRELEM 2\nOVERVW    H0001 C0011\nEND\n", TRunStatus::OverviewBadNumber, "Error in reading overvwcard - bad number"},
      {"LENGTH    10 AA 80 ATOMS 80\nNRELEM 1\nOVERVW    H0001 C0005\nEND\n", TRunStatus::OverviewTooManyElements, "No NRELEMCARD or to many elements in overview"},
      {"LENGTH    10 AA 80 ATOMS 90\nNRELEM 1\nOVERV2    O0001\nEND\n", TRunStatus::OverviewNoElementCount, "Error in reading overview2card"},
      {"LENGTH    10 AA 80 ATOMS 90\nNRHETE 1\nOVERV2    O0001 W0005\nEND\n", TRunStatus::OverviewTooManyElements, "No NRHETELEMCARD or to many elements in overview2"},
      {"LENGTH    10 AA 80 ATOMS 80\nNRELEM 2\nOVERVW    H0001 C0005\nEND\n", TRunStatus::Good, nullptr},
  };
  for (const Case& c : cases) {
    Feed f(c.text, 2);
    f.All();
    EXPECT_EQ(f.protein.Status, c.status) << c.text;
    if (c.report) {
      EXPECT_NE(f.Log().find(c.report), std::string::npos) << c.text;
    }
  }
}

TEST(ReadOverviewCard, ElementRangesAndAtomLines) {
  Feed f(
      "LENGTH    10 AA 80 ATOMS 80\nNRELEM 2\nOVERVW    H0001 C0005\n"
      "H0001    1  GLY A N      1   1.000   2.000   3.000 1.00 10.0 5.5 6.5 1 17 3.4\n"
      "C0005    5  GLY A N      9   1.000   2.000   3.000 1.00 10.0 5.5 6.5 0\n"
      "E0009    9  GLY A N     20   1.000   2.000   3.000 1.00 10.0 5.5 6.5 0\n"
      "END\n",
      2);
  TPdbLine line;
  f.reader.ReadRecord(line);  // LENGTH
  f.reader.ReadRecord(line);  // NRELEM
  f.reader.ReadRecord(line);  // OVERVW
  EXPECT_EQ(f.protein.ElementRow(1).First, 1);
  EXPECT_EQ(f.protein.ElementRow(1).Last, 4);
  EXPECT_EQ(f.protein.ElementRow(2).Last, 80);  // the last element ends at the atom count
  f.reader.ReadRecord(line);
  ASSERT_EQ(line.Kind, kAtomRecord);
  EXPECT_EQ(line.GivenNumber, 1);
  EXPECT_FLOAT_EQ(line.Volume, 5.5f);
  EXPECT_EQ(line.NeighbourCount, 1);
  EXPECT_EQ(line.ResidueId, "   1 A");
  f.reader.ReadRecord(line);
  EXPECT_EQ(line.Kind, kAtomRecord);
  EXPECT_EQ(line.NeighbourStart, 0);  // a new element restarts the entry counter
  f.reader.ReadRecord(line);          // names no element
  EXPECT_EQ(f.protein.Status, TRunStatus::Failed);
  EXPECT_EQ(f.protein.StatusText, kStructureReadError);
}

TEST(ReadOverviewCard, AtomKeywordFailsTheElementCheck) {
  Feed f("ATOM      1  N   GLY A   1       1.000   2.000   3.000\nEND\n", 1);
  f.All();
  EXPECT_EQ(f.protein.Status, TRunStatus::Failed);
}

}  // namespace
}  // namespace cavitas
