// libFuzzer target: arbitrary bytes through the Kovbin decoder, in the codec and the boot
// variants of both body forms, and whatever decodes through the compact encoder again. A raised
// language error is a normal outcome; a crash or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "datatypes/block.hpp"
#include "platform/kovbin.hpp"

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
    for (int codec = 0; codec < 2; codec++) {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        collector::Root out;
        block::make_at(out.get(), 1);
        kovbin::codec_q = codec == 1;
        try {
            kovbin::decode(data, size, out.get(), true);
            collector::Root again;
            kovbin::encode_compact(out.get(), again.get());
        } catch (const Unwind&) {
        }
    }
    return 0;
}
