// unset!: the value of nothing; also the shared unset-value cell.
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov {

Cell unset_value{T_UNSET, 0, 0, 0};

namespace unset {

Cell* box() {
    stack::arguments->header = T_UNSET;
    return stack::arguments;
}

Cell* make_in(const Cell* block) {
    Cell* c = buffer::alloc_block_tail(block);
    c->header = T_UNSET;
    return c;
}

Cell* push() { return stack::push(&unset_value); }

static Cell* make(const Cell*, const Cell*, uint32_t) { return &unset_value; }

static int32_t form(const Cell*, Cell*, bool, int32_t limit) { return limit; }

static int32_t mold(const Cell*, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    const char* text = all ? "#(unset)" : "unset";
    uint32_t n = all ? 8 : 5;
    string::concatenate_cstring(out, text, n);
    return limit - int32_t(n);
}

static int32_t compare(const Cell*, const Cell* b, int32_t op) {
    if (!b->is(T_UNSET)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
    case COMP_SORT: case COMP_CASE_SORT:
        return 0;
    default:
        return NOT_COMPARABLE;
    }
}

void init() {
    unset_value = cells::make_unset();
    type_registry::register_type(T_UNSET, 0, "unset!",
                                 {.make = make, .to = make, .form = form, .mold = mold,
                                  .compare = compare});
}

}  // namespace unset
}  // namespace kov
