// The structure dumps of the layout report and the structure view: a boot
// sector mkfs.fat wrote shown field by field once as golden text, with the
// "Changed from" view of a rebuilt sector; the 64-bit NTFS fields; partition
// tables, FAT grids and directories against text written out by hand, and the
// bounds of each. That no sector makes a dump fail is BootSectorFuzz's to find.

#include "fs/StructureDumps.h"

#include "core/Array.h"
#include "fs/DirectoryEntry.h"
#include "fs/StructureChecks.h"
#include "tests/support/FatBytes.h"
#include "tests/support/FatCorpus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

using namespace testutil;

namespace {

std::string text(const Sector& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

Sector sectorOf(const std::string& bytes) {
    Sector s{};
    std::memcpy(s.data(), bytes.data(), std::min<std::size_t>(bytes.size(), s.size()));
    return s;
}

std::size_t count(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1))
        ++n;
    return n;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string lastLine(const std::string& text) {
    return text.substr(text.rfind('\n') + 1);
}

TEST(DumpTest, BootSectorOfMkfsAndARebuiltOne) {
    const FatCorpus& v = fatCorpus(32);
    SharedPtr<Driver> driver = openImageDriver(v.path);
    const std::string fields = "Jump Code: ebh 58h 90h\nOEM Name: 'mkfs.fat'\nSector Size: 512\n"
                               "Sectors Per Cluster: 1\nReserved Sectors: 32\nNumber of FATs: 2\n"
                               "Root Entries Count: 0\nTotal Sectors (16): 0\n"
                               "Media Descriptor: f8h \nSectors Per FAT: 0\nSectors Per Track: 32\n"
                               "Number of Heads: 8\nHidden Sectors: 2048\n"
                               "Total Sectors (32): 72000\nSectors Per FAT (FAT32): 554\n"
                               "Mirrored FATs (FAT32): 1\nActive Mirror (FAT32): 0\n"
                               "FS Ver. (major) (FAT32): 0\nFS Ver. (minor) (FAT32): 0\n"
                               "Root Cluster (FAT32): 2\nInfo Sector (FAT32): 1\n"
                               "Backup Sector (FAT32): 6\nDrive Number (FAT32): 80h \n"
                               "Extended Signature (FAT32): 29h \n"
                               "Serial Number (FAT32): 305441741\n"
                               "Volume Label (FAT32): 'HBLABEL    '\n"
                               "File System Type (FAT32): 'FAT32   '\nSector Signature: aa55h\n";
    std::ostringstream primary;
    ASSERT_TRUE(dumpBootSectorAt(primary, 2048, *driver, false));
    EXPECT_EQ(primary.str(), "FAT32 Boot Sector (0;32;33;LBA=2048)\n" + fields);

    const Sector old = sectorOf(v.image().bootSector());
    Sector rebuilt = old;
    Array a(rebuilt.data(), 512);
    a.write(BS_OEM_NAME, "REBUILT ", BS_OEM_NAME_BYTES);
    a.setU8(BS_MEDIA, MEDIA_FLOPPY);
    a.setLE16(BS32_FLAGS, FAT32_NOT_MIRRORED | 1);
    std::ostringstream os;
    dumpBootSector(os, rebuilt.data(), 2048, *driver, false, old.data());
    for (const char* line : {"\nOEM Name: 'REBUILT ' (Changed from 'mkfs.fat')\n",
                             "\nMedia Descriptor: f0h  (Changed from f8h )\n",
                             "\nMirrored FATs (FAT32): 0 (Changed from 1)\n",
                             "\nActive Mirror (FAT32): 1 (Changed from 0)\n"})
        EXPECT_EQ(count(os.str(), line), 1u) << line << os.str();
    EXPECT_EQ(count(os.str(), "Changed from"), 4u);
}

// NTFS past 2 TiB: the 64-bit fields whole, not wrapped to a small size.
TEST(DumpTest, NtfsFieldsOf64Bits) {
    Sector ntfs = ntfsBootSector(0x123456789ull, 8, 786432, 2, 0xF6);
    Array(ntfs.data(), 512).setLE32(BSN_SERIAL, 0xDEADBEEF);
    Sector old = ntfs;
    Array(old.data(), 512).setLE64(BSN_TOTAL_SECTORS, 0x23456789ull);
    std::ostringstream os;
    dumpBootSector(os, ntfs.data(), 2048, *openMemoryDriver(std::string(512, '\0')), false,
                   old.data());
    EXPECT_NE(os.str().find("\nFlags (NTFS): 0h\nTotal Sectors (NTFS): 4886718345 (Changed from "
                            "591751049)\n$MFT Start Cluster (NTFS): 786432\n"
                            "$MFT Mirror Start Cluster (NTFS): 2\nFile Record Size (NTFS): 246\n"
                            "Index Buffer Size (NTFS): 0\nSerial Number (NTFS): 3735928559\n"
                            "Sector Signature: aa55h\n"),
              std::string::npos)
        << os.str();
}

TEST(DumpTest, PartitionTableAndTheTableOnTheDiskBeforeItWasRebuilt) {
    const std::string rows =
        "-Boot-System---Start CHS----Start LBA----Finish CHS-----Sectors---Size--\n"
        "0 Yes FAT32X (   0; 32;33)       2048 (   12;223;19)     204800 104.9MB\n"
        "1  No NTFS   (  12;223;20)     206848 (   75; 31;20)    1000000 512.0MB\n";
    const std::string empty = "2  No Unused (   0;  0; 0)          0 (    0;  0; 0)          0 0\n";
    const std::string old = makeMbr({{2048, 204800, 0x0C, true}, {206848, 1000000, 0x07}});
    Sector rebuilt = sectorOf(
        makeMbr({{2048, 204800, 0x0C, true}, {206848, 1000000, 0x07}, {}, {1206848, 63, 0x9F}}));
    std::memset(&rebuilt[PARTITION_TABLE_OFFSET + 2 * PARTITION_ENTRY_BYTES], 0,
                PARTITION_ENTRY_BYTES);
    rebuilt[PARTITION_TABLE_OFFSET + 3 * PARTITION_ENTRY_BYTES] = 0x12; // neither 0x00 nor 0x80
    auto driver = openMemoryDriver(old);
    std::ostringstream os;
    dumpPartitionTable(os, rebuilt.data(), 0, *driver, bytesAt(old));
    EXPECT_EQ(os.str(), "Partition Table (0;0;1;LBA=0)\n" + rows + empty +
                            "3 12h (9Fh)  (  75; 31;21)    1206848 (   75; 32;20)         63 "
                            "32.26KB\nSector Signature: aa55h\n\nChanged from:\n" +
                            rows + empty + "3" + empty.substr(1) + "Sector Signature: aa55h\n");
}

TEST(DumpTest, FatSectorsAsGridsOfTheirWidth) {
    Sector fat16{};
    const u16 entries[] = {0xFFF8, 0xFFFF, 3, 0xFFFF, 0, 0xFFF7, 0xFFF0, 2, 0, 0, 0, 0, 40000};
    for (u32 i = 0; i < 13; ++i)
        Array(fat16.data(), 512).setLE16(2 * i, entries[i]);
    Sector fat12{};
    std::memcpy(fat12.data(), "\xF8\xFF\xFF", 3);
    Sector both{}; // a FAT16 and a FAT32 start alike
    std::memcpy(both.data(), "\xF8\xFF\xFF\x3F\xFF\xFF\xFF\x03", 8);
    auto driver =
        openMemoryDriver(text(fat16) + text(fat12) + text(both) + std::string(512, '\x01'));
    auto dump = [&](u32 lba, FatType& type) {
        std::ostringstream os;
        EXPECT_TRUE(dumpFatSector(os, lba, *driver, type));
        return os.str();
    };
    FatType type = FAT16;
    const std::string grid = dump(0, type);
    EXPECT_EQ(grid.substr(0, grid.find('\n', 21) + 13),
              "FAT16 (0;0;1;LBA=0)\n"
              "EOF   EOF   3     EOF   FREE  BAD   RSRV  2     FREE  FREE  FREE  FREE  \n"
              "40000 FREE  ");
    // 340 entries of FAT12: none read past the sector.
    type = FAT_NONE;
    EXPECT_EQ(count(dump(1, type), "\n"), 29u);
    EXPECT_EQ(type, FAT12);
    // Shown as FAT16, and the next sectors of that FAT follow without the note.
    type = FAT_NONE;
    EXPECT_EQ(firstLine(dump(2, type)), "FAT16_32(will be shown as FAT16) (0;0;3;LBA=2)");
    EXPECT_EQ(type, FAT16);
    type = FAT_NONE;
    EXPECT_EQ(dump(3, type), "Not FAT\n");
    EXPECT_EQ(type, FAT_NONE);
}

// A run of directory sectors, each entry named by its sector and slot.
std::string fullDirectory(u32 sectors) {
    std::string disk;
    for (u32 lba = 0; lba < sectors; ++lba) {
        for (u32 i = 0; i < 16; ++i)
            disk += shortEntry("F" + std::to_string(1000 + lba).substr(1) + "_" +
                                   std::to_string(100 + i).substr(1) + " TXT",
                               ATTR_ARCHIVE, 100 + i, i);
    }
    return disk;
}

TEST(DumpTest, DirectoriesWithLongNamesDeletedEntriesAndTheirEnds) {
    const u16 date = (40 << 9) | (9 << 5) | 13, time = (12 << 11) | (26 << 5) | 20;
    std::string dir = shortEntry(".          ", ATTR_DIRECTORY, 5, 0, date, time) +
                      shortEntry("..         ", ATTR_DIRECTORY, 0, 0, date, time) +
                      lfnEntry(0x42, 0, asciiUnits("xt")) +
                      lfnEntry(0x01, 0, asciiUnits("A long name.t")) +
                      shortEntry("ALONGN~1TXT", ATTR_ARCHIVE, 0x00010007, 1234, date, time) +
                      lfnEntry(ENTRY_DELETED, 0, asciiUnits("gone.bin")) +
                      shortEntry("\xE5ONE    BIN", ATTR_ARCHIVE | ATTR_READ_ONLY, 9, 0, date, time);
    dir.resize(512, '\0');
    std::ostringstream os;
    ASSERT_TRUE(dumpDirectorySector(os, 1, *openMemoryDriver(std::string(512, '\0') + dir)));
    EXPECT_EQ(os.str(),
              "Directory (0;0;2;LBA=1)\n"
              "--Name----Ext---Type-----Date-------Time------Size-------Cluster-----Attr-\n"
              ".               Dir   09:13:2020  12:26:40  0           5           ----D-\n"
              "..              Dir   09:13:2020  12:26:40  0           0           ----D-\n"
              "xt              LFN    Order:2     Last:1               0           RHSV--\n"
              "A long name.t   LFN    Order:1     Last:0               0           RHSV--\n"
              "ALONGN~1.TXT    File  09:13:2020  12:26:40  1234        65543       -----A\n"
              "gone.bin       -LFN    Order:37    Last:3               0           RHSV--\n"
              "#ONE.BIN       -File  09:13:2020  12:26:40  0           9           R----A\n");
    // At most sixteen sectors; up to where another directory starts, or the
    // source ends; nothing at all when the first sector is none.
    std::ostringstream full, other, end, none;
    ASSERT_TRUE(dumpDirectorySector(full, 0, *openMemoryDriver(fullDirectory(20))));
    EXPECT_EQ(firstLine(full.str()), "Root Directory (0;0;1;LBA=0)");
    EXPECT_EQ(count(full.str(), "\n"), 2u + 256u);
    EXPECT_EQ(count(full.str(), "F016_"), 0u);
    ASSERT_TRUE(dumpDirectorySector(other, 0, *openMemoryDriver(fullDirectory(1) + dir)));
    EXPECT_EQ(count(other.str(), "\n"), 2u + 16u);
    ASSERT_TRUE(dumpDirectorySector(end, 0, *openMemoryDriver(fullDirectory(1))));
    EXPECT_EQ(lastLine(end.str().substr(0, end.str().size() - 1)), "Cannot read LBA 1 (1 sector)");
    ASSERT_TRUE(dumpDirectorySector(none, 0, *openMemoryDriver(std::string(512, '\x07'))));
    EXPECT_EQ(none.str(), "");
}

TEST(DumpTest, AnUnreadableSectorGivesOneLine) {
    auto driver = openMemoryDriver(std::string(512, '\0'));
    for (int kind = 0; kind < 4; ++kind) {
        std::ostringstream os;
        FatType type = FAT_NONE;
        EXPECT_FALSE(kind == 0   ? dumpPartitionTableAt(os, 1, *driver)
                     : kind == 1 ? dumpBootSectorAt(os, 1, *driver, false)
                     : kind == 2 ? dumpFatSector(os, 1, *driver, type)
                                 : dumpDirectorySector(os, 1, *driver));
        EXPECT_EQ(os.str(), "Cannot read LBA 1 (1 sector)\n");
    }
    std::ostringstream os;
    u8 buffer[512 * 3];
    EXPECT_FALSE(readDumpSectors(os, 4294967295u, 3, buffer, *driver));
    EXPECT_EQ(os.str(), "Cannot read LBA 4294967295 (3 sectors)\n");
}

} // namespace
