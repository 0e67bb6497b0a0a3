// The word and context natives: get, set, unset, value?, context?, bind, in, construct and
// extend. They read and write the values of words in their contexts and move words between
// contexts; each follows the natives' calling convention (core/runtime.hpp: NativeFn).
#pragma once

namespace kov::natives::words {

// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::words
