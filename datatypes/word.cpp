// Loading words and binding them in the global context.
#include "datatypes/word.hpp"

#include "core/boot.hpp"
#include "core/context.hpp"
#include "core/symbol.hpp"

namespace kov::word {

Cell* load(std::string_view spelling) {
    uint32_t sym = symbol::make(spelling);
    Cell* w = context::add_global_word(sym, true, true);
    if (boot::booting) return boot::keep(w);
    return w;
}

void make_at(uint32_t sym, Cell* out) {
    Cell w{T_WORD, context::global, sym, 0};
    int32_t slot = context::add_word(context::global, &w);
    *out = Cell{T_WORD, context::global, sym, uint32_t(slot)};
}

}  // namespace kov::word
