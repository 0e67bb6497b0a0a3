// The benchmarks' clock: the best of three runs of a piece of work, in seconds or milliseconds.
#pragma once

#include <algorithm>
#include <chrono>

namespace kov::bench {

template <class F> double best_seconds(F&& run) {
    double best = 1e300;
    for (int i = 0; i < 3; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

template <class F> double best_ms(F&& run) { return best_seconds(run) * 1000.0; }

}  // namespace kov::bench
