// Symbols and the symbol table.
#include "core/symbol.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/services.hpp"
#include "core/type_registry.hpp"
#include "core/unicode.hpp"

namespace kov::symbol {

Handle table = 0;

namespace {

uint32_t any_type_id = 0;  // cached id of `any-type!` once it exists

void mark_roots() {
    if (table) hashtable::mark(&table);
}

// Name words of the datatypes, for the registry.
void load_type_word(Cell* out, const char* name, int32_t length) {
    if (!table) return;
    Cell* w = word::load(std::string_view(name, size_t(length)));
    *out = *w;
}

// Decodes one UTF-8 sequence; a byte that does not start a valid sequence stands for itself.
uint32_t decode_one(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
    int32_t count = int32_t(end - p);
    int32_t cp = unicode::decode_utf8_status(p, count);
    if (cp < 0) {
        *next = p + 1;
        return *p;
    }
    *next = p + count;
    return uint32_t(cp);
}

std::vector<uint32_t> code_points(Handle spelling_node) {
    SeriesBuffer* b = memory::buffer_of(spelling_node);
    const uint8_t* p = b->head_ptr();
    const uint8_t* end = p + b->used();
    std::vector<uint32_t> cps;
    while (p < end) cps.push_back(decode_one(p, end, &p));
    return cps;
}

// The code points of a text value from its head to its tail; false for a value that is not
// text. An internal part marker (the probe type of the hash tables) counts only the units its
// non-negative third data word asks for.
bool text_code_points(const Cell* c, std::vector<uint32_t>& out) {
    switch (c->type()) {
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case hashtable::T_PROBE:
        break;
    default:
        return false;
    }
    out.clear();
    if (!c->data2) return true;
    SeriesBuffer* b = memory::buffer_of(c->data2);
    uint32_t unit = b->unit();
    if (unit != 2 && unit != 4) unit = 1;
    uint32_t total = b->used() / unit;
    uint32_t count = c->data1 < total ? total - c->data1 : 0;
    if (c->is(hashtable::T_PROBE) && int32_t(c->data3) >= 0) count = std::min(count, c->data3);
    const uint8_t* p = b->head_ptr() + size_t(c->data1) * unit;
    out.resize(count);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t cp = 0;
        std::memcpy(&cp, p + size_t(i) * unit, unit);  // little-endian units
        out[i] = cp;
    }
    return true;
}

inline uint32_t fold_upper(uint32_t c) {
    return c < 0x80 ? ((c >= 'a' && c <= 'z') ? c - 32 : c) : hashtable::upper_case_hook(c);
}

}  // namespace

void init_table(Handle symbol_block) {
    static bool marker_added = false;
    if (!marker_added) {
        collector::add_root_marker(mark_roots);
        marker_added = true;
    }
    collector::mark_hashtable = hashtable::mark;
    unbind();
    if (!symbol_block) {
        symbol_block = memory::make_cells(INITIAL_SYMBOLS);
        Cell keep{T_BLOCK, 0, symbol_block, 0};
        symbol_block = boot::keep(&keep)->data2;
    }
    Cell source{T_BLOCK, 0, symbol_block, 0};
    table = hashtable::make(INITIAL_SYMBOLS, &source, hashtable::KIND_WORDS, hashtable::EXTRA_SYMBOL_TABLE);
    type_registry::load_word = load_type_word;
}

void unbind() {
    table = 0;
    any_type_id = 0;
}

void init() {
    type_registry::register_type(T_SYMBOL, 0, "symbol!", {.compare = compare});
}

uint32_t make(std::string_view utf8) {
    return hashtable::intern_symbol(table, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), false);
}

uint32_t make_from_bytes(const uint8_t* bytes, uint32_t length) {
    return hashtable::intern_symbol(table, bytes, length, false);
}

uint32_t make_from_string(const Cell* text, int32_t limit) {
    std::string utf8;
    unicode::append_utf8(utf8, text);
    if (limit >= 0) {
        // Keep the first `limit` code points.
        size_t i = 0;
        int32_t n = 0;
        while (i < utf8.size() && n < limit) {
            i++;
            while (i < utf8.size() && (uint8_t(utf8[i]) & 0xC0) == 0x80) i++;
            n++;
        }
        utf8.resize(i);
    }
    return make(utf8);
}

uint32_t make_any_case(std::string_view utf8) {
    return hashtable::intern_symbol(table, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), true);
}

uint32_t find(std::string_view utf8, bool any_case) {
    if (!table) return 0;
    return hashtable::find_symbol(table, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), any_case);
}

uint32_t count() { return table ? memory::buffer_of(hashtable::record(table)->data)->used() / 16 : 0; }

Handle ensure_cache(uint32_t id) {
    Cell* c = cell(id);
    if (c->data2) return c->data2;
    std::vector<uint32_t> cps = code_points(c->data3);
    uint32_t top = 0;
    for (uint32_t cp : cps) top = std::max(top, cp);
    uint32_t unit = top <= 0xFF ? 1 : top <= 0xFFFF ? 2 : 4;
    uint32_t n = uint32_t(cps.size());
    Handle node = memory::make_string_buffer(std::max<uint32_t>(n, 1), unit);
    SeriesBuffer* b = memory::buffer_of(node);
    uint8_t* p = b->head_ptr();
    for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = cps[i];
        if (unit == 1) p[i] = uint8_t(cp);
        else if (unit == 2) { uint16_t v = uint16_t(cp); std::memcpy(p + 2 * i, &v, 2); }
        else std::memcpy(p + 4 * i, &cp, 4);
    }
    b->tail = b->head + n * unit;
    cell(id)->data2 = node;
    return node;
}

Cell* get(uint32_t id) {
    ensure_cache(id);
    return cell(id);
}

const char* spelling_c_string(uint32_t id) {
    Handle node = cell(id)->data3;
    SeriesBuffer* b = memory::buffer_of(node);
    if (b->tail >= uint32_t(b->size)) {  // no room for the NUL: reserve one byte first
        buffer::reserve_tail(node, 1);
        b = memory::buffer_of(node);
        b->tail--;
    }
    *b->tail_ptr() = 0;
    return reinterpret_cast<const char*>(b->head_ptr());
}

std::string_view spelling(uint32_t id) {
    SeriesBuffer* b = memory::buffer_of(cell(id)->data3);
    return std::string_view(reinterpret_cast<const char*>(b->head_ptr()), b->used());
}

std::string name(uint32_t id) { return std::string(spelling(id)); }

bool is_any_type_q(const Cell* word) {
    if (!any_type_id) any_type_id = find("any-type!");
    if (!any_type_id) return false;
    return resolve(word->data2) == resolve(any_type_id);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    // The spelling is compared as text with the other value: another symbol's spelling, or the
    // text of a string-like value from its head.
    if (!a->is(T_SYMBOL)) return NOT_COMPARABLE;
    bool same = b->is(T_SYMBOL) && b->data3 == a->data3;  // one spelling buffer: one symbol
    if (op == COMP_SAME) return same ? 0 : -1;            // sameness, not equality of text
    if (same) return 0;
    std::vector<uint32_t> p = code_points(a->data3), q;
    if (b->is(T_SYMBOL)) q = code_points(b->data3);
    else if (!text_code_points(b, q)) return NOT_COMPARABLE;
    // Texts of different lengths are simply unequal under the equality ops (and against an empty
    // second text); the orderings compare the common length first and then the lengths.
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (p.size() != q.size() && (equality || q.empty())) return 1;
    bool strict = op == COMP_STRICT_EQUAL || op == COMP_CASE_SORT;
    size_t n = std::min(p.size(), q.size());
    for (size_t i = 0; i < n; i++) {
        uint32_t c = p[i], d = q[i];
        if (!strict) {
            c = fold_upper(c);
            d = fold_upper(d);
        }
        if (c != d) return c < d ? -1 : 1;
    }
    if (p.size() == q.size()) return 0;
    return p.size() < q.size() ? -1 : 1;
}

}  // namespace kov::symbol
