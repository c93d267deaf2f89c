#include "TestSupport.h"

#include <fstream>
#include <random>
#include <sstream>

namespace cavitas::testing {

std::string DataFile(const std::string& name) { return std::string(CAVITAS_TEST_DATA) + "/" + name; }

std::string CorpusFile(const std::string& name) {
  const std::filesystem::path p = std::filesystem::path(CAVITAS_TEST_DATA) / ".." / ".." / ".." / "shared" / "corpus" / name;
  return std::filesystem::exists(p) ? p.string() : std::string();
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("cavitas_test_" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string ReadProgramLog(const std::string& path) {
  const std::string text = ReadFile(path);
  std::string plain;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    std::size_t from = begin;
    for (int tab = 0; tab < 3 && from < end; ++tab) {
      const std::size_t t = text.find('\t', from);
      if (t == std::string::npos || t >= end) break;
      from = t + 1;
    }
    plain.append(text, from, end - from);
    begin = end;
  }
  return plain;
}

}  // namespace cavitas::testing
