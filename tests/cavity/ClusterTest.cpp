#include "cavity/Cluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "cavity/ConstructedSurface.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"

namespace cavitas {
namespace {

using testing::BuildChain;
using testing::ConstructedSurface;

// Routes the program log into a fresh file for one test.
class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLog_ = ProgramLog().LogFileName;
    ProgramLog().LogFileName = dir_.File("program.lg");
  }
  void TearDown() override { ProgramLog().LogFileName = savedLog_; }

  std::vector<std::string> ProgramLogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(testing::ReadProgramLog(dir_.File("program.lg")));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  testing::TempDir dir_;
  std::string savedLog_;
  TRunContext run_;  // the start-up model
};

std::vector<const TConollyObject*> Ptrs(const THoleList& hole) {
  std::vector<const TConollyObject*> v;
  for (const auto& e : hole) v.push_back(e.get());
  return v;
}

bool Lists(const TAtomElementLists& lists, const TAtom* atom, const TConollyObject* e) {
  const auto& l = lists[static_cast<std::size_t>(atom->Number)];
  return std::find(l.begin(), l.end(), e) != l.end();
}

TEST_F(ClusterTest, ClusterHoles_EmptySurfaceHasNoHolesAndOnePart) {
  TAtomElementLists atomElements;
  TElementList elements;
  THoleTable holes(3);
  std::int32_t parts = 0;
  EXPECT_EQ(ClusterHoles(run_, atomElements, elements, true, holes, parts), 0);
  EXPECT_TRUE(holes.empty());
  EXPECT_EQ(parts, 1);
}

TEST_F(ClusterTest, ClusterHoles_SingleChainIsTheOuterSurface) {
  ConstructedSurface s;
  BuildChain(s, 4, 0, 0, 3.5f);
  const std::size_t before = s.Elements.size();
  THoleTable holes;
  std::int32_t parts = 0;
  EXPECT_EQ(ClusterHoles(run_, s.AtomElements, s.Elements, true, holes, parts), 0);
  EXPECT_EQ(parts, 1);
  EXPECT_EQ(s.Elements.size(), before);
  EXPECT_TRUE(ProgramLogLines().empty());
}

// Two chains 20 Å apart: the gap between their closest atoms (20 - 2 * 1.7)
// equals the clearance of either surface from the other's closest atom.
TEST_F(ClusterTest, ClusterHoles_SecondChainJoined) {
  ConstructedSurface s;
  BuildChain(s, 4, 0, 0, 3.5f);
  BuildChain(s, 3, 0, 20, 3.5f);
  const std::size_t before = s.Elements.size();
  THoleTable holes;
  std::int32_t parts = 0;
  EXPECT_EQ(ClusterHoles(run_, s.AtomElements, s.Elements, true, holes, parts), 0);
  EXPECT_EQ(parts, 2);
  EXPECT_EQ(s.Elements.size(), before);

  const auto lines = ProgramLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Connolly-Clustern ergibt mehrere getrennte Elemente :");
  std::istringstream fields(lines[1]);
  int k = 0;
  double h = 0, clearance = 0;
  fields >> k >> h >> clearance;
  EXPECT_EQ(k, 2);
  EXPECT_NEAR(h, 20 - 2 * 1.7, 1e-9);
  EXPECT_NEAR(clearance, 20 - 2 * 1.7, 1e-6);
}

TEST_F(ClusterTest, ClusterHoles_SecondChainWithoutJoinBecomesAHole) {
  ConstructedSurface s;
  BuildChain(s, 4, 0, 0, 3.5f);
  const auto second = BuildChain(s, 3, 0, 20, 3.5f);
  THoleTable holes;
  std::int32_t parts = 0;
  ASSERT_EQ(ClusterHoles(run_, s.AtomElements, s.Elements, false, holes, parts), 1);
  EXPECT_EQ(parts, 2);
  // Contacts in clustering order, then each saddle with the contact of its first atom.
  const std::vector<const TConollyObject*> expected{second.Contacts[0], second.Contacts[1], second.Contacts[2],
                                                    second.Saddles[0], second.Saddles[1]};
  EXPECT_EQ(Ptrs(holes[0]), expected);
  EXPECT_EQ(s.Elements.size(), 7u);
  for (const TAtom* a : second.Atoms) EXPECT_TRUE(s.AtomElements[static_cast<std::size_t>(a->Number)].empty());
}

// Atoms 2 and 3 each have a second patch lining a small cavity, bounded by one
// arc of their probe circle that ends at atom 4, with a concave element at each end.
struct CavityCase {
  ConstructedSurface S;
  testing::Chain Outer;
  TConollyObject1 *Inner2 = nullptr, *Inner3 = nullptr;
  TConollyObject2* Arc = nullptr;
  TConollyObject3 *AtStart = nullptr, *AtEnd = nullptr;

  CavityCase() {
    Outer = BuildChain(S, 4, 0, 0, 3.5f);
    TAtom* a2 = Outer.Atoms[1];
    TAtom* a3 = Outer.Atoms[2];
    TAtom* a4 = Outer.Atoms[3];
    Inner2 = S.Contact(a2, {0, 0, 1});
    Inner3 = S.Contact(a3, {0, 0, 1});
    Arc = S.Saddle(a2, a3, 1.0, a4, a4, 2.0);
    ConstructedSurface::Edge(Inner2, Arc);
    ConstructedSurface::Edge(Inner3, Arc);
    TCoord start, end;
    Arc->ArcEnds(start, end);
    AtStart = S.Concave(a2, a3, a4, start);
    AtEnd = S.Concave(a2, a3, a4, end);
  }
};

TEST_F(ClusterTest, ClusterHoles_SplitAtomPatchLinesACavity) {
  CavityCase c;
  THoleTable holes;
  std::int32_t parts = 0;
  ASSERT_EQ(ClusterHoles(run_, c.S.AtomElements, c.S.Elements, true, holes, parts), 1);
  EXPECT_EQ(parts, 1);
  const std::vector<const TConollyObject*> expected{c.Inner2, c.Inner3, c.Arc, c.AtStart, c.AtEnd};
  EXPECT_EQ(Ptrs(holes[0]), expected);
  // Only the outer chain is left, in its order, and no per-atom list refers to a hole element.
  ASSERT_EQ(c.S.Elements.size(), 7u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(c.S.Elements[i].get(), c.Outer.Contacts[i]);
  for (const TConollyObject* e : expected)
    for (const TAtom* a : c.Outer.Atoms) EXPECT_FALSE(Lists(c.S.AtomElements, a, e));
  EXPECT_TRUE(Lists(c.S.AtomElements, c.Outer.Atoms[1], c.Outer.Contacts[1]));
  EXPECT_TRUE(ProgramLogLines().empty());
}

TEST_F(ClusterTest, CollectInnerElements_TakesEveryHoleElement) {
  CavityCase c;
  TElementList inner;
  inner.push_back(std::make_unique<TConollyObject1>(c.Outer.Atoms[0], TCoord{1, 0, 0}));  // replaced
  std::int32_t parts = 0;
  CollectInnerElements(run_, c.S.AtomElements, c.S.Elements, true, inner, parts);
  ASSERT_EQ(inner.size(), 5u);
  EXPECT_EQ(inner[0].get(), c.Inner2);
  EXPECT_EQ(inner[4].get(), c.AtEnd);
  EXPECT_EQ(c.S.Elements.size(), 7u);
}

TEST_F(ClusterTest, ClusterConolly_EqualSizesKeepTheOrderFound) {
  ConstructedSurface s;
  const auto a = BuildChain(s, 2, 0, 0, 3.5f);
  const auto b = BuildChain(s, 3, 0, 20, 3.5f);
  const auto c = BuildChain(s, 2, 0, 40, 3.5f);
  TClusterTable clusters;
  std::int32_t parts = 0;
  ClusterConolly(run_, s.AtomElements, s.Elements, false, clusters, parts);
  ASSERT_EQ(clusters.size(), 3u);
  EXPECT_EQ(clusters[0].front(), b.Contacts[0]);
  EXPECT_EQ(clusters[1].front(), a.Contacts[0]);
  EXPECT_EQ(clusters[2].front(), c.Contacts[0]);
  EXPECT_EQ(parts, 3);
}

TEST_F(ClusterTest, ClusterConolly_TwoPatchesOfOneAtomOnOneEdgeIsFatal) {
  ConstructedSurface s;
  TAtom* a = s.Atom(0, 0, 0);
  TAtom* b = s.Atom(3.5f, 0, 0);
  auto* saddle = s.Saddle(a, b);
  ConstructedSurface::Edge(s.Contact(a, {-1, 0, 0}), saddle);
  ConstructedSurface::Edge(s.Contact(b, {1, 0, 0}), saddle);
  ConstructedSurface::Edge(s.Contact(b, {0, 1, 0}), saddle);
  TClusterTable clusters;
  std::int32_t parts = 0;
  try {
    ClusterConolly(run_, s.AtomElements, s.Elements, true, clusters, parts);
    FAIL() << "no error 303";
  } catch (const FatalError& e) {
    EXPECT_EQ(ToInt(e.Code), 303);
  }
}

TEST_F(ClusterTest, ClusterConolly_MissingNeighbourPatchIsSkipped) {
  ConstructedSurface s;
  TAtom* a = s.Atom(0, 0, 0);
  TAtom* b = s.Atom(3.5f, 0, 0);
  TAtom* c = s.Atom(0, 3.5f, 0);
  ConstructedSurface::Edge(s.Contact(a, {-1, 0, 0}), s.Saddle(a, b));
  auto* ac = s.Saddle(a, c);
  ConstructedSurface::Edge(s.Contact(c, {0, 1, 0}), ac);  // a's patch does not list this edge
  TClusterTable clusters;
  std::int32_t parts = 0;
  ASSERT_NO_THROW(ClusterConolly(run_, s.AtomElements, s.Elements, false, clusters, parts));
  EXPECT_EQ(clusters.size(), 2u);
}

// More clusters than the old table of 800: each atom on its own is one.
TEST_F(ClusterTest, ClusterConolly_MoreThan800Clusters) {
  ConstructedSurface s;
  for (int i = 0; i < 801; ++i) s.Contact(s.Atom(static_cast<float>(10 * (i % 30)), static_cast<float>(10 * (i / 30)), 0));
  TClusterTable clusters;
  std::int32_t parts = 0;
  ClusterConolly(run_, s.AtomElements, s.Elements, true, clusters, parts);
  EXPECT_EQ(parts, 801);  // joined into one cluster
  ClusterConolly(run_, s.AtomElements, s.Elements, false, clusters, parts);
  EXPECT_EQ(clusters.size(), 801u);
}

void ExpectSameClustering(const TAtomElementLists& atomElements, const TElementList& elements, bool join) {
  TClusterTable fast, slow;
  std::int32_t fastParts = 0, slowParts = 0;
  TRunContext run_;
  ClusterConolly(run_, atomElements, elements, join, fast, fastParts);
  detail::ClusterConollyLinearScan(run_, atomElements, elements, join, slow, slowParts);
  EXPECT_EQ(fastParts, slowParts);
  ASSERT_EQ(fast.size(), slow.size());
  for (std::size_t k = 0; k < fast.size(); ++k) EXPECT_EQ(fast[k], slow[k]) << "cluster " << k + 1;
}

// Many atoms with split patches (the multi-contact path), cavities and chains,
// placed in shuffled order so that list positions and atom numbers disagree.
TEST_F(ClusterTest, ClusterConolly_IndexMatchesLinearScanOnConstructedSurfaces) {
  std::mt19937 rng(7);
  for (int round = 0; round < 5; ++round) {
    ConstructedSurface s;
    std::vector<CavityCase> unused;
    for (int c = 0; c < 6; ++c) {
      const int n = 2 + static_cast<int>(rng() % 5);
      auto chain = BuildChain(s, n, 0, static_cast<float>(20 * c), 3.5f);
      if (n >= 3 && rng() % 2) {
        auto* i1 = s.Contact(chain.Atoms[0], {0, 0, 1});
        auto* i2 = s.Contact(chain.Atoms[1], {0, 0, 1});
        auto* arc = s.Saddle(chain.Atoms[0], chain.Atoms[1], 1.0, chain.Atoms[2], chain.Atoms[2], 2.0);
        ConstructedSurface::Edge(i1, arc);
        ConstructedSurface::Edge(i2, arc);
      }
    }
    std::shuffle(s.Elements.begin(), s.Elements.end(), rng);
    ExpectSameClustering(s.AtomElements, s.Elements, true);
    ExpectSameClustering(s.AtomElements, s.Elements, false);
  }
}

TEST_F(ClusterTest, ClusterConolly_IndexMatchesLinearScanOnRealSurface) {
  for (const char* name : {"pept.pdb", "1ubq.pdb"}) {
    TProteinObject protein;
    ReadProtein(protein, testing::DataFile(name), dir_.File("read.log"), 0);
    ASSERT_NE(protein.Status, TRunStatus::Failed) << name;
    TAtomElementLists atomElements;
    TElementList elements;
    TRunStatus status = TRunStatus::Good;
    ComputeSurfaceWithHet(protein, atomElements, elements, status);
    ExpectSameClustering(atomElements, elements, true);
  }
}

TEST_F(ClusterTest, ClosestContact_IndexedMatchesPlainIncludingTies) {
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    ConstructedSurface s;
    TCluster first, second;
    // Coordinates on a coarse lattice make equal distances common; some atoms are shared.
    auto coord = [&] { return static_cast<float>(static_cast<int>(rng() % 21) - 10) * (round % 2 ? 0.5f : 4.0f); };
    const int n1 = 1 + static_cast<int>(rng() % 60), n2 = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < n1; ++i) first.push_back(s.Contact(s.Atom(coord(), coord(), coord())));
    for (int i = 0; i < n2; ++i) {
      TAtom* a = (rng() % 3 == 0) ? first[rng() % first.size()]->Atom : s.Atom(coord() + 30.0f * (round % 3), coord(), coord());
      second.push_back(s.Contact(a));
    }
    TAtom *p1, *q1, *p2, *q2;
    const long double d1 = ClosestContact(&first, &second, p1, q1);
    const long double d2 = detail::ClosestContactIndexed(run_.Model, first, second, p2, q2);
    EXPECT_EQ(d1, d2);
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(q1, q2);
  }
  TCluster none;
  TAtom *p, *q;
  EXPECT_EQ(ClosestContact(nullptr, &none, p, q), 1e9L);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(detail::ClosestContactIndexed(run_.Model, none, none, p, q), std::sqrt(1e9L));
  EXPECT_EQ(q, nullptr);
}

TEST_F(ClusterTest, ContactIndex_GrownPartByPartMatchesPlainScansOfTheJoinedList) {
  std::mt19937 rng(5);
  ConstructedSurface s;
  auto coord = [&] { return static_cast<float>(static_cast<int>(rng() % 41) - 20) * 0.5f; };
  TCluster joined;
  for (int i = 0; i < 3; ++i) joined.push_back(s.Contact(s.Atom(coord(), coord(), coord())));
  detail::ContactIndex index(run_.Model, joined);
  for (int part = 0; part < 120; ++part) {
    // Mostly single atoms (the detached ions of a crystal), now and then a larger piece.
    const int n = part % 17 == 0 ? 40 : 1 + static_cast<int>(rng() % 3);
    TCluster piece;
    for (int i = 0; i < n; ++i) piece.push_back(s.Contact(s.Atom(coord(), coord(), coord() + 0.25f * part)));
    index.Append(piece);
    joined.insert(joined.end(), piece.begin(), piece.end());
    ASSERT_EQ(index.Entries().size(), joined.size());
    // Merged like a binary counter: each tree at least as large as all later ones.
    EXPECT_LE(index.TreeCount(), static_cast<std::size_t>(std::log2(joined.size())) + 1);

    TCluster probe{s.Contact(s.Atom(coord(), coord(), coord())), s.Contact(joined[rng() % joined.size()]->Atom)};
    TAtom *p1, *q1, *p2, *q2;
    EXPECT_EQ(detail::ClosestContactIndexed(index, probe, p2, q2), ClosestContact(&joined, &probe, p1, q1));
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(q1, q2);
    const TAtom& at = *probe[0]->Atom;
    EXPECT_EQ(detail::MinClearanceIndexed(index, at), MinClearance(run_.Model, &joined, at));
  }
}

TEST_F(ClusterTest, MinClearance_PrunedMatchesPlainOnRealSurface) {
  TProteinObject protein;
  ReadProtein(protein, testing::DataFile("pept.pdb"), dir_.File("read.log"), 0);
  TAtomElementLists atomElements;
  TElementList elements;
  TRunStatus status = TRunStatus::Good;
  ComputeSurfaceWithHet(protein, atomElements, elements, status);
  TCluster all;
  for (const auto& e : elements) all.push_back(e.get());
  const detail::ContactIndex grid(run_.Model, all);
  for (int i = 1; i <= protein.AtomCount; i += 3) {
    const TAtom& atom = *protein.AtomAt(i);
    const double plain = MinClearance(run_.Model, &all, atom);
    EXPECT_EQ(detail::MinClearancePruned(run_.Model, all, atom), plain) << "atom " << i;
    EXPECT_EQ(detail::MinClearanceIndexed(grid, atom), plain) << "atom " << i;
  }
  // A point far outside the structure still finds the nearest patches.
  TAtom far = *protein.AtomAt(1);
  far.X += 60;
  EXPECT_EQ(detail::MinClearanceIndexed(grid, far), MinClearance(run_.Model, &all, far));
  EXPECT_EQ(MinClearance(run_.Model, nullptr, *protein.AtomAt(1)), 1000.0);
}

TEST_F(ClusterTest, ClusteredConollyArea_InnerElementsAreTheHolesOfTheSurface) {
  TProteinObject protein;
  ReadProtein(protein, testing::DataFile("1ubq.pdb"), dir_.File("read.log"), 0);
  TClusteredConollyArea area;
  const std::int32_t parts = area.Compute(protein, true, true);

  TAtomElementLists atomElements;
  TElementList elements;
  TRunStatus status = TRunStatus::Good;
  std::int32_t holeParts = 0;
  ComputeSurfaceWithHet(protein, atomElements, elements, status);
  const std::size_t total = elements.size();
  THoleTable holes;
  ClusterHoles(run_, atomElements, elements, true, holes, holeParts);
  std::size_t inHoles = 0;
  for (const auto& h : holes) inHoles += h.size();
  EXPECT_EQ(parts, holeParts);
  EXPECT_EQ(area.InnerElements.size(), inHoles);
  EXPECT_EQ(area.Elements.size() + area.InnerElements.size(), total);
  area.Clear();
  EXPECT_TRUE(area.Elements.empty());
  EXPECT_TRUE(area.InnerElements.empty());
}

TEST(ClusterFormatTest, GeneralFloat_FifteenSignificantDigits) {
  EXPECT_EQ(detail::GeneralFloat(16.6L), "16.6");
  EXPECT_EQ(detail::GeneralFloat(1000.0L), "1000");
  EXPECT_EQ(detail::GeneralFloat(-3.4L), "-3.4");
  EXPECT_EQ(detail::GeneralFloat(2.0L / 3.0L), "0.666666666666667");
  EXPECT_EQ(detail::GeneralFloat(1e-7L), "1E-7");
}

}  // namespace
}  // namespace cavitas
