#include "cavity/Volume.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <climits>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The ranking and classification of sub-cubes come in variants of wider
// lanes, the processor's chosen when the program loads. Not under the sanitizers, whose
// runtime starts after that choice, nor without the loader's support for it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CAVITAS_VOLUME_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CAVITAS_VOLUME_SANITIZED 1
#endif
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__GLIBC__) && \
    !defined(CAVITAS_VOLUME_SANITIZED)
#define CAVITAS_VOLUME_CLONES 1
#include <immintrin.h>
#else
#define CAVITAS_VOLUME_CLONES 0
#endif

#include "frame/Error.h"
#include "frame/Status.h"
#include "frame/Threads.h"
#include "model/Radii.h"
#include "structfile/NumberFields.h"

namespace cavitas {

namespace {

constexpr int kCells = kVolumeGridCells;

double Margin(const TModelConstants& model) { return model.ProbeRadius + 2.4; }

// The widest scan box (Å) the steps of one axis are laid out for.
constexpr long double kMaxScanExtent = 1e6L;

// ---------------------------------------------------------------------------
// Arithmetic shared by every scan. Real is the type of the distance and split
// arithmetic; the fast scan and the plain reference both use double and must
// therefore evaluate the very same expressions in the same order.

template <class Real>
bool IsCandidateT(const TVolumeGrid& grid, const TCoord& c, const TAtom& a) {
  const Real dx = Real(c.X) - Real(a.X);
  const Real dy = Real(c.Y) - Real(a.Y);
  const Real dz = Real(c.Z) - Real(a.Z);
  return dx * dx + dy * dy + dz * dz < Real(grid.CutOff[a.RadiusType]);
}

// R > 0, so the sign of a is the sign of x (a quotient of such magnitudes
// cannot underflow); testing x lets the choice go before the division ends.
// 1 - a is exactly 1 + (-a), so both signs share one expression and the
// choice is a select rather than a branch, which would be hard to predict
// where cubes straddle surfaces.
template <class Real>
double SmoothSplitT(Real x, Real R) {
  const double a = static_cast<double>(x / R);
  if constexpr (std::is_same_v<Real, double>) {
    // The sign flips of a and of -0.5 by one mask.
    const std::uint64_t flip = static_cast<std::uint64_t>(x >= 0) << 63;
    const double t = 1 + std::bit_cast<double>(std::bit_cast<std::uint64_t>(a) ^ flip);
    return (1 - t * t * t) * std::bit_cast<double>(std::bit_cast<std::uint64_t>(-0.5) ^ flip);
  } else {
    const bool upper = x >= 0;
    const Real t = Real(1) + (upper ? -Real(a) : Real(a));
    return static_cast<double>((Real(1) - t * t * t) * (upper ? Real(0.5) : Real(-0.5)));
  }
}

template <class Real>
Real SurfaceDistance(const TCoord& p, float x, float y, float z, double radius) {
  const Real dx = Real(p.X) - Real(x);
  const Real dy = Real(p.Y) - Real(y);
  const Real dz = Real(p.Z) - Real(z);
  return std::sqrt(dx * dx + dy * dy + dz * dz) - Real(radius);
}

template <class Real>
struct TSums {
  TAtomAccumulator& Vol;
  TAtomAccumulator& Con;
  const TModelConstants& Model;  // the radii, probe and exactness of the run
  // Model's, by value: the settling of every cube reads them.
  double Probe = Model.ProbeRadius, Exactness = Model.Exactness;
  void AddVolume(int n, Real x) { Vol[static_cast<std::size_t>(n)] = static_cast<double>(Real(Vol[static_cast<std::size_t>(n)]) + x); }
  void AddContact(int n, Real x) { Con[static_cast<std::size_t>(n)] = static_cast<double>(Real(Con[static_cast<std::size_t>(n)]) + x); }
};

// SettleCube for a cube that is not shared (d1 below probe + R): the nearest
// atom n1 takes every share.
template <class Real, class Sums>
[[gnu::always_inline]] inline bool SettleUnshared(int n1, Real d1, Real R, Real v, Real probe, bool fine, Sums& sums) {
  if (d1 <= -R) {
    sums.AddVolume(n1, v);
  } else if (d1 < R) {
    if (!fine) return true;
    const Real f = SmoothSplitT<Real>(d1, R);
    sums.AddVolume(n1, (Real(0.5) - f) * v);
    sums.AddContact(n1, (Real(0.5) + f) * v);
  } else if (d1 < probe - R) {
    sums.AddContact(n1, v);
  } else {
    if (!fine) return true;
    sums.AddContact(n1, (Real(0.5) - SmoothSplitT<Real>(d1 - probe, R)) * v);
  }
  return false;
}

// SettleCube for a shared cube wholly inside the sphere of the nearest atom
// (or inside where the two surfaces meet): the volume is split between them.
template <class Real, class Sums>
[[gnu::always_inline]] inline void SettleSharedInside(int n1, Real d1, int n2, Real d2, Real R, Real v, Sums& sums) {
  const Real u = SmoothSplitT<Real>((d1 - d2) * Real(0.5), R);
  sums.AddVolume(n1, (Real(0.5) - u) * v);
  sums.AddVolume(n2, (Real(0.5) + u) * v);
}

// SettleCube for a shared cube wholly in the shell of the nearest atom (or in
// the shell where the two spheres meet): the contact volume is split.
template <class Real, class Sums>
[[gnu::always_inline]] inline void SettleSharedShell(int n1, Real d1, int n2, Real d2, Real R, Real v, Sums& sums) {
  const Real u = SmoothSplitT<Real>((d1 - d2) * Real(0.5), R);
  sums.AddContact(n1, (Real(0.5) - u) * v);
  sums.AddContact(n2, (Real(0.5) + u) * v);
}

// Given the nearest atom n1 and the second nearest n2 (0 when there is none,
// with d2 = 1000), adds the cube's shares or answers that it must be cut.
template <class Real, class Sums>
[[gnu::always_inline]] inline bool SettleCube(int n1, Real d1, int n2, Real d2, Real R, double V, double s, Sums& sums) {
  const Real probe = Real(sums.Probe);
  if (d1 >= probe + R) return false;  // wholly beyond the probe shell
  const bool fine = !(s >= sums.Exactness);
  const Real v = Real(V);
  const bool shared = d2 - d1 < Real(2) * R && d2 < probe + R;
  if (!shared) return SettleUnshared<Real>(n1, d1, R, v, probe, fine, sums);
  if (!fine) return true;
  const Real u = SmoothSplitT<Real>((d1 - d2) * Real(0.5), R);
  const Real m = (d1 + d2) * Real(0.5);
  if (d1 < -R || (d1 < R && m < 0)) {
    SettleSharedInside<Real>(n1, d1, n2, d2, R, v, sums);
  } else if (d1 < R) {
    const Real w1 = SmoothSplitT<Real>(d1, R);
    sums.AddVolume(n1, (Real(0.5) - w1) * v);
    sums.AddContact(n1, (w1 - u) * v);
    if (d2 < R) {
      const Real w2 = SmoothSplitT<Real>(d2, R);
      sums.AddVolume(n2, (Real(0.5) - w2) * v);
      sums.AddContact(n2, (u + w2) * v);
    } else {
      sums.AddContact(n2, (Real(0.5) + u) * v);
    }
  } else if (d1 < probe - R || m < probe) {
    SettleSharedShell<Real>(n1, d1, n2, d2, R, v, sums);
  } else {
    sums.AddContact(n1, (Real(0.5) - SmoothSplitT<Real>(d1 - probe, R)) * v);
    sums.AddContact(n2, (Real(0.5) - SmoothSplitT<Real>(d2 - probe, R)) * v);
  }
  return false;
}

// The two atoms of smallest surface distance: the first two start as the pair,
// a later atom replaces the larger one when strictly smaller (on equality the
// first of the pair counts as the larger), and the pair ends ordered. The
// result depends on the list order only through ties.
template <class Real>
struct TPair {
  int i1 = -1, i2 = -1;  // positions in the list
  Real d1 = 0, d2 = 1000;
  template <class DistanceOf>
  void Select(int count, DistanceOf&& distance) {
    i1 = 0;
    d1 = distance(0);
    i2 = -1;
    d2 = 1000;
    if (count < 2) return;
    i2 = 1;
    d2 = distance(1);
    for (int i = 2; i < count; ++i) {
      const Real d = distance(i);
      if (d1 >= d2) {
        if (d < d1) {
          i1 = i;
          d1 = d;
        }
      } else if (d < d2) {
        i2 = i;
        d2 = d;
      }
    }
    if (d2 < d1) {
      std::swap(i1, i2);
      std::swap(d1, d2);
    }
  }
};

// Centres of the four sub-cubes along one axis: P - 5 s' plus 2 s' per step, kept as Singles.
template <class Real>
void SubCentres(float p, double sp, float out[4]) {
  float c = static_cast<float>(Real(p) - Real(5) * Real(sp));
  for (int i = 0; i < 4; ++i) {
    c = static_cast<float>(Real(c) + Real(2) * Real(sp));
    out[i] = c;
  }
}

// ---------------------------------------------------------------------------
// The straightforward scan.

template <class Real>
void VolumeOfCubeT(const TCoord& P, const TNewCollection<TAtom>& L, double V, double s, TSums<Real>& sums) {
  if (L.empty()) return;
  const Real R = Real(kSqrt3) * Real(s);
  TPair<Real> pair;
  pair.Select(static_cast<int>(L.size()), [&](int i) {
    const TAtom& a = *L[static_cast<std::size_t>(i)];
    return SurfaceDistance<Real>(P, a.X, a.Y, a.Z, sums.Model.Radius(a));
  });
  const int n1 = L[static_cast<std::size_t>(pair.i1)]->Number;
  const int n2 = pair.i2 >= 0 ? L[static_cast<std::size_t>(pair.i2)]->Number : 0;
  if (!SettleCube<Real>(n1, pair.d1, n2, pair.d2, R, V, s, sums)) return;
  const double sp = s * 0.25;
  const double Vp = V * 0.015625;
  float xs[4], ys[4], zs[4];
  SubCentres<Real>(P.X, sp, xs);
  SubCentres<Real>(P.Y, sp, ys);
  SubCentres<Real>(P.Z, sp, zs);
  for (float x : xs)
    for (float y : ys)
      for (float z : zs) VolumeOfCubeT<Real>(TCoord{x, y, z}, L, Vp, sp, sums);
}

// Cube centres and neighbour cell ranges along one axis of the scan box.
struct TAxisSteps {
  std::vector<float> Centre;
  std::vector<int> Lo, Hi;  // 0-based cell range searched for the cube (empty when Lo > Hi)
};

// `reach` bounds the cut-off distance of every radius type. A cell edge can be
// shorter than the cut-off (4.3 Å against up to 4.49 Å), so the column and its
// two neighbours would not always hold every candidate: the range covers the
// cut-off around the centre instead, in the same ascending order.
TAxisSteps AxisSteps(float gridMin, float inverse, int n, double reach, double margin) {
  TAxisSteps a;
  double offset = -kVolumeHalfEdge - margin;
  for (int i = 0; i <= n; ++i) {
    offset += kVolumeCubeEdge;
    a.Centre.push_back(static_cast<float>(static_cast<long double>(gridMin) + offset));
    const long double lo = std::floor((static_cast<long double>(offset) - reach) * inverse);
    const long double hi = std::floor((static_cast<long double>(offset) + reach) * inverse);
    a.Lo.push_back(static_cast<int>(std::clamp(lo, 0.0L, static_cast<long double>(kCells))));
    a.Hi.push_back(static_cast<int>(std::clamp(hi, -1.0L, static_cast<long double>(kCells - 1))));
  }
  return a;
}

template <class Real>
void ReferenceLayer(const TVolumeGrid& grid, const TAxisSteps& ax, const TAxisSteps& ay, const TAxisSteps& az, int i,
                    TSums<Real>& sums) {
  TNewCollection<TAtom> L;
  const std::size_t ii = static_cast<std::size_t>(i);
  for (std::size_t j = 0; j < ay.Centre.size(); ++j) {
    for (std::size_t k = 0; k < az.Centre.size(); ++k) {
      const TCoord P{ax.Centre[ii], ay.Centre[j], az.Centre[k]};
      L.clear();
      L.reserve(20);
      for (int x = ax.Lo[ii]; x <= ax.Hi[ii]; ++x)
        for (int y = ay.Lo[j]; y <= ay.Hi[j]; ++y)
          for (int z = az.Lo[k]; z <= az.Hi[k]; ++z) {
            const TNewCollection<TAtom>* cell = grid.Cell(x, y, z);
            if (cell == nullptr) continue;
            for (TAtom* a : *cell)
              if (IsCandidateT<Real>(grid, P, *a)) L.push_back(a);
          }
      VolumeOfCubeT<Real>(P, L, kVolumeCubeVolume, kVolumeHalfEdge, sums);
    }
  }
}

// ---------------------------------------------------------------------------
// The fast scan. Candidate lists are built for a whole layer at once by
// visiting, for each atom, only the cubes its cut-off sphere reaches; atoms are
// visited in "rank" order (cell x, y, z, then cell list order), which is the
// order the straightforward scan appends them in, so every list comes out
// identical. Sub-cubes then work on the narrowed list of atoms that can still
// be one of the two nearest; when a third atom ties with the second nearest the
// list order decides, and the sub-cube is redone over the full list.

// Float squared distances of one atom at the 64 sub-centres (x outer, y, z
// inner) from its squared offsets per axis step.
void NearSquares(const float xf[4], const float yf[4], const float zf[4], float* out) {
#if defined(__SSE2__)
  const __m128 z = _mm_loadu_ps(zf);
  for (int xi = 0; xi < 4; ++xi)
    for (int yi = 0; yi < 4; ++yi) _mm_storeu_ps(out + xi * 16 + yi * 4, _mm_add_ps(_mm_set1_ps(xf[xi] + yf[yi]), z));
#else
  for (int c = 0; c < 64; ++c) out[c] = (xf[c >> 4] + yf[(c >> 2) & 3]) + zf[c & 3];
#endif
}

constexpr float kFar = 1e30f;

// Lists up to this long are ranked with the atom's position in the low
// mantissa bits of its value (see NearestThree).
constexpr int kKeyBits = 6;
constexpr int kKeyedAtoms = 1 << kKeyBits;

// NearestThree for lists longer than kKeyedAtoms: one sub-cube at a time.
void NearestThreeLong(const float* q, const float* r, int count, float b1[64], float b2[64], float b3[64],
                      std::int32_t i1[64], std::int32_t i2[64]) {
  for (int c = 0; c < 64; ++c) {
    float m1 = kFar, m2 = kFar, m3 = kFar;
    std::int32_t j1 = -1, j2 = -1;
    for (int a = 0; a < count; ++a) {
      const float v = std::sqrt(q[a * 64 + c]) - r[a];
      j2 = v < m1 ? j1 : (v < m2 ? a : j2);
      j1 = v < m1 ? a : j1;
      m3 = std::min(m3, std::max(m2, v));
      m2 = std::min(m2, std::max(m1, v));
      m1 = std::min(m1, v);
    }
    b1[c] = m1;
    b2[c] = m2;
    b3[c] = m3;
    i1[c] = j1;
    i2[c] = j2;
  }
}

// Per sub-cube, the three smallest of sqrt(q) - r over `count` atoms (q laid
// out [atom * 64 + sub-cube]) and the atoms of the two smallest (-1: none).
// The values come back within 2^kKeyBits ulp of the float distances: up to
// kKeyedAtoms atoms, each value carries its atom's position in its lowest
// kKeyBits mantissa bits, so a plain min/max network over these distinct keys
// keeps the atoms along with the three smallest values.
//
// Where the processor has them, eight or sixteen lanes at a time instead of
// four (the variant is chosen when the program loads); each lane does the
// same correctly rounded operations, so all give the same bits.
#if CAVITAS_VOLUME_CLONES
__attribute__((target("default")))
#endif
void NearestThree(const float* q, const float* r, int count, float b1[64], float b2[64], float b3[64],
                  std::int32_t i1[64], std::int32_t i2[64]) {
#if defined(__SSE2__)
  if (count <= kKeyedAtoms) {
    const __m128i high = _mm_set1_epi32(-kKeyedAtoms), low = _mm_set1_epi32(kKeyedAtoms - 1);
    const __m128i one = _mm_set1_epi32(1);
    const __m128 far = _mm_set1_ps(kFar);
    // Two rows of four sub-cubes at a time share the loads of r and the key.
    for (int c = 0; c < 64; c += 8) {
      __m128 m1 = far, m2 = far, m3 = far, n1 = far, n2 = far, n3 = far;
      __m128i key = _mm_setzero_si128();
      for (int a = 0; a < count; ++a) {
        const __m128 ra = _mm_set1_ps(r[a]);
        const __m128 v = _mm_sub_ps(_mm_sqrt_ps(_mm_loadu_ps(q + a * 64 + c)), ra);
        const __m128 w = _mm_sub_ps(_mm_sqrt_ps(_mm_loadu_ps(q + a * 64 + c + 4)), ra);
        const __m128 kv = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(_mm_castps_si128(v), high), key));
        const __m128 kw = _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(_mm_castps_si128(w), high), key));
        key = _mm_add_epi32(key, one);
        m3 = _mm_min_ps(m3, _mm_max_ps(m2, kv));
        m2 = _mm_min_ps(m2, _mm_max_ps(m1, kv));
        m1 = _mm_min_ps(m1, kv);
        n3 = _mm_min_ps(n3, _mm_max_ps(n2, kw));
        n2 = _mm_min_ps(n2, _mm_max_ps(n1, kw));
        n1 = _mm_min_ps(n1, kw);
      }
      _mm_store_ps(b1 + c, m1);
      _mm_store_ps(b2 + c, m2);
      _mm_store_ps(b3 + c, m3);
      _mm_store_ps(b1 + c + 4, n1);
      _mm_store_ps(b2 + c + 4, n2);
      _mm_store_ps(b3 + c + 4, n3);
      _mm_store_si128(reinterpret_cast<__m128i*>(i1 + c), _mm_and_si128(_mm_castps_si128(m1), low));
      _mm_store_si128(reinterpret_cast<__m128i*>(i2 + c), _mm_and_si128(_mm_castps_si128(m2), low));
      _mm_store_si128(reinterpret_cast<__m128i*>(i1 + c + 4), _mm_and_si128(_mm_castps_si128(n1), low));
      _mm_store_si128(reinterpret_cast<__m128i*>(i2 + c + 4), _mm_and_si128(_mm_castps_si128(n2), low));
    }
    if (count < 2)
      for (int c = 0; c < 64; ++c) i2[c] = -1;
    return;
  }
#endif
  NearestThreeLong(q, r, count, b1, b2, b3, i1, i2);
}

#if CAVITAS_VOLUME_CLONES
__attribute__((target("avx2"))) void NearestThree(const float* q, const float* r, int count, float b1[64],
                                                  float b2[64], float b3[64], std::int32_t i1[64],
                                                  std::int32_t i2[64]) {
  if (count > kKeyedAtoms) return NearestThreeLong(q, r, count, b1, b2, b3, i1, i2);
  const __m256i high = _mm256_set1_epi32(-kKeyedAtoms), low = _mm256_set1_epi32(kKeyedAtoms - 1);
  const __m256i one = _mm256_set1_epi32(1);
  const __m256 far = _mm256_set1_ps(kFar);
  // Two groups of eight sub-cubes at a time share the loads of r and the key.
  for (int c = 0; c < 64; c += 16) {
    __m256 m1 = far, m2 = far, m3 = far, n1 = far, n2 = far, n3 = far;
    __m256i key = _mm256_setzero_si256();
    for (int a = 0; a < count; ++a) {
      const __m256 ra = _mm256_set1_ps(r[a]);
      const __m256 v = _mm256_sub_ps(_mm256_sqrt_ps(_mm256_loadu_ps(q + a * 64 + c)), ra);
      const __m256 w = _mm256_sub_ps(_mm256_sqrt_ps(_mm256_loadu_ps(q + a * 64 + c + 8)), ra);
      const __m256 kv = _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(_mm256_castps_si256(v), high), key));
      const __m256 kw = _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(_mm256_castps_si256(w), high), key));
      key = _mm256_add_epi32(key, one);
      m3 = _mm256_min_ps(m3, _mm256_max_ps(m2, kv));
      m2 = _mm256_min_ps(m2, _mm256_max_ps(m1, kv));
      m1 = _mm256_min_ps(m1, kv);
      n3 = _mm256_min_ps(n3, _mm256_max_ps(n2, kw));
      n2 = _mm256_min_ps(n2, _mm256_max_ps(n1, kw));
      n1 = _mm256_min_ps(n1, kw);
    }
    _mm256_storeu_ps(b1 + c, m1);
    _mm256_storeu_ps(b2 + c, m2);
    _mm256_storeu_ps(b3 + c, m3);
    _mm256_storeu_ps(b1 + c + 8, n1);
    _mm256_storeu_ps(b2 + c + 8, n2);
    _mm256_storeu_ps(b3 + c + 8, n3);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(i1 + c), _mm256_and_si256(_mm256_castps_si256(m1), low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(i2 + c), _mm256_and_si256(_mm256_castps_si256(m2), low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(i1 + c + 8), _mm256_and_si256(_mm256_castps_si256(n1), low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(i2 + c + 8), _mm256_and_si256(_mm256_castps_si256(n2), low));
  }
  if (count < 2)
    for (int c = 0; c < 64; ++c) i2[c] = -1;
}

// The wide intrinsics start from an undefined register that GCC 12 takes for
// an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f"))) void NearestThree(const float* q, const float* r, int count, float b1[64],
                                                     float b2[64], float b3[64], std::int32_t i1[64],
                                                     std::int32_t i2[64]) {
  if (count > kKeyedAtoms) return NearestThreeLong(q, r, count, b1, b2, b3, i1, i2);
  const __m512i high = _mm512_set1_epi32(-kKeyedAtoms), low = _mm512_set1_epi32(kKeyedAtoms - 1);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512 far = _mm512_set1_ps(kFar);
  // Two groups of sixteen sub-cubes at a time share the loads of r and the key.
  for (int c = 0; c < 64; c += 32) {
    __m512 m1 = far, m2 = far, m3 = far, n1 = far, n2 = far, n3 = far;
    __m512i key = _mm512_setzero_si512();
    for (int a = 0; a < count; ++a) {
      const __m512 ra = _mm512_set1_ps(r[a]);
      const __m512 v = _mm512_sub_ps(_mm512_sqrt_ps(_mm512_loadu_ps(q + a * 64 + c)), ra);
      const __m512 w = _mm512_sub_ps(_mm512_sqrt_ps(_mm512_loadu_ps(q + a * 64 + c + 16)), ra);
      const __m512 kv = _mm512_castsi512_ps(_mm512_or_si512(_mm512_and_si512(_mm512_castps_si512(v), high), key));
      const __m512 kw = _mm512_castsi512_ps(_mm512_or_si512(_mm512_and_si512(_mm512_castps_si512(w), high), key));
      key = _mm512_add_epi32(key, one);
      m3 = _mm512_min_ps(m3, _mm512_max_ps(m2, kv));
      m2 = _mm512_min_ps(m2, _mm512_max_ps(m1, kv));
      m1 = _mm512_min_ps(m1, kv);
      n3 = _mm512_min_ps(n3, _mm512_max_ps(n2, kw));
      n2 = _mm512_min_ps(n2, _mm512_max_ps(n1, kw));
      n1 = _mm512_min_ps(n1, kw);
    }
    _mm512_storeu_ps(b1 + c, m1);
    _mm512_storeu_ps(b2 + c, m2);
    _mm512_storeu_ps(b3 + c, m3);
    _mm512_storeu_ps(b1 + c + 16, n1);
    _mm512_storeu_ps(b2 + c + 16, n2);
    _mm512_storeu_ps(b3 + c + 16, n3);
    _mm512_storeu_si512(i1 + c, _mm512_and_si512(_mm512_castps_si512(m1), low));
    _mm512_storeu_si512(i2 + c, _mm512_and_si512(_mm512_castps_si512(m2), low));
    _mm512_storeu_si512(i1 + c + 16, _mm512_and_si512(_mm512_castps_si512(n1), low));
    _mm512_storeu_si512(i2 + c + 16, _mm512_and_si512(_mm512_castps_si512(n2), low));
  }
  if (count < 2)
    for (int c = 0; c < 64; ++c) i2[c] = -1;
}
#pragma GCC diagnostic pop
#endif

// Bound on |float distance - exact distance| with a wide margin. Candidates
// lie between -2.4 Å and 2.8 Å of their surface anywhere in the top-level
// cube; there float rounding stays near 1e-6 and the position key of
// NearestThree (under 64 ulp) below 1.6e-5.
constexpr float kApprox = 1e-4f;

// What the float distances (within kApprox of the exact ones) settle about
// each sub-cube, one bit per sub-cube:
//   Known   the two nearest atoms beyond doubt (the third is clearly farther,
//           or there is a single candidate);
//   Beyond  known, and wholly beyond the probe shell: nothing to add;
//   Alone   known, the nearest clearly nearer, and the cube not shared
//           (the second is more than 2 R farther or beyond the shell);
//   Whole   alone and wholly inside the sphere or wholly in the shell of the
//           nearest, Inside telling which: the share is the whole cube;
//   SharedInside  known, surely shared (the second less than 2 R farther and
//           within the shell), and the cube wholly inside the nearest sphere;
//   SharedShell   the same, the cube wholly in the shell of the nearest.
struct TKinds {
  std::uint64_t Known = 0, Beyond = 0, Alone = 0, Whole = 0, Inside = 0, SharedInside = 0, SharedShell = 0;
};

// The float levels Classify compares with: the margin, the outer end of the
// probe shell, the inner and outer bounds of a cube wholly inside the sphere
// or in the shell, and the width 2 R of the shared band.
struct TKindBounds {
  float E, Beyond, Inside, ShellLo, ShellHi, TwoR;
};
inline TKindBounds KindBounds(double Rp, double probe) {
  return {kApprox,
          static_cast<float>(probe + Rp),
          static_cast<float>(-Rp),
          static_cast<float>(Rp),
          static_cast<float>(probe - Rp),
          static_cast<float>(2 * Rp)};
}

// The same tests in every variant; the wide one yields the bits of sixteen
// sub-cubes per comparison.
#if CAVITAS_VOLUME_CLONES
__attribute__((target("default")))
#endif
TKinds Classify(const float b1[64], const float b2[64], const float b3[64], bool single, double Rp, double probe) {
  const auto [E, beyond, inside, shellLo, shellHi, twoR] = KindBounds(Rp, probe);
  TKinds k;
#if defined(__SSE2__)
  const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(single ? -1 : 0));
  const __m128 twoE = _mm_set1_ps(2 * E), twoRE = _mm_set1_ps(twoR + 2 * E), twoRLo = _mm_set1_ps(twoR - 2 * E);
  const __m128 beyondHi = _mm_set1_ps(beyond + E), beyondLo = _mm_set1_ps(beyond - E);
  const __m128 insideLo = _mm_set1_ps(inside - E), shellMin = _mm_set1_ps(shellLo + E),
               shellMax = _mm_set1_ps(shellHi - E);
  for (int c = 0; c < 64; c += 4) {
    const __m128 a1 = _mm_load_ps(b1 + c), a2 = _mm_load_ps(b2 + c), a3 = _mm_load_ps(b3 + c);
    const __m128 gap = _mm_sub_ps(a2, a1);
    const __m128 known = _mm_or_ps(all, _mm_cmpgt_ps(_mm_sub_ps(a3, a2), twoE));
    const __m128 far = _mm_and_ps(known, _mm_cmpgt_ps(a1, beyondHi));
    const __m128 alone = _mm_and_ps(_mm_and_ps(known, _mm_cmpgt_ps(gap, twoE)),
                                    _mm_or_ps(_mm_cmpgt_ps(gap, twoRE), _mm_cmpgt_ps(a2, beyondHi)));
    const __m128 lone = _mm_and_ps(alone, _mm_cmplt_ps(a1, beyondLo));
    const __m128 in = _mm_and_ps(lone, _mm_cmplt_ps(a1, insideLo));
    const __m128 shell = _mm_and_ps(_mm_and_ps(lone, _mm_cmpgt_ps(a1, shellMin)), _mm_cmplt_ps(a1, shellMax));
    auto bits = [c](__m128 m) { return static_cast<std::uint64_t>(_mm_movemask_ps(m)) << c; };
    k.Known |= bits(known);
    k.Beyond |= bits(far);
    k.Alone |= bits(alone);
    k.Whole |= bits(_mm_or_ps(in, shell));
    k.Inside |= bits(in);
    const __m128 sure = _mm_and_ps(_mm_and_ps(known, _mm_cmplt_ps(gap, twoRLo)), _mm_cmplt_ps(a2, beyondLo));
    k.SharedInside |= bits(_mm_and_ps(sure, _mm_cmplt_ps(a1, insideLo)));
    k.SharedShell |= bits(_mm_and_ps(_mm_and_ps(sure, _mm_cmpgt_ps(a1, shellMin)), _mm_cmplt_ps(a1, shellMax)));
  }
#else
  for (int c = 0; c < 64; ++c) {
    const float a1 = b1[c], a2 = b2[c], gap = a2 - a1;
    const std::uint64_t bit = std::uint64_t{1} << c;
    if (!single && !(b3[c] - a2 > 2 * E)) continue;
    k.Known |= bit;
    if (a1 > beyond + E) k.Beyond |= bit;
    if (gap < twoR - 2 * E && a2 < beyond - E) {
      if (a1 < inside - E) k.SharedInside |= bit;
      if (a1 > shellLo + E && a1 < shellHi - E) k.SharedShell |= bit;
    }
    if (!(gap > 2 * E && (gap > twoR + 2 * E || a2 > beyond + E))) continue;
    k.Alone |= bit;
    if (!(a1 < beyond - E)) continue;
    if (a1 < inside - E) {
      k.Whole |= bit;
      k.Inside |= bit;
    }
    if (a1 > shellLo + E && a1 < shellHi - E) k.Whole |= bit;
  }
#endif
  return k;
}

#if CAVITAS_VOLUME_CLONES
[[gnu::target("avx512f"), gnu::always_inline]] inline __mmask16 gt(__m512 a, __m512 b) {
  return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ);
}
[[gnu::target("avx512f"), gnu::always_inline]] inline __mmask16 lt(__m512 a, __m512 b) {
  return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ);
}

__attribute__((target("avx512f"))) TKinds Classify(const float b1[64], const float b2[64], const float b3[64],
                                                   bool single, double Rp, double probe) {
  const auto [E, beyond, inside, shellLo, shellHi, twoR] = KindBounds(Rp, probe);
  const __mmask16 all = single ? 0xFFFF : 0;
  const __m512 twoE = _mm512_set1_ps(2 * E), twoRE = _mm512_set1_ps(twoR + 2 * E),
               twoRLo = _mm512_set1_ps(twoR - 2 * E);
  const __m512 beyondHi = _mm512_set1_ps(beyond + E), beyondLo = _mm512_set1_ps(beyond - E);
  const __m512 insideLo = _mm512_set1_ps(inside - E), shellMin = _mm512_set1_ps(shellLo + E),
               shellMax = _mm512_set1_ps(shellHi - E);
  TKinds k;
  for (int c = 0; c < 64; c += 16) {
    const __m512 a1 = _mm512_loadu_ps(b1 + c), a2 = _mm512_loadu_ps(b2 + c), a3 = _mm512_loadu_ps(b3 + c);
    const __m512 gap = _mm512_sub_ps(a2, a1);
    const __mmask16 known = all | gt(_mm512_sub_ps(a3, a2), twoE);
    const __mmask16 alone = known & gt(gap, twoE) & (gt(gap, twoRE) | gt(a2, beyondHi));
    const __mmask16 lone = alone & lt(a1, beyondLo);
    const __mmask16 in = lone & lt(a1, insideLo);
    const __mmask16 inShell = gt(a1, shellMin) & lt(a1, shellMax);
    const __mmask16 sure = known & lt(gap, twoRLo) & lt(a2, beyondLo);
    const auto bits = [c](__mmask16 m) { return static_cast<std::uint64_t>(m) << c; };
    k.Known |= bits(known);
    k.Beyond |= bits(known & gt(a1, beyondHi));
    k.Alone |= bits(alone);
    k.Whole |= bits(in | (lone & inShell));
    k.Inside |= bits(in);
    k.SharedInside |= bits(sure & lt(a1, insideLo));
    k.SharedShell |= bits(sure & inShell);
  }
  return k;
}
#endif

class TFastVolumeScan {
 public:
  TFastVolumeScan(const TVolumeGrid& grid, const TAxisSteps& ax, const TAxisSteps& ay, const TAxisSteps& az,
                  TSums<double>& sums)
      : grid_(grid), sums_(sums) {
    for (int x = 0; x < kCells; ++x)
      for (int y = 0; y < kCells; ++y)
        for (int z = 0; z < kCells; ++z) {
          const TNewCollection<TAtom>* cell = grid.Cell(x, y, z);
          if (cell == nullptr) continue;
          for (const TAtom* a : *cell) {
            ax_.push_back(a->X);
            ay_.push_back(a->Y);
            az_.push_back(a->Z);
            rad_.push_back(sums.Model.Radius(*a));
            cut_.push_back(grid.CutOff[a->RadiusType]);
            num_.push_back(a->Number);
            cellX_.push_back(static_cast<std::uint8_t>(x));
            cellY_.push_back(static_cast<std::uint8_t>(y));
            cellZ_.push_back(static_cast<std::uint8_t>(z));
          }
        }
    PrepareLayers(ax);
    StepsOfCells(ay, yFirst_, yLast_);
    StepsOfCells(az, zFirst_, zLast_);
  }

  // Only the atoms whose entry in `owned` (by number) is non-zero take
  // additions; top-level cubes without such a candidate are skipped.
  void OwnOnly(const std::uint8_t* owned) { owned_ = owned; }

  // For every atom (by number), the first and last layer where it is a
  // candidate by the test Layer makes first, so that no addition can reach it
  // outside [first, last]; first > last for an atom that is a candidate nowhere.
  // Duplicate numbers share the span.
  void CandidateLayers(std::vector<int>& first, std::vector<int>& last) const {
    for (std::size_t a = 0; a < num_.size(); ++a) {
      if (firstLayer_[a] > lastLayer_[a]) continue;
      const std::size_t num = static_cast<std::size_t>(num_[a]);
      first[num] = std::min(first[num], firstLayer_[a]);
      last[num] = std::max(last[num], lastLayer_[a]);
    }
  }

  void Layer(const TAxisSteps& ax, const TAxisSteps& ay, const TAxisSteps& az, int i) {
    const std::vector<int>& active = ActiveAt(i);
    const std::size_t ii = static_cast<std::size_t>(i);
    if (ax.Lo[ii] > ax.Hi[ii] || active.empty()) return;
    const int nz = static_cast<int>(az.Centre.size());
    const float px = ax.Centre[ii];
    const std::array<int, kCells>&yFirst = yFirst_, &yLast = yLast_, &zFirst = zFirst_, &zLast = zLast_;
    std::size_t entryCount = 0;
    int jMin = INT_MAX, jMax = -1, kMin = nz, kMax = -1;
    // The atoms of the searched cells (in rank order) that are candidates in this layer.
    for (const int a : active) {
      const std::size_t as = static_cast<std::size_t>(a);
      if (cellX_[as] < ax.Lo[ii] || cellX_[as] > ax.Hi[ii]) continue;
      const double cut = cut_[as];
      const double dx = double(px) - double(ax_[as]);
      const double dx2 = dx * dx;
      if (!(dx2 < cut)) continue;
      // Conservative index windows (the sphere's extent in the slab, then in
      // the row, within the cubes whose searched cells hold the atom's cell);
      // the exact test decides.
      int j0, j1;
      Window(ay.Centre, ay_[as], std::sqrt(cut - dx2) + 0.01, j0, j1);
      const int cy = cellY_[as], cz = cellZ_[as];
      j0 = std::max(j0, yFirst[static_cast<std::size_t>(cy)]);
      j1 = std::min(j1, yLast[static_cast<std::size_t>(cy)]);
      for (int j = j0; j <= j1; ++j) {
        const std::size_t js = static_cast<std::size_t>(j);
        const double dy = double(ay.Centre[js]) - double(ay_[as]);
        const double dxy = dx2 + dy * dy;
        if (!(dxy < cut)) continue;
        int k0, k1;
        Window(az.Centre, az_[as], std::sqrt(cut - dxy) + 0.01, k0, k1);
        k0 = std::max(k0, zFirst[static_cast<std::size_t>(cz)]);
        k1 = std::min(k1, zLast[static_cast<std::size_t>(cz)]);
        if (k0 > k1) continue;
        const std::size_t need = entryCount + static_cast<std::size_t>(k1 - k0 + 1);
        // Grown by a quarter: a layer's entries are the scan's largest table.
        if (need > entries_.size()) entries_.resize(std::max(entries_.size() + entries_.size() / 4, need));
        // Every cube of the window is written, the next one overwriting it when out.
        TEntry* out = entries_.data() + entryCount;
        for (int k = k0; k <= k1; ++k) {
          const double dz = double(az.Centre[static_cast<std::size_t>(k)]) - double(az_[as]);
          *out = {j, k, a};
          out += dxy + dz * dz < cut;
        }
        const std::size_t written = static_cast<std::size_t>(out - entries_.data());
        if (written > entryCount) {
          jMin = std::min(jMin, j);
          jMax = std::max(jMax, j);
          kMin = std::min(kMin, k0);
          kMax = std::max(kMax, k1);
        }
        entryCount = written;
      }
    }
    if (entryCount == 0) return;
    const auto entries = std::span(entries_.data(), entryCount);
    // The cubes in ascending (j, k), each with its candidates in rank order:
    // a stable counting sort over the rows and columns in use while they are
    // not many more than the entries, else a stable sort of the entries (a
    // layer through parts far apart).
    const auto rows = static_cast<std::uint64_t>(jMax - jMin + 1), columns = static_cast<std::uint64_t>(kMax - kMin + 1);
    Fit(lists_, entryCount);
    if (rows * columns <= 4 * static_cast<std::uint64_t>(entryCount) + 4096) {
      const auto cubeOf = [&](const TEntry& e) {
        return static_cast<std::size_t>(e.J - jMin) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(e.K - kMin);
      };
      start_.assign(static_cast<std::size_t>(rows * columns) + 1, 0);
      for (const TEntry& e : entries) ++start_[cubeOf(e) + 1];
      for (std::size_t c = 1; c < start_.size(); ++c) start_[c] += start_[c - 1];
      fill_.assign(start_.begin(), start_.end() - 1);
      for (const TEntry& e : entries) lists_[static_cast<std::size_t>(fill_[cubeOf(e)]++)] = e.A;
      for (int j = jMin; j <= jMax; ++j)
        for (int k = kMin; k <= kMax; ++k) {
          const std::size_t c = static_cast<std::size_t>(j - jMin) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(k - kMin);
          const int b = start_[c], e = start_[c + 1];
          if (b == e) continue;
          TopCube(TCoord{px, ay.Centre[static_cast<std::size_t>(j)], az.Centre[static_cast<std::size_t>(k)]}, &lists_[static_cast<std::size_t>(b)], e - b);
        }
      return;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TEntry& u, const TEntry& v) { return u.J < v.J || (u.J == v.J && u.K < v.K); });
    for (std::size_t e = 0; e < entryCount; ++e) lists_[e] = entries[e].A;
    for (std::size_t b = 0; b < entryCount;) {
      std::size_t e = b + 1;
      while (e < entryCount && entries[e].J == entries[b].J && entries[e].K == entries[b].K) ++e;
      TopCube(TCoord{px, ay.Centre[static_cast<std::size_t>(entries[b].J)], az.Centre[static_cast<std::size_t>(entries[b].K)]},
              &lists_[b], static_cast<int>(e - b));
      b = e;
    }
  }

 private:
  static constexpr int kMaxDepth = 8;  // six levels of cuts at the finest exactness, plus room

  // Squared offsets of a kept atom from the sub-centres per axis step, and its radius.
  struct TKeptAtom {
    double X[4], Y[4], Z[4];
    double R;
    // The surface distance as SurfaceDistance evaluates it.
    double Distance(int xi, int yi, int zi) const { return std::sqrt(X[xi] + Y[yi] + Z[zi]) - R; }
  };

  // a.Distance and b.Distance at one sub-centre, the two square roots in one
  // instruction (correctly rounded either way).
  static void Distances(const TKeptAtom& a, const TKeptAtom& b, int xi, int yi, int zi, double& da, double& db) {
#if defined(__SSE2__)
    const __m128d q = _mm_add_pd(_mm_add_pd(_mm_set_pd(b.X[xi], a.X[xi]), _mm_set_pd(b.Y[yi], a.Y[yi])),
                                 _mm_set_pd(b.Z[zi], a.Z[zi]));
    const __m128d d = _mm_sub_pd(_mm_sqrt_pd(q), _mm_set_pd(b.R, a.R));
    da = _mm_cvtsd_f64(d);
    db = _mm_cvtsd_f64(_mm_unpackhi_pd(d, d));
#else
    da = a.Distance(xi, yi, zi);
    db = b.Distance(xi, yi, zi);
#endif
  }

  struct TLevel {
    // Buffers only grow (see Fit); the counts say how much is in use.
    std::vector<int> Kept;   // full-list slots, KeptCount of them
    std::vector<int> Ranked;  // positions in Kept of the atoms ranked at the sub-centres
    int KeptCount = 0;
    std::vector<double> Dk;  // their distances at the current sub-cube
    std::vector<TKeptAtom> Atoms;  // exact squared offsets of the kept atoms
    std::vector<float> Qf, Rf;  // float squared distances [atom * 64 + sub-cube] and radii for the first sorting
    std::vector<double> Dfull;  // full-list distances at a sub-cube that fell back
  };

  struct TEntry {
    int J, K;  // the cube's row and column in the layer
    int A;     // the atom's rank
  };

  // The layers where each atom (by rank) is a candidate by the x distance
  // alone: one run, since the centres ascend and the rounded dx * dx falls,
  // then rises, around the centre nearest to the atom. And the atoms by their
  // first layer, for the sweep of ActiveAt.
  void PrepareLayers(const TAxisSteps& ax) {
    const std::vector<float>& c = ax.Centre;
    const int n = static_cast<int>(c.size());
    const std::size_t count = num_.size();
    firstLayer_.assign(count, INT_MAX);
    lastLayer_.assign(count, -1);
    std::vector<int> perLayer(static_cast<std::size_t>(n) + 1, 0);
    for (std::size_t a = 0; a < count; ++a) {
      const double cut = cut_[a];
      auto candidate = [&](int i) {
        const double dx = double(c[static_cast<std::size_t>(i)]) - double(ax_[a]);
        return dx * dx < cut;
      };
      int i = static_cast<int>(std::lower_bound(c.begin(), c.end(), ax_[a]) - c.begin());
      if (i == n || (i > 0 && !candidate(i))) --i;
      if (i < 0 || !candidate(i)) continue;
      int lo = i, hi = i;
      while (lo > 0 && candidate(lo - 1)) --lo;
      while (hi + 1 < n && candidate(hi + 1)) ++hi;
      firstLayer_[a] = lo;
      lastLayer_[a] = hi;
      ++perLayer[static_cast<std::size_t>(lo) + 1];
    }
    for (std::size_t i = 1; i < perLayer.size(); ++i) perLayer[i] += perLayer[i - 1];
    byFirstStart_ = perLayer;
    byFirst_.resize(static_cast<std::size_t>(perLayer.back()));
    for (std::size_t a = 0; a < count; ++a)
      if (firstLayer_[a] <= lastLayer_[a]) byFirst_[static_cast<std::size_t>(perLayer[static_cast<std::size_t>(firstLayer_[a])]++)] = static_cast<int>(a);
  }

  // The atoms (ranks, ascending) that are candidates in layer i by the x
  // distance. Consecutive layers update the previous list: those whose last
  // layer has passed leave, those whose first layer this is join; so a scan
  // costs what its atoms' layers cost, however far apart the atoms lie.
  const std::vector<int>& ActiveAt(int i) {
    if (i != activeLayer_ + 1 || activeLayer_ < 0) {
      active_.clear();
      for (std::size_t a = 0; a < num_.size(); ++a)
        if (firstLayer_[a] <= i && i <= lastLayer_[a]) active_.push_back(static_cast<int>(a));
    } else {
      next_.clear();
      const auto joinBegin = byFirst_.begin() + byFirstStart_[static_cast<std::size_t>(i)];
      const auto joinEnd = byFirst_.begin() + byFirstStart_[static_cast<std::size_t>(i) + 1];
      auto join = joinBegin;
      for (const int a : active_) {
        if (lastLayer_[static_cast<std::size_t>(a)] < i) continue;
        while (join != joinEnd && *join < a) next_.push_back(*join++);
        next_.push_back(a);
      }
      next_.insert(next_.end(), join, joinEnd);
      active_.swap(next_);
    }
    activeLayer_ = i;
    return active_;
  }

  // For each grid cell along an axis, the steps whose searched cell range
  // holds it. Lo and Hi never decrease along the axis, so these form one run
  // [first, last] (empty when first > last).
  static void StepsOfCells(const TAxisSteps& a, std::array<int, kCells>& first, std::array<int, kCells>& last) {
    const int n = static_cast<int>(a.Lo.size());
    for (int c = 0; c < kCells; ++c) {
      int f = 0, l = n - 1;
      while (f < n && a.Hi[static_cast<std::size_t>(f)] < c) ++f;
      while (l >= 0 && a.Lo[static_cast<std::size_t>(l)] > c) --l;
      first[static_cast<std::size_t>(c)] = f;
      last[static_cast<std::size_t>(c)] = l;
    }
  }

  // Makes room for n elements. Buffers never shrink: shrinking and growing
  // again per cube would initialise the new elements each time.
  template <class T>
  static void Fit(std::vector<T>& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
  }

  // The window has a step of slack on either side and the exact test decides
  // each cube, so the steps are counted with the inverse of the edge: a
  // multiplication per atom and row instead of a division.
  static void Window(const std::vector<float>& centres, float p, double reach, int& lo, int& hi) {
    constexpr double kSteps = 1 / kVolumeCubeEdge;
    const double c0 = centres.front();
    const int last = static_cast<int>(centres.size()) - 1;
    lo = std::max(0, static_cast<int>(std::floor((double(p) - reach - c0) * kSteps)) - 1);
    hi = std::min(last, static_cast<int>(std::ceil((double(p) + reach - c0) * kSteps)) + 1);
  }

  double Distance(const TCoord& P, int a) const {
    const std::size_t as = static_cast<std::size_t>(a);
    return SurfaceDistance<double>(P, ax_[as], ay_[as], az_[as], rad_[as]);
  }

  // Sums into per-candidate slots of the current top-level cube: the very same
  // additions in the same order as into the accumulators, without the round
  // trip through memory between them.
  struct TSlotSums {
    double* Vol;
    double* Con;
    double Probe, Exactness;
    void AddVolume(int slot, double x) { Vol[slot] = Vol[slot] + x; }
    void AddContact(int slot, double x) { Con[slot] = Con[slot] + x; }
  };

  void TopCube(const TCoord& P, const int* list, int count) {
    if (owned_ != nullptr) {
      bool any = false;
      for (int i = 0; i < count; ++i) any |= owned_[num_[static_cast<std::size_t>(list[i])]] != 0;
      if (!any) return;
    }
    full_ = list;
    fullCount_ = count;
    const std::size_t n = static_cast<std::size_t>(count);
    Fit(topD_, n);
    Fit(slotVol_, n);
    Fit(slotCon_, n);
    Fit(fullSlots_, n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t num = static_cast<std::size_t>(num_[static_cast<std::size_t>(list[i])]);
      slotVol_[i] = sums_.Vol[num];
      slotCon_[i] = sums_.Con[num];
      fullSlots_[i] = static_cast<int>(i);
      topD_[i] = Distance(P, list[i]);
    }
    TSlotSums slots{slotVol_.data(), slotCon_.data(), sums_.Probe, sums_.Exactness};
    TPair<double> pair;
    pair.Select(count, [&](int i) { return topD_[static_cast<std::size_t>(i)]; });
    const double R = kSqrt3 * kVolumeHalfEdge;
    const int n2 = pair.i2 >= 0 ? pair.i2 : 0;
    if (SettleCube<double>(pair.i1, pair.d1, n2, pair.d2, R, kVolumeCubeVolume, kVolumeHalfEdge, slots))
      Cut(P, fullSlots_.data(), topD_.data(), count, pair.d2, R, kVolumeCubeVolume, kVolumeHalfEdge, 0, slots);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t num = static_cast<std::size_t>(num_[static_cast<std::size_t>(list[i])]);
      if (owned_ != nullptr && owned_[num] == 0) continue;
      sums_.Vol[num] = slotVol_[i];
      sums_.Con[num] = slotCon_[i];
    }
  }

  // Cuts the cube (P, s) whose candidates (full-list slots) `list` lie at
  // distances `d`, d2 being the second smallest (1000 for a single candidate).
  //
  // For every sub-cube the two nearest candidates are first found from float
  // distances, which are within kApprox of the exact ones; where that settles
  // the two nearest beyond doubt and the cube lies wholly inside one sphere,
  // wholly in one shell or beyond the shell by more than kApprox, the share is
  // added directly (the exact values could only confirm it). Otherwise the
  // exact distances decide as in the straightforward scan: of the nearest
  // alone where the cube cannot be shared, of the two nearest where no third
  // can tie, of all kept candidates elsewhere.
  void Cut(const TCoord& P, const int* list, const double* d, int count, double d2, double R, double V, double s,
           int depth, TSlotSums& slots) {
    if (depth >= kMaxDepth) RaiseLimit("volume subdivision depth");
    TLevel& lv = levels_[static_cast<std::size_t>(depth)];
    // Every point of the cube lies within R of P, where the distance of an atom
    // changes by at most R: an atom farther than d2 + 2 R can never be one of
    // the two nearest anywhere inside, nor at a sub-centre (within 3/4 R of P)
    // one farther than d2 + 1.5 R, which need not be ranked. The slack covers
    // rounding, and leaves the unranked farther than the second nearest by more
    // than the float ranking can err.
    const double keepBelow = d2 + 2 * R + 1e-3;
    const double rankBelow = d2 + 1.5 * R + 1e-3;
    // Branch-free filter: every candidate is written, the next one overwriting it when out.
    Fit(lv.Kept, static_cast<std::size_t>(count));
    Fit(lv.Ranked, static_cast<std::size_t>(count));
    int kept = 0, ranked = 0;
    for (int i = 0; i < count; ++i) {
      lv.Kept[static_cast<std::size_t>(kept)] = list[i];
      lv.Ranked[static_cast<std::size_t>(ranked)] = kept;
      ranked += d[i] <= rankBelow;
      kept += d[i] <= keepBelow;
    }
    lv.KeptCount = kept;
    const std::size_t K = static_cast<std::size_t>(kept);
    const double sp = s * 0.25;
    const double Vp = V * 0.015625;
    const double Rp = kSqrt3 * sp;
    const bool fine = !(sp >= sums_.Exactness);
    float xs[4], ys[4], zs[4];
    SubCentres<double>(P.X, sp, xs);
    SubCentres<double>(P.Y, sp, ys);
    SubCentres<double>(P.Z, sp, zs);
    // Exact squared offsets per kept atom and axis step.
    Fit(lv.Atoms, K);
    for (std::size_t a = 0; a < K; ++a) {
      const std::size_t as = static_cast<std::size_t>(full_[lv.Kept[a]]);
      TKeptAtom& k = lv.Atoms[a];
      for (std::size_t q = 0; q < 4; ++q) {
        const double dx = double(xs[q]) - double(ax_[as]);
        const double dy = double(ys[q]) - double(ay_[as]);
        const double dz = double(zs[q]) - double(az_[as]);
        k.X[q] = dx * dx;
        k.Y[q] = dy * dy;
        k.Z[q] = dz * dz;
      }
      k.R = rad_[as];
    }
    // Float squared distances of the ranked atoms at the 64 sub-centres.
    Fit(lv.Qf, static_cast<std::size_t>(ranked) * 64);
    Fit(lv.Rf, static_cast<std::size_t>(ranked));
    for (int j = 0; j < ranked; ++j) {
      const TKeptAtom& k = lv.Atoms[static_cast<std::size_t>(lv.Ranked[static_cast<std::size_t>(j)])];
      float xf[4], yf[4], zf[4];
      for (std::size_t q = 0; q < 4; ++q) {
        xf[q] = static_cast<float>(k.X[q]);
        yf[q] = static_cast<float>(k.Y[q]);
        zf[q] = static_cast<float>(k.Z[q]);
      }
      NearSquares(xf, yf, zf, &lv.Qf[static_cast<std::size_t>(j) * 64]);
      lv.Rf[static_cast<std::size_t>(j)] = static_cast<float>(k.R);
    }
    // The three smallest float distances per sub-cube (x outer, y, z inner),
    // the atoms as positions in the ranked list.
    alignas(16) float b1[64], b2[64], b3[64];
    alignas(16) std::int32_t i1[64], i2[64];
    NearestThree(lv.Qf.data(), lv.Rf.data(), ranked, b1, b2, b3, i1, i2);
    const TKinds kinds = Classify(b1, b2, b3, ranked == 1, Rp, sums_.Probe);
    const TKeptAtom* atoms = lv.Atoms.data();
    const int* rank = lv.Ranked.data();
    const int* keptSlots = lv.Kept.data();
    const std::uint64_t active = ~kinds.Beyond;
    // Where the two nearest are known (and the cube need not be cut further),
    // their exact distances come first, in a pass of their own so that the
    // square roots overlap. A cube that cannot be shared takes the nearest
    // alone: atom 0 at 1000 as second, as for a single candidate.
    const std::uint64_t pairs = fine ? active & ~kinds.Whole & kinds.Known : 0;
    alignas(16) double e1[64], e2[64];
    std::int32_t s1[64], s2[64];
    for (std::uint64_t todo = pairs; todo != 0; todo &= todo - 1) {
      const int c = std::countr_zero(todo);
      const int xi = c >> 4, yi = (c >> 2) & 3, zi = c & 3;
      const bool alone = (kinds.Alone >> c) & 1;
      const int k1 = rank[i1[c]];
      const std::int32_t pick = -static_cast<std::int32_t>(alone);  // all ones when alone
      const int k2 = rank[(i1[c] & pick) | (i2[c] & ~pick)];
      double dA, dB;
      Distances(atoms[k1], atoms[k2], xi, yi, zi, dA, dB);
      const bool swap = dB < dA;  // on equality the first found stays first
      e1[c] = swap ? dB : dA;
      // Alone is hard to predict here: the second is masked out without a branch.
      const std::uint64_t keep = static_cast<std::uint64_t>(static_cast<std::int64_t>(~pick));
      e2[c] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(swap ? dA : dB) & keep) |
                                    (std::bit_cast<std::uint64_t>(1000.0) & ~keep));
      s1[c] = keptSlots[swap ? k2 : k1];
      s2[c] = keptSlots[swap ? k1 : k2] & ~pick;
    }
    // Sub-cubes in ascending order, as the straightforward scan adds them.
    // Runs of whole sub-cubes adding to one sum keep it in a register: through
    // memory, each addition would wait for the store of the one before.
    double* held = nullptr;
    double heldSum = 0;
    auto release = [&] {
      if (held != nullptr) *held = heldSum;
      held = nullptr;
    };
    for (std::uint64_t todo = active; todo != 0; todo &= todo - 1) {
      const int c = std::countr_zero(todo);
      const std::uint64_t bit = std::uint64_t{1} << c;
      if (kinds.Whole & bit) {
        double* sum = ((kinds.Inside & bit) ? slots.Vol : slots.Con) + keptSlots[rank[i1[c]]];
        if (sum != held) {
          release();
          held = sum;
          heldSum = *sum;
        }
        heldSum = heldSum + Vp;
        continue;
      }
      release();
      if (pairs & bit) {
        // Alone and the Shared kinds rest on the float margins, so they are known
        // before the exact distances are: the choice of the settling need not
        // wait for them, only the exact bounds it still tests.
        if (kinds.Alone & bit) {
          const double probe = sums_.Probe;
          if (e1[c] < probe + Rp) SettleUnshared<double>(s1[c], e1[c], Rp, Vp, probe, true, slots);
        } else if (kinds.SharedInside & bit) {
          SettleSharedInside<double>(s1[c], e1[c], s2[c], e2[c], Rp, Vp, slots);
        } else if (kinds.SharedShell & bit) {
          SettleSharedShell<double>(s1[c], e1[c], s2[c], e2[c], Rp, Vp, slots);
        } else {
          SettleCube<double>(s1[c], e1[c], s2[c], e2[c], Rp, Vp, sp, slots);
        }
        continue;
      }
      const int xi = c >> 4, yi = (c >> 2) & 3, zi = c & 3;
      ExactSubCube(lv, TCoord{xs[xi], ys[yi], zs[zi]}, xi, yi, zi, Rp, Vp, sp, depth, slots);
    }
    release();
  }

  // One sub-cube evaluated from the exact distances of all kept candidates; a
  // third candidate tying with the second nearest defers to the full list.
  void ExactSubCube(TLevel& lv, const TCoord& Q, int xi, int yi, int zi, double Rp, double Vp, double sp, int depth,
                    TSlotSums& slots) {
    const int kept = lv.KeptCount;
    Fit(lv.Dk, static_cast<std::size_t>(kept));
    double* dk = lv.Dk.data();
    for (int a = 0; a < kept; ++a)
      dk[a] = lv.Atoms[static_cast<std::size_t>(a)].Distance(xi, yi, zi);
    TPair<double> pair;
    pair.Select(kept, [&](int i) { return dk[i]; });
    const int* subList = lv.Kept.data();
    const double* subD = dk;
    int subCount = kept;
    if (kept > 2) {
      int within = 0;
      for (int a = 0; a < kept; ++a) within += dk[a] <= pair.d2;
      if (within > 2) {
        Fit(lv.Dfull, static_cast<std::size_t>(fullCount_));
        for (int i = 0; i < fullCount_; ++i) lv.Dfull[static_cast<std::size_t>(i)] = Distance(Q, full_[i]);
        subList = fullSlots_.data();
        subD = lv.Dfull.data();
        subCount = fullCount_;
        pair.Select(subCount, [&](int i) { return subD[i]; });
      }
    }
    const int n1 = subList[pair.i1];
    const int n2 = pair.i2 >= 0 ? subList[pair.i2] : 0;
    if (SettleCube<double>(n1, pair.d1, n2, pair.d2, Rp, Vp, sp, slots))
      Cut(Q, subList, subD, subCount, pair.d2, Rp, Vp, sp, depth + 1, slots);
  }

  const TVolumeGrid& grid_;
  TSums<double>& sums_;
  std::vector<float> ax_, ay_, az_;
  std::vector<double> rad_, cut_;
  std::vector<std::int32_t> num_;
  std::vector<std::uint8_t> cellX_, cellY_, cellZ_;
  std::vector<int> firstLayer_, lastLayer_;  // by rank; first > last: a candidate nowhere
  std::vector<int> byFirst_, byFirstStart_;  // ranks by first layer (ascending inside one)
  std::vector<int> active_, next_;
  int activeLayer_ = -1;
  std::array<int, kCells> yFirst_{}, yLast_{}, zFirst_{}, zLast_{};  // StepsOfCells of the y and z steps
  std::vector<TEntry> entries_;
  std::vector<int> start_, fill_, lists_;
  std::vector<double> topD_;
  const int* full_ = nullptr;  // rank indices of the top-level cube's candidates
  int fullCount_ = 0;
  std::vector<int> fullSlots_;  // 0..fullCount_ - 1
  std::vector<double> slotVol_, slotCon_;
  std::array<TLevel, kMaxDepth> levels_;
  const std::uint8_t* owned_ = nullptr;  // by atom number; null: every atom
};

// (Atom, layer) candidate pairs per range at least (about 1000 atoms at the
// default exactness): below, the cubes scanned by two ranges near each cut and
// the thread cost more than a range saves.
constexpr std::int64_t kMinCandidatesPerRange = 10000;
constexpr int kMaxRanges = 8;

// The fast scan of layers 0..layers - 1 in up to `threading.Threads` ranges
// of layers (0: the machine's cores, fewer for a small structure), range 0 on
// the calling thread into the accumulators, each other range on a thread of
// its own into sums of its own.
//
// Every atom belongs to the range of the first layer where it is a candidate.
// A range takes the additions to its own atoms only, and scans on past its
// last layer, through the cubes with an atom of its own, until the last layer
// of its atoms: each atom then receives all its additions from one scan, in
// the order of the serial scan (the shares a cube hands out depend on its
// candidates alone, never on the sums). The sums of a later range's atoms are
// still 0.0 in the accumulators and are moved over whole, so the result is the
// serial one whatever the ranges are.
//
// So a thread that is done can take over the later part of another range's
// layers while they are still to come: the range ends where the new one
// begins and gives up the atoms whose first layer lies beyond, before it scans
// that layer. Cores of unequal speed (a busy sibling, a shared host) then
// finish together instead of the faster waiting for the slower.
void FastScanLayers(const TVolumeGrid& grid, const TAxisSteps& ax, const TAxisSteps& ay, const TAxisSteps& az,
                    int layers, TSums<double>& sums, const TVolumeThreads& threading, TStatus& progress) {
  TFastVolumeScan first(grid, ax, ay, az, sums);
  const std::size_t entries = sums.Vol.size();  // atom numbers 0..AtomCount
  std::vector<int> from(entries, INT_MAX), to(entries, -1);
  first.CandidateLayers(from, to);
  // The work of a layer: its candidate atoms (by the x distance); costBefore[i]
  // that of the layers before i. A range [b, e) scans its layers, then on to
  // the last layer of its atoms the cubes with one of them: near e nearly all
  // cubes, fewer farther on; about 3/4 of the work of those layers (tail[e]).
  const std::size_t layerCount = static_cast<std::size_t>(layers);
  std::vector<std::int64_t> costBefore(layerCount + 1, 0), tail(layerCount + 1, 0);
  {
    std::vector<std::int64_t> active(layerCount + 1, 0);
    // reach[e]: one past the last layer of the atoms first in a layer before e.
    std::vector<int> reach(layerCount + 1, 0);
    for (std::size_t n = 0; n < entries; ++n) {
      if (from[n] > to[n]) continue;
      const auto f = static_cast<std::size_t>(from[n]), t = static_cast<std::size_t>(to[n]);
      active[f] += 1;
      active[t + 1] -= 1;
      reach[f + 1] = std::max(reach[f + 1], to[n] + 1);
    }
    std::int64_t candidates = 0;
    for (std::size_t i = 0; i < layerCount; ++i) {
      candidates += active[i];
      costBefore[i + 1] = costBefore[i] + candidates;
    }
    for (std::size_t e = 1; e <= layerCount; ++e) {
      reach[e] = std::max(reach[e], reach[e - 1]);
      const auto r = static_cast<std::size_t>(std::max(reach[e], static_cast<int>(e)));
      tail[e] = (costBefore[r] - costBefore[e]) * 3 / 4;
    }
  }
  const std::int64_t total = costBefore.back();
  const auto cost = [&](int b, int e) {
    const auto bs = static_cast<std::size_t>(b), es = static_cast<std::size_t>(e);
    return costBefore[es] - costBefore[bs] + tail[es];
  };
  int ranges = threading.Threads;
  if (ranges <= 0) {
    // A finer exactness cuts the cubes along the surfaces once more for every
    // quarter of the half-edge, each time into about 16 times as many.
    std::int64_t perPair = 1;
    for (double s = kVolumeHalfEdge * 0.25; s >= sums.Model.Exactness && perPair < (1 << 16); s *= 0.25) perPair *= 16;
    ranges = std::min(MachineThreads(), kMaxRanges);
    ranges = static_cast<int>(std::clamp<std::int64_t>(total * perPair / kMinCandidatesPerRange, 1, ranges));
  }
  ranges = std::clamp(ranges, 1, layers);
  if (ranges == 1) {
    for (int i = 0; i < layers; ++i) {
      progress.SetPosition(i + 1);
      first.Layer(ax, ay, az, i);
    }
    return;
  }

  struct TRange {
    int Begin = 0;
    int End = 0;     // one past the layers whose atoms are the range's own; lowered by a take-over
    int Next = 0;    // the first layer not yet begun
    int Reach = 0;   // one past the last layer of its atoms
    int Claimed = 0;  // the End that Own and Reach were made for
    std::vector<std::uint8_t> Own;  // by atom number
    TAtomAccumulator Vol, Con;      // range 0: unused, it sums into the accumulators
    std::exception_ptr Error;
  };
  // The atoms whose first layer lies in [Begin, end), and the reach of their layers.
  const auto claim = [&](TRange& part, int end) {
    part.Claimed = end;
    part.Own.assign(entries, 0);
    part.Reach = end;
    for (std::size_t n = 0; n < entries; ++n) {
      if (from[n] > to[n] || from[n] < part.Begin || from[n] >= end) continue;
      part.Own[n] = 1;
      part.Reach = std::max(part.Reach, to[n] + 1);
    }
  };
  // Guards End and Next of every range, and the list of ranges.
  std::mutex lock;
  std::vector<std::unique_ptr<TRange>> parts;
  // Ranges of equal cost: the least bound on the cost of each for which the
  // ranges, each as long as it stays within the bound, cover the layers.
  const auto cuts = [&](std::int64_t bound, std::vector<int>& ends) {
    ends.clear();
    for (int b = 0; b < layers && static_cast<int>(ends.size()) < ranges;) {
      int e = b + 1;
      while (e < layers && layers - e > ranges - 1 - static_cast<int>(ends.size()) && cost(b, e + 1) <= bound) ++e;
      ends.push_back(e);
      b = e;
    }
    return !ends.empty() && ends.back() == layers;
  };
  std::vector<int> ends;
  std::int64_t low = 0, high = cost(0, layers);
  while (low < high) {
    const std::int64_t mid = low + (high - low) / 2;
    if (cuts(mid, ends)) high = mid;
    else low = mid + 1;
  }
  cuts(high, ends);
  for (int b = 0; const int e : ends) {
    auto part = std::make_unique<TRange>();
    part->Begin = part->Next = b;
    part->End = e;
    claim(*part, e);
    parts.push_back(std::move(part));
    b = e;
  }
  ranges = static_cast<int>(parts.size());
  TRange& main = *parts[0];
  first.OwnOnly(main.Own.data());

  // A failing range stops those that begin later only: the error reported is
  // then the one the serial scan meets first.
  std::atomic<int> failed{INT_MAX};  // the first layer of the earliest failing range
  std::atomic<int> done{0};          // layers finished, for the progress
  const auto fail = [&](int begin) {
    int f = failed.load();
    while (begin < f && !failed.compare_exchange_weak(f, begin)) {
    }
  };
  const auto scanRange = [&](TRange& part, bool reporting) {
    TSums<double> own{part.Vol, part.Con, sums.Model};
    std::optional<TFastVolumeScan> local;
    TFastVolumeScan* scan = &first;
    if (&part != &main) {
      part.Vol.assign(entries, 0.0);
      part.Con.assign(entries, 0.0);
      scan = &local.emplace(grid, ax, ay, az, own);
      scan->OwnOnly(part.Own.data());
    }
    for (int i = part.Begin; failed.load(std::memory_order_relaxed) > part.Begin; ++i) {
      int end;
      {
        const std::lock_guard guard(lock);
        end = part.End;
        part.Next = i + 1;
      }
      // Taken over from `end` on (beyond i): those atoms have had no addition
      // yet, and are given up before their first layer.
      if (end < part.Claimed) claim(part, end);
      if (i >= part.Reach) break;
      // The layers begun, as far as the calling thread can tell; never past the last.
      if (reporting && i < end) progress.SetPosition(std::min(layers, done.load(std::memory_order_relaxed) + 1));
      scan->Layer(ax, ay, az, i);
      if (i < end) done.fetch_add(1, std::memory_order_relaxed);
    }
  };
  // The later part of the layers still to come of the range with the most
  // work left, cut where both parts cost about the same, when that work is
  // worth the layers both then scan.
  const std::int64_t minimum = std::max<std::int64_t>(1, total * threading.MinTakeOver / layers);
  const auto takeOver = [&]() -> TRange* {
    const std::lock_guard guard(lock);
    if (failed.load() < INT_MAX) return nullptr;
    TRange* victim = nullptr;
    std::int64_t most = 0;
    for (const auto& part : parts) {
      if (part->End - part->Next < 2) continue;
      const std::int64_t left =
          costBefore[static_cast<std::size_t>(part->End)] - costBefore[static_cast<std::size_t>(part->Next)];
      if (left > most) {
        most = left;
        victim = part.get();
      }
    }
    if (victim == nullptr || most < minimum) return nullptr;
    // The victim keeps at least the layer after the one it is in.
    int cut = victim->Next + 1;
    while (cut + 1 < victim->End && cost(victim->Next, cut + 1) <= cost(cut + 1, victim->End)) ++cut;
    auto part = std::make_unique<TRange>();
    part->Begin = part->Next = cut;
    part->End = victim->End;
    claim(*part, part->End);
    parts.push_back(std::move(part));
    // Only now, with nothing left to fail, does the victim end at the cut.
    victim->End = cut;
    if (threading.TakeOvers != nullptr) ++*threading.TakeOvers;
    return parts.back().get();
  };
  // The list grows under the lock while threads run: each starts from a copy.
  std::vector<TRange*> initial;
  for (const auto& part : parts) initial.push_back(part.get());
  RunParts(ranges, [&](int t) {
    for (TRange* part = initial[static_cast<std::size_t>(t)]; part != nullptr; part = takeOver()) {
      try {
        scanRange(*part, t == 0);
      } catch (...) {
        part->Error = std::current_exception();
        fail(part->Begin);
      }
    }
  });
  if (const int f = failed.load(); f < INT_MAX)
    for (const auto& part : parts)
      if (part->Begin == f) std::rethrow_exception(part->Error);
  progress.SetPosition(layers);
  for (const auto& part : parts) {
    if (part.get() == &main) continue;
    for (std::size_t n = 0; n < entries; ++n) {
      if (part->Own[n] == 0) continue;
      // Range 0 writes its own atoms only, the ranges own disjoint sets.
      assert(sums.Vol[n] == 0.0 && sums.Con[n] == 0.0);
      sums.Vol[n] = part->Vol[n];
      sums.Con[n] = part->Con[n];
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------

double SmoothSplit(double x, double R) { return SmoothSplitT<double>(x, R); }

bool IsCandidate(const TVolumeGrid& grid, const TCoord& centre, const TAtom& atom) {
  return IsCandidateT<double>(grid, centre, atom);
}

void delAT(TAtomAccumulator* accumulator) {
  if (accumulator == nullptr) RaiseError(TErrorCode::NullAccess, "Volumen", "delAT");
  accumulator->assign(accumulator->size(), 0.0);
}

void VolumeOfCube(const TModelConstants& model, const TCoord& P, const TNewCollection<TAtom>& L, double V, double s,
                  TAtomAccumulator& volume, TAtomAccumulator& contactVolume) {
  TSums<double> sums{volume, contactVolume, model};
  VolumeOfCubeT<double>(P, L, V, s, sums);
}

void SetUpVolumeGrid(TVolumeGrid& grid, const TProteinObject& protein, const std::vector<std::uint8_t>& included,
                     std::unique_ptr<TAtomAccumulator>& volume, std::unique_ptr<TAtomAccumulator>& contactVolume) {
  FreeVolumeGrid(grid);
  // The box of the atoms present; without atoms it stays inverted.
  grid.Min = TCoord{1000.0f, 1000.0f, 1000.0f};
  grid.Max = TCoord{-1000.0f, -1000.0f, -1000.0f};
  bool first = true;
  const int last = std::min(protein.AtomCount, static_cast<int>(included.size()) - 1);
  auto each = [&](auto&& visit) {
    for (int i = 1; i <= last; ++i) {
      if (included[static_cast<std::size_t>(i)] == 0) continue;
      const TAtom* a = protein.AtomAt(i);
      if (a != nullptr) visit(*a);
    }
  };
  each([&](const TAtom& a) {
    if (first) {
      grid.Min = grid.Max = TCoord{a.X, a.Y, a.Z};
      first = false;
    }
    grid.Min.X = std::min(grid.Min.X, a.X);
    grid.Min.Y = std::min(grid.Min.Y, a.Y);
    grid.Min.Z = std::min(grid.Min.Z, a.Z);
    grid.Max.X = std::max(grid.Max.X, a.X);
    grid.Max.Y = std::max(grid.Max.Y, a.Y);
    grid.Max.Z = std::max(grid.Max.Z, a.Z);
  });
  const TModelConstants& model = protein.Context.Model;
  const long double minEdge = 2.5L + model.ProbeRadius + kVolumeHalfEdge;
  auto axis = [&](float& lo, float& hi, float& edge, float& inverse) {
    lo = static_cast<float>(static_cast<long double>(lo) - 0.1L);
    hi = static_cast<float>(static_cast<long double>(hi) + 0.1L);
    edge = static_cast<float>((static_cast<long double>(hi) - lo) * 0.0625L);
    if (edge < minEdge) edge = static_cast<float>(minEdge);
    inverse = static_cast<float>(1.0L / edge);
  };
  axis(grid.Min.X, grid.Max.X, grid.Edge.X, grid.Inverse.X);
  axis(grid.Min.Y, grid.Max.Y, grid.Edge.Y, grid.Inverse.Y);
  axis(grid.Min.Z, grid.Max.Z, grid.Edge.Z, grid.Inverse.Z);
  auto cellOf = [](float v, float lo, float inverse) {
    const long double c = std::trunc((static_cast<long double>(v) - lo) * inverse);
    if (!(c >= 0 && c < kCells)) RaiseLimit("volume grid cell 0..15");
    return static_cast<int>(c);
  };
  each([&](const TAtom& a) {
    if (a.Number < 1 || static_cast<std::size_t>(a.Number) >= included.size())
      RaiseLimit("atom number " + std::to_string(a.Number) + " outside the volume scan's atoms");
    const int x = cellOf(a.X, grid.Min.X, grid.Inverse.X);
    const int y = cellOf(a.Y, grid.Min.Y, grid.Inverse.Y);
    const int z = cellOf(a.Z, grid.Min.Z, grid.Inverse.Z);
    auto& cell = grid.Cells[static_cast<std::size_t>(TVolumeGrid::CellIndex(x, y, z))];
    if (!cell) {
      cell = std::make_unique<TNewCollection<TAtom>>();
      cell->reserve(10);
    }
    cell->push_back(const_cast<TAtom*>(&a));
  });
  for (std::size_t t = 0; t < grid.CutOff.size(); ++t) {
    const double reach = model.RadiusTable[t] + model.ProbeRadius + kVolumeHalfEdge * kSqrt3;
    grid.CutOff[t] = reach * reach;
  }
  for (auto* acc : {&volume, &contactVolume}) {
    if (!*acc) *acc = std::make_unique<TAtomAccumulator>();
    (*acc)->resize(included.size());
    delAT(acc->get());
  }
}

void FreeVolumeGrid(TVolumeGrid& grid) {
  for (auto& cell : grid.Cells) cell.reset();
}

void ScanVolumeLayers(const TProteinObject& protein, const std::vector<std::uint8_t>& included,
                      std::unique_ptr<TAtomAccumulator>& volume, std::unique_ptr<TAtomAccumulator>& contactVolume,
                      TVolumeMethod method, const TVolumeThreads& threads) {
  const TModelConstants& model = protein.Context.Model;
  TStatus& progress = protein.Context.Progress;
  progress.StageName = "volume: Schicht ";
  TVolumeGrid grid;
  SetUpVolumeGrid(grid, protein, included, volume, contactVolume);
  const long double margin = Margin(model);
  const TCoord low{static_cast<float>(grid.Min.X - margin), static_cast<float>(grid.Min.Y - margin),
                   static_cast<float>(grid.Min.Z - margin)};
  const TCoord high{static_cast<float>(grid.Max.X + margin), static_cast<float>(grid.Max.Y + margin),
                    static_cast<float>(grid.Max.Z + margin)};
  auto count = [](float lo, float hi) {
    return static_cast<int>(std::trunc((static_cast<long double>(hi) - lo) * 0.5L / static_cast<long double>(kVolumeHalfEdge)));
  };
  // The steps per axis follow the extent of the box (coordinates are below
  // 10000 Å, so at most about 25 000); the scan itself visits only the cubes
  // near atoms.
  for (const auto& [lo, hi] : {std::pair{low.X, high.X}, std::pair{low.Y, high.Y}, std::pair{low.Z, high.Z}})
    if (!(static_cast<long double>(hi) - lo <= kMaxScanExtent))
      RaiseLimit("volume scan box wider than " + std::to_string(static_cast<int>(kMaxScanExtent)) + " A");
  const int nx = count(low.X, high.X), ny = count(low.Y, high.Y), nz = count(low.Z, high.Z);
  progress.Total = nx;
  progress.SetPosition(0);
  if (nx >= 0 && ny >= 0 && nz >= 0) {
    // Largest cut-off distance, with slack for the rounding of centres and inverses.
    const double reach = std::sqrt(*std::max_element(grid.CutOff.begin(), grid.CutOff.end())) + 0.01;
    const TAxisSteps ax = AxisSteps(grid.Min.X, grid.Inverse.X, nx, reach, Margin(model));
    const TAxisSteps ay = AxisSteps(grid.Min.Y, grid.Inverse.Y, ny, reach, Margin(model));
    const TAxisSteps az = AxisSteps(grid.Min.Z, grid.Inverse.Z, nz, reach, Margin(model));
    TSums<double> sums{*volume, *contactVolume, model};
    TSums<long double> sumsExtended{*volume, *contactVolume, model};
    if (method == TVolumeMethod::Fast) {
      FastScanLayers(grid, ax, ay, az, nx + 1, sums, threads, progress);
    } else {
      for (int i = 0; i <= nx; ++i) {
        progress.SetPosition(i + 1);
        if (method == TVolumeMethod::Reference) {
          ReferenceLayer<double>(grid, ax, ay, az, i, sums);
        } else {
          ReferenceLayer<long double>(grid, ax, ay, az, i, sumsExtended);
        }
      }
    }
  }
  FreeVolumeGrid(grid);
  progress.StageName = "";
  progress.SetPosition(0);
}

void VolumeOfAtoms(TProteinObject& protein, std::unique_ptr<TAtomAccumulator>& volume,
                   std::unique_ptr<TAtomAccumulator>& contactVolume, TVolumeMethod method,
                   const TVolumeThreads& threads) {
  std::vector<std::uint8_t> included(static_cast<std::size_t>(std::max(protein.AtomCount, 0)) + 1, 0);
  for (int i = 1; i <= protein.AtomCount; ++i) included[static_cast<std::size_t>(i)] = 1;
  ScanVolumeLayers(protein, included, volume, contactVolume, method, threads);
}

void ComputeVolumes(TProteinObject& protein, TVolumeMethod method) {
  protein.RemarkLines.push_back(
      std::make_unique<TString>(std::string("REMARK   contacts and volume evaluated according ") +
                                (protein.Context.Model.RadiusSet == kProtor ? "PROTOR" : "STOUTEN")));
  protein.RemarkLines.push_back(std::make_unique<TString>("REMARK   volume evaluated with exactness " +
                                                          FormatReal(protein.Context.Model.Exactness, 10, 6)));
  std::unique_ptr<TAtomAccumulator> volume, contactVolume;
  VolumeOfAtoms(protein, volume, contactVolume, method);
  const int last = std::min(protein.AtomCount, static_cast<int>(volume->size()) - 1);
  for (int i = 1; i <= last; ++i) {
    TAtom* a = protein.AtomAt(i);
    if (a == nullptr) continue;
    a->Volume = static_cast<float>((*volume)[static_cast<std::size_t>(i)]);
    a->ContactVolume = static_cast<float>((*contactVolume)[static_cast<std::size_t>(i)]);
  }
}

}  // namespace cavitas
