// triple!: forming, molding and registration.
#include "datatypes/triple.hpp"

#include <string>

#include "core/type_registry.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/string.hpp"

namespace kov::triple {

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    std::string text = "make triple! [";
    const uint32_t words[3] = {value->data1, value->data2, value->data3};
    for (int i = 0; i < 3; i++) {
        if (i) text += ' ';
        text += integer::form_signed(int32_t(words[i])).view();
    }
    text += ']';
    string::concatenate_cstring(out, text);
    return int32_t(int64_t(limit) - int64_t(text.size()));
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

void init() {
    type_registry::register_type(T_TRIPLE, 0, "triple!", {.form = form, .mold = mold});
}

}  // namespace kov::triple
