// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3), type 39, no parent: colours, versions
// and addresses. The bytes live in the cell; arithmetic is byte-wise and saturates to 0..255.
//
// Cell: header bits 0-7 the type, bits 19-22 the byte count (3..12); the bytes in order in
// data1..data3 (byte 1 the lowest byte of data1); bytes past the count are zero.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::tuple {

constexpr uint32_t MAX_BYTES = 12;
constexpr uint32_t COUNT_SHIFT = 19;
constexpr uint32_t COUNT_MASK = 0xFu << COUNT_SHIFT;

struct Bytes {
    uint8_t b[MAX_BYTES];
    uint32_t count;
};

// ---- cells ----
inline uint32_t count(const Cell* c) { return (c->header & COUNT_MASK) >> COUNT_SHIFT; }
Bytes bytes(const Cell* c);
// A tuple cell of the first `count` bytes, padded with zeros to 3.
Cell make_cell(const uint8_t* bytes, uint32_t count);
Cell* push(uint32_t count, uint32_t data1, uint32_t data2, uint32_t data3);
// The low bytes of count integers, padded to 3.
Cell* push_bytes(uint32_t count, const int32_t* values);
// The first bytes (at most 12) of a binary! from its index, padded to 3, into out.
void from_binary(Cell* out, const Cell* binary);
// A colour from an issue spelled in 3, 6 or 8 hexadecimal digits (R.G.B with each digit doubled,
// R.G.B, R.G.B.A); any other length, or a character that is not an ASCII hexadecimal digit,
// raises script error invalid-data with the issue.
void from_issue(Cell* out, const Cell* issue);
// R.G.B, or R.G.B.A when alpha is not -1.
void make_rgba(Cell* out, int32_t r, int32_t g, int32_t b, int32_t alpha);
bool all_zero_q(const Cell* c);
// Stores an integer! (clamped to 0..255) at a 1-based index, or with none! cuts the tuple before
// it (the count never below 3); another value raises invalid-type.
void set_byte(Cell* tuple, int32_t index, const Cell* value);
// Reads the first value of a text as a tuple (3 to 12 decimal bytes joined by dots).
bool scan_text(std::string_view text, Cell& out);

// ---- arithmetic ----
// Argument 0 op argument 1 (math-ops 0 to 7). When argument 0 is not a tuple, subtract and
// divide raise not-related and the other operations exchange the operands first.
Cell* do_math(int op);

// ---- actions ----
void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);  // make and to, into argument 0
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* eval_path(const PathStep& step);
Cell* pick(Cell* value, int32_t index, const Cell* index_value);
Cell* reverse(Cell* value, const Cell* part, const Cell* skip);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* complement(Cell* value);
int32_t length_q(const Cell* value);

}  // namespace kov::tuple
