// Symbol interning against std::unordered_map<std::string, int> doing the same work:
// 1,000,000 distinct spellings interned then looked up again, and 10,000,000 lookups of 1,000
// hot spellings. Each case runs several rounds (the symbol table afresh each round, the two
// sides alternating) and the best time of each side is kept. Prints the times and the ratio
// (symbol table / baseline; below 1 is faster).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/symbol.hpp"

using namespace kov;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A fresh runtime with the symbol table and the global context, the collector on.
void fresh_runtime() {
    symbol::table = 0;
    context::global = 0;
    boot::restart_for_tests();
    if (!context::global) context::init_global();
    if (!symbol::table) symbol::init_table();
    boot::booting = false;
    collector::state.enabled = true;
}

struct Best {
    double sym = 1e9, map = 1e9;
    void print(const char* name) const {
        std::printf("%-34s %10.3f %10.3f %8.2f\n", name, sym, map, sym / map);
    }
};

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();

    const int distinct = 1000000, hot = 1000, hot_lookups = 10000000, rounds = 5;
    std::vector<std::string> words;
    words.reserve(distinct);
    for (int i = 0; i < distinct; i++) words.push_back("word-" + std::to_string(int64_t(i) * 7919 % 1000003) + "-x");

    Best intern, lookup, hot_case;
    uint64_t check_sym = 0, check_map = 0;
    for (int round = 0; round < rounds; round++) {
        fresh_runtime();
        uint32_t base = symbol::count();
        auto t = Clock::now();
        for (const std::string& w : words) check_sym += symbol::make(w) - base;
        intern.sym = std::min(intern.sym, seconds_since(t));
        t = Clock::now();
        for (const std::string& w : words) check_sym += symbol::make(w) - base;
        lookup.sym = std::min(lookup.sym, seconds_since(t));
        t = Clock::now();
        for (int i = 0; i < hot_lookups; i++) check_sym += symbol::make(words[size_t(i % hot)]) - base;
        hot_case.sym = std::min(hot_case.sym, seconds_since(t));

        std::unordered_map<std::string, int> map;
        int next = 1;
        t = Clock::now();
        for (const std::string& w : words) {
            auto [it, fresh] = map.try_emplace(w, next);
            if (fresh) next++;
            check_map += uint64_t(it->second);
        }
        intern.map = std::min(intern.map, seconds_since(t));
        t = Clock::now();
        for (const std::string& w : words) check_map += uint64_t(map.find(w)->second);
        lookup.map = std::min(lookup.map, seconds_since(t));
        t = Clock::now();
        for (int i = 0; i < hot_lookups; i++) check_map += uint64_t(map.find(words[size_t(i % hot)])->second);
        hot_case.map = std::min(hot_case.map, seconds_since(t));
    }

    std::printf("symbols: %u in the table; both sides agree: %s\n", symbol::count(),
                check_sym == check_map ? "yes" : "no");
    std::printf("%-34s %10s %10s %8s\n", "best of 5 rounds", "symbols s", "map s", "ratio");
    intern.print("intern 1,000,000 distinct");
    lookup.print("look up 1,000,000 again");
    hot_case.print("10,000,000 lookups of 1,000 hot");
    return 0;
}
