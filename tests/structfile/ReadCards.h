#pragma once
// Reads a structure-card file the way the read driver does, with the card
// readers as record source (the driver's format switch does not reach them yet).
#include <string>

#include "input/PdbReader.h"
#include "input/ReadRecords.h"
#include "model/Protein.h"
#include "structfile/CardReader.h"

namespace cavitas::testing {

inline void ReadCardFile(TProteinObject& protein, const std::string& file, int format, const std::string& log) {
  protein.SetLogFile(log);
  protein.ClearLog();
  TLogFileObject* previous = CurrentLogTarget;
  CurrentLogTarget = &protein;
  const TInputText text = LoadInputText(file);
  DetectLineMode(protein, text);
  auto source = OpenStructureCardReader(protein, text.Bytes, format);
  protein.ResidueCount = 0;
  TProteinReader reader(protein, *source, format);
  reader.ReadRecords();
  if (protein.Status != 1) {
    if (!protein.ChainBreaks.empty() && protein.ChainBreaks.back() >= protein.ResidueCount) protein.ChainBreaks.pop_back();
    RemoveDuplicateAtoms(protein.HetAtoms);
    std::int32_t number = protein.ProteinAtomCount, index = 0;
    for (const auto& het : protein.HetAtoms) {
      het->Atom->Number = ++number;
      het->Atom->ResidueIndex = ++index;
      protein.PutAtom(number, std::move(het->OwnedAtom));
    }
    protein.AtomCount = number;
  }
  CurrentLogTarget = previous;
}

}  // namespace cavitas::testing
