// The shared series actions on blocks: positions and their clamping, pick and poke, remove,
// reverse, copy and take with /part, move within and between series, clear, and the registry's
// inheritance of these actions by block! and its children.
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "series_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::SeriesTest;
using V = std::vector<int32_t>;

class Series : public SeriesTest {};

TEST_F(Series, AtAndSkipClampToTheEnds) {
    struct Case { int slot; uint32_t head; int32_t n; uint32_t expect; } cases[] = {
        {A_AT, 0, 1, 0}, {A_AT, 0, 0, 0}, {A_AT, 2, 1, 2}, {A_AT, 2, 0, 2}, {A_AT, 2, -1, 1},
        {A_AT, 0, 3, 2}, {A_AT, 0, 99, 5}, {A_AT, 3, -99, 0},
        {A_SKIP, 0, 0, 0}, {A_SKIP, 0, 2, 2}, {A_SKIP, 2, -1, 1}, {A_SKIP, 1, 99, 5},
        {A_SKIP, 1, -99, 0},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {1, 2, 3, 4, 5}, c.head);
        Cell n = integer(c.n);
        Cell r = frame_call(c.slot, s.get(), &n);
        EXPECT_EQ(r.data1, c.expect) << "slot " << c.slot << " head " << c.head << " n " << c.n;
    }
}

TEST_F(Series, PositionArgumentMustBeAnInteger) {
    Root s;
    ints(s, {1, 2});
    Cell w = word_cell("x");
    EXPECT_EQ(error_of([&] { frame_call(A_AT, s.get(), &w); }), "invalid-arg");
    EXPECT_EQ(error_of([&] { frame_call(A_SKIP, s.get(), &w); }), "invalid-arg");
}

TEST_F(Series, NavigationAndQueries) {
    Root s;
    ints(s, {1, 2, 3});
    struct Case { int slot; uint32_t head; uint32_t expect; } moves[] = {
        {A_HEAD, 2, 0}, {A_TAIL, 0, 3}, {A_BACK, 0, 0}, {A_BACK, 2, 1}, {A_BACK, 7, 6},
        {A_NEXT, 2, 3}, {A_NEXT, 3, 3}, {A_NEXT, 7, 7},
    };
    for (const Case& c : moves) {
        s->data1 = c.head;
        EXPECT_EQ(frame_call(c.slot, s.get()).data1, c.expect) << c.slot << " from " << c.head;
    }
    s->data1 = 0;
    EXPECT_TRUE(cells::logic(frame_call(A_HEAD_Q, s.get())));
    EXPECT_FALSE(cells::logic(frame_call(A_TAIL_Q, s.get())));
    s->data1 = 3;
    EXPECT_TRUE(cells::logic(frame_call(A_TAIL_Q, s.get())));
    EXPECT_EQ(cells::integer(frame_call(A_INDEX_Q, s.get())), 4);
}

TEST_F(Series, HeadPastAShortenedTail) {
    Root s, other;
    ints(s, {1, 2, 3, 4, 5}, 4);
    other.cell = s.cell;
    other->data1 = 1;
    of(other.get()).clear(other.get());  // the buffer now holds one cell
    EXPECT_EQ(cells::integer(frame_call(A_INDEX_Q, s.get())), 5);  // not clamped
    EXPECT_TRUE(cells::logic(frame_call(A_TAIL_Q, s.get())));
    EXPECT_EQ(of(s.get()).length_q(s.get()), 0);
    EXPECT_EQ(s->data1, 1u);  // length? writes the tail back as the head
}

TEST_F(Series, PickAndPokePositions) {
    struct Case { uint32_t head; int32_t index; int32_t expect; } cases[] = {
        {0, 1, 10}, {0, 3, 30}, {0, 0, 0}, {0, 4, 0}, {2, -1, 20}, {2, -2, 10}, {2, -3, 0},
        {1, 2, 30},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {10, 20, 30}, c.head);
        Cell* r = of(s.get()).pick(s.get(), c.index, nullptr);
        if (c.expect == 0) {
            EXPECT_TRUE(r->is(T_NONE)) << c.head << " " << c.index;
        } else {
            EXPECT_EQ(r->get_int(), c.expect) << c.head << " " << c.index;
            Cell v = integer(99);
            of(s.get()).poke(s.get(), c.index, &v);
            EXPECT_EQ(of(s.get()).pick(s.get(), c.index, nullptr)->get_int(), 99);
        }
    }
    Root s;
    ints(s, {1});
    Cell v = integer(5), arg{};
    EXPECT_EQ(error_of([&] { of(s.get()).poke(s.get(), 0, &v); }, &arg), "out-of-range");
    EXPECT_EQ(cells::integer(arg), 0);
    EXPECT_EQ(error_of([&] { of(s.get()).poke(s.get(), 2, &v); }), "out-of-range");
}

TEST_F(Series, RemoveWithPart) {
    struct Case { uint32_t head; int32_t part; V expect; } cases[] = {
        {0, 1, {2, 3, 4}}, {1, 2, {1, 4}}, {1, 0, {1, 2, 3, 4}}, {1, -1, {1, 2, 3, 4}},
        {2, 9, {1, 2}}, {4, 1, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {1, 2, 3, 4}, c.head);
        Cell p = integer(c.part);
        of(s.get()).remove(s.get(), &p, nullptr);
        EXPECT_EQ(all(s.get()), c.expect) << c.head << " " << c.part;
    }
    Root s, pos, other;
    ints(s, {1, 2, 3, 4});
    pos.cell = s.cell;
    pos->data1 = 2;
    of(s.get()).remove(s.get(), pos.get(), nullptr);  // a position in the same series
    EXPECT_EQ(all(s.get()), (V{3, 4}));
    ints(other, {1, 2, 3});
    other->data1 = 1;
    Cell arg{};
    EXPECT_EQ(error_of([&] { of(s.get()).remove(s.get(), other.get(), nullptr); }, &arg),
              "invalid-refine-arg");
    EXPECT_EQ(symbol::name(arg.data2), "part");
}

TEST_F(Series, RemoveMarkedKeepsTheOrderOfTheRest) {
    using F = std::vector<uint8_t>;
    struct Case { uint32_t from; F gone; V expect; int32_t removed; } cases[] = {
        {0, {1, 0, 1, 0, 1}, {2, 4}, 3},
        {0, {0, 0, 0, 0, 0}, {1, 2, 3, 4, 5}, 0},
        {0, {1, 1, 1, 1, 1}, {}, 5},
        {1, {1, 1}, {1, 4, 5}, 2},
        {2, {0, 1}, {1, 2, 3, 5}, 1},
        {3, {1, 1, 1, 1}, {1, 2, 3}, 2},   // flags past the tail are ignored
        {5, {1}, {1, 2, 3, 4, 5}, 0},      // from the tail
        {9, {1}, {1, 2, 3, 4, 5}, 0},      // from past the tail
        {0, {}, {1, 2, 3, 4, 5}, 0},
        {0, {0, 1, 1, 0}, {1, 4, 5}, 2},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {1, 2, 3, 4, 5});
        int32_t n = series::remove_marked(s.get(), c.from, c.gone.data(), uint32_t(c.gone.size()));
        EXPECT_EQ(n, c.removed) << "from " << c.from;
        EXPECT_EQ(all(s.get()), c.expect) << "from " << c.from;
    }
}

TEST_F(Series, RemoveKeyTakesTheKeyAndWhatFollows) {
    Root s;
    ints(s, {1, 2, 3, 4});
    Cell key = integer(2), p = integer(1);
    Cell* r = of(s.get()).remove(s.get(), &p, &key);
    EXPECT_EQ(all(s.get()), (V{1, 4}));
    EXPECT_EQ(r->data1, 1u);
    Cell missing = integer(9);
    EXPECT_TRUE(of(s.get()).remove(s.get(), nullptr, &missing)->is(T_NONE));
}

TEST_F(Series, ReverseWithPartAndSkip) {
    struct Case { int32_t part; int32_t skip; V expect; const char* error; } cases[] = {
        {-1, 0, {6, 5, 4, 3, 2, 1}, ""},
        {3, 0, {3, 2, 1, 4, 5, 6}, ""},
        {0, 0, {1, 2, 3, 4, 5, 6}, ""},
        {-1, 2, {5, 6, 3, 4, 1, 2}, ""},
        {-1, 3, {4, 5, 6, 1, 2, 3}, ""},
        {-1, 6, {1, 2, 3, 4, 5, 6}, ""},  // one record: nothing changes
        {-1, 4, {}, "invalid-refine-arg"},
        {-1, 0 - 1, {}, "out-of-range"},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {1, 2, 3, 4, 5, 6});
        Cell p = integer(c.part), k = integer(c.skip);
        auto run = [&] {
            of(s.get()).reverse(s.get(), c.part >= 0 ? &p : nullptr, c.skip ? &k : nullptr);
        };
        if (*c.error) {
            EXPECT_EQ(error_of(run), c.error) << c.skip;
        } else {
            run();
            EXPECT_EQ(all(s.get()), c.expect) << c.part << " " << c.skip;
        }
    }
}

TEST_F(Series, CopyWithPart) {
    struct Case { uint32_t head; Cell part; V expect; } cases[] = {
        {0, Cell{T_PAIR, 0, 2, 5}, {2, 3, 4}},
        {0, Cell{T_PAIR, 0, 4, 2}, {}},
        {3, integer(-2), {2, 3}},
        {1, integer(-5), {1}},
        {1, integer(2), {2, 3}},
        {4, integer(9), {5}},
        {0, integer(0), {}},
    };
    for (const Case& c : cases) {
        Root s, out;
        ints(s, {1, 2, 3, 4, 5}, c.head);
        of(s.get()).copy(s.get(), out.get(), &c.part, false, nullptr);
        EXPECT_TRUE(out->is(T_BLOCK));
        EXPECT_EQ(read(out.get()), c.expect) << c.head;
    }
    Root s, out;
    ints(s, {1, 2, 3}, 7);  // a head past the tail copies nothing
    of(s.get()).copy(s.get(), out.get(), nullptr, false, nullptr);
    EXPECT_EQ(read(out.get()), V{});
}

TEST_F(Series, MoveWithinOneSeries) {
    // Five elements; the first two are moved to a position of the same series.
    struct Case { uint32_t from; uint32_t to; int32_t part; V expect; bool answers_origin; } cases[] = {
        {0, 1, 2, {1, 2, 3, 4, 5}, true},   // the target lies inside the moved run
        {0, 3, 2, {3, 4, 1, 2, 5}, false},
        {0, 4, 2, {1, 2, 3, 4, 5}, true},   // fewer than two elements from the target on
        {0, 5, 2, {3, 4, 5, 1, 2}, false},  // to the tail
        {0, 0, 2, {1, 2, 3, 4, 5}, false},
        {3, 0, 2, {4, 5, 1, 2, 3}, false},
        {4, 1, 1, {1, 5, 2, 3, 4}, false},
        {0, 2, 3, {1, 2, 3, 4, 5}, true},
    };
    for (const Case& c : cases) {
        Root o, t;
        ints(o, {1, 2, 3, 4, 5}, c.from);
        t.cell = o.cell;
        t->data1 = c.to;
        Cell p = integer(c.part);
        Cell* r = of(o.get()).move(o.get(), t.get(), &p);
        EXPECT_EQ(all(o.get()), c.expect) << c.from << " -> " << c.to;
        EXPECT_EQ(r == o.get(), c.answers_origin) << c.from << " -> " << c.to;
    }
}

TEST_F(Series, MoveBetweenSeries) {
    Root o, t;
    ints(o, {1, 2, 3});
    ints(t, {7, 8}, 1);
    Cell p = integer(2);
    of(o.get()).move(o.get(), t.get(), &p);
    EXPECT_EQ(all(o.get()), (V{3}));
    EXPECT_EQ(all(t.get()), (V{7, 1, 2, 8}));
    Root text;
    string::make_at(text.get(), 4);
    string::concatenate_cstring(text.get(), "ab");
    EXPECT_EQ(error_of([&] { of(t.get()).move(t.get(), text.get(), nullptr); }), "move-bad");
    Cell n = integer(1);
    EXPECT_EQ(error_of([&] { of(t.get()).move(t.get(), &n, nullptr); }), "expect-arg");
}

TEST_F(Series, TakeCoreWithPart) {
    struct Case { uint32_t head; int32_t part; bool last; V taken; V left; } cases[] = {
        {0, 2, false, {1, 2}, {3, 4, 5}},
        {0, 2, true, {4, 5}, {1, 2, 3}},
        {3, -2, false, {2, 3}, {1, 4, 5}},
        {3, -2, true, {}, {1, 2, 3, 4, 5}},
        {1, 9, false, {2, 3, 4, 5}, {1}},
        {1, 0, false, {}, {1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        Root s;
        ints(s, {1, 2, 3, 4, 5}, c.head);
        Cell p = integer(c.part);
        stack::Snapshot snap;
        Cell* r = series::take(s.get(), &p, c.last);
        EXPECT_EQ(read(r), c.taken) << c.head << " " << c.part << " " << c.last;
        EXPECT_EQ(all(s.get()), c.left) << c.head << " " << c.part;
        snap.restore();
    }
    Root empty;
    ints(empty, {});
    EXPECT_TRUE(series::take(empty.get(), nullptr, false)->is(T_NONE));
}

// take without /part goes through a fixed scratch buffer: a restarted runtime makes a new one
// instead of writing through the handle of the earlier run's (which names memory the new run
// has given to something else).
TEST_F(Series, TakeAfterARestartUsesAScratchOfThisRun) {
    {
        Root s;
        ints(s, {1, 2});
        stack::Snapshot snap;
        EXPECT_EQ(read(series::take(s.get(), nullptr, false)), (V{1}));
        snap.restore();
    }
    boot::restart_for_tests();
    boot::booting = false;
    collector::state.enabled = true;
    Handle fixed_before = memory::rec.fixed_series_list;
    Root s, other;
    ints(s, {7, 8});
    ints(other, {4, 5, 6});
    stack::Snapshot snap;
    EXPECT_EQ(read(series::take(s.get(), nullptr, false)), (V{7}));
    snap.restore();
    EXPECT_NE(memory::rec.fixed_series_list, fixed_before);
    EXPECT_EQ(all(s.get()), (V{8}));
    EXPECT_EQ(all(other.get()), (V{4, 5, 6}));
}

// The scratch buffer is rooted: an explicit collection, which moves every node in check mode
// (and retires the old node frames), leaves take with a good handle to it.
TEST_F(Series, TakeAfterAnExplicitCollectionFindsItsScratch) {
    Root s;
    ints(s, {1, 2, 3});
    {
        stack::Snapshot snap;
        EXPECT_EQ(read(series::take(s.get(), nullptr, false)), (V{1}));
        snap.restore();
    }
    collector::State saved = collector::state;
    collector::set_check_mode(true);
    collector::collect();
    collector::collect();  // the first collection's node frames are released here
    {
        stack::Snapshot snap;
        EXPECT_EQ(read(series::take(s.get(), nullptr, false)), (V{2}));
        snap.restore();
    }
    collector::set_check_mode(saved.check);
    EXPECT_EQ(all(s.get()), (V{3}));
}

TEST_F(Series, ClearFromTheHead) {
    Root s;
    ints(s, {1, 2, 3}, 1);
    of(s.get()).clear(s.get());
    EXPECT_EQ(all(s.get()), (V{1}));
    s->data1 = 5;
    of(s.get()).clear(s.get());  // past the tail: nothing
    EXPECT_EQ(all(s.get()), (V{1}));
}

TEST_F(Series, RandomShufflesAPermutation) {
    Root s;
    ints(s, {1, 2, 3, 4, 5, 6, 7, 8});
    of(s.get()).random(s.get(), false, false, false);
    V got = all(s.get());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (V{1, 2, 3, 4, 5, 6, 7, 8}));
    Cell* one = of(s.get()).random(s.get(), false, false, true);
    EXPECT_TRUE(one->is(T_INTEGER));
}

TEST_F(Series, BlockKindsInheritTheSharedActions) {
    for (uint32_t t : {T_BLOCK, T_PAREN, T_PATH, T_LIT_PATH, T_SET_PATH, T_GET_PATH}) {
        const ActionTable& a = type_registry::table(t);
        EXPECT_EQ(a.at.fn, type_registry::table(T_SERIES).at.fn) << t;
        EXPECT_EQ(a.remove.fn, type_registry::table(T_SERIES).remove.fn) << t;
        EXPECT_TRUE(a.find) << t;
    }
    EXPECT_TRUE(type_registry::table(T_PAREN).sort);
    EXPECT_FALSE(type_registry::table(T_PATH).sort);
    EXPECT_FALSE(type_registry::table(T_PATH).random);
    EXPECT_FALSE(type_registry::table(T_SERIES).append);
}

TEST_F(Series, TextBranchesThatNeedTheStringModuleSayNotDone) {
    Root text;
    string::make_at(text.get(), 4);
    string::concatenate_cstring(text.get(), "abc");
    const ActionTable& s = type_registry::table(T_SERIES);
    EXPECT_EQ(s.pick(text.get(), 2, nullptr)->data2, uint32_t('b'));
    Cell c{T_CHAR, 0, 'x', 0};
    EXPECT_EQ(error_of([&] { s.poke(text.get(), 1, &c); }), "not-done");
}

}  // namespace
}  // namespace kov
