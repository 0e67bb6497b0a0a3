// DEFLATE speed and ratio: compression and decompression in MB/s of a few megabytes of text and
// of binary records, with our codec (raw DEFLATE, and zlib framing as the `compress` native
// writes it) beside the system's zlib at level 1 and at its default level, each best of three,
// with the compressed size as a share of the input, and our decoder timed on zlib's streams
// (dynamic Huffman) as well. A decoding of each zlib stream by the other
// codec checks that the two agree on the format.
//
//   bench_deflate [megabytes]        (default 4)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/timing.hpp"
#include "platform/deflate.hpp"

#ifdef KOV_BENCH_ZLIB
#include <zlib.h>
#endif

using namespace kov;

namespace {

using kov::bench::best_seconds;

using Bytes = std::vector<uint8_t>;

// Words drawn with a skewed distribution, in lines of varying length: prose-like text.
Bytes make_text(size_t n) {
    static const char* const words[] = {
        "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be",
        "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have",
        "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has",
        "there", "been", "if", "more", "when", "will", "would", "who", "so", "no", "language",
        "value", "series", "block", "function", "evaluation", "compression", "stream", "window"};
    const size_t count = sizeof words / sizeof *words;
    Bytes out;
    out.reserve(n + 32);
    uint32_t x = 2463534242u;
    size_t line = 0;
    while (out.size() < n) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        size_t w = (x % count) * (x % count) / count;  // small indexes more often
        const char* word = words[w];
        out.insert(out.end(), word, word + std::strlen(word));
        line += std::strlen(word) + 1;
        if (line > 60 + x % 15) {
            out.push_back('\n');
            line = 0;
        } else {
            out.push_back(x % 11 == 0 ? ',' : ' ');
        }
    }
    out.resize(n);
    return out;
}

// Records of 16 bytes: a counter, a slowly changing value, a small code and noise.
Bytes make_binary(size_t n) {
    Bytes out(n);
    uint32_t x = 88172645u, level = 1000;
    for (size_t i = 0; i + 16 <= n; i += 16) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        uint32_t counter = uint32_t(i / 16);
        level += (x & 7) - 3;
        uint32_t code = (x >> 8) % 5;
        uint32_t noise = x >> 16;
        std::memcpy(&out[i], &counter, 4);
        std::memcpy(&out[i + 4], &level, 4);
        std::memcpy(&out[i + 8], &code, 4);
        std::memcpy(&out[i + 12], &noise, 4);
    }
    return out;
}

void row(const char* what, double mb, double c_seconds, double d_seconds, size_t packed, size_t input) {
    std::printf("  %-22s compress %8.1f MB/s   decompress %8.1f MB/s   size %6.2f%%\n", what,
                mb / c_seconds, mb / d_seconds, 100.0 * double(packed) / double(input));
}

void measure(const char* name, const Bytes& data) {
    double mb = double(data.size()) / (1 << 20);
    int32_t len = int32_t(data.size());
    std::printf("%s, %.1f MB:\n", name, mb);

    Bytes packed(data.size() + 32), back(data.size());
    int32_t packed_size = 0;
    double c = best_seconds([&] {
        packed_size = int32_t(packed.size());
        deflate::compress(packed.data(), packed_size, data.data(), len);
    });
    double d = best_seconds([&] {
        int32_t n = len;
        deflate::decompress(back.data(), n, packed.data(), packed_size);
    });
    if (back != data) std::printf("  ours: ROUND TRIP FAILED\n");
    row("ours (fixed Huffman)", mb, c, d, size_t(packed_size), data.size());

    Bytes ours_z(data.size() + 32);
    int32_t ours_z_size = int32_t(ours_z.size());
    deflate::zlib_compress(ours_z.data(), ours_z_size, data.data(), len);

#ifdef KOV_BENCH_ZLIB
    double ours_c = c, ours_d = d;
    for (int level : {1, Z_DEFAULT_COMPRESSION}) {
        uLongf bound = compressBound(uLong(data.size()));
        Bytes z(bound);
        uLongf z_size = bound;
        double zc = best_seconds([&] {
            z_size = bound;
            compress2(z.data(), &z_size, data.data(), uLong(data.size()), level);
        });
        double zd = best_seconds([&] {
            uLongf n = uLongf(data.size());
            uncompress(back.data(), &n, z.data(), z_size);
        });
        char label[40];
        std::snprintf(label, sizeof label, "zlib level %s", level == 1 ? "1" : "default");
        row(label, mb, zc, zd, size_t(z_size), data.size());
        std::printf("  %-22s compress x%.2f   decompress x%.2f   (zlib time / our time)\n", "", zc / ours_c,
                    zd / ours_d);
        double od = best_seconds([&] {
            int32_t n = len;
            deflate::zlib_decompress(back.data(), n, z.data(), int32_t(z_size));
        });
        std::printf("  %-22s our decoder on this stream %8.1f MB/s (x%.2f of zlib's)\n", "", mb / od, zd / od);
        // Each side decodes the other's zlib stream.
        int32_t n = len;
        bool ours_reads = deflate::zlib_decompress(back.data(), n, z.data(), int32_t(z_size)) == deflate::OK &&
                          n == len && back == data;
        uLongf m = uLongf(data.size());
        bool zlib_reads = uncompress(back.data(), &m, ours_z.data(), uLong(ours_z_size)) == Z_OK &&
                          m == data.size() && back == data;
        if (!ours_reads || !zlib_reads)
            std::printf("  DISAGREEMENT: ours reads zlib's stream %s, zlib reads ours %s\n",
                        ours_reads ? "yes" : "no", zlib_reads ? "yes" : "no");
    }
#else
    std::printf("  (built without the system zlib: no peer to compare with)\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    size_t mb = argc > 1 ? size_t(std::atoi(argv[1])) : 4;
    if (mb == 0) mb = 4;
    measure("text", make_text(mb << 20));
    measure("binary records", make_binary(mb << 20));
    return 0;
}
