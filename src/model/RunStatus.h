#pragma once
// The status of one analysis: the first problem of a run, kept with its text
// in TProteinObject. The numbers are part of the output (the JSON document,
// the diagnostic dumps): they never change.
#include <cstdint>
#include <ostream>

namespace cavitas {

enum class TRunStatus : std::int32_t {
  Good = 0,
  Failed = 1,  // the only value that stops the later stages
  SideChainAtomTooFar = 2,
  TooFewSideChainAtoms = 3,
  TooManySideChainAtoms = 4,
  ResidueIgnored = 5,  // backbone incomplete, or an alternate backbone location
  NonstandardResidue = 6,
  AlternateLocation = 7,
  HeaderMissing = 10,
  CompoundMissing = 11,
  SourceMissing = 12,
  AuthorMissing = 13,
  ContactTooClose = 21,
  ChainInterrupted = 30,
  StrandColumnOverwritten = 31,
  CarbonylAtomsCoincide = 44,  // C and O of the preceding residue: the amide hydrogen stays on N
  AtomsCoincide = 45,
  OverviewTooManyElements = 50,
  OverviewNoNumber = 51,
  OverviewNoElementCount = 52,
  OverviewBadNumber = 53,
  TooManyElements = 102,  // the surface has no room left; the run makes it Failed
  NoInnerPoint = 104,     // a contact patch without an inner point; the run goes on
};

// The number printed for a status.
constexpr std::int32_t StatusNumber(TRunStatus status) { return static_cast<std::int32_t>(status); }

inline std::ostream& operator<<(std::ostream& out, TRunStatus status) { return out << StatusNumber(status); }

}  // namespace cavitas
