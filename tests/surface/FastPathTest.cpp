// The fast construction (burial screen in arrays, cover test of the blocked
// arcs, vectorised rows, inner-point search deciding in double) against the
// reference path: every element, bit for bit, on corpus structures and on
// synthetic clusters with exact symmetries (ties between arc ends and between
// the violations of the inner-point search) and near-degenerate blockers;
// and a run after another, which takes over the unchanged atoms.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>

#include "TestSupport.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/NeighbourGrid.h"
#include "model/Radii.h"
#include "surface/ConollyObjects.h"
#include "surface/Construction.h"
#include "surface/SurfaceTestSupport.h"

namespace cavitas {
namespace {

using testing::Serialise;

struct TOutcome {
  int Code = 0;  // exit code of a fatal stop, 0 when the run finished
  TRunStatus Status = TRunStatus::Good;
  std::string Elements;
  std::size_t Count = 0;
};

// threads 0: as a program run chooses.
TOutcome Run(TProteinObject& p, int last, bool reference, TSurfaceMemo* memo = nullptr, int threads = 0) {
  std::vector<bool> include(static_cast<std::size_t>(p.AtomCount) + 1, false);
  for (int n = 1; n <= last; ++n) include[static_cast<std::size_t>(n)] = true;
  TOutcome o;
  TAtomElementLists lists;
  TElementList elements;
  try {
    if (reference)
      surface_detail::GetAtConollyReference(p, include, lists, o.Status, true, elements);
    else
      GetAtConolly(p, include, lists, o.Status, true, elements, memo, threads);
  } catch (const FatalError& e) {
    o.Code = ToInt(e.Code);
  }
  o.Elements = Serialise(elements);
  o.Count = elements.size();
  return o;
}

// Compares both paths on both passes (the fast one carrying its memo from the
// first pass to the second, as a program run does); returns the element count
// of the fast path.
// of the fast path. The fast path runs on one thread and on three (the
// candidates of the atoms made out of order).
std::size_t ExpectSameSurfaces(TProteinObject& p, const std::string& what) {
  std::size_t count = 0;
  TSurfaceMemo memo[2];
  for (const int last : {p.AtomCount, p.ProteinAtomCount}) {
    const TOutcome ref = Run(p, last, true);
    for (const int threads : {1, 3}) {
      const TOutcome fast = Run(p, last, false, &memo[threads == 3], threads);
      const std::string how = what + ", " + std::to_string(threads) + " thread(s)";
      EXPECT_EQ(fast.Code, ref.Code) << how;
      EXPECT_EQ(fast.Status, ref.Status) << how;
      EXPECT_EQ(fast.Count, ref.Count) << how;
      EXPECT_TRUE(fast.Elements == ref.Elements) << how << ": element lists differ";
      if (threads == 1) count += fast.Count;
    }
  }
  return count;
}

class LogToTemp : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ProgramLog().LogFileName;
    ProgramLog().LogFileName = dir_.File("program.lg");
  }
  void TearDown() override { ProgramLog().LogFileName = saved_; }
  testing::TempDir dir_;
  std::string saved_;
};

class FastPathCorpus : public LogToTemp, public ::testing::WithParamInterface<const char*> {};

TEST_P(FastPathCorpus, SameElementsAsTheReference) {
  const std::string name = GetParam();
  const std::string path = testing::CorpusFile(name);
  if (path.empty() || !std::ifstream(path)) GTEST_SKIP() << name << " not available";
  TProteinObject p;
  ReadProtein(p, path, dir_.File("run.log"), 0);
  if (p.AtomCount == 0) GTEST_SKIP() << name << " has no atoms";
  EXPECT_GT(ExpectSameSurfaces(p, name), 0u);
}

std::vector<const char*> Names() {
  std::vector<const char*> names{"pept.pdb", "1ubq.pdb", "3al1.pdb"};
  if (std::getenv("CAVITAS_SURFACE_ALL") != nullptr)
    for (const char* n : {"1ejg.pdb", "1hpv.pdb", "2beg.pdb", "il2.pdb", "1lcd.pdb", "1a0q.pdb", "3o21.pdb"})
      names.push_back(n);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FastPathCorpus, ::testing::ValuesIn(Names()),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                           const std::string n = param.param;
                           return n.substr(0, n.find('.'));
                         });

using FastPath = LogToTemp;

// `count` atoms of types 0 and 3 in a cube of half-edge `half`, no two closer than 2.3 Å.
std::vector<testing::TTestAtom> Packing(std::size_t count, double half, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> coord(-half, half);
  std::vector<testing::TTestAtom> atoms;
  while (atoms.size() < count) {
    const testing::TTestAtom a{coord(rng), coord(rng), coord(rng), static_cast<int>(rng() % 2) * 3};
    bool clash = false;
    for (const auto& b : atoms) clash = clash || std::hypot(a.X - b.X, a.Y - b.Y, a.Z - b.Z) < 2.3;
    if (!clash) atoms.push_back(a);
  }
  return atoms;
}

// Random packings of protein-like density, with mixed radii.
TEST_F(FastPath, RandomClustersMatchTheReference) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> coord(-7.0, 7.0);
  const int types[] = {0, 1, 2, 3, 7, 9, 11};
  for (int cluster = 0; cluster < 6; ++cluster) {
    std::vector<testing::TTestAtom> atoms;
    while (atoms.size() < 90) {
      const testing::TTestAtom a{coord(rng), coord(rng), coord(rng), types[rng() % 7]};
      bool clash = false;
      for (const auto& b : atoms)
        clash = clash || std::hypot(a.X - b.X, a.Y - b.Y, a.Z - b.Z) < 2.2;
      if (!clash) atoms.push_back(a);
    }
    auto p = testing::MakeProtein(atoms, 70);
    ExpectSameSurfaces(*p, "cluster " + std::to_string(cluster));
  }
}

// Exact symmetries: arc ends of different blockers coincide, circles are
// covered with no margin at all, and probe positions touch four atoms.
TEST_F(FastPath, SymmetricArrangementsMatchTheReference) {
  std::vector<testing::TTestAtom> ring{{0, 0, 0, 0}, {0, 0, 3.2, 0}};
  for (int k = 0; k < 8; ++k) {
    const double a = k * std::numbers::pi / 4;
    ring.push_back({3.1 * std::cos(a), 3.1 * std::sin(a), 1.6, 0});
  }
  auto p = testing::MakeProtein(ring);
  ExpectSameSurfaces(*p, "ring");

  for (const double spacing : {2.8, 3.3, 3.9}) {
    std::vector<testing::TTestAtom> lattice;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 3; ++k) lattice.push_back({i * spacing, j * spacing, k * spacing, 0});
    auto q = testing::MakeProtein(lattice);
    ExpectSameSurfaces(*q, "lattice " + std::to_string(spacing));
  }
}

// Shells of equal neighbours around one atom, at distances that leave it
// free regions between them: the contact patch splits, and the inner-point
// search meets exact ties of its worst violation, of the active level and of
// the step bounds.
TEST_F(FastPath, SymmetricShellsMatchTheReference) {
  const double c = 1 / std::sqrt(3.0);
  const std::vector<std::array<double, 3>> octahedron{{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  std::vector<std::array<double, 3>> cube;
  for (const double x : {-c, c})
    for (const double y : {-c, c})
      for (const double z : {-c, c}) cube.push_back({x, y, z});
  const std::vector<std::array<double, 3>> tetrahedron{{c, c, c}, {c, -c, -c}, {-c, c, -c}, {-c, -c, c}};
  struct TShell {
    const char* Name;
    const std::vector<std::array<double, 3>>* Directions;
    double Radius;
  };
  for (const TShell& shell : {TShell{"octahedron", &octahedron, 3.8}, TShell{"octahedron", &octahedron, 4.6},
                              TShell{"cube", &cube, 3.3}, TShell{"cube", &cube, 4.2},
                              TShell{"tetrahedron", &tetrahedron, 2.6}, TShell{"tetrahedron", &tetrahedron, 3.5}}) {
    std::vector<testing::TTestAtom> atoms{{0, 0, 0, 0}};
    for (const auto& u : *shell.Directions) atoms.push_back({shell.Radius * u[0], shell.Radius * u[1], shell.Radius * u[2], 0});
    auto p = testing::MakeProtein(atoms);
    ExpectSameSurfaces(*p, std::string(shell.Name) + " " + std::to_string(shell.Radius));
  }
}

// Pairs at the neighbour cutoff (the sum of the expanded radii), stepped a
// few floats to either side, with a third atom touching both: the cutoff
// and the existence of the probe circle are decided by the long-double
// values there, on the fast path as on the reference.
TEST_F(FastPath, PairsAtTheCutoffMatchTheReference) {
  struct TPair {
    int TypeA, TypeB;
    double RadiusA, RadiusB;  // expanded radii
  };
  for (const TPair& pair : {TPair{0, 0, 3.05, 3.05}, TPair{0, 3, 3.05, 3.27}, TPair{2, 11, 2.8, 3.4}}) {
    const float cutoff = static_cast<float>(pair.RadiusA + pair.RadiusB);
    for (int step = -3; step <= 3; ++step) {
      float x = cutoff;
      for (int s = 0; s < std::abs(step); ++s) x = std::nextafter(x, step > 0 ? 1e9f : -1e9f);
      // Two more atoms near the neck, neither burying it.
      auto p = testing::MakeProtein(
          {{0, 0, 0, pair.TypeA}, {x, 0, 0, pair.TypeB}, {x / 2, 3.5, 0, 0}, {x / 2, -1.5, 3.2, 7}});
      const std::string what =
          "types " + std::to_string(pair.TypeA) + "/" + std::to_string(pair.TypeB) + " step " + std::to_string(step);
      ExpectSameSurfaces(*p, what);
      // Clearly inside the cutoff the neck is a free full circle; clearly beyond it there is none.
      TSurface s;
      TRunStatus status = TRunStatus::Good;
      ComputeSurfaceWithHet(*p, s, status);
      int necks = 0;
      for (const TConollyObject2* e : testing::ElementsOfKind<TConollyObject2>(s, kSaddlePatch))
        necks += e->Atom->Number == 1 && e->Atom2->Number == 2;
      if (step <= -2) {
        EXPECT_EQ(necks, 1) << what;
      } else if (step >= 2) {
        EXPECT_EQ(necks, 0) << what;
      }
    }
  }
}

// Blockers almost on the pair axis and circles that are nearly points: the
// rows the cover test must leave to the exact sweep.
TEST_F(FastPath, NearDegenerateBlockersMatchTheReference) {
  std::vector<testing::TTestAtom> atoms{{0, 0, 0, 0}, {3.0, 0, 0, 0}, {-2.9, 1e-4, 0, 0}, {1.5, 2.6, 0, 0},
                                        {1.5, -1.3, 2.25, 0}, {1.5, -1.3, -2.25, 0}, {6.05, 0, 0, 3}};
  auto p = testing::MakeProtein(atoms);
  ExpectSameSurfaces(*p, "near-axis");
  // Two atoms whose expanded spheres barely overlap: a probe circle of radius near 0.
  auto q = testing::MakeProtein({{0, 0, 0, 0}, {6.099, 0, 0, 0}, {3.05, 0.5, 0, 2}, {3.05, -0.4, 0.3, 2}});
  ExpectSameSurfaces(*q, "tiny circle");
}

// A fast run takes over from the run before it the atoms whose inputs are
// unchanged (the memo of the per-atom steps). Each pair of passes in either
// order, with no change between them (every atom recalled) and with changes
// the memo must notice, against the reference.
TEST_F(FastPath, RunAfterRunMatchesTheReference) {
  const std::vector<testing::TTestAtom> atoms = Packing(80, 6.0, 20261209);
  struct TChange {
    const char* Name;
    void (*Apply)(TProteinObject&);
  };
  const TChange changes[] = {
      {"nothing", [](TProteinObject&) {}},
      {"one float step of an atom", [](TProteinObject& p) { p.AtomAt(30)->X = std::nextafter(p.AtomAt(30)->X, 1e9f); }},
      {"an atom moved 0.2", [](TProteinObject& p) { p.AtomAt(12)->Y += 0.2f; }},
      {"a radius type", [](TProteinObject& p) { p.AtomAt(45)->RadiusType = 2; }},
      {"the probe radius", [](TProteinObject& p) { p.Context.Model.ProbeRadius = 1.3; }},
  };
  // The second run keeps a memo for a third (its recalled candidates copied,
  // on threads by the workers; its rebuilt patches kept again) or is the
  // last one (the first run's candidates moved over).
  for (const TChange& change : changes)
    for (const bool firstWithHet : {true, false})
      for (const bool secondWithHet : {true, false})
        for (const bool keepForNext : {true, false})
          for (const int threads : {1, 4}) {
            auto p = testing::MakeProtein(atoms, 60);
            const std::string what = std::string(change.Name) + (firstWithHet ? ", with" : ", without") +
                                     (secondWithHet ? " then with" : " then without") +
                                     (keepForNext ? ", kept, " : ", last, ") + std::to_string(threads) + " thread(s)";
            TSurfaceMemo memo;
            cavitas::Run(*p, firstWithHet ? p->AtomCount : p->ProteinAtomCount, false, &memo);
            change.Apply(*p);
            memo.KeepForNext = keepForNext;
            const int last = secondWithHet ? p->AtomCount : p->ProteinAtomCount;
            // The reference on atoms of its own, as they are now: a run that
            // goes wrong may move some (its open points) and hide its fault.
            std::vector<testing::TTestAtom> now;
            for (int n = 1; n <= p->AtomCount; ++n) {
              const TAtom& a = *p->AtomAt(n);
              now.push_back({a.X, a.Y, a.Z, a.RadiusType});
            }
            auto q = testing::MakeProtein(now, 60);
            BuildNeighbourLists(*q);  // as p's, before a change of the probe
            q->Context.Model.ProbeRadius = p->Context.Model.ProbeRadius;
            const TOutcome ref = cavitas::Run(*q, last, true);
            const TOutcome fast = cavitas::Run(*p, last, false, &memo, threads);
            EXPECT_GT(fast.Count, 0u) << what;
            EXPECT_EQ(fast.Status, ref.Status) << what;
            EXPECT_TRUE(fast.Elements == ref.Elements) << what << ": element lists differ";
            if (keepForNext) {  // a third run, from what the second one kept of what it took over
              memo.KeepForNext = false;
              const TOutcome third = cavitas::Run(*p, last, false, &memo, threads);
              EXPECT_TRUE(third.Elements == ref.Elements) << what << ", a third run: element lists differ";
            }
          }
}

// An atom whose pairs wrote to the log (coincident centres) is not taken
// over: the second run writes the same lines again.
TEST_F(FastPath, RunAfterRunRepeatsTheLogLinesOfItsPairs) {
  auto p = testing::MakeProtein({{0, 0, 0, 3}, {0, 0, 0, 0}, {3.5, 0, 0, 0}});
  auto identicalLines = [&] {
    std::ifstream in(dir_.File("program.lg"));
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(" identical") != std::string::npos;
    return n;
  };
  TSurfaceMemo memo;
  const TOutcome first = cavitas::Run(*p, p->AtomCount, false, &memo);
  ASSERT_EQ(first.Code, 0);
  const int once = identicalLines();
  EXPECT_GT(once, 0);
  const TOutcome second = cavitas::Run(*p, p->AtomCount, false, &memo);
  EXPECT_EQ(identicalLines(), 2 * once);
  EXPECT_TRUE(first.Elements == second.Elements);
}

// Several threads make the candidates out of order, yet the log lines of the
// pairs and a fatal error of an atom come where one thread puts them: coincident
// centres scattered through a packing, and an atom with a radius type outside
// the table half-way through it.
TEST_F(FastPath, ThreadsKeepTheLogLinesAndErrorsInAtomOrder) {
  std::vector<testing::TTestAtom> atoms = Packing(150, 8.0, 20261210);
  for (const std::size_t k : {5u, 60u, 61u, 149u})  // one sphere inside the other: no degenerate point
    atoms.push_back({atoms[k].X, atoms[k].Y, atoms[k].Z, 3 - atoms[k].RadiusType});
  auto log = [&] { return testing::ReadProgramLog(dir_.File("program.lg")); };
  for (const bool broken : {false, true}) {
    auto p = testing::MakeProtein(atoms, 120);
    if (broken) p->AtomAt(77)->RadiusType = 40;
    std::vector<TOutcome> outcomes;
    std::vector<std::string> logs;
    for (const int threads : {1, 2, 5}) {
      std::remove(dir_.File("program.lg").c_str());
      outcomes.push_back(cavitas::Run(*p, p->AtomCount, false, nullptr, threads));
      logs.push_back(log());
    }
    EXPECT_EQ(outcomes[0].Code != 0, broken) << outcomes[0].Code << "\n" << logs[0];
    if (!broken) {
      EXPECT_NE(logs[0].find(" identical"), std::string::npos);
    }
    for (std::size_t t = 1; t < outcomes.size(); ++t) {
      EXPECT_EQ(outcomes[t].Code, outcomes[0].Code) << t;
      EXPECT_EQ(outcomes[t].Count, outcomes[0].Count) << t;
      EXPECT_TRUE(outcomes[t].Elements == outcomes[0].Elements) << t;
      EXPECT_EQ(logs[t], logs[0]) << t;
    }
  }
}

// The kind of a pair's probe circle, decided in double, against the
// long-double circle: centre distances stepped float by float across the
// outer and the inner touching distance, and coincident or nearly coincident
// centres, along axes and an oblique direction.
TEST(PairCircleKind, AgreesWithTheProbeCircleAcrossTouchingDistances) {
  const double R0 = 1.65 + 1.4, R3 = 1.87 + 1.4;  // expanded radii of types 0 and 3
  const double c = 1 / std::sqrt(3.0);
  struct TCase {
    int TypeJ;
    double Distance;
    double Ux, Uy, Uz;
  };
  std::vector<TCase> cases;
  for (const auto& u : {std::array<double, 3>{1, 0, 0}, std::array<double, 3>{0, 0, -1}, std::array<double, 3>{c, -c, c}})
    for (const auto& [type, d] : {std::pair{3, R0 + R3}, std::pair{3, R3 - R0}, std::pair{0, 2 * R0}, std::pair{0, 0.0},
                                  std::pair{3, 0.0}, std::pair{0, 1e-6}, std::pair{3, 1e-6}, std::pair{3, 3.0}})
      cases.push_back({type, d, u[0], u[1], u[2]});
  const TModelConstants model;
  const surface_detail::TSurfaceRadii radii{model.ProbeRadius, model.RadiusTable};
  int ok = 0, none = 0, identical = 0;
  for (const TCase& t : cases) {
    TAtom i, j;
    i.X = 1.25f, i.Y = -2.5f, i.Z = 7.75f;
    i.RadiusType = 0;
    j.RadiusType = static_cast<std::uint8_t>(t.TypeJ);
    const float x = static_cast<float>(i.X + t.Distance * t.Ux), y = static_cast<float>(i.Y + t.Distance * t.Uy),
                z = static_cast<float>(i.Z + t.Distance * t.Uz);
    for (int step = -40; step <= 40; ++step) {
      // Step the coordinate that moves most along u, one float at a time.
      j.X = x, j.Y = y, j.Z = z;
      float& moved = std::fabs(t.Ux) >= std::fabs(t.Uz) ? j.X : j.Z;
      for (int s = 0; s < std::abs(step); ++s) moved = std::nextafter(moved, step > 0 ? 1e9f : -1e9f);
      surface_detail::TProbeCircle circle;
      const auto exact = surface_detail::PairProbeCircle(i, j, radii, circle);
      ASSERT_EQ(surface_detail::PairCircleKind(i, j, radii), exact)
          << "type " << t.TypeJ << " distance " << t.Distance << " step " << step;
      ok += exact == surface_detail::TCircleResult::Ok;
      none += exact == surface_detail::TCircleResult::NoCircle;
      identical += exact == surface_detail::TCircleResult::Identical;
    }
  }
  // Every kind occurs, and the sweeps cross both touching distances.
  EXPECT_GT(ok, 0);
  EXPECT_GT(none, 0);
  EXPECT_GT(identical, 0);
}

}  // namespace
}  // namespace cavitas
