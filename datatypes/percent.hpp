// percent!: a float! written and shown as a percentage (type 38, child of float!). The cell keeps
// the fraction (50% is 0.5) in data2-data3; everything but the text is float!'s.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::percent {

inline double get(const Cell* c) { return c->get_float(); }
Cell* box(double value);                                   // into argument 0
Cell* make_at(Cell* c, double value);                      // header 38, flags clear
Cell* make_at_parts(Cell* c, uint32_t high, uint32_t low);
Cell* make_in(const Cell* block, uint32_t high, uint32_t low);
Cell* push(double value);
Cell* push_parts(uint32_t high, uint32_t low);

void init();
// The fraction times 100, written as float! text of 13 significant digits followed by "%".
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);

}  // namespace kov::percent
