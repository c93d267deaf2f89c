#pragma once
// The binary stream form of a protein object: a sequence of tagged values
// (Integer, String, Char, Boolean; little-endian two's complement) in a fixed
// order. The stream operations are free functions here rather than virtual
// members of the protein object, so that the model does not depend on this
// subsystem.
#include <cstdint>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>

#include "model/Protein.h"

namespace cavitas {

enum TStreamTag : std::uint8_t {
  kTagInt8 = 2,
  kTagInt16 = 3,
  kTagInt32 = 4,
  kTagString = 6,
  kTagFalse = 8,
  kTagTrue = 9,
  kTagLongString = 12,
  kTagInt64 = 19,
  kTagUtf8String = 20,
};

// A stream that ends early or holds a value of the wrong kind.
struct StreamError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TStreamWriter {
 public:
  explicit TStreamWriter(std::ostream& out) : out_(out) {}
  ~TStreamWriter() { Flush(); }
  TStreamWriter(const TStreamWriter&) = delete;
  TStreamWriter& operator=(const TStreamWriter&) = delete;

  void Integer(std::int64_t v);
  void String(const std::string& text);
  void Char(char c) { String(std::string(1, c)); }
  void Boolean(bool b) { Byte(b ? kTagTrue : kTagFalse); }
  // A real stored as the Integer round(v x 1000), halves to even.
  void Scaled(long double v);
  void Flush() { out_.flush(); }

 private:
  void Byte(std::uint8_t b) { out_.put(static_cast<char>(b)); }
  void Bytes(std::uint64_t v, int n);
  std::ostream& out_;
};

// Every read throws StreamError on a truncated stream or an unexpected tag.
class TStreamReader {
 public:
  explicit TStreamReader(std::istream& in) : in_(in) {}
  std::int64_t Integer();
  // An Integer that must lie in lo..hi; `what` names it in the error.
  std::int64_t Integer(std::int64_t lo, std::int64_t hi, const char* what);
  std::string String();
  char Char();
  bool Boolean();
  double Scaled() { return static_cast<double>(Integer()) * 0.001; }

 private:
  std::uint8_t Byte();
  std::uint64_t Bytes(int n);
  std::istream& in_;
};

// A neighbour entry as one Integer: round((d + a x 10 + 1) x 10), and back.
std::int64_t EncodeNeighbour(const TNachbarStruktur& n);
TNachbarStruktur DecodeNeighbour(std::int64_t v);

void SaveToStream(const TSSSE& sse, TStreamWriter& w);
void LoadFromStream(TSSSE& sse, TStreamReader& r);
void SaveToStream(const TSSSECol& col, TStreamWriter& w);
void LoadFromStream(TSSSECol& col, TStreamReader& r);
void SaveLines(const TMyCollection<TString>& list, TStreamWriter& w);
void LoadLines(TMyCollection<TString>& list, TStreamReader& r);

// Writes the protein object. Atom records are written for the atoms of the
// element ranges; the protein and total atom counts in the stream are the
// numbers of records written, so that a load always finds what it expects.
void SaveToStream(const TProteinObject& protein, std::ostream& out);
// Reads the layout into a freshly constructed protein object and rebuilds its
// residues. A malformed stream is reported, sets status Failed and ends the load;
// no table is written outside its bounds.
void LoadFromStream(TProteinObject& protein, std::istream& in);

}  // namespace cavitas
