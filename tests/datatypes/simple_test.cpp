// The datatypes registered first: datatype!, unset!, none! and logic!, through their handlers.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/random.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov {
namespace {

using testing::unwind_code;

class SimpleTypes : public testing::RuntimeTest {};

// Forms or molds a value through the dispatch into a fresh string.
std::string text_of(const Cell& v, bool mold, bool all = false, int32_t* left = nullptr) {
    collector::Root out;
    string::make_at(out.get(), 16);
    int32_t r = mold ? actions::mold_dispatch(&v, out.get(), false, all, false, false, 100, 0)
                     : actions::form_dispatch(&v, out.get(), false, 100);
    if (left) *left = r;
    return string::to_utf8(out.get());
}

TEST_F(SimpleTypes, FormAndMoldOfSimpleValues) {
    struct Case { Cell v; bool mold, all; const char* text; };
    const Case cases[] = {
        {{T_DATATYPE, T_LOGIC, 0, 0}, false, false, "logic"},
        {{T_DATATYPE, T_LOGIC, 0, 0}, true, false, "logic!"},
        {{T_DATATYPE, T_LOGIC, 0, 0}, true, true, "#(logic!)"},
        {unset_value, false, false, ""},
        {unset_value, true, false, "unset"},
        {unset_value, true, true, "#(unset)"},
        {none_value, false, false, "none"},
        {none_value, true, true, "#(none)"},
        {true_value, true, false, "true"},
        {true_value, true, true, "#(true)"},
        {false_value, false, false, "false"},
        {false_value, true, true, "#(false)"},
    };
    for (const Case& c : cases) {
        int32_t left = 0;
        std::string t = text_of(c.v, c.mold, c.all, &left);
        EXPECT_EQ(t, c.text);
        EXPECT_EQ(left, 100 - int32_t(t.size())) << c.text;
    }
}

TEST_F(SimpleTypes, ComparisonsOfSimpleValues) {
    Cell dt{T_DATATYPE, T_LOGIC, 0, 0}, dt2{T_DATATYPE, T_NONE, 0, 0};
    EXPECT_EQ(actions::compare_values(&dt, &dt, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare_values(&dt, &dt2, COMP_EQUAL), 1);
    EXPECT_EQ(actions::compare_values(&dt, &dt, COMP_LESSER), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_values(&none_value, &none_value, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare_values(&none_value, &false_value, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(actions::compare_values(&unset_value, &unset_value, COMP_SORT), 0);
    EXPECT_EQ(actions::compare(&true_value, &false_value, COMP_EQUAL), 0);
    EXPECT_EQ(actions::compare(&true_value, &true_value, COMP_STRICT_EQUAL), 1);
}

TEST_F(SimpleTypes, MakeAndToLogic) {
    using Field = Entry<MakeFn> ActionTable::*;
    const Field make = &ActionTable::make, to = &ActionTable::to;
    Cell zero_float = cells::make_float(0.0), nan = cells::make_float(std::numeric_limits<double>::quiet_NaN());
    struct Case { uint32_t type; Field field; Cell spec; Cell result; };
    const Case cases[] = {
        {T_LOGIC, to, cells::make_integer(0), true_value},  // only none and false are false
        {T_LOGIC, make, cells::make_integer(0), false_value},
        {T_LOGIC, make, cells::make_integer(5), true_value},
        {T_LOGIC, to, none_value, false_value},
        {T_LOGIC, to, false_value, false_value},
        {T_LOGIC, to, true_value, true_value},
        {T_LOGIC, make, cells::make_series(T_BLOCK, 0), true_value},
        {T_LOGIC, make, zero_float, false_value},
        {T_LOGIC, make, nan, true_value},
        {T_NONE, make, true_value, none_value},
        {T_NONE, to, true_value, none_value},
        {T_UNSET, to, true_value, unset_value},
    };
    for (const Case& c : cases) {
        const Cell* r = (type_registry::table(c.type).*c.field)(nullptr, &c.spec, c.type);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->type(), c.result.type());
        EXPECT_EQ(r->data1, c.result.data1);
    }
}

TEST_F(SimpleTypes, TruthRuleAndConditions) {
    EXPECT_FALSE(logic::truthy(&none_value));
    EXPECT_FALSE(logic::truthy(&false_value));
    EXPECT_TRUE(logic::truthy(&unset_value));
    Cell zero{T_INTEGER, 0, 0, 0};
    EXPECT_TRUE(logic::truthy(&zero));
    stack::reset();
    stack::push(&unset_value);
    EXPECT_FALSE(logic::false_q());
    stack::mark_try(nullptr);
    stack::push(&unset_value);
    EXPECT_EQ(unwind_code([] { logic::true_q(); }), THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "no-return");
}

TEST_F(SimpleTypes, LogicMath) {
    using Field = Entry<FrameFn> ActionTable::*;
    struct Case { Field field; bool a, b, r; };
    const Case cases[] = {
        {&ActionTable::and_t, true, false, false}, {&ActionTable::and_t, true, true, true},
        {&ActionTable::or_t, false, true, true},   {&ActionTable::or_t, false, false, false},
        {&ActionTable::xor_t, true, true, false},  {&ActionTable::xor_t, true, false, true},
    };
    const ActionTable& logic_table = type_registry::table(T_LOGIC);
    for (const Case& c : cases) {
        stack::reset();
        logic::push(c.a);
        logic::push(c.b);
        (logic_table.*c.field)();
        EXPECT_EQ(cells::logic(*stack::arguments), c.r);
    }
    for (bool b : {true, false}) {
        Cell v = cells::make_logic(b);
        EXPECT_EQ(cells::logic(*logic_table.complement(&v)), !b);
    }
    stack::mark_try(nullptr);
    logic::push(true);
    Cell n = cells::make_integer(1);
    stack::push(&n);
    EXPECT_EQ(unwind_code([] { type_registry::table(T_LOGIC).and_t(); }), THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "expect-arg");
    EXPECT_EQ(cells::datatype(*error::field(stack::top_value(), error::F_ARG2)), uint32_t(T_INTEGER));
}

TEST_F(SimpleTypes, NoneAnswersNoneToSeriesActions) {
    const ActionTable& t = type_registry::table(T_NONE);
    Cell target = none_value, value = true_value;
    const Cell* answers[] = {
        t.clear(&target),
        t.find(&target, &value, FindArgs{}),
        t.select(&target, &value, FindArgs{}),
        t.remove(&target, nullptr, nullptr),
        t.take(&target, nullptr, false, false),
    };
    for (const Cell* r : answers) {
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->is(T_NONE));
    }
    EXPECT_EQ(t.length_q(&none_value), -1);
}

TEST_F(SimpleTypes, RandomLogicSeedIsRepeatable) {
    const ActionTable& t = type_registry::table(T_LOGIC);
    Cell v = true_value;
    auto draw = [&] { return cells::logic(*t.random(&v, false, false, false)); };
    Cell seed = cells::make_logic(true);
    seed.data1 = 7;  // the seed is the cell's raw truth word
    EXPECT_TRUE(t.random(&seed, true, false, false)->is(T_UNSET));
    std::vector<bool> first;
    for (int i = 0; i < 32; i++) first.push_back(draw());
    random::seed(7);
    for (int i = 0; i < 32; i++) EXPECT_EQ(draw(), first[i]);
}

}  // namespace
}  // namespace kov
