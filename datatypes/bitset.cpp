// bitset!: storage, the dialect, making, text, comparison, the set algebra and the actions.
#include "datatypes/bitset.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"

namespace kov::bitset {

using collector::Root;
using memory::buffer_of;

namespace {

constexpr int MAX_NESTING = 512;

inline SeriesBuffer* buf(const Cell* bs) { return buffer_of(bs->data2); }
inline uint8_t fill_of(bool complemented) { return complemented ? 0xFF : 0x00; }

Cell result_cell{T_NONE, 0, 0, 0};  // an answer the front-end copies at once

[[noreturn]] void raise_with(const char* id, const Cell* value) {
    Cell v = *value;
    stack::raise_error("script", id, {&v});
}

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

// The error a spec of the wrong type raises, by caller.
[[noreturn]] void raise_bad_spec(const Cell* value, int mode) {
    Cell dt = cells::make_datatype(T_BITSET), v = *value;
    if (mode == MODE_MAKE) stack::raise_error("script", "bad-make-arg", {&dt, &v});
    if (mode == MODE_TO) stack::raise_error("script", "bad-to-arg", {&dt, &v});
    stack::raise_error("script", "invalid-arg", {&v});
}

bool word_named_q(const Cell* c, const char* name) {
    if (!c->is(T_WORD)) return false;
    return symbol::resolve(c->data2) == symbol::resolve(symbol::make(name));
}

void set_bit(const Cell* bs, uint64_t n) { buf(bs)->head_ptr()[n >> 3] |= uint8_t(0x80 >> (n & 7)); }
void clear_bit(const Cell* bs, uint64_t n) {
    buf(bs)->head_ptr()[n >> 3] &= uint8_t(~(0x80 >> (n & 7)));
}
bool stored_bit(const Cell* bs, uint64_t n) {
    return (buf(bs)->head_ptr()[n >> 3] & (0x80 >> (n & 7))) != 0;
}

// A number of the dialect as a bit: floats truncated; negative raises out-of-range except under
// test, which answers for it as for a bit past the stored bytes.
int64_t bit_of(const Cell* value, int op) {
    int64_t n = value->is(T_CHAR) ? int64_t(value->data2) : int64_t(cell::integer_arg(value));
    if (n < 0 && op != OP_TEST) raise_with("out-of-range", value);
    return n;
}

// One bit, or the inclusive range low..high: the complement rules apply to high.
int64_t process_range(Cell* bs, int64_t low, int64_t high, int op) {
    bool comp = complemented_q(bs);
    switch (op) {
    case OP_MEASURE: return high;
    case OP_TEST:
        if (past_stored_q(bs, high)) return comp;
        for (int64_t i = std::max<int64_t>(low, 0); i <= high; i++)
            if (!stored_bit(bs, uint64_t(i))) return 0;
        return low >= 0 || comp;
    case OP_SET:
        if (comp && past_stored_q(bs, high)) return high;
        grow_to(bs, high);
        for (int64_t i = low; i <= high; i++) set_bit(bs, uint64_t(i));
        return high;
    default:
        if (!comp && past_stored_q(bs, high)) return high;
        grow_to(bs, high);
        for (int64_t i = low; i <= high; i++) clear_bit(bs, uint64_t(i));
        return high;
    }
}

int64_t process_string(const Cell* str_in, Cell* bs, int op) {
    Root str(*str_in);
    auto chars = [&] {
        std::vector<uint32_t> cps;
        SeriesBuffer* b = buf(str.get());
        for (uint32_t i = str->data1; i < b->length(); i++)
            cps.push_back(string::get_char(b->head_ptr() + (uint64_t(i) << b->shift()), b->unit()));
        return cps;
    };
    std::vector<uint32_t> cps = chars();
    int64_t highest = -1;
    for (uint32_t c : cps) highest = std::max<int64_t>(highest, c);
    bool comp = complemented_q(bs);
    switch (op) {
    case OP_MEASURE: return highest;
    case OP_TEST:
        for (uint32_t c : cps) {
            if (c >= capacity_bits(bs)) return comp;
            if (!stored_bit(bs, c)) return 0;
        }
        return 1;
    case OP_SET:
        if (highest < 0) return highest;
        if (comp) {
            if (past_stored_q(bs, highest)) return highest;
        } else {
            grow_to(bs, highest);
        }
        for (uint32_t c : cps) set_bit(bs, c);
        return highest;
    default:
        if (highest < 0) return highest;
        if (comp) {
            grow_to(bs, highest);
        } else if (past_stored_q(bs, highest)) {
            return highest;
        }
        for (uint32_t c : cps) {
            if (c >= capacity_bits(bs)) break;
            clear_bit(bs, c);
        }
        return highest;
    }
}

int64_t process_at(const Cell* spec, Cell* bs, int op, int mode, int depth);

int64_t process_block(const Cell* blk_in, Cell* bs, int op, int mode, int depth) {
    if (depth > MAX_NESTING) stack::raise_error("internal", "too-deep");
    Root blk(*blk_in), item, high;
    int64_t highest = -1;
    for (uint32_t i = blk->data1;;) {
        SeriesBuffer* b = buf(blk.get());
        uint32_t len = b->length();
        if (i >= len) break;
        item.cell = b->head_cell()[i];
        bool range = false;
        if ((item->is(T_CHAR) || item->is(T_INTEGER)) && i + 1 < len) {
            Cell next = b->head_cell()[i + 1];
            range = word_named_q(&next, "-");
        }
        int64_t r;
        if (range) {
            b = buf(blk.get());
            if (i + 2 >= b->length()) stack::raise_error("script", "past-end");
            high.cell = b->head_cell()[i + 2];
            if (high->type() != item->type()) raise_with("invalid-arg", high.get());
            int64_t lo = bit_of(item.get(), op), hi = bit_of(high.get(), op);
            if (hi < lo) stack::raise_error("script", "past-end");
            r = process_range(bs, lo, hi, op);
            i += 3;
        } else {
            r = process_at(item.get(), bs, op, mode, depth + 1);
            i += 1;
        }
        if (op == OP_TEST) {
            if (!r) return 0;
        } else {
            highest = std::max(highest, r);
        }
    }
    return op == OP_TEST ? 1 : highest;
}

// The highest bit named (measure, set, clear) or the answer of a test, for one spec value.
int64_t process_at(const Cell* spec, Cell* bs, int op, int mode, int depth) {
    switch (spec->type()) {
    case T_CHAR: case T_INTEGER: case T_FLOAT: {
        int64_t n = bit_of(spec, op);
        return process_range(bs, n, n, op);
    }
    case T_STRING: return process_string(spec, bs, op);
    case T_BLOCK: return process_block(spec, bs, op, mode, depth);
    case T_BINARY: not_done();
    default: raise_bad_spec(spec, mode);
    }
}

int64_t byte_count(int64_t highest) { return std::max<int64_t>(1, (highest + 8) / 8); }

}  // namespace

// ---- storage ----

bool complemented_q(const Cell* bs) { return (buf(bs)->flags & SER_COMPLEMENT) != 0; }
uint8_t* data_address(const Cell* bs) { return buf(bs)->head_ptr(); }
uint8_t* tail_address(const Cell* bs) { return buf(bs)->tail_ptr(); }
uint32_t stored_bytes(const Cell* bs) { return buf(bs)->used(); }
uint64_t capacity_bits(const Cell* bs) {
    SeriesBuffer* b = buf(bs);
    return uint64_t(uint32_t(b->size) - b->head) * 8;
}

uint8_t* grow_to(Cell* bs, int64_t n) {
    if (n < 0) return data_address(bs);
    uint64_t bytes = uint64_t(n >> 3) + 1;
    if (bytes > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    if (uint64_t(n) >= capacity_bits(bs))
        buffer::expand_fill(buf(bs), int64_t(bytes), fill_of(complemented_q(bs)));
    SeriesBuffer* b = buf(bs);
    if (b->used() < bytes) b->tail = b->head + uint32_t(bytes);
    return b->head_ptr();
}

bool past_stored_q(const Cell* bs, int64_t n) {
    return n < 0 || uint64_t(n >> 3) >= stored_bytes(bs);
}

void invert_bytes(const Cell* bs) {
    SeriesBuffer* b = buf(bs);
    uint8_t* p = b->head_ptr();
    for (uint8_t* end = b->end_ptr(); p < end; p++) *p = uint8_t(~*p);
}

bool has_bit(const Cell* bs, uint64_t n) {
    if ((n >> 3) >= stored_bytes(bs)) return complemented_q(bs);
    return stored_bit(bs, n);
}

Cell* make_at(Cell* out, uint32_t n, bool complemented) {
    cell::set_type(out, T_UNSET);
    Handle node = memory::make_bytes_filled(n, fill_of(complemented));
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + n;
    if (complemented) b->flags |= SER_COMPLEMENT;
    *out = Cell{T_BITSET, 0, node, 0};
    return out;
}

Cell* push(const Cell* bs) { return stack::push(bs); }

// ---- the dialect ----

int64_t process(const Cell* spec, Cell* bs, int op, bool nested, int mode) {
    int64_t r = process_at(spec, bs, op, mode, 0);
    if (nested || op == OP_TEST || op == OP_CLEAR) return r;
    int64_t bytes = byte_count(r);
    if (op == OP_SET) grow_to(bs, bytes * 8 - 1);
    return bytes;
}

Cell* make_value(const Cell* spec_in, int mode) {
    Root spec(*spec_in), made;
    bool inverted = false;
    if (spec->is(T_BLOCK)) {
        SeriesBuffer* b = buf(spec.get());
        if (spec->data1 < b->length()) {
            Cell first = b->head_cell()[spec->data1];
            if (word_named_q(&first, "not")) {
                inverted = true;
                spec->data1++;
                b = buf(spec.get());
                if (spec->data1 < b->length() && b->head_cell()[spec->data1].is(T_BINARY))
                    spec.cell = b->head_cell()[spec->data1];
            }
        }
    }
    switch (spec->type()) {
    case T_INTEGER: case T_FLOAT: {
        if (mode == MODE_TO) raise_bad_spec(spec.get(), MODE_TO);
        int32_t n = cell::integer_arg(spec.get());
        if (n < 0) raise_with("out-of-range", spec.get());
        make_at(made.get(), uint32_t((int64_t(n) + 7) / 8), false);
        break;
    }
    case T_BITSET:
        made.cell = Cell{T_BITSET, 0, buffer::copy(buf(spec.get())), 0};
        break;
    case T_BINARY: {
        SeriesBuffer* b = buf(spec.get());
        uint32_t len = b->length(), at = std::min(spec->data1, len);
        std::vector<uint8_t> bytes(b->head_ptr() + at, b->tail_ptr());
        make_at(made.get(), uint32_t(bytes.size()), inverted);
        uint8_t* p = data_address(made.get());
        for (size_t i = 0; i < bytes.size(); i++) p[i] = inverted ? uint8_t(~bytes[i]) : bytes[i];
        break;
    }
    default: {
        Root probe;
        make_at(probe.get(), 0, false);
        int64_t bytes = process(spec.get(), probe.get(), OP_MEASURE, false, mode);
        make_at(made.get(), uint32_t(bytes), inverted);
        process(spec.get(), made.get(), inverted ? OP_CLEAR : OP_SET, false, mode);
    }
    }
    *stack::arguments = made.cell;
    return stack::arguments;
}

// ---- text ----

int32_t form_hex(const Cell* bs, Cell* out, bool part, int32_t limit, bool invert) {
    SeriesBuffer* b = buf(bs);
    std::vector<uint8_t> bytes(b->head_ptr(), b->tail_ptr());
    std::string text;
    for (uint8_t byte : bytes) {
        if (part && limit < 0) break;
        text += string::byte_to_hex(invert ? uint8_t(255 - byte) : byte);
        limit -= 2;
    }
    string::concatenate_cstring(out, text);
    return limit;
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    bool comp = complemented_q(value);
    string::concatenate_cstring(out, comp ? "make bitset! [not " : "make bitset! ");
    limit -= comp ? 18 : 13;
    if (part && limit <= 0) return limit;
    string::concatenate_cstring(out, "#{");
    limit -= 2;
    limit = form_hex(value, out, part, limit, comp);
    if (part && limit < 0) return limit;
    string::concatenate_cstring(out, comp ? "}]" : "}");
    return limit;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, bool part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

// ---- comparison ----

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_BITSET)) return NOT_COMPARABLE;
    if (op == COMP_SAME) return a->data2 == b->data2 ? 0 : 1;
    uint32_t x = stored_bytes(a), y = stored_bytes(b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
    bool ca = complemented_q(a), cb = complemented_q(b);
    if (ca != cb) return ca ? 1 : -1;
    const uint8_t* p = data_address(a);
    const uint8_t* q = data_address(b);
    for (uint32_t i = x; i-- > 0;)
        if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
    return 0;
}

// ---- the set algebra ----

Cell* do_bitwise(int code) {
    Cell* a = stack::arg(0);
    const Cell* b = stack::arg(1);
    if (!b->is(T_BITSET) || !a->is(T_BITSET)) {
        Cell dt = cells::make_datatype(b->type());
        stack::raise_error("script", "invalid-type", {&dt});
    }
    if (code == 8) return a;  // unique: the first value as it is
    enum { OR, AND, XOR, AND_NOT } kind;
    switch (code) {
    case OP_OR: case 9: kind = OR; break;
    case OP_AND: case 10: kind = AND; break;
    case OP_XOR: case 12: kind = XOR; break;
    case 11: kind = AND_NOT; break;
    default: not_done();
    }
    auto combine = [kind](uint8_t x, uint8_t y) -> uint8_t {
        switch (kind) {
        case OR: return x | y;
        case AND: return x & y;
        case XOR: return x ^ y;
        default: return x & uint8_t(~y);
        }
    };
    bool ca = complemented_q(a), cb = complemented_q(b);
    bool flag = combine(ca ? 0xFF : 0, cb ? 0xFF : 0) != 0;
    uint32_t x = stored_bytes(a), y = stored_bytes(b);
    std::vector<uint8_t> out(std::max(x, y));
    {
        const uint8_t* p = data_address(a);
        const uint8_t* q = data_address(b);
        for (uint32_t i = 0; i < out.size(); i++)
            out[i] = combine(i < x ? p[i] : fill_of(ca), i < y ? q[i] : fill_of(cb));
    }
    // and~ ends at the common length where the bytes past it say no more than the flag does.
    if (code == OP_AND) {
        uint32_t common = std::min(x, y);
        bool redundant = std::all_of(out.begin() + common, out.end(),
                                     [flag](uint8_t v) { return v == fill_of(flag); });
        if (redundant) out.resize(common);
    }
    Root made;
    make_at(made.get(), uint32_t(out.size()), flag);
    if (!out.empty()) std::memcpy(data_address(made.get()), out.data(), out.size());
    *stack::arguments = made.cell;
    return stack::arguments;
}

// ---- handlers ----

Cell* make(const Cell*, const Cell* spec, uint32_t) { return make_value(spec, MODE_MAKE); }
Cell* to(const Cell*, const Cell* spec, uint32_t) { return make_value(spec, MODE_TO); }

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    if (!e->is(T_INTEGER) && !e->is(T_CHAR)) {
        Cell dt = cells::make_datatype(e->type());
        stack::raise_error("script", "invalid-type", {&dt});
    }
    if (step.set_value) return poke(step.value, int32_t(e->data2), step.set_value);
    return pick(step.value, int32_t(e->data2), e);
}

Cell* complement(Cell* value) {
    Root made(Cell{T_BITSET, 0, buffer::copy(buf(value)), 0});
    buf(made.get())->flags ^= SER_COMPLEMENT;
    invert_bytes(made.get());
    *value = made.cell;
    return value;
}

namespace {

Cell* add_bits(Cell* series, const Cell* value, const char* action) {
    Root bs(*series), v(*value);
    int owner = series::report(bs.get(), action, 0, 0, v.get());
    process(v.get(), bs.get(), OP_SET, false, MODE_ACTION);
    if (owner) series::report(bs.get(), "inserted", 0, 0, v.get());
    return series;
}

}  // namespace

Cell* append(Cell* series, const Cell* value, int32_t, bool, int32_t) {
    return add_bits(series, value, "append");
}
Cell* insert(Cell* series, const Cell* value, int32_t, bool, int32_t) {
    return add_bits(series, value, "insert");
}

Cell* clear(Cell* series) {
    Root bs(*series);
    int owner = series::report(bs.get(), "clear", 0, 0);
    SeriesBuffer* b = buf(bs.get());
    std::memset(b->head_ptr(), fill_of(complemented_q(bs.get())), b->used());
    if (owner) series::report(bs.get(), "cleared", 0, 0);
    return series;
}

Cell* copy(const Cell* value, Cell* result, const Cell*, bool, const Cell*) {
    Handle node = buffer::copy(buf(value));
    *result = Cell{T_BITSET, 0, node, 0};
    return result;
}

Cell* pick(Cell* series, int32_t index, const Cell* index_value) {
    Root bs(*series), at(index_value ? *index_value : cells::make_integer(index));
    return process(at.get(), bs.get(), OP_TEST, false, MODE_ACTION) ? &true_value : &false_value;
}

Cell* find(Cell* series, const Cell* value, const FindArgs&) {
    Cell* r = pick(series, 0, value);
    return r == &true_value ? r : &none_value;
}

int32_t length_q(const Cell* value) { return int32_t(stored_bytes(value) * 8); }

Cell* poke(Cell* series, int32_t index, const Cell* value) {
    Root bs(*series), v(*value), at(cells::make_integer(index));
    bool off = v->is(T_NONE) || (v->is(T_LOGIC) && !cells::logic(v.cell)) ||
               (v->is(T_INTEGER) && cells::integer(v.cell) == 0) ||
               (v->is(T_FLOAT) && v->get_float() == 0.0);
    int owner = series::report(bs.get(), "poke", index, 1, v.get());
    process(at.get(), bs.get(), off ? OP_CLEAR : OP_SET, false, MODE_ACTION);
    if (owner) series::report(bs.get(), "poked", index, 1, v.get());
    result_cell = v.cell;
    return &result_cell;
}

Cell* remove(Cell* series, const Cell* part, const Cell*) {
    if (!part) stack::raise_error("script", "missing-arg");
    Root bs(*series), p(*part);
    int owner = series::report(bs.get(), "remove", 0, 0, p.get());
    process(p.get(), bs.get(), complemented_q(bs.get()) ? OP_SET : OP_CLEAR, false, MODE_ACTION);
    if (owner) series::report(bs.get(), "removed", 0, 0, p.get());
    return series;
}

namespace {

bool owned_field_q(const Cell* field) {
    return field->type() >= T_WORD && field->type() <= T_GET_WORD &&
           symbol::resolve(field->data2) == symbol::resolve(symbol::make("owned"));
}

}  // namespace

Cell* reflect(const Cell* value, const Cell* field) {
    if (!owned_field_q(field)) not_done();
    Cell* owner = ownership::owner_of(value->data2);
    if (!owner) return &none_value;
    result_cell = *owner;
    return &result_cell;
}

Cell* modify(Cell* target, const Cell* field, const Cell* value, bool) {
    if (!owned_field_q(field)) return target;
    Root v(*value);
    if (v->is(T_NONE)) {
        ownership::unbind(target);
    } else if (v->is(T_BLOCK) && buf(v.get())->length() >= v->data1 + 2) {
        Root owner(buf(v.get())->head_cell()[v->data1]);
        Root word(buf(v.get())->head_cell()[v->data1 + 1]);
        ownership::set_owner_flag(target, owner.get(), word.get());
    }
    return target;
}

void init() {
    type_registry::register_type(
        T_BITSET, 0, "bitset!",
        {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold,
         .eval_path = eval_path, .compare = compare, .negate = complement,
         .and_t = +[] { do_bitwise(OP_AND); }, .complement = complement,
         .or_t = +[] { do_bitwise(OP_OR); }, .xor_t = +[] { do_bitwise(OP_XOR); },
         .append = append, .clear = clear, .copy = copy, .find = find, .insert = insert,
         .length_q = length_q, .pick = pick, .poke = poke, .remove = remove, .modify = modify});
}

}  // namespace kov::bitset
