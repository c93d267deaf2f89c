#include "input/RecordSource.h"

#include <string>

#include "frame/Error.h"
#include "structfile/CardReader.h"

namespace cavitas {

std::unique_ptr<TRecordSource> OpenRecordSource(TProteinObject& protein, const TInputText& text, int inputFormat) {
  if (inputFormat == 0) return std::make_unique<TPdbRecordReader>(protein, text);
  if (inputFormat >= 1 && inputFormat <= 3) return OpenStructureCardReader(protein, text.Bytes, inputFormat);
  throw IoError("cannot read input file " + text.FileName + ": unknown input format " + std::to_string(inputFormat));
}

}  // namespace cavitas
