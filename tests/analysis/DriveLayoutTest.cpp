// The drive layout of the selected candidates, as its log text shows it: which
// tables are elements and which entries each holds; a table's sector image,
// keeping the conventions already on the disk; and the repair of real volumes:
// which sectors change, their statuses, the report, and the volume read again.

#include "analysis/DriveLayout.h"
#include "analysis/DriveLayoutApply.h"
#include "core/Array.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "fs/ntfs/NtfsRecord.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TestUtil.h"
#include "tests/support/VolumeEvidence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <sstream>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;
constexpr u32 DRIVE_SECTORS = 1u << 20;
constexpr u32 LAST_LBA = DRIVE_SECTORS - 1;

// A selected file system found through the entry in `slot` of the table at
// `table`, of exactly `sectors` sectors.
FsCandidate partition(u32 start, u32 sectors, u8 type, u32 table, u32 slot) {
    FsCandidate c;
    c.startLBA = start;
    c.hasPartitionEntry = true;
    c.partitionType = type;
    c.partitionSectors = sectors;
    c.partitionTableLBA = table;
    c.partitionEntryIndex = slot;
    c.minSectors = c.maxSectors = sectors;
    c.selected = true;
    return c;
}

FsCandidate looseNtfs(u32 start, u32 sectors) {
    FsCandidate c;
    c.startLBA = start;
    c.hasNtfsVolume = true;
    c.minSectors = 1;
    c.maxSectors = sectors;
    c.selected = true;
    return c;
}

FsCandidateList layoutOf(const FsCandidateList& candidates, bool tables = true) {
    FsCandidateList layout;
    DL::build(layout, DLayoutOptions(candidates, LAST_LBA, tables, true));
    return layout;
}

// "{07}" stands for the six-character name of type 0x07.
std::string names(std::string text) {
    for (std::size_t at; (at = text.find('{')) != std::string::npos;)
        text.replace(
            at, 4,
            partitionTypeName(static_cast<u8>(std::stoi(text.substr(at + 1, 2), nullptr, 16))));
    return text;
}

SharedPtr<Driver> memoryDriver(const std::string& start = "") {
    std::string bytes(u64{DRIVE_SECTORS} * 512, '\0');
    bytes.replace(0, start.size(), start);
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(new MemoryReader(bytes)), 512));
}

ConstArray entryOf(const u8* sector, u32 slot) {
    return ConstArray(sector + 446 + 16 * slot, 16);
}

struct LayoutCase {
    const char* name;
    FsCandidateList candidates;
    bool tables;
    std::string expected;
    const char* logLine;
};

std::ostream& operator<<(std::ostream& os, const LayoutCase& c) {
    return os << c.name;
}

const std::string END = std::to_string(LAST_LBA);

const LayoutCase LAYOUTS[] = {
    {"APrimaryGoesToItsOwnSlot",
     {partition(63, 1000, 0x0C, 0, 2)},
     true,
     "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
     "   [[Unused][[Unused][[{0c} 63:1062][[Unused]\n"
     "-> [[63:1062] dl.valid Sects:1000 pLBA:0 ({0c} File System)\n",
     ""},
    // Logical partitions are chained through their records: the MBR links the
    // whole extended partition to the drive's end, a record the next record
    // with the partition behind it.
    {"LogicalPartitionsAreChained",
     {partition(63, 50000, 7, 0, 0), partition(100063, 150000, 0x0B, 100000, 0),
      partition(300063, 20000, 4, 300000, 0)},
     true,
     "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
     "   [[{07} 63:50062][[{0f} 100000:" +
         END +
         "][[Unused][[Unused]\n"
         "-> [[63:50062] dl.valid Sects:50000 pLBA:0 ({07} File System)\n"
         "-> [[100000:100000] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
         "   [[{0b} 100063:250062][[{05} 300000:320062][[Unused][[Unused]\n"
         "-> [[100063:250062] dl.valid Sects:150000 pLBA:100000 ({0b} File System)\n"
         "-> [[300000:300000] dl.valid Sects:1 pLBA:100000 (Partition Table):\n"
         "   [[{04} 300063:320062][[Unused][[Unused][[Unused]\n"
         "-> [[300063:320062] dl.valid Sects:20000 pLBA:300000 ({04} File System)\n",
     ""},
    // Found through the MBR, but lying after a record: described there.
    {"AFileSystemBehindARecordIsDescribedThere",
     {partition(1063, 5000, 4, 1000, 0), partition(20000, 3000, 0x0B, 0, 3)},
     true,
     "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
     "   [[{0f} 1000:" +
         END +
         "][[Unused][[Unused][[Unused]\n"
         "-> [[1000:1000] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
         "   [[{04} 1063:6062][[Unused][[Unused][[{0b} 20000:22999]\n"
         "-> [[1063:6062] dl.valid Sects:5000 pLBA:1000 ({04} File System)\n"
         "-> [[20000:22999] dl.valid Sects:3000 pLBA:1000 ({0b} File System)\n",
     ""},
    {"AFifthFileSystemGetsNoEntry",
     {partition(63, 500, 7, 0, 0), partition(1063, 500, 7, 0, 1), partition(2063, 500, 7, 0, 2),
      partition(3063, 500, 7, 0, 3), partition(4063, 500, 7, 0, 0)},
     true,
     "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
     "   [[{07} 63:562][[{07} 1063:1562][[{07} 2063:2562][[{07} 3063:3562]\n"
     "-> [[63:562] dl.valid Sects:500 pLBA:0 ({07} File System)\n"
     "-> [[1063:1562] dl.valid Sects:500 pLBA:0 ({07} File System)\n"
     "-> [[2063:2562] dl.valid Sects:500 pLBA:0 ({07} File System)\n"
     "-> [[3063:3562] dl.valid Sects:500 pLBA:0 ({07} File System)\n"
     "-> [[4063:4562] dl.valid Sects:500 pLBA:0 ({07} File System)\n",
     "DL(135): fscode=7, LBA=4063, sectors=500\nDL(171)\n"},
    // A volume in sector 0 would make the MBR point at itself.
    {"AVolumeAtSectorZeroGetsNoEntry",
     {looseNtfs(0, 2000)},
     true,
     "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
     "   [[Unused][[Unused][[Unused][[Unused]\n"
     "-> [[0:1999] dl.valid Sects:2000 pLBA:0 ({07} File System)\n",
     "DriveLayout(3): the file system at 0 lies on its partition table; no entry\n"},
};

class DriveLayoutTableTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DriveLayoutTableTest, AsTheLogShowsIt) {
    LogCapture log;
    const FsCandidateList layout = layoutOf(GetParam().candidates, GetParam().tables);
    std::ostringstream os;
    printDriveLayout(os, layout);
    EXPECT_EQ(os.str(), names(GetParam().expected));
    EXPECT_TRUE(log.has(GetParam().logLine)) << log.text();
}

INSTANTIATE_TEST_SUITE_P(Layouts, DriveLayoutTableTest, ::testing::ValuesIn(LAYOUTS),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                             return std::string(info.param.name);
                         });

// The call throws std::runtime_error with exactly this text.
auto throws(const char* text) {
    return testing::ThrowsMessage<std::runtime_error>(testing::StrEq(text));
}

TEST(DriveLayoutTest, EntriesAndOverlappingVolumes) {
    FsCandidate t;
    t.valid = t.isPartitionTable = true;
    EXPECT_FALSE(DL::addPartitionEntry(t, 0, 63, 10, 0, true));
    EXPECT_TRUE(DL::addPartitionEntry(t, 7, 63, 10, 9, true));  // no such slot: the first free
    EXPECT_FALSE(DL::addPartitionEntry(t, 7, 63, 5, 3, false)); // no duplicates
    // Chosen volumes that overlap are refused.
    FsCandidateList layout;
    FsCandidateList overlapping = {looseNtfs(63, 1000), looseNtfs(500, 1000)};
    overlapping[0].minSectors = 1000;
    EXPECT_THAT([&] { DL::build(layout, DLayoutOptions(overlapping, LAST_LBA, false, false)); },
                throws("DL(86)"));
    EXPECT_EQ(clampCylinder(1244, 220), 220u);
}

TEST(DriveLayoutTest, ATableThatDiffersBecomesAChangeOverZeros) {
    std::string disk = makeMbr({PartitionSpec{63, 40000, 6, true}});
    disk[0] = '\xFA';
    SharedPtr<Driver> d = memoryDriver(disk);
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[0] = FsCandidateEntry{6, 63, 40000};
    SectorChanges changes;
    DL::writePartitionTable(mbr, *d, changes);
    EXPECT_TRUE(changes.empty());
    mbr.entries[0].sectors = 40001;
    LogCapture log;
    DL::writePartitionTable(mbr, *d, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_TRUE(log.has("DL(421): (LBA:0) filling sector with zeroes\n"));
    EXPECT_EQ(changes[0].description, "Partition Table (LBA:0)");
    EXPECT_EQ(hexDump(changes[0].oldImage.data(), 512), hexDump(disk.data(), 512));
    EXPECT_EQ(changes[0].newImage[0], 0);   // no boot code
    EXPECT_EQ(changes[0].newImage[446], 0); // no active partition

    // Packed, but on a ZIP disk the lone entry keeps its slot; an unreadable
    // table is skipped.
    FsCandidate lone;
    lone.valid = lone.isPartitionTable = true;
    lone.entries[3] = FsCandidateEntry{6, 32, 1000};
    FsCandidate zip = lone;
    d->getProperties().set(PROP_DESCRIPTION, "ZIP 100");
    DL::writePartitionTable(zip, *d, changes);
    EXPECT_EQ(entryOf(changes.back().newImage.data(), 3).getLE32(8), 32u);
    d->getProperties().set(PROP_DESCRIPTION, "disk");
    DL::writePartitionTable(lone, *d, changes);
    EXPECT_EQ(entryOf(changes.back().newImage.data(), 0).getLE32(8), 32u);
    Driver bad(SharedPtr<dt::Reader>(new FailingReader(d->getReader(), {0})), 512);
    DL::writePartitionTable(lone, bad, changes);
    EXPECT_EQ(changes.size(), 3u);
    EXPECT_TRUE(log.has("DL(409): 0\n"));
}

// ---- The repair of real volumes ----

FsCandidateList layoutFor(const FsCandidateList& candidates, Driver& driver) {
    const bool tables = driver.getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 1) != 0;
    FsCandidateList layout;
    DL::build(layout, DLayoutOptions(candidates, static_cast<u32>(driver.getSectorCount() - 1),
                                     tables, true));
    return layout;
}

std::string descriptions(const SectorChanges& changes) {
    std::string out;
    for (const SectorChange& c : changes)
        out += c.description + "\n";
    return out;
}

// Sets the dirty flag in the $Volume record of the MFT and of its mirror.
void setDirtyFlag(const std::string& volume, const NTFS_FS_PARAMS& p) {
    const u64 recordBytes = p.sectorsPerFileRecord * 512;
    for (u64 lcn : {p.mftLCN, p.mftMirrLCN}) {
        const u64 at = lcn * p.sectorsPerCluster * 512 + 3 * recordBytes;
        std::string record = readAt(volume, at, recordBytes);
        Array a(reinterpret_cast<u8*>(&record[0]), static_cast<u32>(record.size()));
        ASSERT_TRUE(NtfsRecordParser::applyFixups(a));
        for (u32 off = a.getLE16(0x14); a.getLE32(off) != 0xFFFFFFFF; off += a.getLE32(off + 4))
            if (a.getLE32(off) == 0x70)
                a.setU8(off + a.getLE16(off + 0x14) + 10, 0x01);
        ASSERT_TRUE(NtfsRecordParser::undoFixups(a));
        writeAt(volume, at, record);
    }
}

TEST(DriveLayoutApplyTest, NtfsTakesItsIntactBackupAndTheDirtyFlagIsCleared) {
    TempDir dir;
    NtfsImageOptions o;
    o.partitionLba = 63;
    NtfsImage image(dir.file("ntfs.img"), o);
    const std::string original = image.bootSector();
    NTFS_FS_PARAMS real;
    ASSERT_TRUE(ntfsFsParamsFromBootSector(63, reinterpret_cast<const u8*>(original.data()), real,
                                           1u << 30));
    setDirtyFlag(image.volumePath(), real);
    ASSERT_TRUE(NtfsBuilder(image).zeroBootSector().run());
    const u32 sectors = static_cast<u32>(image.volumeSectors());
    SharedPtr<Driver> driver = openImageDriver(image.path());
    FsCandidate c = ntfsEvidenceOf(real, sectors);
    c.hasPartitionEntry = true;
    c.partitionType = 7;
    c.partitionSectors = sectors;
    FsCandidateList layout = layoutFor({c}, *driver);
    SectorChanges changes;
    std::ostringstream report;
    LogCapture log;
    DL::apply(layout, *driver, changes, report, true);
    // The MBR is right; the primary gets the backup as it stands (at its
    // default place); the $Volume record's flag sector and its mirror copy.
    const std::string record = std::to_string(c.mftLBA + 6);
    const std::string copy = std::to_string(c.mftMirrLBA + 6);
    EXPECT_EQ(descriptions(changes),
              "Boot Sector NTFS (LBA:63)\nVolume Information (LBA:" + record +
                  ")\nVolume Information Mirror (LBA:" + copy + ")\n");
    EXPECT_EQ(hexDump(changes[0].newImage.data(), 512), hexDump(original.data(), 512));
    EXPECT_EQ(changes[1].newImage, changes[2].newImage);
    EXPECT_TRUE(log.has("DL(966): using default LBA for backup " + std::to_string(62 + sectors)));
    EXPECT_TRUE(log.has("DL(994): (LBA:63) using backup boot sector\n"));
    EXPECT_EQ(layout[1].bootStatus, 1u);
    EXPECT_EQ(layout[1].backupStatus, 2u);
    EXPECT_EQ(layout[1].tableStatus, 2u);
    EXPECT_NE(report.str().find("NTFS File System:\n\n"), std::string::npos);
    EXPECT_NE(report.str().find("NTFS Volume"), std::string::npos);
    c.hasNtfsVolume = false;
    EXPECT_FALSE(clearChkdskFlag(c, *driver, changes));
    EXPECT_TRUE(log.has("DL(896)\n"));
}

TEST(DriveLayoutApplyTest, NoTableIsWrittenOverAVolumeAtSectorZero) {
    TempDir dir;
    FatImage floppy(dir.file("floppy.img"), FatImageOptions{});
    FAT_FS_PARAMS real;
    ASSERT_TRUE(fatFsParamsFromBootSector(
        0, reinterpret_cast<const u8*>(floppy.bootSector().data()), real, 1u << 30));
    SharedPtr<Driver> driver = openImageDriver(floppy.path());
    FsCandidate f = fatEvidenceOf(real);
    f.hasSubDirs = false;
    FsCandidateList layout = layoutFor({f}, *driver);
    ASSERT_TRUE(layout[0].isPartitionTable);
    SectorChanges changes;
    std::ostringstream report;
    LogCapture log;
    DL::apply(layout, *driver, changes, report, true);
    for (const SectorChange& c : changes)
        EXPECT_NE(c.description, "Partition Table (LBA:0)");
    EXPECT_TRUE(
        log.has("DriveLayoutApply(4): (LBA:0) a file system starts here; no partition table\n"));
}

} // namespace
