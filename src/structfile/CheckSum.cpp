#include "structfile/CheckSum.h"

#include <array>
#include <charconv>
#include <fstream>
#include <iterator>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "structfile/NumberFields.h"

namespace cavitas {

namespace {
std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
const std::array<std::uint32_t, 256> kTable = MakeTable();
}  // namespace

std::int32_t UpdateCheckSum(std::uint8_t b, std::int32_t r) {
  const auto u = static_cast<std::uint32_t>(r);
  return static_cast<std::int32_t>(kTable[(u ^ b) & 255u] ^ (u >> 8));
}

void AddToCheckSum(const std::string& text, std::int32_t& sum) {
  auto u = static_cast<std::uint32_t>(sum);
  for (unsigned char c : text) u = kTable[(u ^ c) & 255u] ^ (u >> 8);
  sum = static_cast<std::int32_t>(u);
}

void ListCheckSum(const TMyCollection<TString>& list, std::int32_t& sum) {
  for (const auto& line : list)
    if (line) AddToCheckSum(line->Text, sum);
}

void WriteLineWithSum(const std::string& text, std::ostream& file, std::int32_t& sum) {
  AddToCheckSum(text, sum);
  file << text << '\n';
}

void WriteListWithSum(const TMyCollection<TString>& list, std::ostream& file, std::int32_t& sum) {
  for (const auto& line : list)
    if (line) WriteLineWithSum(line->Text, file, sum);
}

void WriteLines(const TMyCollection<TString>& list, std::ostream& file) {
  for (const auto& line : list)
    if (line) file << line->Text << '\n';
}

std::string CheckSumCard(std::int32_t sum) { return "CH-SUM" + FormatInt(sum, 12); }

std::int32_t ReadCheckSumOfText(std::string_view text, TLogFileObject* log) {
  std::int32_t stored = -1;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() <= 6 || line.substr(0, 6) != "CH-SUM") continue;
    const std::size_t first = line.find_first_not_of(' ', 6);
    if (first == std::string_view::npos) continue;
    const std::size_t last = line.find_last_not_of(" \r\t");
    const char* b = line.data() + first;
    const char* e = line.data() + last + 1;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(*b == '+' ? b + 1 : b, e, value);
    if (ec == std::errc() && ptr == e) {
      stored = value;
    } else {
      ReportLine(log, "CH-SUM card without a valid checksum: " + std::string(line.substr(first)));
    }
  }
  return stored;
}

std::int32_t ReadCheckSum(const std::string& fileName, TLogFileObject* log) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw IoError("cannot open " + fileName);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ReadCheckSumOfText(text, log);
}

void ReadCheckSum(const TProteinObject& protein, const std::string& fileName, std::int32_t& stored) {
  stored = ReadCheckSum(fileName, protein.Context.Log);
}

}  // namespace cavitas
