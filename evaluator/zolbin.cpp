// Zolbin codec: normal and compact modes, and the boot image.
#include "evaluator/zolbin.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/crush.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "platform/image_backend.h"

namespace zolbin {

using memory::Node;

namespace {

// Normal-mode record header bits.
constexpr uint32_t H_SEEN = 1u << 19;
constexpr uint32_t H_NEGATIVE = 1u << 22;
constexpr uint32_t H_COMPLEMENTED = 1u << 23;
constexpr uint32_t H_HANDLERS = 1u << 24;
constexpr uint32_t H_GLOBAL = 1u << 25;
constexpr uint32_t H_NEW_LINE = 1u << 31;
constexpr uint32_t H_REFERENCE = 255;
// Normal-mode context header bits.
constexpr uint32_t CX_KIND_SHIFT = 26;
constexpr uint32_t CX_EXTRA = 1u << 28;
constexpr uint32_t CX_STACK = 1u << 29;
constexpr uint32_t CX_VALUES = 1u << 30;
// Compact-mode lead bytes and context flags.
constexpr uint8_t C_SMALL_INT = 0x80;
constexpr uint8_t C_NEW_LINE = 0xC0;
constexpr uint8_t C_SEEN = 0xC1;
constexpr uint8_t C_TRUE = 0xC2;
constexpr uint8_t C_FALSE = 0xC3;
constexpr uint8_t C_DEFINE = 0xC4;
constexpr uint8_t C_REFERENCE = 0xFF;
constexpr uint8_t C_FLAG = 0x40;
constexpr uint8_t CB_STACK = 4;
constexpr uint8_t CB_EXTRA = 8;
constexpr uint8_t CB_VALUES = 16;

cell* cells_of(Node* n) { return block::cells_of(n); }

int32_t cell_count(Node* n) { return (int32_t)(n->buffer->used_bytes() / sizeof(cell)); }

bool is_block_like(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || t == TYPE_HASH;
}
bool is_text(uint8_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}
bool is_word_type(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
bool no_codec_type(uint8_t t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT;
}

bool booting_now();
[[noreturn]] void boot_failure(const char* what, size_t offset);

[[noreturn]] void raise_no_codec(const cell* v) {
    if (booting_now()) boot_failure("Error: invalid record in the boot image!", 0);
    cell copy = *v;
    error::raise(error::ACCESS, "no-codec", &copy);
}

// The owner cell of a context, when an object! or function! owns it.
const cell* owner_of(Node* ctx) {
    if (!ctx || ctx == context::global) return nullptr;
    const cell* o = context::owner(ctx);
    return o->type() == TYPE_OBJECT || o->type() == TYPE_FUNCTION ? o : nullptr;
}

// The 1-based slot of a native's or action's entry, 0 when it is in no table.
int32_t slot_of(const cell* v) {
    void* entry = (void*)(uintptr_t)v->data1;
    if (v->type() == TYPE_NATIVE) {
        for (uint32_t i = 0; i < natives::NATIVE_COUNT; i++)
            if ((void*)natives::table[i] == entry) return (int32_t)i + 1;
    } else {
        for (uint32_t i = 0; i < 62; i++)
            if ((void*)actions::dispatchers[i] == entry) return (int32_t)i + 1;
    }
    return 0;
}

Node* built_ins = nullptr;  // the natives and actions the boot image defined

// The native! or action! of that slot as the boot image defined it.
const cell* built_in(uint8_t type, uint32_t slot) {
    if (!built_ins) return nullptr;
    int32_t n = (int32_t)(built_ins->buffer->used_bytes() / sizeof(cell));
    for (int32_t i = 0; i < n; i++) {
        const cell* c = cells_of(built_ins) + i;
        if (c->type() == type && (uint32_t)slot_of(c) == slot) return c;
    }
    return nullptr;
}

uint32_t handler_index(Node* handlers, int32_t which) {
    if (!handlers) return 0xFFFFFFFF;
    uint32_t w = cells_of(handlers)[which].data2 >> 16;
    return w == object::NO_HANDLER ? 0xFFFFFFFF : w;
}

// The cell of an op! as the callable it wraps.
cell inner_of_op(const cell* op) {
    uint8_t source = native::op_source(op);
    if (source == TYPE_FUNCTION || source == TYPE_ROUTINE) {
        cell* kept = function::more_cell(op, function::MORE_OP);
        if (kept->type() == source) return *kept;
    }
    cell c = *op;
    c.header = source;
    return c;
}

uint32_t zigzag(int32_t n) { return ((uint32_t)n << 1) ^ (uint32_t)(n >> 31); }
int32_t unzigzag(uint32_t u) { return (int32_t)(u >> 1) ^ -(int32_t)(u & 1); }

// --- Writer ----------------------------------------------------------------------

// Both encoders walk the value the same way; only the record layouts differ.
// Writing allocates no series (the output grows in C++ buffers), so the
// cells read stay where they are.
struct Writer {
    bool compact;
    bool boot = false;
    std::vector<uint8_t> out;
    std::vector<int32_t> symbol_ids;
    std::unordered_map<int32_t, int32_t> symbol_index;
    std::vector<uint32_t> name_offsets;
    std::string names;
    std::unordered_map<Node*, std::vector<int32_t>> seen;
    std::vector<int32_t> path;   // positions of the enclosing levels
    int32_t position = 0;        // position of the next value at this level
    std::unordered_map<Node*, int32_t> boot_roots;  // context -> root index

    explicit Writer(bool compact_mode) : compact(compact_mode) {}

    void byte(uint8_t b) { out.push_back(b); }
    void bytes(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void word32(uint32_t w) {
        uint8_t b[4] = {(uint8_t)w, (uint8_t)(w >> 8), (uint8_t)(w >> 16), (uint8_t)(w >> 24)};
        bytes(b, 4);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            byte((uint8_t)(v | 0x80));
            v >>= 7;
        }
        byte((uint8_t)v);
    }
    void pad4() {
        while (out.size() % 4) byte(0);
    }
    // A count or index: a varint in compact mode, a word in normal mode.
    void number(uint32_t v) { compact ? varint(v) : word32(v); }
    void signed_number(int32_t v) { compact ? varint(zigzag(v)) : word32((uint32_t)v); }

    int32_t symbol(int32_t id) {
        auto it = symbol_index.find(id);
        if (it != symbol_index.end()) return it->second;
        int32_t index = (int32_t)symbol_ids.size();
        symbol_ids.push_back(id);
        symbol_index[id] = index;
        name_offsets.push_back((uint32_t)names.size());
        names.append(symbol::to_cstr(id));
        names.push_back('\0');
        if (!compact)
            while (names.size() % 8) names.push_back('\0');
        return index;
    }

    // The path of the value about to be written at this level.
    std::vector<int32_t> here() const {
        std::vector<int32_t> p = path;
        p.push_back(position);
        return p;
    }
    const std::vector<int32_t>* find_seen(Node* key) {
        auto it = seen.find(key);
        return it == seen.end() ? nullptr : &it->second;
    }
    // Records the key at this position and opens its level.
    void enter(Node* key) {
        seen[key] = here();
        path.push_back(position);
        position = 0;
    }
    void leave() {
        position = path.back();
        path.pop_back();
    }
    void write_path(const std::vector<int32_t>& p) {
        if (compact) {
            varint((uint32_t)p.size());
            for (int32_t i : p) varint((uint32_t)i);
        } else {
            word32(H_REFERENCE);
            word32((uint32_t)p.size());
            for (int32_t i : p) word32((uint32_t)i);
        }
    }

    // Compact lead: the new-line and seen prefixes, then the type byte.
    void lead(const cell* v, uint8_t type, bool flag, bool seen_before) {
        if (seen_before) byte(C_SEEN);
        byte((uint8_t)(type | (flag ? C_FLAG : 0)));
        (void)v;
    }
    uint32_t header(const cell* v, uint8_t type) {
        return type | (cell::has_new_line(v) ? H_NEW_LINE : 0);
    }

    void value(const cell* v, bool counted = true);
    void context_body(Node* ctx, bool with_values);
    void object_contents(const cell* obj);
    void function_contents(const cell* f);
    void word(const cell* v);
    void series(const cell* v);
    void image_record(const cell* v);
};

void Writer::context_body(Node* ctx, bool with_values) {
    cell* self = context::self_cell(ctx);
    uint32_t kind = (uint32_t)context::kind_of(ctx);
    bool stack = context::is_stack(ctx);
    bool extra = (self->header & context::FLAG_SELF) != 0;
    int32_t n = context::word_count(ctx);
    if (compact) {
        byte(TYPE_CONTEXT);
        byte((uint8_t)(kind | (stack ? CB_STACK : 0) | (extra ? CB_EXTRA : 0) | (with_values ? CB_VALUES : 0)));
        varint((uint32_t)n);
    } else {
        word32(TYPE_CONTEXT | (kind << CX_KIND_SHIFT) | (extra ? CX_EXTRA : 0) | (stack ? CX_STACK : 0) |
               (with_values ? CX_VALUES : 0));
        word32((uint32_t)n);
    }
    for (int32_t i = 0; i < n; i++) number((uint32_t)symbol(word::symbol_of(context::word_at(ctx, i))));
    if (with_values)
        for (int32_t i = 0; i < n; i++) value(context::value_cell_at(ctx, i));
}

void Writer::object_contents(const cell* obj) {
    Node* handlers = object::handlers_of(obj);
    signed_number((int32_t)obj->data2);
    if (handlers) {
        signed_number((int32_t)handler_index(handlers, object::ON_CHANGE));
        signed_number((int32_t)handler_index(handlers, object::ON_DEEP_CHANGE));
    }
    context_body(object::context_of(obj), true);
}

void Writer::function_contents(const cell* f) {
    Node* spec = function::spec_of(f);
    cell* body = function::more_cell(f, function::MORE_BODY);
    number((uint32_t)cell_count(spec));
    number(body->type() == TYPE_BLOCK ? (uint32_t)cell_count(series::node_of(body)) : 0);
    context_body(function::context_of(f), false);
    cell spec_cell{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)spec, 0};
    value(&spec_cell);
    if (body->type() == TYPE_BLOCK) {
        value(body);
    } else {
        cell empty = spec_cell;  // a function without body: an empty block stands in
        empty.data1 = (uint32_t)cell_count(spec);
        value(&empty);
    }
}

void Writer::word(const cell* v) {
    uint8_t t = v->type();
    Node* ctx = word::context_of(v);
    const cell* owner = owner_of(ctx);
    int32_t sym = symbol(word::symbol_of(v));
    if (t == TYPE_ISSUE || !owner) {
        if (compact) {
            lead(v, t, false, false);
            varint((uint32_t)sym);
        } else {
            word32(header(v, t) | (t == TYPE_ISSUE ? 0 : H_GLOBAL));
            word32((uint32_t)sym);
            if (t != TYPE_ISSUE) word32((uint32_t)word::index_of_cell(v));
        }
        return;
    }
    if (boot) {
        // Boot images name the root whose context the word is bound to.
        auto it = boot_roots.find(ctx);
        lead(v, t, it != boot_roots.end(), false);
        varint((uint32_t)sym);
        if (it != boot_roots.end()) {
            varint((uint32_t)it->second);
            varint(zigzag(word::index_of_cell(v)));
        }
        return;
    }
    const std::vector<int32_t>* before = find_seen(ctx);
    if (compact) {
        lead(v, t, true, before != nullptr);
        varint((uint32_t)sym);
        varint(zigzag(word::index_of_cell(v)));
    } else {
        word32(header(v, t) | (before ? H_SEEN : 0));
        word32((uint32_t)sym);
        word32((uint32_t)word::index_of_cell(v));
    }
    if (before) {
        write_path(*before);
        return;
    }
    // The owner's contents are numbered under the word's own path.
    cell o = *owner;
    enter(ctx);
    if (o.type() == TYPE_OBJECT) {
        if (compact) byte((uint8_t)(TYPE_OBJECT | (object::handlers_of(&o) ? C_FLAG : 0)));
        else word32(TYPE_OBJECT | (object::handlers_of(&o) ? H_HANDLERS : 0));
        object_contents(&o);
    } else {
        if (compact) byte(TYPE_FUNCTION);
        else word32(TYPE_FUNCTION);
        function_contents(&o);
    }
    leave();
}

void Writer::series(const cell* v) {
    uint8_t t = v->type();
    Node* node = series::node_of(v);
    int32_t head = (int32_t)v->data1;
    const std::vector<int32_t>* before = find_seen(node);
    uint32_t unit = node->buffer->unit();
    uint32_t used = node->buffer->used_bytes();
    bool has_head = t != TYPE_MAP && t != TYPE_BITSET;
    if (compact) {
        bool flag = t == TYPE_BITSET ? (node->buffer->flags & memory::FLAG_COMPLEMENTED) != 0
                                     : has_head && head != 0;
        lead(v, t, flag, before != nullptr);
        if (has_head && head != 0) varint((uint32_t)head);
    } else {
        uint32_t h = header(v, t) | (before ? H_SEEN : 0);
        if (is_text(t) || t == TYPE_BINARY || t == TYPE_VECTOR) h |= unit << 8;
        if (t == TYPE_BITSET && (node->buffer->flags & memory::FLAG_COMPLEMENTED)) h |= H_COMPLEMENTED;
        word32(h);
        if (has_head) word32((uint32_t)head);
    }
    if (before) {
        write_path(*before);
        return;
    }
    enter(node);
    const uint8_t* data = node->buffer->head;
    if (is_block_like(t)) {
        int32_t n = (int32_t)(used / sizeof(cell));
        number((uint32_t)n);
        for (int32_t i = 0; i < n; i++) value(cells_of(node) + i);
    } else if (t == TYPE_MAP) {
        int32_t n = (int32_t)(used / sizeof(cell));
        int32_t live = 0;
        for (int32_t i = 0; i + 1 < n; i += 2)
            if (cells_of(node)[i + 1].header != 0) live++;
        number((uint32_t)(2 * live));
        for (int32_t i = 0; i + 1 < n; i += 2) {
            if (cells_of(node)[i + 1].header == 0) continue;
            value(cells_of(node) + i);
            value(cells_of(node) + i + 1);
        }
    } else if (t == TYPE_BITSET || t == TYPE_BINARY) {
        number(used);
        bytes(data, used);
        if (!compact) pad4();
    } else if (t == TYPE_VECTOR) {
        uint32_t count = used / unit;
        if (compact) {
            byte((uint8_t)(((uint32_t)v->data3 << 2) | series::shift_of(unit)));
            varint(count);
        } else {
            word32(count);
            word32(v->data3);
        }
        bytes(data, used);
        if (!compact) pad4();
    } else {  // the string family
        uint32_t count = used / unit;
        if (compact) varint(count * 4 + series::shift_of(unit));
        else word32(count);
        bytes(data, used);
        if (!compact) pad4();
    }
    leave();
}

// An image: its position, then (unless written before) its size and its
// pixel words as stored. An image without pixels is never shared.
void Writer::image_record(const cell* v) {
    Node* node = image::node_of(v);
    uint32_t head = v->data1;
    const std::vector<int32_t>* before = node ? find_seen(node) : nullptr;
    if (compact) {
        lead(v, TYPE_IMAGE, head != 0, before != nullptr);
        if (head != 0) varint(head);
    } else {
        word32(header(v, TYPE_IMAGE) | (before ? H_SEEN : 0));
        word32(head);
    }
    if (before) {
        write_path(*before);
        return;
    }
    if (node) enter(node);
    uint32_t w = image::width_of(v), h = image::height_of(v);
    if (compact) {
        varint(w);
        varint(h);
    } else {
        word32(v->data3);
    }
    if (node) {
        image_backend::PixelLock lock(node, false);
        for (uint32_t y = 0; y < h; y++) bytes((const uint8_t*)(lock.pixels + (size_t)y * lock.stride_words), w * 4);
        leave();
    }
}

void Writer::value(const cell* v, bool counted) {
    uint8_t t = v->type();
    if (no_codec_type(t) || (t == TYPE_OP && native::op_source(v) == TYPE_ROUTINE)) raise_no_codec(v);
    if (compact && cell::has_new_line(v)) byte(C_NEW_LINE);
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            if (compact) byte(t);
            else word32(header(v, t));
            break;
        case TYPE_DATATYPE:
            if (compact) {
                byte(t);
                varint(v->data1);
            } else {
                word32(header(v, t));
                word32(v->data1);
            }
            break;
        case TYPE_LOGIC:
            if (compact) {
                byte(v->data1 ? C_TRUE : C_FALSE);
            } else {
                word32(header(v, t));
                word32(v->data1 ? 1 : 0);
            }
            break;
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            int32_t n = (int32_t)v->data2;
            if (!compact) {
                word32(header(v, t));
                word32((uint32_t)n);
            } else if (t == TYPE_INTEGER && n >= 0 && n <= 63) {
                byte((uint8_t)(C_SMALL_INT + n));
            } else {
                byte(t);
                varint(t == TYPE_CHAR ? (uint32_t)n : zigzag(n));
            }
            break;
        }
        case TYPE_PAIR:
            if (compact) {
                byte(t);
                varint(zigzag((int32_t)v->data2));
                varint(zigzag((int32_t)v->data3));
            } else {
                word32(header(v, t));
                word32(v->data2);
                word32(v->data3);
            }
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            int n = t == TYPE_POINT2D ? 2 : 3;
            if (compact) byte(t);
            else word32(header(v, t));
            for (int i = 0; i < n; i++) word32((&v->data1)[i]);
            break;
        }
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d = cell::get_float(v);
            if (!compact) {
                if (out.size() % 8) word32(0);  // doubles start on 8 bytes
                word32(header(v, t));
                word32(v->data3);
                word32(v->data2);
                break;
            }
            bool small = false;
            int32_t n = 0;
            if (t == TYPE_PERCENT) {
                if (std::fabs(d) <= 21474836.0) {
                    double r = float_::round_half_away(d * 100.0);
                    if (r / 100.0 == d) small = true, n = (int32_t)r;
                }
            } else if (std::fabs(d) <= 2147483000.0 && d == (double)(int32_t)d &&
                       !(d == 0.0 && std::signbit(d))) {
                small = true, n = (int32_t)d;  // a negative zero stays raw
            }
            byte((uint8_t)(t | (small ? C_FLAG : 0)));
            if (small) {
                varint(zigzag(n));
            } else {
                word32(v->data2);
                word32(v->data3);
            }
            break;
        }
        case TYPE_TYPESET: {
            const uint8_t* b = reinterpret_cast<const uint8_t*>(&v->data1);
            if (compact) {
                uint8_t n = 12;
                while (n > 0 && b[n - 1] == 0) n--;
                byte(t);
                byte(n);
                bytes(b, n);
            } else {
                word32(header(v, t));
                word32(v->data1);
                word32(v->data2);
                word32(v->data3);
            }
            break;
        }
        case TYPE_TUPLE: {
            int32_t n = tuple::count_of(v);
            const uint8_t* b = tuple::bytes_of(v);
            if (compact) {
                byte((uint8_t)(t | (n == 3 ? 0 : C_FLAG)));
                if (n != 3) byte((uint8_t)n);
                bytes(b, (size_t)n);
            } else {
                word32(header(v, t) | ((uint32_t)n << 8));
                bytes(b, 12);
            }
            break;
        }
        case TYPE_DATE: {
            // The packed word, then the stored time: compact mode drops the
            // time of a date that has none.
            bool timed = date::has_time(date::word_of(v));
            if (compact) {
                byte((uint8_t)(t | (timed ? C_FLAG : 0)));
                word32(v->data1);
                if (timed) {
                    word32(v->data2);
                    word32(v->data3);
                }
            } else {
                word32(header(v, t));
                word32(v->data1);
                word32(v->data3);
                word32(v->data2);
            }
            break;
        }
        case TYPE_MONEY: {
            bool negative = money::sign_bit(v);
            if (compact) byte((uint8_t)(t | (negative ? C_FLAG : 0)));
            else word32(header(v, t) | (negative ? H_NEGATIVE : 0));
            bytes(&v->data1, 12);
            break;
        }
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
        case TYPE_ISSUE:
            word(v);
            break;
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_PATH:
        case TYPE_LIT_PATH:
        case TYPE_SET_PATH:
        case TYPE_GET_PATH:
        case TYPE_HASH:
        case TYPE_MAP:
        case TYPE_STRING:
        case TYPE_FILE:
        case TYPE_URL:
        case TYPE_TAG:
        case TYPE_EMAIL:
        case TYPE_REF:
        case TYPE_BINARY:
        case TYPE_VECTOR:
        case TYPE_BITSET:
            series(v);
            break;
        case TYPE_IMAGE:
            image_record(v);
            break;
        case TYPE_OBJECT: {
            Node* ctx = object::context_of(v);
            const std::vector<int32_t>* before = find_seen(ctx);
            bool handlers = !before && object::handlers_of(v) != nullptr;
            if (compact) lead(v, t, handlers, before != nullptr);
            else word32(header(v, t) | (before ? H_SEEN : 0) | (handlers ? H_HANDLERS : 0));
            if (before) {
                write_path(*before);
                break;
            }
            cell o = *v;
            enter(ctx);
            object_contents(&o);
            leave();
            break;
        }
        case TYPE_FUNCTION: {
            Node* ctx = function::context_of(v);
            const std::vector<int32_t>* before = find_seen(ctx);
            if (compact) lead(v, t, false, before != nullptr);
            else word32(header(v, t) | (before ? H_SEEN : 0));
            if (before) {
                write_path(*before);
                break;
            }
            cell f = *v;
            enter(ctx);
            function_contents(&f);
            leave();
            break;
        }
        case TYPE_ERROR: {
            cell e = *v;
            int32_t code = (int32_t)error::field(&e, error::F_CODE)->data2;
            if (compact) {
                byte(t);
                varint((uint32_t)code);
            } else {
                word32(header(v, t));
                word32((uint32_t)code);
            }
            path.push_back(position);
            position = 0;
            for (int32_t f = error::F_ARG1; f <= error::F_STACK; f++) value(error::field(&e, f));
            leave();
            break;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION: {
            int32_t slot = slot_of(v);
            if (slot == 0) raise_no_codec(v);
            if (compact) {
                byte(t);
                varint((uint32_t)slot);
            } else {
                word32(header(v, t));
                word32((uint32_t)slot);
            }
            cell spec{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)native::spec_of(v), 0};
            value(&spec, false);
            break;
        }
        case TYPE_OP: {
            cell inner = inner_of_op(v);
            if (compact) byte(t);
            else word32(header(v, t) | ((uint32_t)inner.type() << 16));
            value(&inner, false);
            break;
        }
        default:
            raise_no_codec(v);
    }
    if (counted) position++;
}

// The whole file: header, symbol table, records.
std::vector<uint8_t> finish(Writer& w, uint8_t version, uint32_t roots) {
    std::vector<uint8_t> file = {'Z', 'O', 'L', 'B', 'I', 'N', version, 0};
    bool symbols = !w.symbol_ids.empty();
    file[7] = (uint8_t)((w.compact ? FLAG_COMPACT : 0) | (symbols ? FLAG_SYMBOLS : 0));
    Writer h(w.compact);
    h.number(roots);
    h.number((uint32_t)w.out.size());
    if (symbols) {
        h.number((uint32_t)w.symbol_ids.size());
        h.number((uint32_t)w.names.size());
        for (uint32_t o : w.name_offsets) h.word32(o);
        h.bytes(w.names.data(), w.names.size());
    }
    file.insert(file.end(), h.out.begin(), h.out.end());
    file.insert(file.end(), w.out.begin(), w.out.end());
    return file;
}

cell* encode_with(const cell* value, bool compact) {
    cell v = *value;
    std::vector<uint8_t> file;
    {
        Writer w(compact);
        w.value(&v);
        file = finish(w, VERSION, 1);
    }
    return binary::load(file.data(), (uint32_t)file.size());
}

// --- Reader ----------------------------------------------------------------------

// While the boot image loads the error catalog may not exist yet: a fault in
// the image ends the program with a runtime error instead.
bool booting = false;
bool booting_now() { return booting; }

[[noreturn]] void boot_failure(const char* what, size_t offset) {
    char at[32];
    snprintf(at, sizeof at, " (%u)\n", (unsigned)offset);
    sys::print({sys::PrintItem::String(what), sys::PrintItem::String(at)});
    sys::quit(sys::RT_UNKNOWN, 0);
}

// Where a new owner's cell goes once its context exists (before its
// contents are read, so that paths through it resolve): into the parent as
// the value itself, or, for a word's owner, as the word bound to it.
struct Placement {
    Node* parent;
    bool as_word;
    cell word;  // type, new-line bit, symbol, index of the word
};

// What a record's lead says, in either mode.
struct Lead {
    uint8_t type;
    uint32_t new_line;  // CELL_NEW_LINE or 0
    bool seen;          // written before: a path to it follows
    bool global;        // a word of the global context, or of none
    bool flag;          // an object's handlers, a bitset's complement; compact: the type byte's flag
    uint32_t bits;      // normal mode: header bits 8-15 (a tuple's count, a series' unit)
};

struct Reader {
    // The payload, out of the heap: the decompressor's buffer, or a copy of
    // the caller's bytes (which may lie in a series that decoding moves).
    const uint8_t* data = nullptr;
    std::vector<uint8_t> copy;
    uint8_t* plain = nullptr;    // the decompressor's buffer, freed with the reader
    ~Reader() {
        if (plain) crush::free(plain);
    }
    size_t p = 0;
    size_t end = 0;              // end of the records
    uint32_t bias = 0;           // bytes before data[0] in the caller's input
    bool compact = false;
    bool boot = false;
    Node* out = nullptr;         // the output block
    int32_t first_root = 0;      // its cell count before this call
    int32_t depth = 0;
    size_t names_at = 0;
    uint32_t symbol_count = 0, names_size = 0;
    std::vector<int32_t> symbols;  // interned ids, 0 until first use
    // Index of each symbol's global word once one was read, else -1: the
    // global context only gains words, so one lookup per symbol serves.
    std::vector<int32_t> global_index;
    size_t record = 0;             // start of the record being read

    [[noreturn]] void invalid(size_t at) {
        if (boot) boot_failure("Error: invalid record in the boot image!", at + bias + 1);
        cell offset;
        integer::make_at(&offset, (int32_t)(at + bias + 1));
        error::raise(error::SCRIPT, "rb-invalid-record", &offset);
    }
    [[noreturn]] void invalid() { invalid(record); }

    void need(uint64_t n) {
        if ((uint64_t)p + n > end) invalid(p);
    }
    uint8_t byte() {
        need(1);
        return data[p++];
    }
    uint32_t word32() {
        need(4);
        uint32_t w = (uint32_t)data[p] | (uint32_t)data[p + 1] << 8 | (uint32_t)data[p + 2] << 16 |
                     (uint32_t)data[p + 3] << 24;
        p += 4;
        return w;
    }
    uint32_t varint() {
        size_t at = p;
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            uint8_t b = byte();
            if (i == 4 && (b & 0xF0)) invalid(at);
            v |= (uint32_t)(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        invalid(at);
    }
    uint32_t number() { return compact ? varint() : word32(); }
    int32_t signed_number() { return compact ? unzigzag(varint()) : (int32_t)word32(); }
    // A count that must not exceed the bytes left (each item takes at least
    // `each` bytes).
    uint32_t count(uint32_t each) {
        size_t at = p;
        uint32_t n = number();
        if ((uint64_t)n * each > end - p) invalid(at);
        return n;
    }

    int32_t symbol(uint32_t index) {
        if (index >= symbol_count) invalid();
        if (!symbols[index]) {
            size_t at = names_at + 4 * (size_t)index;
            uint32_t offset = (uint32_t)data[at] | (uint32_t)data[at + 1] << 8 | (uint32_t)data[at + 2] << 16 |
                              (uint32_t)data[at + 3] << 24;
            if (offset >= names_size) invalid();
            // The names area ends in a NUL; it is no series buffer, so
            // interning may read it in place.
            const char* name = (const char*)data + names_at + 4 * (size_t)symbol_count + offset;
            symbols[index] = symbol::make_n((const uint8_t*)name, (uint32_t)strlen(name));
        }
        return symbols[index];
    }

    // A record: its lead (type and flags, in the mode's layout; false when
    // the lead was the whole record), then its body, read alike in both
    // modes but for the layouts of scalars.
    void value(Node* parent);
    bool normal_lead(Node* parent, Lead& lead);
    bool compact_lead(Node* parent, Lead& lead);
    void record_body(Node* parent, const Lead& lead);
    void check_type(uint8_t t);
    void reference_record(Node* parent, uint32_t new_line);

    // Shared record bodies.
    // The cell's series may be new and held by nothing else: it stays rooted
    // while the parent grows.
    cell* append(Node* parent, const cell& c) {
        cell held = c;
        collector::Root hold(held);
        return block::append_cell_copy(parent, &held);
    }
    Node* context_body(int32_t* kind_out, bool* values_out);
    void place(const Placement& at, const cell& owner, Node* ctx);
    void word_record(Node* parent, uint8_t type, uint32_t hdr_new_line, bool global, bool seen);
    void read_path(std::vector<uint32_t>& path, bool marked = true);
    cell resolve(const std::vector<uint32_t>& path);
    Node* context_from_reference(const std::vector<uint32_t>& path);
    void object_record(const Placement& at, uint32_t new_line, bool seen, bool handlers);
    void function_record(const Placement& at, uint32_t new_line, bool seen);
    void series_record(Node* parent, uint8_t t, uint32_t new_line, bool seen, uint32_t unit, bool flag);
    void error_record(Node* parent, uint32_t new_line);
    void native_record(Node* parent, uint8_t t, uint32_t new_line);
    void op_record(Node* parent, uint32_t new_line);
    Node* read_block_into_temp(int32_t n);
};

void Reader::read_path(std::vector<uint32_t>& path, bool marked) {
    // In normal mode the path of a record written before is a whole
    // reference record, its 255 header included.
    if (!compact && marked && (word32() & 0xFF) != H_REFERENCE) invalid(p - 4);
    size_t at = p;
    uint32_t k = number();
    if (k < 1 || k > 65536 || (uint64_t)k * (compact ? 1 : 4) > end - p) invalid(at);
    path.resize(k);
    for (uint32_t i = 0; i < k; i++) path[i] = number();
}

// The cell an index path designates, from the first root of this call.
cell Reader::resolve(const std::vector<uint32_t>& path) {
    Node* node = out;
    int32_t base = first_root;
    cell current{};
    for (size_t i = 0; i < path.size(); i++) {
        if (i > 0) {
            uint8_t t = current.type();
            base = 0;
            if (is_block_like(t) || t == TYPE_MAP) {
                node = series::node_of(&current);
            } else if (t == TYPE_OBJECT || t == TYPE_ERROR || is_word_type(t)) {
                Node* ctx = t == TYPE_OBJECT || t == TYPE_ERROR ? object::context_of(&current)
                                                                : word::context_of(&current);
                if (!ctx || ctx == context::global) invalid();
                if (context::is_stack(ctx)) {
                    const cell* f = owner_of(ctx);
                    if (!f || f->type() != TYPE_FUNCTION) invalid();
                    current = *f;
                    t = TYPE_FUNCTION;
                } else {
                    node = context::values_node(ctx);
                    if (t == TYPE_ERROR) base = error::F_ARG1;
                }
            }
            if (t == TYPE_FUNCTION) {
                if (path[i] > 1) invalid();
                if (path[i] == 0) {
                    current = cell{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)function::spec_of(&current), 0};
                } else {
                    current = *function::more_cell(&current, function::MORE_BODY);
                }
                continue;
            }
            if (t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP) {
                node = native::spec_of(&current);
            } else if (!(is_block_like(t) || t == TYPE_MAP || t == TYPE_OBJECT || t == TYPE_ERROR ||
                         is_word_type(t))) {
                invalid();
            }
        }
        uint64_t index = (uint64_t)base + path[i];
        if (index >= (uint64_t)cell_count(node)) invalid();
        current = cells_of(node)[index];
    }
    return current;
}

Node* Reader::context_from_reference(const std::vector<uint32_t>& path) {
    cell c = resolve(path);
    uint8_t t = c.type();
    Node* ctx = nullptr;
    if (t == TYPE_OBJECT) ctx = object::context_of(&c);
    else if (t == TYPE_FUNCTION) ctx = function::context_of(&c);
    else if (is_word_type(t)) ctx = word::context_of(&c);
    if (!owner_of(ctx)) invalid();
    return ctx;
}

// A context body: its words, and its values when they follow. The context is
// returned without values; the caller reads them once its owner is in place.
Node* Reader::context_body(int32_t* kind_out, bool* values_out) {
    size_t at = p;
    int32_t kind;
    bool stack, extra, values;
    if (compact) {
        if (byte() != TYPE_CONTEXT) invalid(at);
        uint8_t f = byte();
        kind = f & 3;
        stack = (f & CB_STACK) != 0;
        extra = (f & CB_EXTRA) != 0;
        values = (f & CB_VALUES) != 0;
    } else {
        uint32_t h = word32();
        if ((h & 0xFF) != TYPE_CONTEXT) invalid(at);
        kind = (int32_t)((h >> CX_KIND_SHIFT) & 3);
        extra = (h & CX_EXTRA) != 0;
        stack = (h & CX_STACK) != 0;
        values = (h & CX_VALUES) != 0;
    }
    if (kind == 3 || (stack && values)) invalid(at);
    uint32_t n = count(compact ? 1 : 4);
    std::vector<int32_t> syms(n);
    for (uint32_t i = 0; i < n; i++) syms[i] = symbol(number());
    Node* ctx = context::make((int32_t)n, stack, extra, nullptr, kind);
    context::Hold hold(&ctx);
    for (uint32_t i = 0; i < n; i++) {
        int32_t added = -1;
        if (context::find_or_add_word(ctx, syms[i], false, &added) >= 0) invalid(at);  // a word twice
    }
    *kind_out = kind;
    *values_out = values;
    return ctx;
}

Node* Reader::read_block_into_temp(int32_t n) {
    cell* tmp = block::push_new(n);
    Node* node = series::node_of(tmp);
    for (int32_t i = 0; i < n; i++) value(node);
    return node;
}

void Reader::place(const Placement& at, const cell& owner, Node* ctx) {
    if (!at.as_word) {
        append(at.parent, owner);
        return;
    }
    int32_t index = (int32_t)at.word.data3;
    if (index < 0 || index >= context::word_count(ctx)) invalid();
    cell w = at.word;
    w.data1 = (uint32_t)(uintptr_t)ctx;
    append(at.parent, w);
}

void Reader::object_record(const Placement& at, uint32_t new_line, bool seen, bool handlers) {
    Node* parent = at.parent;
    if (seen) {
        std::vector<uint32_t> path;
        read_path(path);
        Node* ctx = context_from_reference(path);
        cell o = *context::owner(ctx);
        if (o.type() != TYPE_OBJECT) invalid();
        o.header = TYPE_OBJECT | new_line;
        append(parent, o);
        return;
    }
    int32_t class_id = signed_number();
    if (handlers) {
        signed_number();
        signed_number();
    }
    int32_t kind;
    bool values;
    Node* ctx;
    cell o;
    int32_t index = cell_count(parent);
    {
        // Held only until the parent refers to it: holds do not nest deeply.
        ctx = context_body(&kind, &values);
        context::Hold hold(&ctx);
        if (context::is_stack(ctx) || !values) invalid();
        uint32_t cls = boot ? (uint32_t)class_id : 0xFFFFFFFF;
        o = *object::make_at(ctx, cls, nullptr);
        stack::pop(1);
        o.header |= new_line;
        place(at, o, ctx);
    }
    int32_t n = context::word_count(ctx);
    Node* vals = context::values_node(ctx);
    for (int32_t i = 0; i < n; i++) value(vals);
    if (handlers) {
        cell* held = stack::push(&o);
        object::attach_handlers(held);
        cell done = *held;
        stack::pop(1);
        if (!at.as_word) cells_of(parent)[index] = done;
        done.header &= ~CELL_NEW_LINE;
        object::write_back_link(&done);
    }
}

void Reader::function_record(const Placement& at, uint32_t new_line, bool seen) {
    Node* parent = at.parent;
    if (seen) {
        std::vector<uint32_t> path;
        read_path(path);
        Node* ctx = context_from_reference(path);
        cell f = *context::owner(ctx);
        if (f.type() != TYPE_FUNCTION) invalid();
        f.header = (f.header & ~CELL_NEW_LINE) | new_line;
        append(parent, f);
        return;
    }
    number();  // spec and body cell counts: informational
    number();
    int32_t kind;
    bool values;
    Node* ctx;
    cell f;
    cell* top = stack::arguments.top;
    int32_t index = cell_count(parent);
    {
        ctx = context_body(&kind, &values);
        context::Hold hold(&ctx);
        if (!context::is_stack(ctx)) invalid();
        cell* more = block::push_new(5);
        Node* more_node = series::node_of(more);
        for (int32_t i = 0; i < 5; i++) block::alloc_tail(more_node)->header = TYPE_UNSET;
        cell* placeholder = block::push_new(1);
        f = cell{TYPE_FUNCTION, (uint32_t)(uintptr_t)ctx, placeholder->data2, (uint32_t)(uintptr_t)more_node};
        *context::owner(ctx) = f;
        f.header |= new_line;
        place(at, f, ctx);
    }
    Node* parts = read_block_into_temp(2);
    cell spec = cells_of(parts)[0];
    cell body = cells_of(parts)[1];
    if (spec.type() != TYPE_BLOCK || body.type() != TYPE_BLOCK) invalid();
    // The spec must name exactly the context's words, in order: calls index
    // the context by the spec.
    cell* sp = stack::push(&spec);
    uint32_t flags = function::check_spec(sp);
    {
        Node* check = context::make_from_block(sp, true, false, context::KIND_FUNCTION);
        int32_t n = context::word_count(ctx);
        if (context::word_count(check) != n) invalid();
        for (int32_t i = 0; i < n; i++)
            if (word::symbol_of(context::word_at(check, i)) != word::symbol_of(context::word_at(ctx, i)))
                invalid();
    }
    cell done = f;
    done.header = TYPE_FUNCTION | (flags & (function::FLAG_TRACE | function::FLAG_NO_TRACE));
    done.data2 = spec.data2;
    *function::more_cell(&done, function::MORE_BODY) = body;
    *context::owner(ctx) = done;
    if (!at.as_word) {
        done.header |= new_line;
        cells_of(parent)[index] = done;
    }
    stack::arguments.top = top;
}

void Reader::error_record(Node* parent, uint32_t new_line) {
    size_t at = p;
    uint32_t code = number();
    uint32_t cat = code / 100, pos = code % 100;
    if (cat >= (uint32_t)error::CATEGORY_COUNT ||
        (int32_t)pos + 2 >= context::word_count(error::category_node((int32_t)cat)))
        invalid(at);
    cell* top = stack::arguments.top;
    cell* spec = stack::push_cell();
    integer::make_at(spec, (int32_t)code);
    cell* e = stack::push_cell();
    none::make_at(e);
    error::make(e, spec, TYPE_ERROR);
    cell made = *e;
    made.header |= new_line;
    append(parent, made);
    Node* fields = read_block_into_temp(6);
    for (int32_t f = 0; f < 6; f++) *error::field(&made, error::F_ARG1 + f) = cells_of(fields)[f];
    stack::arguments.top = top;
}

void Reader::native_record(Node* parent, uint8_t t, uint32_t new_line) {
    size_t at = p;
    uint32_t slot = number();
    if (slot < 1 || (t == TYPE_NATIVE && slot > natives::NATIVE_COUNT) ||
        (t == TYPE_ACTION && (slot > 62 || !actions::dispatchers[slot - 1])))
        invalid(at);
    cell* top = stack::arguments.top;
    Node* spec = read_block_into_temp(1);
    cell s = cells_of(spec)[0];
    if (s.type() != TYPE_BLOCK) invalid(at);
    if (!boot) {
        // The built-in code reads its arguments as its own spec declares
        // them: a spec from the data could hand it values it cannot take.
        const cell* known = built_in(t, slot);
        if (!known) invalid(at);
        s = cell{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)native::spec_of(known), 0};
    }
    cell made = *native::make_at_index(t, &s, (int32_t)slot);
    made.header |= new_line;
    append(parent, made);
    stack::arguments.top = top;
}

void Reader::op_record(Node* parent, uint32_t new_line) {
    size_t at = p;
    cell* top = stack::arguments.top;
    Node* inner = read_block_into_temp(1);
    cell source = cells_of(inner)[0];
    uint8_t st = source.type();
    if (st != TYPE_NATIVE && st != TYPE_ACTION && st != TYPE_FUNCTION) invalid(at);
    source.header &= ~CELL_NEW_LINE;
    cell* op = stack::push_cell();
    op->header = TYPE_DATATYPE;
    op->data1 = TYPE_OP;
    cell* callable = stack::push(&source);
    op::make(op, callable, TYPE_OP);
    cell made = *op;
    made.header |= new_line;
    append(parent, made);
    stack::arguments.top = top;
}

void Reader::word_record(Node* parent, uint8_t type, uint32_t new_line, bool global, bool seen) {
    size_t at = p;
    uint32_t name = number();
    int32_t sym = symbol(name);
    cell w;
    if (type == TYPE_ISSUE) {
        word::make_cell(&w, TYPE_ISSUE, context::global, sym, -1);
    } else if (global && type == TYPE_REFINEMENT) {
        word::make_cell(&w, TYPE_REFINEMENT, nullptr, sym, -1);
        if (!compact) number();
    } else if (global) {
        int32_t& known = global_index[name];
        if (known < 0) known = word::index_of_cell(word::make_at(sym, &w));
        else word::make_cell(&w, TYPE_WORD, context::global, sym, known);
        w.header = type;
        if (!compact) number();  // the index: the lookup decides
    } else if (boot && compact) {
        uint32_t root = varint();
        int32_t index = unzigzag(varint());
        if ((uint64_t)first_root + root >= (uint64_t)cell_count(out)) invalid(at);
        cell r = cells_of(out)[first_root + root];
        Node* ctx = r.type() == TYPE_OBJECT ? object::context_of(&r)
                    : r.type() == TYPE_FUNCTION ? function::context_of(&r)
                                                : nullptr;
        if (!ctx) invalid(at);
        if (index < 0) index = context::find_word(ctx, sym, true);
        if (index < 0 || index >= context::word_count(ctx)) invalid(at);
        word::make_cell(&w, type, ctx, sym, index);
    } else {
        int32_t index = signed_number();
        Node* ctx;
        if (seen) {
            std::vector<uint32_t> path;
            read_path(path);
            ctx = context_from_reference(path);
        } else {
            // The owner follows; the word goes in first so that paths through
            // it reach the owner's values while they are read.
            size_t owner_at = p;
            uint8_t ot;
            bool handlers = false;
            if (compact) {
                uint8_t b = byte();
                ot = b & 0x3F;
                handlers = (b & C_FLAG) != 0;
            } else {
                uint32_t h = word32();
                ot = (uint8_t)h;
                handlers = (h & H_HANDLERS) != 0;
            }
            if (ot != TYPE_OBJECT && ot != TYPE_FUNCTION) invalid(owner_at);
            Placement place_word{parent, true, {}};
            word::make_cell(&place_word.word, type, nullptr, sym, index);
            place_word.word.header |= new_line;
            if (ot == TYPE_OBJECT) object_record(place_word, 0, false, handlers);
            else function_record(place_word, 0, false);
            return;
        }
        if (index < 0 || index >= context::word_count(ctx)) invalid(at);
        word::make_cell(&w, type, ctx, sym, index);
    }
    w.header |= new_line;
    append(parent, w);
}

void Reader::series_record(Node* parent, uint8_t t, uint32_t new_line, bool seen, uint32_t unit, bool flag) {
    size_t at = record;
    bool has_head = t != TYPE_MAP && t != TYPE_BITSET;
    int32_t head = 0;
    if (has_head && (!compact || flag)) {
        uint32_t h = number();
        if (h > 0x7FFFFFFF) invalid(at);
        head = (int32_t)h;
    }
    if (seen) {
        std::vector<uint32_t> path;
        read_path(path);
        cell c = resolve(path);
        uint8_t ct = c.type();
        Node* node;
        if (series::is_series(ct) || ct == TYPE_MAP || ct == TYPE_BITSET || ct == TYPE_HASH) {
            node = series::node_of(&c);
        } else if (ct == TYPE_FUNCTION || ct == TYPE_NATIVE || ct == TYPE_ACTION || ct == TYPE_OP) {
            node = ct == TYPE_FUNCTION ? function::spec_of(&c) : native::spec_of(&c);
            ct = TYPE_BLOCK;
        } else {
            invalid(at);
        }
        // The same family and unit: a cell series shared as cells, bytes as bytes.
        bool cells_wanted = is_block_like(t) || t == TYPE_MAP;
        bool cells_there = is_block_like(ct) || ct == TYPE_MAP;
        if (cells_wanted != cells_there || (t == TYPE_MAP) != (ct == TYPE_MAP) ||
            (t == TYPE_VECTOR) != (ct == TYPE_VECTOR) || (t == TYPE_BITSET) != (ct == TYPE_BITSET) ||
            (is_text(t) && !is_text(ct)) || (t == TYPE_BINARY && ct != TYPE_BINARY) ||
            (t == TYPE_IMAGE) != (ct == TYPE_IMAGE))
            invalid(at);
        cell made{(uint32_t)t | new_line, (uint32_t)head, (uint32_t)(uintptr_t)node, 0};
        if (t == TYPE_VECTOR || t == TYPE_HASH || t == TYPE_MAP || t == TYPE_IMAGE) made.data3 = c.data3;
        append(parent, made);
        return;
    }
    if (is_block_like(t) || t == TYPE_MAP) {
        uint32_t n = count(compact ? 1 : 4);
        if (t == TYPE_MAP && (n & 1)) invalid(at);
        if (has_head && (uint32_t)head > n) invalid(at);
        if (t == TYPE_MAP) {
            cell* top = stack::arguments.top;
            Node* pairs = read_block_into_temp((int32_t)n);
            for (uint32_t i = 0; i < n; i += 2)
                if (!map::is_valid_key(cells_of(pairs)[i].type())) invalid(at);
            cell* m = stack::push_cell();
            map::make_at(m, nullptr, (int32_t)n);
            cell* blk = stack::push_cell();
            *blk = cell{TYPE_BLOCK, 0, (uint32_t)(uintptr_t)pairs, 0};
            map::extend(m, blk, false);
            cell made = *m;
            made.header |= new_line;
            append(parent, made);
            stack::arguments.top = top;
            return;
        }
        Node* node = memory::alloc_cells(n ? (int32_t)n : 1);
        collector::NodeRoot hold(node);
        cell made{(uint32_t)t | new_line, (uint32_t)head, (uint32_t)(uintptr_t)node, 0};
        int32_t idx = cell_count(parent);
        append(parent, made);
        for (uint32_t i = 0; i < n; i++) value(node);
        if (t == TYPE_HASH) {
            cell h = cells_of(parent)[idx];
            cell* held = stack::push(&h);
            hash::index_block(held);
            cells_of(parent)[idx] = *held;
            stack::pop(1);
        }
        return;
    }
    if (t == TYPE_IMAGE) {
        uint32_t w, h;
        if (compact) {
            w = number();
            h = number();
        } else {
            uint32_t size = word32();
            w = size & 0xFFFF;
            h = size >> 16;
        }
        if (!image_backend::size_fits(w, h) || (uint64_t)head > (uint64_t)w * h) invalid(at);
        uint64_t bytes = (uint64_t)w * h * 4;
        need(bytes);
        Node* record = image_backend::create_bitmap(w, h, w * 4, &data[p]);
        p += (size_t)bytes;
        cell made;
        image::make_at(&made, record, w, h);
        made.data1 = (uint32_t)head;
        made.header |= new_line;
        // Held as a cell, so a collection while appending keeps its bitmaps.
        collector::Root hold(made);
        append(parent, made);
        return;
    }
    uint8_t element = 0;
    if (t == TYPE_VECTOR) {
        if (compact) {
            uint8_t b = byte();
            element = b >> 2;
            unit = 1u << (b & 3);
        } else {
            element = 0;  // read after the length
        }
    }
    uint32_t n = number();
    if (t == TYPE_VECTOR && !compact) {
        uint32_t e = word32();
        if (e > 0xFF) invalid(at);
        element = (uint8_t)e;
    }
    if (is_text(t) && compact) {
        unit = 1u << (n & 3);
        n >>= 2;
    }
    if (t == TYPE_BINARY || t == TYPE_BITSET) unit = 1;
    if (unit != 1 && unit != 2 && unit != 4 && !(t == TYPE_VECTOR && unit == 8)) invalid(at);
    if (t == TYPE_VECTOR) {
        bool ok = ((element == TYPE_CHAR || element == TYPE_INTEGER) && unit <= 4) ||
                  ((element == TYPE_FLOAT || element == TYPE_PERCENT) && (unit == 4 || unit == 8));
        if (!ok) invalid(at);
    } else if (is_text(t) && unit == 3) {
        invalid(at);
    }
    uint64_t size = (uint64_t)n * unit;
    need(size);
    if (has_head && (uint32_t)head > n) invalid(at);
    if (is_text(t) && unit == 4)
        for (uint32_t i = 0; i < n; i++) {
            uint32_t cp;
            memcpy(&cp, &data[p + 4 * i], 4);
            if (cp > 0x10FFFF) invalid(at);
        }
    Node* node = memory::alloc_series(n ? (int32_t)n : 1, unit, 0);
    memory::Buffer* b = node->buffer;
    if (size) memcpy(b->head, &data[p], (size_t)size);
    b->tail = b->head + size;
    p += (size_t)size;
    if (!compact)
        while ((p - record) % 4) {
            need(1);
            p++;
        }
    cell made{(uint32_t)t | new_line, (uint32_t)head, (uint32_t)(uintptr_t)node, 0};
    if (t == TYPE_VECTOR) made.data3 = element;
    if (t == TYPE_BITSET) {
        made.data1 = 0;
        if (flag) memory::set_flag(node, memory::FLAG_COMPLEMENTED);
    }
    append(parent, made);
}

// A datatype! value may name any registered type (symbol! and context!
// included).
bool datatype_known(uint32_t id) {
    return id >= 1 && id < TYPE_SLOTS && datatype::type_names[id].name;
}

bool type_known(uint8_t t) {
    return t >= 1 && t <= TYPE_EVENT && t != TYPE_SYMBOL && t != TYPE_CONTEXT && t != TYPE_SERIES &&
           datatype::type_names[t].name;
}

// A type no codec carries raises that error; one the format lacks is invalid.
void Reader::check_type(uint8_t t) {
    if (no_codec_type(t)) {
        cell d;
        datatype::make_at(&d, t);
        raise_no_codec(&d);
    }
    if (!type_known(t)) invalid();
}

// A record written before: its path, then a copy of the value it leads to.
void Reader::reference_record(Node* parent, uint32_t new_line) {
    std::vector<uint32_t> path;
    read_path(path, false);
    cell c = resolve(path);
    c.header = (c.header & ~CELL_NEW_LINE) | new_line;
    append(parent, c);
}

void Reader::value(Node* parent) {
    if (++depth > MAX_DEPTH) invalid(p);
    Lead lead;
    if (compact ? compact_lead(parent, lead) : normal_lead(parent, lead)) record_body(parent, lead);
    depth--;
}

bool Reader::normal_lead(Node* parent, Lead& lead) {
    uint32_t h;
    for (;;) {
        record = p;
        h = word32();
        if ((h & 0xFF) != 0) break;  // padding words are skipped
    }
    lead.type = (uint8_t)h;
    lead.new_line = (h & H_NEW_LINE) ? CELL_NEW_LINE : 0;
    if (lead.type == H_REFERENCE) {
        reference_record(parent, lead.new_line);
        return false;
    }
    lead.seen = (h & H_SEEN) != 0;
    lead.global = (h & H_GLOBAL) != 0;
    uint32_t flag_bit = lead.type == TYPE_OBJECT ? H_HANDLERS : lead.type == TYPE_MONEY ? H_NEGATIVE : H_COMPLEMENTED;
    lead.flag = (h & flag_bit) != 0;
    lead.bits = (h >> 8) & 0xFF;
    return true;
}

bool Reader::compact_lead(Node* parent, Lead& lead) {
    uint32_t nl = 0;
    bool seen = false, define = false;
    uint8_t b;
    record = p;  // errors point at the record's first prefix
    for (;;) {
        b = byte();
        if (b == C_NEW_LINE) nl = CELL_NEW_LINE;
        else if (b == C_SEEN) seen = true;
        else if (b == C_DEFINE) define = true;
        else break;
    }
    if (b >= C_SMALL_INT && (seen || define)) invalid();
    if (b >= C_SMALL_INT && b < C_NEW_LINE) {
        cell c{TYPE_INTEGER | nl, 0, (uint32_t)(b - C_SMALL_INT), 0};
        append(parent, c);
        return false;
    }
    if (b == C_TRUE || b == C_FALSE) {
        cell c{TYPE_LOGIC | nl, b == C_TRUE ? 1u : 0u, 0, 0};
        append(parent, c);
        return false;
    }
    if (b == C_REFERENCE) {
        reference_record(parent, nl);
        return false;
    }
    if (b >= C_SMALL_INT) invalid();
    uint32_t id = b & 0x3F;
    bool flag = (b & C_FLAG) != 0;
    if (id == 63) id = varint();
    if (id == 0 || id > 255) invalid();
    uint8_t t = (uint8_t)id;
    if (define) {
        if (!boot || !is_word_type(t)) invalid();
        // The word and its value, then the assignment; neither stays.
        cell* top = stack::arguments.top;
        cell* holder = block::push_new(2);
        Node* hn = series::node_of(holder);
        word_record(hn, t, 0, !flag, false);
        value(hn);
        cell w = cells_of(hn)[0];
        cell v = cells_of(hn)[1];
        cell::clear_new_line(&v);
        cell* held = stack::push(&w);
        held->header = TYPE_WORD;
        word::set_in(held, &v);
        stack::arguments.top = top;
        return false;
    }
    bool keyed = is_word_type(t) || series::is_series(t) || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_HASH ||
                 t == TYPE_OBJECT || t == TYPE_FUNCTION;
    // An object written before carries no handlers.
    if (seen && (!keyed || t == TYPE_ISSUE || (is_word_type(t) && !flag) || (t == TYPE_OBJECT && flag))) invalid();
    lead.type = t;
    lead.new_line = nl;
    lead.seen = seen;
    lead.global = !flag;
    lead.flag = flag;
    lead.bits = 0;
    return true;
}

void Reader::record_body(Node* parent, const Lead& lead) {
    uint8_t t = lead.type;
    uint32_t nl = lead.new_line;
    check_type(t);
    cell c{(uint32_t)t | nl, 0, 0, 0};
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE:
            break;
        case TYPE_DATATYPE: {
            uint32_t id = number();
            if (!datatype_known(id)) invalid();
            c.data1 = id;
            break;
        }
        case TYPE_LOGIC:
            if (compact) invalid();  // compact logic! values are lead bytes of their own
            c.data1 = word32() ? 1 : 0;
            break;
        case TYPE_INTEGER:
            c.data2 = (uint32_t)signed_number();
            break;
        case TYPE_CHAR:
            c.data2 = number();
            if (c.data2 > 0x10FFFF) invalid();
            break;
        case TYPE_PAIR:
            c.data2 = (uint32_t)signed_number();
            c.data3 = (uint32_t)signed_number();
            break;
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            c.data1 = word32();
            c.data2 = word32();
            if (t == TYPE_POINT3D) c.data3 = word32();
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            if (!compact) {
                c.data3 = word32();
                c.data2 = word32();
            } else if (lead.flag) {
                int32_t n = unzigzag(varint());
                cell::set_float(&c, t == TYPE_PERCENT ? n / 100.0 : (double)n);
            } else {
                c.data2 = word32();
                c.data3 = word32();
            }
            break;
        case TYPE_TYPESET:
            if (!compact) {
                c.data1 = word32();
                c.data2 = word32();
                c.data3 = word32();
            } else {
                uint8_t n = byte();
                if (n > 12) invalid();
                need(n);
                memcpy(&c.data1, &data[p], n);
                p += n;
            }
            break;
        case TYPE_TUPLE: {
            // Normal mode: the count in the header and always 12 bytes;
            // compact: 3 bytes, or a count byte (flag) and that many.
            uint32_t n = !compact ? (lead.bits & 0xF) : lead.flag ? byte() : 3;
            if (n < 3 || n > 12) invalid();
            uint32_t size = compact ? n : 12;
            need(size);
            uint8_t bytes[12] = {0};
            memcpy(bytes, &data[p], size);
            p += size;
            tuple::make_at(&c, (int32_t)n, bytes);
            c.header |= nl;
            break;
        }
        case TYPE_DATE: {
            size_t at = p;
            c.data1 = word32();
            if (!compact) {
                c.data3 = word32();
                c.data2 = word32();
            } else if (lead.flag != date::has_time(c.data1)) {
                invalid(at);
            } else if (lead.flag) {
                c.data2 = word32();
                c.data3 = word32();
            }
            // Date arithmetic trusts its calendar fields and time range.
            if (!date::is_well_formed(&c)) invalid(at);
            break;
        }
        case TYPE_MONEY: {
            size_t at = p;
            need(12);
            memcpy(&c.data1, &data[p], 12);
            p += 12;
            if (lead.flag) c.header |= money::SIGN_MASK;
            // Money arithmetic trusts its digits and its currency index.
            if (!money::is_well_formed(&c)) invalid(at);
            break;
        }
        case TYPE_ISSUE:
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT:
            word_record(parent, t, nl, lead.global, lead.seen);
            return;
        case TYPE_OBJECT:
            object_record(Placement{parent, false, {}}, nl, lead.seen, lead.flag);
            return;
        case TYPE_FUNCTION:
            function_record(Placement{parent, false, {}}, nl, lead.seen);
            return;
        case TYPE_ERROR:
            error_record(parent, nl);
            return;
        case TYPE_NATIVE:
        case TYPE_ACTION:
            native_record(parent, t, nl);
            return;
        case TYPE_OP:
            op_record(parent, nl);
            return;
        default:
            if (series::is_series(t) || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_HASH) {
                series_record(parent, t, nl, lead.seen, compact ? 1 : lead.bits, lead.flag);
                return;
            }
            invalid();
    }
    append(parent, c);
}

[[noreturn]] void invalid_data(const uint8_t* data, uint32_t size) {
    if (booting) boot_failure("Error: Not a Zolbin file!", 0);
    cell* v = binary::load(data, size);
    cell copy = *v;
    error::raise(error::SCRIPT, "invalid-data", &copy);
}

// Reads the header and the symbol table, then the records into `out`.
void decode_into(const uint8_t* data, uint32_t size, Node* out, bool boot) {
    if (size < 8 || memcmp(data, "ZOLBIN", 6) != 0) invalid_data(data, size < 8 ? size : 8);
    uint8_t flags = data[7];
    Reader r;
    r.boot = boot;
    r.compact = (flags & FLAG_COMPACT) != 0;
    r.out = out;
    r.first_root = cell_count(out);
    if (flags & FLAG_COMPRESSED) {
        uint32_t n = 0;
        r.plain = crush::decompress(data + 8, size - 8, &n);
        if (!r.plain && booting) boot_failure("Error: Zolbin compressed data corrupted!", 0);
        if (!r.plain) invalid_data(data, size);
        r.data = r.plain;
        r.end = n;
    } else {
        r.copy.assign(data + 8, data + size);
        r.data = r.copy.data();
        r.end = r.copy.size();
    }
    r.bias = 8;
    if (!r.compact && r.end < 8) invalid_data(data, size);
    r.record = 0;
    r.number();  // root count: informational
    size_t at = r.p;
    uint32_t length = r.number();
    if (flags & FLAG_SYMBOLS) {
        size_t n_at = r.p;
        uint32_t n = r.number();
        size_t s_at = r.p;
        uint32_t s = r.number();
        if ((uint64_t)n * 4 > r.end - r.p) r.invalid(n_at);
        r.names_at = r.p;
        r.p += 4 * (size_t)n;
        if ((uint64_t)s > r.end - r.p || (n && (s == 0 || r.data[r.p + s - 1] != 0))) r.invalid(s_at);
        r.p += s;
        r.symbol_count = n;
        r.names_size = s;
        r.symbols.assign(n, 0);
        r.global_index.assign(n, -1);
    }
    if ((uint64_t)length > r.end - r.p) r.invalid(at);
    r.end = r.p + length;
    cell* top = stack::arguments.top;
    collector::NodeRoot hold(out);
    while (r.p < r.end) r.value(out);
    stack::arguments.top = top;
}

int32_t boot_base = -1;   // root block index of the first boot literal
int32_t boot_count = 0;

}  // namespace

// --- Interface ---------------------------------------------------------------------

cell* encode(const cell* value) { return encode_with(value, false); }
cell* encode_compact(const cell* value) { return encode_with(value, true); }

void decode(const uint8_t* data, uint32_t size, Node* out) { decode_into(data, size, out, false); }

cell* decode_value(const cell* payload) {
    cell p = *payload;
    collector::Root hold(p);
    if (p.type() != TYPE_BINARY) error::raise(error::SCRIPT, "invalid-data", &p);
    int32_t head = (int32_t)p.data1;
    memory::Buffer* b = series::buffer_of(&p);
    int32_t n = (int32_t)b->used_bytes() - head;
    if (head < 0 || n <= 10) error::raise(error::SCRIPT, "invalid-data", &p);
    std::vector<uint8_t> bytes(b->head + head, b->head + head + n);
    cell* result = block::push_new(1);
    Node* out = series::node_of(result);
    decode(bytes.data(), (uint32_t)bytes.size(), out);
    if (cell_count(out) == 1) *result = cells_of(out)[0];
    return result;
}

cell* encode_boot(const cell* definitions, const cell* roots) {
    cell defs = *definitions, list = *roots;
    std::vector<uint8_t> file;
    {
        Writer w(true);
        w.boot = true;
        Node* rn = series::node_of(&list);
        int32_t count = cell_count(rn);
        for (int32_t i = 0; i < count; i++) {
            const cell* c = cells_of(rn) + i;
            if (c->type() == TYPE_OBJECT) w.boot_roots[object::context_of(c)] = i;
            if (c->type() == TYPE_FUNCTION) w.boot_roots[function::context_of(c)] = i;
        }
        Node* dn = series::node_of(&defs);
        for (int32_t i = 0; i + 1 < cell_count(dn); i += 2) {
            cell name = cells_of(dn)[i];
            w.byte(C_DEFINE);
            name.header = (name.header & ~CELL_TYPE_MASK) | TYPE_WORD;
            name.data1 = 0;  // defined words are global
            w.value(&name, false);
            w.value(cells_of(dn) + i + 1, false);
            // A definition is no root and has no path: nothing later may
            // refer into it.
            w.seen.clear();
        }
        for (int32_t i = 0; i < count; i++) w.value(cells_of(rn) + i);
        file = finish(w, BOOT_VERSION, (uint32_t)count);
    }
    // Everything after the flags byte compressed, when that is smaller.
    std::vector<uint8_t> packed(file.size());
    int32_t n = crush::compress(file.data() + 8, (uint32_t)file.size() - 8, packed.data());
    if (n > 0) {
        file.resize(8 + (size_t)n);
        memcpy(file.data() + 8, packed.data(), (size_t)n);
        file[7] |= FLAG_COMPRESSED;
    }
    return binary::load(file.data(), (uint32_t)file.size());
}

void boot_load(const uint8_t* image, uint32_t size) {
    int32_t was = collector::enabled;
    collector::enabled = 0;
    if (size < 8 || memcmp(image, "ZOLBIN", 6) != 0) boot_failure("Error: Not a Zolbin file!", 0);
    Node* root = block::root;
    boot_base = cell_count(root);
    booting = true;
    try {
        decode_into(image, size, root, true);
    } catch (const sys::Throw&) {
        boot_failure("Error: the boot image does not load!", 0);
    }
    booting = false;
    boot_count = cell_count(root) - boot_base;
    // Kept for the reader of user data: the spec of every built-in callable.
    cell* keep = block::make_in(root, 256);
    built_ins = series::node_of(keep);
    Node* words = context::values_node(context::global);
    for (int32_t i = 0; i < cell_count(words); i++) {
        cell c = cells_of(words)[i];
        if (c.type() == TYPE_NATIVE || c.type() == TYPE_ACTION) block::append_cell_copy(built_ins, &c);
    }
    collector::enabled = was;
}

cell* literal_at(int32_t n) {
    if (boot_base < 0 || n < 0 || n >= boot_count) return nullptr;
    return cells_of(block::root) + boot_base + n;
}

int32_t literal_count() { return boot_count; }

}  // namespace zolbin
