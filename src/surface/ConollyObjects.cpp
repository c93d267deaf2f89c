#include "surface/ConollyObjects.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas {

using namespace surface_detail;

namespace surface_detail {

TExtFrame PairFrame(const TExtVector& u) {
  // The world axis least aligned with u keeps e1 well conditioned.
  int k = 0;
  for (int a = 1; a < 3; ++a)
    if (std::fabs(u[a]) < std::fabs(u[k])) k = a;
  TExtVector axis{0, 0, 0};
  axis[k] = 1;
  TExtVector e1 = axis - u * Dot(axis, u);
  e1 = e1 * (1 / Norm(e1));
  const TExtVector e2 = Cross(u, e1);
  TExtFrame f{};
  for (int r = 0; r < 3; ++r) {
    f[r][0] = e1[r];
    f[r][1] = e2[r];
    f[r][2] = u[r];
  }
  return f;
}

TExtFrame TurnFrame(const TExtFrame& f, Ext s) { return TurnFrameTo(f, std::cos(s), std::sin(s)); }

TExtFrame TurnFrameTo(const TExtFrame& f, Ext c, Ext sn) {
  TExtFrame t = f;
  for (int r = 0; r < 3; ++r) {
    t[r][0] = f[r][0] * c + f[r][1] * sn;
    t[r][1] = -f[r][0] * sn + f[r][1] * c;
  }
  return t;
}

TCircleResult PairProbeCircle(const TAtom& i, const TAtom& j, const TSurfaceRadii& radii, TProbeCircle& circle,
                              bool withFrame) {
  const TExtVector ci = ToExt(i), cj = ToExt(j);
  const TExtVector v = cj - ci;
  const Ext d = Norm(v);
  if (d == 0) return TCircleResult::Identical;
  const TExtVector u = v * (1 / d);
  const Ext ri = radii.Expanded(i), rj = radii.Expanded(j);
  const Ext wi = ri * ri, wj = rj * rj;
  const Ext t = (d * d + wj - wi) / (2 * d);
  const Ext r2 = wj - t * t;
  if (r2 <= 0) return TCircleResult::NoCircle;
  circle.Axis = u;
  if (withFrame) circle.Frame = PairFrame(u);
  circle.Center = cj - u * t;
  circle.Radius = std::sqrt(r2);
  return TCircleResult::Ok;
}

TCircleResult PairCircleKind(const TAtom& i, const TAtom& j, const TSurfaceRadii& radii) {
  // The centre distance is 0 exactly when the float coordinates agree.
  if (i.X == j.X && i.Y == j.Y && i.Z == j.Z) return TCircleResult::Identical;
  const double x = double(j.X) - i.X, y = double(j.Y) - i.Y, z = double(j.Z) - i.Z;
  const double d2 = x * x + y * y + z * z, d = std::sqrt(d2);
  const double wi = radii.Expanded(i) * radii.Expanded(i), wj = radii.Expanded(j) * radii.Expanded(j);
  const double t = (d2 + wj - wi) / (2 * d);
  const double r2 = wj - t * t;
  // Both r^2 err by a few roundings (2^-52 each) of the terms they add; the
  // bound allows 1e-12 of them, with the error of t amplified by 2 |t|.
  const double bound = 1e-12 * (wj + t * t + std::fabs(t) * (d2 + wj + wi) / d);
  if (r2 > bound) return TCircleResult::Ok;
  if (r2 < -bound) return TCircleResult::NoCircle;
  TProbeCircle circle;
  return PairProbeCircle(i, j, radii, circle, false);
}

namespace {

[[noreturn]] void SchnittFailure() {
  ProgramLog().LogLine("Fehler in Conolyst,PCO1.Schnitt");
  throw FatalError(TErrorCode::InconsistentEdge, "crossing test: inconsistent edge geometry");
}

// Intersection point X (local) of the walk with the edge circle: checks that it
// lies on the circle, then whether it is on the walked arc and on the edge's arc.
struct TCrossing {
  bool OnWalk = false;
  bool OnEdge = false;
  double Phi = 0;
};

}  // namespace

TSchnittResult Schnitt(const TConollyObject2& edge, const TExtVector& from, const TExtVector& to,
                       const TExtVector& centre, Ext radius) {
  TSchnittResult res;
  if (edge.Degenerate) return res;
  const double angle = edge.Angle;
  const TExtVector f = from * (1 / Norm(from));
  const TExtVector t = to * (1 / Norm(to));
  // Local coordinates: c = atom centre, S and E the walk's end points, fl/tl the directions.
  const TExtVector c = ToLocal(edge.Frame, centre - edge.Center);
  const TExtVector fl = ToLocal(edge.Frame, f), tl = ToLocal(edge.Frame, t);
  const TExtVector S = c + fl * radius, E = c + tl * radius;
  if (std::fabs(S[2]) < 5e-5 && OnArc(PolarAngle(S[0], S[1]), angle)) {
    res.StartOnArc = true;
    return res;
  }
  if (std::fabs(E[2]) < 5e-5 && OnArc(PolarAngle(E[0], E[1]), angle)) {
    res.EndOnArc = true;
    return res;
  }
  if (std::fabs(c[0]) + std::fabs(c[1]) > 1e-6) SchnittFailure();
  if (std::fabs(c[2]) + std::fabs(fl[2]) + std::fabs(tl[2]) < 5e-5) {
    // The great circle lies in the plane of the edge circle.
    const double pf = PolarAngle(fl[0], fl[1]), pt = PolarAngle(tl[0], tl[1]);
    if (OnArc(pf, angle))
      res.StartOnArc = true;
    else if (OnArc(pt, angle))
      res.EndOnArc = true;
    else if (std::fabs(pf - pt) >= 3.141593)
      res.Ambiguous = true;
    return res;
  }
  if (std::fabs(fl[2]) + std::fabs(tl[2]) < 1e-5) return res;
  // Line where the great circle's plane n.(X - c) = 0 meets z = 0, X = p0 + s*l.
  TExtVector n = Cross(fl, tl);
  const Ext nn = Norm(n);
  if (nn == 0) {  // from and to (anti)parallel: no definite great circle
    res.Ambiguous = true;
    return res;
  }
  n = n * (1 / nn);
  const Ext a = n[0] * n[0] + n[1] * n[1];  // leading coefficient before normalising l
  if (std::fabs(a) < 1e-6) {
    res.Ambiguous = true;
    return res;
  }
  const Ext nc = Dot(n, c);
  const TExtVector p0{n[0] * nc / a, n[1] * nc / a, 0};
  const Ext la = std::sqrt(a);
  const TExtVector l{n[1] / la, -n[0] / la, 0};
  const TExtVector w = p0 - c;
  const Ext b = Dot(l, w);
  const Ext D = b * b - (Norm2(w) - radius * radius);
  const Ext r2 = static_cast<Ext>(edge.Radius) * edge.Radius;
  auto examine = [&](Ext s) {
    const TExtVector X = p0 + l * s;
    if (std::fabs(X[2]) > 0.001 || std::fabs(X[0] * X[0] + X[1] * X[1] - r2) > 0.001) SchnittFailure();
    TCrossing x;
    const Ext dse = Dot(X - S, X - E);
    x.Phi = PolarAngle(X[0], X[1]);
    x.OnEdge = OnArc(x.Phi, angle);
    x.OnWalk = dse < 0;
    return std::pair<TCrossing, Ext>(x, dse);
  };
  if (D < -1e-6) return res;
  if (D < 1e-6) {
    auto [x, dse] = examine(-b);
    if (dse <= 0 && x.OnEdge) res.Ambiguous = true;
    return res;
  }
  const Ext root = std::sqrt(D);
  for (const Ext s : {-b - root, -b + root}) {
    auto [x, dse] = examine(s);
    (void)dse;
    if (x.OnWalk && x.OnEdge) {
      if (x.Phi >= angle - 5e-5 || x.Phi <= 5e-5) {
        res.Ambiguous = true;
        res.Crossed = false;
        return res;
      }
      res.Crossed = !res.Crossed;
    }
  }
  return res;
}

}  // namespace surface_detail

// ---------------------------------------------------------------- contact patch

TConollyObject2* TConollyObject1::Kante(int index) const {
  if (index < 1 || index > EdgeCount || index > static_cast<int>(Edges.size()) ||
      Edges[static_cast<std::size_t>(index - 1)] == nullptr)
    RaiseError(TErrorCode::EdgeOutOfRange, "Conolly", "TConollyObject1.Kante");
  return Edges[static_cast<std::size_t>(index - 1)];
}

void TConollyObject1::AddEdge(TConollyObject2* edge) {
  Edges.push_back(edge);
  EdgeCount = static_cast<std::int32_t>(Edges.size());
}

namespace {

// One walk from a to b over all edges in order: the flags of the stopping
// edge (if any) and the accumulated crossing parity.
struct TWalk {
  TSchnittResult Stop;
  bool Odd = false;
};

TWalk WalkEdges(const TConollyObject1& patch, const TExtVector& a, const TExtVector& b, const TExtVector& centre,
                Ext radius) {
  TWalk w;
  for (int n = 1; n <= patch.EdgeCount; ++n) {
    const TSchnittResult r = Schnitt(*patch.Edges[static_cast<std::size_t>(n - 1)], a, b, centre, radius);
    if (r.Stops()) {
      w.Stop = r;
      return w;
    }
    if (r.Crossed) w.Odd = !w.Odd;
  }
  return w;
}

// Bound of the random detours: a direction lying on an edge would otherwise
// be tried forever; after this many the accumulated parity stands.
constexpr int kMaxDetours = 1000;

}  // namespace

bool TConollyObject1::IsInside(const TModelConstants& model, const TCoord& direction) const {
  if (EdgeCount == 0) return true;
  if (Degenerate) return false;
  const TExtVector dir = ToExt(direction);
  const Ext len = Norm(dir);
  if (len == 0) return false;
  const TExtVector q = dir * (1 / len);
  const TExtVector inner = ToExt(InnerPoint);
  const TExtVector centre = ToExt(*Atom);
  const Ext radius = ExpandedRadius(model, *Atom);

  TWalk w = WalkEdges(*this, q, inner, centre, radius);
  bool odd = w.Odd;
  if (w.Stop.EndOnArc) odd = true;
  if (w.Stop.StartOnArc) odd = false;
  if (w.Stop.Ambiguous) {
    // Detours through random directions; a fixed seed keeps every run identical.
    std::mt19937 random(20240601u);
    auto uniform = [&random] { return static_cast<Ext>(random()) / Ext{4294967296.0} - Ext{0.5}; };
    for (int tries = 0; tries < kMaxDetours; ++tries) {
      TExtVector r;
      do {
        r = {uniform(), uniform(), uniform()};
      } while (Norm2(r) <= 1e-4);
      const TWalk first = WalkEdges(*this, q, r, centre, radius);
      if (first.Stop.StartOnArc) {  // q itself lies on an edge
        odd = false;
        break;
      }
      if (first.Stop.Stops()) continue;  // r on an edge or a tangent path: try another r
      const TWalk second = WalkEdges(*this, r, inner, centre, radius);
      odd = first.Odd != second.Odd;
      if (second.Stop.EndOnArc) {
        odd = true;
        break;
      }
      if (second.Stop.StartOnArc || second.Stop.Ambiguous) continue;
      break;
    }
  }
  return !odd;
}

double TConollyObject1::ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                                      double radius) const {
  const double P = model.ProbeRadius;
  const double R = AtomRadius(model, *Atom);
  const Ext Rp = R + P;
  const TExtVector centre = ToExt(*Atom);
  const TExtVector v = ToExt(point) - centre;
  const Ext d2 = Norm2(v);
  if (d2 < 1e-6) {
    const TExtVector ip = ToExt(InnerPoint);
    const Ext n = Norm(ip);
    probeCentre = ToCoord(n > 0 ? centre + ip * (Rp / n) : centre);
    return R - radius;
  }
  const Ext d = std::sqrt(d2);
  const TExtVector u = v * (1 / d);
  if (IsInside(model, ToCoord(u))) {
    probeCentre = ToCoord(centre + u * Rp);
    return static_cast<double>(d >= Rp ? d - Rp - radius - P : R - d - radius);
  }
  double best = 1000.0;
  for (const TConollyObject2* e : Edges) {
    TCoord pc;
    const double g = e->ProbeDistance(model, point, pc, radius);
    if (g < best) {
      best = g;
      probeCentre = pc;
    }
  }
  return best;
}

double TConollyObject1::PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const {
  const double P = model.ProbeRadius;
  const double R = AtomRadius(model, *Atom);
  const TExtVector centre = ToExt(*Atom);
  const TExtVector p = ToExt(point);
  const TExtVector v = p - centre;
  const Ext d2 = Norm2(v);
  if (d2 < 1e-6) return R - radius;
  const Ext d = std::sqrt(d2);
  if (IsInside(model, ToCoord(v * (1 / d)))) return static_cast<double>(std::fabs(d - R) - radius);
  const Ext f = R / (R + P);
  Ext best = 1000.0;
  for (const TConollyObject2* e : Edges) {
    const TExtVector pl = ToLocal(e->Frame, p - e->Center);
    const TExtVector al = ToLocal(e->Frame, centre - e->Center);
    const double phi = ClampToArc(PolarAngle(pl[0], pl[1]), e->Angle);
    const TExtVector cp{f * e->Radius * std::cos(static_cast<Ext>(phi)), f * e->Radius * std::sin(static_cast<Ext>(phi)),
                        (1 - f) * al[2]};
    if (std::fabs(Norm(cp - al) - R) > 1e-4)
      throw FatalError(TErrorCode::ContactPointOffSphere, "contact point off its atom sphere");
    best = std::min(best, Norm(pl - cp) - radius);
  }
  return static_cast<double>(best);
}

std::unique_ptr<TConollyObject> TConollyObject1::Clone() const {
  auto c = std::make_unique<TConollyObject1>(Atom, InnerPoint);
  c->Degenerate = Degenerate;
  c->EdgeCount = EdgeCount;
  c->Edges = Edges;
  return c;
}

double TConollyObject1::Area(const TModelConstants& model) const {
  const double R = AtomRadius(model, *Atom);
  if (EdgeCount == 0) return 12.566372 * R * R;
  if (Degenerate) return 0;
  Ext sum = 0;
  for (const TSphereSample& s : SphereSamples())
    if (IsInside(model, ToCoord(s.Direction))) sum += s.Weight;
  return static_cast<double>(R * R * sum);
}

// ---------------------------------------------------------------- saddle patch

void TConollyObject2::ArcEnds(TCoord& startPoint, TCoord& endPoint) const {
  startPoint = ToCoord(Center + ToWorld(Frame, {static_cast<Ext>(Radius), 0, 0}));
  if (!(endAngle_ == Angle)) {
    const Ext a = Angle;
    endCos_ = std::cos(a);
    endSin_ = std::sin(a);
    endAngle_ = Angle;
  }
  endPoint = ToCoord(Center + ToWorld(Frame, {Radius * endCos_, Radius * endSin_, 0}));
}

void TConollyObject2::ArcPolar(const TCoord& point, double& rho, double& height, double& phi) const {
  const TExtVector l = ToLocal(Frame, ToExt(point) - Center);
  const Ext rr = std::sqrt(l[0] * l[0] + l[1] * l[1]);
  rho = static_cast<double>(rr);
  height = static_cast<double>(std::fabs(l[2]));
  if (rr == 0) {
    phi = 0;
    return;
  }
  // Round-off can push x / rho just beyond [-1, 1].
  const Ext c = std::clamp(l[0] / rr, Ext{-1}, Ext{1});
  phi = static_cast<double>(std::acos(c));
  if (l[1] < 0) phi = 6.283185 - phi;
}

double TConollyObject2::ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                                      double radius) const {
  const TExtVector pl = ToLocal(Frame, ToExt(point) - Center);
  const Ext phi = ClampToArc(PolarAngle(pl[0], pl[1]), Angle);
  const TExtVector Q{Radius * std::cos(phi), Radius * std::sin(phi), 0};
  probeCentre = ToCoord(Center + ToWorld(Frame, Q));
  return static_cast<double>(Norm(pl - Q) - radius - model.ProbeRadius);
}

double TConollyObject2::PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const {
  const Ext P = model.ProbeRadius;
  const TExtVector pl = ToLocal(Frame, ToExt(point) - Center);
  const Ext phi = ClampToArc(PolarAngle(pl[0], pl[1]), Angle);
  const Ext c = std::cos(phi), s = std::sin(phi);
  // Turned by -phi about the axis, the probe sits at (q, 0, 0).
  const Ext x = pl[0] * c + pl[1] * s, y = -pl[0] * s + pl[1] * c, z = pl[2];
  const Ext q = Radius;
  const Ext z1 = ToLocal(Frame, ToExt(*Atom) - Center)[2];
  const Ext z2 = ToLocal(Frame, ToExt(*Atom2) - Center)[2];
  if ((x - q) * q < 0) {
    const Ext h = q / (q - x) * z;
    if ((h - z1) * (h - z2) < 0) {
      const Ext g = std::sqrt((x - q) * (x - q) + y * y) - P;
      return static_cast<double>(std::sqrt(g * g + z * z) - radius);
    }
  }
  Ext best = 0;
  bool first = true;
  for (const Ext za : {z1, z2}) {
    const Ext D = std::sqrt(q * q + za * za);
    const Ext f = (D - P) / D;
    const TExtVector cp{f * q, 0, (1 - f) * za};
    const Ext dist = Norm(TExtVector{x, y, z} - cp);
    if (first || dist < best) best = dist;
    first = false;
  }
  return static_cast<double>(best - radius);
}

std::unique_ptr<TConollyObject> TConollyObject2::Clone() const {
  auto c = std::make_unique<TConollyObject2>(Atom, EndAtom, StartAtom, Angle, Radius, Frame, Center, Atom2);
  c->Degenerate = Degenerate;
  return c;
}

double TConollyObject2::Area(const TModelConstants& model) const {
  // Torus patch between the two contact circles: per radian of the arc,
  // P * (r * (psi2 - psi1) - P * (sin psi2 - sin psi1)), psi_k the angle at the
  // probe from the direction to the axis to the direction to atom k, signed
  // along the pair axis: when the circle's centre lies beyond one atom both
  // atoms are on one side and the patch spans only their difference.
  const Ext P = model.ProbeRadius;
  const Ext d = Norm(ToExt(*Atom2) - ToExt(*Atom));
  const Ext e = ExpandedRadius(model, *Atom), f = ExpandedRadius(model, *Atom2);
  const Ext s = (d + e + f) / 2;
  const Ext heron = s * (s - d) * (s - e) * (s - f);
  if (d == 0 || heron <= 0) return 0;
  const Ext r = 2 * std::sqrt(heron) / d;
  // Offsets of the atoms along the axis from the circle's plane (atom 1 below it or above).
  const Ext x1 = (d * d + e * e - f * f) / (2 * d);  // from atom 1 toward atom 2
  const Ext p1 = std::atan2(-x1, r), p2 = std::atan2(d - x1, r);
  return static_cast<double>(Angle * (r * P * (p2 - p1) - P * P * (std::sin(p2) - std::sin(p1))));
}

// ---------------------------------------------------------------- concave patch

double TConollyObject3::ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                                      double radius) const {
  probeCentre = ProbeCenter;
  return static_cast<double>(std::sqrt(Dist2(point, ProbeCenter)) - radius - model.ProbeRadius);
}

double TConollyObject3::PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const {
  const Ext P = model.ProbeRadius;
  const TExtVector pc = ToExt(ProbeCenter);
  const TExtVector E[3] = {ToExt(*Atom) - pc, ToExt(*Atom2) - pc, ToExt(*Atom3) - pc};
  const TExtVector v = ToExt(point) - pc;
  // Cramer's rule for v = a E1 + b E2 + c E3.
  const Ext det = Dot(E[0], Cross(E[1], E[2]));
  Ext k[3] = {0, 0, 0};
  if (det != 0) {
    k[0] = Dot(v, Cross(E[1], E[2])) / det;
    k[1] = Dot(E[0], Cross(v, E[2])) / det;
    k[2] = Dot(E[0], Cross(E[1], v)) / det;
  }
  auto vertex = [&](int i) { return pc + E[i] * (P / Norm(E[i])); };
  const TExtVector p = ToExt(point);
  if (k[0] >= 0 && k[1] >= 0 && k[2] >= 0) {
    const Ext F = Norm(v);
    return static_cast<double>(F >= P ? F - radius - P : P - F - radius);
  }
  if (k[0] < 0 && k[1] < 0 && k[2] < 0) {
    Ext best = 1000.0;
    for (int i = 0; i < 3; ++i) best = std::min(best, Norm2(p - vertex(i)));
    return static_cast<double>(std::sqrt(best) - radius);
  }
  if (k[0] * k[1] * k[2] >= 0) {
    int i = 0;
    while (i < 3 && !(k[i] > 0)) ++i;
    if (i == 3) {  // no positive coefficient, only zeros and negatives
      i = 0;
      while (i < 3 && k[i] < 0) ++i;
    }
    return static_cast<double>(Norm(p - vertex(i)) - radius);
  }
  for (Ext& c : k)
    if (c < 0) c = 0;
  TExtVector w = E[0] * k[0] + E[1] * k[1] + E[2] * k[2];
  const Ext n = Norm(w);
  if (n > 0) w = w * (P / n);
  return static_cast<double>(Norm(p - (pc + w)) - radius);
}

std::unique_ptr<TConollyObject> TConollyObject3::Clone() const {
  auto c = std::make_unique<TConollyObject3>(Atom, ProbeCenter, Atom3, Atom2);
  c->Degenerate = Degenerate;
  return c;
}

double TConollyObject3::Area(const TModelConstants& model) const {
  // Spherical triangle on the probe sphere, angles from the half-angle formula
  // cos(A/2) = sqrt(sin s sin(s - a) / (sin b sin c)); area P^2 (A + B + C - pi).
  const Ext P = model.ProbeRadius;
  const TExtVector pc = ToExt(ProbeCenter);
  auto unit = [&](const TAtom* a) {
    const TExtVector v = ToExt(*a) - pc;
    return v * (1 / Norm(v));
  };
  const TExtVector u1 = unit(Atom), u2 = unit(Atom2), u3 = unit(Atom3);
  auto side = [](const TExtVector& a, const TExtVector& b) { return std::acos(std::clamp(Dot(a, b), Ext{-1}, Ext{1})); };
  const Ext Sa = side(u1, u2), Sb = side(u1, u3), Sc = side(u2, u3);
  const Ext s = (Sa + Sb + Sc) / 2;
  auto half = [&](Ext opposite, Ext x, Ext y) {
    const Ext den = std::sin(x) * std::sin(y);
    if (den == 0) return Ext{0};
    const Ext ratio = std::clamp(std::sin(s) * std::sin(s - opposite) / den, Ext{0}, Ext{1});
    return std::acos(std::sqrt(ratio));
  };
  const Ext H1 = half(Sc, Sa, Sb), H2 = half(Sb, Sa, Sc), H3 = half(Sa, Sb, Sc);
  return static_cast<double>(std::max(Ext{0}, P * P * (2 * (H1 + H2 + H3) - Ext{3.141593})));
}

// ---------------------------------------------------------------- sphere samples

namespace {

void Subdivide(const TExtVector& a, const TExtVector& b, const TExtVector& c, int depth,
               std::vector<TSphereSample>& out) {
  if (depth == 0) {
    if (out.size() >= 30000) RaiseLimit("more than 30000 sphere samples");
    TExtVector m = a + b + c;
    m = m * (1 / Norm(m));
    out.push_back({m, Norm(Cross(b - a, c - a)) / 2});
    return;
  }
  auto mid = [](const TExtVector& p, const TExtVector& q) {
    const TExtVector m = p + q;
    return m * (1 / Norm(m));
  };
  const TExtVector ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
  Subdivide(a, ab, ca, depth - 1, out);
  Subdivide(ab, b, bc, depth - 1, out);
  Subdivide(ca, bc, c, depth - 1, out);
  Subdivide(ab, bc, ca, depth - 1, out);
}

}  // namespace

std::vector<TSphereSample> BuildSphereSamples(int depth) {
  const Ext p = 0.8506508L, q = 0.5257311L;
  std::vector<TExtVector> v;
  for (const Ext sy : {p, -p})
    for (const Ext sz : {q, -q}) {
      v.push_back({0, sy, sz});
      v.push_back({sz, 0, sy});
      v.push_back({sy, sz, 0});
    }
  std::vector<TSphereSample> out;
  const std::size_t n = v.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      for (std::size_t k = j + 1; k < n; ++k)
        if (Norm(v[i] - v[j]) < 1.1 && Norm(v[j] - v[k]) < 1.1 && Norm(v[i] - v[k]) < 1.1)
          Subdivide(v[i], v[j], v[k], depth, out);
  return out;
}

const std::vector<TSphereSample>& SphereSamples() {
  static const std::vector<TSphereSample> samples = BuildSphereSamples(3);
  return samples;
}

}  // namespace cavitas
