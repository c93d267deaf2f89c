#pragma once
// The neighbourhoods of the atoms of one construction, read from the
// protein's neighbour lists: the atoms included in the construction whose
// expanded spheres overlap the atom's.
#include <array>
#include <cstdint>
#include <vector>

#include "model/Protein.h"
#include "surface/Neighbourhood.h"

namespace cavitas::surface_detail {

class TNeighbourSource {
 public:
  // include[Number]: the atom takes part. fast: the collection reads the atoms
  // from a table of their own and decides the cutoff in double unless the
  // distance lies within rounding of it (same neighbours as the plain one).
  TNeighbourSource(const TProteinObject& protein, const std::vector<bool>& include, const TSurfaceRadii& radii,
                   bool fast);
  bool Included(int number) const;
  TAtom* AtomOf(int number) const { return protein_.AtomAt(number); }
  // The neighbourhood of an included atom (n is overwritten). Safe to call
  // from several threads with their own n.
  void Collect(TAtom& atom, TNeighbourhood& n) const;

 private:
  void CollectFast(TAtom& atom, TNeighbourhood& n) const;
  void CollectPlain(TAtom& atom, TNeighbourhood& n) const;
  // The included atoms by number, side by side (Atom nullptr: not included).
  struct TSlot {
    float X = 0, Y = 0, Z = 0;
    std::uint8_t RadiusType = 0;
    std::int32_t Number = 0;
    TAtom* Atom = nullptr;
  };
  const TProteinObject& protein_;
  const std::vector<bool>& include_;
  const TSurfaceRadii& radii_;
  bool fast_;
  std::array<std::array<double, 16>, 16> pairCutoff2_{};  // (r_a + r_b + 2 P)^2 by radius types
  std::vector<TSlot> slots_;
};

}  // namespace cavitas::surface_detail
