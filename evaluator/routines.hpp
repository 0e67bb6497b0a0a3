// The routine table: the C++ routines that routine! values run. A routine! cell never holds a
// machine address; it names its routine by a 1-based index into this table, kept as an
// integer! in the value's extra block. A routine reads its arguments from the current frame of
// the argument stack and leaves its result in arguments[0].
#pragma once

#include <cstdint>

namespace kov::routines {

using Fn = void (*)();

constexpr int32_t CAPACITY = 1024;

// Enters a routine; answers its index (1-based), or 0 when the table is full.
int32_t add(Fn fn);
// The routine at an index, or null for an index outside the entries made.
Fn at(int32_t index);
// Entries in use.
int32_t count();
// Empties the table.
void reset();

}  // namespace kov::routines
