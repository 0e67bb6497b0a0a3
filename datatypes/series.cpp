// series!: the shared position and editing actions of every series datatype (positions, pick
// and poke, clear, remove, reverse, take, copy, random, move, and the `owned` field).
#include "datatypes/series.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/ownership.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/simple.hpp"
#include "evaluator/random.hpp"

namespace kov::series {

namespace sym = runtime_words::sym;

bool cell_kind(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH) || t == T_HASH;
}
bool block_kind(uint32_t t) { return cell_kind(t); }
bool text_kind(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool series_kind(uint32_t t) {
    return cell_kind(t) || text_kind(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}

namespace {

inline SeriesBuffer* buf(const Cell* s) { return memory::buffer_of(s->data2); }
inline uint8_t* elem(SeriesBuffer* b, int64_t i) { return b->head_ptr() + (i << b->shift()); }
inline Handle table_of(const Cell* s) { return s->is(T_HASH) ? s->data3 : 0; }

// The one-element buffer of take without /part: fixed, so its buffer never moves; its node is
// marked as a root, so that a collection that moves nodes rewrites the handle.
Handle take_scratch = 0;

void mark_scratch() {
    if (take_scratch) collector::mark_node(&take_scratch);
}

Cell result_cell{T_NONE, 0, 0, 0};  // a scalar answer the front-end copies at once

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

// The code point of a text element.
uint32_t code_point(SeriesBuffer* b, int64_t i) {
    uint8_t* p = elem(b, i);
    switch (b->unit()) {
    case 1: return *p;
    case 2: { uint16_t u; std::memcpy(&u, p, 2); return u; }
    default: { uint32_t u; std::memcpy(&u, p, 4); return u; }
    }
}

// The scalar a non-cell series answers for an element: an integer! byte for binary!, a char!
// for text; vector! needs its element types.
Cell* element_value(const Cell* s, int64_t i) {
    SeriesBuffer* b = buf(s);
    uint32_t t = s->type();
    if (t == T_BINARY) {
        result_cell = cells::make_integer(*elem(b, i));
        return &result_cell;
    }
    if (text_kind(t)) {
        result_cell = Cell{T_CHAR, 0, code_point(b, i), 0};
        return &result_cell;
    }
    not_done();
}

Cell word_of(uint32_t symbol) { return cells::make_word(T_WORD, 0, symbol); }

}  // namespace

[[noreturn]] void raise_refine_arg(uint32_t refinement_symbol, const Cell* value) {
    Cell w = word_of(refinement_symbol);
    stack::raise_error("script", "invalid-refine-arg", {&w, value});
}

// ---- positions ----

bool at_tail_q(const Cell* s) { return s->data1 >= buf(s)->length(); }

int32_t buffer_length(const Cell* s) { return int32_t(buf(s)->length()); }

bool skip_by(Cell* s, int32_t n) {
    int64_t len = buffer_length(s);
    int64_t to = int64_t(s->data1) + n;
    if (to >= 0 && to <= len) s->data1 = uint32_t(to);
    return int64_t(s->data1) >= len;
}

int32_t position_arg(bool at) {
    Cell* s = stack::arg(0);
    const Cell* n_cell = stack::arg(1);
    if (!n_cell->is(T_INTEGER)) stack::raise_error("script", "invalid-arg", {n_cell});
    int64_t n = cells::integer(*n_cell);
    int64_t h = s->data1;
    int64_t to = (at && n > 0) ? h + n - 1 : h + n;
    int64_t len = buffer_length(s);
    return int32_t(std::clamp<int64_t>(to, 0, len));
}

int32_t get_length(Cell* s, bool from_start) {
    int32_t len = buffer_length(s);
    int64_t a = from_start ? 0 : int64_t(s->data1);
    if (a > len) {
        s->data1 = uint32_t(len);
        return 0;
    }
    return int32_t(len - a);
}

int32_t part_arg(const Cell* s, const Cell* part) {
    if (part->is(T_INTEGER)) return cells::integer(*part);
    if (part->type() == s->type() && part->data2 == s->data2)
        return int32_t(int64_t(part->data1) - int64_t(s->data1));
    raise_refine_arg(symbol::make("part"), part);
}

int report(const Cell* s, const char* action, int32_t index, int32_t count, const Cell* new_value) {
    if (!(buf(s)->flags & SER_OWNED)) return 0;
    Cell w = word_of(symbol::make(action));
    return ownership::check(s, &w, new_value, index, count);
}

namespace {

// ---- frame actions: the series in arguments[0] is changed in place ----

void at_() { stack::arg(0)->data1 = uint32_t(position_arg(true)); }
void skip_() { stack::arg(0)->data1 = uint32_t(position_arg(false)); }
void head_() { stack::arg(0)->data1 = 0; }
void tail_() { stack::arg(0)->data1 = uint32_t(buffer_length(stack::arg(0))); }
void back_() {
    Cell* s = stack::arg(0);
    if (s->data1 > 0) s->data1--;
}
void next_() { skip_by(stack::arg(0), 1); }
void head_q() { *stack::arg(0) = cells::make_logic(stack::arg(0)->data1 == 0); }
void tail_q() { *stack::arg(0) = cells::make_logic(at_tail_q(stack::arg(0))); }
void index_q() { *stack::arg(0) = cells::make_integer(int32_t(stack::arg(0)->data1 + 1)); }

int32_t length_q(const Cell* s) { return get_length(const_cast<Cell*>(s), false); }

// The element position of a pick or poke index, or -1 when there is none.
int64_t pick_position(const Cell* s, int32_t i) {
    if (i == 0) return -1;
    int64_t p = int64_t(s->data1) + i - (i > 0 ? 1 : 0);
    if (p < 0 || p >= buffer_length(s)) return -1;
    return p;
}

Cell* pick(Cell* s, int32_t index, const Cell*) {
    int64_t p = pick_position(s, index);
    if (p < 0) return &none_value;
    uint32_t t = s->type();
    if (cell_kind(t) || t == T_MAP) return buf(s)->head_cell() + p;
    return element_value(s, p);
}

Cell* poke(Cell* s_in, int32_t index, const Cell* value) {
    collector::Root s(*s_in), v(*value);
    int64_t p = pick_position(s.get(), index);
    if (p < 0) {
        Cell i = cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&i});
    }
    uint32_t t = s->type();
    bool bytes = t == T_BINARY;
    if (!cell_kind(t) && !bytes) not_done();  // text and vector! stores belong to their modules
    uint8_t byte = bytes ? binary::byte_of(v.get()) : 0;
    int owner = report(s.get(), "poke", int32_t(p), 1, v.get());
    if (p >= buffer_length(s.get())) {  // the owner's handler shortened the series
        Cell i = cells::make_integer(index);
        stack::raise_error("script", "out-of-range", {&i});
    }
    if (bytes) {
        buf(s.get())->head_ptr()[p] = byte;
        if (owner) report(s.get(), "poked", int32_t(p), 1, v.get());
        *s_in = s.cell;
        return const_cast<Cell*>(value);
    }
    Cell* at = buf(s.get())->head_cell() + p;
    *at = v.cell;
    if (Handle table = table_of(s.get())) hashtable::put(table, at);
    if (owner) report(s.get(), "poked", int32_t(p), 1, v.get());
    *s_in = s.cell;
    return const_cast<Cell*>(value);
}

Cell* clear(Cell* s) {
    collector::Root r(*s);
    if (get_length(r.get(), false) < 1) {
        *s = r.cell;
        return s;
    }
    int owner = report(r.get(), "clear", int32_t(r->data1), get_length(r.get(), false));
    SeriesBuffer* b = buf(r.get());
    if (r->data1 < b->length()) {
        if (Handle table = table_of(r.get()))
            hashtable::remove_range(table, int32_t(r->data1), int32_t(b->length() - r->data1));
        b = buf(r.get());
        b->tail = b->head + (r->data1 << b->shift());
    }
    if (owner) report(r.get(), "cleared", int32_t(r->data1), 0);
    *s = r.cell;
    return s;
}

// Removes c elements at element index h (clamped to the tail).
void remove_at(const Cell* s, int64_t h, int64_t c) {
    SeriesBuffer* b = buf(s);
    int64_t len = b->length();
    if (h >= len || c < 1) return;
    int shift = b->shift();
    if (h + c >= len) {
        b->tail = b->head + uint32_t(h << shift);
        c = len - h;
    } else {
        std::memmove(elem(b, h), elem(b, h + c), size_t((len - h - c) << shift));
        b->tail -= uint32_t(c << shift);
    }
    if (Handle table = table_of(s)) {  // the cells after the removed ones moved down c places
        if (hashtable::shift_positions(table, int32_t(-c), int32_t(h + c), int32_t(len - h - c), true))
            hashtable::rebuild(table, int32_t(buf(s)->length()));
    }
}

Cell* remove(Cell* s_in, const Cell* part, const Cell* key) {
    collector::Root s(*s_in);
    int64_t c = 1;
    if (part) c = part_arg(s.get(), part);
    if (c < 1) return s_in;
    if (key) {
        const auto& find = type_registry::table(s->type()).find;
        if (!find) not_done();
        FindArgs args;
        args.case_sensitive = true;
        collector::Root k(*key);
        Cell* found = find(s.get(), k.get(), args);
        if (!found || found->is(T_NONE)) return &none_value;
        s.cell = *found;
        c++;
    }
    if (!at_tail_q(s.get())) {
        int owner = report(s.get(), "remove", int32_t(s->data1), int32_t(c));
        remove_at(s.get(), s->data1, c);
        if (owner) report(s.get(), "removed", int32_t(s->data1), int32_t(c));
    }
    if (key) {
        result_cell = s.cell;
        return &result_cell;
    }
    return s_in;
}

Cell* reverse(Cell* s_in, const Cell* part, const Cell* skip) {
    collector::Root s(*s_in);
    if (at_tail_q(s.get())) return s_in;
    int64_t t;
    if (part) {
        t = part_arg(s.get(), part);
        if (t < 1) return s_in;
    } else {
        t = get_length(s.get(), false);
    }
    int64_t k = 1;
    if (skip) {
        if (!skip->is(T_INTEGER)) raise_refine_arg(symbol::make("skip"), skip);
        k = cells::integer(*skip);
        if (k == t) return s_in;
        if (k < 1) stack::raise_error("script", "out-of-range", {skip});
        if (t < k || t % k != 0) raise_refine_arg(symbol::make("skip"), skip);
    }
    int owner = report(s.get(), "reverse", int32_t(s->data1), int32_t(t));
    SeriesBuffer* b = buf(s.get());
    int64_t len = b->length();
    int64_t h = std::min<int64_t>(s->data1, len);
    int64_t end = std::min<int64_t>(h + t, len);
    int64_t records = (end - h) / k;
    uint32_t rec_bytes = uint32_t(k << b->shift());
    std::vector<uint8_t> tmp(rec_bytes);
    Handle table = table_of(s.get());
    for (int64_t front = 0, back = records - 1; front < back; front++, back--) {
        b = buf(s.get());
        uint8_t* f = elem(b, h + front * k);
        uint8_t* r = elem(b, h + back * k);
        std::memcpy(tmp.data(), f, rec_bytes);
        std::memmove(f, r, rec_bytes);
        std::memcpy(r, tmp.data(), rec_bytes);
        if (table) {
            for (int64_t j = 0; j < k; j++) {
                hashtable::delete_position(table, int32_t(h + front * k + j));
                hashtable::delete_position(table, int32_t(h + back * k + j));
            }
            for (int64_t j = 0; j < k; j++) {
                hashtable::put(table, buf(s.get())->head_cell() + h + front * k + j);
                hashtable::put(table, buf(s.get())->head_cell() + h + back * k + j);
            }
        }
    }
    if (owner) report(s.get(), "reversed", int32_t(s->data1), int32_t(t));
    return s_in;
}

Cell* random_(Cell* s_in, bool seed, bool secure, bool only) {
    collector::Root s(*s_in);
    if (seed) {
        SeriesBuffer* b = buf(s.get());
        uint32_t len = b->length();
        uint32_t h = std::min(s->data1, len);
        random::seed(hashtable::murmur3(elem(b, h), size_t(len - h) << b->shift()));
        result_cell = cells::make_unset();
        return &result_cell;
    }
    if (only) {
        int32_t m = get_length(s.get(), false);
        if (m < 1) return &none_value;
        int64_t r = int64_t(s->data1) + random::int_(secure, m) - 1;
        uint32_t t = s->type();
        if (cell_kind(t)) {
            result_cell = buf(s.get())->head_cell()[r];
            return &result_cell;
        }
        return element_value(s.get(), r);
    }
    int32_t n = get_length(s.get(), false);
    int owner = report(s.get(), "random", int32_t(s->data1), n);
    if (!cell_kind(s->type()) && !text_kind(s->type()) && !s->is(T_BINARY)) not_done();
    SeriesBuffer* b = buf(s.get());
    int64_t len = b->length();
    int64_t h = std::min<int64_t>(s->data1, len);
    uint32_t w = b->unit();
    uint8_t tmp[16];
    for (int64_t cur = h, r = len - h; r > 0; cur++, r--) {
        int64_t j = random::int_(secure, int32_t(r));
        b = buf(s.get());
        uint8_t* a = elem(b, cur);
        uint8_t* o = elem(b, cur + j - 1);
        std::memcpy(tmp, a, w);
        std::memmove(a, o, w);
        std::memcpy(o, tmp, w);
    }
    if (Handle table = table_of(s.get())) hashtable::rebuild(table, int32_t(buf(s.get())->length()));
    if (owner) report(s.get(), "randomized", int32_t(s->data1), n);
    return s_in;
}

[[noreturn]] void move_bad(const Cell* a, const Cell* b) {
    Cell x = cells::make_datatype(a->type()), y = cells::make_datatype(b->type());
    stack::raise_error("script", "move-bad", {&x, &y});
}

Cell* move(Cell* origin_in, Cell* target_in, const Cell* part) {
    collector::Root o(*origin_in), d(*target_in);
    if (!series_kind(d->type())) {
        Cell name, type = cells::make_datatype(d->type()), word;
        stack::frame_name(&name);
        stack::param_word(1, &word);
        stack::raise_error("script", "expect-arg", {&name, &type, &word});
    }
    if (at_tail_q(o.get())) return target_in;
    int64_t c = 1;
    if (part) {
        if (!part->is(T_INTEGER)) raise_refine_arg(symbol::make("part"), part);
        c = std::min<int64_t>(cells::integer(*part), get_length(o.get(), false));
    }
    if (c < 1) return target_in;
    int64_t oi = o->data1;
    if (o->data2 == d->data2) {
        SeriesBuffer* b = buf(o.get());
        int64_t len = b->length();
        int64_t di = d->data1;
        if (di == oi) return target_in;
        // A target inside the moved run, or with fewer than c elements from it to the tail.
        if (oi < di && di < oi + c) return origin_in;
        if (oi < di && di < len && len - di < c) return origin_in;
        if (di > len) di = len;
        report(o.get(), "move", int32_t(oi), int32_t(c));
        b = buf(o.get());
        len = b->length();
        if (oi + c > len || di > len) {  // the owner's handler shortened the series
            report(o.get(), "moved", int32_t(oi), int32_t(c));
            return target_in;
        }
        int sh = b->shift();
        size_t run = size_t(c << sh);
        std::vector<uint8_t> tmp(elem(b, oi), elem(b, oi) + run);
        if (oi < di && di == len) {
            std::memmove(elem(b, oi), elem(b, oi + c), size_t((len - oi - c) << sh));
            std::memcpy(elem(b, len - c), tmp.data(), run);
        } else if (oi < di) {
            // The elements after the run up to and including the target's element move down;
            // the run goes right after the target's element.
            std::memmove(elem(b, oi), elem(b, oi + c), size_t((di + 1 - oi - c) << sh));
            std::memcpy(elem(b, di + 1 - c), tmp.data(), run);
        } else {
            std::memmove(elem(b, di + c), elem(b, di), size_t((oi - di) << sh));
            std::memcpy(elem(b, di), tmp.data(), run);
        }
        if (Handle table = table_of(o.get())) hashtable::rebuild(table, int32_t(len));
        report(o.get(), "moved", int32_t(oi), int32_t(c));
        return target_in;
    }
    uint32_t to = o->type(), tt = d->type();
    if ((cell_kind(to) && !cell_kind(tt)) || (!cell_kind(to) && cell_kind(tt))) move_bad(o.get(), d.get());
    if (buf(o.get())->unit() != buf(d.get())->unit()) {
        if (to == T_BINARY || to == T_VECTOR || tt == T_BINARY || tt == T_VECTOR) move_bad(o.get(), d.get());
        not_done();  // text of different widths: the string module moves characters
    }
    if (!cell_kind(to) && !text_kind(to) && to != T_BINARY) not_done();
    report(o.get(), "move", int32_t(oi), int32_t(c));
    {
        SeriesBuffer* ob = buf(o.get());
        if (oi + c > int64_t(ob->length())) c = int64_t(ob->length()) - oi;
        if (c < 1) {
            report(o.get(), "moved", int32_t(oi), 0);
            return target_in;
        }
        int sh = ob->shift();
        uint32_t bytes = uint32_t(c << sh);
        SeriesBuffer* db = buf(d.get());
        uint64_t needed = uint64_t(db->tail) + bytes;
        if (needed > uint64_t(uint32_t(db->size))) {
            if (needed * 2 > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
            buffer::expand_copy(db, int64_t(needed * 2));
        }
        db = buf(d.get());
        ob = buf(o.get());
        int64_t dlen = db->length();
        int64_t di = std::min<int64_t>(d->data1, dlen);
        std::memmove(elem(db, di + c), elem(db, di), size_t((dlen - di) << sh));
        std::memcpy(elem(db, di), elem(ob, oi), bytes);
        db->tail += bytes;
        int64_t olen = ob->length();
        std::memmove(elem(ob, oi), elem(ob, oi + c), size_t((olen - oi - c) << sh));
        ob->tail -= bytes;
    }
    if (Handle table = table_of(d.get())) hashtable::rebuild(table, buffer_length(d.get()));
    if (Handle table = table_of(o.get())) hashtable::rebuild(table, buffer_length(o.get()));
    report(o.get(), "moved", int32_t(oi), int32_t(c));
    return target_in;
}

Cell* reflect(const Cell* s, const Cell* field) {
    if (field->type() >= T_WORD && field->type() <= T_GET_WORD &&
        symbol::resolve(field->data2) == symbol::resolve(symbol::make("owned"))) {
        Cell* owner = ownership::owner_of(s->data2);
        if (!owner) return &none_value;
        result_cell = *owner;
        return &result_cell;
    }
    not_done();
}

Cell* modify(Cell* s, const Cell* field, const Cell* value, bool) {
    if (field->type() >= T_WORD && field->type() <= T_GET_WORD &&
        symbol::resolve(field->data2) == symbol::resolve(symbol::make("owned"))) {
        collector::Root v(*value);
        if (v->is(T_NONE)) {
            ownership::unbind(s);
        } else if (v->is(T_BLOCK) && buf(v.get())->length() >= v->data1 + 2) {
            collector::Root owner(buf(v.get())->head_cell()[v->data1]);
            collector::Root word(buf(v.get())->head_cell()[v->data1 + 1]);
            ownership::set_owner_flag(s, owner.get(), word.get());
        }
    }
    return s;
}

Cell* copy_action(const Cell* s, Cell* result, const Cell* part, bool, const Cell*) {
    return copy(s, result, part);
}

Cell* take_action(Cell* s, const Cell* part, bool, bool last) { return take(s, part, last); }

}  // namespace

int32_t remove_marked(const Cell* s_in, uint32_t from, const uint8_t* gone, uint32_t count) {
    collector::Root s(*s_in);
    s->data1 = from;
    uint32_t len = buf(s.get())->length();
    uint32_t end = std::min(len, from < len ? from + count : from);
    int32_t removed = 0;
    for (uint32_t i = from; i < end; i++) removed += gone[i - from] != 0;
    if (!removed) return 0;
    int owner = report(s.get(), "remove", int32_t(from), removed);
    // A change handler may have changed the series: the marks stay where they were, cut to it.
    SeriesBuffer* b = buf(s.get());
    len = b->length();
    end = std::min(len, from < len ? from + count : from);
    int shift = b->shift();
    uint32_t w = from;
    for (uint32_t i = from; i < len;) {
        if (i < end && gone[i - from]) {
            i++;
            continue;
        }
        uint32_t run = i;  // a run of kept elements moves down in one piece
        while (run < len && !(run < end && gone[run - from])) run++;
        if (w != i) std::memmove(elem(b, w), elem(b, i), size_t(run - i) << shift);
        w += run - i;
        i = run;
    }
    removed = int32_t(len - w);
    b->tail = b->head + (w << shift);
    if (Handle table = table_of(s.get())) hashtable::rebuild(table, int32_t(w));
    if (owner) report(s.get(), "removed", int32_t(from), removed);
    return removed;
}

// ---- shared cores ----

Cell* copy(const Cell* s_in, Cell* result, const Cell* part) {
    collector::Root s(*s_in);
    int64_t len = buffer_length(s.get());
    int64_t h = s->data1;
    int64_t start = h, c = std::max<int64_t>(0, len - h);
    if (part) {
        if (part->is(T_INTEGER)) {
            c = cells::integer(*part);
        } else if (part->is(T_PAIR)) {
            int64_t x = int32_t(part->data2), y = int32_t(part->data3);
            start = std::max<int64_t>(0, x >= 1 ? h + x - 1 : h + x);
            c = y < x ? 0 : y - x;
        } else {
            c = part_arg(s.get(), part);
        }
        if (c < 0) {
            c = -c;
            start -= c;
            if (start < 0) {
                start = 0;
                c = h;
            }
        }
    }
    if (len < start) {
        c = 0;
        start = len;
    }
    if (start + c > len) c = len - start;
    if (result != s_in) cell::set_type(result, T_UNSET);
    SeriesBuffer* b = buf(s.get());
    int sh = b->shift();
    uint64_t bytes = uint64_t(c) << sh;
    if (bytes > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    Handle node = memory::make_bytes(uint32_t(bytes));
    SeriesBuffer* nb = memory::buffer_of(node);
    b = buf(s.get());
    nb->flags = (nb->flags & ~SER_UNIT_MASK) | b->unit();
    nb->flags |= b->flags & ~(SER_OWNED | SER_IN_USE | SER_ALLOCATED | SER_MIDDLE | SER_MARK |
                              SER_BIG | SER_FIXED | SER_UNIT_MASK);
    std::memcpy(nb->head_ptr(), elem(b, start), size_t(bytes));
    nb->tail = nb->head + uint32_t(bytes);
    *result = Cell{s->type() | (s->header & CELL_NEW_LINE), 0, node,
                   s->is(T_VECTOR) ? s->data3 : 0};
    return result;
}

Cell* take(Cell* s_in, const Cell* part, bool last) {
    collector::Root s(*s_in);
    int64_t n = get_length(s.get(), false);
    if (n < 1) {
        *s_in = s.cell;
        return &none_value;
    }
    int64_t h = s->data1;
    int64_t c = 1;
    if (part) {
        if (part->is(T_INTEGER)) {
            c = cells::integer(*part);
        } else if (part->type() == s->type() && part->data2 == s->data2) {
            int64_t p = part->data1;
            c = p < h ? 0 : last ? std::max<int64_t>(0, buffer_length(s.get()) - p) : p - h;
            if (last) c = std::max<int64_t>(c, 0);
        } else {
            raise_refine_arg(symbol::make("part"), part);
        }
        // A count of 0 takes nothing here (the shared rule would take the element before the
        // head).
    }
    bool before = c < 0;
    int64_t available = n;
    if (before) {
        available = h;
        c = last ? 1 : -c;
    }
    c = std::min(c, available);
    int owner = report(s.get(), "take", int32_t(h), int32_t(c));
    SeriesBuffer* b = buf(s.get());
    int sh = b->shift();
    uint32_t bytes = uint32_t(c << sh);
    Cell* out = stack::push(&unset_value);
    Handle node;
    if (part) {
        node = memory::make_bytes(bytes);
        SeriesBuffer* nb = memory::buffer_of(node);
        nb->flags = (nb->flags & ~SER_UNIT_MASK) | buf(s.get())->unit();
    } else {
        if (!take_scratch) take_scratch = memory::alloc_fixed_series(1, 16, 0);
        node = take_scratch;
        SeriesBuffer* nb = memory::buffer_of(node);
        nb->flags = (nb->flags & ~SER_UNIT_MASK) | buf(s.get())->unit();
        nb->tail = nb->head;
    }
    b = buf(s.get());
    int64_t len = b->length();
    SeriesBuffer* nb = memory::buffer_of(node);
    int64_t from;
    if (c <= 0 || (before && last)) {
        from = -1;
    } else if (last) {
        from = len - c;
    } else if (before) {
        from = h - c;
    } else {
        from = h;
    }
    if (from >= 0 && from + c <= len) {
        std::memcpy(nb->head_ptr(), elem(b, from), bytes);
        nb->tail = nb->head + bytes;
        if (last) {
            b->tail -= bytes;
        } else {
            std::memmove(elem(b, from), elem(b, from + c), size_t((len - from - c) << sh));
            b->tail -= bytes;
        }
        if (Handle table = table_of(s.get())) {
            if (hashtable::shift_positions(table, int32_t(-c), int32_t(from + c), int32_t(len - from - c), true))
                hashtable::rebuild(table, int32_t(buf(s.get())->length()));
        }
        if (before && !last) s->data1 = uint32_t(h - c);
    } else {
        nb->tail = nb->head;
    }
    *out = Cell{s->type(), 0, node, s->is(T_VECTOR) ? s->data3 : 0};
    if (s->is(T_HASH) && part) {  // without /part the one taken cell is answered alone
        collector::Root o(*out);
        Handle table = hashtable::make(uint32_t(std::max<int64_t>(c, 1)), o.get(), hashtable::KIND_HASH, 0);
        *out = Cell{T_HASH, 0, o->data2, table};
    }
    if (owner) report(s.get(), "taken", int32_t(h), int32_t(c));
    *s_in = s.cell;
    return out;
}

void unbind() { take_scratch = 0; }

void init() {
    static bool marker_added = false;
    if (!marker_added) {
        collector::add_root_marker(mark_scratch);
        marker_added = true;
    }
    type_registry::register_type(
        T_SERIES, 0, "series!",
        {.random = random_, .reflect = reflect, .at = at_, .back = back_, .clear = clear,
         .copy = copy_action, .head = head_, .head_q = head_q, .index_q = index_q,
         .length_q = length_q, .move = move, .next = next_, .pick = pick, .poke = poke,
         .remove = remove, .reverse = reverse, .skip = skip_, .tail = tail_, .tail_q = tail_q,
         .take = take_action, .modify = modify});
}

}  // namespace kov::series
