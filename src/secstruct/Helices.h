#pragma once
#include "model/Protein.h"

namespace cavitas {

// Derives helices and the final summary letter from the turn marks (run by FlagTurn).
void FlagHelix(TProteinObject& protein);

}  // namespace cavitas
