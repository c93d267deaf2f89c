#pragma once
// The secondary-structure flag steps run inside the read driver, in this order:
// FlagSSBonds, FlagChirality, FlagHydrogenBonds, FlagBridge, FlagTurn (with FlagHelix).
// BuildElementList runs in Run after the read.
#include "model/Protein.h"
#include "secstruct/ReadState.h"

namespace cavitas {

void FlagSSBonds(TProteinObject& protein, TReadState& state);
void FlagChirality(TProteinObject& protein);
void FlagHydrogenBonds(TProteinObject& protein);
void FlagBridge(TProteinObject& protein, TReadState& state);
void FlagTurn(TProteinObject& protein);
void BuildElementList(TProteinObject& protein);
// Appends one hetero-group element (kind 3) per residue of consecutive hetero atoms
// after the protein elements; inner waters get their water elements later.
void BuildHetElements(TProteinObject& protein);

}  // namespace cavitas
