// Routines shared by the math and loop natives and by library code: argument conversions of the
// trigonometric natives, the max/min core, loop counts, assigning a block of words, and the
// per-iteration steps of foreach, forall, remove-each and repeat.
//
// Loop state for the foreach and forall steps lives in the two cells just below the current
// frame base: the series at arguments[-2] (its index advances as the loop goes) and the loop
// word, or the block of loop words, at arguments[-1].
//
// Everything here may allocate or run Kov code (a change handler of an object, a pick): cells
// passed in must not move (argument-stack cells or rooted ones).
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::natives {

// ---- numeric arguments ----

// The frame's first argument as a float!: an integer! converted in place, a percent! retyped;
// anything else left as it is. Answers the cell.
Cell* float_arg();
// float_arg, then without /radians the angle in degrees is reduced for the function of `mode`
// (math::DegreeMode) and converted to radians.
void degrees_to_radians(bool radians, int32_t mode);
// Arc functions of the frame's first argument, result in arguments[0]: kind 2 arcsine, 1
// arccosine, 0 arctangent (another kind: fatal runtime error 101); without /radians the result is
// in degrees.
enum ArcKind : int32_t { ARC_TANGENT = 0, ARC_COSINE = 1, ARC_SINE = 2 };
void arc_function(bool radians, int32_t kind);

// The max (max_q) or min of the frame's two arguments into arguments[0]. A NaN float or percent
// beside a number wins; a number beside a pair!, point2D!, point3D! or tuple! is compared with
// each component; compound values of the same shape go component by component (a pair! meeting a
// point2D! or a float that is not whole becomes a point2D!); anything else goes through
// actions::compare with <, max keeping the first of equal values and min taking the second.
// A float outside the integer range met as an integer component raises type-limit.
void max_min(bool max_q);

// ---- loop counts ----

// A float! count becomes an integer! by truncation toward zero (type-limit when out of range);
// other values are left as they are.
void loop_count(Cell* count);
// loop_count on the frame's first argument (loop, repeat).
void loop_count_arg();

// ---- assigning words ----

// Sets word i (of the block `words` from its index) to value i (of the block `values` from its
// index; none! past its tail) for i < count. A target that is not a word!, set-word!, get-word!
// or lit-word! raises invalid-arg with it; without `any` an unset! value raises need-value with
// the word; with `some` a none! value leaves its word as it is.
void set_words_from_block(const Cell* words, const Cell* values, int32_t count, bool any, bool some);
// Sets word i to the element i + 1 of the series from its index (the series' pick), for i < count.
void set_words_from_series(const Cell* words, const Cell* series, int32_t count);

// ---- loop steps ----

// Whether an element remains at the series' index.
bool foreach_more_q(const Cell* series);
// When an element remains: the loop word gets it, the series index advances by 1; true. Else
// false and nothing changes.
bool foreach_step();
// The same for a block of n loop words: the next n elements (none! past the tail), then the index
// advances by n; a map! takes one key and value for exactly two words (invalid-arg with the word
// block for another count).
bool foreach_step_multi(int32_t n);
// Advances the loop series by one element when asked, then answers whether it is at its tail.
bool forall_loop_q(bool advance);
// The loop word gets the loop series at its current index.
void forall_step();
// After a remove-each iteration over `count` elements: when `result` is truthy, those elements
// (just before the series index) are removed, and the index stays on the element after them.
void remove_each_step(int32_t count, const Cell* result);
// The integer! value of the word goes up by one (in an object, through its change handler).
void repeat_step(Cell* word);

}  // namespace kov::natives
