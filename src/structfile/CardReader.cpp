#include "structfile/CardReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "frame/LogFile.h"
#include "model/Radii.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

constexpr std::size_t kCardTextLength = 128;

// Columns a..b (1-based, clipped to the card) of the card.
std::string_view Columns(std::string_view card, std::size_t a, std::size_t b) {
  if (a < 1 || a > card.size() || b < a) return {};
  return card.substr(a - 1, std::min(b, card.size()) - a + 1);
}

std::string Fixed(std::string_view card, std::size_t a, std::size_t b) {
  std::string s(Columns(card, a, b));
  s.resize(b - a + 1, ' ');
  return s;
}

char Column(std::string_view card, std::size_t a) { return a >= 1 && a <= card.size() ? card[a - 1] : ' '; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first blank-delimited token of a piece of text.
std::string_view FirstToken(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  std::size_t j = i;
  while (j < s.size() && !IsBlank(s[j])) ++j;
  return s.substr(i, j - i);
}

bool ParseInt(std::string_view t, std::int64_t& v) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseReal(std::string_view t, double& v) {
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  double x = 0;
  const auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), x, std::chars_format::general);
  if (ec != std::errc() || p != t.data() + t.size() || !std::isfinite(x)) return false;
  v = x;
  return true;
}

// Field readers: the first token of columns a..b; false on an empty or malformed field.
bool IntField(std::string_view card, std::size_t a, std::size_t b, std::int64_t& v) {
  return ParseInt(FirstToken(Columns(card, a, b)), v);
}
bool RealField(std::string_view card, std::size_t a, std::size_t b, double& v) {
  return ParseReal(FirstToken(Columns(card, a, b)), v);
}
float RealOrZero(std::string_view card, std::size_t a, std::size_t b) {
  double v = 0;
  return RealField(card, a, b, v) ? static_cast<float>(v) : 0.0f;
}

// Free-format reading: the next token from position pos (0-based), advancing pos.
std::string_view NextToken(std::string_view card, std::size_t& pos) {
  pos = std::min(pos, card.size());
  while (pos < card.size() && IsBlank(card[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < card.size() && !IsBlank(card[pos])) ++pos;
  return card.substr(start, pos - start);
}

bool IsElementLetter(char c) {
  switch (c) {
    case 'C': case 'E': case 'H': case 'O': case 'W':
    case 'c': case 'e': case 'h': case 'o': case 'w': return true;
    default: return false;
  }
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::int32_t Clamp32(std::int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

// Element kind of an overview letter.
TElementKind ProteinKindOf(char c) {
  switch (Upper(c)) {
    case 'C': return TElementKind::Coil;
    case 'E': return TElementKind::Strand;
    case 'H': return TElementKind::Helix;
    default: return TElementKind::Unset;
  }
}
TElementKind HetKindOf(char c) {
  switch (Upper(c)) {
    case 'O': return TElementKind::HetGroup;
    case 'W': return TElementKind::Water;
    default: return TElementKind::Unset;
  }
}

}  // namespace

TStructureCardReader::TStructureCardReader(TProteinObject& protein, std::string_view text, int inputFormat)
    : protein_(protein),
      text_(text),
      lineMode_(protein.LineMode),
      inputFormat_(inputFormat),
      // Every element row needs a card of its own: a number beyond that is corrupt.
      maxElements_(static_cast<std::int32_t>(std::min<std::size_t>(text.size() / 8 + 16, kMaxStoredCount))) {}

std::unique_ptr<TRecordSource> OpenStructureCardReader(TProteinObject& protein, std::string_view text,
                                                       int inputFormat) {
  return std::make_unique<TStructureCardReader>(protein, text, inputFormat);
}

void TStructureCardReader::ReadRecord(TPdbLine& line) {
  if (inputFormat_ == 3)
    ReadStructureCard(line);
  else
    ReadOverviewCard(line);
}

bool TStructureCardReader::DeclaredCounts(std::int32_t& residues, std::int32_t& proteinAtoms) const {
  if (!lengthRead_) return false;
  residues = expectedResidues_;
  proteinAtoms = expectedProteinAtoms_;
  return true;
}

bool TStructureCardReader::NextCardStart(bool overview) {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if ((c >= 'A' && c <= 'Z') || (overview && IsElementLetter(c))) return true;
    ++pos_;
  }
  return false;
}

std::string_view TStructureCardReader::TakeLine() {
  const std::size_t start = pos_;
  while (pos_ < text_.size() && text_[pos_] != '\n' && !(lineMode_ && text_[pos_] == '\r')) ++pos_;
  std::size_t end = pos_;
  if (pos_ < text_.size()) {
    if (text_[pos_] == '\r') {
      ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    } else {
      ++pos_;
      if (end > start && text_[end - 1] == '\r') --end;  // CR LF outside line mode
    }
  }
  return text_.substr(start, end - start);
}

void TStructureCardReader::Reject(const std::string& what, std::string_view card) {
  protein_.Context.Report("Structure card rejected - " + what + ": " + std::string(card.substr(0, 80)));
}

void TStructureCardReader::StructureError(TPdbLine& line) {
  protein_.Context.Report(kStructureReadError);
  protein_.SetFatalStatus(kStructureReadError);
  line.Kind = kOtherRecord;
}

void TStructureCardReader::ReadTextLine(TPdbLine& line, std::string_view card, std::uint8_t kind) {
  line.Kind = kind;
  line.Text.assign(card.substr(0, kCardTextLength));
  line.Text.resize(kCardTextLength, ' ');
  TMyCollection<TString>* list = nullptr;
  switch (kind) {
    case kHeaderRecord: list = &protein_.HeaderLines; break;
    case kCompndRecord: list = &protein_.CompndLines; break;
    case kSourceRecord: list = &protein_.SourceLines; break;
    case kAuthorRecord: list = &protein_.AuthorLines; break;
    default: list = &protein_.RemarkLines; break;
  }
  list->push_back(std::make_unique<TString>(line.Text));
}

void TStructureCardReader::ReadSSBond(TPdbLine& line, std::string_view card) {
  line.Kind = kSSBondRecord;
  line.Bond1 = Fixed(card, 18, 22) + Column(card, 16);
  line.Bond2 = Fixed(card, 32, 36) + Column(card, 30);
}

void TStructureCardReader::ReadResolution(std::string_view card) {
  const std::string_view window = Columns(card, 8, 117);
  const std::size_t at = window.find("RESOLUTION.");
  if (at == std::string_view::npos) return;
  const std::size_t p = at + 8;  // 1-based column of the match
  double v = 0;
  if (RealField(card, p + 11, p + 30, v)) protein_.Resolution = v;
}

void TStructureCardReader::ReadLength(std::string_view card) {
  std::int64_t values[3] = {0, 0, 0};
  std::size_t i = 6;  // column 7
  int found = 0;
  while (found < 3 && i < card.size()) {
    if (!IsDigit(card[i])) {
      ++i;
      continue;
    }
    std::int64_t v = 0;
    while (i < card.size() && IsDigit(card[i])) {
      if (v < 1000000000) v = v * 10 + (card[i] - '0');
      ++i;
    }
    values[found++] = v;
  }
  expectedResidues_ = Clamp32(values[0]);
  expectedProteinAtoms_ = Clamp32(values[1]);
  protein_.AtomCount = Clamp32(values[2]);
  lengthRead_ = true;
}

void TStructureCardReader::ReadCount(std::string_view card, std::int32_t& target, std::int32_t limit) {
  std::int64_t v = 0;
  if (!IntField(card, 7, 20, v)) {
    protein_.Context.Report("Fehler beim Einlesen! ");
    return;
  }
  if (v < 0 || v > limit) {
    Reject("count outside 0.." + std::to_string(limit), card);
    return;
  }
  target = static_cast<std::int32_t>(v);
}

void TStructureCardReader::ReadHoleCounts(std::string_view card) {
  THoleDefinitions& h = protein_.HoleDefinitions;
  std::int64_t v = 0;
  if (IntField(card, 9, 14, v)) h.HolesPartlyFilled = Clamp32(v);
  if (IntField(card, 37, 42, v)) h.HolesNotFilled = Clamp32(v);
  if (IntField(card, 62, 67, v)) h.PartlyFilledHolesHetRemoved = Clamp32(v);
  if (IntField(card, 108, 113, v) || IntField(card, 101, 106, v)) h.FilledHolesHetRemoved = Clamp32(v);
}

void TStructureCardReader::ReadSpecialHole(std::string_view card) {
  std::int64_t h = 0;
  if (!IntField(card, 21, 24, h) || h < -10 || h > 0) return;
  std::string name;
  for (std::size_t i = 25; i < card.size() && card[i] != ' ' && card[i] != '\r' && card[i] != '\n'; ++i) name += card[i];
  const std::size_t index = static_cast<std::size_t>(-h);  // definition 1 - h, 0-based
  if (index < protein_.HoleDefinitions.Names.size()) protein_.HoleDefinitions.Names[index] = name;
}

bool TStructureCardReader::SelectElement(std::int64_t e) {
  if (e < 1 || e > maxElements_) return false;
  if (e != currentElement_) {
    currentElement_ = static_cast<std::int32_t>(e);
    entryCounter_ = 0;
  }
  return true;
}

void TStructureCardReader::ReadElementCard(std::string_view card, bool het) {
  std::int64_t e = 0;
  if (!IntField(card, 9, 13, e)) return;
  if (e < 1 || e > maxElements_) {
    Reject("element number outside 1.." + std::to_string(maxElements_), card);
    return;
  }
  SelectElement(e);
  TElementZeile& row = protein_.ElementRow(e);
  const char k = Column(card, 15);
  using enum TElementKind;
  if (het)
    row.ElementKind = k == 'O' ? HetGroup : k == 'W' ? Water : Unset;
  else
    row.ElementKind = k == 'C' ? Coil : k == 'H' ? Helix : k == 'S' ? Strand : Unset;
  row.ResetAtoms();
  const std::int64_t offset = het ? expectedProteinAtoms_ : 0;
  std::int64_t v = 0;
  if (IntField(card, 22, 29, v))
    row.First = Clamp32(v + offset);
  else
    protein_.Context.Report("Fehler beim einlesen! ");
  if (IntField(card, 33, 40, v))
    row.Last = Clamp32(v + offset);
  else
    protein_.Context.Report("Fehler beim Einlesen! ");
}

void TStructureCardReader::ReadSuperElementCard(std::string_view card, bool defined) {
  std::int64_t number = 0, b = 0;
  if (!IntField(card, 9, 13, number) || !IntField(card, 29, 35, b)) {
    protein_.Context.Report("Fehler beim Einlesen! ");
    return;
  }
  std::int64_t index = number - protein_.ElementCount - protein_.HetElementCount;
  if (defined) index -= protein_.SuperSSE.Count;
  if (index < 1 || index > kMaxSSSE) {
    Reject("item index outside 1.." + std::to_string(kMaxSSSE), card);
    return;
  }
  if (b < 1 || b > kMaxSSSEEntries) {
    Reject("entry index outside 1.." + std::to_string(kMaxSSSEEntries), card);
    return;
  }
  TSSSECol& col = defined ? protein_.DefinedSSE : protein_.SuperSSE;
  const auto k = static_cast<std::size_t>(index);
  if (b == 1) {
    if (col.Items.size() < k) col.Items.resize(k);
    auto sse = std::make_unique<TSSSE>();
    const char kind = Column(card, 15);
    sse->SSEKind = kind == 'C' ? 1 : kind == 'H' ? 0 : kind == 'S' ? 2 : 9;
    std::int64_t count = 0;
    if (!IntField(card, 25, 28, count))
      protein_.Context.Report("Fehler beim Einlesen! ");
    else if (count >= 0 && count <= kMaxSSSEEntries)
      sse->EntryCount = static_cast<std::uint8_t>(count);
    else
      Reject("entry count outside 0.." + std::to_string(kMaxSSSEEntries), card);
    col.Items[k - 1] = std::move(sse);
  }
  if (col.Items.size() < k || !col.Items[k - 1]) {
    Reject("entry index " + std::to_string(b) + " before entry 1", card);
    return;
  }
  TSSSEEntry& entry = col.Items[k - 1]->Entries[static_cast<std::size_t>(b - 1)];
  std::int64_t v = 0;
  if (IntField(card, 37, 43, v))
    entry.StartResidue = Clamp32(v);
  else
    protein_.Context.Report("Fehler beim Einlesen! ");
  if (IntField(card, 48, 54, v))
    entry.EndResidue = Clamp32(v);
  else
    protein_.Context.Report("Fehler beim Einlesen! ");
  if (IntField(card, 55, 57, v))
    entry.Code = Clamp32(v);
  else
    protein_.Context.Report("Fehler beim Einlesen! ");
}

void TStructureCardReader::ReadConnections(std::string_view card) {
  std::size_t pos = 10;  // after column 10
  std::int64_t n = 0;
  if (!ParseInt(NextToken(card, pos), n) || n < 0 || n > maxElements_) {
    Reject("bad element count", card);
    return;
  }
  pos = std::max<std::size_t>(pos, 23);  // after column 23
  std::int64_t previous = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    std::int64_t e = 0;
    if (!ParseInt(NextToken(card, pos), e) || e < 1 || e > maxElements_) {
      Reject("element number outside 1.." + std::to_string(maxElements_), card);
      return;
    }
    if (previous > 0) {
      protein_.ElementRow(previous).ConnectedTo = static_cast<std::int32_t>(e);
      protein_.ElementRow(e).ConnectedFrom = static_cast<std::int32_t>(previous);
    }
    previous = e;
  }
  protein_.StreamFlag = true;  // the connection flag
}

std::int32_t TStructureCardReader::ReadEntries(std::string_view card, std::size_t& pos, std::int64_t k, bool pairs) {
  TElementZeile& row = protein_.ElementRow(currentElement_);
  if (!row.ElementAtoms) row.ResetAtoms();
  std::int32_t read = 0;
  for (std::int64_t i = 0; i < k; ++i) {
    std::int64_t atom = 0;
    double second = 0;
    const std::size_t before = pos;
    const bool ok = ParseInt(NextToken(card, pos), atom);
    std::int64_t secondInt = 0;
    const bool ok2 = pairs ? ParseInt(NextToken(card, pos), secondInt) : ParseReal(NextToken(card, pos), second);
    if (!ok || !ok2) {
      pos = before;
      protein_.Context.Report("Error in reading Structure - " + std::to_string(k - i) + " neighbour entries missing");
      break;
    }
    if (pairs) second = static_cast<double>(secondInt);
    // An integer pair of the first overview form is kept as its two numbers.
    row.ElementAtoms->emplace_back(Clamp32(atom), second);
    ++read;
  }
  entryCounter_ += read;
  return read;
}

void TStructureCardReader::AddHetAtom(const TPdbLine& v, std::int32_t serial, std::int32_t entryCount,
                                      std::int32_t entryStart) {
  std::unique_ptr<THetAtom> het = HetAtomOf(v, protein_.Context);
  TAtom& atom = *het->Atom;
  atom.Volume = v.Volume;
  atom.ContactVolume = v.ContactVolume;
  atom.Number = serial;
  atom.NeighbourCount = entryCount;
  atom.NeighbourStart = entryStart;
  atom.ResidueIndex = ++hetRecordsRead_;
  if (protein_.ElementRow(currentElement_).ElementKind == TElementKind::Water)
    atom.AtomCode = kWaterCode;
  protein_.HetAtoms.push_back(std::move(het));
}

void TStructureCardReader::ReadAtomLine(TPdbLine& line, std::string_view card, bool het) {
  std::int64_t serial = 0;
  ParseInt(FirstToken(Columns(card, 7, 11)), serial);
  line.AtomName = Fixed(card, 13, 16);
  line.AltLoc = Column(card, 17);
  line.ResidueName = Fixed(card, 18, 20) + ' ';
  line.OneLetter = ResidueLetter(Fixed(card, 18, 20));
  // A HETATM line carries its chain in column 28, after the residue number.
  const char chain = het ? Column(card, 28) : Column(card, 22);
  line.ResidueId = Fixed(card, 23, 27) + chain;
  line.X = RealOrZero(card, 31, 38);
  line.Y = RealOrZero(card, 39, 46);
  line.Z = RealOrZero(card, 47, 54);
  line.Occupancy = RealOrZero(card, 55, 60);
  line.BFactor = RealOrZero(card, 61, 66);
  line.Volume = RealOrZero(card, 67, 73);
  line.ContactVolume = RealOrZero(card, 74, 80);
  std::size_t pos = std::min<std::size_t>(80, card.size());
  std::int64_t e = 0, k = 0;
  if (!ParseInt(NextToken(card, pos), e) || !SelectElement(e)) {
    StructureError(line);
    return;
  }
  if (!ParseInt(NextToken(card, pos), k) || k < 0) k = 0;
  FinishAtomRecord(line, card, pos, serial, k, false, het);
}

// Reads the k neighbour entries that end an atom line and hands the atom on:
// protein atoms to the read driver, hetero atoms into HetAtoms as well.
void TStructureCardReader::FinishAtomRecord(TPdbLine& line, std::string_view card, std::size_t& pos, std::int64_t serial,
                                            std::int64_t k, bool pairs, bool het) {
  const std::int32_t start = entryCounter_;
  const std::int32_t read = ReadEntries(card, pos, k, pairs);
  line.GivenNumber = Clamp32(serial);
  line.NeighbourStart = start;
  line.NeighbourCount = read;
  if (het) {
    AddHetAtom(line, line.GivenNumber, read, start);
    line.Kind = kHetAtmRecord;
  } else {
    line.Kind = kAtomRecord;
  }
}

// The cards both variants read alike: header texts, record ends, models and
// the summary counts. Returns false for the cards each variant reads its own way.
bool TStructureCardReader::ReadSharedCard(TPdbLine& line, std::string_view key, std::string_view card) {
  if (key == "HEADER") ReadTextLine(line, card, kHeaderRecord);
  else if (key == "COMPND") ReadTextLine(line, card, kCompndRecord);
  else if (key == "SOURCE") ReadTextLine(line, card, kSourceRecord);
  else if (key == "AUTHOR") ReadTextLine(line, card, kAuthorRecord);
  else if (key == "TER   ") line.Kind = kTerRecord;
  else if (key == "END   " || key == "END") line.Kind = kEndRecord;
  else if (key == "MODEL ") line.Kind = kModelRecord;
  else if (key == "ENDMDL") line.Kind = kEndMdlRecord;
  else if (key == "RESOLT") ReadResolution(card);
  else if (key == "CUTOFF") {
    double v = 0;
    if (RealField(card, 7, 30, v)) protein_.Context.Model.CutOff = v;
  } else if (key == "LENGTH") ReadLength(card);
  else if (key == "NRELEM") {
    ReadCount(card, protein_.ElementCount, maxElements_ - protein_.HetElementCount);
    nrElem_ = protein_.ElementCount;
  } else if (key == "NRHETE") ReadCount(card, protein_.HetElementCount, maxElements_ - protein_.ElementCount);
  else return false;
  return true;
}

void TStructureCardReader::ReadStructureCard(TPdbLine& line) {
  line.Kind = kOtherRecord;
  if (!NextCardStart(false)) {
    line.Kind = kEndRecord;
    return;
  }
  const std::string_view card = TakeLine();
  const std::string_view key = card.substr(0, 6);
  if (key == "REMARK") {
    // Chain breaks are recomputed by the read, so their card is dropped.
    if (card.size() >= 6 + 15 && card.substr(6, 15) == "    BREAK AFTER") return;
    return ReadTextLine(line, card, kRemarkRecord);
  }
  if (key == "SSBOND") return ReadSSBond(line, card);
  if (key == "ATOM  ") return ReadAtomLine(line, card, false);
  if (key == "HETATM") return ReadAtomLine(line, card, true);
  if (ReadSharedCard(line, key, card)) return;
  if (key == "NRSSSE" || key == "NRISSE") {
    TSSSECol& col = key == "NRSSSE" ? protein_.SuperSSE : protein_.DefinedSSE;
    std::int32_t count = col.Count;
    ReadCount(card, count, kMaxSSSE);
    col.Count = static_cast<std::uint16_t>(count);
    return;
  }
  if (key == "NRHOLE") return ReadHoleCounts(card);
  if (key == "NRSPHL") {
    std::int64_t n = 0;
    if (!IntField(card, 9, 11, n)) return;
    if (n < 0 || n > static_cast<std::int64_t>(protein_.HoleDefinitions.Names.size())) {
      Reject("special hole count outside 0..10", card);
      return;
    }
    protein_.HoleDefinitions.Count = static_cast<std::int32_t>(n);
    return;
  }
  if (key == "SPECHL") return ReadSpecialHole(card);
  if (key == "SEKSTN") return ReadElementCard(card, false);
  if (key == "SEKSTH") return ReadElementCard(card, true);
  if (key == "SEKSTS") return ReadSuperElementCard(card, false);
  if (key == "SEKSTI") return ReadSuperElementCard(card, true);
  if (key == "CONNEC") return ReadConnections(card);
  // METHOD, NRHOL2, OVERVW, OVERV2 and unknown cards: skipped to their end.
}

void TStructureCardReader::ReadOverview(std::string_view card, bool het) {
  const char* missing = het ? "NO NRHELEMENTCARD or BAD NRHELEMENTCARD" : "NO NRELEMENTCARD or BAD NRELEMENTCARD";
  const std::string name = het ? "overview2card" : "overvwcard";
  const std::string statusName = het ? "overview2card" : "overviewcard";
  const std::int32_t declared = het ? protein_.HetElementCount : nrElem_;
  if (declared < 1) {
    protein_.Context.Report("Error in reading " + name);
    protein_.SetWarningStatus(TRunStatus::OverviewNoElementCount, missing);
  }
  std::int32_t& counter = het ? overview2Count_ : overviewCount_;
  const std::int32_t base = het ? protein_.ElementCount : 0;
  const std::int64_t limit = het ? static_cast<std::int64_t>(protein_.AtomCount) - expectedProteinAtoms_ : expectedResidues_;
  const std::int64_t offset = het ? expectedProteinAtoms_ : 0;
  std::int32_t previous = 0;  // row number: the table may grow under a pointer
  std::size_t p = 10;  // column 11
  bool overflow = false;
  while (p < card.size() && IsElementLetter(card[p])) {
    if (base + counter + 1 > maxElements_) {
      overflow = true;
      break;
    }
    ++counter;
    TElementZeile& row = protein_.ElementRow(base + counter);
    row.ElementKind = het ? HetKindOf(card[p]) : ProteinKindOf(card[p]);
    bool digits = p + 4 < card.size();
    std::int64_t first = 0;
    for (std::size_t i = p + 1; digits && i <= p + 4; ++i) {
      digits = IsDigit(card[i]);
      first = first * 10 + (digits ? card[i] - '0' : 0);
    }
    if (!digits) {
      protein_.Context.Report("Error in reading " + name + " - no number");
      protein_.SetWarningStatus(TRunStatus::OverviewNoNumber, "Error in reading " + statusName + " - no number");
    } else {
      row.ResetAtoms();
      if ((previous && first + offset < protein_.ElementRow(previous).First) || first > limit) {
        protein_.Context.Report("Error in reading " + name + " - bad number");
        protein_.SetWarningStatus(TRunStatus::OverviewBadNumber, "Error in reading " + statusName + " - bad number");
      }
      row.First = Clamp32(first + offset);
      if (previous) protein_.ElementRow(previous).Last = row.First - 1;
    }
    previous = base + counter;
    p += 6;
  }
  if (overflow || counter > declared) {
    const std::string text = het ? "No NRHETELEMCARD or to many elements in overview2"
                                 : "No NRELEMCARD or to many elements in overview";
    protein_.Context.Report(text);
    protein_.SetWarningStatus(TRunStatus::OverviewTooManyElements, text);
  }
  if (previous) protein_.ElementRow(previous).Last = protein_.AtomCount;
}

void TStructureCardReader::ReadOverviewAtomLine(TPdbLine& line, std::string_view card) {
  // Layout: element code (1-5), residue identity (7-12, number with insertion
  // code in 7-11), residue name (13-16), chain (17), atom name (18-21),
  // alternate location (22), serial (23-27), X, Y, Z (28-51), then free format:
  // occupancy (not used), temperature factor, volume, contact volume, entry
  // count and the entries.
  bool codeOk = card.size() >= 5;
  std::int64_t number = 0;
  for (std::size_t i = 1; codeOk && i <= 4; ++i) {
    codeOk = IsDigit(card[i]);
    number = number * 10 + (codeOk ? card[i] - '0' : 0);
  }
  if (!codeOk) return StructureError(line);
  const char letter = Upper(card[0]);
  const bool het = letter == 'O' || letter == 'W';
  const TElementKind kind = het ? HetKindOf(letter) : ProteinKindOf(letter);
  const std::int64_t offset = het ? expectedProteinAtoms_ : 0;
  const std::int32_t base = het ? protein_.ElementCount : 0;
  std::int32_t& cursor = het ? currentHetElement_ : currentProteinElement_;
  const std::int32_t count = het ? protein_.HetElementCount : protein_.ElementCount;
  auto matches = [&](std::int32_t e) {
    if (e < 1 || e > count || base + e > maxElements_) return false;
    const TElementZeile& row = protein_.ElementRow(base + e);
    return row.ElementKind == kind && row.First == number + offset;
  };
  if (!matches(cursor)) {
    ++cursor;
    entryCounter_ = 0;
    if (!matches(cursor)) return StructureError(line);
  }
  currentElement_ = base + cursor;

  std::int64_t serial = 0;
  ParseInt(FirstToken(Columns(card, 23, 27)), serial);
  line.ResidueId = Fixed(card, 7, 11) + Column(card, 17);
  line.ResidueName = Fixed(card, 13, 15) + ' ';
  line.OneLetter = ResidueLetter(Fixed(card, 13, 15));
  line.AtomName = Fixed(card, 18, 21);
  line.AltLoc = Column(card, 22);
  line.X = RealOrZero(card, 28, 35);
  line.Y = RealOrZero(card, 36, 43);
  line.Z = RealOrZero(card, 44, 51);
  line.Occupancy = 1.0f;
  std::size_t pos = std::min<std::size_t>(51, card.size());
  double v = 0;
  NextToken(card, pos);  // occupancy, not read
  line.BFactor = ParseReal(NextToken(card, pos), v) ? static_cast<float>(v) : 0.0f;
  line.Volume = ParseReal(NextToken(card, pos), v) ? static_cast<float>(v) : 0.0f;
  line.ContactVolume = ParseReal(NextToken(card, pos), v) ? static_cast<float>(v) : 0.0f;
  std::int64_t k = 0;
  if (!ParseInt(NextToken(card, pos), k) || k < 0) k = 0;
  FinishAtomRecord(line, card, pos, serial, k, inputFormat_ == 1, het);
}

void TStructureCardReader::ReadOverviewCard(TPdbLine& line) {
  line.Kind = kOtherRecord;
  if (!NextCardStart(true)) {
    line.Kind = kEndRecord;
    return;
  }
  const std::string_view card = TakeLine();
  if (card.size() >= 4 && IsElementLetter(card[0]) && IsDigit(card[1]) && IsDigit(card[2]) && IsDigit(card[3]))
    return ReadOverviewAtomLine(line, card);
  const std::string_view key = card.substr(0, 6);
  if (key == "REMARK") return ReadTextLine(line, card, kRemarkRecord);
  if (key == "SSBOND") return ReadSSBond(line, card);
  if (key == "ATOM  ") return StructureError(line);  // no element code
  if (ReadSharedCard(line, key, card)) return;
  if (key == "NRHOLE" || key == "NRHOL2") {
    std::int64_t v = 0;
    if (IntField(card, 7, 20, v)) (key == "NRHOLE" ? protein_.HoleCountWithHet : protein_.HoleCountWithoutHet) = Clamp32(v);
    return;
  }
  if (key == "OVERVW") return ReadOverview(card, false);
  if (key == "OVERV2") return ReadOverview(card, true);
  if (key == "CONNEC") return ReadConnections(card);
}

}  // namespace cavitas
