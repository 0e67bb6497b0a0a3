// The Kovbin decoder and the two encoders (compact and record forms); see kovbin.hpp.
#include "platform/kovbin.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/boot.hpp"
#include "core/cell.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/hashtable.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/error_catalogue.hpp"
#include "datatypes/function.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/map.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "evaluator/natives.hpp"
#include "platform/lz.hpp"

namespace kov::kovbin {

bool codec_q = false;
uint32_t literal_base = 0;

namespace {

using collector::Root;
using collector::RootContext;
using collector::SeriesRef;

constexpr uint8_t MAGIC[6] = {'K', 'O', 'V', 'B', 'I', 'N'};
constexpr uint8_t P_NEW_LINE = 0xC0, P_SHARED = 0xC1, P_DEFINE = 0xC4;
constexpr uint8_t C_TRUE = 0xC2, C_FALSE = 0xC3, C_COPY = 0xFF;
constexpr uint32_t MAX_PATH = 65536;

// Record header bits.
constexpr uint32_t R_REFERENCE = 255;
constexpr uint32_t R_SHARED = 1u << 19, R_MONEY_NEG = 1u << 22, R_COMPLEMENT = 1u << 23,
                   R_ON_SET = 1u << 24, R_GLOBAL = 1u << 25, R_CTX_OBJECT = 1u << 28,
                   R_ON_STACK = 1u << 29, R_VALUES = 1u << 30, R_NEW_LINE = 1u << 31;
constexpr uint32_t R_KIND_SHIFT = 26;
// Context flags byte of the compact form.
constexpr uint8_t X_ON_STACK = 4, X_CTX_OBJECT = 8, X_VALUES = 16;

bool block_kind(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH);
}
bool text_kind(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool any_word(uint32_t t) { return t >= T_WORD && t <= T_REFINEMENT; }
bool unsaveable(uint32_t t) {
    return t == T_ROUTINE || t == T_TRIPLE || t == T_HANDLE || t == T_PORT || t == T_EVENT;
}

[[noreturn]] void raise_no_codec(uint32_t type) {
    Cell t = cells::make_datatype(type);
    stack::raise_error("access", "no-codec", {&t});
}
[[noreturn]] void raise_not_done() { stack::raise_error("internal", "not-done"); }
[[noreturn]] void raise_too_deep() { stack::raise_error("internal", "too-deep"); }

SeriesBuffer* buf(Handle node) { return memory::buffer_of(node); }
uint32_t cell_count(Handle node) { return buf(node)->used() / 16; }

// ============================================================================================
// Decoder
// ============================================================================================

// Where a decoded value goes: appended to a block, or written at the next position of a block
// (context values, error fields).
struct Sink {
    SeriesRef* blk;
    int32_t pos = -1;  // -1: append
    uint32_t limit = 0;
};

// A placed cell: block node (rooted by whoever owns the sink) and position.
struct Place {
    SeriesRef* blk;
    uint32_t index;
    Cell* cell() const { return blk->cell_at(index); }
};

struct Hdr {
    uint32_t type = 0;
    bool f = false, shared = false, def = false, nl = false;
    uint32_t bits = 0;  // record header word
};

class Decoder {
public:
    const uint8_t* base = nullptr;
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;
    bool rec = false;
    bool codec = true;
    uint32_t out_start = 0;
    SeriesRef* out = nullptr;
    uint32_t depth = 0;
    // The symbol table.
    uint32_t n_syms = 0, area_size = 0;
    const uint8_t* offsets = nullptr;
    const uint8_t* area = nullptr;
    std::vector<uint32_t> sym_ids;
    // A word placed before its owner is read in full: the context made next is written into it.
    const Place* pending_word = nullptr;

    [[noreturn]] void corrupt() {
        Cell at = cells::make_integer(int32_t(p - base + 1));
        stack::raise_error("script", "kb-invalid-record", {&at});
    }
    void need(size_t n) {
        if (size_t(end - p) < n) corrupt();
    }
    uint8_t byte() {
        need(1);
        return *p++;
    }
    uint32_t varint() {
        uint32_t v = 0;
        for (int i = 0; i < 5; i++) {
            uint8_t b = byte();
            if (i == 4 && b > 0x0F) corrupt();
            v |= uint32_t(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        corrupt();
    }
    uint32_t u32() {
        need(4);
        uint32_t v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    }
    // The integer readers of the current form.
    uint32_t count() { return rec ? u32() : varint(); }
    int32_t sint() {
        if (rec) return int32_t(u32());
        uint32_t z = varint();
        return int32_t((z >> 1) ^ (0u - (z & 1)));
    }
    // A count that must not be negative (record form) and whose items of `min_bytes` fit.
    uint32_t fitting_count(size_t min_bytes) {
        uint32_t n = count();
        if (rec && int32_t(n) < 0) corrupt();
        if (min_bytes && uint64_t(n) * min_bytes > uint64_t(end - p)) corrupt();
        return n;
    }
    const uint8_t* take(size_t n) {
        need(n);
        const uint8_t* at = p;
        p += n;
        return at;
    }
    // Raw data of n bytes; the record form pads it to 4 bytes.
    const uint8_t* data(size_t n) {
        const uint8_t* at = take(n);
        if (rec) take((4 - n % 4) % 4);
        return at;
    }
    double f64_le() {
        const uint8_t* at = take(8);
        uint64_t bits;
        std::memcpy(&bits, at, 8);
        return std::bit_cast<double>(bits);
    }
    double f64_hi_lo() {
        uint64_t hi = u32(), lo = u32();
        return std::bit_cast<double>((hi << 32) | lo);
    }

    uint32_t symbol(uint32_t i) {
        if (i >= n_syms) corrupt();
        if (!sym_ids[i]) {
            uint32_t off;
            std::memcpy(&off, offsets + 4 * size_t(i), 4);
            if (off >= area_size) corrupt();
            const char* name = reinterpret_cast<const char*>(area + off);
            size_t len = strnlen(name, area_size - off);
            if (len == 0) corrupt();
            sym_ids[i] = symbol::make(std::string_view(name, len));
        }
        return sym_ids[i];
    }

    // ---- placing ----

    Place put(Sink& s, Cell c, bool nl) {
        if (nl) c.header |= CELL_NEW_LINE;
        if (s.pos < 0) {
            block::append_value(s.blk->value(), &c);
            return Place{s.blk, s.blk->total() - 1};
        }
        if (uint32_t(s.pos) >= s.limit) corrupt();
        uint32_t at = uint32_t(s.pos++);
        *s.blk->cell_at(at) = c;
        return Place{s.blk, at};
    }

    // ---- paths ----

    Cell path() {
        uint32_t k = count();
        size_t left = size_t(end - p) / (rec ? 4 : 1);
        if (k < 1 || k > MAX_PATH || k > left) corrupt();
        Cell cur = cells::make_series(T_BLOCK, out->node());
        for (uint32_t step = 0; step < k; step++) {
            uint32_t i = count();
            cur = step_into(cur, i);
        }
        return cur;
    }
    Cell step_into(const Cell& cur, uint32_t i) {
        uint32_t t = cur.type();
        auto at = [&](Handle node) -> Cell {
            if (!node || i >= cell_count(node)) corrupt();
            return buf(node)->head_cell()[i];
        };
        if (block_kind(t) || t == T_HASH || t == T_MAP) return at(cells::series_node(cur));
        if (t == T_NATIVE || t == T_ACTION) return at(cur.data2);
        if (t == T_ERROR) {
            if (i > 5) corrupt();
            return *error::field(&cur, int(error::F_ARG1 + i));
        }
        if (t == T_FUNCTION) return function_part(cur, i);
        if (t == T_OP) {
            if (i != 0) corrupt();
            return cells::make_series(T_BLOCK, cur.data2);
        }
        if (t == T_OBJECT || any_word(t)) {
            Handle ctx = cur.data1;
            if (!ctx) corrupt();
            Cell* cc = context::cell(ctx);
            if (context::on_stack_q(cc)) {
                Cell owner = *context::owner(ctx);
                if (!owner.is(T_FUNCTION)) corrupt();
                return function_part(owner, i);
            }
            if (i >= context::word_count(ctx)) corrupt();
            return at(cc->data2);
        }
        corrupt();
    }
    Cell function_part(const Cell& fn, uint32_t i) {
        if (i == 0) return cells::make_series(T_BLOCK, fn.data2);
        if (i != 1) corrupt();
        Cell body = *function::extra(&fn, function::EXTRA_BODY);
        if (!body.is(T_BLOCK)) corrupt();
        return body;
    }
    // The context a designated value carries.
    Handle context_of(const Cell& c) {
        uint32_t t = c.type();
        if (t == T_OBJECT || t == T_ERROR || t == T_FUNCTION || any_word(t)) {
            if (!c.data1) corrupt();
            return c.data1;
        }
        if (t == T_OP && native::op_source(&c) == T_FUNCTION) return c.data1;
        corrupt();
    }
    // After a shared prefix or bit: the path (the record form: a reference record).
    Cell reference() {
        if (rec) {
            uint32_t h = u32();
            if ((h & 0xFF) != R_REFERENCE) corrupt();
        }
        return path();
    }

    // ---- values ----

    struct DepthGuard {
        Decoder& d;
        explicit DepthGuard(Decoder& x) : d(x) {
            if (++d.depth > MAX_DEPTH) {
                d.depth--;
                raise_too_deep();
            }
        }
        ~DepthGuard() { d.depth--; }
    };

    // Reads one value into the sink; answers where it went (blk null when nothing was placed).
    Place value(Sink& s) {
        DepthGuard guard(*this);
        Hdr h;
        if (rec) {
            uint32_t w;
            do w = u32();
            while ((w & 0xFF) == 0);
            h.bits = w;
            h.type = w & 0xFF;
            h.nl = w & R_NEW_LINE;
            h.shared = w & R_SHARED;
            if (h.type == R_REFERENCE) return put(s, path(), h.nl);
            if (!codec && any_word(h.type) && (w & R_GLOBAL)) h.def = true;
        } else {
            uint8_t b;
            for (;;) {
                b = byte();
                if (b == P_NEW_LINE) h.nl = true;
                else if (b == P_SHARED) h.shared = true;
                else if (b == P_DEFINE) {
                    if (codec) corrupt();
                    h.def = true;
                } else break;
            }
            if (b >= 0x80) {
                if (h.shared || h.def) corrupt();
                if (b <= 0xBF) return put(s, cells::make_integer(b - 0x80), h.nl);
                if (b == C_TRUE || b == C_FALSE) return put(s, cells::make_logic(b == C_TRUE), h.nl);
                if (b == C_COPY) return put(s, path(), h.nl);
                corrupt();
            }
            h.f = b & 0x40;
            h.type = b & 0x3F;
            if (h.type == 63) h.type = varint();
            if (h.type == 0) corrupt();
            if (h.def && !(any_word(h.type) || h.type == T_ISSUE)) corrupt();
        }
        return payload(s, h);
    }

    uint32_t head(const Hdr& h) {
        if (rec) return u32();
        return h.f ? varint() : 0;
    }

    Place payload(Sink& s, Hdr& h) {
        uint32_t t = h.type;
        switch (t) {
        case T_DATATYPE: {
            uint32_t id = count();
            if (id < 1 || id > T_EVENT) corrupt();
            return put(s, cells::make_datatype(id), h.nl);
        }
        case T_UNSET: return put(s, cells::make_unset(), h.nl);
        case T_NONE: return put(s, cells::make_none(), h.nl);
        case T_LOGIC:
            if (!rec) corrupt();
            return put(s, cells::make_logic(u32() != 0), h.nl);
        case T_CHAR: {
            uint32_t cp = count();
            if (cp > 0x10FFFF) corrupt();
            return put(s, Cell{T_CHAR, 0, cp, 0}, h.nl);
        }
        case T_INTEGER: return put(s, cells::make_integer(sint()), h.nl);
        case T_FLOAT: case T_PERCENT: case T_TIME: {
            double d;
            if (rec) d = f64_hi_lo();
            else if (h.f) d = t == T_PERCENT ? double(sint()) / 100.0 : double(sint());
            else d = f64_le();
            return put(s, cells::make_float(d, t), h.nl);
        }
        case T_PAIR: {
            int32_t x = sint(), y = sint();
            return put(s, Cell{T_PAIR, 0, uint32_t(x), uint32_t(y)}, h.nl);
        }
        case T_POINT2D: case T_POINT3D: {
            Cell c{t, 0, 0, 0};
            c.data1 = u32();
            c.data2 = u32();
            if (t == T_POINT3D) c.data3 = u32();
            return put(s, c, h.nl);
        }
        case T_DATE: {
            uint32_t packed = u32();
            bool timed = packed & 0x10000;
            uint32_t month = (packed >> 12) & 0xF, day = (packed >> 7) & 0x1F;
            if (month < 1 || month > 12 || day < 1) corrupt();
            Cell c{T_DATE, packed, 0, 0};
            if (rec) {
                c.set_float(f64_hi_lo());
            } else {
                if (timed != h.f) corrupt();
                if (timed) c.set_float(f64_le());
            }
            return put(s, c, h.nl);
        }
        case T_TYPESET: {
            uint8_t bytes[12] = {};
            if (rec) {
                std::memcpy(bytes, take(12), 12);
            } else {
                uint8_t n = byte();
                if (n > 12) corrupt();
                std::memcpy(bytes, take(n), n);
            }
            Cell c{T_TYPESET, 0, 0, 0};
            std::memcpy(&c.data1, bytes, 12);
            return put(s, c, h.nl);
        }
        case T_TUPLE: {
            uint32_t n;
            uint8_t bytes[12] = {};
            if (rec) {
                n = (h.bits >> 8) & 0xFF;
                if (n < 1 || n > 12) corrupt();
                std::memcpy(bytes, take(12), 12);
                std::memset(bytes + n, 0, 12 - n);
            } else {
                n = h.f ? byte() : 3;
                if (n < 1 || n > 12) corrupt();
                std::memcpy(bytes, take(n), n);
            }
            Cell c{T_TUPLE | (n << tuple::COUNT_SHIFT), 0, 0, 0};
            std::memcpy(&c.data1, bytes, 12);
            return put(s, c, h.nl);
        }
        case T_MONEY: {
            bool negative = rec ? (h.bits & R_MONEY_NEG) : h.f;
            const uint8_t* m = take(12);
            for (int i = 1; i < 12; i++)
                if ((m[i] >> 4) > 9 || (m[i] & 15) > 9) corrupt();
            Cell c{T_MONEY | (negative ? 0x4000u : 0u), 0, 0, 0};
            std::memcpy(&c.data1, m, 12);
            return put(s, c, h.nl);
        }
        case T_ISSUE: {
            uint32_t sym = symbol(count());
            return put(s, Cell{T_ISSUE, context::global, sym, cells::NO_INDEX}, h.nl);
        }
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
            return word(s, h);
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        case T_HASH: case T_MAP:
            return cells_series(s, h);
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        case T_BINARY: case T_BITSET:
            return byte_series(s, h);
        case T_VECTOR: case T_IMAGE: raise_not_done();
        case T_CONTEXT: {
            Cell obj{T_OBJECT, 0, 0xFFFFFFFFu, 0};
            return context_payload(&s, obj, h, nullptr);
        }
        case T_OBJECT: return object(&s, h);
        case T_FUNCTION: return function_value(&s, h);
        case T_NATIVE: case T_ACTION: return native_value(s, h);
        case T_OP: return op_value(s, h);
        case T_ERROR: return error_value(s, h);
        default:
            if (unsaveable(t)) raise_no_codec(t);
            corrupt();
        }
    }

    // Block kinds, hash!, map!.
    Place cells_series(Sink& s, Hdr& h) {
        uint32_t t = h.type;
        uint32_t at = t == T_MAP ? 0 : head(h);
        if (h.shared) {
            Cell d = reference();
            uint32_t dt = d.type();
            Cell c = d;
            if (block_kind(t)) {
                if (!(block_kind(dt) || dt == T_HASH || dt == T_NATIVE || dt == T_ACTION ||
                      dt == T_FUNCTION || dt == T_OP))
                    corrupt();
                c = cells::make_series(t, d.data2, at);
            } else {
                if (dt != t) corrupt();
                if (t == T_HASH) c.data1 = at;
            }
            return put(s, c, h.nl);
        }
        uint32_t n = fitting_count(1);
        if (t == T_MAP && (n & 1)) corrupt();
        Root b;
        block::make_at(b.get(), int32_t(n ? n : 1));
        Root c(cells::make_series(t, b->data2, at));
        if (t == T_HASH) hash::make_at(b->data2, c.get(), n);
        if (t == T_MAP) map::make_at(b->data2, c.get(), n / 2);
        c->data1 = at;
        Place placed = put(s, c.cell, h.nl);
        SeriesRef child(T_BLOCK, b->data2);
        Sink cs{&child};
        for (uint32_t i = 0; i < n; i++) value(cs);
        if (t == T_HASH) hashtable::rebuild(c->data3, int32_t(n));
        if (t == T_MAP) hashtable::index_values(c->data3, 0, 2);
        return placed;
    }

    // Strings, binary!, bitset!.
    Place byte_series(Sink& s, Hdr& h) {
        uint32_t t = h.type;
        uint32_t at = t == T_BITSET ? 0 : head(h);
        bool complemented = t == T_BITSET && (rec ? (h.bits & R_COMPLEMENT) : h.f);
        if (h.shared) {
            Cell d = reference();
            uint32_t dt = d.type();
            bool ok = text_kind(t) ? text_kind(dt) : dt == t;
            if (!ok) corrupt();
            Cell c = d;
            if (t != T_BITSET) c = cells::make_series(t, d.data2, at);
            return put(s, c, h.nl);
        }
        uint32_t n, unit = 1;
        if (text_kind(t)) {
            if (rec) {
                unit = (h.bits >> 8) & 0xFF;
                n = count();
            } else {
                uint32_t v = varint();
                if ((v & 3) == 3) corrupt();
                unit = 1u << (v & 3);
                n = v >> 2;
            }
            if (unit != 1 && unit != 2 && unit != 4) corrupt();
        } else {
            n = count();
        }
        if (uint64_t(n) * unit > uint64_t(end - p)) corrupt();
        const uint8_t* bytes = data(size_t(n) * unit);
        size_t offset = size_t(bytes - base);
        Root c;
        if (t == T_BITSET) {
            bitset::make_at(c.get(), n, complemented);
        } else if (t == T_BINARY) {
            binary::make_at(c.get(), n);
        } else {
            string::make_at(c.get(), n, unit);
        }
        SeriesBuffer* b = buf(c->data2);
        if (b->unit() != unit) corrupt();
        std::memcpy(b->head_ptr(), base + offset, size_t(n) * unit);
        b->tail = b->head + n * unit;
        if (t != T_BITSET) c.cell = cells::make_series(t, c->data2, at);
        return put(s, c.cell, h.nl);
    }

    // Words of the five kinds.
    Place word(Sink& s, Hdr& h) {
        uint32_t t = h.type;
        uint32_t sym = symbol(count());
        bool bound = rec ? (codec ? !(h.bits & R_GLOBAL) : false) : h.f;
        Place placed{nullptr, 0};
        if (!codec) {
            int32_t root_index = -1, slot = -1;
            if (rec) {
                root_index = int32_t(u32());
                slot = int32_t(u32());
                bound = root_index != -1;
            } else if (bound) {
                root_index = int32_t(varint());
                slot = sint();
            }
            if (bound) {
                uint32_t pos = out_start + uint32_t(root_index);
                if (root_index < 0 || pos >= out->total()) corrupt();
                Cell owner = *out->cell_at(pos);
                if (!owner.is(T_OBJECT)) corrupt();
                if (slot == -1) slot = context::find_word(owner.data1, sym, true);
                if (slot < 0 || uint32_t(slot) >= context::word_count(owner.data1)) corrupt();
                placed = put(s, cells::make_word(t, owner.data1, sym, uint32_t(slot)), h.nl);
            } else {
                placed = global_word(s, t, sym, h.nl);
            }
            if (h.def) define(s, placed);
            return placed;
        }
        int32_t slot = -1;
        if (rec) slot = sint();
        if (!bound) return global_word(s, t, sym, h.nl);
        if (!rec) slot = sint();
        if (h.shared) {
            Handle ctx = context_of(reference());
            check_slot(ctx, slot);
            return put(s, cells::make_word(t, ctx, sym, uint32_t(slot)), h.nl);
        }
        placed = put(s, cells::make_word(t, 0, sym, uint32_t(slot)), h.nl);
        Hdr owner;
        if (rec) {
            owner.bits = u32();
            owner.type = owner.bits & 0xFF;
        } else {
            uint8_t b = byte();
            owner.f = b & 0x40;
            owner.type = b & 0x3F;
        }
        const Place* saved = pending_word;
        pending_word = &placed;
        {
            DepthGuard guard(*this);
            if (owner.type == T_OBJECT) object(nullptr, owner);
            else if (owner.type == T_FUNCTION) function_value(nullptr, owner);
            else corrupt();
        }
        pending_word = saved;
        Handle ctx = placed.cell()->data1;
        if (!ctx) corrupt();
        check_slot(ctx, slot);
        return placed;
    }
    void check_slot(Handle ctx, int32_t slot) {
        if (slot != -1 && (slot < 0 || uint32_t(slot) >= context::word_count(ctx))) corrupt();
    }
    Place global_word(Sink& s, uint32_t t, uint32_t sym, bool nl) {
        Root w;
        word::make_at(sym, w.get());
        cell::set_type(w.get(), t);
        return put(s, w.cell, nl);
    }
    // A definition: the next value becomes the word's value; neither stays in the output.
    void define(Sink& s, const Place& word_place) {
        if (s.pos >= 0) corrupt();
        Place v = value(s);
        Root val(*v.cell()), w(*word_place.cell());
        Handle ctx = w->data1;
        Cell* target = context::value_cell(ctx, int32_t(w->data3));
        if (!target) corrupt();
        *target = val.cell;
        block::cut_at(s.blk->value(), word_place.index);
    }

    // A context payload: makes the context, gives it `owner` (placed in the sink when given),
    // reads its words and values. Answers the owner's place.
    Place context_payload(Sink* s, Cell owner, Hdr& h, Handle* made) {
        uint32_t flags;
        if (rec) {
            uint32_t w = h.bits;
            flags = ((w >> R_KIND_SHIFT) & 3) | (w & R_ON_STACK ? X_ON_STACK : 0) |
                    (w & R_CTX_OBJECT ? X_CTX_OBJECT : 0) | (w & R_VALUES ? X_VALUES : 0);
        } else {
            flags = byte();
        }
        uint32_t n = fitting_count(1);
        bool on_stack = flags & X_ON_STACK;
        RootContext ctx(context::create(n, on_stack, flags & X_CTX_OBJECT, nullptr, flags & 3));
        owner.data1 = ctx.handle();
        *context::owner(ctx.handle()) = owner;
        Place placed{nullptr, 0};
        if (s) placed = put(*s, owner, h.nl);
        if (pending_word) {
            pending_word->cell()->data1 = ctx.handle();
            pending_word = nullptr;
        }
        if (made) *made = ctx.handle();
        for (uint32_t i = 0; i < n; i++) {
            Cell w = cells::make_word(T_WORD, ctx.handle(), symbol(count()), i);
            if (context::add_word(ctx.handle(), &w) != int32_t(i)) corrupt();
        }
        if ((flags & X_VALUES) && !on_stack && n) {
            SeriesRef vals(T_BLOCK, context::cell(ctx.handle())->data2);
            Sink vs{&vals, 0, n};
            for (uint32_t i = 0; i < n; i++) value(vs);
        }
        return placed;
    }

    Place object(Sink* s, Hdr& h) {
        if (h.shared) {
            Handle ctx = context_of(reference());
            Cell owner = *context::owner(ctx);
            if (owner.is(T_UNSET)) corrupt();
            return put(*s, owner, h.nl);
        }
        int32_t class_id = sint();
        bool on_set = rec ? (h.bits & R_ON_SET) : h.f;
        int32_t slots[2] = {-1, -1};
        if (on_set) slots[0] = sint(), slots[1] = sint();
        Hdr ch;
        if (rec) {
            ch.bits = u32();
            if ((ch.bits & 0xFF) != T_CONTEXT) corrupt();
        } else if ((byte() & 0x3F) != T_CONTEXT) {
            corrupt();
        }
        ch.nl = h.nl;
        Root events(cells::make_none());
        if (on_set) {
            block::make_at(events.get(), 2);
            for (int32_t slot : slots) {
                uint32_t x = slot < 0 ? object::NO_HANDLER : uint32_t(slot) << 16;
                Cell pr{T_PAIR, 0, x, 0};
                block::append_value(events.get(), &pr);
            }
        }
        Cell obj{T_OBJECT, 0, codec ? 0xFFFFFFFFu : uint32_t(class_id),
                 on_set ? events->data2 : 0};
        return context_payload(s, obj, ch, nullptr);
    }

    Place function_value(Sink* s, Hdr& h) {
        if (h.shared) {
            Handle ctx = context_of(reference());
            Cell owner = *context::owner(ctx);
            if (!owner.is(T_FUNCTION)) corrupt();
            return put(*s, owner, h.nl);
        }
        uint32_t spec_n = fitting_count(1), body_n = fitting_count(1);
        Root spec, body, extra;
        block::make_at(spec.get(), int32_t(spec_n ? spec_n : 1));
        block::make_at(body.get(), int32_t(body_n ? body_n : 1));
        block::make_at(extra.get(), function::EXTRA_CELLS);
        block::append_value(extra.get(), body.get());
        Cell unset = cells::make_unset();
        for (uint32_t i = 1; i < function::EXTRA_CELLS; i++) block::append_value(extra.get(), &unset);
        Hdr ch;
        if (rec) {
            ch.bits = u32();
            if ((ch.bits & 0xFF) != T_CONTEXT) corrupt();
        } else if ((byte() & 0x3F) != T_CONTEXT) {
            corrupt();
        }
        ch.nl = h.nl;
        Cell fn{T_FUNCTION, 0, spec->data2, extra->data2};
        Handle made = 0;
        Place placed = context_payload(s, fn, ch, &made);
        RootContext ctx(made);
        for (int part = 0; part < 2; part++) {
            Handle node = function_block(part == 0 ? spec->data2 : body->data2);
            if (part == 0) {
                context::owner(ctx.handle())->data2 = node;
                if (placed.blk) placed.cell()->data2 = node;
            } else {
                *function::extra(context::owner(ctx.handle()), function::EXTRA_BODY) =
                    cells::make_series(T_BLOCK, node);
            }
        }
        return placed;
    }
    // The spec or body of a function: a block code, then a path or the cells. Answers the node
    // the function uses.
    Handle function_block(Handle made) {
        Hdr bh;
        if (rec) {
            uint32_t w;
            do w = u32();
            while ((w & 0xFF) == 0);
            if ((w & 0xFF) != T_BLOCK) corrupt();
            bh.shared = w & R_SHARED;
            u32();  // head
        } else {
            uint8_t b;
            for (;;) {
                b = byte();
                if (b == P_NEW_LINE) continue;
                if (b == P_SHARED) bh.shared = true;
                else break;
            }
            if ((b & 0x3F) != T_BLOCK || b >= 0x80) corrupt();
            if (b & 0x40) varint();
        }
        if (bh.shared) {
            Cell d = reference();
            if (!d.is(T_BLOCK)) corrupt();
            return cells::series_node(d);
        }
        uint32_t n = fitting_count(1);
        SeriesRef blk(T_BLOCK, made);
        Sink bs{&blk};
        for (uint32_t i = 0; i < n; i++) value(bs);
        return blk.node();
    }

    Place native_value(Sink& s, Hdr& h) {
        uint32_t t = h.type;
        uint32_t index = count();
        if (index < 1 || (t == T_ACTION ? index > uint32_t(ACTION_COUNT)
                                        : index >= uint32_t(natives::TABLE_SIZE)))
            corrupt();
        Place placed = put(s, Cell{t, index, 0, 0}, h.nl);
        Root spec;
        if (codec) {
            stack::Scratch snap;
            SeriesRef tmp(*block::push_new(1));
            Sink ts{&tmp};
            value(ts);
            if (tmp.total() != 1) corrupt();
            spec.cell = *tmp.cell_at(0);
        } else {
            Place sp = value(s);
            spec.cell = *sp.cell();
        }
        if (!spec->is(T_BLOCK)) corrupt();
        spec->data1 = 0;
        RootContext ctx(context::make(spec.get(), true, false, context::KIND_FUNCTION));
        Root extra;
        block::make_at(extra.get(), 2);
        Cell ctx_cell = *context::cell(ctx.handle());
        block::append_value(extra.get(), &ctx_cell);
        Cell none = cells::make_none();
        block::append_value(extra.get(), &none);
        Cell* c = placed.cell();
        c->data2 = spec->data2;
        c->data3 = extra->data2;
        return placed;
    }

    Place op_value(Sink& s, Hdr& h) {
        Place src = value(s);
        if (!src.blk) corrupt();
        Cell* c = src.cell();
        uint32_t kind = c->type();
        if (rec && ((h.bits >> 16) & 0xFF) != kind) corrupt();
        if (kind != T_NATIVE && kind != T_ACTION && kind != T_FUNCTION) corrupt();
        Cell f = *c;
        if (kind == T_FUNCTION && cell_count(f.data3) >= 4) {
            *function::extra(&f, function::EXTRA_OP) = f;
            c = src.cell();
        }
        c->header = (c->header & CELL_NEW_LINE) | (kind << native::OP_SOURCE_SHIFT) | T_OP;
        if (h.nl) c->header |= CELL_NEW_LINE;
        return src;
    }

    Place error_value(Sink& s, Hdr& h) {
        int32_t code = int32_t(count());
        Handle cat = code < 0 ? 0 : error_catalogue::category(code / 100);
        if (!cat || uint32_t(code % 100 + 2) >= error_catalogue::field_count(cat)) corrupt();
        Root e;
        {
            stack::Scratch snap;
            Cell spec = cells::make_integer(code);
            e.cell = *error::make(nullptr, &spec, T_ERROR);
        }
        Place placed = put(s, e.cell, h.nl);
        SeriesRef vals(T_BLOCK, context::cell(e->data1)->data2);
        Sink vs{&vals, error::F_ARG1, error::F_STACK + 1};
        for (int i = 0; i < 6; i++) value(vs);
        return placed;
    }

    // ---- the body ----

    void body(bool symbols) {
        if (rec) {
            if (end - p < 8) stack::raise_error("script", "invalid-data");
            u32();
        } else {
            varint();
        }
        uint32_t bytes = count();
        if (symbols) {
            uint32_t n = count(), s = count();
            if (rec && (int32_t(n) < 0 || int32_t(s) < 0)) corrupt();
            if (uint64_t(n) * 4 > uint64_t(end - p)) corrupt();
            offsets = take(size_t(n) * 4);
            if (s > uint64_t(end - p)) corrupt();
            area = take(s);
            if (s > 0 && area[s - 1] != 0) corrupt();
            n_syms = n;
            area_size = s;
            sym_ids.assign(n, 0);
        }
        if ((rec && int32_t(bytes) < 0) || bytes > uint64_t(end - p)) corrupt();
        end = p + bytes;
        Sink s{out};
        while (p < end) value(s);
    }
};

// A damaged start-up payload: the report, then a failing exit status (the program cannot run
// without its boot library, so ending "successfully" would hide the damage).
constexpr int BOOT_FAILURE_STATUS = 2;
[[noreturn]] void boot_failure(const char* message) {
    std::fprintf(stdout, "%s\n", message);
    runtime::exit_process(BOOT_FAILURE_STATUS);
}

}  // namespace

void decode(const uint8_t* data, size_t length, const Cell* out_block, bool raise_errors,
            const Cell* culprit) {
    Root arg(culprit ? *culprit : cells::make_none());
    std::vector<uint8_t> input(data, data + length);
    if (length < 8 || std::memcmp(input.data(), MAGIC, 6) != 0) {
        if (!raise_errors) boot_failure("Error: Not a Kovbin file!");
        stack::raise_error("script", "invalid-data", {arg.get()});
    }
    uint8_t flags = input[7];
    std::vector<uint8_t> unpacked;
    const uint8_t* start = input.data();
    const uint8_t* body = start + 8;
    const uint8_t* end = start + length;
    if (flags & FLAG_COMPRESSED) {
        if (!lz::decompress(body, length - 8, unpacked)) {
            if (!raise_errors) boot_failure("Error: Kovbin compressed data corrupted!");
            stack::raise_error("script", "invalid-data", {arg.get()});
        }
        start = body = unpacked.data();
        end = body + unpacked.size();
    }
    SeriesRef out(*out_block);
    uint32_t before = out.total();
    Decoder d;
    d.base = start;
    d.p = body;
    d.end = end;
    d.rec = !(flags & FLAG_COMPACT);
    d.codec = codec_q;
    d.out_start = before;
    d.out = &out;
    d.body(flags & FLAG_SYMBOLS);
    if (!raise_errors) literal_base = before;
}

void decode_boot(const uint8_t* payload, size_t length, bool keep_table) {
    codec_q = false;
    uint32_t saved = literal_base;
    {
        collector::CollectorOff off;
        Cell root = cells::make_series(T_BLOCK, boot::root_block);
        decode(payload, length, &root, false);
    }
    if (keep_table) literal_base = saved;
}

void codec_decode(const Cell* data, Cell* out) {
    Root arg(*data);
    if (!arg->is(T_BINARY) || binary::ks_length(arg.get()) <= 10)
        stack::raise_error("script", "invalid-data", {arg.get()});
    codec_q = true;
    std::vector<uint8_t> bytes(binary::ks_head(arg.get()),
                               binary::ks_head(arg.get()) + binary::ks_length(arg.get()));
    Root blk;
    block::make_at(blk.get(), 1);
    decode(bytes.data(), bytes.size(), blk.get(), true, arg.get());
    if (block::ks_length_q(blk.get()) == 1) *out = *memory::buffer_of(blk->data2)->head_cell();
    else *out = blk.cell;
}

// ============================================================================================
// Encoders
// ============================================================================================

namespace {

class Encoder {
public:
    bool rec;
    std::vector<uint8_t> out;
    // Symbols in order of first use.
    std::vector<uint32_t> syms;
    std::unordered_map<uint32_t, uint32_t> sym_index;
    std::vector<uint8_t> names;
    std::vector<uint32_t> name_offsets;
    // Containers written so far: their key (series or context node) and path.
    std::unordered_map<Handle, std::vector<uint32_t>> refs;
    std::vector<uint32_t> levels;
    uint32_t counter = 0;
    uint32_t depth = 0;

    // ---- primitives ----
    void byte(uint8_t b) { out.push_back(b); }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            out.push_back(uint8_t(v | 0x80));
            v >>= 7;
        }
        out.push_back(uint8_t(v));
    }
    void zigzag(int32_t v) { varint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
    }
    void raw(const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void count(uint32_t v) { rec ? u32(v) : varint(v); }
    void sint(int32_t v) { rec ? u32(uint32_t(v)) : zigzag(v); }
    void data(const void* p, size_t n) {
        raw(p, n);
        if (rec) out.insert(out.end(), (4 - n % 4) % 4, 0);
    }
    void f64_hi_lo(double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        u32(uint32_t(bits >> 32));
        u32(uint32_t(bits));
    }
    void f64_le(double d) {
        uint64_t bits = std::bit_cast<uint64_t>(d);
        raw(&bits, 8);
    }

    uint32_t symbol(uint32_t id) {
        auto it = sym_index.find(id);
        if (it != sym_index.end()) return it->second;
        uint32_t i = uint32_t(syms.size());
        syms.push_back(id);
        sym_index.emplace(id, i);
        name_offsets.push_back(uint32_t(names.size()));
        std::string_view name = symbol::spelling(id);
        names.insert(names.end(), name.begin(), name.end());
        names.push_back(0);
        if (rec)
            while (names.size() % 8) names.push_back(0);
        return i;
    }

    // The start of a value: the compact prefixes and code, or the record header.
    void code(uint32_t type, bool f, bool nl, bool shared, uint32_t bits = 0) {
        if (rec) {
            u32(type | bits | (nl ? R_NEW_LINE : 0) | (shared ? R_SHARED : 0));
            return;
        }
        if (nl) byte(P_NEW_LINE);
        if (shared) byte(P_SHARED);
        uint8_t fb = f ? 0x40 : 0;
        if (type < 63) {
            byte(uint8_t(type | fb));
        } else {
            byte(uint8_t(63 | fb));
            varint(type);
        }
    }
    void path(const std::vector<uint32_t>& path) {
        if (rec) u32(R_REFERENCE);
        count(uint32_t(path.size()));
        for (uint32_t i : path) count(i);
    }
    // A container's key: answers the stored path when it was written before; otherwise enters
    // it and opens its level.
    const std::vector<uint32_t>* enter(Handle key) {
        auto it = refs.find(key);
        if (it != refs.end()) return &it->second;
        std::vector<uint32_t> p = levels;
        p.push_back(counter);
        refs.emplace(key, std::move(p));
        open();
        return nullptr;
    }
    void open() {
        levels.push_back(counter);
        counter = 0;
    }
    void close() {
        counter = levels.back();
        levels.pop_back();
    }

    struct DepthGuard {
        Encoder& e;
        explicit DepthGuard(Encoder& x) : e(x) {
            if (++e.depth > MAX_DEPTH) {
                e.depth--;
                raise_too_deep();
            }
        }
        ~DepthGuard() { e.depth--; }
    };

    // ---- values ----

    void value(const Cell& v) {
        write(v);
        counter++;
    }

    void write(const Cell& v) {
        DepthGuard guard(*this);
        uint32_t t = v.type();
        bool nl = v.header & CELL_NEW_LINE;
        switch (t) {
        case T_UNSET: case T_NONE: code(t, false, nl, false); return;
        case T_DATATYPE: code(t, false, nl, false); count(cells::datatype(v)); return;
        case T_LOGIC:
            if (rec) {
                code(t, false, nl, false);
                u32(cells::logic(v) ? 1 : 0);
            } else {
                if (nl) byte(P_NEW_LINE);
                byte(cells::logic(v) ? C_TRUE : C_FALSE);
            }
            return;
        case T_CHAR: code(t, false, nl, false); count(v.data2); return;
        case T_INTEGER: {
            int32_t n = cells::integer(v);
            if (!rec && n >= 0 && n <= 63) {
                if (nl) byte(P_NEW_LINE);
                byte(uint8_t(0x80 + n));
                return;
            }
            code(t, false, nl, false);
            sint(n);
            return;
        }
        case T_FLOAT: case T_PERCENT: case T_TIME: return number(v, t, nl);
        case T_PAIR:
            code(t, false, nl, false);
            sint(int32_t(v.data2));
            sint(int32_t(v.data3));
            return;
        case T_POINT2D: case T_POINT3D:
            code(t, false, nl, false);
            u32(v.data1);
            u32(v.data2);
            if (t == T_POINT3D) u32(v.data3);
            return;
        case T_DATE: {
            bool timed = v.data1 & 0x10000;
            code(t, timed, nl, false);
            u32(v.data1);
            if (rec) f64_hi_lo(v.get_float());
            else if (timed) f64_le(v.get_float());
            return;
        }
        case T_TYPESET: {
            uint8_t bytes[12];
            std::memcpy(bytes, &v.data1, 12);
            code(t, false, nl, false);
            if (rec) {
                raw(bytes, 12);
            } else {
                uint8_t n = 12;
                while (n && !bytes[n - 1]) n--;
                byte(n);
                raw(bytes, n);
            }
            return;
        }
        case T_TUPLE: {
            uint32_t n = (v.header & tuple::COUNT_MASK) >> tuple::COUNT_SHIFT;
            uint8_t bytes[12];
            std::memcpy(bytes, &v.data1, 12);
            if (rec) {
                code(t, false, nl, false, n << 8);
                raw(bytes, 12);
            } else {
                code(t, n != 3, nl, false);
                if (n != 3) byte(uint8_t(n));
                raw(bytes, n);
            }
            return;
        }
        case T_MONEY: {
            bool negative = v.header & 0x4000;
            code(t, negative, nl, false, negative ? R_MONEY_NEG : 0);
            raw(&v.data1, 12);
            return;
        }
        case T_ISSUE: code(t, false, nl, false); count(symbol(cells::word_symbol(v))); return;
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
            return word(v, nl);
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        case T_HASH:
            return block_value(v, t, nl);
        case T_MAP: return map_value(v, nl);
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        case T_BINARY:
            return text_value(v, t, nl);
        case T_BITSET: return bitset_value(v, nl);
        case T_OBJECT: return object_value(v, nl, false);
        case T_FUNCTION: return function_value(v, nl, false);
        case T_NATIVE: case T_ACTION:
            code(t, false, nl, false);
            count(v.data1);
            write(cells::make_series(T_BLOCK, v.data2));
            return;
        case T_OP: {
            uint32_t src = native::op_source(&v);
            if (src == T_ROUTINE) raise_no_codec(T_OP);
            code(t, false, nl, false, src << 16);
            Cell f = v;
            f.header = src;
            write(f);
            return;
        }
        case T_ERROR: return error_value(v, nl);
        case T_VECTOR: case T_IMAGE: raise_not_done();
        default: raise_no_codec(t);
        }
    }

    void number(const Cell& v, uint32_t t, bool nl) {
        double d = v.get_float();
        bool small = false;
        int32_t n = 0;
        if (!rec && !(d == 0 && std::signbit(d))) {
            if (t == T_PERCENT) {
                if (d >= -21474836.0 && d <= 21474836.0) {
                    double e = std::round(d * 100);
                    if (e / 100 == d) small = true, n = int32_t(e);
                }
            } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == std::trunc(d)) {
                small = true;
                n = int32_t(d);
            }
        }
        if (rec) {
            while (out.size() % 8) u32(0);
            code(t, false, nl, false);
            f64_hi_lo(d);
            return;
        }
        code(t, small, nl, false);
        if (small) zigzag(n);
        else f64_le(d);
    }

    void block_value(const Cell& v, uint32_t t, bool nl) {
        uint32_t at = cells::series_index(v);
        Handle node = cells::series_node(v);
        const std::vector<uint32_t>* ref = enter(node);
        code(t, at != 0, nl, ref != nullptr);
        if (rec || at) count(at);
        if (ref) return path(*ref);
        uint32_t n = cell_count(node);
        count(n);
        for (uint32_t i = 0; i < n; i++) value(buf(node)->head_cell()[i]);
        close();
    }

    void map_value(const Cell& v, bool nl) {
        Handle node = cells::series_node(v);
        const std::vector<uint32_t>* ref = enter(node);
        code(T_MAP, false, nl, ref != nullptr);
        if (ref) return path(*ref);
        uint32_t n = cell_count(node), live = 0;
        for (uint32_t i = 0; i + 1 < n; i += 2)
            if (buf(node)->head_cell()[i + 1].header) live++;
        count(live * 2);
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            if (!buf(node)->head_cell()[i + 1].header) continue;
            value(buf(node)->head_cell()[i]);
            value(buf(node)->head_cell()[i + 1]);
        }
        close();
    }

    void text_value(const Cell& v, uint32_t t, bool nl) {
        uint32_t at = cells::series_index(v);
        Handle node = cells::series_node(v);
        const std::vector<uint32_t>* ref = enter(node);
        SeriesBuffer* b = buf(node);
        uint32_t unit = t == T_BINARY ? 1 : b->unit();
        code(t, at != 0, nl, ref != nullptr, unit << 8);
        if (rec || at) count(at);
        if (ref) return path(*ref);
        uint32_t n = b->length();
        if (t == T_BINARY || rec) count(n);
        else varint((n << 2) | uint32_t(b->shift()));
        data(b->head_ptr(), size_t(n) * unit);
        close();
    }

    void bitset_value(const Cell& v, bool nl) {
        Handle node = cells::series_node(v);
        const std::vector<uint32_t>* ref = enter(node);
        bool complemented = buf(node)->flags & bitset::SER_COMPLEMENT;
        code(T_BITSET, complemented, nl, ref != nullptr, complemented ? R_COMPLEMENT : 0);
        if (ref) return path(*ref);
        uint32_t n = buf(node)->used();
        count(n);
        data(buf(node)->head_ptr(), n);
        close();
    }

    // A context: its words and, unless they live on the stack, its values when any is set.
    void context(Handle ctx) {
        Cell* cc = context::cell(ctx);
        bool on_stack = context::on_stack_q(cc);
        uint32_t n = context::word_count(ctx);
        bool values = false;
        if (!on_stack && cc->data2) {
            SeriesBuffer* vb = buf(cc->data2);
            for (uint32_t i = 0; i < vb->used() / 16; i++)
                if (!vb->head_cell()[i].is(T_UNSET)) values = true;
        }
        uint32_t kind = context::kind_of(cc);
        bool obj = cc->header & context::CTX_OBJECT;
        if (rec) {
            u32(T_CONTEXT | (kind << R_KIND_SHIFT) | (obj ? R_CTX_OBJECT : 0) |
                (on_stack ? R_ON_STACK : 0) | (values ? R_VALUES : 0));
        } else {
            byte(T_CONTEXT);
            byte(uint8_t(kind | (on_stack ? X_ON_STACK : 0) | (obj ? X_CTX_OBJECT : 0) |
                         (values ? X_VALUES : 0)));
        }
        count(n);
        for (uint32_t i = 0; i < n; i++)
            count(symbol(cells::word_symbol(*context::word_cell_at(ctx, int32_t(i)))));
        if (!values) return;
        for (uint32_t i = 0; i < n; i++) {
            SeriesBuffer* vb = buf(context::cell(ctx)->data2);
            Cell c = i < vb->used() / 16 ? vb->head_cell()[i] : cells::make_unset();
            value(c);
        }
    }

    // An object!; `owned`: written in full after its first word (its key is already entered).
    void object_value(const Cell& v, bool nl, bool owned) {
        Handle ctx = v.data1;
        const std::vector<uint32_t>* ref = owned ? nullptr : enter(ctx);
        int32_t slots[2] = {-1, -1};
        bool on_set = false;
        if (v.data3 && !ref) {
            SeriesBuffer* eb = buf(v.data3);
            for (int i = 0; i < 2 && uint32_t(i) < eb->used() / 16; i++) {
                uint32_t x = eb->head_cell()[i].data2;
                if (x != object::NO_HANDLER) slots[i] = int32_t(x >> 16), on_set = true;
            }
        }
        code(T_OBJECT, on_set, nl, ref != nullptr, on_set ? R_ON_SET : 0);
        if (ref) return path(*ref);
        sint(int32_t(v.data2));
        if (on_set) sint(slots[0]), sint(slots[1]);
        context(ctx);
        if (!owned) close();
    }

    void function_value(const Cell& v, bool nl, bool owned) {
        Handle ctx = v.data1;
        const std::vector<uint32_t>* ref = owned ? nullptr : enter(ctx);
        code(T_FUNCTION, false, nl, ref != nullptr);
        if (ref) return path(*ref);
        Cell body = *function::extra(&v, function::EXTRA_BODY);
        uint32_t body_n = 0;
        if (body.is(T_BLOCK)) {
            int32_t k = block::ks_length_q(&body);
            body_n = k > 0 ? uint32_t(k) : 0;
        }
        count(cell_count(v.data2));
        count(body_n);
        context(ctx);
        value(cells::make_series(T_BLOCK, v.data2));
        if (body.is(T_BLOCK)) {
            value(body);
        } else {
            code(T_BLOCK, false, false, false);
            if (rec) u32(0);
            count(0);
            counter++;
        }
        if (!owned) close();
    }

    void word(const Cell& v, bool nl) {
        uint32_t t = v.type();
        Handle ctx = cells::word_context(v);
        uint32_t sym = symbol(cells::word_symbol(v));
        bool global = !ctx || ctx == context::global;
        Cell owner{};
        if (!global) {
            owner = *context::owner(ctx);
            uint32_t ot = owner.type();
            if (ot == T_NONE || ot == T_UNSET || ot == T_BLOCK) global = true;
            else if (ot != T_OBJECT && ot != T_FUNCTION && ot != T_ERROR) global = true;
        }
        if (global) {
            code(t, false, nl, false, R_GLOBAL);
            count(sym);
            if (rec) u32(cells::NO_INDEX);
            return;
        }
        const std::vector<uint32_t>* ref = enter(ctx);
        code(t, true, nl, ref != nullptr);
        count(sym);
        sint(int32_t(cells::word_index(v)));
        if (ref) return path(*ref);
        if (owner.is(T_FUNCTION)) function_value(owner, false, true);
        else object_value(owner.is(T_ERROR) ? Cell{T_OBJECT, ctx, 0xFFFFFFFFu, 0} : owner, false, true);
        close();
    }

    void error_value(const Cell& v, bool nl) {
        code(T_ERROR, false, nl, false);
        count(uint32_t(error::code(&v)));
        Handle ctx = cells::error_context(v);
        if (refs.find(ctx) == refs.end()) {
            std::vector<uint32_t> p = levels;
            p.push_back(counter);
            refs.emplace(ctx, std::move(p));
        }
        open();
        for (int f = error::F_ARG1; f <= error::F_STACK; f++) value(*error::field(&v, f));
        close();
    }
};

void run_encoder(const Cell* value, Cell* out, bool compact) {
    codec_q = true;
    Root v(*value);
    Encoder e;
    e.rec = !compact;
    {
        collector::CollectorOff off;
        e.value(v.cell);
    }
    bool symbols = !e.syms.empty();
    std::vector<uint8_t> r;
    auto put32 = [&](uint32_t x) {
        for (int i = 0; i < 4; i++) r.push_back(uint8_t(x >> (8 * i)));
    };
    auto putvar = [&](uint32_t x) {
        while (x >= 0x80) r.push_back(uint8_t(x | 0x80)), x >>= 7;
        r.push_back(uint8_t(x));
    };
    r.insert(r.end(), MAGIC, MAGIC + 6);
    r.push_back(VERSION);
    r.push_back(uint8_t((compact ? FLAG_COMPACT : 0) | (symbols ? FLAG_SYMBOLS : 0)));
    if (compact) {
        putvar(1);
        putvar(uint32_t(e.out.size()));
        if (symbols) {
            putvar(uint32_t(e.syms.size()));
            putvar(uint32_t(e.names.size()));
        }
    } else {
        put32(1);
        put32(uint32_t(e.out.size()));
        if (symbols) {
            put32(uint32_t(e.syms.size()));
            put32(uint32_t(e.names.size()));
        }
    }
    if (symbols) {
        for (uint32_t o : e.name_offsets) put32(o);
        r.insert(r.end(), e.names.begin(), e.names.end());
    }
    r.insert(r.end(), e.out.begin(), e.out.end());
    binary::make_at(out, uint32_t(r.size()));
    SeriesBuffer* b = memory::buffer_of(out->data2);
    std::memcpy(b->head_ptr(), r.data(), r.size());
    b->tail = b->head + uint32_t(r.size());
}

}  // namespace

void encode(const Cell* value, Cell* out) { run_encoder(value, out, false); }
void encode_compact(const Cell* value, Cell* out) { run_encoder(value, out, true); }

}  // namespace kov::kovbin
