#pragma once
// Plain-text logs: every line is appended by opening, writing and closing the
// file, so a log is complete on disk after each line even if the run ends
// abruptly. A line is one write, so lines of concurrent writers never mix.
#include <string>

namespace cavitas {

class TLogFileObject {
 public:
  TLogFileObject() = default;
  virtual ~TLogFileObject() = default;
  TLogFileObject(const TLogFileObject&) = delete;
  TLogFileObject& operator=(const TLogFileObject&) = delete;

  // Names the log; creates it empty when no file of that name exists.
  void SetLogFile(const std::string& name);
  // Creates or truncates the file.
  void ClearLog();
  // Appends text and a CR LF line end. The file must exist (SetLogFile or
  // ClearLog made it): a log that vanished during a run is an error, not
  // silently made anew.
  void LogLine(const std::string& text);
  // Appends text without a line end.
  void LogText(const std::string& text);

  std::string LogFileName = "test.log";
  // The program log must never stop a run: it warns once on stderr instead of throwing.
  bool Tolerant = false;

 protected:
  virtual void Append(const std::string& text);
  // Tolerant: warns once on stderr; otherwise throws IoError.
  void Failed(const char* what, int error);

 private:
  bool warned_ = false;
};

// The program log, shared by every run of the program: each record is one
// line "time<TAB>process id<TAB>input<TAB>text", appended with one write, so
// that the lines of concurrent runs stay whole and each says whose it is. It
// is created when missing and never stops a run.
class TProgramLog : public TLogFileObject {
 public:
  TProgramLog() { Tolerant = true; }
  std::string RunLabel = "-";  // the input of the run

 protected:
  void Append(const std::string& text) override;
};

// A line to a run's log (TRunContext::Log); nullptr drops it.
void ReportLine(TLogFileObject* log, const std::string& text);

// Directory and name of the program without extension; the current directory
// replaces a directory part shorter than 2 characters.
std::string ProgramBaseName(const std::string& argv0);

// The program's own file: from argv0 when it names a directory, else (a
// program found through PATH) from the system's record of the running executable.
std::string ExecutableBaseName(const std::string& argv0);

// The log beside the executable (its base name + ".lg"), accumulating over runs.
TProgramLog& ProgramLog();
// Names the program log and creates it when missing (silently when it cannot be).
void InitProgramLog(const std::string& argv0);

}  // namespace cavitas
