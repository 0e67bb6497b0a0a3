// string! as a value: making and converting, forming and molding (escapes, quotes against
// braces, long texts), comparison, find and select with their refinements, append, insert and
// change with the unit widening they cause, take, swap, trim, sort, the set operations and paths.
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_actions.hpp"
#include "datatypes/word.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/core/text_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::Units;
using testing::unwind_code;

class StringValue : public testing::RuntimeTest {};

// A string! on the argument stack holding the UTF-8 text.
Cell* text(std::string_view utf8) {
    return string::load(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                        nullptr, string::ENCODING_UTF8);
}

// A string! on the argument stack of the given unit holding the code points.
Cell* text_units(const Units& cps, uint32_t unit) {
    Cell c{T_STRING, 0, testing::make_text(cps, unit), 0};
    return stack::push(&c);
}

// A new empty string on the argument stack.
Cell* fresh() {
    Cell* c = stack::push_slot();
    string::ks_make_at(c, 16);
    return c;
}

std::string utf8(const Cell* c) { return string::to_utf8(c); }
uint32_t unit_of(const Cell* c) { return memory::buffer_of(c->data2)->unit(); }

std::string molded(const Cell* v, bool all = false) {
    Cell* out = fresh();
    string::mold(v, out, false, all, false, false, 0, 0);
    return utf8(out);
}

// The whole text of the buffer (from its first element), whatever the value's head.
std::string whole(const Cell* c) {
    Cell h = *c;
    h.data1 = 0;
    return utf8(&h);
}

// Runs body under a try frame; answers the code it left with (0: it returned).
template <class F> uint32_t raised(F body) {
    CallFrame* frame = stack::frame_top;
    stack::mark_try(nullptr);
    uint32_t code = unwind_code(body);
    if (!code) stack::frame_top = frame;
    return code;
}

void expect_error(uint32_t code, const char* category, const char* id) {
    ASSERT_EQ(code, THROW_ERROR);
    Cell* err = stack::top_value();
    EXPECT_EQ(error::category_word(err), category);
    EXPECT_EQ(error::id_word(err), id);
}

// ---------------------------------------------------------------------------------------------
// Molding and forming.

TEST_F(StringValue, MoldWritesEveryEscapeAndChoosesQuotesOrBraces) {
    struct Row {
        std::string in;
        bool all;
        std::string out;
    };
    const std::string s49(49, 'x'), s50(50, 'x');
    const std::vector<Row> rows = {
        {"abc", false, "\"abc\""},
        {"", false, "\"\""},
        {s49, false, "\"" + s49 + "\""},
        {s50, false, "{" + s50 + "}"},
        {"a\nb\nc", false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"a\"b", false, "{a\"b}"},
        // Without a reason for braces, a lone brace stays plain inside quotes.
        {"a{b", false, "\"a{b\""},
        {"a}b", false, "\"a}b\""},
        {"a\"{b", false, "{a\"^{b}"},
        {"a\"{b}c", false, "{a\"{b}c}"},
        {"}a\"{", false, "{^}a\"^{}"},
        {"\"{{}", false, "{\"^{^{^}}"},
        {"\"{}{", false, "{\"{}^{}"},
        {"a\"^b", false, "{a\"^^b}"},
        {"\t\n", false, "\"^-^/\""},
        {std::string("\0", 1), false, "\"^@\""},
        {"\x1b\x1f\x01", false, "\"^[^_^A\""},
        {"\x1e", false, "\"^(1E)\""},
        {"\x7f", false, "\"^~\""},
        {"^", false, "\"^^\""},
        {"\xc2\x80\xc2\x9f", false, "\"^(80)^(9F)\""},
        {"\xc3\xa9\xc2\xa0", false, "\"\xc3\xa9\xc2\xa0\""},
        {"\xc3\xa9", true, "\"^(E9)\""},
        {"\xd0\x96", false, "\"\xd0\x96\""},
        {"\xd0\x96", true, "\"^(416)\""},
        {"\xf0\x9f\x98\x80", true, "\"^(1F600)\""},
        {"a\"\t\n\n\n", false, "{a\"^-^/^/^/}"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        EXPECT_EQ(molded(text(r.in), r.all), r.out) << "input " << r.in;
        keep.restore();
    }
}

TEST_F(StringValue, BraceChoiceCountsTheWholeTextButEscapesOnlyThePart) {
    Cell* s = text(std::string(60, 'y'));
    Cell* out = fresh();
    int32_t left = string::mold(s, out, false, false, false, true, 5, 0);
    EXPECT_EQ(utf8(out), "{yyyyy}");
    EXPECT_EQ(left, -2);
    Cell* out2 = fresh();
    EXPECT_EQ(string::mold(s, out2, false, false, false, true, -1, 0), -3);
    EXPECT_EQ(utf8(out2), "{}");
    Cell* out3 = fresh();
    EXPECT_EQ(string::mold(text("abc"), out3, false, false, false, false, 100, 0), 95);
}

TEST_F(StringValue, FormCopiesFromTheHeadWithinTheLimit) {
    Cell* s = text("hello");
    s->data1 = 1;
    Cell* out = fresh();
    EXPECT_EQ(string::form(s, out, false, 100), 96);
    EXPECT_EQ(utf8(out), "ello");
    Cell* cut = fresh();
    EXPECT_EQ(string::form(s, cut, true, 2), -2);
    EXPECT_EQ(utf8(cut), "el");
    // A wide text formed into a narrow buffer widens it.
    Cell* wide = text("\xd0\x96");
    Cell* narrow = fresh();
    string::form(wide, narrow, false, 10);
    EXPECT_EQ(unit_of(narrow), 2u);
}

// ---------------------------------------------------------------------------------------------
// make and to.

TEST_F(StringValue, MakeTakesACapacityAndConvertsEverythingElse) {
    Cell ten = Cell{T_INTEGER, 0, 10, 0};
    Cell* made = string::make(&none_value, &ten, T_FILE);
    EXPECT_TRUE(made->is(T_FILE));
    EXPECT_EQ(string::length(made), 0u);
    EXPECT_EQ(unit_of(made), 1u);

    Cell neg = Cell{T_INTEGER, 0, uint32_t(-1), 0};
    expect_error(raised([&] { string::make(&none_value, &neg, T_STRING); }), "script",
                 "out-of-range");
    expect_error(raised([&] { string::to(&none_value, &none_value, T_STRING); }), "script",
                 "bad-to-arg");

    Cell* src = text("abc\xd0\x96");
    src->data1 = 1;
    Root copy(*string::to(&none_value, src, T_STRING));
    EXPECT_EQ(utf8(copy.get()), "bc\xd0\x96");
    EXPECT_NE(copy->data2, src->data2);

    Root blk;
    block::make_at(blk.get(), 4);
    block::append_value(blk.get(), text("ab"));
    Cell ch{T_CHAR, 0, 'c', 0};
    block::append_value(blk.get(), &ch);
    EXPECT_EQ(utf8(string::to(&none_value, blk.get(), T_STRING)), "abc");
}

TEST_F(StringValue, ToOfARefinementAndOfBytes) {
    Root ref(*word::load("only"));
    cell::set_type(ref.get(), T_REFINEMENT);
    EXPECT_EQ(utf8(string::to(&none_value, ref.get(), T_STRING)), "only");
    Cell* f = string::to(&none_value, ref.get(), T_FILE);
    EXPECT_TRUE(f->is(T_FILE));
    EXPECT_EQ(utf8(f), "/only");

    auto binary = [](std::string_view bytes) {
        Handle node = memory::make_bytes(uint32_t(bytes.size()) + 1);
        SeriesBuffer* b = memory::buffer_of(node);
        std::memcpy(b->tail_ptr(), bytes.data(), bytes.size());
        b->tail += uint32_t(bytes.size());
        Cell c{T_BINARY, 0, node, 0};
        return stack::push(&c);
    };
    EXPECT_EQ(utf8(string::to(&none_value, binary("a\xc3\xa9"), T_STRING)), "a\xc3\xa9");
    expect_error(raised([&] { string::to(&none_value, binary("a\xc3"), T_STRING); }),
                 "access", "invalid-utf8");
    // make decodes as to does; from its head, into the requested text type.
    Cell* bytes = binary("x\xe2\x82\xacy");
    bytes->data1 = 1;
    Cell* made = string::make(&none_value, bytes, T_FILE);
    EXPECT_TRUE(made->is(T_FILE));
    EXPECT_EQ(utf8(made), "\xe2\x82\xacy");
    EXPECT_EQ(unit_of(made), 2u);
    // With binary! as the target the bytes of the text are made.
    Cell* b = string::make(&none_value, text("h\xc3\xa9"), T_BINARY);
    ASSERT_TRUE(b->is(T_BINARY));
    SeriesBuffer* sb = memory::buffer_of(b->data2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sb->head_ptr()), sb->length()), "h\xc3\xa9");
}

// ---------------------------------------------------------------------------------------------
// Comparison.

TEST_F(StringValue, CompareFoldsCaseExceptUnderStrictAndCaseSortOrders) {
    struct Row {
        const char* a;
        const char* b;
        int op;
        int32_t expected;
    };
    const Row rows[] = {
        {"abc", "ABC", COMP_EQUAL, 0},
        {"abc", "ABC", COMP_STRICT_EQUAL, 1},
        {"abc", "abd", COMP_LESSER, -1},
        {"ab", "abc", COMP_LESSER, -1},
        {"abc", "ab", COMP_GREATER, 1},
        {"b", "A", COMP_SORT, 1},
        {"b", "A", COMP_CASE_SORT, 1},
        {"a", "B", COMP_CASE_SORT, 1},
        {"\xc3\xa9", "\xc3\x89", COMP_EQUAL, 0},
        {"\xd0\xb6", "\xd0\x96", COMP_EQUAL, 0},
        {"", "", COMP_EQUAL, 0},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        EXPECT_EQ(string::compare(text(r.a), text(r.b), r.op), r.expected) << r.a << " " << r.b;
        keep.restore();
    }
    Cell* s = text("abc");
    Cell file = *text("ABC");
    file.header = T_FILE;
    EXPECT_EQ(string::compare(s, &file, COMP_EQUAL), 0);
    EXPECT_EQ(string::compare(s, &file, COMP_LESSER), NOT_COMPARABLE);
    Cell n{T_INTEGER, 0, 1, 0};
    EXPECT_EQ(string::compare(s, &n, COMP_EQUAL), NOT_COMPARABLE);
}

// ---------------------------------------------------------------------------------------------
// find and select.

struct FindRow {
    const char* hay;
    uint32_t head;
    const char* needle;  // a one-character needle with `is_char` is a char!
    bool is_char;
    FindArgs args;
    int64_t part;        // -1: no /part
    int64_t skip;        // 0: no /skip
    int64_t expected;    // the answer's index, -1 for none
};

FindArgs with(std::initializer_list<const char*> flags) {
    FindArgs a;
    for (const char* f : flags) {
        std::string_view v(f);
        if (v == "last") a.last = true;
        if (v == "reverse") a.reverse = true;
        if (v == "tail") a.tail = true;
        if (v == "match") a.match = true;
        if (v == "case") a.case_sensitive = true;
        if (v == "same") a.same = true;
    }
    return a;
}

TEST_F(StringValue, FindWithEveryRefinement) {
    const FindRow rows[] = {
        {"abcabc", 0, "bc", false, {}, -1, 0, 1},
        {"abcabc", 0, "bc", false, with({"last"}), -1, 0, 4},
        {"abcabc", 0, "bc", false, with({"tail"}), -1, 0, 3},
        {"abcabc", 0, "BC", false, {}, -1, 0, 1},
        {"abcabc", 0, "BC", false, with({"case"}), -1, 0, -1},
        {"abcabc", 0, "BC", false, with({"same"}), -1, 0, -1},
        {"abc", 0, "ab", false, with({"match"}), -1, 0, 0},
        {"abc", 0, "ab", false, with({"match", "tail"}), -1, 0, 2},
        {"abc", 0, "bc", false, with({"match"}), -1, 0, -1},
        {"abcabc", 2, "a", true, {}, -1, 0, 3},
        {"abcabc", 0, "C", true, {}, -1, 0, 2},
        {"abcabc", 0, "C", true, with({"case"}), -1, 0, -1},
        {"abcabc", 0, "c", false, {}, 2, 0, -1},
        {"abcabc", 0, "c", false, {}, 3, 0, 2},
        {"abcabc", 0, "bca", false, {}, 3, 0, -1},
        {"abcabc", 0, "a", false, {}, 0, 0, -1},
        {"abcabc", 4, "a", true, with({"reverse"}), -1, 0, 3},
        {"abcabc", 4, "b", true, with({"reverse"}), 2, 0, -1},
        {"abcabc", 0, "a", true, with({"reverse"}), -1, 0, -1},
        {"abcabc", 4, "a", true, with({"reverse", "match"}), -1, 0, -1},
        {"aXbXcX", 0, "X", true, {}, -1, 2, -1},
        {"aXbXcX", 1, "X", true, {}, -1, 2, 1},
        {"abab", 0, "b", true, {}, -1, 2, -1},
        {"ab", 2, "a", true, {}, -1, 0, -1},
        {"", 0, "a", true, {}, -1, 0, -1},
        {"\xc3\x89" "cole", 0, "\xc3\xa9" "COLE", false, {}, -1, 0, 0},
        {"x\xd0\x96y", 0, "\xd0\xb6Y", false, {}, -1, 0, 1},
        {"x\xf0\x9f\x98\x80y", 0, "\xf0\x9f\x98\x80", false, {}, -1, 0, 1},
    };
    for (const FindRow& r : rows) {
        stack::Snapshot keep;
        Cell* s = text(r.hay);
        s->data1 = r.head;
        Cell* needle = text(r.needle);
        if (r.is_char) *needle = Cell{T_CHAR, 0, string::char_at(needle, 0), 0};
        FindArgs a = r.args;
        Cell part{T_INTEGER, 0, uint32_t(r.part), 0}, skip{T_INTEGER, 0, uint32_t(r.skip), 0};
        if (r.part >= 0) a.part = &part;
        if (r.skip) a.skip = &skip;
        Cell* found = string::find(s, needle, a);
        if (r.expected < 0) {
            EXPECT_TRUE(found->is(T_NONE)) << r.hay << " " << r.needle;
        } else {
            ASSERT_TRUE(found->is(T_STRING)) << r.hay << " " << r.needle;
            EXPECT_EQ(int64_t(found->data1), r.expected) << r.hay << " " << r.needle;
        }
        keep.restore();
    }
}

TEST_F(StringValue, FindTakesWordsBitsetsAndPositionsAndRefusesWhatItCannotDo) {
    Cell* s = text("one two");
    Root w(*word::load("TWO"));
    EXPECT_EQ(string::find(s, w.get(), {})->data1, 4u);

    // A bitset holding the digits.
    Handle bits = memory::make_bytes(16);
    SeriesBuffer* b = memory::buffer_of(bits);
    std::memset(b->head_ptr(), 0, 16);
    for (uint32_t c = '0'; c <= '9'; c++) b->head_ptr()[c >> 3] |= uint8_t(0x80 >> (c & 7));
    b->tail = b->head + 16;
    Cell set{T_BITSET, 0, bits, 0};
    Cell* set_cell = stack::push(&set);
    Cell* d = text("ab7c9");
    EXPECT_EQ(string::find(d, set_cell, {})->data1, 2u);
    d->data1 = 0;
    EXPECT_EQ(string::find(d, set_cell, with({"last"}))->data1, 4u);

    // /part as a position in the same text.
    Cell* hay = text("abcabc");
    Cell end = *hay;
    end.data1 = 3;
    FindArgs a;
    a.part = &end;
    Cell* c = text("c");
    EXPECT_EQ(string::find(hay, c, a)->data1, 2u);
    Cell* other = text("abcabc");
    a.part = other;
    expect_error(raised([&] { string::find(hay, c, a); }), "script", "invalid-refine-arg");

    FindArgs any;
    any.any = true;
    expect_error(raised([&] { string::find(hay, c, any); }), "internal", "not-done");
    FindArgs zero;
    Cell z{T_INTEGER, 0, 0, 0};
    zero.skip = &z;
    expect_error(raised([&] { string::find(hay, c, zero); }), "script", "out-of-range");
}

TEST_F(StringValue, SelectAnswersTheCharacterAfterTheMatch) {
    Cell* s = text("abc");
    Cell a{T_CHAR, 0, 'a', 0};
    Cell* r = string::select(s, &a, {});
    ASSERT_TRUE(r->is(T_CHAR));
    EXPECT_EQ(r->data2, uint32_t('b'));
    Cell c{T_CHAR, 0, 'c', 0};
    EXPECT_TRUE(string::select(s, &c, {})->is(T_NONE));
    Cell* ab = text("AB");
    r = string::select(s, ab, {});
    ASSERT_TRUE(r->is(T_CHAR));
    EXPECT_EQ(r->data2, uint32_t('c'));
    Cell* x = text("x");
    EXPECT_TRUE(string::select(s, x, {})->is(T_NONE));
    EXPECT_EQ(s->data1, 0u);
}

// ---------------------------------------------------------------------------------------------
// append, insert, change.

TEST_F(StringValue, AppendWidensByWhatItAppends) {
    struct Row {
        Units start;
        uint32_t start_unit;
        uint32_t cp;      // a char! appended
        uint32_t unit;    // the unit afterwards
    };
    const Row rows[] = {
        {{'a'}, 1, 'b', 1},       {{'a'}, 1, 0xE9, 2},    {{'a'}, 1, 0x416, 2},
        {{'a'}, 1, 0x1F600, 4},   {{0x416}, 2, 'b', 2},   {{0x416}, 2, 0x1F600, 4},
        {{0x1F600}, 4, 'b', 4},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* s = text_units(r.start, r.start_unit);
        Cell ch{T_CHAR, 0, r.cp, 0};
        string::append(s, &ch, -1, false, 1);
        EXPECT_EQ(unit_of(s), r.unit) << std::hex << r.cp;
        EXPECT_EQ(string::char_at(s, 1), r.cp);
        keep.restore();
    }
    // A text keeps its unit through an append even when its characters would fit a narrower one.
    Cell* s = text("abc");
    Cell* wide = text_units({'x', 0x416}, 2);
    string::append(s, wide, 1, false, 1);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(utf8(s), "abcx");
}

TEST_F(StringValue, AppendValuesPartsOnlyAndDup) {
    struct Row {
        const char* kind;
        int32_t part;
        bool only;
        int32_t dup;
        std::string expected;
    };
    const Row rows[] = {
        {"text", -1, false, 1, "ab-xyz"},
        {"text", 2, false, 1, "ab-xy"},
        {"text", -1, false, 3, "ab-xyzxyzxyz"},
        {"char", 5, false, 2, "ab-!!"},
        {"tag", -1, false, 1, "ab-<i>"},
        {"tag", 2, false, 1, "ab-<i"},
        {"block", -1, false, 1, "ab-uvw!"},
        {"block", 1, false, 1, "ab-uvw"},
        {"block", 2, true, 1, "ab-uv"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* s = text("ab-");
        s->data1 = 2;
        std::string k = r.kind;
        Cell* value;
        if (k == "text") {
            value = text("xyz");
        } else if (k == "char") {
            Cell c{T_CHAR, 0, '!', 0};
            value = stack::push(&c);
        } else if (k == "tag") {
            value = text("i");
            value->header = T_TAG;
        } else {
            value = stack::push_slot();
            block::make_at(value, 2);
            block::append_value(value, text("uvw"));
            Cell c{T_CHAR, 0, '!', 0};
            block::append_value(value, &c);
        }
        Cell* r2 = string::append(s, value, r.part, r.only, r.dup);
        EXPECT_EQ(r2, s);
        EXPECT_EQ(s->data1, 0u);
        EXPECT_EQ(utf8(s), r.expected) << k;
        keep.restore();
    }
    Cell* self = text("ab");
    string::append(self, self, -1, false, 2);
    EXPECT_EQ(utf8(self), "ababab");
}

TEST_F(StringValue, InsertAndChangeLeaveThePositionAfterTheNewText) {
    Cell* s = text("abcdef");
    s->data1 = 1;
    Cell* xy = text("XY");
    string::insert(s, xy, -1, false, 2);
    EXPECT_EQ(whole(s), "aXYXYbcdef");
    EXPECT_EQ(s->data1, 5u);

    Cell* t = text("abcdef");
    string::change(t, xy, -1, false, 1);
    EXPECT_EQ(whole(t), "XYcdef");
    EXPECT_EQ(t->data1, 2u);

    Cell* u = text("abcdef");
    u->data1 = 4;
    string::change(u, text("1234"), -1, false, 1);  // runs past the tail
    EXPECT_EQ(whole(u), "abcd1234");
    EXPECT_EQ(u->data1, 8u);

    Cell* v = text("abcdef");
    string::change(v, text("Z"), 3, false, 1);  // /part removes exactly three
    EXPECT_EQ(whole(v), "Zdef");
    EXPECT_EQ(v->data1, 1u);

    Cell* w = text("ab");
    w->data1 = 2;
    string::change(w, text("cd"), -1, false, 1);  // at the tail: append
    EXPECT_EQ(whole(w), "abcd");

    // Writing é at a position widens the buffer to two-byte units (the sizing of a char!).
    Cell* x = text("abc");
    Cell e{T_CHAR, 0, 0xE9, 0};
    string::insert(x, &e, -1, false, 1);
    EXPECT_EQ(unit_of(x), 2u);
    EXPECT_EQ(whole(x), "\xc3\xa9" "abc");
    Cell* y = text("abc");
    Cell z{T_CHAR, 0, 0x1F600, 0};
    string::change(y, &z, -1, false, 1);
    EXPECT_EQ(unit_of(y), 4u);
    EXPECT_EQ(whole(y), "\xf0\x9f\x98\x80" "bc");
}

TEST_F(StringValue, SizesBeyondTheLargestBufferRaiseNoMemory) {
    Cell* s = text("abc");
    Cell* big = text(std::string(1000, 'x'));
    for (auto op : {string::append, string::insert, string::change}) {
        expect_error(raised([&] { op(s, big, -1, false, 0x7FFFFFFF); }), "internal",
                     "no-memory");
        EXPECT_EQ(utf8(s), "abc");
    }
}

// ---------------------------------------------------------------------------------------------
// take and swap.

TEST_F(StringValue, TakeAnswersACharacterOrAString) {
    Cell* s = text("abcdef");
    Cell* r = string::take(s, nullptr, false, false);
    ASSERT_TRUE(r->is(T_CHAR));
    EXPECT_EQ(r->data2, uint32_t('a'));
    r = string::take(s, nullptr, false, true);
    EXPECT_EQ(r->data2, uint32_t('f'));
    EXPECT_EQ(utf8(s), "bcde");
    Cell two{T_INTEGER, 0, 2, 0};
    Root part(*string::take(s, &two, false, true));
    EXPECT_TRUE(part->is(T_STRING));
    EXPECT_EQ(utf8(part.get()), "de");
    Root first(*string::take(s, &two, false, false));
    EXPECT_EQ(utf8(first.get()), "bc");
    EXPECT_EQ(string::length(s), 0u);
    EXPECT_TRUE(string::take(s, nullptr, false, false)->is(T_NONE));

    Cell* t = text("abcdef");
    t->data1 = 4;
    Cell back{T_INTEGER, 0, uint32_t(-2), 0};
    Root before(*string::take(t, &back, false, false));
    EXPECT_EQ(utf8(before.get()), "cd");
    EXPECT_EQ(whole(t), "abef");
    EXPECT_EQ(t->data1, 2u);
}

TEST_F(StringValue, SwapExchangesTheHeadCharactersAndWidens) {
    Cell* a = text("abc");
    Cell* b = text_units({0x416, 'y'}, 2);
    string::swap(a, b);
    EXPECT_EQ(unit_of(a), 2u);
    EXPECT_EQ(utf8(a), "\xd0\x96" "bc");
    EXPECT_EQ(utf8(b), "ay");
    Cell* end = text("x");
    end->data1 = 1;
    string::swap(a, end);
    EXPECT_EQ(utf8(a), "\xd0\x96" "bc");
    Cell n{T_INTEGER, 0, 1, 0};
    expect_error(raised([&] { string::swap(a, &n); }), "script", "invalid-arg");
}

TEST_F(StringValue, SwapWithBinaryExchangesCharactersAndBytes) {
    auto bytes = [](std::string_view s) {
        Handle node = memory::make_bytes(uint32_t(s.size()) + 1);
        SeriesBuffer* b = memory::buffer_of(node);
        std::memcpy(b->tail_ptr(), s.data(), s.size());
        b->tail += uint32_t(s.size());
        Cell c{T_BINARY, 0, node, 0};
        return stack::push(&c);
    };
    auto content = [](const Cell* c) {
        SeriesBuffer* b = memory::buffer_of(c->data2);
        return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->length());
    };
    struct Case { const char* text; uint32_t wide; const char* bin; uint32_t head;
                  bool binary_first; const char* text_after; const char* bin_after; } cases[] = {
        {"abc", 0, "\xe9" "Z", 0, false, "\xc3\xa9" "bc", "aZ"},  // a byte comes in as a code point
        {"abc", 0, "XYZ", 1, true, "Ybc", "XaZ"},
        {"", 0x416, "XY", 0, false, "X", "\x16Y"},  // a wide character leaves its low byte
        {"abc", 0, "XY", 2, false, "abc", "XY"},      // a head at the tail: nothing moves
    };
    for (const Case& c : cases) {
        Cell* t = c.wide ? text_units({c.wide}, 2) : text(c.text);
        Cell* b = bytes(c.bin);
        b->data1 = c.head;
        if (c.binary_first) string::swap(b, t);
        else string::swap(t, b);
        EXPECT_EQ(utf8(t), c.text_after) << c.text << " " << c.bin;
        EXPECT_EQ(content(b), c.bin_after) << c.text << " " << c.bin;
    }
    // binary! takes swap from string!.
    EXPECT_EQ(type_registry::table(T_BINARY).swap.fn, type_registry::table(T_STRING).swap.fn);
}

// ---------------------------------------------------------------------------------------------
// trim.

TEST_F(StringValue, TrimEveryClass) {
    struct Row {
        std::string in;
        const char* mode;
        std::string out;
    };
    const Row rows[] = {
        {"  a  b  ", "", "a  b"},
        {"  a  b  ", "lines", "a b"},
        {"  a  b  ", "all", "ab"},
        {"  a  b  ", "head", "a  b  "},
        {"  a  b  ", "tail", "  a  b"},
        {"  a  b  ", "head tail", "a  b"},
        {"a  \n  b", "", "a\nb"},
        {"a\n  ", "", "a\n"},
        {"a\r\n b \t\n", "", "a\r\nb\n"},
        {"\n\n a\n\n", "", "a\n"},
        {" a \n\t b\r\n", "lines", "a b"},
        {"\x01\x02" "a\x1f", "", "a"},
        {"\xe3\x80\x80" "a" "\xc2\xa0", "", "a"},
        {"a\xe2\x80\x83\nb", "", "a\nb"},
        {"a \r b", "all", "ab"},
        {"a\x01 b", "all", "a\x01" "b"},
        {"", "", ""},
        {"   ", "lines", ""},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* s = text(r.in);
        std::string m = r.mode;
        bool head = m.find("head") != std::string::npos, tail = m.find("tail") != std::string::npos;
        string::trim(s, head, tail, false, m == "lines", m == "all", nullptr);
        EXPECT_EQ(utf8(s), r.out) << "[" << r.in << "] " << m;
        keep.restore();
    }
}

TEST_F(StringValue, TrimWithASetAndFromTheHead) {
    Cell* s = text("xx-a-b-");
    s->data1 = 2;
    Cell* set = text("-b");
    string::trim(s, false, false, false, false, false, set);
    EXPECT_EQ(whole(s), "xxa");
    Cell* t = text("banana");
    Cell a{T_CHAR, 0, 'a', 0};
    string::trim(t, false, false, false, false, false, &a);
    EXPECT_EQ(utf8(t), "bnn");
    expect_error(raised([&] { string::trim(t, false, false, true, false, false, nullptr); }),
                 "internal", "not-done");
}

// ---------------------------------------------------------------------------------------------
// sort.

struct SortRow {
    Units in;
    uint32_t unit;
    const char* flags;
    int32_t skip;     // 0: none
    int32_t offset;   // 0: none (/compare with an integer)
    Units out;
};

Units units_of(const char* s) { return Units(s, s + std::strlen(s)); }

TEST_F(StringValue, SortFoldsByUnitAndHonoursEveryRefinement) {
    const SortRow rows[] = {
        {units_of("cbA"), 1, "", 0, 0, units_of("Abc")},
        {units_of("cbA"), 1, "case", 0, 0, units_of("Abc")},
        {units_of("b1a2"), 1, "", 2, 0, units_of("a2b1")},
        {units_of("abc"), 1, "reverse", 0, 0, units_of("cba")},
        {units_of("bBaAb"), 1, "stable", 0, 0, units_of("aAbBb")},
        {units_of("b2a1b1a0"), 1, "stable case", 2, 0, units_of("a1a0b2b1")},
        {units_of("b2a1b1a0"), 1, "all", 2, 0, units_of("a0a1b1b2")},
        {units_of("a3b1c2"), 1, "", 2, 2, units_of("b1c2a3")},
        {units_of("[a"), 1, "", 0, 0, units_of("[a")},      // unit 1: only A..Z fold, to a..z
        {units_of("_a"), 1, "", 0, 0, units_of("_a")},
        {{'_', 'a', 0x416}, 2, "", 0, 0, {'A' + 32, '_', 0x416}},  // unit 2: folded to upper case
        {{0xE9, 'F', 0x416}, 2, "", 0, 0, {'F', 0xE9, 0x416}},
        {{0xE9, 'F', 0x416}, 2, "case", 0, 0, {'F', 0xE9, 0x416}},
        {{0x1F600, 'b', 'A'}, 4, "", 0, 0, {'A', 'b', 0x1F600}},
    };
    for (const SortRow& r : rows) {
        stack::Snapshot keep;
        Cell* s = text_units(r.in, r.unit);
        std::string f = r.flags;
        auto has = [&](const char* w) { return f.find(w) != std::string::npos; };
        Cell skip{T_INTEGER, 0, uint32_t(r.skip), 0}, off{T_INTEGER, 0, uint32_t(r.offset), 0};
        string::sort(s, has("case"), r.skip ? &skip : nullptr, r.offset ? &off : nullptr,
                     nullptr, has("all"), has("reverse"), has("stable"));
        EXPECT_EQ(testing::read_text(s->data2).units, r.out) << f;
        keep.restore();
    }
}

TEST_F(StringValue, SortPartsAndRefusals) {
    Cell* s = text("dcba");
    s->data1 = 2;
    Cell back{T_INTEGER, 0, uint32_t(-2), 0};
    string::sort(s, false, nullptr, nullptr, &back, false, false, false);
    EXPECT_EQ(whole(s), "cdba");
    Cell* t = text("dcba");
    Cell two{T_INTEGER, 0, 2, 0};
    string::sort(t, false, nullptr, nullptr, &two, false, false, false);
    EXPECT_EQ(whole(t), "cdba");

    Cell three{T_INTEGER, 0, 3, 0};
    expect_error(raised([&] { string::sort(t, false, &three, nullptr, nullptr, false, false,
                                                false); }),
                 "script", "invalid-refine-arg");
    expect_error(raised([&] { string::sort(t, false, nullptr, nullptr, nullptr, true, false,
                                                false); }),
                 "script", "bad-refines");
    expect_error(raised([&] { string::sort(t, false, nullptr, &two, nullptr, false, false,
                                                false); }),
                 "script", "bad-refines");
    expect_error(raised([&] { string::sort(t, false, &two, &three, nullptr, false, false,
                                                false); }),
                 "script", "out-of-range");
    Cell* odd = text("x");
    expect_error(raised([&] { string::sort(t, false, nullptr, odd, nullptr, false, false,
                                                false); }),
                 "script", "invalid-refine-arg");
}

// Sorting with Kov comparator functions runs in tests/lang/datatypes/sort-compare.kov; without
// the interpreter's service a function comparator is not done.
TEST_F(StringValue, SortWithAFunctionNeedsTheInterpreter) {
    Cell f{T_FUNCTION, 0, 0, 0};
    Cell* s = text("bdac");
    auto saved = block::call_comparator;
    block::call_comparator = nullptr;
    expect_error(raised([&] { string::sort(s, false, nullptr, &f, nullptr, false, false,
                                                false); }),
                 "internal", "not-done");
    block::call_comparator = saved;
}

// ---------------------------------------------------------------------------------------------
// Set operations.

TEST_F(StringValue, SetOperationsKeepNoDuplicates) {
    struct Row {
        int op;
        const char* a;
        const char* b;
        bool case_sensitive;
        int32_t skip;
        const char* out;
    };
    const Row rows[] = {
        {string::SET_UNIQUE, "aAbB", "", false, 0, "ab"},
        {string::SET_UNIQUE, "aAbB", "", true, 0, "aAbB"},
        {string::SET_UNION, "abca", "cdD", false, 0, "abcd"},
        {string::SET_INTERSECT, "abcab", "BCx", false, 0, "bc"},
        {string::SET_INTERSECT, "abcab", "BCx", true, 0, ""},
        {string::SET_EXCLUDE, "abcab", "b", false, 0, "ac"},
        {string::SET_DIFFERENCE, "abc", "cdd", false, 0, "abd"},
        {string::SET_UNIQUE, "a1b2a3", "", false, 2, "a1b2"},
        {string::SET_EXCLUDE, "a1b2c3", "b9", false, 2, "a1c3"},
    };
    for (const Row& r : rows) {
        stack::Snapshot keep;
        Cell* a = text(r.a);
        Cell* b = text(r.b);
        Cell skip{T_INTEGER, 0, uint32_t(r.skip), 0};
        string::do_set_op(a, b, r.case_sensitive, r.skip ? &skip : nullptr, r.op);
        EXPECT_EQ(utf8(a), r.out) << r.op << " " << r.a << " " << r.b;
        EXPECT_EQ(a->data1, 0u);
        keep.restore();
    }
    Cell* a = text("ab");
    Cell zero{T_INTEGER, 0, 0, 0};
    expect_error(raised([&] { string::do_set_op(a, a, false, &zero, string::SET_UNIQUE); }),
                 "script", "invalid-refine-arg");
}

// ---------------------------------------------------------------------------------------------
// Paths and registration.

TEST_F(StringValue, PathsSelectAndRefuseWords) {
    Cell* s = text("key=v");
    Cell* key = text("KEY");
    PathStep step{};
    step.value = s;
    step.element = key;
    Cell* r = string::eval_path(step);
    ASSERT_TRUE(r->is(T_CHAR));
    EXPECT_EQ(r->data2, uint32_t('='));
    Root w(*word::load("key"));
    step.element = w.get();
    expect_error(raised([&] { string::eval_path(step); }), "script", "invalid-path");
    Cell* missing = text("zz");
    step.element = missing;
    step.set_value = missing;
    expect_error(raised([&] { string::eval_path(step); }), "script", "bad-path-set");
}

TEST_F(StringValue, TheTypeIsRegisteredWithItsHandlers) {
    const ActionTable& t = type_registry::table(T_STRING);
    EXPECT_EQ(t.mold.fn, &string::mold);
    EXPECT_EQ(t.find.fn, &string::find);
    EXPECT_EQ(t.sort.fn, &string::sort);
    EXPECT_TRUE(t.make && t.to && t.trim && t.take && t.swap);
    EXPECT_FALSE(t.add);
}

}  // namespace
}  // namespace kov
