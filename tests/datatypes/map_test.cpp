// map!: making from each spec, folded duplicate keys, key normalisation (words, copied strings),
// case in lookups, tombstones that revive in place, growth of the table, extend, reflect, form
// and mold (nested, empty, cyclic), comparison, copies, the errors, and a seeded run of puts,
// removals and extends checked against a reference dictionary and a scan of the pair block.
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/cells.hpp"
#include "core/hashtable.hpp"
#include "datatypes/map.hpp"
#include "datatypes/simple.hpp"
#include "series_fixture.hpp"

namespace kov {
namespace {

using collector::Root;
using testing::SeriesTest;

int32_t stand_in_mold_string(const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    std::string s = "\"" + string::to_utf8(v) + "\"";
    string::concatenate_cstring(out, s);
    return limit - int32_t(s.size());
}

class MapTest : public SeriesTest {
protected:
    void SetUp() override {
        SeriesTest::SetUp();
        if (!type_registry::tables[T_STRING].mold) type_registry::tables[T_STRING].mold = stand_in_mold_string;
    }
    const ActionTable& m_ = type_registry::table(T_MAP);

    // A map! made from a block of cells.
    Cell* made(Root& out, std::initializer_list<Cell> spec) {
        Root b;
        block::make_at(b.get(), int32_t(spec.size() ? spec.size() : 1));
        for (const Cell& c : spec) block::append_value(b.get(), &c);
        stack::Snapshot snap;
        out.cell = *m_.make(nullptr, b.get(), T_MAP);
        return out.get();
    }
    static Cell text(Root& out, const char* s) {
        string::make_at(out.get(), 8);
        string::concatenate_cstring(out.get(), s);
        return out.cell;
    }
    Cell* select(Cell* m, const Cell* key, bool case_sensitive = false) {
        FindArgs a;
        a.case_sensitive = case_sensitive;
        return m_.select(m, key, a);
    }
    int32_t length(const Cell* m) { return m_.length_q(m); }
    std::string mold(const Cell* m, bool only = false, bool flat = false) {
        Root v(*m), out;
        string::make_at(out.get(), 16);
        m_.mold(v.get(), out.get(), only, false, flat, false, 1 << 30, 0);
        return string::to_utf8(out.get());
    }
    // The pair block's cells as "key value" molds, tombstones as "-".
    std::string pairs(const Cell* m) {
        std::string s;
        SeriesBuffer* b = memory::buffer_of(m->data2);
        for (uint32_t i = 0; i + 1 < b->length(); i += 2) {
            Root k(b->head_cell()[i]), v(b->head_cell()[i + 1]);
            if (!s.empty()) s += " ";
            s += molded(k.get());
            s += v->header == 0 ? std::string(" -") : " " + molded(v.get());
            b = memory::buffer_of(m->data2);
        }
        return s;
    }
};

TEST_F(MapTest, MakeFoldsRepeatedKeysAtTheirFirstPlace) {
    Root m;
    made(m, {word_cell("a"), integer(1), word_cell("b"), integer(2), word_cell("a", T_SET_WORD), integer(3)});
    EXPECT_EQ(length(m.get()), 2);
    EXPECT_EQ(pairs(m.get()), "a: 3 b: 2");
    Cell a = word_cell("a", T_LIT_WORD);
    EXPECT_EQ(select(m.get(), &a)->get_int(), 3);  // every word kind names the same key
    // Sizes: 0 gives an empty map; a negative size, an odd block and other specs are refused.
    Root z;
    Cell zero = integer(0);
    {
        stack::Snapshot snap;
        z.cell = *m_.make(nullptr, &zero, T_MAP);
    }
    EXPECT_EQ(length(z.get()), 0);
    EXPECT_EQ(mold(z.get()), "#[]");
    struct Case { bool make; Cell spec; const char* error; } cases[] = {
        {true, integer(-1), "out-of-range"},
        {false, integer(3), "bad-to-arg"},
        {true, none_value, "bad-to-arg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { (c.make ? m_.make : m_.to)(nullptr, &c.spec, T_MAP); }), c.error) << c.error;
    }
    Root odd;
    block::make_at(odd.get(), 1);
    Cell one = integer(1);
    block::append_value(odd.get(), &one);
    EXPECT_EQ(error_of([&] { m_.make(nullptr, odd.get(), T_MAP); }), "invalid-arg");
    block::append_value(odd.get(), odd.get());  // [1 [...]]: a block is no key
    Cell* c = memory::buffer_of(odd->data2)->head_cell();
    std::swap(c[0], c[1]);
    EXPECT_EQ(error_of([&] { m_.make(nullptr, odd.get(), T_MAP); }), "invalid-path");
}

TEST_F(MapTest, StringKeysFoldCaseAndAreCopied) {
    Root m, lower, upper, probe;
    made(m, {});
    Cell abc = text(lower, "abc"), ABC = text(upper, "ABC");
    Cell one = integer(1), two = integer(2);
    m_.put(m.get(), &abc, &one, false);
    m_.put(m.get(), &ABC, &two, false);  // the same key ignoring case
    EXPECT_EQ(length(m.get()), 1);
    EXPECT_EQ(select(m.get(), &abc)->get_int(), 2);
    EXPECT_EQ(select(m.get(), &ABC, true)->is(T_NONE), true);  // /case tells them apart
    EXPECT_EQ(select(m.get(), &abc, true)->get_int(), 2);
    m_.put(m.get(), &ABC, &one, true);  // put/case: a key of its own
    EXPECT_EQ(length(m.get()), 2);
    // The stored key is a copy: changing the string used as the key leaves it as it was.
    string::concatenate_cstring(lower.get(), "def");
    EXPECT_EQ(pairs(m.get()), "\"abc\" 2 \"ABC\" 1");
    Cell again = text(probe, "abc");
    EXPECT_EQ(select(m.get(), &again, true)->get_int(), 2);
    EXPECT_TRUE(select(m.get(), lower.get())->is(T_NONE));
    // A text key of another datatype is another key.
    Cell file = again;
    file.header = T_FILE;
    EXPECT_TRUE(select(m.get(), &file)->is(T_NONE));
}

TEST_F(MapTest, RemovedPairsReviveInPlace) {
    Root m;
    made(m, {word_cell("x"), integer(1), word_cell("y"), integer(2)});
    Cell x = word_cell("x"), none = none_value, five = integer(5);
    PathStep set{m.get(), &x, &none, nullptr, nullptr, nullptr, nullptr, 1, false, true, false};
    m_.eval_path(set);  // storing none keeps the key
    EXPECT_EQ(length(m.get()), 2);
    PathStep get = set;
    get.set_value = nullptr;
    EXPECT_TRUE(m_.eval_path(get)->is(T_NONE));
    int32_t occupied = hashtable::record(m->data3)->occupied;
    m_.remove(m.get(), nullptr, &x);
    EXPECT_EQ(length(m.get()), 1);
    EXPECT_TRUE(select(m.get(), &x)->is(T_NONE));
    EXPECT_TRUE(m_.find(m.get(), &x, FindArgs{})->is(T_NONE));
    EXPECT_EQ(pairs(m.get()), "x: - y: 2");
    EXPECT_EQ(mold(m.get(), false, true), "#[y: 2]");
    set.set_value = &five;
    m_.eval_path(set);
    EXPECT_EQ(length(m.get()), 2);
    EXPECT_EQ(pairs(m.get()), "x: 5 y: 2");
    EXPECT_EQ(hashtable::record(m->data3)->occupied, occupied);  // the bucket was kept
    // find gives the key as a word!; remove without /key is refused; remove/key is case-exact.
    Cell* k = m_.find(m.get(), &x, FindArgs{});
    EXPECT_TRUE(k->is(T_WORD));
    EXPECT_EQ(error_of([&] { m_.remove(m.get(), nullptr, nullptr); }), "missing-arg");
    Root s, t, u;
    Cell abc = text(s, "abc"), ABC = text(t, "ABC");
    m_.put(m.get(), &abc, &five, false);
    m_.remove(m.get(), nullptr, &ABC);
    EXPECT_EQ(length(m.get()), 3);
    m_.remove(m.get(), nullptr, &abc);
    EXPECT_EQ(length(m.get()), 2);
    // clear empties the block and the table.
    m_.clear(m.get());
    EXPECT_EQ(length(m.get()), 0);
    EXPECT_EQ(pairs(m.get()), "");
    EXPECT_TRUE(select(m.get(), &x)->is(T_NONE));
}

TEST_F(MapTest, SeventhKeyDoublesTheTable) {
    Root m;
    Cell zero = integer(0);
    {
        stack::Snapshot snap;
        m.cell = *m_.make(nullptr, &zero, T_MAP);
    }
    EXPECT_EQ(hashtable::record(m->data3)->buckets, 8);
    EXPECT_EQ(hashtable::record(m->data3)->upper_bound, 6);
    for (int32_t i = 0; i < 7; i++) {
        Cell k = integer(i * 10), v = integer(i);
        m_.put(m.get(), &k, &v, false);
        EXPECT_EQ(hashtable::record(m->data3)->buckets, i < 6 ? 8 : 16) << i;
    }
    for (int32_t i = 0; i < 7; i++) {
        Cell k = integer(i * 10);
        EXPECT_EQ(select(m.get(), &k)->get_int(), i);
    }
}

TEST_F(MapTest, ExtendPutsEveryPair) {
    Root m, b;
    made(m, {word_cell("a"), integer(1)});
    Cell a = word_cell("a");
    m_.remove(m.get(), nullptr, &a);
    block::make_at(b.get(), 4);
    for (Cell c : {word_cell("b"), integer(2), word_cell("a", T_GET_WORD), integer(3)})
        block::append_value(b.get(), &c);
    map::extend(m.get(), b.get(), false);
    EXPECT_EQ(pairs(m.get()), "a: 3 b: 2");
    EXPECT_EQ(length(m.get()), 2);
    Cell one = integer(1);
    block::append_value(b.get(), &one);
    EXPECT_EQ(error_of([&] { map::extend(m.get(), b.get(), false); }), "invalid-arg");
}

TEST_F(MapTest, Reflect) {
    Root m;
    made(m, {word_cell("a"), integer(1), word_cell("b"), integer(2)});
    Cell b = word_cell("b");
    m_.remove(m.get(), nullptr, &b);
    stack::Snapshot snap;
    struct Case { const char* field; std::string expect; } cases[] = {
        {"words", "[a]"}, {"values", "[1]"}, {"body", "[\n    a: 1\n]"},
    };
    for (const Case& c : cases) {
        Cell f = word_cell(c.field);
        Root r(*m_.reflect(m.get(), &f));
        EXPECT_EQ(molded(r.get()), c.expect) << c.field;
    }
    Cell other = word_cell("spec");
    EXPECT_EQ(error_of([&] { m_.reflect(m.get(), &other); }), "not-done");
}

TEST_F(MapTest, FormAndMold) {
    Root m, inner;
    made(inner, {word_cell("x"), integer(9)});
    made(m, {word_cell("a"), integer(1), integer(7), inner.cell});
    EXPECT_EQ(mold(m.get()), "#[\n    a: 1\n    7 #[\n        x: 9\n    ]\n]");
    EXPECT_EQ(mold(m.get(), false, true), "#[a: 1 7 #[x: 9]]");
    EXPECT_EQ(mold(m.get(), true), "a: 1\n7 #[\n    x: 9\n]");
    EXPECT_EQ(formed(m.get()), "a: 1\n7 #[\n    x: 9\n]");
    // A map inside itself molds as a marker at the inner place.
    Cell self = m.cell, key = word_cell("me");
    m_.put(m.get(), &key, &self, false);
    EXPECT_EQ(mold(m.get(), false, true), "#[a: 1 7 #[x: 9] me: #[...]]");
    EXPECT_EQ(cycles::depth(), 0u);
    // part: the writing stops once the budget is used.
    Root out;
    string::make_at(out.get(), 16);
    m_.mold(m.get(), out.get(), false, false, true, true, 6, 0);
    EXPECT_EQ(string::to_utf8(out.get()).substr(0, 6), "#[a: 1");
    EXPECT_LT(string::to_utf8(out.get()).size(), 12u);
}

TEST_F(MapTest, Compare) {
    Root a, b, c, d, e;
    made(a, {word_cell("a"), integer(1), word_cell("b"), integer(2)});
    made(b, {word_cell("b"), integer(2), word_cell("a"), integer(1)});
    made(c, {word_cell("a"), integer(1), word_cell("b"), integer(3)});
    made(d, {word_cell("a"), integer(1)});
    made(e, {});
    struct Case { Cell* x; Cell* y; int32_t op; int32_t expect; } cases[] = {
        {a.get(), b.get(), COMP_EQUAL, 0},
        {a.get(), b.get(), COMP_STRICT_EQUAL, 0},
        {a.get(), b.get(), COMP_SAME, -1},
        {a.get(), a.get(), COMP_SAME, 0},
        {a.get(), c.get(), COMP_EQUAL, 1},
        {a.get(), d.get(), COMP_EQUAL, 1},
        {e.get(), e.get(), COMP_EQUAL, 0},
        {a.get(), b.get(), COMP_LESSER, NOT_COMPARABLE},
    };
    for (const Case& k : cases) EXPECT_EQ(m_.compare(k.x, k.y, k.op), k.expect) << k.op;
    Cell one = integer(1);
    EXPECT_EQ(m_.compare(a.get(), &one, COMP_EQUAL), NOT_COMPARABLE);
    EXPECT_NE(m_.compare(a.get(), b.get(), COMP_SORT), 0);
    // Text keys: equal ignoring case under =, apart under ==.
    Root s1, s2, p, q;
    Cell lower = text(s1, "k"), upper = text(s2, "K");
    made(p, {lower, integer(1)});
    made(q, {upper, integer(1)});
    EXPECT_EQ(m_.compare(p.get(), q.get(), COMP_EQUAL), 0);
    EXPECT_EQ(m_.compare(p.get(), q.get(), COMP_STRICT_EQUAL), 1);
}

TEST_F(MapTest, CopiesChangeApart) {
    Root m, c, deep, inner, s;
    made(inner, {word_cell("x"), integer(9)});
    made(m, {word_cell("a"), integer(1), word_cell("m"), inner.cell, word_cell("gone"), integer(0)});
    Cell gone = word_cell("gone");
    m_.remove(m.get(), nullptr, &gone);
    m_.copy(m.get(), c.get(), nullptr, false, nullptr);
    EXPECT_EQ(length(c.get()), 2);
    EXPECT_EQ(pairs(c.get()), pairs(m.get()));  // removed pairs are copied too
    Cell b = word_cell("b"), two = integer(2);
    m_.put(c.get(), &b, &two, false);
    EXPECT_EQ(length(c.get()), 3);
    EXPECT_EQ(length(m.get()), 2);
    EXPECT_TRUE(select(m.get(), &b)->is(T_NONE));
    m_.put(c.get(), &gone, &two, false);
    EXPECT_TRUE(select(m.get(), &gone)->is(T_NONE));
    // copy/deep copies the nested map; a map inside itself cannot be copied deeply.
    m_.copy(m.get(), deep.get(), nullptr, true, nullptr);
    Cell mk = word_cell("m");
    Cell nested = *select(deep.get(), &mk);
    EXPECT_TRUE(nested.is(T_MAP));
    EXPECT_NE(nested.data2, inner->data2);
    Cell self = m.cell, key = word_cell("me");
    m_.put(m.get(), &key, &self, false);
    EXPECT_EQ(error_of([&] { m_.copy(m.get(), s.get(), nullptr, true, nullptr); }), "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(MapTest, KeysOfOtherDatatypesAreRefused) {
    Root m, blk;
    made(m, {});
    block::make_at(blk.get(), 1);
    Cell one = integer(1);
    for (Cell key : {blk.cell, none_value, m.cell}) {
        EXPECT_EQ(error_of([&] { m_.put(m.get(), &key, &one, false); }), "invalid-path") << key.type();
        EXPECT_EQ(length(m.get()), 0);
    }
    for (Cell key : {cells::make_float(1.5), Cell{T_CHAR, 0, 'a', 0}, Cell{T_PAIR, 0, 1, 2},
                     word_cell("r", T_REFINEMENT), word_cell("i", T_ISSUE)}) {
        m_.put(m.get(), &key, &one, false);
        EXPECT_EQ(select(m.get(), &key)->get_int(), 1) << key.type();
    }
    EXPECT_EQ(length(m.get()), 5);
}

TEST_F(MapTest, SeededPutsRemovalsAndExtendsAgreeWithAReference) {
    std::mt19937 rng(7001);
    auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
    for (int run = 0; run < 3; run++) {
        Root m;
        made(m, {});
        std::map<int32_t, int32_t> model;
        for (int round = 0; round < 400; round++) {
            int32_t key = pick(0, 40), value = pick(0, 1000);
            Cell k = integer(key), v = integer(value);
            switch (pick(0, 3)) {
            case 0: case 1:
                m_.put(m.get(), &k, &v, pick(0, 1) == 1);
                model[key] = value;
                break;
            case 2:
                m_.remove(m.get(), nullptr, &k);
                model.erase(key);
                break;
            default: {
                Root b;
                block::make_at(b.get(), 4);
                for (int i = 0; i < 2; i++) {
                    int32_t kk = pick(0, 40), vv = pick(0, 1000);
                    Cell x = integer(kk), y = integer(vv);
                    block::append_value(b.get(), &x);
                    block::append_value(b.get(), &y);
                    model[kk] = vv;
                }
                map::extend(m.get(), b.get(), false);
                break;
            }
            }
            if (round % 97 == 0) collector::collect();
            ASSERT_EQ(length(m.get()), int32_t(model.size())) << round;
            for (int32_t q = 0; q <= 40; q++) {
                Cell probe = integer(q);
                Cell* got = select(m.get(), &probe);
                // A scan of the pair block: the one present pair with this key.
                int32_t scanned = -1, present = 0;
                SeriesBuffer* pb = memory::buffer_of(m->data2);
                for (uint32_t i = 0; i + 1 < pb->length(); i += 2) {
                    const Cell* c = pb->head_cell() + i;
                    if (c[1].header != 0 && c[0].get_int() == q) scanned = c[1].get_int(), present++;
                }
                auto it = model.find(q);
                int32_t expect = it == model.end() ? -1 : it->second;
                ASSERT_EQ(got->is(T_NONE) ? -1 : got->get_int(), expect) << round << " key " << q;
                ASSERT_EQ(scanned, expect) << round << " key " << q;
                ASSERT_LE(present, 1);
            }
        }
    }
}

}  // namespace
}  // namespace kov
