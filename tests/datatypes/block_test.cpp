// Block storage: positions and their clamping, growth on insertion, appending and inserting a
// block into itself, the argument-stack forms, search and removal, making, shallow and deep
// clones, nested copies, molding with new-line flags and indentation, cell-by-cell comparison,
// hash! tables kept in step, and cyclic blocks in clone, copy, mold and compare.
#include <algorithm>
#include <string>
#include <vector>

#include "../core/words_fixture.hpp"
#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::WordsTest;

// ---- small stand-ins for routines of datatypes that are not connected yet ----

int32_t mold_integer(const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    std::string s = std::to_string(v->get_int());
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}

int32_t compare_integer(const Cell* a, const Cell* b, int32_t) {
    if (!b->is(T_INTEGER)) return NOT_COMPARABLE;
    return a->get_int() < b->get_int() ? -1 : a->get_int() > b->get_int();
}

int32_t mold_word(const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    std::string s = symbol::name(v->data2);
    if (v->is(T_SET_WORD)) s += ':';
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}

int32_t compare_word(const Cell* a, const Cell* b, int32_t op) {
    if (!word::any_word_q(b->type())) return NOT_COMPARABLE;
    uint32_t x = a->data2, y = b->data2;
    if (op != COMP_STRICT_EQUAL) x = symbol::resolve(x), y = symbol::resolve(y);
    return x < y ? -1 : x > y;
}

int32_t mold_block(const Cell* v, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
                   int32_t indent) {
    if (cycles::detect_q(v, out, limit, true)) return limit;
    const char* open = v->is(T_PAREN) ? "(" : "[";
    const char* close = v->is(T_PAREN) ? ")" : "]";
    if (!only) string::concatenate_cstring(out, open, 1), limit--;
    limit = block::mold_cells(v, out, only, all, flat, part, limit, indent);
    if (!only) string::concatenate_cstring(out, close, 1), limit--;
    return limit;
}

int32_t compare_block(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(a->type())) return NOT_COMPARABLE;
    return block::compare_each(a, b, op);
}

// A copy routine as a block's copy action works: a container already being copied is a cycle;
// the copy is a shallow clone whose cells are then copied in turn. Text is copied whole.
int copies_made = 0;
void copy_value(const Cell* value, Cell* result, bool deep, const Cell* types) {
    copies_made++;
    uint32_t t = value->type();
    if (t == T_STRING) {
        Handle node = buffer::copy(memory::buffer_of(value->data2));
        *result = Cell{T_STRING, 0, node, 0};
        return;
    }
    if (cycles::find_q(value->data2)) {
        cycles::reset();
        stack::raise_error("internal", "no-cycle");
    }
    cycles::Guard guard(value->data2);
    Cell* copy = block::clone(value, false, false);
    *result = *copy;
    stack::pop(1);
    if (deep) {
        uint32_t n = uint32_t(block::ks_length_q(result));
        block::copy_nested(result, 0, n, 1, deep, types);
    }
}

class Block : public WordsTest {
protected:
    void SetUp() override {
        WordsTest::SetUp();
        for (uint32_t t : {T_BLOCK, T_PAREN}) {
            type_registry::tables[t].mold = mold_block;
            type_registry::tables[t].compare = compare_block;
        }
        type_registry::tables[T_INTEGER].mold = mold_integer;
        type_registry::tables[T_INTEGER].compare = compare_integer;
        for (uint32_t t = T_WORD; t <= T_GET_WORD; t++) {
            type_registry::tables[t].mold = mold_word;
            type_registry::tables[t].compare = compare_word;
        }
        block::copy_hook = nullptr;
        copies_made = 0;
    }
    void TearDown() override {
        block::copy_hook = nullptr;
        EXPECT_EQ(cycles::depth(), 0u);
        WordsTest::TearDown();
    }

    // Fills `out` with a new block! holding copies of the cells.
    static Cell* make(Root& out, const std::vector<Cell>& cells, uint32_t capacity = 0) {
        block::make_at(out.get(), int32_t(capacity ? capacity : cells.size()));
        for (const Cell& c : cells) block::append_value(out.get(), &c);
        return out.get();
    }
    static Cell nl(Cell c) {
        c.header |= CELL_NEW_LINE;
        return c;
    }
    static std::vector<Cell> contents(const Cell* blk) {
        SeriesBuffer* b = memory::buffer_of(blk->data2);
        return std::vector<Cell>(b->head_cell(), b->tail_cell());
    }
    static std::vector<int32_t> ints(const Cell* blk) {
        std::vector<int32_t> out;
        for (const Cell& c : contents(blk)) out.push_back(c.is(T_INTEGER) ? c.get_int() : -1000 - int32_t(c.type()));
        return out;
    }
    static std::vector<Cell> numbers(std::initializer_list<int32_t> list) {
        std::vector<Cell> out;
        for (int32_t n : list) out.push_back(integer(n));
        return out;
    }
    static std::string mold(const Cell* blk, bool only = false, bool flat = false, int32_t indent = 0,
                            bool part = false, int32_t limit = 1000, int32_t* left = nullptr) {
        Root out;
        string::make_at(out.get(), 16);
        Root b(*blk);
        int32_t r = block::mold_cells(b.get(), out.get(), only, false, flat, part, limit, indent);
        if (left) *left = r;
        return string::to_utf8(out.get());
    }
    static std::string mold_value(const Cell* v, bool flat = false) {
        Root out;
        string::make_at(out.get(), 16);
        Root b(*v);
        actions::mold_dispatch(b.get(), out.get(), false, false, flat, false, 1000, 0);
        return string::to_utf8(out.get());
    }
};

// ---- positions ----

TEST_F(Block, PositionsClampAHeadPastTheTail) {
    struct Case {
        uint32_t cells, cut, head;    // block of `cells`, cut back to `cut`, value at `head`
        int32_t length;               // ks_length_q (not clamped)
        uint32_t head_after_ks_head;  // ks_head writes the clamp back
        bool tail_q;
    };
    const Case cases[] = {
        {5, 5, 0, 5, 0, false}, {5, 5, 5, 0, 5, true}, {5, 2, 4, -2, 2, true},
        {5, 0, 3, -3, 0, true}, {3, 3, 2, 1, 2, false},
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, numbers({1, 2, 3, 4, 5}), c.cells);
        block::cut_at(blk.get(), c.cut);
        Cell v = blk.cell;
        v.data1 = c.head;
        EXPECT_EQ(block::ks_length_q(&v), c.length) << c.head;
        Cell w = v;
        Cell* h = block::ks_head(&w);
        EXPECT_EQ(w.data1, c.head_after_ks_head);
        EXPECT_EQ(h, block::ks_abs_at(&w, c.head_after_ks_head));
        Cell x = v;
        EXPECT_EQ(block::ks_tail_q(&x), c.tail_q);
        EXPECT_EQ(block::ks_tail(&v), block::ks_abs_at(&v, c.cut));
    }
}

TEST_F(Block, AdvanceStopsAtTheTail) {
    struct Case {
        uint32_t head, head_after;
        bool at_tail;
    };
    const Case cases[] = {{0, 1, false}, {1, 2, false}, {2, 3, true}, {3, 3, true}, {7, 7, true}};
    Root blk;
    make(blk, numbers({1, 2, 3}));
    for (const Case& c : cases) {
        Cell v = blk.cell;
        v.data1 = c.head;
        EXPECT_EQ(block::advance(&v), c.at_tail) << c.head;
        EXPECT_EQ(v.data1, c.head_after) << c.head;
    }
}

TEST_F(Block, CuttingAndRemovingTheLastCell) {
    Root blk;
    make(blk, numbers({1, 2, 3, 4, 5}));
    Cell v = blk.cell;
    v.data1 = 3;
    block::cut_at_head(&v);
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{1, 2, 3}));
    block::cut_at(blk.get(), 9);  // past the tail: nothing
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{1, 2, 3}));
    v.data1 = 3;
    block::remove_last(&v);  // the head at the old tail follows it back
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(v.data1, 2u);
    v.data1 = 0;
    block::remove_last(&v);
    block::remove_last(&v);
    block::remove_last(&v);  // empty: nothing
    EXPECT_TRUE(contents(blk.get()).empty());
    EXPECT_EQ(v.data1, 0u);
}

// ---- appending and inserting ----

TEST_F(Block, InsertionIntoAFullBufferGrowsToTwiceTheNeed) {
    struct Case {
        uint32_t capacity, fill, size_after;
    };
    const Case cases[] = {{4, 4, 160}, {4, 3, 64}, {1, 0, 16}, {1, 1, 64}, {8, 8, 288}};
    for (const Case& c : cases) {
        Root blk;
        std::vector<Cell> cells;
        for (uint32_t i = 0; i < c.fill; i++) cells.push_back(integer(int32_t(i)));
        make(blk, cells, c.capacity);
        ASSERT_EQ(memory::buffer_of(blk->data2)->size, int32_t(c.capacity * 16));
        Cell v = integer(99);
        block::insert_value(blk.get(), &v, false, false);
        EXPECT_EQ(memory::buffer_of(blk->data2)->size, int32_t(c.size_after)) << c.capacity << "/" << c.fill;
        EXPECT_EQ(ints(blk.get()).front(), 99);
        EXPECT_EQ(ints(blk.get()).size(), c.fill + 1);
    }
}

TEST_F(Block, InsertionPointAndHeadMovement) {
    struct Case {
        uint32_t head;
        bool move_head, at_start;
        std::vector<int32_t> after;
        uint32_t head_after;
    };
    const Case cases[] = {
        {0, true, false, {7, 8, 1, 2, 3}, 2},   // repeated inserts keep their order
        {0, false, false, {8, 7, 1, 2, 3}, 0},  // without moving the head they stack up reversed
        {1, true, false, {1, 7, 8, 2, 3}, 3},
        {3, true, false, {1, 2, 3, 7, 8}, 5},   // at the tail
        {5, true, false, {1, 2, 3, 7, 8}, 5},   // a head past the tail inserts at the tail
        {2, false, true, {8, 7, 1, 2, 3}, 2},   // at the buffer start, head ignored
        {2, true, true, {8, 7, 1, 2, 3}, 4},
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, numbers({1, 2, 3}));
        blk->data1 = c.head;
        for (int32_t n : {7, 8}) {
            Cell v = integer(n);
            block::insert_value(blk.get(), &v, c.move_head, c.at_start);
        }
        EXPECT_EQ(ints(blk.get()), c.after) << c.head << c.move_head << c.at_start;
        EXPECT_EQ(blk->data1, c.head_after) << c.head << c.move_head << c.at_start;
    }
}

TEST_F(Block, InsertingABlockIntoItself) {
    Root blk;
    make(blk, numbers({1, 2}), 2);  // full: the insertion moves the buffer
    block::insert_value(blk.get(), blk.get(), true, false);
    std::vector<Cell> c = contents(blk.get());
    ASSERT_EQ(c.size(), 3u);
    EXPECT_TRUE(c[0].is(T_BLOCK));
    EXPECT_EQ(c[0].data2, blk->data2);
    EXPECT_EQ(c[0].data1, 0u);  // the value as it was before the insertion
    EXPECT_EQ(blk->data1, 1u);
    Cell whole = blk.cell;
    whole.data1 = 0;
    EXPECT_EQ(mold_value(&whole), "[[...] 1 2]");
}

TEST_F(Block, InsertingAndAppendingABlocksOwnCells) {
    struct Case {
        uint32_t head;
        bool insert;
        std::vector<int32_t> after;
        uint32_t head_after;
    };
    const Case cases[] = {
        {0, true, {1, 2, 3, 1, 2, 3}, 3},
        {1, true, {1, 2, 3, 2, 3}, 3},
        {3, true, {1, 2, 3}, 3},
        {0, false, {1, 2, 3, 1, 2, 3}, 0},
        {2, false, {1, 2, 3, 3}, 2},
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, numbers({1, 2, 3}));
        blk->data1 = c.head;
        Cell same = blk.cell;
        if (c.insert) block::insert_cells(blk.get(), &same);
        else block::append_cells(blk.get(), &same);
        EXPECT_EQ(ints(blk.get()), c.after) << c.head << c.insert;
        EXPECT_EQ(blk->data1, c.head_after) << c.head << c.insert;
    }
}

TEST_F(Block, InsertingAndAppendingAnotherBlocksCells) {
    Root blk, src;
    make(blk, numbers({1, 2}));
    make(src, numbers({5, 6, 7}));
    src->data1 = 1;
    blk->data1 = 1;
    block::insert_cells(blk.get(), src.get());
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{1, 6, 7, 2}));
    EXPECT_EQ(blk->data1, 3u);
    block::append_cells(blk.get(), src.get());
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{1, 6, 7, 2, 6, 7}));
    src->data1 = 3;  // empty from its head
    block::append_cells(blk.get(), src.get());
    block::insert_cells(blk.get(), src.get());
    EXPECT_EQ(ints(blk.get()).size(), 6u);
    EXPECT_EQ(ints(src.get()), (std::vector<int32_t>{5, 6, 7}));
}

TEST_F(Block, AppendValueAnswersTheNewCell) {
    Root blk;
    make(blk, {}, 1);
    for (int32_t i = 0; i < 40; i++) {
        Cell v = integer(i);
        Cell* c = block::append_value(blk.get(), &v);
        EXPECT_EQ(c, block::ks_tail(blk.get()) - 1);
        EXPECT_EQ(c->get_int(), i);
    }
    EXPECT_EQ(block::ks_length_q(blk.get()), 40);
}

TEST_F(Block, ArgumentStackForms) {
    Root blk;
    make(blk, numbers({1, 2}));
    stack::Snapshot snap;
    Cell* b = stack::push(blk.get());
    Cell v = integer(9);
    stack::arguments = stack::push(&v);
    block::insert_stack_top();
    EXPECT_EQ(ints(b), (std::vector<int32_t>{9, 1, 2}));
    EXPECT_EQ(b->data1, 1u);  // the block on the stack moved past it
    v = integer(10);
    *stack::arguments = v;
    block::append_stack_top();
    EXPECT_EQ(ints(b), (std::vector<int32_t>{9, 1, 2, 10}));
    snap.restore();

    stack::arguments = stack::push(blk.get());
    v = integer(11);
    stack::push(&v);
    block::append_arg_to_result();
    EXPECT_EQ(ints(blk.get()), (std::vector<int32_t>{9, 1, 2, 10, 11}));
    snap.restore();
}

// ---- searching and removing ----

TEST_F(Block, SelectValueAnswersTheCellAfterTheFirstMatch) {
    struct Case {
        Cell key;
        uint32_t head;
        Cell expect;  // none! for none-value
    };
    Root blk;
    make(blk, {integer(1), integer(10), none_value, integer(20), true_value, integer(3), integer(1)});
    const Case cases[] = {
        {integer(1), 0, integer(10)}, {none_value, 0, integer(20)}, {true_value, 0, integer(3)},
        {integer(3), 0, integer(1)},  {integer(1), 1, none_value},  // the match is the last cell
        {integer(4), 0, none_value},  {false_value, 0, none_value}, {integer(20), 4, none_value},
    };
    for (const Case& c : cases) {
        Cell v = blk.cell;
        v.data1 = c.head;
        const Cell* r = block::select_value(&v, &c.key);
        if (c.expect.is(T_NONE)) {
            EXPECT_EQ(r, &none_value) << c.key.type() << " " << c.key.data2;
        } else {
            ASSERT_TRUE(r->is(c.expect.type()));
            EXPECT_EQ(r->data2, c.expect.data2);
        }
    }
}

TEST_F(Block, SelectWordMatchesWordKindsBySymbol) {
    Cell foo = word_cell("foo");
    Cell key_upper = word_cell("FOO");
    Cell bar = word_cell("bar");
    Root blk;
    // An integer whose data word equals a symbol id is not a word and never matches.
    make(blk, {integer(int32_t(bar.data2)), integer(0), word_cell("Foo", T_SET_WORD), integer(1),
               word_cell("bar", T_GET_WORD), integer(2), word_cell("last", T_LIT_WORD)});
    struct Case {
        Cell key;
        bool strict;
        int32_t expect;  // -1: none-value
    };
    const Case cases[] = {
        {foo, false, 1},  {key_upper, false, 1}, {foo, true, -1}, {word_cell("Foo"), true, 1},
        {bar, true, 2},   {word_cell("last"), false, -1},         {word_cell("zip"), false, -1},
    };
    for (const Case& c : cases) {
        const Cell* r = block::select_word(&c.key, blk.get(), c.strict);
        if (c.expect < 0) EXPECT_EQ(r, &none_value) << symbol::name(c.key.data2) << c.strict;
        else EXPECT_EQ(r->get_int(), c.expect) << symbol::name(c.key.data2) << c.strict;
    }
}

TEST_F(Block, RemoveValueTellsWhereTheRemovedCellWas) {
    struct Case {
        int32_t key;
        uint32_t head;
        bool from_start;
        int answer;  // 0 nothing found, 1 true, 2 false
        std::vector<int32_t> after;
    };
    const Case cases[] = {
        {2, 2, false, 2, {1, 2, 3, 4}},     // found after the head
        {2, 2, true, 1, {1, 3, 2, 4}},      // found before the head
        {3, 2, false, 1, {1, 2, 2, 4}},     // found at the head
        {1, 2, false, 0, {1, 2, 3, 2, 4}},  // only before the head
        {9, 0, true, 0, {1, 2, 3, 2, 4}},
        {4, 0, false, 2, {1, 2, 3, 2}},     // the last cell
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, numbers({1, 2, 3, 2, 4}));
        blk->data1 = c.head;
        Cell key = integer(c.key);
        const Cell* r = block::remove_value(blk.get(), &key, c.from_start);
        int answer = r == nullptr ? 0 : r == &true_value ? 1 : r == &false_value ? 2 : -1;
        EXPECT_EQ(answer, c.answer) << c.key << " " << c.head << c.from_start;
        EXPECT_EQ(ints(blk.get()), c.after) << c.key << " " << c.head << c.from_start;
    }
}

// ---- making ----

TEST_F(Block, MakingBlocks) {
    struct Case {
        int32_t n;
        int32_t size;
    };
    const Case cases[] = {{-5, 16}, {0, 16}, {1, 16}, {3, 48}, {10, 160}};
    for (const Case& c : cases) {
        Root r(Cell{T_INTEGER | CELL_NEW_LINE, 7, 8, 9});
        block::make_at(r.get(), c.n);
        EXPECT_EQ(r->header, T_BLOCK | CELL_NEW_LINE) << c.n;  // flags kept
        EXPECT_EQ(r->data1, 0u);
        EXPECT_EQ(memory::buffer_of(r->data2)->size, c.size) << c.n;
        EXPECT_EQ(block::ks_length_q(r.get()), 0);

        for (bool fixed : {false, true}) {
            Root f(Cell{T_INTEGER | CELL_NEW_LINE, 7, 8, 9});
            block::make_at_capacity(f.get(), c.n, fixed);
            EXPECT_EQ(f->header, uint32_t(T_BLOCK)) << c.n;  // the whole header is replaced
            SeriesBuffer* b = memory::buffer_of(f->data2);
            EXPECT_EQ(b->size, c.size);
            EXPECT_EQ(b->used(), 0u);
            EXPECT_EQ((b->flags & SER_FIXED) != 0, fixed);
            if (!fixed) {
                const Cell* cells = reinterpret_cast<const Cell*>(b->data());
                for (int32_t i = 0; i < c.size / 16; i++) EXPECT_EQ(cells[i].header, uint32_t(T_UNSET));
            }
        }
    }
}

TEST_F(Block, MakingBlocksInAParentAndOnTheStack) {
    Root parent;
    make(parent, numbers({1}), 1);  // full: the new cell moves the parent's buffer
    for (bool big : {false, true}) {
        Cell* c = big ? block::make_big_in(parent.get(), 4) : block::make_in(parent.get(), 4);
        EXPECT_EQ(c, block::ks_tail(parent.get()) - 1);
        EXPECT_TRUE(c->is(T_BLOCK));
        EXPECT_EQ(c->data1, 0u);
        SeriesBuffer* b = memory::buffer_of(c->data2);
        EXPECT_EQ(b->size, 64);
        EXPECT_EQ((b->flags & SER_FIXED) != 0, big);
    }
    EXPECT_EQ(block::ks_length_q(parent.get()), 3);

    Cell* s = block::make_in(nullptr, 2);
    EXPECT_EQ(s, &block::scratch);
    EXPECT_TRUE(s->is(T_BLOCK));
    Root keep(*s);
    s = block::make_big_in(nullptr, 2);
    EXPECT_EQ(s, &block::scratch);
    EXPECT_NE(s->data2, keep->data2);

    stack::Snapshot snap;
    Cell* top = stack::top;
    Cell* p = block::push_new(0);
    EXPECT_EQ(p, top);
    EXPECT_TRUE(p->is(T_BLOCK));
    EXPECT_EQ(memory::buffer_of(p->data2)->size, 16);
    Cell v = integer(5);
    EXPECT_EQ(block::push(&v), top + 1);
    EXPECT_EQ(stack::top, top + 2);
    snap.restore();
}

// ---- copying ----

TEST_F(Block, ShallowCloneSharesNestedSeries) {
    Root inner, text, blk;
    make(inner, numbers({1}));
    string::make_at(text.get(), 4);
    string::concatenate_cstring(text.get(), "abc", 3);
    make(blk, {integer(0), inner.cell, text.cell, integer(3)});
    blk->data1 = 1;
    stack::Snapshot snap;
    Cell* c = block::clone(blk.get(), false, false);
    EXPECT_TRUE(c->is(T_BLOCK));
    EXPECT_EQ(c->data1, 0u);
    EXPECT_NE(c->data2, blk->data2);
    std::vector<Cell> cells = contents(c);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].data2, inner->data2);
    EXPECT_EQ(cells[1].data2, text->data2);
    EXPECT_EQ(cells[2].get_int(), 3);
    snap.restore();

    // An empty source (head at or past the tail) gives an empty block of capacity 1.
    blk->data1 = 9;
    c = block::clone(blk.get(), true, true);
    EXPECT_EQ(block::ks_length_q(c), 0);
    EXPECT_EQ(memory::buffer_of(c->data2)->size, 16);
    EXPECT_EQ(blk->data1, 9u);
    snap.restore();
}

TEST_F(Block, DeepCloneCopiesNestedBlocksAndKeepsTheirHeaders) {
    Root inner, par, path, text, blk;
    make(inner, numbers({1, 2, 3}));
    inner->data1 = 1;
    make(par, numbers({4}));
    par->header = T_PAREN;
    make(path, numbers({5}));
    path->header = T_PATH;
    string::make_at(text.get(), 4);
    make(blk, {nl(inner.cell), par.cell, path.cell, text.cell});
    for (bool paths : {false, true}) {
        stack::Snapshot snap;
        {
            Cell* top = stack::top;
            Cell* c = block::clone(blk.get(), true, paths);
            EXPECT_EQ(stack::top, top + 1);  // the nested clones were popped
            std::vector<Cell> cells = contents(c);
            ASSERT_EQ(cells.size(), 4u);
            EXPECT_EQ(cells[0].header, T_BLOCK | CELL_NEW_LINE);
            EXPECT_NE(cells[0].data2, inner->data2);
            EXPECT_EQ(cells[0].data1, 0u);  // copied from the nested head
            EXPECT_EQ(ints(&cells[0]), (std::vector<int32_t>{2, 3}));
            EXPECT_EQ(cells[1].header, uint32_t(T_PAREN));
            EXPECT_EQ(cells[1].data2 != par->data2, paths);
            EXPECT_EQ(cells[2].header, uint32_t(T_PATH));
            EXPECT_EQ(cells[2].data2 != path->data2, paths);
            EXPECT_EQ(cells[3].data2, text->data2);  // text is shared
        }
        snap.restore();
    }
    // The clone takes the source's datatype.
    stack::Snapshot snap;
    EXPECT_TRUE(block::clone(par.get(), true, true)->is(T_PAREN));
    snap.restore();
}

TEST_F(Block, DeepCloneOfACyclicBlockRaisesNoCycle) {
    Root blk, outer;
    make(blk, numbers({1}));
    block::append_value(blk.get(), blk.get());
    make(outer, {blk.cell});
    for (const Cell* source : {blk.get(), outer.get()}) {
        Root s(*source);
        EXPECT_EQ(error_of([&] { block::clone(s.get(), true, false); }), "no-cycle");
        EXPECT_EQ(cycles::depth(), 0u);
    }
    stack::Snapshot snap;
    Cell* c = block::clone(blk.get(), false, false);  // a shallow clone is fine
    EXPECT_EQ(contents(c)[1].data2, blk->data2);
    snap.restore();
}

TEST_F(Block, DeepCloneOfDeepNestingRaisesTooDeep) {
    Root blk;
    make(blk, {});
    for (int i = 0; i < 1100; i++) {
        Root outer;
        make(outer, {blk.cell});
        blk.cell = outer.cell;
    }
    EXPECT_EQ(error_of([&] { block::clone(blk.get(), true, false); }), "too-deep");
    EXPECT_EQ(cycles::depth(), 0u);
    // A block shared twice is no cycle.
    Root inner, twice;
    make(inner, numbers({1}));
    make(twice, {inner.cell, inner.cell});
    stack::Snapshot snap;
    Cell* c = block::clone(twice.get(), true, false);
    std::vector<Cell> cells = contents(c);
    EXPECT_NE(cells[0].data2, cells[1].data2);
    snap.restore();
}

TEST_F(Block, CopyNestedSelectsCellsByType) {
    block::copy_hook = copy_value;
    Root inner, text;
    make(inner, numbers({1}));
    string::make_at(text.get(), 4);
    string::concatenate_cstring(text.get(), "ab", 2);
    Cell string_type{T_DATATYPE, T_STRING, 0, 0};
    Cell block_type{T_DATATYPE, T_BLOCK, 0, 0};
    Cell text_set{T_TYPESET, 0, 0, 0};
    reinterpret_cast<uint8_t*>(&text_set.data1)[T_STRING >> 3] |= uint8_t(0x80 >> (T_STRING & 7));
    struct Case {
        const Cell* types;
        uint32_t first, end, step;
        std::vector<bool> copied;  // per cell: replaced by a copy
    };
    const Case cases[] = {
        {nullptr, 0, 5, 1, {true, true, false, true, true}},
        {&none_value, 0, 5, 1, {true, true, false, true, true}},
        {&string_type, 0, 5, 1, {false, true, false, false, true}},
        {&block_type, 0, 5, 1, {true, false, false, true, false}},
        {&text_set, 0, 5, 1, {false, true, false, false, true}},
        {nullptr, 1, 5, 2, {false, true, false, true, false}},
        {nullptr, 3, 99, 1, {false, false, false, true, true}},
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, {nl(inner.cell), text.cell, integer(1), inner.cell, text.cell});
        block::copy_nested(blk.get(), c.first, c.end, c.step, false, c.types);
        std::vector<Cell> cells = contents(blk.get());
        for (size_t i = 0; i < cells.size(); i++) {
            Handle original = (i == 0 || i == 3) ? inner->data2 : (i == 1 || i == 4) ? text->data2 : 0;
            bool copied = original && cells[i].data2 != original;
            EXPECT_EQ(copied, bool(c.copied[i])) << i;
        }
        EXPECT_EQ(cells[0].header & CELL_NEW_LINE, CELL_NEW_LINE);  // flags kept
        EXPECT_EQ(string::to_utf8(&cells[1]), "ab");
    }
}

TEST_F(Block, CopyNestedDeepAndCyclic) {
    block::copy_hook = copy_value;
    Root text, inner, blk;
    string::make_at(text.get(), 4);
    make(inner, {text.cell});
    make(blk, {inner.cell});
    block::copy_nested(blk.get(), 0, 1, 1, true, nullptr);
    Cell copy = contents(blk.get())[0];
    EXPECT_NE(copy.data2, inner->data2);
    EXPECT_NE(contents(&copy)[0].data2, text->data2);  // the deep copy reached the text

    // A block that contains itself: its copy meets it again.
    Root cyc;
    make(cyc, numbers({1}));
    block::append_value(cyc.get(), cyc.get());
    Root holder;
    make(holder, {cyc.cell});
    EXPECT_EQ(error_of([&] { block::copy_nested(holder.get(), 0, 1, 1, true, nullptr); }), "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    // A cell whose container is being walked is refused before its copy is asked for.
    copies_made = 0;
    EXPECT_EQ(error_of([&] {
                  cycles::Guard g(cyc->data2);
                  block::copy_nested(cyc.get(), 0, 2, 1, true, nullptr);
              }),
              "no-cycle");
    EXPECT_EQ(copies_made, 0);

    block::copy_hook = nullptr;
    EXPECT_EQ(error_of([&] { block::copy_nested(blk.get(), 0, 1, 1, false, nullptr); }), "not-done");
}

// ---- molding ----

TEST_F(Block, MoldLayout) {
    Root inner;
    make(inner, {nl(integer(5)), nl(integer(6))});
    Root inner_flat;
    make(inner_flat, numbers({7, 8}));
    struct Case {
        std::vector<Cell> cells;
        bool only, flat;
        int32_t indent;
        const char* text;
    };
    const Case cases[] = {
        {{integer(1), none_value, true_value}, false, false, 0, "1 none true"},
        {{nl(integer(1)), nl(integer(2))}, false, false, 0, "\n    1\n    2\n"},
        {{nl(integer(1)), integer(2)}, false, false, 0, "\n    1 2\n"},
        {{integer(1), nl(integer(2)), integer(3)}, false, false, 0, "1\n2 3"},
        {{integer(1), nl(integer(2))}, false, false, 2, "1\n        2"},
        {{nl(integer(1)), nl(integer(2))}, false, true, 0, "1 2"},
        {{nl(integer(1)), nl(integer(2))}, true, false, 0, "1\n2"},
        {{nl(integer(1)), nl(integer(2))}, true, false, 1, "    1\n    2"},
        {{nl(integer(1)), nl(integer(2))}, false, false, 1, "\n        1\n        2\n    "},
        {{integer(1), inner.cell}, false, false, 0, "1 [\n    5\n    6\n]"},
        {{nl(integer(1)), inner.cell}, false, false, 0, "\n    1 [\n        5\n        6\n    ]\n"},
        {{nl(inner_flat.cell), nl(inner.cell)}, false, true, 0, "[7 8] [5 6]"},
        {{}, false, false, 0, ""},
    };
    for (const Case& c : cases) {
        Root blk;
        make(blk, c.cells);
        int32_t left = 0;
        std::string text = mold(blk.get(), c.only, c.flat, c.indent, false, 1000, &left);
        EXPECT_EQ(text, c.text) << c.only << c.flat << c.indent;
        EXPECT_EQ(left, 1000 - int32_t(text.size())) << c.text;
    }
}

TEST_F(Block, MoldWrappedInBrackets) {
    Root blk;
    make(blk, {nl(integer(1)), nl(integer(2))});
    EXPECT_EQ(mold_value(blk.get()), "[\n    1\n    2\n]");
    EXPECT_EQ(mold_value(blk.get(), true), "[1 2]");
}

TEST_F(Block, MoldStopsAtThePartLimit) {
    Root blk;
    make(blk, numbers({111, 222, 333, 444}));
    struct Case {
        int32_t limit;
        const char* text;
        int32_t left;
    };
    const Case cases[] = {
        {0, "", 0}, {2, "111", -1}, {3, "111", 0}, {4, "111 222", -3}, {100, "111 222 333 444", 85},
    };
    for (const Case& c : cases) {
        int32_t left = 0;
        EXPECT_EQ(mold(blk.get(), false, false, 0, true, c.limit, &left), c.text) << c.limit;
        EXPECT_EQ(left, c.left) << c.limit;
        EXPECT_EQ(cycles::depth(), 0u);
    }
}

TEST_F(Block, MoldOfABlockThatContainsItself) {
    Root blk, shared, twice;
    make(blk, {none_value});
    block::append_value(blk.get(), blk.get());
    EXPECT_EQ(mold_value(blk.get()), "[none [...]]");
    int32_t left = 0;
    mold(blk.get(), false, false, 0, false, 100, &left);
    EXPECT_EQ(left, 100 - 10);  // "none [...]"
    make(shared, numbers({1}));
    make(twice, {shared.cell, shared.cell});
    EXPECT_EQ(mold_value(twice.get()), "[[1] [1]]");
}

// ---- comparing ----

TEST_F(Block, CompareEach) {
    Root empty, one, one_b, two, twelve, mixed, flt, nested_a, nested_b;
    make(empty, {});
    make(one, numbers({1}));
    make(one_b, numbers({1}));
    make(two, numbers({2}));
    make(twelve, numbers({1, 2}));
    make(mixed, {none_value});
    Cell f{T_FLOAT, 0, 0, 0};
    f.set_float(1.0);
    make(flt, {f});
    make(nested_a, {one.cell, integer(3)});
    make(nested_b, {one_b.cell, integer(4)});
    struct Case {
        const Cell* a;
        const Cell* b;
        int32_t op, answer;
    };
    const Case cases[] = {
        {empty.get(), one.get(), COMP_LESSER, -1},
        {one.get(), empty.get(), COMP_LESSER, 1},
        {empty.get(), empty.get(), COMP_EQUAL, 0},
        {one.get(), one_b.get(), COMP_EQUAL, 0},
        {one.get(), one_b.get(), COMP_SAME, -1},
        {one.get(), one.get(), COMP_SAME, 0},
        {one.get(), two.get(), COMP_EQUAL, -1},
        {one.get(), twelve.get(), COMP_EQUAL, 1},       // lengths differ: unequal at once
        {one.get(), twelve.get(), COMP_NOT_EQUAL, 1},
        {one.get(), twelve.get(), COMP_SORT, -1},        // the shorter is the lesser
        {twelve.get(), one.get(), COMP_GREATER, 1},
        {two.get(), twelve.get(), COMP_SORT, 1},
        {mixed.get(), one.get(), COMP_EQUAL, -1},        // none! before integer!
        {one.get(), mixed.get(), COMP_EQUAL, 1},
        {one.get(), flt.get(), COMP_EQUAL, NOT_COMPARABLE},  // numbers go to the element compare
        {nested_a.get(), nested_b.get(), COMP_LESSER, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(block::compare_each(c.a, c.b, c.op), c.answer) << c.op << " " << ints(c.a).size();
        EXPECT_EQ(cycles::depth(), 0u);
    }
}

TEST_F(Block, CompareEachWordsOfAnyKind) {
    Root a, b, c;
    make(a, {word_cell("foo")});
    make(b, {word_cell("FOO", T_SET_WORD)});
    make(c, {none_value});
    EXPECT_EQ(block::compare_each(a.get(), b.get(), COMP_EQUAL), 0);
    EXPECT_NE(block::compare_each(a.get(), b.get(), COMP_STRICT_EQUAL), 0);
    EXPECT_EQ(block::compare_each(a.get(), c.get(), COMP_EQUAL), 1);  // word! after none!
}

TEST_F(Block, CompareEachTerminatesOnCyclicBlocks) {
    Root a, b, c;
    make(a, {none_value});
    block::append_value(a.get(), a.get());
    make(b, {none_value});
    block::append_value(b.get(), b.get());
    make(c, {true_value});
    block::append_value(c.get(), c.get());
    struct Case {
        const Cell* x;
        const Cell* y;
        int32_t op, answer;
    };
    const Case cases[] = {
        {a.get(), a.get(), COMP_EQUAL, 0}, {a.get(), b.get(), COMP_EQUAL, 0},
        {a.get(), c.get(), COMP_EQUAL, -1}, {c.get(), a.get(), COMP_EQUAL, 1},
        {a.get(), b.get(), COMP_SORT, 0},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(block::compare_each(k.x, k.y, k.op), k.answer);
        EXPECT_EQ(cycles::depth(), 0u);
    }
    // A block on the stack compared with one that is not: unequal.
    cycles::Guard g(a->data2);
    EXPECT_EQ(block::compare_each(a.get(), c.get(), COMP_EQUAL), -1);
    EXPECT_EQ(block::compare_each(b.get(), c.get(), COMP_EQUAL), -1);
}

// ---- hash! ----

// A hash! over integers, rooted; every cell must be found at its own position.
struct Hash {
    Root root{Cell{T_HASH, 0, 0, 0}};
    explicit Hash(std::initializer_list<int32_t> values) {
        root->data2 = memory::make_cells(uint32_t(std::max<size_t>(values.size(), 1)));
        for (int32_t v : values) *buffer::alloc_tail_cell(root->data2) = Cell{T_INTEGER, 0, uint32_t(v), 0};
        Cell src{T_BLOCK, 0, root->data2, 0};
        root->data3 = hashtable::make(uint32_t(values.size()), &src, hashtable::KIND_HASH, 0);
    }
    void expect_in_step(const char* what) {
        SeriesBuffer* b = memory::buffer_of(root->data2);
        uint32_t n = b->used() / 16;
        for (uint32_t i = 0; i < n; i++) {
            Cell key = memory::buffer_of(root->data2)->head_cell()[i];
            Cell* found = hashtable::get(root->data3, &key, 0, 1, COMP_EQUAL, false, false);
            ASSERT_NE(found, nullptr) << what << " " << i;
            EXPECT_EQ(found - memory::buffer_of(root->data2)->head_cell(), int32_t(i)) << what;
        }
        Cell missing{T_INTEGER, 0, uint32_t(-1), 0};
        EXPECT_EQ(hashtable::get(root->data3, &missing, 0, 1, COMP_EQUAL, false, false), nullptr) << what;
    }
};

TEST_F(Block, HashTablesFollowAppendsAndInserts) {
    Hash h({10, 11, 12});
    h.expect_in_step("made");
    for (int32_t i = 0; i < 30; i++) {
        Cell v = integer(100 + i);
        block::append_value(h.root.get(), &v);
    }
    h.expect_in_step("append-value");
    h.root->data1 = 2;
    for (int32_t i = 0; i < 30; i++) {
        Cell v = integer(200 + i);
        block::insert_value(h.root.get(), &v, i % 2 == 0, false);
    }
    h.expect_in_step("insert-value");
    for (int32_t i = 0; i < 5; i++) {
        Cell v = integer(300 + i);
        block::insert_value(h.root.get(), &v, false, true);
    }
    h.expect_in_step("insert-value at the start");

    Root src;
    make(src, numbers({400, 401, 402, 403}));
    block::append_cells(h.root.get(), src.get());
    h.expect_in_step("append-cells");
    Root more;
    make(more, numbers({500, 501, 502}));
    block::insert_cells(h.root.get(), more.get());
    h.expect_in_step("insert-cells");

    stack::Snapshot snap;
    Cell* b = stack::push(h.root.get());
    Cell v = integer(600);
    stack::arguments = stack::push(&v);
    block::append_stack_top();
    *stack::arguments = integer(601);
    block::insert_stack_top();
    h.root.cell = *b;
    snap.restore();
    h.expect_in_step("stack forms");
    stack::arguments = stack::push(h.root.get());
    v = integer(602);
    stack::push(&v);
    block::append_arg_to_result();
    snap.restore();
    h.expect_in_step("append-arg-to-result");
    EXPECT_EQ(block::ks_length_q(h.root.get()) + int32_t(h.root->data1), 3 + 30 + 30 + 5 + 4 + 3 + 3);
}

}  // namespace
}  // namespace kov
