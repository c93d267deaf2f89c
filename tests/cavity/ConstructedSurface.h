#pragma once
// Hand-built Connolly surfaces for the clustering and hole tests. Saddles are
// arcs of the true probe circle of their atom pair, so the geometry queries of
// the elements stay consistent; the topology (which patch has which edges) is
// chosen by the test.
#include <cmath>
#include <memory>
#include <vector>

#include "model/Radii.h"
#include "surface/ConollyObjects.h"

namespace cavitas::testing {

class ConstructedSurface {
 public:
  static constexpr int kRadiusType = 8;  // 1.7 Å in the default radius set

  TAtom* Atom(float x, float y, float z, int atomCode = 10) {
    auto a = std::make_unique<TAtom>();
    a->X = x;
    a->Y = y;
    a->Z = z;
    a->Number = static_cast<std::int32_t>(atoms_.size()) + 1;
    a->RadiusType = kRadiusType;
    a->AtomCode = static_cast<std::int16_t>(atomCode);
    atoms_.push_back(std::move(a));
    if (AtomElements.size() < atoms_.size() + 1) AtomElements.resize(atoms_.size() + 1);
    return atoms_.back().get();
  }

  TConollyObject1* Contact(TAtom* a, TCoord inner = {1, 0, 0}) {
    auto c = std::make_unique<TConollyObject1>(a, inner);
    return Register(std::move(c), {a});
  }

  // An arc of the probe circle of (a, b) starting at local angle `phase`
  // from the frame's reference direction; angle 6.283185 is the full circle.
  TConollyObject2* Saddle(TAtom* a, TAtom* b, double angle = kFullTurn, TAtom* start = nullptr, TAtom* end = nullptr,
                          double phase = 0) {
    const TModelConstants model;  // the start-up radii and probe
    const long double P = model.ProbeRadius;
    const long double ea = model.Radius(*a) + P, eb = model.Radius(*b) + P;
    const TExtVector ab{static_cast<long double>(b->X) - a->X, static_cast<long double>(b->Y) - a->Y,
                        static_cast<long double>(b->Z) - a->Z};
    const long double d = std::sqrt(ab[0] * ab[0] + ab[1] * ab[1] + ab[2] * ab[2]);
    const TExtVector u{ab[0] / d, ab[1] / d, ab[2] / d};
    const long double x = (d * d + ea * ea - eb * eb) / (2 * d);
    const long double r = std::sqrt(ea * ea - x * x);
    const TExtVector centre{a->X + x * u[0], a->Y + x * u[1], a->Z + x * u[2]};
    TExtVector e = std::fabs(u[2]) < 0.9L ? TExtVector{0, 0, 1} : TExtVector{1, 0, 0};
    const long double eu = e[0] * u[0] + e[1] * u[1] + e[2] * u[2];
    TExtVector w1{e[0] - eu * u[0], e[1] - eu * u[1], e[2] - eu * u[2]};
    const long double n1 = std::sqrt(w1[0] * w1[0] + w1[1] * w1[1] + w1[2] * w1[2]);
    for (auto& c : w1) c /= n1;
    const TExtVector w2 = Cross(u, w1);
    TExtVector a1, a2;
    for (int i = 0; i < 3; ++i) a1[i] = std::cos(static_cast<long double>(phase)) * w1[i] + std::sin(static_cast<long double>(phase)) * w2[i];
    a2 = Cross(u, a1);
    TExtFrame frame{};
    for (int i = 0; i < 3; ++i) {
      frame[i][0] = a1[i];
      frame[i][1] = a2[i];
      frame[i][2] = u[i];
    }
    auto s = std::make_unique<TConollyObject2>(a, end, start, angle, static_cast<double>(r), frame, centre, b);
    return Register(std::move(s), {a, b});
  }

  TConollyObject3* Concave(TAtom* a, TAtom* b, TAtom* c, TCoord probe) {
    auto t = std::make_unique<TConollyObject3>(a, probe, c, b);
    return Register(std::move(t), {a, b, c});
  }

  static void Edge(TConollyObject1* contact, TConollyObject2* saddle) { contact->AddEdge(saddle); }

  TAtom* AtomNo(int n) const { return atoms_[static_cast<std::size_t>(n - 1)].get(); }
  std::size_t AtomCount() const { return atoms_.size(); }

  TAtomElementLists AtomElements{1};
  TElementList Elements;

 private:
  static TExtVector Cross(const TExtVector& p, const TExtVector& q) {
    return {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
  }
  template <class T>
  T* Register(std::unique_ptr<T> e, std::initializer_list<TAtom*> involved) {
    T* raw = e.get();
    for (TAtom* a : involved) AtomElements[static_cast<std::size_t>(a->Number)].push_back(raw);
    Elements.push_back(std::move(e));
    return raw;
  }

  std::vector<std::unique_ptr<TAtom>> atoms_;
};

// A straight chain of atoms along x, `spacing` apart, starting at x0: every
// neighbouring pair is joined by a full-circle saddle, and every atom has one
// contact patch bounded by the saddles to its neighbours.
struct Chain {
  std::vector<TAtom*> Atoms;
  std::vector<TConollyObject1*> Contacts;
  std::vector<TConollyObject2*> Saddles;
};
inline Chain BuildChain(ConstructedSurface& s, int n, float x0, float y0, float spacing = 3.0f) {
  Chain c;
  for (int i = 0; i < n; ++i) c.Atoms.push_back(s.Atom(x0 + spacing * static_cast<float>(i), y0, 0));
  for (int i = 0; i < n; ++i) {
    // The inner point looks away from the chain axis where both neighbours cut the sphere.
    const TCoord inner = (n == 1) ? TCoord{1, 0, 0} : (i == 0 ? TCoord{-1, 0, 0} : (i == n - 1 ? TCoord{1, 0, 0} : TCoord{0, 1, 0}));
    c.Contacts.push_back(s.Contact(c.Atoms[static_cast<std::size_t>(i)], inner));
  }
  for (int i = 0; i + 1 < n; ++i) {
    auto* saddle = s.Saddle(c.Atoms[static_cast<std::size_t>(i)], c.Atoms[static_cast<std::size_t>(i) + 1]);
    c.Saddles.push_back(saddle);
    ConstructedSurface::Edge(c.Contacts[static_cast<std::size_t>(i)], saddle);
    ConstructedSurface::Edge(c.Contacts[static_cast<std::size_t>(i) + 1], saddle);
  }
  return c;
}

}  // namespace cavitas::testing
