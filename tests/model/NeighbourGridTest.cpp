#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "ModelTestSupport.h"
#include "frame/Error.h"
#include "model/NeighbourGrid.h"
#include "model/Radii.h"

namespace cavitas {
namespace {

using testing::AppendAtom;

using Ext = long double;

// The two classes as plain values, for comparisons.
struct TAllLists {
  TNeighbourLists Near, Mid;
  bool operator==(const TAllLists&) const = default;
};

TAllLists Copy(const TProteinObject& p) { return {*p.NeighboursNear, *p.NeighboursMid}; }

// The build exactly as described, without any shortcut: cell lists of atom
// pointers, every candidate measured in extended precision.
TAllLists LiteralBuild(const TProteinObject& p) {
  const TNeighbourLimits lim = NeighbourLimits(TModelConstants{}.ProbeRadius);
  TAllLists out;
  const auto n = static_cast<std::size_t>(p.AtomCount);
  out.Near.resize(n);
  out.Mid.resize(n);
  auto add = [&](int a, int b, double d) {
    TNeighbourLists& l = d < lim.Near ? out.Near : out.Mid;
    l[static_cast<std::size_t>(a - 1)].emplace_back(b, d);
    l[static_cast<std::size_t>(b - 1)].emplace_back(a, d);
  };
  std::array<std::array<std::array<std::vector<const TAtom*>, 17>, 17>, 17> cells;
  // The box of the protein atoms (inverted without any).
  float mn[3] = {1000.0f, 1000.0f, 1000.0f}, mx[3] = {-1000.0f, -1000.0f, -1000.0f}, inv[3];
  for (int i = 1; i <= p.ProteinAtomCount; ++i) {
    const TAtom& a = *p.AtomAt(i);
    const float c[3] = {a.X, a.Y, a.Z};
    for (int k = 0; k < 3; ++k) {
      if (i == 1 || mn[k] > c[k]) mn[k] = c[k];
      if (i == 1 || mx[k] < c[k]) mx[k] = c[k];
    }
  }
  for (int k = 0; k < 3; ++k) {
    mn[k] = static_cast<float>(Ext(mn[k]) - 0.1L);
    mx[k] = static_cast<float>(Ext(mx[k]) + 0.1L);
    float edge = static_cast<float>((Ext(mx[k]) - mn[k]) * 0.0625L);
    if (edge < lim.MinCellEdge) edge = static_cast<float>(lim.MinCellEdge);
    inv[k] = static_cast<float>(1.0L / edge);
  }
  auto index = [&](float c, int k) { return static_cast<int>(std::trunc((Ext(c) - mn[k]) * Ext(inv[k]))) + 1; };
  for (int i = 1; i <= p.ProteinAtomCount; ++i) {
    const TAtom* a = p.AtomAt(i);
    cells[static_cast<std::size_t>(index(a->X, 0))][static_cast<std::size_t>(index(a->Y, 1))]
         [static_cast<std::size_t>(index(a->Z, 2))]
             .push_back(a);
  }
  for (int ix = 1; ix <= 16; ++ix)
    for (int iy = 1; iy <= 16; ++iy)
      for (int iz = 1; iz <= 16; ++iz)
        for (const TAtom* a : cells[ix][iy][iz])
          for (int nx = std::max(1, ix - 1); nx <= std::min(16, ix + 1); ++nx)
            for (int ny = std::max(1, iy - 1); ny <= std::min(16, iy + 1); ++ny)
              for (int nz = std::max(1, iz - 1); nz <= std::min(16, iz + 1); ++nz)
                for (const TAtom* b : cells[nx][ny][nz])
                  if (b->Number < a->Number) {
                    const double d = Distance(*a, *b);
                    if (d < lim.Mid) add(a->Number, b->Number, d);
                  }
  for (int j = p.ProteinAtomCount + 1; j <= p.AtomCount; ++j)
    for (int k = 1; k < j; ++k) {
      const double d = Distance(*p.AtomAt(j), *p.AtomAt(k));
      if (d < lim.Mid) add(j, k, d);
    }
  return out;
}

// All pairs, classified by distance; each per-atom list sorted by partner.
// A sweep along x skips pairs whose x difference alone exceeds the mid limit.
TAllLists BruteForce(const TProteinObject& p) {
  const TNeighbourLimits lim = NeighbourLimits(TModelConstants{}.ProbeRadius);
  TAllLists out;
  const auto n = static_cast<std::size_t>(p.AtomCount);
  out.Near.resize(n);
  out.Mid.resize(n);
  std::vector<int> byX(n);
  for (std::size_t i = 0; i < n; ++i) byX[i] = static_cast<int>(i) + 1;
  std::sort(byX.begin(), byX.end(), [&](int a, int b) { return p.AtomAt(a)->X < p.AtomAt(b)->X; });
  for (std::size_t u = 0; u < n; ++u)
    for (std::size_t v = u + 1; v < n; ++v) {
      const TAtom &a = *p.AtomAt(byX[u]), &b = *p.AtomAt(byX[v]);
      if (double(b.X) - double(a.X) > lim.Mid + 0.01) break;
      const double d = Distance(a, b);
      if (d >= lim.Mid) continue;
      const int i = std::min(a.Number, b.Number), j = std::max(a.Number, b.Number);
      TNeighbourLists& l = d < lim.Near ? out.Near : out.Mid;
      l[static_cast<std::size_t>(i - 1)].emplace_back(j, d);
      l[static_cast<std::size_t>(j - 1)].emplace_back(i, d);
    }
  return out;
}

TAllLists Sorted(TAllLists lists) {
  for (TNeighbourLists* l : {&lists.Near, &lists.Mid})
    for (auto& per : *l)
      std::sort(per.begin(), per.end(), [](const auto& a, const auto& b) { return a.Atom < b.Atom; });
  return lists;
}

// Every entry mirrored in the partner's list of the same class with the same distance; no self entries.
void ExpectSymmetric(const TAllLists& lists) {
  for (const TNeighbourLists* l : {&lists.Near, &lists.Mid})
    for (std::size_t i = 0; i < l->size(); ++i)
      for (const TNachbarStruktur& e : (*l)[i]) {
        const int self = static_cast<int>(i) + 1;
        ASSERT_NE(e.Atom, self);
        const auto& partner = (*l)[static_cast<std::size_t>(e.Atom - 1)];
        ASSERT_EQ(std::count_if(partner.begin(), partner.end(),
                                [&](const TNachbarStruktur& f) { return f.Atom == self && f.Distance == e.Distance; }),
                  1);
      }
}

std::size_t EntryCount(const TAllLists& lists) {
  std::size_t n = 0;
  for (const TNeighbourLists* l : {&lists.Near, &lists.Mid})
    for (const auto& per : *l) n += per.size();
  return n;
}

// A random protein: `protein` atoms in a box of the given extent, then `het` hetero atoms;
// a few duplicates so that zero distances occur.
void RandomProtein(TProteinObject& p, int protein, int het, float ex, float ey, float ez, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> ux(-ex / 2, ex / 2), uy(-ey / 2, ey / 2), uz(-ez / 2, ez / 2);
  for (int i = 0; i < protein + het; ++i) {
    if (i % 97 == 5) {
      const TAtom& prev = *p.AtomAt(p.AtomCount);
      AppendAtom(p, prev.X, prev.Y, prev.Z);
    } else {
      AppendAtom(p, ux(rng), uy(rng), uz(rng));
    }
    if (i + 1 == protein) p.ProteinAtomCount = p.AtomCount;
  }
}

void ExpectMatchesReferences(TProteinObject& p) {
  BuildNeighbourLists(p, 1);
  const TAllLists built = Copy(p);
  for (const int threads : {2, 3, 7}) {  // the scan in parts joins to the same lists
    BuildNeighbourLists(p, threads);
    EXPECT_TRUE(Copy(p) == built) << threads << " threads";
  }
  ASSERT_EQ(built.Near.size(), static_cast<std::size_t>(p.AtomCount));
  ASSERT_EQ(built.Mid.size(), built.Near.size());
  EXPECT_TRUE(built == LiteralBuild(p)) << "entry order differs from the grid scan";
  EXPECT_TRUE(Sorted(built) == Sorted(BruteForce(p))) << "pairs, classes or distances differ from all pairs";
  ExpectSymmetric(built);
}

TEST(NeighbourLimits, ValuesForTheProbe) {
  const TNeighbourLimits l = NeighbourLimits(TModelConstants{}.ProbeRadius);
  EXPECT_DOUBLE_EQ(l.Near, 3.81);
  EXPECT_DOUBLE_EQ(l.Mid, 7.62);
  EXPECT_DOUBLE_EQ(l.Far, 8.42);
  EXPECT_DOUBLE_EQ(l.MinCellEdge, 8.42);
  // The lists end at Mid: no two expanded spheres of any radius type touch beyond it.
  for (const int set : {kStouten, kProtor}) {
    TModelConstants model;
    model.SelectRadiusSet(set);
    for (int type = 0; type < 16; ++type)
      EXPECT_GT(l.Mid, 2 * (model.RadiusOfType(type) + model.ProbeRadius)) << set << " " << type;
  }
}

// The float coordinate just below and at-or-above a limit (distance measured along x).
float Below(double limit) {
  float f = static_cast<float>(limit);
  while (static_cast<double>(f) >= limit) f = std::nextafter(f, 0.0f);
  return f;
}
float AtOrAbove(double limit) {
  float f = static_cast<float>(limit);
  while (static_cast<double>(f) < limit) f = std::nextafter(f, 100.0f);
  return f;
}

TEST(BuildNeighbourLists, ClassesAtTheExactLimits) {
  const TNeighbourLimits l = NeighbourLimits(TModelConstants{}.ProbeRadius);
  struct Case {
    float X;
    int Class;  // 0 near, 1 mid, 2 none (at Mid and beyond no surface pair reaches)
  };
  const Case cases[] = {{0.0f, 0}, {Below(l.Near), 0}, {AtOrAbove(l.Near), 1}, {Below(l.Mid), 1}, {AtOrAbove(l.Mid), 2},
                        {Below(l.Far), 2}};
  for (const bool asHet : {false, true})
    for (const Case& c : cases) {
      TProteinObject p;
      AppendAtom(p, 0, 0, 0);
      AppendAtom(p, c.X, 0, 0);
      p.ProteinAtomCount = asHet ? 1 : 2;
      BuildNeighbourLists(p);
      const TNeighbourLists* lists[] = {p.NeighboursNear.get(), p.NeighboursMid.get()};
      for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(::testing::Message() << "x=" << c.X << " class " << k << (asHet ? " het" : ""));
        ASSERT_EQ(lists[k]->size(), 2u);
        EXPECT_EQ((*lists[k])[0].size(), k == c.Class ? 1u : 0u);
        EXPECT_EQ((*lists[k])[1].size(), k == c.Class ? 1u : 0u);
        if (k == c.Class) {
          EXPECT_EQ((*lists[k])[0][0].Atom, 2);
          EXPECT_EQ((*lists[k])[1][0].Atom, 1);
          EXPECT_EQ((*lists[k])[0][0].Distance, c.X);
        }
      }
    }
}

TEST(BuildNeighbourLists, RandomProteinMatchesScanAndAllPairs) {
  TProteinObject p;
  RandomProtein(p, 3000, 120, 40, 35, 30, 7);
  ExpectMatchesReferences(p);
}

TEST(BuildNeighbourLists, WideProteinUsesLongerCellsOnThatAxisOnly) {
  // 300 Å along x: the x edge becomes a sixteenth of the padded extent; y and z keep the minimum edge.
  TProteinObject p;
  RandomProtein(p, 2500, 30, 300, 20, 12, 11);
  ExpectMatchesReferences(p);
  TProteinObject wideEverywhere;
  RandomProtein(wideEverywhere, 4000, 40, 450, 420, 40, 13);
  ExpectMatchesReferences(wideEverywhere);
  // Long and dense: over a hundred atoms per cell, whose partners come from several sub-cells.
  TProteinObject denseRod;
  RandomProtein(denseRod, 2000, 10, 300, 8, 8, 23);
  ExpectMatchesReferences(denseRod);
}

// Atoms on a lattice whose coordinates fall on or next to cell and sub-cell
// boundaries: a cell index rounded the wrong way loses pairs at the edge of
// the searched range.
TEST(BuildNeighbourLists, LatticeOnCellBoundariesMatchesAllPairs) {
  for (const float step : {0.25f, 0.5f, 1.0f / 3.0f}) {
    TProteinObject p;
    for (int i = 0; i <= 800; ++i)  // a long rod: its cells are split along x
      AppendAtom(p, static_cast<float>(i) * step, static_cast<float>(i % 4) * step, static_cast<float>(i % 3) * step);
    p.ProteinAtomCount = p.AtomCount;
    ExpectMatchesReferences(p);
  }
}

// Parts far apart (a stray atom, a copy hundreds of Å away, a structure moved
// beyond 1000 Å): the cells between them are never stored, and the lists stay
// those of the literal scan over the 16 cells of the whole box.
TEST(BuildNeighbourLists, DistantPartsMatchTheLiteralScanAndAllPairs) {
  struct Case {
    const char* what;
    int atoms;
    float ex, ey, ez;  // extent of the main part
    float dx, dy, dz;  // where the second part lies
    int second;        // its atoms (1: a stray atom)
    float shift;       // all atoms moved by this along each axis
  };
  const Case cases[] = {
      {"stray 5000 A out", 800, 20, 18, 15, 5000, 5000, 5000, 1, 0},
      {"copy 300 A away", 800, 20, 18, 15, 300, -250, 280, 600, 0},
      {"moved by 3000 A", 800, 20, 18, 15, 0, 0, 0, 0, 3000},
      // One cell of the 16 holds more atoms than a mask of their ranks should sweep.
      {"sheet of 4200 atoms and a stray", 4200, 120, 120, 6, 5000, 5000, 5000, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TProteinObject p;
    RandomProtein(p, c.atoms, 0, c.ex, c.ey, c.ez, 17);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-8, 8);
    for (int i = 0; i < c.second; ++i) AppendAtom(p, c.dx + u(rng), c.dy + u(rng), c.dz + u(rng));
    p.ProteinAtomCount = p.AtomCount;
    AppendAtom(p, -c.dx, 1, 2);  // a hetero atom out on its own
    for (int i = 0; i < 40; ++i) AppendAtom(p, u(rng), u(rng), u(rng));
    for (int i = 1; i <= p.AtomCount; ++i) {
      TAtom& a = *p.Atoms[static_cast<std::size_t>(i)];
      a.X += c.shift;
      a.Y += c.shift;
      a.Z += c.shift;
    }
    ExpectMatchesReferences(p);
  }
}

TEST(BuildNeighbourLists, OnlyHeteroAtomsOrOneAtom) {
  TProteinObject hetOnly;
  RandomProtein(hetOnly, 0, 200, 15, 15, 15, 3);
  hetOnly.ProteinAtomCount = 0;
  ExpectMatchesReferences(hetOnly);
  EXPECT_GT(EntryCount(Copy(hetOnly)), 0u);

  TProteinObject single;
  AppendAtom(single, 5, 5, 5);
  single.ProteinAtomCount = 1;
  BuildNeighbourLists(single);
  EXPECT_EQ(EntryCount(Copy(single)), 0u);
  EXPECT_EQ(single.NeighboursNear->size(), 1u);

  TProteinObject empty;
  BuildNeighbourLists(empty);
  EXPECT_TRUE(empty.NeighboursNear->empty());
}

TEST(BuildNeighbourLists, SecondBuildReplacesTheLists) {
  TProteinObject p;
  RandomProtein(p, 400, 20, 20, 20, 20, 5);
  BuildNeighbourLists(p);
  const TAllLists first = Copy(p);
  BuildNeighbourLists(p);
  EXPECT_TRUE(Copy(p) == first);
}

TEST(BuildNeighbourLists, MissingAtomIsACapacityError) {
  TProteinObject p;
  AppendAtom(p, 0, 0, 0);
  p.AtomCount = 2;
  p.ProteinAtomCount = 2;
  EXPECT_THROW(BuildNeighbourLists(p), FatalError);
}

TEST(HetNeighbours, RemoveLeavesTheProteinListsAndReAddRestoresEntryForEntry) {
  TProteinObject p;
  RandomProtein(p, 1500, 150, 30, 30, 30, 17);
  BuildNeighbourLists(p);
  const TAllLists full = Copy(p);

  // The protein alone, as the grid builds it.
  TProteinObject proteinOnly;
  for (int i = 1; i <= p.ProteinAtomCount; ++i) {
    const TAtom& a = *p.AtomAt(i);
    AppendAtom(proteinOnly, a.X, a.Y, a.Z);
  }
  proteinOnly.ProteinAtomCount = proteinOnly.AtomCount;
  BuildNeighbourLists(proteinOnly);

  RemoveHetNeighbours(p);
  EXPECT_TRUE(Copy(p) == Copy(proteinOnly));
  AddHetNeighbours(p);
  EXPECT_TRUE(Copy(p) == full);
}

TEST(HetNeighbours, ChangedHeteroAtomsAsTheWaterSearchDoesIt) {
  TProteinObject p;
  RandomProtein(p, 800, 60, 25, 25, 25, 19);
  BuildNeighbourLists(p);
  RemoveHetNeighbours(p);
  // Drop the last 20 hetero atoms and move one, then add the hetero part again.
  for (int i = p.AtomCount; i > p.AtomCount - 20; --i) p.TakeAtom(i);
  p.AtomCount -= 20;
  p.AtomAt(p.AtomCount)->X += 1.5f;
  AddHetNeighbours(p);
  const TAllLists updated = Copy(p);
  EXPECT_TRUE(updated == LiteralBuild(p));
  ExpectSymmetric(updated);
}

TEST(Corpus3o21, NeighbourListsEqualAllPairsAndSurviveRemoveReAdd) {
  const std::string path = testing::CorpusFile("3o21.pdb");
  if (path.empty()) GTEST_SKIP() << "corpus not available";
  TProteinObject p;
  ASSERT_TRUE(testing::LoadCoordinates(path, p));
  ASSERT_GT(p.AtomCount, 12000);
  ASSERT_GT(p.AtomCount, p.ProteinAtomCount);
  ExpectMatchesReferences(p);
  const TAllLists full = Copy(p);
  RemoveHetNeighbours(p);
  AddHetNeighbours(p);
  EXPECT_TRUE(Copy(p) == full);
}

}  // namespace
}  // namespace cavitas
