#include "surface/PatchIntegrals.h"

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "surface/SurfaceGeometry.h"

namespace cavitas {

namespace {

// The integrals run in double: their sums need relative 1e-12 at most, and
// the extended-precision functions would cost several times more.
using Vec = std::array<double, 3>;

Vec V(const TExtVector& v) { return {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])}; }
Vec V(const TCoord& c) { return {c.X, c.Y, c.Z}; }
Vec Add(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec Sub(const Vec& a, const Vec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec Scale(const Vec& a, double f) { return {a[0] * f, a[1] * f, a[2] * f}; }
double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double Norm2(const Vec& a) { return Dot(a, a); }
double Norm(const Vec& a) { return std::sqrt(Dot(a, a)); }
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
TExtVector ToExtVector(const Vec& v) { return {v[0], v[1], v[2]}; }

constexpr double kPi = std::numbers::pi;
// Arc ends of one boundary cycle meet within this distance (Å); the arcs are
// computed from different frames, and the degenerate repair leaves its
// zero-length edges between them.
constexpr double kCycleGap2 = 1e-4;  // (0.01 Å)^2

Vec Column(const TExtFrame& f, int c) {
  return {static_cast<double>(f[0][c]), static_cast<double>(f[1][c]), static_cast<double>(f[2][c])};
}

// The local angles at which a saddle arc starts and ends. The stored Angle
// carries the seven-digit half turn of the polar angles (about 4e-7 rad); the
// ends are where the probe also touches the blocking atom, so two Newton
// steps on |Q(φ) − c_k| = E_k from the stored values give them to rounding.
struct TArcEnd {
  double Phi = 0, Cos = 1, Sin = 0;
};
struct TArcRange {
  TArcEnd Start, End;
  double Length() const { return End.Phi - Start.Phi; }
};

// Turns (cos x, sin x) by −d for |d| ≤ 1e-4 (Taylor terms to d⁴: exact in double).
void TurnBack(TArcEnd& a, double d) {
  const double d2 = d * d, cd = 1 - d2 / 2 + d2 * d2 / 24, sd = d * (1 - d2 / 6);
  const double c = a.Cos * cd + a.Sin * sd, sn = a.Sin * cd - a.Cos * sd;
  a = {a.Phi - d, c, sn};
}

TArcEnd ArcEnd(const TConollyObject2& s, const TAtom* blocker, double phi) {
  const TArcEnd stored{phi, std::cos(phi), std::sin(phi)};
  if (!blocker) return stored;
  const Vec e1 = Column(s.Frame, 0), e2 = Column(s.Frame, 1);
  const Vec D = Sub(V(s.Center), V(*blocker));
  const double r = s.Radius, E = surface_detail::ExpandedRadius(*blocker);
  const double A = 2 * r * Dot(D, e1), B = 2 * r * Dot(D, e2), C = E * E - Dot(D, D) - r * r;
  TArcEnd x = stored;
  for (int step = 0; step < 2; ++step) {
    const double f = A * x.Cos + B * x.Sin - C, df = -A * x.Sin + B * x.Cos;
    const double d = f / df;
    // A correction beyond the rounding of the stored angle means the blocker
    // does not end the arc there (a degenerate corner): keep the stored end.
    if (!(std::fabs(d) < 1e-4) || std::fabs(x.Phi - d - phi) >= 1e-4) return stored;
    TurnBack(x, d);
  }
  return x;
}

TArcRange ArcRange(const TConollyObject2& s) {
  if (s.StartAtom == nullptr && s.EndAtom == nullptr) return {{0, 1, 0}, {2 * kPi, 1, 0}};
  return {ArcEnd(s, s.StartAtom, 0), ArcEnd(s, s.EndAtom, s.Angle)};
}

// ∫ ρ̂ dφ over the range, ρ̂ = cos φ e1 + sin φ e2.
Vec RhoIntegral(const Vec& e1, const Vec& e2, const TArcRange& a) {
  return Add(Scale(e1, a.End.Sin - a.Start.Sin), Scale(e2, a.Start.Cos - a.End.Cos));
}

// One boundary arc of a contact patch, oriented so that the patch lies on its
// left seen from outside the atom, with its points on the expanded sphere.
struct TBoundaryArc {
  Vec Start, End;    // probe positions at both ends
  Vec TStart, TEnd;  // unit tangents in the direction of travel
  double CosAlpha = 0;         // cos of the angular radius of the excluded cap
  double Angle = 0;            // arc length in radians of the circle
  Vec VectorArea{};  // ½ ∮ (X − c) × dX along the arc on the expanded sphere
  bool Full = false;        // a whole circle: a boundary cycle of its own
  // The cycle walk: the arc that follows, the turning angle into it, marks.
  int Next = -1;
  double Turn = 0;
  bool Taken = false, Seen = false;
};

// The boundary arc of edge e as the contact patch walks it (first: the
// patch's atom is the first of the pair; c its centre, E its expanded radius).
TBoundaryArc BoundaryArc(const TConollyObject2& e, bool first, const Vec& c, double E) {
  const Vec e1 = Column(e.Frame, 0), e2 = Column(e.Frame, 1), u = Column(e.Frame, 2);
  const Vec M = V(e.Center);
  const TArcRange range = ArcRange(e);
  const double r = e.Radius, w = Dot(Sub(M, c), u), A = range.Length();
  const double c0 = range.Start.Cos, s0 = range.Start.Sin;
  const double cA = range.End.Cos, sA = range.End.Sin;
  TBoundaryArc arc;
  arc.Full = e.StartAtom == nullptr && e.EndAtom == nullptr;
  arc.Angle = A;
  // The arc runs in the positive sense about u, which keeps the cap around
  // u (the partner's side when this atom is the first of the pair) on the
  // left: the first atom's patch walks it backwards.
  arc.CosAlpha = (first ? w : -w) / E;
  const Vec rhoInt = RhoIntegral(e1, e2, range);
  Vec va = Scale(Add(Scale(rhoInt, -w * r), Scale(u, r * r * A)), 0.5);
  const Vec p0 = Add(M, Add(Scale(e1, r * c0), Scale(e2, r * s0)));
  const Vec pA = Add(M, Add(Scale(e1, r * cA), Scale(e2, r * sA)));
  const Vec t0 = Add(Scale(e1, -s0), Scale(e2, c0)), tA = Add(Scale(e1, -sA), Scale(e2, cA));
  if (first) {
    va = Scale(va, -1);
    arc.Start = pA;
    arc.TStart = Scale(tA, -1);
    arc.End = p0;
    arc.TEnd = Scale(t0, -1);
  } else {
    arc.Start = p0;
    arc.TStart = t0;
    arc.End = pA;
    arc.TEnd = tA;
  }
  arc.VectorArea = va;
  return arc;
}

// Each arc's follower (the arc that starts where it ends) and the turning
// angle into it; false when an arc has none or two arcs share one.
bool LinkArcs(std::vector<TBoundaryArc>& arcs, const Vec& c) {
  for (std::size_t i = 0; i < arcs.size(); ++i) {
    if (arcs[i].Full) continue;
    double best = kCycleGap2;
    int j = -1;
    for (std::size_t k = 0; k < arcs.size(); ++k) {
      if (arcs[k].Full) continue;
      const double g = Norm2(Sub(arcs[i].End, arcs[k].Start));
      if (g < best) {
        best = g;
        j = static_cast<int>(k);
      }
    }
    TBoundaryArc& following = arcs[static_cast<std::size_t>(j < 0 ? 0 : j)];
    if (j < 0 || following.Taken) return false;
    following.Taken = true;
    arcs[i].Next = j;
    const Vec n = Sub(arcs[i].End, c);
    const Vec& a = arcs[i].TEnd;
    const Vec& b = following.TStart;
    arcs[i].Turn = std::atan2(Dot(n, Cross(a, b)) / Norm(n), Dot(a, b));
  }
  return true;
}

// Gauss-Bonnet on the unit sphere for each boundary cycle: the region on its
// left has the solid angle 2π − ∮ κ_g ds − Σ ε, with κ_g ds = −cos α dφ along
// each arc and ε the turning angle where one arc hands over to the next. The
// patch (one region with holes, or several disjoint regions that share one
// inside test) has these solid angles' sum modulo 4π. False when that is
// ambiguous.
bool SolidAngle(std::vector<TBoundaryArc>& arcs, double& unitArea) {
  double sum = 0;
  int cycles = 0;
  for (std::size_t i = 0; i < arcs.size(); ++i) {
    if (arcs[i].Seen) continue;
    ++cycles;
    double left = 2 * kPi;
    for (int k = static_cast<int>(i); k >= 0 && !arcs[static_cast<std::size_t>(k)].Seen;) {
      TBoundaryArc& arc = arcs[static_cast<std::size_t>(k)];
      arc.Seen = true;
      left += arc.CosAlpha * arc.Angle - arc.Turn;
      k = arc.Next;
    }
    sum += left;
  }
  unitArea = cycles == 1 ? sum : sum - 4 * kPi * std::floor(sum / (4 * kPi));
  // A patch within round-off of nothing or of the whole sphere would be
  // ambiguous modulo 4π; the samples decide it (never seen on real structures).
  const double edge = 1e-9;
  return !(unitArea < -edge || unitArea > 4 * kPi + edge ||
           (cycles > 1 && (unitArea < edge || unitArea > 4 * kPi - edge)));
}

TPatchIntegrals ContactIntegrals(const TConollyObject1& patch, const Vec& origin) {
  TPatchIntegrals out;
  if (patch.Degenerate) return out;
  const double R = surface_detail::AtomRadius(*patch.Atom), E = surface_detail::ExpandedRadius(*patch.Atom);
  const Vec c = V(*patch.Atom);
  const Vec co = Sub(c, origin);
  double unitArea = 4 * kPi;  // solid angle of the patch
  Vec m{};                 // ∫ u dΩ
  bool exact = true;

  if (patch.EdgeCount > 0) {
    std::vector<TBoundaryArc> arcs;
    arcs.reserve(patch.Edges.size());
    for (const TConollyObject2* e : patch.Edges) {
      if (e->Degenerate || !(e->Angle > 0)) continue;
      const bool first = e->Atom == patch.Atom;
      if (!first && e->Atom2 != patch.Atom) {
        exact = false;
        break;
      }
      arcs.push_back(BoundaryArc(*e, first, c, E));
    }
    if (arcs.empty()) exact = false;
    if (exact) exact = LinkArcs(arcs, c);
    if (exact) {
      exact = SolidAngle(arcs, unitArea);
      for (const TBoundaryArc& arc : arcs) m = Add(m, arc.VectorArea);
      m = Scale(m, 1 / (E * E));
    }
    if (!exact) {
      // The sampled area of the patch and the matching sampled moment.
      unitArea = 0;
      m = {};
      for (const TSphereSample& s : SphereSamples())
        if (patch.IsInside(surface_detail::ToCoord(s.Direction))) {
          unitArea += static_cast<double>(s.Weight);
          m = Add(m, Scale(V(s.Direction), static_cast<double>(s.Weight)));
        }
    }
  }
  out.Exact = exact;
  out.Area = R * R * unitArea;
  const Vec mR = Scale(m, R * R);  // ∫ u dA on the atom sphere
  out.Moment = ToExtVector(Add(Scale(co, R * R * unitArea), Scale(mR, R)));
  out.Flux = Dot(co, mR) + R * out.Area;
  out.ProbeFlux = E * E * (Dot(co, m) + E * unitArea);
  return out;
}

TPatchIntegrals SaddleIntegrals(const TConollyObject2& s, const Vec& origin) {
  TPatchIntegrals out;
  if (s.Degenerate || !(s.Angle > 0)) return out;
  const TArcRange range = ArcRange(s);
  const double P = Model.ProbeRadius, r = s.Radius, A = range.Length();
  const Vec e1 = Column(s.Frame, 0), e2 = Column(s.Frame, 1), u = Column(s.Frame, 2);
  const Vec M = V(s.Center);
  // Angle psi at the probe from the direction to the axis toward +u; the patch
  // spans the directions to the two atoms (both on one side when the circle's
  // centre lies beyond one of them).
  const double z1 = Dot(Sub(V(*s.Atom), M), u), z2 = Dot(Sub(V(*s.Atom2), M), u);
  const double n1 = std::sqrt(z1 * z1 + r * r), n2 = std::sqrt(z2 * z2 + r * r);
  const double p1 = std::atan2(z1, r), p2 = std::atan2(z2, r);
  // sin, cos of psi at both ends from the atom offsets themselves.
  const bool order = p1 <= p2;
  const double lo = order ? p1 : p2, hi = order ? p2 : p1;
  const double sLo = (order ? z1 / n1 : z2 / n2), cLo = (order ? r / n1 : r / n2);
  const double sHi = (order ? z2 / n2 : z1 / n1), cHi = (order ? r / n2 : r / n1);
  const double dPsi = hi - lo, dSin = sHi - sLo, dCos = cHi - cLo;
  const double cos2 = dPsi / 2 + (sHi * cHi - sLo * cLo) / 2;  // ∫ cos²ψ
  const double sinCos = (sHi * sHi - sLo * sLo) / 2;           // ∫ sinψ cosψ
  const Vec rhoInt = RhoIntegral(e1, e2, range);
  // Point X = M + (r − P cosψ) ρ̂ + P sinψ u, dA = P (r − P cosψ) dψ dφ, n = cosψ ρ̂ − sinψ u.
  const double Ic = r * dSin - P * cos2;      // ∫ cosψ (r − P cosψ)
  const double Is = -r * dCos - P * sinCos;   // ∫ sinψ (r − P cosψ)
  const double J = r * r * dPsi - 2 * r * P * dSin + P * P * cos2;  // ∫ (r − P cosψ)²
  out.Area = P * A * (r * dPsi - P * dSin);
  const Vec normal = Sub(Scale(rhoInt, P * Ic), Scale(u, P * A * Is));  // ∫ n dA
  const Vec local = Add(Scale(rhoInt, P * J), Scale(u, P * P * A * Is));  // ∫ (X − M) dA
  const Vec mo = Sub(M, origin);
  out.Moment = ToExtVector(Add(Scale(mo, P * A * (r * dPsi - P * dSin)), local));
  // (X − M)·n = r cosψ − P.
  const double own = P * A * ((r * r + P * P) * dSin - r * P * cos2 - r * P * dPsi);
  out.Flux = Dot(mo, normal) + own;
  return out;
}

// The probe centre of a concave patch is stored in single precision (about
// 1e-5 Å off at 100 Å from the origin); two Newton steps on the three sphere
// equations |q − c_k|² = E_k² restore it to rounding.
Vec ProbeCentre(const TConollyObject3& t) {
  const TAtom* atoms[3] = {t.Atom, t.Atom2, t.Atom3};
  Vec q = V(t.ProbeCenter);
  const Vec start = q;
  for (int step = 0; step < 2; ++step) {
    Vec row[3];
    double f[3];
    for (int k = 0; k < 3; ++k) {
      const Vec d = Sub(q, V(*atoms[k]));
      const double E = surface_detail::ExpandedRadius(*atoms[k]);
      row[k] = Scale(d, 2);
      f[k] = Dot(d, d) - E * E;
    }
    // Solve J dq = f by Cramer's rule; a flat corner (three centres nearly in
    // line with the probe) keeps the stored centre.
    const double det = Dot(row[0], Cross(row[1], row[2]));
    if (!(std::fabs(det) > 1e-9)) return start;
    const Vec c12 = Cross(row[1], row[2]), c20 = Cross(row[2], row[0]), c01 = Cross(row[0], row[1]);
    const Vec dq = Scale(Add(Add(Scale(c12, f[0]), Scale(c20, f[1])), Scale(c01, f[2])), 1 / det);
    q = Sub(q, dq);
  }
  return Norm2(Sub(q, start)) < 1e-6 ? q : start;
}

TPatchIntegrals ConcaveIntegrals(const TConollyObject3& t, const Vec& origin) {
  TPatchIntegrals out;
  if (t.Degenerate) return out;
  const double P = Model.ProbeRadius;
  const Vec q = ProbeCentre(t);
  auto unit = [&](const TAtom* a) {
    const Vec v = Sub(V(*a), q);
    return Scale(v, 1 / Norm(v));
  };
  Vec v[3] = {unit(t.Atom), unit(t.Atom2), unit(t.Atom3)};
  const double triple = Dot(v[0], Cross(v[1], v[2]));
  if (triple < 0) std::swap(v[1], v[2]);  // counter-clockwise seen from outside the probe sphere
  // Solid angle of the spherical triangle (exact for any size below a hemisphere).
  const double omega = 2 * std::atan2(std::fabs(triple), 1 + Dot(v[0], v[1]) + Dot(v[1], v[2]) + Dot(v[2], v[0]));
  Vec m{};  // ∫ u dΩ = ½ Σ θ_ab (v_a × v_b)/|v_a × v_b|
  for (int k = 0; k < 3; ++k) {
    const Vec& a = v[k];
    const Vec& b = v[(k + 1) % 3];
    const Vec n = Cross(a, b);
    const double len = Norm(n);
    if (len > 0) m = Add(m, Scale(n, std::atan2(len, Dot(a, b)) / (2 * len)));
  }
  out.Area = P * P * omega;
  const Vec mP = Scale(m, P * P);
  const Vec qo = Sub(q, origin);
  out.Moment = ToExtVector(Add(Scale(qo, P * P * omega), Scale(mP, P)));
  // The molecule lies outside the probe sphere: its normal points at the probe centre.
  out.Flux = -(Dot(qo, mP) + P * out.Area);
  return out;
}

}  // namespace

TPatchIntegrals PatchIntegrals(const TConollyObject& element, const TExtVector& origin) {
  const Vec o = V(origin);
  switch (element.Kind) {
    case kContactPatch: return ContactIntegrals(static_cast<const TConollyObject1&>(element), o);
    case kSaddlePatch: return SaddleIntegrals(static_cast<const TConollyObject2&>(element), o);
    default: return ConcaveIntegrals(static_cast<const TConollyObject3&>(element), o);
  }
}

}  // namespace cavitas
