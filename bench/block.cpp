// Block actions against std::vector doing the same work: appending 10,000,000 integers, inserting
// 100,000 times at the head, finding an absent integer in 1,000,000 (against a scan through the
// comparison routine and against std::find on plain integers), sorting 1,000,000 integers and
// 1,000,000 strings. Prints the milliseconds of each side and the ratio block / vector.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"

namespace {

using namespace kov;
using Clock = std::chrono::steady_clock;

template <class F> double ms(F&& run) {
    auto t0 = Clock::now();
    run();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

int32_t compare_integer(const Cell* a, const Cell* b, int32_t) {
    if (!b->is(T_INTEGER)) return NOT_COMPARABLE;
    return a->get_int() < b->get_int() ? -1 : a->get_int() > b->get_int();
}

void report(const char* what, double block_ms, double vector_ms) {
    std::printf("%-34s block %9.1f ms  vector %9.1f ms  ratio %6.2f\n", what, block_ms, vector_ms,
                block_ms / vector_ms);
}

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;
    // integer! comparison, until the integer! datatype registers its own.
    if (!type_registry::tables[T_INTEGER].compare) type_registry::tables[T_INTEGER].compare = compare_integer;
    const ActionTable& b = type_registry::table(T_BLOCK);

    {
        collector::Root blk;
        block::make_at(blk.get(), 1);
        std::vector<Cell> v;
        double tb = ms([&] {
            for (int32_t i = 0; i < 10'000'000; i++) {
                Cell c = cells::make_integer(i);
                b.append(blk.get(), &c, -1, false, 1);
            }
        });
        double tv = ms([&] {
            for (int32_t i = 0; i < 10'000'000; i++) v.push_back(cells::make_integer(i));
        });
        report("append 10,000,000 integers", tb, tv);
    }
    {
        collector::Root blk;
        block::make_at(blk.get(), 1);
        std::vector<Cell> v;
        double tb = ms([&] {
            for (int32_t i = 0; i < 100'000; i++) {
                Cell c = cells::make_integer(i);
                b.insert(blk.get(), &c, -1, false, 1);
            }
        });
        double tv = ms([&] {
            for (int32_t i = 0; i < 100'000; i++) v.insert(v.begin(), cells::make_integer(i));
        });
        report("insert at the head 100,000 times", tb, tv);
    }
    std::vector<int32_t> data(1'000'000);
    std::mt19937 rng(42);
    for (auto& x : data) x = int32_t(rng() % 1'000'000'000);
    {
        collector::Root blk;
        block::make_at(blk.get(), int32_t(data.size()));
        std::vector<Cell> v;
        for (int32_t x : data) {
            Cell c = cells::make_integer(x);
            b.append(blk.get(), &c, -1, false, 1);
            v.push_back(c);
        }
        Cell key = cells::make_integer(-1);  // absent: a full scan
        double tb = ms([&] { b.find(blk.get(), &key, FindArgs{}); });
        double tv = ms([&] {
            volatile bool found = std::find_if(v.begin(), v.end(), [&](const Cell& c) {
                return compare_integer(&key, &c, COMP_FIND) == 0;
            }) != v.end();
            (void)found;
        });
        report("find in 1,000,000 integers", tb, tv);
        double tf = ms([&] {
            volatile bool found = std::find(data.begin(), data.end(), -1) != data.end();
            (void)found;
        });
        report("  the same against std::find", tb, tf);
        std::vector<int32_t> w = data;
        double ts = ms([&] { b.sort(blk.get(), false, nullptr, nullptr, nullptr, false, false, false); });
        double tw = ms([&] { std::sort(w.begin(), w.end()); });
        report("sort 1,000,000 integers", ts, tw);
    }
    {
        // Strings of ten digits after a letter, in random order; both sides sort by content.
        std::vector<std::string> words(data.size());
        for (size_t i = 0; i < data.size(); i++) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "s%010d", data[i]);
            words[i] = buf;
        }
        collector::Root blk, str;
        block::make_at(blk.get(), int32_t(words.size()));
        for (const std::string& w : words) {
            string::make_at(str.get(), uint32_t(w.size()));
            string::concatenate_cstring(str.get(), w);
            b.append(blk.get(), str.get(), -1, false, 1);
        }
        double ts = ms([&] { b.sort(blk.get(), false, nullptr, nullptr, nullptr, false, false, false); });
        double tw = ms([&] { std::sort(words.begin(), words.end()); });
        report("sort 1,000,000 strings", ts, tw);
    }
    return 0;
}
