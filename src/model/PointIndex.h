#pragma once
// Points by cube-shaped cell of a fixed edge, held sparsely: memory and time
// follow the number of points, never the extent they span. Used for the
// questions asked once per atom while reading (does an earlier atom lie at
// the same place, does any atom lie within 20 Å).
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "model/Geometry.h"

namespace cavitas {

class TPointIndex {
 public:
  explicit TPointIndex(double edge);

  void Insert(const TCoord& point, std::int32_t id);
  std::size_t Size() const { return entries_.size(); }

  // Calls visit(id, point) for every inserted point in the cells that the
  // cube of half-edge `reach` around p touches: a superset of the points
  // within `reach`, which the caller measures. visit returns false to stop.
  template <class Visit>
  void ForEachNear(const TCoord& p, double reach, Visit&& visit) const {
    const std::int64_t lo[3] = {Cell(p.X - reach), Cell(p.Y - reach), Cell(p.Z - reach)};
    const std::int64_t hi[3] = {Cell(p.X + reach), Cell(p.Y + reach), Cell(p.Z + reach)};
    for (std::int64_t x = lo[0]; x <= hi[0]; ++x)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y)
        for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
          const auto it = head_.find(Key(x, y, z));
          if (it == head_.end()) continue;
          for (std::int32_t e = it->second; e >= 0; e = entries_[static_cast<std::size_t>(e)].Next)
            if (!visit(entries_[static_cast<std::size_t>(e)].Id, entries_[static_cast<std::size_t>(e)].Point)) return;
        }
  }

  // The id of an inserted point whose squared distance to p is below d2 (the
  // first one met), or `none`.
  std::int32_t FindWithin(const TCoord& p, double d2, std::int32_t none = 0) const;

 private:
  // Cell coordinates are clamped so that any finite or infinite coordinate
  // (and NaN) maps to a valid key; points beyond the clamp share the border
  // cells, which stays correct because every candidate is measured.
  static constexpr std::int64_t kCellRange = (std::int64_t{1} << 20) - 1;
  std::int64_t Cell(double v) const;
  static std::uint64_t Key(std::int64_t x, std::int64_t y, std::int64_t z) {
    constexpr std::uint64_t mask = (std::uint64_t{1} << 21) - 1;
    return ((static_cast<std::uint64_t>(x + kCellRange) & mask) << 42) |
           ((static_cast<std::uint64_t>(y + kCellRange) & mask) << 21) | (static_cast<std::uint64_t>(z + kCellRange) & mask);
  }

  struct TEntry {
    TCoord Point;
    std::int32_t Id;
    std::int32_t Next;  // the entry inserted before it into the same cell, -1 at the end
  };
  double inverse_;
  std::unordered_map<std::uint64_t, std::int32_t> head_;
  std::vector<TEntry> entries_;
};

}  // namespace cavitas
