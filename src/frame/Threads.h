#pragma once
// How many threads a stage shares its work among. Results never depend on it.
#include <cstdint>

namespace cavitas {

// The cores this process may run on (its CPU affinity where the system tells
// it, else the machine's), at most eight: more gain little in these stages.
int MachineThreads();

// requested > 0 is taken as it is; otherwise MachineThreads() when there are
// at least `minimum` items of work, else one.
int WorkerThreads(std::int64_t items, std::int64_t minimum, int requested = 0);

}  // namespace cavitas
