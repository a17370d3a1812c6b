#include "datatypes/symbol.h"

#include <gtest/gtest.h>

#include "runtime/collector.h"

#include <cstring>
#include <string>

#include "runtime/hashtable.h"

TEST(Symbol, StartUpMadeTheTableOverTheSymbolBlock) {
    ASSERT_NE(symbol::table, nullptr);
    const hashtable::Table* t = hashtable::record(symbol::table);
    EXPECT_EQ(t->kind, hashtable::KIND_SYMBOLS);
    EXPECT_GE(t->buckets, 16384);
    EXPECT_EQ(t->data, symbol::block());
    EXPECT_GE(symbol::block()->buffer->capacity, (uint32_t)symbol::BLOCK_CELLS * 16);
}

TEST(Symbol, InternsOnceAndLinksCaseVariantsToTheCanonicalId) {
    int32_t before = symbol::count();
    int32_t a = symbol::make("sym-test-word");
    EXPECT_EQ(symbol::make("sym-test-word"), a);
    int32_t b = symbol::make("SYM-TEST-WORD");
    int32_t c = symbol::make("Sym-Test-Word");
    EXPECT_EQ(symbol::count(), before + 3);
    EXPECT_NE(b, a);
    EXPECT_EQ(symbol::alias_of(a), -1);
    EXPECT_EQ(symbol::alias_of(b), a);
    EXPECT_EQ(symbol::alias_of(c), a);
    for (int32_t id : {a, b, c}) EXPECT_EQ(symbol::resolve(id), a);
    EXPECT_STREQ(symbol::to_cstr(c), "Sym-Test-Word");
    // The cased form answers any existing variant and adds nothing.
    EXPECT_EQ(symbol::make_cased("SYM-test-WORD"), a);
    EXPECT_EQ(symbol::count(), before + 3);
    int32_t fresh = symbol::make_cased("Sym-Cased-New");
    EXPECT_EQ(symbol::alias_of(fresh), -1);
    // Letter case beyond ASCII is not folded: two canonical symbols.
    int32_t upper = symbol::make("caf\xC3\x89"), lower = symbol::make("caf\xC3\xA9");
    EXPECT_EQ(symbol::resolve(upper), upper);
    EXPECT_EQ(symbol::resolve(lower), lower);
    // The record keeps a NUL past the tail of its spelling.
    cell* r = symbol::record(a);
    EXPECT_EQ(r->type(), TYPE_SYMBOL);
    EXPECT_EQ(r->data2, 0u);
    EXPECT_EQ(symbol::length(a), 13u);
}

TEST(Symbol, LongSpellingsInternAndReadBack) {
    struct Case { size_t length; };
    for (Case k : {Case{255}, Case{256}, Case{300}, Case{1000}}) {
        std::string s(k.length, 'x');
        s += std::to_string(k.length);
        int32_t id = symbol::make(s.c_str());
        EXPECT_EQ(symbol::make(s.c_str()), id);
        std::string upper = s;
        upper[0] = 'X';
        int32_t variant = symbol::make(upper.c_str());
        EXPECT_EQ(symbol::resolve(variant), id);
        EXPECT_EQ(std::string(symbol::to_cstr(id)), s);
        EXPECT_EQ(std::string(symbol::to_cstr(variant)), upper);
    }
    // A spelling whose series is exactly full gets a byte reserved for the NUL.
    std::string s(15, 'f');
    int32_t id = symbol::make(s.c_str());
    memory::Node* text = reinterpret_cast<memory::Node*>((uintptr_t)symbol::record(id)->data3);
    collector::NodeRoot text_root(text);
    text->buffer->tail = text->buffer->head + 16;  // fill it to the last byte
    text->buffer->head[15] = 'g';
    EXPECT_EQ(std::string(symbol::to_cstr(id)), s + "g");
    text = reinterpret_cast<memory::Node*>((uintptr_t)symbol::record(id)->data3);
    EXPECT_EQ(text->buffer->used_bytes(), 16u);
    text->buffer->tail--;  // back to its spelling
}
