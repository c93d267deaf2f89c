#include "frame/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "frame/Error.h"

namespace cavitas {

namespace fs = std::filesystem;

namespace {

// The file a name stands for: absolute, with the links of its existing part resolved.
fs::path Resolve(const std::string& name) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(name, ec);
  if (ec) return fs::path(name).lexically_normal();
  const fs::path resolved = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : resolved;
}

bool StatOf(const fs::path& p, struct stat& st) { return ::stat(p.c_str(), &st) == 0; }

bool SameFile(const fs::path& a, const fs::path& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  return StatOf(a, sa) && StatOf(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsCharDevice(const fs::path& p) {
  struct stat st {};
  return StatOf(p, st) && S_ISCHR(st.st_mode);
}

std::string Reason(int error) { return std::strerror(error); }

// Appends text with one write, as the logs do.
bool AppendTo(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

}  // namespace

TOutputFiles::~TOutputFiles() {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (TOutput& o : outputs_) RemovePending(o);
}

std::size_t TOutputFiles::Add(const std::string& role, const std::string& path, bool result) {
  const std::lock_guard<std::mutex> lock(mutex_);
  TOutput o;
  o.Role = role;
  o.Path = path;
  o.Target = Resolve(path).string();
  o.Write = path;
  o.Result = result;
  outputs_.push_back(std::move(o));
  return outputs_.size() - 1;
}

std::string TOutputFiles::Conflict(const std::string& input) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  const fs::path in = Resolve(input);
  for (std::size_t k = 0; k < outputs_.size(); ++k) {
    const TOutput& o = outputs_[k];
    if (IsCharDevice(o.Target)) continue;
    if (SameFile(o.Target, in)) return o.Role + " " + o.Path + " is the input file " + input;
    for (std::size_t j = 0; j < k; ++j)
      if (SameFile(o.Target, outputs_[j].Target))
        return o.Role + " " + o.Path + " is the same file as the " + outputs_[j].Role + " " + outputs_[j].Path;
  }
  return {};
}

void TOutputFiles::RemovePending(TOutput& o) {
  if (!o.Pending) return;
  ::unlink(o.Write.c_str());
  o.Pending = false;
}

void TOutputFiles::Prepare() {
  const std::lock_guard<std::mutex> lock(mutex_);
  try {
    for (TOutput& o : outputs_) {
      const std::string what = "cannot write " + o.Role + " " + o.Path + ": ";
      struct stat st {};
      const bool exists = StatOf(o.Target, st);
      if (exists && S_ISDIR(st.st_mode)) throw IoError(what + Reason(EISDIR));
      if (exists && ::access(o.Target.c_str(), W_OK) != 0) throw IoError(what + Reason(errno));
      if (exists && !S_ISREG(st.st_mode)) {
        o.Direct = true;  // a device or a pipe: there is nothing to rename
        o.Write = o.Target;
        continue;
      }
      const fs::path target(o.Target);
      const std::string stem = (target.parent_path() / target.filename()).string() + ".cavitas-" +
                               std::to_string(::getpid());
      for (int n = 0;; ++n) {
        const std::string temp = stem + (n ? "-" + std::to_string(n) : std::string()) + ".tmp";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST && n < 1000) continue;
        if (fd < 0) throw IoError(what + Reason(errno));
        if (exists) (void)::fchmod(fd, st.st_mode & 07777);  // a replaced file keeps its permissions
        ::close(fd);
        o.Write = temp;
        o.Pending = true;
        break;
      }
    }
  } catch (...) {
    for (TOutput& o : outputs_) RemovePending(o);
    throw;
  }
}

void TOutputFiles::Commit(std::size_t k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  TOutput& o = outputs_[k];
  if (!o.Pending) return;
  if (::rename(o.Write.c_str(), o.Target.c_str()) != 0) {
    const int error = errno;
    RemovePending(o);
    throw IoError("cannot write " + o.Role + " " + o.Path + ": " + Reason(error));
  }
  o.Pending = false;
  o.Write = o.Target;
}

std::string TOutputFiles::Discard(std::size_t k) {
  const std::lock_guard<std::mutex> lock(mutex_);
  TOutput& o = outputs_[k];
  RemovePending(o);
  struct stat st {};
  if (!o.Result || o.Direct || !StatOf(o.Target, st) || !S_ISREG(st.st_mode)) return {};
  return ::unlink(o.Target.c_str()) == 0 ? o.Role + " " + o.Path : std::string();
}

void TOutputFiles::InterruptAndHold(const std::string& logLine) {
  mutex_.lock();  // never released: the process ends next
  for (TOutput& o : outputs_) {
    if (o.Result) {
      RemovePending(o);
      if (!o.Direct) ::unlink(o.Target.c_str());
    } else if (o.Pending) {
      AppendTo(o.Write, logLine);
      if (::rename(o.Write.c_str(), o.Target.c_str()) != 0) RemovePending(o);
      o.Pending = false;
    } else if (!o.Direct) {
      AppendTo(o.Target, logLine);
    }
  }
}

std::string TOutputFiles::Explain(std::string message) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const TOutput& o : outputs_) {
    if (o.Write == o.Path || o.Write == o.Target) continue;
    for (std::size_t at = message.find(o.Write); at != std::string::npos; at = message.find(o.Write, at)) {
      message.replace(at, o.Write.size(), o.Path);
      at += o.Path.size();
    }
  }
  return message;
}

void WriteTextFile(const std::string& text, const std::string& path, const std::string& role) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw IoError("cannot create " + role + " " + path + ": " + SystemReason(errno));
  out << text;
  out.close();
  if (!out) throw IoError("cannot write " + role + " " + path + ": " + SystemReason(errno));
}

}  // namespace cavitas
