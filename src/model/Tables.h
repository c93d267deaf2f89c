#pragma once
// The fixed vocabulary: residue names with one-letter codes, the atom name
// table (codes 0..306) with its radius-type column, and the look-ups on them.
// Failed look-ups never fail hard: they report to the run's log and return code 306.
#include <cstdint>
#include <string>

namespace cavitas {

constexpr int kAtomCodeCount = 307;
constexpr int kOtherCode = 306;  // "OTR": every failed look-up
constexpr int kWaterCode = 305;  // "HOH": the water oxygen
constexpr int kResidueNameCount = 50;

// Backbone atom kinds, shared with the radius types of the four backbone atoms.
enum BackboneKind : int { kBackboneN = 0, kBackboneC = 1, kBackboneO = 2, kBackboneCA = 3 };
// The backbone kind of an exact 4-character atom name (" N  ", " CA ", " C  ", " O  "), else -1.
int BackboneKindOf(const std::string& name4);

struct TRunContext;

struct TAtomNameEntry {
  char Name[4];  // 3-character atom name, blank padded, then the residue letter
};

// Entry `code` (0..306) of the atom name table.
const TAtomNameEntry& AtomNameEntry(int code);
// Three-character atom name of a code (without the residue letter).
std::string AtomCodeName(int code);
// The residue name (3 characters) and one-letter code of entry 1..50.
std::string ResidueNameAt(int index);
char OneLetterCodeAt(int index);

// Per-letter code ranges ('A'..'Z'); side range empty for B, J and U.
int BackboneBase(char letter);
int SideFirst(char letter);
int SideLast(char letter);
bool IsNoResidueLetter(char letter);  // B, J, O, U

char ResidueLetter(const std::string& threeLetterName);
// The look-ups give the radius type of the run's radius set.
void FindSideAtom(const TRunContext& run, char letter, const std::string& name4, std::uint8_t& radiusType,
                  std::int16_t& atomCode);
void BackboneAtomCode(const TRunContext& run, char letter, int kind, std::int16_t& atomCode);
void ClassifyHetAtom(const TRunContext& run, const std::string& name4, std::uint8_t& radiusType,
                     std::int16_t& atomCode);
bool IsWaterName(const std::string& threeLetterName);
bool IsHydrogenName(const std::string& name4);

// The radius type that radius set `radiusSet` (1 STOUTEN, 4 PROTOR) gives to code 0..306.
std::uint8_t RadiusTypeOfSet(int code, int radiusSet);

}  // namespace cavitas
