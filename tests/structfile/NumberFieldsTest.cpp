#include "structfile/NumberFields.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

#include "structfile/CheckSum.h"

namespace cavitas {
namespace {

TEST(FormatInt, PadsLeftAndNeverCuts) {
  EXPECT_EQ(FormatInt(7, 3), "  7");
  EXPECT_EQ(FormatInt(12345, 3), "12345");
  EXPECT_EQ(FormatInt(-12, 5), "  -12");
  EXPECT_EQ(FormatInt(0, 0), "0");
}

TEST(FormatReal, FixedPointRoundedToWidthSignificantDigits) {
  struct Case {
    double v;
    int w, d;
    const char* text;
  };
  const Case cases[] = {
      {50.0, 3, 1, "50.0"},          // the field grows
      {2.0, 3, 1, "2.0"},
      {1.5, 3, 1, "1.5"},
      {12.345f, 8, 3, "  12.345"},    // a Single coordinate prints as read
      {-7.5f, 8, 3, "  -7.500"},
      {-1234.567f, 8, 3, "-1234.567"},  // 8 significant digits, 9 characters
      {1.0, 6, 2, "  1.00"},
      {0.005, 6, 2, "  0.01"},       // 0.005 is just above the half in binary
      {0.004, 6, 2, "  0.00"},
      {-0.004, 6, 2, "  0.00"},      // no sign on a zero result
      {99.996, 6, 2, "100.00"},       // carry into a new integer digit
      {3.47f, 5, 1, "  3.5"},
      {123456.0, 3, 1, "1.23E5"},     // the integer part needs more than w digits
      {999.6, 3, 1, "1E3"},           // rounding to w digits makes it too long
      {0.0, 7, 2, "   0.00"},
      {1234.5678, 4, 1, "1235.0"},    // first 4 significant digits, then 1 decimal
  };
  for (const Case& c : cases) EXPECT_EQ(FormatReal(c.v, c.w, c.d), c.text) << c.v << " " << c.w << " " << c.d;
}

TEST(FormatReal, IndependentOfLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
  EXPECT_EQ(FormatReal(2.5, 3, 1), "2.5");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(CheckSum, AbcGivesTheComplementOfTheStandardCrc) {
  std::int32_t sum = kCheckSumStart;
  AddToCheckSum("abc", sum);
  EXPECT_EQ(sum, -891568579);
  EXPECT_EQ(CheckSumCard(sum), "CH-SUM  -891568579");
}

TEST(CheckSum, LinesAreSummedAsIfConcatenatedWithoutLineEnds) {
  TMyCollection<TString> list;
  list.push_back(std::make_unique<TString>("a"));
  list.push_back(std::make_unique<TString>("bc"));
  std::int32_t viaList = kCheckSumStart;
  std::ostringstream out;
  WriteListWithSum(list, out, viaList);
  EXPECT_EQ(viaList, -891568579);
  EXPECT_EQ(out.str(), "a\nbc\n");
  std::int32_t summed = kCheckSumStart;
  ListCheckSum(list, summed);
  EXPECT_EQ(summed, viaList);
  std::ostringstream plain;
  WriteLines(list, plain);
  EXPECT_EQ(plain.str(), "a\nbc\n");
}

}  // namespace
}  // namespace cavitas
