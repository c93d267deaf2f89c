#include "input/ReadProtein.h"

#include <filesystem>

#include "frame/LogFile.h"
#include "frame/Status.h"
#include "input/InputChecks.h"
#include "input/InputFormat.h"
#include "input/PdbReader.h"
#include "input/ReadRecords.h"
#include "input/RecordSource.h"
#include "secstruct/SecStruct.h"
#include "structfile/CheckSum.h"

namespace cavitas {

namespace {

// Points the run's report log at the protein for the read and restores the
// previous log and the progress record on every way out, exceptions included.
class TReadScope {
 public:
  explicit TReadScope(TProteinObject& protein) : run_(protein.Context), previous_(run_.Log) { run_.Log = &protein; }
  ~TReadScope() {
    run_.Log = previous_;
    run_.Progress.StageName.clear();
    run_.Progress.Total = 0;
    run_.Progress.SetPosition(0);
  }
  TReadScope(const TReadScope&) = delete;
  TReadScope& operator=(const TReadScope&) = delete;

 private:
  TRunContext& run_;
  TLogFileObject* previous_;
};

void BeginStage(TStatus& progress, const char* name, std::int32_t total) {
  progress.StageName = name;
  progress.Total = total;
  progress.SetPosition(0);
}

// What the read left out of the analysis without it being an error: the
// models after the first and the alternate locations after the first.
void ReportReductions(const TProteinObject& protein) {
  if (protein.ModelCount >= 2)
    protein.Context.Report(std::to_string(protein.ModelCount) + " models in the file; only model " +
                           std::to_string(protein.SelectedModel) + " is analysed");
  if (protein.DroppedAltLocAtoms > 0)
    protein.Context.Report(std::to_string(protein.DroppedAltLocAtoms) +
                           " atoms at a second or later alternate location left out; the first location is analysed");
}

}  // namespace

void ReadProtein(TProteinObject& protein, const std::string& inputFile, const std::string& logFile,
                 int inputFormat) {
  protein.SetLogFile(logFile);
  protein.ClearLog();
  for (const std::string& line : protein.LogHeader) protein.LogLine(line);
  TReadScope scope(protein);

  protein.FileName = std::filesystem::path(inputFile).filename().string();
  protein.AcceptAtoms = true;
  TInputText text = LoadInputText(inputFile);
  TInputKind kind;
  if (inputFormat == 0) {
    kind = DecodeInput(text);
    protein.InputFormat = kind.Name();
  }
  if (kind.Format == TCoordinateFormat::Pdb) {
    DetectLineMode(protein, text);
    if (inputFormat == 0) CountModels(protein, text);
  }
  protein.CheckSum = ReadCheckSumOfText(text.Bytes, protein.Context.Log);

  const std::unique_ptr<TRecordSource> source = OpenRecordSource(protein, text, inputFormat, kind.Format);
  BeginStage(protein.Context.Progress, "einlesen: Zeile ", protein.LineCount);
  protein.ResidueCount = 0;
  TProteinReader reader(protein, *source, inputFormat);
  reader.ReadRecords();
  source->EndOfRead();
  ReportReductions(protein);
  if (protein.Status == TRunStatus::Failed) return;

  if (protein.ResidueCount != static_cast<std::int32_t>(protein.Residues.size())) {
    protein.SetFatalStatus("Fehler beim Einlesen - Falsche Anzahl von Aminosaeuren");
    protein.Context.Report("Fehler beim Einlesen des Proteins");
    return;
  }

  BeginStage(protein.Context.Progress, "chainbreaks ", protein.Context.Progress.Total);
  if (protein.Status != TRunStatus::Failed) {
    if (!NoChainBreak(protein, 1, protein.ResidueCount)) {
      protein.Context.Report(" !!! POLYPEPTIDE CHAIN INTERRUPTED !!!");
      protein.SetWarningStatus(TRunStatus::ChainInterrupted, " !!! POLYPEPTIDE CHAIN INTERRUPTED !!!");
    }
    BeginStage(protein.Context.Progress, "flagsbonds ", protein.Context.Progress.Total);
    FlagSSBonds(protein, reader.State);
    BeginStage(protein.Context.Progress, "flagchirality ", protein.Context.Progress.Total);
    FlagChirality(protein);
    BeginStage(protein.Context.Progress, "flaghydrogenbonds ", protein.ResidueCount);
    FlagHydrogenBonds(protein);
    BeginStage(protein.Context.Progress, "flagbridge ", protein.ResidueCount);
    FlagBridge(protein, reader.State);
  }
  if (protein.Status != TRunStatus::Failed) {
    BeginStage(protein.Context.Progress, "flagturn ", protein.ResidueCount);
    FlagTurn(protein);
  }

  // A break after the last residue is no break.
  if (!protein.ChainBreaks.empty() && protein.ChainBreaks.back() >= protein.ResidueCount)
    protein.ChainBreaks.pop_back();

  RemoveCoincidentHetAtoms(protein);

  // Hetero atoms follow the protein atoms; waters stay outside the atom table.
  std::int32_t number = protein.ProteinAtomCount;
  std::int32_t index = 0;
  for (const auto& het : protein.HetAtoms) {
    ++number;
    ++index;
    het->Atom->Number = number;
    het->Atom->ResidueIndex = index;
    protein.PutAtom(number, std::move(het->OwnedAtom));
  }
  protein.AtomCount = number;
  ReportIsolatedAtoms(protein, reader.AtomLines());
}

}  // namespace cavitas
