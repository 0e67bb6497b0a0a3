// Checksums: the nine method words and their method indexes; MD5, SHA-1, SHA-256, SHA-384 and
// SHA-512 digests and their HMACs through libcrypto; CRC-32, Adler-32 and the Internet checksum
// computed here; and the `checksum` native (number 87 of the natives table). The compression
// codecs call crc32 and adler32 directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/runtime.hpp"
#include "core/value.hpp"

namespace kov::checksum {

// The method words, in the order start-up interns them.
enum Word : int32_t {
    W_TCP, W_MD5, W_SHA1, W_CRC32, W_ADLER32, W_SHA256, W_SHA384, W_SHA512, W_HASH, WORD_COUNT
};

// Method indexes of the digest services (adler32 and hash have none).
enum Index : int32_t {
    I_TCP = 0, I_CRC32 = 1, I_MD5 = 2, I_SHA1 = 3, I_SHA256 = 4, I_SHA384 = 5, I_SHA512 = 6
};

constexpr int DIGEST_MAX = 64;  // bytes of the largest digest (SHA-512)

// Interns the nine method words (once the symbol table exists) and registers the native.
void init();
// The canonical symbol of a method word (valid after init).
uint32_t word_symbol(Word w);

// Which method a word names, compared by canonical symbol (so case does not matter); -1 when
// the value is not a word of any kind or names no method.
int32_t method_word(const Cell* word);
inline bool method_q(const Cell* word) { return method_word(word) >= 0; }
// The method index of tcp, crc32, md5, sha1, sha256, sha384 or sha512; any other word is the
// fatal runtime error 100.
int32_t method_index(const Cell* word);
// 16, 20, 32, 48, 64 for the indexes 2 to 6, else 0.
int32_t digest_size(int32_t index);

// The digest of `length` bytes under method index 2..6 into `out` (its first digest_size bytes;
// the rest of the 64 are zero). Another index raises script error invalid-arg with it as an
// integer!; a failure of the library raises internal feature-na.
void crypto_hash(const uint8_t* data, size_t length, int32_t index, uint8_t out[DIGEST_MAX]);

// The HMAC of the data under the key with the method word, into `out`; answers its length.
// For crc32, tcp, adler32 and hash it writes "The selected algorithm doesn't support HMAC
// calculation" as a console line and answers 0 (an empty result), raising nothing.
uint32_t hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
              const Cell* method, uint8_t out[DIGEST_MAX]);
// HMAC (RFC 2104) under method index 2..6: pads of 128 bytes for SHA-384 and SHA-512, of 64
// bytes for the others; a key longer than the pad is first replaced by its digest. Answers the
// length written (the digest size). Errors as for crypto_hash.
uint32_t hmac_compute(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length,
                      int32_t index, uint8_t out[DIGEST_MAX]);

// CRC-32 of ISO 3309 / IEEE 802.3 (reflected polynomial 0xEDB88320); the empty input gives 0.
uint32_t crc32(const uint8_t* data, size_t length);
// Adler-32 of RFC 1950; the empty input gives 1.
uint32_t adler32(const uint8_t* data, size_t length);
// The Internet checksum over big-endian 16-bit words (a last odd byte added unshifted), summed
// in a wrapping signed 32-bit integer and folded with arithmetic shifts: 0..65535.
int32_t tcp(const uint8_t* data, size_t length);

// The hash method with an integer table size: writes "** /hash support not yet implemented;
// algorithm TBD." as a console line and answers 0.
int32_t hash_stub();

// The native: data [binary! string! file!] method [word!] /with spec [any-string! binary!
// integer!]; refs[0] is /with. The result is an integer! (crc32, tcp, adler32, hash /with
// integer) or a new binary! of the digest size. A file! raises internal not-done until file
// reading exists.
constexpr int NATIVE_NUMBER = 87;
Status native(const int32_t* refs);

}  // namespace kov::checksum
