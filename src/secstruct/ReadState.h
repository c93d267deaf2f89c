#pragma once
// Working state of one read that the secondary-structure flag steps share with
// the read driver. Owned by ReadProtein for the duration of one read.
#include <cstdint>
#include <string>
#include <vector>

namespace cavitas {

struct TSSBondPair {
  std::string First = "      ";   // residue identity: number with insertion code, then chain
  std::string Second = "      ";
};

struct TReadState {
  std::vector<TSSBondPair> SSBondPairs;  // at most kMaxSSBonds
  std::int32_t SSBondCount = 0;
  std::int32_t SSBondsIntra = 0;
  std::int32_t SSBondsInter = 0;
};

}  // namespace cavitas
