// Clustering of both surfaces, the hole combination and the result file of
// 3o21 (1ubq and the four copies of 3o21 for scale). The surfaces are built once; every iteration
// restores them to their original order before it runs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

#include "cavity/Cluster.h"
#include "cavity/HoleList.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

namespace {

using namespace cavitas;

std::string Corpus(const std::string& name) { return std::string(CAVITAS_CORPUS) + "/" + name; }
std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("cavitas_bench_cluster_" + name)).string();
}

// A surface with a snapshot of its element order, so that clustering can be repeated.
struct SavedSurface {
  TAtomElementLists AtomElements;
  TElementList Elements;
  TAtomElementLists SavedAtomElements;
  std::vector<TConollyObject*> SavedOrder;

  void Save() {
    SavedAtomElements = AtomElements;
    SavedOrder.clear();
    for (const auto& e : Elements) SavedOrder.push_back(e.get());
  }
  // Takes the elements back from the holes and restores the original lists.
  void Restore(THoleTable& holes) {
    std::unordered_map<TConollyObject*, std::unique_ptr<TConollyObject>> owned;
    for (auto& e : Elements) owned.emplace(e.get(), std::move(e));
    for (auto& hole : holes)
      for (auto& e : hole) owned.emplace(e.get(), std::move(e));
    holes.clear();
    Elements.clear();
    for (TConollyObject* e : SavedOrder) Elements.push_back(std::move(owned.at(e)));
    AtomElements = SavedAtomElements;
  }
};

struct Prepared {
  std::unique_ptr<TProteinObject> Protein;
  SavedSurface With, Without;
};

Prepared* Prepare(const std::string& name) {
  static std::unordered_map<std::string, std::unique_ptr<Prepared>> cache;
  if (auto it = cache.find(name); it != cache.end()) return it->second.get();
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return nullptr;
  ResetProgramState();
  ProgramLog().LogFileName = TempPath("program.lg");
  auto p = std::make_unique<Prepared>();
  p->Protein = std::make_unique<TProteinObject>();
  ReadProtein(*p->Protein, file, TempPath("run.log"), 0);
  CurrentLogTarget = nullptr;
  std::int32_t status = 0;
  ComputeSurfaceWithHet(*p->Protein, p->With.AtomElements, p->With.Elements, status);
  ComputeSurfaceWithoutHet(*p->Protein, p->Without.AtomElements, p->Without.Elements, status);
  p->With.Save();
  p->Without.Save();
  return (cache[name] = std::move(p)).get();
}

void BM_ClusterConolly(benchmark::State& state, const std::string& name) {
  Prepared* p = Prepare(name);
  if (!p) return state.SkipWithError("corpus not available");
  for (auto _ : state) {
    TClusterTable clusters;
    std::int32_t parts = 0;
    ClusterConolly(p->With.AtomElements, p->With.Elements, true, clusters, parts);
    benchmark::DoNotOptimize(clusters.data());
  }
  state.counters["elements"] = static_cast<double>(p->With.Elements.size());
}

// What the run does after the two surfaces: both clusterings, the combination and the result file.
void BM_ClusterAndOutput(benchmark::State& state, const std::string& name) {
  Prepared* p = Prepare(name);
  if (!p) return state.SkipWithError("corpus not available");
  THoleTable with, without;
  std::int32_t holesWith = 0, holesWithout = 0;
  for (auto _ : state) {
    std::int32_t parts = 0;
    holesWith = ClusterHoles(p->With.AtomElements, p->With.Elements, true, with, parts);
    holesWithout = ClusterHoles(p->Without.AtomElements, p->Without.Elements, true, without, parts);
    TCombinedHoleTable table;
    CombineHoles(with, holesWith, without, holesWithout, table, p->Protein->HoleDefinitions);
    WriteFullOutput(*p->Protein, table, p->With.Elements, TempPath("result.txt"));
    state.PauseTiming();
    p->With.Restore(with);
    p->Without.Restore(without);
    state.ResumeTiming();
  }
  state.counters["holes_with_het"] = holesWith;
  state.counters["holes_without_het"] = holesWithout;
  state.counters["atoms"] = p->Protein->AtomCount;
}

// The result file alone, from holes clustered once.
void BM_CombineAndWrite(benchmark::State& state, const std::string& name) {
  Prepared* p = Prepare(name);
  if (!p) return state.SkipWithError("corpus not available");
  THoleTable with, without;
  std::int32_t parts = 0;
  const std::int32_t nWith = ClusterHoles(p->With.AtomElements, p->With.Elements, true, with, parts);
  const std::int32_t nWithout = ClusterHoles(p->Without.AtomElements, p->Without.Elements, true, without, parts);
  for (auto _ : state) {
    TCombinedHoleTable table;
    CombineHoles(with, nWith, without, nWithout, table, p->Protein->HoleDefinitions);
    WriteFullOutput(*p->Protein, table, p->With.Elements, TempPath("result.txt"));
  }
  p->With.Restore(with);
  p->Without.Restore(without);
}

BENCHMARK_CAPTURE(BM_ClusterConolly, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClusterConolly, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond);
// Four separate copies: the joining of separate parts at scale.
BENCHMARK_CAPTURE(BM_ClusterConolly, 3o21x4, "3o21x4.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClusterAndOutput, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClusterAndOutput, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CombineAndWrite, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond);

}  // namespace
