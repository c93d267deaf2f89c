// The benchmarks' entry point: the allocator set up as the program sets it up.
#include <benchmark/benchmark.h>

#include "frame/Allocator.h"

int main(int argc, char** argv) {
  cavitas::KeepFreedMemory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
