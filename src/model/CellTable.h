#pragma once
// The occupied cells of a grid, each with the range of slots its items take
// when the items are sorted by cell (ascending item inside a cell). Cells are
// named by 64-bit keys. While the grid has not many more cells than items the
// table is a plain array over all cells; otherwise only the occupied cells are
// kept, in a hash table, so that memory and time follow the number of items
// and never the extent of the grid.
#include <cstdint>
#include <utility>
#include <vector>

namespace cavitas {

class TCellTable {
 public:
  // keys[i] is the cell of item i; each must be below cellCount. Fills
  // itemOfSlot with the items in slot order. denseLimit: the most cells a
  // plain array may have.
  void Build(const std::vector<std::uint64_t>& keys, std::uint64_t cellCount, std::uint64_t denseLimit,
             std::vector<std::int32_t>& itemOfSlot);

  // Slots [first, second) of the cell; empty for a cell without items.
  std::pair<std::uint32_t, std::uint32_t> Range(std::uint64_t key) const {
    if (dense_) {
      if (key + 1 >= start_.size()) return {0, 0};
      return {start_[key], start_[key + 1]};
    }
    for (std::size_t h = Hash(key);; h = (h + 1) & mask_) {
      const TSlotRange& e = table_[h];
      if (e.Key == key && e.End != 0) return {e.Begin, e.End};
      if (e.End == 0) return {0, 0};
    }
  }
  bool Dense() const { return dense_; }

 private:
  struct TSlotRange {
    std::uint64_t Key = 0;
    std::uint32_t Begin = 0, End = 0;  // End 0: an empty entry (an occupied cell ends past slot 0)
  };
  std::size_t Hash(std::uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }

  bool dense_ = true;
  std::vector<std::uint32_t> start_;  // dense: cell c holds slots start_[c] .. start_[c + 1] - 1
  std::vector<TSlotRange> table_;     // sparse: open addressing, linear probing
  std::size_t mask_ = 0;
};

}  // namespace cavitas
