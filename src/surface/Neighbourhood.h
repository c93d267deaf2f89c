#pragma once
// What the per-atom kernel takes and gives: an atom with its neighbours, and
// the candidate elements made from them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "surface/ConollyObjects.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas::surface_detail {

// A neighbour as the kernel sees it: its offset from the atom in double, the
// square of that, its expanded radius and its number.
struct TNeighbour {
  double X = 0, Y = 0, Z = 0, D2 = 0, Ek = 0;
  std::int32_t Number = 0;
};
// The neighbour n of atom as the collection computes it (Ek unchecked).
inline TNeighbour NeighbourOf(const TAtom& atom, const TAtom& n, const TSurfaceRadii& radii) {
  const double x = double(n.X) - atom.X, y = double(n.Y) - atom.Y, z = double(n.Z) - atom.Z;
  return {x, y, z, x * x + y * y + z * z, radii.Table[n.RadiusType] + radii.Probe, n.Number};
}

// An atom and the atoms whose expanded spheres reach into its own, in the
// order of the neighbour lists (the atom itself may be among them); Atoms and
// Near are parallel.
struct TNeighbourhood {
  TAtom* Atom = nullptr;
  std::vector<TAtom*> Atoms;
  std::vector<TNeighbour> Near;
  void Clear() {
    Atoms.clear();
    Near.clear();
  }
  void Add(TAtom* atom, const TNeighbour& near) {
    Atoms.push_back(atom);
    Near.push_back(near);
  }
};

// What the kernel makes of one neighbourhood: the candidates of the atom's
// pairs in pair order (registration keeps the owners among them), the log
// lines of its pairs, and the atoms of tied arcs (exact degeneracies that the
// construction resolves by moving them).
struct TAtomCandidates {
  std::vector<std::unique_ptr<TConollyObject>> Elements;
  std::vector<std::string> Log;
  std::vector<int> Tied;
  void Clear() {
    Elements.clear();
    Log.clear();
    Tied.clear();
  }
};

}  // namespace cavitas::surface_detail
