// The whole analysis of one structure, as one run of the program performs it:
// read, inner waters, both surface passes and their holes, volumes, result
// file. Wall time (the threaded stages use all cores; taskset -c 0 for one).
// Growth with size: 3o21x4 holds four copies of 3o21.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
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
    cavitas::ResetProgramState();
    auto object = std::make_unique<cavitas::TNewContactObject>();
    object->Run(input, (dir / "run.log").string(), true, (dir / "result.txt").string());
    atoms = object->AtomCount;
    state.PauseTiming();
    object.reset();
    state.ResumeTiming();
  }
  state.counters["atoms"] = atoms;
}

BENCHMARK_CAPTURE(WholeRun, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(WholeRun, 1a0q, "1a0q.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(WholeRun, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(WholeRun, 3o21x4, "3o21x4.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
