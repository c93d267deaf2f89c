// The sparse indexes: points by cell (coincidence and isolation while
// reading) and the cell table of the neighbour grid, against all pairs and
// against each other.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "model/CellTable.h"
#include "model/PointIndex.h"

namespace cavitas {
namespace {

TEST(TPointIndex, FindsPointsWithinReachAcrossCellsAndAtAnyMagnitude) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    TCoord stored, probe;
    bool found;  // within 0.001 Å
  };
  const Case cases[] = {
      {{0.9996f, 2, 3}, {1.0004f, 2, 3}, true},     // the two sides of a cell face
      {{-0.0003f, -0.0003f, 0}, {0.0003f, 0.0003f, 0}, true},  // across an edge at the origin
      {{1, 2, 3}, {1.0011f, 2, 3}, false},
      {{9999.999f, 0, 0}, {9999.9995f, 0, 0}, true},
      {{2e9f, 0, 0}, {2e9f, 0, 0}, true},            // beyond the cell range: border cells, still measured
      {{3e9f, 0, 0}, {-3e9f, 0, 0}, false},
      {{inf, 0, 0}, {1, 0, 0}, false},
      {{nan, 0, 0}, {nan, 0, 0}, false},             // NaN coincides with nothing, and breaks nothing
  };
  for (const Case& c : cases) {
    TPointIndex index(1.0);
    index.Insert(TCoord{50, 50, 50}, 7);
    index.Insert(c.stored, 1);
    EXPECT_EQ(index.FindWithin(c.probe, 1e-6, 0) == 1, c.found) << c.stored.X << " " << c.probe.X;
  }
}

TEST(TPointIndex, VisitsEveryPointWithinReach) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-60, 60);
  std::vector<TCoord> points(2000);
  TPointIndex index(20.0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = {u(rng), u(rng), u(rng) * 0.2f};
    index.Insert(points[i], static_cast<std::int32_t>(i));
  }
  for (std::size_t i = 0; i < points.size(); i += 37) {
    std::vector<bool> seen(points.size(), false);
    index.ForEachNear(points[i], 20.0, [&](std::int32_t id, const TCoord&) { return seen[static_cast<std::size_t>(id)] = true; });
    for (std::size_t j = 0; j < points.size(); ++j)
      if (Distance(points[i], points[j]) < 20.0) {
        EXPECT_TRUE(seen[j]) << i << " " << j;
      }
  }
}

TEST(TCellTable, SparseAndDenseGiveTheSameSlots) {
  std::mt19937 rng(9);
  for (const std::uint64_t cells : {std::uint64_t{50}, std::uint64_t{1} << 40}) {
    std::uniform_int_distribution<std::uint64_t> u(0, cells - 1);
    std::vector<std::uint64_t> keys(3000);
    for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = i % 5 == 0 && i > 0 ? keys[i - 1] : u(rng);
    TCellTable sparse, dense;
    std::vector<std::int32_t> sparseSlots, denseSlots;
    sparse.Build(keys, cells, 0, sparseSlots);
    ASSERT_FALSE(sparse.Dense());
    if (cells <= 50) {
      dense.Build(keys, cells, cells, denseSlots);
      ASSERT_TRUE(dense.Dense());
      EXPECT_EQ(sparseSlots, denseSlots);
    }
    // Every item lies in its cell's range, items ascending inside a cell.
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const auto [first, end] = sparse.Range(keys[i]);
      ASSERT_LT(first, end);
      for (std::uint32_t s = first; s < end; ++s) {
        EXPECT_EQ(keys[static_cast<std::size_t>(sparseSlots[s])], keys[i]);
        if (s > first) {
          EXPECT_LT(sparseSlots[s - 1], sparseSlots[s]);
        }
      }
      if (cells <= 50) {
        EXPECT_EQ(dense.Range(keys[i]), sparse.Range(keys[i]));
      }
    }
    EXPECT_EQ(sparse.Range(cells), (std::pair<std::uint32_t, std::uint32_t>{0, 0}));
  }
}

}  // namespace
}  // namespace cavitas
