// char!: conversions from text, numbers and bytes with their range errors, forming, molding
// through the string escape routine, comparison with char! and integer!, and arithmetic that
// stays a char! or raises overflow.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/char.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov {
namespace {

using testing::unwind_code;

class CharValue : public testing::RuntimeTest {};

template <class F> uint32_t raised(F body) {
    CallFrame* frame = stack::frame_top;
    stack::mark_try(nullptr);
    uint32_t code = unwind_code(body);
    if (!code) stack::frame_top = frame;
    return code;
}

std::string error_id(uint32_t code) {
    if (code != THROW_ERROR) return "(none)";
    Cell* err = stack::top_value();
    return error::category_word(err) + " " + error::id_word(err);
}

Cell* text(std::string_view utf8) {
    return string::load(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                        nullptr, string::ENCODING_UTF8);
}

Cell* bytes(std::string_view b) {
    Handle node = memory::make_bytes(uint32_t(b.size()) + 1);
    SeriesBuffer* buf = memory::buffer_of(node);
    std::memcpy(buf->tail_ptr(), b.data(), b.size());
    buf->tail += uint32_t(b.size());
    Cell c{T_BINARY, 0, node, 0};
    return stack::push(&c);
}

Cell ch(uint32_t cp) { return character::make_cell(cp); }

TEST_F(CharValue, ConversionsAndTheirRangeErrors) {
    struct Row {
        const char* what;
        Cell* spec;
        int64_t expected;  // the code point, or -1 when an error is expected
        const char* error;
    };
    Cell* empty = text("");
    Cell* xyz = text("xyz");
    Cell* tail = text("ab");
    tail->data1 = 2;
    Cell* wide = text("\xf0\x9f\x98\x80!");
    Cell* url = text("u");
    url->header = T_URL;
    auto push = [](Cell c) { return stack::push(&c); };
    const Row rows[] = {
        {"last code point", push(cells::make_integer(0x10FFFF)), 0x10FFFF, nullptr},
        {"past the last", push(cells::make_integer(0x110000)), -1, "script out-of-range"},
        {"negative", push(cells::make_integer(-1)), -1, "script out-of-range"},
        {"char", push(ch('q')), 'q', nullptr},
        {"float truncated", push(cells::make_float(65.9)), 'A', nullptr},
        {"small negative float", push(cells::make_float(-0.5)), 0, nullptr},
        {"float too big", push(cells::make_float(1114112.0)), -1, "script out-of-range"},
        {"float NaN", push(cells::make_float(NAN)), -1, "script out-of-range"},
        {"percent", push(cells::make_float(66.2, T_PERCENT)), 'B', nullptr},
        {"text", xyz, 'x', nullptr},
        {"astral text", wide, 0x1F600, nullptr},
        {"url", url, 'u', nullptr},
        {"empty text", empty, -1, "script bad-to-arg"},
        {"text at its tail", tail, -1, "script bad-to-arg"},
        {"utf-8 bytes", bytes("\xc3\xa9z"), 0xE9, nullptr},
        {"ascii byte", bytes("A"), 'A', nullptr},
        {"invalid bytes", bytes("\xc3("), 0xFFFE, nullptr},
        {"none", push(cells::make_none()), -1, "script bad-to-arg"},
    };
    for (const Row& r : rows) {
        Cell result{};
        uint32_t code = raised([&] { result = *character::make(nullptr, r.spec, T_CHAR); });
        if (r.expected < 0) {
            EXPECT_EQ(error_id(code), r.error) << r.what;
        } else {
            ASSERT_EQ(code, 0u) << r.what << ": " << error_id(code);
            EXPECT_TRUE(result.is(T_CHAR)) << r.what;
            EXPECT_EQ(result.data2, uint32_t(r.expected)) << r.what;
        }
    }
}

TEST_F(CharValue, FormAndMold) {
    struct Row {
        uint32_t cp;
        bool all;
        std::string mold;
    };
    const Row rows[] = {
        {'a', false, "#\"a\""},          {'\n', false, "#\"^/\""},
        {'\t', false, "#\"^-\""},        {0, false, "#\"^@\""},
        {'^', false, "#\"^^\""},         {'"', false, "#\"^\"\""},
        {127, false, "#\"^~\""},         {30, false, "#\"^(1E)\""},
        {27, false, "#\"^[\""},          {0x80, false, "#\"^(80)\""},
        {0x9F, false, "#\"^(9F)\""},     {0xE9, false, "#\"\xc3\xa9\""},
        {0xE9, true, "#\"^(E9)\""},      {0x10FFFF, true, "#\"^(10FFFF)\""},
        {'{', false, "#\"{\""},          {0x416, false, "#\"\xd0\x96\""},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell c = ch(r.cp);
        Cell* out = stack::push_slot();
        string::ks_make_at(out, 8);
        EXPECT_EQ(character::mold(&c, out, false, r.all, false, false, 100, 0), 96);
        EXPECT_EQ(string::to_utf8(out), r.mold) << std::hex << r.cp;
        Cell* formed = stack::push_slot();
        string::ks_make_at(formed, 8);
        EXPECT_EQ(character::form(&c, formed, false, 10), 9);
        EXPECT_EQ(string::char_count(formed), 1u);
        EXPECT_EQ(string::char_at(formed, 0), r.cp);
        keep.restore();
    }
}

TEST_F(CharValue, CompareWithCharsAndIntegers) {
    Cell a = ch('a'), b = ch('b');
    Cell n97 = cells::make_integer(97);
    Cell* s = text("b");
    EXPECT_EQ(character::compare(&a, &n97, COMP_EQUAL), 0);
    EXPECT_EQ(character::compare(&a, &n97, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(character::compare(&a, &n97, COMP_FIND), 1);
    EXPECT_EQ(character::compare(&a, &b, COMP_LESSER), -1);
    EXPECT_EQ(character::compare(&b, &a, COMP_SORT), 1);
    EXPECT_EQ(character::compare(&a, &a, COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(character::compare(&a, s, COMP_LESSER), NOT_COMPARABLE);
    // Case matters: #"a" and #"A" are different numbers.
    Cell upper = ch('A');
    EXPECT_EQ(character::compare(&a, &upper, COMP_EQUAL), 1);
}

TEST_F(CharValue, ArithmeticStaysACharOrRaises) {
    struct Row {
        uint32_t a;
        Cell b;
        int op;
        int64_t expected;  // -1: error
        const char* error;
    };
    const Row rows[] = {
        {'a', cells::make_integer(1), OP_ADD, 'b', nullptr},
        {'a', ch(1), OP_ADD, 'b', nullptr},
        {'a', cells::make_float(1.7), OP_ADD, 'b', nullptr},
        {'b', cells::make_integer(1), OP_SUB, 'a', nullptr},
        {'a', cells::make_integer(98), OP_SUB, -1, "math overflow"},
        {0x10FFFF, cells::make_integer(1), OP_ADD, -1, "math overflow"},
        {0x10FFFF, cells::make_integer(0x7FFFFFFF), OP_ADD, -1, "math overflow"},
        {0x10000, cells::make_integer(0x10000), OP_MUL, -1, "math overflow"},
        {'!', cells::make_integer(2), OP_MUL, 'B', nullptr},
        {'d', cells::make_integer(3), OP_DIV, '!', nullptr},
        {'d', cells::make_integer(0), OP_DIV, -1, "math zero-divide"},
        {'d', cells::make_integer(7), OP_REM, 2, nullptr},
        {'d', cells::make_integer(0), OP_REM, -1, "math zero-divide"},
        {'a', cells::make_integer(0x20), OP_XOR, 'A', nullptr},
        {'A', cells::make_integer(0x20), OP_OR, 'a', nullptr},
        {'a', cells::make_integer(0x5F), OP_AND, 'A', nullptr},
        {'a', cells::make_float(1e12), OP_ADD, -1, "math overflow"},
        {'a', cells::make_none(), OP_ADD, -1, "script invalid-type"},
        {'a', Cell{T_VECTOR, 0, 0, 0}, OP_ADD, -1, "internal not-done"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        // A frame of two operands: argument 0 the char!, argument 1 the other value.
        Cell* base = stack::push_slot();
        *base = ch(r.a);
        stack::push(&r.b);
        Cell* saved = nullptr;
        uint32_t code = raised([&] {
            saved = stack::arguments;  // the try frame's base
            stack::arguments = base;
            character::do_math(r.op);
            stack::arguments = saved;
        });
        if (r.expected < 0) {
            EXPECT_EQ(error_id(code), r.error) << r.a << " op " << r.op;
        } else {
            ASSERT_EQ(code, 0u) << r.a << " op " << r.op << ": " << error_id(code);
            EXPECT_TRUE(base->is(T_CHAR));
            EXPECT_EQ(base->data2, uint32_t(r.expected)) << r.a << " op " << r.op;
        }
        keep.restore();
    }
}

TEST_F(CharValue, TheTypeIsRegisteredWithoutTheUnsupportedSlots) {
    const ActionTable& t = type_registry::table(T_CHAR);
    EXPECT_TRUE(t.make && t.to && t.form && t.mold && t.compare && t.add && t.subtract &&
                t.multiply && t.divide && t.remainder && t.and_t && t.or_t && t.xor_t);
    EXPECT_FALSE(t.negate || t.power || t.round || t.complement);
}

}  // namespace
}  // namespace kov
