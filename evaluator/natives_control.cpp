// Conditionals, loops, loop exits, try/catch/throw/return/exit, the function makers, do, reduce,
// compose and print.
//
// A native's arguments stay where the interpreter pushed them (stack::arguments of its frame);
// natives that push frames of their own (loops, try, catch) keep a pointer to them first: the
// argument stack never moves. Loops receive break and continue through stack::receive, which
// answers a delivered transfer the same way whether it came back as a status or as an Unwind.
#include "evaluator/natives_control.hpp"

#include <cmath>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/ownership.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/tracing.hpp"

namespace kov::natives {

namespace {

using collector::Root;
using interpreter::Code;
using interpreter::Step;
namespace rw = runtime_words;

inline Cell* args() { return stack::arguments; }

inline void result(const Cell& v) {
    *stack::arguments = v;
    stack::top = stack::arguments + 1;
}

inline void result_none() { result(cells::make_none()); }
inline void result_unset() { result(cells::make_unset()); }

// Evaluates a block into the current frame's result slot.
inline Status run_block(const Cell* block) { return interpreter::eval(block, true); }

// The same for a branch that is the native's last act: in the native's own frame.
inline Status run_branch(const Cell* block) { return interpreter::eval_here(block); }

// Evaluates a loop body into the loop frame's result slot, receiving break and continue; an
// interrupt request stops the loop here.
inline Status run_body(interpreter::Body& body) {
    stack::check_interrupt();
    stack::keep();  // the frame keeps only its result slot between iterations
    return stack::receive(THROW_BREAK, [&] { return body.run(); });
}

// Closes the loop frame; its result becomes the native's.
inline void end_loop() { stack::unwind_last(); }

inline bool falsy(const Cell* v) { return !cells::truthy(*v); }

// ---- conditionals ----

Status if_(const int32_t*) {
    if (falsy(args())) {
        result_none();
        return Status::normal;
    }
    Cell body = args()[1];
    return run_branch(&body);
}

Status unless(const int32_t*) {
    if (!falsy(args())) {
        result_none();
        return Status::normal;
    }
    Cell body = args()[1];
    return run_branch(&body);
}

Status either(const int32_t*) {
    Cell body = interpreter::true_q(args()) ? args()[1] : args()[2];
    return run_branch(&body);
}

// Evaluates the block's expressions one at a time; `stop` decides on each value.
template <class Stop> Status each_expression(const Cell* block, Stop stop, bool& stopped) {
    Code code(*block);
    Cell* base = stack::top;
    uint32_t pos = code.block->data1;
    stopped = false;
    while (pos < code.tail()) {
        Step s = interpreter::eval_expression(code, pos, false, true, false);
        if (s.status != Status::normal) return s.status;
        pos = s.pos;
        Cell v = *(stack::top - 1);
        stack::top = base;
        if (stop(v)) {
            stopped = true;
            return Status::normal;
        }
    }
    return Status::normal;
}

Status any(const int32_t*) {
    Cell found = cells::make_none();
    bool stopped;
    Status s = each_expression(args(), [&](const Cell& v) {
        if (!cells::truthy(v)) return false;
        found = v;
        return true;
    }, stopped);
    if (s != Status::normal) return s;
    result(found);
    return Status::normal;
}

Status all(const int32_t*) {
    Cell last = cells::make_none();
    bool stopped;
    Status s = each_expression(args(), [&](const Cell& v) {
        last = v;
        return !cells::truthy(v);
    }, stopped);
    if (s != Status::normal) return s;
    result(stopped ? cells::make_none() : last);
    return Status::normal;
}

Status switch_(const int32_t* refs) {
    Cell* a = args();
    Root value(a[0]), cases(a[1]);
    uint32_t t = value->type();
    SeriesBuffer* b = memory::buffer_of(cases->data2);
    uint32_t n = b->used() >> 4;
    uint32_t i = cases->data1;
    bool found = false;
    if (t != T_BLOCK) {
        for (; i < n; i++) {
            Cell c = memory::buffer_of(cases->data2)->head_cell()[i];
            if (c.type() != t) continue;
            if (actions::compare(value.get(), &c, COMP_EQUAL)) {
                found = true;
                break;
            }
        }
    }
    if (found) {
        for (i++; i < memory::buffer_of(cases->data2)->used() >> 4; i++) {
            Cell c = memory::buffer_of(cases->data2)->head_cell()[i];
            if (c.is(T_BLOCK)) return run_block(&c);
        }
        result_none();
        return Status::normal;
    }
    if (refs[0] >= 0) {
        Cell def = a[refs[0]];
        return run_block(&def);
    }
    result_none();
    return Status::normal;
}

Status case_(const int32_t* refs) {
    bool all_ = refs[0] >= 0;
    Code code(args()[0]);
    uint32_t pos = code.block->data1;
    if (pos >= code.tail()) {
        result_none();
        return Status::normal;
    }
    Cell* out = args();
    stack::mark(&rw::words::anon, FRAME_INTERP_NATIVE);
    Cell* base = stack::top;
    Cell last = cells::make_none();
    bool found = false;
    while (pos < code.tail()) {
        found = false;
        Step s = interpreter::eval_expression(code, pos, false, true, false);
        if (s.status != Status::normal) return s.status;
        pos = s.pos;
        if (pos >= code.tail()) {
            Cell w = cells::make_word(T_WORD, 0, rw::sym::case_);
            stack::raise_error("script", "need-value", {&w});
        }
        bool truth = interpreter::true_q(stack::top - 1);
        stack::top = base;
        if (!truth) {
            pos++;
            continue;
        }
        Cell branch = *code.at(pos);
        if (branch.is(T_BLOCK)) {
            pos++;
            Status st = interpreter::eval(&branch, false);
            if (st != Status::normal) return st;
        } else {
            Step b = interpreter::eval_expression(code, pos, false, true, false);
            if (b.status != Status::normal) return b.status;
            pos = b.pos;
        }
        last = *(stack::top - 1);
        stack::top = base;
        found = true;
        if (!all_) break;
    }
    stack::unwind_drop();
    *out = found ? last : cells::make_none();
    stack::top = out + 1;
    return Status::normal;
}

// ---- loops ----

Status while_(const int32_t*) {
    Cell* a = args();
    stack::mark_loop(&rw::words::body);
    interpreter::Body condition(a[0]), body(a[1]);
    while (true) {
        Status s = run_body(condition);
        if (s == Status::brk || s == Status::cont) stack::raise_error("throw", "while-cond");
        if (s != Status::normal) return s;
        if (!interpreter::true_q(stack::arguments)) break;
        s = run_body(body);
        if (s == Status::brk) break;
        if (s != Status::normal && s != Status::cont) return s;
    }
    end_loop();
    result_unset();
    return Status::normal;
}

Status until(const int32_t*) {
    Cell* a = args();
    stack::mark_loop(&rw::words::body);
    interpreter::Body body(a[0]);
    while (true) {
        Status s = run_body(body);
        if (s == Status::brk) break;
        if (s == Status::cont) continue;
        if (s != Status::normal) return s;
        if (interpreter::true_q(stack::arguments)) break;
    }
    end_loop();
    return Status::normal;
}

Status loop(const int32_t*) {
    Cell* a = args();
    int32_t n = loop_count(&a[0]);
    if (n <= 0) {
        result_none();
        return Status::normal;
    }
    stack::mark_loop(&rw::words::body);
    *stack::arguments = cells::make_unset();
    stack::top = stack::arguments + 1;
    interpreter::Body body(a[1]);
    for (int32_t i = 0; i < n; i++) {
        Status s = run_body(body);
        if (s == Status::brk) break;
        if (s != Status::normal && s != Status::cont) return s;
    }
    end_loop();
    return Status::normal;
}

Status repeat(const int32_t*) {
    Cell* a = args();  // 'word count body
    int32_t n = loop_count(&a[1]);
    if (n <= 0) {
        result_none();
        return Status::normal;
    }
    a[1] = cells::make_integer(1);
    stack::mark_loop(&rw::words::body);
    *stack::arguments = cells::make_unset();
    stack::top = stack::arguments + 1;
    interpreter::Body body(a[2]);
    for (int32_t left = n; left > 0; left--) {
        context::set_quick(&a[0], &a[1]);
        Status s = run_body(body);
        if (s == Status::brk) break;
        if (s != Status::normal && s != Status::cont) return s;
        // The counter after the last pass is never read: at the top of the range it wraps.
        cells::set_integer(a[1], int32_t(uint32_t(cells::integer(a[1])) + 1u));
    }
    end_loop();
    return Status::normal;
}

Status forever(const int32_t*) {
    Cell* a = args();
    stack::mark_loop(&rw::words::body);
    interpreter::Body body(a[0]);
    while (true) {
        Status s = run_body(body);
        if (s == Status::brk) break;
        if (s != Status::normal && s != Status::cont) return s;
    }
    end_loop();
    return Status::normal;
}

Status break_(const int32_t* refs) {
    bool with = refs[0] >= 0;
    if (with) {
        Cell v = args()[refs[0]];
        if (stack::top < stack::arguments + 2) stack::top = stack::arguments + 2;
        stack::arguments[1] = v;
    }
    return stack::deliver_break(with, false);
}

Status continue_(const int32_t*) { return stack::deliver_break(false, true); }

// ---- exceptions and returns ----

Status try_(const int32_t* refs) {
    bool all_ = refs[0] >= 0;
    bool keep = refs[1] >= 0;
    Cell* a = args();
    Cell block = a[0];
    CallFrame* native_frame = stack::ctop();
    stack::mark(&rw::words::try_, all_ ? FRAME_TRY_ALL : FRAME_TRY);
    Status s = stack::receive(THROW_ERROR, [&] { return interpreter::eval(&block, true); });
    if (s == Status::normal) {
        stack::unwind_last();
    } else if (s != Status::error) {
        return s;
    }
    // After an error the try frame is gone and the error is the top value.
    (void)native_frame;
    stack::revert_error();
    if (keep && stack::arguments->is(T_ERROR)) error::build_trace(stack::arguments);
    return Status::normal;
}

Status catch_(const int32_t* refs) {
    Cell* a = args();
    Cell block = a[0];
    bool named = refs[0] >= 0;
    Root names(named ? a[refs[0]] : cells::make_none());
    stack::mark(&rw::words::catch_, FRAME_CATCH);
    Status s = stack::receive(THROW_CATCH_LEVEL, [&] { return interpreter::eval(&block, true); });
    if (s == Status::normal) {
        stack::unwind_last();
        return Status::normal;
    }
    if (uint32_t(s) != THROW_CATCH_LEVEL) return s;
    // The catch frame holds the thrown value and its name.
    if (named) {
        const Cell* name = stack::arguments + 1;
        bool match = false;
        if (name->is(T_WORD)) {
            uint32_t want = symbol::resolve(name->data2);
            if (names->is(T_WORD)) {
                match = symbol::resolve(names->data2) == want;
            } else {
                SeriesBuffer* b = memory::buffer_of(names->data2);
                for (uint32_t i = names->data1; i < (b->used() >> 4) && !match; i++) {
                    Cell e = memory::buffer_of(names->data2)->head_cell()[i];
                    if (!e.is(T_WORD)) {
                        Cell w = cells::make_word(T_WORD, 0, symbol::make("name"));
                        stack::raise_error("script", "invalid-refine-arg", {&w, names.get()});
                    }
                    match = symbol::resolve(e.data2) == want;
                }
            }
        }
        if (!match) return stack::deliver_throw(THROW_CATCH_LEVEL);
    }
    if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_CATCH, nullptr, tracing::NO_POS, nullptr, stack::arguments);
    stack::unwind_last();
    return Status::normal;
}

Status throw_(const int32_t* refs) {
    if (refs[0] < 0) {
        if (stack::top < stack::arguments + 2) stack::top = stack::arguments + 2;
        stack::arguments[1] = cells::make_unset();
    }
    if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_THROW, nullptr, tracing::NO_POS, nullptr, stack::arguments);
    return stack::deliver_throw(THROW_CATCH_LEVEL);
}

Status return_(const int32_t*) { return stack::deliver_return(true, true); }
Status exit_(const int32_t*) { return stack::deliver_return(false, true); }

// ---- function makers ----

// A head index past the block's tail reads as the tail.
void clamp(Cell* blk) {
    uint32_t n = memory::buffer_of(blk->data2)->used() >> 4;
    if (blk->data1 > n) blk->data1 = n;
}

Status make_function(Cell* spec, Cell* body) {
    clamp(spec);
    clamp(body);
    uint32_t flags = function::validate(spec);
    function::push(spec, body, 0, 0, 0, flags);
    result(*(stack::top - 1));
    return Status::normal;
}

Status func(const int32_t*) { return make_function(&args()[0], &args()[1]); }

Status function_(const int32_t*) {
    Cell* a = args();
    clamp(&a[0]);
    Cell* copy = block::clone(&a[0], false, false);
    a[0] = *copy;
    stack::pop(1);
    function::collect_locals(&a[0], &a[1]);
    return make_function(&a[0], &a[1]);
}

Status does(const int32_t*) {
    Cell* a = args();
    if (stack::top < a + 2) stack::top = a + 2;
    a[1] = a[0];
    block::make_at(&a[0], 1);
    return make_function(&a[0], &a[1]);
}

Status has(const int32_t*) {
    Cell* a = args();
    clamp(&a[0]);
    Cell* copy = block::clone(&a[0], false, false);
    a[0] = *copy;
    stack::pop(1);
    Cell local = rw::refinements::local;
    block::insert_value(&a[0], &local, false, false);
    return make_function(&a[0], &a[1]);
}

// ---- evaluation ----

// The boot library's preprocessor expands the block in place (no job, earlier macros kept);
// its answer is the block to evaluate.
Status expand_block(Cell* value) {
    Root code(*value);
    Root holder_word(*word::load("preprocessor"));
    Root holder(*context::get(holder_word.get()));
    if (!holder->is(T_OBJECT)) stack::raise_error("internal", "not-done");
    Root expand_word(*word::load("expand"));
    Root expand(*object::select_word(holder.get(), expand_word.get()));
    if (!expand->is(T_FUNCTION)) stack::raise_error("internal", "not-done");
    Root no_job(cells::make_none());
    const Cell* call_args[2] = {code.get(), no_job.get()};
    Root out;
    Status s = interpreter::call_with(expand.get(), call_args, 2, out.get());
    if (s != Status::normal) return s;
    if (out->is(T_BLOCK) || out->is(T_PAREN)) *value = *out;
    return Status::normal;
}

Status do_block(Cell* value, const int32_t* refs) {
    clamp(value);
    if (refs[0] >= 0) {
        Status s = expand_block(value);
        if (s != Status::normal) return s;
    }
    if (refs[2] < 0) return interpreter::eval(value, true);
    Cell* word = &args()[refs[2]];
    // the expression's value goes into the frame's result cell, where the block stood; at the
    // tail there is none: unset, and the position stays
    Root block(*value);
    if (block::ks_length_q(block.get()) <= 0) {
        *value = cells::make_unset();
        context::set(word, block.get());
        return Status::normal;
    }
    Step s = interpreter::eval_next(block.get(), block->data1, false);
    if (s.status != Status::normal) return s.status;
    Cell rest = *block;
    rest.data1 = s.pos;
    context::set(word, &rest);
    return Status::normal;
}

}  // namespace

int32_t loop_count(const Cell* count) {
    if (count->is(T_FLOAT)) {
        double d = count->get_float();
        if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) {
            Cell t = cells::make_datatype(T_INTEGER);
            stack::raise_error("script", "type-limit", {&t});
        }
        return int32_t(std::trunc(d));
    }
    return cells::integer(*count);
}

Status reduce_into(const Cell* block, Cell* into) {
    Code code(*block);
    Cell* base = stack::top;
    uint32_t pos = code.block->data1;
    while (pos < code.tail()) {
        Step s = interpreter::eval_expression(code, pos, false, true, false);
        if (s.status != Status::normal) return s.status;
        pos = s.pos;
        Cell* v = stack::top - 1;
        v->header &= ~CELL_NEW_LINE;
        block::append_value(into, v);
        stack::top = base;
    }
    return Status::normal;
}

namespace {

// The frame's first argument evaluated as a one-value expression (a word gives its value, a
// function value is called), into the result slot.
Status eval_one() {
    Cell* out = stack::arguments;
    Root blk;
    block::make_at(blk.get(), 1);
    block::append_value(blk.get(), out);
    Code code(blk.cell);
    Step s = interpreter::eval_expression(code, 0, false, true, false);
    if (s.status != Status::normal) return s.status;
    Cell v = *(stack::top - 1);
    *out = v;
    stack::top = out + 1;
    return Status::normal;
}

// do's evaluation of its value (the refinements but /trace).
Status do_value(const int32_t* refs) {
    Cell* a = args();
    uint32_t t = a[0].type();
    switch (t) {
    case T_BLOCK:
    case T_PAREN:
    case T_HASH:
        return do_block(&a[0], refs);
    case T_PATH: {
        Code code(a[0]);
        Step s = interpreter::eval_path(&a[0], code, 0, false, false, false, false);
        return s.status;
    }
    case T_STRING: {
        Root text(a[0]);
        Root blk;
        lexer::ScanOptions options;
        lexer::scan_string(blk.get(), text.get(), -1, options, nullptr);
        a[0] = blk.cell;
        return do_block(&a[0], refs);
    }
    case T_FILE:
    case T_URL: {
        // Scripts run through the library's do-file (no trace callback, the /args value).
        Root none(cells::make_none());
        return interpreter::call_library("do-file", {&args()[0], none.get(), refs[1] >= 0 ? &args()[refs[1]] : none.get()});
    }
    case T_ERROR: {
        Cell e = a[0];
        stack::throw_error(&e);
    }
    default:
        return eval_one();
    }
}

// do: /expand /args arg /next position /trace callback. With /trace the evaluation is a trace
// run with the callback, unless one is under way already.
Status do_(const int32_t* refs) {
    if (refs[3] < 0) return do_value(refs);
    return tracing::with_callback(&args()[refs[3]], [&] { return do_value(refs); });
}

Status reduce(const int32_t* refs) {
    Cell* a = args();
    bool into = refs[0] >= 0;
    uint32_t t = a[0].type();
    if (t == T_BLOCK) {
        Root out;
        if (into) {
            out.cell = a[refs[0]];
        } else {
            uint32_t n = memory::buffer_of(a[0].data2)->used() >> 4;
            block::make_at(out.get(), int32_t(n > a[0].data1 ? n - a[0].data1 : 0));
        }
        bool at_tail = !into || out->data1 >= (memory::buffer_of(out->data2)->used() >> 4);
        if (at_tail) {
            Status s = reduce_into(&a[0], out.get());
            if (s != Status::normal) return s;
            if (!into) out->data1 = 0;
        } else {
            Root tmp;
            block::make_at(tmp.get(), 4);
            Status s = reduce_into(&a[0], tmp.get());
            if (s != Status::normal) return s;
            for (uint32_t i = 0; i < (memory::buffer_of(tmp->data2)->used() >> 4); i++) {
                Cell v = memory::buffer_of(tmp->data2)->head_cell()[i];
                block::insert_value(out.get(), &v, true, false);
            }
        }
        result(out.cell);
        return Status::normal;
    }
    if (t == T_FUNCTION || t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_ROUTINE) {
        result(a[0]);
        return Status::normal;
    }
    Status s = eval_one();
    if (s != Status::normal) return s;
    if (into) {
        Root v(*stack::arguments), out(a[refs[0]]);
        block::append_value(out.get(), v.get());
        result(out.cell);
    }
    return Status::normal;
}

// compose: /deep /only /into out
Status compose_block(const Cell* block, bool deep, bool only, Cell* out) {
    Root blk(*block);
    uint32_t n = memory::buffer_of(blk->data2)->used() >> 4;
    for (uint32_t i = blk->data1; i < n; i++) {
        Cell c = memory::buffer_of(blk->data2)->head_cell()[i];
        if (c.is(T_PAREN)) {
            if ((memory::buffer_of(c.data2)->used() >> 4) <= c.data1) continue;
            Status s = interpreter::eval(&c, false);
            if (s != Status::normal) return s;
            Root v(*(stack::top - 1));
            stack::pop(1);
            if (v->is(T_UNSET)) continue;
            if (v->is(T_BLOCK) && !only) {
                block::append_cells(out, v.get());
            } else {
                block::append_value(out, v.get());
            }
        } else if (c.is(T_BLOCK) && deep) {
            Root inner(c), nested;
            block::make_at(nested.get(), int32_t(memory::buffer_of(c.data2)->used() >> 4));
            Status s = compose_block(inner.get(), deep, only, nested.get());
            if (s != Status::normal) return s;
            nested->header = c.header;
            block::append_value(out, nested.get());
        } else {
            block::append_value(out, &c);
        }
        n = memory::buffer_of(blk->data2)->used() >> 4;
    }
    return Status::normal;
}

Status compose(const int32_t* refs) {
    Cell* a = args();
    if (!a[0].is(T_BLOCK)) {
        Cell b = cells::make_datatype(T_BLOCK), t = cells::make_datatype(a[0].type());
        stack::raise_error("script", "expect-val", {&b, &t});
    }
    Root out;
    bool into = refs[2] >= 0;
    if (into) out.cell = a[refs[2]];
    else block::make_at(out.get(), int32_t(memory::buffer_of(a[0].data2)->used() >> 4));
    Status s = compose_block(&a[0], refs[0] >= 0, refs[1] >= 0, out.get());
    if (s != Status::normal) return s;
    result(out.cell);
    return Status::normal;
}

// ---- print ----

Status print_value(bool new_line) {
    Cell* a = args();
    Root value(a[0]);
    if (value->is(T_BLOCK)) {
        Root buf;
        block::make_at(buf.get(), 8);
        Status s = reduce_into(value.get(), buf.get());
        if (s != Status::normal) return s;
        value.cell = buf.cell;
    }
    Root text(value.cell);
    if (!value->is(T_STRING)) {
        string::make_at(text.get(), 16);
        actions::form_dispatch(value.get(), text.get(), false, INT32_MAX);
    }
    output::call_print_hooks(text.get(), new_line);
    output::last_new_line = new_line;
    result_unset();
    return Status::normal;
}

Status print(const int32_t*) { return print_value(true); }
Status prin(const int32_t*) { return print_value(false); }

}  // namespace

namespace control {

void init() {
    struct Entry {
        int number;
        NativeFn fn;
    };
    const Entry entries[] = {
        {1, if_},        {2, unless},    {3, either},   {4, any},       {5, all},
        {6, while_},     {7, until},     {8, loop},     {9, repeat},    {10, forever},
        {14, func},      {15, function_}, {16, does},   {17, has},      {18, switch_},
        {19, case_},     {20, do_},      {23, print},   {24, prin},     {35, reduce},
        {36, compose},   {70, try_},     {77, break_},  {78, continue_}, {79, exit_},
        {NATIVE_RETURN, return_}, {81, throw_}, {82, catch_},
    };
    for (const Entry& e : entries) table[e.number - 1] = e.fn;
}

}  // namespace control

}  // namespace kov::natives
