// Structures as they come from the archive and from simulations, through the
// real binary: hydrogens, force-field names, exact degeneracies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/CliSupport.h"

namespace cavitas::testing {
namespace {

// Runs the binary on `input` with a card file; the result, cards and log.
struct TOutputs {
  int Code;
  std::string Result, Cards;
  std::vector<std::string> Log;
};

TOutputs Analyse(const TempDir& dir, const std::string& input, const std::string& stem) {
  const RunResult r = RunCavitas(dir, "i:'" + input + "' o:" + stem + ".res l:" + stem + ".log s:" + stem + ".crd");
  return {r.Code, ReadFile(dir.File(stem + ".res")), ReadFile(dir.File(stem + ".crd")),
          Lines(ReadFile(dir.File(stem + ".log")))};
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// pept_h.pdb is pept.pdb with hydrogens in every common naming added
// (tools/make_test_structures.py hydrogens): element column or not, names
// from column 13, HN and HT1, alternate locations, deuterium.
TEST(RealStructures, HydrogensChangeNeitherResultNorCards) {
  TempDir dir;
  const TOutputs plain = Analyse(dir, DataFile("pept.pdb"), "plain");
  const TOutputs with = Analyse(dir, DataFile("pept_h.pdb"), "with");
  ASSERT_EQ(plain.Code, 0);
  ASSERT_EQ(with.Code, 0);
  EXPECT_FALSE(plain.Result.empty());
  EXPECT_EQ(with.Result, plain.Result);
  EXPECT_EQ(with.Cards, plain.Cards);
  EXPECT_TRUE(Has(with.Log, "139 hydrogen atoms ignored"));
  for (const std::string& line : with.Log) EXPECT_EQ(line.find("Atom not found"), std::string::npos) << line;
}

// 1ubq_charmm.pdb is 1ubq.pdb as a simulation program writes it
// (tools/make_test_structures.py charmm): blank chains with segments PROA and
// SOLV, HSE, ILE CD, HN, OT1/OT2, TIP3 waters in ATOM records with hydrogens.
TEST(RealStructures, CharmmStyleFileGivesTheResultOfTheArchiveFile) {
  TempDir dir;
  const TOutputs archive = Analyse(dir, DataFile("1ubq.pdb"), "archive");
  const TOutputs charmm = Analyse(dir, DataFile("1ubq_charmm.pdb"), "charmm");
  ASSERT_EQ(archive.Code, 0);
  ASSERT_EQ(charmm.Code, 0);
  EXPECT_EQ(charmm.Result, archive.Result);
  EXPECT_TRUE(Has(charmm.Log, "names read as the standard ones: segment PROA -> chain A, ILE CD -> CD1, HSE -> HIS, "
                              "OT1 -> O, OT2 -> OXT, segment SOLV -> chain B, TIP -> HOH, OH2 -> O"));
}

}  // namespace
}  // namespace cavitas::testing
