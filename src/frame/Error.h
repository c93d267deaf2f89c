#pragma once
// Numbered internal errors, the memory guard and the exceptions that carry a
// run's end to main. Nothing below app/ calls exit: a fatal error throws.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace cavitas {

// The numbered errors; the numbers are those stderr and the log print.
enum class TErrorCode : int {
  OutOfMemory = 5,             // the memory guard
  ContactPointOffSphere = 40,  // a contact patch whose edge leaves its atom sphere
  EdgeOutOfRange = 101,        // more edges asked of a contact patch than it has
  TooManyElements = 102,
  FourAtomPoint = 103,         // four atoms meet in one surface point after every displacement
  NoInnerPoint = 104,
  SweepWithoutStart = 150,     // a probe circle sweep without a start row
  InconsistentEdge = 200,      // the crossing test met inconsistent edge geometry
  Capacity = 201,              // a bound of the data model
  TooManyClusters = 301,
  ContactPatchNotFound = 302,
  TooManyContactPatches = 303,
  NullAccess = 401,
  TooManyHetGroups = 402,
};
constexpr int ToInt(TErrorCode code) { return static_cast<int>(code); }

// A fatal error of a stage, by its number (Code) and composed text; main
// reports it and exits with the status the exit-code table gives the number.
struct FatalError : std::runtime_error {
  FatalError(TErrorCode code, std::string text) : std::runtime_error(text), Code(code), Text(std::move(text)) {}
  TErrorCode Code;
  std::string Text;
};

// A file that cannot be opened, read or written: exit code 1.
struct IoError : std::runtime_error {
  explicit IoError(const std::string& what) : std::runtime_error(what) {}
};

// The system's reason for a failed file operation (its errno), never "Success".
std::string SystemReason(int error);

// A bound of the data model that the system would otherwise overrun: error
// Capacity (exit status Capacity).
[[noreturn]] void RaiseLimit(const std::string& bound);

// Message and continuation of an error code ("Undefinierter Fehler" for unknown codes).
struct ErrorMessage {
  std::string Message;
  std::string Continuation;  // " " when the code has none
};
ErrorMessage LookupError(TErrorCode code);

// The text shown before a fatal exit:
// message + " " + continuation + " - in " + unit + " bei " + routine + " ! ".
std::string ComposeFatalText(TErrorCode code, const std::string& unit, const std::string& routine);

// Halt false only feeds the (inactive) display; Halt true throws FatalError{code, text}.
void ShowError(TErrorCode code, const std::string& unit, const std::string& routine, bool halt);
[[noreturn]] void RaiseError(TErrorCode code, const std::string& unit, const std::string& routine);

// Requests of 60000001 bytes or more end the run with exit code 5 and the
// message "!!!! Speicherplatz reicht nicht !!!!!!".
constexpr std::int64_t kMemoryGuardBytes = 60000001;
bool CheckMemory(std::int64_t bytes);

}  // namespace cavitas
