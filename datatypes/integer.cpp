// integer!: cell routines, arithmetic with overflow into float!, power, rounding, conversions,
// forming, comparison, random draws and the action routines of the type.
#include "datatypes/integer.hpp"

#include <cmath>
#include <cstring>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/money.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/random.hpp"

namespace kov::integer {

namespace {

[[noreturn]] void raise_math(const char* id) { stack::raise_error("math", id); }

[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }

// The word of the action a math-op stands for.
const char* op_word(int op) {
    static const char* const words[] = {"add", "subtract", "multiply", "divide",
                                        "remainder", "or~", "and~", "xor~"};
    return op >= 0 && op < 8 ? words[op] : "add";
}

// Script error not-related with the action word of `op` and a datatype.
[[noreturn]] void raise_not_related(int op, uint32_t type) {
    Cell dt{T_DATATYPE, type, 0, 0};
    Cell word = *word::load(op_word(op));
    stack::raise_error("script", "not-related", {&word, &dt});
}

[[noreturn]] void raise_invalid_type(uint32_t type) {
    Cell dt{T_DATATYPE, type, 0, 0};
    stack::raise_error("script", "invalid-type", {&dt});
}

[[noreturn]] void raise_bad_to_arg(const Cell* source) {
    Cell dt{T_DATATYPE, T_INTEGER, 0, 0};
    stack::raise_error("script", "bad-to-arg", {&dt, source});
}

bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

}  // namespace

// ---- cells ----

Cell* make_at(Cell* c, int32_t value) {
    cell::set_type(c, T_INTEGER);
    c->data2 = uint32_t(value);
    return c;
}

Cell* make_in(const Cell* block, int32_t value) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = Cell{T_INTEGER, 0, uint32_t(value), 0};
    return c;
}

Cell* push(int32_t value) {
    Cell* c = stack::push_slot();
    *c = Cell{T_INTEGER, 0, uint32_t(value), 0};
    return c;
}

Cell* box(int32_t value) {
    *stack::arguments = Cell{T_INTEGER, 0, uint32_t(value), 0};
    return stack::arguments;
}

int32_t get_arg() { return int32_t(stack::arguments->data2); }

int32_t get_arg_if_integer() {
    return stack::arguments->is(T_INTEGER) ? int32_t(stack::arguments->data2) : 0;
}

// ---- helpers ----

int32_t abs(int32_t i) {
    if (i == INT32_MIN) raise_math("overflow");
    return i < 0 ? -i : i;
}

bool overflow_q(double d) {
    // NaN fails both comparisons of the range test.
    return !(d >= -2147483648.0 && d <= 2147483647.0);
}

bool overflow_q(const Cell* c) { return overflow_q(c->get_float()); }

Text form_signed(int32_t i) {
    Text t{};
    if (i == INT32_MIN) {
        std::memcpy(t.text, "-2147483648", 12);
        t.length = 11;
        return t;
    }
    char digits[12];
    int n = 0;
    uint32_t m = i < 0 ? uint32_t(-i) : uint32_t(i);
    do {
        digits[n++] = char('0' + m % 10);
        m /= 10;
    } while (m);
    uint32_t k = 0;
    if (i < 0) t.text[k++] = '-';
    while (n) t.text[k++] = digits[--n];
    t.text[k] = 0;
    t.length = k;
    return t;
}

int32_t do_math_op(int32_t a, int32_t b, int op, Cell* r) {
    int32_t result = 0;
    switch (op) {
    case OP_ADD: case OP_SUB: case OP_MUL: {
        bool over = op == OP_ADD ? __builtin_add_overflow(a, b, &result)
                  : op == OP_SUB ? __builtin_sub_overflow(a, b, &result)
                                 : __builtin_mul_overflow(a, b, &result);
        if (over && r) {
            double x = a, y = b;
            r->header = T_FLOAT;
            r->set_float(op == OP_ADD ? x + y : op == OP_SUB ? x - y : x * y);
            return 0;
        }
        break;
    }
    case OP_DIV:
        if (b == 0) raise_math("zero-divide");
        if (a == INT32_MIN && b == -1) raise_math("overflow");
        if (r && a % b != 0) {
            r->header = T_FLOAT;
            r->set_float(double(a) / double(b));
            return 0;
        }
        result = a / b;
        break;
    case OP_REM:
        if (b == 0) raise_math("zero-divide");
        if (a == INT32_MIN && b == -1) raise_math("overflow");
        result = a % b;
        break;
    case OP_OR: result = int32_t(uint32_t(a) | uint32_t(b)); break;
    case OP_AND: result = int32_t(uint32_t(a) & uint32_t(b)); break;
    case OP_XOR: result = int32_t(uint32_t(a) ^ uint32_t(b)); break;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    if (r) r->data2 = uint32_t(result);
    return result;
}

Cell* do_math(int op) {
    Cell* left = stack::arg(0);
    Cell* right = stack::arg(1);
    switch (right->type()) {
    case T_INTEGER: case T_CHAR:
        do_math_op(int32_t(left->data2), int32_t(right->data2), op, left);
        return left;
    case T_FLOAT: case T_PERCENT: case T_TIME:
        return float_::do_math(op);
    case T_PAIR: case T_POINT2D: case T_POINT3D: {
        // The operands change places: the coordinate value on the left, the integer on the right.
        int32_t n = int32_t(left->data2);
        uint32_t t = right->type();
        *left = *right;
        *right = cells::make_integer(n);
        if (op == OP_DIV) raise_not_related(op, T_INTEGER);
        if (op == OP_SUB) {
            if (t == T_PAIR) pair::negate(left);
            else if (t == T_POINT2D) point2d::negate(left);
            else point3d::negate(left);
            op = OP_ADD;
        }
        return t == T_PAIR ? pair::do_math(op) : t == T_POINT2D ? point2d::do_math(op)
                                                               : point3d::do_math(op);
    }
    case T_TUPLE: {
        if (op == OP_SUB || op == OP_DIV) raise_not_related(op, T_INTEGER);
        int32_t n = int32_t(left->data2);
        *left = *right;
        *right = cells::make_integer(n);
        return tuple::do_math(op);
    }
    case T_DATE: {
        if (op != OP_ADD) raise_not_related(op, T_INTEGER);
        // The date goes to the left and adds the days.
        Cell days = *left;
        *left = *right;
        *right = days;
        date::add_subtract(OP_ADD);
        return left;
    }
    case T_MONEY: return money::do_math(op);
    case T_VECTOR: raise_not_done();
    default:
        raise_invalid_type(right->type());
    }
}

RoundMode round_mode(bool even, bool down, bool half_down, bool floor, bool ceiling,
                     bool half_ceiling) {
    if (down) return ROUND_DOWN;
    if (floor) return ROUND_FLOOR;
    if (ceiling) return ROUND_CEILING;
    if (even) return ROUND_EVEN;
    if (half_down) return ROUND_HALF_DOWN;
    if (half_ceiling) return ROUND_HALF_CEILING;
    return ROUND_HALF_AWAY;
}

int32_t round_to(int32_t v, int32_t s, RoundMode mode) {
    if (v == INT32_MIN || s == 0) return v;
    int64_t n = v < 0 ? -int64_t(v) : int64_t(v);
    int64_t r = n % s;
    if (r == 0) return v;
    int64_t d = s - r;
    int64_t u = n + d;  // the next multiple of s above n; checked where it is used
    auto toward_zero = [&] { return int32_t(v > 0 ? n - r : r - n); };
    auto up = [&] {
        if (u > INT32_MAX) raise_math("overflow");
        return int32_t(u);
    };
    auto away = [&] { return v > 0 ? up() : -up(); };
    switch (mode) {
    case ROUND_DOWN: return toward_zero();
    case ROUND_FLOOR: return v > 0 ? int32_t(n - r) : -up();
    case ROUND_CEILING: return v < 0 ? int32_t(r - n) : up();
    default: break;
    }
    if (r < d) return toward_zero();
    if (r > d) return away();
    switch (mode) {
    case ROUND_EVEN: return (n / s) % 2 == 0 ? toward_zero() : away();
    case ROUND_HALF_DOWN: return toward_zero();
    case ROUND_HALF_CEILING: return v < 0 ? int32_t(r - n) : up();
    default: return away();
    }
}

bool int_power(int32_t base, int32_t exponent, int32_t& result) {
    int32_t acc = 1;
    while (exponent != 0) {
        if (exponent & 1) {
            if (__builtin_mul_overflow(acc, base, &acc)) return false;
        }
        exponent >>= 1;
        if (__builtin_mul_overflow(base, base, &base) && exponent > 0) return false;
    }
    result = acc;
    return true;
}

int32_t from_issue(const Cell* issue) {
    std::string_view s = symbol::spelling(issue->data2);
    if (s.empty() || s.size() > 8) stack::raise_error("script", "invalid-data", {issue});
    uint32_t result = 0;
    for (char c : s) {
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
        else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else stack::raise_error("script", "invalid-data", {issue});
        result = result * 16 + digit;
    }
    return int32_t(result);
}

bool scan_text(std::string_view text, int32_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    int64_t m = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        m = m * 10 + (c - '0');
        if (m > int64_t(INT32_MAX) + 1) return false;
    }
    if (negative) m = -m;
    if (m > INT32_MAX) return false;
    out = int32_t(m);
    return true;
}

// ---- actions ----

Cell* to(const Cell*, const Cell* spec, uint32_t) {
    int32_t v = 0;
    uint32_t t = spec->type();
    switch (t) {
    case T_INTEGER: case T_CHAR: v = int32_t(spec->data2); break;
    case T_FLOAT: case T_PERCENT:
        if (overflow_q(spec)) {
            Cell dt{T_DATATYPE, T_INTEGER, 0, 0};
            stack::raise_error("script", "type-limit", {&dt});
        }
        v = int32_t(std::trunc(spec->get_float()));
        break;
    case T_TIME: v = float_::to_int32_unchecked(spec->get_float() + 0.5); break;
    case T_ISSUE: v = from_issue(spec); break;
    case T_DATE: v = date::to_epoch(spec); break;
    case T_MONEY: v = money::to_integer(money::read(spec)); break;
    case T_BINARY: raise_not_done();
    default:
        if (!text_type_q(t)) raise_bad_to_arg(spec);
        if (!scan_text(string::to_utf8(spec), v)) raise_bad_to_arg(spec);
    }
    *stack::arguments = Cell{T_INTEGER, 0, uint32_t(v), 0};
    return stack::arguments;
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    if (spec->is(T_LOGIC)) return box(spec->data1 ? 1 : 0);
    return to(proto, spec, type);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    int32_t n = int32_t(value->data2);
    if (seed) {
        random::seed(uint32_t(n));
        *stack::arguments = Cell{T_UNSET, 0, 0, 0};
        return stack::arguments;
    }
    return box(n == 0 ? 0 : random::int_(secure, n));
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    Text t = form_signed(int32_t(value->data2));
    string::concatenate_cstring(out, t.text, t.length);
    return limit - int32_t(t.length);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && !b->is(T_INTEGER)) return 1;
    switch (b->type()) {
    case T_INTEGER: case T_CHAR: {
        int32_t x = int32_t(a->data2), y = int32_t(b->data2);
        return (x > y) - (x < y);
    }
    case T_FLOAT: case T_PERCENT: case T_TIME: {
        // The float comparison sees this value's own header with its double in the data words.
        Cell as_float{a->header, 0, 0, 0};
        as_float.set_float(double(int32_t(a->data2)));
        return float_::compare(&as_float, b, op);
    }
    case T_MONEY: {
        Cell m;
        money::write(&m, money::from_integer(int32_t(a->data2)));
        return money::compare(&m, b, op);
    }
    default: return NOT_COMPARABLE;
    }
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->is(T_MONEY)) {
        Cell name, dt{T_DATATYPE, T_MONEY, 0, 0};
        stack::frame_name(&name);
        stack::raise_error("script", "not-related", {&name, &dt});
    }
    int32_t v = int32_t(value->data2);
    if (v == INT32_MIN) return value;
    int32_t s = 1;
    if (scale) {
        if (!scale->is(T_INTEGER)) {
            float_::make_at(value, double(v));
            return float_::round(value, scale, even, down, half_down, floor, ceiling,
                                 half_ceiling);
        }
        s = abs(int32_t(scale->data2));
    }
    RoundMode mode = round_mode(even, down, half_down, floor, ceiling, half_ceiling);
    value->data2 = uint32_t(round_to(v, s, mode));
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
    int32_t b = int32_t(base->data2);
    if (exponent->is(T_INTEGER) && int32_t(exponent->data2) >= 0) {
        int32_t result;
        if (int_power(b, int32_t(exponent->data2), result)) {
            base->data2 = uint32_t(result);
            return;
        }
    }
    float_::make_at(base, double(b));
    float_::power();
}

void absolute() { stack::arguments->data2 = uint32_t(abs(int32_t(stack::arguments->data2))); }

Cell* negate(Cell* value) {
    int32_t v = int32_t(value->data2);
    if (v == INT32_MIN) raise_math("overflow");
    value->data2 = uint32_t(-v);
    return value;
}

Cell* complement(Cell* value) {
    value->data2 = ~value->data2;
    return value;
}

bool even_q(const Cell* value) { return (value->data2 & 1) == 0; }
bool odd_q(const Cell* value) { return (value->data2 & 1) != 0; }

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }
void multiply() { do_math(OP_MUL); }
void divide() { do_math(OP_DIV); }
void remainder() { do_math(OP_REM); }
void and_t() { do_math(OP_AND); }
void or_t() { do_math(OP_OR); }
void xor_t() { do_math(OP_XOR); }

void init() {
    type_registry::register_type(
        T_INTEGER, 0, "integer!",
        {.make = make, .random = random, .to = to, .form = form, .mold = mold, .compare = compare,
         .absolute = absolute, .add = add, .divide = divide, .multiply = multiply,
         .negate = negate, .power = power, .remainder = remainder, .round = round,
         .subtract = subtract, .even_q = even_q, .odd_q = odd_q, .and_t = and_t,
         .complement = complement, .or_t = or_t, .xor_t = xor_t});
}

}  // namespace kov::integer
