// Entry point: evaluates the name:value options, runs the pipeline once and
// maps the outcome to the documented exit codes.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cavity/ContactObject.h"
#include "frame/Allocator.h"
#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Parms.h"
#include "model/Radii.h"

namespace {

constexpr int kExitIo = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFailedRun = 3;

const char* const kUsage =
    "cavitas " CAVITAS_VERSION " - cavities, surfaces and volumes of a protein structure\n"
    "\n"
    "usage: cavitas i:INPUT.pdb o:RESULT [rad:PROTOR|STOUTEN] [ex:EXACTNESS] [l:LOGFILE] [s:CARDFILE]\n"
    "\n"
    "  i:FILE    input coordinate file in PDB format (required)\n"
    "  o:FILE    result file (required)\n"
    "  rad:SET   radius set: protor selects PROTOR, anything else STOUTEN (default STOUTEN)\n"
    "  ex:X      edge of the volume cubes, 0.0001 < X < 0.9 (default 0.2)\n"
    "  l:FILE    log file of the run (default test.log)\n"
    "  s:FILE    also write the structure cards (elements, hetero groups, atoms) with their CH-SUM\n"
    "\n"
    "exit codes: 0 success; 1 file error; 2 usage error; 3 the structure could not be analysed\n"
    "(reason on stderr and in the log); 5 out of memory; 201 a capacity of the data model was\n"
    "exceeded; 40, 101, 103, 150, 200, 301, 303, 401, 402 internal errors of the surface,\n"
    "cavity, volume or water stages (the shell sees 301, 303, 401, 402 as 45, 47, 145, 146).\n";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cavitas;
  KeepFreedMemory();
  std::vector<std::string> params(argv + 1, argv + argc);
  try {
    InitProgramLog(argc > 0 ? argv[0] : "cavitas");
    if (params.empty()) {
      std::cout << kUsage;
      return 0;
    }
    std::string input, output, radiusWord, logFile = "test.log", cardFile;
    double exactness = Model.Exactness;
    bool hasInput = false, hasOutput = false, found = false;
    GetStringOption(params, "i", input, hasInput);
    GetStringOption(params, "o", output, hasOutput);
    GetStringOption(params, "rad", radiusWord, found);
    if (found) {
      const std::string word = Lower(radiusWord);
      if (word != "protor" && word != "stouten")
        std::cerr << "cavitas: warning: unknown radius set '" << radiusWord << "', using STOUTEN\n";
      SelectRadiusSet(word == "protor" ? kProtor : kStouten);
    }
    GetNumberOption(params, "ex", exactness, found);
    if (found) {
      if (!SetExactness(exactness))
        std::cerr << "cavitas: warning: exactness " << exactness << " outside (0.0001, 0.9) ignored\n";
    } else {
      std::string raw;
      GetStringOption(params, "ex", raw, found);
      if (found) std::cerr << "cavitas: warning: exactness '" << raw << "' is not a number; ignored\n";
    }
    GetStringOption(params, "l", logFile, found);
    GetStringOption(params, "s", cardFile, found);
    for (const std::string& p : params) {
      const auto colon = p.find(':');
      const std::string name = colon == std::string::npos ? p : p.substr(0, colon);
      if (name != "i" && name != "o" && name != "rad" && name != "ex" && name != "l" && name != "s")
        std::cerr << "cavitas: warning: unknown parameter '" << p << "' ignored\n";
    }
    if (!hasInput || !hasOutput) {
      std::cerr << "cavitas: both i:INPUT and o:RESULT are required\n\n" << kUsage;
      return kExitUsage;
    }
    auto object = std::make_unique<TNewContactObject>();
    object->Run(input, logFile, true, output, cardFile);
    if (object->Status == 1) {
      std::cerr << "cavitas: " << input << ": " << object->StatusText << "\n";
      return kExitFailedRun;
    }
    return 0;
  } catch (const FatalError& e) {
    std::cerr << e.Text << "\n";
    return e.Code;
  } catch (const IoError& e) {
    std::cerr << "cavitas: " << e.what() << "\n";
    return kExitIo;
  } catch (const std::bad_alloc&) {
    std::cerr << "!!!! Speicherplatz reicht nicht !!!!!!\n";
    return 5;
  }
}
