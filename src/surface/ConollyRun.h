#pragma once
// Working state of one run of GetAtConolly: the per-atom construction, the
// inner points of contact patches and the repair of degenerate points.
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <set>
#include <vector>

#include "surface/ConollyObjects.h"
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

// Bounds of the run's tables.
constexpr int kMaxBlockers = 501;            // neighbours beyond which the plain screen keeps the blocker order
constexpr int kMaxProblems = 100;            // degenerate-problem records of one run
constexpr std::int64_t kMaxElementHandles = 2147483646;
constexpr std::size_t kCapBlock = 8;         // caps per block of the burial screen (fast path)

// Thrown (and caught inside GetAtConolly) when the element list overflows:
// the run is abandoned with status 102.
struct TAbandonRun {};

// Thrown at the end of a run (and caught by GetAtConolly, which moves the
// atoms and runs again) when a contact patch stayed open at an exact
// degeneracy or two centres coincide: the atoms through those points.
struct TUnresolvedDegeneracy {
  std::vector<int> Atoms;  // numbers, ascending, each once
};

// The atoms of a run that ended with TUnresolvedDegeneracy are moved by
// kFirstDisplacement Å, twice as far in each further round, in a direction
// drawn from the atom's number and the round; after kDisplacementRounds
// rounds the run stops with error 103 (the guard: no test reaches it).
constexpr double kFirstDisplacement = 0.005;
constexpr int kDisplacementRounds = 6;
// An atom's expanded sphere passes through a degenerate point when it lies
// within this distance (Å) of it.
constexpr double kThroughPoint = 1e-3;
// Two ends of blocked arcs of one probe circle meet when their unit directions
// lie closer than this (squared): about 1e-5 rad, the rounding that single
// precision coordinates leave in an exact symmetry.
constexpr double kTiedEnds2 = 1e-10;
void DisplaceAtoms(TProteinObject& protein, const std::vector<int>& numbers, int round);

// What the fast per-atom steps of one run produced, kept for the next run:
// the two passes of a structure differ only near its hetero atoms. The
// candidates of an atom (MakePairs) are a function of the atom and its
// neighbour list, and an inner-point search of these and its start; an entry
// is used only when the atom and every neighbour are the same objects with
// the same values (bits) and the radii and probe are unchanged. The caller
// owns it (TSurfaceMemo) and hands it from one run to the next.
struct TRunMemo {
  struct TAtomState {
    const TAtom* Atom = nullptr;
    float X = 0, Y = 0, Z = 0;
    std::int32_t Number = 0;
    std::uint8_t RadiusType = 0;
  };
  struct TInnerSearch {
    TExtVector Start, Result;
    int Code;
  };
  // Per atom number: the atom's ranges in the flat lists below.
  struct TRange {
    bool Kept = false;
    std::uint32_t Neighbours = 0, NeighboursEnd = 0, Candidates = 0, CandidatesEnd = 0, Inner = 0, InnerEnd = 0;
  };
  double Probe = 0;
  std::array<double, 16> Radii{};
  std::vector<TAtomState> Atoms;  // by number, as at the start of the run
  std::vector<TRange> Ranges;     // by number
  // The neighbours' numbers: with Atoms (the object at each number) they name
  // the same atoms as pointers would, in half the memory.
  std::vector<std::int32_t> Neighbours;
  TElementList Candidates;  // copies, never registered
  std::vector<TInnerSearch> Inner;
};

// What workers made for a chunk of atoms, in atom order; the atoms' entries
// (TMadeAtom) are ranges of it. The run moves the objects out, and the chunk,
// allocated by one thread, is freed whole.
struct TMadeChunk {
  std::vector<TAtom*> Neighbours;
  std::vector<std::unique_ptr<TConollyObject>> Candidates;
  std::vector<std::unique_ptr<TConollyObject>> Copies;
};

// What a worker made for one atom ahead of the ordered steps of the run: its
// neighbours and, unless the memo holds for it, its candidates and the log
// lines of its pairs; an error is raised when the atom's turn comes. With a
// memo the worker also makes the copies: of the new candidates for the next
// run, or of the last run's candidates for this one (Recalled).
struct TMadeAtom {
  TMadeChunk* Chunk = nullptr;
  std::uint32_t Neighbours = 0, NeighboursEnd = 0;
  std::uint32_t Candidates = 0, CandidatesEnd = 0;  // new or recalled
  std::uint32_t Copies = 0, CopiesEnd = 0;
  std::vector<std::string> Log;
  std::vector<int> Tied;  // atoms of tied arcs (TConollyRun::NoteTiedArc)
  bool Made = false;
  bool Recalled = false;
  std::exception_ptr Error;
};

class TCandidateWorkers;

class TConollyRun {
 public:
  // reference = true runs the plain screening of blocked arcs (the yardstick
  // of the fast path; both give identical surfaces).
  // threads: how many threads make the candidates (0: the machine's cores
  // for a structure large enough to gain from them).
  TConollyRun(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
              std::int32_t& status, bool split, TElementList& elements, bool reference = false,
              TSurfaceMemo* memo = nullptr, int threads = 1);
  void Execute();

 private:
  // A blocked interval of the current probe circle, in pseudo-angles (full
  // turn 4), with the unit directions of its two ends in the circle's frame.
  struct TArcRow {
    double Start, End;
    TAtom* Blocker;
    double StartX, StartY, EndX, EndY;
  };
  // The cap of the atom's expanded sphere inside a neighbour's expanded sphere.
  struct TCap {
    double Ux = 0, Uy = 0, Uz = 0;  // unit direction to the neighbour
    double CosG = 0, SinG2 = 0, SinG = 0;  // half-angle of the cap
    bool Coincident = false;        // same centre: no direction
    bool Covers = false;            // same centre and larger: covers the whole sphere
    bool CircleKnown = false;       // fast path: the sign of sin^2 g decides whether the probe circle exists
    std::int32_t Number = 0;        // the neighbour's atom number
  };
  static TCap MakeCap(double x, double y, double z, double D2, double Ei, double Ek, std::int32_t number);
  void AddCap(const TCap& c, bool self);
  void ClearCaps();
  // The blocked arcs of one circle as arrays (fast path): the caps of the
  // blockers in, the rows of arcCutOffs_ out.
  struct TBlockedRows {
    std::vector<std::uint32_t> Index;  // into neighbours_
    std::vector<double> Ux, Uy, Uz, CosG, Start, End, StartX, StartY, EndX, EndY;
    std::vector<double> X, Y, N, R, Px, Py, Width, Hit;  // the cover test (CoverRows in Conolly.cpp)
    void Resize(std::size_t n) {
      Index.resize(n);
      for (auto* v : {&Ux, &Uy, &Uz, &CosG, &Start, &End, &StartX, &StartY, &EndX, &EndY, &X, &Y, &N, &R, &Px, &Py,
                     &Width, &Hit})
        v->resize(n);
    }
  };
  struct TSaddleRow {
    TConollyObject2* Saddle;
    int State;  // 1 free, 2 taken
    int Own, Partner, Start, End;
  };
  struct TProblem {
    std::array<int, 4> A{0, 0, 0, 0};
    TCoord Point;
  };
  struct TFailure {
    int Atom;
    TCoord Point;
  };
  // One neighbour constraint of the inner-point search: x on the sphere lies
  // inside the neighbour's expanded sphere exactly when A . x > F.
  struct TInnerConstraint {
    TExtVector A;
    Ext A2;
    Ext F;
    Ext W;  // 1 / |A|: violations are signed distances to the cutting plane
  };

  friend class TCandidateWorkers;
  void PrepareScan();
  void MakeAtom(TAtom& atom, TMadeAtom& out, TMadeChunk& chunk, const TConollyRun* memoOwner);
  // The made candidates (or recalled copies) of an atom into candidates_.
  void TakeCandidates(TMadeAtom& made);
  // The candidates of one atom whose neighbours are collected (steps B and C).
  void MakeCandidates(TAtom& atom);
  void FlushPairLog();
  TAtom* AtomOf(int number) const;
  bool Included(int number) const;
  std::vector<TConollyObject*>& ListOf(int number);

  // Steps A to F of one atom.
  // The fast collection reads the atoms from slots_ and decides the cutoff in
  // double unless the distance is within rounding of it; MakeCaps then makes
  // the caps that MakePairs needs (an atom taken over from the memo needs none).
  void CollectNeighbours(TAtom& atom);
  void CollectNeighboursReference(TAtom& atom);
  void MakeCaps(const TAtom& atom);
  void MakePairs(TAtom& atom);
  // Fast path (docs/geometry.md): whole-burial screen over the neighbour caps
  // in arrays, then the cover test of the blocked arcs; only a circle that
  // may keep a free arc gets its centre, frame, exact rows and sweep.
  void SweepArcs(TAtom& atom, std::size_t partnerIndex);
  void SweepArcsReference(TAtom& atom, std::size_t partnerIndex, const TProbeCircle& circle);
  // The sweep over arcCutOffs_: free arcs and their concave corners become candidates.
  void EmitFreeArcs(TAtom& atom, TAtom& partner, const TProbeCircle& circle);
  // Exact degeneracies the cycles may not report: a free arc (from the end of
  // row k1 to the start of row k2) of no length, where four spheres meet and
  // rounding left a gap, or one that ends where two more blocked arcs end or
  // begin, a point of five or more spheres that no zero-length edge closes.
  // Its atoms go to tied_, a line to the pair log (so the memo does not keep
  // the atom).
  void NoteTiedArc(TAtom& atom, TAtom& partner, std::size_t k1, std::size_t k2);
  void Register(TAtom& atom);
  void AppendElement(std::unique_ptr<TConollyObject> element, int atomNumber);
  void BuildContactPatch(TAtom& atom);
  // One walk of a cycle from its first edge; false when no saddle continues it.
  bool FollowCycle(TAtom& atom, TConollyObject1& patch, const TSaddleRow& first, bool reverse);
  void RemoveElement(TConollyObject* element, int atomNumber);

  // The memo of the per-atom steps (RunMemo.cpp). Recall* give true when the
  // last run's entry holds; Keep* copy this run's results for the next one.
  void BeginMemo();
  // made: what a worker made for the atom (its copies are used).
  bool RecallCandidates(const TAtom& atom, TMadeAtom* made = nullptr);
  bool MemoHolds(const TAtom& atom, const std::vector<TAtom*>& neighbours) const;
  void CopyRecalled(const TAtom& atom, std::vector<std::unique_ptr<TConollyObject>>& out) const;
  void KeepCandidates(const TAtom& atom, TMadeAtom* made = nullptr);
  void EndAtomMemo(const TAtom& atom);
  void EndMemo();
  bool RecallInnerPoint(const TAtom& atom, TExtVector& d, int& code);
  void KeepInnerPoint(const TAtom& atom, const TExtVector& start, const TExtVector& result, int code);

  // Inner points.
  void ComputeInnerPoint(TAtom& atom, TConollyObject1& patch);
  // The search of the reference path in long double throughout; the fast one
  // takes the same steps and decides in double which long-double values count.
  int FindInnerPoint(const TAtom& atom, TExtVector& d);
  int FindInnerPointReference(const TAtom& atom, TExtVector& d);
  void SetInnerPoint(TAtom& atom, TConollyObject1& patch, const TConollyObject2* start);
  void SplitPatch(TAtom& atom, TConollyObject1& patch);
  void ReportInnerPointFailure(const TAtom& atom);

  // Degenerate points. The repair gives false when a point is beyond the
  // zero-length edges (five atoms, no fourth atom, not two or four open cycles).
  void RecordProblem(int a1, int a2, int a3, const TCoord& point);
  bool RepairDegeneratePoints();
  // Notes the atoms of the neighbour list whose expanded spheres pass through point.
  void NoteAtomsThrough(const TAtom& atom, const TCoord& point);
  void NoteCoincidentNeighbours(const TAtom& atom);

  std::string AtomText(int number) const;

  TProteinObject& protein_;
  const std::vector<bool>& include_;
  TAtomElementLists& atomElements_;
  std::int32_t& status_;
  bool split_;
  TElementList& elements_;

  std::array<std::array<double, 16>, 16> pairCutoffSquared_{};
  // The included atoms by number, side by side (Atom nullptr: not included).
  struct TSlot {
    float X = 0, Y = 0, Z = 0;
    std::uint8_t RadiusType = 0;
    std::int32_t Number = 0;
    TAtom* Atom = nullptr;
  };
  std::vector<TSlot> slots_;
  std::vector<TAtom*> neighbours_;
  // Fast path: per neighbour the offset from the atom, its square, the
  // neighbour's expanded radius and number (the inputs of its cap).
  struct TNear {
    double X, Y, Z, D2, Ek;
    std::int32_t Number;
  };
  std::vector<TNear> near_;
  std::vector<std::unique_ptr<TConollyObject>> candidates_;
  std::vector<TArcRow> arcCutOffs_;
  std::vector<TCap> caps_;  // parallel to neighbours_
  // The caps again as arrays for the burial screen, parallel to neighbours_
  // (the fast path pads them to whole blocks of kCapBlock); the atom itself,
  // coincident centres and the padding get a cap that never blocks (CosG 2)
  // or, when a coincident sphere covers the atom's, buries every circle (CosG -2).
  std::vector<double> capUx_, capUy_, capUz_, capCos_;
  std::vector<double> capClass_;  // per circle: 1 blocks part, +2 when num <= 0
  std::array<std::size_t, 2> recentBuriers_{};  // neighbour indices that buried recent circles
  TBlockedRows blocked_;
  bool reference_ = false;
  std::vector<TInnerConstraint> innerConstraints_;
  std::vector<Ext> innerS_, innerRate_;
  std::vector<char> innerActive_;
  // The fast search: the constraints in double (A, F, W as above; G bounds
  // the size of the terms of a violation), the estimates Sd, Rd of the
  // violations and rates, and the exact values made when first needed in an
  // iteration (stamps name the iteration).
  struct TInnerWork {
    std::vector<const TAtom*> Atom;
    std::vector<double> Ax, Ay, Az, F, W, G, Sd, E, Rd;
    std::vector<char> Ready, Active;
    std::vector<std::uint32_t> SStamp, RateStamp;
    std::vector<std::size_t> ActiveList;
  } inner_;
  std::vector<TSaddleRow> saddles_;
  std::vector<std::pair<int, int>> cycleRecords_;  // (first edge of a further cycle, last edge of the one before)
  bool severalCycles_ = false;
  const TConollyObject2* lastHandled_ = nullptr;  // saddle most recently taken into a cycle

  std::vector<TProblem> problems_;
  std::vector<TFailure> failures_;
  int problemCount_ = 0;
  std::vector<int> degenerateAtoms_;  // through the recorded points
  std::vector<int> coincidentAtoms_;  // the higher-numbered of two coincident equal spheres
  std::vector<int> tied_;             // of the atom being made: atoms of tied arcs (NoteTiedArc)
  std::vector<int> tiedAtoms_;        // of the run
  std::set<int> openAtoms_;           // whose contact patch stayed open
  bool problemInRun_ = false;
  bool problemForAtom_ = false;
  bool turnFlag_ = true;
  std::int64_t elementCounter_ = 0;
  int currentAtom_ = 0;

  TSurfaceMemo* carried_;        // from the run before and to the next (null: none)
  TRunMemo lastMemo_, memo_;     // the last run's, this run's (fast path only)
  std::vector<char> unchanged_;  // by number: the atom is as in lastMemo_
  int memoAtom_ = 0;             // the atom whose step is being kept (0: none)
  bool recalled_ = false;        // lastMemo_ holds for memoAtom_
  bool keep_ = true;             // this run keeps a memo for the next (TSurfaceMemo::KeepForNext)
  bool pairLogged_ = false;      // MakePairs wrote to the log: the atom is not kept
  std::vector<std::string> pairLog_;  // log lines of MakePairs not yet written
  int threads_ = 1;
};

// Makes the neighbours and candidates of the atoms on worker threads, in
// chunks in atom order, while the run takes them atom by atom; the run makes
// a chunk itself when the atom it needs is not ready yet
// (ParallelCandidates.cpp).
class TCandidateWorkers {
 public:
  TCandidateWorkers(TConollyRun& run, int threads, bool memo);
  ~TCandidateWorkers();  // stops and joins the workers
  TCandidateWorkers(const TCandidateWorkers&) = delete;
  TCandidateWorkers& operator=(const TCandidateWorkers&) = delete;
  // What was made for an included atom; waits for it (or makes it) first.
  TMadeAtom& Take(int number);

 private:
  struct TWorker;
  // false: every chunk is taken, or (ahead true) the next one lies more than
  // kAheadAtoms beyond the atom the run takes.
  bool MakeChunk(TConollyRun& scratch, bool ahead);
  TConollyRun& run_;
  const TConollyRun* memoOwner_;
  int count_;
  std::vector<TMadeAtom> made_;
  std::vector<TMadeChunk> chunks_;  // chunk k holds atoms k * size + 1 ..
  std::vector<std::atomic<std::uint8_t>> ready_;
  std::atomic<int> next_{1};
  std::atomic<int> taken_{0};  // the atom the run took last
  std::atomic<bool> stop_{false};
  std::vector<std::unique_ptr<TWorker>> workers_;
  std::vector<std::jthread> threads_;
};

// GetAtConolly on the reference path (tests compare it with the fast path).
void GetAtConollyReference(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                           std::int32_t& status, bool split, TElementList& elements);

}  // namespace cavitas::surface_detail
