#pragma once
// Closed-form integrals over one surface element: its area, its first moment
// and the flux of the position through it, from which the area, the enclosed
// volume and the centre of a closed surface follow (divergence theorem). The
// symbols and the derivations are those of docs/geometry.md ("Patch
// integrals").
#include "surface/ConollyObjects.h"

namespace cavitas {

struct TPatchIntegrals {
  long double Area = 0;  // Å²
  TExtVector Moment{};   // ∫ (x − O) dA, Å³
  // ∫ (x − O)·n dA with n the normal that leaves the molecule (toward the
  // solvent side of the patch), Å³. Over a closed surface its sum is three times
  // the enclosed volume (positive for the outer surface, negative for a cavity).
  long double Flux = 0;
  // Contact patch only: the same flux over its copy on the expanded sphere (the
  // face of the probe-centre region), normal away from the atom centre.
  long double ProbeFlux = 0;
  // False for a contact patch whose boundary arcs do not close into cycles: its
  // area and moments then come from the sphere samples.
  bool Exact = true;
};

// The integrals of one element about the origin O. A full free circle counts
// as 2π (its stored Angle is the seven-digit constant), and the ends of other
// arcs are taken where the probe touches the blocking atom (radii and probe of
// the run's model).
TPatchIntegrals PatchIntegrals(const TModelConstants& model, const TConollyObject& element, const TExtVector& origin);

}  // namespace cavitas
