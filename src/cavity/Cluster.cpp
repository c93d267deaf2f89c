#include "cavity/Cluster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Status.h"
#include "model/Radii.h"

namespace cavitas {

namespace {

const char* const kUnit = "Conolly";
const char* const kRoutine = "ClusterConolly";

// Squared distance of two points in extended precision; the one formula of
// every distance comparison here, so that fast and plain searches agree bit for bit.
long double SquaredDistance(const TCoord& a, const TCoord& b) {
  const long double dx = static_cast<long double>(a.X) - b.X;
  const long double dy = static_cast<long double>(a.Y) - b.Y;
  const long double dz = static_cast<long double>(a.Z) - b.Z;
  return dx * dx + dy * dy + dz * dz;
}

// Atom numbers index the per-atom byte arrays, which reach the largest number.
int CheckedNumber(const TAtom* atom) {
  const int n = atom->Number;
  if (n < 1) RaiseLimit("atom number " + std::to_string(n) + " below 1 in the clustering");
  return n;
}

TConollyObject1* AsContact(TConollyObject* e) { return static_cast<TConollyObject1*>(e); }

bool HasEdge(const TConollyObject1& contact, const TConollyObject2* edge) {
  return std::find(contact.Edges.begin(), contact.Edges.end(), edge) != contact.Edges.end();
}

// The contact list A as the system keeps it: a plain list, searched linearly.
class ScannedContacts {
 public:
  explicit ScannedContacts(std::vector<TConollyObject1*> items) : items_(std::move(items)) {}
  bool Empty() const { return items_.empty(); }
  TConollyObject1* PopFirst() {
    TConollyObject1* c = items_.front();
    items_.erase(items_.begin());
    return c;
  }
  int FirstOf(int atom) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i]->Atom->Number == atom) return static_cast<int>(i);
    return -1;
  }
  TConollyObject1* At(int pos) const { return items_[static_cast<std::size_t>(pos)]; }
  void RemoveAt(int pos) { items_.erase(items_.begin() + pos); }
  template <class F>
  void ForEachOf(int atom, F&& f) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i]->Atom->Number == atom) f(static_cast<int>(i), items_[i]);
  }

 private:
  std::vector<TConollyObject1*> items_;
};

// The contact list A with an index: elements are only ever removed, so A is
// its initial order with removal marks, and each atom keeps the positions of
// its own contact elements in that order. The first remaining element of an
// atom is then the one the linear scan would find.
class IndexedContacts {
 public:
  explicit IndexedContacts(std::vector<TConollyObject1*> items)
      : items_(std::move(items)), removed_(items_.size(), 0), remaining_(items_.size()) {
    int maxAtom = 0;
    for (const TConollyObject1* c : items_) maxAtom = std::max(maxAtom, c->Atom->Number);
    start_.assign(static_cast<std::size_t>(maxAtom) + 2, 0);
    for (const TConollyObject1* c : items_) ++start_[static_cast<std::size_t>(c->Atom->Number) + 1];
    for (std::size_t i = 1; i < start_.size(); ++i) start_[i] += start_[i - 1];
    byAtom_.resize(items_.size());
    cursor_.assign(start_.begin(), start_.end() - 1);
    std::vector<int> fill = cursor_;
    for (std::size_t i = 0; i < items_.size(); ++i)
      byAtom_[static_cast<std::size_t>(fill[static_cast<std::size_t>(items_[i]->Atom->Number)]++)] = static_cast<int>(i);
  }
  bool Empty() const { return remaining_ == 0; }
  TConollyObject1* PopFirst() {
    while (removed_[head_]) ++head_;
    RemoveAt(static_cast<int>(head_));
    return items_[head_];
  }
  int FirstOf(int atom) {
    if (atom < 0 || static_cast<std::size_t>(atom) + 1 >= start_.size()) return -1;
    int& k = cursor_[static_cast<std::size_t>(atom)];
    const int end = start_[static_cast<std::size_t>(atom) + 1];
    while (k < end && removed_[static_cast<std::size_t>(byAtom_[static_cast<std::size_t>(k)])]) ++k;
    return k < end ? byAtom_[static_cast<std::size_t>(k)] : -1;
  }
  TConollyObject1* At(int pos) const { return items_[static_cast<std::size_t>(pos)]; }
  void RemoveAt(int pos) {
    removed_[static_cast<std::size_t>(pos)] = 1;
    --remaining_;
  }
  template <class F>
  void ForEachOf(int atom, F&& f) {
    if (FirstOf(atom) < 0) return;
    const int end = start_[static_cast<std::size_t>(atom) + 1];
    for (int k = cursor_[static_cast<std::size_t>(atom)]; k < end; ++k) {
      const int pos = byAtom_[static_cast<std::size_t>(k)];
      if (!removed_[static_cast<std::size_t>(pos)]) f(pos, items_[static_cast<std::size_t>(pos)]);
    }
  }

 private:
  std::vector<TConollyObject1*> items_;
  std::vector<std::uint8_t> removed_;
  std::size_t remaining_;
  std::size_t head_ = 0;
  std::vector<int> start_;   // atom n: byAtom_[start_[n] .. start_[n+1])
  std::vector<int> byAtom_;  // positions in items_, grouped by atom, ascending within an atom
  std::vector<int> cursor_;  // per atom: no remaining element of it lies before this entry
};

// The saddles and concave elements not yet assigned (list B), found by
// identity. Only the holes' elements are ever looked up, so the index is a
// flat open-addressing table (one allocation, no per-entry nodes).
class RestList {
 public:
  void Reserve(std::size_t n) {
    items_.reserve(n);
    taken_.reserve(n);
  }
  void Append(TConollyObject* e) {
    items_.push_back(e);
    taken_.push_back(0);
  }
  // Deletes e from the list; false when it is not (or no longer) there.
  bool Take(const TConollyObject* e) {
    if (slots_.empty()) BuildIndex();
    for (std::size_t h = Hash(e);; h = (h + 1) & mask_) {
      const std::uint32_t k = slots_[h];
      if (k == kEmpty) return false;
      if (items_[k] != e) continue;
      if (taken_[k]) return false;
      taken_[k] = 1;
      ++takenCount_;
      return true;
    }
  }
  template <class F>
  void ForEachRemaining(F&& f) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (!taken_[i]) f(items_[i]);
  }
  bool Empty() const { return takenCount_ == items_.size(); }

 private:
  static constexpr std::uint32_t kEmpty = 0xffffffffu;
  std::size_t Hash(const TConollyObject* e) const {
    auto v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e));
    v *= 0x9e3779b97f4a7c15ull;
    return static_cast<std::size_t>(v >> 32) & mask_;
  }
  void BuildIndex() {
    std::size_t size = 16;
    while (size < 2 * items_.size()) size *= 2;
    mask_ = size - 1;
    slots_.assign(size, kEmpty);
    for (std::size_t k = 0; k < items_.size(); ++k) {
      std::size_t h = Hash(items_[k]);
      while (slots_[h] != kEmpty) h = (h + 1) & mask_;
      slots_[h] = static_cast<std::uint32_t>(k);
    }
  }
  std::vector<TConollyObject*> items_;
  std::vector<std::uint8_t> taken_;
  std::size_t takenCount_ = 0;
  std::vector<std::uint32_t> slots_;  // positions in items_, built at the first lookup
  std::size_t mask_ = 0;
};

// Keeps the table ordered by decreasing size; a new cluster goes behind every
// earlier cluster of equal size.
void InsertBySize(TClusterTable& table, TCluster cluster) {
  table.emplace_back();
  std::size_t slot = table.size() - 1;
  while (slot > 0 && table[slot - 1].size() < cluster.size()) {
    table[slot] = std::move(table[slot - 1]);
    --slot;
  }
  table[slot] = std::move(cluster);
}

// Breadth-first growth of connected contact elements through their shared edges.
template <class ContactList>
void ClusterContacts(TStatus& progress, ContactList& a, std::vector<std::uint8_t>& clustered,
                     std::vector<std::uint8_t>& multi, TClusterTable& clusters) {
  int n = 0;
  while (!a.Empty()) {
    ++n;
    progress.SetPosition(n);
    TCluster cluster;
    TConollyObject1* seed = a.PopFirst();
    cluster.push_back(seed);
    At(clustered, seed->Atom->Number) = 1;
    for (std::size_t l = 0; l < cluster.size(); ++l) {
      const TConollyObject1* member = AsContact(cluster[l]);
      const int atom = member->Atom->Number;
      // All edges at once: their loads overlap instead of following each other.
      for (int i = 1; i <= member->EdgeCount; ++i) __builtin_prefetch(member->Kante(i));
      for (int i = 1; i <= member->EdgeCount; ++i) {
        const TConollyObject2* e = member->Kante(i);
        const int o = CheckedNumber(e->Atom->Number == atom ? e->Atom2 : e->Atom);
        const auto uo = static_cast<std::size_t>(o);
        if (!clustered[uo] && !multi[uo]) {
          const int pos = a.FirstOf(o);
          if (pos >= 0 && HasEdge(*a.At(pos), e)) {
            cluster.push_back(a.At(pos));
            a.RemoveAt(pos);
            clustered[uo] = 1;
          } else {
            ShowError(TErrorCode::ContactPatchNotFound, kUnit, kRoutine, false);
          }
        } else if (multi[uo]) {
          int g = 0;
          int found = -1;
          a.ForEachOf(o, [&](int pos, TConollyObject1* c) {
            ++g;
            if (!HasEdge(*c, e)) return;
            if (found >= 0) RaiseError(TErrorCode::TooManyContactPatches, kUnit, kRoutine);
            found = pos;
            cluster.push_back(c);
            clustered[uo] = 1;
            --g;
          });
          if (found >= 0) {
            a.RemoveAt(found);
            if (g == 0) {
              multi[uo] = 0;
              clustered[uo] = 1;
            }
          }
        }
      }
    }
    InsertBySize(clusters, std::move(cluster));
  }
}

// A part whose closest atoms to slot 1 are farther apart than the surfaces
// around them allow is another piece of the outside, not a cavity.
template <bool Fast>
void JoinSeparateParts(const TModelConstants& model, TClusterTable& clusters, bool join, std::int32_t& separateParts) {
  separateParts = 1;
  // The index over slot 1, grown by every part joined to it.
  std::optional<detail::ContactIndex> slotOne;
  std::size_t k = 1;  // slot k + 1
  while (k < clusters.size()) {
    if (Fast && !slotOne) slotOne.emplace(model, clusters[0]);
    TAtom* p = nullptr;
    TAtom* q = nullptr;
    const long double d = Fast ? detail::ClosestContactIndexed(*slotOne, clusters[k], p, q)
                               : ClosestContact(&clusters[0], &clusters[k], p, q);
    if (!p || !q) {
      ++k;
      continue;
    }
    const long double h = d - model.Radius(*p) - model.Radius(*q);
    const long double i1 = Fast ? detail::MinClearanceIndexed(*slotOne, *q) : MinClearance(model, &clusters[0], *q);
    const long double i2 =
        Fast ? detail::MinClearancePruned(model, clusters[k], *p) : MinClearance(model, &clusters[k], *p);
    const long double clearance = i2 > i1 ? i2 : i1;
    if (h > clearance - 0.3L) {
      ++separateParts;
      ProgramLog().LogLine("Connolly-Clustern ergibt mehrere getrennte Elemente :");
      ProgramLog().LogLine(std::to_string(k + 1) + " " + detail::GeneralFloat(h) + " " +
                           detail::GeneralFloat(clearance));
      if (join) {
        if (slotOne) slotOne->Append(clusters[k]);
        clusters[0].insert(clusters[0].end(), clusters[k].begin(), clusters[k].end());
        clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(k));
        continue;
      }
    }
    ++k;
  }
}

void ReportMissing(const TRunContext& run, const std::string& what, int a, int b, int c) {
  run.Report("Connolly-Clustern: " + what + " not found for atoms " + std::to_string(a) + " " + std::to_string(b) +
             (c > 0 ? " " + std::to_string(c) : std::string()));
}

// The concave element at the arc end `point` of the saddle (a, b) ended by atom third.
void TakeConcave(const TRunContext& run, const TAtomElementLists& atomElements, int a, int b, int third,
                 const TCoord& point, RestList& rest, TCluster& cluster) {
  if (HasRow(atomElements, a)) {
    for (TConollyObject* el : At(atomElements, a)) {
      if (el->Kind != kConcavePatch) continue;
      const auto* c3 = static_cast<const TConollyObject3*>(el);
      if (c3->Atom->Number != a || c3->Atom2->Number != b || c3->Atom3->Number != third) continue;
      if (SquaredDistance(c3->ProbeCenter, point) >= 1e-5L) continue;
      if (rest.Take(el))
        cluster.push_back(el);
      else
        ReportMissing(run, "unassigned concave element", a, b, third);
      return;
    }
  }
  // The construction guarantees the element; a missing one stays with the outer surface.
  ReportMissing(run, "concave element", a, b, third);
}

// Each saddle goes with the cluster of its first atom's contact element; each
// concave element with the saddle between its two lowest-numbered atoms.
void AssignSaddlesAndConcave(const TRunContext& run, const TAtomElementLists& atomElements, TClusterTable& clusters,
                             RestList& rest) {
  for (std::size_t k = 1; k < clusters.size(); ++k) {
    TCluster& cluster = clusters[k];
    const std::size_t contacts = cluster.size();
    for (std::size_t c = 0; c < contacts; ++c) {
      const TConollyObject1* contact = AsContact(cluster[c]);
      const int a = contact->Atom->Number;
      for (int i = 1; i <= contact->EdgeCount; ++i) {
        TConollyObject2* e = contact->Kante(i);
        if (e->Atom->Number != a) continue;
        const int b = e->Atom2->Number;
        if (!rest.Take(e)) {
          ReportMissing(run, "saddle element", a, b, 0);
          continue;
        }
        cluster.push_back(e);
        if (!e->StartAtom || !e->EndAtom) continue;
        const int s = e->StartAtom->Number;
        const int t = e->EndAtom->Number;
        if (!(b < s || b < t)) continue;
        TCoord start, end;
        e->ArcEnds(start, end);
        if (b < s) TakeConcave(run, atomElements, a, b, s, start, rest, cluster);
        if (b < t) TakeConcave(run, atomElements, a, b, t, end, rest, cluster);
      }
    }
  }
}

template <bool Fast>
void ClusterConollyImpl(TRunContext& run, const TAtomElementLists& atomElements, const TElementList& elements,
                        bool join, TClusterTable& clusters, std::int32_t& separateParts) {
  TStatus& progress = run.Progress;
  progress.StageName = "clustern ";
  progress.Total = 0;
  progress.SetPosition(0);
  clusters.clear();
  separateParts = 1;

  std::vector<TConollyObject1*> contacts;
  RestList rest;
  rest.Reserve(elements.size());
  // The elements lie scattered on the heap: ask for them a little ahead.
  constexpr std::size_t kAhead = 16;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (i + kAhead < elements.size()) __builtin_prefetch(elements[i + kAhead].get());
    TConollyObject* e = elements[i].get();
    if (e->Kind == kContactPatch)
      contacts.push_back(AsContact(e));
    else
      rest.Append(e);
  }
  int top = 0;
  for (const TConollyObject1* c : contacts) top = std::max(top, CheckedNumber(c->Atom));
  const auto size = static_cast<std::size_t>(top) + 1;
  std::vector<std::uint8_t> hasContact(size, 0), multi(size, 0), clustered(size, 0);
  for (const TConollyObject1* c : contacts) {
    const auto n = static_cast<std::size_t>(CheckedNumber(c->Atom));
    if (hasContact[n])
      multi[n] = 1;
    else
      hasContact[n] = 1;
  }
  if constexpr (Fast) {
    IndexedContacts a(std::move(contacts));
    ClusterContacts(progress, a, clustered, multi, clusters);
  } else {
    ScannedContacts a(std::move(contacts));
    ClusterContacts(progress, a, clustered, multi, clusters);
  }

  JoinSeparateParts<Fast>(run.Model, clusters, join, separateParts);
  AssignSaddlesAndConcave(run, atomElements, clusters, rest);
  // What is left belongs to the outer surface.
  if (clusters.empty() && !rest.Empty()) clusters.emplace_back();
  rest.ForEachRemaining([&](TConollyObject* e) { clusters[0].push_back(e); });

  progress.StageName = "";
  progress.SetPosition(0);
}

void RemoveFromAtomList(TAtomElementLists& atomElements, const TAtom* atom, const TConollyObject* e) {
  const int n = atom->Number;
  if (n < 1) RaiseLimit("atom number " + std::to_string(n) + " outside the per-atom element lists");
  if (!HasRow(atomElements, n)) return;
  auto& list = At(atomElements, n);
  const auto it = std::find(list.begin(), list.end(), e);
  if (it != list.end()) list.erase(it);
}

void RemoveFromAtomLists(TAtomElementLists& atomElements, const TConollyObject* e) {
  RemoveFromAtomList(atomElements, e->Atom, e);
  if (e->Kind == kSaddlePatch) {
    RemoveFromAtomList(atomElements, static_cast<const TConollyObject2*>(e)->Atom2, e);
  } else if (e->Kind == kConcavePatch) {
    const auto* c3 = static_cast<const TConollyObject3*>(e);
    RemoveFromAtomList(atomElements, c3->Atom2, e);
    RemoveFromAtomList(atomElements, c3->Atom3, e);
  }
}

// Moves every cluster but the largest out of the surface, one hole per cluster in slot order.
THoleTable ExtractHoles(TAtomElementLists& atomElements, TElementList& elements, const TClusterTable& clusters) {
  THoleTable holes;
  if (clusters.empty()) return holes;
  std::size_t largest = 0;
  for (std::size_t j = 1; j < clusters.size(); ++j)
    if (clusters[j].size() > clusters[largest].size()) largest = j;

  std::unordered_map<const TConollyObject*, std::pair<std::size_t, std::size_t>> target;
  for (std::size_t j = 0; j < clusters.size(); ++j) {
    if (j == largest) continue;
    holes.emplace_back(clusters[j].size());
    for (std::size_t pos = 0; pos < clusters[j].size(); ++pos) {
      const TConollyObject* e = clusters[j][pos];
      RemoveFromAtomLists(atomElements, e);
      target.emplace(e, std::make_pair(holes.size() - 1, pos));
    }
  }
  if (target.empty()) return holes;
  // One pass hands the elements over and keeps the order of the rest, as
  // deleting them one by one would.
  std::size_t keep = 0;
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const auto it = target.find(elements[i].get());
    if (it != target.end()) {
      holes[it->second.first][it->second.second] = std::move(elements[i]);
    } else {
      if (keep != i) elements[keep] = std::move(elements[i]);
      ++keep;
    }
  }
  elements.resize(keep);
  for (auto& hole : holes)
    hole.erase(std::remove(hole.begin(), hole.end(), nullptr), hole.end());
  for (auto& list : atomElements)
    if (list.empty()) std::vector<TConollyObject*>().swap(list);
  return holes;
}

}  // namespace

namespace detail {

std::string GeneralFloat(long double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15Lg", value);
  std::string s(buf);
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  std::string digits = s.substr(e + 2);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  return s.substr(0, e) + "E" + (s[e + 1] == '-' ? "-" : "") + digits;
}

void ClusterConollyLinearScan(TRunContext& run, const TAtomElementLists& atomElements, const TElementList& elements,
                              bool join, TClusterTable& clusters, std::int32_t& separateParts) {
  ClusterConollyImpl<false>(run, atomElements, elements, join, clusters, separateParts);
}

ContactIndex::ContactIndex(const TModelConstants& model, const TCluster& list) : model_(&model) { Append(list); }

void ContactIndex::Append(const TCluster& list) {
  const std::size_t first = entries_.size();
  for (TConollyObject* e : list)
    if (e->Kind == kContactPatch) {
      entries_.push_back({e, e->Atom, *e->Atom});
      maxRadius_ = std::max(maxRadius_, model_->Radius(*e->Atom));
    }
  if (entries_.size() == first) return;
  // Trailing trees no larger than the entries to build are merged into their
  // tree; their nodes and positions are the last ones, so they are cut off.
  std::size_t start = first;
  while (!trees_.empty() &&
         start - static_cast<std::size_t>(trees_.back().FirstEntry) <= entries_.size() - start) {
    start = static_cast<std::size_t>(trees_.back().FirstEntry);
    nodes_.resize(static_cast<std::size_t>(trees_.back().Root));
    trees_.pop_back();
  }
  BuildTree(start);
}

void ContactIndex::BuildTree(std::size_t firstEntry) {
  // The tree is built over copies of the centres with their entry positions,
  // side by side, so that partitioning reads no scattered atoms.
  std::vector<TBuildItem> items(entries_.size() - firstEntry);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TCoord& c = entries_[firstEntry + i].At;
    items[i] = {{c.X, c.Y, c.Z}, static_cast<int>(firstEntry + i)};
  }
  nodes_.reserve(nodes_.size() + 2 * items.size() / kLeafSize + 2);
  const int offset = static_cast<int>(firstEntry);
  trees_.push_back({Build(0, static_cast<int>(items.size()), items, offset), offset});
  order_.resize(entries_.size());
  for (std::size_t k = 0; k < items.size(); ++k) order_[firstEntry + k] = items[k].Entry;
}

int ContactIndex::Build(int begin, int end, std::vector<TBuildItem>& items, int offset) {
  const int id = static_cast<int>(nodes_.size());
  nodes_.push_back({});
  Node node;
  node.Begin = offset + begin;
  node.End = offset + end;
  const TBuildItem& a0 = items[static_cast<std::size_t>(begin)];
  for (int d = 0; d < 3; ++d) node.Lo[d] = node.Hi[d] = a0.C[d];
  for (int k = begin; k < end; ++k) {
    const TBuildItem& a = items[static_cast<std::size_t>(k)];
    for (int d = 0; d < 3; ++d) {
      node.Lo[d] = std::min(node.Lo[d], a.C[d]);
      node.Hi[d] = std::max(node.Hi[d], a.C[d]);
    }
  }
  if (end - begin > kLeafSize) {
    int axis = 0;
    for (int d = 1; d < 3; ++d)
      if (node.Hi[d] - node.Lo[d] > node.Hi[axis] - node.Lo[axis]) axis = d;
    const int mid = begin + (end - begin) / 2;
    const auto ax = static_cast<std::size_t>(axis);
    std::nth_element(items.begin() + begin, items.begin() + mid, items.begin() + end,
                     [ax](const TBuildItem& i, const TBuildItem& j) {
                       return i.C[ax] < j.C[ax] || (i.C[ax] == j.C[ax] && i.Entry < j.Entry);
                     });
    node.Left = Build(begin, mid, items, offset);
    node.Right = Build(mid, end, items, offset);
  }
  nodes_[static_cast<std::size_t>(id)] = node;
  return id;
}

// Computed from coordinate gaps no larger than those of any atom in the box,
// so it never exceeds the computed squared distance of such an atom.
long double ContactIndex::BoxDistance2(const Node& node, const TCoord& point) {
  const float x[3] = {point.X, point.Y, point.Z};
  long double sum = 0;
  for (int d = 0; d < 3; ++d) {
    long double g = 0;
    if (x[d] < node.Lo[d]) g = static_cast<long double>(node.Lo[d]) - x[d];
    if (x[d] > node.Hi[d]) g = static_cast<long double>(x[d]) - node.Hi[d];
    sum += g * g;
  }
  return sum;
}

template <class Visit, class Limit>
void ContactIndex::Search(const TCoord& point, Visit&& visit, Limit&& limit) const {
  std::vector<std::pair<long double, int>> stack;
  // The first tree is pushed last, so it is searched first.
  for (auto t = trees_.rbegin(); t != trees_.rend(); ++t)
    stack.emplace_back(BoxDistance2(nodes_[static_cast<std::size_t>(t->Root)], point), t->Root);
  while (!stack.empty()) {
    const auto [d2, id] = stack.back();
    stack.pop_back();
    if (d2 > limit()) continue;
    const Node& node = nodes_[static_cast<std::size_t>(id)];
    if (node.Left < 0) {
      for (int k = node.Begin; k < node.End; ++k) visit(static_cast<std::size_t>(order_[static_cast<std::size_t>(k)]));
      continue;
    }
    // The nearer child is searched first, so the limit shrinks early.
    const long double dl = BoxDistance2(nodes_[static_cast<std::size_t>(node.Left)], point);
    const long double dr = BoxDistance2(nodes_[static_cast<std::size_t>(node.Right)], point);
    if (dl <= dr) {
      stack.emplace_back(dr, node.Right);
      stack.emplace_back(dl, node.Left);
    } else {
      stack.emplace_back(dl, node.Left);
      stack.emplace_back(dr, node.Right);
    }
  }
}

long double ClosestContactIndexed(const ContactIndex& index, const TCluster& second, TAtom*& p, TAtom*& q) {
  p = nullptr;
  q = nullptr;
  std::vector<TAtom*> to;
  for (TConollyObject* e : second)
    if (e->Kind == kContactPatch) to.push_back(e->Atom);
  const auto& from = index.Entries();
  if (from.empty() || to.empty()) return std::sqrt(1e9L);
  // Minimum of (squared distance, position in the first list, position in the
  // second), compared in that order: the pair that the plain double loop with
  // its strict comparison keeps. Boxes farther than the current minimum are
  // skipped; equal ones are searched, so ties are still seen.
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  long double best = 1e9L;
  std::size_t bestI = kNone, bestJ = 0;
  for (std::size_t j = 0; j < to.size(); ++j) {
    const TAtom& b = *to[j];
    index.Search(
        b,
        [&](std::size_t i) {
          const long double v = SquaredDistance(from[i].At, b);
          if (v < best || (v == best && bestI != kNone && i < bestI)) {
            best = v;
            bestI = i;
            bestJ = j;
          }
        },
        [&] { return best; });
  }
  if (bestI == kNone) return std::sqrt(best);
  p = from[bestI].Atom;
  q = to[bestJ];
  return std::sqrt(best);
}

long double ClosestContactIndexed(const TModelConstants& model, const TCluster& first, const TCluster& second,
                                  TAtom*& p, TAtom*& q) {
  return ClosestContactIndexed(ContactIndex(model, first), second, p, q);
}

// A contact patch lies on its atom sphere (its edge contact points within 1e-4
// of it), so | |point - centre| - R | - radius bounds its PatchDistance from
// below; the margin covers the rounding of that bound.
double ClearanceBound(const TModelConstants& model, const TAtom& atom, double radius, const TAtom& owner) {
  const double d = static_cast<double>(std::sqrt(SquaredDistance(atom, owner)));
  return std::fabs(d - model.Radius(owner)) - radius - 1e-3;
}

double MinClearanceIndexed(const ContactIndex& index, const TAtom& atom) {
  const TModelConstants& model = index.Model();
  const double radius = model.Radius(atom);
  double best = 1000.0;
  const auto& entries = index.Entries();
  index.Search(
      atom,
      [&](std::size_t i) {
        if (!(ClearanceBound(model, atom, radius, *entries[i].Atom) < best)) return;
        const double v = entries[i].Element->PatchDistance(model, atom, radius);
        if (v < best) best = v;
      },
      // A box farther than best + R + radius (with the bound's margin and one
      // more for rounding) holds no patch whose lower bound is below best.
      [&] {
        const long double t = static_cast<long double>(best) + index.MaxRadius() + radius + 2e-3L;
        return t < 0 ? -1.0L : t * t;
      });
  return best;
}

double MinClearancePruned(const TModelConstants& model, const TCluster& list, const TAtom& atom) {
  const double radius = model.Radius(atom);
  std::vector<std::pair<double, const TConollyObject*>> bounds;
  for (const TConollyObject* e : list)
    if (e->Kind == kContactPatch) bounds.emplace_back(ClearanceBound(model, atom, radius, *e->Atom), e);
  if (bounds.empty()) return 1000.0;
  std::size_t m = 0;
  for (std::size_t i = 1; i < bounds.size(); ++i)
    if (bounds[i].first < bounds[m].first) m = i;
  double best = 1000.0;
  const double first = bounds[m].second->PatchDistance(model, atom, radius);
  if (first < best) best = first;
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    if (i == m || !(bounds[i].first < best)) continue;
    const double v = bounds[i].second->PatchDistance(model, atom, radius);
    if (v < best) best = v;
  }
  return best;
}

}  // namespace detail

void ClusterConolly(TRunContext& run, const TAtomElementLists& atomElements, const TElementList& elements, bool join,
                    TClusterTable& clusters, std::int32_t& separateParts) {
  ClusterConollyImpl<true>(run, atomElements, elements, join, clusters, separateParts);
}

double MinClearance(const TModelConstants& model, const TCluster* list, const TAtom& atom) {
  double best = 1000.0;
  if (!list) return best;
  const double radius = model.Radius(atom);
  for (const TConollyObject* e : *list) {
    if (e->Kind != kContactPatch) continue;
    const double v = e->PatchDistance(model, atom, radius);
    if (v < best) best = v;
  }
  return best;
}

long double ClosestContact(const TCluster* first, const TCluster* second, TAtom*& p, TAtom*& q) {
  p = nullptr;
  q = nullptr;
  if (!first || !second) return 1e9L;
  long double best = 1e9L;
  for (TConollyObject* a : *first) {
    if (a->Kind != kContactPatch) continue;
    for (TConollyObject* b : *second) {
      if (b->Kind != kContactPatch) continue;
      const long double v = SquaredDistance(*a->Atom, *b->Atom);
      if (v < best) {
        best = v;
        p = a->Atom;
        q = b->Atom;
      }
    }
  }
  return std::sqrt(best);
}

std::int32_t ClusterHoles(TRunContext& run, TAtomElementLists& atomElements, TElementList& elements, bool join,
                          THoleTable& holes, std::int32_t& separateParts) {
  holes.clear();
  TClusterTable clusters;
  ClusterConolly(run, atomElements, elements, join, clusters, separateParts);
  holes = ExtractHoles(atomElements, elements, clusters);
  return static_cast<std::int32_t>(holes.size());
}

void CollectInnerElements(TRunContext& run, TAtomElementLists& atomElements, TElementList& elements, bool join,
                          TElementList& inner, std::int32_t& separateParts) {
  inner.clear();
  TClusterTable clusters;
  ClusterConolly(run, atomElements, elements, join, clusters, separateParts);
  THoleTable holes = ExtractHoles(atomElements, elements, clusters);
  for (auto& hole : holes)
    for (auto& e : hole) inner.push_back(std::move(e));
}

void TClusteredConollyArea::Clear() {
  for (auto& list : AtomElements) std::vector<TConollyObject*>().swap(list);
  Elements.clear();
  InnerElements.clear();
}

std::int32_t TClusteredConollyArea::Compute(TProteinObject& protein, bool withHet, bool join, TSurfaceMemo* memo) {
  // A second Compute without Clear starts from an empty surface instead of adding to the old one.
  for (auto& list : AtomElements) list.clear();
  Elements.clear();
  if (withHet)
    ComputeSurfaceWithHet(protein, AtomElements, Elements, SurfaceStatus, true, memo);
  else
    ComputeSurfaceWithoutHet(protein, AtomElements, Elements, SurfaceStatus, true, memo);
  std::int32_t parts = 1;
  CollectInnerElements(protein.Context, AtomElements, Elements, join, InnerElements, parts);
  return parts;
}

}  // namespace cavitas
