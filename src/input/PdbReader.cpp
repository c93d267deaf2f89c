#include "input/PdbReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Tables.h"

namespace cavitas {

// ---------------------------------------------------------------------------
// Input text

namespace {

std::int64_t CountLineFeeds(std::string_view text) {
  std::int64_t count = 0;
  for (std::size_t p = text.find('\n'); p != std::string_view::npos; p = text.find('\n', p + 1)) ++count;
  return count;
}

}  // namespace

TInputText LoadInputText(const std::string& fileName, const TInputLimits& limits) {
  TInputText text;
  text.FileName = fileName;
  std::error_code ec;
  // fopen succeeds on a directory; reading it would fail later with a less clear reason.
  if (std::filesystem::is_directory(fileName, ec))
    throw IoError("cannot read input file " + fileName + ": " + std::strerror(EISDIR));
  const auto tooLarge = [&] {
    return IoError("input file " + fileName + " is larger than the limit of " + std::to_string(limits.Bytes) +
                   " bytes");
  };
  const auto tooLong = [&] {
    return IoError("input file " + fileName + " has more than the limit of " + std::to_string(limits.Lines) +
                   " lines");
  };
  // A regular file too large is refused before it is read; the others are
  // counted while they are read.
  if (std::filesystem::is_regular_file(fileName, ec)) {
    const auto size = std::filesystem::file_size(fileName, ec);
    if (!ec && size > static_cast<std::uintmax_t>(limits.Bytes)) throw tooLarge();
    if (!ec) text.Bytes.reserve(static_cast<std::size_t>(size));
  }
  // "-" is standard input.
  std::FILE* f = fileName == "-" ? std::fopen("/dev/stdin", "rb") : std::fopen(fileName.c_str(), "rb");
  if (!f) throw IoError("cannot open input file " + fileName + ": " + std::strerror(errno));
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(f, &std::fclose);
  char buffer[1 << 16];
  std::int64_t lines = 0;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    lines += CountLineFeeds(std::string_view(buffer, n));
    if (static_cast<std::int64_t>(text.Bytes.size() + n) > limits.Bytes) throw tooLarge();
    if (lines > limits.Lines) throw tooLong();
    text.Bytes.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  if (std::ferror(f) != 0) throw IoError("cannot read input file " + fileName + ": " + std::strerror(errno));
  return text;
}

void BlankControlCharacters(std::string& text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) c = ' ';
  }
}

// ---------------------------------------------------------------------------
// Cursor

namespace {

// Position of the next CR or LF at or after pos (the text's size when none).
// Two vectorised searches beat a byte loop on lines of typical length.
std::size_t NextBreak(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return text.size();
  const char* const p = text.data() + pos;
  const std::size_t n = text.size() - pos;
  const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
  const std::size_t span = lf ? static_cast<std::size_t>(lf - p) : n;
  const auto* cr = static_cast<const char*>(std::memchr(p, '\r', span));
  if (cr) return static_cast<std::size_t>(cr - text.data());
  return pos + span;
}

}  // namespace

bool TTextCursor::AtEol() const {
  if (pos_ >= text_.size()) return true;
  const char c = text_[pos_];
  if (c == '\n') return true;
  if (c != '\r') return false;
  return lineMode_ || (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n');
}

bool TTextCursor::ReadChar(char& c) {
  if (AtEol()) return false;
  c = text_[pos_++];
  return true;
}

void TTextCursor::SkipLine() {
  while (!AtEol()) {
    // Jump to the next candidate line end instead of testing every character.
    pos_ = NextBreak(text_, pos_);
    if (!AtEol()) ++pos_;  // a CR that does not end a line without line mode
  }
  if (pos_ >= text_.size()) return;
  if (text_[pos_] == '\r') ++pos_;
  if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
}

std::string_view TTextCursor::ReadRestOfLine() {
  const std::size_t start = pos_;
  std::size_t end = pos_;
  while (!AtEol()) {
    pos_ = NextBreak(text_, pos_);
    end = pos_;
    if (!AtEol()) end = ++pos_;
  }
  SkipLine();
  return text_.substr(start, end - start);
}

void TTextCursor::SkipChars(int n) {
  for (; n > 0 && !AtEol(); --n) ++pos_;
}

std::string_view TTextCursor::ReadField(int width) {
  const std::size_t start = pos_;
  SkipChars(width);
  return text_.substr(start, pos_ - start);
}

bool TTextCursor::SkipToUpperCaseLetter() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c >= 'A' && c <= 'Z') return true;
    ++pos_;
  }
  return false;
}

std::int32_t TTextCursor::LineNumber() {
  const std::size_t to = std::min(pos_, text_.size());
  for (std::size_t i = countedTo_; i < to; ++i) {
    const char c = text_[i];
    if (c == '\n' || (lineMode_ && c == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n'))) ++linesBefore_;
  }
  countedTo_ = std::max(countedTo_, to);
  return linesBefore_ + 1;
}

// ---------------------------------------------------------------------------
// Preliminary passes

namespace {

constexpr std::size_t kFirstLineLimit = 200;  // the first line is read as a string of at most 200 characters
constexpr std::size_t kLongFirstLine = 150;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Checks the shape of a decimal number so that from_chars never accepts
// "inf", "nan" or hexadecimal forms. Returns the text without a leading '+'.
bool DecimalShape(std::string_view s, std::string_view& number) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const std::size_t digitsStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  std::size_t digits = i - digitsStart;
  if (i < s.size() && s[i] == '.') {
    ++i;
    const std::size_t fraction = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    digits += i - fraction;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t exponent = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == exponent) return false;
  }
  if (i != s.size()) return false;
  number = s.front() == '+' ? s.substr(1) : s;
  return true;
}

template <class T>
bool ParseDecimal(std::string_view field, T& value) {
  std::string_view number;
  if (!DecimalShape(Trim(field), number)) return false;
  T v{};
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  if (ec != std::errc() || ptr != number.data() + number.size()) return false;
  value = v;
  return true;
}

}  // namespace

void DetectLineMode(TProteinObject& protein, const TInputText& text) {
  const std::string_view bytes = text.Bytes;
  const std::size_t first = NextBreak(bytes, 0);
  protein.LineMode = std::min(first, kFirstLineLimit) < kLongFirstLine;
  TTextCursor cursor(bytes, protein.LineMode);
  std::int32_t count = 0;
  while (!cursor.AtEnd()) {
    cursor.SkipLine();
    ++count;
  }
  protein.LineCount = count;
}

void DetectLineMode(TProteinObject& protein, const std::string& fileName) {
  DetectLineMode(protein, LoadInputText(fileName));
}

void CountModels(TProteinObject& protein, const TInputText& text) {
  TTextCursor cursor(text.Bytes, protein.LineMode);
  int models = 0;
  while (!cursor.AtEnd()) {
    if (cursor.ReadField(6) == "MODEL ") ++models;
    cursor.SkipLine();
  }
  protein.MultiModel = models >= 2;
  protein.ModelCount = models;
}

void CountModels(TProteinObject& protein, const std::string& fileName) {
  CountModels(protein, LoadInputText(fileName));
}

TSegmentSurvey SurveySegments(const TInputText& text, bool lineMode) {
  TSegmentSurvey survey;
  std::set<std::string> seen;
  TTextCursor cursor(text.Bytes, lineMode);
  while (!cursor.AtEnd()) {
    const std::string_view record = cursor.ReadField(6);
    if (record != "ATOM  " && record != "HETATM") {
      cursor.SkipLine();
      continue;
    }
    // Columns 22 (chain) and 73-76 (segment) of the rest of the line, which starts at column 7.
    const std::string_view rest = cursor.ReadRestOfLine();
    const char chain = rest.size() > 15 ? rest[15] : ' ';
    if (chain != ' ') {
      if (survey.Chains.find(chain) == std::string::npos) survey.Chains += chain;
      continue;
    }
    const std::string segment(Trim(rest.size() > 66 ? rest.substr(66, 4) : std::string_view()));
    if (!segment.empty() && seen.insert(segment).second) survey.Segments.push_back(segment);
  }
  return survey;
}

// ---------------------------------------------------------------------------
// Numbers

bool ParseReal(std::string_view field, double& value) { return ParseDecimal(field, value); }
bool ParseReal(std::string_view field, float& value) { return ParseDecimal(field, value); }

std::int32_t ParseSerial(std::string_view field) {
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
  if (field.empty()) return kNoSerial;
  const bool negative = field.front() == '-';
  if (negative) field.remove_prefix(1);
  if (!field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::int32_t v = 0;
    for (const char c : field) v = v * 10 + (c - '0');  // at most 5 digits
    return negative ? -v : v;
  }
  // Hybrid-36 fills all five columns with base-36 digits, upper case from
  // 100000 on and lower case after that; mixed cases are not hybrid-36.
  if (negative || field.size() != 5) return kNoSerial;
  const bool upper = field.front() >= 'A' && field.front() <= 'Z';
  const bool lower = field.front() >= 'a' && field.front() <= 'z';
  if (!upper && !lower) return kNoSerial;
  std::int64_t v = 0;
  for (const char c : field) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (upper && c >= 'A' && c <= 'Z') digit = c - 'A' + 10;
    else if (lower && c >= 'a' && c <= 'z') digit = c - 'a' + 10;
    if (digit < 0) return kNoSerial;
    v = v * 36 + digit;
  }
  constexpr std::int64_t k36p4 = 36 * 36 * 36 * 36;
  v += 100000 - 10 * k36p4 + (lower ? 26 * k36p4 : 0);
  return static_cast<std::int32_t>(v);
}

std::int32_t ReadIntField(TTextCursor& cursor, int width) {
  std::string_view number;
  std::int32_t v = 0;
  if (!DecimalShape(Trim(cursor.ReadField(width)), number)) return 0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  return (ec == std::errc() && ptr == number.data() + number.size()) ? v : 0;
}

TCoordinateCheck CheckCoordinate(std::string_view field, float& value) {
  float v = 0;
  if (!ParseReal(field, v)) {
    // A decimal number beyond the range of a Single is out of range, not junk.
    double wide = 0;
    return ParseReal(field, wide) ? TCoordinateCheck::OutOfRange : TCoordinateCheck::NotANumber;
  }
  if (!(std::fabs(v) < kCoordinateLimit)) return TCoordinateCheck::OutOfRange;
  value = v;
  return TCoordinateCheck::Ok;
}

float ReadRealField(TTextCursor& cursor, int width) {
  float v = 0;
  return ParseReal(cursor.ReadField(width), v) ? v : 0.0f;
}

void ScanNumber(const std::string& text, int from, int to, int& error, double& value) {
  error = 1;
  const int last = std::min(to, static_cast<int>(text.size()));
  int i = std::max(from, 1);
  while (i <= last && text[static_cast<std::size_t>(i - 1)] == ' ') ++i;
  if (i > last) return;
  int j = i;
  while (j <= last && text[static_cast<std::size_t>(j - 1)] != ' ') ++j;
  double v = 0;
  if (!ParseReal(std::string_view(text).substr(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - i)), v))
    return;
  value = v;
  error = 0;
}

// ---------------------------------------------------------------------------
// Records

namespace {

struct TRecordName {
  const char* Name;
  std::uint8_t Kind;
};
constexpr TRecordName kRecordNames[] = {
    {"HEADER", kHeaderRecord}, {"COMPND", kCompndRecord}, {"SOURCE", kSourceRecord}, {"AUTHOR", kAuthorRecord},
    {"SSBOND", kSSBondRecord}, {"ATOM  ", kAtomRecord},   {"HETATM", kHetAtmRecord}, {"TER   ", kTerRecord},
    {"END   ", kEndRecord},    {"REMARK", kRemarkRecord}, {"MODEL ", kModelRecord},  {"ENDMDL", kEndMdlRecord},
};

constexpr std::size_t kMaxRestOfLine = kPdbTextLength - 6;  // columns 7..128
constexpr int kResolutionFirst = 8, kResolutionLast = 117;

// Reads up to `width` characters into the front of `target` (already blank).
// Names and identities go into the result file, so control characters become blanks.
void ReadInto(TTextCursor& cursor, std::string& target, int width) {
  std::string field(cursor.ReadField(width));
  BlankControlCharacters(field);
  target.replace(0, field.size(), field);
}

char ReadPrintable(TTextCursor& cursor) {
  char c = ' ';
  cursor.ReadChar(c);
  const auto u = static_cast<unsigned char>(c);
  return u < 32 || u == 127 ? ' ' : c;
}

}  // namespace

TPdbRecordReader::TPdbRecordReader(TProteinObject& protein, const TInputText& text)
    : protein_(protein), cursor_(text.Bytes, protein.LineMode) {
  if (protein_.InputFormat.empty()) protein_.InputFormat = "PDB";  // the read driver names what it decoded
}

void TPdbRecordReader::ReadPdbRecord(TPdbLine& line) {
  line.Kind = kOtherRecord;
  if (!cursor_.SkipToUpperCaseLetter()) {
    line.Kind = kEndRecord;
    return;
  }
  line.Line = cursor_.LineNumber();
  // The letter found is column 1; a name cut short by the line end matches nothing.
  char name[6];
  int length = 0;
  while (length < 6 && cursor_.ReadChar(name[length])) ++length;
  if (length == 6)
    for (const TRecordName& r : kRecordNames)
      if (std::memcmp(name, r.Name, 6) == 0) line.Kind = r.Kind;

  switch (line.Kind) {
    case kHeaderRecord:
    case kCompndRecord:
    case kSourceRecord:
    case kAuthorRecord:
    case kRemarkRecord:
      ReadText(line, name);
      break;
    case kSSBondRecord:
      ReadSSBond(line);
      break;
    case kAtomRecord:
    case kHetAtmRecord:
      if (protein_.AcceptAtoms) {
        ReadAtom(line, line.Kind == kAtomRecord ? "ATOM" : "HETATM");
      } else {
        line.Kind = kOtherRecord;
        cursor_.SkipLine();
      }
      break;
    case kModelRecord:
      if (protein_.MultiModel) ReadModel();
      cursor_.SkipLine();
      break;
    case kEndMdlRecord:
      if (protein_.MultiModel) protein_.AcceptAtoms = false;
      cursor_.SkipLine();
      break;
    default:
      cursor_.SkipLine();
      break;
  }

  switch (line.Kind) {
    case kHeaderRecord: protein_.HeaderLines.push_back(std::make_unique<TString>(line.Text)); break;
    case kCompndRecord: protein_.CompndLines.push_back(std::make_unique<TString>(line.Text)); break;
    case kSourceRecord: protein_.SourceLines.push_back(std::make_unique<TString>(line.Text)); break;
    case kAuthorRecord: protein_.AuthorLines.push_back(std::make_unique<TString>(line.Text)); break;
    case kRemarkRecord: ScanResolution(line.Text); break;
    default: break;
  }
}

void TPdbRecordReader::ReadText(TPdbLine& line, const char* name) {
  const std::string_view rest = cursor_.ReadRestOfLine();
  line.Text.assign(name, 6);
  line.Text.append(rest.substr(0, kMaxRestOfLine));
  line.Text.resize(kPdbTextLength, ' ');
  BlankControlCharacters(line.Text);
  if (6 + rest.size() < static_cast<std::size_t>(kPdbTextLength)) line.Text[kPdbTextLength - 1] = '.';
}

void TPdbRecordReader::ReadSSBond(TPdbLine& line) {
  line.Bond1.assign(6, ' ');
  line.Bond2.assign(6, ' ');
  cursor_.SkipChars(2);  // columns 7-8
  for (std::string* bond : {&line.Bond1, &line.Bond2}) {
    cursor_.SkipChars(7);
    const char chain = ReadPrintable(cursor_);
    cursor_.SkipChars(1);
    ReadInto(cursor_, *bond, 5);
    (*bond)[5] = chain;
  }
  cursor_.SkipLine();
}

bool TPdbRecordReader::ReadCoordinates(const char* record, float& x, float& y, float& z) {
  float* const targets[3] = {&x, &y, &z};
  bool ok = true;
  for (float* target : targets) {
    const std::string_view field = cursor_.ReadField(8);
    if (!ok) continue;
    // Never place an atom at the origin because its coordinate is junk, nor
    // where the model cannot tell it from its neighbours.
    const TCoordinateCheck check = CheckCoordinate(field, *target);
    if (check == TCoordinateCheck::Ok) continue;
    protein_.Context.Report(
        "line " + std::to_string(cursor_.LineNumber()) + ": " + record + " record ignored, coordinate \"" +
        std::string(field) +
        (check == TCoordinateCheck::NotANumber ? "\" is not a number" : "\" lies outside -10000..10000"));
    ok = false;
  }
  return ok;
}

void TPdbRecordReader::ReadAtom(TPdbLine& line, const char* record) {
  line.AtomName.assign(4, ' ');
  line.ResidueName.assign(4, ' ');
  line.ResidueId.assign(6, ' ');
  line.Segment.assign(4, ' ');
  line.Element.assign(2, ' ');
  line.AltLoc = ' ';
  line.Volume = line.ContactVolume = 0;
  line.GivenNumber = line.NeighbourCount = line.NeighbourStart = 0;

  line.Serial = ParseSerial(cursor_.ReadField(5));
  cursor_.SkipChars(1);
  ReadInto(cursor_, line.AtomName, 4);
  cursor_.ReadChar(line.AltLoc);
  ReadInto(cursor_, line.ResidueName, 3);
  cursor_.SkipChars(1);
  const char chain = ReadPrintable(cursor_);
  ReadInto(cursor_, line.ResidueId, 5);
  line.ResidueId[5] = chain;
  cursor_.SkipChars(3);
  const bool ok = ReadCoordinates(record, line.X, line.Y, line.Z);
  line.Occupancy = ReadRealField(cursor_, 6);
  line.BFactor = ReadRealField(cursor_, 6);
  cursor_.SkipChars(6);  // columns 67-72
  ReadInto(cursor_, line.Segment, 4);
  ReadInto(cursor_, line.Element, 2);
  // A HETATM record is a hetero atom whatever its residue is called.
  line.OneLetter = line.Kind == kAtomRecord ? ResidueLetter(line.ResidueName) : '-';
  cursor_.SkipLine();
  if (!ok) line.Kind = kOtherRecord;
}

void TPdbRecordReader::ReadModel() {
  char c = ' ';
  while (cursor_.ReadChar(c) && c == ' ') {
  }
  // Saturates instead of overflowing; a huge number simply selects nothing.
  std::int64_t number = 0;
  bool more = c >= '0' && c <= '9';
  while (more) {
    number = std::min<std::int64_t>(number * 10 + (c - '0'), std::int64_t{1} << 40);
    more = cursor_.ReadChar(c) && c >= '0' && c <= '9';
  }
  protein_.AcceptAtoms = number == protein_.SelectedModel;
}

void TPdbRecordReader::ScanResolution(const std::string& text) {
  const std::size_t c = text.find("RESOLUTION.", kResolutionFirst - 1);
  if (c == std::string::npos || c > static_cast<std::size_t>(kResolutionLast - 1)) return;
  const int column = static_cast<int>(c) + 1;
  int error = 0;
  double value = 0;
  ScanNumber(text, column + 11, column + 30, error, value);
  if (error == 0) protein_.Resolution = value;
}

}  // namespace cavitas
