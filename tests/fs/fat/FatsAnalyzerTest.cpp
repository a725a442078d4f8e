#include "fs/fat/FatsAnalyzer.h"

#include "core/Log.h"
#include "tests/fs/fat/FatTestVolume.h"
#include "tests/support/FailingReader.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

using fattest::SyntheticVolume;
using testutil::FailingReader;
using testutil::MemoryReader;
using testutil::RecordingProgress;

namespace {

// The analysis of a volume, through a reader that records every read.
struct Analysis {
    Analysis(const std::string& bytes, const FAT_FS_PARAMS& p, std::vector<u64> bad = {},
             u64 trackSectors = 63)
        : params(p), marks(p.sectorsPerFAT) {
        SharedPtr<dt::Reader> memory(new MemoryReader(bytes));
        failing = new FailingReader(memory, bad);
        driver.reset(new Driver(SharedPtr<dt::Reader>(failing), 512));
        driver->getProperties().setUInt64(PROP_SECTORS, trackSectors);
    }
    std::vector<u64> run(InterfaceCallback* progress = nullptr) {
        analyzeFats(marks, driver.get(), params, progress);
        std::vector<u64> set;
        for (u64 s = 0; s < marks.size(); ++s) {
            if (marks.test(s))
                set.push_back(s);
        }
        return set;
    }
    // The sizes, in sectors, of the reads made so far.
    std::vector<u64> readSizes() const {
        std::vector<u64> sizes;
        for (const auto& r : failing->requests())
            sizes.push_back(static_cast<u64>(r.size) / 512);
        return sizes;
    }
    FAT_FS_PARAMS params;
    Bitmap marks;
    SharedPtr<Driver> driver;
    FailingReader* failing;
};

using Sectors = std::vector<u64>;

// A FAT of `sectors` sectors (its width by that count) in a volume of a few
// clusters: only the FATs are read.
FAT_FS_PARAMS bareParams(u32 sectors) {
    FAT_FS_PARAMS p;
    p.sectorsPerCluster = 1;
    p.fatLBA = 1;
    p.sectorsPerFAT = sectors;
    p.fatMirrLBA = 1 + sectors;
    p.rootCluster = 2;
    p.dataClusterLBA = 1 + 2 * sectors;
    p.totalSectors = p.dataClusterLBA + 1000;
    return p;
}

// Writes a FAT entry into one copy only.
void setIn(SyntheticVolume& v, bool mirror, u32 cluster, u32 value) {
    if (mirror) {
        const std::string saved = v.bytes().substr(512, v.params().sectorsPerFAT * 512);
        v.setEntry(cluster, value);
        v.bytes().replace(512, saved.size(), saved);
    } else {
        v.setEntry(cluster, value, false);
    }
}

TEST(FatsAnalyzerTest, IdenticalCopiesMarkNothing) {
    SyntheticVolume v(FAT16, 1000);
    v.setChain({2, 3, 4});
    Analysis a(v.bytes(), v.params());
    RecordingProgress progress;
    EXPECT_EQ(a.run(&progress), Sectors{});
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "0 sectors differ in FAT and FAT Mirror");
}

TEST(FatsAnalyzerTest, TheFirstTwoEntriesAreNeverJudged) {
    SyntheticVolume v(FAT16, 1000);
    // FAT: one contiguous link. Mirror: two, but entries 0 and 1 hold 1 (which
    // would count as invalid if they were judged).
    setIn(v, false, 2, 3);
    setIn(v, false, 3, 0xFFFF);
    setIn(v, true, 0, 1);
    setIn(v, true, 1, 1);
    setIn(v, true, 2, 3);
    setIn(v, true, 3, 4);
    setIn(v, true, 4, 0xFFFF);
    Analysis a(v.bytes(), v.params());
    RecordingProgress progress;
    EXPECT_EQ(a.run(&progress), Sectors{0});
    EXPECT_EQ(progress.record()->lastText(InterfaceCallback::TEXT_MAIN),
              "1 sectors differ in FAT and FAT Mirror");
}

TEST(FatsAnalyzerTest, FewerInvalidEntriesWinThenMoreContiguousLinks) {
    SyntheticVolume v(FAT16, 4000);
    // Sector 1: three bad marks in the FAT, one in the mirror.
    for (u32 c = 256; c < 259; ++c)
        setIn(v, false, c, 0xFFF7);
    setIn(v, true, 256, 0xFFF7);
    // Sector 2: 10 contiguous links in the FAT, 12 in the mirror.
    for (u32 c = 512; c < 522; ++c)
        setIn(v, false, c, c + 1);
    for (u32 c = 512; c < 524; ++c)
        setIn(v, true, c, c + 1);
    // Sector 3: 12 and 12, laid out differently: the FAT keeps it.
    for (u32 c = 768; c < 780; ++c)
        setIn(v, false, c, c + 1);
    for (u32 c = 800; c < 812; ++c)
        setIn(v, true, c, c + 1);
    Analysis a(v.bytes(), v.params());
    EXPECT_EQ(a.run(), (Sectors{1, 2}));
}

TEST(FatsAnalyzerTest, AnEmptiedCopyLosesToOneThatStillNamesClusters) {
    SyntheticVolume v(FAT16, 4000);
    // Sector 1: only end marks (files of one cluster) in the mirror, the FAT
    // zeroed. Sector 2: a link to cluster 2, the first data cluster.
    setIn(v, true, 300, 0xFFFF);
    setIn(v, true, 301, 0xFFFF);
    setIn(v, true, 600, 2);
    // Sector 3: the other way round.
    setIn(v, false, 800, 0xFFFF);
    Analysis a(v.bytes(), v.params());
    EXPECT_EQ(a.run(), (Sectors{1, 2}));
}

TEST(FatsAnalyzerTest, Fat32ValuesLoseTheirTopBits) {
    SyntheticVolume v(FAT32, 100);
    // FAT: 0x1FFFFFFF at entry 2 (an end mark once its top bits go). Mirror: a
    // bad mark there and a contiguous link: if the FAT's value counted as
    // invalid, the tie would go to the mirror's link.
    v.bytes().replace(512 + 8, 4, std::string("\xFF\xFF\xFF\x1F", 4));
    setIn(v, true, 2, 0x0FFFFFF7);
    setIn(v, true, 3, 4);
    setIn(v, true, 4, 0x0FFFFFFF);
    Analysis a(v.bytes(), v.params());
    EXPECT_EQ(a.run(), Sectors{});
}

TEST(FatsAnalyzerTest, Fat12SectorOneOwnsEntries340To681) {
    SyntheticVolume v(FAT12, 1300);
    // Entry 681 (bytes 1021-1022) links on in the mirror only; entry 682 (bytes
    // 1023-1024, a pair that starts in sector 1 but belongs to sector 2) holds a
    // reserved value in the mirror only.
    setIn(v, true, 681, 682);
    setIn(v, true, 682, 0xFF0);
    Analysis a(v.bytes(), v.params());
    EXPECT_EQ(a.run(), Sectors{1});
}

TEST(FatsAnalyzerTest, TheFatIsReadInChunksOfTrackSizedPieces) {
    {
        const FAT_FS_PARAMS p = bareParams(600); // FAT32 width
        Analysis a(std::string((p.totalSectors) * 512, '\0'), p, {}, 256);
        a.run();
        EXPECT_EQ(a.readSizes(), (Sectors{256, 256, 256, 256, 88, 88}));
    }
    {
        const FAT_FS_PARAMS p = bareParams(256); // FAT16
        Analysis a(std::string((p.totalSectors) * 512, '\0'), p, {}, 16);
        a.run();
        EXPECT_EQ(a.readSizes(), Sectors(32, 16));
    }
    {
        // A track size of 0 would never advance; the default piece is read.
        const FAT_FS_PARAMS p = bareParams(200);
        Analysis a(std::string((p.totalSectors) * 512, '\0'), p, {}, 0);
        a.run();
        EXPECT_EQ(a.readSizes(), (Sectors{63, 63, 63, 11, 63, 63, 63, 11}));
    }
}

TEST(FatsAnalyzerTest, AnUnreadablePieceCountsAsZerosAndIsLogged) {
    SyntheticVolume v(FAT16, 1000);
    v.setChain({2, 3, 4, 5});
    Analysis a(v.bytes(), v.params(), {3});
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(a.run(), Sectors{0});
    EXPECT_NE(logMemoryText().substr(mark).find("FatsAnalyzer(61): 1 16\n"), std::string::npos);
}

TEST(FatsAnalyzerTest, ACancelEndsTheAnalysis) {
    SyntheticVolume v(FAT16, 1000);
    Analysis a(v.bytes(), v.params(), {}, 1);
    RecordingProgress progress;
    progress.cancelAtPoll(3);
    EXPECT_THROW(a.run(&progress), InterruptedException);
    EXPECT_EQ(a.failing->requests().size(), 3u);
}

} // namespace
