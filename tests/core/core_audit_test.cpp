// Behaviours of the memory manager, the collector, the stacks and the simple datatypes that are
// easy to get subtly wrong: where compaction puts runs, what a caught throw leaves behind, the
// words that name frames and parameters, the resource free list, and the collector switch
// around the statistics routine.
#include <string>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/resources.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

using testing::RuntimeTest;
using testing::unwind_code;

class CoreAudit : public RuntimeTest {
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
TEST_F(CoreAudit, RunsGoToThePreviousFrameWholeOrWithoutTheirLastBuffer) {
    if (collector::state.check) GTEST_SKIP() << "check mode moves every buffer";
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

// A throw that a catch frame received leaves no origin behind: the next name report starts at
// the top frame, not at the frame the throw came from.
TEST_F(CoreAudit, ACaughtThrowLeavesNoErrorOrigin) {
    Cell thrower = *word::load("audit-thrower");
    Cell a = *word::load("audit-a"), b = *word::load("audit-b"), c = *word::load("audit-c");
    stack::mark_catch(nullptr);
    stack::mark_native(&thrower);
    Cell v{T_INTEGER, 0, 3, 0}, name{T_NONE, 0, 0, 0};
    stack::push(&v);
    stack::push(&name);
    EXPECT_EQ(unwind_code([] { stack::throw_value(1234); }), 1234u);
    stack::unwind();  // the catch frame is left
    stack::mark_native(&a);
    stack::mark_native(&b);
    stack::mark_native(&c);
    Cell where;
    stack::frame_name(&where);
    EXPECT_EQ(symbol::name(where.data2), "audit-c");
}

// The word naming a frame is bound in the frame's name context, so it can be looked up there;
// with no named frame the answer is the runtime's word <not-found>.
TEST_F(CoreAudit, FrameNamesAreWordsOfTheirContext) {
    Cell w = *word::load("audit-fn");
    ASSERT_EQ(w.data1, context::global);
    Cell value{T_INTEGER, 0, 5, 0};
    context::set(&w, &value);
    Cell none_name;
    stack::frame_name(&none_name);
    EXPECT_EQ(none_name.header, runtime_words::words::not_found.header);
    EXPECT_EQ(none_name.data1, runtime_words::words::not_found.data1);
    EXPECT_EQ(none_name.data2, runtime_words::words::not_found.data2);
    EXPECT_EQ(none_name.data3, runtime_words::words::not_found.data3);
    stack::mark_native(&w);
    Cell name;
    stack::frame_name(&name);
    EXPECT_EQ(name.data1, context::global);
    EXPECT_EQ(name.data2, w.data2);
    ASSERT_EQ(name.data3, w.data3);
    EXPECT_EQ(context::get(&name)->data2, 5u);
    // A name whose context does not hold it stays a word of that symbol, unbound.
    Cell stray{T_WORD, context::global, symbol::make("audit-not-there"), 0xFFFFFFFFu};
    stack::mark_native(&stray);
    stack::frame_name(&name);
    EXPECT_EQ(symbol::name(name.data2), "audit-not-there");
    EXPECT_EQ(name.data3, 0xFFFFFFFFu);
}

// A stale handle that marks a released slot must not put the slot on the free list twice.
TEST_F(CoreAudit, MarkingAReleasedResourceSlotKeepsTheFreeListSound) {
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

// The statistics routine switches the collector off while it works and back on afterwards,
// also when an error leaves it.
TEST_F(CoreAudit, StatisticsRestoreTheCollectorSwitchWhenAnErrorLeaves) {
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

// Expanding to fewer bytes than are in use keeps head and tail inside the data area.
TEST_F(CoreAudit, ExpandingBelowTheUsedPartKeepsTheTailInside) {
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

// Argument errors name the parameter through the parameter-word service: logic! math names the
// second parameter (0-based index 1), and without a function spec the word is <anon>.
int32_t asked_param = -1;
void audit_param_word(int32_t n, Cell* out) {
    asked_param = n;
    *out = *word::load("audit-param");
}

TEST_F(CoreAudit, ArgumentErrorsNameTheParameterWord) {
    auto saved = stack::param_word;
    stack::param_word = audit_param_word;
    asked_param = -1;
    stack::mark_try(nullptr);
    logic::push(true);
    Cell n{T_INTEGER, 0, 1, 0};
    stack::push(&n);
    EXPECT_EQ(unwind_code([] { reinterpret_cast<FrameFn>(type_registry::entry(T_LOGIC, A_OR_T))(); }),
              THROW_ERROR);
    stack::param_word = saved;
    EXPECT_EQ(error::id_word(stack::top_value()), "expect-arg");
    EXPECT_EQ(asked_param, 1);
    EXPECT_EQ(error::field(stack::top_value(), error::F_ARG3)->data2, word::load("audit-param")->data2);

    // The default service: no function spec to read, so the word <anon>.
    Cell ts{T_TYPESET, 0, 0, 0};
    Cell v{T_INTEGER, 0, 0, 0};
    stack::mark_try(nullptr);
    EXPECT_EQ(unwind_code([&] { stack::check_type(&ts, 0, &v); }), THROW_ERROR);
    Cell* word3 = error::field(stack::top_value(), error::F_ARG3);
    EXPECT_TRUE(word3->is(T_WORD));
    EXPECT_EQ(word3->data2, runtime_words::words::anon.data2);
}

}  // namespace
}  // namespace kov
