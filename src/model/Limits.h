#pragma once
// Capacities of the data model. They are behaviour: exceeding one gives the
// message and status the system defines for it, never a write past a table.

namespace cavitas {

constexpr int kMaxAtoms = 108000;
constexpr int kMaxSideAtoms = 60000;
constexpr int kMaxResidues = 11998;
constexpr int kMaxSideChainPerResidue = 20;
constexpr int kMaxChainBreaks = 1000;
constexpr int kMaxSSBonds = 200;
constexpr int kMaxLadders = 2550;
constexpr int kMaxElements = 8000;
constexpr int kMaxHoles = 800;           // clusters or holes per table
constexpr int kMaxSurfaceAtoms = 60000;  // per-atom element lists of one surface
constexpr int kMaxSSSE = 500;
constexpr int kMaxSSSEEntries = 50;
constexpr int kMaxTextLength = 120;

}  // namespace cavitas
