// Operator fast paths: inline integer, float and block cases, and the generic path through a
// native frame and the action front-ends.
#include "evaluator/actions_ops.hpp"

#include "core/cells.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "datatypes/block.hpp"
#include "evaluator/actions.hpp"

namespace kov::actions {

namespace {

// The front-ends called here take no refinements.
constexpr int32_t NO_REFS[1] = {-1};

[[noreturn]] void bad_code() { runtime::runtime_error(FATAL_NO_SWITCH, 0); }

// The action of a math code.
int math_slot(int32_t code) {
    switch (code) {
    case OP_ADD: return A_ADD;
    case OP_SUB: return A_SUBTRACT;
    case OP_MUL: return A_MULTIPLY;
    case OP_OR: return A_OR_T;
    case OP_AND: return A_AND_T;
    case OP_XOR: return A_XOR_T;
    default: bad_code();
    }
}

// Two integers in 32 bits; add, subtract and multiply overflow to the float! of the result.
Cell int_math(int32_t code, int32_t a, int32_t b) {
    int32_t r;
    switch (code) {
    case OP_ADD:
        if (__builtin_add_overflow(a, b, &r)) return cells::make_float(double(a) + double(b));
        return cells::make_integer(r);
    case OP_SUB:
        if (__builtin_sub_overflow(a, b, &r)) return cells::make_float(double(a) - double(b));
        return cells::make_integer(r);
    case OP_MUL:
        if (__builtin_mul_overflow(a, b, &r)) return cells::make_float(double(a) * double(b));
        return cells::make_integer(r);
    case OP_OR: return cells::make_integer(int32_t(uint32_t(a) | uint32_t(b)));
    case OP_AND: return cells::make_integer(int32_t(uint32_t(a) & uint32_t(b)));
    case OP_XOR: return cells::make_integer(int32_t(uint32_t(a) ^ uint32_t(b)));
    default: bad_code();
    }
}

// Runs `body` in a native frame named by `word` holding the operands; the result becomes the
// new top cell. The operands are copied first: they may lie where the frame is built.
template <class F> void in_frame(const Cell* word, const Cell* a, const Cell* b, F&& body) {
    Cell x = *a, y = b ? *b : Cell{};
    stack::mark_native(word);
    stack::push(&x);
    if (b) stack::push(&y);
    Status s = body();
    // A delivered transfer has already removed the frame.
    stack::raise_if_pending(s);
    stack::unwind();
}

void call_action(const Cell* word, int slot, const Cell* a, const Cell* b) {
    in_frame(word, a, b, [slot] { return front_ends[slot - 1](NO_REFS); });
}

void generic_compare(int32_t code, const Cell* word, const Cell* a, const Cell* b) {
    in_frame(word, a, b, [code] {
        compare_to_logic(code);
        return Status::normal;
    });
}

// The truth of code on two integers, or -1 when the code has no integer fast path.
int int_compare(int32_t code, int32_t a, int32_t b) {
    switch (code) {
    case COMP_EQUAL: case COMP_STRICT_EQUAL: return a == b;
    case COMP_NOT_EQUAL: return a != b;
    case COMP_LESSER: return a < b;
    case COMP_LESSER_EQUAL: return a <= b;
    case COMP_GREATER: return a > b;
    case COMP_GREATER_EQUAL: return a >= b;
    default: return -1;
    }
}

// Pushes the logic! of code on the operands.
void push_compare(int32_t code, const Cell* word, const Cell* left, const Cell* right) {
    if (left->is(T_INTEGER) && right->is(T_INTEGER)) {
        int t = int_compare(code, cells::integer(*left), cells::integer(*right));
        if (t >= 0) {
            Cell r = cells::make_logic(t != 0);
            stack::push(&r);
            return;
        }
    }
    generic_compare(code, word, left, right);
}

// Pops the pushed logic! and answers its truth.
bool pop_truth() {
    bool t = cells::logic(*stack::top_value());
    stack::pop(1);
    return t;
}

}  // namespace

// ---- math ----

void math_op(int32_t code, const Cell* word, const Cell* left, const Cell* right) {
    int slot = math_slot(code);
    if (left->is(T_INTEGER) && right->is(T_INTEGER)) {
        Cell r = int_math(code, cells::integer(*left), cells::integer(*right));
        stack::push(&r);
        return;
    }
    if (left->is(T_FLOAT) && right->is(T_FLOAT) && code <= OP_MUL) {
        double a = left->get_float(), b = right->get_float();
        Cell r = cells::make_float(code == OP_ADD ? a + b : code == OP_SUB ? a - b : a * b);
        stack::push(&r);
        return;
    }
    call_action(word, slot, left, right);
}

void math_op_int(int32_t code, const Cell* word, const Cell* left, int32_t right) {
    Cell r = cells::make_integer(right);
    int slot = math_slot(code);
    if (left->is(T_INTEGER)) {
        Cell v = int_math(code, cells::integer(*left), right);
        stack::push(&v);
        return;
    }
    call_action(word, slot, left, &r);
}

void math_op_top(int32_t code, const Cell* word, const Cell* right) {
    Cell left = *stack::top_value(), r = *right;
    stack::pop(1);
    math_op(code, word, &left, &r);
}

void math_op_top_int(int32_t code, const Cell* word, int32_t right) {
    Cell left = *stack::top_value();
    stack::pop(1);
    math_op_int(code, word, &left, right);
}

// ---- comparisons ----

void compare_op(int32_t code, const Cell* word, const Cell* left, const Cell* right) {
    push_compare(code, word, left, right);
}

void compare_op_int(int32_t code, const Cell* word, const Cell* left, int32_t right) {
    Cell r = cells::make_integer(right);
    push_compare(code, word, left, &r);
}

bool compare_op_test(int32_t code, const Cell* word, const Cell* left, const Cell* right,
                     bool polarity) {
    push_compare(code, word, left, right);
    return pop_truth() != polarity;
}

bool compare_op_test_int(int32_t code, const Cell* word, const Cell* left, int32_t right,
                         bool polarity) {
    Cell r = cells::make_integer(right);
    return compare_op_test(code, word, left, &r, polarity);
}

bool compare_op_set(int32_t code, const Cell* word, const Cell* left, const Cell* right) {
    push_compare(code, word, left, right);
    bool t = pop_truth();
    *stack::arguments = cells::make_logic(t);
    return t;
}

bool compare_op_set_int(int32_t code, const Cell* word, const Cell* left, int32_t right) {
    Cell r = cells::make_integer(right);
    return compare_op_set(code, word, left, &r);
}

void compare_op_top(int32_t code, const Cell* word, const Cell* right) {
    Cell left = *stack::top_value(), r = *right;
    stack::pop(1);
    push_compare(code, word, &left, &r);
}

void compare_op_top_int(int32_t code, const Cell* word, int32_t right) {
    Cell left = *stack::top_value(), r = cells::make_integer(right);
    stack::pop(1);
    push_compare(code, word, &left, &r);
}

// ---- paths and navigation ----

void pick_path_int(const Cell* value, int32_t n, const Cell* word) {
    if (value->is(T_BLOCK)) {
        int32_t len = block::ks_length_q(value);
        Cell r = cells::make_none();
        if (n >= 1 && n <= len) r = *block::ks_abs_at(value, cells::series_index(*value) + uint32_t(n - 1));
        stack::push(&r);
        return;
    }
    Cell i = cells::make_integer(n);
    call_action(word, A_EVAL_PATH, value, &i);
}

void series_op(const Cell* value, int32_t code, const Cell* word) {
    static constexpr int slots[] = {0, A_LENGTH_Q, A_INDEX_Q, A_HEAD_Q, A_TAIL_Q,
                                    A_NEXT, A_BACK, A_HEAD, A_TAIL};
    if (code < SOP_LENGTH_Q || code > SOP_TAIL) bad_code();
    if (!value->is(T_BLOCK)) {
        call_action(word, slots[code], value, nullptr);
        return;
    }
    int32_t len = block::ks_length_q(value);
    if (len < 0) len = 0;
    uint32_t index = cells::series_index(*value);
    Cell r = *value;
    switch (code) {
    case SOP_LENGTH_Q: r = cells::make_integer(len); break;
    case SOP_INDEX_Q: r = cells::make_integer(int32_t(index + 1)); break;
    case SOP_HEAD_Q: r = cells::make_logic(index == 0); break;
    case SOP_TAIL_Q: r = cells::make_logic(len <= 0); break;
    case SOP_NEXT: if (len > 0) cells::set_series_index(r, index + 1); break;
    case SOP_BACK: cells::set_series_index(r, index == 0 ? 0 : index - 1); break;
    case SOP_HEAD: cells::set_series_index(r, 0); break;
    case SOP_TAIL: cells::set_series_index(r, index + uint32_t(len)); break;
    }
    stack::push(&r);
}

}  // namespace kov::actions
