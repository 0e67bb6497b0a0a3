// char!: one Unicode code point as a value (data2 the code point, 0..0x10FFFF). It converts from
// text, numbers and UTF-8 bytes, forms as itself, molds through the string escape routine, and
// computes with the integer arithmetic, every result staying a char! in range.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::character {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

// Registers char! (parent integer!). Run after integer!.
void init();

inline Cell make_cell(uint32_t cp) { return Cell{T_CHAR, 0, cp, 0}; }
// Pushes a char! on the argument stack; answers the new cell.
Cell* push(uint32_t cp);
// Appends a char! at the tail of the block (rooted); answers the cell (good until the next
// allocation).
Cell* make_in(const Cell* block, uint32_t cp);

// ---- handlers ----

// make and to: the char! a text's head, a number or UTF-8 bytes stand for (a static cell that
// the caller copies at once).
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// Argument 0 (a char!) op argument 1 (char!, integer! or float!, truncated); the result, always
// a char!, replaces argument 0. A result outside 0..0x10FFFF, or one that left the integers,
// raises math error overflow.
void do_math(int op);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_t();
void or_t();
void xor_t();

}  // namespace kov::character
