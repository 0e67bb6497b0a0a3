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

#include "core/value.hpp"
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
};

// The list of a function value, built on first use. Answers the binary! node; the header and
// the entries follow from its head (valid until the next allocation).
Handle arg_list(const Cell* fn);
inline const ArgListHead* list_head(Handle node) {
    return reinterpret_cast<const ArgListHead*>(memory::buffer_of(node)->head_ptr());
}
inline const ArgEntry* list_entries(Handle node) {
    return reinterpret_cast<const ArgEntry*>(memory::buffer_of(node)->head_ptr() + sizeof(ArgListHead));
}

// An infix call of the operator `op` (the value of the word at `pos`): the left operand is the
// cell at `start_top`; the right operand is fetched after the word with infix suppressed. Integer
// and float operands of the arithmetic and comparison operators are computed without a frame,
// with the result the general path gives.
interpreter::Step call_operator(const Cell* op, interpreter::Code& code, uint32_t pos, Cell* start_top,
                                bool arg_mode);

// The function value an op! stands for: the function! or routine! it keeps, or the native! or
// action! cell retyped.
Cell op_target(const Cell* op);

// Fills the datatypes' hooks that run Kov code (function handlers of objects, evaluation of
// object specs, sort comparators, lexer callbacks).
void install_hooks();

}  // namespace kov::invocation
