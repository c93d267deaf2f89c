#pragma once
// The whole analysis of one input text as a fuzz target runs it: every fatal
// error is a finding and aborts with its code and message. Codes listed in
// CAVITAS_FUZZ_KNOWN (comma-separated, e.g. "103") are open findings already
// tracked: they are printed but let the run go on, so that fuzzing can look
// past them for new ones.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "cavity/ContactObject.h"
#include "frame/Error.h"
#include "frame/LogFile.h"

namespace cavitas::fuzz {

inline bool Known(int code) {
  const char* known = std::getenv("CAVITAS_FUZZ_KNOWN");
  if (known == nullptr) return false;
  const std::string list = "," + std::string(known) + ",";
  return list.find("," + std::to_string(code) + ",") != std::string::npos;
}

inline bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return true;
}

// With CAVITAS_FUZZ_EXPORT=DIR the input text is only written to DIR (named by
// its hash), not analysed, so that a corpus can be replayed through the program.
// after, when given, also measures the holes and then looks at the finished run.
inline void RunWholeAnalysis(const std::string& path, const std::string& text,
                             const std::function<void(TNewContactObject&)>& after = {}) {
  if (const char* dir = std::getenv("CAVITAS_FUZZ_EXPORT")) {
    WriteText(std::string(dir) + "/" + std::to_string(std::hash<std::string>{}(text)) + ".pdb", text);
    return;
  }
  if (!WriteText(path, text)) return;
  ProgramLog().LogFileName = "/dev/null";
  try {
    TNewContactObject run;
    run.MeasureHoles = static_cast<bool>(after);
    run.Run(path, "/dev/null", true, "/dev/null", "/dev/null");
    if (after && run.Status != TRunStatus::Failed) after(run);
  } catch (const FatalError& e) {
    std::fprintf(stderr, "fatal error %d: %s\n", ToInt(e.Code), e.Text.c_str());
    if (!Known(ToInt(e.Code))) std::abort();
  } catch (const IoError&) {
  }
}

}  // namespace cavitas::fuzz
