#include "input/RecordSource.h"

#include <string>

#include "frame/Error.h"
#include "input/CifReader.h"
#include "input/RecordRules.h"
#include "structfile/CardReader.h"

namespace cavitas {

std::unique_ptr<TRecordSource> OpenRecordSource(TProteinObject& protein, const TInputText& text, int inputFormat,
                                                TCoordinateFormat coordinates) {
  if (inputFormat == 0 && coordinates == TCoordinateFormat::Cif)
    return std::make_unique<TNormalisingSource>(protein, std::make_unique<TCifRecordReader>(protein, text));
  if (inputFormat == 0) {
    const bool lineMode = protein.LineMode;
    return std::make_unique<TNormalisingSource>(protein, std::make_unique<TPdbRecordReader>(protein, text), [&text, lineMode] {
      const TSegmentSurvey survey = SurveySegments(text, lineMode);
      return ChainsForSegments(survey.Segments, survey.Chains);
    });
  }
  if (inputFormat >= 1 && inputFormat <= 3) return OpenStructureCardReader(protein, text.Bytes, inputFormat);
  throw IoError("cannot read input file " + text.FileName + ": unknown input format " + std::to_string(inputFormat));
}

}  // namespace cavitas
