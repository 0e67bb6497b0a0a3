// Support for the tests of function!, routine! and object!: a runtime with the boot library
// loaded, so that specs are read by the lexer and evaluated by the interpreter, and helpers that
// make functions and objects from source text.
#pragma once

#include <string>
#include <vector>

#include "boot/base.hpp"
#include "core/cell.hpp"
#include "core/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/simple.hpp"
#include "evaluator/lexer.hpp"
#include "series_fixture.hpp"

namespace kov::testing {

class ObjectTest : public SeriesTest {
protected:
    // The runtime with its own handlers (not the series tests' stand-ins) and the boot library.
    void SetUp() override {
        WordsTest::SetUp();
        base::run();
    }

    // Reads the text of one bracketed block into `out` (rooted) through the lexer.
    static Cell* load(collector::Root& out, const char* text) {
        lexer::scan(out.get(), std::string_view(text));
        out.cell = memory::buffer_of(out->data2)->head_cell()[out->data1];
        return out.get();
    }

    // The symbol of a spelling.
    static uint32_t sym(const char* s) { return symbol::make(s); }

    // The cell at a position of a block from its head.
    static Cell at(const Cell* blk, uint32_t i) {
        return memory::buffer_of(blk->data2)->head_cell()[blk->data1 + i];
    }
    static uint32_t count(const Cell* blk) {
        return memory::buffer_of(blk->data2)->used() / 16 - blk->data1;
    }

    // A function made from spec and body texts, into `out`.
    static Cell* make_function(collector::Root& out, const char* spec, const char* body) {
        collector::Root s, b;
        load(s, spec);
        load(b, body);
        uint32_t flags = function::validate(s.get());
        function::push(s.get(), b.get(), 0, 0, 0, flags);
        out.cell = *stack::top_value();
        stack::pop(1);
        return out.get();
    }

    // An object made from a spec text (and a prototype), into `out`.
    static Cell* make_object(collector::Root& out, const char* spec, const Cell* proto = nullptr) {
        collector::Root s, p(proto ? *proto : Cell{T_DATATYPE, T_OBJECT, 0, 0});
        load(s, spec);
        out.cell = *object::make(p.get(), s.get(), T_OBJECT);
        stack::pop(1);
        return out.get();
    }

    // A field's value by name.
    static Cell field(const Cell* obj, const char* name) {
        Cell w{T_WORD, 0, symbol::make(name), cells::NO_INDEX};
        return *object::select_word(obj, &w);
    }

    // Sets a field through a set-path step.
    static void set_path(const Cell* obj, const char* name, const Cell* value) {
        collector::Root o(*obj), e(Cell{T_WORD, 0, symbol::make(name), cells::NO_INDEX}), v(*value);
        stack::Snapshot snap;
        PathStep step{o.get(), e.get(), v.get(), nullptr, nullptr, nullptr, nullptr, 2, false, true, true};
        try {
            object::eval_path(step);
        } catch (...) {
            snap.dismiss();  // a raised error leaves the stacks as its transfer set them
            throw;
        }
    }
};

}  // namespace kov::testing
