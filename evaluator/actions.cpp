// Typed dispatch of actions.
#include "evaluator/actions.hpp"

#include "core/cells.hpp"
#include "core/stack.hpp"

namespace kov::actions {

NativeFn front_ends[ACTION_COUNT] = {};

namespace {

[[noreturn]] void cannot_use(const Cell* value) {
    Cell t = cells::make_datatype(value->type());
    stack::raise_error("script", "cannot-use", {&t});
}

}  // namespace

int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit) {
    const auto& handler = handlers_of(value).form;
    if (!handler) cannot_use(value);
    return handler(value, out, part, limit);
}

int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent) {
    const auto& handler = handlers_of(value).mold;
    if (!handler) cannot_use(value);
    return handler(value, out, only, all, flat, part, limit, indent);
}

int32_t compare_values(const Cell* a, const Cell* b, int32_t op) {
    switch (a->type()) {
    case T_LOGIC:
        if (b->is(T_LOGIC)) {
            int32_t d = int32_t(cells::logic(*a)) - int32_t(cells::logic(*b));
            return d < 0 ? -1 : d > 0;
        }
        break;
    default: break;
    }
    const auto& handler = handlers_of(a).compare;
    if (!handler) return NOT_COMPARABLE;
    return handler(a, b, op);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) { return type_registry::relation(a, b, op); }

}  // namespace kov::actions
