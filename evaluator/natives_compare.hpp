// The comparison and type natives: equal? and its kin, same?, not and type?.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::natives::compare {

// Identity of two values (same?).
bool same_values_q(const Cell* a, const Cell* b);
// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::compare
