// time!: text (with the seconds never showing 60), the constructor, fields through paths and
// pick (negative times included), arithmetic types, rounding and parity.
#include <cmath>
#include <iterator>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/time.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

Cell T(double s) { return float_cell(s, T_TIME); }
Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

class Time : public testing::RuntimeTest {};

TEST_F(Time, Text) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0:00:00"},
        {3723.5, "1:02:03.5"},
        {-90, "-0:01:30"},
        {100000, "27:46:40"},
        {0.0000001, "0:00:00"},
        {59.9999999, "0:01:00"},      // rounds to the minute, never "0:00:60"
        {3599.9999996, "1:00:00"},
        {-59.9999999, "-0:01:00"},
        {0.25, "0:00:00.25"},
        {61.000001, "0:01:01.000001"},
        {5, "0:00:05"},
        {36000, "10:00:00"},
        {1e10 + 0.7, "2777777:46:41"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(time_::text(c.seconds), c.text) << c.seconds;
        EXPECT_EQ(testing::formed(T(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(testing::molded(T(c.seconds)), c.text) << c.seconds;
    }
}

TEST_F(Time, SerializeSpendsThePart) {
    collector::Root out;
    string::make_at(out.get(), 8);
    EXPECT_EQ(time_::serialize(3723.5, out.get(), 20), 20 - 9);
}

TEST_F(Time, Make) {
    collector::Root block, text;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    auto str = [&](const char* s) {
        testing::make_text(text.get(), s);
        return text.cell;
    };
    struct Case {
        std::function<Cell()> spec;
        double seconds;
        const char* error;
    };
    const Case cases[] = {
        {[&] { return blk({integer_cell(1), integer_cell(30)}); }, 5400, ""},
        {[&] { return blk({integer_cell(-1), integer_cell(30), integer_cell(15)}); }, -5415, ""},
        {[&] { return blk({integer_cell(0), integer_cell(1), float_cell(1.5)}); }, 61.5, ""},
        {[&] { return blk({}); }, 0, ""},
        {[&] { return blk({integer_cell(1), integer_cell(-30)}); }, 0, "script/bad-to-arg"},
        {[&] { return blk({integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4)}); },
         0, "script/bad-to-arg"},
        {[&] { return blk({float_cell(1.5)}); }, 0, "script/bad-to-arg"},
        {[] { return integer_cell(90); }, 90, ""},
        {[] { return float_cell(1.5); }, 1.5, ""},
        {[] { return float_cell(0.5, T_PERCENT); }, 0.5, ""},
        {[] { return T(7); }, 7, ""},
        {[&] { return str("1:30"); }, 5400, ""},
        {[&] { return str(" -0:01:30.5 "); }, -90.5, ""},
        {[&] { return str("abc"); }, 0, "script/bad-to-arg"},
        {[&] { return str("1"); }, 0, "script/bad-to-arg"},
        {[] { return Cell{T_LOGIC, 1, 0, 0}; }, 0, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec},
                        [] { return type_registry::table(T_TIME).make(nullptr, stack::arg(1), T_TIME); });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), uint32_t(T_TIME)) << "case " << i;
        EXPECT_EQ(o.value.get_float(), c.seconds) << "case " << i;
    }
}

// Reads and writes of hour, minute and second through paths: each case starts from `seconds`,
// reads the field (or stores `store`) and checks the outcome.
TEST_F(Time, PathFields) {
    struct Case {
        double seconds;
        const char* field;  // a word, or null for the integer index
        int32_t index;
        bool store;
        Cell value;
        double expect_seconds;  // after a store
        Cell expect_read;       // the read value (or the stored one)
        const char* error;
    };
    const Case cases[] = {
        {5445, "hour", 0, false, {}, 5445, integer_cell(1), ""},
        {5445, "minute", 0, false, {}, 5445, integer_cell(30), ""},
        {5445, "second", 0, false, {}, 5445, float_cell(45), ""},
        {5445, "HOUR", 0, false, {}, 5445, integer_cell(1), ""},
        {5445, nullptr, 2, false, {}, 5445, integer_cell(30), ""},
        {-5400, "hour", 0, false, {}, -5400, integer_cell(-1), ""},
        {-5400, "minute", 0, false, {}, -5400, integer_cell(30), ""},
        {5445, "hour", 0, true, integer_cell(3), 12645, integer_cell(3), ""},
        {5445, "second", 0, true, float_cell(10.5), 5410.5, float_cell(10.5), ""},
        {5445, "minute", 0, true, integer_cell(5), 3945, integer_cell(5), ""},
        // Negative times: the store runs on the absolute value and the sign comes back.
        {-5445, "hour", 0, true, integer_cell(-3), -12645, integer_cell(-3), ""},
        {-5445, "minute", 0, true, integer_cell(10), -4245, integer_cell(10), ""},
        {-5445, "second", 0, true, float_cell(-10.5), -5410.5, float_cell(-10.5), ""},
        {-5445, nullptr, 1, true, integer_cell(0), -1845, integer_cell(0), ""},
        {5445, nullptr, 4, false, {}, 0, {}, "script/invalid-path"},
        {5445, "day", 0, false, {}, 0, {}, "script/invalid-path"},
        {5445, "hour", 0, true, float_cell(1.5), 0, {}, "script/invalid-arg"},
        {5445, "second", 0, true, Cell{T_NONE, 0, 0, 0}, 0, {}, "script/invalid-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell element = c.field ? word(c.field) : integer_cell(c.index);
        Cell after{};
        Outcome o = run({T(c.seconds)}, [&] {
            PathStep step = testing::path_step(&element, c.store ? &c.value : nullptr);
            Cell* r = type_registry::table(T_TIME).eval_path(step);
            after = *stack::arg(0);
            return r;
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), c.expect_read.type()) << "case " << i;
        if (c.expect_read.is(T_INTEGER)) {
            EXPECT_EQ(o.value.data2, c.expect_read.data2) << "case " << i;
        } else {
            EXPECT_EQ(o.value.get_float(), c.expect_read.get_float()) << "case " << i;
        }
        EXPECT_EQ(after.get_float(), c.expect_seconds) << "case " << i;
        if (c.store) {
            // Reading the field back gives what was stored.
            Cell back = time_::field(after.get_float(), c.field ? time_::field_index(&element, &after)
                                                                : c.index);
            EXPECT_EQ(back.type(), c.expect_read.type()) << "case " << i;
        }
    }
}

TEST_F(Time, Pick) {
    Cell hour = word("minute"), other = word("day");
    EXPECT_EQ(run({T(5445)}, [] { return time_::pick(stack::arg(0), 1, nullptr); }).value.data2, 1u);
    EXPECT_EQ(run({T(5445)}, [&] { return time_::pick(stack::arg(0), 0, &hour); }).value.data2, 30u);
    EXPECT_EQ(run({T(5445)}, [] { return time_::pick(stack::arg(0), 4, nullptr); }).error,
              "script/out-of-range");
    EXPECT_EQ(run({T(5445)}, [&] { return time_::pick(stack::arg(0), 0, &other); }).error,
              "script/cannot-use");
    Cell none{T_NONE, 0, 0, 0};
    EXPECT_EQ(time_::field_index(&other, &none), -1);
}

TEST_F(Time, Arithmetic) {
    struct Case {
        Cell left, right;
        void (*action)();
        uint32_t type;
        double expect;
        const char* error;
    };
    const Case cases[] = {
        {T(3600), integer_cell(30), time_::add, T_TIME, 3630, ""},
        {T(3600), integer_cell(2), time_::multiply, T_TIME, 7200, ""},
        {T(7200), T(3600), time_::divide, T_FLOAT, 2.0, ""},
        {T(3600), integer_cell(2), time_::divide, T_TIME, 1800, ""},
        {T(3600), T(60), time_::subtract, T_TIME, 3540, ""},
        {T(3600), T(3600), time_::multiply, 0, 0, "script/not-related"},
        {T(3600), Cell{T_DATE, 0, 0, 0}, time_::subtract, 0, 0, "script/not-related"},
        {T(3600), Cell{T_STRING, 0, 0, 0}, time_::add, 0, 0, "script/invalid-type"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] { c.action(); return nullptr; });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), c.type) << "case " << i;
        EXPECT_EQ(o.value.get_float(), c.expect) << "case " << i;
    }
}

TEST_F(Time, RoundKeepsTheType) {
    const struct {
        double seconds;
        Cell scale;
        bool to;
        double expect;
    } cases[] = {
        {3600.6, {}, false, 3601},
        {4980, T(900), true, 5400},
        {4980, integer_cell(60), true, 4980},
        {100.4, integer_cell(60), true, 120},
        {-3600.6, {}, false, -3601},
    };
    for (const auto& c : cases) {
        Outcome o = run({T(c.seconds), c.scale}, [&] {
            return time_::round(stack::arg(0), c.to ? stack::arg(1) : nullptr, false, false, false,
                                false, false, false);
        });
        ASSERT_EQ(o.error, "") << c.seconds;
        EXPECT_EQ(o.value.type(), uint32_t(T_TIME)) << c.seconds;
        EXPECT_EQ(o.value.get_float(), c.expect) << c.seconds;
    }
    Cell money{T_MONEY, 0, 0, 0};
    EXPECT_EQ(run({T(1), money}, [] {
                  return time_::round(stack::arg(0), stack::arg(1), false, false, false, false,
                                      false, false);
              }).error,
              "script/not-related");
}

TEST_F(Time, Parity) {
    const struct {
        double seconds;
        bool even;
    } cases[] = {{3602, true}, {3601, false}, {3601.9999999, true}, {-3601, false}, {0, true},
                 {1.9999995, true}};
    for (const auto& c : cases) {
        Cell t = T(c.seconds);
        EXPECT_EQ(time_::even_q(&t), c.even) << c.seconds;
        EXPECT_EQ(time_::odd_q(&t), !c.even) << c.seconds;
    }
}

TEST_F(Time, RegisteredUnderFloat) {
    const ActionTable& t = type_registry::table(T_TIME);
    EXPECT_EQ(t.compare.fn, type_registry::table(T_FLOAT).compare.fn);
    EXPECT_EQ(t.negate.fn, type_registry::table(T_FLOAT).negate.fn);
    EXPECT_FALSE(t.power);
    EXPECT_FALSE(t.set_path);
    EXPECT_TRUE(t.pick);
    EXPECT_STREQ(type_registry::names[T_TIME].name, "time!");
}

}  // namespace
}  // namespace kov
