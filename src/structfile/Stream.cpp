#include "structfile/Stream.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "frame/LogFile.h"
#include "model/Radii.h"
#include "model/Tables.h"
#include "structfile/CardReader.h"

namespace cavitas {

namespace {

constexpr std::size_t kIdLength = 6, kNameLength = 4;

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Fixed(const std::string& s, std::size_t n) {
  std::string t = s.substr(0, n);
  t.resize(n, ' ');
  return t;
}

char ElementLetter(TElementKind kind) {
  switch (kind) {
    case TElementKind::Helix: return 'H';
    case TElementKind::Coil: return 'C';
    case TElementKind::Strand: return 'E';
    case TElementKind::HetGroup: return 'O';
    case TElementKind::Water: return 'W';
    default: return 'S';
  }
}

char SSELetter(std::uint8_t kind) {
  switch (kind) {
    case 0: return 'H';
    case 2: return 'E';
    case 3: return 'O';
    case 4: return 'W';
    default: return 'C';
  }
}

std::uint8_t SSEKindOf(char c) {
  switch (c) {
    case 'E': return 2;
    case 'H': return 0;
    case 'O': return 3;
    case 'W': return 4;
    default: return 1;
  }
}

const char* BackboneName(std::uint8_t radiusType) {
  switch (radiusType) {
    case kBackboneN: return " N  ";
    case kBackboneC: return " C  ";
    case kBackboneO: return " O  ";
    case kBackboneCA: return " CA ";
    default: return nullptr;
  }
}

// One atom record of the stream, as the save walks the element ranges.
struct TAtomRecord {
  std::int32_t Element;
  std::string Label;  // identity (6), residue name (4), atom name (4)
  const TAtom* Atom;
  const std::vector<TNachbarStruktur>* Entries;
};

// The atom's entries of its element list that exist.
std::pair<std::size_t, std::size_t> EntryRange(const TAtom& a, const std::vector<TNachbarStruktur>* list) {
  if (!list || a.NeighbourStart < 0 || a.NeighbourCount <= 0 || static_cast<std::size_t>(a.NeighbourStart) >= list->size())
    return {0, 0};
  const auto first = static_cast<std::size_t>(a.NeighbourStart);
  return {first, std::min(static_cast<std::size_t>(a.NeighbourCount), list->size() - first)};
}

// Visits the protein atom records, then the hetero atom records, in stream order.
void ForEachAtomRecord(const TProteinObject& p, const std::function<void(const TAtomRecord&, bool het)>& visit) {
  const int rows = static_cast<int>(p.ElementTable.size()) - 1;
  for (int e = 1; e <= p.ElementCount && e <= rows; ++e) {
    const TElementZeile& z = p.ElementTable[static_cast<std::size_t>(e)];
    const std::int64_t last = std::min<std::int64_t>(z.Last, static_cast<std::int64_t>(p.Residues.size()));
    for (std::int64_t i = std::max<std::int64_t>(z.First, 1); i <= last; ++i) {
      const TBACKBONE& r = *p.Residues[static_cast<std::size_t>(i - 1)];
      std::int64_t side = r.SideChainStart + 1;
      for (std::int64_t n = r.FirstAtom; n <= static_cast<std::int64_t>(r.FirstAtom) + 3 + r.SideChainCount; ++n) {
        const TAtom* a = (n >= 1 && n <= p.AtomCount) ? p.AtomAt(static_cast<int>(n)) : nullptr;
        // A residue without its full backbone (only a loaded stream has one)
        // spans fewer numbers, so the range can reach the next residue's atoms.
        if (!a || a->ResidueIndex != r.Index) continue;
        std::string name;
        if (const char* b = BackboneName(a->RadiusType)) {
          name = b;
        } else {
          name = (side >= 1 && side < static_cast<std::int64_t>(p.SideAtomNames.size()))
                     ? p.SideAtomNames[static_cast<std::size_t>(side)]
                     : std::string();
          ++side;
        }
        visit({e, Fixed(r.ResidueId, kIdLength) + Fixed(r.ResidueName, kNameLength) + Fixed(name, kNameLength), a,
               z.ElementAtoms.get()},
              false);
      }
    }
  }
  for (int h = 1; h <= p.HetElementCount && p.ElementCount + h <= rows; ++h) {
    const int e = p.ElementCount + h;
    const TElementZeile& z = p.ElementTable[static_cast<std::size_t>(e)];
    // A card file's declared atom count can exceed the atoms it holds by far:
    // only the table's slots are visited.
    const std::int64_t slots = static_cast<std::int64_t>(p.Atoms.size()) - 1;
    const std::int64_t last = std::min<std::int64_t>({z.Last, p.AtomCount, slots});
    for (std::int64_t i = std::max<std::int64_t>(z.First, 1); i <= last; ++i) {
      const TAtom* a = p.AtomAt(static_cast<int>(i));
      if (!a || a->ResidueIndex < 1 || static_cast<std::size_t>(a->ResidueIndex) > p.HetAtoms.size()) continue;
      const THetAtom& het = *p.HetAtoms[static_cast<std::size_t>(a->ResidueIndex - 1)];
      // The residue name field holds three characters and a blank; the blank
      // carries the alternate location, which the layout has no field for, so
      // that a hetero atom read with one keeps it (a blank stays a blank).
      std::string resName = Fixed(het.ResName, 3) + het.AltLoc;
      visit({e, Fixed(het.ResNumber, 5) + het.Chain + resName + Fixed(het.AtomName, kNameLength), a, z.ElementAtoms.get()},
            true);
    }
  }
}

}  // namespace

// ---- value encoding ----

void TStreamWriter::Bytes(std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) Byte(static_cast<std::uint8_t>(v >> (8 * i)));
}

void TStreamWriter::Integer(std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  if (v >= -128 && v <= 127) {
    Byte(kTagInt8);
    Bytes(u, 1);
  } else if (v >= -32768 && v <= 32767) {
    Byte(kTagInt16);
    Bytes(u, 2);
  } else if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max()) {
    Byte(kTagInt32);
    Bytes(u, 4);
  } else {
    Byte(kTagInt64);
    Bytes(u, 8);
  }
}

void TStreamWriter::String(const std::string& text) {
  if (!IsAscii(text)) {
    Byte(kTagUtf8String);
    Bytes(text.size(), 4);
  } else if (text.size() < 256) {
    Byte(kTagString);
    Bytes(text.size(), 1);
  } else {
    Byte(kTagLongString);
    Bytes(text.size(), 4);
  }
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TStreamWriter::Scaled(long double v) {
  // nearbyint follows the default rounding mode: to nearest, halves to even.
  const long double scaled = std::nearbyint(v * 1000.0L);
  constexpr long double kLimit = 9.2e18L;
  Integer(std::isfinite(scaled) ? static_cast<std::int64_t>(std::clamp(scaled, -kLimit, kLimit)) : 0);
}

std::uint8_t TStreamReader::Byte() {
  const int c = in_.get();
  if (c == std::char_traits<char>::eof()) throw StreamError("stream ends early");
  return static_cast<std::uint8_t>(c);
}

std::uint64_t TStreamReader::Bytes(int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(Byte()) << (8 * i);
  return v;
}

std::int64_t TStreamReader::Integer() {
  const std::uint8_t tag = Byte();
  switch (tag) {
    case kTagInt8: return static_cast<std::int8_t>(Bytes(1));
    case kTagInt16: return static_cast<std::int16_t>(Bytes(2));
    case kTagInt32: return static_cast<std::int32_t>(Bytes(4));
    case kTagInt64: return static_cast<std::int64_t>(Bytes(8));
    default: throw StreamError("unexpected tag " + std::to_string(tag) + " for an integer");
  }
}

std::int64_t TStreamReader::Integer(std::int64_t lo, std::int64_t hi, const char* what) {
  const std::int64_t v = Integer();
  if (v < lo || v > hi)
    throw StreamError(std::string(what) + " " + std::to_string(v) + " outside " + std::to_string(lo) + ".." +
                      std::to_string(hi));
  return v;
}

std::string TStreamReader::String() {
  const std::uint8_t tag = Byte();
  std::uint64_t length = 0;
  switch (tag) {
    case kTagString: length = Bytes(1); break;
    case kTagLongString:
    case kTagUtf8String: length = Bytes(4); break;
    default: throw StreamError("unexpected tag " + std::to_string(tag) + " for a string");
  }
  // Read in pieces, so that a false length on a short stream costs no memory.
  std::string text;
  char piece[4096];
  while (length > 0) {
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(length, sizeof piece));
    in_.read(piece, n);
    if (in_.gcount() != n) throw StreamError("stream ends inside a string");
    text.append(piece, static_cast<std::size_t>(n));
    length -= static_cast<std::uint64_t>(n);
  }
  return text;
}

char TStreamReader::Char() {
  const std::string s = String();
  if (s.size() != 1) throw StreamError("a character of length " + std::to_string(s.size()));
  return s[0];
}

bool TStreamReader::Boolean() {
  const std::uint8_t tag = Byte();
  if (tag == kTagFalse) return false;
  if (tag == kTagTrue) return true;
  throw StreamError("unexpected tag " + std::to_string(tag) + " for a Boolean");
}

std::int64_t EncodeNeighbour(const TNachbarStruktur& n) {
  return static_cast<std::int64_t>(
      std::nearbyint((static_cast<long double>(n.Distance) + static_cast<long double>(n.Atom) * 10 + 1) * 10));
}

TNachbarStruktur DecodeNeighbour(std::int64_t v) {
  const std::int64_t a = v / 100;
  return TNachbarStruktur(static_cast<std::int32_t>(std::clamp<std::int64_t>(a, INT32_MIN, INT32_MAX)),
                          static_cast<double>(v - 10 - a * 100) * 0.1);
}

// ---- records and lists ----

void SaveToStream(const TSSSE& sse, TStreamWriter& w) {
  const int count = std::min<int>(sse.EntryCount, kMaxSSSEEntries);
  w.Integer(count);
  w.Char(SSELetter(sse.SSEKind));
  for (int b = 0; b < count; ++b) {
    const TSSSEEntry& e = sse.Entries[static_cast<std::size_t>(b)];
    w.Integer(e.StartResidue);
    w.Integer(e.EndResidue);
    w.Integer(e.Code);
  }
}

void LoadFromStream(TSSSE& sse, TStreamReader& r) {
  sse.EntryCount = static_cast<std::uint8_t>(r.Integer(0, kMaxSSSEEntries, "entry count"));
  sse.SSEKind = SSEKindOf(r.Char());
  for (int b = 0; b < sse.EntryCount; ++b) {
    TSSSEEntry& e = sse.Entries[static_cast<std::size_t>(b)];
    e.StartResidue = static_cast<std::int32_t>(r.Integer(INT32_MIN, INT32_MAX, "start residue"));
    e.EndResidue = static_cast<std::int32_t>(r.Integer(INT32_MIN, INT32_MAX, "end residue"));
    e.Code = static_cast<std::int32_t>(r.Integer(INT32_MIN, INT32_MAX, "code"));
  }
}

void SaveToStream(const TSSSECol& col, TStreamWriter& w) {
  const int count = std::min<int>(col.Count, kMaxSSSE);
  w.Integer(count);
  static const TSSSE kEmpty{};
  for (int i = 0; i < count; ++i) {
    const TSSSE* sse = static_cast<std::size_t>(i) < col.Items.size() ? col.Items[static_cast<std::size_t>(i)].get() : nullptr;
    SaveToStream(sse ? *sse : kEmpty, w);
  }
}

void LoadFromStream(TSSSECol& col, TStreamReader& r) {
  const auto count = static_cast<std::uint16_t>(r.Integer(0, kMaxSSSE, "super element count"));
  col.Items.clear();
  col.Count = 0;
  for (int i = 0; i < count; ++i) {
    auto sse = std::make_unique<TSSSE>();
    LoadFromStream(*sse, r);
    col.Items.push_back(std::move(sse));
    col.Count = static_cast<std::uint16_t>(col.Items.size());
  }
}

void SaveLines(const TMyCollection<TString>& list, TStreamWriter& w) {
  w.Integer(static_cast<std::int64_t>(list.size()));
  for (const auto& line : list) w.String(line ? line->Text : std::string());
}

void LoadLines(TMyCollection<TString>& list, TStreamReader& r) {
  const std::int64_t count = r.Integer(0, INT32_MAX, "line count");
  TMyCollection<TString> lines;
  for (std::int64_t i = 0; i < count; ++i) lines.push_back(std::make_unique<TString>(r.String()));
  list = std::move(lines);
}

// ---- the protein object ----

void SaveToStream(const TProteinObject& p, std::ostream& out) {
  TStreamWriter w(out);
  for (const auto* list : {&p.HeaderLines, &p.CompndLines, &p.SourceLines, &p.AuthorLines, &p.RemarkLines}) SaveLines(*list, w);
  SaveToStream(p.SuperSSE, w);
  SaveToStream(p.DefinedSSE, w);

  std::int64_t proteinRecords = 0, hetRecords = 0;
  ForEachAtomRecord(p, [&](const TAtomRecord&, bool het) { ++(het ? hetRecords : proteinRecords); });
  const int rows = static_cast<int>(p.ElementTable.size()) - 1;
  const int elementCount = std::clamp(p.ElementCount, 0, rows);
  const int hetElementCount = std::clamp(p.HetElementCount, 0, rows - elementCount);

  w.Integer(p.CheckSum);
  w.Scaled(p.Resolution);
  w.Scaled(p.Context.Model.CutOff);
  w.Integer(p.ResidueCount);
  w.Integer(proteinRecords);
  w.Integer(proteinRecords + hetRecords);
  w.Integer(elementCount);
  w.Integer(hetElementCount);
  const THoleDefinitions& h = p.HoleDefinitions;
  w.Integer(h.HolesPartlyFilled);
  w.Integer(h.HolesNotFilled);
  w.Integer(h.PartlyFilledHolesHetRemoved);
  w.Integer(h.FilledHolesHetRemoved);
  const int special = std::clamp<int>(h.Count, 0, static_cast<int>(h.Names.size()));
  w.Integer(special);
  for (int i = 0; i < special; ++i) w.String(h.Names[static_cast<std::size_t>(i)]);

  for (int e = 1; e <= elementCount + hetElementCount; ++e) {
    const TElementZeile& z = p.ElementTable[static_cast<std::size_t>(e)];
    w.Char(ElementLetter(z.ElementKind));
    w.Integer(z.First);
  }

  // Element chains, each from its head (an element with a successor but no predecessor).
  const int total = elementCount + hetElementCount;
  auto next = [&](int e) { return p.ElementTable[static_cast<std::size_t>(e)].ConnectedTo; };
  for (int j = 1; j <= total; ++j) {
    const TElementZeile& z = p.ElementTable[static_cast<std::size_t>(j)];
    if (z.ConnectedFrom != 0 || z.ConnectedTo == 0) continue;
    std::vector<std::int32_t> chain{j};
    // A chain never revisits an element; the bound stops a corrupted cycle.
    for (std::int32_t e = next(j); e >= 1 && e <= total && chain.size() < static_cast<std::size_t>(total); e = next(e))
      chain.push_back(e);
    w.Boolean(true);
    w.Integer(static_cast<std::int64_t>(chain.size()));
    for (std::int32_t e : chain) w.Integer(e);
  }
  w.Boolean(false);

  const std::size_t breaks = p.ChainBreaks.size();
  w.Integer(static_cast<std::int64_t>(breaks));
  for (std::size_t i = 0; i < breaks; ++i) w.Integer(p.ChainBreaks[i]);

  ForEachAtomRecord(p, [&](const TAtomRecord& rec, bool) {
    const TAtom& a = *rec.Atom;
    w.Integer(rec.Element);
    w.String(rec.Label);
    w.Integer(a.Number);
    for (float v : {a.X, a.Y, a.Z, a.Occupancy, a.BFactor, a.Volume, a.ContactVolume}) w.Scaled(v);
    const auto [first, count] = EntryRange(a, rec.Entries);
    w.Integer(static_cast<std::int64_t>(count));
    for (std::size_t k = first; k < first + count; ++k) w.Integer(EncodeNeighbour((*rec.Entries)[k]));
  });
  w.Flush();
}

namespace {

// The load of one stream into one protein object; throws StreamError.
class TStreamLoader {
 public:
  // maxCount bounds every count and number the stream declares: each item
  // takes at least one byte of it.
  TStreamLoader(TProteinObject& p, TStreamReader& r, std::int64_t maxCount) : p_(p), r_(r), maxCount_(maxCount) {}

  void Load() {
    for (auto* list : {&p_.HeaderLines, &p_.CompndLines, &p_.SourceLines, &p_.AuthorLines, &p_.RemarkLines})
      LoadLines(*list, r_);
    LoadFromStream(p_.SuperSSE, r_);
    LoadFromStream(p_.DefinedSSE, r_);

    p_.CheckSum = static_cast<std::int32_t>(r_.Integer(INT32_MIN, INT32_MAX, "checksum"));
    p_.Resolution = r_.Scaled();
    p_.Context.Model.CutOff = r_.Scaled();
    residueCount_ = r_.Integer(0, maxCount_ + 2, "residue count");
    proteinAtoms_ = r_.Integer(0, maxCount_, "protein atom count");
    atomCount_ = r_.Integer(proteinAtoms_, maxCount_, "atom count");
    p_.ElementCount = static_cast<std::int32_t>(r_.Integer(0, maxCount_, "element count"));
    p_.HetElementCount = static_cast<std::int32_t>(r_.Integer(0, maxCount_ - p_.ElementCount, "hetero element count"));
    THoleDefinitions& h = p_.HoleDefinitions;
    for (std::int32_t* c : {&h.HolesPartlyFilled, &h.HolesNotFilled, &h.PartlyFilledHolesHetRemoved, &h.FilledHolesHetRemoved})
      *c = static_cast<std::int32_t>(r_.Integer(INT32_MIN, INT32_MAX, "hole counter"));
    h.Count = static_cast<std::int32_t>(r_.Integer(0, static_cast<std::int64_t>(h.Names.size()), "special hole count"));
    for (int i = 0; i < h.Count; ++i) h.Names[static_cast<std::size_t>(i)] = r_.String();

    LoadElements(1, p_.ElementCount, false);
    LoadElements(p_.ElementCount + 1, p_.ElementCount + p_.HetElementCount, true);
    LoadConnections();

    const std::int64_t breaks = r_.Integer(0, maxCount_, "chain break count");
    p_.ChainBreaks.clear();
    for (std::int64_t i = 0; i < breaks; ++i)
      p_.ChainBreaks.push_back(static_cast<std::int32_t>(r_.Integer(INT32_MIN, INT32_MAX, "chain break")));
    std::sort(p_.ChainBreaks.begin(), p_.ChainBreaks.end());  // as the read records them

    for (std::int64_t i = 0; i < proteinAtoms_; ++i) {
      if (!LoadAtomRecord(false)) return;
    }
    FinishResidue();
    CheckResidueNumbering();
    for (std::int64_t i = proteinAtoms_; i < atomCount_; ++i) {
      if (!LoadAtomRecord(true)) return;
    }

    p_.ProteinAtomCount = static_cast<std::int32_t>(proteinAtoms_);
    p_.ResidueCount = static_cast<std::int32_t>(p_.Residues.size());
    // A damaged stream can hold more or fewer residues than its stored count.
    // The last protein element then ends at the residues actually read, so
    // that none is left outside every element (and lost by the next save).
    if (p_.ResidueCount != residueCount_ && p_.ElementCount > 0) {
      p_.Context.Report("Error in reading stream - " + std::to_string(p_.ResidueCount) + " residues read, " +
                        std::to_string(residueCount_) + " stored");
      p_.ElementRow(p_.ElementCount).Last = p_.ResidueCount;
    }
    for (std::size_t i = 0; i < p_.HetAtoms.size(); ++i) {
      THetAtom& het = *p_.HetAtoms[i];
      const std::int64_t n = proteinAtoms_ + static_cast<std::int64_t>(i) + 1;
      if (n > maxCount_ || p_.AtomAt(static_cast<int>(n))) throw StreamError("no free atom slot for hetero atom " + std::to_string(i + 1));
      het.Atom->Number = static_cast<std::int32_t>(n);
      het.Atom->ResidueIndex = static_cast<std::int32_t>(i + 1);
      p_.PutAtom(static_cast<int>(n), std::move(het.OwnedAtom));
    }
    p_.AtomCount = p_.ProteinAtomCount + static_cast<std::int32_t>(p_.HetAtoms.size());
  }

 private:
  void LoadElements(int from, int to, bool het) {
    const std::int64_t bound = het ? atomCount_ : residueCount_;
    std::int64_t previousFirst = std::numeric_limits<std::int64_t>::min();
    for (int e = from; e <= to; ++e) {
      TElementZeile& z = p_.ElementRow(e);
      const char c = r_.Char();
      using enum TElementKind;
      z.ElementKind = het ? (c == 'O' ? HetGroup : c == 'W' ? Water : Unset)
                          : (c == 'C' ? Coil : c == 'E' ? Strand : c == 'H' ? Helix : Unset);
      z.First = static_cast<std::int32_t>(r_.Integer(INT32_MIN, INT32_MAX, "element start"));
      z.ResetAtoms();
      if (z.First < previousFirst || z.First > bound) {
        p_.Context.Report(het ? "Error in reading overview2card - bad number"
                              : "Error in reading overvwcard - bad number");
        p_.SetWarningStatus(TRunStatus::OverviewBadNumber, het ? "Error in reading overview2card - bad number"
                                    : "Error in reading overviewcard - bad number");
      }
      previousFirst = z.First;
      if (e > from) p_.ElementRow(e - 1).Last = z.First - 1;
    }
    if (to >= from) p_.ElementRow(to).Last = static_cast<std::int32_t>(bound);
  }

  void LoadConnections() {
    while (r_.Boolean()) {
      const std::int64_t n = r_.Integer(1, maxCount_, "chain length");
      std::int64_t previous = 0;
      for (std::int64_t k = 0; k < n; ++k) {
        const std::int64_t e = r_.Integer(1, p_.ElementCount + p_.HetElementCount, "element number");
        if (previous > 0) {
          p_.ElementRow(previous).ConnectedTo = static_cast<std::int32_t>(e);
          p_.ElementRow(e).ConnectedFrom = static_cast<std::int32_t>(previous);
        }
        previous = e;
      }
      p_.StreamFlag = true;  // the connection flag: at least one chain was read
    }
  }

  // Reads one atom record; false (status Failed) when its element breaks the sequence.
  bool LoadAtomRecord(bool het) {
    const std::int64_t e = r_.Integer();
    if (e != currentElement_ && e != currentElement_ + 1) {
      p_.Context.Report(kStructureReadError);
      p_.SetFatalStatus(kStructureReadError);
      return false;
    }
    if (e < 1 || e > p_.ElementCount + p_.HetElementCount) throw StreamError("element number " + std::to_string(e) + " without a row");
    if (e != currentElement_) {
      currentElement_ = e;
      entryCounter_ = 0;
    }
    const std::string label = Fixed(r_.String(), kIdLength + 2 * kNameLength);
    // Protein atoms hold the numbers 1 .. protein atom count; the hetero atoms
    // take the numbers after them.
    const std::int64_t number = r_.Integer(1, het ? maxCount_ : proteinAtoms_, "atom number");
    auto atom = std::make_unique<TAtom>();
    atom->Number = static_cast<std::int32_t>(number);
    atom->X = static_cast<float>(r_.Scaled());
    atom->Y = static_cast<float>(r_.Scaled());
    atom->Z = static_cast<float>(r_.Scaled());
    atom->Occupancy = static_cast<float>(r_.Scaled());
    atom->BFactor = static_cast<float>(r_.Scaled());
    atom->Volume = static_cast<float>(r_.Scaled());
    atom->ContactVolume = static_cast<float>(r_.Scaled());
    const std::int64_t k = r_.Integer(0, INT32_MAX, "entry count");
    TElementZeile& z = p_.ElementRow(e);
    if (!z.ElementAtoms) z.ResetAtoms();
    atom->NeighbourStart = entryCounter_;
    for (std::int64_t i = 0; i < k; ++i) z.ElementAtoms->push_back(DecodeNeighbour(r_.Integer()));
    entryCounter_ += static_cast<std::int32_t>(k);
    atom->NeighbourCount = static_cast<std::int32_t>(k);

    const std::string id = label.substr(0, kIdLength);
    const std::string resName = label.substr(kIdLength, kNameLength);
    const std::string name = label.substr(kIdLength + kNameLength, kNameLength);
    if (het) {
      auto h = std::make_unique<THetAtom>();
      h->ResNumber = id.substr(0, 5);
      h->Chain = id[5];
      h->ResName = resName.substr(0, 3) + ' ';
      h->AltLoc = resName[3];
      h->AtomName = name;
      ClassifyHetAtom(p_.Context, name, atom->RadiusType, atom->AtomCode);
      if (z.ElementKind == TElementKind::Water) atom->AtomCode = kWaterCode;
      h->Atom = atom.get();
      h->OwnedAtom = std::move(atom);
      p_.HetAtoms.push_back(std::move(h));
      return true;
    }

    if (!residue_ || id != residue_->ResidueId) {
      FinishResidue();
      auto r = std::make_unique<TBACKBONE>(static_cast<std::int32_t>(p_.Residues.size()) + 1);
      r->ResidueId = id;
      r->ResidueName = resName;
      r->OneLetter = ResidueLetter(resName.substr(0, 3));
      r->SideChainStart = static_cast<std::int32_t>(p_.SideAtoms.size()) - 1;
      r->FirstAtom = atom->Number;
      residue_ = r.get();
      p_.Residues.push_back(std::move(r));
    }
    TBACKBONE& r = *residue_;
    atom->ResidueIndex = r.Index;
    const int kind = BackboneKindOf(name);
    TAtom** slot = nullptr;
    if (kind >= 0) {
      slot = kind == kBackboneN ? &r.AtomN : kind == kBackboneCA ? &r.AtomCA : kind == kBackboneC ? &r.AtomC : &r.AtomO;
      // A stream we wrote never repeats one; skipping it would leave its number
      // unused and the next save would lose another atom to the gap.
      if (*slot) throw StreamError("residue " + r.ResidueId + " repeats its backbone atom" + name);
      atom->RadiusType = static_cast<std::uint8_t>(kind);
      BackboneAtomCode(p_.Context, r.OneLetter, kind, atom->AtomCode);
    } else {
      if (r.SideChainCount >= kMaxSideChainPerResidue) throw StreamError("too many side-chain atoms in residue " + r.ResidueId);
      FindSideAtom(p_.Context, r.OneLetter, name, atom->RadiusType, atom->AtomCode);
    }
    const int slotNumber = atom->Number;
    if (p_.AtomAt(slotNumber)) throw StreamError("atom number " + std::to_string(slotNumber) + " used twice");
    TAtom* stored = atom.get();
    p_.PutAtom(slotNumber, std::move(atom));
    if (slot) {
      *slot = stored;
    } else {
      p_.SideAtoms.push_back(stored);
      p_.SideAtomNames.push_back(name);
      ++r.SideChainCount;
    }
    return true;
  }

  // The save visits a residue's atoms by number, FirstAtom .. FirstAtom + 3 +
  // SideChainCount, and names the side-chain atoms in that order. A stream
  // whose numbers break that layout (only a damaged one can) would come back
  // with atoms lost or renamed, so it is refused.
  void CheckResidueNumbering() const {
    for (const auto& res : p_.Residues) {
      const TBACKBONE& r = *res;
      const std::int64_t lo = r.FirstAtom, hi = static_cast<std::int64_t>(r.FirstAtom) + 3 + r.SideChainCount;
      auto inRange = [&](const TAtom* a) { return a == nullptr || (a->Number >= lo && a->Number <= hi); };
      bool ok = inRange(r.AtomN) && inRange(r.AtomCA) && inRange(r.AtomC) && inRange(r.AtomO);
      std::int64_t previous = lo - 1;
      for (int k = 1; ok && k <= r.SideChainCount; ++k) {
        const TAtom* a = p_.SideAtoms[static_cast<std::size_t>(r.SideChainStart + k)];
        ok = inRange(a) && a->Number > previous && BackboneName(a->RadiusType) == nullptr;
        previous = a->Number;
      }
      if (!ok) throw StreamError("atom numbers do not follow residue " + r.ResidueId);
    }
  }

  // Places the amide hydrogen of the residue just completed, as the input assembly does.
  void FinishResidue() {
    if (!residue_ || !residue_->AtomN) {
      residue_ = nullptr;
      return;
    }
    TBACKBONE& r = *residue_;
    residue_ = nullptr;
    const TAtom& n = *r.AtomN;
    r.HPos = n;
    if (r.Index < 2 || r.OneLetter == 'P') return;
    if (std::find(p_.ChainBreaks.begin(), p_.ChainBreaks.end(), r.Index - 1) != p_.ChainBreaks.end()) return;
    const TBACKBONE& prev = p_.Residue(r.Index - 1);
    if (!prev.AtomC || !prev.AtomO) return;
    const double d = Distance(*prev.AtomC, *prev.AtomO);
    if (d != 0) {
      const long double ld = d;
      r.HPos.X = static_cast<float>(n.X + (static_cast<long double>(prev.AtomC->X) - prev.AtomO->X) / ld);
      r.HPos.Y = static_cast<float>(n.Y + (static_cast<long double>(prev.AtomC->Y) - prev.AtomO->Y) / ld);
      r.HPos.Z = static_cast<float>(n.Z + (static_cast<long double>(prev.AtomC->Z) - prev.AtomO->Z) / ld);
    } else {
      p_.Context.Report("Coordinates of atoms N and O in residue " + prev.ResidueId + " are identical !!!");
      p_.SetWarningStatus(TRunStatus::CarbonylAtomsCoincide, " !!! RESIDUE " + r.ResidueName + r.ResidueId + " HAS EQUAL COORDINATES for atoms C and O");
    }
  }

  TProteinObject& p_;
  TStreamReader& r_;
  std::int64_t maxCount_;
  std::int64_t residueCount_ = 0, proteinAtoms_ = 0, atomCount_ = 0;
  std::int64_t currentElement_ = 0;
  std::int32_t entryCounter_ = 0;
  TBACKBONE* residue_ = nullptr;
};

}  // namespace

void LoadFromStream(TProteinObject& protein, std::istream& in) {
  TLogFileObject* previous = protein.Context.Log;
  protein.Context.Log = &protein;
  // Counts are bounded by the bytes left in the stream where it can tell them.
  std::int64_t bound = kMaxStoredCount;
  const std::istream::pos_type here = in.tellg();
  if (here != std::istream::pos_type(-1) && in.seekg(0, std::ios::end)) {
    const std::istream::pos_type end = in.tellg();
    if (end != std::istream::pos_type(-1) && end >= here) bound = std::min<std::int64_t>(bound, end - here);
  }
  in.clear();
  in.seekg(here);
  TStreamReader reader(in);
  TStreamLoader loader(protein, reader, bound);
  try {
    loader.Load();
  } catch (const StreamError& e) {
    protein.Context.Report(std::string("Error in reading stream - ") + e.what());
    protein.SetFatalStatus(kStructureReadError);
  }
  protein.Context.Log = previous;
}

}  // namespace cavitas
