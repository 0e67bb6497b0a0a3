// bitset!: making through the dialect (chars, numbers, ranges, strings, nested blocks, `not`),
// its errors, text, membership actions, comparison, and the set algebra checked against a model
// of plain bit vectors with randomised operands, complemented ones included.
#include <random>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/simple.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using Bytes = std::vector<uint8_t>;
using collector::Root;
using testing::Outcome;
using testing::run;

Cell word(const char* s) { return Cell{T_WORD, 0, symbol::make(s), cells::NO_INDEX}; }
Cell ch(uint32_t c) { return Cell{T_CHAR, 0, c, 0}; }
Cell num(int32_t n) { return testing::integer_cell(n); }

Outcome make_bs(const Cell& spec, int mode = bitset::MODE_MAKE) {
    static int s_mode;
    s_mode = mode;
    return run({cells::make_none(), spec}, [] { return bitset::make_value(stack::arg(1), s_mode); });
}

Bytes stored(const Cell& bs) {
    Cell c = bs;
    const uint8_t* p = bitset::data_address(&c);
    return Bytes(p, p + bitset::stored_bytes(&c));
}

bool comp(const Cell& bs) {
    Cell c = bs;
    return bitset::complemented_q(&c);
}

bool member(const Cell& bs, uint32_t n) {
    Cell c = bs;
    return bitset::has_bit(&c, n);
}

// Form or mold text of a rooted bitset.
std::string text_of(Root& bs, bool mold = true) {
    Root out;
    string::make_at(out.get(), 16);
    if (mold) bitset::mold(bs.get(), out.get(), false, false, false, false, 1000, 0);
    else bitset::form(bs.get(), out.get(), false, 1000);
    return string::to_utf8(out.get());
}

class Bitset : public testing::RuntimeTest {};

TEST_F(Bitset, MakesFromSizesAndChars) {
    struct Case {
        Cell spec;
        size_t bytes;
        const char* error;
    } cases[] = {
        {num(1), 1, ""},  {num(9), 2, ""},  {num(0), 0, ""},  {num(16), 2, ""},
        {testing::float_cell(8.5), 1, ""},  {num(-1), 0, "script/out-of-range"},
        {cells::make_none(), 0, "script/bad-make-arg"},
    };
    for (const Case& c : cases) {
        Outcome o = make_bs(c.spec);
        EXPECT_EQ(o.error, c.error);
        if (!*c.error) {
            EXPECT_EQ(stored(o.value), Bytes(c.bytes, 0));
            EXPECT_FALSE(comp(o.value));
        }
    }
    // to takes no size, and names to-errors.
    EXPECT_EQ(make_bs(num(8), bitset::MODE_TO).error, "script/bad-to-arg");
    EXPECT_EQ(make_bs(cells::make_none(), bitset::MODE_TO).error, "script/bad-to-arg");

    Root bs(make_bs(ch('A')).value);
    Bytes expected(9, 0);
    expected[8] = 0x40;
    EXPECT_EQ(stored(bs.cell), expected);
    EXPECT_EQ(text_of(bs), "make bitset! #{000000000000000040}");
    EXPECT_EQ(text_of(bs, false), "make bitset! #{000000000000000040}");
    // A limit cuts the text.
    Root out;
    string::make_at(out.get(), 16);
    int32_t left = bitset::form(bs.get(), out.get(), true, 18);
    EXPECT_EQ(string::to_utf8(out.get()), "make bitset! #{0000");
    EXPECT_LT(left, 0);
}

TEST_F(Bitset, NotMakesAComplementedSet) {
    Root text, spec;
    testing::make_text(text.get(), "a");
    testing::make_block(spec.get(), {word("not"), text.cell});
    Outcome o = make_bs(spec.cell);
    ASSERT_EQ(o.error, "");
    Root bs(o.value);
    Bytes expected(13, 0xFF);
    expected[12] = 0xBF;
    EXPECT_EQ(stored(bs.cell), expected);
    EXPECT_TRUE(comp(bs.cell));
    EXPECT_EQ(text_of(bs), "make bitset! [not #{" + std::string(24, '0') + "40}]");
    EXPECT_FALSE(member(bs.cell, 'a'));
    EXPECT_TRUE(member(bs.cell, 'b'));
    EXPECT_TRUE(member(bs.cell, 100000));
    Cell b = ch('b'), far = num(5000);
    EXPECT_EQ(bitset::pick(bs.get(), 0, &b), &true_value);
    EXPECT_EQ(bitset::pick(bs.get(), 0, &far), &true_value);
    EXPECT_EQ(spec->data1, 0u);  // the spec block's head is put back

    // `not` with a binary takes its bytes inverted.
    Root bin;
    binary::make_at(bin.get(), 2);
    uint8_t raw[2] = {0x0F, 0x80};
    binary::append_bytes(bin.get(), raw, 2);
    testing::make_block(spec.get(), {word("not"), bin.cell});
    o = make_bs(spec.cell);
    EXPECT_EQ(stored(o.value), (Bytes{0xF0, 0x7F}));
    EXPECT_TRUE(comp(o.value));
    o = make_bs(bin.cell);
    EXPECT_EQ(stored(o.value), (Bytes{0x0F, 0x80}));
    EXPECT_FALSE(comp(o.value));
}

TEST_F(Bitset, DialectRangesStringsAndBlocks) {
    Root spec, text, inner;
    testing::make_text(text.get(), "xz");
    testing::make_block(inner.get(), {num(3), word("-"), num(5)});
    testing::make_block(spec.get(), {ch('a'), word("-"), ch('c'), text.cell, inner.cell,
                                     testing::float_cell(10.9)});
    Outcome o = make_bs(spec.cell);
    ASSERT_EQ(o.error, "");
    Root bs(o.value);
    EXPECT_EQ(bitset::stored_bytes(bs.get()), uint32_t(('z' + 8) / 8));
    for (uint32_t n = 0; n < 200; n++) {
        bool in = (n >= 'a' && n <= 'c') || n == 'x' || n == 'z' || (n >= 3 && n <= 5) || n == 10;
        EXPECT_EQ(member(bs.cell, n), in) << n;
    }
    // Test answers true only when every named bit is a member.
    testing::make_block(spec.get(), {ch('a'), word("-"), ch('c'), num(4)});
    EXPECT_EQ(bitset::process(spec.get(), bs.get(), bitset::OP_TEST, false, bitset::MODE_ACTION), 1);
    testing::make_block(spec.get(), {ch('a'), word("-"), ch('d')});
    EXPECT_EQ(bitset::process(spec.get(), bs.get(), bitset::OP_TEST, false, bitset::MODE_ACTION), 0);
    testing::make_text(text.get(), "xyz");
    EXPECT_EQ(bitset::process(text.get(), bs.get(), bitset::OP_TEST, false, bitset::MODE_ACTION), 0);
    testing::make_text(text.get(), "zx");
    EXPECT_EQ(bitset::process(text.get(), bs.get(), bitset::OP_TEST, false, bitset::MODE_ACTION), 1);
    Cell negative = num(-3);
    EXPECT_EQ(bitset::process(&negative, bs.get(), bitset::OP_TEST, false, bitset::MODE_ACTION), 0);

    // The measure of an empty block still gives one byte.
    testing::make_block(spec.get(), {});
    o = make_bs(spec.cell);
    EXPECT_EQ(stored(o.value), Bytes{0});
}

TEST_F(Bitset, DialectErrors) {
    Root spec, bin;
    binary::make_at(bin.get(), 1);
    struct Case {
        std::vector<Cell> items;
        const char* error;
    } cases[] = {
        {{num(10), word("-"), num(5)}, "script/past-end"},
        {{ch('a'), word("-"), num(5)}, "script/invalid-arg"},
        {{ch('a'), word("-")}, "script/past-end"},
        {{num(-1)}, "script/out-of-range"},
        {{cells::make_logic(true)}, "script/bad-make-arg"},
        {{bin.cell}, "internal/not-done"},
    };
    for (const Case& c : cases) {
        testing::make_block(spec.get(), c.items);
        EXPECT_EQ(make_bs(spec.cell).error, c.error);
    }
    // Under the other actions a spec of another type is an invalid argument.
    Outcome o = make_bs(num(8));
    Cell bad = cells::make_logic(true);
    static Cell s_bad;
    s_bad = bad;
    o = run({o.value}, [] { return bitset::append(stack::arg(0), &s_bad, -1, false, 1); });
    EXPECT_EQ(o.error, "script/invalid-arg");
}

TEST_F(Bitset, MembershipActions) {
    Outcome o = make_bs(num(16));
    Root bs(o.value);
    EXPECT_EQ(bitset::length_q(bs.get()), 16);
    Cell a = ch('a');
    bitset::append(bs.get(), &a, -1, false, 1);
    EXPECT_EQ(bitset::length_q(bs.get()), ('a' + 8) / 8 * 8);
    EXPECT_TRUE(member(bs.cell, 'a'));
    FindArgs args;
    EXPECT_EQ(bitset::find(bs.get(), &a, args), &true_value);
    Cell b = ch('b');
    EXPECT_EQ(bitset::find(bs.get(), &b, args), &none_value);

    // poke clears for none, false, 0 and 0.0, and sets for anything else.
    struct Case {
        Cell value;
        bool set;
    } cases[] = {
        {cells::make_none(), false},         {cells::make_logic(false), false},
        {num(0), false},                     {testing::float_cell(0.0), false},
        {cells::make_logic(true), true},     {num(2), true},
        {ch(0), true},
    };
    for (const Case& c : cases) {
        Cell* r = bitset::poke(bs.get(), 300, &c.value);
        EXPECT_EQ(r->type(), c.value.type());
        EXPECT_EQ(member(bs.cell, 300), c.set);
    }

    // remove wants /part; clear keeps the length; copy is independent.
    Outcome r = run({bs.cell}, [] { return bitset::remove(stack::arg(0), nullptr, nullptr); });
    EXPECT_EQ(r.error, "script/missing-arg");
    bitset::remove(bs.get(), &a, nullptr);
    EXPECT_FALSE(member(bs.cell, 'a'));
    Root copy;
    bitset::copy(bs.get(), copy.get(), nullptr, false, nullptr);
    bitset::append(copy.get(), &b, -1, false, 1);
    EXPECT_FALSE(member(bs.cell, 'b'));
    EXPECT_TRUE(member(copy.cell, 'b'));
    int32_t len = bitset::length_q(copy.get());
    bitset::clear(copy.get());
    EXPECT_EQ(bitset::length_q(copy.get()), len);
    EXPECT_EQ(stored(copy.cell), Bytes(size_t(len / 8), 0));

    // Paths read and store bits; other selectors are refused.
    static Cell s_elem, s_true;
    s_elem = ch('q');
    s_true = cells::make_logic(true);
    Outcome p = run({bs.cell}, [] { return bitset::eval_path(testing::path_step(&s_elem, &s_true)); });
    ASSERT_EQ(p.error, "");
    EXPECT_TRUE(member(bs.cell, 'q'));
    p = run({bs.cell}, [] { return bitset::eval_path(testing::path_step(&s_elem, nullptr)); });
    EXPECT_EQ(p.value.type(), uint32_t(T_LOGIC));
    EXPECT_TRUE(cells::logic(p.value));
    s_elem = cells::make_none();
    p = run({bs.cell}, [] { return bitset::eval_path(testing::path_step(&s_elem, nullptr)); });
    EXPECT_EQ(p.error, "script/invalid-type");
}

TEST_F(Bitset, ComplementAndComparison) {
    Outcome o = make_bs(ch('a'));
    Root a(o.value), c(o.value);
    bitset::complement(c.get());
    EXPECT_NE(c->data2, a->data2);
    EXPECT_TRUE(comp(c.cell));
    EXPECT_FALSE(comp(a.cell));
    for (uint32_t n : {0u, 96u, 97u, 98u, 5000u}) EXPECT_NE(member(c.cell, n), member(a.cell, n)) << n;
    Root cc(c.cell);
    bitset::complement(cc.get());
    EXPECT_EQ(bitset::compare(cc.get(), a.get(), COMP_EQUAL), 0);
    EXPECT_EQ(bitset::compare(cc.get(), a.get(), COMP_SAME), 1);
    EXPECT_EQ(bitset::compare(a.get(), a.get(), COMP_SAME), 0);
    // Different flags: the plain set is less; longer runs are greater.
    EXPECT_EQ(bitset::compare(a.get(), c.get(), COMP_SORT), -1);
    Outcome longer = make_bs(ch('z' + 20));
    Root l(longer.value);
    EXPECT_EQ(bitset::compare(l.get(), c.get(), COMP_SORT), 1);
    Cell n = num(1);
    EXPECT_EQ(bitset::compare(a.get(), &n, COMP_EQUAL), NOT_COMPARABLE);
    // Bytes from the last towards the first.
    Root x, y;
    bitset::make_at(x.get(), 2, false);
    bitset::make_at(y.get(), 2, false);
    bitset::data_address(x.get())[0] = 0xFF;
    bitset::data_address(y.get())[1] = 0x01;
    EXPECT_EQ(bitset::compare(x.get(), y.get(), COMP_SORT), -1);
}

// ---- the set algebra ----

Outcome combine(const Cell& a, const Cell& b, int code) {
    static int s_code;
    s_code = code;
    return run({a, b}, [] { return bitset::do_bitwise(s_code); });
}

TEST_F(Bitset, UnionsOfComplementedSets) {
    Root plain, compl_a, compl_b, text, spec;
    plain.cell = make_bs(ch('a')).value;
    testing::make_text(text.get(), "b");
    testing::make_block(spec.get(), {word("not"), text.cell});
    compl_a.cell = make_bs(spec.cell).value;
    testing::make_block(spec.get(), {word("not"), ch('c')});
    compl_b.cell = make_bs(spec.cell).value;

    Outcome u = combine(plain.cell, compl_a.cell, 9);
    EXPECT_TRUE(comp(u.value));
    u = combine(compl_a.cell, compl_b.cell, 9);
    EXPECT_TRUE(comp(u.value));  // the union of two complemented sets is complemented
    for (uint32_t n : {97u, 98u, 99u, 100u, 4000u}) EXPECT_TRUE(member(u.value, n)) << n;
    Outcome i = combine(compl_a.cell, compl_b.cell, 10);
    EXPECT_TRUE(comp(i.value));
    EXPECT_FALSE(member(i.value, 'b'));
    EXPECT_FALSE(member(i.value, 'c'));
    EXPECT_TRUE(member(i.value, 'd'));
    // A union of a set with itself is the set.
    for (Cell* s : {plain.get(), compl_a.get()}) {
        Outcome self = combine(*s, *s, 9);
        Cell r = self.value;
        EXPECT_EQ(bitset::compare(&r, s, COMP_EQUAL), 0);
    }
    // unique answers the first value; a non-bitset operand is refused.
    EXPECT_EQ(combine(plain.cell, compl_a.cell, 8).value.data2, plain->data2);
    EXPECT_EQ(combine(plain.cell, num(1), 9).error, "script/invalid-type");
}

TEST_F(Bitset, AlgebraMatchesABitVectorModel) {
    std::mt19937 rng(77);
    struct Op {
        int code;
        bool (*f)(bool, bool);
    } ops[] = {
        {OP_OR, [](bool x, bool y) { return x || y; }},
        {OP_AND, [](bool x, bool y) { return x && y; }},
        {OP_XOR, [](bool x, bool y) { return x != y; }},
        {9, [](bool x, bool y) { return x || y; }},
        {10, [](bool x, bool y) { return x && y; }},
        {11, [](bool x, bool y) { return x && !y; }},
        {12, [](bool x, bool y) { return x != y; }},
    };
    Root a, b;
    auto random_set = [&](Root& r, std::vector<bool>& model, bool& flag) {
        uint32_t n = rng() % 6;
        flag = rng() % 2;
        bitset::make_at(r.get(), n, flag);
        uint8_t* p = bitset::data_address(r.get());
        model.assign(n * 8, false);
        for (uint32_t i = 0; i < n; i++) {
            p[i] = uint8_t(rng() % 3 == 0 ? (flag ? 0xFF : 0) : rng());
            for (int bit = 0; bit < 8; bit++) model[i * 8 + bit] = p[i] & (0x80 >> bit);
        }
    };
    auto in = [](const std::vector<bool>& m, bool flag, uint32_t n) { return n < m.size() ? bool(m[n]) : flag; };
    for (int round = 0; round < 300; round++) {
        std::vector<bool> ma, mb;
        bool fa, fb;
        random_set(a, ma, fa);
        random_set(b, mb, fb);
        for (const Op& op : ops) {
            Outcome o = combine(a.cell, b.cell, op.code);
            ASSERT_EQ(o.error, "");
            EXPECT_EQ(comp(o.value), op.f(fa, fb));
            for (uint32_t n = 0; n < 64; n++) {
                ASSERT_EQ(member(o.value, n), op.f(in(ma, fa, n), in(mb, fb, n)))
                    << "op " << op.code << " bit " << n << " flags " << fa << fb;
            }
            // The room past the stored bytes holds the result's fill.
            Cell r = o.value;
            SeriesBuffer* buf = memory::buffer_of(r.data2);
            for (uint8_t* q = buf->tail_ptr(); q < buf->end_ptr(); q++)
                ASSERT_EQ(*q, comp(r) ? 0xFF : 0x00);
        }
    }
}

TEST_F(Bitset, GrowthKeepsTheFill) {
    Root spec, bs;
    testing::make_block(spec.get(), {word("not"), ch('a')});
    bs.cell = make_bs(spec.cell).value;
    // Clearing a far bit of a complemented set grows it with members.
    Cell far = num(1000);
    bitset::remove(bs.get(), &far, nullptr);  // a complemented set takes the bit as set
    Cell none = cells::make_none();
    bitset::poke(bs.get(), 1000, &none);
    EXPECT_FALSE(member(bs.cell, 1000));
    for (uint32_t n : {98u, 500u, 999u, 1001u, 1200u}) EXPECT_TRUE(member(bs.cell, n)) << n;
    EXPECT_FALSE(member(bs.cell, 'a'));
    // Setting a far bit of a complemented set changes nothing.
    uint32_t before = bitset::stored_bytes(bs.get());
    Cell far2 = num(5000);
    bitset::poke(bs.get(), 5000, &far2);
    EXPECT_EQ(bitset::stored_bytes(bs.get()), std::max<uint32_t>(before, 5000 / 8 + 1));
    EXPECT_TRUE(member(bs.cell, 5000));
}

}  // namespace
}  // namespace kov
