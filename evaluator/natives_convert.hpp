// The conversion natives: case change (uppercase, lowercase), URL percent coding (dehex,
// enhex), base-N coding (debase, enbase), the combining makers (as-pair, as-point2D,
// as-point3D, as-money), the series coercion `as`, and the new-line marker of list cells
// (new-line, new-line?). Each hands its work to the datatype routines that own the encoding.
#pragma once

#include <cstdint>

namespace kov::natives::convert {

// The characters enbase writes for n bytes in a base (2, 16, 58 or 64), computed without
// overflow; -1 for another base.
int64_t encoded_length(int base, uint64_t n);
// True when a float truncated toward zero is a 32-bit integer (false for NaN and infinities).
bool fits_int32(double d);

// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::convert
