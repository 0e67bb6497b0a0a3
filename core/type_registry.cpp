// The datatype registry.
#include "core/type_registry.hpp"

#include <cstring>
#include <iterator>

namespace kov::type_registry {

TypeName names[TYPE_COUNT_MAX + 1];
ActionTable tables[TYPE_COUNT_MAX + 1];
uint32_t top_id = 0;
void (*load_word)(Cell* out, const char* name, int32_t length) = nullptr;

namespace {
const char* const SPELLINGS[] = {
    nullptr, "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!", "url!",
    "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!", "lit-word!",
    "get-word!", "refinement!", "issue!", "native!", "action!", "op!", "function!", "path!",
    "lit-path!", "set-path!", "get-path!", "routine!", "bitset!", "triple!", "object!", "typeset!",
    "error!", "vector!", "hash!", "pair!", "percent!", "tuple!", "map!", "binary!", "series!",
    "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!", "point2D!",
    "point3D!", "image!", "event!"};
}  // namespace

const char* spelling(uint32_t id) {
    if (id <= TYPE_COUNT_MAX && names[id].name) return names[id].name;
    return id < std::size(SPELLINGS) ? SPELLINGS[id] : nullptr;
}

void init() {
    std::memset(names, 0, sizeof names);
    for (ActionTable& t : tables) t = ActionTable{};
    top_id = 0;
    load_word = nullptr;
}

bool register_type(uint32_t id, uint32_t parent, const char* name, const ActionTable& handlers) {
    if (id == 0 || id > TYPE_COUNT_MAX || parent > TYPE_COUNT_MAX || parent == id) return false;
    if (parent && !names[parent].name) return false;
    // Resolved into a copy: a refused registration leaves the registry as it was.
    ActionTable resolved = handlers;
#define KOV_RESOLVE(slot, field)                                                                   \
    if (resolved.field.inherited) {                                                                \
        if (!parent) return false;                                                                 \
        resolved.field = tables[parent].field;                                                     \
    }
    KOV_ACTION_FIELDS(KOV_RESOLVE)
#undef KOV_RESOLVE
    tables[id] = resolved;
    if (id > top_id) top_id = id;
    TypeName& t = names[id];
    t.name = name;
    t.length = int32_t(std::strlen(name)) - 1;
    t.word = Cell{};
    if (load_word) load_word(&t.word, t.name, t.length + 1);
    return true;
}

void intern_names() {
    if (!load_word) return;
    for (uint32_t id = 1; id <= top_id; id++)
        if (names[id].name) load_word(&names[id].word, names[id].name, names[id].length + 1);
}

int32_t relation(const Cell* a, const Cell* b, int32_t op) {
    const auto& handler = tables[a->type()].compare;
    if (!handler) return 0;
    int32_t r = handler(a, b, op);
    if (r == NOT_COMPARABLE) return op == COMP_NOT_EQUAL ? 1 : 0;
    switch (op) {
    case COMP_NOT_EQUAL: return r != 0;
    case COMP_LESSER: return r < 0;
    case COMP_LESSER_EQUAL: return r <= 0;
    case COMP_GREATER: return r > 0;
    case COMP_GREATER_EQUAL: return r >= 0;
    default: return r == 0;
    }
}

}  // namespace kov::type_registry
