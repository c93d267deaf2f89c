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

// With the lock held on entry and on return.
void TPartPool::Take(std::unique_lock<std::mutex>& lock) {
  while (part_ != nullptr && next_ < parts_) {
    const int i = next_++;
    ++running_;
    const std::function<void(int)>& part = *part_;
    std::vector<std::exception_ptr>& errors = *errors_;
    lock.unlock();
    try {
      part(i);
    } catch (...) {
      errors[static_cast<std::size_t>(i)] = std::current_exception();
    }
    lock.lock();
    if (--running_ == 0) finished_.notify_all();
  }
}

void TPartPool::Run(int parts, int threads, const std::function<void(int)>& part) {
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(std::max(parts, 0)));
  {
    std::unique_lock lock(mutex_);
    part_ = &part;
    errors_ = &errors;
    parts_ = parts;
    next_ = running_ = 0;
  }
  offered_.notify_all();
  {
    std::vector<std::jthread> own;
    try {
      for (int t = 1; t < threads; ++t) own.emplace_back([this] {
        std::unique_lock lock(mutex_);
        Take(lock);
      });
    } catch (const std::system_error&) {
    }
    std::unique_lock lock(mutex_);
    Take(lock);
    // Every part is taken; those of the other threads and of a helper end first.
    finished_.wait(lock, [this] { return running_ == 0; });
    part_ = nullptr;
    errors_ = nullptr;
  }  // joined here
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

void TPartPool::Help() {
  std::unique_lock lock(mutex_);
  for (;;) {
    offered_.wait(lock, [this] { return closed_ || (part_ != nullptr && next_ < parts_); });
    if (part_ == nullptr || next_ >= parts_) return;  // closed
    Take(lock);
  }
}

void TPartPool::Close() {
  {
    std::unique_lock lock(mutex_);
    closed_ = true;
  }
  offered_.notify_all();
}

}  // namespace cavitas
