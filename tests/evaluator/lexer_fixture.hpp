// Helpers for the lexer's tests: scanning a text and showing the loaded values in a compact
// notation of their own (independent of the datatypes' mold), or the syntax error raised.
#pragma once

#include <charconv>
#include <cstring>
#include <string>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/money.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/lexer.hpp"
#include "tests/core/runtime_fixture.hpp"

namespace kov::testing {

inline std::string show(const Cell& c);

// Datatype names by id, for the types whose modules may not be registered yet.
inline std::string type_name(uint32_t id) {
    static const char* const names[] = {
        "", "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!",
        "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!",
        "lit-word!", "get-word!", "refinement!", "issue!", "native!", "action!", "op!",
        "function!", "path!", "lit-path!", "set-path!", "get-path!", "routine!", "bitset!",
        "triple!", "object!", "typeset!", "error!", "vector!", "hash!", "pair!", "percent!",
        "tuple!", "map!", "binary!", "series!", "time!", "tag!", "email!", "handle!", "date!",
        "port!", "money!", "ref!", "point2D!", "point3D!", "image!", "event!"};
    return id < sizeof names / sizeof names[0] ? names[id] : "type" + std::to_string(id);
}

inline std::string show_number(double d) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

inline std::string show_series(const Cell& c, const char* open, const char* close, const char* sep) {
    std::string out = open;
    SeriesBuffer* b = memory::buffer_of(cells::series_node(c));
    uint32_t n = b->length();
    for (uint32_t i = cells::series_index(c); i < n; i++) {
        if (i > cells::series_index(c)) out += sep;
        out += show(memory::buffer_of(cells::series_node(c))->head_cell()[i]);
    }
    return out + close;
}

inline std::string show(const Cell& c) {
    auto spelling = [&] { return std::string(symbol::spelling(cells::word_symbol(c))); };
    switch (c.type()) {
    case T_INTEGER: return std::to_string(cells::integer(c));
    case T_FLOAT: return "f:" + show_number(c.get_float());
    case T_PERCENT: return "p:" + show_number(c.get_float());
    case T_TIME: return "t:" + show_number(c.get_float());
    case T_WORD: return spelling();
    case T_SET_WORD: return spelling() + ":";
    case T_GET_WORD: return ":" + spelling();
    case T_LIT_WORD: return "'" + spelling();
    case T_REFINEMENT: return "/" + spelling();
    case T_ISSUE: return "#" + spelling();
    case T_STRING: return "\"" + string::to_utf8(&c) + "\"";
    case T_FILE: return "%" + string::to_utf8(&c);
    case T_URL: return "url:" + string::to_utf8(&c);
    case T_EMAIL: return "email:" + string::to_utf8(&c);
    case T_TAG: return "<" + string::to_utf8(&c) + ">";
    case T_REF: return "@" + string::to_utf8(&c);
    case T_CHAR: return "#\"" + std::to_string(c.data2) + "\"";
    case T_BLOCK: return show_series(c, "[", "]", " ");
    case T_PAREN: return show_series(c, "(", ")", " ");
    case T_PATH: return show_series(c, "", "", "/");
    case T_LIT_PATH: return show_series(c, "'", "", "/");
    case T_GET_PATH: return show_series(c, ":", "", "/");
    case T_SET_PATH: return show_series(c, "", ":", "/");
    case T_PAIR: return std::to_string(int32_t(c.data2)) + "x" + std::to_string(int32_t(c.data3));
    case T_TUPLE: {
        tuple::Bytes b = tuple::bytes(&c);
        std::string out;
        for (uint32_t i = 0; i < tuple::count(&c); i++) out += (i ? "." : "") + std::to_string(b.b[i]);
        return out;
    }
    case T_POINT2D: case T_POINT3D: {
        float f[3];
        std::memcpy(f, &c.data1, sizeof f);
        std::string out = "(" + show_number(f[0]) + ", " + show_number(f[1]);
        if (c.is(T_POINT3D)) out += ", " + show_number(f[2]);
        return out + ")";
    }
    case T_BINARY: {
        SeriesBuffer* b = memory::buffer_of(cells::series_node(c));
        std::string out = "#{";
        for (uint32_t i = 0; i < b->length(); i++) out += string::byte_to_hex(b->head_ptr()[i]);
        return out + "}";
    }
    case T_LOGIC: return cells::logic(c) ? "true" : "false";
    case T_NONE: return "none";
    case T_UNSET: return "unset";
    case T_DATATYPE: return type_name(cells::datatype(c));
    case T_DATE: return "d:" + date::text(&c);
    case T_MONEY: return "m:" + money::text(&c, false, true);
    default: return "?" + std::to_string(c.type());
    }
}

// The text of an error argument: strings as they are, datatypes by name.
inline std::string show_arg(const Cell* c) {
    if (c->is(T_STRING)) return string::to_utf8(c);
    return show(*c);
}

// "id | arg1 | arg2 ..." of the error on top of the stack.
inline std::string show_error(const Cell* e) {
    std::string out = error::category_word(e) + "/" + error::id_word(e);
    for (int f = error::F_ARG1; f <= error::F_ARG3; f++) {
        const Cell* a = error::field(e, f);
        if (a->is(T_NONE)) continue;
        out += " | " + show_arg(a);
    }
    return out;
}

struct Scanned {
    std::string shown;  // the values, or the error
    int32_t type = 0;   // what the scan answered
    int32_t consumed = 0;
};

inline Scanned scan_text(std::string_view text, const lexer::ScanOptions& o = {}) {
    Scanned r;
    stack::Snapshot saved;
    stack::mark_try(nullptr);
    collector::Root out;
    try {
        r.type = lexer::scan(out.get(), text, o, &r.consumed);
        r.shown = show(*out);
    } catch (const Unwind&) {
        r.shown = show_error(stack::top_value());
    }
    return r;
}

// The values of a whole text, shown without the outer brackets; or its error.
inline std::string loaded(std::string_view text) {
    std::string s = scan_text(text).shown;
    if (s.size() >= 2 && s.front() == '[' && s.back() == ']') return s.substr(1, s.size() - 2);
    return s;
}

}  // namespace kov::testing
