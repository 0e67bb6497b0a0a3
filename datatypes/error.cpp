// error! values: making them from the catalogue, their report, and the fields filled while they
// are thrown.
#include "datatypes/error.hpp"

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/output.hpp"
#include "core/runtime.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/error_catalogue.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov::error {

int32_t (*stack_trace_level)() = nullptr;
bool (*source_files)(Cell* out) = nullptr;

namespace {

// The error prototype (an object context with the ten fields, all none!), kept current across
// collections by a root marker.
Cell prototype{T_NONE, 0, 0, 0};
bool marker_added = false;

void mark() { collector::mark_cells(&prototype, &prototype + 1); }

const char* const field_names[FIELD_COUNT] = {"code", "type", "id",    "arg1",  "arg2",
                                              "arg3", "near", "where", "stack", "files"};

Cell* fields(const Cell* e) { return context::values(e->data1)->head_cell(); }

// A word of a catalogue object's word table, as a plain word! bound there.
Cell catalogue_word(Handle ctx, int32_t slot) {
    Cell w = *context::word_cell_at(ctx, slot);
    w.header = T_WORD;
    return w;
}

// Makes `out` (not moving: a root or an argument-stack cell) a new error of the given category
// and id slots, every other field none!.
void make_at(Cell* out, int32_t category_slot, int32_t id_slot) {
    if (!prototype.is(T_ERROR)) runtime::runtime_error(FATAL_ASSERTION, 0);
    *out = cells::make_error(prototype.data1);
    Handle ctx = context::clone(out, context::KIND_OBJECT);
    context::value_cell(ctx, FIELD_COUNT - 1);  // the values block gets its ten cells
    Cell* f = fields(out);
    for (int i = 0; i < FIELD_COUNT; i++) f[i] = cells::make_none();
    f[F_CODE] = cells::make_integer(category_slot * 100 + id_slot - 2);
    f[F_TYPE] = catalogue_word(error_catalogue::errors(), category_slot);
    f[F_ID] = catalogue_word(error_catalogue::category(category_slot), id_slot);
    *context::owner(ctx) = *out;
}

// The slots of a category and id given by spelling; false when the catalogue lacks either.
bool lookup(std::string_view category, std::string_view id, int32_t& c, int32_t& i) {
    c = error_catalogue::category_slot(symbol::make(category));
    Handle cat = error_catalogue::category(c);
    if (!cat) return false;
    i = error_catalogue::field_slot(cat, symbol::make(id));
    return i >= 2;
}

Cell word_named(const char* spelling) { return *word::load(spelling); }

[[noreturn]] void invalid_spec_field(const char* which) {
    Cell w = word_named(which);
    stack::raise_error("script", "invalid-spec-field", {&w});
}

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

// ---- writing the report ----

// Characters in the text so far (units from the buffer's first element).
uint32_t text_length(const Cell* out) { return memory::buffer_of(out->data2)->length(); }

struct Writer {
    Cell* out;
    bool part;
    int32_t limit;

    void text(const char* s) {
        uint32_t before = text_length(out);
        string::concatenate_cstring(out, s);
        limit -= int32_t(text_length(out) - before);
    }
    void string_value(const Cell* s) {
        uint32_t before = text_length(out);
        string::concatenate(out, s, -1, 0, true, string::CONCAT_APPEND);
        limit -= int32_t(text_length(out) - before);
    }
    void spelling(uint32_t sym) {
        uint32_t before = text_length(out);
        string::concatenate(out, symbol::get(sym), -1, 0, true, string::CONCAT_APPEND);
        limit -= int32_t(text_length(out) - before);
    }
    // A value formed or molded inside a native frame named <body>.
    void value(const Cell* v, bool mold) {
        collector::Root val(*v);
        stack::Scratch snap;
        stack::mark_native(&runtime_words::words::body);
        limit = mold ? actions::mold_dispatch(val.get(), out, false, false, false, part, limit, 0)
                     : actions::form_dispatch(val.get(), out, part, limit);
    }
    // A value molded with only and flat, cut to `cut` characters.
    void molded_cut(const Cell* v, int32_t cut) {
        collector::Root val(*v);
        uint32_t before = text_length(out);
        actions::mold_dispatch(val.get(), out, true, false, true, true, cut, 0);
        SeriesBuffer* b = memory::buffer_of(out->data2);
        if (b->length() > before + uint32_t(cut)) b->tail = b->head + ((before + uint32_t(cut)) << b->shift());
        limit -= int32_t(text_length(out) - before);
    }
};

// Makes the error internal invalid-error, with `offending` (copied first) as arg1.
void turn_invalid(Cell* e, const Cell* offending) {
    Cell arg = *offending;
    int32_t c, i;
    lookup("internal", "invalid-error", c, i);
    Cell type = catalogue_word(error_catalogue::errors(), c);
    Cell id = catalogue_word(error_catalogue::category(c), i);
    Cell* f = fields(e);
    f[F_ARG1] = arg;
    f[F_TYPE] = type;
    f[F_ID] = id;
}

// The category object named by the error's type, turning the error invalid when there is none.
Handle category_of(Cell* e) {
    const Cell& type = fields(e)[F_TYPE];
    Handle cat = 0;
    if (type.type() >= T_WORD && type.type() <= T_REFINEMENT)
        cat = error_catalogue::category(error_catalogue::category_slot(type.data2));
    if (cat) return cat;
    turn_invalid(e, &type);
    return error_catalogue::category(error_catalogue::category_slot(fields(e)[F_TYPE].data2));
}

// The message template of the error's id (a copy), turning the error invalid when its category
// lacks the id.
Cell template_of(Cell* e, Handle& cat) {
    cat = category_of(e);
    const Cell& id = fields(e)[F_ID];
    int32_t slot = -1;
    if (id.type() >= T_WORD && id.type() <= T_REFINEMENT) slot = error_catalogue::field_slot(cat, id.data2);
    if (slot < 2) {
        turn_invalid(e, &id);
        cat = category_of(e);
        slot = error_catalogue::field_slot(cat, fields(e)[F_ID].data2);
    }
    return *context::value_cell(cat, slot);
}

// The error's field named by a word, or null.
const Cell* named_field(const Cell* e, const Cell* word) {
    int32_t slot = context::find_word(e->data1, word->data2, true);
    return slot < 0 ? nullptr : context::value_cell(e->data1, slot);
}

void write_message(Writer& w, Cell* e, Handle cat, const Cell* tmpl_in) {
    collector::Root tmpl(*tmpl_in);
    if (tmpl->is(T_WORD)) {
        const Cell* v = named_field(e, tmpl.get());
        tmpl.cell = v ? *v : cells::make_none();
    }
    if (tmpl->is(T_STRING)) {
        w.string_value(tmpl.get());
        return;
    }
    if (!tmpl->is(T_BLOCK)) {
        Cell type = fields(e)[F_TYPE];
        turn_invalid(e, &type);
        return;
    }
    bool syntax = error_catalogue::category_slot(symbol::make("syntax")) ==
                  error_catalogue::category_slot(fields(e)[F_TYPE].data2);
    (void)cat;
    collector::Root item;
    for (uint32_t i = tmpl->data1;; i++) {
        SeriesBuffer* b = memory::buffer_of(tmpl->data2);
        if (i >= b->used() / 16) break;
        item.cell = b->head_cell()[i];
        if (i > tmpl->data1) w.text(" ");
        if (item->is(T_STRING)) {
            w.string_value(item.get());
        } else if (item->is(T_WORD) || item->is(T_GET_WORD)) {
            const Cell* v = named_field(e, item.get());
            Cell value = v ? *v : cells::make_none();
            w.value(&value, !syntax);
        } else {
            w.value(item.get(), false);
        }
    }
}

// A new argument-stack cell for the result, none! until the error is made.
Cell* make_error_result() {
    Cell* c = stack::push_slot();
    *c = cells::make_none();
    return c;
}

// ---- actions ----

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    return object::mold_as(value, out, "make error! [", only, all, flat, part, limit, indent);
}

// The field `stack` is not reachable through a path; every other field is read and set as an
// object's.
Cell* eval_path(const PathStep& step) {
    const Cell* el = step.element;
    if (el->type() >= T_WORD && el->type() <= T_REFINEMENT &&
        symbol::resolve(el->data2) == symbol::resolve(symbol::make("stack"))) {
        Cell path = step.path ? *step.path : *el;
        stack::raise_error("script", "invalid-path-set", {&path});
    }
    return object::eval_path(step);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_ERROR)) return NOT_COMPARABLE;
    Cell other = *b;
    cell::set_type(&other, T_OBJECT);
    return object::compare(a, &other, op);
}

}  // namespace

// ---- making ----

void create(Cell* out, std::string_view category, std::string_view id, const Cell* a1,
            const Cell* a2, const Cell* a3) {
    collector::Root args[3];
    const Cell* given[3] = {a1, a2, a3};
    for (int k = 0; k < 3; k++)
        if (given[k]) args[k].cell = *given[k];
    int32_t c, i;
    if (!lookup(category, id, c, i)) lookup("internal", "invalid-error", c, i);
    collector::Root e;
    make_at(e.get(), c, i);
    Cell* f = fields(e.get());
    for (int k = 0; k < 3; k++)
        if (given[k]) f[F_ARG1 + k] = args[k].cell;
    if (near_source) {
        const Cell* near = near_source();
        if (near && (near->is(T_BLOCK) || near->is(T_PAREN))) f[F_NEAR] = *near;
    }
    *out = e.cell;
}

const Cell* (*near_source)() = nullptr;

// make error! [type: ... id: ... arg1: ...]: a blank error whose fields the spec, bound to it,
// sets when it is evaluated; type and id must then name a catalogue entry.
Cell* make_evaluated(const Cell* spec_in) {
    collector::Root spec(*spec_in);
    if (!object::eval_hook) not_done();
    Cell* result = make_error_result();
    make_at(result, 0, 2);
    Cell* f = fields(result);
    f[F_CODE] = f[F_TYPE] = f[F_ID] = cells::make_none();
    collector::Root error(*result);
    context::bind(spec.get(), error->data1, true);
    Cell* top = stack::top;
    Status st = object::eval_hook(spec.get());
    stack::top = top;
    stack::raise_if_pending(st);
    f = fields(error.get());
    Cell type = f[F_TYPE], id = f[F_ID];
    int32_t c = type.type() == T_WORD || type.type() == T_LIT_WORD ? error_catalogue::category_slot(type.data2) : -1;
    if (c < 0) invalid_spec_field("type");
    int32_t i = id.type() == T_WORD || id.type() == T_LIT_WORD
                    ? error_catalogue::field_slot(error_catalogue::category(c), id.data2) : -1;
    if (i < 2) invalid_spec_field("id");
    f = fields(error.get());
    f[F_CODE] = cells::make_integer(c * 100 + i - 2);
    f[F_TYPE] = cells::make_word(T_WORD, error_catalogue::errors(), type.data2, uint32_t(c));
    f[F_ID] = cells::make_word(T_WORD, error_catalogue::category(c), id.data2, uint32_t(i));
    *result = error.cell;
    return result;
}

Cell* make(const Cell*, const Cell* spec_in, uint32_t) {
    collector::Root spec(*spec_in);
    switch (spec->type()) {
    case T_INTEGER: {
        int32_t code = cells::integer(spec.cell);
        Handle cat = code < 0 ? 0 : error_catalogue::category(code / 100);
        if (!cat || uint32_t(code % 100 + 2) >= error_catalogue::field_count(cat))
            stack::raise_error("script", "out-of-range", {spec.get()});
        Cell* result = make_error_result();
        make_at(result, code / 100, code % 100 + 2);
        return result;
    }
    case T_BLOCK: {
        SeriesBuffer* b = memory::buffer_of(spec->data2);
        uint32_t n = b->used() / 16, at = spec->data1;
        const Cell* first = at < n ? b->head_cell() + at : nullptr;
        if (first && first->is(T_SET_WORD)) return make_evaluated(spec.get());
        if (!first || !first->is(T_WORD)) stack::raise_error("internal", "invalid-error");
        Cell type = *first;
        int32_t c = error_catalogue::category_slot(type.data2);
        if (c < 0) invalid_spec_field("type");
        if (at + 1 >= n) invalid_spec_field("id");
        Cell id = b->head_cell()[at + 1];
        if (!id.is(T_WORD)) stack::raise_error("script", "invalid-arg", {&id});
        int32_t i = error_catalogue::field_slot(error_catalogue::category(c), id.data2);
        if (i < 2) invalid_spec_field("id");
        Cell* result = make_error_result();
        make_at(result, c, i);
        // The words as the spec spells them, bound to the catalogue.
        Cell* f = fields(result);
        f[F_TYPE] = cells::make_word(T_WORD, error_catalogue::errors(), type.data2, uint32_t(c));
        f[F_ID] = cells::make_word(T_WORD, error_catalogue::category(c), id.data2, uint32_t(i));
        return result;
    }
    case T_STRING: {
        Cell* result = make_error_result();
        create(result, "user", "message", spec.get());
        return result;
    }
    default: {
        Cell type = cells::make_datatype(T_ERROR);
        stack::raise_bad_make_arg(&type, spec.get());
    }
    }
}

// ---- fields ----

Cell* field(const Cell* e, int slot) { return fields(e) + slot; }

int32_t code(const Cell* e) { return cells::integer(fields(e)[F_CODE]); }

uint32_t get_type(const Cell* e) {
    const Cell& w = fields(e)[F_TYPE];
    return w.type() >= T_WORD && w.type() <= T_REFINEMENT ? w.data2 : 0;
}

uint32_t get_id(const Cell* e) {
    const Cell& w = fields(e)[F_ID];
    return w.type() >= T_WORD && w.type() <= T_REFINEMENT ? w.data2 : 0;
}

std::string category_word(const Cell* e) {
    uint32_t s = get_type(e);
    return s ? symbol::name(s) : "";
}

std::string id_word(const Cell* e) {
    uint32_t s = get_id(e);
    return s ? symbol::name(s) : "";
}

int32_t code_of(std::string_view category, std::string_view id) {
    return error_catalogue::code_of(category, id);
}

void set_where(Cell* e, const Cell* where) {
    Cell* f = fields(e);
    if (f[F_WHERE].is(T_NONE)) f[F_WHERE] = *where;
}

void set_near(Cell* e) {
    if (!near_source || !fields(e)[F_NEAR].is(T_NONE)) return;
    const Cell* near = near_source();
    if (near && (near->is(T_BLOCK) || near->is(T_PAREN))) fields(e)[F_NEAR] = *near;
}

void set_stack_position(Cell* e, int32_t position) {
    Cell* f = fields(e);
    if (!f[F_STACK].is(T_BLOCK)) f[F_STACK] = cells::make_integer(position);
}

void build_trace(Cell* e_in) {
    collector::Root e(*e_in);
    const Cell& st = fields(e.get())[F_STACK];
    if (st.is(T_INTEGER)) {
        int32_t position = cells::integer(st);
        int32_t level = stack_trace_level ? stack_trace_level() : 0;
        if (level <= 0) level = 1;
        collector::Root names(cells::make_series(T_BLOCK, memory::make_cells(20)));
        if (position > 0) stack::collect_trace(level, names.get(), stack::frame_begin + position - 1);
        fields(e.get())[F_STACK] = names.cell;
    }
    collector::Root files;
    if (source_files && source_files(files.get())) fields(e.get())[F_FILES] = files.cell;
}

// ---- the report ----

int32_t form(const Cell* e_in, Cell* out, bool part, int32_t limit) {
    collector::Root e(*e_in);
    Writer w{out, part, limit};
    w.text("*** ");
    Handle cat = 0;
    collector::Root tmpl(template_of(e.get(), cat));
    {
        collector::RootContext pin(cat);
        collector::Root type_text(*context::value_cell(cat, 1));
        if (type_text->is(T_STRING)) w.string_value(type_text.get());
        else w.value(type_text.get(), false);
        w.text(": ");
        write_message(w, e.get(), pin.handle(), tmpl.get());
    }
    w.text("\n*** Where: ");
    {
        collector::Root where(fields(e.get())[F_WHERE]);
        if (where->is(T_WORD)) w.spelling(where->data2);
        else if (where->is(T_STRING)) w.string_value(where.get());
        else w.text("???");
    }
    w.text("\n*** Near : ");
    {
        collector::Root near(fields(e.get())[F_NEAR]);
        w.molded_cut(near.get(), 40);
    }
    int32_t level = stack_trace_level ? stack_trace_level() : 0;
    if (level > 0) {
        collector::Root st(fields(e.get())[F_STACK]);
        if (st->is(T_INTEGER)) {
            w.text("\n*** Stack: ");
            int32_t position = cells::integer(st.cell);
            int32_t budget = part ? w.limit : 1 << 30;
            if (position > 0) {
                int32_t left = stack::form_trace(level, out, stack::frame_begin + position - 1, budget);
                w.limit -= budget - left;
            }
        } else if (st->is(T_BLOCK)) {
            w.text("\n*** Stack: ");
            w.value(st.get(), false);
        }
    }
    {
        collector::Root files(fields(e.get())[F_FILES]);
        if (files->is(T_BLOCK)) {
            w.text("\n*** Files: ");
            w.molded_cut(files.get(), 40);
        }
    }
    return w.limit;
}

std::string report(const Cell* e) {
    collector::Root err(*e), text;
    string::make_at(text.get(), 160);
    form(err.get(), text.get(), false, 0);
    return string::to_utf8(text.get());
}

namespace {

// The report's first line from the catalogue alone: "*** Math Error: zero-divide".
std::string brief_report(const Cell* e) {
    std::string s = "*** ";
    int32_t c = error_catalogue::category_slot(get_type(e));
    Handle cat = error_catalogue::category(c);
    const Cell* text = cat ? context::value_cell(cat, 1) : nullptr;
    s += text && text->is(T_STRING) ? string::to_utf8(text) : std::string("Internal Error");
    s += ": ";
    s += id_word(e);
    return s;
}

}  // namespace

// Through the console writer, so that the report follows what was printed before it; the
// process exit flushes it. An error raised while the report is made (inside a try frame of its
// own) gives the report's first line from the catalogue instead.
void print_uncaught(const Cell* e_in) {
    static bool reporting = false;
    collector::Root e(*e_in);
    std::string text;
    if (reporting) {
        text = brief_report(e.get());
    } else {
        reporting = true;
        stack::Snapshot snap;
        // Nothing receives the error: the frames above the bottom are dead, and dropping them
        // leaves room for the report's own frames after a stack overflow.
        stack::frame_top = stack::frame_begin + 1;
        stack::arguments = stack::top = stack::begin + 1;
        try {
            stack::mark_try(nullptr);
            text = report(e.get());
        } catch (const Unwind&) {
            text = brief_report(e.get());
        }
        reporting = false;
    }
    output::write_c_string((text + "\n").c_str());
}

// ---- start-up ----

void unbind() { prototype = cells::make_none(); }

void init_catalogue(const Cell* source) {
    collector::Root text(*source);
    error_catalogue::unbind();
    unbind();
    if (!marker_added) {
        collector::add_root_marker(mark);
        marker_added = true;
    }
    error_catalogue::build(text.get());
    collector::RootContext proto(context::create(FIELD_COUNT, false, true, nullptr, context::KIND_OBJECT));
    Cell none = cells::make_none();
    for (const char* name : field_names) {
        Cell w = cells::make_word(T_WORD, 0, symbol::make(name));
        context::add_with(proto.handle(), &w, &none);
    }
    prototype = cells::make_error(proto.handle());
    *context::owner(proto.handle()) = prototype;
}

void init() {
    type_registry::register_type(T_ERROR, T_OBJECT, "error!",
                                 {.make = make, .reflect = inherit, .form = form, .mold = mold,
                                  .eval_path = eval_path, .compare = compare, .copy = inherit,
                                  .select = inherit});
}

}  // namespace kov::error
