// Sorting speed: the runtime's quicksort and merge sort against std::sort and std::stable_sort on
// the same data, every comparison going through a function pointer on both sides.
//
//   bench_sort [records]      (default 1,000,000)
//
// Prints, for each input pattern and record kind, the best of three runs in milliseconds and the
// ratio runtime / standard library.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.hpp"
#include "core/sort.hpp"

namespace {

using kov::bench::best_ms;


// Comparison routines of the runtime's protocol.
int compare_int(const void* a, const void* b, intptr_t, intptr_t) {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
}

int compare_string(const void* a, const void* b, intptr_t, intptr_t) {
    const std::string* x;
    const std::string* y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x->compare(*y);
}

// The same orders for the standard library, called through pointers that the compiler cannot
// see through.
bool less_int(int32_t a, int32_t b) { return a < b; }
bool less_string(const std::string* a, const std::string* b) { return a->compare(*b) < 0; }
bool (*volatile less_int_ptr)(int32_t, int32_t) = less_int;
bool (*volatile less_string_ptr)(const std::string*, const std::string*) = less_string;
kov::buffer::SortCompare volatile compare_int_ptr = compare_int;
kov::buffer::SortCompare volatile compare_string_ptr = compare_string;

struct Pattern {
    const char* name;
    std::function<std::vector<int32_t>(size_t, std::mt19937&)> make;
};

std::vector<Pattern> patterns() {
    return {
        {"random", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (auto& x : k) x = int32_t(g());
             return k;
         }},
        {"few-unique", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (auto& x : k) x = int32_t(g() % 16);
             return k;
         }},
        {"sorted", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i);
             return k;
         }},
        {"reversed", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(n - i);
             return k;
         }},
        {"nearly-sorted", [](size_t n, std::mt19937& g) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i);
             for (size_t s = 0; s < n / 100; ++s) std::swap(k[g() % n], k[g() % n]);
             return k;
         }},
        {"sawtooth", [](size_t n, std::mt19937&) {
             std::vector<int32_t> k(n);
             for (size_t i = 0; i < n; ++i) k[i] = int32_t(i % 1000);
             return k;
         }},
    };
}

void row(const char* kind, const char* pattern, const char* ours, double t_ours, const char* theirs,
         double t_theirs) {
    std::printf("%-8s %-14s %-10s %9.1f ms   %-17s %9.1f ms   ratio %5.2f\n", kind, pattern, ours,
                t_ours, theirs, t_theirs, t_ours / t_theirs);
}

}  // namespace

int main(int argc, char** argv) {
    size_t n = argc > 1 ? size_t(std::strtoull(argv[1], nullptr, 10)) : 1000000;
    std::mt19937 rng(2024);
    std::printf("%zu records\n", n);

    for (const auto& pattern : patterns()) {
        std::vector<int32_t> keys = pattern.make(n, rng);

        // 4-byte integer records.
        std::vector<int32_t> work;
        auto q = best_ms([&] {
            work = keys;
            kov::buffer::quick_sort(work.data(), uint32_t(n), 4, 0, 0, compare_int_ptr);
        });
        if (!std::is_sorted(work.begin(), work.end())) std::printf("quick-sort FAILED\n");
        auto s = best_ms([&] {
            work = keys;
            auto less = less_int_ptr;
            std::sort(work.begin(), work.end(), less);
        });
        row("int", pattern.name, "quick-sort", q, "std::sort", s);
        auto m = best_ms([&] {
            work = keys;
            kov::buffer::merge_sort(work.data(), uint32_t(n), 4, 0, 0, compare_int_ptr);
        });
        if (!std::is_sorted(work.begin(), work.end())) std::printf("merge-sort FAILED\n");
        auto ss = best_ms([&] {
            work = keys;
            auto less = less_int_ptr;
            std::stable_sort(work.begin(), work.end(), less);
        });
        row("int", pattern.name, "merge-sort", m, "std::stable_sort", ss);

        // Short strings, as 8-byte records pointing to them.
        std::vector<std::string> texts(n);
        for (size_t i = 0; i < n; ++i) {
            uint32_t k = uint32_t(keys[i]);
            char buf[16];
            int len = std::snprintf(buf, sizeof buf, "s%010u", k);
            texts[i].assign(buf, size_t(len));
        }
        std::vector<const std::string*> refs(n), sref;
        for (size_t i = 0; i < n; ++i) refs[i] = &texts[i];
        auto qs = best_ms([&] {
            sref = refs;
            kov::buffer::quick_sort(sref.data(), uint32_t(n), 8, 0, 0, compare_string_ptr);
        });
        auto sorted_ok = [&] {
            return std::is_sorted(sref.begin(), sref.end(), [](auto a, auto b) { return *a < *b; });
        };
        if (!sorted_ok()) std::printf("quick-sort FAILED\n");
        auto st = best_ms([&] {
            sref = refs;
            auto less = less_string_ptr;
            std::sort(sref.begin(), sref.end(), less);
        });
        row("string", pattern.name, "quick-sort", qs, "std::sort", st);
        auto ms = best_ms([&] {
            sref = refs;
            kov::buffer::merge_sort(sref.data(), uint32_t(n), 8, 0, 0, compare_string_ptr);
        });
        if (!sorted_ok()) std::printf("merge-sort FAILED\n");
        auto sst = best_ms([&] {
            sref = refs;
            auto less = less_string_ptr;
            std::stable_sort(sref.begin(), sref.end(), less);
        });
        row("string", pattern.name, "merge-sort", ms, "std::stable_sort", sst);
    }
    return 0;
}
