// Virtual memory for the value arena: one reservation, committed and released page-wise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kov::vmem {

// Reserves an address range without backing store; null on failure.
uint8_t* reserve(size_t bytes);
// Makes a page-aligned range readable and writable; false when the system refuses.
bool commit(uint8_t* start, size_t bytes);
// Returns a page-aligned range to the system, leaving it reserved and inaccessible.
bool decommit(uint8_t* start, size_t bytes);

}  // namespace kov::vmem
