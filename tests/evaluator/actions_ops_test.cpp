// Operator fast paths: 32-bit integer arithmetic with overflow to float!, float arithmetic, the
// generic path through the front-ends (and its error naming the operator), comparisons in every
// variant, integer path access and block navigation.
#include <cmath>

#include "actions_fixture.hpp"
#include "datatypes/block.hpp"
#include "evaluator/actions_ops.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::Called;
using testing::float_cell;
using testing::in_frame;
using testing::integer_cell;

class ActionsOps : public testing::RuntimeTest {
protected:
    static Cell ints(Root& out, std::vector<int32_t> values, uint32_t head = 0) {
        std::vector<Cell> cells;
        for (int32_t v : values) cells.push_back(integer_cell(v));
        testing::make_block(out.get(), cells);
        out->data1 = head;
        return *out;
    }
    // Runs body with the operands as the frame's arguments; answers the cell it pushed (the top).
    static Called pushed(std::vector<Cell> args, const std::function<void()>& body) {
        Cell top{};
        Called r = in_frame("op", std::move(args), [&] {
            Cell* before = stack::top;
            body();
            EXPECT_EQ(stack::top, before + 1);
            top = *stack::top_value();
        });
        r.value = top;
        return r;
    }
};

TEST_F(ActionsOps, IntegerMathOverflowsToFloat) {
    struct Case { int32_t code, a, b; bool is_float; double expect; } cases[] = {
        {OP_ADD, 2147483647, 1, true, 2147483648.0},
        {OP_SUB, -2147483647 - 1, 1, true, -2147483649.0},
        {OP_MUL, 65536, 65536, true, 4294967296.0},
        {OP_ADD, 2, 3, false, 5},
        {OP_SUB, 2, 3, false, -1},
        {OP_MUL, -7, 6, false, -42},
        {OP_OR, 12, 3, false, 15},
        {OP_AND, 12, 6, false, 4},
        {OP_XOR, -1, 1, false, -2},
        {OP_AND, -2147483647 - 1, -1, false, -2147483648.0},
    };
    for (const Case& c : cases) {
        for (bool with_constant : {false, true}) {
            Called r = pushed({integer_cell(c.a), integer_cell(c.b)}, [&] {
                if (with_constant) actions::math_op_int(c.code, nullptr, stack::arg(0), c.b);
                else actions::math_op(c.code, nullptr, stack::arg(0), stack::arg(1));
            });
            ASSERT_EQ(r.error, "");
            if (c.is_float) {
                ASSERT_EQ(r.value.type(), uint32_t(T_FLOAT)) << c.a << " " << c.b;
                EXPECT_EQ(r.value.get_float(), c.expect);
            } else {
                ASSERT_EQ(r.value.type(), uint32_t(T_INTEGER)) << c.a << " " << c.b;
                EXPECT_EQ(cells::integer(r.value), int32_t(c.expect));
            }
        }
    }
}

TEST_F(ActionsOps, TopVariantsReplaceTheTopCell) {
    Called r = in_frame("op", {integer_cell(0)}, [] {
        Cell left = integer_cell(40), right = integer_cell(2);
        Cell* before = stack::top;
        stack::push(&left);
        actions::math_op_top(OP_ADD, nullptr, &right);
        EXPECT_EQ(stack::top, before + 1);
        EXPECT_EQ(cells::integer(*stack::top_value()), 42);
        actions::math_op_top_int(OP_MUL, nullptr, 3);
        EXPECT_EQ(cells::integer(*stack::top_value()), 126);
        Cell f = float_cell(0.5);
        actions::math_op_top(OP_ADD, nullptr, &f);  // integer + float: generic path
        EXPECT_EQ(stack::top, before + 1);
        EXPECT_EQ(stack::top_value()->get_float(), 126.5);
        actions::compare_op_top_int(COMP_GREATER, nullptr, 100);
        EXPECT_EQ(stack::top, before + 1);
        EXPECT_EQ(stack::top_value()->header, cells::make_logic(true).header);
        Cell one = integer_cell(1);
        stack::push(&one);
        actions::compare_op_top(COMP_EQUAL, nullptr, &one);
        EXPECT_EQ(stack::top, before + 2);
        EXPECT_EQ(stack::top_value()->header, cells::make_logic(true).header);
    });
    EXPECT_EQ(r.error, "");
}

TEST_F(ActionsOps, FloatsAndMixedOperands) {
    struct Case { int32_t code; Cell a, b; uint32_t type; double expect; } cases[] = {
        {OP_ADD, float_cell(1.5), float_cell(2.25), T_FLOAT, 3.75},
        {OP_SUB, float_cell(1.5), float_cell(2.25), T_FLOAT, -0.75},
        {OP_MUL, float_cell(1.5), float_cell(2.0), T_FLOAT, 3.0},
        {OP_ADD, integer_cell(1), float_cell(0.5), T_FLOAT, 1.5},   // generic
        {OP_MUL, float_cell(0.5), integer_cell(3), T_FLOAT, 1.5},   // generic
    };
    for (const Case& c : cases) {
        Called r = pushed({c.a, c.b}, [&] { actions::math_op(c.code, nullptr, stack::arg(0), stack::arg(1)); });
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(r.value.type(), c.type);
        EXPECT_EQ(r.value.get_float(), c.expect);
    }
}

TEST_F(ActionsOps, GenericPathErrorsNameTheOperator) {
    Root b;
    ints(b, {1});
    Root plus(*word::load_as("+", T_WORD));
    Called r = in_frame("caller", {*b, integer_cell(1)}, [&] {
        actions::math_op(OP_ADD, plus.get(), stack::arg(0), stack::arg(1));
    });
    EXPECT_EQ(r.error, "script/expect-arg");
    EXPECT_EQ(testing::spelling(r.arg[0]), "+");
    EXPECT_EQ(r.arg[1].data1, uint32_t(T_BLOCK));
    // The stacks are as they were after a failing generic path caught further down.
    uint32_t depth = stack::frame_depth();
    Called again = in_frame("caller", {*b}, [&] {
        actions::series_op(stack::arg(0), actions::SOP_LENGTH_Q, plus.get());
    });
    EXPECT_EQ(again.error, "");
    EXPECT_EQ(stack::frame_depth(), depth);
}

TEST_F(ActionsOps, Comparisons) {
    Root s;
    testing::make_text(s.get(), "a");
    struct Case { int32_t code; Cell a, b; bool expect; } cases[] = {
        {COMP_EQUAL, integer_cell(1), integer_cell(1), true},
        {COMP_STRICT_EQUAL, integer_cell(1), integer_cell(1), true},
        {COMP_NOT_EQUAL, integer_cell(1), integer_cell(1), false},
        {COMP_LESSER, integer_cell(-5), integer_cell(1), true},
        {COMP_LESSER_EQUAL, integer_cell(1), integer_cell(1), true},
        {COMP_GREATER, integer_cell(1), integer_cell(1), false},
        {COMP_GREATER_EQUAL, integer_cell(2), integer_cell(1), true},
        {COMP_EQUAL, integer_cell(1), float_cell(1.0), true},        // generic path
        {COMP_STRICT_EQUAL, integer_cell(1), float_cell(1.0), false},
        {COMP_LESSER, float_cell(0.5), integer_cell(1), true},
        {COMP_EQUAL, integer_cell(1), *s, false},
        {COMP_NOT_EQUAL, integer_cell(1), *s, true},
    };
    for (const Case& c : cases) {
        Called p = pushed({c.a, c.b}, [&] { actions::compare_op(c.code, nullptr, stack::arg(0), stack::arg(1)); });
        ASSERT_EQ(p.error, "") << c.code;
        EXPECT_EQ(p.value.header, cells::make_logic(c.expect).header) << c.code << " " << c.a.type();
        for (bool polarity : {false, true}) {
            Called t = in_frame("op", {c.a, c.b}, [&] {
                Cell* before = stack::top;
                EXPECT_EQ(actions::compare_op_test(c.code, nullptr, stack::arg(0), stack::arg(1), polarity),
                          c.expect != polarity);
                EXPECT_EQ(stack::top, before);
            });
            EXPECT_EQ(t.error, "");
        }
        Called set = in_frame("op", {c.a, c.b}, [&] {
            EXPECT_EQ(actions::compare_op_set(c.code, nullptr, stack::arg(0), stack::arg(1)), c.expect);
        });
        EXPECT_EQ(set.value.header, cells::make_logic(c.expect).header);
        if (c.b.is(T_INTEGER)) {
            int32_t n = cells::integer(c.b);
            Called pi = pushed({c.a}, [&] { actions::compare_op_int(c.code, nullptr, stack::arg(0), n); });
            EXPECT_EQ(pi.value.header, cells::make_logic(c.expect).header);
            Called ti = in_frame("op", {c.a}, [&] {
                EXPECT_EQ(actions::compare_op_test_int(c.code, nullptr, stack::arg(0), n, false), c.expect);
                EXPECT_EQ(actions::compare_op_set_int(c.code, nullptr, stack::arg(0), n), c.expect);
            });
            EXPECT_EQ(ti.error, "");
        }
    }
    Called bad = in_frame("op", {integer_cell(1), *s}, [&] {
        actions::compare_op(COMP_LESSER, nullptr, stack::arg(0), stack::arg(1));
    });
    EXPECT_EQ(bad.error, "script/invalid-compare");
}

TEST_F(ActionsOps, PickPathInt) {
    struct Case { uint32_t head; int32_t n; int32_t expect; } cases[] = {  // expect 0: none
        {0, 1, 10}, {0, 3, 30}, {0, 4, 0}, {0, 0, 0}, {0, -1, 0},
        {1, 1, 20}, {1, 2, 30}, {1, 3, 0},
        {3, 1, 0}, {3, 0, 0}, {5, 1, 0},  // at and past the tail
    };
    for (const Case& c : cases) {
        Root b;
        ints(b, {10, 20, 30}, c.head);
        Called r = pushed({*b}, [&] { actions::pick_path_int(stack::arg(0), c.n, nullptr); });
        ASSERT_EQ(r.error, "");
        if (c.expect) EXPECT_EQ(cells::integer(r.value), c.expect) << c.head << " " << c.n;
        else EXPECT_EQ(r.value.type(), uint32_t(T_NONE)) << c.head << " " << c.n;
    }
    // Other datatypes through eval-path.
    Called pair = pushed({Cell{T_PAIR, 0, 3, 4}}, [] { actions::pick_path_int(stack::arg(0), 2, nullptr); });
    ASSERT_EQ(pair.error, "");
    EXPECT_EQ(cells::integer(pair.value), 4);
}

TEST_F(ActionsOps, SeriesOpOnBlocks) {
    struct Case { uint32_t head; int32_t code; uint32_t type; int32_t value; } cases[] = {
        {1, actions::SOP_LENGTH_Q, T_INTEGER, 2},
        {5, actions::SOP_LENGTH_Q, T_INTEGER, 0},
        {1, actions::SOP_INDEX_Q, T_INTEGER, 2},
        {0, actions::SOP_HEAD_Q, T_LOGIC, 1},
        {1, actions::SOP_HEAD_Q, T_LOGIC, 0},
        {3, actions::SOP_TAIL_Q, T_LOGIC, 1},
        {2, actions::SOP_TAIL_Q, T_LOGIC, 0},
        {1, actions::SOP_NEXT, T_BLOCK, 2},
        {3, actions::SOP_NEXT, T_BLOCK, 3},  // at the tail: unchanged
        {1, actions::SOP_BACK, T_BLOCK, 0},
        {0, actions::SOP_BACK, T_BLOCK, 0},
        {2, actions::SOP_HEAD, T_BLOCK, 0},
        {1, actions::SOP_TAIL, T_BLOCK, 3},
    };
    for (const Case& c : cases) {
        Root b;
        ints(b, {10, 20, 30}, c.head);
        Called r = pushed({*b}, [&] { actions::series_op(stack::arg(0), c.code, nullptr); });
        ASSERT_EQ(r.error, "");
        ASSERT_EQ(r.value.type(), c.type) << c.code;
        if (c.type == T_BLOCK) EXPECT_EQ(cells::series_index(r.value), uint32_t(c.value)) << c.code;
        else if (c.type == T_LOGIC) EXPECT_EQ(r.value.data1, uint32_t(c.value)) << c.code;
        else EXPECT_EQ(cells::integer(r.value), c.value) << c.code;
    }
    // A string goes through the front-ends.
    Root s;
    testing::make_text(s.get(), "abc");
    Called len = pushed({*s}, [] { actions::series_op(stack::arg(0), actions::SOP_LENGTH_Q, nullptr); });
    EXPECT_EQ(cells::integer(len.value), 3);
    Called next = pushed({*s}, [] { actions::series_op(stack::arg(0), actions::SOP_NEXT, nullptr); });
    EXPECT_EQ(cells::series_index(next.value), 1u);
}

}  // namespace
}  // namespace kov
