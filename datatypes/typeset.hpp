// typeset!: a set of datatypes held as 96 bits in the cell (type 33, no parent): made from
// blocks of datatypes and typesets, combined with the bitwise actions and the set operations,
// searched with find, compared, formed and molded as "make typeset! [...]".
//
// Cell: data1-data3 read as 12 bytes in memory order; the bit of type id t is in byte t >> 3,
// mask 0x80 >> (t & 7) (most significant bit first).
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::typeset {

// Set-operation codes of do_bitwise beyond the math-ops 5 or~, 6 and~, 7 xor~.
enum SetOp : int { SET_UNIQUE = 8, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };

bool has(const Cell* ts, uint32_t type);
void add(Cell* ts, uint32_t type);
void clear(Cell* ts);                                  // data1-3 := 0
Cell* push(const Cell* ts);
Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
// Every bit but unset!'s: the type of an argument without a type block.
Cell* make_default(const Cell* block);
// The typeset of a function spec's type block: words are replaced by their values, then a
// datatype sets its bit, a typeset is or-ed in, a word value sets object!'s bit, a block is
// skipped, anything else raises script error invalid-type-spec.
void make_from_block(Cell* result, const Cell* block);
// Adds a value: a word by its value (unset raises no-value), a typeset or-ed in, a datatype's
// bit; anything else raises script error invalid-arg.
void set_type(Cell* ts, const Cell* value);
// Set bits among the type ids 1 to the highest registered id.
int32_t count(const Cell* ts);
// A new block of the name words of the set types (ids 1 to the highest registered), into result.
void to_block(const Cell* ts, Cell* result);
// Argument 0 (a typeset) combined with argument 1 (a typeset or a datatype) by a math-op or a
// SetOp; the result in argument 0.
Cell* do_bitwise(int op);
// "make typeset! [" unless only, the names each followed by a space, the last space replaced by
// "]" (or removed with only); a /part limit that runs out stops the names. Answers part less
// what was written.
int32_t serialize(const Cell* ts, Cell* out, bool only, bool has_part, int32_t part);

void init();
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);  // make and to, into argument 0
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* complement(Cell* value);
Cell* find(Cell* ts, const Cell* value, const FindArgs& args);

}  // namespace kov::typeset
