// Zolbin: the binary serialisation of values, and the loading of the boot
// image.
//
// One value is written as a stream of typed records after a header: magic
// "ZOLBIN", a version byte, a flags byte (bit 0 compact mode, bit 1 payload
// compressed with the boot-data codec, bit 2 symbol table present), the root
// count, the byte length L of the records and, with bit 2, the symbol table
// (count, names-area size, one 32-bit offset per name, the UTF-8 names).
// Normal mode writes every field as a little-endian 32-bit word; compact mode
// uses varints, one-byte forms of small integers and logic values, and
// prefix bytes for the new-line marker and for back-references.
//
// Sharing: every value written has an index path (its root index, then cell
// indexes, context value indexes, error field indexes or 0/1 for a function's
// spec and body). A series, object or function context met a second time is
// written as a reference to the path of its first occurrence, so shared
// structure (and cycles) survive a round trip. Words carry their binding: a
// global word is written by name; a word bound to an object or function
// writes that owner (or a reference to it); a word bound to any other context
// (an error's, a port's) is written as a global word.
//
// Reading trusts nothing: every count, length, unit, index, slot and path is
// checked against the bytes left and the values built, nesting is bounded,
// and every violation raises script rb-invalid-record with the 1-based byte
// offset of the record. The input is copied out of the heap before reading,
// so a collection during decoding moves nothing under the reader. Paths are
// resolved from the first value this call decoded.
//
// Boot image: a compact stream whose leading records define the global words
// (the 0xC4 prefix: a word record then the value it is given) and whose roots
// stay in the root block as the boot literals. In it a word record with its
// flag bit names the root whose context it is bound to.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace zolbin {

constexpr uint8_t VERSION = 2;
constexpr uint8_t BOOT_VERSION = 1;
enum : uint8_t { FLAG_COMPACT = 1, FLAG_COMPRESSED = 2, FLAG_SYMBOLS = 4 };
// Deepest nesting of records the reader follows.
constexpr int32_t MAX_DEPTH = 1000;

// Writes one value in normal mode; pushes the new binary!. Raises access
// no-codec for routine!, triple!, handle!, port! and event! values.
cell* encode(const cell* value);
// The same in compact mode.
cell* encode_compact(const cell* value);

// Decodes `size` bytes of Zolbin (either mode) and appends every root value
// to the block node `out`. Raises script invalid-data for a bad magic, a
// payload that does not decompress or a header too short, and
// rb-invalid-record for malformed records.
void decode(const uint8_t* data, uint32_t size, memory::Node* out);

// The Zolbin codec's decode routine body: a binary! payload (anything else,
// or 10 bytes or fewer, raises invalid-data) decoded into a new block; the
// only value when it holds exactly one, else the block. Pushes the result.
cell* decode_value(const cell* payload);

// --- Boot image --------------------------------------------------------------------

// Writes the boot image: each [word value] pair of `definitions` as a
// definition record, then the cells of `roots` as the roots; compact mode,
// version 1, compressed when that makes it smaller. Pushes the binary!.
cell* encode_boot(const cell* definitions, const cell* roots);

// Decodes the boot image into the root block (collector off meanwhile):
// definitions set their global words, the roots are appended after the root
// block's cells and become the boot literals. A malformed image ends the
// program with a runtime error.
void boot_load(const uint8_t* image, uint32_t size);

// Boot literal n (root n of the boot image), or null past the last root.
cell* literal_at(int32_t n);
// Number of boot literals.
int32_t literal_count();

}  // namespace zolbin
