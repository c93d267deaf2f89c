#pragma once
// Limits of the data model. The tables of a structure (atoms, residues,
// hetero atoms, waters, chain breaks, disulphide bonds, ladders, elements,
// holes) grow with it and have none; what remains are validation bounds of
// single residues and of the card format, and a guard against corrupt counts
// in stored files.

namespace cavitas {

constexpr int kMaxSideChainPerResidue = 20;  // more side-chain atoms than any residue has
constexpr int kMaxSSSE = 500;                // super-element cards of a structure file
constexpr int kMaxSSSEEntries = 50;          // entries of one super element
constexpr int kMaxTextLength = 120;          // one text line of the header records

// The largest count a stored structure (cards, stream) may declare before its
// items are read: far beyond any structure, it keeps a corrupt count from
// asking for memory that no file could fill.
constexpr int kMaxStoredCount = 200000000;

}  // namespace cavitas
