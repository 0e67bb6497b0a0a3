// The interpreter: evaluates blocks of values in place, one expression at a time, and hands the
// function values it meets to the invocation machinery (evaluator/invocation.cpp), which fetches
// their arguments from the block and runs them.
//
// Modes. In argument mode the value of an expression is pushed as one more cell on the argument
// stack (a caller is collecting arguments); in statement mode it is written into the current
// frame's result slot, with the stack top just above it.
//
// Positions are cell indexes from the head of the code block's buffer, never pointers: the
// block lives in a rooted cell (`Code`), and its buffer is looked up again after anything that
// may allocate or run Kov code. The tail is read anew at every step, so code that changes the
// block it runs in cannot make the walk read past its end.
//
// Transfers. Every routine answers a Status: a non-normal one is a break, continue, return,
// exit, throw or error already delivered to the frame that receives it (core/stack.hpp); the
// interpreter then returns at once without touching the stacks, up to the receiver.
#pragma once

#include <initializer_list>
#include <string_view>

#include <cstdint>

#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/value.hpp"

namespace kov::interpreter {

// The block being evaluated, rooted for the span of the evaluation.
struct Code {
    collector::Root block;
    uint32_t limit = UINT32_MAX;  // positions past it count as the tail (one-value arguments)
    mutable uint64_t generation = ~uint64_t(0);  // the buffer as found in this memory generation
    mutable SeriesBuffer* found = nullptr;
    bool function_body = false;  // a function's body, evaluated in the frame above the function's
    explicit Code(const Cell& b) : block(b) {}
    Handle node() const { return block.cell.data2; }
    SeriesBuffer* buffer() const {
        if (generation != memory::generation) [[unlikely]] {
            found = memory::buffer_of(block.cell.data2);
            generation = memory::generation;
        }
        return found;
    }
    // The cell at a position (valid until the next allocation).
    Cell* at(uint32_t pos) const { return buffer()->head_cell() + pos; }
    // Cells in the buffer: positions run up to this tail.
    uint32_t tail() const { return tail_in(buffer()); }
    // The same, over the buffer already looked up.
    uint32_t tail_in(const SeriesBuffer* b) const {
        uint32_t t = b->used() >> 4;
        return t < limit ? t : limit;
    }
};

// The position after an expression, and the status of its evaluation.
struct Step {
    uint32_t pos;
    Status status;
};

// Fetch modes of the apply native (0 for ordinary calls).
constexpr int FETCH_POSITIONAL = 1;   // /all: refinements given as logic! in their places
constexpr int FETCH_NAMED = 2;        // refinements named in the block, each followed by its truth
constexpr int FETCH_SAFER = 4;        // each argument is exactly one value of the block

// interpreter/tracing?: events are being fired. One test per event site; the trace run
// (evaluator/tracing.hpp) switches it.
extern bool tracing;

// Allocates the near cell and the trace-callback cell in the root block; installs the hooks
// through which the datatypes run Kov code (function and object handlers, sort comparators,
// lexer callbacks).
void init();

// interpreter/near: the block being evaluated, its index at the expression under way.
Cell* near();

// Evaluates the block from its index to its tail in a frame of its own. The value of the last
// expression (unset! for an empty block) goes into the caller's result slot (last) or becomes
// the caller's new top cell.
Status eval(const Cell* block, bool last);

// Evaluates a function's body (eval, last): a `return` at its top level ends it in place.
Status eval_function_body(const Cell* block);

// Evaluates the block as the last act of a native, in the native's own frame: its statements
// take the frame's result slot (the arguments are read before), the last value stays there.
Status eval_here(const Cell* block);

// A block evaluated turn after turn (a loop's body): rooted, and interpreter/near saved, once
// for all its runs. Each run evaluates the block in the loop's own frame, into its result slot
// (the loop's state lies below the frame's base); near is put back after each and at the end.
struct Body {
    Code code;
    collector::Root saved_near;
    explicit Body(const Cell& block);
    ~Body();
    Status run();
};

// Calls the global word's function with the values (each taken as it is, not evaluated), as the
// library's own code, so an error in it is reported near the caller's code. The result goes into
// the caller's result slot. The values must not move (rooted or argument-stack cells).
Status call_library(std::string_view word, std::initializer_list<const Cell*> values);

// Evaluates exactly one expression of a code block at a position, in a frame named <body>; its
// value is pushed (argument mode) or written into the caller's result slot.
Step eval_next(const Cell* block, uint32_t pos, bool arg_mode);

// One expression at the series' index: its value is pushed; the index after it is answered. At
// the tail: unset! and the index unchanged.
Step eval_next_index(const Cell* series);

// One expression starting at `pos`; answers the position after it (never beyond the tail).
Step eval_expression(Code& code, uint32_t pos, bool no_infix, bool arg_mode, bool passive);

// The same in argument mode, for an expression that the quick road below has just declined.
Step eval_declined(Code& code, uint32_t pos);

// The quick roads of one argument expression are invocation::eval_argument; this is the general
// rule it leaves the rest to.
Step eval_rest(Code& code, uint32_t pos);
// The quick call of `v`, the native, action or function the word `c` at `pos` names (both read
// just now), as eval_front makes it in argument mode; with `v` null, eval_front itself (a
// set-word).
Step eval_call_front(Code& code, uint32_t pos, const Cell* v, const Cell* c);

// The paren at `pos` (not tracing): its block evaluated (as a statement in the current frame,
// as an argument in a frame of its own), then the infix rule, as the general rule takes it.
Step eval_paren_front(Code& code, uint32_t pos, bool arg_mode);

// The infix rule from `pos` over the left operand at `start_top` (argument mode).
Step eval_infix_from(Code& code, uint32_t pos, Cell* start_top);

// The quick road of one argument expression (argument mode): a value that evaluates to itself,
// or a word whose context holds such a value, is pushed without the general rule, and an
// operator word after it (unless `no_infix`) goes straight to the infix rule. Answers position
// 0 (nothing done) for anything else, and always while tracing.
// A value of this datatype evaluates to itself: the quick road below pushes it as it is.
constexpr uint64_t NOT_SIMPLE =
    uint64_t(1) << T_UNSET | uint64_t(1) << T_WORD | uint64_t(1) << T_SET_WORD | uint64_t(1) << T_GET_WORD |
    uint64_t(1) << T_LIT_WORD | uint64_t(1) << T_PAREN | uint64_t(1) << T_PATH | uint64_t(1) << T_GET_PATH |
    uint64_t(1) << T_SET_PATH | uint64_t(1) << T_LIT_PATH | uint64_t(1) << T_OP | uint64_t(1) << T_NATIVE |
    uint64_t(1) << T_ACTION | uint64_t(1) << T_FUNCTION | uint64_t(1) << T_ROUTINE | uint64_t(1) << T_ISSUE;
inline bool simple_value(uint32_t t) { return t >= 64 || !((NOT_SIMPLE >> t) & 1); }

inline Step eval_simple(Code& code, uint32_t pos, bool no_infix) {
    if (tracing) [[unlikely]] return {0, Status::normal};
    SeriesBuffer* b = code.buffer();
    uint32_t tail = code.tail_in(b);
    if (pos >= tail) return {0, Status::normal};
    const Cell* head = b->head_cell();
    const Cell* v = head + pos;
    uint32_t t = v->type();
    if (t == T_WORD) {
        Handle ctx = v->data1;
        if (!ctx || int32_t(v->data3) < 0) return {0, Status::normal};
        v = context::value_cell(ctx, v->data3);
        if (!v) return {0, Status::normal};
        t = v->type();
    }
    switch (t) {
    case T_UNSET: case T_WORD: case T_SET_WORD: case T_GET_WORD: case T_LIT_WORD: case T_PAREN:
    case T_PATH: case T_GET_PATH: case T_SET_PATH: case T_LIT_PATH: case T_OP: case T_NATIVE:
    case T_ACTION: case T_FUNCTION: case T_ROUTINE: case T_ISSUE:
        return {0, Status::normal};
    default:
        break;
    }
    Cell* start_top = stack::top;
    stack::push(v);
    if (!no_infix && pos + 1 < tail) {
        const Cell* w = head + pos + 1;
        if (w->is(T_WORD)) return eval_infix_from(code, pos + 1, start_top);
    }
    return {pos + 1, Status::normal};
}

// A path, get-path or set-path found at pos - 1 (its arguments start at pos). For a set-path
// the value to store is the first cell of the current frame.
Step eval_path(const Cell* path, Code& code, uint32_t pos, bool set, bool get, bool arg_mode,
               bool case_sensitive);

// Calls a function value (native!, action!, function!, routine!). `pos` is where its arguments
// start; `call_pos` the position of the word that named it (or -1); `path` the path whose
// following elements are its refinements (or null), `name_index` the path element that named
// it; `parent` the value the function was reached through (or null); `name` a word that names
// the call instead (apply's word), or null.
Step eval_code(const Cell* fn, Code* code, uint32_t pos, bool arg_mode, const Cell* path,
               int32_t name_index, int32_t call_pos, const Cell* parent, int fetch_mode,
               bool infix, const Cell* name = nullptr);

// Runs a function! whose arguments are in place in the current frame (a function frame): the
// body is evaluated with the function's context pointing at the frame; return and exit end
// here. The result is in the frame's result slot. `call_ref` is the cell at the calling position
// (for the trace events around the body; null for none).
Status exec_function(const Cell* fn, Handle defining_ctx, const Cell* call_ref = nullptr);

// Calls a function value with the given argument values (already evaluated), as a
// statement-mode call of the current frame: the result is written into `out` (a rooted cell).
// Used by the datatypes' hooks (comparators, lexer callbacks) and by natives.
Status call_with(const Cell* fn, const Cell* const* args, int count, Cell* out);

// A value's truth for either, while, until and case: unset! raises script error no-return.
bool true_q(const Cell* value);

}  // namespace kov::interpreter
