// The inner point of a contact patch: a direction from the atom's centre,
// on its expanded sphere, outside every neighbour's expanded sphere. A
// descent on the worst violation over the active constraints, in long double
// (reference) or with double estimates that only rule constraints out (fast).
#include <algorithm>
#include <cmath>

#include "model/Tolerances.h"
#include "surface/AtomKernel.h"

namespace cavitas::surface_detail {

namespace {

// The search stops improving once every constraint plane is this far away (Å):
// far beyond the tolerances of the crossing test, and it keeps the search short.
constexpr Ext kDeepEnough = 0.25;
constexpr int kMaxIterations = 1000;
// Constraints within this of the worst violation (Å) are active together.
constexpr double kActiveBand = 1e-6;
// A tangent part shorter than this fraction (squared) of its constraint meets the plane head-on.
constexpr double kHeadOn = 1e-6;
// Two tangent parts within this (relative, squared cosine) of parallel span no cone.
constexpr double kParallel = 1e-6;

// The tangent parts of the active constraints as the search keeps them: the
// pair (T1, T2) that spans the descent, a third one swapped in when it spans
// a narrower cone. Take answers false when the point cannot be improved.
struct TActivePair {
  TExtVector T1{}, T2{};
  int Count = 0;

  bool Take(const TExtVector& t, Ext a2) {
    if (Norm2(t) < kHeadOn * a2) return false;  // the plane is met head-on
    auto opposite = [](const TExtVector& a, const TExtVector& b) {
      const Ext ab = Dot(a, b);
      return ab < 0 && Norm2(a) * Norm2(b) / (ab * ab) < 1 + kParallel;
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
      } else if (rating(T1, T2, true) <= 1 - kParallel) {
        const Ext c12 = Dot(T1, T2), c13 = Dot(T1, t3), c23 = Dot(T2, t3);
        stuck = Norm2(T2) * c13 - c12 * c23 < 0 || Norm2(T1) * c23 - c12 * c13 < 0;
      }
    }
    ++Count;
    return !stuck;
  }

  TExtVector Descent() const {
    if (Count == 1) return T1 * (-1);
    if (Dot(T1, T2) >= 0) return (T1 + T2) * (-0.5L);
    return (T1 + T2 * std::sqrt(Norm2(T1) / Norm2(T2))) * (-0.5L);
  }
};

}  // namespace

int TReferenceKernel::FindInnerPoint(const TAtom& atom, const std::vector<TAtom*>& neighbours, TExtVector& d) {
  const TExtVector q = ToExt(atom);
  const Ext R = radii_.Expanded(atom);
  const Ext R2 = R * R;
  std::vector<TInnerConstraint>& cs = constraints_;  // buffers reused over all atoms
  cs.clear();
  for (const TAtom* k : neighbours) {
    if (k == &atom) continue;
    const TExtVector a = ToExt(*k) - q;
    const Ext a2 = Norm2(a);
    if (a2 < tolerance::kCoincident2) continue;  // a coincident centre cuts no circle
    const Ext rk = radii_.Expanded(*k);
    cs.push_back({a, a2, (R2 + a2 - rk * rk) / 2, 1 / std::sqrt(a2)});
  }
  const std::size_t n = cs.size();
  s_.resize(n);
  rate_.resize(n);
  active_.resize(n);
  Ext* s = s_.data();
  Ext* rate = rate_.data();
  char* active = active_.data();
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
    auto tangent = [&](std::size_t k) { return cs[k].A - d * (Dot(cs[k].A, d) / R2); };
    TActivePair pair;
    bool stuck = false;
    for (std::size_t k = 0; k < n && !stuck; ++k) {
      active[k] = s[k] > m - kActiveBand;
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
    d = d + dir * step;
    d = d * (R / Norm(d));
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

// The state of one fast search: the point d, the direction of the current
// step, the worst violation M and the iteration (epoch) that names which
// exact values are current.
class TFastSearch {
 public:
  TFastSearch(TFastInnerWork& w, const TSurfaceRadii& radii, const TAtom& atom, TExtVector& d)
      : R(radii.Expanded(atom)), R2(R * R), Rd(radii.Expanded(atom)), D(d), w_(w), radii_(radii), q_(ToExt(atom)) {}
  // The constraints of the neighbours; how many there are.
  std::size_t Setup(const TAtom& atom, const std::vector<TAtom*>& neighbours);
  // The worst violation M; false when an estimate is not finite.
  bool Evaluate();
  // The active set (decided exactly where the estimate is near the level) into w.ActiveList.
  void ActiveSet();
  TExtVector Tangent(std::size_t k) {
    const TInnerConstraint& c = Exact(k);
    return c.A - D * (Dot(c.A, D) / R2);
  }
  Ext ActiveRate() {
    Ext rate = -1e30L;
    for (const std::size_t k : w_.ActiveList) rate = std::max(rate, RateOf(k));
    return rate;
  }
  // The longest step along Dir before an inactive constraint overtakes the active level.
  Ext Step(Ext activeRate, Ext dir2);

  const Ext R, R2;
  const double Rd;
  TExtVector& D;
  TExtVector Dir{};
  Ext M = 0;

 private:
  // The exact constraint, violation and rate of k, as the reference computes them.
  const TInnerConstraint& Exact(std::size_t k) {
    if (!w_.Ready[k]) {
      const TExtVector a = ToExt(*w_.Atom[k]) - q_;
      const Ext a2 = Norm2(a);
      const Ext rk = radii_.Expanded(*w_.Atom[k]);
      w_.Exact[k] = {a, a2, (R2 + a2 - rk * rk) / 2, 1 / std::sqrt(a2)};
      w_.Ready[k] = 1;
    }
    return w_.Exact[k];
  }
  Ext Violation(std::size_t k) {
    if (w_.SStamp[k] != epoch_) {
      const TInnerConstraint& c = Exact(k);
      w_.S[k] = (Dot(c.A, D) - c.F) * c.W;
      w_.SStamp[k] = epoch_;
    }
    return w_.S[k];
  }
  Ext RateOf(std::size_t k) {
    if (w_.RateStamp[k] != epoch_) {
      const TInnerConstraint& c = Exact(k);
      w_.Rate[k] = Dot(c.A, Dir) * c.W;
      w_.RateStamp[k] = epoch_;
    }
    return w_.Rate[k];
  }

  TFastInnerWork& w_;
  const TSurfaceRadii& radii_;
  const TExtVector q_;
  std::size_t n_ = 0;
  std::uint32_t epoch_ = 0;
};

std::size_t TFastSearch::Setup(const TAtom& atom, const std::vector<TAtom*>& neighbours) {
  TFastInnerWork& w = w_;
  const double R2d = Rd * Rd;
  for (auto* v : {&w.Ax, &w.Ay, &w.Az, &w.F, &w.W, &w.G}) v->clear();
  w.Atom.clear();
  for (const TAtom* k : neighbours) {
    if (k == &atom) continue;
    const double ax = double(k->X) - double(atom.X), ay = double(k->Y) - double(atom.Y),
                 az = double(k->Z) - double(atom.Z);
    const double a2 = ax * ax + ay * ay + az * az;
    // the coincidence test of the reference (the double a2 errs far below 1e-11)
    if (a2 < 1e-11 && Norm2(ToExt(*k) - q_) < tolerance::kCoincident2) continue;
    const double rk2 = radii_.Expanded(*k) * radii_.Expanded(*k);
    const double inv = 1 / std::sqrt(a2);
    w.Atom.push_back(k);
    w.Ax.push_back(ax);
    w.Ay.push_back(ay);
    w.Az.push_back(az);
    w.F.push_back((R2d + a2 - rk2) / 2);
    w.W.push_back(inv);
    w.G.push_back((R2d + a2 + rk2) * inv);
  }
  const std::size_t n = n_ = w.Atom.size();
  if (n == 0) return 0;
  w.Exact.resize(n);
  w.S.resize(n);
  w.Rate.resize(n);
  for (auto* v : {&w.Sd, &w.E, &w.Rd}) v->resize(n);
  w.Ready.assign(n, 0);
  w.Active.resize(n);
  w.SStamp.assign(n, 0);
  w.RateStamp.assign(n, 0);
  return n;
}

bool TFastSearch::Evaluate() {
  ++epoch_;
  const double dx = double(D[0]), dy = double(D[1]), dz = double(D[2]);
  const double dn = std::sqrt(dx * dx + dy * dy + dz * dz) * (1 + 1e-9);
  const double *ax = w_.Ax.data(), *ay = w_.Ay.data(), *az = w_.Az.data(), *f = w_.F.data(), *wt = w_.W.data(),
               *g = w_.G.data();
  double* sd = w_.Sd.data();
  double* e = w_.E.data();
  double lower = -1e300, sum = 0;
  for (std::size_t k = 0; k < n_; ++k) {
    sd[k] = (ax[k] * dx + ay[k] * dy + az[k] * dz - f[k]) * wt[k];
    e[k] = kRel * (dn + g[k]);
    sum += sd[k];
    lower = std::max(lower, sd[k] - e[k]);
  }
  if (!std::isfinite(sum)) return false;
  // Only a constraint whose violation may reach every other's lower bound can hold the maximum.
  M = -1e30L;
  for (std::size_t k = 0; k < n_; ++k)
    if (sd[k] + e[k] >= lower) M = std::max(M, Violation(k));
  return true;
}

void TFastSearch::ActiveSet() {
  const Ext level = M - kActiveBand;
  const double ld = double(level), lt = kRound * std::fabs(ld);
  w_.ActiveList.clear();
  for (std::size_t k = 0; k < n_; ++k) {
    const double sd = w_.Sd[k], e = w_.E[k];
    const bool act = sd - e > ld + lt ? true : (sd + e < ld - lt ? false : Violation(k) > level);
    w_.Active[k] = act;
    if (act) w_.ActiveList.push_back(k);
  }
}

// A step beyond cap = 0.1 R / |dir| is cut to cap below whatever its value,
// so the minimum counts only up to U = min(first step, cap), both with slack:
// an inactive k that surely rises faster is computed only when its lowest
// quotient lo = (m - s) / (rate - activeRate) reaches U. Since |A| W = 1, a
// rate estimate errs by kRel |dir| at most.
Ext TFastSearch::Step(Ext activeRate, Ext dir2) {
  Ext step = dir2 < 1 ? 100 / dir2 : Ext{100};
  const double vx = double(Dir[0]), vy = double(Dir[1]), vz = double(Dir[2]);
  const double dirNorm = std::sqrt(vx * vx + vy * vy + vz * vz);
  const double er = kRel * dirNorm * (1 + 1e-9);
  const double ard = double(activeRate), at = kRound * std::fabs(ard) + er;
  const double md = double(M), mt = kRound * std::fabs(md);
  const double U = std::min(double(step), 0.1 * Rd / dirNorm * (1 + 1e-9)) * (1 + kRound);
  const double *ax = w_.Ax.data(), *ay = w_.Ay.data(), *az = w_.Az.data(), *wt = w_.W.data();
  const double *sd = w_.Sd.data(), *e = w_.E.data();
  double* rd = w_.Rd.data();
  for (std::size_t k = 0; k < n_; ++k) rd[k] = (ax[k] * vx + ay[k] * vy + az[k] * vz) * wt[k];
  for (std::size_t k = 0; k < n_; ++k) {
    if (w_.Active[k] || rd[k] < ard - at) continue;
    // lo <= U, multiplied out (rd - ard + at > 0 here).
    if (rd[k] > ard + at ? md - sd[k] - e[k] - mt <= U * (rd[k] - ard + at) : RateOf(k) > activeRate)
      step = std::min(step, (M - Violation(k)) / (RateOf(k) - activeRate));
  }
  return step;
}

}  // namespace

// The same iterations as the reference search, value for value: every
// quantity that reaches d, the result or a decision near its threshold is the
// long-double one. Double estimates with error bounds only rule out
// constraints: those that cannot hold the worst violation, cannot be on the
// other side of the active level and cannot give the shortest step.
int TFastKernel::FindInnerPoint(const TAtom& atom, const std::vector<TAtom*>& neighbours, TExtVector& d) {
  const TExtVector start = d;
  TFastSearch s(inner_, radii_, atom, d);
  if (s.Setup(atom, neighbours) == 0) return 0;
  for (int iter = 1; iter <= kMaxIterations; ++iter) {
    if (!s.Evaluate()) {
      d = start;
      return plain_.FindInnerPoint(atom, neighbours, d);
    }
    if (s.M < -kDeepEnough) return 0;
    // b. Active set and its tangent parts.
    s.ActiveSet();
    TActivePair pair;
    bool stuck = false;
    for (const std::size_t k : inner_.ActiveList) {
      const TExtVector t = s.Tangent(k);
      if (!pair.Take(t, inner_.Exact[k].A2)) {
        stuck = true;
        break;
      }
    }
    if (stuck) break;
    // c. Direction of descent.
    s.Dir = pair.Descent();
    const Ext dir2 = Norm2(s.Dir);
    if (dir2 == 0) break;
    // e. The worst active violation must decrease along dir.
    const Ext activeRate = s.ActiveRate();
    if (activeRate >= 0) return 1;
    // d. Step length: no inactive constraint may overtake the active level.
    Ext step = s.Step(activeRate, dir2);
    if (Ext{0.01} * s.R2 < dir2 * step * step) step = Ext{0.1} * s.R / std::sqrt(dir2);
    // f. Move and return onto the sphere.
    d = d + s.Dir * step;
    d = d * (s.R / Norm(d));
  }
  if (!s.Evaluate()) {
    d = start;
    return plain_.FindInnerPoint(atom, neighbours, d);
  }
  return s.M >= 0 ? 2 : 0;
}

}  // namespace cavitas::surface_detail
