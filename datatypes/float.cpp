// float!: cell routines, IEEE arithmetic with the type rules of float!, percent! and time!,
// tolerant equality, rounding, conversions, random draws, and the text of every float-based value.
// Text never depends on the C locale: std::to_chars in place of printf's "%.Ng".
#include "datatypes/float.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/math.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/random.hpp"

namespace kov::float_ {

bool pretty_print_q = true;

namespace {

// The quiet NaN that remainder answers: high word 0x7FF80000, low word 0.
const double QUIET_NAN = std::bit_cast<double>(uint64_t(0x7FF8000000000000ull));

[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }

[[noreturn]] void raise_with_name(const char* id, uint32_t type) {
    Cell name, dt{T_DATATYPE, type, 0, 0};
    stack::frame_name(&name);
    stack::raise_error("script", id, {&name, &dt});
}

[[noreturn]] void raise_bad_to_arg(uint32_t type, const Cell* source) {
    Cell dt{T_DATATYPE, type, 0, 0};
    stack::raise_error("script", "bad-to-arg", {&dt, source});
}

bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

bool float_type_q(uint32_t t) { return t == T_FLOAT || t == T_PERCENT || t == T_TIME; }

// ---- forming ----

// printf's "%.Pg" in the C locale.
uint32_t print_g(char* buf, size_t cap, double x, int precision) {
    auto r = std::to_chars(buf, buf + cap, x, std::chars_format::general, precision);
    return uint32_t(r.ptr - buf);
}

// Where the point and the exponent stand in a text (npos when absent).
struct Layout {
    size_t point, e;
};

Layout scan_layout(const char* s, size_t n) {
    std::string_view v(s, n);
    return {v.find('.'), v.find('e')};
}

void set_text(Text& t, const char* s, size_t n) {
    if (n >= sizeof t.text) n = sizeof t.text - 1;
    std::memcpy(t.text, s, n);
    t.text[n] = 0;
    t.length = uint32_t(n);
}

// Prints x for the mode into t (no clean-up, no suffix).
void print_number(Text& t, double x, int mode, int precision) {
    char buf[64];
    uint32_t n;
    if (precision == 0 && mode == FORM_TIME) {
        math::DecimalText d = math::form_decimal(x, 6, false);
        set_text(t, d.text, d.length);
        return;
    }
    if (precision == 0)
        precision = mode == FORM_FLOAT ? 16 : mode == FORM_PERCENT ? 13 : 7;
    n = print_g(buf, sizeof buf, x, precision);
    set_text(t, buf, n);
}

// Removes the "+" and the leading zeros of the exponent ("1e+20" -> "1e20", "1e-05" -> "1e-5").
void compact_exponent(Text& t, size_t e) {
    char out[sizeof t.text];
    size_t k = 0;
    for (size_t i = 0; i <= e; ++i) out[k++] = t.text[i];
    size_t i = e + 1;
    if (i < t.length && (t.text[i] == '+' || t.text[i] == '-')) {
        if (t.text[i] == '-') out[k++] = '-';
        ++i;
    }
    while (i + 1 < t.length && t.text[i] == '0') ++i;
    while (i < t.length) out[k++] = t.text[i++];
    set_text(t, out, k);
}

}  // namespace

// ---- cells ----

Cell* make_at(Cell* c, double value) {
    *c = Cell{T_FLOAT, 0, 0, 0};
    c->set_float(value);
    return c;
}

Cell* make_in(const Cell* block, double value) { return make_at(buffer::alloc_block_tail(block), value); }

Cell* push(double value) { return make_at(stack::push_slot(), value); }

Cell* push_parts(uint32_t high, uint32_t low) {
    Cell* c = stack::push_slot();
    *c = Cell{T_FLOAT, 0, low, high};
    return c;
}

Cell* box(double value) { return make_at(stack::arguments, value); }

// ---- helpers ----

double abs(double x) {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(x) & ~(uint64_t(1) << 63));
}

bool special_q(double x) {
    uint64_t b = std::bit_cast<uint64_t>(x);
    return (b & 0x7FF0000000000000ull) == 0x7FF0000000000000ull && (b & 0x000FFFFFFFFFFFFFull);
}

bool nan_q(float x) { return x != x; }

int32_t to_int32_unchecked(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) return int32_t(x);  // truncates toward zero
    return INT32_MIN;
}

// ---- forming ----

Text form_float(double x, int mode) {
    Text t{};
    bool percent = mode == FORM_VECTOR32_PERCENT || mode == FORM_PERCENT;
    if (std::isnan(x)) {
        set_text(t, "1.#NaN", 6);
        return t;
    }
    if (std::isinf(x)) {
        if (x < 0) set_text(t, "-1.#INF", 7);
        else set_text(t, "1.#INF", 6);
        return t;
    }
    if (pretty_print_q && std::fabs(x) < EPSILON) {
        if (percent) set_text(t, "0%", 2);
        else if (mode == FORM_POINT) set_text(t, "0", 1);
        else set_text(t, "0.0", 3);
        return t;
    }
    print_number(t, x, mode, 0);
    Layout at = scan_layout(t.text, t.length);
    if (pretty_print_q) {
        size_t first = t.text[0] == '-' ? 1 : 0;
        bool has_e = at.e != std::string_view::npos;
        bool long_plain =
            !has_e && t.length > 16 && (t.text[first] != '0' || t.length > 17);
        bool long_exp = has_e && at.e > 16;
        if (long_plain || long_exp) {
            size_t end = has_e ? at.e : t.length;
            std::string_view last(t.text + end - 2, 2);
            if (last == "01" || last == "99") {
                bool short_mode = mode == FORM_VECTOR32 || mode == FORM_TIME || mode == FORM_POINT;
                char buf[64];
                uint32_t n = print_g(buf, sizeof buf, x, short_mode ? 5 : 14);
                set_text(t, buf, n);
                at = scan_layout(t.text, t.length);
            }
        }
    }
    if (at.e != std::string_view::npos) compact_exponent(t, at.e);
    at = scan_layout(t.text, t.length);
    if (percent) {
        if (t.length + 1 < sizeof t.text) {
            t.text[t.length++] = '%';
            t.text[t.length] = 0;
        }
    } else if ((mode == FORM_VECTOR32 || mode == FORM_FLOAT) && at.point == std::string_view::npos) {
        char out[sizeof t.text];
        size_t cut = at.e == std::string_view::npos ? t.length : at.e;
        std::memcpy(out, t.text, cut);
        std::memcpy(out + cut, ".0", 2);
        std::memcpy(out + cut + 2, t.text + cut, t.length - cut);
        set_text(t, out, t.length + 2);
    }
    return t;
}

// ---- arithmetic and comparison ----

double do_math_op(double a, double b, int op) {
    switch (op) {
    case OP_ADD: return a + b;
    case OP_SUB: return a - b;
    case OP_MUL: return a * b;
    case OP_DIV: return a / b;
    case OP_REM:
        if (std::isfinite(b)) return std::fmod(a, b);
        if (std::isnan(b)) return QUIET_NAN;
        return std::isfinite(a) ? a : QUIET_NAN;
    default: raise_with_name("cannot-use", T_FLOAT);
    }
}

Cell* do_math(int op) {
    Cell* left = stack::arg(0);
    const Cell* right = stack::arg(1);
    uint32_t l = left->type(), r = right->type();
    switch (r) {
    case T_TUPLE: return tuple::do_math(op);
    case T_MONEY: return money::do_math(op);
    case T_VECTOR: raise_not_done();
    case T_PAIR: case T_POINT2D: case T_POINT3D: {
        if (l == T_TIME) break;
        if (op == OP_SUB || op == OP_DIV) {
            Cell dt{T_DATATYPE, r, 0, 0};
            Cell word = *word::load(op == OP_SUB ? "subtract" : "divide");
            stack::raise_error("script", "not-related", {&word, &dt});
        }
        // The operands change places: the coordinate value on the left, the number on the right.
        double x = l == T_INTEGER ? double(int32_t(left->data2)) : left->get_float();
        *left = *stack::arg(1);
        *stack::arg(1) = cells::make_float(x, l == T_INTEGER ? T_FLOAT : l);
        return r == T_PAIR ? pair::do_math(op) : r == T_POINT2D ? point2d::do_math(op)
                                                               : point3d::do_math(op);
    }
    default: break;
    }
    bool accepted = r == T_INTEGER || float_type_q(r) ||
                    (r == T_CHAR && l != T_PERCENT && l != T_TIME);
    if (!accepted) {
        Cell dt{T_DATATYPE, r, 0, 0};
        stack::raise_error("script", "invalid-type", {&dt});
    }
    double x = l == T_INTEGER ? double(int32_t(left->data2)) : left->get_float();
    double y = r == T_INTEGER || r == T_CHAR ? double(int32_t(right->data2)) : right->get_float();
    double z = do_math_op(x, y, op);
    uint32_t type = l == T_TIME || r == T_TIME ? T_TIME : l == T_PERCENT ? T_PERCENT : T_FLOAT;
    *left = Cell{type, 0, 0, 0};
    left->set_float(z);
    return left;
}

bool equal_within(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    auto key = [](double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        return bits >> 63 ? uint64_t(0) - bits : bits | (uint64_t(1) << 63);
    };
    uint64_t ka = key(a), kb = key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && a->type() != b->type())
        return 1;
    double x = a->get_float(), y;
    switch (b->type()) {
    case T_INTEGER: y = double(int32_t(b->data2)); break;
    case T_FLOAT: case T_PERCENT: case T_TIME: y = b->get_float(); break;
    case T_MONEY: return -money::compare(b, a, op);  // the same relation seen from the amount
    default: return NOT_COMPARABLE;
    }
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: return equal_within(x, y) ? 0 : 1;
    case COMP_STRICT_EQUAL: return x == y ? 0 : 1;
    case COMP_SAME:
        return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : 1;
    default:
        if (std::isnan(x) || std::isnan(y)) {
            if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
            if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
            return 0;
        }
        return (x > y) - (x < y);
    }
}

double round_to(double x, double s, int mode) {
    if (s < std::fabs(x) * 0x1p-53) return x;
    if (s == 0) return x;  // only a zero value gets here: it stays zero
    // A scale below the smallest normal double is split into fraction and exponent, so that
    // 1 / s stays finite; the value is scaled alike before and the result after.
    int k = 0;
    if (s < DBL_MIN) {
        s = std::frexp(s, &k);
        x = std::ldexp(x, -k);
    }
    double v = s >= 1 ? x / s : x * (1 / s);
    double t = std::fabs(v), h = std::floor(t) + 0.5;
    auto with_sign = [&](double m) { return v < 0 ? -m : m; };
    double r;
    switch (mode) {
    case integer::ROUND_DOWN: r = with_sign(std::floor(t)); break;
    case integer::ROUND_FLOOR: r = std::floor(v); break;
    case integer::ROUND_CEILING: r = std::ceil(v); break;
    default:
        if (t > h) r = with_sign(std::ceil(t));
        else if (t < h) r = with_sign(std::floor(t));
        else if (mode == integer::ROUND_EVEN)
            r = with_sign(std::fmod(t, 2.0) < 1 ? std::floor(t) : std::ceil(t));
        else if (mode == integer::ROUND_HALF_DOWN) r = with_sign(std::floor(t));
        else if (mode == integer::ROUND_HALF_CEILING) r = std::ceil(v);
        else r = with_sign(std::ceil(t));
    }
    double result;
    if (s >= 1) {
        result = r * s;
        // A finite value whose rounding reaches the largest double, or beyond it, overflows.
        if (std::fabs(result) == MAX_FINITE || std::isinf(result))
            stack::raise_error("math", "overflow");
    } else {
        result = r / (1 / s);
    }
    return k ? std::ldexp(result, k) : result;
}

bool scan_text(std::string_view text, double& out) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    // Digits or a point must follow the sign: no "inf", "nan" or hexadecimal forms.
    if (i == text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return false;
    for (size_t k = i; k < text.size(); ++k) {
        char c = text[k];
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
            return false;
    }
    const char* start = text.data() + (text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    auto r = std::from_chars(start, end, out, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == end;
}

// ---- actions ----

namespace {

// The number of a text's first value for percent!: a number ("5" is 500%) or a percentage
// ("5%" is 5%). The text is read up to its first white space.
bool scan_percent_text(std::string_view text, double& out) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    size_t j = i;
    while (j < text.size() && !blank(text[j])) ++j;
    std::string_view token = text.substr(i, j - i);
    bool percent = !token.empty() && token.back() == '%';
    if (percent) token.remove_suffix(1);
    int32_t n;
    if (integer::scan_text(token, n)) out = n;
    else if (!scan_text(token, out)) return false;
    if (percent) out /= 100;
    return true;
}

// [m e]: m times ten to the power e (e truncated to an integer).
double from_block(const Cell* block, uint32_t type) {
    SeriesBuffer* b = memory::buffer_of(block->data2);
    uint32_t length = b->length();
    uint32_t count = block->data1 >= length ? 0 : length - block->data1;
    if (count != 2) raise_bad_to_arg(type, block);
    const Cell* items = b->head_cell() + block->data1;
    double parts[2];
    for (int i = 0; i < 2; ++i) {
        const Cell* c = items + i;
        if (c->is(T_INTEGER)) parts[i] = int32_t(c->data2);
        else if (c->is(T_FLOAT)) parts[i] = c->get_float();
        else {
            Cell element = *c;
            raise_bad_to_arg(T_FLOAT, &element);
        }
    }
    return parts[0] * std::pow(10.0, double(to_int32_unchecked(parts[1])));
}

}  // namespace

Cell* make(const Cell*, const Cell* spec, uint32_t type) {
    double d = 0;
    uint32_t t = spec->type();
    switch (t) {
    case T_CHAR: case T_INTEGER: d = int32_t(spec->data2); break;
    case T_FLOAT: case T_PERCENT: case T_TIME: d = spec->get_float(); break;
    case T_BLOCK: case T_PAREN: d = from_block(spec, type); break;
    case T_MONEY: d = money::to_float(money::read(spec)); break;
    case T_BINARY: case T_HASH: raise_not_done();
    default: {
        if (!text_type_q(t)) raise_bad_to_arg(type, spec);
        std::string text = string::to_utf8(spec);
        bool ok = type == T_PERCENT ? scan_percent_text(text, d) : scan_text(text, d);
        if (!ok) raise_bad_to_arg(type, spec);
    }
    }
    *stack::arguments = Cell{type, 0, 0, 0};
    stack::arguments->set_float(d);
    return stack::arguments;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    double x = value->get_float();
    if (seed) {
        uint64_t bits = std::bit_cast<uint64_t>(x);
        random::seed(uint32_t(bits) ^ uint32_t(bits >> 32));
        *stack::arguments = Cell{T_UNSET, 0, 0, 0};
        return stack::arguments;
    }
    double r = random_draw(x, secure);
    uint32_t type = value->type();
    *stack::arguments = Cell{type, 0, 0, 0};
    stack::arguments->set_float(r);
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    Text t = form_float(value->get_float(), FORM_FLOAT);
    string::concatenate_cstring(out, t.text, t.length);
    return limit - int32_t(t.length);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    math::DecimalText t = math::form_decimal(value->get_float(), 0, true);
    string::concatenate_cstring(out, t.text, t.length);
    return limit - int32_t(t.length);
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->is(T_MONEY)) raise_with_name("not-related", T_MONEY);
    bool percent = value->is(T_PERCENT);
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        if (scale->is(T_INTEGER)) s = std::fabs(double(int32_t(scale->data2)));
        else if (float_type_q(scale->type())) s = std::fabs(scale->get_float());
        else {
            Cell dt{T_DATATYPE, scale->type(), 0, 0};
            stack::raise_error("script", "invalid-type", {&dt});
        }
        if (percent) s /= 100;
    }
    double x = value->get_float();
    if (s < std::fabs(x) * 0x1p-53) return value;
    int mode = integer::round_mode(even, down, half_down, floor, ceiling, half_ceiling);
    double r = round_to(x, s, mode);
    if (scale && scale->is(T_INTEGER)) {
        *value = Cell{T_INTEGER, 0, uint32_t(to_int32_unchecked(r)), 0};
    } else {
        if (scale) value->header = scale->header;
        value->data1 = 0;
        value->set_float(r);
    }
    return value;
}

void power() {
    Cell* base = stack::arg(0);
    const Cell* exponent = stack::arg(1);
    if (!exponent->is(T_INTEGER) && !exponent->is(T_FLOAT)) {
        Cell name, dt{T_DATATYPE, exponent->type(), 0, 0}, param;
        stack::frame_name(&name);
        stack::param_word(1, &param);
        stack::raise_error("script", "expect-arg", {&name, &dt, &param});
    }
    double y = exponent->is(T_INTEGER) ? double(int32_t(exponent->data2)) : exponent->get_float();
    base->set_float(std::pow(base->get_float(), y));
}

void absolute() { stack::arguments->set_float(abs(stack::arguments->get_float())); }
Cell* negate(Cell* value) {
    value->set_float(0.0 - value->get_float());
    return value;
}

bool even_q(const Cell* value) { return (to_int32_unchecked(value->get_float()) & 1) == 0; }
bool odd_q(const Cell* value) { return (to_int32_unchecked(value->get_float()) & 1) != 0; }

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }
void multiply() { do_math(OP_MUL); }
void divide() { do_math(OP_DIV); }
void remainder() { do_math(OP_REM); }

double random_draw(double x, bool secure) {
    if (secure) {
        double s1 = random::secure_int31(), s2 = random::secure_int31();
        return x * (s2 + s1 / 2147483647.0) / 2147483648.0;
    }
    return x * (random::next() / 2147483647.0);
}

bool almost_equal32(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t pa = std::bit_cast<uint32_t>(a), pb = std::bit_cast<uint32_t>(b);
    if (std::isfinite(a) && std::isfinite(b)) {
        // Order-preserving signed keys: a negative pattern p becomes -p - 2147483648.
        auto key = [](uint32_t p) {
            int64_t k = int32_t(p);
            return k < 0 ? -k - 2147483648LL : k;
        };
        int64_t d = key(pa) - key(pb);
        return (d < 0 ? -d : d) <= 10;
    }
    uint32_t ma = pa & 0x7FFFFFFFu, mb = pb & 0x7FFFFFFFu;
    return (pa >> 31) == (pb >> 31) && (ma > mb ? ma - mb : mb - ma) < 0x100000u;
}

Cell* push_field(const Cell& value) { return stack::push(&value); }

Cell* finish_path_set(const PathStep& step, const Cell& old_value) {
    Cell* result = stack::push(step.set_value);
    if (!step.notify || !step.grandparent) return result;
    collector::Root fresh(*step.value), old(old_value), owner(*step.grandparent);
    if (owner->is(T_OBJECT)) {
        if (context::fire_on_change_hook && step.previous) {
            collector::Root word(*step.previous);
            context::fire_on_change_hook(owner.get(), word.get(), old.get(), fresh.get());
        }
    } else {
        ownership::check(owner.get(), &runtime_words::words::set_path, fresh.get(),
                         step.position, 1);
    }
    return result;
}

void init() {
    type_registry::register_type(
        T_FLOAT, 0, "float!",
        {.make = make, .random = random, .to = make, .form = form, .mold = mold,
         .compare = compare, .absolute = absolute, .add = add, .divide = divide,
         .multiply = multiply, .negate = negate, .power = power, .remainder = remainder,
         .round = round, .subtract = subtract, .even_q = even_q, .odd_q = odd_q});
}

}  // namespace kov::float_
