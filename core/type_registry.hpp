// The datatype registry: each datatype's name and its table of 62 action routines, filled once
// at start-up, with single inheritance resolved when a type registers (parents come first).
#pragma once

#include <array>
#include <cstdint>

#include "core/value.hpp"

namespace kov {

// An action routine. Each slot has its own signature (see actions.hpp); the table keeps them
// as one generic pointer type and the dispatch casts back to the slot's signature.
using Routine = void (*)();

// Entry markers in a registration list.
inline const Routine INHERIT = reinterpret_cast<Routine>(uintptr_t(-1));
constexpr Routine NONE_ACTION = nullptr;
template <class F> inline Routine R(F* f) { return reinterpret_cast<Routine>(f); }

// Short names for registration lists, which spell all 62 entries in slot order:
//   make random reflect to form mold eval-path set-path compare
//   absolute add divide multiply negate power remainder round subtract even? odd?
//   and~ complement or~ xor~
//   append at back change clear copy find head head? index? insert length? move next pick
//   poke put remove reverse select sort skip swap tail tail? take trim
//   create close delete modify open open? query read rename update write
#define KOV_NO nullptr
#define KOV_INH ::kov::INHERIT

struct TypeName {
    const char* name;  // "integer!"
    int32_t length;    // without the final "!"
    Cell word;         // the name word, header 0 until interned
};

namespace type_registry {

extern TypeName names[TYPE_COUNT_MAX + 1];
extern Routine actions[(TYPE_COUNT_MAX + 1) * 256];
extern uint32_t top_id;

inline Routine& entry(uint32_t type, int slot) { return actions[type * 256 + uint32_t(slot) - 1]; }

void init();  // clears both tables
void register_type(uint32_t id, uint32_t parent, const char* name, const Routine* entries);
// Registration with exactly 62 entries, checked when the program is compiled.
template <size_t N>
inline void register_type(uint32_t id, uint32_t parent, const char* name, const Routine (&list)[N]) {
    static_assert(N == ACTION_COUNT, "a datatype registers exactly 62 action entries");
    register_type(id, parent, name, &list[0]);
}
// Interns the name word of every registered type (once the symbol table exists).
void intern_names();
// Hook the symbol module installs: makes the name word of a type name.
extern void (*load_word)(Cell* out, const char* name, int32_t length);

}  // namespace type_registry
}  // namespace kov
