// Series buffer operations: growth by moving to a new buffer, copies, tail growth, and raw arrays.
#include "core/buffer.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/stack.hpp"

namespace kov::buffer {

using memory::buffer_of;

void set_flags(Handle node, uint32_t bits) { buffer_of(node)->flags |= bits; }
uint32_t flags(Handle node) { return buffer_of(node)->flags; }

// Moves the series to a new buffer; with `keep` the used bytes are copied to the new head.
static SeriesBuffer* move_to_new(SeriesBuffer* buf, int64_t new_size, bool keep) {
    Handle node = buf->node;
    if (new_size == 0) new_size = int64_t(buf->size) * 2;
    if (new_size < 1 || new_size > 0x7FFF0000) stack::raise_error("internal", "no-memory");
    uint32_t unit = buf->unit();
    uint32_t count = uint32_t((new_size + unit - 1) / unit);
    SeriesBuffer* nb = memory::alloc_buffer(count, unit, 0);
    SeriesBuffer* old = buffer_of(node);  // the allocation may have moved it
    uint32_t used = old->tail - old->head;
    bool big = nb->flags & SER_BIG;
    nb->flags = (old->flags & ~(SER_BIG | SER_MARK | SER_FIXED)) | (big ? SER_BIG : 0);
    nb->node = node;
    // A new size below the used part keeps what fits: the tail never passes the data area.
    used = std::min<uint32_t>(used, uint32_t(nb->size));
    nb->head = 0;
    nb->tail = used;
    if (keep) std::memcpy(nb->data(), old->head_ptr(), used);
    memory::node_slot(node) = memory::handle_of(nb);
    ++memory::generation;
    old->node = 0;
    old->flags &= ~SER_IN_USE;
    memory::abandon_buffer(old);  // check mode: a pointer kept into it is caught
    return nb;
}

SeriesBuffer* expand(SeriesBuffer* buf, int64_t new_size) { return move_to_new(buf, new_size, false); }

SeriesBuffer* expand_copy(SeriesBuffer* buf, int64_t new_size) { return move_to_new(buf, new_size, true); }

SeriesBuffer* expand_fill(SeriesBuffer* buf, int64_t new_size, uint8_t byte) {
    uint32_t old_size = uint32_t(buf->size);
    SeriesBuffer* nb = expand_copy(buf, new_size);
    uint8_t* from = nb->head_ptr() + old_size;
    uint8_t* to = nb->head_ptr() + uint32_t(nb->size);
    if (to > nb->end_ptr()) to = nb->end_ptr();
    memory::fill(from, to, byte);
    return nb;
}

Handle copy(SeriesBuffer* buf) {
    Handle old_node = buf->node;
    uint32_t size = uint32_t(buf->size);
    Handle node = memory::make_bytes(size);
    SeriesBuffer* old = buffer_of(old_node);
    SeriesBuffer* nb = buffer_of(node);
    nb->flags = (old->flags & ~(SER_MARK | SER_BIG | SER_FIXED | SER_OWNED | SER_LIBRARY)) |
                (nb->flags & (SER_BIG | SER_LIBRARY));
    nb->head = 0;
    nb->tail = old->tail - old->head;
    uint32_t bytes = uint32_t(old->size) - old->head;
    std::memcpy(nb->data(), old->head_ptr(), bytes);
    return node;
}

Cell* alloc_tail_cell(Handle node) {
    SeriesBuffer* b = buffer_of(node);
    if (b->tail + 16 > uint32_t(b->size)) b = expand_copy(b, int64_t(b->size) * 2);
    Cell* c = b->tail_cell();
    c->header = T_UNSET;
    b->tail += 16;
    return c;
}

Cell* alloc_block_tail(const Cell* block) { return alloc_tail_cell(block->data2); }

uint8_t* reserve_tail(Handle node, uint32_t n) {
    SeriesBuffer* b = buffer_of(node);
    if (uint64_t(b->tail) + n > uint64_t(b->size)) {
        int64_t size = n > uint32_t(b->size) ? int64_t(n) * 2 : int64_t(b->size) * 2;
        // The used part starts at offset 0 in the new buffer; make room past it as well.
        if (size < int64_t(b->used()) + n) size = (int64_t(b->used()) + n) * 2;
        b = expand_copy(b, size);
    }
    uint8_t* old_tail = b->tail_ptr();
    b->tail += n;
    return old_tail;
}

void replicate(uint8_t* start, uint32_t n, uint32_t count) {
    if (count < 2 || n == 0) return;
    uint64_t total = uint64_t(n) * count, done = n;
    while (done * 2 <= total) {
        std::memcpy(start + done, start, done);
        done *= 2;
    }
    if (done < total) std::memcpy(start + done, start, total - done);
}

// ---- raw arrays ----

Handle make_array(uint32_t n, uint32_t unit) { return memory::alloc_series(n, unit, 0); }

uint32_t array_length(Handle node) { return buffer_of(node)->length(); }

void clear(Handle node) {
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head;
}

void truncate_at(Handle node, uint32_t n) {
    SeriesBuffer* b = buffer_of(node);
    uint32_t keep = n ? n - 1 : 0;
    uint32_t bytes = keep << b->shift();
    if (bytes < b->used()) b->tail = b->head + bytes;
}

Handle copy_array(Handle node) { return copy(buffer_of(node)); }

void append_byte(Handle node, uint8_t byte) { *reserve_tail(node, 1) = byte; }

uint8_t pick_byte(Handle node, uint32_t n) { return buffer_of(node)->head_ptr()[n - 1]; }

void append_bytes(Handle node, const void* src, uint32_t n) {
    if (n == 0) return;
    // The source may lie in a buffer that the growth moves: copy it aside first when it is ours.
    if (memory::in_arena(src)) {
        std::string tmp(static_cast<const char*>(src), n);
        std::memcpy(reserve_tail(node, n), tmp.data(), n);
    } else {
        std::memcpy(reserve_tail(node, n), src, n);
    }
}

uint32_t* append_int(Handle node, uint32_t value) {
    auto* p = reinterpret_cast<uint32_t*>(reserve_tail(node, 4));
    *p = value;
    return p;
}

int32_t find_int(Handle node, uint32_t value) {
    SeriesBuffer* b = buffer_of(node);
    auto* p = reinterpret_cast<uint32_t*>(b->head_ptr());
    for (uint32_t i = 0, n = b->used() / 4; i < n; i++)
        if (p[i] == value) return int32_t(i * 4);
    return -1;
}

uint32_t pick_int(Handle node, uint32_t n) {
    return reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr())[n - 1];
}

void poke_pointer(Handle node, uint32_t n, uint32_t value) {
    reinterpret_cast<uint32_t*>(buffer_of(node)->head_ptr())[n - 1] = value;
}

void insert_int(Handle node, uint32_t index, uint32_t value) {
    uint32_t unit = buffer_of(node)->unit();
    reserve_tail(node, unit);
    SeriesBuffer* b = buffer_of(node);
    uint8_t* at = b->head_ptr() + index * unit;
    std::memmove(at + unit, at, size_t(b->tail_ptr() - unit - at));
    std::memset(at, 0, unit);
    std::memcpy(at, &value, unit < 4 ? unit : 4);
}

void remove_pointer(Handle node, uint32_t value) {
    int32_t off = find_int(node, value);
    if (off >= 0) remove_bytes(node, uint32_t(off), 4);
}

void remove_bytes(Handle node, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = buffer_of(node);
    uint8_t* at = b->head_ptr() + offset;
    if (offset + n > b->used()) n = b->used() - offset;
    std::memmove(at, at + n, size_t(b->tail_ptr() - at - n));
    b->tail -= n;
}

}  // namespace kov::buffer
