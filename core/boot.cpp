// Runtime start-up.
#include "core/boot.hpp"

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/ownership.hpp"
#include "core/resources.hpp"
#include "core/runtime.hpp"
#include "core/runtime_words.hpp"
#include "core/services.hpp"
#include "core/slots.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"

namespace kov::boot {

bool booting = false;
Handle root_block = 0;
void (*step_done)(const char* step) = nullptr;

namespace {

void step(const char* name) {
    if (step_done) step_done(name);
}

// Services that modules built apart from each other lend one another.
void connect_services() {
    hashtable::upper_case_hook = [](uint32_t cp) { return unicode::change_case_char(cp, true); };
    unicode::services.part_word = [](Cell* out) { *out = *word::load("part"); };
    unicode::services.ownership_check = [](const Cell* value, const char* action, uint32_t index,
                                           uint32_t count) {
        collector::Root a(*word::load(action));
        return ownership::check(value, a.get(), nullptr, int32_t(index), int32_t(count));
    };
}

}  // namespace

Cell* keep(const Cell* value) {
    Cell v = *value;
    Cell* c = buffer::alloc_tail_cell(root_block);
    *c = v;
    return c;
}

void init_runtime() {
    booting = true;
    // What an earlier run left is forgotten first, so that no step sees a stale handle.
    collector::state.enabled = false;  // off until the entry routine switches it on
    root_block = 0;
    stack::unbind();
    symbol::unbind();
    context::unbind();
    ownership::unbind();
    unbind_modules();
    cycles::init();
    step("boot-flag");
    output::init_hooks();
    step("output-hooks");
    output::init_console(1);
    runtime::flush_output = output::flush;
    step("platform");
    init_random();
    step("random");
    memory::init();
    resources::init();
    step("memory");
    type_registry::init();
    step("type-tables");
    register_datatypes();
    step("datatypes");
    memory::make_node_frame(NODES_PER_FRAME);
    memory::make_series_frame();
    step("frames");

    // The root block, made alone, then the stacks and the symbol block inside it.
    root_block = memory::make_cells(ROOT_BLOCK_CELLS);
    Handle arg_node, frame_node;
    stack::make_stacks(arg_node, frame_node);
    *buffer::alloc_tail_cell(root_block) = Cell{T_BLOCK, 0, arg_node, 0};
    *buffer::alloc_tail_cell(root_block) = Cell{T_BINARY, 0, frame_node, 0};
    Handle symbol_block = memory::make_cells(symbol::INITIAL_SYMBOLS);
    *buffer::alloc_tail_cell(root_block) = Cell{T_BLOCK, 0, symbol_block, 0};
    step("root-block");

    context::init_global();
    step("global-context");
    unicode::init_case_tables();
    step("case-tables");
    symbol::init_table(symbol_block);
    step("symbol-table");
    type_registry::intern_names();
    step("type-names");
    runtime_words::init();
    runtime_words::init_refinements();
    runtime_words::init_issue();
    step("runtime-words");
    init_method_words();
    step("method-words");
    ownership::init();
    step("ownership");
    stack::init(arg_node, frame_node);
    step("stacks");
    init_errors();
    step("errors");
    connect_services();
    slots::init();
    step("slots");
    collector::init_counters();
    step("collector-counters");
    init_evaluator();
    step("evaluator");
}

// Every module's own init (re)initialises its state; the collector, the global context and the
// ownership table are set back here.
void restart_for_tests() {
    memory::reset_for_tests();
    init_runtime();
}

}  // namespace kov::boot
