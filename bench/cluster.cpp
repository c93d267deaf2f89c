// Clustering of both surfaces, the hole combination and the result file of
// 3o21 (1ubq and the four copies of 3o21 for scale, 3o21 with detached ions).
// The surfaces are built once; every iteration restores them to their
// original order before it runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// 3o21 with a 20 x 20 lattice of sodium ions 10 A apart above it: 400 parts
// that lie apart from the protein and from each other, each joined to slot 1.
std::string WithDetachedIons(const std::string& source) {
  std::ifstream in(source);
  const std::string out = TempPath("ions.pdb");
  std::ofstream os(out);
  std::string line;
  float lo[2] = {1e9f, 1e9f}, top = -1e9f;
  while (std::getline(in, line)) {
    if (line.rfind("END", 0) == 0 || line.rfind("MASTER", 0) == 0 || line.rfind("CONECT", 0) == 0) continue;
    if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0) {
      lo[0] = std::min(lo[0], std::stof(line.substr(30, 8)));
      lo[1] = std::min(lo[1], std::stof(line.substr(38, 8)));
      top = std::max(top, std::stof(line.substr(46, 8)));
    }
    os << line << '\n';
  }
  char buf[96];
  for (int n = 1; n <= 400; ++n) {
    const float x = lo[0] + 10.0f * static_cast<float>((n - 1) / 20);
    const float y = lo[1] + 10.0f * static_cast<float>((n - 1) % 20);
    std::snprintf(buf, sizeof buf, "HETATM%5d NA    NA Z%4d    %8.3f%8.3f%8.3f  1.00 20.00          NA  \n", n, n, x, y,
                  top + 15.0f);
    os << buf;
  }
  os << "END\n";
  return out;
}

Prepared* Prepare(const std::string& name) {
  static std::unordered_map<std::string, std::unique_ptr<Prepared>> cache;
  if (auto it = cache.find(name); it != cache.end()) return it->second.get();
  const bool ions = name == "3o21+ions";
  std::string file = Corpus(ions ? "3o21.pdb" : name);
  if (!std::filesystem::exists(file)) return nullptr;
  if (ions) file = WithDetachedIons(file);
  ProgramLog().LogFileName = TempPath("program.lg");
  auto p = std::make_unique<Prepared>();
  p->Protein = std::make_unique<TProteinObject>();
  ReadProtein(*p->Protein, file, TempPath("run.log"), 0);
  TRunStatus status = TRunStatus::Good;
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
    ClusterConolly(p->Protein->Context, p->With.AtomElements, p->With.Elements, true, clusters, parts);
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
    holesWith = ClusterHoles(p->Protein->Context, p->With.AtomElements, p->With.Elements, true, with, parts);
    holesWithout =
        ClusterHoles(p->Protein->Context, p->Without.AtomElements, p->Without.Elements, true, without, parts);
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
  const std::int32_t nWith =
      ClusterHoles(p->Protein->Context, p->With.AtomElements, p->With.Elements, true, with, parts);
  const std::int32_t nWithout =
      ClusterHoles(p->Protein->Context, p->Without.AtomElements, p->Without.Elements, true, without, parts);
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
// Hundreds of detached ions, each joined to slot 1 in turn.
BENCHMARK_CAPTURE(BM_ClusterConolly, 3o21+ions, "3o21+ions")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClusterAndOutput, 1ubq, "1ubq.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClusterAndOutput, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CombineAndWrite, 3o21, "3o21.pdb")->Unit(benchmark::kMillisecond);

}  // namespace
