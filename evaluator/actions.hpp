// Typed dispatch of actions on the datatype of their first value. The handler signatures and
// their result shapes are those of core/action_table.hpp.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/type_registry.hpp"
#include "core/value.hpp"

namespace kov::actions {

// The front-end of every action by its 1-based id (entry id - 1): it reads the action's
// arguments and refinements from the current frame, dispatches on the datatype of the first
// and writes the result slot. An action! value names its front-end by id. Null until the
// evaluator registers it; an empty entry is never called (datatypes/native.hpp refuses it with
// internal error not-done).
extern NativeFn front_ends[ACTION_COUNT];

// The handlers of a value's datatype.
inline const ActionTable& handlers_of(const Cell* value) { return type_registry::table(value->type()); }

// Forms or molds a value into the string `out`; returns the limit less what was written.
int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent);
// 1 when the relation holds, else 0.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// Three-way comparison: -1, 0 or 1 (-2: not comparable).
int32_t compare_values(const Cell* a, const Cell* b, int32_t op);

}  // namespace kov::actions
