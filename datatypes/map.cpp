// map!: making, key normalisation, lookup and storage through the map-kind hash table, removal by
// tombstone, extend, form and mold as "#[...]", comparison, copying, reflection.
#include "datatypes/map.hpp"

#include <algorithm>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "evaluator/actions.hpp"

namespace kov::map {

using collector::Root;

namespace {

Cell answer{T_NONE, 0, 0, 0};  // a cell result that the front-end copies at once

inline SeriesBuffer* buf(Handle node) { return memory::buffer_of(node); }
inline Cell* pairs(const Cell* map) { return buf(map->data2)->head_cell(); }
inline uint32_t cell_count(const Cell* map) { return buf(map->data2)->used() / 16; }
inline bool removed(const Cell* key) { return key[1].header == 0; }

inline bool word_key(uint32_t t) { return t >= T_WORD && t <= T_GET_WORD; }
inline bool copied_key(uint32_t t) { return series::text_kind(t) || t == T_BINARY; }

inline int32_t lookup_op(bool case_sensitive, bool same) {
    return same ? COMP_SAME : case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL;
}

// The stored key cell of a key (tombstones included), or null.
inline Cell* key_cell(const Cell* map, const Cell* key, int32_t op) {
    return hashtable::get(map->data3, key, 0, 1, op, false, false);
}

[[noreturn]] void raise_key(const Cell* key) {
    Cell k = *key, t = cells::make_datatype(key->type());
    stack::raise_error("script", "invalid-path", {&k, &t});
}

[[noreturn]] void raise_cycle() {
    cycles::reset();
    stack::raise_error("internal", "no-cycle");
}

void write(Cell* out, const char* text, int32_t& limit) {
    uint32_t n = uint32_t(std::char_traits<char>::length(text));
    string::concatenate_cstring(out, text, n);
    limit -= int32_t(n);
}

void new_line(Cell* out, int32_t indent, int32_t& limit) {
    write(out, "\n", limit);
    cell::mold_indent(out, indent);
    limit -= 4 * indent;
}

// A key as find and reflect give it: a set-word! key as a word!.
Cell key_as_given(const Cell& key) {
    Cell k = key;
    if (k.is(T_SET_WORD)) cell::set_type(&k, T_WORD);
    return k;
}

// The size spec of make (integer! or float!): room for 2 x n cells.
Cell* make_sized(const Cell* spec) {
    int32_t n = cell::integer_arg(spec);
    if (n < 0) stack::raise_error("script", "out-of-range", {spec});
    if (n > 0x3FFFFFF) stack::raise_error("internal", "no-memory");
    Cell* out = stack::push(&none_value);
    return make_at(0, out, uint32_t(std::max(2, 2 * n)));
}

[[noreturn]] void bad_to(const Cell* spec) {
    Cell dt = cells::make_datatype(T_MAP), s = *spec;
    stack::raise_error("script", "bad-to-arg", {&dt, &s});
}

// ---- actions ----

Cell* copy(const Cell* value, Cell* result, const Cell*, bool deep, const Cell* types) {
    Root src(*value);
    Handle block = buffer::copy_array(src->data2);
    collector::RootNode keep(block, 1);
    Handle table = hashtable::copy(src->data3, keep.node);
    Root out(Cell{T_MAP, 0, keep.node, table});
    if (deep) {
        if (cycles::find_q(src->data2)) raise_cycle();
        cycles::Guard guard(src->data2);
        Root blk(Cell{T_BLOCK, 0, out->data2, 0});
        block::copy_nested(blk.get(), 0, cell_count(blk.get()), 1, true, types);
    }
    *result = out.cell;
    return result;
}

Cell* make_from(const Cell* spec, bool make) {
    uint32_t t = spec->type();
    if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        Root s(*spec);
        int32_t n = std::max(0, block::ks_length_q(s.get()));
        if (n % 2) stack::raise_error("script", "invalid-arg", {s.get()});
        Cell* out = block::clone(s.get(), false, false);
        Cell* c = pairs(out);
        for (int32_t i = 0; i < n; i++) c[i].header &= ~CELL_NEW_LINE;
        return make_at(out->data2, out, uint32_t(std::max(n, 2)));
    }
    if (make && (t == T_INTEGER || t == T_FLOAT)) return make_sized(spec);
    if (t == T_MAP) {
        Cell* out = stack::push(&none_value);
        return copy(spec, out, nullptr, false, nullptr);
    }
    bad_to(spec);
}

Cell* make(const Cell*, const Cell* spec, uint32_t) { return make_from(spec, true); }
Cell* to(const Cell*, const Cell* spec, uint32_t) { return make_from(spec, false); }

bool field_is(const Cell* field, const char* name) {
    return word_key(field->type()) && symbol::resolve(field->data2) == symbol::resolve(symbol::make(name));
}

Cell* reflect(const Cell* value, const Cell* field) {
    int what = field_is(field, "words") ? 0 : field_is(field, "values") ? 1 : field_is(field, "body") ? 2 : -1;
    if (what < 0) stack::raise_error("internal", "not-done");
    Root m(*value), item;
    Cell* out = block::push_new(std::max(1, 2 * count(m.get())));
    for (uint32_t i = 0; i + 1 < cell_count(m.get()); i += 2) {
        Cell* c = pairs(m.get()) + i;
        if (removed(c)) continue;
        if (what == 0) {
            item.cell = key_as_given(c[0]);
            item->header &= ~CELL_NEW_LINE;
            block::append_value(out, item.get());
        } else if (what == 1) {
            item.cell = c[1];
            block::append_value(out, item.get());
        } else {
            item.cell = c[0];
            Root v(c[1]);
            item->header |= CELL_NEW_LINE;
            block::append_value(out, item.get());
            block::append_value(out, v.get());
        }
    }
    return out;
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    if (cycles::detect_q(value, out, limit, false)) return limit;
    Root m(*value);
    cycles::Guard guard(m->data2);
    return serialize(m.get(), out, false, false, part, limit, 0);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    if (cycles::detect_q(value, out, limit, true)) return limit;
    Root m(*value);
    cycles::Guard guard(m->data2);
    bool lines = !flat && !only && count(m.get()) > 0;
    if (!only) write(out, "#[", limit);
    if (lines) new_line(out, indent + 1, limit);
    limit = serialize(m.get(), out, flat, all, part, limit, only ? 0 : indent + 1);
    if (lines) new_line(out, indent, limit);
    if (!only) write(out, "]", limit);
    return limit;
}

Cell* eval_path(const PathStep& step) {
    if (step.set_value) {
        Root v(*step.set_value);
        put_pair(step.value, step.element, v.get(), step.case_sensitive);
        answer = v.cell;
        return &answer;
    }
    Cell* v = value_of(step.value, step.element, lookup_op(step.case_sensitive, false));
    return v ? v : &none_value;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_MAP)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_SORT: case COMP_CASE_SORT:
        return a->data2 < b->data2 ? -1 : a->data2 > b->data2 ? 1 : 0;
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        break;
    default:
        return NOT_COMPARABLE;
    }
    if (a->data2 == b->data2 && a->data1 == b->data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a->data2)) return cycles::find_q(b->data2) ? 0 : -1;
    Root x(*a), y(*b), key, value;
    if (count(x.get()) != count(y.get())) return 1;
    if (count(x.get()) == 0) return 0;
    cycles::Guard ga(x->data2);
    cycles::Guard gb(y->data2);
    for (uint32_t i = 0; i + 1 < cell_count(x.get()); i += 2) {
        Cell* c = pairs(x.get()) + i;
        if (removed(c)) continue;
        key.cell = c[0];
        value.cell = c[1];
        if (op == COMP_STRICT_EQUAL) {
            Cell* k = key_cell(y.get(), key.get(), COMP_STRICT_EQUAL);
            if (!k || removed(k)) return 1;
            Root other(k[1]);
            if (actions::compare_values(value.get(), other.get(), COMP_STRICT_EQUAL) != 0) return 1;
            continue;
        }
        // Every key of the other map equal to this one is tried in turn.
        int32_t bucket = -1, end = 0, step = 0;
        bool matched = false;
        while (!matched) {
            Cell* k = hashtable::find_next(y->data3, key.get(), &bucket, &end, &step);
            if (!k) break;
            if (removed(k)) continue;
            Root other(k[1]);
            matched = actions::compare_values(value.get(), other.get(), COMP_EQUAL) == 0;
        }
        if (!matched) return 1;
    }
    return 0;
}

Cell* clear(Cell* map) {
    hashtable::clear(map->data3);
    return map;
}

Cell* find(Cell* map, const Cell* key, const FindArgs& args) {
    Cell* k = key_cell(map, key, lookup_op(args.case_sensitive, args.same));
    if (!k || removed(k)) return &none_value;
    answer = key_as_given(*k);
    return &answer;
}

Cell* select(Cell* map, const Cell* key, const FindArgs& args) {
    Cell* v = value_of(map, key, lookup_op(args.case_sensitive, args.same));
    if (!v) return &none_value;
    answer = *v;
    return &answer;
}

int32_t length_q(const Cell* map) { return count(map); }

Cell* put(Cell* map, const Cell* key, const Cell* value, bool case_sensitive) {
    put_pair(map, key, value, case_sensitive);
    return const_cast<Cell*>(value);
}

Cell* remove(Cell* map, const Cell*, const Cell* key) {
    if (!key) stack::raise_error("script", "missing-arg");
    remove_key(map, key);
    return map;
}

}  // namespace

// ---- helpers ----

bool valid_key_q(uint32_t t) {
    switch (t) {
    case T_STRING: case T_FILE: case T_URL: case T_CHAR: case T_INTEGER: case T_FLOAT:
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
    case T_ISSUE: case T_PAIR: case T_PERCENT: case T_TUPLE: case T_BINARY: case T_TIME:
    case T_TAG: case T_EMAIL: case T_DATE: case T_MONEY: case T_REF: case T_POINT2D:
    case T_POINT3D:
        return true;
    default:
        return false;
    }
}

Cell* make_at(Handle block, Cell* out, uint32_t size) {
    Root blk(Cell{T_BLOCK, 0, block ? block : memory::make_cells(std::max(1u, size)), 0});
    Handle table = hashtable::make(size, blk.get(), hashtable::KIND_MAP, 0);
    *out = Cell{T_MAP, 0, blk->data2, table};
    return out;
}

int32_t count(const Cell* map) { return hashtable::record(map->data3)->live; }

Cell* push(const Cell* map) { return stack::push(map); }

Cell* value_of(const Cell* map, const Cell* key, int32_t op) {
    Cell* k = key_cell(map, key, op);
    return k && !removed(k) ? k + 1 : nullptr;
}

void put_pair(const Cell* map, const Cell* key, const Cell* value, bool case_sensitive) {
    Root m(*map), k(*key), v(*value);
    Cell* found = key_cell(m.get(), k.get(), lookup_op(case_sensitive, false));
    if (!found) {
        uint32_t hash = hashtable::last_probe_hash(), cycles = collector::state.cycles;
        if (!valid_key_q(k->type())) raise_key(k.get());
        Cell* at = reinterpret_cast<Cell*>(buffer::reserve_tail(m->data2, 32));
        at[0] = k.cell;
        at[1] = unset_value;
        uint32_t position = cell_count(m.get()) - 2;
        int status = hashtable::STATUS_NEW;
        found = hashtable::insert_key_hashed(m->data3, pairs(m.get()) + position, &status, hash, cycles);
        if (status == hashtable::STATUS_PRESENT) {  // cannot be after the lookup; kept sound
            SeriesBuffer* b = buf(m->data2);
            b->tail = b->head + position * 16;
        } else {
            normalize_key(m->data2, position);
            pairs(m.get())[position + 1] = v.cell;
            return;
        }
    }
    if (removed(found)) hashtable::record(m->data3)->live++;
    found[1] = v.cell;
}

bool remove_key(const Cell* map, const Cell* key) {
    Cell* k = key_cell(map, key, COMP_STRICT_EQUAL);
    if (!k || removed(k)) return false;
    hashtable::delete_key(map->data3, k);
    return true;
}

void extend(const Cell* map, const Cell* block_in, bool case_sensitive) {
    Root m(*map), b(*block_in), key, value;
    int32_t n = std::max(0, block::ks_length_q(b.get()));
    if (n % 2) stack::raise_error("script", "invalid-arg", {b.get()});
    for (int32_t i = 0; i < n; i += 2) {
        Cell* c = buf(b->data2)->head_cell() + b->data1 + i;
        key.cell = c[0];
        value.cell = c[1];
        put_pair(m.get(), key.get(), value.get(), case_sensitive);
    }
}

int32_t serialize(const Cell* map, Cell* out, bool flat, bool all, bool part, int32_t limit,
                  int32_t indent) {
    Root m(*map), key, value;
    bool first = true;
    for (uint32_t i = 0; i + 1 < cell_count(m.get()); i += 2) {
        Cell* c = pairs(m.get()) + i;
        if (removed(c)) continue;
        if (part && limit <= 0) break;
        key.cell = c[0];
        value.cell = c[1];
        if (!first) {
            if (flat) write(out, " ", limit);
            else new_line(out, indent, limit);
        }
        first = false;
        limit = actions::mold_dispatch(key.get(), out, false, all, flat, part, limit, indent);
        write(out, " ", limit);
        limit = actions::mold_dispatch(value.get(), out, false, all, flat, part, limit, indent);
    }
    return limit;
}

void normalize_key(Handle block, uint32_t position) {
    Cell* at = buf(block)->head_cell() + position;
    uint32_t t = at->type();
    if (word_key(t)) {
        cell::set_type(at, T_SET_WORD);
        return;
    }
    if (!valid_key_q(t)) raise_key(at);
    if (!copied_key(t)) return;
    Root blk(Cell{T_BLOCK, 0, block, 0}), key(*at), copied;
    series::copy(key.get(), copied.get(), nullptr);
    copied->header = (copied->header & ~CELL_NEW_LINE) | (key->header & CELL_NEW_LINE);
    buf(blk->data2)->head_cell()[position] = copied.cell;
}

void init() {
    hashtable::normalize_key_hook = normalize_key;
    type_registry::register_type(
        T_MAP, 0, "map!",
        {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = compare, .clear = clear, .copy = copy, .find = find,
         .length_q = length_q, .put = put, .remove = remove, .select = select});
}

}  // namespace kov::map
