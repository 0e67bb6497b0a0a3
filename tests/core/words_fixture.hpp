// A fresh runtime with the global context and the symbol table, for the tests of symbols,
// contexts and the hash tables. The start-up makes both when its steps include them; otherwise
// the fixture makes them in start-up order. The boot phase is over, as for a running program.
#pragma once

#include <string>

#include "core/boot.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "runtime_fixture.hpp"

namespace kov::testing {

class WordsTest : public RuntimeTest {
protected:
    void SetUp() override {
        forget();
        RuntimeTest::SetUp();
        if (!context::global) context::init_global();
        if (!symbol::table) symbol::init_table();
        boot::booting = false;
    }
    // Later tests of other modules start from a runtime whose start-up may not make these.
    void TearDown() override {
        collector::state.enabled = false;
        forget();
    }
    static void forget() {
        symbol::table = 0;
        context::global = 0;
        type_registry::load_word = nullptr;
    }

    static Cell word_cell(const char* spelling, uint32_t type = T_WORD) {
        return Cell{type, 0, symbol::make(spelling), 0xFFFFFFFFu};
    }
    static Cell integer(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }

    // Runs `body` inside a try frame; answers the id of the error it raised ("" when none) and
    // copies the error's first argument to `arg1` when given.
    template <class F> std::string error_of(F body, Cell* arg1 = nullptr) {
        stack::Snapshot snap;  // restored on the way out
        stack::mark_try(nullptr);
        std::string id;
        try {
            body();
        } catch (const Unwind& u) {
            if (u.code != THROW_ERROR) throw;
            Cell* err = stack::top_value();
            id = error::id_word(err);
            if (arg1) *arg1 = *error::field(err, error::F_ARG1);
        }
        return id;
    }
};

}  // namespace kov::testing
