// The hash tables: hashing, sizing and growth, the five kinds, and agreement with a linear scan
// under random sequences of operations.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"
#include "words_fixture.hpp"

namespace kov {
namespace {

using testing::WordsTest;
namespace ht = hashtable;

class HashTable : public WordsTest {};

Cell float_cell(uint32_t type, double d) {
    Cell c{type, 0, 0, 0};
    c.set_float(d);
    return c;
}

uint32_t float_bits(float f) { return std::bit_cast<uint32_t>(f); }

// A string! whose text is Latin-1 (or, with unit 2/4, widened to that unit).
Cell text(const char* s, uint32_t unit = 1, uint32_t type = T_STRING) {
    uint32_t n = uint32_t(std::strlen(s));
    Handle node = memory::make_string_buffer(n + 1, unit);
    SeriesBuffer* b = memory::buffer_of(node);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = uint8_t(s[i]);
        std::memcpy(b->head_ptr() + i * unit, &cp, unit);  // little-endian units
    }
    b->tail = b->head + n * unit;
    return Cell{type, 0, node, 0};
}

// ---- hashing ----

TEST_F(HashTable, Murmur3MatchesReferenceVectors) {
    uint32_t saved = ht::seed();
    struct Case {
        const char* bytes;
        size_t length;
        uint32_t seed;
        uint32_t hash;
    };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"", 0, 1, 0x514E28B7},
        {"", 0, 0xFFFFFFFF, 0x81F16F39},
        {"\0\0\0\0", 4, 0, 0x2362F9DE},
        {"aaaa", 4, 0x9747B28C, 0x5A97808A},
        {"abc", 3, 0, 0xB3DD93FA},
        {"Hello, world!", 13, 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 43, 0x9747B28C, 0x2FA826CD},
    };
    for (const Case& c : cases) {
        ht::set_seed(c.seed);
        EXPECT_EQ(ht::murmur3(c.bytes, c.length), c.hash) << c.bytes << " seed " << c.seed;
    }
    ht::set_seed(saved);
    EXPECT_EQ(saved, 0x0055860Cu);  // the process-wide seed set at start-up
    // fmix32 alone: the empty hash with seed 1 is fmix32(1).
    EXPECT_EQ(ht::hash_pointer(1), 0x514E28B7u);
    EXPECT_EQ(ht::hash_pointer(0), 0u);
}

TEST_F(HashTable, LowerCasedMurmurFoldsOnlyAsciiLetters) {
    const char* pairs[][2] = {{"PRINT", "print"}, {"Hello-World?", "hello-world?"}, {"AZ@[`{", "az@[`{"},
                              {"X", "x"}, {"", ""}, {"aBcDeFgHiJ", "abcdefghij"}};
    for (auto& p : pairs)
        EXPECT_EQ(ht::murmur3_lower(p[0], std::strlen(p[0])), ht::murmur3(p[1], std::strlen(p[1]))) << p[0];
    // Bytes above 0x7F are not letters to fold: Latin-1 capitals stay apart from their small forms.
    const char upper[] = "\xC3\x89t\xC3\xA9", lower[] = "\xC3\xA9t\xC3\xA9";
    EXPECT_NE(ht::murmur3_lower(upper, 5), ht::murmur3_lower(lower, 5));
}

TEST_F(HashTable, EqualValuesHashAlike) {
    // Zero and negative zero compare equal, so every float-based type hashes them alike.
    const uint32_t float_types[] = {T_FLOAT, T_PERCENT, T_TIME};
    for (uint32_t t : float_types) {
        Cell zero = float_cell(t, 0.0), negative_zero = float_cell(t, -0.0), one = float_cell(t, 1.0);
        EXPECT_EQ(ht::hash_value(&zero, false), ht::hash_value(&negative_zero, false)) << t;
        EXPECT_NE(ht::hash_value(&zero, false), ht::hash_value(&one, false)) << t;
    }
    Cell d1{T_DATE, 0x12345, 0, 0}, d2 = d1;
    d1.set_float(0.0);
    d2.set_float(-0.0);
    EXPECT_EQ(ht::hash_value(&d1, false), ht::hash_value(&d2, false));
    Cell p1{T_POINT2D, float_bits(0.0f), float_bits(-0.0f), 0}, p2{T_POINT2D, float_bits(-0.0f), float_bits(0.0f), 0};
    EXPECT_EQ(ht::hash_value(&p1, false), ht::hash_value(&p2, false));
    Cell q1{T_POINT3D, float_bits(1.5f), float_bits(-0.0f), float_bits(0.0f)};
    Cell q2{T_POINT3D, float_bits(1.5f), float_bits(0.0f), float_bits(-0.0f)};
    EXPECT_EQ(ht::hash_value(&q1, false), ht::hash_value(&q2, false));
    Cell m1{T_MONEY | 0x4000, 0, 0, 0}, m2{T_MONEY, 0, 0, 0};  // -$0 and $0
    EXPECT_EQ(ht::hash_value(&m1, false), ht::hash_value(&m2, false));
    Cell m3{T_MONEY | 0x4000, 0x100, 0, 0}, m4{T_MONEY, 0x100, 0, 0};  // a non-zero amount keeps its sign
    EXPECT_NE(ht::hash_value(&m3, false), ht::hash_value(&m4, false));

    // Text: every unit width hashes alike; case folds unless asked to be case-sensitive.
    collector::Root a1(text("Hello")), a2(text("Hello", 2)), a4(text("Hello", 4)), lower(text("hello"));
    EXPECT_EQ(ht::hash_value(a1.get(), false), ht::hash_value(a2.get(), false));
    EXPECT_EQ(ht::hash_value(a1.get(), false), ht::hash_value(a4.get(), false));
    EXPECT_EQ(ht::hash_value(a1.get(), false), ht::hash_value(lower.get(), false));
    EXPECT_NE(ht::hash_value(a1.get(), true), ht::hash_value(lower.get(), true));
    collector::Root e1(text("\xE9t\xE9")), e2(text("\xC9T\xC9", 2));  // été and ÉTÉ through the case tables
    EXPECT_EQ(ht::hash_value(e1.get(), false), ht::hash_value(e2.get(), false));
    // The text hash starts at the value's head.
    Cell tail_of = a1.cell;
    tail_of.data1 = 2;
    collector::Root llo(text("llo"));
    EXPECT_EQ(ht::hash_value(&tail_of, false), ht::hash_value(llo.get(), false));
    // Words of any kind hash by their canonical symbol.
    Cell w1 = word_cell("Alpha"), w2 = word_cell("ALPHA", T_SET_WORD), w3 = word_cell("alpha", T_REFINEMENT);
    EXPECT_EQ(ht::hash_value(&w1, false), ht::hash_value(&w2, false));
    EXPECT_EQ(ht::hash_value(&w1, false), ht::hash_value(&w3, false));
    // Constants and the tuple's bytes up to its length.
    Cell un{T_UNSET, 0, 0, 0}, no{T_NONE, 0, 0, 0};
    EXPECT_EQ(ht::hash_value(&un, false), uint32_t(-2));
    EXPECT_EQ(ht::hash_value(&no, false), uint32_t(-1));
    Cell t1{T_TUPLE | (3u << 19), 0x00030201, 0xDEAD, 0}, t2{T_TUPLE | (3u << 19), 0x99030201, 0xBEEF, 7};
    EXPECT_EQ(ht::hash_value(&t1, false), ht::hash_value(&t2, false));
}

// ---- sizing and growth ----

TEST_F(HashTable, BucketCountsFollowTheLoadFactor) {
    struct Case {
        uint32_t size;
        int32_t kind, extra;
        bool block_source;
        int32_t buckets, bound;
    };
    const Case cases[] = {
        {0, ht::KIND_MAP, 0, false, 8, 6},       {3, ht::KIND_HASH, 0, false, 8, 6},
        {10, ht::KIND_MAP, 0, false, 16, 12},    {100, ht::KIND_HASH, 0, false, 256, 197},
        {1000, ht::KIND_OWNERSHIP, 3, false, 2048, 1576},
        {4000, ht::KIND_WORDS, ht::EXTRA_WORD_TABLE, false, 16384, 12615},
        {4000, ht::KIND_WORDS, ht::EXTRA_SYMBOL_TABLE, true, 16384, 12615},
        {3999, ht::KIND_WORDS, ht::EXTRA_WORD_TABLE, false, 8192, 6307},
    };
    for (const Case& c : cases) {
        collector::Root src(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
        Handle t = ht::make(c.size, c.block_source ? src.get() : nullptr, c.kind, c.extra);
        ht::Record* r = ht::record(t);
        EXPECT_EQ(r->buckets, c.buckets) << c.size << " kind " << c.kind;
        EXPECT_EQ(r->upper_bound, c.bound) << c.size << " kind " << c.kind;
        EXPECT_EQ(r->live, 0);
        EXPECT_EQ(r->kind, c.kind);
    }
}

// A map! of pairs over its own block, rooted.
struct MapTable {
    collector::Root root;
    explicit MapTable(uint32_t size) : root(Cell{T_MAP, 0, 0, 0}) {
        Handle t = ht::make(size, nullptr, ht::KIND_MAP, 0);
        root->data3 = t;
        root->data2 = ht::record(t)->data;
    }
    Handle table() { return root->data3; }
    Handle block() { return root->data2; }
    Cell* at(uint32_t i) { return memory::buffer_of(block())->head_cell() + i; }
    uint32_t cells() { return memory::buffer_of(block())->used() / 16; }
    // put: an equal key (op 2) gets the value; else the pair is appended and entered.
    void put(const Cell& key, const Cell& value) {
        collector::Root k(key), v(value);
        Cell* found = ht::get(table(), k.get(), 0, 1, COMP_STRICT_EQUAL, false, false);
        if (found) {
            if (found[1].header == 0) ht::record(table())->live++;
            found[1] = v.cell;
            return;
        }
        *buffer::alloc_tail_cell(block()) = k.cell;
        *buffer::alloc_tail_cell(block()) = v.cell;
        int status;
        ht::insert_key(table(), at(cells() - 2), &status);
        EXPECT_EQ(status, ht::STATUS_NEW);
    }
};

TEST_F(HashTable, MapGrowsBeforeTheInsertionThatReachesTheBound) {
    MapTable m(0);
    for (int i = 0; i < 6; i++) m.put(integer(i), integer(i * 10));
    EXPECT_EQ(ht::record(m.table())->buckets, 8);
    EXPECT_EQ(ht::record(m.table())->occupied, 6);
    m.put(integer(6), integer(60));
    EXPECT_EQ(ht::record(m.table())->buckets, 16);
    EXPECT_EQ(ht::record(m.table())->upper_bound, 12);
    for (int i = 0; i < 7; i++) {
        Cell k = integer(i);
        Cell* found = ht::get(m.table(), &k, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found[1].data2, uint32_t(i * 10));
    }
}

TEST_F(HashTable, MapKeysFoldCaseUnlessAskedAndWordKindsAreOneKey) {
    MapTable m(4);
    m.put(text("abc"), integer(1));
    m.put(text("ABC"), integer(2));  // a different key under ==
    m.put(word_cell("key", T_SET_WORD), integer(3));
    EXPECT_EQ(ht::record(m.table())->live, 3);
    collector::Root probe(text("Abc")), exact(text("ABC"));
    Cell* eq = ht::get(m.table(), probe.get(), 0, 1, COMP_EQUAL, false, false);
    ASSERT_NE(eq, nullptr);  // either spelling matches under =
    EXPECT_EQ(ht::get(m.table(), probe.get(), 0, 1, COMP_STRICT_EQUAL, false, false), nullptr);
    Cell* strict = ht::get(m.table(), exact.get(), 0, 1, COMP_STRICT_EQUAL, false, false);
    ASSERT_NE(strict, nullptr);
    EXPECT_EQ(strict[1].data2, 2u);
    // a, a:, 'a and :a name the same key.
    for (uint32_t t : {T_WORD, T_LIT_WORD, T_GET_WORD, T_SET_WORD}) {
        Cell w = word_cell("KEY", t);
        Cell* k = ht::get(m.table(), &w, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(k, nullptr) << t;
        EXPECT_EQ(k[1].data2, 3u);
        EXPECT_EQ(w.type(), t);  // the probe keeps its type
    }
    // A probe key of the internal type 56 hashes and compares only the units it is limited to.
    collector::Root longer(text("abcdef"));
    longer->header = ht::T_PROBE;
    longer->data3 = 3;
    ASSERT_NE(ht::get(m.table(), longer.get(), 0, 1, COMP_EQUAL, false, false), nullptr);
    // Removal leaves the pair as a tombstone that put revives in place.
    Cell* k = ht::get(m.table(), exact.get(), 0, 1, COMP_STRICT_EQUAL, false, false);
    ASSERT_NE(k, nullptr);
    uint32_t place = uint32_t(k - m.at(0));
    ht::delete_key(m.table(), k);
    EXPECT_EQ(ht::record(m.table())->live, 2);
    ht::delete_key(m.table(), m.at(place));  // removing twice counts once
    EXPECT_EQ(ht::record(m.table())->live, 2);
    EXPECT_EQ(m.at(place + 1)->header, 0u);
    m.put(text("ABC"), integer(9));
    EXPECT_EQ(ht::record(m.table())->live, 3);
    EXPECT_EQ(m.at(place + 1)->data2, 9u);
    EXPECT_EQ(m.cells(), 6u);
}

TEST_F(HashTable, FindNextWalksEveryEqualKeyOnce) {
    MapTable m(4);
    m.put(text("abc"), integer(1));
    m.put(integer(7), integer(2));
    m.put(text("ABC"), integer(3));
    m.put(text("Abc"), integer(4));
    collector::Root probe(text("aBC"));
    int32_t bucket = -1, end = 0, step = 0;
    std::multiset<uint32_t> values;
    while (Cell* k = ht::find_next(m.table(), probe.get(), &bucket, &end, &step)) values.insert(k[1].data2);
    EXPECT_EQ(values, (std::multiset<uint32_t>{1, 3, 4}));
    EXPECT_EQ(ht::find_next(m.table(), probe.get(), &bucket, &end, &step), nullptr);  // stays done
    Cell seven = integer(7);
    bucket = -1;
    Cell* k = ht::find_next(m.table(), &seven, &bucket, &end, &step);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k[1].data2, 2u);
    EXPECT_EQ(ht::find_next(m.table(), &seven, &bucket, &end, &step), nullptr);
}

TEST_F(HashTable, MapIndexingFoldsRepeatedKeysIntoTheFirstPair) {
    // make map! [a 1 b 2 a 3]: one pair a at the first position with the last value.
    collector::Root blk(Cell{T_BLOCK, 0, memory::make_cells(6), 0});
    const Cell cells[] = {word_cell("a"), integer(1), word_cell("b"), integer(2), word_cell("a"), integer(3)};
    for (const Cell& c : cells) *buffer::alloc_tail_cell(blk->data2) = c;
    collector::Root m(Cell{T_MAP, 0, blk->data2, 0});
    m->data3 = ht::make(6, blk.get(), ht::KIND_MAP, 0);
    SeriesBuffer* b = memory::buffer_of(blk->data2);
    ASSERT_EQ(b->used() / 16, 4u);
    Cell* c = b->head_cell();
    EXPECT_TRUE(c[0].is(T_SET_WORD));  // word keys are stored as set-words
    EXPECT_EQ(c[1].data2, 3u);
    EXPECT_EQ(c[3].data2, 2u);
    EXPECT_EQ(ht::record(m->data3)->live, 2);
}

// ---- hash! (kind 0) ----

// A hash! over a block of cells, rooted.
struct HashBlock {
    collector::Root root;
    explicit HashBlock(const std::vector<Cell>& cells) : root(Cell{T_HASH, 0, 0, 0}) {
        Handle block = memory::make_cells(uint32_t(std::max<size_t>(cells.size(), 1)));
        root->data2 = block;
        for (const Cell& c : cells) *buffer::alloc_tail_cell(root->data2) = c;
        Cell src{T_BLOCK, 0, root->data2, 0};
        root->data3 = ht::make(uint32_t(cells.size()), &src, ht::KIND_HASH, 0);
    }
    Handle table() { return root->data3; }
    Handle block() { return root->data2; }
    Cell* at(uint32_t i) { return memory::buffer_of(block())->head_cell() + i; }
    uint32_t cells() { return memory::buffer_of(block())->used() / 16; }
    int32_t find(const Cell& key, int32_t head = 0, int32_t skip = 1, int32_t op = COMP_EQUAL, bool last = false,
                 bool reverse = false) {
        Cell k = key;
        Cell* c = ht::get(table(), &k, head, skip, op, last, reverse);
        return c ? int32_t(c - at(0)) : -1;
    }
};

TEST_F(HashTable, DuplicatesShareOneBucketThroughAChain) {
    Cell a = word_cell("a");
    HashBlock h({a, a, a});
    ht::Record* r = ht::record(h.table());
    EXPECT_EQ(r->live, 1);
    EXPECT_EQ(r->occupied, 1);
    ASSERT_EQ(buffer::array_length(r->chains), 1u);
    Handle chain = buffer::pick_int(r->chains, 1);
    EXPECT_EQ(buffer::array_length(chain), 3u);

    struct Case {
        int32_t head, skip;
        bool last, reverse;
        int32_t expect;
    };
    const Case cases[] = {
        {0, 1, false, false, 0}, {1, 1, false, false, 1}, {0, 1, true, false, 2}, {3, 1, false, true, 2},
        {2, 1, false, true, 1},  {0, 1, false, true, -1}, {1, 2, false, false, 1}, {0, 2, true, false, 2},
        {1, 2, true, false, 1},  {3, 2, false, true, 2},  {2, 2, false, true, 1}, {3, 1, false, false, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(h.find(a, c.head, c.skip, COMP_EQUAL, c.last, c.reverse), c.expect)
            << "head " << c.head << " skip " << c.skip << " last " << c.last << " reverse " << c.reverse;

    // Removing one of two equal keys leaves the other findable and the live count unchanged.
    HashBlock two({integer(5), integer(7), integer(5)});
    ht::delete_position(two.table(), 0);
    EXPECT_EQ(ht::record(two.table())->live, 2);
    EXPECT_EQ(two.find(integer(5)), 2);
    ht::delete_position(two.table(), 2);
    EXPECT_EQ(ht::record(two.table())->live, 1);
    EXPECT_EQ(two.find(integer(5)), -1);
    EXPECT_EQ(two.find(integer(7)), 1);
}

TEST_F(HashTable, EqualKeysOfDifferentKindsAreAllFound) {
    // a and a: are equal under = but are kept apart (different datatypes): both are candidates.
    Cell a = word_cell("a"), set_a = word_cell("a", T_SET_WORD), big_a = word_cell("A");
    HashBlock h({set_a, integer(1), a, integer(2), big_a});
    EXPECT_EQ(h.find(a), 0);
    EXPECT_EQ(h.find(a, 0, 1, COMP_EQUAL, true), 4);
    EXPECT_EQ(h.find(set_a, 1), 2);
    EXPECT_EQ(h.find(set_a, 0, 1, COMP_STRICT_EQUAL, true), 0);
    EXPECT_EQ(h.find(a, 0, 1, COMP_STRICT_EQUAL, true), 2);
    EXPECT_EQ(h.find(big_a, 0, 1, COMP_STRICT_EQUAL), 4);
    EXPECT_EQ(ht::record(h.table())->live, 4);  // a:, then a with A, then the integers 1 and 2
}

TEST_F(HashTable, StringsOfAnyCaseLandInOneBucketAndTheOpDecides) {
    collector::Root upper(text("ABC")), lower(text("abc")), x(text("x")), mixed(text("Abc"));
    HashBlock h({upper.cell, lower.cell, x.cell});
    EXPECT_EQ(ht::record(h.table())->live, 2);  // ABC and abc form one key under =
    EXPECT_EQ(h.find(lower.cell), 0);
    EXPECT_EQ(h.find(lower.cell, 0, 1, COMP_STRICT_EQUAL), 1);
    EXPECT_EQ(h.find(upper.cell, 1, 1, COMP_STRICT_EQUAL), -1);
    EXPECT_EQ(h.find(mixed.cell, 0, 1, COMP_STRICT_EQUAL), -1);
}

TEST_F(HashTable, BlockKeysAreRebuiltAfterACollection) {
    collector::Root inner1(Cell{T_BLOCK, 0, memory::make_cells(2), 0});
    collector::Root inner2(Cell{T_BLOCK, 0, memory::make_cells(2), 0});
    *buffer::alloc_block_tail(inner2.get()) = integer(7);  // unequal to inner1 by content
    HashBlock h({inner1.cell, integer(3), inner2.cell});
    int32_t stamped = ht::record(h.table())->counter;
    EXPECT_EQ(stamped, int32_t(collector::state.cycles + 1));  // identity-hashed keys stamp the table
    collector::collect();
    collector::collect();
    EXPECT_EQ(h.find(inner2.cell), 2);  // the lookup rebuilds the table first
    EXPECT_EQ(ht::record(h.table())->counter, int32_t(collector::state.cycles + 1));
    EXPECT_EQ(h.find(inner1.cell), 0);
    EXPECT_EQ(h.find(integer(3)), 1);
}

// The reference: a linear scan with the same rules as the table's lookup.
int32_t scan(const std::vector<Cell>& cells, const Cell& key, int32_t head, int32_t skip, int32_t op, bool last,
             bool reverse) {
    int32_t best = -1;
    if (reverse) last = true;
    for (int32_t l = 0; l < int32_t(cells.size()); l++) {
        int64_t dist = reverse ? int64_t(head) - l - 1 : int64_t(l) - head;
        if (dist < 0 || dist % skip) continue;
        if (ht::compare_hook(&cells[size_t(l)], &key, op) != 1) continue;
        if (!last) return l;
        best = l;
    }
    return best;
}

// Distinct keys: equal under = and of one datatype count once.
int32_t distinct(const std::vector<Cell>& cells) {
    std::vector<Cell> seen;
    for (const Cell& c : cells) {
        bool dup = false;
        for (const Cell& s : seen) dup = dup || (s.type() == c.type() && ht::compare_hook(&s, &c, COMP_EQUAL) == 1);
        if (!dup) seen.push_back(c);
    }
    return int32_t(seen.size());
}

TEST_F(HashTable, HashLookupsAgreeWithALinearScanUnderRandomEdits) {
    std::mt19937 rng(20240611);
    std::vector<Cell> pool;
    for (int i = 0; i < 6; i++) pool.push_back(integer(i));
    for (const char* w : {"k", "K", "m"}) {
        pool.push_back(word_cell(w));
        pool.push_back(word_cell(w, T_SET_WORD));
    }
    for (int round = 0; round < 6; round++) {
        HashBlock h({});
        std::vector<Cell> model;
        auto pick = [&] { return pool[rng() % pool.size()]; };
        for (int step = 0; step < 700; step++) {
            uint32_t n = uint32_t(model.size());
            int what = int(rng() % 10);
            if (what <= 2 || n == 0) {  // append
                Cell v = pick();
                *buffer::alloc_tail_cell(h.block()) = v;
                ht::put(h.table(), h.at(n));
                model.push_back(v);
            } else if (what == 3) {  // insert in the middle
                uint32_t p = rng() % (n + 1);
                Cell v = pick();
                ASSERT_FALSE(ht::shift_positions(h.table(), 1, int32_t(p), int32_t(n - p), true));
                buffer::alloc_tail_cell(h.block());
                std::memmove(h.at(p + 1), h.at(p), (n - p) * 16);
                *h.at(p) = v;
                ht::put(h.table(), h.at(p));
                model.insert(model.begin() + p, v);
            } else if (what == 4) {  // remove
                uint32_t p = rng() % n;
                ASSERT_FALSE(ht::shift_positions(h.table(), -1, int32_t(p + 1), int32_t(n - p - 1), true));
                std::memmove(h.at(p), h.at(p + 1), (n - p - 1) * 16);
                memory::buffer_of(h.block())->tail -= 16;
                model.erase(model.begin() + p);
            } else if (what == 5) {  // poke
                uint32_t p = rng() % n;
                Cell v = pick();
                *h.at(p) = v;
                ht::put(h.table(), h.at(p));
                model[p] = v;
            } else if (what == 6 && n >= 2) {  // move a run
                uint32_t f = rng() % n, c = 1 + rng() % std::min<uint32_t>(3, n - f);
                uint32_t to = rng() % (n + 1);
                if (to >= f && to <= f + c) continue;
                ht::move_positions(h.table(), int32_t(to), int32_t(f), int32_t(c));
                std::vector<Cell> next;
                std::vector<Cell> run(model.begin() + f, model.begin() + f + c);
                for (uint32_t i = 0; i < n; i++) {
                    if (i == to) next.insert(next.end(), run.begin(), run.end());
                    if (i < f || i >= f + c) next.push_back(model[i]);
                }
                if (to == n) next.insert(next.end(), run.begin(), run.end());
                model = next;
                for (uint32_t i = 0; i < n; i++) *h.at(i) = model[i];
            } else if (what == 7 && rng() % 8 == 0) {
                collector::collect();
            }
            // Lookups.
            for (int q = 0; q < 3; q++) {
                Cell key = pick();
                int32_t head = int32_t(rng() % (model.size() + 1));
                int32_t skip = 1 + int32_t(rng() % 3);
                int32_t op = rng() % 2 ? COMP_EQUAL : COMP_STRICT_EQUAL;
                bool last = rng() % 3 == 0, reverse = rng() % 4 == 0;
                ASSERT_EQ(h.find(key, head, skip, op, last, reverse), scan(model, key, head, skip, op, last, reverse))
                    << "round " << round << " step " << step;
            }
            ASSERT_EQ(ht::record(h.table())->live, distinct(model)) << "round " << round << " step " << step;
        }
        // Rebuilding from the block gives the same answers.
        ht::rebuild(h.table(), int32_t(model.size()));
        for (const Cell& key : pool) ASSERT_EQ(h.find(key), scan(model, key, 0, 1, COMP_EQUAL, false, false));
        ht::remove_range(h.table(), 0, int32_t(model.size()));
        EXPECT_EQ(ht::record(h.table())->live, 0);
        for (const Cell& key : pool) EXPECT_EQ(h.find(key), -1);
    }
}

TEST_F(HashTable, ShiftingManyPositionsAsksForARebuild) {
    std::vector<Cell> cells;
    for (int i = 0; i < 10; i++) cells.push_back(integer(i));
    HashBlock h(cells);
    EXPECT_TRUE(ht::shift_positions(h.table(), 1, 0, 30001, true));
    EXPECT_EQ(h.find(integer(4)), 4);  // nothing changed
}

TEST_F(HashTable, CopyGetsChainsOfItsOwn) {
    Cell a = word_cell("dup");
    HashBlock h({a, integer(1), a});
    collector::Root copy_block(Cell{T_BLOCK, 0, buffer::copy_array(h.block()), 0});
    collector::Root copy(Cell{T_HASH, 0, copy_block->data2, ht::copy(h.table(), copy_block->data2)});
    ht::delete_position(h.table(), 0);
    Cell* found = ht::get(copy->data3, &a, 0, 1, COMP_EQUAL, false, false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found - memory::buffer_of(copy->data2)->head_cell(), 0);
    EXPECT_EQ(h.find(a), 2);
}

// ---- pointer sets (kinds 3 and 4) ----

TEST_F(HashTable, PointerSetsAgreeWithAReferenceSetAcrossRebuildsAndCollections) {
    std::mt19937 rng(77);
    // Keys are node handles kept alive by a block of their own.
    collector::Root keys(Cell{T_BLOCK, 0, memory::make_cells(64), 0});
    for (int i = 0; i < 64; i++) {
        collector::Root key(Cell{T_BINARY, 0, memory::make_bytes(8), 0});
        *buffer::alloc_tail_cell(keys->data2) = key.cell;
    }
    auto key_at = [&](uint32_t i) { return memory::buffer_of(keys->data2)->head_cell()[i].data2; };
    collector::Root set(Cell{T_HASH, 0, 0, ht::make(4, nullptr, ht::KIND_POINTERS, 1)});
    std::set<uint32_t> model;  // key indexes present
    std::vector<int32_t> stored(64, 0);
    for (int step = 0; step < 3000; step++) {
        uint32_t i = rng() % 64;
        switch (rng() % 4) {
        case 0: case 1: {
            Cell* v = ht::put_pointer(set->data3, key_at(i));
            ASSERT_NE(v, nullptr);
            if (!model.count(i)) {
                EXPECT_TRUE(v->is(T_UNSET));
            }
            *v = integer(int32_t(i) * 3);
            model.insert(i);
            break;
        }
        case 2: {
            Cell* v = ht::delete_pointer(set->data3, key_at(i));
            EXPECT_EQ(v != nullptr, model.count(i) == 1);
            model.erase(i);
            break;
        }
        default:
            if (rng() % 20 == 0) collector::collect();
            break;
        }
        uint32_t probe = rng() % 64;
        Cell* got = ht::get_pointer(set->data3, key_at(probe));
        ASSERT_EQ(got != nullptr, model.count(probe) == 1) << step;
        if (got) {
            ASSERT_EQ(got->data2, probe * 3);
        }
        ASSERT_EQ(ht::record(set->data3)->live, int32_t(model.size()));
    }
    uint32_t walked = 0;
    ht::for_each_pointer(set->data3, [&](uint32_t, Cell* v) {
        walked++;
        EXPECT_TRUE(v->is(T_INTEGER));
    });
    EXPECT_EQ(walked, model.size());
}

TEST_F(HashTable, ClearEmptiesEveryKind) {
    MapTable m(4);
    m.put(integer(1), integer(2));
    ht::clear(m.table());
    EXPECT_EQ(m.cells(), 0u);
    Cell k = integer(1);
    EXPECT_EQ(ht::get(m.table(), &k, 0, 1, COMP_EQUAL, false, false), nullptr);
    m.put(integer(1), integer(3));
    EXPECT_EQ(ht::record(m.table())->live, 1);

    HashBlock h({integer(1), integer(1)});
    ht::clear(h.table());
    EXPECT_EQ(h.cells(), 0u);
    *buffer::alloc_tail_cell(h.block()) = integer(1);
    ht::put(h.table(), h.at(0));
    EXPECT_EQ(h.find(integer(1)), 0);
    EXPECT_EQ(ht::record(h.table())->live, 1);
}

TEST_F(HashTable, DumpListsDeletedThenLiveBuckets) {
    HashBlock h({integer(1), integer(2)});
    ht::delete_position(h.table(), 0);
    std::string d = ht::dump(h.table());
    size_t del = d.find("== Deleted keys =="), live = d.find("== Alive keys ==");
    ASSERT_NE(del, std::string::npos);
    ASSERT_NE(live, std::string::npos);
    EXPECT_EQ(d.rfind('\n', del), 0u);
    auto lines = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
    EXPECT_EQ(lines(d.substr(del, live - del)), 2);  // the title and one deleted bucket
    EXPECT_EQ(lines(d.substr(live)), 2);             // the title and one live bucket
}

}  // namespace
}  // namespace kov
