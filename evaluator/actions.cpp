// Action dispatch: handler lookup, the front-ends of the 62 actions, the typed dispatch entries
// and the generic comparisons.
#include "evaluator/actions.hpp"

#include <algorithm>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/block.hpp"
#include "datatypes/native.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"

namespace kov::actions {

NativeFn front_ends[ACTION_COUNT] = {};

namespace {

using collector::Root;

constexpr int32_t NO_LIMIT = 0x7FFFFFFF;

[[noreturn]] void not_done() { stack::raise_error("internal", "not-done"); }

[[noreturn]] void cannot_use(const Cell* value) {
    Cell t = cells::make_datatype(value->type());
    stack::raise_error("script", "cannot-use", {&t});
}

// Script error expect-arg naming the nearest frame, the datatype and the parameter word.
[[noreturn]] void raise_expect_arg(uint32_t type, int32_t param) {
    Cell name, word, dt = cells::make_datatype(type);
    stack::frame_name(&name);
    stack::param_word(param, &word);
    stack::raise_error("script", "expect-arg", {&name, &dt, &word});
}

// Script error invalid-refine-arg naming /part with the argument.
[[noreturn]] void raise_part_arg(const Cell* value) {
    const Cell& part = runtime_words::refinements::part;
    if (!part.header) series::raise_refine_arg(symbol::make("part"), value);
    Cell r = part;
    stack::raise_error("script", "invalid-refine-arg", {&r, value});
}

// A refinement flag, and the cell of a refinement's argument (null when absent).
inline bool flag(const int32_t* refs, int k) { return refs[k] >= 0; }
inline Cell* ref_arg(const int32_t* refs, int k) { return refs[k] >= 0 ? stack::arg(refs[k]) : nullptr; }

// The result shapes.
inline Status store(const Cell* result) {
    if (result) *stack::arguments = *result;
    return Status::normal;
}
inline Status store_logic(bool b) {
    *stack::arguments = cells::make_logic(b);
    return Status::normal;
}

const ActionTable& first(int slot) { return get_handler_first_arg(slot); }

// ---- direct front-ends: the handler reads the frame ----

#define KOV_DIRECT(name, field, slot)                                                              \
    Status name(const int32_t*) {                                                                  \
        first(slot).field();                                                                       \
        return Status::normal;                                                                     \
    }
KOV_DIRECT(absolute, absolute, A_ABSOLUTE)
KOV_DIRECT(add, add, A_ADD)
KOV_DIRECT(divide, divide, A_DIVIDE)
KOV_DIRECT(multiply, multiply, A_MULTIPLY)
KOV_DIRECT(power, power, A_POWER)
KOV_DIRECT(remainder, remainder, A_REMAINDER)
KOV_DIRECT(subtract, subtract, A_SUBTRACT)
KOV_DIRECT(and_t, and_t, A_AND_T)
KOV_DIRECT(or_t, or_t, A_OR_T)
KOV_DIRECT(xor_t, xor_t, A_XOR_T)
KOV_DIRECT(at, at, A_AT)
KOV_DIRECT(back, back, A_BACK)
KOV_DIRECT(head, head, A_HEAD)
KOV_DIRECT(head_q, head_q, A_HEAD_Q)
KOV_DIRECT(index_q, index_q, A_INDEX_Q)
KOV_DIRECT(next, next, A_NEXT)
KOV_DIRECT(skip, skip, A_SKIP)
KOV_DIRECT(tail, tail, A_TAIL)
KOV_DIRECT(tail_q, tail_q, A_TAIL_Q)
#undef KOV_DIRECT

// ---- make, to, random, reflect, form, mold ----

// make and to: a datatype! first argument names the datatype to dispatch on.
Status make_or_to(int slot) {
    Cell* proto = stack::arg(0);
    uint32_t type = proto->is(T_DATATYPE) ? cells::datatype(*proto) : proto->type();
    if (type == 0 || type > uint32_t(TYPE_COUNT_MAX)) raise_expect_arg(proto->type(), 0);
    const ActionTable& t = get_handler(type, proto, slot);
    MakeFn fn = slot == A_MAKE ? t.make.fn : t.to.fn;
    return store(fn(proto, stack::arg(1), type));
}
Status make(const int32_t*) { return make_or_to(A_MAKE); }
Status to(const int32_t*) { return make_or_to(A_TO); }

Status random(const int32_t* refs) {
    return store(first(A_RANDOM).random(stack::arg(0), flag(refs, 0), flag(refs, 1), flag(refs, 2)));
}

Status reflect(const int32_t*) { return store(first(A_REFLECT).reflect(stack::arg(0), stack::arg(1))); }

// form and mold: the text goes to a new string pushed above the result slot, cut to the /part
// limit when one is given.
Status form_or_mold(bool mold, const int32_t* refs, int part_ref) {
    const ActionTable& t = first(mold ? A_MOLD : A_FORM);
    bool part = flag(refs, part_ref);
    int32_t limit = NO_LIMIT;
    if (part) {
        const Cell* l = stack::arg(refs[part_ref]);
        if (!l->is(T_INTEGER)) raise_expect_arg(l->type(), refs[part_ref]);
        limit = cells::integer(*l);
    }
    if (part && limit <= 0) {
        string::make_at(stack::arguments, 1);
        return Status::normal;
    }
    stack::keep();
    Cell* out = stack::push_slot();
    string::make_at(out, 16);
    if (mold)
        t.mold(stack::arg(0), out, flag(refs, 0), flag(refs, 1), flag(refs, 2), part, limit, 0);
    else
        t.form(stack::arg(0), out, part, limit);
    if (part) {
        SeriesBuffer* b = memory::buffer_of(cells::series_node(*out));
        if (b->length() > uint32_t(limit)) b->tail = b->head + (uint32_t(limit) << b->shift());
    }
    *stack::arguments = *out;
    stack::keep();
    return Status::normal;
}
Status form(const int32_t* refs) { return form_or_mold(false, refs, 0); }
Status mold(const int32_t* refs) { return form_or_mold(true, refs, 3); }

// ---- eval-path, compare ----

// eval-path on the frame's (value, element): one step that reads.
Status eval_path(const int32_t*) {
    PathFn fn = get_path_handler(stack::arg(0), nullptr, stack::arg(1), 0);
    PathStep step{};
    step.value = stack::arg(0);
    step.element = stack::arg(1);
    step.position = 1;
    step.last = true;
    return store(fn(step));
}

// compare on the frame's (value1, value2, compare-op).
Status compare_action(const int32_t*) {
    const Cell* op = stack::arg(2);
    if (!op->is(T_INTEGER)) raise_expect_arg(op->type(), 2);
    compare_to_logic(cells::integer(*op));
    return Status::normal;
}

// ---- math with refinements or one value ----

Status negate(const int32_t*) { return store(first(A_NEGATE).negate(stack::arg(0))); }
Status complement(const int32_t*) { return store(first(A_COMPLEMENT).complement(stack::arg(0))); }

Status round(const int32_t* refs) {
    return store(first(A_ROUND).round(stack::arg(0), ref_arg(refs, 0), flag(refs, 1), flag(refs, 2),
                                      flag(refs, 3), flag(refs, 4), flag(refs, 5), flag(refs, 6)));
}

Status even_q(const int32_t*) { return store_logic(first(A_EVEN_Q).even_q(stack::arg(0))); }
Status odd_q(const int32_t*) { return store_logic(first(A_ODD_Q).odd_q(stack::arg(0))); }

// ---- append, insert, change: /part and /dup ----

// Series kinds whose /part may count into the inserted value.
bool has_buffer(uint32_t t) {
    return series::cell_kind(t) || series::text_kind(t) || t == T_BINARY || t == T_VECTOR ||
           t == T_IMAGE || t == T_MAP;
}

// The element count of a value's buffer.
uint32_t buffer_length(const Cell* v) {
    if (v->is(T_VECTOR) || v->is(T_IMAGE)) not_done();
    return uint32_t(series::buffer_length(v));
}

// The /part count of a value measured against `base` (the series it must share), from an
// integer! or a position in the same series; negative counts move `base` back. Answers the
// count, or -1 for "do nothing".
struct PartCount {
    int32_t count;
    bool noop;
};
PartCount part_count(Cell* base, const Cell* part, bool movable) {
    int32_t count;
    if (part->is(T_INTEGER)) {
        count = cells::integer(*part);
    } else if (part->type() == base->type() && !part->is(T_PORT) &&
               cells::series_node(*part) == cells::series_node(*base)) {
        uint32_t n = buffer_length(part);
        uint32_t at = std::min(cells::series_index(*part), n);
        count = int32_t(int64_t(at) - int64_t(cells::series_index(*base)));
    } else {
        raise_part_arg(part);
    }
    if (count == 0) return {0, true};
    if (count < 0) {
        if (!movable) return {0, false};
        uint32_t index = cells::series_index(*base);
        if (index == 0) return {0, true};
        uint32_t back = uint32_t(-int64_t(count)) > index ? index : uint32_t(-int64_t(count));
        cells::set_series_index(*base, index - back);
        count = int32_t(back);
    }
    return {count, false};
}

// append and insert: series, value, /part length, /only, /dup count.
Status insert_like(int slot, const int32_t* refs) {
    const ActionTable& t = first(slot);
    Cell* target = stack::arg(0);
    Cell* value = stack::arg(1);
    int32_t count = -1;
    if (flag(refs, 0)) {
        const Cell* part = stack::arg(refs[0]);
        if (!has_buffer(value->type())) stack::raise_error("script", "invalid-part", {part});
        uint32_t n = buffer_length(value);
        if (cells::series_index(*value) > n) cells::set_series_index(*value, n);
        PartCount pc = part_count(value, part, true);
        if (pc.noop) return Status::normal;
        count = pc.count;
    }
    int32_t dup = 1;
    if (flag(refs, 2)) {
        const Cell* d = stack::arg(refs[2]);
        if (!d->is(T_INTEGER)) raise_expect_arg(d->type(), refs[2]);
        dup = cells::integer(*d);
        if (dup < 1) return Status::normal;
    }
    InsertFn fn = slot == A_APPEND ? t.append.fn : t.insert.fn;
    return store(fn(target, value, count, flag(refs, 1), dup));
}
Status append(const int32_t* refs) { return insert_like(A_APPEND, refs); }
Status insert(const int32_t* refs) { return insert_like(A_INSERT, refs); }

// change: series, value, /part range, /only, /dup count; the range measures the target.
Status change(const int32_t* refs) {
    const ActionTable& t = first(A_CHANGE);
    Cell* target = stack::arg(0);
    bool fixed = target->is(T_PORT) || target->is(T_IMAGE);
    int32_t count = -1;
    if (flag(refs, 0)) {
        const Cell* part = stack::arg(refs[0]);
        if (!fixed && has_buffer(target->type())) {
            uint32_t n = buffer_length(target);
            if (cells::series_index(*target) > n) cells::set_series_index(*target, n);
        }
        if (!part->is(T_INTEGER) && (fixed || !has_buffer(target->type()))) raise_part_arg(part);
        PartCount pc = part_count(target, part, !fixed);
        if (pc.noop) return Status::normal;
        count = pc.count;
    }
    int32_t dup = 1;
    if (flag(refs, 2)) {
        const Cell* d = stack::arg(refs[2]);
        if (!d->is(T_INTEGER)) raise_expect_arg(d->type(), refs[2]);
        dup = cells::integer(*d);
        if (dup < 1) return Status::normal;
    }
    return store(t.change(target, stack::arg(1), count, flag(refs, 1), dup));
}

// ---- the other series actions ----

Status clear(const int32_t*) { return store(first(A_CLEAR).clear(stack::arg(0))); }

// copy: value, /part length, /deep, /types kind; the handler writes a fresh cell.
Status copy(const int32_t* refs) {
    const ActionTable& t = first(A_COPY);
    const Cell* types = ref_arg(refs, 2);
    if (types && !types->is(T_DATATYPE) && !types->is(T_TYPESET)) raise_expect_arg(types->type(), refs[2]);
    Cell* result = stack::push_slot();
    return store(t.copy(stack::arg(0), result, ref_arg(refs, 0), flag(refs, 1), types));
}

FindArgs find_args(const int32_t* refs, bool find) {
    FindArgs a;
    a.part = ref_arg(refs, 0);
    a.only = flag(refs, 1);
    a.case_sensitive = flag(refs, 2);
    a.same = flag(refs, 3);
    a.any = flag(refs, 4);
    a.with = ref_arg(refs, 5);
    a.skip = ref_arg(refs, 6);
    a.last = flag(refs, 7);
    a.reverse = flag(refs, 8);
    if (find) {
        a.tail = flag(refs, 9);
        a.match = flag(refs, 10);
    }
    return a;
}

Status find(const int32_t* refs) {
    return store(first(A_FIND).find(stack::arg(0), stack::arg(1), find_args(refs, true)));
}
Status select(const int32_t* refs) {
    return store(first(A_SELECT).select(stack::arg(0), stack::arg(1), find_args(refs, false)));
}

Status length_q(const int32_t*) {
    int32_t n = first(A_LENGTH_Q).length_q(stack::arg(0));
    *stack::arguments = n == -1 ? cells::make_none() : cells::make_integer(n);
    return Status::normal;
}

Status move(const int32_t* refs) {
    return store(first(A_MOVE).move(stack::arg(0), stack::arg(1), ref_arg(refs, 0)));
}

Status pick(const int32_t*) {
    const ActionTable& t = first(A_PICK);
    return store(t.pick(stack::arg(0), index_arg(), stack::arg(1)));
}

Status poke(const int32_t*) {
    const ActionTable& t = first(A_POKE);
    return store(t.poke(stack::arg(0), index_arg(), stack::arg(2)));
}

Status put(const int32_t* refs) {
    return store(first(A_PUT).put(stack::arg(0), stack::arg(1), stack::arg(2), flag(refs, 0)));
}

Status remove(const int32_t* refs) {
    return store(first(A_REMOVE).remove(stack::arg(0), ref_arg(refs, 0), ref_arg(refs, 1)));
}

Status reverse(const int32_t* refs) {
    return store(first(A_REVERSE).reverse(stack::arg(0), ref_arg(refs, 0), ref_arg(refs, 1)));
}

Status sort(const int32_t* refs) {
    return store(first(A_SORT).sort(stack::arg(0), flag(refs, 0), ref_arg(refs, 1), ref_arg(refs, 2),
                                    ref_arg(refs, 3), flag(refs, 4), flag(refs, 5), flag(refs, 6)));
}

Status swap(const int32_t*) { return store(first(A_SWAP).swap(stack::arg(0), stack::arg(1))); }

Status take(const int32_t* refs) {
    return store(first(A_TAKE).take(stack::arg(0), ref_arg(refs, 0), flag(refs, 1), flag(refs, 2)));
}

Status trim(const int32_t* refs) {
    return store(first(A_TRIM).trim(stack::arg(0), flag(refs, 0), flag(refs, 1), flag(refs, 2),
                                    flag(refs, 3), flag(refs, 4), ref_arg(refs, 5)));
}

// ---- port actions ----

#define KOV_PORT(name, field, slot)                                                                \
    Status name(const int32_t*) { return store(first(slot).field(stack::arg(0))); }
KOV_PORT(create, create, A_CREATE)
KOV_PORT(close, close, A_CLOSE)
KOV_PORT(delete_, delete_, A_DELETE)
KOV_PORT(open_q, open_q, A_OPEN_Q)
KOV_PORT(query, query, A_QUERY)
KOV_PORT(update, update, A_UPDATE)
#undef KOV_PORT

Status modify(const int32_t* refs) {
    return store(first(A_MODIFY).modify(stack::arg(0), stack::arg(1), stack::arg(2), flag(refs, 0)));
}

Status open(const int32_t* refs) {
    return store(first(A_OPEN).open(stack::arg(0), flag(refs, 0), flag(refs, 1), flag(refs, 2),
                                    flag(refs, 3), ref_arg(refs, 4)));
}

Status read(const int32_t* refs) {
    return store(first(A_READ).read(stack::arg(0), ref_arg(refs, 0), ref_arg(refs, 1), flag(refs, 2),
                                    flag(refs, 3), flag(refs, 4), ref_arg(refs, 5)));
}

Status rename(const int32_t*) { return store(first(A_RENAME).rename(stack::arg(0), stack::arg(1))); }

Status write(const int32_t* refs) {
    return store(first(A_WRITE).write(stack::arg(0), stack::arg(1), flag(refs, 0), flag(refs, 1),
                                      flag(refs, 2), flag(refs, 3), ref_arg(refs, 4),
                                      ref_arg(refs, 5), ref_arg(refs, 6), ref_arg(refs, 7)));
}

// The identity of a native!, action! or op!: its kind and table number, or for an op! made from
// a function its extra block.
struct Identity {
    uint32_t kind, id;
};
Identity identity(const Cell* v) {
    uint32_t kind = v->is(T_OP) ? native::op_source(v) : v->type();
    if (kind == T_FUNCTION || kind == T_ROUTINE) return {kind, v->data3};
    return {kind, v->data1};
}

inline int32_t order(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace

void init() {
    NativeFn entries[ACTION_COUNT] = {
        make, random, reflect, to, form, mold, eval_path, nullptr, compare_action, absolute,
        add, divide, multiply, negate, power, remainder, round, subtract, even_q, odd_q,
        and_t, complement, or_t, xor_t, append, at, back, change, clear, copy,
        find, head, head_q, index_q, insert, length_q, move, next, pick, poke,
        put, remove, reverse, select, sort, skip, swap, tail, tail_q, take,
        trim, create, close, delete_, modify, open, open_q, query, read, rename,
        update, write};
    std::copy(std::begin(entries), std::end(entries), front_ends);
}

// ---- lookup ----

const ActionTable& get_handler(uint32_t type, const Cell* value, int slot) {
    if (value && value->is(T_PORT) && slot >= A_APPEND) not_done();
    if (!type_registry::supports(type, slot)) raise_expect_arg(type, 0);
    return type_registry::table(type);
}

const ActionTable& get_handler_first_arg(int slot) { return get_handler(stack::arg(0), slot); }

PathFn get_path_handler(const Cell* value, const Cell* path, const Cell* element,
                        int32_t element_index) {
    PathFn fn = type_registry::table(value->type()).eval_path.fn;
    if (fn) return fn;
    Root el(*element), dt(cells::make_datatype(value->type()));
    if (!path) stack::raise_error("script", "bad-path-type2", {el.get(), dt.get()});
    Root whole(*path), cut;
    series::copy(whole.get(), cut.get(), nullptr);
    block::cut_at(cut.get(), cells::series_index(*cut) + uint32_t(element_index) + 1);
    stack::raise_error("script", "bad-path-type", {whole.get(), dt.get(), cut.get()});
}

int32_t index_arg() {
    const Cell* c = stack::arg(1);
    switch (c->type()) {
    case T_INTEGER: return cells::integer(*c);
    case T_CHAR: return int32_t(c->data2);
    case T_LOGIC: return cells::logic(*c) ? 1 : 2;
    default: return 0;
    }
}

// ---- typed dispatch ----

int32_t form_dispatch(const Cell* value, Cell* out, bool part, int32_t limit) {
    const auto& handler = handlers_of(value).form;
    if (!handler) cannot_use(value);
    return handler(value, out, part, limit);
}

int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
                      int32_t limit, int32_t indent) {
    const auto& handler = handlers_of(value).mold;
    if (!handler) cannot_use(value);
    return handler(value, out, only, all, flat, part, limit, indent);
}

Cell* copy_dispatch(const Cell* value, Cell* result, const Cell* part, bool deep,
                    const Cell* types) {
    return get_handler(value, A_COPY).copy(value, result, part, deep, types);
}

Cell* find_dispatch(Cell* series, const Cell* value, const FindArgs& args) {
    return get_handler(series, A_FIND).find(series, value, args);
}

Cell* select_dispatch(Cell* series, const Cell* value, const FindArgs& args) {
    return get_handler(series, A_SELECT).select(series, value, args);
}

Cell* pick_dispatch(Cell* series, int32_t index, const Cell* index_value) {
    return get_handler(series, A_PICK).pick(series, index, index_value);
}

Cell* poke_dispatch(Cell* series, int32_t index, const Cell* value) {
    return get_handler(series, A_POKE).poke(series, index, value);
}

int32_t length_dispatch(const Cell* value) {
    return get_handler(value, A_LENGTH_Q).length_q(value);
}

// ---- comparisons ----

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    int32_t r = get_handler(a, A_COMPARE).compare(a, b, op);
    if (r == NOT_COMPARABLE) {
        switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME:
        case COMP_FIND_EXACT: case COMP_FIND_NOCASE: case COMP_FIND:
            break;
        default: {
            Root x(*a), y(*b);
            stack::raise_error("script", "invalid-compare", {x.get(), y.get()});
        }
        }
    }
    switch (op) {
    case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND_EXACT:
    case COMP_FIND_NOCASE: case COMP_FIND:
        return r == 0;
    case COMP_NOT_EQUAL: return r != 0;
    case COMP_LESSER: return r < 0;
    case COMP_LESSER_EQUAL: return r <= 0;
    case COMP_GREATER: return r > 0;
    case COMP_GREATER_EQUAL: return r >= 0;
    default: runtime::runtime_error(FATAL_NO_SWITCH, 0);
    }
}

int32_t compare_values(const Cell* a, const Cell* b, int32_t op) {
    const ActionTable& t = get_handler(a, A_COMPARE);
    if (a->type() == b->type()) {
        switch (a->type()) {
        case T_LOGIC:
            return int32_t(cells::logic(*a)) - int32_t(cells::logic(*b));
        case T_NATIVE: case T_ACTION: case T_OP: {
            Identity x = identity(a), y = identity(b);
            return x.kind != y.kind ? order(x.kind, y.kind) : order(x.id, y.id);
        }
        case T_FUNCTION: case T_ROUTINE:
            return order(a->data3, b->data3);
        default: break;
        }
    }
    return t.compare(a, b, op);
}

bool compare_to_logic(int32_t op) {
    bool r = compare(stack::arg(0), stack::arg(1), op) != 0;
    *stack::arguments = cells::make_logic(r);
    return r;
}

}  // namespace kov::actions
