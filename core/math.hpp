// Number helpers shared by the numeric datatypes and the trigonometric natives: the decimal text
// of a 64-bit float in fixed or exponent notation, and the reduction of an angle in degrees.
// Text never depends on the C locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace kov::math {

// The decimal digits of a double: value = 0.d1 d2 ... dn x 10^exponent, with d1 not 0 and no
// trailing zeros. For zero, infinities and NaN, `special` holds the text ("0.0", "-0.0", "1.#INF",
// "-1.#INF", "1.#NaN") and the exponent is 9999.
struct DecimalDigits {
    char digits[24];
    int32_t count;
    int32_t exponent;
    bool negative;
    const char* special;
};

// The digit generator. `places` 0 (or less) gives the shortest digits that read back as the
// same double; `places` above 0 gives those same shortest digits when they need at most that
// many digits after the decimal point, and otherwise the value correctly rounded to `places`
// digits after the point (a value that rounds to zero then gives the special "0.0" or "-0.0").
DecimalDigits decimal_digits(double value, int32_t places);

// A NUL-terminated text held by value.
struct DecimalText {
    char text[48];
    uint32_t length;
    const char* c_str() const { return text; }
    std::string_view view() const { return {text, length}; }
};

// The decimal text of a double: exponent notation ("1.5e-8", "1.0e17") for exponents of 18 and
// above or below -6, else fixed notation; with point_zero, a whole number gets ".0" ("100.0",
// "1.0e17") and without it none ("100", "1e17").
DecimalText form_decimal(double value, int32_t digit_count, bool point_zero);

// Trigonometric function kinds of normalize_degrees.
enum DegreeMode : int32_t { DEGREES_TANGENT = 0, DEGREES_COSINE = 1, DEGREES_SINE = 2 };

// Reduces an angle in degrees for the trigonometric function of the mode and answers it in radians.
double normalize_degrees(double x, int32_t mode);

}  // namespace kov::math
