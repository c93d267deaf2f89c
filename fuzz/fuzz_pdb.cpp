// Feeds arbitrary bytes as a PDB file through the whole analysis: read and
// validation, secondary structure, inner waters, both surfaces, holes,
// volumes, structure cards and the result file. A result or a failed read
// (status 1) is a proper outcome; a fatal error (an internal error or a
// capacity of the data model), a crash, leak, hang or sanitizer report is a
// finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/cavitas_fuzz_pdb_" + std::to_string(::getpid()) + ".pdb";
  cavitas::fuzz::RunWholeAnalysis(path, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
