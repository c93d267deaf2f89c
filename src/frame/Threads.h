#pragma once
// How many threads a stage shares its work among. Results never depend on it.
#include <cstdint>

namespace cavitas {

// requested > 0 is taken as it is; otherwise the machine's cores (at most
// eight) when there are at least `minimum` items of work, else one.
int WorkerThreads(std::int64_t items, std::int64_t minimum, int requested = 0);

}  // namespace cavitas
