// word! and its kin (set-word!, lit-word!, get-word!, refinement!): loading words from their
// spellings and binding them in the global context, reading and writing the values they name,
// and the action routines of the five kinds (make and to, form, mold, compare, index?).
//
// Word cell: data1 the context node (0 unbound), data2 the symbol id, data3 the slot (-1 not
// resolved yet). The kin share the layout and differ from word! in their type id only.
// Registry: word! has the parent symbol!; the four kin have the parent word! and mold with their
// own marker ("'" "/" ":" in front, ":" behind for set-word!).
//
// Memory rules (see core/collector.hpp): cells answered here are valid until the next
// allocation; a cell that a routine writes after allocating (make_at, the pushes) must not move
// (argument stack or a collector::Root). Word cells passed in are read before anything
// allocates.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/services.hpp"
#include "core/value.hpp"

namespace kov::word {

// ---- loading ----

// load (a word from its spelling, bound in the global context) is declared in core/services.hpp.
// load, retyped to one of the kin (lit-word!, set-word!, get-word!): the header becomes the
// type id. A refinement! is loaded unbound (data1 0, slot -1) and kept in the root block: the
// runtime's own specs use it for /local, /extern and the like.
Cell* load_as(std::string_view spelling, uint32_t type);
// Interns the spelling and appends to the block value (rooted) a word of the given kind bound
// to the global context; answers the new cell.
Cell* load_in(std::string_view spelling, const Cell* block, uint32_t type = T_WORD);
// Makes `out` a word! bound to the global context (the slot of the word equal to it ignoring
// case, or a new slot holding unset!). `out` must not move (argument stack or a root).
void make_at(uint32_t symbol, Cell* out);
// make_at on a new cell at the tail of the block value (rooted); answers the new cell.
Cell* make_in(uint32_t symbol, const Cell* block);
// make_at on a new argument-stack cell, and on the current frame's result cell.
Cell* push_symbol(uint32_t symbol);
Cell* make_result(uint32_t symbol);

// True for the word kinds 15 to 20 (issue! included).
inline bool any_word_q(uint32_t type) { return type >= T_WORD && type <= T_ISSUE; }

// ---- values ----

// Pushes a copy of the word's value; an unset! value raises script error no-value with the word
// (the pushed value stays on the stack: the error unwinds it).
Cell* get(const Cell* word);
// Pushes the word's value as it stands, unset! included.
Cell* push_value(const Cell* word);
// Pushes the value at a context slot: from the argument stack for a running function's context,
// else from its values block. A context without values raises not-defined with the slot's word.
Cell* get_local(Handle ctx, int32_t slot);
// Sets the word in the current frame's first argument to the value in the second; the value
// becomes the frame's result. An unset! value raises need-value with the word; `check` false
// skips that test (the kin's setters).
void set_from_stack(bool check = true);
// Writes the value of the word in the frame's first argument into the frame's result.
void get_to_result();
// Copies the frame's first argument into `target`; an unset! raises need-value with `target`.
void store_result(Cell* target);
// The top of the argument stack into a context slot; `push_old` first pushes a copy of the
// slot's current value (the previous top then goes into the slot). In an object context the
// slot's word is marked assigned.
void set_local(Handle ctx, int32_t slot, bool push_old = false);

// ---- spelling ----

// The symbol cell of the word's symbol with its spelling cache made (valid until the next
// allocation).
Cell* symbol_cell(const Cell* word);
// Pushes the spelling as a new string! value (shares the symbol's spelling cache).
Cell* push_spelling(const Cell* word);

// ---- services of the lexer (null until the lexer registers them) ----

struct LexerServices {
    // The datatype id of the first value that the UTF-8 text reads as (0: none).
    uint32_t (*scan_type)(const uint8_t* utf8, uint32_t length) = nullptr;
    // Loads the text of a string value from its head and writes its first value into `out` (an
    // empty text gives unset!). False when the lexer stopped before the end of the text. `out`
    // must not move.
    bool (*scan_first_value)(const Cell* text, Cell* out) = nullptr;
};
extern LexerServices lexer;

// The datatype that the word's spelling reads as. Internal error not-done while the lexer has
// not registered its service.
uint32_t scan_spelling_type(const Cell* word);

// ---- actions (the handler signatures of core/action_table.hpp) ----

// make and to: the result, typed as `type`, in the frame's result cell (answered).
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
// The marker of the value's kind around the spelling.
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// The frame's first argument's slot + 1 as integer!, or none! for an unresolved word.
void index_q();

// Registers word! then its four kin (after symbol!).
void init();

}  // namespace kov::word
