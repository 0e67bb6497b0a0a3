// libFuzzer target: arbitrary bytes through the LZ block decoder; what decodes must not exceed
// the bound the header allows, and a compressed copy of the input must decode back to it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/lz.hpp"

using namespace kov;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (lz::decompress(data, size, out)) {
        uint32_t u;
        std::memcpy(&u, data + 4, 4);
        if (out.size() > uint64_t(u) + 8) __builtin_trap();
    }
    std::vector<uint8_t> packed(size);
    int64_t n = lz::compress(data, size, packed.data());
    if (n > 0) {
        std::vector<uint8_t> back;
        if (!lz::decompress(packed.data(), size_t(n), back) || back.size() != size ||
            std::memcmp(back.data(), data, size) != 0)
            __builtin_trap();
    }
    return 0;
}
