// The reader that builds the errors object from the catalogue's loaded text (boot/errors.kov).
//
// It walks the values rather than evaluating them, so that it can run before anything else of
// the language exists, and knows only what the catalogue uses: the word `context` before a block
// of set-words, integers, strings, words, and blocks of strings, words and get-words.
#include "datatypes/error_catalogue.hpp"

#include <string>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/symbol.hpp"
#include "datatypes/string.hpp"

namespace kov::error_catalogue {


namespace {

// The errors object, kept current across collections by a root marker.
Cell errors_object{T_NONE, 0, 0, 0};
bool marker_added = false;

void mark() { collector::mark_cells(&errors_object, &errors_object + 1); }

// Class ids of the catalogue's objects, below the range of classes made at run time.
constexpr uint32_t ERRORS_CLASS = 2;
constexpr uint32_t CATEGORY_CLASS_BASE = 10;

// ---- reading ----

// The catalogue is part of the program: a mistake in it is a broken build.
[[noreturn]] void malformed() { runtime::runtime_error(FATAL_ASSERTION, 0); }

// A walk over the cells of a block (read by index: nothing here moves the block's buffer
// under a held pointer).
struct Walk {
    const Cell* block;
    uint32_t at = 0;

    uint32_t length() const {
        uint32_t n = memory::buffer_of(block->data2)->length();
        return block->data1 >= n ? 0 : n - block->data1;
    }
    bool done() const { return at >= length(); }
    Cell next() {
        if (done()) malformed();
        return memory::buffer_of(block->data2)->head_cell()[block->data1 + at++];
    }
    Cell expect(uint32_t type) {
        Cell c = next();
        if (!c.is(type)) malformed();
        return c;
    }
};

bool is_word(const Cell& c, std::string_view spelling) {
    return c.is(T_WORD) && symbol::resolve(symbol::find(spelling, true)) == symbol::resolve(c.data2);
}

// An unbound word of the same spelling.
Cell word_like(uint32_t type, const Cell& c) { return cells::make_word(type, 0, c.data2); }

// A copy of a string literal, so that the catalogue shares nothing with the text it came from.
void copy_text(Cell* out, const Cell* text) {
    std::string utf8 = string::to_utf8(text);
    string::make_at(out, uint32_t(utf8.size()));
    string::concatenate_cstring(out, utf8);
}

// A template block: strings, words and get-words.
void read_template_block(const Cell* source, Cell* out) {
    *out = cells::make_series(T_BLOCK, memory::make_cells(4));
    collector::Root item;
    for (Walk w{source}; !w.done();) {
        Cell c = w.next();
        if (c.is(T_STRING)) {
            copy_text(item.get(), &c);
        } else if (c.is(T_WORD) || c.is(T_GET_WORD)) {
            item.cell = word_like(c.type(), c);
        } else {
            malformed();
        }
        *buffer::alloc_block_tail(out) = item.cell;
    }
}

// Makes an object context and its cell (owner slot filled) with the given class id.
Cell make_object(Handle ctx, uint32_t class_id) {
    Cell obj{T_OBJECT, ctx, class_id, 0};
    *context::owner(ctx) = obj;
    return obj;
}

// One category: `name: context [fields]`, the set-word already read.
void read_category(Walk& r, Handle errors_ctx, const Cell& name, uint32_t slot) {
    if (!is_word(r.next(), "context")) malformed();
    collector::Root body(r.expect(T_BLOCK));
    collector::RootContext errs(errors_ctx);
    collector::RootContext cat(context::create(8, false, true, nullptr, context::KIND_OBJECT));
    collector::Root value, item;
    for (Walk w{body.get()}; !w.done();) {
        Cell field = w.expect(T_SET_WORD);
        item.cell = w.next();
        switch (item->type()) {
        case T_INTEGER: value.cell = item.cell; break;
        case T_STRING: copy_text(value.get(), item.get()); break;
        case T_WORD: value.cell = word_like(T_WORD, item.cell); break;
        case T_BLOCK: read_template_block(item.get(), value.get()); break;
        default: malformed();
        }
        Cell word = word_like(T_WORD, field);
        context::add_with(cat.handle(), &word, value.get());
    }
    value.cell = make_object(cat.handle(), CATEGORY_CLASS_BASE + slot);
    Cell word = word_like(T_WORD, name);
    context::add_with(errs.handle(), &word, value.get());
}

}  // namespace

void unbind() { errors_object = cells::make_none(); }

void build(const Cell* source) {
    if (!marker_added) {
        collector::add_root_marker(mark);
        marker_added = true;
    }
    collector::Root text(*source);
    if (!text->is(T_BLOCK)) malformed();
    Walk top{text.get()};
    if (!is_word(top.next(), "context")) malformed();
    collector::Root body(top.expect(T_BLOCK));
    if (!top.done()) malformed();
    collector::RootContext errs(context::create(10, false, true, nullptr, context::KIND_OBJECT));
    uint32_t slot = 0;
    for (Walk w{body.get()}; !w.done();) {
        Cell name = w.expect(T_SET_WORD);
        read_category(w, errs.handle(), name, slot++);
    }
    errors_object = make_object(errs.handle(), ERRORS_CLASS);
}

Handle errors() { return errors_object.is(T_OBJECT) ? errors_object.data1 : 0; }

uint32_t category_count() { return errors() ? context::word_count(errors()) : 0; }

int32_t category_slot(uint32_t symbol) {
    return errors() ? context::find_word(errors(), symbol, true) : -1;
}

Handle category(int32_t slot) {
    if (slot < 0 || uint32_t(slot) >= category_count()) return 0;
    const Cell* v = context::value_cell(errors(), slot);
    return v && v->is(T_OBJECT) ? v->data1 : 0;
}

int32_t field_slot(Handle cat, uint32_t symbol) { return context::find_word(cat, symbol, true); }

uint32_t field_count(Handle cat) { return context::word_count(cat); }

int32_t code_of(std::string_view category_name, std::string_view id) {
    uint32_t cs = symbol::find(category_name, true), is = symbol::find(id, true);
    if (!cs || !is) return -1;
    int32_t c = category_slot(cs);
    Handle cat = category(c);
    if (!cat) return -1;
    int32_t i = field_slot(cat, is);
    return i < 2 ? -1 : c * 100 + i - 2;
}

}  // namespace kov::error_catalogue
