// The external-resource table: a growable slot array with a free list and a live chain, and a
// registry of up to 20 finaliser kinds. Its memory is outside the value world.
#include "core/resources.hpp"

#include <vector>

#include "core/runtime.hpp"

namespace kov::resources {

namespace {

struct Kind {
    const char* name;
    Finalizer routine;
};

constexpr uint32_t MAX_KINDS = 20;
Kind kinds[MAX_KINDS];
uint32_t kind_count = 0;
Slot* slots = nullptr;
uint32_t cap = 0;
int32_t free_head = -1;
int32_t live = -1;

void link_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++) slots[i] = Slot{SLOT_FREE, nullptr, i + 1 < to ? int32_t(i + 1) : -1};
}

}  // namespace

void init() {
    if (slots) runtime::free(slots);
    kind_count = 0;
    cap = 1000;
    slots = static_cast<Slot*>(runtime::allocate(sizeof(Slot) * cap));
    link_free(0, cap);
    free_head = 0;
    live = -1;
}

uint32_t register_finalizer(const char* name, Finalizer routine) {
    if (kind_count >= MAX_KINDS) runtime::runtime_error(FATAL_ASSERTION, 0);
    kinds[kind_count++] = Kind{name, routine};
    return kind_count;
}

int32_t alloc_slot(void* object, uint32_t kind) {
    if (free_head < 0 || slots[free_head].next == -1) {
        // The last free slot: double the array first and chain the new half after it.
        uint32_t old = cap;
        auto* grown = static_cast<Slot*>(runtime::resize(slots, sizeof(Slot) * cap * 2));
        if (!grown) runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0);
        slots = grown;
        cap *= 2;
        link_free(old, cap);
        if (free_head < 0) free_head = int32_t(old);
        else slots[free_head].next = int32_t(old);
    }
    int32_t i = free_head;
    free_head = slots[i].next;
    slots[i] = Slot{kind & 0xFF, object, live};
    live = i;
    return i;
}

void run_finalizer(int32_t i) {
    uint32_t kind = slots[i].kind_flags & 0xFF;
    if (kind == 0 || kind > kind_count || !kinds[kind - 1].routine) return;
    kinds[kind - 1].routine(slots[i].object);
}

static void unlink_live(int32_t i) {
    if (live == i) {
        live = slots[i].next;
        return;
    }
    for (int32_t p = live; p >= 0; p = slots[p].next) {
        if (slots[p].next == i) {
            slots[p].next = slots[i].next;
            return;
        }
    }
}

static void make_free(int32_t i) {
    slots[i] = Slot{SLOT_FREE, nullptr, free_head};
    free_head = i;
}

int32_t release_slot(int32_t i, bool finalise) {
    if (i < 0 || uint32_t(i) >= cap || (slots[i].kind_flags & SLOT_FREE)) return -1;
    if (finalise) run_finalizer(i);
    unlink_live(i);
    make_free(i);
    return -1;
}

bool mark_slot(int32_t i, void* object) {
    // A value may still carry the index of a slot released through another copy of it: a free
    // slot is left alone, so that it is never taken for a live one.
    if (i < 0 || uint32_t(i) >= cap || (slots[i].kind_flags & SLOT_FREE)) return false;
    bool fresh = !(slots[i].kind_flags & SLOT_MARK);
    slots[i].kind_flags |= SLOT_MARK;
    if (object) slots[i].object = object;
    return fresh;
}

void sweep() {
    int32_t prev = -1;
    int32_t i = live;
    while (i >= 0) {
        int32_t next = slots[i].next;
        if (slots[i].kind_flags & SLOT_MARK) {
            slots[i].kind_flags &= ~SLOT_MARK;
            prev = i;
        } else {
            run_finalizer(i);
            if (prev < 0) live = next; else slots[prev].next = next;
            make_free(i);
        }
        i = next;
    }
}

uint32_t capacity() { return cap; }
const Slot& slot(int32_t i) { return slots[i]; }
int32_t live_head() { return live; }

}  // namespace kov::resources
