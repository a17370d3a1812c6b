// The `transcode` native: source text (string! or binary!) to values through
// the lexer, with its callback reaching a Zol function.
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/error_out.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"

namespace natives {

namespace {

enum Refinement { R_NEXT = 0, R_ONE, R_PRESCAN, R_SCAN, R_PART, R_INTO, R_TRACE };

// The event words and their bits, in bit order.
const char* const EVENT_WORDS[] = {"prescan", "scan", "load", "open", "close", "error"};

// The bits of the event words in a block (other words count 0); -1 when
// the block holds none.
int32_t mask_of_block(const cell* blk) {
    int32_t mask = -1;
    for (int32_t i = (int32_t)blk->data1, n = block::total_cells(series::node_of(blk)); i < n; i++) {
        cell* w = block::cell_at(blk, i);
        if (!word::is_any_word_type(w->type())) continue;
        int32_t canon = symbol::resolve(word::symbol_of(w));
        for (uint32_t b = 0; b < 6; b++) {
            int32_t event = symbol::resolve(symbol::make(EVENT_WORDS[b]));
            w = block::cell_at(blk, i);  // interning may have moved the block
            if (canon == event) mask = (mask < 0 ? 0 : mask) | (int32_t)(1u << b);
        }
    }
    return mask;
}

// The events a callback asks for: the event words listed in a block of its
// spec, or else in the block that starts its body; every event when it
// lists none.
uint32_t event_mask(const cell* callback) {
    if (callback->type() != TYPE_FUNCTION) return 0x3F;
    cell spec;
    series::make_at(&spec, TYPE_BLOCK, function::spec_of(callback), 0);
    for (int32_t i = 0, n = block::total_cells(function::spec_of(callback)); i < n; i++) {
        cell* c = block::cell_at(&spec, i);
        if (c->type() != TYPE_BLOCK) continue;
        cell inner = *c;
        int32_t mask = mask_of_block(&inner);
        if (mask >= 0) return (uint32_t)mask;
    }
    cell body = *function::more_cell(callback, function::MORE_BODY);
    if (body.type() != TYPE_BLOCK || block::length_of(&body) < 1) return 0x3F;
    cell first = *block::head_cell(&body);
    if (first.type() != TYPE_BLOCK) return 0x3F;
    int32_t mask = mask_of_block(&first);
    return mask < 0 ? 0x3F : (uint32_t)mask;
}

// Arguments of a callback beyond the five the lexer gives: its spec's words
// before the first refinement.
int32_t extra_slots(const cell* callback) {
    if (callback->type() != TYPE_FUNCTION) return 0;
    cell spec;
    series::make_at(&spec, TYPE_BLOCK, function::spec_of(callback), 0);
    int32_t words = 0;
    for (int32_t i = 0, n = block::total_cells(function::spec_of(callback)); i < n; i++) {
        uint8_t t = block::cell_at(&spec, i)->type();
        if (t == TYPE_REFINEMENT) break;
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) words++;
    }
    return words > 5 ? words - 5 : 0;
}

struct Trace {
    cell* source;      // the transcoded value (on the argument stack)
    int32_t head;      // its head index after the BOM
    bool binary;
    int32_t extra;     // the callback's arguments beyond five
};

// Characters of the scanned UTF-8 before a byte offset.
int32_t chars_before(const uint8_t* text, uint32_t offset) {
    int32_t n = 0;
    for (uint32_t i = 0; i < offset; i++)
        if ((text[i] & 0xC0) != 0x80) n++;
    return n;
}

bool fire_callback(const lexer::Callback& cb, const lexer::EventInfo& e) {
    Trace* t = (Trace*)cb.context;
    cell* top = stack::arguments.top;
    int32_t start = t->binary ? (int32_t)e.start : chars_before(e.text, e.start);
    int32_t end = t->binary ? (int32_t)e.end : start + chars_before(e.text + e.start, e.end - e.start);
    uint32_t bit = 0;
    while (bit < 6 && !(e.event & (1u << bit))) bit++;
    cell* args = stack::push_cell();
    word::make_at(symbol::make(EVENT_WORDS[bit]), args);
    cell* input = stack::push(t->source);
    input->data1 = (uint32_t)(t->head + start);
    cell* type = stack::push_cell();
    if (e.type) datatype::make_at(type, e.type);
    else none::make_at(type);
    integer::make_at(stack::push_cell(), e.line);
    cell* token = stack::push_cell();
    if (e.value) *token = *e.value;
    else *token = cell{TYPE_PAIR, 0, (uint32_t)(start + 1), (uint32_t)(end + 1)};
    // Its extra slots: false, then none!s.
    if (t->extra) function::push_nones(t->extra);
    cell* r = interpreter::call_function(&cb.function, args, 5 + t->extra);
    bool go_on = r->type() == TYPE_LOGIC && logic::get(r);
    stack::arguments.top = top;
    return go_on;
}

}  // namespace

void transcode(const int32_t* refs) {
    cell* src = stack::arg(0);
    bool binary = src->type() == TYPE_BINARY;
    // The head clamped to the tail; a byte order mark skipped.
    int32_t units = (int32_t)series::buffer_units(src);
    int32_t head = (int32_t)src->data1;
    if (head < 0) head = 0;
    if (head > units) head = units;
    if (binary && units - head >= 3) {
        const uint8_t* p = series::buffer_of(src)->head + head;
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) head += 3;
    }
    src->data1 = (uint32_t)head;

    // /part: a length, or a position in the same series; clamped to the source.
    int32_t part = -1;
    if (refs[R_PART] >= 0) {
        cell* length = stack::arg(refs[R_PART]);
        if (length->type() == TYPE_INTEGER) {
            part = integer::get(length);
        } else {
            if (length->type() != src->type()) {
                cell* a = stack::push(src);
                error::raise(error::SCRIPT, "not-same-type", a, length);
            }
            part = (int32_t)length->data1 - head;
        }
        if (part < 0) part = 0;
    }

    lexer::Options o;
    o.one = refs[R_ONE] >= 0 || refs[R_NEXT] >= 0;
    o.prescan = refs[R_PRESCAN] >= 0;
    o.scan = refs[R_SCAN] >= 0;
    Trace trace{src, head, binary, 0};
    lexer::Callback cb{fire_callback, 0, {TYPE_UNSET, 0, 0, 0}, &trace};
    if (refs[R_TRACE] >= 0) {
        cb.function = *stack::arg(refs[R_TRACE]);
        cb.mask = event_mask(&cb.function);
        trace.extra = extra_slots(&cb.function);
        o.callback = &cb;
    }
    cell* result = stack::push_cell();
    unset::make_at(result);
    if (refs[R_INTO] >= 0 && !o.prescan && !o.scan) {
        *result = *stack::arg(refs[R_INTO]);
        o.into = series::node_of(result);
    }
    lexer::Outcome out = lexer::load(src, part, o, result);

    if (o.prescan || o.scan) {
        if (out.type) datatype::make_at(stack::args(), out.type);
        else none::make_at(stack::args());
    } else if (refs[R_NEXT] >= 0 && refs[R_ONE] < 0) {
        // [value rest]
        cell* pair = block::push_new(2);
        if (out.count == 0) none::make_at(result);
        block::append_cell_copy(series::node_of(pair), result);
        cell rest = *src;
        rest.data1 = (uint32_t)(head + (int32_t)out.consumed);
        block::append_cell_copy(series::node_of(pair), &rest);
        stack::set_last(pair);
    } else {
        stack::set_last(result);
    }
    stack::keep_first();
}

}  // namespace natives
