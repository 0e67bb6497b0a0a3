// DEFLATE, zlib and gzip: the greedy fixed-Huffman compressor, the bounded decoder and the two
// framings (see deflate.hpp for the protocol of sizes and result codes).
#include "platform/deflate.hpp"

#include <initializer_list>
#include <cstring>

#include "core/cells.hpp"
#include "core/symbol.hpp"
#include "evaluator/checksum.hpp"

namespace kov::deflate {

namespace {

constexpr int32_t WINDOW = 32768;
constexpr int32_t MAX_MATCH = 258;
constexpr int HASH_BUCKETS = 1024;
constexpr int HASH_WAYS = 4;
constexpr int64_t SIZE_LIMIT = INT32_MAX;

// ---- the fixed tables of the format ----

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code's lengths are sent.
constexpr uint8_t CLEN_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Tables {
    uint8_t reversed_byte[256];
    // The fixed literal/length codes, bit-reversed for the least-significant-first writer.
    uint16_t lit_code[288];
    uint8_t lit_bits[288];
    uint8_t dist_code[30];        // 5-bit fixed distance codes, reversed
    uint8_t length_symbol[259];   // match length -> index into LENGTH_BASE
    uint8_t dist_symbol_low[256];  // distance - 1 below 256 -> distance code
    uint8_t dist_symbol_high[256]; // (distance - 1) >> 7 -> distance code
};

uint32_t reverse_bits(uint32_t v, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; i++) r |= ((v >> i) & 1) << (n - 1 - i);
    return r;
}

Tables make_tables() {
    Tables t{};
    for (uint32_t i = 0; i < 256; i++) t.reversed_byte[i] = uint8_t(reverse_bits(i, 8));
    for (uint32_t s = 0; s < 288; s++) {
        uint32_t code, bits;
        if (s < 144) code = 0x30 + s, bits = 8;
        else if (s < 256) code = 0x190 + (s - 144), bits = 9;
        else if (s < 280) code = s - 256, bits = 7;
        else code = 0xC0 + (s - 280), bits = 8;
        t.lit_code[s] = uint16_t(reverse_bits(code, int(bits)));
        t.lit_bits[s] = uint8_t(bits);
    }
    for (uint32_t d = 0; d < 30; d++) t.dist_code[d] = uint8_t(reverse_bits(d, 5));
    for (int code = 0; code < 29; code++) {
        int top = code == 28 ? 258 : LENGTH_BASE[code] + (1 << LENGTH_EXTRA[code]) - 1;
        if (code == 27) top = 257;  // 258 has a code of its own
        for (int len = LENGTH_BASE[code]; len <= top && len <= 258; len++) t.length_symbol[len] = uint8_t(code);
    }
    for (int code = 0; code < 30; code++) {
        for (int d = DIST_BASE[code]; d < DIST_BASE[code] + (1 << DIST_EXTRA[code]); d++) {
            if (d <= 256) t.dist_symbol_low[d - 1] = uint8_t(code);
            else t.dist_symbol_high[(d - 1) >> 7] = uint8_t(code);
        }
    }
    return t;
}

const Tables& tables() {
    static const Tables t = make_tables();
    return t;
}

uint16_t reverse16(uint32_t v) {
    const Tables& t = tables();
    return uint16_t(t.reversed_byte[v & 0xFF] << 8 | t.reversed_byte[(v >> 8) & 0xFF]);
}

// ---- writing ----

// Bytes to a capacity-bounded output; the count goes on past the capacity.
struct Sink {
    uint8_t* out;
    int64_t capacity;
    int64_t n = 0;
    uint64_t acc = 0;
    int bits = 0;

    void byte(uint8_t b) {
        if (n < capacity) out[n] = b;
        n++;
    }
    // Bits least significant first; whole bytes leave the accumulator 32 bits at a time.
    void put(uint32_t value, int count) {
        acc |= uint64_t(value) << bits;
        bits += count;
        if (bits >= 32) {
            if (n + 4 <= capacity) {
                uint32_t w = uint32_t(acc);
                std::memcpy(out + n, &w, 4);
                n += 4;
            } else {
                for (int i = 0; i < 4; i++) byte(uint8_t(acc >> (8 * i)));
            }
            acc >>= 32;
            bits -= 32;
        }
    }
    // Pads the last byte with 0 bits.
    void flush() {
        while (bits > 0) {
            byte(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
        bits = 0;
        acc = 0;
    }
};

uint32_t hash3(const uint8_t* p) {
    uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
    uint32_t v = b0 ^ (b0 << 16 | b1 << 8 | b2);
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & (HASH_BUCKETS - 1);
}

// One fixed-Huffman block holding the whole input.
void write_stream(Sink& s, const uint8_t* in, int32_t len) {
    const Tables& t = tables();
    uint32_t slots[HASH_BUCKETS * HASH_WAYS];  // token start + 1; 0 is empty
    std::memset(slots, 0, sizeof slots);
    s.put(1, 1);  // BFINAL
    s.put(1, 2);  // BTYPE fixed
    int32_t p = 0;
    while (p < len) {
        int32_t remaining = len - p;
        bool hashed = remaining >= 3;
        uint32_t bucket = hashed ? hash3(in + p) : 0;
        int32_t length = 1, distance = 0;
        if (p >= 3 && hashed) {
            const uint32_t* row = slots + bucket * HASH_WAYS;
            for (int w = 0; w < HASH_WAYS; w++) {
                if (row[w] == 0) continue;
                int32_t c = int32_t(row[w] - 1);
                if (c >= p || p - c >= WINDOW) continue;
                if (in[c] != in[p] || in[c + 1] != in[p + 1] || in[c + 2] != in[p + 2]) continue;
                int32_t n = 3;
                int32_t most = remaining < MAX_MATCH ? remaining : MAX_MATCH;
                while (n < most && in[c + n] == in[p + n]) n++;
                length = n;
                distance = p - c;
                break;
            }
        }
        if (distance == 0) {
            uint8_t b = in[p];
            s.put(t.lit_code[b], t.lit_bits[b]);
        } else {
            int ls = t.length_symbol[length];
            s.put(t.lit_code[257 + ls], t.lit_bits[257 + ls]);
            if (LENGTH_EXTRA[ls]) s.put(uint32_t(length - LENGTH_BASE[ls]), LENGTH_EXTRA[ls]);
            int ds = distance <= 256 ? t.dist_symbol_low[distance - 1] : t.dist_symbol_high[(distance - 1) >> 7];
            s.put(t.dist_code[ds], 5);
            if (DIST_EXTRA[ds]) s.put(uint32_t(distance - DIST_BASE[ds]), DIST_EXTRA[ds]);
        }
        // The slot comes from the two bytes after the token's first following byte; a token that
        // ends too near the input's end is not recorded (no later search could reach it).
        int32_t q = p + length;
        if (hashed && q + 2 < len) {
            uint32_t slot = (uint32_t(in[q + 1] >> 6) - uint32_t(in[q + 2])) & 3;
            slots[bucket * HASH_WAYS + slot] = uint32_t(p) + 1;
        }
        p += length;
    }
    s.put(0, 7);  // end of block
    s.flush();
}

// ---- reading ----

// Bits least significant first from a bounded input. Past the end the reader supplies zero bits
// and counts them in `pad`; consuming any of them (held < pad) means the data was truncated.
struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t buf = 0;
    int held = 0;
    int pad = 0;

    // Leaves at least 57 bits held.
    void refill() {
        if (held > 56) return;
        if (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            buf |= w << held;
            int take = (63 - held) >> 3;
            p += take;
            held += take * 8;
            return;
        }
        while (held <= 56) {
            if (p < end) buf |= uint64_t(*p++) << held;
            else pad += 8;
            held += 8;
        }
    }
    uint32_t peek(int n) const { return uint32_t(buf & ((uint64_t(1) << n) - 1)); }
    void drop(int n) {
        buf >>= n;
        held -= n;
    }
    uint32_t bits(int n) {
        uint32_t v = peek(n);
        drop(n);
        return v;
    }
    bool overrun() const { return held < pad; }
    // Bits of real input not consumed yet.
    int64_t real_bits() const { return int64_t(end - p) * 8 + held - pad; }
};

constexpr int FAST_BITS = 10;

// A canonical Huffman code: a direct table for codes up to FAST_BITS long (entry symbol << 4 |
// length, 0 for none) and, for the longer ones, the entries sorted by code, each the code
// left-aligned in 32 bits | symbol << 4 | length, searched for the last one not above the
// peeked bits.
struct Huffman {
    uint16_t fast[1 << FAST_BITS];
    uint32_t sorted[320];
    int count;
};

enum CodeKind { CODE_LENGTHS, LITERALS, DISTANCES };

// Builds the code of `n` lengths. False for an over-subscribed set, and for an incomplete one
// unless it is a literal or distance code of one code of one bit (or a distance code of none);
// a literal code must hold the end-of-block symbol.
bool build(Huffman& h, const uint8_t* lengths, int n, CodeKind kind) {
    int count[16] = {};
    for (int i = 0; i < n; i++) count[lengths[i]]++;
    count[0] = 0;
    int used = n;
    for (int i = 0; i < n; i++)
        if (lengths[i] == 0) used--;
    int64_t left = 1;
    for (int len = 1; len <= 15; len++) {
        left <<= 1;
        left -= count[len];
        if (left < 0) return false;
    }
    if (kind == LITERALS && (n <= 256 || lengths[256] == 0)) return false;
    if (left > 0) {
        bool single = used == 1 && count[1] == 1;
        if (kind == CODE_LENGTHS) return false;
        if (!single && !(kind == DISTANCES && used == 0)) return false;
    }
    std::memset(h.fast, 0, sizeof h.fast);
    h.count = 0;
    uint32_t code = 0;
    for (int len = 1; len <= 15; len++) {
        for (int s = 0; s < n; s++) {
            if (lengths[s] != len) continue;
            h.sorted[h.count++] = code << (32 - len) | uint32_t(s) << 4 | uint32_t(len);
            if (len <= FAST_BITS) {
                uint32_t r = reverse16(code) >> (16 - len);
                for (uint32_t i = r; i < (1u << FAST_BITS); i += 1u << len)
                    h.fast[i] = uint16_t(s << 4 | len);
            }
            code++;
        }
        code <<= 1;
    }
    return true;
}

// The next symbol, or -1 when the bits match no code. Needs 15 bits held.
int decode(Reader& r, const Huffman& h) {
    uint32_t e = h.fast[r.peek(FAST_BITS)];
    if (e) {
        r.drop(int(e & 15));
        return int(e >> 4);
    }
    uint32_t v = reverse16(r.peek(15)) >> 1;  // the next 15 bits, first bit highest
    uint32_t key = v << 17 | 0x1FFFF;
    int lo = 0, hi = h.count;  // first entry above the key
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (h.sorted[mid] <= key) lo = mid + 1;
        else hi = mid;
    }
    if (lo == 0) return -1;
    uint32_t entry = h.sorted[lo - 1];
    int len = int(entry & 15);
    if ((entry >> (32 - len)) != (v >> (15 - len))) return -1;
    r.drop(len);
    return int((entry >> 4) & 0x1FF);
}

const Huffman& fixed_literals() {
    static const Huffman h = [] {
        Huffman t;
        uint8_t lengths[288];
        for (int i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        build(t, lengths, 288, LITERALS);
        return t;
    }();
    return h;
}

const Huffman& fixed_distances() {
    static const Huffman h = [] {
        Huffman t;
        uint8_t lengths[32];
        std::memset(lengths, 5, sizeof lengths);
        build(t, lengths, 32, DISTANCES);
        return t;
    }();
    return h;
}

// Reads a dynamic block's code descriptions into `lit` and `dist`; false for corrupt data.
bool read_dynamic(Reader& r, Huffman& lit, Huffman& dist) {
    r.refill();
    int hlit = int(r.bits(5)) + 257;
    int hdist = int(r.bits(5)) + 1;
    int hclen = int(r.bits(4)) + 4;
    uint8_t clen[19] = {};
    r.refill();
    for (int i = 0; i < hclen; i++) clen[CLEN_ORDER[i]] = uint8_t(r.bits(3));
    if (r.overrun()) return false;
    Huffman lengths_code;
    if (!build(lengths_code, clen, 19, CODE_LENGTHS)) return false;
    uint8_t lengths[320] = {};
    int total = hlit + hdist;
    int i = 0;
    while (i < total) {
        r.refill();
        int sym = decode(r, lengths_code);
        if (sym < 0) return false;
        int repeat;
        uint8_t value = 0;
        if (sym < 16) {
            lengths[i++] = uint8_t(sym);
            if (r.overrun()) return false;
            continue;
        } else if (sym == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + int(r.bits(2));
        } else if (sym == 17) {
            repeat = 3 + int(r.bits(3));
        } else {
            repeat = 11 + int(r.bits(7));
        }
        if (r.overrun() || i + repeat > total) return false;
        while (repeat--) lengths[i++] = value;
    }
    if (!build(lit, lengths, hlit, LITERALS)) return false;
    if (!build(dist, lengths + hlit, hdist, DISTANCES)) return false;
    return true;
}

// Decodes a raw stream into the bounded output; `n` is the count of bytes produced (kept
// counting past the capacity).
int inflate(uint8_t* out, int64_t capacity, int64_t& n, const uint8_t* in, int64_t len) {
    Reader r{in, in + len};
    n = 0;
    Huffman dyn_lit, dyn_dist;
    for (;;) {
        // No block fits in fewer than 8 bits: the stream ends with the input.
        if (r.real_bits() < 8) return OK;
        r.refill();
        uint32_t final = r.bits(1);
        uint32_t type = r.bits(2);
        if (type == 3) return BAD_BLOCK;
        if (type == 0) {
            r.drop(r.held % 8);
            r.refill();
            uint32_t stored = r.bits(16);
            r.bits(16);  // NLEN
            if (r.overrun()) return BAD_DATA;
            r.p -= (r.held - r.pad) / 8;
            r.buf = 0;
            r.held = r.pad = 0;
            if (int64_t(stored) > r.end - r.p) return BAD_STORED;
            if (n + stored <= capacity) std::memcpy(out + n, r.p, stored);
            else if (n < capacity) std::memcpy(out + n, r.p, size_t(capacity - n));
            n += stored;
            r.p += stored;
            if (n > SIZE_LIMIT) return BAD_DATA;
        } else {
            const Huffman* lit = &fixed_literals();
            const Huffman* dist = &fixed_distances();
            if (type == 2) {
                if (!read_dynamic(r, dyn_lit, dyn_dist)) return BAD_DATA;
                lit = &dyn_lit;
                dist = &dyn_dist;
            }
            for (;;) {
                r.refill();
                int sym = decode(r, *lit);
                if (sym < 0 || r.overrun()) return BAD_DATA;
                if (sym < 256) {
                    if (n < capacity) out[n] = uint8_t(sym);
                    n++;
                    continue;
                }
                if (sym == 256) break;
                if (sym > 285) return BAD_DATA;
                int ls = sym - 257;
                int length = LENGTH_BASE[ls] + int(r.bits(LENGTH_EXTRA[ls]));
                int ds = decode(r, *dist);
                if (ds < 0 || ds > 29) return BAD_DATA;
                int64_t distance = DIST_BASE[ds] + int64_t(r.bits(DIST_EXTRA[ds]));
                if (r.overrun()) return BAD_DATA;
                if (distance > n) return BAD_DISTANCE;
                if (n + length <= capacity) {
                    uint8_t* d = out + n;
                    const uint8_t* s = d - distance;
                    for (int k = 0; k < length; k++) d[k] = s[k];
                } else {
                    for (int k = 0; k < length; k++)
                        if (n + k < capacity) out[n + k] = out[n + k - distance];
                }
                n += length;
                if (n > SIZE_LIMIT) return BAD_DATA;
            }
        }
        if (final) return OK;
    }
}

// Runs the decoder with the caller's size protocol.
int decode_into(uint8_t* output, int32_t& size, const uint8_t* input, int64_t input_length) {
    int64_t capacity = output ? (size > 0 ? size : 0) : 0;
    int64_t n = 0;
    int rc = input_length > 0 ? inflate(output, capacity, n, input, input_length) : OK;
    size = int32_t(n > SIZE_LIMIT ? SIZE_LIMIT : n);
    if (rc != OK) return rc;
    return n > capacity ? TOO_SMALL : OK;
}

void put_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Writes the raw stream behind `header` bytes, leaving room for `trailer` bytes; answers the
// whole size (capped at the size limit).
int64_t frame(uint8_t* output, int64_t capacity, const uint8_t* header, int header_bytes,
              const uint8_t* input, int32_t input_length, int trailer_bytes) {
    int64_t room = capacity - header_bytes - trailer_bytes;
    if (room < 0) room = 0;
    std::memcpy(output, header, size_t(header_bytes));
    Sink s{output + header_bytes, room};
    write_stream(s, input, input_length > 0 ? input_length : 0);
    return s.n + header_bytes + trailer_bytes;
}

uint32_t method_symbols[METHOD_COUNT] = {};

}  // namespace

int64_t max_output(int64_t input_length) { return input_length * 1032 + 258; }

int compress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    int64_t capacity = output ? (size > 0 ? size : 0) : 0;
    Sink s{output, capacity};
    write_stream(s, input, input_length > 0 ? input_length : 0);
    if (s.n > SIZE_LIMIT) {
        size = int32_t(SIZE_LIMIT);
        return BAD_DATA;
    }
    size = int32_t(s.n);
    return s.n > capacity ? TOO_SMALL : OK;
}

int decompress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    return decode_into(output, size, input, input_length);
}

int zlib_compress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    int32_t len = input_length > 0 ? input_length : 0;
    int64_t capacity = output ? (size > 0 ? size : 0) : 0;
    if (capacity < 6) {
        size = int32_t(int64_t(len) + 6 > SIZE_LIMIT ? SIZE_LIMIT : len + 6);
        return BAD_DATA;
    }
    const uint8_t header[2] = {0x78, 0x01};
    int64_t total = frame(output, capacity, header, 2, input, len, 4);
    if (total > SIZE_LIMIT) {
        size = int32_t(SIZE_LIMIT);
        return BAD_DATA;
    }
    size = int32_t(total);
    if (total > capacity) return TOO_SMALL;
    put_be32(output + total - 4, checksum::adler32(input, size_t(len)));
    return OK;
}

int zlib_decompress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    if (input_length < 6) {
        size = 0;
        return BAD_DATA;
    }
    uint32_t cmf = input[0], flg = input[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) {
        size = 0;
        return BAD_DATA;
    }
    int rc = decode_into(output, size, input + 2, int64_t(input_length) - 6);
    if (rc != OK) return rc;
    if (checksum::adler32(output, size_t(size)) != get_be32(input + input_length - 4)) return BAD_DATA;
    return OK;
}

int gzip(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    int32_t len = input_length > 0 ? input_length : 0;
    int64_t capacity = output ? (size > 0 ? size : 0) : 0;
    if (len > 2 && input[0] == 0x1F && input[1] == 0x8B && input[2] == 0x08) {
        size = len;
        if (len > capacity) return TOO_SMALL;
        std::memcpy(output, input, size_t(len));
        return OK;
    }
    if (capacity < 18) {
        size = int32_t(int64_t(len) + 18 > SIZE_LIMIT ? SIZE_LIMIT : len + 18);
        return BAD_DATA;
    }
    const uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};
    int64_t total = frame(output, capacity, header, 10, input, len, 8);
    if (total > SIZE_LIMIT) {
        size = int32_t(SIZE_LIMIT);
        return BAD_DATA;
    }
    size = int32_t(total);
    if (total > capacity) return TOO_SMALL;
    put_le32(output + total - 8, checksum::crc32(input, size_t(len)));
    put_le32(output + total - 4, uint32_t(len));
    return OK;
}

int gunzip(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length) {
    int64_t capacity = output ? (size > 0 ? size : 0) : 0;
    size = 0;
    if (input_length < 18) return BAD_DATA;
    if (input[0] != 0x1F || input[1] != 0x8B || input[2] != 8 || input[3] >= 32) return BAD_DATA;
    uint8_t flags = input[3];
    int64_t body_end = int64_t(input_length) - 8;  // the trailer's start
    int64_t pos = 10;
    if (flags & 4) {  // FEXTRA
        if (pos + 2 > body_end) return BAD_DATA;
        int64_t xlen = input[pos] | input[pos + 1] << 8;
        pos += 2;
        if (pos + xlen > body_end) return BAD_DATA;
        pos += xlen;
    }
    for (uint8_t bit : {uint8_t(8), uint8_t(16)}) {  // FNAME, FCOMMENT
        if (!(flags & bit)) continue;
        const void* zero = std::memchr(input + pos, 0, size_t(body_end - pos));
        if (!zero) return BAD_DATA;
        pos = static_cast<const uint8_t*>(zero) - input + 1;
    }
    if (flags & 2) {  // FHCRC
        if (pos + 2 > body_end) return BAD_DATA;
        uint32_t crc = checksum::crc32(input, size_t(pos)) & 0xFFFF;
        if (crc != uint32_t(input[pos] | input[pos + 1] << 8)) return BAD_DATA;
        pos += 2;
    }
    uint32_t isize = get_le32(input + input_length - 4);
    // A size the data could never produce is a damaged (or forged) trailer.
    if (int64_t(isize) > SIZE_LIMIT || int64_t(isize) > max_output(body_end - pos)) return BAD_DATA;
    if (int64_t(isize) > capacity) {
        size = int32_t(isize);
        return TOO_SMALL;
    }
    int32_t produced = int32_t(capacity);
    int rc = decode_into(output, produced, input + pos, body_end - pos);
    if (rc != OK) {
        size = produced;
        return rc;
    }
    if (uint32_t(produced) != isize) return BAD_DATA;
    size = int32_t(isize);
    if (checksum::crc32(output, size_t(isize)) != get_le32(input + input_length - 8)) return BAD_DATA;
    return OK;
}

void init_method_words() {
    const char* const spellings[METHOD_COUNT] = {"zlib", "deflate", "gzip"};
    for (int i = 0; i < METHOD_COUNT; i++) method_symbols[i] = symbol::resolve(symbol::make(spellings[i]));
}

int method_of(const Cell* word) {
    uint32_t t = word->type();
    if (t < T_WORD || t > T_ISSUE) return -1;
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    if (s == 0) return -1;
    for (int i = 0; i < METHOD_COUNT; i++)
        if (method_symbols[i] == s) return i;
    return -1;
}

}  // namespace kov::deflate
