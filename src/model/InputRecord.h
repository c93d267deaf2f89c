#pragma once
// The decoded input record that every record reader hands to the read driver,
// and the interface a record reader implements. It lies below both the input
// readers and the structure-card readers, which produce the same record.
#include <cstdint>
#include <memory>
#include <string>

#include "model/Protein.h"
#include "model/Tables.h"

namespace cavitas {

// Record kinds. Anything the driver does not act on comes back as kOtherRecord.
enum TPdbKind : std::uint8_t {
  kHeaderRecord = 0,
  kCompndRecord = 1,
  kSourceRecord = 2,
  kAuthorRecord = 3,
  kSSBondRecord = 4,
  kAtomRecord = 5,
  kHetAtmRecord = 6,
  kTerRecord = 7,
  kEndRecord = 8,
  kRemarkRecord = 9,
  kModelRecord = 23,
  kEndMdlRecord = 24,
  kOtherRecord = 31,
};
constexpr int kRecordKindCount = 32;

constexpr int kPdbTextLength = 128;

// One decoded record; a reader reuses the same value for every record.
struct TPdbLine {
  std::uint8_t Kind = kOtherRecord;
  std::int32_t Line = 0;  // the input line the record starts on (0 where unknown)
  // Header kinds and REMARK: the record name, the rest of the line (at most 122
  // characters), blanks up to 128 and "." in position 128 for shorter lines.
  std::string Text = std::string(kPdbTextLength, ' ');

  // ATOM and HETATM
  std::int32_t Serial = kNoSerial;   // columns 7-11 as written (decimal or hybrid-36)
  std::string AtomName = "    ";     // columns 13-16
  std::string ResidueName = "    ";  // columns 18-20 and a blank
  char AltLoc = ' ';                 // column 17
  char OneLetter = '-';              // ResidueLetter of the residue name
  std::string ResidueId = "      ";  // columns 23-27 (number, insertion code), then the chain
  // The chain's whole name where the format has longer ones (mmCIF); empty:
  // the one character in ResidueId.
  std::string ChainName;
  float X = 0, Y = 0, Z = 0;
  float Occupancy = 0, BFactor = 0;
  float Volume = 0, ContactVolume = 0;  // carried by structure files; 0 for PDB
  // What programs write beside the coordinates: the segment identifier
  // (columns 73-76) and the element symbol (columns 77-78); blank when absent.
  std::string Segment = "    ";
  std::string Element = "  ";
  // Carried by structure files only (0 for PDB): the atom's own number and its
  // neighbour entries in its element's list.
  std::int32_t GivenNumber = 0;
  std::int32_t NeighbourCount = 0;
  std::int32_t NeighbourStart = 0;

  // SSBOND: residue number with insertion code, then chain, of both residues.
  std::string Bond1 = "      ";
  std::string Bond2 = "      ";
};

// The hetero atom of a decoded ATOM or HETATM record: its names, place and
// factors, its atom classified by name as an element. The caller numbers it.
inline std::unique_ptr<THetAtom> HetAtomOf(const TPdbLine& line) {
  auto het = std::make_unique<THetAtom>();
  het->ResNumber = line.ResidueId.substr(0, 5);
  het->Chain = line.ResidueId[5];
  het->ResName = line.ResidueName;
  het->AtomName = line.AtomName;
  het->AltLoc = line.AltLoc;
  het->ChainName = line.ChainName;
  het->Line = line.Line;
  het->OwnedAtom = std::make_unique<TAtom>();
  het->Atom = het->OwnedAtom.get();
  TAtom& atom = *het->Atom;
  atom.X = line.X;
  atom.Y = line.Y;
  atom.Z = line.Z;
  atom.Occupancy = line.Occupancy;
  atom.BFactor = line.BFactor;
  atom.Serial = line.Serial;
  ClassifyHetAtom(line.AtomName, atom.RadiusType, atom.AtomCode);
  return het;
}

// A reader of one input format: each call consumes one record and decodes it
// into `line`; at the end of the input it returns kEndRecord (again on every
// later call). Header lines, hetero atoms, waters and format-specific cards are
// stored into the protein by the reader itself, as the PDB reader does.
class TRecordSource {
 public:
  virtual ~TRecordSource() = default;
  virtual void ReadRecord(TPdbLine& line) = 0;
  // Structure files declare how many residues and protein atoms they hold; the
  // driver compares them with what it assembled. PDB input declares nothing.
  virtual bool DeclaredCounts(std::int32_t& residues, std::int32_t& proteinAtoms) const {
    (void)residues;
    (void)proteinAtoms;
    return false;
  }
  // Called once after the record loop, however it ended: a source that sums
  // up what it did to the records (see TNormalisingSource) reports it here.
  virtual void EndOfRead() {}
};

}  // namespace cavitas
