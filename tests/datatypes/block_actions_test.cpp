// The block! actions: append, insert and change (with /part, /only, /dup and sources inside the
// target), find and select with their refinements, put, sort with every refinement and the
// reading of a function comparator's answers, take, swap, trim, make, copy/deep of cyclic blocks, set operations, form
// and mold.
#include <string>
#include <vector>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/typeset.hpp"
#include "series_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::SeriesTest;
using V = std::vector<int32_t>;

class BlockActions : public SeriesTest {};

TEST_F(BlockActions, AppendAndInsert) {
    struct Case { bool append; uint32_t head; V value; bool spliced; int32_t part; int32_t dup;
                  V expect; uint32_t result_head; } cases[] = {
        {true, 1, {3}, true, -1, 1, {1, 2, 3}, 0},
        {true, 0, {3, 4}, true, -1, 1, {1, 2, 3, 4}, 0},
        {true, 0, {3, 4}, true, 1, 1, {1, 2, 3}, 0},
        {true, 0, {3, 4}, true, 9, 1, {1, 2, 3, 4}, 0},
        {true, 0, {3}, true, -1, 3, {1, 2, 3, 3, 3}, 0},
        {true, 0, {}, true, -1, 1, {1, 2}, 0},
        {false, 0, {3}, true, -1, 1, {3, 1, 2}, 1},
        {false, 1, {3, 4}, true, -1, 1, {1, 3, 4, 2}, 3},
        {false, 1, {3, 4}, true, -1, 2, {1, 3, 4, 3, 4, 2}, 5},
        {false, 9, {3}, true, -1, 1, {1, 2, 3}, 3},  // a head past the tail is clamped
    };
    for (const Case& c : cases) {
        Root s, v;
        ints(s, {1, 2}, c.head);
        ints(v, c.value);
        const ActionTable& t = of(s.get());
        Cell* r = (c.append ? t.append : t.insert)(s.get(), v.get(), c.part, false, c.dup);
        EXPECT_EQ(all(s.get()), c.expect) << c.append << " " << c.head;
        EXPECT_EQ(r->data1, c.result_head) << c.append << " " << c.head;
    }
    Root s, v;
    ints(s, {1});
    ints(v, {2, 3});
    of(s.get()).append(s.get(), v.get(), -1, true, 1);  // /only: one cell
    EXPECT_EQ(all(s.get()), (V{1, -1}));
}

TEST_F(BlockActions, InsertAndChangeABlockIntoItself) {
    Root s;
    ints(s, {1, 2, 3}, 1);
    of(s.get()).insert(s.get(), s.get(), -1, false, 1);
    EXPECT_EQ(all(s.get()), (V{1, 2, 3, 2, 3}));
    Root a;
    ints(a, {1, 2, 3, 4, 5});
    of(a.get()).append(a.get(), a.get(), -1, false, 2);
    EXPECT_EQ(all(a.get()).size(), 15u);
    // change with a source overlapping the target: the source is read as it was.
    struct Case { uint32_t target; uint32_t source; int32_t part; V expect; } cases[] = {
        {0, 2, -1, {3, 4, 5, 4, 5}},
        {2, 0, -1, {1, 2, 1, 2, 3, 4, 5}},
        {1, 0, 1, {1, 1, 2, 3, 4, 5, 3, 4, 5}},
        {0, 3, 3, {4, 5, 4, 5}},
    };
    for (const Case& c : cases) {
        Root t, src;
        ints(t, {1, 2, 3, 4, 5}, c.target);
        src.cell = t.cell;
        src->data1 = c.source;
        of(t.get()).change(t.get(), src.get(), c.part, false, 1);
        EXPECT_EQ(all(t.get()), c.expect) << c.target << " " << c.source;
    }
}

TEST_F(BlockActions, Change) {
    struct Case { uint32_t head; V value; int32_t part; int32_t dup; V expect; uint32_t at; } cases[] = {
        {0, {9}, -1, 1, {9, 2, 3}, 1},
        {1, {8, 9}, -1, 1, {1, 8, 9}, 3},
        {2, {7, 8, 9}, -1, 1, {1, 2, 7, 8, 9}, 5},
        {0, {9}, 2, 1, {9, 3}, 1},
        {0, {9}, 0, 1, {9, 1, 2, 3}, 1},
        {1, {9}, -1, 3, {1, 9, 9, 9}, 4},
        {3, {9}, -1, 1, {1, 2, 3, 9}, 4},
    };
    for (const Case& c : cases) {
        Root s, v;
        ints(s, {1, 2, 3}, c.head);
        ints(v, c.value);
        Cell* r = of(s.get()).change(s.get(), v.get(), c.part, false, c.dup);
        EXPECT_EQ(all(s.get()), c.expect) << c.head;
        EXPECT_EQ(r->data1, c.at) << c.head;
    }
}

TEST_F(BlockActions, FindAndSelect) {
    Root s;
    ints(s, {1, 2, 3, 1, 2, 3});
    struct Case { V value; FindArgs args; int32_t found; int32_t selected; } cases[] = {
        {{2}, {}, 1, 3},
        {{2, 3}, {}, 1, 1},  // a sequence; select answers the cell after it
        {{3, 1}, {}, 2, 2},
        {{4}, {}, -1, -1},
        {{1}, {.last = true}, 3, 2},
        {{1}, {.tail = true}, 1, -2},
        {{1}, {.last = true, .tail = true}, 4, -2},
        {{2, 3}, {.tail = true}, 3, -2},
        {{2}, {.match = true}, -1, -2},
        {{1}, {.match = true}, 0, -2},
        {{3}, {.skip = nullptr, .last = false}, 2, 1},
    };
    for (const Case& c : cases) {
        Root v;
        ints(v, c.value);
        Cell single = c.value.size() == 1 ? integer(c.value[0]) : v.cell;
        Cell* r = of(s.get()).find.fn(s.get(), &single, c.args);
        if (c.found < 0) EXPECT_TRUE(r->is(T_NONE));
        else EXPECT_EQ(int32_t(r->data1), c.found);
        if (c.selected == -2) continue;
        Cell* sel = of(s.get()).select.fn(s.get(), &single, c.args);
        if (c.selected < 0) EXPECT_TRUE(sel->is(T_NONE));
        else EXPECT_EQ(sel->get_int(), c.selected);
    }
    // /only looks for a nested block; a datatype finds the first of its type.
    Root nested, inner;
    ints(inner, {2, 3});
    ints(nested, {1, 2, 3});
    of(nested.get()).append(nested.get(), inner.get(), -1, true, 1);
    EXPECT_EQ(of(nested.get()).find.fn(nested.get(), inner.get(), {.only = true})->data1, 3u);
    EXPECT_EQ(of(nested.get()).find.fn(nested.get(), inner.get(), {})->data1, 1u);
    Cell dt = cells::make_datatype(T_BLOCK);
    EXPECT_EQ(of(nested.get()).find.fn(nested.get(), &dt, {})->data1, 3u);
}

TEST_F(BlockActions, FindRefinementsOfPositionAndStep) {
    Root s;
    ints(s, {1, 2, 3, 4, 5, 6}, 3);
    Cell one = integer(1), five = integer(5), two = integer(2);
    EXPECT_EQ(of(s.get()).find.fn(s.get(), &two, {.reverse = true})->data1, 1u);
    EXPECT_TRUE(of(s.get()).find.fn(s.get(), &five, {.reverse = true})->is(T_NONE));
    Cell part = integer(1);
    EXPECT_TRUE(of(s.get()).find.fn(s.get(), &five, {.part = &part})->is(T_NONE));
    Cell part2 = integer(2);
    EXPECT_EQ(of(s.get()).find.fn(s.get(), &five, {.part = &part2})->data1, 4u);
    s->data1 = 0;
    Cell skip2 = integer(2);
    EXPECT_TRUE(of(s.get()).find.fn(s.get(), &two, {.skip = &skip2})->is(T_NONE));
    EXPECT_EQ(of(s.get()).find.fn(s.get(), &five, {.skip = &skip2})->data1, 4u);
    Cell zero = integer(0), arg{};
    EXPECT_EQ(error_of([&] { of(s.get()).find.fn(s.get(), &one, {.skip = &zero}); }), "out-of-range");
    Cell w = word_cell("x");
    EXPECT_EQ(error_of([&] { of(s.get()).find.fn(s.get(), &one, {.part = &w}); }, &arg), "invalid-refine-arg");
    EXPECT_EQ(symbol::name(arg.data2), "part");
    // select on the last key answers none
    Cell six = integer(6);
    EXPECT_TRUE(of(s.get()).select.fn(s.get(), &six, {})->is(T_NONE));
}

TEST_F(BlockActions, Put) {
    Root s;
    ints(s, {1, 10, 2, 20, 3});
    Cell k = integer(2), v = integer(99), k3 = integer(3), k4 = integer(4);
    of(s.get()).put(s.get(), &k, &v, false);
    EXPECT_EQ(all(s.get()), (V{1, 10, 2, 99, 3}));
    of(s.get()).put(s.get(), &k3, &v, false);  // the key was last: a new value cell
    EXPECT_EQ(all(s.get()), (V{1, 10, 2, 99, 3, 99}));
    of(s.get()).put(s.get(), &k4, &v, false);
    EXPECT_EQ(all(s.get()), (V{1, 10, 2, 99, 3, 99, 4, 99}));
}

TEST_F(BlockActions, SortRefinements) {
    struct Case { V input; int32_t skip; int32_t compare; int32_t part; bool all, reverse, stable;
                  V expect; const char* error; } cases[] = {
        {{3, 1, 2}, 0, 0, 0, false, false, false, {1, 2, 3}, ""},
        {{3, 1, 2}, 0, 0, 0, false, true, false, {3, 2, 1}, ""},
        {{3, 1, 2}, 0, 0, 0, false, false, true, {1, 2, 3}, ""},
        {{5, 4, 3, 2, 1}, 0, 0, 3, false, false, false, {3, 4, 5, 2, 1}, ""},
        {{3, 0, 1, 9, 2, 5}, 2, 0, 0, false, false, false, {1, 9, 2, 5, 3, 0}, ""},
        {{3, 0, 1, 9, 2, 5}, 2, 2, 0, false, false, false, {3, 0, 2, 5, 1, 9}, ""},
        {{1, 9, 1, 2, 0, 5}, 2, 0, 0, true, false, false, {0, 5, 1, 2, 1, 9}, ""},
        {{1, 2, 3}, 2, 0, 0, false, false, false, {}, "invalid-refine-arg"},
        {{1, 2, 3}, 0, 0, 0, true, false, false, {}, "bad-refines"},
        {{1, 2, 3, 4}, 0, 1, 0, false, false, false, {}, "bad-refines"},
        {{1, 2, 3, 4}, 2, 3, 0, false, false, false, {}, "out-of-range"},
        {{1, 2, 3, 4}, 2, 1, 0, true, false, false, {}, "bad-refines"},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, c.input);
        Cell skip = integer(c.skip), cmp = integer(c.compare), part = integer(c.part);
        auto run = [&] {
            of(s.get()).sort(s.get(), false, c.skip ? &skip : nullptr, c.compare ? &cmp : nullptr,
                             c.part ? &part : nullptr, c.all, c.reverse, c.stable);
        };
        if (*c.error) {
            EXPECT_EQ(error_of(run), c.error) << c.skip << " " << c.compare;
            EXPECT_EQ(all(s.get()), c.input);
        } else {
            run();
            EXPECT_EQ(all(s.get()), c.expect) << c.skip << " " << c.compare << " " << c.part;
        }
    }
    Root s;
    ints(s, {1, 5, 4, 3}, 3);
    Cell back = integer(-2);
    of(s.get()).sort(s.get(), false, nullptr, nullptr, &back, false, false, false);
    EXPECT_EQ(all(s.get()), (V{1, 4, 5, 3}));  // the two cells before the head
}

// Sorting with Kov comparator functions runs in tests/lang/datatypes/sort-compare.kov; here only
// the reading of their answers.
TEST_F(BlockActions, ComparatorVerdicts) {
    struct Case { Cell answer; int32_t verdict; } cases[] = {
        {cells::make_logic(true), 1}, {cells::make_logic(false), -1}, {integer(-3), 1},
        {integer(4), -1}, {integer(0), 0}, {cells::make_float(-0.5), 1},
        {cells::make_float(2.0), -1}, {cells::make_float(0.0), 0}, {cells::make_none(), -1},
        {word_cell("x"), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(block::comparator_verdict(&c.answer), c.verdict);
}

TEST_F(BlockActions, TakeSwapTrim) {
    Root s;
    ints(s, {1, 2, 3});
    stack::Snapshot snap;
    Cell* r = of(s.get()).take(s.get(), nullptr, false, false);
    EXPECT_EQ(r->get_int(), 1);
    r = of(s.get()).take(s.get(), nullptr, false, true);
    EXPECT_EQ(r->get_int(), 3);
    EXPECT_EQ(all(s.get()), (V{2}));
    of(s.get()).take(s.get(), nullptr, false, false);
    EXPECT_TRUE(of(s.get()).take(s.get(), nullptr, false, false)->is(T_NONE));
    snap.restore();

    Root a, b;
    ints(a, {1, 2});
    ints(b, {8, 9}, 1);
    of(a.get()).swap(a.get(), b.get());
    EXPECT_EQ(all(a.get()), (V{9, 2}));
    EXPECT_EQ(all(b.get()), (V{8, 1}));
    Cell n = integer(1);
    EXPECT_EQ(error_of([&] { of(a.get()).swap(a.get(), &n); }), "invalid-arg");

    Root t;
    ints(t, {1, 2, 3});
    Cell none = cells::make_none();
    of(t.get()).poke(t.get(), 2, &none);
    of(t.get()).append(t.get(), &none, -1, false, 1);
    of(t.get()).trim(t.get(), false, false, false, false, false, nullptr);
    EXPECT_EQ(all(t.get()), (V{1, 3}));
}

TEST_F(BlockActions, MakeAndTo) {
    Root s;
    ints(s, {1, 2, 3}, 1);
    stack::Snapshot snap;
    Cell* m = of(s.get()).make(nullptr, s.get(), T_PAREN);
    EXPECT_TRUE(m->is(T_PAREN));
    EXPECT_EQ(read(m), (V{2, 3}));
    Cell four = integer(4);
    m = of(s.get()).make(nullptr, &four, T_BLOCK);
    EXPECT_EQ(read(m), V{});
    Cell w = word_cell("x");
    EXPECT_EQ(error_of([&] { of(s.get()).make(nullptr, &w, T_BLOCK); }), "bad-make-arg");
    m = of(s.get()).to(nullptr, &four, T_BLOCK);
    EXPECT_EQ(read(m), (V{4}));
    snap.restore();
}

TEST_F(BlockActions, CopyDeepOfNestedAndCyclicBlocks) {
    Root outer, inner, out;
    ints(inner, {2});
    ints(outer, {1});
    of(outer.get()).append(outer.get(), inner.get(), -1, true, 1);
    of(outer.get()).copy(outer.get(), out.get(), nullptr, true, nullptr);
    Root copied_inner(memory::buffer_of(out->data2)->head_cell()[1]);
    EXPECT_NE(copied_inner->data2, inner->data2);
    EXPECT_EQ(read(copied_inner.get()), (V{2}));
    // A block that holds itself.
    of(inner.get()).append(inner.get(), inner.get(), -1, true, 1);
    std::string id = error_of([&] { of(inner.get()).copy(inner.get(), out.get(), nullptr, true, nullptr); });
    EXPECT_EQ(id, "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    // Nesting deeper than the cycle-detection stack.
    Root deep;
    ints(deep, {0});
    for (int i = 0; i < 1100; i++) {
        Root wrap;
        ints(wrap, {});
        of(wrap.get()).append(wrap.get(), deep.get(), -1, true, 1);
        deep.cell = wrap.cell;
    }
    EXPECT_EQ(error_of([&] { of(deep.get()).copy(deep.get(), out.get(), nullptr, true, nullptr); }), "too-deep");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(BlockActions, SetOperations) {
    struct Case { int op; V a; V b; int32_t skip; V expect; } cases[] = {
        {block::SET_UNIQUE, {1, 2, 1, 3, 2}, {}, 0, {1, 2, 3}},
        {block::SET_UNION, {1, 2}, {2, 3, 1, 4}, 0, {1, 2, 3, 4}},
        {block::SET_INTERSECT, {1, 2, 3, 2}, {2, 3, 4}, 0, {2, 3}},
        {block::SET_EXCLUDE, {1, 2, 3, 1}, {2}, 0, {1, 3}},
        {block::SET_DIFFERENCE, {1, 2, 3}, {2, 3, 4}, 0, {1, 4}},
        {block::SET_UNIQUE, {1, 10, 2, 20, 1, 30}, {}, 2, {1, 10, 2, 20}},
    };
    for (const Case& c : cases) {
        Root a, b;
        ints(a, c.a);
        ints(b, c.b);
        Cell skip = integer(c.skip);
        stack::Snapshot snap;
        Cell* r = block::do_set_op(c.op, a.get(), b.get(), false, c.skip ? &skip : nullptr);
        EXPECT_TRUE(r->is(T_BLOCK));
        EXPECT_EQ(read(r), c.expect) << c.op;
        snap.restore();
    }
}

TEST_F(BlockActions, FormAndMold) {
    Root s, inner;
    ints(inner, {2, 3});
    ints(s, {1});
    of(s.get()).append(s.get(), inner.get(), -1, true, 1);
    EXPECT_EQ(molded(s.get()), "[1 [2 3]]");
    EXPECT_EQ(molded(s.get(), true), "1 [2 3]");
    EXPECT_EQ(formed(s.get()), "1 2 3");
    // A block whose first value starts a new line.
    Root nl;
    ints(nl, {1, 2});
    memory::buffer_of(nl->data2)->head_cell()[0].header |= CELL_NEW_LINE;
    EXPECT_EQ(molded(nl.get()), "[\n    1 2\n]");
    EXPECT_EQ(molded(nl.get(), false, true), "[1 2]");
    of(inner.get()).append(inner.get(), inner.get(), -1, true, 1);
    EXPECT_EQ(molded(inner.get()), "[2 3 [...]]");
    EXPECT_EQ(formed(inner.get()), "2 3 ...");
}

TEST_F(BlockActions, CompareAcrossDatatypes) {
    Root a, b;
    ints(a, {1, 2});
    ints(b, {1, 2});
    EXPECT_EQ(block::compare(a.get(), b.get(), COMP_EQUAL), 0);
    cell::set_type(b.get(), T_PAREN);
    EXPECT_EQ(block::compare(a.get(), b.get(), COMP_EQUAL), NOT_COMPARABLE);
    cell::set_type(a.get(), T_PATH);
    cell::set_type(b.get(), T_LIT_PATH);
    EXPECT_EQ(block::compare(a.get(), b.get(), COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_EQ(block::compare(a.get(), b.get(), COMP_FIND_NOCASE), 0);
}

// A block of words and integers: the words by spelling, the integers as given.
static void keyed(Root& out, std::initializer_list<const char*> words, std::initializer_list<int32_t> values,
                  uint32_t word_type = T_WORD) {
    block::make_at(out.get(), int32_t(2 * words.size()));
    auto v = values.begin();
    for (const char* w : words) {
        Cell k = Cell{word_type, 0, symbol::make(w), 0xFFFFFFFFu};
        block::append_value(out.get(), &k);
        Cell n = Cell{T_INTEGER, 0, uint32_t(*v++), 0};
        block::append_value(out.get(), &n);
    }
}

TEST_F(BlockActions, EvalPathReadsBySelector) {
    Root s;
    keyed(s, {"a", "b", "c"}, {1, 2, 3});
    Cell pick2 = integer(2), pick9 = integer(9), b = word_cell("b"), upper = word_cell("B"),
         z = word_cell("z"), set_b = word_cell("b", T_SET_WORD), last = word_cell("c");
    struct Case { const Cell* element; bool case_sensitive; int32_t expect; const char* what; } cases[] = {
        {&pick2, false, 1, "integer picks"},
        {&pick9, false, -1, "integer past the tail"},
        {&b, false, 2, "word selects"},
        {&upper, false, 2, "word ignores case"},
        {&upper, true, -1, "word with case"},
        {&z, false, -1, "absent word"},
        {&set_b, false, 2, "other kinds select with /only"},
        {&last, false, 3, "the value after the last key"},
    };
    for (const Case& c : cases) {
        PathStep step{s.get(), c.element, nullptr, nullptr, nullptr, nullptr, nullptr, 2,
                      c.case_sensitive, true, false};
        Cell* r = of(s.get()).eval_path(step);
        if (c.expect < 0) EXPECT_TRUE(r->is(T_NONE)) << c.what;
        else EXPECT_EQ(r->get_int(), c.expect) << c.what;
    }
    // Positions and matches count from the head.
    s->data1 = 2;
    PathStep step{s.get(), &pick2, nullptr, nullptr, nullptr, nullptr, nullptr, 2, false, true, false};
    EXPECT_EQ(of(s.get()).eval_path(step)->get_int(), 2);
    s->data1 = 3;
    step.element = &b;
    EXPECT_TRUE(of(s.get()).eval_path(step)->is(T_NONE));
}

TEST_F(BlockActions, EvalPathSetsThroughTheSelector) {
    struct Case { const char* element; bool integer_; int32_t index; std::vector<int32_t> expect;
                  const char* error; } cases[] = {
        {"", true, 2, {-1, 99, -1, 2}, ""},
        {"", true, 4, {-1, 1, -1, 99}, ""},
        {"", true, 5, {}, "out-of-range"},
        {"b", false, 0, {-1, 1, -1, 99}, ""},
        {"B", false, 0, {-1, 1, -1, 99}, ""},
        {"z", false, 0, {}, "bad-path-set"},
    };
    for (const Case& c : cases) {
        Root s, path, element;
        keyed(s, {"a", "b"}, {1, 2});
        ints(path, {7});
        element.cell = c.integer_ ? integer(c.index) : word_cell(c.element);
        Cell value = integer(99);
        PathStep step{s.get(), element.get(), &value, path.get(), nullptr, nullptr, nullptr, 2,
                      false, true, false};
        Cell arg{};
        std::string id = error_of([&] { of(s.get()).eval_path(step); }, &arg);
        EXPECT_EQ(id, c.error) << c.element << c.index;
        if (*c.error) {
            EXPECT_TRUE(arg.is(c.integer_ ? T_INTEGER : T_BLOCK)) << c.element;
            continue;
        }
        EXPECT_EQ(all(s.get()), c.expect) << c.element << c.index;
    }
}

TEST_F(BlockActions, EvalPathOfTheBlockKinds) {
    for (uint32_t t : {T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH, T_HASH})
        EXPECT_EQ(type_registry::table(t).eval_path.fn, &block::eval_path) << t;
    // A hash! selects words through its table (as select/only), and keeps the table in step
    // when a value is set.
    Root s, h;
    keyed(s, {"a", "b"}, {1, 2});
    h.cell = *type_registry::table(T_HASH).make(nullptr, s.get(), T_HASH);
    Cell b = word_cell("b"), value = integer(5);
    PathStep set{h.get(), &b, &value, nullptr, nullptr, nullptr, nullptr, 2, false, true, false};
    of(h.get()).eval_path(set);
    PathStep get = set;
    get.set_value = nullptr;
    EXPECT_EQ(of(h.get()).eval_path(get)->get_int(), 5);
    Cell two = integer(5);
    Cell* found = of(h.get()).find.fn(h.get(), &two, {});
    EXPECT_EQ(found->data1, 3u);
}

TEST_F(BlockActions, ToBlockLoadsTextAndListsTypesets) {
    Root text, r;
    string::make_at(text.get(), 16);
    string::concatenate_cstring(text.get(), "1 [2 3] x");
    for (uint32_t t : {T_BLOCK, T_PAREN}) {
        stack::Snapshot snap;
        r.cell = *block::to(nullptr, text.get(), t);
        snap.restore();
        ASSERT_TRUE(r->is(t));
        ASSERT_EQ(block::ks_length_q(r.get()), 3);
        SeriesBuffer* b = memory::buffer_of(r->data2);
        EXPECT_EQ(b->head_cell()[0].get_int(), 1);
        EXPECT_TRUE(b->head_cell()[1].is(T_BLOCK));
        EXPECT_TRUE(b->head_cell()[2].is(T_WORD));
    }
    // Text that does not load raises the lexer's syntax error.
    Root bad;
    string::make_at(bad.get(), 4);
    string::concatenate_cstring(bad.get(), "[1");
    EXPECT_NE(error_of([&] { block::to(nullptr, bad.get(), T_BLOCK); }), "");
    // A typeset gives the words of its datatypes.
    Root ts(Cell{T_TYPESET, 0, 0, 0});
    Cell dt = cells::make_datatype(T_INTEGER), db = cells::make_datatype(T_BLOCK);
    typeset::set_type(ts.get(), &dt);
    typeset::set_type(ts.get(), &db);
    stack::Snapshot snap;
    r.cell = *block::to(nullptr, ts.get(), T_BLOCK);
    snap.restore();
    ASSERT_EQ(block::ks_length_q(r.get()), 2);
    SeriesBuffer* b = memory::buffer_of(r->data2);
    EXPECT_EQ(symbol::name(b->head_cell()[0].data2), "block!");
    EXPECT_EQ(symbol::name(b->head_cell()[1].data2), "integer!");
    // Other text kinds are wrapped as one value.
    Root file(text.cell);
    cell::set_type(file.get(), T_FILE);
    r.cell = *block::to(nullptr, file.get(), T_BLOCK);
    snap.restore();
    EXPECT_EQ(block::ks_length_q(r.get()), 1);
}

}  // namespace
}  // namespace kov
