#include "model/Protein.h"

#include <algorithm>

#include "frame/Error.h"

namespace cavitas {

TProteinObject::TProteinObject() : Atoms(1), ElementTable(1) {}

TElementZeile& TProteinObject::ElementRow(int e) {
  if (e < 1) RaiseLimit("element row " + std::to_string(e));
  if (static_cast<std::size_t>(e) >= ElementTable.size()) ElementTable.resize(static_cast<std::size_t>(e) + 1);
  return ElementTable[static_cast<std::size_t>(e)];
}

TProteinObject::~TProteinObject() = default;

void TProteinObject::PutAtom(int i, std::unique_ptr<TAtom> atom) {
  if (i < 1) RaiseLimit("atom index " + std::to_string(i) + " below 1");
  if (static_cast<std::size_t>(i) >= Atoms.size()) Atoms.resize(static_cast<std::size_t>(i) + 1);
  Atoms[static_cast<std::size_t>(i)] = std::move(atom);
}

std::unique_ptr<TAtom> TProteinObject::TakeAtom(int i) {
  if (i < 1 || static_cast<std::size_t>(i) >= Atoms.size()) return nullptr;
  return std::move(Atoms[static_cast<std::size_t>(i)]);
}

std::vector<bool> FlagCoincidentAtoms(const TMyCollection<THetAtom>& list, TPointIndex& earlier) {
  std::vector<bool> flags(list.size(), false);
  for (std::size_t k = 0; k < list.size(); ++k) {
    const TAtom& atom = *list[k]->Atom;
    flags[k] = earlier.FindWithin(atom, kCoincident2, -1) >= 0;
    earlier.Insert(atom, static_cast<std::int32_t>(k));
  }
  return flags;
}

void RemoveDuplicateAtoms(TMyCollection<THetAtom>& list) {
  TPointIndex index(kCoincidentCell);
  const std::vector<bool> flags = FlagCoincidentAtoms(list, index);
  std::size_t keep = 0;
  for (std::size_t k = 0; k < list.size(); ++k)
    if (!flags[k]) list[keep++] = std::move(list[k]);
  list.resize(keep);
}

}  // namespace cavitas

namespace cavitas {
bool NoChainBreak(const TProteinObject& protein, int a, int b) {
  if (a < 1 || a > b || b > protein.ResidueCount) return false;
  // The first break at or after a must lie at or after b.
  const auto c = std::lower_bound(protein.ChainBreaks.begin(), protein.ChainBreaks.end(), a);
  return c == protein.ChainBreaks.end() || *c >= b;
}
}  // namespace cavitas
