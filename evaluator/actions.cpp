// Typed dispatch of actions.
#include "evaluator/actions.hpp"

#include "core/stack.hpp"

namespace kov::actions {

namespace {
Cell type_cell(const Cell* v) { return Cell{T_DATATYPE, v->type(), 0, 0}; }
}  // namespace

Routine get_handler(const Cell* value, int slot) { return type_registry::entry(value->type(), slot); }

int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit) {
    auto fn = reinterpret_cast<FormFn>(get_handler(value, A_FORM));
    if (!fn) {
        Cell t = type_cell(value);
        stack::raise_error("script", "cannot-use", {&t});
    }
    return fn(value, out, part, limit);
}

int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent) {
    auto fn = reinterpret_cast<MoldFn>(get_handler(value, A_MOLD));
    if (!fn) {
        Cell t = type_cell(value);
        stack::raise_error("script", "cannot-use", {&t});
    }
    return fn(value, out, only, all, flat, part, limit, indent);
}

int32_t compare_values(const Cell* a, const Cell* b, int32_t op) {
    switch (a->type()) {
    case T_LOGIC:
        if (b->is(T_LOGIC)) {
            int32_t d = int32_t(a->data1) - int32_t(b->data1);
            return d < 0 ? -1 : d > 0;
        }
        break;
    case T_NATIVE: case T_ACTION: case T_OP:
        if (b->type() == a->type()) return a->data3 == b->data3 && a->data2 == b->data2 ? 0 : 1;
        break;
    default: break;
    }
    auto fn = reinterpret_cast<CompareFn>(get_handler(a, A_COMPARE));
    if (!fn) return NOT_COMPARABLE;
    return fn(a, b, op);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    auto fn = reinterpret_cast<CompareFn>(get_handler(a, A_COMPARE));
    if (!fn) return 0;
    int32_t r = fn(a, b, op);
    if (r == NOT_COMPARABLE) return op == COMP_NOT_EQUAL ? 1 : 0;
    switch (op) {
    case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND_EXACT:
    case COMP_FIND_NOCASE: case COMP_FIND: return r == 0;
    case COMP_NOT_EQUAL: return r != 0;
    case COMP_LESSER: return r < 0;
    case COMP_LESSER_EQUAL: return r <= 0;
    case COMP_GREATER: return r > 0;
    case COMP_GREATER_EQUAL: return r >= 0;
    default: return r == 0;
    }
}

}  // namespace kov::actions
