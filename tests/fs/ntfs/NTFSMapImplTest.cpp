#include "fs/ntfs/NTFSMapImpl.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

using ntfstest::CorpusTree;
using ntfstest::RecordBuilder;
using testutil::TempDir;
using tree::Node;

// A file's place in the tree: where it was, or under Found when its folder went.
std::string treePath(const ntfstest::CorpusFile& f) {
    const std::string path = f.path.substr(1);
    return f.deleted && path.rfind("Tree/", 0) == 0           ? "Found/" + path
           : f.deleted && path.find('/') == std::string::npos ? "Found/" + path
                                                              : path;
}

// The names ntfsls lists in a folder, system files and "." left out.
std::set<std::string> ntfsls(const std::string& image, const std::string& folder) {
    std::string out;
    EXPECT_EQ(ntfstest::runTool("ntfsls -a -p " + testutil::shellQuote(folder) + " " +
                                    testutil::shellQuote(image),
                                &out),
              0);
    std::set<std::string> names;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
        if (!l.empty() && l[0] != '$' && l != "." && l != "..")
            names.insert(l);
    }
    return names;
}

// Every file of a corpus volume listed where it lives as ntfsls lists it, every
// deleted one found as ntfsundelete finds it, and all of them recovered whole.
class NtfsTreeCorpusTest : public ::testing::TestWithParam<u32> {};

TEST_P(NtfsTreeCorpusTest, TheTreeIsWhatNtfsToolsSee) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(GetParam());
    CorpusTree tree(corpus.image);
    std::map<std::string, std::set<std::string>> folders;
    std::set<std::string> deleted;
    for (const auto& e : tree.listing) {
        const std::size_t slash = e.first.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : e.first.substr(0, slash);
        if (e.second.hasFlag(Node::DELETED) && !e.second.isDirectory())
            deleted.insert(e.second.getName());
        else if (!e.second.hasFlag(Node::DELETED) && e.second.getName()[0] != '$' &&
                 e.first != "Found")
            folders["/" + folder].insert(e.second.getName());
    }
    for (const char* folder : {"/", "/Docs", "/Docs/Deep", "/Many", "/Keep"})
        EXPECT_EQ(folders[folder == std::string("/") ? "/" : folder], ntfsls(corpus.image, folder))
            << folder;
    EXPECT_EQ(deleted, ntfstest::undeletable(corpus.image));
    TempDir out;
    testutil::recoverAll(*tree.map, out.path());
    for (const ntfstest::CorpusFile& f : corpus.files) {
        const auto it = tree.listing.find(treePath(f));
        ASSERT_NE(it, tree.listing.end()) << f.path;
        EXPECT_EQ(it->second.hasFlag(Node::DELETED), f.deleted) << f.path;
        EXPECT_EQ(it->second.getSize(), f.data.size()) << f.path;
        EXPECT_TRUE(testutil::readAll(out.path() + "/" + treePath(f)) == f.data) << f.path;
        if (!f.deleted) {
            EXPECT_EQ(testutil::mtimeOf(out.path() + f.path), f.mtime) << f.path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clusters, NtfsTreeCorpusTest, ::testing::Values(512u, 4096u, 65536u));

// A copy of the 4096-byte corpus volume with damage written into it.
struct Damaged {
    explicit Damaged(const std::function<void(testutil::NtfsBuilder&)>& damage) {
        testutil::writeAll(image, testutil::readAll(ntfstest::corpus(4096).image));
        testutil::NtfsBuilder builder(image);
        damage(builder);
        EXPECT_TRUE(builder.run());
    }
    TempDir dir;
    std::string image = dir.file("v.img");
};

const ntfstest::CorpusFile& corpusFile(const std::string& path) {
    for (const ntfstest::CorpusFile& f : ntfstest::corpus(4096).files) {
        if (f.path == path)
            return f;
    }
    throw std::logic_error(path);
}

TEST(NtfsTreeDamageTest, WithBothCopiesOfRecordZeroGoneTheFoundRecordsMakeTheTree) {
    Damaged v([](testutil::NtfsBuilder& b) { b.zeroMftRecord0().zeroMirrorRecord0(); });
    auto source = ntfstest::openSource(v.image);
    EXPECT_EQ(ntfstest::buildTree(*source), nullptr);
    source->recordRuns = ntfstest::scanRecordRuns(*source->driver);
    auto map = ntfstest::buildTree(*source);
    ASSERT_TRUE(map);
    const auto listing = testutil::listTree(*map);
    for (const char* path : {"/frag.bin", "/Docs/Deep/Grüße aus Köln.txt", "/Many/f000300"})
        EXPECT_EQ(listing.at(std::string(path).substr(1)).getSize(), corpusFile(path).data.size());
}

TEST(NtfsTreeDamageTest, ABrokenIndexStillYieldsEveryFileFromItsRecord) {
    // An entry whose length is 0 would hold a careless walk for ever.
    Damaged v([](testutil::NtfsBuilder& b) {
        b.corruptIndex("/Many", "f000150", ntfslayout::IE_LENGTH, std::string(2, '\0'))
            .clearInUse("/Keep/kept.bin");
    });
    testutil::LogCapture log;
    CorpusTree tree(v.image);
    EXPECT_TRUE(log.has("NtfsFileParser(468)"));
    for (u32 i = 1; i <= 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Many/f%06u", i);
        EXPECT_EQ(tree.listing.count(name), 1u) << name;
    }
    // A record out of use is deleted, yet listed where its folder has it.
    EXPECT_TRUE(tree.listing.at("Keep/kept.bin").hasFlag(Node::DELETED));
    EXPECT_EQ(tree.listing.at("Keep/kept.bin").getLink(), tree::GOOD);
}

TEST(NtfsTreeDamageTest, UnreadableSectorsAreMarkedAndRecoveredAsThePattern) {
    const std::string& image = ntfstest::corpus(4096).image;
    CorpusTree clean(image);
    const NtfsAttributeData d = clean.data("/random.bin");
    const u64 bad = clean.map->getNtfsDrive().getClusterLBA(d.runs[0].lcn + 2) + 3;
    CorpusTree tree(image, {bad});
    EXPECT_TRUE(tree.listing.at("random.bin").hasFlag(Node::HAS_UNREADABLE));
    EXPECT_FALSE(tree.listing.at("text.txt").hasFlag(Node::HAS_UNREADABLE));
    TempDir out;
    testutil::recoverAll(*tree.map, out.path());
    std::string got = testutil::readAll(out.file("random.bin"));
    const u64 at = 2 * 4096 + 3 * 512;
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()) + at, 512));
    got.replace(at, 512, corpusFile("/random.bin").data.substr(at, 512));
    EXPECT_TRUE(got == corpusFile("/random.bin").data);
}

// Folders that name each other, or themselves, as parent: the tree still ends.
TEST(NtfsTreeDamageTest, FoldersThatNameEachOtherAsParentDoNotHoldTheTree) {
    ntfstest::MemoryVolume image(1, 512, 32);
    auto folder = [](const std::u16string& name, u64 parent) {
        return RecordBuilder()
            .resident(0x30, RecordBuilder::fileName(parent, name, 1, NTFS_FILE_DIRECTORY))
            .resident(0x90, ntfstest::indexRoot(4096, {ntfstest::lastEntry()}), u"$I30")
            .raw();
    };
    image.putRecord(0, RecordBuilder()
                           .resident(0x30, RecordBuilder::fileName(5, u"$MFT", 1, 6))
                           .nonResident(0x80, ntfstest::mappingPairs({{1, 64}}), 64 * 512)
                           .raw());
    image.putRecord(5, folder(u".", 5));
    image.putRecord(20, folder(u"a", 21));
    image.putRecord(21, folder(u"b", 20));
    image.putRecord(22, folder(u"self", 22));
    image.putRecord(23, folder(u"far", 0xFFFFFFFFFFFFull));
    image.putRecord(24, RecordBuilder()
                            .resident(0x30, RecordBuilder::fileName(20, u"file", 1))
                            .resident(0x80, "data")
                            .raw());
    auto source = image.source();
    auto map = ntfstest::buildTree(*source);
    ASSERT_TRUE(map);
    bool file = false;
    for (const auto& e : testutil::listTree(*map))
        file = file || e.second.getName() == "file";
    EXPECT_TRUE(file);
}

} // namespace
