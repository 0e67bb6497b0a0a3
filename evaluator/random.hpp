// The random generator: a 624-word Mersenne Twister run on signed 32-bit words (arithmetic right
// shifts, wrapping products), so that every draw is a 31-bit non-negative number; the ranged
// draw without modulo bias; and the secure source, which reads the operating system's generator
// (getrandom). Its start-up also sets the hash tables' process-wide seed.
//
// The sequence after a seed is fixed: seeding leaves the index at 0, so the first 624 draws
// temper the seeded words themselves and the first regeneration comes with draw 625. It is not
// the published MT19937 output for the same seed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kov::random {

constexpr int STATE_WORDS = 624;

void init();  // seeds with 19650218 and sets the hash seed
// Seeds the generator; the seed is taken as its 32-bit pattern.
void seed(uint32_t s);
int32_t next();  // 0 .. 2147483647

// Fills the buffer from the operating system's secure generator; raises internal feature-na
// when the generator cannot be read.
void secure_bytes(void* buffer, size_t length);
// Four secure bytes read as a little-endian 32-bit number, without the top bit.
int32_t secure_int31();

// `random/int`: 0 for a bound of 0; 1..n for n > 0; -1..n for n < 0; a value in
// -2147483648..-1 for n = -2147483648. Draws from the secure source when `secure` is set.
int32_t int_(bool secure, int32_t bound);

}  // namespace kov::random
