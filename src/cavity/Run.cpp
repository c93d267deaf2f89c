// The pipeline of one run: read, secondary structure, inner waters, the two
// surfaces with their holes, the combined hole list, volumes, structure cards
// and the result file, with the elapsed time of each stage group in the log.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "cavity/ContactObject.h"
#include "cavity/HoleList.h"
#include "cavity/Volume.h"
#include "frame/Allocator.h"
#include "input/ReadProtein.h"
#include "secstruct/SecStruct.h"
#include "structfile/StructureCards.h"

namespace cavitas {

namespace {

// Heap bytes a run needs per atom, about (3o21: 41 MB for 12 800 atoms).
constexpr std::size_t kHeapPerAtom = 3000;

// The current date-time as a count of days.
double Now() {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<double>(us) / 86400000000.0;
}

class TimeLines {
 public:
  explicit TimeLines(TProteinObject& p) : p_(p), start_(Now()), previous_(start_) {}
  // Label, then the milliseconds since the previous mark (or the start),
  // rounded and right-aligned in 20 characters.
  void Line(const char* label, bool fromStart = false, bool advance = true) {
    const double now = Now();
    double ms = now - (fromStart ? start_ : previous_);
    ms = ms * 24;
    ms = ms * 60;
    ms = ms * 60;
    ms = ms * 1000;
    char field[64];
    std::snprintf(field, sizeof field, "%20.0f", ms);
    p_.LogLine(std::string(label) + field);
    if (advance) previous_ = now;
  }

 private:
  TProteinObject& p_;
  double start_, previous_;
};

std::string PartCount(std::int32_t parts) {
  char field[32];
  std::snprintf(field, sizeof field, "%3d", parts);
  return field;
}

}  // namespace

// The wall-clock time of each stage for the report, in milliseconds.
class StageClock {
 public:
  explicit StageClock(std::vector<TStageTime>& stages) : stages_(stages) { stages_.clear(); }
  void Mark(const char* name) {
    const auto now = std::chrono::steady_clock::now();
    stages_.push_back({name, std::chrono::duration<double, std::milli>(now - last_).count()});
    last_ = now;
  }
  void Total() {
    stages_.push_back(
        {"total", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count()});
  }

 private:
  std::vector<TStageTime>& stages_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_ = start_;
};

void TNewContactObject::SurfacePass(bool withHet, TSurface& surface, THoleTable& holes, std::int32_t& holeCount,
                                    std::int32_t& parts) {
  if (Status == TRunStatus::Failed) return;
  if (withHet)
    ComputeSurfaceWithHet(*this, surface, Status, true, &surfaceMemo_);
  else
    ComputeSurfaceWithoutHet(*this, surface, Status, true, &surfaceMemo_);
  if (Status == TRunStatus::TooManyElements) Status = TRunStatus::Failed;  // too many elements: nothing later can use this surface
  if (Status == TRunStatus::Failed) return;
  holeCount = ClusterHoles(Context, surface.AtomElements, surface.Elements, true, holes, parts);
  // Nothing after the clustering reads an atom's elements: the later stages
  // (the other pass, the volume scan) reuse their memory.
  TAtomElementLists().swap(surface.AtomElements);
  if (parts > 1) {
    const std::string text = PartCount(parts) + (withHet ? " disconnected Parts with Hetatoms"
                                                         : " disconnected Parts without Hetatoms");
    LogLine(text);
    RemarkLines.push_back(std::make_unique<TString>((withHet ? "REMARK " : "REMARK   ") + text));
  }
}

void TNewContactObject::Run(const std::string& inputFile, const std::string& logFile, bool writeOutput,
                            const std::string& outputFile, const std::string& structureCardFile) {
  TimeLines time(*this);
  StageClock stages(Report.Stages);
  TCombinedHoleTable holeTable;
  TSurface withHet, withoutHet;
  THoleTable holesWithHet, holesWithoutHet;

  ReadProtein(*this, inputFile, logFile, 0);
  ExpectHeapUse(static_cast<std::size_t>(std::max(AtomCount, 0)) * kHeapPerAtom);
  Context.Log = this;
  if (Status != TRunStatus::Failed) BuildElementList(*this);
  if (Status != TRunStatus::Failed) BuildHetElements(*this);
  time.Line("Initialisierung : ");
  stages.Mark("read");

  if (Status != TRunStatus::Failed) FindInnerWater();
  time.Line("FindInnerWater  : ");
  stages.Mark("inner_water");

  Report.PartsWithHet = Report.PartsWithoutHet = 1;
  SurfacePass(true, withHet, holesWithHet, HoleCountWithHet, Report.PartsWithHet);
  time.Line("Connolly 1      : ");
  stages.Mark("surface_with_hetero");
  surfaceMemo_.KeepForNext = false;  // the last construction of the run
  SurfacePass(false, withoutHet, holesWithoutHet, HoleCountWithoutHet, Report.PartsWithoutHet);
  surfaceMemo_.KeepForNext = true;
  // The surfaces are clustered: later stages read the atoms as they were read.
  RestoreDisplacedAtoms(*this);
  // Only surface constructions read the neighbour lists (one would build
  // them again): the volume scan's peak need not hold them.
  NeighboursNear.reset();
  NeighboursMid.reset();
  stages.Mark("surface_without_hetero");

  CombineHoles(holesWithHet, HoleCountWithHet, holesWithoutHet, HoleCountWithoutHet, holeTable, HoleDefinitions);
  HoleDefinitions.Count = 2;
  HoleDefinitions.Names[0] = "Outside_considering_heteroatoms";
  HoleDefinitions.Names[1] = "Outside_without_considering_heteroatoms";

  if (Status != TRunStatus::Failed) {
    RemarkLines.push_back(
        std::make_unique<TString>("REMARK   volume evaluated according the Voronoi cell method by Tamberlo"));
    ComputeVolumes(*this);
  }
  stages.Mark("volumes");
  if (Status != TRunStatus::Failed && MeasureHoles) {
    MeasureRun(*this, holeTable, withHet.Elements, withoutHet.Elements, Report);
    stages.Mark("measures");
  }
  // CheckSum ends as the result file's checksum when that is written, else as
  // that of the structure cards: the cards are formatted once, for the card
  // file and its checksum together, and not at all when neither needs them.
  if (Status != TRunStatus::Failed) {
    if (!structureCardFile.empty())
      CheckSum = WriteStructureCards(*this, structureCardFile);
    else if (!writeOutput)
      CheckSum = SumStructureCards(*this);
  }
  if (Status != TRunStatus::Failed && writeOutput) WriteFullOutput(*this, holeTable, withHet.Elements, outputFile);
  stages.Mark("result_file");

  // Free the working data in the order of the pipeline: elements, holes, per-atom lists.
  holeTable.clear();
  withHet.Elements.clear();
  holesWithHet.clear();
  withHet.AtomElements.clear();
  withoutHet.Elements.clear();
  holesWithoutHet.clear();
  withoutHet.AtomElements.clear();
  surfaceMemo_.Clear();
  time.Line("Entfernen       : ", false, false);
  time.Line("insgesamt       : ", true, false);
  stages.Total();
}

}  // namespace cavitas
