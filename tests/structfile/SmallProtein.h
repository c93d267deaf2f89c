#pragma once
// A small protein object built by hand: two residues (GLY, ALA with CB) in one
// coil element and one hetero element of two atoms, with neighbour entries.
#include <memory>

#include "model/Protein.h"

namespace cavitas::testing {

inline std::unique_ptr<TAtom> MakeAtom(int number, float x, float y, float z, std::uint8_t radiusType) {
  auto a = std::make_unique<TAtom>();
  a->X = x;
  a->Y = y;
  a->Z = z;
  a->Number = number;
  a->RadiusType = radiusType;
  a->Occupancy = 1.0f;
  a->BFactor = 12.5f;
  return a;
}

inline void FillSmallProtein(TProteinObject& p) {
  // Header lines as the PDB reader keeps them: padded to the full 120 characters.
  auto padded = [](std::string s) {
    s.resize(kMaxTextLength, ' ');
    return std::make_unique<TString>(s);
  };
  p.HeaderLines.push_back(padded("HEADER    TEST PROTEIN"));
  p.CompndLines.push_back(padded("COMPND    TWO RESIDUES"));
  p.Resolution = 2.0;
  int n = 0;
  const char* names[] = {"GLY ", "ALA "};
  const char* ids[] = {"   1 A", "   2 A"};
  for (int i = 1; i <= 2; ++i) {
    auto r = std::make_unique<TBACKBONE>(i);
    r->ResidueName = names[i - 1];
    r->ResidueId = ids[i - 1];
    r->FirstAtom = n + 1;
    r->SideChainStart = 0;  // residue 1 has no side chain
    // A plausible GLY-ALA backbone (N, CA, C, O in file order), peptide bond 1.33 Å.
    static const float kBackbone[2][4][3] = {
        {{0.0f, 0.0f, 0.0f}, {1.458f, 0.0f, 0.0f}, {2.009f, 1.420f, 0.0f}, {1.251f, 2.390f, 0.0f}},
        {{3.327f, 1.566f, 0.0f}, {3.950f, 2.885f, 0.0f}, {5.469f, 2.746f, 0.0f}, {6.058f, 1.667f, 0.0f}}};
    const std::uint8_t types[4] = {0, 3, 1, 2};
    for (int k = 0; k < 4; ++k) {
      ++n;
      const float* c = kBackbone[i - 1][k];
      p.PutAtom(n, MakeAtom(n, c[0], c[1], c[2], types[k]));
      p.AtomAt(n)->ResidueIndex = i;
    }
    r->AtomN = p.AtomAt(n - 3);
    r->AtomCA = p.AtomAt(n - 2);
    r->AtomC = p.AtomAt(n - 1);
    r->AtomO = p.AtomAt(n);
    if (i == 2) {
      ++n;
      p.PutAtom(n, MakeAtom(n, 3.500f, 3.700f, 1.200f, 12));
      p.AtomAt(n)->ResidueIndex = i;
      p.SideAtoms.push_back(p.AtomAt(n));
      p.SideAtomNames.push_back(" CB ");
      r->SideChainCount = 1;
    }
    p.Residues.push_back(std::move(r));
  }
  p.ResidueCount = 2;
  p.ProteinAtomCount = n;
  // Two hetero atoms of one group.
  for (int k = 1; k <= 2; ++k) {
    auto h = std::make_unique<THetAtom>();
    h->ResNumber = "  301";
    h->Chain = 'B';
    h->ResName = "SO4 ";
    h->AtomName = k == 1 ? " S  " : " O1 ";
    ++n;
    auto a = MakeAtom(n, 20.0f + k, 21.0f, 22.0f, 9);
    a->ResidueIndex = k;
    h->Atom = a.get();
    p.PutAtom(n, std::move(a));
    p.HetAtoms.push_back(std::move(h));
  }
  p.AtomCount = n;
  p.ElementCount = 1;
  p.HetElementCount = 1;
  TElementZeile& e1 = p.ElementRow(1);
  e1.ElementKind = TElementKind::Coil;
  e1.First = 1;
  e1.Last = 2;
  e1.ResetAtoms();
  // Atom 2 (CA of residue 1) has two entries; the others none.
  e1.ElementAtoms->emplace_back(1234, 3.47);
  e1.ElementAtoms->emplace_back(7, 6.2);
  p.AtomAt(2)->NeighbourStart = 0;
  p.AtomAt(2)->NeighbourCount = 2;
  TElementZeile& e2 = p.ElementRow(2);
  e2.ElementKind = TElementKind::HetGroup;
  e2.First = p.ProteinAtomCount + 1;
  e2.Last = p.AtomCount;
  e2.ResetAtoms();
}

}  // namespace cavitas::testing
