// function! and routine!: the spec dialect, the gathering of locals, building the values, make,
// reflection, form, mold and compare.
#include "datatypes/function.hpp"

#include <cstring>
#include <vector>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov::function {

Status (*exec_hook)(const Cell* fn, Handle owner) = nullptr;

namespace {

using collector::Root;

// A cell of a block by its position from the buffer start (a copy: read before anything
// allocates).
inline Cell cell_at(const Cell* blk, uint32_t i) { return memory::buffer_of(blk->data2)->head_cell()[i]; }
inline uint32_t cell_count(const Cell* blk) { return memory::buffer_of(blk->data2)->used() / 16; }

inline uint32_t canon(const char* spelling) { return symbol::resolve(symbol::make(spelling)); }
inline uint32_t canon_of(const Cell& c) { return symbol::resolve(c.data2); }

inline bool name_kind(uint32_t t) {
    return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_REFINEMENT;
}

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

// The spec node a value keeps: the spec's own when it stands at its head, else a copy of its
// cells from the head on.
Handle spec_node(Root& spec) {
    if (spec->data1 == 0) return spec->data2;
    Cell* c = block::clone(spec.get(), false, false);
    spec.cell = Cell{T_BLOCK, 0, c->data2, 0};
    stack::pop(1);
    return spec->data2;
}

// Checks a type block: datatypes, typesets, or words whose value is one of those or a word.
void check_type_block(const Cell& blk_in) {
    Root blk(blk_in);
    for (uint32_t i = blk->data1; i < cell_count(blk.get()); i++) {
        Root c(cell_at(blk.get(), i));
        uint32_t t = c->type();
        if (t == T_DATATYPE || t == T_TYPESET) continue;
        if (t == T_WORD) {
            if (!c->data1) stack::raise_error("script", "no-value", {c.get()});
            const Cell* v = context::get_word_checked(c.get());
            uint32_t vt = v->type();
            if (vt == T_DATATYPE || vt == T_TYPESET || vt == T_WORD) continue;
        }
        stack::raise_error("script", "invalid-type-spec", {c.get()});
    }
}

// Whether a list holds a word of the symbol (ignoring case).
bool listed(const Cell* list, uint32_t canonical) {
    SeriesBuffer* b = memory::buffer_of(list->data2);
    const Cell* c = b->head_cell();
    for (uint32_t i = list->data1, n = b->used() / 16; i < n; i++)
        if (word::any_word_q(c[i].type()) && canon_of(c[i]) == canonical) return true;
    return false;
}

struct Gather {
    Cell* collected;  // argument-stack cells: they stay put
    Cell* ignore;
    uint32_t foreach_sym, remove_each_sym, repeat_sym;

    void add(const Cell& w) {
        if (listed(ignore, canon_of(w))) return;
        Cell word = Cell{T_WORD, w.data1, w.data2, w.data3};
        block::append_value(collected, &word);
        block::append_value(ignore, &word);
    }

    void walk(const Cell& blk_in) {
        if (cycles::find_q(blk_in.data2)) return;
        Root blk(blk_in);
        cycles::Guard guard(blk->data2);
        for (uint32_t i = blk->data1; i < cell_count(blk.get()); i++) {
            Cell c = cell_at(blk.get(), i);
            uint32_t t = c.type();
            if (t == T_BLOCK || t == T_PAREN) {
                walk(c);
            } else if (t == T_SET_WORD) {
                add(c);
            } else if (t == T_WORD && i + 1 < cell_count(blk.get())) {
                uint32_t k = canon_of(c);
                Cell next = cell_at(blk.get(), i + 1);
                uint32_t nt = next.type();
                if (k == foreach_sym || k == remove_each_sym) {
                    if (nt == T_BLOCK) {
                        Root words(next);
                        for (uint32_t j = words->data1; j < cell_count(words.get()); j++) {
                            Cell w = cell_at(words.get(), j);
                            uint32_t wt = w.type();
                            if (wt == T_WORD || wt == T_GET_WORD || wt == T_LIT_WORD) add(w);
                        }
                    } else if (nt == T_WORD || nt == T_SET_WORD) {
                        add(next);
                    }
                } else if (k == repeat_sym && (nt == T_WORD || nt == T_SET_WORD)) {
                    add(next);
                }
            }
        }
    }
};

Cell answer{T_NONE, 0, 0, 0};  // a result the front-end copies at once

}  // namespace

Cell* extra(const Cell* fn, Extra which) { return memory::buffer_of(fn->data3)->head_cell() + which; }

Status call(const Cell* fn, Handle owner) {
    if (!exec_hook) not_done();
    return exec_hook(fn, owner);
}

uint32_t validate(const Cell* spec_in) {
    Root spec(*spec_in);
    const uint32_t local_sym = canon("local"), return_sym = canon("return");
    const uint32_t trace_sym = canon("trace"), no_trace_sym = canon("no-trace");
    auto invalid = [&]() { stack::raise_error("script", "bad-func-def", {spec.get()}); };
    uint32_t flags = 0;
    uint32_t i = spec->data1;
    uint32_t n = cell_count(spec.get());
    if (i < n && cell_at(spec.get(), i).is(T_BLOCK)) {
        Cell attrs = cell_at(spec.get(), i);
        for (uint32_t j = attrs.data1; j < cell_count(&attrs); j++) {
            Cell a = cell_at(&attrs, j);
            if (!a.is(T_WORD)) invalid();
            uint32_t k = canon_of(a);
            if (k == trace_sym) flags |= FN_TRACE;
            else if (k == no_trace_sym) flags |= FN_NO_TRACE;
        }
        i++;
    }
    const uint32_t names_from = i;
    bool return_seen = false, local_seen = false;
    while (i < n) {
        Cell c = cell_at(spec.get(), i);
        uint32_t t = c.type();
        bool has_next = i + 1 < n;
        Cell next = has_next ? cell_at(spec.get(), i + 1) : none_value;
        switch (t) {
        case T_WORD: case T_LIT_WORD: case T_GET_WORD:
            if (local_seen && t != T_WORD) invalid();
            if (next.is(T_STRING) && i + 2 < n && cell_at(spec.get(), i + 2).is(T_BLOCK)) invalid();
            if (return_seen && !local_seen) invalid();
            if (next.is(T_BLOCK)) {
                check_type_block(next);
                n = cell_count(spec.get());
                i += 2;
            } else {
                i += next.is(T_STRING) ? 2 : 1;
            }
            break;
        case T_STRING:
            i++;
            break;
        case T_SET_WORD: {
            if (canon_of(c) != return_sym || return_seen || local_seen) invalid();
            if (!next.is(T_BLOCK)) invalid();
            if (i + 2 < n) {
                uint32_t after = cell_at(spec.get(), i + 2).type();
                if (after != T_REFINEMENT && after != T_STRING) invalid();
            }
            return_seen = true;
            i += 2;
            break;
        }
        case T_REFINEMENT:
            if (canon_of(c) == local_sym) local_seen = true;
            else if (local_seen || return_seen) invalid();
            if (has_next) {
                uint32_t nt = next.type();
                if (nt != T_WORD && nt != T_GET_WORD && nt != T_LIT_WORD && nt != T_REFINEMENT &&
                    nt != T_SET_WORD && nt != T_STRING)
                    invalid();
            }
            i++;
            break;
        default:
            invalid();
        }
    }
    // Every name against every later one, ignoring case.
    std::vector<uint32_t> positions;
    for (uint32_t j = names_from; j < n; j++)
        if (name_kind(cell_at(spec.get(), j).type())) positions.push_back(j);
    for (size_t a = 0; a < positions.size(); a++) {
        uint32_t k = canon_of(cell_at(spec.get(), positions[a]));
        for (size_t b = a + 1; b < positions.size(); b++) {
            if (canon_of(cell_at(spec.get(), positions[b])) == k) {
                Root dup(cell_at(spec.get(), positions[b]));
                stack::raise_error("script", "dup-vars", {dup.get()});
            }
        }
    }
    return flags;
}

Cell* collect_locals(Cell* spec_in, const Cell* body_in) {
    Root spec(*spec_in), body(*body_in);
    const uint32_t extern_sym = canon("extern"), local_sym = canon("local");
    Gather g{nullptr, nullptr, canon("foreach"), canon("remove-each"), canon("repeat")};
    Cell* collected = block::push_new(8);
    g.collected = collected;
    g.ignore = block::clone(spec.get(), false, false);

    // /extern: the words after it are not gathered; the locals after them are kept.
    int32_t extern_at = -1;
    for (uint32_t i = spec->data1; i < cell_count(spec.get()); i++) {
        Cell c = cell_at(spec.get(), i);
        if (c.is(T_REFINEMENT) && canon_of(c) == extern_sym) {
            extern_at = int32_t(i);
            break;
        }
    }
    if (extern_at >= 0) {
        uint32_t i = uint32_t(extern_at) + 1;
        while (i < cell_count(spec.get()) && !cell_at(spec.get(), i).is(T_REFINEMENT)) i++;
        if (i < cell_count(spec.get()) && canon_of(cell_at(spec.get(), i)) == local_sym) {
            for (i++; i < cell_count(spec.get()); i++) {
                Cell c = cell_at(spec.get(), i);
                if (c.is(T_WORD)) block::append_value(collected, &c);
            }
        }
        block::cut_at(spec.get(), uint32_t(extern_at));
    }

    // The ignore list holds words (and the spec's blocks and strings).
    {
        SeriesBuffer* b = memory::buffer_of(g.ignore->data2);
        for (uint32_t i = 0, n = b->used() / 16; i < n; i++) {
            Cell& c = b->head_cell()[i];
            switch (c.type()) {
            case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
                c.header = (c.header & ~CELL_TYPE_MASK) | T_WORD;
                break;
            case T_WORD: case T_BLOCK: case T_STRING:
                break;
            default:
                if (extern_at >= 0) {
                    Root bad(c);
                    stack::raise_error("script", "bad-func-extern", {bad.get()});
                }
            }
        }
    }

    g.walk(body.cell);

    if (cell_count(collected) > collected->data1) {
        bool has_local = false;
        for (uint32_t i = spec->data1; i < cell_count(spec.get()); i++) {
            Cell c = cell_at(spec.get(), i);
            if (c.is(T_REFINEMENT) && canon_of(c) == local_sym) has_local = true;
        }
        if (!has_local) {
            Cell local{T_REFINEMENT, 0, symbol::make("local"), cells::NO_INDEX};
            block::append_value(spec.get(), &local);
        }
        {
            SeriesBuffer* b = memory::buffer_of(collected->data2);
            Cell* c = b->head_cell();
            uint32_t n = b->used() / 16;
            for (uint32_t i = 0; i < n; i++) {
                if (c[i].is(T_WORD) && canon_of(c[i]) == local_sym) {
                    std::memmove(c + i, c + i + 1, size_t(n - i - 1) * 16);
                    b->tail -= 16;
                    break;
                }
            }
        }
        block::append_cells(spec.get(), collected);
    }
    stack::pop(1);  // the ignore list
    return collected;
}

Handle push(const Cell* spec_in, const Cell* body_in, Handle ctx_in, int32_t code, int32_t owner,
            uint32_t flags) {
    Root spec(*spec_in), body(body_in ? *body_in : none_value);
    Cell* result = stack::push(&unset_value);  // the argument stack never moves
    spec_node(spec);
    collector::RootContext ctx(ctx_in ? ctx_in
                                      : context::make(spec.get(), true, false, context::KIND_FUNCTION));
    Root body_copy(none_value);
    if (body->is(T_BLOCK)) {
        Cell* c = block::clone(body.get(), true, true);
        body_copy.cell = *c;
        stack::pop(1);
        if (!ctx_in) context::bind(body_copy.get(), ctx.handle(), false);
    }
    Root ex;
    block::make_at(ex.get(), EXTRA_CELLS);
    Cell code_cell = code ? cells::make_integer(code) : unset_value;
    Cell owner_cell = owner ? cells::make_integer(owner) : unset_value;
    block::append_value(ex.get(), body_copy.get());
    block::append_value(ex.get(), &unset_value);
    block::append_value(ex.get(), &code_cell);
    block::append_value(ex.get(), &unset_value);
    block::append_value(ex.get(), &owner_cell);
    *result = Cell{T_FUNCTION | (flags & (FN_TRACE | FN_NO_TRACE)), ctx.handle(), spec->data2,
                   ex->data2};
    *context::owner(ctx.handle()) = *result;
    return ctx.handle();
}

int32_t count_locals(Handle spec, uint32_t from, bool required) {
    uint32_t local = symbol::find("local");
    SeriesBuffer* b = memory::buffer_of(spec);
    const Cell* c = b->head_cell();
    uint32_t n = b->used() / 16;
    uint32_t i = from;
    if (local) {
        local = symbol::resolve(local);
        while (i < n && !(c[i].is(T_REFINEMENT) && canon_of(c[i]) == local)) i++;
    } else {
        i = n;
    }
    if (i >= n) return required ? -1 : 0;
    int32_t count = 1;
    for (i++; i < n; i++)
        if (c[i].is(T_WORD)) count++;
    return count;
}

void push_absent_refinement(int32_t n) {
    stack::push(&false_value);
    for (int32_t i = 1; i < n; i++) stack::push(&none_value);
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    Root arg(*spec);
    bool ok = arg->is(T_BLOCK) && arg->data1 + 2 <= cell_count(arg.get()) &&
              cell_at(arg.get(), arg->data1).is(T_BLOCK) && cell_at(arg.get(), arg->data1 + 1).is(T_BLOCK);
    if (!ok) stack::raise_error("script", "bad-func-def", {arg.get()});
    Root s(cell_at(arg.get(), arg->data1)), b(cell_at(arg.get(), arg->data1 + 1));
    uint32_t flags = validate(s.get());
    push(s.get(), b.get(), 0, 0, 0, flags);
    return stack::top_value();
}

Cell* reflect(const Cell* value, const Cell* field) {
    Root v(*value);
    uint32_t k = word::any_word_q(field->type()) ? canon_of(*field) : 0;
    if (k && k == canon("spec")) {
        answer = Cell{T_BLOCK, 0, v->data2, 0};
        return &answer;
    }
    if (k && k == canon("body")) {
        answer = *extra(v.get(), EXTRA_BODY);
        return &answer;
    }
    if (k && k == canon("words")) {
        Cell words{T_BLOCK, 0, context::word_block(v->data1), 0};
        Cell* out = block::clone(&words, false, false);
        SeriesBuffer* b = memory::buffer_of(out->data2);
        for (uint32_t i = 0, n = b->used() / 16; i < n; i++) b->head_cell()[i].data1 = v->data1;
        return out;
    }
    not_done();
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    string::concatenate_cstring(out, value->is(T_ROUTINE) ? "?routine?" : "?function?");
    return limit - 10;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    Root v(*value);
    string::concatenate_cstring(out, "func ", 5);
    limit -= 5;
    Root spec(Cell{T_BLOCK, 0, v->data2, 0});
    limit = block::mold(spec.get(), out, false, all, flat, part, limit, indent);
    Root body(*extra(v.get(), EXTRA_BODY));
    if (body->is(T_BLOCK)) {
        limit = block::mold(body.get(), out, false, all, flat, part, limit, indent);
    } else {
        string::concatenate_cstring(out, " none", 5);
        limit -= 5;
    }
    return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (b->type() != a->type()) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
        break;
    default:
        return NOT_COMPARABLE;
    }
    return a->data3 < b->data3 ? -1 : a->data3 > b->data3 ? 1 : 0;
}

void init() {
    type_registry::register_type(
        T_FUNCTION, T_CONTEXT, "function!",
        {.make = make, .reflect = reflect, .form = form, .mold = mold, .compare = compare});
}

}  // namespace kov::function

namespace kov::routine {

using collector::Root;

Cell* push(const Cell* spec_in, const Cell* body_in, int32_t code, int32_t value, bool flag) {
    Root spec(*spec_in), body(body_in ? *body_in : none_value);
    uint32_t count = 0;
    {
        SeriesBuffer* b = memory::buffer_of(spec->data2);
        for (uint32_t i = spec->data1, n = b->used() / 16; i < n; i++)
            if (b->head_cell()[i].is(T_WORD)) count++;
    }
    if (count > MAX_ARITY) stack::raise_error("script", "bad-func-def", {spec.get()});
    Cell* result = stack::push(&unset_value);
    if (spec->data1 != 0) {
        Cell* c = block::clone(spec.get(), false, false);
        spec.cell = Cell{T_BLOCK, 0, c->data2, 0};
        stack::pop(1);
    }
    collector::RootContext ctx(context::make(spec.get(), true, false, context::KIND_FUNCTION));
    Root ex;
    block::make_at(ex.get(), function::EXTRA_CELLS);
    Cell code_cell = cells::make_integer(code), value_cell = cells::make_integer(value);
    block::append_value(ex.get(), body.get());
    block::append_value(ex.get(), &unset_value);
    block::append_value(ex.get(), &code_cell);
    block::append_value(ex.get(), &unset_value);
    block::append_value(ex.get(), &value_cell);
    *result = Cell{T_ROUTINE | (flag ? ROUTINE_FLAG : 0u) | (count << ARITY_SHIFT), ctx.handle(),
                   spec->data2, ex->data2};
    *context::owner(ctx.handle()) = *result;
    return result;
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    return function::form(value, out, part, limit);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    Root v(*value);
    string::concatenate_cstring(out, "routine ", 8);
    limit -= 8;
    Root spec(Cell{T_BLOCK, 0, v->data2, 0});
    limit = block::mold(spec.get(), out, only, all, flat, part, limit, indent);
    Root body(*function::extra(v.get(), function::EXTRA_BODY));
    if (body->is(T_BLOCK)) {
        limit = block::mold(body.get(), out, only, all, flat, part, limit, indent);
    } else {
        string::concatenate_cstring(out, " ", 1);
        limit = actions::mold_dispatch(body.get(), out, only, all, flat, part, limit - 1, indent);
    }
    return limit;
}

void init() {
    type_registry::register_type(T_ROUTINE, T_FUNCTION, "routine!",
                                 {.reflect = inherit, .form = form, .mold = mold,
                                  .compare = function::compare});
}

}  // namespace kov::routine
