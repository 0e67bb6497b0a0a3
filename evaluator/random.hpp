// The random generator: MT19937 for the language's random numbers, the operating system's
// generator for secure draws; its start-up also sets the hash tables' process-wide seed.
#pragma once

#include <cstdint>

namespace kov::random {

void init();  // seeds with 19650218 and sets the hash seed
void seed(uint32_t s);
int32_t next();  // 0 .. 2147483647
int32_t secure_int31();
int32_t int_(bool secure, int32_t bound);  // `random/int`

}  // namespace kov::random
