// The routine table.
#include "evaluator/routines.hpp"

#include <array>
#include <cstddef>

namespace kov::routines {

namespace {
std::array<Fn, CAPACITY> table{};
int32_t used = 0;
}  // namespace

int32_t add(Fn fn) {
    if (used >= CAPACITY || !fn) return 0;
    table[std::size_t(used++)] = fn;
    return used;
}

Fn at(int32_t index) { return index >= 1 && index <= used ? table[std::size_t(index - 1)] : nullptr; }

int32_t count() { return used; }

void reset() {
    table.fill(nullptr);
    used = 0;
}

}  // namespace kov::routines
