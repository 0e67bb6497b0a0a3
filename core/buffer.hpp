// Series buffer operations: growth, copies, tails, and raw arrays (series used as growable arrays
// of bytes or 32-bit words, reached through their node, with no value cell around them).
#pragma once

#include <cstdint>

#include "core/memory.hpp"

namespace kov::buffer {

void set_flags(Handle node, uint32_t bits);
uint32_t flags(Handle node);

// Moves the series to a new buffer of new_size bytes (0 doubles); returns the new buffer.
// The allocation may collect: the old buffer is re-read through its node.
SeriesBuffer* expand(SeriesBuffer* buf, int64_t new_size);
SeriesBuffer* expand_copy(SeriesBuffer* buf, int64_t new_size);
SeriesBuffer* expand_fill(SeriesBuffer* buf, int64_t new_size, uint8_t byte);
Handle copy(SeriesBuffer* buf);

// Tails. These may move the buffer; re-read it through its node afterwards.
Cell* alloc_tail_cell(Handle node);          // a new unset! cell at the tail
Cell* alloc_block_tail(const Cell* block);   // the same on a block value's series
uint8_t* reserve_tail(Handle node, uint32_t n);  // returns the old tail, moves it on by n
void replicate(uint8_t* start, uint32_t n, uint32_t count);

// Raw arrays. Positions are 1-based, byte offsets 0-based.
Handle make_array(uint32_t n, uint32_t unit);
uint32_t array_length(Handle node);
void clear(Handle node);
void truncate_at(Handle node, uint32_t n);
Handle copy_array(Handle node);
void append_byte(Handle node, uint8_t byte);
uint8_t pick_byte(Handle node, uint32_t n);
void append_bytes(Handle node, const void* src, uint32_t n);
uint32_t* append_int(Handle node, uint32_t value);
inline uint32_t* append_pointer(Handle node, uint32_t value) { return append_int(node, value); }
int32_t find_int(Handle node, uint32_t value);
inline int32_t find_pointer(Handle node, uint32_t value) { return find_int(node, value); }
uint32_t pick_int(Handle node, uint32_t n);
inline uint32_t pick_pointer(Handle node, uint32_t n) { return pick_int(node, n); }
void poke_pointer(Handle node, uint32_t n, uint32_t value);
void insert_int(Handle node, uint32_t index, uint32_t value);
void remove_pointer(Handle node, uint32_t value);
void remove_bytes(Handle node, uint32_t offset, uint32_t n);

}  // namespace kov::buffer
