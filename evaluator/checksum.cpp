// Checksums: method words, digests and HMACs through libcrypto, CRC-32, Adler-32, the Internet
// checksum, and the `checksum` native.
#include "evaluator/checksum.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <string>

#include "core/cells.hpp"
#include "core/output.hpp"
#include "core/stack.hpp"
#include "core/symbol.hpp"
#include "core/unicode.hpp"
#include "datatypes/binary.hpp"
#include "evaluator/natives.hpp"

namespace kov::checksum {

namespace {

const char* const word_spellings[WORD_COUNT] = {
    "tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash",
};
uint32_t word_symbols[WORD_COUNT] = {};  // canonical symbol ids, set by init

const EVP_MD* digest_of(int32_t index) {
    switch (index) {
        case I_MD5: return EVP_md5();
        case I_SHA1: return EVP_sha1();
        case I_SHA256: return EVP_sha256();
        case I_SHA384: return EVP_sha384();
        case I_SHA512: return EVP_sha512();
        default: return nullptr;
    }
}

[[noreturn]] void raise_bad_index(int32_t index) {
    Cell n = cells::make_integer(index);
    stack::raise_error("script", "invalid-arg", {&n});
}

// crc_table[0] is the byte table of the polynomial; tables 1 to 7 advance a byte's remainder
// through 1 to 7 more zero bytes, so that eight bytes are folded in per step.
uint32_t crc_table[8][256];
bool crc_table_made = false;

void make_crc_table() {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crc_table[0][i] = c;
    }
    for (int t = 1; t < 8; t++)
        for (uint32_t i = 0; i < 256; i++)
            crc_table[t][i] = (crc_table[t - 1][i] >> 8) ^ crc_table[0][crc_table[t - 1][i] & 0xFF];
    crc_table_made = true;
}

}  // namespace

void init() {
    for (int i = 0; i < WORD_COUNT; i++) word_symbols[i] = symbol::resolve(symbol::make(word_spellings[i]));
    natives::table[NATIVE_NUMBER - 1] = native;
}

uint32_t word_symbol(Word w) { return word_symbols[w]; }

int32_t method_word(const Cell* word) {
    uint32_t t = word->type();
    if (t < T_WORD || t > T_ISSUE) return -1;
    uint32_t s = symbol::resolve(cells::word_symbol(*word));
    if (s == 0) return -1;
    for (int i = 0; i < WORD_COUNT; i++)
        if (word_symbols[i] == s) return i;
    return -1;
}

int32_t method_index(const Cell* word) {
    switch (method_word(word)) {
        case W_TCP: return I_TCP;
        case W_CRC32: return I_CRC32;
        case W_MD5: return I_MD5;
        case W_SHA1: return I_SHA1;
        case W_SHA256: return I_SHA256;
        case W_SHA384: return I_SHA384;
        case W_SHA512: return I_SHA512;
        default: runtime::runtime_error(FATAL_NO_CASE, 0);
    }
}

int32_t digest_size(int32_t index) {
    switch (index) {
        case I_MD5: return 16;
        case I_SHA1: return 20;
        case I_SHA256: return 32;
        case I_SHA384: return 48;
        case I_SHA512: return 64;
        default: return 0;
    }
}

void crypto_hash(const uint8_t* data, size_t length, int32_t index, uint8_t out[DIGEST_MAX]) {
    const EVP_MD* md = digest_of(index);
    if (!md) raise_bad_index(index);
    std::memset(out, 0, DIGEST_MAX);
    unsigned int n = 0;
    static const uint8_t none = 0;
    if (EVP_Digest(length ? data : &none, length, out, &n, md, nullptr) != 1 ||
        int32_t(n) != digest_size(index))
        stack::raise_error("internal", "feature-na");
}

uint32_t hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
              const Cell* method, uint8_t out[DIGEST_MAX]) {
    switch (method_word(method)) {
        case W_CRC32: case W_TCP: case W_HASH: case W_ADLER32:
            output::write_c_string("The selected algorithm doesn't support HMAC calculation\n");
            return 0;
        default: break;
    }
    return hmac_compute(data, length, key, key_length, method_index(method), out);
}

uint32_t hmac_compute(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
                      int32_t index, uint8_t out[DIGEST_MAX]) {
    const EVP_MD* md = digest_of(index);
    if (!md) raise_bad_index(index);
    std::memset(out, 0, DIGEST_MAX);
    unsigned int n = 0;
    // The library takes a null key as "no new key": an empty key is given as an address.
    static const uint8_t none = 0;
    if (!HMAC(md, key_length ? key : &none, int(key_length), length ? data : &none, length, out,
              &n) ||
        int32_t(n) != digest_size(index))
        stack::raise_error("internal", "feature-na");
    return n;
}

uint32_t crc32(const uint8_t* data, size_t length) {
    if (!crc_table_made) make_crc_table();
    const auto& t = crc_table;
    uint32_t c = 0xFFFFFFFFu;
    for (; length >= 8; length -= 8, data += 8) {
        uint32_t lo = c ^ (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                           uint32_t(data[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; length; length--) c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    return ~c;
}

uint32_t adler32(const uint8_t* data, size_t length) {
    constexpr uint32_t BASE = 65521;
    constexpr size_t RUN = 3854;  // the longest run after which both sums fit in 31 bits
    uint32_t s1 = 1, s2 = 0;
    while (length) {
        size_t run = length < RUN ? length : RUN;
        length -= run;
        for (; run >= 16; run -= 16, data += 16)
            for (int k = 0; k < 16; k++) {
                s1 += data[k];
                s2 += s1;
            }
        for (; run; run--) {
            s1 += *data++;
            s2 += s1;
        }
        s1 %= BASE;
        s2 %= BASE;
    }
    return s2 << 16 | s1;
}

int32_t tcp(const uint8_t* data, size_t length) {
    // Sums wrap as 32-bit patterns; the folds shift the signed value (the sign bit copied in).
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (i < length) sum += data[i];
    int32_t s = int32_t(sum);
    s = int32_t(uint32_t(s >> 16) + (uint32_t(s) & 0xFFFFu));
    s = int32_t(uint32_t(s) + uint32_t(s >> 16));
    return int32_t(~uint32_t(s) & 0xFFFFu);
}

int32_t hash_stub() {
    output::write_c_string("** /hash support not yet implemented; algorithm TBD.\n");
    return 0;
}

// ---- the native ----

namespace {

[[noreturn]] void raise_refine_arg(const Cell* spec) {
    Cell w = cells::make_word(T_WORD, 0, symbol::make("with"));
    Cell v = spec ? *spec : cells::make_none();
    stack::raise_error("script", "invalid-refine-arg", {&w, &v});
}

// The bytes of a data or key argument from its head: a binary's own bytes, read in place (the
// services below do not allocate in the value arena, so the address stays good while they run),
// or a string's UTF-8.
struct Bytes {
    const Cell* binary = nullptr;
    std::string utf8;
    const uint8_t* data() const {
        return binary ? binary::ks_head(binary) : reinterpret_cast<const uint8_t*>(utf8.data());
    }
    size_t size() const { return binary ? size_t(binary::ks_length(binary)) : utf8.size(); }
};

void bytes_of(const Cell* value, Bytes& out) {
    switch (value->type()) {
        case T_BINARY: out.binary = value; return;
        case T_STRING: unicode::append_utf8(out.utf8, value); return;
        case T_FILE: stack::raise_error("internal", "not-done");  // file reading is not built yet
        default: stack::raise_error("script", "invalid-arg", {value});
    }
}

}  // namespace

Status native(const int32_t* refs) {
    const Cell* method = stack::arg(1);
    const Cell* spec = refs[0] >= 0 ? stack::arg(refs[0]) : nullptr;
    Bytes data;
    bytes_of(stack::arg(0), data);
    int32_t w = method_word(method);
    if (w < 0) stack::raise_error("script", "invalid-arg", {method});
    size_t n = data.size();

    if (w == W_CRC32 || w == W_TCP || w == W_ADLER32) {
        if (spec) raise_refine_arg(spec);
        const uint8_t* p = data.data();
        uint32_t r = w == W_CRC32 ? crc32(p, n) : w == W_TCP ? uint32_t(tcp(p, n)) : adler32(p, n);
        *stack::arguments = cells::make_integer(int32_t(r));
        return Status::normal;
    }

    uint8_t digest[DIGEST_MAX];
    uint32_t size;
    if (spec) {
        uint32_t t = spec->type();
        if (t != T_BINARY && t != T_STRING && t != T_INTEGER)
            stack::raise_error("script", "invalid-arg", {spec});
        if ((t == T_INTEGER) != (w == W_HASH)) raise_refine_arg(spec);
        if (t == T_INTEGER) {
            *stack::arguments = cells::make_integer(hash_stub());
            return Status::normal;
        }
        Bytes key;
        bytes_of(spec, key);
        size = hmac(data.data(), n, key.data(), key.size(), method, digest);
    } else {
        if (w == W_HASH) raise_refine_arg(nullptr);
        int32_t index = method_index(method);
        crypto_hash(data.data(), n, index, digest);
        size = uint32_t(digest_size(index));
    }
    binary::make_at(stack::arguments, size);
    binary::append_bytes(stack::arguments, digest, size);
    return Status::normal;
}

}  // namespace kov::checksum
