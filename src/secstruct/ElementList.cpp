#include <algorithm>
#include <vector>

#include "frame/LogFile.h"
#include "frame/Status.h"
#include "secstruct/SecStruct.h"

namespace cavitas {

namespace {

// Dihedral windows (degrees, strict) inside which a helix element runs on past its last 'H'.
constexpr double kPsiLow = -155, kPsiHigh = 25;
constexpr double kPhiLow = -130, kPhiHigh = 50;

// Points the run's report log at the program log for the step when it has none.
class TLogTargetGuard {
 public:
  explicit TLogTargetGuard(TRunContext& run) : run_(run), set_(run.Log == nullptr) {
    if (set_) run_.Log = &ProgramLog();
  }
  ~TLogTargetGuard() {
    if (set_) run_.Log = nullptr;
  }
  TLogTargetGuard(const TLogTargetGuard&) = delete;
  TLogTargetGuard& operator=(const TLogTargetGuard&) = delete;

 private:
  TRunContext& run_;
  bool set_;
};

// The helix continues over residue t (t < N) when the backbone around the
// peptide bond t, t+1 still lies in the helical windows.
bool HelixAnglesFit(const TProteinObject& protein, int t) {
  const TBACKBONE& r = protein.Residue(t);
  const TBACKBONE& next = protein.Residue(t + 1);
  const double psi = Dihedral(*r.AtomN, *r.AtomCA, *r.AtomC, *next.AtomN);
  const double phi = Dihedral(*r.AtomC, *next.AtomN, *next.AtomCA, *next.AtomC);
  return kPsiLow < psi && psi < kPsiHigh && kPhiLow < phi && phi < kPhiHigh;
}

}  // namespace

void BuildElementList(TProteinObject& protein) {
  TLogTargetGuard logTarget(protein.Context);
  protein.Context.Progress.StageName = "secondary";
  protein.Context.Progress.SetPosition(0);

  auto& table = protein.ElementTable;
  for (std::size_t k = 1; k < table.size(); ++k) {
    TElementZeile& e = table[k];
    e.First = 0;
    e.Last = 0;
    e.ElementKind = TElementKind::Unset;
  }
  auto row = [&](int k) -> TElementZeile& { return protein.ElementRow(k); };
  const int n = protein.ResidueCount;
  auto ss = [&](int k) { return protein.Residue(k).SSSymbol; };

  // Strand and helix elements take the even rows 2, 4, ...; the coils between them the odd rows.
  int m = 0;
  for (int p = 1;;) {
    protein.Context.Progress.SetPosition(p);
    if (p < n && ss(p) == 'E' && ss(p + 1) == 'E') {
      ++m;
      row(2 * m).First = p;
      row(2 * m).ElementKind = TElementKind::Strand;
      int t = p + 2;
      while (t < n && ss(t) == 'E') ++t;
      row(2 * m).Last = t - 1;
      p = t;
    }
    if (p < n - 2 && ss(p) == 'H' && ss(p + 1) == 'H' && ss(p + 2) == 'H' && ss(p + 3) == 'H') {
      ++m;
      row(2 * m).First = p;
      row(2 * m).ElementKind = TElementKind::Helix;
      int t = p + 4;
      while (t < n && (ss(t) == 'H' || ss(t + 1) == 'H') && HelixAnglesFit(protein, t)) ++t;
      row(2 * m).Last = (t < n && ss(t) == 'H') ? t : t - 1;
      p = t;
    }
    if (p >= n) break;
    ++p;
  }

  row(2 * m + 1);  // every row below is in the table from here on
  for (int k = 0; k <= m; ++k) row(2 * k + 1).ElementKind = TElementKind::Coil;
  for (int k = 1; k <= m; ++k) row(2 * k + 1).First = row(2 * k).Last + 1;
  for (int k = 0; k < m; ++k) row(2 * k + 1).Last = row(2 * k + 2).First - 1;
  row(2 * m + 1).Last = n;
  row(1).First = (m == 0 || row(2).First > 1) ? 1 : 0;
  int count = 2 * m + 1;
  protein.ElementCount = count;

  // Removing keeps the order of the rows that stay; the removed records move
  // behind the used part (the last removed first) and are reused by splits.
  auto used = table.begin() + 1;
  auto removeRows = [&](auto&& drop) {
    std::vector<TElementZeile> removed;
    auto out = used;
    for (auto it = used; it != used + count; ++it) {
      if (drop(*it))
        removed.push_back(std::move(*it));
      else
        *out++ = std::move(*it);
    }
    std::move(removed.rbegin(), removed.rend(), out);
    count -= static_cast<int>(removed.size());
  };
  if (m > 0 && row(2).First == 1) {
    bool first = true;
    removeRows([&](const TElementZeile&) {
      const bool drop = first;
      first = false;
      return drop;
    });
  }
  removeRows([](const TElementZeile& e) { return e.First > e.Last; });
  protein.ElementCount = count;

  // No element may span a chain break: split at every break inside one.
  for (std::int32_t b : protein.ChainBreaks) {
    int f = 1;
    while (f <= count && row(f).Last <= b) ++f;
    if (f > count || row(f).First > b) continue;
    // A row for the second half; the removed records behind the used part move up with it.
    protein.ElementRow(count + 1);
    const auto rows = table.begin() + 1;  // the table may have grown
    std::rotate(rows + f, rows + count, rows + count + 1);
    protein.ElementCount = ++count;
    TElementZeile& second = row(f + 1);
    second.Assign(row(f));
    second.First = b + 1;
    row(f).Last = b;
  }

  protein.Context.Progress.StageName.clear();
  protein.Context.Progress.SetPosition(0);
}

void BuildHetElements(TProteinObject& protein) {
  // Consecutive hetero atoms of one residue (name, chain, number) form one
  // group element, so that the structure cards carry every ligand atom.
  const THetAtom* groupStart = nullptr;
  for (int i = protein.ProteinAtomCount + 1; i <= protein.AtomCount; ++i) {
    const TAtom* atom = protein.AtomAt(i);
    if (!atom || atom->ResidueIndex < 1 || static_cast<std::size_t>(atom->ResidueIndex) > protein.HetAtoms.size()) continue;
    const THetAtom& het = *protein.HetAtoms[static_cast<std::size_t>(atom->ResidueIndex - 1)];
    const int row = protein.ElementCount + protein.HetElementCount;
    if (groupStart && row >= 1 && protein.ElementTable[static_cast<std::size_t>(row)].Last == i - 1 &&
        het.ResName == groupStart->ResName && het.Chain == groupStart->Chain && het.ResNumber == groupStart->ResNumber) {
      protein.ElementTable[static_cast<std::size_t>(row)].Last = i;
      continue;
    }
    protein.HetElementCount += 1;
    TElementZeile& e = protein.ElementRow(row + 1);
    e.First = i;
    e.Last = i;
    e.ConnectedFrom = 0;
    e.ConnectedTo = 0;
    e.ElementKind = TElementKind::HetGroup;
    e.ResetAtoms();
    groupStart = &het;
  }
}

}  // namespace cavitas
