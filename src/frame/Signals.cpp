#include "frame/Signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>
#include <system_error>
#include <thread>

namespace cavitas {

namespace {

sigset_t RunSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

struct TSignalGuard::TState {
  std::function<void(int)> OnSignal;
  std::mutex Mutex;
  bool Armed = true;
};

TSignalGuard::TSignalGuard(std::function<void(int)> onSignal) : state_(std::make_shared<TState>()) {
  state_->OnSignal = std::move(onSignal);
  const sigset_t set = RunSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  // Without a thread for them (no memory for its stack) the signals keep
  // their default action: the run still ends, only without the clean-up.
  auto waiter = [state = state_, set] {
    int number = 0;
    while (sigwait(&set, &number) != 0) {
    }
    {
      const std::lock_guard<std::mutex> lock(state->Mutex);
      if (state->Armed) state->OnSignal(number);
    }
    _exit(128 + number);
  };
  try {
    std::thread(waiter).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
}

TSignalGuard::~TSignalGuard() {
  const std::lock_guard<std::mutex> lock(state_->Mutex);
  state_->Armed = false;
}

}  // namespace cavitas
