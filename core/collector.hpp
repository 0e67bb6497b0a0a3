// The garbage collector: precise mark and compact over the value arena.
//
// Roots: the root block, the symbol table, the argument stack up to its top, the call frames,
// the global context, the slot table, the cycle-detection stack, the registered root markers,
// and the cells that C++ code roots for the span of a call (Root). Nothing scans the machine
// stack: C++ code holds live values in rooted cells across anything that may allocate and
// re-reads buffers through their nodes afterwards.
#pragma once

#include <cstdint>

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

// Cells rooted by C++ code for the span of a scope. The collector marks them and rewrites the
// node references in them when nodes move.
struct Root {
    Cell cell;
    Root* prev;
    Root();
    explicit Root(const Cell& c);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    Cell* operator->() { return &cell; }
    Cell* get() { return &cell; }
};

// A raw handle (a node that is not in a cell) rooted for a scope, for internal tables.
struct RootNode {
    Handle node;
    uint32_t kind;  // 0 bytes/words only, 1 block of cells
    RootNode* prev;
    RootNode(Handle n, uint32_t k = 0);
    ~RootNode();
    RootNode(const RootNode&) = delete;
    RootNode& operator=(const RootNode&) = delete;
};

}  // namespace kov::collector
