#include "structfile/NumberFields.h"

#include <cmath>
#include <charconv>
#include <cstdlib>
#include <string>

namespace cavitas {

namespace {

std::string PadLeft(std::string text, int width) {
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

// Rounds a string of decimal digits (most significant first) half away from
// zero to `keep` digits. Returns true when the carry runs out of the top digit;
// the string then holds a leading 1 followed by `keep` zeros.
bool RoundDigits(std::string& digits, std::size_t keep) {
  if (digits.size() <= keep) return false;
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (!up) return false;
  for (std::size_t i = keep; i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
  return true;
}

}  // namespace

std::string FormatInt(std::int64_t value, int width) { return PadLeft(std::to_string(value), width); }

std::string FormatReal(double value, int width, int decimals) {
  if (std::isnan(value)) return PadLeft("NAN", width);
  if (std::isinf(value)) return PadLeft(value < 0 ? "-INF" : "INF", width);
  if (decimals < 0) decimals = 0;
  const int precision = width < 1 ? 1 : width;
  const bool negative = std::signbit(value);

  // Leading digits of |v|, exactly rounded at the 41st: enough for every tie
  // decision at the widths cards use, and free of the locale.
  char buf[96];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 40);
  *res.ptr = '\0';
  std::string digits;
  digits.reserve(48);
  digits.push_back(buf[0]);
  const char* p = buf + 2;
  while (*p >= '0' && *p <= '9') digits.push_back(*p++);
  int exponent = std::atoi(p + 1) + 1;  // value = 0.d1d2d3... x 10^exponent
  if (value == 0) {
    digits.assign(1, '0');
    exponent = 1;
  }

  // First rounding: w significant digits.
  if (RoundDigits(digits, static_cast<std::size_t>(precision))) ++exponent;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits.size() == 1 && digits[0] == '0') exponent = 1;

  if (exponent > precision) {
    std::string text = negative ? "-" : "";
    text += digits[0];
    if (digits.size() > 1) {
      text += '.';
      text.append(digits, 1);
    }
    text += 'E';
    text += std::to_string(exponent - 1);
    return PadLeft(text, width);
  }

  // Second rounding: d decimals. s holds the integer digits, then the
  // fraction, without the point.
  std::size_t intDigits;
  std::string s;
  if (exponent >= 1) {
    intDigits = static_cast<std::size_t>(exponent);
    s = digits;
    if (s.size() < intDigits) s.append(intDigits - s.size(), '0');
  } else {
    intDigits = 1;
    s = std::string(static_cast<std::size_t>(1 - exponent), '0') + digits;
  }
  const std::size_t keep = intDigits + static_cast<std::size_t>(decimals);
  if (RoundDigits(s, keep)) ++intDigits;
  if (s.size() < intDigits + static_cast<std::size_t>(decimals)) s.append(intDigits + static_cast<std::size_t>(decimals) - s.size(), '0');
  std::string intPart = s.substr(0, intDigits);
  const std::string fracPart = s.substr(intDigits);
  while (intPart.size() > 1 && intPart[0] == '0') intPart.erase(0, 1);
  bool zero = true;
  for (char c : intPart + fracPart) zero = zero && c == '0';
  std::string text = (negative && !zero) ? "-" : "";
  text += intPart;
  if (decimals > 0) {
    text += '.';
    text += fracPart;
  }
  return PadLeft(text, width);
}

}  // namespace cavitas
