#pragma once
// Running the real binary from a test: the command line as users and
// pipelines see it.
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace cavitas::testing {

struct RunResult {
  int Code;
  std::string Out, Err;
};

// Runs `prefix` (shell commands such as a ulimit), then the program (default:
// the one built) in `dir` with `args`; standard output and error are kept,
// and their files removed again.
inline RunResult RunCavitas(const TempDir& dir, const std::string& args, const std::string& prefix = "",
                            const std::string& binary = CAVITAS_BINARY) {
  const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
  const std::string cmd = prefix + "cd '" + dir.Path().string() + "' && '" + binary + "' " + args + " >'" + out +
                          "' 2>'" + err + "' </dev/null";
  const int status = std::system(cmd.c_str());
  RunResult r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

// The lines of a text, without CR LF or LF.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace cavitas::testing
