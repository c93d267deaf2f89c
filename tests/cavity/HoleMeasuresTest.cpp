// Area, volume and centre of real surfaces against values computed another
// way: the parallel-body (Steiner) formula of the probe-centre region, whose
// volume and area come from a ray integral over one symmetry cell where its
// boundary is a single sphere (smooth, so Gauss-Legendre converges to 1e-12).
#include "cavity/HoleMeasures.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numbers>

#include "TestSupport.h"
#include "cavity/Cluster.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

namespace cavitas {
namespace {

// The start-up model every surface here is built with.
const TModelConstants kModel;

using Vec = std::array<double, 3>;
constexpr double kPi = std::numbers::pi;
constexpr int kRadiusType = 8;  // 1.7 Å in the default set

double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Unit(const Vec& a) {
  const double n = std::sqrt(Dot(a, a));
  return {a[0] / n, a[1] / n, a[2] / n};
}

// ∫ f(ω) dΩ over the spherical triangle (a, b, c): the flat triangle mapped to
// the unit square (x = a + s(b − a) + st(c − b)) and projected from the origin.
double TriangleIntegral(const Vec& a, const Vec& b, const Vec& c, const std::function<double(const Vec&)>& f) {
  constexpr int n = 48;
  // Gauss-Legendre nodes and weights on [0, 1] by Newton's method.
  std::array<double, n> x{}, w{};
  for (int i = 0; i < n; ++i) {
    double z = std::cos(kPi * (i + 0.75) / (n + 0.5)), dp = 0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1, p1 = z;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (z * p1 - p0) / (z * z - 1);
      const double dz = p1 / dp;
      z -= dz;
      if (std::fabs(dz) < 1e-16) break;
    }
    x[static_cast<std::size_t>(i)] = (1 - z) / 2;
    w[static_cast<std::size_t>(i)] = 1 / ((1 - z * z) * dp * dp);
  }
  double sum = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double s = x[static_cast<std::size_t>(i)], t = x[static_cast<std::size_t>(j)];
      Vec p, ds, dt;
      for (int k = 0; k < 3; ++k) {
        p[k] = a[k] + s * (b[k] - a[k]) + s * t * (c[k] - b[k]);
        ds[k] = b[k] - a[k] + t * (c[k] - b[k]);
        dt[k] = s * (c[k] - b[k]);
      }
      const double r2 = Dot(p, p);
      const double jac = std::fabs(Dot(p, Cross(ds, dt))) / (r2 * std::sqrt(r2));
      sum += w[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(j)] * jac * f(Unit(p));
    }
  return sum;
}

// The surface of the given atoms (all of radius 1.7 Å), its holes taken out.
struct TBuilt {
  std::unique_ptr<TProteinObject> Protein;
  TSurface Surface;
  THoleTable Holes;
  std::int32_t HoleCount = 0;
};

TBuilt Build(const std::vector<Vec>& centres, const Vec& shift = {0, 0, 0}, const std::vector<int>& types = {}) {
  TBuilt b;
  b.Protein = std::make_unique<TProteinObject>();
  int n = 0;
  for (const Vec& c : centres) {
    auto atom = std::make_unique<TAtom>();
    atom->X = static_cast<float>(c[0] + shift[0]);
    atom->Y = static_cast<float>(c[1] + shift[1]);
    atom->Z = static_cast<float>(c[2] + shift[2]);
    atom->RadiusType = static_cast<std::uint8_t>(types.empty() ? kRadiusType : types[static_cast<std::size_t>(n)]);
    atom->Number = ++n;
    b.Protein->PutAtom(n, std::move(atom));
  }
  b.Protein->AtomCount = b.Protein->ProteinAtomCount = n;
  TRunStatus status = TRunStatus::Good;
  std::int32_t parts = 0;
  ComputeSurfaceWithoutHet(*b.Protein, b.Surface, status);
  EXPECT_EQ(status, TRunStatus::Good);
  b.HoleCount = ClusterHoles(b.Protein->Context, b.Surface.AtomElements, b.Surface.Elements, true, b.Holes, parts);
  return b;
}

// The parallel body of a region G at distance P, valid while G's reach is at
// least P (no saddle circle narrower than the probe, no two concave patches
// overlapping): V = V_G ± P S_G + P² M ± (4π/3) P³, A = S_G ± 2P M + 4π P²,
// with M = −Σ A_f/E_f + ½ Σ β L over the faces (sphere pieces of area A_f and
// radius E_f, curved against G) and the edges (length L, angle β between the
// face normals). Outward (cavity, + signs) or inward into the union of
// expanded spheres (outer surface of the molecule, − signs, where V_G and S_G
// are the union's). faceTerm = Σ A_f/E_f, by default S_G/E of equal spheres.
struct TSteiner {
  double Volume, Area;
};
TSteiner Parallel(double vG, double sG, double edgeTerm, bool outward, double faceTerm = -1) {
  const double P = kModel.ProbeRadius, E = kModel.RadiusTable[kRadiusType] + P;
  const double m = -(faceTerm < 0 ? sG / E : faceTerm) + edgeTerm / 2;
  if (outward) return {vG + P * sG + P * P * m + 4 * kPi / 3 * P * P * P, sG + 2 * P * m + 4 * kPi * P * P};
  return {vG - P * sG - P * P * m - 4 * kPi / 3 * P * P * P, sG + 2 * P * m + 4 * kPi * P * P};
}

double Expanded() { return kModel.RadiusTable[kRadiusType] + kModel.ProbeRadius; }

void ExpectRelative(double actual, double expected, const char* what) {
  EXPECT_NEAR(actual, expected, 1e-6 * std::fabs(expected)) << what;
}

TEST(HoleMeasures, OneSphere_ClosedForm) {
  const TBuilt b = Build({{0.5, -1.25, 2}});
  ASSERT_EQ(b.HoleCount, 0);
  const TSurfaceMeasures m = MeasureSurface(kModel, b.Surface.Elements, false);
  const double R = kModel.RadiusTable[kRadiusType];
  ExpectRelative(m.Area, 4 * kPi * R * R, "area");
  ExpectRelative(m.Volume, 4 * kPi / 3 * R * R * R, "volume");
  EXPECT_EQ(m.SampledPatches, 0);
}

TEST(HoleMeasures, TwoOverlappingAtoms_ClosedForm) {
  const double d = 2.5, E = Expanded();
  const TBuilt b = Build({{0, 0, 0}, {d, 0, 0}});
  ASSERT_EQ(b.HoleCount, 0);
  const TSurfaceMeasures m = MeasureSurface(kModel, b.Surface.Elements, false);
  // Union of the expanded spheres: two spheres less a lens; one circle edge.
  const double h = E - d / 2;
  const double vU = 2 * 4 * kPi / 3 * E * E * E - kPi * (4 * E + d) * (2 * E - d) * (2 * E - d) / 12;
  const double sU = 2 * (4 * kPi * E * E - 2 * kPi * E * h);
  const double rho = std::sqrt(E * E - d * d / 4), beta = std::acos(1 - d * d / (2 * E * E));
  const TSteiner expected = Parallel(vU, sU, beta * 2 * kPi * rho, false);
  ExpectRelative(m.Area, expected.Area, "area");
  ExpectRelative(m.Volume, expected.Volume, "volume");
}

// Radii 2.0 and 1.4 Å one Å apart: the probe circle's centre lies beyond the
// small atom, so both atoms are on one side of it (the saddle spans the
// difference of the angles to them).
TEST(HoleMeasures, TwoAtomsCircleBeyondTheSmallOne_ClosedForm) {
  const double d = 1.0, P = kModel.ProbeRadius;
  const double E1 = kModel.RadiusTable[11] + P, E2 = kModel.RadiusTable[2] + P;
  ASSERT_GT(E1 * E1, d * d + E2 * E2);
  const TBuilt b = Build({{0, 0, 0}, {d, 0, 0}}, {3, -2, 1}, {11, 2});
  ASSERT_EQ(b.HoleCount, 0);
  const TSurfaceMeasures m = MeasureSurface(kModel, b.Surface.Elements, false);
  auto cap = [](double h, double E) { return kPi * h * h * (3 * E - h) / 3; };
  const double x1 = (d * d + E1 * E1 - E2 * E2) / (2 * d);  // radical plane, from atom 1
  const double h1 = E1 - x1, h2 = E2 + (x1 - d);             // the parts inside the other sphere
  const double vU = 4 * kPi / 3 * (E1 * E1 * E1 + E2 * E2 * E2) - cap(h1, E1) - cap(h2, E2);
  const double a1 = 4 * kPi * E1 * E1 - 2 * kPi * E1 * h1, a2 = 4 * kPi * E2 * E2 - 2 * kPi * E2 * h2;
  const double rho = std::sqrt(E1 * E1 - x1 * x1), beta = std::acos((E1 * E1 + E2 * E2 - d * d) / (2 * E1 * E2));
  const TSteiner expected = Parallel(vU, a1 + a2, beta * 2 * kPi * rho, false, a1 / E1 + a2 / E2);
  ExpectRelative(m.Area, expected.Area, "area");
  ExpectRelative(m.Volume, expected.Volume, "volume");
}

TEST(HoleMeasures, ThreeAtomsInATriangle_RayIntegral) {
  const double a = 2.0, E = Expanded();  // centres a from the centroid, in the plane z = 0
  std::vector<Vec> centres;
  for (int k = 0; k < 3; ++k) centres.push_back({a * std::cos(2 * kPi * k / 3), a * std::sin(2 * kPi * k / 3), 0});
  const TBuilt b = Build(centres);
  ASSERT_EQ(b.HoleCount, 0);
  const TSurfaceMeasures m = MeasureSurface(kModel, b.Surface.Elements, false);
  // One of 12 cells: the ray leaves the union through the sphere of atom 1.
  const Vec c1 = {a, 0, 0};
  auto exit = [&](const Vec& w) { return Dot(w, c1) + std::sqrt(Dot(w, c1) * Dot(w, c1) - a * a + E * E); };
  const Vec A{1, 0, 0}, B{0.5, std::sqrt(3.0) / 2, 0}, C{0, 0, 1};
  const double vU = 12 * TriangleIntegral(A, B, C, [&](const Vec& w) { return std::pow(exit(w), 3) / 3; });
  const double sU = 12 * TriangleIntegral(A, B, C, [&](const Vec& w) {
                      const double r = exit(w);
                      return r * r * E / (r - Dot(w, c1));
                    });
  // Three circle edges, each outside the third sphere between the two triple points (0, 0, ±t).
  const double d = a * std::sqrt(3.0), rho = std::sqrt(E * E - d * d / 4), t = std::sqrt(E * E - a * a);
  const double arc = rho * (2 * kPi - 2 * std::atan2(t, a / 2)), beta = std::acos(1 - d * d / (2 * E * E));
  const TSteiner expected = Parallel(vU, sU, 3 * beta * arc, false);
  ExpectRelative(m.Area, expected.Area, "area");
  ExpectRelative(m.Volume, expected.Volume, "volume");
}

// A cavity inside six atoms on the axes; its probe-centre region is bounded
// by the six expanded spheres, one of 48 cells of it by the sphere on +x.
class OctahedralCavity : public ::testing::TestWithParam<Vec> {};

TEST_P(OctahedralCavity, ClosedForm) {
  const double a = 3.5, E = Expanded();
  const Vec shift = GetParam();
  const TBuilt b = Build({{a, 0, 0}, {-a, 0, 0}, {0, a, 0}, {0, -a, 0}, {0, 0, a}, {0, 0, -a}}, shift);
  ASSERT_EQ(b.HoleCount, 1);
  const TSurfaceMeasures m = MeasureSurface(kModel, b.Holes[0], true);
  auto enter = [&](const Vec& w) { return a * w[0] - std::sqrt(a * a * w[0] * w[0] - a * a + E * E); };
  const Vec A{1, 0, 0}, B = Unit({1, 1, 0}), C = Unit({1, 1, 1});
  const double vF = 48 * TriangleIntegral(A, B, C, [&](const Vec& w) { return std::pow(enter(w), 3) / 3; });
  const double sF = 48 * TriangleIntegral(A, B, C, [&](const Vec& w) {
                      const double r = enter(w);
                      return r * r * E / (a * w[0] - r);
                    });
  // Twelve edges: the arc of the probe circle of (+x, +y) nearest the centre,
  // between the corners (t, t, ±t) where the probe touches three atoms.
  const double rho = std::sqrt(E * E - a * a / 2), t = (a - std::sqrt(3 * E * E - 2 * a * a)) / 3;
  const double arc = rho * 2 * std::atan2(t, std::sqrt(2.0) * (a / 2 - t)), beta = std::acos(1 - a * a / (E * E));
  const TSteiner expected = Parallel(vF, sF, 12 * beta * arc, true);
  ExpectRelative(m.ProbeCentreVolume, vF, "probe-centre volume");
  ExpectRelative(m.Area, expected.Area, "area");
  ExpectRelative(m.Volume, expected.Volume, "volume");
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(m.Centre[static_cast<std::size_t>(k)], shift[static_cast<std::size_t>(k)], 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Shifted, OctahedralCavity,
                         ::testing::Values(Vec{0, 0, 0}, Vec{10.25, -7.5, 3.125}, Vec{-40.5, 60.75, 100}));

// On a real structure: every contact patch closes into cycles, the exact
// areas agree with the sampled areas, and every cavity holds a probe sphere.
TEST(HoleMeasures, RealStructure_ExactPatchesAndPlausibleCavities) {
  TProteinObject p;
  const testing::TempDir dir;
  ReadProtein(p, testing::DataFile("1ubq.pdb"), dir.File("read.log"), 0);
  TSurface s;
  TRunStatus status = TRunStatus::Good;
  std::int32_t parts = 0;
  ComputeSurfaceWithHet(p, s, status);
  THoleTable holes;
  const std::int32_t count = ClusterHoles(p.Context, s.AtomElements, s.Elements, true, holes, parts);
  ASSERT_GE(count, 1);
  const TSurfaceMeasures outer = MeasureSurface(kModel, s.Elements, false);
  EXPECT_EQ(outer.SampledPatches, 0);
  double sampled = 0;
  for (const auto& e : s.Elements) sampled += e->Area(kModel);
  EXPECT_NEAR(outer.Area, sampled, 0.01 * sampled);
  for (std::int32_t k = 0; k < count; ++k) {
    const TSurfaceMeasures m = MeasureSurface(kModel, holes[static_cast<std::size_t>(k)], true);
    EXPECT_EQ(m.SampledPatches, 0);
    EXPECT_GE(m.Volume, 4 * kPi / 3 * std::pow(kModel.ProbeRadius, 3) * 0.999) << "hole " << k + 1;
    EXPECT_GE(m.ProbeCentreVolume, 0);
    EXPECT_LT(m.ProbeCentreVolume, m.Volume);
  }
}

}  // namespace
}  // namespace cavitas
