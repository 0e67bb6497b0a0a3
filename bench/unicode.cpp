// UTF-8 speed: the runtime's loader (validating decode into a text buffer of the narrowest unit)
// and encoder (text buffer to the value's conversion buffer) against plain C++ loops that decode
// to a std::u32string and encode it back, on the same input.
//
//   bench_unicode [megabytes]      (default 100)
//
// Inputs: "mixed" text (ASCII words with Latin-1, Cyrillic, CJK and emoji characters, so that
// the runtime's buffer ends in 4-byte units), and a "latin" text without characters above
// U+00FF (1-byte units). Prints the best of three runs as MB/s of UTF-8 and the ratio
// runtime / baseline (above 1: the runtime is faster).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench/timing.hpp"
#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/unicode.hpp"

namespace {

using kov::bench::best_seconds;


void put(std::string& s, uint32_t cp) {
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | (cp >> 6));
        s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | (cp >> 12));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | (cp >> 18));
        s += char(0x80 | ((cp >> 12) & 0x3F));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
}

std::string make_text(size_t bytes, bool mixed) {
    std::mt19937 rng(12345);
    std::string s;
    s.reserve(bytes + 8);
    while (s.size() < bytes) {
        uint32_t r = rng() % 100;
        if (r < 70) {
            int len = 2 + int(rng() % 8);
            for (int i = 0; i < len; ++i) s += char('a' + rng() % 26);
            s += rng() % 12 ? ' ' : '\n';
        } else if (r < 80) {
            put(s, 0xC0 + rng() % 0x40);  // Latin-1 letters
        } else if (!mixed) {
            put(s, 0xA0 + rng() % 0x20);
        } else if (r < 88) {
            put(s, 0x410 + rng() % 0x40);  // Cyrillic
        } else if (r < 96) {
            put(s, 0x4E00 + rng() % 0x5000);  // CJK
        } else {
            put(s, 0x1F600 + rng() % 0x50);  // emoji
        }
    }
    return s;
}

// The baseline: a plain hand-written decoder (validating the followers) and encoder.
std::u32string baseline_decode(const std::string& in) {
    std::u32string out;
    out.resize(in.size());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(in.data());
    const uint8_t* e = p + in.size();
    size_t n = 0;
    while (p < e) {
        uint32_t b = *p;
        uint32_t cp;
        int len;
        if (b < 0x80) { cp = b; len = 1; }
        else if (b < 0xE0) { cp = b & 0x1F; len = 2; }
        else if (b < 0xF0) { cp = b & 0x0F; len = 3; }
        else { cp = b & 0x07; len = 4; }
        if (e - p < len) break;
        for (int i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) { std::fprintf(stderr, "bad input\n"); std::exit(1); }
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        out[n++] = char32_t(cp);
        p += len;
    }
    out.resize(n);
    return out;
}

std::string baseline_encode(const std::u32string& in) {
    std::string out;
    out.resize(in.size() * 4);
    uint8_t* o = reinterpret_cast<uint8_t*>(out.data());
    for (char32_t c : in) {
        uint32_t cp = c;
        if (cp < 0x80) {
            *o++ = uint8_t(cp);
        } else if (cp < 0x800) {
            *o++ = uint8_t(0xC0 | (cp >> 6));
            *o++ = uint8_t(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *o++ = uint8_t(0xE0 | (cp >> 12));
            *o++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            *o++ = uint8_t(0x80 | (cp & 0x3F));
        } else {
            *o++ = uint8_t(0xF0 | (cp >> 18));
            *o++ = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            *o++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            *o++ = uint8_t(0x80 | (cp & 0x3F));
        }
    }
    out.resize(size_t(o - reinterpret_cast<uint8_t*>(out.data())));
    return out;
}

void run(const char* name, const std::string& text) {
    using namespace kov;
    double mb = double(text.size()) / 1e6;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t count = uint32_t(text.size());

    std::u32string decoded;
    double base_decode = best_seconds([&] { decoded = baseline_decode(text); });
    std::string encoded;
    double base_encode = best_seconds([&] { encoded = baseline_encode(decoded); });
    if (encoded != text) std::fprintf(stderr, "%s: baseline round trip differs\n", name);

    collector::Root value(Cell{T_STRING, 0, 0, 0});
    double our_decode = best_seconds([&] {
        *value.get() = Cell{T_NONE, 0, 0, 0};
        collector::collect();  // drops the previous run's buffer
        Handle node = unicode::load_utf8_new(bytes, count);
        *value.get() = Cell{T_STRING, 0, node, 0};
    });
    SeriesBuffer* b = memory::buffer_of(value->data2);
    if (b->length() != decoded.size())
        std::fprintf(stderr, "%s: decoded %u code points, baseline %zu\n", name, b->length(),
                     decoded.size());
    int32_t limit = -1;
    const uint8_t* out = nullptr;
    double our_encode = best_seconds([&] {
        limit = -1;
        out = unicode::to_utf8_bytes(value.get(), limit);
    });
    if (size_t(limit) != text.size() || std::memcmp(out, text.data(), text.size()) != 0)
        std::fprintf(stderr, "%s: runtime round trip differs\n", name);

    std::printf("%-6s %7.1f MB, unit %u   decode: runtime %8.1f MB/s  baseline %8.1f MB/s  ratio %.2f\n",
                name, mb, b->unit(), mb / our_decode, mb / base_decode, base_decode / our_decode);
    std::printf("%-6s %7s              encode: runtime %8.1f MB/s  baseline %8.1f MB/s  ratio %.2f\n",
                "", "", mb / our_encode, mb / base_encode, base_encode / our_encode);
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? size_t(std::atol(argv[1])) : 100;
    kov::collector::init();
    kov::boot::init_runtime();
    kov::boot::booting = false;
    run("mixed", make_text(megabytes * 1000000, true));
    run("latin", make_text(megabytes * 1000000, false));
    return 0;
}
