// Reading an attribute's data through its run list, on memory volumes.

#include "fs/ntfs/RunlistReader.h"

#include "devices/UnreadableSectors.h"
#include "fs/ntfs/DataReader.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/Lznt1Compressor.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/RecoveredFiles.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

// A memory volume of 256 numbered sectors (each holds its LBA) and a reader.
struct Volume {
    explicit Volume(u64 spc = 1) : memory(spc, 256 / spc) {
        memory.putBytes(0, testutil::numberedSectors(256));
        open();
    }
    void open() {
        reader.reset();
        source = memory.source();
        reader = std::make_unique<RunlistReader>(source->drive());
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
    u64 requests() const { return source->reader->requests().size(); }

    ntfstest::MemoryVolume memory;
    std::unique_ptr<ntfstest::Source> source;
    std::unique_ptr<RunlistReader> reader;
};

TEST(RunlistReaderTest, ListsNoParserMakesAndRunsOutsideTheVolumeAreNeverRead) {
    Volume v;
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
    // Runs past the volume's end; sectors past the list, or that would wrap.
    ASSERT_TRUE(v.reader->setRunlist({{254, 4, 4}}));
    for (u64 s : {0ull, 4ull, ~0ull}) {
        bool ok = true;
        v.read(s, 1, &ok);
        EXPECT_FALSE(ok) << s;
    }
    EXPECT_EQ(v.requests(), 0u);
}

// Reads go on from the cursor; one before it walks the list again.
TEST(RunlistReaderTest, AReadBeforeTheCursorFindsItsRun) {
    Volume v;
    ASSERT_TRUE(v.reader->setRunlist({{10, 3, 3}, {0, 2, 0}, {40, 4, 4}}));
    const std::pair<u64, u64> reads[] = {{6, 41}, {1, 11}, {5, 40}}; // sector, LBA
    for (const auto& r : reads)
        EXPECT_EQ(v.read(r.first, 1), v.sectors(r.second, 1)) << r.first;
}

// What lies from the initialized size on was never written: zeros, not the
// disk's old bytes, and not read at all.
TEST(RunlistReaderTest, BytesPastTheInitializedSizeReadAsZeros) {
    Volume v;
    ASSERT_TRUE(v.reader->setRunlist({{10, 8, 8}}, 2 * 512 + 100));
    EXPECT_EQ(v.read(1, 6), v.sectors(11, 1) + v.sectors(12, 1).substr(0, 100) +
                                std::string(412 + 4 * 512, '\0'));
    EXPECT_EQ(v.read(4, 4), std::string(4 * 512, '\0'));
    ASSERT_EQ(v.requests(), 1u);
    EXPECT_EQ(v.source->reader->requests()[0].size, 2 * 512);
}

// A compression unit of `content` stored from `cluster`; its stored clusters.
u64 storeUnit(Volume& v, const std::string& content, u64 cluster) {
    const std::vector<u8> packed =
        lznt1test::compress(reinterpret_cast<const u8*>(content.data()), content.size());
    v.memory.putClusters(cluster, std::string(packed.begin(), packed.end()) +
                                      std::string(511 - (packed.size() + 511) % 512, '\0'));
    return (packed.size() + 511) / 512;
}

TEST(RunlistReaderTest, ACompressedUnitIsReadWholeAndAShortOneNoFurther) {
    Volume v;
    const std::string content = ntfstest::textContent(16 * 512, 3);
    const u64 stored = storeUnit(v, content, 40);
    ASSERT_LT(stored, 16u);
    const std::string shortContent = ntfstest::randomContent(1000, 5);
    const u64 shortStored = storeUnit(v, shortContent, 60);
    v.open();
    // The unit split over two pieces on disk, then a plain run.
    ASSERT_TRUE(v.reader->setRunlist({{40, 0, 1}, {41, 16, stored - 1}, {100, 2, 2}}));
    EXPECT_EQ(v.read(5, 1), content.substr(5 * 512, 512));
    EXPECT_EQ(v.read(14, 4), content.substr(14 * 512) + v.sectors(100, 2));
    // A unit that decompresses short serves what it has, zero-padded to its
    // sector (not the bytes of the unit read before it), and no more.
    ASSERT_TRUE(v.reader->setRunlist({{40, 16, stored}, {60, 16, shortStored}}));
    EXPECT_EQ(v.read(15, 1), content.substr(15 * 512));
    EXPECT_EQ(v.read(16, 2), shortContent + std::string(24, '\0'));
    testutil::LogCapture log;
    bool ok = true;
    v.read(17, 2, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.has("RunlistReader(200)"));
}

// Counts the pieces a reader streams.
class Collector : public ntfs::BaseDataReader {
public:
    explicit Collector(NTFSDrive& drive) : BaseDataReader(drive, nullptr) {}
    void write(const u8*, u32) override { ++pieces; }
    u64 pieces = 0;
};

NtfsAttributeData nonResident(u64 size, Runlist runs) {
    NtfsAttributeData data;
    data.size = size;
    data.runs = std::move(runs);
    return data;
}

TEST(DataReaderTest, ASizeItsRunsDoNotCoverIsRefusedBeforeWriting) {
    Volume v;
    Collector reader(v.source->drive());
    testutil::LogCapture log;
    // A damaged size of 2^62 bytes over one cluster must not stream for ever.
    EXPECT_FALSE(reader.read(nonResident(u64{1} << 62, {{5, 1, 1}})));
    EXPECT_FALSE(reader.read(nonResident(512, {{5, 3, 4}})));
    EXPECT_EQ(reader.pieces, 0u);
    EXPECT_TRUE(log.has("BaseDataReader(42)"));
}

TEST(DataReaderTest, ALongSparseStreamCanBeCancelled) {
    Volume v(8);
    testutil::RecordingProgress box;
    box.cancelAtPoll(3);
    v.source->drive().setInterfaceCallback(&box);
    Collector reader(v.source->drive());
    // 2^40 clusters of zeros: the drive is never read, yet the user can stop it.
    EXPECT_THROW(reader.read(nonResident(u64{1} << 40, {{0, u64{1} << 40, 0}})),
                 InterruptedException);
    EXPECT_EQ(reader.pieces, 2u);
}

// A record may claim a sparse file of terabytes on a volume of 128 KiB: the
// zeros no cluster holds reach the recoverer as holes, and only the data is
// written.
TEST(DataReaderTest, ZerosNoClusterHoldsReachTheRecovererAsHoles) {
    Volume v(8);
    testutil::RecordingRecoverer sink;
    ntfs::RecovererDataReader reader(v.source->drive(), nullptr);
    reader.setRecoverer(&sink);
    const u64 clusters = u64{1} << 18;
    NtfsAttributeData data =
        nonResident(clusters * 4096 - 100, {{1, 1, 1}, {0, clusters - 3, 0}, {2, 1, 1}, {3, 1, 1}});
    data.initializedSize = (clusters - 1) * 4096 + 10;
    sink.beginFile(tree::FileEntry("huge", data.size, 0), {});
    ASSERT_TRUE(reader.read(data));
    const testutil::RecordingRecoverer::File& f = sink.files.back();
    EXPECT_EQ(f.size, data.size);
    EXPECT_EQ(f.holes, data.size - 2 * 4096 - 512);
    EXPECT_EQ(f.bytes.substr(0, 4096), v.sectors(8, 8));
    // Without a hole to make, the zeros are written.
    struct WritesZeros : testutil::RecordingRecoverer {
        void writeZeros(u64 size) override { tree::Recoverer::writeZeros(size); }
    } plain;
    plain.beginFile(tree::FileEntry("small", 3 * 4096, 0), {});
    reader.setRecoverer(&plain);
    ASSERT_TRUE(reader.read(nonResident(3 * 4096, {{1, 1, 1}, {0, 2, 0}})));
    EXPECT_EQ(plain.files.back().bytes, v.sectors(8, 8) + std::string(8192, '\0'));
    EXPECT_EQ(plain.files.back().holes, 0u);
}

TEST(DataReaderTest, UnreadableDataIsFoundWhereTheDataLies) {
    Volume v(4);
    v.source->unreadable.runs() = {{41, 1}};
    auto unreadable = [&](const NtfsAttributeData& data, u64 recordLba = 0) {
        return ntfs::BaseDataReader::hasUnreadableData(v.source->drive(), data, recordLba);
    };
    // Cluster 10 holds sectors 40..43; only the sectors the size reaches count.
    EXPECT_TRUE(unreadable(nonResident(4096, {{10, 1, 1}})));
    EXPECT_FALSE(unreadable(nonResident(512, {{10, 2, 2}})));
    // A compression unit needs all its stored clusters, a hole none.
    EXPECT_TRUE(unreadable(nonResident(512, {{9, 0, 1}, {10, 16, 1}})));
    EXPECT_FALSE(unreadable(nonResident(8192, {{10, 2, 0}, {20, 2, 2}})));
    EXPECT_FALSE(unreadable(nonResident(512, {{1u << 20, 1, 1}})));
    NtfsAttributeData resident;
    resident.resident = true;
    resident.valueOffset = 500;
    resident.size = 20;
    EXPECT_TRUE(unreadable(resident, 40));
    resident.size = 12;
    EXPECT_FALSE(unreadable(resident, 40));
}

} // namespace
