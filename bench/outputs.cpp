// What the outputs beside the result file add to a run: the cavity and outer
// surface measures (the "measures" stage of the run) and the JSON and viewer
// texts written from the finished run. Counters: the measures stage and the
// share of all three in the whole run, in percent (the budget is 5 on 3o21).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cavity/ContactObject.h"
#include "cavity/JsonOutput.h"
#include "cavity/ViewerFiles.h"
#include "frame/LogFile.h"
#include "model/Radii.h"

namespace {

std::string Find(const std::string& name) {
  std::string path = std::string(CAVITAS_CORPUS) + "/" + name;
  if (!std::filesystem::exists(path)) path = std::string(CAVITAS_TEST_DATA) + "/" + name;
  return std::filesystem::exists(path) ? path : std::string();
}

double StageMs(const cavitas::TRunReport& r, const std::string& name) {
  for (const auto& s : r.Stages)
    if (s.Name == name) return s.Milliseconds;
  return 0;
}

// One run with the measures, then the texts of the JSON and viewer files;
// the measured time is that of the texts.
void Outputs(benchmark::State& state, const char* name) {
  const std::string input = Find(name);
  if (input.empty()) {
    state.SkipWithError("structure not available");
    return;
  }
  const auto dir = std::filesystem::temp_directory_path() / "bench_outputs";
  std::filesystem::create_directories(dir);
  cavitas::ProgramLog().LogFileName = (dir / "program.lg").string();
  auto object = std::make_unique<cavitas::TNewContactObject>();
  object->MeasureHoles = true;
  object->Run(input, (dir / "run.log").string(), true, (dir / "result.txt").string());
  const double measures = StageMs(object->Report, "measures"), total = StageMs(object->Report, "total");
  std::vector<double> jsonMs, viewerMs;
  std::size_t bytes = 0;
  auto since = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
  };
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::string json = cavitas::RunJsonText(*object, {"bench", {"cavitas"}, input});
    jsonMs.push_back(since(start));
    const auto viewer = std::chrono::steady_clock::now();
    const cavitas::TViewerTexts texts = cavitas::ViewerTexts(*object, "bench", "x.pdb");
    viewerMs.push_back(since(viewer));
    bytes = json.size() + texts.Pdb.size() + texts.Pymol.size() + texts.Chimera.size();
    benchmark::DoNotOptimize(bytes);
  }
  // The fastest repetition: the machine's other work only ever adds time.
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.front();
  };
  // The program makes both texts side by side.
  const double text = std::max(median(jsonMs), median(viewerMs));
  state.counters["json_ms"] = median(jsonMs);
  state.counters["viewer_ms"] = median(viewerMs);
  state.counters["measures_ms"] = measures;
  state.counters["run_ms"] = total;
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["share_percent"] = total > 0 ? 100 * (measures + text) / (total - measures) : 0;
}

BENCHMARK_CAPTURE(Outputs, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Outputs, 1a0q, "1a0q.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Outputs, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(15);

}  // namespace
