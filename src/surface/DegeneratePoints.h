#pragma once
// Exact degeneracies of one construction: points where four or more expanded
// spheres meet (contact-patch cycles stay open there), coincident equal
// spheres and tied arcs. Points of four spheres are repaired with a
// zero-length saddle edge after the per-atom loop; what no such edge closes
// is resolved by moving the atoms involved and building the surface again.
#include <array>
#include <functional>
#include <set>
#include <vector>

#include "model/Protein.h"
#include "surface/ContactPatch.h"

namespace cavitas::surface_detail {

// Thrown at the end of a construction (and caught by GetAtConolly, which moves
// the atoms and runs again) when a contact patch stayed open at an exact
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
constexpr int kMaxProblems = 100;  // degenerate-problem records of one run
void DisplaceAtoms(TProteinObject& protein, const std::vector<int>& numbers, int round);

class TDegeneracies {
 public:
  TDegeneracies(const TProteinObject& protein, TElementStore& store, const TSurfaceRadii& radii);
  // A cycle of atom stopped at point, between the probe circles of (atom,
  // a2) and (a2, a3): recorded and logged.
  void RecordProblem(const TAtom& atom, const std::vector<TAtom*>& neighbours, int a2, int a3, const TCoord& point);
  // The neighbours of higher number at the atom's centre with its radius.
  void NoteCoincidentNeighbours(const TAtom& atom, const std::vector<TAtom*>& neighbours);
  void NoteTied(const std::vector<int>& atoms) { tiedAtoms_.insert(tiedAtoms_.end(), atoms.begin(), atoms.end()); }
  // Whether the atom's contact patch stayed open.
  void SetOpen(int atom, bool open);
  bool AnyProblem() const { return problemInRun_; }
  // Bridges each recorded point of four spheres and builds the patches of its
  // open atoms again (rebuild); false when a point is beyond the zero-length
  // edges (five atoms, no fourth atom, not two or four open cycles).
  bool Repair(const std::function<void(TAtom&)>& rebuild);
  // The atoms to move: those of tied arcs and coincident equal spheres, and,
  // when a point stayed open, every atom through a recorded point; ascending, once.
  std::vector<int> AtomsToMove(bool closed) const;

 private:
  struct TProblem {
    std::array<TAtomIndex, 4> A{0, 0, 0, 0};
    TCoord Point;
  };
  struct TFailure {
    int Atom;
    TCoord Point;
  };
  bool MergeProblems();
  bool FindFourthAtom(TProblem& pr);
  // The atoms of the problem whose own cycle walk stopped at its point.
  std::vector<int> OpenAtoms(const TProblem& pr) const;
  void Bridge(const TProblem& pr, const std::vector<int>& open);
  void LogProblems();

  const TProteinObject& protein_;
  TElementStore& store_;
  const TSurfaceRadii& radii_;
  std::vector<TProblem> problems_;
  std::vector<TFailure> failures_;
  int problemCount_ = 0;
  std::vector<int> degenerateAtoms_;  // through the recorded points
  std::vector<int> coincidentAtoms_;  // the higher-numbered of two coincident equal spheres
  std::vector<int> tiedAtoms_;
  std::set<int> openAtoms_;  // whose contact patch stayed open
  bool problemInRun_ = false;
};

}  // namespace cavitas::surface_detail
