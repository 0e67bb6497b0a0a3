// pair!: cells, arithmetic per coordinate with promotion to point2D!, the constructor, text,
// comparison, rounding, path access, pick, reverse and random draws.
#include "datatypes/pair.hpp"

#include <cmath>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string.hpp"
#include "evaluator/random.hpp"

namespace kov::pair {

namespace {

Cell make_cell(int32_t x, int32_t y) { return Cell{T_PAIR, 0, uint32_t(x), uint32_t(y)}; }

[[noreturn]] void raise_with_type(const char* id, uint32_t type) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", id, {&dt});
}

[[noreturn]] void raise_invalid_arg(const Cell* value) {
    Cell v = *value;
    stack::raise_error("script", "invalid-arg", {&v});
}

int32_t word_field(const Cell* word) {
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    if (s == symbol::resolve(runtime_words::sym::x)) return 1;
    if (s == symbol::resolve(runtime_words::sym::y)) return 2;
    return 0;
}

// Replaces argument 0 and argument 1 by point2D! values of the given coordinates and runs the
// point2D! arithmetic.
Cell* redo_as_point(int op, int32_t lx, int32_t ly, int32_t rx, int32_t ry) {
    point2d::make_at(stack::arg(0), float(lx), float(ly));
    point2d::make_at(stack::arg(1), float(rx), float(ry));
    return point2d::do_math(op);
}

}  // namespace

// ---- cells ----

Cell* make_at(Cell* c, int32_t x, int32_t y) {
    cell::set_type(c, T_PAIR);
    c->data1 = 0;
    c->data2 = uint32_t(x);
    c->data3 = uint32_t(y);
    return c;
}

Cell* make_in(const Cell* block, int32_t x, int32_t y) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = make_cell(x, y);
    return c;
}

Cell* push(int32_t x, int32_t y) {
    Cell c = make_cell(x, y);
    return stack::push(&c);
}

// ---- helpers ----

Cell* do_math(int op) {
    Cell* left = stack::arg(0);
    const Cell* right = stack::arg(1);
    int32_t rx, ry;
    switch (right->type()) {
    case T_PAIR: rx = x(right); ry = y(right); break;
    case T_INTEGER: rx = ry = cells::integer(*right); break;
    case T_POINT2D:
        arg_to_point2d(0);
        return point2d::do_math(op);
    case T_FLOAT: case T_PERCENT: {
        double f = right->get_float();
        if (op == OP_MUL || op == OP_DIV) {
            if (op == OP_MUL ? !std::isfinite(f) : std::isnan(f)) raise_invalid_arg(right);
            double lx = x(left), ly = y(left);
            point2d::make_at(left, float(op == OP_MUL ? lx * f : lx / f),
                             float(op == OP_MUL ? ly * f : ly / f));
            return left;
        }
        if (!std::isfinite(f)) raise_invalid_arg(right);
        rx = ry = float_::to_int32_unchecked(f);
        break;
    }
    default: raise_with_type("invalid-type", right->type());
    }
    int32_t lx = x(left), ly = y(left);
    Cell scratch_x = cells::make_unset(), scratch_y = cells::make_unset();
    int32_t nx = integer::do_math_op(lx, rx, op, &scratch_x);
    int32_t ny = integer::do_math_op(ly, ry, op, &scratch_y);
    if (scratch_x.is(T_FLOAT) || scratch_y.is(T_FLOAT)) return redo_as_point(op, lx, ly, rx, ry);
    left->data2 = uint32_t(nx);
    left->data3 = uint32_t(ny);
    return left;
}

void arg_to_point2d(int i) {
    Cell* c = stack::arg(i);
    point2d::make_at(c, float(x(c)), float(y(c)));
}

int32_t field_index(const Cell* word, const Cell* value) {
    int32_t i = word_field(word);
    if (i) return i;
    Cell w = *word, v = *value;
    if (value->is(T_PAIR)) stack::raise_error("script", "cannot-use", {&w, &v});
    stack::raise_error("script", "invalid-path", {&v, &w});
}

int32_t number_to_int(const Cell* c) {
    if (c->is(T_INTEGER)) return cells::integer(*c);
    return float_::to_int32_unchecked(c->get_float());
}

bool scan_text(std::string_view text, int32_t& out_x, int32_t& out_y) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !blank(text[end])) ++end;
    std::string_view t = text.substr(i, end - i);
    size_t sep = t.find_first_of("xX", 1);
    if (sep == std::string_view::npos) return false;
    return integer::scan_text(t.substr(0, sep), out_x) &&
           integer::scan_text(t.substr(sep + 1), out_y);
}

// ---- actions ----

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    int32_t px = 0, py = 0;
    switch (spec->type()) {
    case T_PAIR: *stack::arguments = *spec; return stack::arguments;
    case T_INTEGER: px = py = cells::integer(*spec); break;
    case T_FLOAT: px = py = float_::to_int32_unchecked(spec->get_float()); break;
    case T_BLOCK: {
        SeriesBuffer* b = memory::buffer_of(cells::series_node(*spec));
        uint32_t length = b->length(), index = cells::series_index(*spec);
        uint32_t count = index >= length ? 0 : length - index;
        const Cell* items = b->head_cell() + index;
        auto number = [](const Cell& c) { return c.is(T_INTEGER) || c.is(T_FLOAT); };
        if (count < 2 || !number(items[0]) || !number(items[1])) {
            Cell v = *spec;
            stack::raise_error("syntax", "malconstruct", {&v});
        }
        px = number_to_int(items);
        py = number_to_int(items + 1);
        break;
    }
    case T_POINT2D: {
        float fx = point::component(spec, 0), fy = point::component(spec, 1);
        if (!std::isfinite(fx) || !std::isfinite(fy)) raise_invalid_arg(spec);
        px = float_::to_int32_unchecked(fx);
        py = float_::to_int32_unchecked(fy);
        break;
    }
    case T_STRING:
        if (scan_text(string::to_utf8(spec), px, py)) break;
        [[fallthrough]];
    default: {
        Cell dt = cells::make_datatype(T_PAIR), v = *spec;
        stack::raise_error("script", "bad-to-arg", {&dt, &v});
    }
    }
    *stack::arguments = make_cell(px, py);
    return stack::arguments;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->data2 ^ value->data3);
        *stack::arguments = cells::make_unset();
        return stack::arguments;
    }
    int32_t px = x(value), py = y(value);
    if (px) px = random::int_(secure, px);
    if (py) py = random::int_(secure, py);
    *stack::arguments = make_cell(px, py);
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string text(integer::form_signed(x(value)).view());
    text += 'x';
    text += integer::form_signed(y(value)).view();
    string::concatenate_cstring(out, text);
    return limit - int32_t(text.size());
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    int32_t index = 0;
    if (e->is(T_INTEGER)) index = cells::integer(*e);
    else if (e->is(T_WORD)) index = word_field(e);
    if (index != 1 && index != 2) {
        Cell path = step.path ? *step.path : cells::make_none(), element = *e;
        stack::raise_error("script", "invalid-path", {&path, &element});
    }
    if (!step.set_value)
        return float_::push_field(cells::make_integer(index == 1 ? x(step.value) : y(step.value)));
    if (!step.set_value->is(T_INTEGER)) raise_with_type("invalid-type", step.set_value->type());
    Cell old = *step.value;
    (index == 1 ? step.value->data2 : step.value->data3) = step.set_value->data2;
    return float_::finish_path_set(step, old);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (b->is(T_POINT2D)) {
        Cell copy = *a;  // a local copy: the caller's cell keeps its type
        point2d::make_at(&copy, float(x(a)), float(y(a)));
        return point2d::compare(&copy, b, op);
    }
    if (!b->is(T_PAIR)) return NOT_COMPARABLE;
    int32_t ax = x(a), bx = x(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    int32_t ay = y(a), by = y(b);
    return (ay > by) - (ay < by);
}

void absolute() {
    Cell* v = stack::arguments;
    v->data2 = uint32_t(integer::abs(x(v)));
    v->data3 = uint32_t(integer::abs(y(v)));
}

Cell* negate(Cell* value) {
    if (x(value) == INT32_MIN || y(value) == INT32_MIN) stack::raise_error("math", "overflow");
    value->data2 = uint32_t(-x(value));
    value->data3 = uint32_t(-y(value));
    return value;
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    if (scale && scale->is(T_MONEY)) {
        Cell name, dt = cells::make_datatype(T_MONEY);
        stack::frame_name(&name);
        stack::raise_error("script", "not-related", {&name, &dt});
    }
    Cell sx, sy;
    const Cell* scale_x = scale;
    const Cell* scale_y = scale;
    if (scale && scale->is(T_PAIR)) {
        sx = cells::make_integer(x(scale));
        sy = cells::make_integer(y(scale));
        scale_x = &sx;
        scale_y = &sy;
    }
    Cell cx = cells::make_integer(x(value)), cy = cells::make_integer(y(value));
    integer::round(&cx, scale_x, even, down, half_down, floor, ceiling, half_ceiling);
    integer::round(&cy, scale_y, even, down, half_down, floor, ceiling, half_ceiling);
    value->data2 = uint32_t(number_to_int(&cx));
    value->data3 = uint32_t(number_to_int(&cy));
    return value;
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
    if (index_value && index_value->is(T_WORD)) index = field_index(index_value, value);
    if (index != 1 && index != 2) {
        Cell e = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&e});
    }
    return float_::push_field(cells::make_integer(index == 1 ? x(value) : y(value)));
}

Cell* reverse(Cell* value, const Cell*, const Cell*) {
    std::swap(value->data2, value->data3);
    return value;
}

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
        T_PAIR, 0, "pair!",
        {.make = make, .random = random, .to = make, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = compare, .absolute = absolute, .add = add,
         .divide = divide, .multiply = multiply, .negate = negate, .remainder = remainder,
         .round = round, .subtract = subtract, .and_t = and_t, .or_t = or_t, .xor_t = xor_t,
         .pick = pick, .reverse = reverse});
}

}  // namespace kov::pair
