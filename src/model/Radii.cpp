// Placeholder until the radius sets are built.
#include "model/Radii.h"
#include "model/Protein.h"

namespace cavitas {
TModelConstants Model;
void SelectRadiusSet(int n) { Model.RadiusSet = (n == kProtor) ? kProtor : kStouten; }
bool SetExactness(double x) {
  if (!(x > 0.0001 && x < 0.9)) return false;
  Model.Exactness = x;
  return true;
}
double RadiusOfType(int t) { return Model.RadiusTable[static_cast<std::size_t>(t)]; }
double Radius(const TAtom& a) { return RadiusOfType(a.RadiusType); }
void ResetProgramState() { Model = TModelConstants{}; SelectRadiusSet(kStouten); }
}  // namespace cavitas
