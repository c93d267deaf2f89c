#include "input/InputFormat.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "frame/Error.h"

namespace cavitas {

namespace {

bool IsGzip(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

// Inflates every gzip member of `packed` into one text.
std::string Gunzip(const std::string& packed, const std::string& fileName, std::size_t limit) {
  const std::string what = "cannot read input file " + fileName + ": ";
  std::string out;
  z_stream z{};
  if (inflateInit2(&z, 15 + 16) != Z_OK) throw IoError(what + "cannot start the gzip decoder");
  std::size_t consumed = 0;
  std::array<char, 1 << 16> buffer;
  int status = Z_OK;
  for (;;) {
    // zlib counts in 32-bit units: hand it the input in slices.
    const std::size_t left = packed.size() - consumed;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data() + consumed));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    const uInt offered = z.avail_in;
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
    status = inflate(&z, Z_NO_FLUSH);
    consumed += offered - z.avail_in;
    out.append(buffer.data(), buffer.size() - z.avail_out);
    if (out.size() > limit) {
      inflateEnd(&z);
      throw IoError(what + "unpacks to more than " + std::to_string(limit) + " bytes");
    }
    if (status == Z_STREAM_END) {
      // Another member may follow; trailing zero bytes end the data.
      std::size_t next = consumed;
      while (next < packed.size() && packed[next] == '\0') ++next;
      if (next >= packed.size() || !IsGzip(packed.substr(next, 2))) break;
      consumed = next;
      inflateReset(&z);
      continue;
    }
    if (status == Z_OK || status == Z_BUF_ERROR) {
      if (consumed >= packed.size() && z.avail_out != 0) {
        inflateEnd(&z);
        throw IoError(what + "the gzip data is truncated");
      }
      continue;
    }
    const std::string reason = z.msg ? z.msg : "corrupt gzip data";
    inflateEnd(&z);
    throw IoError(what + "corrupt gzip data (" + reason + ")");
  }
  inflateEnd(&z);
  return out;
}

// The first non-blank content, past comment lines, opens a data block.
bool LooksLikeCif(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '#') {
      const std::size_t end = text.find('\n', i);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      if (text.size() - i < 5) return false;
      char head[5];
      for (int k = 0; k < 5; ++k) head[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + k])));
      return std::string_view(head, 5) == "data_";
    }
  }
  return false;
}

// Some line begins with a record name of the PDB format.
bool LooksLikePdb(std::string_view text) {
  static constexpr std::string_view kRecords[] = {
      "ATOM  ", "HETATM", "HEADER", "COMPND", "SOURCE", "AUTHOR", "REMARK", "SSBOND", "MODEL ", "ENDMDL",
      "TER",    "END",    "CRYST1", "SEQRES", "TITLE ", "KEYWDS", "EXPDTA", "HELIX ", "SHEET ", "ORIGX",
      "SCALE",  "CONECT", "MASTER", "HET   ", "HETNAM", "FORMUL", "LINK  ", "JRNL  ", "REVDAT", "ANISOU",
      "OBSLTE", "SPLIT ", "CAVEAT", "NUMMDL", "MDLTYP", "SPRSDE", "DBREF", "SEQADV", "MODRES", "HETSYN",
      "SITE  ", "CISPEP", "MTRIX"};
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::string_view line = text.substr(begin, 6);
    for (std::string_view r : kRecords)
      if (line.size() >= r.size() && line.compare(0, r.size(), r) == 0) return true;
    const std::size_t end = text.find_first_of("\r\n", begin);
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return false;
}

}  // namespace

std::string TInputKind::Name() const {
  std::string name = Format == TCoordinateFormat::Cif ? "mmCIF" : "PDB";
  return Gzipped ? name + " (gzip)" : name;
}

TInputKind DecodeInput(TInputText& text, std::size_t unpackLimit) {
  TInputKind kind;
  if (IsGzip(text.Bytes)) {
    text.Bytes = Gunzip(text.Bytes, text.FileName, unpackLimit);
    kind.Gzipped = true;
  }
  if (LooksLikeCif(text.Bytes)) {
    kind.Format = TCoordinateFormat::Cif;
  } else if (!LooksLikePdb(text.Bytes)) {
    throw IoError("cannot read input file " + text.FileName + ": not a PDB or mmCIF file");
  }
  return kind;
}

}  // namespace cavitas
