// The generic sorters: order, stability, the comparison protocol, presorted input, record sizes
// and comparison routines that raise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/runtime.hpp"
#include "core/sort.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using buffer::merge_sort;
using buffer::quick_sort;

// ---- Records and comparison routines ----

// What a comparison routine is given as its first caller value.
struct Probe {
    int key_bytes = 4;      // the key: the first 1 or 4 bytes of a record (signed 32-bit when 4)
    int64_t calls = 0;      // comparisons so far
    int64_t throw_at = -1;  // raise on this comparison (0-based); -1 never
    bool descending = false;
};

int32_t key_of(const void* r, int key_bytes) {
    if (key_bytes == 1) return *static_cast<const uint8_t*>(r);
    int32_t k;
    std::memcpy(&k, r, 4);
    return k;
}

int compare_keys(const void* a, const void* b, intptr_t arg1, intptr_t arg2) {
    auto* probe = reinterpret_cast<Probe*>(arg1);
    EXPECT_EQ(arg2, 77);  // the second caller value reaches the routine unchanged
    if (probe->throw_at >= 0 && probe->calls == probe->throw_at) {
        ++probe->calls;
        throw Unwind{THROW_ERROR};
    }
    ++probe->calls;
    int32_t x = key_of(a, probe->key_bytes), y = key_of(b, probe->key_bytes);
    int c = x < y ? -1 : x > y ? 1 : 0;
    return probe->descending ? -c : c;
}

// n records of w bytes: record i holds keys[i] as its key and i in the bytes after the key
// (repeated), so that records with equal keys can be told apart when w leaves room.
struct Records {
    uint32_t w;
    int key_bytes;
    std::vector<uint8_t> bytes;

    Records(const std::vector<int32_t>& keys, uint32_t width)
        : w(width), key_bytes(width < 4 ? 1 : 4) {
        bytes.assign(keys.size() * w, 0);
        for (size_t i = 0; i < keys.size(); ++i) {
            uint8_t* r = at(i);
            if (key_bytes == 1) {
                r[0] = uint8_t(keys[i]);
            } else {
                std::memcpy(r, &keys[i], 4);
            }
            for (uint32_t b = uint32_t(key_bytes); b < w; ++b)
                r[b] = uint8_t(i >> (8 * ((b - key_bytes) % 4)));
        }
    }
    size_t n() const { return bytes.size() / w; }
    uint8_t* at(size_t i) { return bytes.data() + i * w; }
    std::string record(size_t i) const {
        return std::string(reinterpret_cast<const char*>(bytes.data()) + i * w, w);
    }
    std::vector<std::string> all() const {
        std::vector<std::string> v;
        for (size_t i = 0; i < n(); ++i) v.push_back(record(i));
        return v;
    }
    int32_t key(size_t i) const { return key_of(bytes.data() + i * w, key_bytes); }
};

std::vector<std::string> as_multiset(const Records& r) {
    auto v = r.all();
    std::sort(v.begin(), v.end());
    return v;
}

bool keys_sorted(const Records& r, bool descending = false) {
    for (size_t i = 1; i < r.n(); ++i) {
        if (!descending && r.key(i - 1) > r.key(i)) return false;
        if (descending && r.key(i - 1) < r.key(i)) return false;
    }
    return true;
}

// The records in the order a stable sort by key gives them.
std::vector<std::string> stable_expected(const Records& r, bool descending = false) {
    auto v = r.all();
    int kb = r.key_bytes;
    std::stable_sort(v.begin(), v.end(), [&](const std::string& a, const std::string& b) {
        int32_t x = key_of(a.data(), kb), y = key_of(b.data(), kb);
        return descending ? x > y : x < y;
    });
    return v;
}

using Sorter = void (*)(void*, uint32_t, uint32_t, intptr_t, intptr_t, buffer::SortCompare);

int64_t run_sort(Sorter sort, Records& r, Probe& probe) {
    probe.key_bytes = r.key_bytes;
    probe.calls = 0;
    sort(r.bytes.data(), uint32_t(r.n()), r.w, reinterpret_cast<intptr_t>(&probe), 77,
         compare_keys);
    return probe.calls;
}

// ---- Input patterns ----

struct Pattern {
    const char* name;
    std::function<std::vector<int32_t>(size_t n, std::mt19937& rng)> make;
};

std::vector<Pattern> patterns() {
    return {
        {"random-wide", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (auto& x : k) x = int32_t(g() & 0x7FFFFFF) - 0x4000000;
             return k;
         }},
        {"random-few-keys", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (auto& x : k) x = int32_t(g() % 5);
             return k;
         }},
        {"all-equal", [](size_t n, std::mt19937&) { return std::vector<int32_t>(n, 42); }},
        {"ascending", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i / 3);
             return k;
         }},
        {"strictly-descending", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(n - i);
             return k;
         }},
        {"descending-with-ties", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t((n - i) / 4);
             return k;
         }},
        {"sawtooth", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i % 37);
             return k;
         }},
        {"organ-pipe", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i < n / 2 ? i : n - i);
             return k;
         }},
        {"ascending-with-noise", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i);
             for (size_t s = 0; s < n / 50 + 1 && n > 1; ++s) std::swap(k[g() % n], k[g() % n]);
             return k;
         }},
        {"descending-with-noise", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(n - i);
             for (size_t s = 0; s < n / 50 + 1 && n > 1; ++s) std::swap(k[g() % n], k[g() % n]);
             return k;
         }},
        {"sorted-prefix-random-tail", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i)
                 k[i] = i < n * 9 / 10 ? int32_t(i) : int32_t(g() % (n + 1));
             return k;
         }},
        {"random-prefix-sorted-tail", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = i < n / 10 ? int32_t(g() % (n + 1)) : int32_t(i);
             return k;
         }},
        {"interleaved-runs", [](size_t n, std::mt19937&) {
             // Two ascending sequences, one on even and one on odd positions.
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i % 2 ? i / 2 : n / 2 + i / 2);
             return k;
         }},
        {"ascending-runs-of-30", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             int32_t base = 0;
             for (size_t i = 0; i < n; ++i) {
                 if (i % 30 == 0) base = int32_t(g() % 1000);
                 k[i] = base + int32_t(i % 30);
             }
             return k;
         }},
    };
}

const size_t kSizes[] = {0,  1,  2,  3,  5,   7,   8,   9,   16,  23,   24,
                         25, 48, 63, 64, 100, 255, 511, 512, 513, 1000, 4099};

// ---- Properties over every pattern, size and record width ----

TEST(Sort, MergeSortMatchesStableSortOnEveryPattern) {
    std::mt19937 rng(1234);
    for (uint32_t w : {2u, 3u, 8u, 12u, 16u, 20u, 33u}) {
        for (const auto& pattern : patterns()) {
            for (size_t n : kSizes) {
                auto keys = pattern.make(n, rng);
                if (w < 4)
                    for (auto& k : keys) k &= 0x7F;
                Records r(keys, w);
                auto expected = stable_expected(r);
                Probe probe;
                run_sort(merge_sort, r, probe);
                ASSERT_EQ(r.all(), expected) << pattern.name << " n=" << n << " w=" << w;
            }
        }
    }
}

TEST(Sort, QuickSortSortsAndPermutesOnEveryPattern) {
    std::mt19937 rng(99);
    for (uint32_t w : {1u, 2u, 3u, 4u, 8u, 12u, 16u, 20u, 33u}) {
        for (const auto& pattern : patterns()) {
            for (size_t n : kSizes) {
                auto keys = pattern.make(n, rng);
                if (w < 4)
                    for (auto& k : keys) k &= 0x7F;
                Records r(keys, w);
                auto before = as_multiset(r);
                Probe probe;
                run_sort(quick_sort, r, probe);
                ASSERT_TRUE(keys_sorted(r)) << pattern.name << " n=" << n << " w=" << w;
                ASSERT_EQ(as_multiset(r), before) << pattern.name << " n=" << n << " w=" << w;
            }
        }
    }
}

// Sizes that reach the quicksort's sampling rounds (a sample of 63, then 1,007, then 16,111
// records) and long natural runs in the merge sort. Records are {key, position} pairs.
struct Keyed {
    int32_t key;
    uint32_t id;
    bool operator==(const Keyed&) const = default;
};
static_assert(sizeof(Keyed) == 8);

uint64_t packed(const Keyed& k) { return (uint64_t(uint32_t(k.key) ^ 0x80000000u) << 32) | k.id; }

TEST(Sort, LargeInputsSortCorrectly) {
    std::mt19937 rng(7);
    for (size_t n : {20000u, 70000u, 300000u}) {
        for (const auto& pattern : patterns()) {
            auto keys = pattern.make(n, rng);
            std::vector<Keyed> in(n);
            for (size_t i = 0; i < n; ++i) in[i] = {keys[i], uint32_t(i)};
            std::vector<Keyed> expected = in;
            std::stable_sort(expected.begin(), expected.end(),
                             [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
            Probe probe;
            probe.key_bytes = 4;

            std::vector<Keyed> q = in;
            quick_sort(q.data(), uint32_t(n), 8, reinterpret_cast<intptr_t>(&probe), 77,
                       compare_keys);
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(q[i].key, expected[i].key) << pattern.name << " n=" << n;
            std::vector<uint64_t> got(n), want(n);
            for (size_t i = 0; i < n; ++i) {
                got[i] = packed(q[i]);
                want[i] = packed(in[i]);
            }
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
            ASSERT_EQ(got, want) << pattern.name << " n=" << n;

            std::vector<Keyed> m = in;
            merge_sort(m.data(), uint32_t(n), 8, reinterpret_cast<intptr_t>(&probe), 77,
                       compare_keys);
            ASSERT_EQ(m, expected) << pattern.name << " n=" << n;
        }
    }
}

// Keys made of runs of every kind: ascending, descending and random stretches of random lengths,
// with ties, a few records moved, and now and then the whole array sorted or reversed. This
// reaches the quicksort's prefix growth (stretches absorbed with trimmed junctions) and sampled
// pivots, and the merge sort's run reversal and extension.
int compare_keyed(const void* a, const void* b, intptr_t, intptr_t) {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return x < y ? -1 : x > y;
}

std::vector<int32_t> runs_of_every_kind(std::mt19937& rng, size_t n) {
    std::vector<int32_t> v;
    int ties = 1 + int(rng() % 4);
    int32_t keys = 1 + int32_t(rng() % (rng() % 4 == 0 ? 5 : 100000));
    while (v.size() < n) {
        size_t len = 1 + rng() % (1 + rng() % 300);
        int32_t base = int32_t(rng() % uint32_t(keys));
        int kind = int(rng() % 3);  // ascending, descending, random
        for (size_t k = 0; k < len && v.size() < n; ++k) {
            int32_t step = int32_t(k) / ties;
            v.push_back(kind == 0   ? base + step
                        : kind == 1 ? base - step
                                    : int32_t(rng() % uint32_t(keys)));
        }
        if (rng() % 3 == 0) std::swap(v[rng() % v.size()], v[rng() % v.size()]);
    }
    if (rng() % 3 == 0) std::sort(v.begin(), v.end());
    if (rng() % 5 == 0) std::reverse(v.begin(), v.end());
    for (int t = int(rng() % 4); t > 0 && n > 1; --t) std::swap(v[rng() % n], v[rng() % n]);
    return v;
}

TEST(Sort, InputMadeOfRunsOfEveryKind) {
    std::mt19937 rng(77);
    for (int iter = 0; iter < 3000; ++iter) {
        size_t n = rng() % (iter % 10 == 0 ? 20000 : 1500);
        std::vector<int32_t> keys = runs_of_every_kind(rng, n);
        std::vector<Keyed> in(n);
        for (size_t i = 0; i < n; ++i) in[i] = {keys[i], uint32_t(i)};
        std::vector<Keyed> stable = in;
        std::stable_sort(stable.begin(), stable.end(),
                         [](const Keyed& a, const Keyed& b) { return a.key < b.key; });

        std::vector<Keyed> m = in;
        buffer::merge_sort(m.data(), uint32_t(n), 8, 0, 0, compare_keyed);
        ASSERT_EQ(m, stable) << "iteration " << iter << " n=" << n;

        std::vector<Keyed> q = in;
        buffer::quick_sort(q.data(), uint32_t(n), 8, 0, 0, compare_keyed);
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(q[i].key, stable[i].key) << "iteration " << iter << " n=" << n;
        auto by_id = [](const Keyed& a, const Keyed& b) { return a.id < b.id; };
        std::sort(q.begin(), q.end(), by_id);
        ASSERT_EQ(q, in) << "iteration " << iter << ": not a permutation";
    }
}

TEST(Sort, ReversedComparisonSortsDescendingAndStaysStable) {
    std::mt19937 rng(5);
    for (size_t n : {10u, 100u, 3000u}) {
        std::vector<int32_t> keys(n);
        for (auto& k : keys) k = int32_t(rng() % 20);
        Records q(keys, 8), m(keys, 8);
        auto expected = stable_expected(m, true);
        Probe probe;
        probe.descending = true;
        run_sort(quick_sort, q, probe);
        EXPECT_TRUE(keys_sorted(q, true));
        run_sort(merge_sort, m, probe);
        EXPECT_EQ(m.all(), expected);
    }
}

// ---- Comparison counts and presorted input ----

TEST(Sort, ZeroAndOneRecordNeverCompare) {
    for (Sorter sort : {Sorter(quick_sort), Sorter(merge_sort)}) {
        for (size_t n : {0u, 1u}) {
            Records r(std::vector<int32_t>(n, 5), 8);
            Probe probe;
            EXPECT_EQ(run_sort(sort, r, probe), 0);
        }
    }
}

TEST(Sort, PresortedInputTakesOneComparisonPerNeighbour) {
    const size_t n = 5000;
    std::vector<int32_t> asc(n), desc(n), same(n, 3);
    for (size_t i = 0; i < n; ++i) {
        asc[i] = int32_t(i / 2);  // ties included
        desc[i] = int32_t(n - i);
    }
    for (Sorter sort : {Sorter(quick_sort), Sorter(merge_sort)}) {
        Records a(asc, 8), before_a = a;
        Probe probe;
        EXPECT_EQ(run_sort(sort, a, probe), int64_t(n - 1));
        EXPECT_EQ(a.all(), before_a.all());  // left unchanged, equal records included

        Records d(desc, 8), before_d = d;
        EXPECT_EQ(run_sort(sort, d, probe), int64_t(n - 1));  // one run, reversed
        auto reversed = before_d.all();
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(d.all(), reversed);

        Records s(same, 8), before_s = s;
        EXPECT_EQ(run_sort(sort, s, probe), int64_t(n - 1));
        EXPECT_EQ(s.all(), before_s.all());
    }
}

TEST(Sort, NearlySortedInputStaysCloseToLinear) {
    const size_t n = 200000;
    std::mt19937 rng(3);
    std::vector<int32_t> keys(n);
    for (size_t i = 0; i < n; ++i) keys[i] = int32_t(i);
    for (int s = 0; s < 20; ++s) std::swap(keys[rng() % n], keys[rng() % n]);
    for (Sorter sort : {Sorter(quick_sort), Sorter(merge_sort)}) {
        Records r(keys, 4);
        Probe probe;
        int64_t calls = run_sort(sort, r, probe);
        EXPECT_TRUE(keys_sorted(r));
        // A full sort of random input would take about n log2 n = 3.5 million comparisons.
        EXPECT_LT(calls, int64_t(8 * n));
    }
}

// ---- Order of equal records ----

TEST(Sort, EqualRecordsInMixedOrder) {
    // Keys 2 1 1 0 with payloads a b c d: the whole input is one non-ascending run.
    std::vector<int32_t> keys = {2, 1, 1, 0};
    Records q(keys, 8), m(keys, 8);
    auto in = q.all();
    Probe probe;
    // Merge sort: the strictly descending run is 2 1 only; equal records keep their order.
    run_sort(merge_sort, m, probe);
    EXPECT_EQ(m.all(), (std::vector<std::string>{in[3], in[1], in[2], in[0]}));
    // Quicksort: the descending prefix takes the ties in and is reversed as a whole.
    run_sort(quick_sort, q, probe);
    EXPECT_EQ(q.all(), (std::vector<std::string>{in[3], in[2], in[1], in[0]}));
}

int compare_folded(const void* a, const void* b, intptr_t, intptr_t) {
    auto fold = [](const void* p) { return std::tolower(*static_cast<const unsigned char*>(p)); };
    return fold(a) - fold(b);
}

TEST(Sort, StableSortOfUnitsComparedWithoutCase) {
    std::string text = "bBaAcCaBqQqzZbA";
    std::string expected = text;
    std::stable_sort(expected.begin(), expected.end(),
                     [](char x, char y) { return std::tolower(x) < std::tolower(y); });
    std::string m = text;
    merge_sort(m.data(), uint32_t(m.size()), 1, 0, 0, compare_folded);
    EXPECT_EQ(m, expected);
    EXPECT_EQ(m, "aAaAbBBbcCqQqzZ");

    std::string q = text;
    quick_sort(q.data(), uint32_t(q.size()), 1, 0, 0, compare_folded);
    std::string folded_q, folded_e;
    for (char c : q) folded_q += char(std::tolower(c));
    for (char c : expected) folded_e += char(std::tolower(c));
    EXPECT_EQ(folded_q, folded_e);
    std::string sq = q, st = text;
    std::sort(sq.begin(), sq.end());
    std::sort(st.begin(), st.end());
    EXPECT_EQ(sq, st);
}

TEST(Sort, QuickSortIsDeterministic) {
    std::mt19937 rng(11);
    std::vector<int32_t> keys(20000);
    for (auto& k : keys) k = int32_t(rng() % 50);
    Records a(keys, 8), b(keys, 8);
    Probe probe;
    int64_t ca = run_sort(quick_sort, a, probe);
    int64_t cb = run_sort(quick_sort, b, probe);
    EXPECT_EQ(a.all(), b.all());
    EXPECT_EQ(ca, cb);
}

// ---- The building blocks ----

TEST(Sort, SwapRecordsWordWiseAndByteWise) {
    for (uint32_t w : {1u, 3u, 4u, 7u, 8u, 13u, 16u, 32u}) {
        for (bool byte_wise : {false, true}) {
            if (!byte_wise && w % 4 != 0) continue;
            std::vector<uint8_t> a(w), b(w);
            for (uint32_t i = 0; i < w; ++i) {
                a[i] = uint8_t(i + 1);
                b[i] = uint8_t(200 - i);
            }
            auto a0 = a, b0 = b;
            buffer::swap_records(a.data(), b.data(), w, byte_wise);
            EXPECT_EQ(a, b0) << w;
            EXPECT_EQ(b, a0) << w;
        }
    }
}

// swap_records exchanges every one of the bytes it is given, whatever their count: four at a
// time as far as they go, and the rest one by one, so that a record is never left half swapped.
TEST(Sort, SwapRecordsExchangesEveryByte) {
    for (uint32_t bytes = 0; bytes <= 19; ++bytes) {
        for (bool byte_wise : {false, true}) {
            std::vector<uint8_t> a(bytes + 4, 0xEE), b(bytes + 4, 0xDD);
            for (uint32_t i = 0; i < bytes; ++i) {
                a[i] = uint8_t(i + 1);
                b[i] = uint8_t(100 + i);
            }
            std::vector<uint8_t> want_a = b, want_b = a;
            for (uint32_t i = bytes; i < bytes + 4; ++i) {  // the bytes after stay untouched
                want_a[i] = 0xEE;
                want_b[i] = 0xDD;
            }
            buffer::swap_records(a.data(), b.data(), bytes, byte_wise);
            EXPECT_EQ(a, want_a) << bytes << " byte-wise " << byte_wise;
            EXPECT_EQ(b, want_b) << bytes << " byte-wise " << byte_wise;
        }
    }
}

TEST(Sort, FindRunStopsAtTheFirstOutOfOrderPair) {
    struct Case {
        std::vector<int32_t> keys;
        size_t run;
        std::vector<int32_t> after;  // the keys of the run afterwards
    };
    const Case cases[] = {
        {{1, 2, 2, 3, 1, 5}, 4, {1, 2, 2, 3}},
        {{5, 4, 3, 3, 1}, 3, {3, 4, 5}},  // strictly descending only: the tie ends it
        {{5, 4, 3, 2, 1}, 5, {1, 2, 3, 4, 5}},
        {{7}, 1, {7}},
        {{2, 2, 2}, 3, {2, 2, 2}},
        {{3, 1}, 2, {1, 3}},
    };
    for (const auto& c : cases) {
        Records r(c.keys, 4);
        Probe probe;
        uint8_t* end = buffer::find_run(r.at(0), r.at(0) + r.bytes.size(), 4,
                                        reinterpret_cast<intptr_t>(&probe), 77, compare_keys);
        ASSERT_EQ(size_t(end - r.at(0)) / 4, c.run);
        for (size_t i = 0; i < c.run; ++i) EXPECT_EQ(r.key(i), c.after[i]);
    }
}

TEST(Sort, MergeRunsTakesTheLeftRecordOnTies) {
    // Left shorter (merged from the front) and right shorter (from the back).
    for (auto split : {std::pair<std::vector<int32_t>, size_t>{{1, 3, 3, 0, 1, 3, 3, 4, 5}, 3},
                       std::pair<std::vector<int32_t>, size_t>{{0, 1, 1, 3, 3, 4, 1, 3, 5}, 6}}) {
        Records r(split.first, 8);
        auto expected = stable_expected(r);
        std::vector<uint8_t> temp(8 * 9);
        Probe probe;
        probe.key_bytes = 4;
        uint32_t n1 = uint32_t(split.second), n2 = uint32_t(r.n() - split.second);
        buffer::merge_runs(r.at(0), n1, n2, 8, temp.data(), reinterpret_cast<intptr_t>(&probe), 77,
                           compare_keys);
        EXPECT_EQ(r.all(), expected);
    }
}

TEST(Sort, QuickSortCoreUsesTheAnnouncedSortedFront) {
    std::mt19937 rng(17);
    for (size_t n : {10u, 300u, 5000u, 40000u}) {
        for (size_t h : {size_t(0), size_t(3), n / 3, n / 2, n - 1, n}) {
            std::vector<int32_t> keys(n);
            for (auto& k : keys) k = int32_t(rng() % 1000);
            std::sort(keys.begin(), keys.begin() + ptrdiff_t(h));
            Records r(keys, 8);
            auto before = as_multiset(r);
            Probe probe;
            buffer::quick_sort_core(r.bytes.data(), uint32_t(n), 8,
                                    reinterpret_cast<intptr_t>(&probe), 77, compare_keys,
                                    uint32_t(h));
            ASSERT_TRUE(keys_sorted(r)) << n << " " << h;
            ASSERT_EQ(as_multiset(r), before);
        }
    }
}

// A comparison routine that answers at random (not a consistent order): the sorters must stay
// within the records and keep them a permutation.
int compare_randomly(const void*, const void*, intptr_t arg1, intptr_t) {
    auto* g = reinterpret_cast<std::mt19937*>(arg1);
    return int((*g)() % 3) - 1;
}

TEST(Sort, InconsistentComparisonKeepsAPermutation) {
    std::mt19937 g(8);
    for (Sorter sort : {Sorter(quick_sort), Sorter(merge_sort)}) {
        for (size_t n : {2u, 9u, 100u, 700u, 20000u}) {
            for (uint32_t w : {3u, 8u}) {
                std::vector<int32_t> keys(n);
                for (size_t i = 0; i < n; ++i) keys[i] = int32_t(i & 0x7F);
                Records r(keys, w);
                auto before = as_multiset(r);
                sort(r.bytes.data(), uint32_t(n), w, reinterpret_cast<intptr_t>(&g), 0,
                     compare_randomly);
                ASSERT_EQ(as_multiset(r), before) << n;
            }
        }
    }
}

// ---- Comparison routines that raise ----

class SortUnwind : public testing::RuntimeTest {};

// Raises at each comparison in turn: the records stay a permutation of the input and the merge
// buffer is freed.
TEST_F(SortUnwind, RaisingComparisonLeavesAPermutationAndFreesTheBuffer) {
    std::mt19937 rng(21);
    for (Sorter sort : {Sorter(quick_sort), Sorter(merge_sort)}) {
        for (uint32_t w : {3u, 4u, 8u, 12u, 16u, 20u}) {
            for (const auto& pattern : patterns()) {
                for (size_t n : {9u, 60u, 700u}) {
                    auto keys = pattern.make(n, rng);
                    if (w < 4)
                        for (auto& k : keys) k &= 0x7F;
                    Records original(keys, w);
                    Records full = original;
                    Probe probe;
                    int64_t total = run_sort(sort, full, probe);
                    auto before = as_multiset(original);
                    int64_t step = std::max<int64_t>(1, total / 40);
                    for (int64_t at = 0; at < total; at += step) {
                        Records r = original;
                        Probe p;
                        p.throw_at = at;
                        size_t heap = runtime::tracked_bytes();
                        bool raised = false;
                        try {
                            run_sort(sort, r, p);
                        } catch (const Unwind& u) {
                            raised = true;
                            EXPECT_EQ(u.code, THROW_ERROR);
                        }
                        ASSERT_TRUE(raised);
                        ASSERT_EQ(runtime::tracked_bytes(), heap);
                        ASSERT_EQ(as_multiset(r), before)
                            << pattern.name << " n=" << n << " w=" << w << " at=" << at;
                    }
                }
            }
        }
    }
}

TEST_F(SortUnwind, MergeBufferTooLongIsAnError) {
    // (n / 2) x w = 2^31 bytes does not fit in 31 bits; nothing is read before the check.
    uint8_t dummy[16] = {};
    Probe probe;
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([&] {
        merge_sort(dummy, 1u << 20, 1u << 12, reinterpret_cast<intptr_t>(&probe), 77, compare_keys);
    });
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "too-long");
    EXPECT_EQ(probe.calls, 0);
}

}  // namespace
}  // namespace kov
