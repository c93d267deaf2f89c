// Neighbour-list build on real structures: 3o21 (about 12 800 atoms) and its
// four-fold copy 3o21x4 (about 51 000 atoms) to show linear growth. Wall time:
// the scan uses all cores (taskset -c 0 for one).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cavity/ContactObject.h"
#include "input/ReadProtein.h"
#include "model/NeighbourGrid.h"

namespace {

using namespace cavitas;

std::string Corpus(const std::string& name) { return std::string(CAVITAS_CORPUS) + "/" + name; }
std::string LogPath() { return (std::filesystem::temp_directory_path() / "cavitas_bench_model.log").string(); }

std::unique_ptr<TNewContactObject> Read(const std::string& file) {
  auto p = std::make_unique<TNewContactObject>();
  ReadProtein(*p, file, LogPath(), 0);
  return p;
}

void BM_ReadProtein(benchmark::State& state, const std::string& name) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  for (auto _ : state) benchmark::DoNotOptimize(Read(file));
}

void BM_BuildNeighbourLists(benchmark::State& state, const std::string& name) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  auto p = Read(file);
  for (auto _ : state) {
    BuildNeighbourLists(*p);
    benchmark::DoNotOptimize(p->NeighboursNear.get());
  }
  state.counters["atoms"] = p->AtomCount;
  state.counters["het"] = p->AtomCount - p->ProteinAtomCount;
}

void BM_ReadAndNeighbours(benchmark::State& state, const std::string& name) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  for (auto _ : state) {
    auto p = Read(file);
    BuildNeighbourLists(*p);
    benchmark::DoNotOptimize(p->NeighboursNear.get());
  }
}

void BM_RemoveAddHetNeighbours(benchmark::State& state, const std::string& name) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  auto p = Read(file);
  BuildNeighbourLists(*p);
  for (auto _ : state) {
    RemoveHetNeighbours(*p);
    AddHetNeighbours(*p);
  }
}

BENCHMARK_CAPTURE(BM_ReadProtein, 3o21, std::string("3o21.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_BuildNeighbourLists, 3o21, std::string("3o21.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReadAndNeighbours, 3o21, std::string("3o21.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_RemoveAddHetNeighbours, 3o21, std::string("3o21.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_BuildNeighbourLists, 3o21x4, std::string("3o21x4.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReadAndNeighbours, 3o21x4, std::string("3o21x4.pdb"))->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
