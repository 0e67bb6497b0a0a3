// The resource slot table: allocation, release, marking and the free list.
#include "core/collector.hpp"
#include "core/resources.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class Resources : public testing::RuntimeTest {};

// A stale handle that marks a released slot must not put the slot on the free list twice.
TEST_F(Resources, MarkingAReleasedResourceSlotKeepsTheFreeListSound) {
    int objects[2];
    int32_t s = resources::alloc_slot(&objects[0], 0);
    EXPECT_EQ(resources::release_slot(s, false), -1);
    EXPECT_FALSE(resources::mark_slot(s, nullptr));  // a free slot is not marked
    EXPECT_EQ(resources::slot(s).kind_flags, resources::SLOT_FREE);
    EXPECT_EQ(resources::release_slot(s, false), -1);
    collector::collect();
    int32_t a = resources::alloc_slot(&objects[0], 0);
    int32_t b = resources::alloc_slot(&objects[1], 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(resources::slot(a).object, &objects[0]);
    EXPECT_EQ(resources::slot(b).object, &objects[1]);
}

}  // namespace
}  // namespace kov
