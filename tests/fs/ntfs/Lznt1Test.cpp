#include "fs/ntfs/Lznt1.h"

#include "core/Log.h"
#include "tests/fs/ntfs/Lznt1TestCompressor.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;
using testutil::hexDump;

constexpr u8 UNTOUCHED = 0xEE;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

struct Result {
    bool ok = false;
    Bytes out; // the output view, all of it
    u32 outPos = 0;
    u32 inPos = 0;
    std::string log;
    Bytes produced() const { return Bytes(out.begin(), out.begin() + outPos); }
};

Result decode(const Bytes& input, u32 capacity = 65536) {
    Result r;
    r.out.assign(capacity, UNTOUCHED);
    const std::size_t mark = logMemoryText().size();
    r.ok = decompressLznt1(Array(r.out.data(), capacity), r.outPos,
                           ConstArray(input.data(), static_cast<u32>(input.size())), r.inPos);
    r.log = logSince(mark);
    return r;
}

void appendLE16(Bytes& b, u32 v) {
    b.push_back(static_cast<u8>(v));
    b.push_back(static_cast<u8>(v >> 8));
}
// A chunk with its header: compressed (tokens) or stored bytes.
Bytes chunk(bool compressed, const Bytes& body) {
    Bytes b;
    appendLE16(b, (compressed ? 0xB000 : 0x3000) | static_cast<u32>(body.size() - 1));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const Bytes END{0x00, 0x00};

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

TEST(Lznt1Test, AnEndHeaderAloneGivesNothing) {
    const Result r = decode(END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.outPos, 0u);
    EXPECT_EQ(r.inPos, 2u);
    EXPECT_EQ(r.log, "");
}

TEST(Lznt1Test, AStoredChunkIsCopiedAndTheEndHeaderIsExpected) {
    Bytes body(4096);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<u8>(i * 7);
    Bytes input{0xFF, 0x0F}; // bits 12-14 clear: not examined
    input = input + body;

    Result r = decode(input + END);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.produced(), body);
    EXPECT_EQ(r.inPos, 4100u);

    r = decode(input);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.log, "NtfsCompression(61)\n");
    EXPECT_EQ(r.produced(), body);
    EXPECT_EQ(r.inPos, 4098u);
}

TEST(Lznt1Test, ABackReferenceLongerThanItsOffsetRepeats) {
    // Flag 0x08: three literals, then offset 3 length 6 (12 length bits at p = 3).
    const Result r = decode(chunk(true, {0x08, 'a', 'b', 'c', 0x03, 0x20}) + END);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.produced(), text("abcabcabc"));
}

TEST(Lznt1Test, TheLengthFieldNarrowsAsTheChunkGrows) {
    const std::pair<u32, u32> splits[] = {{0, 12},   {16, 12},  {17, 11},  {32, 11},
                                          {33, 10},  {64, 10},  {65, 9},   {1024, 6},
                                          {1025, 5}, {2048, 5}, {2049, 4}, {4096, 4}};
    for (const auto& s : splits)
        EXPECT_EQ(lznt1LengthBits(s.first), s.second) << s.first;

    // 17 distinct literals, then offset 17 length 4 with 11 length bits.
    Bytes body{0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',  0x00,
               'i',  'j', 'k', 'l', 'm', 'n', 'o', 'p', 0x02, 'q'};
    appendLE16(body, 16u << 11 | 1);
    const Result r = decode(chunk(true, body) + END);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.produced(), text("abcdefghijklmnopqabcd"));
}

TEST(Lznt1Test, BrokenTokensStopWithTheirRuleAndKeepWhatCameBefore) {
    struct Case {
        Bytes input;
        const char* log;
        std::string produced;
    };
    const Case cases[] = {
        // A reference before the start of the output.
        {chunk(true, {0x01, 0x00, 0x00}) + END, "NtfsCompression(154)\nNtfsCompression(78)\n", ""},
        {chunk(true, {0x04, 'x', 'y', 0x00, 0x20}) + END,
         "NtfsCompression(154)\nNtfsCompression(78)\n", "xy"},
        // A reference cut off by the chunk's end.
        {chunk(true, {0x02, 'x', 0x00}) + END, "NtfsCompression(139)\nNtfsCompression(78)\n", "x"},
        // A chunk longer than the input.
        {Bytes{0x05, 0xB0, 0x00, 'a'}, "NtfsCompression(73)\n", ""},
        {Bytes{0x00}, "NtfsCompression(61)\n", ""},
    };
    for (const Case& c : cases) {
        const Result r = decode(c.input);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.log, c.log) << hexDump(c.input.data(), c.input.size());
        EXPECT_EQ(r.produced(), text(c.produced));
    }
    // The header of the chunk that is too long has been read.
    EXPECT_EQ(decode(Bytes{0x05, 0xB0, 0x00, 'a'}).inPos, 2u);
}

TEST(Lznt1Test, AReferencePastTheOutputWritesNoneOfItsBytes) {
    const Result r = decode(chunk(true, {0x08, 'a', 'b', 'c', 0x03, 0x20}) + END, 5);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.log, "NtfsCompression(165)\nNtfsCompression(78)\n");
    EXPECT_EQ(r.outPos, 3u);
    EXPECT_EQ(r.out, Bytes({'a', 'b', 'c', UNTOUCHED, UNTOUCHED}));
}

TEST(Lznt1Test, AChunkEndsWhereItsBytesEndEvenInsideAFlagGroup) {
    const Result r = decode(chunk(true, {0x00, 'a', 'b'}) + END);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.produced(), text("ab"));

    // Called on its own with nothing left, a flag byte is missing.
    Bytes out(16);
    u32 outPos = 0, chunkPos = 0;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(decompressLznt1Chunk(Array(out.data(), 16), outPos, ConstArray(), chunkPos));
    EXPECT_EQ(logSince(mark), "NtfsCompression(123)\n");
}

TEST(Lznt1Test, AShortChunkFollowedByAnotherIsPaddedToItsFullSize) {
    // NTFS keeps every chunk but the last at 4096 bytes of output.
    const Result r =
        decode(chunk(true, {0x08, 'a', 'b', 'c', 0x03, 0x20}) + chunk(false, text("XYZ")) + END);
    EXPECT_TRUE(r.ok) << r.log;
    ASSERT_EQ(r.outPos, 4096u + 3u);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.begin() + 9), text("abcabcabc"));
    EXPECT_EQ(Bytes(r.out.begin() + 9, r.out.begin() + 4096), Bytes(4096 - 9, 0));
    EXPECT_EQ(Bytes(r.out.begin() + 4096, r.out.begin() + 4099), text("XYZ"));

    // Padding stops at the end of a smaller output.
    const Result small = decode(
        chunk(true, {0x08, 'a', 'b', 'c', 0x03, 0x20}) + chunk(false, text("XYZ")) + END, 100);
    EXPECT_TRUE(small.ok) << small.log;
    EXPECT_EQ(small.outPos, 100u);
    EXPECT_EQ(small.out[99], 0);

    // A short stored chunk keeps the next one in its place as well; the last
    // chunk is not padded.
    const Result s = decode(chunk(false, text("ab")) + chunk(false, text("cd")) + END);
    EXPECT_TRUE(s.ok) << s.log;
    EXPECT_EQ(s.outPos, 4096u + 2u);
    EXPECT_EQ(s.out[4096], 'c');
}

TEST(Lznt1Test, AChunkWritesAtMostItsOwnSize) {
    // 'a' then 4095 copies of it fill the chunk; the literal after is dropped
    // and the next chunk starts at 4096.
    Bytes body{0x02, 'a'};
    appendLE16(body, 4095 - 3); // offset 1, length 4095
    body.push_back('b');
    const Result r = decode(chunk(true, body) + chunk(false, text("n")) + END);
    EXPECT_TRUE(r.ok) << r.log;
    ASSERT_EQ(r.outPos, 4097u);
    EXPECT_EQ(Bytes(r.out.begin(), r.out.begin() + 4096), Bytes(4096, 'a'));
    EXPECT_EQ(r.out[4096], 'n');

    // A reference that would run past the chunk's 4096 bytes is refused.
    Bytes over{0x02, 'a'};
    appendLE16(over, 4096 - 3);
    const Result o = decode(chunk(true, over) + END);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.log, "NtfsCompression(165)\nNtfsCompression(78)\n");
}

TEST(Lznt1Test, ChunksAfterAFullOutputAreSkippedWhole) {
    // The next header is read after the chunk's bytes, not from inside them.
    const Bytes full(4096, 'f');
    Result r = decode(chunk(false, full) + chunk(false, text("more")) + END, 4096);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.outPos, 4096u);
    EXPECT_EQ(r.inPos, 4098u + 6u + 2u);

    r = decode(chunk(false, text("0123456789")) + END, 4);
    EXPECT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.produced(), text("0123"));
    EXPECT_EQ(r.inPos, 14u);
}

TEST(Lznt1Test, PositionsOutsideTheirViewsAreABrokenInvariant) {
    Bytes out(8);
    const Bytes in = END;
    u32 outPos = 9, inPos = 0;
    EXPECT_THROW(decompressLznt1(Array(out.data(), 8), outPos, ConstArray(in.data(), 2), inPos),
                 std::runtime_error);
    outPos = 0;
    inPos = 3;
    EXPECT_THROW(decompressLznt1(Array(out.data(), 8), outPos, ConstArray(in.data(), 2), inPos),
                 std::runtime_error);
}

// Inputs of every kind through the test compressor and back.
TEST(Lznt1Test, TheTestCompressorRoundTrips) {
    std::mt19937 random(99);
    for (int i = 0; i < 200; ++i) {
        const std::size_t size = random() % 65537;
        Bytes data(size);
        const int kind = i % 4;
        for (std::size_t k = 0; k < size; ++k) {
            switch (kind) {
            case 0:
                data[k] = static_cast<u8>(random());
                break; // noise
            case 1:
                data[k] = static_cast<u8>("abcab d"[random() % 7]);
                break; // text-like
            case 2:
                data[k] = k % 300 < 200 ? 0 : static_cast<u8>(k);
                break;
            default:
                data[k] = static_cast<u8>(k / 97);
                break;
            }
        }
        const Bytes packed = lznt1test::compress(data);
        const Result r = decode(packed, 65536);
        ASSERT_TRUE(r.ok) << i << ' ' << r.log;
        ASSERT_EQ(r.produced(), data) << i;
        if (kind != 0 && size > 4096) {
            EXPECT_LT(packed.size(), size / 2) << i;
        }
    }
}

// Units that ntfs-3g compressed on a real volume: every unit of each file,
// gathered from the clusters ntfsinfo names, must decode to the file's bytes.
class Lznt1RealTest : public ::testing::TestWithParam<u32> {
protected:
    void SetUp() override {
        ASSERT_TRUE(ntfstest::makeVolume(image_, 48u << 20, GetParam(), true));
    }

    void addFile(const std::string& name, const Bytes& data) {
        testutil::writeAll(dir_.file(name), std::string(data.begin(), data.end()));
        ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file(name), name));
        files_.emplace_back(name, data);
    }

    // Decodes every unit of the file; returns how many were compressed.
    int checkFile(const ntfstest::Image& volume, const std::string& name, const Bytes& data) {
        SCOPED_TRACE(name);
        std::vector<ntfstest::InfoRun> info;
        EXPECT_TRUE(ntfstest::infoRunlist(image_, name, info));
        const ntfstest::VcnMap map = ntfstest::vcnMapOf(info);
        const u64 cluster = volume.clusterSize();
        const u64 unitBytes = 16 * cluster;
        int compressedUnits = 0;
        Bytes whole;
        for (u64 unit = 0; unit * unitBytes < data.size(); ++unit) {
            Bytes stored;
            for (u64 vcn = unit * 16; vcn < unit * 16 + 16 && vcn < map.size(); ++vcn) {
                if (map[vcn] >= 0) {
                    const Bytes c = volume.clusters(static_cast<u64>(map[vcn]), 1);
                    stored.insert(stored.end(), c.begin(), c.end());
                }
            }
            Bytes out(unitBytes, 0);
            if (stored.size() == unitBytes) {
                out = stored; // stored as it is
            } else if (!stored.empty()) {
                ++compressedUnits;
                u32 outPos = 0, inPos = 0;
                const std::size_t mark = logMemoryText().size();
                const bool ok = decompressLznt1(
                    Array(out.data(), static_cast<u32>(unitBytes)), outPos,
                    ConstArray(stored.data(), static_cast<u32>(stored.size())), inPos);
                const u64 expected = std::min<u64>(unitBytes, data.size() - unit * unitBytes);
                EXPECT_TRUE(ok) << unit << ' ' << logSince(mark);
                EXPECT_GE(outPos, expected) << unit;
                truncationSweep(stored, out, unitBytes);
            }
            whole.insert(whole.end(), out.begin(), out.end());
        }
        whole.resize(data.size());
        const auto diff = std::mismatch(whole.begin(), whole.end(), data.begin());
        EXPECT_EQ(diff.first, whole.end())
            << "first difference at " << (diff.first - whole.begin());
        return compressedUnits;
    }

    // Every cut of a unit's stored bytes decodes its whole chunks and no more.
    void truncationSweep(const Bytes& stored, const Bytes& full, u64 unitBytes) {
        if (sweeps_++ > 2)
            return;
        for (u32 cut = 0; cut < stored.size(); cut += 37) {
            Bytes out(unitBytes, 0);
            u32 outPos = 0, inPos = 0;
            decompressLznt1(Array(out.data(), static_cast<u32>(unitBytes)), outPos,
                            ConstArray(stored.data(), cut), inPos);
            ASSERT_LE(inPos, cut);
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + outPos, full.begin())) << cut;
        }
    }

    testutil::TempDir dir_;
    std::string image_ = dir_.file("v.img");
    std::vector<std::pair<std::string, Bytes>> files_;
    int sweeps_ = 0;
};

TEST_P(Lznt1RealTest, NtfsCompressedFilesDecodeToTheirBytes) {
    std::mt19937 random(5);
    const char* words[] = {"recovery ", "sector ", "cluster ", "record\n", "unit ", "a "};
    Bytes prose;
    while (prose.size() < (1u << 20)) {
        const char* w = words[random() % 6];
        prose.insert(prose.end(), w, w + std::strlen(w));
    }
    prose.resize(1u << 20);
    Bytes noise(1u << 20);
    for (u8& b : noise)
        b = static_cast<u8>(random());

    auto cut = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + n); };
    addFile("text-1m", prose);
    addFile("text-64k-1", cut(prose, 65535));
    addFile("text-64k+1", cut(prose, 65537));
    addFile("zeros-64k+1", Bytes(65537, 0));
    addFile("noise-64k-1", cut(noise, 65535));
    // Compressible and incompressible units, and a hole in the middle.
    addFile("mixed", cut(prose, 100000) + Bytes(140000, 0) + cut(noise, 70000) + cut(prose, 3));

    std::string cat;
    ASSERT_EQ(ntfstest::runTool("ntfscat " + testutil::shellQuote(image_) + " text-64k+1", &cat),
              0);
    EXPECT_EQ(cat, std::string(prose.begin(), prose.begin() + 65537));

    const ntfstest::Image volume(image_);
    int compressedUnits = 0;
    for (const auto& f : files_)
        compressedUnits += checkFile(volume, f.first, f.second);
    EXPECT_GE(compressedUnits, 20);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizes, Lznt1RealTest, ::testing::Values(512u, 4096u));

} // namespace
