// Text storage: reading and writing characters in buffers of 1-, 2- and 4-byte units, the
// widening rules, concatenation in every mode, swapping byte runs, loading UTF-8 and UTF-16LE,
// hexadecimal helpers and the comparison helpers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/core/text_fixture.hpp"

namespace kov {
namespace {

using Bytes = std::vector<uint8_t>;
using collector::Root;
using testing::Text;
using testing::Units;
using testing::make_text;
using testing::read_text;
using testing::unwind_code;

class StringStorage : public testing::RuntimeTest {};

// A string! value of the given unit holding the code points, head at `head`.
Cell text_value(const Units& cps, uint32_t unit, uint32_t head = 0) {
    return Cell{T_STRING, head, make_text(cps, unit), 0};
}

Text text_of(const Cell* c) { return read_text(c->data2); }

// Sample characters of each width class.
constexpr uint32_t ASCII = 0x41, LATIN = 0xE9, BMP = 0x416, BMP_HIGH = 0xFFFF, ASTRAL = 0x1F600;

// A character that a unit holds and that no narrower unit holds (ASCII for unit 1).
uint32_t sample_of(uint32_t unit) { return unit == 1 ? LATIN : unit == 2 ? BMP : ASTRAL; }

// Expects the last raised error to be category/id.
void expect_error(uint32_t code, const char* category, const char* id) {
    ASSERT_EQ(code, THROW_ERROR);
    Cell* err = stack::top_value();
    EXPECT_EQ(error::category_word(err), category);
    EXPECT_EQ(error::id_word(err), id);
}

// ---------------------------------------------------------------------------------------------
// Widening.

enum class Op { Append, OverwriteInside, OverwriteTail, Insert, Store };

TEST_F(StringStorage, WideningFollowsTheTableForEveryOperationUnitAndCodePoint) {
    struct Case {
        Op op;
        uint32_t unit;
        uint32_t cp;
        uint32_t expected_unit;
    };
    const Op positional[] = {Op::OverwriteInside, Op::OverwriteTail, Op::Insert, Op::Store};
    std::vector<Case> cases;
    // Appending: unit 1 keeps only code points below 0x80.
    for (auto [cp, u1] : {std::pair{ASCII, 1u}, {0x7Fu, 1u}, {0x80u, 2u}, {LATIN, 2u}, {0xFFu, 2u},
                          {BMP, 2u}, {BMP_HIGH, 2u}, {0x10000u, 4u}, {ASTRAL, 4u}}) {
        cases.push_back({Op::Append, 1, cp, u1});
        cases.push_back({Op::Append, 2, cp, cp > 0xFFFF ? 4u : 2u});
        cases.push_back({Op::Append, 4, cp, 4});
    }
    // Writing at a position: unit 1 keeps everything up to 0xFF.
    for (Op op : positional) {
        for (auto [cp, u1] : {std::pair{ASCII, 1u}, {0x80u, 1u}, {LATIN, 1u}, {0xFFu, 1u},
                              {0x100u, 2u}, {BMP_HIGH, 2u}, {0x10000u, 4u}, {ASTRAL, 4u}}) {
            cases.push_back({op, 1, cp, u1});
            cases.push_back({op, 2, cp, cp > 0xFFFF ? 4u : 2u});
            cases.push_back({op, 4, cp, 4});
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE("op " + std::to_string(int(c.op)) + " unit " + std::to_string(c.unit) +
                     " cp " + std::to_string(c.cp));
        Units start = {'a', c.unit == 1 ? 'b' : sample_of(c.unit), 'c'};
        Root s(text_value(start, c.unit));
        Handle node = s->data2;
        Units expected = start;
        SeriesBuffer* b = memory::buffer_of(node);
        switch (c.op) {
            case Op::Append:
                b = string::append_char(b, c.cp);
                expected.push_back(c.cp);
                break;
            case Op::OverwriteInside:
                b = string::overwrite_char(b, 1, c.cp);
                expected[1] = c.cp;
                break;
            case Op::OverwriteTail:
                b = string::overwrite_char(b, 3, c.cp);
                expected.push_back(c.cp);
                break;
            case Op::Insert:
                b = string::insert_char(b, 1, c.cp);
                expected.insert(expected.begin() + 1, c.cp);
                break;
            case Op::Store:
                b = string::store_char(b, b->head_ptr() + 2 * c.unit, c.cp);
                expected[2] = c.cp;
                break;
        }
        EXPECT_EQ(b, memory::buffer_of(node)) << "the buffer returned is the node's";
        EXPECT_EQ(text_of(s.get()), (Text{c.expected_unit, expected}));
    }
}

TEST_F(StringStorage, AppendingGrowsAndWidensOncePerBuffer) {
    Root s;
    string::ks_make_at(s.get(), 0);
    Units expected;
    SeriesBuffer* b = memory::buffer_of(s->data2);
    for (uint32_t i = 0; i < 3000; i++) {
        uint32_t cp = i < 1000 ? 'a' + i % 26 : i < 2000 ? 0x400 + i % 64 : 0x1F600 + i % 16;
        b = string::append_char(b, cp);
        expected.push_back(cp);
        if (i == 999) {
            EXPECT_EQ(b->unit(), 1u);
        }
        if (i == 1000) {
            EXPECT_EQ(b->unit(), 2u);
        }
    }
    EXPECT_EQ(text_of(s.get()), (Text{4, expected}));
    EXPECT_EQ(string::char_count(s.get()), 3000u);
}

TEST_F(StringStorage, ResetEmptiesAndNarrowsToUnitOne) {
    Root s(text_value({ASTRAL, 'x', BMP}, 4, 2));
    string::reset(s.get());
    EXPECT_EQ(text_of(s.get()), (Text{1, {}}));
    EXPECT_EQ(s->data1, 0u);
    // The buffer takes narrow characters at unit 1 again.
    string::append_char(memory::buffer_of(s->data2), 'q');
    EXPECT_EQ(text_of(s.get()), (Text{1, {'q'}}));
}

TEST_F(StringStorage, WidenToEveryPairKeepsTheTextAndTheNode) {
    struct Case { uint32_t from, to; };
    for (Case c : {Case{1, 2}, {1, 4}, {2, 4}, {2, 1}, {4, 2}, {4, 1}, {2, 2}}) {
        Units cps = {'k', c.from == 1 ? LATIN : sample_of(c.from), 'o'};
        Root s(text_value(cps, c.from));
        SeriesBuffer* b = string::widen_to(memory::buffer_of(s->data2), c.from, c.to);
        EXPECT_EQ(b, memory::buffer_of(s->data2));
        EXPECT_EQ(text_of(s.get()), (Text{std::max(c.from, c.to), cps}))
            << c.from << " -> " << c.to;
    }
}

TEST_F(StringStorage, WidenCopyIntoANewBufferOrATarget) {
    Units cps = {'w', LATIN, 'd'};
    // No target: the node gets a wider buffer of the capacity asked for.
    Root s(text_value(cps, 1));
    SeriesBuffer* b = string::widen_copy(memory::buffer_of(s->data2), nullptr, 100, 4);
    EXPECT_EQ(b, memory::buffer_of(s->data2));
    EXPECT_EQ(text_of(s.get()), (Text{4, cps}));
    EXPECT_GE(uint32_t(b->size) - b->head, 400u);
    // A target: its text is replaced by the converted copy; the source is unchanged.
    Root src(text_value(cps, 1));
    Root dst(text_value({'x', 'y', 'z', 'z', 'y'}, 1));
    SeriesBuffer* t = string::widen_copy(memory::buffer_of(src->data2),
                                         memory::buffer_of(dst->data2), 64, 2);
    EXPECT_EQ(t, memory::buffer_of(dst->data2));
    EXPECT_EQ(text_of(dst.get()), (Text{2, cps}));
    EXPECT_EQ(text_of(src.get()), (Text{1, cps}));
    // A unit narrower than the text's is taken as the text's own.
    Root wide(text_value({ASTRAL}, 4));
    string::widen_copy(memory::buffer_of(wide->data2), nullptr, 4, 1);
    EXPECT_EQ(text_of(wide.get()), (Text{4, {ASTRAL}}));
}

// ---------------------------------------------------------------------------------------------
// Heads, counts and reading.

TEST_F(StringStorage, HeadPastTheTailIsClampedByHeadAndCount) {
    Root s(text_value({'a', 'b', 'c'}, 2, 7));
    EXPECT_TRUE(string::at_tail_q(s.get()));
    EXPECT_EQ(string::length(s.get()), 0u);
    EXPECT_EQ(s->data1, 7u) << "length leaves the value as it is";
    EXPECT_EQ(string::buffer_char_count(s.get()), 3u);
    EXPECT_EQ(string::ks_head(s.get()), string::tail_address(s.get()));
    EXPECT_EQ(s->data1, 3u);
    s->data1 = 9;
    EXPECT_EQ(string::char_count(s.get()), 0u);
    EXPECT_EQ(s->data1, 3u);
    s->data1 = 1;
    EXPECT_FALSE(string::at_tail_q(s.get()));
    EXPECT_EQ(string::char_count(s.get()), 2u);
    EXPECT_EQ(string::ks_head(s.get()), memory::buffer_of(s->data2)->head_ptr() + 2);
    EXPECT_EQ(string::get_char(string::ks_head(s.get()), 2), uint32_t('b'));
}

TEST_F(StringStorage, FindAndTestCharacters) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        SCOPED_TRACE(unit);
        uint32_t wide = unit == 1 ? LATIN : sample_of(unit);
        Root s(text_value({'x', 'a', 'B', wide, 'a', 'c'}, unit, 1));
        EXPECT_EQ(string::find_char(s.get(), 'a'), 0);
        EXPECT_EQ(string::find_char(s.get(), wide), 2);
        EXPECT_EQ(string::find_char(s.get(), 'x'), -1) << "before the head";
        EXPECT_EQ(string::find_char(s.get(), 'b'), -1) << "exact";
        EXPECT_TRUE(string::has_char_q('b', s.get(), 1, false));
        EXPECT_FALSE(string::has_char_q('b', s.get(), 1, true));
        EXPECT_TRUE(string::has_char_q('B', s.get(), 1, true));
        // Step 2 looks at a, wide, c; step 3 at a, a.
        EXPECT_TRUE(string::has_char_q('c', s.get(), 2, true));
        EXPECT_FALSE(string::has_char_q('B', s.get(), 2, true));
        EXPECT_FALSE(string::has_char_q('c', s.get(), 3, true));
        EXPECT_TRUE(string::has_char_q('A', s.get(), 3, false));
        EXPECT_FALSE(string::has_char_q('x', s.get(), 1, true));
        EXPECT_TRUE(string::starts_with_cstring_q(s.get(), "aB"));
        EXPECT_TRUE(string::starts_with_cstring_q(s.get(), ""));
        EXPECT_FALSE(string::starts_with_cstring_q(s.get(), "ab"));
        EXPECT_FALSE(string::starts_with_cstring_q(s.get(), "aBxx"));
        EXPECT_FALSE(string::starts_with_cstring_q(s.get(), "aBac!"));
    }
    Root shortish(text_value({'a'}, 1));
    EXPECT_FALSE(string::starts_with_cstring_q(shortish.get(), "ab"));
}

// ---------------------------------------------------------------------------------------------
// Insert, remove, overwrite.

TEST_F(StringStorage, InsertRemoveAndOverwriteEdges) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        SCOPED_TRACE(unit);
        Root s(text_value({'a', 'b', 'c'}, unit));
        auto buf = [&] { return memory::buffer_of(s->data2); };
        string::insert_char(buf(), 0, '0');
        string::insert_char(buf(), 4, 'z');   // at the tail
        string::insert_char(buf(), 99, 'Z');  // past the tail: at the tail
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'0', 'a', 'b', 'c', 'z', 'Z'}}));

        string::remove_char(s.get(), 5);  // the last
        string::remove_char(s.get(), 5);  // at the tail: nothing
        string::remove_char(s.get(), 0);
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'a', 'b', 'c', 'z'}}));
        string::remove_chars(s.get(), 1, 2);
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'a', 'z'}}));
        string::remove_chars(s.get(), 1, 100);  // cut to the tail
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'a'}}));
        string::remove_chars(s.get(), 1, 1);
        string::remove_chars(s.get(), 5, 1);
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'a'}}));

        string::overwrite_char(buf(), 0, 'A');
        string::overwrite_char(buf(), 1, 'B');  // at the tail: the tail moves
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'A', 'B'}}));
        // Past the tail: the units in between read 0.
        string::overwrite_char(buf(), 4, 'E');
        EXPECT_EQ(text_of(s.get()), (Text{unit, {'A', 'B', 0, 0, 'E'}}));
        // Beyond the capacity: the buffer grows.
        uint32_t cap = (uint32_t(buf()->size) - buf()->head) / unit;
        string::overwrite_char(buf(), cap, 'F');
        EXPECT_EQ(string::buffer_char_count(s.get()), cap + 1);
        EXPECT_EQ(string::char_at(s.get(), cap), uint32_t('F'));
        EXPECT_EQ(string::char_at(s.get(), 4), uint32_t('E'));
    }
}

TEST_F(StringStorage, InsertAtAFullBufferGrows) {
    Root s;
    string::ks_make_at(s.get(), 1);
    Units expected;
    for (uint32_t i = 0; i < 200; i++) {
        string::insert_char(memory::buffer_of(s->data2), i / 2, 'a' + i % 26);
        expected.insert(expected.begin() + i / 2, 'a' + i % 26);
    }
    EXPECT_EQ(text_of(s.get()), (Text{1, expected}));
}

TEST_F(StringStorage, NoteMinChangeCutsTheTailBack) {
    struct Case { uint32_t n; uint32_t length; };
    for (Case c : {Case{2, 2}, {0, 0}, {5, 5}, {9, 5}, {100000, 5}}) {
        Root s(text_value({'a', 'b', 'c', 'd', 'e'}, 2));
        string::note_min_change(memory::buffer_of(s->data2), c.n);
        EXPECT_EQ(string::buffer_char_count(s.get()), c.length) << c.n;
    }
}

TEST_F(StringStorage, MoveCharsBetweenBuffersOfEveryUnitPair) {
    for (uint32_t su : {1u, 2u, 4u}) {
        for (uint32_t du : {1u, 2u, 4u}) {
            SCOPED_TRACE(std::to_string(su) + " -> " + std::to_string(du));
            uint32_t w = su == 1 ? LATIN : sample_of(su);
            Root src(text_value({'s', w, 't', 'u'}, su, 1));
            Root dst(text_value({'1', '2', '3'}, du, 2));
            string::move_chars(src.get(), dst.get(), 2);
            EXPECT_EQ(text_of(src.get()), (Text{su, {'s', 'u'}}));
            Text d = text_of(dst.get());
            EXPECT_EQ(d.units, (Units{'1', '2', w, 't', '3'}));
            // Moved characters are inserted at a position: Latin-1 stays in unit 1.
            uint32_t need = w <= 0xFF ? 1 : w <= 0xFFFF ? 2 : 4;
            EXPECT_EQ(d.unit, std::max(du, need));
            // A count beyond the source is cut to it.
            string::move_chars(src.get(), dst.get(), 50);
            EXPECT_EQ(text_of(src.get()).units, (Units{'s'}));
            EXPECT_EQ(text_of(dst.get()).units, (Units{'1', '2', 'u', w, 't', '3'}));
        }
    }
}

TEST_F(StringStorage, MoveCharsWithinOneBuffer) {
    Root s(text_value({'a', 'b', 'c', 'd', 'e'}, 1, 0));
    Root to(Cell{T_STRING, 3, s->data2, 0});
    string::move_chars(s.get(), to.get(), 2);  // "ab" out, then in at index 3 of "cde"
    EXPECT_EQ(text_of(s.get()).units, (Units{'c', 'd', 'e', 'a', 'b'}));
}

TEST_F(StringStorage, SwapAdjacentRunsOfEverySize) {
    uint32_t big = string::SWAP_SCRATCH_BYTES;
    struct Case { uint32_t first, second; };
    const Case cases[] = {{1, 1},       {3, 5},           {5, 3},       {0, 4},
                          {4, 0},       {big, big},       {big + 1, 3}, {3, big + 1},
                          {big * 3, big * 2 + 7}, {big * 2 + 7, big * 3}, {1, big * 4}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.first + c.second);
        for (size_t i = 0; i < bytes.size(); i++) bytes[i] = uint8_t(i * 7 + i / 251);
        std::vector<uint8_t> expected = bytes;
        std::rotate(expected.begin(), expected.begin() + c.first, expected.end());
        string::swap_adjacent(bytes.data(), c.first, c.second);
        EXPECT_TRUE(bytes == expected) << c.first << " + " << c.second;
        EXPECT_EQ(string::swap_scratch_bytes(), big) << "the scratch area goes back to its size";
    }
}

TEST_F(StringStorage, SwapAdjacentInsideATextBuffer) {
    Root s(text_value({'h', 'e', 'l', 'l', 'o', BMP, 'w'}, 2));
    uint8_t* head = string::ks_head(s.get());
    string::swap_adjacent(head, 5 * 2, 2 * 2);
    EXPECT_EQ(text_of(s.get()).units, (Units{BMP, 'w', 'h', 'e', 'l', 'l', 'o'}));
}

// ---------------------------------------------------------------------------------------------
// Concatenation.

// The text a concatenation should leave: the destination's units, with the source's part
// appended, inserted at head + offset, or written over from there.
Units concatenated(const Units& dst, uint32_t head, const Units& src, int mode, uint32_t offset) {
    Units out = dst;
    uint32_t at = mode == string::CONCAT_APPEND
                      ? uint32_t(dst.size())
                      : head + std::min<uint32_t>(offset, uint32_t(dst.size()) - head);
    if (mode == string::CONCAT_INSERT) {
        out.insert(out.begin() + at, src.begin(), src.end());
    } else {
        if (out.size() < at + src.size()) out.resize(at + src.size());
        std::copy(src.begin(), src.end(), out.begin() + at);
    }
    return out;
}

TEST_F(StringStorage, ConcatenateInEveryModeUnitPairAndConvertFlag) {
    for (int mode : {string::CONCAT_APPEND, string::CONCAT_INSERT, string::CONCAT_OVERWRITE}) {
        for (uint32_t du : {1u, 2u, 4u}) {
            for (uint32_t su : {1u, 2u, 4u}) {
                for (bool convert : {false, true}) {
                    for (int32_t count : {-1, 2, 0, 99}) {
                        for (uint32_t offset : {0u, 1u, 9u}) {
                            std::string trace = "mode " + std::to_string(mode) + " du " +
                                                std::to_string(du) + " su " +
                                                std::to_string(su) + " convert " +
                                                std::to_string(convert) + " count " +
                                                std::to_string(count) + " offset " +
                                                std::to_string(offset);
                            SCOPED_TRACE(trace);
                            Units d_cps = {'d', du == 1 ? 'e' : sample_of(du), 's', 't'};
                            Units s_cps = {'x', su == 1 ? LATIN : sample_of(su), 'y'};
                            Root dst(text_value(d_cps, du, 1));
                            Root src(text_value(s_cps, su, 0));
                            string::concatenate(dst.get(), src.get(), count, offset, convert,
                                                mode);
                            Units part = s_cps;
                            if (count >= 0 && uint32_t(count) < part.size()) part.resize(count);
                            Units want = concatenated(d_cps, 1, part, mode, offset);
                            uint32_t want_unit = std::max(du, su);
                            EXPECT_EQ(text_of(dst.get()), (Text{want_unit, want}));
                            // The source keeps its text; it is widened in place only without
                            // the convert flag.
                            uint32_t src_unit = su < du && !convert ? du : su;
                            EXPECT_EQ(text_of(src.get()), (Text{src_unit, s_cps}));
                        }
                    }
                }
            }
        }
    }
}

TEST_F(StringStorage, ConcatenateGrowsAFullDestination) {
    Root dst;
    string::ks_make_at(dst.get(), 1);
    Root src(text_value(Units(300, 'q'), 1));
    for (int i = 0; i < 20; i++) string::concatenate(dst.get(), src.get(), -1, 0, true, 0);
    EXPECT_EQ(string::char_count(dst.get()), 6000u);
    Root mid(text_value({BMP, BMP}, 2));
    string::concatenate(dst.get(), mid.get(), -1, 3000, true, string::CONCAT_INSERT);
    EXPECT_EQ(string::char_count(dst.get()), 6002u);
    EXPECT_EQ(string::char_at(dst.get(), 3000), BMP);
    EXPECT_EQ(string::char_at(dst.get(), 6001), uint32_t('q'));
}

TEST_F(StringStorage, ConcatenateATextWithItself) {
    struct Case {
        int mode;
        uint32_t src_head, dst_head, offset;
        Units expected;
    };
    const Case cases[] = {
        {string::CONCAT_APPEND, 0, 0, 0, {'a', 'b', 'c', 'd', 'a', 'b', 'c', 'd'}},
        {string::CONCAT_APPEND, 2, 0, 0, {'a', 'b', 'c', 'd', 'c', 'd'}},
        {string::CONCAT_INSERT, 0, 0, 1, {'a', 'a', 'b', 'c', 'd', 'b', 'c', 'd'}},
        {string::CONCAT_INSERT, 1, 0, 2, {'a', 'b', 'b', 'c', 'd', 'c', 'd'}},
        {string::CONCAT_OVERWRITE, 0, 2, 0, {'a', 'b', 'a', 'b', 'c', 'd'}},
        {string::CONCAT_OVERWRITE, 2, 0, 0, {'c', 'd', 'c', 'd'}},
    };
    for (const Case& c : cases) {
        Root dst(text_value({'a', 'b', 'c', 'd'}, 2, c.dst_head));
        Root src(Cell{T_STRING, c.src_head, dst->data2, 0});
        string::concatenate(dst.get(), src.get(), -1, c.offset, false, c.mode);
        EXPECT_EQ(text_of(dst.get()).units, c.expected) << "case " << &c - cases;
    }
}

TEST_F(StringStorage, ConcatenateFromASymbolSpelling) {
    uint32_t id = symbol::make("spelling");
    Root sym(*symbol::get(id));
    Root dst(text_value({'>'}, 1));
    string::concatenate(dst.get(), sym.get(), -1, 0, true, string::CONCAT_APPEND);
    EXPECT_EQ(string::to_utf8(dst.get()), ">spelling");
    string::concatenate(dst.get(), sym.get(), 3, 0, true, string::CONCAT_INSERT);
    EXPECT_EQ(string::to_utf8(dst.get()), "spe>spelling");
}

TEST_F(StringStorage, ConcatenateCStringsAndBytes) {
    struct Case {
        uint32_t unit;
        std::string bytes;
        Text expected;
    };
    const Case cases[] = {
        {1, "AB", {1, {'-', 'A', 'B'}}},
        {1, "", {1, {'-'}}},
        {1, "\xE9!", {2, {'-', 0xE9, '!'}}},
        {2, "AB", {2, {'-', 'A', 'B'}}},
        {4, "A\xFF", {4, {'-', 'A', 0xFF}}},
    };
    for (const Case& c : cases) {
        Root s(text_value({'-'}, c.unit));
        string::concatenate_cstring(s.get(), c.bytes.c_str());
        EXPECT_EQ(text_of(s.get()), c.expected) << "cstring, case " << &c - cases;
        Root t(text_value({'-'}, c.unit));
        if (!c.bytes.empty())
            string::concatenate_bytes(t.get(), reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                      uint32_t(c.bytes.size()));
        EXPECT_EQ(text_of(t.get()), c.expected) << "bytes, case " << &c - cases;
    }
}

TEST_F(StringStorage, ConcatenateBytesFromItsOwnBufferWhileItGrows) {
    Root s;
    string::ks_make_at(s.get(), 1);
    string::concatenate_cstring(s.get(), "0123456789abcdef");  // fills the buffer
    for (int i = 0; i < 6; i++) {
        uint32_t n = string::char_count(s.get());
        string::concatenate_bytes(s.get(), string::ks_head(s.get()), n);
    }
    std::string want = "0123456789abcdef";
    for (int i = 0; i < 6; i++) want += want;
    EXPECT_EQ(string::to_utf8(s.get()), want);
}

// ---------------------------------------------------------------------------------------------
// Loading.

TEST_F(StringStorage, LoadsUtf8AndUtf16KeepingLineEnds) {
    struct Case {
        int encoding;
        Bytes input;
        uint32_t length;  // bytes or 16-bit units
        Text expected;
    };
    const Case cases[] = {
        {string::ENCODING_UTF8, {'a', '\r', '\n', 'b'}, 4, {1, {'a', '\r', '\n', 'b'}}},
        {string::ENCODING_UTF8, {'a', '\r', 'b', '\n'}, 4, {1, {'a', '\r', 'b', '\n'}}},
        {string::ENCODING_UTF8, {0xEF, 0xBB, 0xBF, 'a', '\r', '\n'}, 6, {1, {'a', '\r', '\n'}}},
        {string::ENCODING_UTF8, {0xC3, 0xA9, '\r', '\n'}, 4, {1, {0xE9, '\r', '\n'}}},
        {string::ENCODING_UTF8, {'x', 0xE2, 0x82, 0xAC, '\r', '\n'}, 6, {2, {'x', 0x20AC, '\r', '\n'}}},
        {string::ENCODING_UTF8, {0xF0, 0x9F, 0x98, 0x80, '\n'}, 5, {4, {0x1F600, '\n'}}},
        {string::ENCODING_UTF8, {}, 0, {1, {}}},
        {string::ENCODING_UTF16LE, {'a', 0, '\r', 0, '\n', 0, 'b', 0}, 4, {1, {'a', '\r', '\n', 'b'}}},
        {string::ENCODING_UTF16LE, {0x16, 0x04, '\r', 0, '\n', 0}, 3, {2, {0x416, '\r', '\n'}}},
        {string::ENCODING_UTF16LE, {0x3D, 0xD8, 0x00, 0xDE, '\r', 0, '\n', 0}, 4, {4, {0x1F600, '\r', '\n'}}},
    };
    for (const Case& c : cases) {
        Root out(Cell{T_INTEGER, 5, 6, 7});
        Cell* r = string::load(c.input.data(), c.length, out.get(), c.encoding);
        EXPECT_EQ(r, out.get());
        ASSERT_TRUE(out->is(T_STRING));
        EXPECT_EQ(out->data1, 0u);
        EXPECT_EQ(text_of(out.get()), c.expected) << "case " << &c - cases;
    }
}

TEST_F(StringStorage, LoadOntoTheStackIntoABlockAndFromInsideTheArena) {
    // The source bytes lie in a binary! buffer that the loads' allocations may move.
    Handle bytes = memory::make_bytes(64);
    Root bin(Cell{T_BINARY, 0, bytes, 0});
    buffer::append_bytes(bytes, "caf\xC3\xA9\r\n", 7);
    Cell* top = string::load_default(memory::buffer_of(bin->data2)->head_ptr(), 7,
                                      string::ENCODING_UTF8);
    EXPECT_EQ(top, stack::top_value());
    EXPECT_EQ(text_of(top), (Text{1, {'c', 'a', 'f', 0xE9, '\r', '\n'}}));

    Root block(Cell{T_BLOCK, 0, memory::make_cells(1), 0});
    for (int i = 0; i < 5; i++)
        string::load_in(memory::buffer_of(bin->data2)->head_ptr(), 3, block.get(),
                        string::ENCODING_UTF16LE);
    SeriesBuffer* b = memory::buffer_of(block->data2);
    ASSERT_EQ(b->used() / 16, 5u);
    // 3 UTF-16LE units from the bytes c a f C3 A9 \r: 0x6163, 0xC366, 0x0DA9.
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(text_of(&memory::buffer_of(block->data2)->head_cell()[i]),
                  (Text{2, {0x6163, 0xC366, 0x0DA9}}));
}

TEST_F(StringStorage, LoadWithAnUnsupportedEncodingRaisesAnError) {
    for (int encoding : {1, 2, -2, 1252}) {
        Root out(Cell{T_NONE, 0, 0, 0});
        const uint8_t text[] = "abc";
        stack::mark_try(nullptr);
        uint32_t code = unwind_code([&] { string::load(text, 3, out.get(), encoding); });
        expect_error(code, "script", "invalid-arg");
        Cell* arg = error::field(stack::top_value(), error::F_ARG1);
        EXPECT_TRUE(arg->is(T_INTEGER));
        EXPECT_EQ(arg->get_int(), encoding);
        EXPECT_TRUE(out->is(T_NONE)) << "the target is left as it was";
    }
}

TEST_F(StringStorage, LoadUtf8CheckedReportsTheUndecodedRest) {
    Root out;
    const uint8_t good[] = {'o', 'k', 0xE2, 0x82, 0xAC};
    string::load_utf8_checked(good, 5, out.get());
    EXPECT_EQ(text_of(out.get()), (Text{2, {'o', 'k', 0x20AC}}));

    struct Case {
        Bytes input;
        Bytes rest;
    };
    const Case cases[] = {
        {{'a', 'b', 0xE2, 0x82}, {0xE2, 0x82}},
        {{0xF0, 0x9F, 0x98}, {0xF0, 0x9F, 0x98}},
        {{'z', 0xC3}, {0xC3}},
    };
    for (const Case& c : cases) {
        Root o;
        stack::mark_try(nullptr);
        uint32_t code = unwind_code(
            [&] { string::load_utf8_checked(c.input.data(), uint32_t(c.input.size()), o.get()); });
        expect_error(code, "access", "invalid-utf8");
        Cell* arg = error::field(stack::top_value(), error::F_ARG1);
        ASSERT_TRUE(arg->is(T_BINARY));
        SeriesBuffer* b = memory::buffer_of(arg->data2);
        EXPECT_EQ(Bytes(b->head_ptr() + arg->data1, b->tail_ptr()), c.rest);
    }
    // An invalid sequence inside the text is reported by the decoder.
    const uint8_t bad[] = {'a', 0xED, 0xB0, 0x80, 'b'};
    stack::mark_try(nullptr);
    expect_error(unwind_code([&] { string::load_utf8_checked(bad, 5, out.get()); }), "access",
                 "invalid-utf8");
}

// ---------------------------------------------------------------------------------------------
// Hexadecimal digits and numbers.

TEST_F(StringStorage, HexadecimalTexts) {
    struct IntCase {
        int32_t value;
        bool short_form;
        const char* text;
    };
    const IntCase ints[] = {
        {30, true, "1E"},          {0, true, "00"},          {-1, false, "FFFFFFFF"},
        {255, false, "000000FF"},  {0, false, "00000000"},   {5, true, "5"},
        {0x7FFFFFFF, true, "7FFFFFFF"}, {-16, true, "FFFFFFF0"}, {0x1000, true, "1000"},
        {INT32_MIN, false, "80000000"},
    };
    for (const IntCase& c : ints)
        EXPECT_STREQ(string::int_to_hex(c.value, c.short_form), c.text) << c.value;
    struct ByteCase { uint8_t byte; const char* text; };
    for (ByteCase c : {ByteCase{0, "00"}, {0x0F, "0F"}, {0xA0, "A0"}, {0xFF, "FF"}})
        EXPECT_STREQ(string::byte_to_hex(c.byte), c.text);
}

TEST_F(StringStorage, TextToFloat) {
    struct Case { std::string text; double value; };
    const Case cases[] = {
        {"1.5", 1.5},      {"-2.25", -2.25},  {"+3", 3.0},       {"  7e2", 700.0},
        {"1e400", INFINITY}, {"-1e400", -INFINITY}, {"1e-400", 0.0}, {"0.5xyz", 0.5},
        {"abc", 0.0},      {"", 0.0},         {"0.000001", 1e-6},
        {"0." + std::string(400, '0') + "1", 0.0}, {"1" + std::string(400, '0'), INFINITY},
    };
    for (const Case& c : cases)
        EXPECT_EQ(string::to_float(reinterpret_cast<const uint8_t*>(c.text.data()),
                                   uint32_t(c.text.size())),
                  c.value)
            << c.text;
}

// ---------------------------------------------------------------------------------------------
// Comparison and parse helpers.

TEST_F(StringStorage, CompareParts) {
    struct Case {
        Units a;
        uint32_t ua;
        Units b;
        uint32_t ub;
        int op;
        bool match;
        int32_t result;
    };
    const Units abc = {'a', 'b', 'c'}, ABC = {'A', 'B', 'C'}, ab = {'a', 'b'};
    const Case cases[] = {
        {abc, 1, ABC, 2, COMP_EQUAL, false, 0},
        {abc, 1, ABC, 4, COMP_STRICT_EQUAL, false, 1},
        {ABC, 1, abc, 1, COMP_CASE_SORT, false, -1},
        {abc, 2, ab, 1, COMP_EQUAL, false, 1},
        {ab, 2, abc, 1, COMP_EQUAL, false, 1},
        {ab, 2, abc, 1, COMP_LESSER, false, -1},
        {abc, 1, ab, 1, COMP_LESSER, false, 1},
        {{}, 1, {}, 1, COMP_LESSER, false, 0},
        {{}, 1, ab, 1, COMP_LESSER, false, -1},
        {ab, 1, {}, 1, COMP_LESSER, false, 1},
        {{'b'}, 1, abc, 1, COMP_SORT, false, 1},
        {{LATIN}, 1, {0xC9}, 2, COMP_EQUAL, false, 0},
        {abc, 1, ab, 4, COMP_EQUAL, true, 0},
        {abc, 1, {'A'}, 1, COMP_EQUAL, true, 0},
        {abc, 1, {'A'}, 1, COMP_STRICT_EQUAL, true, 1},
        {ab, 1, abc, 1, COMP_EQUAL, true, 1},
        {ab, 1, {}, 1, COMP_EQUAL, true, 0},
        {ab, 1, {}, 1, COMP_FIND, true, 1},
        {abc, 1, abc, 1, COMP_SAME, false, -1},
    };
    for (const Case& c : cases) {
        Root a(text_value(c.a, c.ua));
        Root b(text_value(c.b, c.ub));
        EXPECT_EQ(string::compare_parts(a.get(), b.get(), c.op, c.match), c.result)
            << "case " << &c - cases;
    }
    // One buffer at one head is the same text.
    Root a(text_value(abc, 1, 1));
    Root same(*a.get());
    EXPECT_EQ(string::compare_parts(a.get(), same.get(), COMP_SAME, false), 0);
    // A part marker limits the second text's length.
    Root marker(Cell{string::T_PART_MARKER, 0, a->data2, 1});
    Root whole(text_value({'a', 'z'}, 1));
    EXPECT_EQ(string::compare_parts(whole.get(), marker.get(), COMP_EQUAL, true), 0);
}

TEST_F(StringStorage, MatchTagBracketsAndBitsets) {
    Root s(text_value({'x', '<', 'b', 'r', '>', 'y'}, 2, 1));
    Root br(text_value({'b', 'r'}, 1));
    Root b(text_value({'b'}, 1));
    EXPECT_TRUE(string::tag_brackets_q(s.get(), br.get()));
    EXPECT_FALSE(string::tag_brackets_q(s.get(), b.get()));
    Root longer(text_value({'b', 'r', '>', 'y', 'z'}, 1));
    EXPECT_FALSE(string::tag_brackets_q(s.get(), longer.get()));

    Root lt(text_value({'<', 'B'}, 1));
    EXPECT_TRUE(string::match_q(s.get(), lt.get(), COMP_EQUAL));
    EXPECT_FALSE(string::match_q(s.get(), lt.get(), COMP_STRICT_EQUAL));
    Cell ch{T_CHAR, 0, '<', 0};
    EXPECT_TRUE(string::match_q(s.get(), &ch, COMP_EQUAL));
    ch.data2 = 'x';
    EXPECT_FALSE(string::match_q(s.get(), &ch, COMP_EQUAL));

    // A bitset of 16 bits holding '<' (60) would need 8 bytes; 60 lies in byte 7.
    Handle bits = memory::make_bytes(16);
    Root set(Cell{T_BITSET, 0, bits, 0});
    SeriesBuffer* bb = memory::buffer_of(bits);
    std::memset(bb->head_ptr(), 0, 16);
    bb->head_ptr()[60 >> 3] = uint8_t(0x80 >> (60 & 7));
    bb->tail = bb->head + 8;
    EXPECT_TRUE(string::head_in_bitset_q(s.get(), set.get()));
    Root far(text_value({BMP}, 2));
    EXPECT_FALSE(string::head_in_bitset_q(far.get(), set.get()));
    memory::buffer_of(bits)->flags |= 0x80000;  // complemented: beyond its bits is a member
    EXPECT_TRUE(string::head_in_bitset_q(far.get(), set.get()));
}

// ---------------------------------------------------------------------------------------------
// A broken unit is a fatal runtime error (its report goes to standard output).

TEST(StringStorageDeath, UnitOtherThanOneTwoOrFourIsFatal101) {
    EXPECT_EXIT(string::get_char(reinterpret_cast<const uint8_t*>("abc"), 3),
                ::testing::ExitedWithCode(FATAL_NO_SWITCH), "");
    EXPECT_EXIT(
        {
            cycles::init();
            boot::restart_for_tests();
            Cell c;
            string::make_at_unit(&c, 4, 8);
        },
        ::testing::ExitedWithCode(FATAL_NO_SWITCH), "");
    EXPECT_EXIT(
        {
            cycles::init();
            boot::restart_for_tests();
            Root s(text_value({'a'}, 1));
            SeriesBuffer* b = memory::buffer_of(s->data2);
            b->flags = (b->flags & ~SER_UNIT_MASK) | 3;
            string::append_char(b, 'b');
        },
        ::testing::ExitedWithCode(FATAL_NO_SWITCH), "");
}

}  // namespace
}  // namespace kov
