// pair!: arithmetic per coordinate and the moves to point2D!, the exchanged operands of integer!
// and float! arithmetic, the constructor, text, comparison (the caller's cells untouched),
// rounding, paths, pick and the unary actions.
#include <cmath>
#include <iterator>

#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

Cell P(int32_t x, int32_t y) { return Cell{T_PAIR, 0, uint32_t(x), uint32_t(y)}; }
Cell P2(float x, float y) {
    Cell c;
    point2d::make_at(&c, x, y);
    return c;
}
Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

class Pair : public testing::RuntimeTest {};

// Each case: left op right through an action routine; the result is a pair!, a point2D! or an
// error.
TEST_F(Pair, Arithmetic) {
    struct Case {
        Cell left, right;
        void (*action)();
        Cell expect;
        const char* error;
    };
    const Case cases[] = {
        {P(1, 2), P(3, 4), pair::add, P(4, 6), ""},
        {P(2, 3), integer_cell(2), pair::multiply, P(4, 6), ""},
        {P(2, 3), float_cell(1.5), pair::add, P(3, 4), ""},
        {P(2, 3), float_cell(1.5), pair::multiply, P2(3, 4.5), ""},
        {P(4, 6), integer_cell(2), pair::divide, P(2, 3), ""},
        {P(5, 6), integer_cell(2), pair::divide, P2(2.5, 3), ""},
        {P(2147483647, 1), integer_cell(1), pair::add, P2(2147483648.0f, 2), ""},
        {P(1, 2), P2(0.5, 0.5), pair::add, P2(1.5, 2.5), ""},
        {P(5, 5), integer_cell(0), pair::divide, {}, "math/zero-divide"},
        {P(5, 5), P(1, 0), pair::remainder, {}, "math/zero-divide"},
        {P(2, 3), P(1, 1), pair::and_t, P(0, 1), ""},
        {P(2, 3), P(1, 1), pair::or_t, P(3, 3), ""},
        {P(7, -7), integer_cell(3), pair::remainder, P(1, -1), ""},
        {P(1, 1), float_cell(INFINITY), pair::multiply, {}, "script/invalid-arg"},
        {P(1, 1), float_cell(NAN), pair::divide, {}, "script/invalid-arg"},
        {P(1, 1), float_cell(INFINITY), pair::divide, P2(0, 0), ""},
        {P(1, 1), float_cell(NAN), pair::add, {}, "script/invalid-arg"},
        {P(1, 1), float_cell(3e9), pair::add, P(INT32_MIN + 1, INT32_MIN + 1), ""},
        {P(1, 1), Cell{T_STRING, 0, 0, 0}, pair::add, {}, "script/invalid-type"},
        // integer! and float! on the left: the operands change places.
        {integer_cell(5), P(1, 2), integer::add, P(6, 7), ""},
        {integer_cell(5), P(1, 2), integer::subtract, P(4, 3), ""},
        {integer_cell(3), P(1, 2), integer::multiply, P(3, 6), ""},
        {integer_cell(5), P(1, 2), integer::divide, {}, "script/not-related"},
        {integer_cell(5), P2(1, 2), integer::subtract, P2(4, 3), ""},
        {float_cell(1.5), P(2, 3), float_::multiply, P2(3, 4.5), ""},
        {float_cell(1.5), P(2, 3), float_::subtract, {}, "script/not-related"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] { c.action(); return nullptr; });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        ASSERT_EQ(o.value.type(), c.expect.type()) << "case " << i;
        if (c.expect.is(T_PAIR)) {
            EXPECT_EQ(pair::x(&o.value), pair::x(&c.expect)) << "case " << i;
            EXPECT_EQ(pair::y(&o.value), pair::y(&c.expect)) << "case " << i;
        } else {
            EXPECT_EQ(point::component(&o.value, 0), point::component(&c.expect, 0)) << "case " << i;
            EXPECT_EQ(point::component(&o.value, 1), point::component(&c.expect, 1)) << "case " << i;
        }
    }
}

TEST_F(Pair, Make) {
    collector::Root block, text;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    auto str = [&](const char* s) {
        testing::make_text(text.get(), s);
        return text.cell;
    };
    struct Case {
        std::function<Cell()> spec;
        Cell expect;
        const char* error;
    };
    const Case cases[] = {
        {[] { return integer_cell(5); }, P(5, 5), ""},
        {[] { return float_cell(2.7); }, P(2, 2), ""},
        {[] { return float_cell(-2.7); }, P(-2, -2), ""},
        {[] { return float_cell(1e20); }, P(INT32_MIN, INT32_MIN), ""},
        {[&] { return blk({integer_cell(1), float_cell(2.9)}); }, P(1, 2), ""},
        {[&] { return blk({integer_cell(1), integer_cell(2), integer_cell(3)}); }, P(1, 2), ""},
        {[&] { return blk({integer_cell(1)}); }, {}, "syntax/malconstruct"},
        {[&] { return blk({integer_cell(1), Cell{T_NONE, 0, 0, 0}}); }, {}, "syntax/malconstruct"},
        {[] { return P2(1.9f, -2.9f); }, P(1, -2), ""},
        {[] { return P2(INFINITY, 1); }, {}, "script/invalid-arg"},
        {[&] { return str("3x4"); }, P(3, 4), ""},
        {[&] { return str("-3x-4"); }, P(-3, -4), ""},
        {[&] { return str("3"); }, {}, "script/bad-to-arg"},
        {[] { return P(7, 8); }, P(7, 8), ""},
        {[] { return Cell{T_NONE, 0, 0, 0}; }, {}, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec},
                        [] { return pair::make(nullptr, stack::arg(1), T_PAIR); });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), uint32_t(T_PAIR)) << "case " << i;
        EXPECT_EQ(pair::x(&o.value), pair::x(&c.expect)) << "case " << i;
        EXPECT_EQ(pair::y(&o.value), pair::y(&c.expect)) << "case " << i;
    }
}

TEST_F(Pair, Text) {
    EXPECT_EQ(testing::formed(P(-1, -2)), "-1x-2");
    EXPECT_EQ(testing::molded(P(10, -20)), "10x-20");
    EXPECT_EQ(testing::formed(P(INT32_MIN, 0)), "-2147483648x0");
}

TEST_F(Pair, CompareLeavesTheCallersCellsAlone) {
    const struct {
        Cell a, b;
        int op;
        int32_t expect;
    } cases[] = {
        {P(1, 5), P(2, 0), COMP_LESSER, -1},
        {P(1, 5), P(1, 4), COMP_GREATER, 1},
        {P(2147483647, 0), P(-1, 0), COMP_GREATER, 1},
        {P(3, 4), P(3, 4), COMP_EQUAL, 0},
        {P(3, 4), P(3, 4), COMP_STRICT_EQUAL, 0},
        {P(3, 4), P2(3, 4), COMP_EQUAL, 0},
        {P(3, 4), P2(3, 4.5), COMP_EQUAL, 1},
        {P(3, 4), integer_cell(3), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const auto& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(pair::compare(&a, &b, c.op), c.expect);
        EXPECT_EQ(std::memcmp(&a, &c.a, sizeof a), 0);
        EXPECT_EQ(std::memcmp(&b, &c.b, sizeof b), 0);
        // The point2D! side compares a pair through a copy as well.
        if (b.is(T_POINT2D)) {
            EXPECT_EQ(point2d::compare(&b, &a, c.op), c.expect == 0 ? 0 : 1);
            EXPECT_EQ(a.type(), uint32_t(T_PAIR));
        }
    }
}

TEST_F(Pair, Round) {
    const struct {
        Cell value, scale;
        bool to;
        Cell expect;
        const char* error;
    } cases[] = {
        {P(17, 23), integer_cell(10), true, P(20, 20), ""},
        {P(17, 23), P(5, 10), true, P(15, 20), ""},
        {P(17, -23), integer_cell(10), true, P(20, -20), ""},
        {P(17, 23), float_cell(2.5), true, P(17, 22), ""},
        {P(17, 23), {}, false, P(17, 23), ""},
        {P(2147483647, 0), integer_cell(10), true, {}, "math/overflow"},
        {P(1, 1), Cell{T_MONEY, 0, 0, 0}, true, {}, "script/not-related"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Outcome o = run({c.value, c.scale}, [&] {
            return pair::round(stack::arg(0), c.to ? stack::arg(1) : nullptr, false, false, false,
                               false, false, false);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(pair::x(&o.value), pair::x(&c.expect)) << "case " << i;
        EXPECT_EQ(pair::y(&o.value), pair::y(&c.expect)) << "case " << i;
    }
}

TEST_F(Pair, PathsAndPick) {
    Cell x = word("x"), y = word("Y"), z = word("z"), five = integer_cell(5), half = float_cell(0.5);
    auto path = [&](const Cell* element, const Cell* value, Cell* after = nullptr) {
        return run({P(1, 2)}, [&] {
            PathStep step = testing::path_step(element, value);
            Cell* r = pair::eval_path(step);
            if (after) *after = *stack::arg(0);
            return r;
        });
    };
    EXPECT_EQ(path(&x, nullptr).value.data2, 1u);
    EXPECT_EQ(path(&y, nullptr).value.data2, 2u);
    Cell two = integer_cell(2);
    EXPECT_EQ(path(&two, nullptr).value.data2, 2u);
    Cell after;
    Outcome o = path(&x, &five, &after);
    EXPECT_EQ(o.value.data2, 5u);
    EXPECT_EQ(pair::x(&after), 5);
    EXPECT_EQ(pair::y(&after), 2);
    EXPECT_EQ(path(&z, nullptr).error, "script/invalid-path");
    EXPECT_EQ(path(&x, &half).error, "script/invalid-type");

    EXPECT_EQ(run({P(1, 2)}, [] { return pair::pick(stack::arg(0), 2, nullptr); }).value.data2, 2u);
    EXPECT_EQ(run({P(1, 2)}, [] { return pair::pick(stack::arg(0), 3, nullptr); }).error,
              "script/out-of-range");
    EXPECT_EQ(run({P(1, 2)}, [&] { return pair::pick(stack::arg(0), 0, &z); }).error,
              "script/cannot-use");
    Cell none{T_NONE, 0, 0, 0};
    EXPECT_EQ(run({}, [&] { pair::field_index(&z, &none); return nullptr; }).error,
              "script/invalid-path");
}

// A store through a path whose owner is an object reports the field word, the old value and the
// new one to the object's change hook; a read or an unannounced store does not.
TEST_F(Pair, PathStoreTellsAnObjectOwner) {
    static int calls;
    static Cell seen_word, seen_old, seen_new;
    calls = 0;
    auto saved_hook = context::fire_on_change_hook;
    context::fire_on_change_hook = [](const Cell*, const Cell* w, const Cell* old, const Cell* fresh) {
        ++calls;
        seen_word = *w;
        seen_old = *old;
        seen_new = *fresh;
    };
    Cell owner{T_OBJECT, 0, 0, 0}, field = word("size"), x = word("x"), five = integer_cell(5);
    for (bool notify : {true, false}) {
        run({P(1, 2)}, [&] {
            PathStep step = testing::path_step(&x, &five);
            step.grandparent = &owner;
            step.previous = &field;
            step.notify = notify;
            return pair::eval_path(step);
        });
    }
    context::fire_on_change_hook = saved_hook;
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(cells::word_symbol(seen_word), cells::word_symbol(field));
    EXPECT_EQ(pair::x(&seen_old), 1);
    EXPECT_EQ(pair::x(&seen_new), 5);
}

TEST_F(Pair, UnaryActions) {
    const struct {
        Cell value;
        std::function<void()> action;
        Cell expect;
        const char* error;
    } cases[] = {
        {P(1, -2), [] { pair::negate(stack::arg(0)); }, P(-1, 2), ""},
        {P(INT32_MIN, 0), [] { pair::negate(stack::arg(0)); }, {}, "math/overflow"},
        {P(-3, 4), [] { pair::absolute(); }, P(3, 4), ""},
        {P(0, INT32_MIN), [] { pair::absolute(); }, {}, "math/overflow"},
        {P(1, 2), [] { pair::reverse(stack::arg(0), nullptr, nullptr); }, P(2, 1), ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Outcome o = run({c.value}, [&] { c.action(); return nullptr; });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(pair::x(&o.value), pair::x(&c.expect)) << "case " << i;
        EXPECT_EQ(pair::y(&o.value), pair::y(&c.expect)) << "case " << i;
    }
}

TEST_F(Pair, RandomKeepsSignsAndZeros) {
    for (int i = 0; i < 100; ++i) {
        Outcome o = run({P(10, 0)}, [&] { return pair::random(stack::arg(0), false, i & 1, false); });
        EXPECT_TRUE(pair::x(&o.value) >= 1 && pair::x(&o.value) <= 10);
        EXPECT_EQ(pair::y(&o.value), 0);
        o = run({P(-5, 3)}, [] { return pair::random(stack::arg(0), false, false, false); });
        EXPECT_TRUE(pair::x(&o.value) >= -5 && pair::x(&o.value) <= -1);
    }
    EXPECT_EQ(run({P(1, 2)}, [] { return pair::random(stack::arg(0), true, false, false); })
                  .value.type(),
              uint32_t(T_UNSET));
}

}  // namespace
}  // namespace kov
