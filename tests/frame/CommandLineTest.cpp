#include "frame/CommandLine.h"

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
