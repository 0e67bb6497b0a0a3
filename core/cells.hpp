// Constructors and accessors of value cells by kind, so that code names what a data word holds
// instead of reading data1..data3 by hand. Layouts:
//   integer!            data2 the 32-bit value
//   float!, percent!    data2-data3 the 64-bit float, low word first
//   logic!              data1 1 or 0
//   datatype!           data1 the type id
//   series (block!, string! and their kin)   data1 the index, data2 the node
//   words (word! to issue!)                   data1 the context node (0 unbound), data2 the
//                                             symbol id, data3 the slot (NO_INDEX: not resolved)
//   error!              data1 the context node, data2 the class id (1), data3 0 (no events)
//   context! cell       data1 the word table, data2 the values (node, or stack index + 1)
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::cells {

constexpr uint32_t NO_INDEX = 0xFFFFFFFFu;

// ---- values without data ----
constexpr Cell make_none() { return Cell{T_NONE, 0, 0, 0}; }
constexpr Cell make_unset() { return Cell{T_UNSET, 0, 0, 0}; }

// ---- logic! ----
constexpr Cell make_logic(bool b) { return Cell{T_LOGIC, b ? 1u : 0u, 0, 0}; }
constexpr bool logic(const Cell& c) { return c.data1 != 0; }

// ---- the truth rule: none! and logic! false are false, every other value is true ----
inline bool truthy(const Cell& c) { return !(c.is(T_NONE) || (c.is(T_LOGIC) && c.data1 == 0)); }

// ---- integer! ----
constexpr Cell make_integer(int32_t n) { return Cell{T_INTEGER, 0, uint32_t(n), 0}; }
constexpr int32_t integer(const Cell& c) { return int32_t(c.data2); }
constexpr void set_integer(Cell& c, int32_t n) { c.data2 = uint32_t(n); }

// ---- float! ----
inline Cell make_float(double d, uint32_t type = T_FLOAT) {
    Cell c{type, 0, 0, 0};
    c.set_float(d);
    return c;
}

// ---- datatype! ----
constexpr Cell make_datatype(uint32_t type) { return Cell{T_DATATYPE, type, 0, 0}; }
constexpr uint32_t datatype(const Cell& c) { return c.data1; }

// ---- series ----
constexpr Cell make_series(uint32_t type, Handle node, uint32_t index = 0) {
    return Cell{type, index, node, 0};
}
constexpr Handle series_node(const Cell& c) { return c.data2; }
constexpr uint32_t series_index(const Cell& c) { return c.data1; }
constexpr void set_series_index(Cell& c, uint32_t index) { c.data1 = index; }

// ---- words ----
constexpr Cell make_word(uint32_t type, Handle ctx, uint32_t symbol, uint32_t index = NO_INDEX) {
    return Cell{type, ctx, symbol, index};
}
constexpr Handle word_context(const Cell& c) { return c.data1; }
constexpr uint32_t word_symbol(const Cell& c) { return c.data2; }
constexpr uint32_t word_index(const Cell& c) { return c.data3; }

// ---- error! ----
constexpr uint32_t ERROR_CLASS_ID = 1;
constexpr Cell make_error(Handle ctx) { return Cell{T_ERROR, ctx, ERROR_CLASS_ID, 0}; }
constexpr Handle error_context(const Cell& c) { return c.data1; }

// ---- context! cell ----
constexpr Handle context_words(const Cell& c) { return c.data1; }
constexpr uint32_t context_values(const Cell& c) { return c.data2; }
constexpr void set_context_values(Cell& c, uint32_t values) { c.data2 = values; }

}  // namespace kov::cells
