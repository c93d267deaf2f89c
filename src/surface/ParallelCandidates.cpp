#include "surface/ParallelCandidates.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace cavitas::surface_detail {

void TCandidateWorkers::MakeAtom(TAtomScratch<TFastKernel>& s, TAtom& atom, TMadeAtom& out, TMadeChunk& chunk) const {
  out.Chunk = &chunk;
  auto mark = [](std::uint32_t& begin, std::uint32_t& end, std::size_t b, std::size_t e) {
    begin = static_cast<std::uint32_t>(b);
    end = static_cast<std::uint32_t>(e);
  };
  try {
    source_.Collect(atom, s.Near);
    const std::size_t n0 = chunk.Neighbours.size();
    chunk.Neighbours.insert(chunk.Neighbours.end(), s.Near.Atoms.begin(), s.Near.Atoms.end());
    mark(out.Neighbours, out.NeighboursEnd, n0, chunk.Neighbours.size());
    const std::size_t c0 = chunk.Candidates.size();
    if (memo_ != nullptr && memo_->Holds(atom, s.Near.Atoms)) {
      if (memo_->WorkersCopy()) memo_->CopyRecalled(atom, chunk.Candidates);
      mark(out.Candidates, out.CandidatesEnd, c0, chunk.Candidates.size());
      out.Recalled = true;
      return;
    }
    if (memo_ != nullptr) memo_->ReleaseLast(atom);
    s.Steps.MakeCandidates(s.Near, s.Made);
    for (auto& c : s.Made.Elements) chunk.Candidates.push_back(std::move(c));
    s.Made.Elements.clear();
    mark(out.Candidates, out.CandidatesEnd, c0, chunk.Candidates.size());
    const std::size_t k0 = chunk.Copies.size();
    if (memo_ != nullptr && memo_->Keeps() && s.Made.Log.empty())
      for (std::size_t k = c0; k < chunk.Candidates.size(); ++k) chunk.Copies.push_back(chunk.Candidates[k]->Clone());
    mark(out.Copies, out.CopiesEnd, k0, chunk.Copies.size());
    out.Log = std::move(s.Made.Log);
    out.Tied = std::move(s.Made.Tied);
    s.Made.Clear();
    out.Made = true;
  } catch (...) {
    // Raised again when the atom's turn comes, as the single thread would.
    out.Error = std::current_exception();
  }
}

// Workers read the memo (Holds, CopyRecalled) and free the last
// construction's entries that do not hold (ReleaseLast), each of the atoms
// they make: the construction uses (or frees) an atom's entry only after the
// atom was made.
TCandidateWorkers::TCandidateWorkers(const TNeighbourSource& source, const TSurfaceRadii& radii, TMemoSession* memo,
                                     int atomCount, int threads, TAtomScratch<TFastKernel>& own)
    : source_(source),
      memo_(memo),
      own_(own),
      count_(std::max(atomCount, 0)),
      // A chunk may start kAheadAtoms beyond the atom taken; the one in its
      // place before it ended before that atom (two more for the rounding).
      chunks_(static_cast<std::size_t>(std::min(count_, kAheadAtoms) / kAtomsPerChunk) + 2),
      ready_(RowsFor(count_)) {
  for (int t = 1; t < threads; ++t) {
    scratch_.push_back(std::make_unique<TAtomScratch<TFastKernel>>(radii));
    TAtomScratch<TFastKernel>& scratch = *scratch_.back();
    try {
      threads_.emplace_back([this, &scratch] {
        // Workers stay a window ahead of the construction, so what they made
        // waits for a bounded number of atoms, not for the whole structure.
        while (!stop_.load(std::memory_order_relaxed) && next_.load(std::memory_order_relaxed) <= count_) {
          if (!MakeChunk(scratch)) std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      });
    } catch (const std::system_error&) {
      break;  // no thread to be had: the construction makes its share
    }
  }
}

TCandidateWorkers::~TCandidateWorkers() {
  stop_.store(true, std::memory_order_relaxed);
  threads_.clear();  // joins
}

bool TCandidateWorkers::MakeChunk(TAtomScratch<TFastKernel>& scratch) {
  int first = next_.load(std::memory_order_relaxed);
  do {
    // Acquire: the construction is done with the atoms before the one it
    // took, and so with the chunk this one replaces in the ring.
    if (first > count_ || first - taken_.load(std::memory_order_acquire) > kAheadAtoms) return false;
  } while (!next_.compare_exchange_weak(first, first + kAtomsPerChunk, std::memory_order_relaxed));
  TMadeChunk& chunk = ChunkOf(first);
  const int last = std::min(first + kAtomsPerChunk - 1, count_);
  chunk.Atoms.assign(static_cast<std::size_t>(last - first + 1), TMadeAtom{});
  chunk.Neighbours.clear();
  chunk.Candidates.clear();
  chunk.Copies.clear();
  for (int i = first; i <= last; ++i)
    if (source_.Included(i)) MakeAtom(scratch, *source_.AtomOf(i), chunk.Atoms[static_cast<std::size_t>(i - first)], chunk);
  // Ready only when the whole chunk is: its lists no longer grow (and move).
  for (TAtomIndex i = first; i <= last; ++i) At(ready_, i).store(1, std::memory_order_release);
  return true;
}

TMadeAtom& TCandidateWorkers::Take(int number) {
  const auto n = static_cast<std::size_t>(number);
  taken_.store(number, std::memory_order_release);
  // The construction's own scratch is free between two atoms: it makes a
  // later chunk while a worker finishes this one.
  while (ready_[n].load(std::memory_order_acquire) == 0)
    if (!MakeChunk(own_)) std::this_thread::yield();
  return ChunkOf(number).Atoms[(n - 1) % kAtomsPerChunk];
}

}  // namespace cavitas::surface_detail
