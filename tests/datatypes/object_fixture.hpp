// Support for the tests of function!, routine! and object!: a reader of a small subset of the
// source syntax into blocks, word molds for every word kind, a stand-in for the interpreter's
// evaluation of an object spec (set-words take the literal after them; `func spec body` makes a
// function).
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "core/cell.hpp"
#include "core/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/simple.hpp"
#include "series_fixture.hpp"

namespace kov::testing {

inline int32_t stand_in_mold_any_word(const Cell* v, Cell* out, bool, bool, bool, bool,
                                      int32_t limit, int32_t) {
    std::string s = symbol::name(v->data2);
    switch (v->type()) {
    case T_SET_WORD: s += ':'; break;
    case T_LIT_WORD: s = "'" + s; break;
    case T_GET_WORD: s = ":" + s; break;
    case T_REFINEMENT: s = "/" + s; break;
    default: break;
    }
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}

class ObjectTest : public SeriesTest {
protected:
    void SetUp() override {
        SeriesTest::SetUp();
        for (uint32_t t = T_WORD; t <= T_REFINEMENT; t++) {
            type_registry::tables[t].mold = stand_in_mold_any_word;
            type_registry::tables[t].compare = stand_in_compare_word;
        }
        saved_eval = object::eval_hook;
        object::eval_hook = evaluate_spec;
    }
    void TearDown() override {
        object::eval_hook = saved_eval;
        SeriesTest::TearDown();
    }

    Status (*saved_eval)(const Cell*) = nullptr;

    // Reads the text of one bracketed block into a new block in `out` (rooted). Words are global
    // words; a name ending in "!" that names a datatype reads as that datatype!.
    static Cell* load(collector::Root& out, const char* text) {
        block::make_at(out.get(), 4);
        const char* p = text;
        read_into(out.get(), p, 0);
        out.cell = memory::buffer_of(out->data2)->head_cell()[0];
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

private:
    static void read_into(Cell* blk, const char*& p, char close) {
        bool new_line = false;
        for (;;) {
            while (*p && std::isspace(uint8_t(*p))) {
                if (*p == '\n') new_line = true;
                p++;
            }
            if (!*p) return;
            if (*p == close) {
                p++;
                return;
            }
            uint32_t flag = new_line ? CELL_NEW_LINE : 0;
            new_line = false;
            if (*p == '[' || *p == '(') {
                char end = *p == '[' ? ']' : ')';
                uint32_t type = *p == '[' ? T_BLOCK : T_PAREN;
                p++;
                collector::Root inner;
                block::make_at(inner.get(), 4);
                read_into(inner.get(), p, end);
                inner->header = type | flag;
                block::append_value(blk, inner.get());
                continue;
            }
            if (*p == '"') {
                const char* start = ++p;
                while (*p && *p != '"') p++;
                collector::Root s;
                string::make_at(s.get(), 8);
                string::concatenate_cstring(s.get(), std::string(start, p));
                if (*p) p++;
                s->header |= flag;
                block::append_value(blk, s.get());
                continue;
            }
            const char* start = p;
            while (*p && !std::isspace(uint8_t(*p)) && *p != '[' && *p != ']' && *p != '(' && *p != ')') p++;
            std::string token(start, p);
            Cell c;
            if (std::isdigit(uint8_t(token[0])) || (token[0] == '-' && token.size() > 1)) {
                c = cells::make_integer(std::stoi(token));
            } else if (token.back() == '!' && datatype_id(token)) {
                c = cells::make_datatype(datatype_id(token));
            } else {
                uint32_t type = T_WORD;
                std::string name = token;
                if (name.size() > 1 && name.back() == ':') type = T_SET_WORD, name.pop_back();
                else if (name[0] == ':') type = T_GET_WORD, name.erase(0, 1);
                else if (name[0] == '\'') type = T_LIT_WORD, name.erase(0, 1);
                else if (name[0] == '/') type = T_REFINEMENT, name.erase(0, 1);
                c = *word::load(name);
                c.header = type;
            }
            c.header |= flag;
            block::append_value(blk, &c);
        }
    }

    static uint32_t datatype_id(const std::string& name) {
        for (uint32_t t = 1; t <= TYPE_COUNT_MAX; t++)
            if (type_registry::names[t].name && name == type_registry::names[t].name) return t;
        return 0;
    }

    // The stand-in evaluation of an object spec: each run of set-words takes the value after it.
    static Status evaluate_spec(const Cell* spec_in) {
        collector::Root spec(*spec_in), value, w;
        uint32_t i = spec->data1;
        auto n = [&]() { return memory::buffer_of(spec->data2)->used() / 16; };
        auto cell_at = [&](uint32_t k) { return memory::buffer_of(spec->data2)->head_cell()[k]; };
        while (i < n()) {
            uint32_t run = i;
            while (i < n() && cell_at(i).is(T_SET_WORD)) i++;
            if (i == run || i >= n()) {
                i++;
                continue;
            }
            value.cell = cell_at(i);
            if (value->is(T_WORD) && symbol::name(value->data2) == "func") {
                collector::Root s(cell_at(i + 1)), b(cell_at(i + 2));
                uint32_t flags = function::validate(s.get());
                function::push(s.get(), b.get(), 0, 0, 0, flags);
                value.cell = *stack::top_value();
                stack::pop(1);
                i += 3;
            } else {
                if (value->is(T_LIT_WORD)) value->header = T_WORD;
                else if (value->is(T_WORD) && symbol::name(value->data2) == "none") value.cell = none_value;
                i++;
            }
            value->header &= ~CELL_NEW_LINE;
            for (uint32_t j = run; j < i && cell_at(j).is(T_SET_WORD); j++) {
                w.cell = cell_at(j);
                context::set(w.get(), value.get());
            }
        }
        return Status::normal;
    }
};

}  // namespace kov::testing
