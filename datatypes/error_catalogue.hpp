// The error catalogue: every error category with its base code and display name, and every error
// id with its message template. Its text is a file of the boot library (boot/errors.kov: `context`
// followed by the block of categories) that start-up loads and reads into the errors object first.
//
// The errors object has one field per category (throw note syntax script math access reserved1
// reserved2 user internal); each holds a category object whose fields are `code` (integer!),
// `type` (string!, the display name) and then one field per id holding its template: a string!,
// a block! of strings and of words or get-words naming the error's fields, or a word! naming one.
// An error's code is category slot * 100 + id slot - 2 (ids start at slot 2).
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"

namespace kov::error_catalogue {

// Reads the loaded catalogue (a block: the word `context` and the block of categories) into the
// errors object (start-up, once the symbol table and the stacks exist). The object stays alive
// and current across collections for the rest of the run. A malformed catalogue is a broken
// build: fatal runtime error 98.
void build(const Cell* source);
// Forgets the object of an earlier run (start-up does this before anything allocates).
void unbind();

// The errors object's context node; 0 before build.
Handle errors();
// The number of categories (the errors object's word count).
uint32_t category_count();
// The slot of a category named by a symbol (ignoring case), or -1.
int32_t category_slot(uint32_t symbol);
// The context node of the category object at a slot (0 when the slot holds no object).
Handle category(int32_t slot);
// The slot of a field named by a symbol (ignoring case) in a category object, or -1.
int32_t field_slot(Handle category, uint32_t symbol);
// The word count of a category object (2 + its ids).
uint32_t field_count(Handle category);

// The code of a category and id given by spelling, -1 when either is unknown.
int32_t code_of(std::string_view category, std::string_view id);

}  // namespace kov::error_catalogue
