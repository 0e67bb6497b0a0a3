// Function invocation and argument fetching: the argument list of a function value, the call
// frame, the arguments and refinements taken from the code block or a path, and the running of
// natives, actions, routines and interpreted bodies.
#include "evaluator/invocation.hpp"

#include <cstring>
#include <vector>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/tracing.hpp"

namespace kov::invocation {

using interpreter::Code;
using interpreter::Step;

ListEntry list_cache[LIST_ENTRIES];

const uint8_t* fill_list(const Cell* fn) {
    Handle list = arg_list(fn);  // may allocate: the generation is read after it
    ListEntry& e = list_entry(fn->data3);
    e = ListEntry{fn->data3, memory::generation, memory::buffer_of(list)->head_ptr(),
                  memory::buffer_of(fn->data3)->head_cell()};
    return e.bytes;
}

namespace {

using collector::Root;
namespace rw = runtime_words;

inline bool function_q(uint32_t t) { return t == T_FUNCTION || t == T_ROUTINE; }

uint64_t types_of(const Cell* ts) {
    uint64_t m = 0;
    for (uint32_t t = 1; t < 64; t++)
        if (cell::typeset_has(ts, t)) m |= uint64_t(1) << t;
    return m;
}

// Every datatype but unset!.
constexpr uint64_t DEFAULT_TYPES = ~uint64_t(0) & ~(uint64_t(1) << T_UNSET) & ~uint64_t(1);

inline Cell spec_cell(const Root& spec, uint32_t i) {
    return memory::buffer_of(spec.cell.data2)->head_cell()[i];
}

// The word naming an argument or refinement in error reports.
inline Cell word_of(const ArgEntry& e) { return Cell{T_WORD, 0, e.symbol, cells::NO_INDEX}; }

}  // namespace

[[noreturn]] void raise_expect_arg(const Cell* name, const Cell* value, const ArgEntry& e) {
    Cell type = cells::make_datatype(value->type());
    Cell word = word_of(e);
    stack::raise_error("script", "expect-arg", {name, &type, &word});
}

inline void check_type(const Cell* name, const Cell* value, const ArgEntry& e) {
    if (!e.admits(value->type())) [[unlikely]] raise_expect_arg(name, value, e);
}

Handle make_arg_list(const Cell* fn_in) {
    Root fn(*fn_in);
    bool is_fn = function_q(fn->type());
    uint32_t local = symbol::resolve(symbol::make("local"));
    uint32_t ret = symbol::resolve(symbol::make("return"));
    Root spec(Cell{T_BLOCK, 0, fn->data2, 0});
    uint32_t n = memory::buffer_of(spec->data2)->used() >> 4;
    std::vector<ArgEntry> entries;
    ArgListHead head{};
    Root ts;
    uint32_t slots = 0;
    for (uint32_t i = 0; i < n; i++) {
        Cell c = spec_cell(spec, i);
        uint32_t t = c.type();
        if (t == T_WORD || t == T_GET_WORD || t == T_LIT_WORD) {
            ArgEntry e{};
            e.kind = t == T_WORD ? ARG_EVAL : t == T_GET_WORD ? ARG_GET : ARG_LIT;
            e.symbol = c.data2;
            e.slot = is_fn ? context::find_word(fn->data1, c.data2, true) : -1;
            e.ordinal = -1;
            e.set_types(DEFAULT_TYPES);
            if (i + 1 < n) {
                Cell next = spec_cell(spec, i + 1);
                if (next.is(T_BLOCK) && (memory::buffer_of(next.data2)->used() >> 4) > next.data1) {
                    Root blk(next);
                    typeset::make_from_block(ts.get(), blk.get());
                    e.set_types(types_of(ts.get()));
                }
            }
            entries.push_back(e);
            slots++;
        } else if (t == T_REFINEMENT) {
            if (symbol::resolve(c.data2) == local) {
                head.has_local = 1;
                uint32_t j = i + 1;
                while (j < n && !spec_cell(spec, j).is(T_SET_WORD)) j++;
                i = j - 1;
                continue;
            }
            ArgEntry e{};
            e.kind = ARG_REFINEMENT;
            e.symbol = c.data2;
            e.slot = is_fn ? context::find_word(fn->data1, c.data2, true) : -1;
            e.ordinal = int32_t(head.refinements++);
            entries.push_back(e);
            slots++;
        } else if (t == T_SET_WORD) {
            if (symbol::resolve(c.data2) != ret) {
                Root w(c);
                stack::raise_error("script", "bad-func-def", {w.get()});
            }
            ArgEntry e{};
            e.kind = ARG_RETURN;
            e.symbol = c.data2;
            e.slot = -1;
            e.ordinal = -1;
            entries.push_back(e);
        }
    }
    head.count = uint32_t(entries.size());
    head.plain = head.refinements <= 32;
    for (const ArgEntry& e : entries) {
        if (e.kind == ARG_REFINEMENT) break;
        if (e.kind != ARG_EVAL) head.plain = 0;
    }
    // The conditionals as made at start-up (a native made with another spec is not one).
    if (fn->is(T_NATIVE) && fn->data1 >= natives::NATIVE_IF && fn->data1 <= natives::NATIVE_EITHER) {
        uint32_t branches = fn->data1 == natives::NATIVE_EITHER ? 2 : 1;
        bool shaped = head.count == branches + 1 && head.refinements == 0 && head.plain;
        for (uint32_t i = 1; shaped && i <= branches; i++) shaped = entries[i].admits(T_BLOCK);
        if (shaped) head.branches = branches;
    }
    if (fn->is(T_NATIVE) && fn->data1 == natives::NATIVE_RETURN)
        head.returns = head.count == 1 && head.refinements == 0 && head.plain && entries[0].kind == ARG_EVAL;
    if (is_fn) {
        uint32_t words = context::word_count(fn->data1);
        head.locals = words > slots ? words - slots : 0;
        if (!head.locals) head.has_local = 0;
    } else {
        head.has_local = 0;
    }
    uint32_t bytes = uint32_t(sizeof(ArgListHead) + entries.size() * sizeof(ArgEntry));
    Handle node = memory::make_bytes(bytes);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head_ptr(), &head, sizeof head);
    if (!entries.empty())
        std::memcpy(b->head_ptr() + sizeof head, entries.data(), entries.size() * sizeof(ArgEntry));
    b->tail = b->head + bytes;
    memory::buffer_of(fn->data3)->head_cell()[1] = cells::make_series(T_BINARY, node);
    return node;
}

namespace {

// The call of one function value: its list, its name, where its arguments come from.
struct Call {
    const Cell* fn;    // a stable cell (the argument stack or a root)
    Cell name;         // the calling word
    Code* code;
    uint32_t pos;
    const Cell* path;  // refinement source, or null
    int32_t name_index;
    int32_t call_pos = -1;
    uint32_t start = 0;  // where the arguments begin
    int fetch_mode;
    bool infix;
    bool is_fn;
    ArgListHead head;
    int32_t* refs;
    Handle list;  // the list's node (kept alive by the function value)

    void load_list() {
        list = arg_list(fn);
        head = *list_head(list);
    }

    // Entry i of the list, read anew from the function value: fetching an argument may run a
    // collection that moves the list's buffer or, explicitly asked, its node.
    ArgEntry entry(uint32_t i) const { return list_entries(arg_list(fn))[i]; }

    uint32_t tail() const { return code ? code->tail() : 0; }

    // One argument by its kind, pushed.
    Status fetch(const ArgEntry& e, bool confined) {
        if (pos >= tail()) {
            Cell w = word_of(e);
            stack::raise_error("script", "no-arg", {&name, &w});
        }
        switch (e.kind) {
        case ARG_EVAL: {
            Step s = interpreter::eval_simple(*code, pos, infix || confined);
            if (s.pos) {
                pos = s.pos;
                return s.status;
            }
            if (confined) {
                uint32_t saved = code->limit;
                code->limit = pos + 1;
                s = interpreter::eval_expression(*code, pos, infix, true, false);
                code->limit = saved;
            } else {
                s = interpreter::eval_expression(*code, pos, infix, true, false);
            }
            pos = s.pos;
            return s.status;
        }
        case ARG_GET:
            if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_FETCH, code_block(), pos, nullptr, code->at(pos));
            stack::push(code->at(pos));
            if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code_block(), pos, nullptr, top());
            pos++;
            return Status::normal;
        default: {
            if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_FETCH, code_block(), pos, nullptr, code->at(pos));
            Cell v = *code->at(pos);
            pos++;
            if (v.is(T_PAREN)) {
                stack::mark(&rw::words::anon, FRAME_INTERP_NATIVE);
                Status st = interpreter::eval(&v, true);
                if (st != Status::normal) return st;
                stack::unwind();
            } else if (v.is(T_GET_WORD)) {
                stack::push(context::get(&v));
            } else if (v.is(T_GET_PATH)) {
                Step s = interpreter::eval_path(&v, *code, pos, false, true, true, false);
                if (s.status != Status::normal) return s.status;
            } else {
                stack::push(&v);
            }
            if (interpreter::tracing) [[unlikely]] tracing::fire(tracing::EV_PUSH, code_block(), pos - 1, nullptr, top());
            return Status::normal;
        }
        }
    }

    inline Cell* top() const { return stack::top - 1; }

    // Phase 1 of a native or action named by a word in a block (no path, no apply mode): its
    // arguments in order; a refinement there can only be named by a path, so the list ends for
    // the call at the first one.
    Status collect_plain() {
        for (uint32_t i = 0; i < head.count; i++) {
            const ArgEntry e = entry(i);
            if (e.kind == ARG_REFINEMENT) break;
            if (e.kind > ARG_LIT) continue;
            if (e.kind == ARG_LIT && pos >= tail() && e.admits(T_UNSET)) {
                Cell u = cells::make_unset();
                stack::push(&u);
                continue;
            } else {
                Status s = fetch(e, false);
                if (s != Status::normal) return s;
            }
            check_type(&name, top(), e);
        }
        return Status::normal;
    }

    // Phase 1: the arguments in list order, refinements as they come.
    Status collect() {
        bool collecting = true;
        bool positional = fetch_mode > 0 && !path;
        bool first_in_place = infix;
        for (uint32_t i = 0; i < head.count; i++) {
            const ArgEntry e = entry(i);
            if (e.kind <= ARG_LIT) {
                if (collecting) {
                    if (first_in_place) {
                        first_in_place = false;
                    } else if (fetch_mode > 0 && pos >= tail()) {
                        Cell none = cells::make_none();
                        stack::push(&none);
                        continue;
                    } else if (e.kind == ARG_LIT && pos >= tail() && e.admits(T_UNSET)) {
                        Cell u = cells::make_unset();
                        stack::push(&u);
                        continue;
                    } else {
                        Status s = fetch(e, fetch_mode & interpreter::FETCH_SAFER);
                        if (s != Status::normal) return s;
                    }
                    check_type(&name, top(), e);
                } else {
                    // An argument of a refinement that is not used: a function keeps a none!
                    // slot for it; given positionally, its value is passed over (evaluated and
                    // dropped, or with /safer skipped unevaluated).
                    if (is_fn) {
                        Cell none = cells::make_none();
                        stack::push(&none);
                    }
                    if ((fetch_mode & interpreter::FETCH_POSITIONAL) && !path && pos < tail()) {
                        if (fetch_mode & interpreter::FETCH_SAFER) {
                            pos++;
                        } else {
                            Status s = fetch(e, false);
                            if (s != Status::normal) return s;
                            stack::pop(1);
                        }
                    }
                }
            } else if (e.kind == ARG_REFINEMENT) {
                if (is_fn) {
                    Cell f = cells::make_logic(false);
                    stack::push(&f);
                }
                collecting = false;
                if (positional) {
                    if (pos >= tail()) {
                        collecting = true;
                        if (!is_fn) continue;
                    } else if (!(fetch_mode & interpreter::FETCH_NAMED)) {
                        Status s = fetch(ArgEntry{ARG_EVAL, {}, e.symbol, -1, -1, {uint32_t(1) << T_LOGIC, 0}},
                                         fetch_mode & interpreter::FETCH_SAFER);
                        if (s != Status::normal) return s;
                        Cell* v = top();
                        if (!v->is(T_LOGIC)) {
                            Cell w = word_of(e);
                            Cell type = cells::make_datatype(v->type());
                            stack::raise_error("script", "expect-arg", {&name, &type, &w});
                        }
                        bool truth = cells::logic(*v);
                        if (is_fn) {
                            *(v - 1) = *v;
                            stack::pop(1);
                        } else {
                            stack::pop(1);
                            if (truth) refs[e.ordinal] = int32_t(stack::top - stack::arguments);
                        }
                        collecting = truth;
                    }
                }
            }
        }
        return Status::normal;
    }

    // Phase 2: refinements named by the path's elements after the name, or in the block.
    Status refine() {
        Root p(path ? *path : cells::make_none());
        uint32_t pi = uint32_t(name_index + 1);
        bool seen = false;
        while (true) {
            Root src;
            if (path) {
                SeriesBuffer* b = memory::buffer_of(p->data2);
                if (pi >= (b->used() >> 4)) break;
                src.cell = b->head_cell()[pi++];
            } else {
                if (pos >= tail()) break;
                src.cell = *code->at(pos);
            }
            uint32_t st = src->type();
            bool valid = path ? (st == T_WORD || st == T_GET_WORD) : st == T_REFINEMENT;
            if (!valid) {
                if (fetch_mode > 0 && !seen) break;
                stack::raise_error("script", "bad-refine", {src.get()});
            }
            seen = true;
            bool truth = true;
            if (!path) {
                pos++;
                truth = false;
                if (pos < tail()) {
                    Step s = interpreter::eval_expression(*code, pos, false, true, false);
                    if (s.status != Status::normal) return s.status;
                    pos = s.pos;
                    truth = interpreter::true_q(top());
                    stack::pop(1);
                }
            } else if (st == T_GET_WORD) {
                truth = cells::truthy(*context::get(src.get()));
            }
            uint32_t want = symbol::resolve(src->data2);
            uint32_t idx = head.count;
            for (uint32_t i = 0; i < head.count; i++)
                if (entry(i).kind == ARG_REFINEMENT && symbol::resolve(entry(i).symbol) == want) {
                    idx = i;
                    break;
                }
            if (idx == head.count) stack::raise_error("script", "no-refine", {&name, src.get()});
            const ArgEntry r = entry(idx);
            if (is_fn) {
                Cell* slot = stack::arguments + r.slot;
                if (!(slot->is(T_LOGIC) && !cells::logic(*slot)))
                    stack::raise_error("script", "dup-refine", {path ? p.get() : src.get()});
                *slot = cells::make_logic(truth);
            } else if (truth) {
                if (refs[r.ordinal] != -1) stack::raise_error("script", "dup-refine", {path ? p.get() : src.get()});
                refs[r.ordinal] = int32_t(stack::top - stack::arguments);
            }
            for (uint32_t j = idx + 1; j < head.count && entry(j).kind <= ARG_LIT; j++) {
                const ArgEntry a = entry(j);
                if ((fetch_mode & interpreter::FETCH_SAFER) && !truth) {
                    if (pos < tail()) pos++;
                    continue;
                }
                if (fetch_mode > 0 && pos >= tail()) {
                    // Applied: a missing trailing argument is none!, as in the first phase (a
                    // function's slot already holds none!).
                    if (truth && !is_fn) {
                        Cell none = cells::make_none();
                        stack::push(&none);
                    }
                    continue;
                }
                Status s = fetch(a, fetch_mode & interpreter::FETCH_SAFER);
                if (s != Status::normal) return s;
                if (truth) {
                    check_type(&name, top(), a);
                    if (is_fn) {
                        stack::arguments[a.slot] = *top();
                        stack::pop(1);
                    }
                } else {
                    stack::pop(1);
                }
            }
        }
        return Status::normal;
    }

    Status arguments() {
        if (infix) stack::top = stack::arguments + 1;
        Status s = collect();
        if (s != Status::normal) return s;
        if (path || (fetch_mode & interpreter::FETCH_NAMED)) {
            s = refine();
            if (s != Status::normal) return s;
        }
        if (interpreter::tracing) [[unlikely]] traced_call();
        return Status::normal;
    }

    // The cell at the calling position: the name in apply modes, else the cell before the first
    // argument (a word, a path, the function value itself), else the path; null without any.
    const Cell* calling() const {
        if (fetch_mode > 0) {
            if (path) return memory::buffer_of(path->data2)->head_cell() + name_index;
            if (code && call_pos >= 0) return code->at(uint32_t(call_pos));
            return nullptr;
        }
        if (code && start > 0) return code->at(start - 1);
        return path;
    }

    const Cell* code_block() const { return code ? code->block.get() : nullptr; }

    // The call event: in an infix call the value is the operator word's value.
    [[gnu::cold]] void traced_call() const {
        const Cell* v = fn;
        if (infix && call_pos >= 0 && code->at(uint32_t(call_pos))->is(T_WORD))
            v = context::get(code->at(uint32_t(call_pos)));
        tracing::fire(tracing::EV_CALL, code_block(), fetch_mode > 0 ? tracing::NO_POS : int64_t(pos), calling(), v);
    }
};

// The name of a call: the path element or the word that named it, else <anon>.
Cell call_name(Code* code, const Cell* path, int32_t name_index, int32_t call_pos, int fetch_mode) {
    if (path) {
        Cell c = memory::buffer_of(path->data2)->head_cell()[name_index];
        if (c.is(T_WORD)) return c;
    } else if (call_pos >= 0 && code) {
        Cell c = *code->at(uint32_t(call_pos));
        if (c.is(T_WORD)) return c;
    }
    return fetch_mode > 0 ? rw::words::applied : rw::words::anon;
}

// One evaluated argument of a quick call: a simple expression, else the general rule (no-arg
// at the end of the block), then its type check.
[[gnu::noinline]] Step fetch_general(Code* code, uint32_t pos, const Cell* name, const Cell* fn, uint32_t i) {
    if (pos >= code->tail()) {
        Cell w = word_of(list_entries(arg_list(fn))[i]);
        stack::raise_error("script", "no-arg", {name, &w});
    }
    Step s = interpreter::eval_rest(*code, pos);
    if (s.status == Status::normal) check_type(name, stack::top - 1, list_entries(arg_list(fn))[i]);
    return s;
}

// Argument i of the quick call of `fn` (a stack cell), whose entry `e` is a copy taken before
// the evaluation (which may move the list): a simple expression, else the general rule (no-arg
// at the end of the block), then its type check.
[[gnu::always_inline]] inline Step fetch_evaluated(Code* code, uint32_t pos, const Cell* name, const Cell* fn,
                                                   uint32_t i, const ArgEntry& e) {
    Step s = eval_argument(*code, pos);
    if (!s.pos) return fetch_general(code, pos, name, fn, i);
    if (s.status == Status::normal) check_type(name, stack::top - 1, e);
    return s;
}

// The word naming a quick call: the calling word, else <anon>.
inline Cell quick_name(Code* code, int32_t call_pos) {
    if (call_pos >= 0) {
        const Cell* c = code->at(uint32_t(call_pos));
        if (c->is(T_WORD)) return *c;
    }
    return rw::words::anon;
}

// After a quick call's frame is unwound: the result in place of the function cell (argument
// mode) or in the caller's result slot, and the return event.
inline Step finish_plain(Cell* slot, Code* code, uint32_t pos, uint32_t start, bool arg_mode) {
    if (arg_mode) {
        *slot = *(stack::top - 1);
        stack::top = slot + 1;
    } else {
        stack::top = stack::arguments + 1;
    }
    if (interpreter::tracing) [[unlikely]]
        tracing::fire(tracing::EV_RETURN, code->block.get(), pos, start > 0 ? code->at(start - 1) : nullptr,
                      arg_mode ? stack::top - 1 : stack::arguments);
    return {pos, Status::normal};
}

// A cell that is a word holding an op!.
inline bool operator_word_q(const Cell* c) {
    if (!c->is(T_WORD)) return false;
    const Cell* v = word_value(c);
    return v && v->is(T_OP);
}

// The value of a block that holds one pure expression from its index to its tail (a value, or a
// word holding one, then number operators that the quick road computes whole), into `out`;
// false for any other block.
[[gnu::noinline]] bool pure_block_value(const Cell* block, Cell& out) {
    SeriesBuffer* b = memory::buffer_of(block->data2);
    uint32_t tail = b->used() >> 4, pos = block->data1;
    return pos < tail && pure_expression(b->head_cell(), pos, tail, out) == tail;
}

// if, unless or either whose condition at `pos` is pure (as above: nothing in it can raise or
// run Kov code) and whose blocks are written in place. When if's or unless's block is left
// alone, none! is the result; when the block to run is pure as well, its value is: at once, with
// no frame opened and nothing called, as nothing in either can raise. Else the condition's value
// and the position after it are given back in `value` and `end` for the call to take as they
// are. Answers position 0 when the call is still to be made.
inline Step skipped_branch(const Cell* fn_in, const ArgEntry& condition, uint32_t branches, Code* code,
                           uint32_t pos, bool arg_mode, Cell& value, uint32_t& end) {
    SeriesBuffer* b = code->buffer();
    uint32_t tail = code->tail_in(b);
    if (pos >= tail) return {0, Status::normal};
    const Cell* head = b->head_cell();
    uint32_t after = pure_expression(head, pos, tail, value);
    uint32_t last = after + branches - 1;  // the last block
    if (!after || last >= tail || !condition.admits(value.type())) return {0, Status::normal};
    for (uint32_t i = after; i <= last; i++)
        if (!head[i].is(T_BLOCK)) return {0, Status::normal};
    if (last + 1 < tail && operator_word_q(head + last + 1)) return {0, Status::normal};
    bool truth = cells::truthy(value);
    Cell result = cells::make_none();
    bool run = branches == 2 || truth == (fn_in->data1 == natives::NATIVE_IF);
    if (run && !pure_block_value(head + (branches == 2 && !truth ? last : after), result)) {
        end = after;
        return {0, Status::normal};
    }
    if (arg_mode) {
        stack::push(&result);
    } else {
        *stack::arguments = result;
        stack::top = stack::arguments + 1;
    }
    return {last + 1, Status::normal};
}

// The quick call of if, unless and either (`branches` from their argument list): the condition
// is fetched as any argument; a branch written as a block in place, with no operator after it,
// is its own value and is pushed as it stands. The frame, the errors and the result are the
// quick call's.
Step call_conditional(const Cell* fn_in, const ArgEntry* entries, uint32_t branches, Code* code,
                      uint32_t pos, bool arg_mode, int32_t call_pos, const Cell* word) {
    const ArgEntry condition = entries[0];
    Cell known;
    uint32_t known_end = 0;  // the position after a pure condition already computed
    Step q = skipped_branch(fn_in, condition, branches, code, pos, arg_mode, known, known_end);
    if (q.pos) return q;
    uint32_t start = pos;
    Cell* slot = stack::push(fn_in);
    Root name(word ? *word : quick_name(code, call_pos));
    stack::mark(name.get(), FRAME_INTERP_NATIVE);
    uint32_t first = 1;  // the first branch still to fetch
    if (known_end) {
        // The condition and the blocks as found above (nothing has allocated since).
        stack::push(&known);
        for (uint32_t i = 0; i < branches; i++) stack::push(code->buffer()->head_cell() + known_end + i);
        pos = known_end + branches;
        first = branches + 1;
    } else {
        Step s = fetch_evaluated(code, pos, name.get(), slot, 0, condition);
        pos = s.pos;
        if (s.status != Status::normal) return s;
    }
    Step s;
    for (uint32_t i = first; i <= branches; i++) {
        SeriesBuffer* b = code->buffer();
        uint32_t tail = code->tail_in(b);
        const Cell* c = b->head_cell() + pos;
        if (pos < tail && c->is(T_BLOCK) && (pos + 1 >= tail || !operator_word_q(c + 1))) {
            stack::push(c);
            pos++;
            continue;
        }
        const ArgEntry e = entries_of(slot)[i];
        s = fetch_evaluated(code, pos, name.get(), slot, i, e);
        pos = s.pos;
        if (s.status != Status::normal) return s;
    }
    Status st = natives::table[slot->data1 - 1](nullptr);
    if (st != Status::normal) return {pos, st};
    if (arg_mode) stack::unwind();
    else stack::unwind_last();
    return finish_plain(slot, code, pos, start, arg_mode);
}

}  // namespace

// The quick call of a native or action named by a word in a block (no path, no apply mode, not
// tracing) whose arguments up to the first refinement are all evaluated ones: the same frame,
// arguments and result as the general call below, without its bookkeeping. Answers position 0
// when the call does not qualify (nothing done).
Step call_plain(const Cell* fn_in, Code* code, uint32_t pos, bool arg_mode, int32_t call_pos, const Cell* word) {
    // Making the list allocates: the word is read anew then.
    const uint8_t* bytes = list_bytes(fn_in, word);
    const ArgListHead* head = reinterpret_cast<const ArgListHead*>(bytes);
    if (!head->plain) return {0, Status::normal};
    if (head->branches)
        return call_conditional(fn_in, reinterpret_cast<const ArgEntry*>(bytes + sizeof(ArgListHead)),
                                head->branches, code, pos, arg_mode, call_pos, word);
    uint32_t count = head->count, refinements = head->refinements;
    uint32_t start = pos;
    Cell* slot = stack::push(fn_in);
    Root name(word ? *word : quick_name(code, call_pos));
    stack::mark(name.get(), FRAME_INTERP_NATIVE);
    int32_t refs[32];
    for (uint32_t i = 0; i < refinements; i++) refs[i] = -1;
    for (uint32_t i = 0; i < count; i++) {
        const ArgEntry e = entries_of(slot)[i];  // read anew: the list may have moved
        if (e.kind == ARG_REFINEMENT) break;
        if (e.kind != ARG_EVAL) continue;
        Step s = fetch_evaluated(code, pos, name.get(), slot, i, e);
        pos = s.pos;
        if (s.status != Status::normal) return s;
    }
    NativeFn routine = nullptr;
    uint32_t n = slot->data1;
    if (slot->is(T_NATIVE) && n >= 1 && n <= uint32_t(natives::TABLE_SIZE)) routine = natives::table[n - 1];
    if (!routine) routine = native::routine(slot);
    Status st = routine(refs);
    if (st != Status::normal) return {pos, st};
    if (arg_mode) stack::unwind();
    else stack::unwind_last();
    return finish_plain(slot, code, pos, start, arg_mode);
}

Step call_return(const Cell* fn_in, Code* code, uint32_t pos, int32_t call_pos, const Cell* word) {
    const uint8_t* bytes = list_bytes(fn_in, word);
    if (!reinterpret_cast<const ArgListHead*>(bytes)->returns) return {0, Status::normal};
    const ArgEntry value = reinterpret_cast<const ArgEntry*>(bytes + sizeof(ArgListHead))[0];
    Cell* slot = stack::push(fn_in);
    Root name(word ? *word : quick_name(code, call_pos));
    stack::mark(name.get(), FRAME_INTERP_NATIVE);
    Step s = fetch_evaluated(code, pos, name.get(), slot, 0, value);
    if (s.status != Status::normal) return s;
    stack::unwind_last();  // the value into the body's result slot
    stack::top = stack::arguments + 1;
    return {code->tail(), Status::normal};
}

// The quick call of a function! named by a word in a block, on the same terms as call_plain:
// its arguments, then false and none! for its refinements and their arguments, then its locals.
Step call_function_plain(const Cell* fn_in, Code* code, uint32_t pos, bool arg_mode, int32_t call_pos,
                         const Cell* word) {
    // A copy of the header: the list may move while arguments are fetched.
    const ArgListHead head = *reinterpret_cast<const ArgListHead*>(list_bytes(fn_in, word));
    if (!head.plain) return {0, Status::normal};
    uint32_t start = pos;
    Cell* slot = stack::push(fn_in);
    Root name(word ? *word : quick_name(code, call_pos));
    stack::mark_func(name.get(), slot->data1);
    stack::set_interp_flag();
    bool collecting = true;
    for (uint32_t i = 0, count = head.count; i < count; i++) {
        const ArgEntry e = entries_of(slot)[i];  // read anew, as in call_plain
        if (e.kind == ARG_REFINEMENT) {
            collecting = false;
            Cell f = cells::make_logic(false);
            stack::push(&f);
        } else if (e.kind > ARG_LIT) {
            continue;
        } else if (!collecting) {
            Cell none = cells::make_none();
            stack::push(&none);
        } else {
            Step s = fetch_evaluated(code, pos, name.get(), slot, i, e);
            pos = s.pos;
            if (s.status != Status::normal) return s;
        }
    }
    for (uint32_t i = 0, n = head.locals, local = head.has_local; i < n; i++) {
        Cell c = i == 0 && local ? cells::make_logic(false) : cells::make_none();
        stack::push(&c);
    }
    Status st = interpreter::exec_function(slot, 0, tracing::active && start > 0 ? code->at(start - 1) : nullptr);
    if (st != Status::normal) return {pos, st};
    if (arg_mode) stack::unwind_func();
    else stack::unwind_func_last();
    return finish_plain(slot, code, pos, start, arg_mode);
}

Cell op_target(const Cell* op) {
    uint32_t src = native::op_source(op);
    if (function_q(src)) {
        Cell f = *function::extra(op, function::EXTRA_OP);
        if (f.type() == src) return f;
    }
    Cell f = *op;
    f.header = src;
    return f;
}

}  // namespace kov::invocation

namespace kov::interpreter {

using invocation::Call;

Step eval_code(const Cell* fn_in, Code* code, uint32_t pos, bool arg_mode, const Cell* path,
               int32_t name_index, int32_t call_pos, const Cell* /*parent*/, int fetch_mode,
               bool infix, const Cell* name) {
    if (!infix && !path && fetch_mode == 0 && code && !name && !tracing &&
        (fn_in->is(T_NATIVE) || fn_in->is(T_ACTION))) {
        Step s = invocation::call_plain(fn_in, code, pos, arg_mode, call_pos);
        if (s.pos) return s;
    } else if (!infix && !path && fetch_mode == 0 && code && !name && !tracing && fn_in->is(T_FUNCTION)) {
        Step s = invocation::call_function_plain(fn_in, code, pos, arg_mode, call_pos);
        if (s.pos) return s;
    }
    Cell* slot = nullptr;
    const Cell* fn = fn_in;
    if (!infix) {
        slot = stack::push(fn_in);
        fn = slot;
    }
    Call call;
    call.fn = fn;
    call.name = name && name->is(T_WORD) ? *name
                                         : invocation::call_name(code, path, name_index, call_pos, fetch_mode);
    call.code = code;
    call.pos = pos;
    call.path = path;
    call.name_index = name_index;
    call.call_pos = call_pos;
    call.start = pos;
    call.fetch_mode = fetch_mode;
    call.infix = infix;
    if (tracing) [[unlikely]] tracing::fire_open(call.code_block(), pos, &call.name, infix);
    uint32_t kind = fn->type();
    call.is_fn = kind == T_FUNCTION || kind == T_ROUTINE;
    if (kind == T_NATIVE || kind == T_ACTION) {
        stack::mark(&call.name, FRAME_INTERP_NATIVE);
        call.load_list();
        int32_t fixed[32];
        std::vector<int32_t> more;
        int32_t* refs = fixed;
        if (call.head.refinements > 32) {
            more.assign(call.head.refinements, -1);
            refs = more.data();
        } else {
            for (uint32_t i = 0; i < call.head.refinements; i++) fixed[i] = -1;
        }
        call.refs = refs;
        Status s;
        if (!infix && !path && fetch_mode == 0 && code) {
            s = call.collect_plain();
            if (s != Status::normal) return {call.pos, s};
            if (tracing) [[unlikely]] call.traced_call();
        } else {
            s = call.arguments();
            if (s != Status::normal) return {call.pos, s};
        }
        s = native::routine(fn)(refs);
        if (s != Status::normal) return {call.pos, s};
        if (arg_mode) stack::unwind(); else stack::unwind_last();
    } else if (kind == T_FUNCTION) {
        stack::mark_func(&call.name, fn->data1);
        stack::set_interp_flag();
        call.load_list();
        call.refs = nullptr;
        Status s = call.arguments();
        if (s != Status::normal) return {call.pos, s};
        for (uint32_t i = 0; i < call.head.locals; i++) {
            Cell c = i == 0 && call.head.has_local ? cells::make_logic(false) : cells::make_none();
            stack::push(&c);
        }
        s = exec_function(fn, 0, tracing::active ? call.calling() : nullptr);
        if (s != Status::normal) return {call.pos, s};
        if (arg_mode) stack::unwind_func(); else stack::unwind_func_last();
    } else if (kind == T_ROUTINE) {
        stack::mark(&call.name, FRAME_INTERP_NATIVE);
        call.load_list();
        call.refs = nullptr;
        Status s = call.arguments();
        if (s != Status::normal) return {call.pos, s};
        routines::Fn r = routines::at(cells::integer(*function::extra(fn, function::EXTRA_CODE)));
        if (!r) stack::raise_error("internal", "not-done");
        r();
        if (arg_mode) stack::unwind(); else stack::unwind_last();
    } else {
        runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    if (slot) {
        if (arg_mode) {
            *slot = *(stack::top - 1);
            stack::top = slot + 1;
        } else {
            stack::top = stack::arguments + 1;
        }
    }
    if (tracing) [[unlikely]]
        tracing::fire(tracing::EV_RETURN, call.code_block(), call.pos, call.calling(), arg_mode ? stack::top - 1 : stack::arguments);
    return {call.pos, Status::normal};
}

Status exec_function(const Cell* fn, Handle, const Cell* call_ref) {
    stack::check_interrupt();  // a recursion without loops stops on a request as a loop does
    context::cached_cell(fn->data1)->data2 = stack::index_of(stack::arguments) + 1;
    stack::set_in_func_flag(true);
    Cell body = *invocation::extra_cell(fn, function::EXTRA_BODY);
    if (!body.is(T_BLOCK)) {
        *stack::arguments = cells::make_unset();
        return Status::normal;
    }
    if (tracing::active) [[unlikely]] return tracing::traced_body(fn, call_ref);
    Status s = stack::receive(THROW_RETURN, [&] { return eval_function_body(&body); });
    if (s == Status::ret || s == Status::exit) return Status::normal;
    return s;
}

Status call_with(const Cell* fn_in, const Cell* const* args, int count, Cell* out) {
    Cell* slot = stack::push(fn_in);
    uint32_t kind = slot->type();
    bool is_fn = kind == T_FUNCTION || kind == T_ROUTINE;
    if (kind == T_FUNCTION) {
        stack::mark_func(&runtime_words::words::anon, slot->data1);
        stack::set_interp_flag();
    } else if (kind == T_NATIVE || kind == T_ACTION || kind == T_ROUTINE) {
        stack::mark(&runtime_words::words::anon, FRAME_INTERP_NATIVE);
    } else {
        stack::raise_error("script", "invalid-arg", {slot});
    }
    Call call;
    call.fn = slot;
    call.name = runtime_words::words::anon;
    call.is_fn = is_fn;
    call.load_list();
    int given = 0;
    bool collecting = true;
    for (uint32_t i = 0; i < call.head.count; i++) {
        const invocation::ArgEntry e = call.entry(i);
        if (e.kind <= invocation::ARG_LIT) {
            if (collecting && given < count) {
                stack::push(args[given++]);
                invocation::check_type(&call.name, stack::top - 1, e);
            } else if (collecting || is_fn) {
                Cell none = cells::make_none();
                stack::push(&none);
            }
        } else if (e.kind == invocation::ARG_REFINEMENT) {
            collecting = false;
            if (is_fn) {
                Cell f = cells::make_logic(false);
                stack::push(&f);
            }
        }
    }
    Status s;
    if (kind == T_FUNCTION) {
        for (uint32_t i = 0; i < call.head.locals; i++) {
            Cell c = i == 0 && call.head.has_local ? cells::make_logic(false) : cells::make_none();
            stack::push(&c);
        }
        s = exec_function(slot, 0);
        if (s != Status::normal) return s;
        stack::unwind_func();
    } else if (kind == T_ROUTINE) {
        routines::Fn r = routines::at(cells::integer(*function::extra(slot, function::EXTRA_CODE)));
        if (!r) stack::raise_error("internal", "not-done");
        r();
        stack::unwind();
    } else {
        int32_t refs[32];
        for (uint32_t i = 0; i < call.head.refinements && i < 32; i++) refs[i] = -1;
        s = native::routine(slot)(refs);
        if (s != Status::normal) return s;
        stack::unwind();
    }
    *out = *(stack::top - 1);
    stack::top = slot;
    return Status::normal;
}

}  // namespace kov::interpreter

namespace kov::invocation {

[[gnu::noinline]] Step call_operator(const Cell* op, Code& code, uint32_t pos, Cell* start_top, bool arg_mode) {
    uint32_t src = native::op_source(op);
    Cell target = *op;  // an op! made from a native or action names it by number, as the op does
    if (src == T_NATIVE || src == T_ACTION) target.header = src; else target = op_target(op);
    uint32_t kind = target.type();
    if (!interpreter::tracing && pos + 1 < code.tail() && (start_top->is(T_INTEGER) || start_top->is(T_FLOAT)) &&
        (kind == T_ACTION || kind == T_NATIVE)) {
        // A native's or action's value names its entry by number: nothing here needs rooting
        // until the general call below.
        int which = quick_op(op);
        if (which >= 0) {
            stack::top = start_top + 1;
            // The right operand without infix: a number written there or held by a word is
            // taken as is, anything else is evaluated.
            Step r;
            const Cell* next = code.at(pos + 1);
            const Cell* known = next->is(T_WORD) ? word_value(next) : next;
            if (known && (known->is(T_INTEGER) || known->is(T_FLOAT))) {
                stack::push(known);
                r = {pos + 2, Status::normal};
            } else {
                // A word naming a native, action or function: its quick call, no infix after it.
                r = {0, Status::normal};
                if (known && next->is(T_WORD)) {
                    uint32_t t = known->type();
                    Cell fn = *known;
                    if (t == T_FUNCTION) r = call_function_plain(&fn, &code, pos + 2, true, int32_t(pos + 1), next);
                    else if (t == T_NATIVE || t == T_ACTION) r = call_plain(&fn, &code, pos + 2, true, int32_t(pos + 1), next);
                }
                if (!r.pos) r = interpreter::eval_expression(code, pos + 1, true, true, false);
                if (r.status != Status::normal) return r;
            }
            Cell* right = start_top + 1;
            Cell result;
            if (quick_numbers(which, start_top, right, result)) {
                *start_top = result;
                stack::top = start_top + 1;
                return {r.pos, Status::normal};
            }
            // The general call over the two operands in place.
            Root fn(target);
            Cell name = *code.at(pos);
            stack::top = start_top;
            stack::mark(&name, FRAME_INTERP_NATIVE);
            stack::top = start_top + 2;
            Handle list = arg_list(fn.get());
            ArgListHead head = *list_head(list);
            int checked = 0;
            for (uint32_t i = 0; i < head.count && checked < 2; i++) {
                ArgEntry e = list_entries(list)[i];
                if (e.kind > ARG_LIT) continue;
                check_type(&name, stack::arguments + checked, e);
                checked++;
            }
            int32_t refs[32];
            for (uint32_t i = 0; i < head.refinements && i < 32; i++) refs[i] = -1;
            Status s = native::routine(fn.get())(refs);
            if (s != Status::normal) return {r.pos, s};
            if (arg_mode) stack::unwind(); else stack::unwind_last();
            return {r.pos, Status::normal};
        }
    }
    Root fn(target);
    return interpreter::eval_code(fn.get(), &code, pos + 1, arg_mode, nullptr, -1, int32_t(pos), nullptr,
                                  0, true);
}

namespace {

// function::exec_hook: a function frame is open with the arguments pushed.
Status exec_hook(const Cell* fn, Handle owner) { return interpreter::exec_function(fn, owner); }

Status eval_hook(const Cell* block) { return interpreter::eval(block, false); }

void comparator(const Cell* fn, const Cell* a, const Cell* b, Cell* result) {
    const Cell* args[2] = {a, b};
    Root out;
    Status s = interpreter::call_with(fn, args, 2, out.get());
    stack::raise_if_pending(s);
    *result = out.cell;
}

bool lexer_callback(const Cell* fn, Cell* arguments, int32_t) {
    const Cell* args[5] = {arguments, arguments + 1, arguments + 2, arguments + 3, arguments + 4};
    Root out;
    Status s = interpreter::call_with(fn, args, 5, out.get());
    stack::raise_if_pending(s);
    return cells::truthy(out.cell);
}

}  // namespace

void install_hooks() {
    function::exec_hook = exec_hook;
    object::eval_hook = eval_hook;
    block::call_comparator = comparator;
    lexer::call_callback = lexer_callback;
}

}  // namespace kov::invocation
