#pragma once
// The read driver: decodes the input, assembles and validates residues, records
// chain breaks, runs the secondary-structure flag steps and appends the hetero atoms.
#include <string>

#include "model/Protein.h"

namespace cavitas {

// InputFormat 0 = PDB; 1, 2 = structure-card file; 3 = its variant.
void ReadProtein(TProteinObject& protein, const std::string& inputFile, const std::string& logFile,
                 int inputFormat);

}  // namespace cavitas
