#include "cavity/ViewerFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "input/PdbReader.h"
#include "structfile/NumberFields.h"

namespace cavitas {
namespace {

// Serials the viewer file writes read back as the same numbers; the
// hybrid-36 ranges meet without a gap.
TEST(ViewerFiles, Hybrid36SerialsReadBack) {
  for (const std::int32_t v : {-9999, 0, 1, 99999, 100000, 100001, 1000000, 43770015, 43770016, 87440031}) {
    const std::string s = Hybrid36(v);
    EXPECT_EQ(s.size(), 5u) << v;
    EXPECT_EQ(ParseSerial(s), v) << s;
  }
  EXPECT_EQ(Hybrid36(100000), "A0000");
  EXPECT_EQ(Hybrid36(43770016), "a0000");
  EXPECT_EQ(Hybrid36(87440032), "*****");
  for (const char* field : {"     ", "*****", "12a4", "A000", "Ab000", "1 2"})
    EXPECT_EQ(ParseSerial(field), kNoSerial) << field;
  EXPECT_EQ(ParseSerial("  -12"), -12);
}

TEST(ViewerFiles, ElementFromAtomName) {
  struct Case {
    const char* name;
    bool hetero;
    const char* element;
  };
  for (const Case& c : {Case{" CA ", false, "C"}, Case{"CA  ", true, "CA"}, Case{" CA ", true, "C"},
                        Case{"FE  ", true, "FE"}, Case{"C1A ", true, "C"}, Case{"1HB ", false, "H"},
                        Case{" OXT", false, "O"}, Case{"\xc3\xa9" "C2", true, ""}})
    EXPECT_EQ(ElementOfAtomName(c.name, c.hetero), c.element) << c.name;
}

// The volumes of the JSON and viewer files are the result file's numbers,
// also at the ties of its two roundings.
TEST(ViewerFiles, PrintedVolumeIsTheResultFilesNumber) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-5.0f, 400.0f);
  std::vector<float> values{0.0f, -0.0f, 0.005f, 0.015f, 0.125f, 1.005f, 2.675f, 12.345f, 99999.99f, 123456.7f};
  for (int k = 0; k < 200000; ++k) values.push_back(value(random));
  for (int k = 0; k < 20000; ++k) values.push_back(std::nextafter(static_cast<float>(k) / 200 + 0.005f, 1e9f));
  for (const float v : values) {
    const std::string text = FormatReal(v, 7, 2);
    ASSERT_EQ(PrintedVolume(v), std::strtod(text.c_str(), nullptr)) << v << " printed " << text;
  }
}

}  // namespace
}  // namespace cavitas
