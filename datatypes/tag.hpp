// tag!, email! and ref!: text datatypes stored and handled as string! (their parent), each
// giving only what differs: tag! forms and molds between "<" and ">", email! molds as its plain
// text and reads or changes its user and host parts through paths, ref! molds after "@" (and
// has no append). The stored text has no delimiters.
#pragma once

#include <cstdint>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::tag {

void init();  // after string!
Cell* push(const Cell* tag);
// form and mold write the same text: "<", the text as it is stored, ">".
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);

}  // namespace kov::tag

namespace kov::email {

void init();  // after string!
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
// The words user and host read (a new string!) or change (in place) the text before the first
// "@" and the text after it (setting the host of an address without "@" adds one); an integer!
// picks or pokes one character.
Cell* eval_path(const PathStep& step);

}  // namespace kov::email

namespace kov::ref {

void init();  // after string!
Cell* push(const Cell* ref);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);

}  // namespace kov::ref
