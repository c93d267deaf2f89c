#include "structfile/Stream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "SmallProtein.h"
#include "TestSupport.h"
#include "structfile/CardReader.h"
#include "structfile/StructureCards.h"

namespace cavitas {
namespace {

std::string Bytes(const std::function<void(TStreamWriter&)>& write) {
  std::ostringstream out;
  {
    TStreamWriter w(out);
    write(w);
  }
  return out.str();
}

std::string Save(const TProteinObject& p) {
  std::ostringstream out;
  SaveToStream(p, out);
  return out.str();
}

std::vector<std::string> Cards(const TProteinObject& p) {
  std::vector<std::string> lines;
  RenderStructureCards(p, [&](const std::string& l) { lines.push_back(l); });
  return lines;
}

// Loads into a fresh object with its log in `dir`.
void Load(TProteinObject& p, const std::string& bytes, const testing::TempDir& dir) {
  p.SetLogFile(dir.File("load.log"));
  p.ClearLog();
  std::istringstream in(bytes);
  LoadFromStream(p, in);
}

TEST(StreamEncoding, IntegersTakeTheSmallestWidth) {
  struct Case {
    std::int64_t v;
    std::string bytes;
  };
  const Case cases[] = {
      {127, std::string("\x02\x7f", 2)},
      {-128, std::string("\x02\x80", 2)},
      {128, std::string("\x03\x80\x00", 3)},
      {-32768, std::string("\x03\x00\x80", 3)},
      {40000, std::string("\x04\x40\x9c\x00\x00", 5)},
      {std::int64_t{1} << 40, std::string("\x13\x00\x00\x00\x00\x00\x01\x00\x00", 9)},
  };
  for (const Case& c : cases) {
    const std::string b = Bytes([&](TStreamWriter& w) { w.Integer(c.v); });
    EXPECT_EQ(b, c.bytes) << c.v;
    std::istringstream in(b);
    TStreamReader r(in);
    EXPECT_EQ(r.Integer(), c.v);
  }
}

TEST(StreamEncoding, ScaledRealsRoundHalfToEven) {
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Scaled(2.5); }), std::string("\x03\xc4\x09", 3));  // 2500, tag 3
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Scaled(-0.0004); }), std::string("\x02\x00", 2));
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Scaled(0.0005L); }), std::string("\x02\x00", 2));   // 0.5 -> 0
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Scaled(0.0015L); }), std::string("\x02\x02", 2));   // 1.5 -> 2
  std::istringstream in(std::string("\x03\xc4\x09", 3));
  TStreamReader r(in);
  EXPECT_DOUBLE_EQ(r.Scaled(), 2.5);
}

TEST(StreamEncoding, NeighbourEntries) {
  EXPECT_EQ(EncodeNeighbour(TNachbarStruktur(1234, 3.47)), 123445);
  EXPECT_EQ(EncodeNeighbour(TNachbarStruktur(7, 6.2)), 772);
  const TNachbarStruktur a = DecodeNeighbour(123445);
  EXPECT_EQ(a.Atom, 1234);
  EXPECT_FLOAT_EQ(a.Distance, 3.5f);
  const TNachbarStruktur b = DecodeNeighbour(772);
  EXPECT_EQ(b.Atom, 7);
  EXPECT_FLOAT_EQ(b.Distance, 6.2f);
}

TEST(StreamEncoding, StringForms) {
  const std::string shortText = Bytes([](TStreamWriter& w) { w.String("abc"); });
  EXPECT_EQ(shortText, std::string("\x06\x03" "abc", 5));
  const std::string remark(300, 'R');
  const std::string longText = Bytes([&](TStreamWriter& w) { w.String(remark); });
  EXPECT_EQ(longText.substr(0, 5), std::string("\x0c\x2c\x01\x00\x00", 5));
  EXPECT_EQ(longText.size(), 5u + 300u);
  const std::string umlaut = Bytes([](TStreamWriter& w) { w.String("M\xc3\xbcller"); });
  EXPECT_EQ(static_cast<unsigned char>(umlaut[0]), kTagUtf8String);
  for (const std::string& b : {shortText, longText, umlaut}) {
    std::istringstream in(b);
    TStreamReader r(in);
    EXPECT_NO_THROW(r.String());
  }
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Char('E'); }), std::string("\x06\x01" "E", 3));
  EXPECT_EQ(Bytes([](TStreamWriter& w) { w.Boolean(false); }), std::string("\x08", 1));
}

TEST(SaveToStream, NoConnectionsIsOneFalseBeforeTheBreaks) {
  TProteinObject p;
  EXPECT_EQ(Save(p).substr(Save(p).size() - 3), std::string("\x08\x02\x00", 3));  // false, then 0 breaks
  p.ElementCount = 2;
  p.ElementRow(1).ConnectedTo = 2;
  p.ElementRow(2).ConnectedFrom = 1;
  // true, n = 2, elements 1 and 2, false, 0 breaks
  EXPECT_EQ(Save(p).substr(Save(p).size() - 10), std::string("\x09\x02\x02\x02\x01\x02\x02\x08\x02\x00", 10));
}

TEST(LoadFromStream, SmallProteinRoundTrip) {
  TProteinObject original;
  testing::FillSmallProtein(original);
  original.SuperSSE.Count = 1;
  auto sse = std::make_unique<TSSSE>();
  sse->SSEKind = 2;
  sse->EntryCount = 1;
  sse->Entries[0] = {1, 2, 7};
  original.SuperSSE.Items.push_back(std::move(sse));
  original.ElementRow(1).ConnectedTo = 2;
  original.ElementRow(2).ConnectedFrom = 1;
  const std::string first = Save(original);

  testing::TempDir dir;
  TProteinObject loaded;
  Load(loaded, first, dir);
  EXPECT_EQ(loaded.Status, TRunStatus::Good) << loaded.StatusText << testing::ReadFile(dir.File("load.log"));
  EXPECT_EQ(Save(loaded), first);
  EXPECT_EQ(Cards(loaded), Cards(original));
  EXPECT_TRUE(loaded.StreamFlag);
  EXPECT_EQ(loaded.ResidueCount, 2);
  EXPECT_EQ(loaded.Residue(2).SideChainCount, 1);
  EXPECT_EQ(loaded.Residue(2).OneLetter, 'A');
  // The amide hydrogen of residue 2 lies 1 Å from its N.
  EXPECT_NEAR(Distance(loaded.Residue(2).HPos, *loaded.Residue(2).AtomN), 1.0, 1e-5);
  EXPECT_EQ(loaded.HetAtoms[0]->Chain, 'B');
  EXPECT_EQ(loaded.AtomAt(10)->ResidueIndex, 1);
}

TEST(LoadFromStream, EveryTruncationIsRejected) {
  TProteinObject original;
  testing::FillSmallProtein(original);
  const std::string full = Save(original);
  testing::TempDir dir;
  for (std::size_t n = 0; n < full.size(); ++n) {
    TProteinObject p;
    Load(p, full.substr(0, n), dir);
    ASSERT_EQ(p.Status, TRunStatus::Failed) << "prefix of " << n << " bytes";
  }
}

TEST(LoadFromStream, MalformedValuesAreRejected) {
  testing::TempDir dir;
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string lists;
  for (int i = 0; i < 5; ++i) lists += std::string("\x02\x00", 2);
  const Case cases[] = {
      {"unexpected tag", std::string("\x07\x00", 2)},
      {"string where an integer belongs", std::string("\x06\x01X", 3)},
      {"too many super elements", lists + std::string("\x03\xf5\x01", 3)},  // 501
      {"too many entries", lists + std::string("\x02\x01\x02\x33", 4)},      // 51
  };
  for (const Case& c : cases) {
    TProteinObject p;
    Load(p, c.bytes, dir);
    EXPECT_EQ(p.Status, TRunStatus::Failed) << c.what;
    EXPECT_NE(testing::ReadFile(dir.File("load.log")).find("Error in reading stream"), std::string::npos) << c.what;
  }
}

TEST(LoadFromStream, ResidueCountDisagreeingWithTheRecordsKeepsEveryResidue) {
  // A stream that stores one residue but carries the atoms of two: the last
  // element must reach the second residue, or the next save drops it.
  TProteinObject original;
  testing::FillSmallProtein(original);
  original.ResidueCount = 1;
  const std::string damaged = Save(original);
  testing::TempDir dir;
  TProteinObject once;
  Load(once, damaged, dir);
  ASSERT_NE(once.Status, TRunStatus::Failed) << once.StatusText;
  EXPECT_NE(testing::ReadFile(dir.File("load.log")).find("2 residues read, 1 stored"), std::string::npos);
  EXPECT_EQ(once.ResidueCount, 2);
  EXPECT_EQ(once.ElementTable[static_cast<std::size_t>(once.ElementCount)].Last, 2);
  const std::string saved = Save(once);
  TProteinObject twice;
  Load(twice, saved, dir);
  EXPECT_EQ(twice.Status, once.Status);
  EXPECT_EQ(Save(twice), saved);
  original.ResidueCount = 2;
  EXPECT_EQ(Cards(twice), Cards(original));
}

TEST(LoadFromStream, AtomsTheNextSaveWouldLoseAreRefused) {
  // The save finds a residue's atoms by number: a side-chain atom numbered
  // beyond its residue or beyond the protein atoms, or a skipped record that
  // leaves its number unused, would cost an atom (or shift names) per round.
  struct Case {
    const char* what;
    void (*damage)(TProteinObject&);
    const char* report;
  };
  const Case cases[] = {
      {"atoms numbered in each other's residue",
       [](TProteinObject& p) {
         p.AtomAt(4)->Number = 9;
         p.AtomAt(9)->Number = 4;
       },
       "atom numbers do not follow residue"},
      {"protein atom numbered past the protein atoms", [](TProteinObject& p) { p.AtomAt(9)->Number = 12; },
       "atom number"},
      {"backbone atom repeated", [](TProteinObject& p) { p.AtomAt(9)->RadiusType = kBackboneCA; },
       "repeats its backbone atom"},
  };
  for (const Case& c : cases) {
    TProteinObject original;
    testing::FillSmallProtein(original);
    c.damage(original);
    testing::TempDir dir;
    TProteinObject p;
    Load(p, Save(original), dir);
    EXPECT_EQ(p.Status, TRunStatus::Failed) << c.what;
    EXPECT_NE(testing::ReadFile(dir.File("load.log")).find(c.report), std::string::npos) << c.what;
  }
}

TEST(LoadFromStream, AtomOfAnUnexpectedElementEndsTheLoad) {
  TProteinObject original;
  testing::FillSmallProtein(original);
  // Three protein elements; the atoms of residue 2 claim element 3, skipping element 2.
  original.ElementCount = 3;
  original.HetElementCount = 0;
  original.ElementRow(1).Last = 1;
  original.ElementRow(2) = TElementZeile{};
  original.ElementRow(2).ElementKind = TElementKind::Coil;
  original.ElementRow(2).First = 3;
  original.ElementRow(2).Last = 3;
  original.ElementRow(3).ElementKind = TElementKind::Coil;
  original.ElementRow(3).First = 2;
  original.ElementRow(3).Last = 2;
  testing::TempDir dir;
  TProteinObject p;
  Load(p, Save(original), dir);
  EXPECT_EQ(p.Status, TRunStatus::Failed);
  EXPECT_EQ(p.StatusText, kStructureReadError);
}

}  // namespace
}  // namespace cavitas
