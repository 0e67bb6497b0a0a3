// Shared routines of the math and loop natives: numeric argument conversions, max/min, loop
// counts, word assignment and the loop steps.
#include "evaluator/natives_support.hpp"

#include <algorithm>
#include <cmath>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/math.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "datatypes/block.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/series.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"

namespace kov::natives {

namespace {

using collector::Root;

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

[[noreturn]] void type_limit() {
    Cell dt = cells::make_datatype(T_INTEGER);
    stack::raise_error("script", "type-limit", {&dt});
}

bool is_number(uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }
bool is_nan(const Cell* c) { return (c->is(T_FLOAT) || c->is(T_PERCENT)) && std::isnan(c->get_float()); }
bool is_scalar(uint32_t t) { return t == T_INTEGER || t == T_FLOAT; }
bool is_compound(uint32_t t) { return t == T_PAIR || t == T_POINT2D || t == T_POINT3D || t == T_TUPLE; }

// A number as a 32-bit integer: floats truncate toward zero; NaN or out of range raises
// type-limit.
int32_t to_int(const Cell* c) {
    if (c->is(T_INTEGER)) return cells::integer(*c);
    double d = c->get_float();
    if (std::isnan(d) || d < -2147483648.0 || d >= 2147483648.0) type_limit();
    return int32_t(std::trunc(d));
}
double to_double(const Cell* c) { return c->is(T_INTEGER) ? double(cells::integer(*c)) : c->get_float(); }

inline int32_t pick_int(int32_t x, int32_t y, bool max_q) { return max_q ? std::max(x, y) : std::min(x, y); }
// A NaN in the second operand replaces the component.
inline double pick_float(double x, double y, bool max_q) {
    if (std::isnan(y)) return y;
    return max_q ? (y > x ? y : x) : (y < x ? y : x);
}

// The point2D! of a pair!, in place.
void pair_to_point(Cell* c) { point2d::make_at(c, float(pair::x(c)), float(pair::y(c))); }

// Component i of a point (or a pair seen as a point), or the scalar.
double point_part(const Cell* c, int i) {
    if (c->is(T_PAIR)) return double(i == 0 ? pair::x(c) : pair::y(c));
    if (c->is(T_POINT2D) || c->is(T_POINT3D)) return double(point::component(c, i));
    return to_double(c);
}

// Rule of the compound values; false when the pair of datatypes is not one of them.
bool compound_max_min(Cell* a, const Cell* b, bool max_q) {
    uint32_t tb = b->type();
    switch (a->type()) {
    case T_PAIR:
        if (tb == T_PAIR || tb == T_INTEGER ||
            (tb == T_FLOAT && !std::isnan(b->get_float()) && b->get_float() == std::trunc(b->get_float()))) {
            int32_t bx = tb == T_PAIR ? pair::x(b) : to_int(b);
            int32_t by = tb == T_PAIR ? pair::y(b) : bx;
            pair::make_at(a, pick_int(pair::x(a), bx, max_q), pick_int(pair::y(a), by, max_q));
            return true;
        }
        if (tb != T_FLOAT && tb != T_POINT2D) return false;
        pair_to_point(a);
        [[fallthrough]];
    case T_POINT2D:
        if (tb != T_POINT2D && tb != T_PAIR && !is_scalar(tb)) return false;
        for (int i = 0; i < 2; i++)
            point::set_component(a, i, float(pick_float(point::component(a, i), point_part(b, i), max_q)));
        return true;
    case T_POINT3D:
        if (tb != T_POINT3D && !is_scalar(tb)) return false;
        for (int i = 0; i < 3; i++)
            point::set_component(a, i, float(pick_float(point::component(a, i), point_part(b, i), max_q)));
        return true;
    case T_TUPLE: {
        if (tb != T_TUPLE && !is_scalar(tb)) return false;
        tuple::Bytes x = tuple::bytes(a);
        tuple::Bytes y{};
        if (tb == T_TUPLE) {
            y = tuple::bytes(b);
        } else {
            int32_t n = std::clamp(to_int(b), 0, 255);
            std::fill(std::begin(y.b), std::end(y.b), uint8_t(n));
            y.count = x.count;
        }
        uint32_t count = std::max(x.count, y.count);
        uint8_t out[tuple::MAX_BYTES] = {};
        for (uint32_t i = 0; i < count; i++) {
            uint8_t p = i < x.count ? x.b[i] : 0, q = i < y.count ? y.b[i] : 0;
            out[i] = max_q ? std::max(p, q) : std::min(p, q);
        }
        *a = tuple::make_cell(out, count);
        return true;
    }
    default: return false;
    }
}

// The loop series and the loop word (or word block) below the frame base.
inline Cell* loop_series() { return stack::arguments - 2; }
inline Cell* loop_word() { return stack::arguments - 1; }

void assign(const Cell* word, const Cell* value) {
    Root w(*word), v(*value);
    context::set(w.get(), v.get());
}

bool assignable(uint32_t t) { return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD; }

// The map's next live pair at or after the series index: its key and value set to the two words,
// the index moved past it; false when no pair is left.
bool map_step(Cell* series, const Cell* words) {
    uint32_t len = uint32_t(series::buffer_length(series));
    uint32_t i = cells::series_index(*series);
    Handle node = cells::series_node(*series);
    while (i + 1 < len && memory::buffer_of(node)->head_cell()[i + 1].type() == 0) i += 2;
    if (i + 1 >= len) return false;
    Root key(memory::buffer_of(node)->head_cell()[i]), value(memory::buffer_of(node)->head_cell()[i + 1]);
    if (key->is(T_SET_WORD)) key->header = (key->header & ~CELL_TYPE_MASK) | T_WORD;
    key->header &= ~CELL_NEW_LINE;
    Root ws(*words);
    Root w0(*block::ks_abs_at(ws.get(), cells::series_index(*ws)));
    Root w1(*block::ks_abs_at(ws.get(), cells::series_index(*ws) + 1));
    if (!assignable(w0->type())) stack::raise_error("script", "invalid-arg", {w0.get()});
    if (!assignable(w1->type())) stack::raise_error("script", "invalid-arg", {w1.get()});
    assign(w0.get(), key.get());
    assign(w1.get(), value.get());
    cells::set_series_index(*loop_series(), i + 2);
    return true;
}

}  // namespace

// ---- numeric arguments ----

Cell* float_arg() {
    Cell* c = stack::arg(0);
    if (c->is(T_INTEGER)) *c = cells::make_float(double(cells::integer(*c)));
    else if (c->is(T_PERCENT)) c->header = (c->header & ~CELL_TYPE_MASK) | T_FLOAT;
    return c;
}

void degrees_to_radians(bool radians, int32_t mode) {
    Cell* c = float_arg();
    if (!radians && c->is(T_FLOAT)) c->set_float(math::normalize_degrees(c->get_float(), mode));
}

void arc_function(bool radians, int32_t kind) {
    Cell* c = float_arg();
    double x = c->get_float(), r;
    switch (kind) {
    case ARC_TANGENT: r = std::atan(x); break;
    case ARC_COSINE: r = std::acos(x); break;
    case ARC_SINE: r = std::asin(x); break;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    if (!radians) r = r * 180.0 / 3.141592653589793;
    *stack::arguments = cells::make_float(r);
}

void max_min(bool max_q) {
    Cell* a = stack::arg(0);
    Cell* b = stack::arg(1);
    if (is_nan(a) && is_number(b->type())) return;
    if (is_nan(b) && is_number(a->type())) {
        *a = *b;
        return;
    }
    if (is_scalar(a->type()) && is_compound(b->type())) std::swap(*a, *b);
    if (compound_max_min(a, b, max_q)) return;
    bool lesser = actions::compare(stack::arg(0), stack::arg(1), COMP_LESSER) != 0;
    if (max_q == lesser) *stack::arguments = *stack::arg(1);
}

// ---- loop counts ----

void loop_count(Cell* count) {
    if (count->is(T_FLOAT)) *count = cells::make_integer(to_int(count));
}

void loop_count_arg() { loop_count(stack::arg(0)); }

// ---- assigning words ----

void set_words_from_block(const Cell* words, const Cell* values, int32_t count, bool any, bool some) {
    Root ws(*words), vs(*values);
    for (int32_t i = 0; i < count; i++) {
        Root w(*block::ks_abs_at(ws.get(), cells::series_index(*ws) + uint32_t(i)));
        if (!assignable(w->type())) stack::raise_error("script", "invalid-arg", {w.get()});
        uint32_t at = cells::series_index(*vs) + uint32_t(i);
        Root v(at < uint32_t(series::buffer_length(vs.get())) ? *block::ks_abs_at(vs.get(), at)
                                                              : cells::make_none());
        v->header &= ~CELL_NEW_LINE;
        if (!any && v->is(T_UNSET)) stack::raise_error("script", "need-value", {w.get()});
        if (some && v->is(T_NONE)) continue;
        assign(w.get(), v.get());
    }
}

void set_words_from_series(const Cell* words, const Cell* series, int32_t count) {
    Root ws(*words), s(*series);
    for (int32_t i = 0; i < count; i++) {
        Root w(*block::ks_abs_at(ws.get(), cells::series_index(*ws) + uint32_t(i)));
        if (!assignable(w->type())) stack::raise_error("script", "invalid-arg", {w.get()});
        Root index(cells::make_integer(i + 1));
        Root v(*actions::pick_dispatch(s.get(), i + 1, index.get()));
        assign(w.get(), v.get());
    }
}

// ---- loop steps ----

bool foreach_more_q(const Cell* series) {
    uint32_t t = series->type();
    if (t == T_IMAGE || t == T_VECTOR) not_done();
    if (!series::cell_kind(t) && !series::text_kind(t) && t != T_BINARY && t != T_MAP) return false;
    return int64_t(cells::series_index(*series)) < int64_t(series::buffer_length(series));
}

bool foreach_step() {
    Cell* s = loop_series();
    if (!foreach_more_q(s)) return false;
    if (series::cell_kind(s->type())) {
        Root v(*block::ks_abs_at(s, cells::series_index(*s)));
        v->header &= ~CELL_NEW_LINE;
        assign(loop_word(), v.get());
    } else {
        Root copy(*s), index(cells::make_integer(1));
        Root v(*actions::pick_dispatch(copy.get(), 1, index.get()));
        assign(loop_word(), v.get());
    }
    s = loop_series();
    cells::set_series_index(*s, cells::series_index(*s) + 1);
    return true;
}

bool foreach_step_multi(int32_t n) {
    Cell* s = loop_series();
    if (n <= 0 || !foreach_more_q(s)) return false;
    if (s->is(T_MAP)) {
        if (n != 2) stack::raise_error("script", "invalid-arg", {loop_word()});
        return map_step(s, loop_word());
    }
    if (series::cell_kind(s->type())) set_words_from_block(loop_word(), s, n, true, false);
    else set_words_from_series(loop_word(), s, n);
    s = loop_series();
    cells::set_series_index(*s, cells::series_index(*s) + uint32_t(n));
    return true;
}

bool forall_loop_q(bool advance) {
    Cell* s = loop_series();
    if (s->is(T_IMAGE)) not_done();
    if (advance) cells::set_series_index(*s, cells::series_index(*s) + 1);
    return int64_t(cells::series_index(*s)) >= int64_t(series::buffer_length(s));
}

void forall_step() { assign(loop_word(), loop_series()); }

void remove_each_step(int32_t count, const Cell* result) {
    if (!cells::truthy(*result) || count <= 0) return;
    Cell* s = loop_series();
    uint32_t index = cells::series_index(*s);
    uint32_t back = std::min(index, uint32_t(count));
    if (back == 0) return;
    cells::set_series_index(*s, index - back);
    const ActionTable& t = actions::get_handler(s, A_REMOVE);
    Root part(cells::make_integer(int32_t(back)));
    t.remove(loop_series(), back > 1 ? part.get() : nullptr, nullptr);
    s = loop_series();
    cells::set_series_index(*s, index - back);
}

void repeat_step(Cell* word) {
    Root w(*word);
    const Cell* v = context::get(w.get());
    if (!v->is(T_INTEGER)) return;
    Root n(cells::make_integer(int32_t(uint32_t(cells::integer(*v)) + 1u)));
    context::set(w.get(), n.get());
}

}  // namespace kov::natives
