// Feeds arbitrary bytes as an mmCIF file (a data block is put in front when
// they do not open one) through the whole analysis. A result, a failed read or
// a file error (not valid mmCIF, atom sites without coordinates) is a proper
// outcome; a fatal error, crash, leak, hang or sanitizer report is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/cavitas_fuzz_cif_" + std::to_string(::getpid()) + ".cif";
  std::string text(reinterpret_cast<const char*>(data), size);
  if (text.compare(0, 5, "data_") != 0) text = "data_fuzz\n" + text;
  cavitas::fuzz::RunWholeAnalysis(path, text);
  return 0;
}
