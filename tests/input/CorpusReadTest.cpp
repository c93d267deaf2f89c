// Real structures: every file reads without a crash into a consistent model.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "input/InputTestSupport.h"

namespace cavitas::testing {
namespace {

int CountRecords(const std::string& path, const std::string& name) {
  std::istringstream in(ReadFile(path));
  std::string line;
  int n = 0;
  while (std::getline(in, line))
    if (line.compare(0, name.size(), name) == 0) ++n;
  return n;
}

// The invariants a finished read guarantees, independent of the file.
void ExpectConsistentModel(const TProteinObject& p, const std::string& path) {
  EXPECT_LE(p.ProteinAtomCount, CountRecords(path, "ATOM  "));
  if (p.Status == TRunStatus::Failed) return;
  ASSERT_EQ(p.ResidueCount, static_cast<int>(p.Residues.size()));
  ASSERT_EQ(p.AtomCount, p.ProteinAtomCount + static_cast<int>(p.HetAtoms.size()));
  for (int n = 1; n <= p.AtomCount; ++n) {
    ASSERT_NE(p.AtomAt(n), nullptr) << n;
    ASSERT_EQ(p.AtomAt(n)->Number, n);
  }
  EXPECT_EQ(p.AtomAt(p.AtomCount + 1), nullptr);
  int atoms = 0;
  for (int i = 1; i <= p.ResidueCount; ++i) {
    const TBACKBONE& r = p.Residue(i);
    // Backbone atoms first (in file order), then the side chain.
    const int f = r.FirstAtom;
    for (const TAtom* a : {r.AtomN, r.AtomCA, r.AtomC, r.AtomO}) {
      EXPECT_GE(a->Number, f);
      EXPECT_LE(a->Number, f + 3);
      EXPECT_EQ(a->ResidueIndex, i);
    }
    for (int k = 1; k <= r.SideChainCount; ++k) {
      const TAtom* side = p.SideAtoms[static_cast<std::size_t>(r.SideChainStart + k)];
      EXPECT_EQ(side, p.AtomAt(f + 3 + k));
      EXPECT_EQ(side->ResidueIndex, i);
    }
    if (i > 1) {
      EXPECT_EQ(r.SideChainStart, p.Residue(i - 1).SideChainStart + p.Residue(i - 1).SideChainCount);
    }
    atoms += 4 + r.SideChainCount;
  }
  EXPECT_EQ(atoms, p.ProteinAtomCount);
  for (std::size_t k = 0; k < p.ChainBreaks.size(); ++k) {
    EXPECT_LT(p.ChainBreaks[k], p.ResidueCount);
    if (k > 0) {
      EXPECT_LT(p.ChainBreaks[k - 1], p.ChainBreaks[k]);
    }
  }
}

TEST(CorpusRead, Ubiquitin) {
  const std::string path = DataFile("1ubq.pdb");
  const TReadResult r = ReadPdbFile(path);
  const TProteinObject& p = *r.Protein;
  EXPECT_EQ(p.Status, TRunStatus::Good);  // OXT of the chain end is no extra side-chain atom
  EXPECT_TRUE(r.Log.empty());
  EXPECT_EQ(p.ResidueCount, 76);
  EXPECT_EQ(p.ProteinAtomCount, 602);
  EXPECT_EQ(p.HetAtoms.size(), 0u);
  EXPECT_EQ(p.Waters.size(), 58u);
  EXPECT_DOUBLE_EQ(p.Resolution, 1.8);
  EXPECT_EQ(p.FileName, "1ubq.pdb");
  EXPECT_TRUE(p.LineMode);
  EXPECT_EQ(p.HeaderLines.size(), 1u);
  EXPECT_TRUE(p.ChainBreaks.empty());
  ExpectConsistentModel(p, path);
}

TEST(CorpusRead, FragmentsWithHydrogensAndHeteroGroups) {
  // tiny.pdb: a chain that starts with a residue of only C and O, hydrogens, a ligand with hydrogens.
  const std::string path = DataFile("tiny.pdb");
  const TReadResult r = ReadPdbFile(path);
  EXPECT_TRUE(LogHas(r, "backbone incomplete for residue  THR    7 C. It will be ignored!"));
  EXPECT_EQ(r.Protein->Status, TRunStatus::ResidueIgnored);
  ExpectConsistentModel(*r.Protein, path);
  for (const auto& het : r.Protein->HetAtoms) EXPECT_NE(het->AtomName[1], 'H') << het->AtomName;

  const std::string odd = DataFile("odd02.pdb");
  const TReadResult r2 = ReadPdbFile(odd);
  ExpectConsistentModel(*r2.Protein, odd);
}

TEST(CorpusRead, EveryFileReadsIntoAConsistentModel) {
  const std::string any = CorpusFile("1ubq.pdb");
  if (any.empty()) GTEST_SKIP() << "corpus not present";
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(any).parent_path())) {
    const std::string path = entry.path().string();
    if (entry.path().extension() != ".pdb" || entry.path().filename() == "3o21x4.pdb") continue;
    SCOPED_TRACE(path);
    const TReadResult r = ReadPdbFile(path);
    ExpectConsistentModel(*r.Protein, path);
    if (CountRecords(path, "ATOM  ") > 1000) {
      // Files of real proteins keep at least nine tenths of their heavy atoms.
      EXPECT_NE(r.Protein->Status, TRunStatus::Failed) << r.Protein->StatusText;
      EXPECT_GT(r.Protein->ResidueCount, 50);
    }
  }
}

TEST(CorpusRead, LargeStructure3o21) {
  const std::string path = CorpusFile("3o21.pdb");
  if (path.empty()) GTEST_SKIP() << "corpus not present";
  const TReadResult r = ReadPdbFile(path);
  const TProteinObject& p = *r.Protein;
  EXPECT_NE(p.Status, TRunStatus::Failed);
  EXPECT_EQ(p.Waters.size() + p.HetAtoms.size() > 600, true);
  EXPECT_GT(p.ProteinAtomCount, 11500);
  EXPECT_LE(p.AtomCount, 12800);
  ExpectConsistentModel(p, path);
}

}  // namespace
}  // namespace cavitas::testing
