#include "frame/ExitCodes.h"

#include <array>

#include "frame/Error.h"

namespace cavitas {

namespace {

constexpr std::array<TExitCodeEntry, 9> kExitCodes{{
    {TExitCode::Success, "success; also after --help, --version or without parameters"},
    {TExitCode::FileError, "a file cannot be opened, read or written (the message names it and the reason)"},
    {TExitCode::Usage,
     "usage error: i: or o: missing, or an output naming the input or another output; nothing is written"},
    {TExitCode::FailedRun, "the structure cannot be analysed; the reason is on stderr and in the log"},
    {TExitCode::InternalError, "internal error of the surface, cavity, volume or water stages (its number on stderr)"},
    {TExitCode::OutOfMemory, "out of memory"},
    {TExitCode::Capacity, "a capacity of the data model was exceeded (the message names it)"},
    {TExitCode::Interrupted, "interrupted (SIGINT)"},
    {TExitCode::Terminated, "terminated (SIGTERM)"},
}};

// English names of the numbered errors whose own text is German; the
// geometry checks (40, 150, 200) carry English texts already.
const char* InternalErrorName(TErrorCode error) {
  switch (ToInt(error)) {
    case 101: return "more edges asked of a contact patch than it has";
    case 103: return "four atoms meet in one surface point";
    case 301: return "more clusters than the cluster table holds";
    case 303: return "a surface element claimed by too many clusters";
    case 401: return "access through an empty reference in the volume scan";
    case 402: return "more hetero groups than the element table holds";
    default: return nullptr;
  }
}

}  // namespace

std::span<const TExitCodeEntry> ExitCodeTable() { return kExitCodes; }

TExitCode ExitCodeOfError(TErrorCode error) {
  if (error == TErrorCode::OutOfMemory) return TExitCode::OutOfMemory;
  if (error == TErrorCode::Capacity) return TExitCode::Capacity;
  return TExitCode::InternalError;
}

std::string FatalErrorLine(TErrorCode error, const std::string& text) {
  switch (ExitCodeOfError(error)) {
    case TExitCode::OutOfMemory: return "out of memory";
    case TExitCode::Capacity: return text;
    default: {
      const std::string head = "internal error " + std::to_string(ToInt(error)) + ": ";
      const char* name = InternalErrorName(error);
      return name ? head + name + " [" + text + "]" : head + text;
    }
  }
}

}  // namespace cavitas
