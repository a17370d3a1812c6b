// Contexts, words, the symbol actions and the built-in word tables, through
// the runtime calls and the action table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error_out.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/init.h"
#include "runtime/sys.h"
#include "runtime/words.h"
#include "datatypes/logic.h"
#include "datatypes/unset.h"
#include "tests/datatypes/text.h"

using namespace datatype;
using memory::Node;

namespace {

// Words made here do not go to root slots: the tests run after start-up.
class Words : public WindowTest {
protected:
    int32_t boot = 0;
    void SetUp() override {
        WindowTest::SetUp();
        boot = runtime::boot_flag;
        runtime::boot_flag = 0;
    }
    void TearDown() override {
        runtime::boot_flag = boot;
        WindowTest::TearDown();
    }

    // The script error a call raises (none when it returns).
    template <class F>
    error::Script raised(F f) {
        error::last_script = error::Script::none;
        int32_t code = sys::catch_level(sys::THROW_ERROR, f);
        sys::clear_throw();
        return code == sys::THROW_ERROR ? error::last_script : error::Script::none;
    }

    static cell word_of(uint8_t type, const char* spelling, Node* ctx = nullptr, int32_t index = -1) {
        cell w;
        return *word::make_cell(&w, type, ctx, symbol::make(spelling), index);
    }

    // A block! on the argument stack over a new series holding the cells.
    static cell* block_of(std::vector<cell> cells) {
        cell* b = stack::push_cell();
        *b = cell{TYPE_UNSET, 0, 0, 0};
        Node* n = memory::alloc_cells((int32_t)cells.size() + 1);
        memcpy(n->buffer->head, cells.data(), cells.size() * sizeof(cell));
        n->buffer->tail = n->buffer->head + cells.size() * sizeof(cell);
        return series::make_at(b, TYPE_BLOCK, n, 0);
    }
    static cell* block_cell(cell* block, int32_t i) {
        return reinterpret_cast<cell*>(series::buffer_of(block)->head) + i;
    }

    static std::string molded(cell* value) {
        TextOut t;
        get<A_MOLD>(value->type())(value, &t.out, false, false, false, nullptr, NO_LIMIT, 0);
        return t.text();
    }
    static std::string formed(cell* value) {
        TextOut t;
        get<A_FORM>(value->type())(value, &t.out, nullptr, NO_LIMIT);
        return t.text();
    }
    static std::string spelling(const cell* w) { return symbol::to_cstr(word::symbol_of(w)); }
};

cell integer(int32_t n) {
    cell c;
    return *series::make_integer(&c, n);
}

}  // namespace

TEST_F(Words, StartUpMadeTheGlobalContextAndTheTypeNameWords) {
    ASSERT_NE(context::global, nullptr);
    EXPECT_EQ(context::self_cell(context::global)->type(), TYPE_CONTEXT);
    EXPECT_EQ(hashtable::record(context::table_of(context::global))->buckets, 16384);
    EXPECT_EQ(context::kind_of(context::global), context::KIND_PLAIN);
    // datatype! is the first symbol of all.
    EXPECT_EQ(symbol::make("datatype!"), 1);
    for (uint32_t t = 1; t <= top_type_id; t++) {
        if (!type_names[t].name) continue;
        const cell* w = type_names[t].word;
        ASSERT_NE(w, nullptr) << t;
        EXPECT_EQ(w->type(), TYPE_WORD);
        EXPECT_EQ(word::context_of(w), context::global);
        EXPECT_EQ(spelling(w), type_names[t].name);
    }
    EXPECT_STREQ(type_names[TYPE_ISSUE].name, "issue!");
}

TEST_F(Words, BuiltInTablesAreSpelledAsTheRuntimeUsesThem) {
    struct Case { const cell* word; const char* spelling; };
    for (Case c : {Case{words::word_put_ed, "put-ed"}, Case{words::word_swaped, "swaped"},
                   Case{words::word_anon, "<anon>"}, Case{words::word_on_change, "on-change*"},
                   Case{words::word_throw_category, "throw"}, Case{words::word_applied, "<applied>"},
                   Case{words::global_bar, "|"}, Case{words::global_end, "end"}}) {
        ASSERT_NE(c.word, nullptr) << c.spelling;
        EXPECT_EQ(spelling(c.word), c.spelling);
        EXPECT_EQ(c.word->type(), TYPE_WORD);
        EXPECT_EQ(word::context_of(c.word), context::global);
    }
    EXPECT_EQ(symbol::to_cstr(words::sym_no_trace), std::string("no-trace"));
    EXPECT_EQ(symbol::to_cstr(words::sym_is_events), std::string("events?"));
    EXPECT_EQ(words::sym_money_code, words::sym_code);
    // `RETURN` in a spec is taken as `return`: comparisons use the canonical id.
    EXPECT_EQ(symbol::resolve(symbol::make("RETURN")), symbol::resolve(words::sym_return));
    EXPECT_EQ(words::refinement_local->type(), TYPE_REFINEMENT);
    EXPECT_EQ(words::refinement_local->data1, 0u);
    EXPECT_EQ(molded(words::refinement_with), "/with");
    EXPECT_EQ(molded(words::issue_ooo), "#ooo");
}

TEST_F(Words, ContextsAddFindAndBindIgnoringCase) {
    Node* ctx = context::make(0, false, false, nullptr, context::KIND_PLAIN);
    context::Hold hold(&ctx);
    EXPECT_EQ(context::word_count(ctx), 0);
    EXPECT_GE(context::values_node(ctx)->buffer->capacity, 16u);  // room for one word

    cell a = word_of(TYPE_WORD, "ctx-alpha"), big = word_of(TYPE_SET_WORD, "CTX-ALPHA");
    EXPECT_EQ(context::add_word(ctx, &a), 0);
    EXPECT_EQ(context::add_word(ctx, &big), 0);  // the same word by canonical symbol
    cell b = word_of(TYPE_WORD, "ctx-beta");
    EXPECT_EQ(context::add_word(ctx, &b), 1);
    EXPECT_EQ(context::word_count(ctx), 2);
    EXPECT_EQ(context::find_word(ctx, symbol::make("CTX-ALPHA"), true), 0);
    EXPECT_EQ(context::find_word(ctx, symbol::make("CTX-ALPHA"), false), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("ctx-gamma"), true), -1);
    // Growth keeps every word findable.
    for (int i = 0; i < 60; i++) {
        cell w = word_of(TYPE_WORD, ("ctx-many-" + std::to_string(i)).c_str());
        EXPECT_EQ(context::add_word(ctx, &w), i + 2);
    }
    for (int i = 0; i < 60; i++)
        EXPECT_EQ(context::find_word(ctx, symbol::make(("CTX-MANY-" + std::to_string(i)).c_str()), true), i + 2);
    EXPECT_EQ(context::value_cell_at(ctx, 61)->type(), TYPE_UNSET);

    // A block holding one word in two letter cases binds both to one index;
    // nested blocks are walked; issues and unknown words stay as they were.
    cell* inner = block_of({word_of(TYPE_GET_WORD, "Ctx-Beta")});
    cell* block = block_of({word_of(TYPE_WORD, "ctx-alpha"), word_of(TYPE_LIT_WORD, "CTX-ALPHA"), *inner,
                            word_of(TYPE_ISSUE, "ctx-beta"), word_of(TYPE_WORD, "ctx-other")});
    cell* again = block_cell(block, 2);
    *again = *block;  // the block inside itself: walked once
    block_cell(block, 2)[0] = *inner;
    cell* loop = block_of({*block});
    *block_cell(loop, 0) = *loop;
    context::bind_block(loop, ctx, false);
    context::bind_block(block, ctx, false);
    for (int32_t i : {0, 1}) {
        EXPECT_EQ(word::context_of(block_cell(block, i)), ctx);
        EXPECT_EQ(word::index_of_cell(block_cell(block, i)), 0);
    }
    EXPECT_EQ(word::index_of_cell(block_cell(inner, 0)), 1);
    EXPECT_EQ(word::context_of(block_cell(block, 3)), nullptr);
    EXPECT_EQ(word::index_of_cell(block_cell(block, 4)), -1);
}

TEST_F(Words, ContextsFromBlocksAndClones) {
    cell* spec = block_of({word_of(TYPE_WORD, "mk-a"), word_of(TYPE_SET_WORD, "mk-skip"),
                           word_of(TYPE_REFINEMENT, "mk-ref"), word_of(TYPE_ISSUE, "mk-issue"),
                           word_of(TYPE_LIT_WORD, "MK-A"), word_of(TYPE_GET_WORD, "mk-b"), integer(3)});
    Node* ctx = context::make_from_block(spec, false, false, context::KIND_OBJECT);
    context::Hold hold(&ctx);
    ASSERT_EQ(context::word_count(ctx), 3);
    EXPECT_EQ(context::values_node(ctx)->buffer->used_bytes(), 3 * sizeof(cell));
    for (int32_t i = 0; i < 3; i++) {
        cell* w = context::word_at(ctx, i);
        EXPECT_EQ(w->type(), TYPE_WORD);
        EXPECT_EQ(word::context_of(w), ctx);
        EXPECT_EQ(word::index_of_cell(w), i);
    }
    EXPECT_EQ(context::kind_of(ctx), context::KIND_OBJECT);

    // Set-words are collected on demand.
    cell* body = block_of({word_of(TYPE_SET_WORD, "mk-c"), integer(1), word_of(TYPE_SET_WORD, "mk-a")});
    EXPECT_TRUE(context::collect_set_words(ctx, body));
    EXPECT_FALSE(context::collect_set_words(ctx, body));
    EXPECT_EQ(context::word_count(ctx), 4);

    cell value = integer(42);
    cell w = word_of(TYPE_WORD, "mk-b");
    context::put_value(ctx, &w, &value);
    // A clone has the same words rebound to it and its own values.
    cell holder{TYPE_OBJECT, (uint32_t)(uintptr_t)ctx, 0, 0};
    cell* held = stack::push(&holder);
    Node* copy = context::clone(held, context::KIND_OBJECT);
    EXPECT_EQ(word::context_of(held), copy);
    EXPECT_NE(copy, ctx);
    ASSERT_EQ(context::word_count(copy), 4);
    for (int32_t i = 0; i < 4; i++) {
        EXPECT_EQ(word::context_of(context::word_at(copy, i)), copy);
        EXPECT_EQ(context::word_at(copy, i)->data2, context::word_at(ctx, i)->data2);
        EXPECT_EQ(context::value_cell_at(copy, i)->type(), TYPE_UNSET);
    }
    EXPECT_EQ(context::value_cell_at(ctx, 2)->data2, 42u);
    EXPECT_EQ(context::add_word_if_new(copy, &w, &value), nullptr);
    cell fresh = word_of(TYPE_WORD, "mk-fresh");
    cell* slot = context::add_word_if_new(copy, &fresh, &value);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->data2, 42u);
    EXPECT_EQ(context::word_count(copy), 5);
    EXPECT_EQ(context::word_count(ctx), 4);
}

TEST_F(Words, ReadingAndSettingWordsWithTheirErrors) {
    cell w;
    word::make_at(symbol::make("rw-value"), &w);
    EXPECT_EQ(word::context_of(&w), context::global);
    // An unset word cannot be read.
    EXPECT_EQ(raised([&] { word::get(&w); }), error::Script::no_value);
    cell v = integer(7);
    word::set_in(&w, &v);
    EXPECT_EQ(word::get(&w)->data2, 7u);
    // Any spelling of the word reads the same slot.
    cell other;
    word::make_at(symbol::make("RW-VALUE"), &other);
    EXPECT_EQ(word::get_value(&other)->data2, 7u);

    // word/set: the word in the window's first cell, the value after it.
    stack::arguments.top = stack::arguments.window;
    stack::push(&w);
    stack::push(&v)->data2 = 9;
    EXPECT_EQ(word::set()->data2, 9u);
    EXPECT_EQ(word::get_value(&w)->data2, 9u);
    stack::arguments.top = stack::arguments.window;
    stack::push(&w);
    stack::push(&unset::unset_cell);
    EXPECT_EQ(raised([] { word::set(); }), error::Script::need_value);
    EXPECT_EQ(word::get_value(&w)->data2, 9u);

    // Unbound words and words looked up at -1 read as no-value.
    cell loose = word_of(TYPE_REFINEMENT, "rw-loose");
    EXPECT_EQ(raised([&] { word::get_value(&loose); }), error::Script::no_value);
    cell at_minus = word_of(TYPE_WORD, "rw-value", context::global, -1);
    EXPECT_EQ(raised([&] { word::get_value(&at_minus); }), error::Script::no_value);
    // Setting one looks its index up (and writes it into the cell).
    word::set_in(&at_minus, &v);
    EXPECT_EQ(word::index_of_cell(&at_minus), word::index_of_cell(&w));
}

TEST_F(Words, ObjectFieldsCarryTheChangedMarkAndSelf) {
    Node* ctx = context::make(2, false, true, nullptr, context::KIND_OBJECT);
    context::Hold hold(&ctx);
    cell a = word_of(TYPE_WORD, "obj-a");
    context::add_word(ctx, &a);
    EXPECT_EQ(context::word_at(ctx, 0)->header & context::WORD_CHANGED, 0u);
    // Setting `b`, which the object lacks, adds it first.
    cell b = word_of(TYPE_SET_WORD, "obj-b", ctx, -1);
    cell v = integer(5);
    cell* slot = word::set_in_context(&b, &v, ctx, true);
    EXPECT_EQ(slot->data2, 5u);
    EXPECT_EQ(word::index_of_cell(&b), 1);
    EXPECT_EQ(context::word_count(ctx), 2);
    EXPECT_NE(context::word_at(ctx, 1)->header & context::WORD_CHANGED, 0u);
    EXPECT_EQ(context::word_at(ctx, 0)->header & context::WORD_CHANGED, 0u);
    // Reading does not mark; storing from the stack does.
    a = *context::word_at(ctx, 0);
    word::get_value(&a);
    EXPECT_EQ(context::word_at(ctx, 0)->header & context::WORD_CHANGED, 0u);
    stack::push(&v)->data2 = 6;
    context::store_last_at(ctx, 0);
    EXPECT_NE(context::word_at(ctx, 0)->header & context::WORD_CHANGED, 0u);
    EXPECT_EQ(context::value_cell_at(ctx, 0)->data2, 6u);
    stack::push(&v)->data2 = 8;
    context::store_last_at_push_old(ctx, 0);
    EXPECT_EQ(stack::get_top()->data2, 6u);
    EXPECT_EQ(context::value_cell_at(ctx, 0)->data2, 8u);

    // `self` left at -1 reads as the owner cell: the object itself.
    cell object{TYPE_OBJECT, (uint32_t)(uintptr_t)ctx, 1000001, 0};
    *context::owner(ctx) = object;
    cell* body = block_of({word_of(TYPE_WORD, "self"), word_of(TYPE_WORD, "obj-a")});
    context::bind_block(body, ctx, true);
    EXPECT_EQ(word::index_of_cell(block_cell(body, 0)), -1);
    cell self = *block_cell(body, 0);
    EXPECT_EQ(word::get_value(&self)->type(), TYPE_OBJECT);
    EXPECT_EQ(word::get_value(&self)->data2, 1000001u);

    // A handler record on the owner makes setting fire the object's seam.
    static int fired = 0;
    static uint32_t old_seen = 0, new_seen = 0;
    context::FireOnChange saved = context::fire_on_change;
    context::fire_on_change = [](cell*, cell*, cell* o, cell* n) { fired++, old_seen = o->data2, new_seen = n->data2; };
    context::owner(ctx)->data3 = 1;  // any non-zero handler node
    cell a0 = *context::word_at(ctx, 0);
    v.data2 = 11;
    word::set_in(&a0, &v);
    context::fire_on_change = saved;
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(old_seen, 8u);
    EXPECT_EQ(new_seen, 11u);
}

TEST_F(Words, FunctionContextsReadTheirValuesFromTheStack) {
    cell* spec = block_of({word_of(TYPE_WORD, "fn-x"), word_of(TYPE_REFINEMENT, "fn-only"),
                           word_of(TYPE_WORD, "fn-y")});
    Node* ctx = context::make_from_block(spec, true, false, context::KIND_FUNCTION);
    context::Hold hold(&ctx);
    EXPECT_TRUE(context::is_stack(ctx));
    EXPECT_EQ(context::kind_of(ctx), context::KIND_FUNCTION);
    cell x = *context::word_at(ctx, 0), y = *context::word_at(ctx, 2);
    cell v = integer(3);
    // Between calls there is nothing to read or set.
    EXPECT_EQ(raised([&] { word::get_value(&x); }), error::Script::not_in_context);
    EXPECT_EQ(raised([&] { word::set_in(&x, &v); }), error::Script::not_defined);
    EXPECT_EQ(raised([&] { word::get_local(ctx, 0); }), error::Script::not_defined);
    // During a call its values are the call's argument cells.
    cell* args = stack::push(&v);
    stack::push(&logic::true_cell);
    stack::push(&v)->data2 = 4;
    context::set_stack_values(ctx, args);
    EXPECT_EQ(word::get_value(&y)->data2, 4u);
    v.data2 = 30;
    word::set_in(&x, &v);
    EXPECT_EQ(args->data2, 30u);
    EXPECT_EQ(word::get_local(ctx, 2)->data2, 4u);
    // A stack-held context answers symbol lookups from the global context.
    EXPECT_EQ(context::get_symbol_value(ctx, symbol::make("datatype!")),
              context::global_value_at(symbol::make("datatype!")));
    context::set_stack_values(ctx, nullptr);
}

TEST_F(Words, GlobalCaseVariantsShareOneSlot) {
    cell* lower = context::add_global(symbol::make("gl-shared"), false, true);
    int32_t index = word::index_of_cell(lower);
    cell* upper = context::add_global(symbol::make("GL-SHARED"), false, true);
    EXPECT_EQ(spelling(upper), "GL-SHARED");
    EXPECT_EQ(word::index_of_cell(upper), index);
    // Canonical lookup with the spelling kept: the caller's spelling, same slot.
    runtime::boot_flag = 1;
    cell* kept = context::add_global(symbol::make("Gl-Shared"), true, true);
    runtime::boot_flag = 0;
    EXPECT_EQ(spelling(kept), "Gl-Shared");
    EXPECT_EQ(word::index_of_cell(kept), index);
    cell v = integer(12), w = *kept;
    word::set_in(&w, &v);
    cell out;
    context::copy_global_value(symbol::make("GL-SHARED"), &out);
    EXPECT_EQ(out.data2, 12u);
    EXPECT_EQ(context::global_value_at(symbol::make("gl-shared"))->data2, 12u);
    // While the boot flag is set, words land in root slots that stay put.
    runtime::boot_flag = 1;
    cell* rooted = word::load("gl-rooted");
    cell* global = context::get_global(symbol::make("gl-rooted-2"));
    runtime::boot_flag = 0;
    Node* root = word::root;
    for (cell* c : {rooted, global}) {
        EXPECT_GE((uint8_t*)c, root->buffer->head);
        EXPECT_LT((uint8_t*)c, root->buffer->tail);
    }
}

TEST_F(Words, ConversionsAndMolds) {
    cell a;
    word::make_at(symbol::make("conv-a"), &a);
    struct Case { uint8_t to; const char* mold; const char* form; };
    for (Case c : {Case{TYPE_WORD, "conv-a", "conv-a"}, Case{TYPE_SET_WORD, "conv-a:", "conv-a"},
                   Case{TYPE_LIT_WORD, "'conv-a", "conv-a"}, Case{TYPE_GET_WORD, ":conv-a", "conv-a"},
                   Case{TYPE_REFINEMENT, "/conv-a", "conv-a"}, Case{TYPE_ISSUE, "#conv-a", "conv-a"}}) {
        cell result;
        get<A_TO>(c.to)(&result, &a, c.to);
        EXPECT_EQ(result.type(), c.to);
        EXPECT_EQ(result.data2, a.data2);
        EXPECT_EQ(molded(&result), c.mold);
        EXPECT_EQ(formed(&result), c.form);
        // Back to word! keeps symbol and binding.
        cell back;
        get<A_TO>(TYPE_WORD)(&back, &result, TYPE_WORD);
        EXPECT_EQ(molded(&back), "conv-a");
        EXPECT_EQ(back.data1, result.data1);
    }
    // A mold keeps to its budget.
    TextOut t;
    EXPECT_EQ(get<A_MOLD>(TYPE_SET_WORD)(&a, &t.out, false, false, false, nullptr, 100, 0), 100 - 7);

    // From other types.
    cell result;
    cell dt;
    datatype::make_at(&dt, TYPE_LOGIC);
    get<A_TO>(TYPE_WORD)(&result, &dt, TYPE_WORD);
    EXPECT_EQ(molded(&result), "logic!");
    get<A_TO>(TYPE_WORD)(&result, &logic::true_cell, TYPE_WORD);
    EXPECT_EQ(molded(&result), "true");
    EXPECT_EQ(word::context_of(&result), context::global);

    struct Text { const char* text; uint8_t to; const char* mold; error::Script error; };
    const Text texts[] = {
        {"conv-text", TYPE_WORD, "conv-text", error::Script::none},
        {"  conv-b: ", TYPE_SET_WORD, "conv-b:", error::Script::none},
        {"'conv-c", TYPE_WORD, "conv-c", error::Script::none},
        {"12", TYPE_WORD, nullptr, error::Script::invalid_chars},
        {"a b", TYPE_WORD, nullptr, error::Script::invalid_chars},
        {"", TYPE_WORD, nullptr, error::Script::invalid_chars},
        {"12", TYPE_ISSUE, "#12", error::Script::none},
        {"conv-i", TYPE_ISSUE, "#conv-i", error::Script::none},
    };
    for (const Text& c : texts) {
        cell* s = string::push_new(8);
        string::concatenate_cstr(s, c.text);
        EXPECT_EQ(raised([&] { get<A_TO>(c.to)(&result, s, c.to); }), c.error) << c.text;
        if (c.mold) {
            EXPECT_EQ(molded(&result), c.mold) << c.text;
        }
    }
    cell n = integer(5);
    EXPECT_EQ(raised([&] { get<A_TO>(TYPE_WORD)(&result, &n, TYPE_WORD); }), error::Script::bad_to_arg);
    EXPECT_EQ(raised([&] { get<A_TO>(TYPE_ISSUE)(&result, &n, TYPE_ISSUE); }), error::Script::bad_to_arg);
    // An issue whose spelling is not a word does not become one.
    cell num_issue = word_of(TYPE_ISSUE, "123");
    EXPECT_EQ(raised([&] { get<A_TO>(TYPE_WORD)(&result, &num_issue, TYPE_WORD); }), error::Script::bad_to_arg);
    cell ch{TYPE_CHAR, 0, 'q', 0};
    get<A_TO>(TYPE_ISSUE)(&result, &ch, TYPE_ISSUE);
    EXPECT_EQ(molded(&result), "#q");
}

TEST_F(Words, ComparisonsAndIndex) {
    cell lower = word_of(TYPE_WORD, "abc", context::global, 0);
    cell upper = word_of(TYPE_WORD, "ABC", context::global, 0);
    cell lit = word_of(TYPE_LIT_WORD, "abc");
    cell set = word_of(TYPE_SET_WORD, "Abc");
    cell iss = word_of(TYPE_ISSUE, "abc");
    cell other = word_of(TYPE_WORD, "abd");
    cell n = integer(1);
    struct Case { cell* a; cell* b; int32_t op; int32_t expected; };
    const Case cases[] = {
        {&lower, &upper, OP_EQUAL, 0},         {&lower, &upper, OP_STRICT_EQUAL, 1},
        {&lower, &lower, OP_STRICT_EQUAL, 0},  {&lower, &set, OP_EQUAL, 0},
        {&lower, &lit, OP_STRICT_EQUAL, 1},    {&lower, &lit, OP_STRICT_WORD, 0},
        {&lower, &set, OP_STRICT_WORD, 1},     {&lower, &upper, OP_SAME, 1},
        {&lower, &lit, OP_SAME, 1},            {&lower, &lower, OP_SAME, 0},
        {&lower, &set, OP_WORD, 1},            {&lower, &lit, OP_WORD, 0},
        {&lower, &other, OP_EQUAL, 1},         {&lower, &other, OP_LESSER, -1},
        {&other, &upper, OP_LESSER, 1},        {&lower, &iss, OP_EQUAL, NOT_COMPARABLE},
        {&iss, &lower, OP_EQUAL, NOT_COMPARABLE}, {&iss, &iss, OP_EQUAL, 0},
        {&lower, &n, OP_EQUAL, NOT_COMPARABLE},
    };
    for (const Case& c : cases) {
        int32_t r = get<A_COMPARE>(c.a->type())(c.a, c.b, c.op);
        EXPECT_EQ(r < 0 ? (r == NOT_COMPARABLE ? r : -1) : (r > 0 ? 1 : 0), c.expected)
            << spelling(c.a) << " " << spelling(c.b) << " op " << c.op;
    }

    // symbol! compares by spelling, case ignored unless strict.
    cell* a = symbol::get(symbol::make("abc"));
    cell ra = *a;
    cell* b = symbol::get(symbol::make("ABC"));
    cell rb = *b;
    EXPECT_EQ(get<A_COMPARE>(TYPE_SYMBOL)(symbol::record(symbol::make("abc")), &rb, OP_EQUAL), 0);
    EXPECT_NE(get<A_COMPARE>(TYPE_SYMBOL)(&ra, &rb, OP_STRICT_EQUAL), 0);

    // index? of a bound word is one-based; -1 gives none.
    stack::push(&lower)->data3 = 4;
    EXPECT_EQ(get<A_INDEX_OF>(TYPE_WORD)()->data2, 5u);
    stack::arguments.top = stack::arguments.window;
    stack::push(&lit);
    EXPECT_EQ(get<A_INDEX_OF>(TYPE_LIT_WORD)()->type(), TYPE_NONE);
}

TEST_F(Words, SymbolsFromStringsAndTheirSpellingStrings) {
    cell* s = string::push_new(8);
    string::concatenate_cstr(s, "sym-from-text");
    s->data1 = 4;  // from the head on
    int32_t id = symbol::make_from_string(s);
    EXPECT_EQ(id, symbol::make("from-text"));
    EXPECT_EQ(symbol::record(id)->data2, 0u);
    Node* text = symbol::string_of(id);
    EXPECT_EQ(symbol::get(id)->data2, (uint32_t)(uintptr_t)text);
    EXPECT_EQ(symbol::string_of(id), text);  // made once
    cell w = word_of(TYPE_WORD, "from-text");
    cell* str = word::to_string(&w);
    EXPECT_EQ(series::node_of(str), text);
    // Spellings beyond Latin-1 come back whole.
    cell u = word_of(TYPE_WORD, "\xE5\x8D\x95\xE8\xAF\x8D");
    EXPECT_EQ(formed(&u), "\xE5\x8D\x95\xE8\xAF\x8D");
}
