// paren! and the four path kinds: blocks that the evaluator reads differently. Their storage and
// most of their actions are block!'s; they differ in how they are made, formed and molded.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::path {

// Sets the cell's type to the kind (path!, lit-path!, set-path!, get-path! or paren!) and pushes
// a copy on the argument stack; answers the pushed cell.
Cell* push(Cell* c, uint32_t kind);
// Makes `c` an empty path! with room for n cells.
Cell* make_at(Cell* c, int32_t n);

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent);

// Registers paren!, path!, lit-path!, set-path! and get-path! (after block!).
void init();

}  // namespace kov::path
