#include "model/Geometry.h"

#include <cmath>

#include "model/Protein.h"
#include "model/Radii.h"

namespace cavitas {

using Ext = long double;

TCoord VecDiff(const TCoord& a, const TCoord& b) {
  return {static_cast<float>(Ext(a.X) - Ext(b.X)), static_cast<float>(Ext(a.Y) - Ext(b.Y)),
          static_cast<float>(Ext(a.Z) - Ext(b.Z))};
}

double VecDot(const TCoord& a, const TCoord& b) {
  return static_cast<double>(Ext(a.X) * b.X + Ext(a.Y) * b.Y + Ext(a.Z) * b.Z);
}

TCoord VecCross(const TCoord& a, const TCoord& b) {
  const Ext x = Ext(a.Y) * b.Z - Ext(b.Y) * a.Z;
  const Ext y = Ext(a.Z) * b.X - Ext(b.Z) * a.X;
  const Ext z = Ext(a.X) * b.Y - Ext(a.Y) * b.X;
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

double VecNormalize(TCoord& v) {
  Ext l = Ext(v.X) * v.X + Ext(v.Y) * v.Y + Ext(v.Z) * v.Z;
  if (!(l > 0)) return 0;
  l = std::sqrt(l);
  v.X = static_cast<float>(v.X / l);
  v.Y = static_cast<float>(v.Y / l);
  v.Z = static_cast<float>(v.Z / l);
  return static_cast<double>(l);
}

double Distance2(const TCoord& a, const TCoord& b) {
  const Ext dx = Ext(a.X) - b.X, dy = Ext(a.Y) - b.Y, dz = Ext(a.Z) - b.Z;
  return static_cast<double>(dx * dx + dy * dy + dz * dz);
}

double Distance(const TCoord& a, const TCoord& b) {
  const Ext dx = Ext(a.X) - b.X, dy = Ext(a.Y) - b.Y, dz = Ext(a.Z) - b.Z;
  return static_cast<double>(std::sqrt(dx * dx + dy * dy + dz * dz));
}

double SurfaceDistance(const TAtom& a, const TAtom& b, const TModelConstants& model) {
  return static_cast<double>(Ext(Distance(a, b)) - model.Radius(a) - model.Radius(b));
}

double Angle2(double y, double x) {
  Ext a;
  if (x != 0) {
    a = std::atan(Ext(y) / Ext(x));
  } else if (y > 0) {
    a = kQuarterTurn;
  } else if (y < 0) {
    a = -kQuarterTurn;
  } else {
    a = kFullTurn;
  }
  if (x < 0) a = (y > 0) ? a + kHalfTurn : a - kHalfTurn;
  return static_cast<double>(a);
}

double Dihedral(const TCoord& p1, const TCoord& p2, const TCoord& p3, const TCoord& p4) {
  const TCoord d1 = VecDiff(p1, p2), d2 = VecDiff(p4, p3), z = VecDiff(p2, p3);
  const TCoord p = VecCross(z, d1), x = VecCross(z, d2), y = VecCross(z, x);
  Ext u = VecDot(x, x);
  Ext v = VecDot(y, y);
  if (u <= 0 || v <= 0) return 360;
  u = VecDot(p, x) / std::sqrt(u);
  v = VecDot(p, y) / std::sqrt(v);
  if (u == 0 && v == 0) return 360;
  return static_cast<double>(Ext(Angle2(static_cast<double>(v), static_cast<double>(u))) * kDegreesPerRadian);
}

double CosAngle(const TCoord& p1, const TCoord& p2, const TCoord& p3, const TCoord& p4) {
  const TCoord a = VecDiff(p1, p2), b = VecDiff(p3, p4);
  const Ext d = Ext(VecDot(a, a)) * VecDot(b, b);
  if (d > 0) return static_cast<double>(VecDot(a, b) / std::sqrt(d));
  return 0;
}

}  // namespace cavitas
