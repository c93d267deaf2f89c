// The command line as users and pipelines see it: exit codes, files touched, log shape.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "TestSupport.h"

namespace cavitas {
namespace {

using testing::DataFile;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct RunResult {
  int Code;
  std::string Out, Err;
};

RunResult RunCavitas(const TempDir& dir, const std::string& args) {
  const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
  const std::string cmd = "cd '" + dir.Path().string() + "' && '" + CAVITAS_BINARY + "' " + args + " >'" + out +
                          "' 2>'" + err + "' </dev/null";
  const int status = std::system(cmd.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

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

// 1ubq with every ATOM and HETATM line passed through `edit` (an empty string drops the line).
template <class Edit>
std::string Edited(Edit&& edit) {
  std::string out;
  for (const std::string& line : Lines(ReadFile(DataFile("1ubq.pdb")))) {
    const bool atom = line.rfind("ATOM  ", 0) == 0 || line.rfind("HETATM", 0) == 0;
    const std::string changed = atom ? edit(line) : line;
    if (!changed.empty()) out += changed + "\n";
  }
  return out;
}

std::string Field(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, v >= 1e5 || v <= -1e4 ? "%8.1f" : "%8.3f", v);
  return buffer;
}

std::string Moved(const std::string& line, double dx, double dy, double dz) {
  const double d[3] = {dx, dy, dz};
  std::string out = line.substr(0, 30);
  for (int k = 0; k < 3; ++k) out += Field(std::atof(line.substr(30 + 8 * static_cast<std::size_t>(k), 8).c_str()) + d[k]);
  return out + line.substr(54);
}

std::string Ion(double x, double y, double z) {
  return "HETATM 9999 NA    NA Z 900    " + Field(x) + Field(y) + Field(z) + "  1.00 20.00          NA";
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(text))
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

// Volume, contact volume and surface flag: the last three fields of a result line.
struct TAtomResult {
  double Volume, Contact;
  std::string Flag;
};
TAtomResult ResultOf(const std::string& line) {
  std::istringstream in(line.substr(54));
  std::vector<std::string> fields;
  for (std::string f; in >> f;) fields.push_back(f);
  const std::size_t n = fields.size();
  return {std::atof(fields[n - 3].c_str()), std::atof(fields[n - 2].c_str()), fields[n - 1]};
}

// Odd coordinates on a real structure: every run ends at once with a result or
// a documented exit code and its reason. A stray ion beyond the structure's
// lower corner (the volume cubes start there) or duplicated lines leave the
// protein's result as it was; a structure moved by 3000 Å keeps its holes and
// flags, its volumes within the last printed digit.
TEST(Cli, HostileCoordinatesEndWithAResultOrAReason) {
  TempDir dir;
  WriteFile(dir.File("clean.pdb"), Edited([](const std::string& l) { return l; }));
  ASSERT_EQ(RunCavitas(dir, "i:clean.pdb o:clean.txt l:clean.log").Code, 0);
  const std::string clean = ReadFile(dir.File("clean.txt"));
  int ca = 0, atoms = 0;
  struct Case {
    std::string Name, Text;
    int Code;
    std::string Reason;  // in the log, or on stderr without a result
  };
  const std::string last = "HETATM  661";
  const Case cases[] = {
      {"stray2000", Edited([&](const std::string& l) { return l.rfind(last, 0) == 0 ? l + "\n" + Ion(2000, 50, 40) : l; }),
       0, "has no other atom within 20 A; it is analysed as an isolated atom"},
      {"stray5000", Edited([&](const std::string& l) { return l.rfind(last, 0) == 0 ? l + "\n" + Ion(5000, 5000, 5000) : l; }),
       0, "has no other atom within 20 A; it is analysed as an isolated atom"},
      {"moved", Edited([](const std::string& l) { return Moved(l, 3000, 3000, 3000); }), 0, ""},
      {"typos", Edited([&](const std::string& l) {
         if (l.substr(12, 4) != " CA ") return l;
         ++ca;
         return ca == 10 ? Moved(l, 215000, 0, 0) : ca == 40 ? Moved(l, 0, 0, -93100) : l;
       }),
       0, "lies outside -10000..10000"},
      {"duplicates", Edited([&](const std::string& l) { return ++atoms % 7 == 0 ? l + "\n" + l : l; }), 0,
       "at the place of atoms read before, ignored"},
      {"onepoint", Edited([](const std::string& l) { return l.substr(0, 30) + "   1.000   2.000   3.000" + l.substr(54); }),
       3, "STRUCTURE COLLAPSED: 76 OF 76 RESIDUES COINCIDE WITH OTHERS"},
      {"far", Edited([](const std::string& l) { return l.substr(0, 30) + " 99999.9 99999.9 99999.9" + l.substr(54); }), 3,
       "NO RESIDUE WITH COMPLETE BACKBONE"},
      {"nultail", ReadFile(DataFile("1ubq.pdb")), 1, "is larger than the limit of 1000000000 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(dir.File(c.Name + ".pdb"), c.Text);
    if (c.Name == "nultail") std::filesystem::resize_file(dir.File(c.Name + ".pdb"), 2'000'000'000);  // sparse
    const RunResult r = RunCavitas(dir, "i:" + c.Name + ".pdb o:" + c.Name + ".txt l:" + c.Name + ".log");
    ASSERT_EQ(r.Code, c.Code) << r.Err;
    const std::string result = ReadFile(dir.File(c.Name + ".txt"));
    if (c.Code != 0) {
      EXPECT_NE(r.Err.find(c.Reason), std::string::npos) << r.Err;
      EXPECT_FALSE(std::filesystem::exists(dir.File(c.Name + ".txt")));
      continue;
    }
    EXPECT_NE(ReadFile(dir.File(c.Name + ".log")).find(c.Reason), std::string::npos);
    if (c.Name == "typos") continue;  // two residues fewer
    const auto atomsOf = [](const std::string& text) { return LinesStartingWith(text, "ATOM"); };
    EXPECT_EQ(LinesStartingWith(result, "HOLE"), LinesStartingWith(clean, "HOLE"));
    if (c.Name.rfind("stray", 0) == 0 || c.Name == "duplicates") {
      EXPECT_EQ(atomsOf(result), atomsOf(clean));
    }
    if (c.Name == "duplicates") {
      EXPECT_EQ(result, clean);
    }
    if (c.Name == "moved") {
      const std::vector<std::string> a = atomsOf(clean), b = atomsOf(result);
      ASSERT_EQ(a.size(), b.size());
      for (std::size_t i = 0; i < a.size(); ++i) {
        const TAtomResult x = ResultOf(a[i]), y = ResultOf(b[i]);
        EXPECT_NEAR(x.Volume, y.Volume, 0.0101) << a[i];
        EXPECT_NEAR(x.Contact, y.Contact, 0.0101) << a[i];
        EXPECT_EQ(x.Flag, y.Flag) << a[i];
      }
    }
  }
}

// Waters on waters: each removed and reported once per residue, the first 100
// in full, then a count.
TEST(Cli, CoincidentWatersAreRemovedAndCounted) {
  TempDir dir;
  std::string waters;
  char buf[96];
  for (int n = 1; n <= 400; ++n) {
    const double x = 60.0 + 3.1 * (n % 20), y = 60.0 + 3.1 * (n / 20);
    for (int copy = 0; copy < 2; ++copy) {
      std::snprintf(buf, sizeof buf, "HETATM%5d  O   HOH W%4d    %8.3f%8.3f%8.3f  1.00 20.00           O\n", n, 2 * n + copy,
                    x, y, 60.0);
      waters += buf;
    }
  }
  std::string text = Edited([](const std::string& l) { return l; });
  text.insert(text.rfind("END"), waters);
  WriteFile(dir.File("w.pdb"), text);
  const RunResult r = RunCavitas(dir, "i:w.pdb o:w.txt l:w.log");
  ASSERT_EQ(r.Code, 0) << r.Err;
  const std::string log = ReadFile(dir.File("w.log"));
  EXPECT_NE(log.find("1 atom of hetero residue HOH W   3  at the place of atoms read before, ignored"), std::string::npos);
  EXPECT_NE(log.find("300 more hetero residues with coincident atoms"), std::string::npos);
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
