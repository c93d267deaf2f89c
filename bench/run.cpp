// The whole analysis of one structure, as one run of the program performs it:
// read, inner waters, both surface passes and their holes, volumes, result
// file. Wall time (the threaded stages use all cores; taskset -c 0 for one).
// Growth with size: 3o21x4 holds four copies of 3o21. Odd coordinates (a
// stray atom, a moved structure, doubled lines) cost what the clean one costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cavity/ContactObject.h"
#include "frame/LogFile.h"
#include "model/Radii.h"

namespace {

std::string Find(const std::string& name) {
  std::string path = std::string(CAVITAS_CORPUS) + "/" + name;
  if (!std::filesystem::exists(path)) path = std::string(CAVITAS_TEST_DATA) + "/" + name;
  return std::filesystem::exists(path) ? path : std::string();
}

void WholeRun(benchmark::State& state, const char* name) {
  const std::string input = Find(name);
  if (input.empty()) {
    state.SkipWithError("structure not available");
    return;
  }
  const auto dir = std::filesystem::temp_directory_path() / "bench_run";
  std::filesystem::create_directories(dir);
  cavitas::ProgramLog().LogFileName = (dir / "program.lg").string();
  std::int32_t atoms = 0;
  for (auto _ : state) {
    auto object = std::make_unique<cavitas::TNewContactObject>();
    object->Run(input, (dir / "run.log").string(), true, (dir / "result.txt").string());
    atoms = object->AtomCount;
    state.PauseTiming();
    object.reset();
    state.ResumeTiming();
  }
  state.counters["atoms"] = atoms;
}

// 1ubq with each coordinate line passed through `edit`, written once to a temporary file.
template <class Edit>
std::string Variant(const char* name, Edit&& edit) {
  const auto path = std::filesystem::temp_directory_path() / (std::string("bench_run_") + name + ".pdb");
  std::ifstream in(std::string(CAVITAS_TEST_DATA) + "/1ubq.pdb");
  std::ostringstream out;
  for (std::string line; std::getline(in, line);)
    out << (line.rfind("ATOM  ", 0) == 0 || line.rfind("HETATM", 0) == 0 ? edit(line) : line) << '\n';
  std::ofstream(path) << out.str();
  return path.string();
}

std::string Shifted(const std::string& line, double d) {
  char field[32];
  std::string out = line.substr(0, 30);
  for (int k = 0; k < 3; ++k) {
    std::snprintf(field, sizeof field, "%8.3f", std::atof(line.substr(30 + 8 * static_cast<std::size_t>(k), 8).c_str()) + d);
    out += field;
  }
  return out + line.substr(54);
}

// 1ubq as it is, with a stray ion 5000 Å out on the diagonal, moved by 3000 Å,
// with every seventh coordinate line doubled: the same work, the same time.
void OddCoordinates(benchmark::State& state, int variant) {
  static const std::string files[] = {
      std::string(CAVITAS_TEST_DATA) + "/1ubq.pdb",
      Variant("stray", [](const std::string& l) {
        return l.rfind("HETATM  661", 0) == 0
                   ? l + "\nHETATM 9999 NA    NA Z 900    5000.0005000.0005000.000  1.00 20.00          NA"
                   : l;
      }),
      Variant("moved", [](const std::string& l) { return Shifted(l, 3000); }),
      Variant("doubled", [n = 0](const std::string& l) mutable { return ++n % 7 == 0 ? l + "\n" + l : l; })};
  const std::string& input = files[variant];
  const auto dir = std::filesystem::temp_directory_path() / "bench_run";
  std::filesystem::create_directories(dir);
  cavitas::ProgramLog().LogFileName = (dir / "program.lg").string();
  for (auto _ : state) {
    auto object = std::make_unique<cavitas::TNewContactObject>();
    object->Run(input, (dir / "run.log").string(), true, (dir / "result.txt").string());
    if (object->Status == cavitas::TRunStatus::Failed) state.SkipWithError("the run failed");
  }
}

BENCHMARK_CAPTURE(OddCoordinates, 1ubq_clean, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OddCoordinates, 1ubq_stray_5000, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OddCoordinates, 1ubq_moved_3000, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(OddCoordinates, 1ubq_doubled_lines, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(WholeRun, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(WholeRun, 1a0q, "1a0q.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(WholeRun, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(WholeRun, 3o21x4, "3o21x4.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
