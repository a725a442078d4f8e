#include "fs/ntfs/MftRunlist.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using ntfstest::RecordBuilder;

// A memory volume whose MFT lies at cluster 1, its mirror where asked, and the
// record runs a scan found.
struct Fixture {
    Runlist rebuild(u64 mirrorLcn = 0, testutil::RecordingProgress* progress = nullptr) {
        auto source = image.source();
        source->params.mftMirrLCN = mirrorLcn;
        auto drive = source->drive();
        drive->setInterfaceCallback(progress);
        Runlist out{{9, 9, 9}};
        recreateMftRunlist(out, *drive, found);
        return out;
    }
    void find(u32 lba, u32 records) { found.insert(FoundRecordRun{lba, 2, records}); }

    ntfstest::MemoryVolume image{1, 1024};
    FoundList<FoundRecordRun> found;
};

std::vector<u8> mftRecord(u64 clusters) {
    return RecordBuilder()
        .resident(0x30, RecordBuilder::fileName(5, u"$MFT", 1, 6))
        .nonResident(0x80, ntfstest::mappingPairs({{1, clusters}}), clusters * 512)
        .raw();
}

std::string bytes(const std::vector<u8>& b) {
    return std::string(b.begin(), b.end());
}

// The cluster looked at counts only when record 0 is a FILE record there:
// otherwise it would pass for an MFT of one record.
TEST(MftRunlistTest, WithoutRecordZeroNothingIsKnown) {
    Fixture f;
    testutil::LogCapture log;
    EXPECT_TRUE(f.rebuild().empty());
    EXPECT_TRUE(log.has("MftRunlist(142): {1, 2} 2 clusters\n"));
    EXPECT_TRUE(log.has("MftRunlist(30): record 0 at cluster 1 is no FILE record\n"));
}

TEST(MftRunlistTest, TheLongerListOfMftAndMirrorWins) {
    Fixture f;
    f.image.putRecord(0, mftRecord(100));
    f.image.putClusters(600, bytes(mftRecord(120)));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 120, 120}}));
    f.image.putClusters(600, bytes(mftRecord(50)));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 100, 100}}));
    f.image.putRecord(0, std::vector<u8>(1024, 0));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 50, 50}}));
}

TEST(MftRunlistTest, FoundRunsAddWhatTheListLacksWhereTheirNumbersSay) {
    Fixture f;
    f.image.putRecord(0, mftRecord(96));
    // Records 64 to 67 found at cluster 700; a run inside the list adds nothing.
    for (u32 i = 0; i < 4; ++i)
        f.image.putClusters(700 + 2 * i, bytes(RecordBuilder()
                                                   .resident(0x30, RecordBuilder::fileName(5, u"x"))
                                                   .resident(0x80, "x")
                                                   .recordNumber(64 + i)
                                                   .raw()));
    f.find(10, 20);
    f.find(700, 4);
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 96, 96}, {0, 32, 0}, {700, 8, 8}}));
    // Records of the old layout carry no number: the folder found first lists
    // "child" as record 70, and the record after it is "child".
    Fixture g;
    g.image.putRecord(0, mftRecord(96));
    const std::string child = RecordBuilder::fileName(69, u"child");
    const std::string root =
        ntfstest::indexRoot(4096, {ntfstest::indexEntry(70, child), ntfstest::lastEntry()});
    g.image.putClusters(
        700, bytes(RecordBuilder(2, 0x2A)
                       .resident(0x30, RecordBuilder::fileName(5, u"dir", 1, NTFS_FILE_DIRECTORY))
                       .resident(0x90, root, u"$I30")
                       .raw()));
    g.image.putClusters(
        702, bytes(RecordBuilder(2, 0x2A).resident(0x30, child).resident(0x80, "x").raw()));
    g.find(700, 2);
    EXPECT_EQ(g.rebuild(), (Runlist{{1, 96, 96}, {0, 42, 0}, {700, 4, 4}}));
}

// The walk over a found run's records polls for each one.
TEST(MftRunlistTest, TheRebuildCanBeCancelledInsideAFoundRun) {
    Fixture f;
    f.find(600, 200);
    testutil::RecordingProgress counting;
    counting.cancelAtPoll(1000000);
    f.rebuild(0, &counting);
    EXPECT_GE(counting.record()->polls, 200u);
    testutil::RecordingProgress cancelling;
    cancelling.cancelAtPoll(150);
    EXPECT_THROW(f.rebuild(0, &cancelling), InterruptedException);
}

} // namespace
