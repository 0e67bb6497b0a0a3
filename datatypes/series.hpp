// series!: the internal datatype whose action table holds the position and editing actions that
// every series datatype shares (block!, string! and their kin inherit them), and the helpers
// those datatypes call for positions, /part arguments, copying, taking and change reports.
//
// A series value: data1 the head index in elements from the buffer's first element, data2 the
// node. The element width is the buffer's unit. A head index may lie past the tail after the
// series was shortened through another value: each routine says whether it clamps it.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::series {

// ---- kinds ----
bool cell_kind(uint32_t t);   // block!, paren!, the four paths, hash!
bool block_kind(uint32_t t);  // the same
bool text_kind(uint32_t t);   // string!, file!, url!, tag!, email!, ref!
bool series_kind(uint32_t t); // cell kinds, text kinds, binary!, vector!, image!

// ---- positions ----

// True when the head lies at or past the tail.
bool at_tail_q(const Cell* s);
// Elements in the whole buffer.
int32_t buffer_length(const Cell* s);
// Moves the head by n when the new position is not past the tail; true when the position (moved
// or not) is at or past the tail.
bool skip_by(Cell* s, int32_t n);
// The head index `at` (flag set) or `skip` gives for the series in arguments[0] and the integer
// in arguments[1], clamped to 0 .. length.
int32_t position_arg(bool at);
// Elements from the head (or from the first element with from_start) to the tail; a head past
// the tail is written back as the tail and 0 is answered.
int32_t get_length(Cell* s, bool from_start);

// The count a /part argument gives for a series: an integer! as it is, a position in the same
// series (same datatype and node) as the difference of the head indexes; anything else raises
// script error invalid-refine-arg with the word part.
int32_t part_arg(const Cell* s, const Cell* part);
// Raises script error invalid-refine-arg naming `refinement_symbol` with the value.
[[noreturn]] void raise_refine_arg(uint32_t refinement_symbol, const Cell* value);

// ---- change reports ----

// Reports a change of the series to its owner (ownership::check) with the action word of that
// spelling ("append", "appended" ...): 1 when an owner's handler ran.
int report(const Cell* s, const char* action, int32_t index, int32_t count,
           const Cell* new_value = nullptr);

// ---- shared cores ----

// Writes a copy of the series (with /part: a count, a pair of positions or a position) into
// `result`, whose previous value is not kept. /deep and /types are the datatypes' business.
Cell* copy(const Cell* s, Cell* result, const Cell* part);
// Takes from the series: pushes the new series on the argument stack (a series of the taken
// elements; without /part in the shared one-element buffer, to be read at once) and answers
// it; none when the series is empty from its head.
Cell* take(Cell* s, const Cell* part, bool last);

// Removes, in one pass, the elements from index `from` whose flag in `gone` (count flags, one
// per element from `from`) is set; the others keep their order. Flags past the tail are ignored.
// The owner hears of one removal at `from`. Answers the number of elements removed.
int32_t remove_marked(const Cell* s, uint32_t from, const uint8_t* gone, uint32_t count);

// The inits register "series!" (no parent).
void init();
// Forgets the buffers of an earlier run (start-up does this before anything allocates).
void unbind();

}  // namespace kov::series
