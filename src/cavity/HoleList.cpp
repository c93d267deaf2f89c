#include "cavity/HoleList.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cerrno>
#include <fstream>
#include <map>
#include <unordered_map>

#include "frame/Error.h"
#include "frame/LogFile.h"
#include "structfile/CheckSum.h"
#include "structfile/NumberFields.h"
#include "structfile/StructureCards.h"

namespace cavitas {

namespace {

// A concave triangle as the set of its three atoms (identity by address).
using TriangleKey = std::array<std::uintptr_t, 3>;

TriangleKey KeyOf(const TConollyObject3& c) {
  TriangleKey k{reinterpret_cast<std::uintptr_t>(c.Atom), reinterpret_cast<std::uintptr_t>(c.Atom2),
                reinterpret_cast<std::uintptr_t>(c.Atom3)};
  std::sort(k.begin(), k.end());
  return k;
}

bool IsProteinTriangle(const TConollyObject3& c) {
  return !IsHetAtom(*c.Atom) && !IsHetAtom(*c.Atom2) && !IsHetAtom(*c.Atom3);
}

// What the predicates read of a hole: its size and its triangle sets, sorted
// and without repeats, so that "every triangle has a partner" becomes a set
// comparison.
struct HoleProfile {
  std::size_t Count = 0;
  std::vector<TriangleKey> Triangles;
  std::vector<TriangleKey> ProteinTriangles;
  std::int32_t ProteinTriangleCount = 0;
};

void SortUnique(std::vector<TriangleKey>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

HoleProfile ProfileOf(const THoleList& hole) {
  HoleProfile p;
  p.Count = hole.size();
  for (const auto& e : hole) {
    if (e->Kind != kConcavePatch) continue;
    const auto& c = static_cast<const TConollyObject3&>(*e);
    p.Triangles.push_back(KeyOf(c));
    if (IsProteinTriangle(c)) {
      p.ProteinTriangles.push_back(p.Triangles.back());
      ++p.ProteinTriangleCount;
    }
  }
  SortUnique(p.Triangles);
  SortUnique(p.ProteinTriangles);
  return p;
}

bool Same(const HoleProfile& a, const HoleProfile& b) { return a.Count == b.Count && a.Triangles == b.Triangles; }
bool Covers(const HoleProfile& h, const HoleProfile& w) {
  return std::includes(w.Triangles.begin(), w.Triangles.end(), h.ProteinTriangles.begin(), h.ProteinTriangles.end());
}

void CheckCount(std::int32_t n, const THoleTable& table, const char* name) {
  if (n < 0 || static_cast<std::size_t>(n) > table.size())
    RaiseLimit(std::string("hole count ") + std::to_string(n) + " of " + name + " outside its table of " +
               std::to_string(table.size()) + " holes");
}

const THoleList& HoleAt(const THoleTable& table, std::int32_t i) { return table[static_cast<std::size_t>(i - 1)]; }

int CheckedNumber(const TAtom& atom) {
  if (atom.Number < 1) RaiseLimit("atom number " + std::to_string(atom.Number) + " below 1 in the result file");
  return atom.Number;
}

}  // namespace

THoleClass ClassifyHole(const THoleList& hole) {
  THoleClass c;
  for (const auto& e : hole) {
    if (IsHetAtom(*e->Atom))
      c.HasHet = true;
    else
      c.HasProtein = true;
  }
  return c;
}

bool SameTriangle(const TConollyObject3& c1, const TConollyObject3& c2) { return KeyOf(c1) == KeyOf(c2); }

bool SameHole(const THoleList& h1, const THoleList& h2) {
  return h1.size() == h2.size() && Same(ProfileOf(h1), ProfileOf(h2));
}

bool CoversHole(const THoleList& h, const THoleList& w) { return Covers(ProfileOf(h), ProfileOf(w)); }

std::int32_t ProteinTriangleCount(const THoleList& h) { return ProfileOf(h).ProteinTriangleCount; }

std::int32_t FindIdenticalHole(const THoleList& h, const THoleTable& table, std::int32_t n) {
  CheckCount(n, table, "the searched table");
  const HoleProfile p = ProfileOf(h);
  for (std::int32_t i = 1; i <= n; ++i)
    if (Same(p, ProfileOf(HoleAt(table, i)))) return i;
  return 0;
}

std::int32_t FindNextCoveringHole(const THoleList& h, const THoleTable& table, std::int32_t n, std::int32_t start,
                                  bool& more) {
  CheckCount(n, table, "the searched table");
  more = false;
  const HoleProfile p = ProfileOf(h);
  std::int32_t found = 0;
  for (std::int32_t i = std::max(start, 0) + 1; i <= n; ++i) {
    if (!Covers(p, ProfileOf(HoleAt(table, i)))) continue;
    if (found) {
      more = true;
      break;
    }
    found = i;
  }
  return found;
}

std::int32_t FindCoveringHole(const THoleList& h, const THoleTable& table, std::int32_t n, bool& more) {
  return FindNextCoveringHole(h, table, n, 0, more);
}

void CombineHoles(const THoleTable& holesWithHet, std::int32_t holeCountWithHet, const THoleTable& holesWithoutHet,
                  std::int32_t holeCountWithoutHet, TCombinedHoleTable& holeTable, THoleDefinitions& defs) {
  CheckCount(holeCountWithHet, holesWithHet, "the surface with hetero atoms");
  CheckCount(holeCountWithoutHet, holesWithoutHet, "the surface without hetero atoms");
  const auto nH = static_cast<std::size_t>(holeCountWithHet);
  const auto nW = static_cast<std::size_t>(holeCountWithoutHet);
  holeTable.clear();
  auto add = [&](const THoleList* hole) { holeTable.push_back(hole); };

  std::vector<HoleProfile> with(nH), without(nW);
  std::vector<THoleClass> classes(nH);
  for (std::size_t i = 0; i < nH; ++i) {
    with[i] = ProfileOf(holesWithHet[i]);
    classes[i] = ClassifyHole(holesWithHet[i]);
  }
  for (std::size_t j = 0; j < nW; ++j) without[j] = ProfileOf(holesWithoutHet[j]);

  std::vector<std::size_t> group1, group2;
  for (std::size_t i = 0; i < nH; ++i) (classes[i].HasHet ? group1 : group2).push_back(i);
  for (std::size_t i : group1) add(&holesWithHet[i]);
  for (std::size_t i : group2) add(&holesWithHet[i]);

  // A hole that is the same with and without hetero atoms is listed once, in group 2.
  std::vector<bool> used(nW, false);
  std::map<std::pair<std::size_t, std::vector<TriangleKey>>, std::size_t> firstSame;
  for (std::size_t j = 0; j < nW; ++j) firstSame.emplace(std::make_pair(without[j].Count, without[j].Triangles), j);
  for (std::size_t i : group2) {
    const auto it = firstSame.find(std::make_pair(with[i].Count, with[i].Triangles));
    if (it != firstSame.end()) used[it->second] = true;
  }

  // Group 3: every hole without hetero atoms that holds all protein triangles
  // of a partly filled hole; candidates are the holes holding its first one.
  std::map<TriangleKey, std::vector<std::size_t>> holesOfTriangle;
  for (std::size_t j = 0; j < nW; ++j)
    for (const TriangleKey& k : without[j].Triangles) holesOfTriangle[k].push_back(j);
  std::size_t g3 = 0;
  for (std::size_t i : group1) {
    if (with[i].ProteinTriangleCount == 0) continue;
    const auto it = holesOfTriangle.find(with[i].ProteinTriangles.front());
    if (it == holesOfTriangle.end()) continue;
    for (std::size_t j : it->second) {
      if (used[j] || !Covers(with[i], without[j])) continue;
      add(&holesWithoutHet[j]);
      used[j] = true;
      ++g3;
    }
  }

  std::size_t g4 = 0;
  for (std::size_t j = 0; j < nW; ++j) {
    if (used[j]) continue;
    add(&holesWithoutHet[j]);
    ++g4;
  }

  defs.HolesPartlyFilled = static_cast<std::int32_t>(group1.size());
  defs.HolesNotFilled = static_cast<std::int32_t>(group2.size());
  defs.PartlyFilledHolesHetRemoved = static_cast<std::int32_t>(g3);
  defs.FilledHolesHetRemoved = static_cast<std::int32_t>(g4);
}

std::string HoleNumberLine(std::int32_t k, const THoleList& hole, std::int32_t atomCount) {
  std::vector<int> numbers;
  for (const auto& e : hole)
    if (e->Kind == kContactPatch) numbers.push_back(CheckedNumber(*e->Atom));
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::string line = "HOLE NUMBER " + std::to_string(k);
  for (int n : numbers) {
    if (n > atomCount) break;
    line += ' ';
    line += std::to_string(n);
  }
  return line;
}

void WriteFullOutput(TProteinObject& protein, const TCombinedHoleTable& holeTable, const TElementList& outerElements,
                     const std::string& fileName) {
  if (protein.Status == TRunStatus::Failed) {
    protein.Context.Report(protein.StatusText);
    return;
  }
  const THoleDefinitions& defs = protein.HoleDefinitions;
  const std::int64_t holeCount = static_cast<std::int64_t>(defs.HolesPartlyFilled) + defs.HolesNotFilled +
                                 defs.PartlyFilledHolesHetRemoved + defs.FilledHolesHetRemoved;
  if (holeCount < 0 || static_cast<std::size_t>(holeCount) > holeTable.size())
    RaiseLimit("hole count " + std::to_string(holeCount) + " outside the combined hole table of " +
               std::to_string(holeTable.size()) + " holes");

  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) throw IoError("cannot create result file " + fileName + ": " + SystemReason(errno));
  std::int32_t sum = kCheckSumStart;

  WriteListWithSum(protein.HeaderLines, out, sum);
  WriteListWithSum(protein.CompndLines, out, sum);
  WriteListWithSum(protein.SourceLines, out, sum);
  WriteListWithSum(protein.AuthorLines, out, sum);
  WriteLines(protein.RemarkLines, out);
  WriteLineWithSum(ResolutionCard(protein), out, sum);
  WriteLineWithSum(LengthCard(protein), out, sum);
  WriteLineWithSum(HoleCountCard(protein), out, sum);

  for (std::int64_t k = 1; k <= holeCount; ++k) {
    const THoleList* hole = holeTable[static_cast<std::size_t>(k - 1)];
    static const THoleList kNoHole;
    WriteLineWithSum(HoleNumberLine(static_cast<std::int32_t>(k), hole ? *hole : kNoHole, protein.AtomCount), out,
                     sum);
  }

  // Surface flag "0": the atom has a contact patch on the outer surface built with hetero atoms.
  std::vector<std::uint8_t> outer(static_cast<std::size_t>(std::max(protein.AtomCount, 0)) + 1, 0);
  for (const auto& e : outerElements) {
    if (e->Kind != kContactPatch) continue;
    const auto n = static_cast<std::size_t>(CheckedNumber(*e->Atom));
    if (n >= outer.size()) outer.resize(n + 1, 0);
    outer[n] = 1;
  }
  auto flag = [&](const TAtom& a) {
    return (a.Number >= 1 && HasRow(outer, a.Number) && At(outer, a.Number))
               ? "0"
               : "1";
  };
  auto values = [&](const TAtom& a) {
    return FormatReal(a.Volume, 7, 2) + FormatReal(a.ContactVolume, 7, 2) + " " + flag(a);
  };

  for (const auto& residue : protein.Residues) {
    if (!residue) continue;
    for (int i = residue->FirstAtom; i <= residue->FirstAtom + residue->SideChainCount + 3; ++i) {
      const TAtom* atom = protein.AtomAt(i);
      if (atom) WriteLineWithSum(AtomLine(protein, *atom, *residue) + values(*atom), out, sum);
    }
  }
  for (std::int32_t i = protein.ProteinAtomCount + 1; i <= protein.AtomCount; ++i) {
    if (i < 1) continue;
    const TAtom* atom = protein.AtomAt(i);
    if (!atom || atom->ResidueIndex < 1 || static_cast<std::size_t>(atom->ResidueIndex) > protein.HetAtoms.size())
      continue;
    const THetAtom* het = protein.HetAtoms[static_cast<std::size_t>(atom->ResidueIndex - 1)].get();
    if (!het || !het->Atom) continue;
    WriteLineWithSum(HetAtomLine(protein, *het) + values(*het->Atom), out, sum);
  }
  WriteLineWithSum(EndCard(), out, sum);
  out << CheckSumCard(sum) << '\n';
  out.close();
  if (!out) throw IoError("cannot write result file " + fileName + ": " + SystemReason(errno));
  protein.CheckSum = sum;
}

}  // namespace cavitas
