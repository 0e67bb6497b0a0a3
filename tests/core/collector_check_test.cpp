// The collector's check mode: stale references of each kind are reported (death tests, under
// AddressSanitizer by its poison report, otherwise by the fill, back-reference and held-back-node
// checks), and what the mode promises of moves and reuse holds for correct code. Also the stress
// period read from the environment.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "core/buffer.hpp"
#include "core/cell_layout.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "datatypes/string.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

// What a stale reference dies of: the poison report, or the check mode's own report.
constexpr const char* STALE = "GC check|use-after-poison";

// Check mode with a collection at every series allocation, for the span of a test.
class CollectorCheck : public testing::RuntimeTest {
protected:
    collector::State saved;
    void SetUp() override {
        ::testing::FLAGS_gtest_death_test_style = "threadsafe";
        RuntimeTest::SetUp();
        saved = collector::state;
        collector::set_check_mode(true);
        collector::state.stress = true;
        collector::state.stress_period = 1;
        collector::state.stress_count = 0;
    }
    void TearDown() override {
        collector::set_check_mode(saved.check);
        collector::state.stress = saved.stress;
        collector::state.stress_period = saved.stress_period;
        collector::state.stress_count = 0;
    }
};

// Resolving a node through memory::buffer_of checks it only where NDEBUG is not defined; under
// AddressSanitizer a stale read is reported by the poison anyway.
bool resolution_checked() {
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

Cell make_string(const std::string& text) {
    collector::Root s;
    string::make_at(s.get(), uint32_t(text.size()));
    string::concatenate_cstring(s.get(), text);
    return s.cell;
}

void append(collector::Root& block, const Cell& value) {
    collector::Root v(value);
    *buffer::alloc_block_tail(block.get()) = v.cell;
}

// ---- (a) a pointer held across an unrelated allocation ----

TEST_F(CollectorCheck, CellPointerHeldAcrossAnAllocationIsReported) {
    if (!resolution_checked()) GTEST_SKIP() << "node resolution is unchecked in this build";
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
    append(block, make_string("moved"));
    EXPECT_DEATH(
        {
            Cell* stale = memory::buffer_of(block->data2)->head_cell();
            memory::make_bytes(16);  // collects: every buffer moves
            memory::buffer_of(stale->data2);
        },
        STALE);
}

TEST_F(CollectorCheck, WriteThroughAPointerHeldAcrossAnAllocationIsReported) {
    collector::RootNode bytes(memory::make_bytes(64));
    buffer::append_bytes(bytes.node, "abc", 3);
    EXPECT_DEATH(
        {
            uint8_t* stale = memory::buffer_of(bytes.node)->head_ptr();
            memory::make_bytes(16);  // collects: the buffer's old place is retired
            stale[1] = 'X';
            collector::collect();
            collector::collect();  // the retired frame is verified before it is released
        },
        STALE);
}

// ---- (b) a pointer held across growth of the same series ----

TEST_F(CollectorCheck, PointersHeldAcrossGrowthOfTheirSeriesAreReported) {
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(1), 0});
    collector::RootNode bytes(memory::make_bytes(16));
    // A cell slot kept while the block grows, and a byte pointer kept while the bytes grow. No
    // collection runs in between: the growth alone leaves the pointer stale.
    collector::state.stress = false;
    const Cell seven{T_INTEGER, 0, 7, 0};
    EXPECT_DEATH(
        {
            Cell* slot = buffer::alloc_block_tail(block.get());
            buffer::alloc_block_tail(block.get());  // the block moves to a bigger buffer
            *slot = seven;  // lands in the copy it left
            collector::collect();
        },
        STALE);
    EXPECT_DEATH(
        {
            uint8_t* tail = buffer::reserve_tail(bytes.node, 4);
            buffer::reserve_tail(bytes.node, 100);
            std::memcpy(tail, "lost", 4);
            collector::collect();
        },
        STALE);
}

// ---- (c) a new series left unrooted ----

TEST_F(CollectorCheck, UnrootedNewSeriesIsReported) {
    if (!resolution_checked()) GTEST_SKIP() << "node resolution is unchecked in this build";
    EXPECT_DEATH(
        {
            Handle unrooted = memory::make_bytes(16);
            memory::make_bytes(16);  // collects: nothing holds `unrooted`
            memory::buffer_of(unrooted);
        },
        "GC check: stale node [0-9]+: freed");
}

TEST_F(CollectorCheck, FreedNodesAreNotReusedAtOnce) {
    std::set<Handle> seen;
    for (int i = 0; i < 1000; i++) {
        Handle node = memory::make_bytes(16);  // each one dies at the next allocation
        EXPECT_TRUE(seen.insert(node).second) << "node " << node << " reused after " << i;
    }
    EXPECT_GT(memory::quarantined_nodes(), 0u);
}

// ---- (d) a node handle held across an explicit collection ----

TEST_F(CollectorCheck, NodeHandleHeldAcrossAnExplicitCollectionIsReported) {
    if (!resolution_checked()) GTEST_SKIP() << "node resolution is unchecked in this build";
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
    EXPECT_DEATH(
        {
            Handle held = block->data2;
            collector::collect();  // every node moves
            memory::buffer_of(held);
        },
        "GC check: stale node [0-9]+: not a node of any live node frame");
}

// ---- the cell validator ----

TEST_F(CollectorCheck, MalformedCellsAreReported) {
    struct Case {
        const char* what;
        uint32_t header;
        int word;        // which data word gets the node
        bool cells;      // the node names cells (else bytes)
        const char* report;
    };
    const Case cases[] = {
        {"block naming bytes", T_BLOCK, 2, false, "names a buffer of unit 1"},
        {"string naming cells", T_STRING, 2, true, "names a buffer of unit 16"},
        {"object naming a plain block", T_OBJECT, 1, true, "is not a context"},
        {"unknown datatype", 200, 0, false, "cell of unknown type 200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DEATH(
            {
                collector::Root bad;
                bad->header = c.header;
                Handle node = c.cells ? memory::make_cells(2) : memory::make_bytes(16);
                if (c.cells) buffer::alloc_tail_cell(node)->header = T_NONE;
                (c.word == 1 ? bad->data1 : bad->data2) = node;
                collector::collect();
            },
            c.report);
    }
}

// ---- what correct code sees ----

TEST_F(CollectorCheck, EveryCollectionMovesEveryLiveBufferAndKeepsItsContents) {
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(8), 0});
    for (int i = 0; i < 8; i++) append(block, make_string("item " + std::to_string(i)));
    collector::RootNode big(memory::make_bytes(3u << 20));
    buffer::append_bytes(big.node, "big", 3);
    for (int round = 0; round < 3; round++) {
        std::vector<SeriesBuffer*> before;
        SeriesBuffer* b = memory::buffer_of(block->data2);
        before.push_back(b);
        for (uint32_t i = 0; i < b->length(); i++) before.push_back(memory::buffer_of(b->head_cell()[i].data2));
        before.push_back(memory::buffer_of(big.node));
        if (round == 2) collector::collect(); else memory::make_bytes(16);
        b = memory::buffer_of(block->data2);
        EXPECT_NE(b, before[0]);
        ASSERT_EQ(b->length(), 8u);
        for (uint32_t i = 0; i < 8; i++) {
            EXPECT_NE(memory::buffer_of(b->head_cell()[i].data2), before[i + 1]);
            EXPECT_EQ(string::to_utf8(&b->head_cell()[i]), "item " + std::to_string(i));
        }
        EXPECT_NE(memory::buffer_of(big.node), before.back());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(memory::buffer_of(big.node)->head_ptr()), 3), "big");
    }
}

TEST_F(CollectorCheck, AnExplicitCollectionMovesEveryNodeAndUpdatesRootedReferences) {
    collector::Root block(Cell{T_BLOCK, 0, memory::make_cells(4), 0});
    for (int i = 0; i < 4; i++) append(block, make_string(std::to_string(i * 11)));
    std::vector<Handle> before{block->data2};
    for (int i = 0; i < 4; i++) before.push_back(memory::buffer_of(block->data2)->head_cell()[i].data2);
    collector::collect();
    EXPECT_NE(block->data2, before[0]);
    SeriesBuffer* b = memory::buffer_of(block->data2);
    for (int i = 0; i < 4; i++) {
        EXPECT_NE(b->head_cell()[i].data2, before[i + 1]);
        EXPECT_EQ(string::to_utf8(&b->head_cell()[i]), std::to_string(i * 11));
    }
    for (Handle old : before) EXPECT_NE(memory::node_problem(old), nullptr);
}

TEST_F(CollectorCheck, AbandonedBuffersAreFilled) {
    collector::RootNode bytes(memory::make_bytes(16));
    buffer::append_bytes(bytes.node, "0123456789", 10);
    collector::state.enabled = false;  // keep the abandoned buffer where it is
    SeriesBuffer* old = memory::buffer_of(bytes.node);
    buffer::expand_copy(old, 0);
    EXPECT_TRUE(old->flags & SER_DEAD_FILLED);
    EXPECT_EQ(old->node, 0u);
#if !defined(__SANITIZE_ADDRESS__)
    for (int32_t i = 0; i < old->size; i++) ASSERT_EQ(old->data()[i], memory::DEAD_BYTE);
#endif
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory::buffer_of(bytes.node)->head_ptr()), 10), "0123456789");
    collector::state.enabled = true;
}

TEST_F(CollectorCheck, SwitchingOffReleasesWhatIsHeldBack) {
    for (int i = 0; i < 50; i++) memory::make_bytes(16);
    collector::collect();
    EXPECT_GT(memory::quarantined_nodes(), 0u);
    EXPECT_GT(memory::retired_frames(), 0u);
    collector::set_check_mode(false);
    EXPECT_EQ(memory::quarantined_nodes(), 0u);
    EXPECT_EQ(memory::retired_frames(), 0u);
    Handle a = memory::make_bytes(16);
    (void)a;
}

// ---- the stress period ----

class StressSettings : public testing::RuntimeTest {
protected:
    std::optional<std::string> env(const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    }
    void put(const char* name, const std::optional<std::string>& v) {
        if (v) setenv(name, v->c_str(), 1); else unsetenv(name);
    }
};

TEST_F(StressSettings, PeriodAndCheckModeFromTheEnvironment) {
    auto stress = env("KOV_GC_STRESS"), check = env("KOV_GC_CHECK");
    struct Case {
        std::optional<std::string> stress, check;
        bool on;
        uint32_t period;
        bool checking;
    };
    const Case cases[] = {
        {"1", std::nullopt, true, 1, false},
        {"7", std::nullopt, true, 7, false},
        {"0", std::nullopt, false, 1, false},
        {"x3", std::nullopt, false, 1, false},
        {"3x", std::nullopt, false, 1, false},
        {"", std::nullopt, false, 1, false},
        {std::nullopt, std::nullopt, false, 1, false},
        {std::nullopt, "1", true, 1, true},
        {"5", "1", true, 5, true},
        {std::nullopt, "0", false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stress.value_or("(unset)") + " / " + c.check.value_or("(unset)"));
        put("KOV_GC_STRESS", c.stress);
        put("KOV_GC_CHECK", c.check);
        collector::init();
        EXPECT_EQ(collector::state.stress, c.on);
        EXPECT_EQ(collector::state.stress_period, c.period);
        EXPECT_EQ(collector::state.check, c.checking);
        EXPECT_EQ(memory::checking, c.checking);
    }
    put("KOV_GC_STRESS", stress);
    put("KOV_GC_CHECK", check);
    collector::init();
}

TEST_F(StressSettings, EveryNthAllocationCollects) {
    collector::State saved = collector::state;
    for (uint32_t period : {1u, 3u, 10u}) {
        collector::state.stress = true;
        collector::state.stress_period = period;
        collector::state.stress_count = 0;
        uint32_t cycles = collector::state.cycles;
        for (int i = 0; i < 30; i++) memory::make_bytes(16);
        EXPECT_EQ(collector::state.cycles - cycles, 30 / period) << "period " << period;
    }
    collector::state.stress = saved.stress;
    collector::state.stress_period = saved.stress_period;
    collector::state.stress_count = 0;
}

}  // namespace
}  // namespace kov
