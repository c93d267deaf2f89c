#include "structfile/StructureCards.h"

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "frame/Error.h"
#include "structfile/CheckSum.h"
#include "structfile/NumberFields.h"

namespace cavitas {

namespace {

// Text fields are copied as their fixed number of characters, blanks included.
std::string Fixed(const std::string& text, std::size_t n) {
  std::string s = text.substr(0, n);
  s.resize(n, ' ');
  return s;
}

const TBACKBONE* ResidueOrNull(const TProteinObject& protein, std::int64_t i) {
  if (i < 1 || i > static_cast<std::int64_t>(protein.Residues.size())) return nullptr;
  return protein.Residues[static_cast<std::size_t>(i - 1)].get();
}

// ResidueName and ResidueId of residue i; blanks when it does not exist.
std::string ResidueLabel(const TProteinObject& protein, std::int64_t i) {
  const TBACKBONE* r = ResidueOrNull(protein, i);
  return r ? Fixed(r->ResidueName, 4) + Fixed(r->ResidueId, 6) : std::string(10, ' ');
}

const THetAtom* HetRecordOf(const TProteinObject& protein, const TAtom* atom) {
  if (!atom) return nullptr;
  const std::int64_t k = atom->ResidueIndex;
  if (k < 1 || k > static_cast<std::int64_t>(protein.HetAtoms.size())) return nullptr;
  return protein.HetAtoms[static_cast<std::size_t>(k - 1)].get();
}

std::string NumberColumns(const TAtom& a) {
  return FormatReal(a.X, 8, 3) + FormatReal(a.Y, 8, 3) + FormatReal(a.Z, 8, 3) + FormatReal(a.Occupancy, 6, 2) +
         FormatReal(a.BFactor, 6, 2);
}

// Volumes, element number text, and the atom's entries of its element list.
// Only entries that exist are written, and the count says how many follow.
std::string Extension(const TAtom& a, const std::vector<TNachbarStruktur>* elementAtoms, const std::string& elementNumber) {
  std::size_t first = 0, count = 0;
  if (elementAtoms && a.NeighbourStart >= 0 && a.NeighbourCount > 0 &&
      static_cast<std::size_t>(a.NeighbourStart) < elementAtoms->size()) {
    first = static_cast<std::size_t>(a.NeighbourStart);
    count = std::min(static_cast<std::size_t>(a.NeighbourCount), elementAtoms->size() - first);
  }
  std::string s = FormatReal(a.Volume, 7, 2) + FormatReal(a.ContactVolume, 7, 2) + " " + elementNumber +
                  FormatInt(static_cast<std::int64_t>(count), 3);
  for (std::size_t k = first; k < first + count; ++k) {
    const TNachbarStruktur& n = (*elementAtoms)[k];
    s += ' ';
    s += std::to_string(n.Atom);
    s += FormatReal(n.Distance, 5, 1);
  }
  return s;
}

const TSSSE* SSSEItem(const TSSSECol& col, int i) {
  if (i < 1 || static_cast<std::size_t>(i) > col.Items.size()) return nullptr;
  return col.Items[static_cast<std::size_t>(i - 1)].get();
}

int ItemCount(const TSSSECol& col) { return std::min<int>(col.Count, kMaxSSSE); }

}  // namespace

std::string ResolutionCard(const TProteinObject& p) {
  return "RESOLT    RESOLUTION. " + FormatReal(p.Resolution, 3, 1) + " ANGSTROMS. ";
}

std::string MethodCard() { return "METHOD    secondary structure analysis by THE TEAM "; }

std::string LengthCard(const TProteinObject& p) {
  return "LENGTH    " + FormatInt(p.ResidueCount, 6) + " AA     " + FormatInt(p.ProteinAtomCount, 7) + " ATOMS  " +
         FormatInt(p.AtomCount, 7) + " ATOMS TOTAL ";
}

std::string BreakCard(const TProteinObject& p) {
  std::string s = "REMARK    BREAK AFTER AA";
  for (std::int32_t b : p.ChainBreaks) {
    s += ' ';
    s += std::to_string(b);
  }
  return s;
}

std::string ElementCountCard(const TProteinObject& p) {
  return "NRELEM   " + FormatInt(p.ElementCount, 5) + " (number of elements) ";
}

std::string HetElementCountCard(const TProteinObject& p) {
  return "NRHETE   " + FormatInt(p.HetElementCount, 5) + " (number of elements of HETATM) ";
}

std::string SuperSSECountCard(const TProteinObject& p) {
  return "NRSSSE   " + FormatInt(p.SuperSSE.Count, 5) + " (number of elements of Super-SSE) ";
}

std::string DefinedSSECountCard(const TProteinObject& p) {
  return "NRISSE   " + FormatInt(p.DefinedSSE.Count, 5) + " (number of elements of individual-defined SSE) ";
}

std::string HoleCountCard(const TProteinObject& p) {
  const THoleDefinitions& h = p.HoleDefinitions;
  return "NRHOLE   " + FormatInt(h.HolesPartlyFilled, 5) + " (holes partly filled) " + FormatInt(h.HolesNotFilled, 5) +
         " (holes not filled) " + FormatInt(h.PartlyFilledHolesHetRemoved, 5) +
         " (partly filled holes with Hets removed) " + FormatInt(h.FilledHolesHetRemoved, 5) +
         " (filled holes with Hets removed) ";
}

std::string SpecialHoleCountCard(const TProteinObject& p) {
  return "NRSPHL   " + FormatInt(p.HoleDefinitions.Count, 2) + " (number of special hole definitions) ";
}

std::string SpecialHoleCard(const TProteinObject& p, int i) {
  const auto& names = p.HoleDefinitions.Names;
  const std::string name = (i >= 1 && static_cast<std::size_t>(i) <= names.size()) ? names[static_cast<std::size_t>(i - 1)] : "";
  return "SPECHL   hole number " + FormatInt(1 - i, 3) + " " + name;
}

std::string EndCard() { return "END        "; }

std::string ElementCard(const TProteinObject& p, const TElementZeile& e, int number) {
  const bool het = e.ElementKind == TElementKind::HetGroup || e.ElementKind == TElementKind::Water;
  std::string s = het ? "SEKSTH  " : "SEKSTN  ";
  s += FormatInt(number, 5);
  switch (e.ElementKind) {
    case TElementKind::Helix: s += " HELIX  "; break;
    case TElementKind::Strand: s += " STRAND "; break;
    case TElementKind::HetGroup: s += " OTHER  "; break;
    case TElementKind::Water: s += " WATER  "; break;
    default: s += " COIL   "; break;
  }
  if (!het) {
    s += FormatInt(e.First, 8) + " - " + FormatInt(e.Last, 8) + " " + ResidueLabel(p, e.First) + " - " +
         ResidueLabel(p, e.Last);
  } else {
    s += FormatInt(static_cast<std::int64_t>(e.First) - p.ProteinAtomCount, 8) + " - " +
         FormatInt(static_cast<std::int64_t>(e.Last) - p.ProteinAtomCount, 8) + " ";
    const THetAtom* h = HetRecordOf(p, p.AtomAt(e.First));
    s += h ? Fixed(h->ResName, 4) + Fixed(h->ResNumber, 5) + h->Chain : std::string(10, ' ');
  }
  return s;
}

std::string SuperElementCard(const TProteinObject& p, const TSSSE& sse, int number, int b) {
  TSSSEEntry entry;
  if (b >= 1 && b <= kMaxSSSEEntries) entry = sse.Entries[static_cast<std::size_t>(b - 1)];
  return "SEKSTS  " + FormatInt(number, 5) + (sse.SSEKind == 2 ? " SHEET  " : " COIL   ") + FormatInt(sse.EntryCount, 7) +
         FormatInt(b, 7) + FormatInt(entry.StartResidue, 8) + " - " + FormatInt(entry.EndResidue, 8) + " " +
         FormatInt(entry.Code, 2) + " " + ResidueLabel(p, entry.StartResidue) + " - " + ResidueLabel(p, entry.EndResidue);
}

std::string AtomLine(const TProteinObject& p, const TAtom& a, const TBACKBONE& r) {
  std::string s = "ATOM" + FormatInt(a.Number, 7) + " ";
  switch (a.RadiusType) {
    case 0: s += " N   "; break;
    case 1: s += " C   "; break;
    case 2: s += " O   "; break;
    case 3: s += " CA  "; break;
    default: {
      // The side-chain name of the atom's position after the residue's first side-chain atom.
      const TAtom* firstSide = p.AtomAt(r.FirstAtom + 4);
      const std::int64_t k =
          static_cast<std::int64_t>(r.SideChainStart) + 1 + (firstSide ? a.Number - firstSide->Number : 0);
      std::string name = (k >= 1 && k < static_cast<std::int64_t>(p.SideAtomNames.size()))
                             ? p.SideAtomNames[static_cast<std::size_t>(k)].substr(0, 4)
                             : std::string();
      if (name.size() < 4) name.insert(0, 4 - name.size(), ' ');
      s += name + " ";
    }
  }
  const std::string id = Fixed(r.ResidueId, 6);
  s += Fixed(r.ResidueName, 4);
  s += id[5];
  s += id.substr(0, 5) + "   " + NumberColumns(a);
  return s;
}

std::string HetAtomLine(const TProteinObject&, const THetAtom& h) {
  static const TAtom kNoAtom{};
  const TAtom& a = h.Atom ? *h.Atom : kNoAtom;
  return "HETATM" + FormatInt(a.Number, 5) + " " + Fixed(h.AtomName, 4) + h.AltLoc + Fixed(h.ResName, 4) + " " +
         Fixed(h.ResNumber, 5) + h.Chain + "  " + NumberColumns(a);
}

std::string ExtendedAtomLine(const TProteinObject& p, const TAtom& a, const TBACKBONE& r,
                             const std::vector<TNachbarStruktur>* elementAtoms, const std::string& elementNumber) {
  return AtomLine(p, a, r) + Extension(a, elementAtoms, elementNumber);
}

std::string ExtendedHetAtomLine(const TProteinObject& p, const THetAtom& h,
                                const std::vector<TNachbarStruktur>* elementAtoms, const std::string& elementNumber) {
  static const TAtom kNoAtom{};
  return HetAtomLine(p, h) + Extension(h.Atom ? *h.Atom : kNoAtom, elementAtoms, elementNumber);
}

void RenderStructureCards(const TProteinObject& p, const std::function<void(const std::string&)>& sink) {
  for (const auto* list : {&p.HeaderLines, &p.CompndLines, &p.SourceLines, &p.AuthorLines})
    for (const auto& line : *list)
      if (line) sink(line->Text);

  sink(ResolutionCard(p));
  sink(MethodCard());
  sink(LengthCard(p));
  if (!p.ChainBreaks.empty()) sink(BreakCard(p));
  sink(ElementCountCard(p));
  sink(HetElementCountCard(p));
  sink(SuperSSECountCard(p));
  sink(DefinedSSECountCard(p));
  sink(HoleCountCard(p));
  sink(SpecialHoleCountCard(p));
  for (int i = 1; i <= p.HoleDefinitions.Count; ++i) sink(SpecialHoleCard(p, i));

  const int elementTotal = p.ElementCount + p.HetElementCount;
  const int rows = static_cast<int>(p.ElementTable.size()) - 1;  // row 0 unused
  auto row = [&](int e) -> const TElementZeile* { return (e >= 1 && e <= rows) ? &p.ElementTable[static_cast<std::size_t>(e)] : nullptr; };
  for (int e = 1; e <= elementTotal; ++e)
    if (const TElementZeile* z = row(e)) sink(ElementCard(p, *z, e));

  int number = elementTotal;
  for (const TSSSECol* col : {&p.SuperSSE, &p.DefinedSSE}) {
    for (int i = 1; i <= ItemCount(*col); ++i) {
      ++number;
      const TSSSE* sse = SSSEItem(*col, i);
      if (!sse) continue;
      for (int b = 1; b <= std::min<int>(sse->EntryCount, kMaxSSSEEntries); ++b) sink(SuperElementCard(p, *sse, number, b));
    }
  }

  for (int e = 1; e <= p.ElementCount; ++e) {
    const TElementZeile* z = row(e);
    if (!z) break;
    const std::string numberText = FormatInt(e, 6);
    const std::int64_t last = std::min<std::int64_t>(z->Last, static_cast<std::int64_t>(p.Residues.size()));
    for (std::int64_t i = std::max<std::int64_t>(z->First, 1); i <= last; ++i) {
      const TBACKBONE& r = *p.Residues[static_cast<std::size_t>(i - 1)];
      for (std::int64_t n = r.FirstAtom; n <= static_cast<std::int64_t>(r.FirstAtom) + 3 + r.SideChainCount; ++n) {
        if (n < 1 || n > p.AtomCount) continue;
        if (const TAtom* a = p.AtomAt(static_cast<int>(n))) sink(ExtendedAtomLine(p, *a, r, z->ElementAtoms.get(), numberText));
      }
    }
  }

  for (int h = 1; h <= p.HetElementCount; ++h) {
    const TElementZeile* z = row(p.ElementCount + h);
    if (!z) break;
    const std::string numberText = FormatInt(p.ElementCount + h, 6);
    const std::int64_t last = std::min<std::int64_t>(z->Last, p.AtomCount);
    for (std::int64_t i = std::max<std::int64_t>(z->First, 1); i <= last; ++i) {
      const THetAtom* het = HetRecordOf(p, p.AtomAt(static_cast<int>(i)));
      if (het) sink(ExtendedHetAtomLine(p, *het, z->ElementAtoms.get(), numberText));
    }
  }

  sink(EndCard());
}

std::int32_t SumStructureCards(const TProteinObject& protein) {
  std::int32_t sum = kCheckSumStart;
  RenderStructureCards(protein, [&sum](const std::string& line) { AddToCheckSum(line, sum); });
  return sum;
}

std::int32_t WriteStructureCards(const TProteinObject& protein, const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw IoError("cannot create structure-card file " + file + ": " + SystemReason(errno));
  std::int32_t sum = kCheckSumStart;
  RenderStructureCards(protein, [&](const std::string& line) { WriteLineWithSum(line, out, sum); });
  out << CheckSumCard(sum) << '\n';
  out.close();
  if (!out) throw IoError("cannot write structure-card file " + file + ": " + SystemReason(errno));
  return sum;
}

}  // namespace cavitas
