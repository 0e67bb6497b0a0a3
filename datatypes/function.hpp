// function! and routine!: the values of user functions and of the runtime's C++ routines.
//
// function! cell: header low byte 24 with the attribute flags FN_TRACE (0x400) and FN_NO_TRACE
// (0x200); data1 the function's context (kind 1, values on the argument stack while it runs; its
// owner cell holds a copy of the function cell); data2 the spec block's node; data3 the node of
// the five-cell extra block:
//   EXTRA_BODY     the body block (a deep copy of the one given), or none! without a body;
//   EXTRA_ARGS     the argument-list cache: unset! until the interpreter's first call fills it;
//   EXTRA_CODE     integer! index of compiled code, or unset! for an interpreted function;
//   EXTRA_OP       unset! (an op! made from the function keeps the function cell here);
//   EXTRA_OWNER    integer! owner reference given by the maker, or unset!.
// routine! cell: header low byte 29, ROUTINE_FLAG (0x8000) from its maker, the argument count in
// bits 25-29; data1 its context, data2 its spec node, data3 a five-cell block: the body (none!
// when not given), unset!, the routine-table index as integer! (evaluator/routines.hpp), unset!,
// and an integer! its maker gives.
//
// Memory rules: every maker here allocates; values passed in are copied into roots first, so
// they may lie anywhere reachable. Results are pushed on the argument stack.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::function {

constexpr uint32_t FN_TRACE = 0x400;
constexpr uint32_t FN_NO_TRACE = 0x200;
enum Extra : uint32_t { EXTRA_BODY = 0, EXTRA_ARGS, EXTRA_CODE, EXTRA_OP, EXTRA_OWNER, EXTRA_CELLS };

// Runs a function! with the arguments already pushed in the current frame (a function frame
// opened on the function's context); `owner` is the context of the object the call runs for (0
// for none). The result is left in arguments[0]. The interpreter installs it; while it is null,
// the routines that must call a function raise internal error not-done.
extern Status (*exec_hook)(const Cell* fn, Handle owner);

// Checks the spec dialect; answers the attribute flags (FN_TRACE, FN_NO_TRACE or 0). Raises
// bad-func-def (with the spec), dup-vars, invalid-type-spec or no-value.
uint32_t validate(const Cell* spec);
// The `function` maker's gathering of locals: edits the spec block in place (drops /extern and
// what follows it, appends /local and the gathered words) and pushes the block of gathered words.
Cell* collect_locals(Cell* spec, const Cell* body);
// Builds and pushes a function value; answers its context. `ctx` 0: the context is made from the
// spec and the body copy bound to it; `body` null or not a block: none!. `code` 0: interpreted.
// `owner` 0: none given.
Handle push(const Cell* spec, const Cell* body, Handle ctx, int32_t code, int32_t owner,
            uint32_t flags);
// From a position of a spec block: /local and the word!s after it; without /local 0, or -1
// when `required`.
int32_t count_locals(Handle spec, uint32_t from, bool required);
// Pushes false, then n - 1 none! values.
void push_absent_refinement(int32_t n);
// The cell of the extra block (valid until the next allocation).
Cell* extra(const Cell* fn, Extra which);
// Runs `fn` through exec_hook in the current frame; raises not-done without a hook.
Status call(const Cell* fn, Handle owner);

// Actions.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* reflect(const Cell* value, const Cell* field);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void init();

}  // namespace kov::function

namespace kov::routine {

constexpr uint32_t ROUTINE_FLAG = 0x8000;
constexpr uint32_t ARITY_SHIFT = 25;
constexpr uint32_t MAX_ARITY = 31;

// Builds and pushes a routine value: `code` the routine-table index, `value` the integer kept in
// the fifth extra cell. More than 31 word! arguments raise bad-func-def.
Cell* push(const Cell* spec, const Cell* body, int32_t code, int32_t value, bool flag);
inline uint32_t arity(const Cell* value) { return (value->header >> ARITY_SHIFT) & 0x1F; }

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);

void init();

}  // namespace kov::routine
