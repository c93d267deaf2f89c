// Registration and the boundary cycles of contact patches.
#include "surface/ContactPatch.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Tolerances.h"
#include "surface/DegeneratePoints.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas::surface_detail {

namespace {

constexpr std::int64_t kMaxElementHandles = 2147483646;

}  // namespace

std::string Width4(int n) {
  char b[24];
  std::snprintf(b, sizeof b, "%4d", n);
  return b;
}

TElementStore::TElementStore(TAtomElementLists& lists, TElementList& elements, TRunStatus& status,
                             std::string fileName)
    : lists_(lists), elements_(elements), status_(status), fileName_(std::move(fileName)) {}

void TElementStore::Reset(int atomCount) {
  lists_.clear();
  lists_.resize(RowsFor(atomCount));
  elements_.clear();
  elements_.reserve(100);
}

std::vector<TConollyObject*>& TElementStore::ListOf(int number) {
  if (number < 1 || !HasRow(lists_, number))
    RaiseLimit("atom number " + std::to_string(number) + " outside the per-atom element lists");
  return At(lists_, number);
}

void TElementStore::Append(std::unique_ptr<TConollyObject> element, int atomNumber) {
  if (static_cast<std::int64_t>(elements_.size()) >= kMaxElementHandles) {
    status_ = TRunStatus::TooManyElements;
    ShowError(TErrorCode::TooManyElements, "conolly", "GetAtConolly", false);
    ProgramLog().LogLine("Zu viele Connolly-Elemente ");
    ProgramLog().LogLine("beim Protein " + fileName_ + " bei Atom Nr " + Width4(currentAtom_) + ") .");
    throw TAbandonRun{};
  }
  TConollyObject* e = element.get();
  AddTo(atomNumber, e);
  elements_.push_back(std::move(element));
  if (e->Kind == kSaddlePatch) {
    AddTo(static_cast<TConollyObject2*>(e)->Atom2->Number, e);
  } else if (e->Kind == kConcavePatch) {
    const auto* c = static_cast<TConollyObject3*>(e);
    AddTo(c->Atom2->Number, e);
    AddTo(c->Atom3->Number, e);
  }
}

void TElementStore::AddTo(int number, TConollyObject* element) {
  std::vector<TConollyObject*>& list = ListOf(number);
  // An atom on the surface has some 7 to 30 elements (13 typically): room for
  // 16 at once instead of growing from one, five blocks for a typical list.
  if (list.capacity() == 0) list.reserve(16);
  list.push_back(element);
}

void TElementStore::Remove(TConollyObject* element, int atomNumber) {
  auto& list = ListOf(atomNumber);
  if (auto it = std::find(list.rbegin(), list.rend(), element); it != list.rend()) list.erase(std::next(it).base());
  for (auto it = elements_.rbegin(); it != elements_.rend(); ++it)
    if (it->get() == element) {
      elements_.erase(std::next(it).base());
      break;
    }
}

void TElementStore::Register(std::vector<std::unique_ptr<TConollyObject>>& candidates, int atomNumber) {
  for (auto& c : candidates) {
    if (!c->IsOwner()) continue;  // the copy made from another pair survives
    Append(std::move(c), atomNumber);
  }
  candidates.clear();
}

TContactPatchBuilder::TContactPatchBuilder(TElementStore& store, TDegeneracies& degeneracies, TInnerPointSource& inner,
                                           bool split, const TModelConstants& model)
    : store_(store), degeneracies_(degeneracies), inner_(inner), split_(split), model_(model) {}

bool TContactPatchBuilder::Build(TAtom& atom, const std::vector<TAtom*>& neighbours) {
  const int i = atom.Number;
  neighbours_ = &neighbours;
  saddles_.clear();
  cycleRecords_.clear();
  severalCycles_ = false;
  problemForAtom_ = false;
  noInnerPoint_ = false;
  lastHandled_ = nullptr;
  for (TConollyObject* e : store_.ListOf(i)) {
    if (e->Kind != kSaddlePatch) continue;
    auto* s = static_cast<TConollyObject2*>(e);
    const int partner = (s->Atom == &atom) ? s->Atom2->Number : s->Atom->Number;
    saddles_.push_back({s, 1, i, partner, s->StartAtom ? s->StartAtom->Number : 0, s->EndAtom ? s->EndAtom->Number : 0});
  }
  if (saddles_.empty()) return false;

  store_.Append(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}), i);
  auto* patch = static_cast<TConollyObject1*>(store_.ListOf(i).back());
  patch->Edges.reserve(saddles_.size());  // its cycles take each saddle once at most
  bool removed = false;
  while (patch->EdgeCount < static_cast<int>(saddles_.size()) && !problemForAtom_) {
    if (patch->EdgeCount >= 1) {
      cycleRecords_.emplace_back(patch->EdgeCount + 1, patch->EdgeCount);
      severalCycles_ = true;
    }
    auto first = std::find_if(saddles_.begin(), saddles_.end(), [](const TSaddleRow& r) { return r.State == 1; });
    first->State = 2;
    patch->AddEdge(first->Saddle);
    lastHandled_ = first->Saddle;
    if (first->Start == 0 || first->End == 0) continue;  // a full circle is a cycle of its own
    if (FollowCycle(atom, *patch, *first, false)) continue;
    turnFlag_ = !turnFlag_;
    if (!turnFlag_) {
      // Walk the cycle the other way round from its first edge.
      if (FollowCycle(atom, *patch, *first, true)) continue;
      turnFlag_ = !turnFlag_;  // set again: the patch goes
    }
    store_.Remove(patch, i);
    removed = true;
    break;
  }
  if (!removed && !problemForAtom_) {
    SetInnerPoint(atom, *patch, lastHandled_);
    if (severalCycles_ && split_) SplitPatch(atom, *patch);
  }
  degeneracies_.SetOpen(i, problemForAtom_);
  cycleRecords_.clear();
  severalCycles_ = false;
  neighbours_ = nullptr;
  // Only a walk that failed (a problem) reads and flips turnFlag_; a failed
  // search wrote to the log.
  return !removed && !problemForAtom_ && !noInnerPoint_;
}

void SaddlesOf(const std::vector<TConollyObject*>& list, std::vector<TConollyObject2*>& saddles) {
  saddles.clear();
  for (TConollyObject* e : list)
    if (e->Kind == kSaddlePatch) saddles.push_back(static_cast<TConollyObject2*>(e));
}

void TContactPatchBuilder::Rebuild(TAtom& atom, std::span<const TPatchShape> shapes,
                                   std::span<const std::uint16_t> edges) {
  const int i = atom.Number;
  SaddlesOf(store_.ListOf(i), listSaddles_);
  std::size_t k = 0;
  for (const TPatchShape& shape : shapes) {
    store_.Append(std::make_unique<TConollyObject1>(&atom, shape.InnerPoint), i);
    auto* patch = static_cast<TConollyObject1*>(store_.ListOf(i).back());
    patch->Edges.reserve(shape.EdgeCount);
    for (std::uint32_t n = 0; n < shape.EdgeCount; ++n) patch->AddEdge(listSaddles_.at(edges[k++]));
  }
  degeneracies_.SetOpen(i, false);
}

bool TContactPatchBuilder::FollowCycle(TAtom& atom, TConollyObject1& patch, const TSaddleRow& first, bool reverse) {
  TCoord a, b;
  first.Saddle->ArcEnds(a, b);
  TCoord current = reverse ? a : b;
  const TCoord cycleStart = reverse ? b : a;
  int third = reverse ? first.Start : first.End;
  const int closingPartner = reverse ? first.End : first.Start;
  int partner = first.Partner;
  for (;;) {
    bool found = false;
    for (TSaddleRow& row : saddles_) {
      if (row.State != 1 || row.Partner != third || (row.Start != partner && row.End != partner)) continue;
      TCoord s, e;
      row.Saddle->ArcEnds(s, e);
      const Ext ds = Dist2(current, s), de = Dist2(current, e);
      if (!(ds < tolerance::kSamePoint2 || de < tolerance::kSamePoint2)) continue;
      patch.AddEdge(row.Saddle);
      row.State = 2;
      lastHandled_ = row.Saddle;
      int newThird;
      if (row.Start == partner && row.End == partner) {
        current = (ds > de) ? s : e;
        newThird = partner;
      } else if (row.Start != partner) {  // entered at its end
        current = s;
        newThird = row.Start;
      } else {
        current = e;
        newThird = row.End;
      }
      partner = row.Partner;
      third = newThird;
      if (partner == closingPartner && third == first.Partner && Dist2(current, cycleStart) < tolerance::kCycleClosed2)
        return true;
      found = true;
      break;
    }
    if (!found) {
      degeneracies_.RecordProblem(atom, *neighbours_, partner, third, current);
      problemForAtom_ = true;
      return false;
    }
  }
}

void TContactPatchBuilder::ReportInnerPointFailure(const TAtom& atom) {
  store_.Status() = TRunStatus::NoInnerPoint;
  ShowError(TErrorCode::NoInnerPoint, "conolly", "GetAtConolly", false);
  ProgramLog().LogLine("Fehler beim Berechnen eines inneren Punktes");
  ProgramLog().LogLine("beim Protein " + store_.FileName() + " bei Atom Nr " + Width4(atom.Number) + ") .");
}

void TContactPatchBuilder::SetInnerPoint(TAtom& atom, TConollyObject1& patch, const TConollyObject2* start) {
  TCoord a{1, 0, 0}, b;
  if (start != nullptr) start->ArcEnds(a, b);
  TExtVector d = ToExt(a) - ToExt(atom);
  const int failure = inner_.Find(atom, d);
  patch.InnerPoint = ToCoord(d);
  if (failure > 0) {
    noInnerPoint_ = true;
    ReportInnerPointFailure(atom);
  }
}

}  // namespace cavitas::surface_detail
