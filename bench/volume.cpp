// The volume stage on real structures (1ubq, 1a0q, 3o21, and 3o21x4 for the
// growth with size) at the default exactness 0.2 and at 0.05, fast scan on the
// machine's cores; the fast scan on one thread and the straightforward scan on
// 1ubq for scale. Wall time, since the threaded scan spends it on several cores.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cavity/Volume.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

namespace {

using namespace cavitas;

std::string Corpus(const std::string& name) { return std::string(CAVITAS_CORPUS) + "/" + name; }
std::string LogPath() { return (std::filesystem::temp_directory_path() / "cavitas_bench_volume.log").string(); }

void BM_VolumeOfAtoms(benchmark::State& state, const std::string& name, double exactness, TVolumeMethod method,
                      int threads = 0) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  auto p = std::make_unique<TProteinObject>();
  ReadProtein(*p, file, LogPath(), 0);
  p->Context.Model.SetExactness(exactness);
  std::unique_ptr<TAtomAccumulator> volume, contact;
  for (auto _ : state) {
    VolumeOfAtoms(*p, volume, contact, method, threads);
    benchmark::DoNotOptimize(volume->data());
  }
  state.counters["atoms"] = p->AtomCount;
}

BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1ubq_ex0_2, "1ubq.pdb", 0.2, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1a0q_ex0_2, "1a0q.pdb", 0.2, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21_ex0_2, "3o21.pdb", 0.2, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1ubq_ex0_05, "1ubq.pdb", 0.05, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1a0q_ex0_05, "1a0q.pdb", 0.05, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21_ex0_05, "3o21.pdb", 0.05, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21x4_ex0_2, "3o21x4.pdb", 0.2, TVolumeMethod::Fast)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1ubq_ex0_2_one_thread, "1ubq.pdb", 0.2, TVolumeMethod::Fast, 1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1a0q_ex0_2_one_thread, "1a0q.pdb", 0.2, TVolumeMethod::Fast, 1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21_ex0_2_one_thread, "3o21.pdb", 0.2, TVolumeMethod::Fast, 1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21_ex0_05_one_thread, "3o21.pdb", 0.05, TVolumeMethod::Fast, 1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 3o21x4_ex0_2_one_thread, "3o21x4.pdb", 0.2, TVolumeMethod::Fast, 1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_VolumeOfAtoms, 1ubq_ex0_2_reference, "1ubq.pdb", 0.2, TVolumeMethod::Reference)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
