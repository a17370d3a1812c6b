// Zolbin byte formats: what each mode writes, byte for byte, and what the
// reader refuses. Round trips of values are the Zol table's (zolbin.zol).
#include "evaluator/zolbin.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "runtime/boot_image.h"
#include "runtime/init.h"
#include "datatypes/series.h"
#include "tests/evaluator/eval.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

Bytes unhex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            i++;
            continue;
        }
        out.push_back((uint8_t)std::stoul(text.substr(i, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

class Zolbin : public EvalTest {
protected:
    // The bytes the encoder writes for the value of the Zol expression.
    std::string encoded(const std::string& code, bool compact) {
        cell* top = stack::arguments.top;
        std::string out;
        cell* e = interpreter::catch_error([&] {
            cell* src = reader::load(code.data(), code.size());
            cell* v = interpreter::do_block(src);
            cell value = *v;
            cell* bin = compact ? zolbin::encode_compact(&value) : zolbin::encode(&value);
            memory::Buffer* b = series::buffer_of(bin);
            out = hex(Bytes(b->head + bin->data1, b->tail));
        });
        if (e) out = "error " + spell(error::get_type(e)) + "/" + spell(error::get_id(e));
        stack::arguments.top = top;
        return out;
    }
    // The records after a compact header without symbols (16 bytes of [x]
    // less the block's own two bytes).
    std::string compact_record(const std::string& code) {
        std::string all = encoded("append/only copy [] " + code, true);
        return all.substr(2 * 12);  // magic, version, flags, root count, L, block!, count
    }
    // "ok N" (the roots decoded) or the error's "category/id arg1".
    std::string decoded(const Bytes& data) {
        cell* top = stack::arguments.top;
        std::string out;
        cell* e = interpreter::catch_error([&] {
            cell* blk = block::push_new(1);
            zolbin::decode(data.data(), (uint32_t)data.size(), series::node_of(blk));
            out = "ok " + mold(blk);
        });
        if (e) {
            cell a = *error::field(e, error::F_ARG1);
            out = spell(error::get_type(e)) + "/" + spell(error::get_id(e));
            if (a.type() == TYPE_INTEGER) out += " " + std::to_string((int32_t)a.data2);
        }
        stack::arguments.top = top;
        return out;
    }
};

TEST_F(Zolbin, NormalModeBlockOfIntegerAndString) {
    EXPECT_EQ(encoded("[1 \"a\"]", false),
              "5A4F4C42494E0200" "01000000" "24000000" "05000000" "00000000" "02000000" "0B000000"
              "01000000" "07010000" "00000000" "01000000" "61000000");
}

TEST_F(Zolbin, CompactModeBlockOfIntegerAndString) {
    EXPECT_EQ(encoded("[1 \"a\"]", true), "5A4F4C42494E0201010605028107" "0461");
}

TEST_F(Zolbin, CompactScalarForms) {
    struct {
        const char* code;
        const char* record;
    } cases[] = {
        {"0", "80"},         {"63", "BF"},        {"64", "0B8001"},    {"-1", "0B01"},
        {"true", "C2"},      {"false", "C3"},     {"1.0", "4C02"},     {"0.5", "0C000000000000E03F"},
        {"-0.0", "0C0000000000000080"},           {"50%", "6664"},     {"1.2.3", "27010203"},
        {"1.2.3.4", "670401020304"},              {"#\"a\"", "0A61"},  {"10x-3", "251405"},
        {"none", "03"},      {"integer!", "010B"}, {"1:00:00", "6BA038"},
    };
    for (auto& c : cases) EXPECT_EQ(compact_record(c.code), c.record) << c.code;
}

TEST_F(Zolbin, CompactSeriesHeadsAndTextUnits) {
    // A series at head 0 has no head varint; text carries its unit in the
    // length's low bits.
    EXPECT_EQ(compact_record("next [1 2]"), "45010281" "82");
    EXPECT_EQ(compact_record("\"\u20AC\""), "0705AC20");
    EXPECT_EQ(compact_record("#{0102}"), "29020102");
}

TEST_F(Zolbin, NormalModeFloatsStartOnEightBytes) {
    // Block header, head and count take 12 bytes: a padding word comes first.
    EXPECT_EQ(encoded("[1.0]", false).substr(2 * 16),
              "05000000" "00000000" "01000000" "00000000" "0C000000" "0000F03F" "00000000");
}

TEST_F(Zolbin, SharedSeriesAreReferences) {
    // [b b]: the second is a header with bit 19, its head, and the path [0 0].
    EXPECT_EQ(encoded("b: [1] r: copy [] append/only r b append/only r b r", false).substr(2 * 16),
              "05000000" "00000000" "02000000"
              "05000000" "00000000" "01000000" "0B000000" "01000000"
              "05000800" "00000000" "FF000000" "02000000" "00000000" "00000000");
    EXPECT_EQ(encoded("b: [1] r: copy [] append/only r b append/only r b r", true),
              "5A4F4C42494E0201010A" "0502" "050181" "C105020000");
}

TEST_F(Zolbin, SymbolTableOfGlobalWords) {
    // Normal mode: N, S, offsets, names padded to 8; the word: bit 25.
    // (The word's index in the global context follows.)
    EXPECT_EQ(encoded("[a]", false).substr(2 * 8, 2 * 48),
              "01000000" "18000000" "01000000" "08000000" "00000000" "6100000000000000"
              "05000000" "00000000" "01000000" "0F000002" "00000000");
    // Compact: N, S, offsets, names unpadded.
    EXPECT_EQ(encoded("[a]", true), "5A4F4C42494E0205" "01" "04" "01" "02" "00000000" "6100" "05010F00");
}

TEST_F(Zolbin, WhatTheEncoderRefuses) {
    EXPECT_EQ(encoded(":quit-return", true), "error access/no-codec");
    EXPECT_EQ(encoded(":quit-return", false), "error access/no-codec");
}

TEST_F(Zolbin, ReaderErrorsCarryTheOffset) {
    struct {
        const char* data;
        const char* result;
    } cases[] = {
        {"5A4F4C42494E 02 01 01 06 05 02 81 07 04 61", "ok [[1 \"a\"]]"},
        {"5A4F4C42494F 02 01 01 06 05 02 81 07 04 61", "script/invalid-data"},
        {"5A4F4C42494E 02 01 01 04 05 02 81 07", "script/rb-invalid-record 15"},
        {"5A4F4C42494E 02 01 01 02 0D 00", "script/rb-invalid-record 11"},
        {"5A4F4C42494E 02 01 01 02 37 00", "script/rb-invalid-record 11"},
        {"5A4F4C42494E 02 01 01 02 C5 00", "script/rb-invalid-record 11"},
        {"5A4F4C42494E 02 01 01 03 FF 01 05", "script/rb-invalid-record 11"},
        {"5A4F4C42494E 02 01 01 06 0B FF FF FF FF 7F", "script/rb-invalid-record 12"},
        {"5A4F4C42494E 02 01 01 03 05 7F 80", "script/rb-invalid-record 12"},
        {"5A4F4C42494E 02 05 01 02 01 02 00000000 6100 0F05", "script/rb-invalid-record 19"},
        {"5A4F4C42494E 02 05 01 02 01 02 00000000 6161 0F00", "script/rb-invalid-record 12"},
        {"5A4F4C42494E 02 01 01 02 15 00", "script/rb-invalid-record 12"},
        {"5A4F4C42494E 02 01 01 02 C4 0F", "script/rb-invalid-record 11"},
        {"5A4F4C42494E 02 01 01 02 1D 00", "access/no-codec"},
        // Normal mode: L beyond the data, a string unit of 3.
        {"5A4F4C42494E 02 00 01000000 40000000 05000000", "script/rb-invalid-record 13"},
        {"5A4F4C42494E 02 00 01000000 0C000000 07030000 00000000 01000000",
         "script/rb-invalid-record 17"},
    };
    for (auto& c : cases) EXPECT_EQ(decoded(unhex(c.data)), c.result) << c.data;
}

// Every value the reader made stays reachable until it returns: under the
// stress collector (a collection at every allocation here) a value held only
// by the reader while a block grows is freed, and molding it faults.
TEST_F(Zolbin, DecodedValuesStayRootedWhileTheReaderAllocates) {
    struct {
        const char* data;
        const char* result;
    } cases[] = {
        // two strings, as two roots
        {"5A4F4C42494E 02 00 02000000 20000000 07010000 00000000 01000000 61000000"
         " 07010000 00000000 01000000 62000000",
         "ok [\"a\" \"b\"]"},
        // a block, then an empty string
        {"5A4F4C42494E 02 00 02000000 18000000 05000000 00000000 00000000 07010000 00000000 00000000",
         "ok [[] \"\"]"},
        // a block holding a bitset
        {"5A4F4C42494E 02 00 01000000 24000000 05000000 00000000 01000000 1E000000 0D000000"
         " 00000000 00000000 00000000 40000000",
         "ok [[make bitset! #{00000000000000000000000040}]]"},
    };
#ifdef ZOL_GC_STRESS
    uint32_t period = memory::stress_period;
    memory::stress_period = 1;
#endif
    for (auto& c : cases) EXPECT_EQ(decoded(unhex(c.data)), c.result) << c.data;
#ifdef ZOL_GC_STRESS
    memory::stress_period = period;
#endif
}

TEST_F(Zolbin, DeepNestingIsAnErrorNotAStackOverflow) {
    Bytes data = unhex("5A4F4C42494E 02 01 01");
    Bytes records;
    for (int i = 0; i < 5000; i++) records.insert(records.end(), {0x05, 0x01});
    records.push_back(0x80);
    // L as a varint.
    uint32_t n = (uint32_t)records.size();
    while (n >= 0x80) data.push_back((uint8_t)(n | 0x80)), n >>= 7;
    data.push_back((uint8_t)n);
    data.insert(data.end(), records.begin(), records.end());
    EXPECT_EQ(decoded(data).substr(0, 24), "script/rb-invalid-record");
}

TEST_F(Zolbin, NestedObjectsBeyondTheHeldContexts) {
    // 40 objects each holding the next (a fuzzer's find: every context
    // under construction was held to the end of its record).
    Bytes records;
    for (int i = 0; i < 40; i++) records.insert(records.end(), {0x20, 0x00, 0x0E, 0x12, 0x01, 0x00});
    records.push_back(0x81);
    Bytes data = unhex("5A4F4C42494E 02 05 01");
    data.push_back((uint8_t)(records.size() | 0x80));
    data.push_back((uint8_t)(records.size() >> 7));
    for (uint8_t b : unhex("01 02 00000000 6100")) data.push_back(b);
    data.insert(data.end(), records.begin(), records.end());
    EXPECT_EQ(decoded(data).substr(0, 24), "ok [make object! [\n    a");
}

TEST_F(Zolbin, PathsStartAtThisCallsFirstValue) {
    // A reference [0 0] means the first value of this decode, whatever the
    // output block held before.
    Bytes data = unhex(encoded("b: [1] r: copy [] append/only r b append/only r b r", true));
    cell* top = stack::arguments.top;
    cell* e = interpreter::catch_error([&] {
        cell* blk = block::push_new(4);
        series::make_integer(block::alloc_tail(series::node_of(blk)), 99);
        zolbin::decode(data.data(), (uint32_t)data.size(), series::node_of(blk));
        EXPECT_EQ(mold(blk), "[99 [[1] [1]]]");
    });
    EXPECT_EQ(e, nullptr);
    stack::arguments.top = top;
}

}  // namespace

namespace {

TEST_F(Zolbin, TheEmbeddedImage) {
    // Compact, compressed, with symbols; version 1.
    ASSERT_GT(boot_image::size, 8u);
    EXPECT_EQ(std::string((const char*)boot_image::data, 6), "ZOLBIN");
    EXPECT_EQ(boot_image::data[6], 1);
    EXPECT_EQ(boot_image::data[7], 7);
    // Its literals: the catalog, the routines, then code blocks.
    ASSERT_GE(zolbin::literal_count(), 2);
    EXPECT_EQ(zolbin::literal_at(runtime::BOOT_CATALOG)->type(), TYPE_OBJECT);
    EXPECT_EQ(object::context_of(zolbin::literal_at(runtime::BOOT_CATALOG)), error::catalog_node);
    EXPECT_EQ(zolbin::literal_at(runtime::BOOT_ROUTINES)->type(), TYPE_BLOCK);
    for (int32_t i = runtime::BOOT_CODE; i < zolbin::literal_count(); i++)
        EXPECT_EQ(zolbin::literal_at(i)->type(), TYPE_BLOCK);
    EXPECT_EQ(zolbin::literal_at(zolbin::literal_count()), nullptr);
}

}  // namespace
