// tuple!: conversions (blocks, text, issues), saturating arithmetic and the exchanged operands,
// comparison, text, byte paths with cutting, pick, reverse with /part and /skip, complement.
#include <cmath>
#include <iterator>
#include <tuple>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/tuple.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

Cell Tu(std::vector<uint8_t> b) { return tuple::make_cell(b.data(), uint32_t(b.size())); }
Cell issue(const char* s) { return cells::make_word(T_ISSUE, 0, symbol::make(s)); }

class Tuple : public testing::RuntimeTest {};

TEST_F(Tuple, Make) {
    collector::Root block, text;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    auto str = [&](const char* s) {
        testing::make_text(text.get(), s);
        return text.cell;
    };
    struct Case {
        std::function<Cell()> spec;
        const char* text;
        const char* error;
    };
    std::vector<Cell> thirteen(13, integer_cell(1));
    const Case cases[] = {
        {[] { return issue("F00"); }, "255.0.0", ""},
        {[] { return issue("11223344"); }, "17.34.51.68", ""},
        {[] { return issue("a0B1c2"); }, "160.177.194", ""},
        {[] { return issue("1234"); }, nullptr, "script/invalid-data"},
        {[] { return issue("GG0"); }, nullptr, "script/invalid-data"},
        // Characters above 127 are refused even when their low seven bits read as a digit.
        {[] { return issue("\xC2\xB1" "00"); }, nullptr, "script/invalid-data"},
        {[] { return issue("\xC3\x81" "BC"); }, nullptr, "script/invalid-data"},
        {[&] { return blk({integer_cell(1), integer_cell(2)}); }, "1.2.0", ""},
        {[&] { return blk({integer_cell(256)}); }, nullptr, "script/bad-to-arg"},
        {[&] { return blk({integer_cell(-1)}); }, nullptr, "script/bad-to-arg"},
        {[&] { return blk({float_cell(2.9), Cell{T_CHAR, 0, 65, 0}, integer_cell(0)}); }, "2.65.0", ""},
        {[&] { return blk({float_cell(NAN)}); }, nullptr, "script/bad-to-arg"},
        {[&] { return blk(thirteen); }, nullptr, "script/bad-to-arg"},
        {[&] { return str("1.2.3.4"); }, "1.2.3.4", ""},
        {[&] { return str("1.2"); }, nullptr, "script/bad-to-arg"},
        {[&] { return str("1.256.3"); }, nullptr, "script/bad-to-arg"},
        {[] { return Tu({9, 8, 7}); }, "9.8.7", ""},
        {[] { return integer_cell(1); }, nullptr, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec},
                        [] { return tuple::make(nullptr, stack::arg(1), T_TUPLE); });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) {
            EXPECT_EQ(testing::formed(o.value), c.text) << "case " << i;
        }
    }
}

TEST_F(Tuple, Arithmetic) {
    struct Case {
        Cell left, right;
        void (*action)();
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {Tu({250, 10, 3}), integer_cell(10), [] { tuple::do_math(OP_ADD); }, "255.20.13", ""},
        {Tu({1, 2, 3}), integer_cell(5), [] { tuple::do_math(OP_SUB); }, "0.0.0", ""},
        {Tu({1, 2, 3}), float_cell(1.5), [] { tuple::do_math(OP_MUL); }, "1.3.4", ""},
        {Tu({1, 2, 3}), Tu({1, 1, 1, 1}), [] { tuple::do_math(OP_ADD); }, "2.3.4.1", ""},
        {Tu({100, 2, 3}), integer_cell(2147483647), [] { tuple::do_math(OP_MUL); }, "255.255.255", ""},
        {Tu({1, 2, 3}), integer_cell(-2147483647), [] { tuple::do_math(OP_SUB); }, "255.255.255", ""},
        {Tu({9, 8, 7}), integer_cell(2), [] { tuple::do_math(OP_DIV); }, "4.4.3", ""},
        {Tu({9, 8, 7}), integer_cell(4), [] { tuple::do_math(OP_REM); }, "1.0.3", ""},
        {Tu({1, 2, 3}), integer_cell(0), [] { tuple::do_math(OP_DIV); }, nullptr, "math/zero-divide"},
        {Tu({1, 2, 3}), float_cell(0.5, T_PERCENT), [] { tuple::do_math(OP_MUL); }, "0.1.1", ""},
        {Tu({1, 2, 3}), float_cell(1e300), [] { tuple::do_math(OP_MUL); }, "255.255.255", ""},
        {Tu({1, 2, 3}), float_cell(-1.0), [] { tuple::do_math(OP_MUL); }, "0.0.0", ""},
        {Tu({12, 10, 3}), integer_cell(6), [] { tuple::do_math(OP_AND); }, "4.2.2", ""},
        {Tu({1, 2, 3}), Cell{T_STRING, 0, 0, 0}, [] { tuple::do_math(OP_ADD); }, nullptr,
         "script/invalid-type"},
        // integer! and float! on the left.
        {integer_cell(10), Tu({1, 2, 3}), integer::add, "11.12.13", ""},
        {integer_cell(10), Tu({1, 2, 3}), integer::subtract, nullptr, "script/not-related"},
        {float_cell(2.0), Tu({1, 2, 3}), float_::multiply, "2.4.6", ""},
        {float_cell(2.0), Tu({1, 2, 3}), float_::divide, nullptr, "script/not-related"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] { c.action(); return nullptr; });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) {
            EXPECT_EQ(testing::formed(o.value), c.text) << "case " << i;
        }
    }
}

// not-related names the action word first, then the datatype of the value on the left.
TEST_F(Tuple, NotRelatedArguments) {
    for (auto [left, action, word] :
         {std::tuple{integer_cell(10), +[] { tuple::do_math(OP_SUB); }, "subtract"},
          std::tuple{float_cell(1.0), +[] { tuple::do_math(OP_DIV); }, "divide"}}) {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        stack::mark_native(nullptr);
        Cell t = Tu({1, 2, 3});
        stack::push(&left);
        stack::push(&t);
        ASSERT_EQ(testing::unwind_code(action), THROW_ERROR);
        const Cell* e = stack::top_value();
        EXPECT_EQ(error::id_word(e), "not-related");
        EXPECT_EQ(symbol::spelling(error::field(e, error::F_ARG1)->data2), word);
        EXPECT_EQ(error::field(e, error::F_ARG2)->type(), uint32_t(T_DATATYPE));
        EXPECT_EQ(error::field(e, error::F_ARG2)->data1, left.type());
        saved.restore();
    }
}

TEST_F(Tuple, Compare) {
    const struct {
        Cell a, b;
        int32_t expect;
    } cases[] = {
        {Tu({1, 2, 3}), Tu({1, 2, 3, 0}), 0},
        {Tu({1, 2, 3}), Tu({1, 2, 3, 1}), -1},
        {Tu({1, 2, 4}), Tu({1, 2, 3, 9}), 1},
        {Tu({1, 2, 3}), integer_cell(1), NOT_COMPARABLE},
    };
    for (const auto& c : cases) EXPECT_EQ(tuple::compare(&c.a, &c.b, COMP_EQUAL), c.expect);
}

TEST_F(Tuple, PathsAndPick) {
    Cell none{T_NONE, 0, 0, 0}, big = integer_cell(300), w = cells::make_word(T_WORD, 0, symbol::make("x"));
    auto set = [&](Cell value, int32_t index, const Cell* v, Cell* after) {
        Cell element = integer_cell(index);
        return run({value}, [&] {
            PathStep step = testing::path_step(&element, v);
            Cell* r = tuple::eval_path(step);
            *after = *stack::arg(0);
            return r;
        });
    };
    Cell after;
    set(Tu({1, 2, 3}), 2, &none, &after);
    EXPECT_EQ(testing::formed(after), "1.0.0");
    set(Tu({1, 2, 3, 4, 5}), 5, &none, &after);
    EXPECT_EQ(testing::formed(after), "1.2.3.4");
    set(Tu({1, 2, 3}), 1, &big, &after);
    EXPECT_EQ(testing::formed(after), "255.2.3");
    EXPECT_EQ(set(Tu({1, 2, 3}), 1, &w, &after).error, "script/invalid-type");
    EXPECT_EQ(set(Tu({1, 2, 3}), 2, nullptr, &after).value.data2, 2u);
    for (int32_t i : {0, 4})
        EXPECT_EQ(set(Tu({1, 2, 3}), i, nullptr, &after).error, "script/out-of-range") << i;
    EXPECT_EQ(run({Tu({1, 2, 3})}, [&] { return tuple::pick(stack::arg(0), 0, &w); }).error,
              "script/invalid-type");
    EXPECT_EQ(run({Tu({1, 2, 3})}, [] { return tuple::pick(stack::arg(0), 3, nullptr); }).value.data2,
              3u);
}

TEST_F(Tuple, Reverse) {
    const struct {
        std::vector<uint8_t> bytes;
        Cell part, skip;
        bool has_part, has_skip;
        const char* text;
        const char* error;
    } cases[] = {
        {{1, 2, 3, 4}, {}, {}, false, false, "4.3.2.1", ""},
        {{1, 2, 3, 4}, integer_cell(2), {}, true, false, "2.1.3.4", ""},
        {{1, 2, 3, 4}, integer_cell(9), {}, true, false, "4.3.2.1", ""},
        {{1, 2, 3, 4, 5, 6}, {}, integer_cell(2), false, true, "5.6.3.4.1.2", ""},
        {{1, 2, 3, 4}, integer_cell(4), integer_cell(4), true, true, "1.2.3.4", ""},
        {{1, 2, 3, 4}, integer_cell(-1), {}, true, false, nullptr, "script/out-of-range"},
        {{1, 2, 3, 4}, float_cell(1), {}, true, false, nullptr, "script/invalid-refine-arg"},
        {{1, 2, 3, 4}, {}, integer_cell(0), false, true, nullptr, "script/out-of-range"},
        {{1, 2, 3, 4}, {}, integer_cell(3), false, true, nullptr, "script/invalid-refine-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Outcome o = run({Tu(c.bytes), c.part, c.skip}, [&] {
            return tuple::reverse(stack::arg(0), c.has_part ? stack::arg(1) : nullptr,
                                  c.has_skip ? stack::arg(2) : nullptr);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) {
            EXPECT_EQ(testing::formed(o.value), c.text) << "case " << i;
        }
    }
}

TEST_F(Tuple, OtherActions) {
    Cell t = Tu({0, 255, 16, 1});
    EXPECT_EQ(testing::molded(t), "0.255.16.1");
    EXPECT_EQ(tuple::length_q(&t), 4);
    tuple::complement(&t);
    EXPECT_EQ(testing::formed(t), "255.0.239.254");
    EXPECT_EQ(tuple::count(&t), 4u);
    Cell z = Tu({0, 0, 0, 0});
    EXPECT_TRUE(tuple::all_zero_q(&z));
    EXPECT_FALSE(tuple::all_zero_q(&t));
    Cell rgba;
    tuple::make_rgba(&rgba, 1, 2, 3, -1);
    EXPECT_EQ(testing::formed(rgba), "1.2.3");
    tuple::make_rgba(&rgba, 1, 2, 3, 4);
    EXPECT_EQ(testing::formed(rgba), "1.2.3.4");
    Cell small = Tu({7});
    EXPECT_EQ(testing::formed(small), "7.0.0");
    for (int i = 0; i < 50; ++i) {
        Outcome o = run({Tu({10, 0, 255})}, [&] { return tuple::random(stack::arg(0), false, i & 1, false); });
        tuple::Bytes b = tuple::bytes(&o.value);
        EXPECT_LE(b.b[0], 10);
        EXPECT_EQ(b.b[1], 0);
        EXPECT_EQ(b.count, 3u);
    }
}

}  // namespace
}  // namespace kov
