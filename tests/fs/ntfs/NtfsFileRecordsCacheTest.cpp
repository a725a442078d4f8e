#include "fs/ntfs/NtfsFileRecordsCache.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using ntfstest::RecordBuilder;

TEST(NtfsFileRecordsCacheTest, OnlyWholeRecordsOfTheirBaseTakeASlot) {
    ntfstest::MemoryVolume image(1, 1024);
    const auto record = [](u64 base) {
        return RecordBuilder()
            .resident(0x10, std::string(48, '\1'))
            .resident(0x80, "x")
            .baseRecord(base)
            .raw();
    };
    image.putRecord(8, record(0));
    image.putRecord(9, record(0x0003000000000003ull));
    auto source = image.source({1 + 7 * 2 + 1}); // the second sector of record 7
    auto drive = source->drive();
    NtfsFileRecordsCache cache(*drive);
    cache.setReaderRunlist(image.mftRunlist());
    testutil::LogCapture log;
    bool deleted = true;
    EXPECT_FALSE(cache.loadRecord(7, 0, deleted));
    EXPECT_TRUE(log.has("NtfsFileRecordsCache(96): 7\n"));
    EXPECT_FALSE(cache.loadRecord(6, 0, deleted)); // zeros
    EXPECT_FALSE(cache.loadRecord(9, 0, deleted));
    EXPECT_TRUE(log.has("NtfsFileRecordsCache(70): 3\n"));
    EXPECT_FALSE(cache.loadRecord(~u64{0}, 0, deleted)); // sectors past 64 bits
    ASSERT_TRUE(cache.loadRecord(8, 0, deleted));
    EXPECT_FALSE(deleted);
    EXPECT_EQ(cache.getRecordNumbers(), std::vector<u64>{8});
    EXPECT_EQ(cache.getAttributes().size(), 2u);
    EXPECT_EQ(cache.getRecordArray(8).getLE16(510), 0u); // fix-ups applied
    EXPECT_EQ(cache.getRecordLBA(~u64{0}), ~u64{0});
}

} // namespace
