// Contexts and word binding.
//
// A context is a node whose series holds two cells:
// 1. the context cell: header context! (14) with bits 11-12 the kind (0 global, 1 function,
//    2 object), CTX_ON_STACK when the values live on the argument stack, CTX_OBJECT on object
//    contexts, CTX_OWNS_SERIES once the object owns series; data1 the node of the word table (a
//    kind-2 hash table over a block of word cells, one per slot); data2 the node of the values
//    block, or, with CTX_ON_STACK, the argument-stack index of the first value + 1 while the
//    function runs (0 while it does not);
// 2. the owner cell: the value owning the context (unset! until the owner stores itself).
//
// A word cell's binding: data1 the context node (0 unbound), data2 the symbol id, data3 the slot
// (-1 not resolved yet). Word cells of a word table carry their own slot in data3; a case
// variant of a global word carries the slot of the word it varies, so all spellings share one
// value. Slots are only ever appended.
//
// Memory rules: routines that may allocate (create, make, clone, adding words, set_in of an
// unresolved word, collect_set_words) take context nodes and re-read them through roots; word
// and value cells passed in are read before anything allocates (values are kept rooted), and a
// cell answered is valid until the next allocation. `clone` writes into its value cell at the
// end: that cell must not move (argument stack or a collector::Root).
//
// Start-up: context::init_global() is the step that makes the global context (after the root
// block and the stacks' blocks, before the case tables and symbol::init_table).
#pragma once

#include <cstdint>

#include "core/context_lookup.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/value.hpp"

namespace kov::context {

constexpr uint32_t KIND_GLOBAL = 0, KIND_FUNCTION = 1, KIND_OBJECT = 2;
constexpr uint32_t KIND_SHIFT = 11;
constexpr uint32_t KIND_MASK = 0x1800;
constexpr uint32_t CTX_OBJECT = 0x1000000;
constexpr uint32_t GLOBAL_WORDS = 4000;
constexpr uint32_t NO_SLOT = 0xFFFFFFFFu;

// The global context's node (marked by the collector through a root marker).
extern Handle global;

// Makes the global context (4,000 words, values in a block).
void init_global();
// Forgets the global context of an earlier run (start-up does this before anything allocates).
void unbind();
// Registers the context! datatype (no action).
void init();

// Services of modules written apart from this one.
// object/fire-on-change: (owner cell, word, old value, new value); null until object! exists.
extern void (*fire_on_change_hook)(const Cell* owner, const Cell* word, const Cell* old_value,
                                   const Cell* new_value);

// ---- accessors ----

inline Cell* cell(Handle ctx) { return memory::buffer_of(ctx)->head_cell(); }
inline Cell* owner(Handle ctx) { return cell(ctx) + 1; }
inline uint32_t kind_of(const Cell* ctx_cell) { return (ctx_cell->header & KIND_MASK) >> KIND_SHIFT; }
inline bool on_stack_q(const Cell* ctx_cell) { return ctx_cell->header & CTX_ON_STACK; }
inline Handle word_table(Handle ctx) { return cell(ctx)->data1; }
inline Handle word_block(Handle ctx) { return hashtable::record(word_table(ctx))->data; }
uint32_t word_count(Handle ctx);
// The symbol id of `self`, 0 while it is not interned.
uint32_t self_symbol();

// ---- lookup ----

int32_t find_word(Handle ctx, uint32_t symbol, bool ignore_case);
// The slot, or -1 after appending a word cell {context, symbol, n} (n written to *out_slot; no
// value cell is added).
int32_t find_word_slot(Handle ctx, uint32_t symbol, bool ignore_case, int32_t* out_slot);
Cell* word_cell_at(Handle ctx, int32_t slot);
// The values block's buffer (null for a context whose values live on the stack).
SeriesBuffer* values(Handle ctx);
// The address of a slot's value: on the argument stack or in the values block (which is extended
// with unset! cells when the slot lies past its tail). Null when the context has no values.
Cell* value_cell(Handle ctx, int32_t slot);
// data1 of the owner cell of the value's context (the value holds its context in data1).
Handle self_node(const Cell* value);
// The value cell of a symbol (ignoring case) in the value's context; the global context when that
// context keeps its values on the stack. Null when absent.
Cell* symbol_value_cell(uint32_t symbol, const Cell* value);

// ---- adding ----

int32_t add_word(Handle ctx, const Cell* word);
Cell* add_with(Handle ctx, const Cell* word, const Cell* value);
void add_if_absent(Handle ctx, const Cell* word, const Cell* value);
Cell* add_global_word(uint32_t symbol, bool ignore_case, bool store);
Cell* add_global(uint32_t symbol);

// ---- reading and writing ----

// The common reads and writes are inline and root nothing: a resolved word whose context keeps
// the slot's value in its values block or on the argument stack is read or written in place.
// Everything else (an unbound or unresolved word, a slot past the values' tail, an object with a
// change handler) goes to the out-of-line routines, which root what they hold.

// The value cell of a resolved slot when it can be reached without allocating, else null.
[[gnu::always_inline]] inline Cell* reachable_value(const Cell* ctx_cell, uint32_t slot) {
    uint32_t values = ctx_cell->data2;
    if (!values) return nullptr;
    if (ctx_cell->header & CTX_ON_STACK) {
        uint64_t i = uint64_t(values - 1) + slot;
        return i < ARG_STACK_CELLS ? stack::begin + i : nullptr;  // the stack never grows
    }
    SeriesBuffer* b = memory::buffer_of(values);
    return slot < b->used() / 16 ? b->head_cell() + slot : nullptr;
}

// The value cell of a slot through an entry, as reachable_value finds it.
[[gnu::always_inline]] inline Cell* entry_value(const LookupEntry* e, uint32_t slot) {
    if (SeriesBuffer* b = e->values) return slot < b->used() / 16 ? b->head_cell() + slot : nullptr;
    uint32_t values = e->ctx_cell->data2;
    if (!values) return nullptr;
    uint64_t i = uint64_t(values - 1) + slot;
    return i < ARG_STACK_CELLS ? stack::begin + i : nullptr;  // the stack never grows
}
// reachable_value of a context node's slot, through the cache.
[[gnu::always_inline]] inline Cell* value_cell(Handle ctx, uint32_t slot) {
    const LookupEntry* e = lookup(ctx);
    return e ? entry_value(e, slot) : nullptr;
}

Cell* get_in_slow(const Cell* word, Handle ctx);
Cell* set_in_slow(Cell* word, const Cell* value, Handle ctx, bool fire);

// A word's value cell in a context (valid until the next allocation); raises no-value,
// not-defined or not-in-context.
inline Cell* get_in(const Cell* word, Handle ctx) {
    uint32_t slot = word->data3;
    if (ctx && int32_t(slot) >= 0) [[likely]] {
        if (Cell* v = value_cell(ctx, slot)) return v;
    }
    return get_in_slow(word, ctx);
}
inline Cell* get(const Cell* word) { return get_in(word, word->data1); }

// Writes a word's value; an unresolved word (slot -1) is looked up by exact symbol, added when
// absent, and gets its slot written before anything allocates. In an object context the slot's
// word is marked assigned, and with `fire` the owner's change handler runs.
inline Cell* set_in(Cell* word, const Cell* value, Handle ctx, bool fire) {
    uint32_t slot = word->data3;
    if (ctx && int32_t(slot) >= 0) [[likely]] {
        Cell* c = cell(ctx);
        if (Cell* target = reachable_value(c, slot)) {
            if (on_stack_q(c) || kind_of(c) != KIND_OBJECT) [[likely]] {
                *target = *value;
                return target;
            }
            if (!(fire && c[1].data3 && fire_on_change_hook)) {
                SeriesBuffer* words = memory::buffer_of(hashtable::record(c->data1)->data);
                if (slot < words->used() / 16) words->head_cell()[slot].header |= WORD_ASSIGNED;
                *target = *value;
                return target;
            }
        }
    }
    return set_in_slow(word, value, ctx, fire);
}
inline Cell* set(Cell* word, const Cell* value) { return set_in(word, value, word->data1, true); }
// Writes a value in place into a resolved slot of a function's or the global context and
// answers its cell; null (nothing written) for an object's word, which takes `set` (assigned
// mark, change events), or a slot that cannot be reached without allocating.
[[gnu::always_inline]] inline Cell* store_in_place(Handle ctx, uint32_t slot, const Cell* value) {
    const LookupEntry* e = lookup(ctx);
    if (!e) return nullptr;
    const Cell* c = e->ctx_cell;
    if (!on_stack_q(c) && kind_of(c) == KIND_OBJECT) return nullptr;
    Cell* target = entry_value(e, slot);
    if (target) *target = *value;
    return target;
}
// `set` with its common case written inline: for the loop counters that are set on every turn.
[[gnu::always_inline]] inline Cell* set_quick(Cell* word, const Cell* value) {
    if (word->data1 && int32_t(word->data3) >= 0) [[likely]] {
        if (Cell* target = store_in_place(word->data1, word->data3, value)) return target;
    }
    return set(word, value);
}
void set_integer(Handle ctx, Cell* word, int32_t n);
void get_global_copy(uint32_t symbol, Cell* out);
Cell* global_value_cell(uint32_t symbol);

// ---- stores and reads for compiled code (the value on top of the argument stack) ----

// context::set of the top value; an unset! value raises need-value with the word.
void set_word_from_top(Cell* word);
// The same, then the stack top goes back to the frame base.
void set_word_from_top_reset(Cell* word);
// The top value into value slot i; unset! raises need-value with the word of slot i.
void set_slot_from_top(Handle ctx, int32_t slot);
void set_slot_from_top_reset(Handle ctx, int32_t slot);
// The top value into slot i without the unset! check; in an object context the slot's word is
// marked assigned; then the stack top goes back to the frame base.
void set_object_slot_from_top(Handle ctx, int32_t slot);
// context::get; an unset! value raises no-value with the word.
Cell* get_word_checked(const Cell* word);
// The address of value slot i; a context without values raises not-defined with the slot's word.
Cell* value_slot_at(Handle ctx, int32_t slot);

// ---- making and binding ----

// source: a context! cell whose word table is copied, or null.
Handle create(uint32_t size, bool on_stack, bool object, const Cell* source, uint32_t kind);
Handle make(const Cell* spec, bool on_stack, bool object, uint32_t kind);
Handle clone(Cell* value, uint32_t kind);
int32_t bind_word_index(Handle ctx, Cell* word);
Cell* bind(Cell* block, Handle ctx, bool self_mode);
bool collect_set_words(Handle ctx, const Cell* block);

}  // namespace kov::context
