// bitset!: a set of non-negative integers (mostly characters) kept as a run of bits plus a
// complement flag that stands for every bit beyond the run. The dialect that names bits (chars,
// integers, ranges, strings, blocks, `not`), making, the set algebra and the action handlers.
//
// A bitset! value: data2 the node of a unit-1 buffer; the head index plays no part. Bit n lives
// in byte n >> 3 under the mask 0x80 >> (n & 7). The stored bytes run from the buffer's first
// byte to its tail and are the real membership, also for a complemented set; every bit past them
// is a member exactly when the complement flag (SER_COMPLEMENT on the buffer) is set. The room
// between the tail and the capacity always holds the fill byte of the flag (0xFF or 0x00).
//
// Memory rules: routines that take a bitset value and may grow it need the cell rooted and
// staying where it is; addresses answered are good until the next allocation.
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::bitset {

constexpr uint32_t SER_COMPLEMENT = 0x80000;

// Dialect operations, and the callers that choose which error a bad spec raises.
enum DialectOp : int { OP_MEASURE = 0, OP_SET = 1, OP_TEST = 2, OP_CLEAR = 3 };
enum DialectMode : int { MODE_MAKE = 0, MODE_TO = 1, MODE_ACTION = 2 };

// ---- storage ----

bool complemented_q(const Cell* bs);
uint8_t* data_address(const Cell* bs);
uint8_t* tail_address(const Cell* bs);
uint32_t stored_bytes(const Cell* bs);
// Bits the buffer's capacity holds.
uint64_t capacity_bits(const Cell* bs);
// Makes room for bit n: grows the buffer to (n >> 3) + 1 bytes when n lies past its capacity
// (new room filled with the flag's fill byte) and moves the tail up to that byte. Answers the
// first byte's address.
uint8_t* grow_to(Cell* bs, int64_t n);
// True when n is negative or its byte lies at or past the tail.
bool past_stored_q(const Cell* bs, int64_t n);
// Inverts every byte of the buffer's capacity.
void invert_bytes(const Cell* bs);
// Membership of bit n: the stored bit, or the complement flag past the stored bytes.
bool has_bit(const Cell* bs, uint64_t n);
// Makes `out` a bitset of n stored bytes of `fill`, complemented when asked; answers it.
Cell* make_at(Cell* out, uint32_t n, bool complemented);
Cell* push(const Cell* bs);

// ---- the dialect ----

// Processes a spec value on the bitset (rooted). Test answers 1 or 0. Measure and set answer the
// byte count the highest named bit needs (at least 1) at the outer level, where set also moves
// the tail up to it; nested, they answer the highest bit named (-1 for none).
int64_t process(const Cell* spec, Cell* bs, int op, bool nested, int mode);
// A new bitset from a spec, in the result slot (make: mode 0, to: mode 1).
Cell* make_value(const Cell* spec, int mode);

// ---- text ----

// The stored bytes as two hexadecimal digits each (255 minus the byte with `invert`), appended
// to the string `out`; 2 is taken from the limit per byte and, with `part`, writing stops once
// the limit is below 0. Answers the limit left.
int32_t form_hex(const Cell* bs, Cell* out, bool part, int32_t limit, bool invert);

// ---- the set algebra ----

// Arguments 0 and 1 of the current frame combined under a code (OP_OR, OP_AND, OP_XOR, and the
// set operations 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference): a new bitset in
// arguments[0]. The result's complement flag is the operation applied to the two flags; past the
// shorter stored run each operand counts as its fill byte.
Cell* do_bitwise(int code);

// ---- handlers ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* eval_path(const PathStep& step);
Cell* complement(Cell* value);  // also negate
Cell* append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* clear(Cell* series);
Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types);
Cell* find(Cell* series, const Cell* value, const FindArgs& args);
int32_t length_q(const Cell* value);
Cell* pick(Cell* series, int32_t index, const Cell* index_value);
Cell* poke(Cell* series, int32_t index, const Cell* value);
Cell* remove(Cell* series, const Cell* part, const Cell* key);
Cell* reflect(const Cell* value, const Cell* field);
Cell* modify(Cell* target, const Cell* field, const Cell* value, bool case_sensitive);

void init();

}  // namespace kov::bitset
