// point2D! and point3D!: arithmetic on 32-bit components, the constructor, text, the almost-equal
// comparison, rounding, paths, pick, reverse and negate.
#include <bit>
#include <cmath>
#include <iterator>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

Cell P2(float x, float y) {
    Cell c;
    point2d::make_at(&c, x, y);
    return c;
}
Cell P3(float x, float y, float z) {
    Cell c;
    point3d::make_at(&c, x, y, z);
    return c;
}
Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

void expect_point(const Cell& got, const Cell& want, size_t i) {
    ASSERT_EQ(got.type(), want.type()) << "case " << i;
    int n = want.is(T_POINT2D) ? 2 : 3;
    for (int k = 0; k < n; ++k)
        EXPECT_EQ(point::component(&got, k), point::component(&want, k)) << "case " << i << " " << k;
}

class Point : public testing::RuntimeTest {};

TEST_F(Point, Arithmetic) {
    struct Case {
        Cell left, right;
        int op;
        Cell expect;
        const char* error;
    };
    const float inf = INFINITY;
    const Case cases[] = {
        {P2(1, 2), P2(3, 4), OP_ADD, P2(4, 6), ""},
        {P2(1, 2), float_cell(2.5), OP_MUL, P2(2.5, 5), ""},
        {P2(1, 2), integer_cell(0), OP_DIV, P2(inf, inf), ""},
        {P2(1, 2), Cell{T_PAIR, 0, 1, 1}, OP_ADD, P2(2, 3), ""},
        {P2(5, 7), integer_cell(2), OP_REM, P2(1, 1), ""},
        {P2(1, 2), float_cell(0.5, T_PERCENT), OP_MUL, P2(0.5, 1), ""},
        {P2(0.1f, 0.2f), float_cell(0.1), OP_ADD, P2(0.2f, 0.3f), ""},
        {P2(1, 2), P3(1, 2, 3), OP_ADD, {}, "script/invalid-type"},
        {P2(1, 2), P2(1, 1), OP_AND, {}, "script/cannot-use"},
        {P3(1, 2, 3), P3(1, 1, 1), OP_SUB, P3(0, 1, 2), ""},
        {P3(1, 2, 3), integer_cell(2), OP_MUL, P3(2, 4, 6), ""},
        {P3(1, 2, 3), P2(1, 2), OP_ADD, {}, "script/invalid-type"},
        {P3(1, 2, 3), Cell{T_PAIR, 0, 1, 2}, OP_ADD, {}, "script/invalid-type"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] {
            return c.left.is(T_POINT2D) ? point2d::do_math(c.op) : point3d::do_math(c.op);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) expect_point(o.value, c.expect, i);
    }
}

TEST_F(Point, ExchangedOperands) {
    Outcome o = run({integer_cell(5), P2(1, 2)}, [] { integer::subtract(); return nullptr; });
    expect_point(o.value, P2(4, 3), 0);
    o = run({float_cell(2.0), P3(1, 2, 3)}, [] { float_::multiply(); return nullptr; });
    expect_point(o.value, P3(2, 4, 6), 1);
    EXPECT_EQ(run({float_cell(2.0), P3(1, 2, 3)}, [] { float_::divide(); return nullptr; }).error,
              "script/not-related");
}

TEST_F(Point, Make) {
    collector::Root block, text;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    auto str = [&](const char* s) {
        testing::make_text(text.get(), s);
        return text.cell;
    };
    struct Case {
        uint32_t target;
        std::function<Cell()> spec;
        Cell expect;
        const char* error;
    };
    const Case cases[] = {
        {T_POINT2D, [&] { return blk({integer_cell(1), integer_cell(2)}); }, P2(1, 2), ""},
        {T_POINT2D, [&] { return blk({integer_cell(1)}); }, {}, "syntax/malconstruct"},
        {T_POINT3D, [&] { return blk({integer_cell(1), float_cell(2.5), integer_cell(3)}); },
         P3(1, 2.5, 3), ""},
        {T_POINT3D, [&] { return blk({integer_cell(1), integer_cell(2)}); }, {}, "syntax/malconstruct"},
        {T_POINT3D, [] { return Cell{T_PAIR, 0, 3, 4}; }, P3(3, 4, 0), ""},
        {T_POINT3D, [] { return P2(3, 4); }, P3(3, 4, 0), ""},
        {T_POINT2D, [] { return P3(3, 4, 5); }, {}, "script/bad-to-arg"},
        {T_POINT2D, [] { return integer_cell(7); }, P2(7, 7), ""},
        {T_POINT3D, [] { return float_cell(0.5); }, P3(0.5, 0.5, 0.5), ""},
        {T_POINT2D, [&] { return str("(1, 2)"); }, P2(1, 2), ""},
        {T_POINT3D, [&] { return str("(1, 2.5, -3)"); }, P3(1, 2.5, -3), ""},
        {T_POINT2D, [&] { return str("(1, 2, 3)"); }, {}, "script/bad-to-arg"},
        {T_POINT2D, [] { return Cell{T_NONE, 0, 0, 0}; }, {}, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec}, [&] {
            return type_registry::table(c.target).make(nullptr, stack::arg(1), c.target);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) expect_point(o.value, c.expect, i);
    }
}

TEST_F(Point, Text) {
    const struct {
        Cell value;
        const char* text;
    } cases[] = {
        {P2(1, 2.5), "(1, 2.5)"},
        {P2(0.1f, 2), "(0.1, 2)"},
        {P2(1e-20f, 1), "(0, 1)"},
        {P3(1, 2, 3), "(1, 2, 3)"},
        {P2(INFINITY, -INFINITY), "(1.#INF, -1.#INF)"},
        {P2(NAN, 1e20f), "(1.#NaN, 1e20)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::formed(c.value), c.text);
        EXPECT_EQ(testing::molded(c.value), c.text);
    }
}

TEST_F(Point, AlmostEqual32) {
    auto next = [](float f, int n) {
        uint32_t b = std::bit_cast<uint32_t>(f);
        return std::bit_cast<float>(b + uint32_t(n));
    };
    const struct {
        float a, b;
        bool equal;
    } cases[] = {
        {1.0f, 1.0f, true},
        {1.0f, next(1.0f, 10), true},
        {1.0f, next(1.0f, 11), false},
        {0.0f, -0.0f, true},
        {NAN, NAN, false},
        {INFINITY, INFINITY, true},
        {INFINITY, -INFINITY, false},
        {INFINITY, 3.4028235e38f, true},
        {-1.0f, next(-1.0f, 10), true},
        {1e-45f, -1e-45f, true},
        {1.0f, 2.0f, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(float_::almost_equal32(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(float_::almost_equal32(c.b, c.a), c.equal) << c.b << " " << c.a;
    }
}

TEST_F(Point, Compare) {
    const struct {
        Cell a, b;
        int op;
        int32_t expect;
    } cases[] = {
        {P2(0.1f, 0.2f), P2(0.1f, 0.2000001f), COMP_EQUAL, 0},
        {P2(1, 2), P2(1, 2.0000002f), COMP_STRICT_EQUAL, 1},
        {P2(1, 5), P2(2, 0), COMP_LESSER, -1},
        {P2(1, 5), P2(1, 4), COMP_GREATER, 1},
        {P2(0.0f, 1), P2(-0.0f, 1), COMP_EQUAL, 0},
        {P2(0.0f, 1), P2(-0.0f, 1), COMP_SAME, 1},
        {P2(1, 2), Cell{T_PAIR, 0, 1, 2}, COMP_EQUAL, 0},
        {P2(1, 2), integer_cell(1), COMP_EQUAL, NOT_COMPARABLE},
        {P3(1, 2, 3), P3(1, 2, 4), COMP_LESSER, -1},
        {P3(1, 2, 3), P2(1, 2), COMP_EQUAL, NOT_COMPARABLE},
    };
    for (const auto& c : cases) {
        Cell a = c.a, b = c.b;
        int32_t r = a.is(T_POINT2D) ? point2d::compare(&a, &b, c.op) : point3d::compare(&a, &b, c.op);
        EXPECT_EQ(r, c.expect);
        EXPECT_EQ(std::memcmp(&b, &c.b, sizeof b), 0);
    }
}

TEST_F(Point, Round) {
    const struct {
        Cell value, scale;
        bool to;
        Cell expect;
        const char* error;
    } cases[] = {
        {P2(1.4f, 2.6f), {}, false, P2(1, 3), ""},
        {P2(12.3f, 17.8f), integer_cell(5), true, P2(10, 20), ""},
        {P2(12.3f, 17.8f), P2(5, 10), true, P2(10, 20), ""},
        {P2(12.3f, 17.8f), Cell{T_PAIR, 0, 1, 10}, true, P2(12, 20), ""},
        {P3(1.4f, 2.6f, 7.5f), P2(2, 2), true, P3(2, 2, 8), ""},
        {P3(1.4f, 2.6f, 7.5f), P3(1, 1, 5), true, P3(1, 3, 10), ""},
        {P2(1e20f, 1), integer_cell(1), true, P2(1e20f, 1), ""},
        {P2(1, 1), Cell{T_MONEY, 0, 0, 0}, true, {}, "script/not-related"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        Outcome o = run({c.value, c.scale}, [&] {
            return type_registry::table(c.value.type())
                .round(stack::arg(0), c.to ? stack::arg(1) : nullptr, false, false, false, false,
                       false, false);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (!*c.error) expect_point(o.value, c.expect, i);
    }
}

TEST_F(Point, PathsPickReverseNegate) {
    Cell y = word("y"), z = word("z"), five = integer_cell(5), text{T_STRING, 0, 0, 0};
    auto path = [&](Cell value, const Cell* element, const Cell* set, Cell* after = nullptr) {
        return run({value}, [&] {
            PathStep step = testing::path_step(element, set);
            Cell* r = type_registry::table(value.type()).eval_path(step);
            if (after) *after = *stack::arg(0);
            return r;
        });
    };
    Outcome o = path(P2(1, 2), &y, nullptr);
    EXPECT_EQ(o.value.type(), uint32_t(T_FLOAT));
    EXPECT_EQ(o.value.get_float(), 2.0);
    Cell after;
    path(P2(1, 2), &y, &five, &after);
    expect_point(after, P2(1, 5), 0);
    EXPECT_EQ(path(P2(1, 2), &z, nullptr).error, "script/invalid-path");
    EXPECT_EQ(path(P3(1, 2, 3), &z, nullptr).value.get_float(), 3.0);
    EXPECT_EQ(path(P2(1, 2), &y, &text).error, "script/invalid-type");

    const ActionTable& t2 = type_registry::table(T_POINT2D);
    const ActionTable& t3 = type_registry::table(T_POINT3D);
    EXPECT_EQ(run({P3(1, 2, 3)}, [&] { return t3.pick(stack::arg(0), 3, nullptr); }).value.get_float(), 3.0);
    EXPECT_EQ(run({P2(1, 2)}, [&] { return t2.pick(stack::arg(0), 3, nullptr); }).error,
              "script/out-of-range");
    EXPECT_EQ(run({P2(1, 2)}, [&] { return t2.pick(stack::arg(0), 0, &z); }).error,
              "script/cannot-use");

    expect_point(run({P2(1, 2)}, [&] { return t2.reverse(stack::arg(0), nullptr, nullptr); }).value,
                 P2(2, 1), 1);
    expect_point(run({P3(1, 2, 3)}, [&] { return t3.reverse(stack::arg(0), nullptr, nullptr); }).value,
                 P3(3, 2, 1), 2);
    Outcome n = run({P2(0, 1)}, [&] { return t2.negate(stack::arg(0)); });
    EXPECT_EQ(std::bit_cast<uint32_t>(point::component(&n.value, 0)), 0u);  // +0.0, not -0.0
    EXPECT_EQ(point::component(&n.value, 1), -1.0f);
}

}  // namespace
}  // namespace kov
