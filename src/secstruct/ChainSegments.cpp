#include "secstruct/ChainSegments.h"

namespace cavitas {

TChainSegments::TChainSegments(const TProteinObject& protein)
    : count_(protein.ResidueCount), segment_(static_cast<std::size_t>(protein.ResidueCount > 0 ? protein.ResidueCount + 1 : 1), 0) {
  if (count_ <= 0) return;
  std::int32_t below = 0;  // breaks before residue 1 count for every residue
  for (std::int32_t c : protein.ChainBreaks) {
    if (c < 1)
      ++below;
    else if (c < count_)
      ++segment_[static_cast<std::size_t>(c) + 1];
  }
  std::int32_t running = below;
  for (int k = 1; k <= count_; ++k) {
    running += segment_[static_cast<std::size_t>(k)];
    segment_[static_cast<std::size_t>(k)] = running;
  }
}

}  // namespace cavitas
