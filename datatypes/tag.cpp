// tag!, email! and ref!: their forming and molding, email! paths, and the three registrations.
#include "datatypes/tag.hpp"

#include <algorithm>

#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/string_actions.hpp"

namespace kov::tag {

Cell* push(const Cell* tag) { return stack::push(tag); }

// The value is copied into a root first: writing the bracket may move the block that holds it.
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    collector::Root v(*value);
    string::concatenate_cstring(out, "<", 1);
    int32_t left = string::form(v.get(), out, part, limit - 1);
    string::concatenate_cstring(out, ">", 1);
    return left - 1;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

void init() {
    type_registry::register_type(T_TAG, T_STRING, "tag!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = form, .mold = mold,
        .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit,
        .back = inherit, .change = inherit, .clear = inherit, .copy = inherit, .find = inherit,
        .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
        .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
        .remove = inherit, .reverse = inherit, .select = inherit, .skip = inherit,
        .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
        .modify = inherit});
}

}  // namespace kov::tag

namespace kov::email {

using collector::Root;

namespace {

[[noreturn]] void invalid_path(const PathStep& step) {
    Root p(step.path ? *step.path : none_value), e(*step.element);
    stack::raise_error("script", "invalid-path", {p.get(), e.get()});
}

bool word_is(const Cell* word, const char* name) {
    return symbol::resolve(cells::word_symbol(*word)) == symbol::resolve(symbol::make(name));
}

}  // namespace

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return string::form(value, out, part, limit);
}

Cell* eval_path(const PathStep& step) {
    const Cell* element = step.element;
    if (element->is(T_INTEGER)) return string::eval_path(step);
    if (!element->is(T_WORD)) invalid_path(step);
    bool user = word_is(element, "user");
    if (!user && !word_is(element, "host")) invalid_path(step);

    Cell* email = step.value;
    uint32_t len = string::length(email);
    int32_t at = string::find_char(email, '@');
    uint32_t p = at < 0 ? len : uint32_t(at);
    uint32_t head = std::min(email->data1, memory::buffer_of(email->data2)->length());
    // The part's range, counted from the head.
    uint32_t from = user ? 0 : std::min(p + 1, len);
    uint32_t count = user ? p : len - from;

    if (!step.set_value) {
        Root source(*email);
        source->data1 = head + from;
        Root result;
        string::make_at_unit(result.get(), count,
                             memory::buffer_of(source->data2)->unit());
        string::concatenate(result.get(), source.get(), int32_t(count), 0, true,
                            string::CONCAT_APPEND);
        cell::set_type(result.get(), T_STRING);
        return stack::push(result.get());
    }
    if (!user && at < 0) {
        // Without an "@" the host goes after a new one.
        Cell sign{T_CHAR, 0, '@', 0};
        Root end(*email);
        string::append(end.get(), &sign, -1, false, 1);
        string::append(end.get(), step.set_value, -1, false, 1);
        return email;
    }
    Root at_part(*email);
    at_part->data1 = head + from;
    string::change(at_part.get(), step.set_value, int32_t(count), false, 1);
    return email;
}

void init() {
    type_registry::register_type(T_EMAIL, T_STRING, "email!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = mold,
        .eval_path = eval_path, .compare = inherit, .append = inherit, .at = inherit,
        .back = inherit, .change = inherit, .clear = inherit, .copy = inherit, .find = inherit,
        .head = inherit, .head_q = inherit, .index_q = inherit, .insert = inherit,
        .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
        .remove = inherit, .reverse = inherit, .select = inherit, .skip = inherit,
        .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
        .modify = inherit});
}

}  // namespace kov::email

namespace kov::ref {

Cell* push(const Cell* ref) { return stack::push(ref); }

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    collector::Root v(*value);
    string::concatenate_cstring(out, "@", 1);
    return string::form(v.get(), out, part, limit - 1);
}

void init() {
    type_registry::register_type(T_REF, T_STRING, "ref!", {
        .make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = mold,
        .compare = inherit, .at = inherit, .back = inherit, .change = inherit, .clear = inherit,
        .copy = inherit, .find = inherit, .head = inherit, .head_q = inherit,
        .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit,
        .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
        .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
        .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit});
}

}  // namespace kov::ref
