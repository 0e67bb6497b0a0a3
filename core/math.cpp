// Number helpers: the decimal layout of doubles on std::to_chars digits, and degree reduction.
#include "core/math.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kov::math {

namespace {

constexpr int32_t SPECIAL_EXPONENT = 9999;

DecimalDigits special(const char* text, bool negative) {
    DecimalDigits d{};
    d.count = 0;
    d.exponent = SPECIAL_EXPONENT;
    d.negative = negative;
    d.special = text;
    return d;
}

// Keeps the significant digits of `text` (decimal digits, any '.' skipped) in `d`, with
// `int_digits` the number of digits before the decimal point. Leading zeros lower the exponent;
// trailing zeros are dropped. Answers false when every digit is zero.
bool take_digits(DecimalDigits& d, const char* text, size_t length, int32_t int_digits) {
    d.count = 0;
    d.exponent = int_digits;
    bool leading = true;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') continue;
        if (leading && c == '0') {
            --d.exponent;
            continue;
        }
        leading = false;
        if (d.count < int32_t(sizeof d.digits)) d.digits[d.count++] = c;
    }
    while (d.count > 0 && d.digits[d.count - 1] == '0') --d.count;
    return d.count > 0;
}

void put(DecimalText& out, char c) {
    if (out.length + 1 < sizeof out.text) out.text[out.length++] = c;
}

void put(DecimalText& out, const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) put(out, s[i]);
}

}  // namespace

DecimalDigits decimal_digits(double value, int32_t places) {
    if (std::isnan(value)) return special("1.#NaN", false);
    bool negative = std::signbit(value);
    if (std::isinf(value)) return special(negative ? "-1.#INF" : "1.#INF", negative);
    if (value == 0) return special(negative ? "-0.0" : "0.0", negative);
    double a = std::fabs(value);

    // Shortest round-trip digits, as d.ddd e[+-]x.
    char sci[40];
    auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific);
    const char* e_at = static_cast<const char*>(std::memchr(sci, 'e', size_t(res.ptr - sci)));
    const char* x = e_at + 1;
    if (*x == '+') ++x;
    int sci_exponent = 0;
    std::from_chars(x, res.ptr, sci_exponent);
    DecimalDigits d{};
    d.negative = negative;
    d.special = nullptr;
    take_digits(d, sci, size_t(e_at - sci), 1);
    d.exponent += sci_exponent;

    if (places > 0 && d.count - d.exponent > places) {
        // More digits after the point than asked: round the value itself to `places` digits
        // after the point. Such a value is below 1e17, so its whole part has at most 17 digits.
        char fixed[400];
        auto fr = std::to_chars(fixed, fixed + sizeof fixed, a, std::chars_format::fixed, places);
        if (fr.ec == std::errc()) {
            size_t length = size_t(fr.ptr - fixed);
            const char* point = static_cast<const char*>(std::memchr(fixed, '.', length));
            int32_t int_digits = int32_t(point ? point - fixed : fr.ptr - fixed);
            if (!take_digits(d, fixed, length, int_digits))
                return special(negative ? "-0.0" : "0.0", negative);
        }
    }
    return d;
}

DecimalText form_decimal(double value, int32_t digit_count, bool point_zero) {
    DecimalText out{};
    out.length = 0;
    DecimalDigits d = decimal_digits(value, digit_count);
    if (d.exponent >= 9998) {
        put(out, d.special, std::strlen(d.special));
        out.text[out.length] = 0;
        return out;
    }
    if (d.negative) put(out, '-');
    int32_t e = d.exponent, n = d.count;
    if (e >= 18 || e < -6) {
        put(out, d.digits[0]);
        if (n > 1) {
            put(out, '.');
            put(out, d.digits + 1, size_t(n - 1));
        } else if (point_zero) {
            put(out, ".0", 2);
        }
        put(out, 'e');
        char exp[16];
        auto r = std::to_chars(exp, exp + sizeof exp, e - 1);
        put(out, exp, size_t(r.ptr - exp));
    } else if (e < 1) {
        put(out, "0.", 2);
        for (int32_t i = 0; i < -e; ++i) put(out, '0');
        put(out, d.digits, size_t(n));
    } else if (n <= e) {
        put(out, d.digits, size_t(n));
        for (int32_t i = n; i < e; ++i) put(out, '0');
        if (point_zero) put(out, ".0", 2);
    } else {
        put(out, d.digits, size_t(e));
        put(out, '.');
        put(out, d.digits + e, size_t(n - e));
    }
    out.text[out.length] = 0;
    return out;
}

double normalize_degrees(double x, int32_t mode) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x += x < 0 ? 360.0 : -360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == DEGREES_TANGENT) x += x < 0 ? 180.0 : -180.0;
        else if (mode == DEGREES_SINE) x = x < 0 ? -180.0 - x : 180.0 - x;
    }
    return x * 3.141592653589793 / 180.0;
}

}  // namespace kov::math
