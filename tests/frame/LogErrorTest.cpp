#include <gtest/gtest.h>

#include "TestSupport.h"
#include "frame/Error.h"
#include "frame/LogFile.h"

namespace cavitas {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(TLogFileObject, LinesEndWithCrLfAndAccumulate) {
  TempDir dir;
  TLogFileObject log;
  log.SetLogFile(dir.File("a.log"));
  log.LogLine("first");
  log.LogText("sec");
  log.LogLine("ond");
  EXPECT_EQ(ReadFile(dir.File("a.log")), "first\r\nsecond\r\n");
}

TEST(TLogFileObject, SetLogFileKeepsContentClearLogEmpties) {
  TempDir dir;
  WriteFile(dir.File("b.log"), "old\r\n");
  TLogFileObject log;
  log.SetLogFile(dir.File("b.log"));
  EXPECT_EQ(ReadFile(dir.File("b.log")), "old\r\n");
  log.ClearLog();
  EXPECT_EQ(ReadFile(dir.File("b.log")), "");
}

TEST(TLogFileObject, UnwritableLogThrowsIoErrorUnlessTolerant) {
  TempDir dir;
  TLogFileObject log;
  log.LogFileName = dir.File("missing/dir/x.log");
  EXPECT_THROW(log.LogLine("x"), IoError);
  log.Tolerant = true;
  EXPECT_NO_THROW(log.LogLine("x"));
}

TEST(ReportLine, GoesToTheGivenLogOnly) {
  TempDir dir;
  TLogFileObject log;
  log.SetLogFile(dir.File("r.log"));
  ReportLine(nullptr, "lost");
  ReportLine(&log, "kept");
  EXPECT_EQ(ReadFile(dir.File("r.log")), "kept\r\n");
}

TEST(ProgramBaseName, DropsExtensionAndUsesCurrentDirForShortDir) {
  EXPECT_EQ(ProgramBaseName("/opt/tools/cavitas.exe"), "/opt/tools/cavitas");
  EXPECT_EQ(ProgramBaseName("/usr/bin/cavitas"), "/usr/bin/cavitas");
  const std::string here = ProgramBaseName("cavitas");
  EXPECT_EQ(here, std::filesystem::current_path().string() + "/cavitas");
}

TEST(ShowError, FatalTextAndCode) {
  struct Case {
    int code;
    std::string text;
  };
  const Case cases[] = {
      {101, "Es wird versucht, bei einem Connolly1-Objekt mehr Kanten zu bearbeiten als existieren - in Conolly bei "
            "TConollyObject1.Kante ! "},
      {999, "Undefinierter Fehler   - in Conolly bei TConollyObject1.Kante ! "},
      {401, "Zugriff auf einen nil-Zeiger   - in Conolly bei TConollyObject1.Kante ! "},
  };
  for (const Case& c : cases) {
    try {
      RaiseError(static_cast<TErrorCode>(c.code), "Conolly", "TConollyObject1.Kante");
      FAIL() << "no throw";
    } catch (const FatalError& e) {
      EXPECT_EQ(ToInt(e.Code), c.code);
      EXPECT_EQ(e.Text, c.text);
    }
  }
}

TEST(ShowError, NotHaltingHasNoEffect) {
  EXPECT_NO_THROW(ShowError(TErrorCode::ContactPatchNotFound, "Conolly", "ClusterConolly", false));
}

TEST(CheckMemory, GuardsAtSixtyMillionAndOneBytes) {
  EXPECT_TRUE(CheckMemory(60000000));
  try {
    CheckMemory(60000001);
    FAIL() << "no throw";
  } catch (const FatalError& e) {
    EXPECT_EQ(ToInt(e.Code), 5);
  }
}

}  // namespace
}  // namespace cavitas
