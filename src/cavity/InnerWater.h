#pragma once
// The inner-water search: crystal waters that sit inside the protein become
// hetero atoms (atom code 305), grouped into water elements.
#include <cstdint>
#include <vector>

#include "model/Protein.h"
#include "surface/ConollyObjects.h"

namespace cavitas {

// What the search decided for one water of Waters.
struct TWaterVerdict {
  std::int32_t Nearest = 0;      // nearest atom of the first outer surface, 0 = none
  double P = 1000.0, Q = 1000.0;  // smallest probe and patch distance over that atom's contact patches
  bool Candidate = false;         // passed the patch test
  bool Exposed = false;           // candidate with a patch on the rebuilt outer surface
  bool Inner = false;             // moved into the hetero atoms
};

// The search on any protein object; trace, when given, receives one verdict
// per examined water in the order of Waters at entry.
void FindInnerWaterIn(TProteinObject& protein, std::vector<TWaterVerdict>* trace = nullptr,
                      TSurfaceMemo* memo = nullptr);

// The thresholds of the patch test (P = probe distance, Q = patch distance,
// both for a sphere of 1.4 Å around the water).
bool IsInnerWaterCandidate(double p, double q);

// P and Q over the contact patches of one per-atom element list (radii and probe of model).
void WaterPatchDistances(const TModelConstants& model, const std::vector<TConollyObject*>& slot, const TCoord& water,
                         double& p, double& q);

namespace detail {

// Nearest flagged atom (1..atomCount with flags[i] set) of each water by
// SurfaceDistance; a strictly smaller gap wins, so the lowest index wins ties;
// 0 when no gap is below 1000. The straightforward scan and the cell-grid
// search give the same atoms.
std::vector<std::int32_t> NearestSurfaceAtomsScan(const TProteinObject& protein, std::int32_t atomCount,
                                                  const std::vector<std::uint8_t>& flags,
                                                  const std::vector<const TAtom*>& waters);
std::vector<std::int32_t> NearestSurfaceAtomsIndexed(const TProteinObject& protein, std::int32_t atomCount,
                                                     const std::vector<std::uint8_t>& flags,
                                                     const std::vector<const TAtom*>& waters);

}  // namespace detail

}  // namespace cavitas
