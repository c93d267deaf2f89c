#pragma once
// How many threads a stage shares its work among. Results never depend on it.
#include <cstdint>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace cavitas {

// The cores this process may run on (its CPU affinity where the system tells
// it, else the machine's), at most eight: more gain little in these stages.
int MachineThreads();

// requested > 0 is taken as it is; otherwise MachineThreads() when there are
// at least `minimum` items of work, else one.
int WorkerThreads(std::int64_t items, std::int64_t minimum, int requested = 0);

// Runs part(0) on the calling thread and part(1) .. part(parts - 1) on threads
// of their own, and returns when all are done. A part that no thread can be
// had for runs on the calling thread after part(0). An exception of a part is
// raised again here, that of the lowest part first.
template <class Part>
void RunParts(int parts, Part&& part) {
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(parts > 0 ? parts : 0));
  auto guarded = [&](int t) {
    try {
      part(t);
    } catch (...) {
      errors[static_cast<std::size_t>(t)] = std::current_exception();
    }
  };
  int spawned = 1;
  {
    std::vector<std::jthread> threads;
    try {
      for (; spawned < parts; ++spawned) threads.emplace_back(guarded, spawned);
    } catch (const std::system_error&) {
    }
    if (parts > 0) guarded(0);
    for (int t = spawned; t < parts; ++t) guarded(t);
  }  // joined here
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace cavitas
