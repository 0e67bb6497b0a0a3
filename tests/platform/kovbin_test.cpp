// Kovbin: the documented byte sequences of the compact form, round trips of every datatype in
// both forms (compared by their molds), shared series, cycles, objects, functions and their
// words, map tombstones, errors, the values that cannot be saved, nesting limits, compressed
// bodies, and corrupt inputs (each a catchable error, never a crash).
#include <random>
#include <string>
#include <vector>

#include "../core/words_fixture.hpp"
#include "../evaluator/lexer_fixture.hpp"
#include "core/cells.hpp"
#include "core/context.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "evaluator/lexer.hpp"
#include "platform/kovbin.hpp"
#include "platform/lz.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::WordsTest;

class KovbinTest : public WordsTest {
protected:
    static std::vector<uint8_t> bytes_of(const Cell* bin) {
        const uint8_t* h = binary::ks_head(bin);
        return std::vector<uint8_t>(h, h + binary::ks_length(bin));
    }
    static std::vector<uint8_t> encoded(const Cell* v, bool compact) {
        Root val(*v), out;
        if (compact) kovbin::encode_compact(val.get(), out.get());
        else kovbin::encode(val.get(), out.get());
        return bytes_of(out.get());
    }
    // The values area of a compact encoding: its last B bytes (B the varint after the count).
    static std::vector<uint8_t> value_bytes(const Cell* v) {
        std::vector<uint8_t> b = encoded(v, true);
        EXPECT_EQ(b[7] & 0xFE, b[7] & 4);
        uint32_t n = 0;
        for (size_t i = 9, shift = 0; i < b.size(); i++, shift += 7) {
            n |= uint32_t(b[i] & 0x7F) << shift;
            if (!(b[i] & 0x80)) break;
        }
        return std::vector<uint8_t>(b.end() - n, b.end());
    }
    // Decodes bytes into a new block (rooted by the caller).
    static void decode(const std::vector<uint8_t>& b, Root& out) {
        block::make_at(out.get(), 1);
        kovbin::decode(b.data(), b.size(), out.get(), true);
    }
    static Cell first(const Cell* blk) { return *block::ks_abs_at(blk, 0); }
    // A notation of the value that does not depend on the datatypes' mold routines.
    static std::string mold(const Cell* v) { return testing::show(*v); }
    static void load(const char* text, Root& out) {
        lexer::scan(out.get(), text);
    }
    template <class F> std::string failure(F body, Cell* arg1 = nullptr) {
        return error_of(body, arg1);
    }
    static std::vector<uint8_t> header(uint8_t flags) {
        return {'K', 'O', 'V', 'B', 'I', 'N', 2, flags};
    }
};

TEST_F(KovbinTest, CompactBlockOfTwoIntegersIsTheDocumentedBytes) {
    Root b;
    load("[1 2]", b);
    Root inner(first(b.get()));
    std::vector<uint8_t> want = {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, 4, 5, 2, 0x81, 0x82};
    EXPECT_EQ(encoded(inner.get(), true), want);
}

TEST_F(KovbinTest, ScalarCodesAreTheDocumentedBytes) {
    struct Case {
        Cell value;
        std::vector<uint8_t> bytes;
    };
    auto dbl = [](uint8_t code, double d) {
        std::vector<uint8_t> v{code};
        uint64_t bits = std::bit_cast<uint64_t>(d);
        for (int i = 0; i < 8; i++) v.push_back(uint8_t(bits >> (8 * i)));
        return v;
    };
    std::vector<Case> cases = {
        {cells::make_integer(63), {0xBF}},
        {cells::make_integer(64), {0x0B, 0x80, 0x01}},
        {cells::make_integer(-1), {0x0B, 0x01}},
        {cells::make_float(2.0), {0x4C, 0x04}},
        {cells::make_float(2.5), dbl(0x0C, 2.5)},
        {cells::make_float(-0.0), dbl(0x0C, -0.0)},
        {cells::make_float(0.5, T_PERCENT), {0x66, 0x64}},
        {cells::make_float(0.125, T_PERCENT), dbl(0x26, 0.125)},
        {cells::make_float(5400.0, T_TIME), {0x6B, 0xB0, 0x54}},
        {cells::make_logic(true), {0xC2}},
        {cells::make_logic(false), {0xC3}},
        {cells::make_none(), {0x03}},
        {cells::make_datatype(T_MAP), {0x01, 40}},
        {Cell{T_PAIR, 0, uint32_t(-3), 5}, {0x25, 0x05, 0x0A}},
        {Cell{T_CHAR, 0, 0x263A, 0}, {0x0A, 0xBA, 0x4C}},
    };
    for (const Case& c : cases) {
        Root v(c.value);
        EXPECT_EQ(value_bytes(v.get()), c.bytes) << mold(v.get());
    }
}

TEST_F(KovbinTest, StringHeadsAndSharedStrings) {
    Root s;
    load("\"abc\"", s);
    Root str(first(s.get()));
    EXPECT_EQ(value_bytes(str.get()), (std::vector<uint8_t>{0x07, 0x0C, 'a', 'b', 'c'}));
    str->data1 = 1;
    EXPECT_EQ(value_bytes(str.get()), (std::vector<uint8_t>{0x47, 0x01, 0x0C, 'a', 'b', 'c'}));
    str->data1 = 0;
    Root b;
    block::make_at(b.get(), 2);
    block::append_value(b.get(), str.get());
    block::append_value(b.get(), str.get());
    std::vector<uint8_t> want = {0x05, 0x02, 0x07, 0x0C, 'a', 'b', 'c', 0xC1, 0x07, 0x02, 0x00, 0x00};
    EXPECT_EQ(value_bytes(b.get()), want);
}

const char* const every_literal =
    "[1 -5 1000000 -2147483648 2.5 -0.0 1e300 50% 12.5% 1:30:00 -0:00:01.5 10x-20 1.2.3 "
    "1.2.3.4.5.6.7.8.9.10.11.12 #\"a\" #\"^(263A)\" \"abc\" \"\u00fc\" "
    "\"\u65e5\u672c\" \"\U0001F600\" %file.txt http://x.y/z <tag a=1> a@b.c @ref #{DEADBEEF} #{} "
    "word set: :get 'lit /ref #issue a/b/c 'x/y :p/q r/s: (paren 1) [nested [deep [er]]] "
    "#(none) #(true) #(false) #(unset) "
    "(1.5, 2) (1, 2, 3) \"\" []]";

TEST_F(KovbinTest, EveryLiteralRoundTripsInBothForms) {
    Root src;
    load(every_literal, src);
    Root blk(first(src.get()));
    std::string want = mold(blk.get());
    for (bool compact : {true, false}) {
        std::vector<uint8_t> b = encoded(blk.get(), compact);
        EXPECT_EQ(b[7] & 1, compact ? 1 : 0);
        EXPECT_EQ(b[7] & 4, 4);  // words and issues need the symbol table
        Root out;
        decode(b, out);
        ASSERT_EQ(block::ks_length_q(out.get()), 1);
        Root back(first(out.get()));
        EXPECT_EQ(mold(back.get()), want) << (compact ? "compact" : "record");
        // New-line markers survive.
        EXPECT_EQ(encoded(back.get(), compact), b);
    }
}

TEST_F(KovbinTest, ValuesTheLexerDoesNotMakeRoundTrip) {
    Root blk;
    block::make_at(blk.get(), 8);
    Cell ts{T_TYPESET, 0x00F00000u, 0x1u, 0x80000000u};
    Cell dt = cells::make_datatype(T_OBJECT);
    Cell unset = cells::make_unset();
    Cell money{T_MONEY | 0x4000u, 0, 0, 0};  // -USD$12.34500: currency 1, digits ...1234500
    uint8_t m[12] = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45};
    std::memcpy(&money.data1, m, 12);
    block::append_value(blk.get(), &money);
    Cell day{T_DATE, (2024u << 17) | (1u << 12) | (15u << 7), 0, 0};
    Cell timed{T_DATE, (2024u << 17) | 0x10000u | (1u << 12) | (15u << 7) | 4u, 0, 0};
    timed.set_float(32430.5);
    block::append_value(blk.get(), &day);
    block::append_value(blk.get(), &timed);
    block::append_value(blk.get(), &ts);
    block::append_value(blk.get(), &dt);
    block::append_value(blk.get(), &unset);
    Root bs;
    bitset::make_at(bs.get(), 3, true);
    binary::ks_head(bs.get())[1] = 0x5A;
    block::append_value(blk.get(), bs.get());
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(blk.get(), compact), out);
        Root back(first(out.get()));
        ASSERT_EQ(block::ks_length_q(back.get()), 7);
        for (int i = 0; i < 6; i++) {
            const Cell& a = *block::ks_abs_at(blk.get(), i);
            const Cell& b = *block::ks_abs_at(back.get(), i);
            EXPECT_EQ(std::vector<uint32_t>({a.header, a.data1, a.data2, a.data3}),
                      std::vector<uint32_t>({b.header, b.data1, b.data2, b.data3}));
        }
        Root bs2(*block::ks_abs_at(back.get(), 6));
        EXPECT_TRUE(bitset::complemented_q(bs2.get()));
        EXPECT_EQ(bitset::stored_bytes(bs2.get()), 3u);
        EXPECT_EQ(binary::ks_head(bs2.get())[1], 0x5A);
    }
}

TEST_F(KovbinTest, SharedSeriesStaySharedAndCyclesClose) {
    Root src;
    load("[[1 2] \"s\"]", src);
    Root outer(first(src.get()));
    Root inner(*block::ks_abs_at(outer.get(), 0));
    Root str(*block::ks_abs_at(outer.get(), 1));
    block::append_value(outer.get(), inner.get());  // the same block again
    str->data1 = 1;
    block::append_value(outer.get(), str.get());    // the same string at another head
    block::append_value(outer.get(), outer.get());  // the block itself
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(outer.get(), compact), out);
        Root back(first(out.get()));
        const Cell* c = block::ks_abs_at(back.get(), 0);
        EXPECT_EQ(c[0].data2, c[2].data2);
        EXPECT_EQ(c[1].data2, c[3].data2);
        EXPECT_EQ(c[3].data1, 1u);
        EXPECT_EQ(c[4].data2, back->data2);
        // A change through one reference shows through the other.
        Root a(c[0]);
        Cell nine = cells::make_integer(9);
        block::append_value(a.get(), &nine);
        Root b(*block::ks_abs_at(back.get(), 2));
        EXPECT_EQ(block::ks_length_q(b.get()), 3);
    }
}

// An object with fields a: 1 and b: "x".
void make_object(Root& obj) {
    object::make_empty_at(obj.get(), 2);
    Cell a = cells::make_word(T_WORD, 0, symbol::make("a"));
    Cell b = cells::make_word(T_WORD, 0, symbol::make("b"));
    Cell one = cells::make_integer(1);
    context::add_with(obj->data1, &a, &one);
    Root x;
    string::make_at(x.get(), 1);
    string::concatenate_cstring(x.get(), "x");
    context::add_with(obj->data1, &b, x.get());
    *context::owner(obj->data1) = obj.cell;
}

Cell bound_word(const Cell& obj, const char* name) {
    uint32_t sym = symbol::make(name);
    int32_t slot = context::find_word(obj.data1, sym, true);
    return cells::make_word(T_WORD, obj.data1, sym, uint32_t(slot));
}

TEST_F(KovbinTest, WordsCarryTheirObjectOnceAndRefer) {
    Root obj;
    make_object(obj);
    Root blk;
    block::make_at(blk.get(), 3);
    Cell wa = bound_word(obj.cell, "a"), wb = bound_word(obj.cell, "b");
    block::append_value(blk.get(), &wa);
    block::append_value(blk.get(), &wb);
    std::vector<uint8_t> b = encoded(blk.get(), true);
    // The second word: code with F, symbol 1, slot 1, then 0xC1 and the path to the first word.
    std::vector<uint8_t> tail = {0xC1, 0x4F, 0x01, 0x02, 0x02, 0x00, 0x00};
    ASSERT_GE(b.size(), tail.size());
    EXPECT_EQ(std::vector<uint8_t>(b.end() - 7, b.end()), tail);
    block::append_value(blk.get(), obj.get());
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(blk.get(), compact), out);
        Root back(first(out.get()));
        ASSERT_EQ(block::ks_length_q(back.get()), 3);
        Cell w1 = *block::ks_abs_at(back.get(), 0), w2 = *block::ks_abs_at(back.get(), 1);
        Cell o = *block::ks_abs_at(back.get(), 2);
        ASSERT_TRUE(o.is(T_OBJECT));
        EXPECT_EQ(w1.data1, o.data1);
        EXPECT_EQ(w2.data1, o.data1);
        EXPECT_NE(o.data1, obj->data1);
        Root rw(w2);
        EXPECT_EQ(string::to_utf8(context::get(rw.get())), "x");
        EXPECT_EQ(cells::integer(*context::value_cell(o.data1, 0)), 1);
    }
}

TEST_F(KovbinTest, ObjectWithUnsetSlotsIsWrittenWithoutValues) {
    Root obj;
    object::make_empty_at(obj.get(), 1);
    Cell a = cells::make_word(T_WORD, 0, symbol::make("a"));
    context::add_word(obj->data1, &a);
    *context::owner(obj->data1) = obj.cell;
    std::vector<uint8_t> v = value_bytes(obj.get());
    // code, class, context code, flags (object kind, no values bit), one symbol.
    ASSERT_GE(v.size(), 6u);
    EXPECT_EQ(v[0], 0x20);
    EXPECT_EQ(v[2], 0x0E);
    EXPECT_EQ(v[3] & 0x10, 0);
    EXPECT_EQ(v[4], 1);
}

TEST_F(KovbinTest, FunctionsKeepSpecBodyAndBinding) {
    Root spec, body;
    load("[x /local y]", spec);
    load("[y: x + 1 [x]]", body);
    Root s(first(spec.get())), b(first(body.get()));
    stack::Snapshot snap;
    function::push(s.get(), b.get(), 0, 0, 0, 0);
    Root fn(*stack::top_value());
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(fn.get(), compact), out);
        Root back(first(out.get()));
        ASSERT_TRUE(back->is(T_FUNCTION));
        EXPECT_EQ(mold(function::extra(back.get(), function::EXTRA_BODY)), "[y: x + 1 [x]]");
        Cell sp = cells::make_series(T_BLOCK, back->data2);
        EXPECT_EQ(mold(&sp), "[x /local y]");
        Root bb(*function::extra(back.get(), function::EXTRA_BODY));
        const Cell* c = block::ks_abs_at(bb.get(), 0);
        EXPECT_EQ(c[0].data1, back->data1);  // y: bound to the decoded function's context
        EXPECT_EQ(c[1].data1, back->data1);
        EXPECT_EQ(context::owner(back->data1)->data2, back->data2);
    }
}

TEST_F(KovbinTest, MapWritesOnlyLivePairs) {
    Root m;
    map::make_at(0, m.get(), 3);
    for (const char* k : {"a", "b", "c"}) {
        Cell key = cells::make_word(T_WORD, 0, symbol::make(k));
        Cell v = cells::make_integer(k[0]);
        map::put_pair(m.get(), &key, &v, false);
    }
    Cell key = cells::make_word(T_WORD, 0, symbol::make("b"));
    ASSERT_TRUE(map::remove_key(m.get(), &key));
    std::vector<uint8_t> v = value_bytes(m.get());
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v[0], 0x28);
    EXPECT_EQ(v[1], 4);
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(m.get(), compact), out);
        Root back(first(out.get()));
        EXPECT_EQ(map::count(back.get()), 2);
        EXPECT_EQ(encoded(back.get(), compact), encoded(m.get(), compact));
    }
}

TEST_F(KovbinTest, ErrorsKeepTheirCodeAndArguments) {
    Root arg, e;
    load("[oops]", arg);
    Root a1(first(arg.get()));
    error::create(e.get(), "script", "no-value", a1.get());
    for (bool compact : {true, false}) {
        Root out;
        decode(encoded(e.get(), compact), out);
        Root back(first(out.get()));
        ASSERT_TRUE(back->is(T_ERROR));
        EXPECT_EQ(error::code(back.get()), error::code(e.get()));
        EXPECT_EQ(error::id_word(back.get()), "no-value");
        Root x(*error::field(back.get(), error::F_ARG1));
        EXPECT_EQ(mold(x.get()), "[oops]");
    }
}

TEST_F(KovbinTest, ValuesThatCannotBeSavedStopTheEncode) {
    for (uint32_t t : {T_HANDLE, T_ROUTINE, T_PORT, T_EVENT, T_TRIPLE}) {
        Root src;
        load("[a [b [c]]]", src);
        Root outer(first(src.get()));
        Root deep(*block::ks_abs_at(outer.get(), 1));
        Root deeper(*block::ks_abs_at(deep.get(), 1));
        Cell h{t, 0, 0, 0};
        block::append_value(deeper.get(), &h);
        for (bool compact : {true, false}) {
            Cell culprit;
            EXPECT_EQ(failure([&] { encoded(outer.get(), compact); }, &culprit), "no-codec");
            EXPECT_EQ(cells::datatype(culprit), t);
        }
    }
    Cell v{T_VECTOR, 0, 0, 0};
    Root vec(v);
    EXPECT_EQ(failure([&] { encoded(vec.get(), true); }), "not-done");
}

TEST_F(KovbinTest, NestingLimitsRaiseTooDeep) {
    Root top;
    block::make_at(top.get(), 1);
    {
        Root cur(top.cell);
        for (uint32_t i = 0; i < kovbin::MAX_DEPTH + 10; i++) {
            Root next;
            block::make_at(next.get(), 1);
            block::append_value(cur.get(), next.get());
            cur.cell = next.cell;
        }
    }
    EXPECT_EQ(failure([&] { encoded(top.get(), true); }), "too-deep");
    EXPECT_EQ(failure([&] { encoded(top.get(), false); }), "too-deep");
    std::vector<uint8_t> b = header(1);
    std::vector<uint8_t> values;
    for (uint32_t i = 0; i < kovbin::MAX_DEPTH + 10; i++) values.insert(values.end(), {0x05, 0x01});
    values.push_back(0x80);
    b.push_back(1);
    uint32_t n = uint32_t(values.size());
    while (n >= 0x80) b.push_back(uint8_t(n | 0x80)), n >>= 7;
    b.push_back(uint8_t(n));
    b.insert(b.end(), values.begin(), values.end());
    Root out;
    EXPECT_EQ(failure([&] { decode(b, out); }), "too-deep");
}

TEST_F(KovbinTest, CompressedBodiesDecode) {
    Root src;
    load("[\"a long enough text for the compressor to take\" 1 2 3 4 5 6 7 8 9 10 11 12 13 14 "
         "15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32 33 34 35 36 37 38 39 40 \"a long "
         "enough text for the compressor to take\" and words and words and words and words]", src);
    Root blk(first(src.get()));
    std::vector<uint8_t> plain = encoded(blk.get(), true);
    std::vector<uint8_t> body(plain.begin() + 8, plain.end());
    std::vector<uint8_t> packed(body.size());
    int64_t n = lz::compress(body.data(), body.size(), packed.data());
    ASSERT_GT(n, 0);
    std::vector<uint8_t> b(plain.begin(), plain.begin() + 8);
    b[7] |= kovbin::FLAG_COMPRESSED;
    b.insert(b.end(), packed.begin(), packed.begin() + n);
    Root out;
    decode(b, out);
    Root back(first(out.get()));
    EXPECT_EQ(mold(back.get()), mold(blk.get()));
    b[12] ^= 0xFF;  // a chunk length word out of range
    EXPECT_EQ(failure([&] { decode(b, out); }), "invalid-data");
}

TEST_F(KovbinTest, CodecDecodeAnswersASingleValueOrTheBlock) {
    Root src, bin, out;
    load("[1 2]", src);
    Root blk(first(src.get()));
    kovbin::encode_compact(blk.get(), bin.get());
    kovbin::codec_decode(bin.get(), out.get());
    EXPECT_EQ(mold(out.get()), "[1 2]");
    std::vector<uint8_t> ten = {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, 0};
    binary::make_at(bin.get(), 10);
    binary::append_bytes(bin.get(), ten.data(), 10);
    EXPECT_EQ(failure([&] { kovbin::codec_decode(bin.get(), out.get()); }), "invalid-data");
}

TEST_F(KovbinTest, CorruptInputsRaiseErrors) {
    auto compact = [](std::vector<uint8_t> values) {
        std::vector<uint8_t> b = {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, uint8_t(values.size())};
        b.insert(b.end(), values.begin(), values.end());
        return b;
    };
    std::vector<uint8_t> dbl(8, 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* id;
    };
    std::vector<Case> cases = {
        {"magic", {'K', 'O', 'V', 'B', 'I', 'X', 2, 1, 1, 0}, "invalid-data"},
        {"B beyond the bytes", {'K', 'O', 'V', 'B', 'I', 'N', 2, 1, 1, 9, 0x81}, "kb-invalid-record"},
        {"logic code", compact({0x04}), "kb-invalid-record"},
        {"reserved code", compact({0xC5}), "kb-invalid-record"},
        {"prefix before a direct code", compact({0xC1, 0x81}), "kb-invalid-record"},
        {"definition in codec data", compact({0xC4, 0x0F, 0x00}), "kb-invalid-record"},
        {"datatype id 0", compact({0x00}), "kb-invalid-record"},
        {"symbol without a table", compact({0x0F, 0x00}), "kb-invalid-record"},
        {"date time bit without F", compact({0x2F, 0x80, 0x08, 0x01, 0x00}), "kb-invalid-record"},
        {"date F without time bit", compact({0x6F, 0x80, 0x08, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}),
         "kb-invalid-record"},
        {"tuple length 0", compact({0x67, 0x00}), "kb-invalid-record"},
        {"tuple length 13", compact({0x67, 13, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}),
         "kb-invalid-record"},
        {"varint fifth byte 0x10", compact({0x0B, 0xFF, 0xFF, 0xFF, 0xFF, 0x10}), "kb-invalid-record"},
        {"path length 0", compact({0xFF, 0x00}), "kb-invalid-record"},
        {"path length 65537", compact({0xFF, 0x81, 0x80, 0x04}), "kb-invalid-record"},
        {"path index past the block", compact({0x80, 0xFF, 0x01, 0x05}), "kb-invalid-record"},
        {"path through an integer", compact({0x80, 0xFF, 0x02, 0x00, 0x00}), "kb-invalid-record"},
        {"string unit 3", compact({0x07, 0x07}), "kb-invalid-record"},
        {"string longer than the data", compact({0x07, 0x40, 'a'}), "kb-invalid-record"},
        {"block count beyond the data", compact({0x05, 0x10, 0x80}), "kb-invalid-record"},
        {"odd map count", compact({0x28, 0x01, 0x80}), "kb-invalid-record"},
        {"truncated float", compact({0x0C, 0, 0, 0}), "kb-invalid-record"},
        {"typeset too long", compact({0x21, 13}), "kb-invalid-record"},
        {"action index 63", compact({0x16, 63, 0x05, 0x00}), "kb-invalid-record"},
        {"error code unknown", compact({0x22, 0xE7, 0x07}), "kb-invalid-record"},
        {"handle", compact({0x2E}), "no-codec"},
        {"vector", compact({0x23, 0x00}), "not-done"},
        {"symbol table without its NUL",
         {'K', 'O', 'V', 'B', 'I', 'N', 2, 5, 1, 1, 1, 2, 0, 0, 0, 0, 'a', 'b', 0x80}, "kb-invalid-record"},
        {"record body under 8 bytes", {'K', 'O', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0}, "invalid-data"},
        {"record of id 42", {'K', 'O', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 4, 0, 0, 0, 42, 0, 0, 0},
         "kb-invalid-record"},
    };
    for (const Case& c : cases) {
        Root out;
        EXPECT_EQ(failure([&] { decode(c.bytes, out); }), c.id) << c.what;
    }
    // The offset of the failing read, 1-based from the buffer's first byte: the logic code 0x04
    // sits at 0-based offset 11, and the position is taken once the code byte is read.
    Root out;
    Cell at;
    failure([&] { decode(compact({0x80, 0x04}), out); }, &at);
    EXPECT_EQ(cells::integer(at), 13);
}

TEST_F(KovbinTest, MutatedPayloadsNeverBreakTheRuntime) {
    Root src, obj;
    load(every_literal, src);
    Root blk(first(src.get()));
    make_object(obj);
    Cell w = bound_word(obj.cell, "b");
    block::append_value(blk.get(), &w);
    block::append_value(blk.get(), blk.get());
    std::mt19937 rng(2024);
    for (bool compact : {true, false}) {
        std::vector<uint8_t> good = encoded(blk.get(), compact);
        for (int round = 0; round < 300; round++) {
            std::vector<uint8_t> b = good;
            int edits = 1 + int(rng() % 4);
            for (int k = 0; k < edits; k++) {
                size_t at = 8 + rng() % (b.size() - 8);
                switch (rng() % 3) {
                case 0: b[at] = uint8_t(rng()); break;
                case 1: b[at] ^= uint8_t(1u << (rng() % 8)); break;
                default: b.resize(at); break;
                }
                if (b.size() <= 8) break;
            }
            stack::Snapshot snap;
            stack::mark_try(nullptr);
            Root out;
            block::make_at(out.get(), 1);
            try {
                kovbin::decode(b.data(), b.size(), out.get(), true);
                Root again;  // whatever decoded can be encoded again
                kovbin::encode_compact(out.get(), again.get());
            } catch (const Unwind& u) {
                EXPECT_EQ(u.code, THROW_ERROR);
            }
        }
    }
}

}  // namespace
}  // namespace kov
