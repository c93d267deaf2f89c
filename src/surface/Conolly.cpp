// The per-atom construction of the Connolly surface: neighbours, probe
// circles, free arcs, registration and the boundary cycles of contact patches.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Status.h"
#include "model/NeighbourGrid.h"
#include "surface/ConollyObjects.h"
#include "surface/ConollyRun.h"

namespace cavitas {

namespace surface_detail {

namespace {

constexpr double kFull = 6.283185;

std::string Width4(int n) {
  char b[24];
  std::snprintf(b, sizeof b, "%4d", n);
  return b;
}

}  // namespace

TConollyRun::TConollyRun(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                         std::int32_t& status, bool split, TElementList& elements)
    : protein_(protein),
      include_(include),
      atomElements_(atomElements),
      status_(status),
      split_(split),
      elements_(elements) {}

TAtom* TConollyRun::AtomOf(int number) const { return protein_.AtomAt(number); }

bool TConollyRun::Included(int number) const {
  return number > 0 && static_cast<std::size_t>(number) < include_.size() && include_[static_cast<std::size_t>(number)] &&
         AtomOf(number) != nullptr;
}

std::vector<TConollyObject*>& TConollyRun::ListOf(int number) {
  if (number < 1 || number > kMaxSurfaceAtoms || static_cast<std::size_t>(number) >= atomElements_.size())
    RaiseLimit("atom number " + std::to_string(number) + " outside the per-atom element lists (60000)");
  return atomElements_[static_cast<std::size_t>(number)];
}

std::string TConollyRun::AtomText(int number) const { return Width4(number); }

void TConollyRun::Execute() {
  ProgressStatus.StageName = "Connolly: atom ";
  ProgressStatus.Total = protein_.AtomCount;
  ProgressStatus.SetPosition(0);
  if (!protein_.NeighboursNear) BuildNeighbourLists(protein_);

  const int count = protein_.AtomCount;
  for (int n = kMaxSurfaceAtoms + 1; n <= count; ++n)
    if (Included(n)) RaiseLimit("more than 60000 atoms in one surface");
  atomElements_.clear();
  atomElements_.resize(static_cast<std::size_t>(std::min(count, kMaxSurfaceAtoms)) + 1);
  elements_.clear();
  elements_.reserve(100);
  const double P = Model.ProbeRadius;
  for (int a = 0; a < 16; ++a)
    for (int b = 0; b < 16; ++b) {
      const double s = Model.RadiusTable[static_cast<std::size_t>(a)] + Model.RadiusTable[static_cast<std::size_t>(b)] + 2 * P;
      pairCutoffSquared_[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)] = s * s;
    }
  arcCutOffs_.reserve(kMaxBlockers);

  for (int i = 1; i <= count; ++i) {
    if (!Included(i)) continue;
    currentAtom_ = i;
    ProgressStatus.SetPosition(i);
    TAtom& atom = *AtomOf(i);
    CollectNeighbours(atom);
    candidates_.clear();
    if (neighbours_.empty() || (neighbours_.size() == 1 && neighbours_[0] == &atom)) {
      candidates_.push_back(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}));
    } else {
      MakePairs(atom);
    }
    Register(atom);
    if (!ListOf(i).empty()) BuildContactPatch(atom);
  }
  if (problemInRun_) RepairDegeneratePoints();
  ProgressStatus.StageName.clear();
  ProgressStatus.SetPosition(0);
}

void TConollyRun::CollectNeighbours(TAtom& atom) {
  neighbours_.clear();
  nbX_.clear();
  nbY_.clear();
  nbZ_.clear();
  nbE2_.clear();
  AtomRadius(atom);  // validates the radius type
  const auto& cut = pairCutoffSquared_[atom.RadiusType];
  const std::size_t k = static_cast<std::size_t>(atom.Number - 1);
  for (const auto* lists : {protein_.NeighboursNear.get(), protein_.NeighboursMid.get(), protein_.NeighboursFar.get()}) {
    if (lists == nullptr || k >= lists->size()) continue;
    for (const TNachbarStruktur& e : (*lists)[k]) {
      if (!Included(e.Atom)) continue;
      TAtom* n = AtomOf(e.Atom);
      AtomRadius(*n);
      if (static_cast<double>(Dist2(atom, *n)) < cut[n->RadiusType]) {
        neighbours_.push_back(n);
        nbX_.push_back(double(n->X) - atom.X);
        nbY_.push_back(double(n->Y) - atom.Y);
        nbZ_.push_back(double(n->Z) - atom.Z);
        const double e = ExpandedRadius(*n);
        nbE2_.push_back(e * e);
      }
    }
  }
}

void TConollyRun::MakePairs(TAtom& atom) {
  for (TAtom* partner : neighbours_) {
    if (partner->Number <= atom.Number) continue;
    TProbeCircle circle;
    const TCircleResult res = PairProbeCircle(atom, *partner, circle);
    if (res == TCircleResult::Identical) {
      ProgramLog().LogLine("Atom Nr " + std::to_string(atom.Number) + " and " + std::to_string(partner->Number) +
                           " identical");
      continue;
    }
    if (res == TCircleResult::NoCircle) continue;
    SweepArcs(atom, *partner, circle);
  }
}

void TConollyRun::SweepArcs(TAtom& atom, TAtom& partner, const TProbeCircle& circle) {
  const Ext r = circle.Radius;
  arcCutOffs_.clear();
  blockers_.clear();
  // Screening runs in double over the neighbour table relative to the atom
  // (the rows are Doubles; the circle itself stays Extended). The axis is the
  // frame's third column. Height z and distance rho from the axis need no
  // frame, so a circle buried whole is rejected before any angle is taken; a
  // buried circle yields no arc whatever the other rows are.
  const double ux = static_cast<double>(circle.Frame[0][2]), uy = static_cast<double>(circle.Frame[1][2]),
               uz = static_cast<double>(circle.Frame[2][2]);
  const double mx = static_cast<double>(circle.Center[0] - atom.X), my = static_cast<double>(circle.Center[1] - atom.Y),
               mz = static_cast<double>(circle.Center[2] - atom.Z);
  const double rd = static_cast<double>(r);
  cuts_.clear();
  const std::size_t nb = neighbours_.size();
  for (std::size_t q = 0; q < nb; ++q) {
    TAtom* k = neighbours_[q];
    if (k == &atom || k == &partner) continue;
    const double wx = nbX_[q] - mx, wy = nbY_[q] - my, wz = nbZ_[q] - mz;
    const double z = wx * ux + wy * uy + wz * uz;
    const double N = nbE2_[q] - z * z;
    if (N <= 0) continue;
    const double rho = std::sqrt(std::max(0.0, wx * wx + wy * wy + wz * wz - z * z));
    const double P = std::sqrt(N);
    if (!(rho - P < rd && rho + P > rd)) continue;
    if (static_cast<int>(cuts_.size()) >= kMaxBlockers)
      RaiseLimit("more than 501 blocking atoms of one probe circle");
    if (rho + rd <= P) return;  // the whole circle lies inside k
    cuts_.push_back({k, q, rho, P});
  }
  const double e1x = static_cast<double>(circle.Frame[0][0]), e1y = static_cast<double>(circle.Frame[1][0]),
               e1z = static_cast<double>(circle.Frame[2][0]);
  const double e2x = static_cast<double>(circle.Frame[0][1]), e2y = static_cast<double>(circle.Frame[1][1]),
               e2z = static_cast<double>(circle.Frame[2][1]);
  for (const TCut& c : cuts_) {
    blockers_.push_back(c.K);
    const double wx = nbX_[c.Index] - mx, wy = nbY_[c.Index] - my, wz = nbZ_[c.Index] - mz;
    const double arg = std::clamp((c.Rho * c.Rho + rd * rd - c.P * c.P) / (2 * c.Rho * rd), -1.0, 1.0);
    const double alpha = (arg == 0) ? 1.570796 : std::acos(arg);
    const double phi = PolarAngleD(wx * e1x + wy * e1y + wz * e1z, wx * e2x + wy * e2y + wz * e2z);
    arcCutOffs_.push_back({phi - alpha, phi + alpha, c.K});
  }

  if (arcCutOffs_.empty()) {
    candidates_.push_back(std::make_unique<TConollyObject2>(&atom, nullptr, nullptr, kFull,
                                                            static_cast<double>(r), circle.Frame, circle.Center,
                                                            &partner));
    return;
  }

  const auto& rows = arcCutOffs_;
  const int n = static_cast<int>(rows.size());
  auto blocker = [&](int row) { return rows[static_cast<std::size_t>(row)].Blocker; };
  auto probeAt = [&](double angle) {
    const Ext a = angle;
    return ToCoord(Add(circle.Center, ToWorld(circle.Frame, {r * std::cos(a), r * std::sin(a), 0})));
  };

  // a. The start: the last blocked angle covering 0, or the wrapping arc's start.
  double s = -0.1;
  int k1 = -1;
  for (int q = 0; q < n; ++q)
    if (rows[q].Start <= 0 && rows[q].End >= s) s = rows[q].End, k1 = q;
  for (int q = 0; q < n; ++q)
    if (rows[q].End > kFull && rows[q].End - kFull >= s) s = rows[q].End - kFull, k1 = q;
  if (s < 0) {
    s = -kFull;
    for (int q = 0; q < n; ++q)
      if (rows[q].End - kFull >= s) s = rows[q].End - kFull, k1 = q;
  }
  if (k1 < 0) throw FatalError(150, "probe circle sweep without a start row");

  for (int guard = 0; guard <= 2 * n + 2; ++guard) {
    // b. Extend s over every blocked interval it lies in.
    if (s >= 0) {
      bool changed = true;
      while (s < kFull && changed) {
        changed = false;
        for (int q = 0; q < n && s <= kFull; ++q)
          if (rows[q].Start <= s && s < rows[q].End) s = rows[q].End, k1 = q, changed = true;
        for (int q = 0; q < n && s <= kFull; ++q)
          if (rows[q].Start + kFull <= s && s < rows[q].End + kFull) s = rows[q].End + kFull, k1 = q, changed = true;
      }
    }
    // c. The next blocked interval after s.
    if (s >= kFull) return;
    double e = s + kFull;
    int k2 = -1;
    for (int q = 0; q < n; ++q)
      if (rows[q].Start > s && rows[q].Start < e) e = rows[q].Start, k2 = q;
    for (int q = 0; q < n; ++q)
      if (rows[q].Start + kFull > s && rows[q].Start + kFull < e) e = rows[q].Start + kFull, k2 = q;
    if (e > kFull || k2 < 0) return;
    // d. The free arc [s, e] and its two concave corners.
    candidates_.push_back(std::make_unique<TConollyObject2>(&atom, blocker(k2), blocker(k1), e - s,
                                                            static_cast<double>(r), TurnFrame(circle.Frame, s),
                                                            circle.Center, &partner));
    candidates_.push_back(std::make_unique<TConollyObject3>(&atom, probeAt(s), blocker(k1), &partner));
    candidates_.push_back(std::make_unique<TConollyObject3>(&atom, probeAt(e), blocker(k2), &partner));
    // e. Continue behind the arc; the blocker that starts at e ends the next start.
    s = e + 1e-7;
    k1 = k2;
  }
}

void TConollyRun::AppendElement(std::unique_ptr<TConollyObject> element, int atomNumber) {
  if (static_cast<std::int64_t>(elements_.size()) >= kMaxElementHandles) {
    status_ = 102;
    ShowError(102, "conolly", "GetAtConolly", false);
    ProgramLog().LogLine("Zu viele Connolly-Elemente ");
    ProgramLog().LogLine("beim Protein " + protein_.FileName + " bei Atom Nr " + Width4(currentAtom_) + ") .");
    throw TAbandonRun{};
  }
  TConollyObject* e = element.get();
  ListOf(atomNumber).push_back(e);
  elements_.push_back(std::move(element));
  if (e->Kind == kSaddlePatch) {
    ListOf(static_cast<TConollyObject2*>(e)->Atom2->Number).push_back(e);
  } else if (e->Kind == kConcavePatch) {
    const auto* c = static_cast<TConollyObject3*>(e);
    ListOf(c->Atom2->Number).push_back(e);
    ListOf(c->Atom3->Number).push_back(e);
  }
  ++elementCounter_;
}

void TConollyRun::Register(TAtom& atom) {
  for (auto& c : candidates_) {
    if (!c->IsOwner()) continue;  // the copy made from another pair survives
    AppendElement(std::move(c), atom.Number);
  }
  candidates_.clear();
}

void TConollyRun::RemoveElement(TConollyObject* element, int atomNumber) {
  auto& list = ListOf(atomNumber);
  if (auto it = std::find(list.rbegin(), list.rend(), element); it != list.rend()) list.erase(std::next(it).base());
  for (auto it = elements_.rbegin(); it != elements_.rend(); ++it)
    if (it->get() == element) {
      elements_.erase(std::next(it).base());
      break;
    }
}

void TConollyRun::BuildContactPatch(TAtom& atom) {
  const int i = atom.Number;
  saddles_.clear();
  cycleRecords_.clear();
  severalCycles_ = false;
  problemForAtom_ = false;
  lastHandled_ = nullptr;
  for (TConollyObject* e : ListOf(i)) {
    if (e->Kind != kSaddlePatch) continue;
    auto* s = static_cast<TConollyObject2*>(e);
    if (static_cast<int>(saddles_.size()) >= kMaxSaddlesPerAtom)
      RaiseLimit("more than 100 saddle patches at atom " + std::to_string(i));
    const int partner = (s->Atom == &atom) ? s->Atom2->Number : s->Atom->Number;
    saddles_.push_back({s, 1, i, partner, s->StartAtom ? s->StartAtom->Number : 0, s->EndAtom ? s->EndAtom->Number : 0});
  }
  if (saddles_.empty()) return;

  AppendElement(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}), i);
  auto* patch = static_cast<TConollyObject1*>(ListOf(i).back());
  bool removed = false;
  while (patch->EdgeCount < static_cast<int>(saddles_.size()) && !problemForAtom_) {
    if (patch->EdgeCount >= 1) {
      if (static_cast<int>(cycleRecords_.size()) >= kMaxFurtherCycles)
        RaiseLimit("more than 10 further boundary cycles at atom " + std::to_string(i));
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
    RemoveElement(patch, i);
    removed = true;
    break;
  }
  if (!removed && !problemForAtom_) ComputeInnerPoint(atom, *patch);
  cycleRecords_.clear();
  severalCycles_ = false;
}

bool TConollyRun::FollowCycle(TAtom& atom, TConollyObject1& patch, const TSaddleRow& first, bool reverse) {
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
      if (!(ds < 1e-5 || de < 1e-5)) continue;
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
      if (partner == closingPartner && third == first.Partner && Dist2(current, cycleStart) < 1e-6) return true;
      found = true;
      break;
    }
    if (!found) {
      RecordProblem(atom.Number, partner, third, current);
      return false;
    }
  }
}

}  // namespace surface_detail

void GetAtConolly(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                  std::int32_t& status, bool split, TElementList& elements) {
  surface_detail::TConollyRun run(protein, include, atomElements, status, split, elements);
  try {
    run.Execute();
  } catch (const surface_detail::TAbandonRun&) {
    // Status 102 is set; the caller turns it into a failed run.
  }
}

namespace {

void ComputeSurface(TProteinObject& protein, int last, TAtomElementLists& atomElements, TElementList& elements,
                    std::int32_t& status, bool split) {
  CheckMemory(108000);
  std::vector<bool> include(static_cast<std::size_t>(std::max(protein.AtomCount, 0)) + 1, false);
  for (int n = 1; n <= last && n <= protein.AtomCount; ++n) include[static_cast<std::size_t>(n)] = true;
  GetAtConolly(protein, include, atomElements, status, split, elements);
}

}  // namespace

void ComputeSurfaceWithoutHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                              std::int32_t& status, bool split) {
  ComputeSurface(protein, protein.ProteinAtomCount, atomElements, elements, status, split);
}

void ComputeSurfaceWithHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                           std::int32_t& status, bool split) {
  ComputeSurface(protein, protein.AtomCount, atomElements, elements, status, split);
}

}  // namespace cavitas
