// Geometric perturbations of real structures through the whole analysis: the
// input bytes choose a structure (pept or 1ubq) and a short program of edits
// to its ATOM and HETATM lines: duplicate a line, move one atom (up to far
// beyond the coordinate range), move or scale the whole structure, snap all
// atoms to a lattice, put one atom on another, collapse a run of atoms to a
// point, add a stray ion. Every fatal error is a finding (see FuzzRun.h).
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzRun.h"

namespace {

struct TStructure {
  std::vector<std::string> Lines;
  std::vector<std::size_t> Atoms;  // positions of the ATOM and HETATM lines
};

TStructure Load(const std::string& name) {
  TStructure s;
  std::ifstream in(std::string(CAVITAS_FUZZ_DATA) + "/" + name);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("ATOM  ", 0) == 0 || line.rfind("HETATM", 0) == 0) {
      if (line.size() < 54) continue;
      s.Atoms.push_back(s.Lines.size());
    }
    s.Lines.push_back(line);
  }
  if (s.Atoms.empty()) std::abort();  // the data files are part of the build
  return s;
}

class TBytes {
 public:
  TBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  unsigned Next() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned Word() { return Next() << 8 | Next(); }
  double Signed() { return (static_cast<double>(Next()) - 127.5) / 127.5; }  // -1..1

 private:
  const std::uint8_t* data_;
  std::size_t size_, at_ = 0;
};

double Coordinate(const std::string& line, int k) { return std::atof(line.substr(30 + 8 * static_cast<std::size_t>(k), 8).c_str()); }

// Eight columns whatever the value: fewer decimals, then an exponent.
std::string Field(double v) {
  char buffer[64];
  for (const char* format : {"%8.3f", "%8.2f", "%8.1f", "%8.0f", "%8.1e", "%8.0e"}) {
    std::snprintf(buffer, sizeof buffer, format, v);
    if (std::string(buffer).size() == 8) return buffer;
  }
  return "   nan  ";
}

void SetCoordinates(std::string& line, const double c[3]) {
  line.replace(30, 24, Field(c[0]) + Field(c[1]) + Field(c[2]));
}

void Edit(TStructure& s, TBytes& in) {
  const std::size_t n = s.Atoms.size();
  auto atom = [&]() -> std::string& { return s.Lines[s.Atoms[in.Word() % n]]; };
  auto each = [&](auto&& change) {
    for (const std::size_t a : s.Atoms) {
      double c[3] = {Coordinate(s.Lines[a], 0), Coordinate(s.Lines[a], 1), Coordinate(s.Lines[a], 2)};
      change(c);
      SetCoordinates(s.Lines[a], c);
    }
  };
  switch (in.Next() % 8) {
    case 0: {  // a duplicated line, right after the original or elsewhere
      const std::size_t k = s.Atoms[in.Word() % n];
      const std::size_t to = in.Next() % 2 ? k + 1 : s.Atoms[in.Word() % n];
      s.Lines.insert(s.Lines.begin() + static_cast<std::ptrdiff_t>(to), s.Lines[k]);
      for (std::size_t& a : s.Atoms)
        if (a >= to) ++a;
      s.Atoms.push_back(to);
      break;
    }
    case 1: {  // one atom moved by up to 10^5 Å
      std::string& line = atom();
      const double scale = std::pow(10.0, in.Next() % 6);
      double c[3];
      for (int k = 0; k < 3; ++k) c[k] = Coordinate(line, k) + in.Signed() * scale;
      SetCoordinates(line, c);
      break;
    }
    case 2: {  // the whole structure moved by up to 6000 Å
      const double d[3] = {in.Signed() * 6000, in.Signed() * 6000, in.Signed() * 6000};
      each([&](double* c) {
        for (int k = 0; k < 3; ++k) c[k] += d[k];
      });
      break;
    }
    case 3: {  // scaled by 0.05 .. 4
      const double f = 0.05 + in.Next() / 64.0;
      each([&](double* c) {
        for (int k = 0; k < 3; ++k) c[k] *= f;
      });
      break;
    }
    case 4: {  // snapped to a lattice of 0.25 .. 3 Å
      const double step = 0.25 * (1 + in.Next() % 12);
      each([&](double* c) {
        for (int k = 0; k < 3; ++k) c[k] = std::round(c[k] / step) * step;
      });
      break;
    }
    case 5: {  // one atom on another
      const std::string& from = atom();
      const std::string place = from.substr(30, 24);
      atom().replace(30, 24, place);
      break;
    }
    case 6: {  // a run of atoms on one point
      const std::size_t first = in.Word() % n, count = 1 + in.Next() % 64;
      const std::string place = s.Lines[s.Atoms[first]].substr(30, 24);
      for (std::size_t k = first; k < first + count && k < n; ++k) s.Lines[s.Atoms[k]].replace(30, 24, place);
      break;
    }
    default: {  // a stray ion
      const double scale = std::pow(10.0, 1 + in.Next() % 4);
      const double c[3] = {in.Signed() * scale, in.Signed() * scale, in.Signed() * scale};
      std::string line = "HETATM99999 NA    NA Z 999    " + std::string(24, ' ') + "  1.00 20.00          NA";
      SetCoordinates(line, c);
      s.Lines.insert(s.Lines.end() - 1, line);
      s.Atoms.push_back(s.Lines.size() - 2);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TStructure pept = Load("pept.pdb"), ubq = Load("1ubq.pdb");
  static const std::string path = "/tmp/cavitas_fuzz_geometry_" + std::to_string(::getpid()) + ".pdb";
  TBytes in(data, size);
  TStructure s = in.Next() % 8 == 0 ? ubq : pept;
  for (int op = 0; op < 16 && in.More(); ++op) Edit(s, in);
  std::ostringstream text;
  for (const std::string& line : s.Lines) text << line << '\n';
  cavitas::fuzz::RunWholeAnalysis(path, text.str());
  return 0;
}
