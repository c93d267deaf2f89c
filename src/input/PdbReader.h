#pragma once
// The fixed-column PDB record reader: the two preliminary passes (line mode and
// line count, MODEL count), the character cursor with its field readers, and
// ReadPdbRecord, which decodes one record and keeps header lines and the
// resolution in the protein.
//
// The whole file is read into memory once; every pass works on that text, so no
// pass can read past its end whatever the file holds (binary data, NULs, lines
// of any length, no final line end).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/InputRecord.h"
#include "model/Protein.h"

namespace cavitas {

// The bytes of one input file. Throws IoError naming the file and the system's
// reason when it cannot be opened or read (missing, a directory, no permission),
// and when it holds more than the limits allow (then reading stops there, so a
// device that never ends, such as /dev/zero, is refused too).
struct TInputText {
  std::string FileName;
  std::string Bytes;
};
struct TInputLimits {
  std::int64_t Bytes = 1'000'000'000;  // 1 GB of text
  std::int64_t Lines = 50'000'000;     // line feeds
};
TInputText LoadInputText(const std::string& fileName, const TInputLimits& limits = {});

// A read position in the text. A line ends at LF, CR LF or, in line mode, also
// at a lone CR; without line mode only LF (with an optional CR before it) ends
// a line, as for files whose first line is too long to be a record.
class TTextCursor {
 public:
  TTextCursor(std::string_view text, bool lineMode) : text_(text), lineMode_(lineMode) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  bool AtEol() const;
  // The next character of the current line; false (and c untouched) at its end.
  bool ReadChar(char& c);
  // Skips the rest of the line and its line end.
  void SkipLine();
  // The rest of the current line (without its line end, which is consumed).
  std::string_view ReadRestOfLine();
  // Skips up to n characters, stopping at the end of the line.
  void SkipChars(int n);
  // Up to `width` characters of the current line.
  std::string_view ReadField(int width);
  // Skips to the next upper-case letter A..Z (across line ends); false at the end of the text.
  bool SkipToUpperCaseLetter();
  // The 1-based number of the line holding the current position. Positions
  // asked for must not decrease (the count continues where it stopped).
  std::int32_t LineNumber();
  std::size_t Position() const { return pos_; }

 private:
  std::string_view text_;
  bool lineMode_;
  std::size_t pos_ = 0;
  std::size_t countedTo_ = 0;
  std::int32_t linesBefore_ = 0;
};

// Header text as it goes into the result file: control characters (NUL, tab,
// other bytes below 32, and 127) become blanks.
void BlankControlCharacters(std::string& text);

// Coordinates the model can place: beyond 10000 Å a Single no longer resolves
// the 0.001 Å by which atoms are told apart, and the result file's fixed
// columns cannot hold them.
constexpr double kCoordinateLimit = 10000.0;
enum class TCoordinateCheck { Ok, NotANumber, OutOfRange };
TCoordinateCheck CheckCoordinate(std::string_view field, float& value);

// LineMode := the first line is shorter than 150 characters; LineCount := the number of lines.
void DetectLineMode(TProteinObject& protein, const TInputText& text);
void DetectLineMode(TProteinObject& protein, const std::string& fileName);
// MultiModel := at least two lines begin with "MODEL ".
void CountModels(TProteinObject& protein, const TInputText& text);
void CountModels(TProteinObject& protein, const std::string& fileName);

// The segment identifiers (columns 73-76) of ATOM and HETATM lines whose chain
// column is blank, in order of first appearance, and the chain letters the
// other lines use: what ChainsForSegments (RecordRules.h) needs.
struct TSegmentSurvey {
  std::vector<std::string> Segments;
  std::string Chains;
};
TSegmentSurvey SurveySegments(const TInputText& text, bool lineMode);

// A decimal number (optional sign, digits with an optional point, optional
// exponent) after trimming blanks; "." is the separator in every locale.
bool ParseReal(std::string_view field, double& value);
bool ParseReal(std::string_view field, float& value);
// Field readers: up to `width` characters, stopping at the line end; a field
// that is empty or does not convert reads as 0.
std::int32_t ReadIntField(TTextCursor& cursor, int width);
float ReadRealField(TTextCursor& cursor, int width);

// The serial number of columns 7-11: decimal, or hybrid-36 as written by
// files of more than 99999 atoms (A0000 = 100000 ...); kNoSerial otherwise
// (blank, "*****", junk).
std::int32_t ParseSerial(std::string_view field);

// Skips blanks from 1-based position `from`, takes the characters up to the
// next blank or position min(to, length) and converts them; error is non-zero
// when only blanks were found or the conversion failed.
void ScanNumber(const std::string& text, int from, int to, int& error, double& value);

// The PDB record decoder. ATOM and HETATM records come out decoded alike; the
// read driver gets them through TNormalisingSource (RecordRules.h), which
// drops hydrogens, maps names and stores the hetero atoms.
class TPdbRecordReader : public TRecordSource {
 public:
  TPdbRecordReader(TProteinObject& protein, const TInputText& text);
  void ReadRecord(TPdbLine& line) override { ReadPdbRecord(line); }
  // Decodes the next record; kind 8 at the end of the text.
  void ReadPdbRecord(TPdbLine& line);

 private:
  void ReadText(TPdbLine& line, const char* name);
  void ReadSSBond(TPdbLine& line);
  // ATOM and HETATM records alike; `record` names the kind in reports.
  void ReadAtom(TPdbLine& line, const char* record);
  void ReadModel();
  bool ReadCoordinates(const char* record, float& x, float& y, float& z);
  void ScanResolution(const std::string& text);

  TProteinObject& protein_;
  TTextCursor cursor_;
};

}  // namespace cavitas
