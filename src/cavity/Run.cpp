#include <chrono>
#include <cstdio>

#include "cavity/ContactObject.h"
#include "input/ReadProtein.h"
#include "secstruct/SecStruct.h"

namespace cavitas {

namespace {

// The current date-time as a count of days.
double Now() {
  using namespace std::chrono;
  const double ms = static_cast<double>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1000.0;
  return ms / 86400000.0;
}

class TimeLines {
 public:
  explicit TimeLines(TProteinObject& p) : p_(p), start_(Now()), previous_(start_) {}
  // Label, then the milliseconds since `since` right-aligned in 20 characters.
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

}  // namespace

void TNewContactObject::FindInnerWater() {}

void TNewContactObject::Run(const std::string& inputFile, const std::string& logFile, bool writeOutput,
                            const std::string& outputFile) {
  (void)writeOutput;
  (void)outputFile;
  TimeLines time(*this);
  ReadProtein(*this, inputFile, logFile, 0);
  CurrentLogTarget = this;
  if (Status != 1) BuildElementList(*this);
  time.Line("Initialisierung : ");
  if (Status != 1) FindInnerWater();
  time.Line("FindInnerWater  : ");
  // Surface with hetero atoms and its holes.
  time.Line("Connolly 1      : ");
  // Surface without hetero atoms, hole combination, volumes, structure cards, result file.
  time.Line("Entfernen       : ", false, false);
  time.Line("insgesamt       : ", true, false);
}

}  // namespace cavitas
