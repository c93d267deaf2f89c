#pragma once
// Shared helpers of the test executables.
#include <filesystem>
#include <string>

namespace cavitas::testing {

// Path of a file in tests/data.
std::string DataFile(const std::string& name);
// Path of a corpus file beside the project (../shared/corpus), or "" when absent.
std::string CorpusFile(const std::string& name);
// A fresh empty directory for one test, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};
// Writes text to a file (binary, exactly as given).
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
// The program log without the time, process and input columns of its records,
// so that the texts of two runs can be compared.
std::string ReadProgramLog(const std::string& path);

}  // namespace cavitas::testing
