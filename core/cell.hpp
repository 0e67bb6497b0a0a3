// Operations on single cells, and support routines that library code calls instead of going
// through the interpreter: integer arguments, mold indentation, the case search of switch.
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

// The first value of a text (make and to of several datatypes from a string!): the text is
// loaded one value deep into a block. Answers &scan_failure when the lexer stopped before the
// end of the text; otherwise the first value of the block, or `out` turned unset! for an empty
// text. `out` rooted. Raises internal not-done until the lexer is set up.
extern const Cell scan_failure;
const Cell* scan_first_value(const Cell* text, Cell* out);
// The same into the result slot of the current frame (the failure marker is answered as is).
const Cell* scan_first_value_to_result(const Cell* text);
// The lexer's service behind scan_first_value: loads the text into a block (out, rooted) and
// stores the characters it consumed.
extern bool (*scan_string_hook)(Cell* out_block, const Cell* text, int32_t* consumed);

// Typeset membership: byte (t >> 3) of the 12 data bytes, bit 0x80 >> (t & 7).
inline bool typeset_has(const Cell* typeset, uint32_t t) {
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->data1, 12);
    return t < 96 && (bytes[t >> 3] & (0x80 >> (t & 7)));
}

}  // namespace kov::cell
