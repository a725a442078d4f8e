#include "fs/ntfs/MftRunlist.h"

#include "core/Log.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tests/fs/ntfs/NtfsTreeFixture.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using ntfstest::RecordBuilder;
using ntfstree::indexEntry;
using ntfstree::indexRoot;
using ntfstree::lastEntry;
using ntfstree::logSince;
using ntfstree::mappingPairs;
using ntfstree::MemoryMft;

Runlist uncovered(const NtfsRun& r, const Runlist& known) {
    Runlist out;
    addUncoveredRunParts(out, r, known.begin(), known.end());
    return out;
}

TEST(MftRunlistTest, UncoveredPartsAreWhatNoRunStores) {
    const NtfsRun r{10, 20, 20};
    EXPECT_EQ(uncovered(r, {}), (Runlist{{10, 20, 20}}));
    EXPECT_EQ(uncovered(r, {{0, 100, 100}}), Runlist{});
    EXPECT_EQ(uncovered(r, {{10, 20, 20}}), Runlist{});
    // Cut at the front, at the back, and split around a run in the middle.
    EXPECT_EQ(uncovered(r, {{5, 10, 10}}), (Runlist{{15, 15, 15}}));
    EXPECT_EQ(uncovered(r, {{25, 10, 10}}), (Runlist{{10, 15, 15}}));
    EXPECT_EQ(uncovered(r, {{15, 5, 5}}), (Runlist{{10, 5, 5}, {20, 10, 10}}));
    EXPECT_EQ(uncovered(r, {{12, 2, 2}, {16, 2, 2}, {40, 1, 1}}),
              (Runlist{{10, 2, 2}, {14, 2, 2}, {18, 12, 12}}));
    // Runs that touch without overlapping leave it whole.
    EXPECT_EQ(uncovered(r, {{0, 10, 10}, {30, 5, 5}}), (Runlist{{10, 20, 20}}));
    // A sparse run stores nothing, whatever its LCN says.
    EXPECT_EQ(uncovered(r, {{10, 20, 0}}), (Runlist{{10, 20, 20}}));
}

TEST(MftRunlistTest, ManySplitsStayCheap) {
    Runlist known;
    for (u64 i = 0; i < 100000; ++i)
        known.push_back(NtfsRun{2 * i + 1, 1, 1});
    const Runlist parts = uncovered(NtfsRun{0, 200000, 200000}, known);
    ASSERT_EQ(parts.size(), 100000u);
    EXPECT_EQ(parts.front(), (NtfsRun{0, 1, 1}));
    EXPECT_EQ(parts.back(), (NtfsRun{199998, 1, 1}));
}

// A volume of `clusters` clusters whose MFT lies at cluster 1 (and its mirror's
// record 0 where asked), with the drive and the found runs to rebuild from.
struct Fixture {
    Fixture(u64 sectorsPerCluster, u64 clusters) : image(sectorsPerCluster, clusters, 64) {}

    Runlist rebuild(u64 mirrorLcn = 0, testutil::RecordingProgress* progress = nullptr) {
        source = image.source();
        source->params.mftMirrLCN = mirrorLcn;
        NTFSDrive drive(source->driver, source->params, &source->unreadable);
        drive.setInterfaceCallback(progress);
        Runlist out{{9, 9, 9}};
        recreateMftRunlist(out, drive, found);
        return out;
    }

    void find(u32 lba, u32 records) { found.insert(FoundRecordRun{lba, 2, records}); }

    MemoryMft image;
    std::unique_ptr<ntfstree::Source> source;
    FoundList<FoundRecordRun> found;
};

std::vector<u8> mftRecord(u64 clusters) {
    return RecordBuilder()
        .resident(0x30, RecordBuilder::fileName(5, u"$MFT", 1, 6))
        .nonResident(0x80, mappingPairs({{1, clusters}}), clusters * 512)
        .raw();
}

TEST(MftRunlistTest, NothingToGoOnGivesNoList) {
    Fixture f(1, 1024);
    const std::size_t mark = logMemoryText().size();
    EXPECT_TRUE(f.rebuild().empty());
    // Record 0 was looked for and not found: its cluster does not count.
    EXPECT_NE(logSince(mark).find("MftRunlist(142): {1, 2} 2 clusters\n"), std::string::npos);
    EXPECT_NE(logSince(mark).find("is no FILE record"), std::string::npos);
}

TEST(MftRunlistTest, RecordsOfASizeNoFileRecordHasGiveNoList) {
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord(64));
    for (u64 spr : {3u, 16u, 255u}) {
        auto source = f.image.source();
        source->params.sectorsPerFileRecord = spr;
        NTFSDrive drive(source->driver, source->params, &source->unreadable);
        Runlist out;
        recreateMftRunlist(out, drive, f.found);
        EXPECT_TRUE(out.empty()) << spr;
        EXPECT_THROW(NtfsFileParser parser(drive), std::runtime_error);
    }
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 64, 64}}));
}

TEST(MftRunlistTest, TheLongerListOfMftAndMirrorWins) {
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord(100));
    // The mirror at cluster 600 holds a copy of record 0 that lists 120 clusters.
    const std::vector<u8> copy = mftRecord(120);
    f.image.putClusters(600, std::string(copy.begin(), copy.end()));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 120, 120}}));
    // A shorter mirror does not replace the MFT's list.
    const std::vector<u8> shorter = mftRecord(50);
    f.image.putClusters(600, std::string(shorter.begin(), shorter.end()));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 100, 100}}));
    // Without record 0 at the MFT, the mirror's list is taken whatever its length.
    f.image.putRecord(0, std::vector<u8>(1024, 0));
    EXPECT_EQ(f.rebuild(600), (Runlist{{1, 50, 50}}));
}

TEST(MftRunlistTest, FoundRunsBecomeClustersAtRecordBoundaries) {
    // 8 sectors a cluster, 2 a record; no record 0 anywhere.
    Fixture f(8, 256);
    f.find(4, 16);  // 16 records from relative sector 4: cluster 0, 5 clusters
    f.find(203, 4); // sector 203 is no record boundary inside its cluster
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(f.rebuild(), (Runlist{{0, 5, 5}}));
    EXPECT_NE(logSince(mark).find("MftRunlist(218): FoundRl: {0, 5} 5 clusters\n"),
              std::string::npos);
}

TEST(MftRunlistTest, FoundRunsAddOnlyWhatTheMftsListLacks) {
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord(128));
    // Inside the MFT's list: nothing new. Across its end and start: the parts
    // outside it, once even when two found runs share clusters.
    f.find(10, 20);
    f.find(0, 1);
    f.find(120, 10);
    f.find(129, 10);
    const std::size_t mark = logMemoryText().size();
    f.rebuild();
    EXPECT_NE(logSince(mark).find("FoundRl: {0, 1} {129, 11} {140, 9} 21 clusters\n"),
              std::string::npos)
        << logSince(mark);
}

TEST(MftRunlistTest, AFoundRunGoesWhereItsRecordNumbersSay) {
    // 512-byte clusters: the MFT's list covers 48 records (96 clusters); the
    // records found at cluster 700 carry the numbers 64 to 67.
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord(96));
    for (u32 i = 0; i < 4; ++i) {
        std::vector<u8> r = RecordBuilder()
                                .resident(0x30, RecordBuilder::fileName(5, u"found", 1))
                                .resident(0x80, "x")
                                .raw();
        ntfstree::setRecordNumber(r, 64 + i);
        f.image.putClusters(700 + 2 * i, std::string(r.begin(), r.end()));
    }
    f.find(700, 4);
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 96, 96}, {0, 32, 0}, {700, 8, 8}}));

    // A number that no record of this volume can have: straight after the list.
    for (u32 i = 0; i < 4; ++i) {
        std::vector<u8> r =
            RecordBuilder().resident(0x30, RecordBuilder::fileName(5, u"found", 1)).raw();
        ntfstree::setRecordNumber(r, 0x7FFFFFF0 + i);
        f.image.putClusters(700 + 2 * i, std::string(r.begin(), r.end()));
    }
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 96, 96}, {700, 8, 8}}));
}

TEST(MftRunlistTest, RecordsWithoutNumbersArePlacedByTheirFolderListing) {
    // Records of the old layout carry no number: the folder record found first
    // lists "child" as record 70, and the record after it is "child".
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord(96));
    const std::vector<u8> folder =
        RecordBuilder(2, 0x2A)
            .resident(0x30, RecordBuilder::fileName(5, u"dir", 1, 0x10000000))
            .resident(0x90,
                      indexRoot(4096, {indexEntry(70, RecordBuilder::fileName(69, u"child", 1)),
                                       lastEntry()}),
                      u"$I30")
            .raw();
    const std::vector<u8> child = RecordBuilder(2, 0x2A)
                                      .resident(0x30, RecordBuilder::fileName(69, u"child", 1))
                                      .resident(0x80, "x")
                                      .raw();
    f.image.putClusters(700, std::string(folder.begin(), folder.end()));
    f.image.putClusters(702, std::string(child.begin(), child.end()));
    f.find(700, 2);
    // Record 69 is the folder, 70 the child: 69 * 2 = 138 sectors, 42 after the list.
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 96, 96}, {0, 42, 0}, {700, 4, 4}}));
}

TEST(MftRunlistTest, TheRebuildPollsOncePerFoundRunAndCanBeCancelled) {
    Fixture f(1, 1024);
    f.find(700, 1);
    f.find(800, 1);
    testutil::RecordingProgress progress;
    progress.cancelAtPoll(1000000);
    f.rebuild(0, &progress);
    const u64 polls = progress.record()->polls;
    EXPECT_GE(polls, 4u);
    testutil::RecordingProgress cancelling;
    cancelling.cancelAtPoll(2);
    EXPECT_THROW(f.rebuild(0, &cancelling), InterruptedException);
}

} // namespace
