// The unicode module: conversions between the runtime's text buffers (one code point per 1-, 2-
// or 4-byte unit) and UTF-8, UTF-16LE and Windows-1251 bytes; in-place widening of text buffers;
// case mapping; terminal column widths.
//
// Text buffers: unit 1 holds code points 0..0xFF (Latin-1), unit 2 0..0xFFFF, unit 4 anything
// up to 0x10FFFF, little-endian; element i lies at the buffer's head + (i << log2(unit)).
//
// Memory rules that every caller must keep:
// - Routines that take a text value (Cell*) may allocate, which may move buffers and collect:
//   the cell must be rooted and stay where it is (on the argument stack or under a root guard;
//   not a cell inside a block, which moves with the block's buffer); the routines re-read the
//   node from the cell after every allocation, and some write the cell (its conversion buffer
//   in data3, a head set back to the tail).
// - A returned node (load_utf8, load_utf8_new, load_utf16le, load_cp1251 without a target) is
//   not rooted: store it in a rooted cell before anything else allocates.
// - Byte sources may lie inside a series buffer (a binary! body): the loaders copy such input
//   aside first, so it stays valid while they allocate.
// - An address returned from a conversion buffer (to_utf8_bytes, to_utf16...) is valid until the
//   next conversion of that value and until the next allocation (the buffer may move).
#pragma once

#include <cstdint>
#include <string>

#include "core/memory.hpp"
#include "core/value.hpp"

namespace kov::unicode {

// Buffer flag set by the UTF-16LE loader on the buffers it fills.
constexpr uint32_t SER_FROM_UTF16 = 0x40000;

// ---------------------------------------------------------------------------------------------
// Plain UTF-8 output for C++ callers.
//
// Appends to `out` the UTF-8 form of the units [from_index, to_index) of the text buffer held by
// `node` (indexes count units from the buffer's first element; to_index is cut to the tail, and
// nothing is written when from_index >= to_index). It does not allocate in the value arena, so
// the node need not be rooted. A unit above 0x10FFFF raises script error invalid-char.
void append_utf8(std::string& out, Handle node, uint32_t from_index, uint32_t to_index);
// The same for a text value (string!, file!, url!, tag!, email!, ref!) from its head to its tail.
void append_utf8(std::string& out, const Cell* text);

// ---------------------------------------------------------------------------------------------
// Decoding UTF-8.

// Table-driven decoder of one sequence. Stores the code point, or -1 for a rejected sequence
// (decoding then stops before the rejecting byte; the lead byte is always consumed), and returns
// the address after what it consumed. It reads until the sequence completes or is rejected, so
// the input must end with a byte that cannot continue a sequence (NUL does) or be complete.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& cp);
// Number of sequences (code points, rejected sequences counting one each) in [start, end).
int32_t utf8_length_q(const uint8_t* start, const uint8_t* end);
// Address after n code points from p, never past limit.
const uint8_t* utf8_skip(const uint8_t* p, const uint8_t* limit, int32_t n);
// 4 when the top four bits of the lead byte are set, 3 for the top three, 2 for the top two,
// else 0.
int utf8_char_size_q(uint8_t lead);

// Validating decode of one sequence at p. `count` in: the bytes available; out: the sequence
// length. Returns the code point, or -1 when the sequence needs more bytes than are available.
// An invalid sequence raises access error invalid-utf8 with a binary! of the bytes at p (4, or
// fewer when fewer are available).
int32_t decode_utf8(const uint8_t* p, int32_t& count);

// The same without raising: -1 when more bytes are needed, -2 for an invalid sequence (count
// then 1). For readers that substitute their own replacement.
constexpr int32_t UTF8_SHORT = -1;
constexpr int32_t UTF8_INVALID = -2;
int32_t decode_utf8_status(const uint8_t* p, int32_t& count);

// Decodes `count` bytes and appends the text at the tail of `target` (a text buffer's node), or
// of a new buffer when target is 0; returns the buffer's node. A leading byte order mark is
// skipped (when more than 2 bytes are given). With crlf, CR LF and a lone CR become LF. The
// buffer is widened as wider code points arrive. When the input ends inside a sequence, the
// number of bytes left undecoded goes to *remaining (0 when all were used; remaining may be
// null). An invalid sequence raises access error invalid-utf8 (the text decoded so far stays).
Handle load_utf8(const uint8_t* bytes, uint32_t count, Handle target, bool crlf,
                 uint32_t* remaining);
// The same into the buffer of a text value (rooted).
void load_utf8_into(const uint8_t* bytes, uint32_t count, Cell* text, bool crlf,
                    uint32_t* remaining);
// A new buffer from UTF-8 bytes, without line-end conversion.
Handle load_utf8_new(const uint8_t* bytes, uint32_t count);

// ---------------------------------------------------------------------------------------------
// Decoding UTF-16LE.

// The unit that `units` UTF-16LE units need: 4 when any unit's high byte is 0xD8..0xDF, else 2
// when any high byte is non-zero, else 1.
int utf16_unit_q(const uint8_t* p, uint32_t units);
// Decodes `units` UTF-16LE units (p may be null for none) into the buffer of `target` (a rooted
// text value), replacing its text, or into a new buffer when target is null; returns the node.
// Surrogate pairs are joined; a surrogate that is not part of a pair is kept as its own code
// point. With crlf every CR unit is dropped. The buffer gets the flag SER_FROM_UTF16.
Handle load_utf16le(const uint8_t* p, uint32_t units, Cell* target, bool crlf);

// ---------------------------------------------------------------------------------------------
// Encoding.

// UTF-8 length of a code point: 1 up to 0x7F, 2 up to 0x7FF, 3 up to 0xFFFF, 4 up to 0x10FFFF;
// above, script error invalid-char.
int utf8_size_of(uint32_t cp);
// UTF-8 byte count of the units [head, tail) of the given unit width (invalid-char as above).
uint32_t utf8_byte_count(const uint8_t* head, const uint8_t* tail, uint32_t unit);
// Writes the UTF-8 form (1 to 4 bytes) and returns its length; surrogates are encoded like any
// other code point; above 0x10FFFF, script error invalid-char with the code point.
int encode_utf8(uint32_t cp, uint8_t* out);
// As encode_utf8, but writes only the leading bytes that fit in `room` (a sequence may be cut);
// returns the bytes written.
int encode_utf8_limited(uint32_t cp, uint8_t* out, int room);

// NUL-terminated UTF-8 of a text value from its head, in the value's conversion buffer (a byte
// series whose node is kept in data3). `limit` in: code points to convert, -1 for all; out: the
// byte count without the NUL.
const uint8_t* to_utf8_bytes(Cell* text, int32_t& limit);
// The same with every LF written as CR LF.
const uint8_t* to_utf8_bytes_eol(Cell* text, int32_t& limit);
// UTF-8 of a text value from its head, `limit` code points (-1: to the tail), into an area that
// the caller sized (utf8_byte_count, plus 1 with nul); a NUL is added when `nul` is set. Returns
// the bytes written without the NUL. Does not allocate.
uint32_t encode_utf8_into(const Cell* text, uint8_t* out, int32_t limit, bool nul);
// As encode_utf8_into, but never writes more than `room` bytes (the NUL included): writing
// stops when the room is used up, and the last sequence may be cut.
uint32_t encode_utf8_bounded(const Cell* text, uint8_t* out, uint32_t room, int32_t limit,
                             bool nul);

// Writes the UTF-16LE form: 1 unit below 0x10000, a surrogate pair up to 0x10FFFF, nothing
// above; returns the units written.
int encode_utf16le(uint32_t cp, uint8_t* out);
// NUL-terminated UTF-16LE of the whole text from its head, in the conversion buffer, LF written
// as CR LF. Null when a code point is above 0x10FFFF.
const uint8_t* to_utf16(Cell* text);
// The same for `limit` code points (-1: to the tail), CR LF only with crlf. `limit` out: the
// UTF-16 units written (without the NUL), 0 with a null result.
const uint8_t* to_utf16_part(Cell* text, int32_t& limit, bool crlf);
// Bytes to add to 2 x code points for a UTF-16 conversion of the units [head, tail): 2 for each
// LF and 2 for each code point of 0x10000 or more.
uint32_t utf16_extra_bytes(const uint8_t* head, const uint8_t* tail, uint32_t unit);

// ---------------------------------------------------------------------------------------------
// In-place widening of a text buffer (the node stays, the buffer may move): enlarged when it has
// less than (units x new width) + new width bytes from its head, the units converted from the
// last to the first, the unit bits set. Returns the buffer to use from now on.
SeriesBuffer* latin1_to_ucs2(SeriesBuffer* buf);
SeriesBuffer* latin1_to_ucs4(SeriesBuffer* buf);
SeriesBuffer* ucs2_to_ucs4(SeriesBuffer* buf);

// ---------------------------------------------------------------------------------------------
// Other conversions.

// Each byte of the NUL-terminated text widened to a 2-byte unit, then a 2-byte NUL.
void ascii_to_utf16(const char* text, uint8_t* out);
// Decodes Windows-1251 bytes and appends the text at the tail of the target value's buffer (a
// rooted text value), or of a new buffer when target is null; returns the node. The undefined
// byte 0x98 maps to U+0098. With crlf, CR LF and a lone CR become LF.
Handle load_cp1251(const uint8_t* bytes, uint32_t count, Cell* target, bool crlf);

// ---------------------------------------------------------------------------------------------
// Case mapping (Unicode 11.0 mappings; a mapping to several code points keeps its first).

// Fills the two lookup arrays for the Basic Multilingual Plane. Run once at start-up; before
// it, every code point up to 0xFFFF maps to itself.
void init_case_tables();
// The upper-case (upper = true) or lower-case form of a code point; unchanged without mapping.
uint32_t change_case_char(uint32_t cp, bool upper);
uint32_t to_upper_char(uint32_t cp);
// The upper-case form when it differs, else the lower-case form.
uint32_t toggle_case(uint32_t cp);

// The work of the uppercase and lowercase natives, in place: a char! gets its mapped code point;
// a text value is mapped from its head to its tail, or over `part` (null or none!: no part; an
// integer! count, negative as 0; a value of the same type on the same buffer: the difference of
// the heads, negative as 0; the count is cut to the tail). Any other part raises script error
// invalid-refine-arg with the word part and the argument. The buffer widens when a mapped code
// point needs a wider unit. `value` must be rooted.
void change_case(Cell* value, const Cell* part, bool upper);

// Services of modules written apart from this one, filled at start-up. A null entry is skipped.
struct Services {
    // Writes the word `part` into `out` (argument of invalid-refine-arg).
    void (*part_word)(Cell* out);
    // ownership/check after a case change in place: the value, the action name ("uppercase" or
    // "lowercase"), the head index and the count. Called only for buffers with SER_OWNED.
    int (*ownership_check)(const Cell* value, const char* action, uint32_t index, uint32_t count);
};
extern Services services;

// ---------------------------------------------------------------------------------------------
// Terminal column widths.

// True when cp lies in one of the inclusive (low, high) ranges of `list` (n_ints integers).
bool in_ranges_q(uint32_t cp, const uint32_t* list, uint32_t n_ints);
// 0 for U+0000; 1 for the C0 controls and 0x7F..0x9F; 0 for zero-width characters; 2 for wide
// characters; 1 otherwise.
int char_width(uint32_t cp);
// 2 for an East Asian ambiguous-width character, else char_width.
int char_width_cjk(uint32_t cp);

}  // namespace kov::unicode
