// word! and its kin (set-word!, lit-word!, get-word!, refinement!): loading words from their
// spellings and binding them in the global context.
//
// Word cell: data1 the context node (0 unbound), data2 the symbol id, data3 the slot (-1 not
// resolved yet).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/services.hpp"
#include "core/value.hpp"

namespace kov::word {

// load (a word from its spelling) is declared in core/services.hpp.

// Makes `out` a word! bound to the global context (the slot of the word equal to it ignoring
// case, or a new slot holding unset!). `out` must not move (argument stack or a root).
void make_at(uint32_t symbol, Cell* out);
// True for the word kinds 15 to 20 (issue! included).
inline bool any_word_q(uint32_t type) { return type >= T_WORD && type <= T_ISSUE; }

}  // namespace kov::word
