// The start-up sequence: the root block, the order of the steps, no collection while booting.
#include <algorithm>
#include <iterator>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "evaluator/random.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

TEST(Startup, RootBlockAndOrder) {
    cycles::init();
    boot::restart_for_tests();
    const auto& steps = boot::steps_run();
    auto pos = [&](const char* s) { return std::find(steps.begin(), steps.end(), s) - steps.begin(); };
    EXPECT_LT(pos("random"), pos("memory"));
    EXPECT_LT(pos("memory"), pos("datatypes"));
    EXPECT_LT(pos("datatypes"), pos("frames"));
    EXPECT_LT(pos("frames"), pos("root-block"));
    const char* later[] = {"root-block", "global-context", "case-tables", "symbol-table",
                           "type-names", "runtime-words", "ownership", "stacks", "slots"};
    for (size_t i = 1; i < std::size(later); i++) EXPECT_LT(pos(later[i - 1]), pos(later[i])) << later[i];
    EXPECT_EQ(steps.back(), "collector-counters");
    SeriesBuffer* root = memory::buffer_of(boot::root_block);
    EXPECT_EQ(root->head_cell()[0].data2, stack::arg_stack_node);
    EXPECT_EQ(root->head_cell()[1].data2, stack::frame_stack_node);
    EXPECT_EQ(root->head_cell()[2].data2, hashtable::record(symbol::table)->data);  // the symbol block
    EXPECT_TRUE(boot::booting);
    EXPECT_FALSE(collector::state.enabled);
    EXPECT_EQ(random::hash_seed, 0x0055860Cu);
}

TEST(Startup, NoCollectionDuringStartup) {
    cycles::init();
    boot::restart_for_tests();
    uint32_t cycles_before = collector::state.cycles;
    for (int i = 0; i < 100; i++) memory::make_bytes(100000);
    EXPECT_EQ(collector::state.cycles, cycles_before);
}

}  // namespace
}  // namespace kov
