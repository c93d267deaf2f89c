#include "cavity/RunReport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "structfile/NumberFields.h"
#include "surface/PatchIntegrals.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas {

namespace {

std::string Trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

std::string Char(char c) { return c == ' ' ? std::string() : std::string(1, c); }

// The name of a protein atom as its result line gives it.
std::string ProteinAtomName(const TProteinObject& p, const TAtom& a, const TBACKBONE& r) {
  switch (a.RadiusType) {
    case 0: return " N  ";
    case 1: return " C  ";
    case 2: return " O  ";
    case 3: return " CA ";
    default: break;
  }
  const TAtom* firstSide = p.AtomAt(r.FirstAtom + 4);
  const std::int64_t k =
      static_cast<std::int64_t>(r.SideChainStart) + 1 + (firstSide ? a.Number - firstSide->Number : 0);
  std::string name = (k >= 1 && k < static_cast<std::int64_t>(p.SideAtomNames.size()))
                         ? p.SideAtomNames[static_cast<std::size_t>(k)].substr(0, 4)
                         : std::string();
  name.resize(4, ' ');
  return name;
}

}  // namespace

const char* HoleGroupName(THoleGroup group) {
  switch (group) {
    case THoleGroup::PartlyFilled: return "partly_filled";
    case THoleGroup::Empty: return "empty";
    case THoleGroup::PartlyFilledHetRemoved: return "partly_filled_hets_removed";
    default: return "filled_hets_removed";
  }
}

THoleGroup HoleGroupOf(std::int32_t k, const THoleDefinitions& defs) {
  std::int64_t end = defs.HolesPartlyFilled;
  if (k <= end) return THoleGroup::PartlyFilled;
  end += defs.HolesNotFilled;
  if (k <= end) return THoleGroup::Empty;
  end += defs.PartlyFilledHolesHetRemoved;
  if (k <= end) return THoleGroup::PartlyFilledHetRemoved;
  return THoleGroup::FilledHetRemoved;
}

std::vector<TCoord> CavityShapePoints(const TModelConstants& model, const THoleList& hole) {
  using namespace surface_detail;
  std::vector<TCoord> points;
  for (const auto& e : hole) {
    if (e->Kind == kConcavePatch) {
      points.push_back(static_cast<const TConollyObject3&>(*e).ProbeCenter);
    } else if (e->Kind == kSaddlePatch) {
      const auto& s = static_cast<const TConollyObject2&>(*e);
      if (s.Degenerate || !(s.Angle > 0)) continue;
      const bool full = s.StartAtom == nullptr && s.EndAtom == nullptr;
      const int steps = std::max(1, static_cast<int>(std::ceil(s.Radius * s.Angle / 0.7)));
      for (int k = full ? 1 : 0; k <= steps; ++k) {
        const Ext phi = static_cast<Ext>(s.Angle) * k / steps;
        points.push_back(
            ToCoord(s.Center + ToWorld(s.Frame, {s.Radius * std::cos(phi), s.Radius * std::sin(phi), 0})));
      }
    } else if (!e->Degenerate) {
      // The face of the probe-centre region at the direction of the patch's centroid.
      const TExtVector c = ToExt(*e->Atom);
      const TPatchIntegrals p = PatchIntegrals(model, *e, c);
      const Ext n = Norm(p.Moment);
      if (n > 0) points.push_back(ToCoord(c + p.Moment * (ExpandedRadius(model, *e->Atom) / n)));
    }
  }
  return points;
}

void MeasureRun(const TProteinObject& protein, const TCombinedHoleTable& holeTable, const TElementList& outerWithHet,
                const TElementList& outerWithoutHet, TRunReport& report) {
  report.Holes.clear();
  for (std::size_t k = 0; k < holeTable.size(); ++k) {
    if (!holeTable[k]) continue;
    const THoleList& hole = *holeTable[k];
    THoleReport h;
    h.Number = static_cast<std::int32_t>(k + 1);
    h.Group = HoleGroupOf(h.Number, protein.HoleDefinitions);
    for (const auto& e : hole)
      if (e->Kind == kContactPatch && e->Atom->Number <= protein.AtomCount) h.LiningAtoms.push_back(e->Atom->Number);
    std::sort(h.LiningAtoms.begin(), h.LiningAtoms.end());
    h.LiningAtoms.erase(std::unique(h.LiningAtoms.begin(), h.LiningAtoms.end()), h.LiningAtoms.end());
    h.Measures = MeasureSurface(protein.Context.Model, hole, true);
    h.ShapePoints = CavityShapePoints(protein.Context.Model, hole);
    report.Holes.push_back(std::move(h));
  }
  report.OuterWithHet = MeasureSurface(protein.Context.Model, outerWithHet, false);
  // Without hetero atoms both passes built the same surface.
  report.OuterWithoutHet = protein.AtomCount == protein.ProteinAtomCount
                               ? report.OuterWithHet
                               : MeasureSurface(protein.Context.Model, outerWithoutHet, false);
  report.OnOuterSurface.assign(RowsFor(protein.AtomCount), 0);
  for (const auto& e : outerWithHet)
    if (e->Kind == kContactPatch && e->Atom->Number >= 1 && e->Atom->Number <= protein.AtomCount)
      At(report.OnOuterSurface, e->Atom->Number) = 1;
}

std::string ElementOfAtomName(const std::string& name, bool hetero) {
  std::string n = name;
  n.resize(4, ' ');
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  auto letter = [&](char c) { return upper(c) >= 'A' && upper(c) <= 'Z'; };
  if (n[0] == ' ' || (n[0] >= '0' && n[0] <= '9')) return letter(n[1]) ? std::string(1, upper(n[1])) : "";
  if (!letter(n[0])) return "";
  if (hetero && letter(n[1])) {
    static const char* const kTwoLetters[] = {"FE", "ZN", "MG", "CA", "CL", "BR", "NA", "MN", "CU", "CO", "NI",
                                              "CD", "HG", "SE", "LI", "AL", "SI", "CS", "RB", "SR", "BA", "PT",
                                              "AU", "AG", "PB", "SN", "MO", "GD", "YB", "SM", "EU", "TB", "IR"};
    const std::string two{upper(n[0]), upper(n[1])};
    for (const char* t : kTwoLetters)
      if (two == t) return two;
  }
  return std::string(1, upper(n[0]));
}

TStructureLabels LabelStructure(const TProteinObject& p) {
  TStructureLabels out;
  out.Atoms.resize(static_cast<std::size_t>(std::max(p.AtomCount, 0)) + 1);
  auto atomSlot = [&](std::int32_t i) -> TAtomLabel* {
    return (i >= 1 && i <= p.AtomCount) ? &out.Atoms[static_cast<std::size_t>(i)] : nullptr;
  };
  for (const auto& r : p.Residues) {
    if (!r) continue;
    TResidueLabel res;
    std::string id = r->ResidueId;
    id.resize(6, ' ');
    res.Chain = Char(id[5]);
    res.ChainName = r->ChainName.empty() ? res.Chain : r->ChainName;
    // A five-digit number (mmCIF) takes the insertion code's column.
    const bool wide = id[4] >= '0' && id[4] <= '9';
    res.Number = Trim(id.substr(0, wide ? 5 : 4));
    res.InsertionCode = wide ? std::string() : Char(id[4]);
    res.Name = Trim(r->ResidueName);
    res.ProteinIndex = r->Index;
    const std::int32_t index = static_cast<std::int32_t>(out.Residues.size());
    for (int i = r->FirstAtom; i <= r->FirstAtom + r->SideChainCount + 3; ++i) {
      const TAtom* a = p.AtomAt(i);
      TAtomLabel* slot = atomSlot(i);
      if (!a || !slot) continue;
      slot->Name = ProteinAtomName(p, *a, *r);
      slot->Element = ElementOfAtomName(slot->Name, false);
      slot->Residue = index;
      res.Atoms.push_back(i);
    }
    out.Residues.push_back(std::move(res));
  }
  const THetAtom* previous = nullptr;
  for (std::int32_t i = p.ProteinAtomCount + 1; i <= p.AtomCount; ++i) {
    const TAtom* a = p.AtomAt(i);
    TAtomLabel* slot = atomSlot(i);
    if (!a || !slot || a->ResidueIndex < 1 || static_cast<std::size_t>(a->ResidueIndex) > p.HetAtoms.size()) continue;
    const THetAtom* het = p.HetAtoms[static_cast<std::size_t>(a->ResidueIndex - 1)].get();
    if (!het) continue;
    const bool same = previous && previous->Chain == het->Chain && previous->ChainName == het->ChainName &&
                      previous->ResNumber == het->ResNumber && previous->ResName == het->ResName;
    if (!same) {
      TResidueLabel res;
      std::string number = het->ResNumber;
      number.resize(5, ' ');
      res.Chain = Char(het->Chain);
      res.ChainName = het->ChainName.empty() ? res.Chain : het->ChainName;
      const bool wide = number[4] >= '0' && number[4] <= '9';
      res.Number = Trim(number.substr(0, wide ? 5 : 4));
      res.InsertionCode = wide ? std::string() : Char(number[4]);
      res.Name = Trim(het->ResName);
      res.Hetero = true;
      out.Residues.push_back(std::move(res));
    }
    previous = het;
    slot->Name = het->AtomName;
    slot->Name.resize(4, ' ');
    slot->Element = ElementOfAtomName(slot->Name, true);
    slot->Residue = static_cast<std::int32_t>(out.Residues.size()) - 1;
    out.Residues.back().Atoms.push_back(i);
  }
  return out;
}

double PrintedVolume(float v) {
  // F(v, 7, 2) rounds to 7 significant digits, then to 2 decimals. The first
  // step moves x = 100 |v| (exact in double) by at most x · 5e-7; when x is
  // farther than that from a half, both steps give the nearest integer to x,
  // and n / 100 is the double the printed text reads as.
  const double x = std::fabs(static_cast<double>(v)) * 100;
  const double n = std::floor(x + 0.5);
  if (x < 1e7 && std::fabs(x - std::floor(x) - 0.5) > x * 1e-6 + 1e-9) return std::copysign(n / 100, v) + 0.0;
  const std::string text = FormatReal(v, 7, 2);
  return std::strtod(text.c_str(), nullptr);
}

std::vector<std::vector<std::int32_t>> InnerWaterGroups(const TProteinObject& p) {
  std::vector<std::vector<std::int32_t>> groups;
  for (std::int32_t row = p.ElementCount + 1; row <= p.ElementCount + p.HetElementCount; ++row) {
    if (row < 1 || static_cast<std::size_t>(row) >= p.ElementTable.size()) continue;
    const TElementZeile& e = p.ElementTable[static_cast<std::size_t>(row)];
    if (e.ElementKind != TElementKind::Water) continue;
    std::vector<std::int32_t> atoms;
    for (std::int32_t i = e.First; i <= e.Last; ++i)
      if (p.AtomAt(i)) atoms.push_back(i);
    groups.push_back(std::move(atoms));
  }
  return groups;
}

}  // namespace cavitas
