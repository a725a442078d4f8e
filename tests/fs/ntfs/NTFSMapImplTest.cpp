#include "fs/ntfs/NTFSMapImpl.h"

#include "core/Log.h"
#include "tests/fs/ntfs/NtfsTreeFixture.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

namespace {

using ntfstest::randomContent;
using ntfstest::RecordBuilder;
using ntfstest::sameBytes;
using ntfstest::textContent;
using ntfstree::buildTree;
using ntfstree::listTree;
using ntfstree::MemoryMft;
using ntfstree::openSource;
using ntfstree::recoverAll;
using testutil::Hole;
using testutil::IMAGE_EPOCH;
using testutil::NtfsBuilder;
using testutil::NtfsImage;
using testutil::NtfsImageOptions;
using testutil::TempDir;
using tree::Node;

struct Expected {
    std::string data;
    std::time_t mtime = IMAGE_EPOCH;
};
using Files = std::map<std::string, Expected>;

NtfsImageOptions volumeOf(u32 clusterBytes, u32 sizeMiB, bool compression = false,
                          u32 partitionLba = 0) {
    NtfsImageOptions o;
    o.clusterBytes = clusterBytes;
    o.sizeMiB = sizeMiB;
    o.compression = compression;
    o.partitionLba = partitionLba;
    return o;
}

// A volume made by mkntfs in a temporary folder, filled by the builder, opened
// as the program opens a source (its boot sector at the volume's LBA) and its
// tree built as the program builds it.
class TestVolume {
public:
    explicit TestVolume(const NtfsImageOptions& options)
        : image_(dir_.file("v.img"), options), builder_(image_.volumePath()) {}

    NtfsBuilder& builder() { return builder_; }
    NtfsImage& image() { return image_; }
    ntfstree::Source& source() { return *source_; }

    // Runs what the builder collected, then builds the tree over a source whose
    // `bad` sectors fail; throws when either cannot be done.
    tree::NTFSMapImpl& tree(const std::vector<u64>& bad = {}) {
        const ::testing::AssertionResult built = builder_.run();
        if (!built)
            throw std::runtime_error(built.message());
        source_ = openSource(image_.path(), image_.volumeLba(), false, bad);
        map_ = buildTree(*source_);
        if (!map_)
            throw std::runtime_error("no MFT run list");
        return *map_;
    }

private:
    TempDir dir_;
    NtfsImage image_;
    NtfsBuilder builder_;
    std::unique_ptr<ntfstree::Source> source_;
    std::unique_ptr<tree::NTFSMapImpl> map_;
};

// Folders three deep, long, non-ASCII and surrogate-pair names, resident and
// non-resident files, one cluster exactly, a folder with enough entries for
// index blocks, a heavily fragmented file and a sparse one.
Files fillVolume(NtfsBuilder& b, u64 clusterBytes) {
    Files files;
    auto add = [&](const std::string& path, const std::string& data) {
        b.write(path, data);
        files[path].data = data;
    };
    b.mkdir("/Docs").mkdir("/Docs/Deep").mkdir("/Docs/Deep/Deeper").mkdir("/Many");
    add("/empty.txt", "");
    add("/one.bin", "x");
    add("/resident.txt", textContent(300, 1));
    add("/exact.bin", randomContent(clusterBytes, 2));
    add("/multi.bin", randomContent(5 * clusterBytes + 123, 3));
    add("/Docs/A long file name with spaces that goes on for well over sixty-four "
        "characters.txt",
        textContent(3000, 4));
    add("/Docs/Deep/Grüße aus Köln.txt", textContent(777, 5));
    add("/Docs/Deep/Deeper/日本語のファイル.dat", randomContent(2 * clusterBytes + 1, 6));
    add("/Docs/\U0001D11E clef.txt", "music");
    for (int i = 0; i < 300; ++i)
        add("/Many/file number " + std::to_string(i) + ".txt", textContent(20 + i, 10 + i));
    // Enough pieces for an attribute list on small clusters.
    const u32 pieces = clusterBytes <= 4096 ? 600 : 60;
    const std::string fragmented = randomContent(pieces * clusterBytes, 7);
    b.fragment("/frag.bin", fragmented, pieces);
    files["/frag.bin"].data = fragmented;
    const std::vector<Hole> holes{{3 * clusterBytes, 3 * clusterBytes},
                                  {8 * clusterBytes, 2 * clusterBytes}};
    const std::string sparse = testutil::punchHoles(randomContent(10 * clusterBytes, 8), holes);
    b.sparse("/sparse.bin", sparse, holes);
    files["/sparse.bin"].data = sparse;
    b.setMtime("/one.bin", IMAGE_EPOCH - 86400);
    files["/one.bin"].mtime = IMAGE_EPOCH - 86400;
    b.setMtime("/Docs/Deep/Grüße aus Köln.txt", IMAGE_EPOCH - 2 * 86400 - 7);
    files["/Docs/Deep/Grüße aus Köln.txt"].mtime = IMAGE_EPOCH - 2 * 86400 - 7;
    return files;
}

std::string treePath(const std::string& volumePath) {
    return volumePath.substr(1);
}

// Every file is listed as a valid live entry with its size and time.
void expectListed(tree::Map& map, const Files& files) {
    const auto listing = listTree(map);
    for (const auto& f : files) {
        const auto it = listing.find(treePath(f.first));
        ASSERT_NE(it, listing.end()) << f.first;
        const Node& n = it->second;
        EXPECT_FALSE(n.isDirectory()) << f.first;
        EXPECT_FALSE(n.hasFlag(Node::DELETED)) << f.first;
        EXPECT_EQ(n.getLink(), tree::GOOD) << f.first;
        EXPECT_EQ(n.getSize(), f.second.data.size()) << f.first;
        EXPECT_EQ(n.getTime(), static_cast<u32>(f.second.mtime)) << f.first;
    }
}

// The system files that hold no unnamed $DATA ($Secure, $Extend's files): their
// index entries stay unconfirmed and recovering them fails.
u32 filesWithoutData(tree::Map& map) {
    u32 n = 0;
    for (const auto& e : listTree(map)) {
        if (!e.second.isDirectory() && e.second.getLink() == tree::TO) {
            EXPECT_EQ(e.second.getName()[0], '$') << e.first;
            ++n;
        }
    }
    return n;
}

// Every file comes back byte-identical with its time.
void expectRecovered(tree::Map& map, const Files& files) {
    TempDir out;
    EXPECT_EQ(recoverAll(map, out.path()), filesWithoutData(map));
    for (const auto& f : files) {
        const std::string path = out.path() + f.first;
        EXPECT_TRUE(sameBytes(testutil::readAll(path), f.second.data)) << f.first;
        EXPECT_EQ(ntfstree::mtimeOf(path), f.second.mtime) << f.first;
    }
}

class NtfsTreeByClusterTest : public ::testing::TestWithParam<u32> {};

TEST_P(NtfsTreeByClusterTest, EveryLiveFileComesBackWithItsNameAndTime) {
    const u32 clusterBytes = GetParam();
    TestVolume v(volumeOf(clusterBytes, clusterBytes > 4096 ? 96 : 32));
    const Files files = fillVolume(v.builder(), clusterBytes);
    tree::NTFSMapImpl& map = v.tree();
    expectListed(map, files);
    const auto listing = listTree(map);
    for (const char* folder : {"Docs", "Docs/Deep", "Docs/Deep/Deeper", "Many"}) {
        const auto it = listing.find(folder);
        ASSERT_NE(it, listing.end()) << folder;
        EXPECT_TRUE(it->second.isDirectory());
        EXPECT_FALSE(it->second.hasFlag(Node::INVALID_DIRECTORY)) << folder;
        EXPECT_EQ(it->second.getLink(), tree::GOOD) << folder;
    }
    // Nothing of this volume is a stray: no "Found" folder, no "." in the root.
    EXPECT_EQ(listing.count("Found"), 0u);
    EXPECT_EQ(listing.count("."), 0u);
    EXPECT_TRUE(map.checkIntegrity());
    expectRecovered(map, files);
}

INSTANTIATE_TEST_SUITE_P(Clusters, NtfsTreeByClusterTest, ::testing::Values(512u, 4096u, 65536u));

TEST(NtfsMapImplTest, CompressedFilesComeBack) {
    for (u32 clusterBytes : {512u, 4096u}) {
        TestVolume v(volumeOf(clusterBytes, 32, true));
        NtfsBuilder& b = v.builder();
        Files files;
        const u64 sizes[] = {65535, 65537, 1 << 20};
        for (u64 size : sizes) {
            const std::string n = std::to_string(size);
            files["/text" + n] = {textContent(size, static_cast<unsigned>(size))};
            files["/zeros" + n] = {std::string(size, '\0')};
            files["/random" + n] = {randomContent(size, static_cast<unsigned>(size))};
        }
        for (const auto& f : files)
            b.compress(f.first, f.second.data);
        // A file made in the compressed root is compressed as well.
        files["/written.txt"] = {textContent(200000, 9)};
        b.write("/written.txt", files["/written.txt"].data);
        tree::NTFSMapImpl& map = v.tree();
        expectListed(map, files);
        expectRecovered(map, files);
    }
}

TEST(NtfsMapImplTest, AVolumeBehindAPartitionTableReadsFromItsStart) {
    TestVolume v(volumeOf(4096, 16, false, 2048));
    Files files;
    files["/Docs/a.bin"] = {randomContent(50000, 1)};
    v.builder().mkdir("/Docs").write("/Docs/a.bin", files["/Docs/a.bin"].data);
    tree::NTFSMapImpl& map = v.tree();
    EXPECT_EQ(v.source().params.startingLBA, 2048u);
    expectListed(map, files);
    expectRecovered(map, files);
}

// ntfsundelete's list of deleted files whose content it can recover whole.
std::set<std::string> undeletable(const std::string& volume) {
    std::string out;
    const int status = testutil::run("PATH=\"$PATH:/usr/sbin\" LC_ALL=C.UTF-8 ntfsundelete -s " +
                                         testutil::shellQuote(volume),
                                     &out);
    EXPECT_EQ(status, 0);
    std::set<std::string> names;
    const std::regex line(R"(^\d+\s+F\S*\s+100%\s+\S+\s+\S+\s+\d+\s+(.+)$)");
    std::istringstream lines(out);
    std::string l;
    std::smatch m;
    while (std::getline(lines, l)) {
        if (std::regex_match(l, m, line) && m[1] != "<none>")
            names.insert(m[1]);
    }
    return names;
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

TEST(NtfsMapImplTest, DeletedFilesComeBackAsNtfsundeleteFindsThem) {
    TestVolume v(volumeOf(4096, 16));
    NtfsBuilder& b = v.builder();
    Files live;
    Files deleted;
    live["/Keep/kept.bin"] = {randomContent(30000, 1)};
    deleted["/Keep/gone.bin"] = {randomContent(40000, 2)};
    deleted["/Keep/small.txt"] = {"resident and deleted"};
    deleted["/Tree/deep.bin"] = {randomContent(9000, 3)};
    deleted["/root-file.bin"] = {randomContent(12345, 4)};
    b.mkdir("/Keep").mkdir("/Tree");
    for (const Files* set : {&live, &deleted})
        for (const auto& f : *set)
            b.write(f.first, f.second.data);
    b.rm("/Keep/gone.bin").rm("/Keep/small.txt").rm("/root-file.bin").rmtree("/Tree");
    tree::NTFSMapImpl& map = v.tree();
    const std::set<std::string> expected = undeletable(v.image().path());
    const auto listing = listTree(map);
    std::set<std::string> found;
    std::map<std::string, std::string> pathOf;
    for (const auto& e : listing) {
        if (!e.second.isDirectory() && e.second.hasFlag(Node::DELETED)) {
            found.insert(e.second.getName());
            pathOf[e.second.getName()] = e.first;
        }
    }
    EXPECT_EQ(found, expected);
    for (const auto& f : deleted)
        EXPECT_EQ(found.count(baseName(f.first)), 1u) << f.first;
    // A deleted file whose folder lives stays in it; the deleted folder comes
    // back with its file.
    EXPECT_EQ(pathOf["gone.bin"], "Keep/gone.bin");
    EXPECT_EQ(pathOf["small.txt"], "Keep/small.txt");
    EXPECT_EQ(pathOf["deep.bin"], "Found/Tree/deep.bin");
    EXPECT_EQ(pathOf["root-file.bin"], "Found/root-file.bin");

    TempDir out;
    EXPECT_EQ(recoverAll(map, out.path()), filesWithoutData(map));
    for (const auto& f : deleted)
        EXPECT_TRUE(sameBytes(testutil::readAll(out.path() + "/" + pathOf[baseName(f.first)]),
                              f.second.data))
            << f.first;
}

TEST(NtfsMapImplTest, ARecordOutOfUseIsDeletedButStillListed) {
    TestVolume v(volumeOf(4096, 16));
    v.builder().mkdir("/d").write("/d/f.txt", "contents").clearInUse("/d/f.txt");
    const auto listing = listTree(v.tree());
    ASSERT_EQ(listing.count("d/f.txt"), 1u);
    const Node& n = listing.at("d/f.txt");
    EXPECT_TRUE(n.hasFlag(Node::DELETED));
    EXPECT_EQ(n.getLink(), tree::GOOD);
}

TEST(NtfsMapImplTest, ABrokenIndexStillYieldsEveryFileFromItsRecord) {
    TestVolume v(volumeOf(4096, 16));
    NtfsBuilder& b = v.builder();
    Files files;
    b.mkdir("/Many");
    for (int i = 0; i < 200; ++i) {
        const std::string path = "/Many/entry " + std::to_string(i);
        files[path] = {textContent(100 + i, i)};
        b.write(path, files[path].data);
    }
    // An entry whose length is 0 would hold a careless walk for ever.
    b.corruptIndex("/Many", "entry 50", testutil::INDEX_ENTRY_LENGTH, std::string(2, '\0'));
    const std::size_t mark = logMemoryText().size();
    tree::NTFSMapImpl& map = v.tree();
    EXPECT_NE(logMemoryText().find("NtfsFileParser(468)", mark), std::string::npos);
    EXPECT_NE(logMemoryText().find("NtfsFileParser(807)", mark), std::string::npos);
    const auto listing = listTree(map);
    ASSERT_EQ(listing.count("Many"), 1u);
    for (const auto& f : files) {
        const auto it = listing.find(treePath(f.first));
        ASSERT_NE(it, listing.end()) << f.first;
        EXPECT_EQ(it->second.getSize(), f.second.data.size());
    }
    expectRecovered(map, files);
}

TEST(NtfsMapImplTest, UnreadableSectorsAreMarkedAndRecoveredAsThePattern) {
    TestVolume v(volumeOf(4096, 16));
    const std::string data = randomContent(40000, 1);
    v.builder().write("/data.bin", data).write("/fine.bin", "fine");
    // The data's third cluster, through the parser.
    tree::NTFSMapImpl& clean = v.tree();
    NtfsAttributeData d;
    ASSERT_TRUE(clean.getParser().loadFile(listTree(clean).at("data.bin").getAddress()));
    ASSERT_TRUE(clean.getParser().getData(d));
    ASSERT_EQ(d.runs.size(), 1u);
    const u64 bad = clean.getNtfsDrive().getClusterLBA(d.runs[0].lcn + 2) + 3;

    tree::NTFSMapImpl& map = v.tree({bad});
    const auto listing = listTree(map);
    EXPECT_TRUE(listing.at("data.bin").hasFlag(Node::HAS_UNREADABLE));
    EXPECT_FALSE(listing.at("fine.bin").hasFlag(Node::HAS_UNREADABLE));
    TempDir out;
    EXPECT_EQ(recoverAll(map, out.path()), 1 + filesWithoutData(map));
    const std::string got = testutil::readAll(out.file("data.bin"));
    ASSERT_EQ(got.size(), data.size());
    const u64 at = 2 * 4096 + 3 * 512;
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()) + at, 512));
    EXPECT_EQ(got.substr(0, at), data.substr(0, at));
    EXPECT_EQ(got.substr(at + 512), data.substr(at + 512));
}

TEST(NtfsMapImplTest, NodeDataReadsAnyRangeOfTheFile) {
    TestVolume v(volumeOf(4096, 16));
    const std::string big = randomContent(20000, 1);
    v.builder().write("/big.bin", big).write("/small.txt", "resident value");
    tree::NTFSMapImpl* map = &v.tree();
    const auto listing = listTree(*map);
    Node n = listing.at("big.bin");
    u8 buffer[4096];
    ASSERT_EQ(map->readNodeData(n, buffer, 100, 700), 100);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 100), big.substr(700, 100));
    // Across sector edges, cut at the end, and beyond it.
    ASSERT_EQ(map->readNodeData(n, buffer, 1500, 300), 1500);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 1500), big.substr(300, 1500));
    ASSERT_EQ(map->readNodeData(n, buffer, 4096, 19000), 1000);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 1000), big.substr(19000));
    EXPECT_EQ(map->readNodeData(n, buffer, 10, 20000), 0);
    EXPECT_EQ(map->readNodeData(n, buffer, 0, 0), 0);
    EXPECT_EQ(ntfstree::readWhole(*map, n, 777), big);
    Node s = listing.at("small.txt");
    ASSERT_EQ(map->readNodeData(s, buffer, 100, 9), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "value");
    // A record that does not load.
    Node none = n;
    none.setAddress(1 << 20);
    EXPECT_EQ(map->readNodeData(none, buffer, 10, 0), -5);
    EXPECT_EQ(map->getNodeLBA(1 << 20), Node::NONE);
    EXPECT_EQ(map->getKind(), tree::MAP_NTFS);
}

TEST(NtfsMapImplTest, ExtensionRecordsAreNeverEntriesOfTheirOwn) {
    TestVolume v(volumeOf(512, 16));
    v.builder().fragment("/frag.bin", randomContent(700 * 512, 1), 700);
    tree::NTFSMapImpl* map = &v.tree();
    const auto listing = listTree(*map);
    const Node frag = listing.at("frag.bin");
    ASSERT_TRUE(map->getParser().loadFile(frag.getAddress()));
    const std::vector<u64> records = map->getParser().getRecordsCache().getRecordNumbers();
    ASSERT_GE(records.size(), 2u) << "no extension record";
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_TRUE(map->getRecords().test(records[i]));
        for (const auto& e : listing)
            EXPECT_NE(e.second.getAddress(), records[i]) << e.first;
    }
}

TEST(NtfsMapImplTest, NodeInformationShowsTheFileRecord) {
    TestVolume v(volumeOf(4096, 16));
    v.builder().write("/a.txt", "a");
    tree::NTFSMapImpl* map = &v.tree();
    tree::Folder* root = map->getFolder(tree::NTFSMapImpl::ROOT_RECORD);
    u32 index = 0;
    while (root->node(index).getName() != "a.txt")
        ++index;
    std::ostringstream info;
    map->printNodeInformation(info, tree::MapPosition{tree::NTFSMapImpl::ROOT_RECORD, index});
    const u64 record = root->node(index).getAddress();
    EXPECT_NE(info.str().find("---\nMFT Index: " + std::to_string(record) +
                              ", LBA: " + std::to_string(map->getNodeLBA(record)) + "\n"),
              std::string::npos)
        << info.str();
    EXPECT_NE(info.str().find("File Name:\t'a.txt'"), std::string::npos);
    std::ostringstream partition;
    map->ostreamPartitionInfo(partition);
    EXPECT_EQ(partition.str().find("NTFS Drive Parameters:\n"), 0u);
}

TEST(NtfsMapImplTest, WithBothCopiesOfRecordZeroGoneTheFoundRecordsMakeTheTree) {
    for (u32 clusterBytes : {512u, 4096u}) {
        TestVolume v(volumeOf(clusterBytes, 16));
        NtfsBuilder& b = v.builder();
        Files files;
        b.mkdir("/Docs");
        for (int i = 0; i < 40; ++i) {
            const std::string path = "/Docs/file " + std::to_string(i);
            files[path] = {randomContent(1000 * i + 1, i)};
            b.write(path, files[path].data);
        }
        b.zeroMftRecord0().zeroMirrorRecord0();
        EXPECT_THROW(v.tree(), std::runtime_error);
        ntfstree::Source& source = v.source();
        source.recordRuns = ntfstree::scanRecordRuns(*source.driver);
        ASSERT_FALSE(source.recordRuns.empty());
        auto map = buildTree(source);
        ASSERT_TRUE(map);
        expectListed(*map, files);
        expectRecovered(*map, files);
    }
}

// ---- Memory volumes: what no tool writes ----

TEST(NtfsMapImplTest, TheRecordsBitmapIsSizedFromTheVolumeAndTheList) {
    MemoryMft image(8, 2048, 16);
    auto source = image.source();
    NTFSDrive drive(source->driver, source->params, &source->unreadable);
    // 1024 clusters of 8 sectors, 2 sectors a record.
    EXPECT_EQ(tree::NTFSMapImpl::recordCount(drive, {{1, 1024, 1024}}), 4096u);
    // A gap no MFT can have is clamped to the volume: 2048 clusters.
    EXPECT_EQ(tree::NTFSMapImpl::recordCount(drive, {{1, 4, 4}, {0, u64{1} << 40, 0}}), 8192u);
    // A run past the volume ends the list.
    EXPECT_EQ(tree::NTFSMapImpl::usableMftRunlist(drive, {{1, 4, 4}, {2040, 10, 10}, {5, 1, 1}}),
              (Runlist{{1, 4, 4}}));
    EXPECT_EQ(tree::NTFSMapImpl::recordCount(drive, {{1, 4, 4}, {2040, 10, 10}}), 16u);

    tree::NTFSMapImpl map(source->driver, source->params, {{1, 1024, 1024}}, &source->unreadable);
    EXPECT_EQ(map.getRecords().size(), 4096u);
    Node n;
    EXPECT_FALSE(map.loadFoundEntry(4096, n));
    EXPECT_FALSE(map.getRecords().test(4095));
}

TEST(NtfsMapImplTest, EquivalenceNeedsTheSameKindAndName) {
    MemoryMft image(1, 256, 16);
    auto source = image.source();
    tree::NTFSMapImpl map(source->driver, source->params, image.mftRunlist(), &source->unreadable);
    Node file("x", 7, 0, 1, 0);
    Node folder("x", 7, 0, 0, 0);
    folder.setFlag(Node::DIRECTORY, true);
    EXPECT_FALSE(map.isEquivalent(file, folder));
    EXPECT_TRUE(map.isEquivalent(file, Node("x", 7, 3, 9, 1)));
    EXPECT_FALSE(map.isEquivalent(file, Node("X", 7, 0, 1, 0)));
    // No root record: an empty root folder, marked, and a tree that finishes.
    map.analyzeFoundFiles();
    map.finishTree();
    EXPECT_TRUE(map.getFolder(tree::NTFSMapImpl::ROOT_RECORD)->empty());
}

TEST(NtfsMapImplTest, FoldersThatNameEachOtherAsParentDoNotHoldTheTree) {
    MemoryMft image(1, 512, 32);
    auto folder = [](const std::u16string& name, u64 parent) {
        return RecordBuilder()
            .resident(0x30, RecordBuilder::fileName(parent, name, 1, 0x10000000))
            .resident(0x90, ntfstree::indexRoot(4096, {ntfstree::lastEntry()}), u"$I30")
            .raw();
    };
    image.putRecord(0, RecordBuilder()
                           .resident(0x30, RecordBuilder::fileName(5, u"$MFT", 1, 6))
                           .nonResident(0x80, ntfstree::mappingPairs({{1, 64}}), 64 * 512)
                           .raw());
    image.putRecord(5, folder(u".", 5));
    // 20 and 21 are each other's parent; 22 is its own; 23 names a record no
    // volume has.
    image.putRecord(20, folder(u"a", 21));
    image.putRecord(21, folder(u"b", 20));
    image.putRecord(22, folder(u"self", 22));
    image.putRecord(23, folder(u"far", 0xFFFFFFFFFFFFull));
    image.putRecord(24, RecordBuilder()
                            .resident(0x30, RecordBuilder::fileName(20, u"file", 1))
                            .resident(0x80, "data")
                            .raw());
    auto source = image.source();
    auto map = buildTree(*source);
    ASSERT_TRUE(map);
    const auto listing = listTree(*map);
    bool file = false;
    for (const auto& e : listing)
        file = file || e.second.getName() == "file";
    EXPECT_TRUE(file);
    TempDir out;
    recoverAll(*map, out.path());
}

} // namespace
