// Closed-form cases of the surface construction: one atom, two atoms, a buried
// probe circle, one blocker, two caps and a ring on one atom.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Radii.h"
#include "surface/ConollyObjects.h"
#include "TestSupport.h"
#include "surface/SurfaceTestSupport.h"

namespace cavitas {
namespace {

// The start-up model the test proteins are built with.
const TModelConstants kModel;

using testing::CheckSurfaceInvariants;
using testing::ElementsOfKind;
using testing::MakeProtein;

constexpr double kP = 1.4;

TSurface Build(TProteinObject& p, TRunStatus* statusOut = nullptr) {
  TSurface s;
  TRunStatus status = TRunStatus::Good;
  ComputeSurfaceWithHet(p, s, status);
  if (statusOut) *statusOut = status;
  return s;
}

std::vector<const TConollyObject1*> PatchesOf(const TSurface& s, int atom) {
  std::vector<const TConollyObject1*> out;
  for (const TConollyObject* e : s.AtomElements[static_cast<std::size_t>(atom)])
    if (e->Kind == kContactPatch) out.push_back(static_cast<const TConollyObject1*>(e));
  return out;
}

TEST(SphereSamples, Depth3Gives1280SamplesCoveringTheSphere) {
  const auto& s = SphereSamples();
  ASSERT_EQ(s.size(), 1280u);
  long double sum = 0;
  for (const auto& x : s) {
    sum += x.Weight;
    EXPECT_NEAR(static_cast<double>(std::sqrt(x.Direction[0] * x.Direction[0] + x.Direction[1] * x.Direction[1] +
                                              x.Direction[2] * x.Direction[2])),
                1.0, 1e-12);
  }
  EXPECT_LT(sum, 4 * std::numbers::pi);
  EXPECT_GT(sum, 0.99 * 4 * std::numbers::pi);
}

TEST(Construction, SingleAtomIsOneWholeSphere) {
  auto p = MakeProtein({{1, 2, 3, 0}});
  const TSurface s = Build(*p);
  ASSERT_EQ(s.Elements.size(), 1u);
  const auto* c = static_cast<const TConollyObject1*>(s.Elements[0].get());
  ASSERT_EQ(c->Kind, kContactPatch);
  EXPECT_EQ(c->EdgeCount, 0);
  EXPECT_NEAR(c->Area(kModel), 12.566372 * 1.65 * 1.65, 1e-9);
  EXPECT_TRUE(c->IsInside(kModel, {0, 0, -1}));
  // A point at the centre: both distances are R - radius.
  TCoord probe;
  EXPECT_NEAR(c->ProbeDistance(kModel, {1, 2, 3}, probe, 0.5), 1.65 - 0.5, 1e-6);
  EXPECT_NEAR(c->PatchDistance(kModel, {1, 2, 3}, 0.5), 1.65 - 0.5, 1e-6);
  EXPECT_NEAR(probe.X, 1 + 1.65 + kP, 1e-5);
}

// Two atoms along x: one full-circle saddle and one contact patch per atom.
// The molecular surface is two spherical caps plus the torus patch.
TEST(Construction, TwoAtomsGiveFullCircleSaddleAndTheClosedFormArea) {
  const double d = 3.2, R1 = 1.65, R2 = 1.87;
  auto p = MakeProtein({{0, 0, 0, 0}, {d, 0, 0, 3}});
  const TSurface s = Build(*p);
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 2), "");
  const auto saddles = ElementsOfKind<TConollyObject2>(s, kSaddlePatch);
  ASSERT_EQ(saddles.size(), 1u);
  const TConollyObject2& sd = *saddles[0];
  EXPECT_EQ(sd.Atom->Number, 1);
  EXPECT_EQ(sd.Atom2->Number, 2);
  EXPECT_DOUBLE_EQ(sd.Angle, 6.283185);
  EXPECT_EQ(sd.StartAtom, nullptr);
  EXPECT_EQ(sd.EndAtom, nullptr);
  EXPECT_TRUE(ElementsOfKind<TConollyObject3>(s, kConcavePatch).empty());
  ASSERT_EQ(PatchesOf(s, 1).size(), 1u);
  ASSERT_EQ(PatchesOf(s, 2).size(), 1u);
  const TConollyObject1& c1 = *PatchesOf(s, 1)[0];
  EXPECT_EQ(c1.EdgeCount, 1);
  EXPECT_TRUE(c1.IsInside(kModel, {-1, 0.2f, 0}));
  EXPECT_FALSE(c1.IsInside(kModel, {1, 0.1f, 0}));

  // Probe circle: t_i along the axis from atom i, radius r.
  const double e1 = R1 + kP, e2 = R2 + kP;
  const double t1 = (d * d + e1 * e1 - e2 * e2) / (2 * d), t2 = d - t1;
  const double r = std::sqrt(e1 * e1 - t1 * t1);
  EXPECT_NEAR(sd.Radius, r, 1e-6);
  // Torus patch by Pappus: the generating arc of the probe sphere between
  // the two contact points, rotated about the axis.
  const double a1 = std::atan2(t1, r), a2 = std::atan2(t2, r);  // from the direction to the axis
  double torus = 0;
  const int steps = 20000;
  for (int k = 0; k < steps; ++k) {
    const double th = -a1 + (a1 + a2) * (k + 0.5) / steps;
    torus += 2 * std::numbers::pi * (r - kP * std::cos(th)) * kP * (a1 + a2) / steps;
  }
  EXPECT_NEAR(sd.Area(kModel), torus, 1e-6 * torus);
  // Contact caps: the free fraction of each expanded sphere, on the atom sphere.
  const double cap1 = 2 * std::numbers::pi * R1 * R1 * (1 + t1 / e1);
  const double cap2 = 2 * std::numbers::pi * R2 * R2 * (1 + t2 / e2);
  const double a1c = c1.Area(kModel), a2c = PatchesOf(s, 2)[0]->Area(kModel);
  EXPECT_NEAR(a1c, cap1, 0.015 * cap1);
  EXPECT_NEAR(a2c, cap2, 0.015 * cap2);
  EXPECT_NEAR(a1c + a2c + sd.Area(kModel), cap1 + cap2 + torus, 0.01 * (cap1 + cap2 + torus));
}

TEST(Construction, CircleBuriedByThirdAtomGivesNoSaddleForThePair) {
  auto p = MakeProtein({{-1.5, 0, 0, 0}, {1.5, 0, 0, 0}, {0, 0, 0, 15}});
  const TSurface s = Build(*p);
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 3), "");
  for (const auto* sd : ElementsOfKind<TConollyObject2>(s, kSaddlePatch))
    EXPECT_FALSE(sd->Atom->Number == 1 && sd->Atom2->Number == 2);
  for (const auto* c : ElementsOfKind<TConollyObject3>(s, kConcavePatch))
    EXPECT_FALSE(c->Atom->Number == 1 && c->Atom2->Number == 2);
  EXPECT_EQ(ElementsOfKind<TConollyObject2>(s, kSaddlePatch).size(), 2u);
}

TEST(Construction, OneBlockerCutsTheArcWithConcavePatchesAtBothEnds) {
  auto p = MakeProtein({{-1.5, 0, 0, 0}, {1.5, 0, 0, 0}, {0, 4.5, 0, 0}});
  const TSurface s = Build(*p);
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 3), "");
  const TConollyObject2* pair12 = nullptr;
  for (const auto* sd : ElementsOfKind<TConollyObject2>(s, kSaddlePatch))
    if (sd->Atom->Number == 1 && sd->Atom2->Number == 2) pair12 = sd;
  ASSERT_NE(pair12, nullptr);
  ASSERT_NE(pair12->StartAtom, nullptr);
  EXPECT_EQ(pair12->StartAtom->Number, 3);
  EXPECT_EQ(pair12->EndAtom->Number, 3);
  const double e = 1.65 + kP, r = std::sqrt(e * e - 1.5 * 1.5), rho = 4.5;
  const double alpha = std::acos((rho * rho + r * r - e * e) / (2 * rho * r));
  EXPECT_NEAR(pair12->Angle, 6.283185 - 2 * alpha, 1e-5);
  const auto concave = ElementsOfKind<TConollyObject3>(s, kConcavePatch);
  EXPECT_EQ(concave.size(), 2u);
  for (const auto* c : concave) {
    EXPECT_EQ(c->Atom->Number, 1);
    EXPECT_EQ(c->Atom2->Number, 2);
    EXPECT_EQ(c->Atom3->Number, 3);
  }
  for (int a = 1; a <= 3; ++a) {
    double area = 0;
    for (const auto* c : PatchesOf(s, a)) area += c->Area(kModel);
    EXPECT_NEAR(area, testing::BruteForceContactArea(*p, a, 3), 1e-9) << "atom " << a;
  }
}

// Six atoms around the equator of atom 1 bury a belt: two free caps, two patches.
TEST(Construction, PatchWithTwoSeparateCapsIsSplit) {
  std::vector<testing::TTestAtom> atoms{{0, 0, 0, 0}};
  for (int k = 0; k < 6; ++k) {
    const double a = k * std::numbers::pi / 3;
    atoms.push_back({2.9 * std::cos(a), 2.9 * std::sin(a), 0.0, 0});
  }
  auto p = MakeProtein(atoms);
  TRunStatus status = TRunStatus::Good;
  const TSurface s = Build(*p, &status);
  EXPECT_EQ(status, TRunStatus::Good);
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 7), "");
  const auto patches = PatchesOf(s, 1);
  ASSERT_EQ(patches.size(), 2u);
  EXPECT_EQ(patches[0]->EdgeCount, 6);
  EXPECT_EQ(patches[1]->EdgeCount, 6);
  EXPECT_LT(patches[0]->InnerPoint.Z * patches[1]->InnerPoint.Z, 0);  // one cap each
  for (const auto* c : patches) {
    EXPECT_TRUE(c->IsInside(kModel, c->InnerPoint));
    EXPECT_FALSE(c->IsInside(kModel, {-c->InnerPoint.X, -c->InnerPoint.Y, -c->InnerPoint.Z}));
  }
  EXPECT_NEAR(patches[0]->Area(kModel) + patches[1]->Area(kModel), testing::BruteForceContactArea(*p, 1, 7), 1e-9);
}

// Two atoms on opposite sides of atom 1: a free ring between two circles stays one patch.
TEST(Construction, PatchBoundingARingIsNotSplit) {
  auto p = MakeProtein({{0, 0, 0, 0}, {3.0, 0, 0, 0}, {-3.0, 0.1, 0, 0}});
  const TSurface s = Build(*p);
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 3), "");
  const auto patches = PatchesOf(s, 1);
  ASSERT_EQ(patches.size(), 1u);
  EXPECT_EQ(patches[0]->EdgeCount, 2);
  EXPECT_TRUE(patches[0]->IsInside(kModel, {0, 0, 1}));
  EXPECT_FALSE(patches[0]->IsInside(kModel, {1, 0, 0}));
  EXPECT_FALSE(patches[0]->IsInside(kModel, {-1, 0, 0}));
  EXPECT_NEAR(patches[0]->Area(kModel), testing::BruteForceContactArea(*p, 1, 3), 1e-9);
}

TEST(Construction, IdenticalAtomsAreLoggedAndSkipped) {
  ::testing::internal::CaptureStdout();
  auto p = MakeProtein({{0, 0, 0, 0}, {3, 0, 0, 0}, {0, 0, 0, 0}});
  const std::string log = ::testing::TempDir() + "surface_identical.lg";
  std::remove(log.c_str());
  ProgramLog().LogFileName = log;
  const TSurface s = Build(*p);
  ProgramLog().LogFileName = "test.log";
  ::testing::internal::GetCapturedStdout();
  FILE* f = std::fopen(log.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[4096] = {};
  std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_NE(std::string(buf).find("Atom Nr 1 and 3 identical"), std::string::npos);
}

TEST(Construction, HeteroAtomsTakePartOnlyWithHet) {
  auto p = MakeProtein({{0, 0, 0, 0}, {3.0, 0, 0, 0}}, 1);
  TSurface with, without;
  TRunStatus status = TRunStatus::Good;
  ComputeSurfaceWithHet(*p, with, status);
  ComputeSurfaceWithoutHet(*p, without, status);
  EXPECT_EQ(with.Elements.size(), 3u);
  ASSERT_EQ(without.Elements.size(), 1u);
  EXPECT_EQ(static_cast<const TConollyObject1*>(without.Elements[0].get())->EdgeCount, 0);
}

TEST(ContactPatch, KanteBeyondEdgeCountIsError101) {
  auto p = MakeProtein({{0, 0, 0, 0}, {3.0, 0, 0, 0}});
  const TSurface s = Build(*p);
  const auto* c = PatchesOf(s, 1)[0];
  EXPECT_NE(c->Kante(1), nullptr);
  try {
    c->Kante(2);
    FAIL();
  } catch (const FatalError& e) {
    EXPECT_EQ(ToInt(e.Code), 101);
  }
  EXPECT_THROW(c->Kante(0), FatalError);
}

TEST(ConcavePatch, IsOwnerOnlyForIncreasingNumbers) {
  TAtom a, b, c;
  a.Number = 1, b.Number = 2, c.Number = 3;
  EXPECT_TRUE(TConollyObject3(&a, {}, &c, &b).IsOwner());
  EXPECT_FALSE(TConollyObject3(&a, {}, &b, &c).IsOwner());
  EXPECT_FALSE(TConollyObject3(&b, {}, &c, &a).IsOwner());
}

}  // namespace
}  // namespace cavitas

namespace cavitas {
namespace {

std::string ReadLog(const std::string& path) { return testing::ReadProgramLog(path); }

// Four expanded spheres of radius 3 through the origin: the probe touches four
// atoms at once, free arcs of length zero leave two contact-patch cycles open,
// and the repair closes them with one zero-length saddle edge.
TEST(DegeneratePoint, FourSpheresThroughOnePointAreBridgedByAZeroLengthEdge) {
  auto p = MakeProtein({{-2, -2, -1, 7}, {-2, 1, -2, 7}, {0, 0, -3, 7}, {2, -2, -1, 7}});
  const std::string log = ::testing::TempDir() + "surface_degenerate.lg";
  std::remove(log.c_str());
  ProgramLog().LogFileName = log;
  TSurface s;
  TRunStatus status = TRunStatus::Good;
  ComputeSurfaceWithHet(*p, s, status);
  ProgramLog().LogFileName = "test.log";
  const std::string text = ReadLog(log);
  EXPECT_NE(text.find("Es schneiden sich mindestens 4 Atome in einem Punkt\r\nbeim Protein test bei Atom Nr "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" im Punkt ("), std::string::npos);
  EXPECT_EQ(status, TRunStatus::Good);  // the reports never change the status
  std::vector<const TConollyObject2*> zero;
  for (const auto* sd : ElementsOfKind<TConollyObject2>(s, kSaddlePatch))
    if (sd->Degenerate) zero.push_back(sd);
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_EQ(zero[0]->Angle, 0.0);
  EXPECT_EQ(zero[0]->Area(kModel), 0.0);
  ASSERT_NE(zero[0]->StartAtom, nullptr);
  ASSERT_NE(zero[0]->EndAtom, nullptr);
  TCoord a, b;
  zero[0]->ArcEnds(a, b);
  EXPECT_LT(a.X * a.X + a.Y * a.Y + a.Z * a.Z, 1e-8);  // at the common point
  // Ends at the point itself may lack their concave patch (the probe there
  // touches four atoms and only some triples are made); everything else holds.
  EXPECT_EQ(CheckSurfaceInvariants(*p, s, 4, false), "");
  for (const int atom : {zero[0]->Atom->Number, zero[0]->Atom2->Number}) {
    const auto patches = PatchesOf(s, atom);
    ASSERT_EQ(patches.size(), 1u) << "atom " << atom;
    bool hasEdge = false;
    for (int k = 1; k <= patches[0]->EdgeCount; ++k) hasEdge |= patches[0]->Kante(k) == zero[0];
    EXPECT_TRUE(hasEdge) << "atom " << atom;
  }
}

}  // namespace
}  // namespace cavitas
