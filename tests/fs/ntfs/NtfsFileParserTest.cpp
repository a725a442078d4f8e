// The file parser on memory volumes: its records cache, the drive under it and
// the MFT run list rebuilt from record 0, its mirror and found record runs.

#include "fs/ntfs/NtfsFileParser.h"

#include "core/NameConversions.h"
#include "fs/ntfs/MftRunlist.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using ntfstest::indexBlock;
using ntfstest::indexEntry;
using ntfstest::indexRoot;
using ntfstest::lastEntry;
using ntfstest::listEntry;
using ntfstest::mappingPairs;
using ntfstest::mftRecord;
using ntfstest::RecordBuilder;
using testutil::LogCapture;
using tree::Node;

constexpr u8 POSIX = 0, WIN32 = 1, DOS = 2, BOTH = 3;

std::string name(const std::u16string& n, u8 space = WIN32, u32 flags = 0x20) {
    return RecordBuilder::fileName(5, n, space, flags);
}

// A memory volume of 512-byte clusters unless asked; a parser over its MFT, or
// the MFT's run list rebuilt with its mirror and the record runs a scan found.
struct Fixture {
    explicit Fixture(u64 spc = 1, u64 clusters = 1024) : image(spc, clusters) {}
    NtfsFileParser& open(const std::vector<u64>& bad = {}) {
        parser.reset();
        source = image.source(bad);
        parser = std::make_unique<NtfsFileParser>(source->drive());
        parser->setMftRunlist(image.mftRunlist());
        return *parser;
    }
    Runlist rebuild(u64 mirrorLcn = 0, InterfaceCallback* progress = nullptr) {
        parser.reset();
        source = image.source();
        source->params.mftMirrLCN = mirrorLcn;
        source->params.sectorsPerFileRecord = recordSectors;
        source->drive().setInterfaceCallback(progress);
        Runlist out{{9, 9, 9}};
        recreateMftRunlist(out, source->drive(), found);
        return out;
    }
    void find(u32 lba, u32 records) { found.insert(FoundRecordRun{lba, recordSectors, records}); }

    ntfstest::MemoryVolume image;
    std::unique_ptr<ntfstest::Source> source;
    std::unique_ptr<NtfsFileParser> parser;
    FoundList<FoundRecordRun> found;
    u16 recordSectors = 2;
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
    // Its one run lies past the volume's 1024 clusters.
    f.image.putRecord(24, RecordBuilder()
                              .resident(0x30, name(u"lost"))
                              .nonResident(0x80, mappingPairs({{5000, 2}}), 1000)
                              .raw());
    NtfsFileParser& p = f.open();
    Node n;
    ASSERT_TRUE(p.loadFile(20) && p.buildNode(n) == NodeBuild::WHOLE);
    EXPECT_EQ(n.getName(), "Long \xF0\x9D\x84\x9E");
    EXPECT_EQ(n.getAddress(), 11u);
    EXPECT_EQ(n.getSize(), 700u); // the data's, not the name's
    EXPECT_EQ(n.getTime(), fileTimeToUnixTime(132000000000000001ull));
    EXPECT_TRUE(n.hasFlag(Node::SYSTEM) && n.hasFlag(Node::DELETED));
    ASSERT_TRUE(p.loadFile(21) && p.buildNode(n) == NodeBuild::WHOLE);
    EXPECT_EQ(n.getName(), "posix");
    LogCapture log;
    const std::pair<u64, NodeBuild> builds[] = {
        {22, NodeBuild::NO_NAME}, {23, NodeBuild::NO_DATA}, {24, NodeBuild::NO_DATA}};
    for (const auto& b : builds)
        EXPECT_TRUE(p.loadFile(b.first) && p.buildNode(n) == b.second) << b.first;
    EXPECT_TRUE(log.has("NtfsFileParser(362)"));
    EXPECT_EQ(n.getSize(), 1000u); // the size its data states
    EXPECT_FALSE(p.loadFile(30));
    EXPECT_TRUE(log.has("NtfsFileParser(90): 30\n"));
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
    Fixture f;
    const std::tuple<std::vector<u8>, u64, const char*> files[] = {
        {mappingPairs({{1020, 5}}), 5 * 512, "(240): Invalid Runlist: {1020, 5} 5 clusters"},
        {mappingPairs({{500, 2}}), 2 * 512 + 1, "NtfsFileParser(247)"}, // short of the size
        {mappingPairs({{1020, 4}}), 4 * 512, ""},                       // up to the end
    };
    for (const auto& [pairs, size, rule] : files) {
        f.image.putRecord(
            20, RecordBuilder().resident(0x30, name(u"f")).nonResident(0x80, pairs, size).raw());
        NtfsAttributeData d;
        LogCapture log;
        EXPECT_EQ(f.open().loadFile(20) && f.parser->getData(d), *rule == '\0') << rule;
        EXPECT_TRUE(log.has(rule)) << log.text();
    }
    f.image.putRecord(23, RecordBuilder()
                              .nonResident(0x80, mappingPairs({{100, 196}}), 100000, 0, 0, 0, u"a")
                              .nonResident(0x80, mappingPairs({{300, 196}}), 100001, 0, 0, 0, u"b")
                              .raw());
    NtfsFileParser& p = f.open();
    LogCapture log;
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

// A listing that breaks fails; what the rest of the index holds is listed all
// the same, a block that does not read costing only its own entries.
TEST(NtfsFileParserTest, BrokenIndexesFailTheListingWithWhatTheRestHolds) {
    const std::string ok = indexEntry(39, name(u"ok"));
    std::string shortEntry = indexEntry(40, name(u"abc"));
    shortEntry[8] = 16; // its header only, though its key is 72 bytes
    std::string keyPast = indexEntry(40, name(u"abc"));
    keyPast[10] = static_cast<char>(0xF0);
    struct Case {
        std::vector<std::string> root;
        u32 block;
        std::vector<std::string> blocks; // the allocation, from cluster 500
        const char* log;
        u32 listed = 1;
    } cases[] = {
        {{ok, shortEntry, lastEntry()}, 4096, {}, "NtfsFileParser(468)"},
        {{ok, keyPast, lastEntry()}, 4096, {}, "NtfsFileParser(468)"},
        {{ok, lastEntry()}, 3000, {}, "NtfsFileParser(434)", 0},
        // A sub-node that loops back to its own block.
        {{lastEntry(true, 0)}, 512, {indexBlock(0, 512, {ok, lastEntry(true, 0)})}, "(534)"},
        // A block that claims another VCN; one beyond the allocation.
        {{ok, lastEntry(true, 1)},
         512,
         {"", indexBlock(0, 512, {lastEntry()})},
         "(504): block 0 at VCN 1\n"},
        {{ok, lastEntry(true, ~u64{0} / 2)}, 512, {"", ""}, "NtfsFileParser(550)"},
        // A chain of sub-nodes deeper than any tree.
        {{ok, lastEntry(true, 0)}, 512, {}, "index deeper than 64"},
        // The first of two blocks zeroed: the entry above it and the second
        // block's are listed.
        {{indexEntry(41, name(u"m"), true, 0), lastEntry(true, 1)},
         512,
         {"", indexBlock(1, 512, {ok, lastEntry()})},
         "NtfsFileParser(502)",
         2},
    };
    for (u64 v = 0; v < NtfsFileParser::MAX_INDEX_DEPTH + 5; ++v)
        cases[6].blocks.push_back(indexBlock(v, 512, {lastEntry(true, v + 1)}));
    for (const Case& c : cases) {
        Fixture f;
        RecordBuilder r;
        r.resident(0x30, name(u"dir", WIN32, NTFS_FILE_DIRECTORY))
            .resident(0x90, indexRoot(c.block, c.root), u"$I30");
        const u64 clusters = c.blocks.size();
        if (clusters != 0)
            r.nonResident(0xA0, mappingPairs({{500, clusters}}), clusters * 512, 0, 0, 0, u"$I30");
        f.image.putRecord(30, r.raw());
        for (std::size_t i = 0; i < clusters; ++i)
            f.image.putClusters(500 + i, c.blocks[i]);
        NtfsFileParser& p = f.open();
        ASSERT_TRUE(p.loadFile(30));
        LogCapture log;
        tree::Folder folder(tree::ATTACHED, 5);
        EXPECT_FALSE(p.listFolder(folder)) << c.log;
        EXPECT_EQ(folder.size(), c.listed) << c.log;
        EXPECT_TRUE(log.has(c.log)) << log.text();
    }
}

TEST(NtfsFileParserTest, TheMftRunListComesFromRecordZeroAndItsExtensionRecords) {
    Fixture f;
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
}

TEST(NtfsFileParserTest, TheDriveReadsClustersInsideTheVolumeOnly) {
    auto source = ntfstest::MemoryVolume(4, 25).source();
    source->params.startingLBA = 10;
    source->params.totalSectors = 88; // 22 clusters from LBA 10
    NTFSDrive& drive = source->drive();
    EXPECT_EQ(drive.getClusterLBA(21), 94u);
    EXPECT_EQ(drive.getClusterLBA(22), ~u64{0});
    EXPECT_FALSE(drive.areClustersValid(1, ~u64{0}));
    u8 buffer[8 * 512];
    EXPECT_TRUE(drive.readClusters(20, buffer, 8));
    EXPECT_FALSE(drive.readClusters(22, buffer, 0));
    EXPECT_FALSE(drive.readClusters(21, buffer, 5)); // starts inside, runs past
    EXPECT_EQ(source->reader->requests().size(), 1u);
}

// A record read torn, of zeros, of another base or past 64-bit sectors takes no
// slot of the cache.
TEST(NtfsFileParserTest, OnlyWholeRecordsOfTheirBaseTakeACacheSlot) {
    Fixture f;
    f.image.putRecord(8, RecordBuilder().resident(0x80, "x").raw());
    f.image.putRecord(9, RecordBuilder().baseRecord(0x0003000000000003ull).raw());
    NtfsFileRecordsCache& cache = f.open({1 + 7 * 2 + 1}).getRecordsCache(); // in record 7
    bool deleted = true;
    for (u64 record : {7ull, 6ull, 9ull, ~0ull})
        EXPECT_FALSE(cache.loadRecord(record, 0, deleted)) << record;
    ASSERT_TRUE(cache.loadRecord(8, 0, deleted));
    EXPECT_FALSE(deleted);
    EXPECT_EQ(cache.getRecordNumbers(), std::vector<u64>{8});
}

// A record torn after its first sector is loaded, told apart and logged once
// however often it is loaded; one whose header, update sequence or attribute
// walk fails is refused, torn or not.
TEST(NtfsFileParserTest, ATornRecordLoadsUnlessItsHeaderOrAttributesFail) {
    namespace L = ntfslayout;
    const std::vector<u8> raw =
        RecordBuilder().resident(0x30, name(u"torn")).resident(0x80, std::string(600, 'd')).raw();
    std::vector<u8> torn = raw;
    torn[1022] ^= 0xFF; // not the update sequence number
    auto tornWith = [&](u32 offset, u8 value) {
        std::vector<u8> bytes = torn;
        bytes[offset] = value;
        return bytes;
    };
    Fixture f;
    f.image.putRecord(20, torn);
    f.image.putRecord(21, tornWith(L::REC_MAGIC, 'B'));
    f.image.putRecord(22, tornWith(L::REC_USA_OFFSET, 4)); // over the header's own fields
    // An attribute that never ends.
    f.image.putRecord(23, tornWith(raw[L::FILE_FIRST_ATTRIBUTE] + L::ATTR_LENGTH, 0));
    f.image.putRecord(30, raw);
    NtfsFileParser& parser = f.open();
    LogCapture log;
    ASSERT_TRUE(parser.loadFile(20));
    EXPECT_TRUE(parser.isTorn());
    for (u64 refused : {21u, 22u, 23u})
        EXPECT_FALSE(parser.loadFile(refused)) << refused;
    ASSERT_TRUE(parser.loadFile(30));
    EXPECT_FALSE(parser.isTorn());
    ASSERT_TRUE(parser.loadFile(20));
    const std::string said = "NtfsFileRecordsCache(80): record 20 is torn: 1 of 2 sectors";
    EXPECT_EQ(log.text().find(said), log.text().rfind(said)) << log.text();
    EXPECT_NE(log.text().find(said), std::string::npos) << log.text();
}

// The cluster looked at counts only when record 0 is a FILE record there:
// otherwise it would pass for an MFT of one record.
TEST(MftRunlistTest, WithoutRecordZeroNothingIsKnown) {
    Fixture f;
    LogCapture log;
    EXPECT_TRUE(f.rebuild().empty());
    EXPECT_TRUE(log.has("MftRunlist(142): {1, 2} 2 clusters\n"));
    EXPECT_TRUE(log.has("MftRunlist(30): record 0 at cluster 1 is no FILE record\n"));
    // Nor do found records of 3 sectors, which no FILE record is.
    f.recordSectors = 3;
    f.find(600, 4);
    EXPECT_TRUE(f.rebuild().empty());
}

TEST(MftRunlistTest, TheLongerListOfMftAndMirrorWins) {
    Fixture f;
    f.image.putRecord(0, mftRecord({{1, 100}}, 100));
    f.image.putRecord(300, mftRecord({{1, 120}}, 120)); // cluster 601
    EXPECT_EQ(f.rebuild(601), (Runlist{{1, 120, 120}}));
    f.image.putRecord(300, mftRecord({{1, 50}}, 50));
    EXPECT_EQ(f.rebuild(601), (Runlist{{1, 100, 100}}));
    f.image.putRecord(0, std::vector<u8>(1024, 0));
    EXPECT_EQ(f.rebuild(601), (Runlist{{1, 50, 50}}));
}

TEST(MftRunlistTest, FoundRunsAddWhatTheListLacksWhereTheirNumbersSay) {
    Fixture f;
    f.image.putRecord(0, mftRecord({{1, 96}}, 96));
    // Records 64 to 67 found at cluster 701; a run inside the list adds nothing.
    RecordBuilder x;
    x.resident(0x30, name(u"x")).resident(0x80, "x");
    for (u32 i = 0; i < 4; ++i)
        f.image.putRecord(350 + i, x.recordNumber(64 + i).raw());
    f.find(10, 20);
    f.find(701, 4);
    EXPECT_EQ(f.rebuild(), (Runlist{{1, 96, 96}, {0, 32, 0}, {701, 8, 8}}));
    // Records of the old layout carry no number: the folder found first lists
    // "child" as record 70, and the record after it is "child".
    Fixture g;
    g.image.putRecord(0, mftRecord({{1, 96}}, 96));
    const std::string child = RecordBuilder::fileName(69, u"child");
    const std::string root = indexRoot(4096, {indexEntry(70, child), lastEntry()});
    g.image.putRecord(350, RecordBuilder(2, 0x2A)
                               .resident(0x30, name(u"dir", WIN32, NTFS_FILE_DIRECTORY))
                               .resident(0x90, root, u"$I30")
                               .raw());
    g.image.putRecord(351, RecordBuilder(2, 0x2A).resident(0x30, child).resident(0x80, "x").raw());
    g.find(701, 2);
    EXPECT_EQ(g.rebuild(), (Runlist{{1, 96, 96}, {0, 42, 0}, {701, 4, 4}}));
    // Both copies of record 0 lost. Records 1-7 at cluster 3, among them one
    // numbered 0 as the reserved records are; the mirror's copies of 1-3
    // before the rest; records 16-19 just before 8-15, found as one run: each
    // piece goes where its numbers say, the copies after all.
    Fixture h;
    auto put = [&](u32 slot, u32 first, u32 count) {
        for (u32 i = 0; i < count; ++i)
            h.image.putRecord(slot + i, x.recordNumber(first + i).raw());
    };
    put(1, 1, 7);
    put(5, 0, 1);
    put(30, 1, 3);
    put(40, 16, 4);
    put(44, 8, 8);
    h.find(3, 7);
    h.find(61, 3);
    h.find(81, 12);
    EXPECT_EQ(h.rebuild(), (Runlist{{0, 2, 0}, {3, 14, 14}, {89, 16, 16}, {81, 8, 8}, {61, 6, 6}}));
}

// Cancels once the polls that no read accounts for pass 100: a read polls
// before it asks the source, so what is left are the walk's own.
struct WalkPolls : InterfaceCallback {
    explicit WalkPolls(const Fixture& f) : fixture(f) {}
    void poll() override {
        if (++polls > fixture.source->reader->requests().size() + 100)
            throw InterruptedException();
    }
    const Fixture& fixture;
    u64 polls = 0;
};

// The walk over a found run's records polls for each one, not only through the
// drive's reads: a run may hold a whole MFT.
TEST(MftRunlistTest, TheRebuildCanBeCancelledInsideAFoundRun) {
    Fixture f;
    f.find(600, 200);
    WalkPolls walk(f);
    EXPECT_THROW(f.rebuild(0, &walk), InterruptedException);
}

} // namespace
