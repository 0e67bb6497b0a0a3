// LZ block decompression and compression (see lz.hpp for the format).
#include "platform/lz.hpp"

#include <algorithm>
#include <cstring>

namespace kov::lz {

namespace {

uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void write_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Bits from a byte range, least significant bit of each byte first. Reading past the end sets
// `bad` and yields zero bits.
struct BitReader {
    const uint8_t* pos;
    const uint8_t* end;
    uint64_t bits = 0;
    uint32_t held = 0;
    bool bad = false;
    uint32_t read(uint32_t n) {
        while (held < n) {
            if (pos >= end) {
                bad = true;
                return 0;
            }
            bits |= uint64_t(*pos++) << held;
            held += 8;
        }
        uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        held -= n;
        return v;
    }
};

// The extra-field width and base of each length prefix (the number of 0 bits before the 1).
constexpr uint32_t LENGTH_BITS[6] = {2, 2, 2, 3, 5, 9};
constexpr uint32_t LENGTH_BASE[6] = {0, 4, 8, 12, 20, 52};

}  // namespace

uint64_t max_output(uint64_t stream_bytes) {
    // The shortest token for the longest match: 1 + 5 + 9 + 4 + 3 bits.
    return stream_bytes * 8 / 22 * MAX_MATCH + MAX_MATCH;
}

bool decompress(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    if (size < HEADER_BYTES) return false;
    uint64_t c = read_u32(data);
    uint64_t u = read_u32(data + 4);
    if (c > size - HEADER_BYTES) return false;
    if (u > max_output(c)) return false;
    uint64_t limit = u + HEADER_BYTES;  // what the chunks may add up to
    out.reserve(size_t(u));
    const uint8_t* p = data + HEADER_BYTES;
    const uint8_t* end = p + c;
    while (p < end) {
        if (end - p < 4) return out.clear(), false;
        uint32_t l = read_u32(p);
        p += 4;
        if (l < 1 || l > MAX_CHUNK || out.size() + l > limit) return out.clear(), false;
        size_t base = out.size();
        out.resize(base + l);
        uint8_t* chunk = out.data() + base;
        BitReader r{p, end};
        uint32_t at = 0;
        while (at < l) {
            if (r.read(1) == 0) {
                chunk[at++] = uint8_t(r.read(8));
            } else {
                uint32_t prefix = 0;
                while (prefix < 5 && r.read(1) == 0) prefix++;
                uint32_t n = LENGTH_BASE[prefix] + r.read(LENGTH_BITS[prefix]);
                uint32_t length = n + MIN_MATCH;
                uint32_t j = r.read(4) + 2;
                uint32_t d = j == 2 ? r.read(3) : (1u << j) + r.read(j);
                if (r.bad || d + 1 > at || length > l - at) return out.clear(), false;
                uint32_t from = at - d - 1;
                for (uint32_t i = 0; i < length; i++) chunk[at++] = chunk[from + i];
            }
            if (r.bad) return out.clear(), false;
        }
        p = r.pos;
    }
    return true;
}

// ---- compression ----

namespace {

struct BitWriter {
    uint8_t* out;
    size_t capacity;
    size_t pos = 0;
    uint64_t bits = 0;
    uint32_t held = 0;
    bool failed = false;
    uint8_t* reserve(size_t n) {
        if (failed || n > capacity - pos) {
            failed = true;
            return nullptr;
        }
        uint8_t* p = out + pos;
        pos += n;
        return p;
    }
    void write(uint32_t n, uint32_t value) {
        bits |= uint64_t(value) << held;
        held += n;
        while (held >= 8) {
            uint8_t* p = reserve(1);
            if (!p) return;
            *p = uint8_t(bits);
            bits >>= 8;
            held -= 8;
        }
    }
};

constexpr uint32_t HASH3_SIZE = 524288, HASH4_SIZE = 1048576, LINKS = 262144, CHAIN_LIMIT = 256;

uint32_t hash3_step(uint32_t h, uint8_t b) { return ((h << 7) + b) & 0x7FFFF; }
uint32_t hash4_step(uint32_t h, uint8_t b) { return ((h << 5) + b) & 0xFFFFF; }

// The number of 3-bit right shifts after which `a` is no longer greater than `b`.
uint32_t distance_penalty(uint32_t a, uint32_t b) {
    uint32_t n = 0;
    while (a > b) {
        a >>= 3;
        n++;
    }
    return n;
}

void write_match(BitWriter& w, uint32_t length, uint32_t distance) {
    uint32_t n = length - MIN_MATCH;
    w.write(1, 1);
    uint32_t prefix = 0;
    while (prefix < 5 && n >= LENGTH_BASE[prefix] + (1u << LENGTH_BITS[prefix])) prefix++;
    if (prefix < 5) w.write(prefix + 1, 1u << prefix);
    else w.write(5, 0);
    w.write(LENGTH_BITS[prefix], n - LENGTH_BASE[prefix]);
    uint32_t d = distance - 1;
    uint32_t j = 2;
    while (d >= (1u << (j + 1))) j++;
    w.write(4, j - 2);
    if (j == 2) w.write(3, d);
    else w.write(j, d - (1u << j));
}

}  // namespace

int64_t compress(const uint8_t* source, size_t size, uint8_t* target) {
    if (size < MIN_COMPRESS_INPUT || size > 0xFFFFFFFFu) return -1;
    std::vector<int32_t> heads(HASH3_SIZE + HASH4_SIZE);
    std::vector<int32_t> links(LINKS);
    BitWriter w{target + HEADER_BYTES, size - HEADER_BYTES};
    for (size_t start = 0; start < size && !w.failed; start += MAX_CHUNK) {
        const uint8_t* in = source + start;
        uint32_t l = uint32_t(std::min<size_t>(MAX_CHUNK, size - start));
        uint8_t* lw = w.reserve(4);
        if (!lw) break;
        write_u32(lw, l);
        std::fill(heads.begin(), heads.end(), -1);
        w.bits = 0;
        w.held = 0;
        int32_t* head3 = heads.data();
        int32_t* head4 = heads.data() + HASH3_SIZE;
        uint32_t h3 = 0, h4 = 0;
        for (uint32_t k = 0; k < 3 && k < l; k++) h3 = hash3_step(h3, in[k]);
        for (uint32_t k = 0; k < 4 && k < l; k++) h4 = hash4_step(h4, in[k]);
        uint32_t i = 0;
        while (i < l && !w.failed) {
            uint32_t best_len = 2, best_dist = MAX_DISTANCE;
            uint32_t longest = std::min(MAX_MATCH, l - i);
            int64_t lowest = int64_t(i) - int64_t(MAX_DISTANCE);
            if (lowest < 0) lowest = 0;
            auto extend = [&](uint32_t cand) {
                uint32_t n = 0;
                while (n < longest && in[cand + n] == in[i + n]) n++;
                return n;
            };
            int32_t c3 = head3[h3];
            if (c3 >= lowest && uint32_t(c3) < i && in[c3] == in[i]) {
                uint32_t n = extend(uint32_t(c3));
                if (n > best_len) best_len = n, best_dist = i - uint32_t(c3);
            }
            if (best_len < longest) {
                int32_t cand = head4[h4];
                for (uint32_t tries = 0; tries < CHAIN_LIMIT && cand >= lowest && uint32_t(cand) < i;
                     tries++) {
                    uint32_t cu = uint32_t(cand);
                    if (in[cu + best_len] == in[i + best_len] && in[cu] == in[i]) {
                        uint32_t n = extend(cu);
                        uint32_t dist = i - cu;
                        if (n > best_len + distance_penalty(dist / 16, best_dist)) {
                            best_len = n;
                            best_dist = dist;
                            if (n >= longest) break;
                        }
                    }
                    int32_t next = links[cu % LINKS];
                    if (next >= cand) break;
                    cand = next;
                }
            }
            if (best_len == 3 && best_dist > 65536) best_len = 2;
            uint32_t consumed;
            if (best_len >= MIN_MATCH) {
                write_match(w, best_len, best_dist);
                consumed = best_len;
            } else {
                w.write(9, uint32_t(in[i]) << 1);
                consumed = 1;
            }
            for (uint32_t k = 0; k < consumed; k++, i++) {
                head3[h3] = int32_t(i);
                links[i % LINKS] = head4[h4];
                head4[h4] = int32_t(i);
                h3 = hash3_step(h3, i + 3 < l ? in[i + 3] : 0);
                h4 = hash4_step(h4, i + 4 < l ? in[i + 4] : 0);
            }
        }
        w.write(7, 0);
    }
    if (w.failed) return -1;
    write_u32(target, uint32_t(w.pos));
    write_u32(target + 4, uint32_t(size));
    return int64_t(w.pos) + HEADER_BYTES;
}

}  // namespace kov::lz
