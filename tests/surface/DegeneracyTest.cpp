// Exact degeneracies that the zero-length edges cannot close (four spheres
// with three open cycles, five to eight spheres through one point, regular
// lattices, coincident equal spheres): the construction moves the atoms through
// such points and builds again, and the surface closes.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "TestSupport.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Radii.h"
#include "surface/ConollyObjects.h"
#include "surface/Construction.h"
#include "surface/SurfaceTestSupport.h"

namespace cavitas {
namespace {

using testing::TTestAtom;

// Atoms of type 7 (radius 1.6, expanded 3.0) on a regular lattice of n^3 points.
std::vector<TTestAtom> Lattice(bool hexagonal, double spacing, int n) {
  std::vector<TTestAtom> atoms;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k) {
        if (!hexagonal) {
          atoms.push_back({i * spacing, j * spacing, k * spacing, 7});
          continue;
        }
        // Close packing: triangular layers in ABAB order.
        const double shift = (k % 2) ? 0.5 : 0.0;
        atoms.push_back({(i + 0.5 * (j % 2) + shift) * spacing,
                         (j * std::sqrt(3.0) / 2 + ((k % 2) ? std::sqrt(3.0) / 6 : 0.0)) * spacing,
                         k * std::sqrt(2.0 / 3.0) * spacing, 7});
      }
  return atoms;
}

// n atoms of type 7 on a circle of radius rho in the plane z = 0: their
// expanded spheres (3.0) all pass through the two points of the axis at
// height sqrt(9 - rho^2).
std::vector<TTestAtom> Ring(int n, double rho) {
  std::vector<TTestAtom> atoms;
  for (int k = 0; k < n; ++k)
    atoms.push_back({rho * std::cos(2 * 3.141592653589793 * k / n), rho * std::sin(2 * 3.141592653589793 * k / n), 0, 7});
  return atoms;
}

struct TCase {
  std::string Name;
  std::vector<TTestAtom> Atoms;
};

std::vector<TCase> Cases() {
  const double b = std::sqrt(3.0);  // cube corners at distance 3 from the centre
  std::vector<TCase> cases = {
      {"square: three open cycles", {{2, 2, -1, 7}, {-2, 2, -1, 7}, {-2, -2, -1, 7}, {2, -2, -1, 7}}},
      {"pentagon: five spheres", Ring(5, 2.0)},
      {"hexagon: six spheres", Ring(6, 2.5)},
      {"cube corners: eight spheres", {{b, b, b, 7}, {-b, b, b, 7}, {b, -b, b, 7}, {b, b, -b, 7},
                                       {-b, -b, b, 7}, {-b, b, -b, 7}, {b, -b, -b, 7}, {-b, -b, -b, 7}}},
      {"coincident equal spheres", {{0, 0, 0, 0}, {3, 0, 0, 0}, {0, 0, 0, 0}, {0, 3, 0, 0}}},
  };
  for (const double spacing : {2.0, 2.5, 3.0, 3.5, 4.0}) {
    cases.push_back({"cubic lattice " + std::to_string(spacing), Lattice(false, spacing, 3)});
    cases.push_back({"hexagonal lattice " + std::to_string(spacing), Lattice(true, spacing, 3)});
  }
  return cases;
}

// The surface of all atoms, with the rounds of moves counted in the run's log.
struct TBuilt {
  TSurface Surface;
  int Rounds = 0;
  std::string Elements;
};

TBuilt Build(TProteinObject& p, const testing::TempDir& dir, int threads, bool reference = false) {
  p.SetLogFile(dir.File("run.log"));
  p.ClearLog();
  p.Context.Log = &p;
  ProgramLog().LogFileName = dir.File("program.lg");
  TBuilt b;
  std::vector<bool> include(static_cast<std::size_t>(p.AtomCount) + 1, true);
  include[0] = false;
  TRunStatus status = TRunStatus::Good;
  if (reference) {
    surface_detail::GetAtConollyReference(p, include, b.Surface.AtomElements, status, true, b.Surface.Elements);
  } else {
    GetAtConolly(p, include, b.Surface.AtomElements, status, true, b.Surface.Elements, nullptr, threads);
  }
  ProgramLog().LogFileName = "test.log";
  std::ifstream in(dir.File("run.log"));
  for (std::string line; std::getline(in, line);) b.Rounds += line.find(" atoms moved by ") != std::string::npos;
  b.Elements = testing::Serialise(b.Surface.Elements);
  return b;
}

TEST(Degeneracy, EveryPointIsResolvedAndTheSurfaceCloses) {
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    testing::TempDir dir;
    auto p = testing::MakeProtein(c.Atoms);
    const int n = p->AtomCount;
    TBuilt built;
    try {
      built = Build(*p, dir, 1);
    } catch (const FatalError& e) {
      FAIL() << "error " << ToInt(e.Code);
    }
    // Far from the guard: one round of moves, rarely two (none where the
    // lattice has no point of four spheres on its surface).
    EXPECT_LE(built.Rounds, 2);
    EXPECT_EQ(built.Rounds == 0, p->DisplacedAtoms.empty());
    EXPECT_LT(built.Rounds, surface_detail::kDisplacementRounds);
    const TSurface& s = built.Surface;
    EXPECT_EQ(testing::CheckSurfaceInvariants(*p, s, n), "") << built.Rounds << " rounds";
    // Every atom with a saddle has its contact patch, and the patches measure
    // what the free sample directions of its sphere measure.
    for (int a = 1; a <= n; ++a) {
      bool saddle = false;
      double area = 0;
      for (const TConollyObject* e : s.AtomElements[static_cast<std::size_t>(a)]) {
        saddle |= e->Kind == kSaddlePatch;
        if (e->Kind == kContactPatch && e->Atom->Number == a) area += e->Area(p->Context.Model);
      }
      const double R = p->Context.Model.RadiusTable[static_cast<std::size_t>(p->AtomAt(a)->RadiusType)];
      const double sample = 12.566372 * R * R / 1280;
      if (saddle) {
        EXPECT_GT(area, 0.0) << "atom " << a;
      }
      EXPECT_NEAR(area, testing::BruteForceContactArea(*p, a, n), 3 * sample) << "atom " << a;
    }
    // The moves were small and are undone whole.
    for (const auto& d : p->DisplacedAtoms) {
      const double dx = d.Atom->X - d.Original.X, dy = d.Atom->Y - d.Original.Y, dz = d.Atom->Z - d.Original.Z;
      EXPECT_LE(std::sqrt(dx * dx + dy * dy + dz * dz), 2 * surface_detail::kFirstDisplacement + 1e-5);
    }
    RestoreDisplacedAtoms(*p);
    EXPECT_TRUE(p->DisplacedAtoms.empty());
    for (int a = 1; a <= n; ++a) {
      const TTestAtom& t = c.Atoms[static_cast<std::size_t>(a - 1)];
      EXPECT_EQ(p->AtomAt(a)->X, static_cast<float>(t.X));
      EXPECT_EQ(p->AtomAt(a)->Y, static_cast<float>(t.Y));
      EXPECT_EQ(p->AtomAt(a)->Z, static_cast<float>(t.Z));
    }
  }
}

// The moves follow from the points found, and the points from the atoms: the
// same surface, bit for bit, whatever the number of threads and on the
// reference path.
TEST(Degeneracy, ResolutionIsTheSameForEveryThreadCountAndTheReference) {
  for (const TCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    testing::TempDir dir;
    auto p = testing::MakeProtein(c.Atoms);
    const TBuilt one = Build(*p, dir, 1);
    RestoreDisplacedAtoms(*p);
    const TBuilt three = Build(*p, dir, 3);
    RestoreDisplacedAtoms(*p);
    const TBuilt reference = Build(*p, dir, 1, true);
    EXPECT_EQ(three.Rounds, one.Rounds);
    EXPECT_TRUE(three.Elements == one.Elements);
    EXPECT_TRUE(reference.Elements == one.Elements);
  }
}

// A point the zero-length edge closes moves nothing.
TEST(Degeneracy, BridgedPointMovesNothing) {
  testing::TempDir dir;
  auto p = testing::MakeProtein({{-2, -2, -1, 7}, {-2, 1, -2, 7}, {0, 0, -3, 7}, {2, -2, -1, 7}});
  const TBuilt built = Build(*p, dir, 1);
  EXPECT_EQ(built.Rounds, 0);
  EXPECT_TRUE(p->DisplacedAtoms.empty());
}

}  // namespace
}  // namespace cavitas
