// The command line as users and pipelines see it: exit codes, files touched, log shape.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "app/CliSupport.h"

namespace cavitas {
namespace {

using testing::DataFile;
using testing::Lines;
using testing::RunCavitas;
using testing::RunResult;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(Cli, NoParametersPrintsUsageAndSucceeds) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "");
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("usage: cavitas i:"), std::string::npos);
}

TEST(Cli, MissingInputOrOutputIsUsageErrorAndTouchesNothing) {
  for (const char* args : {"-i:x.pdb o:r.txt", "I:x.pdb o:r.txt", "i:x.pdb", "o:r.txt l:r.log"}) {
    TempDir dir;
    const RunResult r = RunCavitas(dir, args);
    EXPECT_EQ(r.Code, 2) << args;
    EXPECT_NE(r.Err.find("required"), std::string::npos) << args;
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.txt"))) << args;
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.log"))) << args;
    EXPECT_FALSE(std::filesystem::exists(dir.File("test.log"))) << args;
  }
}

TEST(Cli, IgnoredValuesAndUnknownParametersWarn) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "o:r.txt ex:0.9 rad:protor2 colour:red");
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("exactness"), std::string::npos);
  EXPECT_NE(r.Err.find("radius set"), std::string::npos);
  EXPECT_NE(r.Err.find("colour:red"), std::string::npos);
}

TEST(Cli, UnreadableInputIsFileError) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("adir"));
  for (const char* input : {"missing.pdb", "adir"}) {
    const RunResult r = RunCavitas(dir, std::string("i:") + input + " o:r.txt l:r.log");
    EXPECT_EQ(r.Code, 1) << input;
    EXPECT_NE(r.Err.find(input), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.txt")));
  }
}

TEST(Cli, RealStructureEndsLogWithFiveTimeLines) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "i:'" + DataFile("1ubq.pdb") + "' o:r.txt l:r.log");
  ASSERT_EQ(r.Code, 0) << r.Err;
  const std::vector<std::string> lines = Lines(ReadFile(dir.File("r.log")));
  ASSERT_GE(lines.size(), 5u);
  const char* labels[] = {"Initialisierung : ", "FindInnerWater  : ", "Connolly 1      : ", "Entfernen       : ",
                          "insgesamt       : "};
  const std::regex field(" *[0-9]+");
  for (int k = 0; k < 5; ++k) {
    const std::string& line = lines[lines.size() - 5 + static_cast<std::size_t>(k)];
    ASSERT_EQ(line.size(), 18u + 20u) << line;
    EXPECT_EQ(line.substr(0, 18), labels[k]);
    EXPECT_TRUE(std::regex_match(line.substr(18), field)) << line;
  }
  // Apart from the numbers of the time lines, a second run logs the same lines.
  const RunResult again = RunCavitas(dir, "i:'" + DataFile("1ubq.pdb") + "' o:r.txt l:r2.log");
  ASSERT_EQ(again.Code, 0);
  std::vector<std::string> second = Lines(ReadFile(dir.File("r2.log")));
  std::vector<std::string> first = lines;
  ASSERT_EQ(first.size(), second.size());
  for (std::size_t k = 0; k + 5 < first.size(); ++k) EXPECT_EQ(first[k], second[k]);
}

TEST(Cli, ResultIsReproducibleAndCardFileChangesNothing) {
  TempDir dir;
  const std::string input = "i:'" + DataFile("1ubq.pdb") + "'";
  ASSERT_EQ(RunCavitas(dir, input + " o:a.txt l:a.log").Code, 0);
  ASSERT_EQ(RunCavitas(dir, input + " o:b.txt l:b.log s:cards.txt").Code, 0);
  const std::string a = ReadFile(dir.File("a.txt"));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, ReadFile(dir.File("b.txt")));
  const std::vector<std::string> cards = Lines(ReadFile(dir.File("cards.txt")));
  ASSERT_FALSE(cards.empty());
  EXPECT_EQ(cards.back().substr(0, 6), "CH-SUM");
  EXPECT_FALSE(std::filesystem::exists(dir.File("s.txt")));
}

// Under a limit of the address space the heap grows in ordinary steps; the
// result is the same.
TEST(Cli, AddressSpaceLimitGivesTheSameResult) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs the whole address space";
#else
  TempDir dir;
  const std::string input = "i:'" + DataFile("1ubq.pdb") + "'";
  ASSERT_EQ(RunCavitas(dir, input + " o:a.txt l:a.log").Code, 0);
  const std::string cmd = "ulimit -v 1000000 && cd '" + dir.Path().string() + "' && '" + CAVITAS_BINARY + "' " +
                          input + " o:b.txt l:b.log >/dev/null 2>&1 </dev/null";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(dir.File("a.txt")), ReadFile(dir.File("b.txt")));
#endif
}

TEST(Cli, UnwritableResultIsFileError) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "i:'" + DataFile("1ubq.pdb") + "' o:nodir/r.txt l:r.log");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("nodir/r.txt"), std::string::npos) << r.Err;
}

TEST(Cli, FailedReadExitsThreeWithReasonAndNoResult) {
  TempDir dir;
  WriteFile(dir.File("het.pdb"),
            "HETATM    1  O   HOH A 101      10.000  10.000  10.000  1.00 20.00           O\n"
            "HETATM    2 FE   HEM A 102      12.000  10.000  10.000  1.00 20.00          FE\n"
            "END\n");
  const RunResult r = RunCavitas(dir, "i:het.pdb o:r.txt l:r.log");
  EXPECT_EQ(r.Code, 3);
  EXPECT_NE(r.Err.find("NO RESIDUE WITH COMPLETE BACKBONE"), std::string::npos) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("r.txt")));
  const std::vector<std::string> lines = Lines(ReadFile(dir.File("r.log")));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines.back().substr(0, 18), "insgesamt       : ");
}

TEST(Cli, FatalStageErrorExitsWithItsCodeModulo256AndNoResult) {
  // 801 sodium ions 10 A apart beside a peptide: each is a cluster of its own,
  // one more than the cluster table holds (error 301).
  TempDir dir;
  std::string pdb;
  for (const std::string& line : Lines(ReadFile(DataFile("pept.pdb"))))
    if (line.rfind("ATOM", 0) == 0) pdb += line + "\n";
  char buf[96];
  for (int n = 1; n <= 801; ++n) {
    std::snprintf(buf, sizeof buf, "HETATM%5d NA    NA Z%4d    %8.3f%8.3f%8.3f  1.00 20.00          NA\n", n, n,
                  100.0 + 10.0 * ((n - 1) / 30), 100.0 + 10.0 * ((n - 1) % 30), 50.0);
    pdb += buf;
  }
  WriteFile(dir.File("ions.pdb"), pdb + "END\n");
  const RunResult r = RunCavitas(dir, "i:ions.pdb o:r.txt l:r.log");
  EXPECT_EQ(r.Code, 301 % 256);
  EXPECT_NE(r.Err.find("Mehr als MinConFeldZahl Cluster"), std::string::npos) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("r.txt")));
}

TEST(Cli, EveryCorpusFileEndsWithSuccessOrFailedRead) {
  const std::string any = testing::CorpusFile("1ubq.pdb");
  if (any.empty()) GTEST_SKIP() << "corpus not available";
  const std::filesystem::path corpus = std::filesystem::path(any).parent_path();
  for (const char* name : {"tiny.pdb", "odd01.pdb", "odd02.pdb", "small02.pdb", "names.pdb", "disordered.pdb",
                           "pept.pdb", "1ejg.pdb", "3al1.pdb", "1lcd.pdb", "2beg.pdb"}) {
    TempDir dir;
    const RunResult r = RunCavitas(dir, "i:'" + (corpus / name).string() + "' o:r.txt l:r.log");
    EXPECT_TRUE(r.Code == 0 || r.Code == 3) << name << ": " << r.Code << " " << r.Err;
    const std::vector<std::string> lines = Lines(ReadFile(dir.File("r.log")));
    ASSERT_FALSE(lines.empty()) << name;
    EXPECT_EQ(lines.back().substr(0, 18), "insgesamt       : ") << name;
  }
}

}  // namespace
}  // namespace cavitas
