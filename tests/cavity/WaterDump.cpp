// Test-only dump of the inner-water search for tools/water_check.py: the atoms
// present at entry, then every examined water with the search's verdict.
//   water_dump <file.pdb>
// Lines: "ATOM number x y z radius" and
//        "WATER index x y z radius nearest P Q candidate exposed inner".
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cavity/ContactObject.h"
#include "cavity/InnerWater.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

int main(int argc, char** argv) {
  using namespace cavitas;
  if (argc != 2) {
    std::fprintf(stderr, "usage: water_dump <file.pdb>\n");
    return 2;
  }
  const auto tmp = std::filesystem::temp_directory_path() / "water_dump";
  std::filesystem::create_directories(tmp);
  ProgramLog().LogFileName = (tmp / "program.lg").string();
  try {
    TNewContactObject p;
    ReadProtein(p, argv[1], (tmp / "run.log").string(), 0);
    p.Context.Log = &p;
    if (p.Status == TRunStatus::Failed) {
      std::fprintf(stderr, "read failed: %s\n", p.StatusText.c_str());
      return 3;
    }
    for (int i = 1; i <= p.AtomCount; ++i) {
      const TAtom& a = *p.AtomAt(i);
      std::printf("ATOM %d %.3f %.3f %.3f %.3f\n", i, a.X, a.Y, a.Z, p.Context.Model.Radius(a));
    }
    std::vector<TCoord> waters;
    std::vector<double> radii;
    for (const auto& w : p.Waters) {
      waters.push_back(*w->Atom);
      radii.push_back(p.Context.Model.Radius(*w->Atom));
    }
    std::vector<TWaterVerdict> trace;
    FindInnerWaterIn(p, &trace);
    for (std::size_t j = 0; j < trace.size(); ++j) {
      const TWaterVerdict& v = trace[j];
      std::printf("WATER %zu %.3f %.3f %.3f %.3f %d %.4f %.4f %d %d %d\n", j + 1, waters[j].X, waters[j].Y, waters[j].Z,
                  radii[j], v.Nearest, v.P, v.Q, v.Candidate ? 1 : 0, v.Exposed ? 1 : 0, v.Inner ? 1 : 0);
    }
  } catch (const FatalError& e) {
    std::fprintf(stderr, "%s\n", e.Text.c_str());
    return ToInt(e.Code);
  }
  return 0;
}
