#pragma once
// Reads a structure-card file through the read driver.
#include <string>

#include "input/ReadProtein.h"
#include "model/Protein.h"

namespace cavitas::testing {

inline void ReadCardFile(TProteinObject& protein, const std::string& file, int format, const std::string& log) {
  ReadProtein(protein, file, log, format);
}

}  // namespace cavitas::testing
