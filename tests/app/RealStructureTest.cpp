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

// The ATOM records of pept.pdb and the box they span.
struct TPeptide {
  std::string Atoms;
  double MaxX = -1e9, MidY = 0, MidZ = 0;
};

TPeptide Peptide() {
  TPeptide p;
  double minY = 1e9, maxY = -1e9, minZ = 1e9, maxZ = -1e9;
  for (const std::string& line : Lines(ReadFile(DataFile("pept.pdb")))) {
    if (line.rfind("ATOM", 0) != 0) continue;
    p.Atoms += line + "\n";
    const double x = std::stod(line.substr(30, 8)), y = std::stod(line.substr(38, 8)), z = std::stod(line.substr(46, 8));
    p.MaxX = std::max(p.MaxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y), minZ = std::min(minZ, z), maxZ = std::max(maxZ, z);
  }
  p.MidY = (minY + maxY) / 2, p.MidZ = (minZ + maxZ) / 2;
  return p;
}

// n^3 hetero atoms on a cubic or hexagonal close-packed lattice, 3 A beyond
// the peptide along x.
std::string Lattice(const TPeptide& p, bool hexagonal, double spacing, int n, const char* residue,
                    const char* name) {
  std::string out;
  char buf[96];
  int serial = 900;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        double x = i, y = j, z = k;
        if (hexagonal) {
          x = i + 0.5 * (j % 2) + ((k % 2) ? 0.5 : 0.0);
          y = j * std::sqrt(3.0) / 2 + ((k % 2) ? std::sqrt(3.0) / 6 : 0.0);
          z = k * std::sqrt(2.0 / 3.0);
        }
        std::snprintf(buf, sizeof buf, "HETATM%5d %-4s %3s X%4d    %8.3f%8.3f%8.3f  1.00 20.00           %c\n", serial,
                      name, residue, 1 + (serial - 900) / 50, p.MaxX + 3 + spacing * x, p.MidY + spacing * (y - n / 2.0),
                      p.MidZ + spacing * (z - n / 2.0), name[1]);
        out += buf;
        ++serial;
      }
  return out;
}

// Four or more expanded spheres through one point on every face of a
// lattice: the surface moves the atoms there off the point and closes.
TEST(RealStructures, LatticesOfHeteroAtomsBesideAProteinGiveAResult) {
  const TPeptide p = Peptide();
  for (const bool hexagonal : {false, true})
    for (const double spacing : {2.0, 2.5, 3.0, 3.5, 4.0}) {
      SCOPED_TRACE((hexagonal ? "hexagonal " : "cubic ") + std::to_string(spacing));
      TempDir dir;
      WriteFile(dir.File("lattice.pdb"), p.Atoms + Lattice(p, hexagonal, spacing, 4, "LAT", " C  ") + "END\n");
      const TOutputs out = Analyse(dir, dir.File("lattice.pdb"), "lattice");
      EXPECT_EQ(out.Code, 0);
      EXPECT_NE(out.Result.find("CH-SUM"), std::string::npos);
      EXPECT_EQ(std::count(out.Result.begin(), out.Result.end(), '\n') > 64 + 100, true);
    }
}

// Membrane markers on a 2 A lattice are ignored whole: the result is that of
// the file without them.
TEST(RealStructures, MembraneMarkersAreIgnored) {
  const TPeptide p = Peptide();
  TempDir dir;
  const std::string ion = "HETATM  899 ZN    ZN X 901    " + std::string(" ") + "  20.000  20.000  20.000  1.00 20.00          ZN\n";
  WriteFile(dir.File("plain.pdb"), p.Atoms + ion + "END\n");
  WriteFile(dir.File("membrane.pdb"), p.Atoms + Lattice(p, false, 2.0, 5, "DUM", " O  ") + ion +
                                          Lattice(p, false, 2.0, 2, "DUM", " N  ") + "END\n");
  const TOutputs plain = Analyse(dir, dir.File("plain.pdb"), "plain");
  const TOutputs membrane = Analyse(dir, dir.File("membrane.pdb"), "membrane");
  ASSERT_EQ(plain.Code, 0);
  ASSERT_EQ(membrane.Code, 0);
  EXPECT_EQ(membrane.Result, plain.Result);
  EXPECT_TRUE(Has(membrane.Log, "133 membrane marker atoms (DUM) ignored"));
}

// A chain lying on a copy of itself, exactly or shifted by less than a bond:
// coincident atoms and points of many spheres, strands in three ladders.
// An exact copy is left out as coincident atoms; a copy shifted by less than a
// bond is kept and its exact degeneracies resolved.
TEST(RealStructures, ChainOnACopyOfItselfGivesAResult) {
  for (const double shift : {0.0, 0.3}) {
    SCOPED_TRACE(shift);
    std::string original, copy;
    char field[32];
    for (const std::string& line : Lines(ReadFile(DataFile("1ubq.pdb")))) {
      if (line.rfind("END", 0) != 0) original += line + "\n";
      if (line.rfind("ATOM", 0) != 0) continue;
      std::snprintf(field, sizeof field, "%8.3f", std::stod(line.substr(30, 8)) + shift);
      copy += line.substr(0, 21) + "Z" + line.substr(22, 8) + field + line.substr(38) + "\n";
    }
    TempDir dir;
    WriteFile(dir.File("twice.pdb"), original + "TER\n" + copy + "END\n");
    const TOutputs out = Analyse(dir, dir.File("twice.pdb"), "twice");
    EXPECT_EQ(out.Code, 0);
    const std::string length = shift == 0 ? "LENGTH        76 AA" : "LENGTH       152 AA";
    EXPECT_NE(out.Result.find(length), std::string::npos) << out.Result.substr(0, 1200);
  }
}

// DNA in ATOM records takes part as hetero atoms: listed with volumes, and
// the holes with and without hetero atoms differ where it fills the interface.
TEST(RealStructures, ProteinDnaComplexListsDnaAsHeteroAtoms) {
  const std::string file = CorpusFile("1lcd.pdb");
  if (file.empty()) GTEST_SKIP() << "corpus not available";
  TempDir dir;
  const TOutputs out = Analyse(dir, file, "dna");
  ASSERT_EQ(out.Code, 0);
  int dna = 0, withVolume = 0;
  for (const std::string& line : Lines(out.Result)) {
    if (line.rfind("HETATM", 0) != 0 || line.substr(17, 3).find('D') == std::string::npos) continue;
    ++dna;
    withVolume += std::stod(line.substr(66, 7)) > 0;
  }
  EXPECT_GT(dna, 400);
  EXPECT_EQ(withVolume, dna);
  EXPECT_TRUE(Has(out.Log, "residue DA in ATOM records read as a hetero group"));
  // A hole partly filled by hetero atoms: the DNA closes what is open without it.
  const std::string holes = out.Result.substr(out.Result.find("NRHOLE"), 40);
  EXPECT_EQ(holes.substr(0, 14), "NRHOLE       1") << holes;
}

}  // namespace
}  // namespace cavitas::testing
