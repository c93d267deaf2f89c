#include <gtest/gtest.h>

#include <cmath>

#include "model/Geometry.h"
#include "model/Protein.h"
#include "model/Radii.h"
#include "model/Vector3.h"

namespace cavitas {
namespace {

TCoord P(float x, float y, float z) { return TCoord{x, y, z}; }

TEST(Angle2, QuadrantsAndUndefinedValues) {
  EXPECT_EQ(Angle2(0, 0), 6.283185);
  EXPECT_EQ(Angle2(0, -1), -3.141593) << "x < 0, y = 0 gives minus a half turn";
  EXPECT_EQ(Angle2(1, 0), 1.570796);
  EXPECT_EQ(Angle2(-1, 0), -1.570796);
  EXPECT_DOUBLE_EQ(Angle2(1, 1), std::atan(1.0));
  EXPECT_NEAR(Angle2(1, -1), std::atan(-1.0L) + 3.141593L, 1e-15);
  EXPECT_NEAR(Angle2(-1, -1), std::atan(1.0L) - 3.141593L, 1e-15);
}

TEST(Dihedral, PlanarCisTransAndUndefined) {
  // cis: p1 and p4 on the same side of the p2-p3 axis.
  EXPECT_EQ(Dihedral(P(1, 1, 0), P(1, 0, 0), P(2, 0, 0), P(2, 1, 0)), 0.0);
  // trans: never +180.
  EXPECT_DOUBLE_EQ(Dihedral(P(1, 1, 0), P(1, 0, 0), P(2, 0, 0), P(2, -1, 0)), -3.141593 * 57.29578);
  EXPECT_EQ(Dihedral(P(0, 0, 0), P(1, 0, 0), P(2, 0, 0), P(3, 0, 0)), 360.0) << "collinear";
  EXPECT_EQ(Dihedral(P(1, 1, 0), P(1, 0, 0), P(1, 0, 0), P(2, 1, 0)), 360.0) << "p2 = p3";
}

TEST(Dihedral, SignOfAQuarterTurn) {
  const double plus = Dihedral(P(1, 1, 0), P(1, 0, 0), P(2, 0, 0), P(2, 0, 1));
  const double minus = Dihedral(P(1, 1, 0), P(1, 0, 0), P(2, 0, 0), P(2, 0, -1));
  EXPECT_NEAR(std::fabs(plus), 90.0, 1e-4);
  EXPECT_NEAR(plus, -minus, 1e-9);
}

TEST(CosAngle, ValuesAndZeroLength) {
  EXPECT_DOUBLE_EQ(CosAngle(P(1, 0, 0), P(0, 0, 0), P(0, 2, 0), P(0, 0, 0)), 0.0);
  EXPECT_DOUBLE_EQ(CosAngle(P(3, 0, 0), P(1, 0, 0), P(5, 0, 0), P(0, 0, 0)), 1.0);
  EXPECT_DOUBLE_EQ(CosAngle(P(1, 1, 0), P(0, 0, 0), P(-1, -1, 0), P(0, 0, 0)), -1.0);
  EXPECT_EQ(CosAngle(P(1, 1, 1), P(1, 1, 1), P(0, 2, 0), P(0, 0, 0)), 0.0);
}

TEST(Vectors, ProductsDistancesAndNormalize) {
  TCoord r = VecCross(P(1, 0, 0), P(0, 1, 0));
  EXPECT_EQ(r.X, 0);
  EXPECT_EQ(r.Y, 0);
  EXPECT_EQ(r.Z, 1);
  r = VecDiff(P(1, 2, 3), P(0.5f, 4, -1));
  EXPECT_EQ(r.X, 0.5f);
  EXPECT_EQ(r.Y, -2);
  EXPECT_EQ(r.Z, 4);
  EXPECT_EQ(VecDot(P(1, 2, 3), P(4, -5, 6)), 12.0);
  EXPECT_EQ(Distance(P(0, 0, 0), P(3, 4, 12)), 13.0);
  EXPECT_EQ(Distance2(P(0, 0, 0), P(3, 4, 12)), 169.0);

  TCoord v = P(0, 3, 4);
  EXPECT_EQ(VecNormalize(v), 5.0);
  EXPECT_FLOAT_EQ(v.Y, 0.6f);
  EXPECT_FLOAT_EQ(v.Z, 0.8f);
  TCoord zero;
  EXPECT_EQ(VecNormalize(zero), 0.0);
  EXPECT_EQ(zero.X, 0);
  EXPECT_EQ(zero.Y, 0);
  EXPECT_EQ(zero.Z, 0);
}

// Hand-computed products; Cross is orthogonal to both factors (exact in small integers).
TEST(Vector3, ProductsNormsAndConversions) {
  const TExtVector a{1, 2, 3}, b{4, 5, 6};
  EXPECT_EQ(Cross(a, b), (TExtVector{-3, 6, -3}));
  EXPECT_EQ(Dot(Cross(a, b), a), 0);
  EXPECT_EQ(Dot(Cross(a, b), b), 0);
  EXPECT_EQ(Dot(a, b), 32);
  EXPECT_EQ(Norm(TExtVector{3, 4, 12}), 13);
  EXPECT_EQ(b - a * 2, (TExtVector{2, 1, 0}));
  EXPECT_EQ(a + b, (TExtVector{5, 7, 9}));
  // A double factor is widened first: the product is that of the double's value.
  EXPECT_EQ((TExtVector{1, 0, 0} * 0.1)[0], static_cast<long double>(0.1));
  EXPECT_NE((TExtVector{1, 0, 0} * 0.1)[0], 0.1L);
  // A stored point survives every precision and comes back bit for bit.
  const TCoord c = P(0.1f, -2.5e-7f, 3e5f);
  const TCoord back = ToCoord(Converted<double>(ToExt(c)));
  EXPECT_EQ(back.X, c.X);
  EXPECT_EQ(back.Y, c.Y);
  EXPECT_EQ(back.Z, c.Z);
  EXPECT_EQ(Converted<double>(ToExt(c)), VectorOf<double>(c));
}

TEST(SurfaceDistance, TouchingAndOverlappingSpheres) {
  TModelConstants model;
  TAtom a, b;
  a.RadiusType = 2;  // 1.4 with STOUTEN
  b.RadiusType = 11;  // 2.0
  b.X = 3.4f;
  EXPECT_NEAR(SurfaceDistance(a, b, model), 0.0, 1e-6);
  b.X = 3.0f;
  EXPECT_LT(SurfaceDistance(a, b, model), 0.0);
  EXPECT_NEAR(SurfaceDistance(a, b, model), -0.4, 1e-6);
  model.SelectRadiusSet(kProtor);
  EXPECT_NEAR(SurfaceDistance(a, b, model), 3.0 - 1.42 - 2.0, 1e-6);
}

// Values just below an integer round up to it in double; the result must not.
TEST(FloorIndex, EqualsFloorAtAndNextToIntegers) {
  const long double below1 = std::nextafter(1.0L, 0.0L);
  const long double cases[] = {0.0L, 0.25L, below1, 1.0L, std::nextafter(1.0L, 2.0L), 4.999999999999999999L, 5.0L,
                               16.5L, std::nextafter(16.0L, 0.0L), 2147483646.9999999L,
                               std::nextafter(2147483647.0L, 0.0L)};
  for (const long double x : cases)
    EXPECT_EQ(FloorIndex(x), static_cast<long long>(std::floor(x))) << static_cast<double>(x);
  EXPECT_EQ(FloorIndex(below1), 0);
}

}  // namespace
}  // namespace cavitas
