#include "fs/ntfs/NtfsFileParser.h"

#include "core/Log.h"
#include "core/NameConversions.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tests/fs/ntfs/NtfsTreeFixture.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using ntfstest::RecordBuilder;
using ntfstree::indexBlock;
using ntfstree::indexEntry;
using ntfstree::indexRoot;
using ntfstree::lastEntry;
using ntfstree::logSince;
using ntfstree::mappingPairs;
using ntfstree::MemoryMft;
using tree::Node;

constexpr u32 DIRECTORY = 0x10000000;
constexpr u32 ARCHIVE = 0x20;
constexpr u8 POSIX = 0;
constexpr u8 WIN32 = 1;
constexpr u8 DOS = 2;
constexpr u8 WIN32_AND_DOS = 3;
// The time RecordBuilder::fileName gives: 2019, plus the field's index.
constexpr u64 MODIFIED = 132000000000000000ull + 1;

// A memory volume (512-byte clusters unless asked) and a parser over its MFT.
struct Fixture {
    explicit Fixture(u64 sectorsPerCluster = 1, u64 clusters = 2048)
        : image(sectorsPerCluster, clusters, 64) {}

    NtfsFileParser& open(const std::vector<u64>& bad = {}) {
        source = image.source(bad);
        drive.reset(new NTFSDrive(source->driver, source->params, &source->unreadable));
        parser.reset(new NtfsFileParser(*drive));
        parser->setMftRunlist(image.mftRunlist());
        return *parser;
    }

    MemoryMft image;
    std::unique_ptr<ntfstree::Source> source;
    std::unique_ptr<NTFSDrive> drive;
    std::unique_ptr<NtfsFileParser> parser;
};

std::string fileName(const std::u16string& name, u8 nameSpace, u32 flags = ARCHIVE, u64 size = 0,
                     u64 parent = 5) {
    return RecordBuilder::fileName(parent, name, nameSpace, flags, size);
}

// A folder record whose $I30 index holds `entries` in its root alone.
std::vector<u8> folderRecord(const std::vector<std::string>& entries, u32 blockSize = 4096) {
    return RecordBuilder()
        .resident(0x30, fileName(u"dir", WIN32, DIRECTORY))
        .resident(0x90, indexRoot(blockSize, entries), u"$I30")
        .raw();
}

// A folder whose index root points to blocks stored at `lcn` (clusters of the
// allocation given).
std::vector<u8> folderRecordWithBlocks(const std::vector<std::string>& rootEntries, u32 blockSize,
                                       u64 lcn, u64 clusters) {
    return RecordBuilder()
        .resident(0x30, fileName(u"dir", WIN32, DIRECTORY))
        .resident(0x90, indexRoot(blockSize, rootEntries), u"$I30")
        .nonResident(0xA0, mappingPairs({{lcn, clusters}}), clusters * 512, 0, 0, 0, u"$I30")
        .raw();
}

std::vector<std::string> names(const tree::Folder& folder) {
    std::vector<std::string> out;
    for (const Node& n : folder.getNodes())
        out.push_back(n.getName());
    return out;
}

// ---- Names, sizes, times and flags ----

TEST(NtfsFileParserTest, TheNameComesFromTheBestNamespace) {
    Fixture f;
    const std::string data = "0123456789";
    // DOS before Win32: Win32 wins.
    f.image.putRecord(20, RecordBuilder()
                              .resident(0x30, fileName(u"LONGNA~1.TXT", DOS))
                              .resident(0x30, fileName(u"Long name.txt", WIN32))
                              .resident(0x80, data)
                              .raw());
    // A POSIX name wins wherever it stands.
    f.image.putRecord(21, RecordBuilder()
                              .resident(0x30, fileName(u"win32", WIN32))
                              .resident(0x30, fileName(u"posix", POSIX))
                              .resident(0x30, fileName(u"later", POSIX))
                              .resident(0x80, data)
                              .raw());
    // DOS beats Win32-and-DOS; of two equal ones the first wins.
    f.image.putRecord(22, RecordBuilder()
                              .resident(0x30, fileName(u"BOTH.TXT", WIN32_AND_DOS))
                              .resident(0x30, fileName(u"FIRST.TXT", DOS))
                              .resident(0x30, fileName(u"SECOND.TXT", DOS))
                              .resident(0x80, data)
                              .raw());
    NtfsFileParser& p = f.open();
    const std::pair<u64, const char*> cases[] = {
        {20, "Long name.txt"}, {21, "posix"}, {22, "FIRST.TXT"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(p.loadFile(c.first)) << c.first;
        Node n;
        ASSERT_TRUE(p.buildNode(n)) << c.first;
        EXPECT_EQ(n.getName(), c.second);
    }
}

TEST(NtfsFileParserTest, ANodeCarriesParentSizeTimeAndFlags) {
    Fixture f;
    const std::string data(700, 'd');
    f.image.putRecord(20, RecordBuilder(2, 0x30, 0) // not in use
                              .resident(0x30, fileName(u"sys", WIN32, 0x4 | ARCHIVE, 3, 11))
                              .resident(0x80, data)
                              .raw());
    f.image.putRecord(21, folderRecord({lastEntry()}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(20));
    EXPECT_FALSE(p.isDirectory());
    Node n;
    ASSERT_TRUE(p.buildNode(n));
    EXPECT_EQ(n.getAddress(), 11u);
    // The data's size, not the one the name keeps.
    EXPECT_EQ(n.getSize(), 700u);
    EXPECT_EQ(n.getTime(), fileTimeToUnixTime(MODIFIED));
    EXPECT_EQ(n.getIndex(), Node::NONE);
    EXPECT_TRUE(n.hasFlag(Node::SYSTEM));
    EXPECT_TRUE(n.hasFlag(Node::DELETED));
    EXPECT_FALSE(n.isDirectory());
    EXPECT_EQ(n.getLink(), tree::FROM);

    ASSERT_TRUE(p.loadFile(21));
    EXPECT_TRUE(p.isDirectory());
    ASSERT_TRUE(p.buildNode(n));
    EXPECT_TRUE(n.isDirectory());
    EXPECT_FALSE(n.hasFlag(Node::DELETED));
    EXPECT_EQ(n.getSize(), 0u);
}

TEST(NtfsFileParserTest, NamesKeepSurrogatePairs) {
    Fixture f;
    f.image.putRecord(20, RecordBuilder()
                              .resident(0x30, fileName(u"\U0001D11E clef \u00e9.txt", WIN32))
                              .resident(0x80, "x")
                              .raw());
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(20));
    Node n;
    ASSERT_TRUE(p.buildNode(n));
    EXPECT_EQ(n.getName(), "\xF0\x9D\x84\x9E clef \xC3\xA9.txt");
}

TEST(NtfsFileParserTest, NoNodeWithoutAUsableNameOrAFileWithoutData) {
    Fixture f;
    // A name value too short for the length it claims, and one too short for
    // the fixed fields.
    std::string cut = fileName(u"abcdef", WIN32);
    cut.resize(cut.size() - 2);
    f.image.putRecord(20, RecordBuilder()
                              .resident(0x30, cut)
                              .resident(0x30, std::string(60, '\0'))
                              .resident(0x80, "x")
                              .raw());
    f.image.putRecord(21, RecordBuilder().resident(0x30, fileName(u"nodata", WIN32)).raw());
    NtfsFileParser& p = f.open();
    Node n;
    std::size_t mark = logMemoryText().size();
    ASSERT_TRUE(p.loadFile(20));
    EXPECT_FALSE(p.buildNode(n));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(362)"), std::string::npos);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(354)"), std::string::npos);
    mark = logMemoryText().size();
    ASSERT_TRUE(p.loadFile(21));
    EXPECT_FALSE(p.buildNode(n));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(785)"), std::string::npos);
    // Nothing loads from an empty record.
    mark = logMemoryText().size();
    EXPECT_FALSE(p.loadFile(30));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(90): 30\n"), std::string::npos);
    EXPECT_FALSE(p.buildNode(n));
}

// ---- Attribute lists and data ----

// An attribute list entry: type, length 32, no name, starting VCN, reference.
std::string listEntry(u32 type, u64 vcn, u64 record) {
    std::string e(32, '\0');
    auto put = [&](std::size_t at, u64 v, u32 width) {
        for (u32 i = 0; i < width; ++i)
            e[at + i] = static_cast<char>(v >> (8 * i));
    };
    put(0x00, type, 4);
    put(0x04, 32, 2);
    put(0x07, 26, 1);
    put(0x08, vcn, 8);
    put(0x10, record, 8);
    return e;
}

TEST(NtfsFileParserTest, ExtentsInExtensionRecordsJoinInVcnOrder) {
    Fixture f;
    const u64 base = 10;
    // VCN 0-3 in the base record, 4-7 in record 12, 8-11 in record 11. Record 11
    // also holds the name, which the list names first, so it loads before 12.
    const std::string list = listEntry(0x30, 0, 11) + listEntry(0x80, 0, base) +
                             listEntry(0x80, 4, 12) + listEntry(0x80, 8, 11);
    f.image.putRecord(base, RecordBuilder()
                                .resident(0x20, list)
                                .nonResident(0x80, mappingPairs({{200, 4}}), 12 * 512 - 100, 0)
                                .raw());
    std::vector<u8> r11 = RecordBuilder()
                              .resident(0x30, fileName(u"split", WIN32))
                              .nonResident(0x80, mappingPairs({{400, 4}}), 0, 8)
                              .raw();
    std::vector<u8> r12 = RecordBuilder().nonResident(0x80, mappingPairs({{300, 4}}), 0, 4).raw();
    ntfstree::setBaseRecord(r11, base);
    ntfstree::setBaseRecord(r12, base);
    f.image.putRecord(11, r11);
    f.image.putRecord(12, r12);
    std::string data;
    for (u64 lcn : {200, 300, 400}) {
        const std::string piece = ntfstest::randomContent(4 * 512, static_cast<unsigned>(lcn));
        f.image.putClusters(lcn, piece);
        data += piece;
    }
    data.resize(12 * 512 - 100);
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(base));
    EXPECT_EQ(p.getRecordsCache().getRecordNumbers(), (std::vector<u64>{10, 11, 12}));
    NtfsAttributeData d;
    ASSERT_TRUE(p.getData(d));
    EXPECT_EQ(d.runs, (Runlist{{200, 4, 4}, {300, 4, 4}, {400, 4, 4}}));
    Node n;
    ASSERT_TRUE(p.buildNode(n));
    EXPECT_EQ(n.getName(), "split");
    EXPECT_EQ(n.getSize(), data.size());

    // The extension records are marked, the base record is not; one beyond the
    // bitmap is only logged.
    Bitmap records(12);
    const std::size_t mark = logMemoryText().size();
    p.markRecords(records);
    EXPECT_FALSE(records.test(10));
    EXPECT_TRUE(records.test(11));
    EXPECT_EQ(records.count(), 1u);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(155): 12\n"), std::string::npos);

    // An extension record that names another base fails the whole file.
    ntfstree::setBaseRecord(r12, 7);
    f.image.putRecord(12, r12);
    NtfsFileParser& q = f.open();
    const std::size_t mark2 = logMemoryText().size();
    EXPECT_FALSE(q.loadFile(base));
    EXPECT_NE(logSince(mark2).find("NtfsFileParser(127): 10\n"), std::string::npos);
}

TEST(NtfsFileParserTest, ExtentsThatLeaveAGapAreRefused) {
    Fixture f;
    const std::string list = listEntry(0x80, 0, 10) + listEntry(0x80, 8, 11);
    f.image.putRecord(10, RecordBuilder()
                              .resident(0x20, list)
                              .resident(0x30, fileName(u"gap", WIN32))
                              .nonResident(0x80, mappingPairs({{200, 4}}), 12 * 512, 0)
                              .raw());
    std::vector<u8> r11 = RecordBuilder().nonResident(0x80, mappingPairs({{400, 4}}), 0, 8).raw();
    ntfstree::setBaseRecord(r11, 10);
    f.image.putRecord(11, r11);
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(10));
    NtfsAttributeData d;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.getData(d));
    EXPECT_NE(logSince(mark).find("extent at VCN 8 after 4 clusters\nNtfsFileParser(209)\n"),
              std::string::npos);
}

TEST(NtfsFileParserTest, RunsMustLieInTheVolumeAndCoverTheSize) {
    Fixture f(1, 1024);
    // One cluster past the end of 1024 clusters.
    f.image.putRecord(20, RecordBuilder()
                              .resident(0x30, fileName(u"past", WIN32))
                              .nonResident(0x80, mappingPairs({{1020, 5}}), 5 * 512)
                              .raw());
    f.image.putRecord(21, RecordBuilder()
                              .resident(0x30, fileName(u"short", WIN32))
                              .nonResident(0x80, mappingPairs({{500, 2}}), 2 * 512 + 1)
                              .raw());
    // Exactly up to the end.
    f.image.putRecord(22, RecordBuilder()
                              .resident(0x30, fileName(u"fits", WIN32))
                              .nonResident(0x80, mappingPairs({{1020, 4}}), 4 * 512)
                              .raw());
    NtfsFileParser& p = f.open();
    NtfsAttributeData d;
    std::size_t mark = logMemoryText().size();
    ASSERT_TRUE(p.loadFile(20));
    EXPECT_FALSE(p.getData(d));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(240): Invalid Runlist: {1020, 5} 5 clusters, r: "
                                  "{1020, 5}, DATA_CLUSTERS: 1024\n"),
              std::string::npos)
        << logSince(mark);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(241)"), std::string::npos);
    mark = logMemoryText().size();
    ASSERT_TRUE(p.loadFile(21));
    EXPECT_FALSE(p.getData(d));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(247)"), std::string::npos);
    ASSERT_TRUE(p.loadFile(22));
    EXPECT_TRUE(p.getData(d));
}

TEST(NtfsFileParserTest, BytesPastTheInitializedSizeReadAsZeros) {
    Fixture f;
    // The data attribute is the record's first, at 0x38; its initialized size
    // (0x38 into it) says only 1000 of its 3000 bytes were ever written.
    std::vector<u8> raw = RecordBuilder().nonResident(0x80, mappingPairs({{300, 6}}), 3000).raw();
    ASSERT_EQ(raw[0x38], 0x80);
    raw[0x38 + 0x38] = 1000 & 0xFF;
    raw[0x38 + 0x39] = 1000 >> 8;
    f.image.putRecord(20, raw);
    f.image.putClusters(300, std::string(6 * 512, '\xAA'));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(20));
    NtfsAttributeData d;
    ASSERT_TRUE(p.getData(d));
    EXPECT_EQ(d.initializedSize, 1000u);
    std::vector<CachedAttribute> extents;
    p.getRecordsCache().findAttributes(extents, 0x80, nullptr, 0);
    std::vector<u8> value;
    ASSERT_TRUE(p.readAttributeValue(value, extents));
    EXPECT_EQ(std::string(value.begin(), value.end()),
              std::string(1000, '\xAA') + std::string(2000, '\0'));
}

TEST(NtfsFileParserTest, ValuesReadWholeStopAt100000Bytes) {
    Fixture f(8, 256);
    f.image.putRecord(20, RecordBuilder()
                              .nonResident(0x80, mappingPairs({{100, 25}}), 100000, 0, 0, 0, u"a")
                              .nonResident(0x80, mappingPairs({{130, 25}}), 100001, 0, 0, 0, u"b")
                              .raw());
    const std::string bytes = ntfstest::randomContent(100000, 3);
    f.image.putClusters(100, bytes);
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(20));
    static const u16 a[] = {'a'};
    static const u16 b[] = {'b'};
    std::vector<CachedAttribute> extents;
    p.getRecordsCache().findAttributes(extents, 0x80, a, 1);
    std::vector<u8> value;
    ASSERT_TRUE(p.readAttributeValue(value, extents));
    EXPECT_EQ(std::string(value.begin(), value.end()), bytes);
    extents.clear();
    p.getRecordsCache().findAttributes(extents, 0x80, b, 1);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.readAttributeValue(value, extents));
    EXPECT_NE(logSince(mark).find("value of 100001 bytes\nNtfsFileParser(268)\n"),
              std::string::npos);
}

// ---- Folder listings ----

TEST(NtfsFileParserTest, TheIndexRootListsItsEntriesAndSkipsDosNames) {
    Fixture f;
    f.image.putRecord(
        30, folderRecord({indexEntry(40, fileName(u"a.txt", WIN32_AND_DOS, ARCHIVE, 17)),
                          indexEntry(41, fileName(u"LONGFI~1.TXT", DOS)),
                          indexEntry(0x0005000000000029ull, fileName(u"Long file.txt", WIN32)),
                          indexEntry(42, fileName(u"sub", POSIX, DIRECTORY)), lastEntry()}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    ASSERT_TRUE(p.listFolder(folder));
    ASSERT_EQ(names(folder), (std::vector<std::string>{"a.txt", "Long file.txt", "sub"}));
    const Node& a = folder.node(0);
    EXPECT_EQ(a.getAddress(), 40u);
    EXPECT_EQ(a.getIndex(), 0u);
    EXPECT_EQ(a.getSize(), 17u);
    EXPECT_EQ(a.getLink(), tree::TO);
    EXPECT_FALSE(a.isDirectory());
    // The DOS entry counts; the reference loses its sequence number.
    EXPECT_EQ(folder.node(1).getIndex(), 2u);
    EXPECT_EQ(folder.node(1).getAddress(), 41u);
    EXPECT_TRUE(folder.node(2).isDirectory());
}

TEST(NtfsFileParserTest, SubNodesAreListedBeforeTheirEntry) {
    // Clusters of 512 bytes, blocks of 1024: the VCN counts clusters.
    Fixture f;
    const u32 block = 1024;
    const u64 lcn = 500;
    f.image.putRecord(30, folderRecordWithBlocks(
                              {indexEntry(50, fileName(u"m", WIN32), true, 0), lastEntry(true, 2)},
                              block, lcn, 4));
    f.image.putClusters(lcn, indexBlock(0, block,
                                        {indexEntry(51, fileName(u"a", WIN32)),
                                         indexEntry(52, fileName(u"b", WIN32)), lastEntry()}));
    f.image.putClusters(lcn + 2, indexBlock(2, block,
                                            {indexEntry(53, fileName(u"x", WIN32)),
                                             indexEntry(54, fileName(u"y", WIN32)), lastEntry()}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    ASSERT_TRUE(p.listFolder(folder));
    EXPECT_EQ(names(folder), (std::vector<std::string>{"a", "b", "m", "x", "y"}));
    EXPECT_EQ(folder.node(4).getIndex(), 4u);
}

TEST(NtfsFileParserTest, BlocksSmallerThanAClusterAreNumberedIn512ByteUnits) {
    // Clusters of 4096 bytes, blocks of 1024: the second block is VCN 2, at byte
    // 1024 of the allocation, not at cluster 2.
    Fixture f(8, 512);
    const u32 block = 1024;
    const u64 lcn = 100;
    f.image.putRecord(
        30, RecordBuilder()
                .resident(0x30, fileName(u"dir", WIN32, DIRECTORY))
                .resident(0x90,
                          indexRoot(block, {indexEntry(60, fileName(u"m", WIN32), true, 0),
                                            lastEntry(true, 2)}),
                          u"$I30")
                .nonResident(0xA0, mappingPairs({{lcn, 1}}), 4096, 0, 0, 0, u"$I30")
                .raw());
    f.image.putBytes(lcn * 4096,
                     indexBlock(0, block, {indexEntry(61, fileName(u"a", WIN32)), lastEntry()}));
    f.image.putBytes(lcn * 4096 + 1024,
                     indexBlock(2, block, {indexEntry(62, fileName(u"z", WIN32)), lastEntry()}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    ASSERT_TRUE(p.listFolder(folder)) << logMemoryText().substr(logMemoryText().size() - 300);
    EXPECT_EQ(names(folder), (std::vector<std::string>{"a", "m", "z"}));
}

TEST(NtfsFileParserTest, ABlockSizeOutsideWhatNtfsWritesIsRefused) {
    for (u32 size : {0u, 256u, 3000u, 131072u}) {
        Fixture f;
        f.image.putRecord(30,
                          folderRecord({indexEntry(40, fileName(u"a", WIN32)), lastEntry()}, size));
        NtfsFileParser& p = f.open();
        ASSERT_TRUE(p.loadFile(30));
        tree::Folder folder(tree::ATTACHED, 5);
        const std::size_t mark = logMemoryText().size();
        EXPECT_FALSE(p.listFolder(folder)) << size;
        EXPECT_NE(logSince(mark).find("NtfsFileParser(434)"), std::string::npos);
        EXPECT_NE(logSince(mark).find("NtfsFileParser(807)"), std::string::npos);
    }
}

TEST(NtfsFileParserTest, ASubNodeThatLoopsBackEndsTheListingWithWhatItHad) {
    Fixture f;
    const u32 block = 1024;
    const u64 lcn = 500;
    f.image.putRecord(30, folderRecordWithBlocks({lastEntry(true, 0)}, block, lcn, 2));
    // Block 0 lists "a", then names itself as the sub-node of its last entry.
    f.image.putClusters(
        lcn, indexBlock(0, block, {indexEntry(51, fileName(u"a", WIN32)), lastEntry(true, 0)}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.listFolder(folder));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(534)"), std::string::npos);
    EXPECT_EQ(names(folder), std::vector<std::string>{"a"});
}

TEST(NtfsFileParserTest, AChainOfSubNodesDeeperThanAnyTreeIsCut) {
    Fixture f;
    const u32 block = 512;
    const u64 lcn = 500;
    const u64 blocks = NtfsFileParser::MAX_INDEX_DEPTH + 5;
    f.image.putRecord(30, folderRecordWithBlocks({lastEntry(true, 0)}, block, lcn, blocks));
    for (u64 v = 0; v < blocks; ++v)
        f.image.putClusters(lcn + v, indexBlock(v, block, {lastEntry(true, v + 1)}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.listFolder(folder));
    EXPECT_NE(logSince(mark).find("index deeper than 64"), std::string::npos);
}

TEST(NtfsFileParserTest, EntriesThatDoNotHoldTheirKeyAreRefused) {
    std::string shortEntry = indexEntry(40, fileName(u"abc", WIN32));
    shortEntry[8] = 16; // the entry's length: its header only, though its key is 72 bytes
    std::string zeroEntry = indexEntry(40, fileName(u"abc", WIN32));
    zeroEntry[8] = 0;
    std::string keyPastEntry = indexEntry(40, fileName(u"abc", WIN32));
    keyPastEntry[10] = static_cast<char>(0xF0);
    for (const std::string& bad : {shortEntry, zeroEntry, keyPastEntry}) {
        Fixture f;
        f.image.putRecord(30,
                          folderRecord({indexEntry(39, fileName(u"ok", WIN32)), bad, lastEntry()}));
        NtfsFileParser& p = f.open();
        ASSERT_TRUE(p.loadFile(30));
        tree::Folder folder(tree::ATTACHED, 5);
        const std::size_t mark = logMemoryText().size();
        EXPECT_FALSE(p.listFolder(folder));
        EXPECT_NE(logSince(mark).find("NtfsFileParser(468)"), std::string::npos) << logSince(mark);
        EXPECT_EQ(names(folder), std::vector<std::string>{"ok"});
    }
}

TEST(NtfsFileParserTest, ABlockMustCarryItsOwnVcn) {
    Fixture f;
    const u32 block = 1024;
    const u64 lcn = 500;
    f.image.putRecord(30, folderRecordWithBlocks({lastEntry(true, 2)}, block, lcn, 4));
    f.image.putClusters(lcn + 2, indexBlock(0, block, {lastEntry()}));
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(30));
    tree::Folder folder(tree::ATTACHED, 5);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.listFolder(folder));
    EXPECT_NE(logSince(mark).find("block 0 at VCN 2\nNtfsFileParser(504)\n"), std::string::npos);
    // A VCN beyond the allocation is refused before anything multiplies it.
    f.image.putRecord(30, folderRecordWithBlocks({lastEntry(true, ~u64{0} / 2)}, block, lcn, 4));
    NtfsFileParser& q = f.open();
    ASSERT_TRUE(q.loadFile(30));
    const std::size_t mark2 = logMemoryText().size();
    EXPECT_FALSE(q.listFolder(folder));
    EXPECT_NE(logSince(mark2).find("NtfsFileParser(550)"), std::string::npos);
}

TEST(NtfsFileParserTest, AFileIsNoFolder) {
    Fixture f;
    f.image.putRecord(20, RecordBuilder().resident(0x30, fileName(u"f", WIN32)).raw());
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(20));
    EXPECT_FALSE(p.isDirectory());
    tree::Folder folder(tree::ATTACHED, 5);
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.listFolder(folder));
    EXPECT_NE(logSince(mark).find("NtfsFileParser(803)"), std::string::npos);
}

// ---- The MFT's own run list ----

std::vector<u8> mftRecord(const std::vector<std::pair<u64, u64>>& runs, u64 clusters) {
    return RecordBuilder()
        .resident(0x30, fileName(u"$MFT", WIN32, 0x6))
        .nonResident(0x80, mappingPairs(runs), clusters * 512)
        .raw();
}

TEST(NtfsFileParserTest, TheMftRunListComesFromRecordZero) {
    Fixture f;
    // The MFT's 128 clusters in two runs: 1..64 and 700..763.
    f.image.putRecord(0, mftRecord({{1, 64}, {700, 64}}, 128));
    NtfsFileParser& p = f.open();
    bool loaded = false;
    ASSERT_TRUE(p.readMftRunlist(false, &loaded));
    EXPECT_TRUE(loaded);
    EXPECT_EQ(p.getMftRunlist(), (Runlist{{1, 64, 64}, {700, 64, 64}}));
}

TEST(NtfsFileParserTest, AnMftRunListPastTheVolumeKeepsWhatCameBefore) {
    Fixture f(1, 1024);
    f.image.putRecord(0, mftRecord({{1, 64}, {1000, 64}}, 128));
    NtfsFileParser& p = f.open();
    bool loaded = false;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.readMftRunlist(false, &loaded));
    EXPECT_TRUE(loaded);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(582)"), std::string::npos);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(562): {1, 2} 2 clusters\n"), std::string::npos);
    // The list stays the one that read record 0.
    EXPECT_EQ(p.getMftRunlist(), (Runlist{{1, 2, 2}}));
}

TEST(NtfsFileParserTest, WithoutRecordZeroTheMftRunListIsOnlyWhereWeLooked) {
    Fixture f;
    NtfsFileParser& p = f.open();
    bool loaded = true;
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(p.readMftRunlist(false, &loaded));
    EXPECT_FALSE(loaded);
    EXPECT_NE(logSince(mark).find("NtfsFileParser(566)"), std::string::npos);
    EXPECT_EQ(p.getMftRunlist(), (Runlist{{1, 2, 2}}));
}

TEST(NtfsFileParserTest, TheMftRunListGoesOnInExtensionRecords) {
    Fixture f;
    // Record 0 holds VCN 0-63 at cluster 1, extension record 15 VCN 64-127 at
    // cluster 700; record 15 lies inside the first run, so it can be read.
    const std::string list = listEntry(0x80, 0, 0) + listEntry(0x80, 64, 15);
    f.image.putRecord(0, RecordBuilder()
                             .resident(0x20, list)
                             .resident(0x30, fileName(u"$MFT", WIN32, 0x6))
                             .nonResident(0x80, mappingPairs({{1, 64}}), 128 * 512)
                             .raw());
    std::vector<u8> extension =
        RecordBuilder().nonResident(0x80, mappingPairs({{700, 64}}), 0, 64).raw();
    f.image.putRecord(15, extension);
    NtfsFileParser& p = f.open();
    bool loaded = false;
    ASSERT_TRUE(p.readMftRunlist(false, &loaded));
    EXPECT_EQ(p.getMftRunlist(), (Runlist{{1, 64, 64}, {700, 64, 64}}));
}

} // namespace
