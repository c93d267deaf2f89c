#pragma once
// The contact-patch builder: registration of an atom's candidates, the
// boundary cycles of its saddles, the inner point of its contact patch and
// the split of a patch whose cycles enclose separate free regions. It takes
// the atoms one after another, in atom order.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "surface/ConollyObjects.h"
#include "surface/Neighbourhood.h"

namespace cavitas::surface_detail {

// A number right-aligned in four columns, as the log writes atom numbers.
std::string Width4(int n);

// Thrown (and caught inside GetAtConolly) when the element list overflows:
// the construction is abandoned with the status TooManyElements.
struct TAbandonRun {};

// The elements of one construction: the owning list and the per-atom lists.
class TElementStore {
 public:
  TElementStore(TAtomElementLists& lists, TElementList& elements, TRunStatus& status, std::string fileName);
  // Empty lists for atoms 1..atomCount.
  void Reset(int atomCount);
  std::vector<TConollyObject*>& ListOf(int number);
  // Appends an element to the owning list and to the lists of its atoms.
  void Append(std::unique_ptr<TConollyObject> element, int atomNumber);
  void Remove(TConollyObject* element, int atomNumber);
  // The candidates that registration keeps (IsOwner), in their order; the
  // copies made from other pairs are dropped.
  void Register(std::vector<std::unique_ptr<TConollyObject>>& candidates, int atomNumber);
  // The atom whose turn it is, for the message of an overflow.
  void SetCurrentAtom(int number) { currentAtom_ = number; }
  TRunStatus& Status() { return status_; }
  const std::string& FileName() const { return fileName_; }

 private:
  void AddTo(int number, TConollyObject* element);  // to the atom's list

  TAtomElementLists& lists_;
  TElementList& elements_;
  TRunStatus& status_;
  std::string fileName_;
  int currentAtom_ = 0;
};

// Where the builder gets the inner point of a patch from: a direction d from
// the atom's centre, started from d (see TReferenceKernel::FindInnerPoint).
class TInnerPointSource {
 public:
  virtual int Find(const TAtom& atom, TExtVector& d) = 0;

 protected:
  ~TInnerPointSource() = default;
};

class TDegeneracies;

// A contact patch as a build left it: its inner point and how many edges it
// has; the edges are kept apart, as places among the saddles of the atom's
// list (in list order).
struct TPatchShape {
  TCoord InnerPoint;
  std::uint32_t EdgeCount = 0;
};

// The saddles of an atom's element list, in list order: what the places of
// a TPatchShape's edges count in.
void SaddlesOf(const std::vector<TConollyObject*>& list, std::vector<TConollyObject2*>& saddles);

class TContactPatchBuilder {
 public:
  // split: the contact patch of several cycles is split into its free regions;
  // model: the radii and the probe of the run.
  TContactPatchBuilder(TElementStore& store, TDegeneracies& degeneracies, TInnerPointSource& inner, bool split,
                       const TModelConstants& model);
  // The contact patch of an atom with saddles in its list: its boundary
  // cycles, its inner point and its split. neighbours: the atom's, for the
  // atoms through a point where a cycle stays open. True when the build was
  // plain (its cycles closed, every inner point found): then what it made
  // depends on the saddles of the atom's list, the atom and its neighbours
  // alone, and the same saddles give the same patches (Rebuild).
  bool Build(TAtom& atom, const std::vector<TAtom*>& neighbours);
  bool Splits() const { return split_; }
  // The patches of a plain build again, from the same saddles in the atom's
  // list: edges holds the places of each patch's edges, patch by patch.
  void Rebuild(TAtom& atom, std::span<const TPatchShape> shapes, std::span<const std::uint16_t> edges);

 private:
  struct TSaddleRow {
    TConollyObject2* Saddle;
    int State;  // 1 free, 2 taken
    int Own, Partner, Start, End;
  };
  // One walk of a cycle from its first edge; false when no saddle continues it.
  bool FollowCycle(TAtom& atom, TConollyObject1& patch, const TSaddleRow& first, bool reverse);
  void SetInnerPoint(TAtom& atom, TConollyObject1& patch, const TConollyObject2* start);
  void SplitPatch(TAtom& atom, TConollyObject1& patch);
  void ReportInnerPointFailure(const TAtom& atom);

  // What the split of a patch works on, kept from patch to patch.
  struct TSplitScratch {
    struct TPairDistance {
      Ext Distance = 1000.0;
      TCoord P1, P2;
    };
    std::vector<TConollyObject2*> Edges;         // the cycles' edges, cycle by cycle
    std::vector<std::size_t> CycleStart;         // cycle x: Edges[CycleStart[x] .. CycleStart[x + 1])
    std::vector<std::array<TCoord, 3>> Samples;  // per edge: start, middle, end
    std::vector<TPairDistance> Distance;         // cycles x < y: [x * count + y]
    std::vector<std::size_t> Group, Regions;
  };

  TElementStore& store_;
  TDegeneracies& degeneracies_;
  TInnerPointSource& inner_;
  bool split_;
  const TModelConstants& model_;
  const std::vector<TAtom*>* neighbours_ = nullptr;  // of the atom being built
  std::vector<TSaddleRow> saddles_;
  std::vector<std::pair<int, int>> cycleRecords_;  // (first edge of a further cycle, last edge of the one before)
  bool severalCycles_ = false;
  bool problemForAtom_ = false;
  bool noInnerPoint_ = false;                     // a search of the atom's build failed
  bool turnFlag_ = true;                          // carried from atom to atom
  const TConollyObject2* lastHandled_ = nullptr;  // saddle most recently taken into a cycle
  TSplitScratch splitScratch_;
  std::vector<TConollyObject2*> listSaddles_;  // of the atom rebuilt, in list order
};

}  // namespace cavitas::surface_detail
