#include "input/InputChecks.h"

#include <memory>
#include <string>

#include "frame/LogFile.h"
#include "model/PointIndex.h"

namespace cavitas {

namespace {

// Reports are listed up to this many per kind; the rest are counted.
constexpr int kListedReports = 100;

class TReportBudget {
 public:
  TReportBudget(const TRunContext& run, std::string unlisted) : run_(run), unlisted_(std::move(unlisted)) {}
  void Report(const std::string& line) {
    if (++count_ <= kListedReports) run_.Report(line);
  }
  ~TReportBudget() {
    if (count_ > kListedReports) run_.Report(std::to_string(count_ - kListedReports) + " more " + unlisted_);
  }
  TReportBudget(const TReportBudget&) = delete;
  TReportBudget& operator=(const TReportBudget&) = delete;

 private:
  const TRunContext& run_;
  std::string unlisted_;
  int count_ = 0;
};

std::string HetResidueLabel(const THetAtom& het) { return het.ResName + het.Chain + het.ResNumber; }

// Removes the flagged items, reporting each run of flagged items of one residue once.
void RemoveFlagged(TMyCollection<THetAtom>& list, const std::vector<bool>& flags, TReportBudget& budget) {
  std::size_t keep = 0;
  for (std::size_t k = 0; k < list.size();) {
    if (!flags[k]) {
      list[keep++] = std::move(list[k++]);
      continue;
    }
    const THetAtom& first = *list[k];
    const std::string label = HetResidueLabel(first);
    const std::int32_t line = first.Line;
    int count = 0;
    for (; k < list.size() && flags[k] && HetResidueLabel(*list[k]) == label; ++k) ++count;
    budget.Report("line " + std::to_string(line) + ": " + std::to_string(count) + (count == 1 ? " atom" : " atoms") +
                  " of hetero residue " + label + " at the place of atoms read before, ignored");
  }
  list.resize(keep);
}

}  // namespace

void RemoveCoincidentHetAtoms(TProteinObject& protein) {
  TPointIndex earlier(kCoincidentCell);
  for (int i = 1; i <= protein.ProteinAtomCount; ++i)
    if (const TAtom* a = protein.AtomAt(i)) earlier.Insert(*a, i);
  TReportBudget budget(protein.Context, "hetero residues with coincident atoms");
  const std::vector<bool> het = FlagCoincidentAtoms(protein.HetAtoms, earlier);
  const std::vector<bool> water = FlagCoincidentAtoms(protein.Waters, earlier);
  RemoveFlagged(protein.HetAtoms, het, budget);
  RemoveFlagged(protein.Waters, water, budget);
}

int ReportIsolatedAtoms(const TProteinObject& protein, const std::vector<std::int32_t>& proteinAtomLines) {
  const double limit2 = kIsolationDistance * kIsolationDistance;
  // Atoms in file order are mostly bonded: the one before or after settles
  // nearly every atom, and the index is built only for the rest.
  const auto near = [&](const TAtom& a, int j) {
    const TAtom* b = j <= protein.AtomCount ? protein.AtomAt(j) : nullptr;
    return b != nullptr && Distance2(a, *b) < limit2;
  };
  std::unique_ptr<TPointIndex> index;
  TReportBudget budget(protein.Context, "isolated atoms");
  int isolated = 0;
  for (int i = 1; i <= protein.AtomCount; ++i) {
    const TAtom* a = protein.AtomAt(i);
    if (a == nullptr) continue;
    if (near(*a, i - 1) || near(*a, i + 1)) continue;
    if (!index) {
      index = std::make_unique<TPointIndex>(kIsolationDistance);
      for (int j = 1; j <= protein.AtomCount; ++j)
        if (const TAtom* b = protein.AtomAt(j)) index->Insert(*b, j);
    }
    bool alone = true;
    index->ForEachNear(*a, kIsolationDistance, [&](std::int32_t id, const TCoord& p) {
      if (id != i && Distance2(*a, p) < limit2) alone = false;
      return alone;
    });
    if (!alone) continue;
    ++isolated;
    std::int32_t line = 0;
    std::string residue;
    if (i <= protein.ProteinAtomCount) {
      if (HasRow(proteinAtomLines, i)) line = At(proteinAtomLines, i);
      if (a->ResidueIndex >= 1 && a->ResidueIndex <= protein.ResidueCount) {
        const TBACKBONE& r = protein.Residue(a->ResidueIndex);
        residue = r.ResidueName + r.ResidueId;
      }
    } else if (a->ResidueIndex >= 1 && static_cast<std::size_t>(a->ResidueIndex) <= protein.HetAtoms.size()) {
      const THetAtom& het = *protein.HetAtoms[static_cast<std::size_t>(a->ResidueIndex - 1)];
      line = het.Line;
      residue = HetResidueLabel(het);
    }
    budget.Report("line " + std::to_string(line) + ": atom " + std::to_string(i) + " of residue " + residue +
                  " has no other atom within 20 A; it is analysed as an isolated atom");
  }
  return isolated;
}

}  // namespace cavitas
