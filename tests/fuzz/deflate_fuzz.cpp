// libFuzzer target: arbitrary bytes through the raw DEFLATE, zlib and gzip decoders, measuring
// first and then decoding at the size measured (a raw stream must then decode to exactly that
// size), and the input compressed in each framing must decode back to itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/deflate.hpp"

using namespace kov;

namespace {

using Codec = int (*)(uint8_t*, int32_t&, const uint8_t*, int32_t);

void decode(Codec codec, const uint8_t* data, int32_t size, bool raw) {
    int32_t measured = 0;
    int rc = codec(nullptr, measured, data, size);
    if (rc < 0 || rc > 5 || measured < 0) __builtin_trap();
    if (rc != deflate::OK && rc != deflate::TOO_SMALL) return;
    if (measured > deflate::max_output(size)) __builtin_trap();
    // An exact allocation (plus one byte, so that an empty output has an address).
    std::vector<uint8_t> out(size_t(measured) + 1);
    int32_t n = measured;
    rc = codec(out.data(), n, data, size);
    if (rc < 0 || rc > 5) __builtin_trap();
    if (raw && (rc != deflate::OK || n != measured)) __builtin_trap();
    if (rc == deflate::OK && n > measured) __builtin_trap();
}

void round_trip(Codec pack, Codec unpack, const uint8_t* data, int32_t size) {
    int32_t n = size + 32;
    std::vector<uint8_t> packed(static_cast<size_t>(n));
    int rc = pack(packed.data(), n, data, size);
    if (rc == deflate::TOO_SMALL) {
        packed.resize(size_t(n));
        rc = pack(packed.data(), n, data, size);
    }
    if (rc != deflate::OK) __builtin_trap();
    std::vector<uint8_t> back(size_t(size) + 1);
    int32_t m = size;
    if (unpack(back.data(), m, packed.data(), n) != deflate::OK || m != size ||
        std::memcmp(back.data(), data, size_t(size)) != 0)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    int32_t n = int32_t(size);
    decode(deflate::decompress, data, n, true);
    decode(deflate::zlib_decompress, data, n, false);
    decode(deflate::gunzip, data, n, false);
    round_trip(deflate::compress, deflate::decompress, data, n);
    round_trip(deflate::zlib_compress, deflate::zlib_decompress, data, n);
    // gzip input passes through the writer unchanged: it need not decode.
    if (!(size > 2 && data[0] == 0x1F && data[1] == 0x8B && data[2] == 8))
        round_trip(deflate::gzip, deflate::gunzip, data, n);
    return 0;
}
