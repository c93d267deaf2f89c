#include <gtest/gtest.h>

#include <algorithm>

#include "SecStructTestSupport.h"
#include "cavity/ContactObject.h"
#include "input/ReadProtein.h"
#include "secstruct/Bridges.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace cavitas {
namespace {

using testing::CorpusFile;
using testing::TempDir;

std::unique_ptr<TNewContactObject> Read(const std::string& path, const TempDir& dir) {
  auto p = std::make_unique<TNewContactObject>();
  ReadProtein(*p, path, dir.File("read.log"), 0);
  return p;
}

// Our own failure texts; none may appear on real structures.
bool IsSecondaryStructureFailure(const std::string& text) {
  return text == " !!! BRIDGETABLE OVERFLOW !!!" || text == " !!! STRAND COLUMN OVERWRITTEN !!!" ||
         text == "More then MAXelem elements";
}

TEST(Corpus, UbiquitinLettersSheetsAndPartners) {
  TempDir dir;
  auto p = Read(testing::DataFile("1ubq.pdb"), dir);
  ASSERT_EQ(p->ResidueCount, 76);
  // Agrees with an independent assignment of the same method on every residue
  // but its polyproline and first-residue bend letters.
  EXPECT_EQ(testing::Symbols(*p), " EEEEEETTS EEEEE  TTSBHHHHHHHHHHHH   GGGEEEEETTEE  TTSBTGGGT  TT EEEEEE  S  ");
  std::string sheets;
  for (int i = 1; i <= p->ResidueCount; ++i) sheets += p->Residue(i).SheetLabel;
  EXPECT_EQ(sheets, " AAAAAA    AAAAA     B                  AAAAA  AA     B          AAAAAA     ");
  EXPECT_EQ(p->Residue(2).BridgePartner1, 16);
  EXPECT_EQ(p->Residue(4).BridgeLabel2, 'b');
  EXPECT_EQ(p->Residue(4).BridgePartner2, 66);
}

// Slots, ladders and letters of the indexed searches equal those of the literal scans.
TEST(Corpus, IndexedSearchesMatchLiteralScans) {
  const std::string path = CorpusFile("3o21.pdb");
  if (path.empty()) GTEST_SKIP() << "corpus not available";
  TempDir dir;
  auto p = Read(path, dir);
  ASSERT_NE(p->Status, TRunStatus::Failed);
  std::vector<TBond> fast;
  for (int i = 1; i <= p->ResidueCount; ++i) {
    const TBACKBONE& r = p->Residue(i);
    fast.insert(fast.end(), {r.NHBond1, r.NHBond2, r.COBond1, r.COBond2});
  }
  FlagHydrogenBondsReference(*p);
  for (int i = 1; i <= p->ResidueCount; ++i) {
    const TBACKBONE& r = p->Residue(i);
    const TBond slow[] = {r.NHBond1, r.NHBond2, r.COBond1, r.COBond2};
    for (std::size_t k = 0; k < 4; ++k) {
      ASSERT_EQ(fast[4 * static_cast<std::size_t>(i - 1) + k].Partner, slow[k].Partner) << i;
      ASSERT_EQ(fast[4 * static_cast<std::size_t>(i - 1) + k].Energy, slow[k].Energy) << i;
    }
  }
  auto clearMarks = [&] {
    for (auto& r : p->Residues) {
      r->BridgeLabel1 = r->BridgeLabel2 = r->SheetLabel = r->SSSymbol = ' ';
      r->BridgePartner1 = r->BridgePartner2 = 0;
    }
  };
  clearMarks();
  TReadState a, b;
  FlagBridge(*p, a);
  const std::string symbols = testing::Symbols(*p);
  clearMarks();
  FlagBridgeReference(*p, b);
  ASSERT_EQ(a.BridgeCount, b.BridgeCount);
  EXPECT_GT(a.BridgeCount, 20);
  for (int n = 1; n <= a.BridgeCount; ++n) EXPECT_EQ(BridgeTableLine(a, n), BridgeTableLine(b, n));
  EXPECT_EQ(symbols, testing::Symbols(*p));
}

class CorpusElements : public ::testing::TestWithParam<const char*> {};

// The element list covers 1..N without gaps or overlaps, never spans a chain
// break, and strand and helix elements hold what their letters say.
TEST_P(CorpusElements, CoverChainsWithoutGaps) {
  const std::string path = CorpusFile(GetParam());
  if (path.empty()) GTEST_SKIP() << "corpus not available";
  TempDir dir;
  auto p = Read(path, dir);
  EXPECT_FALSE(IsSecondaryStructureFailure(p->StatusText)) << p->StatusText;
  if (p->Status == TRunStatus::Failed) GTEST_SKIP() << "read failed: " << p->StatusText;
  BuildElementList(*p);
  ASSERT_NE(p->Status, TRunStatus::Failed) << p->StatusText;
  const int n = p->ResidueCount;
  ASSERT_GE(p->ElementCount, 1);
  auto isBreak = [&](int r) {
    return std::find(p->ChainBreaks.begin(), p->ChainBreaks.end(), r) != p->ChainBreaks.end();
  };
  int next = 1;
  for (int k = 1; k <= p->ElementCount; ++k) {
    const TElementZeile& e = p->ElementTable[static_cast<std::size_t>(k)];
    ASSERT_EQ(e.First, next) << "element " << k;
    ASSERT_LE(e.First, e.Last) << "element " << k;
    EXPECT_TRUE(NoChainBreak(*p, e.First, e.Last)) << "element " << k;
    if (e.ElementKind == TElementKind::Strand) {
      for (int r = e.First; r <= e.Last; ++r) EXPECT_EQ(p->Residue(r).SSSymbol, 'E') << r;
    }
    if (e.ElementKind == TElementKind::Helix && !isBreak(e.First - 1)) {
      for (int r = e.First; r < e.First + 4; ++r) EXPECT_EQ(p->Residue(r).SSSymbol, 'H') << r;
    }
    if (k > 1) {
      const TElementZeile& before = p->ElementTable[static_cast<std::size_t>(k - 1)];
      // Two coils meet only where a break split one.
      if (before.ElementKind == TElementKind::Coil && e.ElementKind == TElementKind::Coil) {
        EXPECT_TRUE(isBreak(before.Last)) << k;
      }
    }
    EXPECT_TRUE(e.ElementKind == TElementKind::Coil || e.ElementKind == TElementKind::Helix ||
                e.ElementKind == TElementKind::Strand);
    next = e.Last + 1;
  }
  EXPECT_EQ(next, n + 1);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusElements,
                         ::testing::Values("1ubq.pdb", "1ejg.pdb", "1hpv.pdb", "1a0q.pdb", "3o21.pdb", "1lcd.pdb",
                                           "2beg.pdb", "3al1.pdb", "il2.pdb", "pept.pdb", "disordered.pdb",
                                           "names.pdb", "odd01.pdb", "odd02.pdb", "small02.pdb", "tiny.pdb",
                                           "3o21x4.pdb"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           const std::string name = param.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace cavitas
