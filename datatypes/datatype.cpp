// datatype!: a value naming a datatype by id (data1).
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov::datatype {

Cell* make_in(const Cell* block, uint32_t type) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = cells::make_datatype(type);
    return c;
}

Cell* push(uint32_t type) {
    Cell c = cells::make_datatype(type);
    return stack::push(&c);
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    const TypeName& t = type_registry::names[cells::datatype(*value)];
    string::concatenate_cstring(out, t.name, uint32_t(t.length));
    return limit - t.length;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    const TypeName& t = type_registry::names[cells::datatype(*value)];
    if (all) string::concatenate_cstring(out, "#(", 2);
    string::concatenate_cstring(out, t.name, uint32_t(t.length + 1));
    if (all) string::concatenate_cstring(out, ")", 1);
    return limit - (t.length + 1) - (all ? 3 : 0);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return b->is(T_DATATYPE) && cells::datatype(*b) == cells::datatype(*a) ? 0 : 1;
    default:
        return NOT_COMPARABLE;
    }
}

void init() {
    type_registry::register_type(T_DATATYPE, 0, "datatype!",
                                 {.form = form, .mold = mold, .compare = compare});
}

}  // namespace kov::datatype
