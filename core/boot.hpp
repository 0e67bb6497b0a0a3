// Runtime start-up: brings the runtime from nothing to the point where values can be made,
// interned, bound and stored, in a fixed order of steps.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::boot {

extern bool booting;        // set at the first step; cleared by the entry routine
extern Handle root_block;   // the root block's node (a root of the collector)
constexpr uint32_t ROOT_BLOCK_CELLS = 8749;

// The start-up sequence. Leaves the collector off and the boot phase flag set.
void init_runtime();
// Called after each step with the step's name, when set (for diagnostics and tests).
extern void (*step_done)(const char* step);

// Appends a copy of a value to the root block (keeps it alive for the whole run).
Cell* keep(const Cell* value);

// For tests: discards every value and starts the runtime afresh.
void restart_for_tests();

// Steps that the layers above the core provide (boot/runtime_modules.cpp); init_runtime runs
// them in its order.
// Seeds the random generator and sets the process-wide hash seed (before any table exists).
void init_random();
// Registers every datatype, each parent before its children.
void register_datatypes();
// Forgets what those layers kept of an earlier run (first, before anything allocates).
void unbind_modules();
// Interns the method words of the evaluator's services (checksums, then compression) once the
// symbol table and the runtime's own words exist, registers their natives, and makes the output
// decoding buffer of process calls.
void init_method_words();
// Reads the error catalogue and makes the error prototype (once the stacks exist: from then on
// errors can be made).
void init_errors();
// Fills the natives table and the action front-ends, and sets up the interpreter.
void init_evaluator();

}  // namespace kov::boot
