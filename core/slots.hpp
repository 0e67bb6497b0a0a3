// The slot table: a process-wide block of cells handing out small integer handles to values that
// native code must keep alive. A free slot is an integer! cell chaining to the next free slot.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::slots {

extern Handle table_node;  // the block; marked by the collector with its cells

void init();
void chain_free(uint32_t from);
uint32_t alloc(const Cell* value);  // 1-based handle
Cell* get(uint32_t handle);
void free(uint32_t handle);
uint32_t capacity();

}  // namespace kov::slots
