// The structure dumps: boot sectors made by mkfs.fat, an MBR, FAT and directory
// sectors shown field by field against texts written out by hand, the
// "Changed from" view of rebuilt sectors, and random sectors that must never
// make a dump fail.

#include "fs/StructureDumps.h"

#include "core/Array.h"
#include "fs/DirectoryEntry.h"
#include "tests/support/FailingReader.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

using namespace testutil;

namespace {

using Sector = std::array<u8, 512>;

SharedPtr<Driver> memoryDriver(const std::string& bytes) {
    return SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(new MemoryReader(bytes)), 512));
}

std::string bytesText(const Sector& s) {
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

Sector sectorOf(const std::string& bytes) {
    Sector s{};
    std::memcpy(s.data(), bytes.data(), std::min<std::size_t>(bytes.size(), s.size()));
    return s;
}

std::size_t lineCount(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1))
        ++n;
    return n;
}

// ---- Boot sectors ----

FatImageOptions mkfsOptions(u32 sizeKiB, int fatBits) {
    FatImageOptions options;
    options.sizeKiB = sizeKiB;
    options.fatBits = fatBits;
    return options;
}

TEST(DumpTest, Fat16BootSectorOfMkfs) {
    TempDir dir;
    FatImage image(dir.file("f16.img"), mkfsOptions(20480, 16));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    std::ostringstream os;
    ASSERT_TRUE(dumpBootSectorAt(os, 0, *driver, false));
    EXPECT_EQ(os.str(), "FAT16 Boot Sector (0;0;1;LBA=0)\n"
                        "Jump Code: ebh 3ch 90h\n"
                        "OEM Name: 'mkfs.fat'\n"
                        "Sector Size: 512\n"
                        "Sectors Per Cluster: 4\n"
                        "Reserved Sectors: 4\n"
                        "Number of FATs: 2\n"
                        "Root Entries Count: 512\n"
                        "Total Sectors (16): 40960\n"
                        "Media Descriptor: f8h \n"
                        "Sectors Per FAT: 40\n"
                        "Sectors Per Track: 32\n"
                        "Number of Heads: 4\n"
                        "Hidden Sectors: 0\n"
                        "Total Sectors (32): 0\n"
                        "Drive Number (FAT16): 80h \n"
                        "Extended Signature (FAT16): 29h \n"
                        "Serial Number (FAT16): 305441741\n"
                        "Volume Label (FAT16): 'NO NAME    '\n"
                        "File System (FAT16): 'FAT16   '\n"
                        "Sector Signature: aa55h\n");
}

TEST(DumpTest, Fat32BootSectorOfMkfsBehindAPartitionAndItsBackup) {
    TempDir dir;
    FatImageOptions options = mkfsOptions(40960, 32);
    options.partitionLba = 63;
    options.label = "RESCUE";
    FatImage image(dir.file("f32.img"), options);
    SharedPtr<Driver> driver = openImageDriver(image.path());
    const std::string fields = "Jump Code: ebh 58h 90h\n"
                               "OEM Name: 'mkfs.fat'\n"
                               "Sector Size: 512\n"
                               "Sectors Per Cluster: 1\n"
                               "Reserved Sectors: 32\n"
                               "Number of FATs: 2\n"
                               "Root Entries Count: 0\n"
                               "Total Sectors (16): 0\n"
                               "Media Descriptor: f8h \n"
                               "Sectors Per FAT: 0\n"
                               "Sectors Per Track: 32\n"
                               "Number of Heads: 8\n"
                               "Hidden Sectors: 63\n"
                               "Total Sectors (32): 81920\n"
                               "Sectors Per FAT (FAT32): 630\n"
                               "Mirrored FATs (FAT32): 1\n"
                               "Active Mirror (FAT32): 0\n"
                               "FS Ver. (major) (FAT32): 0\n"
                               "FS Ver. (minor) (FAT32): 0\n"
                               "Root Cluster (FAT32): 2\n"
                               "Info Sector (FAT32): 1\n"
                               "Backup Sector (FAT32): 6\n"
                               "Drive Number (FAT32): 80h \n"
                               "Extended Signature (FAT32): 29h \n"
                               "Serial Number (FAT32): 305441741\n"
                               "Volume Label (FAT32): 'RESCUE     '\n"
                               "File System Type (FAT32): 'FAT32   '\n"
                               "Sector Signature: aa55h\n";
    std::ostringstream os;
    ASSERT_TRUE(dumpBootSectorAt(os, 63, *driver, false));
    EXPECT_EQ(os.str(), "FAT32 Boot Sector (0;1;1;LBA=63)\n" + fields);
    std::ostringstream backup;
    ASSERT_TRUE(dumpBootSectorAt(backup, 69, *driver, true));
    EXPECT_EQ(backup.str(), "FAT32 Boot Sector Backup (0;1;7;LBA=69)\n" + fields);
}

TEST(DumpTest, RebuiltBootSectorShowsOnlyTheChangedFields) {
    TempDir dir;
    FatImage image(dir.file("f32.img"), mkfsOptions(40960, 32));
    SharedPtr<Driver> driver = openImageDriver(image.path());
    const Sector old = sectorOf(image.bootSector());
    Sector rebuilt = old;
    Array a(rebuilt.data(), 512);
    std::memcpy(rebuilt.data() + 3, "REBUILT ", 8);
    a.setU8(13, 8);
    a.setU8(21, 0xF0);
    a.setLE16(40, 0x0081); // one active FAT, the second
    a.setLE32(44, 3);

    std::ostringstream os;
    dumpBootSector(os, rebuilt.data(), 0, *driver, false, old.data());
    const std::string text = os.str();
    EXPECT_NE(text.find("\nOEM Name: 'REBUILT ' (Changed from 'mkfs.fat')\n"), std::string::npos);
    EXPECT_NE(text.find("\nSectors Per Cluster: 8 (Changed from 1)\n"), std::string::npos);
    EXPECT_NE(text.find("\nMedia Descriptor: f0h  (Changed from f8h )\n"), std::string::npos);
    EXPECT_NE(text.find("\nMirrored FATs (FAT32): 0 (Changed from 1)\n"), std::string::npos);
    EXPECT_NE(text.find("\nActive Mirror (FAT32): 1 (Changed from 0)\n"), std::string::npos);
    EXPECT_NE(text.find("\nRoot Cluster (FAT32): 3 (Changed from 2)\n"), std::string::npos);
    EXPECT_EQ(lineCount(text, "Changed from"), 6u) << text;

    // Without an old image, and with an old image equal to the sector, nothing
    // shows as changed.
    const std::array<const u8*, 2> sameAsRebuilt = {nullptr, rebuilt.data()};
    for (const u8* same : sameAsRebuilt) {
        std::ostringstream plain;
        dumpBootSector(plain, rebuilt.data(), 0, *driver, false, same);
        EXPECT_EQ(plain.str().find("Changed from"), std::string::npos);
    }
}

// An NTFS boot sector of a volume past 2 TiB: its 64-bit fields are shown
// whole, so the size does not wrap to a small one.
TEST(DumpTest, NtfsBootSectorShowsWholeSixtyFourBitFields) {
    Sector s{};
    Array a(s.data(), 512);
    const u8 jump[] = {0xEB, 0x52, 0x90};
    std::memcpy(s.data(), jump, 3);
    std::memcpy(s.data() + 3, "NTFS    ", 8);
    a.setLE16(11, 512);
    a.setU8(13, 8);
    a.setU8(21, 0xF8);
    a.setLE16(24, 63);
    a.setLE16(26, 255);
    a.setLE32(28, 2048);
    a.setLE32(36, 0x800080);
    a.setLE64(40, 0x123456789ull);
    a.setLE64(48, 786432);
    a.setLE64(56, 2);
    a.setLE32(64, 0xF6);
    a.setLE32(68, 1);
    a.setLE32(72, 0xDEADBEEF);
    a.setLE16(510, 0xAA55);
    Sector old = s;
    Array(old.data(), 512).setLE64(40, 0x23456789ull);

    auto driver = memoryDriver(std::string(512, '\0'));
    std::ostringstream os;
    dumpBootSector(os, s.data(), 2048, *driver, false, old.data());
    EXPECT_EQ(os.str(), "NTFS Boot Sector (0;32;33;LBA=2048)\n"
                        "Jump Code: ebh 52h 90h\n"
                        "OEM Name: 'NTFS    '\n"
                        "Sector Size: 512\n"
                        "Sectors Per Cluster: 8\n"
                        "Reserved Sectors: 0\n"
                        "Number of FATs: 0\n"
                        "Root Entries Count: 0\n"
                        "Total Sectors (16): 0\n"
                        "Media Descriptor: f8h \n"
                        "Sectors Per FAT: 0\n"
                        "Sectors Per Track: 63\n"
                        "Number of Heads: 255\n"
                        "Hidden Sectors: 2048\n"
                        "Total Sectors (32): 0\n"
                        "Flags (NTFS): 800080h\n"
                        "Total Sectors (NTFS): 4886718345 (Changed from 591751049)\n"
                        "$MFT Start Cluster (NTFS): 786432\n"
                        "$MFT Mirror Start Cluster (NTFS): 2\n"
                        "File Record Size (NTFS): 246\n"
                        "Index Buffer Size (NTFS): 1\n"
                        "Serial Number (NTFS): 3735928559\n"
                        "Sector Signature: aa55h\n");
}

TEST(DumpTest, SectorThatIsNoBootSectorGetsTheHeadingOnly) {
    Sector s{};
    s[510] = 0x55;
    s[511] = 0xAA;
    auto driver = memoryDriver(std::string(512, '\0'));
    std::ostringstream os;
    dumpBootSector(os, s.data(), 0, *driver, true, nullptr);
    EXPECT_EQ(os.str(), "Unknown Boot Sector Backup (0;0;1;LBA=0)\n");
}

// ---- Partition tables ----

const char* const MBR_ROWS =
    "-Boot-System---Start CHS----Start LBA----Finish CHS-----Sectors---Size--\n"
    "0 Yes FAT32X (   0; 32;33)       2048 (   12;223;19)     204800 104.9MB\n"
    "1  No NTFS   (  12;223;20)     206848 (   75; 31;20)    1000000 512.0MB\n"
    "2  No Unused (   0;  0; 0)          0 (    0;  0; 0)          0 0\n"
    "3  No Unused (   0;  0; 0)          0 (    0;  0; 0)          0 0\n"
    "Sector Signature: aa55h\n";

std::string sampleMbr() {
    return makeMbr({PartitionSpec{2048, 204800, 0x0C, true}, PartitionSpec{206848, 1000000, 0x07}});
}

TEST(DumpTest, PartitionTableOfMakeMbr) {
    auto driver = memoryDriver(sampleMbr());
    std::ostringstream os;
    ASSERT_TRUE(dumpPartitionTableAt(os, 0, *driver));
    EXPECT_EQ(os.str(), std::string("Partition Table (0;0;1;LBA=0)\n") + MBR_ROWS);
}

TEST(DumpTest, RebuiltPartitionTableShowsTheTableOnTheDiskAfterIt) {
    const Sector old = sectorOf(sampleMbr());
    Sector rebuilt = sectorOf(
        makeMbr({PartitionSpec{2048, 204800, 0x0C, true}, PartitionSpec{206848, 1000000, 0x07},
                 PartitionSpec{}, PartitionSpec{1206848, 63, 0x9F}}));
    std::memset(rebuilt.data() + 446 + 32, 0, 16);
    rebuilt[446 + 48] = 0x12; // a boot indicator that is neither 0x00 nor 0x80
    auto driver = memoryDriver(std::string(512, '\0'));
    std::ostringstream os;
    dumpPartitionTable(os, rebuilt.data(), 0, *driver, old.data());
    EXPECT_EQ(os.str(), std::string("Partition Table (0;0;1;LBA=0)\n") +
                            "-Boot-System---Start CHS----Start LBA----Finish CHS-----Sectors---"
                            "Size--\n"
                            "0 Yes FAT32X (   0; 32;33)       2048 (   12;223;19)     204800 "
                            "104.9MB\n"
                            "1  No NTFS   (  12;223;20)     206848 (   75; 31;20)    1000000 "
                            "512.0MB\n"
                            "2  No Unused (   0;  0; 0)          0 (    0;  0; 0)          0 0\n"
                            "3 12h (9Fh)  (  75; 31;21)    1206848 (   75; 32;20)         63 "
                            "32.26KB\n"
                            "Sector Signature: aa55h\n"
                            "\nChanged from:\n" +
                            MBR_ROWS);

    // A changed signature alone is a change too.
    Sector unsigned_ = old;
    unsigned_[510] = 0;
    std::ostringstream sig;
    dumpPartitionTable(sig, unsigned_.data(), 0, *driver, old.data());
    EXPECT_NE(sig.str().find("Sector Signature: aa00h\n\nChanged from:\n"), std::string::npos);
}

// ---- The change list ----

TEST(DumpTest, FirstChangeWithTheLbaWins) {
    SectorChanges changes(3);
    changes[0].lba = 9;
    changes[1].lba = 7;
    changes[1].newImage[0] = 1;
    changes[1].oldImage[0] = 2;
    changes[2].lba = 7;
    EXPECT_EQ(findNewSectorImage(7, changes), changes[1].newImage.data());
    EXPECT_EQ(findOldSectorImage(7, changes), changes[1].oldImage.data());
    EXPECT_EQ(findNewSectorImage(9, changes), changes[0].newImage.data());
    EXPECT_EQ(findNewSectorImage(8, changes), nullptr);
    EXPECT_EQ(findOldSectorImage(8, SectorChanges()), nullptr);
}

// ---- FAT sectors ----

// The dump of the FAT sector at lba with its width guessed, which must be
// `expected`.
std::string guessedFatDump(Driver& driver, u32 lba, FatType expected) {
    std::ostringstream os;
    FatType type = FAT_NONE;
    EXPECT_TRUE(dumpFatSector(os, lba, driver, type));
    EXPECT_EQ(type, expected);
    return os.str();
}

std::string lastLine(const std::string& text) {
    return text.substr(text.rfind('\n') + 1);
}

TEST(DumpTest, Fat16SectorAsAGrid) {
    Sector s{};
    Array a(s.data(), 512);
    const u16 entries[] = {0xFFF8, 0xFFFF, 3, 0xFFFF, 0, 0xFFF7, 0xFFF0, 2, 0, 0, 0, 0, 40000};
    for (u32 i = 0; i < 13; ++i)
        a.setLE16(i * 2, entries[i]);
    auto driver = memoryDriver(std::string(512, '\0') + bytesText(s));
    std::ostringstream os;
    FatType type = FAT16;
    ASSERT_TRUE(dumpFatSector(os, 1, *driver, type));
    std::string text = os.str();
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
              "FAT16 (0;0;2;LBA=1)\n"
              "EOF   EOF   3     EOF   FREE  BAD   RSRV  2     FREE  FREE  FREE  FREE  \n");
    EXPECT_EQ(text.substr(text.find('\n', text.find('\n') + 1) + 1, 12), "40000 FREE  ");
    // 256 = 21 x 12 + 4: the last line holds four entries and no newline.
    EXPECT_EQ(lineCount(text, "\n"), 22u);
    EXPECT_EQ(lastLine(text), "FREE  FREE  FREE  FREE  ");
}

TEST(DumpTest, FatGridEdges) {
    Sector fat12{};
    const u8 start12[] = {0xF8, 0xFF, 0xFF};
    std::memcpy(fat12.data(), start12, 3);
    Sector fat32{};
    Array(fat32.data(), 512).setLE32(0, 0x0FFFFFF8);
    Array(fat32.data(), 512).setLE32(4, 0x0FFFFFFF);
    Array(fat32.data(), 512).setLE32(8, 0x0FFFFFFF);
    auto driver = memoryDriver(bytesText(fat12) + bytesText(fat32));

    const std::string text12 = guessedFatDump(*driver, 0, FAT12);
    // 340 = 28 x 12 + 4.
    EXPECT_EQ(lineCount(text12, "\n"), 29u);
    EXPECT_EQ(text12.substr(0, 32), "FAT12 (0;0;1;LBA=0)\nEOF   EOF   ");
    EXPECT_EQ(lastLine(text12), "FREE  FREE  FREE  FREE  ");

    const std::string text32 = guessedFatDump(*driver, 1, FAT32);
    // 128 = 18 x 7 + 2, in columns of ten.
    EXPECT_EQ(lineCount(text32, "\n"), 19u);
    EXPECT_EQ(text32.substr(0, 50), "FAT32 (0;0;2;LBA=1)\nEOF       EOF       EOF       ");
    EXPECT_EQ(lastLine(text32), "FREE      FREE      ");
}

TEST(DumpTest, FatSectorThatFitsBothWidthsIsShownAsFat16Once) {
    Sector s{};
    std::memset(s.data(), 0xFF, 8);
    s[0] = 0xF8;
    auto driver = memoryDriver(bytesText(s) + std::string(512, '\x01'));
    FatType type = FAT_NONE;
    std::ostringstream first;
    ASSERT_TRUE(dumpFatSector(first, 0, *driver, type));
    EXPECT_EQ(first.str().substr(0, first.str().find('\n')),
              "FAT16_32(will be shown as FAT16) (0;0;1;LBA=0)");
    EXPECT_EQ(type, FAT16);
    std::ostringstream second;
    ASSERT_TRUE(dumpFatSector(second, 0, *driver, type));
    EXPECT_EQ(second.str().substr(0, second.str().find('\n')), "FAT16 (0;0;1;LBA=0)");

    // A sector of ones is no FAT start.
    std::ostringstream none;
    FatType unknown = FAT_NONE;
    ASSERT_TRUE(dumpFatSector(none, 1, *driver, unknown));
    EXPECT_EQ(none.str(), "Not FAT\n");
    EXPECT_EQ(unknown, FAT_NONE);
}

// ---- Directories ----

// A short entry: 11-byte name, attributes, cluster, size, 2020-09-13 12:26:40.
void putShort(Sector& s, u32 index, const char* name11, u8 attributes, u32 cluster, u32 size) {
    Array e(s.data() + index * 32, 32);
    e.write(0, name11, 11);
    e.setU8(DE_ATTRIBUTES, attributes);
    e.setLE16(DE_CLUSTER_HIGH, static_cast<u16>(cluster >> 16));
    e.setLE16(DE_CLUSTER_LOW, static_cast<u16>(cluster));
    e.setLE16(DE_WRITE_TIME, (12 << 11) | (26 << 5) | 20);
    e.setLE16(DE_WRITE_DATE, (40 << 9) | (9 << 5) | 13);
    e.setLE32(DE_SIZE, size);
}

// A long-name entry with up to 13 ASCII characters, 0-terminated and padded
// with 0xFFFF when shorter.
void putLfn(Sector& s, u32 index, u8 order, const std::string& chars) {
    static const u32 UNIT_OFFSETS[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    Array e(s.data() + index * 32, 32);
    e.setU8(0, order);
    e.setU8(DE_ATTRIBUTES, ATTR_LONG_NAME);
    for (u32 i = 0; i < 13; ++i) {
        u16 unit = i < chars.size() ? static_cast<u8>(chars[i]) : i == chars.size() ? 0 : 0xFFFF;
        e.setLE16(UNIT_OFFSETS[i], unit);
    }
}

TEST(DumpTest, DirectoryWithLongNamesAndDeletedEntries) {
    Sector s{};
    putShort(s, 0, ".          ", ATTR_DIRECTORY, 5, 0);
    putShort(s, 1, "..         ", ATTR_DIRECTORY, 0, 0);
    putLfn(s, 2, 0x42, "xt");
    putLfn(s, 3, 0x01, "A long name.t");
    putShort(s, 4, "ALONGN~1TXT", ATTR_ARCHIVE, 0x00010007, 1234);
    putLfn(s, 5, ENTRY_DELETED, "gone.bin");
    putShort(s, 6, "\xE5ONE    BIN", ATTR_ARCHIVE | ATTR_READ_ONLY, 9, 0);
    putShort(s, 7, "SUB        ", ATTR_DIRECTORY, 12, 0);
    Sector next{};
    putShort(next, 0, "NEXT       ", ATTR_ARCHIVE, 13, 1);
    auto driver = memoryDriver(std::string(512 * 20, '\0') + bytesText(s) + bytesText(next));

    std::ostringstream os;
    ASSERT_TRUE(dumpDirectorySector(os, 20, *driver));
    EXPECT_EQ(os.str(),
              "Directory (0;0;21;LBA=20)\n"
              "--Name----Ext---Type-----Date-------Time------Size-------Cluster-----Attr-\n"
              ".               Dir   09:13:2020  12:26:40  0           5           ----D-\n"
              "..              Dir   09:13:2020  12:26:40  0           0           ----D-\n"
              "xt              LFN    Order:2     Last:1               0           RHSV--\n"
              "A long name.t   LFN    Order:1     Last:0               0           RHSV--\n"
              "ALONGN~1.TXT    File  09:13:2020  12:26:40  1234        65543       -----A\n"
              "gone.bin       -LFN    Order:37    Last:3               0           RHSV--\n"
              "#ONE.BIN       -File  09:13:2020  12:26:40  0           9           R----A\n"
              "SUB             Dir   09:13:2020  12:26:40  0           12          ----D-\n");
}

// Sector `lba` of a run of full directory sectors, named by sector and slot.
Sector fullDirectorySector(u32 lba) {
    Sector s{};
    for (u32 i = 0; i < 16; ++i) {
        std::string name = "F" + std::to_string(1000 + lba).substr(1) + "_" +
                           std::to_string(100 + i).substr(1) + " TXT";
        putShort(s, i, name.c_str(), ATTR_ARCHIVE, 100 + i, i);
    }
    return s;
}

TEST(DumpTest, FullDirectoryStopsAfterSixteenSectors) {
    std::string disk;
    for (u32 lba = 0; lba < 20; ++lba)
        disk += bytesText(fullDirectorySector(lba));
    auto driver = memoryDriver(disk);
    std::ostringstream os;
    ASSERT_TRUE(dumpDirectorySector(os, 0, *driver));
    EXPECT_EQ(os.str().substr(0, os.str().find('\n')), "Root Directory (0;0;1;LBA=0)");
    EXPECT_EQ(lineCount(os.str(), "\n"), 2u + 256u);
    EXPECT_NE(os.str().find("\nF015_15.TXT "), std::string::npos);
    EXPECT_EQ(os.str().find("F016_"), std::string::npos);
}

TEST(DumpTest, DirectoryEndsWhereAnotherOneBeginsOrTheSourceEnds) {
    Sector other{};
    putShort(other, 0, ".          ", ATTR_DIRECTORY, 7, 0);
    putShort(other, 1, "..         ", ATTR_DIRECTORY, 0, 0);
    auto driver = memoryDriver(bytesText(fullDirectorySector(0)) + bytesText(other));
    std::ostringstream os;
    ASSERT_TRUE(dumpDirectorySector(os, 0, *driver));
    EXPECT_EQ(lineCount(os.str(), "\n"), 2u + 16u);

    auto single = memoryDriver(bytesText(fullDirectorySector(0)));
    std::ostringstream end;
    ASSERT_TRUE(dumpDirectorySector(end, 0, *single));
    EXPECT_EQ(lineCount(end.str(), "\n"), 2u + 16u + 1u);
    EXPECT_EQ(end.str().substr(end.str().rfind('\n', end.str().size() - 2) + 1),
              "Cannot read LBA 1 (1 sector)\n");

    // No directory sector, no dump.
    auto random = memoryDriver(std::string(512, '\x07'));
    std::ostringstream none;
    ASSERT_TRUE(dumpDirectorySector(none, 0, *random));
    EXPECT_EQ(none.str(), "");
}

// The root folder of a real FAT16 volume filled and emptied by mtools.
TEST(DumpTest, DirectoryOfMtools) {
    TempDir dir;
    FatImage image(dir.file("f16.img"), mkfsOptions(20480, 16));
    image.addFile("A rather long file name.txt", "x");
    image.addFile("KEEP.BIN", "y");
    image.addFile("Deleted with long name.dat", "z");
    image.deleteFile("Deleted with long name.dat");
    SharedPtr<Driver> driver = openImageDriver(image.path());
    std::ostringstream os;
    // Root directory: 4 reserved sectors and two FATs of 40.
    ASSERT_TRUE(dumpDirectorySector(os, 84, *driver));
    const std::string text = os.str();
    EXPECT_EQ(text.substr(0, text.find('\n')), "Root Directory (0;1;22;LBA=84)") << text;
    EXPECT_NE(text.find("\nt               LFN    Order:3     Last:1"), std::string::npos) << text;
    EXPECT_NE(text.find("\n file name.tx   LFN    Order:2     Last:0"), std::string::npos) << text;
    EXPECT_NE(text.find("\nA rather long   LFN    Order:1     Last:0"), std::string::npos) << text;
    EXPECT_NE(text.find("\nKEEP.BIN        File"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlong name.dat  -LFN    Order:37    Last:3"), std::string::npos) << text;
    EXPECT_NE(text.find("\n#ELETE~1.DAT   -File"), std::string::npos) << text;
}

// ---- Text pieces and failures ----

TEST(DumpTest, TextPieces) {
    auto driver = memoryDriver(std::string(512, '\0'));
    std::ostringstream chs;
    writeLbaAndChs(chs, 193000, *driver);
    EXPECT_EQ(chs.str(), "(12;3;32;LBA=193000)");

    std::ostringstream flags;
    writeAttributeFlags(flags, 0x21);
    writeAttributeFlags(flags, 0xFF);
    EXPECT_EQ(flags.str(), "R----ARHSVDA");

    const u8 bytes[] = {'a', 0x00, '~', 0x7F, 0xE9, ' '};
    std::ostringstream printableText;
    writePrintable(printableText, bytes, sizeof bytes);
    EXPECT_EQ(printableText.str(), "a.~.. ");

    Sector s{};
    putLfn(s, 0, 0x41, "ab\ncd");
    std::ostringstream lfn;
    writeLfnEntryName(lfn, s.data(), true);
    writeLfnEntryName(lfn, s.data(), false);
    EXPECT_EQ(lfn.str(), "ab.cdab.cd        ");
}

TEST(DumpTest, UnreadableSectorGivesOneLine) {
    auto driver = memoryDriver(std::string(512, '\0'));
    for (int kind = 0; kind < 4; ++kind) {
        std::ostringstream os;
        FatType type = FAT_NONE;
        bool read = kind == 0   ? dumpPartitionTableAt(os, 1, *driver)
                    : kind == 1 ? dumpBootSectorAt(os, 1, *driver, false)
                    : kind == 2 ? dumpFatSector(os, 1, *driver, type)
                                : dumpDirectorySector(os, 1, *driver);
        EXPECT_FALSE(read);
        EXPECT_EQ(os.str(), "Cannot read LBA 1 (1 sector)\n");
    }
    std::ostringstream os;
    u8 buffer[512 * 3];
    EXPECT_FALSE(readDumpSectors(os, 4294967295u, 3, buffer, *driver));
    EXPECT_EQ(os.str(), "Cannot read LBA 4294967295 (3 sectors)\n");
}

// Whatever a sector holds, every dump writes text and returns.
TEST(DumpTest, RandomSectorsNeverBreakADump) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string disk(512 * 64, '\0');
    for (char& c : disk)
        c = static_cast<char>(byte(random));
    // Half of the sectors pass the first tests of a boot sector, so that the
    // field lines of every kind run on random values.
    for (u32 lba = 0; lba < 64; lba += 2) {
        Array a(reinterpret_cast<u8*>(&disk[lba * 512]), 512);
        a.setLE16(11, 512);
        a.setLE16(510, 0xAA55);
        if (lba % 4 == 0) {
            a.setU8(16, 2);
            a.setU8(13, static_cast<u8>(a.getU8(13) | 1));
        } else {
            a.write(3, "NTFS    ", 8);
            a.setU8(16, 0);
            a.setLE16(22, 0);
        }
    }
    auto driver = memoryDriver(disk);
    for (u32 lba = 0; lba < 64; ++lba) {
        const u8* sector = reinterpret_cast<const u8*>(&disk[lba * 512]);
        const u8* old = reinterpret_cast<const u8*>(&disk[(63 - lba) * 512]);
        std::ostringstream os;
        dumpBootSector(os, sector, lba, *driver, lba % 3 == 0, old);
        dumpPartitionTable(os, sector, lba, *driver, old);
        for (FatType t : {FAT_NONE, FAT12, FAT16, FAT32, FAT16_32, static_cast<FatType>(9)}) {
            FatType type = t;
            dumpFatSector(os, lba, *driver, type);
        }
        dumpDirectorySector(os, lba, *driver);
        for (u32 i = 0; i < 16; ++i) {
            writeDirEntryRow(os, sector + i * 32);
            writeLfnEntryName(os, sector + i * 32, false);
        }
        for (int i = 0; i < 4; ++i)
            writePartitionEntryRow(os, i, sector + 446 + 16 * i);
        EXPECT_FALSE(os.str().empty());
    }
}

} // namespace
