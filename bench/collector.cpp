// Allocation and collection: 10,000,000 short-lived blocks and strings while 1,000,000 values
// stay live, against the same work done with malloc'd C++ objects; then the time of one full
// collection against the live size.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"

using namespace kov;
using Clock = std::chrono::steady_clock;

static double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

static uint32_t rng = 12345;
static uint32_t next_rand() {
    rng = rng * 1664525u + 1013904223u;
    return rng >> 8;
}

int main() {
    constexpr uint32_t LIVE = 1000000;
    constexpr uint32_t SHORT_LIVED = 10000000;
    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;

    // Kov: a rooted block of 1,000,000 live values, half strings and half small blocks.
    auto t0 = Clock::now();
    collector::Root live(Cell{T_BLOCK, 0, memory::make_cells(LIVE), 0});
    for (uint32_t i = 0; i < LIVE; i++) {
        collector::Root v;
        if (i & 1) {
            string::make_at(v.get(), 8);
            string::concatenate_cstring(v.get(), "live", 4);
        } else {
            v.cell = Cell{T_BLOCK, 0, memory::make_cells(2), 0};
        }
        *buffer::alloc_block_tail(live.get()) = v.cell;
    }
    uint32_t cycles_before = collector::state.cycles;
    uint64_t ns_before = collector::state.total_ns;
    for (uint32_t i = 0; i < SHORT_LIVED; i++) {
        collector::Root v;
        if (i & 1) {
            string::make_at(v.get(), 8);
            string::concatenate_cstring(v.get(), "tmp", 3);
        } else {
            v.cell = Cell{T_BLOCK, 0, memory::make_cells(2), 0};
        }
        if ((i & 1023) == 0) {  // now and then a short-lived value replaces a live one
            Cell* cells = memory::buffer_of(live->data2)->head_cell();
            cells[next_rand() % LIVE] = v.cell;
        }
    }
    double kov_seconds = seconds_since(t0);
    uint32_t collections = collector::state.cycles - cycles_before;
    double gc_seconds = double(collector::state.total_ns - ns_before) / 1e9;

    // Baseline: the same shape with malloc'd C++ objects.
    auto t1 = Clock::now();
    {
        std::vector<std::unique_ptr<std::string>> strings(LIVE / 2);
        std::vector<std::unique_ptr<std::vector<Cell>>> blocks(LIVE / 2);
        for (uint32_t i = 0; i < LIVE / 2; i++) {
            strings[i] = std::make_unique<std::string>("live");
            blocks[i] = std::make_unique<std::vector<Cell>>(2);
        }
        for (uint32_t i = 0; i < SHORT_LIVED; i++) {
            if (i & 1) {
                auto s = std::make_unique<std::string>("tmp");
                s->reserve(8);
                if ((i & 1023) == 1) strings[next_rand() % (LIVE / 2)] = std::move(s);
            } else {
                auto b = std::make_unique<std::vector<Cell>>(2);
                if ((i & 1023) == 0) blocks[next_rand() % (LIVE / 2)] = std::move(b);
            }
        }
    }
    double cpp_seconds = seconds_since(t1);

    // One explicit collection with 1,000,000 live values (plus their 1,000,000-cell block).
    collector::collect();
    double full_ms = double(collector::state.last_ns) / 1e6;
    collector::Root big(Cell{T_BLOCK, 0, memory::make_cells(LIVE), 0});
    memory::buffer_of(big->data2)->tail = LIVE * 16;
    for (uint32_t i = 0; i < LIVE; i++) memory::buffer_of(big->data2)->head_cell()[i] = Cell{T_INTEGER, 0, i, 0};
    collector::collect();
    double cells_ms = double(collector::state.last_ns) / 1e6;

    std::printf("allocation: %u short-lived values, %u live\n", SHORT_LIVED, LIVE);
    std::printf("  kov total          %.3f s (%u collections, %.3f s collecting, %.2f ms each)\n",
                kov_seconds, collections, gc_seconds, collections ? gc_seconds * 1e3 / collections : 0.0);
    std::printf("  malloc baseline    %.3f s\n", cpp_seconds);
    std::printf("  ratio kov/baseline %.2f\n", kov_seconds / cpp_seconds);
    std::printf("  peak memory taken  %.1f MB\n", double(memory::rec.peak_os_bytes) / 1e6);
    std::printf("full collection, 1,000,000 live series:          %.2f ms\n", full_ms);
    std::printf("full collection, plus a block of 1,000,000 cells: %.2f ms\n", cells_ms);
    return 0;
}
