// Action dispatch: the front-ends of the 62 actions, the handler lookup with its errors, the
// typed dispatch entries that runtime code calls directly, and the generic comparisons.
//
// A front-end reads its arguments from the current frame (arguments[0], [1] ... the action's
// mandatory arguments, then the arguments of the refinements that were used), finds the handler
// for the datatype of the first argument and writes the result slot (arguments[0]). Direct
// front-ends (the math and navigation actions) leave the frame to the handler; dispatching
// front-ends turn the refinement parameters into the handler's typed arguments (an absent
// refinement argument is nullptr, a flag is `refs[k] >= 0`) and then store the result by the
// action's shape: the returned cell is copied into the result slot (a null answer leaves the
// slot as the handler left it: the target, or what the handler wrote there); even? and odd?
// answer logic!, length? an integer! or none! for -1.
//
// The handler signatures and result shapes are those of core/action_table.hpp.
#pragma once

#include <cstdint>

#include "core/runtime.hpp"
#include "core/type_registry.hpp"
#include "core/value.hpp"

namespace kov::actions {

// The front-end of every action by its 1-based id (entry id - 1). Entry 8 (set-path) stays
// empty: set-paths go through eval-path; calling it raises internal error not-done (through
// datatypes/native.hpp). Null until init.
extern NativeFn front_ends[ACTION_COUNT];

// Fills front_ends; run at start-up after every datatype has registered.
void init();

// The handlers of a value's datatype.
inline const ActionTable& handlers_of(const Cell* value) { return type_registry::table(value->type()); }

// The handlers of datatype `type`, checked to support action `slot` for `value`: a datatype
// without the handler raises script error expect-arg (the nearest frame's name, the datatype,
// the first parameter word). A port! raises internal error not-done for slots 25 and above
// (its actors do not exist yet).
const ActionTable& get_handler(uint32_t type, const Cell* value, int slot);
inline const ActionTable& get_handler(const Cell* value, int slot) {
    return get_handler(value->type(), value, slot);
}
// The same for the first argument of the current frame.
const ActionTable& get_handler_first_arg(int slot);

// The eval-path handler of the value's datatype. Without one: script error bad-path-type2
// (element, datatype) when `path` is null; else bad-path-type (path, datatype, the path cut to
// its first element_index + 1 values). Allocates only to raise.
PathFn get_path_handler(const Cell* value, const Cell* path, const Cell* element,
                        int32_t element_index);

// The index argument of pick and poke: the frame's second argument as integer! or char! (its
// value), logic! (true 1, false 2), anything else 0.
int32_t index_arg();

// ---- typed dispatch for runtime code ----

// Forms or molds a value into the string `out`; returns the limit less what was written.
int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent);
// Writes a copy of the value into `result` (which must not move: an argument-stack cell or a
// rooted one) and answers the cell the handler answered.
Cell* copy_dispatch(const Cell* value, Cell* result, const Cell* part, bool deep,
                    const Cell* types);
// The series at the found position, or none!.
Cell* find_dispatch(Cell* series, const Cell* value, const FindArgs& args);
Cell* select_dispatch(Cell* series, const Cell* value, const FindArgs& args);
Cell* pick_dispatch(Cell* series, int32_t index, const Cell* index_value);
Cell* poke_dispatch(Cell* series, int32_t index, const Cell* value);
// -1 when the datatype answers none.
int32_t length_dispatch(const Cell* value);

// ---- comparisons ----

// 1 when the relation `op` holds, else 0. Values that cannot be compared are unequal under the
// equality ops (0, 1, 2, 9 to 12) and raise script error invalid-compare under the ordering ops;
// a datatype without a compare handler raises expect-arg. Any other op is fatal runtime error 101.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// Three-way comparison (sorting): -1, 0 or 1, or NOT_COMPARABLE from the handler. logic! by the
// difference of the truths; native!, action! and op! by the identity of their routine; function!
// and routine! by the identity of their extra block. expect-arg for a datatype without a handler.
int32_t compare_values(const Cell* a, const Cell* b, int32_t op);
// Compares the frame's first two arguments and writes the truth as logic! into arguments[0];
// answers the truth.
bool compare_to_logic(int32_t op);

}  // namespace kov::actions
