// The plain steps of the per-atom kernel: caps, the blocked rows of a probe
// circle, the sweep of its free arcs; and the reference kernel built of them.
#include <algorithm>
#include <cmath>
#include <string>

#include "frame/Error.h"
#include "model/Tolerances.h"
#include "surface/AtomKernel.h"
#include "surface/ArcRows.h"

namespace cavitas::surface_detail {

namespace {

using tolerance::kFullTurn;

// The neighbourhood holds no atom but the atom itself: its sphere is free whole.
bool Alone(const TNeighbourhood& n) { return n.Atoms.empty() || (n.Atoms.size() == 1 && n.Atoms[0] == n.Atom); }

}  // namespace

// The cap of the atom's expanded sphere (radius Ei) that lies inside the
// neighbour's expanded sphere (Ek) at offset (x, y, z), D2 its square:
// around the unit direction U with half-angle g, cos g = F / (D * Ei).
TCap MakeCap(const TNeighbour& n, double Ei) {
  const double x = n.X, y = n.Y, z = n.Z, D2 = n.D2, Ek = n.Ek;
  TCap c;
  c.Number = n.Number;
  c.Coincident = D2 < tolerance::kCoincident2;
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
  c.CircleKnown = !c.Coincident && std::fabs(c.SinG2) * P * P > tolerance::kDoubleRounding * T * T;
  return c;
}

void TArcSweep::MakeCaps(const TNeighbourhood& n, double Ei) {
  Caps.clear();
  for (const TNeighbour& near : n.Near) Caps.push_back(MakeCap(near, Ei));
}

void TArcSweep::SweepPlain(const TNeighbourhood& n, std::size_t partnerIndex, const TProbeCircle& circle,
                           bool ownersOnly, TAtomCandidates& out) {
  TAtom& atom = *n.Atom;
  TAtom& partner = *n.Atoms[partnerIndex];
  Rows.clear();
  // A point of the probe circle (the boundary of the partner's cap, half-angle
  // gj around uj) lies inside k's cap when cos(phi - phi_k) > A with
  // A = (cos gk - cos gj c) / (sin gj s), c = uj.uk, s = sqrt(1 - c^2).
  // k blocks part of the circle when A < 1 and buries it whole when A <= -1;
  // the blocked arc is phi_k -+ arccos A. Blocking is decided in double.
  const TCap& cj = Caps[partnerIndex];
  const double sj2 = cj.SinG2;
  const double e1x = static_cast<double>(circle.Frame[0][0]), e1y = static_cast<double>(circle.Frame[1][0]),
               e1z = static_cast<double>(circle.Frame[2][0]);
  const double e2x = static_cast<double>(circle.Frame[0][1]), e2y = static_cast<double>(circle.Frame[1][1]),
               e2z = static_cast<double>(circle.Frame[2][1]);
  const std::size_t nb = n.Atoms.size();
  // First a cheap pass for a neighbour that buries the whole circle (about
  // half of all circles in a protein): then no row is needed at all.
  for (std::size_t q = 0; q < nb; ++q) {
    if (n.Atoms[q] == &atom || q == partnerIndex) continue;
    const TCap& ck = Caps[q];
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
    TAtom* k = n.Atoms[q];
    if (k == &atom || q == partnerIndex) continue;
    const TCap& ck = Caps[q];
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
    Rows.push_back(row);
  }
  Emit(atom, partner, circle, ownersOnly, out);
}

void TArcSweep::NoteTiedArc(const TAtom& atom, const TAtom& partner, std::size_t k1, std::size_t k2,
                            TAtomCandidates& out) {
  const TArcRow& r1 = Rows[k1];
  const TArcRow& r2 = Rows[k2];
  const auto near = [](double x, double y, double u, double v) {
    return (u - x) * (u - x) + (v - y) * (v - y) < tolerance::kTiedEnds2;
  };
  // The rows other than `own` with an end at (x, y).
  const auto tiedAt = [&](std::size_t own, double x, double y) {
    std::size_t tied = 0;
    for (std::size_t q = 0; q < Rows.size(); ++q) {
      const TArcRow& r = Rows[q];
      if (q != own && (near(x, y, r.StartX, r.StartY) || near(x, y, r.EndX, r.EndY))) ++tied;
    }
    return tied;
  };
  const bool sliver = near(r1.EndX, r1.EndY, r2.StartX, r2.StartY);
  if (!sliver && tiedAt(k1, r1.EndX, r1.EndY) < 2 && tiedAt(k2, r2.StartX, r2.StartY) < 2) return;
  out.Tied.push_back(atom.Number);
  out.Tied.push_back(partner.Number);
  for (const TArcRow& r : Rows)
    if (near(r1.EndX, r1.EndY, r.StartX, r.StartY) || near(r1.EndX, r1.EndY, r.EndX, r.EndY) ||
        near(r2.StartX, r2.StartY, r.StartX, r.StartY) || near(r2.StartX, r2.StartY, r.EndX, r.EndY))
      out.Tied.push_back(r.Blocker->Number);
  out.Log.push_back("Atom Nr " + std::to_string(atom.Number) + " and " + std::to_string(partner.Number) +
                    ": a free arc ends where five or more expanded spheres meet, or has no length");
}

void TArcSweep::Emit(TAtom& atom, TAtom& partner, const TProbeCircle& circle, bool ownersOnly, TAtomCandidates& out) {
  const Ext r = circle.Radius;
  auto& made = out.Elements;
  if (Rows.empty()) {
    made.push_back(std::make_unique<TConollyObject2>(&atom, nullptr, nullptr, kFullTurn, static_cast<double>(r),
                                                     circle.Frame, circle.Center, &partner));
    return;
  }

  const auto& rows = Rows;
  const int n = static_cast<int>(rows.size());
  constexpr double F = kPseudoFull;
  // Real angle and unit vector of an arc end: the end of row k1 or the start of row k2.
  auto realAngle = [](double x, double y, double pseudo) {
    double a = PolarAngleD(x, y);
    if (pseudo < 0) a -= kFullTurn;
    if (pseudo >= F) a += kFullTurn;
    return a;
  };
  auto probeAt = [&](double x, double y) { return ToCoord(circle.Center + ToWorld(circle.Frame, {r * x, r * y, 0})); };

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
  if (k1 < 0) throw FatalError(TErrorCode::SweepWithoutStart, "probe circle sweep without a start row");

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
    NoteTiedArc(atom, partner, static_cast<std::size_t>(k1), static_cast<std::size_t>(k2), out);
    const double sa = realAngle(r1.EndX, r1.EndY, s), ea = realAngle(r2.StartX, r2.StartY, e);
    made.push_back(std::make_unique<TConollyObject2>(&atom, r2.Blocker, r1.Blocker, std::max(0.0, ea - sa),
                                                     static_cast<double>(r), TurnFrameTo(circle.Frame, r1.EndX, r1.EndY),
                                                     circle.Center, &partner));
    // Only the copy that registration keeps (atom < partner < blocker) is
    // needed; the reference builds all and lets registration drop them.
    if (!ownersOnly || partner.Number < r1.Blocker->Number)
      made.push_back(std::make_unique<TConollyObject3>(&atom, probeAt(r1.EndX, r1.EndY), r1.Blocker, &partner));
    if (!ownersOnly || partner.Number < r2.Blocker->Number)
      made.push_back(std::make_unique<TConollyObject3>(&atom, probeAt(r2.StartX, r2.StartY), r2.Blocker, &partner));
    // e. Continue behind the arc; the blocker that starts at e ends the next start.
    s = e + 1e-7 * kPseudoPerRadian;
    k1 = k2;
  }
}

void TReferenceKernel::MakeCandidates(const TNeighbourhood& n, TAtomCandidates& out) {
  out.Clear();
  TAtom& atom = *n.Atom;
  if (Alone(n)) {
    out.Elements.push_back(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}));
    return;
  }
  sweep_.MakeCaps(n, radii_.Expanded(atom));
  for (std::size_t j = 0; j < n.Atoms.size(); ++j) {
    if (sweep_.Caps[j].Number <= atom.Number) continue;
    TAtom& partner = *n.Atoms[j];
    TProbeCircle circle;
    const TCircleResult res = PairProbeCircle(atom, partner, radii_, circle);
    if (res == TCircleResult::Ok) sweep_.SweepPlain(n, j, circle, false, out);
    if (res == TCircleResult::Identical) out.Log.push_back(IdenticalPairLine(atom, partner));
  }
}

}  // namespace cavitas::surface_detail
