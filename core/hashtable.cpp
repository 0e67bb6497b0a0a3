// The open-addressing hash table of the runtime (see hashtable.hpp for its users and rules).
#include "core/hashtable.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "core/buffer.hpp"
#include "core/collector.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/type_registry.hpp"
#include "core/unicode_tables.hpp"

namespace kov::hashtable {

using memory::buffer_of;

CompareHook compare_hook = default_compare;
uint32_t (*upper_case_hook)(uint32_t) = default_upper_case;

namespace {
uint32_t hash_seed = 0;  // the process-wide seed, set once by the random generator's start-up
}  // namespace
void (*normalize_key_hook)(Handle, uint32_t) = nullptr;

namespace {

constexpr double LOAD = 0.77;
constexpr int32_t SHIFT_LIMIT = 30000;
constexpr uint32_t NO_BUCKET = 0xFFFFFFFFu;

// ---- small helpers ----

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// Murmur state fed one 32-bit block at a time.
struct Murmur {
    uint32_t h;
    explicit Murmur(uint32_t s) : h(s) {}
    void block(uint32_t k) {
        k *= 0xCC9E2D51u;
        k = rotl(k, 15);
        k *= 0x1B873593u;
        h ^= k;
        h = rotl(h, 13);
        h = h * 5 + 0xE6546B64u;
    }
    uint32_t finish(size_t length) { return fmix32(h ^ uint32_t(length)); }
};

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// A-Z to a-z in the four bytes of a word, bytes of 0x80 and above untouched.
inline uint32_t lower4(uint32_t w) {
    uint32_t low7 = w & 0x7F7F7F7Fu;
    uint32_t ge_a = low7 + 0x3F3F3F3Fu;   // bit 7 set where the byte is >= 'A'
    uint32_t gt_z = low7 + 0x25252525u;   // bit 7 set where the byte is > 'Z'
    uint32_t upper = ge_a & ~gt_z & ~w & 0x80808080u;
    return w | (upper >> 2);
}

inline uint8_t lower1(uint8_t c) { return (c >= 'A' && c <= 'Z') ? uint8_t(c | 0x20) : c; }

template <bool Lower> [[gnu::always_inline]] inline uint32_t murmur(const uint8_t* p, size_t len) {
    Murmur m(hash_seed);
    size_t blocks = len / 4;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k = load32(p + i * 4);
        m.block(Lower ? lower4(k) : k);
    }
    const uint8_t* t = p + blocks * 4;
    uint32_t k = 0;
    switch (len & 3) {
    case 3: k |= uint32_t(t[2]) << 16; [[fallthrough]];
    case 2: k |= uint32_t(t[1]) << 8; [[fallthrough]];
    case 1:
        k |= t[0];
        if (Lower) k = lower4(k);  // the zero bytes above the tail are no letters
        k *= 0xCC9E2D51u;
        k = rotl(k, 15);
        k *= 0x1B873593u;
        m.h ^= k;
        break;
    default: break;
    }
    return m.finish(len);
}

inline uint32_t round_pow2(uint64_t v) {
    if (v <= 1) return 1;
    uint64_t r = 1;
    while (r < v) r <<= 1;
    if (r > 0x80000000u) stack::raise_error("internal", "no-memory");
    return uint32_t(r);
}

inline uint32_t cycle_stamp() { return collector::state.cycles + 1; }

// ---- bucket flags: 2 empty, 1 deleted, 0 live ----

inline uint32_t flag_of(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15u) << 1)) & 3u; }
inline bool is_empty(const uint32_t* f, uint32_t i) { return flag_of(f, i) & 2u; }
inline bool is_deleted(const uint32_t* f, uint32_t i) { return flag_of(f, i) & 1u; }
inline bool is_live(const uint32_t* f, uint32_t i) { return flag_of(f, i) == 0; }
inline void set_live(uint32_t* f, uint32_t i) { f[i >> 4] &= ~(3u << ((i & 15u) << 1)); }
inline void set_deleted(uint32_t* f, uint32_t i) {
    uint32_t sh = (i & 15u) << 1;
    f[i >> 4] = (f[i >> 4] & ~(3u << sh)) | (1u << sh);
}
inline void clear_empty(uint32_t* f, uint32_t i) { f[i >> 4] &= ~(2u << ((i & 15u) << 1)); }

inline uint32_t flag_bytes(uint32_t buckets) { return std::max<uint32_t>(4, buckets / 4); }

// ---- raw arrays ----

template <class T = uint32_t> inline T* items(Handle node) {
    return reinterpret_cast<T*>(buffer_of(node)->head_ptr());
}
// The table's own arrays (flags, keys, positions, chains) are made here with their head at the
// start of the data area, and every growth keeps it there: hot lookups index them from there.
template <class T = uint32_t> inline T* own_items(Handle node) {
    return reinterpret_cast<T*>(buffer_of(node)->data());
}
inline Cell* cells(Handle node) { return buffer_of(node)->head_cell(); }
inline uint32_t cell_count(Handle node) { return buffer_of(node)->used() / 16; }
inline uint32_t item_count(Handle node) { return buffer_of(node)->used() / 4; }

// A raw array of `bytes` bytes in use, filled with `fill` (or left as it is when fill < 0).
Handle new_array(uint64_t wanted, uint32_t unit, int fill) {
    if (wanted > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    uint32_t bytes = uint32_t(wanted);
    uint32_t n = std::max<uint32_t>(1, (bytes + unit - 1) / unit);
    Handle node = buffer::make_array(n, unit);
    SeriesBuffer* b = buffer_of(node);
    b->tail = b->head + bytes;
    if (fill >= 0) std::memset(b->head_ptr(), fill, bytes);
    return node;
}

// Makes the array hold `bytes` bytes, keeping its content; the new bytes get `fill`.
void grow_array(Handle node, uint64_t wanted, int fill) {
    if (wanted > 0x7FFF0000u) stack::raise_error("internal", "no-memory");
    uint32_t bytes = uint32_t(wanted);
    SeriesBuffer* b = buffer_of(node);
    uint32_t used = b->used();
    if (bytes <= used) {
        b->tail = b->head + bytes;
        return;
    }
    if (b->head + bytes > uint32_t(b->size)) {
        b->tail = b->head + used;
        b = buffer::expand_copy(b, int64_t(bytes));
    }
    b->tail = b->head + bytes;
    if (fill >= 0) std::memset(b->head_ptr() + used, fill, bytes - used);
}

inline bool is_word_kind(uint32_t t) { return t >= T_WORD && t <= T_ISSUE; }
inline bool is_text(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF ||
           t == T_PROBE;
}

// Kind 0 keeps a slot of two words per bucket in its `tags` array, so that a lookup reads one
// cache line per bucket: the bucket's tag, then a copy of its key (a position or a chain). The
// tag is TAG_EMPTY or TAG_DELETED as the bucket's flags say, and for a live bucket the key's
// hash in the upper 24 bits, bit 7 set and its datatype in the low 7 bits (datatype ids stay
// below 128). A probe of a datatype whose equal keys always hash alike (integers, texts, words)
// skips a bucket of its own datatype whose tag differs without reading the key; other buckets
// are compared as before. The flags and keys arrays stay the reference for every other routine.
constexpr uint32_t TAG_EMPTY = 0, TAG_DELETED = 1, TAG_LIVE = 0x80;
static_assert(TYPE_COUNT_MAX < 128 && T_PROBE < 128);
inline uint32_t bucket_tag(uint32_t hash, uint32_t type) { return (hash & 0xFFFFFF00u) | TAG_LIVE | (type & 0x7Fu); }
inline uint32_t* slots(const Record* r) { return reinterpret_cast<uint32_t*>(buffer_of(r->tags)->head_ptr()); }
inline uint64_t slot_bytes(uint32_t buckets) { return uint64_t(buckets) * 8; }
// Kind 0: a bucket's key, written to the keys array and the bucket's slot.
inline void set_bucket_key(const Record* r, uint32_t b, int32_t stored) {
    items<int32_t>(r->keys)[b] = stored;
    slots(r)[2 * b + 1] = uint32_t(stored);
}
inline bool tag_filtered(uint32_t t) {
    return t == T_INTEGER || is_text(t) || (is_word_kind(t) && t != T_ISSUE);
}

// Datatypes hashed by their node: their hash changes when nodes move.
inline bool hashed_by_identity(uint32_t t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_NATIVE: case T_ACTION: case T_OP: case T_FUNCTION:
    case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_OBJECT: case T_ERROR:
    case T_HASH: case T_MAP: case T_PORT: case T_IMAGE: case T_EVENT:
        return true;
    default:
        return false;
    }
}

// The data words a key hashed by identity is hashed by (see hash_value): two such keys are the
// same key when these agree.
inline bool same_identity(const Cell* a, const Cell* b) {
    switch (a->type()) {
    case T_OBJECT: case T_ERROR: case T_PORT: return a->data1 == b->data1;
    case T_NATIVE: case T_ACTION: return a->data3 == b->data3;
    case T_MAP: case T_EVENT: return a->data2 == b->data2;
    case T_OP: case T_FUNCTION:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    default: return a->data1 == b->data1 && a->data2 == b->data2;  // the block kinds, image!
    }
}

// Key equality inside the tables. Keys hashed by identity match by identity only: compared by
// content, two equal blocks held in different series would sit in different buckets and be
// found or missed by chance.
enum TextMatch { TEXTS_DIFFER, TEXTS_IDENTICAL, TEXTS_UNDECIDED };
TextMatch match_texts(const Cell* a, const Cell* b);

// Under the default compare and the equality ops (the find ops too for integers), integer keys
// are decided here, and text keys of different lengths or with a differing ASCII character are
// told apart without the full compare (the probe of a lookup meets many keys of its own datatype
// that are not its own); two texts of one datatype with the same characters are equal under =
// and ==.
inline bool keys_equal(const Cell* stored, const Cell* key, int32_t op) {
    uint32_t ts = stored->type(), tk = key->type();
    if (compare_hook == default_compare && ts == T_INTEGER && tk == T_INTEGER &&
        (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME || op >= COMP_FIND_EXACT))
        return stored->data2 == key->data2;
    if (compare_hook == default_compare && (op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME)) {
        if (is_text(ts) && is_text(tk)) {
            TextMatch m = match_texts(stored, key);
            if (m == TEXTS_DIFFER) return false;
            if (m == TEXTS_IDENTICAL && ts == tk && ts != T_PROBE && op != COMP_SAME) return true;
        }
    }
    if (hashed_by_identity(ts) || hashed_by_identity(tk)) return ts == tk && same_identity(stored, key);
    return compare_hook(stored, key, op) == 1;
}

// ---- text access ----

struct Text {
    const uint8_t* p = nullptr;
    uint32_t unit = 1;
    uint32_t count = 0;
    uint32_t at(uint32_t i) const {
        switch (unit) {
        case 1: return p[i];
        case 2: { uint16_t v; std::memcpy(&v, p + 2 * i, 2); return v; }
        default: { uint32_t v; std::memcpy(&v, p + 4 * i, 4); return v; }
        }
    }
};

Text text_of(const Cell* c) {
    Text t;
    if (!c->data2) return t;
    SeriesBuffer* b = buffer_of(c->data2);
    t.unit = b->unit();
    if (t.unit != 1 && t.unit != 2 && t.unit != 4) t.unit = 1;
    uint32_t shift = t.unit == 1 ? 0 : t.unit == 2 ? 1 : 2;
    uint32_t total = b->used() >> shift;
    uint32_t head = c->data1;
    t.p = b->head_ptr() + (uint64_t(head) << shift);
    t.count = head < total ? total - head : 0;
    if (c->type() == T_PROBE && int32_t(c->data3) >= 0) t.count = std::min(t.count, c->data3);
    return t;
}

inline uint32_t fold_upper(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return upper_case_hook(cp);
}

uint32_t hash_text(const Cell* c, bool case_sensitive) {
    Text t = text_of(c);
    Murmur m(hash_seed);
    if (t.unit == 1) {
        // Byte-wide text, the usual kind: ASCII letters folded in place, other code points
        // through the case hook.
        for (uint32_t i = 0; i < t.count; i++) {
            uint32_t cp = t.p[i];
            if (!case_sensitive) {
                if (cp < 0x80) cp -= uint32_t(cp - 'a' < 26u) << 5;
                else cp = upper_case_hook(cp);
            }
            m.block(cp);
        }
        return m.finish(size_t(t.count) * 4);
    }
    for (uint32_t i = 0; i < t.count; i++) {
        uint32_t cp = t.at(i);
        m.block(case_sensitive ? cp : fold_upper(cp));
    }
    return m.finish(size_t(t.count) * 4);
}

// TEXTS_DIFFER when two texts cannot be equal under any equality op (their lengths differ, or at
// some place both hold ASCII characters that differ even with letters folded), TEXTS_IDENTICAL
// when they hold the same characters, else TEXTS_UNDECIDED.
TextMatch match_texts(const Cell* a, const Cell* b) {
    Text x = text_of(a), y = text_of(b);
    if (x.count != y.count) return TEXTS_DIFFER;
    bool same = true;
    auto differ = [&](uint32_t p, uint32_t q) {
        if (p == q) return false;
        same = false;
        return p < 0x80 && q < 0x80 && fold_upper(p) != fold_upper(q);
    };
    if (x.unit == 1 && y.unit == 1) {
        if (x.count == 0 || std::memcmp(x.p, y.p, x.count) == 0) return TEXTS_IDENTICAL;
        for (uint32_t i = 0; i < x.count; i++)
            if (differ(x.p[i], y.p[i])) return TEXTS_DIFFER;
    } else {
        for (uint32_t i = 0; i < x.count; i++)
            if (differ(x.at(i), y.at(i))) return TEXTS_DIFFER;
    }
    return same ? TEXTS_IDENTICAL : TEXTS_UNDECIDED;
}

// 64-bit float words with -0.0 taken as 0.0 (they compare equal, so they must hash alike).
inline void zero_double(uint32_t w[2]) {
    uint64_t bits = uint64_t(w[0]) | (uint64_t(w[1]) << 32);
    if (std::bit_cast<double>(bits) == 0.0) w[0] = w[1] = 0;
}
inline uint32_t zero_float(uint32_t w) { return std::bit_cast<float>(w) == 0.0f ? 0u : w; }

uint32_t murmur_words(const uint32_t* w, size_t n) {
    uint8_t bytes[12];
    std::memcpy(bytes, w, n * 4);
    return murmur<false>(bytes, n * 4);
}

// ---- keys of the tables ----

inline Record* rec(Handle t) { return record(t); }

// The hash of the key stored at a position of a kind 0-2 value block.
uint32_t hash_at(const Record* r, int32_t position) {
    const Cell* c = cells(r->data) + position;
    if (r->kind == KIND_WORDS) {
        if (c->type() == T_SYMBOL) {
            SeriesBuffer* s = buffer_of(c->data3);
            return murmur<true>(s->head_ptr(), s->used());
        }
        return fmix32(symbol::resolve(c->data2));
    }
    return hash_value(c, false);
}

// For kind 0: the first position a bucket key stands for (a position, or a chain's first).
inline int32_t first_position(const Record* r, int32_t stored) {
    if (stored >= 0) return stored;
    Handle chain = items(r->chains)[-stored - 1];
    return items<int32_t>(chain)[0];
}

// ---- kind 0: the position -> bucket array ----

void set_index(Handle table, int32_t position, uint32_t bucket) {
    uint64_t need = (uint64_t(position) + 1) * 4;
    Record* r = rec(table);
    if (buffer_of(r->indexes)->used() < need) {
        collector::RootTable pin(table);
        grow_array(r->indexes, uint64_t(need) * 2, 0xFF);
        table = pin.handle();
        r = rec(table);
    }
    items(r->indexes)[position] = bucket == NO_BUCKET ? NO_BUCKET : bucket + 1;
}

inline uint32_t index_at(const Record* r, int32_t position) {
    if (position < 0 || uint32_t(position) >= item_count(r->indexes)) return NO_BUCKET;
    uint32_t v = items(r->indexes)[position];
    return v == NO_BUCKET ? NO_BUCKET : v - 1;
}

// Removes a position from its chain; true when the chain still holds positions.
bool chain_remove(Record* r, uint32_t chain_number, int32_t position) {
    Handle chain = items(r->chains)[chain_number - 1];
    if (!chain) return false;
    int32_t* p = items<int32_t>(chain);
    uint32_t n = item_count(chain);
    for (uint32_t i = 0; i < n; i++) {
        if (p[i] == position) {
            buffer::remove_bytes(chain, i * 4, 4);
            n--;
            break;
        }
    }
    if (n == 0) {
        items(r->chains)[chain_number - 1] = 0;
        return false;
    }
    return true;
}

// Empties every kind-0 structure (the value block stays).
void reset_hash(Handle table) {
    Record* r = rec(table);
    std::memset(items(r->flags), 0xAA, buffer_of(r->flags)->used());
    std::memset(items(r->keys), 0, buffer_of(r->keys)->used());
    if (r->kind == KIND_HASH) {
        std::memset(items(r->indexes), 0xFF, buffer_of(r->indexes)->used());
        std::memset(slots(r), 0, buffer_of(r->tags)->used());
        buffer::clear(r->chains);
    }
    r->live = r->occupied = 0;
}

// Kind 0 insertion without growth. `grow_at_bound`: answer STATUS_REBUILT after rebuilding when
// the table is full (false during a rebuild, which restarts bigger instead: answers -1).
int insert_hash(Handle table, int32_t pos, bool grow_at_bound) {
    Record* r = rec(table);
    if (index_at(r, pos) != NO_BUCKET) delete_position(table, pos);  // a position holds one key
    r = rec(table);
    if (r->occupied >= r->upper_bound) {
        if (!grow_at_bound) return -1;
        int32_t size = r->live * 2 < r->buckets ? r->buckets - 1 : r->buckets + 1;
        rebuild(table, size);
        return STATUS_REBUILT;
    }
    const Cell* key = cells(r->data) + pos;
    const uint32_t type = key->type();
    if (r->counter == 0 && hashed_by_identity(type)) r->counter = int32_t(cycle_stamp());
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t h = type == T_INTEGER ? fmix32(key->data2) : hash_value(key, false);
    // The slots' tags tell empty, deleted and live buckets apart, and a live bucket's datatype:
    // only buckets of the key's datatype (and, for the datatypes whose equal keys hash alike,
    // of its tag) are compared.
    const uint32_t want = bucket_tag(h, type), own = want & 0xFFu;
    const bool filtered = tag_filtered(type);
    const uint32_t* slot = slots(r);
    uint32_t i = h & mask, start = i, step = 0;
    int64_t site = -1, target = -1;
    while (true) {
        uint32_t t = slot[2 * i];
        if (t == TAG_EMPTY) {
            target = site >= 0 ? site : i;
            break;
        }
        if (t == TAG_DELETED) {
            if (site < 0) site = i;
        } else if ((t & 0xFFu) == own && (!filtered || t == want)) {
            int32_t stored = int32_t(slot[2 * i + 1]);
            const Cell* block = cells(r->data);
            const Cell* other = block + first_position(r, stored);
            key = block + pos;
            if (other->type() == type && keys_equal(other, key, COMP_EQUAL)) {
                // A duplicate: joins (or starts) the chain of this bucket.
                collector::RootTable pin(table);
                if (stored >= 0) {
                    Handle chain = new_array(4, 4, 0);
                    collector::RootNode keep(chain);
                    items<int32_t>(chain)[0] = stored;
                    buffer::append_int(rec(pin.handle())->chains, keep.node);
                    r = rec(pin.handle());
                    stored = -int32_t(item_count(r->chains));
                    set_bucket_key(r, i, stored);
                }
                r = rec(pin.handle());
                buffer::append_int(items(r->chains)[-stored - 1], uint32_t(pos));
                set_index(pin.handle(), pos, i);
                return STATUS_PRESENT;
            }
        }
        i = (i + ++step) & mask;
        if (i == start) {
            target = site;
            break;
        }
    }
    if (target < 0) {  // cannot happen below the bound; kept sound anyway
        if (!grow_at_bound) return -1;
        rebuild(table, rec(table)->buckets + 1);
        return STATUS_REBUILT;
    }
    r = rec(table);
    uint32_t* flags = items(r->flags);
    uint32_t b = uint32_t(target);
    if (is_empty(flags, b)) r->occupied++;
    r->live++;
    set_live(flags, b);
    set_bucket_key(r, b, pos);
    slots(r)[2 * b] = bucket_tag(h, cells(r->data)[pos].type());
    set_index(table, pos, b);
    return STATUS_NEW;
}

// ---- kind 1 ----

// The hash of the last probe of a map lookup, and the hash that insert_key_hashed hands to
// insert_map (-1: none; the key is hashed). A given hash also tells that the key is absent: the
// probe only looks for the first free bucket.
uint32_t last_map_probe_hash = 0;
int64_t given_map_hash = -1;

int insert_map(Handle table, int32_t pos, Cell** found) {
    Record* r = rec(table);
    if (r->occupied >= r->upper_bound) {
        resize(table, uint32_t(r->buckets) + 1);
        r = rec(table);
    }
    uint32_t mask = uint32_t(r->buckets) - 1;
    Cell* block = cells(r->data);
    Cell probe = block[pos];
    if (is_word_kind(probe.type()) && probe.type() != T_REFINEMENT && probe.type() != T_ISSUE)
        probe.header = (probe.header & ~CELL_TYPE_MASK) | T_SET_WORD;
    uint32_t h = given_map_hash >= 0 ? uint32_t(given_map_hash) : hash_value(&probe, false);
    uint32_t i = h & mask, start = i, step = 0;
    int64_t site = -1, target = -1;
    while (true) {
        r = rec(table);
        uint32_t* flags = items(r->flags);
        if (is_empty(flags, i)) {
            target = site >= 0 ? site : i;
            break;
        }
        if (is_deleted(flags, i)) {
            if (site < 0) site = i;
        } else if (given_map_hash < 0) {
            Cell* stored = cells(r->data) + items<int32_t>(r->keys)[i];
            if (stored->type() == probe.type() && keys_equal(stored, &probe, COMP_STRICT_EQUAL)) {
                if (found) *found = stored;
                return STATUS_PRESENT;
            }
        }
        i = (i + ++step) & mask;
        if (i == start) {
            target = site;
            break;
        }
    }
    r = rec(table);
    if (target < 0) {
        resize(table, uint32_t(r->buckets) + 1);
        return insert_map(table, pos, found);
    }
    uint32_t* flags = items(r->flags);
    uint32_t b = uint32_t(target);
    if (is_empty(flags, b)) r->occupied++;
    r->live++;
    set_live(flags, b);
    items<int32_t>(r->keys)[b] = pos;
    items(r->indexes)[b] = h;
    if (found) *found = cells(r->data) + pos;
    return STATUS_NEW;
}

// ---- kind 2 (generic insertion, for tables made over an existing block) ----

int insert_words(Handle table, int32_t pos) {
    Record* r = rec(table);
    if (r->occupied >= r->upper_bound) {
        resize(table, 16 * (r->live * 2 < r->buckets ? uint32_t(r->buckets) - 1 : uint32_t(r->buckets) + 1));
        r = rec(table);
    }
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = hash_at(r, pos) & mask, step = 0;
    const Cell* key = cells(r->data) + pos;
    uint32_t* flags = items(r->flags);
    while (!is_empty(flags, i)) {
        if (is_live(flags, i)) {
            const Cell* stored = cells(r->data) + items<int32_t>(r->keys)[i];
            bool same;
            if (key->type() == T_SYMBOL) {
                SeriesBuffer* a = buffer_of(stored->data3);
                SeriesBuffer* b = buffer_of(key->data3);
                same = a->used() == b->used() && std::memcmp(a->head_ptr(), b->head_ptr(), a->used()) == 0;
            } else {
                same = stored->data2 == key->data2;
            }
            if (same) return STATUS_PRESENT;
        }
        i = (i + ++step) & mask;
    }
    r->occupied++;
    r->live++;
    set_live(flags, i);
    items<int32_t>(r->keys)[i] = pos;
    return STATUS_NEW;
}

// ---- kinds 3 and 4 ----

// Enters an entry offset by its key without growth (the caller has made room).
void place_pointer(Record* r, uint32_t key, uint32_t offset) {
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = fmix32(key) & mask, step = 0;
    uint32_t* flags = items(r->flags);
    while (!is_empty(flags, i)) i = (i + ++step) & mask;
    set_live(flags, i);
    items(r->keys)[i] = offset;
    r->live++;
    r->occupied++;
}

// The bucket holding a key, or NO_BUCKET.
uint32_t find_pointer_bucket(const Record* r, uint32_t key) {
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = fmix32(key) & mask, start = i, step = 0;
    const uint32_t* flags = items(r->flags);
    const uint8_t* entries = buffer_of(r->data)->head_ptr();
    while (!is_empty(flags, i)) {
        if (is_live(flags, i)) {
            const Cell* e = reinterpret_cast<const Cell*>(entries + items(r->keys)[i]);
            if (e->data1 == key) return i;
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return NO_BUCKET;
}

void rebuild_pointers(Handle table, uint32_t request) {
    collector::RootTable pin(table);
    uint32_t buckets = std::max<uint32_t>(4, round_pow2(request));
    Record* r = rec(table);
    uint32_t entry = r->indexes;
    uint32_t per = entry / 16;
    Handle flags = new_array(flag_bytes(buckets), 4, 0xAA);
    collector::RootNode f(flags);
    Handle keys = new_array(uint64_t(buckets) * 4, 4, 0);
    collector::RootNode k(keys);
    table = pin.handle();
    uint32_t live = uint32_t(std::max(0, rec(table)->live));
    Handle block = memory::make_cells(std::max<uint32_t>(1, per * live));
    table = pin.handle();
    r = rec(table);
    Handle old = r->data;
    SeriesBuffer* ob = buffer_of(old);
    SeriesBuffer* nb = buffer_of(block);
    r->flags = f.node;
    r->keys = k.node;
    r->data = block;
    r->buckets = int32_t(buckets);
    r->upper_bound = int32_t(double(buckets) * LOAD + 0.5);
    r->live = r->occupied = 0;
    Cell* oc = ob->head_cell();
    uint32_t n = ob->used() / 16;
    for (uint32_t i = 0; i + per <= n; i += per) {
        if (oc[i].header != T_UNSET) continue;
        if (nb->tail + entry > uint32_t(nb->size)) break;  // more entries than counted: cannot be
        uint32_t offset = nb->tail - nb->head;
        std::memcpy(nb->tail_ptr(), oc + i, entry);
        nb->tail += entry;
        place_pointer(r, oc[i].data1, offset);
    }
    r->counter = int32_t(cycle_stamp());
}

// Rehash in place after a collection moved nodes (kinds 1 to 4; only 3 and 4 stamp a counter).
void rehash_pointers(Handle table) {
    Record* r = rec(table);
    std::memset(items(r->flags), 0xAA, buffer_of(r->flags)->used());
    r->live = r->occupied = 0;
    uint32_t per = r->indexes / 16;
    SeriesBuffer* b = buffer_of(r->data);
    Cell* c = b->head_cell();
    uint32_t n = b->used() / 16;
    for (uint32_t i = 0; i + per <= n; i += per)
        if (c[i].header == T_UNSET) place_pointer(r, c[i].data1, i * 16);
    r->counter = int32_t(cycle_stamp());
}

// ---- the symbol table ----

// Byte equality of short runs without a library call.
inline bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
    }
    if (n >= 4) {
        if (load32(a) != load32(b)) return false;
        a += 4;
        b += 4;
        n -= 4;
    }
    for (; n; n--)
        if (*a++ != *b++) return false;
    return true;
}

// True for any address a handle can name: within 16 GiB (2^32 handles of 4 bytes) of the base.
inline bool in_value_arena(const void* p) {
    return memory::arena && uintptr_t(p) - uintptr_t(memory::arena) < (uint64_t(1) << 34);
}

inline bool same_ascii_case(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (lower1(a[i]) != lower1(b[i])) return false;
    return true;
}

// Addresses of the symbol table's parts, kept from one lookup to the next while nothing can have
// moved them: buffers move only in a collection (which advances the collector's cycle count) or
// when this module grows them (which drops the view).
struct SymbolView {
    Handle table = 0;
    uint32_t cycles = 0;
    Record* r = nullptr;
    uint32_t* flags = nullptr;
    int32_t* keys = nullptr;
    Cell* syms = nullptr;
};
SymbolView symbol_view;

inline void drop_views() { symbol_view.table = 0; }

inline const SymbolView& view_of(Handle table) {
    if (symbol_view.table != table || symbol_view.cycles != collector::state.cycles) {
        Record* r = rec(table);
        symbol_view = {table, collector::state.cycles, r, own_items(r->flags), own_items<int32_t>(r->keys),
                       cells(r->data)};
    }
    return symbol_view;
}

}  // namespace

// ---- hashing ----

void set_seed(uint32_t s) { hash_seed = s; }
uint32_t seed() { return hash_seed; }

uint32_t murmur3(const void* bytes, size_t length) {
    return murmur<false>(static_cast<const uint8_t*>(bytes), length);
}

uint32_t murmur3_lower(const void* bytes, size_t length) {
    return murmur<true>(static_cast<const uint8_t*>(bytes), length);
}

uint32_t hash_pointer(uint32_t value) { return fmix32(value); }

bool identity_key(uint32_t type) { return hashed_by_identity(type); }

uint32_t hash_value(const Cell* c, bool case_sensitive) {
    uint32_t w[3];
    switch (c->type()) {
    case T_DATATYPE: case T_LOGIC: case T_OBJECT: case T_ERROR: case T_PORT:
        return fmix32(c->data1);
    case T_UNSET: return uint32_t(-2);
    case T_NONE: return uint32_t(-1);
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
    case T_HASH: case T_IMAGE:
        w[0] = c->data1;
        w[1] = c->data2;
        return murmur_words(w, 2);
    case T_POINT2D:
        w[0] = zero_float(c->data1);
        w[1] = zero_float(c->data2);
        return murmur_words(w, 2);
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_PROBE:
        return hash_text(c, case_sensitive);
    case T_CHAR: case T_INTEGER: case T_MAP: case T_HANDLE: case T_EVENT:
        return fmix32(c->data2);
    case T_FLOAT: case T_PERCENT: case T_TIME:
        w[0] = c->data2;
        w[1] = c->data3;
        zero_double(w);
        return murmur_words(w, 2);
    case T_PAIR:
        w[0] = c->data2;
        w[1] = c->data3;
        return murmur_words(w, 2);
    case T_SYMBOL: {
        SeriesBuffer* s = buffer_of(c->data3);
        return murmur<true>(s->head_ptr(), s->used());
    }
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
        return fmix32(symbol::resolve(c->data2));
    case T_NATIVE: case T_ACTION:
        return fmix32(c->data3);
    case T_OP: case T_FUNCTION: case T_TRIPLE: case T_TYPESET:
        w[0] = c->data1;
        w[1] = c->data2;
        w[2] = c->data3;
        return murmur_words(w, 3);
    case T_DATE: {
        w[0] = c->data1;
        uint32_t t[2] = {c->data2, c->data3};
        zero_double(t);
        w[1] = t[0];
        w[2] = t[1];
        return murmur_words(w, 3);
    }
    case T_POINT3D:
        w[0] = zero_float(c->data1);
        w[1] = zero_float(c->data2);
        w[2] = zero_float(c->data3);
        return murmur_words(w, 3);
    case T_TUPLE: {
        uint32_t n = std::min<uint32_t>(12, (c->header >> 19) & 0x0F);
        uint8_t bytes[12];
        std::memcpy(bytes, &c->data1, 12);
        return murmur<false>(bytes, n);
    }
    case T_BINARY: {
        if (!c->data2) return murmur<false>(nullptr, 0);
        SeriesBuffer* b = buffer_of(c->data2);
        uint32_t used = b->used();
        uint32_t head = std::min(c->data1, used);
        return murmur<false>(b->head_ptr() + head, used - head);
    }
    case T_MONEY: {
        Cell m = *c;
        m.header = T_MONEY | (c->header & 0x4000u);
        uint8_t bytes[16];
        std::memcpy(bytes, &m, 16);
        bool zero = true;  // -$0 equals $0: drop the sign of a zero amount
        for (int i = 5; i < 16; i++) zero = zero && bytes[i] == 0;
        if (zero) {
            m.header = T_MONEY;
            std::memcpy(bytes, &m, 16);
        }
        return murmur<false>(bytes, 16);
    }
    default:
        return 0;
    }
}

// ---- default services ----

uint32_t default_upper_case(uint32_t cp) {
    const uint32_t* pairs;
    uint32_t count;
    if (cp <= 0xFFFF) {
        pairs = unicode::tables::upper_pairs;
        count = unicode::tables::upper_pairs_count;
    } else {
        pairs = unicode::tables::upper_supplementary;
        count = unicode::tables::upper_supplementary_count;
    }
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        uint32_t mid = (lo + hi) / 2;
        uint32_t k = pairs[mid * 2];
        if (k == cp) return pairs[mid * 2 + 1];
        if (k < cp) lo = mid + 1; else hi = mid;
    }
    return cp;
}

int32_t default_compare(const Cell* a, const Cell* b, int32_t op) {
    uint32_t ta = a->type(), tb = b->type();
    if (ta < TYPE_COUNT_MAX && tb != T_PROBE && type_registry::supports(ta, A_COMPARE))
        return type_registry::relation(a, b, op);
    bool strict = op == COMP_STRICT_EQUAL || op == COMP_CASE_SORT || op == COMP_SAME;
    if (is_word_kind(ta) && is_word_kind(tb)) {
        if ((ta == T_ISSUE) != (tb == T_ISSUE)) return 0;
        switch (op) {
        case COMP_STRICT_EQUAL: return ta == tb && a->data2 == b->data2;
        case COMP_SAME: return ta == tb && a->data2 == b->data2 && a->data1 == b->data1;
        case COMP_FIND_EXACT:
        case COMP_FIND_NOCASE: {
            bool lit_pair = (ta == T_WORD && tb == T_LIT_WORD) || (ta == T_LIT_WORD && tb == T_WORD);
            bool same = op == COMP_FIND_EXACT ? a->data2 == b->data2
                                              : symbol::resolve(a->data2) == symbol::resolve(b->data2);
            return (lit_pair || ta == tb) && same;
        }
        default: return symbol::resolve(a->data2) == symbol::resolve(b->data2);
        }
    }
    if (is_text(ta) && is_text(tb)) {
        if (op == COMP_SAME) return ta == tb && a->data1 == b->data1 && a->data2 == b->data2;
        if (strict && ta != tb && ta != T_PROBE && tb != T_PROBE) return 0;
        Text x = text_of(a), y = text_of(b);
        if (x.count != y.count) return 0;
        for (uint32_t i = 0; i < x.count; i++) {
            uint32_t p = x.at(i), q = y.at(i);
            if (p != q && (strict || fold_upper(p) != fold_upper(q))) return 0;
        }
        return 1;
    }
    if (ta != tb) return 0;
    switch (ta) {
    case T_FLOAT: case T_PERCENT: case T_TIME:
        if (op == COMP_SAME) return a->data2 == b->data2 && a->data3 == b->data3;
        return a->get_float() == b->get_float();
    case T_NONE: case T_UNSET: return 1;
    case T_CHAR: case T_INTEGER: return a->data2 == b->data2;
    case T_LOGIC: case T_DATATYPE: return a->data1 == b->data1;
    default:
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

// ---- tables ----

Handle make(uint32_t size, const Cell* source, int32_t kind, int32_t extra) {
    drop_views();  // a new table may take the node of one that is gone
    bool has_source = source && !source->is(T_NONE) && !source->is(T_UNSET);
    bool copy_words = kind == KIND_WORDS && extra == EXTRA_WORD_TABLE && has_source && source->is(T_CONTEXT);
    if (copy_words) {
        Handle words = source->data1;
        Handle t = copy(words, 0);
        collector::RootTable keep(t);
        Record* r = rec(keep.handle());
        Handle block = buffer::copy_array(r->data);
        t = keep.handle();
        rec(t)->data = block;
        return t;
    }
    const Cell none_cell{T_NONE, 0, 0, 0};
    collector::Root src(has_source ? *source : none_cell);
    if (!collector::mark_hashtable) collector::mark_hashtable = mark;
    if (kind == KIND_WORDS && size >= 4000) {  // a source block is not a source table
        if (size > 0x3FFFFFFFu) stack::raise_error("internal", "no-memory");
        size *= 2;
    }
    if (size < 4) size = 4;
    uint32_t buckets = round_pow2(uint64_t(double(size) / LOAD));
    if (buckets < 4) buckets = 4;

    Handle table = new_array(RECORD_FIELDS * 4, 4, 0);
    collector::RootTable pin(table);
    {
        Record* r = rec(table);
        r->buckets = int32_t(buckets);
        r->upper_bound = int32_t(double(buckets) * LOAD);
        r->kind = kind;
    }
    Handle flags = new_array(flag_bytes(buckets), 4, 0xAA);
    rec(pin.handle())->flags = flags;
    Handle keys = new_array(uint64_t(buckets) * 4, 4, 0);
    rec(pin.handle())->keys = keys;
    if (kind == KIND_MAP) {
        Handle hashes = new_array(uint64_t(buckets) * 4, 4, 0);
        rec(pin.handle())->indexes = hashes;
    }
    if (kind == KIND_HASH) {
        Handle tags = new_array(slot_bytes(buckets), 4, 0);
        rec(pin.handle())->tags = tags;
        Handle indexes = new_array(uint64_t(std::max<uint32_t>(size, 4)) * 4, 4, 0xFF);
        rec(pin.handle())->indexes = indexes;
        Handle chains = buffer::make_array(4, 4);
        rec(pin.handle())->chains = chains;
    }
    if (kind == KIND_POINTERS || kind == KIND_OWNERSHIP) {
        uint32_t per = uint32_t(std::max(0, extra)) + 1;
        uint64_t cells_wanted = uint64_t(size) * per;
        if (cells_wanted > 0x7FFF0000u / 16) stack::raise_error("internal", "no-memory");
        Handle block = memory::make_cells(std::max<uint32_t>(1, uint32_t(cells_wanted)));
        Record* r = rec(pin.handle());
        r->data = block;
        r->indexes = per * 16;
        r->counter = int32_t(cycle_stamp());
        return pin.handle();
    }
    if (has_source && kind <= KIND_WORDS && src.get()->data2) {
        rec(pin.handle())->data = src.get()->data2;
        int32_t head = int32_t(src.get()->data1);
        index_values(pin.handle(), head, kind == KIND_MAP ? 2 : 1);
    } else {
        Handle block = memory::make_cells(size);
        rec(pin.handle())->data = block;
    }
    return pin.handle();
}

Cell* put(Handle table, Cell* key) {
    int status;
    return insert_key(table, key, &status);
}

Cell* insert_key(Handle table, Cell* key, int* status) {
    Record* r = rec(table);
    int32_t pos = int32_t((key - cells(r->data)));
    int s;
    Cell* found = nullptr;
    collector::RootTable pin(table);
    switch (r->kind) {
    case KIND_HASH:
        s = insert_hash(table, pos, true);
        break;
    case KIND_MAP:
        s = insert_map(table, pos, &found);
        break;
    case KIND_WORDS:
        s = insert_words(table, pos);
        break;
    default:
        s = STATUS_NEW;
        break;
    }
    if (status) *status = s;
    if (found) return found;
    return cells(rec(pin.handle())->data) + pos;
}

uint32_t last_probe_hash() { return last_map_probe_hash; }

Cell* insert_key_hashed(Handle table, Cell* key, int* status, uint32_t hash, uint32_t cycles) {
    if (rec(table)->kind != KIND_MAP || cycles != collector::state.cycles) return insert_key(table, key, status);
    struct Given {
        explicit Given(uint32_t h) { given_map_hash = h; }
        ~Given() { given_map_hash = -1; }
    } given(hash);
    return insert_key(table, key, status);
}

void refresh(Handle table) {
    Record* r = rec(table);
    if (r->counter == 0 || uint32_t(r->counter) == cycle_stamp() || collector::state.busy) return;
    if (r->kind == KIND_HASH) {
        rebuild(table, int32_t(cell_count(r->data)));
    } else {
        rehash_pointers(table);
    }
}

Cell* get(Handle table, const Cell* key_in, int32_t head, int32_t skip, int32_t op, bool last,
          bool reverse) {
    Record* r = rec(table);
    Cell probe = *key_in;
    if (r->counter != 0 && uint32_t(r->counter) != cycle_stamp() && !collector::state.busy) {
        collector::RootTable pin(table);
        collector::Root kp(probe);
        refresh(table);
        table = pin.handle();
        probe = *kp.get();
        r = rec(table);
    }
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    Cell* block = cells(r->data);

    if (r->kind == KIND_MAP) {
        if (is_word_kind(probe.type()) && probe.type() != T_REFINEMENT && probe.type() != T_ISSUE)
            probe.header = (probe.header & ~CELL_TYPE_MASK) | T_SET_WORD;
        uint32_t h = last_map_probe_hash = hash_value(&probe, false);
        // The keys' hashes skip other keys unread, for the datatypes whose equal keys hash alike.
        const uint32_t* hashes = items(r->indexes);
        bool filtered = tag_filtered(probe.type());
        uint32_t i = h & mask, start = i, step = 0;
        while (!is_empty(flags, i)) {
            if (is_live(flags, i) && (!filtered || hashes[i] == h)) {
                Cell* stored = block + keys[i];
                if ((probe.type() == T_PROBE || stored->type() == probe.type()) && keys_equal(stored, &probe, op))
                    return stored;
            }
            i = (i + ++step) & mask;
            if (i == start) break;
        }
        return nullptr;
    }

    if (r->kind == KIND_WORDS) {
        // The symbol table answers a symbol key by its spelling, a word table a word key by its
        // exact symbol id; the block's cells tell the two apart (none are found in an empty one).
        if (cell_count(r->data) == 0) return nullptr;
        bool symbols = block->is(T_SYMBOL);
        if (symbols && probe.is(T_SYMBOL)) {
            SeriesBuffer* s = buffer_of(probe.data3);
            uint32_t id = find_symbol(table, s->head_ptr(), s->used(), false);
            return id ? cells(rec(table)->data) + (id - 1) : nullptr;
        }
        if (symbols || !is_word_kind(probe.type())) return nullptr;
        int32_t pos = word_position(table, probe.data2, false);
        return pos < 0 ? nullptr : block + pos;
    }

    if (r->kind != KIND_HASH) return nullptr;

    // Kind 0: every bucket along the probe whose key equals the probe (op 0) holds candidates;
    // equal keys of different datatypes sit in buckets of their own, so the whole probe is walked.
    if (skip == 0) skip = 1;
    int64_t step_abs = skip < 0 ? -int64_t(skip) : int64_t(skip);
    if (reverse) last = true;
    int64_t best = -1;
    uint32_t h = probe.type() == T_INTEGER ? fmix32(probe.data2) : hash_value(&probe, false);
    const uint32_t* slot = slots(r);
    uint32_t want = bucket_tag(h, probe.type());
    uint32_t i = h & mask, start = i, step = 0;
    // Whether position l, at the right distance from head, is the best answer so far.
    auto placed = [&](int32_t l) {
        int64_t dist;
        if (reverse) {
            if (l >= head) return false;
            dist = int64_t(head) - l - 1;
        } else {
            if (l < head) return false;
            dist = int64_t(l) - head;
        }
        if (step_abs != 1 && dist % step_abs != 0) return false;
        return last ? l > best : (best < 0 || l < best);
    };

    if (probe.type() == T_INTEGER && compare_hook == default_compare &&
        (op == COMP_FIND || op == COMP_STRICT_EQUAL)) {
        // An integer matches, under these ops, the integers of its value and nothing else, and
        // those share one bucket (equal keys of one datatype form a chain): the probe reads the
        // slots until that bucket, and the cells of its positions in place.
        const uint32_t v = probe.data2;
        auto is_it = [&](int32_t l) { return block[l].type() == T_INTEGER && block[l].data2 == v; };
        while (true) {
            uint32_t t = slot[2 * i];
            if (t == TAG_EMPTY) break;
            if (t == want) {
                int32_t stored = int32_t(slot[2 * i + 1]);
                if (stored >= 0) {
                    if (is_it(stored)) {
                        if (placed(stored)) best = stored;
                        break;
                    }
                } else {
                    Handle chain = items(r->chains)[-stored - 1];
                    const int32_t* p = items<int32_t>(chain);
                    uint32_t n = item_count(chain);
                    if (n && is_it(p[0])) {
                        for (uint32_t k = 0; k < n; k++)
                            if (placed(p[k]) && is_it(p[k])) best = p[k];
                        break;
                    }
                }
            }
            i = (i + ++step) & mask;
            if (i == start) break;
        }
        return best < 0 ? nullptr : block + best;
    }

    bool filtered = tag_filtered(probe.type());
    uint32_t own = want & 0xFFu;
    auto consider = [&](int32_t l) {
        // The sought value first, as a block's find compares it with each cell.
        if (placed(l) && keys_equal(&probe, block + l, op)) best = l;
    };
    while (true) {
        uint32_t t = slot[2 * i];
        if (t == TAG_EMPTY) break;
        if (t != TAG_DELETED && !(filtered && (t & 0xFFu) == own && t != want)) {
            int32_t stored = int32_t(slot[2 * i + 1]);
            int32_t first = first_position(r, stored);
            if (keys_equal(block + first, &probe, COMP_EQUAL)) {
                if (stored >= 0) {
                    consider(stored);
                } else {
                    Handle chain = items(r->chains)[-stored - 1];
                    const int32_t* p = items<int32_t>(chain);
                    uint32_t n = item_count(chain);
                    for (uint32_t k = 0; k < n; k++) consider(p[k]);
                }
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return best < 0 ? nullptr : block + best;
}

int32_t integer_position(Handle table, uint32_t value, int32_t head) {
    const Record* r = rec(table);
    if (r->kind != KIND_HASH || compare_hook != default_compare ||
        (r->counter != 0 && uint32_t(r->counter) != cycle_stamp() && !collector::state.busy))
        return INTEGER_ASK_GET;
    // The search of get for an integer under the find ops, with nothing but the head to place.
    const uint32_t h = fmix32(value);
    const uint32_t want = bucket_tag(h, T_INTEGER);
    const uint32_t mask = uint32_t(r->buckets) - 1;
    const uint32_t* slot = slots(r);
    const Cell* block = cells(r->data);
    auto is_it = [&](int32_t l) { return block[l].type() == T_INTEGER && block[l].data2 == value; };
    uint32_t i = h & mask, start = i, step = 0;
    while (true) {
        uint32_t t = slot[2 * i];
        if (t == TAG_EMPTY) return -1;
        if (t == want) {
            int32_t stored = int32_t(slot[2 * i + 1]);
            if (stored >= 0) {
                if (is_it(stored)) return stored >= head ? stored : -1;
            } else {
                Handle chain = items(r->chains)[-stored - 1];
                const int32_t* p = items<int32_t>(chain);
                uint32_t n = item_count(chain);
                if (n && is_it(p[0])) {
                    int32_t best = -1;
                    for (uint32_t k = 0; k < n; k++)
                        if (p[k] >= head && (best < 0 || p[k] < best) && is_it(p[k])) best = p[k];
                    return best;
                }
            }
        }
        i = (i + ++step) & mask;
        if (i == start) return -1;
    }
}

Cell* find_next(Handle table, const Cell* key, int32_t* bucket, int32_t* end, int32_t* step) {
    Record* r = rec(table);
    if (r->kind > KIND_MAP) return nullptr;
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    Cell* block = cells(r->data);
    Cell probe = *key;
    if (r->kind == KIND_MAP && is_word_kind(probe.type()) && probe.type() != T_REFINEMENT &&
        probe.type() != T_ISSUE)
        probe.header = (probe.header & ~CELL_TYPE_MASK) | T_SET_WORD;
    uint32_t i;
    if (*bucket == -2) return nullptr;
    if (*bucket < 0) {
        i = hash_value(&probe, false) & mask;
        *end = int32_t(i);
        *step = 0;
    } else {
        i = (uint32_t(*bucket) + uint32_t(++*step)) & mask;
        if (i == uint32_t(*end)) {
            *bucket = -2;
            return nullptr;
        }
    }
    while (!is_empty(flags, i)) {
        if (is_live(flags, i)) {
            // The match rules of the lookups: a map's key must be of the probe's datatype (or
            // the probe a part marker); a hash! bucket only has to be = to it.
            Cell* stored = block + first_position(r, keys[i]);
            bool kind_ok = r->kind == KIND_HASH || probe.type() == T_PROBE || stored->type() == probe.type();
            if (kind_ok && keys_equal(stored, &probe, COMP_EQUAL)) {
                *bucket = int32_t(i);
                return stored;
            }
        }
        i = (i + uint32_t(++*step)) & mask;
        if (i == uint32_t(*end)) break;
    }
    *bucket = -2;
    return nullptr;
}

void delete_position(Handle table, int32_t p) {
    Record* r = rec(table);
    if (r->kind != KIND_HASH) return;
    uint32_t b = index_at(r, p);
    if (b == NO_BUCKET || b >= uint32_t(r->buckets)) return;
    items(r->indexes)[p] = NO_BUCKET;
    uint32_t* flags = items(r->flags);
    if (!is_live(flags, b)) return;
    int32_t stored = items<int32_t>(r->keys)[b];
    if (stored < 0) {
        if (chain_remove(r, uint32_t(-stored), p)) return;
        r = rec(table);
    } else if (stored != p) {
        return;  // the bucket stands for another position
    }
    set_deleted(items(r->flags), b);
    slots(r)[2 * b] = TAG_DELETED;
    r->live--;
}

void delete_key(Handle table, Cell* key) {
    Record* r = rec(table);
    if (r->kind == KIND_HASH) {
        delete_position(table, int32_t(key - cells(r->data)));
    } else if (r->kind == KIND_MAP) {
        Cell* value = key + 1;
        if (value->header != 0) {
            value->header = 0;
            r->live--;
        }
    }
}

void remove_range(Handle table, int32_t position, int32_t count) {
    Record* r = rec(table);
    if (r->kind != KIND_HASH || count <= 0 || position < 0) return;
    int32_t cells_in = int32_t(cell_count(r->data));
    if (position + int64_t(count) > cells_in) count = std::max(0, cells_in - position);
    if (position == 0 && count >= cells_in) {
        reset_hash(table);
        return;
    }
    for (int32_t p = position; p < position + count; p++) delete_position(table, p);
}

bool shift_positions(Handle table, int32_t delta, int32_t from, int32_t count, bool adjust) {
    if (count > SHIFT_LIMIT) return true;
    Record* r = rec(table);
    if (r->kind != KIND_HASH || count < 0 || from < 0) return false;
    if (adjust && delta < 0) {
        for (int32_t p = std::max(0, from + delta); p < from; p++) delete_position(table, p);
        r = rec(table);
    }
    // Stored positions of the moved cells: singles directly, each chain once.
    std::vector<uint8_t> chain_done;
    for (int32_t x = from; x < from + count; x++) {
        uint32_t b = index_at(r, x);
        if (b == NO_BUCKET || !is_live(items(r->flags), b)) continue;
        int32_t stored = items<int32_t>(r->keys)[b];
        if (stored >= 0) {
            if (stored == x) set_bucket_key(r, b, x + delta);
            continue;
        }
        uint32_t n = uint32_t(-stored);
        if (chain_done.size() < n) chain_done.resize(n, 0);
        if (chain_done[n - 1]) continue;
        chain_done[n - 1] = 1;
        Handle chain = items(r->chains)[n - 1];
        int32_t* p = items<int32_t>(chain);
        for (uint32_t k = 0, m = item_count(chain); k < m; k++)
            if (p[k] >= from && p[k] < from + count) p[k] += delta;
    }
    if (adjust) {
        if (delta > 0) {
            uint64_t need = (uint64_t(from) + uint64_t(count) + uint64_t(delta)) * 4;
            if (buffer_of(r->indexes)->used() < need) {
                collector::RootTable pin(table);
                grow_array(r->indexes, uint64_t(need) * 2, 0xFF);
                table = pin.handle();
                r = rec(table);
            }
        }
        uint32_t* idx = items(r->indexes);
        int32_t have = int32_t(item_count(r->indexes));
        int32_t end = std::min(from + count, have);
        if (from < end && from + delta >= 0) {
            int32_t n = end - from;
            std::memmove(idx + from + delta, idx + from, size_t(n) * 4);
            // The places the run left hold no key until the caller enters new cells there.
            int32_t lo = delta > 0 ? from : std::max(end + delta, from);
            int32_t hi = delta > 0 ? std::min(from + delta, end) : end;
            for (int32_t k = lo; k < hi; k++) idx[k] = NO_BUCKET;
        }
    }
    return false;
}

void move_positions(Handle table, int32_t to, int32_t from, int32_t count) {
    if (count <= 0 || (to >= from && to < from + count)) return;
    Record* r = rec(table);
    if (r->kind != KIND_HASH) return;
    // New position of a cell of the block after the move.
    int32_t lo, hi;
    auto remap = [&](int32_t x) -> int32_t {
        if (to > from) {  // the run lands before `to`, the cells between move down
            if (x >= from && x < from + count) return x + (to - count - from);
            if (x >= from + count && x < to) return x - count;
        } else {  // the run lands at `to`, the cells between move up
            if (x >= to && x < from) return x + count;
            if (x >= from && x < from + count) return x - (from - to);
        }
        return x;
    };
    if (to > from) {
        lo = from;
        hi = to;
    } else {
        lo = to;
        hi = from + count;
    }
    int32_t have = int32_t(item_count(r->indexes));
    hi = std::min(hi, have);
    if (lo >= hi) return;
    std::vector<uint8_t> bucket_done(size_t(r->buckets), 0);
    uint32_t* idx = items(r->indexes);
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    for (int32_t x = lo; x < hi; x++) {
        uint32_t v = idx[x];
        if (v == NO_BUCKET) continue;
        uint32_t b = v - 1;
        if (b >= uint32_t(r->buckets) || bucket_done[b] || !is_live(flags, b)) continue;
        bucket_done[b] = 1;
        int32_t stored = keys[b];
        if (stored >= 0) {
            keys[b] = remap(stored);
            slots(r)[2 * b + 1] = uint32_t(keys[b]);
        } else {
            Handle chain = items(r->chains)[-stored - 1];
            int32_t* p = items<int32_t>(chain);
            for (uint32_t k = 0, m = item_count(chain); k < m; k++) p[k] = remap(p[k]);
        }
    }
    std::vector<uint32_t> saved(idx + lo, idx + hi);
    for (int32_t x = lo; x < hi; x++) idx[remap(x)] = saved[size_t(x - lo)];
}

void index_values(Handle table, int32_t from, int32_t stride) {
    collector::RootTable pin(table);
    if (stride < 1) stride = 1;
    int32_t pos = std::max(0, from);
    while (true) {
        table = pin.handle();
        Record* r = rec(table);
        int32_t n = int32_t(cell_count(r->data));
        if (r->kind == KIND_MAP) {
            if (pos + 1 >= n) break;
            Cell* block = cells(r->data);
            Cell* earlier = get(table, block + pos, 0, 1, COMP_STRICT_EQUAL, false, false);
            if (earlier) {
                r = rec(table);
                block = cells(r->data);
                if (earlier[1].header == 0) r->live++;
                earlier[1] = block[pos + 1];
                // Cut the later pair out; the walk stays where it is.
                buffer::remove_bytes(r->data, uint32_t(pos) * 16, 32);
                continue;
            }
            int status;
            insert_key(table, cells(rec(table)->data) + pos, &status);
            if (normalize_key_hook) {
                normalize_key_hook(rec(pin.handle())->data, uint32_t(pos));
            } else {
                Cell* k = cells(rec(pin.handle())->data) + pos;
                uint32_t t = k->type();
                if (t >= T_WORD && t <= T_GET_WORD) k->header = (k->header & ~CELL_TYPE_MASK) | T_SET_WORD;
            }
            pos += 2;
            continue;
        }
        if (pos >= n) break;
        int status;
        insert_key(table, cells(r->data) + pos, &status);
        if (status == STATUS_REBUILT) break;
        pos += stride;
    }
}

Handle copy(Handle table, Handle new_block) {
    collector::RootTable pin(table);
    collector::RootTable np(buffer::copy_array(table));  // the record, still sharing the original's arrays
    Handle f = buffer::copy_array(rec(pin.handle())->flags);
    rec(np.handle())->flags = f;
    Handle k = buffer::copy_array(rec(pin.handle())->keys);
    rec(np.handle())->keys = k;
    if (rec(np.handle())->kind == KIND_HASH) {
        Handle tg = buffer::copy_array(rec(pin.handle())->tags);
        rec(np.handle())->tags = tg;
        Handle ix = buffer::copy_array(rec(pin.handle())->indexes);
        rec(np.handle())->indexes = ix;
        // Separate chains: the copy and the original change apart.
        Handle list = buffer::copy_array(rec(pin.handle())->chains);
        rec(np.handle())->chains = list;
        uint32_t n = item_count(list);
        for (uint32_t i = 0; i < n; i++) {
            Handle chain = items(rec(np.handle())->chains)[i];
            if (!chain) continue;
            Handle c = buffer::copy_array(chain);
            items(rec(np.handle())->chains)[i] = c;
        }
    }
    if (rec(np.handle())->kind == KIND_MAP) {
        Handle hashes = buffer::copy_array(rec(pin.handle())->indexes);
        rec(np.handle())->indexes = hashes;
    }
    Record* r = rec(np.handle());
    if (r->kind == KIND_POINTERS || r->kind == KIND_OWNERSHIP) {
        Handle entries = buffer::copy_array(rec(pin.handle())->data);
        rec(np.handle())->data = entries;
    } else if (new_block) {
        r->data = new_block;
    }
    return np.handle();
}

void clear(Handle table) {
    Record* r = rec(table);
    buffer::clear(r->data);
    reset_hash(table);
}

void rebuild(Handle table, int32_t size) {
    Record* r = rec(table);
    if (r->kind == KIND_POINTERS || r->kind == KIND_OWNERSHIP) {
        rebuild_pointers(table, uint32_t(std::max(0, size)));
        return;
    }
    if (r->kind != KIND_HASH) {
        resize(table, uint32_t(std::max(0, size)));
        return;
    }
    collector::RootTable pin(table);
    uint64_t want = uint64_t(double(std::max(0, size)) * 1.5);
    uint32_t buckets = std::max<uint32_t>(4, round_pow2(want));
    // Node evacuation stays off while the positions are entered again; the setting it had comes
    // back on every way out, an error raised by a comparison or an allocation included.
    struct EvacuationOff {
        bool saved = collector::state.evacuation;
        EvacuationOff() { collector::state.evacuation = false; }
        ~EvacuationOff() { collector::state.evacuation = saved; }
    } evacuation_off;
    while (true) {
        Handle flags = new_array(flag_bytes(buckets), 4, 0xAA);
        collector::RootNode f(flags);
        Handle keys = new_array(uint64_t(buckets) * 4, 4, 0);
        collector::RootNode k(keys);
        Handle tags = new_array(slot_bytes(buckets), 4, 0);
        table = pin.handle();
        r = rec(table);
        r->flags = f.node;
        r->keys = k.node;
        r->tags = tags;
        r->buckets = int32_t(buckets);
        r->upper_bound = int32_t(double(buckets) * LOAD);
        r->live = r->occupied = 0;
        r->counter = 0;
        std::memset(items(r->indexes), 0xFF, buffer_of(r->indexes)->used());
        buffer::clear(r->chains);
        bool full = false;
        int32_t n = int32_t(cell_count(r->data));
        for (int32_t p = 0; p < n; p++) {
            if (insert_hash(pin.handle(), p, false) < 0) {
                full = true;
                break;
            }
        }
        if (!full) break;
        buckets = round_pow2(uint64_t(buckets) * 2);
    }
}

void resize(Handle table, uint32_t request) {
    drop_views();
    Record* r = rec(table);
    uint32_t new_n = std::max<uint32_t>(4, round_pow2(request));
    if (r->live >= int32_t(double(new_n) * LOAD + 0.5)) return;
    uint32_t old_n = uint32_t(r->buckets);
    collector::RootTable pin(table);
    Handle new_flags = new_array(flag_bytes(new_n), 4, 0xAA);
    collector::RootNode nf(new_flags);
    bool map = rec(pin.handle())->kind == KIND_MAP;
    if (new_n > old_n) {
        grow_array(rec(pin.handle())->keys, uint64_t(new_n) * 4, 0);
        if (map) grow_array(rec(pin.handle())->indexes, uint64_t(new_n) * 4, 0);
    }
    table = pin.handle();
    r = rec(table);
    uint32_t* of = items(r->flags);
    uint32_t* fl = items(nf.node);
    int32_t* keys = items<int32_t>(r->keys);
    uint32_t* stored_hashes = map ? items(r->indexes) : nullptr;  // a map keeps its keys' hashes
    uint32_t mask = new_n - 1;
    // Every cell of a symbol or word table is a key: their hashes are taken in one sequential
    // walk of the block rather than in bucket order, which reaches the cells at random.
    std::vector<uint32_t> hashes;
    if (r->kind == KIND_WORDS) {
        uint32_t n = cell_count(r->data);
        hashes.resize(n);
        for (uint32_t p = 0; p < n; p++) hashes[p] = hash_at(r, int32_t(p));
    }
    auto hash_of = [&](int32_t key) { return hashes.empty() ? hash_at(r, key) : hashes[size_t(key)]; };
    for (uint32_t j = 0; j < old_n; j++) {
        if (!is_live(of, j)) continue;
        int32_t key = keys[j];
        uint32_t h = map ? stored_hashes[j] : hash_of(key);
        set_deleted(of, j);
        while (true) {
            uint32_t i = h & mask, step = 0;
            while (!is_empty(fl, i)) i = (i + ++step) & mask;
            clear_empty(fl, i);
            if (i < old_n && is_live(of, i)) {
                std::swap(key, keys[i]);
                if (map) std::swap(h, stored_hashes[i]);
                else h = hash_of(key);
                set_deleted(of, i);
            } else {
                keys[i] = key;
                if (map) stored_hashes[i] = h;
                break;
            }
        }
    }
    if (new_n < old_n) {
        grow_array(r->keys, uint64_t(new_n) * 4, 0);
        if (map) grow_array(rec(table)->indexes, uint64_t(new_n) * 4, 0);
        r = rec(table);
    }
    r->flags = nf.node;
    r->buckets = int32_t(new_n);
    r->upper_bound = int32_t(double(new_n) * LOAD + 0.5);
    if (r->kind == KIND_WORDS) r->occupied = r->live;
}

// ---- kinds 3 and 4 ----

Cell* put_pointer(Handle table, uint32_t key) {
    collector::RootTable pin(table);
    refresh(table);
    table = pin.handle();
    Record* r = rec(table);
    uint32_t found = find_pointer_bucket(r, key);
    if (found != NO_BUCKET) {
        uint8_t* entries = buffer_of(r->data)->head_ptr();
        return reinterpret_cast<Cell*>(entries + items(r->keys)[found]) + 1;
    }
    if (r->occupied >= r->upper_bound) {
        uint32_t size = r->live * 2 < r->buckets ? uint32_t(r->buckets) - 1 : uint32_t(r->buckets) + 1;
        rebuild_pointers(table, size);
        table = pin.handle();
        r = rec(table);
    }
    uint32_t entry = r->indexes;
    uint32_t per = entry / 16;
    buffer::reserve_tail(r->data, entry);
    table = pin.handle();
    r = rec(table);
    SeriesBuffer* b = buffer_of(r->data);
    uint32_t offset = b->used() - entry;
    Cell* e = reinterpret_cast<Cell*>(b->head_ptr() + offset);
    e[0] = Cell{T_UNSET, key, 0, 0};
    for (uint32_t i = 1; i < per; i++) e[i] = Cell{T_UNSET, 0, 0, 0};
    // Probe for the first deleted or empty bucket.
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = fmix32(key) & mask, step = 0;
    uint32_t* flags = items(r->flags);
    while (is_live(flags, i)) i = (i + ++step) & mask;
    if (is_empty(flags, i)) r->occupied++;
    r->live++;
    set_live(flags, i);
    items(r->keys)[i] = offset;
    return e + 1;
}

Cell* get_pointer(Handle table, uint32_t key) {
    collector::RootTable pin(table);
    refresh(table);
    table = pin.handle();
    Record* r = rec(table);
    uint32_t b = find_pointer_bucket(r, key);
    if (b == NO_BUCKET) return nullptr;
    return reinterpret_cast<Cell*>(buffer_of(r->data)->head_ptr() + items(r->keys)[b]) + 1;
}

Cell* delete_pointer(Handle table, uint32_t key) {
    collector::RootTable pin(table);
    refresh(table);
    table = pin.handle();
    Record* r = rec(table);
    uint32_t b = find_pointer_bucket(r, key);
    if (b == NO_BUCKET) return nullptr;
    set_deleted(items(r->flags), b);
    r->live--;
    Cell* e = reinterpret_cast<Cell*>(buffer_of(r->data)->head_ptr() + items(r->keys)[b]);
    e->header = 0;
    return e + 1;
}

// ---- the symbol table ----

uint32_t intern_symbol(Handle table, const uint8_t* bytes, uint32_t length, bool any_case) {
    // The spelling may lie in a buffer that an allocation moves: keep a copy aside then.
    static std::string aside;
    if (in_value_arena(bytes)) {
        aside.assign(reinterpret_cast<const char*>(bytes), length);
        bytes = reinterpret_cast<const uint8_t*>(aside.data());
    }
    const SymbolView* v = &view_of(table);
    Record* r = v->r;
    if (r->occupied >= r->upper_bound) {
        collector::RootTable pin(table);
        uint32_t n = uint32_t(r->buckets);
        resize(table, 16 * (r->live * 2 < r->buckets ? n - 1 : n + 1));
        table = pin.handle();
        v = &view_of(table);
        r = v->r;
    }
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t start = murmur<true>(bytes, length) & mask;
    uint32_t* flags = v->flags;
    int32_t* keys = v->keys;
    Cell* syms = v->syms;

    // One walk: an exact match (or, with any-case, one ignoring case) answers at once; without
    // any-case the first spelling equal ignoring ASCII case met on the way gives a new symbol its
    // alias, always the canonical one, so that every case variant resolves to one id.
    uint32_t i = start, step = 0;
    int64_t end = -1;
    int32_t alias = -1;
    while (true) {
        if (is_empty(flags, i)) {
            end = i;
            break;
        }
        if (is_live(flags, i)) {
            const Cell* s = syms + keys[i];
            SeriesBuffer* sp = buffer_of(s->data3);
            if (sp->used() == length) {
                const uint8_t* text = sp->head_ptr();
                if (any_case) {
                    if (same_ascii_case(text, bytes, length)) return uint32_t(keys[i]) + 1;
                } else if (same_bytes(text, bytes, length)) {
                    return uint32_t(keys[i]) + 1;
                } else if (alias < 0 && same_ascii_case(text, bytes, length)) {
                    int32_t a = int32_t(s->data1);
                    alias = a > 0 ? a : keys[i] + 1;
                }
            }
        } else if (end < 0) {
            end = i;  // no deletions happen here; taken only if the walk goes round
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    collector::RootTable pin(table);
    if (end < 0) {  // the table went round without an empty bucket: make room and retry
        resize(table, uint32_t(rec(table)->buckets) * 2);
        return intern_symbol(pin.handle(), bytes, length, any_case);
    }

    // Creation: the spelling in a byte buffer with a NUL past its tail, then the symbol cell.
    Handle spelling = memory::make_bytes(length + 1);
    {
        SeriesBuffer* sb = buffer_of(spelling);
        if (length) std::memcpy(sb->head_ptr(), bytes, length);
        sb->head_ptr()[length] = 0;
        sb->tail = sb->head + length;
    }
    collector::RootNode keep(spelling);
    Cell* sym = buffer::alloc_tail_cell(rec(pin.handle())->data);
    *sym = Cell{T_SYMBOL, uint32_t(alias), 0, keep.node};
    drop_views();  // the symbol block may have moved
    r = rec(pin.handle());
    uint32_t pos = cell_count(r->data) - 1;
    flags = items(r->flags);
    uint32_t b = uint32_t(end);
    if (is_empty(flags, b)) r->occupied++;
    r->live++;
    set_live(flags, b);
    items<int32_t>(r->keys)[b] = int32_t(pos);
    return pos + 1;
}

uint32_t find_symbol(Handle table, const uint8_t* bytes, uint32_t length, bool any_case) {
    const SymbolView& v = view_of(table);
    uint32_t mask = uint32_t(v.r->buckets) - 1;
    uint32_t i = murmur<true>(bytes, length) & mask, start = i, step = 0;
    uint32_t* flags = v.flags;
    int32_t* keys = v.keys;
    Cell* syms = v.syms;
    while (!is_empty(flags, i)) {
        if (is_live(flags, i)) {
            SeriesBuffer* sp = buffer_of(syms[keys[i]].data3);
            if (sp->used() == length) {
                const uint8_t* text = sp->head_ptr();
                if (any_case ? same_ascii_case(text, bytes, length) : std::memcmp(text, bytes, length) == 0)
                    return uint32_t(keys[i]) + 1;
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return 0;
}

// ---- word tables ----

int32_t word_position(Handle table, uint32_t sym, bool ignore_case) {
    Record* r = rec(table);
    uint32_t canon = symbol::resolve(sym);
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = fmix32(canon) & mask, start = i, step = 0;
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    const Cell* words = cells(r->data);
    while (!is_empty(flags, i)) {
        if (is_live(flags, i)) {
            const Cell* w = words + keys[i];
            if (w->data2 == sym || (ignore_case && symbol::resolve(w->data2) == canon)) return keys[i];
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    return -1;
}

int32_t word_slot(Handle table, uint32_t sym, bool ignore_case, Handle context, int32_t* out_slot) {
    Record* r = rec(table);
    std::optional<collector::RootTable> pin;
    if (context && r->occupied >= r->upper_bound) {
        pin.emplace(table);
        collector::RootContext keep_ctx(context);
        uint32_t n = uint32_t(r->buckets);
        resize(table, 16 * (r->live * 2 < r->buckets ? n - 1 : n + 1));
        table = pin->handle();
        context = keep_ctx.handle();
        r = rec(table);
    }
    uint32_t canon = symbol::resolve(sym);
    uint32_t mask = uint32_t(r->buckets) - 1;
    uint32_t i = fmix32(canon) & mask, start = i, step = 0;
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    const Cell* words = cells(r->data);
    int64_t site = -1;
    while (true) {
        if (is_empty(flags, i)) {
            if (site < 0) site = i;
            break;
        }
        if (is_live(flags, i)) {
            const Cell* w = words + keys[i];
            if (w->data2 == sym || (ignore_case && symbol::resolve(w->data2) == canon))
                return int32_t(w->data3);
        } else if (site < 0) {
            site = i;
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    if (!context) return -1;
    if (site < 0) {  // full round without room: grow and retry
        if (!pin) pin.emplace(table);
        resize(table, uint32_t(r->buckets) * 2);
        return word_slot(pin->handle(), sym, ignore_case, context, out_slot);
    }
    if (!pin) pin.emplace(table);
    collector::RootContext keep_ctx(context);
    uint32_t n = cell_count(r->data);
    Cell* w = buffer::alloc_tail_cell(r->data);
    *w = Cell{T_WORD, keep_ctx.handle(), sym, n};
    r = rec(pin->handle());
    flags = items(r->flags);
    uint32_t b = uint32_t(site);
    if (is_empty(flags, b)) r->occupied++;
    r->live++;
    set_live(flags, b);
    items<int32_t>(r->keys)[b] = int32_t(n);
    if (out_slot) *out_slot = int32_t(n);
    return -1;
}

// ---- the collector ----

void mark(Handle* ref) {
    if (!ref || !*ref) return;
    if (!collector::mark_node(ref)) return;
    Record* r = rec(*ref);
    collector::mark_node(&r->flags);
    collector::mark_node(&r->keys);
    switch (r->kind) {
    case KIND_HASH: {
        if (r->tags) collector::mark_node(&r->tags);
        collector::mark_node(&r->indexes);
        collector::mark_node(&r->chains);
        if (r->chains) {
            uint32_t* list = items(r->chains);
            for (uint32_t i = 0, n = item_count(r->chains); i < n; i++)
                if (list[i]) collector::mark_node(&list[i]);
        }
        collector::mark_block_node(&r->data);
        break;
    }
    case KIND_MAP:
        if (r->indexes) collector::mark_node(&r->indexes);
        collector::mark_block_node(&r->data);
        break;
    case KIND_WORDS:
        collector::mark_block_node(&r->data);
        break;
    case KIND_POINTERS:
        collector::mark_node(&r->data);
        mark_entries(*ref);
        break;
    case KIND_OWNERSHIP:
        collector::mark_node(&r->data);  // entries are weak: pruned when their series die
        break;
    default:
        break;
    }
}

void mark_entries(Handle table) {
    Record* r = rec(table);
    if (!r->data) return;
    uint32_t per = r->indexes / 16;
    if (per == 0) return;
    SeriesBuffer* b = buffer_of(r->data);
    Cell* c = b->head_cell();
    uint32_t n = b->used() / 16;
    for (uint32_t i = 0; i + per <= n; i += per) {
        if (c[i].header != T_UNSET) continue;
        if (c[i].data1) {
            Handle key = collector::forwarded(c[i].data1);  // this collection may have moved it
            if (memory::buffer_of(key)->unit() == 16) collector::mark_block_node(&c[i].data1);
            else collector::mark_node(&c[i].data1);
        }
        collector::mark_cells(c + i + 1, c + i + per);
    }
}

std::string dump(Handle table) {
    Record* r = rec(table);
    std::string out = "\n== Deleted keys ==\n";
    uint32_t* flags = items(r->flags);
    int32_t* keys = items<int32_t>(r->keys);
    auto line = [&](uint32_t i) {
        out += std::to_string(i);
        out += " ";
        out += std::to_string(keys[i]);
        if (r->kind == KIND_POINTERS || r->kind == KIND_OWNERSHIP) {
            const Cell* e = reinterpret_cast<const Cell*>(buffer_of(r->data)->head_ptr() + keys[i]);
            out += " ";
            out += std::to_string(e->data1);
        }
        out += "\n";
    };
    for (uint32_t i = 0; i < uint32_t(r->buckets); i++)
        if (is_deleted(flags, i)) line(i);
    out += "== Alive keys ==\n";
    for (uint32_t i = 0; i < uint32_t(r->buckets); i++)
        if (is_live(flags, i)) line(i);
    return out;
}

}  // namespace kov::hashtable
