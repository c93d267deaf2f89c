#pragma once
// The in-memory model of one protein: atoms, residues, hetero atoms, element
// rows, header lines, neighbour lists and the run status.
//
// Indexing: the system's tables are 1-based. Atoms[i] is the atom with Number i
// (Atoms[0] is always null); Residues[i-1] is residue i (use Residue(i));
// SideAtoms[k] and SideAtomNames[k] are side-chain entry k (index 0 unused);
// ElementTable[i] is element row i (row 0 unused).
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "frame/LogFile.h"
#include "model/AtomIndex.h"
#include "model/Geometry.h"
#include "model/Limits.h"
#include "model/PointIndex.h"
#include "model/RunContext.h"
#include "model/RunStatus.h"

namespace cavitas {

// An owning list (the system's TMyCollection) and a non-owning one (TNewCollection).
template <class T>
using TMyCollection = std::vector<std::unique_ptr<T>>;
template <class T>
using TNewCollection = std::vector<T*>;

// The serial of an atom whose input record holds no number in columns 7-11.
constexpr std::int32_t kNoSerial = std::numeric_limits<std::int32_t>::min();

struct TAtom : TCoord {
  std::int32_t Number = 0;          // position in Atoms (1-based)
  std::int32_t NeighbourStart = 0;  // structure-file neighbour entries (0 for PDB)
  std::int32_t NeighbourCount = 0;
  std::uint8_t RadiusType = 0;
  std::int16_t AtomCode = 0;
  std::int32_t ResidueIndex = 0;  // residue in Residues; for hetero atoms the index in HetAtoms
  float Occupancy = 0;
  float BFactor = 0;
  float Volume = 0;
  float ContactVolume = 0;
  std::int32_t Serial = kNoSerial;  // the input's serial number (columns 7-11)
};

// One hetero atom or water oxygen. Its TAtom is owned here until the read
// driver (or the inner-water search) moves it into the atom table; Atom keeps
// pointing to it either way.
struct THetAtom {
  std::string ResNumber = "     ";  // residue number and insertion code, 5 characters
  char Chain = ' ';
  std::string ChainName;  // the whole name where it is longer than Chain (mmCIF); else empty
  std::string ResName = "    ";   // 3 characters and a blank
  std::string AtomName = "    ";  // 4 characters
  char AltLoc = ' ';
  std::int32_t Line = 0;  // input line of its record (0 where unknown)
  TAtom* Atom = nullptr;
  std::unique_ptr<TAtom> OwnedAtom;
};

// A backbone hydrogen bond: partner residue and energy in thousandths of kcal/mol.
struct TBond {
  std::int32_t Partner = 0;
  std::int32_t Energy = 0;
};

struct TBACKBONE {
  explicit TBACKBONE(std::int32_t index = 0) : Index(index) {}

  std::int32_t Index = 0;               // position in Residues, 1-based
  std::string ResidueId = "      ";     // number with insertion code (5), then chain
  std::string ChainName;                // the whole name where it is longer than the chain character; else empty
  char SheetLabel = ' ';
  char OneLetter = '!';
  std::string ResidueName = "    ";     // 3 characters and a blank
  char SSSymbol = ' ';
  char Turn3 = ' ', Turn4 = ' ', Turn5 = ' ';
  char BendMark = ' ';
  char Chirality = ' ';
  char BridgeLabel1 = ' ', BridgeLabel2 = ' ';
  std::int32_t BridgePartner1 = 0, BridgePartner2 = 0;
  std::int32_t Accessibility = 0;
  double CaDihedral = 360;
  double BendAngle = 360;
  TBond NHBond1, NHBond2, COBond1, COBond2;
  TCoord HPos;
  TAtom* AtomN = nullptr;
  TAtom* AtomCA = nullptr;
  TAtom* AtomC = nullptr;
  TAtom* AtomO = nullptr;
  std::int32_t SideChainStart = 0;  // side-chain entries before this residue
  std::int32_t SideChainCount = 0;
  std::int32_t FirstAtom = 0;       // Number of the residue's first atom
};

struct TNachbar {
  TNachbar(std::int32_t a, std::int32_t b) : First(a), Second(b) {}
  std::int32_t First = 0, Second = 0;
};

// One neighbour relation seen from one atom.
struct TNachbarStruktur {
  TNachbarStruktur() = default;
  TNachbarStruktur(std::int32_t atom, double distance) : Atom(atom), Distance(static_cast<float>(distance)) {}
  std::int32_t Atom = 0;  // Number of the neighbour
  float Distance = 0;     // centre distance, Å
  bool operator==(const TNachbarStruktur&) const = default;
};

// The kind of an element row (the numbers are those the dumps print).
enum class TElementKind : std::uint8_t { Helix = 0, Coil = 1, Strand = 2, HetGroup = 3, Water = 4, Unset = 9 };

struct TElementZeile {
  std::int32_t First = 0, Last = 0;  // residue indices, or atom indices for hetero elements
  std::int32_t ConnectedFrom = 0, ConnectedTo = 0;
  std::unique_ptr<std::vector<TNachbarStruktur>> ElementAtoms;  // structure-file neighbour entries
  TElementKind ElementKind = TElementKind::Unset;

  void ResetAtoms() { ElementAtoms = std::make_unique<std::vector<TNachbarStruktur>>(); }
  // Copies everything but the atom list.
  void Assign(const TElementZeile& other) {
    First = other.First;
    Last = other.Last;
    ConnectedFrom = other.ConnectedFrom;
    ConnectedTo = other.ConnectedTo;
    ElementKind = other.ElementKind;
  }
};

struct TSSSEEntry {
  std::int32_t StartResidue = 0, EndResidue = 0, Code = 0;
};

// A super secondary-structure element.
struct TSSSE {
  std::uint8_t EntryCount = 0;
  std::uint8_t SSEKind = 9;  // 0 helix, 1 coil, 2 sheet, 9 unset
  std::array<TSSSEEntry, kMaxSSSEEntries> Entries{};  // Entries[b-1] is entry b
};

struct TSSSECol {
  std::uint16_t Count = 0;
  // Items[k-1] is item k; null where no element was defined.
  TMyCollection<TSSSE> Items;
};

// One text line of at most 120 characters (longer text is cut).
struct TString {
  explicit TString(std::string text) : Text(std::move(text)) {
    if (Text.size() > static_cast<std::size_t>(kMaxTextLength)) Text.resize(kMaxTextLength);
  }
  std::string Text;
};

struct THoleDefinitions {
  std::int32_t Count = 0;
  std::array<std::string, 10> Names{};
  std::int32_t HolesPartlyFilled = 0;
  std::int32_t HolesNotFilled = 0;
  std::int32_t PartlyFilledHolesHetRemoved = 0;
  std::int32_t FilledHolesHetRemoved = 0;
};

// Per-atom neighbour lists of one distance class: item k belongs to the atom with Number k+1.
using TNeighbourLists = std::vector<std::vector<TNachbarStruktur>>;

class TProteinObject : public TLogFileObject {
 public:
  TProteinObject();
  ~TProteinObject() override;

  TBACKBONE& Residue(int i) { return *Residues[static_cast<std::size_t>(i - 1)]; }
  const TBACKBONE& Residue(int i) const { return *Residues[static_cast<std::size_t>(i - 1)]; }
  // Atom i (from 1) or nullptr when the slot is empty or beyond the table.
  TAtom* AtomAt(TAtomIndex i) const { return (i > 0 && HasRow(Atoms, i)) ? At(Atoms, i).get() : nullptr; }
  // Places an atom at slot i (from 1), growing the table as needed.
  void PutAtom(int i, std::unique_ptr<TAtom> atom);
  // Removes and returns the atom of slot i.
  std::unique_ptr<TAtom> TakeAtom(int i);

  // The first problem wins: a warning is recorded only while Status is Good;
  // Failed replaces anything but an earlier Failed.
  void SetWarningStatus(TRunStatus value, const std::string& text) {
    if (Status == TRunStatus::Good) {
      Status = value;
      StatusText = text;
    }
  }
  void SetFatalStatus(const std::string& text) {
    if (Status != TRunStatus::Failed) {
      Status = TRunStatus::Failed;
      StatusText = text;
    }
  }

  // What this analysis runs with: its options, progress and report log.
  TRunContext Context;
  bool AcceptAtoms = true;
  std::int32_t CheckSum = 0;
  std::string FileName = " ";
  TMyCollection<TBACKBONE> Residues;
  std::vector<TAtom*> SideAtoms{nullptr};          // [0] unused
  std::vector<std::string> SideAtomNames{"    "};  // [0] unused
  TMyCollection<THetAtom> HetAtoms;
  std::vector<std::unique_ptr<TAtom>> Atoms;        // [0] unused
  std::vector<TElementZeile> ElementTable;          // [0] unused; rows 1.. as many as written
  // Element row e (1-based); the table grows to hold it, new rows unset.
  TElementZeile& ElementRow(int e);
  std::int32_t ElementCount = 0;
  std::int32_t HetElementCount = 0;
  std::int32_t HoleCountWithHet = 0, HoleCountWithoutHet = 0;
  std::int32_t ProteinAtomCount = 0, AtomCount = 0;
  std::int32_t ResidueCount = 0;
  TRunStatus Status = TRunStatus::Good;
  std::string StatusText = " ";
  TMyCollection<THetAtom> Waters;
  TMyCollection<TString> HeaderLines, CompndLines, SourceLines, AuthorLines, RemarkLines;
  double Resolution = 50.0;
  // Residue indices after which the chain is broken, ascending (the read
  // records them in order, a loaded stream sorts them): NoChainBreak searches.
  std::vector<std::int32_t> ChainBreaks;
  // Atoms the surface construction moved off an exact degeneracy, with their
  // coordinates as read; RestoreDisplacedAtoms (surface) puts them back.
  struct TDisplacedAtom {
    TAtom* Atom;
    TCoord Original;
  };
  std::vector<TDisplacedAtom> DisplacedAtoms;
  bool StreamFlag = false;
  std::unique_ptr<TNeighbourLists> NeighboursNear, NeighboursMid;
  bool LineMode = true;
  bool MultiModel = false;
  std::int32_t SelectedModel = 1;
  // What the input was read as ("PDB", "mmCIF (gzip)", ...); empty before a read.
  std::string InputFormat;
  std::int32_t ModelCount = 0;  // models of the input
  // Chain names of the input with the one-character identifiers the fixed
  // columns carry, in order of first appearance (mmCIF; empty for PDB).
  std::vector<std::pair<std::string, char>> ChainNames;
  std::int32_t DroppedAltLocAtoms = 0;  // protein atoms at a second or later alternate location
  // Written first into the run's log, right after the read empties it (the
  // program, its version and its command line).
  std::vector<std::string> LogHeader;
  std::int32_t LineCount = 0;
  TSSSECol SuperSSE, DefinedSSE;
  THoleDefinitions HoleDefinitions;
};

// Atoms closer than 0.001 Å (squared distance below 1e-6) count as one.
constexpr double kCoincident2 = 1e-6;
constexpr double kCoincidentCell = 1.0;  // cell edge of an index that finds them

// Flags every item lying within 0.001 Å of a point already in `earlier` or of
// an earlier item (flagged or not), and inserts every item into `earlier`
// (ids: positions in the list).
std::vector<bool> FlagCoincidentAtoms(const TMyCollection<THetAtom>& list, TPointIndex& earlier);

// Deletes every hetero atom lying within 0.001 Å of an earlier one, keeping the order of the rest.
void RemoveDuplicateAtoms(TMyCollection<THetAtom>& list);

}  // namespace cavitas

namespace cavitas {
// True when 1 <= a <= b <= ResidueCount and no chain break c satisfies a <= c < b.
bool NoChainBreak(const TProteinObject& protein, int a, int b);
}  // namespace cavitas
