// Structure cards and the stream form of 3o21 (12 000 atoms): number fields,
// the checksum of all cards, writing and reading the card file, stream save and load.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "frame/LogFile.h"
#include "input/PdbReader.h"
#include "input/ReadProtein.h"
#include "input/ReadRecords.h"
#include "secstruct/SecStruct.h"
#include "structfile/CardReader.h"
#include "structfile/NumberFields.h"
#include "structfile/Stream.h"
#include "structfile/StructureCards.h"

namespace {

using namespace cavitas;

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("cavitas_bench_structfile_" + name)).string();
}

// 3o21 read and analysed once, with every hetero atom in one group element.
TProteinObject& Protein() {
  static TProteinObject* protein = [] {
    auto* p = new TProteinObject;
    ReadProtein(*p, std::string(CAVITAS_CORPUS) + "/3o21.pdb", TempPath("read.log"), 0);
    BuildElementList(*p);
    if (p->AtomCount > p->ProteinAtomCount) {
      p->HetElementCount = 1;
      TElementZeile& het = p->ElementTable[static_cast<std::size_t>(p->ElementCount) + 1];
      het.ElementKind = TElementKind::HetGroup;
      het.First = p->ProteinAtomCount + 1;
      het.Last = p->AtomCount;
    }
    return p;
  }();
  return *protein;
}

void BM_FormatReal(benchmark::State& state) {
  float v = -1234.567f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatReal(v, 8, 3));
    v += 0.001f;
  }
}
BENCHMARK(BM_FormatReal);

void BM_SumStructureCards(benchmark::State& state) {
  TProteinObject& p = Protein();
  for (auto _ : state) benchmark::DoNotOptimize(SumStructureCards(p));
  state.counters["atoms"] = p.AtomCount;
}
BENCHMARK(BM_SumStructureCards)->Unit(benchmark::kMillisecond);

void BM_WriteStructureCards(benchmark::State& state) {
  TProteinObject& p = Protein();
  for (auto _ : state) WriteStructureCards(p, TempPath("3o21.crd"));
}
BENCHMARK(BM_WriteStructureCards)->Unit(benchmark::kMillisecond);

void BM_ReadStructureCards(benchmark::State& state) {
  WriteStructureCards(Protein(), TempPath("3o21.crd"));
  const TInputText text = LoadInputText(TempPath("3o21.crd"));
  for (auto _ : state) {
    TProteinObject q;
    q.LogFileName = TempPath("cards.log");
    TStructureCardReader source(q, text.Bytes, 3);
    TProteinReader reader(q, source, 3);
    reader.ReadRecords();
    benchmark::DoNotOptimize(q.ProteinAtomCount);
  }
}
BENCHMARK(BM_ReadStructureCards)->Unit(benchmark::kMillisecond);

void BM_StreamSaveLoad(benchmark::State& state) {
  std::ostringstream out;
  SaveToStream(Protein(), out);
  const std::string bytes = out.str();
  for (auto _ : state) {
    TProteinObject q;
    q.LogFileName = TempPath("stream.log");
    std::istringstream in(bytes);
    LoadFromStream(q, in);
    std::ostringstream again;
    SaveToStream(q, again);
    benchmark::DoNotOptimize(again.str().size());
  }
  state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_StreamSaveLoad)->Unit(benchmark::kMillisecond);

}  // namespace
