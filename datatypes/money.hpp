// money!: an exact decimal amount of 22 digits, 17 before the point and 5 after it, with a sign
// and an optional currency (type 49, no parent). Arithmetic is done digit by digit, never through
// binary floating point: exact add and subtract, multiply and divide truncated to 5 fraction
// digits, remainder, rounding, the text with grouping and the shown fraction digits, conversions
// from and to integer!, float! and text, comparison, random amounts and the action table.
//
// Cell bytes: 0-3 the header (bit 14, mask 0x4000: negative), 4 the currency (0 none, else the
// 1-based position of its code in the currency list), 5-15 the 22 digits, two per byte, high
// nibble first, the most significant digit first. The amount is that 22-digit integer / 100000.
// A zero amount is never negative, whatever its sign bit says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::money {

constexpr int DIGITS = 22, INT_DIGITS = 17, FRACTION_DIGITS = 5;
constexpr uint32_t NEGATIVE = 0x4000;

// An amount taken apart: digit[0] is the most significant.
struct Amount {
    uint8_t digit[DIGITS] = {};
    bool negative = false;
    uint8_t currency = 0;
};
Amount read(const Cell* c);
// Writes the amount as a money! cell (header flags other than the sign cleared).
Cell* write(Cell* c, const Amount& a);
bool zero_q(const Amount& a);
// 22 less the leading zero digits, at least 1.
int significant_digits(const Amount& a);

// ---- builders ----
// The integer digits (right-aligned at digit 17) and the fraction digits (from digit 18, at most
// 5, more dropped) of a text, "'" skipped in both; the currency code "" for none. False, the
// cell untouched, for an unknown code or more than 17 integer digits.
bool make_at(Cell* c, bool negative, std::string_view currency, std::string_view integer_digits,
             std::string_view fraction_digits);
// From the 11 packed digit bytes.
Cell* make_from_digits(Cell* c, bool negative, uint8_t currency, const uint8_t packed[11]);
Amount from_integer(int32_t n);
// x by its shortest decimal text; refused (script error bad-make-arg with money! and x) when it
// is not finite, when 0 < |x| < 0.00001 or |x| >= 1e17, or, when strict, when it has more than 5
// fraction digits (else they are truncated).
Amount from_float(double x, bool strict);
double to_float(const Amount& a);
// The integer part, fraction truncated; script error type-limit with integer! beyond 32 bits.
int32_t to_integer(const Amount& a);
// Reads a money text: [-|+][CODE]$digits[.digits], or a plain number; false when it is not one.
bool scan_text(std::string_view text, Cell* out);

// ---- signs and currencies ----
int32_t sign(const Cell* c);  // -1, 0, 1
inline bool negative_q(const Cell* c) { return sign(c) < 0; }
inline bool zero_q(const Cell* c) { return sign(c) == 0; }
inline bool positive_q(const Cell* c) { return sign(c) > 0; }
inline bool get_sign(const Cell* c) { return (c->header & NEGATIVE) != 0; }
void set_sign(Cell* c, bool negative);
void set_currency(Cell* c, uint8_t currency);
// The 1-based position of a currency word's code in the list, case ignored, or -1.
int32_t find_currency(const Cell* word);
// Not strict: either has no currency or both have the same. Strict: the same (none included).
bool same_currency_q(const Amount& a, const Amount& b, bool strict);

// ---- arithmetic ----
// Each answers false on overflow (the result is then undefined).
bool add(const Amount& a, const Amount& b, Amount& out);
bool subtract(const Amount& a, const Amount& b, Amount& out);
bool multiply(const Amount& a, const Amount& b, Amount& out);
// Quotient with 5 fraction digits (truncated), or the remainder (sign of a). b must not be zero.
bool divide(const Amount& a, const Amount& b, Amount& out, bool remainder);
// The arithmetic entry for add 0, subtract 1, multiply 2, divide 3, remainder 4: argument 0 op
// argument 1, either a money! or a number; the result in argument 0.
Cell* do_math(int op);
// Signed amounts compared: -1, 0, 1.
int32_t compare_amounts(const Amount& a, const Amount& b);

// ---- text ----
// form groups the digits with "'", mold does not; all writes the 5 fraction digits.
std::string text(const Cell* value, bool grouped, bool all);

// ---- actions ----
void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void absolute();
Cell* negate(Cell* value);
// Rounds to a multiple of the scale (1, or the /to money!, integer! or strictly converted float!);
// an exact half is a remainder of half the scale, and /even then takes the even multiple.
Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
void add_action();
void subtract_action();
void multiply_action();
void divide_action();
void remainder_action();

}  // namespace kov::money
