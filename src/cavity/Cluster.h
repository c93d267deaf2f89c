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
// atom on the same edge: error 303 (both fatal). run: the radii, the progress
// and the report log of the analysis.
void ClusterConolly(TRunContext& run, const TAtomElementLists& atomElements, const TElementList& elements, bool join,
                    TClusterTable& clusters, std::int32_t& separateParts);

// Moves every cluster except the largest into holes (which it resets) and
// removes their elements from elements and atomElements, so that these
// describe only the outer surface afterwards. Returns the hole count.
std::int32_t ClusterHoles(TRunContext& run, TAtomElementLists& atomElements, TElementList& elements, bool join,
                          THoleTable& holes, std::int32_t& separateParts);

// As ClusterHoles, but the elements of all holes go into the one list inner
// (whose previous elements are destroyed first).
void CollectInnerElements(TRunContext& run, TAtomElementLists& atomElements, TElementList& elements, bool join,
                          TElementList& inner, std::int32_t& separateParts);

// Smallest PatchDistance(atom centre, atom radius) over the contact elements of
// list; 1000 when list is null or holds no contact element.
double MinClearance(const TModelConstants& model, const TCluster* list, const TAtom& atom);

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
  std::int32_t Compute(TProteinObject& protein, bool withHet, bool join, TSurfaceMemo* memo = nullptr);

  TAtomElementLists AtomElements;
  TElementList Elements;
  TElementList InnerElements;
  TRunStatus SurfaceStatus = TRunStatus::Good;
};

namespace detail {

// The same clustering with the contact element of a neighbour atom found by a
// linear scan of the not yet clustered contact elements, and the joining test
// evaluated without pruning: the slow reference of ClusterConolly.
void ClusterConollyLinearScan(TRunContext& run, const TAtomElementLists& atomElements, const TElementList& elements,
                              bool join, TClusterTable& clusters, std::int32_t& separateParts);

// The contact elements of a list in list order, with k-d trees of boxes over
// their atoms. Append adds the contact elements of another list after them;
// trailing trees no larger than the new entries are rebuilt with them, so a
// list grown part by part keeps a logarithmic number of trees and each entry
// is rebuilt a logarithmic number of times.
class ContactIndex {
 public:
  struct Entry {
    TConollyObject* Element;
    TAtom* Atom;
    TCoord At;  // the atom's centre, kept here for the searches
  };
  // model: the radii the surface was built with (kept for the searches).
  ContactIndex(const TModelConstants& model, const TCluster& list);
  void Append(const TCluster& list);
  const std::vector<Entry>& Entries() const { return entries_; }
  double MaxRadius() const { return maxRadius_; }
  const TModelConstants& Model() const { return *model_; }
  std::size_t TreeCount() const { return trees_.size(); }
  // Visits (by position) every entry whose box lies within the squared
  // distance limit() of point; limit is asked again as it shrinks.
  template <class Visit, class Limit>
  void Search(const TCoord& point, Visit&& visit, Limit&& limit) const;

 private:
  static constexpr int kLeafSize = 8;
  struct Node {
    float Lo[3] = {0, 0, 0}, Hi[3] = {0, 0, 0};
    int Begin = 0, End = 0;  // order_[Begin .. End)
    int Left = -1, Right = -1;
  };
  struct TBuildItem {
    float C[3];
    int Entry;
  };
  // A tree over the entries from FirstEntry to the next tree's; its nodes
  // start at Root, and its positions in order_ are its entry positions.
  struct Tree {
    int Root;
    int FirstEntry;
  };
  void BuildTree(std::size_t firstEntry);
  int Build(int begin, int end, std::vector<TBuildItem>& items, int offset);
  static long double BoxDistance2(const Node& node, const TCoord& point);

  const TModelConstants* model_;
  std::vector<Entry> entries_;
  double maxRadius_ = 0;
  std::vector<Tree> trees_;
  std::vector<Node> nodes_;
  std::vector<int> order_;  // entry positions in tree order
};

// ClosestContact and MinClearance through the index and a distance bound, with
// the same results as the plain versions (MinClearancePruned scans the list
// with the bound only, for short lists).
long double ClosestContactIndexed(const ContactIndex& first, const TCluster& second, TAtom*& p, TAtom*& q);
long double ClosestContactIndexed(const TModelConstants& model, const TCluster& first, const TCluster& second,
                                  TAtom*& p, TAtom*& q);
double MinClearanceIndexed(const ContactIndex& list, const TAtom& atom);
double MinClearancePruned(const TModelConstants& model, const TCluster& list, const TAtom& atom);

// Formats a value as the joining log line prints it: up to 15 significant digits.
std::string GeneralFloat(long double value);

}  // namespace detail

}  // namespace cavitas
