// Feeds arbitrary bytes as a PDB file through the whole analysis: read and
// validation, secondary structure, inner waters, both surfaces, holes,
// volumes, structure cards, the result file, the cavity measures and the
// texts of the JSON and viewer files (the JSON must parse back). A fatal error is a proper
// outcome (the program exits with its code); a crash, leak, hang or sanitizer
// report is not.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cavity/ContactObject.h"
#include "cavity/JsonOutput.h"
#include "cavity/ViewerFiles.h"
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
    run.MeasureHoles = true;
    run.Run(path, "/dev/null", true, "/dev/null", "/dev/null");
    if (run.Status != 1) {
      const std::string json = RunJsonText(run, {"fuzz", {"cavitas"}, path});
      if (!nlohmann::json::accept(json)) std::abort();
      (void)ViewerTexts(run, "fuzz", "view.pdb");
    }
  } catch (const FatalError&) {
  } catch (const IoError&) {
  }
  CurrentLogTarget = nullptr;
  return 0;
}
