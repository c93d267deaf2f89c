#pragma once
// Points, vectors and the backbone angles. Arithmetic inside each operation is
// carried out in long double; vectors are stored as floats, scalars returned as doubles.
#include <array>
#include <cstdint>

namespace cavitas {

// The angle constants as the system has always used them (not full-precision pi).
constexpr double kQuarterTurn = 1.570796;
constexpr double kHalfTurn = 3.141593;
constexpr double kFullTurn = 6.283185;
constexpr double kDegreesPerRadian = 57.29578;

struct TCoord {
  float X = 0, Y = 0, Z = 0;
};
struct TAtom;

// The float vector operations of the stored points: each result component is
// computed in long double and rounded to float (the dot product to double).
TCoord VecDiff(const TCoord& a, const TCoord& b);
double VecDot(const TCoord& a, const TCoord& b);
TCoord VecCross(const TCoord& a, const TCoord& b);
// Divides v by its length and returns the length; a zero vector stays and gives 0.
double VecNormalize(TCoord& v);
double Distance(const TCoord& a, const TCoord& b);
double Distance2(const TCoord& a, const TCoord& b);
struct TModelConstants;
// Gap between the two atom spheres: centre distance minus both radii of the run's radius set.
double SurfaceDistance(const TAtom& a, const TAtom& b, const TModelConstants& model);
// Polar angle of (x, y) in radians; (0, 0) gives a full turn, x < 0 with y = 0 gives -half turn.
double Angle2(double y, double x);
// Dihedral about p2-p3 in degrees; 360 when undefined.
double Dihedral(const TCoord& p1, const TCoord& p2, const TCoord& p3, const TCoord& p4);
// Cosine of the angle between p1-p2 and p3-p4; 0 when either has length 0.
double CosAngle(const TCoord& p1, const TCoord& p2, const TCoord& p3, const TCoord& p4);

// floor(x) of a long double in [0, 2^31) as an int, without the x87 integer
// conversion (its switch of the rounding mode costs more than the rest): the
// value rounded to double may only have gone up, to the next integer.
inline int FloorIndex(long double x) {
  int n = static_cast<int>(static_cast<double>(x));
  if (static_cast<long double>(n) > x) --n;
  return n;
}

}  // namespace cavitas
