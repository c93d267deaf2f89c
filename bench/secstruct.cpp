// Secondary-structure flag steps on 3o21 (about 1 500 residues) and on a
// 10 000-residue chain made of seven translated copies of it, separated by
// chain breaks. Each iteration starts from residues without any flags.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cavity/ContactObject.h"
#include "input/ReadProtein.h"
#include "secstruct/Bridges.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace {

using namespace cavitas;

std::string Corpus(const std::string& name) { return std::string(CAVITAS_CORPUS) + "/" + name; }
std::string LogPath() { return (std::filesystem::temp_directory_path() / "cavitas_bench_secstruct.log").string(); }

std::unique_ptr<TNewContactObject> Read(const std::string& file) {
  auto p = std::make_unique<TNewContactObject>();
  ReadProtein(*p, file, LogPath(), 0);
  return p;
}

// Copies `copies` translated copies of the residues (backbone and side chain) of
// `source`; a chain break separates the copies.
std::unique_ptr<TNewContactObject> Replicate(const TProteinObject& source, int copies) {
  auto p = std::make_unique<TNewContactObject>();
  auto copyAtom = [&](const TAtom* a, float shift) {
    auto atom = std::make_unique<TAtom>(*a);
    atom->X += shift;
    atom->Number = static_cast<std::int32_t>(p->Atoms.size());
    TAtom* raw = atom.get();
    p->Atoms.push_back(std::move(atom));
    return raw;
  };
  for (int c = 0; c < copies; ++c) {
    const float shift = 150.0f * static_cast<float>(c);
    for (int i = 1; i <= source.ResidueCount; ++i) {
      const TBACKBONE& r = source.Residue(i);
      auto copy = std::make_unique<TBACKBONE>(p->ResidueCount + 1);
      copy->ResidueId = r.ResidueId;
      copy->ResidueName = r.ResidueName;
      copy->OneLetter = std::islower(static_cast<unsigned char>(r.OneLetter)) ? 'C' : r.OneLetter;
      copy->HPos = r.HPos;
      copy->HPos.X += shift;
      copy->AtomN = copyAtom(r.AtomN, shift);
      copy->AtomCA = copyAtom(r.AtomCA, shift);
      copy->AtomC = copyAtom(r.AtomC, shift);
      copy->AtomO = copyAtom(r.AtomO, shift);
      copy->SideChainStart = static_cast<std::int32_t>(p->SideAtoms.size()) - 1;
      copy->SideChainCount = r.SideChainCount;
      for (int k = r.SideChainStart + 1; k <= r.SideChainStart + r.SideChainCount; ++k) {
        p->SideAtoms.push_back(copyAtom(source.SideAtoms[static_cast<std::size_t>(k)], shift));
        p->SideAtomNames.push_back(source.SideAtomNames[static_cast<std::size_t>(k)]);
      }
      p->Residues.push_back(std::move(copy));
      ++p->ResidueCount;
    }
    for (std::int32_t b : source.ChainBreaks) p->ChainBreaks.push_back(b + c * source.ResidueCount);
    p->ChainBreaks.push_back(p->ResidueCount);
  }
  p->ChainBreaks.pop_back();
  return p;
}

// Back to the state right after residue assembly.
void ClearFlags(TProteinObject& p) {
  for (auto& r : p.Residues) {
    if (std::islower(static_cast<unsigned char>(r->OneLetter))) r->OneLetter = 'C';
    r->SSSymbol = r->Turn3 = r->Turn4 = r->Turn5 = r->BendMark = r->Chirality = ' ';
    r->BridgeLabel1 = r->BridgeLabel2 = r->SheetLabel = ' ';
    r->BridgePartner1 = r->BridgePartner2 = 0;
    r->CaDihedral = r->BendAngle = 360;
    r->NHBond1 = r->NHBond2 = r->COBond1 = r->COBond2 = TBond{};
  }
  p.Status = TRunStatus::Good;
  p.StatusText = " ";
}

std::unique_ptr<TNewContactObject> Structure(const std::string& which) {
  const std::string file = Corpus("3o21.pdb");
  if (!std::filesystem::exists(file)) return nullptr;
  auto p = Read(file);
  if (which == "3o21") return p;
  return Replicate(*p, 7);
}

void BM_FlagSteps(benchmark::State& state, const std::string& which) {
  auto p = Structure(which);
  if (!p) return state.SkipWithError("corpus not available");
  for (auto _ : state) {
    state.PauseTiming();
    ClearFlags(*p);
    TReadState read;
    state.ResumeTiming();
    FlagSSBonds(*p, read);
    FlagChirality(*p);
    FlagHydrogenBonds(*p);
    FlagBridge(*p, read);
    if (p->Status != TRunStatus::Failed) FlagTurn(*p);
    benchmark::DoNotOptimize(p->Residue(1).SSSymbol);
  }
  state.counters["residues"] = p->ResidueCount;
  if (p->Status == TRunStatus::Failed) state.SkipWithError(p->StatusText.c_str());
}

void BM_FlagHydrogenBonds(benchmark::State& state, const std::string& which, bool reference) {
  auto p = Structure(which);
  if (!p) return state.SkipWithError("corpus not available");
  for (auto _ : state) {
    if (reference)
      FlagHydrogenBondsReference(*p);
    else
      FlagHydrogenBonds(*p);
    benchmark::DoNotOptimize(p->Residue(1).NHBond1);
  }
}

void BM_FlagBridge(benchmark::State& state, const std::string& which, bool reference) {
  auto p = Structure(which);
  if (!p) return state.SkipWithError("corpus not available");
  FlagHydrogenBonds(*p);
  for (auto _ : state) {
    state.PauseTiming();
    for (auto& r : p->Residues) {
      r->SSSymbol = r->BridgeLabel1 = r->BridgeLabel2 = r->SheetLabel = ' ';
      r->BridgePartner1 = r->BridgePartner2 = 0;
    }
    TReadState read;
    state.ResumeTiming();
    if (reference)
      FlagBridgeReference(*p, read);
    else
      FlagBridge(*p, read);
    benchmark::DoNotOptimize(read.BridgeCount);
  }
}

void BM_BuildElementList(benchmark::State& state, const std::string& which) {
  auto p = Structure(which);
  if (!p) return state.SkipWithError("corpus not available");
  if (which != "3o21") {
    TReadState read;
    ClearFlags(*p);
    FlagSSBonds(*p, read);
    FlagChirality(*p);
    FlagHydrogenBonds(*p);
    FlagBridge(*p, read);
    FlagTurn(*p);
  }
  for (auto _ : state) {
    BuildElementList(*p);
    benchmark::DoNotOptimize(p->ElementCount);
  }
  state.counters["elements"] = p->ElementCount;
}

}  // namespace

BENCHMARK_CAPTURE(BM_FlagSteps, 3o21, std::string("3o21"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagSteps, 10k_residues, std::string("x7"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagHydrogenBonds, 3o21_grid, std::string("3o21"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagHydrogenBonds, 3o21_all_pairs, std::string("3o21"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagHydrogenBonds, 10k_grid, std::string("x7"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagHydrogenBonds, 10k_all_pairs, std::string("x7"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagBridge, 3o21_indexed, std::string("3o21"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagBridge, 3o21_full_scan, std::string("3o21"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlagBridge, 10k_indexed, std::string("x7"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BuildElementList, 3o21, std::string("3o21"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BuildElementList, 10k_residues, std::string("x7"))->Unit(benchmark::kMillisecond);
