// The random generator: the twister on signed 32-bit words, the ranged draw and the secure source.
#include "evaluator/random.hpp"

#include <sys/random.h>

#include <cerrno>

#include "core/hashtable.hpp"
#include "core/stack.hpp"

namespace kov::random {

namespace {

constexpr int N = STATE_WORDS, M = 397;
int32_t state[N];
int pos = 0;  // the next word to temper; N means the state must be regenerated first

// Left shifts and products on the bit pattern, so that they wrap instead of overflowing.
inline int32_t shl(int32_t x, int n) { return int32_t(uint32_t(x) << n); }

// Right shifts of int32_t are arithmetic (the sign bit is copied in).
void regenerate() {
    for (int k = 0; k < N; k++) {
        int32_t y = int32_t((uint32_t(state[k]) & 0x80000000u) |
                            (uint32_t(state[(k + 1) % N]) & 0x7FFFFFFFu));
        int32_t v = state[(k + M) % N] ^ (y >> 1);
        if (y & 1) v ^= int32_t(0x9908B0DFu);
        state[k] = v;
    }
    pos = 0;
}

}  // namespace

void init() {
    seed(19650218u);
    hashtable::set_seed(0x0055860C);
}

void seed(uint32_t s) {
    state[0] = int32_t(s);
    for (int i = 1; i < N; i++) {
        int32_t p = state[i - 1];
        state[i] = int32_t(1812433253u * uint32_t(p ^ (p >> 30)) + uint32_t(i));
    }
    pos = 0;
}

int32_t next() {
    if (pos >= N) regenerate();
    int32_t y = state[pos++];
    y ^= y >> 11;
    y ^= shl(y, 7) & int32_t(0x9D2C5680u);
    y ^= shl(y, 15) & int32_t(0xEFC60000u);
    y ^= y >> 18;
    return y;  // the last step clears the top bit: after it, y and y >> 18 share their sign
}

void secure_bytes(void* buffer, size_t length) {
    auto* p = static_cast<unsigned char*>(buffer);
    size_t got = 0;
    while (got < length) {
        ssize_t r = getrandom(p + got, length - got, 0);
        if (r > 0) {
            got += size_t(r);
        } else if (r < 0 && errno != EINTR) {
            stack::raise_error("internal", "feature-na");
        }
    }
}

int32_t secure_int31() {
    unsigned char b[4];
    secure_bytes(b, sizeof b);
    uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return int32_t(v & 0x7FFFFFFFu);
}

namespace {

int32_t draw(bool secure) { return secure ? secure_int31() : next(); }

// 1..n for n > 0: draws at or above the largest multiple of n are drawn again.
int32_t uniform(bool secure, int32_t n) {
    int32_t limit = (2147483647 / n) * n;
    int32_t r;
    do r = draw(secure);
    while (r >= limit);
    return r % n + 1;
}

}  // namespace

int32_t int_(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure);
    if (n > 0) return uniform(secure, n);
    return -uniform(secure, -n);
}

}  // namespace kov::random
