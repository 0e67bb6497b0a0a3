// The slot table.
#include "core/slots.hpp"

#include "core/buffer.hpp"
#include "core/memory.hpp"

namespace kov::slots {

Handle table_node = 0;

namespace {
int32_t free_head = -1;
uint32_t cap = 0;
Cell* cells() { return memory::buffer_of(table_node)->head_cell(); }
}  // namespace

uint32_t capacity() { return cap; }

void chain_free(uint32_t from) {
    Cell* c = cells();
    for (uint32_t i = from; i < cap; i++) c[i] = Cell{T_INTEGER, 0, i + 1 < cap ? i + 1 : 0xFFFFFFFFu, 0};
    free_head = int32_t(from);
    SeriesBuffer* b = memory::buffer_of(table_node);
    b->tail = b->head + cap * 16;
}

void init() {
    cap = 100;
    table_node = memory::make_cells(cap);
    chain_free(0);
}

uint32_t alloc(const Cell* value) {
    Cell v = *value;  // the value may lie in the table, which growth moves
    if (free_head < 0) {
        uint32_t old = cap;
        cap *= 2;
        buffer::expand_copy(memory::buffer_of(table_node), int64_t(cap) * 16);
        chain_free(old);
    }
    uint32_t i = uint32_t(free_head);
    Cell* c = cells() + i;
    free_head = int32_t(c->data2);
    *c = v;
    return i + 1;
}

Cell* get(uint32_t handle) { return cells() + (handle - 1); }

void free(uint32_t handle) {
    if (handle == 0) return;
    uint32_t i = handle - 1;
    cells()[i] = Cell{T_INTEGER, 0, uint32_t(free_head), 0};
    free_head = int32_t(i);
}

}  // namespace kov::slots
