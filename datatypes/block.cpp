// Block storage and the block! actions: positions, cutting, appending and inserting (with hash! tables kept in step),
// searching, making, cloning, nested copies, molding of block contents and cell-by-cell
// comparison.
#include "datatypes/block.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/sort.hpp"
#include "core/type_registry.hpp"
#include "datatypes/series.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/lexer.hpp"

namespace kov::block {

Cell scratch{T_UNSET, 0, 0, 0};
CopyFn copy_hook = nullptr;

namespace {

constexpr uint32_t CELL_BYTES = 16;
constexpr uint64_t MAX_BYTES = 0x7FFF0000u;

inline SeriesBuffer* buf(const Cell* blk) { return memory::buffer_of(blk->data2); }
inline uint32_t cell_count(const SeriesBuffer* b) { return b->used() / CELL_BYTES; }
inline Cell* cells(SeriesBuffer* b) { return b->head_cell(); }
inline Handle table_of(const Cell* blk) { return blk->is(T_HASH) ? blk->data3 : 0; }
// Cells from the head to the tail, 0 when the head lies past the tail.
inline uint32_t span(const Cell* blk) {
    uint32_t n = cell_count(buf(blk));
    return blk->data1 < n ? n - blk->data1 : 0;
}

inline bool cell_kind(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH) || t == T_HASH;
}
inline bool text_kind(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
inline bool number_kind(uint32_t t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

// The cells that copy_nested replaces by copies.
inline bool copied_kind(uint32_t t) {
    return cell_kind(t) || text_kind(t) || t == T_VECTOR || t == T_BINARY || t == T_IMAGE ||
           t == T_BITSET || t == T_OBJECT || t == T_ERROR || t == T_MAP;
}

// The cells that a deep clone descends into.
inline bool cloned_kind(uint32_t t, bool paths) {
    return t == T_BLOCK || (paths && (t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH)));
}

[[noreturn]] void raise_cycle() {
    cycles::reset();
    stack::raise_error("internal", "no-cycle");
}

// Gives the cycle-detection stack back its depth on every way out.
struct DepthGuard {
    uint32_t saved = cycles::depth();
    DepthGuard() = default;
    ~DepthGuard() { cycles::restore_depth(saved); }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// Equality of a cell with a sought value under compare-op 12, through the compare routine of the
// value's datatype; datatypes without one are matched as the hash tables match such keys.
inline bool find_equal(CompareFn fn, const Cell* value, const Cell* c) {
    if (fn) return fn(value, c, COMP_FIND) == 0;
    return hashtable::default_compare(c, value, COMP_FIND) == 1;
}

}  // namespace

// ---- positions ----

int32_t ks_length_q(const Cell* blk) { return int32_t(cell_count(buf(blk))) - int32_t(blk->data1); }

bool advance(Cell* blk) {
    uint32_t n = cell_count(buf(blk));
    if (blk->data1 + 1 <= n) blk->data1++;
    return blk->data1 >= n;
}

Cell* ks_head(Cell* blk) {
    SeriesBuffer* b = buf(blk);
    uint32_t n = cell_count(b);
    if (blk->data1 > n) blk->data1 = n;
    return cells(b) + blk->data1;
}

Cell* ks_tail(const Cell* blk) { return buf(blk)->tail_cell(); }

bool ks_tail_q(Cell* blk) { return ks_head(blk) == ks_tail(blk); }

Cell* ks_abs_at(const Cell* blk, uint32_t index) { return cells(buf(blk)) + index; }

// ---- cutting ----

void cut_at_head(const Cell* blk) { cut_at(blk, blk->data1); }

void cut_at(const Cell* blk, uint32_t index) {
    SeriesBuffer* b = buf(blk);
    if (index <= cell_count(b)) b->tail = b->head + index * CELL_BYTES;
}

void remove_last(Cell* blk) {
    SeriesBuffer* b = buf(blk);
    uint32_t n = cell_count(b);
    if (n == 0) return;
    b->tail -= CELL_BYTES;
    if (blk->data1 > n - 1) blk->data1 = n - 1;
}

// ---- appending and inserting ----

Cell* append_value(const Cell* blk, const Cell* value) {
    collector::Root v(*value), b(*blk);
    Cell* c = buffer::alloc_block_tail(b.get());
    *c = v.cell;
    if (Handle t = table_of(b.get())) c = hashtable::put(t, c);
    return c;
}

void append_cells(const Cell* blk, const Cell* source) {
    collector::Root b(*blk), s(*source);
    uint32_t n = span(s.get());
    if (n == 0) return;
    uint64_t bytes = uint64_t(n) * CELL_BYTES;
    if (bytes > MAX_BYTES) stack::raise_error("internal", "no-memory");
    uint8_t* at = buffer::reserve_tail(b->data2, uint32_t(bytes));
    // The source is read after the growth: it may be the block itself, or have moved.
    std::memmove(at, cells(buf(s.get())) + s->data1, size_t(bytes));
    Handle t = table_of(b.get());
    if (!t) return;
    uint32_t first = cell_count(buf(b.get())) - n;
    for (uint32_t k = 0; k < n; k++) {
        int status = hashtable::STATUS_NEW;
        hashtable::insert_key(t, cells(buf(b.get())) + first + k, &status);
        if (status == hashtable::STATUS_REBUILT) break;  // the table now holds every cell
    }
}

Cell* insert_value(Cell* blk, const Cell* value, bool move_head, bool at_start) {
    collector::Root v(*value), b(*blk);
    SeriesBuffer* sb = buf(b.get());
    uint64_t needed = uint64_t(sb->used()) + CELL_BYTES;
    if (uint64_t(uint32_t(sb->size)) < needed || uint64_t(sb->tail) + CELL_BYTES > uint32_t(sb->size)) {
        if (needed * 2 > MAX_BYTES) stack::raise_error("internal", "no-memory");
        sb = buffer::expand_copy(sb, int64_t(needed * 2));
    }
    uint32_t count = cell_count(sb);
    uint32_t point = at_start ? 0 : std::min(b->data1, count);
    Handle t = table_of(b.get());
    bool rebuild = false;
    if (t && point < count) rebuild = hashtable::shift_positions(t, 1, int32_t(point), int32_t(count - point), true);
    sb = buf(b.get());
    Cell* p = cells(sb) + point;
    if (point < count) std::memmove(p + 1, p, size_t(count - point) * CELL_BYTES);
    sb->tail += CELL_BYTES;
    *p = v.cell;
    if (t) {
        if (rebuild) hashtable::rebuild(t, int32_t(count + 1));
        else hashtable::put(t, p);
    }
    if (move_head) blk->data1 = (at_start ? blk->data1 : point) + 1;
    return blk;
}

void insert_cells(Cell* blk, const Cell* source) {
    collector::Root s(*source);
    if (s->data2 == blk->data2) {
        // Inserting a block into itself: insert the cells it held before the first insertion.
        Cell* copy = clone(s.get(), false, false);
        s.cell = *copy;
        stack::pop(1);
    }
    uint32_t n = span(s.get());
    for (uint32_t i = 0; i < n; i++) {
        Cell c = cells(buf(s.get()))[s->data1 + i];
        insert_value(blk, &c, true, false);
    }
}

void insert_stack_top() { insert_value(stack::arguments - 1, stack::arguments, true, false); }

void append_stack_top() { append_value(stack::arguments - 1, stack::arguments); }

void append_arg_to_result() { append_value(stack::arguments, stack::arguments + 1); }

// ---- searching and removing ----

const Cell* select_value(const Cell* blk, const Cell* value) {
    const Cell b = *blk;
    CompareFn fn = actions::handlers_of(value).compare.fn;
    for (uint32_t i = b.data1;; i++) {
        SeriesBuffer* sb = buf(&b);
        uint32_t n = cell_count(sb);
        if (i >= n) break;
        Cell c = cells(sb)[i];
        if (!find_equal(fn, value, &c)) continue;
        sb = buf(&b);
        n = cell_count(sb);
        return i + 1 < n ? cells(sb) + i + 1 : &none_value;
    }
    return &none_value;
}

const Cell* select_word(const Cell* word, const Cell* blk, bool strict) {
    uint32_t key = strict ? word->data2 : symbol::resolve(word->data2);
    SeriesBuffer* sb = buf(blk);
    uint32_t n = cell_count(sb);
    Cell* c = cells(sb);
    for (uint32_t i = blk->data1; i < n; i++) {
        uint32_t t = c[i].type();
        if (t < T_WORD || t > T_GET_WORD) continue;
        uint32_t sym = strict ? c[i].data2 : symbol::resolve(c[i].data2);
        if (sym == key) return i + 1 < n ? c + i + 1 : &none_value;
    }
    return &none_value;
}

const Cell* remove_value(Cell* blk, const Cell* value, bool from_start) {
    const Cell b = *blk;
    CompareFn fn = actions::handlers_of(value).compare.fn;
    for (uint32_t i = from_start ? 0 : b.data1;; i++) {
        SeriesBuffer* sb = buf(&b);
        uint32_t n = cell_count(sb);
        if (i >= n) break;
        Cell c = cells(sb)[i];
        if (!find_equal(fn, value, &c)) continue;
        sb = buf(&b);
        n = cell_count(sb);
        Cell* at = cells(sb) + i;
        std::memmove(at, at + 1, size_t(n - i - 1) * CELL_BYTES);
        sb->tail -= CELL_BYTES;
        return i <= b.data1 ? &true_value : &false_value;
    }
    return nullptr;
}

// ---- making ----

Cell* make_at(Cell* c, int32_t n) {
    if (n < 0) n = 1;
    cell::set_type(c, T_UNSET);
    Handle node = memory::make_cells(uint32_t(n));
    c->data1 = 0;
    c->data2 = node;
    cell::set_type(c, T_BLOCK);
    return c;
}

Cell* make_at_capacity(Cell* c, int32_t n, bool fixed) {
    if (n < 0) n = 1;
    c->header = T_UNSET;
    c->data1 = 0;
    Handle node = fixed ? memory::alloc_fixed_series(uint32_t(n), CELL_BYTES, 0)
                        : memory::make_cells_unset(uint32_t(n));
    c->data2 = node;
    c->header = T_BLOCK;
    return c;
}

namespace {

// A new block at the parent's tail: the tail cell is unset! while the buffer is made, then found
// again through the parent's node.
Cell* make_tail_block(const Cell* parent, int32_t n, bool fixed) {
    if (n < 0) n = 1;
    Handle pnode = parent->data2;
    Cell* c = buffer::alloc_tail_cell(pnode);
    uint32_t index = uint32_t(c - cells(memory::buffer_of(pnode)));
    Handle node = fixed ? memory::alloc_fixed_series(uint32_t(n), CELL_BYTES, 0)
                        : memory::make_cells(uint32_t(n));
    c = cells(memory::buffer_of(pnode)) + index;
    *c = Cell{T_BLOCK, 0, node, 0};
    return c;
}

}  // namespace

Cell* make_in(const Cell* parent, int32_t n) {
    if (!parent) {
        scratch = Cell{T_UNSET, 0, 0, 0};
        return make_at(&scratch, n);
    }
    return make_tail_block(parent, n, false);
}

Cell* make_big_in(const Cell* parent, int32_t n) {
    if (!parent) {
        scratch = Cell{T_UNSET, 0, 0, 0};
        return make_at_capacity(&scratch, n, true);
    }
    return make_tail_block(parent, n, true);
}

Cell* push(const Cell* value) { return stack::push(value); }

Cell* push_new(int32_t n) {
    if (n == 0) n = 1;
    Cell* c = stack::push(&unset_value);
    return make_at(c, n);
}

// ---- copying ----

Cell* clone(const Cell* blk, bool deep, bool paths) {
    collector::Root src(*blk);
    uint32_t count = span(src.get());
    Cell* out = stack::push(&unset_value);  // the argument stack never moves
    *out = Cell{T_UNSET, 0, 0, 0};
    Handle node = memory::make_cells(count ? count : 1);
    *out = Cell{T_BLOCK, 0, node, 0};
    SeriesBuffer* nb = memory::buffer_of(node);
    std::memcpy(nb->head_ptr(), cells(buf(src.get())) + src->data1, size_t(count) * CELL_BYTES);
    nb->tail = nb->head + count * CELL_BYTES;
    if (deep && count) {
        DepthGuard guard;
        cycles::push(src->data2);
        for (uint32_t i = 0; i < count; i++) {
            Cell c = cells(memory::buffer_of(out->data2))[i];
            if (!cloned_kind(c.type(), paths)) continue;
            if (cycles::find_q(c.data2)) raise_cycle();
            Cell* copy = clone(&c, true, paths);
            Cell* at = cells(memory::buffer_of(out->data2)) + i;
            *at = Cell{c.header, copy->data1, copy->data2, copy->data3};
            stack::pop(1);
        }
    }
    cell::set_type(out, src->type());
    return out;
}

void copy_nested(const Cell* blk, uint32_t first, uint32_t end, uint32_t step, bool deep,
                 const Cell* types) {
    collector::Root b(*blk), filter(types ? *types : none_value), value, result;
    if (step == 0) step = 1;
    for (uint64_t i = first; i < end; i += step) {
        SeriesBuffer* sb = buf(b.get());
        if (i >= cell_count(sb)) break;
        value.cell = cells(sb)[i];
        uint32_t t = value->type();
        if (filter->is(T_TYPESET)) {
            if (!cell::typeset_has(filter.get(), t)) continue;
        } else if (filter->is(T_DATATYPE)) {
            if (t != filter->data1) continue;
        }
        if (!copied_kind(t)) continue;
        if (cycles::find_q(cycles::container_of(value.get()))) raise_cycle();
        if (!copy_hook) stack::raise_error("internal", "not-done");
        result.cell = none_value;
        copy_hook(value.get(), result.get(), deep, deep && !filter->is(T_NONE) ? filter.get() : nullptr);
        Cell* at = cells(buf(b.get())) + i;
        *at = result.cell;
        at->header = (at->header & ~CELL_NEW_LINE) | (value->header & CELL_NEW_LINE);
    }
}

// ---- molding and comparing ----

int32_t mold_cells(const Cell* blk, Cell* out, bool only, bool all, bool flat, bool part,
                   int32_t limit, int32_t indent) {
    collector::Root b(*blk), item;
    bool closing = false;
    {
        DepthGuard guard;
        cycles::push(b->data2);
        const uint32_t first = b->data1;
        for (uint32_t i = first;; i++) {
            SeriesBuffer* sb = buf(b.get());
            if (i >= cell_count(sb)) break;
            if (part && limit <= 0) return limit;
            item.cell = cells(sb)[i];
            bool is_first = i == first;
            if (!flat && (item->header & CELL_NEW_LINE)) {
                if (!only && is_first) {
                    indent++;
                    closing = true;
                }
                if (!(only && is_first)) {
                    string::concatenate_cstring(out, "\n", 1);
                    limit--;
                }
                cell::mold_indent(out, indent);
                limit -= 4 * indent;
            } else if (!is_first) {
                string::concatenate_cstring(out, " ", 1);
                limit--;
            }
            limit = actions::mold_dispatch(item.get(), out, false, all, flat, part, limit, indent);
        }
    }
    if (closing) {
        indent--;
        string::concatenate_cstring(out, "\n", 1);
        cell::mold_indent(out, indent);
        limit -= 1 + 4 * indent;
    }
    return limit;
}

int32_t compare_each(const Cell* a, const Cell* b, int32_t op) {
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same) return 0;
    if (cycles::find_q(a->data2)) return cycles::find_q(b->data2) ? 0 : -1;
    collector::Root ra(*a), rb(*b), x, y;
    uint32_t c1 = span(ra.get()), c2 = span(rb.get());
    if (c1 != c2) {
        switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND_EXACT:
        case COMP_FIND_NOCASE: case COMP_FIND:
            return 1;
        default: break;
        }
    }
    DepthGuard guard;
    cycles::push(ra->data2);
    cycles::push(rb->data2);
    for (uint32_t i = 0, n = std::min(c1, c2); i < n; i++) {
        x.cell = cells(buf(ra.get()))[ra->data1 + i];
        y.cell = cells(buf(rb.get()))[rb->data1 + i];
        uint32_t tx = x->type(), ty = y->type();
        bool comparable = tx == ty || (word::any_word_q(tx) && word::any_word_q(ty)) ||
                          (number_kind(tx) && number_kind(ty));
        if (!comparable) return tx < ty ? -1 : 1;
        int32_t r = actions::compare_values(x.get(), y.get(), op);
        if (r != 0) return r;
    }
    return c1 < c2 ? -1 : c1 > c2 ? 1 : 0;
}

// ---- block! actions ----

CallComparator call_comparator = nullptr;

namespace {

using collector::Root;

Cell answer{T_NONE, 0, 0, 0};  // a cell result that the front-end copies at once

inline bool block_kind(uint32_t t) { return cell_kind(t); }

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

[[noreturn]] void refine_arg(const char* name, const Cell* value) {
    series::raise_refine_arg(symbol::make(name), value);
}

Cell* retyped(Cell* c, uint32_t type) {
    c->header = type;
    return c;
}

// The copy routine of a datatype, for copy_nested.
void dispatch_copy(const Cell* value, Cell* result, bool deep, const Cell* types) {
    const auto& fn = type_registry::table(value->type()).copy;
    if (!fn) not_done();
    Cell* r = fn(value, result, nullptr, deep, types);
    if (r && r != result) *result = *r;
}

// The body block of an object! or a map! (their reflect with the word body), pushed.
Cell* body_of(const Cell* value) {
    Cell field = cells::make_word(T_WORD, 0, symbol::make("body"));
    Root v(*value), body;
    body.cell = *type_registry::table(v->type()).reflect(v.get(), &field);
    return stack::push(body.get());
}

}  // namespace

using collector::Root;

Cell* make(const Cell*, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (block_kind(t)) return retyped(clone(spec, false, false), type);
    if (t == T_INTEGER || t == T_FLOAT) {
        int32_t n = cell::integer_arg(spec);
        return retyped(push_new(n < 1 ? 1 : n), type);
    }
    if (t == T_OBJECT || t == T_MAP) return retyped(body_of(spec), type);
    if (t == T_VECTOR) not_done();  // vector! elements belong to their module
    Cell dt = cells::make_datatype(type);
    stack::raise_bad_make_arg(&dt, spec);
}

Cell* to(const Cell*, const Cell* spec, uint32_t type) {
    uint32_t t = spec->type();
    if (block_kind(t)) return retyped(clone(spec, false, false), type);
    if (t == T_OBJECT || t == T_MAP) return retyped(body_of(spec), type);
    if (t == T_VECTOR) not_done();  // vector! elements belong to their module
    if (t == T_STRING || t == T_TYPESET) {
        Root text(*spec), out;
        if (t == T_STRING) lexer::scan_string(out.get(), text.get(), -1, lexer::ScanOptions{}, nullptr);
        else typeset::to_block(text.get(), out.get());
        return retyped(stack::push(out.get()), type);
    }
    Root v(*spec);
    Cell* out = push_new(1);
    append_value(out, v.get());
    return retyped(out, type);
}

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    if (cycles::detect_q(value, out, limit, false)) return limit;
    Root b(*value), item;
    cycles::Guard guard(b->data2);
    for (uint32_t i = b->data1;; i++) {
        SeriesBuffer* sb = buf(b.get());
        if (i >= cell_count(sb)) break;
        if (i > b->data1) {
            SeriesBuffer* ob = memory::buffer_of(out->data2);
            uint32_t last = 0;
            if (ob->length()) {
                uint8_t* p = ob->tail_ptr() - ob->unit();
                last = ob->unit() == 1 ? *p : ob->unit() == 2 ? uint32_t(p[0] | p[1] << 8)
                                                                : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
            }
            if (last != '\t' && last != '\n' && last != '\r') {
                string::concatenate_cstring(out, " ", 1);
                limit--;
            }
        }
        item.cell = cells(buf(b.get()))[i];
        limit = actions::form_dispatch(item.get(), out, part, limit);
        if (part && limit < 1) break;
    }
    return limit;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    if (cycles::detect_q(value, out, limit, true)) return limit;
    if (!only) string::concatenate_cstring(out, "[", 1), limit--;
    limit = mold_cells(value, out, only, all, flat, part, limit, indent);
    if (!only) string::concatenate_cstring(out, "]", 1), limit--;
    return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (a->type() != b->type()) {
        bool paths = (a->is(T_PATH) && b->is(T_LIT_PATH)) || (a->is(T_LIT_PATH) && b->is(T_PATH));
        if (!(paths && (op == COMP_FIND_EXACT || op == COMP_FIND_NOCASE))) return NOT_COMPARABLE;
    }
    return compare_each(a, b, op);
}

namespace {

// Whether the cell matches the sought value.
bool cell_matches(const Cell* cell_, const Cell* value, bool only, int32_t op) {
    if (!only && value->is(T_DATATYPE)) return cell_->type() == value->data1;
    if (!only && value->is(T_TYPESET)) return cell::typeset_has(value, cell_->type());
    return actions::compare_values(value, cell_, op) == 0;
}

// The position of a match from `p` (a sequence of `m` cells when seq is set), or false.
bool matches_at(const Cell* blk, int64_t p, const Cell* value, bool seq, uint32_t m, bool only,
                int32_t op) {
    Root v(*value), c;
    if (!seq) {
        c.cell = cells(buf(blk))[p];
        return cell_matches(c.get(), v.get(), only, op);
    }
    for (uint32_t k = 0; k < m; k++) {
        c.cell = cells(buf(blk))[p + k];
        Root x(cells(buf(v.get()))[v->data1 + k]);
        if (!cell_matches(c.get(), x.get(), true, op)) return false;
    }
    return true;
}

// The search shared by find and select: the position of the match and the sequence length, or
// -1.
int64_t search(Cell* series_in, const Cell* value_in, const FindArgs& a, uint32_t* seq_len,
               int64_t* limit_out) {
    Root s(*series_in), v(*value_in);
    SeriesBuffer* sb = buf(s.get());
    int64_t len = cell_count(sb);
    int64_t h = s->data1;
    if (len == 0 || (!a.reverse && h >= len)) return -1;
    if (h > len) h = len;
    int64_t skip = 1;
    if (a.skip) {
        if (!a.skip->is(T_INTEGER)) refine_arg("skip", a.skip);
        skip = cells::integer(*a.skip);
        if (skip < 1) stack::raise_error("script", "out-of-range", {a.skip});
    }
    int64_t limit = len;
    if (a.part) {
        if (a.part->is(T_INTEGER)) {
            int64_t n = cells::integer(*a.part);
            if (n < 1) return -1;
            limit = h + n;
        } else if (a.part->type() == s->type() && a.part->data2 == s->data2) {
            limit = int64_t(a.part->data1) + 1;
        } else {
            refine_arg("part", a.part);
        }
        if (limit > len) limit = len;
    }
    *limit_out = limit;
    int32_t op = a.same ? COMP_SAME : a.case_sensitive ? COMP_STRICT_EQUAL : COMP_FIND;
    bool seq = !a.only && block_kind(v->type());
    uint32_t m = seq ? span(v.get()) : 1;
    *seq_len = m;
    if (seq && m == 0) return -1;
    Handle table = table_of(s.get());
    // The table matches keys hashed by identity (blocks, objects, functions ...) by identity
    // only: those are sought by a scan, as in a block, unless sameness is asked for.
    bool use_table = table && !seq && !a.match && !v->is(T_DATATYPE) && !v->is(T_TYPESET) &&
                     (!hashtable::identity_key(v->type()) || a.same);
    if (use_table) {
        // /last walks back from the limit as /reverse walks back from the head, both down to
        // the first cell whatever the head: the table is asked for the reverse search from there.
        bool back = a.last || a.reverse;
        int64_t from = a.reverse ? h : a.last ? limit : h;
        Cell* k = hashtable::get(table, v.get(), int32_t(from), int32_t(skip), op, back, back);
        if (!k) return -1;
        int64_t p = k - cells(buf(s.get()));
        return p >= limit ? -1 : p;
    }
    if (a.last || a.reverse) {
        int64_t start = a.reverse ? h - m : limit - m;
        if (start < 0) return -1;
        for (int64_t p = start; p >= 0; p -= skip) {
            if (matches_at(s.get(), p, v.get(), seq, m, a.only, op)) return p;
            if (a.match) break;
        }
        return -1;
    }
    if (!seq && v->is(T_INTEGER) && (op == COMP_FIND || op == COMP_STRICT_EQUAL)) {
        // An integer matches, under these ops, the integers of its value and nothing else: the
        // cells are read in place.
        const Cell* c = cells(buf(s.get()));
        limit = std::min<int64_t>(limit, cell_count(buf(s.get())));
        for (int64_t p = h; p < limit; p += skip) {
            if (c[p].is(T_INTEGER) && c[p].data2 == v->data2) return p;
            if (a.match) break;
        }
        return -1;
    }
    for (int64_t p = h; p + m <= limit; p += skip) {
        if (matches_at(s.get(), p, v.get(), seq, m, a.only, op)) return p;
        if (a.match) break;
        if (p + m > int64_t(cell_count(buf(s.get())))) break;
    }
    return -1;
}

// An integer sought in a hash! with no refinement but /only, /case or /tail (find's usual
// form): its position straight from the table, -1 when absent, or -2 when the full search must
// answer.
inline int64_t hash_integer_search(const Cell* series, const Cell* value, const FindArgs& a) {
    if (!series->is(T_HASH) || !value->is(T_INTEGER) || a.part || a.skip || a.same || a.last ||
        a.reverse || a.match)
        return -2;
    int32_t p = hashtable::integer_position(series->data3, value->data2, int32_t(series->data1));
    return p == hashtable::INTEGER_ASK_GET ? -2 : p;
}

}  // namespace

Cell* find(Cell* series_in, const Cell* value, const FindArgs& a) {
    if (int64_t p = hash_integer_search(series_in, value, a); p != -2) {
        if (p < 0) return &none_value;
        if (a.tail) p = std::min<int64_t>(p + 1, cell_count(buf(series_in)));
        answer = *series_in;
        answer.data1 = uint32_t(p);
        return &answer;
    }
    Root s(*series_in);
    uint32_t m = 1;
    int64_t limit = 0;
    int64_t p = search(s.get(), value, a, &m, &limit);
    if (p < 0) return &none_value;
    if (a.tail) {
        int64_t skip = a.skip ? cells::integer(*a.skip) : 1;
        if (m > 1) p += m;
        else p += (a.last || a.reverse) ? 1 : skip;
        p = std::min<int64_t>(p, cell_count(buf(s.get())));
    }
    answer = s.cell;
    answer.data1 = uint32_t(p);
    return &answer;
}

Cell* select(Cell* series_in, const Cell* value, const FindArgs& args) {
    FindArgs a = args;
    a.tail = a.match = false;
    if (int64_t p = hash_integer_search(series_in, value, a); p != -2) {
        if (p < 0 || p + 1 >= int64_t(cell_count(buf(series_in)))) return &none_value;
        answer = cells(buf(series_in))[p + 1];
        return &answer;
    }
    Root s(*series_in);
    uint32_t m = 1;
    int64_t limit = 0;
    int64_t p = search(s.get(), value, a, &m, &limit);
    if (p < 0) return &none_value;
    int64_t after = p + m;
    if (after >= int64_t(cell_count(buf(s.get())))) return &none_value;
    answer = cells(buf(s.get()))[after];
    return &answer;
}

namespace {

Cell* put(Cell* series_in, const Cell* key_in, const Cell* value_in, bool case_sensitive) {
    Root s(*series_in), k(*key_in), v(*value_in);
    FindArgs a;
    a.case_sensitive = case_sensitive;
    a.only = true;
    uint32_t m = 1;
    int64_t limit = 0;
    int64_t p = search(s.get(), k.get(), a, &m, &limit);
    if (p < 0) {
        int owner = series::report(s.get(), "put", int32_t(cell_count(buf(s.get()))), 2, v.get());
        append_value(s.get(), k.get());
        append_value(s.get(), v.get());
        if (owner) series::report(s.get(), "put-ed", int32_t(cell_count(buf(s.get())) - 2), 2, v.get());
        *series_in = s.cell;
        return const_cast<Cell*>(value_in);
    }
    int owner = series::report(s.get(), "put", int32_t(p + 1), 1, v.get());
    bool fresh = false;
    if (p + 1 >= int64_t(cell_count(buf(s.get())))) {
        Cell* c = buffer::alloc_block_tail(s.get());
        c->header = T_NONE;
        fresh = true;
    }
    Root old(cells(buf(s.get()))[p + 1]);
    if (fresh || actions::compare_values(old.get(), v.get(), COMP_FIND) != 0) {
        Cell* at = cells(buf(s.get())) + p + 1;
        *at = v.cell;
        if (Handle t = table_of(s.get())) hashtable::put(t, at);
    }
    if (owner) series::report(s.get(), "put-ed", int32_t(p + 1), 1, v.get());
    *series_in = s.cell;
    return const_cast<Cell*>(value_in);
}

// ---- sort ----

struct SortState {
    Root blk;
    Root comparator;
    Root rec_a, rec_b, x, y, result;
    uint32_t start = 0;
    uint32_t rec = 1;
    int32_t op = COMP_SORT;
    uint32_t flags = 0;  // bit 0 reverse, bit 1 all, bits 2.. record size (all) or offset
    bool call = false;
};

int32_t sort_compare(SortState& st, uint32_t ia, uint32_t ib) {
    if (st.flags & 1) std::swap(ia, ib);
    uint32_t k = st.flags >> 2;
    uint32_t first = (st.flags & 2) ? 0 : k;
    uint32_t count = (st.flags & 2) ? k : 1;
    for (uint32_t j = first; j < first + count; j++) {
        st.x.cell = cells(buf(st.blk.get()))[st.start + ia * st.rec + j];
        st.y.cell = cells(buf(st.blk.get()))[st.start + ib * st.rec + j];
        if (st.x->is(T_INTEGER) && st.y->is(T_INTEGER)) {  // integer!'s own order, inline
            int32_t a = int32_t(st.x->data2), b = int32_t(st.y->data2);
            if (a != b) return a < b ? -1 : 1;
            continue;
        }
        const auto& fn = type_registry::table(st.x->type()).compare;
        int32_t r = fn ? fn(st.x.get(), st.y.get(), st.op) : NOT_COMPARABLE;
        if (r == NOT_COMPARABLE) r = int32_t(st.x->type()) - int32_t(st.y->type());
        if (r != 0) return r;
    }
    return 0;
}

// Fills a record block with the record's cells.
void fill_record(SortState& st, Root& rec, uint32_t i) {
    SeriesBuffer* rb = buf(rec.get());
    rb->tail = rb->head;
    for (uint32_t j = 0; j < st.rec; j++) {
        Root c(cells(buf(st.blk.get()))[st.start + i * st.rec + j]);
        append_value(rec.get(), c.get());
    }
}

int32_t sort_call_compare(SortState& st, uint32_t ia, uint32_t ib) {
    if (!call_comparator) not_done();
    bool reverse = st.flags & 1;
    uint32_t first = reverse ? ia : ib, second = reverse ? ib : ia;
    if ((st.flags & 2) && st.rec > 1) {
        fill_record(st, st.rec_a, first);
        fill_record(st, st.rec_b, second);
        st.x.cell = st.rec_a.cell;
        st.y.cell = st.rec_b.cell;
    } else {
        st.x.cell = cells(buf(st.blk.get()))[st.start + first * st.rec];
        st.y.cell = cells(buf(st.blk.get()))[st.start + second * st.rec];
    }
    st.result.cell = unset_value;
    call_comparator(st.comparator.get(), st.x.get(), st.y.get(), st.result.get());
    return comparator_verdict(st.result.get());
}

int sort_index_compare(const void* a, const void* b, intptr_t arg1, intptr_t) {
    SortState& st = *reinterpret_cast<SortState*>(arg1);
    uint32_t ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    return st.call ? sort_call_compare(st, ia, ib) : sort_compare(st, ia, ib);
}

Cell* sort(Cell* series_in, bool case_sensitive, const Cell* skip, const Cell* comparator,
           const Cell* part, bool all, bool reverse, bool stable) {
    SortState st;
    st.blk.cell = *series_in;
    int64_t n = series::get_length(st.blk.get(), false);
    if (n <= 0) return series_in;
    int64_t head = st.blk->data1;
    if (part) {
        int64_t c = series::part_arg(st.blk.get(), part);
        if (c < 0) {
            int64_t from = head + c;
            if (from <= 0) return series_in;  // nothing before the head to sort
            n = -c;
            head = from;
        } else if (c < n) {
            n = c;
        }
    }
    uint32_t rec = 1;
    if (skip) {
        if (!skip->is(T_INTEGER)) refine_arg("skip", skip);
        int64_t k = cells::integer(*skip);
        if (k < 1 || n % k != 0 || k > n) refine_arg("skip", skip);
        rec = uint32_t(k);
    } else if (all) {
        stack::raise_error("script", "bad-refines");
    }
    uint32_t count = uint32_t(n / rec);
    st.rec = rec;
    st.start = uint32_t(head);
    st.op = case_sensitive ? COMP_CASE_SORT : COMP_SORT;
    st.flags = (reverse ? 1u : 0u) | (all ? 2u : 0u) | (all ? rec << 2 : 0u);
    if (comparator) {
        if (comparator->is(T_FUNCTION)) {
            st.call = true;
            st.comparator.cell = *comparator;
            if (all && rec > 1) {
                make_at(st.rec_a.get(), int32_t(rec));
                make_at(st.rec_b.get(), int32_t(rec));
            }
        } else if (comparator->is(T_INTEGER)) {
            if (!skip || all) stack::raise_error("script", "bad-refines");
            int32_t off = cells::integer(*comparator);
            if (off < 1 || uint32_t(off) > rec) stack::raise_error("script", "out-of-range", {comparator});
            st.flags = (st.flags & 3) | (uint32_t(off - 1) << 2);
        } else {
            Cell w = cells::make_word(T_WORD, 0, symbol::make("compare"));
            stack::raise_error("script", "invalid-refine-arg", {&w, comparator});
        }
    }
    int owner = series::report(st.blk.get(), "sort", int32_t(head), int32_t(n));
    // Records are sorted through an index array outside the value arena, so a comparator that
    // allocates (and moves the buffer) or raises leaves the block as it was.
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; i++) order[i] = i;
    if (stable) buffer::merge_sort(order.data(), count, 4, intptr_t(&st), 0, sort_index_compare);
    else buffer::quick_sort(order.data(), count, 4, intptr_t(&st), 0, sort_index_compare);
    SeriesBuffer* sb = buf(st.blk.get());
    if (uint64_t(cell_count(sb)) >= uint64_t(st.start) + uint64_t(count) * rec) {
        std::vector<Cell> sorted(size_t(count) * rec);
        Cell* base = cells(sb) + st.start;
        for (uint32_t i = 0; i < count; i++)
            std::memcpy(&sorted[size_t(i) * rec], base + size_t(order[i]) * rec, rec * CELL_BYTES);
        std::memcpy(base, sorted.data(), sorted.size() * CELL_BYTES);
        if (Handle t = table_of(st.blk.get())) hashtable::rebuild(t, int32_t(cell_count(sb)));
    }
    if (owner) series::report(st.blk.get(), "sorted", int32_t(head), int32_t(n));
    return series_in;
}

// ---- append, insert, change ----

// Keeps a hash! table in step after the `removed` cells at `point` of a block that held `len`
// cells were replaced by `added` new ones: the old positions leave the table, the cells after
// them shift, the new cells are entered (a rebuild when too many positions would shift).
void restep_table(const Cell* blk, Handle t, uint32_t point, uint32_t removed, uint32_t added,
                  uint32_t len) {
    for (uint32_t p = point; p < point + removed; p++) hashtable::delete_position(t, int32_t(p));
    int64_t delta = int64_t(added) - int64_t(removed);
    uint32_t after = point + removed;
    if (delta != 0 && after < len &&
        hashtable::shift_positions(t, int32_t(delta), int32_t(after), int32_t(len - after), true)) {
        hashtable::rebuild(t, int32_t(cell_count(buf(blk))));
        return;
    }
    for (uint32_t k = 0; k < added; k++) {
        int status = hashtable::STATUS_NEW;
        hashtable::insert_key(t, cells(buf(blk)) + point + k, &status);
        if (status == hashtable::STATUS_REBUILT) break;  // the table now holds every cell
    }
}

// The source cells of an insertion: the value's cells from its head (a block kind without
// /only), or the value itself. Read after every allocation, so that a source inside the target
// is taken as it stands then.
uint32_t source_count(const Cell* v, bool only) { return (!only && block_kind(v->type())) ? span(v) : 1; }
std::vector<Cell> source_cells(const Cell* v, bool only, uint32_t count) {
    if (!only && block_kind(v->type())) {
        Cell* c = cells(buf(v)) + v->data1;
        return std::vector<Cell>(c, c + count);
    }
    return std::vector<Cell>(1, *v);
}

Cell* insert_impl(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup, bool at_tail) {
    Root s(*series_in), v(*value);
    ks_head(s.get());
    uint32_t count = source_count(v.get(), only);
    if (part < 0 || uint32_t(part) > count) part = int32_t(count);
    if (dup < 0) dup = 0;
    uint32_t len = cell_count(buf(s.get()));
    uint32_t point = at_tail ? len : s->data1;
    uint64_t added = uint64_t(uint32_t(part)) * uint32_t(dup);
    if (count && added) {
        uint64_t bytes = added * CELL_BYTES;
        if (bytes > MAX_BYTES || uint64_t(buf(s.get())->used()) + bytes > MAX_BYTES)
            stack::raise_error("internal", "no-memory");
        int owner = at_tail ? series::report(s.get(), "append", int32_t(len), int32_t(added), v.get())
                            : series::report(s.get(), "insert", int32_t(point), int32_t(added), v.get());
        SeriesBuffer* sb = buf(s.get());
        uint64_t needed = uint64_t(sb->used()) + bytes;
        if (uint64_t(sb->head) + needed > uint64_t(uint32_t(sb->size))) {
            uint64_t size = dup < 5 ? needed * 2 : needed;
            if (size > MAX_BYTES) size = needed;
            buffer::expand_copy(sb, int64_t(size));
        }
        // No allocation from here until the cells are in place.
        sb = buf(s.get());
        len = cell_count(sb);
        point = at_tail ? len : std::min(s->data1, len);
        std::vector<Cell> src = source_cells(v.get(), only, count);
        src.resize(uint32_t(part));
        Cell* p = cells(sb) + point;
        std::memmove(p + added, p, size_t(len - point) * CELL_BYTES);
        std::memcpy(p, src.data(), size_t(part) * CELL_BYTES);
        buffer::replicate(reinterpret_cast<uint8_t*>(p), uint32_t(part) * CELL_BYTES, uint32_t(dup));
        sb->tail += uint32_t(bytes);
        if (Handle t = table_of(s.get())) restep_table(s.get(), t, point, 0, uint32_t(added), len);
        if (owner) {
            if (at_tail) series::report(s.get(), "appended", int32_t(len), int32_t(added), v.get());
            else series::report(s.get(), "inserted", int32_t(point), int32_t(added), v.get());
        }
    }
    answer = s.cell;
    return &answer;
}

Cell* append(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup) {
    Cell* r = insert_impl(series_in, value, part, only, dup, true);
    r->data1 = 0;
    return r;
}

Cell* insert(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup) {
    bool at_tail = series::at_tail_q(series_in);
    Root before(*series_in);
    uint32_t point = std::min<uint32_t>(before->data1, cell_count(buf(before.get())));
    uint32_t len0 = cell_count(buf(before.get()));
    Cell* r = insert_impl(series_in, value, part, only, dup, at_tail);
    uint32_t added = cell_count(buf(r)) - len0;
    r->data1 = std::min(point + added, cell_count(buf(r)));
    return r;
}

Cell* change(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup) {
    Root s(*series_in), v(*value);
    ks_head(s.get());
    if (dup < 0) dup = 0;
    uint32_t count = source_count(v.get(), only);
    uint64_t written = uint64_t(count) * uint32_t(dup);
    uint32_t len = cell_count(buf(s.get()));
    uint32_t point = s->data1;
    uint32_t rest = len - point;
    uint64_t replaced = part < 0 ? std::min<uint64_t>(rest, written) : std::min<uint64_t>(rest, uint32_t(part));
    uint64_t new_len = uint64_t(len) - replaced + written;
    if (written * CELL_BYTES > MAX_BYTES || new_len * CELL_BYTES > MAX_BYTES)
        stack::raise_error("internal", "no-memory");
    int owner = series::report(s.get(), "change", int32_t(point), int32_t(written), v.get());
    SeriesBuffer* sb = buf(s.get());
    if (uint64_t(sb->head) + new_len * CELL_BYTES > uint64_t(uint32_t(sb->size)))
        buffer::expand_copy(sb, int64_t(new_len * CELL_BYTES));
    // No allocation from here until the cells are in place; the source is read now, so a source
    // in the same buffer is taken as it was before the move.
    sb = buf(s.get());
    len = cell_count(sb);
    point = std::min(s->data1, len);
    rest = len - point;
    replaced = std::min<uint64_t>(replaced, rest);
    std::vector<Cell> src = source_cells(v.get(), only, count);
    Cell* p = cells(sb) + point;
    std::memmove(p + written, p + replaced, size_t(rest - replaced) * CELL_BYTES);
    if (count) {
        std::memcpy(p, src.data(), size_t(count) * CELL_BYTES);
        buffer::replicate(reinterpret_cast<uint8_t*>(p), count * CELL_BYTES, uint32_t(dup));
    }
    sb->tail = sb->head + uint32_t((uint64_t(len) - replaced + written) * CELL_BYTES);
    if (Handle t = table_of(s.get()))
        restep_table(s.get(), t, point, uint32_t(replaced), uint32_t(written), len);
    if (owner) series::report(s.get(), "changed", int32_t(point), int32_t(written), v.get());
    answer = s.cell;
    answer.data1 = uint32_t(std::min<uint64_t>(point + written, cell_count(buf(s.get()))));
    return &answer;
}

// ---- take, swap, trim, copy ----

Cell* take(Cell* series_in, const Cell* part, bool deep, bool last) {
    Cell* out = series::take(series_in, part, last);
    if (out->is(T_NONE)) return out;
    if (!part) {
        SeriesBuffer* sb = buf(out);
        *out = cell_count(sb) ? cells(sb)[0] : none_value;
        if (deep && series::series_kind(out->type())) {
            Root v(*out);
            dispatch_copy(v.get(), out, true, nullptr);
        }
        return out;
    }
    if (deep) copy_nested(out, 0, cell_count(buf(out)), 1, true, nullptr);
    return out;
}

Cell* swap(Cell* a_in, Cell* b_in) {
    if (!block_kind(b_in->type())) stack::raise_error("script", "invalid-arg", {b_in});
    Root a(*a_in), b(*b_in);
    if (series::at_tail_q(a.get()) || series::at_tail_q(b.get())) return a_in;
    int oa = series::report(a.get(), "swap", int32_t(a->data1), 1);
    int ob = series::report(b.get(), "swap", int32_t(b->data1), 1);
    if (series::at_tail_q(a.get()) || series::at_tail_q(b.get())) return a_in;
    Cell* x = cells(buf(a.get())) + a->data1;
    Cell* y = cells(buf(b.get())) + b->data1;
    std::swap(*x, *y);
    if (Handle t = table_of(a.get())) hashtable::rebuild(t, int32_t(cell_count(buf(a.get()))));
    if (Handle t = table_of(b.get())) hashtable::rebuild(t, int32_t(cell_count(buf(b.get()))));
    if (oa) series::report(a.get(), "swaped", int32_t(a->data1), 1);
    if (ob) series::report(b.get(), "swaped", int32_t(b->data1), 1);
    return a_in;
}

Cell* trim(Cell* series_in, bool, bool, bool, bool, bool, const Cell*) {
    Root s(*series_in);
    ks_head(s.get());
    int owner = series::report(s.get(), "trim", int32_t(s->data1), 0);
    SeriesBuffer* sb = buf(s.get());
    uint32_t len = cell_count(sb), out = std::min(s->data1, len);
    Cell* c = cells(sb);
    for (uint32_t i = out; i < len; i++)
        if (!c[i].is(T_NONE)) c[out++] = c[i];
    sb->tail = sb->head + out * CELL_BYTES;
    if (Handle t = table_of(s.get())) hashtable::rebuild(t, int32_t(out));
    if (owner) series::report(s.get(), "trimmed", int32_t(s->data1), 0);
    *series_in = s.cell;
    return series_in;
}

}  // namespace

Cell* copy(const Cell* value, Cell* result, const Cell* part, bool deep, const Cell* types) {
    Root src(*value);
    series::copy(src.get(), result, part);
    if (!deep && !types) return result;
    if (src->is(T_HASH)) cell::set_type(result, T_BLOCK);
    if (cycles::find_q(src->data2)) raise_cycle();
    cycles::Guard guard(src->data2);
    Root r(*result);
    copy_nested(r.get(), 0, cell_count(buf(r.get())), 1, true, types);
    *result = r.cell;
    return result;
}

int32_t comparator_verdict(const Cell* v) {
    switch (v->type()) {
    case T_LOGIC: return cells::logic(*v) ? 1 : -1;
    case T_INTEGER: {
        int32_t n = cells::integer(*v);
        return n < 0 ? 1 : n > 0 ? -1 : 0;
    }
    case T_FLOAT: case T_PERCENT: {
        double d = v->get_float();
        return d < 0.0 ? 1 : d > 0.0 ? -1 : 0;
    }
    case T_NONE: return -1;
    default: return 1;
    }
}

namespace {

// Membership of a record's first cell in a set: block kinds by a linear find/only, other values
// through the set's hash table (answering whether a record of the set starts with it).
bool member(const Cell* set, Handle table, const Cell* key, uint32_t rec, int32_t op) {
    if (block_kind(key->type())) {
        Root s(*set), k(*key);
        for (uint32_t p = s->data1; p < cell_count(buf(s.get())); p += rec) {
            Root c(cells(buf(s.get()))[p]);
            if (actions::compare_values(k.get(), c.get(), op) == 0) return true;
        }
        return false;
    }
    return hashtable::get(table, key, int32_t(set->data1), int32_t(rec), op, false, false) != nullptr;
}

}  // namespace

Cell* do_set_op(int op, const Cell* a_in, const Cell* b_in, bool case_sensitive, const Cell* skip) {
    Root a(*a_in), b(b_in ? *b_in : none_value);
    ks_head(a.get());
    if (b_in) ks_head(b.get());
    uint32_t rec = 1;
    if (skip) {
        if (!skip->is(T_INTEGER) || cells::integer(*skip) < 1) refine_arg("skip", skip);
        rec = uint32_t(cells::integer(*skip));
    }
    int32_t cmp = case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL;
    bool hashed = a->is(T_HASH) || b->is(T_HASH);
    uint32_t cap = span(a.get()) + (op == SET_UNION && b_in ? span(b.get()) : 0);
    Root result, rtable_holder;
    make_at(result.get(), int32_t(std::max(cap, 1u)));
    Handle rtable = hashtable::make(std::max(cap, 1u), result.get(), hashtable::KIND_HASH, 0);
    result->data3 = rtable;
    result->header = T_HASH;  // keeps the table alive while the result is built
    // A table over each set that is not a hash!, indexed from its head.
    auto table_for = [&](Root& set, Root& holder) -> Handle {
        if (set->is(T_HASH)) return set->data3;
        Cell* c = clone(set.get(), false, false);
        holder.cell = *c;
        stack::pop(1);
        Handle t = hashtable::make(std::max(span(holder.get()), 1u), holder.get(), hashtable::KIND_HASH, 0);
        holder.cell = Cell{T_HASH, 0, holder->data2, t};
        set.cell = Cell{T_BLOCK, 0, holder->data2, 0};
        return t;
    };
    Root ha, hb, key;
    Handle ta = 0, tb = 0;
    if (op != SET_UNIQUE && op != SET_UNION && b_in) {
        ta = table_for(a, ha);
        tb = table_for(b, hb);
    }
    auto pass = [&](Root& from, Handle other_table, Root& other, bool keep_members, bool keep_all) {
        for (uint32_t p = from->data1;; p += rec) {
            if (p + rec > cell_count(buf(from.get()))) break;
            key.cell = cells(buf(from.get()))[p];
            if (!keep_all && member(other.get(), other_table, key.get(), rec, cmp) != keep_members) continue;
            rtable = result->data3;
            if (member(result.get(), rtable, key.get(), rec, cmp)) continue;
            for (uint32_t j = 0; j < rec; j++) {
                Root c(cells(buf(from.get()))[p + j]);
                Cell* at = buffer::alloc_block_tail(result.get());
                *at = c.cell;
                if (j == 0) hashtable::put(result->data3, at);
            }
        }
    };
    switch (op) {
    case SET_UNIQUE: pass(a, 0, a, true, true); break;
    case SET_UNION: pass(a, 0, a, true, true); if (b_in) pass(b, 0, b, true, true); break;
    case SET_INTERSECT: pass(a, tb, b, true, false); break;
    case SET_EXCLUDE: pass(a, tb, b, false, false); break;
    case SET_DIFFERENCE: pass(a, tb, b, false, false); pass(b, ta, a, false, false); break;
    default: not_done();
    }
    Cell* out = stack::push(result.get());
    if (!hashed) *out = Cell{T_BLOCK, 0, out->data2, 0};
    return out;
}

Cell* eval_path(const PathStep& step) {
    const Cell* e = step.element;
    const ActionTable& t = type_registry::table(step.value->type());
    if (e->is(T_INTEGER)) {
        int32_t i = cells::integer(*e);
        if (step.set_value) return t.poke(step.value, i, step.set_value);
        Cell* picked = t.pick(step.value, i, e);
        // Before the last element the cell itself, so that a set-path's last step (a pair's x,
        // a tuple's part) changes the value inside the block; the last one answers a copy.
        if (!step.last) return picked;
        answer = *picked;
        return &answer;
    }
    if (e->is(T_WORD) && !step.value->is(T_HASH) && !step.set_value) {
        const Cell* selected = select_word(e, step.value, step.case_sensitive);
        // (none! when absent is the shared none cell: answered as a copy)
        if (!step.last && !selected->is(T_NONE)) return const_cast<Cell*>(selected);
        answer = *selected;
        return &answer;
    }
    FindArgs args;
    args.case_sensitive = step.case_sensitive;
    if (!step.set_value) {
        args.only = true;
        return select(step.value, e, args);
    }
    Root found(*step.value), el(*e), fresh(*step.set_value);
    if (find(found.get(), el.get(), args)->is(T_NONE)) {
        Root p(step.path ? *step.path : none_value);
        stack::raise_error("script", "bad-path-set", {p.get(), el.get()});
    }
    found.cell = answer;
    // poke answers the stored value's cell, which is `fresh`: copied out before it goes.
    answer = *t.poke(found.get(), 2, fresh.get());
    return &answer;
}

void init() {
    copy_hook = dispatch_copy;
    type_registry::register_type(
        T_BLOCK, T_SERIES, "block!",
        {.make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
         .eval_path = eval_path,
         .compare = compare, .append = append, .at = inherit, .back = inherit, .change = change,
         .clear = inherit, .copy = copy, .find = find, .head = inherit, .head_q = inherit,
         .index_q = inherit, .insert = insert, .length_q = inherit, .move = inherit,
         .next = inherit, .pick = inherit, .poke = inherit, .put = put, .remove = inherit,
         .reverse = inherit, .select = select, .sort = sort, .skip = inherit, .swap = swap,
         .tail = inherit, .tail_q = inherit, .take = take, .trim = trim, .modify = inherit});
}

}  // namespace kov::block
