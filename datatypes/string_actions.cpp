// string! action handlers: making and converting, forming and molding (with the escape routine
// that char! shares), comparison, the search actions, the writing actions (append, insert,
// change, take, swap, trim), sorting, the set operations, and the type's registration.
#include "datatypes/string_actions.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/runtime.hpp"
#include "core/sort.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

namespace kov::string {

using collector::Root;
using memory::buffer_of;

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFF0000u;
constexpr int32_t NO_LIMIT = INT32_MAX;

// ---------------------------------------------------------------------------------------------
// Errors.

[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }
[[noreturn]] void raise_no_memory() { stack::raise_error("internal", "no-memory"); }

// A refinement! of the name, for error arguments.
Cell refinement(const char* name) {
    Cell c = *word::load(name);
    cell::set_type(&c, T_REFINEMENT);
    return c;
}

[[noreturn]] void raise_refine_arg(const char* name, const Cell* value) {
    Root v(*value);
    Root r(refinement(name));
    stack::raise_error("script", "invalid-refine-arg", {r.get(), v.get()});
}

[[noreturn]] void raise_with_type(const char* id, uint32_t type, const Cell* value) {
    Root v(*value);
    Cell t = cells::make_datatype(type);
    stack::raise_error("script", id, {&t, v.get()});
}

// ---------------------------------------------------------------------------------------------
// Reading text.

// A snapshot of a text buffer, good until the next allocation.
struct View {
    const uint8_t* p;
    uint32_t unit;
    int shift;
    uint32_t total;  // characters from the first element to the tail

    explicit View(Handle node) {
        SeriesBuffer* b = buffer_of(node);
        p = b->head_ptr();
        unit = b->unit();
        shift = b->shift();
        total = b->length();
    }
    explicit View(const Cell* text) : View(text->data2) {}
    uint32_t at(uint32_t i) const { return get_char(p + (size_t(i) << shift), unit); }
};

// The characters of a text value from its head (at most `limit`).
std::vector<uint32_t> chars_of(const Cell* text, uint32_t limit = UINT32_MAX) {
    View v(text);
    uint32_t head = std::min(text->data1, v.total);
    uint32_t n = std::min(v.total - head, limit);
    std::vector<uint32_t> out(n);
    for (uint32_t i = 0; i < n; i++) out[i] = v.at(head + i);
    return out;
}

// Head index clamped to the tail, written back into the value.
uint32_t clamp_head(Cell* text) {
    uint32_t n = buffer_of(text->data2)->length();
    if (text->data1 > n) text->data1 = n;
    return text->data1;
}

inline uint32_t upper(uint32_t c) { return unicode::change_case_char(c, true); }

// Replaces the characters from `from` to the tail with `chars`, which all come from this buffer
// (so they fit its unit).
void write_back(Cell* text, uint32_t from, const std::vector<uint32_t>& chars) {
    SeriesBuffer* b = buffer_of(text->data2);
    uint32_t unit = b->unit();
    int shift = b->shift();
    uint8_t* p = b->head_ptr();
    for (size_t i = 0; i < chars.size(); i++) {
        uint8_t* q = p + ((from + i) << shift);
        switch (unit) {
            case 1: *q = uint8_t(chars[i]); break;
            case 2: { uint16_t v = uint16_t(chars[i]); std::memcpy(q, &v, 2); break; }
            default: std::memcpy(q, &chars[i], 4); break;
        }
    }
    b->tail = b->head + uint32_t((from + chars.size()) << shift);
}

// Cuts a text buffer back to n characters from its first element when it holds more.
void cut_to(Cell* text, uint32_t n) {
    SeriesBuffer* b = buffer_of(text->data2);
    if (b->length() > n) b->tail = b->head + (n << b->shift());
}

// Reports a change to the owner of the series, when it has one.
void notify(const Cell* series, const char* action, uint32_t index, uint32_t part) {
    if (!(buffer_of(series->data2)->flags & SER_OWNED)) return;
    Root a(*word::load(action));
    ownership::check(series, a.get(), nullptr, int32_t(index), int32_t(part));
}

// A /part argument as a count from the head: an integer (or float), or a position in a series of
// the same type and buffer. Any other value raises invalid-refine-arg.
int64_t part_count(const Cell* series, const Cell* part) {
    if (part->is(T_INTEGER) || part->is(T_FLOAT)) return cell::integer_arg(part);
    if (part->type() == series->type() && part->data2 == series->data2)
        return int64_t(part->data1) - int64_t(series->data1);
    raise_refine_arg("part", part);
}

// The text a word, a text value or a formed value stands for, in `out` (rooted): a string cell
// (for a word, its spelling cache at head 0).
void text_for(const Cell* value, Cell* out) {
    if (text_type_q(value->type()) && !value->is(T_TAG)) {
        *out = *value;
        return;
    }
    if (word::any_word_q(value->type())) {
        Handle cache = symbol::ensure_cache(value->data2);
        *out = Cell{T_STRING, 0, cache, 0};
        return;
    }
    Root v(*value);
    ks_make_at(out, 16);
    actions::form_dispatch(v.get(), out, false, NO_LIMIT);
}

// ---------------------------------------------------------------------------------------------
// The text that append, insert and change put in.

// Makes `piece` (rooted) the text for the value: a text's characters (at most `part`), a char!,
// a tag! with its brackets (cut to `part`), a block's elements formed one after the other
// (`part` elements, or with `only` `part` characters), or the value formed (cut to `part` with
// `only`).
void make_piece(Cell* piece, const Cell* value_in, int32_t part, bool only) {
    Root value(*value_in);
    uint32_t t = value->type();
    if (t == T_CHAR) {
        ks_make_at(piece, 1);
        append_char(buffer_of(piece->data2), value->data2);
        return;
    }
    if (t == T_TAG) {
        ks_make_at(piece, length(value.get()) + 2);
        concatenate_cstring(piece, "<", 1);
        concatenate(piece, value.get(), -1, 0, true, CONCAT_APPEND);
        concatenate_cstring(piece, ">", 1);
        if (part >= 0) cut_to(piece, uint32_t(part));
        return;
    }
    if (text_type_q(t)) {
        // The piece takes the value's own unit, even when the characters taken would fit a
        // narrower one.
        uint32_t n = length(value.get());
        if (part >= 0) n = std::min(n, uint32_t(part));
        make_at_unit(piece, n, buffer_of(value->data2)->unit());
        concatenate(piece, value.get(), int32_t(n), 0, true, CONCAT_APPEND);
        return;
    }
    ks_make_at(piece, 16);
    if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        collector::SeriesRef blk(*value);
        uint32_t n = blk.length();
        if (part >= 0 && !only) n = std::min(n, uint32_t(part));
        uint32_t first = blk.index();
        for (uint32_t i = 0; i < n; i++) {
            if (first + i >= blk.total()) break;
            Root element(*blk.cell_at(first + i));
            actions::form_dispatch(element.get(), piece, false, NO_LIMIT);
        }
    } else {
        actions::form_dispatch(value.get(), piece, false, NO_LIMIT);
    }
    if (only && part >= 0) cut_to(piece, uint32_t(part));
}

// Characters times repetitions, checked against the largest buffer.
uint32_t checked_total(const Cell* series, const Cell* piece, int32_t dup) {
    uint64_t reps = dup >= 2 ? uint64_t(dup) : 1;
    uint64_t n = uint64_t(length(piece)) * reps;
    uint32_t unit = std::max(buffer_of(series->data2)->unit(), buffer_of(piece->data2)->unit());
    uint64_t now = buffer_of(series->data2)->length();
    if (((n + now) * unit) > MAX_BYTES) raise_no_memory();
    return uint32_t(n);
}

// ---------------------------------------------------------------------------------------------
// Molding.

// The escape table: code points 0..94; 0 = none.
constexpr char CONTROL_ESCAPES[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

inline char escape_of(uint32_t cp) {
    if (cp < 32) return CONTROL_ESCAPES[cp];
    if (cp == '"') return '"';
    if (cp == '^') return '^';
    return 0;
}

// Appends a short ASCII text.
inline void put(Cell* out, const char* text, uint32_t n) { concatenate_cstring(out, text, n); }

// Appends the code points as append_char would one by one (the unit widens to what the widest
// of them asks for), with one reservation.
void append_code_points(Cell* out, const std::u32string& text) {
    if (text.empty()) return;
    uint32_t widest = 0;
    for (char32_t c : text) widest = std::max(widest, uint32_t(c));
    uint32_t want = widest < 0x80 ? 1 : widest < 0x10000 ? 2 : 4;
    SeriesBuffer* b = buffer_of(out->data2);
    if (b->unit() < want) widen_to(b, b->unit(), want);
    uint32_t unit = buffer_of(out->data2)->unit();
    if (uint64_t(text.size()) * unit > MAX_BYTES) raise_no_memory();
    uint8_t* p = buffer::reserve_tail(out->data2, uint32_t(text.size()) * unit);
    switch (unit) {
        case 1:
            for (size_t i = 0; i < text.size(); i++) p[i] = uint8_t(text[i]);
            break;
        case 2:
            for (size_t i = 0; i < text.size(); i++) {
                uint16_t v = uint16_t(text[i]);
                std::memcpy(p + 2 * i, &v, 2);
            }
            break;
        default:
            for (size_t i = 0; i < text.size(); i++) {
                uint32_t v = uint32_t(text[i]);
                std::memcpy(p + 4 * i, &v, 4);
            }
            break;
    }
}

// Writes one character as mold writes it (see mold_escape_char) into a text of code points
// (std::u32string) or, for characters up to 0xFF, of Latin-1 bytes (std::string).
template <class Out> void escape_into(Out& o, uint32_t cp, bool all) {
    using C = typename Out::value_type;
    if (cp == 30 || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 127)) {
        o += C('^');
        o += C('(');
        for (const char* h = int_to_hex(int32_t(cp), true); *h; h++) o += C(*h);
        o += C(')');
        return;
    }
    if (cp < 95) {
        if (char e = escape_of(cp)) {
            o += C('^');
            o += C(e);
            return;
        }
    }
    if (cp == 127) {
        o += C('^');
        o += C('~');
        return;
    }
    o += C(cp);
}

// The molded text of n characters from `from`, between quotes or braces.
template <class Out> void mold_text(const View& v, uint32_t from, uint32_t n, bool braces,
                                    bool all, Out& o) {
    using C = typename Out::value_type;
    o.reserve(n + n / 8 + 2);
    o += C(braces ? '{' : '"');
    if (!braces) {
        for (uint32_t i = 0; i < n; i++) escape_into(o, v.at(from + i), all);
    } else {
        bool balanced = true;
        uint32_t open = 0;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t c = v.at(from + i);
            if (c == '{') {
                if (balanced) {
                    // Is there a partner later in the range?
                    uint32_t depth = 1;
                    bool found = false;
                    for (uint32_t j = i + 1; j < n && !found; j++) {
                        uint32_t d = v.at(from + j);
                        if (d == '{') depth++;
                        else if (d == '}') {
                            if (depth == 1) found = true;
                            else depth--;
                        }
                    }
                    if (!found) balanced = false;
                }
                if (balanced) {
                    o += C('{');
                    open++;
                } else {
                    o += C('^');
                    o += C('{');
                }
            } else if (c == '}') {
                if (open > 0) {
                    o += C('}');
                    open--;
                } else {
                    o += C('^');
                    o += C('}');
                }
            } else if (c == '"') {
                o += C('"');
            } else {
                escape_into(o, c, all);
            }
        }
    }
    o += C(braces ? '}' : '"');
}

}  // namespace

void mold_escape_char(Cell* out, uint32_t cp, bool all) {
    std::u32string o;
    escape_into(o, cp, all);
    append_code_points(out, o);
}

// ---------------------------------------------------------------------------------------------
// make, to, form, mold.

Cell* to(const Cell*, const Cell* spec_in, uint32_t type) {
    Root spec(*spec_in);
    Cell* result = stack::arguments;
    uint32_t t = spec->type();
    switch (t) {
        case T_NONE: raise_with_type("bad-to-arg", type, spec.get());
        case T_BLOCK: case T_PAREN: case T_HASH: {
            Root piece;
            make_piece(piece.get(), spec.get(), -1, false);
            *result = *piece;
            break;
        }
        case T_REFINEMENT: {
            Root out;
            ks_make_at(out.get(), 16);
            if (type != T_STRING) put(out.get(), "/", 1);
            Handle cache = symbol::ensure_cache(spec->data2);
            Cell spelling{T_STRING, 0, cache, 0};
            concatenate(out.get(), &spelling, -1, 0, true, CONCAT_APPEND);
            *result = *out;
            break;
        }
        case T_BINARY: {
            SeriesBuffer* b = buffer_of(spec->data2);
            uint32_t head = std::min(spec->data1, b->length());
            std::vector<uint8_t> bytes(b->head_ptr() + head, b->tail_ptr());
            Root out;
            load_utf8_checked(bytes.data(), uint32_t(bytes.size()), out.get());
            *result = *out;
            break;
        }
        default: {
            Root out;
            if (text_type_q(t)) {
                uint32_t n = length(spec.get());
                make_at_unit(out.get(), n, buffer_of(spec->data2)->unit());
                concatenate(out.get(), spec.get(), -1, 0, true, CONCAT_APPEND);
            } else {
                ks_make_at(out.get(), 16);
                actions::form_dispatch(spec.get(), out.get(), false, NO_LIMIT);
            }
            *result = *out;
            break;
        }
    }
    cell::set_type(result, type);
    result->data1 = 0;
    return result;
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    if (type == T_BINARY) {
        if (spec->is(T_MONEY)) stack::raise_bad_make_arg(proto, spec);
        return binary::to(proto, spec, type);
    }
    if (spec->is(T_INTEGER) || spec->is(T_FLOAT)) {
        int32_t n = cell::integer_arg(spec);
        if (n < 0) {
            Root s(*spec);
            stack::raise_error("script", "out-of-range", {s.get()});
        }
        Cell* result = stack::arguments;
        make_at_unit(result, n ? uint32_t(n) : 16, 1);
        cell::set_type(result, type);
        return result;
    }
    return to(proto, spec, type);
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    uint32_t n = length(value);
    int32_t count = part ? std::max(limit, 0) : -1;
    concatenate(out, value, count, 0, true, CONCAT_APPEND);
    return int32_t(int64_t(limit) - n);
}

int32_t mold(const Cell* value_in, Cell* out, bool, bool all, bool, bool part, int32_t limit,
             int32_t) {
    Root value(*value_in);
    uint32_t whole = length(value.get());
    uint32_t n = whole;
    if (part) n = limit < 0 ? 0 : std::min(n, uint32_t(limit));
    View v(value.get());
    uint32_t from = std::min(value->data1, v.total);
    uint32_t quotes = 0, lines = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = v.at(from + i);
        quotes += c == '"';
        lines += c == '\n';
    }
    bool braces = lines >= 3 || quotes > 0 || whole >= 50;
    // The text is put together outside the arena, then appended at once.
    if (v.unit == 1) {
        std::string o;
        mold_text(v, from, n, braces, all, o);
        concatenate_cstring(out, o);
    } else {
        std::u32string o;
        mold_text(v, from, n, braces, all, o);
        append_code_points(out, o);
    }
    return int32_t(int64_t(limit) - int64_t(n) - 2);
}

// ---------------------------------------------------------------------------------------------
// compare.

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (a->type() != b->type()) {
        if (!text_type_q(b->type()) || (op != COMP_EQUAL && op != COMP_NOT_EQUAL))
            return NOT_COMPARABLE;
    }
    return compare_parts(a, b, op, false);
}

// ---------------------------------------------------------------------------------------------
// find and select.

namespace {

// Bit test of a bitset! (data2 its byte buffer, bit 0x80 of byte 0 for code point 0); a code
// point beyond its bits takes its complement flag.
bool bitset_has(const Cell* bitset, uint32_t cp) {
    constexpr uint32_t BITSET_COMPLEMENT = 0x80000;
    SeriesBuffer* b = buffer_of(bitset->data2);
    uint64_t bits = uint64_t(uint32_t(b->size) - b->head) * 8;
    if (cp >= bits) return (b->flags & BITSET_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

// What find looks for: a bitset, or a run of characters (folded to upper case unless exact).
struct Needle {
    bool bitset = false;
    Cell set{};
    std::vector<uint32_t> chars;
    uint32_t width() const { return bitset ? 1 : uint32_t(chars.size()); }
};

Needle make_needle(const Cell* value, bool exact) {
    Needle nd;
    uint32_t t = value->type();
    if (t == T_BITSET) {
        nd.bitset = true;
        nd.set = *value;
        return nd;
    }
    if (t == T_CHAR) {
        nd.chars.push_back(value->data2);
    } else if (t == T_BINARY) {
        Root v(*value);
        stack::raise_error("script", "invalid-arg", {v.get()});
    } else {
        Root text;
        text_for(value, text.get());
        nd.chars = chars_of(text.get());
    }
    if (!exact)
        for (uint32_t& c : nd.chars) c = upper(c);
    return nd;
}

// Folds of the 256 Latin-1 code points.
struct Latin1Fold {
    uint32_t table[256];
    Latin1Fold() {
        for (uint32_t c = 0; c < 256; c++) table[c] = upper(c);
    }
};
const Latin1Fold& latin1_fold() {
    static const Latin1Fold fold;
    return fold;
}

struct NoFold {
    uint32_t operator()(uint32_t c) const { return c; }
};
struct TableFold {
    const uint32_t* table;
    uint32_t operator()(uint32_t c) const { return table[c & 0xFF]; }
};
struct UnicodeFold {
    uint32_t operator()(uint32_t c) const { return upper(c); }
};

// Candidate positions pos, pos + step ... while not past `last` (in the step's direction); a
// candidate matches when the needle fits below `limit` and its characters match. Answers the
// first matching position or -1. `first_only` tries only the first candidate.
template <class T, class Fold>
int64_t scan(const T* h, int64_t pos, int64_t last, int64_t step, int64_t limit,
             const uint32_t* nd, uint32_t m, Fold fold, bool first_only) {
    const uint32_t first = nd[0];
    for (; step > 0 ? pos <= last : pos >= last; pos += step) {
        if (pos + m <= limit && fold(uint32_t(h[pos])) == first) {
            uint32_t j = 1;
            while (j < m && fold(uint32_t(h[pos + j])) == nd[j]) j++;
            if (j == m) return pos;
        }
        if (first_only) break;
    }
    return -1;
}

template <class T>
int64_t scan_set(const T* h, int64_t pos, int64_t last, int64_t step, const Cell* set,
                 bool first_only) {
    for (; step > 0 ? pos <= last : pos >= last; pos += step) {
        if (bitset_has(set, uint32_t(h[pos]))) return pos;
        if (first_only) break;
    }
    return -1;
}

template <class T>
int64_t scan_unit(const uint8_t* p, int64_t pos, int64_t last, int64_t step, int64_t limit,
                  const Needle& nd, bool exact, bool first_only) {
    const T* h = reinterpret_cast<const T*>(p);
    if (nd.bitset) return scan_set(h, pos, last, step, &nd.set, first_only);
    const uint32_t* n = nd.chars.data();
    uint32_t m = uint32_t(nd.chars.size());
    if (exact) {
        if (sizeof(T) == 1 && step == 1 && !first_only) {
            // Forward exact search in 1-byte text: a byte search.
            for (uint32_t c : nd.chars)
                if (c > 0xFF) return -1;
            std::string needle(nd.chars.begin(), nd.chars.end());
            std::string_view hay(reinterpret_cast<const char*>(p), size_t(limit));
            size_t at = hay.find(needle, size_t(pos));
            return at != std::string_view::npos && int64_t(at) <= last ? int64_t(at) : -1;
        }
        return scan(h, pos, last, step, limit, n, m, NoFold{}, first_only);
    }
    if (sizeof(T) == 1)
        return scan(h, pos, last, step, limit, n, m, TableFold{latin1_fold().table}, first_only);
    return scan(h, pos, last, step, limit, n, m, UnicodeFold{}, first_only);
}

// The search shared by find and select. Answers the match position (from the buffer's first
// element) and the width of what matched, or -1.
struct Match {
    int64_t at = -1;
    uint32_t width = 0;
};

Match search(Cell* series, const Cell* value, const FindArgs& args, bool for_select) {
    Match none;
    SeriesBuffer* b = buffer_of(series->data2);
    uint32_t total = b->length();
    if (total == 0) return none;
    if (!args.reverse && series->data1 >= total) return none;
    if (args.any || args.with) raise_not_done();
    int64_t step = 1;
    if (args.skip) {
        step = cell::integer_arg(args.skip);
        if (step < 1) {
            Root s(*args.skip);
            stack::raise_error("script", "out-of-range", {s.get()});
        }
    }
    uint32_t head = clamp_head(series);
    int64_t count = int64_t(total) - head;
    bool has_part = args.part && !args.part->is(T_NONE);
    if (has_part) {
        int64_t c = part_count(series, args.part);
        if (c < 1) return none;
        count = args.reverse ? c : std::min(c, count);
    }
    bool exact = args.case_sensitive || args.same;
    bool match = args.match && !for_select;
    Needle nd = make_needle(value, exact);
    if (!nd.bitset && nd.chars.empty()) return none;

    int64_t pos, last, limit = total;
    if (args.reverse) {
        if (head == 0 || match) return none;
        pos = int64_t(head) - 1;
        last = has_part ? std::max<int64_t>(0, int64_t(head) - count) : 0;
        step = -step;
    } else if (args.last) {
        limit = head + count;
        pos = limit - 1;
        last = head;
        step = -step;
    } else {
        limit = head + count;
        pos = head;
        last = limit - 1;
    }
    View v(series);
    int64_t at;
    switch (v.unit) {
        case 1: at = scan_unit<uint8_t>(v.p, pos, last, step, limit, nd, exact, match); break;
        case 2: at = scan_unit<uint16_t>(v.p, pos, last, step, limit, nd, exact, match); break;
        case 4: at = scan_unit<uint32_t>(v.p, pos, last, step, limit, nd, exact, match); break;
        default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    if (at < 0) return none;
    return Match{at, nd.width()};
}

}  // namespace

Cell* find(Cell* series, const Cell* value, const FindArgs& args) {
    Match m = search(series, value, args, false);
    if (m.at < 0) return &none_value;
    series->data1 = uint32_t(m.at + (args.tail ? m.width : 0));
    return series;
}

Cell* select(Cell* series, const Cell* value, const FindArgs& args) {
    static Cell answer;
    Match m = search(series, value, args, true);
    if (m.at < 0) return &none_value;
    uint64_t after = uint64_t(m.at) + m.width;
    if (after >= buffer_of(series->data2)->length()) return &none_value;
    answer = Cell{T_CHAR, 0, char_at(series, uint32_t(after)), 0};
    return &answer;
}

// ---------------------------------------------------------------------------------------------
// eval-path.

Cell* eval_path(const PathStep& step) {
    const Cell* element = step.element;
    const ActionTable& t = type_registry::table(T_STRING);
    if (element->is(T_INTEGER)) {
        int32_t i = cells::integer(*element);
        if (step.set_value) {
            if (!t.poke) raise_not_done();
            return t.poke(step.value, i, step.set_value);
        }
        if (!t.pick) raise_not_done();
        return t.pick(step.value, i, element);
    }
    if (element->is(T_WORD)) {
        Root p(step.path ? *step.path : none_value), e(*element);
        stack::raise_error("script", "invalid-path", {p.get(), e.get()});
    }
    FindArgs args;
    args.case_sensitive = step.case_sensitive;
    if (!step.set_value) return select(step.value, element, args);
    Root found(*step.value);
    if (find(found.get(), element, args)->is(T_NONE)) {
        Root p(step.path ? *step.path : none_value), e(*element);
        stack::raise_error("script", "bad-path-set", {p.get(), e.get()});
    }
    if (!t.poke) raise_not_done();
    return t.poke(found.get(), 2, step.set_value);
}

// ---------------------------------------------------------------------------------------------
// append, insert, change.

Cell* append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    Root piece;
    make_piece(piece.get(), value, part, only);
    checked_total(series, piece.get(), dup);
    uint32_t at = buffer_of(series->data2)->length();
    notify(series, "append", at, 0);
    for (int32_t k = 0, reps = std::max(dup, 1); k < reps; k++)
        concatenate(series, piece.get(), -1, 0, false, CONCAT_APPEND);
    notify(series, "appended", at, int32_t(buffer_of(series->data2)->length() - at));
    series->data1 = 0;
    return series;
}

Cell* insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    if (at_tail_q(series)) return append(series, value, part, only, dup);
    Root piece;
    make_piece(piece.get(), value, part, only);
    uint32_t n = checked_total(series, piece.get(), dup);
    uint32_t head = clamp_head(series);
    notify(series, "insert", head, n);
    for (int32_t k = 0, reps = std::max(dup, 1); k < reps; k++)
        concatenate(series, piece.get(), -1, 0, false, CONCAT_INSERT);
    notify(series, "inserted", head, n);
    series->data1 = std::min(head + n, buffer_of(series->data2)->length());
    return series;
}

Cell* change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    if (at_tail_q(series)) return append(series, value, part, only, dup);
    Root piece;
    make_piece(piece.get(), value, -1, only);
    uint32_t n = checked_total(series, piece.get(), dup);
    uint32_t len = length(piece.get());
    uint32_t head = clamp_head(series);
    notify(series, "change", head, n);
    int32_t reps = std::max(dup, 1);
    if (part < 0) {
        for (int32_t k = 0; k < reps; k++)
            concatenate(series, piece.get(), -1, uint32_t(k) * len, false, CONCAT_OVERWRITE);
    } else {
        remove_chars(series, head, uint32_t(part));
        for (int32_t k = 0; k < reps; k++)
            concatenate(series, piece.get(), -1, 0, false, CONCAT_INSERT);
    }
    notify(series, "changed", head, n);
    series->data1 = std::min(head + n, buffer_of(series->data2)->length());
    return series;
}

// ---------------------------------------------------------------------------------------------
// take, swap.

Cell* take(Cell* series, const Cell* part, bool, bool last) {
    uint32_t head = clamp_head(series);
    uint32_t avail = buffer_of(series->data2)->length() - head;
    bool has_part = part && !part->is(T_NONE);
    int64_t n = has_part ? part_count(series, part) : 1;
    uint32_t from = head;
    if (n < 0) {
        // A position before the head: the characters between it and the head.
        n = std::min<int64_t>(-n, head);
        from = head - uint32_t(n);
    } else {
        n = std::min<int64_t>(n, avail);
        if (last) from = head + avail - uint32_t(n);
    }
    Cell* result = stack::arguments;
    if (!has_part) {
        if (n == 0) return &none_value;
        uint32_t c = char_at(series, from);
        notify(series, "take", from, 1);
        remove_chars(series, from, 1);
        notify(series, "taken", from, 1);
        *result = Cell{T_CHAR, 0, c, 0};
        return result;
    }
    Root out;
    make_at_unit(out.get(), uint32_t(n), buffer_of(series->data2)->unit());
    Cell src = *series;
    src.data1 = from;
    concatenate(out.get(), &src, int32_t(n), 0, true, CONCAT_APPEND);
    notify(series, "take", from, uint32_t(n));
    remove_chars(series, from, uint32_t(n));
    notify(series, "taken", from, uint32_t(n));
    if (series->data1 > from) series->data1 = from;
    cell::set_type(out.get(), series->type());
    *result = *out;
    return result;
}

Cell* swap(Cell* a, Cell* b) {
    if (!text_type_q(b->type()) && !b->is(T_BINARY)) {
        Root v(*b);
        stack::raise_error("script", "invalid-arg", {v.get()});
    }
    if (at_tail_q(a) || at_tail_q(b)) return a;
    uint32_t ia = a->data1, ib = b->data1;
    uint32_t ca = char_at(a, ia), cb = char_at(b, ib);
    notify(a, "swap", ia, 1);
    notify(b, "swap", ib, 1);
    // A binary! keeps the low byte of a character, as poke does; text widens as needed.
    auto store = [](const Cell* s, uint32_t at, uint32_t c) {
        SeriesBuffer* sb = buffer_of(s->data2);
        if (at >= sb->length()) return;  // an owner's handler shortened the series
        if (s->is(T_BINARY)) sb->head_ptr()[at] = uint8_t(c);
        else store_char(sb, sb->head_ptr() + (size_t(at) << sb->shift()), c);
    };
    store(a, ia, cb);
    store(b, ib, ca);
    notify(a, "swaped", ia, 1);
    notify(b, "swaped", ib, 1);
    return a;
}

// ---------------------------------------------------------------------------------------------
// trim.

namespace {

bool unicode_space(uint32_t c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// The class W: the control codes and space (1..32) and the Unicode spaces.
bool w_space(uint32_t c) { return (c >= 1 && c <= 32) || unicode_space(c); }
// The class S: space, tab and the Unicode spaces.
bool s_space(uint32_t c) { return c == ' ' || c == '\t' || unicode_space(c); }

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& in) {
    std::vector<uint32_t> out;
    bool pending = false;
    for (uint32_t c : in) {
        if (w_space(c)) {
            pending = !out.empty();
            continue;
        }
        if (pending) out.push_back(' ');
        pending = false;
        out.push_back(c);
    }
    return out;
}

std::vector<uint32_t> trim_ends(const std::vector<uint32_t>& in, bool head, bool tail) {
    bool lead = !(tail && !head);
    bool trail = !(head && !tail);
    size_t first = 0, end = in.size();
    if (lead)
        while (first < end && w_space(in[first])) first++;
    bool line_feed = false;
    if (trail)
        while (end > first && w_space(in[end - 1])) line_feed |= in[--end] == '\n';
    std::vector<uint32_t> out;
    if (head || tail) {
        out.assign(in.begin() + first, in.begin() + end);
        return out;
    }
    // Spaces at the start of a line and before a line feed go.
    for (size_t i = first; i < end; i++) {
        uint32_t c = in[i];
        if (c == '\n') {
            while (!out.empty() && s_space(out.back()) && out.back() != '\n') out.pop_back();
            out.push_back(c);
            while (i + 1 < end && s_space(in[i + 1])) i++;
            continue;
        }
        out.push_back(c);
    }
    if (line_feed) out.push_back('\n');
    return out;
}

}  // namespace

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    if (auto_) raise_not_done();
    uint32_t from = clamp_head(series);
    std::vector<uint32_t> in = chars_of(series);
    std::vector<uint32_t> out;
    if (all || with) {
        std::vector<uint32_t> set{9, 10, 13, 32};
        if (with) {
            if (with->is(T_CHAR) || with->is(T_INTEGER)) {
                set = {with->data2};
            } else if (text_type_q(with->type())) {
                set = chars_of(with);
            } else if (with->is(T_BINARY)) {
                SeriesBuffer* b = buffer_of(with->data2);
                uint32_t h = std::min(with->data1, b->length());
                set.assign(b->head_ptr() + h, b->tail_ptr());
            } else {
                Root v(*with);
                stack::raise_error("script", "invalid-arg", {v.get()});
            }
        }
        for (uint32_t c : in)
            if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
    } else if (lines) {
        out = trim_lines(in);
    } else {
        out = trim_ends(in, head, tail);
    }
    notify(series, "trim", from, uint32_t(in.size()));
    write_back(series, from, out);
    notify(series, "trimmed", from, uint32_t(out.size()));
    return series;
}

// ---------------------------------------------------------------------------------------------
// sort.

namespace {

struct SortSetup {
    const uint32_t* chars;  // the characters being sorted (a copy outside the arena)
    uint32_t size;          // characters per record
    uint32_t offset;        // the character of a record that decides (no /all)
    bool all;
    bool exact;
    bool wide;              // units 2 and 4 fold through the case tables
    bool reverse;
    const Cell* function;   // a function! comparator (rooted), or null
    uint32_t type;          // the series' datatype, for records given to the function
};

inline uint32_t fold_char(const SortSetup& s, uint32_t c) {
    if (s.exact) return c;
    if (!s.wide) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return upper(c);
}

// Reads a comparator's answer: the first argument of the call sorts first when negative.
int read_answer(const Cell* r) {
    switch (r->type()) {
        case T_LOGIC: return cells::logic(*r) ? 1 : -1;
        case T_NONE: return -1;
        case T_INTEGER: {
            int32_t n = cells::integer(*r);
            return n > 0 ? -1 : n < 0 ? 1 : 0;
        }
        case T_FLOAT: {
            double d = r->get_float();
            return d > 0 ? -1 : d < 0 ? 1 : 0;
        }
        default: return 1;
    }
}

int call_function(const SortSetup& s, uint32_t ra, uint32_t rb) {
    // A function comparator runs through the same service as block sort's.
    if (!block::call_comparator) raise_not_done();
    // f(b, a), or f(a, b) under /reverse.
    uint32_t first = s.reverse ? ra : rb, second = s.reverse ? rb : ra;
    Root x, y, r;
    if (s.all) {
        for (auto [cell, rec] : {std::pair{x.get(), first}, std::pair{y.get(), second}}) {
            make_at_unit(cell, s.size, 4);
            SeriesBuffer* b = buffer_of(cell->data2);
            for (uint32_t i = 0; i < s.size; i++) b = append_char(b, s.chars[rec * s.size + i]);
            cell::set_type(cell, s.type);
        }
    } else {
        *x = Cell{T_CHAR, 0, s.chars[first * s.size + s.offset], 0};
        *y = Cell{T_CHAR, 0, s.chars[second * s.size + s.offset], 0};
    }
    block::call_comparator(s.function, x.get(), y.get(), r.get());
    // Swapping the arguments is what reverses the order: the answer is not negated again.
    return read_answer(r.get());
}

int compare_records(const void* pa, const void* pb, intptr_t arg, intptr_t) {
    const SortSetup& s = *reinterpret_cast<const SortSetup*>(arg);
    uint32_t ra, rb;
    std::memcpy(&ra, pa, 4);
    std::memcpy(&rb, pb, 4);
    if (s.function) return call_function(s, ra, rb);
    const uint32_t* a = s.chars + size_t(ra) * s.size;
    const uint32_t* b = s.chars + size_t(rb) * s.size;
    uint32_t from = s.all ? 0 : s.offset, to = s.all ? s.size : s.offset + 1;
    int r = 0;
    for (uint32_t i = from; i < to && r == 0; i++) {
        uint32_t x = fold_char(s, a[i]), y = fold_char(s, b[i]);
        r = x < y ? -1 : x > y ? 1 : 0;
    }
    return s.reverse ? -r : r;
}

}  // namespace

Cell* sort(Cell* series, bool case_sensitive, const Cell* skip, const Cell* comparator,
           const Cell* part, bool all, bool reverse, bool stable) {
    uint32_t head = clamp_head(series);
    uint32_t total = buffer_of(series->data2)->length();
    int64_t n = total - head;
    uint32_t start = head;
    if (part && !part->is(T_NONE)) {
        int64_t c = part_count(series, part);
        if (c < 0) {
            c = std::min<int64_t>(-c, head);
            start = head - uint32_t(c);
            n = c;
        } else {
            n = std::min(n, c);
        }
    }
    uint32_t size = 1;
    if (skip && !skip->is(T_NONE)) {
        int32_t k = cell::integer_arg(skip);
        if (k < 1 || n % k != 0 || n < k) raise_refine_arg("skip", skip);
        size = uint32_t(k);
    } else if (all) {
        stack::raise_error("script", "bad-refines");
    }
    SortSetup s{};
    s.size = size;
    s.all = all;
    s.exact = case_sensitive;
    s.reverse = reverse;
    s.type = series->type();
    s.wide = buffer_of(series->data2)->unit() > 1;
    Root function;
    if (comparator && !comparator->is(T_NONE)) {
        if (comparator->is(T_INTEGER)) {
            if (!skip || skip->is(T_NONE) || all) stack::raise_error("script", "bad-refines");
            int32_t off = cells::integer(*comparator);
            if (off < 1 || uint32_t(off) > size) {
                Root c(*comparator);
                stack::raise_error("script", "out-of-range", {c.get()});
            }
            s.offset = uint32_t(off - 1);
        } else if (comparator->is(T_FUNCTION)) {
            *function = *comparator;
            s.function = function.get();
        } else {
            raise_refine_arg("compare", comparator);
        }
    }
    uint32_t records = uint32_t(n) / size;
    if (records < 2) return series;

    // The records are sorted as an index array over a copy of the characters: a comparator
    // may run Kov code, which may move the buffer.
    Cell from = *series;
    from.data1 = start;
    std::vector<uint32_t> chars = chars_of(&from, uint32_t(n));
    s.chars = chars.data();
    std::vector<uint32_t> order(records);
    for (uint32_t i = 0; i < records; i++) order[i] = i;
    notify(series, "sort", start, uint32_t(n));
    if (stable)
        buffer::merge_sort(order.data(), records, 4, intptr_t(&s), 0, compare_records);
    else
        buffer::quick_sort(order.data(), records, 4, intptr_t(&s), 0, compare_records);
    std::vector<uint32_t> sorted;
    sorted.reserve(n);
    for (uint32_t r : order) sorted.insert(sorted.end(), chars.begin() + r * size,
                                           chars.begin() + (r + 1) * size);
    // The characters are those of the buffer, so they fit its unit.
    SeriesBuffer* b = buffer_of(series->data2);
    uint32_t unit = b->unit();
    int shift = b->shift();
    for (uint32_t i = 0; i < uint32_t(n) && start + i < b->length(); i++) {
        uint8_t* q = b->head_ptr() + (size_t(start + i) << shift);
        switch (unit) {
            case 1: *q = uint8_t(sorted[i]); break;
            case 2: { uint16_t v = uint16_t(sorted[i]); std::memcpy(q, &v, 2); break; }
            default: std::memcpy(q, &sorted[i], 4); break;
        }
    }
    notify(series, "sorted", start, uint32_t(n));
    return series;
}

// ---------------------------------------------------------------------------------------------
// Set operations.

void do_set_op(Cell* first, const Cell* second, bool case_sensitive, const Cell* skip, int op) {
    uint32_t size = 1;
    if (skip && !skip->is(T_NONE)) {
        int32_t k = cell::integer_arg(skip);
        if (k < 1) raise_refine_arg("skip", skip);
        size = uint32_t(k);
    }
    std::vector<uint32_t> a = chars_of(first);
    std::vector<uint32_t> b;
    if (second && op != SET_UNIQUE) b = chars_of(second);
    auto key = [&](uint32_t c) { return case_sensitive ? c : upper(c); };
    // Whether a record's first character occurs at a record start of `v`.
    auto occurs = [&](const std::vector<uint32_t>& v, uint32_t c) {
        c = key(c);
        for (size_t i = 0; i < v.size(); i += size)
            if (key(v[i]) == c) return true;
        return false;
    };
    std::vector<uint32_t> out;
    auto keep = [&](const std::vector<uint32_t>& from, size_t i) {
        if (occurs(out, from[i])) return;
        size_t end = std::min(from.size(), i + size);
        out.insert(out.end(), from.begin() + i, from.begin() + end);
    };
    auto pass = [&](const std::vector<uint32_t>& from, const std::vector<uint32_t>* against,
                    bool inside) {
        for (size_t i = 0; i < from.size(); i += size)
            if (!against || occurs(*against, from[i]) == inside) keep(from, i);
    };
    switch (op) {
        case SET_UNIQUE: pass(a, nullptr, true); break;
        case SET_UNION: pass(a, nullptr, true); pass(b, nullptr, true); break;
        case SET_INTERSECT: pass(a, &b, true); break;
        case SET_EXCLUDE: pass(a, &b, false); break;
        case SET_DIFFERENCE: pass(a, &b, false); pass(b, &a, false); break;
        default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    uint32_t unit = buffer_of(first->data2)->unit();
    if (second && op != SET_UNIQUE) unit = std::max(unit, buffer_of(second->data2)->unit());
    uint32_t type = first->type();
    make_at_unit(first, uint32_t(out.size()), unit);
    SeriesBuffer* buf = buffer_of(first->data2);
    for (uint32_t c : out) buf = overwrite_char(buf, buf->length(), c);
    cell::set_type(first, type);
}

// ---------------------------------------------------------------------------------------------
// Registration.

void init() {
    type_registry::register_type(T_STRING, T_SERIES, "string!", {
        .make = make, .random = inherit, .reflect = inherit, .to = to, .form = form,
        .mold = mold, .eval_path = eval_path, .compare = compare, .append = append,
        .at = inherit, .back = inherit, .change = change, .clear = inherit, .copy = inherit,
        .find = find, .head = inherit, .head_q = inherit, .index_q = inherit, .insert = insert,
        .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
        .remove = inherit, .reverse = inherit, .select = select, .sort = sort, .skip = inherit,
        .swap = swap, .tail = inherit, .tail_q = inherit, .take = take, .trim = trim,
        .modify = inherit});
}

}  // namespace kov::string
