#include "frame/LogFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "frame/Error.h"

namespace cavitas {

TLogFileObject* CurrentLogTarget = nullptr;

namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

void TLogFileObject::SetLogFile(const std::string& name) {
  LogFileName = name;
  std::error_code ec;
  if (std::filesystem::exists(name, ec)) return;
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (!f) {
    if (Tolerant) {
      if (!warned_) std::cerr << "cavitas: warning: cannot create program log " << name << ": " << Reason() << "\n";
      warned_ = true;
      return;
    }
    throw IoError("cannot create log file " + name + ": " + Reason());
  }
  std::fclose(f);
}

void TLogFileObject::ClearLog() {
  std::FILE* f = std::fopen(LogFileName.c_str(), "wb");
  if (!f) throw IoError("cannot create log file " + LogFileName + ": " + Reason());
  std::fclose(f);
}

void TLogFileObject::Append(const std::string& text) {
  std::FILE* f = std::fopen(LogFileName.c_str(), "ab");
  bool ok = f != nullptr;
  if (ok) {
    ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
  }
  if (ok) return;
  if (Tolerant) {
    if (!warned_) std::cerr << "cavitas: warning: cannot write program log " << LogFileName << ": " << Reason() << "\n";
    warned_ = true;
    return;
  }
  throw IoError("cannot write log file " + LogFileName + ": " + Reason());
}

void TLogFileObject::LogLine(const std::string& text) { Append(text + "\r\n"); }
void TLogFileObject::LogText(const std::string& text) { Append(text); }

void ReportLine(const std::string& text) {
  if (CurrentLogTarget) CurrentLogTarget->LogLine(text);
}

std::string ProgramBaseName(const std::string& argv0) {
  std::filesystem::path p(argv0);
  std::string dir = p.parent_path().string();
  std::string base = p.stem().string();
  if (dir.size() < 2) {
    std::error_code ec;
    dir = std::filesystem::current_path(ec).string();
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + base;
}

TLogFileObject& ProgramLog() {
  static TLogFileObject log;
  return log;
}

void InitProgramLog(const std::string& argv0) {
  TLogFileObject& log = ProgramLog();
  log.Tolerant = true;
  log.SetLogFile(ProgramBaseName(argv0) + ".lg");
}

}  // namespace cavitas
