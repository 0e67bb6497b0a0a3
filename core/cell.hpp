// Operations on single cells, and the support routines that library code calls instead of going
// through the interpreter: argument type checks, refinement set-up, the case search of switch.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::cell {

inline void set_type(Cell* c, uint32_t type) { c->header = (c->header & ~CELL_TYPE_MASK) | type; }
inline void clear_new_line(Cell* c) { c->header &= ~CELL_NEW_LINE; }
inline Cell* copy(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

// The 32-bit integer of an integer! cell, or a float! truncated toward zero; floats outside the
// 32-bit range and NaN raise script error out-of-range.
int32_t integer_arg(const Cell* c);
// Appends n copies of four spaces to a string.
void mold_indent(Cell* out, int32_t n);
// The search of a case block used by switch: see the routine's comment.
void switch_find(bool push, bool to_block);

// Typeset membership: byte (t >> 3) of the 12 data bytes, bit 0x80 >> (t & 7).
inline bool typeset_has(const Cell* typeset, uint32_t t) {
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->data1, 12);
    return t < 96 && (bytes[t >> 3] & (0x80 >> (t & 7)));
}

}  // namespace kov::cell

namespace kov::stack {

// Argument checks for library code; failures raise script error expect-arg with the current
// function's name, the value's datatype and the parameter's word.
const Cell* check_type(const Cell* typeset, int32_t param, const Cell* value);
void check_arg_type_at(int32_t arg_index, const Cell* typeset, int32_t param);
const Cell* check_refinement_arg_type(const Cell* refinement, const Cell* typeset, int32_t param,
                                      const Cell* value);
const Cell* check_not_unset(int32_t param, const Cell* value);
// A true logic value sets the refinement cell at arguments[index]; otherwise the `count` cells
// after it become none!.
void set_refinement_args(const Cell* logic, int32_t index, int32_t count);
// Script error bad-make-arg with the two values.
[[noreturn]] void raise_bad_make_arg(const Cell* value, const Cell* spec);

// The parameter word of the current function for argument errors (the word <anon> until
// function specs exist).
extern void (*param_word)(int32_t n, Cell* out);

}  // namespace kov::stack
