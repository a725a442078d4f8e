#include "fs/ScanResults.h"

#include <gtest/gtest.h>

TEST(ScanResultsTest, ListsAreOrderedAndUniqueByLba) {
    ScanResults r;
    FoundPartitionTable first;
    first.lba = 100;
    first.entries[0] = {0x07, 2048, 1000};
    r.partitionTables.insert(first);
    FoundPartitionTable second = first;
    second.entries[0].type = 0x0C;
    // A second find at the same LBA leaves the first as it was.
    EXPECT_FALSE(r.partitionTables.insert(second).second);
    EXPECT_EQ(r.partitionTables.begin()->entries[0].type, 0x07);

    for (u32 lba : {900u, 5u, 300u})
        r.directoryRuns.insert(FoundDirectoryRun{lba, 1, false, false, 0, 0, 0});
    u32 last = 0;
    for (const FoundDirectoryRun& run : r.directoryRuns) {
        EXPECT_GT(run.lba, last);
        last = run.lba;
    }
    // Looked up by a bare LBA.
    EXPECT_NE(r.directoryRuns.find(300u), r.directoryRuns.end());
    EXPECT_EQ(r.directoryRuns.find(301u), r.directoryRuns.end());
    EXPECT_EQ(r.directoryRuns.lower_bound(301u)->lba, 900u);
}

TEST(ScanResultsTest, RecordRunsAndSystemRecords) {
    FoundRecordRun run{0xFFFFFFF0u, 2, 100};
    EXPECT_EQ(run.endLBA(), 0xFFFFFFF0ull + 200); // past 2^32, no wrap
    NtfsSystemRecordInfo none;
    EXPECT_EQ(none.which, NTFS_ORDINARY_RECORD);
    EXPECT_EQ(none.lcn, ~0ull);
    EXPECT_EQ(none.size, ~0ull);
}

TEST(ScanResultsTest, ClearEmptiesEverythingButThePendingSectors) {
    ScanResults r;
    r.bootSectors.insert(FoundBootSector{63, BootParams()});
    r.fatSectors.insert(FoundFatSector{64, FAT16});
    r.ntfsSystemRecords.insert(FoundNtfsSystemRecord{8, NtfsSystemRecordInfo()});
    r.ntfsRecordRuns.insert(FoundRecordRun{16, 2, 4});
    r.unreadable.add(7);
    r.unreadable.commit();
    r.unreadable.add(9);
    r.clear();
    EXPECT_TRUE(r.bootSectors.empty());
    EXPECT_TRUE(r.fatSectors.empty());
    EXPECT_TRUE(r.ntfsSystemRecords.empty());
    EXPECT_TRUE(r.ntfsRecordRuns.empty());
    EXPECT_TRUE(r.unreadable.runs().empty());
    // What the running scan collected still arrives.
    r.unreadable.commit();
    EXPECT_TRUE(r.unreadable.contains(9));
}
