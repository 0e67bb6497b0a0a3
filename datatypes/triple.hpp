// triple!: three signed 32-bit integers in data1..data3, for internal bookkeeping (the lexer's
// open markers). It can only be formed and molded: "make triple! [a b c]".
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::triple {

void init();
constexpr Cell make(int32_t a, int32_t b, int32_t c) {
    return Cell{T_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);

}  // namespace kov::triple
