// The external-resource table: operating-system objects held by values (bitmaps of images), each
// in a slot with a kind whose finaliser releases the object once no value marks the slot.
#pragma once

#include <cstdint>

namespace kov::resources {

using Finalizer = void (*)(void* object);

constexpr uint32_t SLOT_MARK = 0x80000000;
constexpr uint32_t SLOT_FREE = 0x40000000;

struct Slot {
    uint32_t kind_flags;
    void* object;
    int32_t next;
};

void init();
// Registers a kind; returns its 1-based number (at most 20 kinds).
uint32_t register_finalizer(const char* name, Finalizer routine);
int32_t alloc_slot(void* object, uint32_t kind);
int32_t release_slot(int32_t slot, bool finalise);  // returns -1
bool mark_slot(int32_t slot, void* object);          // true when not marked before
void sweep();
void run_finalizer(int32_t slot);

// Inspection.
uint32_t capacity();
const Slot& slot(int32_t i);
int32_t live_head();

}  // namespace kov::resources
