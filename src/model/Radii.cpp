#include "model/Radii.h"

#include <string>

#include "frame/Error.h"
#include "model/Protein.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

// Radius in Å by radius type.
constexpr std::array<double, 16> kStoutenRadii = {1.65, 1.76, 1.4, 1.87, 0.9, 1.0, 1.5, 1.6,
                                                  1.7,  1.8,  1.9, 2.0,  2.1, 2.2, 2.3, 2.4};
constexpr std::array<double, 16> kProtorRadii = {1.64, 1.61, 1.42, 1.88, 0.9, 1.0, 1.42, 1.46,
                                                 1.77, 1.8,  1.64, 2.0,  0.1, 1.88, 1.61, 1.76};

}  // namespace

// Constant-initialised, so the start-up state (STOUTEN) holds before any
// dynamic initialiser runs; the atom name table starts with STOUTEN types too.
constinit TModelConstants Model{kStouten, kStoutenRadii, 1.4, 0.2, 2.8};

void SelectRadiusSet(int n) {
  const int set = (n == kProtor) ? kProtor : kStouten;
  Model.RadiusSet = set;
  Model.RadiusTable = (set == kProtor) ? kProtorRadii : kStoutenRadii;
  for (int code = 0; code < kAtomCodeCount; ++code) SetAtomRadiusType(code, RadiusTypeOfSet(code, set));
}

bool SetExactness(double x) {
  if (!(x > 0.0001 && x < 0.9)) return false;
  Model.Exactness = x;
  return true;
}

double RadiusOfType(int radiusType) {
  if (radiusType < 0 || radiusType >= static_cast<int>(Model.RadiusTable.size()))
    RaiseLimit("radius type " + std::to_string(radiusType) + " outside 0..15");
  return Model.RadiusTable[static_cast<std::size_t>(radiusType)];
}

double Radius(const TAtom& atom) { return RadiusOfType(atom.RadiusType); }

void ResetProgramState() {
  Model = TModelConstants{kStouten, kStoutenRadii, 1.4, 0.2, 2.8};
  SelectRadiusSet(kStouten);
}

}  // namespace cavitas
