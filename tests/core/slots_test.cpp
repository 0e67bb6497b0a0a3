// The slot table.
#include <vector>

#include "core/slots.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class Slots : public testing::RuntimeTest {};

TEST_F(Slots, GrowAndReuse) {
    std::vector<uint32_t> handles;
    for (int i = 0; i < 100; i++) {
        Cell v{T_INTEGER, 0, uint32_t(i), 0};
        handles.push_back(slots::alloc(&v));
    }
    EXPECT_EQ(slots::capacity(), 100u);
    Cell v{T_INTEGER, 0, 100, 0};
    handles.push_back(slots::alloc(&v));
    EXPECT_EQ(slots::capacity(), 200u);
    for (int i = 0; i <= 100; i++) EXPECT_EQ(slots::get(handles[i])->data2, uint32_t(i));
    slots::free(handles[40]);
    slots::free(0);
    EXPECT_EQ(slots::alloc(&v), handles[40]);
}

}  // namespace
}  // namespace kov
