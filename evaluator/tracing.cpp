// Interpreter tracing: the trace run's state, the event words and mask, and the calling of the
// callback in a function frame of its own named <interp-callback>.
//
// The callback gets six arguments: the event word, the code (or none), the position as an
// offset in cells (-1 without code or outside it), the value, the ref (only for set, prolog,
// epilog, return and call) and a pair! holding the frame base and the stack top, as cell indexes
// from the stack start, current when the event happened. The frame is built from the callback's
// argument list: a callback with fewer arguments gets the first ones, extra arguments and the
// arguments of refinements get none!, refinements false, /local and the locals their usual
// false and none!.
#include "evaluator/tracing.hpp"

#include <bit>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/runtime_words.hpp"
#include "core/services.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/function.hpp"
#include "datatypes/pair.hpp"
#include "evaluator/invocation.hpp"

namespace kov::tracing {

bool active = false;
uint32_t mask = 0;

namespace {

using collector::Root;
namespace rw = runtime_words;

constexpr int EVENT_COUNT = 16;
const char* const event_names[EVENT_COUNT] = {
    "init", "end", "prolog", "epilog", "enter", "exit", "open", "return",
    "fetch", "push", "set", "call", "error", "throw", "catch", "expr",
};
// The events whose ref argument is passed; the others get none.
constexpr uint32_t REF_EVENTS = EV_SET | EV_EPILOG | EV_PROLOG | EV_RETURN | EV_CALL;

// The installed callback (none outside a trace run) and the event words, rooted by a marker.
Cell callback_cell{T_NONE, 0, 0, 0};
Cell event_words[EVENT_COUNT];
bool marker_added = false;
// A callback is running: function header flags may not switch tracing back on inside it.
bool in_callback = false;
// The error hook found when the run started (called after the event).
void (*outer_error_hook)(const Cell*) = nullptr;

void mark_roots() {
    collector::mark_cells(&callback_cell, &callback_cell + 1);
    collector::mark_cells(event_words, event_words + EVENT_COUNT);
}

// Sets a switch for a scope and puts its old value back on every exit path.
struct Switch {
    bool& flag;
    bool saved;
    Switch(bool& f, bool value) : flag(f), saved(f) { flag = value; }
    ~Switch() { flag = saved; }
    Switch(const Switch&) = delete;
    Switch& operator=(const Switch&) = delete;
};

inline bool block_like(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}

// The position as reported: cells from the code's head, -1 without code or past its tail.
int32_t offset_of(const Cell& code, int64_t pos) {
    if (pos < 0 || !block_like(code.type()) || !code.data2) return -1;
    int64_t n = memory::buffer_of(code.data2)->used() >> 4;
    return pos <= n ? int32_t(pos) : -1;
}

void on_error(const Cell* error) {
    if (interpreter::tracing) fire(EV_ERROR, nullptr, NO_POS, nullptr, error);
    if (outer_error_hook) outer_error_hook(error);
}

// Calls the callback. With keep_top the cell on the stack top (a value a transfer or an infix
// call left there) is kept below the callback's frame.
void call(uint32_t event, const Cell* code, int64_t pos, const Cell* ref, const Cell* value, bool keep_top) {
    if (!(mask & event)) return;
    if (code && block_like(code->type()) && code->data2 &&
        (memory::buffer_of(code->data2)->flags & SER_LIBRARY))
        return;
    uint32_t base_index = stack::index_of(stack::arguments);
    uint32_t top_index = stack::index_of(stack::top);
    Cell none = cells::make_none();
    Root code_r(code ? *code : none);
    Root ref_r(ref && (event & REF_EVENTS) ? *ref : none);
    Root value_r(value ? *value : none);
    Cell offset = cells::make_integer(offset_of(code_r.cell, pos));
    // The callback runs untraced; tracing comes back on every exit path.
    Switch off(interpreter::tracing, false);
    Switch inside(in_callback, true);
    // The stacks come back after the callback; a transfer out of it leaves them as it set them.
    Cell* saved_arguments = stack::arguments;
    Cell* saved_top = stack::top;
    CallFrame* saved_frames = stack::frame_top;
    if (keep_top) stack::top++;
    Handle list = invocation::arg_list(&callback_cell);  // built when the run started
    stack::mark_func(&rw::words::interp_callback, callback_cell.data1);
    Cell frame;
    pair::make_at(&frame, int32_t(base_index), int32_t(top_index));
    const Cell given[6] = {event_words[std::countr_zero(event)], code_r.cell, offset,
                           value_r.cell, ref_r.cell, frame};
    const invocation::ArgListHead head = *invocation::list_head(list);
    int n = 0;
    bool collecting = true;
    for (uint32_t i = 0; i < head.count; i++) {
        const invocation::ArgEntry e = invocation::list_entries(list)[i];
        if (e.kind <= invocation::ARG_LIT) {
            stack::push(collecting && n < 6 ? &given[n++] : &none);
        } else if (e.kind == invocation::ARG_REFINEMENT) {
            Cell f = cells::make_logic(false);
            stack::push(&f);
            collecting = false;
        }
    }
    for (uint32_t i = 0; i < head.locals; i++) {
        Cell c = i == 0 && head.has_local ? cells::make_logic(false) : none;
        stack::push(&c);
    }
    Root fn(callback_cell);
    Status s = interpreter::exec_function(fn.get(), 0);
    if (s != Status::normal) stack::raise_pending(s);  // delivered already: the frames are gone
    stack::unwind_func();  // puts the callback's context back
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    stack::frame_top = saved_frames;
}

}  // namespace

void init() {
    callback_cell = cells::make_none();
    active = false;
    mask = 0;
    in_callback = false;
    interpreter::tracing = false;
    for (int i = 0; i < EVENT_COUNT; i++) event_words[i] = *word::load(event_names[i]);
    if (!marker_added) {
        collector::add_root_marker(mark_roots);
        marker_added = true;
    }
}

uint32_t callback_mask(const Cell* fn) {
    const Cell* body = function::extra(fn, function::EXTRA_BODY);
    if (!body->is(T_BLOCK)) return ALL_EVENTS;
    SeriesBuffer* b = memory::buffer_of(body->data2);
    if (body->data1 >= (b->used() >> 4)) return ALL_EVENTS;
    const Cell* first = b->head_cell() + body->data1;
    if (!first->is(T_BLOCK)) return ALL_EVENTS;
    SeriesBuffer* words = memory::buffer_of(first->data2);
    uint32_t result = 0;
    for (uint32_t i = first->data1; i < (words->used() >> 4); i++) {
        const Cell* w = words->head_cell() + i;
        if (!w->is(T_WORD)) continue;
        uint32_t sym = symbol::resolve(w->data2);
        for (int k = 0; k < EVENT_COUNT; k++)
            if (symbol::resolve(event_words[k].data2) == sym) result |= uint32_t(1) << k;
    }
    return result;
}

void fire(uint32_t event, const Cell* code, int64_t pos, const Cell* ref, const Cell* value) {
    call(event, code, pos, ref, value, false);
}

void fire_open(const Cell* code, int64_t pos, const Cell* name, bool infix) {
    call(EV_OPEN, code, pos, nullptr, name, infix);
}

Status traced_body(const Cell* fn_in, const Cell* call_ref) {
    Root fn(*fn_in);
    Root ref(call_ref ? *call_ref : cells::make_none());
    uint32_t flags = fn->header & (function::FN_TRACE | function::FN_NO_TRACE);
    bool saved = interpreter::tracing;
    if (flags & function::FN_NO_TRACE) interpreter::tracing = false;
    else if (flags && !in_callback) interpreter::tracing = active;
    struct Back {
        bool on, value;
        ~Back() { if (on) interpreter::tracing = value; }
    } back{flags != 0, saved};
    if (interpreter::tracing) fire(EV_PROLOG, function::extra(fn.get(), function::EXTRA_BODY), NO_POS, ref.get(),
                                   fn.get());
    Cell body = *function::extra(fn.get(), function::EXTRA_BODY);
    Status s = stack::receive(THROW_RETURN, [&] { return interpreter::eval(&body, true); });
    bool returned = s == Status::ret || s == Status::exit;
    if (returned) s = Status::normal;
    // After return or exit the result sits on the stack top.
    if (interpreter::tracing && s == Status::normal)
        call(EV_EPILOG, function::extra(fn.get(), function::EXTRA_BODY), NO_POS, ref.get(), fn.get(), returned);
    return s;
}

void set_switch(bool on) { interpreter::tracing = on && active; }

RunState::RunState()
    : tracing(interpreter::tracing), active(tracing::active), mask(tracing::mask), error_hook(stack::error_hook) {}

RunState::~RunState() {
    interpreter::tracing = tracing;
    tracing::active = active;
    tracing::mask = mask;
    stack::error_hook = error_hook;
    outer_error_hook = nullptr;
    callback_cell = cells::make_none();
}

void start(const Cell* callback) {
    callback_cell = *callback;
    invocation::arg_list(&callback_cell);  // built now: the callback runs with nothing to build
    mask = callback_mask(&callback_cell);
    outer_error_hook = stack::error_hook;
    stack::error_hook = on_error;
    active = true;
    interpreter::tracing = true;
    if (interpreter::tracing) fire(EV_INIT, nullptr, NO_POS, nullptr, nullptr);
}

void finish(uint32_t code) {
    // break, continue, return and exit leave their value on the stack top of the frame that
    // receives them.
    bool keep_top = code == THROW_BREAK || code == THROW_CONTINUE || code == THROW_RETURN || code == THROW_EXIT;
    if (interpreter::tracing) call(EV_END, nullptr, NO_POS, nullptr, nullptr, keep_top);
}

void finish_after_error() {
    if (!interpreter::tracing || !(mask & EV_END)) return;
    Cell* saved_arguments = stack::arguments;
    Cell* saved_top = stack::top;
    CallFrame* saved_frames = stack::frame_top;
    auto back = [&] {
        stack::arguments = saved_arguments;
        stack::top = saved_top;
        stack::frame_top = saved_frames;
    };
    stack::mark_try(nullptr);
    try {
        finish(THROW_ERROR);
    } catch (const Unwind& u) {
        if (u.code != THROW_ERROR) throw;  // delivered to its own receiver already
        Cell raised = stack::top[-1];      // left on the stack by the delivery to the frame above
        back();
        stack::top[-1] = raised;
        return;
    }
    back();
}

}  // namespace kov::tracing
