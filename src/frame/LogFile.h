#pragma once
// Plain-text logs: every line is appended by opening, writing and closing the
// file, so a log is complete on disk after each line even if the run ends abruptly.
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
  // Appends text and a CR LF line end.
  void LogLine(const std::string& text);
  // Appends text without a line end.
  void LogText(const std::string& text);

  std::string LogFileName = "test.log";
  // The program log must never stop a run: it warns once on stderr instead of throwing.
  bool Tolerant = false;

 private:
  void Append(const std::string& text);
  bool warned_ = false;
};

// The object whose log receives ReportLine; nullptr drops the lines.
extern TLogFileObject* CurrentLogTarget;
void ReportLine(const std::string& text);

// Directory and name of the program without extension; the current directory
// replaces a directory part shorter than 2 characters.
std::string ProgramBaseName(const std::string& argv0);

// The log beside the executable (ProgramBaseName + ".lg"), accumulating over runs.
TLogFileObject& ProgramLog();
void InitProgramLog(const std::string& argv0);

}  // namespace cavitas
