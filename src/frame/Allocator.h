#pragma once
// How the process asks the C allocator for memory. One run builds and frees
// several large surfaces and neighbour tables in turn; memory handed back to
// the system between them has to be faulted in again, page by page, by the
// next stage. A one-shot process is better off keeping what it freed.

#include <cstddef>

namespace cavitas {

// Keeps freed memory in the process (no trimming, no per-block mappings for
// large blocks, one heap for all threads), grows the heap in large steps and asks for huge pages for
// the first of them beyond its first 16 MiB (not under an address-space limit). Called once, first thing in
// main, before any thread starts; benchmarks call it too, so that they time
// what the program does.
void KeepFreedMemory();

// The run will use about `bytes` of heap. Where that is well beyond the
// small-paged start of the heap, its part not yet handed out gets huge pages
// too: such a run touches all of it anyway, and each small page costs a
// fault (some 4 000 of them for 16 MiB).
void ExpectHeapUse(std::size_t bytes);

}  // namespace cavitas
