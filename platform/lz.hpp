// The program's own LZ block format: an LZ77 variant coded as a bit stream, cut into chunks of
// at most 1 MiB that are each coded on their own. The Kovbin decoder reads it for compressed
// payloads; the compressor is the tool that makes such blocks.
//
// Block: u32 C (bytes after the 8-byte header), u32 U (uncompressed size), then chunks: u32 L
// (1 to 1,048,576 bytes yielded) and a bit stream ending on a byte boundary. Bits are taken from
// each byte starting with its least significant bit. Tokens: 0 + 8-bit literal, or 1 + length
// code + distance code (lengths 3 to 566, distances 1 to 262,144 within the chunk).
//
// Memory: plain C++ containers; nothing here touches the value arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kov::lz {

constexpr uint32_t HEADER_BYTES = 8;
constexpr uint32_t MAX_CHUNK = 1048576;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t MAX_DISTANCE = 262144;
constexpr size_t MIN_COMPRESS_INPUT = 128;

// Decompresses the LZ block held in `size` bytes at `data` into `out` (replaced). False when the
// data is corrupt: a header or chunk that runs past `size` or past C, a chunk length outside 1
// to 1,048,576, chunks adding up to more than U + 8 bytes, a U that C bytes of bit stream cannot
// produce, a match that starts before its chunk or ends after it, or a bit stream that reads past
// the block. `out` is then empty.
bool decompress(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// The most bytes that `stream_bytes` bytes of chunk data can yield (every token a longest match
// in its shortest code).
uint64_t max_output(uint64_t stream_bytes);

// Writes an LZ block for `size` bytes at `source` into `target`, which holds `size` bytes.
// Answers the block's total length (header included), or -1 when the input is shorter than 128
// bytes or the block would not be smaller than the input. Greedy matching over a 3-byte hash
// head and a 4-byte hash chain of at most 256 candidates.
int64_t compress(const uint8_t* source, size_t size, uint8_t* target);

}  // namespace kov::lz
