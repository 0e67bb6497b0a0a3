// string! storage: text series of 1-, 2- or 4-byte units, one code point per unit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/value.hpp"

namespace kov::string {

// Makes an empty string! of room for n units of the given width into `out`.
void make_at(Cell* out, uint32_t n, uint32_t unit = 1);
// Appends Latin-1 bytes (code points 0..255) at the tail of the string's series.
void concatenate_cstring(Cell* str, const char* text, uint32_t len);
inline void concatenate_cstring(Cell* str, std::string_view text) {
    concatenate_cstring(str, text.data(), uint32_t(text.size()));
}
// Code points from the string's head to its tail, as UTF-8.
std::string to_utf8(const Cell* str);
// Number of units from the head to the tail (0 when the head lies past the tail).
uint32_t length(const Cell* str);

}  // namespace kov::string
