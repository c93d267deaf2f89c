// Entry point: reads the command line, makes the outputs safe to write, runs
// the pipeline once and maps its end to the documented exit statuses.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "cavity/ContactObject.h"
#include "frame/Allocator.h"
#include "frame/CommandLine.h"
#include "frame/Error.h"
#include "frame/ExitCodes.h"
#include "frame/LogFile.h"
#include "frame/OutputFiles.h"
#include "frame/Parms.h"
#include "frame/Signals.h"
#include "model/Radii.h"

namespace {

using namespace cavitas;

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

void Warn(const std::string& text) { std::cerr << "cavitas: warning: " << text << "\n"; }

// Selects the radius set and the exactness the options name, warning of values it ignores.
void ApplyModelOptions(const TCommandLine& cl) {
  if (!cl.RadiusWord.empty()) {
    const std::string word = Lower(cl.RadiusWord);
    if (word != "protor" && word != "stouten") Warn("unknown radius set '" + cl.RadiusWord + "', using STOUTEN");
    SelectRadiusSet(word == "protor" ? kProtor : kStouten);
  }
  if (cl.ExactnessText.empty()) return;
  double exactness = 0;
  if (!ParseDouble(cl.ExactnessText, exactness)) {
    Warn("exactness '" + cl.ExactnessText + "' is not a number; ignored");
  } else if (!SetExactness(exactness)) {
    std::ostringstream text;
    text << "exactness " << exactness << " outside (0.0001, 0.9) ignored";
    Warn(text.str());
  }
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

TRunEnd RunAnalysis(TNewContactObject& object, const TCommandLine& cl, const TOutputFiles& outputs,
                    std::size_t result, std::size_t log, std::size_t cards) {
  try {
    object.Run(cl.Input, outputs.WritePath(log), true, outputs.WritePath(result),
               cl.CardFile.empty() ? std::string() : outputs.WritePath(cards));
    if (object.Status == 1) return {TExitCode::FailedRun, cl.Input + ": " + object.StatusText, false};
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
  ApplyModelOptions(cl);
  if (cl.Action == TCommandLine::TAction::UsageError) {
    std::cerr << "cavitas: " << cl.Error << "\nTry 'cavitas --help' for more information.\n";
    return ToInt(TExitCode::Usage);
  }

  TOutputFiles outputs;
  const std::size_t result = outputs.Add("result file", cl.Output, true);
  const std::size_t log = outputs.Add("log file", cl.LogFile, false);
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  const std::size_t cards = cl.CardFile.empty() ? kNone : outputs.Add("structure-card file", cl.CardFile, true);
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
  object->LogFileName = outputs.WritePath(log);
  object->LogHeader.push_back(std::string("cavitas ") + ProgramVersion() + ": " + CommandLineText(args));
  TRunEnd end = RunAnalysis(*object, cl, outputs, result, log, cards);
  PrintReductions(*object, cl.Input);

  if (end.Code == TExitCode::Success) {
    try {
      outputs.Commit(result);
      if (cards != kNone) outputs.Commit(cards);
      outputs.Commit(log);
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
  for (const std::size_t k : {result, cards}) {
    if (k == kNone) continue;
    const std::string removed = outputs.Discard(k);
    if (!removed.empty()) std::cerr << "cavitas: removed the " << removed << " of an earlier run\n";
  }
  try {
    outputs.Commit(log);
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
