#include "input/InputTestSupport.h"

#include <cstdio>

#include "input/ReadProtein.h"

namespace cavitas::testing {

namespace {

std::string Record(const char* kind, int serial, const std::string& name, char altLoc, const std::string& residue,
                   char chain, int number, char insertion, double x, double y, double z) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%-6s%5d %-4.4s%c%-3.3s %c%4d%c   %8.3f%8.3f%8.3f%6.2f%6.2f\n", kind,
                serial % 100000, name.c_str(), altLoc, residue.c_str(), chain, number % 10000, insertion, x, y, z,
                1.0, 20.0);
  return buffer;
}

}  // namespace

std::string AtomLine(int serial, const std::string& name, const std::string& residue, char chain, int number, double x,
                     double y, double z, char altLoc, char insertion) {
  return Record("ATOM", serial, name, altLoc, residue, chain, number, insertion, x, y, z);
}

std::string HetAtomLine(int serial, const std::string& name, const std::string& residue, char chain, int number,
                        double x, double y, double z) {
  return Record("HETATM", serial, name, ' ', residue, chain, number, ' ', x, y, z);
}

std::string HeaderCards() {
  return "HEADER    TEST STRUCTURE                          01-JAN-00   1TST              \n"
         "COMPND    TEST                                                                \n"
         "SOURCE    CRAFTED                                                             \n"
         "AUTHOR    NOBODY                                                              \n";
}

TChainBuilder& TChainBuilder::Residue(const std::string& name, const std::vector<std::string>& sideNames,
                                      char insertion) {
  // Direction of this residue: along x in rows, two residues sideways at a row's end.
  double dx = direction_, dy = 0;
  if (inRow_ >= rowLength_) {
    dx = 0;
    dy = 1;
    if (++inRow_ >= rowLength_ + 2) {
      inRow_ = 0;
      direction_ = -direction_;
    }
  } else {
    ++inRow_;
  }
  if (number_ > 1) {
    // N follows the previous C at 1.3 Å (plus any gap) along this residue's direction.
    x_ += dx * (1.3 + gap_);
    y_ += dy * (1.3 + gap_);
    gap_ = 0;
  }
  const double nx = x_, ny = y_, nz = z_;
  const double cax = nx + 1.2 * dx, cay = ny + 1.2 * dy, caz = nz + 0.8;
  const double cx = nx + 2.5 * dx, cy = ny + 2.5 * dy, cz = nz;
  text_ += AtomLine(serial_++, " N  ", name, chain_, number_, nx, ny, nz, ' ', insertion);
  text_ += AtomLine(serial_++, " CA ", name, chain_, number_, cax, cay, caz, ' ', insertion);
  text_ += AtomLine(serial_++, " C  ", name, chain_, number_, cx, cy, cz, ' ', insertion);
  text_ += AtomLine(serial_++, " O  ", name, chain_, number_, cx, cy, cz + 1.2, ' ', insertion);
  double lift = 1.5;
  for (const std::string& side : sideNames) {
    text_ += AtomLine(serial_++, side, name, chain_, number_, cax, cay, caz + lift, ' ', insertion);
    lift += 0.4;
  }
  x_ = cx;
  y_ = cy;
  ++number_;
  return *this;
}

TChainBuilder& TChainBuilder::Raw(const std::string& line) {
  text_ += line;
  return *this;
}

TChainBuilder& TChainBuilder::Ter() {
  text_ += "TER   \n";
  return *this;
}

TChainBuilder& TChainBuilder::Gap(double gap) {
  gap_ = gap;
  return *this;
}

TChainBuilder& TChainBuilder::RowLength(int n) {
  rowLength_ = n;
  return *this;
}

std::string WithCrLf(const std::string& lf) {
  std::string out;
  out.reserve(lf.size() + lf.size() / 40);
  for (char c : lf) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TReadResult ReadPdbFile(const std::string& path) {
  TempDir dir;
  TReadResult result;
  result.Protein = std::make_unique<TProteinObject>();
  const std::string log = dir.File("read.log");
  ReadProtein(*result.Protein, path, log, 0);
  const std::string text = ReadFile(log);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    result.Log.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return result;
}

TReadResult ReadPdbText(const std::string& text) {
  TempDir dir;
  const std::string path = dir.File("input.pdb");
  WriteFile(path, text);
  return ReadPdbFile(path);
}

bool LogHas(const TReadResult& r, const std::string& line) {
  for (const std::string& l : r.Log)
    if (l == line) return true;
  return false;
}

}  // namespace cavitas::testing
