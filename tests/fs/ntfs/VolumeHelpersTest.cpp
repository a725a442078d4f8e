#include "fs/ntfs/VolumeHelpers.h"

#include "fs/ntfs/NtfsRecord.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;
using ntfstest::RecordBuilder;

TEST(VolumeHelpersTest, DefaultClusterSizesGrowWithTheVolume) {
    EXPECT_EQ(defaultNtfsSectorsPerCluster(0), 1u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(255999), 1u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(256000), 2u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(499999), 2u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(500000), 4u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(999999), 4u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(1000000), 8u);
    EXPECT_EQ(defaultNtfsSectorsPerCluster(0xFFFFFFFF), 8u);
}

TEST(VolumeHelpersTest, NameViewsCompareLengthAndBytes) {
    const u8 a[] = {'$', 0, 'M', 0};
    const u8 b[] = {'$', 0, 'M', 0, 'F', 0};
    EXPECT_TRUE((NameView{a, 4} == NameView{b, 4}));
    EXPECT_FALSE((NameView{a, 4} == NameView{b, 6}));
    EXPECT_TRUE((NameView{nullptr, 0} == NameView{a, 0}));
    const u8 c[] = {'$', 0, 'm', 0};
    EXPECT_TRUE((NameView{a, 4} != NameView{c, 4}));
}

// A $VOLUME_INFORMATION value with these flags.
std::string volumeInformation(u16 flags) {
    std::string v(12, '\0');
    v[8] = 3;
    v[9] = 1;
    v[10] = static_cast<char>(flags);
    v[11] = static_cast<char>(flags >> 8);
    return v;
}

u16 flagsOf(Bytes record) {
    u16 flags = 0xFFFF;
    ntfstest::walkRecord(record, [&](const NtfsAttributeParser& p, const AttributeHeader& h,
                                     const FileRecordHeader&) {
        ResidentValue v;
        if (h.type == NTFS_ATTR_VOLUME_INFORMATION && p.parseResidentValue(v, h))
            flags = p.value(h, v).getLE16(10);
    });
    return flags;
}

TEST(VolumeHelpersTest, TheDirtyFlagIsClearedAndTheRecordGoesBackOnDisk) {
    Bytes record = RecordBuilder()
                       .resident(NTFS_ATTR_VOLUME_NAME, std::string("v\0", 2))
                       .resident(NTFS_ATTR_VOLUME_INFORMATION, volumeInformation(0x8001))
                       .raw();
    ASSERT_EQ(flagsOf(record), 0x8001);
    EXPECT_TRUE(clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size())));
    // Sector tails hold the update sequence number again.
    EXPECT_EQ(record[510], 0x01);
    EXPECT_EQ(record[1022], 0x01);
    // The whole low byte is cleared; the high byte stays.
    EXPECT_EQ(flagsOf(record), 0x8000);

    // Nothing to clear: false, and the bytes are what they were.
    const Bytes before = record;
    EXPECT_FALSE(clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size())));
    EXPECT_EQ(record, before);
}

TEST(VolumeHelpersTest, RecordsWithoutAFlagToClearAreLeftAlone) {
    const Bytes noValue = RecordBuilder().resident(NTFS_ATTR_VOLUME_NAME, "xx").raw();
    const Bytes shortValue =
        RecordBuilder().resident(NTFS_ATTR_VOLUME_INFORMATION, std::string(10, '\1')).raw();
    Bytes notFile =
        RecordBuilder().resident(NTFS_ATTR_VOLUME_INFORMATION, volumeInformation(1)).raw();
    notFile[0] = 'B';
    Bytes torn = RecordBuilder().resident(NTFS_ATTR_VOLUME_INFORMATION, volumeInformation(1)).raw();
    torn[1022] = 0x77;
    for (Bytes record : {noValue, shortValue, notFile, torn}) {
        const Bytes before = record;
        EXPECT_FALSE(clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size())));
        EXPECT_EQ(record, before);
    }
    u8 small[100] = {'F', 'I', 'L', 'E'};
    EXPECT_FALSE(clear_NTFS_chkdsk_flag(small, sizeof small));
}

bool probe(const Bytes& bytes, NtfsSystemRecordInfo& info, u16& sectors, u32 length = 0) {
    return probeNtfsFileRecord(bytes.data(), length != 0 ? length : static_cast<u32>(bytes.size()),
                               info, sectors);
}

TEST(VolumeHelpersTest, TheProbeNamesSystemRecordsAndWhereTheirDataLies) {
    // $MFTMirr whose first run is 4 clusters at LCN 0x1000.
    const Bytes mirror =
        RecordBuilder()
            .resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(72, '\0'))
            .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$MFTMirr"))
            .nonResident(NTFS_ATTR_DATA, {0x31, 0x04, 0x00, 0x10, 0x00, 0x00}, 16384)
            .raw();
    NtfsSystemRecordInfo info;
    u16 sectors = 0;
    ASSERT_TRUE(probe(mirror, info, sectors));
    EXPECT_EQ(sectors, 2u);
    EXPECT_EQ(info.which, static_cast<u32>(NTFS_MFT_MIRROR_RECORD));
    EXPECT_EQ(info.lcn, 0x1000u);
    EXPECT_EQ(info.size, 16384u);

    // An ordinary file: true, nothing known of it.
    const Bytes file = RecordBuilder()
                           .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$MFTx"))
                           .nonResident(NTFS_ATTR_DATA, {0x11, 0x04, 0x20, 0x00}, 16384)
                           .raw();
    ASSERT_TRUE(probe(file, info, sectors));
    EXPECT_EQ(info.which, static_cast<u32>(NTFS_ORDINARY_RECORD));
    EXPECT_EQ(info.lcn, ~u64{0});
    EXPECT_EQ(info.size, ~u64{0});

    // A named $DATA or a first run that is a hole tells nothing of the place.
    const Bytes sparse =
        RecordBuilder()
            .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$Bitmap"))
            .nonResident(NTFS_ATTR_DATA, {0x11, 0x04, 0x20, 0x00}, 100, 0, 0, 0, u"alt")
            .nonResident(NTFS_ATTR_DATA, {0x01, 0x04, 0x00}, 512)
            .raw();
    ASSERT_TRUE(probe(sparse, info, sectors));
    EXPECT_EQ(info.which, static_cast<u32>(NTFS_BITMAP_RECORD));
    EXPECT_EQ(info.lcn, ~u64{0});
    EXPECT_EQ(info.size, 512u);
}

TEST(VolumeHelpersTest, TheProbeRefusesWhatIsNoWholeRecordAndNeverChangesTheBytes) {
    const Bytes record =
        RecordBuilder().resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$MFT")).raw();
    NtfsSystemRecordInfo info;
    u16 sectors = 0;
    // Two sectors claimed inside a window of one.
    EXPECT_FALSE(probe(record, info, sectors, 512));
    EXPECT_FALSE(probe(record, info, sectors, 100));
    Bytes torn = record;
    torn[1022] = 0;
    EXPECT_FALSE(probe(torn, info, sectors));
    Bytes badAttribute = record;
    badAttribute[0x38 + 8] = 7; // neither resident nor not
    EXPECT_FALSE(probe(badAttribute, info, sectors));
    const Bytes copy = record;
    EXPECT_TRUE(probe(copy, info, sectors));
    EXPECT_EQ(copy, record);

    // Damage anywhere never crashes the probe that runs on every sector.
    std::mt19937 random(5);
    for (int i = 0; i < 20000; ++i) {
        Bytes damaged = record;
        for (int k = 0; k < 1 + i % 8; ++k)
            damaged[random() % damaged.size()] = static_cast<u8>(random());
        probe(damaged, info, sectors, 512 + random() % 513);
    }
}

TEST(VolumeHelpersRealTest, TheSystemRecordsOfARealVolume) {
    for (u32 cluster : {512u, 4096u}) {
        SCOPED_TRACE(cluster);
        ntfstest::Volume v(32u << 20, cluster);
        v.add("plain", ntfstest::randomContent(50000, 1));
        ntfstest::Image image(v.image());
        const ConstArray boot(image.bytes().data(), 512);
        const u64 clusters = boot.getLE64(0x28) / (cluster / 512);
        struct Expected {
            u64 record;
            u32 which;
            u64 lcn;
        } expected[] = {
            {0, NTFS_MFT_RECORD, boot.getLE64(0x30)},
            {1, NTFS_MFT_MIRROR_RECORD, boot.getLE64(0x38)},
            {6, NTFS_BITMAP_RECORD, ~u64{0}},
            {image.findRecord("plain"), NTFS_ORDINARY_RECORD, ~u64{0}},
        };
        for (const Expected& e : expected) {
            SCOPED_TRACE(e.record);
            const Bytes raw = image.rawRecord(e.record);
            NtfsSystemRecordInfo info;
            u16 sectors = 0;
            ASSERT_TRUE(probe(raw, info, sectors));
            EXPECT_EQ(sectors, 2u);
            EXPECT_EQ(info.which, e.which);
            if (e.which == NTFS_BITMAP_RECORD) {
                // One bit per cluster, in whole 8-byte words.
                EXPECT_EQ(info.size, (clusters + 63) / 64 * 8);
                EXPECT_LT(info.lcn, clusters);
            } else if (e.which != NTFS_ORDINARY_RECORD) {
                EXPECT_EQ(info.lcn, e.lcn);
            } else {
                EXPECT_EQ(info.lcn, ~u64{0});
            }
        }
        // $Volume of a fresh volume has no flag set.
        Bytes volume = image.rawRecord(3);
        EXPECT_FALSE(clear_NTFS_chkdsk_flag(volume.data(), static_cast<u32>(volume.size())));
        EXPECT_EQ(volume, image.rawRecord(3));
    }
}

} // namespace
