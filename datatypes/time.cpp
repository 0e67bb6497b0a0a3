// time!: cells, fields, text, the constructor, arithmetic, rounding, path access and pick.
#include "datatypes/time.hpp"

#include <cmath>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/date.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"

namespace kov::time_ {

namespace {

bool text_type_q(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

[[noreturn]] void raise_not_related(const char* action) {
    Cell word = *word::load(action);
    Cell dt = cells::make_datatype(T_TIME);
    stack::raise_error("script", "not-related", {&word, &dt});
}

// The field a path element or pick index names: 1..3, or 0 for a word that names none.
int32_t word_field(const Cell* word) {
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    if (s == symbol::resolve(runtime_words::sym::hour)) return 1;
    if (s == symbol::resolve(runtime_words::sym::minute)) return 2;
    if (s == symbol::resolve(runtime_words::sym::second)) return 3;
    return 0;
}

// [h m s]: at most three elements, h and m integer!, s integer! or float!; only the first may be
// negative, and then the whole sum is.
double from_block(const Cell* spec) {
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*spec));
    uint32_t length = b->length(), index = cells::series_index(*spec);
    uint32_t count = index >= length ? 0 : length - index;
    if (count > 3) raise_bad_to(spec);
    const Cell* items = b->head_cell() + index;
    double parts[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        const Cell& c = items[i];
        if (c.is(T_INTEGER)) parts[i] = cells::integer(c);
        else if (i == 2 && c.is(T_FLOAT)) parts[i] = c.get_float();
        else raise_bad_to(spec);
        if (i > 0 && parts[i] < 0) raise_bad_to(spec);
    }
    bool negative = parts[0] < 0;
    double s = std::fabs(parts[0]) * SECONDS_PER_HOUR + parts[1] * SECONDS_PER_MINUTE + parts[2];
    return negative ? -s : s;
}

// The seconds counted in whole microseconds, as far as a double holds them; beyond that, whole
// seconds.
double to_microseconds(double s) {
    if (s < 4503599627.0) return std::round(s * 1e6) / 1e6;
    return std::round(s);
}

// with_field on a time that is not negative.
double with_field_forward(double s, int32_t index, double v) {
    switch (index) {
    case 1: return s - std::floor(s / SECONDS_PER_HOUR) * SECONDS_PER_HOUR + v * SECONDS_PER_HOUR;
    case 2:
        return s - std::floor(std::fmod(s, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE) *
                       SECONDS_PER_MINUTE +
               v * SECONDS_PER_MINUTE;
    default: return s - std::fmod(s, SECONDS_PER_MINUTE) + v;
    }
}

}  // namespace

// ---- cells ----

Cell* make_at(Cell* c, double seconds) {
    *c = cells::make_float(seconds, T_TIME);
    return c;
}

Cell* make_in(const Cell* block, double seconds) {
    return make_at(buffer::alloc_block_tail(block), seconds);
}

Cell* push(double seconds) { return make_at(stack::push_slot(), seconds); }

// ---- fields ----

int32_t get_hours(double seconds) {
    return float_::to_int32_unchecked(std::trunc(seconds / SECONDS_PER_HOUR));
}

int32_t get_minutes(double seconds) {
    return int32_t(std::floor(std::fmod(std::fabs(seconds), SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
}

int32_t field_index(const Cell* word, const Cell* value) {
    int32_t i = word_field(word);
    if (i) return i;
    if (!value->is(T_TIME)) return -1;
    stack::raise_error("script", "cannot-use", {word, value});
}

Cell field(double seconds, int32_t index) {
    switch (index) {
    case 1: return cells::make_integer(get_hours(seconds));
    case 2: return cells::make_integer(get_minutes(seconds));
    default: return cells::make_float(std::fmod(seconds, SECONDS_PER_MINUTE));
    }
}

double with_field(double seconds, int32_t index, double value) {
    if (!std::signbit(seconds) || seconds == 0) return with_field_forward(seconds, index, value);
    return -with_field_forward(-seconds, index, index == 2 ? value : -value);
}

// ---- text ----

std::string text(double seconds) {
    std::string out;
    double s = seconds;
    if (s < 0) {
        out += '-';
        s = -s;
    }
    s = to_microseconds(s);
    out += integer::form_signed(float_::to_int32_unchecked(std::floor(s / SECONDS_PER_HOUR))).view();
    int32_t minutes = int32_t(std::floor(std::fmod(s, SECONDS_PER_HOUR) / SECONDS_PER_MINUTE));
    out += ':';
    if (minutes < 10) out += '0';
    out += integer::form_signed(minutes).view();
    out += ':';
    double f = std::fmod(s, SECONDS_PER_MINUTE);
    if (f < 0.000001) {
        out += "00";
    } else {
        float_::Text t = float_::form_float(f, float_::FORM_TIME);
        if (t.length == 1 || (t.length > 1 && t.text[1] == '.')) out += '0';
        out += t.view();
    }
    return out;
}

int32_t serialize(double seconds, Cell* out, int32_t part) {
    std::string t = text(seconds);
    string::concatenate_cstring(out, t);
    return part - int32_t(t.size());
}

bool scan_text(std::string_view text, double& seconds) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !blank(text[end])) ++end;
    std::string_view t = text.substr(i, end - i);
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    // Up to three fields separated by ':', the last of two or three may carry a fraction.
    double fields[3] = {0, 0, 0};
    int n = 0;
    size_t k = 0;
    while (true) {
        if (n == 3) return false;
        size_t start = k;
        while (k < t.size() && t[k] >= '0' && t[k] <= '9') ++k;
        if (k == start) return false;
        double v = 0;
        for (size_t j = start; j < k; ++j) v = v * 10 + (t[j] - '0');
        if (k < t.size() && t[k] == '.' && n >= 1) {
            size_t f = ++k;
            double scale = 0.1;
            while (k < t.size() && t[k] >= '0' && t[k] <= '9') {
                v += (t[k] - '0') * scale;
                scale /= 10;
                ++k;
            }
            if (k == f || k != t.size()) return false;
        }
        fields[n++] = v;
        if (k == t.size()) break;
        if (t[k] != ':') return false;
        ++k;
    }
    if (n < 2) return false;
    double s = fields[0] * SECONDS_PER_HOUR + fields[1] * SECONDS_PER_MINUTE + fields[2];
    seconds = negative ? -s : s;
    return true;
}

void raise_bad_to(const Cell* value) {
    Cell dt = cells::make_datatype(T_TIME);
    Cell v = *value;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    double s = 0;
    switch (spec->type()) {
    case T_TIME: *stack::arguments = *spec; return stack::arguments;
    case T_INTEGER: s = cells::integer(*spec); break;
    case T_FLOAT: case T_PERCENT: s = spec->get_float(); break;
    case T_BLOCK: case T_HASH: case T_PAREN: s = from_block(spec); break;
    default:
        if (!text_type_q(spec->type()) || !scan_text(string::to_utf8(spec), s)) raise_bad_to(spec);
    }
    return make_at(stack::arguments, s);
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    return serialize(value->get_float(), out, limit);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
    return serialize(value->get_float(), out, limit);
}

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    int32_t index = 0;
    if (e->is(T_INTEGER)) index = cells::integer(*e);
    else if (e->is(T_WORD)) index = word_field(e);
    if (index < 1 || index > 3) {
        Cell path = step.path ? *step.path : cells::make_none(), element = *e;
        stack::raise_error("script", "invalid-path", {&path, &element});
    }
    double s = step.value->get_float();
    if (!step.set_value) return float_::push_field(field(s, index));
    const Cell* v = step.set_value;
    double n;
    if (v->is(T_INTEGER)) n = cells::integer(*v);
    else if (index == 3 && v->is(T_FLOAT)) n = v->get_float();
    else {
        Cell value = *v;
        stack::raise_error("script", "invalid-arg", {&value});
    }
    Cell old = *step.value;
    step.value->set_float(with_field(s, index, n));
    return float_::finish_path_set(step, old);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    if (index_value && word::any_word_q(index_value->type()) && !index_value->is(T_ISSUE))
        index = field_index(index_value, value);
    if (index < 1 || index > 3) {
        Cell e = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&e});
    }
    return float_::push_field(field(value->get_float(), index));
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->is(T_MONEY)) {
        Cell name, dt = cells::make_datatype(T_MONEY);
        stack::frame_name(&name);
        stack::raise_error("script", "not-related", {&name, &dt});
    }
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    double s = value->is(T_INTEGER) ? double(cells::integer(*value)) : value->get_float();
    return make_at(value, s);
}

namespace {

// The whole seconds of the minute, nudged away from zero by a microsecond first.
int32_t whole_seconds(const Cell* value) {
    double s = value->get_float();
    s += s < 0 ? -0.000001 : 0.000001;
    return float_::to_int32_unchecked(std::fmod(s, SECONDS_PER_MINUTE));
}

}  // namespace

bool even_q(const Cell* value) { return (whole_seconds(value) & 1) == 0; }
bool odd_q(const Cell* value) { return (whole_seconds(value) & 1) != 0; }

void add() {
    if (stack::arg(1)->is(T_DATE)) {
        // The date goes to the left and adds the seconds.
        Cell seconds = *stack::arg(0);
        *stack::arg(0) = *stack::arg(1);
        *stack::arg(1) = seconds;
        date::add_subtract(OP_ADD);
        return;
    }
    float_::do_math(OP_ADD);
}

void subtract() {
    if (stack::arg(1)->is(T_DATE)) {
        Cell word = *word::load("subtract"), dt = cells::make_datatype(T_TIME);
        stack::raise_error("script", "not-related", {&word, &dt});
    }
    float_::do_math(OP_SUB);
}

void multiply() {
    if (stack::arg(1)->is(T_TIME)) raise_not_related("multiply");
    float_::do_math(OP_MUL);
}

void divide() {
    bool ratio = stack::arg(1)->is(T_TIME);
    Cell* r = float_::do_math(OP_DIV);
    if (ratio && r->is(T_TIME)) cell::set_type(r, T_FLOAT);
}

void init() {
    type_registry::register_type(
        T_TIME, T_FLOAT, "time!",
        {.make = make, .random = inherit, .to = make, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = inherit, .absolute = inherit, .add = add,
         .divide = divide, .multiply = multiply, .negate = inherit, .remainder = inherit,
         .round = round, .subtract = subtract, .even_q = even_q, .odd_q = odd_q, .pick = pick});
}

}  // namespace kov::time_
