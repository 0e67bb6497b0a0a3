// The bit shift behind the shift native: arithmetic, logical and left shifts, counts outside
// 0..31 and the extreme integers.
#include <gtest/gtest.h>

#include <cstdint>

#include "evaluator/natives_math.hpp"

namespace kov {
namespace {

struct ShiftCase {
    int32_t data, bits;
    bool left, logical;
    int32_t expected;
};

TEST(NativesMath, Shift) {
    constexpr int32_t MIN = INT32_MIN, MAX = INT32_MAX;
    const ShiftCase cases[] = {
        // arithmetic right shift keeps the sign
        {8, 1, false, false, 4},
        {-8, 1, false, false, -4},
        {-1, 40, false, false, -1},
        {5, 40, false, false, 0},
        {-7, 31, false, false, -1},
        {7, 31, false, false, 0},
        {MIN, 31, false, false, -1},
        {MIN, 32, false, false, -1},
        {MAX, 30, false, false, 1},
        // a negative count counts as 0
        {1, -3, false, false, 1},
        {-9, MIN, false, false, -9},
        {3, -1, true, false, 3},
        {3, -1, false, true, 3},
        // logical right shift fills with zeros
        {-8, 1, false, true, 2147483644},
        {MIN, 31, false, true, 1},
        {-1, 32, false, true, 0},
        {-1, 0, false, true, -1},
        // left shift wraps into the sign bit and gives 0 past 31
        {1, 31, true, false, MIN},
        {1, 32, true, false, 0},
        {-1, 4, true, false, -16},
        {MAX, 1, true, false, -2},
        {1, MAX, true, false, 0},
        // left is tested before logical
        {1, 4, true, true, 16},
        {-1, 40, true, true, 0},
    };
    for (const ShiftCase& c : cases)
        EXPECT_EQ(natives::math_natives::shift(c.data, c.bits, c.left, c.logical), c.expected)
            << c.data << " " << c.bits << " left=" << c.left << " logical=" << c.logical;
}

}  // namespace
}  // namespace kov
