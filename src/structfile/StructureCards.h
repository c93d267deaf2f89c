#pragma once
// The card builders of the structure file and the rendering of a whole protein
// object as structure cards.
#include <cstdint>
#include <functional>
#include <string>

#include "model/Protein.h"

namespace cavitas {

std::string ResolutionCard(const TProteinObject& protein);  // RESOLT
std::string MethodCard();                                   // METHOD
std::string LengthCard(const TProteinObject& protein);      // LENGTH
// "REMARK    BREAK AFTER AA" with every break; only meaningful with breaks.
std::string BreakCard(const TProteinObject& protein);
std::string ElementCountCard(const TProteinObject& protein);     // NRELEM
std::string HetElementCountCard(const TProteinObject& protein);  // NRHETE
std::string SuperSSECountCard(const TProteinObject& protein);    // NRSSSE
std::string DefinedSSECountCard(const TProteinObject& protein);  // NRISSE
std::string HoleCountCard(const TProteinObject& protein);        // NRHOLE
std::string SpecialHoleCountCard(const TProteinObject& protein); // NRSPHL
// SPECHL of special hole definition i (1-based): hole number 1 - i.
std::string SpecialHoleCard(const TProteinObject& protein, int i);
std::string EndCard();

// SEKSTN or SEKSTH card of element row `number`.
std::string ElementCard(const TProteinObject& protein, const TElementZeile& element, int number);
// SEKSTS card of entry b (1-based) of a super element numbered `number`.
std::string SuperElementCard(const TProteinObject& protein, const TSSSE& sse, int number, int b);

// ATOM line of a protein atom of `residue`, without extension.
std::string AtomLine(const TProteinObject& protein, const TAtom& atom, const TBACKBONE& residue);
// HETATM line of a hetero atom record, without extension.
std::string HetAtomLine(const TProteinObject& protein, const THetAtom& het);
// The lines plus the per-atom extension: volumes, element number text and the
// atom's neighbour entries from `elementAtoms` (may be null).
std::string ExtendedAtomLine(const TProteinObject& protein, const TAtom& atom, const TBACKBONE& residue,
                             const std::vector<TNachbarStruktur>* elementAtoms, const std::string& elementNumber);
std::string ExtendedHetAtomLine(const TProteinObject& protein, const THetAtom& het,
                                const std::vector<TNachbarStruktur>* elementAtoms, const std::string& elementNumber);

// Hands every structure card of the protein, in file order, to `sink`
// (header lines, summary cards, element cards, super-element cards, extended
// atom and hetero atom lines, END). Each line is built, passed on and dropped.
void RenderStructureCards(const TProteinObject& protein, const std::function<void(const std::string&)>& sink);

// The checksum (register started at -1) of all structure cards.
std::int32_t SumStructureCards(const TProteinObject& protein);

// Writes the structure cards followed by the CH-SUM card of their checksum and
// returns that checksum (each card is formatted once for both).
// Throws IoError when the file cannot be created or written.
std::int32_t WriteStructureCards(const TProteinObject& protein, const std::string& file);

}  // namespace cavitas
