// error! values: a failure's category, id, up to three arguments, and where it happened.
//
// An error's fields live in a block of ten cells in slot order (code type id arg1 arg2 arg3 near
// where stack files); data1 of the error! cell is that block's node. The catalogue of categories
// and ids below fixes the codes (category slot * 100 + id slot - 2). The type and id fields hold
// the category and id as words once the symbol table exists, and as integer! slots before that.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/services.hpp"
#include "core/value.hpp"

namespace kov::error {

enum Field { F_CODE = 0, F_TYPE, F_ID, F_ARG1, F_ARG2, F_ARG3, F_NEAR, F_WHERE, F_STACK, F_FILES, FIELD_COUNT };

struct Category {
    const char* word;        // "script"
    const char* type_text;   // "Script Error"
    const char* const* ids;  // id words, in slot order (slot 2 onward), null-terminated
};
constexpr int CATEGORY_COUNT = 10;
extern const Category catalogue[CATEGORY_COUNT];

// Finds a category and id in the catalogue: false when either is unknown.
bool lookup(std::string_view category, std::string_view id, int& category_slot, int& id_slot);
int32_t code_of(std::string_view category, std::string_view id);  // -1 when unknown

// create, set_where, set_stack_position and print_uncaught are declared in core/services.hpp.

Cell* field(const Cell* error, int slot);
int32_t code(const Cell* error);
std::string category_word(const Cell* error);  // "script"
std::string id_word(const Cell* error);        // "no-value"

// A short report: "*** Script Error: no-value" and the arguments' datatypes.
std::string brief_report(const Cell* error);

}  // namespace kov::error
