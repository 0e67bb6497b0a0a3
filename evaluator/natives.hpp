// The natives table: the entry routine of every native by its 1-based number. A native! value
// names its entry by that number (core/value cells hold no machine addresses). The evaluator
// fills slots 1 to 107 at start-up; slots 108 to 120 stay empty, and an empty slot is never
// called (datatypes/native.hpp refuses it with internal error not-done).
#pragma once

#include "core/runtime.hpp"

namespace kov::natives {

constexpr int TABLE_SIZE = 120;
constexpr int COUNT = 107;  // the slots that start-up fills

// The numbers of the conditionals, which the interpreter calls on a road of their own, and of
// return, which a function's body ends on one.
constexpr uint32_t NATIVE_IF = 1, NATIVE_UNLESS = 2, NATIVE_EITHER = 3, NATIVE_RETURN = 80;

// Entry n - 1 holds native number n; null while it is not registered.
inline NativeFn table[TABLE_SIZE] = {};

// Empties the table, then registers every native built (start-up).
void init();

}  // namespace kov::natives
