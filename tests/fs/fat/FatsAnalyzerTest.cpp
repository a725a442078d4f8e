#include "fs/fat/FatsAnalyzer.h"

#include "core/Array.h"
#include "fs/FatLayout.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatVolumes.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

using testutil::RecordingProgress;
using testutil::SyntheticVolume;

namespace {

using Sectors = std::vector<u64>;

// The analysis of a volume through a reader that sees every read.
struct Analysis {
    Analysis(const SyntheticVolume& v, std::vector<u64> bad = {}, u64 trackSectors = 63)
        : params(v.params()), marks(params.sectorsPerFAT), driver(v.driver(bad, &failing)) {
        driver->getProperties().setUInt64(PROP_SECTORS, trackSectors);
    }
    Sectors run(InterfaceCallback* progress = nullptr) {
        analyzeFats(marks, driver.get(), params, progress);
        Sectors set;
        for (u64 s = 0; s < marks.size(); ++s) {
            if (marks.test(s))
                set.push_back(s);
        }
        return set;
    }
    // The sizes of the reads so far, in sectors.
    Sectors readSizes() const {
        Sectors sizes;
        for (const auto& r : failing->requests())
            sizes.push_back(static_cast<u64>(r.size) / 512);
        return sizes;
    }
    FAT_FS_PARAMS params;
    Bitmap marks;
    testutil::FailingReader* failing = nullptr;
    SharedPtr<Driver> driver;
};

// Writes a FAT entry into the mirror only.
void setInMirror(SyntheticVolume& v, u32 cluster, u32 value) {
    const std::string first = v.bytes().substr(512, v.params().sectorsPerFAT * 512);
    v.setEntry(cluster, value);
    v.bytes().replace(512, first.size(), first);
}

TEST(FatsAnalyzerTest, IdenticalCopiesMarkNothingAndEntriesZeroAndOneAreNotJudged) {
    SyntheticVolume v(FAT16, 4085);
    v.setChain({2, 3, 4});
    RecordingProgress progress;
    EXPECT_EQ(Analysis(v).run(&progress), Sectors{});
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "0 sectors differ in FAT and FAT Mirror");
    // The mirror's entries 0 and 1 hold 1, which would count as invalid.
    setInMirror(v, 0, 1);
    setInMirror(v, 1, 1);
    setInMirror(v, 4, 5);
    setInMirror(v, 5, 0xFFFF);
    EXPECT_EQ(Analysis(v).run(&progress), Sectors{0});
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "1 sectors differ in FAT and FAT Mirror");
}

TEST(FatsAnalyzerTest, FewerInvalidEntriesWinThenMoreLinksToTheNextThenMoreInUse) {
    SyntheticVolume v(FAT16, 4085);
    // Sector 1: three bad marks in the FAT, one in the mirror.
    for (u32 c = 256; c < 259; ++c)
        v.setEntry(c, 0xFFF7, false);
    setInMirror(v, 256, 0xFFF7);
    // Sector 2: 10 links to the next cluster in the FAT, 12 in the mirror.
    for (u32 c = 512; c < 524; ++c)
        c < 522 ? v.setEntry(c, c + 1) : setInMirror(v, c, c + 1);
    // Sector 3: 12 and 12, laid out differently: a tie, the FAT keeps it.
    for (u32 c = 768; c < 780; ++c) {
        v.setEntry(c, c + 1, false);
        setInMirror(v, c + 32, c + 33);
    }
    // Sector 4: only end marks in the mirror, the FAT emptied; sector 5: a link
    // to cluster 2, the first data cluster; sector 6 the other way round.
    setInMirror(v, 1030, 0xFFFF);
    setInMirror(v, 1300, 2);
    v.setEntry(1600, 0xFFFF, false);
    EXPECT_EQ(Analysis(v).run(), (Sectors{1, 2, 4, 5}));
}

// A FAT12 volume filled to its last cluster, the 4,083rd: its last file runs
// through the clusters numbered 0xFF0 to 0xFF4, which the mirror lost. Those
// are links like any other, and the FAT holds their sector better.
TEST(FatsAnalyzerTest, LinksToTheLastClustersOfAFullVolumeCount) {
    const testutil::Sector boot = testutil::fatBootSector(1, 12, 224, 39 + 4083, 1);
    FAT_FS_PARAMS p;
    ASSERT_TRUE(fatFsParamsFromBootSector(0, boot.data(), p, 39 + 4083));
    ASSERT_EQ(p.get_cluster_count(), 4083u);
    std::string bytes(u64{p.totalSectors} * 512, '\0');
    const Array fat(reinterpret_cast<u8*>(&bytes[u64{p.fatLBA} * 512]), p.sectorsPerFAT * 512);
    for (u32 c = 4070; c < 4084; ++c)
        setFatEntry(FAT12, c, fat, c + 1, 0);
    setFatEntry(FAT12, 4084, fat, FAT12_END, 0);
    SharedPtr<Driver> driver(
        new Driver(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes)), 512));
    Bitmap marks(p.sectorsPerFAT);
    analyzeFats(marks, driver.get(), p, nullptr);
    for (u64 s = 0; s < marks.size(); ++s)
        EXPECT_FALSE(marks.test(s)) << s;
}

TEST(FatsAnalyzerTest, Fat12SectorsOwnTheEntriesThatStartInThem) {
    // Entry 681 (bytes 1021-1022) belongs to sector 1, entry 682 (bytes
    // 1023-1024, starting in sector 1) to sector 2.
    SyntheticVolume v(FAT12, 1300);
    setInMirror(v, 681, 682);
    setInMirror(v, 682, 0xFF0);
    EXPECT_EQ(Analysis(v).run(), Sectors{1});
}

TEST(FatsAnalyzerTest, TheFatIsReadInTrackSizedPiecesOfChunks) {
    SyntheticVolume v(FAT32, 100); // 512 FAT sectors: chunks of 256
    Analysis a(v, {}, 100);
    a.run();
    EXPECT_EQ(a.readSizes(), (Sectors{100, 100, 56, 100, 100, 56, 100, 100, 56, 100, 100, 56}));
    // A track size of 0 would never advance: the default piece is read.
    SyntheticVolume v16(FAT16, 4085);
    Analysis zero(v16, {}, 0);
    zero.run();
    EXPECT_EQ(zero.readSizes(), (Sectors{16, 16}));
}

TEST(FatsAnalyzerTest, AnUnreadablePieceCountsAsZerosAndACancelEnds) {
    SyntheticVolume v(FAT16, 4085);
    v.setChain({2, 3, 4, 5});
    testutil::LogCapture log;
    EXPECT_EQ(Analysis(v, {3}).run(), Sectors{0});
    EXPECT_TRUE(log.has("FatsAnalyzer(61): 1 16\n")) << log.text();

    Analysis a(v, {}, 1);
    RecordingProgress progress;
    progress.cancelAtPoll(3);
    EXPECT_THROW(a.run(&progress), InterruptedException);
    EXPECT_EQ(a.failing->requests().size(), 3u);
}

} // namespace
