#pragma once
// Voronoi volume and contact volume of every atom.
//
// Space is scanned in layers of cubes of edge 0.8 Å over the padded bounding box
// of the structure. Each cube goes to the atom whose sphere surface is nearest,
// is split smoothly between the two nearest atoms where both are close, and is
// cut into 4 x 4 x 4 smaller cubes near surfaces and bisectors until its
// half-edge is below the run's exactness (TModelConstants::Exactness). Volume collects the part inside the
// spheres, ContactVolume the part of the probe shell (up to ProbeRadius beyond
// the spheres) outside them.
//
// Two scans give the same sums: the straightforward one (every candidate of the
// top-level cube for every sub-cube, candidates found by walking the grid
// cells within the cut-off around the cube) and the fast one used by default, which finds the same
// ordered candidate lists layer by layer and narrows the list for sub-cubes,
// falling back to the full list whenever a tie could make the order matter.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/Protein.h"

namespace cavitas {

constexpr double kVolumeCubeEdge = 0.8;       // Å, top-level cube
constexpr double kVolumeHalfEdge = 0.4;       // Å
constexpr double kVolumeCubeVolume = 0.512;   // Å³
constexpr double kSqrt3 = 1.7320508075688772;
constexpr int kVolumeGridCells = 16;          // per axis
constexpr double kVolumeMinCellSlack = 2.5;   // minimum cell edge = this + ProbeRadius + half-edge

// Per-atom sums indexed by atom Number (entry 0 unused), one Double per atom of the scan.
using TAtomAccumulator = std::vector<double>;

// The atom grid and cut-off table of one scan.
struct TVolumeGrid {
  std::array<std::unique_ptr<TNewCollection<TAtom>>, kVolumeGridCells * kVolumeGridCells * kVolumeGridCells> Cells;
  TCoord Min, Max;     // padded box of the included atoms
  TCoord Edge, Inverse;  // cell edge and its inverse per axis
  // Squared centre distance below which an atom's probe-extended sphere can
  // reach a top-level cube, by radius type.
  std::array<double, 16> CutOff{};

  static int CellIndex(int x, int y, int z) { return (x * kVolumeGridCells + y) * kVolumeGridCells + z; }
  TNewCollection<TAtom>* Cell(int x, int y, int z) const { return Cells[static_cast<std::size_t>(CellIndex(x, y, z))].get(); }
};

// Which scan fills the accumulators. Fast and Reference give bitwise equal
// sums; ReferenceExtended carries the distances in long double (for cross-checks).
enum class TVolumeMethod { Fast, Reference, ReferenceExtended };

// The pipeline stage: two REMARK lines, the scan, the values copied into the atoms.
void ComputeVolumes(TProteinObject& protein, TVolumeMethod method = TVolumeMethod::Fast);

// How the fast scan shares its layers among threads; the sums never depend on it.
struct TVolumeThreads {
  // Ranges of layers scanned in parallel, one thread each (at most one per
  // layer; 0: one per core, a single one for small structures).
  int Threads = 0;
  // A thread done with its range takes over the later half of the layers
  // another range has still to come, while these hold at least this many
  // layers' worth of work (on average): both then scan about 5 layers twice.
  int MinTakeOver = 2;
  int* TakeOvers = nullptr;  // when set, counts the take-overs (for tests)
  TVolumeThreads(int threads = 0) : Threads(threads) {}  // NOLINT: a plain count converts
};

// Scans all atoms 1..AtomCount into the accumulators (allocated when null).
void VolumeOfAtoms(TProteinObject& protein, std::unique_ptr<TAtomAccumulator>& volume,
                   std::unique_ptr<TAtomAccumulator>& contactVolume, TVolumeMethod method = TVolumeMethod::Fast,
                   const TVolumeThreads& threads = {});

// The layer scan over the atoms whose entry in `included` (indexed by Number)
// is non-zero. The fast scan shares the layers among threads (see
// TVolumeThreads) with sums bitwise equal to those of one thread. The
// reference scans run on the calling thread alone.
void ScanVolumeLayers(const TProteinObject& protein, const std::vector<std::uint8_t>& included,
                      std::unique_ptr<TAtomAccumulator>& volume, std::unique_ptr<TAtomAccumulator>& contactVolume,
                      TVolumeMethod method = TVolumeMethod::Fast, const TVolumeThreads& threads = {});

void SetUpVolumeGrid(TVolumeGrid& grid, const TProteinObject& protein, const std::vector<std::uint8_t>& included,
                     std::unique_ptr<TAtomAccumulator>& volume, std::unique_ptr<TAtomAccumulator>& contactVolume);
void FreeVolumeGrid(TVolumeGrid& grid);

// Zeroes every entry; a null accumulator is fatal error 401.
void delAT(TAtomAccumulator* accumulator);

bool IsCandidate(const TVolumeGrid& grid, const TCoord& centre, const TAtom& atom);

// With a = x / R: (1 - (1 - a)³) / 2 for a >= 0, -(1 - (1 + a)³) / 2 below.
// 0.5 - SmoothSplit(x, R) is the share of a cube of circumradius R on the
// negative side of a surface at signed distance x from its centre.
double SmoothSplit(double x, double R);

// Distributes volume V of the cube of centre P and half-edge s among the
// candidates L (recursive; the straightforward form) with the radii, probe and
// exactness of model.
void VolumeOfCube(const TModelConstants& model, const TCoord& P, const TNewCollection<TAtom>& L, double V, double s,
                  TAtomAccumulator& volume, TAtomAccumulator& contactVolume);

}  // namespace cavitas
