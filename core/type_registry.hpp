// The datatype registry: each datatype's name and its typed table of action handlers, filled once
// at start-up, with single inheritance resolved when a type registers (parents come first).
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov {

struct TypeName {
    const char* name;  // "integer!"
    int32_t length;    // without the final "!"
    Cell word;         // the name word, header 0 until interned
};

namespace type_registry {

extern TypeName names[TYPE_COUNT_MAX + 1];
// The resolved handlers of each type (no field is left marked inherited).
extern ActionTable tables[TYPE_COUNT_MAX + 1];
extern uint32_t top_id;

inline const ActionTable& table(uint32_t type) { return tables[type]; }

// The fixed spelling of every datatype id ("integer!"), registered or not; nullptr out of range.
const char* spelling(uint32_t id);

// Whether the type has a handler in the action slot (1 to 62).
inline bool supports(uint32_t type, int slot) {
    const ActionTable& t = tables[type];
    switch (slot) {
#define KOV_SUPPORTS(s, field) case s: return bool(t.field);
        KOV_ACTION_FIELDS(KOV_SUPPORTS)
#undef KOV_SUPPORTS
    default: return false;
    }
}

void init();  // clears both tables and the name-word hook
// Records the type's name and handlers. A field marked inherited takes the parent's handler as
// it stands now; later changes to the parent are not seen. Refused (false, nothing recorded)
// when the parent has not registered yet, or a field is marked inherited without a parent.
bool register_type(uint32_t id, uint32_t parent, const char* name, const ActionTable& handlers);
// Whether `op` holds between two values, through the compare handler of a's datatype: 1 when it
// holds, else 0. Values the handler cannot compare are unequal; a type without a handler has no
// equal values.
int32_t relation(const Cell* a, const Cell* b, int32_t op);

// Interns the name word of every registered type (once the symbol table exists).
void intern_names();
// Hook the symbol module installs: makes the name word of a type name.
extern void (*load_word)(Cell* out, const char* name, int32_t length);

}  // namespace type_registry
}  // namespace kov
