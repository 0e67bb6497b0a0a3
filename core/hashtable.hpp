// One open-addressing hash table for five users: hash! values (kind 0), map! values (kind 1), the
// symbol table and the word tables of contexts (kind 2), pointer sets (kind 3) and the ownership
// table (kind 4).
//
// The table never holds values itself. Kinds 0 to 2 index the cells of an ordinary block (the
// value block) and answer at which cell a key lies; kinds 3 and 4 keep fixed-size entries in an
// entry block of their own, keyed by a 32-bit node handle. The record, the bucket flags, the keys
// and the other arrays are raw arrays in series buffers reached through their nodes, so the
// collector moves and marks them like any series.
//
// Buckets: a power of two, at least 4; two flag bits each (2 empty, 1 deleted, 0 live); triangular
// probing (offsets 0, 1, 3, 6, 10 ...); growth or rebuild when the occupied count reaches 0.77 of
// the buckets. Hashing is MurmurHash3 x86_32 seeded with the process-wide seed
// (0x0055860C, set by the random generator's start-up), and its finaliser fmix32 alone for handles and symbol ids.
//
// Memory rules:
// - Every routine here that may allocate (make, put, insert_key, get on a table that must be
//   refreshed, index_values, copy, rebuild, resize, put_pointer, intern_symbol, word_slot with a
//   context to add to) may move buffers. Pointers into the value block, the entry block or the
//   record are good only until the next allocation; the routines return pointers that are valid
//   at their return.
// - The table node passed in must be reachable from a rooted place (the value that owns it, a
//   context, a global the collector marks); the routines root it themselves while they allocate.
// - The compare hook and the hash of a key never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::hashtable {

enum Kind : int32_t { KIND_HASH = 0, KIND_MAP = 1, KIND_WORDS = 2, KIND_POINTERS = 3, KIND_OWNERSHIP = 4 };

// `extra` of make for kind 2.
constexpr int32_t EXTRA_SYMBOL_TABLE = 1;
constexpr int32_t EXTRA_WORD_TABLE = 2;

// An internal probe key type: a text key matching stored keys of any datatype; a non-negative
// data3 limits the number of units hashed.
constexpr uint32_t T_PROBE = 56;

// Results of insert_key.
enum Status : int {
    STATUS_NEW = 0,      // the key got a bucket of its own
    STATUS_PRESENT = 1,  // kind 0: joined the chain of an equal key; kind 1: already present
    STATUS_REBUILT = 2   // kind 0: the table was rebuilt and holds every cell of the block
};

// The table record: twelve 32-bit fields in a buffer of its own.
struct Record {
    int32_t live;         // live keys (a key with duplicates counts once)
    uint32_t indexes;     // kind 0: node of the position -> bucket + 1 array; kind 1: node of the
                          // bucket keys' hashes; kinds 3, 4: entry size
    Handle chains;        // kind 0: node of the list of chain nodes (1-based chain numbers)
    Handle flags;         // node of the bucket flags (2 bits a bucket)
    Handle keys;          // node of the bucket keys (i32 each)
    Handle data;          // node of the value block (kinds 0-2) or the entry block (kinds 3, 4)
    int32_t occupied;     // live plus deleted buckets (kind 1: every bucket that received a key)
    int32_t buckets;      // a power of two, at least 4
    int32_t upper_bound;  // the occupied count at which the next insertion grows first
    int32_t kind;
    int32_t counter;      // 0, or the collector's cycle count + 1 at the last (re)build
    Handle tags;          // kind 0: node of the bucket tags (see bucket_tag in the module), else 0
};
static_assert(sizeof(Record) == 48);
constexpr uint32_t RECORD_FIELDS = 12;

// The record of a table (valid until the next allocation).
inline Record* record(Handle table) {
    return reinterpret_cast<Record*>(memory::buffer_of(table)->head_ptr());
}

// ---- services of modules written apart from this one ----

// Key equality: 1 when the relation of the compare-op holds between a stored key (a) and a probe
// key (b), else 0. The default uses the compare routine that the key's datatype registered, and
// for datatypes that have none yet: the same datatype and the same data words, text compared
// unit by unit (folded to upper case except under ops 2 and 8), words by their symbols as the
// word compare rules say, floats by value.
using CompareHook = int32_t (*)(const Cell* a, const Cell* b, int32_t op);
extern CompareHook compare_hook;
int32_t default_compare(const Cell* a, const Cell* b, int32_t op);

// Upper-case form of a code point, used by the case-insensitive string hash. The default reads
// the case-mapping data of the unicode tables (the start-up may point it at the unicode module's
// lookup arrays).
extern uint32_t (*upper_case_hook)(uint32_t cp);
uint32_t default_upper_case(uint32_t cp);

// map/normalize-key: turns the key stored at a position of a map's pair block into its stored
// form (word kinds to set-word!, text keys copied). May allocate. map! installs it; while it is
// null, words are only retyped.
extern void (*normalize_key_hook)(Handle block, uint32_t position);

// ---- hashing ----

// Sets the process-wide seed (random/init does it once, before any table exists).
void set_seed(uint32_t seed);
uint32_t seed();
uint32_t murmur3(const void* bytes, size_t length);
// MurmurHash3 of the bytes with A-Z folded to a-z (the symbol table's hash).
uint32_t murmur3_lower(const void* bytes, size_t length);
// fmix32 alone, without seed.
uint32_t hash_pointer(uint32_t value);
uint32_t hash_value(const Cell* value, bool case_sensitive);
// Datatypes hashed by identity (their series or context node, their table index): the tables
// match such keys by identity as well, never by content.
bool identity_key(uint32_t type);

// ---- tables ----

// size: expected keys; source: for kinds 0 and 1 a block-like value whose block becomes the value
// block (indexed from its head), for kind 2 with EXTRA_WORD_TABLE a context! cell whose word
// table is copied; null or none! for a fresh block. extra: kinds 3 and 4: value cells per entry.
Handle make(uint32_t size, const Cell* source, int32_t kind, int32_t extra);

// Enters a key whose cell is already in the value block. insert_key tells what happened through
// `status` and answers the key cell (kind 1 with STATUS_PRESENT: the equal key already stored).
Cell* put(Handle table, Cell* key);
Cell* insert_key(Handle table, Cell* key, int* status);
// Kind 1: insert_key of a key that a lookup under op 0 or 2 just failed to find: `hash` is
// last_probe_hash() of that get, `cycles` the collector's cycle count then (after a collection
// the key is hashed and compared again).
Cell* insert_key_hashed(Handle table, Cell* key, int* status, uint32_t hash, uint32_t cycles);

// Looks a key up. Kind 0: among the cells equal to the key under op 0, those for which `op`
// holds: forward the first at or after head whose distance from head is a multiple of `skip`;
// with last the last such one; with reverse the last before head whose distance head - l - 1 is
// a multiple of `skip`. Kind 1: the
// first stored key of the same datatype (word kinds taken as set-word!) for which `op` holds.
// Kind 2: a word table by exact symbol id of the key word (any word kind), the symbol table by
// the exact spelling of a symbol! key. Null when none.
Cell* get(Handle table, const Cell* key, int32_t head, int32_t skip, int32_t op, bool last,
          bool reverse);

// Kind 0: the first position at or after `head` of an integer cell of `value`, as get answers
// an integer key under COMP_FIND or COMP_STRICT_EQUAL with a skip of 1; -1 when there is none.
// Answers INTEGER_ASK_GET, without looking, when the table must go through get (it is due for a
// refresh, or keys are compared through another hook). Never allocates.
constexpr int32_t INTEGER_ASK_GET = -2;
int32_t integer_position(Handle table, uint32_t value, int32_t head);

// The hash of the probe of the last kind-1 get.
uint32_t last_probe_hash();

// Continues a probe for keys equal (op 0) to `key`, matched as get matches them: kind 1 keys of
// the probe's datatype (any datatype for a T_PROBE key), kind 0 buckets of any datatype (the
// answer is the first position of the bucket). Start with bucket = -1.
Cell* find_next(Handle table, const Cell* key, int32_t* bucket, int32_t* end, int32_t* step);

// Kind 0: drops the key at the cell's position; kind 1: marks the pair removed (value header 0).
void delete_key(Handle table, Cell* key);
void delete_position(Handle table, int32_t position);
// Kind 0: drops `count` positions from `position` (all of them: the table is emptied).
void remove_range(Handle table, int32_t position, int32_t count);
// Kind 0: the `count` cells from `from` moved `delta` places in the block. Answers true (doing
// nothing) when more than 30,000 positions are involved: the caller rebuilds the table. With
// `adjust`, removed positions are dropped (delta < 0) and the position array follows the move.
bool shift_positions(Handle table, int32_t delta, int32_t from, int32_t count, bool adjust);
// Kind 0: the `count` cells at `from` moved to `to` (block numbering before the move; for a
// target after the run the cells land at to - count).
void move_positions(Handle table, int32_t to, int32_t from, int32_t count);

// Enters the block's cells from a position on, `stride` apart (kind 1: pairs; a key equal under
// op 2 to an earlier one gives its value to the earlier pair and the later pair is cut out).
void index_values(Handle table, int32_t from, int32_t stride);

Handle copy(Handle table, Handle new_block);
void clear(Handle table);
// Kind 0: rebuilt for `size` keys over the whole block; kinds 3 and 4: for `size` buckets.
void rebuild(Handle table, int32_t size);
// Kinds 1 and 2: in-place resize for a requested bucket count.
void resize(Handle table, uint32_t request);

// Kinds 3 and 4. Addresses of the entry's first value cell (valid until the next allocation).
Cell* put_pointer(Handle table, uint32_t key);
Cell* get_pointer(Handle table, uint32_t key);
Cell* delete_pointer(Handle table, uint32_t key);
// Entries in use, for walks (ownership pruning, the encoder): calls fn(key, first value cell).
template <class F> void for_each_pointer(Handle table, F fn);

// The symbol table: interns a spelling, answers its symbol id (1-based).
uint32_t intern_symbol(Handle table, const uint8_t* bytes, uint32_t length, bool any_case);
// The symbol id of a spelling already interned, or 0 (nothing is created).
uint32_t find_symbol(Handle table, const uint8_t* bytes, uint32_t length, bool any_case);
// A word table: the position of the word cell matching a symbol in the table's block, or -1.
int32_t word_position(Handle table, uint32_t symbol, bool ignore_case);
// A word table: the slot of a symbol, or -1. With a context node to add to, an absent symbol is
// appended as a word cell {word!, context, symbol, n} and n is written to *out_slot.
int32_t word_slot(Handle table, uint32_t symbol, bool ignore_case, Handle context, int32_t* out_slot);

// Marking for the collector (installed as collector::mark_hashtable). The ownership table
// (kind 4) holds its entries weakly: only its own buffers are marked, so that entries of dead
// series can be pruned; mark_entries marks the entries that survive.
void mark(Handle* table_ref);
void mark_entries(Handle table);

// Diagnostic listing: "\n== Deleted keys ==", a line per deleted bucket, "== Alive keys ==", a
// line per live bucket, each with the bucket's entry words separated by " ".
std::string dump(Handle table);

// Brings a table up to date after collections moved the nodes its keys hash by (done by get,
// put_pointer, get_pointer and delete_pointer).
void refresh(Handle table);

// ---- template definitions ----

template <class F> void for_each_pointer(Handle table, F fn) {
    Record* r = record(table);
    uint32_t cells_per_entry = r->indexes / 16;
    SeriesBuffer* b = memory::buffer_of(r->data);
    Cell* c = b->head_cell();
    uint32_t n = b->used() / 16;
    for (uint32_t i = 0; i + cells_per_entry <= n; i += cells_per_entry)
        if (c[i].header == T_UNSET) fn(c[i].data1, c + i + 1);
}

}  // namespace kov::hashtable
