#include "fs/fat/FATMapImpl.h"

#include "core/Log.h"
#include "devices/UnreadableSectors.h"
#include "fs/DirectoryEntry.h"
#include "tests/fs/fat/FatTestVolume.h"
#include "tests/support/FsImages.h"
#include "tests/support/TestUtil.h"
#include "tree/ParserReport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>

using fattest::buildTree;
using fattest::listTree;
using fattest::openVolume;
using fattest::patternData;
using fattest::recoverAll;
using testutil::FatImage;
using testutil::FatImageOptions;
using testutil::IMAGE_EPOCH;
using testutil::readAll;
using testutil::readAt;
using testutil::TempDir;
using testutil::writeAt;
using tree::Node;

namespace {

struct Expected {
    std::string data;
    std::time_t mtime;
};
using Files = std::map<std::string, Expected>;

// Adds a file to the image and to what the tree must give back.
void add(FatImage& image, Files& files, const std::string& path, const std::string& data) {
    // Even seconds: FAT keeps two-second steps.
    const std::time_t mtime = IMAGE_EPOCH - 86400 * static_cast<std::time_t>(files.size() + 1) -
                              2 * static_cast<std::time_t>(files.size());
    image.addFile(path, data, mtime);
    files[path] = Expected{data, mtime};
}

// Folders three deep, long and non-ASCII names, files of 0, 1, one cluster and
// several clusters, and a folder whose entries fill more than one cluster.
Files fillVolume(FatImage& image, u64 clusterBytes) {
    Files files;
    image.makeFolder("Docs");
    image.makeFolder("Docs/Deep");
    image.makeFolder("Docs/Deep/Deeper");
    image.makeFolder("Many");
    add(image, files, "empty.txt", "");
    add(image, files, "one.bin", "x");
    add(image, files, "exact.bin", patternData(clusterBytes, 1));
    add(image, files, "multi.bin", patternData(5 * clusterBytes + 123, 2));
    add(image, files, "Docs/A long file name with spaces.txt", patternData(3000, 3));
    add(image, files, "Docs/readme.md", "hello\n");
    add(image, files, "Docs/Deep/Grüße aus Köln.txt", patternData(777, 4));
    add(image, files, "Docs/Deep/Deeper/日本語のファイル.dat",
        patternData(2 * clusterBytes + 1, 5));
    for (int i = 0; i < 24; ++i)
        add(image, files, "Many/file number " + std::to_string(i) + ".txt",
            patternData(100 + 37 * i, 10 + i));
    return files;
}

u64 clusterBytesOf(const fattest::Volume& v) {
    return static_cast<u64>(v.params.sectorsPerCluster) * 512;
}

// Every expected file is in the tree, live, with its size, time and a good chain.
void expectTree(tree::Map& map, const Files& files) {
    const auto listing = listTree(map);
    for (const auto& f : files) {
        auto it = listing.find(f.first);
        ASSERT_NE(it, listing.end()) << f.first;
        const Node& n = it->second;
        EXPECT_FALSE(n.hasFlag(Node::DELETED)) << f.first;
        EXPECT_EQ(n.getSize(), f.second.data.size()) << f.first;
        EXPECT_EQ(n.getTime(), static_cast<u32>(f.second.mtime)) << f.first;
        EXPECT_EQ(n.getStatus(), tree::GOOD_IN_FAT) << f.first;
        EXPECT_FALSE(n.hasFlag(Node::HAS_UNREADABLE)) << f.first;
    }
}

void expectRecovered(const std::string& dest, const Files& files, bool checkTimes = true) {
    for (const auto& f : files) {
        const std::string path = dest + "/" + f.first;
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0) << f.first;
        const std::string data = readAll(path);
        EXPECT_TRUE(data == f.second.data)
            << f.first << ": " << data.size() << " bytes, expected " << f.second.data.size();
        if (checkTimes) {
            EXPECT_EQ(st.st_mtime, f.second.mtime) << f.first;
        }
    }
}

struct ImageKind {
    const char* name;
    FatImageOptions options;
};

std::ostream& operator<<(std::ostream& os, const ImageKind& k) {
    return os << k.name;
}

FatImageOptions options(u32 sizeKiB, int bits, u32 spc = 0, u32 partitionLba = 0) {
    FatImageOptions o;
    o.sizeKiB = sizeKiB;
    o.fatBits = bits;
    o.sectorsPerCluster = spc;
    o.partitionLba = partitionLba;
    return o;
}

class FatMapImplImageTest : public ::testing::TestWithParam<ImageKind> {};

TEST_P(FatMapImplImageTest, EveryLiveFileComesBackWithItsNameAndTime) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), GetParam().options);
    auto probe = openVolume(image);
    const Files files = fillVolume(image, clusterBytesOf(*probe));
    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    expectTree(*map, files);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

INSTANTIATE_TEST_SUITE_P(
    Images, FatMapImplImageTest,
    ::testing::Values(ImageKind{"Fat12Floppy", options(1440, 0)},
                      ImageKind{"Fat16BehindAnMbr", options(16384, 16, 0, 2048)},
                      ImageKind{"Fat32", options(40000, 32, 1)},
                      ImageKind{"Fat32BehindAnMbr", options(270000, 32, 8, 63)}),
    [](const ::testing::TestParamInfo<ImageKind>& info) { return info.param.name; });

TEST(FatMapImplTest, DeletedFilesAndFoldersComeBackWhileTheirClustersAreFree) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files live;
    Files gone;
    image.makeFolder("Old Folder");
    add(image, gone, "Old Folder/inner file one.txt", patternData(5000, 1));
    add(image, gone, "Old Folder/inner file two.txt", patternData(70, 2));
    add(image, live, "kept file.bin", patternData(9000, 3));
    add(image, gone, "gone long name.bin", patternData(12345, 4));
    add(image, live, "after.bin", patternData(100, 5));
    image.deleteFile("gone long name.bin");
    image.deleteTree("Old Folder");

    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    for (const auto& f : gone) {
        auto it = listing.find(f.first);
        ASSERT_NE(it, listing.end()) << f.first;
        EXPECT_TRUE(it->second.hasFlag(Node::DELETED)) << f.first;
        EXPECT_EQ(it->second.getStatus(), tree::GOOD_IN_FAT) << f.first;
    }
    ASSERT_NE(listing.find("Old Folder"), listing.end());
    EXPECT_TRUE(listing.at("Old Folder").hasFlag(Node::DELETED));
    expectTree(*map, live);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), live);
    expectRecovered(dir.file("out"), gone);
}

TEST(FatMapImplTest, TheVolumeLabelIsNoFile) {
    TempDir dir;
    FatImageOptions o = options(1440, 0);
    o.label = "MYDISK";
    FatImage floppy(dir.file("floppy.img"), o);
    Files files;
    add(floppy, files, "a.txt", "a");
    auto v12 = openVolume(floppy);
    auto map12 = buildTree(*v12);
    auto listing = listTree(*map12);
    EXPECT_EQ(listing.size(), 1u);
    expectTree(*map12, files);

    // On FAT32 the label opens the root's first cluster; the root goes on past it.
    o = options(40000, 32, 1);
    o.label = "BIGDISK";
    FatImage fat32(dir.file("fat32.img"), o);
    Files many;
    for (int i = 0; i < 40; ++i)
        add(fat32, many, "root file " + std::to_string(i) + ".txt", patternData(10, i));
    auto v32 = openVolume(fat32);
    auto map32 = buildTree(*v32);
    EXPECT_EQ(listTree(*map32).size(), 40u);
    expectTree(*map32, many);
}

// The image's first cluster of a file in the root of a FAT12/16 volume.
u32 rootFileCluster(const FatImage& image, const fattest::Volume& v, const std::string& name11) {
    return fattest::entryClusterIn(image.path(), v.params, 0, name11);
}

TEST(FatMapImplTest, ACyclicChainEndsAndTheFileStillReads) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files files;
    add(image, files, "CHAIN.BIN", patternData(3 * 2048, 7));
    auto probe = openVolume(image);
    ASSERT_EQ(probe->params.sectorsPerCluster, 4u);
    const u32 c = rootFileCluster(image, *probe, "CHAIN   BIN");
    // c -> c+1 -> c: the chain comes back before the size is covered.
    fattest::setFatEntry(image.path(), probe->params, c + 1, c);

    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    ASSERT_EQ(listing.count("CHAIN.BIN"), 1u);
    EXPECT_EQ(listing.at("CHAIN.BIN").getStatus(), tree::BAD_IN_FAT);
    // Read on in the clusters that follow the last one before the loop.
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

TEST(FatMapImplTest, CyclicDirectoriesAreEnteredOnce) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files files;
    image.makeFolder("LOOP");
    image.makeFolder("LOOP/SUB");
    image.makeFolder("SELF");
    add(image, files, "LOOP/IN.TXT", "in loop");
    add(image, files, "LOOP/SUB/DEEP.TXT", "deep");
    add(image, files, "SELF/ME.TXT", "me");
    auto probe = openVolume(image);
    const std::string path = image.path();
    const u32 loop = rootFileCluster(image, *probe, "LOOP       ");
    const u32 sub = fattest::entryClusterIn(path, probe->params, loop, "SUB        ");
    const u32 self = rootFileCluster(image, *probe, "SELF       ");
    // SUB holds a folder entry naming LOOP, its own parent; SELF's chain names
    // itself.
    writeAt(path, fattest::clusterOffset(probe->params, sub) + 3 * 32,
            fattest::shortEntry("BACK       ", ATTR_DIRECTORY, loop, 0));
    fattest::setFatEntry(path, probe->params, self, self);

    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    EXPECT_EQ(listing.count("LOOP/SUB/BACK"), 1u);
    EXPECT_EQ(listing.count("LOOP/SUB/BACK/IN.TXT"), 0u);
    std::ostringstream report;
    tree::ParserReport(map.get(), &report, false, nullptr).run();
    EXPECT_NE(report.str().find("DEEP.TXT"), std::string::npos);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

TEST(FatMapImplTest, EntriesPointingOutsideTheVolumeAreLeftOut) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files files;
    image.makeFolder("AWAY");
    image.makeFolder("NEAR");
    add(image, files, "NEAR/FILE.TXT", "near");
    add(image, files, "FAR.BIN", patternData(5000, 1));
    auto probe = openVolume(image);
    const std::string path = image.path();
    const u32 clusters = probe->params.get_cluster_count();
    const u32 nearCluster = rootFileCluster(image, *probe, "NEAR       ");
    // AWAY's entry and FAR.BIN's name clusters past the volume; NEAR's ".."
    // does too, and so does the FAT link after its first cluster.
    const u64 away = fattest::findEntryOffset(path, probe->params, 0, "AWAY       ");
    writeAt(path, away + DE_CLUSTER_LOW, std::string("\xF0\xFF", 2));
    const u64 far = fattest::findEntryOffset(path, probe->params, 0, "FAR     BIN");
    writeAt(path, far + DE_CLUSTER_LOW, std::string("\xF0\xFF", 2));
    writeAt(path, fattest::clusterOffset(probe->params, nearCluster) + 32 + DE_CLUSTER_LOW,
            std::string("\xF0\xFF", 2));
    fattest::setFatEntry(path, probe->params, nearCluster, clusters + 10);

    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    EXPECT_EQ(listing.count("AWAY"), 0u);
    EXPECT_EQ(listing.count("FAR.BIN"), 0u);
    // NEAR's own ".." is no help, so the listing that names it places it.
    ASSERT_EQ(listing.count("NEAR/FILE.TXT"), 1u);
    EXPECT_EQ(listing.at("NEAR").getLink(), tree::GOOD);
    files.erase("FAR.BIN");
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

class FatMapImplMirrorTest : public ::testing::TestWithParam<ImageKind> {};

TEST_P(FatMapImplMirrorTest, AZeroedFirstFatIsReadFromTheMirror) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), GetParam().options);
    auto probe = openVolume(image);
    const Files files = fillVolume(image, clusterBytesOf(*probe));
    writeAt(image.path(), static_cast<u64>(probe->params.fatLBA) * 512,
            std::string(static_cast<u64>(probe->params.sectorsPerFAT) * 512, '\0'));

    auto volume = openVolume(image);
    auto map = buildTree(*volume, true);
    expectTree(*map, files);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);

    // Without the analysis the zeroed FAT is taken at its word: chains read as
    // free, so files look deleted or broken, or (a FAT32 root in a chain) go
    // missing.
    auto first = openVolume(image);
    auto plain = buildTree(*first, false);
    const auto listing = listTree(*plain);
    std::size_t intact = 0;
    for (const auto& f : files) {
        auto it = listing.find(f.first);
        intact += it != listing.end() && !it->second.hasFlag(Node::DELETED) &&
                  it->second.getStatus() == tree::GOOD_IN_FAT;
    }
    EXPECT_LT(intact, files.size());
}

INSTANTIATE_TEST_SUITE_P(Images, FatMapImplMirrorTest,
                         ::testing::Values(ImageKind{"Fat12Floppy", options(1440, 0)},
                                           ImageKind{"Fat16", options(16384, 16)},
                                           ImageKind{"Fat32", options(40000, 32, 1)}),
                         [](const ::testing::TestParamInfo<ImageKind>& info) {
                             return info.param.name;
                         });

TEST(FatMapImplTest, AFullFloppyReadsAcrossTheFat12WindowEdges) {
    TempDir dir;
    FatImage image(dir.file("floppy.img"), options(1440, 0));
    Files files;
    for (int i = 0; i < 13; ++i)
        add(image, files, "part" + std::to_string(i) + ".bin", patternData(100 * 1024 + 7 * i, i));
    // A hole in the middle, filled by a file that then goes on past the others:
    // a fragmented chain that crosses the windows.
    image.deleteFile("part3.bin");
    files.erase("part3.bin");
    add(image, files, "fragmented.bin", patternData(180 * 1024, 99));
    auto volume = openVolume(image);
    const u32 used = [&] {
        u32 n = 0;
        for (u32 c = 2; c < volume->params.get_cluster_count() + 2; ++c)
            n += fattest::getFatEntryOf(image.path(), volume->params, c) != 0;
        return n;
    }();
    ASSERT_GT(used, 2048u);
    auto map = buildTree(*volume);
    expectTree(*map, files);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

TEST(FatMapImplTest, AFileFragmentedOntoClusterTwoComesBack) {
    TempDir dir;
    FatImage image(dir.file("floppy.img"), options(1440, 0));
    Files files;
    image.addFile("FIRST.BIN", patternData(512, 1));
    add(image, files, "FRAG.BIN", patternData(1024, 2));
    auto probe = openVolume(image);
    const std::string path = image.path();
    ASSERT_EQ(rootFileCluster(image, *probe, "FIRST   BIN"), 2u);
    ASSERT_EQ(rootFileCluster(image, *probe, "FRAG    BIN"), 3u);
    image.deleteFile("FIRST.BIN");
    // FRAG.BIN's second cluster moves to cluster 2: 3 -> 2 -> end.
    writeAt(path, fattest::clusterOffset(probe->params, 2),
            readAt(path, fattest::clusterOffset(probe->params, 4), 512));
    writeAt(path, fattest::clusterOffset(probe->params, 4), std::string(512, '\0'));
    fattest::setFatEntry(path, probe->params, 3, 2);
    fattest::setFatEntry(path, probe->params, 2, 0xFFF);
    fattest::setFatEntry(path, probe->params, 4, 0);

    auto volume = openVolume(image);
    auto map = buildTree(*volume, true);
    expectTree(*map, files);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), files);
}

TEST(FatMapImplTest, AFailingSectorOfAFileIsFilledExactly) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files files;
    add(image, files, "DATA.BIN", patternData(4 * 2048 + 100, 3));
    auto probe = openVolume(image);
    ASSERT_EQ(probe->params.sectorsPerCluster, 4u);
    const u32 c = rootFileCluster(image, *probe, "DATA    BIN");
    const u64 second = probe->params.get_cluster_LBA(c + 1) + 1;
    const u64 tail = probe->params.get_cluster_LBA(c + 4);

    auto volume = openVolume(image, {second, tail});
    volume->unreadable.add(static_cast<u32>(second));
    volume->unreadable.commit();
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    EXPECT_TRUE(listing.at("DATA.BIN").hasFlag(Node::HAS_UNREADABLE));
    EXPECT_EQ(listing.at("DATA.BIN").getStatus(), tree::GOOD_IN_FAT);

    const std::size_t mark = logMemoryText().size();
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 1u);
    std::string expected = files["DATA.BIN"].data;
    std::vector<u8> pattern(512);
    fillUnreadablePattern(pattern.data(), 512);
    const std::string sector(pattern.begin(), pattern.end());
    expected.replace(2048 + 512, 512, sector);
    expected.replace(4 * 2048, 100, sector.substr(0, 100));
    const std::string got = readAll(dir.file("out/DATA.BIN"));
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << testutil::hexDump(got.data() + 2048, 1024);
    const std::string log = logMemoryText().substr(mark);
    EXPECT_NE(log.find("FATMapImpl(105): " + std::to_string(c + 1) + "\n"), std::string::npos);
    EXPECT_NE(log.find("FATMapImpl(105): " + std::to_string(c + 4) + "\n"), std::string::npos);
}

TEST(FatMapImplTest, FoundDirectoriesAreAttachedOnce) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    Files files;
    image.makeFolder("LOST");
    image.makeFolder("LOST/INNER");
    add(image, files, "LOST/A.TXT", "lost a");
    add(image, files, "LOST/INNER/B.TXT", "lost b");
    add(image, files, "HERE.TXT", "here");
    auto probe = openVolume(image);
    const std::string path = image.path();
    const u32 lost = rootFileCluster(image, *probe, "LOST       ");
    const u32 inner = fattest::entryClusterIn(path, probe->params, lost, "INNER      ");
    const u32 here = rootFileCluster(image, *probe, "HERE    TXT");
    writeAt(path, fattest::findEntryOffset(path, probe->params, 0, "LOST       "),
            std::string("\xE5", 1));
    writeAt(path, fattest::findEntryOffset(path, probe->params, 0, "\xE5OST       "),
            std::string(1, '\0') + std::string(31, '\0'));

    auto unscanned = openVolume(image);
    auto without = buildTree(*unscanned);
    EXPECT_EQ(listTree(*without).count("Found"), 0u);

    auto volume = openVolume(image);
    auto runOf = [&](u32 cluster, bool dots) {
        FoundDirectoryRun r;
        r.lba = static_cast<u32>(volume->params.get_cluster_LBA(cluster));
        r.sectorCount = volume->params.sectorsPerCluster;
        r.startsWithDotEntries = dots;
        r.dotCluster = dots ? cluster : 0;
        return r;
    };
    volume->runs.insert(runOf(lost, true));
    volume->runs.insert(runOf(inner, true)); // read through LOST already
    volume->runs.insert(runOf(here, false)); // file data: no entry in it
    auto map = buildTree(*volume);
    const std::string found = "Found/Found." + std::to_string(lost) + "/";
    const auto listing = listTree(*map);
    EXPECT_EQ(listing.count(found + "A.TXT"), 1u);
    EXPECT_EQ(listing.count(found + "INNER/B.TXT"), 1u);
    EXPECT_EQ(listing.count("Found/Found." + std::to_string(here)), 0u);
    EXPECT_EQ(listing.size(), 6u) << [&] {
        std::string names;
        for (const auto& e : listing)
            names += e.first + "\n";
        return names;
    }();
}

TEST(FatMapImplTest, ReadNodeDataReadsOnlyTheSectorsItNeeds) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    const std::string data = patternData(3 * 2048, 5);
    image.addFile("R.BIN", data);
    auto volume = openVolume(image, {1}); // a bad sector outside the volume's data
    auto map = buildTree(*volume);
    Node node = listTree(*map).at("R.BIN");
    const std::size_t before = volume->failing->requests().size();
    u8 buffer[10];
    ASSERT_EQ(map->readNodeData(node, buffer, 10, 2048 - 5), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), data.substr(2048 - 5, 10));
    const auto& r = volume->failing->requests();
    ASSERT_EQ(r.size() - before, 2u);
    EXPECT_EQ(r[before].size, 2048);
    EXPECT_EQ(r[before + 1].size, 512);
    EXPECT_EQ(map->readNodeData(node, buffer, 0, 0), 0);
    EXPECT_EQ(map->readNodeData(node, buffer, 10, 4096 + 100), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), data.substr(4096 + 100, 10));
}

TEST(FatMapImplTest, TheMapDescribesItselfAndItsNodes) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(16384, 16));
    image.addFile("ONE.BIN", "1");
    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    EXPECT_EQ(map->getKind(), tree::MAP_FAT);
    EXPECT_EQ(map->getRootAddress(), tree::FATMapImpl::FIXED_ROOT_ADDRESS);
    const Node node = listTree(*map).at("ONE.BIN");
    EXPECT_EQ(map->getNodeLBA(node.getAddress()),
              volume->params.get_cluster_LBA(static_cast<u32>(node.getAddress())));
    EXPECT_EQ(map->getNodeLBA(1), Node::NONE);

    std::ostringstream partition;
    map->ostreamPartitionInfo(partition);
    EXPECT_EQ(partition.str().substr(0, 22), "FAT Drive Parameters:\n");

    std::ostringstream info;
    map->printNodeInformation(info, tree::MapPosition{1, 0});
    EXPECT_NE(info.str().find(
                  "---\nFAT Status:\tGOOD_IN_FAT\nNode Address:\t1\n---\nDOS Name:\tONE.BIN\n"),
              std::string::npos)
        << info.str();
}

TEST(FatMapImplTest, SurrogatePairsInLongNamesReachTheRecoveredName) {
    TempDir dir;
    FatImage image(dir.file("fat.img"), options(1440, 0));
    image.addFile("smile face.txt", "smile");
    auto probe = openVolume(image);
    // The long name's first part sits right before the short entry; its units 6
    // and 7 ("fa") become U+1F600, which mtools cannot write.
    const std::string path = image.path();
    const u64 root = static_cast<u64>(probe->params.rootDirectoryLBA) * 512;
    std::string entries = readAt(path, root, 512);
    const std::size_t shortAt = entries.find("SMILEF~1TXT");
    ASSERT_NE(shortAt, std::string::npos);
    const u64 lfn = root + shortAt - 32;
    writeAt(path, lfn + 16, std::string("\x3D\xD8\x00\xDE", 4)); // units 6 and 7
    auto volume = openVolume(image);
    auto map = buildTree(*volume);
    const std::string name = "smile \xF0\x9F\x98\x80"
                             "ce.txt";
    ASSERT_EQ(listTree(*map).count(name), 1u);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    EXPECT_EQ(readAll(dir.file("out/" + name)), "smile");
}

} // namespace
