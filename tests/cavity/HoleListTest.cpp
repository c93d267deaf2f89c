#include "cavity/HoleList.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "cavity/ConstructedSurface.h"
#include "frame/Error.h"
#include "input/ReadProtein.h"
#include "model/Radii.h"
#include "structfile/StructureCards.h"

namespace cavitas {
namespace {

using Triangle = std::array<TAtom*, 3>;

// Atoms 1..8 are protein atoms, 9 and 10 water oxygens.
class HoleFactory {
 public:
  HoleFactory() {
    for (int i = 0; i < 10; ++i) atoms_.push_back(s_.Atom(static_cast<float>(i), 0, 0, i < 8 ? 10 : 305));
  }
  TAtom* A(int n) const { return atoms_[static_cast<std::size_t>(n - 1)]; }
  Triangle T(int a, int b, int c) const { return {A(a), A(b), A(c)}; }

  THoleList Hole(const std::vector<Triangle>& triangles, const std::vector<int>& contacts = {1}) const {
    THoleList hole;
    for (int n : contacts) hole.push_back(std::make_unique<TConollyObject1>(A(n), TCoord{1, 0, 0}));
    for (const Triangle& t : triangles) hole.push_back(std::make_unique<TConollyObject3>(t[0], TCoord{}, t[2], t[1]));
    return hole;
  }

 private:
  testing::ConstructedSurface s_;
  std::vector<TAtom*> atoms_;
};

struct Combined {
  TCombinedHoleTable Table;
  THoleDefinitions Defs;
};

Combined Combine(const THoleTable& with, const THoleTable& without) {
  Combined c;
  CombineHoles(with, static_cast<std::int32_t>(with.size()), without, static_cast<std::int32_t>(without.size()),
               c.Table, c.Defs);
  return c;
}

std::array<std::int32_t, 4> Counters(const THoleDefinitions& d) {
  return {d.HolesPartlyFilled, d.HolesNotFilled, d.PartlyFilledHolesHetRemoved, d.FilledHolesHetRemoved};
}

// The four groups step by step through the plain predicates: the reference of CombineHoles.
Combined CombineLiterally(const THoleTable& with, const THoleTable& without) {
  Combined c;
  const auto nH = static_cast<std::int32_t>(with.size()), nW = static_cast<std::int32_t>(without.size());
  std::vector<bool> used(static_cast<std::size_t>(nW) + 1, false);
  std::vector<const THoleList*> g1, g2;
  for (const auto& h : with) (ClassifyHole(h).HasHet ? g1 : g2).push_back(&h);
  for (auto* h : g1) c.Table.push_back(h);
  for (auto* h : g2) c.Table.push_back(h);
  for (auto* h : g2)
    if (const auto k = FindIdenticalHole(*h, without, nW); k > 0) used[static_cast<std::size_t>(k)] = true;
  std::int32_t g3 = 0, g4 = 0;
  auto take = [&](std::int32_t k) {
    if (used[static_cast<std::size_t>(k)]) return;
    c.Table.push_back(&without[static_cast<std::size_t>(k - 1)]);
    used[static_cast<std::size_t>(k)] = true;
    ++g3;
  };
  for (auto* h : g1) {
    if (ProteinTriangleCount(*h) == 0) continue;
    bool more = false;
    std::int32_t k = FindCoveringHole(*h, without, nW, more);
    if (k == 0) continue;
    while (more) {
      take(k);
      k = FindNextCoveringHole(*h, without, nW, k, more);
    }
    take(k);
  }
  for (std::int32_t j = 1; j <= nW; ++j)
    if (!used[static_cast<std::size_t>(j)]) {
      c.Table.push_back(&without[static_cast<std::size_t>(j - 1)]);
      ++g4;
    }
  c.Defs.HolesPartlyFilled = static_cast<std::int32_t>(g1.size());
  c.Defs.HolesNotFilled = static_cast<std::int32_t>(g2.size());
  c.Defs.PartlyFilledHolesHetRemoved = g3;
  c.Defs.FilledHolesHetRemoved = g4;
  (void)nH;
  return c;
}

TEST(HoleListTest, Predicates_TrianglesAreAtomSets) {
  HoleFactory f;
  const THoleList h = f.Hole({f.T(1, 2, 3)});
  const THoleList rotated = f.Hole({f.T(3, 1, 2)});
  const THoleList other = f.Hole({f.T(1, 2, 4)});
  const auto& c1 = static_cast<const TConollyObject3&>(*h[1]);
  EXPECT_TRUE(SameTriangle(c1, static_cast<const TConollyObject3&>(*rotated[1])));
  EXPECT_FALSE(SameTriangle(c1, static_cast<const TConollyObject3&>(*other[1])));
  EXPECT_TRUE(SameHole(h, rotated));
  EXPECT_FALSE(SameHole(h, other));
  EXPECT_FALSE(SameHole(h, f.Hole({f.T(1, 2, 3)}, {1, 2})));  // element counts differ
  // Only protein triangles must be covered; a hole without them is covered by anything.
  EXPECT_TRUE(CoversHole(f.Hole({f.T(1, 2, 3), f.T(1, 2, 9)}), f.Hole({f.T(3, 2, 1), f.T(4, 5, 6)})));
  EXPECT_FALSE(CoversHole(f.Hole({f.T(1, 2, 3), f.T(4, 5, 6)}), f.Hole({f.T(1, 2, 3)})));
  EXPECT_TRUE(CoversHole(f.Hole({f.T(1, 2, 9)}), f.Hole({})));
  EXPECT_EQ(ProteinTriangleCount(f.Hole({f.T(1, 2, 3), f.T(1, 2, 9), f.T(4, 5, 6)})), 2);
  const THoleClass mixed = ClassifyHole(f.Hole({}, {1, 9}));
  EXPECT_TRUE(mixed.HasProtein);
  EXPECT_TRUE(mixed.HasHet);
}

struct GroupCase {
  const char* Name;
  std::vector<std::pair<std::vector<std::array<int, 3>>, std::vector<int>>> With, Without;
  std::array<std::int32_t, 4> Counters;
  // Combined table: positive k is hole k with hetero atoms, negative -k hole k without.
  std::vector<int> Order;
};

TEST(HoleListTest, CombineHoles_FourGroups) {
  using V = std::vector<std::pair<std::vector<std::array<int, 3>>, std::vector<int>>>;
  const std::vector<GroupCase> cases{
      {"empty", V{}, V{}, {0, 0, 0, 0}, {}},
      {"identical, no hetero atoms", V{{{{1, 2, 3}, {2, 3, 4}}, {1, 2}}}, V{{{{3, 2, 1}, {2, 3, 4}}, {2, 1}}},
       {0, 1, 0, 0}, {1}},
      {"identical beside a filled hole", V{{{{1, 2, 3}}, {1}}, {{{4, 5, 6}}, {4, 9}}},
       V{{{{1, 2, 3}}, {1}}, {{{4, 5, 6}, {5, 6, 7}}, {4, 5}}}, {1, 1, 1, 0}, {2, 1, -2}},
      {"partly filled", V{{{{1, 2, 3}, {1, 2, 9}}, {1, 9}}}, V{{{{1, 2, 3}, {1, 2, 4}}, {1, 2}}}, {1, 0, 1, 0},
       {1, -1}},
      {"fully filled", V{}, V{{{{1, 2, 3}}, {1, 2, 3}}}, {0, 0, 0, 1}, {-1}},
      {"two partly filled holes covered by one", V{{{{1, 2, 3}}, {1, 9}}, {{{4, 5, 6}}, {4, 10}}},
       V{{{{1, 2, 3}, {4, 5, 6}}, {1, 4}}}, {2, 0, 1, 0}, {1, 2, -1}},
      {"one partly filled hole covered by two", V{{{{1, 2, 3}}, {9}}},
       V{{{{7, 8, 6}}, {7}}, {{{1, 2, 3}, {4, 5, 6}}, {1}}, {{{1, 2, 3}}, {2}}}, {1, 0, 2, 1}, {1, -2, -3, -1}},
      {"partly filled without protein triangles", V{{{{1, 9, 10}}, {9}}}, V{{{{1, 2, 3}}, {1}}}, {1, 0, 0, 1},
       {1, -1}},
  };
  for (const GroupCase& gc : cases) {
    HoleFactory f;
    auto build = [&](const V& v) {
      THoleTable t;
      for (const auto& [tris, contacts] : v) {
        std::vector<Triangle> ts;
        for (const auto& tr : tris) ts.push_back(f.T(tr[0], tr[1], tr[2]));
        t.push_back(f.Hole(ts, contacts));
      }
      return t;
    };
    const THoleTable with = build(gc.With), without = build(gc.Without);
    const Combined c = Combine(with, without);
    EXPECT_EQ(Counters(c.Defs), gc.Counters) << gc.Name;
    std::vector<const THoleList*> expected;
    for (int k : gc.Order) expected.push_back(k > 0 ? &with[static_cast<std::size_t>(k - 1)] : &without[static_cast<std::size_t>(-k - 1)]);
    EXPECT_EQ(c.Table, expected) << gc.Name;
  }
}

TEST(HoleListTest, CombineHoles_IndexesMatchThePlainPredicates) {
  std::mt19937 rng(3);
  for (int round = 0; round < 40; ++round) {
    HoleFactory f;
    auto randomHole = [&] {
      std::vector<Triangle> ts;
      const int n = static_cast<int>(rng() % 4);
      for (int i = 0; i < n; ++i)
        ts.push_back(f.T(1 + static_cast<int>(rng() % 10), 1 + static_cast<int>(rng() % 8), 1 + static_cast<int>(rng() % 8)));
      std::vector<int> contacts{1 + static_cast<int>(rng() % 10)};
      if (rng() % 2) contacts.push_back(1 + static_cast<int>(rng() % 8));
      return std::make_pair(ts, contacts);
    };
    THoleTable with, without;
    const int nH = static_cast<int>(rng() % 6), nW = static_cast<int>(rng() % 6);
    for (int i = 0; i < nH; ++i) {
      const auto [ts, cs] = randomHole();
      with.push_back(f.Hole(ts, cs));
      if (rng() % 3 == 0) without.push_back(f.Hole(ts, cs));  // the same hole seen without hetero atoms
    }
    for (int j = 0; j < nW; ++j) {
      const auto [ts, cs] = randomHole();
      without.push_back(f.Hole(ts, cs));
    }
    const Combined fast = Combine(with, without), literal = CombineLiterally(with, without);
    EXPECT_EQ(Counters(fast.Defs), Counters(literal.Defs)) << "round " << round;
    EXPECT_EQ(fast.Table, literal.Table) << "round " << round;
  }
}

// More holes than the old combined table of 800.
TEST(HoleListTest, CombineHoles_MoreThan800Holes) {
  HoleFactory f;
  THoleTable with, without;
  for (int i = 0; i < 500; ++i) with.push_back(f.Hole({f.T(1, 2, 3)}));
  for (int j = 0; j < 301; ++j) without.push_back(f.Hole({f.T(4, 5, 6)}, {1, 2}));
  TCombinedHoleTable table;
  THoleDefinitions defs;
  CombineHoles(with, 500, without, 301, table, defs);
  EXPECT_EQ(table.size(), 801u);
  EXPECT_EQ(defs.HolesNotFilled, 500);
  EXPECT_EQ(defs.FilledHolesHetRemoved, 301);
}

// ---------------------------------------------------------------- result file

// Standard bitwise CRC-32 register without the final inversion.
std::int32_t IndependentCrc(const std::vector<std::string>& lines) {
  std::uint32_t r = 0xFFFFFFFFu;
  for (const std::string& line : lines)
    for (unsigned char ch : line) {
      r ^= ch;
      for (int b = 0; b < 8; ++b) r = (r >> 1) ^ ((r & 1u) ? 0xEDB88320u : 0u);
    }
  return static_cast<std::int32_t>(r);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReadProtein(protein_, testing::DataFile("tiny.pdb"), dir_.File("run.log"), 0);
    ASSERT_NE(protein_.Status, TRunStatus::Failed);
    ASSERT_GE(protein_.ProteinAtomCount, 13);
    ASSERT_GT(protein_.AtomCount, protein_.ProteinAtomCount);
    protein_.RemarkLines.push_back(std::make_unique<TString>("REMARK   first remark"));
    protein_.RemarkLines.push_back(std::make_unique<TString>("REMARK   second remark"));
    protein_.AtomAt(5)->Volume = 12.5f;
    protein_.AtomAt(5)->ContactVolume = 3.75f;
    // Outer surface: atoms 1..10 and the first hetero atom.
    for (int i = 1; i <= 10; ++i) outer_.push_back(std::make_unique<TConollyObject1>(protein_.AtomAt(i), TCoord{1, 0, 0}));
    outer_.push_back(std::make_unique<TConollyObject1>(protein_.AtomAt(protein_.ProteinAtomCount + 1), TCoord{1, 0, 0}));
  }

  // One hole lined by atoms 12 (two patches) and 5, found with hetero atoms.
  void AddHole() {
    THoleList hole;
    hole.push_back(std::make_unique<TConollyObject1>(protein_.AtomAt(12), TCoord{1, 0, 0}));
    hole.push_back(std::make_unique<TConollyObject1>(protein_.AtomAt(5), TCoord{1, 0, 0}));
    hole.push_back(std::make_unique<TConollyObject1>(protein_.AtomAt(12), TCoord{0, 1, 0}));
    hole.push_back(std::make_unique<TConollyObject3>(protein_.AtomAt(5), TCoord{}, protein_.AtomAt(13), protein_.AtomAt(12)));
    with_.push_back(std::move(hole));
  }

  std::string Write(const std::string& name) {
    CombineHoles(with_, static_cast<std::int32_t>(with_.size()), without_, 0, table_, protein_.HoleDefinitions);
    WriteFullOutput(protein_, table_, outer_, dir_.File(name));
    return testing::ReadFile(dir_.File(name));
  }

  testing::TempDir dir_;
  TProteinObject protein_;
  TElementList outer_;
  THoleTable with_, without_;
  TCombinedHoleTable table_;
};

TEST_F(ResultFileTest, WriteFullOutput_Layout) {
  AddHole();
  const auto lines = Lines(Write("result.txt"));
  std::vector<std::string> head;
  for (const auto* list : {&protein_.HeaderLines, &protein_.CompndLines, &protein_.SourceLines, &protein_.AuthorLines})
    for (const auto& l : *list) head.push_back(l->Text);
  head.push_back("REMARK   first remark");
  head.push_back("REMARK   second remark");
  head.push_back(ResolutionCard(protein_));
  head.push_back(LengthCard(protein_));
  head.push_back("NRHOLE       1 (holes not filled)");  // prefix checked below
  head.push_back("HOLE NUMBER 1 5 12");
  ASSERT_GT(lines.size(), head.size());
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (head[i].rfind("NRHOLE", 0) == 0) {
      EXPECT_EQ(lines[i], HoleCountCard(protein_));
      EXPECT_EQ(lines[i].substr(0, 14), "NRHOLE       0");
      continue;
    }
    EXPECT_EQ(lines[i], head[i]) << "line " << i + 1;
  }

  // One line per atom, in atom order here, with the flag of the outer surface.
  const std::size_t first = head.size();
  const std::size_t atomLines = static_cast<std::size_t>(protein_.AtomCount);
  ASSERT_EQ(lines.size(), first + atomLines + 2);
  for (std::size_t k = 0; k < atomLines; ++k) {
    const std::string& l = lines[first + k];
    const bool het = l.rfind("HETATM", 0) == 0;
    ASSERT_TRUE(het || l.rfind("ATOM", 0) == 0) << l;
    const int n = std::stoi(het ? l.substr(6, 5) : l.substr(4, 7));
    EXPECT_EQ(n, static_cast<int>(k) + 1);
    const bool onOuter = n <= 10 || n == protein_.ProteinAtomCount + 1;
    EXPECT_EQ(l.substr(l.size() - 2), onOuter ? " 0" : " 1") << l;
    EXPECT_EQ(het, n > protein_.ProteinAtomCount);
  }
  EXPECT_EQ(lines[first + 4].substr(lines[first + 4].size() - 16), "  12.50   3.75 0");
  EXPECT_EQ(lines[lines.size() - 2], "END        ");

  // The checksum covers every line but the remarks and the checksum card itself.
  std::vector<std::string> summed;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    if (lines[i].rfind("REMARK", 0) != 0) summed.push_back(lines[i]);
  const std::int32_t crc = IndependentCrc(summed);
  EXPECT_EQ(protein_.CheckSum, crc);
  char card[32];
  std::snprintf(card, sizeof card, "CH-SUM%12d", crc);
  EXPECT_EQ(lines.back(), card);
}

TEST_F(ResultFileTest, WriteFullOutput_NoHoles) {
  const auto lines = Lines(Write("result.txt"));
  int holeLines = 0;
  bool nrhole = false;
  for (const auto& l : lines) {
    holeLines += l.rfind("HOLE NUMBER", 0) == 0;
    if (l.rfind("NRHOLE", 0) == 0) {
      nrhole = true;
      EXPECT_EQ(l, "NRHOLE       0 (holes partly filled)     0 (holes not filled)     0 (partly filled holes with "
                   "Hets removed)     0 (filled holes with Hets removed) ");
    }
  }
  EXPECT_TRUE(nrhole);
  EXPECT_EQ(holeLines, 0);
}

TEST_F(ResultFileTest, WriteFullOutput_TwoRunsAreByteIdentical) {
  AddHole();
  const std::string a = Write("a.txt");
  const std::string b = Write("b.txt");
  EXPECT_EQ(a, b);
}

TEST_F(ResultFileTest, WriteFullOutput_FailedRunWritesNothing) {
  protein_.Status = TRunStatus::Failed;
  protein_.StatusText = " !!! FAILED !!! ";
  protein_.Context.Log = &protein_;
  WriteFullOutput(protein_, table_, outer_, dir_.File("none.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none.txt")));
  EXPECT_NE(testing::ReadFile(dir_.File("run.log")).find(" !!! FAILED !!! "), std::string::npos);
}

TEST_F(ResultFileTest, WriteFullOutput_UnwritablePathIsAnIoError) {
  EXPECT_THROW(WriteFullOutput(protein_, table_, outer_, dir_.File("missing/dir/result.txt")), IoError);
}

}  // namespace
}  // namespace cavitas
