// hash!: making, conversion, copying (the table copied or made anew) and molding as
// "make hash! [...]"; the other actions are block!'s.
#include "datatypes/hash.hpp"

#include <algorithm>

#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"

namespace kov::hash {

using collector::Root;

namespace {

inline uint32_t cells_in(Handle block) { return memory::buffer_of(block)->used() / 16; }

Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types) {
    Root src(*value);
    block::copy(src.get(), result, part, deep, types);
    // Held as a plain block until its table exists.
    Root out(Cell{T_BLOCK | (result->header & CELL_NEW_LINE), 0, result->data2, 0});
    Handle table;
    if (src->data1 == 0 && !part && !deep && !types) {
        table = hashtable::copy(src->data3, out->data2);
    } else {
        table = hashtable::make(std::max(1u, cells_in(out->data2)), out.get(), hashtable::KIND_HASH, 0);
    }
    cell::set_type(out.get(), T_HASH);
    out->data3 = table;
    *result = out.cell;
    return result;
}

Cell* to(const Cell* proto, const Cell* spec, uint32_t) {
    if (spec->is(T_HASH)) {
        Cell* out = stack::push(spec);
        return copy(spec, out, nullptr, false, nullptr);
    }
    Cell* out = block::to(proto, spec, T_BLOCK);
    return make_at(out->data2, out, std::max(1u, cells_in(out->data2)));
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    if (spec->is(T_INTEGER) || spec->is(T_FLOAT)) {
        int32_t n = std::max(1, cell::integer_arg(spec));
        Cell* out = block::push_new(n);
        return make_at(out->data2, out, uint32_t(n));
    }
    return to(proto, spec, type);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    if (!only) {
        if (cycles::detect_q(value, out, limit, true)) return limit;
        string::concatenate_cstring(out, "make hash! ", 11);
        limit -= 11;
    }
    return block::mold(value, out, only, all, flat, part, limit, indent);
}

}  // namespace

Cell* make_at(Handle block, Cell* out, uint32_t size) {
    Root blk(Cell{T_BLOCK, 0, block, 0});
    Handle table = hashtable::make(size, blk.get(), hashtable::KIND_HASH, 0);
    *out = Cell{T_HASH, 0, blk->data2, table};
    return out;
}

void init() {
    type_registry::register_type(
        T_HASH, T_BLOCK, "hash!",
        {.make = make, .reflect = inherit, .to = to, .form = inherit, .mold = mold,
         .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
         .back = inherit, .change = inherit, .clear = inherit, .copy = copy, .find = inherit,
         .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
         .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
         .put = inherit, .remove = inherit, .reverse = inherit, .select = inherit,
         .sort = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
         .take = inherit, .trim = inherit, .modify = inherit});
}

}  // namespace kov::hash
