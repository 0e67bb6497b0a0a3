// The context lookup cache: per context node, the context cell and, for a context whose values
// are in a block, that block's buffer, as found in one memory generation (memory::generation). A
// word's value cell is then two loads from the cache entry instead of the chain node -> buffer ->
// context cell -> values node -> buffer. An entry is good while its generation is the current one
// (nothing has moved or been freed since); it is filled anew otherwise. The value reads through
// an entry are in core/context.hpp; the call frames use the context cell of function contexts.
#pragma once

#include <cstdint>

#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::context {

struct LookupEntry {
    Handle ctx;
    uint64_t generation;
    Cell* ctx_cell;
    SeriesBuffer* values;  // null: the values are on the argument stack (ctx_cell->data2)
};
constexpr uint32_t LOOKUP_ENTRIES = 512;
extern LookupEntry lookup_cache[LOOKUP_ENTRIES];
// Fills the entry of a context; null when its values cannot be reached (none yet).
const LookupEntry* fill_lookup(Handle ctx);
[[gnu::always_inline]] inline const LookupEntry* lookup(Handle ctx) {
    const LookupEntry* e = &lookup_cache[(ctx ^ (ctx >> 9)) & (LOOKUP_ENTRIES - 1)];
    if (e->ctx == ctx && e->generation == memory::generation) [[likely]] return e;
    return fill_lookup(ctx);
}
// The context cell of a context node, through the cache (valid until the next allocation).
[[gnu::always_inline]] inline Cell* cached_cell(Handle ctx) {
    const LookupEntry* e = lookup(ctx);
    return e ? e->ctx_cell : memory::buffer_of(ctx)->head_cell();
}

}  // namespace kov::context
