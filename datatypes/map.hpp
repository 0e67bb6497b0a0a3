// map!: a dictionary held as a block of key/value pairs in the order keys were first added, with
// a map-kind hash table (core/hashtable.hpp) indexing the keys.
//
// A map! cell: data1 the head index (0), data2 the node of the pair block, data3 the node of the
// table. Keys are stored normalised: the word kinds as set-word!, text and binary! keys as copies
// of their own. Removing a key clears the header of its value cell (a tombstone): the pair stays
// in the block and its key in the table, every walk skips it, and storing the key again revives
// the pair in place. The table's live count is the number of pairs present.
//
// Lookups compare keys ignoring case (compare-op 0) unless asked for case (op 2) or sameness
// (op 9); word keys of every kind name the same key.
//
// Memory rules: every routine here may allocate; map values passed in must be rooted (the
// argument stack, a collector::Root); an `out` cell is written after allocating, so it must not
// move.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::map {

// Whether a datatype may be a key.
bool valid_key_q(uint32_t type);

// Makes `out` a map! over a block node of pairs (0: a new block of `size` cells), with a table
// made for `size` keys that indexes the pairs the block holds (a key repeated under op 2 keeps
// its first place and its last value; keys are normalised). Answers `out`.
Cell* make_at(Handle block, Cell* out, uint32_t size);
// Pairs present.
int32_t count(const Cell* map);
// Pushes a copy of the map cell on the argument stack; answers it.
Cell* push(const Cell* map);

// The value cell of a key (null when absent or removed), found under a compare-op (0, 2 or 9).
// Good until the next allocation.
Cell* value_of(const Cell* map, const Cell* key, int32_t op);
// Stores the value under the key (op 2 with case_sensitive, else op 0): an absent key is
// normalised and appended with the value, a removed pair is counted again. A key of a datatype
// that cannot be a key raises script error invalid-path.
void put_pair(const Cell* map, const Cell* key, const Cell* value, bool case_sensitive);
// Removes the key found under op 2; true when a present pair was removed.
bool remove_key(const Cell* map, const Cell* key);
// The work of `extend` on a map: puts every pair of the block (an odd count raises script error
// invalid-arg with the block).
void extend(const Cell* map, const Cell* pairs, bool case_sensitive);

// The pair writer shared by form and mold: every present pair as "key value", molded, separated
// by a line feed (a space with `flat`); `indent` is the indentation of each pair after a line
// feed (none when negative). Answers the limit less what was written.
int32_t serialize(const Cell* map, Cell* out, bool flat, bool all, bool part, int32_t limit,
                  int32_t indent);

// The stored form of the key at a position of a pair block (the hash table's key hook).
void normalize_key(Handle block, uint32_t position);

void init();

}  // namespace kov::map
