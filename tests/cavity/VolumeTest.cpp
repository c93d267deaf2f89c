#include "cavity/Volume.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "frame/Error.h"
#include "frame/Status.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

namespace cavitas {
namespace {

constexpr double kPi = 3.14159265358979323846;

class VolumeTest : public ::testing::Test {
 protected:
  // Appends an atom of the given radius type and returns it.
  TAtom* Add(TProteinObject& p, float x, float y, float z, int radiusType) {
    auto a = std::make_unique<TAtom>();
    a->X = x;
    a->Y = y;
    a->Z = z;
    a->RadiusType = static_cast<std::uint8_t>(radiusType);
    const int n = ++p.AtomCount;
    a->Number = n;
    TAtom* raw = a.get();
    p.PutAtom(n, std::move(a));
    return raw;
  }
};

double Sphere(double r) { return 4.0 / 3.0 * kPi * r * r * r; }

TEST_F(VolumeTest, SmoothSplit_FixedPoints) {
  for (double R : {0.6928203230275509, 0.17320508075688773, 1.0}) {
    EXPECT_EQ(SmoothSplit(0, R), 0.0);
    EXPECT_DOUBLE_EQ(SmoothSplit(R, R), 0.5);
    EXPECT_DOUBLE_EQ(SmoothSplit(-R, R), -0.5);
    EXPECT_DOUBLE_EQ(SmoothSplit(R / 2, R), 0.4375);
    EXPECT_DOUBLE_EQ(SmoothSplit(-R / 2, R), -0.4375);
  }
}

TEST_F(VolumeTest, SmoothSplit_OddAndIncreasingInsideTheCube) {
  const double R = 0.7;
  double previous = -0.5;
  for (int i = -99; i <= 99; ++i) {
    const double x = R * i / 100.0;
    const double f = SmoothSplit(x, R);
    EXPECT_NEAR(f, -SmoothSplit(-x, R), 1e-15);
    EXPECT_GT(f, previous);
    previous = f;
  }
}

TEST_F(VolumeTest, SmoothSplit_BitEqualToTheTwoSidedFormula) {
  // (1 - (1 - a)^3) / 2 above zero, -(1 - (1 + a)^3) / 2 below, a = x / R,
  // evaluated the plain way; signed zeros, the ends of the cube and values
  // far outside it included.
  for (double R : {0.6928203230275509, 0.17320508075688773, 0.043301270189221933}) {
    for (double x : {0.0, -0.0, 1e-300, -1e-300, 1e-9, -1e-9, 0.1, -0.1, 0.3, -0.3, R, -R, 2.5, -2.5, 1000.0}) {
      const double a = x / R;
      const double expected = x >= 0 ? (1 - (1 - a) * (1 - a) * (1 - a)) * 0.5 : (1 - (1 + a) * (1 + a) * (1 + a)) * -0.5;
      const double got = SmoothSplit(x, R);
      EXPECT_EQ(std::memcmp(&got, &expected, sizeof(double)), 0) << x << " / " << R << ": " << got << " vs " << expected;
    }
  }
}

TEST_F(VolumeTest, DelAT_NilAccumulatorIsError401) {
  try {
    delAT(nullptr);
    FAIL() << "no error";
  } catch (const FatalError& e) {
    EXPECT_EQ(ToInt(e.Code), 401);
    EXPECT_NE(e.Text.find("Zugriff auf einen nil-Zeiger"), std::string::npos);
    EXPECT_NE(e.Text.find("Volumen"), std::string::npos);
    EXPECT_NE(e.Text.find("delAT"), std::string::npos);
  }
  TAtomAccumulator acc(5, 3.0);
  delAT(&acc);
  EXPECT_EQ(acc.size(), 5u);
  for (double v : acc) ASSERT_EQ(v, 0.0);
}

TEST_F(VolumeTest, ComputeVolumes_RemarkLinesNameRadiusSetAndExactness) {
  struct Case {
    int set;
    double ex;
    const char* name;
    const char* exactness;
  };
  const Case cases[] = {{kStouten, 0.2, "STOUTEN", "  0.200000"},
                        {kProtor, 0.2, "PROTOR", "  0.200000"},
                        {kStouten, 0.05, "STOUTEN", "  0.050000"},
                        {kProtor, 1.0, "PROTOR", "  0.200000"},  // outside (0.0001, 0.9): ignored
                        {kStouten, 0.0001, "STOUTEN", "  0.200000"}};
  for (const Case& c : cases) {
    TProteinObject p;
    p.Context.Model.SelectRadiusSet(c.set);
    p.Context.Model.SetExactness(c.ex);
    ComputeVolumes(p);
    ASSERT_EQ(p.RemarkLines.size(), 2u);
    EXPECT_EQ(p.RemarkLines[0]->Text, std::string("REMARK   contacts and volume evaluated according ") + c.name);
    EXPECT_EQ(p.RemarkLines[1]->Text, std::string("REMARK   volume evaluated with exactness ") + c.exactness);
  }
}

TEST_F(VolumeTest, ComputeVolumes_StageLeavesProgressCleared) {
  TProteinObject p;
  Add(p, 1, 2, 3, 3);
  p.Context.Progress.StageName = "x";
  ComputeVolumes(p);
  EXPECT_EQ(p.Context.Progress.StageName, "");
  EXPECT_EQ(p.Context.Progress.Position, 0);
}

// Evaluates one top-level cube at the origin directly (exactness above its half-edge).
struct CubeResult {
  TAtomAccumulator vol = TAtomAccumulator(8, 0.0), con = TAtomAccumulator(8, 0.0);
};
CubeResult EvaluateCube(const std::vector<TAtom*>& atoms) {
  TModelConstants model;
  model.SetExactness(0.5);
  CubeResult r;
  VolumeOfCube(model, TCoord{0, 0, 0}, atoms, kVolumeCubeVolume, kVolumeHalfEdge, r.vol, r.con);
  return r;
}

TEST_F(VolumeTest, VolumeOfCube_EqualNearestDistancesSplitHalfAndHalf) {
  // Two equal atoms mirrored through the cube centre, at distances that put the
  // bisector inside the spheres, across the sphere surfaces, and in the shell.
  for (float a : {1.0f, 2.0f, 2.5f}) {
    TProteinObject p;
    TAtom* left = Add(p, -a, 0, 0, 0);
    TAtom* right = Add(p, a, 0, 0, 0);
    const CubeResult r = EvaluateCube({left, right});
    EXPECT_EQ(r.vol[1], r.vol[2]) << a;
    EXPECT_EQ(r.con[1], r.con[2]) << a;
    EXPECT_NEAR(r.vol[1] + r.con[1], kVolumeCubeVolume / 2, 1e-12) << a;
  }
  TProteinObject p;
  const CubeResult inside = EvaluateCube({Add(p, -1, 0, 0, 0), Add(p, 1, 0, 0, 0)});
  EXPECT_EQ(inside.vol[1], kVolumeCubeVolume / 2);
  EXPECT_EQ(inside.con[1], 0.0);
}

TEST_F(VolumeTest, VolumeOfCube_SecondPlaceTieKeepsTheLaterAtom) {
  // a and b tie for the second place; c, nearest, arrives last and displaces the
  // first of the pair (a), so b is kept and a receives nothing.
  TProteinObject p;
  TAtom* a = Add(p, 2, 0, 0, 0);
  TAtom* b = Add(p, 0, 2, 0, 0);
  TAtom* c = Add(p, 0, 0, 1.7f, 0);
  const CubeResult r = EvaluateCube({a, b, c});
  EXPECT_EQ(r.vol[1] + r.con[1], 0.0);
  EXPECT_GT(r.con[2], 0.0);
  EXPECT_GT(r.vol[3], 0.0);
  // With b listed first the roles swap.
  const CubeResult s = EvaluateCube({b, a, c});
  EXPECT_EQ(s.vol[2] + s.con[2], 0.0);
  EXPECT_EQ(s.con[1], r.con[2]);
}

TEST_F(VolumeTest, VolumeOfCube_CubeBeyondTheShellGetsNothing) {
  TProteinObject p;
  const CubeResult r = EvaluateCube({Add(p, 5, 0, 0, 0)});  // d1 = 3.35 >= 1.4 + R
  EXPECT_EQ(r.vol[1] + r.con[1], 0.0);
}

// Volume and contact volume of one atom of radius type 3 (1.87 Å with STOUTEN).
void IsolatedAtom(double exactness, double& volume, double& contact) {
  TProteinObject p;
  p.Context.Model.SetExactness(exactness);
  auto a = std::make_unique<TAtom>();
  a->X = 12.345f;
  a->Y = -3.21f;
  a->Z = 7.5f;
  a->RadiusType = 3;
  a->Number = 1;
  p.PutAtom(1, std::move(a));
  p.AtomCount = 1;
  ComputeVolumes(p);
  volume = p.AtomAt(1)->Volume;
  contact = p.AtomAt(1)->ContactVolume;
}

TEST_F(VolumeTest, ComputeVolumes_IsolatedAtomApproachesSphereAndShell) {
  const double r = 1.87;
  const double sphere = Sphere(r), shell = Sphere(r + 1.4) - Sphere(r);
  double previousVolumeError = 1e9, previousContactError = 1e9;
  for (double ex : {0.5, 0.2, 0.05}) {
    double v, c;
    IsolatedAtom(ex, v, c);
    const double ev = std::fabs(v - sphere) / sphere, ec = std::fabs(c - shell) / shell;
    EXPECT_LE(ev, previousVolumeError) << ex;
    EXPECT_LE(ec, previousContactError) << ex;
    previousVolumeError = ev;
    previousContactError = ec;
    if (ex == 0.2) {
      EXPECT_LT(ev, 0.01) << v << " vs " << sphere;
      EXPECT_LT(ec, 0.01) << c << " vs " << shell;
    }
  }
  EXPECT_LT(previousVolumeError, 0.002);
  EXPECT_LT(previousContactError, 0.002);
}

// Fast and straightforward scans must produce the very same floats.
void ExpectSameScans(const std::string& file, int radiusSet, double exactness) {
  TProteinObject fast, reference;
  for (TProteinObject* p : {&fast, &reference}) {
    p->Context.Model.SelectRadiusSet(radiusSet);
    p->Context.Model.SetExactness(exactness);
  }
  ReadProtein(fast, file, "/dev/null", 0);
  ReadProtein(reference, file, "/dev/null", 0);
  ASSERT_GT(fast.AtomCount, 0);
  ComputeVolumes(fast, TVolumeMethod::Fast);
  ComputeVolumes(reference, TVolumeMethod::Reference);
  double total = 0;
  for (int i = 1; i <= fast.AtomCount; ++i) {
    const TAtom& f = *fast.AtomAt(i);
    const TAtom& r = *reference.AtomAt(i);
    ASSERT_EQ(std::memcmp(&f.Volume, &r.Volume, sizeof(float)), 0) << file << " atom " << i;
    ASSERT_EQ(std::memcmp(&f.ContactVolume, &r.ContactVolume, sizeof(float)), 0) << file << " atom " << i;
    total += f.Volume;
  }
  EXPECT_GT(total, 0);
}

TEST_F(VolumeTest, FastScan_EqualsStraightforwardScan) {
  ExpectSameScans(testing::DataFile("pept.pdb"), kStouten, 0.2);
  ExpectSameScans(testing::DataFile("pept.pdb"), kProtor, 0.05);
  ExpectSameScans(testing::DataFile("pept.pdb"), kStouten, 0.4);
  ExpectSameScans(testing::DataFile("1ubq.pdb"), kStouten, 0.2);
}

TEST_F(VolumeTest, FastScan_EqualsStraightforwardScanOnCorpus) {
  for (const char* name : {"1ejg.pdb", "3al1.pdb"}) {
    const std::string file = testing::CorpusFile(name);
    if (file.empty()) GTEST_SKIP() << "corpus absent";
    ExpectSameScans(file, kProtor, 0.2);
  }
}

TEST_F(VolumeTest, FastScan_TieOnAGridOfEqualAtoms) {
  // Equal atoms on a lattice put many sub-cube centres at exactly equal
  // distances from several atoms: the fall-back to the full list must agree.
  TProteinObject fast, reference;
  for (TProteinObject* p : {&fast, &reference})
    for (int x = 0; x < 3; ++x)
      for (int y = 0; y < 3; ++y)
        for (int z = 0; z < 2; ++z) Add(*p, 2.0f * x, 2.0f * y, 2.0f * z, 2);
  ComputeVolumes(fast, TVolumeMethod::Fast);
  ComputeVolumes(reference, TVolumeMethod::Reference);
  for (int i = 1; i <= fast.AtomCount; ++i) {
    EXPECT_EQ(fast.AtomAt(i)->Volume, reference.AtomAt(i)->Volume) << i;
    EXPECT_EQ(fast.AtomAt(i)->ContactVolume, reference.AtomAt(i)->ContactVolume) << i;
  }
}

// The accumulators of the fast and the straightforward scan, bit for bit.
void ExpectSameSums(TProteinObject& p, const std::string& what) {
  std::unique_ptr<TAtomAccumulator> fv, fc, rv, rc;
  VolumeOfAtoms(p, fv, fc, TVolumeMethod::Fast);
  VolumeOfAtoms(p, rv, rc, TVolumeMethod::Reference);
  for (int i = 1; i <= p.AtomCount; ++i) {
    const std::size_t n = static_cast<std::size_t>(i);
    ASSERT_EQ(std::memcmp(&(*fv)[n], &(*rv)[n], sizeof(double)), 0) << what << " volume of atom " << i;
    ASSERT_EQ(std::memcmp(&(*fc)[n], &(*rc)[n], sizeof(double)), 0) << what << " contact of atom " << i;
  }
}

TEST_F(VolumeTest, FastScan_CrowdedClustersEqualStraightforwardScan) {
  // Clusters of atoms a fraction of an Å apart: every sub-cube has as many
  // candidates about equally near as the cluster holds, beyond 64 on the ranking
  // of wide lists, with exact duplicates among them (ties at every place).
  struct Case {
    int atoms;
    float spread;  // Å, half-width of the cluster
    int duplicateEvery;  // every n-th atom repeats the previous position (0: none)
    double exactness;
  };
  const Case cases[] = {{1, 0.0f, 0, 0.2},  {2, 0.3f, 0, 0.2},   {3, 0.0f, 0, 0.2},  {64, 0.4f, 0, 0.2},
                        {65, 0.4f, 0, 0.2}, {90, 0.6f, 7, 0.2},  {40, 0.5f, 3, 0.1}, {70, 0.3f, 5, 0.1}};
  for (const Case& c : cases) {
    TProteinObject p;
    p.Context.Model.SetExactness(c.exactness);
    std::uint32_t seed = 12345u + static_cast<std::uint32_t>(c.atoms);
    auto jitter = [&] {
      seed = seed * 1664525u + 1013904223u;
      return c.spread * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    };
    float x = 0, y = 0, z = 0;
    for (int i = 0; i < c.atoms; ++i) {
      if (c.duplicateEvery == 0 || i % c.duplicateEvery != 0 || i == 0) {
        x = 5 + jitter();
        y = -2 + jitter();
        z = 3 + jitter();
      }
      Add(p, x, y, z, i % 16);
    }
    ExpectSameSums(p, std::to_string(c.atoms) + " atoms at exactness " + std::to_string(c.exactness));
  }
}

// Every cube of the scan lattice with all atoms within the cut-off as
// candidates, in index order (no grid involved).
void BruteForceVolumes(const TProteinObject& p, TAtomAccumulator& vol, TAtomAccumulator& con) {
  std::vector<std::uint8_t> included(static_cast<std::size_t>(p.AtomCount) + 1, 0);
  for (int i = 1; i <= p.AtomCount; ++i) included[static_cast<std::size_t>(i)] = 1;
  TVolumeGrid grid;
  std::unique_ptr<TAtomAccumulator> v, c;
  SetUpVolumeGrid(grid, p, included, v, c);
  vol = *v;
  con = *c;
  const long double margin = p.Context.Model.ProbeRadius + 2.4;
  auto centres = [&](float lo, float hi) {
    const float low = static_cast<float>(lo - margin), high = static_cast<float>(hi + margin);
    const int n = static_cast<int>(std::trunc((static_cast<long double>(high) - low) * 0.5L / 0.4L));
    std::vector<float> out;
    double offset = -0.4 - static_cast<double>(margin);
    for (int i = 0; i <= n; ++i) {
      offset += 0.8;
      out.push_back(static_cast<float>(static_cast<long double>(lo) + offset));
    }
    return out;
  };
  for (float x : centres(grid.Min.X, grid.Max.X))
    for (float y : centres(grid.Min.Y, grid.Max.Y))
      for (float z : centres(grid.Min.Z, grid.Max.Z)) {
        std::vector<TAtom*> L;
        for (int i = 1; i <= p.AtomCount; ++i)
          if (IsCandidate(grid, TCoord{x, y, z}, *p.AtomAt(i))) L.push_back(const_cast<TAtom*>(p.AtomAt(i)));
        VolumeOfCube(p.Context.Model, TCoord{x, y, z}, L, kVolumeCubeVolume, kVolumeHalfEdge, vol, con);
      }
}

TEST_F(VolumeTest, CandidateSearch_FindsAtomsTwoCellsAway) {
  // Minimum cell edge 4.3 Å. The atom of radius 2.4 (cut-off 4.49 Å) sits at the
  // bottom of cell 6 along x; the cube centre at 21.4 Å from the grid minimum
  // lies in cell 4, 4.43 Å from it, so the column and its two neighbours (cells
  // 3 to 5) do not hold this candidate. The cube lies wholly in the shell of a
  // small atom 1.6 Å away (scanned before, so its sum is no longer small); only
  // the far atom, second nearest and close enough to share the cube, makes the
  // scan cut the cube instead of adding it whole, which rounds differently.
  TProteinObject p;
  Add(p, 0, 0, 0, 0);
  TAtom* far = Add(p, 25.71f, 0, 0, 15);
  TAtom* near = Add(p, 19.7573f, 0, 0, 4);
  std::vector<std::uint8_t> included(static_cast<std::size_t>(p.AtomCount) + 1, 1);
  TVolumeGrid grid;
  std::unique_ptr<TAtomAccumulator> v, c;
  SetUpVolumeGrid(grid, p, included, v, c);
  ASSERT_FLOAT_EQ(grid.Edge.X, 4.3f);
  const TCoord centre{static_cast<float>(static_cast<long double>(grid.Min.X) + 21.4), static_cast<float>(grid.Min.Y - 0.2L),
                      static_cast<float>(grid.Min.Z - 0.2L)};
  ASSERT_TRUE(IsCandidate(grid, centre, *far));
  const int atomCell = static_cast<int>((far->X - grid.Min.X) * grid.Inverse.X);
  const int cubeCell = static_cast<int>((centre.X - grid.Min.X) * grid.Inverse.X);
  ASSERT_EQ(atomCell, 6);
  ASSERT_EQ(cubeCell, 4);
  // Not yet settled by the small atom alone: its cube is shared with the far one.
  const double R = kSqrt3 * kVolumeHalfEdge;
  auto surface = [&](const TAtom& a) {
    return std::sqrt(std::pow(double(centre.X) - a.X, 2) + std::pow(double(centre.Y) - a.Y, 2) +
                     std::pow(double(centre.Z) - a.Z, 2)) -
           p.Context.Model.Radius(a);
  };
  ASSERT_GE(surface(*near), R);
  ASSERT_LT(surface(*near), p.Context.Model.ProbeRadius - R);
  ASSERT_LT(surface(*far) - surface(*near), 2 * R);
  ASSERT_LT(surface(*far), p.Context.Model.ProbeRadius + R);

  TAtomAccumulator vol, con;
  BruteForceVolumes(p, vol, con);
  for (TVolumeMethod method : {TVolumeMethod::Fast, TVolumeMethod::Reference}) {
    std::unique_ptr<TAtomAccumulator> mv, mc;
    VolumeOfAtoms(p, mv, mc, method);
    for (int i = 1; i <= p.AtomCount; ++i) {
      EXPECT_EQ((*mv)[static_cast<std::size_t>(i)], vol[static_cast<std::size_t>(i)]) << i;
      EXPECT_EQ((*mc)[static_cast<std::size_t>(i)], con[static_cast<std::size_t>(i)]) << i;
    }
  }
}

// The scan split into ranges of layers on threads must give every entry of
// both accumulators the bits of the scan on one thread and of the
// straightforward scan; `ranges` beyond the layers are allowed.
void ExpectSameSumsInRanges(TProteinObject& p, std::initializer_list<int> ranges, const std::string& what) {
  std::unique_ptr<TAtomAccumulator> ov, oc, rv, rc;
  VolumeOfAtoms(p, ov, oc, TVolumeMethod::Fast, 1);
  VolumeOfAtoms(p, rv, rc, TVolumeMethod::Reference);
  ASSERT_EQ(std::memcmp(ov->data(), rv->data(), ov->size() * sizeof(double)), 0) << what;
  ASSERT_EQ(std::memcmp(oc->data(), rc->data(), oc->size() * sizeof(double)), 0) << what;
  for (int threads : ranges) {
    std::unique_ptr<TAtomAccumulator> v, c;
    VolumeOfAtoms(p, v, c, TVolumeMethod::Fast, threads);
    ASSERT_EQ(v->size(), ov->size());
    for (std::size_t n = 0; n < v->size(); ++n) {
      ASSERT_EQ(std::memcmp(&(*v)[n], &(*ov)[n], sizeof(double)), 0)
          << what << ", " << threads << " ranges: volume of atom " << n << " " << (*v)[n] << " vs " << (*ov)[n];
      ASSERT_EQ(std::memcmp(&(*c)[n], &(*oc)[n], sizeof(double)), 0)
          << what << ", " << threads << " ranges: contact of atom " << n << " " << (*c)[n] << " vs " << (*oc)[n];
    }
  }
}

TEST_F(VolumeTest, ThreadedScan_EqualsOneThreadOnStructures) {
  struct Case {
    std::string file;  // empty: corpus absent
    int radiusSet;
    double exactness;
  };
  const Case cases[] = {{testing::DataFile("1ubq.pdb"), kStouten, 0.2},
                        {testing::DataFile("pept.pdb"), kProtor, 0.05},
                        {testing::CorpusFile("3al1.pdb"), kProtor, 0.2}};
  for (const Case& c : cases) {
    if (c.file.empty()) continue;  // corpus absent
    TProteinObject p;
    p.Context.Model.SelectRadiusSet(c.radiusSet);
    p.Context.Model.SetExactness(c.exactness);
    ReadProtein(p, c.file, "/dev/null", 0);
    ASSERT_GT(p.AtomCount, 0) << c.file;
    ExpectSameSumsInRanges(p, {1, 2, 3, 4, 7, 0}, c.file + " at exactness " + std::to_string(c.exactness));
  }
}

TEST_F(VolumeTest, ThreadedScan_EqualsOneThreadWhereAtomsStraddleTheRanges) {
  // Chains along x. Every 0.5 Å: each range boundary cuts through a dozen
  // atoms' spans of layers, and the neighbours share nearly every cube. Every
  // 3.1 Å: an atom is the nearest out to the first and last layers of its
  // span. A second, shifted strand puts atoms of another radius beside it.
  struct Case {
    float spacing;
    int atoms;
    double exactness;
  };
  const Case cases[] = {{0.5f, 120, 0.2}, {0.5f, 120, 0.1}, {3.1f, 40, 0.2}, {3.1f, 40, 0.1}};
  for (const Case& c : cases) {
    TProteinObject p;
    p.Context.Model.SetExactness(c.exactness);
    for (int i = 0; i < c.atoms; ++i) {
      const float x = c.spacing * static_cast<float>(i);
      Add(p, x, 0.3f * static_cast<float>(i % 3), 0.2f * static_cast<float>(i % 5), 3);
      if (i % 4 == 0) Add(p, x + 0.25f, 1.6f, -0.7f, 7);
    }
    ExpectSameSumsInRanges(p, {2, 3, 4, 7, 16, 0},
                           "chain every " + std::to_string(c.spacing) + " at exactness " + std::to_string(c.exactness));
  }
}

// An atom far from the structure: the cube lattice starts at the same corner,
// no other atom's sums change by a bit, and across the far parts (rows and
// columns too sparse to count out) the fast scan still equals the
// straightforward one, in ranges as on one thread.
TEST_F(VolumeTest, FastScan_DistantAtomChangesNoOtherAtom) {
  TProteinObject p;
  ReadProtein(p, testing::DataFile("pept.pdb"), "/dev/null", 0);
  ASSERT_GT(p.AtomCount, 0);
  std::unique_ptr<TAtomAccumulator> bv, bc;
  VolumeOfAtoms(p, bv, bc, TVolumeMethod::Fast, 1);
  float top[3] = {-1e9f, -1e9f, -1e9f};
  for (int i = 1; i <= p.AtomCount; ++i) {
    top[0] = std::max(top[0], p.AtomAt(i)->X);
    top[1] = std::max(top[1], p.AtomAt(i)->Y);
    top[2] = std::max(top[2], p.AtomAt(i)->Z);
  }
  const int n = p.AtomCount;
  Add(p, top[0] + 3, top[1] + 200, top[2] + 200, 2);
  ExpectSameSumsInRanges(p, {2, 3}, "pept with an atom 280 A out");
  std::unique_ptr<TAtomAccumulator> v, c;
  VolumeOfAtoms(p, v, c, TVolumeMethod::Fast, 1);
  ASSERT_EQ(std::memcmp(v->data(), bv->data(), (static_cast<std::size_t>(n) + 1) * sizeof(double)), 0);
  ASSERT_EQ(std::memcmp(c->data(), bc->data(), (static_cast<std::size_t>(n) + 1) * sizeof(double)), 0);
  EXPECT_NEAR((*v)[static_cast<std::size_t>(n) + 1], Sphere(p.Context.Model.RadiusTable[2]),
              0.02 * Sphere(p.Context.Model.RadiusTable[2]));
}

TEST_F(VolumeTest, ThreadedScan_TakeOversKeepTheSums) {
  // Threads done early take over the later layers of ranges still running,
  // wherever these then are: every run gives the sums of one thread.
  TProteinObject p;
  ReadProtein(p, testing::DataFile("1ubq.pdb"), "/dev/null", 0);
  std::unique_ptr<TAtomAccumulator> ov, oc;
  VolumeOfAtoms(p, ov, oc, TVolumeMethod::Fast, 1);
  int takeOvers = 0;
  for (int run = 0; run < 40 && (run < 4 || takeOvers == 0); ++run) {
    TVolumeThreads threads(run % 2 == 0 ? 4 : 7);
    threads.MinTakeOver = 0;
    threads.TakeOvers = &takeOvers;
    std::unique_ptr<TAtomAccumulator> v, c;
    VolumeOfAtoms(p, v, c, TVolumeMethod::Fast, threads);
    ASSERT_EQ(std::memcmp(v->data(), ov->data(), ov->size() * sizeof(double)), 0) << "run " << run;
    ASSERT_EQ(std::memcmp(c->data(), oc->data(), oc->size() * sizeof(double)), 0) << "run " << run;
  }
  EXPECT_GT(takeOvers, 0);
}

TEST_F(VolumeTest, ThreadedScan_MoreRangesThanLayers) {
  // Two atoms span about ten layers; the ranges are capped at one per layer.
  TProteinObject p;
  p.Context.Model.SetExactness(0.1);
  Add(p, 0, 0, 0, 3);
  Add(p, 1.3f, 0.4f, 0, 5);
  ExpectSameSumsInRanges(p, {9, 12, 40, 1000}, "two atoms");
}

TEST_F(VolumeTest, ThreadedScan_LeavesProgressToTheCallingThread) {
  TProteinObject p;
  ReadProtein(p, testing::DataFile("1ubq.pdb"), "/dev/null", 0);
  int calls = 0;
  std::int32_t highest = 0;
  const std::thread::id caller = std::this_thread::get_id();
  p.Context.Progress.OnChange = [&](TStatus& s) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    ++calls;
    highest = std::max(highest, s.Position);
  };
  std::unique_ptr<TAtomAccumulator> v, c;
  VolumeOfAtoms(p, v, c, TVolumeMethod::Fast, 3);
  p.Context.Progress.OnChange = nullptr;
  EXPECT_GT(calls, 2);
  EXPECT_EQ(highest, p.Context.Progress.Total + 1);  // the last layer's position, as on one thread
  EXPECT_EQ(p.Context.Progress.Position, 0);
}

}  // namespace
}  // namespace cavitas
