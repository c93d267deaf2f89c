#pragma once
// Radius sets and the constants of the surface, water and volume stages.
#include <array>
#include <cstdint>

namespace cavitas {

constexpr int kStouten = 1;
constexpr int kProtor = 4;

struct TAtom;

// The radius table of a radius set (kProtor, anything else STOUTEN).
const std::array<double, 16>& RadiusTableOf(int radiusSet);

// The constants one analysis runs with (part of its TRunContext): the start-up
// values unless the options change them.
struct TModelConstants {
  int RadiusSet = kStouten;
  std::array<double, 16> RadiusTable = RadiusTableOf(kStouten);
  double ProbeRadius = 1.4;  // Å, the water probe
  double Exactness = 0.2;    // edge of the volume cubes relative to 1 Å
  double CutOff = 2.8;       // read from structure files, used by no computation

  // n = 4 selects PROTOR, any other value STOUTEN: the radius table and the
  // radius types the atom name table gives (RadiusTypeOfSet).
  void SelectRadiusSet(int n);
  // Accepted only when 0.0001 < x < 0.9; returns whether it was taken.
  bool SetExactness(double x);
  // The radius of a radius type; a type outside 0..15 is a bound of the data model (raises).
  double RadiusOfType(int radiusType) const;
  double Radius(const TAtom& atom) const;
};

}  // namespace cavitas
