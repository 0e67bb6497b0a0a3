// string! storage: reading, writing, widening, concatenating and loading text buffers of 1-, 2-
// or 4-byte units. See string.hpp for the widening rules and the memory rules.
#include "datatypes/string.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/unicode.hpp"

namespace kov::string {

using memory::buffer_of;

namespace {

// ---------------------------------------------------------------------------------------------
// Units.

[[noreturn]] void bad_unit() { runtime::runtime_error(FATAL_NO_SWITCH, 0); }

inline int shift_of(uint32_t unit) {
    switch (unit) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        default: bad_unit();
    }
}

inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1: *p = uint8_t(cp); return;
        case 2: { uint16_t v = uint16_t(cp); std::memcpy(p, &v, 2); return; }
        case 4: std::memcpy(p, &cp, 4); return;
        default: bad_unit();
    }
}

// The unit a character needs when appended, and when written at a position.
inline uint32_t append_unit(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }
inline uint32_t position_unit(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Capacity of a buffer in elements, from its first element.
inline uint32_t capacity_of(const SeriesBuffer* b, int shift) {
    return (uint32_t(b->size) - b->head) >> shift;
}

// Makes room for `bytes` more bytes past the tail; returns the buffer to use.
SeriesBuffer* room_for(SeriesBuffer* b, uint32_t bytes) {
    if (uint64_t(b->tail) + bytes <= uint64_t(uint32_t(b->size))) return b;
    uint64_t want = (uint64_t(b->used()) + bytes) * 2;
    if (want > 0x7FFF0000u) want = uint64_t(b->used()) + bytes;
    return buffer::expand_copy(b, int64_t(want));
}

// Head index of a text value, clamped to its length (the value is not written).
inline uint32_t head_of(const Cell* str, const SeriesBuffer* b) {
    return std::min(str->data1, b->length());
}

// A text value or symbol! cell as a plain text reference (a symbol's spelling from index 0).
inline Cell text_ref(const Cell* c) {
    if (c->is(T_SYMBOL)) return Cell{T_STRING, 0, c->data2, 0};
    return *c;
}

// Length of a text reference from its head (a part marker may give its own).
uint32_t ref_length(const Cell* c) {
    uint32_t len = length(c);
    if (c->is(T_PART_MARKER) && int32_t(c->data3) >= 0) len = std::min(len, c->data3);
    return len;
}

// Appends Latin-1 bytes (the source is stable: not inside the arena).
void append_latin1(Cell* str, const uint8_t* src, uint32_t n) {
    if (n == 0) return;
    bool high = false;
    for (uint32_t i = 0; i < n && !high; i++) high = src[i] >= 0x80;
    SeriesBuffer* b = buffer_of(str->data2);
    if (high && b->unit() == 1) widen_to(b, 1, 2);
    uint32_t unit = buffer_of(str->data2)->unit();
    int shift = shift_of(unit);
    uint8_t* p = buffer::reserve_tail(str->data2, n << shift);
    switch (unit) {
        case 1: std::memcpy(p, src, n); break;
        case 2:
            for (uint32_t i = 0; i < n; i++) put_char(p + 2 * i, 2, src[i]);
            break;
        default:
            for (uint32_t i = 0; i < n; i++) put_char(p + 4 * i, 4, src[i]);
            break;
    }
}

void append_bytes_any(Cell* str, const uint8_t* src, uint32_t n) {
    if (n == 0) return;
    if (memory::in_arena(src)) {
        std::vector<uint8_t> copy(src, src + n);
        append_latin1(str, copy.data(), n);
    } else {
        append_latin1(str, src, n);
    }
}

// The scratch area of swap_adjacent.
std::unique_ptr<uint8_t[]> scratch;
uint32_t scratch_size = SWAP_SCRATCH_BYTES;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Making.

void make_at(Cell* out, uint32_t n, uint32_t unit) { make_at_unit(out, n, unit); }

void ks_make_at(Cell* out, uint32_t n) { make_at_unit(out, n, 1); }

void make_at_unit(Cell* out, uint32_t n, uint32_t unit) {
    shift_of(unit);
    *out = Cell{T_UNSET, 0, 0, 0};
    Handle node = memory::make_string_buffer(n ? n : 1, unit);
    *out = Cell{T_STRING, 0, node, 0};
}

Cell* push(const Cell* str) { return stack::push(str); }

void reset(Cell* str) {
    SeriesBuffer* b = buffer_of(str->data2);
    b->tail = b->head;
    b->flags = (b->flags & ~SER_UNIT_MASK) | 1;
    str->data1 = 0;
}

// ---------------------------------------------------------------------------------------------
// Reading.

uint8_t* ks_head(Cell* str) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t n = b->length();
    if (str->data1 > n) str->data1 = n;
    return b->head_ptr() + (size_t(str->data1) << shift_of(b->unit()));
}

uint8_t* tail_address(const Cell* str) { return buffer_of(str->data2)->tail_ptr(); }

bool at_tail_q(const Cell* str) { return str->data1 >= buffer_of(str->data2)->length(); }

uint32_t char_count(Cell* str) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t n = b->length();
    if (str->data1 > n) str->data1 = n;
    return n - str->data1;
}

uint32_t buffer_char_count(const Cell* str) { return buffer_of(str->data2)->length(); }

uint32_t length(const Cell* str) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t n = b->length();
    return str->data1 >= n ? 0 : n - str->data1;
}

uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
        case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
        default: bad_unit();
    }
}

uint32_t char_at(const Cell* str, uint32_t position) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t unit = b->unit();
    return get_char(b->head_ptr() + (size_t(position) << shift_of(unit)), unit);
}

int32_t find_char(const Cell* str, uint32_t cp) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t unit = b->unit();
    int shift = shift_of(unit);
    uint32_t head = head_of(str, b), n = b->length();
    const uint8_t* p = b->head_ptr();
    for (uint32_t i = head; i < n; i++)
        if (get_char(p + (size_t(i) << shift), unit) == cp) return int32_t(i - head);
    return -1;
}

bool has_char_q(uint32_t cp, const Cell* str, uint32_t step, bool exact) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t unit = b->unit();
    int shift = shift_of(unit);
    if (step == 0) step = 1;
    if (!exact) cp = unicode::change_case_char(cp, true);
    const uint8_t* p = b->head_ptr();
    for (uint64_t i = head_of(str, b), n = b->length(); i < n; i += step) {
        uint32_t c = get_char(p + (size_t(i) << shift), unit);
        if (!exact) c = unicode::change_case_char(c, true);
        if (c == cp) return true;
    }
    return false;
}

bool starts_with_cstring_q(const Cell* str, const char* text) {
    SeriesBuffer* b = buffer_of(str->data2);
    uint32_t unit = b->unit();
    int shift = shift_of(unit);
    uint32_t i = head_of(str, b), n = b->length();
    const uint8_t* p = b->head_ptr();
    for (const uint8_t* t = reinterpret_cast<const uint8_t*>(text); *t; t++, i++) {
        if (i >= n) return false;
        if (get_char(p + (size_t(i) << shift), unit) != *t) return false;
    }
    return true;
}

std::string to_utf8(const Cell* str) {
    std::string out;
    unicode::append_utf8(out, str);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Writing characters.

SeriesBuffer* append_char_slow(SeriesBuffer* b, uint32_t cp) {
    for (;;) {
        uint32_t unit = b->unit();
        switch (unit) {
            case 1:
                if (cp >= 0x80) {
                    b = widen_to(b, 1, append_unit(cp));
                    continue;
                }
                break;
            case 2:
                if (cp >= 0x10000) {
                    b = widen_to(b, 2, 4);
                    continue;
                }
                break;
            case 4: break;
            default: bad_unit();
        }
        if (b->tail + unit > uint32_t(b->size)) b = room_for(b, unit);
        put_char(b->tail_ptr(), unit, cp);
        b->tail += unit;
        return b;
    }
}

SeriesBuffer* overwrite_char(SeriesBuffer* b, uint32_t position, uint32_t cp) {
    uint32_t unit = b->unit();
    if (position_unit(cp) > unit) b = widen_to(b, unit, position_unit(cp));
    unit = b->unit();
    int shift = shift_of(unit);
    if (position >= capacity_of(b, shift)) {
        // Doubling covers a write at the tail; a position farther out gets what it needs.
        uint64_t want = std::max<uint64_t>(uint64_t(uint32_t(b->size)) * 2,
                                           (uint64_t(position) + 1) << shift);
        if (want > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
        b = buffer::expand_copy(b, int64_t(want));
    }
    uint32_t n = b->length();
    if (position > n) std::memset(b->tail_ptr(), 0, size_t(position - n) << shift);
    put_char(b->head_ptr() + (size_t(position) << shift), unit, cp);
    if (position >= n) b->tail = b->head + ((position + 1) << shift);
    return b;
}

SeriesBuffer* insert_char(SeriesBuffer* b, uint32_t position, uint32_t cp) {
    uint32_t unit = b->unit();
    if (position_unit(cp) > unit) b = widen_to(b, unit, position_unit(cp));
    unit = b->unit();
    int shift = shift_of(unit);
    b = room_for(b, unit);
    position = std::min(position, b->length());
    uint8_t* at = b->head_ptr() + (size_t(position) << shift);
    std::memmove(at + unit, at, size_t(b->tail_ptr() - at));
    put_char(at, unit, cp);
    b->tail += unit;
    return b;
}

SeriesBuffer* store_char(SeriesBuffer* b, uint8_t* address, uint32_t cp) {
    uint32_t unit = b->unit();
    if (position_unit(cp) > unit) {
        size_t index = size_t(address - b->head_ptr()) >> shift_of(unit);
        b = widen_to(b, unit, position_unit(cp));
        unit = b->unit();
        address = b->head_ptr() + (index << shift_of(unit));
    }
    put_char(address, unit, cp);
    return b;
}

void remove_char(Cell* str, uint32_t position) { remove_chars(str, position, 1); }

void remove_chars(Cell* str, uint32_t position, uint32_t n) {
    SeriesBuffer* b = buffer_of(str->data2);
    int shift = shift_of(b->unit());
    uint32_t len = b->length();
    if (position >= len) return;
    n = std::min(n, len - position);
    uint8_t* at = b->head_ptr() + (size_t(position) << shift);
    size_t gap = size_t(n) << shift;
    std::memmove(at, at + gap, size_t(b->tail_ptr() - at) - gap);
    b->tail -= uint32_t(gap);
}

void note_min_change(SeriesBuffer* b, uint32_t n) {
    int shift = shift_of(b->unit());
    if (n <= capacity_of(b, shift) && (uint64_t(n) << shift) < b->used())
        b->tail = b->head + (n << shift);
}

void move_chars(Cell* source, Cell* destination, uint32_t n) {
    collector::Root src(*source);
    n = std::min(n, char_count(src.get()));
    uint32_t from = src->data1;
    std::vector<uint32_t> chars(n);
    {
        SeriesBuffer* b = buffer_of(src->data2);
        uint32_t unit = b->unit();
        int shift = shift_of(unit);
        for (uint32_t i = 0; i < n; i++)
            chars[i] = get_char(b->head_ptr() + (size_t(from + i) << shift), unit);
    }
    bool same = src->data2 == destination->data2;
    if (same) remove_chars(src.get(), from, n);
    SeriesBuffer* d = buffer_of(destination->data2);
    uint32_t at = std::min(destination->data1, d->length());
    for (uint32_t i = 0; i < n; i++) d = insert_char(d, at + i, chars[i]);
    if (!same) remove_chars(src.get(), from, n);
    source->data1 = src->data1;
}

void swap_adjacent(uint8_t* first, uint32_t first_bytes, uint32_t second_bytes) {
    if (first_bytes == 0 || second_bytes == 0) return;
    uint32_t shorter = std::min(first_bytes, second_bytes);
    if (!scratch) scratch.reset(new uint8_t[SWAP_SCRATCH_BYTES]);
    uint32_t previous = scratch_size;
    std::unique_ptr<uint8_t[]> kept;
    if (shorter > scratch_size) {
        kept = std::move(scratch);
        scratch.reset(new uint8_t[shorter]);
        scratch_size = shorter;
    }
    uint8_t* second = first + first_bytes;
    if (first_bytes <= second_bytes) {
        std::memcpy(scratch.get(), first, first_bytes);
        std::memmove(first, second, second_bytes);
        std::memcpy(first + second_bytes, scratch.get(), first_bytes);
    } else {
        std::memcpy(scratch.get(), second, second_bytes);
        std::memmove(first + second_bytes, first, first_bytes);
        std::memcpy(first, scratch.get(), second_bytes);
    }
    if (kept) {
        scratch = std::move(kept);
        scratch_size = previous;
    }
}

uint32_t swap_scratch_bytes() { return scratch_size; }

// ---------------------------------------------------------------------------------------------
// Widening.

SeriesBuffer* widen_to(SeriesBuffer* b, uint32_t current, uint32_t wanted) {
    shift_of(current);
    shift_of(wanted);
    if (wanted <= current) return b;
    if (current == 1) return wanted == 2 ? unicode::latin1_to_ucs2(b) : unicode::latin1_to_ucs4(b);
    return unicode::ucs2_to_ucs4(b);
}

SeriesBuffer* widen_copy(SeriesBuffer* b, SeriesBuffer* target, uint32_t capacity, uint32_t unit) {
    uint32_t from = b->unit();
    int from_shift = shift_of(from);
    shift_of(unit);
    unit = std::max(unit, from);
    int shift = shift_of(unit);
    uint32_t n = b->length();
    Handle node = b->node;
    if (!target) {
        // Grow with the text copied as it is, then widen it in place from the last unit down.
        uint64_t units = std::max<uint64_t>(capacity, uint64_t(n) + 1);
        uint64_t bytes = units << shift;
        if (bytes > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
        b = buffer::expand_copy(b, int64_t(bytes));
        return widen_to(b, from, unit);
    }
    Handle target_node = target->node;
    uint64_t need = std::max<uint64_t>(capacity, n) << shift;
    if (need > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    if (uint64_t(uint32_t(target->size)) - target->head < need)
        target = buffer::expand(target, int64_t(need));
    b = buffer_of(node);
    target = buffer_of(target_node);
    uint8_t* out = target->head_ptr();
    const uint8_t* in = b->head_ptr();
    if (unit == from) {
        std::memmove(out, in, size_t(n) << shift);
    } else {
        for (uint32_t i = 0; i < n; i++)
            put_char(out + (size_t(i) << shift), unit, get_char(in + (size_t(i) << from_shift), from));
    }
    target->flags = (target->flags & ~SER_UNIT_MASK) | unit;
    target->tail = target->head + (n << shift);
    return target;
}

// ---------------------------------------------------------------------------------------------
// Concatenation.

void concatenate(Cell* destination, const Cell* source, int32_t count, uint32_t offset,
                 bool convert, int mode) {
    if (mode != CONCAT_APPEND && mode != CONCAT_INSERT && mode != CONCAT_OVERWRITE) bad_unit();
    collector::Root src(text_ref(source));

    // 1. Units.
    uint32_t du = buffer_of(destination->data2)->unit();
    uint32_t su = buffer_of(src->data2)->unit();
    shift_of(du);
    shift_of(su);
    if (du < su) {
        widen_to(buffer_of(destination->data2), du, su);
        du = su;
    } else if (su < du && !convert) {
        widen_to(buffer_of(src->data2), su, du);
        su = du;
    }
    int shift = shift_of(du);

    // 2. Size.
    uint32_t n = length(src.get());
    if (count >= 0 && uint32_t(count) < n) n = uint32_t(count);
    uint64_t bytes64 = uint64_t(n) << shift;
    if (bytes64 == 0) return;
    if (bytes64 > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    uint32_t bytes = uint32_t(bytes64);

    // 3. Room.
    SeriesBuffer* d = buffer_of(destination->data2);
    if (uint64_t(d->tail) + bytes > uint64_t(uint32_t(d->size))) {
        uint64_t want = (uint64_t(d->used()) + bytes) * 2;
        if (want > 0x7FFF0000u) want = uint64_t(d->used()) + bytes;
        d = buffer::expand_copy(d, int64_t(want));
    }

    uint32_t old_len = d->length();
    uint32_t head = std::min(destination->data1, old_len);
    offset = std::min(offset, old_len - head);
    uint32_t at = mode == CONCAT_APPEND ? old_len : head + offset;

    // The source's text, set aside when it lies in the destination's own buffer.
    std::vector<uint8_t> aside;
    bool same = src->data2 == destination->data2;
    if (same) {
        SeriesBuffer* s = buffer_of(src->data2);
        const uint8_t* p = s->head_ptr() + (size_t(head_of(src.get(), s)) << shift);
        aside.assign(p, p + bytes);
    }

    // 4. Room at the offset.
    if (mode == CONCAT_INSERT) {
        uint8_t* p = d->head_ptr() + (size_t(at) << shift);
        std::memmove(p + bytes, p, size_t(d->tail_ptr() - p));
    }

    // 5.-6. The text.
    if (su != du) {
        // A narrower source converted character by character; the destination is wider, so the
        // writes never widen it and never reallocate (the room is made above).
        int sshift = shift_of(su);
        for (uint32_t i = 0; i < n; i++) {
            SeriesBuffer* s = buffer_of(src->data2);
            uint32_t cp = get_char(s->head_ptr() + (size_t(src->data1 + i) << sshift), su);
            d = buffer_of(destination->data2);
            if (mode == CONCAT_APPEND) {
                append_char(d, cp);
            } else {
                int dshift = shift_of(d->unit());
                store_char(d, d->head_ptr() + (size_t(at + i) << dshift), cp);
            }
        }
    } else {
        uint8_t* out = d->head_ptr() + (size_t(at) << shift);
        if (same) {
            std::memcpy(out, aside.data(), bytes);
        } else {
            SeriesBuffer* s = buffer_of(src->data2);
            std::memmove(out, s->head_ptr() + (size_t(src->data1) << shift), bytes);
        }
    }

    // 7. Tail.
    d = buffer_of(destination->data2);
    int dshift = shift_of(d->unit());
    uint32_t new_len;
    switch (mode) {
        case CONCAT_APPEND: new_len = old_len + n; break;
        case CONCAT_INSERT: new_len = old_len + n; break;
        default: new_len = std::max(old_len, at + n); break;
    }
    d->tail = d->head + (new_len << dshift);
}

void concatenate_cstring(Cell* str, const char* text) {
    append_bytes_any(str, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

void concatenate_cstring(Cell* str, const char* text, uint32_t len) {
    append_bytes_any(str, reinterpret_cast<const uint8_t*>(text), len);
}

void concatenate_bytes(Cell* str, const uint8_t* bytes, uint32_t n) {
    append_bytes_any(str, bytes, n);
}

// ---------------------------------------------------------------------------------------------
// Loading.

Cell* load(const uint8_t* source, uint32_t length, Cell* out, int encoding) {
    if (encoding != ENCODING_UTF8 && encoding != ENCODING_UTF16LE) {
        Cell arg{T_INTEGER, 0, uint32_t(encoding), 0};
        stack::raise_error("script", "invalid-arg", {&arg});
    }
    // The source may lie in a buffer that the first allocation moves.
    std::vector<uint8_t> aside;
    if (source && length && memory::in_arena(source)) {
        size_t n = encoding == ENCODING_UTF8 ? length : size_t(length) * 2;
        aside.assign(source, source + n);
        source = aside.data();
    }
    if (!out) out = stack::push_slot();
    *out = Cell{T_UNSET, 0, 0, 0};
    Handle node = encoding == ENCODING_UTF8 ? unicode::load_utf8_new(source, length)
                                            : unicode::load_utf16le(source, length, nullptr, false);
    *out = Cell{T_STRING, 0, node, 0};
    return out;
}

Cell* load_default(const uint8_t* source, uint32_t length, int encoding) {
    return load(source, length, nullptr, encoding);
}

Cell* load_in(const uint8_t* source, uint32_t length, const Cell* block, int encoding) {
    collector::Root made;
    load(source, length, made.get(), encoding);
    Cell* c = buffer::alloc_block_tail(block);
    *c = made.cell;
    return c;
}

void load_utf8_checked(const uint8_t* bytes, uint32_t length, Cell* out) {
    std::vector<uint8_t> aside;
    if (bytes && length && memory::in_arena(bytes)) {
        aside.assign(bytes, bytes + length);
        bytes = aside.data();
    }
    ks_make_at(out, length);
    uint32_t remaining = 0;
    unicode::load_utf8_into(bytes, length, out, false, &remaining);
    if (remaining == 0) return;
    Handle node = memory::make_bytes(remaining);
    SeriesBuffer* b = buffer_of(node);
    std::memcpy(b->tail_ptr(), bytes + (length - remaining), remaining);
    b->tail += remaining;
    collector::Root bin(Cell{T_BINARY, 0, node, 0});
    stack::raise_error("access", "invalid-utf8", {bin.get()});
}

// ---------------------------------------------------------------------------------------------
// Hexadecimal digits and numbers.

namespace {
constexpr char HEX[] = "0123456789ABCDEF";
char byte_hex[3];
char int_hex[9];
char zero_hex[3];
}  // namespace

const char* byte_to_hex(uint8_t byte) {
    byte_hex[0] = HEX[byte >> 4];
    byte_hex[1] = HEX[byte & 15];
    byte_hex[2] = 0;
    return byte_hex;
}

const char* int_to_hex(int32_t value, bool short_form) {
    if (short_form && value == 0) {
        zero_hex[0] = zero_hex[1] = '0';
        zero_hex[2] = 0;
        return zero_hex;
    }
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) int_hex[i] = HEX[v & 15];
    int_hex[8] = 0;
    if (!short_form || value < 0) return int_hex;
    const char* p = int_hex;
    while (*p == '0') p++;
    return p;
}

double to_float(const uint8_t* text, uint32_t length) {
    const char* p = reinterpret_cast<const char*>(text);
    const char* end = p + length;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    bool negative = false;
    if (p < end && *p == '+') p++;
    else if (p < end && *p == '-') { negative = true; p++; }
    if (p < end && (*p == '+' || *p == '-')) return 0.0;
    double value = 0;
    auto [after, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec == std::errc::invalid_argument) return 0.0;
    if (ec == std::errc::result_out_of_range) {
        // Overflow or underflow: the decimal exponent of the first significant digit decides.
        int64_t magnitude = 0;
        bool seen_point = false, significant = false;
        const char* q = p;
        for (; q < after && *q != 'e' && *q != 'E'; q++) {
            if (*q == '.') { seen_point = true; continue; }
            if (!significant && *q == '0') { if (seen_point) magnitude--; continue; }
            significant = true;
            if (!seen_point) magnitude++;
        }
        if (q < after) {
            int64_t e = 0;
            bool eneg = false;
            q++;
            if (q < after && (*q == '+' || *q == '-')) eneg = *q++ == '-';
            for (; q < after; q++) e = std::min<int64_t>(e * 10 + (*q - '0'), 1000000);
            magnitude += eneg ? -e : e;
        }
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

// ---------------------------------------------------------------------------------------------
// Comparison and parse helpers.

int32_t compare_parts(const Cell* a_in, const Cell* b_in, int op, bool match) {
    Cell a = text_ref(a_in), b = text_ref(b_in);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
                    op == COMP_FIND;
    if (a.data2 == b.data2 && a.data1 == b.data1 && (op == COMP_SAME || equality)) return 0;
    if (op == COMP_SAME) return -1;
    bool exact = op == COMP_STRICT_EQUAL || op == COMP_CASE_SORT;
    uint32_t la = length(&a), lb = ref_length(&b);
    SeriesBuffer* ba = buffer_of(a.data2);
    SeriesBuffer* bb = buffer_of(b.data2);
    uint32_t ua = ba->unit(), ub = bb->unit();
    int sa = shift_of(ua), sb = shift_of(ub);
    const uint8_t* pa = ba->head_ptr() + (size_t(a.data1) << sa);
    const uint8_t* pb = bb->head_ptr() + (size_t(b.data1) << sb);
    auto differ = [&](uint32_t n) -> int32_t {
        for (uint32_t i = 0; i < n; i++) {
            uint32_t x = get_char(pa + (size_t(i) << sa), ua);
            uint32_t y = get_char(pb + (size_t(i) << sb), ub);
            if (!exact) {
                x = unicode::change_case_char(x, true);
                y = unicode::change_case_char(y, true);
            }
            if (x != y) return x < y ? -1 : 1;
        }
        return 0;
    };
    if (match) {
        if (lb == 0) return op == COMP_FIND ? 1 : 0;
        if (la < lb) return 1;
        return differ(lb);
    }
    uint32_t n = la;
    if (la != lb) {
        if (equality || lb == 0) return 1;
        n = std::min(la, lb);
    }
    if (la == 0 && lb == 0) return 0;
    if (int32_t r = differ(n)) return r;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

bool match_q(const Cell* str, const Cell* value, int op) {
    if (value->is(T_CHAR)) {
        if (at_tail_q(str)) return false;
        uint32_t c = char_at(str, str->data1), v = value->data2;
        if (op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT) {
            c = unicode::change_case_char(c, true);
            v = unicode::change_case_char(v, true);
        }
        return c == v;
    }
    return compare_parts(str, value, op, true) == 0;
}

bool head_in_bitset_q(const Cell* str, const Cell* bitset) {
    constexpr uint32_t BITSET_COMPLEMENT = 0x80000;
    if (at_tail_q(str)) return false;
    uint32_t cp = char_at(str, str->data1);
    SeriesBuffer* b = buffer_of(bitset->data2);
    uint64_t bits = uint64_t(uint32_t(b->size) - b->head) * 8;
    if (cp >= bits) return (b->flags & BITSET_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

bool tag_brackets_q(const Cell* str, const Cell* tag) {
    uint32_t n = length(str);
    uint32_t t = length(tag);
    if (n == 0 || uint64_t(t) + 1 >= n) return false;
    return char_at(str, str->data1) == '<' && char_at(str, str->data1 + t + 1) == '>';
}

}  // namespace kov::string
