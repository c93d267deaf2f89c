#pragma once
// Extended-precision helpers shared by the surface code. Symbols follow
// docs/geometry.md: the probe circle (M, r) of a pair, the saddle frame F
// (columns = local axes in world coordinates), polar angles phi in [0, 2pi).
#include <array>
#include <cmath>
#include <string>

#include "frame/Error.h"
#include "model/Radii.h"
#include "surface/ConollyObjects.h"

namespace cavitas::surface_detail {

using Ext = long double;

inline Ext Dist2(const TCoord& a, const TCoord& b) { return Norm2(ToExt(a) - ToExt(b)); }

// transpose(F) * v: world direction into local coordinates.
inline TExtVector ToLocal(const TExtFrame& f, const TExtVector& v) {
  return {f[0][0] * v[0] + f[1][0] * v[1] + f[2][0] * v[2], f[0][1] * v[0] + f[1][1] * v[1] + f[2][1] * v[2],
          f[0][2] * v[0] + f[1][2] * v[1] + f[2][2] * v[2]};
}
// F * l: local direction into world coordinates.
inline TExtVector ToWorld(const TExtFrame& f, const TExtVector& l) {
  return {f[0][0] * l[0] + f[0][1] * l[1] + f[0][2] * l[2], f[1][0] * l[0] + f[1][1] * l[1] + f[1][2] * l[2],
          f[2][0] * l[0] + f[2][1] * l[1] + f[2][2] * l[2]};
}

// Polar angle of (x, y) with the system's seven-digit constants; in [0, 2pi).
inline double PolarAngle(Ext x, Ext y) {
  Ext phi = (x == 0) ? Ext{1.570796} : std::atan(y / x);
  if (phi < 0) phi += Ext{3.141593};
  if (y < 0) phi += Ext{3.141593};
  if (y == 0 && x < 0) phi = Ext{3.141593};
  return static_cast<double>(phi);
}

// The same in double, for the Double rows of the arc sweep.
inline double PolarAngleD(double x, double y) {
  double phi = (x == 0) ? 1.570796 : std::atan(y / x);
  if (phi < 0) phi += 3.141593;
  if (y < 0) phi += 3.141593;
  if (y == 0 && x < 0) phi = 3.141593;
  return phi;
}

// A polar angle beyond the arc moves to the nearer arc end.
inline double ClampToArc(double phi, double angle) {
  if (phi > angle) phi = (phi - angle < 6.283185 - phi) ? angle : 0.0;
  return phi;
}

// The tolerant arc membership of the crossing test.
inline bool OnArc(double phi, double angle) { return phi <= angle + 5e-5 || phi > 6.283135; }

// The radii of one construction: the probe and the atom radius of each radius type.
struct TSurfaceRadii {
  double Probe = 0;
  std::array<double, 16> Table{};
  // A radius type outside the table is a bound of the data model (raises).
  double Radius(const TAtom& atom) const {
    if (atom.RadiusType >= Table.size()) RaiseLimit("radius type " + std::to_string(atom.RadiusType) + " outside 0..15");
    return Table[atom.RadiusType];
  }
  double Expanded(const TAtom& atom) const { return Radius(atom) + Probe; }
};

// Radius of an atom in the run's model; a radius type outside the table is a
// bound of the data model.
inline double AtomRadius(const TModelConstants& model, const TAtom& atom) {
  if (atom.RadiusType > 15) RaiseLimit("radius type " + std::to_string(atom.RadiusType) + " outside 0..15");
  return model.RadiusTable[atom.RadiusType];
}
inline double ExpandedRadius(const TModelConstants& model, const TAtom& atom) {
  return AtomRadius(model, atom) + model.ProbeRadius;
}

// Saddle frame of a pair: third axis u (unit); the first axis is the world axis
// least aligned with u, made orthogonal to u; the second is u x e1.
TExtFrame PairFrame(const TExtVector& u);
// F * Rz(s): the frame turned by s about its third axis (local axis 1 toward angle s).
TExtFrame TurnFrame(const TExtFrame& f, Ext s);
// The same turn given by the unit direction (cos s, sin s) in the frame's plane.
TExtFrame TurnFrameTo(const TExtFrame& f, Ext c, Ext sn);

// Probe circle of the pair (i, j): centre M on the axis, radius r, frame F.
struct TProbeCircle {
  TExtFrame Frame{};
  TExtVector Center{};
  Ext Radius = 0;
  TExtVector Axis{};  // u; Frame = PairFrame(Axis) once it is built
};
enum class TCircleResult { Ok, Identical, NoCircle };
// withFrame = false leaves Frame to the caller (a buried circle never needs it).
TCircleResult PairProbeCircle(const TAtom& i, const TAtom& j, const TSurfaceRadii& radii, TProbeCircle& circle,
                              bool withFrame = true);
// The result PairProbeCircle gives for (i, j), without the circle: decided in
// double unless r^2 lies within rounding of 0.
TCircleResult PairCircleKind(const TAtom& i, const TAtom& j, const TSurfaceRadii& radii);

// The crossing test of the walk along the shorter great-circle arc from
// direction `from` to direction `to` on the sphere (centre, radius) with one edge.
TSchnittResult Schnitt(const TConollyObject2& edge, const TExtVector& from, const TExtVector& to,
                       const TExtVector& centre, Ext radius);

}  // namespace cavitas::surface_detail
