#pragma once
// The per-atom geometry kernel: from one atom's neighbourhood, the candidate
// saddle and concave elements of its pairs (caps, probe circles, blocked arcs,
// the sweep of the free arcs), and the inner point of its contact patch. It
// needs no protein, only atoms and their radii. Two policies give the same
// results bit for bit: TReferenceKernel, the plain computation and yardstick,
// and TFastKernel (burial screen and cover test over arrays, vectorised rows,
// an inner-point search that decides in double where that is safe).
#include <array>
#include <cstdint>
#include <vector>

#include "surface/Neighbourhood.h"
#include "surface/SurfaceGeometry.h"

// The array loops of the arc screen are built twice, for the baseline and
// for AVX2 (twice the lanes), and the processor picks one at load time. The
// same IEEE operations run in every lane and no multiply-add is contracted,
// so both give the same bits. Not under the sanitizers, whose runtime starts
// after such a choice is made, nor without the loader's support for it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CAVITAS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CAVITAS_SANITIZED 1
#endif
#endif
#if defined(__x86_64__) && defined(__GNUC__) && defined(__GLIBC__) && !defined(CAVITAS_SANITIZED)
#define CAVITAS_WIDE_LANES __attribute__((target_clones("avx2", "default")))
#else
#define CAVITAS_WIDE_LANES
#endif

namespace cavitas::surface_detail {

constexpr std::size_t kMaxBlockers = 501;  // neighbours beyond which the fast kernel keeps the plain screen
constexpr std::size_t kCapBlock = 8;       // caps per block of the burial screen (fast kernel)

// The cap of the atom's expanded sphere (radius Ei) inside a neighbour's
// expanded sphere: around the unit direction U with half-angle g.
struct TCap {
  double Ux = 0, Uy = 0, Uz = 0;         // unit direction to the neighbour
  double CosG = 0, SinG2 = 0, SinG = 0;  // half-angle of the cap
  bool Coincident = false;               // same centre: no direction
  bool Covers = false;                   // same centre and larger: covers the whole sphere
  bool CircleKnown = false;              // the sign of sin^2 g decides whether the probe circle exists
  std::int32_t Number = 0;               // the neighbour's atom number
};
TCap MakeCap(const TNeighbour& n, double Ei);

// A blocked interval of a probe circle in pseudo-angles (full turn 4), with
// the unit directions of its two ends in the circle's frame.
struct TArcRow {
  double Start, End;
  TAtom* Blocker;
  double StartX, StartY, EndX, EndY;
};

// The plain screen of one probe circle and the sweep of its free arcs, which
// both kernels share.
class TArcSweep {
 public:
  // The caps of the neighbourhood, parallel to its atoms.
  void MakeCaps(const TNeighbourhood& n, double Ei);
  // The blocked rows of the circle of (atom, partner) over every cap, then the
  // sweep (the circle was found Ok).
  void SweepPlain(const TNeighbourhood& n, std::size_t partnerIndex, const TProbeCircle& circle, bool ownersOnly,
                  TAtomCandidates& out);
  // The sweep over Rows: free arcs and their concave corners become
  // candidates; ownersOnly builds only the concave copies registration keeps.
  void Emit(TAtom& atom, TAtom& partner, const TProbeCircle& circle, bool ownersOnly, TAtomCandidates& out);

  std::vector<TCap> Caps;
  std::vector<TArcRow> Rows;

 private:
  // Exact degeneracies the cycles may not report: a free arc (from the end of
  // row k1 to the start of row k2) of no length, where four spheres meet and
  // rounding left a gap, or one that ends where two more blocked arcs end or
  // begin, a point of five or more spheres that no zero-length edge closes.
  // Its atoms go to out.Tied, a line to out.Log.
  void NoteTiedArc(const TAtom& atom, const TAtom& partner, std::size_t k1, std::size_t k2, TAtomCandidates& out);
};

// One neighbour constraint of the inner-point search: x on the sphere lies
// inside the neighbour's expanded sphere exactly when A . x > F; violations
// are signed distances to the cutting plane (W = 1 / |A|).
struct TInnerConstraint {
  TExtVector A;
  Ext A2, F, W;
};

// The plain kernel: every step in the order and precision of its definition.
class TReferenceKernel {
 public:
  static constexpr bool kFast = false;
  explicit TReferenceKernel(const TSurfaceRadii& radii) : radii_(radii) {}
  // out is cleared first.
  void MakeCandidates(const TNeighbourhood& n, TAtomCandidates& out);
  // A direction d from the atom's centre (length its expanded radius, started
  // from d) outside every neighbour's expanded sphere. 0 found, 1 no direction
  // improves the worst violation, 2 the best point still lies inside a neighbour.
  int FindInnerPoint(const TAtom& atom, const std::vector<TAtom*>& neighbours, TExtVector& d);

 private:
  const TSurfaceRadii& radii_;
  TArcSweep sweep_;
  std::vector<TInnerConstraint> constraints_;
  std::vector<Ext> s_, rate_;
  std::vector<char> active_;
};

// The scratch of the fast inner-point search: the constraints in double (A,
// F, W as in the reference; G bounds the size of the terms of a violation),
// the estimates Sd, Rd of the violations and rates, and the exact values made
// when first needed in an iteration (stamps name the iteration).
struct TFastInnerWork {
  std::vector<const TAtom*> Atom;
  std::vector<double> Ax, Ay, Az, F, W, G, Sd, E, Rd;
  std::vector<char> Ready, Active;
  std::vector<std::uint32_t> SStamp, RateStamp;
  std::vector<std::size_t> ActiveList;
  std::vector<TInnerConstraint> Exact;
  std::vector<Ext> S, Rate;
};

// The fast kernel: the same results as the reference, bit for bit.
class TFastKernel {
 public:
  static constexpr bool kFast = true;
  explicit TFastKernel(const TSurfaceRadii& radii) : radii_(radii), plain_(radii) {}
  void MakeCandidates(const TNeighbourhood& n, TAtomCandidates& out);
  int FindInnerPoint(const TAtom& atom, const std::vector<TAtom*>& neighbours, TExtVector& d);

 private:
  void MakeCaps(const TNeighbourhood& n);
  // Whole-burial screen over the caps in arrays, then the cover test of the
  // blocked arcs; only a circle that may keep a free arc gets its centre,
  // frame, exact rows and sweep.
  void SweepArcs(const TNeighbourhood& n, std::size_t partnerIndex, TAtomCandidates& out);
  // The arc rows of the first m blockers (listed in blocked_.Index) of a
  // circle with the partner cap j, in one vectorised pass.
  void ExactRows(const TNeighbourhood& n, std::size_t m, const TCap& j, const TProbeCircle& circle);

  // The blocked arcs of one circle as arrays: the caps of the blockers in, the rows out.
  struct TBlockedRows {
    std::vector<std::uint32_t> Index;  // into the neighbourhood
    std::vector<double> Ux, Uy, Uz, CosG, Start, End, StartX, StartY, EndX, EndY;
    std::vector<double> X, Y, N, R, Px, Py, Width, Hit;  // the cover test
    void Resize(std::size_t n);
  };
  const TSurfaceRadii& radii_;
  TArcSweep sweep_;
  TReferenceKernel plain_;  // a search whose estimates overflow
  // The caps again as arrays for the burial screen, padded to whole blocks of
  // kCapBlock; the atom itself, coincident centres and the padding get a cap
  // that never blocks (cos 2) or, when a coincident sphere covers the atom's,
  // buries every circle (cos -2).
  std::vector<double> capUx_, capUy_, capUz_, capCos_;
  std::vector<double> capClass_;  // per circle: 1 blocks part, +2 when num <= 0
  std::array<std::size_t, 2> recentBuriers_{};  // caps that buried recent circles
  TBlockedRows blocked_;
  TFastInnerWork inner_;
};

}  // namespace cavitas::surface_detail
