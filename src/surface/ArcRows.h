#pragma once
// What the two kernels share inside: the pseudo-angles of the arc rows and
// the log line of a pair of identical atoms.
#include <string>

#include "model/Protein.h"
#include "model/Tolerances.h"

namespace cavitas::surface_detail {

// A monotone stand-in for the polar angle of (x, y): [0, 4) for [0, 2pi).
// The sweep only compares interval ends, so it runs on these values and takes
// a real angle only at the ends of the arcs it emits.
inline double PseudoAngle(double x, double y) {
  if (y >= 0) return x >= 0 ? (x + y == 0 ? 0.0 : y / (x + y)) : 1 - x / (-x + y);
  return x < 0 ? 2 - y / (-x - y) : 3 + x / (x - y);
}

// PseudoAngle with selects instead of branches, so a loop over many rows
// vectorises; equal to PseudoAngle except that it may give +0 for -0, which
// every comparison and sum of the sweep treats alike.
inline double PseudoAngleSelect(double x, double y) {
  const bool up = y >= 0, right = x >= 0, left = x < 0;
  const bool origin = up && right && x + y == 0;
  const double n = origin ? 0.0 : (up ? (right ? y : x) : (left ? y : x));
  const double d = origin ? 1.0 : (up ? (right ? x + y : -x + y) : (left ? -x - y : x - y));
  const double o = up ? (right ? 0.0 : 1.0) : (left ? 2.0 : 3.0);
  const double q = n / d;
  return o + ((up ? right : !left) ? q : -q);  // quadrants I and IV add, II and III subtract
}

inline constexpr double kPseudoFull = 4.0;
inline constexpr double kPseudoPerRadian = kPseudoFull / tolerance::kFullTurn;

inline std::string IdenticalPairLine(const TAtom& atom, const TAtom& partner) {
  return "Atom Nr " + std::to_string(atom.Number) + " and " + std::to_string(partner.Number) + " identical";
}

}  // namespace cavitas::surface_detail
