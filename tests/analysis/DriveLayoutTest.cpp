// The drive layout of the selected candidates and the partition tables it
// implies: which tables are elements, which table each entry goes to, the
// sector image of a table (keeping the conventions already on the disk), the
// change it becomes, and the layout's log text.

#include "analysis/DriveLayout.h"

#include "core/Array.h"
#include "core/Log.h"
#include "devices/Driver.h"
#include "fs/StructureChecks.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <stdexcept>

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

// A selected NTFS volume known only from its MFT records.
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

bool sameEntry(const FsCandidateEntry& e, u8 type, u32 start, u32 sectors) {
    return e.type == type && e.startLBA == start && e.sectors == sectors;
}

std::string entries(const FsCandidate& table) {
    std::ostringstream os;
    for (const FsCandidateEntry& e : table.entries)
        os << '{' << unsigned(e.type) << ' ' << e.startLBA << ' ' << e.sectors << '}';
    return os.str();
}

template <typename F> std::string logOf(F f) {
    const std::size_t mark = logMemoryText().size();
    f();
    return logMemoryText().substr(mark);
}

// A drive of DRIVE_SECTORS zero sectors in memory (or with the given first
// sectors), with the properties a chosen source has.
struct MemoryDrive {
    explicit MemoryDrive(const std::string& start = "") {
        std::string bytes(u64{DRIVE_SECTORS} * 512, '\0');
        bytes.replace(0, start.size(), start);
        reader.reset(new MemoryReader(bytes));
        driver.reset(new Driver(reader, 512));
    }
    SharedPtr<dt::Reader> reader;
    SharedPtr<Driver> driver;
};

Sector sectorOf(const std::string& bytes) {
    Sector s{};
    std::copy(bytes.begin(), bytes.begin() + 512, s.begin());
    return s;
}

ConstArray entryOf(const Sector& s, u32 slot) {
    return ConstArray(s.data() + 446 + 16 * slot, 16);
}

} // namespace

TEST(DriveLayoutTest, WithoutPartitionTablesOnlyTheFileSystems) {
    FsCandidate unselected = partition(5000, 100, 0x07, 0, 1);
    unselected.selected = false;
    const FsCandidateList layout =
        layoutOf({partition(63, 1000, 0x06, 0, 0), unselected, looseNtfs(9000, 800)}, false);
    ASSERT_EQ(layout.size(), 2u);
    for (const FsCandidate& e : layout) {
        EXPECT_TRUE(e.valid);
        EXPECT_FALSE(e.isPartitionTable);
        for (const FsCandidateEntry& entry : e.entries)
            EXPECT_EQ(entry.type, 0);
    }
    EXPECT_EQ(layout[0].startLBA, 63u);
    EXPECT_EQ(layout[1].layoutSectors, 800u); // the largest size
}

TEST(DriveLayoutTest, OnePrimaryPartitionGoesToItsOwnSlotOfTheMbr) {
    FsCandidate fs = partition(63, 1000, 0x0C, 0, 2);
    fs.minSectors = 700;
    const FsCandidateList layout = layoutOf({fs});
    ASSERT_EQ(layout.size(), 2u);
    const FsCandidate& mbr = layout[0];
    EXPECT_TRUE(mbr.isPartitionTable && mbr.valid);
    EXPECT_EQ(mbr.startLBA, 0u);
    EXPECT_EQ(mbr.layoutSectors, 1u);
    EXPECT_TRUE(sameEntry(mbr.entries[2], 0x0C, 63, 1000)) << entries(mbr);
    EXPECT_EQ(mbr.entries[0].type, 0);
    EXPECT_EQ(layout[1].parentTableLBA, 0u);
    EXPECT_EQ(layout[1].layoutSectors, 1000u);
}

TEST(DriveLayoutTest, LogicalPartitionsAreChainedThroughTheirRecords) {
    // Primary at 63; extended partition from 100000 with logical partitions in
    // records at 100000 and 300000.
    const FsCandidateList layout = layoutOf({
        partition(63, 50000, 0x07, 0, 0),
        partition(100063, 150000, 0x0B, 100000, 0),
        partition(300063, 20000, 0x04, 300000, 0),
    });
    ASSERT_EQ(layout.size(), 6u);
    const FsCandidate& mbr = layout[0];
    const FsCandidate& ebr1 = layout[2];
    const FsCandidate& ebr2 = layout[4];
    ASSERT_TRUE(ebr1.isPartitionTable && ebr2.isPartitionTable);
    EXPECT_EQ(ebr1.startLBA, 100000u);
    EXPECT_EQ(ebr2.startLBA, 300000u);

    // The MBR links the whole extended partition to the drive's end.
    EXPECT_TRUE(sameEntry(mbr.entries[0], 0x07, 63, 50000)) << entries(mbr);
    EXPECT_TRUE(sameEntry(mbr.entries[1], 0x0F, 100000, LAST_LBA - 100000 + 1)) << entries(mbr);
    EXPECT_EQ(ebr1.parentTableLBA, 0u);
    EXPECT_EQ(ebr1.extendedBaseLBA, 0u);
    // The first record: its logical partition, then the link to the next
    // record, which covers that record and the partition behind it.
    EXPECT_TRUE(sameEntry(ebr1.entries[0], 0x0B, 100063, 150000)) << entries(ebr1);
    EXPECT_TRUE(sameEntry(ebr1.entries[1], 0x05, 300000, 300063 + 20000 - 300000)) << entries(ebr1);
    EXPECT_EQ(ebr2.parentTableLBA, 100000u);
    EXPECT_EQ(ebr2.extendedBaseLBA, 100000u);
    EXPECT_TRUE(sameEntry(ebr2.entries[0], 0x04, 300063, 20000)) << entries(ebr2);
    EXPECT_EQ(layout[3].parentTableLBA, 100000u);
    EXPECT_EQ(layout[5].parentTableLBA, 300000u);

    // On the sectors: data entries relative to their record, links relative to
    // the extended partition, the MBR absolute.
    MemoryDrive d;
    Sector s{};
    DL::formPartitionSector(ebr2, s.data(), *d.driver);
    EXPECT_EQ(entryOf(s, 0).getLE32(8), 63u);
    s.fill(0);
    DL::formPartitionSector(ebr1, s.data(), *d.driver);
    EXPECT_EQ(entryOf(s, 0).getLE32(8), 63u);
    EXPECT_EQ(entryOf(s, 1).getLE32(8), 200000u);
    EXPECT_EQ(entryOf(s, 1).getU8(4), 0x05);
    s.fill(0);
    DL::formPartitionSector(mbr, s.data(), *d.driver);
    EXPECT_EQ(entryOf(s, 1).getLE32(8), 100000u);
    EXPECT_TRUE(isValidMbr(s.data()));
}

TEST(DriveLayoutTest, AFileSystemBehindARecordIsDescribedThere) {
    // Found through the MBR, but it lies after the extended boot record.
    const FsCandidateList layout = layoutOf({
        partition(1063, 5000, 0x04, 1000, 0),
        partition(20000, 3000, 0x0B, 0, 3),
    });
    ASSERT_EQ(layout.size(), 4u);
    EXPECT_EQ(layout[3].startLBA, 20000u);
    EXPECT_EQ(layout[3].parentTableLBA, 1000u);
    // Its slot 3 is honoured in the record.
    EXPECT_TRUE(sameEntry(layout[1].entries[3], 0x0B, 20000, 3000)) << entries(layout[1]);
    EXPECT_EQ(layout[0].entries[3].type, 0);
}

TEST(DriveLayoutTest, AFifthFileSystemGetsNoEntry) {
    FsCandidateList candidates;
    for (u32 i = 0; i < 5; ++i)
        candidates.push_back(partition(63 + 10000 * i, 5000, 0x07, 0, i % 4));
    FsCandidateList layout;
    const std::string log = logOf([&] { layout = layoutOf(candidates); });
    EXPECT_NE(log.find("DL(135): fscode=7, LBA=40063, sectors=5000\nDL(171)\n"), std::string::npos)
        << log;
    for (u32 i = 0; i < 4; ++i)
        EXPECT_TRUE(sameEntry(layout[0].entries[i], 0x07, 63 + 10000 * i, 5000));
}

TEST(DriveLayoutTest, EntryPlacement) {
    FsCandidate t;
    t.valid = t.isPartitionTable = true;
    std::string log = logOf([&] { EXPECT_FALSE(DL::addPartitionEntry(t, 0, 63, 10, 0, true)); });
    EXPECT_EQ(log, "DL(135): fscode=0, LBA=63, sectors=10\nDL(137)\n");
    EXPECT_FALSE(DL::addPartitionEntry(t, 0x07, 63, 0, 0, true));
    // A slot outside 0-3, or a taken one: the first free.
    EXPECT_TRUE(DL::addPartitionEntry(t, 0x07, 63, 10, 9, true));
    EXPECT_TRUE(DL::addPartitionEntry(t, 0x0B, 100, 10, 0, true));
    EXPECT_TRUE(sameEntry(t.entries[1], 0x0B, 100, 10));
    // The same start twice only when duplicates are allowed.
    log = logOf([&] { EXPECT_FALSE(DL::addPartitionEntry(t, 0x0B, 100, 5, 3, false)); });
    EXPECT_NE(log.find("DL(145)\n"), std::string::npos);
    EXPECT_TRUE(DL::addPartitionEntry(t, 0x0B, 100, 5, 3, true));
    EXPECT_TRUE(sameEntry(t.entries[3], 0x0B, 100, 5));

    // Packing keeps the order of the used entries.
    t.entries[0] = FsCandidateEntry{};
    DL::packPartitionEntries(t);
    EXPECT_TRUE(sameEntry(t.entries[0], 0x0B, 100, 10));
    EXPECT_TRUE(sameEntry(t.entries[1], 0x0B, 100, 5));
    EXPECT_EQ(t.entries[2].type, 0);
    EXPECT_EQ(t.entries[3].type, 0);
    FsCandidate notTable;
    notTable.valid = true;
    EXPECT_THROW(
        {
            try {
                DL::packPartitionEntries(notTable);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "DL(394)");
                throw;
            }
        },
        std::runtime_error);
}

TEST(DriveLayoutTest, BrokenLayoutsAreRefused) {
    auto what = [](auto f) -> std::string {
        try {
            f();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no exception";
    };
    const FsCandidateList none;
    const DLayoutOptions options(none, LAST_LBA, true, true);
    FsCandidateList layout;
    EXPECT_EQ(what([&] { DL::buildPartitionTables(layout, options); }), "DL(181)");
    layout.push_back(looseNtfs(0, 10));
    layout[0].valid = true;
    EXPECT_EQ(what([&] { DL::buildPartitionTables(layout, options); }), "DL(183)");
    layout = layoutOf({looseNtfs(63, 10)});
    layout[1].valid = false;
    EXPECT_EQ(what([&] { DL::buildPartitionTables(layout, options); }), "DL(186)");

    // Overlapping file systems are an error only when overlaps are tested.
    const FsCandidateList overlapping = {looseNtfs(63, 1000), looseNtfs(500, 1000)};
    FsCandidateList tested = overlapping;
    tested[0].minSectors = 1000;
    EXPECT_EQ(what([&] { DL::build(layout, DLayoutOptions(tested, LAST_LBA, false, false)); }),
              "DL(86)");
    DL::build(layout, DLayoutOptions(overlapping, LAST_LBA, false, true));
    EXPECT_EQ(layout.size(), 2u);
    // The smallest sizes when asked for.
    DL::build(layout, DLayoutOptions(overlapping, LAST_LBA, false, false));
    EXPECT_EQ(layout[0].layoutSectors, 1u);
}

TEST(DriveLayoutTest, ElementsGoInByStartAndTablesOnce) {
    FsCandidateList layout;
    FsCandidate table;
    table.startLBA = 1000;
    table.minSectors = 1;
    table.isPartitionTable = true;
    EXPECT_EQ(DL::addElement(layout, table, true), nullptr);
    EXPECT_NE(DL::addElement(layout, table, true), nullptr);
    EXPECT_EQ(layout.size(), 1u);
    FsCandidate fs = looseNtfs(1000, 10);
    fs.selected = false;
    EXPECT_EQ(DL::addElement(layout, fs, false), nullptr);
    fs.startLBA = 10;
    EXPECT_EQ(DL::addElement(layout, fs, false), nullptr);
    ASSERT_EQ(layout.size(), 3u);
    EXPECT_EQ(layout[0].startLBA, 10u);
    EXPECT_TRUE(layout[1].isPartitionTable); // equal starts: the earlier first
    EXPECT_TRUE(layout[2].valid);
    // An unselected file system is no obstacle; a selected one is.
    table.startLBA = 10;
    EXPECT_EQ(DL::addElement(layout, table, true), nullptr);
    layout[0].selected = true;
    table.startLBA = 10;
    EXPECT_EQ(DL::addElement(layout, table, true), &layout[0]);
}

TEST(DriveLayoutTest, CylindersBeyondCHS) {
    EXPECT_EQ(clampCylinder(0, 77), 0u);
    EXPECT_EQ(clampCylinder(1023, 5), 1023u);
    EXPECT_EQ(clampCylinder(1024, 0), 0u);
    EXPECT_EQ(clampCylinder(1244, 220), 220u);
    EXPECT_EQ(clampCylinder(1244, 1023), 1023u);
    EXPECT_EQ(clampCylinder(5000, 3), 1023u);
}

TEST(DriveLayoutTest, TheSectorImageOfATable) {
    MemoryDrive d;
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[0] = FsCandidateEntry{0x06, 63, 40000};
    mbr.entries[2] = FsCandidateEntry{0x07, 20000000, 30000000};
    Sector s{};
    DL::formPartitionSector(mbr, s.data(), *d.driver);
    // The same CHS packing as the test images' MBRs, but for the cylinder
    // beyond 1023, whose head and sector stay.
    const Sector expected = sectorOf(makeMbr({PartitionSpec{63, 40000, 0x06}}));
    EXPECT_EQ(hexDump(s.data(), 446 + 32), hexDump(expected.data(), 446 + 32));
    const ConstArray e2 = entryOf(s, 2);
    EXPECT_EQ(e2.getU8(3), 0xFF); // cylinder 1023
    EXPECT_EQ(e2.getU8(2) & 0xC0, 0xC0);
    EXPECT_EQ(e2.getU8(2) & 0x3F, 20000000 % 63 + 1);
    EXPECT_EQ(e2.getLE32(8), 20000000u);
    EXPECT_EQ(e2.getLE32(12), 30000000u);
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);

    // The user's repair geometry.
    d.driver->getProperties().setUInt64(PROP_REPAIR_HEADS, 16);
    d.driver->getProperties().setUInt64(PROP_REPAIR_SECTORS, 32);
    s.fill(0);
    DL::formPartitionSector(mbr, s.data(), *d.driver);
    EXPECT_EQ(entryOf(s, 0).getU8(1), 1);  // head 63 / 32 % 16
    EXPECT_EQ(entryOf(s, 0).getU8(2), 32); // sector 63 % 32 + 1
    EXPECT_EQ(entryOf(s, 0).getU8(3), 0);
}

TEST(DriveLayoutTest, ConventionsAlreadyOnTheSectorSurvive) {
    MemoryDrive d;
    // On the disk: boot code, slot 1 active and of type 0x0C, slot 3 active too.
    Sector s{};
    s[0] = 0xFA;
    s[446 + 16] = 0x80;
    s[446 + 16 + 4] = 0x0C;
    s[446 + 48] = 0x80;
    s[446 + 48 + 4] = 0x83;
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[1] = FsCandidateEntry{0x0B, 63, 1000};
    mbr.entries[3] = FsCandidateEntry{0x07, 2000, 1000};
    DL::formPartitionSector(mbr, s.data(), *d.driver);
    EXPECT_EQ(s[0], 0xFA);
    EXPECT_EQ(entryOf(s, 1).getU8(0), 0x80); // the first active one only
    EXPECT_EQ(entryOf(s, 3).getU8(0), 0x00);
    EXPECT_EQ(entryOf(s, 1).getU8(4), 0x0C); // same family
    EXPECT_EQ(entryOf(s, 3).getU8(4), 0x07); // another family
    // A freed slot is cleared whole.
    mbr.entries[1] = FsCandidateEntry{};
    DL::formPartitionSector(mbr, s.data(), *d.driver);
    EXPECT_EQ(hexDump(s.data() + 446 + 16, 16), hexDump(Sector{}.data(), 16));
    EXPECT_EQ(entryOf(s, 3).getU8(0), 0x00); // the active entry went with it

    // A record at 300000 in an extended partition from 100000 whose link to the
    // next record counts from the record itself, and reaches the drive's end:
    // both stay as the disk has them.
    FsCandidate ebr;
    ebr.valid = ebr.isPartitionTable = true;
    ebr.startLBA = 300000;
    ebr.extendedBaseLBA = 100000;
    ebr.entries[1] = FsCandidateEntry{0x05, 500000, 30000};
    s.fill(0);
    Array link(s.data() + 446 + 16, 16);
    link.setU8(4, 0x0F);
    link.setLE32(8, 500000 - 300000);
    link.setLE32(12, DRIVE_SECTORS - 500000);
    DL::formPartitionSector(ebr, s.data(), *d.driver);
    EXPECT_EQ(link.getLE32(8), 200000u);
    EXPECT_EQ(link.getLE32(12), DRIVE_SECTORS - 500000);
    EXPECT_EQ(link.getU8(4), 0x0F);
    // Short of the end by less than a cylinder: still kept.
    link.setLE32(12, DRIVE_SECTORS - 500000 - 1000);
    DL::formPartitionSector(ebr, s.data(), *d.driver);
    EXPECT_EQ(link.getLE32(12), DRIVE_SECTORS - 500000 - 1000);
    // Anything else, and a base that names another sector, are rebuilt.
    link.setLE32(8, 12345);
    link.setLE32(12, 77);
    DL::formPartitionSector(ebr, s.data(), *d.driver);
    EXPECT_EQ(link.getLE32(8), 400000u);
    EXPECT_EQ(link.getLE32(12), 30000u);
}

TEST(DriveLayoutTest, ATableThatDiffersBecomesAChangeOverZeros) {
    const std::string disk = makeMbr({PartitionSpec{63, 40000, 0x06, true}});
    std::string withCode = disk;
    withCode[0] = '\xFA';
    MemoryDrive d(withCode);
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[0] = FsCandidateEntry{0x06, 63, 40000};
    SectorChanges changes;
    std::string log = logOf([&] { DL::writePartitionTable(mbr, *d.driver, changes); });
    EXPECT_TRUE(changes.empty());
    EXPECT_NE(log.find("DL(434)\nPartition Table"), std::string::npos) << log;

    // One byte off (the count): the new image is made over zeros.
    mbr.entries[0].sectors = 40001;
    log = logOf([&] { DL::writePartitionTable(mbr, *d.driver, changes); });
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_NE(log.find("DL(421): (LBA:0) filling sector with zeroes\n"), std::string::npos);
    const SectorChange& c = changes[0];
    EXPECT_EQ(c.lba, 0u);
    EXPECT_EQ(c.description, "Partition Table (LBA:0)");
    EXPECT_EQ(hexDump(c.oldImage.data(), 512), hexDump(withCode.data(), 512));
    EXPECT_EQ(c.newImage[0], 0);   // no boot code
    EXPECT_EQ(c.newImage[446], 0); // no active partition
    EXPECT_EQ(ConstArray(c.newImage.data(), 512).getLE32(446 + 12), 40001u);
    EXPECT_NE(log.find("Changed from"), std::string::npos);
}

TEST(DriveLayoutTest, TablesArePackedButOnZipDisks) {
    MemoryDrive d;
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[3] = FsCandidateEntry{0x06, 32, 1000};
    SectorChanges changes;
    FsCandidate zip = mbr;
    d.driver->getProperties().set(PROP_DESCRIPTION, "ZIP 100");
    DL::writePartitionTable(zip, *d.driver, changes);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(ConstArray(changes[0].newImage.data(), 512).getLE32(446 + 48 + 8), 32u);
    EXPECT_EQ(zip.entries[3].type, 0x06);

    d.driver->getProperties().set(PROP_DESCRIPTION, "disk");
    DL::writePartitionTable(mbr, *d.driver, changes);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(ConstArray(changes[1].newImage.data(), 512).getLE32(446 + 8), 32u);
    EXPECT_EQ(mbr.entries[0].type, 0x06);
}

TEST(DriveLayoutTest, AnUnreadableTableIsSkipped) {
    MemoryDrive d;
    SharedPtr<dt::Reader> failing(new FailingReader(d.reader, {0}));
    Driver driver(failing, 512);
    FsCandidate mbr;
    mbr.valid = mbr.isPartitionTable = true;
    mbr.entries[0] = FsCandidateEntry{0x06, 63, 1000};
    SectorChanges changes;
    const std::string log = logOf([&] { DL::writePartitionTable(mbr, driver, changes); });
    EXPECT_TRUE(changes.empty());
    EXPECT_NE(log.find("DL(409): 0\n"), std::string::npos) << log;
}

TEST(DriveLayoutTest, TheLayoutInTheLog) {
    FsCandidateList layout = layoutOf({
        partition(63, 50000, 0x07, 0, 0),
        partition(100063, 150000, 0x0B, 100000, 0),
    });
    std::ostringstream os;
    printDriveLayout(os, layout);
    const std::string ntfs = partitionTypeName(0x07);
    const std::string fat32 = partitionTypeName(0x0B);
    const std::string extended = partitionTypeName(0x0F);
    EXPECT_EQ(os.str(), "-> [[0:0] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
                        "   [[" +
                            ntfs + " 63:50062][[" + extended +
                            " 100000:" + std::to_string(LAST_LBA) +
                            "][[Unused][[Unused]\n"
                            "-> [[63:50062] dl.valid Sects:50000 pLBA:0 (" +
                            ntfs +
                            " File System)\n"
                            "-> [[100000:100000] dl.valid Sects:1 pLBA:0 (Partition Table):\n"
                            "   [[" +
                            fat32 +
                            " 100063:250062][[Unused][[Unused][[Unused]\n"
                            "-> [[100063:250062] dl.valid Sects:150000 pLBA:100000 (" +
                            fat32 + " File System)\n");
    layout[1].valid = false;
    os.str("");
    printDriveLayout(os, {layout[1]});
    EXPECT_EQ(os.str(), "-> [[63:50062] !dl.valid Sects:50000 pLBA:0 (" + ntfs + " File System)\n");
}
