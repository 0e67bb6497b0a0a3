// word! and its kin: loading, binding in the global context, reading and writing values, and
// the action routines of the five word kinds.
#include "datatypes/word.hpp"

#include <string>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov::word {

LexerServices lexer;

namespace {

inline void retype(Cell* c, uint32_t type) { c->header = (c->header & ~CELL_TYPE_MASK) | type; }

// The kinds that a word spelling reads as when the lexer scans it.
inline bool plain_word_kind(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }

[[noreturn]] void raise_with(const char* id, const Cell* word) {
    Cell w = *word;
    stack::raise_error("script", id, {&w});
}

[[noreturn]] void raise_bad_to_arg(uint32_t type, const Cell* spec) {
    Cell t = cells::make_datatype(type);
    Cell s = *spec;
    stack::raise_error("script", "bad-to-arg", {&t, &s});
}

// The spelling's text as a string! value over the symbol's spelling cache (may allocate the
// cache; the value is good for as long as the symbol table lives).
Cell spelling_text(uint32_t sym) {
    return cells::make_series(T_STRING, symbol::ensure_cache(sym));
}

// Scans the text value `text` (rooted) with the lexer into the frame's result cell; the first
// value must be of a word kind, and becomes `type`.
Cell* make_from_text(const Cell* text, uint32_t type) {
    if (!lexer.scan_first_value) stack::raise_error("internal", "not-done");
    Cell* result = stack::arguments;
    if (!lexer.scan_first_value(text, result) || !any_word_q(result->type()))
        stack::raise_error("script", "invalid-chars");
    result->header = type;
    return result;
}

}  // namespace

// ---- loading ----

Cell* load(std::string_view spelling) {
    uint32_t sym = symbol::make(spelling);
    Cell* w = context::add_global_word(sym, true, true);
    if (boot::booting) return boot::keep(w);
    return w;
}

Cell* load_as(std::string_view spelling, uint32_t type) {
    if (type == T_REFINEMENT) {
        Cell r = cells::make_word(T_REFINEMENT, 0, symbol::make(spelling));
        return boot::keep(&r);
    }
    Cell* w = load(spelling);
    retype(w, type);
    return w;
}

Cell* load_in(std::string_view spelling, const Cell* block, uint32_t type) {
    Cell* w = make_in(symbol::make(spelling), block);
    retype(w, type);
    return w;
}

void make_at(uint32_t sym, Cell* out) {
    Cell w{T_WORD, context::global, sym, 0};
    int32_t slot = context::add_word(context::global, &w);
    *out = Cell{T_WORD, context::global, sym, uint32_t(slot)};
}

Cell* make_in(uint32_t sym, const Cell* block) {
    collector::Root w;
    make_at(sym, w.get());
    Cell* c = buffer::alloc_block_tail(block);
    *c = w.cell;
    return c;
}

Cell* push_symbol(uint32_t sym) {
    Cell* c = stack::push_slot();
    *c = cells::make_unset();
    make_at(sym, c);
    return c;
}

Cell* make_result(uint32_t sym) {
    make_at(sym, stack::arguments);
    return stack::arguments;
}

// ---- values ----

Cell* get(const Cell* word) {
    Cell w = *word;
    Cell* pushed = stack::push(context::get(&w));
    if (pushed->is(T_UNSET)) raise_with("no-value", &w);
    return pushed;
}

Cell* push_value(const Cell* word) {
    Cell w = *word;
    return stack::push(context::get(&w));
}

Cell* get_local(Handle ctx, int32_t slot) { return stack::push(context::value_slot_at(ctx, slot)); }

void set_from_stack(bool check) {
    Cell* word = stack::arg(0);
    Cell* value = stack::arg(1);
    if (check && value->is(T_UNSET)) raise_with("need-value", word);
    context::set(word, value);
    *stack::arg(0) = *stack::arg(1);
}

void get_to_result() {
    Cell w = *stack::arg(0);
    *stack::arg(0) = *context::get(&w);
}

void store_result(Cell* target) {
    if (stack::arg(0)->is(T_UNSET)) raise_with("need-value", target);
    *target = *stack::arg(0);
}

void set_local(Handle ctx, int32_t slot, bool push_old) {
    Cell* top = stack::top_value();  // the argument stack never moves
    collector::RootContext pin(ctx);
    Cell* target = context::value_slot_at(ctx, slot);
    Cell old = *target;
    *target = *top;
    if (push_old) stack::push(&old);
    ctx = pin.handle();
    if (context::kind_of(context::cell(ctx)) == context::KIND_OBJECT &&
        uint32_t(slot) < context::word_count(ctx))
        context::word_cell_at(ctx, slot)->header |= WORD_ASSIGNED;
}

// ---- spelling ----

Cell* symbol_cell(const Cell* word) { return symbol::get(word->data2); }

Cell* push_spelling(const Cell* word) {
    Cell text = spelling_text(word->data2);
    return stack::push(&text);
}

uint32_t scan_spelling_type(const Cell* word) {
    if (!lexer.scan_type) stack::raise_error("internal", "not-done");
    std::string text = symbol::name(word->data2);
    return lexer.scan_type(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t type) {
    Cell s = *spec;
    Cell* result = stack::arguments;
    switch (s.type()) {
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD:
        *result = s;
        result->header = type;
        return result;
    case T_REFINEMENT: case T_ISSUE: {
        if (!plain_word_kind(scan_spelling_type(&s))) raise_bad_to_arg(type, &s);
        context::bind_word_index(context::global, &s);
        *result = s;
        result->header = type;
        return result;
    }
    case T_STRING: {
        collector::Root text(s);
        return make_from_text(text.get(), type);
    }
    case T_CHAR: {
        collector::Root text;
        string::make_at(text.get(), 1, 1);
        string::append_char(memory::buffer_of(text->data2), uint32_t(cells::integer(s)));
        return make_from_text(text.get(), type);
    }
    case T_DATATYPE: {
        uint32_t t = cells::datatype(s);
        if (t == 0 || t > TYPE_COUNT_MAX || !type_registry::names[t].name) raise_bad_to_arg(type, &s);
        *result = type_registry::names[t].word;
        result->header = type;
        return result;
    }
    case T_LOGIC:
        make_at(cells::logic(s) ? symbol::make("true") : symbol::make("false"), result);
        result->header = type;
        return result;
    default:
        raise_bad_to_arg(type, &s);
    }
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    Cell text = spelling_text(value->data2);
    uint32_t n = string::length(&text);
    string::concatenate(out, &text, -1, 0, true, string::CONCAT_APPEND);
    return limit - int32_t(n);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    Cell w = *value;
    const char* before = nullptr;
    switch (w.type()) {
    case T_LIT_WORD: before = "'"; break;
    case T_GET_WORD: before = ":"; break;
    case T_REFINEMENT: before = "/"; break;
    default: break;
    }
    if (before) {
        string::concatenate_cstring(out, before, 1);
        limit--;
    }
    limit = form(&w, out, part, limit);
    if (w.is(T_SET_WORD)) {
        string::concatenate_cstring(out, ":", 1);
        limit--;
    }
    return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint32_t ta = a->type(), tb = b->type();
    if (!any_word_q(tb) || (tb == T_ISSUE && ta != T_ISSUE)) return NOT_COMPARABLE;
    uint32_t sa = cells::word_symbol(*a), sb = cells::word_symbol(*b);
    auto answer = [](bool equal) { return equal ? 0 : 1; };
    bool word_and_lit = (ta == T_WORD && tb == T_LIT_WORD) || (ta == T_LIT_WORD && tb == T_WORD);
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND:
        return answer(symbol::resolve(sa) == symbol::resolve(sb));
    case COMP_STRICT_EQUAL:
        return answer(ta == tb && sa == sb);
    case COMP_SAME:
        return answer(ta == tb && sa == sb && cells::word_context(*a) == cells::word_context(*b));
    case COMP_FIND_EXACT:
        return answer((word_and_lit || ta == tb) && sa == sb);
    case COMP_FIND_NOCASE:
        return answer((word_and_lit || ta == tb) && symbol::resolve(sa) == symbol::resolve(sb));
    case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
    case COMP_SORT: case COMP_CASE_SORT: {
        Cell x = spelling_text(sa);
        Cell y = spelling_text(sb);
        return string::compare_parts(&x, &y, op, false);
    }
    default:
        return NOT_COMPARABLE;
    }
}

void index_q() {
    uint32_t slot = cells::word_index(*stack::arg(0));
    *stack::arg(0) = slot == cells::NO_INDEX ? cells::make_none()
                                             : cells::make_integer(int32_t(slot + 1));
}

void init() {
    type_registry::register_type(T_WORD, T_SYMBOL, "word!",
                                 {.make = make, .to = make, .form = form, .mold = mold,
                                  .compare = compare, .index_q = index_q});
    const ActionTable kin{.make = inherit, .to = inherit, .form = inherit, .mold = mold,
                          .compare = inherit, .index_q = inherit};
    type_registry::register_type(T_SET_WORD, T_WORD, "set-word!", kin);
    type_registry::register_type(T_LIT_WORD, T_WORD, "lit-word!", kin);
    type_registry::register_type(T_GET_WORD, T_WORD, "get-word!", kin);
    type_registry::register_type(T_REFINEMENT, T_WORD, "refinement!",
                                 {.make = inherit, .to = inherit, .form = inherit, .mold = mold,
                                  .compare = inherit});
}

}  // namespace kov::word
