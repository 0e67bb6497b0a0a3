// binary!: the byte series. The raw byte routines that I/O, the console, checksums and the codecs
// call; the base-2, base-16, base-58 and base-64 encoders and decoders; byte-wise comparison;
// the byte image of a value (what to, append, insert and change put into a binary); and the
// action handlers (to, make, form, mold, compare, the bitwise actions, append, insert, change,
// trim). The position actions come from string! (or series!).
//
// A binary! value: data1 the head index in bytes from the buffer's first byte, data2 the node of
// a unit-1 buffer. The head index may lie past the tail after the series was shortened through
// another value; the routines below clamp it where they say so.
//
// Memory rules (see core/collector.hpp): routines that take a binary value and may allocate need
// it rooted and staying where it is (argument stack or a Root); they re-read the node from it
// after allocating. Byte sources may lie inside a series buffer: the writers copy them aside
// before growing. Addresses answered (ks_head, ks_tail) are good until the next allocation.
#pragma once

#include <cstdint>
#include <vector>

#include "core/action_table.hpp"
#include "core/value.hpp"

namespace kov::binary {

// ---- raw byte routines ----

// Bytes from the head to the tail (0 when the head lies past the tail).
int32_t ks_length(const Cell* bin);
// Moves the head by n bytes unless that passes the tail; true when the head is then at or past
// the tail.
bool ks_skip(Cell* bin, int32_t n);
inline bool ks_next(Cell* bin) { return ks_skip(bin, 1); }
uint8_t* ks_head(const Cell* bin);
uint8_t* ks_tail(const Cell* bin);
bool ks_tail_q(const Cell* bin);
// Drops the bytes from the head on (nothing when the head lies past the tail).
void ks_clear(const Cell* bin);
// The byte at an offset from the buffer's first byte.
uint8_t get_byte(const Cell* bin, uint32_t offset);
// Appends n bytes at the tail, growing the buffer when short.
void append_bytes(Cell* bin, const uint8_t* bytes, uint32_t n);
// Opens a gap of n bytes at head + offset (cut to the tail) and copies the bytes into it.
void insert_bytes(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Copies n bytes over the buffer at head + offset; the tail moves to their end when that is
// beyond it (bytes between the old tail and the offset read 0).
void write_bytes_at(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Appends a 32-bit integer as 4 bytes, most significant first.
void append_be32(Cell* bin, uint32_t value);
// Makes `out` an empty binary! (head 0) with room for n bytes; answers it.
Cell* make_at(Cell* out, uint32_t capacity);
// A new empty binary! at the tail of the block value (rooted); answers the cell (good until the
// next allocation).
Cell* make_in(const Cell* block, uint32_t capacity);
// A binary! holding a copy of the bytes, in a new cell at the tail of the block (rooted), or on
// the argument stack when block is null; answers the cell.
Cell* load_in(const uint8_t* bytes, uint32_t n, const Cell* block);
inline Cell* load(const uint8_t* bytes, uint32_t n) { return load_in(bytes, n, nullptr); }
// Pushes a copy of the cell on the argument stack.
Cell* push(const Cell* bin);
// The byte that poke stores: the low 8 bits of an integer! or char!; any other value raises
// script error invalid-arg with it.
uint8_t byte_of(const Cell* value);

// ---- comparison and matching ----

// Compares the bytes of two series from their heads under a compare-op: -1, 0 or 1, or
// NOT_COMPARABLE when b is not a binary or text value. Text is read as bytes of its unit. In
// match mode the answer is 0 when a begins with b; an a shorter than b never matches.
int32_t compare_bytes(const Cell* a, const Cell* b, int32_t op, bool match);
// True when the byte at the head is a member of the bitset (a byte past its stored bits answers
// its complement flag); false at the tail.
bool match_bitset_q(const Cell* bin, const Cell* bitset);
// At the head: a char! matches the byte of its code; a binary or text value matches when the
// bytes begin with its bytes (compare_bytes in match mode under `op`); nothing else matches.
bool match_value_q(const Cell* bin, const Cell* value, int32_t op);

// ---- base encodings ----

// Characters the encoder of a base writes for n bytes (base 58: the size of its work area).
uint32_t encoded_size(int base, uint32_t n);
// Encoders: write the text of the bytes at `out` and answer the address past the last character.
uint8_t* encode_base2(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* encode_base16(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* encode_base58(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* encode_base64(uint8_t* out, const uint8_t* in, uint32_t n);
// Decoders of text given as `units` code points of `unit` bytes (1, 2 or 4): the bytes, or false
// when the text is invalid. They do not allocate in the value arena.
bool decode_base2(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out);
bool decode_base16(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out);
bool decode_base58(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out);
bool decode_base64(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out);
// The text of a text value from its head decoded in base 2, 16, 58 or 64 into `out` (rooted) as
// a new binary!; false (out untouched) when the text is invalid or the base unknown.
bool decode_text(const Cell* text, int base, Cell* out);
// The bytes of a binary from its head encoded in base 2, 16, 58 or 64 into `out` (rooted) as a
// new string!; false for an unknown base.
bool encode_to_string(const Cell* bin, int base, Cell* out);

// ---- byte images ----

enum ImageMode : int { IMAGE_MEASURE = 0, IMAGE_WRITE = 1, IMAGE_CHANGE = 2 };
// Appends the byte image of a value to `out`: a char!'s UTF-8, an integer! as one byte
// (-128..255, else script error invalid-arg), a binary's bytes, a tuple's bytes, a text value's
// UTF-8 from its head, the images of a block's elements in order. `part` (below 0: none) limits
// bytes, or elements of a block without `only`. A value of another type is formed under
// IMAGE_CHANGE, and raises script error bad-to-arg otherwise. The value must be rooted (forming
// allocates).
void value_bytes(const Cell* value, std::vector<uint8_t>& out, int32_t part, bool only, int mode);

// ---- handlers ----

Cell* make(const Cell* proto, const Cell* spec, uint32_t type);
Cell* to(const Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* value, Cell* out, bool part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, bool part,
             int32_t limit, int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// and~, or~, xor~ (OP_AND, OP_OR, OP_XOR) of arguments 0 and 1 of the current frame: a new
// binary in arguments[0].
void do_bitwise(int op);
Cell* complement(Cell* value);
// `part` below 0: no /part; `dup` below 2: once.
Cell* append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);

// Registers binary! (parent string!, or series! while string! is not registered).
void init();

}  // namespace kov::binary
