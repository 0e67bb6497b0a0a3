// The reference layout of value cells: for each datatype id, what each of the three data words
// holds when it refers to something the collector must know about (a node, a context, a hash
// table, a resource slot) and what kind of buffer a node there must name. The collector's marker
// walks cells through this table, and the check mode's cell validator reads the same table.
#pragma once

#include <array>
#include <cstdint>

#include "core/value.hpp"

namespace kov::cell_layout {

// What one data word holds. A zero word never refers to anything.
enum class Ref : uint8_t {
    NONE,         // plain data
    NODE,         // a node whose buffer is only kept alive (any unit)
    TEXT,         // a node of a byte or character buffer (unit 1, 2 or 4)
    CELLS,        // a node of a block of cells, whose cells are marked in turn
    CONTEXT,      // a context node: its head cell is a context! cell
    TABLE,        // a hash table (or, before tables exist, a block)
    BINDING,      // a word's binding: a context, or the block of `self`
    OP_CONTEXT,   // an op!'s context, present when the op wraps a function or routine
    FRAME_CELLS,  // a context's values block, unless the values live on the argument stack
    EVENT_CELLS,  // an event!'s block, when the event flag is set
    RESOURCE,     // an index into the resource table (negative: none)
    IMAGE,        // an image!'s pixel buffer, also handed to the image marker
};

struct Layout {
    Ref data[3];  // data1, data2, data3
};

// Indexed by datatype id; ids without references have three NONE words.
extern const std::array<Layout, 256> table;

inline const Layout& of(uint32_t type) { return table[type & 0xFF]; }

// The buffer unit that a node in a word of this kind may have.
bool unit_fits(Ref kind, uint32_t unit);

// The node a word of this kind names in `cell` (0 when it names none), honouring the conditions
// some kinds carry (on-stack contexts, the event flag, the op's wrapped type).
uint32_t node_in(const Cell& cell, int word, Ref kind);

}  // namespace kov::cell_layout
