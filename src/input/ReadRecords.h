#pragma once
// Residue assembly: the record loop of one read, which groups ATOM records into
// residues, validates each residue when it is finished, numbers the atoms,
// places the amide hydrogens and records chain breaks. All working state of a
// read lives in one TProteinReader, owned by ReadProtein for that call.
#include <array>
#include <cstdint>
#include <string>

#include <vector>

#include "model/InputRecord.h"
#include "model/PointIndex.h"
#include "model/Protein.h"
#include "secstruct/ReadState.h"

namespace cavitas {

class TProteinReader {
 public:
  // inputFormat 0 = PDB; 1, 2 = structure-card overview variant; 3 = card variant.
  TProteinReader(TProteinObject& protein, TRecordSource& source, int inputFormat);

  // Reads records until END, a capacity failure or status Failed; then sets the
  // atom counts and runs the end-of-read checks. Keeps protein.ResidueCount current.
  void ReadRecords();

  // Shared with the secondary-structure flag steps (the SS-bond pairs).
  TReadState State;

  // The input line of every stored protein atom, by Number (0 where unknown).
  const std::vector<std::int32_t>& AtomLines() const { return atomLines_; }

 private:
  static constexpr int kSlots = 4;  // indexed by backbone kind: N 0, C 1, O 2, CA 3

  struct TPendingSideAtom {
    std::string Name;
    TCoord Position;
    float Occupancy = 0, BFactor = 0, Volume = 0, ContactVolume = 0;
    std::int32_t GivenNumber = 0, NeighbourCount = 0, NeighbourStart = 0;
    std::int32_t Line = 0;
    std::int32_t Serial = kNoSerial;
  };

  // The residue being assembled; its fields default like a new TBACKBONE.
  struct TPendingResidue {
    std::string ResidueId = "      ";
    std::string ChainName;
    char OneLetter = '!';
    std::string ResidueName = "    ";
    TCoord HPos;
    std::int32_t SideChainStart = 0;
    std::int32_t FirstAtom = 0;
    std::array<TAtom*, kSlots> Slot{};  // null while the slot is free
    std::array<std::int32_t, kSlots> SlotLine{};
    int SideCount = 0;
    std::array<TPendingSideAtom, kMaxSideChainPerResidue> Side;
    // Atoms that coincide with an atom read before them (within 0.001 Å).
    bool CoincidentBackbone = false;  // a backbone atom among them: the residue is ignored
    int CoincidentSide = 0;           // side-chain atoms left out
    std::int32_t CoincidentLine = 0;  // line of the first of them
  };

  void AddAtom(const std::string& name, const TPdbLine& values, std::int32_t givenNumber, std::int32_t further1,
               std::int32_t further2);
  void FinishResidue();
  void CheckSideChainDistances();
  void CheckSideChainCount();
  // Coincident atoms: an atom within 0.001 Å of an atom read before it would
  // make the surfaces degenerate. A side-chain atom is left out; a backbone
  // atom makes the whole residue ignored.
  bool CoincidesWithPending(const TCoord& position) const;
  void NoteCoincident(std::int32_t line, bool backbone);
  bool BackboneCoincidesWithPlaced();
  void LeaveOutPlacedSideAtoms();
  void ReportCoincidentSideAtoms();
  void PlaceAcceptedAtoms(const TBACKBONE& residue);
  void CheckCollapse();
  // Appends a break after residue r unless it is already the last one; false
  // (with status Failed) when the break table is full.
  void RecordBreak(std::int32_t r);
  void FreeBackbone();
  void ResetPending();
  std::string ResidueLabel() const;
  // Allocates atom `counter` with the given values; null (with status Failed) when
  // the atom table is full or the given number does not match.
  TAtom* StoreAtom(const TCoord& position, float occupancy, float bFactor, float volume, float contactVolume,
                   std::int32_t givenNumber, std::int32_t neighbourCount, std::int32_t neighbourStart,
                   std::int32_t line);

  TProteinObject& protein_;
  TRecordSource& source_;
  int inputFormat_;
  TPendingResidue pending_;
  std::int32_t atomCounter_ = 0;
  std::int32_t sideAtomsStored_ = 0;
  std::array<std::int32_t, kRecordKindCount> kindCount_{};
  TPointIndex placed_{kCoincidentCell};  // the atoms of the accepted residues
  int coincidentResidues_ = 0;           // residues ignored as copies of others
  std::vector<std::int32_t> atomLines_;
};

}  // namespace cavitas
