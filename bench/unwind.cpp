// The cost of a non-local exit: `break` out of a loop through a few nested calls, delivered as
// an Unwind exception (stack::throw_break) against the same exit passed up as a returned code.
// The interpreter passes pending exits up its own loops for hot break/continue/return; this
// shows why.
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

__attribute__((noinline)) void nested_throw(int depth) {
    if (depth == 0) {
        stack::mark_native(nullptr);  // the break native's own frame
        stack::throw_break(false, false);
    }
    nested_throw(depth - 1);
    sink++;
}

__attribute__((noinline)) int nested_code(int depth) {
    if (depth == 0) return 1;  // a pending break
    int code = nested_code(depth - 1);
    if (code) return code;
    sink++;
    return 0;
}

}  // namespace

int main() {
    cycles::init();
    collector::init();
    boot::init_runtime();
    constexpr int N = 1000000;

    auto t0 = Clock::now();
    for (int i = 0; i < N; i++) {
        stack::mark_loop(nullptr);
        try {
            nested_throw(DEPTH);
        } catch (const Unwind& u) {
            if (u.code != THROW_BREAK) throw;
        }
        stack::unwind_drop();
    }
    double thrown = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / N;

    auto t1 = Clock::now();
    for (int i = 0; i < N; i++) {
        stack::mark_loop(nullptr);
        stack::mark_native(nullptr);
        int code = nested_code(DEPTH);
        stack::unwind_drop();
        if (code) stack::unwind_drop();
    }
    double returned = std::chrono::duration<double, std::nano>(Clock::now() - t1).count() / N;

    std::printf("break through %d calls: exception %.1f ns, returned code %.1f ns, ratio %.1f\n",
                DEPTH, thrown, returned, thrown / returned);
    return 0;
}
