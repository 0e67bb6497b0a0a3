// Where a collection puts the live buffers of a series frame: runs of buffers moved into the
// free room of an earlier frame.
#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

class Compaction : public testing::RuntimeTest {
protected:
    static uint32_t room(Handle frame) { return testing::frame_room(frame); }
    static int frame_count() { return testing::series_frame_count(); }
    // 1-based position of the series frame whose area holds the buffer, 0 when none does.
    static int frame_index_of(SeriesBuffer* b) {
        int i = 1;
        for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next, i++) {
            SeriesFrame* f = memory::at<SeriesFrame>(h);
            auto* p = reinterpret_cast<uint8_t*>(b);
            if (p >= f->area() && p < static_cast<uint8_t*>(memory::at(f->end))) return i;
        }
        return 0;
    }
};

// A run of live buffers at the start of a frame, with a previous frame that has more than
// 52,428 bytes free after the collection: the run goes there whole, or without its last buffer
// (which is then handled on its own), or not at all.
TEST_F(Compaction, RunsGoToThePreviousFrameWholeOrWithoutTheirLastBuffer) {
    struct Case {
        uint32_t sizes[3];
        int frame[3];        // frame holding each buffer after the collection
        uint32_t offset[3];  // its byte offset in the area of the second frame (when there)
    };
    const Case cases[] = {
        // 10,024 x 3 fit into the 60,000 bytes: the whole run moves.
        {{10000, 10000, 10000}, {1, 1, 1}, {0, 0, 0}},
        // The run does not fit, but without its last buffer it does: the last one then slides
        // into the gap left at the frame's start.
        {{20000, 30000, 50000}, {1, 1, 2}, {0, 0, 0}},
        // Neither the run nor the run without its last buffer fits: it stays where it is.
        {{20000, 50000, 50000}, {2, 2, 2}, {0, 20024, 70048}},
    };
    for (const Case& c : cases) {
        boot::restart_for_tests();
        boot::booting = false;
        collector::state.enabled = false;
        collector::collect();
        ASSERT_EQ(frame_count(), 1);
        Handle first = memory::rec.first_series_frame;
        // Leave 60,000 bytes (give or take the rounding) in the first frame once garbage goes.
        collector::RootNode filler(memory::make_bytes(room(first) - 60000 - 24));
        uint32_t left = room(first);
        ASSERT_GT(left, FRAME_MIN_ROOM);
        memory::make_bytes(left - 24 - 32);  // garbage filling the first frame
        Handle nodes[3];
        for (int i = 0; i < 3; i++) {
            nodes[i] = memory::make_bytes(c.sizes[i]);
            memory::fill(memory::buffer_of(nodes[i])->data(), memory::buffer_of(nodes[i])->end_ptr(),
                         uint8_t('a' + i));
        }
        collector::RootNode r0(nodes[0]), r1(nodes[1]), r2(nodes[2]);
        ASSERT_EQ(frame_count(), 2);
        ASSERT_EQ(frame_index_of(memory::buffer_of(nodes[0])), 2);
        collector::collect();
        Handle second = memory::at<SeriesFrame>(first)->next;
        Handle held[3] = {r0.node, r1.node, r2.node};
        for (int i = 0; i < 3; i++) {
            SCOPED_TRACE(::testing::Message() << "sizes " << c.sizes[0] << " " << c.sizes[1] << " "
                                              << c.sizes[2] << ", buffer " << i);
            SeriesBuffer* b = memory::buffer_of(held[i]);
            EXPECT_EQ(b->node, held[i]);
            EXPECT_EQ(frame_index_of(b), c.frame[i]);
            if (c.frame[i] == 2) {
                EXPECT_EQ(reinterpret_cast<uint8_t*>(b) - memory::at<SeriesFrame>(second)->area(),
                          ptrdiff_t(c.offset[i]));
            }
            EXPECT_EQ(b->data()[0], uint8_t('a' + i));
            EXPECT_EQ(b->data()[b->size - 1], uint8_t('a' + i));
        }
    }
}

}  // namespace
}  // namespace kov
