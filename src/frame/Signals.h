#pragma once
// SIGINT and SIGTERM end a run promptly and cleanly. They are blocked in every
// thread and taken by one thread of their own, which can then do ordinary work
// (remove files, write a line) before it ends the process with the
// conventional status 128 + signal number.
#include <functional>
#include <memory>

namespace cavitas {

class TSignalGuard {
 public:
  // Must be constructed before any other thread starts, so that they all
  // inherit the blocked signals. onSignal(number) runs on the signal thread.
  explicit TSignalGuard(std::function<void(int)> onSignal);
  // After it, a signal ends the process without calling onSignal.
  ~TSignalGuard();
  TSignalGuard(const TSignalGuard&) = delete;
  TSignalGuard& operator=(const TSignalGuard&) = delete;

 private:
  struct TState;
  std::shared_ptr<TState> state_;  // shared with the signal thread, which outlives this object
};

}  // namespace cavitas
