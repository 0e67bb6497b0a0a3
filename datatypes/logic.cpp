// logic!: true and false (data1 1 or 0), the shared true-value and false-value cells, and the
// language's truth rule.
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "evaluator/random.hpp"

namespace kov {

Cell true_value = cells::make_logic(true);
Cell false_value = cells::make_logic(false);

namespace logic {

Cell* box(bool value) {
    *stack::arguments = cells::make_logic(value);
    return stack::arguments;
}

Cell* make_in(const Cell* block, bool value) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = cells::make_logic(value);
    return c;
}

Cell* push(bool value) {
    Cell c = cells::make_logic(value);
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

static Cell* answer(bool b) { return b ? &true_value : &false_value; }

static Cell* to(const Cell*, const Cell* spec, uint32_t) {
    if (spec->is(T_LOGIC)) return answer(cells::logic(*spec));
    return answer(!spec->is(T_NONE));
}

static Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    switch (spec->type()) {
    case T_INTEGER: return answer(cells::integer(*spec) != 0);
    case T_FLOAT: case T_PERCENT: return answer(spec->get_float() != 0.0);  // NaN counts as true
    default: return to(proto, spec, type);
    }
}

static Cell* random_(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->data1);
        return &unset_value;
    }
    int32_t n = secure ? random::secure_int31() : random::next();
    return answer(n > 0x3FFFFFFF);
}

static int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    bool t = cells::logic(*value);
    string::concatenate_cstring(out, t ? "true" : "false", t ? 4 : 5);
    return limit - (t ? 4 : 5);
}

static int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    if (!all) return form(value, out, false, limit);
    bool t = cells::logic(*value);
    string::concatenate_cstring(out, t ? "#(true)" : "#(false)", t ? 7 : 8);
    return limit - (t ? 7 : 8);
}

static int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_LOGIC)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
        return int32_t(cells::logic(*a)) - int32_t(cells::logic(*b));
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
        Cell type = cells::make_datatype(b->type());
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
static Cell* complement(Cell* value) { return answer(!cells::logic(*value)); }

void init() {
    true_value = cells::make_logic(true);
    false_value = cells::make_logic(false);
    type_registry::register_type(T_LOGIC, 0, "logic!",
                                 {.make = make, .random = random_, .to = to, .form = form,
                                  .mold = mold, .compare = compare, .and_t = and_t,
                                  .complement = complement, .or_t = or_t, .xor_t = xor_t});
}

}  // namespace logic
}  // namespace kov
