// Text buffers for tests: code points in and out of series of 1-, 2- or 4-byte units.
#pragma once

#include <cstring>
#include <ostream>
#include <vector>

#include "core/memory.hpp"

namespace kov::testing {

using Units = std::vector<uint32_t>;

// A text buffer's unit width and its code points from head to tail.
struct Text {
    uint32_t unit;
    Units units;
    bool operator==(const Text&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Text& t) {
    os << "unit " << t.unit << " [";
    for (uint32_t u : t.units) os << std::hex << "0x" << u << " ";
    return os << "]" << std::dec;
}

inline Text read_text(Handle node) {
    SeriesBuffer* b = memory::buffer_of(node);
    Text t{b->unit(), {}};
    for (uint32_t i = 0, n = b->length(); i < n; i++) {
        uint32_t v = 0;
        std::memcpy(&v, b->head_ptr() + i * b->unit(), b->unit());
        t.units.push_back(v);
    }
    return t;
}

// A new text buffer of the given unit holding the code points (not rooted).
inline Handle make_text(const Units& cps, uint32_t unit) {
    Handle node = memory::make_string_buffer(cps.empty() ? 1 : uint32_t(cps.size()), unit);
    SeriesBuffer* b = memory::buffer_of(node);
    for (size_t i = 0; i < cps.size(); i++) std::memcpy(b->head_ptr() + i * unit, &cps[i], unit);
    b->tail = b->head + uint32_t(cps.size()) * unit;
    return node;
}

}  // namespace kov::testing
