// Helpers for the tests of the scalar datatypes: running an action routine in a native frame and
// reading what it left or the error it raised, and the form and mold text of a value through its
// registered action table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov::testing {

inline Cell integer_cell(int32_t v) { return Cell{T_INTEGER, 0, uint32_t(v), 0}; }
inline Cell float_cell(double d, uint32_t type = T_FLOAT) {
    Cell c{type, 0, 0, 0};
    c.set_float(d);
    return c;
}

// What a call left in its result cell (or returned), or the "category/id" of the error it raised.
struct Outcome {
    Cell value{};
    std::string error;
    Cell arg1{};  // the raised error's first argument
};

// Runs `body` in a native frame whose arguments are `args` (argument 0 first), under a try frame.
// A cell that body answers is the outcome, else argument 0.
inline Outcome run(std::vector<Cell> args, const std::function<Cell*()>& body) {
    stack::Snapshot saved;
    Outcome out;
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    for (const Cell& c : args) stack::push(&c);
    try {
        Cell* r = body();
        out.value = r ? *r : *stack::arguments;
    } catch (const Unwind&) {
        const Cell* e = stack::top_value();
        out.error = error::category_word(e) + "/" + error::id_word(e);
        out.arg1 = *error::field(e, error::F_ARG1);
    }
    saved.restore();
    return out;
}

// The same for a body that leaves its result in argument 0.
inline Outcome call(std::vector<Cell> args, const std::function<void()>& body) {
    return run(std::move(args), [&]() -> Cell* {
        body();
        return nullptr;
    });
}

// Form or mold text through the type's action table.
inline std::string formed(const Cell& value) {
    collector::Root out;
    string::make_at(out.get(), 16);
    Cell v = value;
    type_registry::table(v.type()).form(&v, out.get(), false, 1000);
    return string::to_utf8(out.get());
}
inline std::string molded(const Cell& value, bool only = false) {
    collector::Root out;
    string::make_at(out.get(), 16);
    Cell v = value;
    type_registry::table(v.type()).mold(&v, out.get(), only, false, false, false, 1000, 0);
    return string::to_utf8(out.get());
}

// A path step over a value held in argument 0 of the running call.
inline PathStep path_step(const Cell* element, const Cell* set_value) {
    PathStep s{};
    s.value = stack::arg(0);
    s.element = element;
    s.set_value = set_value;
    s.position = 2;
    s.last = true;
    return s;
}

// A string! value of ASCII text, rooted by the caller.
inline void make_text(Cell* out, const char* text) {
    string::make_at(out, 8);
    string::concatenate_cstring(out, text);
}

// A block! of the given cells into out (rooted by the caller).
inline Cell make_block(Cell* out, const std::vector<Cell>& items) {
    *out = cells::make_series(T_BLOCK, memory::make_cells(uint32_t(items.size()) + 1));
    for (const Cell& c : items) *buffer::alloc_block_tail(out) = c;
    return *out;
}

}  // namespace kov::testing
