// char!: conversions, forming and molding, comparison, arithmetic and registration.
#include "datatypes/char.hpp"

#include <cmath>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_actions.hpp"

namespace kov::character {

namespace {

[[noreturn]] void raise_bad_to_arg(const Cell* spec) {
    collector::Root s(*spec);
    Cell t = cells::make_datatype(T_CHAR);
    stack::raise_error("script", "bad-to-arg", {&t, s.get()});
}

[[noreturn]] void raise_out_of_range(const Cell* spec) {
    collector::Root s(*spec);
    stack::raise_error("script", "out-of-range", {s.get()});
}

uint32_t checked(int64_t n, const Cell* spec) {
    if (n < 0 || n > int64_t(MAX_CODE_POINT)) raise_out_of_range(spec);
    return uint32_t(n);
}

// The code point of the UTF-8 sequence at the head of a binary!; 0xFFFE when it is invalid.
uint32_t from_utf8(const Cell* bin) {
    SeriesBuffer* b = memory::buffer_of(bin->data2);
    uint32_t head = std::min(bin->data1, b->used());
    const uint8_t* p = b->head_ptr() + head;
    int32_t available = int32_t(b->used() - head);
    if (available <= 0) return 0xFFFE;
    int size = unicode::utf8_char_size_q(*p);
    int32_t count = std::min<int32_t>(size ? size : 1, available);
    int32_t cp = unicode::decode_utf8_status(p, count);
    return cp < 0 ? 0xFFFE : uint32_t(cp);
}

}  // namespace

Cell* push(uint32_t cp) {
    Cell c = make_cell(cp);
    return stack::push(&c);
}

Cell* make_in(const Cell* block, uint32_t cp) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = make_cell(cp);
    return c;
}

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    static Cell result;
    uint32_t cp;
    uint32_t t = spec->type();
    if (string::text_type_q(t)) {
        if (string::at_tail_q(spec)) raise_bad_to_arg(spec);
        cp = string::char_at(spec, spec->data1);
    } else if (t == T_CHAR || t == T_INTEGER) {
        cp = checked(int32_t(spec->data2), spec);
    } else if (t == T_FLOAT || t == T_PERCENT) {
        double d = spec->get_float();
        if (!(d > -1.0 && d < double(MAX_CODE_POINT) + 1.0)) raise_out_of_range(spec);
        cp = uint32_t(std::trunc(d));
    } else if (t == T_BINARY) {
        cp = from_utf8(spec);
    } else {
        raise_bad_to_arg(spec);
    }
    result = make_cell(cp);
    return &result;
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    string::append_char(memory::buffer_of(out->data2), value->data2);
    return limit - 1;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, bool, int32_t limit, int32_t) {
    uint32_t cp = value->data2;
    string::concatenate_cstring(out, "#\"", 2);
    string::mold_escape_char(out, cp, all);
    string::concatenate_cstring(out, "\"", 1);
    return limit - 4;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && !b->is(T_CHAR)) return 1;
    if (!b->is(T_CHAR) && !b->is(T_INTEGER)) return NOT_COMPARABLE;
    int32_t x = int32_t(a->data2), y = int32_t(b->data2);
    return x < y ? -1 : x > y ? 1 : 0;
}

void do_math(int op) {
    Cell* a = stack::arg(0);
    const Cell* b = stack::arg(1);
    int32_t n;
    switch (b->type()) {
        case T_CHAR: case T_INTEGER: n = int32_t(b->data2); break;
        case T_FLOAT: {
            double d = b->get_float();
            if (integer::overflow_q(d)) stack::raise_error("math", "overflow");
            n = int32_t(std::trunc(d));
            break;
        }
        case T_VECTOR: stack::raise_error("internal", "not-done");  // vector arithmetic
        default: {
            Cell t = cells::make_datatype(b->type());
            stack::raise_error("script", "invalid-type", {&t});
        }
    }
    Cell r = cells::make_integer(0);
    int32_t v = integer::do_math_op(int32_t(a->data2), n, op, op == OP_DIV ? nullptr : &r);
    if (!r.is(T_INTEGER) || v < 0 || uint32_t(v) > MAX_CODE_POINT)
        stack::raise_error("math", "overflow");
    *a = make_cell(uint32_t(v));
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
    type_registry::register_type(T_CHAR, T_INTEGER, "char!", {
        .make = make, .random = inherit, .to = make, .form = form, .mold = mold,
        .compare = compare, .absolute = inherit, .add = add, .divide = divide,
        .multiply = multiply, .remainder = remainder, .subtract = subtract, .even_q = inherit,
        .odd_q = inherit, .and_t = and_t, .or_t = or_t, .xor_t = xor_t});
}

}  // namespace kov::character
