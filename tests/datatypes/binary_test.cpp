// binary!: the base encodings (tables of known texts and randomised round trips over every unit
// width), molded text in lines, conversions, byte images in append, insert and change, byte
// comparison and matching, the bitwise actions, trim, and the byte stores of series!.
#include <random>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/series.hpp"
#include "datatypes/tuple.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using Bytes = std::vector<uint8_t>;
using collector::Root;
using testing::Outcome;
using testing::run;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

void make_bin(Cell* out, const Bytes& bytes, uint32_t head = 0) {
    binary::make_at(out, uint32_t(bytes.size()));
    if (!bytes.empty()) binary::append_bytes(out, bytes.data(), uint32_t(bytes.size()));
    out->data1 = head;
}

Bytes read(const Cell& bin) {
    Cell c = bin;
    const uint8_t* p = binary::ks_head(&c);
    return Bytes(p, p + binary::ks_length(&c));
}

// Text of `units` code points of the given width holding the ASCII text.
Bytes widen(std::string_view text, uint32_t unit) {
    Bytes out;
    for (char ch : text) {
        uint32_t cp = uint8_t(ch);
        for (uint32_t i = 0; i < unit; i++) out.push_back(uint8_t(cp >> (8 * i)));
    }
    return out;
}

bool decode(int base, const Bytes& text, uint32_t unit, Bytes& out) {
    uint32_t units = uint32_t(text.size() / unit);
    switch (base) {
    case 2: return binary::decode_base2(text.data(), units, unit, out);
    case 16: return binary::decode_base16(text.data(), units, unit, out);
    case 58: return binary::decode_base58(text.data(), units, unit, out);
    default: return binary::decode_base64(text.data(), units, unit, out);
    }
}

std::string encode(int base, const Bytes& in) {
    std::string out(binary::encoded_size(base, uint32_t(in.size())), '\0');
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    uint8_t* end = nullptr;
    switch (base) {
    case 2: end = binary::encode_base2(o, in.data(), uint32_t(in.size())); break;
    case 16: end = binary::encode_base16(o, in.data(), uint32_t(in.size())); break;
    case 58: end = binary::encode_base58(o, in.data(), uint32_t(in.size())); break;
    default: end = binary::encode_base64(o, in.data(), uint32_t(in.size())); break;
    }
    out.resize(size_t(end - o));
    return out;
}

class Binary : public testing::RuntimeTest {};

// ---- encodings ----

TEST(BinaryCodec, EncodesKnownTexts) {
    struct Case {
        int base;
        Bytes in;
        std::string text;
    } cases[] = {
        {64, B("abc"), "YWJj"},
        {64, {0}, "AA=="},
        {64, B("ab"), "YWI="},
        {64, {}, ""},
        {64, {0xFB, 0xFF}, "+/8="},
        {58, {0, 0}, "11"},
        {58, {}, ""},
        {58, B("Hello World!"), "2NEpo7TZRRrLZSi2U"},
        {58, {0, 0, 1}, "112"},
        {58, {57}, "z"},
        {58, {58}, "21"},
        {16, {0x00, 0x4A, 0xFF}, "004AFF"},
        {2, {0x41, 0x80}, "0100000110000000"},
    };
    for (const Case& c : cases) EXPECT_EQ(encode(c.base, c.in), c.text) << c.base << " " << c.text;
}

TEST(BinaryCodec, DecodesEdgeTexts) {
    struct Case {
        int base;
        std::string text;
        bool ok;
        Bytes bytes;
    } cases[] = {
        {64, "YW Jj", true, B("abc")},
        {64, "YW\x0bJj", false, {}},           // vertical tab is not skipped
        {64, "YW\tJ'j\r\n", true, B("abc")},   // tab, apostrophe and line ends are
        {64, "YQ", true, {}},                  // an unfinished group is dropped
        {64, "Y===", false, {}},
        {64, "====", false, {}},
        {64, "YQ==", true, B("a")},
        {64, "YWI=", true, B("ab")},
        {64, "YWI=!!!", true, B("ab")},        // anything after the padding is ignored
        {64, "YW*j", false, {}},
        {64, "; note\nYWJj", true, B("abc")},
        {64, "YWJj; note", true, B("abc")},
        {16, "4", true, {}},
        {16, "41 ;c\n42", true, {0x41, 0x42}},
        {16, "4g", false, {}},
        {16, "", true, {}},
        {16, "ff 0A", true, {0xFF, 0x0A}},
        {2, "0100000", false, {}},
        {2, "0100 0001", true, {0x41}},
        {2, "01000002", false, {}},
        {58, "11", true, {0, 0}},
        {58, "2NEpo7TZRRrLZSi2U", true, B("Hello World!")},
        {58, "0", false, {}},                  // not in the alphabet
        {58, "2 1", true, {58}},
    };
    for (const Case& c : cases) {
        Bytes out;
        bool ok = decode(c.base, B(c.text), 1, out);
        EXPECT_EQ(ok, c.ok) << c.base << " '" << c.text << "'";
        if (ok && c.ok) {
            EXPECT_EQ(out, c.bytes) << c.base << " '" << c.text << "'";
        }
    }
}

TEST(BinaryCodec, HexAndBase64RefuseWideCodePoints) {
    // A code point whose low seven bits spell a digit is not that digit.
    for (uint32_t unit : {2u, 4u}) {
        Bytes text = widen("41", unit);
        text[0] = 0x41, text[1] = 0x01;  // U+0141
        Bytes out;
        EXPECT_FALSE(decode(16, text, unit, out));
        Bytes b64 = widen("YWJj", unit);
        b64[unit * 3 + 1] = 0x01;  // U+016A
        EXPECT_FALSE(decode(64, b64, unit, out));
    }
    // Inside a comment any code point passes.
    Bytes text = widen(";x\n41", 2);
    text[3] = 0x20;  // the "x" becomes U+2078
    Bytes out;
    EXPECT_TRUE(decode(16, text, 2, out));
    EXPECT_EQ(out, Bytes{0x41});
    // Base 58 stops reading at such a code point.
    Bytes b58 = widen("21z", 2);
    b58[5] = 0x01;
    EXPECT_TRUE(decode(58, b58, 2, out));
    EXPECT_EQ(out, Bytes{58});
}

TEST(BinaryCodec, RandomRoundTripsInEveryUnit) {
    std::mt19937 rng(20240611);
    for (int base : {2, 16, 58, 64}) {
        for (int round = 0; round < 200; round++) {
            Bytes in(rng() % 40);
            for (auto& b : in) b = uint8_t(rng() % 4 == 0 ? 0 : rng());
            std::string text = encode(base, in);
            for (uint32_t unit : {1u, 2u, 4u}) {
                Bytes out;
                ASSERT_TRUE(decode(base, widen(text, unit), unit, out)) << base << " " << text;
                ASSERT_EQ(out, in) << base << " " << text;
            }
        }
    }
}

TEST_F(Binary, DecodesAndEncodesTextValues) {
    Root text, bin, back;
    testing::make_text(text.get(), "YWJj");
    ASSERT_TRUE(binary::decode_text(text.get(), 64, bin.get()));
    EXPECT_EQ(read(bin.cell), B("abc"));
    ASSERT_TRUE(binary::encode_to_string(bin.get(), 16, back.get()));
    EXPECT_EQ(string::to_utf8(back.get()), "616263");
    testing::make_text(text.get(), "Y===");
    bin.cell = cells::make_none();
    EXPECT_FALSE(binary::decode_text(text.get(), 64, bin.get()));
    EXPECT_TRUE(bin->is(T_NONE));
    EXPECT_FALSE(binary::decode_text(text.get(), 10, bin.get()));
}

// ---- text ----

TEST_F(Binary, MoldsInLines) {
    auto hex = [](uint32_t n) {
        std::string s;
        for (uint32_t i = 0; i < n; i++) s += string::byte_to_hex(uint8_t(i));
        return s;
    };
    auto seq = [](uint32_t n) {
        Bytes b(n);
        for (uint32_t i = 0; i < n; i++) b[i] = uint8_t(i);
        return b;
    };
    Root bin;
    make_bin(bin.get(), seq(30));
    EXPECT_EQ(testing::molded(bin.cell), "#{" + hex(30) + "}");
    EXPECT_EQ(testing::formed(bin.cell), "#{" + hex(30) + "}");
    EXPECT_EQ(testing::molded(bin.cell, true), hex(30));
    make_bin(bin.get(), seq(32));
    EXPECT_EQ(testing::molded(bin.cell), "#{\n    " + hex(32) + "\n    }");
    make_bin(bin.get(), seq(40));
    std::string h = hex(40);
    EXPECT_EQ(testing::molded(bin.cell), "#{\n    " + h.substr(0, 64) + "\n    " + h.substr(64) + "\n}");

    // A nested level indents one unit deeper; flat keeps one line.
    Root out;
    string::make_at(out.get(), 16);
    binary::mold(bin.get(), out.get(), false, false, false, false, 1000, 1);
    EXPECT_EQ(string::to_utf8(out.get()),
              "#{\n        " + h.substr(0, 64) + "\n        " + h.substr(64) + "\n    }");
    string::make_at(out.get(), 16);
    binary::mold(bin.get(), out.get(), false, false, true, false, 1000, 0);
    EXPECT_EQ(string::to_utf8(out.get()), "#{" + h + "}");

    // A limit stops after the byte that uses it up, without the closing brace.
    make_bin(bin.get(), seq(8));
    string::make_at(out.get(), 16);
    int32_t left = binary::mold(bin.get(), out.get(), false, false, false, true, 6, 0);
    EXPECT_EQ(string::to_utf8(out.get()), "#{0001");
    EXPECT_LE(left, 0);
    make_bin(bin.get(), {}, 0);
    EXPECT_EQ(testing::molded(bin.cell), "#{}");
}

// ---- conversions ----

TEST_F(Binary, ConvertsValues) {
    Root text, blk;
    testing::make_text(text.get(), "a\xE9");  // a, e acute
    struct Case {
        Cell spec;
        Bytes bytes;
        const char* error;
    } cases[] = {
        {testing::integer_cell(1), {0, 0, 0, 1}, ""},
        {testing::integer_cell(-2), {0xFF, 0xFF, 0xFF, 0xFE}, ""},
        {testing::float_cell(1.0), {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, ""},
        {testing::float_cell(1.0, T_PERCENT), {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, ""},
        {Cell{T_CHAR, 0, 0xE9, 0}, {0xC3, 0xA9}, ""},
        {Cell{T_CHAR, 0, 0x1F600, 0}, {0xF0, 0x9F, 0x98, 0x80}, ""},
        {text.cell, {'a', 0xC3, 0xA9}, ""},
        {Cell{T_ISSUE, 0, symbol::make("4142"), 0xFFFFFFFFu}, {0x41, 0x42}, ""},
        {Cell{T_ISSUE, 0, symbol::make("41zz"), 0xFFFFFFFFu}, {}, "script/invalid-data"},
        {cells::make_none(), {}, "script/bad-to-arg"},
        {cells::make_logic(true), {}, "script/bad-to-arg"},
    };
    for (const Case& c : cases) {
        Outcome o = run({cells::make_none(), c.spec},
                        [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
        EXPECT_EQ(o.error, c.error) << c.spec.type();
        if (!*c.error) {
            EXPECT_TRUE(o.value.is(T_BINARY));
            EXPECT_EQ(read(o.value), c.bytes) << c.spec.type();
        }
    }
    // Text from its head; a block's elements in order; a tuple's bytes.
    text->data1 = 1;
    Outcome o = run({cells::make_none(), text.cell},
                    [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(read(o.value), (Bytes{0xC3, 0xA9}));
    testing::make_block(blk.get(), {testing::integer_cell(1), Cell{T_CHAR, 0, 'b', 0}, text.cell,
                                    testing::integer_cell(255)});
    o = run({cells::make_none(), blk.cell}, [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(read(o.value), (Bytes{1, 'b', 0xC3, 0xA9, 255}));
    uint8_t t[3] = {1, 2, 3};
    Cell tup = tuple::make_cell(t, 3);
    o = run({cells::make_none(), tup}, [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(read(o.value), (Bytes{1, 2, 3}));
}

TEST_F(Binary, CopiesAndMakes) {
    Root src;
    make_bin(src.get(), {1, 2, 3}, 1);
    Outcome o = run({cells::make_none(), src.cell},
                    [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(read(o.value), (Bytes{2, 3}));
    EXPECT_NE(o.value.data2, src->data2);
    o = run({cells::make_none(), testing::integer_cell(100)},
            [] { return binary::make(nullptr, stack::arg(1), T_BINARY); });
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(binary::ks_length(&o.value), 0);
    EXPECT_GE(memory::buffer_of(o.value.data2)->size, 100);
    o = run({cells::make_none(), testing::integer_cell(-1)},
            [] { return binary::make(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(o.error, "script/out-of-range");
}

TEST_F(Binary, BitsetBytesConvert) {
    Root bs;
    bitset::make_at(bs.get(), 2, false);
    bitset::data_address(bs.get())[1] = 0x40;
    Outcome o = run({cells::make_none(), bs.cell},
                    [] { return binary::to(nullptr, stack::arg(1), T_BINARY); });
    EXPECT_EQ(read(o.value), (Bytes{0, 0x40}));
}

// ---- append, insert, change ----

Outcome write(int which, const Cell& series, const Cell& value, int32_t part = -1, bool only = false,
              int32_t dup = 1) {
    static int32_t s_part, s_dup;
    static bool s_only;
    s_part = part, s_dup = dup, s_only = only;
    static int s_which;
    s_which = which;
    return run({series, value}, [] {
        InsertFn fn = s_which == 0 ? binary::append : s_which == 1 ? binary::insert : binary::change;
        return fn(stack::arg(0), stack::arg(1), s_part, s_only, s_dup);
    });
}

Bytes whole(const Cell& bin) {
    Cell c = bin;
    c.data1 = 0;
    return read(c);
}

TEST_F(Binary, AppendsByteImages) {
    Root bin;
    make_bin(bin.get(), {0xAA});
    struct Case {
        Cell value;
        Bytes added;
        const char* error;
    } cases[] = {
        {testing::integer_cell(-1), {0xFF}, ""},
        {testing::integer_cell(-128), {0x80}, ""},
        {testing::integer_cell(255), {0xFF}, ""},
        {testing::integer_cell(256), {}, "script/invalid-arg"},
        {testing::integer_cell(-129), {}, "script/invalid-arg"},
        {Cell{T_CHAR, 0, 0x20AC, 0}, {0xE2, 0x82, 0xAC}, ""},
        {cells::make_logic(true), {}, "script/bad-to-arg"},
    };
    for (const Case& c : cases) {
        Bytes before = whole(bin.cell);
        Outcome o = write(0, bin.cell, c.value);
        EXPECT_EQ(o.error, c.error);
        Bytes expected = before;
        expected.insert(expected.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(whole(bin.cell), expected);
        if (!*c.error) {
            EXPECT_EQ(o.value.data1, 0u);  // append answers the series where it was
        }
    }
}

TEST_F(Binary, PartOnlyDupAndInsertPosition) {
    Root bin, blk, text;
    testing::make_text(text.get(), "xyz");
    testing::make_block(blk.get(), {text.cell, testing::integer_cell(1), testing::integer_cell(2)});
    // Without /only the part counts elements, each whole; with /only it counts bytes.
    make_bin(bin.get(), {});
    write(0, bin.cell, blk.cell, 2);
    EXPECT_EQ(whole(bin.cell), (Bytes{'x', 'y', 'z', 1}));
    make_bin(bin.get(), {});
    write(0, bin.cell, blk.cell, 2, true);
    EXPECT_EQ(whole(bin.cell), (Bytes{'x', 'y'}));
    make_bin(bin.get(), {});
    write(0, bin.cell, blk.cell, 4, true);
    EXPECT_EQ(whole(bin.cell), (Bytes{'x', 'y', 'z', 1}));
    // Text counts output bytes.
    make_bin(bin.get(), {});
    write(0, bin.cell, text.cell, 2);
    EXPECT_EQ(whole(bin.cell), B("xy"));
    // /dup repeats the image; insert answers the position past the new bytes.
    make_bin(bin.get(), {1, 2}, 1);
    Outcome o = write(1, bin.cell, text.cell, -1, false, 3);
    EXPECT_EQ(whole(bin.cell), (Bytes{1, 'x', 'y', 'z', 'x', 'y', 'z', 'x', 'y', 'z', 2}));
    EXPECT_EQ(o.value.data1, 10u);
    // A head past the tail is clamped before the insert.
    make_bin(bin.get(), {1, 2}, 2);
    Root shortened(bin.cell);
    shortened->data1 = 0;
    binary::ks_clear(shortened.get());
    o = write(1, bin.cell, testing::integer_cell(7));
    EXPECT_EQ(whole(o.value), (Bytes{7}));
    EXPECT_EQ(o.value.data1, 1u);
}

TEST_F(Binary, AppendGrowsAcrossCollections) {
    Root bin;
    make_bin(bin.get(), {});
    Bytes expected;
    for (int i = 0; i < 300; i++) {
        write(0, bin.cell, testing::integer_cell(i & 0xFF));
        expected.push_back(uint8_t(i));
    }
    EXPECT_EQ(whole(bin.cell), expected);
}

TEST_F(Binary, ChangesRanges) {
    Root bin, text;
    testing::make_text(text.get(), "ab");
    struct Case {
        Bytes start;
        uint32_t head;
        Cell value;
        int32_t part, dup;
        Bytes after;
        uint32_t index;
    } cases[] = {
        {{1, 2, 3, 4}, 1, text.cell, -1, 1, {1, 'a', 'b', 4}, 3},
        {{1, 2, 3, 4}, 1, text.cell, 3, 1, {1, 'a', 'b'}, 3},
        {{1, 2, 3, 4}, 1, text.cell, 0, 1, {1, 'a', 'b', 2, 3, 4}, 3},
        {{1, 2, 3, 4}, 3, text.cell, -1, 2, {1, 2, 3, 'a', 'b', 'a', 'b'}, 7},
        {{1, 2}, 0, testing::integer_cell(9), 1, 1, {9, 2}, 1},
        {{1, 2}, 2, cells::make_logic(true), -1, 1, {1, 2, 't', 'r', 'u', 'e'}, 6},  // formed
    };
    for (const Case& c : cases) {
        make_bin(bin.get(), c.start, c.head);
        Outcome o = write(2, bin.cell, c.value, c.part, false, c.dup);
        ASSERT_EQ(o.error, "");
        EXPECT_EQ(whole(bin.cell), c.after);
        EXPECT_EQ(o.value.data1, c.index);
    }
    // A binary changed with a part of itself.
    make_bin(bin.get(), {1, 2, 3, 4});
    Root self(bin.cell);
    self->data1 = 2;
    Outcome o = write(2, bin.cell, self.cell, -1, false, 1);
    EXPECT_EQ(whole(o.value), (Bytes{3, 4, 3, 4}));
}

// ---- comparison and matching ----

TEST_F(Binary, ComparesBytes) {
    Root a, b, text;
    struct Case {
        Bytes x, y;
        int32_t op;
        bool match;
        int32_t answer;
    } cases[] = {
        {{1, 2}, {1, 2}, COMP_EQUAL, false, 0},
        {{1, 2}, {1, 2, 3}, COMP_EQUAL, false, 1},
        {{1, 2}, {1, 2, 3}, COMP_LESSER, false, -1},
        {{1, 3}, {1, 2, 3}, COMP_LESSER, false, 1},
        {{0x80}, {0x7F}, COMP_SORT, false, 1},  // unsigned bytes
        {{}, {}, COMP_EQUAL, false, 0},
        {{1, 2, 3}, {1, 2}, COMP_EQUAL, true, 0},
        {{1, 2}, {1, 2, 3}, COMP_EQUAL, true, -1},  // a shorter first value never matches
        {{}, {1}, COMP_EQUAL, true, -1},
        {{1}, {}, COMP_EQUAL, true, 0},
        {{1}, {}, COMP_LESSER, true, 1},
        {{1, 2}, {1, 2}, COMP_SAME, false, -1},
    };
    for (const Case& c : cases) {
        make_bin(a.get(), c.x);
        make_bin(b.get(), c.y);
        EXPECT_EQ(binary::compare_bytes(a.get(), b.get(), c.op, c.match), c.answer);
    }
    EXPECT_EQ(binary::compare_bytes(a.get(), a.get(), COMP_SAME, false), 0);
    // Text is read as bytes; anything else is not comparable; the action wants a binary.
    make_bin(a.get(), B("abc"));
    testing::make_text(text.get(), "ab");
    EXPECT_EQ(binary::compare_bytes(a.get(), text.get(), COMP_EQUAL, true), 0);
    EXPECT_EQ(binary::compare(a.get(), text.get(), COMP_EQUAL), NOT_COMPARABLE);
    Cell n = testing::integer_cell(1);
    EXPECT_EQ(binary::compare_bytes(a.get(), &n, COMP_EQUAL, false), NOT_COMPARABLE);
}

TEST_F(Binary, MatchesValuesAndBitsets) {
    Root bin, other, bs;
    make_bin(bin.get(), {'a', 'b', 200});
    Cell ch{T_CHAR, 0, 'a', 0};
    EXPECT_TRUE(binary::match_value_q(bin.get(), &ch, COMP_EQUAL));
    make_bin(other.get(), B("ab"));
    EXPECT_TRUE(binary::match_value_q(bin.get(), other.get(), COMP_EQUAL));
    make_bin(other.get(), B("abc"));
    EXPECT_FALSE(binary::match_value_q(bin.get(), other.get(), COMP_EQUAL));
    Cell n = testing::integer_cell('a');
    EXPECT_FALSE(binary::match_value_q(bin.get(), &n, COMP_EQUAL));
    // A byte at or past the bitset's bits answers its complement flag.
    bitset::make_at(bs.get(), 13, false);
    bitset::data_address(bs.get())[12] = 0x40;  // bit 97, "a"
    EXPECT_TRUE(binary::match_bitset_q(bin.get(), bs.get()));
    bin->data1 = 2;
    EXPECT_FALSE(binary::match_bitset_q(bin.get(), bs.get()));
    memory::buffer_of(bs->data2)->flags |= bitset::SER_COMPLEMENT;
    EXPECT_TRUE(binary::match_bitset_q(bin.get(), bs.get()));
    bin->data1 = 3;
    EXPECT_FALSE(binary::match_bitset_q(bin.get(), bs.get()));
}

// ---- bitwise actions, complement, trim ----

TEST_F(Binary, BitwiseActions) {
    Root a, b;
    struct Case {
        int op;
        Bytes x, y, result;
    } cases[] = {
        {OP_OR, {0xFF}, {0x0F, 0x0F}, {0xFF, 0x0F}},
        {OP_AND, {0xFF}, {0x0F, 0x0F}, {0x0F, 0x00}},
        {OP_XOR, {0xFF}, {0x0F, 0x0F}, {0xF0, 0x0F}},
        {OP_XOR, {0x0F, 0x0F, 0x01}, {0xFF}, {0xF0, 0x0F, 0x01}},
        {OP_AND, {}, {}, {}},
    };
    for (const Case& c : cases) {
        make_bin(a.get(), c.x);
        make_bin(b.get(), c.y);
        static int s_op;
        s_op = c.op;
        Outcome o = run({a.cell, b.cell}, [] {
            binary::do_bitwise(s_op);
            return nullptr;
        });
        ASSERT_EQ(o.error, "");
        EXPECT_EQ(read(o.value), c.result);
        EXPECT_NE(o.value.data2, a->data2);
    }
    Outcome o = run({a.cell, testing::integer_cell(1)}, [] {
        binary::do_bitwise(OP_OR);
        return nullptr;
    });
    EXPECT_EQ(o.error, "script/invalid-arg");

    make_bin(a.get(), {0x00, 0x0F, 0xF0}, 1);
    binary::complement(a.get());
    EXPECT_EQ(whole(a.cell), (Bytes{0x00, 0xF0, 0x0F}));
}

TEST_F(Binary, Trims) {
    Root bin, with;
    testing::make_text(with.get(), "ab");
    struct Case {
        bool head, tail, all;
        const Cell* with;
        Bytes after;
        const char* error;
    } cases[] = {
        {false, false, false, nullptr, {1, 0, 2}, ""},
        {true, false, false, nullptr, {1, 0, 2, 0, 0}, ""},
        {false, true, false, nullptr, {0, 0, 1, 0, 2}, ""},
        {true, true, false, nullptr, {1, 0, 2}, ""},
        {false, false, true, nullptr, {1, 2}, ""},
        {false, false, false, with.get(), {0, 0, 1, 0, 2, 0, 0}, ""},
    };
    for (const Case& c : cases) {
        make_bin(bin.get(), {0, 0, 1, 0, 2, 0, 0});
        binary::trim(bin.get(), c.head, c.tail, false, false, c.all, c.with);
        EXPECT_EQ(whole(bin.cell), c.after);
    }
    make_bin(bin.get(), {'a', 0, 'b', 'c', 'a'});
    binary::trim(bin.get(), false, false, false, false, false, with.get());
    EXPECT_EQ(whole(bin.cell), (Bytes{0, 'c'}));
    Cell ch{T_CHAR, 0, 'c', 0};
    binary::trim(bin.get(), false, false, false, false, true, &ch);
    EXPECT_EQ(whole(bin.cell), (Bytes{0}));
    // Only from the head on.
    make_bin(bin.get(), {0, 0, 1, 0}, 1);
    binary::trim(bin.get(), false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(bin.cell), (Bytes{0, 1}));
    Outcome o = run({bin.cell}, [] {
        return binary::trim(stack::arg(0), false, false, true, false, false, nullptr);
    });
    EXPECT_EQ(o.error, "internal/not-done");
}

// ---- raw routines and the series! byte stores ----

TEST_F(Binary, RawRoutines) {
    Root bin, blk;
    make_bin(bin.get(), {1, 2, 3}, 1);
    uint8_t ins[2] = {8, 9};
    binary::insert_bytes(bin.get(), 1, ins, 2);
    EXPECT_EQ(whole(bin.cell), (Bytes{1, 2, 8, 9, 3}));
    binary::write_bytes_at(bin.get(), 6, ins, 2);  // past the tail: the gap reads 0
    EXPECT_EQ(whole(bin.cell), (Bytes{1, 2, 8, 9, 3, 0, 0, 8, 9}));
    binary::append_be32(bin.get(), 0x01020304);
    EXPECT_EQ(binary::ks_length(bin.get()), 12);
    EXPECT_EQ(binary::get_byte(bin.get(), 12), 4);
    EXPECT_FALSE(binary::ks_skip(bin.get(), 5));
    EXPECT_TRUE(binary::ks_skip(bin.get(), 7));
    EXPECT_TRUE(binary::ks_tail_q(bin.get()));
    testing::make_block(blk.get(), {});
    uint8_t raw[3] = {5, 6, 7};
    binary::load_in(raw, 3, blk.get());
    binary::make_in(blk.get(), 10);
    SeriesBuffer* b = memory::buffer_of(blk->data2);
    ASSERT_EQ(b->length(), 2u);
    EXPECT_EQ(read(b->head_cell()[0]), (Bytes{5, 6, 7}));
    EXPECT_EQ(read(memory::buffer_of(blk->data2)->head_cell()[1]), Bytes{});
    Cell* pushed = binary::load(raw, 2);
    EXPECT_EQ(read(*pushed), (Bytes{5, 6}));
    stack::pop(1);
}

TEST_F(Binary, SeriesActionsStoreAndMoveBytes) {
    Root bin, other;
    make_bin(bin.get(), {1, 2, 3});
    const ActionTable& t = type_registry::table(T_BINARY);
    struct Case {
        int32_t index;
        Cell value;
        uint8_t stored;
        const char* error;
    } cases[] = {
        {1, testing::integer_cell(300), 44, ""},  // the low 8 bits
        {2, Cell{T_CHAR, 0, 'A', 0}, 'A', ""},
        {-1, testing::integer_cell(7), 7, ""},
        {1, testing::float_cell(1.0), 0, "script/invalid-arg"},
        {5, testing::integer_cell(1), 0, "script/out-of-range"},
    };
    for (const Case& c : cases) {
        static PokeFn poke;
        static int32_t s_index;
        poke = t.poke.fn;
        s_index = c.index;
        bin->data1 = 1;
        Outcome o = run({bin.cell, c.value},
                        [] { return poke(stack::arg(0), s_index, stack::arg(1)); });
        EXPECT_EQ(o.error, c.error) << c.index;
        if (!*c.error) {
            uint32_t offset = uint32_t(c.index > 0 ? c.index : 1 + c.index);
            EXPECT_EQ(binary::get_byte(bin.get(), offset), c.stored);
        }
    }
    // pick and take answer integers; move carries bytes between binaries.
    Cell* picked = t.pick(bin.get(), 1, nullptr);
    ASSERT_TRUE(picked->is(T_INTEGER));
    make_bin(bin.get(), {1, 2, 3});
    make_bin(other.get(), {9});
    Cell two = testing::integer_cell(2);
    static Cell s_two;
    s_two = two;
    Outcome o = run({bin.cell, other.cell}, [] {
        return type_registry::table(T_BINARY).move(stack::arg(0), stack::arg(1), &s_two);
    });
    ASSERT_EQ(o.error, "");
    EXPECT_EQ(whole(bin.cell), (Bytes{3}));
    EXPECT_EQ(whole(other.cell), (Bytes{1, 2, 9}));
}

}  // namespace
}  // namespace kov
