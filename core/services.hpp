// What the core needs of the layers above it, declared here and defined there: making and
// reporting error! values (datatypes/error.cpp) and loading words into the global context
// (datatypes/word.cpp). Core modules include this header instead of those modules' own headers,
// which include it in turn, so the core depends on nothing above it.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/value.hpp"

namespace kov::error {

// Builds an error value of the catalogue with up to three arguments (null: none!); a category
// or id the catalogue lacks gives internal invalid-error.
void create(Cell* out, std::string_view category, std::string_view id, const Cell* arg1 = nullptr,
            const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// Stores `where` into the where field while it is none!.
void set_where(Cell* error, const Cell* where);
// Fills the error's near with the code being evaluated, when it has none (a made error! raised).
void set_near(Cell* error);
// Records the call-frame position while the error is thrown (unless stack holds a block).
void set_stack_position(Cell* error, int32_t position);
// Prints the report of an error that nothing received.
void print_uncaught(const Cell* error);

}  // namespace kov::error

namespace kov::word {

// Interns the spelling and finds or adds its word in the global context, ignoring case: a word
// already there under another spelling gives a copy carrying the asked spelling, bound to the
// same slot (kept in the root block). While booting, the result is a copy appended to the root
// block. The answer is valid until the next allocation.
Cell* load(std::string_view spelling);

}  // namespace kov::word
