#pragma once
// The number fields of every card and result line. Both use "." as decimal
// separator whatever the locale, and a field never cuts its number: a longer
// text widens the field.
#include <cstdint>
#include <string>

namespace cavitas {

// I(v, w): decimal text of v, left-padded with blanks to w characters.
std::string FormatInt(std::int64_t value, int width);

// F(v, w, d): v rounded first to w significant digits, then written in fixed
// point with d decimals and left-padded with blanks to w characters. A value
// whose integer part needs more than w digits is written in exponent form
// (w significant digits, trailing zeros dropped, e.g. "1.23E5"). A value that
// rounds to zero is written without a minus sign.
std::string FormatReal(double value, int width, int decimals);

}  // namespace cavitas
