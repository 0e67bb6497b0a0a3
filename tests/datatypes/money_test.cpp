// money!: arithmetic against a reference on 128-bit integers, currencies, text with grouping and
// the shown fraction digits, conversions, the constructor, comparison (also from integer! and
// float!), rounding, paths and random amounts.
#include <cmath>
#include <iterator>
#include <random>
#include <string>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/system_settings.hpp"
#include "evaluator/random.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov {
namespace {

using testing::float_cell;
using testing::integer_cell;
using testing::Outcome;
using testing::run;

using i128 = __int128;
using u128 = unsigned __int128;

Cell I(int32_t n) { return integer_cell(n); }
Cell F(double d) { return float_cell(d); }
Cell word(const char* s) { return cells::make_word(T_WORD, 0, symbol::make(s)); }

// A money! value from its text ("-USD$1'234.5").
Cell M(const char* text) {
    Cell c{};
    EXPECT_TRUE(money::scan_text(text, &c)) << text;
    return c;
}
std::string exact(const Cell& c) { return money::text(&c, false, true); }

// ---- the reference: amounts as integers of hundred-thousandths ----

const u128 LIMIT = [] {
    u128 x = 1;
    for (int i = 0; i < 22; ++i) x *= 10;
    return x;
}();

Cell from_scaled(i128 v, uint8_t currency = 0) {
    money::Amount a;
    a.negative = v < 0;
    a.currency = currency;
    u128 m = v < 0 ? u128(-v) : u128(v);
    for (int i = 21; i >= 0; --i, m /= 10) a.digit[i] = uint8_t(m % 10);
    Cell c{};
    money::write(&c, a);
    return c;
}

i128 to_scaled(const Cell& c) {
    money::Amount a = money::read(&c);
    i128 v = 0;
    for (uint8_t d : a.digit) v = v * 10 + d;
    return a.negative ? -v : v;
}

int digit_count(u128 m) {
    int n = 1;
    while (m >= 10) m /= 10, ++n;
    return n;
}

// The expected result of an op: false for an overflow.
bool reference(i128 a, i128 b, int op, i128& out) {
    u128 ma = a < 0 ? u128(-a) : u128(a), mb = b < 0 ? u128(-b) : u128(b);
    bool negative = (a < 0) != (b < 0);
    switch (op) {
    case OP_ADD: out = a + b; break;
    case OP_SUB: out = a - b; break;
    case OP_MUL: {
        if (ma != 0 && mb > ~u128(0) / ma) return false;
        u128 q = ma * mb / 100000;
        if (q >= LIMIT) return false;
        out = negative ? -i128(q) : i128(q);
        return true;
    }
    default: {
        if (ma == 0) {
            out = 0;
            return true;
        }
        if (digit_count(ma) - digit_count(mb) + 6 > 22) return false;
        if (op == OP_REM) {
            out = a % b;
            return true;
        }
        u128 q = ma * 100000 / mb;
        if (q >= LIMIT) return false;
        out = negative ? -i128(q) : i128(q);
        return true;
    }
    }
    return (out < 0 ? u128(-out) : u128(out)) < LIMIT;
}

class Money : public testing::RuntimeTest {
protected:
    void TearDown() override { system_settings::reset(); }
};

// Random amounts of every length, both signs, against the reference.
TEST_F(Money, ArithmeticMatchesTheReference) {
    std::mt19937_64 gen(20240305);
    auto amount = [&] {
        int n = int(gen() % 22) + 1;
        u128 m = 0;
        for (int i = 0; i < n; ++i) m = m * 10 + gen() % 10;
        if (gen() % 16 == 0) m = 0;
        return gen() % 2 ? -i128(m) : i128(m);
    };
    void (*actions[])() = {money::add_action, money::subtract_action, money::multiply_action,
                           money::divide_action, money::remainder_action};
    int failures = 0;
    for (int i = 0; i < 20000 && failures < 10; ++i) {
        i128 a = amount(), b = amount();
        int op = int(gen() % 5);
        if ((op == OP_DIV || op == OP_REM) && b == 0) continue;
        // money x money is refused: multiply by an integer operand instead.
        Cell right = from_scaled(b);
        if (op == OP_MUL) {
            int32_t n = int32_t(gen() % 2000001) - 1000000;
            b = i128(n) * 100000;
            right = I(n);
        }
        Outcome o = run({from_scaled(a), right}, [&] { actions[op](); return nullptr; });
        i128 expect = 0;
        bool ok = reference(a, b, op, expect);
        if (!ok) {
            if (o.error != "script/type-limit") {
                ADD_FAILURE() << "op " << op << ": expected an overflow, got " << o.error;
                ++failures;
            }
            continue;
        }
        if (!o.error.empty()) {
            ADD_FAILURE() << "op " << op << ": " << o.error << " for " << exact(from_scaled(a))
                          << " and " << exact(from_scaled(b));
            ++failures;
            continue;
        }
        if (op == OP_DIV) {
            // money / money gives the quotient as a float!.
            ASSERT_TRUE(o.value.is(T_FLOAT));
            EXPECT_EQ(o.value.get_float(), money::to_float(money::read(&(right = from_scaled(expect)))));
            continue;
        }
        if (to_scaled(o.value) != expect && !(expect == 0 && money::sign(&o.value) == 0)) {
            ADD_FAILURE() << "op " << op << ": " << exact(from_scaled(a)) << ", "
                          << exact(from_scaled(b)) << " gave " << exact(o.value) << " not "
                          << exact(from_scaled(expect));
            ++failures;
        }
    }
    EXPECT_EQ(failures, 0);
}

// Cases around the limits and the currency rules, as text.
TEST_F(Money, ArithmeticCases) {
    struct Case {
        Cell left, right;
        void (*action)();
        const char* expect;  // mold/all text, "=x" a float!, or an error
    };
    const Case cases[] = {
        {M("USD$1"), M("$2"), money::add_action, "USD$3.00000"},
        {M("$1"), M("EUR$2"), money::add_action, "EUR$3.00000"},
        {M("USD$1"), M("EUR$2"), money::add_action, "script/wrong-denom"},
        {M("$1"), M("$2"), money::multiply_action, "script/invalid-type"},
        {M("$10"), M("$4"), money::divide_action, "=2.5"},
        {I(10), M("$4"), integer::divide, "script/invalid-type"},
        {I(10), M("$4"), integer::remainder, "script/invalid-type"},
        {M("$10"), I(3), money::remainder_action, "$1.00000"},
        {M("-$10.5"), M("$3"), money::remainder_action, "-$1.50000"},
        {M("$1"), I(3), money::divide_action, "$0.33333"},
        {M("-$2"), I(3), money::divide_action, "-$0.66666"},
        {M("$1"), I(0), money::divide_action, "math/zero-divide"},
        {M("$1"), F(0.123456), money::add_action, "$1.12345"},
        {M("$1"), F(0.5), money::multiply_action, "$0.50000"},
        {M("$1"), F(1e-6), money::add_action, "script/bad-make-arg"},
        {M("$1"), Cell{T_STRING, 0, 0, 0}, money::add_action, "script/invalid-type"},
        {M("$99999999999999999"), I(1), money::add_action, "script/type-limit"},
        {M("-$99999999999999999"), I(1), money::subtract_action, "script/type-limit"},
        {M("$99999999999999999.99999"), M("-$0.00001"), money::add_action,
         "$99999999999999999.99998"},
        {M("$0"), M("-$5"), money::subtract_action, "$5.00000"},
        {M("$5"), M("$5"), money::subtract_action, "$0.00000"},
        // The overflow test of a product looks at the product, not at the operands' lengths.
        {M("$99999.99999"), I(1000000000), money::multiply_action, "$99999999990000.00000"},
        {M("$0.00001"), I(2147483647), money::multiply_action, "$21474.83647"},
        {M("$12345678901234567"), I(10), money::multiply_action, "script/type-limit"},
        {M("$0.00001"), M("$0.00001"), money::multiply_action, "script/invalid-type"},
        {M("$0.00003"), F(0.5), money::multiply_action, "$0.00001"},
        // Numbers on the left, through integer! and float!.
        {I(2), M("USD$1.5"), integer::add, "USD$3.50000"},
        {I(2), M("$1.5"), integer::multiply, "$3.00000"},
        {I(2), M("$1.5"), integer::subtract, "$0.50000"},
        {F(2.25), M("$1"), float_::add, "$3.25000"},
        {F(0.5), M("$1"), float_::divide, "script/invalid-type"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({c.left, c.right}, [&] { c.action(); return nullptr; });
        std::string got = !o.error.empty()     ? o.error
                          : o.value.is(T_FLOAT) ? "=" + std::string(float_::form_float(
                                                                o.value.get_float(),
                                                                float_::FORM_TIME).view())
                                                : exact(o.value);
        EXPECT_EQ(got, c.expect) << "case " << i;
    }
}

TEST_F(Money, Text) {
    const struct {
        const char* amount;
        const char* formed;
        const char* molded;
    } cases[] = {
        {"-USD$1234.5", "-USD$1'234.50", "-USD$1234.50"},
        {"$1234567", "$1'234'567.00", "$1234567.00"},
        {"$0.999", "$0.99", "$0.99"},
        {"$0", "$0.00", "$0.00"},
        {"-$0", "$0.00", "$0.00"},
        {"$123", "$123.00", "$123.00"},
        {"$12345678901234567.5", "$12'345'678'901'234'567.50", "$12345678901234567.50"},
        {"eur$5", "EUR$5.00", "EUR$5.00"},
    };
    for (const auto& c : cases) {
        Cell m = M(c.amount);
        EXPECT_EQ(testing::formed(m), c.formed) << c.amount;
        EXPECT_EQ(testing::molded(m), c.molded) << c.amount;
    }
    // The shown fraction digits follow money-digits (an integer!, else 2; at most 5).
    const struct {
        Cell digits;
        const char* formed;
        const char* molded;
    } shown[] = {
        {I(0), "$1'234", "$1234"},
        {I(-1), "$1'234", "$1234"},
        {I(1), "$1'234.5", "$1234.5"},
        {I(3), "$1'234.567", "$1234.567"},
        {I(4), "$1'234.567'8", "$1234.5678"},
        {I(5), "$1'234.567'89", "$1234.56789"},
        {I(9), "$1'234.567'89", "$1234.56789"},
        {F(4), "$1'234.56", "$1234.56"},
    };
    Cell m = M("$1234.56789");
    for (const auto& s : shown) {
        system_settings::money_digits = s.digits;
        EXPECT_EQ(testing::formed(m), s.formed);
        EXPECT_EQ(testing::molded(m), s.molded);
    }
    system_settings::money_digits = I(0);
    EXPECT_EQ(exact(m), "$1234.56789");  // mold/all
}

TEST_F(Money, Conversions) {
    EXPECT_EQ(exact(from_scaled(0)), "$0.00000");
    Cell c{};
    money::write(&c, money::from_integer(-2147483647 - 1));
    EXPECT_EQ(exact(c), "-$2147483648.00000");
    const struct {
        double x;
        bool strict;
        const char* expect;
    } floats[] = {
        {0.0, true, "$0.00000"},
        {1.5, true, "$1.50000"},
        {-0.00001, true, "-$0.00001"},
        {0.123456, false, "$0.12345"},
        {0.123456, true, "script/bad-make-arg"},
        {1e-6, false, "script/bad-make-arg"},
        {1e17, false, "script/bad-make-arg"},
        {99999999999999984.0, false, "$99999999999999980.00000"},  // shortest text,
        {INFINITY, false, "script/bad-make-arg"},
        {NAN, false, "script/bad-make-arg"},
        {0.1 + 0.2, false, "$0.30000"},
        {123456.789, true, "$123456.78900"},
    };
    for (const auto& f : floats) {
        Outcome o = run({}, [&] {
            money::write(stack::arguments, money::from_float(f.x, f.strict));
            return nullptr;
        });
        EXPECT_EQ(o.error.empty() ? exact(o.value) : o.error, f.expect) << f.x;
    }
    EXPECT_EQ(money::to_float(money::read(&(c = M("-$1234.5")))), -1234.5);
    EXPECT_EQ(money::to_float(money::read(&(c = M("$0.1")))), 0.1);
    const struct {
        const char* amount;
        int32_t expect;
        const char* error;
    } integers[] = {
        {"$12.99", 12, ""},
        {"-$12.99", -12, ""},
        {"$2147483647.99", 2147483647, ""},
        {"-$2147483648", -2147483647 - 1, ""},
        {"$2147483648", 0, "script/type-limit"},
        {"-$2147483649", 0, "script/type-limit"},
        {"$99999999999", 0, "script/type-limit"},
    };
    for (const auto& n : integers) {
        Cell m = M(n.amount);
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, m},
                        [] { return integer::to(nullptr, stack::arg(1), T_INTEGER); });
        EXPECT_EQ(o.error, n.error) << n.amount;
        if (!*n.error) {
            EXPECT_EQ(o.value.get_int(), n.expect) << n.amount;
        }
    }
    Outcome f = run({Cell{T_NONE, 0, 0, 0}, M("$2.5")},
                    [] { return float_::make(nullptr, stack::arg(1), T_FLOAT); });
    EXPECT_EQ(f.value.get_float(), 2.5);
}

TEST_F(Money, Scanning) {
    const struct {
        const char* text;
        const char* expect;  // mold/all, or "" when refused
    } cases[] = {
        {"$1", "$1.00000"},
        {"-$1.5", "-$1.50000"},
        {"USD$1'000.25", "USD$1000.25000"},
        {"usd$3", "USD$3.00000"},
        {"  $7  ", "$7.00000"},
        {"12.5", "$12.50000"},
        {"$0.1234567", "$0.12345"},
        {"$.5", "$0.50000"},
        {"XYZ$1", ""},
        {"$", ""},
        {"$1x", ""},
        {"1$1", ""},
        {"$123456789012345678", ""},
        {"$000000000000000000001", "$1.00000"},
    };
    for (const auto& c : cases) {
        Cell out{};
        bool ok = money::scan_text(c.text, &out);
        EXPECT_EQ(ok ? exact(out) : "", c.expect) << c.text;
    }
    uint8_t packed[11] = {0, 0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x67};
    Cell d{};
    money::make_from_digits(&d, true, 1, packed);
    EXPECT_EQ(exact(d), "-AED$12.34567");
}

TEST_F(Money, MakeAndTo) {
    collector::Root block, text;
    auto blk = [&](std::vector<Cell> items) { return testing::make_block(block.get(), items); };
    const char* bad = "script/bad-make-arg";
    struct Case {
        std::function<Cell()> spec;
        bool make;
        const char* expect;
    };
    const Case cases[] = {
        {[&] { return blk({I(12), I(50)}); }, true, "$12.00050"},
        {[&] { return blk({I(-12), I(50)}); }, true, "-$12.00050"},
        {[&] { return blk({F(12.5), I(50)}); }, true, bad},
        {[&] { return blk({I(12), I(100000)}); }, true, bad},
        {[&] { return blk({I(12), I(-1)}); }, true, bad},
        {[&] { return blk({word("USD"), I(3)}); }, true, "USD$3.00000"},
        {[&] { return blk({word("usd"), I(3), I(7)}); }, true, "USD$3.00007"},
        {[&] { return blk({word("USD")}); }, true, bad},
        {[&] { return blk({word("XYZ"), I(3)}); }, true, bad},
        {[&] { return blk({F(2.25)}); }, true, "$2.25000"},
        {[&] { return blk({F(2.123456)}); }, true, bad},
        {[&] { return blk({I(1), I(2), I(3)}); }, true, bad},
        {[&] { return blk({}); }, true, bad},
        {[] { return word("EUR"); }, true, "EUR$0.00000"},
        {[] { return word("XYZ"); }, true, bad},
        {[] { return I(5); }, true, "$5.00000"},
        {[] { return F(0.123456); }, false, bad},
        {[] { return F(0.5); }, false, "$0.50000"},
        {[] { return M("CHF$2"); }, false, "CHF$2.00000"},
        {[&] {
             testing::make_text(text.get(), "-EUR$1'000.5");
             return text.cell;
         },
         false, "-EUR$1000.50000"},
        {[&] {
             testing::make_text(text.get(), "one");
             return text.cell;
         },
         false, "script/bad-to-arg"},
        {[] { return Cell{T_LOGIC, 1, 0, 0}; }, false, "script/bad-to-arg"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Cell spec = c.spec();
        bool make = c.make;
        Outcome o = run({Cell{T_NONE, 0, 0, 0}, spec}, [make] {
            return make ? money::make(nullptr, stack::arg(1), T_MONEY)
                        : money::to(nullptr, stack::arg(1), T_MONEY);
        });
        EXPECT_EQ(o.error.empty() ? exact(o.value) : o.error, c.expect) << "case " << i;
    }
}

TEST_F(Money, Compare) {
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t expect;  // the relation: 1 holds, 0 not; -9 an error
    };
    const Case cases[] = {
        {M("USD$1"), M("$1"), COMP_EQUAL, 1},
        {M("USD$1"), M("$1"), COMP_STRICT_EQUAL, 0},
        {M("USD$1"), M("USD$1"), COMP_STRICT_EQUAL, 1},
        {M("USD$1"), M("EUR$1"), COMP_EQUAL, 0},
        {M("USD$1"), M("EUR$2"), COMP_LESSER, -9},
        {M("USD$1"), M("$2"), COMP_LESSER, 1},
        {M("-$0"), M("$0"), COMP_EQUAL, 1},
        {M("-$2"), M("-$1"), COMP_LESSER, 1},
        {M("-$1"), M("$0"), COMP_LESSER, 1},
        {M("$1.00001"), M("$1"), COMP_GREATER, 1},
        {M("$1"), I(1), COMP_EQUAL, 1},
        {M("$1"), I(1), COMP_STRICT_EQUAL, 0},
        {M("$1"), I(2), COMP_LESSER, 1},
        {M("$1.5"), F(1.5), COMP_EQUAL, 1},
        {M("$0.33333"), F(1.0 / 3), COMP_EQUAL, 0},
        {M("$0.33333"), F(1.0 / 3), COMP_LESSER, 1},
        {M("-$0.33333"), F(-1.0 / 3), COMP_GREATER, 1},
        {M("$0"), F(1e-6), COMP_LESSER, 1},
        {M("$0"), F(-1e-6), COMP_GREATER, 1},
        {M("$5"), F(1e-6), COMP_GREATER, 1},
        {M("$5"), F(1e17), COMP_LESSER, 1},
        {M("$5"), F(-1e17), COMP_GREATER, 1},
        {M("$5"), F(1e17), COMP_EQUAL, 0},
        {M("$1"), Cell{T_STRING, 0, 0, 0}, COMP_EQUAL, 0},
        // From the number's side.
        {I(1), M("$1"), COMP_EQUAL, 1},
        {I(1), M("$1.5"), COMP_LESSER, 1},
        {I(1), M("$1"), COMP_STRICT_EQUAL, 0},
        {F(1.5), M("$1.5"), COMP_EQUAL, 1},
        {F(1.0 / 3), M("$0.33333"), COMP_GREATER, 1},
        {F(1e18), M("$1"), COMP_GREATER, 1},
        {F(-1e18), M("$1"), COMP_LESSER, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Outcome o = run({}, [&] {
            *stack::arguments = cells::make_integer(type_registry::relation(&c.a, &c.b, c.op));
            return nullptr;
        });
        int32_t got = o.error.empty() ? o.value.get_int() : -9;
        EXPECT_EQ(got, c.expect) << "case " << i << " " << o.error;
    }
    // Sorting orders by currency first: none before any, then by code.
    Cell none = M("$9"), aud = M("AUD$1"), usd = M("USD$0.5");
    EXPECT_LT(money::compare(&none, &aud, COMP_SORT), 0);
    EXPECT_LT(money::compare(&aud, &usd, COMP_SORT), 0);
    EXPECT_GT(money::compare(&usd, &aud, COMP_SORT), 0);
}

TEST_F(Money, Round) {
    enum { NONE, EVEN, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    struct Case {
        const char* amount;
        int mode;
        Cell scale;  // header 0: no /to
        const char* expect;
    };
    const Cell no{};
    const Case cases[] = {
        {"$2.5", NONE, no, "$3.00000"},
        {"$2.5", EVEN, no, "$2.00000"},
        {"$3.5", EVEN, no, "$4.00000"},
        {"-$2.5", FLOOR, no, "-$3.00000"},
        {"-$2.5", CEILING, no, "-$2.00000"},
        {"$3", CEILING, no, "$3.00000"},
        {"$2.4", NONE, no, "$2.00000"},
        {"-$2.5", NONE, no, "-$3.00000"},
        {"-$2.5", HALF_DOWN, no, "-$2.00000"},
        {"-$2.5", HALF_CEILING, no, "-$2.00000"},
        {"$2.5", HALF_CEILING, no, "$3.00000"},
        {"$2.6", HALF_DOWN, no, "$3.00000"},
        {"$2.9", DOWN, no, "$2.00000"},
        {"-$2.1", FLOOR, no, "-$3.00000"},
        {"USD$2.5", NONE, no, "USD$3.00000"},
        {"$0", NONE, no, "$0.00000"},
        {"$1.2345", NONE, M("$0.01"), "$1.23000"},
        {"$1.235", NONE, M("$0.01"), "$1.24000"},
        {"$1.235", EVEN, M("$0.01"), "$1.24000"},
        {"$1.245", EVEN, M("$0.01"), "$1.24000"},
        {"$1.245", HALF_DOWN, M("$0.01"), "$1.24000"},
        {"$17", NONE, I(5), "$15.00000"},
        {"$17.5", NONE, I(5), "$20.00000"},
        {"$17.5", EVEN, I(5), "$20.00000"},
        {"$12.5", EVEN, I(5), "$10.00000"},
        {"$17", NONE, I(-5), "$15.00000"},
        {"$17", NONE, I(0), "$17.00000"},
        {"$1.26", NONE, F(0.25), "$1.25000"},
        {"$1.26", NONE, F(0.123456), "script/bad-make-arg"},
        {"$1.26", NONE, Cell{T_STRING, 0, 0, 0}, "script/not-related"},
        {"$99999999999999999.9", NONE, no, "script/type-limit"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const Cell* scale = c.scale.header ? &c.scale : nullptr;
        Outcome o = run({M(c.amount)}, [&] {
            return money::round(stack::arg(0), scale, c.mode == EVEN, c.mode == DOWN,
                                c.mode == HALF_DOWN, c.mode == FLOOR, c.mode == CEILING,
                                c.mode == HALF_CEILING);
        });
        EXPECT_EQ(o.error.empty() ? exact(o.value) : o.error, c.expect) << "case " << i;
    }
}

TEST_F(Money, SignsParityAndUnary) {
    Cell z = M("-$0"), n = M("-$3"), p = M("$2.99999");
    EXPECT_EQ(money::sign(&z), 0);
    EXPECT_FALSE(money::negative_q(&z));
    EXPECT_TRUE(money::zero_q(&z));
    EXPECT_EQ(money::sign(&n), -1);
    EXPECT_TRUE(money::positive_q(&p));
    EXPECT_TRUE(money::odd_q(&n));
    EXPECT_TRUE(money::even_q(&p));
    Outcome a = run({n}, [] { money::absolute(); return nullptr; });
    EXPECT_EQ(exact(a.value), "$3.00000");
    Outcome g = run({p}, [] { return money::negate(stack::arg(0)); });
    EXPECT_EQ(exact(g.value), "-$2.99999");
    Cell c = M("$1");
    money::set_currency(&c, uint8_t(system_settings::find_currency("JPY")));
    money::set_sign(&c, true);
    EXPECT_EQ(exact(c), "-JPY$1.00000");
    EXPECT_TRUE(money::get_sign(&c));
    Cell usd = word("Usd");
    EXPECT_EQ(money::find_currency(&usd), system_settings::find_currency("USD"));
    EXPECT_EQ(system_settings::find_currency("XYZ"), -1);
    EXPECT_EQ(system_settings::currencies.size(), 170u);
}

TEST_F(Money, Paths) {
    Cell m = M("-USD$12.5"), plain = M("$3");
    auto path = [](Cell value, Cell element, const Cell* set) {
        return run({value}, [&] { return money::eval_path(testing::path_step(&element, set)); });
    };
    Outcome code = path(m, word("code"), nullptr);
    ASSERT_TRUE(code.value.is(T_WORD));
    EXPECT_EQ(symbol::name(cells::word_symbol(code.value)), "USD");
    EXPECT_EQ(exact(path(m, word("amount"), nullptr).value), "-$12.50000");
    EXPECT_EQ(exact(path(m, I(2), nullptr).value), "-$12.50000");
    EXPECT_TRUE(path(plain, I(1), nullptr).value.is(T_NONE));
    EXPECT_EQ(path(m, word("cents"), nullptr).error, "script/invalid-path");
    Cell five = I(5);
    EXPECT_EQ(path(m, word("amount"), &five).error, "script/bad-path-set");
    Outcome p = run({m}, [] { return money::pick(stack::arg(0), 2, nullptr); });
    EXPECT_EQ(exact(p.value), "-$12.50000");
    EXPECT_EQ(run({m}, [] { return money::pick(stack::arg(0), 3, nullptr); }).error,
              "script/out-of-range");
}

TEST_F(Money, Random) {
    Cell bound = M("-EUR$123.45");
    random::seed(11);
    bool below_seen = false;
    for (int i = 0; i < 300; ++i) {
        Outcome o = run({bound}, [] { return money::random(stack::arg(0), false, false, false); });
        ASSERT_EQ(o.error, "");
        money::Amount a = money::read(&o.value);
        EXPECT_TRUE(a.negative);
        EXPECT_EQ(a.currency, money::read(&bound).currency);
        i128 v = to_scaled(o.value);
        EXPECT_LE(-v, 12345000);
        EXPECT_GE(-v, 0);
        below_seen = below_seen || -v < 10000000;
    }
    EXPECT_TRUE(below_seen);
    auto draw = [&] {
        run({bound}, [] { return money::random(stack::arg(0), true, false, false); });
        return run({bound}, [] { return money::random(stack::arg(0), false, false, false); }).value;
    };
    EXPECT_EQ(exact(draw()), exact(draw()));
}

}  // namespace
}  // namespace kov
