#include "secstruct/HydrogenBonds.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "frame/LogFile.h"
#include "frame/Status.h"
#include "model/Tables.h"
#include "secstruct/ChainSegments.h"
#include "secstruct/SecStruct.h"

namespace cavitas {

namespace {

using Ext = long double;

const char* const kTooCloseText = " !!! CONTACT BETWEEN 2 RESIDUES TOO CLOSE";

// A disulphide bond is found below this sulphur-sulphur distance (Å).
constexpr double kSSBondDistance = 3.0;

// Atom codes of the backbone of a bonded cysteine (residue letter 'Z').
constexpr std::int16_t kBondedCysN = 224, kBondedCysC = 225, kBondedCysCA = 226, kBondedCysO = 227;

// The sulphur: the second side-chain atom of a cysteine that has one.
const TAtom* Sulphur(const TProteinObject& protein, const TBACKBONE& r) {
  if (r.OneLetter != 'C' || r.SideChainCount <= 1) return nullptr;
  const auto k = static_cast<std::size_t>(r.SideChainStart) + 2;
  return k < protein.SideAtoms.size() ? protein.SideAtoms[k] : nullptr;
}

void ReclassifyBondedCysteine(TProteinObject& protein, TBACKBONE& r) {
  if (r.AtomN) r.AtomN->AtomCode = kBondedCysN;
  if (r.AtomC) r.AtomC->AtomCode = kBondedCysC;
  if (r.AtomCA) r.AtomCA->AtomCode = kBondedCysCA;
  if (r.AtomO) r.AtomO->AtomCode = kBondedCysO;
  for (int k = r.SideChainStart + 1; k <= r.SideChainStart + r.SideChainCount; ++k) {
    const auto ks = static_cast<std::size_t>(k);
    if (ks >= protein.SideAtoms.size() || ks >= protein.SideAtomNames.size() || !protein.SideAtoms[ks]) continue;
    TAtom& atom = *protein.SideAtoms[ks];
    FindSideAtom(protein.Context, 'Z', protein.SideAtomNames[ks], atom.RadiusType, atom.AtomCode);
  }
}

// Appends a found pair.
void AppendSSBond(TReadState& state, const TBACKBONE& a, const TBACKBONE& b) {
  ++state.SSBondCount;
  const auto k = static_cast<std::size_t>(state.SSBondCount);
  if (state.SSBondPairs.size() < k) state.SSBondPairs.resize(k);
  state.SSBondPairs[k - 1] = TSSBondPair{a.ResidueId, b.ResidueId};
}

char NextSSBondLetter(char letter) { return letter == 'z' ? 'a' : static_cast<char>(letter + 1); }

template <class Visit>
void ScanHydrogenBondPairs(TProteinObject& protein, Visit&& closeResidues) {
  const TChainSegments segments(protein);
  for (auto& r : protein.Residues) r->NHBond1 = r->NHBond2 = r->COBond1 = r->COBond2 = TBond{};
  std::vector<int> close;
  for (int i = 1; i <= protein.ResidueCount; ++i) {
    if (!segments.NoChainBreak(i, i)) continue;
    protein.Context.Progress.SetPosition(i);
    closeResidues(i, close);
    for (int j : close) {
      if (!segments.NoChainBreak(j, j)) continue;
      CheckBonds(protein, i, j);
      // Direct neighbours: only N-H(i) -> O=C(i+1); the reverse is a covalent neighbour.
      if (j != i + 1) CheckBonds(protein, j, i);
    }
  }
}

}  // namespace

std::int32_t HBondEnergy(TProteinObject& protein, int a, int b) {
  const TBACKBONE& donor = protein.Residue(a);
  // Proline has no amide hydrogen.
  if (donor.OneLetter == 'P') return 0;
  const TBACKBONE& acceptor = protein.Residue(b);
  const double dHO = Distance(donor.HPos, *acceptor.AtomO);
  const double dHC = Distance(donor.HPos, *acceptor.AtomC);
  const double dNC = Distance(*donor.AtomN, *acceptor.AtomC);
  const double dNO = Distance(*donor.AtomN, *acceptor.AtomO);
  Ext energy = kHBondFloor;
  if (dHO >= 0.5 && dHC >= 0.5 && dNC >= 0.5 && dNO >= 0.5) {
    constexpr Ext q = -27888.0L;
    // Rounded to nearest, halves to even (the default rounding mode).
    energy = std::nearbyint(q / dHO - q / dHC + q / dNC - q / dNO);
  }
  if (energy <= kHBondFloor) {
    if (protein.Status == TRunStatus::Good) {
      protein.Status = TRunStatus::ContactTooClose;
      protein.StatusText = kTooCloseText;
      protein.Context.Report(kTooCloseText);
    }
    return kHBondFloor;
  }
  // Below the floor is handled above; the largest positive value is bounded by q / 0.5.
  return static_cast<std::int32_t>(energy);
}

void UpdateBonds(TBond& slot1, TBond& slot2, std::int32_t partner, std::int32_t energy) {
  if (energy < slot1.Energy) {
    slot2 = slot1;
    slot1 = TBond{partner, energy};
  } else if (energy < slot2.Energy) {
    slot2 = TBond{partner, energy};
  }
}

void CheckBonds(TProteinObject& protein, int a, int b) {
  const std::int32_t e = HBondEnergy(protein, a, b);
  TBACKBONE& donor = protein.Residue(a);
  UpdateBonds(donor.NHBond1, donor.NHBond2, b, e);
  TBACKBONE& acceptor = protein.Residue(b);
  UpdateBonds(acceptor.COBond1, acceptor.COBond2, a, e);
}

bool TestBond(const TProteinObject& protein, int a, int b) {
  if (a < 1 || a > protein.ResidueCount) return false;
  const TBACKBONE& r = protein.Residue(a);
  return (r.NHBond1.Partner == b && r.NHBond1.Energy < kHBondThreshold) ||
         (r.NHBond2.Partner == b && r.NHBond2.Energy < kHBondThreshold);
}

bool IsSSBondListed(const TProteinObject& protein, const TReadState& state, int a, int b) {
  if (!NoChainBreak(protein, a, a) || !NoChainBreak(protein, b, b)) return false;
  const std::string& idA = protein.Residue(a).ResidueId;
  const std::string& idB = protein.Residue(b).ResidueId;
  const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(state.SSBondCount, 0)), state.SSBondPairs.size());
  for (std::size_t k = 0; k < count; ++k) {
    const TSSBondPair& pair = state.SSBondPairs[k];
    if ((idA == pair.First && idB == pair.Second) || (idA == pair.Second && idB == pair.First)) return true;
  }
  return false;
}

namespace {

// The listed disulphide pairs by residue identity, either way round: what
// IsSSBondListed finds by scanning the list (its chain-break tests of single
// residues always hold for residues of the structure).
class TListedBonds {
 public:
  explicit TListedBonds(const TReadState& state) {
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(state.SSBondCount, 0)),
                                             state.SSBondPairs.size());
    for (std::size_t k = 0; k < count; ++k) Add(state.SSBondPairs[k]);
  }
  void Add(const TSSBondPair& pair) {
    Insert(pair.First, pair.Second);
    Insert(pair.Second, pair.First);
  }
  bool Listed(const std::string& a, const std::string& b) const {
    const auto it = partners_.find(a);
    return it != partners_.end() && std::find(it->second.begin(), it->second.end(), b) != it->second.end();
  }
  const std::vector<std::string>* PartnersOf(const std::string& a) const {
    const auto it = partners_.find(a);
    return it == partners_.end() ? nullptr : &it->second;
  }

 private:
  void Insert(const std::string& a, const std::string& b) {
    std::vector<std::string>& list = partners_[a];
    if (std::find(list.begin(), list.end(), b) == list.end()) list.push_back(b);
  }
  std::unordered_map<std::string, std::vector<std::string>> partners_;
};

// Cell of a grid as wide as the bond distance: two sulphurs that bond lie in
// neighbouring cells.
std::int64_t CellKey(long long x, long long y, long long z) {
  return ((x & 0x1FFFFF) << 42) | ((y & 0x1FFFFF) << 21) | (z & 0x1FFFFF);
}
long long CellOf(float v) { return static_cast<long long>(std::floor(static_cast<double>(v) / kSSBondDistance)); }

}  // namespace

void FlagSSBonds(TProteinObject& protein, TReadState& state) {
  state.SSBondsIntra = 0;
  state.SSBondsInter = 0;
  const int n = protein.ResidueCount;
  TListedBonds listed(state);

  // Detection: each cysteine pairs with the first later cysteine (at least two
  // positions on) whose sulphur lies close enough, looked up in a grid.
  std::vector<int> cysteines;  // residues with a sulphur, ascending
  for (int k = 1; k <= n; ++k)
    if (Sulphur(protein, protein.Residue(k))) cysteines.push_back(k);
  std::unordered_map<std::int64_t, std::vector<std::size_t>> cells;
  for (std::size_t ic = 0; ic < cysteines.size(); ++ic) {
    const TAtom& s = *Sulphur(protein, protein.Residue(cysteines[ic]));
    cells[CellKey(CellOf(s.X), CellOf(s.Y), CellOf(s.Z))].push_back(ic);
  }
  for (std::size_t ia = 0; ia < cysteines.size(); ++ia) {
    const int a = cysteines[ia];
    if (a > n - 2) break;
    const TAtom* sa = Sulphur(protein, protein.Residue(a));
    const long long cx = CellOf(sa->X), cy = CellOf(sa->Y), cz = CellOf(sa->Z);
    std::size_t first = cysteines.size();
    for (long long dx = -1; dx <= 1; ++dx)
      for (long long dy = -1; dy <= 1; ++dy)
        for (long long dz = -1; dz <= 1; ++dz) {
          const auto cell = cells.find(CellKey(cx + dx, cy + dy, cz + dz));
          if (cell == cells.end()) continue;
          for (const std::size_t ij : cell->second) {
            if (ij <= ia || ij >= first || cysteines[ij] < a + 2) continue;
            if (Distance(*sa, *Sulphur(protein, protein.Residue(cysteines[ij]))) < kSSBondDistance) first = ij;
          }
        }
    if (first == cysteines.size()) continue;
    const int j = cysteines[first];
    if (!listed.Listed(protein.Residue(a).ResidueId, protein.Residue(j).ResidueId)) {
      AppendSSBond(state, protein.Residue(a), protein.Residue(j));
      listed.Add(state.SSBondPairs[static_cast<std::size_t>(state.SSBondCount) - 1]);
    }
  }

  if (state.SSBondCount <= 0) return;
  // Labelling: a bonded pair shares a lower-case letter; letters wrap from 'z'
  // to 'a'. For each cysteine, its listed partners two or more positions on,
  // in ascending order, that are still unlabelled.
  std::unordered_map<std::string, std::vector<int>> cysteinesOf;
  for (int k = 1; k <= n; ++k)
    if (protein.Residue(k).OneLetter == 'C') cysteinesOf[protein.Residue(k).ResidueId].push_back(k);
  char letter = '`';
  std::vector<int> partners;
  for (int a = 1; a <= n - 2; ++a) {
    if (protein.Residue(a).OneLetter != 'C') continue;
    const std::vector<std::string>* ids = listed.PartnersOf(protein.Residue(a).ResidueId);
    if (ids == nullptr) continue;
    partners.clear();
    for (const std::string& id : *ids) {
      const auto found = cysteinesOf.find(id);
      if (found == cysteinesOf.end()) continue;
      for (const int j : found->second)
        if (j >= a + 2) partners.push_back(j);
    }
    std::sort(partners.begin(), partners.end());
    partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
    for (const int j : partners) {
      if (protein.Residue(j).OneLetter != 'C') continue;
      letter = NextSSBondLetter(letter);
      TBACKBONE& ra = protein.Residue(a);
      TBACKBONE& rj = protein.Residue(j);
      ra.OneLetter = letter;
      rj.OneLetter = letter;
      ReclassifyBondedCysteine(protein, rj);
      ReclassifyBondedCysteine(protein, ra);
      if (NoChainBreak(protein, a, j))
        ++state.SSBondsIntra;
      else
        ++state.SSBondsInter;
    }
  }
}

void FlagChirality(TProteinObject& protein) {
  const TChainSegments segments(protein);
  const int n = protein.ResidueCount;
  for (int i = 2; i <= n - 2; ++i) {
    if (!segments.NoChainBreak(i - 1, i + 2)) continue;
    TBACKBONE& r = protein.Residue(i);
    r.CaDihedral = Dihedral(*protein.Residue(i - 1).AtomCA, *r.AtomCA, *protein.Residue(i + 1).AtomCA,
                            *protein.Residue(i + 2).AtomCA);
    r.Chirality = r.CaDihedral >= 0 ? '+' : '-';
  }
  for (int i = 3; i <= n - 2; ++i) {
    if (!segments.NoChainBreak(i - 2, i + 2)) continue;
    TBACKBONE& r = protein.Residue(i);
    const TAtom& ca = *r.AtomCA;
    const Ext k = CosAngle(ca, *protein.Residue(i - 2).AtomCA, *protein.Residue(i + 2).AtomCA, ca);
    // A cosine rounded just past +-1 must not produce the root of a negative number.
    const Ext sine = std::sqrt(std::max<Ext>(0, 1 - k * k));
    r.BendAngle = static_cast<double>(Ext(Angle2(static_cast<double>(sine), static_cast<double>(k))) * kDegreesPerRadian);
  }
}

TCaGrid::TCaGrid(const TProteinObject& protein) : protein_(protein) {
  const int n = protein.ResidueCount;
  if (n <= 0) {
    cellStart_.assign(2, 0);
    return;
  }
  double maxX, maxY, maxZ;
  {
    const TAtom& c = *protein.Residue(1).AtomCA;
    minX_ = maxX = c.X;
    minY_ = maxY = c.Y;
    minZ_ = maxZ = c.Z;
  }
  for (int i = 2; i <= n; ++i) {
    const TAtom& c = *protein.Residue(i).AtomCA;
    minX_ = std::min<double>(minX_, c.X), maxX = std::max<double>(maxX, c.X);
    minY_ = std::min<double>(minY_, c.Y), maxY = std::max<double>(maxY, c.Y);
    minZ_ = std::min<double>(minZ_, c.Z), maxZ = std::max<double>(maxZ, c.Z);
  }
  // Any edge at or above the cut-off keeps close pairs in neighbouring cells;
  // the margin absorbs rounding of the cell coordinate. Sparse inputs get
  // coarser cells so that the grid stays proportional to the residue count.
  edge_ = kHBondCaCutoff + 0.5;
  const long long maxCells = std::max<long long>(64, 4LL * n);
  for (;;) {
    nx_ = static_cast<int>((maxX - minX_) / edge_) + 1;
    ny_ = static_cast<int>((maxY - minY_) / edge_) + 1;
    nz_ = static_cast<int>((maxZ - minZ_) / edge_) + 1;
    if (static_cast<long long>(nx_) * ny_ * nz_ <= maxCells) break;
    edge_ *= 2;
  }
  const std::size_t cells = static_cast<std::size_t>(nx_) * static_cast<std::size_t>(ny_) * static_cast<std::size_t>(nz_);
  cellStart_.assign(cells + 1, 0);
  std::vector<std::int32_t> cellOf(static_cast<std::size_t>(n) + 1);
  int x, y, z;
  for (int i = 1; i <= n; ++i) {
    const int c = CellOf(*protein.Residue(i).AtomCA, x, y, z);
    cellOf[static_cast<std::size_t>(i)] = c;
    ++cellStart_[static_cast<std::size_t>(c) + 1];
  }
  for (std::size_t c = 0; c < cells; ++c) cellStart_[c + 1] += cellStart_[c];
  members_.resize(static_cast<std::size_t>(n));
  std::vector<std::int32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
  for (int i = 1; i <= n; ++i) members_[static_cast<std::size_t>(fill[static_cast<std::size_t>(cellOf[static_cast<std::size_t>(i)])]++)] = i;
}

int TCaGrid::CellOf(const TCoord& c, int& x, int& y, int& z) const {
  x = std::clamp(static_cast<int>((c.X - minX_) / edge_), 0, nx_ - 1);
  y = std::clamp(static_cast<int>((c.Y - minY_) / edge_), 0, ny_ - 1);
  z = std::clamp(static_cast<int>((c.Z - minZ_) / edge_), 0, nz_ - 1);
  return (z * ny_ + y) * nx_ + x;
}

void TCaGrid::CloseResidues(int i, std::vector<int>& out) const {
  out.clear();
  if (i < 1 || i > protein_.ResidueCount) return;
  const TAtom& ca = *protein_.Residue(i).AtomCA;
  int x, y, z;
  CellOf(ca, x, y, z);
  for (int cz = std::max(z - 1, 0); cz <= std::min(z + 1, nz_ - 1); ++cz)
    for (int cy = std::max(y - 1, 0); cy <= std::min(y + 1, ny_ - 1); ++cy)
      for (int cx = std::max(x - 1, 0); cx <= std::min(x + 1, nx_ - 1); ++cx) {
        const auto c = static_cast<std::size_t>((cz * ny_ + cy) * nx_ + cx);
        for (auto m = cellStart_[c]; m < cellStart_[c + 1]; ++m) {
          const int j = members_[static_cast<std::size_t>(m)];
          if (j > i && Distance(ca, *protein_.Residue(j).AtomCA) < kHBondCaCutoff) out.push_back(j);
        }
      }
  // The all-pairs scan visits partners in index order; energies of equal value keep the first.
  std::sort(out.begin(), out.end());
}

void CloseResiduesReference(const TProteinObject& protein, int i, std::vector<int>& out) {
  out.clear();
  for (int j = i + 1; j <= protein.ResidueCount; ++j)
    if (Distance(*protein.Residue(i).AtomCA, *protein.Residue(j).AtomCA) < kHBondCaCutoff) out.push_back(j);
}

void FlagHydrogenBonds(TProteinObject& protein) {
  const TCaGrid grid(protein);
  ScanHydrogenBondPairs(protein, [&](int i, std::vector<int>& out) { grid.CloseResidues(i, out); });
}

void FlagHydrogenBondsReference(TProteinObject& protein) {
  ScanHydrogenBondPairs(protein, [&](int i, std::vector<int>& out) { CloseResiduesReference(protein, i, out); });
}

}  // namespace cavitas
