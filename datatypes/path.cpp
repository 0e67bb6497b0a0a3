// paren! and the path kinds: making (a capacity or a copy of a block kind), forming and molding
// with "/" between elements and the prefix or suffix of each kind, parens in parentheses.
#include "datatypes/path.hpp"

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"

namespace kov::path {

using collector::Root;

Cell* push(Cell* c, uint32_t kind) {
    cell::set_type(c, kind);
    return stack::push(c);
}

Cell* make_at(Cell* c, int32_t n) {
    block::make_at(c, n);
    cell::set_type(c, T_PATH);
    return c;
}

namespace {

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (series::block_kind(t)) return block::to(proto, spec, type);
    if (t == T_INTEGER || t == T_FLOAT || t == T_PERCENT) {
        int32_t n = t == T_PERCENT ? int32_t(spec->get_float()) : cell::integer_arg(spec);
        if (n < 1) n = 1;  // capacity 0 (or less) gives room for one cell
        Cell* c = block::push_new(n);
        cell::set_type(c, type);
        return c;
    }
    Cell dt = cells::make_datatype(type);
    stack::raise_bad_make_arg(&dt, spec);
}

Cell* to(const Cell* proto, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (t == T_OBJECT || t == T_TYPESET || t == T_MAP) {
        Root v(*spec);
        Cell* c = block::push_new(1);
        block::append_value(c, v.get());
        cell::set_type(c, type);
        return c;
    }
    return block::to(proto, spec, type);
}

// The walk shared by form and mold: each element from the head, "/" between them.
int32_t walk(const Cell* value, Cell* out, bool mold_, bool only, bool all, bool flat, bool part,
             int32_t limit) {
    if (cycles::detect_q(value, out, limit, false)) return limit;
    Root p(*value), item;
    cycles::Guard guard(p->data2);
    for (uint32_t i = p->data1;; i++) {
        if (i >= memory::buffer_of(p->data2)->length()) break;
        if (i > p->data1) {
            string::concatenate_cstring(out, "/", 1);  // allocates: the buffer is read after it
            limit--;
        }
        item.cell = memory::buffer_of(p->data2)->head_cell()[i];
        limit = mold_ ? actions::mold_dispatch(item.get(), out, only, all, flat, part, limit, 0)
                      : actions::form_dispatch(item.get(), out, part, limit);
        if (part && limit < 1) break;
    }
    return limit;
}

int32_t mold_lit(const Cell* v, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
                 int32_t) {
    string::concatenate_cstring(out, "'", 1);
    return walk(v, out, true, only, all, flat, part, limit - 1);
}

int32_t mold_get(const Cell* v, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
                 int32_t) {
    string::concatenate_cstring(out, ":", 1);
    return walk(v, out, true, only, all, flat, part, limit - 1);
}

int32_t mold_set(const Cell* v, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
                 int32_t) {
    Root o(*out);
    limit = walk(v, out, true, only, all, flat, part, limit);
    string::concatenate_cstring(o.get(), ":", 1);
    return limit - 1;
}

int32_t mold_paren(const Cell* v, Cell* out, bool only, bool all, bool flat, bool part,
                   int32_t limit, int32_t indent) {
    if (cycles::detect_q(v, out, limit, true)) return limit;
    if (!only) string::concatenate_cstring(out, "(", 1), limit--;
    limit = block::mold_cells(v, out, only, all, flat, part, limit, indent);
    if (!only) string::concatenate_cstring(out, ")", 1), limit--;
    return limit;
}

}  // namespace

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    return walk(value, out, false, false, false, false, part, limit);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t) {
    return walk(value, out, true, only, all, flat, part, limit);
}

void init() {
    type_registry::register_type(
        T_PAREN, T_BLOCK, "paren!",
        {.make = inherit, .random = inherit, .reflect = inherit, .to = inherit, .form = inherit,
         .mold = mold_paren, .eval_path = inherit, .compare = inherit, .append = inherit,
         .at = inherit, .back = inherit, .change = inherit, .clear = inherit, .copy = inherit,
         .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
         .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
         .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit, .reverse = inherit,
         .select = inherit, .sort = inherit, .skip = inherit, .swap = inherit, .tail = inherit,
         .tail_q = inherit, .take = inherit, .trim = inherit, .modify = inherit});
    // The path kinds: block!'s actions less random and sort.
    type_registry::register_type(
        T_PATH, T_BLOCK, "path!",
        {.make = make, .reflect = inherit, .to = to, .form = form, .mold = mold,
         .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
         .back = inherit, .change = inherit, .clear = inherit, .copy = block::copy,
         .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
         .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
         .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit, .reverse = inherit,
         .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit,
         .take = inherit, .trim = inherit, .modify = inherit});
    const struct { uint32_t id; const char* name; MoldFn mold; } kinds[] = {
        {T_LIT_PATH, "lit-path!", mold_lit}, {T_SET_PATH, "set-path!", mold_set},
        {T_GET_PATH, "get-path!", mold_get}};
    for (const auto& k : kinds) {
        type_registry::register_type(
            k.id, T_PATH, k.name,
            {.make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = k.mold,
             .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
             .back = inherit, .change = inherit, .clear = inherit, .copy = inherit,
             .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
             .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit,
             .pick = inherit, .poke = inherit, .put = inherit, .remove = inherit,
             .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
             .tail = inherit, .tail_q = inherit, .take = inherit, .trim = inherit,
             .modify = inherit});
    }
}

}  // namespace kov::path
