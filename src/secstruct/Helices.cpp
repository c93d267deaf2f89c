#include "secstruct/Helices.h"

#include "frame/Status.h"
#include "secstruct/ChainSegments.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace cavitas {

namespace {

// A sharper CA bend than this (degrees, strict) marks a bend.
constexpr double kBendLimit = 70;

char& TurnMark(TBACKBONE& r, int n) { return n == 3 ? r.Turn3 : n == 4 ? r.Turn4 : r.Turn5; }
char TurnMark(const TBACKBONE& r, int n) { return n == 3 ? r.Turn3 : n == 4 ? r.Turn4 : r.Turn5; }

bool TurnStarts(const TBACKBONE& r, int n) {
  const char c = TurnMark(r, n);
  return c == '>' || c == 'X';
}

// Marks `letter` on residues i..i+length-1 for every i in 2..n-length where turns
// of length `turn` start at i-1 and i, but only where the whole window is free
// (blank or already `letter`).
void MarkHelix(TProteinObject& protein, int turn, int length, char letter) {
  const int n = protein.ResidueCount;
  for (int i = 2; i <= n - length; ++i) {
    if (!TurnStarts(protein.Residue(i - 1), turn) || !TurnStarts(protein.Residue(i), turn)) continue;
    bool free = true;
    for (int k = i; k < i + length && free; ++k) {
      const char s = protein.Residue(k).SSSymbol;
      free = s == ' ' || s == letter;
    }
    if (!free) continue;
    for (int k = i; k < i + length; ++k) protein.Residue(k).SSSymbol = letter;
  }
}

}  // namespace

void FlagTurn(TProteinObject& protein) {
  const TChainSegments segments(protein);
  const int count = protein.ResidueCount;
  for (int n = 3; n <= 5; ++n) {
    const char inside = static_cast<char>('0' + n);
    for (int a = 1; a <= count - n; ++a) {
      protein.Context.Progress.SetPosition(a);
      if (!segments.NoChainBreak(a, a + n) || !TestBond(protein, a + n, a)) continue;
      TurnMark(protein.Residue(a + n), n) = '<';
      for (int k = 1; k < n; ++k) {
        char& mark = TurnMark(protein.Residue(a + k), n);
        if (mark == ' ') mark = inside;
      }
      char& start = TurnMark(protein.Residue(a), n);
      start = start == '<' ? 'X' : '>';
    }
  }
  for (int i = 1; i <= count; ++i) {
    protein.Context.Progress.SetPosition(i);
    TBACKBONE& r = protein.Residue(i);
    if (r.BendAngle != 360 && r.BendAngle > kBendLimit) r.BendMark = 'S';
  }
  FlagHelix(protein);
}

void FlagHelix(TProteinObject& protein) {
  const int n = protein.ResidueCount;
  // Alpha helices override everything, strands and bridges included.
  for (int i = 2; i <= n - 4; ++i) {
    if (!TurnStarts(protein.Residue(i - 1), 4) || !TurnStarts(protein.Residue(i), 4)) continue;
    for (int k = i; k <= i + 3; ++k) protein.Residue(k).SSSymbol = 'H';
  }
  // 3-10 before pi: each only where its whole window is still free.
  MarkHelix(protein, 3, 3, 'G');
  MarkHelix(protein, 5, 5, 'I');
  // Turns and bends; the first and last residues are never examined.
  for (int i = 2; i <= n - 1; ++i) {
    TBACKBONE& r = protein.Residue(i);
    if (r.SSSymbol != ' ') continue;
    bool turn = false;
    for (int t = 3; t <= 5 && !turn; ++t)
      for (int k = 1; k < t && k < i && !turn; ++k) turn = TurnStarts(protein.Residue(i - k), t);
    r.SSSymbol = turn ? 'T' : r.BendMark;
  }
}

}  // namespace cavitas
