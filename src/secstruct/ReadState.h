#pragma once
// Working state of one read that the secondary-structure flag steps share with
// the read driver. Owned by ReadProtein for the duration of one read.
#include <cstdint>
#include <string>
#include <vector>

#include "model/Geometry.h"

namespace cavitas {

struct TSSBondPair {
  std::string First = "      ";   // residue identity: number with insertion code, then chain
  std::string Second = "      ";
};

enum class TBridgeKind : std::uint8_t { kBridgeParallel = 0, kBridgeAntiparallel = 1, kBridgeNone = 2 };
using enum TBridgeKind;

// One ladder: a run of consecutive bridges of one kind. The residue with the
// lower index forms the first strand (I); JStart <= JEnd always.
struct TBridgeEntry {
  char SheetLetter = ' ';
  char LadderLetter = ' ';
  TBridgeKind BridgeKind = kBridgeNone;
  // The first ladder of this one's group: of its bulge-linked chain after
  // LinkLadders, of its sheet after LabelSheets.
  std::int32_t Group = 0;
  std::int32_t IStart = 0, IEnd = 0;  // IStart 0 marks a free entry
  std::int32_t JStart = 0, JEnd = 0;
  std::int32_t LinkFrom = 0;  // ladder this one continues across a bulge; 0 = chain head
  std::int32_t LinkTo = 0;    // ladder continuing this one; 0 = none
};

struct TReadState {
  // Pair k (1..SSBondCount) is SSBondPairs[k-1].
  std::vector<TSSBondPair> SSBondPairs;
  std::int32_t SSBondCount = 0;
  std::int32_t SSBondsIntra = 0;
  std::int32_t SSBondsInter = 0;

  // Ladder k (1..BridgeCount) is BridgeTable[k]; [0] unused. Used entries are
  // always 1..BridgeCount, so the table only grows as far as it is used.
  std::vector<TBridgeEntry> BridgeTable;
  std::int32_t BridgeCount = 0;
};

}  // namespace cavitas
