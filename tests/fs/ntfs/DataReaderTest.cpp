#include "fs/ntfs/DataReader.h"

#include "devices/UnreadableSectors.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

// Collects the pieces a reader streams.
class Collector : public ntfs::BaseDataReader {
public:
    explicit Collector(NTFSDrive& drive) : BaseDataReader(drive, nullptr) {}
    void write(const u8* data, u32 length) override {
        pieces.push_back(length);
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::vector<u32> pieces;
    std::string bytes;
};

NtfsAttributeData nonResident(u64 size, Runlist runs) {
    NtfsAttributeData data;
    data.size = size;
    data.runs = std::move(runs);
    return data;
}

// Equal bytes; otherwise where they part, as hex.
::testing::AssertionResult sameBytes(const std::string& got, const std::string& want) {
    if (got == want)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    auto around = [&](const std::string& s) {
        return at >= s.size()
                   ? std::string("(ends)\n")
                   : testutil::hexDump(s.data() + at, std::min<std::size_t>(48, s.size() - at));
    };
    return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                         << ", first difference at " << at << "\ngot:\n"
                                         << around(got) << "want:\n"
                                         << around(want);
}

struct Memory {
    explicit Memory(u64 spc, const std::vector<u64>& bad = {}) : volume(spc, 256 / spc) {
        volume.putBytes(0, testutil::numberedSectors(256));
        source = volume.source(bad);
        drive = source->drive();
    }
    std::string sectors(u64 first, u64 count) const {
        return volume.bytes().substr(first * 512, count * 512);
    }
    ntfstest::MemoryVolume volume;
    std::unique_ptr<ntfstest::Source> source;
    std::unique_ptr<NTFSDrive> drive;
};

TEST(DataReaderTest, StreamsInPiecesOfSixteenClustersAndOnlyUnreadableSectorsAreThePattern) {
    Memory m(2, {33, 80});
    Collector reader(*m.drive);
    // 40 clusters from sector 20: two whole pieces of 32 sectors, then 14 and a bit.
    const u64 size = 77 * 512 + 100;
    EXPECT_FALSE(reader.read(nonResident(size, {{10, 40, 40}})));
    EXPECT_EQ(reader.pieces, (std::vector<u32>{16384, 16384, 6756}));
    for (u64 s = 0; s < 78; ++s) {
        const std::string got = reader.bytes.substr(s * 512, 512);
        if (s == 13 || s == 60)
            EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()), 512)) << s;
        else
            EXPECT_TRUE(sameBytes(got, m.sectors(20 + s, 1).substr(0, got.size()))) << s;
    }
}

TEST(DataReaderTest, ASizeItsRunsDoNotCoverIsRefusedBeforeWriting) {
    Memory m(1);
    Collector reader(*m.drive);
    testutil::LogCapture log;
    // A damaged size of 2^62 bytes over one cluster must not stream for ever.
    EXPECT_FALSE(reader.read(nonResident(u64{1} << 62, {{5, 1, 1}})));
    EXPECT_FALSE(reader.read(nonResident(512, {{5, 3, 4}})));
    EXPECT_TRUE(reader.pieces.empty());
    EXPECT_TRUE(log.has("BaseDataReader(42)"));
}

TEST(DataReaderTest, ALongSparseStreamCanBeCancelled) {
    Memory m(8);
    testutil::RecordingProgress box;
    box.cancelAtPoll(3);
    m.drive->setInterfaceCallback(&box);
    Collector reader(*m.drive);
    // 2^40 clusters of zeros: the drive is never read, yet the user can stop it.
    EXPECT_THROW(reader.read(nonResident(u64{1} << 40, {{0, u64{1} << 40, 0}})),
                 InterruptedException);
    EXPECT_EQ(reader.pieces.size(), 2u);
}

TEST(DataReaderTest, UnreadableDataIsFoundWhereTheDataLies) {
    Memory m(4);
    m.source->unreadable.runs() = {{41, 1}};
    const NTFSDrive& drive = *m.drive;
    auto unreadable = [&](const NtfsAttributeData& data, u64 recordLba = 0) {
        return ntfs::BaseDataReader::hasUnreadableData(drive, data, recordLba);
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

// Every file of every corpus volume streamed as the file parser prepares it:
// what was put in, and what ntfscat reads back.
class DataReaderCorpusTest : public ::testing::TestWithParam<u32> {};

TEST_P(DataReaderCorpusTest, EveryFileStreamsAsNtfscatReadsIt) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(GetParam());
    ntfstest::CorpusTree tree(corpus.image);
    for (const ntfstest::CorpusFile& f : corpus.files) {
        if (f.deleted)
            continue;
        const NtfsAttributeData data = tree.data(f.path);
        std::string got(static_cast<std::size_t>(data.size), '\0');
        ntfs::BufferDataReader reader(tree.map->getNtfsDrive(),
                                      &tree.map->getParser().getRecordsCache(),
                                      reinterpret_cast<u8*>(&got[0]), data.size);
        EXPECT_TRUE(reader.read(data)) << f.path;
        EXPECT_TRUE(sameBytes(got, f.data)) << f.path;
        EXPECT_TRUE(sameBytes(got, ntfstest::ntfscat(corpus.image, f.path))) << f.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Clusters, DataReaderCorpusTest, ::testing::Values(512u, 4096u, 65536u));

} // namespace
