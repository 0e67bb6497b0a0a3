// none!: the value of absence; also the shared none-value cell. Series actions on none answer
// none, so that a failed find can be passed on without a check.
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov {

Cell none_value{T_NONE, 0, 0, 0};

namespace none {

Cell* box() {
    stack::arguments->header = T_NONE;
    return stack::arguments;
}

Cell* make_in(const Cell* block) {
    Cell* c = buffer::alloc_block_tail(block);
    c->header = T_NONE;
    return c;
}

Cell* push() { return stack::push(&none_value); }

static Cell* make(const Cell*, const Cell*, uint32_t) { return &none_value; }

static int32_t form(const Cell*, Cell* out, bool, int32_t limit) {
    string::concatenate_cstring(out, "none", 4);
    return limit - 4;
}

static int32_t mold(const Cell*, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    const char* text = all ? "#(none)" : "none";
    uint32_t n = all ? 7 : 4;
    string::concatenate_cstring(out, text, n);
    return limit - int32_t(n);
}

static int32_t compare(const Cell*, const Cell* b, int32_t op) {
    if (!b->is(T_NONE)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
        return 0;
    default:
        return NOT_COMPARABLE;
    }
}

// clear, find, remove, select and take on none answer none.
static Cell* clear(Cell*) { return &none_value; }
static Cell* find(Cell*, const Cell*, const FindArgs&) { return &none_value; }
static Cell* remove(Cell*, const Cell*, const Cell*) { return &none_value; }
static Cell* take(Cell*, const Cell*, bool, bool) { return &none_value; }
static int32_t length_q(const Cell*) { return -1; }

void init() {
    none_value = cells::make_none();
    type_registry::register_type(T_NONE, 0, "none!",
                                 {.make = make, .to = make, .form = form, .mold = mold,
                                  .compare = compare, .clear = clear, .find = find,
                                  .length_q = length_q, .remove = remove, .select = find,
                                  .take = take});
}

}  // namespace none
}  // namespace kov
