#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "cavity/Cluster.h"
#include "cavity/ContactObject.h"
#include "cavity/InnerWater.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/NeighbourGrid.h"
#include "model/Radii.h"
#include "model/Tables.h"

namespace cavitas {
namespace {

constexpr int kShellRadiusType = 8;  // 1.7 Å in the default radius set
constexpr float kShellRadius = 8.0f;

class InnerWaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ProgramLog().LogFileName = dir_.File("program.lg");
    p_.LogFileName = dir_.File("run.log");
    p_.Context.Log = &p_;
  }

  TAtom& ProteinAtom(float x, float y, float z) {
    auto a = std::make_unique<TAtom>();
    a->X = x;
    a->Y = y;
    a->Z = z;
    a->RadiusType = kShellRadiusType;
    a->AtomCode = 1;
    const int n = ++p_.AtomCount;
    p_.ProteinAtomCount = n;
    a->Number = n;
    TAtom& ref = *a;
    p_.PutAtom(n, std::move(a));
    return ref;
  }

  // A closed shell of atoms around the origin whose gaps are far too narrow
  // for the probe: the inside is a closed cavity of about 6.3 Å radius.
  void Shell(int count = 120) {
    const double golden = 3.141593 * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
      const double y = 1.0 - 2.0 * (i + 0.5) / count;
      const double r = std::sqrt(1.0 - y * y);
      const double phi = golden * i;
      ProteinAtom(static_cast<float>(kShellRadius * r * std::cos(phi)), static_cast<float>(kShellRadius * y),
                  static_cast<float>(kShellRadius * r * std::sin(phi)));
    }
  }

  THetAtom& Water(float x, float y, float z) {
    auto het = std::make_unique<THetAtom>();
    het->ResName = "HOH ";
    het->AtomName = " O  ";
    auto a = std::make_unique<TAtom>();
    a->X = x;
    a->Y = y;
    a->Z = z;
    ClassifyHetAtom(p_.Context, het->AtomName, a->RadiusType, a->AtomCode);
    het->Atom = a.get();
    het->OwnedAtom = std::move(a);
    p_.Waters.push_back(std::move(het));
    return *p_.Waters.back();
  }

  std::vector<TWaterVerdict> Search() {
    std::vector<TWaterVerdict> trace;
    FindInnerWaterIn(p_, &trace);
    return trace;
  }

  // The hetero part of the neighbour lists must equal a build from scratch.
  void ExpectNeighboursAsBuilt() {
    ASSERT_TRUE(p_.NeighboursNear);
    const TNeighbourLists near = *p_.NeighboursNear, mid = *p_.NeighboursMid;
    BuildNeighbourLists(p_);
    EXPECT_EQ(near, *p_.NeighboursNear);
    EXPECT_EQ(mid, *p_.NeighboursMid);
    EXPECT_EQ(near.size(), static_cast<std::size_t>(p_.AtomCount));
  }

  testing::TempDir dir_;
  TNewContactObject p_;
};

TEST_F(InnerWaterTest, FindInnerWater_NoWatersBuildsNothing) {
  Shell();
  const int atoms = p_.AtomCount;
  p_.FindInnerWater();
  EXPECT_EQ(p_.AtomCount, atoms);
  EXPECT_FALSE(p_.NeighboursNear);
  EXPECT_TRUE(p_.HetAtoms.empty());
  EXPECT_EQ(p_.HetElementCount, 0);
}

TEST_F(InnerWaterTest, FindInnerWater_WaterAtAProbePositionOutsideIsNoCandidate) {
  Shell();
  // Touching atom 1 from outside along its radial direction: a probe position.
  const TAtom& a = *p_.AtomAt(1);
  const double len = std::sqrt(double(a.X) * a.X + double(a.Y) * a.Y + double(a.Z) * a.Z);
  const double s = (len + 1.7 + 1.4) / len;
  Water(static_cast<float>(a.X * s), static_cast<float>(a.Y * s), static_cast<float>(a.Z * s));
  const auto trace = Search();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].Nearest, 1);
  EXPECT_NEAR(trace[0].P - trace[0].Q, -2.8, 0.05);
  EXPECT_FALSE(trace[0].Candidate);
  EXPECT_TRUE(p_.HetAtoms.empty());
  EXPECT_EQ(p_.Waters.size(), 1u);
  EXPECT_EQ(p_.AtomCount, 120);
  EXPECT_EQ(p_.Atoms.size(), 121u);
  EXPECT_TRUE(p_.Waters[0]->OwnedAtom);  // the water still owns its atom
  ExpectNeighboursAsBuilt();
}

TEST_F(InnerWaterTest, FindInnerWater_WaterInAClosedCavityBecomesAHeteroAtom) {
  Shell();
  Water(25, 0, 0);  // far outside
  THetAtom& inside = Water(0.5f, 0.2f, 0);
  const TAtom* atom = inside.Atom;
  const auto trace = Search();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_FALSE(trace[0].Candidate);
  EXPECT_TRUE(trace[1].Candidate);
  EXPECT_FALSE(trace[1].Exposed);
  EXPECT_TRUE(trace[1].Inner);

  ASSERT_EQ(p_.HetAtoms.size(), 1u);
  EXPECT_EQ(p_.HetAtoms[0]->Atom, atom);
  EXPECT_EQ(p_.AtomCount, 121);
  EXPECT_EQ(p_.AtomAt(121), atom);
  EXPECT_FALSE(p_.HetAtoms[0]->OwnedAtom);
  EXPECT_EQ(atom->Number, 121);
  EXPECT_EQ(atom->ResidueIndex, 1);
  EXPECT_EQ(atom->AtomCode, kWaterCode);
  ASSERT_EQ(p_.Waters.size(), 1u);
  EXPECT_FLOAT_EQ(p_.Waters[0]->Atom->X, 25.0f);
  EXPECT_TRUE(p_.Waters[0]->OwnedAtom);

  EXPECT_EQ(p_.HetElementCount, 1);
  const TElementZeile& row = p_.ElementTable[1];
  EXPECT_EQ(row.First, 121);
  EXPECT_EQ(row.Last, 121);
  EXPECT_EQ(row.ElementKind, TElementKind::Water);
  ASSERT_TRUE(row.ElementAtoms);
  EXPECT_TRUE(row.ElementAtoms->empty());
  ExpectNeighboursAsBuilt();

  // With the water present, the cavity is lined by it: it has no outer patch.
  TClusteredConollyArea area;
  area.Compute(p_, true, true);
  EXPECT_TRUE(area.AtomElements.size() <= 121 || area.AtomElements[121].empty());
}

// Inner waters along x; a group is a chain of waters closer than 3.3 Å.
struct GroupCase {
  const char* Name;
  std::vector<TCoord> Waters;
  std::vector<std::vector<int>> Groups;  // water indices (1-based, input order) of each element, in atom order
};

class WaterGroupTest : public InnerWaterTest, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(WaterGroupTest, FindInnerWater_GroupsConfirmedWatersBy3p3) {
  Shell();
  const GroupCase& c = GetParam();
  std::vector<const TAtom*> atoms;
  for (const TCoord& w : c.Waters) atoms.push_back(Water(w.X, w.Y, w.Z).Atom);
  Search();
  ASSERT_EQ(p_.HetElementCount, static_cast<int>(c.Groups.size()));
  int slot = 120;
  for (std::size_t g = 0; g < c.Groups.size(); ++g) {
    const TElementZeile& row = p_.ElementTable[g + 1];
    EXPECT_EQ(row.First, slot + 1);
    EXPECT_EQ(row.Last, slot + static_cast<int>(c.Groups[g].size()));
    EXPECT_EQ(row.ElementKind, TElementKind::Water);
    for (int w : c.Groups[g]) {
      ++slot;
      EXPECT_EQ(p_.AtomAt(slot), atoms[static_cast<std::size_t>(w - 1)]) << "slot " << slot;
      EXPECT_EQ(p_.AtomAt(slot)->Number, slot);
      EXPECT_EQ(p_.AtomAt(slot)->ResidueIndex, slot - 120);
    }
  }
  EXPECT_EQ(p_.AtomCount, slot);
  EXPECT_TRUE(p_.Waters.empty());
  ExpectNeighboursAsBuilt();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WaterGroupTest,
    ::testing::Values(GroupCase{"Apart3p2", {{-1.6f, 0, 0}, {1.6f, 0, 0}}, {{1, 2}}},
                      GroupCase{"Apart3p4", {{-1.7f, 0, 0}, {1.7f, 0, 0}}, {{1}, {2}}},
                      // The third water links the first two: breadth-first order 1, 3, 2.
                      GroupCase{"LinkedThroughAThird", {{-1.7f, 0, 0}, {1.7f, 0, 0}, {0, 1.0f, 0}}, {{1, 3, 2}}},
                      // Input order 1 far, 2 near 3: the first group starts at water 1.
                      GroupCase{"TwoGroupsInIndexOrder", {{-3, 0, 0}, {2, 0, 0}, {2, 3.0f, 0}}, {{1}, {2, 3}}}),
    [](const ::testing::TestParamInfo<GroupCase>& param) { return std::string(param.param.Name); });

// Every water is examined, the 3001st too (the search once stopped at 3000),
// and two inner waters 2 A apart form one element.
TEST_F(InnerWaterTest, FindInnerWater_EveryWaterIsExamined) {
  Shell(60);  // a coarser shell is still closed for the probe
  for (int i = 0; i < 2999; ++i)
    Water(40.0f + 4.0f * static_cast<float>(i % 20), 4.0f * static_cast<float>((i / 20) % 20),
          4.0f * static_cast<float>(i / 400));
  const TAtom* first = Water(-1.0f, 0, 0).Atom;
  const TAtom* second = Water(1.0f, 0.5f, 0).Atom;
  const auto trace = Search();
  ASSERT_EQ(trace.size(), 3001u);
  for (int i = 0; i < 2999; ++i) ASSERT_FALSE(trace[static_cast<std::size_t>(i)].Candidate) << i;
  EXPECT_TRUE(trace[2999].Inner);
  EXPECT_TRUE(trace[3000].Inner);
  ASSERT_EQ(p_.HetAtoms.size(), 2u);
  EXPECT_EQ(p_.HetAtoms[0]->Atom, first);
  EXPECT_EQ(p_.HetAtoms[1]->Atom, second);
  EXPECT_EQ(p_.Waters.size(), 2999u);
  EXPECT_EQ(p_.AtomCount, 62);
  EXPECT_EQ(p_.HetElementCount, 1);
}

TEST(InnerWaterCandidate, IsInnerWaterCandidate_Thresholds) {
  struct Row {
    double P, Q;
    bool Expected;
  };
  const Row rows[] = {
      {5.0, 5.05, true},      // D = -0.05 > -0.1
      {2.0, 3.0, true},       // D = -1 in the band, P > -1.4
      {-1.0, 1.0, true},      // D = -2 in the band, P > -1.4
      {-1.5, 0.0, false},     // D in the band, but P <= -1.4
      {-1.3, 1.3, true},      // D = -2.6
      {-1.3, 1.5, false},     // D = -2.8 below the band
      {-2.8, 0.0, false},     // a probe position on the outer surface
      {1000.0, 1000.0, true}  // no contact patch at all: D = 0
  };
  for (const Row& r : rows) EXPECT_EQ(r.Expected, IsInnerWaterCandidate(r.P, r.Q)) << r.P << " " << r.Q;
}

// Corpus structures: the cell-grid nearest atom equals the scan, and the
// search's decisions hold against surfaces built afresh.
class InnerWaterCorpusTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { ProgramLog().LogFileName = dir_.File("program.lg"); }
  bool Load(TNewContactObject& p) {
    const std::string path = testing::CorpusFile(GetParam());
    if (path.empty()) return false;
    ReadProtein(p, path, dir_.File("run.log"), 0);
    p.Context.Log = &p;
    return true;
  }
  testing::TempDir dir_;
};

TEST_P(InnerWaterCorpusTest, NearestSurfaceAtoms_GridEqualsScan) {
  TNewContactObject p;
  if (!Load(p)) GTEST_SKIP() << "corpus absent";
  TClusteredConollyArea area;
  area.Compute(p, true, true);
  std::vector<std::uint8_t> flags(static_cast<std::size_t>(p.AtomCount) + 1, 0);
  for (int i = 1; i <= p.AtomCount && static_cast<std::size_t>(i) < area.AtomElements.size(); ++i)
    flags[static_cast<std::size_t>(i)] = !area.AtomElements[static_cast<std::size_t>(i)].empty();
  // The waters, random points in and far around the box, and exact copies of
  // surface atoms (ties between an atom and its copy go to the lower index).
  std::vector<std::unique_ptr<TAtom>> points;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-60.0f, 60.0f);
  for (const auto& w : p.Waters) points.push_back(std::make_unique<TAtom>(*w->Atom));
  for (int k = 0; k < 300; ++k) {
    auto a = std::make_unique<TAtom>(*p.AtomAt(1));
    a->X += u(rng);
    a->Y += u(rng);
    a->Z += u(rng);
    points.push_back(std::move(a));
  }
  std::vector<const TAtom*> waters;
  for (const auto& a : points) waters.push_back(a.get());
  const auto fast = detail::NearestSurfaceAtomsIndexed(p, p.AtomCount, flags, waters);
  const auto slow = detail::NearestSurfaceAtomsScan(p, p.AtomCount, flags, waters);
  EXPECT_EQ(fast, slow);

  // Duplicate a surface atom in place of a later non-surface slot: the tie goes to the lower index.
  int first = 0, spare = 0;
  for (int i = 1; i <= p.AtomCount; ++i) {
    if (flags[static_cast<std::size_t>(i)] && first == 0) first = i;
    if (!flags[static_cast<std::size_t>(i)] && first != 0) spare = i;
  }
  ASSERT_GT(spare, first);
  TAtom& copy = *p.AtomAt(spare);
  const TAtom saved = copy;
  static_cast<TCoord&>(copy) = static_cast<const TCoord&>(*p.AtomAt(first));
  copy.RadiusType = p.AtomAt(first)->RadiusType;
  flags[static_cast<std::size_t>(spare)] = 1;
  TAtom probe = *p.AtomAt(first);
  probe.X += 3.0f;
  const std::vector<const TAtom*> one{&probe};
  EXPECT_EQ(detail::NearestSurfaceAtomsIndexed(p, p.AtomCount, flags, one), detail::NearestSurfaceAtomsScan(p, p.AtomCount, flags, one));
  copy = saved;
}

TEST_P(InnerWaterCorpusTest, FindInnerWater_DecisionsHoldOnFreshSurfaces) {
  TNewContactObject p;
  if (!Load(p)) GTEST_SKIP() << "corpus absent";
  const int n0 = p.AtomCount;
  const int hetBefore = static_cast<int>(p.HetAtoms.size());
  std::vector<const TAtom*> watersBefore;
  for (const auto& w : p.Waters) watersBefore.push_back(w->Atom);
  std::vector<TWaterVerdict> trace;
  FindInnerWaterIn(p, &trace);
  ASSERT_EQ(trace.size(), watersBefore.size());

  // Inner waters follow the other hetero atoms with consecutive numbers and code 305.
  const int inner = static_cast<int>(p.HetAtoms.size()) - hetBefore;
  EXPECT_EQ(p.AtomCount, n0 + inner);
  EXPECT_EQ(p.Waters.size() + static_cast<std::size_t>(inner), watersBefore.size());
  for (int i = n0 + 1; i <= p.AtomCount; ++i) {
    ASSERT_TRUE(p.AtomAt(i));
    EXPECT_EQ(p.AtomAt(i)->Number, i);
    EXPECT_EQ(p.AtomAt(i)->AtomCode, kWaterCode);
    EXPECT_EQ(p.HetAtoms[static_cast<std::size_t>(p.AtomAt(i)->ResidueIndex - 1)]->Atom, p.AtomAt(i));
  }

  // Every inner water has no contact patch on the outer surface built with all inner waters present.
  {
    TClusteredConollyArea area;
    area.Compute(p, true, true);
    for (int i = n0 + 1; i <= p.AtomCount; ++i)
      EXPECT_TRUE(static_cast<std::size_t>(i) >= area.AtomElements.size() || area.AtomElements[static_cast<std::size_t>(i)].empty())
          << GetParam() << ": inner water atom " << i << " lies on the outer surface";
  }

  // Every water left outside failed the patch test or has an outer patch once
  // it stands in the structure together with the inner waters and the other
  // dropped candidates.
  std::vector<int> dropped;
  for (std::size_t j = 0; j < trace.size(); ++j) {
    EXPECT_EQ(trace[j].Inner, trace[j].Candidate && !trace[j].Exposed);
    if (trace[j].Candidate && !trace[j].Exposed) continue;
    EXPECT_EQ(trace[j].Candidate, IsInnerWaterCandidate(trace[j].P, trace[j].Q));
    if (trace[j].Candidate) dropped.push_back(static_cast<int>(j));
  }
  if (dropped.empty()) return;
  RemoveHetNeighbours(p);
  for (int j : dropped) {
    auto a = std::make_unique<TAtom>(*watersBefore[static_cast<std::size_t>(j)]);
    const int n = ++p.AtomCount;
    a->Number = n;
    p.PutAtom(n, std::move(a));
  }
  AddHetNeighbours(p);
  TClusteredConollyArea area;
  area.Compute(p, true, true);
  for (int i = n0 + inner + 1; i <= p.AtomCount; ++i)
    EXPECT_TRUE(static_cast<std::size_t>(i) < area.AtomElements.size() && !area.AtomElements[static_cast<std::size_t>(i)].empty())
        << GetParam() << ": dropped candidate at atom " << i << " has no outer patch";
}

INSTANTIATE_TEST_SUITE_P(Corpus, InnerWaterCorpusTest, ::testing::Values("1ubq.pdb", "1hpv.pdb", "3al1.pdb"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           return std::string(param.param).substr(0, 4);
                         });

}  // namespace
}  // namespace cavitas
