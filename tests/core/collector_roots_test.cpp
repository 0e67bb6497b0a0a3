// The rooting helpers: rooted series references, contexts and bare nodes keep what they reach
// and follow it when buffers and nodes move; the collector-off scope restores the switch on every
// exit; debug builds stop on an allocation inside NoAlloc and on roots released out of order.
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/symbol.hpp"
#include "datatypes/word.hpp"
#include "words_fixture.hpp"

namespace kov {
namespace {

using testing::WordsTest;

class CollectorRoots : public WordsTest {};

[[maybe_unused]] Cell integer(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }

TEST_F(CollectorRoots, SeriesRefFollowsItsBufferAcrossCollections) {
    memory::make_bytes(5000);  // garbage below the block: the collection slides the block down
    collector::SeriesRef items(T_BLOCK, memory::make_cells(4), 1);
    for (int32_t k = 0; k < 4; k++) *buffer::alloc_tail_cell(items.node()) = integer(k);
    SeriesBuffer* before = items.buffer();
    collector::collect();
    if (!collector::state.stress) {
        EXPECT_NE(items.buffer(), before);
    }
    EXPECT_EQ(items.total(), 4u);
    EXPECT_EQ(items.length(), 3u);
    EXPECT_EQ(items.head_cell()->get_int(), 1);
    EXPECT_EQ(reinterpret_cast<Cell*>(items.head()), items.head_cell());
    EXPECT_EQ(items.cell_at(0)->get_int(), 0);
    items.advance(2);
    EXPECT_EQ(items.head_cell()->get_int(), 3);
    EXPECT_FALSE(items.at_tail());
    items.advance();
    EXPECT_TRUE(items.at_tail());
    EXPECT_EQ(items.length(), 0u);
    EXPECT_EQ(items.head_cell(), items.tail_cell());
    // Writes through the reference land in the block itself.
    items.cell_at(2)->data2 = 42;
    memory::make_bytes(5000);
    collector::collect();
    EXPECT_EQ(memory::buffer_of(items.node())->head_cell()[2].get_int(), 42);
    // Text: head() is the unit at the index.
    collector::SeriesRef text(T_STRING, memory::make_bytes(8), 2);
    SeriesBuffer* b = text.buffer();
    std::memcpy(b->head_ptr(), "abcdef", 6);
    b->tail = b->head + 6;
    collector::collect();
    EXPECT_EQ(*text.head(), 'c');
    EXPECT_EQ(text.length(), 4u);
}

// Nodes move only in an explicit collection that evacuates sparse node frames: the rooted
// records are rewritten then, and what they reach is intact.
TEST_F(CollectorRoots, RootedRecordsFollowEvacuatedNodes) {
    collector::state.enabled = false;
    for (int i = 0; i < 24990; i++) memory::make_bytes(16);  // garbage filling node frames
    collector::RootContext ctx(context::create(4, false, true, nullptr, context::KIND_OBJECT));
    Cell a{T_WORD, 0, symbol::make("a"), 0xFFFFFFFFu};
    Cell seven = integer(7);
    context::add_with(ctx.handle(), &a, &seven);
    collector::SeriesRef items(T_BLOCK, memory::make_cells(2));
    collector::RootNode text(memory::make_bytes(16));
    std::memcpy(memory::buffer_of(text.node)->head_ptr(), "kept", 5);
    collector::RootNode inner(memory::make_bytes(16));
    *buffer::alloc_tail_cell(items.node()) = Cell{T_BINARY, 0, inner.node, 0};
    for (int i = 0; i < 8; i++) collector::collect();
    EXPECT_GT(collector::state.node_cycles, 0u);
    int32_t slot = context::find_word(ctx.handle(), a.data2, false);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(context::value_cell(ctx.handle(), slot)->get_int(), 7);
    EXPECT_STREQ(reinterpret_cast<const char*>(memory::buffer_of(text.node)->head_ptr()), "kept");
    ASSERT_EQ(items.total(), 1u);
    EXPECT_EQ(items.cell_at(0)->data2, inner.node);  // the block's cell was rewritten too
}

TEST_F(CollectorRoots, CollectorOffRestoresTheSwitchOnEveryExit) {
    struct Case {
        const char* name;
        bool raise;
    };
    const Case cases[] = {{"normal exit", false}, {"raised error", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(collector::state.enabled);
        uint32_t cycles = collector::state.cycles;
        stack::Snapshot snap;
        stack::mark_try(nullptr);
        uint32_t code = testing::unwind_code([&] {
            collector::CollectorOff off;
            EXPECT_FALSE(collector::state.enabled);
            {
                collector::CollectorOff nested;
                EXPECT_FALSE(collector::state.enabled);
            }
            EXPECT_FALSE(collector::state.enabled);
            for (int i = 0; i < 200; i++) memory::make_bytes(64);
            if (c.raise) stack::raise_error("script", "no-value");
        });
        snap.restore();
        EXPECT_EQ(code, c.raise ? THROW_ERROR : 0u);
        EXPECT_TRUE(collector::state.enabled);
        // Under KOV_GC_STRESS every allocation above would have collected.
        EXPECT_EQ(collector::state.cycles, cycles);
    }
}

#ifndef NDEBUG
// Starts a runtime inside a death-test child.
void start_runtime() {
    cycles::init();
    collector::init();
    boot::restart_for_tests();
    boot::booting = false;
    collector::state.enabled = true;
}

TEST(CollectorRootsDeath, AllocationInsideNoAllocIsReported) {
    struct Case {
        const char* name;
        void (*allocate)(Handle block);  // a block of one cell, full, made before the scope
        const char* report;
    };
    const Case cases[] = {
        {"series", [](Handle) { memory::make_cells(4); },
         "a series buffer allocated inside NoAlloc \\(outer scope\\)"},
        {"node", [](Handle) { memory::alloc_node(); },
         "a node allocated inside NoAlloc \\(outer scope\\)"},
        {"growth", [](Handle block) { buffer::alloc_tail_cell(block); },
         "a series buffer allocated inside NoAlloc \\(outer scope\\)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EXIT(
            {
                start_runtime();
                Handle block = memory::make_cells(1);
                SeriesBuffer* b = memory::buffer_of(block);
                b->tail = uint32_t(b->size);
                collector::NoAlloc outer("outer scope");
                { collector::NoAlloc inner("inner scope"); }
                c.allocate(block);
            },
            ::testing::ExitedWithCode(FATAL_ASSERTION), c.report);
    }
}

// Reads and writes of a resolved word and pushes allocate nothing; allocation is allowed again
// once the scope ends.
void work_without_allocation() {
    start_runtime();
    Cell w = *word::load("free-of-allocation");
    Cell v = integer(5);
    {
        collector::NoAlloc scope("resolved word");
        context::set(&w, &v);
        if (context::get(&w)->get_int() != 5) std::_Exit(1);
        stack::push(&v);
        stack::pop(1);
    }
    memory::make_cells(4);
    std::_Exit(0);
}

TEST(CollectorRootsDeath, NoAllocAllowsWorkThatDoesNotAllocate) {
    EXPECT_EXIT(work_without_allocation(), ::testing::ExitedWithCode(0), "");
}

TEST(CollectorRootsDeath, RootsReleasedOutOfOrderAreReported) {
    EXPECT_EXIT(
        {
            auto* first = new collector::Root();
            auto* second = new collector::Root();
            (void)second;
            delete first;
        },
        ::testing::ExitedWithCode(FATAL_ASSERTION),
        "a root was released while a root made after it was still held");
}
#endif

}  // namespace
}  // namespace kov
