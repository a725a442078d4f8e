#include "fs/fat/FATDrive.h"

#include "core/Log.h"
#include "fs/DirectoryEntry.h"
#include "tests/fs/fat/FatTestVolume.h"
#include "tests/support/FailingReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iomanip>
#include <sstream>

using fattest::asciiUnits;
using fattest::lfnEntry;
using fattest::shortEntry;
using fattest::SyntheticVolume;
using tree::Folder;
using tree::Node;

namespace {

constexpr u16 FAT16_EOF = 0xFFFF;

u8 checksumOf(const std::string& name11) {
    return lfnChecksum(reinterpret_cast<const u8*>(name11.data()));
}

// A drive over the volume as it stands, optionally with failing sectors.
struct TestDrive {
    explicit TestDrive(const SyntheticVolume& v, std::vector<u64> bad = {})
        : mirror(v.params().sectorsPerFAT) {
        drive = std::make_unique<FATDrive>(v.watchedDriver(bad, failing), v.params(), mirror,
                                           &unreadable);
    }
    Bitmap mirror;
    UnreadableSectors unreadable;
    testutil::FailingReader* failing = nullptr;
    std::unique_ptr<FATDrive> drive;
};

std::vector<std::string> namesOf(const Folder& f) {
    std::vector<std::string> names;
    for (const Node& n : f.getNodes())
        names.push_back(n.getName());
    return names;
}

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// ---- entries of one directory ----

TEST(FatDriveTest, LiveLongNamesNeedTheirSequenceAndChecksum) {
    SyntheticVolume v(FAT16, 100);
    const std::string good = "LONGNA~1TXT";
    v.putEntry(0, 0, lfnEntry(0x42, checksumOf(good), asciiUnits("name.txt")));
    v.putEntry(0, 1, lfnEntry(0x01, checksumOf(good), asciiUnits("A rather long")));
    v.putEntry(0, 2, shortEntry(good, ATTR_ARCHIVE, 5, 10));
    // Sequence numbers 1 and 3: the parts do not belong together.
    const std::string gap = "GAPPED~1TXT";
    v.putEntry(0, 3, lfnEntry(0x43, checksumOf(gap), asciiUnits("x")));
    v.putEntry(0, 4, lfnEntry(0x01, checksumOf(gap), asciiUnits("0123456789abc")));
    v.putEntry(0, 5, shortEntry(gap, ATTR_ARCHIVE, 6, 10));
    // A checksum of another short name.
    const std::string other = "OTHER   TXT";
    v.putEntry(0, 6, lfnEntry(0x41, checksumOf(good), asciiUnits("stolen.txt")));
    v.putEntry(0, 7, shortEntry(other, ATTR_ARCHIVE, 7, 10));
    TestDrive t(v);
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    EXPECT_EQ(namesOf(root),
              (std::vector<std::string>{"A rather longname.txt", "GAPPED~1.TXT", "OTHER.TXT"}));
}

TEST(FatDriveTest, DeletedLongNamesTakeThePartsWithOneChecksum) {
    SyntheticVolume v(FAT16, 100);
    const std::string deleted = "\xE5ILE    TXT";
    v.putEntry(0, 0, lfnEntry(0xE5, 0x33, asciiUnits("nop")));
    v.putEntry(0, 1, lfnEntry(0xE5, 0x33, asciiUnits("abcdefghijklm")));
    v.putEntry(0, 2, shortEntry(deleted, ATTR_ARCHIVE, 5, 10));
    v.putEntry(0, 3, lfnEntry(0xE5, 0x44, asciiUnits("zzz")));
    v.putEntry(0, 4, lfnEntry(0xE5, 0x55, asciiUnits("first part")));
    v.putEntry(0, 5, shortEntry(deleted, ATTR_ARCHIVE, 6, 10));
    v.putEntry(0, 6, shortEntry(deleted, ATTR_ARCHIVE, 7, 10));
    TestDrive t(v);
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    ASSERT_EQ(namesOf(root),
              (std::vector<std::string>{"abcdefghijklmnop", "first part", "#ILE.TXT"}));
    for (const Node& n : root.getNodes())
        EXPECT_TRUE(n.hasFlag(Node::DELETED));
}

TEST(FatDriveTest, SurrogatePairsSplitOverTwoPartsSurvive) {
    SyntheticVolume v(FAT16, 100);
    const std::string name = "SMILE~1 TXT";
    std::vector<u16> first = asciiUnits("smile here ");
    first.push_back('!');
    first.push_back(0xD83D); // the high half of U+1F600 ends the first part
    v.putEntry(0, 0, lfnEntry(0x42, checksumOf(name), {0xDE00, '.', 't', 'x', 't'}));
    v.putEntry(0, 1, lfnEntry(0x01, checksumOf(name), first));
    v.putEntry(0, 2, shortEntry(name, ATTR_ARCHIVE, 5, 10));
    TestDrive t(v);
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    ASSERT_EQ(root.size(), 1u);
    EXPECT_EQ(root.node(0).getName(), "smile here !\xF0\x9F\x98\x80.txt");
}

TEST(FatDriveTest, EntriesThatCannotBeFilesBecomeNoNodes) {
    SyntheticVolume v(FAT16, 100);
    v.putEntry(0, 0, shortEntry("VOLUME  LBL", ATTR_VOLUME_LABEL, 0, 0));
    v.putEntry(0, 1, shortEntry("SIZEDDIR   ", ATTR_DIRECTORY, 5, 512));
    v.putEntry(0, 2, shortEntry("NOCLUST    ", ATTR_DIRECTORY, 0, 0));
    v.putEntry(0, 3, shortEntry("EMPTY   BIN", ATTR_ARCHIVE, 7, 0));
    v.putEntry(0, 4, shortEntry("HUGE    BIN", ATTR_ARCHIVE, 8, 101 * 512 + 1));
    v.putEntry(0, 5, shortEntry("OUTSIDE BIN", ATTR_ARCHIVE, 102, 10));
    v.putEntry(0, 6, shortEntry("BADTIME BIN", ATTR_ARCHIVE, 9, 10, 0x5022, 0xC000));
    // What stays: an empty file, a file with a size and no cluster, a system file.
    v.putEntry(0, 7, shortEntry("ZERO    BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(0, 8, shortEntry("NOCHAIN BIN", ATTR_ARCHIVE, 0, 100));
    v.putEntry(0, 10, shortEntry("SYS     BIN", ATTR_SYSTEM, 101, 100 * 512));
    TestDrive t(v);
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    ASSERT_EQ(namesOf(root), (std::vector<std::string>{"ZERO.BIN", "NOCHAIN.BIN", "SYS.BIN"}));
    const Node& sys = root.node(2);
    EXPECT_TRUE(sys.hasFlag(Node::SYSTEM));
    EXPECT_FALSE(sys.hasFlag(Node::DELETED));
    EXPECT_EQ(sys.getAddress(), 101u);
    EXPECT_EQ(sys.getIndex(), 10u);
    EXPECT_EQ(sys.getSize(), 100u * 512);
    EXPECT_EQ(sys.getTime(), dirEntryTime(reinterpret_cast<const u8*>(
                                 shortEntry("SYS     BIN", ATTR_SYSTEM, 101, 1).data())));
}

TEST(FatDriveTest, ARootBlockAboveOneHundredSectorsIsCut) {
    SyntheticVolume v(FAT16, 100, 1, 120);
    v.putEntry(0, 1599, shortEntry("LAST    BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(0, 1600, shortEntry("BEYOND  BIN", ATTR_ARCHIVE, 0, 0));
    const std::size_t mark = logMemoryText().size();
    TestDrive t(v);
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    EXPECT_EQ(namesOf(root), std::vector<std::string>{"LAST.BIN"});
    EXPECT_NE(logSince(mark).find("FATDrive(153): 120\n"), std::string::npos);
}

TEST(FatDriveTest, ABadRootSectorHidesOnlyItsOwnEntries) {
    SyntheticVolume v(FAT16, 100, 1, 4);
    v.putEntry(0, 0, shortEntry("FIRST   BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(0, 16, shortEntry("LOST    BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(0, 32, shortEntry("THIRD   BIN", ATTR_ARCHIVE, 0, 0));
    TestDrive t(v, {v.params().rootDirectoryLBA + 1ull});
    Folder root(tree::ATTACHED, tree::TOP_FOLDER);
    t.drive->loadRootDirectory(root);
    EXPECT_EQ(namesOf(root), (std::vector<std::string>{"FIRST.BIN", "THIRD.BIN"}));
}

// ---- directories ----

// A subdirectory at `cluster` with "." and "..", then `files` files.
void putSubdirectory(SyntheticVolume& v, u32 cluster, u32 parent, u32 files, u64 first = 2) {
    v.putEntry(cluster, 0, shortEntry(".          ", ATTR_DIRECTORY, cluster, 0));
    v.putEntry(cluster, 1, shortEntry("..         ", ATTR_DIRECTORY, parent, 0));
    for (u32 i = 0; i < files; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "F%07u   ", static_cast<unsigned>(first + i));
        v.putEntry(cluster, first + i, shortEntry(name, ATTR_ARCHIVE, 0, 0));
    }
}

TEST(FatDriveTest, ASubdirectoryFollowsItsChainAndNamesItsParent) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 0, 14); // the first cluster is full
    v.putEntry(10, 16, shortEntry("SECOND  BIN", ATTR_ARCHIVE, 0, 0));
    v.setChain({10, 20});
    v.putEntry(20, 0, shortEntry("SECOND  BIN", ATTR_ARCHIVE, 0, 0));
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    bool deleted = true;
    ASSERT_TRUE(t.drive->readDirectory(10, f, deleted, true, false, true));
    EXPECT_FALSE(deleted);
    EXPECT_EQ(f.getParent(), 0u);
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(f.node(14).getIndex(), 16u); // the second cluster's first entry
    EXPECT_TRUE(t.drive->getVisitedClusters().test(10 - 2));
    EXPECT_TRUE(t.drive->getVisitedClusters().test(20 - 2));
    // Read once: a second reading of a visited cluster fails at once.
    Folder again(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(10, again, deleted, true, false, true));
    EXPECT_TRUE(again.empty());
}

TEST(FatDriveTest, ADeletedDirectoryIsReadInConsecutiveClusters) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 7, 14);
    for (u32 i = 0; i < 16; ++i)
        v.putEntry(11, i, shortEntry("NEXT    BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(12, 0, shortEntry("LAST    BIN", ATTR_ARCHIVE, 0, 0));
    v.putEntry(13, 0, shortEntry("NOTREAD BIN", ATTR_ARCHIVE, 0, 0));
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    bool deleted = false;
    EXPECT_TRUE(t.drive->readDirectory(10, f, deleted, true, false, true));
    EXPECT_TRUE(deleted);
    EXPECT_EQ(f.getParent(), 7u);
    ASSERT_EQ(f.size(), 14u + 16u + 1u);
    for (const Node& n : f.getNodes())
        EXPECT_TRUE(n.hasFlag(Node::DELETED)) << n.getName();
}

TEST(FatDriveTest, AFreeEntryEndsTheDirectoryWithItsCluster) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 0, 3);
    v.putEntry(10, 9, shortEntry("AFTERGAP   ", ATTR_ARCHIVE, 0, 0));
    v.setChain({10, 11});
    v.putEntry(11, 0, shortEntry("NOTREAD BIN", ATTR_ARCHIVE, 0, 0));
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    bool deleted = false;
    EXPECT_TRUE(t.drive->readDirectory(10, f, deleted, true, false, true));
    EXPECT_EQ(f.size(), 4u);
    EXPECT_EQ(f.node(3).getName(), "AFTERGAP");
}

TEST(FatDriveTest, DotEntriesAreRequiredOrRejectedAsAsked) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 0, 2);
    v.setChain({10});
    v.putEntry(11, 0, shortEntry("PLAIN   BIN", ATTR_ARCHIVE, 0, 0));
    v.setChain({11});
    TestDrive t(v);
    bool deleted = false;
    Folder a(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(10, a, deleted, false, true, false));
    Folder b(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(11, b, deleted, true, false, false));
    Folder c(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_TRUE(t.drive->readDirectory(11, c, deleted, false, false, false));
    EXPECT_EQ(c.size(), 1u);
}

TEST(FatDriveTest, ALongNameIsReadAcrossAClusterEdge) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 0, 13);
    const std::string name = "ACROSS~1BIN";
    v.putEntry(10, 15, lfnEntry(0x41, checksumOf(name), asciiUnits("across.bin")));
    v.putEntry(30, 0, shortEntry(name, ATTR_ARCHIVE, 0, 0));
    v.setChain({10, 30});
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    bool deleted = false;
    EXPECT_TRUE(t.drive->readDirectory(10, f, deleted, true, false, true));
    ASSERT_EQ(f.size(), 14u);
    EXPECT_EQ(f.node(13).getName(), "across.bin");
}

// A directory of `clusters` full clusters of 16 files each, chained from 2.
SyntheticVolume longDirectory(u32 clusters) {
    SyntheticVolume v(FAT16, 1100);
    std::vector<u32> chain;
    const std::string file = shortEntry("FILE    BIN", ATTR_ARCHIVE, 0, 0);
    for (u32 c = 2; c < 2 + clusters; ++c) {
        chain.push_back(c);
        for (u32 i = 0; i < 16; ++i)
            v.putEntry(c, i, file);
    }
    v.setChain(chain);
    return v;
}

TEST(FatDriveTest, ADirectoryEndsAtAThousandClusters) {
    bool deleted = false;
    {
        SyntheticVolume v = longDirectory(1000);
        TestDrive t(v);
        Folder f(tree::ATTACHED, tree::NO_FOLDER);
        EXPECT_TRUE(t.drive->readDirectory(2, f, deleted, false, false, true));
        EXPECT_EQ(f.size(), 16000u);
    }
    SyntheticVolume v = longDirectory(1001);
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(t.drive->readDirectory(2, f, deleted, false, false, true));
    EXPECT_EQ(f.size(), 16000u);
    EXPECT_NE(logSince(mark).find("FATDrive(304)\n"), std::string::npos);
}

TEST(FatDriveTest, LoopingAndEscapingChainsEndTheDirectory) {
    SyntheticVolume v(FAT16, 100);
    const std::string file = shortEntry("FILE    BIN", ATTR_ARCHIVE, 0, 0);
    for (u32 i = 0; i < 16; ++i) {
        v.putEntry(10, i, file);
        v.putEntry(20, i, file);
    }
    v.setEntry(10, 10);   // onto itself
    v.setEntry(20, 5000); // past the volume
    TestDrive t(v);
    bool deleted = false;
    Folder a(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(10, a, deleted, false, false, true));
    EXPECT_EQ(a.size(), 16u);
    Folder b(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(20, b, deleted, false, false, true));
    EXPECT_EQ(b.size(), 16u);
    Folder c(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.drive->readDirectory(500, c, deleted, false, false, true));
}

// ---- chains ----

TEST(FatDriveTest, ALiveChainMustEndExactlyWhereTheSizeDoes) {
    SyntheticVolume v(FAT16, 100, 4);
    v.setChain({5});
    v.setChain({6, 7});
    v.setChain({8, 9, 10});
    TestDrive t(v);
    bool h = false;
    EXPECT_TRUE(t.drive->checkChain(5, 1, false, h));
    EXPECT_FALSE(t.drive->checkChain(6, 1, false, h));   // NEXT where it should end
    EXPECT_TRUE(t.drive->checkChain(6, 5, false, h));    // 2 clusters, part of the second
    EXPECT_FALSE(t.drive->checkChain(6, 9, false, h));   // ends before the size does
    EXPECT_FALSE(t.drive->checkChain(200, 1, false, h)); // no such cluster
    EXPECT_FALSE(h);
}

TEST(FatDriveTest, ADeletedFileNeedsFreeClustersFromItsFirst) {
    SyntheticVolume v(FAT16, 100);
    TestDrive clean(v);
    bool h = false;
    EXPECT_TRUE(clean.drive->checkChain(20, 3, true, h));
    v.setEntry(22, 0xFFFF);
    TestDrive taken(v);
    EXPECT_FALSE(taken.drive->checkChain(20, 3, true, h));
    EXPECT_TRUE(taken.drive->checkChain(20, 2, true, h));
}

TEST(FatDriveTest, ALoopingChainFails) {
    SyntheticVolume v(FAT16, 4000);
    v.setEntry(10, 11);
    v.setEntry(11, 12);
    v.setEntry(12, 10);
    TestDrive t(v);
    bool h = false;
    EXPECT_FALSE(t.drive->checkChain(10, 3990, false, h));
    EXPECT_FALSE(t.drive->checkChain(12, 4, false, h));
}

TEST(FatDriveTest, SectorsTheScanCouldNotReadMarkTheChain) {
    SyntheticVolume v(FAT16, 100, 4);
    v.setChain({5, 6});
    TestDrive t(v);
    // The second sector of cluster 6.
    t.unreadable.add(static_cast<u32>(v.params().dataClusterLBA + 4 * (6 - 2) + 1));
    t.unreadable.commit();
    bool h = false;
    EXPECT_TRUE(t.drive->checkChain(5, 5, false, h));
    EXPECT_FALSE(h); // only the first sector of cluster 6 belongs to the file
    EXPECT_TRUE(t.drive->checkChain(5, 6, false, h));
    EXPECT_TRUE(h);
}

TEST(FatDriveTest, InvalidClustersAreNeverRead) {
    SyntheticVolume v(FAT16, 100);
    TestDrive t(v);
    std::vector<u8> buffer(512);
    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(t.drive->getClusterLBA(1), ~0ull);
    EXPECT_FALSE(t.drive->readClusters(102, buffer.data(), 0));
    const std::string log = logSince(mark);
    EXPECT_NE(log.find("FATDrive(577)\n"), std::string::npos);
    EXPECT_NE(log.find("FATDrive(565)\n"), std::string::npos);
    EXPECT_EQ(t.drive->getClusterLBA(2), v.params().dataClusterLBA);
    // A read that would run past the last cluster is refused.
    EXPECT_FALSE(t.drive->readClusters(101, buffer.data(), 2));
    EXPECT_TRUE(t.drive->readClusters(101, buffer.data(), 1));
}

TEST(FatDriveTest, RefusesParametersThatDescribeNoVolume) {
    SyntheticVolume v(FAT16, 100);
    FAT_FS_PARAMS p = v.params();
    p.sectorsPerCluster = 256;
    Bitmap mirror(16);
    EXPECT_THROW(FATDrive(v.driver(), p, mirror, nullptr), std::runtime_error);
    p = v.params();
    p.fatMirrLBA = p.fatLBA;
    EXPECT_THROW(FATDrive(v.driver(), p, mirror, nullptr), std::runtime_error);
    // A cluster size no formatter writes is still a size.
    SyntheticVolume odd(FAT16, 100, 3);
    FATDrive drive(odd.driver(), odd.params(), mirror, nullptr);
    EXPECT_EQ(drive.getClusterBytes(), 3u * 512);
}

// ---- entry texts ----

TEST(FatDriveTest, PrintDirEntryWritesEveryField) {
    std::string e = shortEntry("README  TXT", ATTR_READ_ONLY | ATTR_ARCHIVE, 0x12345, 1000);
    e[13] = static_cast<char>(0x80 | 57); // creation: one more second, 57 hundredths
    std::ostringstream os;
    os << std::hex << std::setfill('*');
    printDirEntry(os, reinterpret_cast<const u8*>(e.data()));
    EXPECT_EQ(os.str(), "DOS Name:\tREADME.TXT\n"
                        "Size:\t\t1000\n"
                        "Cluster:\t74565\n"
                        "Attributes:\tread-only archive \n"
                        "Dates:\n"
                        "  DOS Date [month:day:year]:\t[01:02:2020]\n"
                        "  Creation [month:day:year]:\t[01:02:2020]\n"
                        "  Last Access [month:day:year]:\t[01:02:2020]\n"
                        "  DOS Time [hour:minute:second/2]:\t\t[03:04:03]\n"
                        "  Creation Time [hour:minute:second:hundreds]:\t[03:04:07:057]\n");
    EXPECT_EQ(os.fill(), '*');
    EXPECT_TRUE(os.flags() & std::ios::hex);
}

TEST(FatDriveTest, EntryInfoOfTheFixedRootAndOfAFolder) {
    SyntheticVolume v(FAT16, 100);
    v.putEntry(0, 3, shortEntry("ROOTFILEBIN", ATTR_ARCHIVE, 5, 10));
    v.setChain({5});
    putSubdirectory(v, 10, 0, 14);
    v.putEntry(11, 0, shortEntry("SECOND  BIN", ATTR_ARCHIVE, 0, 0));
    v.setChain({10, 11});
    TestDrive t(v);

    Node rootFile("ROOTFILE.BIN", 5, 3, 10, 0);
    std::ostringstream a;
    t.drive->printEntryInfo(a, 1, rootFile);
    EXPECT_EQ(a.str().substr(0, 40), "Node Address:\t1\n---\nDOS Name:\tROOTFILE.B");
    EXPECT_NE(a.str().find("\nEntry first cluster 5:\t65535(EOF_CLUSTER)\n"), std::string::npos);
    EXPECT_NE(a.str().find("\nNode first cluster 1:\tInvalid cluster\n"), std::string::npos);

    Node second("SECOND.BIN", 0, 16, 0, 0);
    std::ostringstream b;
    t.drive->printEntryInfo(b, 10, second);
    EXPECT_NE(b.str().find("DOS Name:\tSECOND.BIN\n"), std::string::npos);
    EXPECT_NE(b.str().find("\nNode first cluster 10:\t11(NEXT_CLUSTER)\n"), std::string::npos);

    Node far("FAR", 0, 40, 0, 0);
    std::ostringstream c;
    t.drive->printEntryInfo(c, 10, far);
    EXPECT_NE(c.str().find("Cannot trace FAT chain\n"), std::string::npos);

    Node beyond("BEYOND", 0, 16, 0, 0);
    std::ostringstream d;
    t.drive->printEntryInfo(d, 1, beyond);
    EXPECT_NE(d.str().find("Too big index\n"), std::string::npos);

    std::ostringstream e;
    t.drive->printEntryInfo(e, 1, Node());
    EXPECT_EQ(e.str().substr(0, 14), "Invalid Index\n");
}

} // namespace
