#pragma once
// What one analysis runs with, made by its caller (main, a test, a benchmark)
// and handed down with the protein: the model constants the options chose,
// where the stages report their progress, and the log that receives the
// report lines of the look-ups and checks. Nothing of it is program-wide, so
// analyses may run one after another (or side by side) in one process.
#include <string>

#include "frame/LogFile.h"
#include "frame/Status.h"
#include "model/Radii.h"

namespace cavitas {

struct TRunContext {
  TModelConstants Model;
  // The running stage and its position; OnChange, when set, watches it. A
  // sink, not a result: stages that only read the protein report into it too.
  mutable TStatus Progress;
  // Receives Report; nullptr drops the lines. The read points it at the
  // protein's own log.
  TLogFileObject* Log = nullptr;

  void Report(const std::string& text) const {
    if (Log != nullptr) Log->LogLine(text);
  }
};

}  // namespace cavitas
