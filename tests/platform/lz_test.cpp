// LZ blocks: the documented byte sequences, hand-built bit streams for matches and chunk rules,
// every corrupt shape the decoder must refuse, and compressor round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/lz.hpp"

namespace kov {
namespace {

// Writes fields least significant bit first, as the decoder reads them.
struct Bits {
    std::vector<uint8_t> bytes;
    uint32_t used = 0;
    void put(uint32_t n, uint32_t v) {
        for (uint32_t i = 0; i < n; i++, used++) {
            if (used % 8 == 0) bytes.push_back(0);
            if (v >> i & 1) bytes.back() |= uint8_t(1u << (used % 8));
        }
    }
    void literal(uint8_t b) { put(1, 0), put(8, b); }
    // A match of length 3..6 (prefix "1") or 7..10 (prefix "01") at a distance of 1..8.
    void match(uint32_t length, uint32_t distance) {
        put(1, 1);
        uint32_t n = length - 3;
        if (n < 4) put(1, 1), put(2, n);
        else put(2, 2), put(2, n - 4);
        put(4, 0);
        put(3, distance - 1);
    }
};

void le32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// A block of chunks, each a length word and its stream; U defaults to the sum of the lengths.
std::vector<uint8_t> block(const std::vector<std::pair<uint32_t, Bits>>& chunks, int64_t u = -1) {
    std::vector<uint8_t> body;
    uint64_t sum = 0;
    for (auto& [l, bits] : chunks) {
        le32(body, l);
        body.insert(body.end(), bits.bytes.begin(), bits.bytes.end());
        sum += l;
    }
    std::vector<uint8_t> out;
    le32(out, uint32_t(body.size()));
    le32(out, uint32_t(u < 0 ? sum : uint64_t(u)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(LzDecompress, DocumentedBlockGivesFourBytes) {
    std::vector<uint8_t> in = {0x07, 0, 0, 0, 0x04, 0, 0, 0, 0x04, 0, 0, 0, 0xC2, 0x06, 0x00};
    std::vector<uint8_t> out;
    ASSERT_TRUE(lz::decompress(in.data(), in.size(), out));
    EXPECT_EQ(text(out), "aaaa");
}

TEST(LzDecompress, EmptyBlockYieldsNothing) {
    std::vector<uint8_t> in = {0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out{1, 2};
    ASSERT_TRUE(lz::decompress(in.data(), in.size(), out));
    EXPECT_TRUE(out.empty());
}

TEST(LzDecompress, OverlappingMatchRepeatsTheLastByte) {
    Bits b;
    b.literal('a');
    b.match(10, 1);
    auto in = block({{11, b}});
    std::vector<uint8_t> out;
    ASSERT_TRUE(lz::decompress(in.data(), in.size(), out));
    EXPECT_EQ(text(out), std::string(11, 'a'));
}

TEST(LzDecompress, SecondChunkStartsAfterTheFirstOnesLastByte) {
    Bits a, b;
    a.literal('x'), a.literal('y'), a.match(4, 2);  // xyxyxy
    b.literal('z'), b.match(3, 1);                  // zzzz
    auto in = block({{6, a}, {4, b}});
    std::vector<uint8_t> out;
    ASSERT_TRUE(lz::decompress(in.data(), in.size(), out));
    EXPECT_EQ(text(out), "xyxyxyzzzz");
}

TEST(LzDecompress, RefusesCorruptBlocks) {
    Bits ok;
    ok.literal('a'), ok.match(3, 1);
    Bits before_chunk;  // a match reaching into the previous chunk
    before_chunk.match(3, 2);
    Bits past_end;  // a match longer than the chunk
    past_end.literal('a'), past_end.match(6, 1);
    Bits eleven;
    eleven.literal('a'), eleven.match(10, 1);
    Bits short_stream;
    short_stream.literal('a');
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"chunk length 0", block({{0, ok}})},
        {"chunk length above 1 MiB", block({{1048577, ok}})},
        {"match before its chunk", block({{4, ok}, {3, before_chunk}})},
        {"match past the chunk", block({{4, past_end}})},
        {"chunks above U + 8", block({{11, eleven}}, 2)},
        {"stream ends early", block({{4, short_stream}})},
        {"header only half there", {4, 0, 0}},
        {"C beyond the input", [] { auto v = block({{4, Bits{}}}); v[0] += 10; return v; }()},
        {"U no input can give", {4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0}},
        {"length word cut", {2, 0, 0, 0, 4, 0, 0, 0, 4, 0}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out;
        EXPECT_FALSE(lz::decompress(c.bytes.data(), c.bytes.size(), out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(LzDecompress, OutputBoundFollowsTheInput) {
    EXPECT_GE(lz::max_output(3), 566u);
    EXPECT_LT(lz::max_output(1000), 1000u * 566);
}

std::vector<uint8_t> round_trip(const std::vector<uint8_t>& in, int64_t* packed = nullptr) {
    std::vector<uint8_t> target(in.size());
    int64_t n = lz::compress(in.data(), in.size(), target.data());
    if (packed) *packed = n;
    if (n < 0) return {};
    std::vector<uint8_t> out;
    EXPECT_TRUE(lz::decompress(target.data(), size_t(n), out));
    return out;
}

TEST(LzCompress, RefusesShortInputsAndIncompressibleOnes) {
    std::vector<uint8_t> a(127, 'a'), b(128, 'a');
    std::vector<uint8_t> t(128);
    EXPECT_EQ(lz::compress(a.data(), a.size(), t.data()), -1);
    EXPECT_GT(lz::compress(b.data(), b.size(), t.data()), 0);
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(4096);
    for (auto& x : noise) x = uint8_t(rng());
    int64_t n = 0;
    round_trip(noise, &n);
    EXPECT_EQ(n, -1);
}

TEST(LzCompress, RoundTripsTextRunsAndLargeInputs) {
    std::mt19937 rng(11);
    std::vector<std::vector<uint8_t>> inputs;
    std::string prose;
    while (prose.size() < 20000) prose += "the quick brown fox " + std::to_string(rng() % 50) + " jumps; ";
    inputs.emplace_back(prose.begin(), prose.end());
    inputs.emplace_back(5000, 'z');
    std::vector<uint8_t> words;  // a small alphabet of repeated tokens, over two chunks
    while (words.size() < 1048576 + 300000) {
        static const char* tok[] = {"alpha ", "beta ", "gamma ", "delta\n"};
        const char* w = tok[rng() % 4];
        words.insert(words.end(), w, w + std::strlen(w));
    }
    inputs.push_back(words);
    for (const auto& in : inputs) {
        int64_t n = 0;
        std::vector<uint8_t> out = round_trip(in, &n);
        ASSERT_GT(n, 0);
        EXPECT_LT(size_t(n), in.size());
        EXPECT_TRUE(out == in) << in.size();
    }
}

}  // namespace
}  // namespace kov
