// Shared routines of the math and loop natives: float arguments, degrees and arc functions,
// max/min, loop counts, assigning word blocks and the loop steps over state kept below the
// frame base.
#include <cmath>

#include "actions_fixture.hpp"
#include "core/context.hpp"
#include "core/math.hpp"
#include "datatypes/block.hpp"
#include "datatypes/point.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/natives_support.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::Called;
using testing::float_cell;
using testing::in_frame;
using testing::integer_cell;

class NativesSupport : public testing::RuntimeTest {
protected:
    static Cell block_of(Root& out, std::vector<Cell> values, uint32_t head = 0) {
        testing::make_block(out.get(), values);
        out->data1 = head;
        return *out;
    }
    static Cell word(const char* name, uint32_t type = T_WORD) { return *word::load_as(name, type); }
    static Cell value_of(const char* name) {
        Cell w = word(name);
        return *context::get(&w);
    }
    // Runs body in a frame whose base has the loop state (series, word) just below it.
    static Called with_loop_state(const Cell& series, const Cell& loop_word, const std::function<void()>& body) {
        return in_frame(nullptr, {}, [&] {
            Cell s = series, w = loop_word;
            stack::push(&s);
            stack::push(&w);
            stack::mark_native(nullptr);
            body();
        });
    }
};

TEST_F(NativesSupport, FloatArgumentsAndAngles) {
    struct Case { Cell in; uint32_t type; double expect; } cases[] = {
        {integer_cell(3), T_FLOAT, 3.0},
        {float_cell(0.25, T_PERCENT), T_FLOAT, 0.25},
        {float_cell(1.5), T_FLOAT, 1.5},
    };
    for (const Case& c : cases) {
        Called r = in_frame(nullptr, {c.in}, [] { natives::float_arg(); });
        EXPECT_EQ(r.value.type(), c.type);
        EXPECT_EQ(r.value.get_float(), c.expect);
    }
    Called none = in_frame(nullptr, {cells::make_none()}, [] { natives::float_arg(); });
    EXPECT_EQ(none.value.type(), uint32_t(T_NONE));

    Called deg = in_frame(nullptr, {integer_cell(150)}, [] { natives::degrees_to_radians(false, math::DEGREES_SINE); });
    EXPECT_DOUBLE_EQ(std::sin(deg.value.get_float()), 0.5);
    Called rad = in_frame(nullptr, {float_cell(2.0)}, [] { natives::degrees_to_radians(true, math::DEGREES_SINE); });
    EXPECT_EQ(rad.value.get_float(), 2.0);

    struct Arc { Cell in; bool radians; int32_t kind; double expect; } arcs[] = {
        {integer_cell(1), false, natives::ARC_SINE, 90.0},
        {integer_cell(1), true, natives::ARC_SINE, 1.5707963267948966},
        {integer_cell(1), false, natives::ARC_COSINE, 0.0},
        {float_cell(1.0), false, natives::ARC_TANGENT, 45.0},
        {float_cell(0.5, T_PERCENT), true, natives::ARC_TANGENT, std::atan(0.5)},
    };
    for (const Arc& a : arcs) {
        Called r = in_frame(nullptr, {a.in}, [&] { natives::arc_function(a.radians, a.kind); });
        ASSERT_EQ(r.value.type(), uint32_t(T_FLOAT));
        EXPECT_DOUBLE_EQ(r.value.get_float(), a.expect) << a.kind;
    }
}

TEST_F(NativesSupport, MaxMinOfNumbers) {
    const double nan = std::nan("");
    struct Case { Cell a, b; Cell max, min; } cases[] = {
        {integer_cell(1), integer_cell(2), integer_cell(2), integer_cell(1)},
        {float_cell(2.5), integer_cell(2), float_cell(2.5), integer_cell(2)},
        // Equal values: max keeps the first, min takes the second.
        {integer_cell(1), float_cell(1.0), integer_cell(1), float_cell(1.0)},
        {float_cell(nan), integer_cell(3), float_cell(nan), float_cell(nan)},
        {integer_cell(3), float_cell(nan), float_cell(nan), float_cell(nan)},
        {Cell{T_PAIR, 0, 1, 9}, Cell{T_PAIR, 0, 5, 2}, Cell{T_PAIR, 0, 5, 9}, Cell{T_PAIR, 0, 1, 2}},
        {integer_cell(4), Cell{T_PAIR, 0, 1, 9}, Cell{T_PAIR, 0, 4, 9}, Cell{T_PAIR, 0, 1, 4}},
        {Cell{T_PAIR, 0, 1, 9}, float_cell(3.0), Cell{T_PAIR, 0, 3, 9}, Cell{T_PAIR, 0, 1, 3}},
    };
    for (const Case& c : cases) {
        for (bool max_q : {true, false}) {
            Called r = in_frame("max", {c.a, c.b}, [&] { natives::max_min(max_q); });
            ASSERT_EQ(r.error, "");
            const Cell& e = max_q ? c.max : c.min;
            ASSERT_EQ(r.value.type(), e.type()) << max_q;
            if (e.is(T_FLOAT) && std::isnan(e.get_float())) EXPECT_TRUE(std::isnan(r.value.get_float()));
            else EXPECT_EQ(r.value.header == e.header && r.value.data1 == e.data1 && r.value.data2 == e.data2 &&
                               r.value.data3 == e.data3, true) << max_q << " " << c.a.type() << "/" << c.b.type();
        }
    }
}

TEST_F(NativesSupport, MaxMinOfCompoundValues) {
    // A pair meeting a float that is not whole becomes a point2D!.
    Called p = in_frame("max", {Cell{T_PAIR, 0, 1, 9}, float_cell(2.5)}, [] { natives::max_min(true); });
    ASSERT_EQ(p.value.type(), uint32_t(T_POINT2D));
    EXPECT_EQ(point::component(&p.value, 0), 2.5f);
    EXPECT_EQ(point::component(&p.value, 1), 9.0f);
    Cell pt{};
    point2d::make_at(&pt, 0.5f, 20.0f);
    Called q = in_frame("min", {Cell{T_PAIR, 0, 1, 9}, pt}, [] { natives::max_min(false); });
    ASSERT_EQ(q.value.type(), uint32_t(T_POINT2D));
    EXPECT_EQ(point::component(&q.value, 0), 0.5f);
    EXPECT_EQ(point::component(&q.value, 1), 9.0f);
    // Tuples byte by byte, and against a number.
    uint8_t a[] = {1, 200, 3}, b[] = {100, 2, 3};
    Called t = in_frame("max", {tuple::make_cell(a, 3), tuple::make_cell(b, 3)}, [] { natives::max_min(true); });
    tuple::Bytes tb = tuple::bytes(&t.value);
    EXPECT_EQ(tb.b[0], 100);
    EXPECT_EQ(tb.b[1], 200);
    Called tn = in_frame("min", {integer_cell(50), tuple::make_cell(a, 3)}, [] { natives::max_min(false); });
    tb = tuple::bytes(&tn.value);
    EXPECT_EQ(tb.b[0], 1);
    EXPECT_EQ(tb.b[1], 50);
    // A whole float outside the integer range as a pair component.
    Called lim = in_frame("max", {Cell{T_PAIR, 0, 1, 1}, float_cell(1e12)}, [] { natives::max_min(true); });
    EXPECT_EQ(lim.error, "script/type-limit");
    // Values that cannot be ordered.
    Root s;
    testing::make_text(s.get(), "a");
    Called bad = in_frame("max", {integer_cell(1), *s}, [] { natives::max_min(true); });
    EXPECT_EQ(bad.error, "script/invalid-compare");
}

TEST_F(NativesSupport, LoopCounts) {
    struct Case { Cell in; Cell out; } cases[] = {
        {float_cell(2.9), integer_cell(2)}, {float_cell(-1.5), integer_cell(-1)},
        {integer_cell(7), integer_cell(7)}, {cells::make_none(), cells::make_none()},
    };
    for (const Case& c : cases) {
        Called r = in_frame(nullptr, {c.in}, [] { natives::loop_count_arg(); });
        EXPECT_EQ(r.value.header, c.out.header);
        EXPECT_EQ(r.value.data2, c.out.data2);
    }
    EXPECT_EQ(in_frame(nullptr, {float_cell(3e10)}, [] { natives::loop_count_arg(); }).error, "script/type-limit");
}

TEST_F(NativesSupport, SetWordsFromBlock) {
    Root words, values;
    block_of(words, {word("a1"), word("b1", T_SET_WORD), word("c1", T_LIT_WORD)});
    block_of(values, {integer_cell(1), cells::make_none(), integer_cell(3), integer_cell(4)});
    Called r = in_frame(nullptr, {*words, *values}, [] {
        natives::set_words_from_block(stack::arg(0), stack::arg(1), 3, false, false);
    });
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(cells::integer(value_of("a1")), 1);
    EXPECT_EQ(value_of("b1").type(), uint32_t(T_NONE));
    EXPECT_EQ(cells::integer(value_of("c1")), 3);
    // /some keeps a word whose value is none; values past the tail are none.
    Root few;
    block_of(few, {integer_cell(8), cells::make_none()});
    Called some = in_frame(nullptr, {*words, *few}, [] {
        natives::set_words_from_block(stack::arg(0), stack::arg(1), 3, false, true);
    });
    ASSERT_EQ(some.error, "");
    EXPECT_EQ(cells::integer(value_of("a1")), 8);
    EXPECT_EQ(cells::integer(value_of("c1")), 3);

    Root bad_target, unset_value;
    block_of(bad_target, {word("a1"), integer_cell(5)});
    Called bad = in_frame(nullptr, {*bad_target, *values}, [] {
        natives::set_words_from_block(stack::arg(0), stack::arg(1), 2, false, false);
    });
    EXPECT_EQ(bad.error, "script/invalid-arg");
    EXPECT_EQ(cells::integer(bad.arg[0]), 5);
    block_of(unset_value, {cells::make_unset()});
    Called need = in_frame(nullptr, {*words, *unset_value}, [] {
        natives::set_words_from_block(stack::arg(0), stack::arg(1), 1, false, false);
    });
    EXPECT_EQ(need.error, "script/need-value");
    Called any = in_frame(nullptr, {*words, *unset_value}, [] {
        natives::set_words_from_block(stack::arg(0), stack::arg(1), 1, true, false);
    });
    EXPECT_EQ(any.error, "");
    EXPECT_EQ(value_of("a1").type(), uint32_t(T_UNSET));
}

TEST_F(NativesSupport, ForeachSteps) {
    Root empty, items;
    block_of(empty, {});
    Called none = with_loop_state(*empty, word("it"), [] { EXPECT_FALSE(natives::foreach_step()); });
    EXPECT_EQ(none.error, "");

    block_of(items, {integer_cell(1), integer_cell(2), integer_cell(3)});
    std::vector<int32_t> seen;
    Called r = with_loop_state(*items, word("it"), [&] {
        while (natives::foreach_step()) seen.push_back(cells::integer(value_of("it")));
        EXPECT_EQ(cells::series_index(stack::arguments[-2]), 3u);
    });
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));

    // Two words at a time; the last round gets none past the tail.
    Root pair_words;
    block_of(pair_words, {word("k"), word("v")});
    std::vector<int32_t> ks;
    Called multi = with_loop_state(*items, *pair_words, [&] {
        while (natives::foreach_step_multi(2)) {
            ks.push_back(cells::integer(value_of("k")));
            ks.push_back(value_of("v").is(T_NONE) ? 0 : cells::integer(value_of("v")));
        }
        EXPECT_FALSE(natives::foreach_step_multi(0));
    });
    ASSERT_EQ(multi.error, "");
    EXPECT_EQ(ks, (std::vector<int32_t>{1, 2, 3, 0}));

    // A string: each character through pick.
    Root s;
    testing::make_text(s.get(), "ab");
    std::vector<uint32_t> chars;
    Called text = with_loop_state(*s, word("ch"), [&] {
        while (natives::foreach_step()) chars.push_back(value_of("ch").data2);
    });
    ASSERT_EQ(text.error, "");
    EXPECT_EQ(chars, (std::vector<uint32_t>{'a', 'b'}));
}

TEST_F(NativesSupport, ForallAndRemoveEach) {
    Root items;
    block_of(items, {integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4)});
    std::vector<uint32_t> positions;
    Called r = with_loop_state(*items, word("pos"), [&] {
        bool first = true;
        while (!natives::forall_loop_q(!first)) {
            first = false;
            natives::forall_step();
            positions.push_back(cells::series_index(value_of("pos")));
        }
    });
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(positions, (std::vector<uint32_t>{0, 1, 2, 3}));

    // Remove the even values, one at a time, then pairs.
    Called rem = with_loop_state(*items, word("x"), [&] {
        while (natives::foreach_step()) {
            Cell keep = cells::make_logic(cells::integer(value_of("x")) % 2 == 0);
            natives::remove_each_step(1, &keep);
        }
    });
    ASSERT_EQ(rem.error, "");
    std::vector<int32_t> left;
    SeriesBuffer* b = memory::buffer_of(items->data2);
    for (uint32_t i = 0; i < b->length(); i++) left.push_back(cells::integer(b->head_cell()[i]));
    EXPECT_EQ(left, (std::vector<int32_t>{1, 3}));

    Root more, two;
    block_of(more, {integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4), integer_cell(5)});
    block_of(two, {word("p"), word("q")});
    Called pairs = with_loop_state(*more, *two, [&] {
        while (natives::foreach_step_multi(2)) {
            Cell drop = cells::make_logic(cells::integer(value_of("p")) == 1);
            natives::remove_each_step(2, &drop);
        }
    });
    ASSERT_EQ(pairs.error, "");
    b = memory::buffer_of(more->data2);
    left.clear();
    for (uint32_t i = 0; i < b->length(); i++) left.push_back(cells::integer(b->head_cell()[i]));
    EXPECT_EQ(left, (std::vector<int32_t>{3, 4, 5}));
}

TEST_F(NativesSupport, RepeatStepCountsTheWord) {
    Root w(word("count"));
    Cell zero = integer_cell(41);
    context::set(w.get(), &zero);
    Called r = in_frame(nullptr, {}, [&] { natives::repeat_step(w.get()); });
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(cells::integer(value_of("count")), 42);
}

}  // namespace
}  // namespace kov
