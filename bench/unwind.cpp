// The cost of a non-local exit: `break` out of a loop through DEPTH nested C++ calls, delivered
// to the loop frame by stack::deliver_break and received by stack::receive, once passed up the
// calls as a returned Status and once thrown as an Unwind (stack::raise_pending). The loop round is
// the same in both: the receiver treats the two alike, only the travel differs.
#include <chrono>
#include <cstdio>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/stack.hpp"

using namespace kov;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int DEPTH = 4;
volatile int sink = 0;

// The break is delivered DEPTH calls down; each call passes a pending status up, or the
// innermost one throws it.
__attribute__((noinline)) Status nested(int depth, bool thrown) {
    if (depth == 0) {
        stack::mark_native(nullptr);  // the break native's own frame
        Status s = stack::deliver_break(false, false);
        if (thrown) stack::raise_pending(s);
        return s;
    }
    Status s = nested(depth - 1, thrown);
    if (s != Status::normal) return s;
    sink = sink + 1;
    return Status::normal;
}

// One loop that breaks in its first round, as the interpreter runs it; ns per loop.
double time_loops(int n, bool thrown) {
    auto t0 = Clock::now();
    for (int i = 0; i < n; i++) {
        stack::mark_loop(nullptr);
        Status s = stack::receive(THROW_BREAK, [=] { return nested(DEPTH, thrown); });
        if (s != Status::brk) std::printf("unexpected status %u\n", uint32_t(s));
        stack::unwind_drop();
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / n;
}

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();
    constexpr int N = 1000000;
    (void)time_loops(N / 10, false);  // warm-up
    double returned = time_loops(N, false);
    double thrown = time_loops(N, true);
    std::printf("break through %d calls to the receiver: returned status %.1f ns, exception %.1f ns, "
                "ratio %.1f\n",
                DEPTH, returned, thrown, thrown / returned);
    return 0;
}
