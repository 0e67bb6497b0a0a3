// pair!: a two-dimensional integer coordinate or size written x "x" y (10x-20), type 37, no
// parent. Arithmetic per coordinate with the integer! rules, moving to point2D! whenever a result
// would not be a whole 32-bit number; path access by x and y, pick, reverse, rounding.
//
// Cell: data2 x and data3 y, each a signed 32-bit integer; data1 carries nothing.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::pair {

// ---- cells ----
Cell* make_at(Cell* c, int32_t x, int32_t y);  // type byte 37, flags kept
Cell* make_in(const Cell* block, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);
inline int32_t x(const Cell* c) { return int32_t(c->data2); }
inline int32_t y(const Cell* c) { return int32_t(c->data3); }

// ---- helpers ----
// Argument 0 (a pair!) op argument 1; the result replaces argument 0. Called by the arithmetic
// actions and by integer! and float! arithmetic after they exchanged their operands.
Cell* do_math(int op);
// Argument i of the current call (a pair!) becomes a point2D! in place.
void arg_to_point2d(int i);
// 1 for x, 2 for y (case ignored); another word raises script error cannot-use (word, value)
// when value is a pair!, else invalid-path (value, word).
int32_t field_index(const Cell* word, const Cell* value);
// An integer!'s value, or a float-based value truncated toward zero (unchecked).
int32_t number_to_int(const Cell* c);
// Reads the first value of a text as a pair ([-]digits "x" [-]digits); false when it is not one.
bool scan_text(std::string_view text, int32_t& x, int32_t& y);

// ---- actions ----
void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);  // make and to, into argument 0
Cell* random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
Cell* eval_path(const PathStep& step);
// Ordered by x, then y; a point2D! is compared through a point2D! copy of the pair.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void absolute();
Cell* negate(Cell* value);  // math overflow for a coordinate of -2147483648
Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
Cell* reverse(Cell* value, const Cell* part, const Cell* skip);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_t();
void or_t();
void xor_t();

}  // namespace kov::pair
