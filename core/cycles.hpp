// The cycle-detection stack: containers being walked by mold, form, compare and copy are pushed
// here so that a container met again inside itself is written as a marker instead of recursing.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::cycles {

constexpr uint32_t CAPACITY = 1000;  // at most 999 entries are held

void init();
void push(Handle node);  // raises internal too-deep at the 1000th entry
void pop();
void pop_n(uint32_t n);
void reset();
bool find_q(Handle node);
uint32_t depth();
void restore_depth(uint32_t depth);
// The container node that identifies a value: data1 of an object!, data2 of anything else.
Handle container_of(const Cell* value);
// When the value's container is being walked, appends its marker to the string and lowers the
// budget by the marker's length.
bool detect_q(const Cell* value, Cell* out_string, int32_t& budget, bool mold);
// Rewrites every entry through the collector's relocation map.
void forward(Handle (*relocate)(Handle));
Handle* entries_begin();
Handle* entries_top();

// Pushes a container for the span of a walk; pops it on every exit path, errors included.
struct Guard {
    uint32_t saved;
    explicit Guard(Handle node) : saved(depth()) { push(node); }
    ~Guard() { restore_depth(saved); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

}  // namespace kov::cycles
