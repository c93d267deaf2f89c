#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "ReadCards.h"
#include "TestSupport.h"
#include "input/ReadProtein.h"
#include "secstruct/SecStruct.h"
#include "structfile/CheckSum.h"
#include "structfile/Stream.h"
#include "structfile/StructureCards.h"

namespace cavitas {
namespace {

std::vector<std::string> Cards(const TProteinObject& p) {
  std::vector<std::string> lines;
  RenderStructureCards(p, [&](const std::string& l) { lines.push_back(l); });
  return lines;
}

std::string Save(const TProteinObject& p) {
  std::ostringstream out;
  SaveToStream(p, out);
  return out.str();
}

// The first line where two card lists differ, or "" when they are equal.
std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string x = i < a.size() ? a[i] : "<none>";
    const std::string y = i < b.size() ? b[i] : "<none>";
    if (x != y) return "line " + std::to_string(i + 1) + ":\n  " + x + "\n  " + y;
  }
  return "";
}

class CorpusRoundTrip : public ::testing::TestWithParam<const char*> {};

// PDB -> structure cards -> read back as cards -> stream -> load: every step
// renders the same cards, and the stream of the loaded object is byte-identical.
TEST_P(CorpusRoundTrip, CardsAndStreamAreLossless) {
  std::string path = testing::CorpusFile(GetParam());
  if (path.empty() && std::string(GetParam()) == "pept.pdb") path = testing::DataFile("pept.pdb");
  if (path.empty()) GTEST_SKIP() << GetParam() << " not available";
  testing::TempDir dir;
  TProteinObject original;
  ReadProtein(original, path, dir.File("pdb.log"), 0);
  if (original.Status == TRunStatus::Failed) GTEST_SKIP() << GetParam() << " is not analysable: " << original.StatusText;
  BuildElementList(original);
  BuildHetElements(original);
  const std::vector<std::string> cards = Cards(original);

  WriteStructureCards(original, dir.File("s.crd"));
  EXPECT_EQ(ReadCheckSum(dir.File("s.crd"), nullptr), SumStructureCards(original));

  TProteinObject back;
  testing::ReadCardFile(back, dir.File("s.crd"), 3, dir.File("crd.log"));
  ASSERT_NE(back.Status, TRunStatus::Failed) << back.StatusText << "\n" << testing::ReadFile(dir.File("crd.log"));
  EXPECT_EQ(FirstDifference(Cards(back), cards), "");
  EXPECT_EQ(SumStructureCards(back), SumStructureCards(original));

  const std::string stream = Save(back);
  TProteinObject loaded;
  loaded.SetLogFile(dir.File("load.log"));
  std::istringstream in(stream);
  LoadFromStream(loaded, in);
  ASSERT_NE(loaded.Status, TRunStatus::Failed) << loaded.StatusText << "\n" << testing::ReadFile(dir.File("load.log"));
  EXPECT_EQ(Save(loaded), stream);
  EXPECT_EQ(FirstDifference(Cards(loaded), cards), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRoundTrip,
                         ::testing::Values("pept.pdb", "1ubq.pdb", "3al1.pdb", "1ejg.pdb", "1hpv.pdb", "1a0q.pdb",
                                           "2beg.pdb", "il2.pdb", "1lcd.pdb", "disordered.pdb", "tiny.pdb",
                                           "small02.pdb", "names.pdb", "odd01.pdb", "odd02.pdb", "3o21.pdb"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           std::string name = param.param;
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace cavitas
