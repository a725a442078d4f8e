#include "fs/ntfs/NtfsFileRecordsCache.h"

#include "core/Log.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tests/fs/ntfs/NtfsTreeFixture.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

using ntfstest::RecordBuilder;
using ntfstree::logSince;
using ntfstree::MemoryMft;

// A memory volume of 512-byte clusters with 64 records in its MFT, and a cache
// reading through the MFT's run list.
struct Fixture {
    MemoryMft image{1, 1024, 64};
    std::unique_ptr<ntfstree::Source> source;
    std::unique_ptr<NTFSDrive> drive;
    std::unique_ptr<NtfsFileRecordsCache> cache;

    void open(const std::vector<u64>& bad = {}) {
        source = image.source(bad);
        drive.reset(new NTFSDrive(source->driver, source->params, &source->unreadable));
        cache.reset(new NtfsFileRecordsCache(*drive));
        cache->setReaderRunlist(image.mftRunlist());
    }
};

std::vector<u8> fileRecord(u16 flags = 1) {
    return RecordBuilder(2, 0x30, flags)
        .resident(0x10, std::string(48, '\x01'))
        .resident(0x30, RecordBuilder::fileName(5, u"a.txt"))
        .resident(0x80, "data", u"ads")
        .resident(0x80, "hello")
        .raw();
}

TEST(NtfsFileRecordsCacheTest, ARecordLoadsWithItsAttributesInDiskOrderAndFixUps) {
    Fixture f;
    f.image.putRecord(7, fileRecord(0));
    f.open();
    bool deleted = false;
    ASSERT_TRUE(f.cache->loadRecord(7, 0, deleted));
    EXPECT_TRUE(deleted); // not in use
    const auto& attributes = f.cache->getAttributes();
    ASSERT_EQ(attributes.size(), 4u);
    EXPECT_EQ(attributes[0].header.type, 0x10u);
    EXPECT_EQ(attributes[1].header.type, 0x30u);
    EXPECT_EQ(attributes[3].header.type, 0x80u);
    EXPECT_EQ(attributes[3].record, 7u);
    // The sector tails hold their own bytes again, not the update sequence number.
    const ConstArray record = f.cache->getRecordArray(7);
    EXPECT_EQ(record.getLE16(510), 0u);
    EXPECT_EQ(record.getLE16(1022), 0u);
    EXPECT_EQ(f.cache->getRecordLBA(7), 1u + 7 * 2);
    EXPECT_EQ(f.cache->getRecordCapacity(), 64u);
}

TEST(NtfsFileRecordsCacheTest, AttributesAreFoundByTypeAndName) {
    Fixture f;
    f.image.putRecord(7, fileRecord());
    f.open();
    bool deleted = true;
    ASSERT_TRUE(f.cache->loadRecord(7, 0, deleted));
    EXPECT_FALSE(deleted);
    static const u16 ads[] = {'a', 'd', 's'};
    static const u16 adt[] = {'a', 'd', 't'};
    std::vector<CachedAttribute> found;
    f.cache->findAttributes(found, 0x80, nullptr, 0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(f.cache->attributeBytes(found[0]).getLE32(0x10), 5u); // "hello"
    found.clear();
    f.cache->findAttributes(found, 0x80, ads, 3);
    EXPECT_EQ(found.size(), 1u);
    found.clear();
    f.cache->findAttributes(found, 0x80, adt, 3);
    EXPECT_TRUE(found.empty());
    found.clear();
    // From an index on: the ones before it are passed over.
    f.cache->findAttributes(found, 0x80, nullptr, 0, 4);
    EXPECT_TRUE(found.empty());
}

TEST(NtfsFileRecordsCacheTest, ARecordOfAnotherBaseIsRefused) {
    Fixture f;
    std::vector<u8> extension = fileRecord();
    ntfstree::setBaseRecord(extension, 0x0003000000000003ull); // sequence 3, record 3
    f.image.putRecord(9, extension);
    f.open();
    bool deleted = false;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(f.cache->loadRecord(9, 0, deleted));
    EXPECT_NE(logSince(mark).find("NtfsFileRecordsCache(70): 3\n"), std::string::npos);
    EXPECT_FALSE(f.cache->hasRecord(9));
    EXPECT_TRUE(f.cache->loadRecord(9, 3, deleted));
    EXPECT_EQ(f.cache->getRecordNumbers(), std::vector<u64>{9});
}

TEST(NtfsFileRecordsCacheTest, AMissingRecordIsNullOrAnError) {
    Fixture f;
    f.open();
    EXPECT_EQ(f.cache->getRecord(9, false), nullptr);
    try {
        f.cache->getRecord(9, true);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "NtfsFileRecordsCache(142)");
    }
    EXPECT_THROW(f.cache->getRecordArray(9), std::runtime_error);
}

TEST(NtfsFileRecordsCacheTest, AnUnreadableOrEmptyRecordLeavesNoSlotBehind) {
    Fixture f;
    f.image.putRecord(8, fileRecord());
    f.open({1 + 7 * 2 + 1}); // the second sector of record 7
    bool deleted = false;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(f.cache->loadRecord(7, 0, deleted));
    EXPECT_NE(logSince(mark).find("NtfsFileRecordsCache(96): 7\n"), std::string::npos);
    mark = logMemoryText().size();
    EXPECT_FALSE(f.cache->loadRecord(6, 0, deleted)); // zeros
    EXPECT_NE(logSince(mark).find("NtfsFileRecordsCache(67)"), std::string::npos);
    ASSERT_TRUE(f.cache->loadRecord(8, 0, deleted));
    EXPECT_EQ(f.cache->getRecordNumbers(), std::vector<u64>{8});
    // Slot 0 holds record 8, whatever failed before it.
    EXPECT_EQ(f.cache->getRecordArray(8).getLE32(0), NTFS_MAGIC_FILE);
    // Beyond the MFT's runs, and at a number whose sectors 64 bits cannot count.
    EXPECT_FALSE(f.cache->loadRecord(64, 0, deleted));
    EXPECT_FALSE(f.cache->loadRecord(~u64{0}, 0, deleted));
    EXPECT_EQ(f.cache->getRecordLBA(~u64{0}), ~u64{0});
    f.cache->clear();
    EXPECT_TRUE(f.cache->getAttributes().empty());
    EXPECT_FALSE(f.cache->hasRecord(8));
}

TEST(NtfsFileRecordsCacheTest, AnAttributeThatBreaksOffKeepsTheOnesBefore) {
    Fixture f;
    std::vector<u8> bad(24, 0);
    bad[0] = 0x80;
    bad[4] = 24;
    bad[8] = 2; // neither resident nor non-resident
    f.image.putRecord(7, RecordBuilder()
                             .resident(0x10, std::string(48, '\0'))
                             .rawAttribute(bad)
                             .resident(0x80, "x")
                             .raw());
    f.open();
    bool deleted = false;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(f.cache->loadRecord(7, 0, deleted));
    EXPECT_NE(logSince(mark).find("NtfsFileRecordsCache(83)"), std::string::npos);
    EXPECT_TRUE(f.cache->hasRecord(7));
    ASSERT_EQ(f.cache->getAttributes().size(), 1u);
    EXPECT_EQ(f.cache->getAttributes()[0].header.type, 0x10u);
}

TEST(NtfsFileRecordsCacheTest, ARunListNoReaderCanWalkReadsNothing) {
    Fixture f;
    f.image.putRecord(0, fileRecord());
    f.open();
    EXPECT_FALSE(f.cache->setReaderRunlist(Runlist{NtfsRun{1, 3, 4}}));
    bool deleted = false;
    EXPECT_FALSE(f.cache->loadRecord(0, 0, deleted));
    EXPECT_EQ(f.cache->getRecordCapacity(), 0u);
}

} // namespace
