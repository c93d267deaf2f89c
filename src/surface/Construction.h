#pragma once
// The construction of the surface on the reference kernel, and the bounds of
// the resolution of exact degeneracies (tests compare it with GetAtConolly).
#include <cstdint>
#include <vector>

#include "surface/ConollyObjects.h"
#include "surface/DegeneratePoints.h"

namespace cavitas::surface_detail {

// GetAtConolly on the reference kernel, on one thread and without a memo.
void GetAtConollyReference(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                           TRunStatus& status, bool split, TElementList& elements);

}  // namespace cavitas::surface_detail
