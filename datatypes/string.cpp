// string! storage.
#include "datatypes/string.hpp"

#include "core/buffer.hpp"
#include "core/memory.hpp"

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
    SeriesBuffer* b = memory::buffer_of(str->data2);
    std::string out;
    uint32_t unit = b->unit(), n = b->length();
    for (uint32_t i = str->data1; i < n; i++) {
        uint32_t cp = 0;
        std::memcpy(&cp, b->head_ptr() + i * unit, unit);
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace kov::string
