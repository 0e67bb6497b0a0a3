// hash!: making and converting, molding, copying (the table copied or made anew), find with
// duplicates, /last, /reverse and /skip, keys hashed by identity, and a seeded run of mixed block
// actions after which every find and select on the hash! answers as the same call on a block
// with the same cells.
#include <random>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/hashtable.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/simple.hpp"
#include "series_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::SeriesTest;
using V = std::vector<int32_t>;

class HashActions : public SeriesTest {
protected:
    // A new hash! of integers in `out`.
    static Cell* hashed(Root& out, const V& values, uint32_t head = 0) {
        ints(out, values);
        hash::make_at(out->data2, out.get(), uint32_t(std::max<size_t>(values.size(), 1)));
        out->data1 = head;
        return out.get();
    }
    // The head index find answers, or -1 for none.
    static int64_t found(Cell* series, const Cell* value, const FindArgs& a) {
        Root s(*series), v(*value);
        Cell* r = of(s.get()).find(s.get(), v.get(), a);
        return r->is(T_NONE) ? -1 : int64_t(r->data1);
    }
    // The integer select answers, -1 for none, -2 for another value.
    static int32_t selected(Cell* series, const Cell* value, const FindArgs& a) {
        Root s(*series), v(*value);
        Cell* r = of(s.get()).select(s.get(), v.get(), a);
        return r->is(T_NONE) ? -1 : r->is(T_INTEGER) ? r->get_int() : -2;
    }
    static hashtable::Record* table(const Cell* h) { return hashtable::record(h->data3); }
};

TEST_F(HashActions, MakeAndToFromEachSpec) {
    stack::Snapshot snap;  // the results are pushed
    Root spec, h, n;
    ints(spec, {1, 2, 3}, 1);
    Cell* r = type_registry::table(T_HASH).make(nullptr, spec.get(), T_HASH);  // its head on
    h.cell = *r;
    EXPECT_TRUE(h->is(T_HASH));
    EXPECT_EQ(all(h.get()), (V{2, 3}));
    EXPECT_EQ(table(h.get())->live, 2);
    n.cell = integer(0);
    r = type_registry::table(T_HASH).make(nullptr, n.get(), T_HASH);  // room for one cell
    EXPECT_TRUE(r->is(T_HASH));
    EXPECT_EQ(all(r), V{});
    EXPECT_GE(memory::buffer_of(r->data2)->size, 16);
    n.cell = integer(7);
    r = type_registry::table(T_HASH).to(nullptr, n.get(), T_HASH);  // a value becomes one cell
    EXPECT_EQ(all(r), V{7});
    Root again;
    again.cell = *type_registry::table(T_HASH).to(nullptr, h.get(), T_HASH);  // a hash!: a copy
    EXPECT_NE(again->data2, h->data2);
    EXPECT_NE(again->data3, h->data3);
    Cell three = integer(3);
    EXPECT_EQ(found(again.get(), &three, {}), 1);
}

TEST_F(HashActions, Mold) {
    Root h;
    hashed(h, {1, 2});
    EXPECT_EQ(molded(h.get()), "make hash! [1 2]");
    EXPECT_EQ(molded(h.get(), true), "1 2");
    Root e;
    hashed(e, {});
    EXPECT_EQ(molded(e.get()), "make hash! []");
    // A hash! inside itself.
    Cell self = h.cell;
    block::append_value(h.get(), &self);
    EXPECT_EQ(molded(h.get()), "make hash! [1 2 [...]]");
}

TEST_F(HashActions, FindWithDuplicatesLastReverseAndSkip) {
    Root h;
    Cell a = word_cell("a"), b = word_cell("b");
    block::make_at(h.get(), 3);
    for (const Cell* c : {&a, &b, &a}) block::append_value(h.get(), c);
    hash::make_at(h->data2, h.get(), 3);
    EXPECT_EQ(table(h.get())->live, 2);
    FindArgs last;
    last.last = true;
    EXPECT_EQ(found(h.get(), &a, {}), 0);
    EXPECT_EQ(found(h.get(), &a, last), 2);
    Cell two = integer(2);
    FindArgs skip;
    skip.skip = &two;
    EXPECT_EQ(found(h.get(), &a, skip), 0);
    EXPECT_EQ(found(h.get(), &b, skip), -1);  // at an odd distance from the head
    // [a a a]: one live bucket holding a chain of three positions.
    Root t;
    block::make_at(t.get(), 3);
    for (int i = 0; i < 3; i++) block::append_value(t.get(), &a);
    hash::make_at(t->data2, t.get(), 3);
    EXPECT_EQ(table(t.get())->live, 1);
    EXPECT_EQ(found(t.get(), &a, last), 2);
    t->data1 = 1;
    EXPECT_EQ(found(t.get(), &a, skip), 1);
    // Removing the first of two equal values leaves the second findable, live unchanged.
    Root s;
    hashed(s, {5, 6, 5});
    int32_t live = table(s.get())->live;
    Root at(s.cell);
    of(at.get()).remove(at.get(), nullptr, nullptr);
    EXPECT_EQ(all(s.get()), (V{6, 5}));
    EXPECT_EQ(table(s.get())->live, live);
    Cell five = integer(5);
    EXPECT_EQ(found(s.get(), &five, {}), 1);
}

// The integer lookup behind find's usual form answers as the table's general lookup for every
// head, value and duplicate count; it hands over to the general lookup when the table is due
// for a refresh or keys are compared through another hook.
TEST_F(HashActions, IntegerPositionAnswersAsGet) {
    V values;
    for (int32_t i = 0; i < 300; i++) values.push_back((i * 37) % 23 - 5);  // chains of 13 and 14
    values.push_back(1000);                                                  // a single key
    Root h;
    hashed(h, values);
    for (int32_t head = 0; head <= int32_t(values.size()) + 1; head += 7) {
        for (int32_t v = -7; v <= 1001; v += (v < 20 ? 1 : 980)) {
            Cell key = integer(v);
            Cell* block_head = memory::buffer_of(h->data2)->head_cell();
            for (int32_t op : {int32_t(COMP_FIND), int32_t(COMP_STRICT_EQUAL)}) {
                Cell* k = hashtable::get(h->data3, &key, head, 1, op, false, false);
                int32_t want = k ? int32_t(k - block_head) : -1;
                ASSERT_EQ(hashtable::integer_position(h->data3, uint32_t(v), head), want)
                    << "value " << v << " head " << head;
            }
        }
    }
    hashtable::CompareHook saved = hashtable::compare_hook;
    hashtable::compare_hook = [](const Cell* a, const Cell* b, int32_t op) {
        return hashtable::default_compare(a, b, op);
    };
    EXPECT_EQ(hashtable::integer_position(h->data3, 1000, 0), hashtable::INTEGER_ASK_GET);
    hashtable::compare_hook = saved;
    EXPECT_EQ(hashtable::integer_position(h->data3, 1000, 0), 300);
    // A block key makes the table hash by identity: after a collection it is refreshed first.
    Root blk;
    block::make_at(blk.get(), 1);
    of(h.get()).append(h.get(), blk.get(), -1, true, 1);
    collector::collect();
    EXPECT_EQ(hashtable::integer_position(h->data3, 1000, 0), hashtable::INTEGER_ASK_GET);
    Cell k = integer(1000);
    EXPECT_EQ(found(h.get(), &k, {}), 300);
    EXPECT_EQ(hashtable::integer_position(h->data3, 1000, 0), 300);
    FindArgs only;
    only.only = true;
    EXPECT_EQ(found(h.get(), blk.get(), only), 301);
}

TEST_F(HashActions, AppendIsFindableAtOnce) {
    Root h;
    hashed(h, {});
    for (int32_t i = 0; i < 200; i++) {
        Cell v = integer(i * 7);
        of(h.get()).append(h.get(), &v, -1, false, 1);
        ASSERT_EQ(found(h.get(), &v, {}), i) << i;
    }
    Cell absent = integer(3);
    EXPECT_EQ(found(h.get(), &absent, {}), -1);
}

TEST_F(HashActions, CopyCopiesOrRemakesTheTable) {
    Root h, c, part;
    hashed(h, {1, 2, 3, 4});
    of(h.get()).copy(h.get(), c.get(), nullptr, false, nullptr);
    EXPECT_TRUE(c->is(T_HASH));
    EXPECT_NE(c->data3, h->data3);
    Cell nine = integer(9), one = integer(1), four = integer(4);
    of(c.get()).append(c.get(), &nine, -1, false, 1);
    EXPECT_EQ(found(c.get(), &nine, {}), 4);
    EXPECT_EQ(found(h.get(), &nine, {}), -1);  // the copies change apart
    // copy/part: a table over the copied cells only.
    Cell two = integer(2);
    Root at(h.cell);
    at->data1 = 1;
    of(at.get()).copy(at.get(), part.get(), &two, false, nullptr);
    EXPECT_TRUE(part->is(T_HASH));
    EXPECT_EQ(all(part.get()), (V{2, 3}));
    EXPECT_EQ(table(part.get())->live, 2);
    EXPECT_EQ(found(part.get(), &one, {}), -1);
    EXPECT_EQ(found(part.get(), &four, {}), -1);
    EXPECT_EQ(found(part.get(), &two, {}), 0);
}

TEST_F(HashActions, SortAndReverseKeepFindCorrect) {
    Root h;
    hashed(h, {5, 3, 9, 1, 3});
    of(h.get()).sort(h.get(), false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(all(h.get()), (V{1, 3, 3, 5, 9}));
    for (auto [v, p] : {std::pair{1, 0}, {3, 1}, {5, 3}, {9, 4}}) {
        Cell c = integer(v);
        EXPECT_EQ(found(h.get(), &c, {}), p) << v;
    }
    of(h.get()).reverse(h.get(), nullptr, nullptr);
    Cell one = integer(1);
    EXPECT_EQ(found(h.get(), &one, {}), 4);
}

TEST_F(HashActions, BlockKeysAreSoughtAsInABlock) {
    Root h, key, twin;
    ints(key, {1, 2});
    ints(twin, {1, 2});
    hashed(h, {0});
    of(h.get()).append(h.get(), key.get(), -1, true, 1);
    FindArgs only;
    only.only = true;
    EXPECT_EQ(found(h.get(), twin.get(), only), 1);  // an equal block, as find on a block answers
    FindArgs same;
    same.only = same.same = true;
    EXPECT_EQ(found(h.get(), key.get(), same), 1);
    EXPECT_EQ(found(h.get(), twin.get(), same), -1);
    // The table matches such keys by identity: an equal block is a key of its own.
    Cell* k = hashtable::get(h->data3, twin.get(), 0, 1, COMP_EQUAL, false, false);
    EXPECT_EQ(k, nullptr);
    // After an explicit collection (which may move nodes) the table is rebuilt on its next use.
    collector::collect();
    EXPECT_EQ(found(h.get(), key.get(), same), 1);
    Cell zero = integer(0);
    EXPECT_EQ(found(h.get(), &zero, {}), 0);
}

TEST_F(HashActions, MoveBetweenAHashAndABlock) {
    Root h, b;
    hashed(h, {1, 2, 3});
    ints(b, {7, 8});
    Cell two = integer(2);
    of(h.get()).move(h.get(), b.get(), &two);  // 1 2 go to the block's head
    EXPECT_EQ(all(h.get()), (V{3}));
    EXPECT_EQ(all(b.get()), (V{1, 2, 7, 8}));
    Cell three = integer(3), one = integer(1);
    EXPECT_EQ(found(h.get(), &three, {}), 0);
    EXPECT_EQ(found(h.get(), &one, {}), -1);
    b->data1 = 3;
    of(b.get()).move(b.get(), h.get(), nullptr);  // 8 goes to the hash's head
    EXPECT_EQ(all(h.get()), (V{8, 3}));
    Cell eight = integer(8);
    EXPECT_EQ(found(h.get(), &eight, {}), 0);
    EXPECT_EQ(found(h.get(), &three, {}), 1);
}

// ---- a seeded run of mixed actions, checked against a block holding the same cells ----

class HashAgreement : public HashActions {
protected:
    std::mt19937 rng{20240611};
    int32_t pick(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
    Cell value() { return pick(0, 15) == 0 ? none_value : integer(pick(0, 9)); }
    // A series of the pair at a head (a copy: the actions move heads of their own).
    static Cell at(const Root& s, int32_t head) {
        Cell c = s.cell;
        c.data1 = uint32_t(head);
        return c;
    }

    // One action, applied alike to the hash! and to the block.
    void step(Root& h, Root& b, std::string& what) {
        int32_t len = int32_t(all(b.get()).size());
        int32_t head = pick(0, len);
        int32_t n = pick(0, 3);
        Root vals;
        block::make_at(vals.get(), 4);
        for (int32_t i = 0; i < n; i++) {
            Cell v = value();
            block::append_value(vals.get(), &v);
        }
        Cell part = integer(pick(0, 3));
        Cell one_value = value();
        int op = pick(0, 12);
        int32_t other = pick(0, len), dup = pick(1, 2);
        bool clear = pick(0, 3) == 0;
        for (Root* s : {&h, &b}) {
            Root x(at(*s, head)), y(at(*s, other));
            const ActionTable& t = of(x.get());
            switch (op) {
            case 0: what = "append"; t.append(x.get(), vals.get(), -1, false, 1); break;
            case 1: what = "insert"; t.insert(x.get(), vals.get(), -1, false, dup); break;
            case 2: what = "remove"; t.remove(x.get(), &part, nullptr); break;
            case 3: what = "change"; t.change(x.get(), vals.get(), part.get_int(), false, 1); break;
            case 4: what = "take"; t.take(x.get(), &part, false, head % 2 == 0); break;
            case 5: what = "sort"; t.sort(x.get(), false, nullptr, nullptr, nullptr, false, head % 2, true); break;
            case 6: what = "reverse"; t.reverse(x.get(), &part, nullptr); break;
            case 7: what = "clear"; if (clear) t.clear(x.get()); break;
            case 8: what = "poke"; if (head < len) t.poke(x.get(), 1, &one_value); break;
            case 9: what = "swap"; t.swap(x.get(), y.get()); break;
            case 10: what = "move"; t.move(x.get(), y.get(), &part); break;
            case 11: what = "trim"; t.trim(x.get(), false, false, false, false, false, nullptr); break;
            default: what = "put"; t.put(x.get(), &one_value, &part, false); break;
            }
        }
    }

    void check_agreement(Root& h, Root& b, const std::string& what, int round) {
        ASSERT_EQ(all(h.get()), all(b.get())) << what << " round " << round;
        int32_t len = int32_t(all(b.get()).size());
        Cell two = integer(2), three = integer(3);
        for (int32_t head : {0, len / 2, len}) {
            Root hh(at(h, head)), bb(at(b, head));
            for (int32_t v = -1; v <= 9; v++) {
                Cell key = v < 0 ? none_value : integer(v);
                for (int variant = 0; variant < 6; variant++) {
                    FindArgs a;
                    if (variant == 1) a.last = true;
                    if (variant == 2) a.reverse = true;
                    if (variant == 3) a.skip = &two;
                    if (variant == 4) a.skip = &three, a.last = true;
                    if (variant == 5) a.skip = &two, a.reverse = true, a.case_sensitive = true;
                    ASSERT_EQ(found(hh.get(), &key, a), found(bb.get(), &key, a))
                        << what << " round " << round << " head " << head << " value " << v
                        << " variant " << variant;
                    if (variant == 0 || variant == 3) {
                        ASSERT_EQ(selected(hh.get(), &key, a), selected(bb.get(), &key, a))
                            << what << " round " << round << " select " << v;
                    }
                }
            }
        }
    }
};

TEST_F(HashAgreement, MixedBlockActionsKeepFindAndSelectInStep) {
    for (int run = 0; run < 4; run++) {
        Root h, b;
        V start;
        for (int i = 0, n = pick(0, 12); i < n; i++) start.push_back(pick(0, 9));
        hashed(h, start);
        ints(b, start);
        std::string what = "make";
        check_agreement(h, b, what, 0);
        for (int round = 1; round <= 150; round++) {
            step(h, b, what);
            if (round % 37 == 0) collector::collect();
            check_agreement(h, b, what, round);
            if (HasFatalFailure()) return;
        }
    }
}

TEST_F(HashAgreement, LongRunsShiftAndRebuild) {
    // Inserting near the head of a long hash! shifts many positions at once (past the limit of
    // shifting, the table is rebuilt instead).
    V start;
    for (int32_t i = 0; i < 40000; i++) start.push_back(i % 1000);
    Root h, b;
    hashed(h, start);
    ints(b, start);
    Cell v = integer(123456);
    for (Root* s : {&h, &b}) {
        Root x(at(*s, 1));
        of(x.get()).insert(x.get(), &v, -1, false, 1);
        Root y(at(*s, 20000));
        Cell two = integer(2);
        of(y.get()).remove(y.get(), &two, nullptr);
    }
    for (int32_t k : {0, 1, 123456, 999, 500}) {
        Cell key = integer(k);
        FindArgs last;
        last.last = true;
        EXPECT_EQ(found(h.get(), &key, {}), found(b.get(), &key, {})) << k;
        EXPECT_EQ(found(h.get(), &key, last), found(b.get(), &key, last)) << k;
    }
}

}  // namespace
}  // namespace kov
