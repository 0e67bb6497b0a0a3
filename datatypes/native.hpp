// native!, action! and op!: the values through which the language reaches the runtime's own
// routines, and the infix operators made from any function value of two arguments.
//
// native! and action! cell: data1 the 1-based number of the routine in its table (the natives
// table, evaluator/natives.hpp, for native!; the action front-ends, evaluator/actions.hpp, for
// action!); data2 the node of the spec block (shared with the make argument); data3 the node of
// a two-cell block: a context! cell of a context made from the spec (its word table names the
// arguments and refinements in spec order, so that a refinement is found by name), then the
// argument-list cache (none! until the interpreter fills it).
//
// op! cell: a copy of the value it was made from, with the header (source type << 16) | 23; for
// a source function! or routine! the source cell is also stored in the fourth cell of its extra
// block, where the interpreter finds the callable function.
//
// A native or action whose table entry is empty is refused: making one, or asking for its
// routine, raises internal error not-done.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::native {

constexpr uint32_t OP_SOURCE_SHIFT = 16;

// The type id of the value an op! was made from (21, 22, 24 or 29).
inline uint32_t op_source(const Cell* op) { return (op->header >> OP_SOURCE_SHIFT) & 0xFF; }

// The table routine of a native!, an action!, or an op! made from one; internal error not-done
// when its table entry is empty (or when the value has no table routine).
NativeFn routine(const Cell* value);
// Runs that routine on the current frame with the refinement parameters.
inline Status call(const Cell* value, const int32_t* refs) { return routine(value)(refs); }

// The slot of an argument or refinement of the value's spec by name (ignoring case; slots count
// the spec's words, get-words, lit-words and refinements from 0 in spec order), or -1. For an op!
// made from a function! or routine!, its context's slot.
int32_t find_word(const Cell* value, uint32_t symbol);

// True when the spec block (walked from the start of its buffer) describes exactly two
// arguments usable infix: the first a plain word, no refinement but /local or /extern before
// the end of the arguments.
bool valid_op_spec_q(Handle spec);

// ---- actions (the handler signatures of core/action_table.hpp) ----

// make native! and make action! from [spec index]; the result in the frame's result cell.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
// make op! from a native!, action!, function! or routine!; the result in the frame's result cell.
Cell* make_op(const Cell* proto, const Cell* spec, uint32_t type);
// spec and body; the result in the frame's result cell.
Cell* reflect(const Cell* value, const Cell* field);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// Registers native!, then action! and op! with native! as their parent.
void init();

}  // namespace kov::native
