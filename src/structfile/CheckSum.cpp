#include "structfile/CheckSum.h"

#include <array>

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
  for (unsigned char c : text) sum = UpdateCheckSum(c, sum);
}

std::int32_t ReadCheckSum(const std::string&) { return -1; }  // placeholder until the card reader exists

}  // namespace cavitas
