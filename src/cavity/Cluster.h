#pragma once
// Splits a Connolly surface into connected parts ("clusters"), joins separate
// pieces of the outside (another chain, a detached ligand) to the outer surface
// and takes every remaining part, a closed cavity ("hole"), out of the surface.
#include <cstdint>
#include <string>
#include <vector>

#include "surface/ConollyObjects.h"

namespace cavitas {

// One connected part; refers to elements owned elsewhere. While the contact
// elements are being clustered it holds only those, in breadth-first order.
using TCluster = std::vector<TConollyObject*>;
// Slot k at [k-1], at most kMaxHoles slots, ordered by decreasing number of
// contact elements; slot 1 becomes the outer surface.
using TClusterTable = std::vector<TCluster>;
// A hole owns its elements: contact elements in clustering order, then the
// saddles and concave elements.
using THoleList = TElementList;
// Hole k at [k-1], at most kMaxHoles holes.
using THoleTable = std::vector<THoleList>;

// The core: fills a fresh cluster table from the surface (which stays
// unchanged) and returns the separate-part count through separateParts (1 plus
// the number of parts that lie apart from slot 1; with join those are merged
// into slot 1). More than 800 clusters: error 301; two contact elements of one
// atom on the same edge: error 303 (both fatal).
void ClusterConolly(const TAtomElementLists& atomElements, const TElementList& elements, bool join,
                    TClusterTable& clusters, std::int32_t& separateParts);

// Moves every cluster except the largest into holes (which it resets) and
// removes their elements from elements and atomElements, so that these
// describe only the outer surface afterwards. Returns the hole count.
std::int32_t ClusterHoles(TAtomElementLists& atomElements, TElementList& elements, bool join, THoleTable& holes,
                          std::int32_t& separateParts);

// As ClusterHoles, but the elements of all holes go into the one list inner
// (whose previous elements are destroyed first).
void CollectInnerElements(TAtomElementLists& atomElements, TElementList& elements, bool join, TElementList& inner,
                          std::int32_t& separateParts);

// Smallest PatchDistance(atom centre, atom radius) over the contact elements of
// list; 1000 when list is null or holds no contact element.
double MinClearance(const TCluster* list, const TAtom& atom);

// The pair (contact element of first, contact element of second) whose atoms
// lie closest, the first such pair in list order (outer loop over first).
// Returns the centre distance; a null list gives null atoms and 1e9, no pair
// null atoms and sqrt(1e9).
long double ClosestContact(const TCluster* first, const TCluster* second, TAtom*& p, TAtom*& q);

// A surface with its inner elements, for the inner-water search.
class TClusteredConollyArea {
 public:
  TClusteredConollyArea() = default;
  TClusteredConollyArea(const TClusteredConollyArea&) = delete;
  TClusteredConollyArea& operator=(const TClusteredConollyArea&) = delete;

  // Frees the surface and the inner elements; the object can compute again.
  void Clear();
  // Builds the surface (with or without hetero atoms) and collects the elements
  // of all holes into InnerElements; returns the separate-part count.
  std::int32_t Compute(TProteinObject& protein, bool withHet, bool join);

  TAtomElementLists AtomElements;
  TElementList Elements;
  TElementList InnerElements;
  std::int32_t SurfaceStatus = 0;
};

namespace detail {

// The same clustering with the contact element of a neighbour atom found by a
// linear scan of the not yet clustered contact elements, and the joining test
// evaluated without pruning: the slow reference of ClusterConolly.
void ClusterConollyLinearScan(const TAtomElementLists& atomElements, const TElementList& elements, bool join,
                              TClusterTable& clusters, std::int32_t& separateParts);

// The contact elements of a list in list order, with a cell grid over their atoms.
class ContactGrid {
 public:
  struct Entry {
    TConollyObject* Element;
    TAtom* Atom;
  };
  explicit ContactGrid(const TCluster& list);
  const std::vector<Entry>& Entries() const { return entries_; }
  double MaxRadius() const { return maxRadius_; }
  // Visits the entries (by position) cell ring by cell ring around point.
  // Before ring r >= 2, stop(bound) may end the search: every entry not yet
  // visited lies farther than bound from point.
  template <class Visit, class Stop>
  void Rings(const TCoord& point, Visit&& visit, Stop&& stop) const;

 private:
  void CellOf(const TCoord& point, long c[3]) const;
  std::size_t CellIndex(long x, long y, long z) const;

  std::vector<Entry> entries_;
  double maxRadius_ = 0;
  float lo_[3] = {0, 0, 0};
  double h_ = 4.0;  // cell edge, Å
  long dims_[3] = {0, 0, 0};
  std::vector<int> cellStart_;  // cell c: items_[cellStart_[c] .. cellStart_[c+1])
  std::vector<int> items_;      // entry positions, ascending within a cell
};

// ClosestContact and MinClearance through the grid and a distance bound, with
// the same results as the plain versions (MinClearancePruned scans the list
// with the bound only, for short lists).
long double ClosestContactIndexed(const ContactGrid& first, const TCluster& second, TAtom*& p, TAtom*& q);
long double ClosestContactIndexed(const TCluster& first, const TCluster& second, TAtom*& p, TAtom*& q);
double MinClearanceIndexed(const ContactGrid& list, const TAtom& atom);
double MinClearancePruned(const TCluster& list, const TAtom& atom);

// Formats a value as the joining log line prints it: up to 15 significant digits.
std::string GeneralFloat(long double value);

}  // namespace detail

}  // namespace cavitas
