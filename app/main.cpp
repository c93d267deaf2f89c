// Entry point: reads the command line, makes the outputs safe to write, runs
// the pipeline once and maps its end to the documented exit statuses.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "cavity/ContactObject.h"
#include "cavity/JsonOutput.h"
#include "cavity/ViewerFiles.h"
#include "frame/Allocator.h"
#include "frame/CommandLine.h"
#include "frame/Error.h"
#include "frame/ExitCodes.h"
#include "frame/LogFile.h"
#include "frame/OutputFiles.h"
#include "frame/Parms.h"
#include "frame/Signals.h"
#include "frame/Threads.h"
#include "model/Radii.h"

namespace {

using namespace cavitas;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void Warn(const std::string& text) { std::cerr << "cavitas: warning: " << text << "\n"; }

// The model constants of the run: the radius set and the exactness the options
// name, with a warning of values it ignores.
TModelConstants ModelOfOptions(const TCommandLine& cl) {
  TModelConstants model;
  if (!cl.RadiusWord.empty()) {
    const std::string word = Lower(cl.RadiusWord);
    if (word != "protor" && word != "stouten") Warn("unknown radius set '" + cl.RadiusWord + "', using STOUTEN");
    model.SelectRadiusSet(word == "protor" ? kProtor : kStouten);
  }
  if (cl.ExactnessText.empty()) return model;
  double exactness = 0;
  if (!ParseDouble(cl.ExactnessText, exactness)) {
    Warn("exactness '" + cl.ExactnessText + "' is not a number; ignored");
  } else if (!model.SetExactness(exactness)) {
    std::ostringstream text;
    text << "exactness " << exactness << " outside (0.0001, 0.9) ignored";
    Warn(text.str());
  }
  return model;
}

// What the read left out, as notes on stderr (the log has the same lines).
void PrintReductions(const TProteinObject& p, const std::string& input) {
  if (p.ModelCount >= 2)
    std::cerr << "cavitas: note: " << input << ": " << p.ModelCount << " models; only model " << p.SelectedModel
              << " is analysed\n";
  if (p.DroppedAltLocAtoms > 0)
    std::cerr << "cavitas: note: " << input << ": " << p.DroppedAltLocAtoms
              << " atoms at a second or later alternate location left out\n";
}

struct TRunEnd {
  TExitCode Code = TExitCode::Success;
  std::string Message;  // for stderr, without the "cavitas: " prefix
  bool LogIt = false;   // the run's log does not say it yet
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The outputs of one run by their index in TOutputFiles (kNone: not asked for).
struct TOutputIndex {
  std::size_t Result = kNone, Log = kNone, Cards = kNone, Json = kNone;
  std::size_t ViewerPdb = kNone, Pymol = kNone, Chimera = kNone;
  std::vector<std::size_t> Results() const {
    std::vector<std::size_t> all;
    for (const std::size_t k : {Result, Cards, Json, ViewerPdb, Pymol, Chimera})
      if (k != kNone) all.push_back(k);
    return all;
  }
};

// The JSON and viewer files of a successful analysis.
void WriteExtraOutputs(const TNewContactObject& object, const std::vector<std::string>& args, const TCommandLine& cl,
                       const TOutputFiles& outputs, const TOutputIndex& k) {
  // The two texts are made side by side; each only reads the finished run.
  std::string json;
  TViewerTexts texts;
  const std::string pdbName = std::filesystem::path(cl.ViewerPrefix + ".pdb").filename().string();
  const auto makeJson = [&] {
    if (k.Json != kNone) json = RunJsonText(object, {ProgramVersion(), args, cl.Input});
  };
  const auto makeViewer = [&] {
    if (k.ViewerPdb != kNone) texts = ViewerTexts(object, ProgramVersion(), pdbName);
  };
  if (k.Json != kNone && k.ViewerPdb != kNone) {
    RunParts(2, [&](int part) { part == 0 ? makeJson() : makeViewer(); });
  } else {
    makeJson();
    makeViewer();
  }
  if (k.Json != kNone) WriteTextFile(json, outputs.WritePath(k.Json), "JSON file");
  if (k.ViewerPdb != kNone) {
    WriteTextFile(texts.Pdb, outputs.WritePath(k.ViewerPdb), "viewer structure file");
    WriteTextFile(texts.Pymol, outputs.WritePath(k.Pymol), "PyMOL script");
    WriteTextFile(texts.Chimera, outputs.WritePath(k.Chimera), "ChimeraX script");
  }
}

TRunEnd RunAnalysis(TNewContactObject& object, const std::vector<std::string>& args, const TCommandLine& cl,
                    const TOutputFiles& outputs, const TOutputIndex& k) {
  try {
    object.Run(cl.Input, outputs.WritePath(k.Log), true, outputs.WritePath(k.Result),
               cl.CardFile.empty() ? std::string() : outputs.WritePath(k.Cards));
    if (object.Status == TRunStatus::Failed) return {TExitCode::FailedRun, cl.Input + ": " + object.StatusText, false};
    WriteExtraOutputs(object, args, cl, outputs, k);
    return {};
  } catch (const FatalError& e) {
    return {ExitCodeOfError(e.Code), FatalErrorLine(e.Code, e.Text), true};
  } catch (const IoError& e) {
    return {TExitCode::FileError, outputs.Explain(e.what()), true};
  } catch (const std::bad_alloc&) {
    return {TExitCode::OutOfMemory, "out of memory", true};
  } catch (const std::exception& e) {
    return {TExitCode::InternalError, std::string("internal error: ") + e.what(), true};
  }
}

// The line a successful run prints on stdout.
std::string SummaryLine(const TNewContactObject& p, const std::string& input, double seconds) {
  const THoleDefinitions& d = p.HoleDefinitions;
  std::int64_t waters = 0;
  for (const auto& g : InnerWaterGroups(p)) waters += static_cast<std::int64_t>(g.size());
  char time[32];
  std::snprintf(time, sizeof time, "%.2f", seconds);
  return input + ": " + std::to_string(p.AtomCount) + " atoms, " + std::to_string(p.ResidueCount) +
         " residues; holes: " + std::to_string(d.HolesPartlyFilled) + " partly_filled, " +
         std::to_string(d.HolesNotFilled) + " empty, " + std::to_string(d.PartlyFilledHolesHetRemoved) +
         " partly_filled_hets_removed, " + std::to_string(d.FilledHolesHetRemoved) + " filled_hets_removed; " +
         std::to_string(waters) + " inner waters; " + time + " s";
}

int Run(const std::vector<std::string>& args) {
  const std::vector<std::string> params(args.begin() + 1, args.end());
  const TCommandLine cl = ParseCommandLine(params);
  switch (cl.Action) {
    case TCommandLine::TAction::Usage:
    case TCommandLine::TAction::Help: std::cout << UsageText(); return ToInt(TExitCode::Success);
    case TCommandLine::TAction::Version: std::cout << "cavitas " << ProgramVersion() << "\n"; return 0;
    default: break;
  }
  for (const std::string& w : cl.Warnings) Warn(w);
  const TModelConstants model = ModelOfOptions(cl);
  if (cl.Action == TCommandLine::TAction::UsageError) {
    std::cerr << "cavitas: " << cl.Error << "\nTry 'cavitas --help' for more information.\n";
    return ToInt(TExitCode::Usage);
  }

  const auto started = std::chrono::steady_clock::now();
  TOutputFiles outputs;
  TOutputIndex k;
  k.Result = outputs.Add("result file", cl.Output, true);
  k.Log = outputs.Add("log file", cl.LogFile, false);
  if (!cl.CardFile.empty()) k.Cards = outputs.Add("structure-card file", cl.CardFile, true);
  if (!cl.JsonFile.empty()) k.Json = outputs.Add("JSON file", cl.JsonFile, true);
  if (!cl.ViewerPrefix.empty()) {
    k.ViewerPdb = outputs.Add("viewer structure file", cl.ViewerPrefix + ".pdb", true);
    k.Pymol = outputs.Add("PyMOL script", cl.ViewerPrefix + ".pml", true);
    k.Chimera = outputs.Add("ChimeraX script", cl.ViewerPrefix + ".cxc", true);
  }
  if (const std::string conflict = outputs.Conflict(cl.Input); !conflict.empty()) {
    std::cerr << "cavitas: refused: the " << conflict << "; nothing written\n";
    return ToInt(TExitCode::Usage);
  }

  InitProgramLog(args[0]);
  ProgramLog().RunLabel = cl.Input;
  const TSignalGuard signals([&outputs](int number) {
    const char* name = number == SIGINT ? "SIGINT" : "SIGTERM";
    outputs.InterruptAndHold(std::string("run interrupted by ") + name + "\r\n");
    const std::string text = std::string("cavitas: interrupted by ") + name + "; no result file is left\n";
    (void)!::write(2, text.data(), text.size());
  });
  try {
    outputs.Prepare();
  } catch (const IoError& e) {
    std::cerr << "cavitas: " << e.what() << "; nothing written\n";
    return ToInt(TExitCode::FileError);
  }

  auto object = std::make_unique<TNewContactObject>();
  object->Context.Model = model;
  object->LogFileName = outputs.WritePath(k.Log);
  object->LogHeader.push_back(std::string("cavitas ") + ProgramVersion() + ": " + CommandLineText(args));
  object->MeasureHoles = k.Json != kNone || k.ViewerPdb != kNone;
  TRunEnd end = RunAnalysis(*object, args, cl, outputs, k);
  PrintReductions(*object, cl.Input);

  if (end.Code == TExitCode::Success) {
    try {
      for (const std::size_t r : k.Results()) outputs.Commit(r);
      outputs.Commit(k.Log);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::cout << SummaryLine(*object, cl.Input, seconds) << std::endl;
#if !defined(__SANITIZE_ADDRESS__)
      // The process ends here: freeing the structure atom by atom would only
      // delay the exit (the log's time lines already cover the freeing they
      // report). The leak checker of sanitized builds sees it freed.
      (void)object.release();
#endif
      return 0;
    } catch (const IoError& e) {
      end = {TExitCode::FileError, e.what(), true};
    }
  }
  std::cerr << "cavitas: " << end.Message << "\n";
  // The log of a failed run replaces the earlier one and says why the run ended.
  try {
    if (end.LogIt) object->LogLine("cavitas: " + end.Message);
  } catch (const IoError&) {
  }
  for (const std::size_t r : k.Results()) {
    const std::string removed = outputs.Discard(r);
    if (!removed.empty()) std::cerr << "cavitas: removed the " << removed << " of an earlier run\n";
  }
  try {
    outputs.Commit(k.Log);
  } catch (const IoError& e) {
    std::cerr << "cavitas: " << e.what() << "\n";
  }
  return ToInt(end.Code);
}

}  // namespace

int main(int argc, char** argv) {
  KeepFreedMemory();
  // A file-size limit makes a write fail (reported, exit 1) instead of killing the process.
  std::signal(SIGXFSZ, SIG_IGN);
  // A closed stdout must not kill the process after its files are in place.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("cavitas");
  try {
    return Run(args);
  } catch (const std::bad_alloc&) {
    std::cerr << "cavitas: out of memory\n";
    return ToInt(TExitCode::OutOfMemory);
  } catch (const std::exception& e) {
    std::cerr << "cavitas: " << e.what() << "\n";
    return ToInt(TExitCode::InternalError);
  }
}
