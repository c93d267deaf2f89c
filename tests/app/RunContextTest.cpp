// Analyses one after another in one process, each with the run context its
// options make, against separate runs of the binary with those options.
#include <gtest/gtest.h>

#include <string>

#include "app/CliSupport.h"
#include "cavity/ContactObject.h"
#include "frame/LogFile.h"
#include "model/Radii.h"

namespace cavitas::testing {
namespace {

// Result and card files byte for byte: neither the radius set, the exactness
// nor anything else of an earlier analysis reaches a later one. The order puts
// the start-up options after the changed ones, where program-wide state would
// have leaked.
TEST(RunContext, AnalysesInOneProcessGiveTheBytesOfSeparateRuns) {
  struct TCase {
    const char* Input;
    const char* Options;
    int RadiusSet;
    double Exactness;
  };
  const TCase cases[] = {
      {"1ubq.pdb", "rad:protor ex:0.1", kProtor, 0.1},
      {"1ubq.pdb", "", kStouten, 0.2},
      {"pept.pdb", "ex:0.05", kStouten, 0.05},
      {"pept.pdb", "rad:protor", kProtor, 0.2},
      {"pept.pdb", "", kStouten, 0.2},
  };
  TempDir dir;
  const std::string programLog = ProgramLog().LogFileName;
  ProgramLog().LogFileName = dir.File("program.lg");
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const TCase& c = cases[k];
    const std::string input = DataFile(c.Input), stem = "run" + std::to_string(k);
    SCOPED_TRACE(stem + ": " + c.Input + " " + c.Options);
    TNewContactObject analysis;
    analysis.Context.Model.SelectRadiusSet(c.RadiusSet);
    ASSERT_TRUE(analysis.Context.Model.SetExactness(c.Exactness));
    analysis.Run(input, dir.File(stem + "_here.log"), true, dir.File(stem + "_here.res"), dir.File(stem + "_here.crd"));
    ASSERT_NE(analysis.Status, TRunStatus::Failed) << analysis.StatusText;

    const RunResult r =
        RunCavitas(dir, "i:'" + input + "' o:" + stem + ".res l:" + stem + ".log s:" + stem + ".crd " + c.Options);
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string result = ReadFile(dir.File(stem + ".res"));
    EXPECT_FALSE(result.empty());
    EXPECT_TRUE(ReadFile(dir.File(stem + "_here.res")) == result) << "result files differ";
    EXPECT_TRUE(ReadFile(dir.File(stem + "_here.crd")) == ReadFile(dir.File(stem + ".crd"))) << "card files differ";
  }
  ProgramLog().LogFileName = programLog;
}

}  // namespace
}  // namespace cavitas::testing
