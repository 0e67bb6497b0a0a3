// The series statistics report and the collector switch around it.
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "datatypes/simple.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::unwind_code;

class SeriesStats : public testing::RuntimeTest {};

// The statistics routine switches the collector off while it works and back on afterwards,
// also when an error leaves it.
TEST_F(SeriesStats, StatisticsRestoreTheCollectorSwitchWhenAnErrorLeaves) {
    // A full block that has to double to take the report: too big for any free room, and the
    // operating system refuses new blocks.
    const uint32_t cells = 50000;
    collector::Root out(Cell{T_BLOCK, 0, memory::make_cells(cells), 0});
    SeriesBuffer* b = memory::buffer_of(out->data2);
    for (uint32_t i = 0; i < cells; i++) b->head_cell()[i] = none_value;
    b->tail = uint32_t(b->size);
    ASSERT_TRUE(collector::state.enabled);
    stack::mark_try(nullptr);
    memory::set_arena_limit_for_tests(1);
    uint32_t code = unwind_code([&] { memory::series_stats(out.get(), 2); });
    memory::set_arena_limit_for_tests(0);
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "no-memory");
    EXPECT_TRUE(collector::state.enabled);
}

}  // namespace
}  // namespace kov
