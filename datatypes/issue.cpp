// issue!: building issue cells from text, the constructor, text and comparison.
#include "datatypes/issue.hpp"

#include <string>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/context.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"

namespace kov::issue {

namespace {

Cell make_cell(uint32_t symbol) {
    return cells::make_word(T_ISSUE, context::global, symbol, cells::NO_INDEX);
}

// The spelling appended to a string!; answers the characters written.
int32_t append_spelling(const Cell* value, Cell* out) {
    std::string text(symbol::spelling(cells::word_symbol(*value)));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    unicode::load_utf8_into(bytes, uint32_t(text.size()), out, false, nullptr);
    return unicode::utf8_length_q(bytes, bytes + text.size());
}

int upper_ascii(int c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

}  // namespace

Cell* make_at(Cell* c, std::string_view text) {
    uint32_t s = symbol::make(text);
    *c = make_cell(s);
    return c;
}

Cell* load_in(std::string_view text, const Cell* block) {
    Cell issue = make_cell(symbol::make(text));
    Cell* c = buffer::alloc_block_tail(block);
    *c = issue;
    return c;
}

Cell* load(std::string_view text) {
    if (boot::booting) {
        Cell issue = make_cell(symbol::make(text));
        return boot::keep(&issue);
    }
    Cell issue = make_cell(symbol::make(text));
    return stack::push(&issue);
}

Cell* push(const Cell* word) {
    Cell c = *word;
    c.header = (c.header & ~CELL_TYPE_MASK) | T_ISSUE;
    return stack::push(&c);
}

Cell* make(const Cell*, const Cell* spec, uint32_t type) {
    Cell result;
    if (word::any_word_q(spec->type())) {
        result = *spec;
    } else if (spec->is(T_STRING)) {
        result = make_cell(symbol::make_from_string(spec));
        result.data1 = context::global;
    } else if (spec->is(T_CHAR)) {
        uint8_t utf8[4];
        int n = unicode::encode_utf8(spec->data2, utf8);
        result = make_cell(symbol::make_from_bytes(utf8, uint32_t(n)));
    } else if (spec->is(T_DATATYPE) && type_registry::names[cells::datatype(*spec)].name) {
        result = make_cell(symbol::make(type_registry::names[cells::datatype(*spec)].name));
    } else if (spec->is(T_LOGIC)) {
        result = make_cell(symbol::make(cells::logic(*spec) ? "true" : "false"));
    } else {
        Cell dt = cells::make_datatype(type), v = *spec;
        stack::raise_error("script", "bad-to-arg", {&dt, &v});
    }
    result.header = type;
    *stack::arguments = result;
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    return limit - append_spelling(value, out);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    string::concatenate_cstring(out, "#", 1);
    return limit - 1 - append_spelling(value, out);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_ISSUE)) return NOT_COMPARABLE;
    uint32_t x = cells::word_symbol(*a), y = cells::word_symbol(*b);
    switch (op) {
    case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND_EXACT: return x == y ? 0 : 1;
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_FIND: case COMP_FIND_NOCASE:
        return symbol::resolve(x) == symbol::resolve(y) ? 0 : 1;
    default: break;
    }
    std::string s(symbol::spelling(x));
    std::string t(symbol::spelling(y));
    bool fold = op != COMP_CASE_SORT;
    size_t n = std::min(s.size(), t.size());
    for (size_t i = 0; i < n; ++i) {
        int c = uint8_t(s[i]), d = uint8_t(t[i]);
        if (fold) c = upper_ascii(c), d = upper_ascii(d);
        if (c != d) return c < d ? -1 : 1;
    }
    return (s.size() > t.size()) - (s.size() < t.size());
}

void init() {
    type_registry::register_type(T_ISSUE, T_WORD, "issue!",
                                 {.make = make, .to = make, .form = inherit, .mold = mold,
                                  .compare = compare});
}

}  // namespace kov::issue
