// The command line as users and pipelines see it: exit codes, files touched,
// log shape, signals, concurrent runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "app/CliSupport.h"
#include "frame/CommandLine.h"
#include "frame/ExitCodes.h"

extern char** environ;

namespace cavitas {
namespace {

namespace fs = std::filesystem;
using testing::DataFile;
using testing::Lines;
using testing::ReadFile;
using testing::RunCavitas;
using testing::RunResult;
using testing::TempDir;
using testing::WriteFile;

// Starts the program in dir without waiting; its stderr goes to dir/stderr.txt.
pid_t Spawn(const TempDir& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir.Path().string() + "' && exec '" + CAVITAS_BINARY + "' " + args +
                          " >/dev/null 2>stderr.txt </dev/null";
  const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Path())) names.insert(e.path().filename().string());
  return names;
}

bool HasTemporaryFile(const TempDir& dir) {
  for (const std::string& n : Names(dir))
    if (n.find(".cavitas-") != std::string::npos) return true;
  return false;
}

std::string Input1ubq() { return "i:'" + DataFile("1ubq.pdb") + "'"; }

// The ATOM lines of pept.pdb and `ions` sodium ions 10 A apart, each a part of its own.
std::string PeptideWithIons(int ions) {
  std::string pdb;
  for (const std::string& line : Lines(ReadFile(DataFile("pept.pdb"))))
    if (line.rfind("ATOM", 0) == 0) pdb += line + "\n";
  char buf[96];
  for (int n = 1; n <= ions; ++n) {
    std::snprintf(buf, sizeof buf, "HETATM%5d NA    NA Z%4d    %8.3f%8.3f%8.3f  1.00 20.00          NA\n", n, n,
                  100.0 + 10.0 * ((n - 1) / 30), 100.0 + 10.0 * ((n - 1) % 30), 50.0);
    pdb += buf;
  }
  return pdb + "END\n";
}

TEST(Cli, HelpVersionAndNoParametersPrintOnStdoutAndSucceed) {
  TempDir dir;
  for (const char* args : {"", "--help", "-h", "i:x.pdb --help"}) {
    const RunResult r = RunCavitas(dir, args);
    EXPECT_EQ(r.Code, 0) << args;
    EXPECT_NE(r.Out.find("usage: cavitas i:"), std::string::npos) << args;
    for (const TExitCodeEntry& e : ExitCodeTable())  // the exit statuses are listed from their table
      EXPECT_NE(r.Out.find(e.Meaning), std::string::npos) << e.Meaning;
    EXPECT_EQ(r.Err, "") << args;
  }
  const RunResult v = RunCavitas(dir, "--version");
  EXPECT_EQ(v.Code, 0);
  EXPECT_TRUE(std::regex_match(v.Out, std::regex("cavitas [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << v.Out;
  EXPECT_EQ(Names(dir), std::set<std::string>{});
}

TEST(Cli, MissingInputOrOutputIsUsageErrorAndTouchesNothing) {
  for (const char* args : {"-i:x.pdb o:r.txt", "I:x.pdb o:r.txt", "i:x.pdb", "o:r.txt l:r.log", "i: o:r.txt"}) {
    TempDir dir;
    const RunResult r = RunCavitas(dir, args);
    EXPECT_EQ(r.Code, 2) << args;
    EXPECT_NE(r.Err.find("required"), std::string::npos) << args;
    EXPECT_TRUE(Names(dir).empty()) << args;
  }
}

TEST(Cli, IgnoredValuesUnknownAndRepeatedParametersWarn) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "o:r.txt ex:0.9 rad:protor2 colour:red o:s.txt");
  EXPECT_EQ(r.Code, 2);
  for (const char* text : {"exactness", "radius set", "colour:red", "option o: given more than once; the first one (o:r.txt)"})
    EXPECT_NE(r.Err.find(text), std::string::npos) << text << "\n" << r.Err;
  // The first of a repeated input is analysed, with a warning.
  const RunResult twice = RunCavitas(dir, Input1ubq() + " i:missing.pdb o:r.txt l:r.log");
  EXPECT_EQ(twice.Code, 0) << twice.Err;
  EXPECT_NE(twice.Err.find("option i: given more than once"), std::string::npos) << twice.Err;
}

TEST(Cli, UnreadableInputIsFileError) {
  TempDir dir;
  fs::create_directory(dir.File("adir"));
  for (const char* input : {"missing.pdb", "adir"}) {
    const RunResult r = RunCavitas(dir, std::string("i:") + input + " o:r.txt l:r.log");
    EXPECT_EQ(r.Code, 1) << input;
    EXPECT_NE(r.Err.find(input), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File("r.txt")));
    EXPECT_FALSE(HasTemporaryFile(dir));
  }
}

// An output that is the input, or another output, is refused before anything
// is written: by name, through a link, or as a second name of the same file.
TEST(Cli, OutputNamingTheInputOrAnotherOutputIsRefused) {
  TempDir dir;
  fs::copy_file(DataFile("pept.pdb"), dir.File("in.pdb"));
  fs::create_symlink(dir.File("in.pdb"), dir.File("link.pdb"));
  fs::create_hard_link(dir.File("in.pdb"), dir.File("hard.pdb"));
  fs::create_directory(dir.File("sub"));
  const std::string original = ReadFile(dir.File("in.pdb"));
  const char* cases[] = {"o:in.pdb",          "o:r.txt l:in.pdb",       "o:r.txt s:in.pdb",  "o:./sub/../in.pdb",
                         "o:link.pdb",        "o:hard.pdb",             "o:r.txt l:r.txt",   "o:r.txt s:r.txt",
                         "o:r.txt s:sub/../r.txt l:x.log", "o:test.log", "o:r.txt j:in.pdb", "o:r.txt j:r.txt",
                         "o:r.txt p:in",      "o:v.pdb p:v",            "o:r.txt j:v.pml p:v"};
  for (const char* outputs : cases) {
    const RunResult r = RunCavitas(dir, std::string("i:in.pdb ") + outputs);
    EXPECT_EQ(r.Code, 2) << outputs;
    EXPECT_NE(r.Err.find("refused"), std::string::npos) << outputs << ": " << r.Err;
    EXPECT_EQ(ReadFile(dir.File("in.pdb")), original) << outputs;
    EXPECT_EQ(Names(dir), (std::set<std::string>{"in.pdb", "link.pdb", "hard.pdb", "sub"})) << outputs;
  }
  // Devices may take several outputs.
  const RunResult r = RunCavitas(dir, "i:in.pdb o:r.txt l:/dev/null s:/dev/null");
  EXPECT_EQ(r.Code, 0) << r.Err;
}

TEST(Cli, OutputThatCannotBeCreatedFailsBeforeAnyWork) {
  TempDir dir;
  fs::create_directory(dir.File("adir"));
  for (const char* outputs : {"o:nodir/r.txt l:r.log", "o:r.txt l:nodir/r.log", "o:r.txt s:nodir/c.crd",
                              "o:adir", "o:r.txt l:adir"}) {
    const RunResult r = RunCavitas(dir, Input1ubq() + " " + outputs);
    EXPECT_EQ(r.Code, 1) << outputs;
    EXPECT_TRUE(r.Err.find("No such file or directory") != std::string::npos ||
                r.Err.find("Is a directory") != std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("nothing written"), std::string::npos) << r.Err;
    EXPECT_EQ(Names(dir), std::set<std::string>{"adir"}) << outputs;
  }
}

TEST(Cli, RealStructureLogsVersionCommandAndFiveTimeLines) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, Input1ubq() + " o:r.txt l:r.log");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Names(dir), (std::set<std::string>{"r.txt", "r.log"}));
  const std::vector<std::string> lines = Lines(ReadFile(dir.File("r.log")));
  ASSERT_GE(lines.size(), 6u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex("cavitas [0-9.]+: .*cavitas i:.*1ubq.pdb o:r.txt l:r.log")))
      << lines[0];
  const char* labels[] = {"Initialisierung : ", "FindInnerWater  : ", "Connolly 1      : ", "Entfernen       : ",
                          "insgesamt       : "};
  const std::regex field(" *[0-9]+");
  for (int k = 0; k < 5; ++k) {
    const std::string& line = lines[lines.size() - 5 + static_cast<std::size_t>(k)];
    ASSERT_EQ(line.size(), 18u + 20u) << line;
    EXPECT_EQ(line.substr(0, 18), labels[k]);
    EXPECT_TRUE(std::regex_match(line.substr(18), field)) << line;
  }
  // Apart from the command line and the numbers of the time lines, a second run logs the same lines.
  const RunResult again = RunCavitas(dir, Input1ubq() + " o:r.txt l:r2.log");
  ASSERT_EQ(again.Code, 0);
  const std::vector<std::string> second = Lines(ReadFile(dir.File("r2.log")));
  ASSERT_EQ(lines.size(), second.size());
  for (std::size_t k = 1; k + 5 < lines.size(); ++k) EXPECT_EQ(lines[k], second[k]);
}

// The files beside the result file: the result and the log stay as they are,
// the JSON file parses and counts what the result file lists, and stdout has
// one summary line.
TEST(Cli, JsonAndViewerFilesChangeNothingAndTheSummaryLineCounts) {
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:a.txt l:a.log").Code, 0);
  const RunResult r = RunCavitas(dir, Input1ubq() + " o:b.txt l:b.log j:b.json p:view");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Names(dir), (std::set<std::string>{"a.txt", "a.log", "b.txt", "b.log", "b.json", "view.pdb", "view.pml",
                                               "view.cxc"}));
  const std::string result = ReadFile(dir.File("b.txt"));
  EXPECT_EQ(result, ReadFile(dir.File("a.txt")));
  EXPECT_TRUE(std::regex_match(r.Out, std::regex(".*1ubq.pdb: 602 atoms, 76 residues; holes: 0 partly_filled, 1 empty, "
                                                 "0 partly_filled_hets_removed, 0 filled_hets_removed; 0 inner "
                                                 "waters; [0-9]+\\.[0-9]{2} s\n")))
      << r.Out;
  const auto json = nlohmann::json::parse(ReadFile(dir.File("b.json")));
  EXPECT_EQ(json["counts"]["atoms"], 602);
  EXPECT_EQ(json["cavities"].size(), 1u);
  EXPECT_NE(result.find("HOLE NUMBER 1 300 301 567 569 570 587 589\n"), std::string::npos);
  EXPECT_EQ(json["cavities"][0]["lining_atom_numbers"], nlohmann::json({300, 301, 567, 569, 570, 587, 589}));
  EXPECT_NE(ReadFile(dir.File("view.pml")).find("load view.pdb, cavitas\n"), std::string::npos);
}

// The JSON document carries the status as its number: a residue with an
// incomplete backbone is status 5, whatever the status is called inside.
TEST(Cli, JsonStatusIsTheNumberAndItsText) {
  TempDir dir;
  const RunResult r = RunCavitas(dir, "i:'" + DataFile("tiny.pdb") + "' o:r.txt l:r.log j:r.json");
  ASSERT_EQ(r.Code, 0) << r.Err;
  const auto json = nlohmann::json::parse(ReadFile(dir.File("r.json")));
  EXPECT_EQ(json["status"]["value"], 5);
  EXPECT_EQ(json["status"]["text"], " !!! BACKBONE INCOMPLETE FOR RESIDUE  THR    7 C RESIDUE WILL BE IGNORED !!!");
}

TEST(Cli, ResultIsReproducibleAndCardFileChangesNothing) {
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:a.txt l:a.log").Code, 0);
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:b.txt l:b.log s:cards.txt").Code, 0);
  const std::string a = ReadFile(dir.File("a.txt"));
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a, ReadFile(dir.File("b.txt")));
  const std::vector<std::string> cards = Lines(ReadFile(dir.File("cards.txt")));
  ASSERT_FALSE(cards.empty());
  EXPECT_EQ(cards.back().substr(0, 6), "CH-SUM");
}

// The input is read once, so a named pipe (or a process substitution) works.
TEST(Cli, InputFromANamedPipeGivesTheSameResult) {
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:a.txt l:a.log").Code, 0);
  ASSERT_EQ(mkfifo(dir.File("pipe.pdb").c_str(), 0600), 0);
  const RunResult r =
      RunCavitas(dir, "i:pipe.pdb o:b.txt l:b.log", "(cat '" + DataFile("1ubq.pdb") + "' >'" + dir.File("pipe.pdb") + "' &) && ");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadFile(dir.File("a.txt")), ReadFile(dir.File("b.txt")));
}

// PDB and mmCIF, plain or gzip, or on standard input: told from the content.
TEST(Cli, InputFormatsAreToldFromTheContent) {
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:pdb.txt l:pdb.log").Code, 0);
  auto records = [&](const std::string& file) {
    std::string kept;
    for (const std::string& line : Lines(ReadFile(dir.File(file))))
      if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0 || line.rfind("HOLE", 0) == 0 ||
          line.rfind("NRHOLE", 0) == 0)
        kept += line + "\n";
    return kept;
  };
  const RunResult cif = RunCavitas(dir, "i:'" + DataFile("1ubq.cif.gz") + "' o:cif.txt l:cif.log");
  ASSERT_EQ(cif.Code, 0) << cif.Err;
  EXPECT_EQ(records("cif.txt"), records("pdb.txt"));
  ASSERT_EQ(RunCavitas(dir, "o:gz.txt l:gz.log i:in.pdb.gz", "gzip -c '" + DataFile("1ubq.pdb") + "' >'" +
                                                                  dir.File("in.pdb.gz") + "' && ")
                .Code,
            0);
  EXPECT_EQ(ReadFile(dir.File("gz.txt")), ReadFile(dir.File("pdb.txt")));
  const std::string fromStdin = "cd '" + dir.Path().string() + "' && '" + CAVITAS_BINARY +
                                "' i:- o:stdin.txt l:stdin.log 2>/dev/null <'" + DataFile("1ubq.pdb") + "'";
  ASSERT_EQ(std::system(fromStdin.c_str()), 0);
  EXPECT_EQ(ReadFile(dir.File("stdin.txt")), ReadFile(dir.File("pdb.txt")));

  WriteFile(dir.File("letter.txt"), "Dear reader,\nthis is no structure.\n");
  const RunResult prose = RunCavitas(dir, "i:letter.txt o:r.txt l:r.log");
  EXPECT_EQ(prose.Code, 1);
  EXPECT_NE(prose.Err.find("letter.txt: not a PDB or mmCIF file"), std::string::npos) << prose.Err;
  EXPECT_FALSE(fs::exists(dir.File("r.txt")));
}

// Under a limit of the address space the heap grows in ordinary steps; the
// result is the same. A far tighter limit is running out of memory.
TEST(Cli, AddressSpaceLimitGivesTheSameResultOrOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer runtime needs the whole address space";
#else
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:a.txt l:a.log").Code, 0);
  EXPECT_EQ(RunCavitas(dir, Input1ubq() + " o:b.txt l:b.log", "ulimit -v 1000000 && ").Code, 0);
  EXPECT_EQ(ReadFile(dir.File("a.txt")), ReadFile(dir.File("b.txt")));
  // 3o21 (13 000 atoms, compressed among the golden inputs) in 30 MB.
  const fs::path large = fs::path(CAVITAS_TEST_DATA).parent_path() / "golden" / "inputs" / "3o21.pdb.gz";
  const RunResult r = RunCavitas(dir, "i:'" + large.string() + "' o:b.txt l:b.log", "ulimit -v 30000 && ");
  EXPECT_EQ(r.Code, ToInt(TExitCode::OutOfMemory));
  EXPECT_NE(r.Err.find("cavitas: out of memory"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the result file b.txt"), std::string::npos) << r.Err;
  EXPECT_FALSE(fs::exists(dir.File("b.txt")));
#endif
}

// A write that fails (here a file-size limit, as a full disk would) is
// reported with the file and the reason; no partial or temporary file stays.
TEST(Cli, WriteErrorIsFileErrorWithReasonAndLeavesNoPartialFile) {
  TempDir dir;
  ASSERT_EQ(RunCavitas(dir, Input1ubq() + " o:r.txt l:r.log").Code, 0);
  const RunResult r = RunCavitas(dir, Input1ubq() + " o:r.txt l:r.log s:c.crd", "ulimit -f 20 && ");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("cannot write structure-card file c.crd: File too large"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the result file r.txt of an earlier run"), std::string::npos) << r.Err;
  EXPECT_EQ(Names(dir), std::set<std::string>{"r.log"});
  EXPECT_NE(ReadFile(dir.File("r.log")).find("File too large"), std::string::npos);
}

TEST(Cli, FailedReadExitsThreeWithReasonAndRemovesAnEarlierResult) {
  TempDir dir;
  WriteFile(dir.File("het.pdb"),
            "HETATM    1  O   HOH A 101      10.000  10.000  10.000  1.00 20.00           O\n"
            "HETATM    2 FE   HEM A 102      12.000  10.000  10.000  1.00 20.00          FE\n"
            "END\n");
  WriteFile(dir.File("r.txt"), "the result of an earlier run\n");
  WriteFile(dir.File("c.crd"), "the cards of an earlier run\n");
  WriteFile(dir.File("r.json"), "{}\n");
  WriteFile(dir.File("v.pml"), "# the script of an earlier run\n");
  const RunResult r = RunCavitas(dir, "i:het.pdb o:r.txt l:r.log s:c.crd j:r.json p:v");
  EXPECT_EQ(r.Code, 3);
  EXPECT_NE(r.Err.find("NO RESIDUE WITH COMPLETE BACKBONE"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the result file r.txt"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the structure-card file c.crd"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the JSON file r.json"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("removed the PyMOL script v.pml"), std::string::npos) << r.Err;
  EXPECT_TRUE(r.Out.empty()) << r.Out;
  EXPECT_EQ(Names(dir), (std::set<std::string>{"het.pdb", "r.log"}));
  const std::vector<std::string> lines = Lines(ReadFile(dir.File("r.log")));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines.back().substr(0, 18), "insgesamt       : ");
}

// 801 sodium ions 10 A apart beside a peptide: each a part of its own, one
// more than the old cluster table held (it ended with internal error 301).
TEST(Cli, ManyDetachedPartsGiveAResult) {
  TempDir dir;
  WriteFile(dir.File("ions.pdb"), PeptideWithIons(801));
  const RunResult r = RunCavitas(dir, "i:ions.pdb o:r.txt l:r.log");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(ReadFile(dir.File("r.log")).find("802 disconnected Parts with Hetatoms"), std::string::npos);
  EXPECT_EQ(Lines(ReadFile(dir.File("r.txt"))).back().substr(0, 6), "CH-SUM");
}


// SIGINT and SIGTERM in the middle of the analysis: the conventional status,
// no result file (an earlier one is removed), no temporary file, and the log
// of the run so far with a line that says so.
TEST(Cli, SignalEndsTheRunPromptlyAndLeavesNoResult) {
  for (const int sig : {SIGINT, SIGTERM}) {
    TempDir dir;
    WriteFile(dir.File("r.txt"), "the result of an earlier run\n");
    const auto start = std::chrono::steady_clock::now();
    // A fine volume grid keeps the run busy for minutes; it is stopped as soon
    // as its log shows the surfaces done.
    const pid_t pid = Spawn(dir, Input1ubq() + " o:r.txt l:r.log s:c.crd ex:0.01");
    bool busy = false;
    while (!busy && std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (const std::string& n : Names(dir))
        if (n.rfind("r.log.cavitas-", 0) == 0 && ReadFile(dir.File(n)).find("Connolly 1") != std::string::npos)
          busy = true;
    }
    ASSERT_TRUE(busy);
    kill(pid, sig);
    EXPECT_EQ(WaitExit(pid), sig == SIGINT ? 130 : 143);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(Names(dir), (std::set<std::string>{"r.log", "stderr.txt"}));
    const std::vector<std::string> log = Lines(ReadFile(dir.File("r.log")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), sig == SIGINT ? "run interrupted by SIGINT" : "run interrupted by SIGTERM");
    EXPECT_NE(ReadFile(dir.File("stderr.txt")).find("interrupted"), std::string::npos);
  }
}

TEST(Cli, SignalDuringALargeRun) {
  const std::string large = testing::CorpusFile("3o21x4.pdb");
  if (large.empty()) GTEST_SKIP() << "corpus not available";
  TempDir dir;
  const pid_t pid = Spawn(dir, "i:'" + large + "' o:r.txt l:r.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid), 143);
  EXPECT_FALSE(fs::exists(dir.File("r.txt")));
  EXPECT_FALSE(HasTemporaryFile(dir));
}

// Concurrent runs share the program log beside the executable: every record is
// one whole line that names its run, and each run's records are those of a
// run alone. Their results are those of a run alone. The log is found beside
// the executable also when the program is started through PATH.
TEST(Cli, ConcurrentRunsKeepTheProgramLogWholeAndTheirResults) {
  TempDir dir;
  fs::create_directory(dir.File("bin"));
  fs::copy_file(CAVITAS_BINARY, dir.File("bin/cavitas"));
  WriteFile(dir.File("ions.pdb"), PeptideWithIons(3));
  const std::string path = "PATH='" + dir.File("bin") + "':\"$PATH\" && ";
  ASSERT_EQ(RunCavitas(dir, "i:ions.pdb o:alone.txt l:alone.log", path, "cavitas").Code, 0);
  EXPECT_FALSE(fs::exists(dir.File("cavitas.lg")));
  const std::vector<std::string> alone = Lines(testing::ReadProgramLog(dir.File("bin/cavitas.lg")));
  ASSERT_FALSE(alone.empty());
  fs::remove(dir.File("bin/cavitas.lg"));

  std::string all;
  for (int k = 0; k < 8; ++k) all += "cavitas i:ions.pdb o:r" + std::to_string(k) + ".txt l:r" + std::to_string(k) + ".log & ";
  ASSERT_EQ(RunCavitas(dir, "--version >/dev/null; " + all + "wait", path, "cavitas").Code, 0);
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(ReadFile(dir.File("r" + std::to_string(k) + ".txt")), ReadFile(dir.File("alone.txt"))) << k;

  const std::regex record("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z\t([0-9]+)\tions\\.pdb\t(.*)\r");
  std::map<std::string, std::vector<std::string>> byProcess;
  std::istringstream in(ReadFile(dir.File("bin/cavitas.lg")));
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, record)) << line;
    byProcess[m[1]].push_back(m[2]);
  }
  EXPECT_EQ(byProcess.size(), 8u);
  for (const auto& [pid, texts] : byProcess) EXPECT_EQ(texts, alone) << pid;
}

TEST(Cli, ModelsAndAlternateLocationsLeftOutAreNoted) {
  TempDir dir;
  std::string atoms;
  for (const std::string& line : Lines(ReadFile(DataFile("pept.pdb"))))
    if (line.rfind("ATOM", 0) == 0) atoms += line + "\n";
  std::string altB = atoms.substr(0, atoms.find('\n') + 1);
  altB[16] = 'B';
  WriteFile(dir.File("models.pdb"), "MODEL        1\n" + atoms + altB + "ENDMDL\nMODEL        2\n" + atoms + "ENDMDL\n");
  const RunResult r = RunCavitas(dir, "i:models.pdb o:r.txt l:r.log");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Err.find("note: models.pdb: 2 models; only model 1 is analysed"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("note: models.pdb: 1 atoms at a second or later alternate location left out"),
            std::string::npos)
      << r.Err;
  const std::string log = ReadFile(dir.File("r.log"));
  EXPECT_NE(log.find("2 models in the file; only model 1 is analysed"), std::string::npos);
  EXPECT_NE(log.find("1 atoms at a second or later alternate location left out"), std::string::npos);
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
  const fs::path corpus = fs::path(any).parent_path();
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

// The README and the manual page list every exit status of the table.
TEST(Cli, DocumentsListEveryExitStatusAndOption) {
  const fs::path root = fs::path(CAVITAS_TEST_DATA).parent_path().parent_path();
  for (const char* doc : {"README.md", "docs/cavitas.1"}) {
    const std::string text = ReadFile((root / doc).string());
    ASSERT_FALSE(text.empty()) << doc;
    for (const TOptionEntry& o : OptionTable())
      EXPECT_NE(text.find(std::string(o.Name) + ":"), std::string::npos) << doc << " lacks option " << o.Name;
    for (const TExitCodeEntry& e : ExitCodeTable()) {
      const std::string code = std::to_string(ToInt(e.Code));
      const std::regex row("(^|\n)(\\| |\\.TP\n\\.B )" + code + "( \\||\n)");
      EXPECT_TRUE(std::regex_search(text, row)) << doc << " lacks exit status " << code;
    }
  }
}

}  // namespace
}  // namespace cavitas
