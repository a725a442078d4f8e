#include "fs/ntfs/Lznt1.h"

#include "tests/support/Lznt1Compressor.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<u8>;
using testutil::hexDump;

constexpr u8 UNTOUCHED = 0xEE;

struct Result {
    bool ok = false;
    Bytes out; // the whole output view
    u32 outPos = 0;
    u32 inPos = 0;
    std::string log;
    Bytes produced() const { return Bytes(out.begin(), out.begin() + outPos); }
};

Result decode(const Bytes& input, u32 capacity = 65536) {
    Result r;
    r.out.assign(capacity, UNTOUCHED);
    testutil::LogCapture log;
    r.ok = decompressLznt1(Array(r.out.data(), capacity), r.outPos,
                           ConstArray(input.data(), static_cast<u32>(input.size())), r.inPos);
    r.log = log.text();
    return r;
}

// A chunk with its header: compressed (tokens) or stored bytes.
Bytes chunk(bool compressed, const Bytes& body) {
    const u32 header = (compressed ? 0xB000 : 0x3000) | static_cast<u32>(body.size() - 1);
    Bytes b{static_cast<u8>(header), static_cast<u8>(header >> 8)};
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
const Bytes END{0x00, 0x00};
// Three literals, then offset 3 length 6: "abcabcabc".
const Bytes ABC = chunk(true, {0x08, 'a', 'b', 'c', 0x03, 0x20});

TEST(Lznt1Test, TheLengthFieldNarrowsAsTheChunkGrows) {
    const std::pair<u32, u32> splits[] = {{0, 12},   {16, 12},  {17, 11},  {32, 11},
                                          {33, 10},  {64, 10},  {65, 9},   {1024, 6},
                                          {1025, 5}, {2048, 5}, {2049, 4}, {4096, 4}};
    for (const auto& s : splits)
        EXPECT_EQ(lznt1LengthBits(s.first), s.second) << s.first;
    // 17 distinct literals, then offset 17 length 4 with 11 length bits.
    const Result r =
        decode(chunk(true, {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g',  'h', 0x00, 'i',
                            'j',  'k', 'l', 'm', 'n', 'o', 'p', 0x02, 'q', 0x01, 0x80}) +
               END);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.produced(), text("abcdefghijklmnopqabcd"));
}

TEST(Lznt1Test, BrokenInputStopsWithItsRuleAndKeepsWhatCameBefore) {
    struct Case {
        Bytes input;
        u32 capacity;
        const char* log;
        std::string produced;
    };
    const Case cases[] = {
        {chunk(true, {0x01, 0x00, 0x00}) + END, 65536, "Lznt1(154): offset 1 after 0 bytes\n", ""},
        // A chunk is compressed on its own: a reference to the chunk before it
        // is damage, not data.
        {ABC + chunk(true, {0x02, 'x', 0x00, 0x10}) + END, 65536,
         "Lznt1(154): offset 2 after 1 bytes\n", "abcabcabc"},
        // A reference cut off by the chunk's end, or running past the output.
        {chunk(true, {0x02, 'x', 0x00}) + END, 65536, "Lznt1(139)\n", "x"},
        {ABC + END, 5, "Lznt1(165)\n", "abc"},
        // A chunk longer than the input; no end header.
        {Bytes{0x05, 0xB0, 0x00, 'a'}, 65536, "Lznt1(73)\n", ""},
        {chunk(false, text("ab")), 65536, "Lznt1(61)\n", "ab"},
    };
    for (const Case& c : cases) {
        const Result r = decode(c.input, c.capacity);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.log.substr(0, r.log.find('\n') + 1), c.log)
            << hexDump(c.input.data(), c.input.size());
        EXPECT_EQ(Bytes(r.out.begin(), r.out.begin() + c.produced.size()), text(c.produced));
    }
    // Nothing of a refused reference is written.
    EXPECT_EQ(decode(ABC + END, 5).out, Bytes({'a', 'b', 'c', UNTOUCHED, UNTOUCHED}));
    // Positions outside their views are the caller's fault.
    Bytes out(8);
    u32 outPos = 9, inPos = 0;
    EXPECT_THROW(decompressLznt1(Array(out.data(), 8), outPos, ConstArray(END.data(), 2), inPos),
                 std::runtime_error);
}

// Every chunk but the last stands for 4096 bytes: the next header is read
// after the chunk's bytes and its output goes 4096 bytes on.
TEST(Lznt1Test, AShortChunkFollowedByAnotherIsPaddedToItsFullSize) {
    const Result r = decode(ABC + chunk(false, text("XYZ")) + END);
    EXPECT_TRUE(r.ok) << r.log;
    ASSERT_EQ(r.outPos, 4096u + 3u);
    EXPECT_EQ(r.produced(), text("abcabcabc") + Bytes(4096 - 9, 0) + text("XYZ"));
    // Padding stops at the end of a smaller output; a full one skips the rest.
    const Result small = decode(ABC + chunk(false, text("XYZ")) + END, 100);
    EXPECT_TRUE(small.ok) << small.log;
    EXPECT_EQ(small.outPos, 100u);
    const Result full =
        decode(chunk(false, Bytes(4096, 'f')) + chunk(false, text("more")) + END, 4096);
    EXPECT_TRUE(full.ok) << full.log;
    EXPECT_EQ(full.inPos, 4098u + 6u + 2u);
    // A chunk that fills its 4096 bytes drops what its tokens say beyond them.
    const Result fill =
        decode(chunk(true, {0x02, 'a', 0xFC, 0x0F, 'b'}) + chunk(false, text("n")) + END);
    EXPECT_TRUE(fill.ok) << fill.log;
    EXPECT_EQ(fill.produced(), Bytes(4096, 'a') + text("n"));
}

// Inputs of every kind through the test compressor and back, and every cut of
// them: a cut input decodes its whole chunks and no more.
TEST(Lznt1Test, CompressedInputsRoundTripAndCutsKeepTheirWholeChunks) {
    std::mt19937 random(99);
    for (int i = 0; i < 80; ++i) {
        Bytes data(random() % 65537);
        for (std::size_t k = 0; k < data.size(); ++k) {
            const int kind = i % 3;
            data[k] = static_cast<u8>(kind == 0   ? random()
                                      : kind == 1 ? "abcab d"[random() % 7]
                                                  : (k % 300 < 200 ? 0 : k));
        }
        const Bytes packed = lznt1test::compress(data);
        const Result r = decode(packed);
        ASSERT_TRUE(r.ok) << i << ' ' << r.log;
        ASSERT_EQ(r.produced(), data) << i;
        const u32 cut = static_cast<u32>(random() % (packed.size() + 1));
        const Result part = decode(Bytes(packed.begin(), packed.begin() + cut));
        ASSERT_LE(part.inPos, cut);
        ASSERT_TRUE(std::equal(part.out.begin(), part.out.begin() + part.outPos, data.begin()))
            << i;
    }
}

} // namespace
