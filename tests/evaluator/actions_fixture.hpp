// Helpers for the tests of action dispatch: calling a front-end in a native frame named by a word
// with a refinement array, and reading what it left or the error it raised with all three
// arguments.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "tests/datatypes/scalar_fixture.hpp"

namespace kov::testing {

struct Called {
    Cell value{};        // arguments[0] after the call
    std::string error;   // "category/id" of a raised error, else empty
    Cell arg[3]{};       // the raised error's arguments
    Cell rest[4]{};      // arguments[1..4] after the call (the cells the front-end pushed)
};

// Runs body in a native frame named `name` (null: anonymous) under a try frame, with `args`
// pushed as the frame's arguments.
inline Called in_frame(const char* name, std::vector<Cell> args, const std::function<void()>& body) {
    stack::Snapshot saved;
    Called out;
    collector::Root word;
    if (name) *word = *word::load_as(name, T_WORD);
    stack::mark_try(nullptr);
    stack::mark_native(name ? word.get() : nullptr);
    for (const Cell& c : args) stack::push(&c);
    try {
        body();
        out.value = *stack::arguments;
        for (int i = 0; i < 4; i++) out.rest[i] = stack::arguments[i + 1];
    } catch (const Unwind&) {
        const Cell* e = stack::top_value();
        out.error = error::category_word(e) + "/" + error::id_word(e);
        for (int i = 0; i < 3; i++) out.arg[i] = *error::field(e, error::Field(error::F_ARG1 + i));
    }
    saved.restore();
    return out;
}

// Calls the front-end of action `id` on the arguments with the refinement array.
inline Called act(int id, std::vector<Cell> args, std::vector<int32_t> refs = {}, const char* name = "act") {
    refs.resize(16, -1);
    return in_frame(name, std::move(args), [&] {
        Status s = actions::front_ends[id - 1](refs.data());
        EXPECT_EQ(s, Status::normal);
    });
}

inline std::string text_of(const Cell& c) { return string::to_utf8(&c); }
inline std::string spelling(const Cell& c) { return std::string(symbol::name(cells::word_symbol(c))); }

}  // namespace kov::testing
