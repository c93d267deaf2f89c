// The fast kernel: the burial screen of the probe circles over the caps in
// arrays, the cover test of the blocked arcs, the exact rows in one
// vectorised pass; the same candidates as the reference kernel, bit for bit.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "surface/ArcRows.h"
#include "surface/AtomKernel.h"

namespace cavitas::surface_detail {

namespace {

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

}  // namespace

void TFastKernel::TBlockedRows::Resize(std::size_t n) {
  Index.resize(n);
  for (auto* v : {&Ux, &Uy, &Uz, &CosG, &Start, &End, &StartX, &StartY, &EndX, &EndY, &X, &Y, &N, &R, &Px, &Py, &Width,
                  &Hit})
    v->resize(n);
}

// The caps of the plain sweep, and again as arrays for the burial screen. The
// atom itself and a coincident centre are no direction: they bury the whole
// sphere (cos -2) when larger, else never block (cos 2).
void TFastKernel::MakeCaps(const TNeighbourhood& n) {
  sweep_.MakeCaps(n, radii_.Expanded(*n.Atom));
  capUx_.clear();
  capUy_.clear();
  capUz_.clear();
  capCos_.clear();
  recentBuriers_ = {0, 0};
  for (std::size_t q = 0; q < sweep_.Caps.size(); ++q) {
    const TCap& c = sweep_.Caps[q];
    capUx_.push_back(c.Ux);
    capUy_.push_back(c.Uy);
    capUz_.push_back(c.Uz);
    capCos_.push_back(n.Atoms[q] == n.Atom || c.Coincident ? (c.Covers ? -2.0 : 2.0) : c.CosG);
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

void TFastKernel::MakeCandidates(const TNeighbourhood& n, TAtomCandidates& out) {
  out.Clear();
  TAtom& atom = *n.Atom;
  if (n.Atoms.empty() || (n.Atoms.size() == 1 && n.Atoms[0] == &atom)) {
    out.Elements.push_back(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}));
    return;
  }
  MakeCaps(n);
  // Beyond kMaxBlockers neighbours the order of the blocker count matters: the plain screen.
  const bool plain = n.Atoms.size() > kMaxBlockers;
  for (std::size_t j = 0; j < n.Atoms.size(); ++j) {
    const TCap& cap = sweep_.Caps[j];
    if (cap.Number <= atom.Number) continue;
    TAtom& partner = *n.Atoms[j];
    TCircleResult res;
    if (plain) {
      TProbeCircle circle;
      res = PairProbeCircle(atom, partner, radii_, circle);
      if (res == TCircleResult::Ok) sweep_.SweepPlain(n, j, circle, true, out);
    } else {
      res = cap.CircleKnown ? (cap.SinG2 > 0 ? TCircleResult::Ok : TCircleResult::NoCircle)
                            : PairCircleKind(atom, partner, radii_);
      if (res == TCircleResult::Ok) SweepArcs(n, j, out);
    }
    if (res == TCircleResult::Identical) out.Log.push_back(IdenticalPairLine(atom, partner));
  }
}

void TFastKernel::SweepArcs(const TNeighbourhood& n, std::size_t partnerIndex, TAtomCandidates& out) {
  // The same tests as the plain sweep, bit for bit; with at most kMaxBlockers
  // neighbours the blocker bound cannot be reached, so any burier ends the
  // circle whatever its position, and a recent burier is tried first.
  const TCap& cj = sweep_.Caps[partnerIndex];
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
  TBlockedRows& b = blocked_;  // sized for this atom's neighbours by MakeCaps
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

  TAtom& partner = *n.Atoms[partnerIndex];
  TProbeCircle circle;
  PairProbeCircle(*n.Atom, partner, radii_, circle);  // Ok: PairCircleKind said so
  ExactRows(n, m, cj, circle);
  sweep_.Emit(*n.Atom, partner, circle, true, out);
}

void TFastKernel::ExactRows(const TNeighbourhood& n, std::size_t m, const TCap& cj, const TProbeCircle& circle) {
  // One branch-free pass (the compiler vectorises it; sqrt and division round
  // the same in every lane).
  TBlockedRows& b = blocked_;
  const double sj = cj.SinG, invSj = sj > 0 ? 1 / sj : 0;
  const double e1x = static_cast<double>(circle.Frame[0][0]), e1y = static_cast<double>(circle.Frame[1][0]),
               e1z = static_cast<double>(circle.Frame[2][0]);
  const double e2x = static_cast<double>(circle.Frame[0][1]), e2y = static_cast<double>(circle.Frame[1][1]),
               e2z = static_cast<double>(circle.Frame[2][1]);
  BlockedRows(m, {cj.Ux, cj.Uy, cj.Uz, cj.CosG, invSj, e1x, e1y, e1z, e2x, e2y, e2z}, b.Ux.data(), b.Uy.data(),
              b.Uz.data(), b.CosG.data(), b.Start.data(), b.End.data(), b.StartX.data(), b.StartY.data(),
              b.EndX.data(), b.EndY.data());
  std::vector<TArcRow>& rows = sweep_.Rows;
  rows.resize(m);
  for (std::size_t t = 0; t < m; ++t)
    rows[t] = {b.Start[t], b.End[t], n.Atoms[b.Index[t]], b.StartX[t], b.StartY[t], b.EndX[t], b.EndY[t]};
}

}  // namespace cavitas::surface_detail
