#pragma once
// Helpers of the model tests: a run whose report lines are captured and a minimal
// coordinate loader that fills the atom table without the read driver.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "frame/LogFile.h"
#include "model/Protein.h"
#include "model/RunContext.h"

namespace cavitas::testing {

// A run (start-up model) whose report lines go to a temporary log.
class ReportCapture {
 public:
  ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;
  // The lines reported so far (without line ends).
  std::vector<std::string> Lines() const;

 private:
  TempDir dir_;
  TLogFileObject log_;

 public:
  TRunContext Run;
};

// Appends an atom at the next free slot (Number = index).
TAtom& AppendAtom(TProteinObject& p, float x, float y, float z);

// Loads the ATOM records as protein atoms and then the HETATM records as hetero
// atoms of a PDB file (first model only); false when the file cannot be read.
bool LoadCoordinates(const std::string& path, TProteinObject& p);

}  // namespace cavitas::testing
