// The layout repair on real volumes: what each element's sectors should hold,
// the changes that come of it with their descriptions, the statuses and the
// report; and the point of it all, that a volume whose MBR and boot sector are
// gone is read again, by the real tools from the repaired sectors and by our
// engines from the parameters of the rebuilt boot sector.

#include "analysis/DriveLayoutApply.h"

#include "analysis/DriveLayout.h"
#include "analysis/MapInterface.h"
#include "core/Array.h"
#include "core/Log.h"
#include "fs/Params.h"
#include "fs/StructureChecks.h"
#include "fs/ntfs/NtfsRecord.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"
#include "tests/support/VolumeEvidence.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

using namespace testutil;

namespace {

const u8* rawBytes(const std::string& s) {
    return reinterpret_cast<const u8*>(s.data());
}

BootParams bootOf(const std::string& sector) {
    BootParams b;
    if (!readBootParams(rawBytes(sector), b))
        throw std::runtime_error("no boot sector:\n" + hexDump(sector.data(), 96));
    return b;
}

template <typename F> std::string logOf(F f) {
    const std::size_t mark = logMemoryText().size();
    f();
    return logMemoryText().substr(mark);
}

std::vector<std::string> descriptions(const SectorChanges& changes) {
    std::vector<std::string> out;
    for (const SectorChange& c : changes)
        out.push_back(c.description);
    return out;
}

// Writes every change's new image into the image file: what the user would
// get by writing the repair to a copy of the disk.
void writeChanges(const std::string& path, const SectorChanges& changes) {
    for (const SectorChange& c : changes)
        writeAt(path, u64{c.lba} * 512,
                std::string(reinterpret_cast<const char*>(c.newImage.data()), 512));
}

// The layout of these candidates, as the analysis builds it for the drive.
FsCandidateList layoutFor(const FsCandidateList& candidates, Driver& driver) {
    const bool tables = driver.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0;
    FsCandidateList layout;
    DL::build(layout, DLayoutOptions(candidates, static_cast<u32>(driver.getSectorCount() - 1),
                                     tables, true));
    return layout;
}

// A 20 MB FAT16 partition of type 0x06 at `lba` behind an MBR.
FatImageOptions fat16At(u32 lba) {
    FatImageOptions o;
    o.fatBits = 16;
    o.sizeKiB = 20000;
    o.partitionLba = lba;
    o.partitionType = 0x06;
    return o;
}

// The tree our engine builds from the repaired element.
std::map<std::string, tree::Node> treeOf(const FsCandidate& element, const SharedPtr<Driver>& d) {
    FsParams fs;
    if (form_fat_fs_params(element, fs.fat, *d))
        fs.kind = FS_FAT;
    else if (form_ntfs_fs_params(element, fs.ntfs, *d))
        fs.kind = FS_NTFS;
    else
        return {};
    ScanResults results;
    ScriptedInterface ui;
    SharedPtr<tree::Map> map;
    MapInterface::buildMap(map, d, fs, results, true, &ui);
    if (!map)
        return {};
    return listTree(*map);
}

// Sets the dirty flag in the $Volume record of the MFT and of its mirror.
void setDirtyFlag(const std::string& volume, const NTFS_FS_PARAMS& p) {
    const u64 recordBytes = p.sectorsPerFileRecord * 512;
    for (u64 lcn : {p.mftLCN, p.mftMirrLCN}) {
        const u64 at = lcn * p.sectorsPerCluster * 512 + 3 * recordBytes;
        std::string record = readAt(volume, at, recordBytes);
        Array a(reinterpret_cast<u8*>(&record[0]), static_cast<u32>(record.size()));
        ASSERT_TRUE(NtfsRecordParser::applyFixups(a));
        u32 off = a.getLE16(0x14);
        bool done = false;
        while (off + 8 <= record.size() && a.getLE32(off) != 0xFFFFFFFF) {
            if (a.getLE32(off) == 0x70) {
                a.setU8(off + a.getLE16(off + 0x14) + 10, 0x01);
                done = true;
                break;
            }
            off += a.getLE32(off + 4);
        }
        ASSERT_TRUE(done);
        ASSERT_TRUE(NtfsRecordParser::undoFixups(a));
        writeAt(volume, at, record);
    }
}

} // namespace

TEST(DriveLayoutApplyTest, AFat16VolumeWithoutMbrAndBootSectorIsReadAgain) {
    TempDir dir;
    FatImage image(dir.file("fat16.img"), fat16At(2048));
    image.makeFolder("docs");
    image.addFile("docs/a.txt", "in a folder");
    image.addFile("big.bin", std::string(70000, 'b'));
    FAT_FS_PARAMS real;
    ASSERT_TRUE(fatFsParamsFromBootSector(2048, rawBytes(image.bootSector()), real, 1u << 30));
    const std::string listing = image.listing("docs");

    writeAt(image.path(), 0, std::string(512, '\0'));
    writeAt(image.path(), 2048 * 512, std::string(512, '\0'));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    EXPECT_ANY_THROW(image.listing("docs"));

    FsCandidateList layout = layoutFor({fatEvidenceOf(real)}, *driver);
    ASSERT_EQ(layout.size(), 2u);
    SectorChanges changes;
    std::ostringstream report;
    DL::apply(layout, *driver, changes, report, true);
    EXPECT_EQ(descriptions(changes), (std::vector<std::string>{"Partition Table (LBA:0)",
                                                               "Boot Sector FAT16 (LBA:2048)"}));
    const FsCandidate& fs = layout[1];
    EXPECT_EQ(fs.bootStatus, 1u);
    EXPECT_EQ(fs.bootLBA, 2048u);
    EXPECT_EQ(fs.backupStatus, 0u);
    EXPECT_EQ(fs.tableStatus, 1u);
    EXPECT_EQ(fs.tableStatusLBA, 0u);

    // The rebuilt MBR describes the partition; the rebuilt boot sector the volume.
    ASSERT_TRUE(isValidMbr(changes[0].newImage.data()));
    const ConstArray entry(changes[0].newImage.data() + 446, 16);
    EXPECT_EQ(entry.getU8(4), 0x04);
    EXPECT_EQ(entry.getLE32(8), 2048u);
    EXPECT_EQ(entry.getLE32(12), real.totalSectors);
    FAT_FS_PARAMS rebuilt;
    ASSERT_TRUE(fatFsParamsFromBootSector(2048, changes[1].newImage.data(), rebuilt, 1u << 30));
    EXPECT_TRUE(rebuilt == real) << rebuilt << "\n--\n" << real;

    // Our engine reads the tree from the repaired parameters...
    const auto tree = treeOf(fs, driver);
    ASSERT_TRUE(tree.count("docs/a.txt")) << tree.size();
    EXPECT_EQ(tree.at("big.bin").getSize(), 70000u);
    // ... and mtools reads the volume once the repair is written to a copy.
    writeChanges(image.path(), changes);
    // All but the serial number, which was in the lost boot sector.
    auto withoutSerial = [](std::string text) {
        const std::size_t at = text.find("Serial Number is ");
        return at == std::string::npos ? text : text.erase(at, 26);
    };
    EXPECT_EQ(withoutSerial(image.listing("docs")), withoutSerial(listing));

    // The report: the table, the boot sector against the old one, the FATs and
    // the root directory.
    const std::string text = report.str();
    EXPECT_EQ(text.compare(0, 74, std::string(72, '-') + "\n\n"), 0) << text;
    EXPECT_NE(text.find("FAT16 File System:\n\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Partition Table"), std::string::npos);
    EXPECT_NE(text.find("Changed from"), std::string::npos);
    EXPECT_NE(text.find("docs"), std::string::npos) << text;
}

TEST(DriveLayoutApplyTest, SectorsThatAreAlreadyRightAreNotChanged) {
    TempDir dir;
    FatImage image(dir.file("fat16.img"), fat16At(63));
    // The geometry of the MBR that our images get, also in the boot sector.
    writeAt(image.path(), 63 * 512 + 0x18, std::string("\x3F\x00\xFF\x00", 4));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    const std::string boot = image.bootSector();
    FsCandidate c;
    c.startLBA = 63;
    c.hasPartitionEntry = true;
    c.partitionType = 0x06;
    c.partitionSectors = static_cast<u32>(image.volumeSectors());
    c.hasBootSector = true;
    c.bootSector = bootOf(boot);
    c.minSectors = c.maxSectors = c.partitionSectors;
    c.selected = true;
    FsCandidateList layout = layoutFor({c}, *driver);
    SectorChanges changes;
    std::ostringstream report;
    const std::string log = logOf([&] { DL::apply(layout, *driver, changes, report, true); });
    EXPECT_TRUE(changes.empty()) << descriptions(changes)[0] << '\n' << log;
    EXPECT_EQ(layout[1].bootStatus, 2u);
    EXPECT_EQ(layout[1].tableStatus, 2u);
    // Both are shown as the drive holds them.
    EXPECT_NE(report.str().find("Boot Sector"), std::string::npos) << report.str();
    EXPECT_EQ(report.str().find("Changed from"), std::string::npos);
    EXPECT_NE(log.find("DL(1049): DLReconstructFileSystem LBA:63\nDL(1050)FAT16\n"),
              std::string::npos)
        << log;
}

TEST(DriveLayoutApplyTest, AnNtfsVolumeTakesItsIntactBackup) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    ASSERT_TRUE(NtfsBuilder(image).mkdir("/d").write("/d/a.txt", "alpha").run());
    const std::string original = image.bootSector();
    NTFS_FS_PARAMS real;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, rawBytes(original), real, 1u << 30));
    ASSERT_TRUE(NtfsBuilder(image).zeroBootSector().run());
    const u32 sectors = static_cast<u32>(image.volumeSectors());
    const u32 backupLba = 63 + sectors - 1;
    SharedPtr<Driver> driver = openImageDriver(image.path());

    FsCandidate c = ntfsEvidenceOf(real, sectors);
    c.hasPartitionEntry = true;
    c.partitionType = 0x07;
    c.partitionSectors = sectors;
    c.hasBootBackup = true;
    c.bootBackup = bootOf(readAt(image.path(), u64{backupLba} * 512, 512));
    c.bootBackupLBA = backupLba;
    FsCandidateList layout = layoutFor({c}, *driver);
    SectorChanges changes;
    std::ostringstream report;
    const std::string log = logOf([&] { DL::apply(layout, *driver, changes, report, true); });
    // The MBR is right; the primary gets the backup as it stands.
    ASSERT_EQ(descriptions(changes), (std::vector<std::string>{"Boot Sector NTFS (LBA:63)"}));
    EXPECT_EQ(hexDump(changes[0].newImage.data(), 512), hexDump(original.data(), 512));
    EXPECT_NE(log.find("DL(994): (LBA:63) using backup boot sector\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DL(955): (LBA:63) filling boot sector with zeroes\n"), std::string::npos);
    const FsCandidate& fs = layout[1];
    EXPECT_EQ(fs.bootStatus, 1u);
    EXPECT_EQ(fs.backupStatus, 2u);
    EXPECT_EQ(fs.backupLBA, backupLba);
    EXPECT_EQ(fs.tableStatus, 2u);
    // A clean volume has no flag to clear.
    EXPECT_NE(log.find("DL(912): !clear_NTFS_chkdsk_flag\n"), std::string::npos);

    EXPECT_TRUE(treeOf(fs, driver).count("d/a.txt"));
    EXPECT_NE(report.str().find("NTFS File System:\n\n"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("Boot Sector Backup"), std::string::npos);
    EXPECT_NE(report.str().find("NTFS Volume"), std::string::npos);

    // Without the backup found it is looked for at the volume's last sector.
    c.hasBootBackup = false;
    layout = layoutFor({c}, *driver);
    changes.clear();
    const std::string again = logOf([&] { DL::apply(layout, *driver, changes, report, true); });
    EXPECT_NE(again.find("DL(966): using default LBA for backup " + std::to_string(backupLba)),
              std::string::npos)
        << again;
    EXPECT_EQ(descriptions(changes), (std::vector<std::string>{"Boot Sector NTFS (LBA:63)"}));
}

TEST(DriveLayoutApplyTest, TheDirtyFlagIsClearedInTheMftAndItsMirror) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    NTFS_FS_PARAMS real;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, rawBytes(image.bootSector()), real, 1u << 30));
    setDirtyFlag(image.volumePath(), real);
    SharedPtr<Driver> driver = openImageDriver(image.path());
    const u32 sectors = static_cast<u32>(image.volumeSectors());
    FsCandidate c = ntfsEvidenceOf(real, sectors);
    c.hasBootSector = true;
    c.bootSector = bootOf(image.bootSector());

    SectorChanges changes;
    ASSERT_TRUE(clearChkdskFlag(c, *driver, changes));
    // The flag lies in one sector of the record: one change, and its copy for
    // the mirror.
    const u32 record = static_cast<u32>(c.mftLBA) + 3 * 2;
    const u32 copy = static_cast<u32>(c.mftMirrLBA) + 3 * 2;
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].description, "Volume Information (LBA:" + std::to_string(record) + ")");
    EXPECT_EQ(changes[1].description,
              "Volume Information Mirror (LBA:" + std::to_string(copy) + ")");
    EXPECT_EQ(changes[0].newImage, changes[1].newImage);
    EXPECT_EQ(changes[0].oldImage, changes[1].oldImage);
    // Written back, the volume is clean again.
    writeChanges(image.path(), changes);
    SectorChanges none;
    EXPECT_FALSE(clearChkdskFlag(c, *driver, none));
    EXPECT_TRUE(none.empty());

    // Without an NTFS volume, or with a record size nobody reads.
    c.hasNtfsVolume = false;
    EXPECT_EQ(logOf([&] { EXPECT_FALSE(clearChkdskFlag(c, *driver, none)); }), "DL(896)\n");
    c.hasNtfsVolume = true;
    c.sectorsPerFileRecord = 100000;
    EXPECT_FALSE(clearChkdskFlag(c, *driver, none));
    EXPECT_TRUE(none.empty());
}

TEST(DriveLayoutApplyTest, Fat32BackupAtItsDefaultPlace) {
    TempDir dir;
    FatImageOptions o;
    o.fatBits = 32;
    o.sizeKiB = 40000;
    o.partitionLba = 63;
    FatImage image(dir.file("fat32.img"), o);
    image.addFile("x.txt", "thirty-two");
    FAT_FS_PARAMS real;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, rawBytes(image.bootSector()), real, 1u << 30));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    FsCandidate c = fatEvidenceOf(real);
    c.hasPartitionEntry = true;
    c.partitionType = 0x0C;
    FsCandidateList layout = layoutFor({c}, *driver);
    SectorChanges changes;
    std::ostringstream report;
    const std::string log = logOf([&] { DL::apply(layout, *driver, changes, report, true); });
    EXPECT_NE(log.find("DL(719): using default LBA for backup 69\n"), std::string::npos) << log;
    // mkfs.fat's geometry differs from the repair's: both copies change, to the
    // same image.
    EXPECT_EQ(descriptions(changes),
              (std::vector<std::string>{"Boot Sector FAT32 (LBA:63)",
                                        "Boot Sector Backup FAT32 (LBA:69)"}));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].newImage, changes[1].newImage);
    EXPECT_EQ(layout[1].backupLBA, 69u);
    EXPECT_EQ(layout[1].backupStatus, 1u);
    FAT_FS_PARAMS rebuilt;
    ASSERT_TRUE(fatFsParamsFromBootSector(63, changes[0].newImage.data(), rebuilt, 1u << 30));
    EXPECT_TRUE(rebuilt == real) << rebuilt << "\n--\n" << real;
    EXPECT_TRUE(treeOf(layout[1], driver).count("x.txt"));
    EXPECT_NE(report.str().find("Boot Sector Backup"), std::string::npos);

    // An unreadable backup leaves the primary alone too.
    SharedPtr<dt::Reader> failing(new FailingReader(driver->getReader(), {69}));
    Driver bad(failing, 512);
    layout = layoutFor({c}, bad);
    changes.clear();
    const std::string badLog = logOf([&] { DL::apply(layout, bad, changes, report, true); });
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(layout[1].bootStatus, 0u);
    EXPECT_EQ(layout[1].backupStatus, 0u);
    EXPECT_NE(badLog.find("DL(722): 69\n"), std::string::npos) << badLog;
}

TEST(DriveLayoutApplyTest, WithoutPartitionTablesNoTableIsTouched) {
    TempDir dir;
    FatImageOptions o; // a floppy
    FatImage image(dir.file("floppy.img"), o);
    image.addFile("f.txt", "floppy");
    FAT_FS_PARAMS real;
    ASSERT_TRUE(fatFsParamsFromBootSector(0, rawBytes(image.bootSector()), real, 1u << 30));
    writeAt(image.path(), 0, std::string(512, '\0'));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    driver->getProperties().setUInt8(PROP_USES_PARTITION_TABLES, 0);
    driver->getProperties().setUInt8(PROP_IS_FLOPPY, 1);
    FsCandidate c = fatEvidenceOf(real);
    c.hasSubDirs = false;
    FsCandidateList layout = layoutFor({c}, *driver);
    ASSERT_EQ(layout.size(), 1u);
    // Even a table element in the layout is left alone.
    FsCandidate table;
    table.valid = table.isPartitionTable = true;
    table.entries[0] = FsCandidateEntry{0x01, 0, 2880};
    layout.insert(layout.begin(), table);
    SectorChanges changes;
    std::ostringstream report;
    DL::apply(layout, *driver, changes, report, false);
    EXPECT_EQ(descriptions(changes), (std::vector<std::string>{"Boot Sector FAT12 (LBA:0)"}));
    EXPECT_EQ(layout[1].tableStatus, 0u);
    EXPECT_EQ(report.str().find("Partition Table"), std::string::npos);
    EXPECT_NE(report.str().find("FAT12 File System:"), std::string::npos);
    EXPECT_EQ(ConstArray(changes[0].newImage.data(), 512).getLE32(0x1C), 0u);
    EXPECT_TRUE(treeOf(layout[1], driver).count("f.txt"));
    writeChanges(image.path(), changes);
    EXPECT_NE(image.listing().find("f"), std::string::npos);
}

TEST(DriveLayoutApplyTest, BrokenElements) {
    FsCandidateList layout(1);
    SharedPtr<dt::Reader> reader(new MemoryReader(std::string(4096, '\0')));
    Driver driver(reader, 512);
    SectorChanges changes;
    std::ostringstream report;
    try {
        DL::apply(layout, driver, changes, report, true);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "DL(1169)");
    }
    // A file system of no known type: logged, nothing rebuilt.
    layout[0].valid = true;
    const std::string log = logOf([&] { DL::apply(layout, driver, changes, report, false); });
    EXPECT_NE(log.find("DL(1053): fscode == 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DL(1068): unknown fstype\n"), std::string::npos);
    EXPECT_TRUE(changes.empty());
}
