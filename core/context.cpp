// Contexts: word tables, values, lookup, get and set, binding.
#include "core/context.hpp"

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"

namespace kov::context {

Handle global = 0;
void (*fire_on_change_hook)(const Cell*, const Cell*, const Cell*, const Cell*) = nullptr;

namespace {

uint32_t self_id = 0;  // cached once `self` is interned

void mark_roots() {
    if (global) collector::mark_context(&global);
}

inline bool word_kind(uint32_t t) { return t >= T_WORD && t <= T_REFINEMENT; }

inline bool block_kind(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH:
        return true;
    default:
        return false;
    }
}

// Appends an unset! value to a context's values block (when it keeps its values in one).
void append_value(Handle ctx) {
    Cell* c = cell(ctx);
    if (on_stack_q(c) || !c->data2) return;
    buffer::alloc_tail_cell(c->data2);
}

[[noreturn]] void raise_with_word(const char* id, const Cell* word) {
    Cell w = *word;
    stack::raise_error("script", id, {&w});
}

}  // namespace

uint32_t self_symbol() {
    if (!self_id) self_id = symbol::find("self");
    return self_id;
}

void init_global() {
    static bool marker_added = false;
    if (!marker_added) {
        collector::add_root_marker(mark_roots);
        marker_added = true;
    }
    collector::mark_hashtable = hashtable::mark;
    self_id = 0;
    global = 0;
    global = create(GLOBAL_WORDS, false, false, nullptr, KIND_GLOBAL);
}

void unbind() {
    global = 0;
    self_id = 0;
}

void init() {
    type_registry::register_type(T_CONTEXT, 0, "context!", {});
}

uint32_t word_count(Handle ctx) { return memory::buffer_of(word_block(ctx))->used() / 16; }

// ---- lookup ----

int32_t find_word(Handle ctx, uint32_t sym, bool ignore_case) {
    return hashtable::word_slot(word_table(ctx), sym, ignore_case, 0, nullptr);
}

int32_t find_word_slot(Handle ctx, uint32_t sym, bool ignore_case, int32_t* out_slot) {
    return hashtable::word_slot(word_table(ctx), sym, ignore_case, ctx, out_slot);
}

Cell* word_cell_at(Handle ctx, int32_t slot) {
    return memory::buffer_of(word_block(ctx))->head_cell() + slot;
}

SeriesBuffer* values(Handle ctx) {
    Cell* c = cell(ctx);
    if (on_stack_q(c) || !c->data2) return nullptr;
    return memory::buffer_of(c->data2);
}

Cell* value_cell(Handle ctx, int32_t slot) {
    if (slot < 0) return nullptr;
    Cell* c = cell(ctx);
    if (!c->data2) return nullptr;
    if (on_stack_q(c)) {
        Cell* v = stack::begin + (c->data2 - 1) + slot;
        return v < stack::end ? v : nullptr;
    }
    SeriesBuffer* b = memory::buffer_of(c->data2);
    if (uint32_t(slot) < b->used() / 16) return b->head_cell() + slot;
    // A slot past the values' tail (a clone not filled yet): unset! values up to it.
    collector::RootContext pin(ctx);
    while (memory::buffer_of(cell(pin.handle())->data2)->used() / 16 <= uint32_t(slot))
        buffer::alloc_tail_cell(cell(pin.handle())->data2);
    return memory::buffer_of(cell(pin.handle())->data2)->head_cell() + slot;
}

Handle self_node(const Cell* value) { return owner(value->data1)->data1; }

Cell* symbol_value_cell(uint32_t sym, const Cell* value) {
    Handle ctx = value->data1;
    if (on_stack_q(cell(ctx))) ctx = global;
    int32_t slot = find_word(ctx, sym, true);
    return slot < 0 ? nullptr : value_cell(ctx, slot);
}

// ---- adding ----

int32_t add_word(Handle ctx, const Cell* word) {
    uint32_t sym = word->data2;
    collector::RootContext pin(ctx);
    int32_t out = -1;
    int32_t slot = hashtable::word_slot(word_table(ctx), sym, true, ctx, &out);
    if (slot >= 0) return slot;
    append_value(pin.handle());
    return out;
}

Cell* add_with(Handle ctx, const Cell* word, const Cell* value) {
    collector::Root v(*value);
    collector::RootContext pin(ctx);
    int32_t slot = find_word(ctx, word->data2, true);
    if (slot < 0) slot = add_word(ctx, word);
    Cell* target = value_cell(pin.handle(), slot);
    if (target) *target = v.cell;
    return target;
}

void add_if_absent(Handle ctx, const Cell* word, const Cell* value) {
    if (find_word(ctx, word->data2, true) < 0) add_with(ctx, word, value);
}

Cell* add_global_word(uint32_t sym, bool ignore_case, bool store) {
    Handle table = word_table(global);
    int32_t pos = hashtable::word_position(table, sym, ignore_case);
    if (pos >= 0) {
        Cell* w = memory::buffer_of(word_block(global))->head_cell() + pos;
        if (ignore_case && store && w->data2 != sym) {
            // Another spelling of the word: the caller gets its own spelling bound to the slot.
            Cell copy = *w;
            copy.data2 = sym;
            return boot::keep(&copy);
        }
        return w;
    }
    // Absent under the asked matching. A spelling of the same word (equal ignoring case) that is
    // there already lends its slot, whichever spelling came first.
    int32_t shared = ignore_case ? -1 : hashtable::word_slot(table, sym, true, 0, nullptr);
    int32_t n = -1;
    hashtable::word_slot(table, sym, false, global, &n);
    append_value(global);
    Cell* w = memory::buffer_of(word_block(global))->head_cell() + n;
    if (shared >= 0) w->data3 = uint32_t(shared);
    return w;
}

Cell* add_global(uint32_t sym) {
    Cell* w = add_global_word(sym, false, true);
    if (boot::booting) return boot::keep(w);
    return w;
}

// ---- reading and writing ----

Cell* get_in_slow(const Cell* word, Handle ctx) {
    int32_t slot = int32_t(word->data3);
    if (slot != -1) {
        if (!ctx) raise_with_word("not-defined", word);
        Cell w = *word;
        if (!cell(ctx)->data2) raise_with_word("not-in-context", &w);
        Cell* v = value_cell(ctx, slot);
        if (!v) raise_with_word("not-in-context", &w);
        return v;
    }
    uint32_t self = self_symbol();
    if (self && word->data2 == self && word->data1) return owner(word->data1);
    raise_with_word("no-value", word);
}

Cell* set_in_slow(Cell* word, const Cell* value, Handle ctx, bool fire) {
    if (!ctx) raise_with_word("not-defined", word);
    collector::Root v(*value);
    collector::RootContext pin(ctx);
    // The word's cell may move once anything allocates: it is read once, and an unresolved
    // word gets its slot written before the context grows.
    Cell w = *word;
    int32_t slot = int32_t(w.data3);
    if (slot == -1) {
        slot = find_word(ctx, w.data2, false);
        if (slot < 0) slot = find_word(ctx, w.data2, true);
        if (slot < 0) {
            slot = int32_t(word_count(ctx));
            word->data3 = w.data3 = uint32_t(slot);
            slot = add_word(ctx, &w);
        } else {
            word->data3 = w.data3 = uint32_t(slot);
        }
    }
    ctx = pin.handle();
    Cell* c = cell(ctx);
    if (!c->data2) raise_with_word("not-defined", &w);
    if (on_stack_q(c)) {
        Cell* target = value_cell(ctx, slot);
        if (!target) raise_with_word("not-in-context", &w);
        *target = v.cell;
        return target;
    }
    Cell* target = value_cell(ctx, slot);
    ctx = pin.handle();
    if (kind_of(cell(ctx)) == KIND_OBJECT) {
        if (uint32_t(slot) < word_count(ctx)) word_cell_at(ctx, slot)->header |= WORD_ASSIGNED;
        if (fire && owner(ctx)->data3 && fire_on_change_hook) {
            // Old and new values ride on the argument stack, which never moves, while the
            // handler runs.
            Cell* saved_top = stack::top;
            Cell* old = stack::push(target);
            *target = v.cell;
            Cell* fresh = stack::push(&v.cell);
            collector::Root own(*owner(ctx)), changed_word(w);
            fire_on_change_hook(own.get(), changed_word.get(), old, fresh);
            stack::top = saved_top;
            return value_cell(pin.handle(), slot);
        }
    }
    *target = v.cell;
    return target;
}

void set_integer(Handle ctx, Cell* word, int32_t n) {
    Cell v{T_INTEGER, 0, uint32_t(n), 0};
    set_in(word, &v, ctx, false);
}

void get_global_copy(uint32_t sym, Cell* out) {
    Handle table = word_table(global);
    int32_t pos = hashtable::word_position(table, sym, false);
    Cell w = pos >= 0 ? memory::buffer_of(word_block(global))->head_cell()[pos] : *add_global(sym);
    *out = *get_in(&w, global);
}

Cell* global_value_cell(uint32_t sym) {
    int32_t slot = find_word(global, sym, true);
    return slot < 0 ? nullptr : value_cell(global, slot);
}

// ---- stores and reads for compiled code ----

void set_word_from_top(Cell* word) {
    Cell* top = stack::top_value();
    if (top->is(T_UNSET)) raise_with_word("need-value", word);
    set(word, top);
}

void set_word_from_top_reset(Cell* word) {
    set_word_from_top(word);
    stack::reset();
}

// The word of a slot, for error reports (none! for a slot the word table lacks).
Cell slot_word(Handle ctx, int32_t slot) {
    if (slot >= 0 && uint32_t(slot) < word_count(ctx)) return *word_cell_at(ctx, slot);
    return Cell{T_NONE, 0, 0, 0};
}

Cell* value_slot_at(Handle ctx, int32_t slot) {
    Cell* v = value_cell(ctx, slot);
    if (!v) {
        Cell w = slot_word(ctx, slot);
        stack::raise_error("script", "not-defined", {&w});
    }
    return v;
}

// The argument stack never moves: its top cell is read after the slot is found (or made).
void set_slot_from_top(Handle ctx, int32_t slot) {
    Cell* top = stack::top_value();
    if (top->is(T_UNSET)) {
        Cell w = slot_word(ctx, slot);
        stack::raise_error("script", "need-value", {&w});
    }
    Cell* target = value_slot_at(ctx, slot);
    *target = *top;
}

void set_slot_from_top_reset(Handle ctx, int32_t slot) {
    set_slot_from_top(ctx, slot);
    stack::reset();
}

void set_object_slot_from_top(Handle ctx, int32_t slot) {
    Cell* top = stack::top_value();
    collector::RootContext pin(ctx);
    Cell* target = value_slot_at(ctx, slot);
    *target = *top;
    ctx = pin.handle();
    if (kind_of(cell(ctx)) == KIND_OBJECT && uint32_t(slot) < word_count(ctx))
        word_cell_at(ctx, slot)->header |= WORD_ASSIGNED;
    stack::reset();
}

Cell* get_word_checked(const Cell* word) {
    Cell* v = get(word);
    if (v->is(T_UNSET)) raise_with_word("no-value", word);
    return v;
}

// ---- the lookup cache ----

LookupEntry lookup_cache[LOOKUP_ENTRIES];

const LookupEntry* fill_lookup(Handle ctx) {
    LookupEntry* e = &lookup_cache[(ctx ^ (ctx >> 9)) & (LOOKUP_ENTRIES - 1)];
    Cell* c = cell(ctx);
    if (on_stack_q(c)) {
        *e = LookupEntry{ctx, memory::generation, c, nullptr};
    } else if (c->data2) {
        *e = LookupEntry{ctx, memory::generation, c, memory::buffer_of(c->data2)};
    } else {
        e->ctx = 0;
        return nullptr;
    }
    return e;
}

// ---- making and binding ----

Handle create(uint32_t size, bool on_stack, bool object, const Cell* source, uint32_t kind) {
    if (size == 0) size = 1;
    collector::Root src(source ? *source : Cell{T_NONE, 0, 0, 0});
    Handle ctx = memory::make_cells(2);
    {
        SeriesBuffer* b = memory::buffer_of(ctx);
        Cell* c = b->head_cell();
        c[0] = Cell{T_CONTEXT | ((kind & 3u) << KIND_SHIFT) | (object ? CTX_OBJECT : 0u) |
                        (on_stack ? CTX_ON_STACK : 0u),
                    0, 0, 0};
        c[1] = Cell{T_UNSET, 0, 0, 0};
        b->tail = b->head + 32;
    }
    collector::RootContext pin(ctx);
    if (!on_stack) {
        Handle vals = memory::make_cells_unset(size);
        cell(pin.handle())->data2 = vals;
    }
    Handle table = hashtable::make(size, source ? &src.cell : nullptr, hashtable::KIND_WORDS,
                                   hashtable::EXTRA_WORD_TABLE);
    cell(pin.handle())->data1 = table;
    return pin.handle();
}

Handle make(const Cell* spec, bool on_stack, bool object, uint32_t kind) {
    collector::Root sp(*spec);
    uint32_t head = spec->data1;
    uint32_t n = 0;
    if (spec->data2) {
        uint32_t total = memory::buffer_of(spec->data2)->used() / 16;
        n = head < total ? total - head : 0;
    }
    collector::RootContext pin(create(n, on_stack, object, nullptr, kind));
    uint32_t entered = 0;
    for (uint32_t i = 0; i < n; i++) {
        const Cell* c = memory::buffer_of(sp.cell.data2)->head_cell() + head + i;
        uint32_t t = c->type();
        if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD && t != T_REFINEMENT) continue;
        int32_t out;
        if (find_word_slot(pin.handle(), c->data2, true, &out) < 0) entered++;
    }
    if (!on_stack) {
        SeriesBuffer* b = memory::buffer_of(cell(pin.handle())->data2);
        b->tail = b->head + entered * 16;
    }
    return pin.handle();
}

Handle clone(Cell* value, uint32_t kind) {
    Handle old = value->data1;
    collector::Root src(*cell(old));
    uint32_t n = word_count(old);
    bool stack_values = on_stack_q(&src.cell);
    bool object = src.cell.header & CTX_OBJECT;
    Handle ctx = create(n, stack_values, object, &src.cell, kind);
    SeriesBuffer* b = memory::buffer_of(word_block(ctx));
    Cell* w = b->head_cell();
    for (uint32_t i = 0, m = b->used() / 16; i < m; i++) w[i].data1 = ctx;
    value->data1 = ctx;
    return ctx;
}

int32_t bind_word_index(Handle ctx, Cell* word) {
    int32_t slot = find_word(ctx, word->data2, true);
    if (slot >= 0) {
        word->data1 = ctx;
        word->data3 = uint32_t(slot);
    }
    return slot;
}

Cell* bind(Cell* block, Handle ctx, bool self_mode) {
    Handle node = block->data2;
    if (!node || cycles::find_q(node)) return block;
    cycles::Guard guard(node);
    uint32_t self = self_mode ? self_symbol() : 0;
    SeriesBuffer* b = memory::buffer_of(node);
    Cell* c = b->head_cell() + block->data1;
    Cell* end = b->tail_cell();
    for (; c < end; c++) {
        uint32_t t = c->type();
        if (block_kind(t)) {
            bind(c, ctx, self_mode);
        } else if (word_kind(t)) {
            if (self && t == T_WORD && c->data2 == self) {
                c->data1 = ctx;
                c->data3 = NO_SLOT;
            } else {
                bind_word_index(ctx, c);
            }
        }
    }
    return block;
}

bool collect_set_words(Handle ctx, const Cell* block) {
    collector::Root blk(*block);
    collector::RootContext pin(ctx);
    SeriesBuffer* vb = values(ctx);
    uint32_t before = vb ? vb->used() : word_count(ctx) * 16;
    uint32_t total = memory::buffer_of(blk.cell.data2)->used() / 16;
    uint32_t head = std::min(blk.cell.data1, total);
    for (uint32_t i = head; i < total; i++) {
        const Cell* c = memory::buffer_of(blk.cell.data2)->head_cell() + i;
        if (!c->is(T_SET_WORD)) continue;
        Cell w = *c;
        add_word(pin.handle(), &w);
        total = memory::buffer_of(blk.cell.data2)->used() / 16;
    }
    vb = values(pin.handle());
    uint32_t after = vb ? vb->used() : word_count(pin.handle()) * 16;
    return after > before;
}

}  // namespace kov::context
