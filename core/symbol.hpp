// Symbols: one entry per distinct spelling, identified by a small positive id.
//
// The symbol table is a block of symbol! cells (symbol id n is the block's n-th cell) indexed by
// a kind-2 hash table. A spelling that differs from an earlier one only in the case of ASCII
// letters is a symbol of its own whose alias is the canonical id (the first spelling of that
// word), so words compare ignoring case by comparing canonical ids (`resolve`).
//
// symbol! cell: data1 alias (-1 for a canonical symbol, else the canonical id); data2 0 or the
// node of the spelling decoded into a text buffer (the cache, made on first need); data3 the
// node of a byte buffer holding the UTF-8 spelling, its tail at the spelling's end and a NUL
// byte just past it.
//
// Start-up order (see boot): the symbol! and context! datatypes register among the datatypes;
// then the root block with the symbol block; context::init_global() (the global context); the
// case tables; then symbol::init_table(symbol block); then the type names and runtime words.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::symbol {

constexpr uint32_t INITIAL_SYMBOLS = 4000;

// The symbol table's hash table node (its record's data field is the symbol block's node). The
// collector marks it through a root marker registered by init_table.
extern Handle table;

// Makes the symbol table over the symbol block made by the start-up in the root block (0: a new
// block of 4,000 cells, kept in the root block), and installs the name-word hook of the type
// registry. Run once the global context exists.
void init_table(Handle symbol_block = 0);
// Registers the symbol! datatype (only its compare slot is filled).
void init();
// Forgets the table of an earlier run: there is no symbol table until init_table. The start-up
// runs it first.
void unbind();

// Interning. Exact spelling first; a new spelling equal ignoring ASCII case to an existing one
// becomes an alias of that one's canonical symbol.
uint32_t make(std::string_view utf8);
uint32_t make_from_bytes(const uint8_t* bytes, uint32_t length);
// The text of a string value (from its head; `limit` code points, -1 for all) as UTF-8.
uint32_t make_from_string(const Cell* text, int32_t limit = -1);
// Any symbol equal ignoring ASCII case when one exists (it may be an alias), else a new
// canonical symbol; never makes an alias.
uint32_t make_any_case(std::string_view utf8);
// The id of a spelling already interned (exact, or ignoring ASCII case), or 0.
uint32_t find(std::string_view utf8, bool any_case = false);

// Number of symbols.
uint32_t count();

// The symbol cell of an id, without touching its cache (valid until the next allocation).
inline Cell* cell(uint32_t id) {
    return memory::buffer_of(hashtable::record(table)->data)->head_cell() + (id - 1);
}
// The symbol cell with its cache filled (may allocate; valid until the next allocation).
Cell* get(uint32_t id);
// Decodes the spelling into the cache when it is not there yet; answers the cache node.
Handle ensure_cache(uint32_t id);

// The canonical id: the alias when it is greater than 0, else the id itself. 0 stays 0.
inline uint32_t resolve(uint32_t id) {
    if (id == 0) return 0;
    int32_t a = int32_t(cell(id)->data1);
    return a > 0 ? uint32_t(a) : id;
}
inline int32_t alias(uint32_t id) { return int32_t(cell(id)->data1); }

// The spelling bytes followed by a NUL (valid until the next allocation).
const char* spelling_c_string(uint32_t id);
// The spelling (valid until the next allocation) and a copy of it.
std::string_view spelling(uint32_t id);
std::string name(uint32_t id);

// True when the word's canonical id is that of `any-type!`.
bool is_any_type_q(const Cell* word);

// Compare routine of symbol! (slot 9): the spelling compared as text with another symbol's
// spelling or with the text of a string-like value from its head, folded to upper case except
// under ops 2 and 8. Under the equality ops (0, 1, 2, 12) texts of different lengths answer 1;
// under op 9 only the same symbol is 0, anything else -1. -2 when the other value is not text.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

}  // namespace kov::symbol
