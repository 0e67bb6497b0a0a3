// Function invocation: the argument list built once per function value from its spec, the
// fetching of arguments and refinements from the code block (or a path, or apply's modes), and
// the running of natives, actions, routines and function bodies. The entry points the rest of
// the evaluator calls are declared in evaluator/interpreter.hpp (eval_code, exec_function,
// call_with); this header holds the argument list and the operator call.
//
// The argument list is kept in cell 1 of the function value's extra block as a binary! of
// ArgEntry records (no value references inside, so the collector only keeps the bytes). It is
// written before any argument is fetched, so a nested call of the same function finds it
// complete.
#pragma once

#include <cstdint>

#include "core/cells.hpp"
#include "core/value.hpp"
#include "datatypes/native.hpp"
#include "evaluator/interpreter.hpp"

namespace kov::invocation {

enum ArgKind : uint8_t {
    ARG_EVAL = 0,        // spec word: evaluated
    ARG_GET = 1,         // spec get-word: the next value, unevaluated
    ARG_LIT = 2,         // spec lit-word: literal, with parens and get-words evaluated
    ARG_RETURN = 3,      // return: the result's type, never fetched
    ARG_REFINEMENT = 4,  // a refinement other than /local
};

struct ArgEntry {
    uint8_t kind;
    uint8_t pad[3];
    uint32_t symbol;  // the spelling of the argument or refinement word
    int32_t slot;     // function!, routine!: its slot in the function's context
    int32_t ordinal;  // native!, action!: a refinement's 0-based place among the refinements
    uint32_t types[2];  // bit t: datatype id t is admitted (two words: entries are 4-aligned)

    bool admits(uint32_t t) const { return t < 64 && ((types[t >> 5] >> (t & 31)) & 1); }
    void set_types(uint64_t m) {
        types[0] = uint32_t(m);
        types[1] = uint32_t(m >> 32);
    }
};
static_assert(sizeof(ArgEntry) == 24);

// The header of the list: what follows the entries.
struct ArgListHead {
    uint32_t count;        // entries
    uint32_t refinements;  // native!, action!: refinement count (the size of the refs array)
    uint32_t locals;       // function!, routine!: slots after the arguments (the first is /local
                           // when `has_local`), pushed as false or none! before the body runs
    uint32_t has_local;
    uint32_t plain;        // native!, action!: every argument before the first refinement is an
                           // evaluated one (the quick call applies)
    uint32_t branches;     // if, unless (1) and either (2) with their own specs: the branch
                           // arguments after the condition, each admitting a block
    uint32_t returns;      // return with its own spec: one evaluated argument
};

// The list of a function value, built on first use. Answers the binary! node; the header and
// the entries follow from its head (valid until the next allocation).
Handle make_arg_list(const Cell* fn);
inline bool list_ready(const Cell* fn) {  // arg_list answers without allocating
    return (memory::buffer_of(fn->data3)->head_cell() + 1)->is(T_BINARY);
}
inline Handle arg_list(const Cell* fn) {
    const Cell* cache = memory::buffer_of(fn->data3)->head_cell() + 1;
    if (cache->is(T_BINARY)) [[likely]] return cache->data2;
    return make_arg_list(fn);
}
inline const ArgListHead* list_head(Handle node) {
    return reinterpret_cast<const ArgListHead*>(memory::buffer_of(node)->head_ptr());
}
inline const ArgEntry* list_entries(Handle node) {
    return reinterpret_cast<const ArgEntry*>(memory::buffer_of(node)->head_ptr() + sizeof(ArgListHead));
}

// The argument lists of the function values called last, by extra node, as found in one memory
// generation (as context::lookup_cache): a call reads its list without the chain extra node ->
// buffer -> cell 1 -> list node -> buffer. An entry is good while nothing has moved or been freed.
struct ListEntry {
    Handle extra;
    uint64_t generation;
    const uint8_t* bytes;  // the list's header, then its entries
    const Cell* extra_cells;  // the function value's extra block (its body, its list...)
};
constexpr uint32_t LIST_ENTRIES = 256;
extern ListEntry list_cache[LIST_ENTRIES];
inline ListEntry& list_entry(Handle extra) { return list_cache[(extra ^ (extra >> 8)) & (LIST_ENTRIES - 1)]; }
// Fills the entry of a function value (making its list on first use, which allocates).
const uint8_t* fill_list(const Cell* fn);
[[gnu::always_inline]] inline const uint8_t* list_bytes(const Cell* fn) {
    const ListEntry& e = list_entry(fn->data3);
    if (e.extra == fn->data3 && e.generation == memory::generation) [[likely]] return e.bytes;
    return fill_list(fn);
}
// Cell `i` of a function value's extra block (its body, its list...), through the cache when
// the value's entry is good (valid until the next allocation).
[[gnu::always_inline]] inline const Cell* extra_cell(const Cell* fn, uint32_t i) {
    const ListEntry& e = list_entry(fn->data3);
    if (e.extra == fn->data3 && e.generation == memory::generation) [[likely]] return e.extra_cells + i;
    return memory::buffer_of(fn->data3)->head_cell() + i;
}
// The same for a call whose word `word` was read just before: making the list allocates, and
// the word is then dropped (null) to be read anew.
[[gnu::always_inline]] inline const uint8_t* list_bytes(const Cell* fn, const Cell*& word) {
    const ListEntry& e = list_entry(fn->data3);
    if (e.extra == fn->data3 && e.generation == memory::generation) [[likely]] return e.bytes;
    if (!list_ready(fn)) word = nullptr;
    return fill_list(fn);
}
// The header and the entries of a function value's list (valid until the next allocation).
inline const ArgListHead* head_of(const Cell* fn) { return reinterpret_cast<const ArgListHead*>(list_bytes(fn)); }
inline const ArgEntry* entries_of(const Cell* fn) {
    return reinterpret_cast<const ArgEntry*>(list_bytes(fn) + sizeof(ArgListHead));
}

// An infix call of the operator `op` (the value of the word at `pos`): the left operand is the
// cell at `start_top`; the right operand is fetched after the word with infix suppressed. Integer
// and float operands of the arithmetic and comparison operators are computed without a frame,
// with the result the general path gives, whatever the right operand's expression.
interpreter::Step call_operator(const Cell* op, interpreter::Code& code, uint32_t pos, Cell* start_top,
                                bool arg_mode);

// The quick calls of a native or action, and of a function!, named by the word at `call_pos`
// of a block (no path, no apply mode, not tracing) whose arguments up to the first refinement
// are all evaluated ones: the frame, arguments and result of the general call without its
// bookkeeping. They answer position 0 when the call does not qualify (nothing done).
// `word` is the calling word at `call_pos` when the caller has just read it (nothing allocated
// since), else null.
interpreter::Step call_plain(const Cell* fn, interpreter::Code* code, uint32_t pos, bool arg_mode,
                             int32_t call_pos, const Cell* word = nullptr);
interpreter::Step call_function_plain(const Cell* fn, interpreter::Code* code, uint32_t pos, bool arg_mode,
                                      int32_t call_pos, const Cell* word = nullptr);
// `return` (as made at start-up) named by the word `word` at `call_pos`, written as a statement
// at the top level of a function's body: its argument is fetched in its frame as the quick call
// fetches it, and becomes the body's value, with the statements after it left; the position
// answered is the body's tail. What the return native would deliver to the function, without
// the delivery. Position 0 (nothing done) for a return made with another spec.
interpreter::Step call_return(const Cell* fn, interpreter::Code* code, uint32_t pos, int32_t call_pos,
                              const Cell* word);

// The integer road of an operator: the math or comparison code of an op! made from add,
// subtract, multiply, divide, remainder or a comparison native (100 + the native's number), or
// -1 for any other operator.
inline int quick_op(const Cell* op) {
    uint32_t src = native::op_source(op);
    int32_t id = int32_t(op->data1);
    if (src == T_ACTION) {
        switch (id) {
        case A_ADD: return OP_ADD;
        case A_SUBTRACT: return OP_SUB;
        case A_MULTIPLY: return OP_MUL;
        case A_DIVIDE: return OP_DIV;
        case A_REMAINDER: return OP_REM;
        default: return -1;
        }
    }
    if (src == T_NATIVE && id >= 25 && id <= 31) return 100 + id;
    return -1;
}

// An integer operation of the road above, with the result the general call gives: overflow
// answers the float result; division answers a float unless exact. Answers false (nothing
// done) for a division or remainder by 0 or -1, which take the general call.
[[gnu::always_inline]] inline bool quick_integer(int which, int32_t a, int32_t b, Cell& result) {
    if (which >= 100) {
        bool t;
        switch (which - 100) {
        case 25: case 27: t = a == b; break;
        case 26: t = a != b; break;
        case 28: t = a < b; break;
        case 29: t = a > b; break;
        case 30: t = a <= b; break;
        default: t = a >= b; break;
        }
        result = cells::make_logic(t);
        return true;
    }
    if (which == OP_DIV || which == OP_REM) {
        if (b == 0 || b == -1) return false;
        if (which == OP_REM) result = cells::make_integer(a % b);
        else if (a % b) result = cells::make_float(double(a) / double(b));
        else result = cells::make_integer(a / b);
        return true;
    }
    int32_t v;
    bool over = which == OP_ADD ? __builtin_add_overflow(a, b, &v)
              : which == OP_SUB ? __builtin_sub_overflow(a, b, &v)
                                : __builtin_mul_overflow(a, b, &v);
    if (over) {
        double x = a, y = b;
        result = cells::make_float(which == OP_ADD ? x + y : which == OP_SUB ? x - y : x * y);
    } else {
        result = cells::make_integer(v);
    }
    return true;
}

// A float operation of the road above over a float! left operand and a float! or integer!
// right one, with the result the general call gives: + - * / as computed there, and the
// ordering comparisons of two numbers that are not NaN. Answers false (nothing done) for the
// others (remainder, the equalities with their tolerance, NaN operands).
[[gnu::always_inline]] inline bool quick_float(int which, double a, double b, Cell& result) {
    switch (which) {
    case OP_ADD: result = cells::make_float(a + b); return true;
    case OP_SUB: result = cells::make_float(a - b); return true;
    case OP_MUL: result = cells::make_float(a * b); return true;
    case OP_DIV: result = cells::make_float(a / b); return true;
    case 128: case 129: case 130: case 131:
        if (a != a || b != b) return false;
        result = cells::make_logic(which == 128 ? a < b : which == 129 ? a > b : which == 130 ? a <= b : a >= b);
        return true;
    default:
        return false;
    }
}

// The road above over two number cells: integer with integer, a float! with an integer! or
// float! on either side (the integer taken as a float, as the general call takes it). Answers
// false (nothing done) for other operands and where the roads above decline.
[[gnu::always_inline]] inline bool quick_numbers(int which, const Cell* left, const Cell* right, Cell& result) {
    uint32_t lt = left->type(), rt = right->type();
    if (lt == T_INTEGER && rt == T_INTEGER)
        return quick_integer(which, cells::integer(*left), cells::integer(*right), result);
    if ((lt != T_FLOAT && lt != T_INTEGER) || (rt != T_FLOAT && rt != T_INTEGER)) return false;
    double a = lt == T_INTEGER ? double(cells::integer(*left)) : left->get_float();
    double b = rt == T_INTEGER ? double(cells::integer(*right)) : right->get_float();
    return quick_float(which, a, b, result);
}

// The value of a word bound to a context with values, as evaluating the word would find it;
// null where the evaluation would take its general road.
[[gnu::always_inline]] inline const Cell* word_value(const Cell* w) {
    if (!w->data1 || int32_t(w->data3) < 0) return nullptr;
    return context::value_cell(w->data1, w->data3);
}

// The infix rule over the value `acc` from `pos` (below `tail`, in the cells from `head`) while
// the operators are those the quick roads compute and their right operands numbers written in
// place or held by words: each result replaces `acc`. Answers the position where it stopped: at
// the tail or at a cell that is not an operator word (`stopped` null), or at an operator it
// cannot compute (`stopped` is that op!: the general rule goes on from there). Nothing here
// allocates or raises.
[[gnu::always_inline]] inline uint32_t quick_infix(const Cell* head, uint32_t pos, uint32_t tail, Cell& acc,
                                                   const Cell*& stopped) {
    stopped = nullptr;
    while (pos < tail) {
        const Cell* w = head + pos;
        if (!w->is(T_WORD)) break;
        const Cell* op = word_value(w);
        if (!op || !op->is(T_OP)) break;
        int which;
        const Cell* right = w + 1;
        Cell result;
        if (pos + 1 >= tail || (which = quick_op(op)) < 0 || (right->is(T_WORD) && !(right = word_value(right))) ||
            !quick_numbers(which, &acc, right, result)) {
            stopped = op;
            break;
        }
        acc = result;
        pos += 2;
    }
    return pos;
}

// A pure expression at `pos` (below `tail`): a value that evaluates to itself, or a word holding
// one, then number operators that quick_infix computes whole; nothing in it can raise or run Kov
// code. Its value goes into `out`; answers the position after it, or 0 for any other expression.
[[gnu::always_inline]] inline uint32_t pure_expression(const Cell* head, uint32_t pos, uint32_t tail, Cell& out) {
    const Cell* c = head + pos;
    const Cell* v = c->is(T_WORD) ? word_value(c) : c;
    if (!v || !interpreter::simple_value(v->type())) return 0;
    out = *v;
    const Cell* stopped;
    uint32_t end = quick_infix(head, pos + 1, tail, out, stopped);
    return stopped ? 0 : end;
}

// The quick roads of one argument expression (argument mode, infix after it) while not tracing,
// on one read of its first cell: a value that evaluates to itself, or a word holding one, is
// pushed, and a word naming a native, action or function, and a set-word, go to their quick
// calls as eval_front takes them. Answers position 0 (nothing done) for anything else;
// interpreter::eval_rest then applies the general rule.
[[gnu::always_inline]] inline interpreter::Step eval_argument(interpreter::Code& code, uint32_t pos) {
    using interpreter::Step, interpreter::simple_value, interpreter::eval_call_front, interpreter::eval_infix_from;
    if (interpreter::tracing) [[unlikely]] return {0, Status::normal};
    SeriesBuffer* b = code.buffer();
    uint32_t tail = code.tail_in(b);
    if (pos >= tail) return {0, Status::normal};
    const Cell* c = b->head_cell() + pos;
    const Cell* v = c;
    uint32_t t = c->type();
    if (t == T_WORD) {
        if (!(v = word_value(c))) return {0, Status::normal};
        t = v->type();
    }
    if (!simple_value(t)) {
        // A function value written in the block itself (not through a word) is called by the
        // general rule, with no calling word.
        if ((t == T_NATIVE || t == T_ACTION || t == T_FUNCTION) && v != c) return eval_call_front(code, pos, v, c);
        if (t == T_SET_WORD) return eval_call_front(code, pos, nullptr, c);
        if (t == T_PAREN && v == c) return interpreter::eval_paren_front(code, pos, true);
        return {0, Status::normal};
    }
    // The infix rule over numbers, computed in place on the pushed operand while the operators
    // and operands allow; the general rule takes over where they don't.
    Cell* start_top = stack::top;
    stack::push(v);
    const Cell* stopped;
    uint32_t p = quick_infix(b->head_cell(), pos + 1, tail, *start_top, stopped);
    if (stopped) return eval_infix_from(code, p, start_top);
    return {p, Status::normal};
}

// The function value an op! stands for: the function! or routine! it keeps, or the native! or
// action! cell retyped.
Cell op_target(const Cell* op);

// Fills the datatypes' hooks that run Kov code (function handlers of objects, evaluation of
// object specs, sort comparators, lexer callbacks).
void install_hooks();

}  // namespace kov::invocation
