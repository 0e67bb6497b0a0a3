// none!: the value of absence; also the shared none-value cell. Series actions on none answer
// none, so that a failed find can be passed on without a check.
#include "core/buffer.hpp"
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

static void make(const Cell*, const Cell*, uint32_t) { *stack::arguments = none_value; }

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
static void answer_none() { *stack::arguments = none_value; }
static int32_t length_q(const Cell*) { return -1; }

void init() {
    none_value = Cell{T_NONE, 0, 0, 0};
#define _ KOV_NO
    const Routine list[] = {
        R(make), _, _, R(make), R(form), R(mold), _, _, R(compare),
        _, _, _, _, _, _, _, _, _, _, _,
        _, _, _, _,
        // append at back change clear copy find head head? index? insert length? move next pick
        _, _, _, _, R(answer_none), _, R(answer_none), _, _, _, _, R(length_q), _, _, _,
        // poke put remove reverse select sort skip swap tail tail? take trim
        _, _, R(answer_none), _, R(answer_none), _, _, _, _, _, R(answer_none), _,
        _, _, _, _, _, _, _, _, _, _, _,
    };
#undef _
    type_registry::register_type(T_NONE, 0, "none!", list);
}

}  // namespace none
}  // namespace kov
