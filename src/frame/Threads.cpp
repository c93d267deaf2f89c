#include "frame/Threads.h"

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace cavitas {

int MachineThreads() {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
#endif
  return std::clamp(cores, 1, 8);
}

int WorkerThreads(std::int64_t items, std::int64_t minimum, int requested) {
  if (requested > 0) return requested;
  if (items < minimum) return 1;
  return MachineThreads();
}

}  // namespace cavitas
