// percent!: cells, text, and the action table that takes the rest from float!.
#include "datatypes/percent.hpp"

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/string.hpp"

namespace kov::percent {

Cell* make_at(Cell* c, double value) {
    *c = cells::make_float(value, T_PERCENT);
    return c;
}

Cell* make_at_parts(Cell* c, uint32_t high, uint32_t low) {
    *c = Cell{T_PERCENT, 0, low, high};
    return c;
}

Cell* box(double value) { return make_at(stack::arguments, value); }

Cell* make_in(const Cell* block, uint32_t high, uint32_t low) {
    return make_at_parts(buffer::alloc_block_tail(block), high, low);
}

Cell* push(double value) { return make_at(stack::push_slot(), value); }
Cell* push_parts(uint32_t high, uint32_t low) { return make_at_parts(stack::push_slot(), high, low); }

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    float_::Text t = float_::form_float(value->get_float() * 100.0, float_::FORM_PERCENT);
    string::concatenate_cstring(out, t.text, t.length);
    return limit - int32_t(t.length);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

void init() {
    type_registry::register_type(
        T_PERCENT, T_FLOAT, "percent!",
        {.make = inherit, .random = inherit, .to = inherit, .form = form, .mold = mold,
         .compare = inherit, .absolute = inherit, .add = inherit, .divide = inherit,
         .multiply = inherit, .negate = inherit, .power = inherit, .remainder = inherit,
         .round = inherit, .subtract = inherit, .even_q = inherit, .odd_q = inherit});
}

}  // namespace kov::percent
