// The natives that steer evaluation: conditionals and loops, break and continue, try, catch,
// throw, return and exit, the function makers, do and reduce, and print. Each follows the
// natives' calling convention (core/runtime.hpp: NativeFn).
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::natives {

namespace control {
// Registers the natives of this module in the natives table.
void init();
}  // namespace control

// Evaluates every expression of the block value (from its index) and appends each value to the
// block `into` (rooted) at its tail. Answers a pending transfer or normal.
Status reduce_into(const Cell* block, Cell* into);

// The count of loop and repeat: a float! is truncated toward zero; a NaN or a value outside the
// 32-bit range raises script error type-limit (integer!).
int32_t loop_count(const Cell* count);

}  // namespace kov::natives
