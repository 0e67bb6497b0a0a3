// Case mapping, the case-changing natives' work on values, and terminal column widths.
#include <cstring>
#include <string>
#include <vector>

#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "core/unicode_tables.hpp"
#include "datatypes/error.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/core/text_fixture.hpp"

namespace kov {
namespace {

using testing::Text;
using testing::Units;
using testing::make_text;
using testing::read_text;
using testing::unwind_code;
namespace tables = unicode::tables;

class UnicodeCase : public testing::RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        unicode::init_case_tables();
        saved = unicode::services;
    }
    void TearDown() override { unicode::services = saved; }
    unicode::Services saved{};
};

Units ascii(const std::string& s) { return Units(s.begin(), s.end()); }

// ---------------------------------------------------------------------------------------------
// The generated tables.

void expect_sorted_pairs(const uint32_t* pairs, uint32_t count) {
    for (uint32_t i = 1; i < count; i++) EXPECT_LT(pairs[2 * (i - 1)], pairs[2 * i]) << i;
}

void expect_sorted_ranges(const uint32_t* ranges, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        EXPECT_LE(ranges[2 * i], ranges[2 * i + 1]) << i;
        if (i) {
            EXPECT_LT(ranges[2 * i - 1] + 1, ranges[2 * i]) << "ranges touch or overlap at " << i;
        }
    }
}

TEST_F(UnicodeCase, CaseTablesHaveTheUnicode11Content) {
    EXPECT_EQ(tables::upper_pairs_count, 1250u);
    EXPECT_EQ(tables::lower_pairs_count, 1158u);
    EXPECT_EQ(tables::upper_supplementary_count, 225u);
    EXPECT_EQ(tables::lower_supplementary_count, 225u);
    expect_sorted_pairs(tables::upper_pairs, tables::upper_pairs_count);
    expect_sorted_pairs(tables::lower_pairs, tables::lower_pairs_count);
    expect_sorted_pairs(tables::upper_supplementary, tables::upper_supplementary_count);
    expect_sorted_pairs(tables::lower_supplementary, tables::lower_supplementary_count);

    // The first pairs are a-z and A-Z, the last the fullwidth letters.
    for (uint32_t i = 0; i < 26; i++) {
        EXPECT_EQ(tables::upper_pairs[2 * i], 0x61 + i);
        EXPECT_EQ(tables::upper_pairs[2 * i + 1], 0x41 + i);
        EXPECT_EQ(tables::lower_pairs[2 * i], 0x41 + i);
        EXPECT_EQ(tables::lower_pairs[2 * i + 1], 0x61 + i);
        uint32_t u = tables::upper_pairs_count - 26 + i, l = tables::lower_pairs_count - 26 + i;
        EXPECT_EQ(tables::upper_pairs[2 * u], 0xFF41 + i);
        EXPECT_EQ(tables::upper_pairs[2 * u + 1], 0xFF21 + i);
        EXPECT_EQ(tables::lower_pairs[2 * l], 0xFF21 + i);
        EXPECT_EQ(tables::lower_pairs[2 * l + 1], 0xFF41 + i);
    }
    EXPECT_EQ(tables::upper_supplementary[0], 0x10428u);
    EXPECT_EQ(tables::upper_supplementary[1], 0x10400u);
    EXPECT_EQ(tables::upper_supplementary[448], 0x1E943u);
    EXPECT_EQ(tables::upper_supplementary[449], 0x1E921u);
    EXPECT_EQ(tables::lower_supplementary[0], 0x10400u);
    EXPECT_EQ(tables::lower_supplementary[1], 0x10428u);
    EXPECT_EQ(tables::lower_supplementary[448], 0x1E921u);
    EXPECT_EQ(tables::lower_supplementary[449], 0x1E943u);
    for (uint32_t i = 0; i < tables::upper_pairs_count; i++) EXPECT_LE(tables::upper_pairs[2 * i], 0xFFFFu);
    for (uint32_t i = 0; i < tables::lower_pairs_count; i++) EXPECT_LE(tables::lower_pairs[2 * i], 0xFFFFu);
}

TEST_F(UnicodeCase, WidthTablesHaveTheirRanges) {
    struct Table { const uint32_t* ranges; uint32_t count; uint32_t expected; uint32_t first_lo,
                   first_hi, last_lo, last_hi; };
    const Table t[] = {
        {tables::zero_width_ranges, tables::zero_width_ranges_count, 339, 0x300, 0x36F, 0xE0100, 0xE01EF},
        {tables::wide_ranges, tables::wide_ranges_count, 122, 0x1100, 0x115F, 0x30000, 0x3FFFD},
        {tables::ambiguous_ranges, tables::ambiguous_ranges_count, 156, 0xA1, 0xA1, 0x100000, 0x10FFFD},
    };
    for (const Table& x : t) {
        EXPECT_EQ(x.count, x.expected);
        EXPECT_EQ(x.ranges[0], x.first_lo);
        EXPECT_EQ(x.ranges[1], x.first_hi);
        EXPECT_EQ(x.ranges[2 * x.count - 2], x.last_lo);
        EXPECT_EQ(x.ranges[2 * x.count - 1], x.last_hi);
    }
    expect_sorted_ranges(tables::zero_width_ranges, tables::zero_width_ranges_count);
    expect_sorted_ranges(tables::ambiguous_ranges, tables::ambiguous_ranges_count);
    // Wide ranges of different widths (W and F) may touch; they must not overlap.
    for (uint32_t i = 1; i < tables::wide_ranges_count; i++)
        EXPECT_LT(tables::wide_ranges[2 * i - 1], tables::wide_ranges[2 * i]);
}

// ---------------------------------------------------------------------------------------------
// Mapping one code point.

TEST_F(UnicodeCase, ChangeCaseChar) {
    struct Case { uint32_t cp; uint32_t upper; uint32_t lower; };
    const Case cases[] = {
        {'a', 'A', 'a'},
        {'Z', 'Z', 'z'},
        {'1', '1', '1'},
        {0, 0, 0},
        {0xE9, 0xC9, 0xE9},
        {0xC9, 0xC9, 0xE9},
        {0xDF, 0x53, 0xDF},      // sharp s: the first code point of "SS"
        {0xFF, 0x178, 0xFF},
        {0x178, 0x178, 0xFF},
        {0xB5, 0x39C, 0xB5},
        {0x130, 0x130, 0x69},    // capital I with dot: the first code point of "i̇"
        {0x131, 0x49, 0x131},
        {0x149, 0x2BC, 0x149},   // the first code point of "ʼN"
        {0x1C5, 0x1C4, 0x1C6},   // title-case digraph
        {0x3A3, 0x3A3, 0x3C3},
        {0x3C2, 0x3A3, 0x3C2},
        {0x10D0, 0x1C90, 0x10D0},  // Georgian, given case pairs in Unicode 11.0
        {0x1C90, 0x1C90, 0x10D0},
        {0x0282, 0x0282, 0x0282},  // its upper-case partner U+A7C5 came after Unicode 11.0
        {0xA7BA, 0xA7BA, 0xA7BA},
        {0xA7C5, 0xA7C5, 0xA7C5},
        {0xFF41, 0xFF21, 0xFF41},
        {0xFF3A, 0xFF3A, 0xFF5A},
        {0x4E00, 0x4E00, 0x4E00},
        {0xFFFF, 0xFFFF, 0xFFFF},
        {0x10428, 0x10400, 0x10428},
        {0x10400, 0x10400, 0x10428},
        {0x1E922, 0x1E900, 0x1E922},
        {0x1E943, 0x1E921, 0x1E943},
        {0x1E921, 0x1E921, 0x1E943},
        {0x10427, 0x10427, 0x1044F},
        {0x103FF, 0x103FF, 0x103FF},  // below the first key
        {0x1E944, 0x1E944, 0x1E944},  // above the last key
        {0x16E40, 0x16E40, 0x16E60},  // Medefaidrin, new in Unicode 11.0
        {0x10570, 0x10570, 0x10570},  // Vithkuqi came after Unicode 11.0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::change_case_char(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(unicode::change_case_char(c.cp, false), c.lower) << std::hex << c.cp;
    }
    EXPECT_EQ(unicode::to_upper_char(0xE9), 0xC9u);
    EXPECT_EQ(unicode::toggle_case('a'), uint32_t('A'));
    EXPECT_EQ(unicode::toggle_case('A'), uint32_t('a'));
    EXPECT_EQ(unicode::toggle_case('1'), uint32_t('1'));
    EXPECT_EQ(unicode::toggle_case(0x10400), 0x10428u);
}

TEST_F(UnicodeCase, EveryTablePairIsLookedUp) {
    const struct { const uint32_t* pairs; uint32_t count; bool upper; } lists[] = {
        {tables::upper_pairs, tables::upper_pairs_count, true},
        {tables::lower_pairs, tables::lower_pairs_count, false},
        {tables::upper_supplementary, tables::upper_supplementary_count, true},
        {tables::lower_supplementary, tables::lower_supplementary_count, false},
    };
    for (const auto& l : lists)
        for (uint32_t i = 0; i < l.count; i++)
            EXPECT_EQ(unicode::change_case_char(l.pairs[2 * i], l.upper), l.pairs[2 * i + 1]);
}

// ---------------------------------------------------------------------------------------------
// The natives' work on values.

struct ChangeCase {
    Units in;
    uint32_t unit;
    uint32_t head;
    bool upper;
    int part;  // -1000: no part
    Text out;
};

TEST_F(UnicodeCase, ChangeCaseOfText) {
    const ChangeCase cases[] = {
        {ascii("Hello, World"), 1, 0, true, -1000, {1, ascii("HELLO, WORLD")}},
        {ascii("Hello, World"), 1, 0, false, -1000, {1, ascii("hello, world")}},
        {ascii("abcdef"), 1, 2, true, -1000, {1, ascii("abCDEF")}},
        {ascii("abcdef"), 1, 1, true, 2, {1, ascii("aBCdef")}},
        {ascii("abcdef"), 1, 0, true, 0, {1, ascii("abcdef")}},
        {ascii("abcdef"), 1, 0, true, -3, {1, ascii("abcdef")}},   // negative counts as 0
        {ascii("abcdef"), 1, 4, true, 100, {1, ascii("abcdEF")}},  // cut to the tail
        {ascii("abc"), 1, 7, true, -1000, {1, ascii("abc")}},      // head past the tail
        {{'a', 0xE9, 0xFF}, 1, 0, true, -1000, {2, {'A', 0xC9, 0x178}}},  // widens to 2 bytes
        {{0xFF, 'a', 0xB5, 'b'}, 1, 0, true, -1000, {2, {0x178, 'A', 0x39C, 'B'}}},
        {{0xC9, 'A', 0x178}, 2, 0, false, -1000, {2, {0xE9, 'a', 0xFF}}},
        {{0x10400, 'A', 0x1E900}, 4, 0, false, -1000, {4, {0x10428, 'a', 0x1E922}}},
        {{0x10428, 0x1F600, 0x1E922}, 4, 0, true, -1000, {4, {0x10400, 0x1F600, 0x1E900}}},
        {{0x3C3, 0x3C2, 0x3A3}, 2, 0, true, 2, {2, {0x3A3, 0x3A3, 0x3A3}}},
    };
    for (const ChangeCase& c : cases) {
        collector::Root value(Cell{T_STRING, c.head, make_text(c.in, c.unit), 0});
        Cell part{T_INTEGER, 0, uint32_t(c.part), 0};
        unicode::change_case(value.get(), c.part == -1000 ? nullptr : &part, c.upper);
        EXPECT_EQ(read_text(value->data2), c.out) << "case " << &c - cases;
        if (c.head > c.in.size()) {
            EXPECT_EQ(value->data1, uint32_t(c.in.size()));
        }
    }
}

TEST_F(UnicodeCase, ChangeCaseOfEveryTextType) {
    for (uint32_t type : {T_STRING, T_FILE, T_URL, T_TAG, T_EMAIL, T_REF}) {
        collector::Root value(Cell{type, 0, make_text(ascii("ab"), 1), 0});
        Cell none{T_NONE, 0, 0, 0};
        unicode::change_case(value.get(), &none, true);
        EXPECT_EQ(read_text(value->data2), (Text{1, ascii("AB")})) << type;
    }
}

TEST_F(UnicodeCase, ChangeCaseOfChar) {
    Cell c{T_CHAR, 0, 0xE9, 0};
    unicode::change_case(&c, nullptr, true);
    EXPECT_EQ(c.data2, 0xC9u);
    unicode::change_case(&c, nullptr, false);
    EXPECT_EQ(c.data2, 0xE9u);
    c.data2 = 0x1E900;
    unicode::change_case(&c, nullptr, false);
    EXPECT_EQ(c.data2, 0x1E922u);
}

TEST_F(UnicodeCase, PartAsAPositionInTheSameText) {
    Handle node = make_text(ascii("abcdef"), 1);
    collector::Root value(Cell{T_STRING, 1, node, 0});
    collector::Root end(Cell{T_STRING, 4, node, 0});
    unicode::change_case(value.get(), end.get(), true);
    EXPECT_EQ(read_text(node), (Text{1, ascii("aBCDef")}));
    // A position before the head counts as 0.
    end->data1 = 0;
    unicode::change_case(value.get(), end.get(), false);
    EXPECT_EQ(read_text(node), (Text{1, ascii("aBCDef")}));
}

TEST_F(UnicodeCase, BadPartRaisesInvalidRefineArg) {
    unicode::services.part_word = [](Cell* out) { *out = Cell{T_WORD, 0, 4242, 0}; };
    collector::Root value(Cell{T_STRING, 0, make_text(ascii("abc"), 1), 0});
    collector::Root other(Cell{T_STRING, 2, make_text(ascii("xyz"), 1), 0});
    collector::Root same_node_other_type(Cell{T_FILE, 2, value->data2, 0});
    Cell decimal{T_FLOAT, 0, 0, 0};
    decimal.set_float(1.0);
    for (const Cell* part : {static_cast<const Cell*>(other.get()),
                             static_cast<const Cell*>(same_node_other_type.get()),
                             static_cast<const Cell*>(&decimal)}) {
        stack::mark_try(nullptr);
        ASSERT_EQ(unwind_code([&] { unicode::change_case(value.get(), part, true); }), THROW_ERROR);
        Cell* err = stack::top_value();
        EXPECT_EQ(error::category_word(err), "script");
        EXPECT_EQ(error::id_word(err), "invalid-refine-arg");
        EXPECT_TRUE(error::field(err, error::F_ARG1)->is(T_WORD));
        EXPECT_EQ(error::field(err, error::F_ARG1)->data2, 4242u);
        EXPECT_EQ(error::field(err, error::F_ARG2)->type(), part->type());
        EXPECT_EQ(read_text(value->data2), (Text{1, ascii("abc")}));  // untouched
    }
}

struct OwnershipCall {
    int calls = 0;
    std::string action;
    uint32_t index = 0, count = 0;
};
OwnershipCall ownership_seen;

TEST_F(UnicodeCase, OwnedTextReportsTheChange) {
    ownership_seen = {};
    unicode::services.ownership_check = [](const Cell*, const char* action, uint32_t index,
                                           uint32_t count) {
        ownership_seen.calls++;
        ownership_seen.action = action;
        ownership_seen.index = index;
        ownership_seen.count = count;
        return 1;
    };
    collector::Root value(Cell{T_STRING, 1, make_text(ascii("abcd"), 1), 0});
    Cell part{T_INTEGER, 0, 2, 0};
    unicode::change_case(value.get(), &part, true);
    EXPECT_EQ(ownership_seen.calls, 0);  // not owned: nothing to report

    memory::buffer_of(value->data2)->flags |= SER_OWNED;
    unicode::change_case(value.get(), &part, false);
    EXPECT_EQ(ownership_seen.calls, 1);
    EXPECT_EQ(ownership_seen.action, "lowercase");
    EXPECT_EQ(ownership_seen.index, 1u);
    EXPECT_EQ(ownership_seen.count, 2u);
    unicode::change_case(value.get(), nullptr, true);
    EXPECT_EQ(ownership_seen.action, "uppercase");
    EXPECT_EQ(ownership_seen.count, 3u);
}

TEST_F(UnicodeCase, LongTextWidensOnceAndMapsEverything) {
    Units in, out;
    for (int i = 0; i < 3000; i++) {
        uint32_t c = i == 1500 ? 0xFF : "abcxyz\xE9"[i % 7] & 0xFF;
        in.push_back(c);
        out.push_back(unicode::change_case_char(c, true));
    }
    collector::Root value(Cell{T_STRING, 0, make_text(in, 1), 0});
    unicode::change_case(value.get(), nullptr, true);
    EXPECT_EQ(read_text(value->data2), (Text{2, out}));
}

// ---------------------------------------------------------------------------------------------
// Column widths.

TEST_F(UnicodeCase, CharWidth) {
    struct Case { uint32_t cp; int width; int cjk; };
    const Case cases[] = {
        {0x0000, 0, 0},
        {0x0001, 1, 1},   {0x001B, 1, 1},   {0x001F, 1, 1},
        {0x0020, 1, 1},   {0x0041, 1, 1},   {0x007E, 1, 1},
        {0x007F, 1, 1},   {0x0085, 1, 1},   {0x009F, 1, 1},
        {0x00A0, 1, 1},   {0x00A1, 1, 2},   {0x00AD, 1, 1},   {0x00E9, 1, 2},
        {0x0300, 0, 0},   {0x0301, 0, 0},   {0x036F, 0, 0},   {0x0370, 1, 1},
        {0x0483, 0, 0},   {0x0600, 0, 0},   {0x0E31, 0, 0},
        {0x1100, 2, 2},   {0x115F, 2, 2},   {0x1160, 0, 0},   {0x11FF, 0, 0},   {0x1200, 1, 1},
        {0x200B, 0, 0},   {0x200D, 0, 0},   {0x2010, 1, 2},   {0x2028, 1, 1},
        {0x231A, 2, 2},   {0x2329, 2, 2},   {0x25A0, 1, 2},
        {0x3000, 2, 2},   {0x3001, 2, 2},   {0x3042, 2, 2},   {0x4E00, 2, 2},   {0x9FFF, 2, 2},
        {0xAC00, 2, 2},   {0xD7A3, 2, 2},   {0xD7A4, 1, 1},
        {0xE000, 1, 2},   {0xF8FF, 1, 2},   {0xFE00, 0, 0},   {0xFE0F, 0, 0},
        {0xFEFF, 0, 0},   {0xFF01, 2, 2},   {0xFF60, 2, 2},   {0xFF61, 1, 1},   {0xFFFD, 1, 2},
        {0x1D167, 0, 0},  {0x1F300, 2, 2},  {0x1F600, 2, 2},  {0x1F1E6, 1, 1},
        {0x20000, 2, 2},  {0x2A6DF, 2, 2},  {0x2FFFD, 2, 2},  {0x2FFFE, 1, 1},
        {0x30000, 2, 2},  {0x3FFFD, 2, 2},  {0x3FFFE, 1, 1},
        {0xE0001, 0, 0},  {0xE0100, 0, 0},  {0xE01EF, 0, 0},  {0xE01F0, 1, 1},
        {0xF0000, 1, 2},  {0x10FFFD, 1, 2}, {0x10FFFF, 1, 1}, {0x110000, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

TEST_F(UnicodeCase, InRanges) {
    const uint32_t list[] = {10, 20, 30, 30, 50, 60};
    struct Case { uint32_t cp; bool in; };
    for (Case c : {Case{9, false}, Case{10, true}, Case{15, true}, Case{20, true}, Case{21, false},
                   Case{30, true}, Case{31, false}, Case{55, true}, Case{60, true}, Case{61, false}})
        EXPECT_EQ(unicode::in_ranges_q(c.cp, list, 6), c.in) << c.cp;
    EXPECT_FALSE(unicode::in_ranges_q(10, list, 0));
    // The binary search behind char_width agrees with the plain scan on every table.
    for (uint32_t cp = 0; cp < 0x110000; cp += 7) {
        bool zero = unicode::in_ranges_q(cp, tables::zero_width_ranges, 2 * tables::zero_width_ranges_count);
        bool wide = unicode::in_ranges_q(cp, tables::wide_ranges, 2 * tables::wide_ranges_count);
        bool amb = unicode::in_ranges_q(cp, tables::ambiguous_ranges, 2 * tables::ambiguous_ranges_count);
        int expected = cp == 0 ? 0 : (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) ? 1 : zero ? 0 : wide ? 2 : 1;
        ASSERT_EQ(unicode::char_width(cp), expected) << std::hex << cp;
        ASSERT_EQ(unicode::char_width_cjk(cp), amb ? 2 : expected) << std::hex << cp;
    }
}

}  // namespace
}  // namespace kov
