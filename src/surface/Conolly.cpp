// The construction of the Connolly surface: the scheduler of the per-atom
// steps. It takes the atoms in order, gets each one's candidates from the
// kernel (here, from the memo of the last construction or from worker
// threads), registers them, has the contact patch built, and at the end has
// the degenerate points repaired; it moves the atoms of the points that stay
// open and builds again.
#include <algorithm>
#include <optional>
#include <span>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Status.h"
#include "frame/Threads.h"
#include "model/NeighbourGrid.h"
#include "model/Radii.h"
#include "surface/AtomKernel.h"
#include "surface/ContactPatch.h"
#include "surface/Construction.h"
#include "surface/DegeneratePoints.h"
#include "surface/NeighbourSource.h"
#include "surface/ParallelCandidates.h"
#include "surface/RunMemo.h"

namespace cavitas {

namespace surface_detail {

namespace {

// One construction of the surface of the included atoms with the kernel policy Kernel.
template <class Kernel>
class TConstruction final : TInnerPointSource {
 public:
  // memo: carried from the construction before and to the next (null: none;
  // the fast kernel only). threads: how many make the candidates (fast kernel).
  TConstruction(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& lists,
                TRunStatus& status, bool split, TElementList& elements, TSurfaceMemo* memo, int threads)
      : protein_(protein),
        radii_{protein.Context.Model.ProbeRadius, protein.Context.Model.RadiusTable},
        source_(protein, include, radii_, Kernel::kFast),
        store_(lists, elements, status, protein.FileName),
        degeneracies_(protein, store_, radii_),
        builder_(store_, degeneracies_, *this, split, protein.Context.Model),
        own_(radii_),
        carried_(Kernel::kFast ? memo : nullptr),
        threads_(Kernel::kFast ? threads : 1) {}
  void Execute();

 private:
  // The candidates of an atom made here (or recalled) into own_.Made; whether its pairs logged lines.
  bool MakeHere(TAtom& atom);
  // The same from what a worker made.
  bool TakeMade(TAtom& atom, TMadeAtom& made);
  // The log lines and degeneracies of new candidates, and their copies for the memo.
  bool AfterMade(TAtom& atom, std::span<std::unique_ptr<TConollyObject>> copies);
  // The inner point for the builder: recalled from the memo, or searched by the kernel.
  int Find(const TAtom& atom, TExtVector& d) override;
  // The contact patches of the atom whose turn it is: rebuilt as the last
  // construction built them where the memo holds, else built (and kept).
  void BuildPatches(TAtom& atom);

  TProteinObject& protein_;
  const TSurfaceRadii radii_;
  TNeighbourSource source_;
  TElementStore store_;
  TDegeneracies degeneracies_;
  TContactPatchBuilder builder_;
  TAtomScratch<Kernel> own_;
  TSurfaceMemo* carried_;
  std::optional<TMemoSession> memo_;
  int threads_;
  std::vector<TAtom*> taken_;                       // the neighbours of an atom a worker made
  const std::vector<TAtom*>* neighbours_ = nullptr;  // of the atom whose turn it is
};

template <class Kernel>
void TConstruction<Kernel>::Execute() {
  TStatus& progress = protein_.Context.Progress;
  progress.StageName = "Connolly: atom ";
  progress.Total = protein_.AtomCount;
  progress.SetPosition(0);
  if (!protein_.NeighboursNear) BuildNeighbourLists(protein_);
  const int count = protein_.AtomCount;
  store_.Reset(count);
  if (carried_ != nullptr) memo_.emplace(*carried_, protein_, radii_, builder_.Splits());
  std::unique_ptr<TCandidateWorkers> workers;
  if constexpr (Kernel::kFast)
    if (threads_ > 1)
      workers = std::make_unique<TCandidateWorkers>(source_, radii_, memo_ ? &*memo_ : nullptr, count, threads_, own_);
  for (int i = 1; i <= count; ++i) {
    if (!source_.Included(i)) continue;
    store_.SetCurrentAtom(i);
    progress.SetPosition(i);
    TAtom& atom = *protein_.AtomAt(i);
    const bool pairLogged = workers ? TakeMade(atom, workers->Take(i)) : MakeHere(atom);
    store_.Register(own_.Made.Elements, i);
    if (!store_.ListOf(i).empty()) BuildPatches(atom);
    if (memo_) memo_->EndAtom(atom, pairLogged);
  }
  workers.reset();
  bool closed = true;
  if (degeneracies_.AnyProblem())
    closed = degeneracies_.Repair([this](TAtom& atom) {
      source_.Collect(atom, own_.Near);
      neighbours_ = &own_.Near.Atoms;
      builder_.Build(atom, own_.Near.Atoms);
    });
  if (memo_) memo_->End();
  progress.StageName.clear();
  progress.SetPosition(0);
  std::vector<int> atoms = degeneracies_.AtomsToMove(closed);
  if (!atoms.empty()) throw TUnresolvedDegeneracy{std::move(atoms)};
}

template <class Kernel>
bool TConstruction<Kernel>::MakeHere(TAtom& atom) {
  own_.Made.Clear();
  source_.Collect(atom, own_.Near);
  neighbours_ = &own_.Near.Atoms;
  if (memo_ && memo_->Recall(atom, own_.Near.Atoms, std::nullopt, own_.Made.Elements)) return false;
  own_.Steps.MakeCandidates(own_.Near, own_.Made);
  return AfterMade(atom, {});
}

template <class Kernel>
bool TConstruction<Kernel>::TakeMade(TAtom& atom, TMadeAtom& m) {
  own_.Made.Clear();
  if (m.Error) std::rethrow_exception(m.Error);
  TMadeChunk& chunk = *m.Chunk;
  taken_.assign(chunk.Neighbours.begin() + m.Neighbours, chunk.Neighbours.begin() + m.NeighboursEnd);
  neighbours_ = &taken_;
  auto takeCandidates = [&] {
    for (std::uint32_t k = m.Candidates; k < m.CandidatesEnd; ++k)
      own_.Made.Elements.push_back(std::move(chunk.Candidates[k]));
  };
  if (memo_ && memo_->Recall(atom, taken_, m.Recalled, own_.Made.Elements)) {
    if (memo_->WorkersCopy()) takeCandidates();
    return false;
  }
  if (!m.Made) {  // the memo held for the worker: it holds here as well
    source_.Collect(atom, own_.Near);
    neighbours_ = &own_.Near.Atoms;
    own_.Steps.MakeCandidates(own_.Near, own_.Made);
    return AfterMade(atom, {});
  }
  takeCandidates();
  own_.Made.Log = std::move(m.Log);
  own_.Made.Tied = std::move(m.Tied);
  return AfterMade(atom, std::span(chunk.Copies).subspan(m.Copies, m.CopiesEnd - m.Copies));
}

template <class Kernel>
bool TConstruction<Kernel>::AfterMade(TAtom& atom, std::span<std::unique_ptr<TConollyObject>> copies) {
  const bool logged = !own_.Made.Log.empty();
  if (logged) {
    degeneracies_.NoteCoincidentNeighbours(atom, *neighbours_);
    degeneracies_.NoteTied(own_.Made.Tied);
  }
  for (const std::string& line : own_.Made.Log) ProgramLog().LogLine(line);
  if (memo_) memo_->Keep(own_.Made.Elements, copies, logged);
  return logged;
}

template <class Kernel>
void TConstruction<Kernel>::BuildPatches(TAtom& atom) {
  const std::vector<TConollyObject*>& list = store_.ListOf(atom.Number);
  std::span<const TPatchShape> shapes;
  std::span<const std::uint16_t> edges;
  if (memo_ && memo_->RecallPatches(atom, list, shapes, edges)) {
    builder_.Rebuild(atom, shapes, edges);
    return;
  }
  const bool plain = builder_.Build(atom, *neighbours_);
  if (memo_) memo_->KeepPatches(atom, list, plain);  // the list now holds the patches too
}

template <class Kernel>
int TConstruction<Kernel>::Find(const TAtom& atom, TExtVector& d) {
  int code = 0;
  if (memo_ && memo_->RecallInnerPoint(atom, d, code)) return code;
  const TExtVector start = d;
  code = own_.Steps.FindInnerPoint(atom, *neighbours_, d);
  if (memo_) memo_->KeepInnerPoint(atom, start, d, code);
  return code;
}

// Runs the construction until no exact degeneracy is left open, moving the
// atoms through such points between the runs (kDisplacementRounds at most).
template <class Kernel>
void Construct(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
               TRunStatus& status, bool split, TElementList& elements, TSurfaceMemo* memo, int threads) {
  const TRunStatus entry = status;
  for (int round = 0;; ++round) {
    try {
      status = entry;  // what a run given up left behind does not count
      TConstruction<Kernel> construction(protein, include, atomElements, status, split, elements, memo, threads);
      construction.Execute();
      return;
    } catch (const TAbandonRun&) {
      return;  // TooManyElements is set; the caller turns it into a failed run
    } catch (const TUnresolvedDegeneracy& d) {
      if (round + 1 >= kDisplacementRounds) RaiseError(TErrorCode::FourAtomPoint, "conolly", "GetAtConolly");
      DisplaceAtoms(protein, d.Atoms, round);
    }
  }
}

}  // namespace

void GetAtConollyReference(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                           TRunStatus& status, bool split, TElementList& elements) {
  Construct<TReferenceKernel>(protein, include, atomElements, status, split, elements, nullptr, 1);
}

}  // namespace surface_detail

void GetAtConolly(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                  TRunStatus& status, bool split, TElementList& elements, TSurfaceMemo* memo, int threads) {
  const int workers = WorkerThreads(std::count(include.begin(), include.end(), true), 1000, threads);
  surface_detail::Construct<surface_detail::TFastKernel>(protein, include, atomElements, status, split, elements, memo,
                                                          workers);
}

namespace {

void ComputeSurface(TProteinObject& protein, int last, TAtomElementLists& atomElements, TElementList& elements,
                    TRunStatus& status, bool split, TSurfaceMemo* memo) {
  CheckMemory(108000);
  std::vector<bool> include(RowsFor(protein.AtomCount), false);
  for (TAtomIndex n = 1; n <= last && n <= protein.AtomCount; ++n) At(include, n) = true;
  GetAtConolly(protein, include, atomElements, status, split, elements, memo);
}

}  // namespace

void ComputeSurfaceWithoutHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                              TRunStatus& status, bool split, TSurfaceMemo* memo) {
  ComputeSurface(protein, protein.ProteinAtomCount, atomElements, elements, status, split, memo);
}

void ComputeSurfaceWithHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                           TRunStatus& status, bool split, TSurfaceMemo* memo) {
  ComputeSurface(protein, protein.AtomCount, atomElements, elements, status, split, memo);
}

}  // namespace cavitas
