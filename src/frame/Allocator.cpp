#include "frame/Allocator.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#endif

namespace cavitas {

#if defined(__GLIBC__)
namespace {

constexpr int kHeapStep = 128 << 20;  // bytes the heap grows by at a time
constexpr std::uintptr_t kHugePage = 2u << 20;
// Heap bytes kept in small pages: a huge page is resident whole once touched,
// which would make a small structure's run larger than its data.
constexpr std::uintptr_t kSmallPagedHeap = 16u << 20;

// Grows the heap by one step now and asks the kernel to back that part,
// beyond its first kSmallPagedHeap bytes, with huge pages where it does so on
// request: a fresh page costs a fault, and a large structure touches some
// 20 000 small ones. Nothing changes where the kernel declines.
void AdviseHugePages() {
  void* block = std::malloc(1 << 20);  // from the heap: below the mapping threshold
  if (block == nullptr) return;
  const auto from =
      (reinterpret_cast<std::uintptr_t>(block) + kSmallPagedHeap + kHugePage - 1) & ~(kHugePage - 1);
  const auto to = reinterpret_cast<std::uintptr_t>(sbrk(0)) & ~(kHugePage - 1);
  // Only a heap that grew in one piece from the block up to the break.
  if (to > from && to - from <= static_cast<std::uintptr_t>(2 * kHeapStep))
    madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  std::free(block);
}

}  // namespace
#endif

void ExpectHeapUse(std::size_t bytes) {
#if defined(__GLIBC__)
  if (bytes < 2 * kSmallPagedHeap) return;
  const struct mallinfo2 info = mallinfo2();
  const auto brk = reinterpret_cast<std::uintptr_t>(sbrk(0));
  if (info.arena == 0 || info.arena > brk || info.keepcost > info.arena) return;
  const std::uintptr_t start = brk - info.arena;    // the heap grows from here to the break
  const std::uintptr_t used = brk - info.keepcost;  // beyond: the top block, never handed out
  const std::uintptr_t from = (used + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t to = std::min((start + kSmallPagedHeap + kHugePage - 1) & ~(kHugePage - 1), brk & ~(kHugePage - 1));
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

void KeepFreedMemory() {
#if defined(__GLIBC__)
  // Never give the top of a heap back to the system.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Large blocks (per-atom tables) from the heap, reused after they are
  // freed, instead of a fresh mapping each time; 32 MiB is the largest
  // threshold accepted.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  // Worker threads allocate from the same heap as the main thread instead of
  // arenas of their own: memory one stage's workers freed serves the next
  // stage on any thread, and the workers' pages come from the heap's huge
  // pages instead of faulting in arenas of small ones (3o21 on two cores:
  // 72 -> 65 MB peak, 5 600 -> 700 page faults, same time). Per-thread caches
  // keep most small blocks off the shared lock.
  mallopt(M_ARENA_MAX, 1);
  // Under a limit of the address space the heap grows as usual: a large step
  // could fail where the request itself would fit.
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return;
  // Large steps: fewer system calls; pages never touched cost nothing.
  mallopt(M_TOP_PAD, kHeapStep);
  AdviseHugePages();
#endif
}

}  // namespace cavitas
