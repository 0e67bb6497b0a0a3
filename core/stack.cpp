// The argument stack and the call-frame stack.
//
// Both live in fixed series (never moved by the collector), so the globals below are plain
// pointers. A frame records its caller's arguments base as a cell index. Control transfers pop
// frames down to the kind that receives them and restore the argument stack; the transfer then
// travels up the machine frames either as a returned Status or as an Unwind with the same code,
// and stack::receive gives the receiving C++ code one answer for both.
#include "core/stack.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/services.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"

namespace kov::stack {

Cell* begin = nullptr;
Cell* end = nullptr;
Cell* arguments = nullptr;
Cell* top = nullptr;
CallFrame* frame_begin = nullptr;
CallFrame* frame_end = nullptr;
CallFrame* frame_top = nullptr;
Handle arg_stack_node = 0, frame_stack_node = 0;

namespace {

CallFrame* error_origin = nullptr;
// The frame frame_name last named: argument errors name the parameter of the same function.
const CallFrame* last_named = nullptr;
uint32_t anon_symbol = 0, body_symbol = 0;

// The context cell of a context node: the first cell of its series.
Cell* context_cell(Handle ctx) { return memory::buffer_of(ctx)->head_cell(); }

[[noreturn]] void overflow() {
    top = std::max(begin, top - 5);
    cycles::reset();
    raise_error("internal", "stack-overflow");
}

[[gnu::always_inline]] inline void restore_context(const CallFrame& f) {
    if ((f.header >> 24 & 0x0F) == FRAME_FUNC && f.func_ctx) context_cell(f.func_ctx)->data2 = f.saved_values;
}

bool named_hidden(const CallFrame* f) {
    return f->symbol && (f->symbol == anon_symbol || f->symbol == body_symbol);
}

}  // namespace

void make_stacks(Handle& arg_node, Handle& frame_node) {
    arg_node = memory::alloc_fixed_series(ARG_STACK_CELLS, 16, 0);
    frame_node = memory::alloc_fixed_series(FRAME_STACK_FRAMES * sizeof(CallFrame), 1, 0);
}

void unbind() {
    begin = end = arguments = top = nullptr;
    frame_begin = frame_end = frame_top = nullptr;
    arg_stack_node = frame_stack_node = 0;
    error_origin = nullptr;
    last_named = nullptr;
}

void init(Handle arg_node, Handle frame_node) {
    arg_stack_node = arg_node;
    frame_stack_node = frame_node;
    SeriesBuffer* a = memory::buffer_of(arg_node);
    begin = reinterpret_cast<Cell*>(a->data());
    end = begin + ARG_STACK_CELLS;
    for (Cell* c = begin; c < end; c++) *c = Cell{T_UNSET, 0, 0, 0};
    arguments = top = begin;
    a->tail = a->head = 0;
    SeriesBuffer* f = memory::buffer_of(frame_node);
    frame_begin = reinterpret_cast<CallFrame*>(f->data());
    frame_end = frame_begin + FRAME_STACK_FRAMES;
    frame_top = frame_begin;
    error_origin = nullptr;
    // The bottom frame: never removed by the unrolling operations.
    *frame_top++ = CallFrame{uint32_t(FRAME_NATIVE) << 24, 0, 0, 0, 0, 0};
    *top++ = Cell{T_UNSET, 0, 0, 0};
    arguments = begin;
}

void set_hidden_symbols(uint32_t anon, uint32_t body) {
    anon_symbol = anon;
    body_symbol = body;
}

// ---- marks ----

static inline Cell* push_frame(const Cell* name, uint32_t kind, Handle ctx, uint32_t saved) {
    if (frame_top >= frame_end || runtime::machine_stack_low()) overflow();
    CallFrame* f = frame_top++;
    f->header = kind << 24;
    f->symbol = name ? name->data2 : 0;
    f->saved_args = index_of(arguments);
    f->name_ctx = name ? name->data1 : 0;
    f->func_ctx = ctx;
    f->saved_values = saved;
    arguments = top;
    return arguments;
}


Cell* mark_func_body(const Cell* name, Handle ctx) {
    if (ctx) context_cell(ctx)->data2 = index_of(arguments) + 1;
    return push_frame(name, FRAME_FUNC_BODY, 0, 0);
}


CallFrame* set_in_func_flag_once() {
    if (frame_top - frame_begin < 2) return nullptr;
    CallFrame* f = frame_top - 2;
    if (f->header & FRAME_IN_FUNC) return nullptr;
    f->header |= FRAME_IN_FUNC;
    return f;
}

void clear_in_func_flag(CallFrame* f) {
    if (f) f->header &= ~FRAME_IN_FUNC;
}

bool interp_frame_below(CallFrame* frame, bool one_frame) {
    CallFrame* f = frame ? frame : ctop();
    for (CallFrame* g = f - 1; g >= frame_begin; g--) {
        if (g->header & FRAME_INTERP) return true;
        if (one_frame) break;
    }
    return false;
}

// ---- values ----

void push_overflow() { overflow(); }

volatile std::sig_atomic_t interrupt_requested = 0;

void raise_interrupt() {
    Cell what = cells::make_word(T_WORD, 0, symbol::make("time"));
    raise_error("internal", "limit-hit", {&what});
}

void set_last(const Cell* value) { *arguments = *value; }

void set_last_reset(const Cell* value) {
    *arguments = *value;
    top = arguments + 1;
}

void revert_error() {
    Cell* t = top_value();
    if (t->is(T_ERROR)) *arguments = *t;
    top = arguments + 1;
}

// ---- leaving frames ----

// Pops the top frame; returns the old arguments base.
[[gnu::always_inline]] static inline Cell* pop_frame(bool restore) {
    if (restore) return pop_frame_restoring();
    CallFrame* f = --frame_top;
    Cell* old = arguments;
    arguments = begin + f->saved_args;
    return old;
}

void unwind_drop() {
    pop_frame(false);
    top = arguments;
}

void unwind_func_drop() {
    pop_frame(true);
    top = arguments;
}

void unwind_discard() {
    if (frame_top <= frame_begin) return;
    bool bottom = frame_top - 1 == frame_begin;
    Cell* old = pop_frame(true);
    if (bottom) {
        arguments = top = begin;
    } else {
        top = old;
    }
}

CallFrame* unroll(uint32_t kind, bool keep) {
    Cell* old_args = arguments;
    while (true) {
        CallFrame* f = ctop();
        uint32_t k = f->kind();
        if (k == (kind & 0x0F) || k == FRAME_TRY_ALL || f == frame_begin) break;
        pop_frame(true);
    }
    CallFrame* f = ctop();  // stays; arguments is now its own base
    if (!keep) {
        if (f == frame_begin) {
            arguments = top = begin;
            return f;
        }
        arguments = begin + f->saved_args;
    }
    top = old_args + 1;
    return f;
}

void unroll_last(uint32_t kind) {
    Cell result = *arguments;
    unroll(kind, true);
    *arguments = result;
    top = arguments;
}

// ---- transfers ----

namespace {

// Searches down from `from` for a frame of `kind` (bits 24-27); a try-all frame or the bottom
// ends the search with null.
CallFrame* find_receiver(CallFrame* from, uint32_t kind) {
    for (CallFrame* f = from; f >= frame_begin; f--) {
        if (f->kind() == (kind & 0x0F)) return f;
        if (f->kind() == FRAME_TRY_ALL || f == frame_begin) return nullptr;
    }
    return nullptr;
}

CallFrame* find_in_func(CallFrame* from) {
    for (CallFrame* f = from; f >= frame_begin; f--) {
        if (f->header & FRAME_IN_FUNC) return f;
        if (f->kind() == FRAME_TRY_ALL || f == frame_begin) return nullptr;
    }
    return nullptr;
}

// Pops every frame above `f` (restoring function contexts); arguments becomes f's own base.
inline void pop_above(CallFrame* f) {
    if (ctop() == f) return;
    for (CallFrame* g = frame_top - 1; g > f; g--) restore_context(*g);
    arguments = begin + (f + 1)->saved_args;
    frame_top = f + 1;
}

}  // namespace

void throw_error(const Cell* err) {
    collector::Root error(*err);  // naming the frame may allocate (a word-table lookup)
    if (frame_top > frame_begin) {
        // Name the failing function and record where the stack stood.
        collector::Root where;
        frame_name(where.get());
        error::set_where(error.get(), where.get());
        error::set_near(error.get());
        error::set_stack_position(error.get(), int32_t(frame_top - frame_begin));
        CallFrame* f = ctop();
        while (f->kind() != FRAME_TRY && f->kind() != FRAME_TRY_ALL && f != frame_begin) f--;
        if (f->kind() == FRAME_TRY || f->kind() == FRAME_TRY_ALL) {
            Cell* saved_top = top;
            pop_above(f);
            pop_frame(true);
            top = saved_top;
            if (top >= end - 1) top = end - 2;
            push(error.get());
            runtime::throw_code(THROW_ERROR);
        }
    }
    // Nothing receives it: report and end the process.
    *arguments = error.cell;
    error::print_uncaught(error.get());
    runtime::exit_process(-2);
}

Status deliver_break(bool value_flag, bool continue_flag) {
    CallFrame* f = frame_top - 1 > frame_begin ? find_receiver(ctop() - 1, FRAME_LOOP) : nullptr;
    if (!f) raise_error("throw", continue_flag ? "continue" : "break");
    Cell value = value_flag && !continue_flag ? arguments[1] : cells::make_unset();
    pop_above(f);
    top = arguments;
    *arguments = value;
    return continue_flag ? Status::cont : Status::brk;
}

Status deliver_return(bool with_value, bool from_top) {
    CallFrame* start = from_top ? ctop() : ctop() - 1;
    CallFrame* f = start >= frame_begin ? find_in_func(start) : nullptr;
    if (!f) raise_error("throw", "return");
    Cell value = with_value ? arguments[0] : cells::make_unset();
    pop_above(f);
    top = arguments;
    *arguments = value;
    return with_value ? Status::ret : Status::exit;
}

Status deliver_throw(uint32_t code) {
    if (!error_origin) error_origin = ctop();
    Cell thrown = arguments[0];
    Cell name = arguments[1];
    CallFrame* f = frame_top - 1 > frame_begin ? find_receiver(ctop() - 1, FRAME_CATCH) : nullptr;
    if (!f) raise_error("throw", "throw", {&thrown});
    // Received: the origin was only wanted for the error above, and the frame it points at is
    // about to be popped; left set, it would name a later error after a dead frame.
    error_origin = nullptr;
    pop_above(f);
    top = arguments;
    push(&thrown);
    push(&name);
    return Status(code);
}

void throw_break(bool value_flag, bool continue_flag) {
    raise_pending(deliver_break(value_flag, continue_flag));
}

void throw_return(bool with_value, bool from_top) { raise_pending(deliver_return(with_value, from_top)); }

void throw_value(uint32_t code) { raise_pending(deliver_throw(code)); }

void raise_pending(Status s) { runtime::throw_code(uint32_t(s)); }

void raise_error(const char* category, const char* id, std::initializer_list<const Cell*> args) {
    if (!begin) runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0);  // before the stacks exist
    static bool raising_no_memory = false;
    if (raising_no_memory) runtime::runtime_error(FATAL_OUT_OF_MEMORY, 0);
    // The arguments stay rooted while the error is made: making it allocates.
    collector::Root argv[3];
    int n = 0;
    for (const Cell* a : args) {
        if (n < 3 && a) argv[n].cell = *a;
        n++;
    }
    collector::Root error;
    bool no_memory = std::string_view(id) == "no-memory";
    raising_no_memory = no_memory;
    try {
        error::create(error.get(), category, id, n > 0 ? argv[0].get() : nullptr,
                      n > 1 ? argv[1].get() : nullptr, n > 2 ? argv[2].get() : nullptr);
    } catch (...) {
        raising_no_memory = false;
        throw;
    }
    raising_no_memory = false;
    if (error_hook) error_hook(error.get());
    Cell e = error.cell;
    throw_error(&e);
}

void (*error_hook)(const Cell* error) = nullptr;

// ---- argument checks ----

namespace {

bool callable_type(uint32_t t) {
    return t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_FUNCTION || t == T_ROUTINE;
}

// The n-th (from 0) parameter of a spec block: its words, get-words, lit-words and refinements
// in order, as a plain word; false past the last one.
bool spec_param(Handle spec, int32_t n, Cell* out) {
    SeriesBuffer* b = memory::buffer_of(spec);
    const Cell* c = b->head_cell();
    const Cell* tail = c + b->used() / 16;
    for (; c < tail; c++) {
        uint32_t t = c->type();
        if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD && t != T_REFINEMENT) continue;
        if (n-- == 0) {
            *out = Cell{T_WORD, 0, c->data2, 0xFFFFFFFFu};
            return true;
        }
    }
    return false;
}

}  // namespace

// The parameter word of the function that names the last named frame, read from its spec; the
// word <anon> when that frame's name does not lead to a function value or the spec is shorter.
static void default_param_word(int32_t n, Cell* out) {
    *out = runtime_words::words::anon.header ? runtime_words::words::anon : Cell{T_WORD, 0, 0, 0xFFFFFFFF};
    const CallFrame* f = last_named;
    if (!f || f <= frame_begin || f >= frame_top || f->symbol == 0 || !f->name_ctx || n < 0) return;
    int32_t slot = context::find_word(f->name_ctx, f->symbol, false);
    if (slot < 0) slot = context::find_word(f->name_ctx, f->symbol, true);
    if (slot < 0) return;
    const Cell* v = context::reachable_value(context::cell(f->name_ctx), uint32_t(slot));
    if (!v || !callable_type(v->type()) || !v->data2) return;
    Cell word;
    if (spec_param(v->data2, n, &word)) *out = word;
}
void (*param_word)(int32_t n, Cell* out) = default_param_word;

[[noreturn]] static void raise_expect_arg(int32_t param, const Cell* value) {
    Cell name, type{T_DATATYPE, value->type(), 0, 0}, word;
    frame_name(&name);
    param_word(param, &word);
    raise_error("script", "expect-arg", {&name, &type, &word});
}

const Cell* check_type(const Cell* typeset, int32_t param, const Cell* value) {
    if (cell::typeset_has(typeset, value->type())) return value;
    raise_expect_arg(param, value);
}

void check_arg_type_at(int32_t arg_index, const Cell* typeset, int32_t param) {
    if (arg_index < 0) return;
    check_type(typeset, param, arguments + arg_index);
}

const Cell* check_refinement_arg_type(const Cell* refinement, const Cell* typeset, int32_t param,
                                      const Cell* value) {
    if (refinement->data1 == 0) return value;
    return check_type(typeset, param, value);
}

const Cell* check_not_unset(int32_t param, const Cell* value) {
    if (value->is(T_UNSET)) raise_expect_arg(param, value);
    return value;
}

void set_refinement_args(const Cell* logic, int32_t index, int32_t count) {
    if (cells::truthy(*logic)) {
        arguments[index].data1 = 1;
        return;
    }
    for (int32_t i = 1; i <= count; i++) arguments[index + i].header = T_NONE;
}

void raise_bad_make_arg(const Cell* value, const Cell* spec) {
    raise_error("script", "bad-make-arg", {value, spec});
}

// ---- names ----

namespace {

// The word naming a frame, bound in `ctx` when the name is there.
Cell frame_word(const CallFrame* f, Handle ctx) {
    Cell w{T_WORD, 0, f->symbol, 0xFFFFFFFFu};
    if (ctx) {
        int32_t slot = context::find_word(ctx, f->symbol, false);
        if (slot < 0) slot = context::find_word(ctx, f->symbol, true);
        if (slot >= 0) w = Cell{T_WORD, ctx, f->symbol, uint32_t(slot)};
    }
    return w;
}

}  // namespace

void frame_name(Cell* out) {
    CallFrame* f = error_origin ? error_origin : ctop();
    error_origin = nullptr;
    if (f >= frame_top) f = ctop();
    while (f > frame_begin && (named_hidden(f) || f->symbol == 0)) f--;
    if (f <= frame_begin || f->symbol == 0) {
        last_named = nullptr;
        *out = Cell{T_WORD, 0, not_found_symbol, 0xFFFFFFFF};
        if (runtime_words::words::not_found.header) *out = runtime_words::words::not_found;
        return;
    }
    // The word of the name context, with its slot there so that it can be looked up; a name
    // that has no slot (such as self) keeps its context and no index.
    last_named = f;
    *out = frame_word(f, f->name_ctx);
    if (!out->data1) *out = Cell{T_WORD, f->name_ctx, f->symbol, 0xFFFFFFFF};
}

uint32_t not_found_symbol = 0;

namespace {

bool traced(const CallFrame* f, int32_t level) {
    if (f->symbol == 0 || named_hidden(f)) return false;
    if (level > 1) return true;
    Cell w = frame_word(f, f->name_ctx);
    if (!w.data1) return false;
    Cell* v = context::get_in(&w, w.data1);
    return v && v->is(T_FUNCTION);
}

}  // namespace

void collect_calls(Cell* out) {
    for (CallFrame* f = frame_top - 1; f > frame_begin; f--) {
        if (f->symbol == 0 || named_hidden(f)) continue;
        Cell w = frame_word(f, f->func_ctx ? f->func_ctx : context::global);
        Cell pos{T_INTEGER, 0, f->saved_args, 0};
        *buffer::alloc_block_tail(out) = w;
        *buffer::alloc_block_tail(out) = pos;
    }
}

void collect_trace(int32_t level, Cell* out, CallFrame* last) {
    for (CallFrame* f = frame_begin; f <= last && f < frame_top; f++) {
        if (!traced(f, level)) continue;
        Cell w = frame_word(f, f->name_ctx);
        *buffer::alloc_block_tail(out) = w;
    }
}

int32_t form_trace(int32_t level, Cell* out, CallFrame* last, int32_t budget) {
    for (CallFrame* f = frame_begin; f <= last && f < frame_top && budget > 0; f++) {
        if (!traced(f, level)) continue;
        std::string name = symbol::name(f->symbol) + " ";
        unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()),
                                out, false, nullptr);
        budget -= int32_t(unicode::utf8_length_q(reinterpret_cast<const uint8_t*>(name.data()),
                                                 reinterpret_cast<const uint8_t*>(name.data()) + name.size()));
    }
    return budget;
}

}  // namespace kov::stack
