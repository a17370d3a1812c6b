// The datatype registry: type names, the action table, and datatype! itself.
//
// Everything a type can do is reached through one row of the action table:
// 57 rows (type ids 0-56) of 256 entries, of which entries 1-62 (the action
// ids) are used. Entry (t, a) lives at t * 256 + a - 1. An entry is a function
// or null (the type does not support the action); slot 8 is reserved and null
// in every row.
//
// Each datatype module ends in a `register_type` that hands a list of exactly
// 62 entries to `define`. An entry marked `INHERIT` copies the parent's entry
// as it is at that moment, so parents register before their children and a
// later change to a parent's row never reaches its children; lookup never
// walks a parent chain. The tables are written once, during start-up, and
// read-only afterwards.
//
// The entries are stored type-erased. Each action id has one fixed signature
// (`Sig<A>::fn`); `on<A>(f)` checks a function against it at compile time and
// `get<A>(type)` gives it back typed, so a function can only ever be called
// through the signature it was registered with. A refinement argument that
// was not given arrives as null or series::ABSENT (`stack::is_given`), a
// count that was not given as -1.
#pragma once
#include <cstddef>
#include <cstdint>

#include "datatypes/cell.h"

namespace datatype {

// Action ids.
enum Action : uint8_t {
    // general
    A_MAKE = 1, A_RANDOM, A_REFLECT, A_TO, A_FORM, A_MOLD, A_EVAL_PATH,
    A_RESERVED,  // 8: no action has it
    A_COMPARE,
    // math
    A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER, A_REMAINDER, A_ROUND,
    A_SUBTRACT, A_IS_EVEN, A_IS_ODD, A_AND, A_COMPLEMENT, A_OR, A_XOR,
    // series
    A_APPEND, A_AT, A_BACK, A_CHANGE, A_CLEAR, A_COPY, A_FIND, A_HEAD, A_IS_HEAD,
    A_INDEX_OF, A_INSERT, A_LENGTH_OF, A_MOVE, A_NEXT, A_PICK, A_POKE, A_PUT, A_REMOVE,
    A_REVERSE, A_SELECT, A_SORT, A_SKIP, A_SWAP, A_TAIL, A_IS_TAIL, A_TAKE, A_TRIM,
    // I/O
    A_CREATE, A_CLOSE, A_DELETE, A_MODIFY, A_OPEN, A_IS_OPEN, A_QUERY, A_READ, A_RENAME,
    A_UPDATE, A_WRITE,
};
constexpr uint32_t ACTION_COUNT = 62;
constexpr uint32_t ROW_SIZE = 256;
static_assert(A_COMPARE == 9 && A_XOR == 24 && A_TRIM == 51 && A_MODIFY == 55 &&
              A_WRITE == ACTION_COUNT, "action ids");

// Comparison operators of the compare action.
enum CompareOp : int32_t {
    OP_EQUAL = 0, OP_NOT_EQUAL = 1, OP_STRICT_EQUAL = 2, OP_LESSER = 3,
    OP_LESSER_OR_EQUAL = 4, OP_GREATER = 5, OP_GREATER_OR_EQUAL = 6,
    OP_SORT = 7, OP_CASE_SORT = 8, OP_SAME = 9, OP_STRICT_WORD = 10, OP_WORD = 11,
    OP_FIND = 12,  // key match
};
// Answer of compare for two values that cannot be compared.
constexpr int32_t NOT_COMPARABLE = -2;
// The limit form and mold get when no /part was given.
constexpr int32_t NO_LIMIT = 2147483647;

// Signatures of the actions' functions, by id.
template <int A> struct Sig;  // no specialisation for 8: it cannot be registered
// clang-format off
template <> struct Sig<A_MAKE>      { using fn = cell* (*)(cell* target, cell* spec, int32_t type); };
template <> struct Sig<A_RANDOM>    { using fn = cell* (*)(cell* value, bool seed, bool secure, bool only); };
template <> struct Sig<A_REFLECT>   { using fn = cell* (*)(cell* value, int32_t field_symbol); };
template <> struct Sig<A_TO>        { using fn = cell* (*)(cell* target, cell* spec, int32_t type); };
template <> struct Sig<A_FORM>      { using fn = int32_t (*)(cell* value, cell* out, cell* part, int32_t limit); };
template <> struct Sig<A_MOLD>      { using fn = int32_t (*)(cell* value, cell* out, bool only, bool all, bool flat,
                                                            cell* part, int32_t limit, int32_t indent); };
template <> struct Sig<A_EVAL_PATH> { using fn = cell* (*)(cell* parent, cell* element, cell* value, cell* path,
                                                            cell* holder, cell* element_cell, int32_t index,
                                                            bool case_, bool get, bool last, bool owner); };
template <> struct Sig<A_COMPARE>   { using fn = int32_t (*)(cell* a, cell* b, int32_t op); };
// Actions that read their operands from the arguments window and leave the
// result in its first cell.
using WindowFn = cell* (*)();
template <> struct Sig<A_ABSOLUTE>  { using fn = WindowFn; };
template <> struct Sig<A_ADD>       { using fn = WindowFn; };
template <> struct Sig<A_DIVIDE>    { using fn = WindowFn; };
template <> struct Sig<A_MULTIPLY>  { using fn = WindowFn; };
template <> struct Sig<A_NEGATE>    { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_POWER>     { using fn = WindowFn; };
template <> struct Sig<A_REMAINDER> { using fn = WindowFn; };
template <> struct Sig<A_ROUND>     { using fn = cell* (*)(cell* value, cell* scale, bool even, bool down,
                                                          bool half_down, bool floor, bool ceiling,
                                                          bool half_ceiling); };
template <> struct Sig<A_SUBTRACT>  { using fn = WindowFn; };
template <> struct Sig<A_IS_EVEN>   { using fn = bool (*)(cell* value); };
template <> struct Sig<A_IS_ODD>    { using fn = bool (*)(cell* value); };
template <> struct Sig<A_AND>       { using fn = WindowFn; };
template <> struct Sig<A_COMPLEMENT>{ using fn = cell* (*)(cell* value); };
template <> struct Sig<A_OR>        { using fn = WindowFn; };
template <> struct Sig<A_XOR>       { using fn = WindowFn; };
template <> struct Sig<A_APPEND>    { using fn = cell* (*)(cell* series, cell* value, int32_t part, bool only, int32_t dup); };
template <> struct Sig<A_AT>        { using fn = WindowFn; };
template <> struct Sig<A_BACK>      { using fn = WindowFn; };
template <> struct Sig<A_CHANGE>    { using fn = cell* (*)(cell* series, cell* value, int32_t part, bool only, int32_t dup); };
template <> struct Sig<A_CLEAR>     { using fn = cell* (*)(cell* series); };
template <> struct Sig<A_COPY>      { using fn = cell* (*)(cell* value, cell* result, cell* part, bool deep, cell* types); };
template <> struct Sig<A_FIND>      { using fn = cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_,
                                                          bool same, bool any, cell* with, cell* skip, bool last,
                                                          bool reverse, bool tail, bool match); };
template <> struct Sig<A_HEAD>      { using fn = WindowFn; };
template <> struct Sig<A_IS_HEAD>   { using fn = WindowFn; };
template <> struct Sig<A_INDEX_OF>  { using fn = WindowFn; };
template <> struct Sig<A_INSERT>    { using fn = cell* (*)(cell* series, cell* value, int32_t part, bool only, int32_t dup); };
template <> struct Sig<A_LENGTH_OF> { using fn = int32_t (*)(cell* series); };  // -1: none
template <> struct Sig<A_MOVE>      { using fn = cell* (*)(cell* origin, cell* target, cell* part); };
template <> struct Sig<A_NEXT>      { using fn = WindowFn; };
template <> struct Sig<A_PICK>      { using fn = cell* (*)(cell* series, int32_t index, cell* index_cell); };
template <> struct Sig<A_POKE>      { using fn = cell* (*)(cell* series, int32_t index, cell* value, cell* index_cell); };
template <> struct Sig<A_PUT>       { using fn = cell* (*)(cell* series, cell* key, cell* value, bool case_); };
template <> struct Sig<A_REMOVE>    { using fn = cell* (*)(cell* series, cell* part, cell* key); };
template <> struct Sig<A_REVERSE>   { using fn = cell* (*)(cell* series, cell* part, cell* skip); };
template <> struct Sig<A_SELECT>    { using fn = cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_,
                                                          bool same, bool any, cell* with, cell* skip, bool last,
                                                          bool reverse); };
template <> struct Sig<A_SORT>      { using fn = cell* (*)(cell* series, bool case_, cell* skip, cell* compare,
                                                          cell* part, bool all, bool reverse, bool stable); };
template <> struct Sig<A_SKIP>      { using fn = WindowFn; };
template <> struct Sig<A_SWAP>      { using fn = cell* (*)(cell* series1, cell* series2); };
template <> struct Sig<A_TAIL>      { using fn = WindowFn; };
template <> struct Sig<A_IS_TAIL>   { using fn = WindowFn; };
template <> struct Sig<A_TAKE>      { using fn = cell* (*)(cell* series, cell* part, bool deep, bool last); };
template <> struct Sig<A_TRIM>      { using fn = cell* (*)(cell* series, bool head, bool tail, bool auto_, bool lines,
                                                          bool all, cell* with); };
template <> struct Sig<A_CREATE>    { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_CLOSE>     { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_DELETE>    { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_MODIFY>    { using fn = cell* (*)(cell* target, cell* field, cell* value, bool case_); };
template <> struct Sig<A_OPEN>      { using fn = cell* (*)(cell* port, bool new_, bool read, bool write, bool seek,
                                                          cell* allow); };
template <> struct Sig<A_IS_OPEN>   { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_QUERY>     { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_READ>      { using fn = cell* (*)(cell* source, cell* part, cell* seek, bool binary,
                                                          bool lines, bool info, cell* as); };
template <> struct Sig<A_RENAME>    { using fn = cell* (*)(cell* from, cell* to); };
template <> struct Sig<A_UPDATE>    { using fn = cell* (*)(cell* value); };
template <> struct Sig<A_WRITE>     { using fn = cell* (*)(cell* destination, cell* data, bool binary, bool lines,
                                                          bool info, bool append, cell* part, cell* seek,
                                                          cell* allow, cell* as); };
// clang-format on

// An entry of the action table, type-erased.
using ActionFn = void (*)();

// One entry of a registration list.
struct Entry {
    enum Kind : uint8_t { UNSUPPORTED = 0, FUNCTION = 1, INHERITED = 2 };
    ActionFn fn;
    uint8_t action;  // the id the function was made for (FUNCTION only)
    Kind kind;
};

constexpr Entry NO = {nullptr, 0, Entry::UNSUPPORTED};     // not supported
constexpr Entry INHERIT = {nullptr, 0, Entry::INHERITED};  // the parent's entry

// The entry for action A, checked against A's signature.
template <int A>
Entry on(typename Sig<A>::fn f) {
    return {reinterpret_cast<ActionFn>(f), (uint8_t)A, Entry::FUNCTION};
}

// One record of the type-name table (ids 0-56).
struct TypeName {
    const char* name;  // "integer!"
    uint32_t length;   // strlen(name) - 1: the name without its "!"
    cell* word;        // the name's word; null until `make_words`
};
static_assert(sizeof(TypeName) == 12, "type-name records are three words");

extern TypeName* type_names;  // TYPE_SLOTS records, tracked block
extern ActionFn* action_table;    // TYPE_SLOTS * ROW_SIZE entries, tracked block
extern uint32_t top_type_id;  // largest type id defined so far

// Allocates both tables, cleared (start-up step 7).
void init_tables();

// Interns the word of every type name registered so far, `datatype!`
// first (start-up step 15); types registered later get theirs at once.
void make_words();

// Registers one type from a list of `count` entries in action-id order. A
// count other than 62, or a function standing at another action's place,
// prints the registration error and ends the program with a non-zero exit
// code before anything of the row is written.
void define(uint32_t count, uint8_t type, uint8_t parent, const char* name, const Entry* entries);

// The same for a list whose length the compiler knows: a wrong count does not
// build.
template <size_t N>
void define(uint8_t type, uint8_t parent, const char* name, const Entry (&entries)[N]) {
    static_assert(N == ACTION_COUNT, "a datatype registers exactly 62 action entries");
    define((uint32_t)N, type, parent, name, entries);
}

// Exit code of a failed registration.
constexpr int32_t EXIT_BAD_REGISTRATION = 1;

// The raw entry (type, action), null when unsupported.
inline ActionFn entry(uint8_t type, uint32_t action) {
    return action_table[type * ROW_SIZE + action - 1];
}

// The entry (type, A) with its signature, null when unsupported.
template <int A>
typename Sig<A>::fn get(uint8_t type) {
    return reinterpret_cast<typename Sig<A>::fn>(entry(type, A));
}

// --- datatype! -------------------------------------------------------------

void register_type();

int32_t form(cell* value, cell* out, cell* part, int32_t limit);
int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent);
int32_t compare(cell* a, cell* b, int32_t op);

// Writes a datatype! value denoting `id` into a cell.
cell* make_at(cell* c, uint8_t id);
// Pushes a new datatype! value denoting `id` on the argument stack.
cell* push(uint8_t id);

}  // namespace datatype
