#pragma once
// Radius sets and the program-wide constants of the surface, water and volume stages.
#include <array>

namespace cavitas {

constexpr int kStouten = 1;
constexpr int kProtor = 4;

struct TAtom;

// Program-wide values declared by the system; ResetProgramState restores their start-up values.
struct TModelConstants {
  int RadiusSet = kStouten;
  std::array<double, 16> RadiusTable{};
  double ProbeRadius = 1.4;  // Å, the water probe
  double Exactness = 0.2;    // edge of the volume cubes relative to 1 Å
  double CutOff = 2.8;       // read from structure files, used by no computation
};
extern TModelConstants Model;

// n = 4 selects PROTOR, any other value STOUTEN; rewrites RadiusTable and the
// radius-type column of the atom name table.
void SelectRadiusSet(int n);
// Accepted only when 0.0001 < x < 0.9; returns whether it was taken.
bool SetExactness(double x);
double Radius(const TAtom& atom);
double RadiusOfType(int radiusType);
// Start-up state: STOUTEN, exactness 0.2, probe 1.4, cut-off 2.8 (for tests).
void ResetProgramState();

}  // namespace cavitas
