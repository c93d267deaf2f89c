#pragma once
// Atom numbers as positions in the tables kept per atom.
#include <cstddef>
#include <cstdint>

namespace cavitas {

// An atom's number (TAtom::Number, 1..AtomCount): its row in the atom table
// and in every table kept per atom, whose row 0 stays unused.
using TAtomIndex = std::int32_t;

// The row of atom n in a table indexed by atom number.
constexpr std::size_t RowOf(TAtomIndex n) { return static_cast<std::size_t>(n); }

// The rows a table indexed by atom number needs for atoms 1..count (none for count < 0).
constexpr std::size_t RowsFor(TAtomIndex count) { return RowOf(count < 0 ? 0 : count) + 1; }

// Whether the table has a row for atom n. A negative n has none: it converts
// to a row beyond any table, so one unsigned comparison decides.
template <class Table>
constexpr bool HasRow(const Table& table, TAtomIndex n) {
  return RowOf(n) < table.size();
}

// The row of atom n; the caller has made sure that it exists.
template <class Table>
constexpr decltype(auto) At(Table& table, TAtomIndex n) {
  return table[RowOf(n)];
}

}  // namespace cavitas
