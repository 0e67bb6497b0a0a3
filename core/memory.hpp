// The memory manager: one reserved virtual arena in which every series buffer, node frame,
// series frame and big series lives. Cells and headers refer to them by 32-bit handles (arena
// offset / 4), so a reference resolves in one add and values never carry machine addresses.
// Nodes hold the handle of their buffer, so buffers can move under compaction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/value.hpp"

namespace kov {

// Series buffer flag bits.
constexpr uint32_t SER_UNIT_MASK = 0x1F;
constexpr uint32_t SER_IN_USE = 0x80000000;
constexpr uint32_t SER_ALLOCATED = 0x20000000;
constexpr uint32_t SER_MIDDLE = 0x10000000;
constexpr uint32_t SER_MARK = 0x08000000;
constexpr uint32_t SER_BIG = 0x01000000;
constexpr uint32_t SER_FIXED = 0x00100000;
constexpr uint32_t SER_OWNED = 0x00020000;
constexpr uint32_t SER_LIBRARY = 0x00000080;      // made while the boot library was evaluated
constexpr uint32_t SER_DEAD_FILLED = 0x00000040;  // abandoned; data area holds DEAD_BYTE (check mode)

// A series buffer: this 20-byte header, the data area (size bytes, a multiple of 16), then one
// spare 32-bit word. Head and tail are byte offsets from the start of the data area.
struct SeriesBuffer {
    uint32_t flags;
    Handle node;   // back-pointer to the node holding this buffer; 0 once abandoned
    int32_t size;  // bytes of the data area
    uint32_t head;
    uint32_t tail;

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + sizeof(SeriesBuffer); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end_ptr() { return data() + size; }
    Cell* head_cell() { return reinterpret_cast<Cell*>(head_ptr()); }
    Cell* tail_cell() { return reinterpret_cast<Cell*>(tail_ptr()); }
    uint32_t unit() const { return flags & SER_UNIT_MASK; }
    // log2 of the unit: the index of its highest set bit.
    int shift() const { return 31 - __builtin_clz(unit() | 1); }
    uint32_t used() const { return tail - head; }
    uint32_t length() const { return (tail - head) >> shift(); }
    uint32_t footprint() const { return uint32_t(size) + 24; }
};
static_assert(sizeof(SeriesBuffer) == 20);

// A node frame: 36 bytes of header, then `capacity` nodes of 4 bytes. A free node holds the
// handle of the next free node (0 ends the chain); a used node holds its buffer's handle.
struct NodeFrame {
    Handle next, prev;
    uint32_t capacity;
    Handle first_free;
    uint32_t used;
    uint32_t stamp;
    uint32_t last_used;
    uint32_t history;
    uint32_t to_free;
    uint32_t* nodes() { return reinterpret_cast<uint32_t*>(this + 1); }
};
static_assert(sizeof(NodeFrame) == 36);

// A series frame: 20 bytes of header, then the area in which buffers are bump-allocated.
struct SeriesFrame {
    Handle next, prev;
    int32_t size;  // area size plus this header
    Handle bump;   // next free byte (as a handle: the area is 4-aligned)
    Handle end;    // just past the area
    uint8_t* area() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) == 20);

// A big series: {next, prev, footprint} then an ordinary series buffer.
struct BigSeries {
    Handle next, prev;
    uint32_t size;
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigSeries) == 12);

constexpr uint32_t NODES_PER_FRAME = 10000;
constexpr int32_t DEFAULT_FRAME_SIZE = 0x100000;
constexpr int32_t BIG_THRESHOLD = 0x200000;
constexpr uint32_t FRAME_MIN_ROOM = 52428;  // 0xCCCC: a frame with less room left is passed over

struct MemoryRecord {
    uint64_t os_bytes;
    uint64_t peak_os_bytes;
    Handle first_node_frame, last_node_frame, current_node_frame;
    Handle first_series_frame, current_series_frame, last_series_frame;
    int32_t default_frame_size;
    int32_t next_frame_size;
    int32_t big_threshold;
    Handle big_series_list;
    Handle fixed_series_list;  // fixed series, chained through a word before their header
};

namespace memory {

// Under AddressSanitizer the free space of the series frames is poisoned, so that a pointer kept
// into a buffer that the collector freed or moved is reported where it is used.
void poison(const void* start, size_t bytes);
void unpoison(const void* start, size_t bytes);

extern uint8_t* arena;  // base of the reserved arena
extern MemoryRecord rec;

// Check mode (switched by the collector): buffers left behind are filled with DEAD_BYTE and
// poisoned, freed nodes are held back from reuse with DEAD_WORD in their slot, retired frames
// are kept filled for two collections, and (where NDEBUG is not defined) resolving a node checks
// that it is live and that its buffer names it back.
extern bool checking;
// Set while the boot library is evaluated: every buffer made meanwhile carries SER_LIBRARY, so
// that the code of library functions (their bodies and the blocks and paths in them) can be told
// from the user's code. A trace run fires no event for library code.
extern bool library_mode;
// Bumped whenever a buffer may have moved or a node may have been given back (a collection, a
// buffer moved to a larger one, a node freed): a buffer found through a node stays where it is,
// and a node keeps its meaning, for as long as the generation lasts. Lookup caches key on it.
extern uint64_t generation;
constexpr uint8_t DEAD_BYTE = 0xDB;
constexpr uint32_t DEAD_WORD = 0xDBDBDBDB;
constexpr size_t QUARANTINE_NODES = 4096;

inline void* at(Handle h) { return arena + (size_t(h) << 2); }
template <class T> inline T* at(Handle h) { return reinterpret_cast<T*>(arena + (size_t(h) << 2)); }
inline Handle handle_of(const void* p) {
    return Handle(size_t(static_cast<const uint8_t*>(p) - arena) >> 2);
}
inline uint32_t& node_slot(Handle node) { return *at<uint32_t>(node); }
// Why a handle is not a live node whose buffer names it back (null when it is one).
const char* node_problem(Handle node);
// The buffer of a live node, reported fatally ("*** GC check: ...") when it is not one.
SeriesBuffer* checked_buffer_of(Handle node);
inline SeriesBuffer* buffer_of(Handle node) {
#ifndef NDEBUG
    if (__builtin_expect(checking, false)) return checked_buffer_of(node);
#endif
    return at<SeriesBuffer>(node_slot(node));
}
bool in_arena(const void* p);
// Reports a failed check on stderr ("*** GC check: ...") and aborts.
[[noreturn]] void check_failed(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Brings up the arena and the record (the first frames are made by the start-up).
void init();
// Releases every frame and starts afresh; for tests.
void reset_for_tests();

// Operating-system blocks inside the arena, page-rounded with a 4-byte size prefix.
void* os_alloc(size_t size);
void os_free(void* block);
void* alloc_frame(size_t size);  // raises internal no-memory on failure
void free_frame(void* block);    // raises internal wrong-mem on failure
void fill(uint8_t* start, uint8_t* end, uint8_t byte);
// Caps the arena for tests of the out-of-memory paths; 0 lifts the cap.
void set_arena_limit_for_tests(uint64_t bytes);

// Nodes.
NodeFrame* make_node_frame(uint32_t n);
void unlink_node_frame(NodeFrame* frame);
Handle alloc_node();
void free_node(NodeFrame* frame, Handle node);
void update_node_frames();
NodeFrame* frame_of_node(Handle node);  // the frame holding a node, or null
// Check mode: the nodes held back from reuse, oldest first; release_quarantine frees them all.
size_t quarantined_nodes();
void release_quarantine();

// Series.
SeriesFrame* make_series_frame();
SeriesFrame* find_series_frame(uint32_t footprint);
SeriesBuffer* alloc_buffer(uint32_t count, uint32_t unit, int32_t offset);
Handle alloc_series(uint32_t count, uint32_t unit, int32_t offset);
Handle alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset);
Handle make_cells(uint32_t n);
Handle make_cells_unset(uint32_t n);
Handle make_bytes(uint32_t n);
Handle make_string_buffer(uint32_t n, uint32_t unit);
Handle make_bytes_filled(uint32_t n, uint8_t byte);
SeriesBuffer* alloc_big_series(uint32_t footprint);
void free_big_series(SeriesBuffer* header);

// Check mode. A buffer that its series left (by growth) gets its data area filled and poisoned;
// the collector verifies the fill when it reclaims the space, which catches writes through stale
// pointers. A frame the collector emptied is retired: unlinked, filled (node slots with
// DEAD_WORD), poisoned and kept until two more collections have run, then verified and freed.
void abandon_buffer(SeriesBuffer* buf);
void verify_dead_fill(SeriesBuffer* buf);
SeriesFrame* make_series_frame_sized(int32_t area);  // for the collector's fresh frames
void retire_series_frame(SeriesFrame* frame);
void retire_node_frame(NodeFrame* frame);
void release_retired(uint32_t older_than_cycle);  // verifies and frees frames retired before it
size_t retired_frames();

// Memory statistics. Mode 1 answers the bytes in use (nodes x 4, used bytes of the series frames,
// big series). Mode 2 or more also appends to the block `out` (rooted by the caller): a block of
// [free used capacity] per node frame, a block of [free used area] per series frame, a block of
// the big series' sizes, the bytes of the big series with their records, and the bytes of the
// tracked heap with its block headers.
double series_stats(Cell* out, int mode);

}  // namespace memory
}  // namespace kov
