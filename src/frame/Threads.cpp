#include "frame/Threads.h"

#include <algorithm>
#include <thread>

namespace cavitas {

int WorkerThreads(std::int64_t items, std::int64_t minimum, int requested) {
  if (requested > 0) return requested;
  if (items < minimum) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

}  // namespace cavitas
