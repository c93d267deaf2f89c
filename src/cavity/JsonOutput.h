#pragma once
// The JSON file of a run (option j:FILE): the run's parameters, every residue
// and atom with its volumes and surface flag, every cavity with its group,
// lining atoms and residues and its measures, the inner waters, the part
// counts and the stage times. Keys and units: docs/json-output.md; schema:
// docs/cavitas-output.schema.json.
#include <string>
#include <vector>

#include "cavity/ContactObject.h"

namespace cavitas {

struct TJsonRunInfo {
  std::string Version;
  std::vector<std::string> Arguments;  // the command line, program first
  std::string InputFile;               // as given
};

// The document as text (ASCII; other bytes of names are escaped, invalid
// UTF-8 replaced by U+FFFD), ending with a line end.
std::string RunJsonText(const TNewContactObject& run, const TJsonRunInfo& info);

}  // namespace cavitas
