// money!: digits in and out of cells, digit-by-digit arithmetic, conversions, text, comparison,
// rounding, random amounts and the action table.
#include "datatypes/money.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

#include "core/cells.hpp"
#include "core/math.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/system_settings.hpp"
#include "datatypes/word.hpp"
#include "evaluator/loaders.hpp"
#include "evaluator/random.hpp"

namespace kov::money {

namespace {

// Digits of the work areas: a full product of two amounts, a dividend shifted by 5 places.
constexpr int PRODUCT_DIGITS = 2 * DIGITS;
constexpr int SHIFTED_DIGITS = DIGITS + FRACTION_DIGITS;

[[noreturn]] void raise_type_limit(uint32_t type = T_MONEY) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", "type-limit", {&dt});
}

[[noreturn]] void raise_invalid_type(uint32_t type) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", "invalid-type", {&dt});
}

[[noreturn]] void raise_bad_make(const Cell* value) {
    Cell dt = cells::make_datatype(T_MONEY), v = *value;
    stack::raise_error("script", "bad-make-arg", {&dt, &v});
}

[[noreturn]] void raise_bad_to(const Cell* value) {
    Cell dt = cells::make_datatype(T_MONEY), v = *value;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

[[noreturn]] void raise_wrong_denom(const Cell* a, const Cell* b) {
    Cell x = *a, y = *b;
    stack::raise_error("script", "wrong-denom", {&x, &y});
}

bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Magnitudes: -1, 0, 1.
int compare_magnitudes(const uint8_t* a, const uint8_t* b, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// out = a + b over 22 digits; false when a carry leaves digit 1.
bool add_magnitudes(const uint8_t* a, const uint8_t* b, uint8_t* out) {
    int carry = 0;
    for (int i = DIGITS - 1; i >= 0; --i) {
        int s = a[i] + b[i] + carry;
        carry = s >= 10;
        out[i] = uint8_t(carry ? s - 10 : s);
    }
    return carry == 0;
}

// out = a - b over n digits, a >= b.
void subtract_magnitudes(const uint8_t* a, const uint8_t* b, uint8_t* out, int n) {
    int borrow = 0;
    for (int i = n - 1; i >= 0; --i) {
        int d = a[i] - b[i] - borrow;
        borrow = d < 0;
        out[i] = uint8_t(borrow ? d + 10 : d);
    }
}

// Text of an amount's fraction digits and integer digits without grouping, for float reading.
std::string plain_text(const Amount& a) {
    std::string s;
    if (a.negative && !zero_q(a)) s += '-';
    int first = 0;
    while (first < INT_DIGITS - 1 && a.digit[first] == 0) ++first;
    for (int i = first; i < INT_DIGITS; ++i) s += char('0' + a.digit[i]);
    s += '.';
    for (int i = INT_DIGITS; i < DIGITS; ++i) s += char('0' + a.digit[i]);
    return s;
}

// Whether a non-zero finite double has at most 5 fraction digits in its shortest text.
bool exact_q(double d) {
    math::DecimalDigits dd = math::decimal_digits(d, 0);
    return dd.count - dd.exponent <= FRACTION_DIGITS;
}

// A money! or number operand as an amount (numbers not strict).
Amount operand(const Cell* c) {
    switch (c->type()) {
    case T_MONEY: return read(c);
    case T_INTEGER: return from_integer(cells::integer(*c));
    case T_FLOAT: case T_PERCENT: return from_float(c->get_float(), false);
    default: raise_invalid_type(c->type());
    }
}

}  // namespace

// ---- cells ----

Amount read(const Cell* c) {
    uint8_t bytes[16];
    std::memcpy(bytes, c, 16);
    Amount a;
    a.negative = (c->header & NEGATIVE) != 0;
    a.currency = bytes[4];
    for (int i = 0; i < DIGITS; ++i) {
        uint8_t b = bytes[5 + i / 2];
        a.digit[i] = i % 2 == 0 ? uint8_t(b >> 4) : uint8_t(b & 15);
    }
    return a;
}

Cell* write(Cell* c, const Amount& a) {
    uint8_t bytes[16] = {};
    uint32_t header = T_MONEY | (a.negative ? NEGATIVE : 0);
    std::memcpy(bytes, &header, 4);
    bytes[4] = a.currency;
    for (int i = 0; i < DIGITS; ++i)
        bytes[5 + i / 2] |= i % 2 == 0 ? uint8_t(a.digit[i] << 4) : a.digit[i];
    std::memcpy(c, bytes, 16);
    return c;
}

bool zero_q(const Amount& a) {
    for (uint8_t d : a.digit)
        if (d) return false;
    return true;
}

int significant_digits(const Amount& a) {
    int i = 0;
    while (i < DIGITS - 1 && a.digit[i] == 0) ++i;
    return DIGITS - i;
}

// ---- builders ----

bool make_at(Cell* c, bool negative, std::string_view currency, std::string_view integer_digits,
             std::string_view fraction_digits) {
    Amount a;
    a.negative = negative;
    if (!currency.empty()) {
        int32_t i = system_settings::find_currency(currency);
        if (i < 1 || i > 255) return false;
        a.currency = uint8_t(i);
    }
    int at = INT_DIGITS - 1;
    for (size_t k = integer_digits.size(); k-- > 0;) {
        char ch = integer_digits[k];
        if (ch == '\'') continue;
        if (at < 0) {
            if (ch != '0') return false;
            continue;
        }
        a.digit[at--] = uint8_t(ch - '0');
    }
    at = INT_DIGITS;
    for (char ch : fraction_digits) {
        if (ch == '\'') continue;
        if (at >= DIGITS) break;
        a.digit[at++] = uint8_t(ch - '0');
    }
    write(c, a);
    return true;
}

Cell* make_from_digits(Cell* c, bool negative, uint8_t currency, const uint8_t packed[11]) {
    uint8_t bytes[16];
    uint32_t header = T_MONEY | (negative ? NEGATIVE : 0);
    std::memcpy(bytes, &header, 4);
    bytes[4] = currency;
    std::memcpy(bytes + 5, packed, 11);
    std::memcpy(c, bytes, 16);
    return c;
}

Amount from_integer(int32_t n) {
    Amount a;
    a.negative = n < 0;
    int64_t m = n < 0 ? -int64_t(n) : int64_t(n);
    for (int i = INT_DIGITS - 1; m > 0; --i, m /= 10) a.digit[i] = uint8_t(m % 10);
    return a;
}

Amount from_float(double x, bool strict) {
    Amount a;
    if (x == 0) return a;
    double m = std::fabs(x);
    if (!std::isfinite(x) || m < 0.00001 || m >= 1e17) {
        Cell v = cells::make_float(x);
        raise_bad_make(&v);
    }
    math::DecimalDigits d = math::decimal_digits(x, 0);
    // value = 0.d1 d2 ... dn x 10^e: digit k (0-based) has the place e - 1 - k.
    int fraction_count = d.count - d.exponent;
    if (strict && fraction_count > FRACTION_DIGITS) {
        Cell v = cells::make_float(x);
        raise_bad_make(&v);
    }
    a.negative = x < 0;
    for (int k = 0; k < d.count; ++k) {
        int place = d.exponent - 1 - k;  // 0 the units digit, -1 the first fraction digit
        int at = INT_DIGITS - 1 - place;
        if (at >= DIGITS) break;
        if (at >= 0) a.digit[at] = uint8_t(d.digits[k] - '0');
    }
    return a;
}

double to_float(const Amount& a) {
    if (zero_q(a)) return 0.0;
    std::string s = plain_text(a);
    double x = 0;
    std::from_chars(s.data(), s.data() + s.size(), x);
    return x;
}

int32_t to_integer(const Amount& a) {
    int64_t v = 0;
    for (int i = 0; i < INT_DIGITS; ++i) {
        v = v * 10 + a.digit[i];
        if (v > int64_t(INT32_MAX) + 1) raise_type_limit(T_INTEGER);
    }
    bool negative = a.negative && !zero_q(a);
    if (!negative && v > INT32_MAX) raise_type_limit(T_INTEGER);
    return int32_t(negative ? -v : v);
}

bool scan_text(std::string_view text, Cell* out) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::string_view code;
    size_t dollar = text.find('$');
    if (dollar != std::string_view::npos) {
        code = text.substr(0, dollar);
        for (char ch : code)
            if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))) return false;
        text.remove_prefix(dollar + 1);
    }
    size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view{}
                                                                : text.substr(point + 1);
    bool any = false;
    for (std::string_view part : {whole, fraction})
        for (char ch : part) {
            if (ch == '\'') continue;
            if (ch < '0' || ch > '9') return false;
            any = true;
        }
    if (!any) return false;
    return make_at(out, negative, code, whole, fraction);
}

// ---- signs and currencies ----

int32_t sign(const Cell* c) {
    if (zero_q(read(c))) return 0;
    return get_sign(c) ? -1 : 1;
}

void set_sign(Cell* c, bool negative) {
    c->header = negative ? c->header | NEGATIVE : c->header & ~NEGATIVE;
}

void set_currency(Cell* c, uint8_t currency) { c->data1 = (c->data1 & ~0xFFu) | currency; }

int32_t find_currency(const Cell* word) {
    return system_settings::find_currency(symbol::spelling(cells::word_symbol(*word)));
}

bool same_currency_q(const Amount& a, const Amount& b, bool strict) {
    if (strict) return a.currency == b.currency;
    return a.currency == 0 || b.currency == 0 || a.currency == b.currency;
}

// ---- arithmetic ----

bool add(const Amount& a, const Amount& b, Amount& out) {
    if (zero_q(a)) {
        out = b;
        return true;
    }
    if (zero_q(b)) {
        out = a;
        return true;
    }
    if (a.negative == b.negative) {
        out.negative = a.negative;
        return add_magnitudes(a.digit, b.digit, out.digit);
    }
    // Opposite signs: the smaller magnitude from the larger, with the larger's sign.
    int c = compare_magnitudes(a.digit, b.digit, DIGITS);
    const Amount& big = c >= 0 ? a : b;
    const Amount& small = c >= 0 ? b : a;
    subtract_magnitudes(big.digit, small.digit, out.digit, DIGITS);
    out.negative = c == 0 ? false : big.negative;
    return true;
}

bool subtract(const Amount& a, const Amount& b, Amount& out) {
    Amount nb = b;
    nb.negative = !b.negative;
    return add(a, nb, out);
}

bool multiply(const Amount& a, const Amount& b, Amount& out) {
    out = Amount{};
    if (zero_q(a) || zero_q(b)) return true;
    // The whole product, then the five extra fraction digits dropped; only the result's size
    // decides an overflow.
    uint32_t work[PRODUCT_DIGITS] = {};
    for (int i = DIGITS - 1; i >= 0; --i) {
        uint32_t carry = 0;
        for (int j = DIGITS - 1; j >= 0; --j) {
            uint32_t s = work[i + j + 1] + uint32_t(a.digit[i]) * b.digit[j] + carry;
            work[i + j + 1] = s % 10;
            carry = s / 10;
        }
        work[i] += carry;
    }
    // Digits 0..43; the amount's digits are 17..38 (the last 5 are the dropped fraction).
    constexpr int first = PRODUCT_DIGITS - FRACTION_DIGITS - DIGITS;
    for (int k = 0; k < first; ++k)
        if (work[k]) return false;
    for (int k = 0; k < DIGITS; ++k) out.digit[k] = uint8_t(work[first + k]);
    out.negative = a.negative != b.negative;
    return true;
}

bool divide(const Amount& a, const Amount& b, Amount& out, bool remainder) {
    out = Amount{};
    if (zero_q(a)) return true;
    if (significant_digits(a) - significant_digits(b) + 6 > DIGITS) return false;
    // The dividend, shifted left by five places for a quotient with five fraction digits.
    uint8_t dividend[SHIFTED_DIGITS] = {};
    int n = remainder ? DIGITS : SHIFTED_DIGITS;
    std::memcpy(dividend, a.digit, DIGITS);
    // Long division by repeated subtraction: the window holds one digit more than the divisor.
    uint8_t window[DIGITS + 1] = {}, divisor[DIGITS + 1] = {};
    std::memcpy(divisor + 1, b.digit, DIGITS);
    uint8_t quotient[SHIFTED_DIGITS] = {};
    for (int i = 0; i < n; ++i) {
        std::memmove(window, window + 1, DIGITS);
        window[DIGITS] = dividend[i];
        uint8_t q = 0;
        while (compare_magnitudes(window, divisor, DIGITS + 1) >= 0) {
            subtract_magnitudes(window, divisor, window, DIGITS + 1);
            ++q;
        }
        quotient[i] = q;
    }
    if (remainder) {
        // What is left of the dividend, in the same places.
        if (window[0]) return false;
        std::memcpy(out.digit, window + 1, DIGITS);
        out.negative = a.negative;
        return true;
    }
    for (int k = 0; k < n - DIGITS; ++k)
        if (quotient[k]) return false;
    std::memcpy(out.digit, quotient + (n - DIGITS), DIGITS);
    out.negative = a.negative != b.negative;
    return true;
}

Cell* do_math(int op) {
    Cell* left = stack::arg(0);
    const Cell* right = stack::arg(1);
    bool left_money = left->is(T_MONEY), right_money = right->is(T_MONEY);
    if (op < OP_ADD || op > OP_REM) {
        Cell name, dt = cells::make_datatype(T_MONEY);
        stack::frame_name(&name);
        stack::raise_error("script", "cannot-use", {&name, &dt});
    }
    if (!right->is(T_INTEGER) && !right->is(T_FLOAT) && !right->is(T_PERCENT) && !right_money)
        raise_invalid_type(right->type());
    if (!left->is(T_INTEGER) && !left->is(T_FLOAT) && !left->is(T_PERCENT) && !left_money)
        raise_invalid_type(left->type());
    if (op == OP_MUL && left_money && right_money) raise_invalid_type(T_MONEY);
    if ((op == OP_DIV || op == OP_REM) && !left_money) raise_invalid_type(T_MONEY);
    Amount a = operand(left), b = operand(right);
    if (!same_currency_q(a, b, false)) raise_wrong_denom(left, right);
    uint8_t currency = b.currency ? b.currency : a.currency;
    Amount r;
    bool ok = true;
    switch (op) {
    case OP_ADD: ok = add(a, b, r); break;
    case OP_SUB: ok = subtract(a, b, r); break;
    case OP_MUL: ok = multiply(a, b, r); break;
    default:
        if (zero_q(b)) stack::raise_error("math", "zero-divide");
        ok = divide(a, b, r, op == OP_REM);
    }
    if (!ok) raise_type_limit();
    r.currency = currency;
    if (op == OP_DIV && right_money) {
        *left = cells::make_float(to_float(r));
        return left;
    }
    return write(left, r);
}

int32_t compare_amounts(const Amount& a, const Amount& b) {
    bool na = a.negative && !zero_q(a), nb = b.negative && !zero_q(b);
    if (na != nb) return na ? -1 : 1;
    int c = compare_magnitudes(a.digit, b.digit, DIGITS);
    return na ? -c : c;
}

// ---- text ----

std::string text(const Cell* value, bool grouped, bool all) {
    Amount a = read(value);
    std::string s;
    if (a.negative && !zero_q(a)) s += '-';
    if (a.currency) s += system_settings::currency_code(a.currency);
    s += '$';
    int first = 0;
    while (first < INT_DIGITS - 1 && a.digit[first] == 0) ++first;
    // A "'" after every position p (1-based) with (p + 1) divisible by 3, except after the last
    // integer digit: threes counted from the point, and one after the third fraction digit.
    auto group_after = [&](int p) { return grouped && (p + 1) % 3 == 0 && p != INT_DIGITS; };
    for (int i = first; i < INT_DIGITS; ++i) {
        s += char('0' + a.digit[i]);
        if (group_after(i + 1)) s += '\'';
    }
    int n = 2;
    if (system_settings::money_digits.is(T_INTEGER)) n = cells::integer(system_settings::money_digits);
    if (all || n > FRACTION_DIGITS) n = FRACTION_DIGITS;
    if (n < 1) return s;
    s += '.';
    for (int k = 0; k < n; ++k) {
        s += char('0' + a.digit[INT_DIGITS + k]);
        if (k + 1 < n && group_after(INT_DIGITS + k + 1)) s += '\'';
    }
    return s;
}

// ---- actions ----

namespace {

// One item of a make block: an amount (integer! exactly, float! strictly).
Amount block_amount(const Cell* c) {
    if (c->is(T_INTEGER)) return from_integer(cells::integer(*c));
    if (c->is(T_FLOAT)) return from_float(c->get_float(), true);
    raise_bad_make(c);
}

Cell* from_block(const Cell* spec) {
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*spec));
    uint32_t length = b->length(), index = cells::series_index(*spec);
    uint32_t count = index >= length ? 0 : length - index;
    Cell items[3];
    if (count < 1 || count > 3) raise_bad_make(spec);
    for (uint32_t i = 0; i < count; ++i) items[i] = b->head_cell()[index + i];
    uint32_t at = 0;
    uint8_t currency = 0;
    if (items[0].is(T_WORD)) {
        int32_t c = find_currency(&items[0]);
        if (c < 1 || c > 255) raise_bad_make(&items[0]);
        currency = uint8_t(c);
        at = 1;
    }
    if (count - at < 1 || count - at > 2) raise_bad_make(spec);
    Amount a = block_amount(&items[at]);
    if (at + 1 < count) {
        const Cell& f = items[at + 1];
        if (!items[at].is(T_INTEGER) || !f.is(T_INTEGER) || cells::integer(f) < 0 ||
            cells::integer(f) > 99999)
            raise_bad_make(&f);
        Amount fraction = from_integer(cells::integer(f));
        // The integer's digits moved five places right: 50 is 0.00050.
        Amount shifted;
        std::memcpy(shifted.digit + FRACTION_DIGITS, fraction.digit, DIGITS - FRACTION_DIGITS);
        shifted.negative = a.negative;
        Amount sum;
        if (!add(a, shifted, sum)) raise_type_limit();
        a = sum;
    }
    a.currency = currency;
    return write(stack::arguments, a);
}

}  // namespace

Cell* to(const Cell*, const Cell* spec, uint32_t) {
    Amount a;
    switch (spec->type()) {
    case T_MONEY: *stack::arguments = *spec; return stack::arguments;
    case T_INTEGER: a = from_integer(cells::integer(*spec)); break;
    case T_FLOAT: case T_PERCENT: a = from_float(spec->get_float(), true); break;
    default: {
        if (!text_type_q(spec->type())) raise_bad_to(spec);
        Cell result;
        if (!scan_text(string::to_utf8(spec), &result)) raise_bad_to(spec);
        *stack::arguments = result;
        return stack::arguments;
    }
    }
    return write(stack::arguments, a);
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    if (spec->is(T_WORD)) {
        int32_t c = find_currency(spec);
        if (c < 1 || c > 255) raise_bad_make(spec);
        Amount a;
        a.currency = uint8_t(c);
        return write(stack::arguments, a);
    }
    if (spec->is(T_BLOCK)) return from_block(spec);
    return to(proto, spec, type);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->data1 ^ value->data2 ^ value->data3 ^ (get_sign(value) ? 1u : 0u));
        *stack::arguments = cells::make_unset();
        return stack::arguments;
    }
    auto next = [&] { return uint32_t(secure ? random::secure_int31() : random::next()); };
    Amount bound = read(value), r = bound;
    int i = 0;
    while (i < DIGITS && bound.digit[i] == 0) ++i;
    bool below = false;
    for (; i < DIGITS; ++i) {
        uint8_t d = bound.digit[i];
        if (below) {
            r.digit[i] = uint8_t(next() % 10);
            continue;
        }
        while (true) {
            uint8_t g = uint8_t(next() % (d + 1u));
            if (g == d && next() % 1000 != next() % 1000) continue;
            r.digit[i] = g;
            below = g < d;
            break;
        }
    }
    return write(stack::arguments, r);
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string t = text(value, true, false);
    string::concatenate_cstring(out, t);
    return limit - int32_t(t.size());
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    std::string t = text(value, false, all);
    string::concatenate_cstring(out, t);
    return limit - int32_t(t.size());
}

namespace {

// 1 code, 2 amount, else 0.
int32_t element_index(const Cell* e) {
    if (e->is(T_INTEGER)) {
        int32_t i = cells::integer(*e);
        return i == 1 || i == 2 ? i : 0;
    }
    if (!e->is(T_WORD)) return 0;
    uint32_t s = symbol::resolve(cells::word_symbol(*e));
    if (s == symbol::resolve(runtime_words::sym::code2) ||
        s == symbol::resolve(runtime_words::sym::code))
        return 1;
    if (s == symbol::resolve(runtime_words::sym::amount)) return 2;
    return 0;
}

Cell* push_element(const Cell* value, int32_t index) {
    Amount a = read(value);
    if (index == 2) {
        a.currency = 0;
        return write(stack::push_slot(), a);
    }
    if (!a.currency) {
        Cell none = cells::make_none();
        return stack::push(&none);
    }
    Cell w = *word::load(system_settings::currency_code(a.currency));
    return stack::push(&w);
}

}  // namespace

Cell* eval_path(const PathStep& step) {
    Cell path = step.path ? *step.path : cells::make_none(), element = *step.element;
    int32_t index = element_index(step.element);
    if (!index) stack::raise_error("script", "invalid-path", {&path, &element});
    if (step.set_value) stack::raise_error("script", "bad-path-set", {&path, &element});
    return push_element(step.value, index);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    int32_t i = index_value ? element_index(index_value) : (index == 1 || index == 2 ? index : 0);
    if (!i) {
        Cell e = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&e});
    }
    return push_element(value, i);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    bool strict = op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND;
    if (strict && !b->is(T_MONEY)) return 1;
    Amount x = read(a);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
                    op == COMP_SAME || op == COMP_FIND || op == COMP_FIND_EXACT ||
                    op == COMP_FIND_NOCASE;
    Amount y;
    switch (b->type()) {
    case T_MONEY: {
        y = read(b);
        if (op == COMP_SORT || op == COMP_CASE_SORT) {
            if (x.currency != y.currency) {
                if (!x.currency || !y.currency) return x.currency ? 1 : -1;
                int c = system_settings::currency_code(x.currency)
                            .compare(system_settings::currency_code(y.currency));
                return c < 0 ? -1 : 1;
            }
        } else if (equality) {
            bool strict_currency = op == COMP_STRICT_EQUAL || op == COMP_SAME ||
                                   (op == COMP_FIND && y.currency != 0);
            if (!same_currency_q(x, y, strict_currency)) return 1;
        } else if (!same_currency_q(x, y, false)) {
            raise_wrong_denom(a, b);
        }
        break;
    }
    case T_INTEGER: y = from_integer(cells::integer(*b)); break;
    case T_FLOAT: case T_PERCENT: {
        // Numbers outside the money range are never equal to an amount; they order by sign.
        double d = b->get_float(), m = std::fabs(d);
        if (std::isnan(d)) return 1;
        if (m >= 1e17) return d > 0 ? -1 : 1;
        if (m != 0 && m < 0.00001) {
            int32_t s = zero_q(x) ? 0 : (x.negative ? -1 : 1);
            return s != 0 ? s : (d > 0 ? -1 : 1);
        }
        y = from_float(d, false);
        // Fraction digits past the fifth were dropped: the number lies beyond y, away from zero.
        if (!exact_q(d)) {
            int c = compare_amounts(x, y);
            if (c != 0) return c;
            return d > 0 ? -1 : 1;
        }
        break;
    }
    default: return NOT_COMPARABLE;
    }
    return compare_amounts(x, y);
}

void absolute() {
    Cell* v = stack::arguments;
    set_sign(v, false);
}

Cell* negate(Cell* value) {
    set_sign(value, !get_sign(value));
    return value;
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    Amount v = read(value);
    if (zero_q(v)) return value;
    Amount s = from_integer(1);
    if (scale) {
        switch (scale->type()) {
        case T_MONEY: s = read(scale); break;
        case T_INTEGER: s = from_integer(cells::integer(*scale)); break;
        case T_FLOAT: s = from_float(scale->get_float(), true); break;
        default: {
            Cell name, dt = cells::make_datatype(scale->type());
            stack::frame_name(&name);
            stack::raise_error("script", "not-related", {&name, &dt});
        }
        }
    }
    s.negative = false;
    s.currency = 0;
    if (zero_q(s)) return value;
    Amount a = v;
    a.negative = false;
    a.currency = 0;
    Amount r, m;
    if (!divide(a, s, r, true)) raise_type_limit();
    if (zero_q(r)) return value;
    subtract(s, r, m);
    bool negative = v.negative;
    // Whether the multiple of the scale below the amount is an even one.
    auto even_multiple = [&] {
        Amount below, q;
        subtract(a, r, below);
        if (!divide(below, s, q, false)) raise_type_limit();
        return q.digit[INT_DIGITS - 1] % 2 == 0;
    };
    // An exact half: the remainder is as far from the multiple below as from the one above.
    int c = compare_amounts(r, m);
    bool tie = c == 0;
    bool up;
    if (down) up = false;
    else if (floor) up = negative;
    else if (ceiling) up = !negative;
    else if (tie && even) up = !even_multiple();
    else if (tie && half_down) up = false;
    else if (tie && half_ceiling) up = !negative;
    else up = c >= 0;
    Amount result;
    bool ok = up ? add(a, m, result) : (subtract(a, r, result), true);
    if (!ok) raise_type_limit();
    result.negative = negative;
    result.currency = v.currency;
    return write(value, result);
}

bool even_q(const Cell* value) { return read(value).digit[INT_DIGITS - 1] % 2 == 0; }
bool odd_q(const Cell* value) { return !even_q(value); }

void add_action() { do_math(OP_ADD); }
void subtract_action() { do_math(OP_SUB); }
void multiply_action() { do_math(OP_MUL); }
void divide_action() { do_math(OP_DIV); }
void remainder_action() { do_math(OP_REM); }

namespace {

// The lexer's maker (true on failure): the integer digits run up to the decimal mark, the
// fraction digits from after it to the end.
bool make_from_text(Cell* c, bool negative, const uint8_t* currency, const uint8_t* digits,
                    const uint8_t* mark, const uint8_t* end) {
    auto view = [](const uint8_t* a, const uint8_t* b) {
        return std::string_view(reinterpret_cast<const char*>(a), size_t(b - a));
    };
    std::string_view code = currency ? view(currency, currency + 3) : std::string_view();
    std::string_view fraction = mark < end ? view(mark + 1, end) : std::string_view();
    return !make_at(c, negative, code, view(digits, mark), fraction);
}

}  // namespace

void init() {
    system_settings::reset();
    lexer::money_make_at = make_from_text;
    type_registry::register_type(
        T_MONEY, 0, "money!",
        {.make = make, .random = random, .to = to, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = compare, .absolute = absolute, .add = add_action,
         .divide = divide_action, .multiply = multiply_action, .negate = negate,
         .remainder = remainder_action, .round = round, .subtract = subtract_action,
         .even_q = even_q, .odd_q = odd_q, .pick = pick});
}

}  // namespace kov::money
