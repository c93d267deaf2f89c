#pragma once
// The combined hole list of the surfaces with and without hetero atoms, and
// the result file.
#include <cstdint>
#include <string>
#include <vector>

#include "cavity/Cluster.h"

namespace cavitas {

// Hole k of the result file at [k-1]; refers to hole lists owned by the two
// per-surface tables. At most kMaxHoles entries.
using TCombinedHoleTable = std::vector<const THoleList*>;

// Atom codes 231 and above are hetero atoms (ligands, waters).
constexpr int kFirstHetAtomCode = 231;
inline bool IsHetAtom(const TAtom& atom) { return atom.AtomCode >= kFirstHetAtomCode; }

struct THoleClass {
  bool HasProtein = false;  // some element's first atom is a protein atom
  bool HasHet = false;      // some element's first atom is a hetero atom
};

// The predicates on hole lists (they read element kinds and atoms only).
THoleClass ClassifyHole(const THoleList& hole);
// The three atoms of c1 are, as a set, those of c2.
bool SameTriangle(const TConollyObject3& c1, const TConollyObject3& c2);
// Same element count and the same set of concave triangles.
bool SameHole(const THoleList& h1, const THoleList& h2);
// Every protein triangle of h (concave element of three protein atoms) has a partner in w.
bool CoversHole(const THoleList& h, const THoleList& w);
std::int32_t ProteinTriangleCount(const THoleList& h);
// Smallest index i in 1..n of table with SameHole(h, table[i]); 0 if none.
std::int32_t FindIdenticalHole(const THoleList& h, const THoleTable& table, std::int32_t n);
// Smallest index i in 1..n with CoversHole(h, table[i]) (0 if none); more tells whether another follows it.
std::int32_t FindCoveringHole(const THoleList& h, const THoleTable& table, std::int32_t n, bool& more);
// The same over start+1..n.
std::int32_t FindNextCoveringHole(const THoleList& h, const THoleTable& table, std::int32_t n, std::int32_t start,
                                  bool& more);

// Fills holeTable in four groups and sets the four counters of defs: holes
// partly filled by hetero atoms, holes not filled, the holes without hetero
// atoms that cover the protein part of a partly filled hole, and the remaining
// holes without hetero atoms (completely filled ones). More than 800 holes in
// all: RaiseLimit.
void CombineHoles(const THoleTable& holesWithHet, std::int32_t holeCountWithHet, const THoleTable& holesWithoutHet,
                  std::int32_t holeCountWithoutHet, TCombinedHoleTable& holeTable, THoleDefinitions& defs);

// Writes the result file (header lines, remarks, summary cards, one line per
// hole, one line per atom with its volumes and surface flag, END, CH-SUM) and
// stores its checksum in protein.CheckSum. outerElements is the outer surface
// built with hetero atoms. With status Failed it only reports StatusText. Throws
// IoError when the file cannot be written.
void WriteFullOutput(TProteinObject& protein, const TCombinedHoleTable& holeTable, const TElementList& outerElements,
                     const std::string& fileName);

// The "HOLE NUMBER" line of hole k: the numbers of the atoms with a contact
// element in the hole, ascending, those above atomCount left out.
std::string HoleNumberLine(std::int32_t k, const THoleList& hole, std::int32_t atomCount);

}  // namespace cavitas
