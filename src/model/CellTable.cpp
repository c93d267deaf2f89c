#include "model/CellTable.h"

#include <algorithm>
#include <bit>

#include "frame/Error.h"

namespace cavitas {

void TCellTable::Build(const std::vector<std::uint64_t>& keys, std::uint64_t cellCount, std::uint64_t denseLimit,
                       std::vector<std::int32_t>& itemOfSlot) {
  const std::size_t n = keys.size();
  if (n >= (std::size_t{1} << 31)) RaiseLimit("more than 2^31 items in a cell table");
  itemOfSlot.resize(n);
  dense_ = cellCount <= denseLimit;
  start_.clear();
  table_.clear();
  if (dense_) {
    // Counting sort: stable, so items ascend inside each cell.
    start_.assign(static_cast<std::size_t>(cellCount) + 1, 0);
    for (const std::uint64_t k : keys) ++start_[static_cast<std::size_t>(k) + 1];
    for (std::size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
    std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
    for (std::size_t i = 0; i < n; ++i) itemOfSlot[fill[static_cast<std::size_t>(keys[i])]++] = static_cast<std::int32_t>(i);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) itemOfSlot[i] = static_cast<std::int32_t>(i);
  std::sort(itemOfSlot.begin(), itemOfSlot.end(), [&](std::int32_t a, std::int32_t b) {
    const std::uint64_t ka = keys[static_cast<std::size_t>(a)], kb = keys[static_cast<std::size_t>(b)];
    return ka < kb || (ka == kb && a < b);
  });
  const std::size_t size = std::bit_ceil(std::max<std::size_t>(2 * n, 16));
  table_.assign(size, TSlotRange{});
  mask_ = size - 1;
  for (std::size_t s = 0; s < n;) {
    const std::uint64_t key = keys[static_cast<std::size_t>(itemOfSlot[s])];
    std::size_t e = s + 1;
    while (e < n && keys[static_cast<std::size_t>(itemOfSlot[e])] == key) ++e;
    std::size_t h = Hash(key);
    while (table_[h].End != 0) h = (h + 1) & mask_;
    table_[h] = {key, static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)};
    s = e;
  }
}

}  // namespace cavitas
