#pragma once
// The two record readers of structure-card files. The read driver calls one of
// them once per record, exactly as it calls the PDB reader: each call consumes
// one card, stores what the card carries in the protein object and hands back
// the record kinds the driver acts on (text lines, SSBOND, ATOM, TER, END,
// MODEL, ENDMDL); every other card comes back as kOtherRecord.
//
// Malformed cards never write outside a table: a card whose element, item or
// entry index lies outside its table is dropped with a report line; an atom
// line that cannot belong to any element sets status Failed and ends the read.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/InputRecord.h"
#include "model/Protein.h"

namespace cavitas {

// Report of every atom line that does not fit the element sequence.
inline constexpr const char* kStructureReadError = "Error in reading Structure";

class TStructureCardReader : public TRecordSource {
 public:
  // inputFormat 1, 2: overview variant (entries are integer pairs for 1, atom
  // number and distance for 2); 3: card variant. `text` must outlive the reader.
  TStructureCardReader(TProteinObject& protein, std::string_view text, int inputFormat);

  void ReadRecord(TPdbLine& line) override;
  bool DeclaredCounts(std::int32_t& residues, std::int32_t& proteinAtoms) const override;

  void ReadStructureCard(TPdbLine& line);
  void ReadOverviewCard(TPdbLine& line);

 private:
  // Skips to the start of the next card; false at the end of the text.
  bool NextCardStart(bool overview);
  // The rest of the current line from the cursor; the line end is consumed.
  std::string_view TakeLine();

  void ReadTextLine(TPdbLine& line, std::string_view card, std::uint8_t kind);
  void ReadSSBond(TPdbLine& line, std::string_view card);
  void ReadResolution(std::string_view card);
  void ReadLength(std::string_view card);
  void ReadCount(std::string_view card, std::int32_t& target, std::int32_t limit);
  void ReadHoleCounts(std::string_view card);
  void ReadSpecialHole(std::string_view card);
  bool ReadSharedCard(TPdbLine& line, std::string_view key, std::string_view card);
  void ReadElementCard(std::string_view card, bool het);
  void ReadSuperElementCard(std::string_view card, bool defined);
  void ReadConnections(std::string_view card);
  void ReadOverview(std::string_view card, bool het);
  // Extended ATOM/HETATM line of the card variant.
  void ReadAtomLine(TPdbLine& line, std::string_view card, bool het);
  // Atom line of the overview variant (element code first).
  void ReadOverviewAtomLine(TPdbLine& line, std::string_view card);
  // Element number e becomes the current element (counter restarts when it changes);
  // false with status Failed when e has no row.
  bool SelectElement(std::int64_t e);
  // Free-format neighbour entries after position `pos` of the card, appended to
  // the current element; returns how many were read.
  std::int32_t ReadEntries(std::string_view card, std::size_t& pos, std::int64_t k, bool pairs);
  void FinishAtomRecord(TPdbLine& line, std::string_view card, std::size_t& pos, std::int64_t serial, std::int64_t k,
                        bool pairs, bool het);
  void AddHetAtom(const TPdbLine& values, std::int32_t serial, std::int32_t entryCount, std::int32_t entryStart);
  void StructureError(TPdbLine& line);
  void Reject(const std::string& what, std::string_view card);

  TProteinObject& protein_;
  std::string_view text_;
  std::size_t pos_ = 0;
  bool lineMode_;
  int inputFormat_;
  std::int32_t maxElements_;  // bound of element numbers, from the size of the text

  std::int32_t currentElement_ = 0;
  std::int32_t entryCounter_ = 0;
  // Overview variant: the element cursors of the protein and the hetero
  // elements (the hetero one counts from the last protein element).
  std::int32_t currentProteinElement_ = 0;
  std::int32_t currentHetElement_ = 0;
  std::int32_t expectedResidues_ = 0;
  std::int32_t expectedProteinAtoms_ = 0;
  bool lengthRead_ = false;
  std::int32_t nrElem_ = 0;
  std::int32_t overviewCount_ = 0;
  std::int32_t overview2Count_ = 0;
  std::int32_t hetRecordsRead_ = 0;
};

std::unique_ptr<TRecordSource> OpenStructureCardReader(TProteinObject& protein, std::string_view text,
                                                       int inputFormat);

}  // namespace cavitas
