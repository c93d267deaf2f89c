#include "input/CifReader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <string_view>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "input/CifDocument.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

constexpr std::string_view kIdentifiers = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kMaxRestOfLine = kPdbTextLength - 6;

// The columns of _atom_site the reader uses; the first three are required.
enum TColumn {
  kX, kY, kZ, kGroup, kAuthAtom, kLabelAtom, kAuthComp, kLabelComp, kAuthAsym, kLabelAsym, kAuthSeq, kLabelSeq,
  kInsCode, kAltId, kOccupancy, kBFactor, kSymbol, kModel, kSerial, kColumnCount
};
const std::vector<std::string> kAtomSiteTags = {
    "Cartn_x",      "Cartn_y",       "Cartn_z",       "?group_PDB",         "?auth_atom_id", "?label_atom_id",
    "?auth_comp_id", "?label_comp_id", "?auth_asym_id", "?label_asym_id",      "?auth_seq_id",  "?label_seq_id",
    "?pdbx_PDB_ins_code", "?label_alt_id", "?occupancy", "?B_iso_or_equiv", "?type_symbol", "?pdbx_PDB_model_num", "?id"};

// One row of a table.
struct TRow {
  const TCifTable& Table;
  std::size_t Index;
  // Quotes removed, "?" and "." (unknown, not applicable) empty.
  std::string Value(int column) const { return Table.Value(Index, column); }
  // The author's value where given, else the label's.
  std::string AuthorOrLabel(int author, int label) const {
    std::string v = Value(author);
    return v.empty() ? Value(label) : v;
  }
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string RightAligned(const std::string& s, std::size_t width) {
  return s.size() >= width ? s.substr(s.size() - width) : std::string(width - s.size(), ' ') + s;
}

std::string LeftAligned(const std::string& s, std::size_t width) {
  return s.size() >= width ? s.substr(0, width) : s + std::string(width - s.size(), ' ');
}

// An atom name in the four columns of the PDB format: a one-letter element's
// name starts in the second column, a two-letter element's in the first
// (" CA " is the alpha carbon, "CA  " calcium), a four-character name fills them.
std::string PdbAtomName(const std::string& name, const std::string& symbol) {
  if (name.size() >= 4) return name.substr(0, 4);
  const bool twoLetter =
      symbol.size() == 2 && name.size() >= 2 && Upper(name.substr(0, 2)) == Upper(symbol);
  return twoLetter ? LeftAligned(name, 4) : LeftAligned(" " + name, 4);
}

// Columns 23-27 (number right-aligned in four, insertion code) and the chain;
// a five-digit number takes the insertion code's column when that is blank.
std::string ResidueIdOf(const std::string& number, const std::string& insertion, char chain) {
  const char code = insertion.empty() ? ' ' : insertion[0];
  std::string id = (number.size() == 5 && code == ' ') ? number : RightAligned(number, 4) + code;
  return id + chain;
}

// A header record's text as the PDB reader keeps it: name, rest, blanks up to
// 128 columns and "." in column 128 for shorter lines.
std::string RecordText(const char* name, const std::string& rest) {
  std::string text(name, 6);
  text.append(rest.substr(0, kMaxRestOfLine));
  text.resize(static_cast<std::size_t>(kPdbTextLength), ' ');
  if (6 + rest.size() < static_cast<std::size_t>(kPdbTextLength)) text[kPdbTextLength - 1] = '.';
  return text;
}

// Continuation lines of a PDB text record: "    text" first, then " NNN text".
void AddContinued(TMyCollection<TString>& lines, const char* name, const std::vector<std::string>& texts) {
  int n = 0;
  for (const std::string& t : texts) {
    ++n;
    const std::string rest = n == 1 ? "    " + t : " " + RightAligned(std::to_string(n), 3) + " " + t;
    lines.push_back(std::make_unique<TString>(RecordText(name, rest)));
  }
}

std::string PdbDate(const std::string& iso) {
  static const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  int y = 0, m = 0, d = 0;
  if (std::sscanf(iso.c_str(), "%d-%d-%d", &y, &m, &d) != 3 || m < 1 || m > 12 || d < 1 || d > 31) return "";
  char text[16];
  std::snprintf(text, sizeof text, "%02d-%s-%02d", d, kMonths[m - 1], y % 100);
  return text;
}

}  // namespace

std::vector<std::pair<std::string, char>> ChainIdentifiers(const std::vector<std::string>& names) {
  std::vector<std::pair<std::string, char>> map;
  std::set<char> held;
  for (const std::string& n : names)
    if (n.size() == 1 && kIdentifiers.find(n[0]) != std::string_view::npos) held.insert(n[0]);
  std::size_t next = 0, cycle = 0;
  char previous = 0;
  for (const std::string& n : names) {
    char id = 0;
    if (n.empty()) {
      id = ' ';  // no chain name: the blank column, as in PDB files
    } else if (n.size() == 1 && kIdentifiers.find(n[0]) != std::string_view::npos) {
      id = n[0];
    } else {
      while (next < kIdentifiers.size() && held.count(kIdentifiers[next])) ++next;
      if (next < kIdentifiers.size()) {
        id = kIdentifiers[next];
        held.insert(id);
      } else {
        id = kIdentifiers[cycle % kIdentifiers.size()];
        if (id == previous) id = kIdentifiers[++cycle % kIdentifiers.size()];
        ++cycle;
      }
    }
    map.emplace_back(n, id);
    previous = id;
  }
  return map;
}

struct TCifRecordReader::TState {
  TProteinObject& Protein;
  std::string FileName;
  std::unique_ptr<TCifBlock> Block;
  TCifTable Sites;
  std::string Model;  // the model read (empty: the file does not number them)
  std::map<std::string, char> Chains;
  std::vector<TPdbLine> Bonds;  // SSBOND records, handed out first
  std::size_t NextBond = 0;
  std::size_t NextRow = 0;
  std::string PreviousChain;
  bool HavePrevious = false;
  bool Held = false;  // `HeldLine` waits behind a TER record
  TPdbLine HeldLine;
  bool Ended = false;

  explicit TState(TProteinObject& p) : Protein(p) {}
  bool Decode(const TRow& row, TPdbLine& line);
  void ReadHeader();
  void ReadBonds();
};

TCifRecordReader::TCifRecordReader(TProteinObject& protein, const TInputText& text)
    : state_(std::make_unique<TState>(protein)) {
  TState& s = *state_;
  s.FileName = text.FileName;
  const std::string what = "cannot read input file " + text.FileName + ": ";
  try {
    s.Block = std::make_unique<TCifBlock>(text.Bytes.data(), text.Bytes.size(), text.FileName);
  } catch (const std::exception& e) {
    throw IoError(what + "not valid mmCIF (" + e.what() + ")");
  }
  if (!s.Block->HasBlock()) throw IoError(what + "an mmCIF file without a data block");
  const bool hasSites = s.Block->HasTag("_atom_site.Cartn_x") || s.Block->HasTag("_atom_site.id");
  s.Sites = s.Block->Find("_atom_site.", kAtomSiteTags);
  if (hasSites) {
    const TCifTable& t = s.Sites;
    std::string missing;
    if (!t.Ok()) missing = "Cartn_x, Cartn_y or Cartn_z";
    else if (!t.Has(kAuthAtom) && !t.Has(kLabelAtom)) missing = "auth_atom_id or label_atom_id";
    else if (!t.Has(kAuthComp) && !t.Has(kLabelComp)) missing = "auth_comp_id or label_comp_id";
    else if (!t.Has(kAuthAsym) && !t.Has(kLabelAsym)) missing = "auth_asym_id or label_asym_id";
    else if (!t.Has(kAuthSeq) && !t.Has(kLabelSeq)) missing = "auth_seq_id or label_seq_id";
    if (!missing.empty()) throw IoError(what + "its atom sites lack " + missing);
  }

  // The first model's chains in order of appearance, and the models there are.
  std::vector<std::string> chainNames;
  std::set<std::string> seenChains, models;
  std::int64_t rows = 0;
  for (std::size_t i = 0; i < s.Sites.Rows(); ++i) {
    {
      const TRow row{s.Sites, i};
      const std::string model = row.Value(kModel);
      if (i == 0) s.Model = model;
      models.insert(model);
      if (model != s.Model) continue;
      ++rows;
      const std::string chain = row.AuthorOrLabel(kAuthAsym, kLabelAsym);
      if (seenChains.insert(chain).second) chainNames.push_back(chain);
    }
  }
  const std::vector<std::pair<std::string, char>> identifiers = ChainIdentifiers(chainNames);
  for (const auto& [name, id] : identifiers) s.Chains[name] = id;
  protein.ChainNames = identifiers;
  protein.LineCount = static_cast<std::int32_t>(std::min<std::int64_t>(rows, INT32_MAX));
  protein.ModelCount = static_cast<std::int32_t>(models.size() > 1 ? models.size() : 0);
  if (models.size() > 1) {
    int number = 1;
    std::from_chars(s.Model.data(), s.Model.data() + s.Model.size(), number);
    protein.SelectedModel = number;
  }

  // The chains whose names the fixed columns cannot hold, in the log.
  std::string changed;
  for (const auto& [name, id] : identifiers) {
    if ((name.size() == 1 && name[0] == id) || name.empty()) continue;
    if (!changed.empty()) changed += ", ";
    changed += name + " -> " + id;
  }
  if (!changed.empty()) protein.Context.Report("chains written with one-character identifiers: " + changed);
  s.ReadHeader();
  s.ReadBonds();
}

TCifRecordReader::~TCifRecordReader() = default;

void TCifRecordReader::TState::ReadHeader() {
  const TCifBlock& b = *Block;
  const std::string id = b.FirstValue("_entry.id");
  const std::string keywords = b.FirstValue("_struct_keywords.pdbx_keywords");
  const std::string date = PdbDate(b.FirstValue("_pdbx_database_status.recvd_initial_deposition_date"));
  if (!id.empty() || !keywords.empty())
    Protein.HeaderLines.push_back(std::make_unique<TString>(
        RecordText("HEADER", "    " + LeftAligned(keywords, 40) + LeftAligned(date, 9) + "   " + id)));

  // One molecule per polymer entity, with its chains and its organism.
  const std::vector<std::string> entities = b.Values("_entity.id");
  const std::vector<std::string> types = b.Values("_entity.type");
  const std::vector<std::string> names = b.Values("_entity.pdbx_description");
  const std::vector<std::string> polyEntities = b.Values("_entity_poly.entity_id");
  const std::vector<std::string> strands = b.Values("_entity_poly.pdbx_strand_id");
  std::map<std::string, std::string> organism;
  for (const char* prefix : {"_pdbx_entity_src_syn.", "_entity_src_nat.", "_entity_src_gen."}) {
    const std::string tag = std::string(prefix) + (std::string(prefix) == "_entity_src_gen." ? "pdbx_gene_src_scientific_name"
                                                   : std::string(prefix) == "_entity_src_nat." ? "pdbx_organism_scientific"
                                                                                              : "organism_scientific");
    const std::vector<std::string> ids = b.Values(std::string(prefix) + "entity_id");
    const std::vector<std::string> orgs = b.Values(tag);
    for (std::size_t k = 0; k < ids.size() && k < orgs.size(); ++k)
      if (!orgs[k].empty()) organism[ids[k]] = Upper(orgs[k]);
  }
  std::vector<std::string> compound, source;
  int molecule = 0;
  for (std::size_t k = 0; k < entities.size(); ++k) {
    if (k < types.size() && types[k] != "polymer") continue;
    ++molecule;
    const std::string mol = "MOL_ID: " + std::to_string(molecule) + ";";
    compound.push_back(mol);
    if (k < names.size() && !names[k].empty()) compound.push_back("MOLECULE: " + Upper(names[k]) + ";");
    for (std::size_t j = 0; j < polyEntities.size() && j < strands.size(); ++j)
      if (polyEntities[j] == entities[k] && !strands[j].empty()) {
        std::string chains = strands[j];
        std::replace(chains.begin(), chains.end(), ',', ' ');
        std::string joined;
        for (std::size_t p = 0; p < chains.size();) {
          const std::size_t q = chains.find(' ', p);
          const std::string c = chains.substr(p, q == std::string::npos ? std::string::npos : q - p);
          if (!c.empty()) joined += (joined.empty() ? "" : ", ") + c;
          if (q == std::string::npos) break;
          p = q + 1;
        }
        compound.push_back("CHAIN: " + joined + ";");
      }
    source.push_back(mol);
    const auto org = organism.find(entities[k]);
    if (org != organism.end()) source.push_back("ORGANISM_SCIENTIFIC: " + org->second + ";");
  }
  AddContinued(Protein.CompndLines, "COMPND", compound);
  AddContinued(Protein.SourceLines, "SOURCE", source);

  std::vector<std::string> authorLines;
  std::string line;
  for (const std::string& name : b.Values("_audit_author.name")) {
    if (name.empty()) continue;
    // "Vijay-Kumar, S." is written "S.VIJAY-KUMAR", as in PDB files.
    std::string piece = name;
    if (const std::size_t comma = name.find(", "); comma != std::string::npos) {
      std::string initials = name.substr(comma + 2);
      initials.erase(std::remove(initials.begin(), initials.end(), ' '), initials.end());
      piece = initials + name.substr(0, comma);
    }
    piece = Upper(piece);
    if (!line.empty() && line.size() + 1 + piece.size() > 60) {
      authorLines.push_back(line + ",");
      line.clear();
    }
    line += (line.empty() ? "" : ",") + piece;
  }
  if (!line.empty()) authorLines.push_back(line);
  AddContinued(Protein.AuthorLines, "AUTHOR", authorLines);

  for (const char* tag : {"_refine.ls_d_res_high", "_reflns.d_resolution_high", "_em_3d_reconstruction.resolution"}) {
    const std::string v = b.FirstValue(tag);
    double value = 0;
    if (!v.empty() && ParseReal(v, value)) {
      Protein.Resolution = value;
      break;
    }
  }
}

void TCifRecordReader::TState::ReadBonds() {
  const TCifTable conn = Block->Find("_struct_conn.",
                                {"conn_type_id", "?ptnr1_auth_asym_id", "?ptnr1_label_asym_id", "?ptnr1_auth_seq_id",
                                 "?ptnr1_label_seq_id", "?pdbx_ptnr1_PDB_ins_code", "?ptnr2_auth_asym_id",
                                 "?ptnr2_label_asym_id", "?ptnr2_auth_seq_id", "?ptnr2_label_seq_id",
                                 "?pdbx_ptnr2_PDB_ins_code"});
  for (std::size_t i = 0; i < conn.Rows(); ++i) {
    const TRow row{conn, i};
    if (row.Value(0) != "disulf") continue;
    std::string ids[2];
    bool known = true;
    for (int p = 0; p < 2; ++p) {
      const int base = 1 + 5 * p;
      const auto chain = Chains.find(row.AuthorOrLabel(base, base + 1));
      if (chain == Chains.end()) {
        known = false;
        break;
      }
      ids[p] = ResidueIdOf(row.AuthorOrLabel(base + 2, base + 3), row.Value(base + 4), chain->second);
    }
    if (!known) continue;
    TPdbLine bond;
    bond.Kind = kSSBondRecord;
    bond.Bond1 = ids[0];
    bond.Bond2 = ids[1];
    Bonds.push_back(bond);
  }
}

bool TCifRecordReader::TState::Decode(const TRow& row, TPdbLine& line) {
  const std::string chainName = row.AuthorOrLabel(kAuthAsym, kLabelAsym);
  const auto chain = Chains.find(chainName);
  const char chainId = chain == Chains.end() ? ' ' : chain->second;
  const std::string symbol = Upper(row.Value(kSymbol));
  const std::string atomName = row.AuthorOrLabel(kAuthAtom, kLabelAtom);
  const std::string comp = row.AuthorOrLabel(kAuthComp, kLabelComp);

  float* const targets[3] = {&line.X, &line.Y, &line.Z};
  for (int c = 0; c < 3; ++c) {
    const std::string v = row.Value(kX + c);
    if (!ParseReal(v, *targets[c])) {
      Protein.Context.Report("atom site " + atomName + " " + comp + " " + chainName +
                             ": record ignored, coordinate \"" + (v.empty() ? row.Table.Raw(row.Index, kX + c) : v) +
                             "\" is not a number");
      return false;
    }
  }
  line.AtomName = PdbAtomName(atomName, symbol);
  line.ResidueName = RightAligned(comp.substr(0, 3), 3) + " ";
  const std::string alt = row.Value(kAltId);
  line.AltLoc = alt.empty() ? ' ' : alt[0];
  line.ResidueId = ResidueIdOf(row.AuthorOrLabel(kAuthSeq, kLabelSeq), row.Value(kInsCode), chainId);
  line.ChainName = chainName.size() == 1 && chainName[0] == chainId ? std::string() : chainName;
  line.Occupancy = 0;
  line.BFactor = 0;
  ParseReal(row.Value(kOccupancy), line.Occupancy);
  ParseReal(row.Value(kBFactor), line.BFactor);
  line.Element = RightAligned(symbol.substr(0, 2), 2);
  line.Segment = "    ";
  line.Volume = line.ContactVolume = 0;
  line.GivenNumber = line.NeighbourCount = line.NeighbourStart = 0;
  line.OneLetter = ResidueLetter(line.ResidueName);
  line.Serial = kNoSerial;
  const std::string serial = row.Value(kSerial);
  std::int32_t number = 0;
  const auto [end, ec] = std::from_chars(serial.data(), serial.data() + serial.size(), number);
  if (ec == std::errc() && end == serial.data() + serial.size() && !serial.empty()) line.Serial = number;
  const std::string group = row.Value(kGroup);
  if (group == "HETATM")
    line.Kind = kHetAtmRecord;
  else if (group == "ATOM")
    line.Kind = kAtomRecord;
  else  // without the column: amino acids as ATOM, anything else as HETATM, as the archive writes them
    line.Kind = line.OneLetter != '-' ? kAtomRecord : kHetAtmRecord;
  return true;
}

void TCifRecordReader::ReadRecord(TPdbLine& line) {
  TState& s = *state_;
  if (s.NextBond < s.Bonds.size()) {
    line = s.Bonds[s.NextBond++];
    return;
  }
  if (s.Held) {
    s.Held = false;
    line = s.HeldLine;
    return;
  }
  while (!s.Ended && s.NextRow < s.Sites.Rows()) {
    const TRow row{s.Sites, s.NextRow++};
    if (row.Value(kModel) != s.Model) continue;
    if (!s.Decode(row, line)) continue;
    // A chain ends where the next begins: the archive's mmCIF has no TER records.
    const std::string chain = row.AuthorOrLabel(kAuthAsym, kLabelAsym);
    if (s.HavePrevious && chain != s.PreviousChain) {
      s.HeldLine = line;
      s.Held = true;
      s.PreviousChain = chain;
      line.Kind = kTerRecord;
      return;
    }
    s.PreviousChain = chain;
    s.HavePrevious = true;
    return;
  }
  s.Ended = true;
  line.Kind = kEndRecord;
}

}  // namespace cavitas
