// Reading and validating real structures: 3o21 (about 12 800 atoms) and its
// four-fold copy 3o21x4 (about 51 000 atoms) to show linear growth. The read
// includes the secondary-structure flag steps it runs; the second benchmark adds
// the neighbour lists, the pair whose sum should stay under 50 ms for 3o21.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "frame/LogFile.h"
#include "input/InputChecks.h"
#include "input/PdbReader.h"
#include "input/ReadProtein.h"
#include "model/NeighbourGrid.h"

namespace {

using namespace cavitas;

std::string Corpus(const std::string& name) { return std::string(CAVITAS_CORPUS) + "/" + name; }
std::string LogPath() { return (std::filesystem::temp_directory_path() / "cavitas_bench_input.log").string(); }

void BM_ReadProtein(benchmark::State& state, const std::string& name, bool neighbours) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  std::int64_t atoms = 0;
  for (auto _ : state) {
    auto p = std::make_unique<TProteinObject>();
    ReadProtein(*p, file, LogPath(), 0);
    if (neighbours) BuildNeighbourLists(*p);
    atoms = p->AtomCount;
    benchmark::DoNotOptimize(p.get());
  }
  state.counters["atoms"] = static_cast<double>(atoms);
  state.SetItemsProcessed(state.iterations() * atoms);
}

// The record reader alone, on a file already in memory.
void BM_ReadPdbRecords(benchmark::State& state, const std::string& name) {
  const std::string file = Corpus(name);
  if (!std::filesystem::exists(file)) return state.SkipWithError("corpus not available");
  const TInputText text = LoadInputText(file);
  for (auto _ : state) {
    TProteinObject p;
    DetectLineMode(p, text);
    TPdbRecordReader reader(p, text);
    TPdbLine line;
    int records = 0;
    do {
      reader.ReadPdbRecord(line);
      ++records;
    } while (line.Kind != kEndRecord);
    benchmark::DoNotOptimize(records);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.Bytes.size()));
}

BENCHMARK_CAPTURE(BM_ReadPdbRecords, 3o21, std::string("3o21.pdb"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadProtein, 3o21, std::string("3o21.pdb"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadProtein, 3o21x4, std::string("3o21x4.pdb"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadProtein, 3o21_with_neighbours, std::string("3o21.pdb"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadProtein, 3o21x4_with_neighbours, std::string("3o21x4.pdb"), true)
    ->Unit(benchmark::kMillisecond);

// Hetero atoms and waters at the place of earlier atoms removed through the
// point index: n waters on a 3.1 Å lattice, every tenth a copy of the one
// before. Linear in n (the complexity fit reports it).
TMyCollection<THetAtom> LatticeWaters(int n) {
  TMyCollection<THetAtom> waters;
  for (int i = 0; i < n; ++i) {
    auto water = std::make_unique<THetAtom>();
    water->OwnedAtom = std::make_unique<TAtom>();
    water->Atom = water->OwnedAtom.get();
    const int k = i % 10 == 9 ? i - 1 : i;
    water->Atom->X = 3.1f * static_cast<float>(k % 47);
    water->Atom->Y = 3.1f * static_cast<float>(k / 47 % 47);
    water->Atom->Z = 3.1f * static_cast<float>(k / (47 * 47));
    waters.push_back(std::move(water));
  }
  return waters;
}

void BM_RemoveCoincidentWaters(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TProteinObject p;
    p.SetLogFile(LogPath());
    p.ClearLog();
    p.Context.Log = &p;
    p.Waters = LatticeWaters(n);
    state.ResumeTiming();
    RemoveCoincidentHetAtoms(p);
    benchmark::DoNotOptimize(p.Waters.size());
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_RemoveCoincidentWaters)->Arg(12500)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
