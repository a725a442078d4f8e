#include "fs/ntfs/RunlistReader.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/Lznt1Compressor.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// A memory volume of numbered sectors (each holds its LBA), its drive and a
// reader over it.
struct Volume {
    Volume(u64 spc, u64 clusters, const std::vector<u64>& bad = {}) : memory(spc, clusters) {
        memory.putBytes(0, testutil::numberedSectors(spc * clusters));
        open(bad);
    }
    void open(const std::vector<u64>& bad = {}) {
        reader.reset();
        source = memory.source(bad);
        drive = source->drive();
        reader = std::make_unique<RunlistReader>(*drive);
    }
    std::string read(u64 sector, u64 count, bool* ok = nullptr) {
        std::string out(count * 512, '\x55');
        const bool result = reader->read(sector, count, reinterpret_cast<u8*>(&out[0]));
        if (ok != nullptr)
            *ok = result;
        return out;
    }
    std::string sectors(u64 first, u64 count) const {
        return memory.bytes().substr(first * 512, count * 512);
    }

    ntfstest::MemoryVolume memory;
    std::unique_ptr<ntfstest::Source> source;
    std::unique_ptr<NTFSDrive> drive;
    std::unique_ptr<RunlistReader> reader;
};

TEST(RunlistReaderTest, PlainAndSparseRunsFillTheDestinationInOrder) {
    Volume v(2, 64);
    ASSERT_TRUE(v.reader->setRunlist({{10, 3, 3}, {0, 2, 0}, {40, 4, 4}}));
    bool ok = false;
    EXPECT_EQ(v.read(3, 12, &ok), v.sectors(23, 3) + std::string(4 * 512, '\0') + v.sectors(80, 5));
    EXPECT_TRUE(ok);
    EXPECT_EQ(v.source->reader->requests().size(), 2u); // the hole cost no read
    EXPECT_EQ(v.reader->getSectorLBA(13), 83u);
    EXPECT_EQ(v.reader->getSectorLBA(7), ~u64{0});
    // Reads go on from the cursor, and one before it starts the walk again.
    for (u64 s : {17u, 1u, 16u})
        EXPECT_EQ(v.read(s, 1), v.sectors(s < 6 ? 20 + s : 80 + s - 10, 1)) << s;
    // Past the last run, and positions that would wrap, are refused.
    testutil::LogCapture log;
    v.read(17, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.has("RunlistReader(60): sectors 17 + 2 of 18\n"));
    v.read(~u64{0}, 2, &ok);
    EXPECT_FALSE(ok);
}

TEST(RunlistReaderTest, ListsNoParserMakesAndRunsOutsideTheVolumeAreNeverRead) {
    Volume v(1, 64);
    const Runlist refused[] = {
        {{10, 3, 4}},              // fewer clusters than stored
        {{10, 0, 2}},              // a chain without its last piece
        {{10, 0, 2}, {20, 3, 3}},  // a chain closed by a plain run
        {{10, 0, 9}, {20, 16, 8}}, // 17 stored clusters for one unit
        {{10, RunlistParser::MAX_CLUSTERS, 0}, {0, ~u64{0} - 5, 0}}, // clusters that wrap
        {{0, u64{1} << 55, 0}},                                      // bytes past 63 bits
    };
    for (const Runlist& runs : refused) {
        EXPECT_FALSE(v.reader->setRunlist(runs));
        EXPECT_EQ(v.reader->getSectorCount(), 0u);
    }
    EXPECT_TRUE(v.reader->setRunlist({{10, 0, 8}, {20, 16, 8}}));
    ASSERT_TRUE(v.reader->setRunlist({{62, 4, 4}}));
    bool ok = true;
    v.read(0, 1, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(v.source->reader->requests().empty());
}

// What lies from the initialized size on was never written: zeros, not the
// disk's old bytes, and not read at all.
TEST(RunlistReaderTest, BytesPastTheInitializedSizeReadAsZeros) {
    Volume v(1, 64);
    ASSERT_TRUE(v.reader->setRunlist({{10, 8, 8}}, 2 * 512 + 100));
    EXPECT_EQ(v.read(1, 6), v.sectors(11, 1) + v.sectors(12, 1).substr(0, 100) +
                                std::string(412 + 4 * 512, '\0'));
    ASSERT_EQ(v.source->reader->requests().size(), 1u);
    EXPECT_EQ(v.source->reader->requests()[0].size, 2 * 512);
    EXPECT_EQ(v.read(4, 4), std::string(4 * 512, '\0'));
    EXPECT_EQ(v.source->reader->requests().size(), 1u);
}

// One compressed unit stored from cluster 40 of `content` (at most 16 clusters).
u64 storeUnit(Volume& v, const std::string& content) {
    const std::vector<u8> packed =
        lznt1test::compress(reinterpret_cast<const u8*>(content.data()), content.size());
    const u64 cluster = v.memory.clusterBytes();
    std::string clusters((packed.size() + cluster - 1) / cluster * cluster, '\0');
    std::copy(packed.begin(), packed.end(), clusters.begin());
    v.memory.putClusters(40, clusters);
    v.open();
    return clusters.size() / cluster;
}

TEST(RunlistReaderTest, ACompressedUnitIsDecompressedOnceAndServedFromTheCache) {
    Volume v(1, 256);
    const std::string content = ntfstest::textContent(16 * 512, 3);
    const u64 stored = storeUnit(v, content);
    ASSERT_LT(stored, 16u);
    // The unit split over two pieces on disk, then a plain run.
    ASSERT_TRUE(v.reader->setRunlist({{40, 0, 1}, {41, 16, stored - 1}, {100, 2, 2}}));
    EXPECT_EQ(v.read(5, 1), content.substr(5 * 512, 512));
    EXPECT_EQ(v.source->reader->requests().size(), 2u); // one per stored piece
    EXPECT_EQ(v.read(3, 1), content.substr(3 * 512, 512));
    EXPECT_EQ(v.read(14, 4), content.substr(14 * 512) + v.sectors(100, 2));
    EXPECT_EQ(v.source->reader->requests().size(), 3u);
    // A unit that decompresses short serves what it has, zero-padded to its
    // sector, and no more.
    const std::string shortContent = ntfstest::randomContent(1000, 5);
    const u64 shortStored = storeUnit(v, shortContent);
    ASSERT_TRUE(v.reader->setRunlist({{40, 16, shortStored}}));
    EXPECT_EQ(v.read(0, 2), shortContent + std::string(24, '\0'));
    testutil::LogCapture log;
    bool ok = true;
    v.read(1, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.has("RunlistReader(200)"));
}

TEST(RunlistReaderTest, HostileListsNeverReadOutsideTheVolume) {
    Volume v(2, 128);
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
        if (!v.reader->setRunlist(parser.getRunlist(),
                                  random() % 3 == 0 ? random() % 20000 : ~u64{0}))
            continue;
        for (int k = 0; k < 4; ++k) {
            const u64 total = v.reader->getSectorCount();
            v.reader->read(total == 0 ? random() : random() % total, 1 + random() % 64,
                           buffer.data());
        }
    }
    for (const auto& r : v.source->reader->requests())
        EXPECT_LE(static_cast<u64>(r.offset + r.size), 256u * 512);
}

} // namespace
