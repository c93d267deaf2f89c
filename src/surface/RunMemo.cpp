// The memo of the per-atom steps: what one fast run of GetAtConolly produced
// for each atom, used by the next run for the atoms whose inputs are the same
// bit for bit (the pass without hetero atoms after the pass with them).
#include <algorithm>
#include <cstring>
#include <limits>

#include "surface/RunMemo.h"

namespace cavitas::surface_detail {

namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The long doubles of this target carry 10 significant bytes; the rest is padding.
static_assert(std::numeric_limits<long double>::digits == 64);
bool SameBits(const TExtVector& a, const TExtVector& b) {
  for (std::size_t k = 0; k < 3; ++k)
    if (std::memcmp(&a[k], &b[k], 10) != 0) return false;
  return true;
}

// Zigzag steps in 7-bit groups, low group first, the high bit marking a group that follows.
void AppendStep(std::vector<std::uint8_t>& out, std::int32_t from, std::int32_t to) {
  const std::int64_t step = static_cast<std::int64_t>(to) - from;
  auto u = static_cast<std::uint64_t>(step < 0 ? ((-step) << 1) - 1 : step << 1);
  while (u >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(u | 0x80));
    u >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(u));
}

// The number after `from` whose step starts at `at`; moves `at` past it.
std::int32_t ReadStep(const std::uint8_t*& at, std::int32_t from) {
  std::uint64_t u = 0;
  for (int shift = 0;; shift += 7) {
    const std::uint8_t b = *at++;
    u |= static_cast<std::uint64_t>(b & 0x7f) << shift;
    if (b < 0x80) break;
  }
  const std::int64_t step = (u & 1) ? -static_cast<std::int64_t>((u + 1) >> 1) : static_cast<std::int64_t>(u >> 1);
  return static_cast<std::int32_t>(from + step);
}

}  // namespace

TMemoSession::TMemoSession(TSurfaceMemo& carried, const TProteinObject& protein, const TSurfaceRadii& radii, bool split)
    : carried_(carried) {
  lastMemo_ = carried_.Last ? std::move(*carried_.Last) : TRunMemo{};
  carried_.Last.reset();  // a run that does not finish leaves nothing behind
  keep_ = carried_.KeepForNext;
  const std::size_t count = static_cast<std::size_t>(std::max(protein.AtomCount, 0));
  const bool sameModel = std::memcmp(&lastMemo_.Probe, &radii.Probe, sizeof(double)) == 0 &&
                         std::memcmp(lastMemo_.Radii.data(), radii.Table.data(), sizeof lastMemo_.Radii) == 0;
  // The memo before the last lends its storage, its pages already in use.
  memo_ = carried_.Spare && keep_ ? std::move(*carried_.Spare) : TRunMemo{};
  carried_.Spare.reset();
  memo_.Atoms.clear();
  memo_.Ranges.clear();
  memo_.Neighbours.clear();
  memo_.Candidates.clear();
  memo_.Inner.clear();
  memo_.Patches.clear();
  memo_.PatchEdges.clear();
  memo_.Probe = radii.Probe;
  memo_.Radii = radii.Table;
  memo_.Split = split;
  samePatches_ = lastMemo_.Split == split;
  memo_.Atoms.resize(RowsFor(protein.AtomCount));
  unchanged_.assign(RowsFor(protein.AtomCount), 0);
  recalledAtoms_.assign(RowsFor(protein.AtomCount), 0);
  if (keep_) {
    memo_.Ranges.resize(RowsFor(protein.AtomCount));
    // Room for a byte per listed neighbour (the kept ones, within the pair
    // cutoff, take about two) and about four candidates per atom (or what the
    // last run kept, and some), so that the lists are rarely moved while they grow.
    std::size_t listed = 0;
    for (const auto* lists : {protein.NeighboursNear.get(), protein.NeighboursMid.get()})
      if (lists != nullptr)
        for (const auto& l : *lists) listed += l.size();
    memo_.Neighbours.reserve(std::max(listed, lastMemo_.Neighbours.size() + lastMemo_.Neighbours.size() / 8));
    memo_.Candidates.reserve(std::max(4 * count, lastMemo_.Candidates.size() + lastMemo_.Candidates.size() / 8));
  }
  for (TAtomIndex n = 1; n <= protein.AtomCount; ++n) {
    const TAtom* a = protein.AtomAt(n);
    if (a == nullptr) continue;
    TRunMemo::TAtomState& s = At(memo_.Atoms, n);
    s = {a, a->X, a->Y, a->Z, a->Number, a->RadiusType};
    if (!sameModel || !HasRow(lastMemo_.Atoms, n)) continue;
    const TRunMemo::TAtomState& o = At(lastMemo_.Atoms, n);
    At(unchanged_, n) = o.Atom == a && SameBits(o.X, s.X) && SameBits(o.Y, s.Y) && SameBits(o.Z, s.Z) &&
                    o.Number == s.Number && o.RadiusType == s.RadiusType;
  }
}

bool TMemoSession::Holds(const TAtom& atom, const std::vector<TAtom*>& neighbours) const {
  if (!HasRow(lastMemo_.Ranges, atom.Number)) return false;
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  if (!o.Kept || !At(unchanged_, atom.Number)) return false;
  if (o.NeighbourCount != neighbours.size()) return false;
  const std::uint8_t* code = lastMemo_.Neighbours.data() + o.Neighbours;
  std::int32_t previous = atom.Number;
  for (std::size_t t = 0; t < neighbours.size(); ++t) {
    TAtom* p = neighbours[t];
    previous = ReadStep(code, previous);
    if (p->Number != previous) return false;
    if (!HasRow(unchanged_, p->Number) || !At(unchanged_, p->Number) || At(lastMemo_.Atoms, p->Number).Atom != p)
      return false;
  }
  return true;
}

void TMemoSession::CopyRecalled(const TAtom& atom, TCandidateList& out) const {
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  for (std::uint32_t c = o.Candidates; c < o.CandidatesEnd; ++c) out.push_back(lastMemo_.Candidates[c]->Clone());
}

void TMemoSession::ReleaseLast(const TAtom& atom) {
  if (!HasRow(lastMemo_.Ranges, atom.Number)) return;
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  for (std::uint32_t c = o.Candidates; c < o.CandidatesEnd; ++c) lastMemo_.Candidates[c].reset();
}

bool TMemoSession::Recall(const TAtom& atom, const std::vector<TAtom*>& neighbours, std::optional<bool> held,
                          TCandidateList& out) {
  memoAtom_ = atom.Number;
  recalled_ = false;
  if (keep_) {
    TRunMemo::TRange& r = At(memo_.Ranges, atom.Number);
    r.Neighbours = static_cast<std::uint32_t>(memo_.Neighbours.size());
    std::int32_t previous = atom.Number;
    for (const TAtom* p : neighbours) {
      AppendStep(memo_.Neighbours, previous, p->Number);
      previous = p->Number;
    }
    r.NeighbourCount = static_cast<std::uint32_t>(neighbours.size());
    r.Candidates = static_cast<std::uint32_t>(memo_.Candidates.size());
    r.Inner = static_cast<std::uint32_t>(memo_.Inner.size());
    r.Patches = r.PatchesEnd = static_cast<std::uint32_t>(memo_.Patches.size());
    r.PatchEdges = r.PatchEdgesEnd = static_cast<std::uint32_t>(memo_.PatchEdges.size());
  }

  if (!(held ? *held : Holds(atom, neighbours))) return false;
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  if (!keep_) {
    // No later construction reads them: the candidates themselves, no copies.
    for (std::uint32_t c = o.Candidates; c < o.CandidatesEnd; ++c) out.push_back(std::move(lastMemo_.Candidates[c]));
  } else {
    if (!held.has_value()) CopyRecalled(atom, out);
    for (std::uint32_t c = o.Candidates; c < o.CandidatesEnd; ++c)
      memo_.Candidates.push_back(std::move(lastMemo_.Candidates[c]));
  }
  recalled_ = true;
  At(recalledAtoms_, atom.Number) = 1;
  return true;
}

void TMemoSession::Keep(const TCandidateList& candidates, std::span<std::unique_ptr<TConollyObject>> copies,
                        bool pairLogged) {
  if (pairLogged || !keep_) return;
  if (copies.size() == candidates.size()) {
    for (auto& c : copies) memo_.Candidates.push_back(std::move(c));
    return;
  }
  for (const auto& c : candidates) memo_.Candidates.push_back(c->Clone());
}

void TMemoSession::EndAtom(const TAtom& atom, bool pairLogged) {
  // The last run's copies for this atom are of no further use (workers only
  // look at atoms after the run's turn): freed now, one memo's worth of
  // copies is alive at a time instead of two.
  ReleaseLast(atom);
  if (!keep_) {
    memoAtom_ = 0;
    recalled_ = false;
    return;
  }
  TRunMemo::TRange& r = At(memo_.Ranges, atom.Number);
  if (pairLogged) {  // the log lines of the pairs would be missing from a recall
    memo_.Neighbours.resize(r.Neighbours);
    memo_.Candidates.resize(r.Candidates);
    memo_.Inner.resize(r.Inner);
    memo_.Patches.resize(r.Patches);
    memo_.PatchEdges.resize(r.PatchEdges);
    r = {};
  } else {
    r.Kept = true;
    r.CandidatesEnd = static_cast<std::uint32_t>(memo_.Candidates.size());
    r.InnerEnd = static_cast<std::uint32_t>(memo_.Inner.size());
  }
  memoAtom_ = 0;
  recalled_ = false;
}

void TMemoSession::End() {
  if (keep_) {
    carried_.Last = std::make_unique<TRunMemo>(std::move(memo_));
    carried_.Spare = std::make_unique<TRunMemo>(std::move(lastMemo_));
  }
  memo_ = TRunMemo{};
  lastMemo_ = TRunMemo{};
  unchanged_.clear();
  recalledAtoms_.clear();
}

bool TMemoSession::RecallInnerPoint(const TAtom& atom, TExtVector& d, int& code) {
  if (memoAtom_ != atom.Number || !recalled_) return false;
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  for (std::uint32_t k = o.Inner; k < o.InnerEnd; ++k) {
    const TRunMemo::TInnerSearch& s = lastMemo_.Inner[k];
    if (!SameBits(s.Start, d)) continue;
    d = s.Result;
    code = s.Code;
    if (keep_) memo_.Inner.push_back(s);
    return true;
  }
  return false;
}

void TMemoSession::KeepInnerPoint(const TAtom& atom, const TExtVector& start, const TExtVector& result, int code) {
  // A negative code was reported to the log by the search: such a search is not kept.
  if (keep_ && memoAtom_ == atom.Number && code >= 0) memo_.Inner.push_back({start, result, code});
}

bool TMemoSession::RecallPatches(const TAtom& atom, const std::vector<TConollyObject*>& list,
                                 std::span<const TPatchShape>& shapes, std::span<const std::uint16_t>& edges) {
  if (memoAtom_ != atom.Number || !recalled_ || !samePatches_) return false;
  const TRunMemo::TRange& o = At(lastMemo_.Ranges, atom.Number);
  if (!o.PatchesKept) return false;
  std::size_t saddles = 0;
  for (const TConollyObject* e : list) {
    if (e->Kind != kSaddlePatch) continue;
    ++saddles;
    if (e->Atom != &atom && !At(recalledAtoms_, e->Atom->Number)) return false;
  }
  if (saddles != o.Saddles) return false;
  shapes = std::span(lastMemo_.Patches).subspan(o.Patches, o.PatchesEnd - o.Patches);
  edges = std::span(lastMemo_.PatchEdges).subspan(o.PatchEdges, o.PatchEdgesEnd - o.PatchEdges);
  if (keep_) {
    // What the build would have kept: its patches, and the searches it would have recalled.
    TRunMemo::TRange& r = At(memo_.Ranges, atom.Number);
    memo_.Patches.insert(memo_.Patches.end(), shapes.begin(), shapes.end());
    memo_.PatchEdges.insert(memo_.PatchEdges.end(), edges.begin(), edges.end());
    memo_.Inner.insert(memo_.Inner.end(), lastMemo_.Inner.begin() + o.Inner, lastMemo_.Inner.begin() + o.InnerEnd);
    r.PatchesEnd = static_cast<std::uint32_t>(memo_.Patches.size());
    r.PatchEdgesEnd = static_cast<std::uint32_t>(memo_.PatchEdges.size());
    r.Saddles = o.Saddles;
    r.PatchesKept = true;
  }
  return true;
}

void TMemoSession::KeepPatches(const TAtom& atom, const std::vector<TConollyObject*>& list, bool plain) {
  if (!keep_ || memoAtom_ != atom.Number || !plain) return;
  TRunMemo::TRange& r = At(memo_.Ranges, atom.Number);
  SaddlesOf(list, saddles_);
  // Places are kept in 16 bits; a build without saddles adds no patch.
  if (saddles_.empty() || saddles_.size() > std::numeric_limits<std::uint16_t>::max()) return;
  for (TConollyObject* e : list) {
    if (e->Kind != kContactPatch) continue;
    const auto& patch = static_cast<const TConollyObject1&>(*e);
    memo_.Patches.push_back({patch.InnerPoint, static_cast<std::uint32_t>(patch.Edges.size())});
    for (const TConollyObject2* edge : patch.Edges) {
      const auto at = std::find(saddles_.begin(), saddles_.end(), edge);
      if (at == saddles_.end()) {  // an edge from elsewhere: no rebuild from the list
        memo_.Patches.resize(r.Patches);
        memo_.PatchEdges.resize(r.PatchEdges);
        return;
      }
      memo_.PatchEdges.push_back(static_cast<std::uint16_t>(at - saddles_.begin()));
    }
  }
  r.PatchesEnd = static_cast<std::uint32_t>(memo_.Patches.size());
  r.PatchEdgesEnd = static_cast<std::uint32_t>(memo_.PatchEdges.size());
  r.Saddles = static_cast<std::uint16_t>(saddles_.size());
  r.PatchesKept = true;
}

}  // namespace cavitas::surface_detail

namespace cavitas {

TSurfaceMemo::TSurfaceMemo() = default;
TSurfaceMemo::~TSurfaceMemo() = default;
TSurfaceMemo::TSurfaceMemo(TSurfaceMemo&&) noexcept = default;
TSurfaceMemo& TSurfaceMemo::operator=(TSurfaceMemo&&) noexcept = default;
void TSurfaceMemo::Clear() {
  Last.reset();
  Spare.reset();
}

}  // namespace cavitas
