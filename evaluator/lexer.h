// The lexer: source text (UTF-8) to values, driven by tables.
//
// Data model
// - The class table maps every byte to one of 40 classes and a flag; the
//   flags of a token's bytes are ORed into its flag word, so the token
//   routines know beforehand whether it holds carets, separators, an
//   exponent, wide characters, and so on.
// - The transition table (65 scanning states x 40 classes) gives the next
//   state; a value above 65 is a terminal that names the token's routine.
//   Its rows are kept as the text of the table they come from and parsed
//   once by `init` (which checks their width); `transitions` is what the
//   scanner reads.
// - Scanned values go to one output buffer of cells in tracked memory,
//   shared by nested scans (a callback may scan again: the inner scan
//   appends after its parent's tail and takes its cells away when it ends).
//   An open block, paren, map or path is an open-series marker cell (type
//   31, no literal ever loads a triple!): word 1 the distance back to the
//   enclosing marker (0: none), word 2 the kind of series, word 3 the byte
//   offset of the opening token. Closing moves the cells after it into a new
//   series at the marker's place.
// - The input is always a UTF-8 copy outside the series heap (the lexer's
//   own buffer; a nested scan gets a buffer of its own), so symbols can be
//   interned straight from it and nothing moves under the scanner.
//
// Invariants
// - Cells of the output buffer between the outermost active scan's head and
//   the current tail are marked by the collector (marker cells skipped),
//   and so are each active scan's input value and callback.
// - The output buffer only grows by `sys::resize`: code holds cells of it by
//   index, never by address across anything that may append.
// - Every active scan is unlinked on every exit, a throw included.
//
// Decisions where the tables and the prose around them disagree (the tables
// win):
// - Consuming the terminal byte: a terminal consumes the byte that led to it
//   when that byte closes the token (the closing quote of a string, char or
//   quoted file, `}` of a binary or a braced string level, `{` of a nested
//   level, `)` of a construction or a point, `>` of a tag, `[` of `#[`, the
//   `/` that opens a path), when the token is that single byte (`[` `]` `(`
//   `)` `{` `,`), and for an error; otherwise the byte starts the next token.
// - Raw strings: the table ends a raw string at the first `}` followed by a
//   run of `%` and a delimiter, so `%%{a}%b}%%` is an invalid string!, while
//   `%{a}b}%` is "a}b". A closing run of another length than the opening one
//   is an invalid string!.
// - Points: row 35 scans a whole point literal as one token; the paren
//   routine enters it when the paren's next bytes reach a `,` through number
//   bytes only. A `,` anywhere else (terminal 78) is an invalid point2D!.
// - Paths: the element after a `/` is scanned from state 59; after an element
//   the next byte decides: `/` continues, `:` makes a set-path! (invalid
//   when `/` follows, or when the path is not a plain path!), anything else
//   closes the path. A `/` at the end of the input is an invalid path!.
// - Quoted files: row 8 ends the name at any `"`; a `"` after an odd run of
//   carets is escaped instead (caret escapes apply to the quoted form, and
//   a name holding `"` molds as `^"`), so the scan stays in state 8.
// - A `}` between tokens raises `missing` naming `{`, as a stray `]` or `)`
//   names its opener; other bytes the start row rejects raise `bad-char`.
// - Callback mask: the event words listed in a block of the callback's spec
//   (its attribute block), or else in a block that starts its body, as a
//   tracer lists its events; a callback that lists none gets every event.
//   An `error` event answered true skips the token and goes on; any other
//   answer stops the scan. `open` and `close` answered other than true skip
//   the delimiter (a mismatched closer then raises nothing). Comments are
//   reported as `prescan` events only.
// - Type scans (/prescan, /scan) answer block!, paren! or map! at an
//   opening delimiter, the path's kind once a path closes, string! for a
//   braced string, and error! for a token that fails.
// - A value that follows a line break gets the new-line marker (inside
//   paths never), so that mold gives code back in its lines.
// - Hexadecimal integers: a token of fewer than two digits before `h` that
//   starts with a letter ("Eh") is an invalid word!, as stated.
// Mended faults
// - `^(...)` escapes above U+10FFFF or in the surrogate range are invalid;
//   a string's unit width comes from its decoded code points.
// - The 30-character error text is cut at a code-point boundary.
#pragma once
#include <cstdint>

#include "datatypes/cell.h"
#include "runtime/memory.h"

namespace lexer {

// --- Tables -----------------------------------------------------------------------

constexpr int32_t STATE_COUNT = 65;   // scanning states 0-64
constexpr int32_t CLASS_COUNT = 40;
constexpr int32_t TERMINAL_FIRST = 66;
constexpr int32_t STATE_LIMIT = 104;  // states and terminals 0-103

// Token flags (above the class byte of a class-table entry).
enum : uint32_t {
    F_PERCENT = 0x40000,
    F_GREATER = 0x80000,
    F_LESS    = 0x100000,
    F_SIGN    = 0x200000,
    F_EOF     = 0x400000,
    F_HASH    = 0x800000,
    F_EXP     = 0x1000000,
    F_QUOTE   = 0x2000000,
    F_COLON   = 0x4000000,
    F_COMMA   = 0x8000000,
    F_DOT     = 0x10000000,
    F_CARET   = 0x20000000,
    F_UNI2    = 0x40000000,   // a 2- or 3-byte UTF-8 lead byte
    F_UNI4    = 0x80000000u,  // a 4-byte lead byte
};

// Terminals.
enum Terminal : uint8_t {
    T_EOF = 66, T_ERROR, T_BLOCK_OPEN, T_BLOCK_CLOSE, T_PAREN_OPEN, T_PAREN_CLOSE,
    T_BRACE_OPEN, T_BRACE_CLOSE, T_MAP_OPEN, T_PATH, T_CONSTRUCT, T_COMMENT, T_COMMA,
    T_STRING, T_WORD, T_ISSUE, T_INTEGER, T_REFINEMENT, T_CHAR, T_FILE, T_BINARY,
    T_PERCENT, T_FLOAT, T_FLOAT_SPECIAL, T_TUPLE, T_DATE, T_PAIR, T_POINT, T_TIME,
    T_MONEY, T_TAG, T_URL, T_EMAIL, T_HEX, T_RAW_STRING, T_REF,
};
static_assert(T_REF == 101, "terminal numbering");

// The transition rows as text, 40 numbers each.
extern const char* const transition_rows[STATE_COUNT];
// transitions[state][class]: filled by `init`.
extern uint8_t transitions[STATE_COUNT][CLASS_COUNT];
// Class in the low byte, token flag above.
extern const uint32_t class_table[256];
// Datatype id of a token that ends (or fails) in a state; 0 structural.
extern const uint8_t type_table[STATE_LIMIT];
// 1 for state 0: bytes consumed there are blanks, not part of the token.
extern const uint8_t skip_table[STATE_COUNT];
// 1 for the line-feed class.
extern const uint8_t line_table[CLASS_COUNT];

// Parses the transition rows (a row of another width ends the program: the
// table is corrupt) and registers the collector marker. Start-up step 24.
void init();

// --- Callbacks ----------------------------------------------------------------------

enum Event : uint32_t {
    EV_PRESCAN = 1, EV_SCAN = 2, EV_LOAD = 4, EV_OPEN = 8, EV_CLOSE = 16, EV_ERROR = 32,
};
// What a callback learns of one event. Offsets are 0-based bytes of the
// scanned UTF-8 text; `value` is the loaded value for `load` (else null).
struct EventInfo {
    const uint8_t* text;  // the scanned UTF-8 (for offsets in characters)
    uint32_t event;
    uint8_t type;    // datatype id of the token (0: none)
    int32_t line;
    const cell* value;
    uint32_t start, end;
};
// A C++ view of the callback: `fire` answers the callback's decision (true:
// go on as usual). `function` is kept alive by the collector while the scan
// runs (a function! or routine!, or unset! for C++ callbacks).
struct Callback {
    bool (*fire)(const Callback& self, const EventInfo& info);
    uint32_t mask;
    cell function;
    void* context;
};

// --- Scanning -------------------------------------------------------------------------

struct Options {
    bool load = true;      // build values (false: only check the tokens)
    bool one = false;      // stop after the first complete top-level value
    bool prescan = false;  // type of the first token, structural routines only
    bool scan = false;     // type of the first token, checked
    Callback* callback = nullptr;
    memory::Node* into = nullptr;  // append to this block instead of a new one
    const cell* input = nullptr;   // the source value, kept alive while scanning
};
struct Outcome {
    uint32_t consumed;  // bytes of the text scanned
    uint8_t type;       // /prescan and /scan: the first token's type (0: none)
    uint32_t count;     // top-level values made
};

// Scans `length` bytes of UTF-8 (outside the series heap) and writes into
// `result` the block of the values (the `into` block when given; with `one`
// and a single value, that value). With prescan or scan, `result` is left
// alone and the outcome's type answers. Syntax errors raise `syntax` errors.
Outcome scan(const uint8_t* text, uint32_t length, const Options& options, cell* result);

// The `transcode` entry: a string! (from its head, at most `part` characters
// when part >= 0) converted to UTF-8, or the bytes of a binary! (the same
// with bytes). Answers the outcome with `consumed` in units of the source.
Outcome load(cell* input, int32_t part, const Options& options, cell* result);

// --- Number readers other conversions use ---------------------------------------------

enum Scanned : int32_t { SCAN_OK = 0, SCAN_INVALID = 1, SCAN_TOO_LARGE = 2 };
// Optional sign, decimal digits, `'` separators ignored; "-2147483648" fits.
Scanned scan_integer(const uint8_t* text, uint32_t n, int32_t* out);
// A float from at most 312 bytes, `,` taken as the decimal point. False
// when the text is not a float.
bool scan_float(const uint8_t* text, uint32_t n, double* out);

// The Unicode whitespace the lexer ends words at (21 code points).
bool is_unicode_space(int32_t cp);

// Collector marker of the active scans.
void mark_gc();

}  // namespace lexer
