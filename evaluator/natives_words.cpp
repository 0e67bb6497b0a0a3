// get, set, unset, value?, context?, bind, in, construct and extend.
//
// Arguments stay in the native's frame on the argument stack (which never moves); values held
// across anything that may allocate or run Kov code (a change handler, a path handler, a pick)
// are copied into roots, and block buffers are looked up again after each such call.
#include "evaluator/natives_words.hpp"

#include <cstdint>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/map.hpp"
#include "datatypes/object.hpp"
#include "datatypes/word.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"

namespace kov::natives::words {

namespace {

using collector::Root;
using interpreter::Code;
namespace rw = runtime_words;

inline Cell* args() { return stack::arguments; }

inline void result(const Cell& v) {
    *stack::arguments = v;
    stack::top = stack::arguments + 1;
}

inline bool path_type(uint32_t t) {
    return t == T_PATH || t == T_LIT_PATH || t == T_SET_PATH || t == T_GET_PATH;
}

// The four word kinds that name a value (refinement! and issue! do not).
inline bool assignable(uint32_t t) {
    return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD;
}

inline bool list_type(uint32_t t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }

// Cells of a block value from its index to its tail (0 past the tail).
uint32_t cells_from_index(const Cell* blk) {
    uint32_t total = memory::buffer_of(blk->data2)->used() >> 4;
    return blk->data1 < total ? total - blk->data1 : 0;
}

// The cell at offset i from a block value's index (valid until the next allocation).
inline Cell element(const Cell* blk, uint32_t i) {
    Cell c = memory::buffer_of(blk->data2)->head_cell()[blk->data1 + i];
    c.header &= ~CELL_NEW_LINE;
    return c;
}

// A new block of the pairs present in a map, key then value, in the map's order.
void map_pairs(const Cell* map_in, Cell* out) {
    Root m(*map_in), pairs;
    block::make_at(pairs.get(), 2 * map::count(m.get()) + 1);
    for (uint32_t i = 0; i + 1 < cells_from_index(m.get()); i += 2) {
        Root key(element(m.get(), i));
        Root value(memory::buffer_of(m->data2)->head_cell()[m->data1 + i + 1]);
        if (value->header == 0) continue;  // a removed pair
        value->header &= ~CELL_NEW_LINE;
        block::append_value(pairs.get(), key.get());
        block::append_value(pairs.get(), value.get());
    }
    *out = pairs.cell;
}

// Gives a bound word that its context has not resolved yet (slot -1) the slot of its spelling,
// looked up as a set does (exact spelling first). False when the context has no such word.
// `self` and unbound words are left as they are.
bool resolve(Cell* word) {
    Handle ctx = word->data1;
    uint32_t self = context::self_symbol();
    if (!ctx || int32_t(word->data3) != -1 || (self && word->data2 == self)) return true;
    int32_t slot = context::find_word(ctx, word->data2, false);
    if (slot < 0) slot = context::find_word(ctx, word->data2, true);
    if (slot < 0) return false;
    word->data3 = uint32_t(slot);
    return true;
}

// The value cell a word reaches without raising: null for an unbound word, a word that its
// context does not hold, or a context whose values are not present (a function that is not
// running).
const Cell* value_or_null(const Cell* word_in) {
    Cell w = *word_in;
    if (!resolve(&w)) return nullptr;
    const Cell* word = &w;
    Handle ctx = word->data1;
    if (!ctx) return nullptr;
    int32_t slot = int32_t(word->data3);
    if (slot == -1) return context::owner(ctx);  // self
    Cell* c = context::cell(ctx);
    if (!c->data2) return nullptr;
    if (context::on_stack_q(c)) return context::reachable_value(c, uint32_t(slot));
    return context::value_cell(ctx, slot);
}

// ---- get ----

// get: word /any /case
Status get(const int32_t* refs) {
    bool any = refs[0] >= 0;
    bool case_sensitive = refs[1] >= 0;
    Cell* a = args();
    Root target(a[0]);
    uint32_t t = target->type();
    if (path_type(t)) {
        Code code(target.cell);
        interpreter::Step s =
            interpreter::eval_path(target.get(), code, 0, false, true, false, case_sensitive);
        if (s.status != Status::normal) return s.status;
    } else if (t == T_OBJECT) {
        Root field(cells::make_word(T_WORD, 0, symbol::make("values")));
        Cell* values = object::reflect(target.get(), field.get());
        Cell v = *values;
        result(v);
    } else {
        // A word that its context has not resolved yet is looked up by its spelling (the way a
        // set does); one that is not there has no value.
        Cell w = target.cell;
        if (!resolve(&w)) {
            if (!any) stack::raise_error("script", "no-value", {target.get()});
            result(cells::make_unset());
            return Status::normal;
        }
        Cell v = *context::get(&w);
        result(v);
    }
    if (!any && stack::arguments->is(T_UNSET)) stack::raise_error("script", "no-value", {target.get()});
    return Status::normal;
}

// ---- set ----

// Assigns a value to a word in its own context (through the owner's change handler).
void assign(const Cell* word, const Cell* value) {
    Root w(*word), v(*value);
    context::set(w.get(), v.get());
}

// Sets the words of a block: with `spread`, word i receives element i of the value (none!
// past its end), else every word receives the whole value. Every pair is checked before
// anything is assigned.
void set_block(const Cell* words_in, const Cell* value_in, bool any, bool some, bool spread) {
    Root words(*words_in), value(*value_in);
    // A map spreads as its pairs: key, value, key, value ...
    if (spread && value->is(T_MAP)) map_pairs(value.get(), value.get());
    uint32_t n = cells_from_index(words.get());
    // The value of each word, gathered before any word changes.
    Root values;
    block::make_at(values.get(), int32_t(n ? n : 1));
    for (uint32_t i = 0; i < n; i++) {
        Root v;
        if (!spread) {
            v.cell = value.cell;
        } else if (i < cells_from_index(value.get())) {
            v.cell = element(value.get(), i);
        } else {
            v.cell = cells::make_none();
        }
        block::append_value(values.get(), v.get());
    }
    for (uint32_t i = 0; i < n; i++) {
        Cell w = element(words.get(), i);
        if (!assignable(w.type())) stack::raise_error("script", "invalid-arg", {&w});
        Cell v = element(values.get(), i);
        if (!any && v.is(T_UNSET)) stack::raise_error("script", "need-value", {&w});
    }
    for (uint32_t i = 0; i < n && i < cells_from_index(words.get()); i++) {
        Root w(element(words.get(), i)), v(element(values.get(), i));
        if (!assignable(w->type())) stack::raise_error("script", "invalid-arg", {w.get()});
        if (some && v->is(T_NONE)) continue;
        assign(w.get(), v.get());
    }
}

// set: word value /any /case /only /some
Status set(const int32_t* refs) {
    bool any = refs[0] >= 0;
    bool case_sensitive = refs[1] >= 0;
    bool only = refs[2] >= 0;
    bool some = refs[3] >= 0;
    Cell* a = args();
    Root target(a[0]), value(a[1]);
    if (!any && value->is(T_UNSET)) stack::raise_error("script", "need-value", {target.get()});
    uint32_t t = target->type();
    if (path_type(t)) {
        // A set-path stores the first cell of the current frame.
        a[0] = value.cell;
        Code code(target.cell);
        interpreter::Step s =
            interpreter::eval_path(target.get(), code, 0, true, false, false, case_sensitive);
        if (s.status != Status::normal) return s.status;
    } else if (t == T_OBJECT) {
        object::set_values(target.get(), value.get(), any, only, some);
    } else if (t == T_BLOCK) {
        uint32_t vt = value->type();
        bool spread = !only && (list_type(vt) || vt == T_MAP || path_type(vt));
        stack::mark(&rw::words::anon, FRAME_INTERP_NATIVE);
        set_block(target.get(), value.get(), any, some, spread);
        stack::unwind_drop();
    } else {
        assign(target.get(), value.get());
    }
    result(value.cell);
    return Status::normal;
}

// unset: word
Status unset(const int32_t*) {
    Cell* a = args();
    Root target(a[0]);
    Root nothing(cells::make_unset());
    if (target->is(T_BLOCK)) {
        for (uint32_t i = 0; i < cells_from_index(target.get()); i++) {
            Root w(element(target.get(), i));
            if (!w->is(T_WORD)) continue;
            context::set(w.get(), nothing.get());
        }
    } else {
        context::set(target.get(), nothing.get());
    }
    result(cells::make_unset());
    return Status::normal;
}

// value?: value
Status value_q(const int32_t*) {
    Cell* a = args();
    bool r = true;
    if (assignable(a[0].type())) {
        const Cell* v = value_or_null(&a[0]);
        r = v && !v->is(T_UNSET);
    }
    result(cells::make_logic(r));
    return Status::normal;
}

// context?: word. An unbound word, or a context that no value owns, gives none.
Status context_q(const int32_t*) {
    Cell* a = args();
    Handle ctx = a[0].data1;
    Cell owner = cells::make_none();
    if (ctx) {
        owner = *context::owner(ctx);
        uint32_t t = owner.type();
        if (t != T_OBJECT && t != T_FUNCTION && t != T_ERROR && t != T_PORT) owner = cells::make_none();
    }
    result(owner);
    return Status::normal;
}

// ---- bind and in ----

// bind: word context /copy
Status bind(const int32_t* refs) {
    bool copy = refs[0] >= 0;
    Cell* a = args();
    Root target(a[0]), where(a[1]);
    uint32_t wt = where->type();
    Handle ctx = where->data1;
    if (word::any_word_q(wt) && !ctx) stack::raise_error("script", "not-defined", {where.get()});
    // `self` in the block names the object whose context it is bound to.
    bool self_mode = context::kind_of(context::cell(ctx)) == context::KIND_OBJECT;
    if (target->is(T_BLOCK)) {
        if (copy) {
            Cell* c = block::clone(target.get(), true, true);
            target.cell = *c;
            stack::pop(1);
        }
        context::bind(target.get(), where->data1, self_mode);
        result(target.cell);
        return Status::normal;
    }
    int32_t slot = context::find_word(ctx, target->data2, false);
    if (slot >= 0) {
        target->data1 = ctx;
        target->data3 = uint32_t(slot);
    }
    result(target.cell);
    return Status::normal;
}

// in: object word
Status in(const int32_t*) {
    Cell* a = args();
    uint32_t t = a[0].type();
    Handle ctx = 0;
    if (t == T_OBJECT || t == T_ERROR || t == T_PORT || t == T_FUNCTION || t == T_ROUTINE)
        ctx = a[0].data1;
    Cell w = a[1];
    if (!ctx || context::bind_word_index(ctx, &w) < 0) {
        result(cells::make_none());
        return Status::normal;
    }
    if (w.is(T_REFINEMENT)) w.header = (w.header & ~0xFFu) | T_WORD;
    result(w);
    return Status::normal;
}

// ---- construct and extend ----

// construct: block /with object /only
Status construct(const int32_t* refs) {
    Cell* a = args();
    Root spec(a[0]);
    Root proto(refs[0] >= 0 ? a[refs[0]] : cells::make_none());
    Cell* obj = object::construct(spec.get(), refs[0] >= 0 ? proto.get() : nullptr, refs[1] >= 0);
    Cell v = *obj;
    result(v);
    return Status::normal;
}

// extend: obj spec /case
Status extend(const int32_t* refs) {
    Cell* a = args();
    if (a[0].is(T_OBJECT)) stack::raise_error("internal", "not-done");
    Root target(a[0]), spec(a[1]);
    if (spec->is(T_MAP)) map_pairs(spec.get(), spec.get());
    map::extend(target.get(), spec.get(), refs[0] >= 0);
    result(target.cell);
    return Status::normal;
}

}  // namespace

void init() {
    struct Entry {
        int number;
        NativeFn fn;
    };
    const Entry entries[] = {
        {21, get}, {22, set}, {38, bind}, {39, in}, {68, construct},
        {69, value_q}, {83, extend}, {88, unset}, {92, context_q},
    };
    for (const Entry& e : entries) table[e.number - 1] = e.fn;
}

}  // namespace kov::natives::words
