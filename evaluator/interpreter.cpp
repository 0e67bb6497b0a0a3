// Block evaluation, the per-datatype expression rules, the infix rule and path evaluation.
// Function calls are in evaluator/invocation.cpp.
#include "evaluator/interpreter.hpp"

#include <cstring>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/word.hpp"
#include "evaluator/invocation.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/tracing.hpp"

namespace kov::interpreter {

bool tracing = false;

namespace {

using collector::Root;
namespace rw = runtime_words;

Cell near_cell{T_UNSET, 0, 0, 0};
uint32_t system_sym = 0, system_global_sym = 0;
bool marker_added = false;

void mark_roots() {
    if (near_cell.is(T_BLOCK) || near_cell.is(T_PAREN)) collector::mark_series_value(&near_cell);
}

inline bool function_kind(uint32_t t) {
    return t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE;
}

// Writes a value as an expression's result: pushed in argument mode, else into the result slot
// with the top just above it.
inline void deliver(const Cell* v, bool arg_mode) {
    if (arg_mode) {
        stack::push(v);
    } else {
        Cell c = *v;
        *stack::arguments = c;
        stack::top = stack::arguments + 1;
    }
}

// The value an expression has just produced: the top cell (argument mode) or the result slot.
inline const Cell* result_of(bool arg_mode) { return arg_mode ? stack::top - 1 : stack::arguments; }

// Closes an interpreter frame: the result stays as the caller's new top cell (argument mode) or
// is copied into the caller's result slot.
inline void close(bool arg_mode) {
    if (arg_mode) stack::unwind(); else stack::unwind_last();
}

// Saves interpreter/near and puts it back on every exit path.
struct NearGuard {
    Root saved{near_cell};  // rooted: an explicit collection may move the node it names
    ~NearGuard() { near_cell = saved.cell; }
};

// The value of a word bound to a context with values, without raising; null otherwise.
using invocation::word_value;

[[noreturn]] void raise1(const char* category, const char* id, const Cell* a) {
    stack::raise_error(category, id, {a});
}

}  // namespace

Cell* near() { return &near_cell; }

void init() {
    near_cell = cells::make_unset();
    tracing::init();
    if (!marker_added) {
        collector::add_root_marker(mark_roots);
        marker_added = true;
    }
    system_sym = symbol::make("system");
    system_global_sym = symbol::make("system-global");
    invocation::install_hooks();
    error::near_source = [] { return const_cast<const Cell*>(&near_cell); };
}

// ---- blocks ----

namespace {
[[gnu::noinline]] Step eval_general(Code& code, uint32_t pos, bool no_infix, bool arg_mode, bool passive);
Step eval_front(Code& code, uint32_t pos, bool arg_mode);
Step set_word_front(Code& code, uint32_t pos, const Cell* c, const Cell* known, bool arg_mode);
inline Step infix_after(Code& code, uint32_t pos, Cell* start_top, bool arg_mode);
}

namespace {

// The quick roads of a statement (the top at the result slot) while not tracing, taken on one
// read of its first cell: a value that evaluates to itself, a word holding one, a word naming a
// native, action or function, a set-word. `b` and `tail` are the block's buffer and tail as the
// caller has just read them (pos < tail). Answers position 0 (nothing done) for anything else.
[[gnu::always_inline]] inline Step statement_front(Code& code, uint32_t pos, SeriesBuffer* b, uint32_t tail) {
    if (tracing) [[unlikely]] return {0, Status::normal};
    const Cell* c = b->head_cell() + pos;
    uint32_t t = c->type();
    const Cell* v = c;
    if (t == T_WORD) {
        v = word_value(c);
        if (!v) return {0, Status::normal};
        t = v->type();
        if (t == T_NATIVE || t == T_ACTION) {
            Cell fn = *v;
            if (code.function_body && t == T_NATIVE && fn.data1 == natives::NATIVE_RETURN) [[unlikely]] {
                Step r = invocation::call_return(&fn, &code, pos + 1, int32_t(pos), c);
                if (r.pos) return r;
            }
            Step s = invocation::call_plain(&fn, &code, pos + 1, false, int32_t(pos), c);
            if (!s.pos || s.status != Status::normal) return s;
            return infix_after(code, s.pos, stack::arguments, false);
        }
        if (t == T_FUNCTION) {
            Cell fn = *v;
            Step s = invocation::call_function_plain(&fn, &code, pos + 1, false, int32_t(pos), c);
            if (!s.pos || s.status != Status::normal) return s;
            return infix_after(code, s.pos, stack::arguments, false);
        }
    } else if (t == T_SET_WORD) {
        // The value of the word after the set-word is read once, for either road below.
        if (c->data1 && int32_t(c->data3) >= 0 && pos + 1 < tail) {
            const Cell* r = c + 1;
            const Cell* rv = r->is(T_WORD) ? word_value(r) : r;
            uint32_t rt = rv ? rv->type() : T_UNSET;
            if (simple_value(rt)) {
                // A pure expression into a word of a function's or the global context: written
                // in place, with no frame (nothing in it can raise).
                Cell value = *rv;
                const Cell* stopped;
                uint32_t end = invocation::quick_infix(b->head_cell(), pos + 2, tail, value, stopped);
                if (!stopped && context::store_in_place(c->data1, c->data3, &value)) {
                    *stack::arguments = value;
                    stack::top = stack::arguments + 1;
                    return {end, Status::normal};
                }
            } else if (r->is(T_WORD) && (rt == T_NATIVE || rt == T_ACTION || rt == T_FUNCTION)) {
                return set_word_front(code, pos, c, rv, false);
            }
        }
        return eval_front(code, pos, false);
    }
    if (!simple_value(t)) {
        if (t == T_PAREN && v == c) return eval_paren_front(code, pos, false);
        return {0, Status::normal};
    }
    Cell* start_top = stack::top;
    stack::push(v);
    if (pos + 1 < tail && (c + 1)->is(T_WORD)) return eval_infix_from(code, pos + 1, start_top);
    return {pos + 1, Status::normal};
}

}  // namespace

Step eval_call_front(Code& code, uint32_t pos, const Cell* v, const Cell* c) {
    if (!v) return eval_front(code, pos, true);
    Cell* start_top = stack::top;
    Cell fn = *v;
    Step s = fn.is(T_FUNCTION) ? invocation::call_function_plain(&fn, &code, pos + 1, true, int32_t(pos), c)
                               : invocation::call_plain(&fn, &code, pos + 1, true, int32_t(pos), c);
    if (!s.pos || s.status != Status::normal) return s;
    return infix_after(code, s.pos, start_top, true);
}

Step eval_rest(Code& code, uint32_t pos) { return eval_general(code, pos, false, true, false); }

[[gnu::noinline]] Step eval_paren_front(Code& code, uint32_t pos, bool arg_mode) {
    Cell* start_top = stack::top;
    Cell value = *code.at(pos);
    Status st = arg_mode ? eval(&value, false) : eval_here(&value);  // as the general rule
    if (st != Status::normal) return {pos + 1, st};
    return infix_after(code, pos + 1, start_top, arg_mode);
}

namespace {

// The statements of a block, each into the current frame's result slot (the top at it): the
// last one's value stays there, with the top just above it.
[[gnu::always_inline]] inline Status run_statements(Code& code) {
    uint32_t pos = code.block->data1;
    if (tracing) [[unlikely]] tracing::fire(tracing::EV_ENTER, code.block.get(), pos, nullptr, nullptr);
    // The buffer and the tail, read anew after each statement (it may have changed the block).
    SeriesBuffer* b = code.buffer();
    uint32_t tail = code.tail_in(b);
    if (pos >= tail) {
        *stack::arguments = cells::make_unset();
        stack::top = stack::arguments + 1;
    } else {
        // The library's own code leaves near at the user's code that called into it.
        bool user = !(b->flags & SER_LIBRARY);
        if (user) {
            // Field by field: the block's root has just been written by narrower stores, and a
            // 16-byte load of it would wait for them. Index and node follow at each statement.
            near_cell.header = code.block.cell.header;
            near_cell.data3 = code.block.cell.data3;
        }
        while (true) {
            if (user) {
                near_cell.data1 = pos;
                near_cell.data2 = code.node();
            }
            // The top is at the result slot: the quick road's push is the statement's result.
            Step s = statement_front(code, pos, b, tail);
            if (!s.pos) s = eval_general(code, pos, false, false, false);
            if (s.status != Status::normal) [[unlikely]] return s.status;
            pos = s.pos;
            if (tracing) [[unlikely]] tracing::fire(tracing::EV_EXPR, code.block.get(), pos, nullptr, stack::arguments);
            b = code.buffer();
            tail = code.tail_in(b);
            if (pos >= tail) break;
            stack::top = stack::arguments;
        }
    }
    if (tracing) [[unlikely]] tracing::fire(tracing::EV_EXIT, code.block.get(), code.tail(), nullptr, stack::arguments);
    return Status::normal;
}

// The statements of a block in a frame of its own (eval without the near guard).
[[gnu::always_inline]] inline Status run_block(Code& code, bool last) {
    stack::mark(&rw::words::body, FRAME_EVAL);
    Status s = run_statements(code);
    if (s != Status::normal) [[unlikely]] return s;
    close(!last);
    return Status::normal;
}

}  // namespace

Status eval(const Cell* block, bool last) {
    Code code(*block);
    NearGuard guard;
    return run_block(code, last);
}

Status eval_function_body(const Cell* block) {
    Code code(*block);
    code.function_body = true;
    NearGuard guard;
    return run_block(code, true);
}

Status eval_here(const Cell* block) {
    Code code(*block);
    NearGuard guard;
    stack::top = stack::arguments;
    return run_statements(code);
}

Body::Body(const Cell& block) : code(block), saved_near(near_cell) {}

Body::~Body() { near_cell = saved_near.cell; }

Status Body::run() {
    struct Restore {
        const Cell& saved;
        ~Restore() { near_cell = saved; }
    } restore{saved_near.cell};  // on every way out, as eval's guard
    stack::top = stack::arguments;
    return run_statements(code);
}

Status call_library(std::string_view word, std::initializer_list<const Cell*> values) {
    Root code(cells::make_series(T_BLOCK, memory::make_cells(uint32_t(1 + 2 * values.size()))));
    memory::buffer_of(code->data2)->flags |= SER_LIBRARY;
    word::load_in(word, code.get());
    for (const Cell* v : values) {
        word::load_in("quote", code.get());
        Cell* slot = buffer::alloc_block_tail(code.get());
        *slot = *v;  // read after the allocation
    }
    return eval(code.get(), true);
}

Step eval_next(const Cell* block, uint32_t pos, bool arg_mode) {
    Code code(*block);
    stack::mark(&rw::words::body, FRAME_INTERP_NATIVE);
    Step s = eval_expression(code, pos, false, true, false);
    if (s.status != Status::normal) return s;
    close(arg_mode);
    return s;
}

Step eval_next_index(const Cell* series) {
    Code code(*series);
    uint32_t pos = code.block->data1;
    if (pos >= code.tail()) {
        Cell u = cells::make_unset();
        stack::push(&u);
        return {pos, Status::normal};
    }
    return eval_next(code.block.get(), pos, true);
}

// ---- expressions ----

namespace {

// Fires fetch for an operator word, then looks it up again (the callback may change anything).
[[gnu::cold]] const Cell* traced_operator(Code& code, uint32_t pos) {
    tracing::fire(tracing::EV_FETCH, code.block.get(), pos, nullptr, code.at(pos));
    const Cell* v = pos < code.tail() && code.at(pos)->is(T_WORD) ? word_value(code.at(pos)) : nullptr;
    return v && v->is(T_OP) ? v : nullptr;
}

// The infix rule, applied after each expression until the next value is not an operator word.
// The buffer and the tail are read once, and again only after a call that may have allocated or
// changed the block.
Step eval_infix(Code& code, uint32_t pos, Cell* start_top, bool arg_mode) {
    SeriesBuffer* b = code.buffer();
    uint32_t tail = code.tail_in(b);
    while (pos < tail) {
        const Cell* v;
        if (!tracing) [[likely]] {
            // Number operands written in place or held by words: the results at once, with
            // nothing pushed, up to the end of the expression or an operator they don't cover.
            uint32_t quick = invocation::quick_infix(b->head_cell(), pos, tail, *start_top, v);
            if (quick != pos) {
                pos = quick;
                stack::top = start_top + 1;
            }
            if (!v) break;
        } else {
            const Cell* w = b->head_cell() + pos;
            if (!w->is(T_WORD)) break;
            v = word_value(w);
            if (!v || !v->is(T_OP) || !(v = traced_operator(code, pos))) break;
        }
        stack::top = start_top;
        Step s = invocation::call_operator(v, code, pos, start_top, arg_mode);
        if (s.status != Status::normal) return s;
        pos = s.pos;
        b = code.buffer();
        tail = code.tail_in(b);
    }
    return {pos, Status::normal};
}

}  // namespace

Step eval_infix_from(Code& code, uint32_t pos, Cell* start_top) { return eval_infix(code, pos, start_top, true); }

namespace {

// The infix rule after an expression, with the common answer (no operator word next) found
// without entering it.
inline Step infix_after(Code& code, uint32_t pos, Cell* start_top, bool arg_mode) {
    SeriesBuffer* b = code.buffer();
    uint32_t tail = b->used() >> 4;
    if (pos >= tail || pos >= code.limit) return {pos, Status::normal};
    const Cell* w = b->head_cell() + pos;
    if (!w->is(T_WORD)) return {pos, Status::normal};
    const Cell* v = word_value(w);
    if (!v || !v->is(T_OP)) return {pos, Status::normal};
    return eval_infix(code, pos, start_top, arg_mode);
}

}  // namespace

namespace {
[[gnu::noinline]] Step eval_general(Code& code, uint32_t pos, bool no_infix, bool arg_mode, bool passive);
}

Step eval_expression(Code& code, uint32_t pos, bool no_infix, bool arg_mode, bool passive) {
    if (arg_mode) {
        Step q = eval_simple(code, pos, no_infix);
        if (q.pos) return q;
    }
    if (!no_infix && !passive) {
        Step q = eval_front(code, pos, arg_mode);
        if (q.pos) return q;
    }
    return eval_general(code, pos, no_infix, arg_mode, passive);
}

Step eval_declined(Code& code, uint32_t pos) {
    Step q = eval_front(code, pos, true);
    if (q.pos) return q;
    return eval_general(code, pos, false, true, false);
}

namespace {

// The quick front of an expression while not tracing: a word naming a native, action or
// function goes straight to its quick call, and a set-word of a word bound to a slot takes the
// value of the expression after it, as the general rule below does but without its rounds.
// Answers position 0 (nothing done) for anything else. The infix rule follows as usual.
Step eval_front(Code& code, uint32_t pos, bool arg_mode) {
    if (tracing) [[unlikely]] return {0, Status::normal};
    SeriesBuffer* b = code.buffer();
    uint32_t tail = code.tail_in(b);
    if (pos >= tail) return {0, Status::normal};
    const Cell* c = b->head_cell() + pos;
    Cell* start_top = stack::top;
    Step s;
    if (c->is(T_WORD)) {
        const Cell* v = word_value(c);
        if (!v) return {0, Status::normal};
        uint32_t t = v->type();
        Cell fn = *v;
        if (t == T_NATIVE || t == T_ACTION) s = invocation::call_plain(&fn, &code, pos + 1, arg_mode, int32_t(pos), c);
        else if (t == T_FUNCTION) s = invocation::call_function_plain(&fn, &code, pos + 1, arg_mode, int32_t(pos), c);
        else return {0, Status::normal};
        if (!s.pos) return s;
        if (s.status != Status::normal) return s;
    } else if (c->is(T_SET_WORD)) {
        if (!c->data1 || int32_t(c->data3) < 0 || pos + 1 >= tail) return {0, Status::normal};
        return set_word_front(code, pos, c, nullptr, arg_mode);
    } else {
        return {0, Status::normal};
    }
    return infix_after(code, s.pos, start_top, arg_mode);
}

// The set-word `c` at `pos`, of a word bound to a slot, with the expression after it (`known`:
// the native, action or function that the word after it names, read just now; else null), then
// the infix rule. Its frame is named after the word, as in the general rule.
Step set_word_front(Code& code, uint32_t pos, const Cell* c, const Cell* known, bool arg_mode) {
    Cell* start_top = stack::top;
    Cell word = *c;
    stack::mark(&word, FRAME_INTERP_NATIVE);
    stack::push(&word);
    Step s = known ? eval_call_front(code, pos + 1, known, c + 1) : invocation::eval_argument(code, pos + 1);
    if (!s.pos) s = eval_general(code, pos + 1, false, true, false);
    if (s.status != Status::normal) return s;
    Cell* result = stack::arguments + 1;
    if (result->is(T_UNSET)) raise1("script", "need-value", stack::arguments);
    // A word of a function's or the global context is written in place; an object's word
    // takes the general set (assigned mark, change events).
    Cell* word_cell = stack::arguments;
    if (!context::store_in_place(word_cell->data1, word_cell->data3, result)) context::set(word_cell, result);
    *stack::arguments = *result;
    stack::top = stack::arguments + 1;
    close(arg_mode);
    return infix_after(code, s.pos, start_top, arg_mode);
}

}  // namespace

namespace {

// The rule of each datatype.
Step eval_general(Code& code, uint32_t pos, bool no_infix, bool arg_mode, bool passive) {
    Cell* start_top = stack::top;
    if (tracing) [[unlikely]] tracing::fire(tracing::EV_FETCH, code.block.get(), pos, nullptr, code.at(pos));
    Cell value = *code.at(pos);
    uint32_t next = pos + 1;
    switch (value.type()) {
    case T_WORD: {
        const Cell* v = context::get(&value);
        uint32_t t = v->type();
        if (function_kind(t)) {
            Cell fn = *v;
            Step s = eval_code(&fn, &code, next, arg_mode, nullptr, -1, int32_t(pos), nullptr, 0, false);
            if (s.status != Status::normal) return s;
            next = s.pos;
        } else if (t == T_UNSET) {
            raise1("script", "no-value", &value);
        } else if (t == T_OP) {
            raise1("script", "no-op-arg", &value);
        } else {
            deliver(v, arg_mode);
            if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, v);
        }
        break;
    }
    case T_SET_WORD: {
        stack::mark(&value, FRAME_INTERP_NATIVE);
        stack::push(&value);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, stack::arguments);
        if (next >= code.tail()) raise1("script", "need-value", &value);
        Step s = eval_expression(code, next, false, true, false);
        if (s.status != Status::normal) return s;
        next = s.pos;
        Cell* result = stack::arguments + 1;
        if (result->is(T_UNSET)) raise1("script", "need-value", stack::arguments);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_SET, code.block.get(), next, stack::arguments, result);
        context::set(stack::arguments, result);
        *stack::arguments = *(stack::arguments + 1);
        stack::top = stack::arguments + 1;
        close(arg_mode);
        break;
    }
    case T_GET_WORD:
        deliver(context::get(&value), arg_mode);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, result_of(arg_mode));
        break;
    case T_LIT_WORD:
        value.header = T_WORD;
        deliver(&value, arg_mode);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, &value);
        break;
    case T_PAREN: {
        // The paren's block: as a statement, in the current frame (its statements take the
        // result slot, the top is at it); in argument mode, in a frame of its own whose last
        // value is pushed.
        Status st = arg_mode ? eval(&value, false) : eval_here(&value);
        if (st != Status::normal) return {next, st};
        break;
    }
    case T_PATH:
    case T_GET_PATH: {
        Step s = eval_path(&value, code, next, false, value.is(T_GET_PATH), arg_mode, false);
        if (s.status != Status::normal) return s;
        next = s.pos;
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, result_of(arg_mode));
        break;
    }
    case T_SET_PATH: {
        if (next >= code.tail()) raise1("script", "need-value", &value);
        Root path(value);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, path.get());
        stack::mark(&rw::words::set_path, FRAME_INTERP_NATIVE);
        Step s = eval_expression(code, next, false, true, false);
        if (s.status != Status::normal) return s;
        next = s.pos;
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_SET, code.block.get(), next, path.get(), stack::arguments);
        Step p = eval_path(path.get(), code, next, true, false, true, false);
        if (p.status != Status::normal) return p;
        stack::top = stack::arguments + 1;  // the set-path's value is the value stored
        close(arg_mode);
        break;
    }
    case T_LIT_PATH:
        value.header = T_PATH;
        value.data3 = 0;
        deliver(&value, arg_mode);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, &value);
        break;
    case T_OP:
        stack::raise_error("internal", "not-done");
    case T_NATIVE:
    case T_ACTION:
    case T_FUNCTION:
    case T_ROUTINE:
        if (passive) {
            deliver(&value, arg_mode);
            if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, &value);
        } else {
            Step s = eval_code(&value, &code, next, arg_mode, nullptr, -1, -1, nullptr, 0, false);
            if (s.status != Status::normal) return s;
            next = s.pos;
        }
        break;
    case T_ISSUE:
        if (next < code.tail() && code.at(next)->is(T_BLOCK)) {
            uint32_t s = symbol::resolve(value.data2);
            if (s == symbol::resolve(system_sym) || s == symbol::resolve(system_global_sym))
                stack::raise_error("internal", "kov-system");
        }
        deliver(&value, arg_mode);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, &value);
        break;
    default:
        deliver(&value, arg_mode);
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code.block.get(), pos, nullptr, &value);
        break;
    }
    if (no_infix) return {next, Status::normal};
    return infix_after(code, next, start_top, arg_mode);
}

}  // namespace

// ---- paths ----

namespace {

uint32_t path_length(const Cell* path) {
    uint32_t n = memory::buffer_of(path->data2)->used() >> 4;
    return path->data1 < n ? n - path->data1 : 0;
}

inline const Cell* path_cell(const Cell* path, uint32_t i) {
    return memory::buffer_of(path->data2)->head_cell() + path->data1 + i;
}

inline Cell path_at(const Cell* path, uint32_t i) {
    return memory::buffer_of(path->data2)->head_cell()[path->data1 + i];
}

inline bool block_like(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}

// script bad-path-type: the path, the datatype, and the path cut to the values that produced
// the running value.
[[noreturn]] void raise_bad_path(const Cell* path, const Cell* running, int32_t element) {
    Root p(*path), type(cells::make_datatype(running->type()));
    Root cut;
    block::make_at(cut.get(), element + 1);
    cut->header = path->type() == T_SET_PATH || path->type() == T_GET_PATH ? T_PATH : path->type();
    for (int32_t i = 0; i <= element && uint32_t(i) < path_length(p.get()); i++) {
        Cell c = path_at(p.get(), uint32_t(i));
        block::append_value(cut.get(), &c);
    }
    stack::raise_error("script", "bad-path-type", {p.get(), type.get(), cut.get()});
}

// fetch of element i, or exit (i: the length). The callback runs Kov code, so the running value
// is taken into its rooted cell first, as before evaluating a paren; answers where it now is.
[[gnu::cold]] Cell* trace_path_step(uint32_t event, const Cell* path, uint32_t i, Root& running, Cell* current) {
    running.cell = *current;
    if (event == tracing::EV_EXIT) tracing::fire(event, path, path->data1 + i, nullptr, running.get());
    else tracing::fire(event, path, path->data1 + i, nullptr, path_cell(path, i));
    return running.get();
}

// enter and fetch of the first element.
[[gnu::cold]] void trace_path_start(const Cell* path) {
    tracing::fire(tracing::EV_ENTER, path, path->data1, nullptr, nullptr);
    Root first(path_at(path, 0));
    tracing::fire(tracing::EV_FETCH, path, path->data1, nullptr, first.get());
}

}  // namespace

Step eval_path(const Cell* path_in, Code& code, uint32_t pos, bool set, bool get, bool arg_mode,
               bool case_sensitive) {
    Root path(*path_in);
    Cell* saved_top = stack::top;
    uint32_t n = path_length(path.get());
    if (n == 0) stack::raise_error("script", "empty-path");
    if (tracing) [[unlikely]] trace_path_start(path.get());
    Root first(path_at(path.get(), 0));
    if (!first->is(T_WORD)) raise1("script", "word-first", path.get());
    Root running(*context::get(first.get()));
    uint32_t t = running->type();
    if (function_kind(t)) {
        if (set) raise1("script", "invalid-path-set", path.get());
        if (get) raise1("script", "invalid-path-get", path.get());
        Step s = eval_code(running.get(), &code, pos, true, path.get(), int32_t(path->data1), -1, nullptr,
                           0, false);
        if (s.status != Status::normal) return s;
        if (!arg_mode) {
            *stack::arguments = *(stack::top - 1);
            stack::top = stack::arguments + 1;
        }
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_EXIT, path.get(), path->data1 + n, nullptr, result_of(arg_mode));
        return s;
    }
    if (t == T_UNSET) stack::raise_error("script", "unset-path", {path.get(), first.get()});
    if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, path.get(), path->data1, nullptr, running.get());
    Root parent;
    {
        Handle ctx = first->data1;
        if (ctx && ctx != context::global) {
            const Cell* owner = context::owner(ctx);
            if (!owner->is(T_OBJECT) && !owner->is(T_UNSET)) parent.cell = *owner;
        }
    }
    // The running value as the last handler answered it: a cell in the container (so that a
    // set-path's last step changes it in place), or the rooted copy when Kov code ran since.
    Cell* current = running.get();
    Cell original = running.cell;
    Root previous(first.cell);
    for (uint32_t i = 1; i < n; i++) {
        if (tracing) [[unlikely]] current = trace_path_step(tracing::EV_FETCH, path.get(), i, running, current);
        Root element(path_at(path.get(), i));
        Root selector(element.cell);
        if (element->is(T_GET_WORD)) {
            selector.cell = *context::get(element.get());
        } else if (element->is(T_PAREN)) {
            running.cell = *current;
            current = running.get();
            Status st = eval(element.get(), false);
            if (st != Status::normal) return {pos, st};
            selector.cell = *(stack::top - 1);
            stack::pop(1);
        }
        if (tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, path.get(), path->data1 + i, nullptr, selector.get());
        if (selector->is(T_UNSET)) stack::raise_error("script", "invalid-path", {path.get(), element.get()});
        bool last = i + 1 == n;
        const Cell* set_value = set && last ? stack::arguments : nullptr;
        bool notify = false;
        if (set && last && n >= 3) {
            uint32_t pt = parent->type();
            notify = (pt == T_OBJECT && context::owner(parent->data1)->data3 && previous->is(T_WORD)) ||
                     block_like(pt);
        }
        const auto& handler = type_registry::table(current->type()).eval_path;
        if (!handler) raise_bad_path(path.get(), current, int32_t(i - 1));
        PathStep step{current, selector.get(), set_value, path.get(), nullptr, parent.get(), previous.get(),
                      int32_t(i - 1), case_sensitive, last, notify};
        Cell before = *current;
        Cell* result = handler(step);
        parent.cell = before;
        previous.cell = element.cell;
        if (!result) result = stack::arguments;
        current = result;
        if (!set && !get && function_kind(current->type())) {
            Root fn(*current);
            Step s = eval_code(fn.get(), &code, pos, true, path.get(), int32_t(path->data1 + i), -1,
                               parent.get(), 0, false);
            if (s.status != Status::normal) return s;
            pos = s.pos;
            running.cell = *(stack::top - 1);
            current = running.get();
            break;
        }
    }
    // A two-element set-path changes a value held in the word's own cell (a pair, a date, a
    // tuple...) in the rooted copy: store it back, unless Kov code gave the word another value.
    if (set && n == 2 && std::memcmp(running.get(), &original, sizeof(Cell)) != 0) {
        Cell* slot = context::get(first.get());
        if (std::memcmp(slot, &original, sizeof(Cell)) == 0)
            context::set_in(first.get(), running.get(), first->data1, false);
    }
    if (tracing) [[unlikely]] current = trace_path_step(tracing::EV_EXIT, path.get(), n, running, current);
    Cell result = *current;
    stack::top = saved_top;
    deliver(&result, arg_mode);
    return {pos, Status::normal};
}

bool true_q(const Cell* value) {
    if (value->is(T_UNSET)) stack::raise_error("script", "no-return");
    return cells::truthy(*value);
}

}  // namespace kov::interpreter
