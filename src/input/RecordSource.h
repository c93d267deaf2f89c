#pragma once
// Chooses the record reader for an input format. This is where the
// structure-card readers plug in: InputFormat 1 and 2 (overview variant) and 3
// (card variant) are to return their TRecordSource here.
#include <memory>

#include "input/InputFormat.h"
#include "model/InputRecord.h"
#include "input/PdbReader.h"
#include "model/Protein.h"

namespace cavitas {

// Format 0 gives the reader of coordinate files (PDB, or mmCIF as `coordinates`
// says) behind the rules of RecordRules.h; formats 1..3 the structure-card
// readers; any other value throws IoError naming the file.
std::unique_ptr<TRecordSource> OpenRecordSource(TProteinObject& protein, const TInputText& text, int inputFormat,
                                                TCoordinateFormat coordinates = TCoordinateFormat::Pdb);

}  // namespace cavitas
