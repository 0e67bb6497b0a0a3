// The cycle-detection stack: a fixed array of container nodes with a top.
#include "core/cycles.hpp"

#include <cstring>

#include "core/stack.hpp"
#include "core/unicode.hpp"

namespace kov::cycles {

namespace {
Handle entries[CAPACITY];
uint32_t top = 0;
}  // namespace

void init() { top = 0; }

void push(Handle node) {
    entries[top++] = node;
    if (top >= CAPACITY) {
        top = 0;
        stack::raise_error("internal", "too-deep");
    }
}

void pop() {
    if (top) top--;
}

void pop_n(uint32_t n) { top = n > top ? 0 : top - n; }
void reset() { top = 0; }
uint32_t depth() { return top; }
void restore_depth(uint32_t d) {
    if (d < top) top = d;
}
Handle* entries_begin() { return entries; }
Handle* entries_top() { return entries + top; }

bool find_q(Handle node) {
    for (uint32_t i = 0; i < top; i++)
        if (entries[i] == node) return true;
    return false;
}

Handle container_of(const Cell* value) {
    return value->is(T_OBJECT) || value->is(T_ERROR) ? value->data1 : value->data2;
}

bool detect_q(const Cell* value, Cell* out, int32_t& budget, bool mold) {
    if (!find_q(container_of(value))) return false;
    const char* marker = "...";
    if (mold) {
        switch (value->type()) {
        case T_BLOCK: case T_HASH: marker = "[...]"; break;
        case T_PAREN: marker = "(...)"; break;
        case T_MAP: marker = "#[...]"; break;
        case T_OBJECT: marker = "make object! [...]"; break;
        default: marker = "..."; break;
        }
    }
    int32_t n = int32_t(std::strlen(marker));
    unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(marker), uint32_t(n), out, false, nullptr);
    budget -= n;
    return true;
}

void forward(Handle (*relocate)(Handle)) {
    for (uint32_t i = 0; i < top; i++) entries[i] = relocate(entries[i]);
}

}  // namespace kov::cycles
