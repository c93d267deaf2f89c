#include <gtest/gtest.h>

#include "TestSupport.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "structfile/CheckSum.h"

namespace cavitas {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ReadCheckSum, CardCases) {
  struct Case {
    const char* text;
    std::int32_t value;
    bool reported;
  };
  const Case cases[] = {
      {"HEADER x\nEND\n", -1, false},
      {"CH-SUM  -891568579\n", -891568579, false},
      {"CH-SUM  -891568579\r\n", -891568579, false},  // CR LF file
      {"CH-SUM 1\nCH-SUM 2\n", 2, false},              // a later card replaces the value
      {"CH-SUM      \nCH-SUM\n", -1, false},           // no value at all: not a card
      {"CH-SUM  12ab\n", -1, true},
      {"CH-SUM 5\nCH-SUM 99999999999\n", 5, true},     // beyond 32 bits: kept as it was
  };
  TempDir dir;
  TLogFileObject log;
  log.SetLogFile(dir.File("r.log"));
  for (const Case& c : cases) {
    log.ClearLog();
    WriteFile(dir.File("in.pdb"), c.text);
    EXPECT_EQ(ReadCheckSum(dir.File("in.pdb"), &log), c.value) << c.text;
    EXPECT_EQ(!ReadFile(dir.File("r.log")).empty(), c.reported) << c.text;
  }
}

TEST(ReadCheckSum, MissingFileIsAnIoError) { EXPECT_THROW(ReadCheckSum("/nonexistent/x.pdb", nullptr), IoError); }

}  // namespace
}  // namespace cavitas
