// The FAT tree in-process, on the shared volumes (tests/support/FatCorpus.h)
// and copies of them damaged at named places: a zeroed first FAT read from the
// mirror, folders that name an ancestor or a parent outside the volume, read
// errors, folders only the scan found, partial reads and the node texts. The
// whole chain from a source through the analyzer is DiskAnalysisTest's.

#include "fs/fat/FATMapImpl.h"

#include "devices/UnreadableSectors.h"
#include "fs/FatLayout.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/FatVolumes.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/RecordingProgress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace testutil;
using testutil::buildTree;
using testutil::openVolume;
using tree::Node;

namespace {

// The FAT16 volume: a copy to damage, and the tools over the shared one.
class FatMapImplTest : public ::testing::Test {
protected:
    ScopedTimeZone utc_{"UTC"};
    TempDir dir_;
    const FatCorpus& v = fatCorpus(16);
    const std::string path = v.copy(dir_);
    const FatImage image = v.image();
};

class FatMapImplMirrorTest : public ::testing::TestWithParam<int> {};

TEST_P(FatMapImplMirrorTest, AZeroedFirstFatIsReadFromTheMirror) {
    ScopedTimeZone utc("UTC");
    TempDir dir;
    const FatCorpus& v = fatCorpus(GetParam());
    const std::string path = v.copy(dir);
    zeroFirstFat(path, v.params);
    auto volume = openVolume(path, v.volumeLba());
    auto map = buildTree(*volume, true);
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 0u);
    expectRecovered(dir.file("out"), v.all(), v.reused);

    // Taken at its word the zeroed FAT has no chains: the fragmented file is read
    // on in the clusters after its first, or (a FAT32 root in a chain) is lost.
    auto plain = openVolume(path, v.volumeLba());
    auto unchecked = buildTree(*plain, false);
    recoverAll(*unchecked, dir.file("plain"));
    const std::string fragmented = dir.file("plain/fragmented.bin");
    EXPECT_FALSE(std::ifstream(fragmented) &&
                 readAll(fragmented) == v.live.at("fragmented.bin").data);
}

INSTANTIATE_TEST_SUITE_P(Widths, FatMapImplMirrorTest, ::testing::Values(12, 16, 32),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Fat" + std::to_string(info.param);
                         });

TEST_F(FatMapImplTest, FoldersNamingAnAncestorOrAParentOutsideArePlacedOnce) {
    const u32 docs = image.clustersOf("Docs")[0];
    const u32 deeper = image.clustersOf("Docs/Deep/Deeper")[0];
    const u32 many = image.clustersOf("Many")[0];
    const u32 deep = image.clustersOf("Docs/Deep")[0];
    // Deeper holds a folder entry naming Docs, its grandparent, in its first
    // free slot; the ".." of Many, and of Deep below the root, name a cluster
    // past the volume's end: each belongs to the folder that lists it.
    writeAt(path, entryOffsetIn(path, v.params, deeper, std::string(SHORT_NAME_BYTES, '\0')),
            shortEntry("BACK       ", ATTR_DIRECTORY, docs, 0));
    for (u32 orphan : {many, deep})
        writeAt(path, clusterOffset(v.params, orphan) + DIR_ENTRY_BYTES + DE_CLUSTER_LOW,
                std::string("\xF0\xFF", 2));

    auto volume = openVolume(path, 0);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    EXPECT_EQ(listing.count("Docs/Deep/Deeper/BACK"), 1u);
    EXPECT_EQ(listing.count("Docs/Deep/Deeper/BACK/Deep"), 0u);
    EXPECT_EQ(listing.at("Many").getLink(), tree::GOOD);
    EXPECT_EQ(listing.at("Docs/Deep").getLink(), tree::GOOD);
    EXPECT_EQ(recoverAll(*map, dir_.file("out")), 0u);
    expectRecovered(dir_.file("out"), v.all(), v.reused);
}

TEST_F(FatMapImplTest, ReadErrorsFillExactlyTheSectorsThatFail) {
    const std::vector<u32> clusters = image.clustersOf("multi.bin");
    const u64 second = v.params.get_cluster_LBA(clusters[1]) + 1;
    const u64 tail = v.params.get_cluster_LBA(clusters[5]);
    auto volume = openVolume(v.path, 0, {second, tail});
    volume->unreadable.add(static_cast<u32>(second));
    volume->unreadable.commit();
    auto map = buildTree(*volume);
    const Node node = listTree(*map).at("multi.bin");
    EXPECT_TRUE(node.hasFlag(Node::HAS_UNREADABLE));
    EXPECT_EQ(node.getStatus(), tree::GOOD_IN_FAT);

    LogCapture log;
    EXPECT_EQ(recoverAll(*map, dir_.file("out")), 1u);
    std::string expected = v.live.at("multi.bin").data;
    const std::string sector = unreadableSector();
    const u64 c = v.clusterBytes();
    expected.replace(c + 512, 512, sector);
    expected.replace(5 * c, 123, sector.substr(0, 123));
    const std::string got = readAll(dir_.file("out/multi.bin"));
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << hexDump(got.data() + c, 1024);
    for (u32 cluster : {clusters[1], clusters[5]})
        EXPECT_TRUE(log.has("FATMapImpl(105): " + std::to_string(cluster) + "\n")) << log.text();
}

// A copy that stopped inside the last file of a volume: the volume still
// forms, that file is marked, and what the copy lacks comes back as the
// unreadable fill.
TEST(FatMapImplCutTest, ACopyCutShortKeepsItsVolumeAndMarksWhatItLacks) {
    TempDir dir;
    FatImageOptions options;
    options.sizeKiB = 2048;
    FatImage fat(dir.file("v.img"), options);
    const std::string first = pattern(1200000, 1);
    const std::string last = pattern(800000, 2);
    fat.addFile("first.bin", first);
    fat.addFile("last.bin", last);
    const u64 cut = 1792 * 1024;
    ASSERT_EQ(::truncate(fat.path().c_str(), static_cast<off_t>(cut)), 0);
    auto volume = openVolume(fat.path(), 0);
    auto map = buildTree(*volume);
    EXPECT_TRUE(listTree(*map).at("last.bin").hasFlag(Node::HAS_UNREADABLE));
    EXPECT_EQ(recoverAll(*map, dir.file("out")), 1u);
    EXPECT_TRUE(readAll(dir.file("out/first.bin")) == first);
    const std::string got = readAll(dir.file("out/last.bin"));
    ASSERT_EQ(got.size(), last.size());
    const std::size_t at = readAll(fat.path()).find(last.substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    const std::size_t held = cut - at;
    EXPECT_TRUE(got.substr(0, held) == last.substr(0, held));
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()) + held, 512));
}

// A folder whose later part cannot be read, the fixed root of FAT12/16, the
// root's chain on FAT32 or a subfolder's: what was read is listed and comes back
// whole, and the folder is marked incomplete, which the recovery counts as an
// error. A subfolder's entry carries the mark, the root's entry in the top
// folder the root's.
struct LostPart {
    int bits;
    const char* folder; // "" the root
};

class FatMapImplIncompleteTest : public ::testing::TestWithParam<LostPart> {};

TEST_P(FatMapImplIncompleteTest, WhatWasReadComesBackAndTheFolderCountsAsAnError) {
    ScopedTimeZone utc("UTC");
    TempDir dir;
    const FatCorpus& v = fatCorpus(GetParam().bits);
    const std::string folder = GetParam().folder;
    const bool root = folder.empty();
    const bool fixed = root && v.params.rootEntries != 0;
    const std::vector<u32> clusters = fixed ? std::vector<u32>{0} : v.image().clustersOf(folder);
    const u64 lost =
        fixed ? v.params.rootDirectoryLBA + 1ull : v.params.get_cluster_LBA(clusters[1]);
    auto volume = openVolume(v.path, v.volumeLba(), {lost});
    auto map = buildTree(*volume);
    EXPECT_EQ(map->getFolder(tree::TOP_FOLDER)->node(0).hasFlag(Node::INVALID_DIRECTORY), root);
    if (!root) {
        EXPECT_TRUE(listTree(*map).at(folder).hasFlag(Node::INVALID_DIRECTORY));
    }

    EXPECT_EQ(recoverAll(*map, dir.file("out")), 1u);
    const CorpusFiles all = v.all();
    std::size_t back = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("out"))) {
        if (!e.is_regular_file())
            continue;
        const std::string path = std::filesystem::relative(e.path(), dir.file("out")).string();
        if (v.reused.count(path))
            continue;
        ++back;
        if (all.count(path)) {
            EXPECT_EQ(fileDifference(e.path().string(), all.at(path).data, all.at(path).mtime), "")
                << path;
            continue;
        }
        // An entry whose long name lay in what was lost comes by its short name.
        const std::string data = readAll(e.path().string());
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const auto& f) {
            return f.second.data == data;
        })) << path;
    }
    EXPECT_LT(back, all.size());
    EXPECT_GT(back, 0u);
}

INSTANTIATE_TEST_SUITE_P(Folders, FatMapImplIncompleteTest,
                         ::testing::Values(LostPart{12, ""}, LostPart{16, ""}, LostPart{32, ""},
                                           LostPart{12, "Many"}, LostPart{16, "Many"},
                                           LostPart{32, "Many"}),
                         [](const ::testing::TestParamInfo<LostPart>& info) {
                             return "Fat" + std::to_string(info.param.bits) +
                                    (info.param.folder[0] ? info.param.folder : "Root");
                         });

TEST_F(FatMapImplTest, FoldersOnlyTheScanFoundAreAttachedOnce) {
    const u32 deep = image.clustersOf("Docs/Deep")[0];
    const u32 deeper = image.clustersOf("Docs/Deep/Deeper")[0];
    const u32 file = image.clustersOf("after.bin")[0];
    // Deep loses its entry: only the scan's directory runs know it.
    writeAt(path, entryOffsetIn(path, v.params, image.clustersOf("Docs")[0], "DEEP       "),
            std::string(DIR_ENTRY_BYTES, '\0'));
    auto foundIn = [](tree::Map& map) {
        std::set<std::string> found;
        for (const auto& e : listTree(map)) {
            if (e.first.find("Found") != std::string::npos)
                found.insert(e.first);
        }
        return found;
    };
    auto unscanned = openVolume(path, 0);
    EXPECT_EQ(foundIn(*buildTree(*unscanned)), std::set<std::string>{});

    auto volume = openVolume(path, 0);
    for (u32 cluster : {deep, deeper, file}) {
        FoundDirectoryRun run;
        run.lba = static_cast<u32>(v.params.get_cluster_LBA(cluster));
        run.sectorCount = v.params.sectorsPerCluster;
        run.startsWithDotEntries = cluster != file; // file data: no entry in it
        run.dotCluster = cluster;
        volume->runs.insert(run);
    }
    // Under its "..", once, with what it holds.
    const std::string at = "Docs/Found." + std::to_string(deep);
    EXPECT_EQ(foundIn(*buildTree(*volume)),
              (std::set<std::string>{at, at + "/Grüße aus Köln.txt", at + "/Deeper",
                                     at + "/Deeper/日本語のファイル.dat"}));
}

// A live folder's entry and a live file's start at one cluster, whose "."
// and ".." are garbage: it is neither's alone, and what reads as entries
// behind them may be the file's bytes, not the folder's listing.
TEST(FatMapImplSharedStartTest, GarbageDotsInAClusterTwoEntriesStartAtListNothing) {
    SyntheticVolume v(FAT16, 100);
    const std::string junk(DIR_ENTRY_BYTES, '\x7F');
    v.putEntries(0, 0,
                 {shortEntry("DIR        ", ATTR_DIRECTORY, 10, 0),
                  shortEntry("DATA    BIN", ATTR_ARCHIVE, 10, 512)});
    v.setChain({10});
    v.putEntries(10, 0, {junk, junk, shortEntry("GHOST   TXT", ATTR_ARCHIVE, 20, 100)});
    v.setChain({20});
    UnreadableSectors unreadable;
    tree::FATMapImpl map(v.driver(), v.params(), Bitmap(v.params().sectorsPerFAT), &unreadable,
                         FoundList<FoundDirectoryRun>());
    map.finishTree();
    const auto listing = listTree(map);
    EXPECT_EQ(listing.count("DIR/GHOST.TXT"), 0u);
    EXPECT_TRUE(listing.at("DIR").hasFlag(Node::INVALID_DIRECTORY));
}

TEST_F(FatMapImplTest, TheBuildPassesOverTheFatUnderItsProgress) {
    auto volume = openVolume(path, 0);
    tree::FATMapImpl map(volume->driver, volume->params, Bitmap(volume->params.sectorsPerFAT),
                         &volume->unreadable, volume->runs);
    map.finishTree();
    RecordingProgress cancelling;
    cancelling.cancelAtPoll(1);
    map.setInterfaceCallback(&cancelling);
    EXPECT_THROW(map.analyzeFoundFiles(), InterruptedException);
    EXPECT_EQ(cancelling.record()->lastText(InterfaceCallback::TEXT_MAIN), "Analyzing FATs");
    map.setInterfaceCallback(nullptr);
}

// Entries that only the scan found, in a live file's data (a disk image kept as
// a file), are that file's, not folders of this volume; they name clusters of
// this volume by chance: a chain through one of them has not run into another
// file.
TEST_F(FatMapImplTest, EntriesOnlyTheScanFoundJoinNoChain) {
    const std::vector<u32> multi = image.clustersOf("multi.bin");
    const u32 file = image.clustersOf("after.bin")[0];
    writeAt(path, clusterOffset(v.params, file),
            shortEntry("INNER   BIN", ATTR_ARCHIVE, multi[2], 100));
    auto volume = openVolume(path, 0);
    FoundDirectoryRun run;
    run.lba = static_cast<u32>(v.params.get_cluster_LBA(file));
    run.sectorCount = v.params.sectorsPerCluster;
    volume->runs.insert(run);
    auto map = buildTree(*volume);
    const auto listing = listTree(*map);
    // What a live file holds is its own: no folder of this volume.
    EXPECT_EQ(listing.count("Found/Found." + std::to_string(file) + "/INNER.BIN"), 0u);
    EXPECT_EQ(listing.at("multi.bin").getStatus(), tree::GOOD_IN_FAT);
}

TEST_F(FatMapImplTest, ANodeReadsOnlyTheSectorsItNeedsAndDescribesItself) {
    auto volume = openVolume(v.path, 0);
    auto map = buildTree(*volume);
    const std::size_t built = volume->failing->requests().size();
    tree::Folder* root = map->getFolder(map->getRootAddress());
    // The pass over the whole FAT ran while the tree was built, with its
    // progress: showing a folder reads only the chains of its files.
    for (std::size_t i = built; i < volume->failing->requests().size(); ++i)
        EXPECT_LT(volume->failing->requests()[i].size, i64{v.params.sectorsPerFAT} * 512);
    u32 index = 0;
    while (root->node(index).getName() != "multi.bin")
        ++index;
    Node node = root->node(index);
    const std::string& data = v.live.at("multi.bin").data;
    const u64 c = v.clusterBytes();
    const std::size_t before = volume->failing->requests().size();
    u8 buffer[10];
    ASSERT_EQ(map->readNodeData(node, buffer, 10, c - 5), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), data.substr(c - 5, 10));
    const auto& reads = volume->failing->requests();
    ASSERT_EQ(reads.size() - before, 2u);
    EXPECT_EQ(reads[before].size, static_cast<i64>(c));
    EXPECT_EQ(reads[before + 1].size, 512);
    EXPECT_EQ(map->readNodeData(node, buffer, 0, 0), 0);
    ASSERT_EQ(map->readNodeData(node, buffer, 10, 4 * c + 100), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), data.substr(4 * c + 100, 10));

    EXPECT_EQ(map->getNodeLBA(node.getAddress()),
              v.params.get_cluster_LBA(static_cast<u32>(node.getAddress())));
    EXPECT_EQ(map->getNodeLBA(1), Node::NONE);
    std::ostringstream info;
    map->printNodeInformation(info, tree::MapPosition{1, index});
    EXPECT_NE(info.str().find("---\nFAT Status:\tGOOD_IN_FAT\nNode Address:\t1\n---\nDOS "
                              "Name:\tmulti.bin\n"),
              std::string::npos)
        << info.str();
}

} // namespace
