// foreach, forall, remove-each and apply.
//
// Every loop here pushes its state, then its loop frame, so that the state sits just below the
// frame base where the loop steps read it: the series at arguments[-2], its index advancing as
// the loop goes, and the loop word (or block of words) at arguments[-1]. The body runs in the
// loop frame and receives break and continue as the other loops do (stack::receive). One
// iteration costs one step and one evaluation of the body; nothing is allocated for the loop
// itself.
#include "evaluator/natives_loops.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/invocation.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"

namespace kov::natives {

namespace {

using collector::Root;
namespace rw = runtime_words;

inline Cell* args() { return stack::arguments; }

// Evaluates a loop body into the loop frame's result slot, receiving break and continue; an
// interrupt request stops the loop here.
inline Status run_body(interpreter::Body& body) {
    stack::check_interrupt();
    stack::keep();  // the frame keeps only its result slot between iterations
    return stack::receive(THROW_BREAK, [&] { return body.run(); });
}

// Opens the loop frame above the state just pushed; its result starts as unset!.
inline void open_loop() {
    stack::mark_loop(&rw::words::body);
    *stack::arguments = cells::make_unset();
    stack::top = stack::arguments + 1;
}

// Closes the loop frame; its result becomes the native's.
inline void end_loop() { stack::unwind_last(); }

// The values left in a block of loop words (from its index).
int32_t word_count(const Cell* words) {
    int32_t n = series::buffer_length(words) - int32_t(cells::series_index(*words));
    return n > 0 ? n : 0;
}

// One step of foreach or remove-each: a block of words takes as many values as it has words.
inline bool step(bool multi, int32_t n) { return multi ? foreach_step_multi(n) : foreach_step(); }

// foreach 'word series body
Status foreach(const int32_t*) {
    Cell* a = args();
    bool multi = a[0].is(T_BLOCK);
    int32_t n = 1;
    if (multi) {
        n = word_count(&a[0]);
        if (n == 0) stack::raise_error("script", "invalid-arg", {&a[0]});
    } else if (a[1].is(T_MAP)) {
        stack::raise_error("script", "invalid-arg", {&a[0]});
    }
    stack::push(&a[1]);
    stack::push(&a[0]);
    open_loop();
    interpreter::Body body(a[2]);
    while (step(multi, n)) {
        Status s = run_body(body);
        if (s == Status::brk) break;
        if (s != Status::normal && s != Status::cont) return s;
    }
    end_loop();
    return Status::normal;
}

// The datatypes forall walks.
bool forall_series(uint32_t t) {
    switch (t) {
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_BLOCK: case T_PAREN: case T_HASH:
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR: case T_IMAGE:
        return true;
    default:
        return false;
    }
}

// forall 'word body
//
// State: the starting series at arguments[-3], the walking series at [-2], the word at [-1].
// The body may move the word's position within the same series; the walk goes on from there.
Status forall(const int32_t*) {
    Cell* a = args();
    Cell start = *context::get(&a[0]);
    if (!forall_series(start.type())) {
        Root name(cells::make_word(T_WORD, 0, symbol::make("forall")));
        Root param(cells::make_word(T_WORD, 0, symbol::make("word")));
        Cell type = cells::make_datatype(start.type());
        stack::raise_error("script", "expect-arg", {name.get(), &type, param.get()});
    }
    Cell* first = stack::push(&start);
    stack::push(&start);
    stack::push(&a[0]);
    open_loop();
    bool advance = false;
    interpreter::Body body(a[1]);
    while (!forall_loop_q(advance)) {
        forall_step();
        Status s = run_body(body);
        if (s == Status::brk) {
            end_loop();
            return Status::normal;
        }
        if (s != Status::normal && s != Status::cont) return s;
        const Cell* now = context::get(stack::arguments - 1);
        if (!forall_series(now->type()) || now->data2 != first->data2) {
            Root bad(*now);
            stack::raise_error("script", "bad-loop-series", {bad.get()});
        }
        *(stack::arguments - 2) = *now;
        advance = true;
    }
    context::set(stack::arguments - 1, first);
    end_loop();
    return Status::normal;
}

// remove-each 'word data body
//
// State: the word count at arguments[-3], the data at [-2], the word or words at [-1]. An
// iteration whose body ends normally with a truthy value marks the values it took; the marked
// values are removed in one pass when the loop ends, however it ends (normally, by break, by an
// error or a throw), so a whole loop costs one walk of the data and the data is left whole and
// consistent. While the loop runs the body sees the data as it was; a body that changes the
// data's length moves the values under the marks, which stay at their positions.
Status remove_each(const int32_t*) {
    Cell* a = args();
    Root data(a[1]);
    bool multi = a[0].is(T_BLOCK);
    int32_t n = multi ? word_count(&a[0]) : 1;
    uint32_t start = cells::series_index(a[1]);
    std::vector<uint8_t> gone;
    auto finish = [&] {
        if (!gone.empty()) series::remove_marked(data.get(), start, gone.data(), uint32_t(gone.size()));
        gone.clear();
    };
    Cell count = cells::make_integer(n);
    stack::push(&count);
    stack::push(&a[1]);
    stack::push(&a[0]);
    open_loop();
    interpreter::Body body(a[2]);
    try {
        while (n > 0 && step(multi, n)) {
            Status s = run_body(body);
            if (s == Status::brk) break;
            if (s == Status::cont) continue;
            if (s != Status::normal) {
                finish();
                return s;
            }
            if (!cells::truthy(*stack::arguments)) continue;
            uint32_t next = cells::series_index(*(stack::arguments - 2));
            uint32_t first = next - std::min(next - start, uint32_t(n));
            if (gone.size() < next - start) gone.resize(next - start, 0);
            for (uint32_t i = first; i < next; i++) gone[i - start] = 1;
        }
    } catch (...) {
        finish();
        throw;
    }
    end_loop();
    Cell* out = stack::arguments;
    finish();
    *out = data.cell;
    stack::top = out + 1;
    return Status::normal;
}

bool function_kind(uint32_t t) {
    return t == T_FUNCTION || t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_ROUTINE;
}

bool word_kind(uint32_t t) { return t == T_WORD || t == T_LIT_WORD || t == T_SET_WORD || t == T_GET_WORD; }

// apply func args /all /safer
Status apply(const int32_t* refs) {
    Cell* a = args();
    Root fn(a[0]), path, name;
    bool by_path = false, named = false;
    uint32_t t = a[0].type();
    if (word_kind(t)) {
        name.cell = a[0];
        name->header = (name->header & ~CELL_TYPE_MASK) | T_WORD;
        fn.cell = *context::get(&a[0]);
        named = true;
    } else if (t == T_PATH) {
        path.cell = a[0];
        Cell head = series::buffer_length(&a[0]) > int32_t(cells::series_index(a[0]))
                        ? *block::ks_abs_at(&a[0], cells::series_index(a[0]))
                        : cells::make_none();
        if (!word_kind(head.type())) stack::raise_error("script", "invalid-arg", {&a[0]});
        name.cell = head;
        fn.cell = *context::get(&head);
        by_path = true;
    }
    if (!function_kind(fn->type())) stack::raise_error("script", "invalid-arg", {&a[0]});
    if (fn->is(T_OP)) fn.cell = invocation::op_target(fn.get());
    int mode = (refs[0] >= 0 ? interpreter::FETCH_POSITIONAL : interpreter::FETCH_NAMED) |
               (refs[1] >= 0 ? interpreter::FETCH_SAFER : 0);
    interpreter::Code code(a[1]);
    uint32_t index = cells::series_index(a[1]);
    interpreter::Step s =
        interpreter::eval_code(fn.get(), &code, index, false, by_path ? path.get() : nullptr,
                               int32_t(by_path ? cells::series_index(path.cell) : 0), -1, nullptr, mode,
                               false, named ? name.get() : nullptr);
    return s.status;
}

}  // namespace

namespace loops {

void init() {
    table[11 - 1] = foreach;
    table[12 - 1] = forall;
    table[13 - 1] = remove_each;
    table[107 - 1] = apply;
}

}  // namespace loops

}  // namespace kov::natives
