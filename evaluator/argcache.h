// Argument caches: a callable's spec compiled once, on its first call, into
// the cells the interpreter walks to fetch arguments.
//
// The cache is a block! kept in the second cell of the callable's record
// (native!/action!: its two-cell block; function!/routine!: its more block).
// Its cells, in spec order:
//   - per argument (and refinement argument) a typeset cell: header
//     TYPE_TYPESET | mode << 20 | slot << 8, payload the accepted type bits
//     (byte t >> 3, mask 0x80 >> (t & 7)); mode 0 evaluated (word!), 1
//     literal (get-word!), 2 quoted (lit-word!), 3 the `return:` entry,
//     skipped when fetching (it has no slot);
//   - per refinement before /local a refinement! cell: header slot << 8,
//     word 2 its symbol, word 3 its number (1-based, spec order);
//   - two integer! cells: the extra slots from /local on (the /local slot
//     and its words; 0 without /local), then the number of refinements.
// `slot` is the index of the word in the callable's context (spec order).
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "datatypes/typeset.h"

namespace argcache {

enum Mode : uint32_t { EVALUATED = 0, LITERAL = 1, QUOTED = 2, RETURN = 3 };
constexpr uint32_t MODE_SHIFT = 20;
constexpr uint32_t SLOT_SHIFT = 8;

inline uint32_t mode_of(const cell* c) { return (c->header >> MODE_SHIFT) & 3; }
inline int32_t slot_of(const cell* c) { return (int32_t)((c->header >> SLOT_SHIFT) & 0xFFF); }
inline bool accepts(const cell* typeset, uint8_t type) { return typeset::has(typeset, type); }

// The cache of a native!, action!, function! or routine! (an op! is read
// through the callable it wraps), built when missing. The returned block
// cell is a copy; its cells stay valid until the next allocation.
cell get(const cell* callable);

// Type bits of a type word that names one of the language's typesets,
// added into `bits` (when not null); false when the word names none. Used
// while the typeset values are not defined as words of their own.
bool builtin_typeset(const cell* word, cell* bits);

}  // namespace argcache
