// Cell operations and support routines of library code.
#include "core/cell.hpp"

#include <cmath>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"

namespace kov {

namespace cell {

int32_t integer_arg(const Cell* c) {
    if (c->is(T_FLOAT)) {
        double d = c->get_float();
        if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
            stack::raise_error("script", "out-of-range", {c});
        return int32_t(std::trunc(d));
    }
    return int32_t(c->data2);
}

void mold_indent(Cell* out, int32_t n) {
    static const uint8_t indent[] = {' ', ' ', ' ', ' '};
    for (int32_t i = 0; i < n; i++) unicode::load_utf8_into(indent, 4, out, false, nullptr);
}

const Cell scan_failure{T_NONE, 0, 0, 0};
bool (*scan_string_hook)(Cell* out_block, const Cell* text, int32_t* consumed) = nullptr;

const Cell* scan_first_value(const Cell* text, Cell* out) {
    if (!scan_string_hook) stack::raise_error("internal", "not-done");
    collector::Root source(*text);
    collector::Root block;
    int32_t consumed = 0;
    scan_string_hook(block.get(), source.get(), &consumed);
    SeriesBuffer* t = memory::buffer_of(source->data2);
    uint32_t length = source->data1 < t->length() ? t->length() - source->data1 : 0;
    if (uint32_t(consumed) < length) return &scan_failure;
    SeriesBuffer* b = memory::buffer_of(block->data2);
    if (block->data1 >= b->length()) {
        *out = Cell{T_UNSET, 0, 0, 0};
        return out;
    }
    *out = b->head_cell()[block->data1];
    out->header &= ~CELL_NEW_LINE;
    return out;
}

const Cell* scan_first_value_to_result(const Cell* text) {
    collector::Root result;
    const Cell* r = scan_first_value(text, result.get());
    if (r == &scan_failure) return r;
    *stack::arguments = *result;
    return stack::arguments;
}

namespace {

// Equality of two values of one datatype through that datatype's compare handler; a datatype
// without one has no equal values.
bool equal(const Cell* a, const Cell* b) {
    const auto& handler = type_registry::table(a->type()).compare;
    return handler && handler(a, b, COMP_EQUAL) == 0;
}

}  // namespace

// The value sought is arguments[0], the case block arguments[1] (from its head). A block! sought
// finds nothing. The block is scanned one cell at a time with `push`, every second cell without;
// a cell of the same datatype that compares equal is a match. The answer is the cell after the
// match, or with `to_block` the first block! at or after it; without `to_block` a match in the
// last cell answers the match itself. It is pushed (`push`) or stored in the result slot; no
// match gives none!.
void switch_find(bool push, bool to_block) {
    const Cell value_cell = *stack::arg(0);
    const Cell* value = &value_cell;
    const Cell* block = stack::arg(1);
    Cell answer = cells::make_none();
    if (!value->is(T_BLOCK)) {
        SeriesBuffer* b = memory::buffer_of(block->data2);
        uint32_t n = b->length();
        uint32_t step = push ? 1 : 2;
        for (uint32_t i = block->data1; i < n; i += step) {
            const Cell* c = memory::buffer_of(block->data2)->head_cell() + i;
            if (c->type() != value->type() || !equal(c, value)) continue;
            Cell* cells = memory::buffer_of(block->data2)->head_cell();
            uint32_t len = memory::buffer_of(block->data2)->length();
            if (to_block) {
                uint32_t k = i + 1;
                while (k < len && !cells[k].is(T_BLOCK)) k++;
                answer = k < len ? cells[k] : cells::make_none();
            } else {
                answer = i + 1 < len ? cells[i + 1] : cells[i];
            }
            break;
        }
    }
    if (push) stack::push(&answer);
    else *stack::arguments = answer;
}

}  // namespace cell
}  // namespace kov
