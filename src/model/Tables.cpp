#include "model/Tables.h"

#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "model/RunContext.h"

namespace cavitas {

namespace {

// Radius types of one atom name in the two sets (STOUTEN first, PROTOR second).
struct TNameTypes {
  const char* Name;
  std::uint8_t Stouten, Protor;
};

struct TResidueAtoms {
  char Letter;
  std::vector<TNameTypes> Side;  // in code order, between the backbone block and OXT
};

// Backbone atoms in code order; their radius types are the backbone kinds.
constexpr TNameTypes kBackbone[4] = {{"N", 0, 0}, {"C", 1, 1}, {"CA", 3, 3}, {"O", 2, 2}};
constexpr TNameTypes kTerminalOxygen = {"OXT", 6, 6};

const std::vector<TResidueAtoms>& ResidueAtoms() {
  static const std::vector<TResidueAtoms> groups = {
      {'A', {{"CB", 12, 13}}},
      {'C', {{"CB", 13, 13}, {"SG", 10, 8}}},
      {'D', {{"CB", 13, 13}, {"CG", 10, 14}, {"OD1", 6, 6}, {"OD2", 6, 6}, {"AD1", 6, 6}, {"AD2", 6, 6}}},
      {'E',
       {{"CB", 13, 13}, {"CG", 13, 13}, {"CD", 10, 14}, {"OE1", 6, 6}, {"OE2", 6, 6}, {"AE1", 6, 6}, {"AE2", 6, 6}}},
      {'F',
       {{"CB", 13, 13}, {"CG", 10, 14}, {"CD1", 12, 15}, {"CD2", 12, 15}, {"CE1", 12, 15}, {"CE2", 12, 15},
        {"CZ", 12, 15}}},
      {'G', {}},
      {'H',
       {{"CB", 13, 13}, {"CG", 10, 14}, {"ND1", 8, 10}, {"CD2", 12, 15}, {"CE1", 12, 15}, {"NE2", 8, 10},
        {"AD1", 9, 10}, {"AD2", 9, 10}, {"AE1", 9, 10}, {"AE2", 9, 10}}},
      {'I', {{"CB", 15, 13}, {"CG1", 13, 13}, {"CG2", 12, 13}, {"CD1", 12, 13}}},
      {'K', {{"CB", 13, 13}, {"CG", 13, 13}, {"CD", 13, 13}, {"CE", 13, 13}, {"NZ", 8, 10}}},
      {'L', {{"CB", 13, 13}, {"CG", 15, 13}, {"CD1", 12, 13}, {"CD2", 12, 13}}},
      {'M', {{"CB", 13, 13}, {"CG", 13, 13}, {"SD", 10, 8}, {"CE", 12, 13}}},
      {'N', {{"CB", 13, 13}, {"CG", 10, 14}, {"OD1", 6, 6}, {"ND2", 8, 10}, {"AD1", 6, 6}, {"AD2", 6, 6}}},
      {'P', {{"CB", 13, 13}, {"CG", 13, 13}, {"CD", 13, 13}}},
      {'Q',
       {{"CB", 13, 13}, {"CG", 13, 13}, {"CD", 10, 14}, {"OE1", 6, 6}, {"NE2", 8, 10}, {"AE1", 6, 6}, {"AE2", 6, 6}}},
      {'R',
       {{"CB", 13, 13}, {"CG", 13, 13}, {"CD", 13, 13}, {"NE", 8, 10}, {"CZ", 10, 14}, {"NH1", 8, 10},
        {"NH2", 8, 10}}},
      {'S', {{"CB", 13, 13}, {"OG", 8, 7}}},
      {'T', {{"CB", 15, 13}, {"OG1", 8, 7}, {"CG2", 12, 13}}},
      {'V', {{"CB", 15, 13}, {"CG1", 12, 13}, {"CG2", 12, 13}}},
      {'W',
       {{"CB", 13, 13}, {"CG", 10, 14}, {"CD1", 12, 15}, {"CD2", 13, 14}, {"NE1", 8, 10}, {"CE2", 10, 14},
        {"CE3", 12, 15}, {"CZ2", 12, 15}, {"CZ3", 12, 15}, {"CH2", 12, 15}}},
      // Unknown residues: atoms are matched on their first two characters only.
      {'X',
       {{"CB", 13, 13}, {"CD", 13, 13}, {"CE", 13, 13}, {"CG", 13, 13}, {"CH", 13, 13}, {"CZ", 13, 13},
        {"OD", 13, 6},  {"OE", 13, 6},  {"OG", 13, 6},  {"OH", 13, 6},  {"AD", 13, 6},  {"AE", 13, 6},
        {"SD", 13, 8},  {"SG", 13, 8},  {"ND", 13, 10}, {"NE", 13, 10}, {"NH", 13, 10}, {"NZ", 13, 10},
        {"SE", 13, 8},  {"O", 6, 6}}},
      {'Y',
       {{"CB", 13, 13}, {"CG", 10, 14}, {"CD1", 12, 15}, {"CD2", 12, 15}, {"CE1", 12, 15}, {"CE2", 12, 15},
        {"CZ", 10, 14}, {"OH", 8, 7}}},
      {'Z', {{"CB", 13, 13}, {"SG", 10, 8}}},
  };
  return groups;
}

constexpr int kHetBase = 231;         // first code of the hetero group (letter O)
constexpr int kHetOneLetterLast = 245;
constexpr int kHetTwoLetterFirst = 246;
constexpr int kHetTwoLetterLast = 304;

const std::vector<TNameTypes>& HetElements() {
  static const std::vector<TNameTypes> elements = [] {
    std::vector<TNameTypes> e = {{"C", 13, 13}, {"N", 0, 0}, {"O", 2, 2}, {"S", 11, 8}};
    for (const char* s : {"P", "B", "D", "F", "I", "K", "U", "V", "W", "X", "Y"}) e.push_back({s, 11, 11});
    for (const char* s : {"AG", "AL", "AR", "AS", "AU", "BA", "BE", "BI", "BR", "CA", "CD", "CE", "CL", "CO", "CR",
                          "CS", "CU", "EU", "FE", "GA", "GD", "HE", "HF", "HG", "HO", "IN", "IR", "KR", "LA", "LI",
                          "LU", "MG", "MN", "MO", "NA", "NI", "OS", "PB", "PD", "PR", "PT", "RB", "RE", "RH", "RU",
                          "SB", "SE", "SI", "SM", "SN", "SR", "TA", "TB", "TC", "TE", "TL", "XE", "YB", "ZN"}) {
      const bool calcium = std::strcmp(s, "CA") == 0, iron = std::strcmp(s, "FE") == 0;
      const std::uint8_t t = calcium ? 4 : iron ? 5 : 11;
      e.push_back({s, t, t});
    }
    e.push_back({"HOH", 2, 2});
    e.push_back({"OTR", 9, 9});
    return e;
  }();
  return elements;
}

struct TTables {
  std::array<TAtomNameEntry, kAtomCodeCount> Entries{};
  std::array<std::array<std::uint8_t, kAtomCodeCount>, 2> SetTypes{};  // [0] STOUTEN, [1] PROTOR
  std::array<std::int16_t, 26> Base{}, First{}, Last{};
  std::array<bool, 26> NoResidue{};
};

TTables BuildTables() {
  TTables t;
  int code = 0;
  auto add = [&](const TNameTypes& n, char letter) {
    if (code >= kAtomCodeCount) RaiseLimit("atom name table larger than 307 entries");
    TAtomNameEntry& e = t.Entries[static_cast<std::size_t>(code)];
    std::memset(e.Name, ' ', 3);
    std::memcpy(e.Name, n.Name, std::strlen(n.Name));
    e.Name[3] = letter;
    t.SetTypes[0][static_cast<std::size_t>(code)] = n.Stouten;
    t.SetTypes[1][static_cast<std::size_t>(code)] = n.Protor;
    ++code;
  };
  // Letters without entries keep an empty side range.
  for (int l = 0; l < 26; ++l) {
    t.Base[static_cast<std::size_t>(l)] = 0;
    t.First[static_cast<std::size_t>(l)] = 1;
    t.Last[static_cast<std::size_t>(l)] = 0;
  }
  for (const TResidueAtoms& group : ResidueAtoms()) {
    const auto l = static_cast<std::size_t>(group.Letter - 'A');
    t.Base[l] = static_cast<std::int16_t>(code);
    for (const TNameTypes& b : kBackbone) add(b, group.Letter);
    t.First[l] = static_cast<std::int16_t>(code);
    for (const TNameTypes& s : group.Side) add(s, group.Letter);
    t.Last[l] = static_cast<std::int16_t>(code);
    add(kTerminalOxygen, group.Letter);
  }
  const auto o = static_cast<std::size_t>('O' - 'A');
  t.Base[o] = t.First[o] = static_cast<std::int16_t>(code);
  for (const TNameTypes& e : HetElements()) add(e, 'O');
  t.Last[o] = static_cast<std::int16_t>(code - 1);
  if (code != kAtomCodeCount || t.Base[o] != kHetBase) RaiseLimit("atom name table is not 307 entries");
  for (char c : {'B', 'J', 'O', 'U'}) t.NoResidue[static_cast<std::size_t>(c - 'A')] = true;
  return t;
}

// Built on first use so that it is valid before main and from any static
// initialiser; never changed after.
const TTables& Tables() {
  static const TTables tables = BuildTables();
  return tables;
}

constexpr std::array<const char*, kResidueNameCount> kResidueNames = {
    "ALA", "ARG", "ASN", "ASP", "CYS", "GLU", "GLN", "GLY", "HIS", "ILE", "LEU", "LYS", "MET",
    "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL", "ASX", "GLX", "ACD", "ALB", "ALI", "ABU",
    "ARO", "BAS", "BET", "HSE", "HYP", "HYL", "ORN", "PCA", "SAR", "TAU", "THY", "UNK", "ACE",
    "FOR", "CYH", "CSH", "CSS", "CYX", "ILU", "PRZ", "PR0", "CPR", "TRY", "HOH"};
constexpr char kOneLetterCodes[] = "ARNDCEQGHILKMFPSTWYVBZXXXXXXXXXXXXXXXX--CCCCIPPPW-";
static_assert(sizeof(kOneLetterCodes) == kResidueNameCount + 1);

bool IsLetter(char c) { return c >= 'A' && c <= 'Z'; }
std::size_t LetterIndex(char c) { return static_cast<std::size_t>(c - 'A'); }

// Exactly four characters: shorter names are blank padded, longer ones cut.
std::string Four(const std::string& s) {
  std::string r = s.substr(0, 4);
  r.resize(4, ' ');
  return r;
}

std::string ShiftLeft(const std::string& s) { return s.substr(1) + ' '; }

// Two-letter symbols (246..304) win over one-letter ones (231..245); -1 without a match.
int MatchElement(const std::string& name) {
  const TTables& t = Tables();
  for (int c = kHetTwoLetterFirst; c <= kHetTwoLetterLast; ++c) {
    const char* n = t.Entries[static_cast<std::size_t>(c)].Name;
    if (n[0] == name[0] && n[1] == name[1]) return c;
  }
  for (int c = kHetBase; c <= kHetOneLetterLast; ++c)
    if (t.Entries[static_cast<std::size_t>(c)].Name[0] == name[0]) return c;
  return -1;
}

}  // namespace

const TAtomNameEntry& AtomNameEntry(int code) {
  if (code < 0 || code >= kAtomCodeCount) RaiseLimit("atom code " + std::to_string(code) + " outside 0..306");
  return Tables().Entries[static_cast<std::size_t>(code)];
}

std::string AtomCodeName(int code) { return std::string(AtomNameEntry(code).Name, 3); }

std::string ResidueNameAt(int index) {
  if (index < 1 || index > kResidueNameCount) RaiseLimit("residue name index " + std::to_string(index));
  return kResidueNames[static_cast<std::size_t>(index - 1)];
}

char OneLetterCodeAt(int index) {
  if (index < 1 || index > kResidueNameCount) RaiseLimit("residue name index " + std::to_string(index));
  return kOneLetterCodes[index - 1];
}

int BackboneBase(char letter) { return IsLetter(letter) ? Tables().Base[LetterIndex(letter)] : 0; }
int SideFirst(char letter) { return IsLetter(letter) ? Tables().First[LetterIndex(letter)] : 1; }
int SideLast(char letter) { return IsLetter(letter) ? Tables().Last[LetterIndex(letter)] : 0; }
bool IsNoResidueLetter(char letter) { return IsLetter(letter) && Tables().NoResidue[LetterIndex(letter)]; }

char ResidueLetter(const std::string& threeLetterName) {
  for (int i = 0; i < kResidueNameCount; ++i)
    if (threeLetterName.compare(0, 3, kResidueNames[static_cast<std::size_t>(i)]) == 0) return kOneLetterCodes[i];
  return '-';
}

void FindSideAtom(const TRunContext& run, char letter, const std::string& name4, std::uint8_t& radiusType,
                  std::int16_t& atomCode) {
  std::string name = Four(name4);
  if (name[0] == ' ') name = ShiftLeft(name);
  atomCode = kOtherCode;
  radiusType = 9;
  if (IsLetter(letter)) {
    const TTables& t = Tables();
    const std::size_t compared = letter == 'X' ? 2 : 3;
    for (int c = SideFirst(letter); c <= SideLast(letter); ++c) {
      const TAtomNameEntry& e = t.Entries[static_cast<std::size_t>(c)];
      if (std::memcmp(e.Name, name.data(), compared) == 0) {
        atomCode = static_cast<std::int16_t>(c);
        radiusType = RadiusTypeOfSet(c, run.Model.RadiusSet);
        return;
      }
    }
  }
  run.Report("Atom not found " + name + " " + letter);
}

void BackboneAtomCode(const TRunContext& run, char letter, int kind, std::int16_t& atomCode) {
  if (!IsLetter(letter) || IsNoResidueLetter(letter)) {
    run.Report(std::string("Atom not found ") + letter);
    return;
  }
  static constexpr int kOffset[4] = {0, 1, 3, 2};  // by kind N, C, O, CA
  if (kind < 0 || kind > 3) {
    atomCode = kOtherCode;
    run.Report(std::string("Atom not found - Kein HauptkettenAtom ") + letter);
    return;
  }
  atomCode = static_cast<std::int16_t>(BackboneBase(letter) + kOffset[kind]);
}

void ClassifyHetAtom(const TRunContext& run, const std::string& name4, std::uint8_t& radiusType,
                     std::int16_t& atomCode) {
  std::string name = Four(name4);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  int code = -1;
  bool secondOnly = false;
  if (name[0] == ' ') {
    name = ShiftLeft(name);
    if (name[0] == ' ') {
      name = ShiftLeft(name);
      secondOnly = true;
    }
  }
  if (!secondOnly) {
    code = MatchElement(name);
    if (code < 0) name = ShiftLeft(name);
  }
  if (code < 0) code = MatchElement(name);
  if (code < 0) {
    code = kOtherCode;
    run.Report("Atom not found - Other - " + Four(name4));
  }
  atomCode = static_cast<std::int16_t>(code);
  radiusType = RadiusTypeOfSet(code, run.Model.RadiusSet);
}

bool IsWaterName(const std::string& threeLetterName) {
  const std::string n = threeLetterName.substr(0, 3);
  return n == "HOH" || n == "H2O" || n == "WAT" || n == "OH2" || n == "DOD";
}

bool IsHydrogenName(const std::string& name4) {
  const std::string n = Four(name4);
  if (n[1] != 'D' && n[1] != 'H' && n[1] != 'Q') return false;
  if (n[0] != ' ' && n[0] != '1' && n[0] != '2' && n[0] != '3') return false;
  const std::string pair = n.substr(1, 2);
  return pair != "Hg" && pair != "He" && pair != "Ho";
}

std::uint8_t RadiusTypeOfSet(int code, int radiusSet) {
  if (code < 0 || code >= kAtomCodeCount) RaiseLimit("atom code " + std::to_string(code) + " outside 0..306");
  return Tables().SetTypes[radiusSet == kProtor ? 1 : 0][static_cast<std::size_t>(code)];
}

int BackboneKindOf(const std::string& name4) {
  if (name4 == " N  ") return kBackboneN;
  if (name4 == " CA ") return kBackboneCA;
  if (name4 == " C  ") return kBackboneC;
  if (name4 == " O  ") return kBackboneO;
  return -1;
}

}  // namespace cavitas
