// Checksums: digests and HMACs against published vectors and python3's hashlib, CRC-32,
// Adler-32 and the Internet checksum, the method words, and the `checksum` native's frame.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/boot.hpp"
#include "core/output.hpp"
#include "core/symbol.hpp"
#include "datatypes/binary.hpp"
#include "evaluator/checksum.hpp"
#include "evaluator/lexer.hpp"
#include "evaluator/natives.hpp"
#include "tests/datatypes/scalar_fixture.hpp"
#include "tests/evaluator/lexer_fixture.hpp"

namespace kov {
namespace {

using testing::Outcome;

class Checksum : public testing::RuntimeTest {};

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::string hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string digest_hex(const std::vector<uint8_t>& data, int32_t index) {
    uint8_t out[checksum::DIGEST_MAX];
    checksum::crypto_hash(data.data(), data.size(), index, out);
    return hex(out, size_t(checksum::digest_size(index)));
}

std::string hmac_hex(const std::vector<uint8_t>& data, const std::vector<uint8_t>& key,
                     int32_t index) {
    uint8_t out[checksum::DIGEST_MAX];
    uint32_t n = checksum::hmac_compute(data.data(), data.size(), key.data(), key.size(), index, out);
    EXPECT_EQ(int32_t(n), checksum::digest_size(index));
    return hex(out, n);
}

Cell word(const char* spelling) { return cells::make_word(T_WORD, 0, symbol::make(spelling)); }

TEST_F(Checksum, DigestsOfPublishedVectors) {
    const struct { int32_t index; const char* data; const char* expected; } cases[] = {
        {checksum::I_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {checksum::I_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {checksum::I_SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {checksum::I_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {checksum::I_SHA256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {checksum::I_SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {checksum::I_SHA384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {checksum::I_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {checksum::I_SHA512, "",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
         "63b931bd47417a81a538327af927da3e"},
    };
    for (const auto& c : cases) EXPECT_EQ(digest_hex(bytes_of(c.data), c.index), c.expected) << c.data;
}

TEST_F(Checksum, DigestBufferHoldsTheDigestThenZeros) {
    uint8_t out[checksum::DIGEST_MAX];
    std::memset(out, 0xAA, sizeof out);
    checksum::crypto_hash(reinterpret_cast<const uint8_t*>("abc"), 3, checksum::I_MD5, out);
    EXPECT_EQ(hex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
    for (int i = 16; i < checksum::DIGEST_MAX; i++) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(Checksum, DigestSizesAndBadIndexes) {
    const int32_t sizes[] = {0, 0, 16, 20, 32, 48, 64, 0};
    for (int32_t i = 0; i < 8; i++) EXPECT_EQ(checksum::digest_size(i), sizes[i]) << i;
    EXPECT_EQ(checksum::digest_size(-1), 0);
    for (int32_t index : {0, 1, 7, -3}) {
        Outcome o = testing::run({}, [&]() -> Cell* {
            uint8_t out[checksum::DIGEST_MAX];
            checksum::crypto_hash(nullptr, 0, index, out);
            return nullptr;
        });
        EXPECT_EQ(o.error, "script/invalid-arg") << index;
        EXPECT_TRUE(o.arg1.is(T_INTEGER));
        EXPECT_EQ(cells::integer(o.arg1), index);
        o = testing::run({}, [&]() -> Cell* {
            uint8_t out[checksum::DIGEST_MAX];
            checksum::hmac_compute(nullptr, 0, nullptr, 0, index, out);
            return nullptr;
        });
        EXPECT_EQ(o.error, "script/invalid-arg") << index;
    }
}

TEST_F(Checksum, HmacOfPublishedVectors) {
    // RFC 2202 and RFC 4231: key "Jefe", data "what do ya want for nothing?".
    const auto key = bytes_of("Jefe");
    const auto data = bytes_of("what do ya want for nothing?");
    const struct { int32_t index; const char* expected; } cases[] = {
        {checksum::I_MD5, "750c783e6ab0b503eaa86e310a5db738"},
        {checksum::I_SHA1, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {checksum::I_SHA256, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {checksum::I_SHA384,
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {checksum::I_SHA512,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fd"
         "caeab1a34d4a6b4b636e070a38bce737"},
    };
    for (const auto& c : cases) EXPECT_EQ(hmac_hex(data, key, c.index), c.expected) << c.index;
    // An empty key and empty data.
    EXPECT_EQ(hmac_hex({}, {}, checksum::I_MD5), "74e6f7298a9c2d168935f58c001bad88");
    EXPECT_EQ(hmac_hex({}, {}, checksum::I_SHA256),
              "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
}

// HMAC written out from its definition over our own digests, as a reference for key lengths
// around the pad size (64 bytes, or 128 for SHA-384 and SHA-512).
std::string hmac_by_definition(const std::vector<uint8_t>& data, std::vector<uint8_t> key,
                               int32_t index) {
    size_t block = index >= checksum::I_SHA384 ? 128 : 64;
    size_t size = size_t(checksum::digest_size(index));
    uint8_t d[checksum::DIGEST_MAX];
    if (key.size() > block) {
        checksum::crypto_hash(key.data(), key.size(), index, d);
        key.assign(d, d + size);
    }
    std::vector<uint8_t> inner(block, 0x36), outer(block, 0x5C);
    for (size_t i = 0; i < key.size(); i++) {
        inner[i] ^= key[i];
        outer[i] ^= key[i];
    }
    inner.insert(inner.end(), data.begin(), data.end());
    checksum::crypto_hash(inner.data(), inner.size(), index, d);
    outer.insert(outer.end(), d, d + size);
    checksum::crypto_hash(outer.data(), outer.size(), index, d);
    return hex(d, size);
}

TEST_F(Checksum, HmacKeysAroundThePadSize) {
    const auto data = bytes_of("message");
    for (int32_t index = checksum::I_MD5; index <= checksum::I_SHA512; index++) {
        for (size_t len : {0, 1, 63, 64, 65, 127, 128, 129, 300}) {
            std::vector<uint8_t> key(len);
            for (size_t i = 0; i < len; i++) key[i] = uint8_t(i * 13 + 1);
            EXPECT_EQ(hmac_hex(data, key, index), hmac_by_definition(data, key, index))
                << "index " << index << " key length " << len;
        }
    }
    // A 65-byte MD5 key is the same key as its 16-byte digest; a 64-byte key is not reduced.
    std::vector<uint8_t> long_key(65, 'k');
    uint8_t d[checksum::DIGEST_MAX];
    checksum::crypto_hash(long_key.data(), 65, checksum::I_MD5, d);
    EXPECT_EQ(hmac_hex(data, long_key, checksum::I_MD5),
              hmac_hex(data, std::vector<uint8_t>(d, d + 16), checksum::I_MD5));
    std::vector<uint8_t> key64(64, 'k');
    checksum::crypto_hash(key64.data(), 64, checksum::I_MD5, d);
    EXPECT_NE(hmac_hex(data, key64, checksum::I_MD5),
              hmac_hex(data, std::vector<uint8_t>(d, d + 16), checksum::I_MD5));
}

std::string raw_seen;
void capture_raw(const void* buffer, uint32_t length, uint32_t) {
    raw_seen.append(static_cast<const char*>(buffer), length);
}

TEST_F(Checksum, HmacByMethodWord) {
    const auto data = bytes_of("what do ya want for nothing?");
    const auto key = bytes_of("Jefe");
    uint8_t out[checksum::DIGEST_MAX];
    Cell sha1 = word("SHA1");
    EXPECT_EQ(checksum::hmac(data.data(), data.size(), key.data(), key.size(), &sha1, out), 20u);
    EXPECT_EQ(hex(out, 20), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    output::add_hooks(nullptr, capture_raw);
    for (const char* name : {"crc32", "tcp", "adler32", "hash"}) {
        raw_seen.clear();
        Cell w = word(name);
        EXPECT_EQ(checksum::hmac(data.data(), data.size(), key.data(), key.size(), &w, out), 0u)
            << name;
        EXPECT_EQ(raw_seen, "The selected algorithm doesn't support HMAC calculation\n") << name;
    }
    output::remove_hooks(nullptr, capture_raw);
}

TEST_F(Checksum, MethodWords) {
    const struct { const char* spelling; int32_t word; int32_t index; } cases[] = {
        {"tcp", checksum::W_TCP, checksum::I_TCP},
        {"md5", checksum::W_MD5, checksum::I_MD5},
        {"sha1", checksum::W_SHA1, checksum::I_SHA1},
        {"crc32", checksum::W_CRC32, checksum::I_CRC32},
        {"adler32", checksum::W_ADLER32, -1},
        {"sha256", checksum::W_SHA256, checksum::I_SHA256},
        {"sha384", checksum::W_SHA384, checksum::I_SHA384},
        {"sha512", checksum::W_SHA512, checksum::I_SHA512},
        {"hash", checksum::W_HASH, -1},
        {"CRC32", checksum::W_CRC32, checksum::I_CRC32},
        {"Sha256", checksum::W_SHA256, checksum::I_SHA256},
        {"MD5", checksum::W_MD5, checksum::I_MD5},
    };
    for (const auto& c : cases) {
        Cell w = word(c.spelling);
        EXPECT_TRUE(checksum::method_q(&w)) << c.spelling;
        EXPECT_EQ(checksum::method_word(&w), c.word) << c.spelling;
        if (c.index >= 0) {
            EXPECT_EQ(checksum::method_index(&w), c.index) << c.spelling;
        }
    }
    // Other kinds of word name the method as well.
    Cell lit = cells::make_word(T_LIT_WORD, 0, symbol::make("sha1"));
    EXPECT_EQ(checksum::method_word(&lit), checksum::W_SHA1);
    for (const char* other : {"sha", "md4", "crc", "zlib"}) {
        Cell w = word(other);
        EXPECT_FALSE(checksum::method_q(&w)) << other;
    }
    Cell n = cells::make_integer(2);
    EXPECT_FALSE(checksum::method_q(&n));
}

using MethodIndexDeath = Checksum;
TEST_F(MethodIndexDeath, WordWithoutIndexEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Cell w = word("adler32");
            checksum::method_index(&w);
        },
        ::testing::ExitedWithCode(FATAL_NO_CASE), "");
}

TEST(ChecksumCodes, Crc32) {
    const struct { const char* data; uint32_t expected; } cases[] = {
        {"", 0}, {"abc", 0x352441C2u}, {"123456789", 0xCBF43926u}, {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checksum::crc32(reinterpret_cast<const uint8_t*>(c.data), std::strlen(c.data)),
                  c.expected)
            << c.data;
}

// Adler-32 by its definition, reducing after every byte.
uint32_t adler_by_definition(const std::vector<uint8_t>& d) {
    uint32_t a = 1, b = 0;
    for (uint8_t x : d) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

TEST(ChecksumCodes, Adler32) {
    const struct { const char* data; uint32_t expected; } cases[] = {
        {"", 1}, {"abc", 0x024D0127u}, {"Wikipedia", 0x11E60398u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(checksum::adler32(reinterpret_cast<const uint8_t*>(c.data), std::strlen(c.data)),
                  c.expected)
            << c.data;
    // Long runs of the largest byte stress the reduction between runs.
    for (size_t len : {15, 16, 17, 3853, 3854, 3855, 7708, 100000}) {
        std::vector<uint8_t> ff(len, 0xFF);
        EXPECT_EQ(checksum::adler32(ff.data(), len), adler_by_definition(ff)) << len;
        std::vector<uint8_t> mixed(len);
        for (size_t i = 0; i < len; i++) mixed[i] = uint8_t(i * 31 + 7);
        EXPECT_EQ(checksum::adler32(mixed.data(), len), adler_by_definition(mixed)) << len;
    }
}

TEST(ChecksumCodes, InternetChecksum) {
    const struct { std::vector<uint8_t> data; int32_t expected; } cases[] = {
        {{}, 0xFFFF},
        {{0x01, 0x02, 0x03}, 0xFEFA},  // the odd last byte is added unshifted
        {{0x01, 0x02}, 0xFEFD},
        {{0xFF, 0xFF}, 0},
        {{0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x00, 0x00, 0xC0, 0xA8, 0x00,
          0x01, 0xC0, 0xA8, 0x00, 0xC7},
         0xB861},  // an IPv4 header with its checksum field zeroed
    };
    for (const auto& c : cases)
        EXPECT_EQ(checksum::tcp(c.data.data(), c.data.size()), c.expected) << c.data.size();
    // 70,000 bytes of 0xFF sum to 2,293,725,000, negative as a signed 32-bit sum: the folds
    // shift the sign in and the result is 1 (an unsigned fold would give 0).
    std::vector<uint8_t> ff(70000, 0xFF);
    EXPECT_EQ(checksum::tcp(ff.data(), ff.size()), 1);
}

// python3's hashlib, hmac and zlib as a peer over data of assorted lengths and keys: the data of
// length n is byte i = (i * 7 + n) mod 251, the key length n mod 150 with byte i = (i * 3 + 1)
// mod 256.
TEST_F(Checksum, AgreesWithPython) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const std::vector<size_t> lengths = {0, 1, 2, 3, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129,
                                         1000, 3854, 3855, 65537, 1000003};
    char path[] = "/tmp/kov_checksum_peer_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream script(path);
        script << "import hashlib, hmac, zlib\n"
                  "for n in [";
        for (size_t n : lengths) script << n << ",";
        script << "]:\n"
                  "    d = bytes((i * 7 + n) % 251 for i in range(n))\n"
                  "    k = bytes((i * 3 + 1) % 256 for i in range(n % 150))\n"
                  "    f = [str(n), '%08x' % zlib.crc32(d), '%08x' % zlib.adler32(d)]\n"
                  "    for m in ['md5', 'sha1', 'sha256', 'sha384', 'sha512']:\n"
                  "        f += [hashlib.new(m, d).hexdigest(), hmac.new(k, d, m).hexdigest()]\n"
                  "    print(' '.join(f))\n";
    }
    std::string command = std::string("python3 ") + path + " </dev/null";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, got);
    int status = pclose(p);
    std::remove(path);
    ASSERT_EQ(status, 0) << text;

    std::istringstream lines(text);
    size_t seen = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        size_t n;
        std::string crc, adler;
        fields >> n >> crc >> adler;
        std::vector<uint8_t> d(n), k(n % 150);
        for (size_t i = 0; i < n; i++) d[i] = uint8_t((i * 7 + n) % 251);
        for (size_t i = 0; i < k.size(); i++) k[i] = uint8_t((i * 3 + 1) % 256);
        char want[16];
        std::snprintf(want, sizeof want, "%08x", checksum::crc32(d.data(), n));
        EXPECT_EQ(crc, want) << "crc32 " << n;
        std::snprintf(want, sizeof want, "%08x", checksum::adler32(d.data(), n));
        EXPECT_EQ(adler, want) << "adler32 " << n;
        for (int32_t index = checksum::I_MD5; index <= checksum::I_SHA512; index++) {
            std::string digest, mac;
            fields >> digest >> mac;
            EXPECT_EQ(digest_hex(d, index), digest) << "index " << index << " length " << n;
            EXPECT_EQ(hmac_hex(d, k, index), mac) << "index " << index << " length " << n;
        }
        seen++;
    }
    EXPECT_EQ(seen, lengths.size());
}

// ---- the native ----

// An argument of the native, built in its frame slot (so that it is rooted from the start).
struct Arg {
    uint32_t type;           // T_STRING, T_FILE, T_BINARY, T_BLOCK or T_INTEGER
    std::string bytes = {};  // the text or the bytes
    int32_t number = 0;      // an integer!'s value, a binary's head index
};
Arg text(const char* s) { return {T_STRING, s}; }
Arg bin(const std::string& b, int32_t head = 0) { return {T_BINARY, b, head}; }

void build(Cell* slot, const Arg& a) {
    switch (a.type) {
        case T_STRING: case T_FILE:
            testing::make_text(slot, a.bytes.c_str());
            slot->header = (slot->header & ~CELL_TYPE_MASK) | a.type;
            break;
        case T_BINARY:
            binary::make_at(slot, uint32_t(a.bytes.size()));
            binary::append_bytes(slot, reinterpret_cast<const uint8_t*>(a.bytes.data()),
                                 uint32_t(a.bytes.size()));
            slot->data1 = uint32_t(a.number);
            break;
        case T_BLOCK: testing::make_block(slot, {}); break;
        default: *slot = cells::make_integer(a.number);
    }
}

// Runs the native on data and method, with /with spec when given, under a try frame. The
// outcome's binary is read before anything allocates again.
struct NativeOutcome {
    Outcome o;
    std::string hex;  // a binary! result's bytes
};
NativeOutcome call_native(const Arg& data, const char* method, const Arg* spec = nullptr) {
    stack::Snapshot saved;
    NativeOutcome out;
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    build(stack::push_slot(), data);
    Cell w = word(method);
    stack::push(&w);
    if (spec) build(stack::push_slot(), *spec);
    const int32_t refs[1] = {spec ? 2 : -1};
    EXPECT_EQ(natives::table[checksum::NATIVE_NUMBER - 1], &checksum::native);
    try {
        EXPECT_EQ(checksum::native(refs), Status::normal);
        out.o.value = *stack::arguments;
        if (out.o.value.is(T_BINARY))
            out.hex = hex(binary::ks_head(&out.o.value), size_t(binary::ks_length(&out.o.value)));
    } catch (const Unwind&) {
        const Cell* e = stack::top_value();
        out.o.error = error::category_word(e) + "/" + error::id_word(e);
        out.o.arg1 = *error::field(e, error::F_ARG1);
    }
    saved.restore();
    return out;
}

TEST_F(Checksum, NativeIntegerMethods) {
    const struct { const char* method; int32_t expected; } cases[] = {
        {"crc32", 0x352441C2}, {"CRC32", 0x352441C2}, {"adler32", 0x024D0127},
        {"tcp", int32_t(~uint32_t(0x6162 + 0x63) & 0xFFFF)},
    };
    for (const auto& c : cases) {
        for (const Arg& data : {text("abc"), bin("abc")}) {
            Outcome o = call_native(data, c.method).o;
            ASSERT_EQ(o.error, "") << c.method;
            ASSERT_TRUE(o.value.is(T_INTEGER)) << c.method;
            EXPECT_EQ(cells::integer(o.value), c.expected) << c.method;
        }
    }
    // A CRC-32 with the top bit set comes back as a negative integer!.
    EXPECT_EQ(cells::integer(call_native(text("a"), "crc32").o.value), int32_t(0xE8B7BE43u));
}

TEST_F(Checksum, NativeDigestsAndHmacs) {
    const Arg jefe = text("Jefe"), jefe_bytes = bin("Jefe"), none_key{T_STRING, ""};
    const struct { Arg data; const char* method; const Arg* spec; const char* expected; } cases[] = {
        {text("abc"), "md5", nullptr, "900150983cd24fb0d6963f7d28e17f72"},
        {text("abc"), "Sha1", nullptr, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {bin("abc"), "sha256", nullptr,
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {bin("xxabc", 2), "md5", nullptr, "900150983cd24fb0d6963f7d28e17f72"},  // from the head
        {text("\xE9"), "md5", nullptr, "66ddcd97cfdeabb2f6fb8a999b4bc76f"},  // é, hashed as UTF-8
        {text("abc"), "SHA512", nullptr,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {text("what do ya want for nothing?"), "sha256", &jefe,
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {text("what do ya want for nothing?"), "md5", &jefe_bytes, "750c783e6ab0b503eaa86e310a5db738"},
        {text(""), "md5", &none_key, "74e6f7298a9c2d168935f58c001bad88"},
    };
    for (const auto& c : cases) {
        NativeOutcome r = call_native(c.data, c.method, c.spec);
        ASSERT_EQ(r.o.error, "") << c.method;
        EXPECT_TRUE(r.o.value.is(T_BINARY)) << c.method;
        EXPECT_EQ(r.hex, c.expected) << c.method;
    }
    // hash with an integer table size answers 0.
    const Arg size{T_INTEGER, "", 100};
    Outcome o = call_native(text("abc"), "hash", &size).o;
    ASSERT_EQ(o.error, "");
    ASSERT_TRUE(o.value.is(T_INTEGER));
    EXPECT_EQ(cells::integer(o.value), 0);
}

TEST_F(Checksum, NativeRefusals) {
    const Arg key = text("k"), size{T_INTEGER, "", 10}, block{T_BLOCK}, five{T_INTEGER, "", 5},
              file{T_FILE, "a.txt"};
    const struct { Arg data; const char* method; const Arg* spec; const char* error; } cases[] = {
        {text("abc"), "crc32", &key, "script/invalid-refine-arg"},
        {text("abc"), "tcp", &size, "script/invalid-refine-arg"},
        {text("abc"), "adler32", &key, "script/invalid-refine-arg"},
        {text("abc"), "hash", nullptr, "script/invalid-refine-arg"},
        {text("abc"), "hash", &key, "script/invalid-refine-arg"},
        {text("abc"), "md5", &size, "script/invalid-refine-arg"},
        {text("abc"), "md5", &block, "script/invalid-arg"},
        {text("abc"), "md4", nullptr, "script/invalid-arg"},
        {five, "md5", nullptr, "script/invalid-arg"},
        {file, "md5", nullptr, "internal/not-done"},
    };
    for (const auto& c : cases) EXPECT_EQ(call_native(c.data, c.method, c.spec).o.error, c.error) << c.method;
    // The refusal of /with names the refinement.
    Outcome o = call_native(text("abc"), "crc32", &key).o;
    ASSERT_TRUE(o.arg1.is(T_WORD));
    EXPECT_EQ(symbol::name(cells::word_symbol(o.arg1)), "with");
}

// The spec of the native, as the boot library will make it.
TEST_F(Checksum, NativeSpecText) {
    std::ifstream in(KOV_SOURCE_DIR "/boot/checksum.kov");
    ASSERT_TRUE(in) << "boot/checksum.kov";
    std::stringstream s;
    s << in.rdbuf();
    std::string shown = testing::loaded(s.str());
    EXPECT_EQ(shown.rfind("checksum: make native! [[\"Computes a checksum, CRC, hash, or HMAC\" data "
                          "[binary! string! file!] method [word!]",
                          0),
              0u)
        << shown;
    EXPECT_NE(shown.find("/with"), std::string::npos);
    EXPECT_NE(shown.find("spec [any-string! binary! integer!]"), std::string::npos);
    EXPECT_NE(shown.find("return: [integer! binary!]] 87]"), std::string::npos) << shown;
}

}  // namespace
}  // namespace kov
