#include "frame/CommandLine.h"
#include "frame/Error.h"
#include "frame/ExitCodes.h"

#include <gtest/gtest.h>

namespace cavitas {
namespace {

using TAction = TCommandLine::TAction;

TEST(ParseCommandLine, ActionsAndWarnings) {
  struct Case {
    std::vector<std::string> params;
    TAction action;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {{}, TAction::Usage, {}},
      {{"i:a.pdb", "-h"}, TAction::Help, {}},
      {{"--version", "o:r"}, TAction::Version, {}},
      {{"i:a.pdb", "o:r"}, TAction::Run, {}},
      {{"i:a.pdb"}, TAction::UsageError, {}},
      {{"i:", "i:a.pdb", "o:r"}, TAction::Run, {"parameter 'i:' without a value ignored"}},
      {{"i:a.pdb", "o:r", "o:s", "o:t"},
       TAction::Run,
       {"option o: given more than once; the first one (o:r) is used",
        "option o: given more than once; the first one (o:r) is used"}},
      {{"i:a.pdb", "o:r", "i", "-l:x", "colour:red"},
       TAction::Run,
       {"unknown parameter 'i' ignored", "unknown parameter '-l:x' ignored", "unknown parameter 'colour:red' ignored"}},
  };
  for (const Case& c : cases) {
    const TCommandLine cl = ParseCommandLine(c.params);
    EXPECT_EQ(cl.Action, c.action) << ::testing::PrintToString(c.params);
    EXPECT_EQ(cl.Warnings, c.warnings) << ::testing::PrintToString(c.params);
  }
  const TCommandLine cl =
      ParseCommandLine({"o:r", "s:c", "i:a:b.pdb", "l:x.log", "ex:0.1", "rad:protor", "j:r.json", "p:v/x"});
  EXPECT_EQ(cl.JsonFile, "r.json");
  EXPECT_EQ(cl.ViewerPrefix, "v/x");
  EXPECT_TRUE(cl.Warnings.empty());
  EXPECT_EQ(cl.Input, "a:b.pdb");
  EXPECT_EQ(cl.CardFile, "c");
  EXPECT_EQ(cl.LogFile, "x.log");
  EXPECT_EQ(cl.ExactnessText, "0.1");
  EXPECT_EQ(cl.RadiusWord, "protor");
  EXPECT_EQ(ParseCommandLine({"i:a", "o:b"}).LogFile, "test.log");
}

// The command line in the log can be pasted back into a POSIX shell.
TEST(CommandLineText, QuotesWhatTheShellWouldSplitOrExpand) {
  EXPECT_EQ(CommandLineText({"/usr/bin/cavitas", "i:1ubq.pdb", "o:out/r.txt", "ex:0.1"}),
            "/usr/bin/cavitas i:1ubq.pdb o:out/r.txt ex:0.1");
  EXPECT_EQ(CommandLineText({"cavitas", "i:my file.pdb", "o:it's.txt", "l:$HOME", ""}),
            "cavitas 'i:my file.pdb' 'o:it'\\''s.txt' 'l:$HOME' ''");
}

}  // namespace
}  // namespace cavitas

namespace cavitas {
namespace {

// The exits no input is known to reach are checked here, in the mapping that
// main applies: every numbered fatal error has a status below 126 and an
// English line on stderr that keeps the number and the original text.
TEST(ExitCodeOfError, NumberedErrorsMapToTheirStatusAndLine) {
  struct Case {
    int Number;
    TExitCode Code;
    std::string Line;
  };
  const Case cases[] = {
      {5, TExitCode::OutOfMemory, "out of memory"},
      {201, TExitCode::Capacity, "capacity exceeded: x"},
      {401, TExitCode::InternalError, "internal error 401: access through an empty reference in the volume scan [T]"},
      {103, TExitCode::InternalError, "internal error 103: four atoms meet in one surface point [T]"},
      {150, TExitCode::InternalError, "internal error 150: T"},
      {999, TExitCode::InternalError, "internal error 999: T"},
  };
  for (const Case& c : cases) {
    const auto error = static_cast<TErrorCode>(c.Number);  // 999: a number outside the list
    EXPECT_EQ(ExitCodeOfError(error), c.Code) << c.Number;
    EXPECT_LT(ToInt(ExitCodeOfError(error)), 126);
    EXPECT_EQ(FatalErrorLine(error, error == TErrorCode::Capacity ? "capacity exceeded: x" : "T"), c.Line);
  }
}

}  // namespace
}  // namespace cavitas
