// handle!: the kind names, the cell routines, forming, molding, comparison and registration.
#include "datatypes/handle.hpp"

#include <string>

#include "core/buffer.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/string.hpp"

namespace kov::handle {

namespace {

constexpr const char* KIND_NAMES[KIND_COUNT] = {"null", "fd", "monitor", "window", "font",
                                                "rich-text"};

}  // namespace

const char* kind_name(uint32_t kind) { return kind < KIND_COUNT ? KIND_NAMES[kind] : nullptr; }

Cell* make_at(Cell* c, uint32_t value, uint32_t kind) {
    *c = make(value, kind);
    return c;
}

Cell* box(uint32_t value, uint32_t kind) { return make_at(stack::arguments, value, kind); }

Cell* make_in(const Cell* block, uint32_t value, uint32_t kind) {
    return make_at(buffer::alloc_block_tail(block), value, kind);
}

Cell* push(uint32_t value, uint32_t kind) {
    Cell c = make(value, kind);
    return stack::push(&c);
}

Cell* push_null() { return push(0, NULL_KIND); }

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string text = string::int_to_hex(int32_t(value->data2), false);
    text += 'h';
    string::concatenate_cstring(out, text);
    return limit - 9;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool part, int32_t limit,
             int32_t) {
    if (!all) {
        string::concatenate_cstring(out, "handle!", 7);
        return limit - 7;
    }
    std::string text = "#[handle! ";
    text += string::int_to_hex(int32_t(value->data2), false);
    text += 'h';
    const char* name = kind(*value) > 0 ? kind_name(kind(*value)) : nullptr;
    if (name) {
        text += ' ';
        text += name;
    }
    text += ']';
    (void)part;
    string::concatenate_cstring(out, text);
    return int32_t(int64_t(limit) - int64_t(text.size()));
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
    if (!b->is(T_HANDLE)) return 1;
    int32_t x = int32_t(a->data2), y = int32_t(b->data2);
    return (x > y) - (x < y);
}

void init() {
    type_registry::register_type(T_HANDLE, T_INTEGER, "handle!",
                                 {.form = form, .mold = mold, .compare = compare});
}

}  // namespace kov::handle
