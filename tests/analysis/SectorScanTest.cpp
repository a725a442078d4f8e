// The sector scan of whole disks made by the real tools, read through the
// sector reader as a deep scan reads them: an MBR with a FAT16, a FAT32, an NTFS
// and a FAT12 partition, each structure found where the tools put it; bad
// sectors that become unreadable runs; and a second scan from the middle that
// leaves the same results as one scan of everything.

#include "analysis/ScScanner.h"
#include "analysis/ScScannerReaderListener.h"

#include "core/Array.h"
#include "core/Preferences.h"
#include "devices/Driver.h"
#include "devices/Reader.h"
#include "fs/Params.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <vector>

namespace {

using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::PartitionSpec;
using testutil::RecordingProgress;
using testutil::ScriptedInterface;
using testutil::TempDir;
using testutil::toolNumber;

constexpr u32 FAT16_LBA = 63;
constexpr u32 FAT16_SECTORS = 40000;
constexpr u32 FAT32_LBA = 40960;
constexpr u32 FAT32_SECTORS = 80000;
constexpr u32 NTFS_LBA = 122880;
constexpr u32 NTFS_SECTORS = 32768;
constexpr u32 FAT12_LBA = 157696;
constexpr u32 FAT12_SECTORS = 2880;
constexpr u32 DISK_SECTORS = FAT12_LBA + FAT12_SECTORS + 16;

BootParams bootOf(const std::string& disk, u32 lba) {
    BootParams p;
    EXPECT_TRUE(readBootParams(reinterpret_cast<const u8*>(disk.data()) + u64{lba} * 512, p));
    return p;
}

// Every find with its payload, one line each, for comparing two scans.
std::string dump(const ScanResults& r) {
    std::ostringstream os;
    for (const auto& t : r.partitionTables) {
        os << "table " << t.lba;
        for (const auto& e : t.entries)
            os << ' ' << int(e.type) << '/' << e.startLba << '/' << e.sectorCount;
        os << '\n';
    }
    for (const auto& b : r.bootSectors)
        os << "boot " << b.lba << '\n' << b.params << '\n';
    for (const auto& f : r.fatSectors)
        os << "fat " << f.lba << ' ' << f.fatType << '\n';
    for (const auto& d : r.directoryRuns)
        os << "dir " << d.lba << ' ' << d.sectorCount << ' ' << d.startsWithDotEntries << ' '
           << d.lastSlotInUse << ' ' << d.dotCluster << ' ' << d.dotDotCluster << ' '
           << d.highestCluster << '\n';
    for (const auto& s : r.ntfsSystemRecords)
        os << "system " << s.lba << ' ' << s.info.which << ' ' << s.info.lcn << ' ' << s.info.size
           << '\n';
    for (const auto& run : r.ntfsRecordRuns)
        os << "records " << run.lba << ' ' << run.recordSectors << ' ' << run.recordCount << '\n';
    for (const auto& u : r.unreadable.runs())
        os << "unreadable " << u.start << ' ' << u.count << '\n';
    return os.str();
}

// One disk for every test of the suite: made once, it takes the tools a while.
class SectorScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        disk_ = new std::string(u64{DISK_SECTORS} * 512, '\0');
        auto place = [](u32 lba, const std::string& volume) {
            disk_->replace(u64{lba} * 512, volume.size(), volume);
        };

        FatImageOptions f16;
        f16.fatBits = 16;
        f16.sizeKiB = FAT16_SECTORS / 2;
        FatImage fat16(dir_->file("fat16.img"), f16);
        fat16.makeFolder("docs");
        fat16.addFile("docs/a.txt", "in a folder");
        fat16.addFile("top.txt", "at the top");
        place(FAT16_LBA, testutil::readAll(fat16.path()));

        FatImageOptions f32;
        f32.fatBits = 32;
        f32.sizeKiB = FAT32_SECTORS / 2;
        FatImage fat32(dir_->file("fat32.img"), f32);
        fat32.makeFolder("photos");
        // Empty files take no cluster, so the folder grows into the clusters
        // right after its first; the last file fits in the folder's third.
        for (int i = 0; i < 21; ++i)
            fat32.addFile("photos/picture" + std::to_string(i) + ".jpg", "");
        fat32.addFile("photos/last.jpg", std::string(700, 'p'));
        fat32.addFile("readme.txt", "read me");
        place(FAT32_LBA, testutil::readAll(fat32.path()));

        NtfsImageOptions n;
        n.sizeMiB = NTFS_SECTORS / 2048;
        NtfsImage ntfs(dir_->file("ntfs.img"), n);
        ntfs.addFile("hello.txt", "hello");
        ntfsInfo_ = new std::string(ntfs.info());
        place(NTFS_LBA, testutil::readAll(ntfs.path()));

        FatImageOptions f12;
        FatImage fat12(dir_->file("fat12.img"), f12);
        place(FAT12_LBA, testutil::readAll(fat12.path()));

        disk_->replace(0, 512,
                       testutil::makeMbr({PartitionSpec{FAT16_LBA, FAT16_SECTORS, 0x06, true},
                                          PartitionSpec{FAT32_LBA, FAT32_SECTORS, 0x0C},
                                          PartitionSpec{NTFS_LBA, NTFS_SECTORS, 0x07},
                                          PartitionSpec{FAT12_LBA, FAT12_SECTORS, 0x01}}));
    }
    static void TearDownTestSuite() {
        delete disk_;
        delete ntfsInfo_;
        delete dir_;
    }

    void SetUp() override { Preferences::instance().resetToDefaults(); }
    void TearDown() override { Preferences::instance().resetToDefaults(); }

    static SharedPtr<dt::Reader> diskReader() {
        return SharedPtr<dt::Reader>(new testutil::MemoryReader(*disk_));
    }

    // A deep scan's reading: the reader delivers blocks of the scanner's window
    // through the listener. Returns the sectors delivered.
    static u64 scan(const SharedPtr<dt::Reader>& source, ScanResults& results, u64 first, u64 count,
                    FrTreeInterface* ui = nullptr, RecordingProgress* found = nullptr) {
        Driver driver(source, 512);
        ScScanner scanner(&results, 256, 512, first, 3);
        scanner.setInterfaceCallback(found);
        ScScannerReaderListener listener(&scanner);
        EXPECT_EQ(listener.getBlockSize(), 256u);
        Reader reader(&driver, &listener, ui, "");
        reader.readSectors(first, count);
        scanner.finish();
        scanner.setInterfaceCallback(nullptr);
        return listener.getDelivered();
    }

    static TempDir* dir_;
    static std::string* disk_;
    static std::string* ntfsInfo_;
};

TempDir* SectorScanTest::dir_ = nullptr;
std::string* SectorScanTest::disk_ = nullptr;
std::string* SectorScanTest::ntfsInfo_ = nullptr;

TEST_F(SectorScanTest, EveryStructureOfTheDiskIsFoundWhereTheToolsPutIt) {
    ScanResults r;
    RecordingProgress found;
    EXPECT_EQ(scan(diskReader(), r, 0, DISK_SECTORS, nullptr, &found), DISK_SECTORS);
    SCOPED_TRACE(dump(r));

    // The MBR, its starts absolute.
    ASSERT_NE(r.partitionTables.find(0u), r.partitionTables.end());
    const FoundPartitionTable& mbr = *r.partitionTables.find(0u);
    EXPECT_EQ(mbr.entries[0].type, 0x06);
    EXPECT_EQ(mbr.entries[0].startLba, FAT16_LBA);
    EXPECT_EQ(mbr.entries[0].sectorCount, FAT16_SECTORS);
    EXPECT_EQ(mbr.entries[1].startLba, FAT32_LBA);
    EXPECT_EQ(mbr.entries[2].type, 0x07);
    EXPECT_EQ(mbr.entries[2].startLba, NTFS_LBA);
    EXPECT_EQ(mbr.entries[3].type, 0x01);
    EXPECT_EQ(mbr.entries[3].sectorCount, FAT12_SECTORS);

    // Boot sectors: each volume's, the FAT32 backup 6 sectors in and the NTFS
    // backup in the volume's last sector.
    std::set<u32> boots;
    for (const auto& b : r.bootSectors)
        boots.insert(b.lba);
    const u32 ntfsBackup = NTFS_LBA + NTFS_SECTORS - 1;
    EXPECT_EQ(boots, (std::set<u32>{FAT16_LBA, FAT32_LBA, FAT32_LBA + 6, NTFS_LBA, ntfsBackup,
                                    FAT12_LBA}));
    EXPECT_EQ(r.bootSectors.find(NTFS_LBA)->params.kind, FS_NTFS);
    EXPECT_TRUE(equalBootParams(r.bootSectors.find(FAT32_LBA)->params,
                                r.bootSectors.find(FAT32_LBA + 6)->params));

    // Both FATs of each volume, with their widths.
    const BootParams b16 = bootOf(*disk_, FAT16_LBA);
    const BootParams b32 = bootOf(*disk_, FAT32_LBA);
    const BootParams b12 = bootOf(*disk_, FAT12_LBA);
    auto fatAt = [&](u32 lba) {
        auto it = r.fatSectors.find(lba);
        return it == r.fatSectors.end() ? FAT_NONE : it->fatType;
    };
    const u32 fat16 = FAT16_LBA + b16.fat.reservedSectors;
    const u32 fat32 = FAT32_LBA + b32.fat.reservedSectors;
    const u32 fat12 = FAT12_LBA + b12.fat.reservedSectors;
    // The FAT16 volume's first two clusters end their chains at once: its
    // first sector reads as FAT32 as well.
    EXPECT_EQ(fatAt(fat16), FAT16_32);
    EXPECT_EQ(fatAt(fat16 + b16.fat.sectorsPerFAT), FAT16_32);
    EXPECT_EQ(fatAt(fat32), FAT32);
    EXPECT_EQ(fatAt(fat32 + b32.fat.sectorsPerFAT), FAT32);
    EXPECT_EQ(fatAt(fat12), FAT12);
    EXPECT_EQ(fatAt(fat12 + b12.fat.sectorsPerFAT), FAT12);
    EXPECT_EQ(r.fatSectors.size(), 6u);

    // The FAT16 root directory is one run of its first sector (two entries).
    auto dirAt = [&](u32 lba) { return r.directoryRuns.find(lba); };
    const u32 root16 = FAT16_LBA + b16.fat.rootDirectoryLbaOffset;
    ASSERT_NE(dirAt(root16), r.directoryRuns.end());
    EXPECT_EQ(dirAt(root16)->sectorCount, 1u);
    EXPECT_FALSE(dirAt(root16)->startsWithDotEntries);
    // Its folder "docs" in cluster 2 starts with "." and "..".
    const u32 docs = FAT16_LBA + b16.fat.dataLbaOffset;
    ASSERT_NE(dirAt(docs), r.directoryRuns.end());
    EXPECT_TRUE(dirAt(docs)->startsWithDotEntries);
    EXPECT_EQ(dirAt(docs)->dotCluster, 2u);
    EXPECT_EQ(dirAt(docs)->dotDotCluster, 0u);
    EXPECT_EQ(dirAt(docs)->highestCluster, 3u);

    // The FAT32 folder of 22 files (a long name and a short entry each, with
    // the dot entries 46 slots) fills two sectors and runs into a third: one
    // run, started by the dot entries, at the folder's cluster.
    const u32 data32 = FAT32_LBA + b32.fat.dataLbaOffset;
    const FoundDirectoryRun* photos = nullptr;
    for (const auto& d : r.directoryRuns)
        if (d.startsWithDotEntries && d.lba >= data32 && d.lba < FAT32_LBA + FAT32_SECTORS)
            photos = &d;
    ASSERT_NE(photos, nullptr);
    EXPECT_EQ(photos->sectorCount, 3u);
    EXPECT_FALSE(photos->lastSlotInUse);
    EXPECT_EQ(photos->dotDotCluster, 0u);
    EXPECT_EQ(photos->lba, data32 + (photos->dotCluster - 2) * b32.fat.sectorsPerCluster);
    // The one file with contents lies after the folder's three clusters.
    EXPECT_EQ(photos->highestCluster, photos->dotCluster + 3);
    // The root cluster holds the folder and the file.
    const u32 root32 = FAT32_LBA + b32.fat.rootDirectoryLbaOffset;
    ASSERT_NE(dirAt(root32), r.directoryRuns.end());
    EXPECT_FALSE(dirAt(root32)->startsWithDotEntries);

    // NTFS: $MFT, $MFTMirr and $Bitmap in the MFT, $MFT and $MFTMirr again in
    // the mirror, each with the place of its data.
    const BootParams bn = bootOf(*disk_, NTFS_LBA);
    const u32 spc = bn.ntfs.sectorsPerCluster;
    const u32 mft = NTFS_LBA + static_cast<u32>(bn.ntfs.MFTCluster) * spc;
    const u32 mirror = NTFS_LBA + static_cast<u32>(bn.ntfs.MFTMirrCluster) * spc;
    const u64 mftLcn = toolNumber(*ntfsInfo_, "LCN of Data Attribute for FILE_MFT");
    const u64 mirrorLcn = toolNumber(*ntfsInfo_, "LCN of Data Attribute for File_MFTMirr");
    auto systemAt = [&](u32 lba) {
        auto it = r.ntfsSystemRecords.find(lba);
        return it == r.ntfsSystemRecords.end() ? NtfsSystemRecordInfo() : it->info;
    };
    EXPECT_EQ(r.ntfsSystemRecords.size(), 5u);
    EXPECT_EQ(systemAt(mft).which, static_cast<u32>(NTFS_MFT_RECORD));
    EXPECT_EQ(systemAt(mft).lcn, mftLcn);
    EXPECT_GE(systemAt(mft).size, 16u * 1024);
    EXPECT_EQ(systemAt(mft).size % 1024, 0u);
    EXPECT_EQ(systemAt(mft + 2).which, static_cast<u32>(NTFS_MFT_MIRROR_RECORD));
    EXPECT_EQ(systemAt(mft + 2).lcn, mirrorLcn);
    EXPECT_EQ(systemAt(mft + 2).size, 4096u);
    EXPECT_EQ(systemAt(mft + 12).which, static_cast<u32>(NTFS_BITMAP_RECORD));
    EXPECT_EQ(systemAt(mirror).which, static_cast<u32>(NTFS_MFT_RECORD));
    EXPECT_EQ(systemAt(mirror + 2).which, static_cast<u32>(NTFS_MFT_MIRROR_RECORD));

    // The MFT as one run of 2-sector records from its start, the mirror's four.
    auto runAt = [&](u32 lba) { return r.ntfsRecordRuns.find(lba); };
    ASSERT_NE(runAt(mft), r.ntfsRecordRuns.end());
    EXPECT_EQ(runAt(mft)->recordSectors, 2u);
    EXPECT_GE(runAt(mft)->recordCount, 16u);
    ASSERT_NE(runAt(mirror), r.ntfsRecordRuns.end());
    EXPECT_EQ(runAt(mirror)->recordCount, 4u);

    EXPECT_TRUE(r.unreadable.runs().empty());

    // The live counters ended at the sizes of the lists.
    const auto& seen = *found.record();
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_PARTITION_TABLES), r.partitionTables.size());
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_BOOT_SECTORS), 6u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_FATS), 6u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_DIRECTORIES), r.directoryRuns.size());
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_NTFS_RECORDS), 5u);
    EXPECT_EQ(seen.lastValue(InterfaceCallback::FOUND_NTFS_FILES),
              ScScanner::reportTotals(&r, nullptr));
}

TEST_F(SectorScanTest, BadSectorsBecomeUnreadableRunsAndHideWhatTheyHeld) {
    const u32 fat32Boot = FAT32_LBA;
    SharedPtr<dt::Reader> failing(
        new testutil::FailingReader(diskReader(), {0, 5, 6, 7, fat32Boot, 1000}));
    ScriptedInterface ui(0);
    ScanResults r;
    // The first question is answered Yes To All.
    ui.then(0x10);
    EXPECT_EQ(scan(failing, r, 0, 50000, &ui), 50000u);
    EXPECT_EQ(ui.asked().size(), 1u);
    EXPECT_EQ(r.unreadable.runs(), (SectorRuns{{0, 1}, {5, 3}, {1000, 1}, {fat32Boot, 1}}));
    // No MBR, and of the FAT32 volume only the backup boot sector.
    EXPECT_EQ(r.partitionTables.find(0u), r.partitionTables.end());
    EXPECT_EQ(r.bootSectors.find(FAT32_LBA), r.bootSectors.end());
    EXPECT_NE(r.bootSectors.find(FAT32_LBA + 6), r.bootSectors.end());
}

TEST_F(SectorScanTest, ASecondScanFromTheMiddleLeavesWhatOneScanOfEverythingFinds) {
    ScanResults whole;
    scan(diskReader(), whole, 0, DISK_SECTORS);

    // The first scan reads into the FAT32 volume past its backup boot sector
    // and its first FAT; the second begins between its boot sector and the
    // backup and reads on to the end. It drops what the first found beyond its
    // start and finds it again.
    ScanResults twice;
    scan(diskReader(), twice, 0, FAT32_LBA + 100);
    EXPECT_NE(twice.bootSectors.find(FAT32_LBA + 6), twice.bootSectors.end());
    const u32 restart = FAT32_LBA + 3;
    EXPECT_EQ(scan(diskReader(), twice, restart, DISK_SECTORS - restart), DISK_SECTORS - restart);
    EXPECT_EQ(dump(twice), dump(whole));
}

} // namespace
