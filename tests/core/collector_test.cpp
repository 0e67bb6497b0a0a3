// The collector: what is reachable stays (and keeps its contents while buffers move), the rest is
// freed; frames are compacted, node frames released, external resources finalised.
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/resources.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;

class Collector : public RuntimeTest {};

// A string! cell holding `text`.
Cell make_string(const std::string& text) {
    collector::Root s;
    string::make_at(s.get(), uint32_t(text.size()));
    string::concatenate_cstring(s.get(), text);
    return s.cell;
}

// Appends a value to a block; the value is rooted while the block's tail grows.
void append(collector::Root& block, const Cell& value) {
    collector::Root v(value);
    Cell* slot = buffer::alloc_block_tail(block.get());
    *slot = v.cell;
}

// Nodes naming a buffer (check mode holds freed nodes back: they are not counted).
uint32_t used_nodes() {
    uint32_t n = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next)
        n += memory::at<NodeFrame>(h)->used;
    return n - uint32_t(memory::quarantined_nodes());
}

uint64_t used_frame_bytes() {
    uint64_t n = 0;
    for (Handle h = memory::rec.first_series_frame; h; h = memory::at<SeriesFrame>(h)->next) {
        SeriesFrame* f = memory::at<SeriesFrame>(h);
        n += uint64_t(f->bump - memory::handle_of(f->area())) * 4;
    }
    return n;
}

TEST_F(Collector, KeepsReachableAndFreesTheRest) {
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
    for (int i = 0; i < 50; i++) {
        append(block, make_string("kept-" + std::to_string(i)));
        make_string(std::string(200, 'x'));  // garbage
    }
    collector::collect();
    uint32_t nodes_after_first = used_nodes();
    uint64_t bytes_after_first = used_frame_bytes();
    for (int i = 0; i < 200; i++) make_string(std::string(300, 'y'));
    collector::collect();
    EXPECT_EQ(used_nodes(), nodes_after_first);
    EXPECT_EQ(used_frame_bytes(), bytes_after_first);
    SeriesBuffer* b = memory::buffer_of(block->data2);
    ASSERT_EQ(b->length(), 50u);
    for (int i = 0; i < 50; i++)
        EXPECT_EQ(string::to_utf8(&b->head_cell()[i]), "kept-" + std::to_string(i));
}

// The library mark is part of the buffer: it moves with it when a collection compacts.
TEST_F(Collector, LibraryMarkMovesWithItsBuffer) {
    make_string(std::string(500, 'g'));  // garbage below, so that the buffers move
    memory::library_mode = true;
    collector::Root library(make_string("library code"));
    memory::library_mode = false;
    collector::Root user(make_string("user code"));
    collector::collect();
    collector::collect();
    EXPECT_TRUE(memory::buffer_of(library->data2)->flags & SER_LIBRARY);
    EXPECT_FALSE(memory::buffer_of(user->data2)->flags & SER_LIBRARY);
    EXPECT_EQ(string::to_utf8(library.get()), "library code");
}

TEST_F(Collector, DeadBufferIsSqueezedOut) {
    if (collector::state.check) GTEST_SKIP() << "check mode moves every buffer";
    collector::state.enabled = false;  // control every allocation
    collector::collect();
    SeriesFrame* f = memory::at<SeriesFrame>(memory::rec.first_series_frame);
    Handle dead = memory::make_bytes(1000);
    collector::RootNode a(memory::make_bytes(100));
    buffer::append_bytes(a.node, "abc", 3);
    collector::RootNode c(memory::make_bytes(100));
    buffer::append_bytes(c.node, "xyz", 3);
    (void)dead;
    Handle bump_before = f->bump;
    SeriesBuffer* a_before = memory::buffer_of(a.node);
    collector::collect();
    EXPECT_EQ((bump_before - f->bump) * 4, 1000u + 8 + 24);  // 1008 bytes of data + header
    EXPECT_LT(memory::buffer_of(a.node), a_before);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory::buffer_of(a.node)->head_ptr()), 3), "abc");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory::buffer_of(c.node)->head_ptr()), 3), "xyz");
    EXPECT_EQ(memory::buffer_of(a.node)->node, a.node);
}

TEST_F(Collector, RootedValuesSurviveCollectionsAtEveryAllocation) {
    // Each allocation collects: a value not rooted here would be freed and its bytes reused.
    bool stress = collector::state.stress;
    uint32_t period = collector::state.stress_period;
    collector::state.stress = true;
    collector::state.stress_period = 1;
    collector::Root keep(make_string("the quick brown fox"));
    collector::Root list(Cell{T_BLOCK, 0, memory::make_cells(1), 0});
    for (int i = 0; i < 300; i++) {
        append(list, make_string(std::to_string(i * 7)));
        make_string("garbage garbage garbage");
    }
    collector::state.stress = stress;
    collector::state.stress_period = period;
    EXPECT_EQ(string::to_utf8(keep.get()), "the quick brown fox");
    SeriesBuffer* b = memory::buffer_of(list->data2);
    ASSERT_EQ(b->length(), 300u);
    for (int i = 0; i < 300; i++) EXPECT_EQ(string::to_utf8(&b->head_cell()[i]), std::to_string(i * 7));
}

TEST_F(Collector, StackAboveTopIsNotARoot) {
    stack::reset();
    Cell s = make_string("on the stack");
    stack::push(&s);
    Cell gone = make_string("popped");
    stack::push(&gone);
    stack::pop(1);
    Handle gone_node = gone.data2;
    collector::collect();
    EXPECT_EQ(string::to_utf8(stack::top_value()), "on the stack");
    if (collector::state.check) {  // the node is held back, or its frame was retired
        EXPECT_NE(memory::node_problem(gone_node), nullptr);
        return;
    }
    // The popped string's node went back to its frame's free chain.
    NodeFrame* f = memory::frame_of_node(gone_node);
    bool is_free = false;
    for (Handle n = f->first_free; n && !is_free; n = memory::node_slot(n)) is_free = n == gone_node;
    EXPECT_TRUE(is_free);
}

TEST_F(Collector, BigSeriesAreSweptWhenUnreachable) {
    collector::RootNode kept(memory::make_bytes(3u << 20));
    memory::make_bytes(3u << 20);
    int before = 0, after = 0;
    for (Handle h = memory::rec.big_series_list; h; h = memory::at<BigSeries>(h)->next) before++;
    collector::collect();
    for (Handle h = memory::rec.big_series_list; h; h = memory::at<BigSeries>(h)->next) after++;
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 1);
    EXPECT_TRUE(memory::buffer_of(kept.node)->flags & SER_BIG);
    EXPECT_FALSE(memory::buffer_of(kept.node)->flags & SER_MARK);
}

TEST_F(Collector, EmptyNodeFramesAreReleased) {
    if (collector::state.check) GTEST_SKIP() << "check mode holds freed nodes back";
    collector::state.enabled = false;
    for (int i = 0; i < 25000; i++) memory::make_bytes(1);
    int frames = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next) frames++;
    EXPECT_GE(frames, 3);
    collector::collect();
    frames = 0;
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next) frames++;
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(memory::rec.current_node_frame, memory::rec.first_node_frame);
}

TEST_F(Collector, RunsMoveIntoTheFreeTailOfThePreviousFrame) {
    if (collector::state.check) GTEST_SKIP() << "check mode moves every buffer";
    collector::state.enabled = false;
    collector::Root list(Cell{T_BLOCK, 0, memory::make_cells(64), 0});
    // Fill the first frame with garbage and spill live strings into later frames.
    for (int i = 0; i < 30; i++) memory::make_bytes(60000);
    for (int i = 0; i < 40; i++) {
        append(list, make_string("live " + std::to_string(i) + std::string(5000, '.')));
    }
    Handle first = memory::rec.first_series_frame;
    ASSERT_NE(memory::at<SeriesFrame>(first)->next, 0u);
    collector::collect();
    // Everything live now fits in the first frame.
    SeriesFrame* f0 = memory::at<SeriesFrame>(first);
    for (Handle h = f0->next; h; h = memory::at<SeriesFrame>(h)->next) {
        SeriesFrame* f = memory::at<SeriesFrame>(h);
        EXPECT_EQ(f->bump, memory::handle_of(f->area()));
    }
    SeriesBuffer* b = memory::buffer_of(list->data2);
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(string::to_utf8(&b->head_cell()[i]), "live " + std::to_string(i) + std::string(5000, '.'));
}

TEST_F(Collector, EvacuationRepointsEveryReference) {
    collector::state.enabled = false;
    // Two full node frames, then free most of the second.
    collector::Root list(Cell{T_BLOCK, 0, memory::make_cells(16), 0});
    for (int i = 0; i < 19990; i++) {
        Cell s = make_string(i % 1000 == 999 ? "keep " + std::to_string(i) : "");
        if (i % 1000 == 999) append(list, s);
    }
    Handle second = memory::rec.last_node_frame;
    ASSERT_NE(second, memory::rec.first_node_frame);
    // Free the nodes of the first frame too, so that it is the one with room; the second is
    // sparse and stable.
    for (int i = 0; i < 8; i++) collector::collect();
    EXPECT_GT(collector::state.node_cycles, 0u);
    SeriesBuffer* b = memory::buffer_of(list->data2);
    for (uint32_t i = 0; i < b->length(); i++) {
        Cell* c = &b->head_cell()[i];
        EXPECT_NE(memory::frame_of_node(c->data2), nullptr);
        EXPECT_EQ(memory::buffer_of(c->data2)->node, c->data2);
        EXPECT_EQ(string::to_utf8(c), "keep " + std::to_string(i * 1000 + 999));
    }
    for (Handle h = memory::rec.first_node_frame; h; h = memory::at<NodeFrame>(h)->next)
        EXPECT_EQ(memory::at<NodeFrame>(h)->to_free, 0u);
}

int finalised = 0;
void count_finalise(void*) { finalised++; }

TEST_F(Collector, ExternalResourcesAreFinalisedWhenUnreachable) {
    finalised = 0;
    uint32_t kind = resources::register_finalizer("test", count_finalise);
    uint32_t plain = resources::register_finalizer("plain", nullptr);
    int dummy[3];
    collector::Root held(Cell{T_HANDLE, 0, 0, uint32_t(resources::alloc_slot(&dummy[0], kind))});
    int32_t dropped = resources::alloc_slot(&dummy[1], kind);
    int32_t released = resources::alloc_slot(&dummy[2], kind);
    int32_t no_fin = resources::alloc_slot(&dummy[2], plain);
    EXPECT_EQ(resources::release_slot(released, false), -1);
    collector::collect();
    EXPECT_EQ(finalised, 1);  // only `dropped`; the released slot is not finalised again
    EXPECT_EQ(resources::slot(dropped).kind_flags, resources::SLOT_FREE);
    EXPECT_EQ(resources::slot(no_fin).kind_flags, resources::SLOT_FREE);
    EXPECT_EQ(resources::slot(int32_t(held->data3)).object, &dummy[0]);
    EXPECT_TRUE(resources::mark_slot(int32_t(held->data3), nullptr));
    EXPECT_FALSE(resources::mark_slot(int32_t(held->data3), nullptr));
}

TEST_F(Collector, ResourceTableDoublesAtTheLastFreeSlot) {
    for (int i = 0; i < 999; i++) resources::alloc_slot(nullptr, 0);
    EXPECT_EQ(resources::capacity(), 1000u);
    resources::alloc_slot(nullptr, 0);
    EXPECT_EQ(resources::capacity(), 2000u);
}

TEST_F(Collector, StatisticsAndTheEnabledFlag) {
    collector::Root out(Cell{T_BLOCK, 0, memory::make_cells(8), 0});
    double total = memory::series_stats(nullptr, 1);
    EXPECT_GT(total, 0);
    EXPECT_TRUE(collector::state.enabled);
    memory::series_stats(out.get(), 2);
    EXPECT_TRUE(collector::state.enabled);
    SeriesBuffer* b = memory::buffer_of(out->data2);
    ASSERT_EQ(b->length(), 5u);
    Cell* c = b->head_cell();
    EXPECT_TRUE(c[0].is(T_BLOCK));
    SeriesBuffer* nf = memory::buffer_of(c[0].data2);
    ASSERT_GE(nf->length(), 1u);
    Cell* first = nf->head_cell();
    EXPECT_TRUE(first->header & CELL_NEW_LINE);
    Cell* triple = memory::buffer_of(first->data2)->head_cell();
    EXPECT_EQ(triple[0].data2 + triple[1].data2, triple[2].data2);
    EXPECT_EQ(triple[2].data2, NODES_PER_FRAME);
    EXPECT_TRUE(c[4].is(T_INTEGER));
}

TEST_F(Collector, CycleDepthIsRestoredWhenAnErrorUnwinds) {
    Handle node = memory::make_cells(1);
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([&] {
        cycles::Guard g(node);
        cycles::Guard g2(node + 1);
        stack::raise_error("script", "invalid-arg");
    });
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(cycles::find_q(node));
}

TEST_F(Collector, CycleStackLimit) {
    stack::mark_try(nullptr);
    uint32_t code = testing::unwind_code([] {
        for (uint32_t i = 1; i <= cycles::CAPACITY; i++) cycles::push(i);
    });
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(error::id_word(stack::top_value()), "too-deep");
    EXPECT_EQ(cycles::depth(), 0u);
    for (uint32_t i = 1; i < cycles::CAPACITY; i++) cycles::push(i);
    EXPECT_EQ(cycles::depth(), cycles::CAPACITY - 1);
    cycles::reset();
}

TEST_F(Collector, CycleMarkers) {
    collector::Root out;
    string::make_at(out.get(), 16);
    Cell block{T_BLOCK, 0, memory::make_cells(1), 0};
    Cell obj{T_OBJECT, 77, 0, 0};
    int32_t budget = 100;
    EXPECT_FALSE(cycles::detect_q(&block, out.get(), budget, true));
    cycles::push(block.data2);
    cycles::push(77);
    EXPECT_TRUE(cycles::detect_q(&block, out.get(), budget, true));
    EXPECT_TRUE(cycles::detect_q(&obj, out.get(), budget, true));
    EXPECT_TRUE(cycles::detect_q(&block, out.get(), budget, false));
    EXPECT_EQ(string::to_utf8(out.get()), "[...]make object! [...]...");
    EXPECT_EQ(budget, 100 - 5 - 18 - 3);
    cycles::reset();
}

}  // namespace
}  // namespace kov

namespace kov {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// A pointer into a buffer that was not kept rooted is caught where it is used: the collector
// poisons the space it frees.
TEST(CollectorDeath, StalePointerIntoAFreedBufferIsReported) {
    EXPECT_DEATH(
        {
            cycles::init();
            boot::restart_for_tests();
            boot::booting = false;
            collector::state.enabled = true;
            Handle node = memory::make_bytes(64);
            memory::make_bytes(64);  // a neighbour, so that the freed space is not the tail only
            uint8_t* stale = memory::buffer_of(node)->head_ptr();
            collector::collect();  // nothing roots `node`
            volatile uint8_t x = stale[0];
            (void)x;
        },
        "use-after-poison");
}
#endif

}  // namespace
}  // namespace kov
