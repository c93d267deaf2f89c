#pragma once
// The mmCIF (PDBx) reader: the atom sites of the first model as the same
// decoded records the PDB reader gives (author names and numbers, the first
// alternate-location letter, occupancy, B-factor, element symbol), in the
// order of the file, with a TER record where the chain changes; disulphide
// bonds as SSBOND records first; header, compound, source and author lines and
// the resolution taken from their categories into the protein.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/InputRecord.h"
#include "input/PdbReader.h"
#include "model/Protein.h"

namespace cavitas {

// One-character identifiers for chain names of any length, for the fixed
// columns: in order of first appearance an empty name is blank, a name that is
// itself one of A-Z, a-z, 0-9 keeps it, any other name takes the next identifier of that
// sequence no name holds; when none is left they are given again from A on in
// that order, never the identifier of the chain just before.
std::vector<std::pair<std::string, char>> ChainIdentifiers(const std::vector<std::string>& names);

class TCifRecordReader : public TRecordSource {
 public:
  // Parses the text (IoError naming the file when it is not valid mmCIF, or
  // its atom sites lack coordinates or names) and stores the header lines,
  // the resolution, the model count and the chain identifiers in the protein.
  TCifRecordReader(TProteinObject& protein, const TInputText& text);
  ~TCifRecordReader() override;
  void ReadRecord(TPdbLine& line) override;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace cavitas
