#pragma once
// Constant-time form of NoChainBreak for the residue-window loops of the flag
// steps, which ask it for nearly every residue (the protein's own NoChainBreak
// walks all breaks on each call).
#include <cstdint>
#include <vector>

#include "model/Protein.h"

namespace cavitas {

class TChainSegments {
 public:
  explicit TChainSegments(const TProteinObject& protein);
  // Same answer as NoChainBreak(protein, a, b) for the breaks at construction time.
  bool NoChainBreak(int a, int b) const {
    return a >= 1 && a <= b && b <= count_ && segment_[static_cast<std::size_t>(a)] == segment_[static_cast<std::size_t>(b)];
  }

 private:
  int count_ = 0;
  // segment_[k]: number of break entries c with c < k. No break lies in a..b-1
  // exactly when both ends have the same count.
  std::vector<std::int32_t> segment_;
};

}  // namespace cavitas
