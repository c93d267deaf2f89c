#pragma once
// The neighbourhoods and candidates of the atoms made on worker threads, in
// chunks in atom order, while the construction takes them atom by atom. They
// are a function of the atom, the neighbour lists and the radii alone, so
// workers may make them in any order; registration, contact patches and the
// log stay with the construction, atom by atom. Every element and log line
// is the same as from one thread.
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "surface/AtomKernel.h"
#include "surface/NeighbourSource.h"
#include "surface/RunMemo.h"

namespace cavitas::surface_detail {

// The scratch of the per-atom steps: the kernel, a neighbourhood, what the kernel made.
template <class Kernel>
struct TAtomScratch {
  explicit TAtomScratch(const TSurfaceRadii& radii) : Steps(radii) {}
  Kernel Steps;
  TNeighbourhood Near;
  TAtomCandidates Made;
};

// What a worker made for one atom ahead of the ordered steps: its neighbours
// and, unless the memo holds for it, its candidates and the log lines of its
// pairs; an error is raised when the atom's turn comes. With a memo the
// worker also makes the copies: of the new candidates for the next
// construction, or of the last one's candidates for this one (Recalled; not
// in a construction that keeps no memo, which moves them at the atom's turn).
struct TMadeChunk;
struct TMadeAtom {
  TMadeChunk* Chunk = nullptr;
  std::uint32_t Neighbours = 0, NeighboursEnd = 0;
  std::uint32_t Candidates = 0, CandidatesEnd = 0;  // new or recalled
  std::uint32_t Copies = 0, CopiesEnd = 0;
  std::vector<std::string> Log;
  std::vector<int> Tied;  // atoms of tied arcs
  bool Made = false;
  bool Recalled = false;
  std::exception_ptr Error;
};

// What workers made for a chunk of atoms, in atom order; the atoms' entries
// (TMadeAtom) are ranges of it. The construction moves the objects out; the
// worker that makes a later chunk in the same place empties it (its lists
// keep their room, and what was left in them goes on the thread that made it).
struct TMadeChunk {
  std::vector<TMadeAtom> Atoms;  // the chunk's atoms in order
  std::vector<TAtom*> Neighbours;
  TCandidateList Candidates;
  TCandidateList Copies;
};

class TCandidateWorkers {
 public:
  // own: the construction's scratch, with which it makes a chunk itself when
  // the atom it needs is not ready yet. memo: null when none.
  TCandidateWorkers(const TNeighbourSource& source, const TSurfaceRadii& radii, TMemoSession* memo,
                    int atomCount, int threads, TAtomScratch<TFastKernel>& own);
  ~TCandidateWorkers();  // stops and joins the workers
  TCandidateWorkers(const TCandidateWorkers&) = delete;
  TCandidateWorkers& operator=(const TCandidateWorkers&) = delete;
  // What was made for an included atom; waits for it (or makes it) first.
  TMadeAtom& Take(int number);

 private:
  static constexpr int kAtomsPerChunk = 16;  // few collisions on the counter, little waiting for a chunk
  static constexpr int kAheadAtoms = 1024;   // how far workers may run ahead of the construction

  // false: every chunk is taken, or the next one lies more than kAheadAtoms
  // beyond the atom the construction takes (its place is still in use).
  bool MakeChunk(TAtomScratch<TFastKernel>& scratch);
  TMadeChunk& ChunkOf(int number) {
    return chunks_[static_cast<std::size_t>((number - 1) / kAtomsPerChunk) % chunks_.size()];
  }
  void MakeAtom(TAtomScratch<TFastKernel>& scratch, TAtom& atom, TMadeAtom& out, TMadeChunk& chunk) const;
  const TNeighbourSource& source_;
  TMemoSession* memo_;
  TAtomScratch<TFastKernel>& own_;
  int count_;
  // Chunk k holds atoms k * kAtomsPerChunk + 1 ..; the chunks within reach
  // of the workers (kAheadAtoms) take turns in a ring of places.
  std::vector<TMadeChunk> chunks_;
  std::vector<std::atomic<std::uint8_t>> ready_;
  std::atomic<int> next_{1};
  std::atomic<int> taken_{0};  // the atom the construction took last
  std::atomic<bool> stop_{false};
  std::vector<std::unique_ptr<TAtomScratch<TFastKernel>>> scratch_;
  std::vector<std::jthread> threads_;
};

}  // namespace cavitas::surface_detail
