#include "secstruct/Bridges.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "frame/LogFile.h"
#include "frame/Status.h"
#include "secstruct/ChainSegments.h"
#include "secstruct/HydrogenBonds.h"
#include "secstruct/SecStruct.h"

namespace cavitas {

namespace {

const char* const kOverwrittenText = " !!! STRAND COLUMN OVERWRITTEN !!!";
constexpr TRunStatus kOverwrittenStatus = TRunStatus::StrandColumnOverwritten;  // a warning: the run goes on

// A residue has bridges to at most this many later partners.
constexpr int kMaxBridgePartners = 2;

TBridgeEntry& Ladder(TReadState& state, int n) { return state.BridgeTable[static_cast<std::size_t>(n)]; }
const TBridgeEntry& Ladder(const TReadState& state, int n) { return state.BridgeTable[static_cast<std::size_t>(n)]; }

// The residues j > i that can form a bridge with i: every bridge condition
// needs one of a handful of hydrogen bonds touching i-1, i or i+1, so the
// partners those bonds name (shifted by -1, 0 or +1) are the only candidates.
class TBridgeCandidates {
 public:
  explicit TBridgeCandidates(const TProteinObject& protein) : n_(protein.ResidueCount) {
    // Donors of every acceptor, as a compact table: donors of b are
    // donors_[start_[b] .. start_[b+1]).
    start_.assign(static_cast<std::size_t>(n_) + 2, 0);
    auto forEachBond = [&](auto&& visit) {
      for (int a = 1; a <= n_; ++a) {
        const TBACKBONE& r = protein.Residue(a);
        for (const TBond* bond : {&r.NHBond1, &r.NHBond2})
          if (bond->Energy < kHBondThreshold && bond->Partner >= 1 && bond->Partner <= n_) visit(a, bond->Partner);
      }
    };
    forEachBond([&](int, int b) { ++start_[static_cast<std::size_t>(b) + 1]; });
    for (std::size_t k = 1; k < start_.size(); ++k) start_[k] += start_[k - 1];
    donors_.resize(static_cast<std::size_t>(start_.back()));
    std::vector<std::int32_t> fill(start_.begin(), start_.end() - 1);
    forEachBond([&](int a, int b) { donors_[static_cast<std::size_t>(fill[static_cast<std::size_t>(b)]++)] = a; });
    partners_.resize(static_cast<std::size_t>(n_) + 1);
    for (int a = 1; a <= n_; ++a) {
      const TBACKBONE& r = protein.Residue(a);
      auto& p = partners_[static_cast<std::size_t>(a)];
      p = {0, 0};
      int k = 0;
      for (const TBond* bond : {&r.NHBond1, &r.NHBond2})
        if (bond->Energy < kHBondThreshold) p[static_cast<std::size_t>(k++)] = bond->Partner;
    }
  }

  // Candidates j of residue i with i+3 <= j < n, ascending, without repeats.
  void Candidates(int i, std::vector<int>& out) const {
    out.clear();
    auto add = [&](int j) {
      if (j >= i + 3 && j < n_) out.push_back(j);
    };
    auto partners = [&](int x, int shift) {
      if (x < 1 || x > n_) return;
      for (int p : partners_[static_cast<std::size_t>(x)])
        if (p != 0) add(p + shift);
    };
    auto donors = [&](int y, int shift) {
      if (y < 1 || y > n_) return;
      for (auto k = start_[static_cast<std::size_t>(y)]; k < start_[static_cast<std::size_t>(y) + 1]; ++k)
        add(donors_[static_cast<std::size_t>(k)] + shift);
    };
    partners(i + 1, 0);   // TestBond(i+1, j)
    donors(i - 1, 0);     // TestBond(j, i-1)
    donors(i, -1);        // TestBond(j+1, i)
    partners(i, 1);       // TestBond(i, j-1)
    partners(i + 1, 1);   // TestBond(i+1, j-1)
    donors(i - 1, -1);    // TestBond(j+1, i-1)
    donors(i, 0);         // TestBond(j, i)
    partners(i, 0);       // TestBond(i, j)
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
  }

 private:
  int n_;
  std::vector<std::int32_t> start_, donors_;
  std::vector<std::array<std::int32_t, 2>> partners_;
};

// The body of FindBridges over a given ascending list of j values.
template <class Range>
void FindBridgesAmong(TProteinObject& protein, TReadState& state, const TChainSegments& segments, int i,
                      const Range& candidates) {
  if (!segments.NoChainBreak(i - 1, i + 1)) return;
  int found = 0;
  for (int j : candidates) {
    if (!segments.NoChainBreak(j - 1, j + 1)) continue;
    const TBridgeKind kind = BridgeKindOf(protein, i, j);
    if (kind == kBridgeNone) continue;
    AddBridge(protein, state, i, j, kind);
    ++found;
    if (protein.Status == TRunStatus::Failed || found == kMaxBridgePartners) return;
  }
}

void StartBridgeTable(TReadState& state) {
  state.BridgeTable.assign(1, TBridgeEntry{});
  state.BridgeTable.reserve(64);
  state.BridgeCount = 0;
}

template <class Search>
void FlagBridgeWith(TProteinObject& protein, TReadState& state, Search&& findBridges) {
  StartBridgeTable(state);
  for (int i = 2; i <= protein.ResidueCount - 1; ++i) {
    protein.Context.Progress.SetPosition(i);
    findBridges(i);
    if (protein.Status == TRunStatus::Failed) return;
  }
  if (state.BridgeCount > 0) {
    LinkLadders(protein, state);
    LabelSheets(state);
    MarkStrands(protein, state);
  }
}

bool RangesOverlap(int s1, int e1, int s2, int e2) { return e1 >= s2 && e2 >= s1; }

// Ladder b continues ladder a across a bulge.
bool ContinuesAcrossBulge(const TProteinObject& protein, const TBridgeEntry& a, const TBridgeEntry& b) {
  const int gapI = b.IStart - a.IEnd;
  if (gapI >= 6 || b.BridgeKind != a.BridgeKind || b.LinkFrom != 0) return false;
  if (!NoChainBreak(protein, a.IEnd, b.IStart)) return false;
  if (a.BridgeKind == kBridgeParallel) {
    const int gapJ = b.JStart - a.JEnd;
    return ((gapJ < 6 && gapI < 3) || gapJ < 3) && NoChainBreak(protein, a.JEnd, b.JStart);
  }
  const int gapJ = a.JStart - b.JEnd;
  return ((gapJ < 6 && gapI < 3) || gapJ < 3) && NoChainBreak(protein, b.JEnd, a.JStart);
}

// Characters found in one bridge column over a set of residues.
struct TCharSet {
  std::array<bool, 256> In{};
  void Add(char c) { In[static_cast<unsigned char>(c)] = true; }
  bool OnlyBlank() const {
    for (std::size_t c = 0; c < In.size(); ++c)
      if (In[c] != (c == static_cast<unsigned char>(' '))) return false;
    return true;
  }
};

std::string RightAligned(int value, int width) {
  char field[32];
  std::snprintf(field, sizeof field, "%*d", width, value);
  return field;
}

}  // namespace

TBridgeKind BridgeKindOf(const TProteinObject& protein, int i, int j) {
  if ((TestBond(protein, i + 1, j) && TestBond(protein, j, i - 1)) ||
      (TestBond(protein, j + 1, i) && TestBond(protein, i, j - 1)))
    return kBridgeParallel;
  if ((TestBond(protein, i + 1, j - 1) && TestBond(protein, j + 1, i - 1)) ||
      (TestBond(protein, j, i) && TestBond(protein, i, j)))
    return kBridgeAntiparallel;
  return kBridgeNone;
}

void FindBridges(TProteinObject& protein, TReadState& state, int i) {
  const TChainSegments segments(protein);
  std::vector<int> all;
  for (int j = i + 3; j < protein.ResidueCount; ++j) all.push_back(j);
  FindBridgesAmong(protein, state, segments, i, all);
}

void AddBridge(TProteinObject& protein, TReadState& state, int i, int j, TBridgeKind kind) {
  if (kind == kBridgeNone || j <= i) return;
  if (state.BridgeTable.empty()) StartBridgeTable(state);
  for (int n = 1; n <= state.BridgeCount; ++n) {
    TBridgeEntry& e = Ladder(state, n);
    if (e.BridgeKind != kind || i != e.IEnd + 1) continue;
    if (kind == kBridgeParallel) {
      if (j == e.JEnd + 1 && NoChainBreak(protein, e.IEnd, i) && NoChainBreak(protein, e.JEnd, j)) {
        e.IEnd = i;
        e.JEnd = j;
        return;
      }
    } else if (j == e.JStart - 1 && NoChainBreak(protein, e.IEnd, i) && NoChainBreak(protein, j, e.JStart)) {
      e.IEnd = i;
      e.JStart = j;
      return;
    }
  }
  TBridgeEntry entry;
  entry.IStart = entry.IEnd = i;
  entry.JStart = entry.JEnd = j;
  entry.BridgeKind = kind;
  ++state.BridgeCount;
  state.BridgeTable.resize(static_cast<std::size_t>(state.BridgeCount) + 1);
  Ladder(state, state.BridgeCount) = entry;
}

void LinkLadders(const TProteinObject& protein, TReadState& state) {
  const int count = state.BridgeCount;
  for (int a = 1; a <= count; ++a) {
    for (int b = a + 1; b <= count && Ladder(state, a).LinkTo == 0; ++b) {
      if (!ContinuesAcrossBulge(protein, Ladder(state, a), Ladder(state, b))) continue;
      Ladder(state, a).LinkTo = b;
      Ladder(state, b).LinkFrom = a;
    }
  }
  // LinkTo always points to a later ladder, so every chain walk ends.
  for (int head = 1; head <= count; ++head) {
    if (Ladder(state, head).LinkFrom != 0) continue;
    for (int m = head; m != 0; m = Ladder(state, m).LinkTo) Ladder(state, m).Group = head;
  }
}

bool LaddersLinked(const TReadState& state, int a, int b) {
  const TBridgeEntry& x = Ladder(state, a);
  const TBridgeEntry& y = Ladder(state, b);
  return RangesOverlap(x.IStart, x.IEnd, y.IStart, y.IEnd) || RangesOverlap(x.IStart, x.IEnd, y.JStart, y.JEnd) ||
         RangesOverlap(x.JStart, x.JEnd, y.IStart, y.IEnd) || RangesOverlap(x.JStart, x.JEnd, y.JStart, y.JEnd);
}

namespace {

// Disjoint sets of ladders 1..n.
class TLadderSets {
 public:
  explicit TLadderSets(int n) : parent_(static_cast<std::size_t>(n) + 1) {
    for (std::size_t k = 0; k < parent_.size(); ++k) parent_[k] = static_cast<std::int32_t>(k);
  }
  int Find(int a) {
    while (parent_[static_cast<std::size_t>(a)] != a) {
      auto& p = parent_[static_cast<std::size_t>(a)];
      p = parent_[static_cast<std::size_t>(p)];  // path halving
      a = p;
    }
    return a;
  }
  void Join(int a, int b) {
    a = Find(a);
    b = Find(b);
    if (a != b) parent_[static_cast<std::size_t>(std::max(a, b))] = std::min(a, b);
  }

 private:
  std::vector<std::int32_t> parent_;
};

}  // namespace

void LabelSheets(TReadState& state) {
  const int count = state.BridgeCount;
  TLadderSets sets(count);
  // Bulge-linked chains, then every pair of ladders with overlapping strands:
  // a sweep over the strands in order of their first residue meets each
  // overlapping pair while both are open.
  for (int m = 1; m <= count; ++m)
    if (Ladder(state, m).LinkTo != 0) sets.Join(m, Ladder(state, m).LinkTo);
  struct TStrand {
    std::int32_t First, Last, Ladder;
  };
  std::vector<TStrand> strands;
  strands.reserve(2 * static_cast<std::size_t>(count));
  for (int m = 1; m <= count; ++m) {
    const TBridgeEntry& e = Ladder(state, m);
    strands.push_back({e.IStart, e.IEnd, m});
    strands.push_back({e.JStart, e.JEnd, m});
  }
  std::sort(strands.begin(), strands.end(),
            [](const TStrand& x, const TStrand& y) { return x.First != y.First ? x.First < y.First : x.Ladder < y.Ladder; });
  std::vector<TStrand> open;
  for (const TStrand& s : strands) {
    open.erase(std::remove_if(open.begin(), open.end(), [&](const TStrand& o) { return o.Last < s.First; }), open.end());
    for (const TStrand& o : open) sets.Join(o.Ladder, s.Ladder);
    open.push_back(s);
  }

  // Sheets in the order of their lowest ladder; within one, the chains in
  // ascending order of their heads.
  std::vector<std::int32_t> sheetOf(static_cast<std::size_t>(count) + 1, 0);
  std::vector<std::vector<std::int32_t>> heads;
  for (int m = 1; m <= count; ++m) {
    const auto root = static_cast<std::size_t>(sets.Find(m));
    if (sheetOf[root] == 0) {
      heads.emplace_back();
      sheetOf[root] = static_cast<std::int32_t>(heads.size());
    }
    if (Ladder(state, m).LinkFrom == 0) heads[static_cast<std::size_t>(sheetOf[root] - 1)].push_back(m);
  }
  char sheetLetter = '@';
  int ladderCounter = '@';
  for (const std::vector<std::int32_t>& sheet : heads) {
    // Sheet letters run 'A'..'z' in code order, including the six signs after 'Z'.
    sheetLetter = sheetLetter == 'z' ? 'A' : static_cast<char>(sheetLetter + 1);
    const std::int32_t first = sheet.front();
    for (const std::int32_t a : sheet) {
      if (ladderCounter == 'Z') ladderCounter = '@';
      ++ladderCounter;
      const char ladderLetter = static_cast<char>(
          Ladder(state, a).BridgeKind == kBridgeAntiparallel ? ladderCounter : ladderCounter + 32);
      for (int m = a; m != 0; m = Ladder(state, m).LinkTo) {
        TBridgeEntry& e = Ladder(state, m);
        e.LadderLetter = ladderLetter;
        e.SheetLetter = sheetLetter;
        e.Group = first;
      }
    }
  }
}

std::string BridgeTableLine(const TReadState& state, int n) {
  const TBridgeEntry& e = Ladder(state, n);
  std::string line = RightAligned(n, 5);
  line += e.SheetLetter;
  line += ' ';
  line += e.LadderLetter;
  line += ' ';
  line += e.BridgeKind == kBridgeParallel ? "p " : "a ";
  for (int v : {e.IStart, e.IEnd, e.JStart, e.JEnd}) line += RightAligned(v, 5);
  for (int k = 1; k <= state.BridgeCount; ++k)
    if (Ladder(state, k).Group == e.Group) line += " " + std::to_string(k);
  return line;
}

void MarkStrands(TProteinObject& protein, TReadState& state) {
  const int count = state.BridgeCount;
  auto column = [&](int k, bool first) -> std::pair<char&, std::int32_t&> {
    TBACKBONE& r = protein.Residue(k);
    if (first) return {r.BridgeLabel1, r.BridgePartner1};
    return {r.BridgeLabel2, r.BridgePartner2};
  };
  bool overwritten = false;
  for (int g = 1; g <= count; ++g) {
    if (Ladder(state, g).LinkFrom != 0) continue;
    TCharSet i1, i2, j1, j2;
    int iFirst = Ladder(state, g).IStart, iLast = Ladder(state, g).IEnd;
    int jFirst = Ladder(state, g).JStart, jLast = Ladder(state, g).JEnd;
    for (int m = g; m != 0; m = Ladder(state, m).LinkTo) {
      const TBridgeEntry& e = Ladder(state, m);
      for (int k = e.IStart; k <= e.IEnd; ++k) {
        i1.Add(protein.Residue(k).BridgeLabel1);
        i2.Add(protein.Residue(k).BridgeLabel2);
      }
      for (int k = e.JStart; k <= e.JEnd; ++k) {
        j1.Add(protein.Residue(k).BridgeLabel1);
        j2.Add(protein.Residue(k).BridgeLabel2);
      }
      iFirst = std::min(iFirst, e.IStart);
      iLast = std::max(iLast, e.IEnd);
      jFirst = std::min(jFirst, e.JStart);
      jLast = std::max(jLast, e.JEnd);
    }
    const bool iColumn1 = i1.OnlyBlank();
    const bool jColumn1 = j1.OnlyBlank();
    const bool iUsed = !(iColumn1 ? i1 : i2).OnlyBlank();
    const bool jUsed = !(jColumn1 ? j1 : j2).OnlyBlank();
    if (iUsed || jUsed) {
      // A residue in a third ladder (a bulge, a chain lying on a copy of
      // itself): that ladder chain stays unmarked and the analysis goes on,
      // since nothing after the strand letters depends on it. The table of
      // all ladders is logged at the first one.
      protein.LogLine(BridgeTableLine(state, g));
      if (!overwritten)
        for (int n = 1; n <= count; ++n) protein.LogLine(BridgeTableLine(state, n));
      overwritten = true;
      protein.Context.Report(kOverwrittenText);
      protein.SetWarningStatus(kOverwrittenStatus, kOverwrittenText);
      continue;
    }
    for (int m = g; m != 0; m = Ladder(state, m).LinkTo) {
      const TBridgeEntry& e = Ladder(state, m);
      const bool anti = e.BridgeKind == kBridgeAntiparallel;
      for (int k = e.IStart; k <= e.IEnd; ++k) {
        auto [label, partner] = column(k, iColumn1);
        label = e.LadderLetter;
        partner = anti ? e.JEnd + e.IStart - k : k + e.JStart - e.IStart;
      }
      for (int k = e.JStart; k <= e.JEnd; ++k) {
        auto [label, partner] = column(k, jColumn1);
        label = e.LadderLetter;
        partner = anti ? e.IEnd + e.JStart - k : k + e.IStart - e.JStart;
      }
    }
    // The first strand decides between an isolated bridge and a strand for both hulls.
    const char letter = iFirst == iLast ? 'B' : 'E';
    for (int k = iFirst; k <= iLast; ++k)
      if (protein.Residue(k).SSSymbol != 'E') protein.Residue(k).SSSymbol = letter;
    for (int k = jFirst; k <= jLast; ++k)
      if (protein.Residue(k).SSSymbol != 'E') protein.Residue(k).SSSymbol = letter;
  }
  for (int m = 1; m <= count; ++m) {
    const TBridgeEntry& e = Ladder(state, m);
    for (int k = e.IStart; k <= e.IEnd; ++k) protein.Residue(k).SheetLabel = e.SheetLetter;
    for (int k = e.JStart; k <= e.JEnd; ++k) protein.Residue(k).SheetLabel = e.SheetLetter;
  }
}

void FlagBridge(TProteinObject& protein, TReadState& state) {
  const TChainSegments segments(protein);
  const TBridgeCandidates index(protein);
  std::vector<int> candidates;
  FlagBridgeWith(protein, state, [&](int i) {
    index.Candidates(i, candidates);
    FindBridgesAmong(protein, state, segments, i, candidates);
  });
}

void FlagBridgeReference(TProteinObject& protein, TReadState& state) {
  FlagBridgeWith(protein, state, [&](int i) { FindBridges(protein, state, i); });
}

}  // namespace cavitas
