#pragma once
// Helpers of the surface tests: hand-built proteins and the invariants every
// surface must satisfy.
#include <memory>
#include <string>
#include <vector>

#include "model/Protein.h"
#include "surface/ConollyObjects.h"

namespace cavitas::testing {

struct TTestAtom {
  double X, Y, Z;
  int RadiusType;  // STOUTEN: 0 = 1.65, 1 = 1.76, 2 = 1.4, 3 = 1.87, 7 = 1.6, 9 = 1.8, 11 = 2.0
};

// Protein atoms 1..n (hetero atoms from proteinCount + 1 when given).
std::unique_ptr<TProteinObject> MakeProtein(const std::vector<TTestAtom>& atoms, int proteinCount = -1);

template <class T>
std::vector<const T*> ElementsOfKind(const TSurface& s, TConollyKind kind) {
  std::vector<const T*> out;
  for (const auto& e : s.Elements)
    if (e->Kind == kind) out.push_back(static_cast<const T*>(e.get()));
  return out;
}

// Every element in list order with all of its geometry as hex floats.
std::string Serialise(const TElementList& elements);

// Invariants of a finished surface; returns "" or a description of the first few failures.
// lastAtom: the highest atom number that took part.
std::string CheckSurfaceInvariants(const TProteinObject& p, const TSurface& s, int lastAtom,
                                   bool concaveAtEveryEnd = true);

// Directions of the sphere samples of atom i that are free (outside every
// other included sphere), weighted: R^2 times the free weight.
double BruteForceContactArea(const TProteinObject& p, int atom, int lastAtom);

}  // namespace cavitas::testing
