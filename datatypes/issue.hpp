// issue!: a word-like value written with a leading "#" (type 20). It carries its symbol and is
// never looked up as a variable: made from text without checking that the text reads as a word,
// molded with "#", compared only with other issues.
//
// Cell: a word cell: data1 the global context node, data2 the symbol of the text, data3 -1.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"

namespace kov::issue {

// While booting, appends the issue to the root block; otherwise pushes it.
Cell* load(std::string_view text);
Cell* load_in(std::string_view text, const Cell* block);
Cell* make_at(Cell* c, std::string_view text);
// Pushes a copy of a word cell retyped as issue!.
Cell* push(const Cell* word);

void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);  // make and to, into argument 0
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
// Not comparable with anything but an issue; equality ignores case, strict equality and sameness
// want the same spelling, ordering compares the spellings (folded to upper case except under the
// case-sensitive sort).
int32_t compare(const Cell* a, const Cell* b, int32_t op);

}  // namespace kov::issue
