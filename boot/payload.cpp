// The boot payload: packing a boot source into checked Kovbin bytes, and decoding it again (see
// payload.hpp).
#include "boot/payload.hpp"

#include <cstring>

#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/memory.hpp"
#include "core/stack.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/string.hpp"
#include "evaluator/lexer.hpp"
#include "platform/kovbin.hpp"
#include "platform/lz.hpp"

namespace kov::payload {

namespace {

using collector::Root;

// The encoder writes the codec variant of word bindings; the decode of a payload reads it so
// and leaves the module's variant as it found it.
struct CodecVariant {
    bool saved = kovbin::codec_q;
    CodecVariant() { kovbin::codec_q = true; }
    ~CodecVariant() { kovbin::codec_q = saved; }
};

// Runs `body` under a try frame; false with the error's report in `problem` when it raises.
template <class F> bool guarded(F&& body, std::string* problem) {
    stack::Snapshot saved;
    stack::mark_try(nullptr);
    Status s = stack::receive(THROW_ERROR, [&] {
        body();
        return Status::normal;
    });
    if (s == Status::normal) return true;
    Root e(stack::top[-1]);
    *problem = e->is(T_ERROR) ? error::report(e.get()) : "a non-local exit";
    return false;
}

std::vector<uint8_t> bytes_of(const Cell* bin) {
    const uint8_t* head = binary::ks_head(bin);
    return std::vector<uint8_t>(head, head + binary::ks_length(bin));
}

bool cell_series(uint32_t t) {
    return t == T_BLOCK || t == T_PAREN || (t >= T_PATH && t <= T_GET_PATH) || t == T_HASH ||
           t == T_MAP;
}
bool byte_series(uint32_t t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL ||
           t == T_REF || t == T_BINARY || t == T_BITSET || t == T_VECTOR;
}

std::string differ(const Cell& a, const Cell& b, const std::string& at) {
    uint32_t t = a.type();
    auto say = [&](const char* what) {
        return at + ": datatype " + std::to_string(t) + " " + what;
    };
    if (a.header != b.header) {
        if (t != b.type()) return at + ": datatype " + std::to_string(t) + " against " + std::to_string(b.type());
        return say("flags");
    }
    if (!cell_series(t) && !byte_series(t)) {
        if (std::memcmp(&a, &b, sizeof(Cell)) != 0) return say("value");
        return {};
    }
    if (t != T_MAP && t != T_BITSET && cells::series_index(a) != cells::series_index(b))
        return say("head");
    SeriesBuffer* x = memory::buffer_of(cells::series_node(a));
    SeriesBuffer* y = memory::buffer_of(cells::series_node(b));
    if (x->unit() != y->unit()) return say("unit");
    if (x->used() != y->used()) return say("length");
    if (t == T_BITSET && (x->flags & bitset::SER_COMPLEMENT) != (y->flags & bitset::SER_COMPLEMENT))
        return say("complement");
    if (byte_series(t)) {
        if (std::memcmp(x->head_ptr(), y->head_ptr(), x->used()) != 0) return say("contents");
        return {};
    }
    uint32_t n = x->used() / sizeof(Cell);
    for (uint32_t i = 0; i < n; i++) {
        // Nothing here allocates, so the buffers stay where they are.
        std::string d = differ(x->head_cell()[i], y->head_cell()[i], at + "[" + std::to_string(i) + "]");
        if (!d.empty()) return d;
    }
    return {};
}

// A string! of ASCII text in `out` (rooted).
void ascii_at(Cell* out, std::string_view text) {
    string::make_at(out, uint32_t(text.size()));
    SeriesBuffer* b = memory::buffer_of(cells::series_node(*out));
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + uint32_t(text.size());
}

// Raises script invalid-data naming what is wrong with the payload.
[[noreturn]] void raise_invalid(std::string_view what) {
    Root why;
    ascii_at(why.get(), what);
    stack::raise_error("script", "invalid-data", {why.get()});
}

}  // namespace

std::string difference(const Cell* a, const Cell* b) { return differ(*a, *b, "top"); }

void decode(const uint8_t* data, size_t length, Cell* out) {
    if (length < 8 || std::memcmp(data, "KOVBIN", 6) != 0) raise_invalid("no Kovbin header");
    Root blk, culprit;
    ascii_at(culprit.get(), "corrupt compressed body");
    block::make_at(blk.get(), 1);
    {
        CodecVariant variant;
        kovbin::decode(data, length, blk.get(), true, culprit.get());
    }
    const Cell* first = memory::buffer_of(blk->data2)->head_cell();
    if (block::ks_length_q(blk.get()) != 1 || !first->is(T_BLOCK)) raise_invalid("not one block");
    *out = *first;
}

std::vector<uint8_t> pack(std::string_view text, std::string* problem) {
    Root loaded, encoded, decoded, again;
    std::vector<uint8_t> plain, stored;
    bool ok = guarded(
        [&] {
            lexer::scan(loaded.get(), text);
            kovbin::encode_compact(loaded.get(), encoded.get());
        },
        problem);
    if (!ok) return {};
    plain = bytes_of(encoded.get());
    stored = plain;
    // The body after the 8-byte header, compressed when that makes it smaller.
    if (plain.size() > 8) {
        std::vector<uint8_t> packed(plain.size() - 8);
        int64_t n = lz::compress(plain.data() + 8, plain.size() - 8, packed.data());
        if (n > 0) {
            stored.assign(plain.begin(), plain.begin() + 8);
            stored[7] |= kovbin::FLAG_COMPRESSED;
            stored.insert(stored.end(), packed.begin(), packed.begin() + n);
        }
    }
    ok = guarded(
        [&] {
            decode(stored.data(), stored.size(), decoded.get());
            kovbin::encode_compact(decoded.get(), again.get());
        },
        problem);
    if (!ok) {
        *problem = "the payload does not decode: " + *problem;
        return {};
    }
    std::string d = difference(loaded.get(), decoded.get());
    if (!d.empty()) {
        *problem = "the decoded values differ from the loaded ones at " + d;
        return {};
    }
    if (bytes_of(again.get()) != plain) {
        *problem = "the decoded values encode to other bytes";
        return {};
    }
    return stored;
}

}  // namespace kov::payload
