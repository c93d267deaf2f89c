#include "model/NeighbourGrid.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <span>
#include <vector>

#include "frame/Error.h"
#include "frame/Threads.h"
#include "model/CellTable.h"
#include "model/Radii.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cavitas {

namespace {

using Ext = long double;

constexpr int kCells = 16;  // per axis

// A pair is measured exactly (Distance in extended precision, rounded to
// double) only when a cheap double-precision squared distance could be below
// the mid limit. The relative margin is far above the rounding of either
// computation, so the filter never drops a pair the exact test would keep.
constexpr double kPrefilterMargin = 1e-9;
// The same for a squared distance in float arithmetic, which errs by under 1e-6 relative.
constexpr double kFloatPrefilterMargin = 1e-5;

// The two distance classes kept: below Near and below Mid.
constexpr std::size_t kClasses = 2;

struct TClassLists {
  TNeighbourLists* Near;
  TNeighbourLists* Mid;
};

// The class of a relation at distance d (below Mid): 0 near, 1 mid.
int ClassOf(double d, const TNeighbourLimits& limits) { return d < limits.Near ? 0 : 1; }

// Appends the relation of atoms a and b (Numbers, d below Mid) to both per-atom lists of the class of d.
inline void AddPair(const TClassLists& lists, const TNeighbourLimits& limits, std::int32_t a, std::int32_t b,
                    double d) {
  TNeighbourLists& target = ClassOf(d, limits) == 0 ? *lists.Near : *lists.Mid;
  target[static_cast<std::size_t>(a - 1)].emplace_back(b, d);
  target[static_cast<std::size_t>(b - 1)].emplace_back(a, d);
}

// Checks the atom table the lists are built on: counts inside the table bounds
// and every atom present with Number equal to its index.
void ValidateAtoms(const TProteinObject& p) {
  if (p.AtomCount < 0 || p.AtomCount >= (1 << 30))
    RaiseLimit("atom count " + std::to_string(p.AtomCount) + " outside 0..2^30 - 1");
  if (p.ProteinAtomCount < 0 || p.ProteinAtomCount > p.AtomCount)
    RaiseLimit("protein atom count " + std::to_string(p.ProteinAtomCount) + " outside 0.." +
               std::to_string(p.AtomCount));
  for (int i = 1; i <= p.AtomCount; ++i) {
    const TAtom* a = p.AtomAt(i);
    if (a == nullptr || a->Number != i) RaiseLimit("atom " + std::to_string(i) + " missing from the atom table");
  }
}

TClassLists Lists(TProteinObject& p) {
  return {p.NeighboursNear.get(), p.NeighboursMid.get()};
}

// The system's transient 16 x 16 x 16 cell grid over the protein atoms, which
// fixes the order of the protein relations. A cell much wider than the far
// limit along an axis (a wide protein) is split into m equal sub-cells there,
// each at least far/reach wide, and the search looks `reach` sub-cells to each
// side, so every close pair is found and the work per atom does not grow with
// the width.
class TCellGrid {
 public:
  struct TIndex {
    int X, Y, Z;
  };
  // Working memory of LowerPartners, kept across calls.
  struct TScratch {
    std::vector<std::uint32_t> Slots;  // candidates that passed the coarse test
    std::vector<std::uint64_t> Bits;   // ranks inside one cell that hold a partner
    std::vector<std::pair<std::int32_t, double>> ByRank;
    std::vector<std::tuple<std::uint32_t, std::int32_t, double>> Sorted;  // rank, partner, distance
  };

  TCellGrid(const TProteinObject& p, const TNeighbourLimits& limits) : kept_(limits.Mid) {
    const int n = p.ProteinAtomCount;
    // The box of the atoms present; without atoms it stays inverted (one
    // cell of the minimum edge per axis).
    float minimum[3] = {1000.0f, 1000.0f, 1000.0f};
    float maximum[3] = {-1000.0f, -1000.0f, -1000.0f};
    for (int i = 1; i <= n; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const float c[3] = {a.X, a.Y, a.Z};
      for (int k = 0; k < 3; ++k) {
        if (i == 1 || minimum[k] > c[k]) minimum[k] = c[k];
        if (i == 1 || maximum[k] < c[k]) maximum[k] = c[k];
      }
    }
    for (int k = 0; k < 3; ++k) {
      minimum_[k] = static_cast<float>(Ext(minimum[k]) - 0.1L);
      const float top = static_cast<float>(Ext(maximum[k]) + 0.1L);
      float edge = static_cast<float>((Ext(top) - Ext(minimum_[k])) * 0.0625L);
      if (edge < limits.MinCellEdge) edge = static_cast<float>(limits.MinCellEdge);
      inverse_[k] = static_cast<float>(1.0L / Ext(edge));
      // Sub-cells at least far/reach wide, searched reach sub-cells to each side:
      // reach 2 where it makes the searched width smaller. However wide the
      // box, the sub-cells stay this small: the cell table keeps only the
      // occupied ones.
      // (The cells keep the size of the reach, so the scan order stays.)
      const double wide = static_cast<double>(edge), far = limits.Far * 1.001;
      const int m1 = std::max(1, SplitOf(wide / far));
      const int m2 = SplitOf(2 * wide / far);
      const bool two = m2 >= 2 && 5.0 / m2 < 3.0 / m1;
      split_[k] = two ? m2 : m1;
      reach_[k] = two ? 2 : 1;
    }
    for (int k = 0; k < 3; ++k) dim_[k] = kCells * split_[k];

    const auto un = static_cast<std::size_t>(n);
    cell_.resize(un + 1);
    sub_.resize(un + 1);
    std::vector<int> coarseStart(kCells * kCells * kCells + 1, 0);
    std::vector<std::uint64_t> subKey(un);
    for (int i = 1; i <= n; ++i) {
      const TAtom& a = *p.AtomAt(i);
      TIndex& c = cell_[static_cast<std::size_t>(i)];
      TIndex& s = sub_[static_cast<std::size_t>(i)];
      Locate(a.X, 0, c.X, s.X);
      Locate(a.Y, 1, c.Y, s.Y);
      Locate(a.Z, 2, c.Z, s.Z);
      ++coarseStart[static_cast<std::size_t>(CoarseLinear(c)) + 1];
      subKey[static_cast<std::size_t>(i - 1)] = SubLinear(s.X, s.Y, s.Z);
    }
    // Counting sort keeps ascending Number inside every cell; the cell table
    // does the same inside every sub-cell.
    std::size_t largest = 0;
    for (std::size_t c = 1; c < coarseStart.size(); ++c) {
      largest = std::max(largest, static_cast<std::size_t>(coarseStart[c]));
      coarseStart[c] += coarseStart[c - 1];
    }
    std::vector<int> coarseFill(coarseStart.begin(), coarseStart.end() - 1);
    order_.resize(un);
    std::vector<std::uint32_t> rankOf(un + 1);
    for (int i = 1; i <= n; ++i) {
      const auto coarse = static_cast<std::size_t>(CoarseLinear(cell_[static_cast<std::size_t>(i)]));
      const int position = coarseFill[coarse]++;
      order_[static_cast<std::size_t>(position)] = i;
      rankOf[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(position - coarseStart[coarse]);
    }
    const std::uint64_t subCells =
        static_cast<std::uint64_t>(dim_[0]) * static_cast<std::uint64_t>(dim_[1]) * static_cast<std::uint64_t>(dim_[2]);
    std::vector<std::int32_t> itemOfSlot;
    table_.Build(subKey, subCells, std::max<std::uint64_t>(4096, 8 * static_cast<std::uint64_t>(n)), itemOfSlot);
    number_.resize(un);
    rank_.resize(un);
    x_.resize(un);
    y_.resize(un);
    z_.resize(un);
    for (std::size_t slot = 0; slot < un; ++slot) {
      const std::int32_t i = itemOfSlot[slot] + 1;
      const TAtom& a = *p.AtomAt(i);
      number_[slot] = i;
      rank_[slot] = rankOf[static_cast<std::size_t>(i)];
      x_[slot] = a.X;
      y_[slot] = a.Y;
      z_[slot] = a.Z;
    }
    largest_ = largest;
    kept2_ = static_cast<float>(limits.Mid * limits.Mid * (1 + kFloatPrefilterMargin));
  }

  // Protein atoms in scan order.
  const std::vector<std::int32_t>& Order() const { return order_; }

  TScratch Scratch() const {
    TScratch s;
    s.Slots.resize(largest_);
    if (RanksByBits()) {
      s.Bits.assign(largest_ / 64 + 1, 0);
      s.ByRank.resize(largest_);
    }
    return s;
  }

  // Calls emit(b, d) for every protein atom b numbered below a whose distance d
  // to a is below the mid limit, in the order of the literal grid scan:
  // neighbour cells by x, then y, then z; inside a cell by ascending Number.
  template <class Emit>
  void LowerPartners(const TAtom& atom, TScratch& scratch, Emit&& emit) const {
    const std::int32_t a = atom.Number;
    const TIndex& c = cell_[static_cast<std::size_t>(a)];
    const TIndex& s = sub_[static_cast<std::size_t>(a)];
    const TCoord pa{atom.X, atom.Y, atom.Z};
    for (int nx = std::max(c.X - 1, 1); nx <= std::min(c.X + 1, kCells); ++nx) {
      int xlo = 0, xhi = 0;
      if (!SubRange(0, nx, s.X, xlo, xhi)) continue;
      for (int ny = std::max(c.Y - 1, 1); ny <= std::min(c.Y + 1, kCells); ++ny) {
        int ylo = 0, yhi = 0;
        if (!SubRange(1, ny, s.Y, ylo, yhi)) continue;
        for (int nz = std::max(c.Z - 1, 1); nz <= std::min(c.Z + 1, kCells); ++nz) {
          int zlo = 0, zhi = 0;
          if (!SubRange(2, nz, s.Z, zlo, zhi)) continue;
          // The sub-cells searched all lie in one cell, so the slots fit.
          std::uint32_t* const slots = scratch.Slots.data();
          std::uint32_t* last = slots;
          for (int sx = xlo; sx <= xhi; ++sx)
            for (int sy = ylo; sy <= yhi; ++sy)
              for (int sz = zlo; sz <= zhi; ++sz) last = Candidates(pa, a, SubLinear(sx, sy, sz), last);
          const std::span<const std::uint32_t> candidates(slots, last);
          if (xlo == xhi && ylo == yhi && zlo == zhi) {
            // One sub-cell: its atoms already ascend in Number.
            for (const std::uint32_t slot : candidates) {
              const double d = Distance(pa, TCoord{x_[slot], y_[slot], z_[slot]});
              if (d < kept_) emit(number_[slot], d);
            }
            continue;
          }
          // Several sub-cells interleave in Number: the partners go out in
          // their rank order inside the cell, found by marking the ranks where
          // the cell is small enough to sweep them, else by sorting the few.
          if (!RanksByBits()) {
            auto& sorted = scratch.Sorted;
            sorted.clear();
            for (const std::uint32_t slot : candidates) {
              const double d = Distance(pa, TCoord{x_[slot], y_[slot], z_[slot]});
              if (d < kept_) sorted.emplace_back(rank_[slot], number_[slot], d);
            }
            std::sort(sorted.begin(), sorted.end(),
                      [](const auto& u, const auto& v) { return std::get<0>(u) < std::get<0>(v); });
            for (const auto& [r, b, d] : sorted) emit(b, d);
            continue;
          }
          for (const std::uint32_t slot : candidates) {
            const double d = Distance(pa, TCoord{x_[slot], y_[slot], z_[slot]});
            if (!(d < kept_)) continue;
            const std::uint32_t r = rank_[slot];
            scratch.Bits[r / 64] |= std::uint64_t{1} << (r % 64);
            scratch.ByRank[r] = {number_[slot], d};
          }
          for (std::size_t w = 0; w < scratch.Bits.size(); ++w)
            for (std::uint64_t bits = scratch.Bits[w]; bits != 0; bits &= bits - 1) {
              const auto& [b, d] = scratch.ByRank[w * 64 + static_cast<std::size_t>(std::countr_zero(bits))];
              emit(b, d);
            }
          std::fill(scratch.Bits.begin(), scratch.Bits.end(), 0);
        }
      }
    }
  }

 private:
  // Sub-cells per cell for a ratio of widths, bounded so that sub-cell keys fit 64 bits.
  static int SplitOf(double ratio) {
    constexpr double kMaxSplit = 1 << 16;
    return static_cast<int>(std::floor(std::clamp(ratio, 0.0, kMaxSplit)));
  }
  // Ranks of one cell are swept by a bit mask while the largest cell holds
  // no more atoms than fit a few cache lines of it.
  bool RanksByBits() const { return largest_ <= 4096; }
  // Cell (1..16) and sub-cell (0..16m-1) of a coordinate along one axis.
  void Locate(float coordinate, int axis, int& cell, int& sub) const {
    const Ext t = (Ext(coordinate) - Ext(minimum_[axis])) * Ext(inverse_[axis]);
    if (!(t >= 0) || !(t < kCells + 1)) RaiseLimit("neighbour grid index outside 1..16");
    const int whole = FloorIndex(t);
    cell = whole + 1;
    if (cell > kCells) RaiseLimit("neighbour grid index outside 1..16");
    const int m = split_[axis];
    sub = (cell - 1) * m + std::min(m - 1, FloorIndex((t - Ext(whole)) * m));
  }
  // The sub-cells of cell `cell` (1..16) along `axis` within reach of sub-cell s.
  bool SubRange(int axis, int cell, int s, int& lo, int& hi) const {
    const int m = split_[axis];
    lo = std::max(s - reach_[axis], (cell - 1) * m);
    hi = std::min(s + reach_[axis], cell * m - 1);
    return lo <= hi;
  }
  // Writes to `found` the slots of sub-cell `sub` holding atoms numbered below a
  // that may lie closer than the mid limit to pa (a superset: the caller
  // measures exactly) and returns the slot after the last one written.
  std::uint32_t* Candidates(const TCoord& pa, std::int32_t a, std::uint64_t sub, std::uint32_t* found) const {
    const auto [cellFirst, cellEnd] = table_.Range(sub);
    const auto first = static_cast<std::size_t>(cellFirst);
    const auto end = static_cast<std::size_t>(cellEnd);
    if (first == end || number_[first] >= a) return found;
    // Atoms ascend in Number, so the partners below a are a prefix of the sub-cell.
    std::size_t stop = end;
    if (number_[end - 1] >= a)
      stop = static_cast<std::size_t>(std::lower_bound(number_.begin() + static_cast<std::ptrdiff_t>(first),
                                                       number_.begin() + static_cast<std::ptrdiff_t>(end), a) -
                                      number_.begin());
    std::size_t slot = first;
#if defined(__SSE2__)
    const __m128 px = _mm_set1_ps(pa.X), py = _mm_set1_ps(pa.Y), pz = _mm_set1_ps(pa.Z), limit = _mm_set1_ps(kept2_);
    for (; slot + 4 <= stop; slot += 4) {
      const __m128 dx = _mm_sub_ps(px, _mm_loadu_ps(&x_[slot]));
      const __m128 dy = _mm_sub_ps(py, _mm_loadu_ps(&y_[slot]));
      const __m128 dz = _mm_sub_ps(pz, _mm_loadu_ps(&z_[slot]));
      const __m128 d2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)), _mm_mul_ps(dz, dz));
      for (int mask = _mm_movemask_ps(_mm_cmplt_ps(d2, limit)); mask != 0; mask &= mask - 1)
        *found++ = static_cast<std::uint32_t>(slot) + static_cast<std::uint32_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
#endif
    for (; slot < stop; ++slot) {
      const float dx = pa.X - x_[slot], dy = pa.Y - y_[slot], dz = pa.Z - z_[slot];
      *found = static_cast<std::uint32_t>(slot);  // written always, kept only when close: no branch to mispredict
      found += (dx * dx + dy * dy + dz * dz < kept2_) ? 1 : 0;
    }
    return found;
  }
  static int CoarseLinear(const TIndex& c) { return ((c.X - 1) * kCells + (c.Y - 1)) * kCells + (c.Z - 1); }
  std::uint64_t SubLinear(int sx, int sy, int sz) const {
    return (static_cast<std::uint64_t>(sx) * static_cast<std::uint64_t>(dim_[1]) + static_cast<std::uint64_t>(sy)) *
               static_cast<std::uint64_t>(dim_[2]) +
           static_cast<std::uint64_t>(sz);
  }

  float minimum_[3]{}, inverse_[3]{};
  int split_[3]{1, 1, 1}, reach_[3]{1, 1, 1}, dim_[3]{kCells, kCells, kCells};
  double kept_ = 0;
  float kept2_ = 0;
  std::size_t largest_ = 0;       // most atoms in one cell
  std::vector<TIndex> cell_, sub_;  // by Number: cell 1..16, sub-cell 0..16m-1
  std::vector<std::int32_t> order_;
  TCellTable table_;  // the slots of each sub-cell
  std::vector<std::int32_t> number_;
  std::vector<std::uint32_t> rank_;  // position of the slot's atom in its cell, by Number
  std::vector<float> x_, y_, z_;
};

// A search grid over atoms 1..count whose cells are a little wider than the far
// limit, so every pair closer than the far limit lies in the same or adjacent
// cells. Inside a cell the atoms ascend in Number.
class TSearchGrid {
 public:
  TSearchGrid(const TProteinObject& p, int count, const TNeighbourLimits& limits) {
    const auto n = static_cast<std::size_t>(count);
    double minimum[3] = {0, 0, 0}, maximum[3] = {0, 0, 0};
    for (int i = 1; i <= count; ++i) {
      const TAtom& a = *p.AtomAt(i);
      const double c[3] = {a.X, a.Y, a.Z};
      for (int k = 0; k < 3; ++k) {
        if (i == 1 || c[k] < minimum[k]) minimum[k] = c[k];
        if (i == 1 || c[k] > maximum[k]) maximum[k] = c[k];
      }
    }
    // Cells no smaller than the far limit (with room for rounding); the cell
    // table keeps only the occupied ones when the box is sparse.
    const double edge = limits.Far * 1.001;
    for (int k = 0; k < 3; ++k) {
      minimum_[k] = minimum[k];
      inverse_[k] = 1.0 / edge;
      dim_[k] = static_cast<int>(std::floor(std::clamp((maximum[k] - minimum[k]) / edge, 0.0, double(kMaxDim - 1)))) + 1;
    }
    std::vector<std::uint64_t> cellOf(n);
    for (int i = 1; i <= count; ++i) {
      const TAtom& a = *p.AtomAt(i);
      cellOf[static_cast<std::size_t>(i - 1)] = Linear(Index(a.X, 0), Index(a.Y, 1), Index(a.Z, 2));
    }
    std::vector<std::int32_t> itemOfSlot;
    const std::uint64_t cells =
        static_cast<std::uint64_t>(dim_[0]) * static_cast<std::uint64_t>(dim_[1]) * static_cast<std::uint64_t>(dim_[2]);
    table_.Build(cellOf, cells, std::max<std::uint64_t>(4096, 8 * static_cast<std::uint64_t>(n)), itemOfSlot);
    number_.resize(n);
    x_.resize(n);
    y_.resize(n);
    z_.resize(n);
    for (std::size_t slot = 0; slot < n; ++slot) {
      const std::int32_t i = itemOfSlot[slot] + 1;
      const TAtom& a = *p.AtomAt(i);
      number_[slot] = i;
      x_[slot] = a.X;
      y_[slot] = a.Y;
      z_[slot] = a.Z;
    }
    kept2_ = limits.Mid * limits.Mid * (1 + kPrefilterMargin);
  }

  // Appends to `found` every atom numbered below `below` that may lie closer
  // than the mid limit to the point c (a superset: the caller measures exactly).
  void Candidates(const TCoord& c, std::int32_t below, std::vector<std::int32_t>& found) const {
    const int ix = Index(c.X, 0), iy = Index(c.Y, 1), iz = Index(c.Z, 2);
    const double px = c.X, py = c.Y, pz = c.Z;
    for (int nx = std::max(ix - 1, 0); nx <= std::min(ix + 1, dim_[0] - 1); ++nx)
      for (int ny = std::max(iy - 1, 0); ny <= std::min(iy + 1, dim_[1] - 1); ++ny) {
        const std::uint64_t first = Linear(nx, ny, std::max(iz - 1, 0));
        const std::uint64_t last = Linear(nx, ny, std::min(iz + 1, dim_[2] - 1));
        for (std::uint64_t cell = first; cell <= last; ++cell) {
          const auto [cellFirst, cellEnd] = table_.Range(cell);
          const auto end = static_cast<std::size_t>(cellEnd);
          auto s = static_cast<std::size_t>(cellFirst);
          // Atoms ascend in Number, so the ones below `below` are a prefix of the cell.
          std::size_t stop = s;
          while (stop < end && number_[stop] < below) ++stop;
          const std::size_t base = found.size();
          found.resize(base + (stop - s));
          std::size_t kept = base;
          for (; s < stop; ++s) {
            const double dx = px - x_[s], dy = py - y_[s], dz = pz - z_[s];
            found[kept] = number_[s];  // written always, kept only when close: no branch to mispredict
            kept += (dx * dx + dy * dy + dz * dz < kept2_) ? 1 : 0;
          }
          found.resize(kept);
        }
      }
  }

 private:
  static constexpr int kMaxDim = 1 << 20;  // cells per axis, so that keys fit 64 bits
  int Index(float coordinate, int axis) const {
    const double t = (static_cast<double>(coordinate) - minimum_[axis]) * inverse_[axis];
    if (!(t >= 0)) return 0;
    if (!(t < dim_[axis] - 1)) return dim_[axis] - 1;
    return static_cast<int>(t);
  }
  std::uint64_t Linear(int ix, int iy, int iz) const {
    return (static_cast<std::uint64_t>(ix) * static_cast<std::uint64_t>(dim_[1]) + static_cast<std::uint64_t>(iy)) *
               static_cast<std::uint64_t>(dim_[2]) +
           static_cast<std::uint64_t>(iz);
  }

  double minimum_[3]{}, inverse_[3]{};
  int dim_[3]{1, 1, 1};
  double kept2_ = 0;
  TCellTable table_;
  std::vector<std::int32_t> number_;
  std::vector<float> x_, y_, z_;
};

// One relation in the order it is appended: Atom a gets (b, d), b gets (a, d).
struct TPair {
  std::int32_t A, B;
  double D;
};

// Appends all pairs in their order to the per-atom lists, reserving each list's exact size first.
void AppendPairs(const std::vector<TPair>& pairs, const TClassLists& lists, const TNeighbourLimits& limits) {
  TNeighbourLists* byClass[kClasses] = {lists.Near, lists.Mid};
  std::vector<std::array<std::uint32_t, kClasses>> extra(lists.Near->size());
  for (const TPair& q : pairs) {
    const int c = ClassOf(q.D, limits);
    ++extra[static_cast<std::size_t>(q.A - 1)][static_cast<std::size_t>(c)];
    ++extra[static_cast<std::size_t>(q.B - 1)][static_cast<std::size_t>(c)];
  }
  for (std::size_t i = 0; i < extra.size(); ++i)
    for (std::size_t c = 0; c < kClasses; ++c)
      if (extra[i][c] != 0) {
        auto& list = (*byClass[c])[i];
        list.reserve(list.size() + extra[i][c]);
      }
  for (const TPair& q : pairs) AddPair(lists, limits, q.A, q.B, q.D);
}

// Protein-protein relations in the order of the grid scan, each stored once
// for its higher-numbered atom: the partner's Number with the class in the top
// two bits, and the distance as the lists store it.
struct TFound {
  std::uint32_t PartnerClass;
  float Distance;
};
constexpr int kClassShift = 30;  // atom numbers below 2^30 (ValidateAtoms)

struct TProteinRelations {
  std::vector<std::uint32_t> Found;  // relations of the k-th atom in scan order
  std::vector<TFound> Relations;
};


// Scans the grid and counts every atom's relations per class into `counts`.
// The relations of the atoms at positions [begin, end) of the grid order;
// counts gathers per atom and class how many entries its lists will get.
TProteinRelations ScanGrid(const TProteinObject& p, const TCellGrid& grid, const TNeighbourLimits& limits,
                           std::size_t begin, std::size_t end, std::vector<std::array<std::uint32_t, kClasses>>& counts) {
  TProteinRelations out;
  out.Found.reserve(end - begin);
  out.Relations.reserve((end - begin) * 64);
  TCellGrid::TScratch scratch = grid.Scratch();
  for (std::size_t k = begin; k < end; ++k) {
    const std::int32_t a = grid.Order()[k];
    const std::size_t before = out.Relations.size();
    auto& countA = counts[static_cast<std::size_t>(a - 1)];
    grid.LowerPartners(*p.AtomAt(a), scratch, [&](std::int32_t b, double d) {
      const int c = ClassOf(d, limits);
      out.Relations.push_back({static_cast<std::uint32_t>(b) | (static_cast<std::uint32_t>(c) << kClassShift),
                               static_cast<float>(d)});
      ++countA[static_cast<std::size_t>(c)];
      ++counts[static_cast<std::size_t>(b - 1)][static_cast<std::size_t>(c)];
    });
    out.Found.push_back(static_cast<std::uint32_t>(out.Relations.size() - before));
  }
  return out;
}

// The scan in contiguous parts of the grid order on `threads` threads; read
// in part order they are the relations of one scan.
std::vector<TProteinRelations> ScanGridInParts(const TProteinObject& p, const TCellGrid& grid,
                                               const TNeighbourLimits& limits, int threads,
                                               std::vector<std::array<std::uint32_t, kClasses>>& counts) {
  const std::size_t n = grid.Order().size();
  const auto parts = static_cast<std::size_t>(std::max(1, threads));
  std::vector<TProteinRelations> found(parts);
  if (parts == 1) {
    found[0] = ScanGrid(p, grid, limits, 0, n, counts);
    return found;
  }
  std::vector<std::vector<std::array<std::uint32_t, kClasses>>> partCounts(parts);
  auto scan = [&](std::size_t t) {
    auto& c = t == 0 ? counts : partCounts[t];
    if (t != 0) c.assign(counts.size(), {});
    found[t] = ScanGrid(p, grid, limits, n * t / parts, n * (t + 1) / parts, c);
  };
  RunParts(static_cast<int>(parts), [&](int t) { scan(static_cast<std::size_t>(t)); });
  for (std::size_t t = 1; t < parts; ++t)
    for (std::size_t i = 0; i < counts.size(); ++i)
      for (std::size_t c = 0; c < kClasses; ++c) counts[i][c] += partCounts[t][i][c];
  return found;
}

// Appends the scanned relations in scan order; the lists have room for them.
void AppendProteinRelations(const TCellGrid& grid, const std::vector<TProteinRelations>& parts,
                            const TClassLists& lists) {
  TNeighbourLists* byClass[kClasses] = {lists.Near, lists.Mid};
  std::size_t k = 0;  // position in the grid order
  for (const TProteinRelations& found : parts) {
    std::size_t next = 0;
    for (std::size_t q = 0; q < found.Found.size(); ++q, ++k) {
      const std::int32_t a = grid.Order()[k];
      for (const std::size_t end = next + found.Found[q]; next < end; ++next) {
        const TFound& f = found.Relations[next];
        TNeighbourLists& target = *byClass[f.PartnerClass >> kClassShift];
        const auto b = static_cast<std::int32_t>(f.PartnerClass & ((1u << kClassShift) - 1));
        target[static_cast<std::size_t>(a - 1)].emplace_back(b, f.Distance);
        target[static_cast<std::size_t>(b - 1)].emplace_back(a, f.Distance);
      }
    }
  }
}

// Each hetero atom j against atoms 1..j-1 in ascending order; the search grid
// (over all atoms) finds the candidates, sorting restores the order.
void CollectHetPairs(const TProteinObject& p, const TSearchGrid& search, const TNeighbourLimits& limits,
                     std::vector<TPair>& pairs) {
  std::vector<std::int32_t> found;
  for (int j = p.ProteinAtomCount + 1; j <= p.AtomCount; ++j) {
    const TAtom& atomJ = *p.AtomAt(j);
    found.clear();
    search.Candidates(atomJ, j, found);
    std::sort(found.begin(), found.end());
    for (const std::int32_t k : found) {
      const double d = Distance(atomJ, *p.AtomAt(k));
      if (d < limits.Mid) pairs.push_back({j, k, d});
    }
  }
}

// Fresh empty per-atom lists for the hetero atoms in both classes.
void ResetHetLists(TProteinObject& p) {
  // Lists that were never built start empty, so the hetero relations still come out whole.
  if (!p.NeighboursNear) p.NeighboursNear = std::make_unique<TNeighbourLists>();
  if (!p.NeighboursMid) p.NeighboursMid = std::make_unique<TNeighbourLists>();
  for (int i = p.ProteinAtomCount + 1; i <= p.AtomCount; ++i)
    for (TNeighbourLists* list : {p.NeighboursNear.get(), p.NeighboursMid.get()}) {
      const auto item = static_cast<std::size_t>(i - 1);
      // Shorter outer lists are filled up so that item k stays the list of atom k+1.
      if (list->size() <= item) list->resize(item + 1);
      (*list)[item] = {};
    }
}

}  // namespace

TNeighbourLimits NeighbourLimits(double probeRadius) {
  const Ext probe = probeRadius;
  TNeighbourLimits l{};
  l.Near = static_cast<double>(probe + 2.4L + 0.01L);
  l.Mid = static_cast<double>(2.0L * Ext(l.Near));
  l.Far = static_cast<double>(Ext(l.Mid) + 0.8L);
  l.MinCellEdge = static_cast<double>((2.41L + probe + 0.4L) * 2.0L);
  return l;
}

void BuildNeighbourLists(TProteinObject& protein, int threads) {
  ValidateAtoms(protein);
  protein.NeighboursMid.reset();
  protein.NeighboursNear.reset();
  const auto n = static_cast<std::size_t>(protein.AtomCount);
  protein.NeighboursNear = std::make_unique<TNeighbourLists>();
  protein.NeighboursMid = std::make_unique<TNeighbourLists>();
  protein.NeighboursNear->resize(n);
  protein.NeighboursMid->resize(n);
  const TNeighbourLimits limits = NeighbourLimits(protein.Context.Model.ProbeRadius);
  // Hetero pairs in the order AddHetNeighbours appends them, after the protein relations.
  std::vector<TPair> het;
  if (protein.ProteinAtomCount < protein.AtomCount) {
    const TSearchGrid search(protein, protein.AtomCount, limits);
    CollectHetPairs(protein, search, limits, het);
  }
  // Every per-atom list is sized exactly before any entry goes in.
  std::vector<std::array<std::uint32_t, kClasses>> counts(n);
  const TCellGrid grid(protein, limits);
  const std::vector<TProteinRelations> found =
      ScanGridInParts(protein, grid, limits, WorkerThreads(protein.ProteinAtomCount, 2000, threads), counts);
  for (const TPair& q : het) {
    const auto c = static_cast<std::size_t>(ClassOf(q.D, limits));
    ++counts[static_cast<std::size_t>(q.A - 1)][c];
    ++counts[static_cast<std::size_t>(q.B - 1)][c];
  }
  const TClassLists lists = Lists(protein);
  TNeighbourLists* byClass[kClasses] = {lists.Near, lists.Mid};
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < kClasses; ++c)
      if (counts[i][c] != 0) (*byClass[c])[i].reserve(counts[i][c]);
  AppendProteinRelations(grid, found, lists);
  for (const TPair& q : het) AddPair(lists, limits, q.A, q.B, q.D);
}

void AddHetNeighbours(TProteinObject& protein) {
  ValidateAtoms(protein);
  ResetHetLists(protein);
  if (protein.ProteinAtomCount >= protein.AtomCount) return;
  const TNeighbourLimits limits = NeighbourLimits(protein.Context.Model.ProbeRadius);
  std::vector<TPair> pairs;
  {
    const TSearchGrid search(protein, protein.AtomCount, limits);
    CollectHetPairs(protein, search, limits, pairs);
  }
  AppendPairs(pairs, Lists(protein), limits);
}

void RemoveHetNeighbours(TProteinObject& protein) {
  if (protein.ProteinAtomCount < 0) RaiseLimit("protein atom count " + std::to_string(protein.ProteinAtomCount));
  const int first = protein.ProteinAtomCount + 1, last = protein.AtomCount;
  for (TNeighbourLists* list : {protein.NeighboursNear.get(), protein.NeighboursMid.get()}) {
    if (list == nullptr) continue;
    for (int i = first; i <= last && static_cast<std::size_t>(i) <= list->size(); ++i) {
      std::vector<TNachbarStruktur>& own = (*list)[static_cast<std::size_t>(i - 1)];
      for (const TNachbarStruktur& entry : own) {
        if (entry.Atom < 1 || static_cast<std::size_t>(entry.Atom) > list->size() || entry.Atom == i) continue;
        std::vector<TNachbarStruktur>& partner = (*list)[static_cast<std::size_t>(entry.Atom - 1)];
        const auto it = std::find_if(partner.begin(), partner.end(),
                                     [i](const TNachbarStruktur& e) { return e.Atom == i; });
        if (it != partner.end()) partner.erase(it);
      }
      own.clear();
    }
  }
  for (int d = last; d >= first; --d)
    for (TNeighbourLists* list :
         {protein.NeighboursNear.get(), protein.NeighboursMid.get()}) {
      const auto item = static_cast<std::size_t>(d - 1);
      if (list != nullptr && item < list->size()) list->erase(list->begin() + static_cast<std::ptrdiff_t>(item));
    }
}

}  // namespace cavitas
