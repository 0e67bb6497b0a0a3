// tuple!: cells and bytes, conversions (blocks, text, issues, binaries), saturating byte-wise
// arithmetic, comparison, text, path access, pick, reverse and random draws.
#include "datatypes/tuple.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/cells.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/random.hpp"

namespace kov::tuple {

namespace {

bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

[[noreturn]] void raise_type(const char* id, uint32_t type) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", id, {&dt});
}

[[noreturn]] void raise_bad_to(const Cell* value) {
    Cell dt = cells::make_datatype(T_TUPLE), v = *value;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

[[noreturn]] void raise_with_value(const char* id, const Cell* value) {
    Cell v = *value;
    stack::raise_error("script", id, {&v});
}

uint8_t clamp_byte(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

int32_t hex_digit(uint32_t cp) {
    if (cp >= '0' && cp <= '9') return int32_t(cp - '0');
    if (cp >= 'A' && cp <= 'F') return int32_t(cp - 'A' + 10);
    if (cp >= 'a' && cp <= 'f') return int32_t(cp - 'a' + 10);
    return -1;
}

// The 1-based index of a path element or pick index.
int32_t element_index(const Cell* e, uint32_t n) {
    if (!e->is(T_INTEGER)) raise_type("invalid-type", e->type());
    int32_t i = cells::integer(*e);
    if (i < 1 || uint32_t(i) > n) raise_with_value("out-of-range", e);
    return i;
}

}  // namespace

// ---- cells ----

Bytes bytes(const Cell* c) {
    Bytes out{};
    std::memcpy(out.b, &c->data1, MAX_BYTES);
    out.count = count(c);
    return out;
}

Cell make_cell(const uint8_t* b, uint32_t n) {
    if (n > MAX_BYTES) n = MAX_BYTES;
    uint8_t all[MAX_BYTES] = {};
    std::memcpy(all, b, n);
    Cell c{T_TUPLE | (std::max<uint32_t>(n, 3) << COUNT_SHIFT), 0, 0, 0};
    std::memcpy(&c.data1, all, MAX_BYTES);
    return c;
}

Cell* push(uint32_t n, uint32_t data1, uint32_t data2, uint32_t data3) {
    Cell c{T_TUPLE | (std::clamp<uint32_t>(n, 3, MAX_BYTES) << COUNT_SHIFT), data1, data2, data3};
    return stack::push(&c);
}

Cell* push_bytes(uint32_t n, const int32_t* values) {
    uint8_t b[MAX_BYTES] = {};
    n = std::min(n, MAX_BYTES);
    for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(values[i]);
    Cell c = make_cell(b, n);
    return stack::push(&c);
}

void from_binary(Cell* out, const Cell* binary) {
    SeriesBuffer* buf = memory::buffer_of(cells::series_node(*binary));
    uint32_t length = buf->length(), index = cells::series_index(*binary);
    uint32_t n = index >= length ? 0 : std::min(length - index, MAX_BYTES);
    *out = make_cell(buf->head_ptr() + index, n);
}

void from_issue(Cell* out, const Cell* issue) {
    std::string_view spelling = symbol::spelling(cells::word_symbol(*issue));
    uint32_t digits[8];
    uint32_t n = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(spelling.data());
    const uint8_t* end = p + spelling.size();
    bool ok = true;
    while (p < end && ok) {
        uint32_t cp = *p++;
        // Only ASCII hexadecimal digits count: any byte of a multi-byte character (a code point
        // above 127) is refused, never reduced to its low bits.
        if (cp > 127 || hex_digit(cp) < 0 || n == 8) ok = false;
        else digits[n++] = uint32_t(hex_digit(cp));
    }
    if (!ok || (n != 3 && n != 6 && n != 8)) raise_with_value("invalid-data", issue);
    uint8_t b[4];
    uint32_t count = n == 8 ? 4 : 3;
    for (uint32_t i = 0; i < count; ++i)
        b[i] = n == 3 ? uint8_t(digits[i] * 17) : uint8_t(digits[2 * i] * 16 + digits[2 * i + 1]);
    *out = make_cell(b, count);
}

void make_rgba(Cell* out, int32_t r, int32_t g, int32_t b, int32_t alpha) {
    uint8_t v[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(alpha)};
    *out = make_cell(v, alpha == -1 ? 3 : 4);
}

bool all_zero_q(const Cell* c) {
    Bytes b = bytes(c);
    for (uint32_t i = 0; i < b.count; ++i)
        if (b.b[i]) return false;
    return true;
}

void set_byte(Cell* tuple, int32_t index, const Cell* value) {
    Bytes b = bytes(tuple);
    uint32_t flags = tuple->header & ~(CELL_TYPE_MASK | COUNT_MASK);
    if (value->is(T_INTEGER)) {
        b.b[index - 1] = clamp_byte(cells::integer(*value));
    } else if (value->is(T_NONE)) {
        for (uint32_t i = uint32_t(index - 1); i < MAX_BYTES; ++i) b.b[i] = 0;
        b.count = std::max<uint32_t>(uint32_t(index - 1), 3);
    } else {
        raise_type("invalid-type", value->type());
    }
    *tuple = make_cell(b.b, b.count);
    tuple->header |= flags;
}

bool scan_text(std::string_view text, Cell& out) {
    auto blank = +[](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !blank(text[end])) ++end;
    std::string_view t = text.substr(i, end - i);
    uint8_t b[MAX_BYTES];
    uint32_t n = 0;
    size_t k = 0;
    while (true) {
        size_t start = k;
        uint32_t v = 0;
        while (k < t.size() && t[k] >= '0' && t[k] <= '9' && k - start < 4) v = v * 10 + (t[k++] - '0');
        if (k == start || v > 255 || n == MAX_BYTES) return false;
        b[n++] = uint8_t(v);
        if (k == t.size()) break;
        if (t[k] != '.') return false;
        ++k;
    }
    if (n < 3) return false;
    out = make_cell(b, n);
    return true;
}

// ---- arithmetic ----

Cell* do_math(int op) {
    Cell* left = stack::arg(0);
    Cell* right = stack::arg(1);
    if (!left->is(T_TUPLE)) {
        if (op == OP_SUB || op == OP_DIV) {
            Cell word = *word::load(op == OP_SUB ? "subtract" : "divide");
            Cell dt = cells::make_datatype(left->type());
            stack::raise_error("script", "not-related", {&word, &dt});
        }
        std::swap(*left, *right);
    }
    Bytes l = bytes(left);
    switch (right->type()) {
    case T_FLOAT: case T_PERCENT: {
        double f = right->get_float();
        for (uint32_t i = 0; i < l.count; ++i) {
            double r = std::trunc(float_::do_math_op(l.b[i], f, op));
            l.b[i] = std::isnan(r) ? 0 : uint8_t(std::clamp(r, 0.0, 255.0));
        }
        break;
    }
    case T_INTEGER: case T_TUPLE: {
        bool is_tuple = right->is(T_TUPLE);
        Bytes r = is_tuple ? bytes(right) : Bytes{};
        if (is_tuple) l.count = std::max(l.count, r.count);
        for (uint32_t i = 0; i < l.count; ++i) {
            int32_t a = l.b[i];
            int32_t b = is_tuple ? int32_t(r.b[i]) : cells::integer(*right);
            int64_t v;
            switch (op) {
            // An exact result out of the 32-bit range clamps to 255 or 0, as the byte would.
            case OP_ADD: v = int64_t(a) + b; break;
            case OP_SUB: v = int64_t(a) - b; break;
            case OP_MUL: v = int64_t(a) * b; break;
            default: v = integer::do_math_op(a, b, op, nullptr);
            }
            l.b[i] = clamp_byte(v);
        }
        break;
    }
    default: raise_type("invalid-type", right->type());
    }
    *left = make_cell(l.b, l.count);
    return left;
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    Cell result;
    switch (spec->type()) {
    case T_TUPLE: result = *spec; break;
    case T_BLOCK: case T_PAREN: case T_HASH: {
        SeriesBuffer* buf = memory::buffer_of(cells::series_node(*spec));
        uint32_t length = buf->length(), index = cells::series_index(*spec);
        uint32_t n = index >= length ? 0 : length - index;
        if (n > MAX_BYTES) raise_bad_to(spec);
        const Cell* items = buf->head_cell() + index;
        uint8_t b[MAX_BYTES];
        for (uint32_t i = 0; i < n; ++i) {
            double v;
            if (items[i].is(T_INTEGER) || items[i].is(T_CHAR)) v = cells::integer(items[i]);
            else if (items[i].is(T_FLOAT)) v = std::trunc(items[i].get_float());
            else raise_bad_to(spec);
            if (!(v >= 0 && v <= 255)) raise_bad_to(spec);
            b[i] = uint8_t(v);
        }
        result = make_cell(b, n);
        break;
    }
    case T_ISSUE: from_issue(&result, spec); break;
    case T_BINARY: from_binary(&result, spec); break;
    default:
        if (!text_type_q(spec->type()) || !scan_text(string::to_utf8(spec), result))
            raise_bad_to(spec);
    }
    *stack::arguments = result;
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    Bytes b = bytes(value);
    std::string text;
    for (uint32_t i = 0; i < b.count; ++i) {
        if (i) text += '.';
        text += integer::form_signed(b.b[i]).view();
    }
    string::concatenate_cstring(out, text);
    return limit - int32_t(text.size());
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
    if (!b->is(T_TUPLE)) return NOT_COMPARABLE;
    Bytes x = bytes(a), y = bytes(b);
    uint32_t n = std::max(x.count, y.count);
    for (uint32_t i = 0; i < n; ++i)
        if (x.b[i] != y.b[i]) return x.b[i] < y.b[i] ? -1 : 1;
    return 0;
}

Cell* eval_path(const PathStep& step) {
    int32_t i = element_index(step.element, count(step.value));
    if (!step.set_value) return float_::push_field(cells::make_integer(bytes(step.value).b[i - 1]));
    Cell old = *step.value;
    set_byte(step.value, i, step.set_value);
    return float_::finish_path_set(step, old);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    Cell e = index_value ? *index_value : cells::make_integer(index);
    int32_t i = element_index(&e, count(value));
    return float_::push_field(cells::make_integer(bytes(value).b[i - 1]));
}

Cell* reverse(Cell* value, const Cell* part, const Cell* skip) {
    Bytes b = bytes(value);
    uint32_t n = b.count;
    if (part) {
        if (!part->is(T_INTEGER)) {
            Cell w = *word::load("part"), v = *part;
            stack::raise_error("script", "invalid-refine-arg", {&w, &v});
        }
        if (cells::integer(*part) < 0) raise_with_value("out-of-range", part);
        n = std::min(n, uint32_t(cells::integer(*part)));
    }
    uint32_t record = 1;
    if (skip) {
        int32_t s = skip->is(T_INTEGER) ? cells::integer(*skip) : 0;
        if (s == int32_t(n)) return value;
        if (s < 1) raise_with_value("out-of-range", skip);
        if (n < uint32_t(s) || n % uint32_t(s) != 0) {
            Cell w = runtime_words::words::skip, v = *skip;
            stack::raise_error("script", "invalid-refine-arg", {&w, &v});
        }
        record = uint32_t(s);
    }
    uint8_t out[MAX_BYTES];
    std::memcpy(out, b.b, MAX_BYTES);
    uint32_t records = n / record;
    for (uint32_t r = 0; r < records; ++r)
        std::memcpy(out + r * record, b.b + (records - 1 - r) * record, record);
    uint32_t flags = value->header & ~(CELL_TYPE_MASK | COUNT_MASK);
    *value = make_cell(out, b.count);
    value->header |= flags;
    return value;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->data1 ^ value->data2 ^ value->data3);
        *stack::arguments = cells::make_unset();
        return stack::arguments;
    }
    Bytes b = bytes(value);
    for (uint32_t i = 0; i < b.count; ++i) b.b[i] = uint8_t(random::int_(secure, b.b[i] + 1) - 1);
    *stack::arguments = make_cell(b.b, b.count);
    return stack::arguments;
}

Cell* complement(Cell* value) {
    Bytes b = bytes(value);
    for (uint32_t i = 0; i < b.count; ++i) b.b[i] = uint8_t(~b.b[i]);
    uint32_t flags = value->header & ~(CELL_TYPE_MASK | COUNT_MASK);
    *value = make_cell(b.b, b.count);
    value->header |= flags;
    return value;
}

int32_t length_q(const Cell* value) { return int32_t(count(value)); }

void init() {
    type_registry::register_type(
        T_TUPLE, 0, "tuple!",
        {.make = make, .random = random, .to = make, .form = form,
         .mold = +[](const Cell* v, Cell* out, bool, bool, bool, bool part, int32_t limit,
                    int32_t) { return form(v, out, part, limit); },
         .eval_path = eval_path, .compare = compare,
         .add = +[] { do_math(OP_ADD); }, .divide = +[] { do_math(OP_DIV); },
         .multiply = +[] { do_math(OP_MUL); }, .remainder = +[] { do_math(OP_REM); },
         .subtract = +[] { do_math(OP_SUB); }, .and_t = +[] { do_math(OP_AND); },
         .complement = complement, .or_t = +[] { do_math(OP_OR); },
         .xor_t = +[] { do_math(OP_XOR); }, .length_q = length_q, .pick = pick,
         .reverse = reverse});
}

}  // namespace kov::tuple
