// Block storage: positions, cutting, appending and inserting (with hash! tables kept in step),
// searching, making, cloning, nested copies, molding of block contents and cell-by-cell
// comparison.
#include "datatypes/block.hpp"

#include <algorithm>
#include <cstring>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"

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

}  // namespace kov::block
