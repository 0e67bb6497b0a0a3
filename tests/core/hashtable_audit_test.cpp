// Behaviours of the hash tables and the symbols checked against their contracts: lookups in word
// and symbol tables, the match rules of find_next, the text comparison of symbols, and the state
// a rebuild leaves behind when an error interrupts it.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "words_fixture.hpp"

namespace kov {
namespace {

using testing::WordsTest;
namespace ht = hashtable;

class HashTableAudit : public WordsTest {};

// A string! of Latin-1 text in units of the given width.
Cell latin1(const char* s, uint32_t unit = 1) {
    uint32_t n = uint32_t(std::strlen(s));
    Handle node = memory::make_string_buffer(n + 1, unit);
    SeriesBuffer* b = memory::buffer_of(node);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = uint8_t(s[i]);
        std::memcpy(b->head_ptr() + i * unit, &cp, unit);
    }
    b->tail = b->head + n * unit;
    return Cell{T_STRING, 0, node, 0};
}

// ---- get on kind-2 tables ----

TEST_F(HashTableAudit, GetFindsWordsInAWordTableByExactSymbol) {
    collector::Root obj(Cell{T_OBJECT, context::create(4, false, true, nullptr, context::KIND_OBJECT), 0, 0});
    for (const char* name : {"alpha", "beta", "gamma"}) {
        Cell w{T_WORD, obj->data1, symbol::make(name), 0xFFFFFFFFu};
        Cell v = integer(int32_t(name[0]));
        context::set(&w, &v);
    }
    struct Case {
        const char* spelling;
        uint32_t type;
        int32_t position;  // in the word block, -1 for none
    };
    const Case cases[] = {
        {"alpha", T_WORD, 0},      {"beta", T_SET_WORD, 1}, {"gamma", T_LIT_WORD, 2},
        {"gamma", T_REFINEMENT, 2}, {"Beta", T_WORD, -1},    {"delta", T_WORD, -1},
    };
    for (const Case& c : cases) {
        Cell key{c.type, 0, symbol::make(c.spelling), 0xFFFFFFFFu};
        Handle table = context::word_table(obj->data1);
        Cell* found = ht::get(table, &key, 0, 1, COMP_EQUAL, false, false);
        Cell* words = memory::buffer_of(ht::record(table)->data)->head_cell();
        if (c.position < 0) {
            EXPECT_EQ(found, nullptr) << c.spelling;
            continue;
        }
        ASSERT_NE(found, nullptr) << c.spelling;
        EXPECT_EQ(found - words, c.position) << c.spelling;
        EXPECT_EQ(found->data2, key.data2) << c.spelling;
    }
}

TEST_F(HashTableAudit, GetFindsSymbolsInTheSymbolTableBySpelling) {
    uint32_t print = symbol::make("print");
    uint32_t variant = symbol::make("Print");
    for (uint32_t id : {print, variant}) {
        Cell key = *symbol::cell(id);
        Cell* found = ht::get(symbol::table, &key, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(found, nullptr) << symbol::name(id);
        EXPECT_EQ(found, symbol::cell(id)) << symbol::name(id);
    }
    // A symbol cell whose spelling was never interned is absent, and nothing is added.
    uint32_t count = symbol::count();
    Handle spelling = memory::make_bytes(16);
    std::memcpy(memory::buffer_of(spelling)->head_ptr(), "never-interned", 14);
    memory::buffer_of(spelling)->tail = memory::buffer_of(spelling)->head + 14;
    collector::Root key(Cell{T_SYMBOL, 0xFFFFFFFFu, 0, spelling});
    EXPECT_EQ(ht::get(symbol::table, key.get(), 0, 1, COMP_EQUAL, false, false), nullptr);
    EXPECT_EQ(symbol::count(), count);
    // A word key is no key of the symbol table, nor a symbol key one of a word table.
    Cell word{T_WORD, 0, print, 0};
    EXPECT_EQ(ht::get(symbol::table, &word, 0, 1, COMP_EQUAL, false, false), nullptr);
    Cell sym = *symbol::cell(print);
    context::add_global(print);
    EXPECT_EQ(ht::get(context::word_table(context::global), &sym, 0, 1, COMP_EQUAL, false, false), nullptr);
}

// ---- find_next matches as the lookups do ----

// Every key cell find_next hands out for a probe, by position in the value block.
std::vector<int32_t> walk(Handle table, const Cell* probe) {
    std::vector<int32_t> found;
    int32_t bucket = -1, end = 0, step = 0;
    while (Cell* k = ht::find_next(table, probe, &bucket, &end, &step)) {
        found.push_back(int32_t(k - memory::buffer_of(ht::record(table)->data)->head_cell()));
        if (found.size() > 16) break;  // a walk that does not end
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST_F(HashTableAudit, FindNextMatchesKeysAsGetDoes) {
    // A map! of pairs: "abc" 1, 7 2, "ABC" 3.
    collector::Root m(Cell{T_MAP, 0, 0, ht::make(4, nullptr, ht::KIND_MAP, 0)});
    m->data2 = ht::record(m->data3)->data;
    {
        collector::Root k1(latin1("abc")), k2(latin1("ABC"));
        const Cell pairs[] = {k1.cell, integer(1), integer(7), integer(2), k2.cell, integer(3)};
        for (const Cell& c : pairs) *buffer::alloc_tail_cell(m->data2) = c;
        for (uint32_t p : {0u, 2u, 4u}) ht::put(m->data3, memory::buffer_of(m->data2)->head_cell() + p);
    }
    // A part marker (internal type 56) limited to three units matches keys of any text type.
    collector::Root marker(latin1("aBcdef"));
    marker->header = ht::T_PROBE;
    marker->data3 = 3;
    ASSERT_NE(ht::get(m->data3, marker.get(), 0, 1, COMP_EQUAL, false, false), nullptr);
    EXPECT_EQ(walk(m->data3, marker.get()), (std::vector<int32_t>{0, 4}));
    Cell seven = integer(7);
    EXPECT_EQ(walk(m->data3, &seven), (std::vector<int32_t>{2}));

    // A hash! [a: 1 a 2 A]: a: and a are equal under = but kept in buckets of their own; a walk
    // for either word meets both buckets, as get does.
    Cell a = word_cell("a"), set_a = word_cell("a", T_SET_WORD), big_a = word_cell("A");
    collector::Root h(Cell{T_HASH, 0, memory::make_cells(5), 0});
    for (const Cell& c : {set_a, integer(1), a, integer(2), big_a}) *buffer::alloc_tail_cell(h->data2) = c;
    Cell src{T_BLOCK, 0, h->data2, 0};
    h->data3 = ht::make(5, &src, ht::KIND_HASH, 0);
    EXPECT_EQ(walk(h->data3, &a), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(walk(h->data3, &set_a), (std::vector<int32_t>{0, 2}));
    Cell one = integer(1);
    EXPECT_EQ(walk(h->data3, &one), (std::vector<int32_t>{1}));
}

// ---- symbols compare as their spellings ----

TEST_F(HashTableAudit, SymbolsCompareAsText) {
    collector::Root upper(latin1("PRINT")), lower(latin1("print", 2)), prefix(latin1("prin"));
    collector::Root empty(latin1(""));
    Cell tail = lower.cell;  // "int" from the third character on
    tail.data1 = 2;
    collector::Root from_head(tail);
    auto sym = [](const char* s) { return *symbol::cell(symbol::make(s)); };
    struct Case {
        Cell a, b;
        int32_t op, expect;
        const char* what;
    };
    const std::vector<Case> cases = {
        // Sameness: only the very symbol.
        {sym("print"), sym("print"), COMP_SAME, 0, "same symbol"},
        {sym("print"), sym("Print"), COMP_SAME, -1, "case variant is not the same"},
        {sym("print"), sym("PRINT"), COMP_SAME, -1, "case variant is not the same"},
        // Equality ops: different lengths are unequal, whichever is longer.
        {sym("print"), sym("prints"), COMP_EQUAL, 1, "shorter first, ="},
        {sym("prints"), sym("print"), COMP_EQUAL, 1, "longer first, ="},
        {sym("print"), sym("prints"), COMP_NOT_EQUAL, 1, "shorter first, <>"},
        {sym("print"), sym("prints"), COMP_STRICT_EQUAL, 1, "shorter first, =="},
        {sym("print"), sym("prints"), COMP_FIND, 1, "shorter first, find"},
        {sym("a"), sym(""), COMP_EQUAL, 1, "empty second"},
        {sym(""), sym("a"), COMP_EQUAL, 1, "empty first"},
        {sym(""), sym(""), COMP_EQUAL, 0, "both empty"},
        {sym("print"), sym("PRINT"), COMP_EQUAL, 0, "case folds under ="},
        {sym("print"), sym("PRINT"), COMP_STRICT_EQUAL, 1, "exact under =="},
        {sym("print"), sym("prinz"), COMP_EQUAL, -1, "first difference decides"},
        // Ordering ops: the common length first, then the lengths.
        {sym("print"), sym("prints"), COMP_LESSER, -1, "prefix sorts first"},
        {sym("prints"), sym("print"), COMP_SORT, 1, "longer sorts last"},
        {sym(""), sym("a"), COMP_LESSER, -1, "empty sorts first"},
        {sym("a"), sym(""), COMP_GREATER, 1, "empty second, ordering"},
        {sym("B"), sym("a"), COMP_SORT, 1, "folded for sorting"},
        {sym("B"), sym("a"), COMP_CASE_SORT, -1, "exact for case sorting"},
        // A text value on the other side stands for its text from its head.
        {sym("print"), upper.cell, COMP_EQUAL, 0, "symbol = string"},
        {sym("print"), upper.cell, COMP_STRICT_EQUAL, 1, "symbol == string"},
        {sym("print"), lower.cell, COMP_STRICT_EQUAL, 0, "symbol == wide string"},
        {sym("print"), prefix.cell, COMP_EQUAL, 1, "string shorter"},
        {sym("prin"), lower.cell, COMP_LESSER, -1, "string longer, ordering"},
        {sym("int"), from_head.cell, COMP_STRICT_EQUAL, 0, "string from its head"},
        {sym(""), empty.cell, COMP_EQUAL, 0, "both texts empty"},
        {sym("print"), Cell{T_INTEGER, 0, 1, 0}, COMP_EQUAL, NOT_COMPARABLE, "not text"},
    };
    for (const Case& c : cases) EXPECT_EQ(symbol::compare(&c.a, &c.b, c.op), c.expect) << c.what;
}

// ---- a rebuild interrupted by an error ----

int32_t raising_compare(const Cell*, const Cell*, int32_t) { stack::raise_error("internal", "too-deep"); }

TEST_F(HashTableAudit, RebuildInterruptedByAnErrorKeepsNodeEvacuationOn) {
    // Equal keys make the rebuild compare them; the comparison raises an error half-way.
    collector::Root h(Cell{T_HASH, 0, memory::make_cells(4), 0});
    for (int i = 0; i < 3; i++) *buffer::alloc_tail_cell(h->data2) = integer(7);
    Cell src{T_BLOCK, 0, h->data2, 0};
    h->data3 = ht::make(3, &src, ht::KIND_HASH, 0);
    const bool evacuation = collector::state.evacuation;
    collector::state.evacuation = true;
    auto saved = ht::compare_hook;
    ht::compare_hook = raising_compare;
    std::string id = error_of([&] { ht::rebuild(h->data3, 3); });
    ht::compare_hook = saved;
    EXPECT_EQ(id, "too-deep");
    EXPECT_TRUE(collector::state.evacuation);  // the collector's setting is the one it had
    collector::state.evacuation = evacuation;
    // The table is usable again once rebuilt.
    ht::rebuild(h->data3, 3);
    Cell seven = integer(7);
    Cell* found = ht::get(h->data3, &seven, 1, 1, COMP_EQUAL, false, false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found - memory::buffer_of(h->data2)->head_cell(), 1);
}

}  // namespace
}  // namespace kov
