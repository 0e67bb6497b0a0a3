// Ownership of series by objects: an object can watch deep changes of the series reachable from
// its fields. A process-wide table maps a series node (an object's context node for objects) to
// {the owned value, the owner object, the owner's field word}; owned series carry a flag so that
// a change to an unowned series costs one bit test.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::ownership {

constexpr uint32_t IMAGE_OWNED = 0x10000;  // on an image! cell's header
constexpr uint32_t CTX_OWNER = 0x10000;    // on an owner's context cell

extern Handle table;  // the ownership table (a kind-4 hash table), 0 before init

void init();
// Forgets the table of an earlier run (start-up does this before anything allocates).
void unbind();
// Records ownership of a value (recursively through blocks and objects).
void bind(Cell* value, const Cell* owner, const Cell* word);
// `context/set-owner-flag`: bind, then flags the owner's context as owning series.
void set_owner_flag(Cell* value, const Cell* owner, const Cell* word);
void unbind(Cell* value);
void unbind_range(const Cell* series, uint32_t index, uint32_t count);
// The owner cell of a series node's entry (valid until the next allocation), or null.
Cell* owner_of(Handle node);
// Reports a change to an owned series: 1 when the owner's handler was called, else 0. Called by
// every routine that modifies a series in place, before and after the change, with the action
// word (before: "append", "clear" ...; after: "appended", "cleared" ...). The handler may change
// the series: callers re-read head, tail and length afterwards.
int check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part);
// Collector step: drops entries whose series or owner is dead.
void prune();

// The owner object's deep-change handler (set by the object! datatype): (owner, word, value,
// action word, new value, index, part).
extern void (*fire_on_deep_change)(const Cell* owner, const Cell* word, const Cell* value,
                                   const Cell* action, const Cell* new_value, int32_t index,
                                   int32_t part);

}  // namespace kov::ownership
