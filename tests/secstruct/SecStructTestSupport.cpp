#include "SecStructTestSupport.h"

#include <cmath>
#include <sstream>

#include "frame/LogFile.h"

namespace cavitas::testing {

namespace {

struct V {
  double x, y, z;
};
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator*(V a, double s) { return {a.x * s, a.y * s, a.z * s}; }
V Cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V Unit(V a) { return a * (1 / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z)); }

constexpr double kDeg = 3.14159265358979323846 / 180;

// Places D with |CD| = bond, angle BCD = angle and dihedral ABCD = torsion (degrees).
V Place(V a, V b, V c, double bond, double angle, double torsion) {
  const V bc = Unit(c - b);
  const V n = Unit(Cross(b - a, bc));
  const V m = Cross(n, bc);
  const double th = angle * kDeg, to = torsion * kDeg;
  const V d2{-bond * std::cos(th), bond * std::sin(th) * std::cos(to), bond * std::sin(th) * std::sin(to)};
  return c + bc * d2.x + m * d2.y + n * d2.z;
}

TCoord ToCoord(V v) { return TCoord{static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)}; }

}  // namespace

int AppendResidue(TProteinObject& p, const TCoord& n, const TCoord& ca, const TCoord& c, const TCoord& o, char letter) {
  const int index = p.ResidueCount + 1;
  auto r = std::make_unique<TBACKBONE>(index);
  char id[16];
  std::snprintf(id, sizeof id, "%4d A", index % 10000);
  r->ResidueId = id;
  r->OneLetter = letter;
  TAtom** slots[] = {&r->AtomN, &r->AtomCA, &r->AtomC, &r->AtomO};
  const TCoord* coords[] = {&n, &ca, &c, &o};
  for (int k = 0; k < 4; ++k) {
    auto atom = std::make_unique<TAtom>();
    static_cast<TCoord&>(*atom) = *coords[k];
    atom->Number = static_cast<std::int32_t>(p.Atoms.size());
    atom->ResidueIndex = index;
    *slots[k] = atom.get();
    p.Atoms.push_back(std::move(atom));
  }
  r->HPos = n;
  if (index > 1 && letter != 'P') {
    const TBACKBONE& prev = p.Residue(index - 1);
    const double d = Distance(*prev.AtomC, *prev.AtomO);
    r->HPos.X = static_cast<float>(n.X + (prev.AtomC->X - prev.AtomO->X) / d);
    r->HPos.Y = static_cast<float>(n.Y + (prev.AtomC->Y - prev.AtomO->Y) / d);
    r->HPos.Z = static_cast<float>(n.Z + (prev.AtomC->Z - prev.AtomO->Z) / d);
  }
  p.Residues.push_back(std::move(r));
  p.ResidueCount = index;
  p.ProteinAtomCount = p.AtomCount = static_cast<std::int32_t>(p.Atoms.size()) - 1;
  return index;
}

std::unique_ptr<TProteinObject> BuildBackbone(const std::vector<double>& phi, const std::vector<double>& psi,
                                              const std::string& letters) {
  auto p = std::make_unique<TProteinObject>();
  const std::size_t count = phi.size();
  V n{0, 0, 0}, ca{1.458, 0, 0};
  V c = Place(V{0, 1, 0}, n, ca, 1.525, 111.2, -60);
  for (std::size_t i = 0; i < count; ++i) {
    const V nNext = Place(n, ca, c, 1.329, 116.2, psi[i]);
    const V o = Place(nNext, ca, c, 1.231, 120.5, 180);
    AppendResidue(*p, ToCoord(n), ToCoord(ca), ToCoord(c), ToCoord(o), i < letters.size() ? letters[i] : 'A');
    if (i + 1 == count) break;
    const V caNext = Place(ca, c, nNext, 1.458, 121.7, 180);
    const V cNext = Place(c, nNext, caNext, 1.525, 111.2, phi[i + 1]);
    n = nNext, ca = caNext, c = cNext;
  }
  return p;
}

std::unique_ptr<TProteinObject> BuildHelix(int residues) {
  return BuildBackbone(std::vector<double>(static_cast<std::size_t>(residues), -57),
                       std::vector<double>(static_cast<std::size_t>(residues), -47));
}

std::unique_ptr<TProteinObject> BuildExtended(int residues) {
  return BuildBackbone(std::vector<double>(static_cast<std::size_t>(residues), -120),
                       std::vector<double>(static_cast<std::size_t>(residues), 130));
}

std::unique_ptr<TProteinObject> BuildLine(int residues) {
  auto p = std::make_unique<TProteinObject>();
  for (int i = 1; i <= residues; ++i) {
    const float x = 3.8f * static_cast<float>(i);
    AppendResidue(*p, Coord(x - 1, 0.5f, 0), Coord(x, 0, 0), Coord(x + 1, 0.5f, 0), Coord(x + 1, 1.7f, 0));
  }
  return p;
}

void SetBond(TProteinObject& p, int donor, int acceptor, int energy) {
  TBACKBONE& r = p.Residue(donor);
  TBond& slot = r.NHBond1.Energy == 0 ? r.NHBond1 : r.NHBond2;
  slot = TBond{acceptor, energy};
}

void SetSymbols(TProteinObject& p, const std::string& symbols) {
  for (std::size_t k = 0; k < symbols.size() && static_cast<int>(k) < p.ResidueCount; ++k)
    p.Residue(static_cast<int>(k) + 1).SSSymbol = symbols[k];
}

std::string Symbols(const TProteinObject& p) {
  std::string s;
  for (int i = 1; i <= p.ResidueCount; ++i) s += p.Residue(i).SSSymbol;
  return s;
}

LogCapture::LogCapture(TProteinObject& p) : protein_(p), previous_(p.Context.Log) {
  p.SetLogFile(dir_.File("test.log"));
  p.ClearLog();
  p.Context.Log = &p;
}

LogCapture::~LogCapture() { protein_.Context.Log = previous_; }

std::vector<std::string> LogCapture::Lines() const {
  std::istringstream in(ReadFile(dir_.File("test.log")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace cavitas::testing
