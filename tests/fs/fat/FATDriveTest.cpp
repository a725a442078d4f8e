#include "fs/fat/FATDrive.h"

#include "fs/DirectoryEntry.h"
#include "tests/support/FatVolumes.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

using testutil::asciiUnits;
using testutil::checksumOf;
using testutil::lfnEntry;
using testutil::shortEntry;
using testutil::SyntheticVolume;
using tree::Folder;
using tree::Node;

namespace {

using Names = std::vector<std::string>;

Names namesOf(const Folder& f) {
    Names n;
    for (const Node& node : f.getNodes())
        n.push_back(node.getName());
    return n;
}

// A drive over the volume as it stands, with failing sectors if asked.
struct TestDrive {
    explicit TestDrive(const SyntheticVolume& v, std::vector<u64> bad = {})
        : mirror(v.params().sectorsPerFAT),
          drive(std::make_unique<FATDrive>(v.driver(bad), v.params(), mirror, &unreadable)) {}
    Folder root() {
        Folder f(tree::ATTACHED, tree::TOP_FOLDER);
        drive->loadRootDirectory(f);
        return f;
    }
    enum class Dots { REQUIRED, REJECTED, EITHER };
    enum class Visits { MARKED, UNMARKED };
    // The directory at `cluster`, by default with its dots and its visits marked.
    bool read(u32 cluster, Folder& f, Dots dots = Dots::REQUIRED, Visits visits = Visits::MARKED,
              FATDrive::NamedBy namedBy = FATDrive::NamedBy::NOTHING) {
        FATDrive::DirectoryRead how;
        how.requireDots = dots == Dots::REQUIRED;
        how.rejectDots = dots == Dots::REJECTED;
        how.markVisited = visits == Visits::MARKED;
        how.namedBy = namedBy;
        return drive->readDirectory(cluster, f, deleted, how);
    }
    Bitmap mirror;
    UnreadableSectors unreadable;
    std::unique_ptr<FATDrive> drive;
    bool deleted = false;
};

std::string file(const std::string& name11, u32 cluster = 0, u32 size = 0) {
    return shortEntry(name11, ATTR_ARCHIVE, cluster, size);
}

// A subdirectory at `cluster` with "." and "..", then `files` files.
void putSubdirectory(SyntheticVolume& v, u32 cluster, u32 parent, u32 files) {
    v.putEntries(cluster, 0,
                 {shortEntry(".          ", ATTR_DIRECTORY, cluster, 0),
                  shortEntry("..         ", ATTR_DIRECTORY, parent, 0)});
    for (u32 i = 0; i < files; ++i)
        v.putEntries(cluster, 2 + i, {file("F" + std::to_string(1000000 + i) + "   ")});
}

TEST(FatDriveTest, LongNamesNeedTheirSequenceAndChecksum) {
    SyntheticVolume v(FAT16, 100, 1, 2);
    const std::string good = "LONGNA~1TXT", gap = "GAPPED~1TXT", smile = "SMILE~1 TXT";
    const std::string padded = "THIRTE~1TXT";
    const std::string gone = "\xE5ILE    TXT";
    v.putEntries(0, 0,
                 {lfnEntry(0x42, checksumOf(good), asciiUnits("name.txt")),
                  lfnEntry(0x01, checksumOf(good), asciiUnits("A rather long")), file(good),
                  // Sequence numbers 1 and 3: the parts do not belong together.
                  lfnEntry(0x43, checksumOf(gap), asciiUnits("x")),
                  lfnEntry(0x01, checksumOf(gap), asciiUnits("0123456789abc")), file(gap),
                  // The checksum of another short name.
                  lfnEntry(0x41, checksumOf(good), asciiUnits("stolen.txt")), file("OTHER   TXT"),
                  // A character split over two parts (U+1F600 as a surrogate pair).
                  lfnEntry(0x42, checksumOf(smile), {0xDE00, '.', 't', 'x', 't'}),
                  lfnEntry(0x01, checksumOf(smile),
                           {'s', 'm', 'i', 'l', 'e', ' ', 'h', 'e', 'r', 'e', ' ', '!', 0xD83D}),
                  file(smile),
                  // A last part of padding alone, no 0 unit before it.
                  lfnEntry(0x42, checksumOf(padded), std::vector<u16>(13, 0xFFFF)),
                  lfnEntry(0x01, checksumOf(padded), asciiUnits("thirteen.txt!")), file(padded),
                  // Deleted: the first part sets the checksum that the others need.
                  lfnEntry(0xE5, 0x33, asciiUnits("nop")),
                  lfnEntry(0xE5, 0x33, asciiUnits("abcdefghijklm")), file(gone),
                  lfnEntry(0xE5, 0x44, asciiUnits("zzz")),
                  lfnEntry(0xE5, 0x55, asciiUnits("first part")), file(gone), file(gone)});
    EXPECT_EQ(namesOf(TestDrive(v).root()),
              (Names{"A rather longname.txt", "GAPPED~1.TXT", "OTHER.TXT",
                     "smile here !\xF0\x9F\x98\x80.txt", "thirteen.txt!", "abcdefghijklmnop",
                     "first part", "#ILE.TXT"}));
}

TEST(FatDriveTest, EntriesThatCannotBeFilesBecomeNoNodes) {
    SyntheticVolume v(FAT16, 4085);
    v.putEntries(0, 0,
                 {shortEntry("VOLUME  LBL", ATTR_VOLUME_LABEL, 0, 0),
                  shortEntry("SIZEDDIR   ", ATTR_DIRECTORY, 5, 512),
                  shortEntry("NOCLUST    ", ATTR_DIRECTORY, 0, 0),
                  // A copy cut short before its size was written: listed.
                  file("EMPTY   BIN", 7),
                  // Larger than the 4,094 clusters the FAT's 16 sectors number, or
                  // starting past them.
                  file("HUGE    BIN", 8, 4094 * 512 + 1), file("BEYOND  BIN", 4096, 10),
                  shortEntry("BADTIME BIN", ATTR_ARCHIVE, 9, 10, 0x5022, 0xC000),
                  // What stays: an empty file, a size without a cluster, a system file,
                  // and one past the volume's 4,085 clusters that its FAT still numbers
                  // (a volume sized to what a cut copy holds).
                  file("ZERO    BIN"), file("NOCHAIN BIN", 0, 100), std::string(32, '\0'),
                  shortEntry("SYS     BIN", ATTR_SYSTEM, 101, 100 * 512),
                  file("OUTSIDE BIN", 4095, 10)});
    const Folder root = TestDrive(v).root();
    ASSERT_EQ(namesOf(root),
              (Names{"EMPTY.BIN", "ZERO.BIN", "NOCHAIN.BIN", "SYS.BIN", "OUTSIDE.BIN"}));
    const Node& sys = root.node(3);
    EXPECT_TRUE(sys.hasFlag(Node::SYSTEM));
    EXPECT_FALSE(sys.hasFlag(Node::DELETED));
    EXPECT_EQ(sys.getAddress(), 101u);
    EXPECT_EQ(sys.getIndex(), 10u);
    EXPECT_EQ(sys.getSize(), 100u * 512);
    EXPECT_EQ(sys.getTime(), dirEntryTime(testutil::bytesAt(file("SYS     BIN"))));
}

TEST(FatDriveTest, TheRootIsReadWholeUpToItsCountAndABadSectorHidesOnlyItsEntries) {
    struct Case {
        u32 sectors;
        u32 last; // the index of the last entry listed
        bool whole;
    };
    // 4,096 sectors hold the 65,535 entries a boot sector can give the root;
    // parameters that place more were damaged.
    for (const Case& c :
         {Case{120, 1919, true}, Case{4096, 65535, true}, Case{4100, 65535, false}}) {
        SyntheticVolume v(FAT16, 100, 1, c.sectors);
        v.putEntries(0, 0, std::vector<std::string>(c.last, file("FILE    BIN")));
        v.putEntries(0, c.last, {file("LAST    BIN")});
        if (!c.whole)
            v.putEntries(0, c.last + 1, {file("BEYOND  BIN")});
        TestDrive t(v);
        Folder root(tree::ATTACHED, tree::TOP_FOLDER);
        EXPECT_EQ(t.drive->loadRootDirectory(root), c.whole) << c.sectors;
        ASSERT_EQ(root.size(), c.last + 1u) << c.sectors;
        EXPECT_EQ(root.node(c.last).getName(), "LAST.BIN");
    }
    SyntheticVolume v(FAT16, 100, 1, 120);
    v.putEntries(0, 0, {file("FIRST   BIN")});
    v.putEntries(0, 16, {file("LOST    BIN")});
    v.putEntries(0, 1919, {file("LAST    BIN")});
    TestDrive t(v, {v.params().rootDirectoryLBA + 1ull});
    EXPECT_EQ(namesOf(t.root()), (Names{"FIRST.BIN", "LAST.BIN"}));
}

TEST(FatDriveTest, ASubdirectoryFollowsItsChainOnceAndNamesItsParent) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 0, 14); // the first cluster is full
    v.setChain({10, 2});           // and goes on at the first data cluster
    v.putEntries(2, 0, {file("SECOND  BIN")});
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    t.deleted = true;
    ASSERT_TRUE(t.read(10, f));
    EXPECT_FALSE(t.deleted);
    EXPECT_EQ(f.getParent(), 0u);
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(f.node(14).getIndex(), 16u); // the second cluster's first entry
    EXPECT_TRUE(t.drive->getVisitedClusters().test(10 - 2));
    EXPECT_TRUE(t.drive->getVisitedClusters().test(2 - 2));
    Folder again(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.read(10, again)); // a visited cluster is not read again
    EXPECT_TRUE(again.empty());
}

TEST(FatDriveTest, ADeletedDirectoryIsReadInTheClustersThatFollow) {
    SyntheticVolume v(FAT16, 100);
    putSubdirectory(v, 10, 7, 14);
    v.putEntries(11, 0, std::vector<std::string>(15, file("NEXT    BIN")));
    // A live file whose folder's clusters were freed: its chain still holds.
    v.putEntries(11, 15, {file("LIVE    BIN", 40, 1000)});
    v.setChain({40, 41});
    v.putEntries(12, 0, {file("LAST    BIN")});
    v.putEntries(13, 0, {file("NOTREAD BIN")});
    TestDrive t(v);
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_TRUE(t.read(10, f));
    EXPECT_TRUE(t.deleted);
    EXPECT_EQ(f.getParent(), 7u);
    ASSERT_EQ(f.size(), 14u + 16u + 1u);
    for (const Node& n : f.getNodes())
        EXPECT_EQ(n.hasFlag(Node::DELETED), n.getName() != "LIVE.BIN") << n.getName();

    // It ends, whole, where another directory begins, or one read before.
    putSubdirectory(v, 12, 0, 0);
    TestDrive again(v);
    Folder g(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_TRUE(again.read(10, g));
    EXPECT_EQ(g.size(), 14u + 16u);
    v.putEntries(12, 0, {file("LAST    BIN"), std::string(DIR_ENTRY_BYTES, '\0')});
    TestDrive read(v);
    Folder other(tree::ATTACHED, tree::NO_FOLDER);
    read.read(12, other, TestDrive::Dots::EITHER);
    Folder h(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_TRUE(read.read(10, h));
    EXPECT_EQ(h.size(), 14u + 16u);

    // Named by a deleted folder's entry, bytes that are no entry where its
    // dots stood: the cluster is that folder's where what follows reads as
    // entries, and what a file's data now holds gives nothing.
    const std::string junk(DIR_ENTRY_BYTES, '\x7F');
    v.putEntries(20, 0, {junk, junk, file("KEPT    BIN")});
    v.putEntries(30, 0, {junk, junk, file("DATA    BIN"), junk});
    v.putEntries(35, 0, {junk, junk});
    TestDrive named(v);
    Folder kept(tree::ATTACHED, tree::NO_FOLDER), data(kept), bare(kept);
    const auto deletedFolder = FATDrive::NamedBy::DELETED_FOLDER;
    EXPECT_TRUE(
        named.read(20, kept, TestDrive::Dots::REQUIRED, TestDrive::Visits::MARKED, deletedFolder));
    EXPECT_EQ(namesOf(kept), Names{"KEPT.BIN"});
    EXPECT_FALSE(
        named.read(30, data, TestDrive::Dots::REQUIRED, TestDrive::Visits::MARKED, deletedFolder));
    EXPECT_TRUE(data.empty());
    // Nothing behind them: no folder is told by what it does not hold.
    EXPECT_FALSE(
        named.read(35, bare, TestDrive::Dots::REQUIRED, TestDrive::Visits::MARKED, deletedFolder));
}

TEST(FatDriveTest, FreeEntriesDotsAndClusterEdges) {
    SyntheticVolume v(FAT16, 100);
    // Free entries end a directory: one behind them stood where something was
    // lost, and the chain is followed on.
    putSubdirectory(v, 10, 0, 3);
    v.putEntries(10, 9, {file("AFTERGAP   ")});
    v.setChain({10, 11});
    v.putEntries(11, 0, {file("NEXT    BIN")});
    // A long name across a cluster edge; the chain goes on in zeros.
    putSubdirectory(v, 20, 0, 13);
    v.putEntries(20, 15, {lfnEntry(0x41, checksumOf("ACROSS~1BIN"), asciiUnits("across.bin"))});
    v.setChain({20, 30, 31});
    v.putEntries(30, 0, {file("ACROSS~1BIN")});
    // What is no entry makes a directory incomplete, read on along its chain
    // up to a cluster that holds more of what is no entry than of entries.
    putSubdirectory(v, 50, 0, 1);
    v.putEntries(50, 3, {std::string(DIR_ENTRY_BYTES, '\x7F')});
    v.setChain({50, 51, 52, 53});
    v.putEntries(51, 0, {file("READON  BIN")});
    const std::string junk(DIR_ENTRY_BYTES, '\x7F');
    v.putEntries(52, 0, {junk, junk, file("JUNK    BIN")});
    v.putEntries(53, 0, {file("NOTREAD BIN")});
    // A directory without dots.
    v.putEntries(40, 0, {file("PLAIN   BIN")});
    v.setChain({40});
    // A directory of one cluster with an entry behind free ones, and one whose
    // only cluster reads as zeros.
    putSubdirectory(v, 60, 0, 2);
    v.putEntries(60, 7, {file("AFTERGAP   ")});
    v.setChain({60});
    v.setChain({70});
    TestDrive t(v);
    Folder gap(tree::ATTACHED, tree::NO_FOLDER), edge(gap), plain(gap), broken(gap);
    EXPECT_FALSE(t.read(10, gap));
    EXPECT_EQ(namesOf(gap), (Names{"F1000000", "F1000001", "F1000002", "AFTERGAP", "NEXT.BIN"}));
    EXPECT_TRUE(t.read(20, edge));
    EXPECT_EQ(namesOf(edge).back(), "across.bin");
    EXPECT_FALSE(t.read(10, plain, TestDrive::Dots::REJECTED, TestDrive::Visits::UNMARKED));
    EXPECT_FALSE(t.read(40, plain, TestDrive::Dots::REQUIRED, TestDrive::Visits::UNMARKED));
    EXPECT_TRUE(t.read(40, plain, TestDrive::Dots::EITHER, TestDrive::Visits::UNMARKED));
    EXPECT_EQ(namesOf(plain), Names{"PLAIN.BIN"});
    EXPECT_FALSE(t.read(50, broken));
    EXPECT_EQ(namesOf(broken), (Names{"F1000000", "READON.BIN", "JUNK.BIN"}));
    Folder single(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.read(60, single));
    EXPECT_EQ(namesOf(single), (Names{"F1000000", "F1000001", "AFTERGAP"}));
    Folder zeros(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.read(70, zeros));
    EXPECT_TRUE(zeros.empty());
    // Read on past it, the directory is incomplete with what followed.
    v.setChain({80, 81});
    v.putEntries(81, 0, {file("AFTER   BIN")});
    TestDrive on(v);
    Folder rest(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(on.read(80, rest));
    EXPECT_EQ(namesOf(rest), Names{"AFTER.BIN"});
    // "." there and ".." zeroed: its own entries are lost, if nothing else.
    putSubdirectory(v, 90, 0, 0);
    v.putEntries(90, 1, {std::string(DIR_ENTRY_BYTES, '\0')});
    v.setChain({90});
    TestDrive dotOnly(v);
    Folder lone(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(dotOnly.read(90, lone));
}

TEST(FatDriveTest, LoopingEscapingAndEndlessDirectoriesEnd) {
    // 2,049 clusters of 32 entries: one more than a directory's 65,536.
    SyntheticVolume v(FAT16, 4085, 2);
    const std::vector<std::string> full(32, file("FILE    BIN"));
    std::vector<u32> chain;
    for (u32 c = 2; c < 2 + 2049; ++c)
        chain.push_back(c);
    v.setChain(chain);
    v.setEntry(2060, 2060); // onto itself
    v.setEntry(2070, 5000); // past the volume
    for (u32 c : chain)
        v.putEntries(c, 0, full);
    v.putEntries(2060, 0, full);
    v.putEntries(2070, 0, full);
    TestDrive t(v);
    for (u32 start : {2060u, 2070u}) {
        Folder f(tree::ATTACHED, tree::NO_FOLDER);
        EXPECT_FALSE(t.read(start, f, TestDrive::Dots::EITHER)) << start;
        EXPECT_EQ(f.size(), 32u) << start;
    }
    testutil::LogCapture log;
    Folder f(tree::ATTACHED, tree::NO_FOLDER);
    EXPECT_FALSE(t.read(2, f, TestDrive::Dots::EITHER));
    EXPECT_EQ(f.size(), 65536u);
    EXPECT_TRUE(log.has("FATDrive(304): 2\n")) << log.text();
    EXPECT_FALSE(t.read(1500, f, TestDrive::Dots::EITHER));
}

TEST(FatDriveTest, ChainsMustHoldTheSizeExactly) {
    SyntheticVolume v(FAT16, 4000, 4);
    v.setChain({5});
    v.setChain({6, 2});
    v.setChain({8, 9, 10});
    v.setChain({20, 21, 22});
    v.setEntry(22, 20);     // back to its start
    v.setEntry(33, 0xFFFF); // taken from a deleted file's third cluster
    v.setChain({40, 41, 50, 51});
    v.setChain({60, 61, 71});
    v.setChain({70, 71});
    TestDrive t(v);
    for (u32 first : {40, 50, 60, 70})
        t.drive->getChainJoins().noteStart(first);
    bool h = false;
    // As long as their sizes, chains that run into another's first cluster or
    // merge with another chain; the chain run into keeps its own size.
    EXPECT_FALSE(t.drive->checkChain(40, 16, false, h));
    EXPECT_TRUE(t.drive->checkChain(50, 8, false, h));
    EXPECT_FALSE(t.drive->checkChain(60, 12, false, h));
    EXPECT_FALSE(t.drive->checkChain(70, 8, false, h));
    EXPECT_TRUE(t.drive->checkChain(5, 1, false, h));
    EXPECT_FALSE(t.drive->checkChain(6, 1, false, h));  // a link where it should end
    EXPECT_TRUE(t.drive->checkChain(6, 5, false, h));   // on through cluster 2
    EXPECT_FALSE(t.drive->checkChain(8, 13, false, h)); // ends before the size does
    EXPECT_FALSE(t.drive->checkChain(4002, 1, false, h));
    EXPECT_FALSE(t.drive->checkChain(20, 4 * 3990, false, h));
    EXPECT_TRUE(t.drive->checkChain(31, 8, true, h));
    EXPECT_FALSE(t.drive->checkChain(31, 9, true, h));
    EXPECT_FALSE(h);
    // The second sector of cluster 10 is one the scan could not read.
    t.unreadable.add(static_cast<u32>(v.params().get_cluster_LBA(10) + 1));
    t.unreadable.commit();
    EXPECT_TRUE(t.drive->checkChain(8, 9, false, h));
    EXPECT_FALSE(h); // only its first sector is the file's
    EXPECT_TRUE(t.drive->checkChain(8, 10, false, h));
    EXPECT_TRUE(h);
    // Two live entries that start at one cluster: which of them the chain is
    // cannot be told.
    for (int entries = 0; entries < 2; ++entries)
        t.drive->getChainJoins().noteStart(5);
    EXPECT_FALSE(t.drive->checkChain(5, 1, false, h));
}

TEST(FatDriveTest, InvalidClustersAndParametersAreRefused) {
    SyntheticVolume v(FAT16, 4085);
    TestDrive t(v);
    std::vector<u8> buffer(1024);
    testutil::LogCapture log;
    EXPECT_EQ(t.drive->getClusterLBA(1), ~0ull);
    EXPECT_FALSE(t.drive->readClusters(4087, buffer.data(), 0));
    EXPECT_TRUE(log.has("FATDrive(577)\n") && log.has("FATDrive(565)\n")) << log.text();
    EXPECT_FALSE(t.drive->readClusters(4086, buffer.data(), 2)); // past the last cluster
    EXPECT_TRUE(t.drive->readClusters(4086, buffer.data(), 1));
    Bitmap mirror(16);
    for (auto damage : {+[](FAT_FS_PARAMS& p) { p.sectorsPerCluster = 255 * 8 + 1; },
                        +[](FAT_FS_PARAMS& p) { p.fatMirrLBA = p.fatLBA + 1; }}) {
        FAT_FS_PARAMS p = v.params();
        damage(p);
        EXPECT_THROW(FATDrive(v.driver(), p, mirror, nullptr), std::runtime_error);
    }
    // A cluster size no formatter writes is still a size.
    SyntheticVolume odd(FAT16, 100, 3);
    EXPECT_EQ(FATDrive(odd.driver(), odd.params(), mirror, nullptr).getClusterBytes(), 3u * 512);
}

TEST(FatDriveTest, PrintDirEntryWritesEveryField) {
    std::string e = shortEntry("README  TXT", ATTR_READ_ONLY | ATTR_ARCHIVE, 0x12345, 1000);
    e[DE_CREATION_TENTHS] = static_cast<char>(0x80 | 57); // one more second, 57 hundredths
    std::ostringstream os;
    os << std::hex << std::setfill('*');
    printDirEntry(os, testutil::bytesAt(e));
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

TEST(FatDriveTest, EntryInfoTracesTheFolderChain) {
    SyntheticVolume v(FAT16, 4085);
    putSubdirectory(v, 10, 0, 14);
    v.putEntries(11, 0, {file("SECOND  BIN")});
    v.setChain({10, 11});
    TestDrive t(v);
    auto info = [&](u64 folder, const Node& node) {
        std::ostringstream os;
        t.drive->printEntryInfo(os, folder, node);
        return os.str();
    };
    const std::string second = info(10, Node("SECOND.BIN", 11, 16, 0, 0));
    EXPECT_NE(second.find("DOS Name:\tSECOND.BIN\n"), std::string::npos) << second;
    EXPECT_NE(second.find("\nEntry first cluster 11:\t65535(EOF_CLUSTER)\n"), std::string::npos);
    EXPECT_NE(second.find("\nNode first cluster 10:\t11(NEXT_CLUSTER)\n"), std::string::npos);
    EXPECT_NE(info(1, Node("ROOT", 0, 0, 0, 0)).find("\nNode first cluster 1:\tInvalid cluster\n"),
              std::string::npos);
    EXPECT_NE(info(10, Node("FAR", 0, 40, 0, 0)).find("Cannot trace FAT chain\n"),
              std::string::npos);
    EXPECT_NE(info(1, Node("BEYOND", 0, 16, 0, 0)).find("Too big index\n"), std::string::npos);
    EXPECT_EQ(info(1, Node()).substr(0, 14), "Invalid Index\n");
}

} // namespace
