// Conversions between text buffers and UTF-8, UTF-16LE and Windows-1251, widening, and the
// plain UTF-8 output helper.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"
#include "datatypes/error.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/core/text_fixture.hpp"

namespace kov {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Text;
using testing::Units;
using testing::make_text;
using testing::read_text;
using testing::unwind_code;

class Unicode : public testing::RuntimeTest {};

Cell text_value(Handle node, uint32_t head = 0) { return Cell{T_STRING, head, node, 0}; }

Bytes binary_bytes(const Cell* bin) {
    SeriesBuffer* b = memory::buffer_of(bin->data2);
    return Bytes(b->head_ptr() + bin->data1, b->tail_ptr());
}

Bytes utf8_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------------------------
// The table-driven decoder.

// A strict reference: shortest forms only, no surrogates, nothing above 0x10FFFF. Returns the
// code point and the length, or -1 with the bytes to skip (the lead and the valid followers).
int32_t strict_decode(const uint8_t* p, size_t n, size_t& len) {
    uint32_t b0 = p[0];
    len = 1;
    if (b0 < 0x80) return int32_t(b0);
    int need;
    uint32_t cp, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { need = 2; cp = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { need = 3; cp = b0 & 0x07; min = 0x10000; }
    else return -1;
    for (int i = 1; i <= need; i++) {
        if (size_t(i) >= n || (p[i] & 0xC0) != 0x80) return -1;
        uint32_t next = (cp << 6) | (p[i] & 0x3F);
        // Reject as soon as the prefix cannot lead to a valid form (as the automaton does).
        int rest = need - i;
        uint32_t lo = next << (6 * rest), hi = lo | ((1u << (6 * rest)) - 1);
        if (hi < min || lo > 0x10FFFF || (lo >= 0xD800 && hi <= 0xDFFF)) return -1;
        cp = next;
        len = size_t(i) + 1;
    }
    return int32_t(cp);
}

TEST_F(Unicode, FastDecoderMatchesStrictUtf8OnEveryShortSequence) {
    // Every 2-byte and 3-byte sequence, and 4-byte sequences over all leads F0-F7 with every
    // second byte; a NUL ends the input.
    auto check = [](const uint8_t* seq, size_t n) {
        uint8_t buf[8] = {};
        std::memcpy(buf, seq, n);
        int32_t cp;
        const uint8_t* after = unicode::fast_decode_utf8_char(buf, cp);
        size_t len;
        int32_t expected = strict_decode(buf, n + 1, len);
        if (cp != expected || size_t(after - buf) != len) {
            ADD_FAILURE() << "bytes " << std::hex << int(buf[0]) << " " << int(buf[1]) << " "
                          << int(buf[2]) << " " << int(buf[3]) << ": got " << cp << " after "
                          << (after - buf) << ", expected " << expected << " after " << len;
            return false;
        }
        return true;
    };
    for (int a = 0; a < 256; a++)
        for (int b = 0; b < 256; b++) {
            uint8_t s[2] = {uint8_t(a), uint8_t(b)};
            if (!check(s, 2)) return;
        }
    for (int a = 0xE0; a <= 0xEF; a++)
        for (int b = 0; b < 256; b++)
            for (int c = 0; c < 256; c++) {
                uint8_t s[3] = {uint8_t(a), uint8_t(b), uint8_t(c)};
                if (!check(s, 3)) return;
            }
    for (int a = 0xF0; a <= 0xF7; a++)
        for (int b = 0; b < 256; b++)
            for (int c : {0x41, 0x80, 0xBF, 0xC0})
                for (int d : {0x00, 0x80, 0x9F, 0xBF, 0xFF}) {
                    uint8_t s[4] = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
                    if (!check(s, 4)) return;
                }
}

TEST_F(Unicode, FastDecoderConsumption) {
    struct Case { Bytes in; int32_t cp; int consumed; };
    const Case cases[] = {
        {{0x41, 0x00}, 0x41, 1},
        {{0xC3, 0xA9, 0x00}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC, 0x00}, 0x20AC, 3},
        {{0xF0, 0x9F, 0x98, 0x80, 0x00}, 0x1F600, 4},
        {{0x80, 0x41}, -1, 1},              // a continuation byte as lead: the lead is consumed
        {{0xE2, 0x28, 0xA1}, -1, 1},        // the rejecting byte is not consumed
        {{0xE2, 0x82, 0x41}, -1, 2},
        {{0xED, 0xA0, 0x80, 0x00}, -1, 1},  // surrogates are rejected here
        {{0xC0, 0x80, 0x00}, -1, 1},        // overlong
        {{0xF4, 0x90, 0x80, 0x80}, -1, 1},  // above 0x10FFFF
        {{0xF0, 0x9F, 0x98, 0x00}, -1, 3},  // cut by a NUL
    };
    for (const Case& c : cases) {
        int32_t cp = 0;
        const uint8_t* after = unicode::fast_decode_utf8_char(c.in.data(), cp);
        EXPECT_EQ(cp, c.cp) << "case " << &c - cases;
        EXPECT_EQ(after - c.in.data(), c.consumed) << "case " << &c - cases;
    }
}

TEST_F(Unicode, LengthSkipAndCharSize) {
    Bytes s = utf8_of("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");  // a é € 😀 z
    const uint8_t* b = s.data();
    const uint8_t* e = b + s.size();
    EXPECT_EQ(unicode::utf8_length_q(b, e), 5);
    EXPECT_EQ(unicode::utf8_length_q(b, b), 0);
    EXPECT_EQ(unicode::utf8_length_q(b, e - 2), 4);  // a cut sequence counts once
    Bytes bad = {0x80, 0x80, 0x41};
    EXPECT_EQ(unicode::utf8_length_q(bad.data(), bad.data() + 3), 3);

    EXPECT_EQ(unicode::utf8_skip(b, e, 0), b);
    EXPECT_EQ(unicode::utf8_skip(b, e, 2), b + 3);
    EXPECT_EQ(unicode::utf8_skip(b, e, 3), b + 6);
    EXPECT_EQ(unicode::utf8_skip(b, e, 4), b + 10);
    EXPECT_EQ(unicode::utf8_skip(b, e, 99), e);
    EXPECT_EQ(unicode::utf8_skip(b, b + 8, 4), b + 8);  // never past the limit

    struct Size { uint8_t lead; int size; };
    for (Size c : {Size{0x41, 0}, Size{0x80, 0}, Size{0xBF, 0}, Size{0xC0, 2}, Size{0xDF, 2},
                   Size{0xE0, 3}, Size{0xEF, 3}, Size{0xF0, 4}, Size{0xFF, 4}})
        EXPECT_EQ(unicode::utf8_char_size_q(c.lead), c.size) << int(c.lead);
}

// ---------------------------------------------------------------------------------------------
// The validating decoder.

TEST_F(Unicode, ValidatingDecoder) {
    struct Case { Bytes in; int32_t cp; int32_t len; };
    const Case cases[] = {
        {{0x00}, 0, 1},
        {{0x7F}, 0x7F, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xC0, 0x80}, 0, 2},                   // overlong 2-byte forms are accepted
        {{0xC1, 0xBF}, 0x7F, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xE0, 0x80, 0x80}, 0, 3},
        {{0xED, 0xA0, 0x80}, 0xD800, 3},        // only the DC00-DCFF block is refused
        {{0xED, 0xBF, 0xBF}, 0xDFFF, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xC3}, unicode::UTF8_SHORT, 2},        // needs more bytes
        {{0xE2, 0x82}, unicode::UTF8_SHORT, 3},
        {{0xF0, 0x9F, 0x98}, unicode::UTF8_SHORT, 4},
        {{0x80}, unicode::UTF8_INVALID, 1},
        {{0xF8, 0x80, 0x80, 0x80}, unicode::UTF8_INVALID, 1},
        {{0xC3, 0x41}, unicode::UTF8_INVALID, 1},
        {{0xED, 0xB0, 0x80}, unicode::UTF8_INVALID, 1},
        {{0xF4, 0x90, 0x80, 0x80}, unicode::UTF8_INVALID, 1},
    };
    for (const Case& c : cases) {
        int32_t n = int32_t(c.in.size());
        int32_t cp = unicode::decode_utf8_status(c.in.data(), n);
        EXPECT_EQ(cp, c.cp) << "case " << &c - cases;
        EXPECT_EQ(n, c.len) << "case " << &c - cases;
        if (c.cp != unicode::UTF8_INVALID) {
            stack::mark_try(nullptr);
            int32_t m = int32_t(c.in.size());
            int32_t got = 0;
            EXPECT_EQ(unwind_code([&] { got = unicode::decode_utf8(c.in.data(), m); }), 0u);
            EXPECT_EQ(got, c.cp);
        }
    }
}

// The error's argument holds the bytes at the failing position, 4 of them or what is left of
// the input when that is less: never bytes past the input.
TEST_F(Unicode, InvalidUtf8ErrorCarriesAtMostTheRemainingBytes) {
    struct Case { Bytes input; size_t at; Bytes argument; };
    const Case cases[] = {
        {{0x80}, 0, {0x80}},
        {{0x41, 0xED, 0xB0, 0x80}, 1, {0xED, 0xB0, 0x80}},
        {{0xFF, 0x41, 0x42, 0x43, 0x44, 0x45}, 0, {0xFF, 0x41, 0x42, 0x43}},
        {{0xC3, 0x41}, 0, {0xC3, 0x41}},
    };
    for (const Case& c : cases) {
        stack::mark_try(nullptr);
        // The input sits at the very end of its allocation so that a read past it is caught by
        // the sanitizer builds.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.input.size()]);
        std::memcpy(exact.get(), c.input.data(), c.input.size());
        uint32_t code = unwind_code([&] {
            int32_t n = int32_t(c.input.size() - c.at);
            unicode::decode_utf8(exact.get() + c.at, n);
        });
        ASSERT_EQ(code, THROW_ERROR) << "case " << &c - cases;
        Cell* err = stack::top_value();
        EXPECT_EQ(error::category_word(err), "access");
        EXPECT_EQ(error::id_word(err), "invalid-utf8");
        Cell* arg = error::field(err, error::F_ARG1);
        ASSERT_TRUE(arg->is(T_BINARY));
        EXPECT_EQ(binary_bytes(arg), c.argument) << "case " << &c - cases;

        // The loader reports the same bytes.
        stack::mark_try(nullptr);
        code = unwind_code([&] { unicode::load_utf8_new(exact.get(), uint32_t(c.input.size())); });
        ASSERT_EQ(code, THROW_ERROR);
        EXPECT_EQ(binary_bytes(error::field(stack::top_value(), error::F_ARG1)), c.argument);
    }
}

// ---------------------------------------------------------------------------------------------
// Loading UTF-8.

TEST_F(Unicode, LoadUtf8PicksTheNarrowestUnit) {
    struct Case { std::string in; bool crlf; Text out; uint32_t remaining; };
    const Case cases[] = {
        {"", false, {1, {}}, 0},
        {"abc", false, {1, {'a', 'b', 'c'}}, 0},
        {"\xC3\xA9", false, {1, {0xE9}}, 0},  // Latin-1 stays in 1-byte units
        {"\xC3\xBF\xC4\x80", false, {2, {0xFF, 0x100}}, 0},
        {"\xE2\x82\xAC", false, {2, {0x20AC}}, 0},
        {"\xF0\x9F\x98\x80", false, {4, {0x1F600}}, 0},
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", false, {4, {'a', 0xE9, 0x20AC, 0x1F600, 'z'}}, 0},
        {"ab\xF0\x9F\x98\x80", false, {4, {'a', 'b', 0x1F600}}, 0},  // 1 straight to 4
        {"\xEF\xBB\xBF" "a", false, {1, {'a'}}, 0},
        {"\xEF\xBB\xBF", false, {1, {}}, 0},
        {"\xEF\xBB", false, {1, {}}, 2},  // too short to be a mark: an unfinished sequence
        {"a\xEF\xBB\xBF", false, {2, {'a', 0xFEFF}}, 0},  // only a leading mark is skipped
        {"ab\xE2\x82", false, {1, {'a', 'b'}}, 2},
        {"\xF0\x9F\x98", false, {1, {}}, 3},
        {"\xED\xA0\x80", false, {2, {0xD800}}, 0},
        {"a\r\nb", true, {1, {'a', '\n', 'b'}}, 0},
        {"a\rb\r", true, {1, {'a', '\n', 'b', '\n'}}, 0},
        {"a\r\r\nb", true, {1, {'a', '\n', '\n', 'b'}}, 0},
        {"a\r\nb", false, {1, {'a', '\r', '\n', 'b'}}, 0},
        {"0123456\r\n89abcdef\r", true,
         {1, {'0', '1', '2', '3', '4', '5', '6', '\n', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f', '\n'}}, 0},
        {"\xC3\xA9\r\n\xE2\x82\xAC\r", true, {2, {0xE9, '\n', 0x20AC, '\n'}}, 0},
    };
    for (const Case& c : cases) {
        uint32_t remaining = 99;
        collector::Root text(text_value(
            unicode::load_utf8(reinterpret_cast<const uint8_t*>(c.in.data()), uint32_t(c.in.size()),
                               0, c.crlf, &remaining)));
        EXPECT_EQ(read_text(text->data2), c.out) << "case " << &c - cases;
        EXPECT_EQ(remaining, c.remaining) << "case " << &c - cases;
    }
}

TEST_F(Unicode, LoadUtf8AppendsToAGivenBuffer) {
    Bytes first = {0xC3, 0xA9};
    collector::Root text(text_value(unicode::load_utf8_new(first.data(), 2)));
    EXPECT_EQ(read_text(text->data2), (Text{1, {0xE9}}));
    Bytes more = {0xE2, 0x82, 0xAC};
    Handle node = unicode::load_utf8(more.data(), 3, text->data2, false, nullptr);
    EXPECT_EQ(node, text->data2);
    EXPECT_EQ(read_text(node), (Text{2, {0xE9, 0x20AC}}));
    Bytes emoji = {'x', 0xF0, 0x9F, 0x98, 0x80};
    unicode::load_utf8_into(emoji.data(), 5, text.get(), false, nullptr);
    EXPECT_EQ(read_text(text->data2), (Text{4, {0xE9, 0x20AC, 'x', 0x1F600}}));

    // A stream cut inside a sequence: the caller keeps the rest for the next chunk.
    collector::Root stream(text_value(unicode::load_utf8_new(nullptr, 0)));
    std::string whole = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!";
    std::string pending;
    for (size_t i = 0; i < whole.size(); i += 3) {
        pending += whole.substr(i, 3);
        uint32_t left = 0;
        unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(pending.data()),
                                uint32_t(pending.size()), stream.get(), false, &left);
        pending = pending.substr(pending.size() - left);
    }
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(read_text(stream->data2),
              (Text{4, {'c', 'a', 'f', 0xE9, ' ', 0x20AC, ' ', 0x1F600, '!'}}));
}

TEST_F(Unicode, LoadUtf8LongTextWidensTwiceAndKeepsEverything) {
    std::string s;
    Units expected;
    for (int i = 0; i < 5000; i++) {
        s += char('a' + i % 26);
        expected.push_back('a' + i % 26);
    }
    s += "\xC4\x80";  // U+0100: to 2-byte units
    expected.push_back(0x100);
    for (int i = 0; i < 3000; i++) {
        s += "\xC3\xA9";
        expected.push_back(0xE9);
    }
    s += "\xF0\x9F\x98\x80";  // to 4-byte units
    expected.push_back(0x1F600);
    for (int i = 0; i < 2000; i++) {
        s += "\xE2\x82\xAC";
        expected.push_back(0x20AC);
    }
    collector::Root text(text_value(
        unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()))));
    EXPECT_EQ(read_text(text->data2), (Text{4, expected}));
}

// The bytes may be the body of a series: they must stay valid while the loader allocates.
TEST_F(Unicode, LoadFromBytesInsideASeriesSurvivesCollections) {
    bool stress = collector::state.stress;
    std::string s = "ab\xC4\x80\xF0\x9F\x98\x80zz";
    for (int i = 0; i < 50; i++) memory::make_bytes(4096);  // garbage below the source
    collector::Root bin(Cell{T_BINARY, 0, memory::make_bytes(uint32_t(s.size())), 0});
    SeriesBuffer* b = memory::buffer_of(bin->data2);
    std::memcpy(b->head_ptr(), s.data(), s.size());
    b->tail = b->head + uint32_t(s.size());
    collector::state.stress = true;  // every allocation compacts: the source moves
    collector::Root text(text_value(unicode::load_utf8_new(
        memory::buffer_of(bin->data2)->head_ptr(), uint32_t(s.size()))));
    Units utf16 = {'a', 0xD83D, 0xDE00, 'b'};
    Bytes u16;
    for (uint32_t u : utf16) { u16.push_back(uint8_t(u)); u16.push_back(uint8_t(u >> 8)); }
    collector::Root w(Cell{T_BINARY, 0, memory::make_bytes(uint32_t(u16.size())), 0});
    std::memcpy(memory::buffer_of(w->data2)->head_ptr(), u16.data(), u16.size());
    collector::Root text16(text_value(unicode::load_utf16le(
        memory::buffer_of(w->data2)->head_ptr(), uint32_t(utf16.size()), nullptr, false)));
    collector::state.stress = stress;
    EXPECT_EQ(read_text(text->data2), (Text{4, {'a', 'b', 0x100, 0x1F600, 'z', 'z'}}));
    EXPECT_EQ(read_text(text16->data2), (Text{4, {'a', 0x1F600, 'b'}}));
}

// ---------------------------------------------------------------------------------------------
// Loading UTF-16LE.

Bytes le16(const Units& units) {
    Bytes b;
    for (uint32_t u : units) {
        b.push_back(uint8_t(u));
        b.push_back(uint8_t(u >> 8));
    }
    return b;
}

// The UTF-8 loader against its rules, written out one by one: a leading byte order mark skipped
// when more than 2 bytes are given; CR LF and a lone CR read as LF with the flag; leads C0-DF,
// E0-EF and F0-F7 needing 2, 3 and 4 bytes with followers 80-BF (overlong forms accepted); DC00-
// DCFF and anything above 10FFFF refused; any other lead refused; a sequence cut by the end of
// the input left undecoded and counted; unit 1 widening above FF (to 2, or to 4 above FFFF) and
// unit 2 widening above FFFF. The text goes after what the buffer already holds.

struct Loaded {
    Text text;               // what the buffer holds afterwards (up to the error, if any)
    uint32_t remaining = 0;  // bytes of a cut sequence left at the end
    bool invalid = false;    // an invalid sequence raised invalid-utf8
};

Loaded load_by_the_rules(const std::vector<uint8_t>& in, bool crlf, Text start) {
    Loaded r{start, 0, false};
    size_t i = 0, n = in.size();
    if (n > 2 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF) i = 3;
    auto add = [&](uint32_t cp) {
        if (r.text.unit == 1 && cp > 0xFF) r.text.unit = cp > 0xFFFF ? 4 : 2;
        else if (r.text.unit == 2 && cp > 0xFFFF) r.text.unit = 4;
        r.text.units.push_back(cp);
    };
    auto follower = [](uint8_t b) { return b >= 0x80 && b <= 0xBF; };
    while (i < n) {
        uint32_t b0 = in[i];
        if (b0 < 0x80) {
            if (b0 == '\r' && crlf) {
                if (i + 1 < n && in[i + 1] == '\n') {
                    ++i;
                    continue;
                }
                b0 = '\n';
            }
            add(b0);
            ++i;
            continue;
        }
        size_t need = b0 >= 0xC0 && b0 <= 0xDF ? 2 : b0 >= 0xE0 && b0 <= 0xEF ? 3
                    : b0 >= 0xF0 && b0 <= 0xF7 ? 4 : 0;
        if (need == 0) {
            r.invalid = true;
            return r;
        }
        if (n - i < need) {
            r.remaining = uint32_t(n - i);
            return r;
        }
        for (size_t k = 1; k < need; ++k)
            if (!follower(in[i + k])) {
                r.invalid = true;
                return r;
            }
        uint32_t cp = need == 2 ? ((b0 - 0xC0) << 6) | (in[i + 1] - 0x80)
                    : need == 3 ? ((b0 & 0xF) << 12) | ((in[i + 1] & 0x3F) << 6) |
                                      (in[i + 2] & 0x3F)
                                : ((b0 & 7) << 18) | ((in[i + 1] & 0x3F) << 12) |
                                      ((in[i + 2] & 0x3F) << 6) | (in[i + 3] & 0x3F);
        if ((cp >= 0xDC00 && cp <= 0xDCFF && need == 3) || cp > 0x10FFFF) {
            r.invalid = true;
            return r;
        }
        add(cp);
        i += need;
    }
    return r;
}

TEST_F(Unicode, LoadUtf8FollowsItsRules) {
    std::mt19937 rng(5);
    const uint8_t mixed[] = {'a', 'b', '\r', '\n', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0,
                             0x9F, 0x98, 0x80, 0xED, 0xB0, 0xA0, 0xC0, 0xFF, 0xEF, 0xBB,
                             0xBF, 0xF4, 0x90, 0xC4, 0x8F, 0xF8, 'z', 'z', 'z', 'z'};
    const uint8_t line_ends[] = {'x', 'y', '\r', '\n'};
    for (int iter = 0; iter < 4000; ++iter) {
        // Every other input is mostly ASCII with line ends, in runs long enough for the
        // eight-bytes-at-a-time path.
        std::vector<uint8_t> in(rng() % 70);
        for (auto& b : in)
            b = iter % 2 && rng() % 8 ? line_ends[rng() % 4] : mixed[rng() % sizeof mixed];
        if (rng() % 4 == 0 && in.size() >= 3) {
            in[0] = 0xEF;
            in[1] = 0xBB;
            in[2] = 0xBF;
        }
        bool crlf = rng() % 2;
        bool into_text = rng() % 2;  // else into a new buffer
        Text start{into_text ? 1u << (rng() % 3) : 1u, Units(into_text ? rng() % 4 : 0, 'p')};
        Loaded want = load_by_the_rules(in, crlf, start);

        collector::Root text(Cell{T_STRING, 0, make_text(start.units, start.unit), 0});
        uint32_t remaining = 77;
        if (want.invalid) stack::mark_try(nullptr);
        uint32_t code = unwind_code([&] {
            unicode::load_utf8_into(in.data(), uint32_t(in.size()), text.get(), crlf, &remaining);
        });
        if (want.invalid) {
            ASSERT_EQ(code, THROW_ERROR) << "iteration " << iter;
            EXPECT_EQ(error::id_word(stack::top_value()), "invalid-utf8");
        } else {
            ASSERT_EQ(code, 0u) << "iteration " << iter;
            ASSERT_EQ(remaining, want.remaining) << "iteration " << iter;
        }
        ASSERT_EQ(read_text(text->data2), want.text) << "iteration " << iter;
    }
}

TEST_F(Unicode, Utf16UnitChoice) {
    struct Case { Units in; int unit; };
    const Case cases[] = {
        {{}, 1}, {{'a', 0xE9}, 1}, {{'a', 0x100}, 2}, {{0xFFFF}, 2},
        {{'a', 0xD83D, 0xDE00}, 4}, {{0xDC00}, 4}, {{0xD7FF, 0xE000}, 2},
    };
    for (const Case& c : cases) {
        Bytes b = le16(c.in);
        EXPECT_EQ(unicode::utf16_unit_q(b.data(), uint32_t(c.in.size())), c.unit);
    }
}

TEST_F(Unicode, LoadUtf16le) {
    struct Case { Units in; bool crlf; Text out; };
    const Case cases[] = {
        {{}, false, {2, {}}},
        {{'a', 'b'}, false, {1, {'a', 'b'}}},
        {{'a', 0xE9}, false, {1, {'a', 0xE9}}},
        {{0x20AC, 'x'}, false, {2, {0x20AC, 'x'}}},
        {{0xD83D, 0xDE00}, false, {4, {0x1F600}}},
        {{'a', '\r', '\n', 0xD83D, 0xDE00, '\r'}, true, {4, {'a', '\n', 0x1F600}}},
        {{'a', '\r', '\n'}, true, {1, {'a', '\n'}}},
        {{0x20AC, '\r', '\n'}, true, {2, {0x20AC, '\n'}}},
        {{'a', '\r', '\n'}, false, {1, {'a', '\r', '\n'}}},
        // A surrogate outside a pair is kept as its own code point.
        {{0xD83D, 'A'}, false, {4, {0xD83D, 'A'}}},
        {{'A', 0xD83D}, false, {4, {'A', 0xD83D}}},
        {{0xDE00, 'A'}, false, {4, {0xDE00, 'A'}}},
        {{0xD83D, 0xD83D, 0xDE00}, false, {4, {0xD83D, 0x1F600}}},
    };
    for (const Case& c : cases) {
        Bytes b = le16(c.in);
        collector::Root text(text_value(
            unicode::load_utf16le(b.data(), uint32_t(c.in.size()), nullptr, c.crlf)));
        EXPECT_EQ(read_text(text->data2), c.out) << "case " << &c - cases;
        EXPECT_TRUE(buffer::flags(text->data2) & unicode::SER_FROM_UTF16);
    }
}

// A lone surrogate is data like any other: the process goes on.
TEST_F(Unicode, LoneSurrogateDoesNotEndTheProcess) {
    Bytes b = le16({'a', 0xD83D, 'b'});
    EXPECT_EXIT(
        {
            unicode::load_utf16le(b.data(), 3, nullptr, false);
            std::_Exit(42);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST_F(Unicode, LoadUtf16leReplacesTheTargetText) {
    collector::Root target(text_value(make_text({'o', 'l', 'd', ' ', 't', 'e', 'x', 't'}, 1)));
    Bytes b = le16({0x20AC, 'n', 'e', 'w'});
    Handle node = unicode::load_utf16le(b.data(), 4, target.get(), false);
    EXPECT_EQ(node, target->data2);
    EXPECT_EQ(read_text(node), (Text{2, {0x20AC, 'n', 'e', 'w'}}));
    // A longer text than the buffer holds.
    Units many(300, 'q');
    many[299] = 0xD83D;  // a lone high surrogate at the end
    Bytes m = le16(many);
    unicode::load_utf16le(m.data(), 300, target.get(), false);
    Text t = read_text(target->data2);
    EXPECT_EQ(t.unit, 4u);
    ASSERT_EQ(t.units.size(), 300u);
    EXPECT_EQ(t.units[0], uint32_t('q'));
    EXPECT_EQ(t.units[299], 0xD83Du);
    // No bytes at all: an empty text.
    unicode::load_utf16le(nullptr, 10, target.get(), false);
    EXPECT_TRUE(read_text(target->data2).units.empty());
}

// ---------------------------------------------------------------------------------------------
// Encoding.

TEST_F(Unicode, EncodeOneCodePoint) {
    struct Case { uint32_t cp; Bytes utf8; Units utf16; };
    const Case cases[] = {
        {0, {0x00}, {0}},
        {0x7F, {0x7F}, {0x7F}},
        {0x80, {0xC2, 0x80}, {0x80}},
        {0x7FF, {0xDF, 0xBF}, {0x7FF}},
        {0x800, {0xE0, 0xA0, 0x80}, {0x800}},
        {0xD800, {0xED, 0xA0, 0x80}, {0xD800}},  // surrogates encode like any code point
        {0xFFFF, {0xEF, 0xBF, 0xBF}, {0xFFFF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}, {0xD800, 0xDC00}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},
    };
    for (const Case& c : cases) {
        uint8_t out[8] = {};
        int n = unicode::encode_utf8(c.cp, out);
        EXPECT_EQ(Bytes(out, out + n), c.utf8) << std::hex << c.cp;
        EXPECT_EQ(unicode::utf8_size_of(c.cp), int(c.utf8.size()));
        for (int room = 0; room <= 4; room++) {
            uint8_t cut[4] = {};
            int k = unicode::encode_utf8_limited(c.cp, cut, room);
            int expect = std::min(room, int(c.utf8.size()));
            EXPECT_EQ(k, expect);
            EXPECT_EQ(Bytes(cut, cut + k), Bytes(c.utf8.begin(), c.utf8.begin() + expect));
        }
        uint8_t w[8] = {};
        int units = unicode::encode_utf16le(c.cp, w);
        EXPECT_EQ(Bytes(w, w + 2 * units), le16(c.utf16)) << std::hex << c.cp;
    }
    uint8_t w[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(unicode::encode_utf16le(0x110000, w), 0);
    EXPECT_EQ(w[0], 0xAA);
}

TEST_F(Unicode, CodePointAboveUnicodeRaisesInvalidChar) {
    Handle node = make_text({'a', 0x110000}, 4);
    collector::Root text(text_value(node));
    uint8_t out[8];
    int32_t limit = -1;
    std::string s;
    std::function<void()> calls[] = {
        [&] { unicode::encode_utf8(0x110000, out); },
        [&] { unicode::encode_utf8(0xFFFFFFFF, out); },
        [&] { unicode::utf8_size_of(0x110000); },
        [&] {
            SeriesBuffer* b = memory::buffer_of(text->data2);
            unicode::utf8_byte_count(b->head_ptr(), b->tail_ptr(), 4);
        },
        [&] { unicode::to_utf8_bytes(text.get(), limit); },
        [&] { unicode::append_utf8(s, text.get()); },
    };
    for (auto& call : calls) {
        stack::mark_try(nullptr);
        ASSERT_EQ(unwind_code(call), THROW_ERROR);
        Cell* err = stack::top_value();
        EXPECT_EQ(error::category_word(err), "script");
        EXPECT_EQ(error::id_word(err), "invalid-char");
        Cell* arg = error::field(err, error::F_ARG1);
        EXPECT_TRUE(arg->is(T_INTEGER));
        EXPECT_NE(arg->data2, 0u);
    }
    EXPECT_TRUE(s.empty());  // nothing half-written
}

TEST_F(Unicode, ByteCountsOfUnitRanges) {
    struct Case { Units cps; uint32_t unit; uint32_t utf8; uint32_t utf16_extra; };
    const Case cases[] = {
        {{}, 1, 0, 0},
        {{'a', '\n', 0xE9}, 1, 4, 2},
        {{0x20AC, '\n', '\n'}, 2, 5, 4},
        {{0x1F600, 'a', 0x10FFFF, 0x800}, 4, 12, 4},
    };
    for (const Case& c : cases) {
        collector::Root text(text_value(make_text(c.cps, c.unit)));
        SeriesBuffer* b = memory::buffer_of(text->data2);
        EXPECT_EQ(unicode::utf8_byte_count(b->head_ptr(), b->tail_ptr(), c.unit), c.utf8);
        EXPECT_EQ(unicode::utf16_extra_bytes(b->head_ptr(), b->tail_ptr(), c.unit), c.utf16_extra);
    }
}

struct EncodeCase {
    Units cps;
    uint32_t unit;
    uint32_t head;
    int32_t limit;
    std::string utf8;
};

const EncodeCase encode_cases[] = {
    {{}, 1, 0, -1, ""},
    {{'a', 'b', 'c'}, 1, 0, -1, "abc"},
    {{'a', 'b', 'c'}, 1, 1, -1, "bc"},
    {{'a', 'b', 'c'}, 1, 5, -1, ""},  // a head past the tail reads as empty
    {{'a', 'b', 'c'}, 1, 0, 2, "ab"},
    {{'a', 'b', 'c'}, 1, 0, 0, ""},
    {{'a', 'b', 'c'}, 1, 0, 10, "abc"},
    {{0xE9, '\n', 0xFF}, 1, 0, -1, "\xC3\xA9\n\xC3\xBF"},
    {{0x20AC, '\n', 'x'}, 2, 0, -1, "\xE2\x82\xAC\nx"},
    {{0x20AC, 0xD800, 0xFFFF}, 2, 1, -1, "\xED\xA0\x80\xEF\xBF\xBF"},
    {{0x1F600, '\n', 0x10FFFF, 'a'}, 4, 0, 3, "\xF0\x9F\x98\x80\n\xF4\x8F\xBF\xBF"},
};

std::string with_crlf(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\n') r += '\r';
        r += c;
    }
    return r;
}

TEST_F(Unicode, ToUtf8BytesInTheConversionBuffer) {
    for (const EncodeCase& c : encode_cases) {
        collector::Root text(text_value(make_text(c.cps, c.unit), c.head));
        for (bool eol : {false, true}) {
            int32_t limit = c.limit;
            const uint8_t* p = eol ? unicode::to_utf8_bytes_eol(text.get(), limit)
                                   : unicode::to_utf8_bytes(text.get(), limit);
            std::string expected = eol ? with_crlf(c.utf8) : c.utf8;
            EXPECT_EQ(limit, int32_t(expected.size())) << "case " << &c - encode_cases;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), size_t(limit)), expected)
                << "case " << &c - encode_cases;
            EXPECT_EQ(p[limit], 0);
            ASSERT_NE(text->data3, 0u);
            EXPECT_EQ(p, memory::buffer_of(text->data3)->head_ptr());
        }
    }
}

TEST_F(Unicode, ConversionBufferIsReusedAndEnlarged) {
    collector::Root text(text_value(make_text({'a', 'b'}, 1)));
    int32_t limit = -1;
    unicode::to_utf8_bytes(text.get(), limit);
    Handle conv = text->data3;
    ASSERT_NE(conv, 0u);
    limit = -1;
    unicode::to_utf8_bytes(text.get(), limit);
    EXPECT_EQ(text->data3, conv);
    // A longer text than the buffer holds.
    Units many(5000, 0x20AC);
    collector::Root text2(text_value(make_text(many, 2)));
    text2->data3 = conv;
    limit = -1;
    const uint8_t* p = unicode::to_utf8_bytes(text2.get(), limit);
    EXPECT_EQ(text2->data3, conv);
    EXPECT_EQ(limit, 15000);
    EXPECT_GE(memory::buffer_of(conv)->size, 15001);
    EXPECT_EQ(std::memcmp(p + 14997, "\xE2\x82\xAC", 4), 0);  // with the NUL
}

TEST_F(Unicode, EncodeIntoACallerArea) {
    for (const EncodeCase& c : encode_cases) {
        collector::Root text(text_value(make_text(c.cps, c.unit), c.head));
        uint8_t out[64];
        std::memset(out, 0xAA, sizeof out);
        uint32_t n = unicode::encode_utf8_into(text.get(), out, c.limit, true);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.utf8);
        EXPECT_EQ(out[n], 0);
        std::memset(out, 0xAA, sizeof out);
        n = unicode::encode_utf8_into(text.get(), out, c.limit, false);
        EXPECT_EQ(out[n], 0xAA);

        // Bounded: never more than the room, the last sequence possibly cut.
        for (uint32_t room = 0; room <= c.utf8.size() + 1; room++) {
            std::memset(out, 0xAA, sizeof out);
            uint32_t k = unicode::encode_utf8_bounded(text.get(), out, room, c.limit, true);
            uint32_t expect = std::min<uint32_t>(room, uint32_t(c.utf8.size()));
            EXPECT_EQ(k, expect);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(out), k), c.utf8.substr(0, expect));
            if (k < room) {
                EXPECT_EQ(out[k], 0);
            }
            EXPECT_EQ(out[room], 0xAA) << "wrote past the room";
        }
    }
}

TEST_F(Unicode, ToUtf16) {
    struct Case { Units cps; uint32_t unit; int32_t limit; bool crlf; Units utf16; };
    const Case cases[] = {
        {{}, 1, -1, true, {}},
        {{'a', '\n', 0xE9}, 1, -1, true, {'a', '\r', '\n', 0xE9}},
        {{'a', '\n', 0xE9}, 1, -1, false, {'a', '\n', 0xE9}},
        {{'a', '\n', 0xE9}, 1, 1, true, {'a'}},
        {{0x20AC, '\n'}, 2, -1, true, {0x20AC, '\r', '\n'}},
        {{0x20AC, '\n', 'z'}, 2, 2, false, {0x20AC, '\n'}},
        {{0x1F600, '\n', 'a'}, 4, -1, true, {0xD83D, 0xDE00, '\r', '\n', 'a'}},
        {{'\n', '\n'}, 4, -1, true, {'\r', '\n', '\r', '\n'}},
    };
    for (const Case& c : cases) {
        collector::Root text(text_value(make_text(c.cps, c.unit)));
        int32_t limit = c.limit;
        const uint8_t* p = unicode::to_utf16_part(text.get(), limit, c.crlf);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(limit, int32_t(c.utf16.size())) << "case " << &c - cases;
        Bytes expected = le16(c.utf16);
        EXPECT_EQ(Bytes(p, p + 2 * limit), expected) << "case " << &c - cases;
        EXPECT_EQ(p[2 * limit], 0);
        EXPECT_EQ(p[2 * limit + 1], 0);
        if (c.limit == -1 && c.crlf) {
            const uint8_t* whole = unicode::to_utf16(text.get());
            EXPECT_EQ(Bytes(whole, whole + expected.size()), expected);
        }
    }
    collector::Root bad(text_value(make_text({'a', 0x110000}, 4)));
    int32_t limit = -1;
    EXPECT_EQ(unicode::to_utf16_part(bad.get(), limit, false), nullptr);
    EXPECT_EQ(limit, 0);
    EXPECT_EQ(unicode::to_utf16(bad.get()), nullptr);
}

TEST_F(Unicode, CrLfRoundTrip) {
    Bytes in = {0x61, 0x0D, 0x0A, 0x62};
    collector::Root text(text_value(unicode::load_utf8(in.data(), 4, 0, true, nullptr)));
    EXPECT_EQ(read_text(text->data2), (Text{1, {0x61, 0x0A, 0x62}}));
    int32_t limit = -1;
    const uint8_t* p = unicode::to_utf8_bytes_eol(text.get(), limit);
    EXPECT_EQ(Bytes(p, p + limit), in);
}

// ---------------------------------------------------------------------------------------------
// Widening.

TEST_F(Unicode, WideningKeepsTheTextAndTheNode) {
    struct Case { uint32_t from; uint32_t to; Units cps; };
    const Case cases[] = {
        {1, 2, {}}, {1, 2, {'a', 0xE9, 0xFF}}, {1, 4, {'a', 0xE9, 0xFF}}, {2, 4, {0x20AC, 'b', 0xFFFF}},
    };
    for (const Case& c : cases) {
        for (size_t n : {size_t(1), size_t(16), size_t(1000)}) {
            Units cps;
            for (size_t i = 0; i < n; i++) cps.insert(cps.end(), c.cps.begin(), c.cps.end());
            collector::Root text(text_value(make_text(cps, c.from)));
            SeriesBuffer* b = memory::buffer_of(text->data2);
            SeriesBuffer* w = c.from == 2 ? unicode::ucs2_to_ucs4(b)
                              : c.to == 2 ? unicode::latin1_to_ucs2(b)
                                          : unicode::latin1_to_ucs4(b);
            EXPECT_EQ(w, memory::buffer_of(text->data2));
            EXPECT_EQ(w->node, text->data2);
            EXPECT_GE(uint32_t(w->size) - w->head, uint32_t(cps.size() + 1) * c.to);
            EXPECT_EQ(read_text(text->data2), (Text{c.to, cps}));
        }
    }
}

TEST_F(Unicode, WideningInPlaceWhenThereIsRoom) {
    Handle node = memory::make_string_buffer(100, 1);
    collector::Root text(text_value(node));
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), "hello", 5);
    b->tail = b->head + 5;
    SeriesBuffer* w = unicode::latin1_to_ucs4(b);
    EXPECT_EQ(w, b);  // 24 bytes fit in 100
    EXPECT_EQ(read_text(node), (Text{4, {'h', 'e', 'l', 'l', 'o'}}));
}

// A buffer whose head lies in the middle of its data area: the widened text must still fit
// between the head and the end of the area.
TEST_F(Unicode, WideningAHeadInTheMiddle) {
    Handle node = memory::alloc_series(64, 1, -1);
    collector::Root text(text_value(node));
    SeriesBuffer* b = memory::buffer_of(node);
    ASSERT_EQ(b->head, 32u);
    uint32_t n = 20;  // 2 x 20 + 2 bytes fit in the area, not after the head
    Units cps;
    for (uint32_t i = 0; i < n; i++) cps.push_back('a' + i % 26);
    for (uint32_t i = 0; i < n; i++) b->head_ptr()[i] = uint8_t(cps[i]);
    b->tail = b->head + n;
    b = unicode::latin1_to_ucs2(b);
    EXPECT_LE(b->tail, uint32_t(b->size));
    EXPECT_EQ(read_text(node), (Text{2, cps}));
    b = unicode::ucs2_to_ucs4(b);
    EXPECT_LE(b->tail, uint32_t(b->size));
    EXPECT_EQ(read_text(node), (Text{4, cps}));
}

// ---------------------------------------------------------------------------------------------
// The plain UTF-8 helper.

TEST_F(Unicode, AppendUtf8OfUnitRanges) {
    struct Case { Units cps; uint32_t unit; uint32_t from, to; std::string out; };
    const Case cases[] = {
        {{'a', 'b', 'c'}, 1, 0, 3, "abc"},
        {{'a', 'b', 'c'}, 1, 1, 2, "b"},
        {{'a', 'b', 'c'}, 1, 2, 100, "c"},
        {{'a', 'b', 'c'}, 1, 2, 2, ""},
        {{'a', 'b', 'c'}, 1, 3, 1, ""},
        {{0xE9, 0xFF}, 1, 0, 2, "\xC3\xA9\xC3\xBF"},
        {{0x20AC, 'x'}, 2, 0, 2, "\xE2\x82\xAC" "x"},
        {{0x1F600, 0xD800}, 4, 0, 2, "\xF0\x9F\x98\x80\xED\xA0\x80"},
    };
    for (const Case& c : cases) {
        collector::Root text(text_value(make_text(c.cps, c.unit)));
        std::string out = "<";
        unicode::append_utf8(out, text->data2, c.from, c.to);
        EXPECT_EQ(out, "<" + c.out) << "case " << &c - cases;
    }
    collector::Root text(text_value(make_text({'x', 0x20AC, 'y'}, 2), 1));
    std::string out;
    unicode::append_utf8(out, text.get());
    EXPECT_EQ(out, "\xE2\x82\xAC" "y");
}

// ---------------------------------------------------------------------------------------------
// Other conversions.

TEST_F(Unicode, LoadCp1251) {
    struct Case { Bytes in; bool crlf; Text out; };
    const Case cases[] = {
        {{'a', 'b'}, false, {1, {'a', 'b'}}},
        {{0xC0, 0xFF, 0xA8, 0xB8}, false, {2, {0x410, 0x44F, 0x401, 0x451}}},
        {{0x98, 0xA0, 0xA4}, false, {1, {0x98, 0xA0, 0xA4}}},  // 0x98 maps to itself
        {{0x80, 0x88, 0x99}, false, {2, {0x402, 0x20AC, 0x2122}}},
        {{'a', '\r', '\n', 'b', '\r'}, true, {1, {'a', '\n', 'b', '\n'}}},
        {{}, false, {1, {}}},
    };
    for (const Case& c : cases) {
        collector::Root text(
            text_value(unicode::load_cp1251(c.in.data(), uint32_t(c.in.size()), nullptr, c.crlf)));
        EXPECT_EQ(read_text(text->data2), c.out) << "case " << &c - cases;
    }
    collector::Root target(text_value(make_text({'x'}, 1)));
    Bytes in = {0xC0, 'y'};
    EXPECT_EQ(unicode::load_cp1251(in.data(), 2, target.get(), false), target->data2);
    EXPECT_EQ(read_text(target->data2), (Text{2, {'x', 0x410, 'y'}}));
}

TEST_F(Unicode, AsciiToUtf16) {
    uint8_t out[16];
    std::memset(out, 0xAA, sizeof out);
    unicode::ascii_to_utf16("Ab\x7F", out);
    EXPECT_EQ(Bytes(out, out + 9), (Bytes{'A', 0, 'b', 0, 0x7F, 0, 0, 0, 0xAA}));
}

}  // namespace
}  // namespace kov
