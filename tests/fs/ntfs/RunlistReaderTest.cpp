#include "fs/ntfs/RunlistReader.h"

#include "core/Log.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tests/fs/ntfs/Lznt1TestCompressor.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using ntfstest::MemoryVolume;
using ntfstest::sameBytes;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

std::string readSectors(RunlistReader& reader, u64 sector, u64 count, bool* ok = nullptr) {
    std::string out(count * 512, '\x55');
    const bool result = reader.read(sector, count, reinterpret_cast<u8*>(&out[0]));
    if (ok != nullptr)
        *ok = result;
    return out;
}

std::string sectorsOf(const std::string& volume, u64 first, u64 count) {
    return volume.substr(first * 512, count * 512);
}

TEST(RunlistReaderTest, PlainAndSparseRunsFillTheDestinationInOrder) {
    const std::string volume = testutil::numberedSectors(128);
    MemoryVolume v(volume, 2);
    RunlistReader reader(*v.drive);
    ASSERT_TRUE(reader.setRunlist({{10, 3, 3}, {0, 2, 0}, {40, 4, 4}}));
    EXPECT_EQ(reader.getSectorCount(), 18u);
    bool ok = false;
    // From the middle of the first run into the middle of the last.
    const std::string got = readSectors(reader, 3, 12, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(sameBytes(got, sectorsOf(volume, 23, 3) + std::string(4 * 512, '\0') +
                                   sectorsOf(volume, 80, 5)));
    // The hole cost no read.
    EXPECT_EQ(v.reader->requests().size(), 2u);
    EXPECT_EQ(reader.getSectorLBA(0), 20u);
    EXPECT_EQ(reader.getSectorLBA(13), 83u);
    EXPECT_EQ(reader.getSectorLBA(7), ~u64{0}); // a hole lies nowhere
    EXPECT_EQ(reader.getSectorLBA(18), ~u64{0});
}

TEST(RunlistReaderTest, ReadingPastTheLastRunFails) {
    MemoryVolume v(testutil::numberedSectors(64), 1);
    RunlistReader reader(*v.drive);
    ASSERT_TRUE(reader.setRunlist({{10, 4, 4}}));
    const std::size_t mark = logMemoryText().size();
    bool ok = true;
    readSectors(reader, 3, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(logSince(mark).find("RunlistReader(60)"), std::string::npos);
    // Positions that would wrap around are past the end as well.
    u8 sector[512];
    EXPECT_FALSE(reader.read(~u64{0}, 2, sector));
    EXPECT_TRUE(reader.read(3, 0, sector));
}

TEST(RunlistReaderTest, ReadsGoOnFromTheCursorAndBackwardsRestart) {
    const std::string volume = testutil::numberedSectors(256);
    MemoryVolume v(volume, 1);
    RunlistReader reader(*v.drive);
    Runlist runs;
    for (u64 i = 0; i < 50; ++i)
        runs.push_back({100 + 3 * i, 2, 2}); // gaps keep them apart
    ASSERT_TRUE(reader.setRunlist(runs));
    for (u64 s : {0u, 17u, 18u, 99u, 4u, 98u, 1u}) {
        SCOPED_TRACE(s);
        EXPECT_TRUE(
            sameBytes(readSectors(reader, s, 1), sectorsOf(volume, 100 + 3 * (s / 2) + s % 2, 1)));
    }
}

TEST(RunlistReaderTest, RunsOutsideTheVolumeAreNeverRead) {
    MemoryVolume v(testutil::numberedSectors(128), 2, 8);
    // 60 clusters from LBA 8: cluster 59 is the last.
    RunlistReader reader(*v.drive);
    ASSERT_TRUE(reader.setRunlist({{58, 4, 4}}));
    const std::size_t mark = logMemoryText().size();
    bool ok = true;
    readSectors(reader, 0, 1, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(logSince(mark).find("RunlistReader(85)"), std::string::npos);
    EXPECT_TRUE(v.reader->requests().empty());
}

TEST(RunlistReaderTest, ListsNoParserMakesAreRefused) {
    MemoryVolume v(testutil::numberedSectors(64), 1);
    RunlistReader reader(*v.drive);
    const Runlist refused[] = {
        {{10, 3, 4}},              // fewer clusters than stored
        {{10, 0, 2}},              // a chain without its last piece
        {{10, 0, 2}, {20, 3, 3}},  // a chain closed by a plain run
        {{10, 0, 9}, {20, 16, 8}}, // 17 stored clusters for one unit
        {{10, RunlistParser::MAX_CLUSTERS, 0}, {0, ~u64{0} - 5, 0}}, // clusters that wrap
        {{0, u64{1} << 55, 0}}, // more bytes than 63 bits count
    };
    for (const Runlist& runs : refused) {
        const std::size_t mark = logMemoryText().size();
        EXPECT_FALSE(reader.setRunlist(runs));
        EXPECT_NE(logSince(mark).find("RunlistReader("), std::string::npos);
        EXPECT_EQ(reader.getSectorCount(), 0u);
        EXPECT_TRUE(reader.getRunlist().empty());
        u8 sector[512];
        EXPECT_FALSE(reader.read(0, 1, sector));
    }
    // A unit of exactly 16 stored clusters is still a unit.
    EXPECT_TRUE(reader.setRunlist({{10, 0, 8}, {20, 16, 8}}));
}

TEST(RunlistReaderTest, BytesFromTheInitializedSizeOnAreZerosAndNotRead) {
    const std::string volume = testutil::numberedSectors(64);
    MemoryVolume v(volume, 1);
    RunlistReader reader(*v.drive);
    ASSERT_TRUE(reader.setRunlist({{10, 8, 8}}, 2 * 512 + 100));
    EXPECT_TRUE(sameBytes(readSectors(reader, 1, 6), sectorsOf(volume, 11, 1) +
                                                         volume.substr(12 * 512, 100) +
                                                         std::string(412 + 4 * 512, '\0')));
    ASSERT_EQ(v.reader->requests().size(), 1u);
    EXPECT_EQ(v.reader->requests()[0].size, 2 * 512);
    // Wholly past it: nothing is read at all.
    EXPECT_TRUE(sameBytes(readSectors(reader, 4, 4), std::string(4 * 512, '\0')));
    EXPECT_EQ(v.reader->requests().size(), 1u);
    // On a sector boundary nothing is cut.
    ASSERT_TRUE(reader.setRunlist({{10, 8, 8}}, 3 * 512));
    EXPECT_TRUE(
        sameBytes(readSectors(reader, 0, 4), sectorsOf(volume, 10, 3) + std::string(512, '\0')));
}

// A volume with one compressed unit stored from sector 40: `content` (at most
// 16 clusters) compressed, and zeros after it to the end of its last cluster.
struct CompressedUnit {
    CompressedUnit(const std::string& content, u64 spc, const std::vector<u64>& bad = {})
        : volume(std::string(256 * 512, '\x77')), lcn(40 / spc) {
        const std::vector<u8> packed =
            lznt1test::compress(reinterpret_cast<const u8*>(content.data()), content.size());
        stored = (packed.size() + 512 * spc - 1) / (512 * spc);
        std::string clusters(stored * 512 * spc, '\0');
        std::copy(packed.begin(), packed.end(), clusters.begin());
        volume.replace(40 * 512, clusters.size(), clusters);
        memory.reset(new MemoryVolume(volume, spc, 0, bad));
    }
    std::string volume;
    u64 lcn;
    u64 stored;
    std::unique_ptr<MemoryVolume> memory;
};

TEST(RunlistReaderTest, ACompressedUnitIsDecompressedOnceAndServedFromTheCache) {
    const std::string content = ntfstest::textContent(16 * 512, 3);
    CompressedUnit unit(content, 1);
    ASSERT_LT(unit.stored, 16u);
    RunlistReader reader(*unit.memory->drive);
    // The unit split over two pieces on disk, then a plain run.
    ASSERT_TRUE(reader.setRunlist({{40, 0, 1}, {41, 16, unit.stored - 1}, {100, 2, 2}}));
    EXPECT_TRUE(sameBytes(readSectors(reader, 5, 1), content.substr(5 * 512, 512)));
    const std::size_t reads = unit.memory->reader->requests().size();
    EXPECT_EQ(reads, 2u); // one per stored piece
    EXPECT_TRUE(sameBytes(readSectors(reader, 3, 1), content.substr(3 * 512, 512)));
    EXPECT_TRUE(sameBytes(readSectors(reader, 15, 1), content.substr(15 * 512, 512)));
    EXPECT_EQ(unit.memory->reader->requests().size(), reads);
    // A read across the unit's end goes on into the next run.
    EXPECT_TRUE(sameBytes(readSectors(reader, 14, 4),
                          content.substr(14 * 512) + sectorsOf(unit.volume, 100, 2)));
    EXPECT_EQ(reader.getSectorLBA(3), ~u64{0}); // compressed data lies nowhere
}

TEST(RunlistReaderTest, AShortUnitServesWhatItDecompressedAndNoMore) {
    // 10,240 bytes of a unit of 64 sectors: its sectors 0 to 19.
    const std::string content = ntfstest::textContent(10240, 4);
    CompressedUnit unit(content, 4);
    RunlistReader reader(*unit.memory->drive);
    ASSERT_TRUE(reader.setRunlist({{unit.lcn, 16, unit.stored}}));
    EXPECT_TRUE(sameBytes(readSectors(reader, 0, 20), content));
    const std::size_t mark = logMemoryText().size();
    bool ok = true;
    readSectors(reader, 19, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(logSince(mark).find("RunlistReader(200)"), std::string::npos);
}

TEST(RunlistReaderTest, AUnitEndingInsideASectorIsZeroPadded) {
    const std::string content = ntfstest::randomContent(1000, 5);
    CompressedUnit unit(content, 1);
    RunlistReader reader(*unit.memory->drive);
    ASSERT_TRUE(reader.setRunlist({{unit.lcn, 16, unit.stored}}));
    EXPECT_TRUE(sameBytes(readSectors(reader, 0, 2), content + std::string(24, '\0')));
}

TEST(RunlistReaderTest, AStoredPieceThatCannotBeReadKeepsTheChunksBeforeIt) {
    // Random data is stored as it is, 4096 bytes a chunk. The second chunk's
    // sectors start at stored sector 8; losing stored sector 9 stops the
    // decompression after the first chunk.
    const std::string content = ntfstest::randomContent(12 * 512, 6);
    CompressedUnit unit(content, 1, {49});
    RunlistReader reader(*unit.memory->drive);
    ASSERT_TRUE(reader.setRunlist({{40, 0, 9}, {49, 0, 1}, {50, 16, unit.stored - 10}}));
    const std::size_t mark = logMemoryText().size();
    EXPECT_TRUE(sameBytes(readSectors(reader, 0, 8), content.substr(0, 4096)));
    const std::string log = logSince(mark);
    EXPECT_NE(log.find("RunlistReader(148)"), std::string::npos);
    EXPECT_NE(log.find("RunlistReader(167): srcPos: "), std::string::npos);
    bool ok = true;
    readSectors(reader, 8, 1, &ok);
    EXPECT_FALSE(ok);
}

TEST(RunlistReaderTest, HostileListsNeverCrashOrReadOutsideTheVolume) {
    const std::string volume = testutil::numberedSectors(256);
    MemoryVolume v(volume, 2);
    RunlistReader reader(*v.drive);
    std::mt19937 random(99);
    std::vector<u8> buffer(64 * 512);
    for (int round = 0; round < 3000; ++round) {
        std::vector<u8> pairs(1 + random() % 24);
        for (u8& b : pairs)
            b = static_cast<u8>(random() % 4 == 0 ? random() % 0x30 : random());
        pairs.back() = 0;
        RunlistParser parser(random() % 2 == 0, round % 3 == 0 ? RunlistParser::ANY_VOLUME : 128);
        parser.parse(pairs.data(), static_cast<u32>(pairs.size()));
        parser.finish();
        if (!reader.setRunlist(parser.getRunlist(), random() % 3 == 0 ? random() % 20000 : ~u64{0}))
            continue;
        for (int k = 0; k < 4; ++k) {
            const u64 total = reader.getSectorCount();
            const u64 sector = total == 0 ? random() : random() % total;
            reader.read(sector, 1 + random() % 64, buffer.data());
        }
    }
    for (const testutil::FailingReader::Request& r : v.reader->requests())
        EXPECT_LE(static_cast<u64>(r.offset + r.size), volume.size());
}

// Random ranges of real files, read in a random order, must match the files.
TEST(RunlistReaderRealTest, RandomRangesOfRealFiles) {
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed);
        ntfstest::Volume v(32u << 20, compressed ? 512 : 4096, compressed);
        const std::string content = ntfstest::textContent(300000, 7) + std::string(100000, '\0') +
                                    ntfstest::randomContent(123457, 8);
        v.add("f", content);
        const NtfsAttributeData data = v.data("f");
        RunlistReader reader(v.drive());
        ASSERT_TRUE(reader.setRunlist(data.runs, data.initializedSize));
        const u64 sectors = (content.size() + 511) / 512;
        const std::string padded = content + std::string(sectors * 512 - content.size(), '\0');
        std::mt19937 random(compressed ? 1 : 2);
        for (int i = 0; i < 200; ++i) {
            const u64 first = random() % sectors;
            const u64 count = 1 + random() % std::min<u64>(300, sectors - first);
            bool ok = false;
            const std::string got = readSectors(reader, first, count, &ok);
            ASSERT_TRUE(ok) << first << " " << count;
            ASSERT_TRUE(sameBytes(got, padded.substr(first * 512, count * 512)))
                << first << " " << count;
        }
    }
}

} // namespace
