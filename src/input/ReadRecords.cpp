#include "input/ReadRecords.h"

#include <memory>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "frame/Status.h"
#include "model/Tables.h"

namespace cavitas {

namespace {

const std::string kEmptyResidueId = "      ";

constexpr double kChainBreakDistance = 2.5;     // Å between C of one residue and N of the next
constexpr double kAlternateBackbone2 = 1.0;     // Å², same backbone atom of two residues closer than 1 Å
constexpr double kIllegalSideChainDistance = 10;  // Å from CA

// Side-chain atoms a residue of this letter should have (OXT not counted); -1: no expectation.
int ExpectedSideChainCount(char letter) {
  switch (letter) {
    case 'G': return 0;
    case 'A': return 1;
    case 'C': case 'S': return 2;
    case 'P': case 'T': case 'V': return 3;
    case 'B': case 'D': case 'I': case 'L': case 'M': case 'N': return 4;
    case 'E': case 'K': case 'Q': case 'Z': return 5;
    case 'H': return 6;
    case 'F': case 'R': return 7;
    case 'Y': return 8;
    case 'W': return 10;
    default: return -1;
  }
}

std::string AtomsText(int n) { return std::to_string(n) + (n == 1 ? " atom" : " atoms"); }

}  // namespace

TProteinReader::TProteinReader(TProteinObject& protein, TRecordSource& source, int inputFormat)
    : protein_(protein), source_(source), inputFormat_(inputFormat) {}

std::string TProteinReader::ResidueLabel() const { return " " + pending_.ResidueName + pending_.ResidueId; }

void TProteinReader::ResetPending() {
  pending_.ResidueId = kEmptyResidueId;
  pending_.ChainName.clear();
  pending_.OneLetter = '!';
  pending_.ResidueName = "    ";
  pending_.HPos = TCoord{};
  pending_.SideChainStart = 0;
  pending_.FirstAtom = 0;
  pending_.Slot.fill(nullptr);
  pending_.SlotLine.fill(0);
  pending_.SideCount = 0;
  pending_.CoincidentBackbone = false;
  pending_.CoincidentSide = 0;
  pending_.CoincidentLine = 0;
}

void TProteinReader::ReadRecords() {
  State = TReadState{};
  kindCount_.fill(0);
  ResetPending();
  protein_.Context.Progress.SetPosition(0);
  TPdbLine line;
  for (;;) {
    source_.ReadRecord(line);
    protein_.Context.Progress.Position += 1;
    const std::uint8_t kind = line.Kind < kRecordKindCount ? line.Kind : static_cast<std::uint8_t>(kOtherRecord);
    ++kindCount_[kind];
    switch (kind) {
      case kSSBondRecord:
        State.SSBondCount += 1;
        State.SSBondPairs.push_back(TSSBondPair{line.Bond1, line.Bond2});
        break;
      case kAtomRecord: {
        const char letter = line.OneLetter;
        const bool primaryLocation = line.AltLoc == ' ' || line.AltLoc == 'A';
        if (letter != '-' && primaryLocation) {
          // Chains whose identifiers repeat (more than 62) stay apart by their whole names.
          if (line.ResidueId != pending_.ResidueId || line.ChainName != pending_.ChainName) {
            FinishResidue();
            if (protein_.Status == TRunStatus::Failed) break;
            pending_.ResidueId = line.ResidueId;
            pending_.ChainName = line.ChainName;
            pending_.OneLetter = letter;
            pending_.ResidueName = line.ResidueName;
            pending_.SideChainStart = sideAtomsStored_;
          }
          if (inputFormat_ == 0) {
            AddAtom(line.AtomName, line, 0, 0, 0);
          } else {
            AddAtom(line.AtomName, line, line.GivenNumber, line.NeighbourCount, line.NeighbourStart);
          }
        }
        if (letter == '-') {
          protein_.Context.Report("Residue " + line.ResidueName + " " + line.ResidueId +
                                  " has nonstandard name and will be ignored");
          protein_.SetWarningStatus(TRunStatus::NonstandardResidue, " !!! RESIDUE " + line.ResidueName + line.ResidueId +
                                           " HAS NONSTANDARD NAME. RESIDUE WILL BE IGNORED !!!");
        }
        if (!primaryLocation) {
          if (letter != '-') ++protein_.DroppedAltLocAtoms;
          protein_.Context.Report("In Residue " + line.ResidueName + " " + line.ResidueId +
                                  " alternate location indicator");
          protein_.SetWarningStatus(TRunStatus::AlternateLocation, " !!! IN RESIDUE " + line.ResidueName + line.ResidueId +
                                           " ALTERNATE LOCATION INDICATOR ");
        }
        break;
      }
      case kTerRecord:
      case kEndRecord:
        FinishResidue();
        break;
      default:
        break;  // header kinds, REMARK, HETATM, MODEL, ENDMDL: the record reader has handled them
    }
    if (protein_.Status == TRunStatus::Failed) break;
    if (kind == kEndRecord) break;
  }

  protein_.ProteinAtomCount = atomCounter_;
  if (inputFormat_ != 0) {
    std::int32_t residues = 0, atoms = 0;
    if (source_.DeclaredCounts(residues, atoms)) {
      if (protein_.ResidueCount != residues) {
        protein_.Context.Report(" !!! BAD NUMBER OF AMINOS !!!");
        protein_.SetFatalStatus(" !!! BAD NUMBER OF AMINOS !!!");
      } else if (protein_.ProteinAtomCount != atoms) {
        protein_.Context.Report(" !!! BAD NUMBER OF ATOMS !!!");
        protein_.SetFatalStatus(" !!! BAD NUMBER OF ATOMS !!!");
      }
    }
    // The declared total can promise atoms the file never holds; every walk
    // over the atoms stops at the ones read.
    const std::int64_t held = static_cast<std::int64_t>(protein_.ProteinAtomCount) + static_cast<std::int64_t>(protein_.HetAtoms.size());
    if (protein_.AtomCount > held) {
      protein_.Context.Report(" !!! BAD NUMBER OF ATOMS !!!");
      protein_.SetFatalStatus(" !!! BAD NUMBER OF ATOMS !!!");
      protein_.AtomCount = static_cast<std::int32_t>(held);
    }
  } else {
    protein_.AtomCount = protein_.ProteinAtomCount;
  }

  CheckCollapse();
  if (kindCount_[kHeaderRecord] == 0) protein_.SetWarningStatus(TRunStatus::HeaderMissing, " !!! HEADER-CARD MISSING !!!");
  if (kindCount_[kCompndRecord] == 0) protein_.SetWarningStatus(TRunStatus::CompoundMissing, " !!! COMPOUND-CARD MISSING !!!");
  if (kindCount_[kSourceRecord] == 0) protein_.SetWarningStatus(TRunStatus::SourceMissing, " !!! SOURCE-CARD MISSING !!!");
  if (kindCount_[kAuthorRecord] == 0) protein_.SetWarningStatus(TRunStatus::AuthorMissing, " !!! AUTHOR CARD MISSING !!!");
  if (protein_.ResidueCount > 0 || protein_.Status == TRunStatus::Failed) {
    if (sideAtomsStored_ == 0 && protein_.Status != TRunStatus::Failed) {
      protein_.Context.Report(" !!! ALL SIDECHAIN COORDINATES MISSING !!!");
      protein_.SetFatalStatus(" !!! ALL SIDECHAIN COORDINATES MISSING !!!");
    }
  } else {
    protein_.Context.Report(" !!! NO RESIDUE WITH COMPLETE BACKBONE !!!");
    protein_.SetFatalStatus(" !!! NO RESIDUE WITH COMPLETE BACKBONE !!!");
  }
}

TAtom* TProteinReader::StoreAtom(const TCoord& position, float occupancy, float bFactor, float volume,
                                 float contactVolume, std::int32_t givenNumber, std::int32_t neighbourCount,
                                 std::int32_t neighbourStart, std::int32_t line) {
  ++atomCounter_;
  CheckMemory(static_cast<std::int64_t>(sizeof(TAtom)));
  auto atom = std::make_unique<TAtom>();
  static_cast<TCoord&>(*atom) = position;
  atom->Occupancy = occupancy;
  atom->BFactor = bFactor;
  atom->Volume = volume;
  atom->ContactVolume = contactVolume;
  atom->Number = givenNumber > 0 ? givenNumber : atomCounter_;
  TAtom* stored = atom.get();
  protein_.PutAtom(atomCounter_, std::move(atom));
  if (!HasRow(atomLines_, atomCounter_)) atomLines_.resize(RowsFor(atomCounter_));
  At(atomLines_, atomCounter_) = line;
  if (stored->Number != atomCounter_) {
    protein_.SetFatalStatus("Fehler beim Einlesen - Falsche Nummer");
    protein_.Context.Report("FEHLER - FALSCHE NUMMER");
    return nullptr;
  }
  stored->NeighbourStart = neighbourStart;
  stored->NeighbourCount = neighbourCount;
  return stored;
}

void TProteinReader::AddAtom(const std::string& name, const TPdbLine& values, std::int32_t givenNumber,
                             std::int32_t further1, std::int32_t further2) {
  if (pending_.FirstAtom <= 0) pending_.FirstAtom = atomCounter_ + 1;
  const TCoord position{values.X, values.Y, values.Z};
  const int kind = BackboneKindOf(name);
  if (kind >= 0) {
    if (pending_.Slot[static_cast<std::size_t>(kind)]) return;  // a second copy is ignored silently
    if (CoincidesWithPending(position)) NoteCoincident(values.Line, true);
    TAtom* atom = StoreAtom(position, values.Occupancy, values.BFactor, values.Volume, values.ContactVolume,
                            givenNumber, further1, further2, values.Line);
    if (!atom) return;
    pending_.SlotLine[static_cast<std::size_t>(kind)] = values.Line;
    atom->Serial = values.Serial;
    atom->RadiusType = static_cast<std::uint8_t>(kind);  // the backbone kinds are their radius types
    BackboneAtomCode(protein_.Context, pending_.OneLetter, kind, atom->AtomCode);
    pending_.Slot[static_cast<std::size_t>(kind)] = atom;
    return;
  }
  if (pending_.SideCount >= kMaxSideChainPerResidue || IsHydrogenName(name)) return;
  if (CoincidesWithPending(position)) {
    NoteCoincident(values.Line, false);
    return;
  }
  TPendingSideAtom& side = pending_.Side[static_cast<std::size_t>(pending_.SideCount++)];
  side.Name = name;
  side.Position = position;
  side.Occupancy = values.Occupancy;
  side.BFactor = values.BFactor;
  side.Volume = values.Volume;
  side.ContactVolume = values.ContactVolume;
  side.GivenNumber = givenNumber;
  side.Serial = values.Serial;
  side.NeighbourCount = further1;
  side.NeighbourStart = further2;
  side.Line = values.Line;
}

bool TProteinReader::CoincidesWithPending(const TCoord& position) const {
  for (const TAtom* atom : pending_.Slot)
    if (atom != nullptr && Distance2(*atom, position) < kCoincident2) return true;
  for (int i = 0; i < pending_.SideCount; ++i)
    if (Distance2(pending_.Side[static_cast<std::size_t>(i)].Position, position) < kCoincident2) return true;
  return false;
}

void TProteinReader::NoteCoincident(std::int32_t line, bool backbone) {
  if (!pending_.CoincidentBackbone && pending_.CoincidentSide == 0) pending_.CoincidentLine = line;
  if (backbone) {
    pending_.CoincidentBackbone = true;
  } else {
    ++pending_.CoincidentSide;
  }
}

bool TProteinReader::BackboneCoincidesWithPlaced() {
  for (int k = 0; k < kSlots; ++k) {
    const TAtom* atom = pending_.Slot[static_cast<std::size_t>(k)];
    if (atom != nullptr && placed_.FindWithin(*atom, kCoincident2, -1) >= 0)
      NoteCoincident(pending_.SlotLine[static_cast<std::size_t>(k)], true);
  }
  return pending_.CoincidentBackbone;
}

void TProteinReader::LeaveOutPlacedSideAtoms() {
  int kept = 0;
  for (int i = 0; i < pending_.SideCount; ++i) {
    const TPendingSideAtom& side = pending_.Side[static_cast<std::size_t>(i)];
    if (placed_.FindWithin(side.Position, kCoincident2, -1) >= 0) {
      NoteCoincident(side.Line, false);
      continue;
    }
    if (kept != i) pending_.Side[static_cast<std::size_t>(kept)] = side;
    ++kept;
  }
  pending_.SideCount = kept;
}

void TProteinReader::ReportCoincidentSideAtoms() {
  if (pending_.CoincidentSide == 0) return;
  protein_.Context.Report("line " + std::to_string(pending_.CoincidentLine) + ": " +
                          AtomsText(pending_.CoincidentSide) + " of residue " + ResidueLabel() +
                          " at the place of atoms read before, ignored");
  protein_.SetWarningStatus(TRunStatus::AtomsCoincide, " !!! RESIDUE " + ResidueLabel() + " HAS ATOMS AT THE PLACE OF OTHER ATOMS !!!");
}

void TProteinReader::PlaceAcceptedAtoms(const TBACKBONE& residue) {
  for (const TAtom* atom : {residue.AtomN, residue.AtomCA, residue.AtomC, residue.AtomO}) placed_.Insert(*atom, atom->Number);
  for (std::size_t k = static_cast<std::size_t>(residue.SideChainStart) + 1; k < protein_.SideAtoms.size(); ++k)
    placed_.Insert(*protein_.SideAtoms[k], protein_.SideAtoms[k]->Number);
}

void TProteinReader::CheckCollapse() {
  // Most residues copies of others (all atoms at one point, or the same chain
  // repeated without MODEL records): a result would describe nothing real.
  if (coincidentResidues_ <= protein_.ResidueCount) return;
  const std::string of = std::to_string(coincidentResidues_ + protein_.ResidueCount);
  const std::string ignored = std::to_string(coincidentResidues_);
  protein_.Context.Report("structure collapsed: " + ignored + " of " + of +
                          " complete residues lie at the place of other residues or atoms");
  protein_.SetFatalStatus(" !!! STRUCTURE COLLAPSED: " + ignored + " OF " + of + " RESIDUES COINCIDE WITH OTHERS !!!");
}

void TProteinReader::FreeBackbone() {
  // The pending backbone atoms are the last ones stored (side chains are stored
  // only when a residue is accepted), so freeing them gives their numbers back.
  for (TAtom*& slot : pending_.Slot) {
    if (!slot) continue;
    protein_.TakeAtom(slot->Number);
    slot = nullptr;
    --atomCounter_;
  }
}

void TProteinReader::RecordBreak(std::int32_t r) {
  std::vector<std::int32_t>& breaks = protein_.ChainBreaks;
  if (breaks.empty() || breaks.back() != r) breaks.push_back(r);
}

void TProteinReader::CheckSideChainDistances() {
  const TAtom& ca = *pending_.Slot[kBackboneCA];
  int i = 0;
  while (i < pending_.SideCount) {
    const TPendingSideAtom& atom = pending_.Side[static_cast<std::size_t>(i)];
    if (Distance(ca, atom.Position) <= kIllegalSideChainDistance) {
      ++i;
      continue;
    }
    protein_.Context.Report("illegal sidechain atom named " + atom.Name);
    protein_.SetWarningStatus(TRunStatus::SideChainAtomTooFar, " !!! RESIDUE " + ResidueLabel() + " HAS ILLEGAL SIDECHAIN ATOM NAMED " + atom.Name);
    for (int k = i; k + 1 < pending_.SideCount; ++k)
      pending_.Side[static_cast<std::size_t>(k)] = pending_.Side[static_cast<std::size_t>(k + 1)];
    --pending_.SideCount;
  }
}

void TProteinReader::CheckSideChainCount() {
  const int expected = ExpectedSideChainCount(pending_.OneLetter);
  if (expected < 0) return;
  // The terminal oxygen of a chain end is no side-chain atom of its own.
  int count = 0;
  for (int i = 0; i < pending_.SideCount; ++i)
    if (pending_.Side[static_cast<std::size_t>(i)].Name != " OXT") ++count;
  if (count < expected) {
    protein_.Context.Report("not enough sidechain atoms in residue " + ResidueLabel());
    protein_.SetWarningStatus(TRunStatus::TooFewSideChainAtoms, " !!! RESIDUE " + ResidueLabel() + " HAS NOT ENOUGH SIDECHAIN ATOMS");
  } else if (count > expected) {
    protein_.Context.Report("too many sidechain atoms in residue " + ResidueLabel());
    protein_.SetWarningStatus(TRunStatus::TooManySideChainAtoms, " !!! RESIDUE " + ResidueLabel() + " HAS TO MANY SIDECHAIN ATOMS");
  }
}

void TProteinReader::FinishResidue() {
  const auto& slot = pending_.Slot;
  const bool complete = slot[kBackboneN] && slot[kBackboneCA] && slot[kBackboneC] && slot[kBackboneO];
  std::int32_t& residueCount = protein_.ResidueCount;

  if (!complete) {
    if (pending_.ResidueId != kEmptyResidueId) {
      protein_.Context.Report("backbone incomplete for residue " + ResidueLabel() + ". It will be ignored!");
      protein_.SetWarningStatus(TRunStatus::ResidueIgnored, " !!! BACKBONE INCOMPLETE FOR RESIDUE " + ResidueLabel() +
                                       " RESIDUE WILL BE IGNORED !!!");
    }
    FreeBackbone();
  }

  bool duplicate = false;
  if (complete && residueCount > 0) {
    const TBACKBONE& p = protein_.Residue(residueCount);
    duplicate = Distance2(*slot[kBackboneCA], *p.AtomCA) < kAlternateBackbone2 ||
                Distance2(*slot[kBackboneC], *p.AtomC) < kAlternateBackbone2 ||
                Distance2(*slot[kBackboneO], *p.AtomO) < kAlternateBackbone2 ||
                Distance2(*slot[kBackboneN], *p.AtomN) < kAlternateBackbone2;
    if (duplicate) {
      protein_.Context.Report("alternate backbone location for residue " + ResidueLabel() + ". It will be ignored!");
      protein_.SetWarningStatus(TRunStatus::ResidueIgnored, " !!! ALTERNATE BACKBONE LOCATION FOR RESIDUE " + ResidueLabel() +
                                       " RESIDUE WILL BE IGNORED !!!");
      FreeBackbone();
    }
  }
  bool coincident = false;
  if (complete && !duplicate && BackboneCoincidesWithPlaced()) {
    coincident = true;
    protein_.Context.Report("line " + std::to_string(pending_.CoincidentLine) + ": backbone atoms of residue " +
                            ResidueLabel() + " coincide with other atoms. It will be ignored!");
    protein_.SetWarningStatus(TRunStatus::ResidueIgnored, " !!! BACKBONE OF RESIDUE " + ResidueLabel() +
                                     " COINCIDES WITH OTHER ATOMS. RESIDUE WILL BE IGNORED !!!");
    FreeBackbone();
  }
  if (duplicate || coincident) ++coincidentResidues_;

  const bool accept = complete && !duplicate && !coincident;
  if (accept) {
    LeaveOutPlacedSideAtoms();
    ReportCoincidentSideAtoms();
    CheckSideChainDistances();
    CheckSideChainCount();
    TAtom& n = *slot[kBackboneN];
    TCoord hpos = n;
    if (residueCount >= 1) {
      const TBACKBONE& p = protein_.Residue(residueCount);
      if (Distance(*p.AtomC, n) > kChainBreakDistance) RecordBreak(residueCount);
      // The amide hydrogen lies 1 Å from N, opposite to the preceding carbonyl
      // (placed from the preceding residue even across a break).
      if (pending_.OneLetter != 'P') {
        const double d = Distance(*p.AtomC, *p.AtomO);
        if (d != 0) {
          const long double ld = d;
          hpos.X = static_cast<float>(n.X + (static_cast<long double>(p.AtomC->X) - p.AtomO->X) / ld);
          hpos.Y = static_cast<float>(n.Y + (static_cast<long double>(p.AtomC->Y) - p.AtomO->Y) / ld);
          hpos.Z = static_cast<float>(n.Z + (static_cast<long double>(p.AtomC->Z) - p.AtomO->Z) / ld);
        } else {
          protein_.Context.Report("Coordinates of atoms N and O in residue " + p.ResidueId + " are identical !!!");
          protein_.SetWarningStatus(TRunStatus::CarbonylAtomsCoincide, " !!! RESIDUE " + ResidueLabel() + " HAS EQUAL COORDINATES for atoms C and O");
        }
      }
    }

    residueCount += 1;
    CheckMemory(static_cast<std::int64_t>(sizeof(TBACKBONE)));
    auto residue = std::make_unique<TBACKBONE>(residueCount);
    residue->ResidueId = pending_.ResidueId;
    residue->ChainName = pending_.ChainName;
    residue->OneLetter = pending_.OneLetter;
    residue->ResidueName = pending_.ResidueName;
    residue->HPos = hpos;
    residue->AtomN = slot[kBackboneN];
    residue->AtomCA = slot[kBackboneCA];
    residue->AtomC = slot[kBackboneC];
    residue->AtomO = slot[kBackboneO];
    residue->SideChainStart = pending_.SideChainStart;
    residue->SideChainCount = pending_.SideCount;
    residue->FirstAtom = pending_.FirstAtom;
    protein_.Residues.push_back(std::move(residue));
    for (TAtom* atom : slot) atom->ResidueIndex = residueCount;

    for (int i = 0; i < pending_.SideCount; ++i) {
      const TPendingSideAtom& side = pending_.Side[static_cast<std::size_t>(i)];
      TAtom* atom = StoreAtom(side.Position, side.Occupancy, side.BFactor, side.Volume, side.ContactVolume,
                              side.GivenNumber, side.NeighbourCount, side.NeighbourStart, side.Line);
      if (!atom) break;
      atom->Serial = side.Serial;
      FindSideAtom(protein_.Context, pending_.OneLetter, side.Name, atom->RadiusType, atom->AtomCode);
      atom->ResidueIndex = residueCount;
      protein_.SideAtoms.push_back(atom);
      protein_.SideAtomNames.push_back(side.Name);
    }
    sideAtomsStored_ += pending_.SideCount;
    PlaceAcceptedAtoms(*protein_.Residues.back());
  }

  // Every TER and every ignored residue ends a chain segment.
  if (!duplicate && !complete && residueCount >= 1) RecordBreak(residueCount);
  ResetPending();
}

}  // namespace cavitas
