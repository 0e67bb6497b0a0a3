// datatype!: a value naming a datatype by id (data1).
#include <string_view>

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

// A datatype's name, also for the kinds this runtime has not registered yet.
std::string_view name_of(const Cell* value) {
    const char* s = type_registry::spelling(cells::datatype(*value));
    return s ? std::string_view(s) : std::string_view("datatype!");
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string_view t = name_of(value);
    string::concatenate_cstring(out, t.data(), uint32_t(t.size() - 1));
    return limit - int32_t(t.size() - 1);
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    std::string_view t = name_of(value);
    if (all) string::concatenate_cstring(out, "#(", 2);
    string::concatenate_cstring(out, t.data(), uint32_t(t.size()));
    if (all) string::concatenate_cstring(out, ")", 1);
    return limit - int32_t(t.size()) - (all ? 3 : 0);
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
