// The memory manager: buffer sizes, frames, big series, node frames, expansion.
#include "core/buffer.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;

// Layout tests hold bare nodes and count frames: the collector stays off.
class Memory : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        collector::state.enabled = false;
    }
};

TEST_F(Memory, MinimumDataAreas) {
    struct Case { Handle node; int32_t size; uint32_t unit; };
    Case cases[] = {
        {memory::make_bytes(0), 16, 1},
        {memory::make_string_buffer(0, 1), 16, 1},
        {memory::make_string_buffer(0, 2), 16, 2},
        {memory::make_string_buffer(0, 4), 16, 4},
        {memory::make_cells(0), 16, 16},
        {memory::alloc_series(0, 1, 0), 16, 1},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer_of(c.node);
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->node, c.node);
        EXPECT_EQ(b->head, b->tail);
    }
    EXPECT_EQ(memory::buffer_of(memory::make_string_buffer(0, 2))->size / 2, 8);
    EXPECT_EQ(memory::buffer_of(memory::make_string_buffer(0, 4))->size / 4, 4);
}

TEST_F(Memory, EmptyBufferGrows) {
    Handle node = memory::alloc_series(0, 1, 0);
    for (int i = 0; i < 100; i++) buffer::append_byte(node, uint8_t(i));
    SeriesBuffer* b = memory::buffer_of(node);
    ASSERT_EQ(b->used(), 100u);
    for (int i = 0; i < 100; i++) EXPECT_EQ(b->head_ptr()[i], uint8_t(i));
    // A zero-size growth request doubles from at least 16 bytes.
    Handle n2 = memory::make_cells(0);
    SeriesBuffer* nb = buffer::expand(memory::buffer_of(n2), 0);
    EXPECT_EQ(nb->size, 32);
}

TEST_F(Memory, BigSeriesThreshold) {
    Handle big = memory::alloc_series(2097136, 1, 0);
    Handle small = memory::alloc_series(2097120, 1, 0);
    EXPECT_TRUE(memory::buffer_of(big)->flags & SER_BIG);
    EXPECT_EQ(memory::buffer_of(big)->footprint(), 2097160u);
    EXPECT_FALSE(memory::buffer_of(small)->flags & SER_BIG);
    EXPECT_EQ(memory::buffer_of(small)->footprint(), 2097144u);
    EXPECT_NE(memory::rec.big_series_list, 0u);
}

TEST_F(Memory, HeaderFlagsAndMiddleOffset) {
    SeriesBuffer* b = memory::buffer_of(memory::alloc_series(10, 4, -1));
    EXPECT_EQ(b->size, 48);
    EXPECT_EQ(b->head, 24u);
    EXPECT_EQ(b->flags & (SER_IN_USE | SER_ALLOCATED | SER_MIDDLE),
              SER_IN_USE | SER_ALLOCATED | SER_MIDDLE);
    SeriesBuffer* c = memory::buffer_of(memory::alloc_series(10, 4, 8));
    EXPECT_EQ(c->head, 8u);
    EXPECT_FALSE(c->flags & SER_MIDDLE);
}

// Buffers made while the boot library is evaluated carry the library mark, others never.
TEST_F(Memory, LibraryModeMarksTheBuffersMadeMeanwhile) {
    struct Case {
        bool library;
        int32_t size;
    };
    const Case cases[] = {{false, 10}, {true, 10}, {true, 2097136}, {false, 2097136}, {false, 0}};
    for (const Case& c : cases) {
        memory::library_mode = c.library;
        SeriesBuffer* b = memory::buffer_of(memory::alloc_series(c.size, 1, 0));
        memory::library_mode = false;
        EXPECT_EQ((b->flags & SER_LIBRARY) != 0, c.library) << c.size;
    }
}

TEST_F(Memory, BuffersFollowEachOtherInAFrame) {
    SeriesBuffer* a = memory::buffer_of(memory::make_bytes(100));
    SeriesBuffer* b = memory::buffer_of(memory::make_bytes(1));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(b) - reinterpret_cast<uint8_t*>(a), 112 + 24);
}

TEST_F(Memory, NewFrameWhenFull) {
    // With the collector off, buffers go into the first frame (1 MB) while their footprint fits
    // in its room; the first one that does not fit makes a new frame (2 MB) and goes there.
    auto frame_count = [] {
        int n = 0;
        for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next) n++;
        return n;
    };
    auto frame_holding = [](Handle node) {
        uint8_t* p = reinterpret_cast<uint8_t*>(memory::buffer_of(node));
        for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next) {
            SeriesFrame* f = memory::at<SeriesFrame>(h);
            if (p >= f->area() && p < static_cast<uint8_t*>(memory::at(f->end))) return h;
        }
        return Handle(0);
    };
    const Handle first = memory::rec.first_series_frame;
    ASSERT_EQ(frame_count(), 1);
    EXPECT_EQ(memory::at<SeriesFrame>(first)->size, DEFAULT_FRAME_SIZE + 20);
    constexpr uint32_t bytes = 50000;  // a multiple of 16: footprint bytes + 24
    auto room = [&] {
        SeriesFrame* f = memory::at<SeriesFrame>(first);
        return (uint64_t(f->end) - f->bump) * 4;
    };
    const uint64_t expected = room() / (bytes + 24);  // the start-up's values take part of it
    ASSERT_GT(expected, 2u);
    uint64_t fitted = 0;
    while (room() >= bytes + 24) {
        Handle node = memory::make_bytes(bytes);
        EXPECT_EQ(frame_holding(node), first);
        fitted++;
    }
    EXPECT_EQ(fitted, expected);
    EXPECT_EQ(frame_count(), 1);
    Handle spill = memory::make_bytes(bytes);
    ASSERT_EQ(frame_count(), 2);
    Handle second = frame_holding(spill);
    EXPECT_NE(second, first);
    EXPECT_NE(second, Handle(0));
    EXPECT_EQ(memory::at<SeriesFrame>(second)->size, BIG_THRESHOLD + 20);
}

TEST_F(Memory, TenThousandAndFirstNodeMakesSecondFrame) {
    int frames = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next) frames++;
    NodeFrame* f = memory::at<NodeFrame>(memory::rec.first_node_frame);
    uint32_t free_nodes = f->capacity - f->used;
    for (uint32_t i = 0; i < free_nodes; i++) memory::alloc_node();
    EXPECT_EQ(memory::rec.last_node_frame, memory::rec.first_node_frame);
    Handle n = memory::alloc_node();
    EXPECT_NE(memory::rec.last_node_frame, memory::rec.first_node_frame);
    EXPECT_EQ(memory::frame_of_node(n), memory::at<NodeFrame>(memory::rec.last_node_frame));
    EXPECT_EQ(memory::node_slot(n), 0u);
    (void)frames;
}

TEST_F(Memory, FreeNodeIsReusedFirst) {
    if (collector::state.check) GTEST_SKIP() << "check mode holds freed nodes back";
    Handle a = memory::alloc_node();
    NodeFrame* f = memory::frame_of_node(a);
    uint32_t used = f->used;
    memory::free_node(f, a);
    EXPECT_EQ(f->used, used - 1);
    EXPECT_EQ(memory::alloc_node(), a);
}

TEST_F(Memory, UpdateReleasesEmptyNodeFrames) {
    NodeFrame* second = memory::make_node_frame(NODES_PER_FRAME);
    Handle h2 = memory::handle_of(second);
    EXPECT_EQ(memory::rec.last_node_frame, h2);
    memory::update_node_frames();
    EXPECT_EQ(memory::rec.last_node_frame, memory::rec.first_node_frame);
    EXPECT_EQ(memory::rec.current_node_frame, memory::rec.first_node_frame);
}

TEST_F(Memory, ExpandKeepsUsedPartAndDropsBytesBeforeHead) {
    Handle node = memory::alloc_series(32, 1, -1);  // head in the middle
    for (int i = 0; i < 10; i++) buffer::append_byte(node, uint8_t('a' + i));
    SeriesBuffer* old = memory::buffer_of(node);
    EXPECT_EQ(old->head, 16u);
    SeriesBuffer* nb = buffer::expand_copy(old, 0);
    EXPECT_EQ(memory::buffer_of(node), nb);
    EXPECT_EQ(nb->size, 64);
    EXPECT_EQ(nb->head, 0u);
    EXPECT_EQ(nb->used(), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(nb->head_ptr()), 10), "abcdefghij");
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SER_IN_USE);
    EXPECT_TRUE(nb->flags & SER_MIDDLE);  // the flags word is taken whole
}

TEST_F(Memory, ExpandFillAndCopy) {
    Handle node = memory::make_bytes(16);
    buffer::append_bytes(node, "xyz", 3);
    SeriesBuffer* nb = buffer::expand_fill(memory::buffer_of(node), 64, '.');
    EXPECT_EQ(nb->size, 64);
    EXPECT_EQ(nb->head_ptr()[16], '.');
    EXPECT_EQ(nb->head_ptr()[63], '.');
    Handle copy = buffer::copy(nb);
    SeriesBuffer* cb = memory::buffer_of(copy);
    EXPECT_EQ(cb->used(), 3u);
    EXPECT_EQ(cb->unit(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cb->head_ptr()), 3), "xyz");
}

TEST_F(Memory, ExpandBelowOneRaisesNoMemory) {
    Handle node = memory::make_bytes(16);
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([&] { buffer::expand(memory::buffer_of(node), -5); });
    EXPECT_EQ(code, THROW_ERROR);
    Cell* err = stack::top_value();
    ASSERT_TRUE(err->is(T_ERROR));
    EXPECT_EQ(error::id_word(err), "no-memory");
    EXPECT_EQ(error::category_word(err), "internal");
}

TEST_F(Memory, OperatingSystemRefusalRaisesNoMemory) {
    memory::set_arena_limit_for_tests(uint64_t(64) << 20);
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([&] {
        for (int i = 0; i < 100; i++) memory::make_bytes(4u << 20);
    });
    memory::set_arena_limit_for_tests(0);
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "no-memory");
}

TEST_F(Memory, CellsUnsetFillsWholeArea) {
    Handle node = memory::make_cells_unset(3);
    SeriesBuffer* b = memory::buffer_of(node);
    EXPECT_EQ(b->head, b->tail);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (int i = 0; i < b->size / 16; i++) EXPECT_EQ(c[i].header, uint32_t(T_UNSET));
    Handle filled = memory::make_bytes_filled(20, 0xAB);
    EXPECT_EQ(memory::buffer_of(filled)->data()[31], 0xAB);
}

}  // namespace
}  // namespace kov

#include "core/collector.hpp"

namespace kov {
namespace {

class FrameRoom : public testing::RuntimeTest {
protected:
    static uint32_t room(Handle frame) { return testing::frame_room(frame); }
    static int frame_count() { return testing::series_frame_count(); }
    // Leaves `after` bytes of room in the first frame once garbage is collected, `before` now,
    // then asks for a buffer of footprint `want`. Answers whether a new frame was made.
    static bool new_frame_for(uint32_t after, uint32_t before, uint32_t want) {
        collector::collect();
        Handle first = memory::rec.first_series_frame;
        EXPECT_EQ(frame_count(), 1);
        collector::RootNode live(memory::make_bytes(room(first) - after - 24));
        uint32_t after_real = room(first);  // what a collection will leave (sizes round to 16)
        EXPECT_NEAR(double(after_real), double(after), 16);
        memory::make_bytes(after_real - before - 24);  // garbage
        EXPECT_LT(room(first), want);
        uint32_t cycles = collector::state.cycles;
        memory::make_bytes(want - 24);
        EXPECT_EQ(collector::state.cycles, cycles + 1);  // a collection ran first
        return frame_count() == 2;
    }
};

TEST_F(FrameRoom, AFrameWithLittleRoomAfterACollectionIsPassedOver) {
    if (collector::state.stress) GTEST_SKIP() << "counts collections";
    EXPECT_TRUE(new_frame_for(52400, 10000, 40000));  // below 52,428 bytes
}

TEST_F(FrameRoom, AFrameWithEnoughRoomAfterACollectionIsUsed) {
    if (collector::state.stress) GTEST_SKIP() << "counts collections";
    EXPECT_FALSE(new_frame_for(52460, 10000, 40000));
}

}  // namespace
}  // namespace kov
