#pragma once
// The CRC register of structure cards and result files: IEEE 802.3 table,
// started at -1, no final inversion; line ends are never summed.
#include <cstdint>
#include <string>

namespace cavitas {

std::int32_t UpdateCheckSum(std::uint8_t b, std::int32_t r);
void AddToCheckSum(const std::string& text, std::int32_t& sum);
// The value of the file's CH-SUM card, or -1 when it has none.
std::int32_t ReadCheckSum(const std::string& fileName);

}  // namespace cavitas
