// Steps A to C of the per-atom construction on several threads. The
// neighbours and candidates of an atom are a function of the atom, the
// neighbour lists and the model alone, so workers may make them in any order;
// registration, contact patches and the log stay with the run, atom by atom,
// as before. Every element and log line is the same as from one thread.
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "surface/ConollyRun.h"

namespace cavitas::surface_detail {

namespace {

constexpr int kAtomsPerTake = 16;  // atoms a worker takes at a time: few collisions, even shares

// A worker's own run: the scratch of steps A to C; it never registers anything.
struct TWorker {
  TWorker(TProteinObject& protein, const std::vector<bool>& include, bool split)
      : Run(protein, include, Lists, Status, split, Elements) {}
  TAtomElementLists Lists;
  TElementList Elements;
  std::int32_t Status = 0;
  TConollyRun Run;
};

}  // namespace

void TConollyRun::MakeAtom(TAtom& atom, TMadeAtom& out, const TConollyRun* memoOwner) {
  try {
    CollectNeighbours(atom);
    out.Neighbours = neighbours_;
    if (memoOwner != nullptr && memoOwner->MemoHolds(atom, neighbours_)) return;
    candidates_.clear();
    MakeCandidates(atom);
    out.Candidates = std::move(candidates_);
    candidates_.clear();
    out.Log = std::move(pairLog_);
    pairLog_.clear();
    out.Made = true;
  } catch (...) {
    // Raised again when the atom's turn comes, as the single thread would.
    out.Error = std::current_exception();
  }
}

std::vector<TConollyRun::TMadeAtom> TConollyRun::MakeCandidatesInParallel(int threads, bool memo) {
  const int count = protein_.AtomCount;
  std::vector<TMadeAtom> made(static_cast<std::size_t>(std::max(count, 0)) + 1);
  std::atomic<int> next{1};
  const TConollyRun* memoOwner = memo ? this : nullptr;
  auto work = [&](TConollyRun& run) {
    for (;;) {
      const int first = next.fetch_add(kAtomsPerTake, std::memory_order_relaxed);
      if (first > count) return;
      for (int i = first; i < first + kAtomsPerTake && i <= count; ++i)
        if (Included(i)) run.MakeAtom(*AtomOf(i), made[static_cast<std::size_t>(i)], memoOwner);
    }
  };
  std::vector<std::unique_ptr<TWorker>> workers;
  for (int t = 1; t < threads; ++t) {
    workers.push_back(std::make_unique<TWorker>(protein_, include_, split_));
    workers.back()->Run.PrepareScan();
  }
  {
    std::vector<std::jthread> running;
    for (auto& w : workers) {
      try {
        running.emplace_back([&work, &w] { work(w->Run); });
      } catch (const std::system_error&) {
        break;  // no thread to be had: the others do its share
      }
    }
    work(*this);
  }  // joined here
  return made;
}

}  // namespace cavitas::surface_detail
