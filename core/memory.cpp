// The memory manager: the value arena, node frames, series frames, big and fixed series.
//
// The arena is one reservation of ARENA_BYTES; a handle is a byte offset / 4 into it, so any
// 4-aligned place in the arena has a handle and handle 0 (the never-used first page) is null.
// Operating-system blocks are page runs carved from the arena: first fit in the list of
// released runs, else taken from the top. Every block starts with a 4-byte prefix that holds its
// page-rounded size (blocks stay below 2 GiB).
#include "core/memory.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "platform/vmem.hpp"

namespace kov::memory {

namespace {

constexpr size_t PAGE = 4096;
constexpr size_t ARENA_BYTES = size_t(16) << 30;  // handles are offsets / 4: 16 GiB addressable

size_t arena_top = PAGE;           // first never-used byte offset
uint64_t arena_limit = ARENA_BYTES;
std::map<size_t, size_t> free_runs;  // released page runs: offset -> length

size_t take_run(size_t bytes) {
    for (auto it = free_runs.begin(); it != free_runs.end(); ++it) {
        if (it->second >= bytes) {
            size_t off = it->first, len = it->second;
            free_runs.erase(it);
            if (len > bytes) free_runs.emplace(off + bytes, len - bytes);
            return off;
        }
    }
    if (arena_top + bytes > arena_limit) return 0;
    size_t off = arena_top;
    arena_top += bytes;
    return off;
}

void give_run(size_t off, size_t bytes) {
    auto next = free_runs.lower_bound(off);
    if (next != free_runs.end() && off + bytes == next->first) {
        bytes += next->second;
        next = free_runs.erase(next);
    }
    if (next != free_runs.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == off) {
            prev->second += bytes;
            return;
        }
    }
    free_runs.emplace(off, bytes);
}

uint32_t round16(uint64_t n) { return uint32_t((n + 15) & ~uint64_t(15)); }

// Check mode: freed nodes held back from reuse (oldest first), and frames the collector emptied,
// kept filled until they have aged.
std::deque<Handle> quarantine;
struct Retired {
    void* block;
    bool nodes;      // a node frame (else a series frame)
    uint32_t cycle;  // the collection that retired it
};
std::vector<Retired> retired;
std::vector<SeriesFrame*> spare_frames;  // verified retired series frames, reused by size
constexpr size_t SPARE_FRAMES = 16;
// Heap growth between allocator collections (see defer_collection).
uint32_t measured_cycle = 0xFFFFFFFFu;  // collector cycle count when live_bytes was measured
uint64_t live_bytes = 0;                // bytes in use in the series frames after that collection
uint64_t grown_bytes = 0;               // frame bytes made since then without collecting

}  // namespace

uint8_t* arena = nullptr;
MemoryRecord rec{};
bool checking = false;
bool library_mode = false;
uint64_t generation = 0;

#if defined(__SANITIZE_ADDRESS__)
void poison(const void* start, size_t bytes) { ASAN_POISON_MEMORY_REGION(start, bytes); }
void unpoison(const void* start, size_t bytes) { ASAN_UNPOISON_MEMORY_REGION(start, bytes); }
#else
void poison(const void*, size_t) {}
void unpoison(const void*, size_t) {}
#endif

bool in_arena(const void* p) {
    auto b = static_cast<const uint8_t*>(p);
    return arena && b >= arena && b < arena + arena_top;
}

void init() {
    if (!arena) {
        arena = vmem::reserve(ARENA_BYTES);
        if (!arena) runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0);
        if (!vmem::commit(arena, PAGE)) runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0);
    }
    rec = MemoryRecord{};
    ++generation;  // a fresh start: nothing found before it is good
    measured_cycle = 0xFFFFFFFFu;
    live_bytes = grown_bytes = 0;
    rec.default_frame_size = DEFAULT_FRAME_SIZE;
    rec.next_frame_size = DEFAULT_FRAME_SIZE;
    rec.big_threshold = BIG_THRESHOLD;
}

void reset_for_tests() {
    if (arena && arena_top > PAGE) {
        unpoison(arena + PAGE, arena_top - PAGE);
        vmem::decommit(arena + PAGE, arena_top - PAGE);
    }
    arena_top = PAGE;
    ++generation;
    free_runs.clear();
    quarantine.clear();
    retired.clear();
    spare_frames.clear();
    init();
}

void set_arena_limit_for_tests(uint64_t bytes) { arena_limit = bytes ? bytes : ARENA_BYTES; }

// ---- operating-system blocks ----

void* os_alloc(size_t size) {
    size_t rounded = (size + 4 + PAGE - 1) & ~(PAGE - 1);
    if (rounded > 0x7FFFF000u) runtime::throw_code(THROW_OS_ALLOC);
    size_t off = take_run(rounded);
    if (!off) runtime::throw_code(THROW_OS_ALLOC);
    if (!vmem::commit(arena + off, rounded)) {
        give_run(off, rounded);
        runtime::throw_code(THROW_OS_ALLOC);
    }
    unpoison(arena + off, rounded);
    *reinterpret_cast<uint32_t*>(arena + off) = uint32_t(rounded);
    return arena + off + 4;
}

void os_free(void* block) {
    uint8_t* start = static_cast<uint8_t*>(block) - 4;
    if (!in_arena(start) || (size_t(start - arena) & (PAGE - 1))) runtime::throw_code(THROW_OS_FREE);
    size_t rounded = *reinterpret_cast<uint32_t*>(start);
    if (!vmem::decommit(start, rounded)) runtime::throw_code(THROW_OS_FREE);
    give_run(size_t(start - arena), rounded);
}

// The throw codes of the operating-system block routines, from THROW_OS_FREE to THROW_OS_LIMIT.
static bool os_failure(const Unwind& u) { return u.code >= THROW_OS_FREE && u.code <= THROW_OS_LIMIT; }

void* alloc_frame(size_t size) {
    size_t rounded = (size + 4 + PAGE - 1) & ~(PAGE - 1);
    try {
        void* p = os_alloc(size);
        rec.os_bytes += rounded;
        if (rec.os_bytes > rec.peak_os_bytes) rec.peak_os_bytes = rec.os_bytes;
        return p;
    } catch (const Unwind& u) {
        if (!os_failure(u)) throw;
    }
    stack::raise_error("internal", "no-memory");
}

void free_frame(void* block) {
    uint32_t rounded = *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(block) - 4);
    try {
        os_free(block);
        rec.os_bytes -= rounded;
        return;
    } catch (const Unwind& u) {
        if (!os_failure(u)) throw;
    }
    stack::raise_error("internal", "wrong-mem");
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}

// ---- check mode: resolving nodes ----

void check_failed(const char* fmt, ...) {
    std::fputs("*** GC check: ", stderr);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

static bool node_in_frame(const NodeFrame* f, uint32_t value) {
    Handle first = handle_of(const_cast<NodeFrame*>(f)->nodes());
    return value >= first && value < first + f->capacity;
}

const char* node_problem(Handle node) {
    NodeFrame* f = frame_of_node(node);
    if (!f) return "not a node of any live node frame";
    uint32_t v = node_slot(node);
    if (v == DEAD_WORD) return "freed (held back from reuse)";
    if (v == 0 || node_in_frame(f, v)) return "free";
    if (uint64_t(v) * 4 < PAGE || uint64_t(v) * 4 + sizeof(SeriesBuffer) > arena_top)
        return "its buffer handle lies outside the arena";
    SeriesBuffer* b = at<SeriesBuffer>(v);
    if (b->node != node) return "its buffer names another node";
    if (!(b->flags & SER_IN_USE)) return "its buffer is not in use";
    return nullptr;
}

SeriesBuffer* checked_buffer_of(Handle node) {
    if (const char* why = node_problem(node)) check_failed("stale node %u: %s", node, why);
    return at<SeriesBuffer>(node_slot(node));
}

// ---- nodes ----

static void link_free_nodes(NodeFrame* f) {
    uint32_t* nodes = f->nodes();
    Handle first = handle_of(nodes);
    for (uint32_t i = 0; i + 1 < f->capacity; i++) nodes[i] = first + i + 1;
    if (f->capacity) nodes[f->capacity - 1] = 0;
    f->first_free = f->capacity ? first : 0;
}

NodeFrame* make_node_frame(uint32_t n) {
    auto* f = static_cast<NodeFrame*>(alloc_frame(sizeof(NodeFrame) + size_t(n) * 4));
    *f = NodeFrame{};
    f->capacity = n;
    f->stamp = collector::state.cycles;
    Handle h = handle_of(f);
    if (!rec.first_node_frame) {
        rec.first_node_frame = rec.last_node_frame = rec.current_node_frame = h;
    } else {
        f->prev = rec.last_node_frame;
        at<NodeFrame>(rec.last_node_frame)->next = h;
        rec.last_node_frame = h;
    }
    link_free_nodes(f);
    return f;
}

static void unlink_only(NodeFrame* f) {
    Handle h = handle_of(f);
    if (f->prev) at<NodeFrame>(f->prev)->next = f->next; else rec.first_node_frame = f->next;
    if (f->next) at<NodeFrame>(f->next)->prev = f->prev; else rec.last_node_frame = f->prev;
    if (rec.current_node_frame == h) rec.current_node_frame = rec.last_node_frame;
}

void unlink_node_frame(NodeFrame* f) {
    if (checking) return retire_node_frame(f);
    unlink_only(f);
    free_frame(f);
}

Handle alloc_node() {
    collector::check_alloc("a node allocated");
    NodeFrame* f = rec.current_node_frame ? at<NodeFrame>(rec.current_node_frame) : nullptr;
    if (!f || !f->first_free || f->to_free) {
        f = nullptr;
        for (Handle h = rec.first_node_frame; h; h = at<NodeFrame>(h)->next) {
            NodeFrame* g = at<NodeFrame>(h);
            if (g->first_free && !g->to_free) { f = g; break; }
        }
        if (!f) f = make_node_frame(NODES_PER_FRAME);
        rec.current_node_frame = handle_of(f);
    }
    Handle node = f->first_free;
    uint32_t& slot = node_slot(node);
    f->first_free = slot;
    slot = 0;
    f->used++;
    return node;
}

static void release_node(NodeFrame* f, Handle node) {
    ++generation;
    node_slot(node) = f->first_free;
    f->first_free = node;
    f->used--;
}

void free_node(NodeFrame* f, Handle node) {
    ++generation;
    if (!checking) return release_node(f, node);
    // Held back: the node stays counted as used and its slot names no buffer.
    node_slot(node) = DEAD_WORD;
    quarantine.push_back(node);
    if (quarantine.size() > QUARANTINE_NODES) {
        Handle oldest = quarantine.front();
        quarantine.pop_front();
        NodeFrame* g = frame_of_node(oldest);
        if (g && node_slot(oldest) == DEAD_WORD) release_node(g, oldest);
    }
}

size_t quarantined_nodes() { return quarantine.size(); }

void release_quarantine() {
    for (Handle node : quarantine) {
        NodeFrame* g = frame_of_node(node);
        if (g && node_slot(node) == DEAD_WORD) release_node(g, node);
    }
    quarantine.clear();
}

NodeFrame* frame_of_node(Handle node) {
    for (Handle h = rec.first_node_frame; h; h = at<NodeFrame>(h)->next) {
        NodeFrame* f = at<NodeFrame>(h);
        Handle first = handle_of(f->nodes());
        if (node >= first && node < first + f->capacity) return f;
    }
    return nullptr;
}

void update_node_frames() {
    bool current_set = false;
    Handle h = rec.first_node_frame;
    while (h) {
        NodeFrame* f = at<NodeFrame>(h);
        Handle next = f->next;
        if (f->used == 0 || f->to_free) {
            unlink_node_frame(f);
        } else {
            if (!current_set && f->used < f->capacity) {
                rec.current_node_frame = h;
                current_set = true;
            }
            f->history = (f->history << 1) | (f->last_used == f->used ? 1u : 0u);
            f->last_used = f->used;
        }
        h = next;
    }
    if (!current_set) rec.current_node_frame = rec.last_node_frame;
}

// ---- series frames ----

SeriesFrame* make_series_frame() {
    int32_t a = rec.next_frame_size;
    if (a < rec.big_threshold) rec.next_frame_size = 2 * a;
    return make_series_frame_sized(a);
}

SeriesFrame* make_series_frame_sized(int32_t a) {
    SeriesFrame* f = nullptr;
    for (auto it = spare_frames.begin(); it != spare_frames.end(); ++it) {
        if ((*it)->size == a + int32_t(sizeof(SeriesFrame))) {
            f = *it;
            spare_frames.erase(it);
            break;
        }
    }
    if (!f) f = static_cast<SeriesFrame*>(alloc_frame(size_t(a) + sizeof(SeriesFrame)));
    *f = SeriesFrame{};
    f->size = a + int32_t(sizeof(SeriesFrame));
    f->bump = handle_of(f->area());
    f->end = handle_of(f->area() + a);
    poison(f->area(), size_t(a));
    Handle h = handle_of(f);
    if (!rec.first_series_frame) {
        rec.first_series_frame = rec.last_series_frame = rec.current_series_frame = h;
        return f;
    }
    // Keep the list in address order.
    Handle prev = 0, cur = rec.first_series_frame;
    while (cur && cur < h) { prev = cur; cur = at<SeriesFrame>(cur)->next; }
    f->prev = prev;
    f->next = cur;
    if (prev) at<SeriesFrame>(prev)->next = h; else rec.first_series_frame = h;
    if (cur) at<SeriesFrame>(cur)->prev = h; else rec.last_series_frame = h;
    return f;
}

static uint8_t* end_of(SeriesFrame* f) { return static_cast<uint8_t*>(at(f->end)); }

static bool has_room(SeriesFrame* f, uint32_t footprint) {
    return uint64_t(f->bump) * 4 + footprint < uint64_t(f->end) * 4;
}

SeriesFrame* find_series_frame(uint32_t footprint) {
    for (Handle h = rec.first_series_frame; h; h = at<SeriesFrame>(h)->next) {
        SeriesFrame* f = at<SeriesFrame>(h);
        if (has_room(f, footprint)) return f;
    }
    return nullptr;
}

// Heap growth between allocator collections. A collection marks every live series, so when most
// of what was allocated survives, collecting each time the frames fill up (or before each big
// series) would cost the whole live set again for every few frames allocated. After a
// collection the bytes still in use (frames and big series) are measured, and new frames and big
// series are made without collecting until they add half that much: the marking work then stays
// proportional to the allocation.
namespace {

void measure_live() {
    uint64_t used = 0;
    for (Handle h = rec.first_series_frame; h; h = at<SeriesFrame>(h)->next) {
        SeriesFrame* f = at<SeriesFrame>(h);
        used += uint64_t(f->bump - handle_of(f->area())) * 4;
    }
    for (Handle h = rec.big_series_list; h; h = at<BigSeries>(h)->next) used += at<BigSeries>(h)->size;
    live_bytes = used;
    grown_bytes = 0;
    measured_cycle = collector::state.cycles;
}

bool defer_collection() {
    return measured_cycle == collector::state.cycles && grown_bytes < live_bytes / 2;
}
}  // namespace

static SeriesBuffer* alloc_big_buffer(uint32_t footprint) {
    if (!defer_collection() && collector::collect_if_enabled()) measure_live();
    grown_bytes += footprint;
    return alloc_big_series(footprint);
}

SeriesBuffer* alloc_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    uint64_t bytes = uint64_t(count) * unit;
    if (bytes > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    uint32_t size = std::max<uint32_t>(16, round16(bytes));
    uint32_t footprint = size + 24;
    collector::check_alloc("a series buffer allocated");
    if (collector::state.stress && ++collector::state.stress_count >= collector::state.stress_period) {
        collector::state.stress_count = 0;
        collector::collect_if_enabled();
    }

    SeriesBuffer* buf;
    bool big = footprint >= uint32_t(rec.big_threshold);
    if (big) {
        buf = alloc_big_buffer(footprint);
    } else {
        SeriesFrame* f = rec.current_series_frame ? at<SeriesFrame>(rec.current_series_frame) : nullptr;
        if (!f || !has_room(f, footprint)) {
            f = find_series_frame(footprint);
            if (!f) {
                if (!defer_collection() && collector::collect_if_enabled()) {
                    measure_live();
                    f = find_series_frame(footprint);
                    if (f && uint64_t(f->end - f->bump) * 4 < FRAME_MIN_ROOM) f = nullptr;
                }
                if (!f) {
                    if (int64_t(footprint) >= rec.next_frame_size) rec.next_frame_size = rec.big_threshold;
                    f = make_series_frame();
                    grown_bytes += uint64_t(f->size);
                }
            }
            rec.current_series_frame = handle_of(f);
        }
        buf = at<SeriesBuffer>(f->bump);
        unpoison(buf, footprint);
        f->bump += footprint / 4;
    }
    uint32_t flags = unit | SER_IN_USE | (big ? SER_BIG : 0) | (library_mode ? SER_LIBRARY : 0);
    if (offset == -1) {
        offset = int32_t(size / 2);
        flags |= SER_ALLOCATED | SER_MIDDLE;
    } else {
        flags |= SER_ALLOCATED;
    }
    buf->flags = flags;
    buf->node = 0;
    buf->size = int32_t(size);
    buf->head = buf->tail = uint32_t(offset);
    return buf;
}

Handle alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    SeriesBuffer* buf = alloc_buffer(count, unit, offset);
    Handle node = alloc_node();
    node_slot(node) = handle_of(buf);
    buf->node = node;
    return node;
}

Handle alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset) {
    uint64_t bytes = uint64_t(count) * unit;
    if (bytes > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    uint32_t size = std::max<uint32_t>(16, round16(bytes));
    // {next fixed series} then the header and the data.
    auto* link = static_cast<uint32_t*>(alloc_frame(4 + sizeof(SeriesBuffer) + size));
    *link = rec.fixed_series_list;
    rec.fixed_series_list = handle_of(link);
    auto* buf = reinterpret_cast<SeriesBuffer*>(link + 1);
    if (offset == -1) offset = int32_t(size / 2);
    buf->flags = unit | SER_IN_USE | SER_ALLOCATED | SER_FIXED;
    buf->size = int32_t(size);
    buf->head = buf->tail = uint32_t(offset);
    Handle node = alloc_node();
    node_slot(node) = handle_of(buf);
    buf->node = node;
    return node;
}

Handle make_cells(uint32_t n) { return alloc_series(n, 16, 0); }

Handle make_cells_unset(uint32_t n) {
    Handle node = make_cells(n);
    SeriesBuffer* b = buffer_of(node);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0, k = uint32_t(b->size) / 16; i < k; i++) c[i] = Cell{T_UNSET, 0, 0, 0};
    return node;
}

Handle make_bytes(uint32_t n) { return alloc_series(n ? n : 16, 1, 0); }

Handle make_string_buffer(uint32_t n, uint32_t unit) {
    if (n == 0) n = 16u >> (unit >> 1);
    return alloc_series(n, unit, 0);
}

Handle make_bytes_filled(uint32_t n, uint8_t byte) {
    Handle node = make_bytes(n);
    SeriesBuffer* b = buffer_of(node);
    std::memset(b->data(), byte, size_t(b->size));
    return node;
}

SeriesBuffer* alloc_big_series(uint32_t footprint) {
    auto* big = static_cast<BigSeries*>(alloc_frame(size_t(footprint) + sizeof(BigSeries)));
    big->next = 0;
    big->prev = 0;
    big->size = footprint;
    Handle h = handle_of(big);
    if (!rec.big_series_list) {
        rec.big_series_list = h;
    } else {
        Handle last = rec.big_series_list;
        while (at<BigSeries>(last)->next) last = at<BigSeries>(last)->next;
        at<BigSeries>(last)->next = h;
        big->prev = last;
    }
    return big->buffer();
}

void free_big_series(SeriesBuffer* header) {
    auto* big = reinterpret_cast<BigSeries*>(header) - 1;
    if (big->prev) at<BigSeries>(big->prev)->next = big->next; else rec.big_series_list = big->next;
    if (big->next) at<BigSeries>(big->next)->prev = big->prev;
    free_frame(big);
}

// ---- check mode: abandoned buffers and retired frames ----

void abandon_buffer(SeriesBuffer* b) {
    if (!checking) return;
    size_t bytes = size_t(b->size) + 4;  // the data area and the spare word
    std::memset(b->data(), DEAD_BYTE, bytes);
    b->flags |= SER_DEAD_FILLED;
    poison(b->data(), bytes);
}

static const uint8_t* first_live_byte(const uint8_t* p, size_t n) {
    static uint8_t dead[4096];
    if (dead[0] != DEAD_BYTE) std::memset(dead, DEAD_BYTE, sizeof dead);
    for (size_t done = 0; done < n;) {
        size_t k = std::min(sizeof dead, n - done);
        if (std::memcmp(p + done, dead, k) != 0) {
            for (size_t i = done; i < done + k; i++)
                if (p[i] != DEAD_BYTE) return p + i;
        }
        done += k;
    }
    return nullptr;
}

void verify_dead_fill(SeriesBuffer* b) {
    if (!(b->flags & SER_DEAD_FILLED)) return;
    size_t bytes = size_t(b->size) + 4;
    unpoison(b->data(), bytes);
    if (const uint8_t* p = first_live_byte(b->data(), bytes))
        check_failed("write through a stale pointer into buffer %u, which its series left "
                     "(byte %zu changed)", handle_of(b), size_t(p - b->data()));
}

void retire_series_frame(SeriesFrame* f) {
    Handle h = handle_of(f);
    if (f->prev) at<SeriesFrame>(f->prev)->next = f->next; else rec.first_series_frame = f->next;
    if (f->next) at<SeriesFrame>(f->next)->prev = f->prev; else rec.last_series_frame = f->prev;
    if (rec.current_series_frame == h) rec.current_series_frame = rec.first_series_frame;
    // Only the used part can be reached through a stale pointer; the rest stays as it is.
    size_t bytes = size_t(static_cast<uint8_t*>(at(f->bump)) - f->area());
    unpoison(f->area(), bytes);
    std::memset(f->area(), DEAD_BYTE, bytes);
    poison(f->area(), size_t(end_of(f) - f->area()));
    retired.push_back({f, false, collector::state.cycles});
}

void retire_node_frame(NodeFrame* f) {
    unlink_only(f);
    std::erase_if(quarantine, [f](Handle n) { return node_in_frame(f, n); });
    std::fill(f->nodes(), f->nodes() + f->capacity, DEAD_WORD);
    poison(f->nodes(), size_t(f->capacity) * 4);
    retired.push_back({f, true, collector::state.cycles});
}

void release_retired(uint32_t older_than) {
    size_t kept = 0;
    for (Retired& r : retired) {
        if (r.cycle >= older_than) {
            retired[kept++] = r;
            continue;
        }
        const uint8_t* start;
        size_t bytes;
        if (r.nodes) {
            auto* f = static_cast<NodeFrame*>(r.block);
            start = reinterpret_cast<uint8_t*>(f->nodes());
            bytes = size_t(f->capacity) * 4;
        } else {
            auto* f = static_cast<SeriesFrame*>(r.block);
            start = f->area();
            bytes = size_t(static_cast<uint8_t*>(at(f->bump)) - f->area());
        }
        unpoison(start, bytes);
        if (const uint8_t* p = first_live_byte(start, bytes))
            check_failed("write through a stale pointer into a %s frame the collector emptied "
                         "(handle %u)", r.nodes ? "node" : "series", handle_of(p));
        if (!r.nodes && spare_frames.size() < SPARE_FRAMES && older_than != 0xFFFFFFFFu) {
            poison(start, bytes);
            spare_frames.push_back(static_cast<SeriesFrame*>(r.block));  // saves a fresh commit
        } else {
            free_frame(r.block);
        }
    }
    retired.resize(kept);
    if (older_than == 0xFFFFFFFFu) {
        for (SeriesFrame* f : spare_frames) free_frame(f);
        spare_frames.clear();
    }
}

size_t retired_frames() { return retired.size(); }

// ---- statistics ----

namespace {

Cell number_cell(uint64_t n) {
    Cell c{T_INTEGER, 0, uint32_t(n), 0};
    if (n > 2147483647u) {
        c.header = T_FLOAT;
        c.set_float(double(n));
    }
    return c;
}

// Appends a new block of `n` cells to `out` (new-line marked) and answers its node.
Handle append_block(Cell* out, uint32_t n, bool new_line) {
    Handle node = make_cells(n);
    Cell* c = buffer::alloc_block_tail(out);
    *c = Cell{T_BLOCK | (new_line ? CELL_NEW_LINE : 0u), 0, node, 0};
    return node;
}

void append_number(Handle block, uint64_t n, bool new_line) {
    Cell* c = buffer::alloc_tail_cell(block);
    *c = number_cell(n);
    if (new_line) c->header |= CELL_NEW_LINE;
}

}  // namespace

double series_stats(Cell* out, int mode) {
    // The collector is off while the report is built, and its switch is restored on every exit
    // path (building the report allocates, which may raise no-memory).
    struct Switch {
        bool enabled = collector::state.enabled;
        Switch() { collector::state.enabled = false; }
        ~Switch() { collector::state.enabled = enabled; }
    } off;
    uint64_t total = 0, big_bytes = 0;
    for (Handle h = rec.first_node_frame; h; h = at<NodeFrame>(h)->next) total += uint64_t(at<NodeFrame>(h)->used) * 4;
    for (Handle h = rec.first_series_frame; h; h = at<SeriesFrame>(h)->next) {
        SeriesFrame* f = at<SeriesFrame>(h);
        total += uint64_t(f->bump - handle_of(f->area())) * 4;
    }
    for (Handle h = rec.big_series_list; h; h = at<BigSeries>(h)->next) {
        total += at<BigSeries>(h)->size;
        big_bytes += at<BigSeries>(h)->size + sizeof(BigSeries);
    }
    if (mode >= 2 && out) {
        Handle nodes = append_block(out, 4, false);
        for (Handle h = rec.first_node_frame; h; h = at<NodeFrame>(h)->next) {
            NodeFrame* f = at<NodeFrame>(h);
            uint32_t fr = f->capacity - f->used, used = f->used, capn = f->capacity;
            Cell block{T_BLOCK | CELL_NEW_LINE, 0, make_cells(3), 0};
            *buffer::alloc_tail_cell(nodes) = block;
            append_number(block.data2, fr, false);
            append_number(block.data2, used, false);
            append_number(block.data2, capn, false);
        }
        Handle frames = append_block(out, 4, false);
        for (Handle h = rec.first_series_frame; h; h = at<SeriesFrame>(h)->next) {
            SeriesFrame* f = at<SeriesFrame>(h);
            uint64_t area = uint64_t(f->end - handle_of(f->area())) * 4;
            uint64_t used = uint64_t(f->bump - handle_of(f->area())) * 4;
            Cell block{T_BLOCK | CELL_NEW_LINE, 0, make_cells(3), 0};
            *buffer::alloc_tail_cell(frames) = block;
            append_number(block.data2, area - used, false);
            append_number(block.data2, used, false);
            append_number(block.data2, area, false);
        }
        Handle bigs = append_block(out, 4, false);
        for (Handle h = rec.big_series_list; h; h = at<BigSeries>(h)->next)
            append_number(bigs, at<BigSeries>(h)->size, true);
        *buffer::alloc_block_tail(out) = number_cell(big_bytes);
        *buffer::alloc_block_tail(out) = number_cell(runtime::tracked_bytes());
    }
    return double(total);
}

}  // namespace kov::memory
