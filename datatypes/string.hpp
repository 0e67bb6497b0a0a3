// string! storage: text series of 1-, 2- or 4-byte units, one code point per unit, and the
// routines that read, build, widen, concatenate and load such text. string! and the other text
// types (file!, url!, tag!, email!, ref!), the molding and forming of every datatype, the console
// and the loaders build their text through these routines.
//
// A text value: data1 the head index in units from the buffer's first element, data2 the node of
// the buffer, data3 0 or the node of its conversion buffer (see core/unicode.hpp). Unit 1 holds
// code points 0..0xFF, unit 2 0..0xFFFF, unit 4 any 32-bit value. A buffer only widens (never in
// the other direction, except when `reset` empties it): appending a character above 0x7F to a
// unit-1 buffer widens it to unit 2; writing at a position (overwrite, insert, store) widens only
// above 0xFF; anything above 0xFFFF widens to unit 4. A unit other than 1, 2 or 4 is a broken
// invariant: fatal runtime error 101.
//
// Memory rules (see core/collector.hpp):
// - Routines that take a text value (Cell*) and may allocate need it rooted and staying where it
//   is (argument stack or a Root guard); they re-read the node from the cell after allocating.
//   Source cells that are only read (concatenate's source, move_chars' source) are copied into a
//   guard of their own, but their buffer must be reachable as long as the call needs it.
// - Routines that take a buffer (SeriesBuffer*) and may grow or widen it return the buffer to use
//   from then on; the pointer passed in is stale afterwards. The buffer's node must be reachable
//   from a root (a rooted value holds it).
// - Byte addresses (ks_head, tail_address, get_char's argument) are valid until the next
//   allocation.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::string {

// ---------------------------------------------------------------------------------------------
// Making.

// Makes `out` an empty string! with room for n units of the given width (head 0).
void make_at(Cell* out, uint32_t n, uint32_t unit = 1);
// The same with unit 1; n 0 asks for the smallest buffer. `out` reads unset! while the buffer is
// allocated.
void ks_make_at(Cell* out, uint32_t n);
void make_at_unit(Cell* out, uint32_t n, uint32_t unit);
// Copies the value onto the argument stack; returns the new stack cell.
Cell* push(const Cell* str);
// Empties the text and makes its buffer unit 1 again: tail at the first element, head 0.
void reset(Cell* str);

// ---------------------------------------------------------------------------------------------
// Reading.

// Address of the character at the head. A head index past the tail is set back to the tail, in
// the value itself.
uint8_t* ks_head(Cell* str);
// Address just past the last character.
uint8_t* tail_address(const Cell* str);
// True when the head is at or past the tail.
bool at_tail_q(const Cell* str);
// Characters from the head to the tail; a head past the tail is clamped as by ks_head (0).
uint32_t char_count(Cell* str);
// Characters from the first element to the tail.
uint32_t buffer_char_count(const Cell* str);
// Units from the head to the tail (0 when the head lies past the tail); does not write the value.
uint32_t length(const Cell* str);
// The code point stored at an address in a buffer of the given unit.
uint32_t get_char(const uint8_t* p, uint32_t unit);
// The code point at an element position (from the buffer's first element).
uint32_t char_at(const Cell* str, uint32_t position);
// Offset from the head of the first exact occurrence of the code point, or -1.
int32_t find_char(const Cell* str, uint32_t cp);
// True when cp occurs at the head or at a multiple of `step` characters after it (step 0 acts as
// 1). Without `exact` both sides are folded to upper case.
bool has_char_q(uint32_t cp, const Cell* str, uint32_t step, bool exact);
// True when the text from the head begins with the bytes of the NUL-terminated text, each byte
// compared as a code point.
bool starts_with_cstring_q(const Cell* str, const char* text);
// Code points from the head to the tail, as UTF-8.
std::string to_utf8(const Cell* str);

// ---------------------------------------------------------------------------------------------
// Writing characters. Positions count elements from the buffer's first element.

// Appends one character, widening first (unit 1 keeps code points below 0x80). Returns the
// buffer. The common cases (a character that the unit holds, into a buffer with room) are
// inline.
SeriesBuffer* append_char_slow(SeriesBuffer* buf, uint32_t cp);
inline SeriesBuffer* append_char(SeriesBuffer* buf, uint32_t cp) {
    uint32_t unit = buf->flags & SER_UNIT_MASK;
    if (unit == 1 && cp < 0x80 && buf->tail < uint32_t(buf->size)) {
        buf->data()[buf->tail++] = uint8_t(cp);
        return buf;
    }
    if (unit == 2 && cp < 0x10000 && buf->tail + 2 <= uint32_t(buf->size)) {
        uint16_t v = uint16_t(cp);
        std::memcpy(buf->data() + buf->tail, &v, 2);
        buf->tail += 2;
        return buf;
    }
    return append_char_slow(buf, cp);
}
// Stores one character at the position, widening as a write at a position needs (unit 1 keeps
// up to 0xFF); grows the buffer when the position lies beyond its capacity. A position at or past
// the tail makes the tail position + 1 (units between the old tail and the position read 0).
SeriesBuffer* overwrite_char(SeriesBuffer* buf, uint32_t position, uint32_t cp);
// Inserts one character at the position (cut to the tail), moving the rest up by one unit.
SeriesBuffer* insert_char(SeriesBuffer* buf, uint32_t position, uint32_t cp);
// Writes one character at an address inside the buffer's capacity (the tail does not move);
// when it needs a wider unit the buffer widens and the same element position is written.
SeriesBuffer* store_char(SeriesBuffer* buf, uint8_t* address, uint32_t cp);
// Removes the character at the position (nothing at or past the tail).
void remove_char(Cell* str, uint32_t position);
// Removes n characters from the position, cut to the tail (nothing at or past the tail).
void remove_chars(Cell* str, uint32_t position, uint32_t n);
// When n characters fit in the buffer's capacity and element n lies before the tail, the tail is
// cut back to element n.
void note_min_change(SeriesBuffer* buf, uint32_t n);
// Moves n characters (cut to the source's length) from the source's head to the destination's
// head, converting between units (the destination widens as its characters need). Both values
// rooted. On one buffer the characters are taken out first, then put in at the destination's
// head index (cut to the new tail).
void move_chars(Cell* source, Cell* destination, uint32_t n);
// Exchanges two adjacent byte runs in place: [first, first + first_bytes) and the second_bytes
// that follow become the second run then the first. Goes through a scratch area of
// SWAP_SCRATCH_BYTES, enlarged for the call when the shorter run does not fit.
void swap_adjacent(uint8_t* first, uint32_t first_bytes, uint32_t second_bytes);
constexpr uint32_t SWAP_SCRATCH_BYTES = 4096;
// Current size of the scratch area (SWAP_SCRATCH_BYTES between calls).
uint32_t swap_scratch_bytes();

// ---------------------------------------------------------------------------------------------
// Widening.

// Widens the buffer in place from its unit to `wanted` (2 from 1; 4 from 1 or 2; nothing when
// wanted is not wider). `current` must be the buffer's unit. The node stays; returns the buffer.
SeriesBuffer* widen_to(SeriesBuffer* buf, uint32_t current, uint32_t wanted);
// Copies the buffer's whole text, converted to `unit` (not narrower than the buffer's), either
// into `target` (replacing its text; it grows to `capacity` units when smaller) or, with a null
// target, into a new buffer of `capacity` units (at least the text's length plus one) that takes
// the buffer's place under its node. Returns the buffer holding the copy.
SeriesBuffer* widen_copy(SeriesBuffer* buf, SeriesBuffer* target, uint32_t capacity,
                         uint32_t unit);

// ---------------------------------------------------------------------------------------------
// Concatenation.

enum ConcatMode : int { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };

// Writes the source's text from its head (count characters when count is not negative and below
// its length) into the destination: appended at the tail, inserted at `offset` characters from
// the destination's head, or written over the text from there (the tail moves up when the
// written text passes it). The offset is cut to the text after the head. The source may be a
// symbol! cell with its spelling cache made (symbol::get), read from index 0. A narrower
// destination widens to the source's unit; a narrower source widens in place to the
// destination's unit unless `convert` is set, in which case its characters are converted while
// they are written. `destination` rooted.
void concatenate(Cell* destination, const Cell* source, int32_t count, uint32_t offset,
                 bool convert, int mode);
// Appends each byte as one code point (bytes 0x80..0xFF are Latin-1 characters and widen a
// unit-1 buffer as append_char does). The bytes may lie inside a series buffer.
void concatenate_cstring(Cell* str, const char* text);  // NUL-terminated
void concatenate_cstring(Cell* str, const char* text, uint32_t len);
inline void concatenate_cstring(Cell* str, std::string_view text) {
    concatenate_cstring(str, text.data(), uint32_t(text.size()));
}
void concatenate_bytes(Cell* str, const uint8_t* bytes, uint32_t n);

// ---------------------------------------------------------------------------------------------
// Loading.

enum Encoding : int { ENCODING_UTF8 = 0, ENCODING_UTF16LE = -1 };

// Decodes text into `out` (or a new argument-stack cell when null), which becomes a string!
// with head 0; returns that cell. UTF-8: `length` bytes, a leading byte order mark skipped.
// UTF-16LE: `length` 16-bit units, surrogate pairs joined. Line ends are kept as they are. Any
// other encoding raises script error invalid-arg with the encoding (nothing is changed).
// The source may lie inside a series buffer.
Cell* load(const uint8_t* source, uint32_t length, Cell* out, int encoding);
Cell* load_default(const uint8_t* source, uint32_t length, int encoding);
// The same into a new cell at the tail of the block value `block` (rooted); returns that cell
// (valid until the next allocation).
Cell* load_in(const uint8_t* source, uint32_t length, const Cell* block, int encoding);
// Makes `out` a string! of the UTF-8 bytes. Input that ends inside a sequence raises access
// error invalid-utf8 with a binary! of the bytes left undecoded; an invalid sequence raises the
// same error from the decoder.
void load_utf8_checked(const uint8_t* bytes, uint32_t length, Cell* out);

// ---------------------------------------------------------------------------------------------
// Hexadecimal digits and numbers. The texts live in static buffers overwritten by the next call
// of the same routine: copy them at once.

// Two uppercase digits.
const char* byte_to_hex(uint8_t byte);
// Eight uppercase digits (a negative number shows its two's complement, so padding is "F");
// with `short_form` a non-negative number gets only its significant digits, and 0 gives "00".
const char* int_to_hex(int32_t value, bool short_form);
// The number spelt by the ASCII text (leading blanks and a "+" allowed; 0 when it spells none).
double to_float(const uint8_t* text, uint32_t length);

// ---------------------------------------------------------------------------------------------
// Comparison and parse helpers.

// Type id of the parse dialect's part marker: a text reference whose data3, when not negative,
// gives the length to compare.
constexpr uint32_t T_PART_MARKER = 56;

// Compares two texts (text values or symbol! cells with their cache made) from their heads
// under a compare-op: -1, 0 or 1. With `match`, answers 0 when the first text begins with the
// second (an empty second text matches: 0, or 1 under COMP_FIND).
int32_t compare_parts(const Cell* a, const Cell* b, int op, bool match);
// True when the text at its head starts with the value: a text value, a symbol! cell or a char!.
bool match_q(const Cell* str, const Cell* value, int op);
// True when the character at the head is in the bitset (a code point beyond the bitset's bits
// takes its complement flag).
bool head_in_bitset_q(const Cell* str, const Cell* bitset);
// True when the head character is "<" and the character just past the tag's length is ">".
bool tag_brackets_q(const Cell* str, const Cell* tag);

}  // namespace kov::string
