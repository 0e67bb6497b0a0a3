// Blocks of integers for the tests of the series and block actions: building them, reading them
// back, calling an action through the registry, and small integer! and word! routines standing
// in for datatypes registered elsewhere.
#pragma once

#include <string>
#include <vector>

#include "../core/words_fixture.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"

namespace kov::testing {

inline int32_t stand_in_mold_integer(const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit,
                                     int32_t) {
    std::string s = std::to_string(v->get_int());
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}
inline int32_t stand_in_form_integer(const Cell* v, Cell* out, bool, int32_t limit) {
    return stand_in_mold_integer(v, out, false, false, false, false, limit, 0);
}
inline int32_t stand_in_compare_integer(const Cell* a, const Cell* b, int32_t) {
    if (!b->is(T_INTEGER)) return NOT_COMPARABLE;
    return a->get_int() < b->get_int() ? -1 : a->get_int() > b->get_int();
}
inline int32_t stand_in_mold_word(const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit,
                                  int32_t) {
    std::string s = symbol::name(v->data2);
    if (v->is(T_SET_WORD)) s += ':';
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}
inline int32_t stand_in_form_word(const Cell* v, Cell* out, bool, int32_t limit) {
    return stand_in_mold_word(v, out, false, false, false, false, limit, 0);
}
inline int32_t stand_in_compare_word(const Cell* a, const Cell* b, int32_t op) {
    if (!word::any_word_q(b->type())) return NOT_COMPARABLE;
    uint32_t x = a->data2, y = b->data2;
    if (op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT) x = symbol::resolve(x), y = symbol::resolve(y);
    return x < y ? -1 : x > y;
}

class SeriesTest : public WordsTest {
protected:
    void SetUp() override {
        WordsTest::SetUp();
        auto& i = type_registry::tables[T_INTEGER];
        i.mold = stand_in_mold_integer;
        i.form = stand_in_form_integer;
        i.compare = stand_in_compare_integer;
        for (uint32_t t = T_WORD; t <= T_GET_WORD; t++) {
            type_registry::tables[t].mold = stand_in_mold_word;
            type_registry::tables[t].form = stand_in_form_word;
            type_registry::tables[t].compare = stand_in_compare_word;
        }
    }
    void TearDown() override {
        EXPECT_EQ(cycles::depth(), 0u);
        WordsTest::TearDown();
    }

    // A new block! of integers in `out`, with its head at `head`.
    static Cell* ints(collector::Root& out, const std::vector<int32_t>& values, uint32_t head = 0) {
        block::make_at(out.get(), int32_t(values.size() ? values.size() : 1));
        for (int32_t v : values) {
            Cell c = integer(v);
            block::append_value(out.get(), &c);
        }
        out->data1 = head;
        return out.get();
    }
    // The integers of a block from its head (other cells as -1).
    static std::vector<int32_t> read(const Cell* blk) {
        std::vector<int32_t> out;
        SeriesBuffer* b = memory::buffer_of(blk->data2);
        for (uint32_t i = blk->data1; i < b->length(); i++) {
            const Cell& c = b->head_cell()[i];
            out.push_back(c.is(T_INTEGER) ? c.get_int() : -1);
        }
        return out;
    }
    static std::vector<int32_t> all(const Cell* blk) {
        Cell whole = *blk;
        whole.data1 = 0;
        return read(&whole);
    }
    // Molds a value into a new string.
    static std::string molded(const Cell* v, bool only = false, bool flat = false) {
        collector::Root val(*v), out;
        string::make_at(out.get(), 16);
        actions_mold(val.get(), out.get(), only, flat);
        return string::to_utf8(out.get());
    }
    static std::string formed(const Cell* v) {
        collector::Root val(*v), out;
        string::make_at(out.get(), 16);
        type_registry::table(val->type()).form(val.get(), out.get(), false, 1 << 30);
        return string::to_utf8(out.get());
    }
    static void actions_mold(const Cell* v, Cell* out, bool only, bool flat) {
        type_registry::table(v->type()).mold(v, out, only, false, flat, false, 1 << 30, 0);
    }
    // Calls a frame action (at, skip, head, tail? ...) on the series with an optional argument;
    // answers the frame's result.
    static Cell frame_call(int slot, const Cell* series, const Cell* arg = nullptr) {
        stack::Snapshot snap;
        stack::mark_native(nullptr);
        stack::push(series);
        if (arg) stack::push(arg);
        const ActionTable& t = type_registry::table(series->type());
        FrameFn fn = nullptr;
        switch (slot) {
        case A_AT: fn = t.at.fn; break;
        case A_SKIP: fn = t.skip.fn; break;
        case A_HEAD: fn = t.head.fn; break;
        case A_TAIL: fn = t.tail.fn; break;
        case A_BACK: fn = t.back.fn; break;
        case A_NEXT: fn = t.next.fn; break;
        case A_HEAD_Q: fn = t.head_q.fn; break;
        case A_TAIL_Q: fn = t.tail_q.fn; break;
        case A_INDEX_Q: fn = t.index_q.fn; break;
        default: break;
        }
        try {
            fn();
        } catch (...) {
            snap.dismiss();  // a raised error leaves the stacks as its transfer set them
            throw;
        }
        return *stack::arg(0);
    }
    static const ActionTable& of(const Cell* v) { return type_registry::table(v->type()); }
};

}  // namespace kov::testing
