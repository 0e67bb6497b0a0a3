// handle!: an opaque 32-bit handle value with a small kind number, so that operating-system
// objects (file descriptors, monitors, windows, fonts, rich-text layouts) travel through the
// language as values. The cell holds the whole header 46 (no flags), data1 the kind, data2 the
// value and data3 -1 (no resource slot). A cell never holds a machine address: code that hands
// out an object keeps it in its own table and puts the index or descriptor here.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::handle {

enum Kind : uint32_t { NULL_KIND = 0, FD, MONITOR, WINDOW, FONT, RICH_TEXT, KIND_COUNT };

void init();  // after integer!

// The kind's name ("fd", "monitor", ...; "null" for 0), or null for a kind out of range.
const char* kind_name(uint32_t kind);

constexpr Cell make(uint32_t value, uint32_t kind) {
    return Cell{T_HANDLE, kind, value, UINT32_MAX};
}
inline uint32_t value(const Cell& c) { return c.data2; }
inline uint32_t kind(const Cell& c) { return c.data1; }

// Writes a handle into the cell; returns it.
Cell* make_at(Cell* c, uint32_t value, uint32_t kind);
// Into the current call's result slot.
Cell* box(uint32_t value, uint32_t kind);
// At the tail of the block value (rooted); valid until the next allocation.
Cell* make_in(const Cell* block, uint32_t value, uint32_t kind);
Cell* push(uint32_t value, uint32_t kind);
Cell* push_null();

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

}  // namespace kov::handle
