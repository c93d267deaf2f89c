#pragma once
// Disulphide bonds, CA chirality and backbone hydrogen bonds: the first three
// flag steps, and the bond test the bridge, turn and helix rules are built on.
#include <cstdint>
#include <vector>

#include "model/Protein.h"
#include "secstruct/ReadState.h"

namespace cavitas {

// A hydrogen bond "counts" below this energy (thousandths of kcal/mol, strict).
constexpr std::int32_t kHBondThreshold = -500;
// Energy of a contact too close to evaluate; also the floor of every energy.
constexpr std::int32_t kHBondFloor = -9900;
// CA atoms farther apart than this are never tested for a hydrogen bond (Å).
constexpr double kHBondCaCutoff = 8.0;

// Electrostatic energy of N-H(a) ... O=C(b); sets the status ContactTooClose on a too-close contact.
std::int32_t HBondEnergy(TProteinObject& protein, int a, int b);
// Keeps the two lowest energies of one residue's pair of slots (strict: the first of equals stays).
void UpdateBonds(TBond& slot1, TBond& slot2, std::int32_t partner, std::int32_t energy);
void CheckBonds(TProteinObject& protein, int a, int b);
// True when the N-H of a is bonded to the C=O of b.
bool TestBond(const TProteinObject& protein, int a, int b);
bool IsSSBondListed(const TProteinObject& protein, const TReadState& state, int a, int b);

// Residues j > i whose CA lies closer than kHBondCaCutoff to CA(i), ascending.
// TCaGrid finds them through a cell index; CloseResiduesReference compares all pairs.
class TCaGrid {
 public:
  explicit TCaGrid(const TProteinObject& protein);
  void CloseResidues(int i, std::vector<int>& out) const;

 private:
  int CellOf(const TCoord& c, int& x, int& y, int& z) const;
  const TProteinObject& protein_;
  double edge_ = kHBondCaCutoff;
  double minX_ = 0, minY_ = 0, minZ_ = 0;
  int nx_ = 1, ny_ = 1, nz_ = 1;
  std::vector<std::int32_t> cellStart_;  // residues of cell c: members_[cellStart_[c] .. cellStart_[c+1])
  std::vector<std::int32_t> members_;    // residue indices, ascending within a cell
};
void CloseResiduesReference(const TProteinObject& protein, int i, std::vector<int>& out);

// The all-pairs form of FlagHydrogenBonds, kept to prove the grid finds the same pairs.
void FlagHydrogenBondsReference(TProteinObject& protein);

}  // namespace cavitas
