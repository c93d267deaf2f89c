#pragma once
// Area, enclosed volume and centre of a closed part of the molecular surface
// (a cavity or the outer surface), exact for the analytic surface: the sums of
// the closed-form patch integrals (surface/PatchIntegrals.h, docs/geometry.md).
#include <cstdint>

#include "surface/ConollyObjects.h"

namespace cavitas {

struct TSurfaceMeasures {
  double Area = 0;    // Å²
  double Volume = 0;  // Å³ enclosed by the surface
  // Centroid of the surface area (Å); for a cavity, a point of its inside when
  // the cavity is convex enough, always a point near it.
  TDoubleVector Centre{};
  // Cavities only: the volume of the region where a probe centre can sit inside
  // the cavity (bounded by the expanded spheres), Å³.
  double ProbeCentreVolume = 0;
  std::int32_t SampledPatches = 0;  // contact patches measured by samples (not closed cycles)
};

// The measures of the elements of one closed surface. cavity: the surface
// bounds a cavity (its normals point into it) instead of the molecule; model:
// the radii and the probe the surface was built with.
TSurfaceMeasures MeasureSurface(const TModelConstants& model, const TElementList& elements, bool cavity);

}  // namespace cavitas
