// typeset!: bits, making from blocks, the bitwise and set operations, find, comparison and text.
#include "datatypes/typeset.hpp"

#include <cstring>
#include <string>

#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov::typeset {

namespace {

void load_bytes(const Cell* ts, uint8_t* b) { std::memcpy(b, &ts->data1, 12); }
void store_bytes(Cell* ts, const uint8_t* b) { std::memcpy(&ts->data1, b, 12); }

Cell empty() { return Cell{T_TYPESET, 0, 0, 0}; }

[[noreturn]] void raise_with_value(const char* id, const Cell* value) {
    Cell v = *value;
    stack::raise_error("script", id, {&v});
}

void or_in(Cell* ts, const Cell* other) {
    ts->data1 |= other->data1;
    ts->data2 |= other->data2;
    ts->data3 |= other->data3;
}

// The block's values from its head, copied (the walk reads words' values, which may not move
// the block, but the copy keeps the loop simple).
template <class F> void each_value(const Cell* block, F f) {
    collector::Root b(*block);
    for (uint32_t i = cells::series_index(b.cell);; ++i) {
        SeriesBuffer* buf = memory::buffer_of(cells::series_node(b.cell));
        if (i >= buf->length()) break;
        Cell v = buf->head_cell()[i];
        f(v);
    }
}

}  // namespace

bool has(const Cell* ts, uint32_t type) {
    uint8_t b[12];
    load_bytes(ts, b);
    return type < 96 && (b[type >> 3] & (0x80 >> (type & 7)));
}

void add(Cell* ts, uint32_t type) {
    if (type >= 96) return;
    uint8_t b[12];
    load_bytes(ts, b);
    b[type >> 3] |= uint8_t(0x80 >> (type & 7));
    store_bytes(ts, b);
}

void clear(Cell* ts) { ts->data1 = ts->data2 = ts->data3 = 0; }

Cell* push(const Cell* ts) { return stack::push(ts); }

Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell* c = buffer::alloc_block_tail(block);
    *c = Cell{T_TYPESET, w1, w2, w3};
    return c;
}

Cell* make_default(const Cell* block) {
    Cell ts{T_TYPESET, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    uint8_t b[12];
    load_bytes(&ts, b);
    b[0] &= 0xDF;
    store_bytes(&ts, b);
    Cell* c = buffer::alloc_block_tail(block);
    *c = ts;
    return c;
}

void set_type(Cell* ts, const Cell* value) {
    Cell v = *value;
    if (v.is(T_WORD)) v = *context::get_word_checked(&v);
    if (v.is(T_TYPESET)) or_in(ts, &v);
    else if (v.is(T_DATATYPE)) add(ts, cells::datatype(v));
    else raise_with_value("invalid-arg", &v);
}

void make_from_block(Cell* result, const Cell* block) {
    collector::Root out(empty());
    each_value(block, [&](Cell v) {
        if (v.is(T_WORD)) v = *context::get_word_checked(&v);
        if (v.is(T_DATATYPE)) add(out.get(), cells::datatype(v));
        else if (v.is(T_TYPESET)) or_in(out.get(), &v);
        else if (v.is(T_WORD)) add(out.get(), T_OBJECT);
        else if (!v.is(T_BLOCK)) raise_with_value("invalid-type-spec", &v);
    });
    *result = out.cell;
}

int32_t count(const Cell* ts) {
    int32_t n = 0;
    for (uint32_t t = 1; t <= type_registry::top_id; ++t) n += has(ts, t);
    return n;
}

void to_block(const Cell* ts, Cell* result) {
    Cell set = *ts;
    collector::Root block(cells::make_series(T_BLOCK, memory::make_cells(4)));
    for (uint32_t t = 1; t <= type_registry::top_id; ++t) {
        if (!has(&set, t) || !type_registry::names[t].name) continue;
        Cell word = type_registry::names[t].word;
        *buffer::alloc_block_tail(block.get()) = word;
    }
    *result = block.cell;
}

Cell* do_bitwise(int op) {
    Cell* a = stack::arg(0);
    const Cell* b = stack::arg(1);
    if (op == SET_UNIQUE) return a;
    Cell other;
    if (b->is(T_TYPESET)) other = *b;
    else if (b->is(T_DATATYPE)) {
        other = empty();
        add(&other, cells::datatype(*b));
    } else {
        raise_with_value("invalid-arg", b);
    }
    Cell r = *a;
    switch (op) {
    case OP_OR: case SET_UNION: or_in(&r, &other); break;
    case OP_AND: case SET_INTERSECT:
        r.data1 &= other.data1, r.data2 &= other.data2, r.data3 &= other.data3;
        break;
    case OP_XOR: case SET_DIFFERENCE:
        r.data1 ^= other.data1, r.data2 ^= other.data2, r.data3 ^= other.data3;
        break;
    case SET_EXCLUDE:
        r.data1 &= ~other.data1, r.data2 &= ~other.data2, r.data3 &= ~other.data3;
        break;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
    *a = r;
    return a;
}

int32_t serialize(const Cell* ts, Cell* out, bool only, bool has_part, int32_t part) {
    Cell set = *ts;
    std::string text;
    if (!only) {
        text = "make typeset! [";
        part -= 15;
    }
    bool any = false;
    for (uint32_t t = 1; t <= type_registry::top_id; ++t) {
        if (!has(&set, t) || !type_registry::names[t].name) continue;
        text += type_registry::names[t].name;
        text += ' ';
        part -= type_registry::names[t].length + 2;  // the name with its "!", and the space
        any = true;
        if (has_part && part < 0) break;
    }
    if (only) {
        if (any) {
            text.pop_back();
            part += 1;
        }
    } else if (any) {
        text.back() = ']';
    } else {
        text += ']';
        part -= 1;
    }
    string::concatenate_cstring(out, text);
    return part;
}

Cell* make(const Cell*, const Cell* spec, uint32_t) {
    if (spec->is(T_TYPESET)) {
        *stack::arguments = *spec;
        return stack::arguments;
    }
    if (!spec->is(T_BLOCK)) {
        Cell dt = cells::make_datatype(T_TYPESET), v = *spec;
        stack::raise_error("script", "bad-to-arg", {&dt, &v});
    }
    collector::Root out(empty());
    each_value(spec, [&](Cell v) { set_type(out.get(), &v); });
    *stack::arguments = out.cell;
    return stack::arguments;
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    return serialize(value, out, false, part, limit);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool, bool part, int32_t limit,
             int32_t) {
    return serialize(value, out, only, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_TYPESET)) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3 ? 0 : 1;
    case COMP_SORT: case COMP_CASE_SORT: {
        int32_t x = count(a), y = count(b);
        return (x > y) - (x < y);
    }
    default: return NOT_COMPARABLE;
    }
}

Cell* complement(Cell* value) {
    value->data1 = ~value->data1;
    value->data2 = ~value->data2;
    value->data3 = ~value->data3;
    return value;
}

Cell* find(Cell* ts, const Cell* value, const FindArgs&) {
    if (!value->is(T_DATATYPE)) raise_with_value("invalid-arg", value);
    return has(ts, cells::datatype(*value)) ? &true_value : &false_value;
}

void init() {
    type_registry::register_type(
        T_TYPESET, 0, "typeset!",
        {.make = make, .to = make, .form = form, .mold = mold, .compare = compare,
         .and_t = +[] { do_bitwise(OP_AND); }, .complement = complement,
         .or_t = +[] { do_bitwise(OP_OR); }, .xor_t = +[] { do_bitwise(OP_XOR); },
         .find = find});
}

}  // namespace kov::typeset
