// The set-operation natives: union, intersect, unique, difference and exclude, which check the
// datatypes of their sets and hand the work to the datatype that owns it (block! and hash!,
// string!, bitset!, typeset!, and date! for difference), and complement?.
#pragma once

namespace kov::natives::sets {

// Registers the natives of this module in the natives table.
void init();

}  // namespace kov::natives::sets
