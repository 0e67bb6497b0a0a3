// libFuzzer target: arbitrary bytes through the lexer in every scan mode. A syntax error is a
// normal outcome; a crash, a sanitizer report or a broken runtime invariant is a finding.
#include <cstddef>
#include <cstdint>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "evaluator/lexer.hpp"

using namespace kov;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        cycles::init();
        collector::init();
        boot::restart_for_tests();
        boot::booting = false;
        collector::state.enabled = true;
        return true;
    }();
    (void)started;
    for (int mode = 0; mode < 4; mode++) {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        collector::Root out;
        lexer::ScanOptions o;
        o.one_value = mode == 1;
        o.prescan = mode == 2;
        o.scan = mode == 3;
        try {
            int32_t consumed = 0;
            lexer::scan(out.get(), data, uint32_t(size), o, &consumed);
            if (consumed < 0 || size_t(consumed) > size) __builtin_trap();
        } catch (const Unwind&) {
        }
    }
    return 0;
}
