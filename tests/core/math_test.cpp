// Number helpers: decimal text of doubles and degree reduction.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "core/math.hpp"

namespace kov {
namespace {

struct FormCase {
    double value;
    int32_t digits;
    bool point_zero;
    const char* text;
};

TEST(Math, FormDecimalLayouts) {
    const double inf = std::numeric_limits<double>::infinity();
    const FormCase cases[] = {
        // Exponent notation from 10^17 up and below 10^-6.
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e16, 0, false, "10000000000000000"},
        {12345678901234567.0, 0, true, "12345678901234568.0"},
        {1.2345678901234567e17, 0, true, "1.2345678901234566e17"},
        {-1e20, 0, true, "-1.0e20"},
        {1.5e300, 0, false, "1.5e300"},
        {5e-324, 0, true, "5.0e-324"},
        {5e-324, 0, false, "5e-324"},
        {0.0000001, 0, true, "0.0000001"},
        {1.5e-7, 0, false, "0.00000015"},
        {0.00000001, 0, true, "1.0e-8"},
        {0.00000001, 0, false, "1e-8"},
        {-2.5e-9, 0, true, "-2.5e-9"},
        // Fixed notation.
        {0.5, 0, true, "0.5"},
        {0.000001, 0, true, "0.000001"},
        {100, 0, true, "100.0"},
        {100, 0, false, "100"},
        {1, 0, true, "1.0"},
        {123.45, 0, true, "123.45"},
        {-123.45, 0, false, "-123.45"},
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {1234.5, 0, true, "1234.5"},
        // The generator's own texts.
        {inf, 0, true, "1.#INF"},
        {-inf, 0, false, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {-std::nan(""), 0, true, "1.#NaN"},
        {0.0, 0, false, "0.0"},
        {-0.0, 0, true, "-0.0"},
        // At most six digits after the point (time! seconds).
        {3.5, 6, false, "3.5"},
        {3.0000001, 6, false, "3"},
        {59.9999999, 6, false, "60"},
        {59.9999999, 6, true, "60.0"},
        {0.1234567, 6, false, "0.123457"},
        {1.0000015, 6, false, "1.000001"},  // the double lies just below the half
        {1.0000035, 6, false, "1.000004"},  // and this one just above
        {-3.25, 6, false, "-3.25"},
        {2.5e-7, 6, false, "0.0"},
        {-2.5e-7, 6, false, "-0.0"},
        {0.000001, 6, false, "0.000001"},
        // Money's 22 digits keep the shortest digits.
        {0.1, 22, true, "0.1"},
        {123.456, 22, true, "123.456"},
        {1e-25, 22, true, "0.0"},
    };
    for (const auto& c : cases) {
        auto t = math::form_decimal(c.value, c.digits, c.point_zero);
        EXPECT_EQ(t.view(), c.text) << c.value << " " << c.digits << " " << c.point_zero;
        EXPECT_EQ(std::strlen(t.c_str()), t.length);
    }
}

TEST(Math, FormDecimalReadsBackAsTheSameDouble) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, 8);
        if (!std::isfinite(x)) continue;
        for (bool flag : {false, true}) {
            auto t = math::form_decimal(x, 0, flag);
            double back = 0;
            auto r = std::from_chars(t.text, t.text + t.length, back);
            ASSERT_EQ(r.ptr, t.text + t.length) << t.c_str();
            ASSERT_EQ(std::memcmp(&back, &x, 8), 0) << t.c_str();
        }
    }
}

TEST(Math, DecimalDigitsOfTheGenerator) {
    auto d = math::decimal_digits(123.45, 0);
    EXPECT_EQ(std::string(d.digits, size_t(d.count)), "12345");
    EXPECT_EQ(d.exponent, 3);
    EXPECT_FALSE(d.negative);
    d = math::decimal_digits(-0.00125, 0);
    EXPECT_EQ(std::string(d.digits, size_t(d.count)), "125");
    EXPECT_EQ(d.exponent, -2);
    EXPECT_TRUE(d.negative);
    d = math::decimal_digits(99.9999996, 6);  // rounds up into a new digit
    EXPECT_EQ(std::string(d.digits, size_t(d.count)), "1");
    EXPECT_EQ(d.exponent, 3);
    d = math::decimal_digits(std::numeric_limits<double>::infinity(), 0);
    EXPECT_EQ(d.exponent, 9999);
    EXPECT_STREQ(d.special, "1.#INF");
}

struct DegreeCase {
    double x;
    int32_t mode;
    double degrees;  // after reduction
};

TEST(Math, NormalizeDegrees) {
    using math::DEGREES_COSINE;
    using math::DEGREES_SINE;
    using math::DEGREES_TANGENT;
    const DegreeCase cases[] = {
        {150, DEGREES_SINE, 30},
        {135, DEGREES_TANGENT, -45},
        {135, DEGREES_COSINE, 135},
        {-190, DEGREES_COSINE, 170},
        {-190, DEGREES_SINE, 10},
        {-190, DEGREES_TANGENT, -10},
        {-135, DEGREES_SINE, -45},
        {-135, DEGREES_TANGENT, 45},
        {30, DEGREES_SINE, 30},
        {30, DEGREES_TANGENT, 30},
        {360, DEGREES_SINE, 0},
        {765, DEGREES_SINE, 45},
        {-765, DEGREES_COSINE, -45},
        {180, DEGREES_SINE, 0},
        {-180, DEGREES_SINE, 0},
        {180, DEGREES_TANGENT, 0},
        {270, DEGREES_COSINE, -90},
        {90, DEGREES_TANGENT, 90},
        {-90, DEGREES_SINE, -90},
        {200, DEGREES_COSINE, -160},
        {200, DEGREES_SINE, -20},
    };
    for (const auto& c : cases) {
        double r = math::normalize_degrees(c.x, c.mode);
        EXPECT_DOUBLE_EQ(r, c.degrees * 3.141592653589793 / 180.0) << c.x << " mode " << c.mode;
    }
    EXPECT_TRUE(std::isnan(math::normalize_degrees(std::numeric_limits<double>::infinity(), 2)));
}

}  // namespace
}  // namespace kov
