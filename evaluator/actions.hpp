// Typed dispatch of actions on the datatype of their first value, and the routine signatures of
// the slots that are called directly (make, to, random, form, mold, compare, length?). Routines
// of the other slots read their arguments from the current frame and leave the result in
// arguments[0].
#pragma once

#include <cstdint>

#include "core/type_registry.hpp"
#include "core/value.hpp"

namespace kov {

using MakeFn = void (*)(const Cell* proto, const Cell* spec, uint32_t type);  // result in arguments[0]
using RandomFn = void (*)(const Cell* value, bool seed, bool secure, bool only);
using FormFn = int32_t (*)(const Cell* value, Cell* out, bool part, int32_t limit);
using MoldFn = int32_t (*)(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                           int32_t limit, int32_t indent);
using CompareFn = int32_t (*)(const Cell* a, const Cell* b, int32_t op);
using LengthFn = int32_t (*)(const Cell* value);  // -1 answers none
using FrameFn = void (*)();

namespace actions {

Routine get_handler(const Cell* value, int slot);

// Forms or molds a value into the string `out`; returns the limit less what was written.
int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent);
// 1 when the relation holds, else 0.
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// Three-way comparison: -1, 0 or 1 (-2: not comparable).
int32_t compare_values(const Cell* a, const Cell* b, int32_t op);

}  // namespace actions
}  // namespace kov
