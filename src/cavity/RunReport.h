#pragma once
// What a run keeps for the outputs beside the result file (the JSON file and
// the viewer files): the measures of every hole and of both outer surfaces,
// the surface flags, the part counts and the time of each stage, and the
// names under which atoms and residues are shown.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cavity/HoleList.h"
#include "cavity/HoleMeasures.h"
#include "model/Protein.h"

namespace cavitas {

// The four groups of the combined hole table, in their order.
enum class THoleGroup : std::uint8_t { PartlyFilled = 1, Empty = 2, PartlyFilledHetRemoved = 3, FilledHetRemoved = 4 };
// "partly_filled", "empty", "partly_filled_hets_removed", "filled_hets_removed".
const char* HoleGroupName(THoleGroup group);
// The group of hole k (1-based) of the combined table.
THoleGroup HoleGroupOf(std::int32_t k, const THoleDefinitions& defs);

struct THoleReport {
  std::int32_t Number = 0;  // in the result file
  THoleGroup Group = THoleGroup::Empty;
  std::vector<std::int32_t> LiningAtoms;  // atom numbers, ascending: those of its HOLE NUMBER line
  TSurfaceMeasures Measures;
  std::vector<TCoord> ShapePoints;  // probe centres on the boundary of its probe-centre region
};

struct TStageTime {
  std::string Name;
  double Milliseconds = 0;
};

struct TRunReport {
  std::vector<THoleReport> Holes;
  TSurfaceMeasures OuterWithHet, OuterWithoutHet;
  // Index atom Number: 1 when the atom has a contact patch on the outer surface
  // built with hetero atoms (the result file's surface flag "0").
  std::vector<std::uint8_t> OnOuterSurface;
  std::int32_t PartsWithHet = 1, PartsWithoutHet = 1;
  std::vector<TStageTime> Stages;
};

// Fills the hole reports and the outer measures; outerWithHet and
// outerWithoutHet are the outer surfaces left after the clustering.
void MeasureRun(const TProteinObject& protein, const TCombinedHoleTable& holeTable, const TElementList& outerWithHet,
                const TElementList& outerWithoutHet, TRunReport& report);

// Probe positions that outline a cavity: the probe centres of its concave
// patches, points along its saddle arcs (at most about 0.7 Å apart) and the
// centre of each face of its probe-centre region. Balls of the probe radius
// around them fill the cavity's shape.
std::vector<TCoord> CavityShapePoints(const TModelConstants& model, const THoleList& hole);

// Names of residues and atoms as the input gave them.
struct TResidueLabel {
  std::string Chain;            // the one character of the fixed columns ("" for a blank chain)
  std::string ChainName;        // the chain's whole name as read (mmCIF names can be longer)
  std::string Name;             // residue name, trimmed
  std::string Number;           // residue number as written, trimmed
  std::string InsertionCode;    // "" or one character
  bool Hetero = false;          // a hetero group or a water (not a residue of the chain)
  std::int32_t ProteinIndex = 0;  // 1-based index in Residues, 0 for hetero groups
  std::vector<std::int32_t> Atoms;  // atom numbers
};
struct TAtomLabel {
  std::string Name;     // 4 characters as written in columns 13-16
  std::string Element;  // from the name: one or two letters, upper case
  std::int32_t Residue = -1;  // index in TStructureLabels::Residues
};
struct TStructureLabels {
  std::vector<TResidueLabel> Residues;  // protein residues in order, then hetero groups in atom order
  std::vector<TAtomLabel> Atoms;        // index atom Number ([0] unused)
};
TStructureLabels LabelStructure(const TProteinObject& protein);

// The element symbol a PDB atom name implies (columns 13-14).
std::string ElementOfAtomName(const std::string& name, bool hetero);

// A per-atom volume exactly as the result file prints it: F(v, 7, 2), whose
// width also bounds the significant digits.
double PrintedVolume(float v);

// Inner-water groups: the atom numbers of each water element, in element order.
std::vector<std::vector<std::int32_t>> InnerWaterGroups(const TProteinObject& protein);

}  // namespace cavitas
