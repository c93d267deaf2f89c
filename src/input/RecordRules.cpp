#include "input/RecordRules.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

std::string_view Trimmed(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view ResidueName3(const TPdbLine& line) { return std::string_view(line.ResidueName).substr(0, 3); }

struct TNameMap {
  const char* From;
  const char* To;
};

// Residue names of force fields and simulation programs with the standard
// residue they stand for (protonation states, disulphide-bonded cysteine,
// water models; TIP stands for TIP3, TIP4 and TIP5 written over column 21).
constexpr TNameMap kResidueNames[] = {
    {"HSD", "HIS"}, {"HSE", "HIS"}, {"HSP", "HIS"}, {"HID", "HIS"}, {"HIE", "HIS"}, {"HIP", "HIS"}, {"CYX", "CYS"},
    {"ASH", "ASP"}, {"GLH", "GLU"}, {"LYN", "LYS"}, {"TIP", "HOH"}, {"SOL", "HOH"}, {"SPC", "HOH"},
};

// Terminal oxygens as force fields name them.
constexpr TNameMap kTerminalOxygens[] = {{"OT1", " O  "}, {"OC1", " O  "}, {"OT2", " OXT"}, {"OC2", " OXT"}};

// Water oxygens as water models name them.
constexpr const char* kWaterOxygens[] = {"OH2", "OW"};

void Note(std::vector<std::string>& applied, const std::string& text) {
  if (std::find(applied.begin(), applied.end(), text) == applied.end()) applied.push_back(text);
}

void RenameAtom(TPdbLine& line, std::string_view from, const char* to, const std::string& prefix,
                std::vector<std::string>& applied) {
  Note(applied, prefix + std::string(from) + " -> " + std::string(Trimmed(to)));
  line.AtomName = to;
}

// Chain letters given to segments, in this order.
constexpr char kSegmentChains[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::string ElementSymbol(const TPdbLine& line) {
  const std::string_view e = Trimmed(line.Element);
  if (e.empty() || e.size() > 2 || !std::all_of(e.begin(), e.end(), IsLetter)) return {};
  std::string upper;
  for (const char c : e) upper += Upper(c);
  return upper;
}

bool IsHydrogenRecord(const TPdbLine& line) {
  // The element symbol, when there is one, decides (without a copy: this runs for every atom).
  const std::string_view e = Trimmed(line.Element);
  if (!e.empty() && e.size() <= 2 && std::all_of(e.begin(), e.end(), IsLetter))
    return e.size() == 1 && (Upper(e[0]) == 'H' || Upper(e[0]) == 'D');
  if (IsHydrogenName(line.AtomName)) return true;
  // Heavy atoms of residues in ATOM records never start in column 13.
  return line.Kind == kAtomRecord && (line.AtomName[0] == 'H' || line.AtomName[0] == 'D');
}

bool IsMembraneMarker(const TPdbLine& line) { return ResidueName3(line) == "DUM"; }

bool TakenAsHetero(const TPdbLine& line) { return line.Kind == kAtomRecord && line.OneLetter == '-'; }

void MapForceFieldNames(TPdbLine& line, std::vector<std::string>& applied) {
  const std::string_view residue = ResidueName3(line);
  for (const TNameMap& m : kResidueNames) {
    if (residue != m.From) continue;
    Note(applied, std::string(m.From) + " -> " + m.To);
    line.ResidueName = std::string(m.To) + ' ';
    line.OneLetter = ResidueLetter(line.ResidueName);
    break;
  }
  const std::string_view name = Trimmed(line.AtomName);
  if (line.OneLetter == '-') {
    if (!IsWaterName(line.ResidueName)) return;
    for (const char* oxygen : kWaterOxygens)
      if (name == oxygen) {
        RenameAtom(line, name, " O  ", "", applied);
        break;
      }
    return;
  }
  if (name == "CD" && ResidueName3(line) == "ILE") {
    RenameAtom(line, name, " CD1", "ILE ", applied);
    return;
  }
  if (name.size() != 3 || name[0] != 'O') return;
  for (const TNameMap& m : kTerminalOxygens)
    if (name == m.From) {
      RenameAtom(line, name, m.To, "", applied);
      break;
    }
}

void StoreHetRecord(TProteinObject& protein, const TPdbLine& line) {
  CheckMemory(static_cast<std::int64_t>(sizeof(THetAtom)));
  std::unique_ptr<THetAtom> het = HetAtomOf(line, protein.Context);
  TAtom& stored = *het->Atom;
  if (IsWaterName(het->ResName)) {
    protein.Waters.push_back(std::move(het));
  } else {
    protein.HetAtoms.push_back(std::move(het));
  }
  // A water gets the count of hetero atoms read so far.
  stored.Number = static_cast<std::int32_t>(protein.HetAtoms.size());
}

// ---------------------------------------------------------------------------

std::map<std::string, char> ChainsForSegments(const std::vector<std::string>& segments, const std::string& chainsUsed) {
  std::map<std::string, char> chains;
  if (segments.size() < 2) return chains;
  const char* next = kSegmentChains;
  for (const std::string& segment : segments) {
    while (*next != '\0' && chainsUsed.find(*next) != std::string::npos) ++next;
    if (*next == '\0') break;
    chains[segment] = *next++;
  }
  return chains;
}

TNormalisingSource::TNormalisingSource(TProteinObject& protein, std::unique_ptr<TRecordSource> raw,
                                       std::function<std::map<std::string, char>()> segmentChains)
    : protein_(protein), raw_(std::move(raw)), surveySegments_(std::move(segmentChains)) {}

void TNormalisingSource::ReadRecord(TPdbLine& line) {
  for (;;) {
    if (!ready_.empty()) {
      line = std::move(ready_.front());
      ready_.pop_front();
      Emit(line);
      return;
    }
    raw_->ReadRecord(line);
    const bool isAtom = line.Kind == kAtomRecord || line.Kind == kHetAtmRecord;
    if (isAtom) {
      if (IsMembraneMarker(line)) {
        ++markers_;
        continue;
      }
      if (IsHydrogenRecord(line)) {
        ++hydrogens_;
        continue;
      }
      KeepSegmentsApart(line);
      if (ResidueName3(line) == "MSE") {
        if (!selenomethionine_.empty() && selenomethionine_.front().ResidueId != line.ResidueId)
          ReleaseSelenomethionine();
        selenomethionine_.push_back(line);
        continue;
      }
      std::vector<std::string> applied;
      MapForceFieldNames(line, applied);
      for (const std::string& text : applied) NoteMapping(text);
    }
    if (selenomethionine_.empty()) {
      Emit(line);
      return;
    }
    // The record that ends a held-back residue goes on after it.
    ReleaseSelenomethionine();
    ready_.push_back(line);
  }
}

void TNormalisingSource::ReleaseSelenomethionine() {
  if (selenomethionine_.empty()) return;
  bool backbone[4] = {false, false, false, false};
  for (const TPdbLine& r : selenomethionine_) {
    const int kind = BackboneKindOf(r.AtomName);
    if (kind >= 0 && (r.AltLoc == ' ' || r.AltLoc == 'A')) backbone[kind] = true;
  }
  const bool complete = backbone[0] && backbone[1] && backbone[2] && backbone[3];
  for (TPdbLine& r : selenomethionine_) {
    if (complete) {
      r.Kind = kAtomRecord;
      r.ResidueName = "MET ";
      r.OneLetter = ResidueLetter(r.ResidueName);
      if (Trimmed(r.AtomName) == "SE") {
        r.AtomName = " SD ";
        NoteMapping("MSE SE -> SD");
      }
    }  // else it goes on as written: HETATM, or ATOM records of a residue that is no amino acid
    ready_.push_back(std::move(r));
  }
  if (complete) NoteMapping("MSE -> MET");
  selenomethionine_.clear();
}

void TNormalisingSource::Emit(TPdbLine& line) {
  if (TakenAsHetero(line)) {
    const std::string name(Trimmed(line.ResidueName));
    if (heteroNames_.insert(name).second)
      protein_.Context.Report("residue " + name + " in ATOM records read as " +
                              (IsWaterName(line.ResidueName) ? "water" : "a hetero group"));
    line.Kind = kHetAtmRecord;
  }
  if (line.Kind == kHetAtmRecord) StoreHetRecord(protein_, line);
}

void TNormalisingSource::KeepSegmentsApart(TPdbLine& line) {
  char& chain = line.ResidueId[5];
  if (chain != ' ' || Trimmed(line.Segment).empty()) return;
  // Most files name their chains: the whole input is surveyed only for one that does not.
  if (!surveyed_) {
    surveyed_ = true;
    if (surveySegments_) segmentChains_ = surveySegments_();
  }
  if (segmentChains_.empty()) return;
  const std::string segment(Trimmed(line.Segment));
  const auto it = segmentChains_.find(segment);
  if (it == segmentChains_.end()) return;
  chain = it->second;
  NoteMapping("segment " + segment + " -> chain " + chain);
}

void TNormalisingSource::NoteMapping(const std::string& text) { Note(mappings_, text); }

void TNormalisingSource::EndOfRead() {
  raw_->EndOfRead();
  if (hydrogens_ > 0) protein_.Context.Report(std::to_string(hydrogens_) + " hydrogen atoms ignored");
  if (!mappings_.empty()) {
    std::string line = "names read as the standard ones:";
    for (std::size_t k = 0; k < mappings_.size(); ++k) line += (k == 0 ? " " : ", ") + mappings_[k];
    protein_.Context.Report(line);
  }
  if (markers_ > 0) protein_.Context.Report(std::to_string(markers_) + " membrane marker atoms (DUM) ignored");
}

}  // namespace cavitas
