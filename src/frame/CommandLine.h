#pragma once
// The command line as the program reads it: name:value options without a
// dash (first match wins), and the conventional --help, -h and --version.
#include <span>
#include <string>
#include <vector>

namespace cavitas {

struct TOptionEntry {
  const char* Name;
  const char* Value;
  const char* Meaning;
};

// Every option, in the order the usage text lists them.
std::span<const TOptionEntry> OptionTable();

struct TCommandLine {
  enum class TAction { Usage, Help, Version, Run, UsageError };
  TAction Action = TAction::Usage;
  std::string Input, Output, LogFile = "test.log", CardFile;
  std::string JsonFile, ViewerPrefix;  // empty when not asked for
  std::string RadiusWord, ExactnessText;  // raw values; empty when not given
  std::vector<std::string> Warnings;      // without the "cavitas: warning: " prefix
  std::string Error;                      // the reason of a usage error
};

// params excludes the program path.
TCommandLine ParseCommandLine(const std::vector<std::string>& params);

const char* ProgramVersion();
// "cavitas VERSION - ..." then the synopsis, the options and the exit statuses.
std::string UsageText();
// The program and its parameters as one line, each parameter quoted for a
// POSIX shell when it needs it.
std::string CommandLineText(const std::vector<std::string>& argv);

}  // namespace cavitas
