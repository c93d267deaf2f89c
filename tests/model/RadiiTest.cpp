#include <gtest/gtest.h>

#include "frame/Error.h"

#include "model/Protein.h"
#include "model/Radii.h"
#include "model/Tables.h"

namespace cavitas {
namespace {

class RadiiTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetProgramState(); }

  // Radius of an atom that the table look-up gives for (letter, name), as the reader does it.
  static double RadiusOf(char letter, const char* name) {
    TAtom atom;
    FindSideAtom(letter, name, atom.RadiusType, atom.AtomCode);
    return Radius(atom);
  }
  static double BackboneRadius(char letter, int kind) {
    TAtom atom;
    BackboneAtomCode(letter, kind, atom.AtomCode);
    atom.RadiusType = AtomNameEntry(atom.AtomCode).RadiusType;
    return Radius(atom);
  }
};

TEST_F(RadiiTest, StartUpStateIsStouten) {
  EXPECT_EQ(Model.RadiusSet, kStouten);
  EXPECT_DOUBLE_EQ(Model.ProbeRadius, 1.4);
  EXPECT_DOUBLE_EQ(Model.Exactness, 0.2);
  EXPECT_DOUBLE_EQ(Model.CutOff, 2.8);
  EXPECT_EQ(Model.RadiusTable[2], 1.4);
  EXPECT_EQ(Model.RadiusTable[15], 2.4);
}

struct RadiusCase {
  char Letter;
  const char* Name;
  double Stouten, Protor;
};

TEST_F(RadiiTest, SideChainRadiiInBothSets) {
  const RadiusCase cases[] = {
      {'S', " OG ", 1.7, 1.46},  {'X', " OD1", 2.2, 1.42}, {'A', " CB ", 2.1, 1.88}, {'C', " SG ", 1.9, 1.77},
      {'H', " AD1", 1.8, 1.64},  {'F', " CZ ", 2.1, 1.76}, {'W', " CD2", 2.2, 1.61}, {'Y', " OH ", 1.7, 1.46},
      {'D', " OXT", 1.5, 1.42},  {'I', " CB ", 2.4, 1.88}, {'O', " S  ", 2.0, 1.77}, {'O', " CA ", 0.9, 0.9},
      {'O', "HOH ", 1.4, 1.42},  {'O', " ZN ", 2.0, 2.0},  {'R', " CZ ", 1.9, 1.61}, {'X', " O  ", 1.5, 1.42},
  };
  for (const RadiusCase& c : cases) EXPECT_EQ(RadiusOf(c.Letter, c.Name), c.Stouten) << c.Letter << c.Name;
  SelectRadiusSet(kProtor);
  EXPECT_EQ(Model.RadiusSet, kProtor);
  for (const RadiusCase& c : cases) EXPECT_EQ(RadiusOf(c.Letter, c.Name), c.Protor) << c.Letter << c.Name;
}

TEST_F(RadiiTest, BackboneRadii) {
  EXPECT_EQ(BackboneRadius('G', kBackboneO), 1.4);
  EXPECT_EQ(BackboneRadius('K', kBackboneCA), 1.87);
  SelectRadiusSet(kProtor);
  EXPECT_EQ(BackboneRadius('G', kBackboneO), 1.42);
  EXPECT_EQ(BackboneRadius('K', kBackboneCA), 1.88);
  EXPECT_EQ(BackboneRadius('V', kBackboneN), 1.64);
  EXPECT_EQ(BackboneRadius('V', kBackboneC), 1.61);
}

TEST_F(RadiiTest, AnyOtherSetNumberSelectsStoutenAndReselectingChangesNothing) {
  std::array<std::uint8_t, kAtomCodeCount> before{};
  for (int c = 0; c < kAtomCodeCount; ++c) before[static_cast<std::size_t>(c)] = AtomNameEntry(c).RadiusType;
  const auto table = Model.RadiusTable;
  SelectRadiusSet(kProtor);
  SelectRadiusSet(7);
  EXPECT_EQ(Model.RadiusSet, kStouten);
  SelectRadiusSet(kStouten);
  EXPECT_EQ(Model.RadiusTable, table);
  for (int c = 0; c < kAtomCodeCount; ++c) EXPECT_EQ(AtomNameEntry(c).RadiusType, before[static_cast<std::size_t>(c)]) << c;
}

TEST_F(RadiiTest, SetExactnessBoundsAreExcluded) {
  EXPECT_TRUE(SetExactness(0.5));
  EXPECT_EQ(Model.Exactness, 0.5);
  for (double x : {1.0, 0.9, 0.0001, 0.0, -0.3}) {
    EXPECT_FALSE(SetExactness(x)) << x;
    EXPECT_EQ(Model.Exactness, 0.5);
  }
  EXPECT_TRUE(SetExactness(0.00011));
}

TEST_F(RadiiTest, RadiusTypeOutsideTableIsACapacityError) {
  TAtom atom;
  atom.RadiusType = 16;
  EXPECT_THROW(Radius(atom), FatalError);
}

}  // namespace
}  // namespace cavitas
