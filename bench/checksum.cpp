// Checksum speed: the SHA-256 digest of N megabytes (default 100) in memory, best of three, beside
// `sha256sum` over the same bytes in a temporary file (already in the page cache), with the
// ratio sha256sum time / our time (above 1: ours is faster) and a check that both digests agree.
// CRC-32 and Adler-32 over the same bytes are timed as well, for scale.
//
//   bench_checksum [megabytes]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/timing.hpp"
#include "evaluator/checksum.hpp"

namespace {

using kov::bench::best_seconds;


std::string hex(const uint8_t* p, size_t n) {
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; i++) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        out += b;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mb = argc > 1 ? size_t(std::atoi(argv[1])) : 100;
    if (mb == 0) mb = 100;
    std::vector<uint8_t> data(mb << 20);
    uint32_t x = 12345;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 24);
    }

    uint8_t digest[kov::checksum::DIGEST_MAX];
    double ours = best_seconds(
        [&] { kov::checksum::crypto_hash(data.data(), data.size(), kov::checksum::I_SHA256, digest); });
    std::string our_hex = hex(digest, 32);
    std::printf("sha256 (ours)    %zu MB: %.3f s, %.0f MB/s\n", mb, ours, double(mb) / ours);

    volatile uint32_t sink = 0;
    double crc = best_seconds([&] { sink = sink + kov::checksum::crc32(data.data(), data.size()); });
    std::printf("crc32            %zu MB: %.3f s, %.0f MB/s\n", mb, crc, double(mb) / crc);
    double adler = best_seconds([&] { sink = sink + kov::checksum::adler32(data.data(), data.size()); });
    std::printf("adler32          %zu MB: %.3f s, %.0f MB/s\n", mb, adler, double(mb) / adler);

    if (std::system("command -v sha256sum >/dev/null 2>&1") != 0) {
        std::printf("sha256sum: not installed\n");
        return 0;
    }
    char path[] = "/tmp/kov_bench_checksum_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 1;
    FILE* f = fdopen(fd, "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::string command = std::string("sha256sum ") + path + " </dev/null";
    std::string their_hex;
    double theirs = best_seconds([&] {
        FILE* p = popen(command.c_str(), "r");
        char line[256] = {};
        if (p && fgets(line, sizeof line, p)) their_hex.assign(line, 64);
        if (p) pclose(p);
    });
    std::remove(path);
    std::printf("sha256sum (file) %zu MB: %.3f s, %.0f MB/s\n", mb, theirs, double(mb) / theirs);
    std::printf("ratio sha256sum / ours: %.2f; digests %s\n", theirs / ours,
                their_hex == our_hex ? "agree" : "DIFFER");
    return their_hex == our_hex ? 0 : 1;
}
