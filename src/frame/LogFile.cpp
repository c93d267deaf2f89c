#include "frame/LogFile.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "frame/Error.h"

namespace cavitas {

namespace {

std::string Reason() { return std::strerror(errno); }

// Appends text with one write; false (errno set) when that fails.
bool AppendOnce(const std::string& file, const std::string& text, bool create) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
  if (fd < 0) return false;
  const ssize_t n = ::write(fd, text.data(), text.size());
  const int error = errno;
  const bool closed = ::close(fd) == 0;
  if (n != static_cast<ssize_t>(text.size())) {
    errno = n < 0 ? error : ENOSPC;
    return false;
  }
  return closed;
}

// UTC with milliseconds, e.g. 2026-12-10T04:30:00.123Z.
std::string TimeStamp() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(now.tv_usec / 1000));
  return text;
}

}  // namespace

void TLogFileObject::SetLogFile(const std::string& name) {
  LogFileName = name;
  std::error_code ec;
  if (std::filesystem::exists(name, ec)) return;
  std::FILE* f = std::fopen(name.c_str(), "ab");
  if (!f) return Failed("create", errno);
  std::fclose(f);
}

void TLogFileObject::ClearLog() {
  std::FILE* f = std::fopen(LogFileName.c_str(), "wb");
  if (!f) throw IoError("cannot create log file " + LogFileName + ": " + Reason());
  std::fclose(f);
}

void TLogFileObject::Failed(const char* what, int error) {
  if (!Tolerant) throw IoError(std::string("cannot ") + what + " log file " + LogFileName + ": " + std::strerror(error));
  if (!warned_) std::cerr << "cavitas: warning: cannot " << what << " program log " << LogFileName << ": "
                          << std::strerror(error) << "\n";
  warned_ = true;
}

void TLogFileObject::Append(const std::string& text) {
  if (!AppendOnce(LogFileName, text, false)) Failed("write", errno);
}

void TProgramLog::Append(const std::string& text) {
  const std::string head = TimeStamp() + "\t" + std::to_string(::getpid()) + "\t" + RunLabel + "\t";
  std::string record;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > begin && text[stop - 1] == '\r') --stop;
    record += head;
    record.append(text, begin, stop - begin);
    record += "\r\n";
    begin = end + 1;
  }
  if (record.empty()) record = head + "\r\n";
  if (!AppendOnce(LogFileName, record, true)) Failed("write", errno);
}

void TLogFileObject::LogLine(const std::string& text) { Append(text + "\r\n"); }
void TLogFileObject::LogText(const std::string& text) { Append(text); }

void ReportLine(TLogFileObject* log, const std::string& text) {
  if (log != nullptr) log->LogLine(text);
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

std::string ExecutableBaseName(const std::string& argv0) {
  if (argv0.find('/') == std::string::npos) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && self.is_absolute()) return (self.parent_path() / self.stem()).string();
  }
  return ProgramBaseName(argv0);
}

TProgramLog& ProgramLog() {
  static TProgramLog log;
  return log;
}

void InitProgramLog(const std::string& argv0) {
  TProgramLog& log = ProgramLog();
  log.LogFileName = ExecutableBaseName(argv0) + ".lg";
  std::error_code ec;
  if (std::filesystem::exists(log.LogFileName, ec)) return;
  const int fd = ::open(log.LogFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd >= 0) ::close(fd);
}

}  // namespace cavitas
