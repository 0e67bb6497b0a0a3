// The runtime's own words.
#include "core/runtime_words.hpp"

#include "core/collector.hpp"
#include "core/services.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"

namespace kov::runtime_words {

namespace sym {
#define KOV_DEFINE(id, text) uint32_t id = 0;
KOV_RUNTIME_SYMBOLS(KOV_DEFINE)
#undef KOV_DEFINE
}  // namespace sym

namespace words {
#define KOV_DEFINE(id, text) ::kov::Cell id{};
KOV_RUNTIME_WORDS(KOV_DEFINE)
#undef KOV_DEFINE
}  // namespace words

namespace refinements {
#define KOV_DEFINE(id, text) ::kov::Cell id{};
KOV_RUNTIME_REFINEMENTS(KOV_DEFINE)
#undef KOV_DEFINE
}  // namespace refinements

Cell issue_ooo{};

namespace {

Cell load_as(const char* text, uint32_t type) {
    Cell c = *word::load(text);
    c.header = (c.header & ~CELL_TYPE_MASK) | type;
    return c;
}

bool marker_added = false;

}  // namespace

void mark() {
#define KOV_MARK(id, text) collector::mark_cells(&words::id, &words::id + 1);
    KOV_RUNTIME_WORDS(KOV_MARK)
#undef KOV_MARK
#define KOV_MARK(id, text) collector::mark_cells(&refinements::id, &refinements::id + 1);
    KOV_RUNTIME_REFINEMENTS(KOV_MARK)
#undef KOV_MARK
    collector::mark_cells(&issue_ooo, &issue_ooo + 1);
}

void init() {
#define KOV_INTERN(id, text) sym::id = symbol::make(text);
    KOV_RUNTIME_SYMBOLS(KOV_INTERN)
#undef KOV_INTERN
#define KOV_INTERN(id, text) words::id = *word::load(text);
    KOV_RUNTIME_WORDS(KOV_INTERN)
#undef KOV_INTERN
    if (!marker_added) {
        collector::add_root_marker(mark);
        marker_added = true;
    }
    stack::set_hidden_symbols(words::anon.data2, words::body.data2);
    stack::not_found_symbol = words::not_found.data2;
    collector::self_symbol = sym::self;
}

void init_refinements() {
#define KOV_INTERN(id, text) refinements::id = load_as(text, T_REFINEMENT);
    KOV_RUNTIME_REFINEMENTS(KOV_INTERN)
#undef KOV_INTERN
}

void init_issue() { issue_ooo = load_as("ooo", T_ISSUE); }

}  // namespace kov::runtime_words
