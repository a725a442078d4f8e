#include "fs/ntfs/VolumeHelpers.h"

#include "fs/ntfs/NtfsRecord.h"
#include "tests/fs/ntfs/NtfsFixture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Bytes = std::vector<u8>;
using ntfstest::RecordBuilder;

Bytes volumeRecord(u16 flags) {
    std::string information(12, '\0');
    information[10] = static_cast<char>(flags);
    information[11] = static_cast<char>(flags >> 8);
    return RecordBuilder()
        .resident(NTFS_ATTR_VOLUME_NAME, std::string("v\0", 2))
        .resident(NTFS_ATTR_VOLUME_INFORMATION, information)
        .raw();
}

bool clear(Bytes& record) {
    return clear_NTFS_chkdsk_flag(record.data(), static_cast<u32>(record.size()));
}

// The record goes back to the disk: cleared and protected again, or as it was.
TEST(VolumeHelpersTest, TheDirtyFlagIsClearedAndTheRecordKeepsItsOnDiskForm) {
    Bytes record = volumeRecord(0x8001);
    EXPECT_TRUE(clear(record));
    EXPECT_EQ(record, volumeRecord(0x8000));
    Bytes torn = volumeRecord(1);
    torn[1022] = 0x77;
    Bytes notFile = volumeRecord(1);
    notFile[0] = 'B';
    for (Bytes b : {volumeRecord(0x8000), torn, notFile,
                    RecordBuilder().resident(NTFS_ATTR_VOLUME_INFORMATION, "short").raw()}) {
        const Bytes before = b;
        EXPECT_FALSE(clear(b));
        EXPECT_EQ(b, before);
    }
}

TEST(VolumeHelpersTest, TheProbeNamesSystemRecordsAndNeverChangesTheBytes) {
    const Bytes mirror =
        RecordBuilder()
            .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"$MFTMirr"))
            .nonResident(NTFS_ATTR_DATA, {0x31, 0x04, 0x00, 0x10, 0x00, 0x00}, 16384)
            .raw();
    NtfsSystemRecordInfo info;
    u16 sectors = 0;
    ASSERT_TRUE(probeNtfsFileRecord(mirror.data(), 1024, info, sectors));
    EXPECT_EQ(sectors, 2u);
    EXPECT_EQ(info.which, static_cast<u32>(NTFS_MFT_MIRROR_RECORD));
    EXPECT_EQ(info.lcn, 0x1000u);
    EXPECT_EQ(info.size, 16384u);
    // Two sectors claimed inside a window of one.
    EXPECT_FALSE(probeNtfsFileRecord(mirror.data(), 512, info, sectors));
    // Damage anywhere never crashes the probe that runs on every sector.
    std::mt19937 random(5);
    for (int i = 0; i < 20000; ++i) {
        Bytes damaged = mirror;
        for (int k = 0; k < 1 + i % 8; ++k)
            damaged[random() % damaged.size()] = static_cast<u8>(random());
        const Bytes before = damaged;
        probeNtfsFileRecord(damaged.data(), 512 + random() % 513, info, sectors);
        ASSERT_EQ(damaged, before);
    }
}

} // namespace
