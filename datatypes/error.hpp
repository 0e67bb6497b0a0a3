// error! values: a failure's category, id, up to three arguments, and where it happened.
//
// An error is an object-like value: data1 a context (kind object) copied from the error
// prototype, whose fields in slot order are code type id arg1 arg2 arg3 near where stack files;
// data2 the class id 1; data3 0 (errors carry no event handlers). The owner cell of the context
// holds a copy of the error cell. `type` is the category word bound to the catalogue's errors
// object, `id` the id word bound to its category object, and `code` is
// category slot * 100 + id slot - 2 (see datatypes/error_catalogue.hpp).
//
// The report (form) reads:
//   *** <category name>: <message>
//   *** Where: <where>
//   *** Near : <near, molded flat, cut to 40 characters>
// and, when enabled, "*** Stack: " and "*** Files: " lines. Message arguments are molded, except
// in the syntax category where they are formed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/services.hpp"
#include "core/value.hpp"

namespace kov::error {

enum Field { F_CODE = 0, F_TYPE, F_ID, F_ARG1, F_ARG2, F_ARG3, F_NEAR, F_WHERE, F_STACK, F_FILES, FIELD_COUNT };

// Registers error! (no parent until object! exists).
void init();
// Start-up, after the stacks: reads the loaded catalogue (see error_catalogue.hpp) and makes the
// error prototype.
void init_catalogue(const Cell* source);
// Forgets the prototype of an earlier run.
void unbind();

// create, set_where, set_stack_position and print_uncaught are declared in core/services.hpp.

// The make action: from an integer! code, a block! [category id], a block of set-words (needs
// the evaluator), or a string! (a user error). Pushes the result and answers it.
Cell* make(const Cell* proto, const Cell* spec, uint32_t type);

// Fields. The cell answered is valid until the next allocation.
Cell* field(const Cell* error, int slot);
int32_t code(const Cell* error);
uint32_t get_type(const Cell* error);    // the symbol of the type word (0 when not a word)
uint32_t get_id(const Cell* error);      // the symbol of the id word (0 when not a word)
std::string category_word(const Cell* error);  // "script"
std::string id_word(const Cell* error);        // "no-value"
constexpr int stack_field() { return F_STACK; }
// The code of a category and id, -1 when the catalogue lacks either.
int32_t code_of(std::string_view category, std::string_view id);

// Replaces an integer! stack position by a block of the names of the calls from there (as deep
// as the stack-trace level, 1 when it is not positive), and copies the source files into
// `files` when there are any. For try and the console.
void build_trace(Cell* error);

// The form action: writes the report into the string `out` (rooted) and answers the limit less
// the characters written. Never raises: a category, id or template that the catalogue lacks
// turns the error into internal invalid-error with the offending value as arg1.
int32_t form(const Cell* error, Cell* out, bool part, int32_t limit);
// The report as UTF-8 text.
std::string report(const Cell* error);

// What the runtime state object tells the report (null: 0 and no files): the stack-trace level,
// and the source files being run (false when there are none; else `out` receives a copy).
extern int32_t (*stack_trace_level)();
extern bool (*source_files)(Cell* out);
// The code being evaluated when an error is made (the interpreter's near position), or null.
extern const Cell* (*near_source)();

}  // namespace kov::error
