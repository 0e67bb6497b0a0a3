// The argument stack and the call-frame stack, the argument checks of library code, and the
// non-local control transfers (errors, break, continue, return, exit, throw) that travel to the
// frame kind that receives them.
// Both stacks are fixed series: their buffers never move, so cell pointers into them stay valid.
#pragma once

#include <csignal>
#include <cstdint>
#include <exception>
#include <initializer_list>

#include "core/context_lookup.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov {

// Frame kinds as written in bits 24-31 of the frame header.
enum FrameKind : uint32_t {
    FRAME_FUNC = 0x01, FRAME_NATIVE = 0x02, FRAME_TRY = 0x04, FRAME_TRY_ALL = 0x05,
    FRAME_CATCH = 0x06, FRAME_LOOP = 0x08, FRAME_FUNC_BODY = 0x12,
    FRAME_INTERP_FUNC = 0x81, FRAME_INTERP_NATIVE = 0x82, FRAME_EVAL = 0x87
};
constexpr uint32_t FRAME_IN_FUNC = 0x10000000;  // receives return and exit
constexpr uint32_t FRAME_INTERP = 0x80000000;

// One activation. The name symbol has a word of its own.
struct CallFrame {
    uint32_t header;        // bits 24-31 kind and flags
    uint32_t symbol;        // symbol id of the frame's name
    uint32_t saved_args;    // the caller's arguments base, as a cell index from begin
    Handle name_ctx;        // context of the name word
    Handle func_ctx;        // kind 1 only: the function's context node
    uint32_t saved_values;  // kind 1 only: that context's values (argument-stack index + 1, or 0)
    uint32_t kind() const { return (header >> 24) & 0x0F; }
};

constexpr uint32_t ARG_STACK_CELLS = 20000;
constexpr uint32_t FRAME_STACK_FRAMES = 12000;

namespace stack {

extern Cell* begin;
extern Cell* end;
extern Cell* arguments;  // the current frame's base; arguments[0] is the result slot
extern Cell* top;        // next free cell
extern CallFrame* frame_begin;
extern CallFrame* frame_end;
extern CallFrame* frame_top;  // just past the top frame
extern Handle arg_stack_node, frame_stack_node;

// Forgets any stacks of an earlier run: until init, no stack exists (an error raised then is
// fatal). The start-up runs it first.
void unbind();
// Binds the globals to the two stack series and pushes the bottom frame.
void init(Handle arg_node, Handle frame_node);
// Makes both stacks as fixed series (the start-up keeps them in the root block).
void make_stacks(Handle& arg_node, Handle& frame_node);

// Raises stack-overflow (out of line, off the hot paths).
[[noreturn, gnu::cold]] void push_overflow();

// A request to stop the evaluation in progress, set from outside it (a signal handler or a
// timer of an embedding program). The loops and parse's rule steps test it once per iteration,
// and function! bodies once per call: while it is set, each of them raises internal error
// limit-hit (arg1 the word time); the requester clears it.
extern volatile std::sig_atomic_t interrupt_requested;
[[noreturn, gnu::cold]] void raise_interrupt();
inline void check_interrupt() {
    if (interrupt_requested) [[unlikely]] raise_interrupt();
}

// Marks. A word cell may be null (anonymous frame). The plain mark is inline: the interpreter
// marks a frame for every call and every block it evaluates.
[[gnu::always_inline]] inline Cell* mark(const Cell* name, uint32_t kind) {
    if (frame_top >= frame_end || runtime::machine_stack_low()) [[unlikely]] push_overflow();
    CallFrame* f = frame_top++;
    f->header = kind << 24;
    f->symbol = name ? name->data2 : 0;
    f->saved_args = uint32_t(arguments - begin);
    f->name_ctx = name ? name->data1 : 0;
    f->func_ctx = 0;
    f->saved_values = 0;
    arguments = top;
    return arguments;
}
// A function frame: the function's context (its values are pointed at the frame by the
// caller) and the values it had, put back when the frame is left. Inline: every call of a
// function! marks one.
[[gnu::always_inline]] inline Cell* mark_func(const Cell* name, Handle ctx) {
    Cell* base = mark(name, FRAME_FUNC);
    CallFrame* f = frame_top - 1;
    f->func_ctx = ctx;
    f->saved_values = ctx ? context::cached_cell(ctx)->data2 : 0;
    return base;
}
Cell* mark_func_body(const Cell* name, Handle ctx);
inline Cell* mark_native(const Cell* name) { return mark(name, FRAME_NATIVE); }
inline Cell* mark_try(const Cell* name) { return mark(name, FRAME_TRY); }
inline Cell* mark_try_all(const Cell* name) { return mark(name, FRAME_TRY_ALL); }
inline Cell* mark_catch(const Cell* name) { return mark(name, FRAME_CATCH); }
inline Cell* mark_loop(const Cell* name) { return mark(name, FRAME_LOOP); }
inline Cell* mark_interp_func(const Cell* name) { return mark(name, FRAME_INTERP_FUNC); }
inline Cell* mark_interp_native(const Cell* name) { return mark(name, FRAME_INTERP_NATIVE); }
inline Cell* mark_eval(const Cell* name) { return mark(name, FRAME_EVAL); }

inline CallFrame* ctop();
inline void set_in_func_flag(bool on) {
    if (on) ctop()->header |= FRAME_IN_FUNC; else ctop()->header &= ~FRAME_IN_FUNC;
}
inline void set_interp_flag() { ctop()->header |= FRAME_INTERP; }
CallFrame* set_in_func_flag_once();
void clear_in_func_flag(CallFrame* frame);
inline CallFrame* ctop() { return frame_top - 1; }
inline void set_ctop(CallFrame* frame) { frame_top = frame; }
bool interp_frame_below(CallFrame* frame, bool one_frame);
inline uint32_t frame_depth() { return uint32_t(frame_top - frame_begin); }

// Values.
inline uint32_t index_of(const Cell* c) { return uint32_t(c - begin); }
// Raises stack-overflow for a push past the end (out of line, off the hot paths).
[[noreturn, gnu::cold]] void push_overflow();
// The new cell reads unset! until it is written: the collector marks the stack up to its top, and
// a value an earlier call left in the slot may name a series freed since.
[[gnu::always_inline]] inline Cell* push_slot() {
    Cell* c = top++;
    if (top >= end) [[unlikely]] push_overflow();
    *c = Cell{T_UNSET, 0, 0, 0};
    return c;
}
[[gnu::always_inline]] inline Cell* push(const Cell* value) {
    Cell v = *value;  // the value may lie in the slot being pushed
    Cell* c = push_slot();
    *c = v;
    return c;
}
inline void pop(uint32_t n) { top = (uint32_t(top - begin) < n) ? begin : top - n; }
inline void reset() { top = arguments; }
inline void keep() { top = arguments + 1; }
inline Cell* top_value() { return top > begin ? top - 1 : begin; }
inline uint32_t top_type() { return top_value()->type(); }
void set_last(const Cell* value);
void set_last_reset(const Cell* value);
void revert_error();
inline Cell* arg(int i) { return arguments + i; }

// Leaving frames. The plain unwinds are inline (frames without a function context).
[[gnu::always_inline]] inline void unwind() {
    CallFrame* f = --frame_top;
    Cell* old = arguments;
    arguments = begin + f->saved_args;
    top = old + 1;
}
[[gnu::always_inline]] inline void unwind_last() {
    CallFrame* f = --frame_top;
    Cell* old = arguments;
    arguments = begin + f->saved_args;
    *arguments = *old;
    top = old + 1;
}
// Leaving a frame of any kind: a function frame gives its context back the values it had.
[[gnu::always_inline]] inline Cell* pop_frame_restoring() {
    CallFrame* f = --frame_top;
    if ((f->header >> 24 & 0x0F) == FRAME_FUNC && f->func_ctx)
        context::cached_cell(f->func_ctx)->data2 = f->saved_values;
    Cell* old = arguments;
    arguments = begin + f->saved_args;
    return old;
}
[[gnu::always_inline]] inline void unwind_func() { top = pop_frame_restoring() + 1; }
[[gnu::always_inline]] inline void unwind_func_last() {
    Cell* old = pop_frame_restoring();
    *arguments = *old;
    top = old + 1;
}
void unwind_drop();
void unwind_func_drop();
void unwind_discard();
CallFrame* unroll(uint32_t kind, bool keep);
void unroll_last(uint32_t kind);
inline CallFrame* unroll_loop(bool keep) { return unroll(FRAME_LOOP, keep); }

// Transfers. Delivering one pops the frames above its receiving frame and leaves the value
// there, then answers the transfer's status for the caller to pass up; a transfer that nothing
// receives raises the throw error instead. The throw_ forms deliver, then leave the machine
// frames with an Unwind of that status's code. An error always leaves by Unwind.
[[noreturn]] void throw_error(const Cell* error);
// break (value_flag: with the value in arguments[1]) or continue, to the nearest loop frame
// below the current one: its result slot gets the value (unset! without one).
Status deliver_break(bool value_flag, bool continue_flag);
// return (with the value in arguments[0]) or exit, to the nearest frame flagged in-function,
// from the current frame (from_top) or the one below it.
Status deliver_return(bool with_value, bool from_top);
// throw of arguments[0] named by arguments[1] under `code`, to the nearest catch frame below the
// current one: the value and the name are left on its stack.
Status deliver_throw(uint32_t code);
[[noreturn]] void throw_break(bool value_flag, bool continue_flag);
[[noreturn]] void throw_return(bool with_value, bool from_top);
[[noreturn]] void throw_value(uint32_t code);
// Leaves the machine frames with a pending status, for C++ code that runs Kov code but cannot
// pass a status up. The status is not normal.
[[noreturn]] void raise_pending(Status s);
inline void raise_if_pending(Status s) {
    if (s != Status::normal) raise_pending(s);
}

// The one receiver of transfers, for loops, function calls, catch and try alike. Runs body()
// (which answers a Status); an Unwind whose code `level` admits is caught and answered as
// Status(code), so that a delivered transfer gives the same answer whether it came back as a
// returned status or through C++ frames as an exception. Higher codes propagate as they came.
// The caller handles the answer in one switch: its own transfers end there, anything else is
// passed up. Levels: THROW_BREAK for loops, THROW_RETURN for functions, THROW_CATCH_LEVEL for
// catch, THROW_ERROR for try.
template <class F> inline Status receive(uint32_t level, F&& body) {
    try {
        return body();
    } catch (const Unwind& u) {
        if (!runtime::admits(u, level)) throw;
        return Status(u.code);
    }
}

// Raises a language error of the catalogue, with up to three argument cells.
[[noreturn]] void raise_error(const char* category, const char* id,
                              std::initializer_list<const Cell*> args = {});

// Called with each raised error before it is thrown (the interpreter's trace event).
extern void (*error_hook)(const Cell* error);

// Names: the word naming the frame an error comes from, into `out`.
void frame_name(Cell* out);
// Frames named by these symbols are skipped when names are reported; "<not-found>" names the
// bottom.
void set_hidden_symbols(uint32_t anon, uint32_t body);
extern uint32_t not_found_symbol;

// For each frame from the top down (the bottom frame and hidden names excepted): the name word,
// found in the frame's function context (the global context when it has none), and the position
// of its caller's arguments base, appended to the block value `out` (rooted).
void collect_calls(Cell* out);
// The names of the frames from the bottom up to `last` (hidden names excepted), appended to the
// block `out` (rooted): every name when level > 1, else only names whose value is a function!.
void collect_trace(int32_t level, Cell* out, CallFrame* last);
// The same names formed into the string `out` (rooted), oldest first, each followed by a space,
// within a budget of characters; answers the budget left.
int32_t form_trace(int32_t level, Cell* out, CallFrame* last, int32_t budget);

// Argument checks for library code; failures raise script error expect-arg with the current
// function's name, the value's datatype and the parameter's word.
const Cell* check_type(const Cell* typeset, int32_t param, const Cell* value);
void check_arg_type_at(int32_t arg_index, const Cell* typeset, int32_t param);
const Cell* check_refinement_arg_type(const Cell* refinement, const Cell* typeset, int32_t param,
                                      const Cell* value);
const Cell* check_not_unset(int32_t param, const Cell* value);
// A true logic value sets the refinement cell at arguments[index]; otherwise the `count` cells
// after it become none!.
void set_refinement_args(const Cell* logic, int32_t index, int32_t count);
// Script error bad-make-arg with the two values.
[[noreturn]] void raise_bad_make_arg(const Cell* value, const Cell* spec);

// The parameter word (n from 0) of the function whose frame frame_name last named, from that
// function's spec, for argument errors; the word <anon> when it cannot be found.
extern void (*param_word)(int32_t n, Cell* out);

// Restores the stacks (arguments base, top and top frame) to the state they had when it was
// taken, on scope exit, errors and transfers included, unless dismissed first. restore() puts
// them back at once and again on exit.
struct Snapshot {
    Cell* arguments;
    Cell* top;
    CallFrame* frame_top;
    bool armed = true;
    Snapshot() : arguments(stack::arguments), top(stack::top), frame_top(stack::frame_top) {}
    ~Snapshot() {
        if (armed) restore();
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    void restore() const {
        stack::arguments = arguments;
        stack::top = top;
        stack::frame_top = frame_top;
    }
    void dismiss() { armed = false; }
};

// A Snapshot for scratch pushes inside an evaluation: it restores the stacks only when its scope
// ends normally. A raised error or a transfer leaving the scope has already moved the stacks to
// its receiving frame, which a restore would undo.
struct Scratch {
    Snapshot saved;
    int pending = std::uncaught_exceptions();
    ~Scratch() {
        if (std::uncaught_exceptions() != pending) saved.dismiss();
    }
};

}  // namespace stack
}  // namespace kov
