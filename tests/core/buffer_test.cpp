// Raw arrays and series buffers: integers, bytes and cells at the tail, growth and copies.
#include <string>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class RawArrays : public testing::RuntimeTest {};

TEST_F(RawArrays, IntsBytesAndEdges) {
    Handle a = buffer::make_array(2, 4);
    collector::RootNode keep_a(a);
    EXPECT_EQ(buffer::find_pointer(a, 5), -1);
    buffer::remove_pointer(a, 5);
    EXPECT_EQ(buffer::array_length(a), 0u);
    for (uint32_t i = 1; i <= 50; i++) buffer::append_int(a, i * 10);
    EXPECT_EQ(buffer::array_length(a), 50u);
    EXPECT_EQ(buffer::pick_int(a, 3), 30u);
    EXPECT_EQ(buffer::find_int(a, 30), 8);
    buffer::insert_int(a, 0, 7);
    EXPECT_EQ(buffer::pick_int(a, 1), 7u);
    EXPECT_EQ(buffer::pick_int(a, 2), 10u);
    buffer::remove_pointer(a, 7);
    EXPECT_EQ(buffer::pick_int(a, 1), 10u);
    buffer::poke_pointer(a, 2, 99);
    EXPECT_EQ(buffer::pick_pointer(a, 2), 99u);
    buffer::remove_bytes(a, 0, 8);
    EXPECT_EQ(buffer::pick_int(a, 1), 30u);
    Handle c = buffer::copy_array(a);
    collector::RootNode keep_c(c);
    EXPECT_EQ(buffer::array_length(c), buffer::array_length(a));
    buffer::truncate_at(a, 1);
    EXPECT_EQ(buffer::array_length(a), 0u);
    Handle b = buffer::make_array(0, 1);
    collector::RootNode keep_b(b);
    buffer::append_bytes(b, "hello", 5);
    buffer::append_byte(b, '!');
    EXPECT_EQ(buffer::pick_byte(b, 6), '!');
    buffer::clear(b);
    EXPECT_EQ(buffer::array_length(b), 0u);
}

TEST_F(RawArrays, ReplicateAndReserve) {
    uint8_t data[37] = {'a', 'b', 'c'};
    buffer::replicate(data, 3, 12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 36), "abcabcabcabcabcabcabcabcabcabcabcabc");
    Handle block = memory::make_cells(1);
    collector::RootNode keep_block(block, 1);
    for (int i = 0; i < 9; i++) buffer::alloc_tail_cell(block)->data2 = uint32_t(i);
    SeriesBuffer* bb = memory::buffer_of(block);
    EXPECT_EQ(bb->length(), 9u);
    EXPECT_EQ(bb->size, 256);
    EXPECT_EQ(bb->head_cell()[8].data2, 8u);
    Handle bytes = memory::make_bytes(16);
    collector::RootNode keep_bytes(bytes);
    buffer::reserve_tail(bytes, 100);  // more than the size: the buffer grows to 2n
    EXPECT_EQ(memory::buffer_of(bytes)->size, 208);
}

// Expanding to fewer bytes than are in use keeps head and tail inside the data area.
TEST_F(RawArrays, ExpandingBelowTheUsedPartKeepsTheTailInside) {
    collector::RootNode node(memory::make_bytes(64));
    for (int i = 0; i < 64; i++) buffer::append_byte(node.node, uint8_t(i));
    SeriesBuffer* nb = buffer::expand_copy(memory::buffer_of(node.node), 16);
    EXPECT_EQ(nb->size, 16);
    EXPECT_LE(nb->tail, uint32_t(nb->size));
    EXPECT_LE(nb->head, nb->tail);
    ASSERT_EQ(nb->used(), 16u);  // the bytes that fit are kept
    std::string expected, kept(reinterpret_cast<char*>(nb->head_ptr()), nb->used());
    for (uint32_t i = 0; i < nb->used(); i++) expected += char(i);
    EXPECT_EQ(kept, expected);
}

}  // namespace
}  // namespace kov
