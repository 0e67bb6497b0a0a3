// Runtime start-up.
#include "core/boot.hpp"

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/resources.hpp"
#include "core/runtime.hpp"
#include "core/slots.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/simple.hpp"
#include "evaluator/random.hpp"

namespace kov::boot {

bool booting = false;
Handle root_block = 0;

namespace {

std::vector<std::string> steps;

void step(const char* name) { steps.emplace_back(name); }

// The datatype inits in registration order: every parent comes before its children.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
}

}  // namespace

const std::vector<std::string>& steps_run() { return steps; }

Cell* keep(const Cell* value) {
    Cell v = *value;
    Cell* c = buffer::alloc_tail_cell(root_block);
    *c = v;
    return c;
}

void init_runtime() {
    steps.clear();
    booting = true;
    step("boot-flag");
    output::init_hooks();
    step("output-hooks");
    output::init_console(1);
    runtime::flush_output = output::flush;
    step("platform");
    random::init();
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

    // The root block, made alone, then the stacks inside it.
    root_block = memory::make_cells(ROOT_BLOCK_CELLS);
    Handle arg_node, frame_node;
    stack::make_stacks(arg_node, frame_node);
    *buffer::alloc_tail_cell(root_block) = Cell{T_BLOCK, 0, arg_node, 0};
    *buffer::alloc_tail_cell(root_block) = Cell{T_BINARY, 0, frame_node, 0};
    step("root-block");

    unicode::init_case_tables();
    step("case-tables");
    stack::init(arg_node, frame_node);
    step("stacks");
    slots::init();
    step("slots");
    collector::init_counters();
    step("collector-counters");
}

void restart_for_tests() {
    collector::state.enabled = false;
    root_block = 0;
    stack::begin = stack::end = stack::arguments = stack::top = nullptr;
    stack::frame_begin = stack::frame_end = stack::frame_top = nullptr;
    stack::arg_stack_node = stack::frame_stack_node = 0;
    slots::table_node = 0;
    cycles::reset();
    memory::reset_for_tests();
    init_runtime();
}

}  // namespace kov::boot
