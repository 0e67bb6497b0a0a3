// Interpreter tracing: the state of a trace run (the callback, the events it asked for, the two
// switches) and the calling of the callback for each event the interpreter reports.
//
// A trace run is started by `do/trace` and lasts for one evaluation. While it lasts,
// `interpreter::tracing` says whether events are being fired now (it is off while the callback
// runs and in bodies whose header switches it), and `tracing::active` says that a callback is
// installed. Every event site in the interpreter tests `interpreter::tracing` and nothing else;
// the firing routines are out of line.
//
// Everything saved when a run starts, or when a callback or a function body switches tracing,
// comes back on every exit path: the records below are scoped.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"
#include "evaluator/interpreter.hpp"

namespace kov::tracing {

// Events by their mask bit.
enum Event : uint32_t {
    EV_INIT = 1, EV_END = 2, EV_PROLOG = 4, EV_EPILOG = 8, EV_ENTER = 16, EV_EXIT = 32,
    EV_OPEN = 64, EV_RETURN = 128, EV_FETCH = 256, EV_PUSH = 512, EV_SET = 1024, EV_CALL = 2048,
    EV_ERROR = 4096, EV_THROW = 8192, EV_CATCH = 16384, EV_EXPR = 32768,
};
constexpr uint32_t ALL_EVENTS = 0xFFFF;
// A position argument meaning "none".
constexpr int64_t NO_POS = -1;

// interpreter/trace?: a callback is installed.
extern bool active;
// The events the installed callback asked for.
extern uint32_t mask;

// Interns the event words and roots the callback cell (once per runtime start).
void init();

// The events a callback asks for: when its body begins with a block, the bits of the event words
// in it (other values add nothing); otherwise every event.
uint32_t callback_mask(const Cell* fn);

// Calls the callback for one event, when the event is in the mask and its code is not the boot
// library's (library functions show only their calls from the user's code). `code` is the block or path
// being evaluated (null: none), `pos` a cell index in it (reported as -1 outside the code), `ref`
// and `value` the event's cells (null: none). The cells are copied before anything allocates.
// A transfer out of the callback (an error, a throw, a break) goes on outward as an Unwind.
[[gnu::cold, gnu::noinline]] void fire(uint32_t event, const Cell* code, int64_t pos, const Cell* ref,
                                       const Cell* value);

// `open` of a call: in an infix call the left operand sits on the stack top and is kept.
[[gnu::cold, gnu::noinline]] void fire_open(const Cell* code, int64_t pos, const Cell* name, bool infix);

// An interpreted body run while a callback is installed: the header flags FN_TRACE/FN_NO_TRACE
// switch tracing for the body, `prolog` and `epilog` are fired around it. Same contract as the
// body evaluation of interpreter::exec_function (the function frame is set up).
[[gnu::cold, gnu::noinline]] Status traced_body(const Cell* fn, const Cell* call_ref);

// `trace true` / `trace false`: sets the tracing flag to `on` AND a callback being installed.
void set_switch(bool on);

// Runs body() as a trace run with `callback` (a function!). When a run is active already, the
// installed callback stays and body() simply runs. The run's end event fires on every exit path
// of body(); the state before the run comes back whatever happens.
void start(const Cell* callback);
// Fires the end event; `code` is the transfer under way (0: none).
void finish(uint32_t code);
// Fires the end event after an error: the error's try frame is gone and the error is the top
// value, so the callback runs under a try frame of its own, and an error it raises takes the
// place of the first one.
void finish_after_error();
struct RunState {
    bool tracing, active;
    uint32_t mask;
    void (*error_hook)(const Cell*);
    RunState();
    ~RunState();
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
};
template <class F> Status with_callback(const Cell* callback, F&& body) {
    if (active) return body();
    RunState saved;
    start(callback);
    Status s;
    try {
        s = body();
    } catch (const Unwind& u) {
        // The transfer goes on unless the callback raises one of its own.
        if (u.code == THROW_ERROR) finish_after_error();
        else finish(u.code);
        throw;
    }
    finish(uint32_t(s));
    return s;
}

}  // namespace kov::tracing
