#pragma once
// What an input file holds, told from its content and not from its name:
// PDB or mmCIF, each plain or gzip-compressed.
#include <string>

#include "input/PdbReader.h"

namespace cavitas {

enum class TCoordinateFormat { Pdb, Cif };

struct TInputKind {
  TCoordinateFormat Format = TCoordinateFormat::Pdb;
  bool Gzipped = false;
  // "PDB", "mmCIF", "PDB (gzip)", "mmCIF (gzip)".
  std::string Name() const;
};

// The most text an input may unpack to: the limit that guards against a
// small compressed file that expands without end.
constexpr std::size_t kMaxUnpackedBytes = std::size_t{1} << 30;

// Unpacks gzip data in place (every member of a multi-member file) and tells
// the format. Throws IoError naming the file: truncated or corrupt gzip data,
// data that unpacks beyond the limit, or text that is "not a PDB or
// mmCIF file".
TInputKind DecodeInput(TInputText& text, std::size_t unpackLimit = kMaxUnpackedBytes);

}  // namespace cavitas
