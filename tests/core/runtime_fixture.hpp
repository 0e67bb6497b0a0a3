// A fresh runtime for each test: every value of the previous test is discarded. As in a real
// run, the collector is on once the runtime is up (and collects at every allocation under
// KOV_GC_STRESS=1), so tests keep the values they hold across allocations in rooted cells.
#pragma once

#include <gtest/gtest.h>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"

namespace kov::testing {

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool once = [] {
            cycles::init();
            collector::init();
            return true;
        }();
        (void)once;
        boot::restart_for_tests();
        boot::booting = false;
        collector::state.enabled = true;
    }
};

// Free bytes left in a series frame, and the number of series frames.
inline uint32_t frame_room(Handle frame) {
    SeriesFrame* f = memory::at<SeriesFrame>(frame);
    return (f->end - f->bump) * 4;
}
inline int series_frame_count() {
    int n = 0;
    for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next) n++;
    return n;
}

// Runs `body` and answers the code of the Unwind it raised (0 when it returned normally).
template <class F> uint32_t unwind_code(F body) {
    try {
        body();
    } catch (const Unwind& u) {
        return u.code;
    }
    return 0;
}

}  // namespace kov::testing
