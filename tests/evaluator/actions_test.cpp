// Action dispatch: the front-end table, the refinement conversions of the dispatching
// front-ends (make/to on a datatype, form and mold /part, append/insert/change /part and /dup,
// copy /types, pick and poke indexes, length? none), the handler lookup errors, and the generic
// comparisons.
#include <cmath>

#include "actions_fixture.hpp"
#include "core/memory.hpp"
#include "datatypes/block.hpp"
#include "datatypes/series.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::act;
using testing::Called;
using testing::float_cell;
using testing::integer_cell;

class Actions : public testing::RuntimeTest {
protected:
    // A block! of integers (rooted in `out`) with its head at `head`.
    static Cell ints(Root& out, std::vector<int32_t> values, uint32_t head = 0) {
        std::vector<Cell> cells;
        for (int32_t v : values) cells.push_back(integer_cell(v));
        testing::make_block(out.get(), cells);
        out->data1 = head;
        return *out;
    }
    // The integers of a block from its head.
    static std::vector<int32_t> all(const Cell& blk) {
        std::vector<int32_t> out;
        SeriesBuffer* b = memory::buffer_of(cells::series_node(blk));
        for (uint32_t i = cells::series_index(blk); i < b->length(); i++)
            out.push_back(cells::integer(b->head_cell()[i]));
        return out;
    }
    static Cell text(Root& out, const char* s) {
        testing::make_text(out.get(), s);
        return *out;
    }
};

TEST_F(Actions, EveryActionHasAFrontEndButSetPath) {
    for (int id = 1; id <= ACTION_COUNT; id++) {
        if (id == A_SET_PATH) EXPECT_EQ(actions::front_ends[id - 1], nullptr);
        else EXPECT_NE(actions::front_ends[id - 1], nullptr) << id;
    }
}

TEST_F(Actions, DirectFrontEndsLeaveTheFrameToTheHandler) {
    struct Case { int id; Cell a, b; int32_t expect; } cases[] = {
        {A_ADD, integer_cell(2), integer_cell(3), 5},
        {A_SUBTRACT, integer_cell(2), integer_cell(3), -1},
        {A_MULTIPLY, integer_cell(6), integer_cell(7), 42},
        {A_AND_T, integer_cell(6), integer_cell(3), 2},
        {A_OR_T, integer_cell(6), integer_cell(3), 7},
        {A_XOR_T, integer_cell(6), integer_cell(3), 5},
    };
    for (const Case& c : cases) {
        Called r = act(c.id, {c.a, c.b});
        ASSERT_EQ(r.error, "") << c.id;
        EXPECT_EQ(r.value.type(), uint32_t(T_INTEGER)) << c.id;
        EXPECT_EQ(cells::integer(r.value), c.expect) << c.id;
    }
    Root b;
    Called n = act(A_NEXT, {ints(b, {1, 2, 3})});
    EXPECT_EQ(cells::series_index(n.value), 1u);
    Called t = act(A_TAIL_Q, {ints(b, {1}, 1)});
    EXPECT_EQ(t.value.header, cells::make_logic(true).header);
}

TEST_F(Actions, MakeAndToDispatchOnTheNamedDatatype) {
    Called t = act(A_TO, {cells::make_datatype(T_INTEGER), float_cell(3.75)});
    ASSERT_EQ(t.error, "");
    EXPECT_EQ(t.value.type(), uint32_t(T_INTEGER));
    EXPECT_EQ(cells::integer(t.value), 3);
    // An example value dispatches on its own datatype.
    Called e = act(A_TO, {integer_cell(99), float_cell(-2.5)});
    ASSERT_EQ(e.error, "");
    EXPECT_EQ(cells::integer(e.value), -2);
    Called m = act(A_MAKE, {cells::make_datatype(T_BLOCK), integer_cell(4)});
    ASSERT_EQ(m.error, "");
    EXPECT_EQ(m.value.type(), uint32_t(T_BLOCK));
    // A datatype whose make is missing names the datatype it was asked for.
    Called u = act(A_MAKE, {cells::make_datatype(T_EVENT), integer_cell(1)}, {}, "make");
    EXPECT_EQ(u.error, "script/expect-arg");
    EXPECT_EQ(u.arg[1].data1, uint32_t(T_EVENT));
}

TEST_F(Actions, FormAndMoldPart) {
    struct Case { bool mold; const char* text; int32_t part; const char* expect; } cases[] = {
        {false, "hello", -2, "hello"},  // -2: no /part
        {false, "hello", 0, ""},
        {false, "hello", -1, ""},
        {false, "hello", 3, "hel"},
        {false, "hello", 10, "hello"},
        {true, "hello", -2, "\"hello\""},
        {true, "hello", 3, "\"he"},
        {true, "hello", 0, ""},
    };
    for (const Case& c : cases) {
        Root s;
        text(s, c.text);
        std::vector<Cell> args{*s};
        std::vector<int32_t> refs;
        if (c.part != -2) {
            args.push_back(integer_cell(c.part));
            refs = c.mold ? std::vector<int32_t>{-1, -1, -1, 1} : std::vector<int32_t>{1};
        }
        Called r = act(c.mold ? A_MOLD : A_FORM, args, refs);
        ASSERT_EQ(r.error, "") << c.text << c.part;
        ASSERT_TRUE(series::text_kind(r.value.type()));
        EXPECT_EQ(testing::text_of(r.value), c.expect) << c.mold << " " << c.part;
    }
    // The form of a block with /part cuts the whole text.
    Root b;
    Called r = act(A_FORM, {ints(b, {1, 2, 3}), integer_cell(3)}, {1});
    EXPECT_EQ(testing::text_of(r.value), "1 2");
}

TEST_F(Actions, AppendAndInsertPart) {
    // Target [1 2], value [10 20 30 40 50 60 70] at `index`; -99: no /part.
    struct Case { bool append; uint32_t index; int32_t part; int32_t dup; std::vector<int32_t> expect;
                  uint32_t value_index; } cases[] = {
        {true, 0, -99, 1, {1, 2, 10, 20, 30, 40, 50, 60, 70}, 0},
        {true, 0, 0, 1, {1, 2}, 0},
        {true, 0, -3, 1, {1, 2}, 0},                // negative at the head: nothing
        {true, 5, -2, 1, {1, 2, 40, 50}, 3},        // the two values before index 5
        {true, 5, -9, 1, {1, 2, 10, 20, 30, 40, 50}, 0},  // moved back to the head at most
        {true, 2, 2, 1, {1, 2, 30, 40}, 2},
        {true, 9, 2, 1, {1, 2}, 7},                 // index clipped to the tail: nothing left
        {true, 0, 1, 3, {1, 2, 10, 10, 10}, 0},
        {true, 0, -99, 0, {1, 2}, 0},               // /dup below 1: nothing
        {false, 0, 2, 1, {10, 20, 1, 2}, 0},
        {false, 6, -1, 2, {60, 60, 1, 2}, 5},
    };
    for (const Case& c : cases) {
        Root target, value;
        ints(target, {1, 2});
        ints(value, {10, 20, 30, 40, 50, 60, 70}, c.index);
        std::vector<Cell> args{*target, *value};
        std::vector<int32_t> refs{-1, -1, -1};
        if (c.part != -99) {
            refs[0] = int32_t(args.size());
            args.push_back(integer_cell(c.part));
        }
        if (c.dup != 1) {
            refs[2] = int32_t(args.size());
            args.push_back(integer_cell(c.dup));
        }
        Called r = act(c.append ? A_APPEND : A_INSERT, args, refs);
        ASSERT_EQ(r.error, "") << c.index << " " << c.part;
        EXPECT_EQ(all(cells::make_series(T_BLOCK, target->data2)), c.expect) << c.index << " " << c.part;
        EXPECT_EQ(r.value.data2, target->data2);
        // The value's clipped or moved index is what the handler saw.
        EXPECT_EQ(cells::series_index(r.rest[0]), c.value_index) << c.index << " " << c.part;
    }
}

TEST_F(Actions, AppendPartArgumentErrors) {
    Root target, value, other;
    ints(target, {1});
    ints(value, {5, 6, 7});
    ints(other, {5, 6, 7});
    // A position in the value counts up to it.
    Cell at2 = *value;
    at2.data1 = 2;
    Called ok = act(A_APPEND, {*target, *value, at2}, {2, -1, -1});
    ASSERT_EQ(ok.error, "");
    EXPECT_EQ(all(*target), (std::vector<int32_t>{1, 5, 6}));
    // A position in another series, or a value of another kind.
    Called bad = act(A_APPEND, {*target, *value, *other}, {2, -1, -1}, "append");
    EXPECT_EQ(bad.error, "script/invalid-refine-arg");
    EXPECT_EQ(bad.arg[0].type(), uint32_t(T_REFINEMENT));
    EXPECT_EQ(bad.arg[1].data2, other->data2);
    // /part on a value without a buffer.
    Called part = act(A_INSERT, {*target, integer_cell(3), integer_cell(1)}, {2, -1, -1});
    EXPECT_EQ(part.error, "script/invalid-part");
    EXPECT_EQ(cells::integer(part.arg[0]), 1);
}

TEST_F(Actions, ChangePartMeasuresTheTarget) {
    struct Case { uint32_t index; int32_t part; std::vector<int32_t> expect; } cases[] = {
        {1, 1, {1, 9, 3, 4}},
        {3, -2, {1, 9, 4}},  // moved back two, then those two replaced
        {0, -1, {1, 2, 3, 4}},
        {2, 0, {1, 2, 3, 4}},
        {7, -1, {1, 2, 3, 9}},  // the index is clipped to the tail first
    };
    for (const Case& c : cases) {
        Root target;
        ints(target, {1, 2, 3, 4}, c.index);
        Called r = act(A_CHANGE, {*target, integer_cell(9), integer_cell(c.part)}, {2, -1, -1});
        ASSERT_EQ(r.error, "") << c.index << " " << c.part;
        EXPECT_EQ(all(cells::make_series(T_BLOCK, target->data2)), c.expect) << c.index << " " << c.part;
    }
    // A range in another series of the same kind.
    Root target, other;
    ints(target, {1, 2});
    ints(other, {1, 2});
    Called r = act(A_CHANGE, {*target, integer_cell(9), *other}, {2, -1, -1});
    EXPECT_EQ(r.error, "script/invalid-refine-arg");
}

TEST_F(Actions, CopyTypesMustBeADatatypeOrTypeset) {
    Root b;
    ints(b, {1, 2, 3});
    Called plain = act(A_COPY, {*b});
    ASSERT_EQ(plain.error, "");
    EXPECT_NE(plain.value.data2, b->data2);
    EXPECT_EQ(all(plain.value), (std::vector<int32_t>{1, 2, 3}));
    Called part = act(A_COPY, {*b, integer_cell(2)}, {1, -1, -1});
    EXPECT_EQ(all(part.value), (std::vector<int32_t>{1, 2}));
    Called typed = act(A_COPY, {*b, cells::make_datatype(T_BLOCK)}, {-1, -1, 1});
    EXPECT_EQ(typed.error, "");
    Called bad = act(A_COPY, {*b, integer_cell(3)}, {-1, -1, 1}, "copy");
    EXPECT_EQ(bad.error, "script/expect-arg");
    EXPECT_EQ(testing::spelling(bad.arg[0]), "copy");
    EXPECT_EQ(bad.arg[1].data1, uint32_t(T_INTEGER));
}

TEST_F(Actions, PickAndPokeIndexes) {
    struct Case { Cell index; int32_t expect; } cases[] = {
        {integer_cell(2), 20}, {cells::make_logic(true), 10}, {cells::make_logic(false), 20},
        {Cell{T_CHAR, 0, 3, 0}, 30},
    };
    for (const Case& c : cases) {
        Root b;
        ints(b, {10, 20, 30});
        Called r = act(A_PICK, {*b, c.index});
        ASSERT_EQ(r.error, "");
        EXPECT_EQ(cells::integer(r.value), c.expect);
    }
    struct Arg { Cell index; int32_t expect; } args[] = {
        {integer_cell(-4), -4}, {cells::make_logic(true), 1}, {cells::make_logic(false), 2},
        {Cell{T_CHAR, 0, 65, 0}, 65}, {cells::make_none(), 0}, {float_cell(2.0), 0},
    };
    for (const Arg& a : args) {
        int32_t got = 0;
        testing::in_frame(nullptr, {cells::make_none(), a.index}, [&] { got = actions::index_arg(); });
        EXPECT_EQ(got, a.expect);
    }
    Root b;
    ints(b, {10, 20, 30});
    Called p = act(A_POKE, {*b, cells::make_logic(false), integer_cell(7)});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(all(*b), (std::vector<int32_t>{10, 7, 30}));
}

TEST_F(Actions, LengthAnswersNoneForMinusOne) {
    Root b;
    Called n = act(A_LENGTH_Q, {ints(b, {1, 2, 3}, 1)});
    EXPECT_EQ(n.value.type(), uint32_t(T_INTEGER));
    EXPECT_EQ(cells::integer(n.value), 2);
    Called none = act(A_LENGTH_Q, {cells::make_none()});
    EXPECT_EQ(none.value.type(), uint32_t(T_NONE));
    EXPECT_EQ(act(A_EVEN_Q, {integer_cell(4)}).value.header, cells::make_logic(true).header);
    EXPECT_EQ(act(A_ODD_Q, {integer_cell(4)}).value.header, cells::make_logic(false).header);
}

TEST_F(Actions, MissingHandlersNameTheFrameAndTheDatatype) {
    Root b;
    Called r = act(A_ADD, {ints(b, {1}), integer_cell(1)}, {}, "plus");
    EXPECT_EQ(r.error, "script/expect-arg");
    EXPECT_EQ(testing::spelling(r.arg[0]), "plus");
    EXPECT_EQ(r.arg[1].header, uint32_t(T_DATATYPE));
    EXPECT_EQ(r.arg[1].data1, uint32_t(T_BLOCK));
    EXPECT_TRUE(word::any_word_q(r.arg[2].type()));
    // A port! has no actors yet.
    Cell port{T_PORT, 0, 0, 0};
    EXPECT_EQ(act(A_WRITE, {port, cells::make_none()}).error, "internal/not-done");
    EXPECT_EQ(act(A_OPEN_Q, {port}).error, "internal/not-done");
}

TEST_F(Actions, PathHandlerErrors) {
    Root element(*word::load_as("foo", T_WORD));
    Called no_path = testing::in_frame("get", {cells::make_none()}, [&] {
        actions::get_path_handler(stack::arg(0), nullptr, element.get(), 1);
    });
    EXPECT_EQ(no_path.error, "script/bad-path-type2");
    EXPECT_EQ(no_path.arg[0].data2, element->data2);
    EXPECT_EQ(no_path.arg[1].data1, uint32_t(T_NONE));

    Root path;
    testing::make_block(path.get(), {*element, *element, *element, *element});
    path->header = T_PATH;
    Called in_path = testing::in_frame("get", {cells::make_none()}, [&] {
        actions::get_path_handler(stack::arg(0), path.get(), element.get(), 1);
    });
    EXPECT_EQ(in_path.error, "script/bad-path-type");
    EXPECT_EQ(in_path.arg[0].data2, path->data2);
    EXPECT_EQ(in_path.arg[2].type(), uint32_t(T_PATH));
    EXPECT_NE(in_path.arg[2].data2, path->data2);
    EXPECT_EQ(memory::buffer_of(in_path.arg[2].data2)->length(), 2u);
    // A datatype with a path handler answers it.
    Called found = testing::in_frame("get", {Cell{T_PAIR, 0, 1, 2}}, [&] {
        EXPECT_NE(actions::get_path_handler(stack::arg(0), nullptr, element.get(), 0), nullptr);
    });
    EXPECT_EQ(found.error, "");
}

TEST_F(Actions, CompareMapsTheHandlersAnswer) {
    Root s;
    text(s, "a");
    const double nan = std::nan("");
    struct Case { Cell a, b; int32_t op; int expect; } cases[] = {
        {integer_cell(1), integer_cell(2), COMP_LESSER, 1},
        {integer_cell(2), integer_cell(2), COMP_LESSER_EQUAL, 1},
        {integer_cell(3), integer_cell(2), COMP_GREATER, 1},
        {integer_cell(2), integer_cell(2), COMP_GREATER_EQUAL, 1},
        {integer_cell(1), float_cell(1.0), COMP_EQUAL, 1},
        {integer_cell(1), float_cell(1.5), COMP_NOT_EQUAL, 1},
        {integer_cell(1), *s, COMP_EQUAL, 0},         // not comparable: unequal
        {integer_cell(1), *s, COMP_STRICT_EQUAL, 0},
        {integer_cell(1), *s, COMP_NOT_EQUAL, 1},
        {integer_cell(1), *s, COMP_SAME, 0},
        {integer_cell(1), *s, COMP_LESSER, -1},       // -1: invalid-compare
        {integer_cell(1), *s, COMP_LESSER_EQUAL, -1},
        {integer_cell(1), *s, COMP_GREATER, -1},
        {integer_cell(1), *s, COMP_GREATER_EQUAL, -1},
        {float_cell(nan), float_cell(nan), COMP_EQUAL, 0},
    };
    for (const Case& c : cases) {
        int got = -9;
        Called r = testing::in_frame("cmp", {c.a, c.b}, [&] {
            got = actions::compare(stack::arg(0), stack::arg(1), c.op);
        });
        if (c.expect < 0) {
            EXPECT_EQ(r.error, "script/invalid-compare") << c.op;
            EXPECT_EQ(r.arg[0].header, c.a.header);
        } else {
            EXPECT_EQ(r.error, "") << c.op;
            EXPECT_EQ(got, c.expect) << c.op;
        }
    }
    // The compare front-end and compare_to_logic write logic!.
    Called f = act(A_COMPARE, {integer_cell(1), integer_cell(2), integer_cell(COMP_LESSER)});
    EXPECT_EQ(f.value.header, cells::make_logic(true).header);
    Called l = testing::in_frame("cmp", {integer_cell(5), integer_cell(2)}, [] {
        EXPECT_FALSE(actions::compare_to_logic(COMP_LESSER));
    });
    EXPECT_EQ(l.value.header, cells::make_logic(false).header);
    // A datatype without a compare handler.
    Called none = testing::in_frame("cmp", {Cell{T_PORT, 0, 0, 0}, integer_cell(1)}, [] {
        actions::compare(stack::arg(0), stack::arg(1), COMP_EQUAL);
    });
    EXPECT_EQ(none.error, "script/expect-arg");
}

TEST_F(Actions, CompareValuesByIdentity) {
    struct Case { Cell a, b; int expect; } cases[] = {
        {cells::make_logic(true), cells::make_logic(false), 1},
        {cells::make_logic(false), cells::make_logic(true), -1},
        {cells::make_logic(true), cells::make_logic(true), 0},
        {Cell{T_NATIVE, 3, 100, 200}, Cell{T_NATIVE, 3, 101, 201}, 0},  // same routine
        {Cell{T_NATIVE, 3, 0, 0}, Cell{T_NATIVE, 4, 0, 0}, -1},
        {Cell{T_ACTION, 9, 0, 0}, Cell{T_ACTION, 2, 0, 0}, 1},
        {Cell{T_FUNCTION, 1, 2, 50}, Cell{T_FUNCTION, 7, 8, 50}, 0},  // same extra block
        {Cell{T_FUNCTION, 1, 2, 50}, Cell{T_FUNCTION, 1, 2, 60}, -1},
        {integer_cell(4), integer_cell(3), 1},
    };
    for (const Case& c : cases) {
        int got = -9;
        Called r = testing::in_frame("sort", {c.a, c.b}, [&] {
            got = actions::compare_values(stack::arg(0), stack::arg(1), COMP_SORT);
        });
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(got, c.expect) << c.a.type() << " " << c.a.data1;
    }
}

}  // namespace
}  // namespace kov
