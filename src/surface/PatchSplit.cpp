// The split of a contact patch whose boundary cycles enclose separate free
// regions: cycles whose nearest points are joined through the patch form one
// region, and each region becomes a contact patch of its own.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "surface/ContactPatch.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas::surface_detail {

namespace {

// Nearest point of the arc of `edge` to `point` (probe positions, world frame).
TCoord NearestOnArc(const TConollyObject2& edge, const TCoord& point) {
  double rho, height, phi;
  edge.ArcPolar(point, rho, height, phi);
  const Ext a = ClampToArc(phi, edge.Angle);
  return ToCoord(edge.Center + ToWorld(edge.Frame, {edge.Radius * std::cos(a), edge.Radius * std::sin(a), 0}));
}

// Three points of an arc: its start, middle and end.
std::array<TCoord, 3> ArcSamples(const TConollyObject2& e) {
  TCoord s, t;
  e.ArcEnds(s, t);
  const Ext h = e.Angle / 2;
  const TCoord m = ToCoord(e.Center + ToWorld(e.Frame, {e.Radius * std::cos(h), e.Radius * std::sin(h), 0}));
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

}  // namespace

void TContactPatchBuilder::SplitPatch(TAtom& atom, TConollyObject1& patch) {
  // a. Cycles as edge ranges [first, last]; their edges in one list, cycle x
  // from cycleStart[x] (the scratch stays with the builder: no blocks per patch).
  TSplitScratch& w = splitScratch_;
  w.CycleStart.clear();
  w.Edges.clear();
  auto addCycle = [&](int a, int b) {
    w.CycleStart.push_back(w.Edges.size());
    for (int k = a; k <= b; ++k) w.Edges.push_back(patch.Kante(k));
  };
  int first = 1;
  for (const auto& [next, last] : cycleRecords_) {
    addCycle(first, last);
    first = next;
  }
  addCycle(first, patch.EdgeCount);
  const std::size_t nc = w.CycleStart.size();
  w.CycleStart.push_back(w.Edges.size());
  auto begin = [&](std::size_t x) { return w.CycleStart[x]; };
  auto end = [&](std::size_t x) { return w.CycleStart[x + 1]; };
  // b. Nearest points of every pair of cycles.
  w.Samples.clear();
  for (const TConollyObject2* e : w.Edges) w.Samples.push_back(ArcSamples(*e));
  w.Distance.assign(nc * nc, TSplitScratch::TPairDistance{});
  auto dist = [&](std::size_t x, std::size_t y) -> TSplitScratch::TPairDistance& { return w.Distance[x * nc + y]; };
  for (std::size_t x = 0; x < nc; ++x)
    for (std::size_t y = x + 1; y < nc; ++y) {
      // The edge pair with the closest sample points, then its nearest points.
      Ext coarse = -1;
      std::size_t bx = 0, by = 0;
      for (std::size_t i = begin(x); i < end(x); ++i)
        for (std::size_t j = begin(y); j < end(y); ++j)
          for (const TCoord& a : w.Samples[i])
            for (const TCoord& b : w.Samples[j])
              if (const Ext d = Dist2(a, b); coarse < 0 || d < coarse) coarse = d, bx = i, by = j;
      TSplitScratch::TPairDistance& best = dist(x, y);
      best.Distance =
          std::sqrt(ArcDistance(*w.Edges[bx], w.Samples[bx], *w.Edges[by], w.Samples[by], best.P1, best.P2));
    }
  // c. Group the cycles, nearest pairs first.
  std::vector<std::size_t>& group = w.Group;
  group.resize(nc);
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
        if (dist(x, y).Distance < bd) bd = dist(x, y).Distance, bx = x, by = y;
    if (bd > 100) break;
    TSplitScratch::TPairDistance& pd = dist(bx, by);
    pd.Distance = 1000.0;
    bool together = std::sqrt(Dist2(pd.P1, pd.P2)) < 1e-4;
    if (!together) {
      const TExtVector mid = (ToExt(pd.P1) + ToExt(pd.P2)) * 0.5L;
      TExtVector dir = mid - centre;
      if (Norm2(dir) < 1e-4) {
        const TExtVector p = ToExt(pd.P1);
        dir = std::fabs(p[0]) <= 0.01 ? TExtVector{0, p[2], -p[1]} : TExtVector{p[1], -p[0], 0};
      }
      together = patch.IsInside(model_, ToCoord(dir));
    }
    if (together) group[root(by)] = root(bx);
  }
  // d. One contact patch per region, regions in the order of their first cycle.
  std::vector<std::size_t>& regions = w.Regions;
  regions.clear();
  for (std::size_t x = 0; x < nc; ++x)
    if (std::find(regions.begin(), regions.end(), root(x)) == regions.end()) regions.push_back(root(x));
  if (regions.size() < 2) return;
  store_.Remove(&patch, atom.Number);  // the patch is gone from here on
  for (const std::size_t region : regions) {
    store_.Append(std::make_unique<TConollyObject1>(&atom, TCoord{1, 0, 0}), atom.Number);
    auto* part = static_cast<TConollyObject1*>(store_.ListOf(atom.Number).back());
    std::size_t edges = 0;
    for (std::size_t x = 0; x < nc; ++x)
      if (root(x) == region) edges += end(x) - begin(x);
    part->Edges.reserve(edges);
    const TConollyObject2* widest = nullptr;
    for (std::size_t x = 0; x < nc; ++x) {
      if (root(x) != region) continue;
      for (std::size_t k = begin(x); k < end(x); ++k) {
        TConollyObject2* e = w.Edges[k];
        part->AddEdge(e);
        if (widest == nullptr || e->Angle > widest->Angle) widest = e;
      }
    }
    SetInnerPoint(atom, *part, widest);
  }
}

}  // namespace cavitas::surface_detail
