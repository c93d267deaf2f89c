#pragma once
// The analysis object of one run and its pipeline.
#include <string>

#include "cavity/Cluster.h"
#include "cavity/RunReport.h"
#include "model/Protein.h"
#include "surface/ConollyObjects.h"

namespace cavitas {

class TNewContactObject : public TProteinObject {
 public:
  // Runs every stage in the fixed order; stages run only while Status != TRunStatus::Failed, but
  // the time lines, the hole combination and the freeing always happen.
  // structureCardFile, when not empty, receives the structure cards and their
  // CH-SUM card. (The caller owns the object: there is no self-destruction.)
  void Run(const std::string& inputFile, const std::string& logFile, bool writeOutput,
           const std::string& outputFile, const std::string& structureCardFile = "");
  // Moves the crystal waters that lie inside the protein into the hetero atoms.
  virtual void FindInnerWater();

  // Set before Run: Run measures every hole and both outer surfaces into Report
  // (for the JSON and viewer files). The part counts and stage times are kept
  // in any case.
  bool MeasureHoles = false;
  TRunReport Report;

 private:
  // One surface pass and its holes (too many elements turns into status Failed).
  void SurfacePass(bool withHet, TSurface& surface, THoleTable& holes, std::int32_t& holeCount,
                   std::int32_t& parts);

  TSurfaceMemo surfaceMemo_;  // carried from each surface construction of the run to the next
};

}  // namespace cavitas
