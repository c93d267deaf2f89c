#pragma once
// Beta bridges, ladders (runs of bridges of one kind), their links across
// bulges, sheets, and the marks they leave on the residues.
#include <string>

#include "model/Protein.h"
#include "secstruct/ReadState.h"

namespace cavitas {

// Kind of the bridge (i, j): parallel, antiparallel or none, tested in that order.
TBridgeKind BridgeKindOf(const TProteinObject& protein, int i, int j);
// Passes the two nearest later bridge partners of residue i to AddBridge, testing every j.
void FindBridges(TProteinObject& protein, TReadState& state, int i);
void AddBridge(TProteinObject& protein, TReadState& state, int i, int j, TBridgeKind kind);
void LinkLadders(const TProteinObject& protein, TReadState& state);
bool LaddersLinked(const TReadState& state, int a, int b);
// Sheets are the groups of ladders linked across bulges or overlapping
// (LaddersLinked), closed under both relations; in the order of their lowest
// ladder they get the letters A..z, their chains of ladders in ascending order
// the ladder letters, and every ladder the sheet's first ladder as its Group.
void LabelSheets(TReadState& state);
void MarkStrands(TProteinObject& protein, TReadState& state);
// One line of the diagnostic ladder table.
std::string BridgeTableLine(const TReadState& state, int n);

// FlagBridge with the literal partner scan of FindBridges, kept to prove that
// the indexed search of FlagBridge gives the same ladders.
void FlagBridgeReference(TProteinObject& protein, TReadState& state);

}  // namespace cavitas
