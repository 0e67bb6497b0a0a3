// float!: the 64-bit IEEE number, whose cell percent! and time! share. Cell routines, the float
// arithmetic every numeric type falls back on, equality within a tolerance, rounding,
// conversions, random numbers, the text forming routine of every float-based value, and the
// action routines of the type, ready for its action table.
//
// Cell: data2-data3 hold the double, low word in data2; data1 carries nothing. Float arithmetic
// never traps: division by zero gives an infinity and an invalid operation a NaN.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::float_ {

// ---- cells ----

// Header float! (flags clear) and the value.
Cell* make_at(Cell* c, double value);
Cell* make_in(const Cell* block, double value);
Cell* push(double value);
Cell* push_parts(uint32_t high, uint32_t low);
// Writes a float! into the current call's result cell (argument 0).
Cell* box(double value);
inline double get(const Cell* c) { return c->get_float(); }

// ---- helpers ----

// x with its sign bit cleared.
double abs(double x);
// True only for a NaN (infinities give false).
bool special_q(double x);
// True when the 32-bit float differs from itself.
bool nan_q(float x);

// The conversion of a double to a 32-bit integer wherever the language truncates without a
// range test (even? and odd?, time! seconds, a rounded result with an integer! scale, the
// exponent of an [m e] block): the value truncated toward zero, and -2147483648 for NaN and for
// every value outside the 32-bit range, as the x86 truncating conversion gives.
int32_t to_int32_unchecked(double x);

// The largest finite double, which rounding refuses as a result.
constexpr double MAX_FINITE = 1.7976931348623157e308;
// Differences below this count as equality and form as zero while pretty printing.
constexpr double EPSILON = 2.220446049250313e-16;

// ---- forming ----

// What the text is for: 0 a 32-bit vector! element, 1 float!, 2 a 32-bit vector! percent
// element (already times 100), 3 percent! (already times 100), 4 time! seconds, 5 a point
// coordinate.
enum FormMode : int {
    FORM_VECTOR32 = 0, FORM_FLOAT, FORM_VECTOR32_PERCENT, FORM_PERCENT, FORM_TIME, FORM_POINT
};

struct Text {
    char text[40];
    uint32_t length;
    const char* c_str() const { return text; }
    std::string_view view() const { return {text, length}; }
};
// The text of a number for a mode; infinities and NaN give "1.#INF", "-1.#INF", "1.#NaN".
Text form_float(double x, int mode);

// On at start: near-zero values form as zero and 16-digit texts ending in 01 or 99 are printed
// again with fewer digits.
extern bool pretty_print_q;

// ---- arithmetic and comparison ----

// One IEEE step: add, subtract, multiply, divide, remainder (fmod; a quiet NaN for a NaN divisor
// or an infinite dividend; a finite dividend by an infinite divisor is itself). or~, and~ and
// xor~ raise script error cannot-use.
double do_math_op(double a, double b, int op);
// The float arithmetic: argument 0 (integer!, float!, percent! or time!) op argument 1; the
// result replaces argument 0, typed time! when either operand is time!, else percent! when the
// left one is, else float!.
Cell* do_math(int op);
// Equality for = and <>: not NaN, and equal, closer than EPSILON, or at most 10 doubles apart.
bool equal_within(double a, double b);

// The random draw for a value x: x times a uniform fraction, from the generator or, with secure,
// from two secure 31-bit draws.
double random_draw(double x, bool secure);

// Equality of two 32-bit float components (the point types): not NaN, and equal, or both finite
// and at most 10 representable floats apart (zeros of either sign alike), or both infinite or at
// the largest magnitudes with one sign and magnitude bits less than 0x100000 apart.
bool almost_equal32(float a, float b);

// The rounding of a number x to a multiple of scale s, by an integer::RoundMode.
double round_to(double x, double s, int mode);

// Reads the text of a number: optional sign, digits, optional fraction and exponent; false when
// the text is anything else (an empty text included).
bool scan_text(std::string_view text, double& out);

// ---- path support shared by the scalar types with fields (time!, pair!, the points, tuple!) ----

// Pushes a field's value and answers it (the result of a path read).
Cell* push_field(const Cell& value);
// After a path store into step.value: pushes the stored value as the result and, when the step
// asks for it, tells the owner of the path: an object! through context::fire_on_change_hook (the
// field word, the old value and the new), any other container through ownership::check with the
// word set-path and the element's position.
Cell* finish_path_set(const PathStep& step, const Cell& old_value);

// ---- actions (result in argument 0 unless said otherwise) ----

// Registers float! with its action table (percent! and time! register after it).
void init();

// make and to of float!, percent! and time!: `type` is the result's type. Writes argument 0 and
// answers it.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
// The draw (or unset! after /seed) in argument 0, answered.
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// value is argument 0; scale is the /to argument, or null without /to. Answers value.
Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling);
void power();  // argument 0 base, argument 1 exponent; the base's type is kept
void absolute();
// In place on the value, answered.
Cell* negate(Cell* value);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
void add();
void subtract();
void multiply();
void divide();
void remainder();

}  // namespace kov::float_
