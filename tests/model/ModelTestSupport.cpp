#include "ModelTestSupport.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace cavitas::testing {

ReportCapture::ReportCapture() {
  log_.SetLogFile(dir_.File("report.log"));
  Run.Log = &log_;
}

std::vector<std::string> ReportCapture::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(log_.LogFileName));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TAtom& AppendAtom(TProteinObject& p, float x, float y, float z) {
  auto atom = std::make_unique<TAtom>();
  atom->X = x;
  atom->Y = y;
  atom->Z = z;
  const int number = ++p.AtomCount;
  atom->Number = number;
  TAtom& ref = *atom;
  p.PutAtom(number, std::move(atom));
  return ref;
}

bool LoadCoordinates(const std::string& path, TProteinObject& p) {
  std::ifstream in(path);
  if (!in) return false;
  std::vector<TCoord> protein, het;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("ENDMDL", 0) == 0) break;
    const bool isAtom = line.rfind("ATOM  ", 0) == 0, isHet = line.rfind("HETATM", 0) == 0;
    if ((!isAtom && !isHet) || line.size() < 54) continue;
    TCoord c;
    c.X = std::stof(line.substr(30, 8));
    c.Y = std::stof(line.substr(38, 8));
    c.Z = std::stof(line.substr(46, 8));
    (isAtom ? protein : het).push_back(c);
  }
  for (const TCoord& c : protein) AppendAtom(p, c.X, c.Y, c.Z);
  p.ProteinAtomCount = p.AtomCount;
  for (const TCoord& c : het) AppendAtom(p, c.X, c.Y, c.Z);
  return true;
}

}  // namespace cavitas::testing
