// The parse dialect: matches an input series (any-block!, any-string! or binary!) against a block
// of rules and answers whether the rules matched the whole input, or the block that `collect`
// rules gathered. The engine (evaluator/parse.cpp) walks the rules, backtracks over `|`
// alternatives and runs the keywords and commands; the native `parse` settles its arguments.
//
// Rules run Kov code (parens, word values with change handlers), so everything the engine holds
// across a rule lives in rooted cells and positions are kept as indexes, never as pointers.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::parse {

constexpr int NATIVE_NUMBER = 40;

// Cells of engine frames that one parse (with the parses nested in its parens) may hold; a
// deeper rule raises parse-stack.
constexpr uint32_t STACK_LIMIT_CELLS = 10001;

// Limit given to the engine: absolute index of the input position where matching stops.
struct Limit {
    bool set = false;
    uint32_t at = 0;
};

// Runs the rules over the input; the result (logic! or the collected block!) goes into `out`
// (a cell that must not move: the argument stack or a rooted one). `op` is COMP_EQUAL or
// COMP_STRICT_EQUAL. Errors raise; break, continue, return and throw from parens pass through.
// `trace`, when a function (else null or none!), is called with each event of the walk: push,
// pop, fetch, match, iterate, paren and end, the match flag, the rule block at the rule under
// way, the input at its head and a stack block; a falsy answer ends the parse at once with the
// match flag of the event.
void process(const Cell* input, const Cell* rules, int32_t op, Limit limit, const Cell* trace,
             Cell* out);

// The native `parse`.
Status native(const int32_t* refs);

}  // namespace kov::parse
