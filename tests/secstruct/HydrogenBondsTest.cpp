#include <gtest/gtest.h>

#include <random>

#include "SecStructTestSupport.h"
#include "model/Tables.h"
#include "secstruct/ChainSegments.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace cavitas {
namespace {

using testing::AppendResidue;
using testing::Coord;
using testing::LogCapture;

// Donor residue 1 and acceptor residue 2 with hand-placed N, H, C, O (far from
// everything else); the energy follows from the four distances alone.
std::unique_ptr<TProteinObject> DonorAcceptor(TCoord n, TCoord h, TCoord c, TCoord o, char donorLetter = 'A') {
  auto p = std::make_unique<TProteinObject>();
  AppendResidue(*p, n, Coord(-50, 0, 0), Coord(-51, 0, 0), Coord(-52, 0, 0), donorLetter);
  AppendResidue(*p, Coord(50, 0, 0), Coord(51, 0, 0), c, o);
  p->Residue(1).HPos = h;
  return p;
}

TEST(HBondEnergy, CollinearGeometryMatchesHandValue) {
  // dHO = 2, dHC = 3, dNC = 4, dNO = 3: -27888 * (1/2 - 1/3 + 1/4 - 1/3) = -2324.
  auto p = DonorAcceptor(Coord(0, 0, 0), Coord(1, 0, 0), Coord(4, 0, 0), Coord(3, 0, 0));
  EXPECT_EQ(HBondEnergy(*p, 1, 2), -2324);
  EXPECT_EQ(p->Status, TRunStatus::Good);
}

TEST(HBondEnergy, HalvesRoundToEven) {
  // dHO = 8, dNO = 32, dHC = dNC = 13: -3486 + 871.5 = -2614.5, rounded to -2614.
  auto p = DonorAcceptor(Coord(0, 0, 0), Coord(24, 0, 0), Coord(12, 5, 0), Coord(32, 0, 0));
  EXPECT_EQ(HBondEnergy(*p, 1, 2), -2614);
  // dHO = 16, dNO = 32, dHC = dNC = 10: -1743 + 871.5 = -871.5, rounded to -872.
  auto q = DonorAcceptor(Coord(0, 0, 0), Coord(16, 0, 0), Coord(8, 6, 0), Coord(32, 0, 0));
  EXPECT_EQ(HBondEnergy(*q, 1, 2), -872);
}

TEST(HBondEnergy, ProlineDonorHasNoEnergyButAccepts) {
  auto p = DonorAcceptor(Coord(0, 0, 0), Coord(1, 0, 0), Coord(4, 0, 0), Coord(3, 0, 0), 'P');
  EXPECT_EQ(HBondEnergy(*p, 1, 2), 0);
  CheckBonds(*p, 1, 2);
  EXPECT_EQ(p->Residue(1).NHBond1.Partner, 0);
  EXPECT_EQ(p->Residue(2).COBond1.Partner, 0);

  // A proline in a helix still accepts the bond from four residues on.
  auto helix = testing::BuildBackbone(std::vector<double>(12, -57), std::vector<double>(12, -47), "AAAPAAAAAAAA");
  FlagHydrogenBonds(*helix);
  EXPECT_TRUE(TestBond(*helix, 8, 4));
  EXPECT_EQ(helix->Residue(4).NHBond1.Energy, 0);
  EXPECT_EQ(helix->Residue(4).NHBond2.Energy, 0);
}

TEST(HBondEnergy, TooCloseContactIsFloorAndFirstStatusWins) {
  auto p = DonorAcceptor(Coord(0, 0, 0), Coord(1, 0, 0), Coord(2.2f, 0, 0), Coord(1.2f, 0, 0));
  LogCapture log(*p);
  EXPECT_EQ(HBondEnergy(*p, 1, 2), -9900);
  EXPECT_EQ(HBondEnergy(*p, 1, 2), -9900);
  EXPECT_EQ(p->Status, TRunStatus::ContactTooClose);
  EXPECT_EQ(p->StatusText, " !!! CONTACT BETWEEN 2 RESIDUES TOO CLOSE");
  EXPECT_EQ(log.Lines(), std::vector<std::string>{" !!! CONTACT BETWEEN 2 RESIDUES TOO CLOSE"});

  auto q = DonorAcceptor(Coord(0, 0, 0), Coord(1, 0, 0), Coord(2.2f, 0, 0), Coord(1.2f, 0, 0));
  q->Status = TRunStatus::ResidueIgnored;
  q->StatusText = "earlier";
  EXPECT_EQ(HBondEnergy(*q, 1, 2), -9900);
  EXPECT_EQ(q->Status, TRunStatus::ResidueIgnored);
  EXPECT_EQ(q->StatusText, "earlier");
}

TEST(UpdateBonds, KeepsTwoLowestAndFirstOfEquals) {
  struct Case {
    std::vector<std::pair<int, int>> offers;  // partner, energy in order
    TBond slot1, slot2;
  };
  const Case cases[] = {
      {{{5, -1000}}, {5, -1000}, {0, 0}},
      {{{5, -1000}, {6, -2000}}, {6, -2000}, {5, -1000}},
      {{{5, -1000}, {6, -1000}}, {5, -1000}, {6, -1000}},
      {{{5, -1000}, {6, -1000}, {7, -1000}}, {5, -1000}, {6, -1000}},
      {{{5, -1000}, {6, -3000}, {7, -2000}}, {6, -3000}, {7, -2000}},
      {{{5, 300}, {6, 0}}, {0, 0}, {0, 0}},
  };
  for (const Case& c : cases) {
    TBond s1, s2;
    for (auto [partner, energy] : c.offers) UpdateBonds(s1, s2, partner, energy);
    EXPECT_EQ(s1.Partner, c.slot1.Partner);
    EXPECT_EQ(s1.Energy, c.slot1.Energy);
    EXPECT_EQ(s2.Partner, c.slot2.Partner);
    EXPECT_EQ(s2.Energy, c.slot2.Energy);
  }
}

TEST(TestBond, ThresholdIsStrictAndBothSlotsCount) {
  auto p = testing::BuildLine(6);
  p->Residue(3).NHBond1 = TBond{1, -500};
  p->Residue(3).NHBond2 = TBond{5, -501};
  EXPECT_FALSE(TestBond(*p, 3, 1));
  EXPECT_TRUE(TestBond(*p, 3, 5));
  EXPECT_FALSE(TestBond(*p, 5, 3));
  EXPECT_FALSE(TestBond(*p, 0, 5));
  EXPECT_FALSE(TestBond(*p, 7, 5));
}

TEST(FlagHydrogenBonds, DirectNeighboursOnlyForward) {
  // H(2) lies next to O(1) and H(1) next to O(2): only N-H(1) -> O=C(2) is evaluated.
  auto p = std::make_unique<TProteinObject>();
  AppendResidue(*p, Coord(0, 0, 0), Coord(-1, 0, 0), Coord(0, 6.2f, 0), Coord(0, 5, 0));
  AppendResidue(*p, Coord(0, 2.1f, 0), Coord(3, 2, 0), Coord(4.1f, 0, 0), Coord(2.9f, 0, 0));
  p->Residue(1).HPos = Coord(1, 0, 0);
  p->Residue(2).HPos = Coord(0, 3.1f, 0);
  ASSERT_LT(HBondEnergy(*p, 1, 2), -500);
  ASSERT_LT(HBondEnergy(*p, 2, 1), -500);
  FlagHydrogenBonds(*p);
  EXPECT_TRUE(TestBond(*p, 1, 2));
  EXPECT_FALSE(TestBond(*p, 2, 1));
  EXPECT_EQ(p->Residue(1).COBond1.Partner, 0);
}

TEST(FlagHydrogenBonds, IdealHelixBondsFourAhead) {
  auto p = testing::BuildHelix(14);
  FlagHydrogenBonds(*p);
  for (int i = 1; i + 4 <= 14; ++i) EXPECT_TRUE(TestBond(*p, i + 4, i)) << i;
  EXPECT_FALSE(TestBond(*p, 5, 2));
  EXPECT_LT(p->Residue(9).NHBond1.Energy, -1500);
}

// Random CA clouds, one dense and one of two far-apart clumps (coarse cells):
// the grid must name the same partners in the same order as all pairs.
TEST(TCaGrid, SamePartnersAsAllPairs) {
  std::mt19937 random(7);
  for (float spread : {30.0f, 5000.0f}) {
    TProteinObject p;
    std::uniform_real_distribution<float> u(0, 25);
    for (int i = 0; i < 600; ++i) {
      const float shift = (i % 2) ? spread : 0;
      const TCoord ca = Coord(u(random) + shift, u(random), u(random));
      AppendResidue(p, ca, ca, ca, ca);
    }
    const TCaGrid grid(p);
    std::vector<int> fast, slow;
    for (int i = 1; i <= p.ResidueCount; ++i) {
      grid.CloseResidues(i, fast);
      CloseResiduesReference(p, i, slow);
      ASSERT_EQ(fast, slow) << "residue " << i << " spread " << spread;
    }
  }
}

// A helix-strand-helix chain with a second helix packed against it.
std::unique_ptr<TProteinObject> PackedChains() {
  std::vector<double> phi(60, -57), psi(60, -47);
  for (std::size_t k = 20; k < 40; ++k) phi[k] = -120, psi[k] = 130;
  auto p = testing::BuildBackbone(phi, psi);
  auto helix = testing::BuildHelix(60);
  auto shifted = [](const TAtom* a) { return Coord(a->X + 7, a->Y + 2, a->Z); };
  for (int i = 1; i <= helix->ResidueCount; ++i) {
    const TBACKBONE& r = helix->Residue(i);
    AppendResidue(*p, shifted(r.AtomN), shifted(r.AtomCA), shifted(r.AtomC), shifted(r.AtomO));
  }
  return p;
}

TEST(FlagHydrogenBonds, GridAgreesWithAllPairsOnPackedChains) {
  auto fast = PackedChains();
  auto slow = PackedChains();
  FlagHydrogenBonds(*fast);
  FlagHydrogenBondsReference(*slow);
  EXPECT_EQ(fast->Status, slow->Status);
  int bonds = 0;
  for (int i = 1; i <= fast->ResidueCount; ++i) {
    const TBACKBONE& x = fast->Residue(i);
    const TBACKBONE& y = slow->Residue(i);
    const std::pair<TBond, TBond> slots[] = {{x.NHBond1, y.NHBond1}, {x.NHBond2, y.NHBond2}, {x.COBond1, y.COBond1}, {x.COBond2, y.COBond2}};
    for (auto [s, t] : slots) {
      EXPECT_EQ(s.Partner, t.Partner) << i;
      EXPECT_EQ(s.Energy, t.Energy) << i;
    }
    bonds += TestBond(*fast, i, x.NHBond1.Partner);
  }
  EXPECT_GT(bonds, 60);
}

TEST(TChainSegments, AgreesWithNoChainBreak) {
  auto p = testing::BuildLine(12);
  p->ChainBreaks = {0, 3, 3, 7, 12, 15};
  const TChainSegments segments(*p);
  for (int a = -1; a <= 14; ++a)
    for (int b = -1; b <= 14; ++b) EXPECT_EQ(segments.NoChainBreak(a, b), NoChainBreak(*p, a, b)) << a << " " << b;
}

TEST(FlagChirality, ShortChainsKeepDefaults) {
  for (int n : {3, 4}) {
    auto p = testing::BuildHelix(n);
    FlagChirality(*p);
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(p->Residue(i).BendAngle, 360);
      if (n == 3) {
        EXPECT_EQ(p->Residue(i).CaDihedral, 360);
        EXPECT_EQ(p->Residue(i).Chirality, ' ');
      }
    }
  }
}

TEST(FlagChirality, HelixIsRightHandedAndBendsAreHandValues) {
  auto helix = testing::BuildHelix(8);
  FlagChirality(*helix);
  EXPECT_EQ(helix->Residue(3).Chirality, '+');
  EXPECT_NEAR(helix->Residue(3).CaDihedral, 50, 5);

  // CA trace 0 -> 3.8 along x (two steps), then two steps along y: a right-angle bend at residue 3.
  TProteinObject p;
  const TCoord trace[] = {Coord(0, 0, 0), Coord(1.9f, 0.5f, 0), Coord(3.8f, 0, 0), Coord(4.3f, 1.9f, 0), Coord(3.8f, 3.8f, 0)};
  for (const TCoord& ca : trace) AppendResidue(p, ca, ca, ca, ca);
  FlagChirality(p);
  EXPECT_NEAR(p.Residue(3).BendAngle, 90, 1e-3);
  EXPECT_EQ(p.Residue(2).Chirality, '-');
  // A chain break inside the window leaves both values uncomputed.
  p.ChainBreaks = {3};
  p.Residue(3).BendAngle = 360;
  p.Residue(2).CaDihedral = 360;
  FlagChirality(p);
  EXPECT_EQ(p.Residue(3).BendAngle, 360);
  EXPECT_EQ(p.Residue(2).CaDihedral, 360);
}

// Cysteines spaced along a line; sulphur atoms are placed explicitly.
struct CysteineChain {
  TProteinObject p;
  void Add(char letter, std::vector<TCoord> side) {
    const float x = 3.8f * static_cast<float>(p.ResidueCount + 1);
    const int i = AppendResidue(p, Coord(x, 0, 0), Coord(x, 1, 0), Coord(x, 2, 0), Coord(x, 3, 0), letter);
    TBACKBONE& r = p.Residue(i);
    r.SideChainStart = static_cast<std::int32_t>(p.SideAtoms.size()) - 1;
    r.SideChainCount = static_cast<std::int32_t>(side.size());
    const char* names[] = {" CB ", " SG "};
    for (std::size_t k = 0; k < side.size(); ++k) {
      auto atom = std::make_unique<TAtom>();
      static_cast<TCoord&>(*atom) = side[k];
      atom->AtomCode = 1;
      p.SideAtoms.push_back(atom.get());
      p.SideAtomNames.push_back(names[k]);
      p.Atoms.push_back(std::move(atom));
    }
  }
};

TEST(FlagSSBonds, FindsCloseSulphursAndLabelsPairs) {
  CysteineChain chain;
  const TCoord s = Coord(0, 50, 0);
  chain.Add('C', {Coord(0, 40, 0), s});                   // 1: pairs with 3 (2 is adjacent)
  chain.Add('C', {Coord(0, 40, 0), Coord(1, 50, 0)});     // 2: adjacent to 1, pairs with 4
  chain.Add('C', {Coord(0, 40, 0), Coord(2, 50, 0)});     // 3
  chain.Add('C', {Coord(0, 40, 0), Coord(2.9f, 50, 0)});  // 4
  chain.Add('A', {Coord(0, 40, 0)});
  chain.Add('C', {Coord(0, 40, 0)});                      // 6: one side-chain atom, listed with 8 by SSBOND
  chain.Add('G', {});
  chain.Add('C', {Coord(0, 40, 0), Coord(100, 0, 0)});    // 8
  TProteinObject& p = chain.p;
  TReadState state;
  state.SSBondPairs.push_back({p.Residue(8).ResidueId, p.Residue(6).ResidueId});
  state.SSBondCount = 1;
  p.ChainBreaks = {7};
  FlagSSBonds(p, state);
  ASSERT_EQ(state.SSBondCount, 3);
  EXPECT_EQ(state.SSBondPairs[1].First, p.Residue(1).ResidueId);
  EXPECT_EQ(state.SSBondPairs[1].Second, p.Residue(3).ResidueId);
  EXPECT_EQ(state.SSBondPairs[2].First, p.Residue(2).ResidueId);
  EXPECT_EQ(state.SSBondPairs[2].Second, p.Residue(4).ResidueId);
  std::string letters;
  for (int i = 1; i <= 8; ++i) letters += p.Residue(i).OneLetter;
  EXPECT_EQ(letters, "abab" "AcGc");
  EXPECT_EQ(state.SSBondsIntra, 2);
  EXPECT_EQ(state.SSBondsInter, 1);
  const TBACKBONE& r = p.Residue(3);
  EXPECT_EQ(r.AtomN->AtomCode, 224);
  EXPECT_EQ(r.AtomC->AtomCode, 225);
  EXPECT_EQ(r.AtomCA->AtomCode, 226);
  EXPECT_EQ(r.AtomO->AtomCode, 227);
  std::uint8_t type = 0;
  std::int16_t code = 0;
  FindSideAtom(p.Context, 'Z', " SG ", type, code);
  EXPECT_EQ(p.SideAtoms[static_cast<std::size_t>(r.SideChainStart) + 2]->AtomCode, code);
  EXPECT_EQ(p.Residue(5).AtomN->AtomCode, 0);
}

// Many cysteines with sulphurs crowded in a small box, some pairs also listed
// by SSBOND records: the grid finds the pairs and labels the plain rule gives.
TEST(FlagSSBonds, GridFindsThePairsOfThePlainRule) {
  CysteineChain chain;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> place(0.0f, 12.0f);
  for (int k = 0; k < 300; ++k) chain.Add('C', {Coord(0, 40, 0), Coord(place(random), place(random), place(random))});
  TReadState state;
  for (int k = 1; k + 5 <= 300; k += 37)
    state.SSBondPairs.push_back(TSSBondPair{chain.p.Residue(k).ResidueId, chain.p.Residue(k + 5).ResidueId});
  state.SSBondCount = static_cast<std::int32_t>(state.SSBondPairs.size());
  // The plain rule, pair by pair, before the labels change the residues.
  const int n = chain.p.ResidueCount;
  auto sulphur = [&](int k) { return *chain.p.SideAtoms[static_cast<std::size_t>(chain.p.Residue(k).SideChainStart) + 2]; };
  std::vector<std::pair<std::string, std::string>> listed;
  for (const TSSBondPair& pair : state.SSBondPairs) listed.emplace_back(pair.First, pair.Second);
  auto isListed = [&](int a, int j) {
    const std::string& x = chain.p.Residue(a).ResidueId;
    const std::string& y = chain.p.Residue(j).ResidueId;
    for (const auto& [f, g] : listed)
      if ((f == x && g == y) || (f == y && g == x)) return true;
    return false;
  };
  for (int a = 1; a <= n - 2; ++a)
    for (int j = a + 2; j <= n; ++j)
      if (Distance(sulphur(a), sulphur(j)) < 3.0) {
        if (!isListed(a, j)) listed.emplace_back(chain.p.Residue(a).ResidueId, chain.p.Residue(j).ResidueId);
        break;
      }
  std::string expected(static_cast<std::size_t>(n) + 1, 'C');
  char letter = '`';
  for (int a = 1; a <= n - 2; ++a) {
    if (expected[static_cast<std::size_t>(a)] != 'C') continue;
    for (int j = a + 2; j <= n; ++j) {
      if (expected[static_cast<std::size_t>(j)] != 'C' || !isListed(a, j)) continue;
      letter = letter == 'z' ? 'a' : static_cast<char>(letter + 1);
      expected[static_cast<std::size_t>(a)] = expected[static_cast<std::size_t>(j)] = letter;
    }
  }
  FlagSSBonds(chain.p, state);
  EXPECT_EQ(state.SSBondCount, static_cast<std::int32_t>(listed.size()));
  std::string labels(1, 'C');
  for (int k = 1; k <= n; ++k) labels += chain.p.Residue(k).OneLetter;
  EXPECT_EQ(labels, expected);
  EXPECT_GT(std::count_if(labels.begin(), labels.end(), [](char c) { return c != 'C'; }), 100);
}

TEST(FlagSSBonds, LettersWrapAfterZ) {
  CysteineChain chain;
  for (int k = 0; k < 27; ++k) {
    const TCoord s = Coord(10.0f * static_cast<float>(k), 100, 0);
    chain.Add('C', {Coord(0, 40, 0), s});
    chain.Add('G', {});
    chain.Add('C', {Coord(0, 40, 0), Coord(s.X + 2, s.Y, s.Z)});
  }
  TReadState state;
  FlagSSBonds(chain.p, state);
  EXPECT_EQ(state.SSBondCount, 27);
  EXPECT_EQ(chain.p.Residue(1).OneLetter, 'a');
  EXPECT_EQ(chain.p.Residue(76).OneLetter, 'z');
  EXPECT_EQ(chain.p.Residue(79).OneLetter, 'a');
  EXPECT_EQ(chain.p.Residue(81).OneLetter, 'a');
}

// More disulphide bonds than the old table of 200: the next one is still found.
TEST(FlagSSBonds, BondsBeyondTheOldTableAreFound) {
  CysteineChain chain;
  chain.Add('C', {Coord(0, 40, 0), Coord(0, 50, 0)});
  chain.Add('G', {});
  chain.Add('C', {Coord(0, 40, 0), Coord(1, 50, 0)});
  TReadState state;
  state.SSBondPairs.assign(200, TSSBondPair{"   1 X", "   2 X"});
  state.SSBondCount = 200;
  FlagSSBonds(chain.p, state);
  EXPECT_EQ(state.SSBondCount, 201);
  EXPECT_EQ(chain.p.Status, TRunStatus::Good);
  EXPECT_EQ(chain.p.Residue(1).OneLetter, 'a');
}

}  // namespace
}  // namespace cavitas
