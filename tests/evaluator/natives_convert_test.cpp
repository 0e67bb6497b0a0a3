// The conversion natives' size and range rules: the encoded length that enbase checks against
// the 32-bit limit, and the whole-number range that as-pair accepts from a float.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "datatypes/binary.hpp"
#include "evaluator/natives_convert.hpp"

namespace kov {
namespace {

using natives::convert::encoded_length;
using natives::convert::fits_int32;

TEST(NativesConvert, EncodedLengthByBase) {
    struct Case { int base; uint64_t n; int64_t want; };
    const Case cases[] = {
        {2, 0, 0},   {2, 1, 8},   {2, 3, 24},
        {16, 0, 0},  {16, 1, 2},  {16, 5, 10},
        {64, 0, 0},  {64, 1, 4},  {64, 2, 4}, {64, 3, 4}, {64, 4, 8},
        {58, 0, 1},  {58, 1, 2},
        {10, 4, -1}, {0, 1, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(encoded_length(c.base, c.n), c.want) << c.base << " " << c.n;
}

TEST(NativesConvert, EncodedLengthPastTheLimitIsSeenWithoutWrapping) {
    constexpr int64_t limit = std::numeric_limits<int32_t>::max();
    // The largest inputs each base can encode, and one byte more.
    EXPECT_LE(encoded_length(2, limit / 8), limit);
    EXPECT_GT(encoded_length(2, limit / 8 + 1), limit);
    EXPECT_LE(encoded_length(16, limit / 2), limit);
    EXPECT_GT(encoded_length(16, limit / 2 + 1), limit);
    EXPECT_LE(encoded_length(64, uint64_t(limit) / 4 * 3), limit);
    EXPECT_GT(encoded_length(64, uint64_t(limit) / 4 * 3 + 1), limit);
    EXPECT_GT(encoded_length(58, uint64_t(limit)), limit);
    // Sizes beyond 32 bits are not cut to their low word.
    EXPECT_GT(encoded_length(2, uint64_t(1) << 32), limit);
    EXPECT_GT(encoded_length(16, uint64_t(1) << 31), limit);
}

TEST(NativesConvert, Base58LengthBoundsTheEncoderOutput) {
    std::mt19937 gen(7);
    for (uint32_t n = 0; n < 80; n++) {
        for (int round = 0; round < 4; round++) {
            std::vector<uint8_t> in(n);
            for (auto& b : in) b = uint8_t(gen());
            if (round == 1) for (auto& b : in) b = 0xFF;
            if (round == 2) for (uint32_t i = 0; i < n / 2; i++) in[i] = 0;
            std::vector<uint8_t> out(binary::encoded_size(58, n) + 1);
            uint8_t* end = binary::encode_base58(out.data(), in.data(), n);
            EXPECT_LE(end - out.data(), encoded_length(58, n)) << n << " " << round;
        }
    }
}

TEST(NativesConvert, PairCoordinateRange) {
    struct Case { double d; bool fits; };
    const Case cases[] = {
        {0.0, true}, {-0.0, true}, {1.9, true}, {-1.9, true},
        {2147483647.0, true}, {2147483647.99, true}, {2147483648.0, false},
        {-2147483648.0, true}, {-2147483648.99, true}, {-2147483649.0, false},
        {1e10, false}, {-1e10, false}, {1e300, false},
        {std::numeric_limits<double>::infinity(), false},
        {-std::numeric_limits<double>::infinity(), false},
        {std::numeric_limits<double>::quiet_NaN(), false},
    };
    for (const Case& c : cases) EXPECT_EQ(fits_int32(c.d), c.fits) << c.d;
}

}  // namespace
}  // namespace kov
