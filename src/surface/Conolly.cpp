// The per-atom construction of the Connolly surface: neighbours, probe
// circles, free arcs, registration and the boundary cycles of contact patches.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Status.h"
#include "frame/Threads.h"
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
                         std::int32_t& status, bool split, TElementList& elements, bool reference,
                         TSurfaceMemo* memo, int threads)
    : protein_(protein),
      include_(include),
      atomElements_(atomElements),
      status_(status),
      split_(split),
      elements_(elements),
      reference_(reference),
      carried_(memo),
      threads_(threads) {}

TAtom* TConollyRun::AtomOf(int number) const { return protein_.AtomAt(number); }

bool TConollyRun::Included(int number) const {
  return number > 0 && static_cast<std::size_t>(number) < include_.size() && include_[static_cast<std::size_t>(number)] &&
         AtomOf(number) != nullptr;
}

std::vector<TConollyObject*>& TConollyRun::ListOf(int number) {
  if (number < 1 || static_cast<std::size_t>(number) >= atomElements_.size())
    RaiseLimit("atom number " + std::to_string(number) + " outside the per-atom element lists");
  return atomElements_[static_cast<std::size_t>(number)];
}

std::string TConollyRun::AtomText(int number) const { return Width4(number); }

void TConollyRun::Execute() {
  ProgressStatus.StageName = "Connolly: atom ";
  ProgressStatus.Total = protein_.AtomCount;
  ProgressStatus.SetPosition(0);
  if (!protein_.NeighboursNear) BuildNeighbourLists(protein_);

  const int count = protein_.AtomCount;
  atomElements_.clear();
  atomElements_.resize(static_cast<std::size_t>(std::max(count, 0)) + 1);
  elements_.clear();
  elements_.reserve(100);
  PrepareScan();

  const bool memo = !reference_ && carried_ != nullptr;
  if (memo) BeginMemo();
  std::unique_ptr<TCandidateWorkers> workers;
  if (!reference_ && threads_ > 1) workers = std::make_unique<TCandidateWorkers>(*this, threads_, memo);
  for (int i = 1; i <= count; ++i) {
    if (!Included(i)) continue;
    currentAtom_ = i;
    ProgressStatus.SetPosition(i);
    TAtom& atom = *AtomOf(i);
    if (!workers) {
      candidates_.clear();
      CollectNeighbours(atom);
      if (!memo || !RecallCandidates(atom)) {
        MakeCandidates(atom);
        if (pairLogged_) {
          NoteCoincidentNeighbours(atom);
          tiedAtoms_.insert(tiedAtoms_.end(), tied_.begin(), tied_.end());
        }
        FlushPairLog();
        if (memo) KeepCandidates(atom);
      }
    } else {
      TMadeAtom& m = workers->Take(i);  // may make a chunk with this run's scratch
      candidates_.clear();
      pairLog_.clear();
      pairLogged_ = false;
      if (m.Error) std::rethrow_exception(m.Error);
      neighbours_.assign(m.Chunk->Neighbours.begin() + m.Neighbours, m.Chunk->Neighbours.begin() + m.NeighboursEnd);
      if (!memo || !RecallCandidates(atom, &m)) {
        if (!m.Made) {  // the memo held for the worker: it holds here as well
          CollectNeighbours(atom);
          MakeCandidates(atom);
        } else {
          TakeCandidates(m);
          pairLog_ = std::move(m.Log);
          pairLogged_ = !pairLog_.empty();
          tied_ = std::move(m.Tied);
        }
        if (pairLogged_) {
          NoteCoincidentNeighbours(atom);
          tiedAtoms_.insert(tiedAtoms_.end(), tied_.begin(), tied_.end());
        }
        FlushPairLog();
        if (memo) KeepCandidates(atom, &m);
      }
    }
    Register(atom);
    if (!ListOf(i).empty()) BuildContactPatch(atom);
    if (memo) EndAtomMemo(atom);
  }
  workers.reset();
  bool closed = true;
  if (problemInRun_) closed = RepairDegeneratePoints();
  if (memo) EndMemo();
  ProgressStatus.StageName.clear();
  ProgressStatus.SetPosition(0);
  // Points the zero-length edges closed stay as they are. The atoms of tied
  // arcs and coincident equal spheres move, and, when a point stayed open,
  // every atom through a recorded point.
  std::vector<int> atoms = coincidentAtoms_;
  atoms.insert(atoms.end(), tiedAtoms_.begin(), tiedAtoms_.end());
  if (!closed || !openAtoms_.empty()) atoms.insert(atoms.end(), degenerateAtoms_.begin(), degenerateAtoms_.end());
  std::sort(atoms.begin(), atoms.end());
  atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
  if (!atoms.empty()) throw TUnresolvedDegeneracy{std::move(atoms)};
}

// The tables of the per-atom steps; a worker needs them as much as the run.
void TConollyRun::PrepareScan() {
  const double P = Model.ProbeRadius;
  for (int a = 0; a < 16; ++a)
    for (int b = 0; b < 16; ++b) {
      const double s = Model.RadiusTable[static_cast<std::size_t>(a)] + Model.RadiusTable[static_cast<std::size_t>(b)] + 2 * P;
      pairCutoffSquared_[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)] = s * s;
    }
  arcCutOffs_.reserve(kMaxBlockers);
  slots_.assign(reference_ ? 0 : include_.size(), TSlot{});
  for (std::size_t n = 1; n < slots_.size(); ++n)
    if (Included(static_cast<int>(n))) {
      TAtom* a = AtomOf(static_cast<int>(n));
      slots_[n] = {a->X, a->Y, a->Z, a->RadiusType, a->Number, a};
    }
}

void TConollyRun::MakeCandidates(TAtom& atom) {
  pairLogged_ = false;
  pairLog_.clear();
  tied_.clear();
  if (neighbours_.empty() || (neighbours_.size() == 1 && neighbours_[0] == &atom)) {
    candidates_.push_back(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}));
  } else {
    MakeCaps(atom);
    MakePairs(atom);
  }
}

void TConollyRun::FlushPairLog() {
  for (const std::string& line : pairLog_) ProgramLog().LogLine(line);
  pairLog_.clear();
}

void TConollyRun::CollectNeighbours(TAtom& atom) {
  if (reference_) return CollectNeighboursReference(atom);
  neighbours_.clear();
  near_.clear();
  ExpandedRadius(atom);  // validates the radius type
  const auto& cut = pairCutoffSquared_[atom.RadiusType];
  const double probe = Model.ProbeRadius;
  const std::size_t k = static_cast<std::size_t>(atom.Number - 1);
  const TSlot* slots = slots_.data();
  const std::size_t nSlots = slots_.size();
  for (const auto* lists : {protein_.NeighboursNear.get(), protein_.NeighboursMid.get(), protein_.NeighboursFar.get()}) {
    if (lists == nullptr || k >= lists->size()) continue;
    for (const TNachbarStruktur& e : (*lists)[k]) {
      const std::size_t number = static_cast<std::size_t>(e.Atom);
      if (number >= nSlots || slots[number].Atom == nullptr) continue;  // not Included
      const TSlot& sl = slots[number];
      TAtom* n = sl.Atom;
      if (sl.RadiusType > 15) ExpandedRadius(*n);  // raises as the reference does here
      // The squared distance in double errs by a few roundings (1e-15 of it);
      // only near the cutoff the long-double value decides.
      const double x = double(sl.X) - atom.X, y = double(sl.Y) - atom.Y, z = double(sl.Z) - atom.Z;
      const double D2 = x * x + y * y + z * z;
      const double cutoff = cut[sl.RadiusType];
      if (D2 > cutoff * (1 + 1e-12)) continue;
      if (D2 >= cutoff * (1 - 1e-12) && !(static_cast<double>(Dist2(atom, *n)) < cutoff)) continue;
      const double Ek = Model.RadiusTable[sl.RadiusType] + probe;  // ExpandedRadius(*n)
      neighbours_.push_back(n);
      near_.push_back({x, y, z, D2, Ek, sl.Number});
    }
  }
}

void TConollyRun::MakeCaps(const TAtom& atom) {
  if (reference_) return;  // CollectNeighboursReference made them
  ClearCaps();
  const double Ei = ExpandedRadius(atom);
  for (std::size_t q = 0; q < near_.size(); ++q) {
    const auto [x, y, z, D2, Ek, number] = near_[q];
    AddCap(MakeCap(x, y, z, D2, Ei, Ek, number), neighbours_[q] == &atom);
  }
  // Inert caps (never blocking, never burying) fill the last block of the burial screen.
  while (capCos_.size() % kCapBlock != 0) {
    capUx_.push_back(0);
    capUy_.push_back(0);
    capUz_.push_back(0);
    capCos_.push_back(2.0);
  }
  capClass_.resize(capCos_.size());
  blocked_.Resize(capCos_.size());
}

// The cap of the atom's expanded sphere (radius Ei) that lies inside the
// expanded sphere (Ek) of the neighbour at offset (x, y, z), D2 its square:
// around the unit direction U with half-angle g, cos g = F / (D * Ei).
TConollyRun::TCap TConollyRun::MakeCap(double x, double y, double z, double D2, double Ei, double Ek,
                                       std::int32_t number) {
  TCap c;
  c.Number = number;
  c.Coincident = D2 < 1e-12;
  const double D = std::sqrt(D2);
  c.Ux = c.Coincident ? 0 : x / D;
  c.Uy = c.Coincident ? 0 : y / D;
  c.Uz = c.Coincident ? 0 : z / D;
  c.CosG = c.Coincident ? 0 : (Ei * Ei + D2 - Ek * Ek) / (2 * D * Ei);
  c.SinG2 = 1 - c.CosG * c.CosG;
  c.SinG = std::sqrt(std::max(0.0, c.SinG2));
  c.Covers = c.Coincident && Ek > Ei;
  // The pair's probe circle has r^2 = Ei^2 sin^2 g. In double sin^2 g errs
  // by about 1e-15 (Q + 1)^2, Q = (Ei^2 + D^2 + Ek^2) / (D Ei); beyond
  // 1e-12 of that its sign is the sign of the long-double r^2.
  const double P = D * Ei, T = Ei * Ei + D2 + Ek * Ek + P;
  c.CircleKnown = !c.Coincident && std::fabs(c.SinG2) * P * P > 1e-12 * T * T;
  return c;
}

void TConollyRun::ClearCaps() {
  caps_.clear();
  capUx_.clear();
  capUy_.clear();
  capUz_.clear();
  capCos_.clear();
  recentBuriers_ = {0, 0};
}

// The atom itself and a coincident centre are no direction: they bury the whole
// sphere (cos -2) when larger, else never block (cos 2).
void TConollyRun::AddCap(const TCap& c, bool self) {
  caps_.push_back(c);
  capUx_.push_back(c.Ux);
  capUy_.push_back(c.Uy);
  capUz_.push_back(c.Uz);
  capCos_.push_back(self || c.Coincident ? (c.Covers ? -2.0 : 2.0) : c.CosG);
}

void TConollyRun::CollectNeighboursReference(TAtom& atom) {
  neighbours_.clear();
  ClearCaps();
  const double Ei = ExpandedRadius(atom);  // also validates the radius type
  const auto& cut = pairCutoffSquared_[atom.RadiusType];
  const std::size_t k = static_cast<std::size_t>(atom.Number - 1);
  for (const auto* lists : {protein_.NeighboursNear.get(), protein_.NeighboursMid.get(), protein_.NeighboursFar.get()}) {
    if (lists == nullptr || k >= lists->size()) continue;
    for (const TNachbarStruktur& e : (*lists)[k]) {
      if (!Included(e.Atom)) continue;
      TAtom* n = AtomOf(e.Atom);
      const double Ek = ExpandedRadius(*n);
      if (!(static_cast<double>(Dist2(atom, *n)) < cut[n->RadiusType])) continue;
      neighbours_.push_back(n);
      const double x = double(n->X) - atom.X, y = double(n->Y) - atom.Y, z = double(n->Z) - atom.Z;
      AddCap(MakeCap(x, y, z, x * x + y * y + z * z, Ei, Ek, n->Number), n == &atom);
    }
  }
}

void TConollyRun::MakePairs(TAtom& atom) {
  // Beyond 501 neighbours the order of the blocker count matters: the plain screen.
  const bool plain = reference_ || neighbours_.size() > kMaxBlockers;
  for (std::size_t j = 0; j < neighbours_.size(); ++j) {
    const TCap& cap = caps_[j];
    if (cap.Number <= atom.Number) continue;
    TAtom& partner = *neighbours_[j];
    TCircleResult res;
    if (plain) {
      TProbeCircle circle;
      res = PairProbeCircle(atom, partner, circle);
      if (res == TCircleResult::Ok) SweepArcsReference(atom, j, circle);
    } else {
      res = cap.CircleKnown ? (cap.SinG2 > 0 ? TCircleResult::Ok : TCircleResult::NoCircle)
                            : PairCircleKind(atom, partner);
      if (res == TCircleResult::Ok) SweepArcs(atom, j);
    }
    if (res == TCircleResult::Identical) {
      pairLogged_ = true;
      pairLog_.push_back("Atom Nr " + std::to_string(atom.Number) + " and " + std::to_string(partner.Number) +
                         " identical");
    }
  }
}

namespace {

// A monotone stand-in for the polar angle of (x, y): [0, 4) for [0, 2pi).
// The sweep only compares interval ends, so it runs on these values and takes
// a real angle only at the ends of the arcs it emits.
inline double PseudoAngle(double x, double y) {
  if (y >= 0) return x >= 0 ? (x + y == 0 ? 0.0 : y / (x + y)) : 1 - x / (-x + y);
  return x < 0 ? 2 - y / (-x - y) : 3 + x / (x - y);
}

// PseudoAngle with selects instead of branches, so a loop over many rows
// vectorises; equal to PseudoAngle except that it may give +0 for -0, which
// every comparison and sum of the sweep treats alike.
inline double PseudoAngleSelect(double x, double y) {
  const bool up = y >= 0, right = x >= 0, left = x < 0;
  const bool origin = up && right && x + y == 0;
  const double n = origin ? 0.0 : (up ? (right ? y : x) : (left ? y : x));
  const double d = origin ? 1.0 : (up ? (right ? x + y : -x + y) : (left ? -x - y : x - y));
  const double o = up ? (right ? 0.0 : 1.0) : (left ? 2.0 : 3.0);
  const double q = n / d;
  return o + ((up ? right : !left) ? q : -q);  // quadrants I and IV add, II and III subtract
}

constexpr double kPseudoFull = 4.0;
constexpr double kPseudoPerRadian = kPseudoFull / kFull;

// What the rows of one circle share: the partner's cap (unit direction J,
// cos and 1 / sin of its half-angle) and the circle's in-plane axes e1, e2.
struct TRowCircle {
  double Jx, Jy, Jz, CosJ, InvSinJ, E1x, E1y, E1z, E2x, E2y, E2z;
};

// The blocked rows of m blocker caps (directions U, cos of half-angle CosG):
// the arithmetic of SweepArcsReference, operation for operation, in one loop
// without branches over arrays that do not overlap, so that it vectorises.
CAVITAS_WIDE_LANES void BlockedRows(std::size_t m, const TRowCircle k, const double* __restrict ux,
                                    const double* __restrict uy, const double* __restrict uz,
                                    const double* __restrict cosG, double* __restrict start, double* __restrict end,
                                    double* __restrict startX, double* __restrict startY, double* __restrict endX,
                                    double* __restrict endY) {
  for (std::size_t t = 0; t < m; ++t) {
    const double c = k.Jx * ux[t] + k.Jy * uy[t] + k.Jz * uz[t];
    const double num = cosG[t] - k.CosJ * c;
    const double s2 = std::max(0.0, 1 - c * c);
    const double invS = 1 / std::sqrt(s2);
    const double a0 = num * invS * k.InvSinJ;
    const double A = a0 < -1.0 ? -1.0 : (1.0 < a0 ? 1.0 : a0);  // std::clamp
    const double sinA = std::sqrt(std::max(0.0, 1 - A * A));
    const double dx = (ux[t] * k.E1x + uy[t] * k.E1y + uz[t] * k.E1z) * invS;
    const double dy = (ux[t] * k.E2x + uy[t] * k.E2y + uz[t] * k.E2z) * invS;
    const double sx = dx * A + dy * sinA, sy = -dx * sinA + dy * A;  // turned by -alpha
    const double ex = dx * A - dy * sinA, ey = dx * sinA + dy * A;   // turned by +alpha
    const double pd = PseudoAngleSelect(dx, dy);
    const double ps = PseudoAngleSelect(sx, sy), pe = PseudoAngleSelect(ex, ey);
    start[t] = ps > pd ? ps - kPseudoFull : ps;
    end[t] = pe < pd ? pe + kPseudoFull : pe;
    startX[t] = sx;
    startY[t] = sy;
    endX[t] = ex;
    endY[t] = ey;
  }
}

// The partner's cap of one circle for the burial screen: unit direction J,
// cos and sin^2 of its half-angle.
struct TScreenCircle {
  double Jx, Jy, Jz, CosJ, SinJ2;
};
constexpr std::size_t kBuried = std::numeric_limits<std::size_t>::max();

// The burial screen of one circle over nb caps (whole blocks of kCapBlock):
// per block, the caps are classified (cls: 1 or 3 blocks part of the circle,
// 2 buries it); the first burier ends the screen (kBuried, its index in
// burier), else the blockers of the block are appended to index. Returns
// how many were listed. The partner's own cap never counts.
CAVITAS_WIDE_LANES std::size_t ScreenCaps(std::size_t nb, std::size_t partner, const TScreenCircle j,
                                          const double* __restrict ux, const double* __restrict uy,
                                          const double* __restrict uz, const double* __restrict cg,
                                          double* __restrict cls, std::uint32_t* __restrict index,
                                          std::size_t& burier) {
  std::size_t m = 0;
  for (std::size_t q0 = 0; q0 < nb; q0 += kCapBlock) {
#pragma GCC unroll 1  // kept a loop, so that it is vectorised rather than unrolled
    for (std::size_t q = q0; q < q0 + kCapBlock; ++q) {
      const double c = j.Jx * ux[q] + j.Jy * uy[q] + j.Jz * uz[q];
      const double num = cg[q] - j.CosJ * c;
      const double den2 = j.SinJ2 * std::max(0.0, 1 - c * c);
      cls[q] = (num * num < den2 ? 1.0 : 0.0) + (num <= 0 ? 2.0 : 0.0);  // doubles: selects vectorise
    }
    if (partner - q0 < kCapBlock) cls[partner] = 0;
    for (std::size_t q = q0; q < q0 + kCapBlock; ++q)
      if (cls[q] == 2) {
        burier = q;
        return kBuried;
      }
    for (std::size_t q = q0; q < q0 + kCapBlock; ++q) {
      index[m] = static_cast<std::uint32_t>(q);
      m += static_cast<std::size_t>(cls[q]) & 1;  // 1 or 3
    }
  }
  return m;
}

}  // namespace

// What the cover test of one circle needs: the partner's cap (unit direction
// J, cos and sin^2 of its half-angle) and any orthonormal axes e1, e2 of the
// circle's plane.
struct TCoverCircle {
  double Jx, Jy, Jz, CosJ, SinJ2, E1x, E1y, E1z, E2x, E2y, E2z;
};

// Per blocker k of one circle, with c = J.u_k, s^2 = 1 - c^2, num = cos g_k - cos g_j c
// and h = sqrt(s^2 sin^2 g_j - num^2): the in-plane direction (X, Y) = u_k
// projected on (e1, e2) (length s), the end of k's blocked arc scaled by
// s^2 sin g_j, (Px, Py) = num (X, Y) + h (-Y, X), and N = num, R = s^2.
// The end of arc k lies inside arc l exactly when Px_k X_l + Py_k Y_l > N_l R_k;
// the difference is the cosine margin times s_k^2 s_l sin g_j <= 1. Rows whose
// arc is nearly empty or nearly whole, or whose direction is nearly the axis,
// get N = Px = NaN: such rows are never decided here (their Width is 1e300,
// beyond every other, so the cover test tries them last).
CAVITAS_WIDE_LANES void CoverRows(std::size_t m, const TCoverCircle k, const double* __restrict ux,
                                  const double* __restrict uy, const double* __restrict uz,
                                  const double* __restrict cosG, double* __restrict x, double* __restrict y,
                                  double* __restrict n, double* __restrict r, double* __restrict px,
                                  double* __restrict py, double* __restrict width) {
  constexpr double kIllConditioned = 1e-4;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t t = 0; t < m; ++t) {
    const double c = k.Jx * ux[t] + k.Jy * uy[t] + k.Jz * uz[t];
    const double num = cosG[t] - k.CosJ * c;
    const double s2 = 1 - c * c;
    const double den2 = k.SinJ2 * s2;
    const double h2 = den2 - num * num;
    const double h = std::sqrt(std::max(0.0, h2));
    const double xt = ux[t] * k.E1x + uy[t] * k.E1y + uz[t] * k.E1z;
    const double yt = ux[t] * k.E2x + uy[t] * k.E2y + uz[t] * k.E2z;
    const double poison = (s2 < kIllConditioned || h2 < kIllConditioned * den2) ? nan : 0.0;
    x[t] = xt;
    y[t] = yt;
    n[t] = num + poison;
    r[t] = s2;
    px[t] = num * xt - h * yt + poison;
    py[t] = num * yt + h * xt;
    const double key = num * std::fabs(num) / s2;  // increases with cos of the half-width
    width[t] = poison == 0 && std::fabs(key) < 1e300 ? key : 1e300;
  }
}

// Whether every blocked arc ends well inside another one, so that the arcs
// cover the whole circle beyond any rounding of the exact rows (the margin
// 1e-6 in cosine dwarfs their errors, about 1e-10 for the rows admitted). An
// arc never covers its own end: that margin is 0 up to rounding (about 1e-16).
// The answer does not depend on the order in which arcs are tried; hit is
// scratch space of m entries.
CAVITAS_WIDE_LANES bool CoveredWithMargin(std::size_t m, const double* __restrict x, const double* __restrict y,
                                          const double* __restrict n, const double* __restrict r,
                                          const double* __restrict px, const double* __restrict py,
                                          const double* __restrict width, double* __restrict hit) {
  constexpr double kMargin = 1e-6;
  if (m < 2) return false;
  // The four widest arcs (smallest cos of the half-width, compared as
  // N |N| / R without a root) cover most ends. The keys carry their row in
  // the last 9 bits (m <= 501), so that min and max keep them in order
  // without branches; that reorders only keys equal to 15 digits, and an
  // undecidable row (key 1e300) is tried only when fewer than four are not.
  constexpr std::uint64_t kRowBits = 511;
  auto tagged = [](double key, std::size_t row) {
    std::uint64_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    bits = (bits & ~kRowBits) | row;
    std::memcpy(&key, &bits, sizeof bits);
    return key;
  };
  auto rowOf = [](double key) {
    std::uint64_t bits;
    std::memcpy(&bits, &key, sizeof bits);
    return static_cast<std::size_t>(bits & kRowBits);
  };
  double k0 = tagged(1e301, 0), k1 = k0, k2 = k0, k3 = k0;
  for (std::size_t l = 0; l < m; ++l) {
    double t = tagged(width[l], l), lo;
    lo = std::min(k0, t), t = std::max(k0, t), k0 = lo;
    lo = std::min(k1, t), t = std::max(k1, t), k1 = lo;
    lo = std::min(k2, t), t = std::max(k2, t), k2 = lo;
    k3 = std::min(k3, t);
  }
  const std::size_t i0 = rowOf(k0), i1 = rowOf(k1), i2 = rowOf(k2), i3 = rowOf(k3);
  // Ends inside one of the four, for all ends in one pass without branches.
  const double x0 = x[i0], y0 = y[i0], n0 = n[i0], x1 = x[i1], y1 = y[i1], n1 = n[i1];
  const double x2 = x[i2], y2 = y[i2], n2 = n[i2], x3 = x[i3], y3 = y[i3], n3 = n[i3];
  for (std::size_t k = 0; k < m; ++k) {
    const double a = px[k], b = py[k], rk = r[k];
    const bool h = (a * x0 + b * y0 - n0 * rk > kMargin) | (a * x1 + b * y1 - n1 * rk > kMargin) |
                   (a * x2 + b * y2 - n2 * rk > kMargin) | (a * x3 + b * y3 - n3 * rk > kMargin);
    hit[k] = h ? 1.0 : 0.0;
  }
  // The other ends against every arc, first against the arc that held the
  // last such end (ends left over tend to fall into the same narrow arcs).
  std::size_t last = i0;
  for (std::size_t k = 0; k < m; ++k) {
    if (hit[k] != 0) continue;
    const double a = px[k], b = py[k], rk = r[k];
    if (a * x[last] + b * y[last] - n[last] * rk > kMargin) continue;
    std::size_t l = 0;
    while (l < m && !(a * x[l] + b * y[l] - n[l] * rk > kMargin)) ++l;
    if (l == m) return false;
    last = l;
  }
  return true;
}

void TConollyRun::SweepArcs(TAtom& atom, std::size_t partnerIndex) {
  // The same tests as SweepArcsReference, bit for bit; with at most 501
  // neighbours the blocker bound cannot be reached, so any burier ends the
  // circle whatever its position, and a recent burier is tried first.
  const TCap& cj = caps_[partnerIndex];
  const double sj2 = cj.SinG2;
  const double jx = cj.Ux, jy = cj.Uy, jz = cj.Uz, jc = cj.CosG;
  const double* ux = capUx_.data();
  const double* uy = capUy_.data();
  const double* uz = capUz_.data();
  const double* cg = capCos_.data();
  auto buries = [&](std::size_t q) {
    const double c = jx * ux[q] + jy * uy[q] + jz * uz[q];
    const double num = cg[q] - jc * c;
    return !(num * num < sj2 * std::max(0.0, 1 - c * c)) && num <= 0;
  };
  for (const std::size_t q : recentBuriers_)
    if (q != partnerIndex && q < capCos_.size() && buries(q)) return;
  // Blocks of neighbours: the caps of a block are classified in one
  // vectorised pass (1 or 3 blocks part of the circle, 2 buries it), a
  // burier in it ends the circle, and the blockers of a block that buries
  // nothing are listed. A burier sits early in the order on average, so a
  // buried circle is left after a few blocks.
  TBlockedRows& b = blocked_;  // sized for this atom's neighbours by CollectNeighbours
  std::size_t burier = 0;
  const std::size_t m = ScreenCaps(capCos_.size(), partnerIndex, {jx, jy, jz, jc, sj2}, ux, uy, uz, cg,
                                   capClass_.data(), b.Index.data(), burier);
  if (m == kBuried) {
    recentBuriers_[1] = recentBuriers_[0];
    recentBuriers_[0] = burier;
    return;
  }

  // The blockers' caps side by side.
  for (std::size_t t = 0; t < m; ++t) {
    const std::size_t q = b.Index[t];
    b.Ux[t] = ux[q];
    b.Uy[t] = uy[q];
    b.Uz[t] = uz[q];
    b.CosG[t] = cg[q];
  }
  // Most circles that no single neighbour buries are still covered by their
  // blocked arcs together: then the sweep finds no free arc, and a test on
  // the arc ends with a wide margin proves it without the exact rows.
  {
    int a = 0;  // the world axis least aligned with J
    const double aj[3] = {std::fabs(jx), std::fabs(jy), std::fabs(jz)};
    if (aj[1] < aj[a]) a = 1;
    if (aj[2] < aj[a]) a = 2;
    const double j[3] = {jx, jy, jz};
    double e1[3] = {-j[a] * jx, -j[a] * jy, -j[a] * jz};
    e1[a] += 1;
    const double inv = 1 / std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
    for (double& v : e1) v *= inv;
    const double e2[3] = {jy * e1[2] - jz * e1[1], jz * e1[0] - jx * e1[2], jx * e1[1] - jy * e1[0]};
    CoverRows(m, {jx, jy, jz, jc, sj2, e1[0], e1[1], e1[2], e2[0], e2[1], e2[2]}, b.Ux.data(), b.Uy.data(),
              b.Uz.data(), b.CosG.data(), b.X.data(), b.Y.data(), b.N.data(), b.R.data(), b.Px.data(),
              b.Py.data(), b.Width.data());
    if (CoveredWithMargin(m, b.X.data(), b.Y.data(), b.N.data(), b.R.data(), b.Px.data(), b.Py.data(),
                          b.Width.data(), b.Hit.data()))
      return;
  }

  // The exact rows in one branch-free pass (the compiler vectorises it; sqrt
  // and division round the same in every lane).
  TAtom& partner = *neighbours_[partnerIndex];
  TProbeCircle circle;
  PairProbeCircle(atom, partner, circle);  // Ok: PairCircleKind said so
  const double sj = cj.SinG, invSj = sj > 0 ? 1 / sj : 0;
  const double e1x = static_cast<double>(circle.Frame[0][0]), e1y = static_cast<double>(circle.Frame[1][0]),
               e1z = static_cast<double>(circle.Frame[2][0]);
  const double e2x = static_cast<double>(circle.Frame[0][1]), e2y = static_cast<double>(circle.Frame[1][1]),
               e2z = static_cast<double>(circle.Frame[2][1]);
  BlockedRows(m, {jx, jy, jz, jc, invSj, e1x, e1y, e1z, e2x, e2y, e2z}, b.Ux.data(), b.Uy.data(), b.Uz.data(),
              b.CosG.data(), b.Start.data(), b.End.data(), b.StartX.data(), b.StartY.data(), b.EndX.data(),
              b.EndY.data());
  const double* rs = b.Start.data();
  const double* re = b.End.data();
  const double* rsx = b.StartX.data();
  const double* rsy = b.StartY.data();
  const double* rex = b.EndX.data();
  const double* rey = b.EndY.data();
  arcCutOffs_.resize(m);
  for (std::size_t t = 0; t < m; ++t)
    arcCutOffs_[t] = {rs[t], re[t], neighbours_[b.Index[t]], rsx[t], rsy[t], rex[t], rey[t]};
  EmitFreeArcs(atom, partner, circle);
}

void TConollyRun::SweepArcsReference(TAtom& atom, std::size_t partnerIndex, const TProbeCircle& circle) {
  TAtom& partner = *neighbours_[partnerIndex];
  arcCutOffs_.clear();
  // A point of the probe circle (the boundary of the partner's cap, half-angle
  // gj around uj) lies inside k's cap when cos(phi - phi_k) > A with
  // A = (cos gk - cos gj c) / (sin gj s), c = uj.uk, s = sqrt(1 - c^2).
  // k blocks part of the circle when A < 1 and buries it whole when A <= -1;
  // the blocked arc is phi_k -+ arccos A. Blocking is decided in double.
  const TCap& cj = caps_[partnerIndex];
  const double sj2 = cj.SinG2;
  const double e1x = static_cast<double>(circle.Frame[0][0]), e1y = static_cast<double>(circle.Frame[1][0]),
               e1z = static_cast<double>(circle.Frame[2][0]);
  const double e2x = static_cast<double>(circle.Frame[0][1]), e2y = static_cast<double>(circle.Frame[1][1]),
               e2z = static_cast<double>(circle.Frame[2][1]);
  const std::size_t nb = neighbours_.size();
  // First a cheap pass for a neighbour that buries the whole circle (about
  // half of all circles in a protein): then no row is needed at all.
  for (std::size_t q = 0; q < nb; ++q) {
    if (neighbours_[q] == &atom || q == partnerIndex) continue;
    const TCap& ck = caps_[q];
    if (ck.Coincident) {
      if (ck.Covers) return;
      continue;
    }
    const double c = cj.Ux * ck.Ux + cj.Uy * ck.Uy + cj.Uz * ck.Uz;
    const double num = ck.CosG - cj.CosG * c;
    const double den2 = sj2 * std::max(0.0, 1 - c * c);
    if (num * num >= den2 && num <= 0) return;
  }
  const double sj = cj.SinG, invSj = sj > 0 ? 1 / sj : 0;
  for (std::size_t q = 0; q < nb; ++q) {
    TAtom* k = neighbours_[q];
    if (k == &atom || q == partnerIndex) continue;
    const TCap& ck = caps_[q];
    if (ck.Coincident) continue;
    const double c = cj.Ux * ck.Ux + cj.Uy * ck.Uy + cj.Uz * ck.Uz;
    const double num = ck.CosG - cj.CosG * c;
    const double s2 = std::max(0.0, 1 - c * c);
    if (num * num >= sj2 * s2) continue;  // |A| >= 1: k misses the circle (a burier returned above)
    // The direction of k in the circle's plane has length s = sqrt(1 - c^2).
    const double invS = 1 / std::sqrt(s2);
    const double A = std::clamp(num * invS * invSj, -1.0, 1.0);
    const double sinA = std::sqrt(std::max(0.0, 1 - A * A));
    const double dx = (ck.Ux * e1x + ck.Uy * e1y + ck.Uz * e1z) * invS;
    const double dy = (ck.Ux * e2x + ck.Uy * e2y + ck.Uz * e2z) * invS;
    TArcRow row;
    row.Blocker = k;
    row.StartX = dx * A + dy * sinA;  // direction turned by -alpha
    row.StartY = -dx * sinA + dy * A;
    row.EndX = dx * A - dy * sinA;  // turned by +alpha
    row.EndY = dx * sinA + dy * A;
    const double pd = PseudoAngle(dx, dy);
    const double ps = PseudoAngle(row.StartX, row.StartY), pe = PseudoAngle(row.EndX, row.EndY);
    row.Start = ps > pd ? ps - kPseudoFull : ps;  // the row may begin below 0 ...
    row.End = pe < pd ? pe + kPseudoFull : pe;    // ... and end beyond the full turn
    arcCutOffs_.push_back(row);
  }
  EmitFreeArcs(atom, partner, circle);
}

void TConollyRun::NoteTiedArc(TAtom& atom, TAtom& partner, std::size_t k1, std::size_t k2) {
  const TArcRow& r1 = arcCutOffs_[k1];
  const TArcRow& r2 = arcCutOffs_[k2];
  const auto near = [](double x, double y, double u, double v) {
    return (u - x) * (u - x) + (v - y) * (v - y) < kTiedEnds2;
  };
  // The rows other than `own` with an end at (x, y).
  const auto tiedAt = [&](std::size_t own, double x, double y) {
    std::size_t tied = 0;
    for (std::size_t q = 0; q < arcCutOffs_.size(); ++q) {
      const TArcRow& r = arcCutOffs_[q];
      if (q != own && (near(x, y, r.StartX, r.StartY) || near(x, y, r.EndX, r.EndY))) ++tied;
    }
    return tied;
  };
  const bool sliver = near(r1.EndX, r1.EndY, r2.StartX, r2.StartY);
  if (!sliver && tiedAt(k1, r1.EndX, r1.EndY) < 2 && tiedAt(k2, r2.StartX, r2.StartY) < 2) return;
  tied_.push_back(atom.Number);
  tied_.push_back(partner.Number);
  for (const TArcRow& r : arcCutOffs_)
    if (near(r1.EndX, r1.EndY, r.StartX, r.StartY) || near(r1.EndX, r1.EndY, r.EndX, r.EndY) ||
        near(r2.StartX, r2.StartY, r.StartX, r.StartY) || near(r2.StartX, r2.StartY, r.EndX, r.EndY))
      tied_.push_back(r.Blocker->Number);
  pairLogged_ = true;
  pairLog_.push_back("Atom Nr " + std::to_string(atom.Number) + " and " + std::to_string(partner.Number) +
                     ": a free arc ends where five or more expanded spheres meet, or has no length");
}

void TConollyRun::EmitFreeArcs(TAtom& atom, TAtom& partner, const TProbeCircle& circle) {
  const Ext r = circle.Radius;
  if (arcCutOffs_.empty()) {
    candidates_.push_back(std::make_unique<TConollyObject2>(&atom, nullptr, nullptr, kFull,
                                                            static_cast<double>(r), circle.Frame, circle.Center,
                                                            &partner));
    return;
  }

  const auto& rows = arcCutOffs_;
  const int n = static_cast<int>(rows.size());
  constexpr double F = kPseudoFull;
  // Real angle and unit vector of an arc end: the end of row k1 or the start of row k2.
  auto realAngle = [](double x, double y, double pseudo) {
    double a = PolarAngleD(x, y);
    if (pseudo < 0) a -= kFull;
    if (pseudo >= F) a += kFull;
    return a;
  };
  auto probeAt = [&](double x, double y) {
    return ToCoord(Add(circle.Center, ToWorld(circle.Frame, {r * x, r * y, 0})));
  };

  // a. The start: the last blocked value covering 0, or the wrapping arc's start.
  double s = -0.1 * kPseudoPerRadian;
  int k1 = -1;
  for (int q = 0; q < n; ++q)
    if (rows[q].Start <= 0 && rows[q].End >= s) s = rows[q].End, k1 = q;
  for (int q = 0; q < n; ++q)
    if (rows[q].End > F && rows[q].End - F >= s) s = rows[q].End - F, k1 = q;
  if (s < 0) {
    s = -F;
    for (int q = 0; q < n; ++q)
      if (rows[q].End - F >= s) s = rows[q].End - F, k1 = q;
  }
  if (k1 < 0) throw FatalError(150, "probe circle sweep without a start row");

  for (int guard = 0; guard <= 2 * n + 2; ++guard) {
    // b. Extend s over every blocked interval it lies in.
    if (s >= 0) {
      bool changed = true;
      while (s < F && changed) {
        changed = false;
        for (int q = 0; q < n && s <= F; ++q)
          if (rows[q].Start <= s && s < rows[q].End) s = rows[q].End, k1 = q, changed = true;
        for (int q = 0; q < n && s <= F; ++q)
          if (rows[q].Start + F <= s && s < rows[q].End + F) s = rows[q].End + F, k1 = q, changed = true;
      }
    }
    // c. The next blocked interval after s.
    if (s >= F) return;
    double e = s + F;
    int k2 = -1;
    for (int q = 0; q < n; ++q)
      if (rows[q].Start > s && rows[q].Start < e) e = rows[q].Start, k2 = q;
    for (int q = 0; q < n; ++q)
      if (rows[q].Start + F > s && rows[q].Start + F < e) e = rows[q].Start + F, k2 = q;
    if (e > F || k2 < 0) return;
    // d. The free arc [s, e] and its two concave corners.
    const TArcRow& r1 = rows[static_cast<std::size_t>(k1)];
    const TArcRow& r2 = rows[static_cast<std::size_t>(k2)];
    NoteTiedArc(atom, partner, static_cast<std::size_t>(k1), static_cast<std::size_t>(k2));
    const double sa = realAngle(r1.EndX, r1.EndY, s), ea = realAngle(r2.StartX, r2.StartY, e);
    candidates_.push_back(std::make_unique<TConollyObject2>(
        &atom, r2.Blocker, r1.Blocker, std::max(0.0, ea - sa), static_cast<double>(r),
        TurnFrameTo(circle.Frame, r1.EndX, r1.EndY), circle.Center, &partner));
    // Only the copy that registration keeps (atom < partner < blocker) is built
    // on the fast path; the reference builds all and lets Register drop them.
    if (reference_ || partner.Number < r1.Blocker->Number)
      candidates_.push_back(std::make_unique<TConollyObject3>(&atom, probeAt(r1.EndX, r1.EndY), r1.Blocker, &partner));
    if (reference_ || partner.Number < r2.Blocker->Number)
      candidates_.push_back(
          std::make_unique<TConollyObject3>(&atom, probeAt(r2.StartX, r2.StartY), r2.Blocker, &partner));
    // e. Continue behind the arc; the blocker that starts at e ends the next start.
    s = e + 1e-7 * kPseudoPerRadian;
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
    const int partner = (s->Atom == &atom) ? s->Atom2->Number : s->Atom->Number;
    saddles_.push_back({s, 1, i, partner, s->StartAtom ? s->StartAtom->Number : 0, s->EndAtom ? s->EndAtom->Number : 0});
  }
  if (saddles_.empty()) return;

  AppendElement(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}), i);
  auto* patch = static_cast<TConollyObject1*>(ListOf(i).back());
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
    RemoveElement(patch, i);
    removed = true;
    break;
  }
  if (!removed && !problemForAtom_) ComputeInnerPoint(atom, *patch);
  if (problemForAtom_) {
    openAtoms_.insert(i);
  } else {
    openAtoms_.erase(i);
  }
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

namespace surface_detail {

// Runs the construction until no exact degeneracy is left open, moving the
// atoms through such points between the runs (kDisplacementRounds at most).
template <class Construction>
void ResolvingDegeneracies(TProteinObject& protein, const Construction& construction) {
  for (int round = 0;; ++round) {
    try {
      construction();
      return;
    } catch (const TAbandonRun&) {
      return;  // status 102 is set; the caller turns it into a failed run
    } catch (const TUnresolvedDegeneracy& d) {
      if (round + 1 >= kDisplacementRounds) RaiseError(103, "conolly", "GetAtConolly");
      DisplaceAtoms(protein, d.Atoms, round);
    }
  }
}

void GetAtConollyReference(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                           std::int32_t& status, bool split, TElementList& elements) {
  const std::int32_t entry = status;
  ResolvingDegeneracies(protein, [&] {
    status = entry;  // what a run given up left behind does not count
    TConollyRun run(protein, include, atomElements, status, split, elements, true);
    run.Execute();
  });
}

}  // namespace surface_detail

void GetAtConolly(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                  std::int32_t& status, bool split, TElementList& elements, TSurfaceMemo* memo, int threads) {
  const int workers = WorkerThreads(std::count(include.begin(), include.end(), true), 1000, threads);
  const std::int32_t entry = status;
  surface_detail::ResolvingDegeneracies(protein, [&] {
    status = entry;  // what a run given up left behind does not count
    surface_detail::TConollyRun run(protein, include, atomElements, status, split, elements, false, memo, workers);
    run.Execute();
  });
}

namespace {

void ComputeSurface(TProteinObject& protein, int last, TAtomElementLists& atomElements, TElementList& elements,
                    std::int32_t& status, bool split, TSurfaceMemo* memo) {
  CheckMemory(108000);
  std::vector<bool> include(static_cast<std::size_t>(std::max(protein.AtomCount, 0)) + 1, false);
  for (int n = 1; n <= last && n <= protein.AtomCount; ++n) include[static_cast<std::size_t>(n)] = true;
  GetAtConolly(protein, include, atomElements, status, split, elements, memo);
}

}  // namespace

void ComputeSurfaceWithoutHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                              std::int32_t& status, bool split, TSurfaceMemo* memo) {
  ComputeSurface(protein, protein.ProteinAtomCount, atomElements, elements, status, split, memo);
}

void ComputeSurfaceWithHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                           std::int32_t& status, bool split, TSurfaceMemo* memo) {
  ComputeSurface(protein, protein.AtomCount, atomElements, elements, status, split, memo);
}

}  // namespace cavitas
