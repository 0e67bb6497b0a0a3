// Ownership of series by objects.
#include "core/ownership.hpp"

#include <vector>

#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"

namespace kov::ownership {

Handle table = 0;
void (*fire_on_deep_change)(const Cell*, const Cell*, const Cell*, const Cell*, const Cell*, int32_t,
                            int32_t) = nullptr;

namespace {

bool marker_added = false;

void mark_table() {
    if (table) hashtable::mark(&table);
}

bool owned_series_kind(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH: case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
    case T_BINARY: case T_VECTOR:
        return true;
    default:
        return false;
    }
}

bool block_kind(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_HASH: case T_PATH: case T_LIT_PATH: case T_SET_PATH:
    case T_GET_PATH:
        return true;
    default:
        return false;
    }
}

Cell* context_cell(Handle ctx) { return memory::buffer_of(ctx)->head_cell(); }

// Puts an entry {value, owner, word} for a node. Everything is rooted: putting allocates.
void put_entry(Handle node, const Cell* value, const Cell* owner, const Cell* word) {
    collector::Root v(*value), o(*owner), w(*word);
    Cell* e = hashtable::put_pointer(table, node);
    e[0] = v.cell;
    e[1] = o.cell;
    e[2] = w.cell;
}

}  // namespace

void unbind() { table = 0; }

void init() {
    table = hashtable::make(1000, nullptr, hashtable::KIND_OWNERSHIP, 3);
    if (!marker_added) {
        collector::add_root_marker(mark_table);
        collector::prune_ownership = prune;
        marker_added = true;
    }
}

// `value` is the stored cell: it is read, and an image's flag is written to it, before anything
// allocates. Members are passed on the same way, as the cells inside their block or values
// block, so that their flags land where they are kept rather than on a copy.
void bind(Cell* value, const Cell* owner_in, const Cell* word_in) {
    collector::Root owner(*owner_in), word(*word_in), val(*value);
    uint32_t t = val->type();
    if (owned_series_kind(t) || t == T_BITSET) {
        Handle node = val->data2;
        if (memory::buffer_of(node)->flags & SER_OWNED) return;
        memory::buffer_of(node)->flags |= SER_OWNED;
        put_entry(node, val.get(), owner.get(), word.get());
        if (!block_kind(t) || cycles::find_q(node)) return;
        cycles::Guard guard(node);
        collector::SeriesRef items(val.cell);
        for (uint32_t i = items.index(); i < items.total(); i++)
            bind(items.cell_at(i), owner.get(), word.get());
        return;
    }
    if (t == T_IMAGE) {
        if (!(value->header & IMAGE_OWNED) && val->data2) {
            value->header |= IMAGE_OWNED;
            put_entry(val->data2, val.get(), owner.get(), word.get());
        }
        return;
    }
    if (t == T_OBJECT) {
        Handle ctx = val->data1;
        if ((context_cell(ctx)->header & CTX_OWNER) || cycles::find_q(ctx)) return;
        Handle owner_ctx = owner->is(T_OBJECT) ? owner->data1 : 0;
        cycles::Guard guard(ctx);
        collector::RootContext object(ctx);
        for (uint32_t i = 0;; i++) {
            Cell* cc = object.context_cell();
            SeriesBuffer* values = memory::buffer_of(cc->data2);
            if (i >= values->length()) break;
            Cell* field = values->head_cell() + i;
            if (field->is(T_OBJECT) && field->data1 == owner_ctx) continue;
            Handle words = hashtable::record(cc->data1)->data;
            collector::Root field_word(memory::buffer_of(words)->head_cell()[i]);
            bind(field, owner.get(), field_word.get());
        }
    }
}

void set_owner_flag(Cell* value, const Cell* owner, const Cell* word) {
    collector::Root o(*owner);
    bind(value, owner, word);
    if (o->is(T_OBJECT)) context_cell(o->data1)->header |= CTX_OWNER;
}

// As bind: `value` and the members are the stored cells, read and written before anything
// allocates.
void unbind(Cell* value) {
    collector::Root val(*value);
    uint32_t t = val->type();
    if (owned_series_kind(t) || t == T_BITSET) {
        Handle node = val->data2;
        SeriesBuffer* b = memory::buffer_of(node);
        if (!(b->flags & SER_OWNED)) return;  // also ends cycles: unbinding clears the flag first
        b->flags &= ~SER_OWNED;
        if (Cell* e = hashtable::get_pointer(table, node)) {
            e[0].header = e[1].header = e[2].header = T_UNSET;
            hashtable::delete_pointer(table, node);
        }
        if (!block_kind(t)) return;
        collector::SeriesRef items(val.cell);
        for (uint32_t i = items.index(); i < items.total(); i++) unbind(items.cell_at(i));
        return;
    }
    if (t == T_IMAGE) {
        value->header &= ~IMAGE_OWNED;
        if (val->data2) hashtable::delete_pointer(table, val->data2);
        return;
    }
    if (t == T_OBJECT) {
        Handle ctx = val->data1;
        if (cycles::find_q(ctx) || (context_cell(ctx)->header & CTX_OWNER)) return;
        cycles::Guard guard(ctx);
        collector::RootContext object(ctx);
        for (uint32_t i = 0;; i++) {
            SeriesBuffer* values = memory::buffer_of(object.context_cell()->data2);
            if (i >= values->length()) break;
            unbind(values->head_cell() + i);
        }
    }
}

void unbind_range(const Cell* series, uint32_t index, uint32_t count) {
    collector::SeriesRef s(*series);
    for (uint32_t i = index; i < index + count && i < s.total(); i++) unbind(s.cell_at(i));
}

Cell* owner_of(Handle node) {
    if (!table) return nullptr;
    Cell* e = hashtable::get_pointer(table, node);
    return e ? e + 1 : nullptr;
}

int check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    if (!table) return 0;
    Handle key = value->is(T_OBJECT) ? value->data1 : value->data2;
    Cell* e = hashtable::get_pointer(table, key);
    if (!e || e[1].data3 == 0 || !fire_on_deep_change) return 0;
    collector::Root owner(e[1]), word(e[2]), v(*value), a(*action);
    collector::Root nv(new_value ? *new_value : Cell{T_NONE, 0, 0, 0});
    fire_on_deep_change(owner.get(), word.get(), v.get(), a.get(), nv.get(), index, part);
    return 1;
}

void prune() {
    if (!table) return;
    std::vector<uint32_t> dead;
    hashtable::for_each_pointer(table, [&](uint32_t key, Cell* e) {
        // Nodes may have been evacuated by this collection: look at where they went.
        bool series_live = memory::buffer_of(collector::forwarded(key))->flags & SER_MARK;
        Handle owner_node = collector::forwarded(e[1].is(T_OBJECT) ? e[1].data1 : e[1].data2);
        bool owner_live = owner_node && (memory::buffer_of(owner_node)->flags & SER_MARK);
        if (!series_live || !owner_live) dead.push_back(key);
    });
    for (uint32_t key : dead) hashtable::delete_pointer(table, key);
    hashtable::mark_entries(table);
}

}  // namespace kov::ownership
