// The inner point of a contact patch: a probe position on the atom's expanded
// sphere outside every neighbour's expanded sphere, and the split of a patch
// whose boundary cycles enclose separate free regions.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "surface/ConollyRun.h"

namespace cavitas::surface_detail {

namespace {

// The search stops improving once every constraint plane is this far away (Å):
// far beyond the tolerances of the crossing test, and it keeps the search short.
constexpr Ext kDeepEnough = 0.25;
constexpr int kMaxIterations = 1000;

// Nearest point of the arc of `edge` to `point` (probe positions, world frame).
TCoord NearestOnArc(const TConollyObject2& edge, const TCoord& point) {
  double rho, height, phi;
  edge.ArcPolar(point, rho, height, phi);
  const Ext a = ClampToArc(phi, edge.Angle);
  return ToCoord(Add(edge.Center, ToWorld(edge.Frame, {edge.Radius * std::cos(a), edge.Radius * std::sin(a), 0})));
}

// Three points of an arc: its start, middle and end.
std::array<TCoord, 3> ArcSamples(const TConollyObject2& e) {
  TCoord s, t;
  e.ArcEnds(s, t);
  const Ext h = e.Angle / 2;
  const TCoord m = ToCoord(Add(e.Center, ToWorld(e.Frame, {e.Radius * std::cos(h), e.Radius * std::sin(h), 0})));
  return {s, m, t};
}

// Nearest points of two arcs by alternating projection, started from the
// closest pair of their sample points; returns the squared distance.
Ext ArcDistance(const TConollyObject2& e1, const std::array<TCoord, 3>& s1, const TConollyObject2& e2,
                const std::array<TCoord, 3>& s2, TCoord& p1, TCoord& p2) {
  Ext best = -1;
  for (const TCoord& a : s1)
    for (const TCoord& b : s2)
      if (const Ext d = Dist2(a, b); best < 0 || d < best) best = d, p1 = a, p2 = b;
  TCoord pa = p1, pb = NearestOnArc(e2, pa);
  for (int it = 0; it < 6; ++it) {
    pa = NearestOnArc(e1, pb);
    pb = NearestOnArc(e2, pa);
  }
  if (const Ext d = Dist2(pa, pb); d < best) best = d, p1 = pa, p2 = pb;
  return best;
}

// The tangent parts of the active constraints as the search keeps them: the
// pair (T1, T2) that spans the descent, a third one swapped in when it spans
// a narrower cone. Take answers false when the point cannot be improved.
struct TActivePair {
  TExtVector T1{}, T2{};
  int Count = 0;

  bool Take(const TExtVector& t, Ext a2) {
    if (Norm2(t) < 1e-6 * a2) return false;  // the plane is met head-on
    auto opposite = [](const TExtVector& a, const TExtVector& b) {
      const Ext ab = Dot(a, b);
      return ab < 0 && Norm2(a) * Norm2(b) / (ab * ab) < 1 + 1e-6;
    };
    bool stuck = false;
    if (Count == 0) {
      T1 = t;
    } else if (Count == 1) {
      T2 = t;
      stuck = opposite(T1, T2);
    } else {
      TExtVector t3 = t;
      auto rating = [](const TExtVector& a, const TExtVector& b, bool isSigned) {
        const Ext ab = Dot(a, b);
        const Ext r = ab * ab / (Norm2(a) * Norm2(b));
        return (isSigned && ab < 0) ? -r : r;
      };
      const Ext r12 = rating(T1, T2, true), r13 = rating(T1, t3, true), r23 = rating(T2, t3, false);
      if (r13 < r12 && r13 <= r23) {
        std::swap(T2, t3);
      } else if (r23 < r12 && r23 < r13) {
        std::swap(T1, t3);
      }
      if (opposite(T1, T2)) {
        stuck = true;
      } else if (rating(T1, T2, true) <= 1 - 1e-6) {
        const Ext c12 = Dot(T1, T2), c13 = Dot(T1, t3), c23 = Dot(T2, t3);
        stuck = Norm2(T2) * c13 - c12 * c23 < 0 || Norm2(T1) * c23 - c12 * c13 < 0;
      }
    }
    ++Count;
    return !stuck;
  }

  TExtVector Descent() const {
    if (Count == 1) return Scale(T1, -1);
    if (Dot(T1, T2) >= 0) return Scale(Add(T1, T2), -0.5L);
    return Scale(Add(T1, Scale(T2, std::sqrt(Norm2(T1) / Norm2(T2)))), -0.5L);
  }
};

}  // namespace

void TConollyRun::ReportInnerPointFailure(const TAtom& atom) {
  status_ = 104;
  ShowError(104, "conolly", "GetAtConolly", false);
  ProgramLog().LogLine("Fehler beim Berechnen eines inneren Punktes");
  ProgramLog().LogLine("beim Protein " + protein_.FileName + " bei Atom Nr " + AtomText(atom.Number) + ") .");
}

// Returns 0 on success, 1 when no direction improves the worst violation, 2
// when the best point found still lies inside a neighbour, -1 when the
// neighbour table overflowed (already reported; d is left unchanged).
int TConollyRun::FindInnerPointReference(const TAtom& atom, TExtVector& d) {
  const TExtVector q = ToExt(atom);
  const Ext R = ExpandedRadius(atom);
  const Ext R2 = R * R;
  std::vector<TInnerConstraint>& cs = innerConstraints_;  // buffers reused over all atoms
  cs.clear();
  for (const TAtom* k : neighbours_) {
    if (k == &atom) continue;
    const TExtVector a = Sub(ToExt(*k), q);
    const Ext a2 = Norm2(a);
    if (a2 < 1e-12) continue;  // a coincident centre cuts no circle
    const Ext rk = ExpandedRadius(*k);
    cs.push_back({a, a2, (R2 + a2 - rk * rk) / 2, 1 / std::sqrt(a2)});
  }
  const std::size_t n = cs.size();
  innerS_.resize(n);
  innerRate_.resize(n);
  innerActive_.resize(n);
  Ext* s = innerS_.data();
  Ext* rate = innerRate_.data();
  char* active = innerActive_.data();
  Ext m = 0;
  auto evaluate = [&] {
    m = -1e30L;
    for (std::size_t k = 0; k < n; ++k) {
      s[k] = (Dot(cs[k].A, d) - cs[k].F) * cs[k].W;
      m = std::max(m, s[k]);
    }
  };
  if (n == 0) return 0;
  for (int iter = 1; iter <= kMaxIterations; ++iter) {
    evaluate();
    if (m < -kDeepEnough) return 0;
    // b. Active set and its tangent parts.
    auto tangent = [&](std::size_t k) { return Sub(cs[k].A, Scale(d, Dot(cs[k].A, d) / R2)); };
    TActivePair pair;
    bool stuck = false;
    for (std::size_t k = 0; k < n && !stuck; ++k) {
      active[k] = s[k] > m - 1e-6;
      if (!active[k]) continue;
      const TExtVector t = tangent(k);
      if (!pair.Take(t, cs[k].A2)) {
        stuck = true;
        break;
      }
    }
    if (stuck) break;
    // c. Direction of descent.
    TExtVector dir = pair.Descent();
    const Ext dir2 = Norm2(dir);
    if (dir2 == 0) break;
    // e. The worst active violation must decrease along dir.
    Ext activeRate = -1e30L;
    for (std::size_t k = 0; k < n; ++k) {
      rate[k] = Dot(cs[k].A, dir) * cs[k].W;
      if (active[k]) activeRate = std::max(activeRate, rate[k]);
    }
    if (activeRate >= 0) return 1;
    // d. Step length: no inactive constraint may overtake the active level.
    Ext step = dir2 < 1 ? 100 / dir2 : Ext{100};
    for (std::size_t k = 0; k < n; ++k)
      if (!active[k] && rate[k] > activeRate) step = std::min(step, (m - s[k]) / (rate[k] - activeRate));
    if (Ext{0.01} * R2 < dir2 * step * step) step = Ext{0.1} * R / std::sqrt(dir2);
    // f. Move and return onto the sphere.
    d = Add(d, Scale(dir, step));
    d = Scale(d, R / Norm(d));
  }
  evaluate();
  return m >= 0 ? 2 : 0;
}

namespace {

// The double estimates of a violation or a rate differ from the long-double
// values by a few roundings of the terms involved (about 1e-15 of them); the
// bounds below allow 1e-11 of them, so a decision they leave open is taken on
// the long-double values.
constexpr double kRel = 1e-11;
// Relative slack for rounding a long-double value, or a double quotient, to double.
constexpr double kRound = 1e-14;

}  // namespace

// The same iterations as FindInnerPointReference, value for value: every
// quantity that reaches d, the result or a decision near its threshold is the
// long-double one. Double estimates with error bounds only rule out
// constraints: those that cannot hold the worst violation, cannot be on the
// other side of the active level and cannot give the shortest step.
int TConollyRun::FindInnerPoint(const TAtom& atom, TExtVector& d) {
  if (reference_) return FindInnerPointReference(atom, d);
  const TExtVector start = d;
  const TExtVector q = ToExt(atom);
  const Ext R = ExpandedRadius(atom);
  const Ext R2 = R * R;
  const double Rd = ExpandedRadius(atom), R2d = Rd * Rd;
  TInnerWork& w = inner_;
  std::vector<TInnerConstraint>& cs = innerConstraints_;
  w.Atom.clear();
  w.Ax.clear();
  w.Ay.clear();
  w.Az.clear();
  w.F.clear();
  w.W.clear();
  w.G.clear();
  for (const TAtom* k : neighbours_) {
    if (k == &atom) continue;
    const double ax = double(k->X) - double(atom.X), ay = double(k->Y) - double(atom.Y),
                 az = double(k->Z) - double(atom.Z);
    const double a2 = ax * ax + ay * ay + az * az;
    if (a2 < 1e-11 && Norm2(Sub(ToExt(*k), q)) < 1e-12) continue;  // the coincidence test of the reference
    const double rk2 = ExpandedRadius(*k) * ExpandedRadius(*k);
    const double inv = 1 / std::sqrt(a2);
    w.Atom.push_back(k);
    w.Ax.push_back(ax);
    w.Ay.push_back(ay);
    w.Az.push_back(az);
    w.F.push_back((R2d + a2 - rk2) / 2);
    w.W.push_back(inv);
    w.G.push_back((R2d + a2 + rk2) * inv);
  }
  const std::size_t n = w.Atom.size();
  if (n == 0) return 0;
  cs.resize(n);
  innerS_.resize(n);
  innerRate_.resize(n);
  for (auto* v : {&w.Sd, &w.E, &w.Rd}) v->resize(n);
  w.Ready.assign(n, 0);
  w.Active.resize(n);
  w.SStamp.assign(n, 0);
  w.RateStamp.assign(n, 0);
  std::uint32_t epoch = 0;

  // The exact constraint, violation and rate of k, as the reference computes them.
  auto exact = [&](std::size_t k) -> const TInnerConstraint& {
    if (!w.Ready[k]) {
      const TExtVector a = Sub(ToExt(*w.Atom[k]), q);
      const Ext a2 = Norm2(a);
      const Ext rk = ExpandedRadius(*w.Atom[k]);
      cs[k] = {a, a2, (R2 + a2 - rk * rk) / 2, 1 / std::sqrt(a2)};
      w.Ready[k] = 1;
    }
    return cs[k];
  };
  auto violation = [&](std::size_t k) {
    if (w.SStamp[k] != epoch) {
      const TInnerConstraint& c = exact(k);
      innerS_[k] = (Dot(c.A, d) - c.F) * c.W;
      w.SStamp[k] = epoch;
    }
    return innerS_[k];
  };
  TExtVector dir{};
  auto rateOf = [&](std::size_t k) {
    if (w.RateStamp[k] != epoch) {
      const TInnerConstraint& c = exact(k);
      innerRate_[k] = Dot(c.A, dir) * c.W;
      w.RateStamp[k] = epoch;
    }
    return innerRate_[k];
  };

  // The worst violation m; false when an estimate is not finite.
  Ext m = 0;
  auto evaluate = [&] {
    ++epoch;
    const double dx = double(d[0]), dy = double(d[1]), dz = double(d[2]);
    const double dn = std::sqrt(dx * dx + dy * dy + dz * dz) * (1 + 1e-9);
    const double *ax = w.Ax.data(), *ay = w.Ay.data(), *az = w.Az.data(), *f = w.F.data(), *wt = w.W.data(),
                 *g = w.G.data();
    double* sd = w.Sd.data();
    double* e = w.E.data();
    double lower = -1e300, sum = 0;
    for (std::size_t k = 0; k < n; ++k) {
      sd[k] = (ax[k] * dx + ay[k] * dy + az[k] * dz - f[k]) * wt[k];
      e[k] = kRel * (dn + g[k]);
      sum += sd[k];
      lower = std::max(lower, sd[k] - e[k]);
    }
    if (!std::isfinite(sum)) return false;
    // Only a constraint whose violation may reach every other's lower bound can hold the maximum.
    m = -1e30L;
    for (std::size_t k = 0; k < n; ++k)
      if (sd[k] + e[k] >= lower) m = std::max(m, violation(k));
    return true;
  };

  for (int iter = 1; iter <= kMaxIterations; ++iter) {
    if (!evaluate()) {
      d = start;
      return FindInnerPointReference(atom, d);
    }
    if (m < -kDeepEnough) return 0;
    // b. Active set (decided exactly where the estimate is near the level) and its tangent parts.
    const Ext level = m - 1e-6;
    const double ld = double(level), lt = kRound * std::fabs(ld);
    w.ActiveList.clear();
    for (std::size_t k = 0; k < n; ++k) {
      const double sd = w.Sd[k], e = w.E[k];
      const bool act = sd - e > ld + lt ? true : (sd + e < ld - lt ? false : violation(k) > level);
      w.Active[k] = act;
      if (act) w.ActiveList.push_back(k);
    }
    auto tangent = [&](std::size_t k) {
      const TInnerConstraint& c = exact(k);
      return Sub(c.A, Scale(d, Dot(c.A, d) / R2));
    };
    TActivePair pair;
    bool stuck = false;
    for (const std::size_t k : w.ActiveList) {
      const TExtVector t = tangent(k);
      if (!pair.Take(t, cs[k].A2)) {
        stuck = true;
        break;
      }
    }
    if (stuck) break;
    // c. Direction of descent.
    dir = pair.Descent();
    const Ext dir2 = Norm2(dir);
    if (dir2 == 0) break;
    // e. The worst active violation must decrease along dir.
    Ext activeRate = -1e30L;
    for (const std::size_t k : w.ActiveList) activeRate = std::max(activeRate, rateOf(k));
    if (activeRate >= 0) return 1;
    // d. Step length: no inactive constraint may overtake the active level. A
    //    step beyond cap = 0.1 R / |dir| is cut to cap below whatever its
    //    value, so the minimum counts only up to U = min(first step, cap),
    //    both with slack: an inactive k that surely rises faster is computed
    //    only when its lowest quotient lo = (m - s) / (rate - activeRate)
    //    reaches U. Since |A| W = 1, a rate estimate errs by kRel |dir| at most.
    Ext step = dir2 < 1 ? 100 / dir2 : Ext{100};
    {
      const double vx = double(dir[0]), vy = double(dir[1]), vz = double(dir[2]);
      const double dirNorm = std::sqrt(vx * vx + vy * vy + vz * vz);
      const double er = kRel * dirNorm * (1 + 1e-9);
      const double ard = double(activeRate), at = kRound * std::fabs(ard) + er;
      const double md = double(m), mt = kRound * std::fabs(md);
      const double U = std::min(double(step), 0.1 * Rd / dirNorm * (1 + 1e-9)) * (1 + kRound);
      const double *ax = w.Ax.data(), *ay = w.Ay.data(), *az = w.Az.data(), *wt = w.W.data();
      const double *sd = w.Sd.data(), *e = w.E.data();
      double* rd = w.Rd.data();
      for (std::size_t k = 0; k < n; ++k) rd[k] = (ax[k] * vx + ay[k] * vy + az[k] * vz) * wt[k];
      for (std::size_t k = 0; k < n; ++k) {
        if (w.Active[k] || rd[k] < ard - at) continue;
        // lo <= U, multiplied out (rd - ard + at > 0 here).
        if (rd[k] > ard + at ? md - sd[k] - e[k] - mt <= U * (rd[k] - ard + at) : rateOf(k) > activeRate)
          step = std::min(step, (m - violation(k)) / (rateOf(k) - activeRate));
      }
    }
    if (Ext{0.01} * R2 < dir2 * step * step) step = Ext{0.1} * R / std::sqrt(dir2);
    // f. Move and return onto the sphere.
    d = Add(d, Scale(dir, step));
    d = Scale(d, R / Norm(d));
  }
  if (!evaluate()) {
    d = start;
    return FindInnerPointReference(atom, d);
  }
  return m >= 0 ? 2 : 0;
}

void TConollyRun::SetInnerPoint(TAtom& atom, TConollyObject1& patch, const TConollyObject2* start) {
  TCoord a{1, 0, 0}, b;
  if (start != nullptr) start->ArcEnds(a, b);
  TExtVector d = Sub(ToExt(a), ToExt(atom));
  int failure;
  if (!RecallInnerPoint(atom, d, failure)) {
    const TExtVector startD = d;
    failure = FindInnerPoint(atom, d);
    KeepInnerPoint(atom, startD, d, failure);
  }
  if (failure < 0) {
    patch.InnerPoint = ToCoord(d);
    return;
  }
  patch.InnerPoint = ToCoord(d);
  if (failure != 0) ReportInnerPointFailure(atom);
}

void TConollyRun::ComputeInnerPoint(TAtom& atom, TConollyObject1& patch) {
  SetInnerPoint(atom, patch, lastHandled_);
  if (severalCycles_ && split_) SplitPatch(atom, patch);
}

void TConollyRun::SplitPatch(TAtom& atom, TConollyObject1& patch) {
  // a. Cycles as edge ranges [first, last].
  std::vector<std::pair<int, int>> cycles;
  int first = 1;
  for (const auto& [next, last] : cycleRecords_) {
    cycles.emplace_back(first, last);
    first = next;
  }
  cycles.emplace_back(first, patch.EdgeCount);
  std::vector<std::vector<TConollyObject2*>> edges;
  for (const auto& [a, b] : cycles) {
    std::vector<TConollyObject2*> e;
    for (int k = a; k <= b; ++k) e.push_back(patch.Kante(k));
    edges.push_back(std::move(e));
  }
  const std::size_t nc = edges.size();
  // b. Nearest points of every pair of cycles.
  struct TPairDistance {
    Ext Distance = 1000.0;
    TCoord P1, P2;
  };
  std::vector<std::vector<TPairDistance>> dist(nc, std::vector<TPairDistance>(nc));
  std::vector<std::vector<std::array<TCoord, 3>>> samples(nc);
  for (std::size_t x = 0; x < nc; ++x)
    for (const TConollyObject2* e : edges[x]) samples[x].push_back(ArcSamples(*e));
  for (std::size_t x = 0; x < nc; ++x)
    for (std::size_t y = x + 1; y < nc; ++y) {
      // The edge pair with the closest sample points, then its nearest points.
      Ext coarse = -1;
      std::size_t bx = 0, by = 0;
      for (std::size_t i = 0; i < edges[x].size(); ++i)
        for (std::size_t j = 0; j < edges[y].size(); ++j)
          for (const TCoord& a : samples[x][i])
            for (const TCoord& b : samples[y][j])
              if (const Ext d = Dist2(a, b); coarse < 0 || d < coarse) coarse = d, bx = i, by = j;
      TPairDistance& best = dist[x][y];
      best.Distance = std::sqrt(ArcDistance(*edges[x][bx], samples[x][bx], *edges[y][by], samples[y][by], best.P1,
                                             best.P2));
    }
  // c. Group the cycles, nearest pairs first.
  std::vector<std::size_t> group(nc);
  std::iota(group.begin(), group.end(), 0);
  auto root = [&](std::size_t x) {
    while (group[x] != x) x = group[x];
    return x;
  };
  const TExtVector centre = ToExt(atom);
  for (;;) {
    std::size_t bx = 0, by = 0;
    Ext bd = 1e30L;
    for (std::size_t x = 0; x < nc; ++x)
      for (std::size_t y = x + 1; y < nc; ++y)
        if (dist[x][y].Distance < bd) bd = dist[x][y].Distance, bx = x, by = y;
    if (bd > 100) break;
    TPairDistance& pd = dist[bx][by];
    pd.Distance = 1000.0;
    bool together = std::sqrt(Dist2(pd.P1, pd.P2)) < 1e-4;
    if (!together) {
      const TExtVector mid = Scale(Add(ToExt(pd.P1), ToExt(pd.P2)), 0.5L);
      TExtVector dir = Sub(mid, centre);
      if (Norm2(dir) < 1e-4) {
        const TExtVector p = ToExt(pd.P1);
        dir = std::fabs(p[0]) <= 0.01 ? TExtVector{0, p[2], -p[1]} : TExtVector{p[1], -p[0], 0};
      }
      together = patch.IsInside(ToCoord(dir));
    }
    if (together) group[root(by)] = root(bx);
  }
  // d. One contact patch per region, regions in the order of their first cycle.
  std::vector<std::size_t> regions;
  for (std::size_t x = 0; x < nc; ++x)
    if (std::find(regions.begin(), regions.end(), root(x)) == regions.end()) regions.push_back(root(x));
  if (regions.size() < 2) return;
  RemoveElement(&patch, atom.Number);  // the patch is gone from here on
  for (const std::size_t region : regions) {
    AppendElement(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}), atom.Number);
    auto* part = static_cast<TConollyObject1*>(ListOf(atom.Number).back());
    const TConollyObject2* widest = nullptr;
    for (std::size_t x = 0; x < nc; ++x) {
      if (root(x) != region) continue;
      for (TConollyObject2* e : edges[x]) {
        part->AddEdge(e);
        if (widest == nullptr || e->Angle > widest->Angle) widest = e;
      }
    }
    SetInnerPoint(atom, *part, widest);
  }
}

}  // namespace cavitas::surface_detail
