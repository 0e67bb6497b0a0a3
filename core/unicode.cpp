// The unicode module: UTF-8, UTF-16LE and Windows-1251 conversions of text buffers, widening,
// case mapping and terminal column widths. See unicode.hpp for the memory rules.
#include "core/unicode.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/unicode_tables.hpp"

namespace kov::unicode {

Services services = {nullptr, nullptr};

namespace {

// ---------------------------------------------------------------------------------------------
// Units.

[[noreturn]] void bad_unit() { runtime::runtime_error(FATAL_NO_SWITCH, 0); }

inline int unit_shift(uint32_t unit) {
    switch (unit) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        default: bad_unit();
    }
}

inline uint32_t max_code_of(uint32_t unit) {
    return unit == 1 ? 0xFFu : unit == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}

inline uint32_t read_unit(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
        case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
        default: bad_unit();
    }
}

inline void write_unit(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1: *p = uint8_t(cp); return;
        case 2: { uint16_t v = uint16_t(cp); std::memcpy(p, &v, 2); return; }
        case 4: std::memcpy(p, &cp, 4); return;
        default: bad_unit();
    }
}

inline uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void write16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool is_text_type(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}

// Byte sizes handed to the memory manager must stay well inside a 32-bit signed size.
constexpr uint64_t MAX_BUFFER_BYTES = 0x7FFFFF00u;

uint32_t checked_size(uint64_t bytes) {
    if (bytes > MAX_BUFFER_BYTES) stack::raise_error("internal", "no-memory");
    return uint32_t(bytes);
}

// ---------------------------------------------------------------------------------------------
// Errors.

[[noreturn]] void raise_invalid_char(uint32_t cp) {
    Cell arg{T_INTEGER, 0, cp, 0};
    stack::raise_error("script", "invalid-char", {&arg});
}

// The argument is a binary! of the bytes at the failing position: 4 of them, or what is left of
// the input when that is less (never bytes past the input).
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, uint32_t available) {
    uint8_t bytes[4];
    uint32_t n = std::min<uint32_t>(4, available);
    std::memcpy(bytes, p, n);  // p may move with the allocation below
    Handle node = memory::make_bytes(n);
    SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->tail_ptr(), bytes, n);
    b->tail += n;
    collector::Root bin(Cell{T_BINARY, 0, node, 0});
    stack::raise_error("access", "invalid-utf8", {bin.get()});
}

// ---------------------------------------------------------------------------------------------
// Input that may live inside a series buffer is copied aside, since any allocation may move it.

struct StableSource {
    std::vector<uint8_t> copy;
    const uint8_t* p;
    StableSource(const uint8_t* src, size_t n) : p(src) {
        if (src && n && memory::arena && memory::in_arena(src)) {
            copy.assign(src, src + n);
            p = copy.data();
        }
    }
};

// A string! of a node, to be rooted for the span of a conversion.
inline Cell text_cell(Handle node) { return Cell{T_STRING, 0, node, 0}; }

// ---------------------------------------------------------------------------------------------
// Buffer growth and widening.

// Makes room for `extra_bytes` more bytes after the tail of the value's buffer.
SeriesBuffer* ensure_room(Cell* text, uint64_t extra_bytes) {
    SeriesBuffer* b = memory::buffer_of(text->data2);
    if (uint64_t(b->tail) + extra_bytes > uint64_t(uint32_t(b->size)))
        b = buffer::expand_copy(b, checked_size(uint64_t(b->used()) + extra_bytes));
    return b;
}

template <class From, class To>
void widen_units(uint8_t* head, uint32_t n) {
    const From* src = reinterpret_cast<const From*>(head);
    To* dst = reinterpret_cast<To*>(head);
    for (uint32_t i = n; i-- > 0;) dst[i] = To(src[i]);
}

// Widens the buffer to `to` bytes a unit, with at least min_bytes of room from the head.
SeriesBuffer* widen_buffer(SeriesBuffer* b, uint32_t to, uint64_t min_bytes) {
    uint32_t from = b->unit();
    int from_shift = unit_shift(from);
    unit_shift(to);
    if (from >= to) return b;
    uint32_t n = b->used() >> from_shift;
    uint64_t need = std::max<uint64_t>(min_bytes, uint64_t(n) * to + to);
    if (uint64_t(uint32_t(b->size)) - b->head < need)
        b = buffer::expand_copy(b, checked_size(need));
    uint8_t* head = b->head_ptr();
    if (from == 1 && to == 2) widen_units<uint8_t, uint16_t>(head, n);
    else if (from == 1) widen_units<uint8_t, uint32_t>(head, n);
    else widen_units<uint16_t, uint32_t>(head, n);
    b->flags = (b->flags & ~SER_UNIT_MASK) | to;
    b->tail = b->head + n * to;
    return b;
}

// ---------------------------------------------------------------------------------------------
// UTF-8 decoding.

// Byte classes of the table-driven decoder.
constexpr auto make_utf8_classes() {
    struct { uint8_t v[256]; } t{};
    for (int b = 0; b < 256; ++b) {
        uint8_t c;
        if (b < 0x80) c = 0;
        else if (b < 0x90) c = 1;
        else if (b < 0xA0) c = 9;
        else if (b < 0xC0) c = 7;
        else if (b < 0xC2) c = 8;
        else if (b < 0xE0) c = 2;
        else if (b == 0xE0) c = 10;
        else if (b < 0xED) c = 3;
        else if (b == 0xED) c = 4;
        else if (b < 0xF0) c = 3;
        else if (b == 0xF0) c = 11;
        else if (b < 0xF4) c = 6;
        else if (b == 0xF4) c = 5;
        else c = 8;
        t.v[b] = c;
    }
    return t;
}
constexpr auto utf8_classes = make_utf8_classes();

// Next state = transition[state + class]; states are multiples of 12, 0 accepts, 12 rejects.
constexpr uint8_t utf8_transition[108] = {
    0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,   // 0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,   // 12
    12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12,   // 24
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,   // 36
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,   // 48
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,   // 60
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,   // 72
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,   // 84
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,   // 96
};
constexpr uint32_t DFA_ACCEPT = 0;
constexpr uint32_t DFA_REJECT = 12;

// The table-driven decoder, never reading at or past `end` (a sequence cut by the end counts
// as rejected there).
template <bool bounded>
inline const uint8_t* dfa_step(const uint8_t* p, const uint8_t* end, int32_t& cp) {
    uint32_t b = *p++;
    uint32_t cls = utf8_classes.v[b];
    uint32_t state = utf8_transition[cls];
    uint32_t code = (0xFFu >> cls) & b;
    while (state != DFA_ACCEPT && state != DFA_REJECT) {
        if (bounded && p >= end) { state = DFA_REJECT; break; }
        b = *p;
        state = utf8_transition[state + utf8_classes.v[b]];
        if (state == DFA_REJECT) break;
        code = (b & 0x3Fu) | (code << 6);
        ++p;
    }
    cp = state == DFA_ACCEPT ? int32_t(code) : -1;
    return p;
}

inline const uint8_t* dfa_decode(const uint8_t* p, const uint8_t* end, int32_t& cp) {
    return dfa_step<true>(p, end, cp);
}

// Validating decode of one sequence; UTF8_SHORT or UTF8_INVALID on failure. len: the sequence
// length (the needed length when short, 1 when invalid).
inline int32_t decode_sequence(const uint8_t* p, uint32_t available, uint32_t& len) {
    uint32_t b0 = p[0];
    if (b0 < 0x80) { len = 1; return int32_t(b0); }
    auto follower = [](uint32_t b) { return (b & 0xC0) == 0x80; };
    if (b0 >= 0xC0 && b0 < 0xE0) {
        len = 2;
        if (available < 2) return UTF8_SHORT;
        if (!follower(p[1])) { len = 1; return UTF8_INVALID; }
        return int32_t(((b0 - 0xC0) << 6) | (p[1] - 0x80u));
    }
    if (b0 >= 0xE0 && b0 < 0xF0) {
        len = 3;
        if (available < 3) return UTF8_SHORT;
        if (!follower(p[1]) || !follower(p[2])) { len = 1; return UTF8_INVALID; }
        uint32_t cp = ((b0 & 0x0F) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        if (cp >= 0xDC00 && cp <= 0xDCFF) { len = 1; return UTF8_INVALID; }
        return int32_t(cp);
    }
    if (b0 >= 0xF0 && b0 < 0xF8) {
        len = 4;
        if (available < 4) return UTF8_SHORT;
        if (!follower(p[1]) || !follower(p[2]) || !follower(p[3])) { len = 1; return UTF8_INVALID; }
        uint32_t cp = ((b0 & 0x07) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                      (p[3] & 0x3Fu);
        if (cp > 0x10FFFF) { len = 1; return UTF8_INVALID; }
        return int32_t(cp);
    }
    len = 1;
    return UTF8_INVALID;
}

enum class Stop { End, Short, Invalid, Widen };

constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;
constexpr uint64_t LOW_BITS = 0x0101010101010101ull;

inline bool has_byte(uint64_t w, uint8_t byte) {
    uint64_t x = w ^ (LOW_BITS * byte);
    return ((x - LOW_BITS) & ~x & HIGH_BITS) != 0;
}

// Decodes from p into dst while the code points fit a unit of type T. Leaves p at the first byte
// not consumed and returns the units written.
template <class T>
uint32_t decode_run(const uint8_t*& p, const uint8_t* e, T* dst, bool crlf, Stop& stop,
                    int32_t& pending) {
    constexpr uint32_t max_cp = sizeof(T) == 1 ? 0xFF : sizeof(T) == 2 ? 0xFFFF : 0xFFFFFFFF;
    T* d = dst;
    while (p < e) {
        // Eight ASCII bytes at a time.
        while (e - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if ((w & HIGH_BITS) || (crlf && has_byte(w, '\r'))) break;
            for (int i = 0; i < 8; ++i) d[i] = T(p[i]);
            d += 8;
            p += 8;
        }
        if (p >= e) break;
        uint32_t c = *p;
        if (c < 0x80) {
            if (c == '\r' && crlf) {
                if (p + 1 < e && p[1] == '\n') { ++p; continue; }
                c = '\n';
            }
            *d++ = T(c);
            ++p;
            continue;
        }
        uint32_t len;
        int32_t cp = decode_sequence(p, uint32_t(e - p), len);
        if (cp < 0) {
            stop = cp == UTF8_SHORT ? Stop::Short : Stop::Invalid;
            return uint32_t(d - dst);
        }
        if (uint32_t(cp) > max_cp) {
            stop = Stop::Widen;
            pending = cp;
            return uint32_t(d - dst);
        }
        *d++ = T(uint32_t(cp));
        p += len;
    }
    stop = Stop::End;
    return uint32_t(d - dst);
}

// Appends decoded UTF-8 at the tail of a rooted text value's buffer.
void decode_utf8_into(Cell* text, const uint8_t* bytes, uint32_t count, bool crlf,
                      uint32_t* remaining) {
    if (remaining) *remaining = 0;
    if (count == 0) return;
    StableSource src(bytes, count);
    const uint8_t* p = src.p;
    const uint8_t* e = p + count;
    if (count > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    {
        SeriesBuffer* b = memory::buffer_of(text->data2);
        ensure_room(text, uint64_t(e - p) * b->unit());
    }
    // Every byte yields at most one unit, so after this the only growth is by widening.
    for (;;) {
        SeriesBuffer* b = memory::buffer_of(text->data2);
        uint32_t unit = b->unit();
        Stop stop = Stop::End;
        int32_t pending = 0;
        uint32_t written;
        switch (unit) {
            case 1: written = decode_run(p, e, b->tail_ptr(), crlf, stop, pending); break;
            case 2:
                written = decode_run(p, e, reinterpret_cast<uint16_t*>(b->tail_ptr()), crlf, stop,
                                     pending);
                break;
            case 4:
                written = decode_run(p, e, reinterpret_cast<uint32_t*>(b->tail_ptr()), crlf, stop,
                                     pending);
                break;
            default: bad_unit();
        }
        b->tail += written * unit;
        switch (stop) {
            case Stop::End: return;
            case Stop::Short:
                if (remaining) *remaining = uint32_t(e - p);
                return;
            case Stop::Invalid: raise_invalid_utf8(p, uint32_t(e - p));
            case Stop::Widen: {
                uint32_t to = uint32_t(pending) > 0xFFFF ? 4 : 2;
                uint64_t units = b->used() / unit + uint64_t(e - p);
                widen_buffer(b, to, units * to + to);
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Encoding helpers.

inline int put_utf8(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) { out[0] = uint8_t(cp); return 1; }
    if (cp < 0x800) {
        out[0] = uint8_t(0xC0 | (cp >> 6));
        out[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | (cp >> 12));
        out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= 0x10FFFF) {
        out[0] = uint8_t(0xF0 | (cp >> 18));
        out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        out[3] = uint8_t(0x80 | (cp & 0x3F));
        return 4;
    }
    raise_invalid_char(cp);
}

// Encodes n units from src; with eol every LF is written as CR LF. Returns the bytes written.
template <class T>
uint32_t encode_run(const uint8_t* src_bytes, uint32_t n, uint8_t* out, bool eol) {
    const T* src = reinterpret_cast<const T*>(src_bytes);
    uint8_t* o = out;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = src[i];
        if (cp < 0x80) {
            if (cp == '\n' && eol) *o++ = '\r';
            *o++ = uint8_t(cp);
        } else {
            o += put_utf8(cp, o);
        }
    }
    return uint32_t(o - out);
}

uint32_t encode_units(const uint8_t* src, uint32_t n, uint32_t unit, uint8_t* out, bool eol) {
    switch (unit) {
        case 1: return encode_run<uint8_t>(src, n, out, eol);
        case 2: return encode_run<uint16_t>(src, n, out, eol);
        case 4: return encode_run<uint32_t>(src, n, out, eol);
        default: bad_unit();
    }
}

// The first unit to convert and the number of units from the head to the tail of a text value
// (0 when the head lies past the tail).
struct TextSpan {
    uint32_t unit;
    uint32_t head;   // index of the first unit
    uint32_t count;  // units from the head to the tail
};

TextSpan span_of(const Cell* text) {
    SeriesBuffer* b = memory::buffer_of(text->data2);
    uint32_t unit = b->unit();
    uint32_t tail_index = b->used() >> unit_shift(unit);
    uint32_t head = std::min(text->data1, tail_index);
    return {unit, head, tail_index - head};
}

inline uint32_t cut(uint32_t count, int32_t limit) {
    return limit >= 0 && uint32_t(limit) < count ? uint32_t(limit) : count;
}

inline const uint8_t* units_at(const Cell* text, uint32_t index, uint32_t unit) {
    return memory::buffer_of(text->data2)->head_ptr() + (size_t(index) << unit_shift(unit));
}

// The value's conversion buffer (node in data3) with room for `bytes`, emptied. Returns its
// first byte.
uint8_t* conversion_buffer(Cell* text, uint32_t bytes) {
    if (text->data3 == 0) {
        Handle node = memory::make_bytes(bytes);
        text->data3 = node;
    } else {
        SeriesBuffer* cb = memory::buffer_of(text->data3);
        if (uint32_t(cb->size) - cb->head < bytes) buffer::expand(cb, bytes);
    }
    SeriesBuffer* cb = memory::buffer_of(text->data3);
    cb->tail = cb->head;
    return cb->head_ptr();
}

const uint8_t* to_utf8_common(Cell* text, int32_t& limit, bool eol) {
    TextSpan s = span_of(text);
    uint32_t count = cut(s.count, limit);
    uint64_t per_unit = s.unit == 4 ? 4 : s.unit + 1;
    uint32_t size = checked_size(per_unit * (uint64_t(count) + 1));
    uint8_t* out = conversion_buffer(text, size);
    uint32_t n = encode_units(units_at(text, s.head, s.unit), count, s.unit, out, eol);
    out[n] = 0;
    memory::buffer_of(text->data3)->tail += n;
    limit = int32_t(n);
    return out;
}

// UTF-16LE of n units; with crlf a CR before each LF. Returns the units written, or -1 when a
// code point is above 0x10FFFF.
template <class T>
int64_t utf16_run(const uint8_t* src_bytes, uint32_t n, uint8_t* out, bool crlf) {
    const T* src = reinterpret_cast<const T*>(src_bytes);
    uint8_t* o = out;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = src[i];
        if (cp == '\n' && crlf) { write16(o, '\r'); o += 2; }
        int k = encode_utf16le(cp, o);
        if (k == 0) return -1;
        o += 2 * k;
    }
    return (o - out) / 2;
}

// ---------------------------------------------------------------------------------------------
// Case tables: the Basic Multilingual Plane as direct lookup, 0 meaning unchanged.

uint32_t upper_table[0x10000];
uint32_t lower_table[0x10000];

uint32_t supplementary_case(uint32_t cp, const uint32_t* pairs, uint32_t count) {
    if (count == 0 || cp < pairs[0] || cp > pairs[2 * (count - 1)]) return cp;
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (pairs[2 * mid] < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < count && pairs[2 * lo] == cp ? pairs[2 * lo + 1] : cp;
}

// Binary search of sorted, disjoint inclusive ranges.
bool in_sorted_ranges(uint32_t cp, const uint32_t* list, uint32_t ranges) {
    if (ranges == 0 || cp < list[0] || cp > list[2 * ranges - 1]) return false;
    uint32_t lo = 0, hi = ranges;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        if (list[2 * mid + 1] < cp) lo = mid + 1;
        else hi = mid;
    }
    return lo < ranges && list[2 * lo] <= cp;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Plain UTF-8 output.

void append_utf8(std::string& out, Handle node, uint32_t from_index, uint32_t to_index) {
    SeriesBuffer* b = memory::buffer_of(node);
    uint32_t unit = b->unit();
    uint32_t tail_index = b->used() >> unit_shift(unit);
    to_index = std::min(to_index, tail_index);
    if (from_index >= to_index) return;
    uint32_t n = to_index - from_index;
    const uint8_t* src = b->head_ptr() + (size_t(from_index) << unit_shift(unit));
    size_t old = out.size();
    out.resize(old + size_t(n) * (unit == 1 ? 2 : unit == 2 ? 3 : 4));
    uint32_t written;
    try {
        written = encode_units(src, n, unit, reinterpret_cast<uint8_t*>(out.data()) + old, false);
    } catch (...) {
        out.resize(old);
        throw;
    }
    out.resize(old + written);
}

void append_utf8(std::string& out, const Cell* text) {
    SeriesBuffer* b = memory::buffer_of(text->data2);
    append_utf8(out, text->data2, text->data1, b->used() >> unit_shift(b->unit()));
}

// ---------------------------------------------------------------------------------------------
// Decoding UTF-8.

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t& cp) {
    return dfa_step<false>(p, nullptr, cp);
}

int32_t utf8_length_q(const uint8_t* start, const uint8_t* end) {
    int32_t n = 0;
    const uint8_t* p = start;
    while (p < end) {
        if (*p < 0x80) { ++p; ++n; continue; }
        int32_t cp;
        p = dfa_decode(p, end, cp);
        ++n;
    }
    return n;
}

const uint8_t* utf8_skip(const uint8_t* p, const uint8_t* limit, int32_t n) {
    while (n > 0 && p < limit) {
        int32_t cp;
        p = *p < 0x80 ? p + 1 : dfa_decode(p, limit, cp);
        --n;
    }
    return p;
}

int utf8_char_size_q(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int32_t decode_utf8_status(const uint8_t* p, int32_t& count) {
    if (count <= 0) return UTF8_SHORT;
    uint32_t len;
    int32_t cp = decode_sequence(p, uint32_t(count), len);
    count = int32_t(len);
    return cp;
}

int32_t decode_utf8(const uint8_t* p, int32_t& count) {
    int32_t available = count;
    int32_t cp = decode_utf8_status(p, count);
    if (cp == UTF8_INVALID) raise_invalid_utf8(p, uint32_t(available));
    return cp;
}

Handle load_utf8(const uint8_t* bytes, uint32_t count, Handle target, bool crlf,
                 uint32_t* remaining) {
    if (remaining) *remaining = 0;
    StableSource src(bytes, count);  // before the first allocation
    collector::Root cell(
        text_cell(target ? target : memory::make_string_buffer(count ? count : 1, 1)));
    decode_utf8_into(cell.get(), src.p, count, crlf, remaining);
    return cell->data2;
}

void load_utf8_into(const uint8_t* bytes, uint32_t count, Cell* text, bool crlf,
                    uint32_t* remaining) {
    decode_utf8_into(text, bytes, count, crlf, remaining);
}

Handle load_utf8_new(const uint8_t* bytes, uint32_t count) {
    return load_utf8(bytes, count, 0, false, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Decoding UTF-16LE.

int utf16_unit_q(const uint8_t* p, uint32_t units) {
    int unit = 1;
    for (uint32_t i = 0; i < units; ++i) {
        uint8_t high = p[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) unit = 2;
    }
    return unit;
}

Handle load_utf16le(const uint8_t* p, uint32_t units, Cell* target, bool crlf) {
    if (!p) units = 0;
    StableSource src(p, size_t(units) * 2);
    const uint8_t* in = src.p;
    uint32_t unit = uint32_t(utf16_unit_q(in, units));
    collector::Root made;
    Cell* cell = target;
    if (target) {
        SeriesBuffer* b = memory::buffer_of(target->data2);
        uint64_t need = uint64_t(units) * unit;
        if (uint64_t(uint32_t(b->size)) - b->head < need) buffer::expand(b, checked_size(need));
    } else {
        if (units == 0) unit = 2;
        made.cell = text_cell(memory::make_string_buffer(units ? units : 1, unit));
        cell = made.get();
    }
    SeriesBuffer* b = memory::buffer_of(cell->data2);
    b->flags = (b->flags & ~SER_UNIT_MASK) | unit | SER_FROM_UTF16;
    uint8_t* out = b->head_ptr();
    uint32_t n = 0;
    if (unit == 4) {
        uint32_t* o = reinterpret_cast<uint32_t*>(out);
        for (uint32_t i = 0; i < units; ++i) {
            uint32_t u = read16(in + 2 * i);
            uint32_t high = u >> 8;
            if (high >= 0xD8 && high <= 0xDB && i + 1 < units) {
                uint32_t u2 = read16(in + 2 * i + 2);
                if ((u2 >> 8) >= 0xDC && (u2 >> 8) <= 0xDF) {
                    o[n++] = (((u & 0x3FF) << 10) | (u2 & 0x3FF)) + 0x10000;
                    ++i;
                    continue;
                }
            }
            // A surrogate outside a pair is kept as its own code point.
            if (crlf && u == 0x0D) continue;
            o[n++] = u;
        }
    } else {
        for (uint32_t i = 0; i < units; ++i) {
            uint32_t u = read16(in + 2 * i);
            if (crlf && u == 0x0D) continue;
            if (unit == 1) out[n++] = uint8_t(u);
            else write16(out + 2 * n++, u);
        }
    }
    b->tail = b->head + n * unit;
    return cell->data2;
}

// ---------------------------------------------------------------------------------------------
// Encoding.

int utf8_size_of(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= 0x10FFFF) return 4;
    raise_invalid_char(cp);
}

uint32_t utf8_byte_count(const uint8_t* head, const uint8_t* tail, uint32_t unit) {
    int shift = unit_shift(unit);
    uint32_t n = uint32_t(tail - head) >> shift;
    uint64_t total = 0;
    for (uint32_t i = 0; i < n; ++i)
        total += utf8_size_of(read_unit(head + (size_t(i) << shift), unit));
    return checked_size(total);
}

int encode_utf8(uint32_t cp, uint8_t* out) { return put_utf8(cp, out); }

int encode_utf8_limited(uint32_t cp, uint8_t* out, int room) {
    uint8_t bytes[4];
    int n = put_utf8(cp, bytes);
    if (room < 0) room = 0;
    n = std::min(n, room);
    std::memcpy(out, bytes, size_t(n));
    return n;
}

const uint8_t* to_utf8_bytes(Cell* text, int32_t& limit) {
    return to_utf8_common(text, limit, false);
}

const uint8_t* to_utf8_bytes_eol(Cell* text, int32_t& limit) {
    return to_utf8_common(text, limit, true);
}

uint32_t encode_utf8_into(const Cell* text, uint8_t* out, int32_t limit, bool nul) {
    TextSpan s = span_of(text);
    uint32_t count = cut(s.count, limit);
    uint32_t n = encode_units(units_at(text, s.head, s.unit), count, s.unit, out, false);
    if (nul) out[n] = 0;
    return n;
}

uint32_t encode_utf8_bounded(const Cell* text, uint8_t* out, uint32_t room, int32_t limit,
                             bool nul) {
    TextSpan s = span_of(text);
    uint32_t count = cut(s.count, limit);
    const uint8_t* src = units_at(text, s.head, s.unit);
    uint32_t n = 0;
    for (uint32_t i = 0; i < count && n < room; ++i) {
        uint32_t cp = read_unit(src + (size_t(i) << unit_shift(s.unit)), s.unit);
        uint8_t bytes[4];
        uint32_t k = uint32_t(put_utf8(cp, bytes));
        k = std::min(k, room - n);
        std::memcpy(out + n, bytes, k);
        n += k;
    }
    if (nul && n < room) out[n] = 0;
    return n;
}

int encode_utf16le(uint32_t cp, uint8_t* out) {
    if (cp < 0x10000) {
        write16(out, cp);
        return 1;
    }
    if (cp <= 0x10FFFF) {
        uint32_t v = cp - 0x10000;
        write16(out, 0xD800 | (v >> 10));
        write16(out + 2, 0xDC00 | (v & 0x3FF));
        return 2;
    }
    return 0;
}

const uint8_t* to_utf16(Cell* text) {
    int32_t limit = -1;
    return to_utf16_part(text, limit, true);
}

const uint8_t* to_utf16_part(Cell* text, int32_t& limit, bool crlf) {
    TextSpan s = span_of(text);
    uint32_t count = cut(s.count, limit);
    const uint8_t* src = units_at(text, s.head, s.unit);
    uint64_t extra = utf16_extra_bytes(src, src + (size_t(count) << unit_shift(s.unit)), s.unit);
    uint32_t size = checked_size(2 * uint64_t(count) + 2 + extra);
    uint8_t* out = conversion_buffer(text, size);
    src = units_at(text, s.head, s.unit);  // the allocation may have moved the text
    int64_t n;
    if (s.unit == 2 && !crlf) {
        std::memcpy(out, src, size_t(count) * 2);
        n = count;
    } else if (s.unit == 1) {
        n = utf16_run<uint8_t>(src, count, out, crlf);
    } else if (s.unit == 2) {
        n = utf16_run<uint16_t>(src, count, out, crlf);
    } else {
        n = utf16_run<uint32_t>(src, count, out, crlf);
    }
    if (n < 0) {
        limit = 0;
        return nullptr;
    }
    write16(out + 2 * n, 0);
    memory::buffer_of(text->data3)->tail += uint32_t(2 * n);
    limit = int32_t(n);
    return out;
}

uint32_t utf16_extra_bytes(const uint8_t* head, const uint8_t* tail, uint32_t unit) {
    int shift = unit_shift(unit);
    uint32_t n = uint32_t(tail - head) >> shift;
    uint64_t extra = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = read_unit(head + (size_t(i) << shift), unit);
        if (cp == '\n' || cp >= 0x10000) extra += 2;
    }
    return checked_size(extra);
}

// ---------------------------------------------------------------------------------------------
// Widening.

SeriesBuffer* latin1_to_ucs2(SeriesBuffer* buf) { return widen_buffer(buf, 2, 0); }
SeriesBuffer* latin1_to_ucs4(SeriesBuffer* buf) { return widen_buffer(buf, 4, 0); }
SeriesBuffer* ucs2_to_ucs4(SeriesBuffer* buf) { return widen_buffer(buf, 4, 0); }

// ---------------------------------------------------------------------------------------------
// Other conversions.

void ascii_to_utf16(const char* text, uint8_t* out) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
    for (; *p; ++p, out += 2) write16(out, *p);
    write16(out, 0);
}

Handle load_cp1251(const uint8_t* bytes, uint32_t count, Cell* target, bool crlf) {
    StableSource src(bytes, count);
    const uint8_t* in = src.p;
    uint32_t unit = 1;
    for (uint32_t i = 0; i < count; ++i)
        if (in[i] >= 0x80 && tables::cp1251_high[in[i] - 0x80] > 0xFF) { unit = 2; break; }
    collector::Root made;
    Cell* cell = target;
    if (!target) {
        made.cell = text_cell(memory::make_string_buffer(count ? count : 1, unit));
        cell = made.get();
    }
    SeriesBuffer* b = memory::buffer_of(cell->data2);
    if (b->unit() < unit) b = widen_buffer(b, unit, 0);
    b = ensure_room(cell, uint64_t(count) * b->unit());
    uint32_t out_unit = b->unit();
    uint8_t* out = b->tail_ptr();
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = in[i];
        if (c == '\r' && crlf) {
            if (i + 1 < count && in[i + 1] == '\n') continue;
            c = '\n';
        }
        if (c >= 0x80) c = tables::cp1251_high[c - 0x80];
        write_unit(out + n * out_unit, out_unit, c);
        ++n;
    }
    b->tail += n * out_unit;
    return cell->data2;
}

// ---------------------------------------------------------------------------------------------
// Case mapping.

void init_case_tables() {
    std::memset(upper_table, 0, sizeof upper_table);
    std::memset(lower_table, 0, sizeof lower_table);
    for (uint32_t i = 0; i < tables::upper_pairs_count; ++i)
        upper_table[tables::upper_pairs[2 * i]] = tables::upper_pairs[2 * i + 1];
    for (uint32_t i = 0; i < tables::lower_pairs_count; ++i)
        lower_table[tables::lower_pairs[2 * i]] = tables::lower_pairs[2 * i + 1];
}

uint32_t change_case_char(uint32_t cp, bool upper) {
    if (cp <= 0xFFFF) {
        uint32_t m = upper ? upper_table[cp] : lower_table[cp];
        return m ? m : cp;
    }
    return upper ? supplementary_case(cp, tables::upper_supplementary,
                                      tables::upper_supplementary_count)
                 : supplementary_case(cp, tables::lower_supplementary,
                                      tables::lower_supplementary_count);
}

uint32_t to_upper_char(uint32_t cp) { return change_case_char(cp, true); }

uint32_t toggle_case(uint32_t cp) {
    uint32_t up = change_case_char(cp, true);
    return up != cp ? up : change_case_char(cp, false);
}

void change_case(Cell* value, const Cell* part, bool upper) {
    if (value->is(T_CHAR)) {
        value->data2 = change_case_char(value->data2, upper);
        return;
    }
    if (!is_text_type(value->type())) return;
    SeriesBuffer* b = memory::buffer_of(value->data2);
    uint32_t tail_index = b->used() >> unit_shift(b->unit());
    if (value->data1 > tail_index) value->data1 = tail_index;
    uint32_t head = value->data1;
    uint32_t available = tail_index - head;
    uint32_t count = available;
    if (part && !part->is(T_NONE)) {
        if (part->is(T_INTEGER)) {
            int32_t n = part->get_int();
            count = n < 0 ? 0 : uint32_t(n);
        } else if (part->type() == value->type() && part->data2 == value->data2) {
            int64_t d = int64_t(part->data1) - int64_t(head);
            count = d < 0 ? 0 : uint32_t(std::min<int64_t>(d, UINT32_MAX));
        } else {
            Cell word{T_NONE, 0, 0, 0};
            if (services.part_word) services.part_word(&word);
            stack::raise_error("script", "invalid-refine-arg", {&word, part});
        }
        count = std::min(count, available);
    }
    uint32_t i = head;
    uint32_t end = head + count;
    while (i < end) {
        b = memory::buffer_of(value->data2);
        uint32_t unit = b->unit();
        int shift = unit_shift(unit);
        uint32_t max_cp = max_code_of(unit);
        uint8_t* base = b->head_ptr();
        uint32_t mapped = 0;
        for (; i < end; ++i) {
            uint8_t* at = base + (size_t(i) << shift);
            uint32_t cp = read_unit(at, unit);
            mapped = change_case_char(cp, upper);
            if (mapped == cp) continue;
            if (mapped > max_cp) break;
            write_unit(at, unit, mapped);
        }
        if (i < end) widen_buffer(b, mapped > 0xFFFF ? 4 : 2, 0);
    }
    b = memory::buffer_of(value->data2);
    if ((b->flags & SER_OWNED) && services.ownership_check)
        services.ownership_check(value, upper ? "uppercase" : "lowercase", head, count);
}

// ---------------------------------------------------------------------------------------------
// Terminal column widths.

bool in_ranges_q(uint32_t cp, const uint32_t* list, uint32_t n_ints) {
    if (n_ints < 2) return false;
    if (cp < list[0] || cp > list[n_ints - 1]) return false;
    for (uint32_t i = 0; i + 1 < n_ints; i += 2)
        if (cp >= list[i] && cp <= list[i + 1]) return true;
    return false;
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    if (in_sorted_ranges(cp, tables::zero_width_ranges, tables::zero_width_ranges_count)) return 0;
    if (in_sorted_ranges(cp, tables::wide_ranges, tables::wide_ranges_count)) return 2;
    return 1;
}

int char_width_cjk(uint32_t cp) {
    if (in_sorted_ranges(cp, tables::ambiguous_ranges, tables::ambiguous_ranges_count)) return 2;
    return char_width(cp);
}

}  // namespace kov::unicode
