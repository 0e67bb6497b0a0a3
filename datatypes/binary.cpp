// binary!: raw byte routines, base encodings, byte images of values, and the action handlers.
#include "datatypes/binary.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "core/buffer.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/series.hpp"
#include "datatypes/simple.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"

namespace kov::binary {

using collector::Root;
using memory::buffer_of;

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFF0000u;

inline SeriesBuffer* buf(const Cell* bin) { return buffer_of(bin->data2); }

[[noreturn]] void raise_with(const char* category, const char* id, const Cell* value) {
    Cell v = *value;
    stack::raise_error(category, id, {&v});
}

[[noreturn]] void raise_bad_to(const Cell* value) {
    Cell dt = cells::make_datatype(T_BINARY), v = *value;
    stack::raise_error("script", "bad-to-arg", {&dt, &v});
}

[[noreturn]] void no_memory() { stack::raise_error("internal", "no-memory"); }

// Makes sure the buffer has room for `extra` bytes past its tail: to the needed size when that
// is at least twice the capacity, else to twice the capacity.
SeriesBuffer* reserve(const Cell* bin, uint64_t extra) {
    SeriesBuffer* b = buf(bin);
    uint64_t needed = uint64_t(b->used()) + extra;
    if (needed > MAX_BYTES) no_memory();
    if (uint64_t(b->tail) + extra <= uint64_t(uint32_t(b->size))) return b;
    uint64_t doubled = uint64_t(uint32_t(b->size)) * 2;
    uint64_t size = needed >= doubled ? needed : doubled;
    if (size > MAX_BYTES) size = needed;
    return buffer::expand_copy(b, int64_t(size));
}

// The head index, clamped to the tail and written back.
uint32_t clamp_head(Cell* bin) {
    uint32_t len = buf(bin)->length();
    if (bin->data1 > len) bin->data1 = len;
    return bin->data1;
}

// Bytes of a series value from its head: its node's buffer read as bytes (text of any unit).
struct ByteView {
    const uint8_t* p;
    uint32_t n;
};
ByteView bytes_of(const Cell* s) {
    SeriesBuffer* b = buf(s);
    uint64_t off = uint64_t(s->data1) << b->shift();
    uint32_t used = b->used();
    if (off >= used) return {b->head_ptr() + used, 0};
    return {b->head_ptr() + off, uint32_t(used - off)};
}

bool byte_source_q(uint32_t t) { return t == T_BINARY || series::text_kind(t); }

// ---- codec tables ----

constexpr char B64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char B58_ALPHABET[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr uint8_t SKIP = 0x40, INVALID = 0x80;

struct DecodeTables {
    uint8_t b64[128], b58[128], hex[128];
    constexpr DecodeTables() : b64{}, b58{}, hex{} {
        for (int i = 0; i < 128; i++) b64[i] = b58[i] = INVALID, hex[i] = 0xFF;
        for (int i = 0; i < 64; i++) b64[uint8_t(B64_ALPHABET[i])] = uint8_t(i);
        for (int i = 0; i < 58; i++) b58[uint8_t(B58_ALPHABET[i])] = uint8_t(i);
        b64[uint8_t('=')] = 0;
        for (int c : {8, 9, 10, 12, 13, 32, 39}) b64[c] = b58[c] = SKIP;
        for (int i = 0; i < 10; i++) hex['0' + i] = uint8_t(i);
        for (int i = 0; i < 6; i++) hex['A' + i] = hex['a' + i] = uint8_t(10 + i);
    }
};
constexpr DecodeTables tables;

// Reads the code points of a text, passing over comments (";" up to and including the next line
// feed). `pre` maps a code point before the comment test.
struct TextReader {
    const uint8_t* p;
    uint32_t left, unit;
    // The next code point outside comments, or false at the end of the text.
    template <class Pre> bool next(uint32_t& cp, Pre pre) {
        while (left) {
            cp = pre(string::get_char(p, unit));
            p += unit;
            left--;
            if (cp != ';') return true;
            while (left) {
                uint32_t c = string::get_char(p, unit);
                p += unit;
                left--;
                if (c == 10) break;
            }
        }
        return false;
    }
    bool next(uint32_t& cp) { return next(cp, [](uint32_t c) { return c; }); }
};

}  // namespace

// ---- raw byte routines ----

int32_t ks_length(const Cell* bin) {
    uint32_t len = buf(bin)->length();
    return bin->data1 < len ? int32_t(len - bin->data1) : 0;
}

bool ks_skip(Cell* bin, int32_t n) { return series::skip_by(bin, n); }

uint8_t* ks_head(const Cell* bin) { return buf(bin)->head_ptr() + bin->data1; }
uint8_t* ks_tail(const Cell* bin) { return buf(bin)->tail_ptr(); }
bool ks_tail_q(const Cell* bin) { return bin->data1 >= buf(bin)->length(); }

void ks_clear(const Cell* bin) {
    SeriesBuffer* b = buf(bin);
    if (bin->data1 < b->length()) b->tail = b->head + bin->data1;
}

uint8_t get_byte(const Cell* bin, uint32_t offset) { return buf(bin)->head_ptr()[offset]; }

void append_bytes(Cell* bin, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    std::vector<uint8_t> copy(bytes, bytes + n);
    SeriesBuffer* b = reserve(bin, n);
    std::memcpy(b->tail_ptr(), copy.data(), n);
    b->tail += n;
}

void insert_bytes(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    std::vector<uint8_t> copy(bytes, bytes + n);
    SeriesBuffer* b = buf(bin);
    if (uint64_t(b->tail) + n > uint64_t(uint32_t(b->size))) {
        uint64_t size = uint64_t(uint32_t(b->size)) * 2 + n;
        if (uint64_t(b->used()) + n > MAX_BYTES) no_memory();
        b = buffer::expand_copy(b, int64_t(std::min<uint64_t>(size, MAX_BYTES)));
    }
    uint32_t len = b->length();
    uint32_t at = uint32_t(std::min<uint64_t>(uint64_t(bin->data1) + offset, len));
    std::memmove(b->head_ptr() + at + n, b->head_ptr() + at, len - at);
    std::memcpy(b->head_ptr() + at, copy.data(), n);
    b->tail += n;
}

void write_bytes_at(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    std::vector<uint8_t> copy(bytes, bytes + n);
    SeriesBuffer* b = buf(bin);
    uint64_t at = uint64_t(bin->data1) + offset;
    uint64_t end = at + n;
    uint64_t room = uint64_t(uint32_t(b->size)) - b->head;
    if (end > MAX_BYTES) no_memory();
    if (end > room) {
        uint64_t size = uint64_t(uint32_t(b->size)) * 2 + (end - room);
        b = buffer::expand_copy(b, int64_t(std::min<uint64_t>(size, MAX_BYTES)));
    }
    uint32_t len = b->length();
    if (at > len) std::memset(b->head_ptr() + len, 0, size_t(at - len));
    std::memcpy(b->head_ptr() + at, copy.data(), n);
    if (end > len) b->tail = b->head + uint32_t(end);
}

void append_be32(Cell* bin, uint32_t value) {
    uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    append_bytes(bin, b, 4);
}

Cell* make_at(Cell* out, uint32_t capacity) {
    cell::set_type(out, T_UNSET);
    Handle node = memory::make_bytes(capacity);
    *out = cells::make_series(T_BINARY, node);
    return out;
}

Cell* make_in(const Cell* block, uint32_t capacity) {
    Root blk(*block);
    Root made;
    make_at(made.get(), capacity);
    Cell* c = buffer::alloc_block_tail(blk.get());
    *c = made.cell;
    return c;
}

Cell* load_in(const uint8_t* bytes, uint32_t n, const Cell* block) {
    std::vector<uint8_t> copy(bytes, bytes + n);
    Root made;
    make_at(made.get(), n);
    SeriesBuffer* b = buf(made.get());
    if (n) std::memcpy(b->head_ptr(), copy.data(), n);
    b->tail = b->head + n;
    if (!block) return stack::push(made.get());
    Root blk(*block);
    Cell* c = buffer::alloc_block_tail(blk.get());
    *c = made.cell;
    return c;
}

Cell* push(const Cell* bin) { return stack::push(bin); }

uint8_t byte_of(const Cell* value) {
    if (value->is(T_INTEGER) || value->is(T_CHAR)) return uint8_t(value->data2);
    raise_with("script", "invalid-arg", value);
}

// ---- comparison and matching ----

int32_t compare_bytes(const Cell* a, const Cell* b, int32_t op, bool match) {
    if (!byte_source_q(b->type())) return NOT_COMPARABLE;
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
                    op == COMP_FIND;
    if (a->data2 == b->data2 && a->data1 == b->data1) return 0;
    if (op == COMP_SAME) return -1;
    ByteView x = bytes_of(a), y = bytes_of(b);
    uint32_t n;
    if (match) {
        if (y.n == 0) return (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND) ? 0 : 1;
        n = std::min(x.n, y.n);  // never past the first value
    } else {
        if (x.n != y.n && equality) return 1;
        if (x.n == 0 && y.n == 0) return 0;
        n = std::min(x.n, y.n);
    }
    for (uint32_t i = 0; i < n; i++)
        if (x.p[i] != y.p[i]) return x.p[i] < y.p[i] ? -1 : 1;
    if (match) return x.n < y.n ? -1 : 0;
    return x.n < y.n ? -1 : x.n > y.n ? 1 : 0;
}

bool match_bitset_q(const Cell* bin, const Cell* bitset) {
    if (ks_tail_q(bin)) return false;
    return bitset::has_bit(bitset, *ks_head(bin));
}

bool match_value_q(const Cell* bin, const Cell* value, int32_t op) {
    if (value->is(T_CHAR)) return !ks_tail_q(bin) && *ks_head(bin) == value->data2;
    if (byte_source_q(value->type())) return compare_bytes(bin, value, op, true) == 0;
    return false;
}

// ---- base encodings ----

uint32_t encoded_size(int base, uint32_t n) {
    switch (base) {
    case 2: return n * 8;
    case 16: return n * 2;
    case 58: return n * 2;
    case 64: return (n + 2) / 3 * 4;
    default: return 0;
    }
}

uint8_t* encode_base2(uint8_t* out, const uint8_t* in, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = uint8_t('0' + ((in[i] >> bit) & 1));
    return out;
}

uint8_t* encode_base16(uint8_t* out, const uint8_t* in, uint32_t n) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < n; i++) {
        *out++ = uint8_t(digits[in[i] >> 4]);
        *out++ = uint8_t(digits[in[i] & 15]);
    }
    return out;
}

uint8_t* encode_base64(uint8_t* out, const uint8_t* in, uint32_t n) {
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint8_t b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        *out++ = uint8_t(B64_ALPHABET[b0 >> 2]);
        *out++ = uint8_t(B64_ALPHABET[((b0 << 4) & 0x30) | (b1 >> 4)]);
        *out++ = uint8_t(B64_ALPHABET[((b1 << 2) & 0x3C) | (b2 >> 6)]);
        *out++ = uint8_t(B64_ALPHABET[b2 & 0x3F]);
    }
    if (n - i == 1) {
        uint8_t b0 = in[i];
        *out++ = uint8_t(B64_ALPHABET[b0 >> 2]);
        *out++ = uint8_t(B64_ALPHABET[(b0 << 4) & 0x30]);
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        uint8_t b0 = in[i], b1 = in[i + 1];
        *out++ = uint8_t(B64_ALPHABET[b0 >> 2]);
        *out++ = uint8_t(B64_ALPHABET[((b0 << 4) & 0x30) | (b1 >> 4)]);
        *out++ = uint8_t(B64_ALPHABET[(b1 << 2) & 0x3C]);
        *out++ = '=';
    }
    return out;
}

uint8_t* encode_base58(uint8_t* out, const uint8_t* in, uint32_t n) {
    uint32_t zeros = 0;
    while (zeros < n && in[zeros] == 0) zeros++;
    std::vector<uint8_t> work(in + zeros, in + n);
    std::vector<uint8_t> digits;  // least significant first
    size_t first = 0;
    while (first < work.size()) {
        uint32_t rem = 0;
        for (size_t i = first; i < work.size(); i++) {
            uint32_t v = rem * 256 + work[i];
            work[i] = uint8_t(v / 58);
            rem = v % 58;
        }
        digits.push_back(uint8_t(rem));
        while (first < work.size() && work[first] == 0) first++;
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    for (uint32_t i = 0; i < zeros; i++) *out++ = '1';
    for (size_t i = digits.size(); i-- > 0;) *out++ = uint8_t(B58_ALPHABET[digits[i]]);
    return out;
}

bool decode_base2(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(units / 8);
    TextReader r{text, units, unit};
    uint32_t cp, acc = 0, bits = 0;
    while (r.next(cp)) {
        if (cp <= 32) continue;
        if (cp != '0' && cp != '1') return false;
        acc = (acc << 1) | (cp - '0');
        if (++bits % 8 == 0) out.push_back(uint8_t(acc));
    }
    return bits % 8 == 0;
}

bool decode_base16(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(units / 2);
    TextReader r{text, units, unit};
    uint32_t cp, acc = 0, digits = 0;
    while (r.next(cp)) {
        if (cp > 127) return false;
        if (cp <= 32) continue;
        uint8_t v = tables.hex[cp];
        if (v > 15) return false;
        acc = (acc << 4) | v;
        if (++digits % 2 == 0) out.push_back(uint8_t(acc));
    }
    return true;
}

bool decode_base64(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve((uint64_t(units) + 3) * 3 / 4);
    TextReader r{text, units, unit};
    uint32_t cp, acc = 0, digits = 0;
    while (r.next(cp)) {
        if (cp > 127) return false;
        uint8_t v = tables.b64[cp];
        if (v == INVALID) return false;
        if (v == SKIP) continue;
        if (cp == '=') {
            if (digits == 3) {
                out.push_back(uint8_t(acc >> 10));
                out.push_back(uint8_t(acc >> 2));
            } else if (digits == 2) {
                out.push_back(uint8_t(acc >> 4));
            } else {
                return false;
            }
            return true;
        }
        acc = (acc << 6) | v;
        if (++digits == 4) {
            out.push_back(uint8_t(acc >> 16));
            out.push_back(uint8_t(acc >> 8));
            out.push_back(uint8_t(acc));
            acc = 0;
            digits = 0;
        }
    }
    return true;
}

bool decode_base58(const uint8_t* text, uint32_t units, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> digits;
    TextReader r{text, units, unit};
    uint32_t cp;
    while (r.next(cp)) {
        if (cp > 127) break;
        uint8_t v = tables.b58[cp];
        if (v == INVALID) return false;
        if (v == SKIP) continue;
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    std::vector<uint8_t> bytes;  // least significant first
    size_t first = zeros;
    while (first < digits.size()) {
        uint32_t rem = 0;
        for (size_t i = first; i < digits.size(); i++) {
            uint32_t v = rem * 58 + digits[i];
            digits[i] = uint8_t(v / 256);
            rem = v % 256;
        }
        bytes.push_back(uint8_t(rem));
        while (first < digits.size() && digits[first] == 0) first++;
    }
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    out.assign(zeros, 0);
    out.insert(out.end(), bytes.rbegin(), bytes.rend());
    return true;
}

bool decode_text(const Cell* text, int base, Cell* out) {
    SeriesBuffer* b = buf(text);
    uint32_t len = b->length();
    uint32_t units = text->data1 < len ? len - text->data1 : 0;
    const uint8_t* p = b->head_ptr() + (uint64_t(text->data1 < len ? text->data1 : len) << b->shift());
    std::vector<uint8_t> bytes;
    bool ok;
    switch (base) {
    case 2: ok = decode_base2(p, units, b->unit(), bytes); break;
    case 16: ok = decode_base16(p, units, b->unit(), bytes); break;
    case 58: ok = decode_base58(p, units, b->unit(), bytes); break;
    case 64: ok = decode_base64(p, units, b->unit(), bytes); break;
    default: ok = false;
    }
    if (!ok) return false;
    make_at(out, uint32_t(bytes.size()));
    SeriesBuffer* nb = buf(out);
    if (!bytes.empty()) std::memcpy(nb->head_ptr(), bytes.data(), bytes.size());
    nb->tail = nb->head + uint32_t(bytes.size());
    return true;
}

bool encode_to_string(const Cell* bin, int base, Cell* out) {
    ByteView v = bytes_of(bin);
    std::vector<uint8_t> in(v.p, v.p + v.n);
    std::string text(encoded_size(base, v.n), '\0');
    auto* o = reinterpret_cast<uint8_t*>(text.data());
    uint8_t* end;
    switch (base) {
    case 2: end = encode_base2(o, in.data(), v.n); break;
    case 16: end = encode_base16(o, in.data(), v.n); break;
    case 58: end = encode_base58(o, in.data(), v.n); break;
    case 64: end = encode_base64(o, in.data(), v.n); break;
    default: return false;
    }
    text.resize(size_t(end - o));
    string::make_at(out, uint32_t(text.size()));
    string::concatenate_cstring(out, text);
    return true;
}

// ---- byte images ----

namespace {

void text_utf8(const Cell* text, std::vector<uint8_t>& out, int32_t part) {
    SeriesBuffer* b = buf(text);
    uint32_t len = b->length(), unit = b->unit();
    uint64_t room = part < 0 ? UINT64_MAX : uint64_t(part);
    uint8_t seq[4];
    for (uint32_t i = text->data1; i < len && room; i++) {
        uint32_t cp = string::get_char(b->head_ptr() + (uint64_t(i) << b->shift()), unit);
        int n = cp < 0x80 ? (seq[0] = uint8_t(cp), 1) : unicode::encode_utf8(cp, seq);
        int k = int(std::min<uint64_t>(uint64_t(n), room));
        out.insert(out.end(), seq, seq + k);
        room -= uint64_t(k);
        b = buf(text);
    }
}

void limited(std::vector<uint8_t>& out, const uint8_t* p, uint32_t n, int32_t part) {
    if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
    out.insert(out.end(), p, p + n);
}

}  // namespace

void value_bytes(const Cell* value, std::vector<uint8_t>& out, int32_t part, bool only, int mode) {
    uint32_t t = value->type();
    switch (t) {
    case T_CHAR: {
        uint8_t seq[4];
        int n = unicode::encode_utf8(value->data2, seq);
        limited(out, seq, uint32_t(n), part);
        return;
    }
    case T_INTEGER: {
        int32_t v = cells::integer(*value);
        if (v < -128 || v > 255) raise_with("script", "invalid-arg", value);
        out.push_back(uint8_t(v));
        return;
    }
    case T_BINARY: {
        ByteView v = bytes_of(value);
        limited(out, v.p, v.n, part);
        return;
    }
    case T_TUPLE: {
        tuple::Bytes b = tuple::bytes(value);
        limited(out, b.b, b.count, part);
        return;
    }
    case T_BLOCK: case T_PAREN: case T_HASH: {
        // Without /only the part counts elements, each taken whole; with it, bytes across them.
        Root blk(*value), item;
        size_t start = out.size();
        for (uint32_t i = blk->data1, taken = 0;; i++, taken++) {
            SeriesBuffer* b = buf(blk.get());
            if (i >= b->length()) break;
            if (!only && part >= 0 && taken >= uint32_t(part)) break;
            item.cell = b->head_cell()[i];
            int32_t left = -1;
            if (only && part >= 0) {
                left = part - int32_t(out.size() - start);
                if (left <= 0) break;
            }
            value_bytes(item.get(), out, left, only, mode);
        }
        return;
    }
    default:
        if (series::text_kind(t)) {
            text_utf8(value, out, part);
            return;
        }
        if (mode != IMAGE_CHANGE) raise_bad_to(value);
        Root v(*value), text;
        string::make_at(text.get(), 16);
        actions::form_dispatch(v.get(), text.get(), false, 0x7FFFFFFF);
        std::string s = string::to_utf8(text.get());
        limited(out, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), part);
    }
}

// ---- handlers ----

namespace {

// A new binary holding the bytes, in the result slot.
Cell* result_of(const std::vector<uint8_t>& bytes) {
    Root made;
    make_at(made.get(), uint32_t(bytes.size()));
    SeriesBuffer* b = buf(made.get());
    if (!bytes.empty()) std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    b->tail = b->head + uint32_t(bytes.size());
    *stack::arguments = made.cell;
    return stack::arguments;
}

}  // namespace

Cell* to(const Cell*, const Cell* spec_in, uint32_t) {
    Root spec(*spec_in);
    std::vector<uint8_t> bytes;
    uint32_t t = spec->type();
    switch (t) {
    case T_INTEGER: {
        uint32_t v = spec->data2;
        bytes = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        break;
    }
    case T_FLOAT: case T_PERCENT: {
        uint64_t v = std::bit_cast<uint64_t>(spec->get_float());
        for (int i = 7; i >= 0; i--) bytes.push_back(uint8_t(v >> (i * 8)));
        break;
    }
    case T_ISSUE: {
        std::string_view s = symbol::spelling(cells::word_symbol(spec.cell));
        std::string text(s);
        if (!decode_base16(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 1,
                           bytes))
            raise_with("script", "invalid-data", spec.get());
        break;
    }
    case T_BITSET: {
        SeriesBuffer* b = buf(spec.get());
        bytes.assign(b->head_ptr(), b->tail_ptr());
        break;
    }
    case T_BINARY:
        series::copy(spec.get(), stack::arguments, nullptr);
        return stack::arguments;
    case T_IMAGE:
        stack::raise_error("internal", "not-done");
    case T_CHAR: case T_TUPLE: case T_BLOCK: case T_PAREN: case T_HASH:
        value_bytes(spec.get(), bytes, -1, false, IMAGE_WRITE);
        break;
    default:
        if (!series::text_kind(t)) raise_bad_to(spec.get());
        value_bytes(spec.get(), bytes, -1, false, IMAGE_WRITE);
    }
    return result_of(bytes);
}

Cell* make(const Cell* proto, const Cell* spec, uint32_t type) {
    if (spec->is(T_INTEGER) || spec->is(T_FLOAT)) {
        int32_t n = cell::integer_arg(spec);
        if (n < 0) raise_with("script", "out-of-range", spec);
        Root made;
        make_at(made.get(), uint32_t(n));
        *stack::arguments = made.cell;
        return stack::arguments;
    }
    return to(proto, spec, type);
}

namespace {

// The text of the bytes as mold writes it, within the limit; `closed` tells whether it ran to
// the end.
int32_t mold_bytes(const Cell* value, Cell* out, bool only, bool flat, bool part, int32_t limit,
                   int32_t indent) {
    ByteView v = bytes_of(value);
    std::vector<uint8_t> bytes(v.p, v.p + v.n);
    int32_t level = indent + 1;
    std::string text;
    auto line_break = [&](int32_t lvl) {
        text += '\n';
        text.append(size_t(std::max(lvl, 0)) * 4, ' ');
        limit -= 1 + 4 * lvl;
    };
    if (!only) text += "#{";
    limit -= 2;
    uint32_t n = uint32_t(bytes.size());
    bool lines = n > 30 && !flat;
    if (lines) line_break(level);
    bool cut = false;
    for (uint32_t i = 0; i < n; i++) {
        text += string::byte_to_hex(bytes[i]);
        limit -= 2;
        if (part && limit <= 0) {
            cut = true;
            break;
        }
        if (!flat && (i + 1) % 32 == 0) line_break(level);
    }
    if (!cut) {
        if (lines && n % 32 != 0) line_break(indent);
        if (!only) text += '}';
    }
    string::concatenate_cstring(out, text);
    return limit;
}

}  // namespace

int32_t form(const Cell* value, Cell* out, bool part, int32_t limit) {
    return mold_bytes(value, out, false, false, part, limit, 0);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool flat, bool part, int32_t limit,
             int32_t indent) {
    return mold_bytes(value, out, only, flat, part, limit, indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!b->is(T_BINARY)) return NOT_COMPARABLE;
    return compare_bytes(a, b, op, false);
}

void do_bitwise(int op) {
    Cell* a = stack::arg(0);
    const Cell* b = stack::arg(1);
    if (!b->is(T_BINARY)) raise_with("script", "invalid-arg", b);
    ByteView x = bytes_of(a), y = bytes_of(b);
    std::vector<uint8_t> out(std::max(x.n, y.n), 0);
    uint32_t common = std::min(x.n, y.n);
    for (uint32_t i = 0; i < common; i++) {
        switch (op) {
        case OP_AND: out[i] = x.p[i] & y.p[i]; break;
        case OP_OR: out[i] = x.p[i] | y.p[i]; break;
        default: out[i] = x.p[i] ^ y.p[i]; break;
        }
    }
    if (op != OP_AND) {
        const ByteView& longer = x.n > y.n ? x : y;
        if (longer.n > common) std::memcpy(out.data() + common, longer.p + common, longer.n - common);
    }
    result_of(out);
}

Cell* complement(Cell* value) {
    ByteView v = bytes_of(value);
    uint8_t* p = const_cast<uint8_t*>(v.p);
    for (uint32_t i = 0; i < v.n; i++) p[i] = uint8_t(~p[i]);
    return value;
}

namespace {

Cell* append_or_insert(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup,
                       bool insert_flag) {
    Root s(*series_in), v(*value);
    uint32_t at = clamp_head(s.get());
    int owner = series::report(s.get(), insert_flag ? "insert" : "append", int32_t(at), 0, v.get());
    std::vector<uint8_t> img;
    value_bytes(v.get(), img, part, only, IMAGE_WRITE);
    uint64_t copies = dup > 1 ? uint64_t(dup) : 1;
    uint64_t size = uint64_t(img.size()) * copies;
    if (size > 0xFFFFFFFFu) no_memory();
    at = clamp_head(s.get());
    SeriesBuffer* b = reserve(s.get(), size);
    uint32_t len = b->length();
    uint32_t where = insert_flag ? at : len;
    if (size) {
        std::memmove(b->head_ptr() + where + size, b->head_ptr() + where, len - where);
        std::memcpy(b->head_ptr() + where, img.data(), img.size());
        buffer::replicate(b->head_ptr() + where, uint32_t(img.size()), uint32_t(copies));
        b->tail += uint32_t(size);
    }
    if (owner)
        series::report(s.get(), insert_flag ? "inserted" : "appended", int32_t(where), int32_t(size));
    if (insert_flag) s->data1 = at + uint32_t(size);
    *series_in = s.cell;
    return series_in;
}

}  // namespace

Cell* append(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    return append_or_insert(series, value, part, only, dup, false);
}

Cell* insert(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    return append_or_insert(series, value, part, only, dup, true);
}

Cell* change(Cell* series_in, const Cell* value, int32_t part, bool only, int32_t dup) {
    Root s(*series_in), v(*value);
    uint32_t at = clamp_head(s.get());
    int owner = series::report(s.get(), "change", int32_t(at), 0, v.get());
    std::vector<uint8_t> img;
    value_bytes(v.get(), img, -1, only, IMAGE_CHANGE);
    uint64_t copies = dup > 1 ? uint64_t(dup) : 1;
    uint64_t size = uint64_t(img.size()) * copies;
    if (size > MAX_BYTES) no_memory();
    at = clamp_head(s.get());
    uint32_t len = buf(s.get())->length();
    uint64_t range = part >= 0 ? uint64_t(part) : size;
    range = std::min<uint64_t>(range, len - at);
    if (size > range) reserve(s.get(), size - range);
    SeriesBuffer* b = buf(s.get());
    uint8_t* base = b->head_ptr() + at;
    std::memmove(base + size, base + range, size_t(len - at - range));
    if (size) {
        std::memcpy(base, img.data(), img.size());
        buffer::replicate(base, uint32_t(img.size()), uint32_t(copies));
    }
    b->tail = uint32_t(b->tail - range + size);
    if (owner) series::report(s.get(), "changed", int32_t(at), int32_t(size));
    s->data1 = at + uint32_t(size);
    *series_in = s.cell;
    return series_in;
}

Cell* trim(Cell* series_in, bool head, bool tail, bool auto_, bool lines, bool all,
           const Cell* with) {
    if (auto_ || lines) stack::raise_error("internal", "not-done");
    Root s(*series_in);
    uint32_t at = clamp_head(s.get());
    SeriesBuffer* b = buf(s.get());
    uint8_t* p = b->head_ptr() + at;
    uint32_t n = b->length() - at;
    uint32_t kept = 0;
    if (with || all) {
        bool drop[256] = {};
        if (!with) {
            drop[0] = true;
        } else if (with->is(T_CHAR) || with->is(T_INTEGER)) {
            if (with->data2 < 256) drop[with->data2] = true;
        } else if (with->is(T_BINARY) || series::text_kind(with->type())) {
            SeriesBuffer* wb = buf(with);
            for (uint32_t i = with->data1; i < wb->length(); i++) {
                uint32_t cp = string::get_char(wb->head_ptr() + (uint64_t(i) << wb->shift()), wb->unit());
                if (cp < 256) drop[cp] = true;
            }
        } else {
            raise_with("script", "invalid-arg", with);
        }
        for (uint32_t i = 0; i < n; i++)
            if (!drop[p[i]]) p[kept++] = p[i];
    } else {
        bool only_tail = tail && !head, only_head = head && !tail;
        uint32_t first = 0, end = n;
        if (!only_tail) while (first < end && p[first] == 0) first++;
        if (!only_head) while (end > first && p[end - 1] == 0) end--;
        kept = end - first;
        std::memmove(p, p + first, kept);
    }
    b->tail = b->head + at + kept;
    series::report(s.get(), "trimmed", int32_t(at), int32_t(kept));
    *series_in = s.cell;
    return series_in;
}

void init() {
    bool text = type_registry::names[T_STRING].name != nullptr;
    type_registry::register_type(
        T_BINARY, text ? T_STRING : T_SERIES, "binary!",
        {.make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
         .eval_path = text ? Entry<PathFn>(inherit) : Entry<PathFn>(), .compare = compare,
         .and_t = +[] { do_bitwise(OP_AND); }, .complement = complement,
         .or_t = +[] { do_bitwise(OP_OR); }, .xor_t = +[] { do_bitwise(OP_XOR); },
         .append = append, .at = inherit, .back = inherit, .change = change, .clear = inherit,
         .copy = inherit, .find = text ? Entry<FindFn>(inherit) : Entry<FindFn>(),
         .head = inherit, .head_q = inherit, .index_q = inherit, .insert = insert,
         .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit, .poke = inherit,
         .remove = inherit, .reverse = inherit,
         .select = text ? Entry<FindFn>(inherit) : Entry<FindFn>(),
         .sort = text ? Entry<SortFn>(inherit) : Entry<SortFn>(),
         .skip = inherit, .swap = text ? Entry<SwapFn>(inherit) : Entry<SwapFn>(),
         .tail = inherit, .tail_q = inherit, .take = inherit, .trim = trim, .modify = inherit});
}

}  // namespace kov::binary
