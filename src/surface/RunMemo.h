#pragma once
// The memo of the per-atom steps: what one fast construction produced for
// each atom, used by the next construction of the same protein for the atoms
// whose inputs are the same bit for bit (the pass without hetero atoms after
// the pass with them).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "model/Protein.h"
#include "surface/ConollyObjects.h"
#include "surface/ContactPatch.h"
#include "surface/Neighbourhood.h"

namespace cavitas::surface_detail {

// The candidates of an atom are a function of the atom and its neighbours,
// and an inner-point search of these and its start; an entry is used only
// when the atom and every neighbour are the same objects with the same
// values (bits) and the radii and probe are unchanged. A plain build of the
// atom's contact patches is a function of these and of the saddles of its
// list: its patches are used again when those saddles are the last
// construction's too. The caller owns it (TSurfaceMemo) and hands it from
// one construction to the next.
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
  // Per atom number: the atom's ranges in the flat lists below (Neighbours:
  // the first byte of its steps, and how many neighbours they encode).
  // Patches: the atom's contact patches after a plain build (PatchesKept)
  // from Saddles saddles, their edges from PatchEdges on.
  struct TRange {
    bool Kept = false;
    bool PatchesKept = false;
    std::uint16_t Saddles = 0;
    std::uint32_t NeighbourCount = 0;
    std::uint32_t Neighbours = 0, Candidates = 0, CandidatesEnd = 0, Inner = 0, InnerEnd = 0;
    std::uint32_t Patches = 0, PatchesEnd = 0, PatchEdges = 0, PatchEdgesEnd = 0;
  };
  double Probe = 0;
  std::array<double, 16> Radii{};
  std::vector<TAtomState> Atoms;  // by number, as at the start of the run
  std::vector<TRange> Ranges;     // by number
  // The neighbours' numbers, each as the step from the one before (from the
  // atom's own number) in a variable-length code: neighbours lie mostly
  // near in the numbering, so about two bytes each instead of a pointer's
  // eight. With Atoms (the object at each number) they name the same atoms.
  std::vector<std::uint8_t> Neighbours;
  TElementList Candidates;  // copies, never registered
  std::vector<TInnerSearch> Inner;
  std::vector<TPatchShape> Patches;
  std::vector<std::uint16_t> PatchEdges;  // places among the saddles of the atom's list
  bool Split = true;                      // whether the builds split their patches
};

using TCandidateList = std::vector<std::unique_ptr<TConollyObject>>;

// One construction's use of the memo: it reads the last construction's entries
// and writes its own for the next, atom by atom in atom order.
class TMemoSession {
 public:
  // Takes the last construction's memo out of carried (a construction that
  // does not finish leaves nothing behind).
  TMemoSession(TSurfaceMemo& carried, const TProteinObject& protein, const TSurfaceRadii& radii, bool split);
  // This construction keeps a memo for the next (TSurfaceMemo::KeepForNext).
  bool Keeps() const { return keep_; }
  // Whether the last construction's entry holds for the atom with these
  // neighbours. Reads only what the constructor set up: workers ask it while
  // the construction goes on (and moves entries of atoms already taken).
  bool Holds(const TAtom& atom, const std::vector<TAtom*>& neighbours) const;
  // Copies of the last construction's candidates of the atom (Holds is true).
  void CopyRecalled(const TAtom& atom, TCandidateList& out) const;
  // Frees the last construction's candidates of an atom whose entry does not
  // hold, ahead of its turn: the worker that found so (and makes new ones
  // instead) frees them, and its next blocks come from its own cache.
  void ReleaseLast(const TAtom& atom);
  // Whether a worker that finds an entry holding copies its candidates
  // (CopyRecalled): only a construction that keeps a memo needs two of each;
  // the last one moves the last construction's own at the atom's turn.
  bool WorkersCopy() const { return keep_; }
  // Begins the atom's turn. True when the entry holds (held: what a worker's
  // Holds found, asked here when empty); its candidates are then appended to
  // out, moved when this construction keeps no memo, else copied unless a
  // worker copied them already (the caller takes those).
  bool Recall(const TAtom& atom, const std::vector<TAtom*>& neighbours, std::optional<bool> held, TCandidateList& out);
  // Keeps copies of the atom's new candidates: copies, when it holds one for
  // every candidate, else clones made here. Nothing when the pairs logged lines.
  void Keep(const TCandidateList& candidates, std::span<std::unique_ptr<TConollyObject>> copies, bool pairLogged);
  // Ends the atom's turn: its entry is complete (dropped when its pairs
  // logged lines, which a recall would miss) and the last construction's
  // copies of it are freed.
  void EndAtom(const TAtom& atom, bool pairLogged);
  // Hands this construction's memo to the next one.
  void End();
  // The inner-point search of the atom whose turn it is, from the last construction.
  bool RecallInnerPoint(const TAtom& atom, TExtVector& d, int& code);
  void KeepInnerPoint(const TAtom& atom, const TExtVector& start, const TExtVector& result, int code);
  // The last construction's patches of the atom whose turn it is (its list:
  // the atom's elements, registered). They hold when its candidates were
  // recalled, its build then was plain, and the saddles of its list are as
  // many as then and each one the atom's own or recalled from the atom that
  // registered it: a saddle missing now would leave one fewer, and one added
  // would come from an atom not recalled.
  bool RecallPatches(const TAtom& atom, const std::vector<TConollyObject*>& list, std::span<const TPatchShape>& shapes,
                     std::span<const std::uint16_t>& edges);
  // Keeps the patches the atom's build added to its list (plain: see
  // TContactPatchBuilder::Build).
  void KeepPatches(const TAtom& atom, const std::vector<TConollyObject*>& list, bool plain);

 private:
  TSurfaceMemo& carried_;
  TRunMemo lastMemo_, memo_;         // the last construction's, this one's
  std::vector<char> unchanged_;      // by number: the atom is as in lastMemo_
  std::vector<char> recalledAtoms_;  // by number: its candidates were recalled in this construction
  bool samePatches_ = false;         // the last construction's builds split as this one's
  int memoAtom_ = 0;                 // the atom whose step is being kept (0: none)
  bool recalled_ = false;            // lastMemo_ holds for memoAtom_
  bool keep_ = true;
  std::vector<TConollyObject2*> saddles_;  // of the list whose patches are kept
};

}  // namespace cavitas::surface_detail
