// Operator fast paths: arithmetic, comparison, integer path access and series navigation on
// operand cells, for the interpreter's operator calls and for library code. Each handles the
// common case inline (two integers, two floats, a block) without allocating or pushing a frame;
// every other case pushes a native frame named by the operator's `word` (so that errors name the
// operator), pushes the operands and runs the action's front-end, whose errors and semantics
// then apply. A pending transfer answered by a front-end leaves through stack::raise_pending.
//
// Operands may be argument-stack cells (the top variants take the left operand from the top
// cell); `word` may be null (an anonymous frame).
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::actions {

// Math codes accepted: OP_ADD, OP_SUB, OP_MUL, OP_OR, OP_AND, OP_XOR (anything else is fatal
// runtime error 101). Two integers compute in 32 bits; add, subtract and multiply overflow to
// the float! of the exact result. Two floats (math_op only, add/subtract/multiply) give a float!.
void math_op(int32_t code, const Cell* word, const Cell* left, const Cell* right);  // pushes
void math_op_int(int32_t code, const Cell* word, const Cell* left, int32_t right);  // pushes
void math_op_top(int32_t code, const Cell* word, const Cell* right);  // replaces the top cell
void math_op_top_int(int32_t code, const Cell* word, int32_t right);  // replaces the top cell

// Compare codes: COMP_EQUAL .. COMP_GREATER_EQUAL on two integers (== as =); the generic path
// passes any code to compare_to_logic.
void compare_op(int32_t code, const Cell* word, const Cell* left, const Cell* right);  // pushes
void compare_op_int(int32_t code, const Cell* word, const Cell* left, int32_t right);  // pushes
// The truth XOR `polarity`; leaves nothing on the stack.
bool compare_op_test(int32_t code, const Cell* word, const Cell* left, const Cell* right,
                     bool polarity);
bool compare_op_test_int(int32_t code, const Cell* word, const Cell* left, int32_t right,
                         bool polarity);
// The truth, also written as logic! into the current frame's result slot (arguments[0]).
bool compare_op_set(int32_t code, const Cell* word, const Cell* left, const Cell* right);
bool compare_op_set_int(int32_t code, const Cell* word, const Cell* left, int32_t right);
// The logic! replaces the top cell (the left operand).
void compare_op_top(int32_t code, const Cell* word, const Cell* right);
void compare_op_top_int(int32_t code, const Cell* word, int32_t right);

// value/n: for a block!, the value at index + n - 1 when 1 <= n <= its length from the index,
// else none!; other datatypes through eval-path. Pushes the element.
void pick_path_int(const Cell* value, int32_t n, const Cell* word);

// Series navigation codes.
enum SeriesOp : int32_t {
    SOP_LENGTH_Q = 1, SOP_INDEX_Q, SOP_HEAD_Q, SOP_TAIL_Q, SOP_NEXT, SOP_BACK, SOP_HEAD, SOP_TAIL
};
// Pushes the result of the navigation action `code` on the value (fatal 101 for another code).
void series_op(const Cell* value, int32_t code, const Cell* word);

}  // namespace kov::actions
