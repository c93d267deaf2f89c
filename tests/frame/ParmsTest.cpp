#include "frame/Parms.h"

#include <gtest/gtest.h>

namespace cavitas {
namespace {

TEST(GetStringOption, FirstExactCaseSensitiveMatchWins) {
  struct Case {
    std::vector<std::string> params;
    bool found;
    std::string value;
  };
  const Case cases[] = {
      {{"-i:x.pdb"}, false, "keep"},
      {{"I:x.pdb"}, false, "keep"},
      {{"i:", "i:y.pdb"}, true, "y.pdb"},
      {{"i:a", "i:b"}, true, "a"},
      {{"in:a", "i:b"}, true, "b"},
      {{"i: spaced "}, true, " spaced "},
  };
  for (const Case& c : cases) {
    std::string value = "keep";
    bool found = true;
    GetStringOption(c.params, "i", value, found);
    EXPECT_EQ(found, c.found) << c.params[0];
    EXPECT_EQ(value, c.value) << c.params[0];
  }
}

TEST(GetNumberOption, ConvertsWithDotOnly) {
  double v = 0.2;
  bool found = false;
  GetNumberOption({"ex:0,5"}, "ex", v, found);
  EXPECT_FALSE(found);
  EXPECT_EQ(v, 0.2);
  GetNumberOption({"ex:0.5"}, "ex", v, found);
  EXPECT_TRUE(found);
  EXPECT_EQ(v, 0.5);
  GetNumberOption({"ex:abc"}, "ex", v, found);
  EXPECT_FALSE(found);
  EXPECT_EQ(v, 0.5);
}

}  // namespace
}  // namespace cavitas
