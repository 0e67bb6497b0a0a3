// hash!: a block with a hash-kind table (core/hashtable.hpp) over all of its cells, so that find
// and select go through the table instead of scanning. Every series action of block! works on it
// unchanged: the block and series actions keep the table in step as they edit.
//
// A hash! cell: data1 the head index, data2 the node of the block, data3 the node of the table,
// which indexes every cell of the block from the first, whatever the head.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::hash {

// Makes `out` a hash! over a block node, with a table made for `size` keys that enters every
// cell of the block. `out` is written after allocating: it must not move.
Cell* make_at(Handle block, Cell* out, uint32_t size);

void init();

}  // namespace kov::hash
