#pragma once
// Near and mid neighbour lists of every atom: the pairs closer than Mid, which
// is beyond every pair cutoff of the surface (twice the probe plus twice the
// largest radius, 2.4 Å). Protein atoms are paired
// through a 16x16x16 cell grid; hetero atoms are compared with every
// lower-numbered atom directly so they can be removed and re-added cheaply.
#include "model/Protein.h"

namespace cavitas {

struct TNeighbourLimits {
  double Near;  // ProbeRadius + 2.4 + 0.01
  double Mid;   // 2 * Near
  double Far;   // Mid + 0.8: the reach the scan grid's cells are sized by
  double MinCellEdge;  // (2.41 + ProbeRadius + 0.4) * 2
};
// The limits for a probe of this radius (Å).
TNeighbourLimits NeighbourLimits(double probeRadius);

// threads: how many scan the protein atoms (0: the machine's cores for a large
// protein); the lists are the same for every count.
void BuildNeighbourLists(TProteinObject& protein, int threads = 0);
void AddHetNeighbours(TProteinObject& protein);
void RemoveHetNeighbours(TProteinObject& protein);

}  // namespace cavitas
