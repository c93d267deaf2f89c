// The per-atom kernel on hand-built neighbourhoods, without a protein: the
// candidates of two and three spheres against their closed forms, and the two
// policies (plain and fast) against each other, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "model/Radii.h"
#include "surface/AtomKernel.h"

namespace cavitas::surface_detail {
namespace {

constexpr std::uint8_t kType = 6;  // 1.5 Å in the default radius set
constexpr double kExpanded = 1.5 + 1.4;

TSurfaceRadii Radii() { return {1.4, RadiusTableOf(kStouten)}; }

TAtom MakeAtom(int number, float x, float y, float z) {
  TAtom a;
  a.Number = number;
  a.X = x;
  a.Y = y;
  a.Z = z;
  a.RadiusType = kType;
  return a;
}

// The neighbourhood of atoms[0]: every other atom, in order.
TNeighbourhood Around(std::vector<TAtom>& atoms, const TSurfaceRadii& radii) {
  TNeighbourhood n;
  n.Atom = &atoms[0];
  for (std::size_t k = 1; k < atoms.size(); ++k) n.Add(&atoms[k], NeighbourOf(atoms[0], atoms[k], radii));
  return n;
}

template <class Kernel>
TAtomCandidates Candidates(const TNeighbourhood& n, const TSurfaceRadii& radii) {
  Kernel kernel(radii);
  TAtomCandidates out;
  kernel.MakeCandidates(n, out);
  return out;
}

bool SameBits(const void* a, const void* b, std::size_t size) { return std::memcmp(a, b, size) == 0; }

// The fast policy hands out the elements registration keeps of the plain
// one's (every saddle; of the concave copies only the owners), value for value.
void ExpectSamePolicies(const TAtomCandidates& plain, const TAtomCandidates& fast) {
  std::vector<const TConollyObject*> kept;
  for (const auto& e : plain.Elements)
    if (e->Kind != kConcavePatch || e->IsOwner()) kept.push_back(e.get());
  ASSERT_EQ(kept.size(), fast.Elements.size());
  EXPECT_EQ(plain.Log, fast.Log);
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const TConollyObject& p = *kept[k];
    const TConollyObject& f = *fast.Elements[k];
    ASSERT_EQ(p.Kind, f.Kind) << k;
    EXPECT_EQ(p.Atom, f.Atom) << k;
    if (const auto* s = dynamic_cast<const TConollyObject2*>(&p)) {
      const auto& t = dynamic_cast<const TConollyObject2&>(f);
      EXPECT_EQ(s->Atom2, t.Atom2) << k;
      EXPECT_TRUE(SameBits(&s->Radius, &t.Radius, sizeof s->Radius)) << k;
      EXPECT_TRUE(SameBits(&s->Angle, &t.Angle, sizeof s->Angle)) << k;
      for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(SameBits(&s->Center[i], &t.Center[i], 10)) << k;
    } else {
      const auto& c = dynamic_cast<const TConollyObject3&>(p);
      const auto& d = dynamic_cast<const TConollyObject3&>(f);
      EXPECT_TRUE(SameBits(&c.ProbeCenter, &d.ProbeCenter, sizeof c.ProbeCenter)) << k;
    }
  }
}

TEST(AtomKernel, TwoSpheresGiveOneFullProbeCircle) {
  // Centres 3 Å apart, expanded radii 2.9: the probe circle lies in the mid
  // plane with radius sqrt(2.9^2 - 1.5^2) and is free all round.
  const TSurfaceRadii radii = Radii();
  std::vector<TAtom> atoms{MakeAtom(1, 0, 0, 0), MakeAtom(2, 3, 0, 0)};
  const TNeighbourhood n = Around(atoms, radii);
  const TAtomCandidates plain = Candidates<TReferenceKernel>(n, radii);
  ASSERT_EQ(plain.Elements.size(), 1u);
  const auto* saddle = dynamic_cast<const TConollyObject2*>(plain.Elements[0].get());
  ASSERT_NE(saddle, nullptr);
  EXPECT_EQ(saddle->Atom2, &atoms[1]);
  EXPECT_EQ(saddle->StartAtom, nullptr);
  EXPECT_NEAR(saddle->Angle, 2 * std::numbers::pi, 1e-6);
  EXPECT_NEAR(saddle->Radius, std::sqrt(kExpanded * kExpanded - 1.5 * 1.5), 1e-12);
  EXPECT_NEAR(static_cast<double>(saddle->Center[0]), 1.5, 1e-12);
  EXPECT_NEAR(static_cast<double>(saddle->Center[1]), 0.0, 1e-12);
  ExpectSamePolicies(plain, Candidates<TFastKernel>(n, radii));
}

TEST(AtomKernel, ThreeSpheresGiveTheProbePositionsTouchingAllThree) {
  // An equilateral triangle of side 3 in the plane z = 0: the probe touches
  // all three expanded spheres above and below its centre, at the height
  // sqrt(2.9^2 - 3) (the circumradius is sqrt 3).
  const TSurfaceRadii radii = Radii();
  const float h = static_cast<float>(1.5 * std::sqrt(3.0));
  std::vector<TAtom> atoms{MakeAtom(1, 0, 0, 0), MakeAtom(2, 3, 0, 0), MakeAtom(3, 1.5f, h, 0)};
  const TNeighbourhood n = Around(atoms, radii);
  const TAtomCandidates plain = Candidates<TReferenceKernel>(n, radii);
  const double cx = 1.5, cy = h / 3.0, height = std::sqrt(kExpanded * kExpanded - (cx * cx + cy * cy));
  int concave = 0, saddles = 0;
  for (const auto& e : plain.Elements) {
    if (const auto* c = dynamic_cast<const TConollyObject3*>(e.get())) {
      ++concave;
      EXPECT_NEAR(c->ProbeCenter.X, cx, 1e-5);
      EXPECT_NEAR(c->ProbeCenter.Y, cy, 1e-5);
      EXPECT_NEAR(std::fabs(c->ProbeCenter.Z), height, 1e-5);
    } else {
      const auto& s = dynamic_cast<const TConollyObject2&>(*e);
      ++saddles;
      // Each pair's circle is cut by the third sphere into one free arc
      // (the outer one), shorter than a full turn.
      EXPECT_NE(s.StartAtom, nullptr);
      EXPECT_GT(s.Angle, 0.0);
      EXPECT_LT(s.Angle, 2 * std::numbers::pi);
    }
  }
  EXPECT_EQ(saddles, 2);  // the pairs (1, 2) and (1, 3)
  EXPECT_GE(concave, 2);  // both probe positions, each at least once
  ExpectSamePolicies(plain, Candidates<TFastKernel>(n, radii));
}

TEST(AtomKernel, BuriedAtomGivesNothing) {
  // A sphere inside a larger one at the same centre has no free surface.
  const TSurfaceRadii radii = Radii();
  std::vector<TAtom> atoms{MakeAtom(1, 0, 0, 0), MakeAtom(2, 0, 0, 0)};
  atoms[1].RadiusType = 15;  // 2.4 Å
  const TNeighbourhood n = Around(atoms, radii);
  EXPECT_TRUE(Candidates<TReferenceKernel>(n, radii).Elements.empty());
  EXPECT_TRUE(Candidates<TFastKernel>(n, radii).Elements.empty());
}

TEST(AtomKernel, InnerPointLiesOnTheSphereOutsideEveryNeighbour) {
  const TSurfaceRadii radii = Radii();
  const float h = static_cast<float>(1.5 * std::sqrt(3.0));
  std::vector<TAtom> atoms{MakeAtom(1, 0, 0, 0), MakeAtom(2, 3, 0, 0), MakeAtom(3, 1.5f, h, 0)};
  const std::vector<TAtom*> neighbours{&atoms[1], &atoms[2]};
  TExtVector found[2];
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "plain");
    // Started inside the expanded sphere of atom 2 only, the search must move out of it.
    TExtVector d{0.6L * kExpanded, -0.8L * kExpanded, 0};
    const int code = fast ? TFastKernel(radii).FindInnerPoint(atoms[0], neighbours, d)
                          : TReferenceKernel(radii).FindInnerPoint(atoms[0], neighbours, d);
    ASSERT_EQ(code, 0);
    const double length = std::sqrt(static_cast<double>(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]));
    EXPECT_NEAR(length, kExpanded, 1e-9);
    for (const TAtom* b : neighbours) {
      const double dx = static_cast<double>(d[0]) - b->X, dy = static_cast<double>(d[1]) - b->Y,
                   dz = static_cast<double>(d[2]) - b->Z;
      EXPECT_GT(std::sqrt(dx * dx + dy * dy + dz * dz), kExpanded) << b->Number;
    }
    found[fast ? 1 : 0] = d;
  }
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(SameBits(&found[0][i], &found[1][i], 10)) << "the policies differ";
}

}  // namespace
}  // namespace cavitas::surface_detail
