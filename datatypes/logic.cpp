// logic!: true and false (data1 1 or 0), the shared true-value and false-value cells, and the
// language's truth rule.
#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "evaluator/random.hpp"

namespace kov {

Cell true_value{T_LOGIC, 1, 0, 0};
Cell false_value{T_LOGIC, 0, 0, 0};

namespace logic {

Cell* box(bool value) {
    *stack::arguments = Cell{T_LOGIC, value ? 1u : 0u, 0, 0};
    return stack::arguments;
}

Cell* make_in(const Cell* block, bool value) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = Cell{T_LOGIC, value ? 1u : 0u, 0, 0};
    return c;
}

Cell* push(bool value) {
    Cell c{T_LOGIC, value ? 1u : 0u, 0, 0};
    return stack::push(&c);
}

bool cell_true_q(const Cell* c, bool check, const Cell* name) {
    if (check && c->is(T_UNSET)) stack::raise_error("script", "no-value", {name});
    return truthy(c);
}

bool top_false_q() { return !truthy(stack::top_value()); }
bool top_true_q() { return !top_false_q(); }

bool true_q() {
    if (stack::arguments->is(T_UNSET)) stack::raise_error("script", "no-return");
    return truthy(stack::arguments);
}

bool false_q() { return !truthy(stack::arguments); }

static void to(const Cell*, const Cell* spec, uint32_t) {
    if (spec->is(T_LOGIC)) *stack::arguments = *spec;
    else *stack::arguments = spec->is(T_NONE) ? false_value : true_value;
}

static void make(const Cell* proto, const Cell* spec, uint32_t type) {
    switch (spec->type()) {
    case T_INTEGER: *stack::arguments = spec->data2 != 0 ? true_value : false_value; return;
    case T_FLOAT: case T_PERCENT: {
        double d = spec->get_float();
        *stack::arguments = d != 0.0 ? true_value : false_value;  // NaN counts as true
        return;
    }
    default: to(proto, spec, type);
    }
}

static void random_(const Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->data1);
        stack::arguments->header = T_UNSET;
        return;
    }
    int32_t n = secure ? random::secure_int31() : random::next();
    *stack::arguments = n > 0x3FFFFFFF ? true_value : false_value;
}

static int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    bool t = value->data1 != 0;
    string::concatenate_cstring(out, t ? "true" : "false", t ? 4 : 5);
    return limit - (t ? 4 : 5);
}

static int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    if (!all) return form(value, out, false, limit);
    bool t = value->data1 != 0;
    string::concatenate_cstring(out, t ? "#(true)" : "#(false)", t ? 7 : 8);
    return limit - (t ? 7 : 8);
}

static int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_LOGIC)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
        return int32_t(a->data1) - int32_t(b->data1);
    default:
        return NOT_COMPARABLE;
    }
}

// Combines argument 0 with argument 1 under a math-op (and~, or~, xor~).
void do_math(int op) {
    Cell* a = stack::arg(0);
    Cell* b = stack::arg(1);
    if (!b->is(T_LOGIC)) {
        Cell name;
        stack::frame_name(&name);
        Cell type{T_DATATYPE, b->type(), 0, 0};
        Cell param;
        stack::param_word(1, &param);  // the second parameter
        stack::raise_error("script", "expect-arg", {&name, &type, &param});
    }
    switch (op) {
    case OP_AND: a->data1 &= b->data1; break;
    case OP_OR: a->data1 |= b->data1; break;
    case OP_XOR: a->data1 ^= b->data1; break;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
}

static void and_t() { do_math(OP_AND); }
static void or_t() { do_math(OP_OR); }
static void xor_t() { do_math(OP_XOR); }
static void complement() { stack::arguments->data1 ^= 1u; }

void init() {
    true_value = Cell{T_LOGIC, 1, 0, 0};
    false_value = Cell{T_LOGIC, 0, 0, 0};
#define _ KOV_NO
    const Routine list[] = {
        R(make), R(random_), _, R(to), R(form), R(mold), _, _, R(compare),
        _, _, _, _, _, _, _, _, _, _, _,
        R(and_t), R(complement), R(or_t), R(xor_t),
        _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _,
        _, _, _, _, _, _, _, _, _, _, _,
    };
#undef _
    type_registry::register_type(T_LOGIC, 0, "logic!", list);
}

}  // namespace logic
}  // namespace kov
