#pragma once
// The exit statuses of the program: one table, from which the usage text is
// made and against which the README and the manual page are tested.
#include <span>
#include <string>

#include "frame/Error.h"

namespace cavitas {

enum class TExitCode : int {
  Success = 0,
  FileError = 1,
  Usage = 2,
  FailedRun = 3,
  InternalError = 4,
  OutOfMemory = 5,
  Capacity = 6,
  Interrupted = 130,  // SIGINT, 128 + 2 as shells report it
  Terminated = 143,   // SIGTERM, 128 + 15
};

struct TExitCodeEntry {
  TExitCode Code;
  const char* Meaning;
};

std::span<const TExitCodeEntry> ExitCodeTable();

// The exit status of a fatal error by its number: the memory guard (5) keeps
// its status, a capacity of the data model (201) gives Capacity, every other
// numbered error of the stages InternalError. Statuses stay below 126, which
// shells reserve for their own meanings.
TExitCode ExitCodeOfError(TErrorCode error);

// What stderr says of a fatal error: English, with its number and, for the
// numbered internal errors, their own composed text.
std::string FatalErrorLine(TErrorCode error, const std::string& text);

constexpr int ToInt(TExitCode code) { return static_cast<int>(code); }

}  // namespace cavitas
