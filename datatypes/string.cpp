// string! storage.
#include "datatypes/string.hpp"

#include "core/buffer.hpp"
#include "core/memory.hpp"
#include "core/unicode.hpp"

namespace kov::string {

void make_at(Cell* out, uint32_t n, uint32_t unit) {
    Handle node = memory::make_string_buffer(n, unit);
    *out = Cell{T_STRING, 0, node, 0};
}

void concatenate_cstring(Cell* str, const char* text, uint32_t len) {
    Handle node = str->data2;
    uint32_t unit = memory::buffer_of(node)->unit();
    if (unit == 1) {
        buffer::append_bytes(node, text, len);
        return;
    }
    uint8_t* p = buffer::reserve_tail(node, len * unit);
    for (uint32_t i = 0; i < len; i++) {
        uint32_t cp = uint8_t(text[i]);
        if (unit == 2) {
            uint16_t u = uint16_t(cp);
            std::memcpy(p + 2 * i, &u, 2);
        } else {
            std::memcpy(p + 4 * i, &cp, 4);
        }
    }
}

uint32_t length(const Cell* str) {
    SeriesBuffer* b = memory::buffer_of(str->data2);
    uint32_t n = b->length();
    return str->data1 >= n ? 0 : n - str->data1;
}

std::string to_utf8(const Cell* str) {
    std::string out;
    unicode::append_utf8(out, str);
    return out;
}

}  // namespace kov::string
