// The rule for thread counts, and running parts of a stage on threads.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "frame/Threads.h"

namespace cavitas {
namespace {

TEST(WorkerThreads, RequestedCountWinsAndSmallWorkStaysOnOneThread) {
  EXPECT_EQ(WorkerThreads(10, 1000, 3), 3);
  EXPECT_EQ(WorkerThreads(999, 1000), 1);
  EXPECT_EQ(WorkerThreads(1000, 1000), MachineThreads());
  EXPECT_GE(MachineThreads(), 1);
  EXPECT_LE(MachineThreads(), 8);
}

TEST(RunParts, EveryPartRunsOnceAndPartZeroOnTheCallingThread) {
  for (const int parts : {0, 1, 2, 5, 40}) {
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(parts));
    std::thread::id first;
    RunParts(parts, [&](int t) {
      runs[static_cast<std::size_t>(t)].fetch_add(1);
      if (t == 0) first = std::this_thread::get_id();
    });
    for (const auto& r : runs) EXPECT_EQ(r.load(), 1) << parts;
    if (parts > 0) {
      EXPECT_EQ(first, std::this_thread::get_id());
    }
  }
}

// The error of the lowest failing part is the one raised, after all parts ended.
TEST(RunParts, RaisesTheErrorOfTheLowestFailingPart) {
  std::atomic<int> ended{0};
  try {
    RunParts(6, [&](int t) {
      ended.fetch_add(1);
      if (t == 2 || t == 4) throw std::runtime_error("part " + std::to_string(t));
    });
    FAIL() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "part 2");
  }
  EXPECT_EQ(ended.load(), 6);
}

}  // namespace
}  // namespace cavitas
