#include "model/Radii.h"

#include <string>

#include "frame/Error.h"
#include "model/Protein.h"

namespace cavitas {

namespace {

// Radius in Å by radius type.
constexpr std::array<double, 16> kStoutenRadii = {1.65, 1.76, 1.4, 1.87, 0.9, 1.0, 1.5, 1.6,
                                                  1.7,  1.8,  1.9, 2.0,  2.1, 2.2, 2.3, 2.4};
constexpr std::array<double, 16> kProtorRadii = {1.64, 1.61, 1.42, 1.88, 0.9, 1.0, 1.42, 1.46,
                                                 1.77, 1.8,  1.64, 2.0,  0.1, 1.88, 1.61, 1.76};

}  // namespace

const std::array<double, 16>& RadiusTableOf(int radiusSet) {
  return radiusSet == kProtor ? kProtorRadii : kStoutenRadii;
}

void TModelConstants::SelectRadiusSet(int n) {
  RadiusSet = (n == kProtor) ? kProtor : kStouten;
  RadiusTable = RadiusTableOf(RadiusSet);
}

bool TModelConstants::SetExactness(double x) {
  if (!(x > 0.0001 && x < 0.9)) return false;
  Exactness = x;
  return true;
}

double TModelConstants::RadiusOfType(int radiusType) const {
  if (radiusType < 0 || radiusType >= static_cast<int>(RadiusTable.size()))
    RaiseLimit("radius type " + std::to_string(radiusType) + " outside 0..15");
  return RadiusTable[static_cast<std::size_t>(radiusType)];
}

double TModelConstants::Radius(const TAtom& atom) const { return RadiusOfType(atom.RadiusType); }

}  // namespace cavitas
