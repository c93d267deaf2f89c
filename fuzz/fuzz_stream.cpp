// Loads arbitrary bytes as a protein stream; a stream that loads is saved
// again, rendered as cards, and must reload to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "frame/LogFile.h"
#include "structfile/Stream.h"
#include "structfile/StructureCards.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cavitas;
  TProteinObject protein;
  protein.LogFileName = "/dev/null";
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  LoadFromStream(protein, in);
  if (protein.Status == TRunStatus::Failed) return 0;
  SumStructureCards(protein);
  std::ostringstream first;
  SaveToStream(protein, first);
  TProteinObject again;
  again.LogFileName = "/dev/null";
  std::istringstream in2(first.str());
  LoadFromStream(again, in2);
  std::ostringstream second;
  SaveToStream(again, second);
  if (again.Status != TRunStatus::Failed && second.str() != first.str()) std::abort();
  return 0;
}
