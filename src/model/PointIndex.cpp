#include "model/PointIndex.h"

#include <cmath>

namespace cavitas {

TPointIndex::TPointIndex(double edge) : inverse_(1.0 / edge) {}

std::int64_t TPointIndex::Cell(double v) const {
  const double c = std::floor(v * inverse_);
  // Written so that NaN takes the lower bound.
  if (!(c > static_cast<double>(-kCellRange))) return -kCellRange;
  if (c >= static_cast<double>(kCellRange)) return kCellRange;
  return static_cast<std::int64_t>(c);
}

void TPointIndex::Insert(const TCoord& point, std::int32_t id) {
  const auto e = static_cast<std::int32_t>(entries_.size());
  auto [it, fresh] = head_.try_emplace(Key(Cell(point.X), Cell(point.Y), Cell(point.Z)), e);
  entries_.push_back({point, id, fresh ? -1 : it->second});
  it->second = e;
}

std::int32_t TPointIndex::FindWithin(const TCoord& p, double d2, std::int32_t none) const {
  std::int32_t found = none;
  ForEachNear(p, std::sqrt(d2), [&](std::int32_t id, const TCoord& q) {
    if (!(Distance2(p, q) < d2)) return true;  // NaN coincides with nothing
    found = id;
    return false;
  });
  return found;
}

}  // namespace cavitas
