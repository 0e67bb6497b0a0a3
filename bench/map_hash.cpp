// map! and hash! against std::unordered_map doing the same work: 1,000,000 puts and then
// 1,000,000 selects of string keys in a map!, appending 1,000,000 integers to a hash!, and
// 1,000,000 finds in that hash! of 1,000,000 integers. Prints the milliseconds of each side and
// the ratio Kov / std.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/boot.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"

namespace {

using namespace kov;
using Clock = std::chrono::steady_clock;

template <class F> double ms(F&& run) {
    auto t0 = Clock::now();
    run();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void report(const char* what, double kov_ms, double std_ms) {
    std::printf("%-40s kov %9.1f ms  std %9.1f ms  ratio %6.2f\n", what, kov_ms, std_ms, kov_ms / std_ms);
}

constexpr int32_t N = 1'000'000;

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;

    std::vector<std::string> names(N);
    for (int32_t i = 0; i < N; i++) names[size_t(i)] = "key-" + std::to_string(int64_t(i) * 7919);
    {
        // The key strings are made beforehand on both sides and held in a block.
        collector::Root keys, m;
        block::make_at(keys.get(), N);
        for (const std::string& s : names) {
            collector::Root str;
            string::make_at(str.get(), uint32_t(s.size()));
            string::concatenate_cstring(str.get(), s);
            block::append_value(keys.get(), str.get());
        }
        map::make_at(0, m.get(), 2);
        std::unordered_map<std::string, int32_t> um;
        collector::Root key;
        double tk = ms([&] {
            for (int32_t i = 0; i < N; i++) {
                key.cell = *block::ks_abs_at(keys.get(), uint32_t(i));
                Cell v = cells::make_integer(i);
                map::put_pair(m.get(), key.get(), &v, false);
            }
        });
        double ts = ms([&] {
            for (int32_t i = 0; i < N; i++) um[names[size_t(i)]] = i;
        });
        report("map! put 1,000,000 string keys", tk, ts);
        int64_t sum_k = 0, sum_s = 0;
        tk = ms([&] {
            for (int32_t i = N - 1; i >= 0; i--) {
                Cell k = *block::ks_abs_at(keys.get(), uint32_t(i));
                sum_k += map::value_of(m.get(), &k, COMP_EQUAL)->get_int();
            }
        });
        ts = ms([&] {
            for (int32_t i = N - 1; i >= 0; i--) sum_s += um.find(names[size_t(i)])->second;
        });
        report("map! select 1,000,000 string keys", tk, ts);
        if (sum_k != sum_s) std::printf("mismatch %lld %lld\n", (long long)sum_k, (long long)sum_s);
    }
    {
        std::vector<int32_t> data(N);
        std::mt19937 rng(42);
        for (auto& x : data) x = int32_t(rng() % 1'000'000'000);
        const ActionTable& b = type_registry::table(T_HASH);
        collector::Root h;
        block::make_at(h.get(), 1);
        hash::make_at(h->data2, h.get(), 1);
        std::unordered_map<int32_t, int32_t> um;
        double tk = ms([&] {
            for (int32_t x : data) {
                Cell c = cells::make_integer(x);
                b.append(h.get(), &c, -1, false, 1);
            }
        });
        double ts = ms([&] {
            int32_t i = 0;
            for (int32_t x : data) um.emplace(x, i++);
        });
        report("hash! append 1,000,000 integers", tk, ts);
        int64_t sum_k = 0, sum_s = 0;
        tk = ms([&] {
            for (int32_t i = N - 1; i >= 0; i--) {
                Cell c = cells::make_integer(data[size_t(i)]);
                sum_k += int64_t(b.find(h.get(), &c, FindArgs{})->data1);
            }
        });
        ts = ms([&] {
            for (int32_t i = N - 1; i >= 0; i--) sum_s += um.find(data[size_t(i)])->second;
        });
        report("hash! find in 1,000,000 integers", tk, ts);
        (void)sum_s;
        std::printf("(checksums %lld %lld: duplicates answer their first position on both sides)\n",
                    (long long)sum_k, (long long)sum_s);
    }
    return 0;
}
