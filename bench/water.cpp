// The inner-water search on corpus structures, both of its surface
// constructions included, and its nearest-surface-atom search alone (cell grid
// against the straightforward scan).
// Target: 3o21 (about 580 waters) under 0.2 s for the whole search.
// Wall time: the surface constructions use all cores (taskset -c 0 for one).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cavity/Cluster.h"
#include "cavity/ContactObject.h"
#include "cavity/InnerWater.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/NeighbourGrid.h"

namespace {

std::unique_ptr<cavitas::TNewContactObject> Load(const std::string& name) {
  std::string path = std::string(CAVITAS_CORPUS) + "/" + name;
  if (!std::filesystem::exists(path)) path = std::string(CAVITAS_TEST_DATA) + "/" + name;
  if (!std::filesystem::exists(path)) return nullptr;
  const std::string tmp = (std::filesystem::temp_directory_path() / "bench_water").string();
  std::filesystem::create_directories(tmp);
  cavitas::ProgramLog().LogFileName = tmp + "/program.lg";
  auto p = std::make_unique<cavitas::TNewContactObject>();
  cavitas::ReadProtein(*p, path, tmp + "/run.log", 0);
  return p;
}

// The whole search on a fresh copy of the structure each time (the search
// changes the structure); the read is not timed.
void Search(benchmark::State& state, const char* name) {
  if (!Load(name)) {
    state.SkipWithError("structure not available");
    return;
  }
  std::size_t inner = 0, waters = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto p = Load(name);
    waters = p->Waters.size();
    const std::size_t before = p->HetAtoms.size();
    state.ResumeTiming();
    p->FindInnerWater();
    inner = p->HetAtoms.size() - before;
    state.PauseTiming();
    p.reset();
    state.ResumeTiming();
  }
  state.counters["waters"] = static_cast<double>(waters);
  state.counters["inner"] = static_cast<double>(inner);
}

// The nearest surface atom of every examined water against the first outer surface.
template <bool Indexed>
void Nearest(benchmark::State& state, const char* name) {
  auto p = Load(name);
  if (!p) {
    state.SkipWithError("structure not available");
    return;
  }
  cavitas::TClusteredConollyArea area;
  cavitas::BuildNeighbourLists(*p);
  area.Compute(*p, true, true);
  std::vector<std::uint8_t> flags(static_cast<std::size_t>(p->AtomCount) + 1, 0);
  for (int i = 1; i <= p->AtomCount && static_cast<std::size_t>(i) < area.AtomElements.size(); ++i)
    flags[static_cast<std::size_t>(i)] = !area.AtomElements[static_cast<std::size_t>(i)].empty();
  std::vector<const cavitas::TAtom*> waters;
  for (const auto& w : p->Waters)
    waters.push_back(w->Atom);
  for (auto _ : state) {
    auto nearest = Indexed ? cavitas::detail::NearestSurfaceAtomsIndexed(*p, p->AtomCount, flags, waters)
                           : cavitas::detail::NearestSurfaceAtomsScan(*p, p->AtomCount, flags, waters);
    benchmark::DoNotOptimize(nearest.data());
  }
  state.counters["waters"] = static_cast<double>(waters.size());
}

BENCHMARK_CAPTURE(Search, 1hpv, "1hpv.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Search, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
void NearestGrid(benchmark::State& state, const char* name) { Nearest<true>(state, name); }
void NearestScan(benchmark::State& state, const char* name) { Nearest<false>(state, name); }
BENCHMARK_CAPTURE(NearestGrid, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(NearestScan, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
