// The sorters' building blocks and their results on input made of runs of every kind, checked
// against what each routine is meant to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "core/sort.hpp"

namespace kov {
namespace {

// swap_records exchanges every one of the bytes it is given, whatever their count: four at a
// time as far as they go, and the rest one by one, so that a record is never left half swapped.
TEST(SortAudit, SwapRecordsExchangesEveryByte) {
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

// Keys made of runs of every kind: ascending, descending and random stretches of random lengths,
// with ties, a few records moved, and now and then the whole array sorted or reversed. This
// reaches the quicksort's prefix growth (stretches absorbed with trimmed junctions) and sampled
// pivots, and the merge sort's run reversal and extension.
struct Keyed {
    int32_t key;
    uint32_t id;
    bool operator==(const Keyed&) const = default;
};

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

TEST(SortAudit, InputMadeOfRunsOfEveryKind) {
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

}  // namespace
}  // namespace kov
