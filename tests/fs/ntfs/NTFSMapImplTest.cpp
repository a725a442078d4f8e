// The tree of real volumes, whole and damaged, against ntfs-3g's tools.

#include "fs/ntfs/NTFSMapImpl.h"

#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/FsImages.h"
#include "tests/support/NtfsBuilder.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>

namespace {

using ntfstest::CorpusTree;
using ntfstest::RecordBuilder;
using testutil::TempDir;
using tree::Node;

// A file's place in the tree: where it was, deleted or not.
std::string treePath(const ntfstest::CorpusFile& f) {
    return f.path.substr(1);
}

// A file of the 4096-byte corpus volume.
const ntfstest::CorpusFile& corpusFile(const std::string& path) {
    for (const ntfstest::CorpusFile& f : ntfstest::corpus(4096).files) {
        if (f.path == path)
            return f;
    }
    throw std::logic_error(path);
}

// The lines of an ntfs-3g tool's output that match `line`, by its first group.
std::set<std::string> toolLines(const std::string& command, const char* line) {
    std::string out;
    EXPECT_EQ(ntfstest::runTool(command, &out), 0) << command;
    std::set<std::string> found;
    std::istringstream lines(out);
    std::smatch m;
    for (std::string l; std::getline(lines, l);) {
        if (std::regex_match(l, m, std::regex(line)))
            found.insert(m[1]);
    }
    return found;
}

// Every file of a corpus volume listed where it lives as ntfsls lists it, system
// files too, every deleted one found as ntfsundelete recovers it whole, and all
// of them recovered with their bytes.
class NtfsTreeCorpusTest : public ::testing::TestWithParam<u32> {};

TEST_P(NtfsTreeCorpusTest, TheTreeIsWhatNtfsToolsSee) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(GetParam());
    const std::string image = testutil::shellQuote(corpus.image);
    CorpusTree tree(corpus.image);
    std::map<std::string, std::set<std::string>> folders;
    std::set<std::string> deleted;
    for (const auto& e : tree.listing) {
        const std::size_t slash = e.first.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : e.first.substr(0, slash);
        if (!e.second.hasFlag(Node::DELETED) && e.first != "Found")
            folders["/" + folder].insert(e.second.getName());
        else if (e.second.hasFlag(Node::DELETED) && !e.second.isDirectory())
            deleted.insert(e.second.getName());
    }
    for (const char* folder : {"/", "/Docs", "/Docs/Deep", "/Many", "/Keep"}) {
        const std::string ls = "ntfsls -a -s -p " + testutil::shellQuote(folder) + " " + image;
        EXPECT_EQ(folders[folder], toolLines(ls, "([^.].*)")) << folder;
    }
    EXPECT_EQ(deleted, toolLines("ntfsundelete -s " + image,
                                 R"(\d+\s+F\S*\s+100%\s+\S+\s+\S+\s+\d+\s+([^<].*))"));
    std::ostringstream dump;
    tree.map->getParser().dumpRecord(dump, 5);
    EXPECT_EQ(dump.str().find("MFT Index: 5, LBA: "), 0u) << dump.str();
    EXPECT_NE(dump.str().find("File Name:\t'.'"), std::string::npos);
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

// "Found" has no record, and what hangs there no index: Properties show no
// number for either.
TEST(NtfsTreeDamageTest, PropertiesOfFoundShowNoMadeUpNumbers) {
    // Neither the record of /Docs nor the index entry naming it is left.
    Damaged v([](testutil::NtfsBuilder& b) { b.zeroRecord("/Docs").zeroIndexBlock("/", "Docs"); });
    CorpusTree tree(v.image);
    tree::Folder* root = tree.map->getFolder(tree.map->getRootAddress());
    std::ostringstream found;
    std::ostringstream inside;
    for (u32 i = 0; i < root->size(); ++i) {
        if (root->node(i).getAddress() != tree::FOUND_FOLDER)
            continue;
        tree.map->printNodeInformation(found, {tree.map->getRootAddress(), i});
        tree.map->printNodeInformation(inside, {tree::FOUND_FOLDER, 0});
    }
    EXPECT_NE(found.str().find("Address:\tnone\nIndex:\t\tnone\n"), std::string::npos)
        << found.str();
    EXPECT_EQ(found.str().find("MFT Index"), std::string::npos) << found.str();
    EXPECT_NE(inside.str().find("MFT Index: "), std::string::npos) << inside.str();
    EXPECT_EQ((found.str() + inside.str()).find("18446744073709551"), std::string::npos);
}

TEST(NtfsTreeDamageTest, ABrokenIndexStillYieldsEveryFileFromItsRecord) {
    // An entry whose length is 0 would hold a careless walk for ever.
    Damaged v([](testutil::NtfsBuilder& b) {
        b.corruptIndex("/Many", "f000150", ntfslayout::IE_LENGTH, std::string(2, '\0'))
            .clearInUse("/Keep/kept.bin")
            .corruptData("/random.bin", ntfslayout::ATTR_NON_RESIDENT_HEADER_SIZE, "\xFF");
    });
    testutil::LogCapture log;
    CorpusTree tree(v.image);
    EXPECT_TRUE(log.has("NtfsFileParser(468)"));
    EXPECT_EQ(std::count_if(tree.listing.begin(), tree.listing.end(),
                            [](const auto& e) { return e.first.rfind("Many/f", 0) == 0; }),
              300);
    // A record out of use is deleted, yet listed where its folder has it.
    EXPECT_TRUE(tree.listing.at("Keep/kept.bin").hasFlag(Node::DELETED));
    EXPECT_EQ(tree.listing.at("Keep/kept.bin").getLink(), tree::GOOD);
    // A record whose data does not read confirms no entry.
    EXPECT_EQ(tree.listing.at("random.bin").getLink(), tree::TO);
}

TEST(NtfsTreeDamageTest, UnreadableSectorsAreMarkedAndRecoveredAsThePattern) {
    const std::string& image = ntfstest::corpus(4096).image;
    const std::string& want = corpusFile("/random.bin").data;
    const u64 at = 2 * 4096 + 3 * 512;
    CorpusTree tree(image, {testutil::readAll(image).find(want.substr(at, 512)) / 512});
    EXPECT_TRUE(tree.listing.at("random.bin").hasFlag(Node::HAS_UNREADABLE));
    EXPECT_FALSE(tree.listing.at("text.txt").hasFlag(Node::HAS_UNREADABLE));
    TempDir out;
    testutil::recoverAll(*tree.map, out.path());
    std::string got = testutil::readAll(out.file("random.bin"));
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()) + at, 512));
    EXPECT_TRUE(got.replace(at, 512, want.substr(at, 512)) == want);
}

// Folders that name each other, or themselves, as parent: the tree still ends,
// and shows what they hold.
TEST(NtfsTreeDamageTest, FoldersThatNameEachOtherAsParentDoNotHoldTheTree) {
    ntfstest::MemoryVolume image(1, 512, 32);
    auto folder = [](const std::u16string& name, u64 parent,
                     std::vector<std::string> entries = {}) {
        entries.push_back(ntfstest::lastEntry());
        return RecordBuilder()
            .resident(0x30, RecordBuilder::fileName(parent, name, 1, NTFS_FILE_DIRECTORY))
            .resident(0x90, ntfstest::indexRoot(4096, entries), u"$I30")
            .raw();
    };
    auto file = [](const std::u16string& name, u64 parent) {
        return RecordBuilder()
            .resident(0x30, RecordBuilder::fileName(parent, name, 1))
            .resident(0x80, "data")
            .raw();
    };
    image.putRecord(0, ntfstest::mftRecord({{1, 64}}, 64));
    image.putRecord(5, folder(u".", 5));
    image.putRecord(20, folder(u"a", 21));
    image.putRecord(21, folder(u"b", 20));
    image.putRecord(22, folder(u"self", 22));
    image.putRecord(23, folder(u"far", 0xFFFFFFFFFFFFull));
    image.putRecord(24, file(u"file", 20));
    // Record 27, a folder whose record is lost, is listed by the folder
    // below it, read after the file in it.
    image.putRecord(25, file(u"orphan", 27));
    const std::string lost = RecordBuilder::fileName(26, u"lost", 1, NTFS_FILE_DIRECTORY);
    image.putRecord(26, folder(u"below", 27, {ntfstest::indexEntry(27, lost)}));
    auto source = image.source();
    auto map = ntfstest::buildTree(*source);
    ASSERT_TRUE(map);
    const auto listing = testutil::listTree(*map);
    for (const char* name : {"file", "orphan"}) {
        EXPECT_TRUE(std::any_of(listing.begin(), listing.end(), [&](const auto& e) {
            return e.second.getName() == name;
        })) << name;
    }
}

// Where the MFT's run list puts another record in place of a listed file's,
// the file is not written with that record's data.
TEST(NtfsTreeDamageTest, ARecordReadWhereAnotherBelongsIsNotTheFileListed) {
    ntfstest::MemoryVolume image(1, 512, 32);
    const std::string a = RecordBuilder::fileName(5, u"a");
    const std::string b = RecordBuilder::fileName(5, u"b");
    image.putRecord(0, ntfstest::mftRecord({{1, 64}}, 64));
    image.putRecord(5, RecordBuilder()
                           .recordNumber(5)
                           .resident(0x30, RecordBuilder::fileName(5, u".", 1, NTFS_FILE_DIRECTORY))
                           .resident(0x90,
                                     ntfstest::indexRoot(4096, {ntfstest::indexEntry(20, a),
                                                                ntfstest::indexEntry(21, b),
                                                                ntfstest::lastEntry()}),
                                     u"$I30")
                           .raw());
    const auto recordB = RecordBuilder().recordNumber(21).resident(0x30, b).resident(0x80, "bbb");
    image.putRecord(20, recordB.raw());
    image.putRecord(21, recordB.raw());
    auto source = image.source();
    auto map = ntfstest::buildTree(*source);
    ASSERT_TRUE(map);
    TempDir out;
    EXPECT_EQ(testutil::recoverAll(*map, out.path()), 1u);
    const auto listing = testutil::listTree(*map);
    EXPECT_TRUE(listing.at("a").hasFlag(Node::SELECTED));
    EXPECT_EQ(testutil::readAll(out.file("b")), "bbb");
}

// Every FILE record as a power loss leaves a write cut short after its first
// sector: the second sector no longer ends with the update sequence number.
void tearEveryRecord(std::string& image) {
    for (std::size_t at = 0; at + 1024 <= image.size(); at += 1024) {
        if (image.compare(at, 4, "FILE") == 0)
            image[at + 1022] = static_cast<char>(~image[at + 1022]);
    }
}

// A save by replace (the new version written beside the old one, the old one
// deleted and the new one renamed to its name) in the root, a hard link of a
// file beside a deleted file of its name, the root's index block with both
// names in it zeroed.
void replaceAndLink(testutil::NtfsBuilder& b) {
    b.write("/Report.docx", ntfstest::textContent(300, 30))
        .write("/~Report.tmp", ntfstest::textContent(5000, 31))
        .rm("/Report.docx")
        .link("/~Report.tmp", "/Report.docx")
        .rm("/~Report.tmp")
        .write("/Keep/x.dll", ntfstest::randomContent(9000, 32))
        .write("/Docs/x.dll", ntfstest::textContent(200, 33))
        .rm("/Docs/x.dll")
        .link("/Keep/x.dll", "/Docs/x.dll")
        .zeroIndexBlock("/", "Report.docx");
}

// Files whose data was written later than their names were made, in a
// folder's index and deleted from the root.
void deleteWritten(testutil::NtfsBuilder& b) {
    b.write("/notes28.db", ntfstest::textContent(400, 34))
        .setDataTime("/notes28.db", 1637345202)
        .write("/заметк4", ntfstest::textContent(500, 35))
        .setDataTime("/заметк4", 1637345302)
        .rm("/notes28.db")
        .rm("/заметк4")
        .write("/Keep/later.txt", ntfstest::textContent(600, 36))
        .setDataTime("/Keep/later.txt", 1637345402);
}

// Folders whose own records are lost while their parents' indexes name them:
// /Docs/Deep listed before its files' records come, /Y/X after them, its
// files taking the records that two files deleted below its folders'.
void loseFolders(testutil::NtfsBuilder& b) {
    b.write("/j1", "1").write("/j2", "2").mkdir("/Y").mkdir("/Y/X").rm("/j1").rm("/j2");
    EXPECT_TRUE(b.run());
    b.write("/Y/X/a.txt", ntfstest::textContent(900, 40))
        .write("/Y/X/b.txt", ntfstest::textContent(1100, 41))
        .zeroRecord("/Docs/Deep")
        .zeroRecord("/Y/X");
}

// A folder deleted with its file, and its record taken by a new folder: the
// file's reference names the old folder, a sequence number before the new.
void reuseFolder(testutil::NtfsBuilder& b) {
    b.mkdir("/Old").write("/Old/old.txt", ntfstest::textContent(700, 42)).rmtree("/Old");
    EXPECT_TRUE(b.run());
    b.mkdir("/New");
}

// Names that differ only in case: two live ones, as the POSIX namespace allows,
// and a deleted one beside a live one.
void namesOfOtherCase(testutil::NtfsBuilder& b) {
    b.write("/Keep/report.txt", ntfstest::textContent(300, 36))
        .write("/Keep/Report.TXT", ntfstest::textContent(400, 37))
        .write("/Keep/photo.jpg", ntfstest::randomContent(3000, 38))
        .write("/Keep/Photo.JPG", ntfstest::randomContent(2000, 39))
        .rm("/Keep/photo.jpg");
}

// The whole road from the volume to the recovered files, on the 4096-byte
// corpus volume whole, with every record torn and cut short past its half,
// with index blocks, records and data streams lost and with files a row adds:
// every file in use that does not come back as it was is marked, or gone from
// a folder marked, and none is marked needlessly; what goes to Found is marked
// or in a folder marked.
TEST(NtfsRecoveryTest, FilesComeBackOrAreMarked) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(4096);
    const struct {
        const char* what;
        void (*damage)(std::string& image);
        void (*build)(testutil::NtfsBuilder& b);
        u32 leastIdentical; // of its 321 files in use
        bool everyFileMarked;
        bool errors;
        std::vector<ntfstest::CorpusFile> placed; // by the row, after the corpus
        u32 lost = 0; // files in use gone from the tree, each from a folder marked
        // Entries that must be marked ("" the root), and bytes that "Found"
        // must hold as a file marked.
        std::vector<std::string> marked = {};
        std::string found = {};
    } rows[] = {
        // The system files without a data stream of their own are empty files.
        {"whole", [](std::string&) {}, nullptr, 321, false, false, {}},
        {"torn", tearEveryRecord, nullptr, 321, true, true, {}},
        // Its files reach 21 of its 32 MiB.
        {"cut", [](std::string& image) { image.resize(17 << 20); }, nullptr, 300, false, true, {}},
        // Every file of the root comes from its own record; /Many's listing
        // goes on past its bad block. Nothing is missing.
        {"index blocks",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             // The root last: the library cannot mount a volume without it.
             b.zeroIndexBlock("/Many", "f000150").zeroIndexBlock("/", "Docs");
         },
         321,
         false,
         false,
         {}},
        // The root's first block, with the names of its system files: each
        // comes back from its record, one without a data stream of its own too.
        {"first index block",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) { b.zeroIndexBlock("/", "$Secure"); },
         321,
         false,
         false,
         {{"/$Secure", "", testutil::ANY_TIME}}},
        // The root's record among them: the root is known by its number.
        {"first records",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) { b.zeroMftRecords(0, 16); },
         321,
         false,
         true,
         {}},
        // Its entries stay below the name the root's index gives it.
        {"folder record",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) { b.zeroRecord("/Docs"); },
         321,
         false,
         true,
         {}},
        {"replace and link",
         [](std::string&) {},
         replaceAndLink,
         321,
         false,
         false,
         {{"/Report.docx", ntfstest::textContent(5000, 31), testutil::IMAGE_EPOCH},
          {"/Keep/x.dll", ntfstest::randomContent(9000, 32), testutil::IMAGE_EPOCH},
          {"/Docs/x.dll", ntfstest::randomContent(9000, 32), testutil::IMAGE_EPOCH}}},
        {"deleted",
         [](std::string&) {},
         deleteWritten,
         321,
         false,
         false,
         {{"/notes28.db", ntfstest::textContent(400, 34), 1637345202, true},
          {"/заметк4", ntfstest::textContent(500, 35), 1637345302, true},
          {"/Keep/later.txt", ntfstest::textContent(600, 36), 1637345402}}},
        // The live names in the order of their index.
        {"names of other case",
         [](std::string&) {},
         namesOfOtherCase,
         321,
         false,
         false,
         {{"/Keep/Report.TXT", ntfstest::textContent(400, 37), testutil::IMAGE_EPOCH},
          {"/Keep/report-1.txt", ntfstest::textContent(300, 36), testutil::IMAGE_EPOCH},
          {"/Keep/Photo.JPG", ntfstest::randomContent(2000, 39), testutil::IMAGE_EPOCH},
          {"/Keep/photo-1.jpg", ntfstest::randomContent(3000, 38), testutil::IMAGE_EPOCH, true}}},
        // Each keeps its files under the name its parent's index gives it.
        {"folder records below",
         [](std::string&) {},
         loseFolders,
         321,
         false,
         true,
         {{"/Y/X/a.txt", ntfstest::textContent(900, 40), testutil::IMAGE_EPOCH},
          {"/Y/X/b.txt", ntfstest::textContent(1100, 41), testutil::IMAGE_EPOCH}}},
        {"reused folder",
         [](std::string&) {},
         reuseFolder,
         321,
         false,
         false,
         {{"/Found/old.txt", ntfstest::textContent(700, 42), testutil::IMAGE_EPOCH, true}}},
        // Files in use whose index entries are lost with the root's first
        // block, one run list garbage, one past the volume's end, one without
        // its data stream: listed from their records, not written, and
        // counted. The root is marked.
        {"broken data",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             const u64 runs = ntfslayout::ATTR_NON_RESIDENT_HEADER_SIZE;
             b.corruptData("/random.bin", runs, "\xFF")
                 .corruptData("/text.txt", runs, std::string("\x21\x50\xFF\x7F\x00", 5))
                 .corruptData("/exact.bin", ntfslayout::ATTR_TYPE, std::string("\x00\x01", 2))
                 .zeroIndexBlock("/", "random.bin");
         },
         318,
         false,
         true,
         {},
         0,
         {""}},
        // A deleted record whose data does not read is no file to tell of.
        // /T takes the record of the deleted /Tree, which its file's
        // reference no longer names.
        {"deleted without its data",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.mkdir("/T")
                 .write("/dd.bin", ntfstest::randomContent(9000, 43))
                 .corruptData("/dd.bin", ntfslayout::ATTR_NON_RESIDENT_HEADER_SIZE, "\xFF")
                 .clearInUse("/dd.bin")
                 .zeroIndexBlock("/", "dd.bin");
         },
         321,
         false,
         false,
         {}},
        // A symbolic link is flagged system, yet is no file of the volume's
        // own that may lack a data stream.
        {"link without its data",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.symlink("/Keep/link", "kept.bin")
                 .corruptData("/Keep/link", ntfslayout::ATTR_TYPE, std::string("\x00\x01", 2));
         },
         321,
         false,
         true,
         {},
         0,
         {"Keep/link"}},
        // Its run points into the MFT (cluster 4, 25 clusters).
        {"data run into the MFT",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.corruptData("/text.txt", ntfslayout::ATTR_NON_RESIDENT_HEADER_SIZE,
                           std::string("\x11\x19\x04\x00", 4));
         },
         320,
         false,
         true,
         {},
         0,
         {"text.txt"}},
        // The hole that ends its second unit is lost: the unit's one stored
        // cluster would pass for plain data.
        {"compressed tail lost",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) { b.cutRuns("/Packed/random-unit+1", 1); },
         320,
         false,
         true,
         {},
         0,
         {"Packed/random-unit+1"}},
        // In use with its data, without its name and its index entry.
        {"record without names",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.corruptAttribute("/Many/f000150", 0x30, ntfslayout::ATTR_TYPE,
                                std::string("\x00\x01", 2))
                 .zeroIndexBlock("/Many", "f000150");
         },
         320,
         false,
         true,
         {},
         1,
         {"Many"},
         std::string("f000150").append(100, ' ')},
        // Without its name, but its index entry names it: it stands there,
        // whole, and not in Found as well.
        {"record without names, listed",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.corruptAttribute("/Many/f000150", 0x30, ntfslayout::ATTR_TYPE,
                                std::string("\x00\x01", 2));
         },
         321,
         false,
         false,
         {}},
        // Its own parent reference names $MFT: it stands where its parent's
        // index names it.
        {"folder naming a file as parent",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.corruptAttribute("/Docs/Deep", 0x30,
                                ntfslayout::ATTR_HEADER_SIZE + ntfslayout::FN_PARENT,
                                std::string("\0\0\0\0\0\0\1\0", 8));
         },
         321,
         false,
         false,
         {}},
        // Listed by its folder's index, but its record holds no data stream: it
        // is not written as an empty file.
        {"data stream gone",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.corruptData("/exact.bin", ntfslayout::ATTR_TYPE, std::string("\x00\x01", 2));
         },
         320,
         false,
         true,
         {}},
        // A file whose record is zeroed, below records written later, and its
        // index entry lost: its folder is marked.
        {"file record and entry",
         [](std::string&) {},
         [](testutil::NtfsBuilder& b) {
             b.zeroRecord("/Many/f000150").zeroIndexBlock("/Many", "f000150");
         },
         320,
         false,
         true,
         {},
         1},
    };
    const std::string image = testutil::readAll(corpus.image);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        std::string bytes = image;
        row.damage(bytes);
        testutil::writeAll(dir.file("v.img"), bytes);
        if (row.build) {
            testutil::NtfsBuilder builder(dir.file("v.img"));
            row.build(builder);
            ASSERT_TRUE(builder.run());
        }
        // As the program reads a disk: with the record runs its scan found,
        // the mirror's among them.
        auto source = ntfstest::openSource(dir.file("v.img"));
        source->recordRuns = ntfstest::scanRecordRuns(*source->driver);
        auto map = ntfstest::buildTree(*source);
        ASSERT_TRUE(map);
        const u32 errors = testutil::recoverAll(*map, dir.file("out"));
        const auto listing = testutil::listTree(*map);
        u32 identical = 0;
        u32 lost = 0;
        for (const ntfstest::CorpusFile& f : corpus.files) {
            if (f.deleted)
                continue;
            const std::string path = f.path.substr(1);
            const auto it = listing.find(path);
            if (it == listing.end()) {
                ++lost;
                const std::size_t slash = path.rfind('/');
                const auto folder = listing.find(path.substr(0, slash));
                const Node& entry = slash == std::string::npos
                                        ? map->getFolder(tree::TOP_FOLDER)->node(0)
                                    : folder != listing.end() ? folder->second
                                                              : Node();
                EXPECT_TRUE(entry.hasFlag(Node::INVALID_DIRECTORY))
                    << path << " is lost from a folder not marked";
                continue;
            }
            const bool same =
                testutil::fileDifference(dir.file("out/" + path), f.data, f.mtime).empty();
            const bool marked = it->second.hasFlag(Node::SELECTED);
            identical += same ? 1 : 0;
            EXPECT_TRUE(same || marked) << path << " is neither whole nor marked";
            EXPECT_TRUE(marked || !row.everyFileMarked) << path;
        }
        for (const ntfstest::CorpusFile& f : row.placed) {
            const auto it = listing.find(f.path.substr(1));
            ASSERT_NE(it, listing.end()) << f.path;
            EXPECT_EQ(it->second.hasFlag(Node::DELETED), f.deleted) << f.path;
            // Its own record confirms it.
            EXPECT_NE(it->second.getLink(), tree::TO) << f.path;
            EXPECT_EQ(testutil::fileDifference(dir.file("out") + f.path, f.data, f.mtime), "");
        }
        // Found holds no file in use but one marked, or in a folder marked, and
        // stands only while it holds something.
        u32 inFound = 0;
        for (const auto& e : listing) {
            if (e.first.rfind("Found/", 0) != 0)
                continue;
            ++inFound;
            if (e.second.hasFlag(Node::DELETED))
                continue;
            const std::string folder = e.first.substr(0, e.first.rfind('/'));
            EXPECT_TRUE(e.second.hasFlag(Node::SELECTED | Node::INVALID_DIRECTORY) ||
                        listing.at(folder).hasFlag(Node::INVALID_DIRECTORY))
                << e.first;
        }
        EXPECT_EQ(listing.count("Found"), inFound != 0 ? 1u : 0u);
        for (const std::string& path : row.marked) {
            const Node& entry =
                path.empty() ? map->getFolder(tree::TOP_FOLDER)->node(0) : listing.at(path);
            EXPECT_TRUE(
                entry.hasFlag(entry.isDirectory() ? Node::INVALID_DIRECTORY : Node::SELECTED))
                << path;
        }
        if (!row.found.empty()) {
            EXPECT_TRUE(std::any_of(listing.begin(), listing.end(), [&](const auto& e) {
                return e.first.rfind("Found/", 0) == 0 && e.second.hasFlag(Node::SELECTED) &&
                       testutil::readAll(dir.file("out/" + e.first)) == row.found;
            }));
        }
        EXPECT_GE(identical, row.leastIdentical);
        EXPECT_EQ(lost, row.lost);
        EXPECT_EQ(errors != 0, row.errors);
    }
}

} // namespace
