// object!: making, copying, events, paths, reflection, text and comparison.
#include "datatypes/object.hpp"

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/function.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov::object {

Status (*eval_hook)(const Cell* block) = nullptr;

namespace {

using collector::Root;
using collector::RootContext;

uint32_t class_counter = FIRST_CLASS_ID;

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

inline uint32_t canon(const char* spelling) { return symbol::resolve(symbol::make(spelling)); }
inline uint32_t canon_of(const Cell& c) { return symbol::resolve(c.data2); }

// The values that making and copying an object copy deeply.
bool series_value(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_VECTOR: case T_BINARY: case T_IMAGE:
        return true;
    default:
        return false;
    }
}

bool block_like(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH:
        return true;
    default:
        return false;
    }
}

// The values a deep clone without types copies one level.
bool clone_copied(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_STRING: case T_FILE: case T_URL: case T_PATH:
    case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_TAG: case T_EMAIL: case T_REF:
        return true;
    default:
        return false;
    }
}

uint32_t value_count(Handle ctx) {
    SeriesBuffer* b = context::values(ctx);
    return b ? b->used() / 16 : 0;
}

// A copy of a field's value (unset! for a slot past the values' tail).
Cell field_value(Handle ctx, uint32_t slot) {
    SeriesBuffer* b = context::values(ctx);
    if (!b || slot >= b->used() / 16) return unset_value;
    return b->head_cell()[slot];
}

// Writes a field's value without marking or firing (the slot is made when past the tail).
void store_field(Handle ctx, uint32_t slot, const Cell* value) {
    Root v(*value);
    Cell* target = context::value_cell(ctx, int32_t(slot));
    if (target) *target = v.cell;
}

// Copies a value through its datatype's copy action into `result` (rooted).
void copy_value(const Cell* value, Cell* result, bool deep) {
    Root v(*value);
    const auto& fn = type_registry::table(v->type()).copy;
    if (!fn) not_done();
    Cell* r = fn(v.get(), result, nullptr, deep, nullptr);
    if (r && r != result) *result = *r;
}

// The record's two entries (x, y) for one handler.
struct Handler {
    int32_t slot;  // -1: absent
    int32_t locals;
    uint32_t spec;
};

Handler handler_of(Handle record, int which) {
    const Cell& p = memory::buffer_of(record)->head_cell()[which];
    if (p.data2 >= NO_HANDLER) return {-1, 0, 0};
    return {int32_t(p.data2 >> 16), int32_t(p.data2 & 0xFFFF), p.data3};
}

Cell pair_entry(int32_t slot, int32_t locals, uint32_t spec) {
    uint32_t x = slot < 0 ? NO_HANDLER : (uint32_t(slot) << 16) | (uint32_t(locals) & 0xFFFF);
    return Cell{T_PAIR, 0, x, spec};
}

Handle make_record(const Cell& change, const Cell& deep) {
    Root r;
    block::make_at(r.get(), 2);
    block::append_value(r.get(), &change);
    block::append_value(r.get(), &deep);
    return r->data2;
}

void refresh_owner(const Cell* obj) { *context::owner(obj->data1) = *obj; }

// Runs a handler in a function frame named by `name` with the arguments already chosen.
template <class PushArgs>
void run_handler(const char* name, const Cell* handler, Handle owner_ctx, int32_t locals,
                 PushArgs push_args) {
    if (!function::exec_hook) not_done();
    Root h(*handler), frame_name(*word::load(name));
    RootContext owner(owner_ctx);
    stack::mark_func(frame_name.get(), h->data1);
    push_args();
    if (locals > 0) function::push_absent_refinement(locals);
    Status s = function::call(h.get(), owner.handle());
    // A transfer has already removed the frame on its way to its receiver.
    stack::raise_if_pending(s);
    stack::unwind_func();
}

// The handler of one kind, with its record entry brought up to date when it was replaced.
// Answers false when the object has no such handler.
bool current_handler(const Cell* obj, int which, Root& handler, int32_t& locals) {
    Handler e = handler_of(obj->data3, which);
    if (e.slot < 0) return false;
    handler.cell = field_value(obj->data1, uint32_t(e.slot));
    locals = e.locals;
    if ((handler->is(T_FUNCTION) || handler->is(T_ROUTINE)) && handler->data2 != e.spec) {
        locals = function::count_locals(handler->data2, 0, false);
        memory::buffer_of(obj->data3)->head_cell()[which] = pair_entry(e.slot, locals, handler->data2);
    }
    return true;
}

[[noreturn]] void path_error(const char* id, const Cell* path, const Cell* element) {
    Root p(path ? *path : none_value), e(*element);
    stack::raise_error("script", id, {p.get(), e.get()});
}

}  // namespace

// ---- accessors ----

Cell* word_at(Handle ctx, int32_t slot) { return context::word_cell_at(ctx, slot); }

int32_t find_word(const Cell* obj, const Cell* word) {
    return context::find_word(obj->data1, word->data2, true);
}

const Cell* select_word(const Cell* obj, const Cell* word) {
    int32_t slot = find_word(obj, word);
    if (slot < 0) return &none_value;
    Cell* v = context::value_cell(obj->data1, slot);
    return v ? v : &none_value;
}

Cell* get_values(const Cell* obj) { return context::values(obj->data1)->head_cell(); }
uint32_t word_count(const Cell* obj) { return context::word_count(obj->data1); }

void clear_new_lines(Handle block) {
    SeriesBuffer* b = memory::buffer_of(block);
    for (uint32_t i = 0, n = b->used() / 16; i < n; i++) b->head_cell()[i].header &= ~CELL_NEW_LINE;
}

void clear_changed(Handle ctx) {
    SeriesBuffer* b = memory::buffer_of(context::word_block(ctx));
    for (uint32_t i = 0, n = b->used() / 16; i < n; i++) b->head_cell()[i].header &= ~WORD_ASSIGNED;
}

uint32_t new_class_id() { return ++class_counter; }

bool word_is_class_q(const Cell* word, uint32_t class_id) {
    const Cell* v = context::get(word);
    return v->is(T_OBJECT) && v->data2 == class_id;
}

bool slot_is_class_q(Handle ctx, int32_t slot, uint32_t class_id) {
    Cell v = field_value(ctx, uint32_t(slot));
    return v.is(T_OBJECT) && v.data2 == class_id;
}

// ---- makers ----

void make_empty_at(Cell* c, uint32_t capacity) {
    Handle ctx = context::create(capacity, false, true, nullptr, context::KIND_OBJECT);
    *c = Cell{T_OBJECT, ctx, 0, 0};
    refresh_owner(c);
}

Cell* push(Handle ctx, uint32_t class_id) { return push_with_events(ctx, class_id, 0); }

Cell* push_with_events(Handle ctx, uint32_t class_id, Handle record) {
    RootContext pin(ctx);
    uint32_t words = context::word_count(ctx);
    if (words && value_count(ctx) == 0) context::value_cell(ctx, int32_t(words - 1));
    Cell* c = stack::push(&none_value);
    *c = Cell{T_OBJECT, pin.handle(), class_id, record};
    refresh_owner(c);
    return c;
}

Handle attach_events(Handle ctx, int32_t change_slot, int32_t change_locals, int32_t deep_slot,
                     int32_t deep_locals) {
    RootContext pin(ctx);
    Cell* obj = stack::top_value();
    Handle record = make_record(pair_entry(change_slot, change_locals, 0),
                                pair_entry(deep_slot, deep_locals, 0));
    obj->data3 = record;
    if (deep_slot >= 0) {
        Root o(*obj);
        ownership::set_owner_flag(obj, o.get(), o.get());
    }
    refresh_owner(obj);
    return record;
}

Handle make_events(Handle ctx_in) {
    RootContext ctx(ctx_in);
    uint32_t names[2] = {symbol::make("on-change*"), symbol::make("on-deep-change*")};
    int32_t slots[2];
    for (int k = 0; k < 2; k++) slots[k] = context::find_word(ctx.handle(), names[k], true);
    if (slots[0] < 0 && slots[1] < 0) return 0;
    Cell entries[2];
    for (int k = 0; k < 2; k++) {
        if (slots[k] < 0) {
            entries[k] = pair_entry(-1, 0, 0);
            continue;
        }
        Cell v = field_value(ctx.handle(), uint32_t(slots[k]));
        if (!v.is(T_FUNCTION) && !v.is(T_ROUTINE)) {
            Root w(*word_at(ctx.handle(), slots[k]));
            Cell type = cells::make_datatype(v.type());
            stack::raise_error("script", "bad-field-set", {w.get(), &type});
        }
        entries[k] = pair_entry(slots[k], function::count_locals(v.data2, 0, false), v.data2);
    }
    return make_record(entries[0], entries[1]);
}

void finish(Cell* obj) {
    Handle record = make_events(obj->data1);
    obj->data3 = record;
    refresh_owner(obj);
    if (record && handler_of(record, 1).slot >= 0) {
        Root o(*obj);
        ownership::set_owner_flag(obj, o.get(), o.get());
    }
}

void rebind_function(Handle ctx_in, int32_t slot) {
    RootContext ctx(ctx_in);
    Root fn(field_value(ctx.handle(), uint32_t(slot)));
    Root body(*function::extra(fn.get(), function::EXTRA_BODY));
    if (!body->is(T_BLOCK)) stack::raise_error("script", "bad-func-def", {fn.get()});
    Cell owner_ref = *function::extra(fn.get(), function::EXTRA_OWNER);
    Root spec(Cell{T_BLOCK, 0, fn->data2, 0});
    Root holder(fn.cell);
    RootContext fctx(context::clone(holder.get(), context::KIND_FUNCTION));
    function::push(spec.get(), body.get(), fctx.handle(),
                   0, owner_ref.is(T_INTEGER) ? cells::integer(owner_ref) : 0,
                   fn->header & (function::FN_TRACE | function::FN_NO_TRACE));
    Root made(*stack::top_value());
    stack::pop(1);
    Root new_body(*function::extra(made.get(), function::EXTRA_BODY));
    context::bind(new_body.get(), ctx.handle(), true);
    context::bind(new_body.get(), fctx.handle(), false);
    store_field(ctx.handle(), uint32_t(slot), made.get());
}

void clone(const Cell* source, Cell* result, bool deep, const Cell* types, bool finish_it) {
    Root src(*source), filter(types ? *types : none_value);
    Root holder(src.cell);
    RootContext ctx(context::clone(holder.get(), context::KIND_OBJECT));
    uint32_t n = value_count(src->data1);
    for (uint32_t i = 0; i < n; i++) {
        Cell* target = context::value_cell(ctx.handle(), int32_t(i));
        *target = field_value(src->data1, i);
    }
    Root out(Cell{T_OBJECT, ctx.handle(), src->data2, finish_it ? 0u : src->data3});
    refresh_owner(out.get());
    uint32_t words = context::word_count(ctx.handle());
    for (uint32_t i = 0; i < words; i++)
        if (field_value(ctx.handle(), i).is(T_FUNCTION)) rebind_function(ctx.handle(), int32_t(i));
    if (deep && !types) {
        Root copied;
        for (uint32_t i = 0; i < words; i++) {
            Root v(field_value(ctx.handle(), i));
            if (!clone_copied(v->type())) continue;
            copied.cell = none_value;
            copy_value(v.get(), copied.get(), false);
            store_field(ctx.handle(), i, copied.get());
        }
    } else if (types) {
        if (deep && cycles::find_q(src->data1)) stack::raise_error("internal", "no-cycle");
        cycles::Guard guard(src->data1);
        Root values(Cell{T_BLOCK, 0, context::cell(ctx.handle())->data2, 0});
        block::copy_nested(values.get(), 0, value_count(ctx.handle()), 1, deep, filter.get());
    }
    if (finish_it) finish(out.get());
    *result = out.cell;
}

void copy_series_fields(Handle source_in, Handle destination_in, bool all) {
    RootContext source(source_in), destination(destination_in);
    Root copied;
    for (uint32_t i = 0, n = value_count(source.handle()); i < n; i++) {
        Root v(field_value(source.handle(), i));
        if (series_value(v->type())) {
            copied.cell = none_value;
            copy_value(v.get(), copied.get(), true);
            if (block_like(copied->type())) context::bind(copied.get(), destination.handle(), true);
            store_field(destination.handle(), i, copied.get());
        } else if (all) {
            store_field(destination.handle(), i, v.get());
        }
    }
}

bool extend_from(Handle destination_in, const Cell* source) {
    RootContext destination(destination_in);
    Root src(*source), word, copied;
    bool added = false;
    for (uint32_t i = 0, n = context::word_count(src->data1); i < n; i++) {
        word.cell = *word_at(src->data1, int32_t(i));
        if (context::find_word(destination.handle(), word->data2, true) >= 0) continue;
        Root v(field_value(src->data1, i));
        context::add_with(destination.handle(), word.get(), v.get());
        added = true;
    }
    for (uint32_t i = 0, n = context::word_count(destination.handle()); i < n; i++) {
        Root v(field_value(destination.handle(), i));
        if (series_value(v->type())) {
            copied.cell = none_value;
            copy_value(v.get(), copied.get(), true);
            store_field(destination.handle(), i, copied.get());
        } else if (v->is(T_FUNCTION)) {
            rebind_function(destination.handle(), int32_t(i));
        }
    }
    return added;
}

void copy_values_into(Handle destination_in, Handle source_in) {
    RootContext destination(destination_in), source(source_in);
    Root copied;
    for (uint32_t i = 0, n = context::word_count(source.handle()); i < n; i++) {
        uint32_t sym = word_at(source.handle(), int32_t(i))->data2;
        int32_t slot = context::find_word(destination.handle(), sym, true);
        if (slot < 0) continue;
        Root v(field_value(source.handle(), i));
        if (series_value(v->type())) {
            copied.cell = none_value;
            copy_value(v.get(), copied.get(), true);
            v.cell = copied.cell;
        }
        store_field(destination.handle(), uint32_t(slot), v.get());
    }
}

Cell* construct(const Cell* spec_in, const Cell* proto, bool only) {
    Root spec(*spec_in), pr(proto ? *proto : none_value);
    Cell* result = stack::push(&none_value);
    if (pr->is(T_OBJECT)) {
        clone(pr.get(), result, true, nullptr, true);
    } else {
        make_empty_at(result, 4);
        result->data2 = new_class_id();
        refresh_owner(result);
    }
    const uint32_t yes[3] = {canon("true"), canon("yes"), canon("on")};
    const uint32_t no[3] = {canon("false"), canon("no"), canon("off")};
    const uint32_t none_sym = canon("none");
    Root value, w;
    uint32_t i = spec->data1;
    auto count = [&]() { return memory::buffer_of(spec->data2)->used() / 16; };
    while (i < count()) {
        uint32_t run = i;
        while (i < count() && memory::buffer_of(spec->data2)->head_cell()[i].is(T_SET_WORD)) i++;
        if (i == run) {
            i++;
            continue;
        }
        value.cell = i < count() ? memory::buffer_of(spec->data2)->head_cell()[i] : none_value;
        if (!only && value->is(T_WORD)) {
            uint32_t k = canon_of(value.cell);
            if (k == yes[0] || k == yes[1] || k == yes[2]) value.cell = true_value;
            else if (k == no[0] || k == no[1] || k == no[2]) value.cell = false_value;
            else if (k == none_sym) value.cell = none_value;
        }
        value->header &= ~CELL_NEW_LINE;
        for (uint32_t j = run; j < i; j++) {
            w.cell = memory::buffer_of(spec->data2)->head_cell()[j];
            context::add_with(result->data1, w.get(), value.get());
        }
    }
    finish(result);
    return result;
}

void set_values(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    Root obj(*obj_in), value(*value_in), word, old, src;
    Handle ctx = obj->data1;
    RootContext pin(ctx);
    const uint32_t n = context::word_count(ctx);
    bool per_field = (value->is(T_BLOCK) || value->is(T_OBJECT)) && !only;
    int32_t handler_slots[2] = {-1, -1};
    if (obj->data3) {
        handler_slots[0] = handler_of(obj->data3, 0).slot;
        handler_slots[1] = handler_of(obj->data3, 1).slot;
    }
    // The value for field i; false when the field is skipped.
    auto source_for = [&](uint32_t i, Cell& out) -> bool {
        if (!per_field) {
            out = value.cell;
            return true;
        }
        if (value->is(T_BLOCK)) {
            uint32_t at = value->data1 + i;
            SeriesBuffer* b = memory::buffer_of(value->data2);
            out = at < b->used() / 16 ? b->head_cell()[at] : none_value;
            return true;
        }
        int32_t slot = context::find_word(value->data1, word_at(pin.handle(), int32_t(i))->data2, true);
        if (slot < 0) return false;
        out = field_value(value->data1, uint32_t(slot));
        return true;
    };
    if (per_field && !some && !any) {
        for (uint32_t i = 0; i < n; i++) {
            Cell v;
            if (source_for(i, v) && v.is(T_UNSET)) {
                word.cell = *word_at(pin.handle(), int32_t(i));
                stack::raise_error("script", "need-value", {word.get()});
            }
        }
    }
    for (uint32_t i = 0; i < n; i++) {
        if (obj->data3 && (int32_t(i) == handler_slots[0] || int32_t(i) == handler_slots[1])) continue;
        if (!source_for(i, src.cell)) continue;
        if (some && src->is(T_NONE)) continue;
        src->header &= ~CELL_NEW_LINE;
        word_at(pin.handle(), int32_t(i))->header |= WORD_ASSIGNED;
        if (!obj->data3) {
            store_field(pin.handle(), i, src.get());
            continue;
        }
        word.cell = *word_at(pin.handle(), int32_t(i));
        Cell* saved_top = stack::top;
        Cell* old_cell = stack::push(&unset_value);
        *old_cell = field_value(pin.handle(), i);
        store_field(pin.handle(), i, src.get());
        Cell* fresh = stack::push(src.get());
        fire_on_change(obj.get(), word.get(), old_cell, fresh);
        stack::top = saved_top;
    }
}

// ---- events ----

void fire_on_change(const Cell* obj_in, const Cell* word_in, const Cell* old_in, const Cell* new_in) {
    if (!obj_in->data3) return;
    Root obj(*obj_in), word(*word_in), old_value(*old_in), new_value(*new_in), handler;
    int32_t locals = 0;
    if (!current_handler(obj.get(), 0, handler, locals)) return;
    if (!handler->is(T_FUNCTION)) stack::raise_error("script", "invalid-obj-evt", {handler.get()});
    if (word->data1 != obj->data1) context::bind_word_index(obj->data1, word.get());
    run_handler("on-change*", handler.get(), obj->data1, locals, [&] {
        stack::push(word.get());
        stack::push(old_value.get());
        stack::push(new_value.get());
    });
}

void fire_on_deep_change(const Cell* owner_in, const Cell* word_in, const Cell* target_in,
                         const Cell* action_in, const Cell* new_in, int32_t index, int32_t part) {
    if (!owner_in->data3) stack::raise_error("script", "invalid-obj-evt", {owner_in});
    Root owner(*owner_in), word(*word_in), target(*target_in), action(*action_in);
    Root new_value(new_in ? *new_in : none_value), handler;
    int32_t locals = 0;
    if (!current_handler(owner.get(), 1, handler, locals)) return;
    if (!handler->is(T_FUNCTION)) return;
    run_handler("on-deep-change*", handler.get(), owner->data1, locals, [&] {
        stack::push(owner.get());
        stack::push(word.get());
        stack::push(target.get());
        stack::push(action.get());
        stack::push(new_value.get());
        Cell i = cells::make_integer(index), p = cells::make_integer(part);
        stack::push(&i);
        stack::push(&p);
    });
}

void fire_set(const Cell* obj, const Cell* word) {
    Cell* old_value = stack::top_value();
    fire_on_change(obj, word, old_value, old_value - 1);
}

void fire_set_in_context(Handle ctx, const Cell* word) {
    Root obj(*context::owner(ctx));
    fire_set(obj.get(), word);
}

void set_field(const Cell* holder, const Cell* word) {
    Root obj(*context::get(holder));
    fire_set(obj.get(), word);
}

// ---- text ----

int32_t serialize(const Cell* obj_in, Cell* out, bool, bool all, bool flat, bool part,
                  int32_t limit, bool indented, int32_t indent, bool) {
    Root obj(*obj_in), word, value;
    const uint32_t change = canon("on-change*"), deep = canon("on-deep-change*");
    const char* separator = flat ? " " : "\n";
    bool first = true;
    for (uint32_t i = 0, n = context::word_count(obj->data1); i < n; i++) {
        word.cell = *word_at(obj->data1, int32_t(i));
        uint32_t k = canon_of(word.cell);
        if (!all && (k == change || k == deep)) continue;
        if (part && limit <= 0) return limit;
        if (!first) {
            string::concatenate_cstring(out, separator, 1);
            limit--;
        }
        first = false;
        if (indented) {
            cell::mold_indent(out, indent);
            limit -= 4 * indent;
        }
        word.cell = Cell{T_WORD, word->data1, word->data2, word->data3};
        limit = actions::mold_dispatch(word.get(), out, false, all, flat, part, limit, indent);
        string::concatenate_cstring(out, ": ", 2);
        limit -= 2;
        value.cell = field_value(obj->data1, i);
        if (value->type() == 0) value.cell = unset_value;
        if (value->is(T_WORD)) {
            string::concatenate_cstring(out, "'", 1);
            limit--;
        }
        limit = actions::mold_dispatch(value.get(), out, false, all, flat, part, limit, indent);
    }
    if (!first && indented) {
        string::concatenate_cstring(out, separator, 1);
        limit--;
    }
    return limit;
}

// ---- actions ----

Cell* make(const Cell* proto_in, const Cell* spec_in, uint32_t) {
    Root proto(*proto_in), spec(*spec_in);
    Cell* result = stack::push(&none_value);
    bool from_proto = proto->is(T_OBJECT);
    if (from_proto) clone(proto.get(), result, false, nullptr, false);
    else make_empty_at(result, 4);
    uint32_t class_id = from_proto ? proto->data2 : 0;
    if (spec->is(T_OBJECT)) {
        bool added = extend_from(result->data1, spec.get());
        if (added || !from_proto) class_id = new_class_id();
    } else if (spec->is(T_BLOCK)) {
        bool added = context::collect_set_words(result->data1, spec.get());
        context::bind(spec.get(), result->data1, true);
        if (from_proto) copy_series_fields(proto->data1, result->data1, false);
        if (!eval_hook) not_done();
        // Making fires no handler: the event record comes back with finish().
        context::owner(result->data1)->data3 = 0;
        result->data3 = 0;
        Cell* top = stack::top;
        Status s = eval_hook(spec.get());
        stack::top = top;
        stack::raise_if_pending(s);
        clear_changed(result->data1);
        clear_new_lines(context::cell(result->data1)->data2);
        if (added || !from_proto) class_id = new_class_id();
    } else {
        stack::raise_error("syntax", "malconstruct", {spec.get()});
    }
    result->data2 = class_id;
    finish(result);
    return result;
}

Cell* reflect(const Cell* value, const Cell* field) {
    Root obj(*value);
    Handle ctx = obj->data1;
    uint32_t k = word::any_word_q(field->type()) ? canon_of(*field) : 0;
    if (!k) not_done();
    if (k == canon("changed")) {
        Root out;
        block::make_at(out.get(), 4);
        for (uint32_t i = 0, n = context::word_count(obj->data1); i < n; i++) {
            Cell w = *word_at(obj->data1, int32_t(i));
            if (!(w.header & WORD_ASSIGNED)) continue;
            w.header = T_WORD;
            block::append_value(out.get(), &w);
        }
        return stack::push(out.get());
    }
    if (k == canon("class")) {
        Cell id = cells::make_integer(int32_t(obj->data2));
        return stack::push(&id);
    }
    if (k == canon("words")) {
        Cell words{T_BLOCK, 0, context::word_block(ctx), 0};
        Cell* out = block::clone(&words, false, false);
        SeriesBuffer* b = memory::buffer_of(out->data2);
        for (uint32_t i = 0, n = b->used() / 16; i < n; i++) {
            Cell& w = b->head_cell()[i];
            w = Cell{T_WORD, obj->data1, w.data2, i};
        }
        return out;
    }
    if (k == canon("values")) {
        Cell values{T_BLOCK, 0, context::cell(obj->data1)->data2, 0};
        return block::clone(&values, false, false);
    }
    if (k == canon("body")) {
        Root out, item;
        uint32_t n = context::word_count(obj->data1);
        block::make_at(out.get(), int32_t(2 * n));
        for (uint32_t i = 0; i < n; i++) {
            item.cell = *word_at(obj->data1, int32_t(i));
            item.cell = Cell{T_SET_WORD | CELL_NEW_LINE, obj->data1, item->data2, i};
            block::append_value(out.get(), item.get());
            item.cell = field_value(obj->data1, i);
            if (item->is(T_WORD)) cell::set_type(item.get(), T_LIT_WORD);
            else if (item->is(T_PATH)) cell::set_type(item.get(), T_LIT_PATH);
            block::append_value(out.get(), item.get());
        }
        return stack::push(out.get());
    }
    if (k == canon("owner"))
        return stack::push(context::cell(obj->data1)->header & ownership::CTX_OWNER ? &true_value
                                                                                    : &false_value);
    if (k == canon("events?")) return stack::push(obj->data3 ? &true_value : &false_value);
    not_done();
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    if (cycles::detect_q(value, out, limit, false)) return limit;
    Root obj(*value);
    cycles::Guard guard(obj->data1);
    return serialize(obj.get(), out, false, false, false, part, limit, false, 0, false);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    return mold_as(value, out, "make object! [", only, all, flat, part, limit, indent);
}

int32_t mold_as(const Cell* value, Cell* out, std::string_view opening, bool only, bool all,
                bool flat, bool part, int32_t limit, int32_t indent) {
    if (cycles::detect_q(value, out, limit, true)) return limit;
    Root obj(*value);
    cycles::Guard guard(obj->data1);
    if (!only) {
        string::concatenate_cstring(out, opening);
        limit -= int32_t(opening.size());
        if (!flat) {
            string::concatenate_cstring(out, "\n", 1);
            limit--;
        }
    }
    limit = serialize(obj.get(), out, only, all, flat, part, limit, !flat && !only, indent + 1, true);
    if (!flat) {
        cell::mold_indent(out, indent);
        limit -= 4 * indent;
    }
    if (!only) {
        string::concatenate_cstring(out, "]", 1);
        limit--;
    }
    return limit;
}

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    uint32_t t = e->type();
    if (t != T_WORD && t != T_SET_WORD && t != T_GET_WORD && t != T_LIT_WORD)
        path_error("invalid-path", step.path, e);
    Root obj(*step.value), element(*e), path(step.path ? *step.path : none_value);
    Root fresh(step.set_value ? *step.set_value : unset_value);
    Handle ctx = obj->data1;
    int32_t slot = int32_t(element->data3);
    if (element->data1 != ctx || element->data3 == cells::NO_INDEX) {
        slot = context::find_word(ctx, element->data2, true);
        if (slot >= 0) {
            Cell* in_path = const_cast<Cell*>(e);
            in_path->data1 = ctx;
            in_path->data3 = uint32_t(slot);
        }
    }
    bool get_path = path->is(T_GET_PATH);
    auto absent = [&]() -> Cell* {
        if (step.last && get_path && !step.set_value) return stack::push(&unset_value);
        path_error(step.last ? "invalid-path" : "unset-path", path.get(), element.get());
    };
    if (slot < 0 || uint32_t(slot) >= context::word_count(ctx)) return absent();
    if (!step.set_value) {
        Cell v = field_value(ctx, uint32_t(slot));
        if (v.is(T_UNSET)) return absent();
        // Before the last element the field's own cell, so that a set-path's last step (a
        // pair's x, a date's month) changes the field itself.
        if (!step.last) {
            if (Cell* in_place = context::reachable_value(context::cell(ctx), uint32_t(slot))) return in_place;
        }
        return stack::push(&v);
    }
    Root w(Cell{T_WORD, ctx, element->data2, uint32_t(slot)});
    if (obj->data3) {
        Cell* saved_top = stack::top;
        Cell* old_cell = stack::push(&unset_value);
        *old_cell = field_value(ctx, uint32_t(slot));
        context::set_in(w.get(), fresh.get(), ctx, false);
        Cell* new_cell = stack::push(fresh.get());
        fire_on_change(obj.get(), w.get(), old_cell, new_cell);
        stack::top = saved_top;
    } else {
        context::set_in(w.get(), fresh.get(), ctx, false);
    }
    return stack::push(fresh.get());
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_OBJECT)) return NOT_COMPARABLE;
    if (a->data1 == b->data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a->data1)) return cycles::find_q(b->data1) ? 0 : -1;
    Root x(*a), y(*b), vx, vy;
    uint32_t nx = context::word_count(x->data1), ny = context::word_count(y->data1);
    if (nx != ny) return nx < ny ? -1 : 1;
    uint32_t saved = cycles::depth();
    struct Restore {
        uint32_t depth;
        ~Restore() { cycles::restore_depth(depth); }
    } restore{saved};
    cycles::push(x->data1);
    cycles::push(y->data1);
    for (uint32_t i = 0; i < nx; i++) {
        uint32_t kx = canon_of(*word_at(x->data1, int32_t(i)));
        uint32_t ky = canon_of(*word_at(y->data1, int32_t(i)));
        if (kx != ky) return kx < ky ? -1 : 1;
        vx.cell = field_value(x->data1, i);
        vy.cell = field_value(y->data1, i);
        uint32_t tx = vx->type(), ty = vy->type();
        auto number = [](uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; };
        bool comparable = tx == ty || (word::any_word_q(tx) && word::any_word_q(ty)) ||
                          (number(tx) && number(ty));
        if (!comparable) return tx < ty ? -1 : 1;
        int32_t r = actions::compare_values(vx.get(), vy.get(), op);
        if (r != 0) return r;
    }
    return 0;
}

Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types) {
    if (part) series::raise_refine_arg(symbol::make("part"), part);
    Root out;
    clone(value, out.get(), deep, types, true);
    if (!value->is(T_OBJECT)) {  // a kind built on object! (error!) keeps its datatype
        out->header = value->type();
        refresh_owner(out.get());
    }
    *result = out.cell;
    return result;
}

Cell* put(Cell* obj, const Cell* key, const Cell* value, bool case_sensitive) {
    if (!key->is(T_WORD)) {
        Cell type = cells::make_datatype(key->type());
        stack::raise_error("script", "invalid-key-type", {&type});
    }
    Root o(*obj), k(*key), v(*value);
    PathStep step{o.get(), k.get(), v.get(), nullptr, nullptr, nullptr, nullptr, 1,
                  case_sensitive, true, true};
    return eval_path(step);
}

Cell* select(Cell* obj, const Cell* key, const FindArgs&) {
    if (!word::any_word_q(key->type())) {
        Cell type = cells::make_datatype(key->type());
        stack::raise_error("script", "invalid-type", {&type});
    }
    Cell v = *select_word(obj, key);
    return stack::push(&v);
}

Cell* modify(Cell* obj, const Cell* field, const Cell* value, bool) {
    Root o(*obj), f(*field), v(*value);
    uint32_t k = word::any_word_q(f->type()) ? canon_of(f.cell) : 0;
    if (k && k == canon("changed")) {
        if (!v->is(T_NONE)) stack::raise_error("script", "invalid-arg", {v.get()});
        clear_changed(o->data1);
    } else if (k && k == canon("owner")) {
        ownership::set_owner_flag(o.get(), o.get(), o.get());
    } else if (k && k == canon("owned")) {
        if (v->is(T_NONE)) {
            RootContext ctx(o->data1);
            for (uint32_t i = 0, n = value_count(ctx.handle()); i < n; i++)
                ownership::unbind(context::values(ctx.handle())->head_cell() + i);
            context::cell(ctx.handle())->header &= ~ownership::CTX_OWNER;
        } else if (v->is(T_BLOCK)) {
            collector::SeriesRef items(v.cell);
            for (uint32_t i = items.index(); i < items.total(); i++)
                ownership::set_owner_flag(items.cell_at(i), o.get(), f.get());
        } else {
            stack::raise_error("script", "invalid-arg", {v.get()});
        }
    } else {
        stack::raise_error("script", "invalid-arg", {f.get()});
    }
    return stack::push(v.get());
}

void init() {
    class_counter = FIRST_CLASS_ID;
    context::fire_on_change_hook = fire_on_change;
    ownership::fire_on_deep_change = fire_on_deep_change;
    type_registry::register_type(
        T_OBJECT, 0, "object!",
        {.make = make, .reflect = reflect, .form = form, .mold = mold, .eval_path = eval_path,
         .compare = compare, .copy = copy, .put = put, .select = select, .modify = modify});
}

}  // namespace kov::object
