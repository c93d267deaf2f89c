#include "surface/NeighbourSource.h"

#include "frame/Error.h"
#include "model/Tolerances.h"
#include "surface/SurfaceGeometry.h"

namespace cavitas::surface_detail {

TNeighbourSource::TNeighbourSource(const TProteinObject& protein, const std::vector<bool>& include,
                                   const TSurfaceRadii& radii, bool fast)
    : protein_(protein), include_(include), radii_(radii), fast_(fast) {
  for (std::size_t a = 0; a < radii.Table.size(); ++a)
    for (std::size_t b = 0; b < radii.Table.size(); ++b) {
      const double s = radii.Table[a] + radii.Table[b] + 2 * radii.Probe;
      pairCutoff2_[a][b] = s * s;
    }
  if (!fast) return;
  slots_.assign(include_.size(), TSlot{});
  for (TAtomIndex n = 1; HasRow(slots_, n); ++n)
    if (TAtom* a = AtomOf(n); a != nullptr && At(include_, n)) At(slots_, n) = {a->X, a->Y, a->Z, a->RadiusType, a->Number, a};
}

bool TNeighbourSource::Included(int number) const {
  return number > 0 && HasRow(include_, number) && At(include_, number) && AtomOf(number) != nullptr;
}

void TNeighbourSource::Collect(TAtom& atom, TNeighbourhood& n) const {
  if (fast_)
    CollectFast(atom, n);
  else
    CollectPlain(atom, n);
}

void TNeighbourSource::CollectFast(TAtom& atom, TNeighbourhood& n) const {
  n.Clear();
  n.Atom = &atom;
  radii_.Expanded(atom);  // validates the radius type
  const auto& cut = pairCutoff2_[atom.RadiusType];
  const std::size_t k = static_cast<std::size_t>(atom.Number - 1);
  const TSlot* slots = slots_.data();
  const std::size_t nSlots = slots_.size();
  constexpr double kRounding = tolerance::kDoubleRounding;
  for (const auto* lists : {protein_.NeighboursNear.get(), protein_.NeighboursMid.get()}) {
    if (lists == nullptr || k >= lists->size()) continue;
    for (const TNachbarStruktur& e : (*lists)[k]) {
      const std::size_t number = static_cast<std::size_t>(e.Atom);
      if (number >= nSlots || slots[number].Atom == nullptr) continue;  // not Included
      const TSlot& sl = slots[number];
      if (sl.RadiusType >= radii_.Table.size()) radii_.Expanded(*sl.Atom);  // raises as the plain collection does
      // The squared distance in double errs by a few roundings (1e-15 of it);
      // only near the cutoff the long-double value decides.
      const double x = double(sl.X) - atom.X, y = double(sl.Y) - atom.Y, z = double(sl.Z) - atom.Z;
      const double D2 = x * x + y * y + z * z;
      const double cutoff = cut[sl.RadiusType];
      if (D2 > cutoff * (1 + kRounding)) continue;
      if (D2 >= cutoff * (1 - kRounding) && !(static_cast<double>(Dist2(atom, *sl.Atom)) < cutoff)) continue;
      n.Add(sl.Atom, {x, y, z, D2, radii_.Table[sl.RadiusType] + radii_.Probe, sl.Number});
    }
  }
}

void TNeighbourSource::CollectPlain(TAtom& atom, TNeighbourhood& n) const {
  n.Clear();
  n.Atom = &atom;
  radii_.Expanded(atom);  // validates the radius type
  const auto& cut = pairCutoff2_[atom.RadiusType];
  const std::size_t k = static_cast<std::size_t>(atom.Number - 1);
  for (const auto* lists : {protein_.NeighboursNear.get(), protein_.NeighboursMid.get()}) {
    if (lists == nullptr || k >= lists->size()) continue;
    for (const TNachbarStruktur& e : (*lists)[k]) {
      if (!Included(e.Atom)) continue;
      TAtom* a = AtomOf(e.Atom);
      radii_.Expanded(*a);
      if (!(static_cast<double>(Dist2(atom, *a)) < cut[a->RadiusType])) continue;
      n.Add(a, NeighbourOf(atom, *a, radii_));
    }
  }
}

}  // namespace cavitas::surface_detail
