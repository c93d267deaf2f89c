// Steps A to C of the per-atom construction on several threads. The
// neighbours and candidates of an atom are a function of the atom, the
// neighbour lists and the model alone, so workers may make them in any order;
// registration, contact patches and the log stay with the run, atom by atom,
// as before. Every element and log line is the same as from one thread.
#include <algorithm>
#include <chrono>
#include <system_error>

#include "surface/ConollyRun.h"

namespace cavitas::surface_detail {

namespace {

constexpr int kAtomsPerChunk = 16;  // few collisions on the counter, little waiting for a chunk
constexpr int kAheadAtoms = 2048;   // how far workers may run ahead of the run

}  // namespace

// A worker's own run: the scratch of steps A to C; it never registers anything.
struct TCandidateWorkers::TWorker {
  TWorker(TProteinObject& protein, const std::vector<bool>& include, bool split)
      : Run(protein, include, Lists, Status, split, Elements) {
    Run.PrepareScan();
  }
  TAtomElementLists Lists;
  TElementList Elements;
  std::int32_t Status = 0;
  TConollyRun Run;
};

void TConollyRun::MakeAtom(TAtom& atom, TMadeAtom& out, TMadeChunk& chunk, const TConollyRun* memoOwner) {
  out.Chunk = &chunk;
  auto mark = [](std::uint32_t& begin, std::uint32_t& end, std::size_t b, std::size_t e) {
    begin = static_cast<std::uint32_t>(b);
    end = static_cast<std::uint32_t>(e);
  };
  try {
    CollectNeighbours(atom);
    const std::size_t n0 = chunk.Neighbours.size();
    chunk.Neighbours.insert(chunk.Neighbours.end(), neighbours_.begin(), neighbours_.end());
    mark(out.Neighbours, out.NeighboursEnd, n0, chunk.Neighbours.size());
    const std::size_t c0 = chunk.Candidates.size();
    if (memoOwner != nullptr && memoOwner->MemoHolds(atom, neighbours_)) {
      memoOwner->CopyRecalled(atom, chunk.Candidates);
      mark(out.Candidates, out.CandidatesEnd, c0, chunk.Candidates.size());
      out.Recalled = true;
      return;
    }
    candidates_.clear();
    MakeCandidates(atom);
    for (auto& c : candidates_) chunk.Candidates.push_back(std::move(c));
    candidates_.clear();
    mark(out.Candidates, out.CandidatesEnd, c0, chunk.Candidates.size());
    const std::size_t k0 = chunk.Copies.size();
    if (memoOwner != nullptr && memoOwner->keep_ && pairLog_.empty())
      for (std::size_t k = c0; k < chunk.Candidates.size(); ++k) chunk.Copies.push_back(chunk.Candidates[k]->Clone());
    mark(out.Copies, out.CopiesEnd, k0, chunk.Copies.size());
    out.Log = std::move(pairLog_);
    pairLog_.clear();
    out.Tied = std::move(tied_);
    tied_.clear();
    out.Made = true;
  } catch (...) {
    // Raised again when the atom's turn comes, as the single thread would.
    out.Error = std::current_exception();
  }
}

void TConollyRun::TakeCandidates(TMadeAtom& made) {
  for (std::uint32_t k = made.Candidates; k < made.CandidatesEnd; ++k)
    candidates_.push_back(std::move(made.Chunk->Candidates[k]));
}

// The memo is only read here (MemoHolds, CopyRecalled): the run moves the last
// run's entries of an atom only after the atom was made.
TCandidateWorkers::TCandidateWorkers(TConollyRun& run, int threads, bool memo)
    : run_(run),
      memoOwner_(memo ? &run : nullptr),
      count_(std::max(run.protein_.AtomCount, 0)),
      made_(static_cast<std::size_t>(count_) + 1),
      chunks_(static_cast<std::size_t>(count_ / kAtomsPerChunk) + 1),
      ready_(static_cast<std::size_t>(count_) + 1) {
  for (int t = 1; t < threads; ++t) {
    workers_.push_back(std::make_unique<TWorker>(run.protein_, run.include_, run.split_));
    TConollyRun& scratch = workers_.back()->Run;
    try {
      threads_.emplace_back([this, &scratch] {
        // Workers stay a window ahead of the run, so what they made waits
        // for a bounded number of atoms, not for the whole structure.
        while (!stop_.load(std::memory_order_relaxed) && next_.load(std::memory_order_relaxed) <= count_) {
          if (!MakeChunk(scratch, true)) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      });
    } catch (const std::system_error&) {
      break;  // no thread to be had: the run makes its share
    }
  }
}

TCandidateWorkers::~TCandidateWorkers() {
  stop_.store(true, std::memory_order_relaxed);
  threads_.clear();  // joins
}

bool TCandidateWorkers::MakeChunk(TConollyRun& scratch, bool ahead) {
  int first = next_.load(std::memory_order_relaxed);
  do {
    if (first > count_ || (ahead && first - taken_.load(std::memory_order_relaxed) > kAheadAtoms)) return false;
  } while (!next_.compare_exchange_weak(first, first + kAtomsPerChunk, std::memory_order_relaxed));
  TMadeChunk& chunk = chunks_[static_cast<std::size_t>((first - 1) / kAtomsPerChunk)];
  const int last = std::min(first + kAtomsPerChunk - 1, count_);
  for (int i = first; i <= last; ++i)
    if (run_.Included(i)) scratch.MakeAtom(*run_.AtomOf(i), made_[static_cast<std::size_t>(i)], chunk, memoOwner_);
  // Ready only when the whole chunk is: its lists no longer grow (and move).
  for (int i = first; i <= last; ++i) ready_[static_cast<std::size_t>(i)].store(1, std::memory_order_release);
  return true;
}

TMadeAtom& TCandidateWorkers::Take(int number) {
  const auto n = static_cast<std::size_t>(number);
  taken_.store(number, std::memory_order_relaxed);
  // The run's own scratch is free between two atoms: it makes a later chunk
  // while a worker finishes this one.
  while (ready_[n].load(std::memory_order_acquire) == 0)
    if (!MakeChunk(run_, false)) std::this_thread::yield();
  return made_[n];
}

}  // namespace cavitas::surface_detail
