// Appending characters one at a time: the runtime's append_char on one string against
// std::string::push_back, 2 characters per round.
//
//   bench_string_append [rounds]      (default 10,000,000)
//
// Runs for ASCII characters (the buffer stays at 1-byte units) and for characters of the Basic
// Multilingual Plane (2-byte units; compared with std::u16string). Prints the best of three runs
// in nanoseconds per character and the ratio runtime / std (below 1: the runtime is faster).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <class S, class F> double best_seconds(S&& setup, F&& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        setup();
        auto t0 = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

volatile uint32_t sink;

template <class Std> void run(const char* name, uint32_t a, uint32_t b, uint32_t unit, long rounds) {
    using namespace kov;
    collector::Root value(Cell{T_STRING, 0, 0, 0});
    auto fresh = [&] {
        value.cell = Cell{T_NONE, 0, 0, 0};
        collector::collect();  // drops the previous run's buffer
        string::make_at_unit(value.get(), 16, unit);
    };
    double ours = best_seconds(fresh, [&] {
        SeriesBuffer* buf = memory::buffer_of(value->data2);
        for (long i = 0; i < rounds; ++i) {
            buf = string::append_char(buf, a);
            buf = string::append_char(buf, b);
        }
        sink = string::char_count(value.get());
    });
    double base = best_seconds([] {}, [&] {
        Std s;
        for (long i = 0; i < rounds; ++i) {
            s.push_back(typename Std::value_type(a));
            s.push_back(typename Std::value_type(b));
        }
        sink = uint32_t(s.size());
    });
    double chars = double(rounds) * 2;
    std::printf("%-6s runtime %6.2f ns/char   std %6.2f ns/char   ratio %.2f\n", name,
                ours / chars * 1e9, base / chars * 1e9, ours / base);
}

}  // namespace

int main(int argc, char** argv) {
    long rounds = argc > 1 ? std::atol(argv[1]) : 10000000;
    kov::collector::init();
    kov::boot::init_runtime();
    kov::boot::booting = false;
    kov::collector::state.enabled = true;
    run<std::string>("ascii", 'a', 'b', 1, rounds);
    run<std::u16string>("bmp", 0x416, 0x42F, 2, rounds);
    return 0;
}
