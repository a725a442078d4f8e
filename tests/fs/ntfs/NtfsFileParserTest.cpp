#include "fs/ntfs/NtfsFileParser.h"

#include "core/NameConversions.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

using ntfstest::indexBlock;
using ntfstest::indexEntry;
using ntfstest::indexRoot;
using ntfstest::lastEntry;
using ntfstest::mappingPairs;
using ntfstest::RecordBuilder;
using testutil::LogCapture;
using tree::Node;

constexpr u8 POSIX = 0, WIN32 = 1, DOS = 2, BOTH = 3;

std::string name(const std::u16string& n, u8 space = WIN32, u32 flags = 0x20) {
    return RecordBuilder::fileName(5, n, space, flags);
}

// A memory volume of 512-byte clusters unless asked, and a parser over its MFT.
struct Fixture {
    explicit Fixture(u64 spc = 1, u64 clusters = 2048) : image(spc, clusters) {}
    NtfsFileParser& open() {
        parser.reset();
        source = image.source();
        drive = source->drive();
        parser = std::make_unique<NtfsFileParser>(*drive);
        parser->setMftRunlist(image.mftRunlist());
        return *parser;
    }
    // The folder record 30 with these root entries, and blocks at cluster 500.
    std::vector<std::string> list(const std::vector<std::string>& root, u32 block = 4096,
                                  u64 clusters = 0, bool* ok = nullptr) {
        RecordBuilder r;
        r.resident(0x30, name(u"dir", WIN32, NTFS_FILE_DIRECTORY))
            .resident(0x90, indexRoot(block, root), u"$I30");
        if (clusters != 0)
            r.nonResident(0xA0, mappingPairs({{500, clusters}}), clusters * 512, 0, 0, 0, u"$I30");
        image.putRecord(30, r.raw());
        NtfsFileParser& p = open();
        EXPECT_TRUE(p.loadFile(30));
        tree::Folder folder(tree::ATTACHED, 5);
        const bool listed = p.listFolder(folder);
        if (ok != nullptr)
            *ok = listed;
        std::vector<std::string> names;
        for (const Node& n : folder.getNodes())
            names.push_back(n.getName());
        return names;
    }
    ntfstest::MemoryVolume image;
    std::unique_ptr<ntfstest::Source> source;
    std::unique_ptr<NTFSDrive> drive;
    std::unique_ptr<NtfsFileParser> parser;
};

TEST(NtfsFileParserTest, ANodeTakesTheNameOfTheBestNamespaceAndTheDataSize) {
    Fixture f;
    f.image.putRecord(
        20, RecordBuilder(2, 0x30, 0) // not in use
                .resident(0x30, name(u"LONGNA~1.TXT", DOS))
                .resident(0x30, RecordBuilder::fileName(11, u"Long \U0001D11E", WIN32, 0x24, 3))
                .resident(0x80, std::string(700, 'd'))
                .raw());
    f.image.putRecord(21, RecordBuilder()
                              .resident(0x30, name(u"BOTH", BOTH))
                              .resident(0x30, name(u"posix", POSIX))
                              .resident(0x30, name(u"later", POSIX))
                              .resident(0x80, "x")
                              .raw());
    std::string cut = name(u"abcdef");
    cut.resize(cut.size() - 2);
    f.image.putRecord(22, RecordBuilder().resident(0x30, cut).resident(0x80, "x").raw());
    f.image.putRecord(23, RecordBuilder().resident(0x30, name(u"nodata")).raw());
    NtfsFileParser& p = f.open();
    Node n;
    ASSERT_TRUE(p.loadFile(20) && p.buildNode(n));
    EXPECT_EQ(n.getName(), "Long \xF0\x9D\x84\x9E");
    EXPECT_EQ(n.getAddress(), 11u);
    EXPECT_EQ(n.getSize(), 700u); // the data's, not the name's
    EXPECT_EQ(n.getTime(), fileTimeToUnixTime(132000000000000001ull));
    EXPECT_TRUE(n.hasFlag(Node::SYSTEM) && n.hasFlag(Node::DELETED));
    ASSERT_TRUE(p.loadFile(21) && p.buildNode(n));
    EXPECT_EQ(n.getName(), "posix");
    LogCapture log;
    EXPECT_FALSE(p.loadFile(22) && p.buildNode(n));
    EXPECT_TRUE(log.has("NtfsFileParser(362)"));
    EXPECT_FALSE(p.loadFile(23) && p.buildNode(n));
    EXPECT_FALSE(p.loadFile(30));
    EXPECT_TRUE(log.has("NtfsFileParser(90): 30\n"));
}

// An attribute list entry: type, length 32, no name, starting VCN, reference.
std::string listEntry(u32 type, u64 vcn, u64 record) {
    std::string e(32, '\0');
    for (u32 i = 0; i < 8; ++i) {
        e[i] = i < 4 ? static_cast<char>(type >> (8 * i)) : '\0';
        e[8 + i] = static_cast<char>(vcn >> (8 * i));
        e[16 + i] = static_cast<char>(record >> (8 * i));
    }
    e[4] = 32;
    e[7] = 26;
    return e;
}

TEST(NtfsFileParserTest, ExtentsInExtensionRecordsJoinInVcnOrderWithoutGaps) {
    Fixture f;
    // VCN 0-3 in the base record, 4-7 in record 12, 8-11 in record 11, which the
    // list names first for the name it holds.
    f.image.putRecord(10, RecordBuilder()
                              .resident(0x20, listEntry(0x30, 0, 11) + listEntry(0x80, 0, 10) +
                                                  listEntry(0x80, 4, 12) + listEntry(0x80, 8, 11))
                              .nonResident(0x80, mappingPairs({{200, 4}}), 12 * 512 - 100)
                              .raw());
    f.image.putRecord(11, RecordBuilder()
                              .resident(0x30, name(u"split"))
                              .nonResident(0x80, mappingPairs({{400, 4}}), 0, 8)
                              .baseRecord(10)
                              .raw());
    RecordBuilder r12;
    r12.nonResident(0x80, mappingPairs({{300, 4}}), 0, 4);
    f.image.putRecord(12, r12.baseRecord(10).raw());
    NtfsFileParser& p = f.open();
    ASSERT_TRUE(p.loadFile(10));
    NtfsAttributeData d;
    ASSERT_TRUE(p.getData(d));
    EXPECT_EQ(d.runs, (Runlist{{200, 4, 4}, {300, 4, 4}, {400, 4, 4}}));
    Bitmap records(12);
    p.markRecords(records);
    EXPECT_TRUE(records.test(11) && !records.test(10));

    // Without the extent at VCN 4 every later cluster would land in the wrong
    // place; an extension record of another base fails the file.
    f.image.putRecord(12, RecordBuilder().baseRecord(10).raw());
    LogCapture log;
    ASSERT_TRUE(f.open().loadFile(10));
    EXPECT_FALSE(f.parser->getData(d));
    EXPECT_TRUE(log.has("NtfsFileParser(209): extent at VCN 8 after 4 clusters\n"));
    f.image.putRecord(12, r12.baseRecord(7).raw());
    EXPECT_FALSE(f.open().loadFile(10));
}

TEST(NtfsFileParserTest, RunsMustLieInTheVolumeCoverTheSizeAndValuesStopAt100000Bytes) {
    Fixture f(1, 1024);
    const std::pair<std::vector<u8>, u64> files[] = {
        {mappingPairs({{1020, 5}}), 5 * 512},    // one cluster past the volume
        {mappingPairs({{500, 2}}), 2 * 512 + 1}, // short of the size
        {mappingPairs({{1020, 4}}), 4 * 512},    // up to the end
    };
    for (u32 i = 0; i < 3; ++i)
        f.image.putRecord(20 + i, RecordBuilder()
                                      .resident(0x30, name(u"f"))
                                      .nonResident(0x80, files[i].first, files[i].second)
                                      .raw());
    f.image.putRecord(23, RecordBuilder()
                              .nonResident(0x80, mappingPairs({{100, 196}}), 100000, 0, 0, 0, u"a")
                              .nonResident(0x80, mappingPairs({{300, 196}}), 100001, 0, 0, 0, u"b")
                              .raw());
    NtfsFileParser& p = f.open();
    NtfsAttributeData d;
    LogCapture log;
    EXPECT_FALSE(p.loadFile(20) && p.getData(d));
    EXPECT_TRUE(log.has("NtfsFileParser(240): Invalid Runlist: {1020, 5} 5 clusters"));
    EXPECT_FALSE(p.loadFile(21) && p.getData(d));
    EXPECT_TRUE(log.has("NtfsFileParser(247)"));
    EXPECT_TRUE(p.loadFile(22) && p.getData(d));
    ASSERT_TRUE(p.loadFile(23));
    static const u16 a[] = {'a'}, b[] = {'b'};
    std::vector<CachedAttribute> extents;
    p.getRecordsCache().findAttributes(extents, 0x80, a, 1);
    std::vector<u8> value;
    EXPECT_TRUE(p.readAttributeValue(value, extents));
    extents.clear();
    p.getRecordsCache().findAttributes(extents, 0x80, b, 1);
    EXPECT_FALSE(p.readAttributeValue(value, extents));
    EXPECT_TRUE(log.has("NtfsFileParser(268): value of 100001 bytes\n"));
}

TEST(NtfsFileParserTest, AFolderListsItsRootAndBlocksInOrderSkippingDosNames) {
    Fixture f;
    EXPECT_EQ(f.list({indexEntry(40, name(u"a.txt", BOTH)), indexEntry(41, name(u"LONGFI~1", DOS)),
                      indexEntry(0x0005000000000029ull, name(u"Long file")), lastEntry()}),
              (std::vector<std::string>{"a.txt", "Long file"}));
    // Blocks of 1024 bytes in clusters of 512 are numbered by cluster.
    f.image.putClusters(500, indexBlock(0, 1024, {indexEntry(51, name(u"a")), lastEntry()}));
    f.image.putClusters(502, indexBlock(2, 1024, {indexEntry(53, name(u"x")), lastEntry()}));
    EXPECT_EQ(f.list({indexEntry(50, name(u"m"), true, 0), lastEntry(true, 2)}, 1024, 4),
              (std::vector<std::string>{"a", "m", "x"}));
    // In clusters of 4096 they are numbered in 512-byte units.
    Fixture big(8, 1024);
    big.image.putBytes(500 * 4096, indexBlock(0, 1024, {indexEntry(61, name(u"a")), lastEntry()}));
    big.image.putBytes(500 * 4096 + 1024,
                       indexBlock(2, 1024, {indexEntry(62, name(u"z")), lastEntry()}));
    EXPECT_EQ(big.list({indexEntry(60, name(u"m"), true, 0), lastEntry(true, 2)}, 1024, 8),
              (std::vector<std::string>{"a", "m", "z"}));
}

TEST(NtfsFileParserTest, BrokenIndexesEndTheListingWithWhatItHad) {
    std::string shortEntry = indexEntry(40, name(u"abc"));
    shortEntry[8] = 16; // its header only, though its key is 72 bytes
    std::string keyPast = indexEntry(40, name(u"abc"));
    keyPast[10] = static_cast<char>(0xF0);
    const u64 deep = NtfsFileParser::MAX_INDEX_DEPTH + 5;
    struct Case {
        std::vector<std::string> root;
        u32 block;
        u64 clusters;
        std::vector<std::string> blocks; // at 500, 501, ...
        const char* log;
    } cases[] = {
        {{indexEntry(39, name(u"ok")), shortEntry, lastEntry()},
         4096,
         0,
         {},
         "NtfsFileParser(468)"},
        {{indexEntry(39, name(u"ok")), keyPast, lastEntry()}, 4096, 0, {}, "NtfsFileParser(468)"},
        {{indexEntry(39, name(u"ok")), lastEntry()}, 3000, 0, {}, "NtfsFileParser(434)"},
        // A sub-node that loops back to its own block.
        {{lastEntry(true, 0)},
         512,
         1,
         {indexBlock(0, 512, {indexEntry(39, name(u"ok")), lastEntry(true, 0)})},
         "NtfsFileParser(534)"},
        // A block that claims another VCN; one beyond the allocation.
        {{indexEntry(39, name(u"ok")), lastEntry(true, 1)},
         512,
         2,
         {"", indexBlock(0, 512, {lastEntry()})},
         "NtfsFileParser(504): block 0 at VCN 1\n"},
        {{indexEntry(39, name(u"ok")), lastEntry(true, ~u64{0} / 2)},
         512,
         2,
         {},
         "NtfsFileParser(550)"},
        // A chain of sub-nodes deeper than any tree.
        {{indexEntry(39, name(u"ok")), lastEntry(true, 0)}, 512, deep, {}, "index deeper than 64"},
    };
    for (u64 v = 0; v < deep; ++v)
        cases[6].blocks.push_back(indexBlock(v, 512, {lastEntry(true, v + 1)}));
    for (const Case& c : cases) {
        Fixture f;
        for (std::size_t i = 0; i < c.blocks.size(); ++i)
            f.image.putClusters(500 + i, c.blocks[i]);
        LogCapture log;
        bool ok = true;
        const std::vector<std::string> had =
            c.block == 3000 ? std::vector<std::string>{} : std::vector<std::string>{"ok"};
        EXPECT_EQ(f.list(c.root, c.block, c.clusters, &ok), had) << c.log;
        EXPECT_FALSE(ok);
        EXPECT_TRUE(log.has(c.log)) << log.text();
    }
}

std::vector<u8> mftRecord(const std::vector<std::pair<u64, u64>>& runs, u64 clusters,
                          const std::string& list = "") {
    RecordBuilder r;
    if (!list.empty())
        r.resident(0x20, list);
    return r.resident(0x30, name(u"$MFT", WIN32, 0x6))
        .nonResident(0x80, mappingPairs(runs), clusters * 512)
        .raw();
}

TEST(NtfsFileParserTest, TheMftRunListComesFromRecordZeroAndItsExtensionRecords) {
    Fixture f(1, 1024);
    // Record 0 holds VCN 0-63 at cluster 1, extension record 15 VCN 64-127.
    f.image.putRecord(0,
                      mftRecord({{1, 64}}, 128, listEntry(0x80, 0, 0) + listEntry(0x80, 64, 15)));
    f.image.putRecord(15,
                      RecordBuilder().nonResident(0x80, mappingPairs({{700, 64}}), 0, 64).raw());
    bool loaded = false;
    ASSERT_TRUE(f.open().readMftRunlist(false, &loaded));
    EXPECT_EQ(f.parser->getMftRunlist(), (Runlist{{1, 64, 64}, {700, 64, 64}}));
    // A run past the volume keeps the list that read record 0.
    f.image.putRecord(0, mftRecord({{1, 64}, {1000, 64}}, 128));
    EXPECT_FALSE(f.open().readMftRunlist(false, &loaded));
    EXPECT_TRUE(loaded);
    EXPECT_EQ(f.parser->getMftRunlist(), (Runlist{{1, 2, 2}}));
    f.image.putRecord(0, std::vector<u8>(1024, 0));
    EXPECT_FALSE(f.open().readMftRunlist(false, &loaded));
    EXPECT_FALSE(loaded);
}

} // namespace
