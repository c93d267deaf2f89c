// Placeholders until the secondary-structure steps are built.
#include "secstruct/SecStruct.h"

namespace cavitas {

void FlagSSBonds(TProteinObject&, TReadState&) {}
void FlagChirality(TProteinObject&) {}
void FlagHydrogenBonds(TProteinObject&) {}
void FlagBridge(TProteinObject&, TReadState&) {}
void FlagTurn(TProteinObject&) {}
void BuildElementList(TProteinObject&) {}

}  // namespace cavitas
