#pragma once
// The files one run writes, written so that no file is lost and no script is
// misled: outputs that name the input or each other are refused before
// anything is written, every output can be created before the analysis
// starts, each is written to a temporary file beside it and renamed into
// place only when complete, and a failed run leaves no result file behind.
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace cavitas {

class TOutputFiles {
 public:
  TOutputFiles() = default;
  ~TOutputFiles();  // removes the temporary files not renamed into place
  TOutputFiles(const TOutputFiles&) = delete;
  TOutputFiles& operator=(const TOutputFiles&) = delete;

  // role names the file in messages ("result file"); a result (as opposed to
  // the log) is removed when the run fails. Returns the output's index.
  std::size_t Add(const std::string& role, const std::string& path, bool result);

  // The reason to refuse the outputs, or empty: an output that is the input,
  // or the same file as another output (same path after resolving links, or
  // the same device and inode). Character devices such as /dev/null may be
  // named more than once.
  std::string Conflict(const std::string& input) const;

  // Creates a temporary file beside every output (or opens a device or pipe
  // that is written directly). Throws IoError naming the output and the
  // system's reason; what it created is removed again.
  void Prepare();

  // Where the run writes output k: its temporary file, or the path itself for
  // a device or pipe.
  const std::string& WritePath(std::size_t k) const { return outputs_[k].Write; }

  // Renames output k's temporary file into place (IoError with the reason).
  void Commit(std::size_t k);
  // Removes output k's temporary file; for a result, also a file that an
  // earlier run left at its name. Returns its role and name when one was removed.
  std::string Discard(std::size_t k);
  // For a run ended by a signal: appends logLine to every output that is not a
  // result and puts it in place, removes the results as Discard does, and keeps
  // the lock, so that nothing else is written before the process ends.
  void InterruptAndHold(const std::string& logLine);

  // The message with every temporary name replaced by its output's name.
  std::string Explain(std::string message) const;

 private:
  struct TOutput {
    std::string Role, Path, Target, Write;
    bool Result = false;
    bool Direct = false;   // a device or pipe: written in place
    bool Pending = false;  // a temporary file exists and is not yet renamed
  };
  void RemovePending(TOutput& o);

  std::vector<TOutput> outputs_;
  mutable std::mutex mutex_;
};

// Writes text to path (created or truncated); IoError naming the role, the
// path and the system's reason when it cannot be written.
void WriteTextFile(const std::string& text, const std::string& path, const std::string& role);

}  // namespace cavitas
