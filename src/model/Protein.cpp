#include "model/Protein.h"

#include "frame/Error.h"

namespace cavitas {

TProteinObject::TProteinObject() : Atoms(1), ElementTable(kMaxElements + 1) {}

TProteinObject::~TProteinObject() = default;

void TProteinObject::PutAtom(int i, std::unique_ptr<TAtom> atom) {
  if (i < 1 || i > kMaxAtoms) RaiseLimit("atom index " + std::to_string(i) + " outside 1.." + std::to_string(kMaxAtoms));
  if (static_cast<std::size_t>(i) >= Atoms.size()) Atoms.resize(static_cast<std::size_t>(i) + 1);
  Atoms[static_cast<std::size_t>(i)] = std::move(atom);
}

std::unique_ptr<TAtom> TProteinObject::TakeAtom(int i) {
  if (i < 1 || static_cast<std::size_t>(i) >= Atoms.size()) return nullptr;
  return std::move(Atoms[static_cast<std::size_t>(i)]);
}

void RemoveDuplicateAtoms(TMyCollection<THetAtom>& list) {
  for (std::size_t k = list.size(); k-- > 1;) {
    for (std::size_t j = 0; j < k; ++j) {
      if (Distance2(*list[j]->Atom, *list[k]->Atom) < 1e-6) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(k));
        break;
      }
    }
  }
}

}  // namespace cavitas

namespace cavitas {
bool NoChainBreak(const TProteinObject& protein, int a, int b) {
  if (a < 1 || a > b || b > protein.ResidueCount) return false;
  for (std::int32_t c : protein.ChainBreaks)
    if (a <= c && c < b) return false;
  return true;
}
}  // namespace cavitas
