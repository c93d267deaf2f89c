#pragma once
// The analysis object of one run and its pipeline.
#include <string>

#include "model/Protein.h"

namespace cavitas {

class TNewContactObject : public TProteinObject {
 public:
  // Runs every stage in the fixed order; stages run only while Status != 1, but
  // the time lines, the hole combination and the freeing always happen.
  // (KeepObject of the original interface is dropped: the caller owns the object.)
  void Run(const std::string& inputFile, const std::string& logFile, bool writeOutput,
           const std::string& outputFile);
  virtual void FindInnerWater();
};

}  // namespace cavitas
