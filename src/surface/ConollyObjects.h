#pragma once
// The three kinds of Connolly surface element and the two surface passes.
//
// Every element is owned by exactly one list (TElementList, normally
// TSurface::Elements, later a hole list); every other list (the per-atom
// lists, the edge lists of contact patches) holds plain pointers, and identity
// is compared by pointer. The geometry symbols (probe circle, saddle frame,
// concave triangle, inside test) are those of docs/geometry.md.
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "model/Protein.h"
#include "model/Vector3.h"

namespace cavitas {

// Extended-precision 3x3 frame of a probe circle.
// Frame[r][c]: column c is local axis c+1 in world coordinates, so
// world = Frame * local and local = transpose(Frame) * (world - Center).
using TExtFrame = std::array<std::array<long double, 3>, 3>;

// The kind of a surface element (the numbers are those the dumps print).
enum class TConollyKind : std::uint8_t { kContactPatch = 1, kSaddlePatch = 2, kConcavePatch = 3 };
using enum TConollyKind;

class TConollyObject {
 public:
  TConollyObject(TConollyKind kind, TAtom* atom) : Kind(kind), Atom(atom) {}
  virtual ~TConollyObject() = default;
  TConollyObject(const TConollyObject&) = delete;
  TConollyObject& operator=(const TConollyObject&) = delete;

  // Gap between the sphere (point, radius) and a probe placed on the element
  // nearest to point; probeCentre receives that probe position.
  virtual double ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                               double radius) const = 0;
  // Distance between the sphere (point, radius) and the element's own surface patch.
  virtual double PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const = 0;
  // Whether this copy is the one that survives registration.
  virtual bool IsOwner() const = 0;
  // Area of the patch in Å² (the radii and the probe of the run's model).
  virtual double Area(const TModelConstants& model) const = 0;
  // A new element with the same values (a distinct identity).
  virtual std::unique_ptr<TConollyObject> Clone() const = 0;

  TConollyKind Kind;
  bool Degenerate = false;  // only zero-length saddle edges of the degenerate repair
  TAtom* Atom;              // owning atom, not owned
};

// The handle of the system: identity by address.
using PConollyObject = TConollyObject*;

class TConollyObject2;

// Outcome of the crossing test of one great-circle walk with one edge.
struct TSchnittResult {
  bool StartOnArc = false;
  bool EndOnArc = false;
  bool Ambiguous = false;
  bool Crossed = false;
  bool Stops() const { return StartOnArc || EndOnArc || Ambiguous; }
};

// Contact patch (Kind 1): the free part of one atom's expanded sphere.
class TConollyObject1 : public TConollyObject {
 public:
  TConollyObject1(TAtom* atom, TCoord innerPoint) : TConollyObject(kContactPatch, atom), InnerPoint(innerPoint) {}

  double ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                       double radius) const override;
  double PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const override;
  bool IsOwner() const override { return true; }
  double Area(const TModelConstants& model) const override;
  std::unique_ptr<TConollyObject> Clone() const override;

  // Edge index (1-based); out of range raises error 101 fatally.
  TConollyObject2* Kante(int index) const;
  // Appends an edge (EdgeCount grows by one).
  void AddEdge(TConollyObject2* edge);
  // Whether the direction from the atom centre falls into the patch.
  bool IsInside(const TModelConstants& model, const TCoord& direction) const;

  std::int32_t EdgeCount = 0;
  TCoord InnerPoint;  // direction from the atom centre into the patch, not normalised
  std::vector<TConollyObject2*> Edges;  // Edges[n-1] is edge n, in boundary-cycle order
};

// Saddle patch (Kind 2): one free arc of the probe circle of the pair (Atom, Atom2).
class TConollyObject2 : public TConollyObject {
 public:
  TConollyObject2(TAtom* atom, TAtom* endAtom, TAtom* startAtom, double angle, double radius, const TExtFrame& frame,
                  const TExtVector& center, TAtom* atom2)
      : TConollyObject(kSaddlePatch, atom),
        Atom2(atom2),
        Center(center),
        Frame(frame),
        Radius(radius),
        Angle(angle),
        StartAtom(startAtom),
        EndAtom(endAtom) {}

  double ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                       double radius) const override;
  double PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const override;
  bool IsOwner() const override { return Atom->Number < Atom2->Number; }
  double Area(const TModelConstants& model) const override;
  std::unique_ptr<TConollyObject> Clone() const override;

  // Probe centres at local angle 0 and at Angle.
  void ArcEnds(TCoord& startPoint, TCoord& endPoint) const;
  // Point in the arc's cylinder coordinates: Rho, |z| and polar angle in [0, 2pi).
  void ArcPolar(const TCoord& point, double& rho, double& height, double& phi) const;

  TAtom* Atom2;
  TExtVector Center;  // centre of the probe circle
  TExtFrame Frame;    // local axis 3 = pair axis, local axis 1 toward the arc start
  double Radius;      // radius of the probe circle
  double Angle;       // arc length in radians: 6.283185 full circle, 0 degenerate edge
  TAtom* StartAtom;   // blocker ending the arc at its start; nullptr for a full circle
  TAtom* EndAtom;     // blocker ending the arc at its end; nullptr for a full circle

 private:
  // cos and sin of Angle in long double, kept from the last ArcEnds (the
  // cycle walks ask for the ends of each arc several times); valid while
  // Angle equals endAngle_ (NaN at first, so never equal).
  mutable double endAngle_ = std::numeric_limits<double>::quiet_NaN();
  mutable long double endCos_ = 0, endSin_ = 0;
};

// Concave patch (Kind 3): one probe position touching Atom, Atom2 and Atom3.
class TConollyObject3 : public TConollyObject {
 public:
  TConollyObject3(TAtom* atom, TCoord probeCenter, TAtom* atom3, TAtom* atom2)
      : TConollyObject(kConcavePatch, atom), Atom2(atom2), Atom3(atom3), ProbeCenter(probeCenter) {}

  double ProbeDistance(const TModelConstants& model, const TCoord& point, TCoord& probeCentre,
                       double radius) const override;
  double PatchDistance(const TModelConstants& model, const TCoord& point, double radius) const override;
  bool IsOwner() const override {
    return Atom->Number < Atom2->Number && Atom2->Number < Atom3->Number;
  }
  double Area(const TModelConstants& model) const override;
  std::unique_ptr<TConollyObject> Clone() const override;

  TAtom* Atom2;
  TAtom* Atom3;
  TCoord ProbeCenter;
};

// Owning list of elements and the per-atom non-owning lists.
using TElementList = std::vector<std::unique_ptr<TConollyObject>>;
// Index = atom Number (slot 0 unused); an empty vector is the system's nil slot.
using TAtomElementLists = std::vector<std::vector<TConollyObject*>>;

// Both results of one surface pass.
struct TSurface {
  TAtomElementLists AtomElements;
  TElementList Elements;
};

namespace surface_detail {
struct TRunMemo;
}

// What one surface construction keeps for the next one of the same protein:
// the per-atom steps of every atom whose inputs are unchanged bit for bit are
// taken over (the pass without hetero atoms after the pass with them). The
// owner passes it to the constructions it runs one after another; results
// are the same with or without it.
class TSurfaceMemo {
 public:
  TSurfaceMemo();
  ~TSurfaceMemo();
  TSurfaceMemo(TSurfaceMemo&&) noexcept;
  TSurfaceMemo& operator=(TSurfaceMemo&&) noexcept;
  void Clear();                                    // frees what was kept
  std::unique_ptr<surface_detail::TRunMemo> Last;  // null: nothing kept yet
  std::unique_ptr<surface_detail::TRunMemo> Spare;  // the one before: storage to reuse
  // False for the last construction of a run: it recalls from the memo but
  // keeps nothing for a next one (no copies of its candidates, no lists).
  bool KeepForNext = true;
};

// The two drivers: the surface of the protein atoms (1..ProteinAtomCount) or of
// all atoms (1..AtomCount). status receives TooManyElements or NoInnerPoint;
// otherwise it is left unchanged. split is the switch of the contact-patch
// split (true in every call of this program).
void ComputeSurfaceWithoutHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                              TRunStatus& status, bool split = true, TSurfaceMemo* memo = nullptr);
void ComputeSurfaceWithHet(TProteinObject& protein, TAtomElementLists& atomElements, TElementList& elements,
                           TRunStatus& status, bool split = true, TSurfaceMemo* memo = nullptr);
inline void ComputeSurfaceWithoutHet(TProteinObject& protein, TSurface& surface, TRunStatus& status,
                                     bool split = true, TSurfaceMemo* memo = nullptr) {
  ComputeSurfaceWithoutHet(protein, surface.AtomElements, surface.Elements, status, split, memo);
}
inline void ComputeSurfaceWithHet(TProteinObject& protein, TSurface& surface, TRunStatus& status, bool split = true,
                                  TSurfaceMemo* memo = nullptr) {
  ComputeSurfaceWithHet(protein, surface.AtomElements, surface.Elements, status, split, memo);
}

// The construction for the atoms whose flag is set (include[Number]; size
// AtomCount + 1 at least). Builds the neighbour lists when the protein has none.
// threads: how many make the per-atom candidates (0: the machine's cores when
// there are enough atoms); the surface is the same for every count.
void GetAtConolly(TProteinObject& protein, const std::vector<bool>& include, TAtomElementLists& atomElements,
                  TRunStatus& status, bool split, TElementList& elements, TSurfaceMemo* memo = nullptr,
                  int threads = 0);

// Exact degeneracies (four or more expanded spheres through one point, or
// coincident centres) that the zero-length edges cannot close are resolved by
// moving the atoms involved by a tiny reproducible step and building the
// surface again (GetAtConolly). The moved atoms keep their new coordinates for
// the later surfaces of the run; this puts every one back where it was read,
// for the stages after the surfaces.
void RestoreDisplacedAtoms(TProteinObject& protein);

// The unit-sphere samples that measure contact-patch areas (built once, depth 3: 1280 samples).
struct TSphereSample {
  TExtVector Direction;
  long double Weight;
};
const std::vector<TSphereSample>& SphereSamples();
// A fresh sample table of the given subdivision depth (at most 30000 samples).
std::vector<TSphereSample> BuildSphereSamples(int depth);

}  // namespace cavitas
