// Feeds arbitrary bytes as a PDB file through the whole analysis: read and
// validation, secondary structure, inner waters, both surfaces, holes,
// volumes, structure cards and the result file. A fatal error is a proper
// outcome (the program exits with its code); a crash, leak, hang or sanitizer
// report is not.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cavity/ContactObject.h"
#include "frame/Error.h"
#include "frame/LogFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cavitas;
  static const std::string path = "/tmp/cavitas_fuzz_pdb_" + std::to_string(::getpid()) + ".pdb";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  ProgramLog().LogFileName = "/dev/null";
  CurrentLogTarget = nullptr;
  try {
    TNewContactObject run;
    run.Run(path, "/dev/null", true, "/dev/null", "/dev/null");
  } catch (const FatalError&) {
  } catch (const IoError&) {
  }
  CurrentLogTarget = nullptr;
  return 0;
}
