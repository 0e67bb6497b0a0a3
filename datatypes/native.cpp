// native!, action! and op!: making, reflecting, forming, molding and comparing, and the lookup
// of a native's or action's routine by its table number.
#include "datatypes/native.hpp"

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/runtime_words.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "datatypes/block.hpp"
#include "datatypes/string.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"

namespace kov::native {

namespace {

namespace rw = runtime_words;

// The table entry a value names, or null (an empty slot, a number out of range, or a value with
// no table routine).
NativeFn entry_of(const Cell* value) {
    uint32_t kind = value->is(T_OP) ? op_source(value) : value->type();
    uint32_t n = value->data1;
    if (kind == T_NATIVE && n >= 1 && n <= uint32_t(natives::TABLE_SIZE)) return natives::table[n - 1];
    if (kind == T_ACTION && n >= 1 && n <= uint32_t(ACTION_COUNT)) return actions::front_ends[n - 1];
    return nullptr;
}

inline bool function_source(uint32_t kind) { return kind == T_FUNCTION || kind == T_ROUTINE; }

// The i-th cell of a block node (valid until the next allocation).
inline Cell* cell_of(Handle block, uint32_t i) { return memory::buffer_of(block)->head_cell() + i; }
inline uint32_t cell_count(Handle block) { return memory::buffer_of(block)->used() / 16; }

inline bool same_word(uint32_t symbol, const Cell& word) {
    return word.data2 && symbol::resolve(symbol) == symbol::resolve(word.data2);
}

// Molds the block node's cells from its start between brackets.
int32_t mold_block(Handle node, Cell* out, bool all, bool flat, bool part, int32_t limit,
                   int32_t indent) {
    collector::Root blk(cells::make_series(T_BLOCK, node));
    string::concatenate_cstring(out, "[", 1);
    limit = block::mold_cells(blk.get(), out, false, all, flat, part, limit - 1, indent);
    string::concatenate_cstring(out, "]", 1);
    return limit - 1;
}

int32_t append_text(Cell* out, const char* text, uint32_t n, int32_t limit) {
    string::concatenate_cstring(out, text, n);
    return limit - int32_t(n);
}

}  // namespace

NativeFn routine(const Cell* value) {
    NativeFn fn = entry_of(value);
    if (!fn) stack::raise_error("internal", "not-done");
    return fn;
}

int32_t find_word(const Cell* value, uint32_t symbol) {
    if (value->is(T_OP) && function_source(op_source(value)))
        return context::find_word(value->data1, symbol, true);
    const Cell* ctx = cell_of(value->data3, 0);
    if (!ctx->is(T_CONTEXT)) return -1;
    return hashtable::word_slot(cells::context_words(*ctx), symbol, true, 0, nullptr);
}

bool valid_op_spec_q(Handle spec) {
    int count = 0;
    bool plain = false;
    for (uint32_t i = 0, n = cell_count(spec); i < n; i++) {
        const Cell c = *cell_of(spec, i);
        switch (c.type()) {
        case T_WORD:
            count++;
            plain = true;
            break;
        case T_LIT_WORD: case T_GET_WORD:
            if (!plain) return false;
            count++;
            break;
        case T_SET_WORD:
            return count == 2;
        case T_REFINEMENT:
            if (same_word(rw::refinements::local.data2, c) || same_word(rw::refinements::extern_.data2, c))
                return count == 2;
            return false;
        default:
            break;
        }
    }
    return count == 2;
}

// ---- actions ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    collector::Root pr(*proto), arg(*spec);
    if (!arg->is(T_BLOCK)) stack::raise_bad_make_arg(pr.get(), arg.get());
    uint32_t head = cells::series_index(*arg), total = cell_count(cells::series_node(*arg));
    if (head >= total || total - head != 2) stack::raise_bad_make_arg(pr.get(), arg.get());
    collector::Root body(*cell_of(arg->data2, head));
    Cell index = *cell_of(arg->data2, head + 1);
    int32_t limit = type == T_NATIVE ? natives::TABLE_SIZE : ACTION_COUNT;
    if (!body->is(T_BLOCK) || !index.is(T_INTEGER) || cells::integer(index) < 1 ||
        cells::integer(index) > limit)
        stack::raise_bad_make_arg(pr.get(), arg.get());
    Cell value{type, uint32_t(cells::integer(index)), cells::series_node(*body), 0};
    if (!entry_of(&value)) stack::raise_error("internal", "not-done");

    collector::RootContext ctx(context::make(body.get(), true, false, context::KIND_FUNCTION));
    collector::Root extra;
    block::make_at(extra.get(), 2);
    Cell ctx_cell = *context::cell(ctx.handle());
    block::append_value(extra.get(), &ctx_cell);
    Cell none = cells::make_none();
    block::append_value(extra.get(), &none);
    value.data2 = cells::series_node(*body);
    value.data3 = cells::series_node(*extra);
    *stack::arguments = value;
    return stack::arguments;
}

Cell* make_op(const Cell*, const Cell* spec, uint32_t) {
    Cell f = *spec;
    uint32_t kind = f.type();
    if (kind != T_NATIVE && kind != T_ACTION && !function_source(kind)) {
        Cell t = cells::make_datatype(kind);
        stack::raise_error("script", "invalid-type", {&t});
    }
    if (!valid_op_spec_q(f.data2)) stack::raise_error("script", "bad-op-spec");
    if (function_source(kind) && cell_count(f.data3) >= 4) *cell_of(f.data3, 3) = f;
    f.header = (kind << OP_SOURCE_SHIFT) | T_OP;
    *stack::arguments = f;
    return stack::arguments;
}

Cell* reflect(const Cell* value, const Cell* field) {
    Cell v = *value;
    uint32_t name = word::any_word_q(field->type()) ? field->data2 : 0;
    Cell* result = stack::arguments;
    if (name && symbol::resolve(name) == symbol::resolve(rw::sym::spec)) {
        *result = cells::make_series(T_BLOCK, v.data2);
        return result;
    }
    if (name && symbol::resolve(name) == symbol::resolve(rw::sym::body)) {
        if (v.is(T_OP) && function_source(op_source(&v)))
            *result = *cell_of(v.data3, 0);
        else
            *result = cells::make_integer(int32_t(v.data1));
        return result;
    }
    stack::raise_error("internal", "not-done");
}

int32_t form(const Cell* value, Cell* out, bool, int32_t limit) {
    switch (value->type()) {
    case T_NATIVE: return append_text(out, "?native?", 8, limit);
    case T_ACTION: return append_text(out, "?action?", 8, limit);
    default: return append_text(out, "?op?", 4, limit);
    }
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, bool part, int32_t limit,
             int32_t indent) {
    collector::Root v(*value);
    if (!v->is(T_OP)) {
        limit = v->is(T_NATIVE) ? append_text(out, "make native! [", 14, limit)
                                : append_text(out, "make action! [", 14, limit);
        limit = mold_block(v->data2, out, all, flat, part, limit, indent);
        return append_text(out, "]", 1, limit);
    }
    limit = append_text(out, "make op! ", 9, limit);
    Cell* saved_top = stack::top;
    stack::mark_native(&rw::words::anon);
    if (op_source(v.get()) == T_FUNCTION) {
        limit = append_text(out, "func ", 5, limit);
        limit = mold_block(v->data2, out, all, flat, part, limit, indent);
        collector::Root body(*cell_of(v->data3, 0));
        if (body->is(T_BLOCK)) {
            string::concatenate_cstring(out, "[", 1);
            limit = block::mold_cells(body.get(), out, false, all, flat, part, limit - 1, indent);
            string::concatenate_cstring(out, "]", 1);
            limit--;
        }
    } else {
        limit = append_text(out, "[", 1, limit);
        limit = mold_block(v->data2, out, all, flat, part, limit, indent);
        limit = append_text(out, "]", 1, limit);
    }
    stack::unwind();
    stack::top = saved_top;
    return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (a->type() != b->type()) return NOT_COMPARABLE;
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND: break;
    default: return NOT_COMPARABLE;
    }
    // Two values are equal when they reach the same routine.
    NativeFn ea = entry_of(a), eb = entry_of(b);
    if (ea && ea == eb) return 0;
    uint32_t ka = a->is(T_OP) ? op_source(a) : 0, kb = b->is(T_OP) ? op_source(b) : 0;
    if (ka != kb) return ka < kb ? -1 : 1;
    int32_t x = int32_t(a->data1), y = int32_t(b->data1);
    return x < y ? -1 : x > y ? 1 : 0;
}

void init() {
    type_registry::register_type(T_NATIVE, 0, "native!",
                                 {.make = make, .reflect = reflect, .form = form, .mold = mold,
                                  .compare = compare});
    type_registry::register_type(T_ACTION, T_NATIVE, "action!",
                                 {.make = make, .reflect = inherit, .form = form, .mold = mold,
                                  .compare = compare});
    type_registry::register_type(T_OP, T_NATIVE, "op!",
                                 {.make = make_op, .reflect = inherit, .form = form, .mold = mold,
                                  .compare = compare});
}

}  // namespace kov::native
