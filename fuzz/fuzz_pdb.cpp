// Feeds arbitrary bytes as a PDB file through the whole analysis: read and
// validation, secondary structure, inner waters, both surfaces, holes,
// volumes, structure cards, the result file, the cavity measures and the
// texts of the JSON and viewer files (the JSON must parse back). A result or a
// failed read (status Failed) is a proper outcome; a fatal error (an internal error
// or a capacity of the data model), a crash, leak, hang or sanitizer report is
// a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "FuzzRun.h"
#include "cavity/JsonOutput.h"
#include "cavity/ViewerFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cavitas;
  static const std::string path = "/tmp/cavitas_fuzz_pdb_" + std::to_string(::getpid()) + ".pdb";
  fuzz::RunWholeAnalysis(path, std::string(reinterpret_cast<const char*>(data), size), [&](TNewContactObject& run) {
    const std::string json = RunJsonText(run, {"fuzz", {"cavitas"}, path});
    if (!nlohmann::json::accept(json)) std::abort();
    (void)ViewerTexts(run, "fuzz", "view.pdb");
  });
  return 0;
}
