// The numeric natives that are not datatype actions: sign tests (negative?, positive?, sign?,
// zero?), max and min, shift, to-hex, trigonometry in degrees or radians, logarithms, exp,
// square-root and NaN?. Floats are 64-bit IEEE values; no domain checks are made, so NaN and
// the infinities come back as float! results.
#pragma once

#include <cstdint>

namespace kov::natives::math_natives {

// The bit shift of shift: a negative count counts as 0; left (tested first) and logical shifts
// give 0 past 31 bits; an arithmetic right shift past 31 bits gives -1 for a negative data, else 0.
int32_t shift(int32_t data, int32_t bits, bool left, bool logical);

// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::math_natives
