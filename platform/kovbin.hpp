// Kovbin: the serialised form of language values. A buffer is the 8-byte header ("KOVBIN",
// version, flags: bit 0 compact form, bit 1 LZ-compressed body, bit 2 symbol table) and a body in
// the compact form (bytes and LEB128 varints) or the record form (32-bit words). Values that
// occur more than once (shared series, shared contexts, cycles) are written once and referred
// back to through an index path from the output block.
//
// Two word-binding variants: the boot variant (the start-up payload: words name their context by
// a root index, and definitions set words as they are read) and the codec variant (everything
// the encoders write: a word's owning object or function travels with its first word).
//
// Memory: the decoder copies its input first (callers may pass bytes inside a series buffer) and
// builds values directly in their containers, all reachable from the output block; the encoders
// walk the value with the collector off, write into C++ buffers and make the binary at the end.
// Nesting deeper than MAX_DEPTH raises internal too-deep in either direction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/value.hpp"

namespace kov::kovbin {

constexpr uint32_t MAX_DEPTH = 1000;
constexpr uint8_t FLAG_COMPACT = 1, FLAG_COMPRESSED = 2, FLAG_SYMBOLS = 4;
constexpr uint8_t VERSION = 2;

// True once a codec routine or an encoder has run: decoding then reads the codec variant.
extern bool codec_q;
// After a boot decode: the root block position of the first decoded value (the literal table).
extern uint32_t literal_base;

// Decodes `length` bytes and appends the values to the block value `out_block` (rooted). With
// `raise_errors` a bad magic or corrupt compressed data raises script invalid-data with
// `culprit` (or none); otherwise (the start-up) it prints the report and ends the process with
// status 2.
// Structural violations raise script kb-invalid-record with the 1-based offset of the failing
// read; values that cannot be loaded raise access no-codec. Values appended before a failure
// stay in the block.
void decode(const uint8_t* data, size_t length, const Cell* out_block, bool raise_errors,
            const Cell* culprit = nullptr);
// The start-up decode of the boot payload into the root block, with the collector off and the
// boot variant; keeps literal_base unless `keep_table` is false.
void decode_boot(const uint8_t* payload, size_t length, bool keep_table);
// The codec's decode: a binary! (more than 10 bytes) decoded in the codec variant; the value
// itself when there is exactly one, else the block, into `out` (rooted).
void codec_decode(const Cell* data, Cell* out);

// Encoders: a new binary! in `out` (rooted) holding the value in the record form (encode) or
// the compact form (encode_compact). routine!, triple!, handle!, port!, event! (and an op! made
// from a routine!) raise access no-codec; vector! and image! raise internal not-done.
void encode(const Cell* value, Cell* out);
void encode_compact(const Cell* value, Cell* out);

}  // namespace kov::kovbin
