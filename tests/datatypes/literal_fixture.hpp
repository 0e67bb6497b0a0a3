// Helpers for the tests of the text literal types (file!, url!, tag!, email!, ref!): text values
// of a given type on the argument stack, molding and forming them, reading them back with the
// lexer, and running code that may raise.
#pragma once

#include <string>
#include <string_view>

#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/stack.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/lexer.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov::testing {

// A text value of the type on the argument stack holding the UTF-8 text.
inline Cell* text_of(uint32_t type, std::string_view utf8) {
    Cell* c = string::load(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                           nullptr, string::ENCODING_UTF8);
    cell::set_type(c, type);
    return c;
}

// A new empty string! on the argument stack.
inline Cell* fresh_text() {
    Cell* c = stack::push_slot();
    string::ks_make_at(c, 16);
    return c;
}

inline std::string molded(const Cell* v, bool all = false) {
    Cell* out = fresh_text();
    actions::mold_dispatch(v, out, false, all, false, false, 0, 0);
    return string::to_utf8(out);
}

inline std::string formed(const Cell* v) {
    Cell* out = fresh_text();
    actions::form_dispatch(v, out, false, 0);
    return string::to_utf8(out);
}

// The first value that the lexer loads from the text, into `out` (rooted); false when the text
// does not load as exactly one value.
inline bool load_one(std::string_view text, Cell* out) {
    collector::Root block;
    lexer::scan(block.get(), text);
    collector::SeriesRef blk(*block);
    if (!block->is(T_BLOCK) || blk.length() != 1) return false;
    *out = *blk.cell_at(blk.index());
    return true;
}

// Runs body under a try frame; answers the code it left with (0: it returned).
template <class F> uint32_t raised(F body) {
    CallFrame* frame = stack::frame_top;
    stack::mark_try(nullptr);
    uint32_t code = unwind_code(body);
    if (!code) stack::frame_top = frame;
    return code;
}

// "category/id" of the error on top of the stack after `raised`.
inline std::string error_name(uint32_t code) {
    if (code != THROW_ERROR) return "code " + std::to_string(code);
    Cell* err = stack::top_value();
    return error::category_word(err) + "/" + error::id_word(err);
}

}  // namespace kov::testing
