// The datatype registry.
#include "core/type_registry.hpp"

#include <cstring>

namespace kov::type_registry {

TypeName names[TYPE_COUNT_MAX + 1];
Routine actions[(TYPE_COUNT_MAX + 1) * 256];
uint32_t top_id = 0;
void (*load_word)(Cell* out, const char* name, int32_t length) = nullptr;

void init() {
    std::memset(names, 0, sizeof names);
    std::memset(actions, 0, sizeof actions);
    top_id = 0;
}

void register_type(uint32_t id, uint32_t parent, const char* name, const Routine* list) {
    if (id > top_id) top_id = id;
    TypeName& t = names[id];
    t.name = name;
    t.length = int32_t(std::strlen(name)) - 1;
    t.word = Cell{};
    if (load_word) load_word(&t.word, t.name, t.length + 1);
    for (int k = 1; k <= ACTION_COUNT; k++) {
        Routine r = list[k - 1];
        entry(id, k) = (parent && r == INHERIT) ? entry(parent, k) : r;
    }
}

void intern_names() {
    if (!load_word) return;
    for (uint32_t id = 1; id <= top_id; id++)
        if (names[id].name) load_word(&names[id].word, names[id].name, names[id].length + 1);
}

}  // namespace kov::type_registry
