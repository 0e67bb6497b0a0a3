// The garbage collector: precise mark and compact over the value arena, and the rooting helpers
// that every module uses to keep values alive and current across allocations.
//
// ==== Rooting: the rule every module follows ====
//
// The collector is precise and never scans the machine stack. Its roots are the root block, the
// symbol table, the argument stack up to its top, the call frames, the global context, the slot
// table, the cycle-detection stack, the registered root markers, and the rooted records below.
// Any series allocation may collect first (every one under KOV_GC_STRESS=1). A collection moves
// buffers; an explicit collection (recycle) also moves nodes and rewrites every node reference it
// can see. So:
//
// 1. A value that must survive an allocation lives in a rooted place: the argument stack (its
//    buffer never moves: pushed cells stay put), a block reachable from a root, or one of the
//    records below. A plain `Cell` local is a copy the collector cannot see: its node may be
//    freed or moved under it.
// 2. No `Cell*`, `SeriesBuffer*` or other pointer into a buffer survives a call that may
//    allocate, run Kov code, raise an error or report a change to an owner. Re-read the node
//    from the rooted cell and the buffer from the node afterwards (the accessors of `SeriesRef`
//    do exactly that on every call).
// 3. A write meant for a stored value goes to the stored cell, never to a rooted copy of it: a
//    copy is for reading across allocations. To change a cell inside a block after allocating,
//    keep the block and the position (`SeriesRef`) and write through `cell_at(i)`.
// 4. Roots are released in the reverse order of their making. They are scoped objects, so C++
//    scoping does this; debug builds check it.
//
// The records:
// - `Root`: one rooted cell. `Root r(value)` copies the value in; use `r.cell`, `r->data2`,
//   `r.get()`. The collector marks the cell and rewrites its node references when nodes move.
// - `SeriesRef`: a rooted series value (node and index), for walking or updating a series in
//   place. Every accessor resolves node -> buffer anew, so its answers are good until the next
//   allocation while the record stays good for the whole scope. Interpreter state (a block and
//   a position) is kept in one of these rather than in C++ locals.
// - `RootContext`, `RootTable`: a context node, a hash table node, rooted with everything they
//   reach. `handle()` answers the node, which an explicit collection may have changed: re-read
//   it after anything that may allocate.
// - `RootNode`: a bare node that no cell names (an internal array of a table, a buffer being
//   filled before its value cell exists); kind 0 for a buffer of bytes or words, 1 for a block.
// - `CollectorOff`: a scope in which no collection runs (allocation still works); the previous
//   switch comes back on every exit path. For code that must hold raw pointers across a few
//   allocations it controls; prefer rooting.
// - `NoAlloc` (checked when NDEBUG is not defined): a scope asserting that nothing allocates
//   while raw pointers are held; a series or node allocation inside it ends the process with a
//   report naming the scope. It must not enclose code that can raise (making an error allocates).
// - `boot::keep(value)`: a copy appended to the root block, alive for the whole run (the
//   runtime's own words and the values made during start-up); never for the values of one call.
//
// Routines document what they allocate. A routine that takes a `Cell*` reads it (and writes it,
// when it says so) before it allocates, unless its comment says that the cell must not move:
// then pass an argument-stack cell or a rooted one.
#pragma once

#include <cstdint>

#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::collector {

struct State {
    bool enabled = false;
    bool busy = false;
    bool stress = false;        // KOV_GC_STRESS=N: every Nth series allocation collects first
    uint32_t stress_period = 1;  // N (1: every allocation)
    uint32_t stress_count = 0;   // allocations since the last stress collection
    bool check = false;         // KOV_GC_CHECK=1: see set_check_mode
    bool evacuation = true;     // node-frame evacuation switch
    uint32_t cycles = 0;        // collections done
    uint32_t node_cycles = 0;   // collections that evacuated node frames
    uint32_t evacuation_setting = 5;
    uint64_t total_ns = 0;      // time spent collecting
    uint64_t last_ns = 0;       // duration of the last collection
};
extern State state;

void init();  // reads KOV_GC_STRESS and KOV_GC_CHECK
void init_counters();
// Check mode: every collection moves every live buffer into fresh series frames, an explicit
// collection also moves every node into fresh node frames (unless evacuation is off), what is
// left behind is filled and poisoned, freed nodes are held back from reuse, node resolution
// checks the buffer's back-reference (where NDEBUG is not defined), and every reachable cell is
// validated against the cell layout table. Switching it off releases what it holds back.
// (KOV_GC_CHECK=1 also turns stress collections on; set_check_mode leaves them as they are.)
void set_check_mode(bool on);
// An explicit collection (recycle): may also evacuate sparse node frames, which moves nodes.
void collect();
// A full collection that moves buffers but never nodes, whether or not the collector is enabled:
// the `recycle` native's, since the C++ frames of the running evaluation hold node handles.
void collect_keeping_nodes();
// A collection for the allocator, when enabled: moves buffers but never nodes. True when one ran.
bool collect_if_enabled();
bool active_q();

using RootMarker = void (*)();
void add_root_marker(RootMarker marker);
void remove_root_marker(RootMarker marker);

// Marking primitives (also for root markers).
bool mark_node(Handle* node_ref);
bool mark_block_node(Handle* node_ref);
void mark_series_value(Cell* cell);
void mark_context(Handle* ctx_ref);
void mark_cells(Cell* first, Cell* last);
void clear_mark(Handle node);
// The node a reference now names: its new node when the running collection evacuated it.
Handle forwarded(Handle node);

// Services of other modules that take part in a collection (null until they are set up).
extern void (*mark_hashtable)(Handle* table_ref);  // marks a hash table and what it holds
extern void (*image_marker)(Cell* image);
extern void (*prune_ownership)();                  // drops ownership of dead series
extern uint32_t self_symbol;                       // words spelt `self` mark their binding as a block

// ---- rooting (see the head of this file) ----

struct Root;
extern Root* root_chain;  // the innermost root; each links to the one made before it

// Reports a broken rooting rule (debug checks) and ends the process with runtime error 98.
[[noreturn, gnu::cold]] void rooting_violation(const char* what, const char* detail);

struct Root {
    Cell cell;
    Root* prev;
    Root() : cell{T_NONE, 0, 0, 0}, prev(root_chain) { root_chain = this; }
    explicit Root(const Cell& c) : cell(c), prev(root_chain) { root_chain = this; }
    ~Root() {
#ifndef NDEBUG
        if (root_chain != this) [[unlikely]]
            rooting_violation("a root was released while a root made after it was still held", nullptr);
#endif
        root_chain = prev;
    }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    Cell* operator->() { return &cell; }
    Cell& operator*() { return cell; }
    Cell* get() { return &cell; }
};

// A rooted series value: data1 the index, data2 the node, as in every series cell.
struct SeriesRef {
    Root root;
    explicit SeriesRef(const Cell& series) : root(series) {}
    SeriesRef(uint32_t type, Handle node, uint32_t index = 0) : root(Cell{type, index, node, 0}) {}
    Cell* value() { return &root.cell; }
    Handle node() const { return root.cell.data2; }
    uint32_t index() const { return root.cell.data1; }
    void set_index(uint32_t i) { root.cell.data1 = i; }
    void advance(uint32_t n = 1) { root.cell.data1 += n; }
    // The buffer and the places in it, resolved anew on each call (good until an allocation).
    SeriesBuffer* buffer() const { return memory::buffer_of(root.cell.data2); }
    uint32_t total() const { return buffer()->length(); }  // units from the buffer's head
    uint32_t length() const {                              // units from the index to the tail
        uint32_t t = total();
        return index() < t ? t - index() : 0;
    }
    bool at_tail() const { return index() >= total(); }
    uint8_t* head() const {  // the unit at the index
        SeriesBuffer* b = buffer();
        return b->head_ptr() + (size_t(index()) << b->shift());
    }
    Cell* head_cell() const { return buffer()->head_cell() + index(); }
    Cell* cell_at(uint32_t position) const { return buffer()->head_cell() + position; }
    Cell* tail_cell() const { return buffer()->tail_cell(); }
};

// A rooted context node (kept as {object!, node}); the collector marks its words and values.
struct RootContext {
    Root root;
    explicit RootContext(Handle ctx) : root(Cell{T_OBJECT, ctx, 0, 0}) {}
    Handle handle() const { return root.cell.data1; }
    Cell* context_cell() const { return memory::buffer_of(root.cell.data1)->head_cell(); }
};

// A rooted hash table node (kept as {hash!, 0, 0, node}); the collector marks every array of
// the table and, for kinds 0 to 2, its value block.
struct RootTable {
    Root root;
    explicit RootTable(Handle table) : root(Cell{T_HASH, 0, 0, table}) {}
    Handle handle() const { return root.cell.data3; }
};

// A rooted bare node: kind 0 a buffer of bytes or words (only the buffer is kept), 1 a block
// (its cells are marked too). `node` is rewritten when the node moves.
struct RootNode {
    Root root;
    Handle& node;
    explicit RootNode(Handle n, uint32_t kind = 0)
        : root(Cell{kind == 1 ? uint32_t(T_BLOCK) : uint32_t(T_BINARY), 0, n, 0}), node(root.cell.data2) {}
    RootNode(const RootNode&) = delete;
    RootNode& operator=(const RootNode&) = delete;
};

// No collection within the scope; the previous switch is restored on every exit path.
struct CollectorOff {
    bool saved;
    CollectorOff() : saved(state.enabled) { state.enabled = false; }
    ~CollectorOff() { state.enabled = saved; }
    CollectorOff(const CollectorOff&) = delete;
    CollectorOff& operator=(const CollectorOff&) = delete;
};

#ifndef NDEBUG
extern uint32_t no_alloc_depth;
extern const char* no_alloc_reason;
// Nothing may allocate within the scope; `reason` names it in the report.
struct NoAlloc {
    const char* saved;
    explicit NoAlloc(const char* reason) : saved(no_alloc_reason) {
        no_alloc_reason = reason;
        no_alloc_depth++;
    }
    ~NoAlloc() {
        no_alloc_depth--;
        no_alloc_reason = saved;
    }
    NoAlloc(const NoAlloc&) = delete;
    NoAlloc& operator=(const NoAlloc&) = delete;
};
// Called by the allocators with what they are about to allocate.
inline void check_alloc(const char* what) {
    if (no_alloc_depth) [[unlikely]]
        rooting_violation(what, no_alloc_reason);
}
#else
struct NoAlloc {
    explicit NoAlloc(const char*) {}
};
inline void check_alloc(const char*) {}
#endif

}  // namespace kov::collector
