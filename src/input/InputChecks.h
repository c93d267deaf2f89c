#pragma once
// Checks of the atoms as read, run by the read driver once the atom table is
// complete: atoms at the place of other atoms, atoms far from all others.
#include <cstdint>
#include <vector>

#include "model/Protein.h"

namespace cavitas {

// Hetero atoms and waters within 0.001 Å of an atom read before them (a
// protein atom, an earlier hetero atom; for a water also any hetero atom or an
// earlier water) are removed, the others keeping their order. Each residue
// with removed atoms is reported once (the first 100 of them, then a count).
void RemoveCoincidentHetAtoms(TProteinObject& protein);

// An atom with no other atom within this distance (Å) is isolated.
constexpr double kIsolationDistance = 20.0;

// Reports every atom of the atom table that is isolated (the first 100, then
// a count), with its input line: proteinAtomLines by Number for the protein
// atoms, THetAtom::Line for the hetero atoms. Such an atom stays in the
// analysis as a sphere of its own; no stage pays for the space between it and
// the rest. Returns the number of isolated atoms.
int ReportIsolatedAtoms(const TProteinObject& protein, const std::vector<std::int32_t>& proteinAtomLines);

}  // namespace cavitas
