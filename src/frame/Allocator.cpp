#include "frame/Allocator.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace cavitas {

void KeepFreedMemory() {
#if defined(__GLIBC__)
  // Never give the top of a heap back to the system.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Large blocks (per-atom tables) from the heap, reused after they are
  // freed, instead of a fresh mapping each time; 32 MiB is the largest
  // threshold accepted.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  // Grow by 64 MiB at a time: fewer system calls; untouched pages cost nothing.
  mallopt(M_TOP_PAD, 64 << 20);
#endif
}

}  // namespace cavitas
