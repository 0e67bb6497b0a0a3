// MT19937 (32-bit), drawn as 31-bit numbers.
#include "evaluator/random.hpp"

#include <sys/random.h>

#include "core/hashtable.hpp"

namespace kov::random {

namespace {
constexpr int N = 624, M = 397;
uint32_t mt[N];
int pos = N;

void regenerate() {
    for (int i = 0; i < N; i++) {
        uint32_t y = (mt[i] & 0x80000000u) | (mt[(i + 1) % N] & 0x7FFFFFFFu);
        mt[i] = mt[(i + M) % N] ^ (y >> 1) ^ ((y & 1u) ? 0x9908B0DFu : 0u);
    }
    pos = 0;
}
}  // namespace

void init() {
    seed(19650218u);
    hashtable::set_seed(0x0055860C);
}

void seed(uint32_t s) {
    mt[0] = s;
    for (int i = 1; i < N; i++) mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + uint32_t(i);
    pos = N;
}

int32_t next() {
    if (pos >= N) regenerate();
    uint32_t y = mt[pos++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return int32_t(y >> 1);
}

int32_t secure_int31() {
    uint32_t v = 0;
    size_t got = 0;
    while (got < sizeof v) {
        ssize_t r = getrandom(reinterpret_cast<char*>(&v) + got, sizeof v - got, 0);
        if (r > 0) got += size_t(r);
    }
    return int32_t(v & 0x7FFFFFFFu);
}

static int32_t draw(bool secure) { return secure ? secure_int31() : next(); }

static int32_t uniform(bool secure, int32_t n) {
    int32_t limit = (2147483647 / n) * n;
    int32_t r;
    do r = draw(secure); while (r >= limit);
    return r % n + 1;
}

int32_t int_(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n > 0) return uniform(secure, n);
    if (n == INT32_MIN) return -1 - draw(secure);
    return -uniform(secure, -n);
}

}  // namespace kov::random
