#include <gtest/gtest.h>

#include "frame/Error.h"
#include "model/Protein.h"
#include "model/Radii.h"
#include "model/RunContext.h"
#include "model/Tables.h"

namespace cavitas {
namespace {

// The look-ups as the reader does them, with the radius set of the run.
double RadiusOf(const TRunContext& run, char letter, const char* name) {
  TAtom atom;
  FindSideAtom(run, letter, name, atom.RadiusType, atom.AtomCode);
  return run.Model.Radius(atom);
}
double BackboneRadius(const TRunContext& run, char letter, int kind) {
  TAtom atom;
  BackboneAtomCode(run, letter, kind, atom.AtomCode);
  atom.RadiusType = RadiusTypeOfSet(atom.AtomCode, run.Model.RadiusSet);
  return run.Model.Radius(atom);
}

TEST(Radii, StartUpStateIsStouten) {
  const TModelConstants model;
  EXPECT_EQ(model.RadiusSet, kStouten);
  EXPECT_DOUBLE_EQ(model.ProbeRadius, 1.4);
  EXPECT_DOUBLE_EQ(model.Exactness, 0.2);
  EXPECT_DOUBLE_EQ(model.CutOff, 2.8);
  EXPECT_EQ(model.RadiusTable[2], 1.4);
  EXPECT_EQ(model.RadiusTable[15], 2.4);
}

struct RadiusCase {
  char Letter;
  const char* Name;
  double Stouten, Protor;
};

TEST(Radii, SideChainRadiiInBothSets) {
  const RadiusCase cases[] = {
      {'S', " OG ", 1.7, 1.46},  {'X', " OD1", 2.2, 1.42}, {'A', " CB ", 2.1, 1.88}, {'C', " SG ", 1.9, 1.77},
      {'H', " AD1", 1.8, 1.64},  {'F', " CZ ", 2.1, 1.76}, {'W', " CD2", 2.2, 1.61}, {'Y', " OH ", 1.7, 1.46},
      {'D', " OXT", 1.5, 1.42},  {'I', " CB ", 2.4, 1.88}, {'O', " S  ", 2.0, 1.77}, {'O', " CA ", 0.9, 0.9},
      {'O', "HOH ", 1.4, 1.42},  {'O', " ZN ", 2.0, 2.0},  {'R', " CZ ", 1.9, 1.61}, {'X', " O  ", 1.5, 1.42},
  };
  TRunContext stouten, protor;
  protor.Model.SelectRadiusSet(kProtor);
  EXPECT_EQ(protor.Model.RadiusSet, kProtor);
  // Two runs side by side: neither set leaks into the other.
  for (const RadiusCase& c : cases) {
    EXPECT_EQ(RadiusOf(stouten, c.Letter, c.Name), c.Stouten) << c.Letter << c.Name;
    EXPECT_EQ(RadiusOf(protor, c.Letter, c.Name), c.Protor) << c.Letter << c.Name;
  }
}

TEST(Radii, BackboneRadii) {
  const TRunContext stouten;
  EXPECT_EQ(BackboneRadius(stouten, 'G', kBackboneO), 1.4);
  EXPECT_EQ(BackboneRadius(stouten, 'K', kBackboneCA), 1.87);
  TRunContext protor;
  protor.Model.SelectRadiusSet(kProtor);
  EXPECT_EQ(BackboneRadius(protor, 'G', kBackboneO), 1.42);
  EXPECT_EQ(BackboneRadius(protor, 'K', kBackboneCA), 1.88);
  EXPECT_EQ(BackboneRadius(protor, 'V', kBackboneN), 1.64);
  EXPECT_EQ(BackboneRadius(protor, 'V', kBackboneC), 1.61);
}

TEST(Radii, AnyOtherSetNumberSelectsStoutenAndReselectingChangesNothing) {
  TModelConstants model;
  const auto table = model.RadiusTable;
  model.SelectRadiusSet(kProtor);
  model.SelectRadiusSet(7);
  EXPECT_EQ(model.RadiusSet, kStouten);
  EXPECT_EQ(model.RadiusTable, table);
  for (int c = 0; c < kAtomCodeCount; ++c) EXPECT_EQ(RadiusTypeOfSet(c, 7), RadiusTypeOfSet(c, kStouten)) << c;
}

TEST(Radii, SetExactnessBoundsAreExcluded) {
  TModelConstants model;
  EXPECT_TRUE(model.SetExactness(0.5));
  EXPECT_EQ(model.Exactness, 0.5);
  for (double x : {1.0, 0.9, 0.0001, 0.0, -0.3}) {
    EXPECT_FALSE(model.SetExactness(x)) << x;
    EXPECT_EQ(model.Exactness, 0.5);
  }
  EXPECT_TRUE(model.SetExactness(0.00011));
}

TEST(Radii, RadiusTypeOutsideTableIsACapacityError) {
  TAtom atom;
  atom.RadiusType = 16;
  EXPECT_THROW(TModelConstants{}.Radius(atom), FatalError);
}

}  // namespace
}  // namespace cavitas
