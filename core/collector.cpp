// The garbage collector: marks every buffer reachable from the roots with an explicit work list,
// then compacts the series frames in address order (sliding live runs down, or into the free
// tail of the frame below), frees unmarked big series, returns dead nodes to their frames and
// releases empty node frames. In check mode it copies every live buffer into fresh frames instead,
// moves every node on explicit collections, and validates every reachable cell.
#include "core/collector.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/boot.hpp"
#include "core/cell_layout.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/resources.hpp"
#include "core/runtime.hpp"
#include "core/type_registry.hpp"
#include "core/slots.hpp"
#include "core/stack.hpp"

namespace kov::collector {

State state;

namespace {

std::vector<RootMarker> markers;
std::vector<Handle> work;          // block nodes whose cells are still to be marked
std::vector<Handle> pending_free;  // nodes of dead buffers
constexpr size_t PENDING_CAPACITY = 20000;
// Old node -> new node, present only during a collection that evacuated node frames.
std::unordered_map<Handle, Handle>* relocation = nullptr;

inline void forward(Handle* ref) {
    if (relocation) {
        auto it = relocation->find(*ref);
        if (it != relocation->end()) *ref = it->second;
    }
}

Handle forward_value(Handle h) {
    forward(&h);
    return h;
}

inline SeriesBuffer* buf(Handle node) { return memory::buffer_of(node); }

// Returns the queued nodes to their frames' free chains; each node's frame is found by a binary
// search over the frames sorted by address.
void flush_free_nodes() {
    if (pending_free.empty()) return;
    std::vector<NodeFrame*> frames;
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next)
        frames.push_back(memory::at<NodeFrame>(h));
    std::sort(frames.begin(), frames.end());
    // Dead nodes come in runs from one frame: try the frame of the previous node first.
    NodeFrame* last = nullptr;
    Handle last_first = 0, last_end = 0;
    for (Handle node : pending_free) {
        if (!(node >= last_first && node < last_end)) {
            auto it = std::upper_bound(frames.begin(), frames.end(), node, [](Handle n, NodeFrame* f) {
                return n < memory::handle_of(f->nodes());
            });
            if (it == frames.begin()) continue;
            last = *(it - 1);
            last_first = memory::handle_of(last->nodes());
            last_end = last_first + last->capacity;
            if (node >= last_end) continue;
        }
        memory::free_node(last, node);
    }
    pending_free.clear();
}

void queue_free_node(Handle node) {
    if (pending_free.size() >= PENDING_CAPACITY) flush_free_nodes();
    pending_free.push_back(node);
}

std::vector<Handle> scanned;  // check mode: the blocks whose cells the marker walked

void mark_cells_of(Cell* first, Cell* last, bool validate);

void drain() {
    while (!work.empty()) {
        Handle node = work.back();
        work.pop_back();
        if (state.check) scanned.push_back(node);  // validated once the collection is done
        SeriesBuffer* b = buf(node);
        mark_cells_of(b->head_cell(), b->tail_cell(), false);
    }
}

// Reads KOV_GC_STRESS-like settings: a positive decimal number, else 0.
uint32_t env_number(const char* name) {
    const char* s = std::getenv(name);
    if (!s || !*s) return 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(s, &end, 10);
    if (*end || v > 0xFFFFFFFFul) return 0;
    return uint32_t(v);
}

}  // namespace

void (*mark_hashtable)(Handle* table_ref) = nullptr;
uint32_t self_symbol = 0;

void init() {
    uint32_t period = env_number("KOV_GC_STRESS");
    bool check = env_number("KOV_GC_CHECK") == 1;
    if (check && !period) period = 1;
    state.stress = period != 0;
    state.stress_period = period ? period : 1;
    state.stress_count = 0;
    set_check_mode(check);
}

void set_check_mode(bool on) {
    state.check = on;
    memory::checking = on;
    if (!on) {
        memory::release_quarantine();
        memory::release_retired(0xFFFFFFFFu);
    }
}

void init_counters() {
    state.cycles = 0;
    state.node_cycles = 0;
    state.evacuation_setting = 5;
}

bool active_q() { return state.busy; }

void add_root_marker(RootMarker m) { markers.push_back(m); }

void remove_root_marker(RootMarker m) {
    auto it = std::find(markers.begin(), markers.end(), m);
    if (it != markers.end()) *it = nullptr;
}

// ---- roots held by C++ code ----

Root* root_chain = nullptr;

#ifndef NDEBUG
uint32_t no_alloc_depth = 0;
const char* no_alloc_reason = nullptr;
#endif

void rooting_violation(const char* what, const char* detail) {
    std::string text = "*** Rooting rule broken: ";
    text += what;
    if (detail) {
        text += " inside NoAlloc (";
        text += detail;
        text += ")";
    }
    text += "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    runtime::runtime_error(FATAL_ASSERTION, 0);
}

// ---- marking ----

bool mark_node(Handle* ref) {
    if (!*ref) return false;
    forward(ref);
    SeriesBuffer* b = buf(*ref);
    if (b->flags & SER_MARK) return false;
    b->flags |= SER_MARK;
    return true;
}

bool mark_block_node(Handle* ref) {
    if (!mark_node(ref)) return false;
    work.push_back(*ref);
    return true;
}

void mark_series_value(Cell* c) { mark_block_node(&c->data2); }

void mark_context(Handle* ref) {
    if (!mark_node(ref)) return;
    SeriesBuffer* b = buf(*ref);
    Cell* ctx = b->head_cell();
    if (mark_hashtable) mark_hashtable(&ctx->data1); else mark_block_node(&ctx->data1);
    if (!(ctx->header & CTX_ON_STACK)) mark_block_node(&ctx->data2);
    if (b->used() >= 32) mark_cells(ctx + 1, ctx + 2);
}

namespace {

inline Handle* word_ref(Cell* c, int w) { return w == 0 ? &c->data1 : w == 1 ? &c->data2 : &c->data3; }

// Header 0 (a cell never written), the ids of value.hpp, the hash tables' probe id, and ids that
// the type registry knows by name.
bool type_known(uint32_t t) {
    if (t <= T_EVENT || t == TYPE_COUNT_MAX) return true;
    return t <= type_registry::top_id && t <= TYPE_COUNT_MAX && type_registry::names[t].name;
}

// Check mode: a cell's type must be known and every reference in it must name a live node whose
// buffer names it back and has a unit that fits the reference (see cell_layout).
void validate_cell(const Cell* c) {
    using cell_layout::Ref;
    uint32_t t = c->type();
    if (!type_known(t))
        memory::check_failed("cell of unknown type %u (header %08x) at %p", t, c->header,
                             static_cast<const void*>(c));
    const cell_layout::Layout& l = cell_layout::of(t);
    for (int w = 0; w < 3; w++) {
        Ref kind = l.data[w];
        if (kind == Ref::NONE) continue;
        if (kind == Ref::RESOURCE) {
            int32_t slot = int32_t(c->data3);
            if (slot >= 0 && uint32_t(slot) >= resources::capacity())
                memory::check_failed("handle! cell names resource slot %d of %u", slot,
                                     resources::capacity());
            continue;
        }
        Handle node = cell_layout::node_in(*c, w, kind);
        if (!node) continue;
        if (const char* why = memory::node_problem(node))
            memory::check_failed("stale node %u in data%d of a cell of type %u: %s", node, w + 1, t, why);
        SeriesBuffer* b = memory::at<SeriesBuffer>(memory::node_slot(node));
        if (!cell_layout::unit_fits(kind, b->unit()))
            memory::check_failed("node %u in data%d of a cell of type %u names a buffer of unit %u",
                                 node, w + 1, t, b->unit());
        bool context = kind == Ref::CONTEXT ||
                       (kind == Ref::BINDING && !(self_symbol && c->data2 == self_symbol));
        if (context && (b->used() < 16 || !b->head_cell()->is(T_CONTEXT)))
            memory::check_failed("node %u in data%d of a cell of type %u is not a context", node,
                                 w + 1, t);
    }
}

// Marks what the cells refer to; with `validate`, checks each cell as well (cells outside the
// blocks the marker walks, which are checked after the collection).
void mark_cells_of(Cell* first, Cell* last, bool validate) {
    using cell_layout::Ref;
    for (Cell* c = first; c < last; c++) {
        const cell_layout::Layout& l = cell_layout::of(c->type());
        for (int w = 0; w < 3; w++) {
            Ref kind = l.data[w];
            if (kind == Ref::NONE) continue;
            Handle* ref = word_ref(c, w);
            switch (kind) {
            case Ref::NONE: break;
            case Ref::NODE: case Ref::TEXT: mark_node(ref); break;
            case Ref::CELLS: mark_block_node(ref); break;
            case Ref::CONTEXT: mark_context(ref); break;
            case Ref::TABLE:
                if (mark_hashtable) mark_hashtable(ref); else mark_block_node(ref);
                break;
            case Ref::BINDING:
                if (!*ref) break;
                if (self_symbol && c->data2 == self_symbol) mark_block_node(ref); else mark_context(ref);
                break;
            case Ref::OP_CONTEXT:
                if (cell_layout::node_in(*c, w, kind)) mark_context(ref);
                break;
            case Ref::FRAME_CELLS: case Ref::EVENT_CELLS:
                if (cell_layout::node_in(*c, w, kind)) mark_block_node(ref);
                break;
            case Ref::RESOURCE:
                if (int32_t(*ref) >= 0) resources::mark_slot(int32_t(*ref), nullptr);
                break;
            case Ref::IMAGE:
                if (*ref) {
                    mark_node(ref);
                    if (image_marker) image_marker(c);
                }
                break;
            }
        }
        if (validate) validate_cell(c);
    }
}

}  // namespace

void mark_cells(Cell* first, Cell* last) { mark_cells_of(first, last, state.check); }

void (*image_marker)(Cell* image) = nullptr;

Handle forwarded(Handle node) { return forward_value(node); }

void clear_mark(Handle node) {
    if (node) buf(node)->flags &= ~SER_MARK;
}

static void mark_call_frames() {
    for (CallFrame* f = stack::frame_begin; f < stack::frame_top; f++) {
        if (f->name_ctx) {
            if (self_symbol && f->symbol == self_symbol) mark_block_node(&f->name_ctx);
            else mark_context(&f->name_ctx);
        }
        if (f->func_ctx) {
            mark_context(&f->func_ctx);
            Cell* ctx = buf(f->func_ctx)->head_cell();
            if (!(ctx->header & CTX_ON_STACK) && f->saved_values) mark_block_node(&f->saved_values);
        }
    }
}

static void mark_roots() {
    if (boot::root_block) mark_block_node(&boot::root_block);
    drain();
    if (stack::arg_stack_node) mark_node(&stack::arg_stack_node);
    if (stack::frame_stack_node) mark_node(&stack::frame_stack_node);
    if (stack::begin) mark_cells(stack::begin, stack::top);
    drain();
    if (stack::frame_begin) mark_call_frames();
    drain();
    if (slots::table_node) mark_block_node(&slots::table_node);
    for (uint32_t id = 1; id <= type_registry::top_id; id++) {
        Cell& w = type_registry::names[id].word;
        if (w.header) mark_cells(&w, &w + 1);
    }
    for (Root* r = root_chain; r; r = r->prev) mark_cells(&r->cell, &r->cell + 1);
    drain();
    for (RootMarker m : markers) {
        if (m) m();
        drain();
    }
}

// ---- node-frame evacuation ----

namespace {

NodeFrame* frame_at(Handle h) { return memory::at<NodeFrame>(h); }

bool node_in_frame(NodeFrame* f, uint32_t value) {
    Handle first = memory::handle_of(f->nodes());
    return value >= first && value < first + f->capacity;
}

// A free node of a usable frame other than `not_this`.
Handle take_node_elsewhere(NodeFrame* not_this) {
    for (Handle h = memory::rec.first_node_frame; h; h = frame_at(h)->next) {
        NodeFrame* f = frame_at(h);
        if (f == not_this || f->to_free || !f->first_free) continue;
        Handle node = f->first_free;
        f->first_free = memory::node_slot(node);
        memory::node_slot(node) = 0;
        f->used++;
        return node;
    }
    return 0;
}

void evacuate_node_frames() {
    NodeFrame* current = nullptr;
    uint64_t total_free = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = frame_at(h)->next) {
        NodeFrame* f = frame_at(h);
        if (f->to_free) continue;
        if (!current && f->first_free) current = f;
        total_free += f->capacity - f->used;
    }
    if (!current) return;
    memory::rec.current_node_frame = memory::handle_of(current);
    // Choose the frames first and flag them, so that no node is moved into a frame that is
    // itself being emptied.
    uint32_t mask = (1u << (state.evacuation_setting + 1)) - 1;
    std::vector<NodeFrame*> chosen;
    for (Handle h = memory::rec.last_node_frame; h; h = frame_at(h)->prev) {
        NodeFrame* f = frame_at(h);
        if (f == current || f->to_free || (f->history & mask) != mask || f->used >= 5000 ||
            total_free <= 10000)
            continue;
        f->to_free = 1;
        total_free -= f->capacity;
        chosen.push_back(f);
    }
    for (NodeFrame* f : chosen) {
        uint32_t* nodes = f->nodes();
        for (uint32_t i = 0; i < f->capacity && f->used; i++) {
            uint32_t v = nodes[i];
            if (v == 0 || node_in_frame(f, v)) continue;  // a free node
            Handle new_node = take_node_elsewhere(f);
            if (!new_node) break;
            Handle old_node = memory::handle_of(&nodes[i]);
            memory::node_slot(new_node) = v;
            memory::at<SeriesBuffer>(v)->node = new_node;
            if (!relocation) relocation = new std::unordered_map<Handle, Handle>();
            (*relocation)[old_node] = new_node;
            nodes[i] = 0;
            f->used--;
        }
        if (f->used) f->to_free = 0;  // no room for every node: the frame stays
    }
    if (!chosen.empty()) state.node_cycles++;
}

// Check mode: every node moves into fresh node frames; the old frames are retired once empty.
void evacuate_every_node() {
    std::vector<NodeFrame*> old;
    uint64_t used = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = frame_at(h)->next) {
        NodeFrame* f = frame_at(h);
        if (f->to_free) continue;
        f->to_free = 1;
        used += f->used;
        old.push_back(f);
    }
    if (old.empty()) return;
    for (uint64_t room = 0; room < used; room += NODES_PER_FRAME) memory::make_node_frame(NODES_PER_FRAME);
    for (NodeFrame* f : old) {
        uint32_t* nodes = f->nodes();
        for (uint32_t i = 0; i < f->capacity && f->used; i++) {
            uint32_t v = nodes[i];
            if (v == memory::DEAD_WORD) {  // held back from reuse: goes with its frame
                f->used--;
                continue;
            }
            if (v == 0 || node_in_frame(f, v)) continue;  // a free node
            Handle new_node = take_node_elsewhere(f);
            if (!new_node) memory::check_failed("no fresh node for node %u", memory::handle_of(&nodes[i]));
            memory::node_slot(new_node) = v;
            memory::at<SeriesBuffer>(v)->node = new_node;
            if (!relocation) relocation = new std::unordered_map<Handle, Handle>();
            (*relocation)[memory::handle_of(&nodes[i])] = new_node;
            nodes[i] = 0;
            f->used--;
        }
        if (f->used) f->to_free = 0;
    }
    state.node_cycles++;
}

}  // namespace

// ---- compaction ----

namespace {

inline uint8_t* bump_ptr(SeriesFrame* f) { return static_cast<uint8_t*>(memory::at(f->bump)); }
inline uint8_t* end_ptr(SeriesFrame* f) { return static_cast<uint8_t*>(memory::at(f->end)); }
inline SeriesBuffer* at_ptr(uint8_t* p) { return reinterpret_cast<SeriesBuffer*>(p); }
inline uint32_t fp(uint8_t* p) { return at_ptr(p)->footprint(); }

// Moves the run [from, to) to dest and re-points the nodes of its buffers.
void move_run(uint8_t* from, uint8_t* to, uint8_t* dest) {
    size_t len = size_t(to - from);
    memory::unpoison(dest, len);
    std::memmove(dest, from, len);
    for (uint8_t* p = dest; p < dest + len; p += fp(p)) {
        SeriesBuffer* b = at_ptr(p);
        b->flags &= ~SER_MARK;
        memory::node_slot(b->node) = memory::handle_of(b);
    }
}

void compact_frame(SeriesFrame* f, SeriesFrame* prev) {
    uint8_t* p = f->area();
    uint8_t* end = bump_ptr(f);
    uint8_t* gap = nullptr;
    bool to_prev = prev && uint64_t(end_ptr(prev) - bump_ptr(prev)) > FRAME_MIN_ROOM;
    while (p < end) {
        SeriesBuffer* b = at_ptr(p);
        if (!(b->flags & SER_MARK)) {
            if (b->node) queue_free_node(b->node);
            memory::verify_dead_fill(b);
            if (!gap) gap = p;
            p += fp(p);
            continue;
        }
        uint8_t* q = p;
        while (q < end && (at_ptr(q)->flags & SER_MARK)) q += fp(q);
        if (to_prev) {
            // The run goes to the previous frame whole, or without its last buffer (which is
            // then handled again, as a run of its own), or not at all.
            uint8_t* dest = bump_ptr(prev);
            size_t room = size_t(end_ptr(prev) - dest);
            uint8_t* r = q;
            if (size_t(q - p) > room) {
                uint8_t* last = p;
                while (last + fp(last) < q) last += fp(last);
                r = size_t(last - p) <= room ? last : p;
            }
            if (r > p) {
                move_run(p, r, dest);
                prev->bump = memory::handle_of(dest + (r - p));
                if (uint64_t(end_ptr(prev) - bump_ptr(prev)) <= FRAME_MIN_ROOM) to_prev = false;
                if (!gap) gap = p;
                p = r;
                continue;
            }
        }
        if (gap) {
            move_run(p, q, gap);
            gap += (q - p);
        } else {
            for (uint8_t* s = p; s < q; s += fp(s)) at_ptr(s)->flags &= ~SER_MARK;
            to_prev = false;
        }
        p = q;
    }
    if (gap) {
        f->bump = memory::handle_of(gap);
        memory::poison(gap, size_t(end - gap));
    }
}

// Check mode: every live buffer of the series frames is copied into a fresh frame; the old frames
// are retired (filled and poisoned) as a whole.
void copy_every_buffer() {
    std::vector<SeriesFrame*> old;
    for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next)
        old.push_back(memory::at<SeriesFrame>(h));
    for (SeriesFrame* f : old) {
        SeriesFrame* to = nullptr;
        uint8_t* dest = nullptr;
        for (uint8_t* p = f->area(), *end = bump_ptr(f); p < end; p += fp(p)) {
            SeriesBuffer* b = at_ptr(p);
            if (!(b->flags & SER_MARK)) {
                if (b->node) queue_free_node(b->node);
                memory::verify_dead_fill(b);
                continue;
            }
            if (!to) {
                to = memory::make_series_frame_sized(f->size - int32_t(sizeof(SeriesFrame)));
                dest = to->area();
            }
            uint32_t n = b->footprint();
            memory::unpoison(dest, n);
            std::memcpy(dest, p, n);
            SeriesBuffer* nb = at_ptr(dest);
            nb->flags &= ~SER_MARK;
            memory::node_slot(nb->node) = memory::handle_of(nb);
            dest += n;
        }
        if (to) to->bump = memory::handle_of(dest);
        memory::retire_series_frame(f);
    }
    memory::rec.current_series_frame = memory::rec.first_series_frame;
}

void sweep_big_series() {
    std::vector<Handle> list;
    for (Handle h = memory::rec.big_series_list; h; h = memory::at<BigSeries>(h)->next) list.push_back(h);
    for (Handle h : list) {
        auto* big = memory::at<BigSeries>(h);
        SeriesBuffer* b = big->buffer();
        if (b->flags & SER_MARK) {
            b->flags &= ~SER_MARK;
            if (state.check) {  // moves as every other buffer does
                SeriesBuffer* nb = memory::alloc_big_series(big->size);
                std::memcpy(nb, b, b->footprint());
                memory::node_slot(nb->node) = memory::handle_of(nb);
                memory::free_big_series(b);
            }
        } else {
            if (b->node) queue_free_node(b->node);
            memory::verify_dead_fill(b);
            memory::free_big_series(b);
        }
    }
}

// Check mode, after a collection: the cells of every block the marker walked, the cells rooted
// by C++ code and the argument stack are valid, and every used node's buffer names it back.
void validate_after_collection() {
    for (Handle node : scanned) {
        if (const char* why = memory::node_problem(node))
            memory::check_failed("block node %u after the collection: %s", node, why);
        SeriesBuffer* b = buf(node);
        for (Cell* c = b->head_cell(); c < b->tail_cell(); c++) validate_cell(c);
    }
    scanned.clear();
    for (Root* r = root_chain; r; r = r->prev) validate_cell(&r->cell);
    if (stack::begin)
        for (Cell* c = stack::begin; c < stack::top; c++) validate_cell(c);
    for (Handle h = memory::rec.first_node_frame; h; h = frame_at(h)->next) {
        NodeFrame* f = frame_at(h);
        uint32_t* nodes = f->nodes();
        for (uint32_t i = 0; i < f->capacity; i++) {
            uint32_t v = nodes[i];
            if (v == 0 || v == memory::DEAD_WORD || node_in_frame(f, v)) continue;
            Handle node = memory::handle_of(&nodes[i]);
            if (memory::at<SeriesBuffer>(v)->node != node)
                memory::check_failed("node %u names buffer %u, which names node %u", node, v,
                                     memory::at<SeriesBuffer>(v)->node);
        }
    }
}

void clear_fixed_marks() {
    for (Handle h = memory::rec.fixed_series_list; h; h = *memory::at<uint32_t>(h)) {
        auto* b = reinterpret_cast<SeriesBuffer*>(memory::at<uint32_t>(h) + 1);
        b->flags &= ~SER_MARK;
    }
}

}  // namespace

// A collection started by the allocator never moves nodes: the routine that allocates may hold
// node handles in its locals. Only an explicit collection (recycle) evacuates node frames, and
// every node reference the collector can see is rewritten then.
static void collect_now(bool allow_evacuation) {
    if (state.busy) return;
    state.busy = true;
    ++memory::generation;  // buffers move and nodes are given back from here on
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    auto started = std::chrono::steady_clock::now();
    try {
        if (state.check && state.cycles >= 1) memory::release_retired(state.cycles - 1);
        scanned.clear();
        if (state.evacuation && allow_evacuation) {
            if (state.check) evacuate_every_node(); else evacuate_node_frames();
        }
        mark_roots();
        if (relocation) cycles::forward(forward_value);
        resources::sweep();
        if (prune_ownership) prune_ownership();
        drain();
        if (state.check) {
            copy_every_buffer();
        } else {
            SeriesFrame* prev = nullptr;
            for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next) {
                SeriesFrame* f = memory::at<SeriesFrame>(h);
                compact_frame(f, prev);
                prev = f;
            }
        }
        sweep_big_series();
        flush_free_nodes();
        memory::update_node_frames();
        clear_fixed_marks();
        if (state.check) validate_after_collection();
    } catch (...) {
        delete relocation;
        relocation = nullptr;
        scanned.clear();
        ++memory::generation;
        state.busy = false;
        throw;
    }
    delete relocation;
    relocation = nullptr;
    state.cycles++;
    state.last_ns = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count());
    state.total_ns += state.last_ns;
    ++memory::generation;
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    state.busy = false;
}

void collect() { collect_now(true); }

void collect_keeping_nodes() {
    if (!state.busy) collect_now(false);
}

bool collect_if_enabled() {
    if (!state.enabled || state.busy) return false;
    collect_now(false);
    return true;
}

void (*prune_ownership)() = nullptr;

}  // namespace kov::collector
