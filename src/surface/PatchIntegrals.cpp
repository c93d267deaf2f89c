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
TDoubleVector ToDouble(const TExtVector& v) { return Converted<double>(v); }
TDoubleVector ToDouble(const TCoord& c) { return VectorOf<double>(c); }

constexpr double kPi = std::numbers::pi;
// Arc ends of one boundary cycle meet within this distance (Å); the arcs are
// computed from different frames, and the degenerate repair leaves its
// zero-length edges between them.
constexpr double kCycleGap2 = 1e-4;  // (0.01 Å)^2

TDoubleVector Column(const TExtFrame& f, int c) {
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

TArcEnd ArcEnd(const TModelConstants& model, const TConollyObject2& s, const TAtom* blocker, double phi) {
  const TArcEnd stored{phi, std::cos(phi), std::sin(phi)};
  if (!blocker) return stored;
  const TDoubleVector e1 = Column(s.Frame, 0), e2 = Column(s.Frame, 1);
  const TDoubleVector D = ToDouble(s.Center) - ToDouble(*blocker);
  const double r = s.Radius, E = surface_detail::ExpandedRadius(model, *blocker);
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

TArcRange ArcRange(const TModelConstants& model, const TConollyObject2& s) {
  if (s.StartAtom == nullptr && s.EndAtom == nullptr) return {{0, 1, 0}, {2 * kPi, 1, 0}};
  return {ArcEnd(model, s, s.StartAtom, 0), ArcEnd(model, s, s.EndAtom, s.Angle)};
}

// ∫ ρ̂ dφ over the range, ρ̂ = cos φ e1 + sin φ e2.
TDoubleVector RhoIntegral(const TDoubleVector& e1, const TDoubleVector& e2, const TArcRange& a) {
  return e1 * (a.End.Sin - a.Start.Sin) + e2 * (a.Start.Cos - a.End.Cos);
}

// One boundary arc of a contact patch, oriented so that the patch lies on its
// left seen from outside the atom, with its points on the expanded sphere.
struct TBoundaryArc {
  TDoubleVector Start, End;    // probe positions at both ends
  TDoubleVector TStart, TEnd;  // unit tangents in the direction of travel
  double CosAlpha = 0;         // cos of the angular radius of the excluded cap
  double Angle = 0;            // arc length in radians of the circle
  TDoubleVector VectorArea{};  // ½ ∮ (X − c) × dX along the arc on the expanded sphere
  bool Full = false;        // a whole circle: a boundary cycle of its own
  // The cycle walk: the arc that follows, the turning angle into it, marks.
  int Next = -1;
  double Turn = 0;
  bool Taken = false, Seen = false;
};

// The boundary arc of edge e as the contact patch walks it (first: the
// patch's atom is the first of the pair; c its centre, E its expanded radius).
TBoundaryArc BoundaryArc(const TModelConstants& model, const TConollyObject2& e, bool first, const TDoubleVector& c,
                         double E) {
  const TDoubleVector e1 = Column(e.Frame, 0), e2 = Column(e.Frame, 1), u = Column(e.Frame, 2);
  const TDoubleVector M = ToDouble(e.Center);
  const TArcRange range = ArcRange(model, e);
  const double r = e.Radius, w = Dot(M - c, u), A = range.Length();
  const double c0 = range.Start.Cos, s0 = range.Start.Sin;
  const double cA = range.End.Cos, sA = range.End.Sin;
  TBoundaryArc arc;
  arc.Full = e.StartAtom == nullptr && e.EndAtom == nullptr;
  arc.Angle = A;
  // The arc runs in the positive sense about u, which keeps the cap around
  // u (the partner's side when this atom is the first of the pair) on the
  // left: the first atom's patch walks it backwards.
  arc.CosAlpha = (first ? w : -w) / E;
  const TDoubleVector rhoInt = RhoIntegral(e1, e2, range);
  TDoubleVector va = (rhoInt * (-w * r) + u * (r * r * A)) * 0.5;
  const TDoubleVector p0 = M + (e1 * (r * c0) + e2 * (r * s0));
  const TDoubleVector pA = M + (e1 * (r * cA) + e2 * (r * sA));
  const TDoubleVector t0 = e1 * (-s0) + e2 * c0, tA = e1 * (-sA) + e2 * cA;
  if (first) {
    va = va * (-1);
    arc.Start = pA;
    arc.TStart = tA * (-1);
    arc.End = p0;
    arc.TEnd = t0 * (-1);
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
bool LinkArcs(std::vector<TBoundaryArc>& arcs, const TDoubleVector& c) {
  for (std::size_t i = 0; i < arcs.size(); ++i) {
    if (arcs[i].Full) continue;
    double best = kCycleGap2;
    int j = -1;
    for (std::size_t k = 0; k < arcs.size(); ++k) {
      if (arcs[k].Full) continue;
      const double g = Norm2(arcs[i].End - arcs[k].Start);
      if (g < best) {
        best = g;
        j = static_cast<int>(k);
      }
    }
    TBoundaryArc& following = arcs[static_cast<std::size_t>(j < 0 ? 0 : j)];
    if (j < 0 || following.Taken) return false;
    following.Taken = true;
    arcs[i].Next = j;
    const TDoubleVector n = arcs[i].End - c;
    const TDoubleVector& a = arcs[i].TEnd;
    const TDoubleVector& b = following.TStart;
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

TPatchIntegrals ContactIntegrals(const TModelConstants& model, const TConollyObject1& patch,
                                 const TDoubleVector& origin) {
  TPatchIntegrals out;
  if (patch.Degenerate) return out;
  const double R = surface_detail::AtomRadius(model, *patch.Atom);
  const double E = surface_detail::ExpandedRadius(model, *patch.Atom);
  const TDoubleVector c = ToDouble(*patch.Atom);
  const TDoubleVector co = c - origin;
  double unitArea = 4 * kPi;  // solid angle of the patch
  TDoubleVector m{};                 // ∫ u dΩ
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
      arcs.push_back(BoundaryArc(model, *e, first, c, E));
    }
    if (arcs.empty()) exact = false;
    if (exact) exact = LinkArcs(arcs, c);
    if (exact) {
      exact = SolidAngle(arcs, unitArea);
      for (const TBoundaryArc& arc : arcs) m = m + arc.VectorArea;
      m = m * (1 / (E * E));
    }
    if (!exact) {
      // The sampled area of the patch and the matching sampled moment.
      unitArea = 0;
      m = {};
      for (const TSphereSample& s : SphereSamples())
        if (patch.IsInside(model, ToCoord(s.Direction))) {
          unitArea += static_cast<double>(s.Weight);
          m = m + ToDouble(s.Direction) * static_cast<double>(s.Weight);
        }
    }
  }
  out.Exact = exact;
  out.Area = R * R * unitArea;
  const TDoubleVector mR = m * (R * R);  // ∫ u dA on the atom sphere
  out.Moment = Converted<long double>(co * (R * R * unitArea) + mR * R);
  out.Flux = Dot(co, mR) + R * out.Area;
  out.ProbeFlux = E * E * (Dot(co, m) + E * unitArea);
  return out;
}

TPatchIntegrals SaddleIntegrals(const TModelConstants& model, const TConollyObject2& s, const TDoubleVector& origin) {
  TPatchIntegrals out;
  if (s.Degenerate || !(s.Angle > 0)) return out;
  const TArcRange range = ArcRange(model, s);
  const double P = model.ProbeRadius, r = s.Radius, A = range.Length();
  const TDoubleVector e1 = Column(s.Frame, 0), e2 = Column(s.Frame, 1), u = Column(s.Frame, 2);
  const TDoubleVector M = ToDouble(s.Center);
  // Angle psi at the probe from the direction to the axis toward +u; the patch
  // spans the directions to the two atoms (both on one side when the circle's
  // centre lies beyond one of them).
  const double z1 = Dot(ToDouble(*s.Atom) - M, u), z2 = Dot(ToDouble(*s.Atom2) - M, u);
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
  const TDoubleVector rhoInt = RhoIntegral(e1, e2, range);
  // Point X = M + (r − P cosψ) ρ̂ + P sinψ u, dA = P (r − P cosψ) dψ dφ, n = cosψ ρ̂ − sinψ u.
  const double Ic = r * dSin - P * cos2;      // ∫ cosψ (r − P cosψ)
  const double Is = -r * dCos - P * sinCos;   // ∫ sinψ (r − P cosψ)
  const double J = r * r * dPsi - 2 * r * P * dSin + P * P * cos2;  // ∫ (r − P cosψ)²
  out.Area = P * A * (r * dPsi - P * dSin);
  const TDoubleVector normal = rhoInt * (P * Ic) - u * (P * A * Is);  // ∫ n dA
  const TDoubleVector local = rhoInt * (P * J) + u * (P * P * A * Is);  // ∫ (X − M) dA
  const TDoubleVector mo = M - origin;
  out.Moment = Converted<long double>(mo * (P * A * (r * dPsi - P * dSin)) + local);
  // (X − M)·n = r cosψ − P.
  const double own = P * A * ((r * r + P * P) * dSin - r * P * cos2 - r * P * dPsi);
  out.Flux = Dot(mo, normal) + own;
  return out;
}

// The probe centre of a concave patch is stored in single precision (about
// 1e-5 Å off at 100 Å from the origin); two Newton steps on the three sphere
// equations |q − c_k|² = E_k² restore it to rounding.
TDoubleVector ProbeCentre(const TModelConstants& model, const TConollyObject3& t) {
  const TAtom* atoms[3] = {t.Atom, t.Atom2, t.Atom3};
  TDoubleVector q = ToDouble(t.ProbeCenter);
  const TDoubleVector start = q;
  for (int step = 0; step < 2; ++step) {
    TDoubleVector row[3];
    double f[3];
    for (int k = 0; k < 3; ++k) {
      const TDoubleVector d = q - ToDouble(*atoms[k]);
      const double E = surface_detail::ExpandedRadius(model, *atoms[k]);
      row[k] = d * 2;
      f[k] = Dot(d, d) - E * E;
    }
    // Solve J dq = f by Cramer's rule; a flat corner (three centres nearly in
    // line with the probe) keeps the stored centre.
    const double det = Dot(row[0], Cross(row[1], row[2]));
    if (!(std::fabs(det) > 1e-9)) return start;
    const TDoubleVector c12 = Cross(row[1], row[2]), c20 = Cross(row[2], row[0]), c01 = Cross(row[0], row[1]);
    const TDoubleVector dq = (c12 * f[0] + c20 * f[1] + c01 * f[2]) * (1 / det);
    q = q - dq;
  }
  return Norm2(q - start) < 1e-6 ? q : start;
}

TPatchIntegrals ConcaveIntegrals(const TModelConstants& model, const TConollyObject3& t, const TDoubleVector& origin) {
  TPatchIntegrals out;
  if (t.Degenerate) return out;
  const double P = model.ProbeRadius;
  const TDoubleVector q = ProbeCentre(model, t);
  auto unit = [&](const TAtom* a) {
    const TDoubleVector v = ToDouble(*a) - q;
    return v * (1 / Norm(v));
  };
  TDoubleVector v[3] = {unit(t.Atom), unit(t.Atom2), unit(t.Atom3)};
  const double triple = Dot(v[0], Cross(v[1], v[2]));
  if (triple < 0) std::swap(v[1], v[2]);  // counter-clockwise seen from outside the probe sphere
  // Solid angle of the spherical triangle (exact for any size below a hemisphere).
  const double omega = 2 * std::atan2(std::fabs(triple), 1 + Dot(v[0], v[1]) + Dot(v[1], v[2]) + Dot(v[2], v[0]));
  TDoubleVector m{};  // ∫ u dΩ = ½ Σ θ_ab (v_a × v_b)/|v_a × v_b|
  for (int k = 0; k < 3; ++k) {
    const TDoubleVector& a = v[k];
    const TDoubleVector& b = v[(k + 1) % 3];
    const TDoubleVector n = Cross(a, b);
    const double len = Norm(n);
    if (len > 0) m = m + n * (std::atan2(len, Dot(a, b)) / (2 * len));
  }
  out.Area = P * P * omega;
  const TDoubleVector mP = m * (P * P);
  const TDoubleVector qo = q - origin;
  out.Moment = Converted<long double>(qo * (P * P * omega) + mP * P);
  // The molecule lies outside the probe sphere: its normal points at the probe centre.
  out.Flux = -(Dot(qo, mP) + P * out.Area);
  return out;
}

}  // namespace

TPatchIntegrals PatchIntegrals(const TModelConstants& model, const TConollyObject& element, const TExtVector& origin) {
  const TDoubleVector o = ToDouble(origin);
  switch (element.Kind) {
    case kContactPatch: return ContactIntegrals(model, static_cast<const TConollyObject1&>(element), o);
    case kSaddlePatch: return SaddleIntegrals(model, static_cast<const TConollyObject2&>(element), o);
    default: return ConcaveIntegrals(model, static_cast<const TConollyObject3&>(element), o);
  }
}

}  // namespace cavitas
