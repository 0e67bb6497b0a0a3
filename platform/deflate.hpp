// DEFLATE streams (RFC 1951) and their zlib (RFC 1950) and gzip (RFC 1952) framings: the
// program's own codec, behind the `compress` and `decompress` natives.
//
// The compressor is greedy LZ77 over a 1,024-bucket, 4-way hash table, coded as one block with
// the fixed Huffman codes. The decoder reads stored, fixed and dynamic blocks and is safe on any
// input: every read is bounded by the input, every write by the capacity given.
//
// Every routine works on caller-supplied byte buffers and answers a result code with a size
// field passed by reference: on entry the output capacity, on return the bytes produced (or
// needed). Writes past the capacity are suppressed but counted, so result 1 always comes with
// the exact size needed. Decoders take a null output with capacity 0 to measure only.
//
// Memory: nothing here allocates or touches the value arena; callers pass plain byte pointers
// that must stay put for the call.
#pragma once

#include <cstdint>

#include "core/value.hpp"

namespace kov::deflate {

enum Result : int {
    OK = 0,
    TOO_SMALL = 1,    // the output did not fit: the size field holds the size needed
    BAD_DATA = 2,     // bad header, trailer or checksum; corrupt or truncated data; capacity
                      // below a writer's fixed overhead
    BAD_STORED = 3,   // a stored block longer than the remaining input
    BAD_BLOCK = 4,    // a block of the reserved type 3
    BAD_DISTANCE = 5, // a distance reaching before the start of the output
};

// The most bytes a DEFLATE stream of `input_length` bytes can yield (a longest match per two
// bits); decoders refuse sizes above it.
int64_t max_output(int64_t input_length);

// Raw DEFLATE: result 0 or 1.
int compress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);
// Raw DEFLATE: result 0 to 5. With capacity 0 (output may be null) it only measures.
int decompress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);

// zlib framing (header 0x78 0x01, Adler-32 trailer big-endian). Writer: 0, 1, or 2 when the
// capacity is below 6 (the size field is then input length + 6).
int zlib_compress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);
int zlib_decompress(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);

// gzip framing (10-byte header, CRC-32 and ISIZE trailer little-endian). The writer copies input
// that already starts with a gzip header unchanged; otherwise 2 when the capacity is below 18
// (the size field is then input length + 18). The reader takes the size from the trailer: above
// the capacity it answers 1 at once without decoding.
int gzip(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);
int gunzip(uint8_t* output, int32_t& size, const uint8_t* input, int32_t input_length);

// The method words zlib, deflate and gzip: interned at start-up, compared by canonical symbol.
enum Method : int { M_ZLIB, M_DEFLATE, M_GZIP, METHOD_COUNT };
void init_method_words();
// Which method a word names (case does not matter); -1 for any other value.
int method_of(const Cell* word);

}  // namespace kov::deflate
