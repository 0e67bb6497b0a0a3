// point2D! and point3D!: one set of routines over n components (2 or 3), and the two action
// tables built from it.
#include "datatypes/point.hpp"

#include <bit>
#include <cmath>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/float.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/random.hpp"

namespace kov {

namespace point {

float component(const Cell* c, int i) {
    uint32_t bits = i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3;
    return std::bit_cast<float>(bits);
}

void set_component(Cell* c, int i, float v) {
    uint32_t bits = std::bit_cast<uint32_t>(v);
    if (i == 0) c->data1 = bits;
    else if (i == 1) c->data2 = bits;
    else c->data3 = bits;
}

int scan_text(std::string_view text, double out[3]) {
    auto blank = +[](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t i = 0;
    while (i < text.size() && blank(text[i])) ++i;
    if (i == text.size() || text[i] != '(') return 0;
    size_t close = text.find(')', i);
    if (close == std::string_view::npos) return 0;
    std::string_view inside = text.substr(i + 1, close - i - 1);
    int n = 0;
    while (true) {
        size_t comma = inside.find(',');
        std::string_view item = inside.substr(0, comma);
        while (!item.empty() && blank(item.front())) item.remove_prefix(1);
        while (!item.empty() && blank(item.back())) item.remove_suffix(1);
        if (n == 3 || !float_::scan_text(item, out[n])) return 0;
        ++n;
        if (comma == std::string_view::npos) break;
        inside.remove_prefix(comma + 1);
    }
    return n >= 2 ? n : 0;
}

namespace {

uint32_t type_of(int n) { return n == 2 ? T_POINT2D : T_POINT3D; }

Cell make_cell(int n, const float* v) {
    Cell c{type_of(n), 0, 0, 0};
    for (int i = 0; i < n; ++i) set_component(&c, i, v[i]);
    return c;
}

[[noreturn]] void raise_type(const char* id, uint32_t type) {
    Cell dt = cells::make_datatype(type);
    stack::raise_error("script", id, {&dt});
}

[[noreturn]] void raise_bad_to(uint32_t type, const Cell* spec) {
    Cell dt = cells::make_datatype(type), v = *spec;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

[[noreturn]] void raise_money_scale() {
    Cell name, dt = cells::make_datatype(T_MONEY);
    stack::frame_name(&name);
    stack::raise_error("script", "not-related", {&name, &dt});
}

int32_t word_field(const Cell* word, int n) {
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    if (s == symbol::resolve(runtime_words::sym::x)) return 1;
    if (s == symbol::resolve(runtime_words::sym::y)) return 2;
    if (n == 3 && s == symbol::resolve(runtime_words::sym::z)) return 3;
    return 0;
}

int32_t field_index(const Cell* word, const Cell* value, int n) {
    int32_t i = word_field(word, n);
    if (i) return i;
    Cell w = *word, v = *value;
    if (value->is(type_of(n))) stack::raise_error("script", "cannot-use", {&w, &v});
    stack::raise_error("script", "invalid-path", {&v, &w});
}

float number_to_float32(const Cell* c) {
    return c->is(T_INTEGER) ? float(cells::integer(*c)) : float(c->get_float());
}

Cell* do_math(int op, int n) {
    Cell* left = stack::arg(0);
    const Cell* right = stack::arg(1);
    double r[3];
    switch (right->type()) {
    case T_POINT2D: case T_POINT3D:
        if (right->type() != type_of(n)) raise_type("invalid-type", right->type());
        for (int i = 0; i < n; ++i) r[i] = component(right, i);
        break;
    case T_PAIR:
        if (n != 2) raise_type("invalid-type", T_PAIR);
        r[0] = pair::x(right);
        r[1] = pair::y(right);
        break;
    case T_INTEGER: r[0] = r[1] = r[2] = cells::integer(*right); break;
    case T_FLOAT: case T_PERCENT: r[0] = r[1] = r[2] = float(right->get_float()); break;
    default: raise_type("invalid-type", right->type());
    }
    float out[3];
    for (int i = 0; i < n; ++i) out[i] = float(float_::do_math_op(component(left, i), r[i], op));
    *left = make_cell(n, out);
    return left;
}

Cell* negate(Cell* value, int n) {
    for (int i = 0; i < n; ++i) set_component(value, i, 0.0f - component(value, i));
    return value;
}

void absolute(int n) {
    Cell* v = stack::arguments;
    for (int i = 0; i < n; ++i) set_component(v, i, std::fabs(component(v, i)));
}

// The first n numbers of a block, each integer! or float!; otherwise syntax malconstruct.
void from_block(const Cell* spec, int n, float* out) {
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*spec));
    uint32_t length = b->length(), index = cells::series_index(*spec);
    uint32_t count = index >= length ? 0 : length - index;
    const Cell* items = b->head_cell() + index;
    bool ok = count >= uint32_t(n);
    for (int i = 0; ok && i < n; ++i) {
        if (items[i].is(T_INTEGER) || items[i].is(T_FLOAT)) out[i] = number_to_float32(items + i);
        else ok = false;
    }
    if (!ok) {
        Cell v = *spec;
        stack::raise_error("syntax", "malconstruct", {&v});
    }
}

Cell* make(const Cell* spec, int n) {
    uint32_t target = type_of(n);
    float v[3] = {0, 0, 0};
    switch (spec->type()) {
    case T_INTEGER: v[0] = v[1] = v[2] = float(cells::integer(*spec)); break;
    case T_FLOAT: v[0] = v[1] = v[2] = float(spec->get_float()); break;
    case T_BLOCK: from_block(spec, n, v); break;
    case T_PAIR: v[0] = float(pair::x(spec)); v[1] = float(pair::y(spec)); break;
    case T_POINT2D:
        if (n == 2) { *stack::arguments = *spec; return stack::arguments; }
        v[0] = component(spec, 0);
        v[1] = component(spec, 1);
        break;
    case T_POINT3D:
        if (n == 2) raise_bad_to(target, spec);
        *stack::arguments = *spec;
        return stack::arguments;
    case T_STRING: {
        double d[3];
        if (point::scan_text(string::to_utf8(spec), d) != n) raise_bad_to(target, spec);
        for (int i = 0; i < n; ++i) v[i] = float(d[i]);
        break;
    }
    default: raise_bad_to(target, spec);
    }
    *stack::arguments = make_cell(n, v);
    return stack::arguments;
}

Cell* draw(Cell* value, bool seed, bool secure, int n) {
    if (seed) {
        uint8_t bytes[12];
        std::memcpy(bytes, &value->data1, 12);
        random::seed(hashtable::murmur3(bytes, size_t(n) * 4));
        *stack::arguments = cells::make_unset();
        return stack::arguments;
    }
    float v[3];
    for (int i = 0; i < n; ++i) {
        float c = component(value, i);
        v[i] = c == 0 ? c : float(float_::random_draw(c, secure));
    }
    *stack::arguments = make_cell(n, v);
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, int32_t limit, int n) {
    std::string text = "(";
    for (int i = 0; i < n; ++i) {
        if (i) text += ", ";
        text += float_::form_float(component(value, i), float_::FORM_POINT).view();
    }
    text += ')';
    string::concatenate_cstring(out, text);
    return limit - int32_t(text.size());
}

int32_t compare(const Cell* a, const Cell* b, int32_t op, int n) {
    Cell other = *b;  // a local copy: the caller's cell keeps its type
    if (n == 2 && other.is(T_PAIR)) {
        float p[2] = {float(pair::x(b)), float(pair::y(b))};
        other = make_cell(2, p);
    }
    if (!other.is(type_of(n))) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL:
        for (int i = 0; i < n; ++i)
            if (!float_::almost_equal32(component(a, i), component(&other, i))) return 1;
        return 0;
    case COMP_STRICT_EQUAL:
        for (int i = 0; i < n; ++i)
            if (!(component(a, i) == component(&other, i))) return 1;
        return 0;
    case COMP_SAME:
        for (int i = 0; i < n; ++i)
            if (std::bit_cast<uint32_t>(component(a, i)) !=
                std::bit_cast<uint32_t>(component(&other, i)))
                return 1;
        return 0;
    default:
        for (int i = 0; i < n; ++i) {
            float x = component(a, i), y = component(&other, i);
            if (!float_::almost_equal32(x, y)) return (x > y) - (x < y);
        }
        return 0;
    }
}

// Rounds one component with a scale cell (null: the default scale).
float round_component(float c, const Cell* scale, bool even, bool down, bool half_down,
                      bool floor, bool ceiling, bool half_ceiling) {
    Cell v = cells::make_float(c);
    Cell s;
    if (scale && scale->is(T_INTEGER)) {
        s = cells::make_float(double(cells::integer(*scale)));
        scale = &s;
    }
    float_::round(&v, scale, even, down, half_down, floor, ceiling, half_ceiling);
    return float(v.get_float());
}

Cell* round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling, int n) {
    if (scale && scale->is(T_MONEY)) raise_money_scale();
    // The scale of each component: a point scale gives its matching component (a point2D! scale
    // leaves the z of a point3D! at the default scale); another scale serves every component.
    Cell per[3];
    const Cell* scales[3] = {scale, scale, scale};
    if (scale) {
        int given = 0;
        if (scale->is(T_POINT2D) || (n == 3 && scale->is(T_POINT3D))) {
            given = scale->is(T_POINT2D) ? 2 : 3;
            for (int i = 0; i < given; ++i) per[i] = cells::make_float(component(scale, i));
        } else if (n == 2 && (scale->is(T_POINT3D) || scale->is(T_PAIR))) {
            given = 2;
            for (int i = 0; i < 2; ++i)
                per[i] = scale->is(T_PAIR)
                             ? cells::make_float(i ? pair::y(scale) : pair::x(scale))
                             : cells::make_float(component(scale, i));
        }
        if (given) {
            for (int i = 0; i < n; ++i) scales[i] = i < given ? &per[i] : nullptr;
        }
    }
    float v[3];
    for (int i = 0; i < n; ++i)
        v[i] = round_component(component(value, i), scales[i], even, down, half_down, floor,
                               ceiling, half_ceiling);
    for (int i = 0; i < n; ++i) set_component(value, i, v[i]);
    return value;
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value, int n) {
    if (index_value && index_value->is(T_WORD)) index = field_index(index_value, value, n);
    if (index < 1 || index > n) {
        Cell e = index_value ? *index_value : cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&e});
    }
    return float_::push_field(cells::make_float(component(value, index - 1)));
}

Cell* eval_path(const PathStep& step, int n) {
    const Cell* e = step.element;
    int32_t index = 0;
    if (e->is(T_INTEGER)) index = cells::integer(*e);
    else if (e->is(T_WORD)) index = word_field(e, n);
    if (index < 1 || index > n) {
        Cell path = step.path ? *step.path : cells::make_none(), element = *e;
        stack::raise_error("script", "invalid-path", {&path, &element});
    }
    if (!step.set_value) return float_::push_field(cells::make_float(component(step.value, index - 1)));
    const Cell* v = step.set_value;
    if (!v->is(T_INTEGER) && !v->is(T_FLOAT)) raise_type("invalid-type", v->type());
    Cell old = *step.value;
    set_component(step.value, index - 1, number_to_float32(v));
    return float_::finish_path_set(step, old);
}

Cell* reverse(Cell* value, int n) {
    float a = component(value, 0), b = component(value, n - 1);
    set_component(value, 0, b);
    set_component(value, n - 1, a);
    return value;
}

}  // namespace
}  // namespace point

namespace point2d {

Cell* make_at(Cell* c, float x, float y) {
    float v[2] = {x, y};
    *c = point::make_cell(2, v);
    return c;
}
Cell* make_in(const Cell* block, float x, float y) {
    return make_at(buffer::alloc_block_tail(block), x, y);
}
Cell* push(float x, float y) { return make_at(stack::push_slot(), x, y); }
Cell* do_math(int op) { return point::do_math(op, 2); }
Cell* negate(Cell* value) { return point::negate(value, 2); }
int32_t field_index(const Cell* word, const Cell* value) { return point::field_index(word, value, 2); }
float number_to_float32(const Cell* c) { return point::number_to_float32(c); }
Cell* make(const Cell*, const Cell* spec, uint32_t) { return point::make(spec, 2); }
int32_t compare(const Cell* a, const Cell* b, int32_t op) { return point::compare(a, b, op, 2); }
int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    return point::form(value, out, limit, 2);
}

void init() {
    type_registry::register_type(
        T_POINT2D, 0, "point2D!",
        {.make = make,
         .random = +[](Cell* v, bool seed, bool secure, bool) { return point::draw(v, seed, secure, 2); },
         .to = make, .form = form,
         .mold = +[](const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
             return point::form(v, out, limit, 2);
         },
         .eval_path = +[](const PathStep& step) { return point::eval_path(step, 2); },
         .compare = compare, .absolute = +[] { point::absolute(2); },
         .add = +[] { do_math(OP_ADD); }, .divide = +[] { do_math(OP_DIV); },
         .multiply = +[] { do_math(OP_MUL); }, .negate = negate,
         .remainder = +[] { do_math(OP_REM); },
         .round = +[](Cell* v, const Cell* s, bool e, bool d, bool hd, bool f, bool c, bool hc) {
             return point::round(v, s, e, d, hd, f, c, hc, 2);
         },
         .subtract = +[] { do_math(OP_SUB); },
         .pick = +[](Cell* v, int32_t i, const Cell* iv) { return point::pick(v, i, iv, 2); },
         .reverse = +[](Cell* v, const Cell*, const Cell*) { return point::reverse(v, 2); }});
}

}  // namespace point2d

namespace point3d {

Cell* make_at(Cell* c, float x, float y, float z) {
    float v[3] = {x, y, z};
    *c = point::make_cell(3, v);
    return c;
}
Cell* make_in(const Cell* block, float x, float y, float z) {
    return make_at(buffer::alloc_block_tail(block), x, y, z);
}
Cell* push(float x, float y, float z) { return make_at(stack::push_slot(), x, y, z); }
Cell* do_math(int op) { return point::do_math(op, 3); }
Cell* negate(Cell* value) { return point::negate(value, 3); }
int32_t field_index(const Cell* word, const Cell* value) { return point::field_index(word, value, 3); }
float number_to_float32(const Cell* c) { return point::number_to_float32(c); }
Cell* make(const Cell*, const Cell* spec, uint32_t) { return point::make(spec, 3); }
int32_t compare(const Cell* a, const Cell* b, int32_t op) { return point::compare(a, b, op, 3); }
int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    return point::form(value, out, limit, 3);
}

void init() {
    type_registry::register_type(
        T_POINT3D, 0, "point3D!",
        {.make = make,
         .random = +[](Cell* v, bool seed, bool secure, bool) { return point::draw(v, seed, secure, 3); },
         .to = make, .form = form,
         .mold = +[](const Cell* v, Cell* out, bool, bool, bool, bool, int32_t limit, int32_t) {
             return point::form(v, out, limit, 3);
         },
         .eval_path = +[](const PathStep& step) { return point::eval_path(step, 3); },
         .compare = compare, .absolute = +[] { point::absolute(3); },
         .add = +[] { do_math(OP_ADD); }, .divide = +[] { do_math(OP_DIV); },
         .multiply = +[] { do_math(OP_MUL); }, .negate = negate,
         .remainder = +[] { do_math(OP_REM); },
         .round = +[](Cell* v, const Cell* s, bool e, bool d, bool hd, bool f, bool c, bool hc) {
             return point::round(v, s, e, d, hd, f, c, hc, 3);
         },
         .subtract = +[] { do_math(OP_SUB); },
         .pick = +[](Cell* v, int32_t i, const Cell* iv) { return point::pick(v, i, iv, 3); },
         .reverse = +[](Cell* v, const Cell*, const Cell*) { return point::reverse(v, 3); }});
}

}  // namespace point3d

}  // namespace kov
