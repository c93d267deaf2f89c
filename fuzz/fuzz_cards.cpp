// Feeds arbitrary bytes to the structure-card readers (the first byte picks
// format 1, 2 or 3) through the residue assembly, then renders and streams
// whatever object results.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "frame/LogFile.h"
#include "input/ReadRecords.h"
#include "structfile/CardReader.h"
#include "structfile/Stream.h"
#include "structfile/StructureCards.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cavitas;
  if (size < 1) return 0;
  const int format = 1 + data[0] % 3;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  TProteinObject protein;
  protein.LogFileName = "/dev/null";
  protein.LineMode = text.find('\n') == std::string::npos || text.find('\n') < 150;
  TStructureCardReader source(protein, text, format);
  TProteinReader reader(protein, source, format);
  reader.ReadRecords();
  SumStructureCards(protein);
  std::ostringstream out;
  SaveToStream(protein, out);
  return 0;
}
