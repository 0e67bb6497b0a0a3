// The start-up sequence: the order of its steps as seen through the state each one leaves, the
// root block, and no collection while booting.
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/runtime_words.hpp"
#include "core/slots.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "evaluator/random.hpp"
#include "runtime_fixture.hpp"

namespace kov {
namespace {

// What the runtime holds after a step, read from the modules' own state.
enum Fact {
    SEEDED,         // the hash seed is set
    MEMORY,         // the memory manager is up
    REGISTRY,       // the datatypes are registered
    FRAMES,         // the first node frame and series frame exist
    ROOT_BLOCK,     // the root block exists
    GLOBAL,         // the global context exists
    SYMBOLS,        // the symbol table exists
    TYPE_NAMES,     // the datatypes' name words are interned
    RUNTIME_WORDS,  // the runtime's own words are interned
    OWNERSHIP,      // the ownership table exists
    STACKS,         // the argument and call-frame stacks are bound
    SLOTS,          // the slot table exists
    FACT_COUNT
};
const char* const fact_names[FACT_COUNT] = {
    "seeded", "memory", "registry", "frames", "root block", "global context", "symbol table",
    "type names", "runtime words", "ownership", "stacks", "slots"};

struct Observation {
    std::string step;
    bool holds[FACT_COUNT];
    bool stacks_in_root_block;   // the root block holds the bound stacks' series
    bool symbols_in_root_block;  // the root block holds the symbol table's block
};

std::vector<Observation>* observations = nullptr;

Cell* root_cell(uint32_t i) {
    SeriesBuffer* b = memory::buffer_of(boot::root_block);
    return b->length() > i ? b->head_cell() + i : nullptr;
}

void observe(const char* step) {
    Observation o{step, {}, false, false};
    o.holds[SEEDED] = hashtable::seed() == 0x0055860Cu;
    o.holds[MEMORY] = memory::arena && memory::rec.default_frame_size != 0;
    o.holds[REGISTRY] = type_registry::names[T_LOGIC].name && type_registry::names[T_SYMBOL].name;
    o.holds[FRAMES] = memory::rec.first_node_frame && memory::rec.first_series_frame;
    o.holds[ROOT_BLOCK] = boot::root_block != 0;
    o.holds[GLOBAL] = context::global != 0;
    o.holds[SYMBOLS] = symbol::table != 0;
    o.holds[TYPE_NAMES] = type_registry::names[T_LOGIC].word.is(T_WORD);
    o.holds[RUNTIME_WORDS] = runtime_words::words::anon.is(T_WORD);
    o.holds[OWNERSHIP] = ownership::table != 0;
    o.holds[STACKS] = stack::begin != nullptr;
    o.holds[SLOTS] = slots::table_node != 0;
    if (o.holds[STACKS] && o.holds[ROOT_BLOCK]) {
        Cell* a = root_cell(0);
        Cell* f = root_cell(1);
        o.stacks_in_root_block = a && f && a->data2 == stack::arg_stack_node &&
                                 f->data2 == stack::frame_stack_node;
    }
    if (o.holds[SYMBOLS] && o.holds[ROOT_BLOCK]) {
        Cell* s = root_cell(2);
        o.symbols_in_root_block = s && s->is(T_BLOCK) && s->data2 == hashtable::record(symbol::table)->data;
    }
    observations->push_back(o);
}

// Restarts the runtime with the probe installed, from a state where nothing that the start-up
// makes is left over: what a restart does not set back is cleared first.
std::vector<Observation> observe_startup() {
    std::vector<Observation> seen;
    observations = &seen;
    hashtable::set_seed(0);
    type_registry::init();
    runtime_words::words::anon = Cell{};
    slots::table_node = 0;
    cycles::init();
    boot::step_done = observe;
    boot::restart_for_tests();
    boot::step_done = nullptr;
    observations = nullptr;
    return seen;
}

TEST(Startup, StepsRunInTheOrderTheirStateShows) {
    std::vector<Observation> seen = observe_startup();
    ASSERT_FALSE(seen.empty());
    // The first step after which each fact holds; once it holds it keeps holding.
    size_t first[FACT_COUNT];
    for (int f = 0; f < FACT_COUNT; f++) {
        first[f] = seen.size();
        for (size_t i = 0; i < seen.size(); i++) {
            if (seen[i].holds[f] && first[f] == seen.size()) first[f] = i;
            if (first[f] < i) {
                EXPECT_TRUE(seen[i].holds[f]) << fact_names[f] << " lost at " << seen[i].step;
            }
        }
        EXPECT_LT(first[f], seen.size()) << fact_names[f] << " never holds";
    }
    // Each fact arises at a later step than the ones it rests on (or, for memory, no later: a
    // restart keeps the memory manager up).
    struct Order { Fact before, after; bool strict; };
    const Order orders[] = {
        {SEEDED, REGISTRY, true},      // the hash seed is set before memory and any table
        {MEMORY, REGISTRY, false},
        {REGISTRY, FRAMES, true},
        {FRAMES, ROOT_BLOCK, true},
        {ROOT_BLOCK, GLOBAL, true},
        {GLOBAL, SYMBOLS, true},
        {SYMBOLS, TYPE_NAMES, true},
        {TYPE_NAMES, RUNTIME_WORDS, true},
        {RUNTIME_WORDS, OWNERSHIP, true},
        {OWNERSHIP, STACKS, true},
        {STACKS, SLOTS, true},
    };
    for (const Order& o : orders) {
        if (o.strict) {
            EXPECT_LT(first[o.before], first[o.after]) << fact_names[o.before] << " / " << fact_names[o.after];
        } else {
            EXPECT_LE(first[o.before], first[o.after]) << fact_names[o.before] << " / " << fact_names[o.after];
        }
    }
    // The stacks and the symbol table live in the root block from the step that makes them.
    for (const Observation& o : seen) {
        if (o.holds[STACKS]) {
            EXPECT_TRUE(o.stacks_in_root_block) << o.step;
        }
        if (o.holds[SYMBOLS]) {
            EXPECT_TRUE(o.symbols_in_root_block) << o.step;
        }
    }
    EXPECT_TRUE(boot::booting);
    EXPECT_FALSE(collector::state.enabled);
}

TEST(Startup, NoCollectionDuringStartup) {
    cycles::init();
    boot::restart_for_tests();
    uint32_t cycles_before = collector::state.cycles;
    for (int i = 0; i < 100; i++) memory::make_bytes(100000);
    EXPECT_EQ(collector::state.cycles, cycles_before);
}

}  // namespace
}  // namespace kov
