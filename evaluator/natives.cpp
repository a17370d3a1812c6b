// The natives table and the making of the library's built-in callables.
// The natives themselves live in natives_<group>.cpp files; the ones not
// built yet stand in natives_pending.cpp.
#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/reader.h"
#include "evaluator/stack.h"
#include "datatypes/function.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/print.h"
#include "runtime/sys.h"
#include "runtime/tracked.h"

namespace natives {

Fn* table = nullptr;

namespace {

cell* cells_of(const cell* blk) { return block::cells_of(series::node_of(blk)); }
int32_t count_of(const cell* blk) { return block::total_cells(series::node_of(blk)); }

}  // namespace

cell* spec_section(cell* all, const char* name) {
    int32_t s = symbol::resolve(symbol::make(name));
    for (int32_t i = 0; i + 1 < count_of(all); i++) {
        cell* c = cells_of(all) + i;
        if (c->type() == TYPE_SET_WORD && symbol::resolve(word::symbol_of(c)) == s)
            return stack::push(c + 1);
    }
    sys::quit(1, 0);
}

namespace {

cell* section(cell* all, const char* name) { return spec_section(all, name); }

void set_global(const cell* w, const cell* value) {
    cell word = *w;
    word.header = TYPE_WORD;
    cell* held = stack::push(&word);
    word::set_in(held, value);
    stack::pop(1);
}

// Makes a native! or action! for each [name index spec] triple.
void define_all(cell* list, uint8_t type) {
    for (int32_t i = 0; i + 2 < count_of(list); i += 3) {
        cell name = cells_of(list)[i];
        cell index = cells_of(list)[i + 1];
        cell spec = cells_of(list)[i + 2];
        cell* top = stack::arguments.top;
        cell* n = stack::push(&name);
        cell* made = native::make_at_index(type, &spec, (int32_t)index.data2);
        set_global(n, made);
        stack::arguments.top = top;
    }
}

}  // namespace

void init() {
    static const Fn list[NATIVE_COUNT] = {
#define X(name, spelling) name,
        ZOL_NATIVES(X)
#undef X
    };
    if (!table) table = static_cast<Fn*>(sys::allocate_zeroed(sizeof(Fn) * TABLE_CAPACITY));
    for (uint32_t i = 0; i < NATIVE_COUNT; i++) table[i] = list[i];
}

void define_words(const char* text, size_t size) {
    cell* top = stack::arguments.top;
    // The datatype words and the logic words name their values.
    for (uint32_t t = 1; t <= datatype::top_type_id; t++) {
        if (!datatype::type_names[t].word) continue;
        cell dt;
        datatype::make_at(&dt, (uint8_t)t);
        set_global(datatype::type_names[t].word, &dt);
    }
    static const struct {
        const char* spelling;
        int value;  // 0 false, 1 true, 2 none
    } constants[] = {{"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}, {"on", 1}, {"off", 0}, {"none", 2}};
    for (auto& c : constants) {
        cell v;
        if (c.value == 2) none::make_at(&v);
        else logic::make_at(&v, c.value == 1);
        cell* w = stack::push_cell();
        word::make_at(symbol::make(c.spelling), w);
        set_global(w, &v);
        stack::pop(1);
    }

    cell* all = reader::load(text, size);
    define_all(section(all, "actions"), TYPE_ACTION);
    define_all(section(all, "natives"), TYPE_NATIVE);
    cell* ops = section(all, "ops");
    for (int32_t i = 0; i + 1 < count_of(ops); i += 2) {
        cell name = cells_of(ops)[i];
        cell source = cells_of(ops)[i + 1];
        cell* n = stack::push(&name);
        cell* op = stack::push_cell();
        cell* callable = stack::push(word::get_value(&source));
        op->header = TYPE_DATATYPE;
        op->data1 = TYPE_OP;
        op::make(op, callable, TYPE_OP);
        set_global(n, op);
        stack::pop(3);
    }
    register_routines(section(all, "routines"));
    stack::arguments.top = top;
}

void register_routines(const cell* routines_block) {
    cell* top = stack::arguments.top;
    cell* list = stack::push(routines_block);
    for (int32_t i = 0; i + 1 < count_of(list); i += 2) {
        cell name = cells_of(list)[i];
        cell spec = cells_of(list)[i + 1];
        const char* spelling = symbol::to_cstr(word::symbol_of(&name));
        routine::Body entry = routines::find(spelling);
        if (!entry) {
            sys::print({sys::PrintItem::String("*** No code for the routine "), sys::PrintItem::String(spelling),
                        sys::PrintItem::String("\n")});
            sys::quit(sys::RT_UNKNOWN, 0);
        }
        cell* n = stack::push(&name);
        cell* made = routine::make_compiled(&spec, nullptr, entry, 0, false);
        if (routines::is_hidden(spelling)) routines::keep_hidden(n, made);
        else set_global(n, made);
        stack::pop(2);
    }
    stack::arguments.top = top;
}

}  // namespace natives
