#include "datatypes/char.h"

#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/vector.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/stack.h"
#include "runtime/unicode.h"

namespace char_ {

using namespace datatype;

cell* make_at(cell* c, int32_t cp) {
    integer::make_at(c, cp);
    c->header = TYPE_CHAR;
    return c;
}

cell* push(int32_t cp) { return make_at(stack::push_cell(), cp); }

static bool is_code_point(int64_t n) { return n >= 0 && n <= MAX_CODE_POINT; }

[[noreturn]] static void overflow() { error::raise_math(error::Math::overflow); }

// --- make / to ---------------------------------------------------------------------

[[noreturn]] static void bad_to_arg(cell* spec) {
    cell type;
    datatype::make_at(&type, TYPE_CHAR);
    error::raise_script(error::Script::bad_to_arg, &type, spec);
}

// The first UTF-8 sequence at the binary's head; an empty or cut-short head
// is refused like any other spec that holds no character.
static int32_t binary_to_char(cell* spec) {
    const memory::Buffer* b = series::buffer_of(spec);
    int32_t head = (int32_t)spec->data1;
    uint32_t h = head < 0 ? 0 : (uint32_t)head;
    uint32_t used = b->used_bytes();
    if (h >= used) bad_to_arg(spec);
    int32_t available = (int32_t)(used - h < 4 ? used - h : 4);
    int32_t cp = unicode::decode_utf8_checked(b->head + h, &available);
    if (cp < 0) bad_to_arg(spec);
    return cp;
}

cell* make(cell* target, cell* spec, int32_t type) {
    int32_t cp = 0;
    switch (spec->type()) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
        if (string::is_tail(spec)) bad_to_arg(spec);
        cp = string::get_char(string::head_pointer(spec), string::width_of(spec));
        break;
    case TYPE_CHAR:
    case TYPE_INTEGER:
        if (!is_code_point(integer::get(spec))) error::raise_script(error::Script::out_of_range, spec);
        cp = integer::get(spec);
        break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        double d = cell::get_float(spec);
        // Checked before the truncation, so NaN and huge values never reach a cast.
        if (!(d > -1.0 && d < MAX_CODE_POINT + 1.0))
            error::raise_script(error::Script::out_of_range, spec);
        cp = (int32_t)d;
        break;
    }
    case TYPE_BINARY: cp = binary_to_char(spec); break;
    default: bad_to_arg(spec);
    }
    return make_at(target, cp);
}

// --- form / mold ----------------------------------------------------------------------

int32_t form(cell* value, cell* out, cell* part, int32_t limit) {
    string::append_char(series::node_of(out), get(value));
    return limit - 1;
}

// Escapes of the code points below 0x5F: controls by letter, the quote and
// the caret by themselves; 0 = no escape.
struct EscapeTable {
    char entry[0x5F] = {};
    constexpr EscapeTable() {
        const char* controls = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
        for (int i = 0; i < 0x20; i++) entry[i] = controls[i];
        entry[0x22] = '"';
        entry[0x5E] = '^';
    }
};
static constexpr EscapeTable ESCAPES;
static_assert(ESCAPES.entry[0x09] == '-' && ESCAPES.entry[0x0A] == '/' &&
              ESCAPES.entry[0x1C] == '\\' && ESCAPES.entry[0x1F] == '_', "escape table layout");

int32_t mold_escape(cell* out, int32_t cp, bool all) {
    memory::Node* node = series::node_of(out);
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        char digits[8];
        int n = 0;
        uint32_t v = (uint32_t)cp;
        do digits[n++] = "0123456789ABCDEF"[v & 15];
        while (v >>= 4);
        string::append_char(node, '^');
        string::append_char(node, '(');
        for (int i = n; i > 0; i--) string::append_char(node, digits[i - 1]);
        string::append_char(node, ')');
        return n + 3;
    }
    if (cp >= 0 && cp < 0x5F && ESCAPES.entry[cp]) {
        string::append_char(node, '^');
        string::append_char(node, ESCAPES.entry[cp]);
        return 2;
    }
    if (cp == 0x7F) {
        string::append_char(node, '^');
        string::append_char(node, '~');
        return 2;
    }
    string::append_char(node, cp);
    return 1;
}

int32_t mold(cell* value, cell* out, bool only, bool all, bool flat, cell* part, int32_t limit,
             int32_t indent) {
    string::concatenate_bytes(out, "#\"", 2);
    int32_t n = mold_escape(out, get(value), all);
    string::append_char(series::node_of(out), '"');
    return limit - (n + 3);
}

// --- compare ---------------------------------------------------------------------------

int32_t compare(cell* a, cell* b, int32_t op) {
    uint8_t tb = b->type();
    if ((op == OP_STRICT_EQUAL || op == OP_FIND) && tb != TYPE_CHAR) return 1;
    if (tb != TYPE_CHAR && tb != TYPE_INTEGER) return NOT_COMPARABLE;
    int32_t x = get(a), y = integer::get(b);
    return (x > y) - (x < y);
}

// --- math --------------------------------------------------------------------------------

cell* do_math(int32_t op) {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    int32_t operand;
    switch (right->type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER: operand = integer::get(right); break;
    case TYPE_FLOAT: {
        double d = cell::get_float(right);
        // A truncated operand outside 32 bits can only give a result outside
        // the code points.
        if (!(d > -2147483649.0 && d < 2147483648.0)) overflow();
        operand = (int32_t)d;
        break;
    }
    case TYPE_VECTOR: return vector::do_math_op(op, right, left);
    default: {
        cell t;
        datatype::make_at(&t, right->type());
        error::raise_script(error::Script::invalid_type, &t);
    }
    }
    // Division passes no result cell so that the quotient is truncated.
    cell scratch;
    unset::make_at(&scratch);
    int32_t n = integer::do_math(get(left), operand, op,
                                 op == integer::MATH_DIVIDE ? nullptr : &scratch);
    if (scratch.type() == TYPE_FLOAT || !is_code_point(n)) overflow();
    left->data2 = (uint32_t)n;
    return left;
}

cell* add() { return do_math(integer::MATH_ADD); }
cell* subtract() { return do_math(integer::MATH_SUBTRACT); }
cell* multiply() { return do_math(integer::MATH_MULTIPLY); }
cell* divide() { return do_math(integer::MATH_DIVIDE); }
cell* remainder() { return do_math(integer::MATH_REMAINDER); }
cell* and_() { return do_math(integer::MATH_AND); }
cell* or_() { return do_math(integer::MATH_OR); }
cell* xor_() { return do_math(integer::MATH_XOR); }

void register_type() {
    // clang-format off
    static const Entry list[] = {
        on<A_MAKE>(make), INHERIT, NO, on<A_TO>(make), on<A_FORM>(form),
        on<A_MOLD>(mold), NO, NO, on<A_COMPARE>(compare),
        INHERIT, on<A_ADD>(add), on<A_DIVIDE>(divide), on<A_MULTIPLY>(multiply), NO, NO,
        on<A_REMAINDER>(remainder), NO, on<A_SUBTRACT>(subtract), INHERIT, INHERIT,
        on<A_AND>(and_), NO, on<A_OR>(or_), on<A_XOR>(xor_),
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,  // series
        NO, NO, NO, NO, NO, NO, NO,
        NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO,                                      // I/O
    };
    // clang-format on
    define(TYPE_CHAR, TYPE_INTEGER, "char!", list);
}

}  // namespace char_
