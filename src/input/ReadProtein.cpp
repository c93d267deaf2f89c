#include "input/ReadProtein.h"

namespace cavitas {

void ReadProtein(TProteinObject& protein, const std::string&, const std::string& logFile, int) {
  protein.SetLogFile(logFile);
  protein.ClearLog();
}

}  // namespace cavitas
