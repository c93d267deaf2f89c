#include "cavity/JsonOutput.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "model/Radii.h"

namespace cavitas {

namespace {

using Json = nlohmann::ordered_json;

// A value rounded to `decimals` places: the shortest text of the double is then
// the rounded number itself.
double Rounded(double v, int decimals) {
  const double scale = std::pow(10.0, decimals);
  const double r = std::round(v * scale) / scale;
  return r == 0 ? 0.0 : r;  // no "-0.0"
}

// An object built in key order: each member is appended (moved, not copied)
// without the look-up that keeps keys unique; callers give each key once.
class TObject {
 public:
  TObject() { Members().reserve(12); }
  TObject& Add(const char* key, Json value) {
    Members().emplace_back(key, std::move(value));
    return *this;
  }
  Json Take() { return std::move(json_); }

 private:
  Json::object_t& Members() { return json_.get_ref<Json::object_t&>(); }
  Json json_ = Json::object();
};

Json Serial(std::int32_t serial) { return serial == kNoSerial ? Json(nullptr) : Json(serial); }

Json ResidueNumber(const std::string& text) {
  int v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || ptr != end) return nullptr;
  return v;
}

Json Point(double x, double y, double z, int decimals) {
  return Json::array({Rounded(x, decimals), Rounded(y, decimals), Rounded(z, decimals)});
}

Json Measures(const TSurfaceMeasures& m, bool cavity) {
  Json j;
  j["area"] = Rounded(m.Area, 4);
  j["volume"] = Rounded(m.Volume, 4);
  if (cavity) {
    j["centre"] = Point(m.Centre[0], m.Centre[1], m.Centre[2], 4);
    j["probe_centre_volume"] = Rounded(m.ProbeCentreVolume, 6);
  }
  return j;
}

}  // namespace

std::string RunJsonText(const TNewContactObject& p, const TJsonRunInfo& info) {
  const TStructureLabels labels = LabelStructure(p);
  const TRunReport& report = p.Report;
  auto onOuter = [&](std::int32_t n) {
    return n >= 1 && HasRow(report.OnOuterSurface, n) && At(report.OnOuterSurface, n) != 0;
  };
  auto serialOf = [&](std::int32_t n) {
    const TAtom* a = p.AtomAt(n);
    return a ? Serial(a->Serial) : Json(nullptr);
  };

  Json doc;
  doc["format"] = "cavitas-result";
  doc["format_version"] = 1;
  doc["program"] = {{"name", "cavitas"}, {"version", info.Version}};
  doc["command_line"] = info.Arguments;
  doc["input"] = {{"file", info.InputFile},
                  {"format", p.InputFormat},
                  {"model", p.SelectedModel},
                  {"model_count", p.ModelCount}};
  const TModelConstants& model = p.Context.Model;
  doc["parameters"] = {{"radius_set", model.RadiusSet == kProtor ? "PROTOR" : "STOUTEN"},
                       {"exactness", model.Exactness},
                       {"probe_radius", model.ProbeRadius}};
  doc["status"] = {{"value", StatusNumber(p.Status)}, {"text", p.Status == TRunStatus::Good ? std::string() : p.StatusText}};
  // Every chain with the one-character identifier the result file gives it.
  Json chains = Json::array();
  if (!p.ChainNames.empty()) {
    for (const auto& [name, id] : p.ChainNames) chains.push_back({{"name", name}, {"id", std::string(1, id)}});
  } else {
    std::vector<std::string> seen;
    for (const TResidueLabel& r : labels.Residues)
      if (std::find(seen.begin(), seen.end(), r.ChainName) == seen.end()) {
        seen.push_back(r.ChainName);
        chains.push_back({{"name", r.ChainName}, {"id", r.Chain}});
      }
  }
  doc["chains"] = std::move(chains);

  const THoleDefinitions& d = p.HoleDefinitions;
  std::int32_t innerWaters = 0;
  const auto waterGroups = InnerWaterGroups(p);
  for (const auto& g : waterGroups) innerWaters += static_cast<std::int32_t>(g.size());
  doc["counts"] = {{"atoms", p.AtomCount},
                   {"protein_atoms", p.ProteinAtomCount},
                   {"hetero_atoms", p.AtomCount - p.ProteinAtomCount},
                   {"residues", p.ResidueCount},
                   {"inner_waters", innerWaters},
                   {"cavities", report.Holes.size()}};
  doc["groups"] = {{"partly_filled", d.HolesPartlyFilled},
                   {"empty", d.HolesNotFilled},
                   {"partly_filled_hets_removed", d.PartlyFilledHolesHetRemoved},
                   {"filled_hets_removed", d.FilledHolesHetRemoved}};

  // Volume and contact volume of each atom as the result file prints them.
  std::vector<std::pair<double, double>> printed(static_cast<std::size_t>(std::max(p.AtomCount, 0)) + 1);
  for (TAtomIndex n = 1; n <= p.AtomCount; ++n)
    if (const TAtom* a = p.AtomAt(n))
      At(printed, n) = {PrintedVolume(a->Volume), PrintedVolume(a->ContactVolume)};

  Json residues = Json::array();
  residues.get_ref<Json::array_t&>().reserve(labels.Residues.size());
  for (std::size_t k = 0; k < labels.Residues.size(); ++k) {
    const TResidueLabel& r = labels.Residues[k];
    TObject j;
    j.Add("index", k).Add("chain", r.Chain).Add("chain_name", r.ChainName).Add("number", ResidueNumber(r.Number));
    j.Add("insertion_code", r.InsertionCode).Add("name", r.Name).Add("hetero", r.Hetero);
    if (!r.Hetero) {
      const TBACKBONE& b = p.Residue(r.ProteinIndex);
      j.Add("secondary_structure", b.SSSymbol == ' ' ? std::string() : std::string(1, b.SSSymbol));
      j.Add("sheet", b.SheetLabel == ' ' ? Json(nullptr) : Json(std::string(1, b.SheetLabel)));
      Json partners = Json::array();
      for (const std::int32_t partner : {b.BridgePartner1, b.BridgePartner2})
        if (partner >= 1 && partner <= p.ResidueCount) partners.push_back(partner - 1);
      j.Add("bridge_partners", std::move(partners));
    }
    double volume = 0, contact = 0;
    bool outer = false;
    for (const TAtomIndex n : r.Atoms) {
      volume += At(printed, n).first;
      contact += At(printed, n).second;
      outer = outer || onOuter(n);
    }
    j.Add("volume", Rounded(volume, 2)).Add("contact_volume", Rounded(contact, 2)).Add("outer_surface", outer);
    j.Add("atoms", r.Atoms);
    residues.push_back(j.Take());
  }
  doc["residues"] = std::move(residues);

  Json atoms = Json::array();
  atoms.get_ref<Json::array_t&>().reserve(static_cast<std::size_t>(std::max(p.AtomCount, 0)));
  for (TAtomIndex n = 1; n <= p.AtomCount; ++n) {
    const TAtom* a = p.AtomAt(n);
    if (!a) continue;
    const TAtomLabel& l = At(labels.Atoms, n);
    const std::size_t first = l.Name.find_first_not_of(' ');
    const std::string name =
        first == std::string::npos ? std::string() : l.Name.substr(first, l.Name.find_last_not_of(' ') - first + 1);
    const std::array<double, 16>& table = p.Context.Model.RadiusTable;
    const double radius = a->RadiusType < table.size() ? table[a->RadiusType] : 0.0;
    atoms.push_back(TObject()
                        .Add("number", n)
                        .Add("serial", Serial(a->Serial))
                        .Add("name", name)
                        .Add("element", l.Element)
                        .Add("residue", l.Residue)
                        .Add("xyz", Point(a->X, a->Y, a->Z, 3))
                        .Add("radius", radius)
                        .Add("volume", At(printed, n).first)
                        .Add("contact_volume", At(printed, n).second)
                        .Add("outer_surface", onOuter(n))
                        .Take());
  }
  doc["atoms"] = std::move(atoms);

  Json cavities = Json::array();
  for (const THoleReport& h : report.Holes) {
    Json j;
    j["number"] = h.Number;
    j["group"] = HoleGroupName(h.Group);
    Json serials = Json::array(), lining = Json::array();
    std::vector<std::int32_t> residueIndex;
    for (const TAtomIndex n : h.LiningAtoms) {
      serials.push_back(serialOf(n));
      const std::int32_t r = At(labels.Atoms, n).Residue;
      if (r >= 0) residueIndex.push_back(r);
    }
    std::sort(residueIndex.begin(), residueIndex.end());
    residueIndex.erase(std::unique(residueIndex.begin(), residueIndex.end()), residueIndex.end());
    j["lining_atoms"] = serials;
    j["lining_atom_numbers"] = h.LiningAtoms;
    j["lining_residues"] = residueIndex;
    Json m = Measures(h.Measures, true);
    for (auto& [key, value] : m.items()) j[key] = value;
    cavities.push_back(std::move(j));
  }
  doc["cavities"] = std::move(cavities);

  doc["outer_surface"] = {{"with_hetero", Measures(report.OuterWithHet, false)},
                          {"without_hetero", Measures(report.OuterWithoutHet, false)}};
  Json waters = Json::array();
  for (std::size_t g = 0; g < waterGroups.size(); ++g) {
    Json serials = Json::array();
    for (const TAtomIndex n : waterGroups[g]) serials.push_back(serialOf(n));
    waters.push_back({{"group", g + 1}, {"serials", serials}, {"atoms", waterGroups[g]}});
  }
  doc["inner_waters"] = std::move(waters);
  doc["disconnected_parts"] = {{"with_hetero", report.PartsWithHet}, {"without_hetero", report.PartsWithoutHet}};
  Json times;
  for (const TStageTime& t : report.Stages) times[t.Name] = Rounded(t.Milliseconds, 3);
  doc["stage_times_ms"] = times;
  return doc.dump(-1, ' ', true, Json::error_handler_t::replace) + "\n";
}

}  // namespace cavitas
