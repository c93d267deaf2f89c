#pragma once
// The viewer files of a run (option p:PREFIX): PREFIX.pdb, the structure as a
// standard PDB file with each atom's volume in the B-factor column and one
// pseudo-atom residue CAV per cavity (probe centres that outline it), and
// PREFIX.pml and PREFIX.cxc, scripts for two molecular viewers that load it,
// show each cavity coloured by group and its lining residues as sticks.
#include <string>

#include "cavity/ContactObject.h"

namespace cavitas {

struct TViewerTexts {
  std::string Pdb, Pymol, Chimera;
};
// The three texts. pdbName is the name the scripts load (the PDB file's name
// without its directory: the scripts are run beside it).
TViewerTexts ViewerTexts(const TNewContactObject& run, const std::string& version, const std::string& pdbName);

// A serial in five columns: decimal up to 99999, then hybrid-36.
std::string Hybrid36(std::int32_t value);

// The chain that carries the cavity pseudo-atoms: the first of X, Y, Z, W, ...
// that no residue of the structure uses.
char CavityChain(const TStructureLabels& labels);

}  // namespace cavitas
