#include "cavity/ViewerFiles.h"

#include <charconv>
#include <algorithm>
#include <map>
#include <string_view>


namespace cavitas {

namespace {

// Colours of the four groups in both viewers.
const char* GroupColour(THoleGroup g) {
  switch (g) {
    case THoleGroup::PartlyFilled: return "orange";
    case THoleGroup::Empty: return "marine";
    case THoleGroup::PartlyFilledHetRemoved: return "green";
    default: return "magenta";
  }
}
const char* ChimeraColour(THoleGroup g) {
  switch (g) {
    case THoleGroup::PartlyFilled: return "orange";
    case THoleGroup::Empty: return "royal blue";
    case THoleGroup::PartlyFilledHetRemoved: return "forest green";
    default: return "magenta";
  }
}

// Text placed right- or left-aligned in columns [first, first + width) of a
// record, cut to the width; a byte outside printable ASCII becomes '?'
// (readers expect plain text).
void Put(char* line, std::size_t first, std::size_t width, std::string_view text, bool right = false) {
  const std::size_t n = std::min(width, text.size());
  char* out = line + first - 1 + (right ? width - n : 0);
  for (std::size_t k = 0; k < n; ++k) {
    const char c = text[k];
    out[k] = (c < 0x20 || c > 0x7e) ? '?' : c;
  }
}

// A number right-aligned in `width` columns with the most decimals (at most
// `decimals`) that fit; false when not even the integer part fits.
bool PutNumber(char* line, std::size_t first, std::size_t width, double v, int decimals) {
  if (v == 0) v = 0;  // no "-0.00"
  for (int d = decimals; d >= 0; --d) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d);
    std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
    if (text.find_first_not_of("-0.") == std::string_view::npos && text.front() == '-') text.remove_prefix(1);
    if (text.size() <= width) {
      Put(line, first, width, text, true);
      return true;
    }
  }
  return false;
}

// One ATOM or HETATM record of 80 columns.
std::string AtomRecord(bool hetero, std::int32_t serial, const std::string& name4, const std::string& resName,
                       const std::string& chain, const std::string& resNumber, const std::string& icode,
                       const TCoord& xyz, double occupancy, double b, const std::string& element) {
  char line[81];
  std::fill(line, line + 80, ' ');
  line[80] = '\n';
  Put(line, 1, 6, hetero ? "HETATM" : "ATOM  ");
  Put(line, 7, 5, Hybrid36(serial));
  Put(line, 13, 4, name4);
  Put(line, 18, 3, resName, true);
  Put(line, 22, 1, chain);
  Put(line, 23, 4, resNumber, true);
  Put(line, 27, 1, icode);
  const float c[3] = {xyz.X, xyz.Y, xyz.Z};
  for (std::size_t k = 0; k < 3; ++k) PutNumber(line, 31 + 8 * k, 8, c[k], 3);
  PutNumber(line, 55, 6, occupancy, 2);
  if (!PutNumber(line, 61, 6, b, 2)) Put(line, 61, 6, b < 0 ? "-99999" : "999999");
  Put(line, 77, 2, element, true);
  return std::string(line, sizeof line);
}

// Base-36 name of the k-th point of a cavity, "Q" and three digits.
std::string PointName(std::size_t k) {
  const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s = "Q000";
  for (int i = 3; i >= 1; --i) {
    s[static_cast<std::size_t>(i)] = digits[k % 36];
    k /= 36;
  }
  return s;
}

constexpr std::size_t kMaxPointsPerCavity = 36 * 36 * 36;

// Sequential serials of the viewer file, in the order it lists the atoms:
// the atom number of each, then the points of each cavity.
struct TSerials {
  std::map<std::int32_t, std::int32_t> OfAtom;
};

TSerials NumberAtoms(const TStructureLabels& labels) {
  TSerials s;
  std::int32_t serial = 0;
  for (const TResidueLabel& r : labels.Residues)
    for (const TAtomIndex n : r.Atoms) s.OfAtom[n] = ++serial;
  return s;
}

// The serials of the lining atoms' residues, for "byres" selections.
std::string IdList(const THoleReport& h, const TSerials& serials) {
  std::string ids;
  for (const TAtomIndex n : h.LiningAtoms) {
    const auto it = serials.OfAtom.find(n);
    if (it == serials.OfAtom.end()) continue;
    if (!ids.empty()) ids += '+';
    ids += std::to_string(it->second);
  }
  return ids;
}

}  // namespace

std::string Hybrid36(std::int32_t value) {
  if (value >= -9999 && value <= 99999) {
    const std::string s = std::to_string(value);
    return std::string(5 - s.size(), ' ') + s;
  }
  constexpr std::int64_t k36p4 = 36 * 36 * 36 * 36;
  std::int64_t v = static_cast<std::int64_t>(value) - 100000;
  const char* digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  if (v < 0 || v >= 2 * 26 * k36p4) return "*****";
  const bool lower = v >= 26 * k36p4;
  v += 10 * k36p4 - (lower ? 26 * k36p4 : 0);
  std::string s(5, '0');
  for (int i = 4; i >= 0; --i) {
    char c = digits[v % 36];
    if (lower && c >= 'A') c = static_cast<char>(c - 'A' + 'a');
    s[static_cast<std::size_t>(i)] = c;
    v /= 36;
  }
  return s;
}

char CavityChain(const TStructureLabels& labels) {
  for (const char c : std::string("XYZWVUTSRQPONMLKJIHGFEDCBA0123456789")) {
    bool used = false;
    for (const TResidueLabel& r : labels.Residues)
      if (r.Chain.size() == 1 && r.Chain[0] == c) used = true;
    if (!used) return c;
  }
  return 'X';
}

static std::string ViewerPdbText(const TNewContactObject& p, const TStructureLabels& labels,
                                 const std::string& version) {
  const char chain = CavityChain(labels);
  std::string text;
  for (const std::string& remark :
       {"cavitas " + version + ": atom volumes (A**3) in the B-factor column",
        std::string("cavities: residues CAV of chain ") + chain + ", B-factor = group 1-4"}) {
    std::string line(80, ' ');
    Put(line.data(), 1, 69, "REMARK   1 " + remark);
    text += line + "\n";
  }
  std::int32_t serial = 0;
  bool ter = false;
  for (const TResidueLabel& r : labels.Residues) {
    if (r.Hetero && !ter && serial > 0) {
      text += "TER\n";
      ter = true;
    }
    for (const TAtomIndex n : r.Atoms) {
      const TAtom* a = p.AtomAt(n);
      const TAtomLabel& l = At(labels.Atoms, n);
      text += AtomRecord(r.Hetero, ++serial, l.Name, r.Name, r.Chain, r.Number, r.InsertionCode, *a, a->Occupancy,
                         PrintedVolume(a->Volume), l.Element);
    }
  }
  if (!ter && serial > 0) text += "TER\n";
  const std::string chainText(1, chain);
  for (const THoleReport& h : p.Report.Holes) {
    const std::size_t count = std::min(h.ShapePoints.size(), kMaxPointsPerCavity);
    for (std::size_t k = 0; k < count; ++k)
      text += AtomRecord(true, ++serial, PointName(k), "CAV", chainText, std::to_string(h.Number), "", h.ShapePoints[k],
                         1.0, static_cast<double>(h.Group), "X");
  }
  text += "END\n";
  return text;
}

static std::string PymolScriptText(const TNewContactObject& p, const TStructureLabels& labels,
                                   const std::string& pdbName) {
  const TSerials serials = NumberAtoms(labels);
  const std::string chain(1, CavityChain(labels));
  std::string s = "# Cavities found by cavitas: run beside " + pdbName + " (pymol " + "this_script.pml)\n";
  s += "load " + pdbName + ", cavitas\n";
  s += "hide everything, cavitas\n";
  s += "show cartoon, cavitas and not resn CAV\n";
  s += "color grey70, cavitas and not resn CAV\n";
  s += "alter cavitas and chain " + chain + " and resn CAV, vdw=1.4\n";
  s += "rebuild\n";
  s += "set sphere_transparency, 0.35\n";
  for (const THoleReport& h : p.Report.Holes) {
    const std::string name = "cavity" + std::to_string(h.Number);
    s += "# cavity " + std::to_string(h.Number) + ": " + HoleGroupName(h.Group) + "\n";
    s += "select " + name + ", cavitas and chain " + chain + " and resn CAV and resi " + std::to_string(h.Number) +
         "\n";
    s += "show spheres, " + name + "\n";
    s += std::string("color ") + GroupColour(h.Group) + ", " + name + "\n";
    const std::string ids = IdList(h, serials);
    if (!ids.empty()) {
      s += "select " + name + "_lining, byres (cavitas and id " + ids + ")\n";
      s += "show sticks, " + name + "_lining\n";
      s += "color atomic, " + name + "_lining and not elem C\n";
    }
  }
  s += "deselect\n";
  s += "zoom cavitas\n";
  return s;
}

static std::string ChimeraScriptText(const TNewContactObject& p, const TStructureLabels& labels,
                              const std::string& pdbName) {
  const std::string chain(1, CavityChain(labels));
  std::string s = "# Cavities found by cavitas: run beside " + pdbName + "\n";
  s += "open " + pdbName + "\n";
  s += "hide atoms\n";
  s += "cartoon\n";
  s += "color grey\n";
  s += "size #1/" + chain + ":CAV atomRadius 1.4\n";
  s += "style #1/" + chain + ":CAV sphere\n";
  s += "transparency #1/" + chain + ":CAV 35 target a\n";
  for (const THoleReport& h : p.Report.Holes) {
    s += "# cavity " + std::to_string(h.Number) + ": " + HoleGroupName(h.Group) + "\n";
    const std::string spec = "#1/" + chain + ":" + std::to_string(h.Number);
    s += "show " + spec + " atoms\n";
    s += std::string("color ") + spec + " " + ChimeraColour(h.Group) + "\n";
    // Lining residues by chain, residue number and insertion code.
    std::map<std::string, std::string> byChain;
    std::vector<std::int32_t> seen;
    for (const TAtomIndex n : h.LiningAtoms) {
      const std::int32_t r = At(labels.Atoms, n).Residue;
      if (r < 0 || std::find(seen.begin(), seen.end(), r) != seen.end()) continue;
      seen.push_back(r);
      const TResidueLabel& res = labels.Residues[static_cast<std::size_t>(r)];
      std::string& list = byChain[res.Chain];
      if (!list.empty()) list += ',';
      list += res.Number + res.InsertionCode;
    }
    for (const auto& [c, list] : byChain) {
      const std::string residues = "#1" + (c.empty() ? std::string() : "/" + c) + ":" + list;
      s += "show " + residues + " atoms\n";
      s += "style " + residues + " stick\n";
    }
  }
  s += "view\n";
  return s;
}

TViewerTexts ViewerTexts(const TNewContactObject& run, const std::string& version, const std::string& pdbName) {
  const TStructureLabels labels = LabelStructure(run);
  return {ViewerPdbText(run, labels, version), PymolScriptText(run, labels, pdbName),
          ChimeraScriptText(run, labels, pdbName)};
}

}  // namespace cavitas
