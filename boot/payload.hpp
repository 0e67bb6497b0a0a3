// The boot payload: the boot library's Kov sources as Kovbin data. The build lexes each source,
// encodes the loaded block in the compact form (LZ-compressed when that is smaller) and checks
// that the bytes decode to the same values and encode again to the same bytes
// (tools/pack_boot.cpp writes the table; boot/base.cpp decodes and evaluates it at start-up).
//
// Memory: the values made here are held in rooted cells; results are C++ containers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/value.hpp"

namespace kov::payload {

// Lexes `text`, encodes the block, compresses it when that pays, then decodes the result, compares
// the values and encodes the decoded block again. Answers the payload bytes; on any mismatch or
// error answers nothing and explains why in `problem`.
std::vector<uint8_t> pack(std::string_view text, std::string* problem);

// Decodes a payload into `out` (rooted): the one block it holds. Raises script invalid-data or
// kb-invalid-record for damaged data, and invalid-data when it does not hold exactly one block.
void decode(const uint8_t* data, size_t length, Cell* out);

// Deep comparison of two values: the same datatype, flags and scalar bits, and series of the same
// unit, head and contents (blocks compared cell by cell). Answers an empty string when they are
// the same, else where they first differ (such as "[3][0]: string! contents").
std::string difference(const Cell* a, const Cell* b);

}  // namespace kov::payload
