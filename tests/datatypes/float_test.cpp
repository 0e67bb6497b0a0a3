// float!: the text of every float-based value, arithmetic with the types of float!, percent! and
// time!, tolerant equality, every rounding mode, conversions, the unchecked float-to-integer
// conversion, random draws and the errors of each.
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "tests/core/runtime_fixture.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

Cell I(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
Cell F(double d, uint32_t type = T_FLOAT) {
    Cell c{type, 0, 0, 0};
    c.set_float(d);
    return c;
}
uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }
const double NaN = std::nan("");
const double INF = INFINITY;

using testing::call;
using testing::Outcome;

// A unary action or a test run on the result cell, as the action front-end runs it.
template <Cell* (*F)(Cell*)> void on_value() { F(stack::arguments); }
template <bool (*F)(const Cell*)> void truth_of() {
    *stack::arguments = Cell{T_LOGIC, F(stack::arguments) ? 1u : 0u, 0, 0};
}

class Float : public testing::RuntimeTest {
protected:
    void TearDown() override { float_::pretty_print_q = true; }
};

TEST_F(Float, FormText) {
    using namespace float_;
    const struct {
        double x;
        int mode;
        const char* text;
    } cases[] = {
        {1.0, FORM_FLOAT, "1.0"},
        {-2.5, FORM_FLOAT, "-2.5"},
        {0.1 + 0.2, FORM_FLOAT, "0.3"},
        {0.1 + 0.7, FORM_FLOAT, "0.8"},
        {647.44, FORM_FLOAT, "647.44"},
        {7370.300000000001, FORM_FLOAT, "7370.3"},
        {0.123456789012301, FORM_FLOAT, "0.123456789012301"},
        {-0.123456789012301, FORM_FLOAT, "-0.1234567890123"},
        {8.371040755303501e+18, FORM_FLOAT, "8.3710407553035e18"},
        {-8.371040755303501e+18, FORM_FLOAT, "-8.3710407553035e18"},
        {9.738103146255299e-05, FORM_FLOAT, "9.7381031462553e-5"},
        {123456789.0, FORM_FLOAT, "123456789.0"},
        {1e16, FORM_FLOAT, "1.0e16"},
        {1e20, FORM_FLOAT, "1.0e20"},
        {-1e20, FORM_FLOAT, "-1.0e20"},
        {1.5e-7, FORM_FLOAT, "1.5e-7"},
        {1e-5, FORM_FLOAT, "1.0e-5"},
        {1.5e300, FORM_FLOAT, "1.5e300"},
        {1e-20, FORM_FLOAT, "0.0"},
        {-1e-17, FORM_FLOAT, "0.0"},
        {0.0, FORM_FLOAT, "0.0"},
        {INF, FORM_FLOAT, "1.#INF"},
        {-INF, FORM_FLOAT, "-1.#INF"},
        {NaN, FORM_FLOAT, "1.#NaN"},
        {INF, FORM_PERCENT, "1.#INF"},
        {-INF, FORM_TIME, "-1.#INF"},
        {NaN, FORM_POINT, "1.#NaN"},
        {50.0, FORM_PERCENT, "50%"},
        {12.5, FORM_PERCENT, "12.5%"},
        {(0.1 + 0.2) * 100, FORM_PERCENT, "30%"},
        {1e-20, FORM_PERCENT, "0%"},
        {1e-20, FORM_VECTOR32_PERCENT, "0%"},
        {33.33333333, FORM_VECTOR32_PERCENT, "33.33333%"},
        {3.0, FORM_VECTOR32, "3.0"},
        {1234567.0, FORM_VECTOR32, "1234567.0"},
        {12345678.0, FORM_VECTOR32, "1.234568e7"},
        {double(0.1f), FORM_VECTOR32, "0.1"},
        {3.0, FORM_POINT, "3"},
        {2.5, FORM_POINT, "2.5"},
        {0.0, FORM_POINT, "0"},
        {1e-20, FORM_POINT, "0"},
        {1.5, FORM_TIME, "1.5"},
        {59.0, FORM_TIME, "59"},
        {0.1234567, FORM_TIME, "0.123457"},
        {1e-20, FORM_TIME, "0.0"},
    };
    for (const auto& c : cases) {
        Text t = form_float(c.x, c.mode);
        EXPECT_STREQ(t.c_str(), c.text) << c.x << " mode " << c.mode;
        EXPECT_EQ(t.length, std::strlen(c.text)) << c.x << " mode " << c.mode;
    }
}

TEST_F(Float, FormTextWithoutPrettyPrinting) {
    float_::pretty_print_q = false;
    const struct {
        double x;
        int mode;
        const char* text;
    } cases[] = {
        {1.5e-20, float_::FORM_FLOAT, "1.5e-20"},
        {1e-20, float_::FORM_FLOAT, "9.999999999999999e-21"},
        {0.1 + 0.7, float_::FORM_FLOAT, "0.7999999999999999"},
        {-0.123456789012301, float_::FORM_FLOAT, "-0.123456789012301"},
        {1e-20, float_::FORM_PERCENT, "1e-20%"},
        {1e-20, float_::FORM_POINT, "1e-20"},
        {0.0, float_::FORM_FLOAT, "0.0"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(float_::form_float(c.x, c.mode).c_str(), c.text) << c.x << " " << c.mode;
}

TEST_F(Float, FormAndMoldIntoStrings) {
    collector::Root out;
    string::make_at(out.get(), 4);
    Cell tiny = F(1e-20), sum = F(0.1 + 0.7), hundred = F(100.0);
    EXPECT_EQ(float_::form(&tiny, out.get(), false, 100), 97);
    string::concatenate_cstring(out.get(), " ");
    EXPECT_EQ(float_::mold(&tiny, out.get(), false, false, false, false, 100, 0), 93);
    string::concatenate_cstring(out.get(), " ");
    float_::form(&sum, out.get(), false, 100);
    string::concatenate_cstring(out.get(), " ");
    float_::mold(&sum, out.get(), true, true, true, false, 100, 2);
    string::concatenate_cstring(out.get(), " ");
    float_::mold(&hundred, out.get(), false, false, false, false, 100, 0);
    EXPECT_EQ(string::to_utf8(out.get()), "0.0 1.0e-20 0.8 0.7999999999999999 100.0");
}

TEST_F(Float, MathOpRules) {
    using float_::do_math_op;
    EXPECT_EQ(do_math_op(1.0, 0.0, OP_DIV), INF);
    EXPECT_EQ(do_math_op(-1.0, 0.0, OP_DIV), -INF);
    EXPECT_TRUE(std::isnan(do_math_op(0.0, 0.0, OP_DIV)));
    EXPECT_EQ(do_math_op(7.5, 2.0, OP_REM), 1.5);
    EXPECT_EQ(do_math_op(-7.5, 2.0, OP_REM), -1.5);
    EXPECT_EQ(do_math_op(5.0, INF, OP_REM), 5.0);
    EXPECT_EQ(do_math_op(-5.0, -INF, OP_REM), -5.0);
    // The quiet NaN for a NaN divisor and for an infinite dividend by an infinite divisor.
    EXPECT_EQ(bits(do_math_op(5.0, NaN, OP_REM)), 0x7FF8000000000000ull);
    EXPECT_EQ(bits(do_math_op(INF, INF, OP_REM)), 0x7FF8000000000000ull);
    EXPECT_TRUE(std::isnan(do_math_op(INF, 2.0, OP_REM)));
    EXPECT_TRUE(std::isnan(do_math_op(1.0, 0.0, OP_REM)));
    EXPECT_EQ(do_math_op(2.0, 3.0, OP_MUL), 6.0);
    EXPECT_EQ(do_math_op(2.0, 3.0, OP_SUB), -1.0);
}

// The arithmetic entry: the result's type by the operands' types, and the refusals.
TEST_F(Float, DoMathTypes) {
    struct Case {
        Cell left, right;
        void (*action)();
        uint32_t type;
        double expect;
        const char* error;
    };
    const Case cases[] = {
        {I(1), F(0.1, T_PERCENT), float_::add, T_FLOAT, 1.1, ""},
        {F(0.1, T_PERCENT), I(1), float_::add, T_PERCENT, 1.1, ""},
        {F(0.1, T_PERCENT), F(0.2, T_PERCENT), float_::add, T_PERCENT, 0.1 + 0.2, ""},
        {F(0.5, T_PERCENT), F(2.0), float_::multiply, T_PERCENT, 1.0, ""},
        {F(1.5), F(1.0, T_TIME), float_::add, T_TIME, 2.5, ""},
        {F(3.0, T_TIME), F(2.0, T_TIME), float_::subtract, T_TIME, 1.0, ""},
        {F(3.0, T_TIME), F(0.5, T_PERCENT), float_::multiply, T_TIME, 1.5, ""},
        {F(7.5), I(2), float_::remainder, T_FLOAT, 1.5, ""},
        {F(5.0), F(INF), float_::remainder, T_FLOAT, 5.0, ""},
        {F(1.0), F(0.0), float_::divide, T_FLOAT, INF, ""},
        {F(1.5), Cell{T_CHAR, 0, 65, 0}, float_::add, T_FLOAT, 66.5, ""},
        {I(7), F(2.0), float_::divide, T_FLOAT, 3.5, ""},
        {F(0.5, T_PERCENT), Cell{T_CHAR, 0, 65, 0}, float_::add, 0, 0, "script/invalid-type"},
        {F(1.0, T_TIME), Cell{T_CHAR, 0, 65, 0}, float_::add, 0, 0, "script/invalid-type"},
        {F(1.0), Cell{T_STRING, 0, 0, 0}, float_::add, 0, 0, "script/invalid-type"},
        {F(1.0), Cell{T_LOGIC, 1, 0, 0}, float_::multiply, 0, 0, "script/invalid-type"},
        {F(1.0), Cell{T_PAIR, 0, 1, 2}, float_::subtract, 0, 0, "script/not-related"},
        {F(1.0), Cell{T_POINT3D, 0, 0, 0}, float_::divide, 0, 0, "script/not-related"},
        {F(1.0, T_TIME), Cell{T_PAIR, 0, 1, 2}, float_::add, 0, 0, "script/invalid-type"},
        {F(1.0), Cell{T_VECTOR, 0, 0, 0}, float_::add, 0, 0, "internal/not-done"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = call({c.left, c.right}, c.action);
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), c.type) << "case " << i;
        EXPECT_EQ(o.value.get_float(), c.expect) << "case " << i;
    }
    // or~, and~ and xor~ reach the float arithmetic only to be refused.
    for (int op : {OP_OR, OP_AND, OP_XOR})
        EXPECT_EQ(call({F(1.0), F(2.0)}, [op] { float_::do_math(op); }).error, "script/cannot-use");
}

TEST_F(Float, EqualWithin) {
    double one_ulp = std::nextafter(1.0, 2.0);
    double big = 1e10, big10 = big, big11;
    for (int i = 0; i < 10; ++i) big10 = std::nextafter(big10, INF);
    big11 = std::nextafter(big10, INF);
    const struct {
        double a, b;
        bool equal;
    } cases[] = {
        {1.0, 1.0, true}, {1.0, one_ulp, true}, {0.0, -0.0, true}, {1e-17, -1e-17, true},
        {big, big10, true}, {big, big11, false}, {-big, -big10, true}, {-big, -big11, false},
        {1.0, 1.0001, false}, {NaN, NaN, false}, {NaN, 1.0, false}, {INF, INF, true},
        {INF, -INF, false}, {1e-300, -1e-300, true}, {0.1 + 0.2, 0.3, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(float_::equal_within(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(float_::equal_within(c.b, c.a), c.equal) << c.b << " " << c.a;
    }
}

TEST_F(Float, Compare) {
    const struct {
        Cell a, b;
        int op;
        int32_t expect;
    } cases[] = {
        {F(1.0), F(1.0000000000000002), COMP_EQUAL, 0},
        {F(1.0), F(1.0000000000000002), COMP_NOT_EQUAL, 0},
        {F(1.0), F(1.0000000000000002), COMP_STRICT_EQUAL, 1},
        {F(1.0), F(1.0), COMP_STRICT_EQUAL, 0},
        {F(NaN), F(NaN), COMP_EQUAL, 1},
        {F(NaN), F(NaN), COMP_STRICT_EQUAL, 1},
        {F(NaN), F(NaN), COMP_SAME, 0},
        {F(0.0), F(-0.0), COMP_STRICT_EQUAL, 0},
        {F(0.0), F(-0.0), COMP_SAME, 1},
        {F(NaN), F(1.0), COMP_LESSER, 1},
        {F(NaN), F(1.0), COMP_LESSER_EQUAL, 1},
        {F(NaN), F(1.0), COMP_GREATER, -1},
        {F(1.0), F(NaN), COMP_GREATER_EQUAL, -1},
        {F(NaN), F(1.0), COMP_SORT, 0},
        {F(1.0), F(2.0), COMP_LESSER, -1},
        {F(2.0), I(1), COMP_GREATER, 1},
        {F(1.0), I(1), COMP_EQUAL, 0},
        {F(1.0), I(1), COMP_STRICT_EQUAL, 1},
        {F(1.0), I(1), COMP_FIND, 1},
        {F(0.5), F(0.5, T_PERCENT), COMP_EQUAL, 0},
        {F(0.5), F(0.5, T_PERCENT), COMP_SAME, 1},
        {F(0.5, T_PERCENT), F(0.5, T_PERCENT), COMP_FIND, 0},
        {F(60.0, T_TIME), F(59.0, T_TIME), COMP_SORT, 1},
        {F(65.0), Cell{T_CHAR, 0, 65, 0}, COMP_EQUAL, NOT_COMPARABLE},
        {F(1.0), Cell{T_STRING, 0, 0, 0}, COMP_LESSER, NOT_COMPARABLE},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(float_::compare(&cases[i].a, &cases[i].b, cases[i].op), cases[i].expect)
            << "case " << i;
    // A zero amount (the money! cases themselves are tested with that type).
    Cell one = F(1.0), zero_money{T_MONEY, 0, 0, 0};
    EXPECT_EQ(float_::compare(&one, &zero_money, COMP_EQUAL), 1);
    EXPECT_EQ(float_::compare(&one, &zero_money, COMP_GREATER), 1);
}

TEST_F(Float, RoundModes) {
    enum { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    const double max = float_::MAX_FINITE;
    struct Case {
        Cell value;
        int mode;
        bool to;
        Cell scale;
        uint32_t type;
        double expect;
        const char* error;
    };
    const Case cases[] = {
        {F(2.5), NONE, false, {}, T_FLOAT, 3.0, ""},
        {F(-2.5), NONE, false, {}, T_FLOAT, -3.0, ""},
        {F(2.4), NONE, false, {}, T_FLOAT, 2.0, ""},
        {F(-2.6), NONE, false, {}, T_FLOAT, -3.0, ""},
        {F(2.5), EVEN, false, {}, T_FLOAT, 2.0, ""},
        {F(3.5), EVEN, false, {}, T_FLOAT, 4.0, ""},
        {F(-2.5), EVEN, false, {}, T_FLOAT, -2.0, ""},
        {F(2.5), HALF_DOWN, false, {}, T_FLOAT, 2.0, ""},
        {F(-2.5), HALF_DOWN, false, {}, T_FLOAT, -2.0, ""},
        {F(-2.5), HALF_CEILING, false, {}, T_FLOAT, -2.0, ""},
        {F(2.5), HALF_CEILING, false, {}, T_FLOAT, 3.0, ""},
        {F(-2.1), FLOOR, false, {}, T_FLOAT, -3.0, ""},
        {F(2.9), FLOOR, false, {}, T_FLOAT, 2.0, ""},
        {F(2.1), CEILING, false, {}, T_FLOAT, 3.0, ""},
        {F(-2.9), CEILING, false, {}, T_FLOAT, -2.0, ""},
        {F(-2.9), DOWN, false, {}, T_FLOAT, -2.0, ""},
        {F(2.9), DOWN, false, {}, T_FLOAT, 2.0, ""},
        {F(7.3), NONE, true, I(2), T_INTEGER, 8, ""},
        {F(-7.3), NONE, true, I(-2), T_INTEGER, -8, ""},
        {F(1.26), NONE, true, F(0.1), T_FLOAT, 1.3, ""},
        {F(0.126), NONE, true, F(0.01, T_PERCENT), T_PERCENT, 0.13, ""},
        {F(0.126, T_PERCENT), NONE, false, {}, T_PERCENT, 0.13, ""},
        {F(0.126, T_PERCENT), NONE, true, I(10), T_INTEGER, 0, ""},
        {F(95.0, T_TIME), NONE, true, F(60.0, T_TIME), T_TIME, 120.0, ""},
        {F(7.5), NONE, true, I(0), T_FLOAT, 7.5, ""},
        {F(0.0), NONE, true, I(0), T_INTEGER, 0, ""},
        {F(1e300), NONE, false, {}, T_FLOAT, 1e300, ""},
        {F(INF), NONE, true, I(1), T_FLOAT, INF, ""},
        {F(1e-310), NONE, true, F(5e-324), T_FLOAT, 1e-310, ""},
        {F(3e-323), FLOOR, true, F(2e-323), T_FLOAT, 2e-323, ""},
        // A rounded result outside the 32-bit range with an integer! scale is truncated unchecked.
        {F(1e12), NONE, true, I(1), T_INTEGER, INT32_MIN, ""},
        {F(max * 0.8), CEILING, true, F(max / 2), 0, 0, "math/overflow"},
        {F(max * 0.99), CEILING, true, F(max * 0.75), 0, 0, "math/overflow"},
        {F(1.0), NONE, true, Cell{T_MONEY, 0, 0, 0}, 0, 0, "script/not-related"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = call({c.value, c.scale}, [&] {
            float_::round(stack::arg(0), c.to ? stack::arg(1) : nullptr, c.mode == EVEN,
                          c.mode == DOWN, c.mode == HALF_DOWN, c.mode == FLOOR,
                          c.mode == CEILING, c.mode == HALF_CEILING);
        });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), c.type) << "case " << i;
        if (c.type == T_INTEGER) EXPECT_EQ(int32_t(o.value.data2), int32_t(c.expect)) << "case " << i;
        else EXPECT_EQ(o.value.get_float(), c.expect) << "case " << i;
    }
}

TEST_F(Float, UncheckedConversionGivesTheX86Answer) {
    const struct {
        double x;
        int32_t expect;
    } cases[] = {
        {1.9, 1}, {-1.9, -1}, {0.0, 0}, {-0.5, 0}, {2147483647.9, 2147483647},
        {-2147483648.9, INT32_MIN}, {2147483648.0, INT32_MIN}, {-2147483649.0, INT32_MIN},
        {1e300, INT32_MIN}, {NaN, INT32_MIN}, {INF, INT32_MIN}, {-INF, INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(float_::to_int32_unchecked(c.x), c.expect) << c.x;
}

TEST_F(Float, Conversions) {
    collector::Root text, block;
    auto str = [&](const char* s) {
        string::make_at(text.get(), 8);
        string::concatenate_cstring(text.get(), s);
        return text.cell;
    };
    auto blk = [&](std::vector<Cell> items) {
        block.cell = Cell{T_BLOCK, 0, memory::make_cells(4), 0};
        for (const Cell& c : items) {
            Cell copy = c;
            *buffer::alloc_block_tail(block.get()) = copy;
        }
        return block.cell;
    };
    struct Case {
        std::function<Cell()> spec;
        uint32_t target;  // also the result's type
        double expect;
        const char* error;
    };
    const Case cases[] = {
        {[] { return I(3); }, T_FLOAT, 3.0, ""},
        {[] { return Cell{T_CHAR, 0, 65, 0}; }, T_FLOAT, 65.0, ""},
        {[] { return F(0.5); }, T_PERCENT, 0.5, ""},
        {[] { return F(0.5, T_PERCENT); }, T_FLOAT, 0.5, ""},
        {[] { return F(90.0, T_TIME); }, T_FLOAT, 90.0, ""},
        {[] { return I(90); }, T_TIME, 90.0, ""},
        {[&] { return str("1.5"); }, T_FLOAT, 1.5, ""},
        {[&] { return str("-2"); }, T_FLOAT, -2.0, ""},
        {[&] { return str("+1e3"); }, T_FLOAT, 1000.0, ""},
        {[&] { return str(".5"); }, T_FLOAT, 0.5, ""},
        {[&] { return str(""); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str("abc"); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str("inf"); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str("nan"); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str("1.5x"); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str(" 1.5"); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return str("5"); }, T_PERCENT, 5.0, ""},
        {[&] { return str("5%"); }, T_PERCENT, 0.05, ""},
        {[&] { return str(" 12.5% rest"); }, T_PERCENT, 0.125, ""},
        {[&] { return str("x"); }, T_PERCENT, 0, "script/bad-to-arg"},
        {[&] { return blk({I(15), I(-1)}); }, T_FLOAT, 1.5, ""},
        {[&] { return blk({F(2.5), F(2.9)}); }, T_FLOAT, 250.0, ""},
        {[&] { return blk({I(1), I(2), I(3)}); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return blk({}); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[&] { return blk({I(1), Cell{T_NONE, 0, 0, 0}}); }, T_FLOAT, 0, "script/bad-to-arg"},
        {[] { return Cell{T_LOGIC, 1, 0, 0}; }, T_FLOAT, 0, "script/bad-to-arg"},
        {[] { return Cell{T_BINARY, 0, 0, 0}; }, T_FLOAT, 0, "internal/not-done"},
        {[] { return Cell{T_MONEY, 0, 0, 0}; }, T_FLOAT, 0, ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        uint32_t target = c.target;
        Cell spec = c.spec();
        Outcome o = call({Cell{T_NONE, 0, 0, 0}, spec},
                         [target] { float_::make(nullptr, stack::arg(1), target); });
        EXPECT_EQ(o.error, c.error) << "case " << i;
        if (*c.error) continue;
        EXPECT_EQ(o.value.type(), c.target) << "case " << i;
        EXPECT_EQ(o.value.get_float(), c.expect) << "case " << i;
    }
}

TEST_F(Float, Power) {
    Outcome o = call({F(2.0), I(3)}, float_::power);
    EXPECT_EQ(o.value.type(), uint32_t(T_FLOAT));
    EXPECT_EQ(o.value.get_float(), 8.0);
    o = call({F(0.5, T_PERCENT), F(2.0)}, float_::power);
    EXPECT_EQ(o.value.type(), uint32_t(T_PERCENT));
    EXPECT_EQ(o.value.get_float(), 0.25);
    o = call({I(2), F(0.5)}, integer::power);
    EXPECT_EQ(o.value.type(), uint32_t(T_FLOAT));
    EXPECT_NEAR(o.value.get_float(), 1.41421356237, 1e-10);
    EXPECT_EQ(call({F(2.0), Cell{T_STRING, 0, 0, 0}}, float_::power).error, "script/expect-arg");
}

TEST_F(Float, UnaryActions) {
    const struct {
        void (*action)();
        Cell value;
        Cell expect;
    } cases[] = {
        {on_value<float_::negate>, F(0.0), F(0.0)},
        {on_value<float_::negate>, F(-0.0), F(0.0)},
        {on_value<float_::negate>, F(2.5, T_PERCENT), F(-2.5, T_PERCENT)},
        {float_::absolute, F(-3.5), F(3.5)},
        {float_::absolute, F(-0.0, T_TIME), F(0.0, T_TIME)},
        {float_::absolute, F(-INF), F(INF)},
        {truth_of<float_::even_q>, F(2.7), Cell{T_LOGIC, 1, 0, 0}},
        {truth_of<float_::even_q>, F(-3.2), Cell{T_LOGIC, 0, 0, 0}},
        {truth_of<float_::odd_q>, F(3.2), Cell{T_LOGIC, 1, 0, 0}},
        {truth_of<float_::odd_q>, F(-0.9), Cell{T_LOGIC, 0, 0, 0}},
        {truth_of<float_::even_q>, F(NaN), Cell{T_LOGIC, 1, 0, 0}},
        {truth_of<float_::odd_q>, F(1e20), Cell{T_LOGIC, 0, 0, 0}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Outcome o = call({cases[i].value}, cases[i].action);
        EXPECT_EQ(o.value.header, cases[i].expect.header) << "case " << i;
        EXPECT_EQ(o.value.data1, cases[i].expect.data1) << "case " << i;
        EXPECT_EQ(o.value.data2, cases[i].expect.data2) << "case " << i;
        EXPECT_EQ(o.value.data3, cases[i].expect.data3) << "case " << i;
    }
    EXPECT_EQ(bits(float_::abs(-NaN)) >> 63, 0u);
}

TEST_F(Float, SpecialValues) {
    EXPECT_TRUE(float_::special_q(NaN));
    EXPECT_TRUE(float_::special_q(-NaN));
    EXPECT_FALSE(float_::special_q(INF));
    EXPECT_FALSE(float_::special_q(-INF));
    EXPECT_FALSE(float_::special_q(1.0));
    EXPECT_TRUE(float_::nan_q(std::nanf("")));
    EXPECT_FALSE(float_::nan_q(INFINITY));
    EXPECT_FALSE(float_::nan_q(0.0f));
}

TEST_F(Float, RandomDraws) {
    auto draw = [](Cell v, bool secure) {
        return call({v}, [secure] { float_::random(stack::arg(0), false, secure, false); });
    };
    for (int i = 0; i < 200; ++i) {
        Outcome o = draw(F(2.5, T_PERCENT), i & 1);
        EXPECT_EQ(o.value.type(), uint32_t(T_PERCENT));
        EXPECT_TRUE(o.value.get_float() >= 0.0 && o.value.get_float() <= 2.5);
        double neg = draw(F(-4.0), i & 1).value.get_float();
        EXPECT_TRUE(neg <= 0.0 && neg >= -4.0);
    }
    auto seed = [] {
        return call({F(1.5)}, [] { float_::random(stack::arg(0), true, false, false); });
    };
    EXPECT_EQ(seed().value.type(), uint32_t(T_UNSET));
    double a = draw(F(1.0), false).value.get_float();
    seed();
    EXPECT_EQ(draw(F(1.0), false).value.get_float(), a);
}

TEST_F(Float, CellRoutines) {
    Cell c{T_INTEGER | CELL_NEW_LINE, 7, 1, 2};
    float_::make_at(&c, 2.5);
    EXPECT_EQ(c.header, uint32_t(T_FLOAT));
    EXPECT_EQ(c.data1, 0u);
    EXPECT_EQ(float_::get(&c), 2.5);

    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(1), 0});
    float_::make_in(block.get(), -1.25);
    SeriesBuffer* b = memory::buffer_of(block->data2);
    ASSERT_EQ(b->length(), 1u);
    EXPECT_EQ(b->head_cell()->get_float(), -1.25);

    call({I(0)}, [] {
        float_::box(4.0);
        EXPECT_EQ(stack::arguments->header, uint32_t(T_FLOAT));
        EXPECT_EQ(stack::arguments->get_float(), 4.0);
        EXPECT_EQ(float_::push_parts(0x3FF00000, 0)->get_float(), 1.0);
        Cell* pushed = float_::push(-0.5);
        EXPECT_EQ(pushed, stack::top_value());
        EXPECT_EQ(stack::top_value()->get_float(), -0.5);
    });
}

}  // namespace
}  // namespace kov
