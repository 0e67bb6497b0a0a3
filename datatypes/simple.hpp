// The four datatypes registered first: datatype!, unset!, none! and logic!, their shared cells
// and the language's truth rule. (One header for the four small modules.)
#pragma once

#include <cstdint>

#include "core/cells.hpp"
#include "core/value.hpp"

namespace kov {

extern Cell none_value, unset_value, true_value, false_value;

namespace datatype {
void init();
Cell* make_in(const Cell* block, uint32_t type);
Cell* push(uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
}  // namespace datatype

namespace unset {
void init();
Cell* box();
Cell* make_in(const Cell* block);
Cell* push();
}  // namespace unset

namespace none {
void init();
Cell* box();
Cell* make_in(const Cell* block);
Cell* push();
}  // namespace none

namespace logic {
void init();
Cell* box(bool value);
Cell* make_in(const Cell* block, bool value);
Cell* push(bool value);
inline uint32_t get(const Cell* c) { return c->data1; }
// The truth rule: false for none! and logic! false, true for everything else.
inline bool truthy(const Cell* c) { return cells::truthy(*c); }
// Truth of a cell; with `check` an unset! raises script error no-value with `name`.
bool cell_true_q(const Cell* c, bool check, const Cell* name);
bool top_false_q();
bool top_true_q();
bool true_q();   // the result slot; unset! raises no-return
bool false_q();  // the result slot; unset! is not an error
}  // namespace logic

}  // namespace kov
