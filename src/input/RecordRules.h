#pragma once
// Structures as other programs write them, made readable by the residue
// assembly: hydrogens and membrane markers dropped, force-field names mapped
// to the standard ones, segments kept apart as chains, selenomethionine read as
// methionine, and ATOM records of residues that are not amino acids taken as
// hetero atoms. Every rule acts on decoded records (TPdbLine), so any reader
// of coordinate files shares them by wrapping itself in a TNormalisingSource.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "model/InputRecord.h"
#include "model/Protein.h"

namespace cavitas {

// The element symbol of columns 77-78, upper case, when they hold one or two
// letters (right or left aligned); empty otherwise (absent, or not a symbol).
std::string ElementSymbol(const TPdbLine& line);

// Hydrogen or deuterium: the element symbol says H or D; without a symbol the
// name decides, by the old rule (a blank or 1-3, then D, H or Q) in both
// record kinds, and in ATOM records also any name that starts with H or D in
// column 13 (HG21, HD13, HN, HT1, H1 written from column 13). A HETATM named
// HG or HO without a symbol stays an atom (mercury, holmium).
bool IsHydrogenRecord(const TPdbLine& line);

// A pseudo-atom marking a membrane plane (residue DUM).
bool IsMembraneMarker(const TPdbLine& line);

// The residue is read as a hetero group (or water) when it comes in ATOM
// records: its name is not one of an amino acid of the chain.
bool TakenAsHetero(const TPdbLine& line);

// Maps force-field residue and atom names to the standard ones in place
// (histidine, cysteine, aspartate, glutamate and lysine variants, ILE CD,
// the terminal oxygens OT1/OT2 and OC1/OC2, the water names and the water
// oxygen). Each mapping applied is added to `applied` as "FROM -> TO".
void MapForceFieldNames(TPdbLine& line, std::vector<std::string>& applied);

// Chain letters for the segments of records whose chain column is blank, so
// that segments stay apart as chains: only when there are two segments or
// more (a single identifier there is usually the entry's code), in order of
// appearance, A..Z, a..z, 0..9, skipping the letters `chainsUsed` by other
// records. Segments beyond the letters keep the blank chain.
std::map<std::string, char> ChainsForSegments(const std::vector<std::string>& segments, const std::string& chainsUsed);

// Stores a hetero record: a water into Waters, anything else into HetAtoms,
// its atom classified by its name as an element. The atom's Number is the
// count of hetero atoms so far; the read driver renumbers them.
void StoreHetRecord(TProteinObject& protein, const TPdbLine& line);

// Wraps a record reader of coordinate files: applies the rules above to every
// record, holds back the records of a selenomethionine until its backbone is
// known, stores hetero records (HETATM, and ATOM records taken as hetero)
// itself and hands them on as HETATM, which the read driver passes over.
// Dropped records are not handed on. EndOfRead writes one log line each for
// the hydrogens ignored, the name mappings applied and the markers ignored.
class TNormalisingSource : public TRecordSource {
 public:
  // segmentChains: asked for at the first record with a blank chain and a
  // segment identifier, gives what ChainsForSegments gives for the whole
  // input (none: chains as written).
  TNormalisingSource(TProteinObject& protein, std::unique_ptr<TRecordSource> raw,
                     std::function<std::map<std::string, char>()> segmentChains = {});
  void ReadRecord(TPdbLine& line) override;
  bool DeclaredCounts(std::int32_t& residues, std::int32_t& proteinAtoms) const override {
    return raw_->DeclaredCounts(residues, proteinAtoms);
  }
  void EndOfRead() override;

 private:
  // Drops, maps or holds back one raw record.
  void Take(TPdbLine& line);
  // The held-back residue goes on as methionine or, without its full
  // backbone, as the hetero group it was written as.
  void ReleaseSelenomethionine();
  // A record leaving the source: hetero ones are stored first.
  void Emit(TPdbLine& line);
  void KeepSegmentsApart(TPdbLine& line);
  void NoteMapping(const std::string& text);

  TProteinObject& protein_;
  std::unique_ptr<TRecordSource> raw_;
  std::deque<TPdbLine> ready_;
  std::vector<TPdbLine> selenomethionine_;
  std::int64_t hydrogens_ = 0, markers_ = 0;
  std::vector<std::string> mappings_;  // in the order first applied
  std::set<std::string> heteroNames_;  // residue names already reported as hetero
  std::function<std::map<std::string, char>()> surveySegments_;
  bool surveyed_ = false;
  std::map<std::string, char> segmentChains_;
};

}  // namespace cavitas
