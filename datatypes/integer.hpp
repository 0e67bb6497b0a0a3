// integer!: the 32-bit signed integer. Cell routines, the shared integer arithmetic step (with
// overflow into float! and inexact division into float!), rounding, conversions, forming and
// comparison, and the action routines of the type, ready for its action table.
//
// Cell: data2 holds the value as a signed 32-bit integer; data1 and data3 carry nothing.
// Every arithmetic step is free of undefined behaviour: overflow is detected with the compiler's
// checked builtins and reported as the language defines it.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"

namespace kov::integer {

// ---- cells ----

// Sets the type to integer! keeping the header's flag bits, and the value.
Cell* make_at(Cell* c, int32_t value);
// Appends an integer! at the tail of the block's series (header flags clear).
Cell* make_in(const Cell* block, int32_t value);
// Pushes an integer! on the argument stack.
Cell* push(int32_t value);
// Writes an integer! into the current call's result cell (argument 0).
Cell* box(int32_t value);
inline int32_t get(const Cell* c) { return int32_t(c->data2); }
// data2 of argument 0, without a type check.
int32_t get_arg();
// Argument 0's value when it is an integer!, else 0.
int32_t get_arg_if_integer();

// ---- helpers ----

inline int32_t sign(int32_t i) { return (i > 0) - (i < 0); }
// |i|; -2147483648 raises math overflow.
int32_t abs(int32_t i);
// True when the double cannot become an integer!: above 2147483647.0, below -2147483648.0,
// infinite or NaN.
bool overflow_q(double d);
// The same test on the double of a float!, percent! or time! cell.
bool overflow_q(const Cell* float_cell);

// Decimal text of a signed integer, in a buffer owned by the caller's copy.
struct Text {
    char text[12];
    uint32_t length;
    const char* c_str() const { return text; }
    std::string_view view() const { return {text, length}; }
};
Text form_signed(int32_t i);

// One arithmetic step under a math-op (OP_ADD ... OP_XOR). With a result cell r:
// an add, subtract or multiply that overflows, or a division with a remainder, makes r a float!
// holding the 64-bit result and answers 0; otherwise the result is also stored in r's data2 (its
// type byte untouched). Without r, division truncates and an overflowing add, subtract or
// multiply wraps. Divide or remainder by 0 raises math zero-divide, -2147483648 by -1 math
// overflow; an unknown op is fatal runtime error 101.
int32_t do_math_op(int32_t a, int32_t b, int op, Cell* r);
// The arithmetic entry: argument 0 (an integer!) op argument 1; the result replaces argument 0.
Cell* do_math(int op);

// The ways of rounding, in the order of precedence the refinements have when several are given.
enum RoundMode : int {
    ROUND_HALF_AWAY = 0,  // no refinement: half way goes away from zero
    ROUND_DOWN,           // toward zero
    ROUND_FLOOR,
    ROUND_CEILING,
    ROUND_EVEN,          // half way to the even multiple
    ROUND_HALF_DOWN,     // half way toward zero
    ROUND_HALF_CEILING,  // half way toward positive infinity
};
// The mode the refinements select: /down, /floor, /ceiling, /even, /half-down, /half-ceiling.
RoundMode round_mode(bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling);
// Rounds v to a multiple of scale s >= 0 (0 leaves v as it is). A rounding step away from zero
// that passes 2147483647 raises math overflow; a step toward zero never does.
int32_t round_to(int32_t v, int32_t s, RoundMode mode);
// Integer power for exponent >= 0; false when a product overflows.
bool int_power(int32_t base, int32_t exponent, int32_t& result);

// Conversions from other types.
int32_t from_issue(const Cell* issue);  // hexadecimal spelling, up to 8 digits
// Decimal text with an optional sign; false when it is not an integer or out of range.
bool scan_text(std::string_view text, int32_t& out);

// ---- actions (result in argument 0 unless said otherwise) ----

// Registers integer! with its action table.
void init();

// make and to write argument 0 and answer it.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
// The draw (or unset! after /seed) in argument 0, answered.
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// value is argument 0; scale is the /to argument, or null without /to. Answers value.
Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
           bool ceiling, bool half_ceiling);
void power();  // argument 0 base, argument 1 exponent
void absolute();
// In place on the value, answered.
Cell* negate(Cell* value);
Cell* complement(Cell* value);
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_t();
void or_t();
void xor_t();

}  // namespace kov::integer
