#pragma once
// The named tolerances and geometric constants of the analysis, each with the
// reason for its size. Values are those the computations were tuned and
// checked with: changing one changes results.
namespace cavitas::tolerance {

// ---- angles: the system's seven-digit constants (results depend on them)
inline constexpr double kFullTurn = 6.283185;     // 2 pi
inline constexpr double kHalfTurn = 3.141593;     // pi
inline constexpr double kQuarterTurn = 1.570796;  // pi / 2

// ---- rounding bounds of decisions taken in double before long double
// A double sum or quotient of a few terms errs by a few roundings (about
// 1e-15 of its terms): a quantity within this fraction of its terms of a
// threshold is decided again in long double.
inline constexpr double kDoubleRounding = 1e-12;

// ---- points and directions (Å, Å²)
// Two centres closer than this (squared, Å²) coincide: no direction joins them.
inline constexpr double kCoincident2 = 1e-12;
// Two probe positions whose squared distance (Å²) is below this are one point:
// about 3e-3 Å, wide against the single-precision rounding of stored positions
// and narrow against any real arc.
inline constexpr double kSamePoint2 = 1e-5;
// A boundary cycle is closed when the walk returns this close (squared, Å²) to its start.
inline constexpr double kCycleClosed2 = 1e-6;
// The tolerant membership of an angle in an arc (radians) and of a point in
// an edge's plane (Å): the rounding of seven-digit angles and float positions.
inline constexpr double kOnArc = 5e-5;
// An atom's expanded sphere passes through a degenerate point when its
// surface lies within this distance (Å) of it.
inline constexpr double kThroughPoint = 1e-3;
// Two ends of blocked arcs of one probe circle meet when their unit directions
// lie closer than this (squared): about 1e-5 rad, the rounding that single
// precision coordinates leave in an exact symmetry.
inline constexpr double kTiedEnds2 = 1e-10;

}  // namespace cavitas::tolerance
