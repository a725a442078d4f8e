#include "fs/ntfs/Runlist.h"

#include "core/Log.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// Runs as text, so that a mismatch shows the whole list.
std::string text(const Runlist& runs) {
    std::ostringstream os;
    // A sparse run's LCN means nothing; readers never look at it.
    for (const NtfsRun& r : runs) {
        if (r.isSparse())
            os << "{*," << r.clusters << ",0}";
        else
            os << '{' << r.lcn << ',' << r.clusters << ',' << r.storedClusters << '}';
    }
    return os.str();
}

// The shortest little-endian field for an unsigned length.
Bytes lengthField(u64 v) {
    Bytes b;
    do {
        b.push_back(static_cast<u8>(v));
        v >>= 8;
    } while (v != 0);
    return b;
}

// The shortest little-endian field whose top bit carries the sign.
Bytes offsetField(i64 v) {
    Bytes b;
    for (;;) {
        b.push_back(static_cast<u8>(v));
        const bool negative = (b.back() & 0x80) != 0;
        v >>= 8; // arithmetic
        if ((v == 0 && !negative) || (v == -1 && negative) || b.size() == 8)
            return b;
    }
}

Bytes pairOf(const Bytes& length, const Bytes& offset) {
    Bytes b{static_cast<u8>(offset.size() << 4 | length.size())};
    b.insert(b.end(), length.begin(), length.end());
    b.insert(b.end(), offset.begin(), offset.end());
    return b;
}
Bytes stored(u64 clusters, i64 offset) {
    return pairOf(lengthField(clusters), offsetField(offset));
}
Bytes sparse(u64 clusters) {
    return pairOf(lengthField(clusters), {});
}
// Pairs joined, with the terminator.
Bytes array(std::initializer_list<Bytes> pairs) {
    Bytes b;
    for (const Bytes& p : pairs)
        b.insert(b.end(), p.begin(), p.end());
    b.push_back(0);
    return b;
}

struct Decoded {
    bool ok = false;
    Runlist runs;
    std::string log;
};

// Parses the arrays in order and finishes, as a caller does for one attribute.
Decoded decode(std::initializer_list<Bytes> arrays, bool compressed = false,
               u64 volume = RunlistParser::ANY_VOLUME) {
    RunlistParser parser(compressed, volume);
    const std::size_t mark = logMemoryText().size();
    Decoded d;
    d.ok = true;
    for (const Bytes& a : arrays)
        d.ok = d.ok && parser.parse(a.data(), static_cast<u32>(a.size()));
    d.ok = d.ok && parser.finish();
    d.runs = parser.getRunlist();
    d.log = logSince(mark);
    return d;
}

NtfsRun run(u64 lcn, u64 clusters, u64 stored) {
    return NtfsRun{lcn, clusters, stored};
}

TEST(RunlistTest, RunsAreClassifiedByTheirTwoLengths) {
    EXPECT_TRUE(run(5, 8, 8).isPlain());
    EXPECT_TRUE(run(5, 8, 0).isSparse());
    EXPECT_TRUE(run(5, 0, 3).isCompressed());
    EXPECT_TRUE(run(5, 16, 15).isCompressed());
    EXPECT_FALSE(run(5, 16, 16).isCompressed());
    EXPECT_FALSE(run(5, 8, 3).isCompressed());
    // Fewer clusters than stored: none of the three.
    const NtfsRun invalid = run(5, 3, 8);
    EXPECT_FALSE(invalid.isPlain() || invalid.isSparse() || invalid.isCompressed());
    EXPECT_FALSE(run(0, 0, 0).isPlain() || run(0, 0, 0).isSparse());

    EXPECT_EQ(getRunlistClusters({run(1, 8, 8), run(0, 0, 3), run(9, 16, 2), run(0, 40, 0)}), 64u);
    EXPECT_EQ(getRunlistClusters({}), 0u);
}

TEST(RunlistTest, StoredInsideNeverWraps) {
    EXPECT_TRUE(run(990, 10, 10).storedInside(1000));
    EXPECT_FALSE(run(991, 10, 10).storedInside(1000));
    EXPECT_FALSE(run(~u64{0} - 4, 10, 10).storedInside(1000));
    EXPECT_FALSE(run(5, 10, ~u64{0}).storedInside(1000));
    EXPECT_TRUE(run(~u64{0}, 10, 0).storedInside(1000)); // sparse stores nothing
}

TEST(RunlistTest, TheTerminatorAloneGivesAnEmptyList) {
    const Decoded d = decode({{0x00}});
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.runs.empty());
    EXPECT_EQ(d.log, "");
}

TEST(RunlistTest, BadPairsAreRefusedWithTheirRule) {
    struct Case {
        Bytes bytes;
        const char* log;
    };
    const Case cases[] = {
        {{0x11, 0x00, 0x10, 0x00}, "RunlistParser(99)\nRunlistParser(35)\n"}, // length 0
        {{0x01, 0x00}, "RunlistParser(99)\nRunlistParser(35)\n"},
        {{0x00 | 0x10, 0x05, 0x00}, "RunlistParser(99)\nRunlistParser(35)\n"}, // no length field
        {Bytes{0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, "RunlistParser(90)\nRunlistParser(35)\n"},
        {Bytes{0x91, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, "RunlistParser(90)\nRunlistParser(35)\n"},
        // Past the length comes before the field sizes.
        {{0x99, 0x01}, "RunlistParser(88)\nRunlistParser(35)\n"},
        {{0x21, 0x05, 0x10}, "RunlistParser(88)\nRunlistParser(35)\n"},
        // Used up without a terminator.
        {{0x11, 0x05, 0x10}, "RunlistParser(30)\n"},
        {{}, "RunlistParser(30)\n"},
    };
    for (const Case& c : cases) {
        RunlistParser parser;
        const std::size_t mark = logMemoryText().size();
        EXPECT_FALSE(parser.parse(c.bytes.data(), static_cast<u32>(c.bytes.size())))
            << testutil::hexDump(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(logSince(mark), c.log) << testutil::hexDump(c.bytes.data(), c.bytes.size());
    }
}

TEST(RunlistTest, DecodePairSignExtendsTheOffsetFromItsLastByte) {
    struct Case {
        Bytes bytes;
        i64 offset;
    };
    const Case cases[] = {
        {{0x11, 0x01, 0xF0}, -16},
        {{0x11, 0x01, 0x70}, 0x70},
        {{0x21, 0x01, 0x00, 0x80}, -32768},
        {{0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF}, -(i64{1} << 32)},
        {{0x51, 0x01, 0x00, 0x00, 0x00, 0x00, 0x7F}, i64{0x7F} << 32},
        {{0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {{0x81, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x80}, INT64_MIN},
    };
    for (const Case& c : cases) {
        MappingPair pair;
        ASSERT_TRUE(
            RunlistParser::decodePair(pair, c.bytes.data(), static_cast<u32>(c.bytes.size())));
        EXPECT_EQ(pair.lcnOffset, c.offset);
        EXPECT_EQ(pair.size, c.bytes.size());
        EXPECT_EQ(pair.clusters, 1u);
    }
    MappingPair pair;
    const Bytes eight{0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
    ASSERT_TRUE(RunlistParser::decodePair(pair, eight.data(), 9));
    EXPECT_EQ(pair.offsetSize, 0);
    EXPECT_EQ(pair.clusters, 0x8807060504030201ull);
}

TEST(RunlistTest, OffsetsCountFromThePreviousStoredPairAndTouchingRunsJoin) {
    // 100 at 1000, 50 right after it, 20 at 1100 + 300, then 4 back at 1380 - 16.
    const Decoded d = decode(
        {array({stored(100, 1000), stored(50, 100), stored(20, 300), sparse(5), stored(4, -16)})});
    ASSERT_TRUE(d.ok) << d.log;
    EXPECT_EQ(text(d.runs),
              text({run(1000, 150, 150), run(1400, 20, 20), run(1400, 5, 0), run(1384, 4, 4)}));
}

TEST(RunlistTest, EveryArrayCountsFromClusterZeroAndSparseRunsJoinAcrossArrays) {
    const Decoded d = decode({array({stored(8, 500), sparse(3)}),
                              array({sparse(5), stored(8, 508)}), array({stored(2, 700)})});
    ASSERT_TRUE(d.ok) << d.log;
    // The second array's 508 is absolute, so it does not join the first run.
    EXPECT_EQ(text(d.runs), text({run(500, 8, 8), run(508, 8, 0), run(508, 8, 8), run(700, 2, 2)}));
}

TEST(RunlistTest, ParsedClustersCountThePendingRun) {
    RunlistParser parser;
    const Bytes a = array({stored(8, 100), sparse(3)});
    ASSERT_TRUE(parser.parse(a.data(), static_cast<u32>(a.size())));
    EXPECT_EQ(getRunlistClusters(parser.getRunlist()), 8u);
    EXPECT_EQ(parser.getParsedClusters(), 11u);
    ASSERT_TRUE(parser.finish());
    EXPECT_EQ(getRunlistClusters(parser.getRunlist()), 11u);
    EXPECT_EQ(parser.getParsedClusters(), 11u);
    EXPECT_TRUE(parser.finish()); // nothing pending any more
}

TEST(RunlistTest, SparseRunsOfCompressedAttributesCompleteTheirUnit) {
    struct Case {
        std::initializer_list<Bytes> pairs;
        Runlist expected;
    };
    const Case cases[] = {
        // Four stored clusters at VCN 0 and 12 sparse: one unit in 4 clusters.
        {{stored(4, 300), sparse(12)}, {run(300, 16, 4)}},
        // ... and 32 more sparse clusters after the unit.
        {{stored(4, 300), sparse(44)}, {run(300, 16, 4), run(300, 32, 0)}},
        // A plain unit then a unit in 4 clusters, joined on disk and split again.
        {{stored(20, 100), sparse(12)}, {run(100, 16, 16), run(116, 16, 4)}},
        // A unit spread over two fragments.
        {{stored(2, 100), stored(2, 100), sparse(12)}, {run(100, 0, 2), run(200, 16, 2)}},
        // Sparse at a unit boundary is only zeros.
        {{sparse(16), stored(16, 40), sparse(16)},
         {run(0, 16, 0), run(40, 16, 16), run(40, 16, 0)}},
    };
    for (const Case& c : cases) {
        const Decoded d = decode({array(c.pairs)}, true);
        ASSERT_TRUE(d.ok) << d.log;
        EXPECT_EQ(text(d.runs), text(c.expected));
        EXPECT_EQ(d.log, "");
    }
}

TEST(RunlistTest, AUnitThatCannotBeFormedRefusesTheListAndKeepsItsRuns) {
    // 10 sparse clusters cannot complete a unit with 4 stored ones.
    Decoded d = decode({array({stored(4, 300), sparse(10)})}, true);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.log, "RunlistParser(126)\nRunlistParser(230)\nRunlistParser(75)\n");
    EXPECT_EQ(text(d.runs), text({run(300, 4, 4)}));

    // The same inside an array: the failure passes addPair and parse.
    d = decode({array({stored(4, 300), sparse(10), stored(1, 50)})}, true);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.log, "RunlistParser(126)\nRunlistParser(230)\nRunlistParser(216)\n"
                     "RunlistParser(41)\n");

    // A unit that begins sparse: the stored run before the second sparse run is
    // too short and the one before it is not plain.
    d = decode({array({sparse(5), stored(3, 80), sparse(8)})}, true);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.log, "RunlistParser(170)\nRunlistParser(128)\nRunlistParser(230)\n"
                     "RunlistParser(75)\n");
    EXPECT_EQ(text(d.runs), text({run(0, 5, 0), run(80, 3, 3)}));
}

TEST(RunlistTest, SparseRunsOfUncompressedAttributesAreOnlyZeros) {
    // The same runs as compressed units above read as data, then zeros.
    Decoded d = decode({array({stored(4, 300), sparse(12)})});
    ASSERT_TRUE(d.ok) << d.log;
    EXPECT_EQ(text(d.runs), text({run(300, 4, 4), run(300, 12, 0)}));
    // A hole too short for any unit is no error.
    d = decode({array({stored(3, 300), sparse(7), stored(2, 6), sparse(8)})});
    ASSERT_TRUE(d.ok) << d.log;
    EXPECT_EQ(text(d.runs), text({run(300, 3, 3), run(300, 7, 0), run(306, 2, 2), run(306, 8, 0)}));
}

TEST(RunlistTest, RunArithmeticThatWouldOverflowRefusesTheList) {
    const u64 max = RunlistParser::MAX_CLUSTERS;
    struct Case {
        Bytes bytes;
        const char* what;
    };
    const Case cases[] = {
        {array({stored(1, -1)}), "before cluster 0"},
        {array({stored(10, 100), stored(1, -101)}), "back past cluster 0"},
        {array({stored(1, static_cast<i64>(max))}), "at the largest cluster"},
        {array({stored(2, static_cast<i64>(max - 1))}), "running past the largest cluster"},
        {array({stored(~u64{0}, 5)}), "all-ones length"},
        {array({stored(1, INT64_MAX)}), "largest offset"},
        {array({stored(1, INT64_MIN)}), "smallest offset"},
        {array({sparse(max), sparse(1)}), "VCNs past the largest"},
        {array({sparse(~u64{0} / 2 + 1), sparse(~u64{0} / 2 + 1)}), "VCNs that wrap"},
    };
    for (const Case& c : cases) {
        for (bool compressed : {false, true}) {
            const Decoded d = decode({c.bytes}, compressed);
            EXPECT_FALSE(d.ok) << c.what;
            EXPECT_NE(d.log, "") << c.what;
            EXPECT_LE(getRunlistClusters(d.runs), max) << c.what;
        }
    }
    // Right up to the largest list is allowed.
    Decoded d = decode({array({stored(1, static_cast<i64>(max - 1)), sparse(max - 1)})});
    EXPECT_TRUE(d.ok) << d.log;
    EXPECT_EQ(getRunlistClusters(d.runs), max);
}

TEST(RunlistTest, StoredRunsMustEndInsideAGivenVolume) {
    Decoded d = decode({array({stored(10, 990)})}, false, 1000);
    EXPECT_TRUE(d.ok) << d.log;
    d = decode({array({stored(10, 991)})}, false, 1000);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.log.find(": lcn 0 offset 991 clusters 10 limit 1000\n"), std::string::npos);
    EXPECT_NE(d.log.find("RunlistParser(35)\n"), std::string::npos);
    // A sparse file may be larger than its volume.
    d = decode({array({stored(10, 5), sparse(5000)})}, false, 1000);
    EXPECT_TRUE(d.ok) << d.log;
    EXPECT_EQ(getRunlistClusters(d.runs), 5010u);
}

TEST(RunlistTest, HostileArraysNeverCrashAndOnlyGiveRunsAReaderKnows) {
    std::mt19937 random(1234);
    for (int i = 0; i < 20000; ++i) {
        Bytes bytes(random() % 40);
        for (u8& b : bytes) {
            const u32 r = random();
            // Mostly small sizes and lengths, so that pairs decode at all.
            b = static_cast<u8>(r % 4 == 0 ? (r >> 8) : (r >> 8) % 0x44);
        }
        const bool compressed = random() % 2 == 0;
        const u64 volume = random() % 2 ? RunlistParser::ANY_VOLUME : 5000;
        RunlistParser parser(compressed, volume);
        const bool ok =
            parser.parse(bytes.data(), static_cast<u32>(bytes.size())) && parser.finish();
        const Runlist& runs = parser.getRunlist();
        EXPECT_LE(getRunlistClusters(runs), RunlistParser::MAX_CLUSTERS);
        EXPECT_LE(runs.size(), 2 * bytes.size() + 1);
        if (!ok)
            continue;
        EXPECT_EQ(getRunlistClusters(runs), parser.getParsedClusters());
        for (const NtfsRun& r : runs) {
            EXPECT_TRUE(r.isPlain() || r.isSparse() || (compressed && r.isCompressed()))
                << text(runs);
            EXPECT_TRUE(r.storedInside(std::min(volume, RunlistParser::MAX_CLUSTERS)))
                << text(runs);
        }
    }
}

// Real run lists from ntfs-3g: our reading of each file's $DATA must map every
// VCN to the cluster that ntfsinfo names.
class RunlistRealTest : public ::testing::Test {
protected:
    void expectSameMapping(const std::string& name) {
        SCOPED_TRACE(name);
        ntfstest::Image volume(image_);
        const u64 record = volume.findRecord(name);
        ASSERT_NE(record, ~u64{0});
        std::vector<ntfstest::DataAttribute> extents;
        ASSERT_TRUE(volume.dataExtents(record, extents));
        // As the file parser does it: the extents in order, each starting where
        // the ones before it ended.
        const NonResidentValue& first = extents.front().value;
        RunlistParser parser(first.compressed, volume.bytes().size() / volume.clusterSize());
        for (const ntfstest::DataAttribute& e : extents) {
            EXPECT_EQ(e.header.startingVcn, parser.getParsedClusters());
            const std::size_t mark = logMemoryText().size();
            ASSERT_TRUE(
                parser.parse(e.mappingPairs.data(), static_cast<u32>(e.mappingPairs.size())))
                << logSince(mark)
                << testutil::hexDump(e.mappingPairs.data(), e.mappingPairs.size());
        }
        ASSERT_TRUE(parser.finish());
        extents_ = extents.size();
        std::vector<ntfstest::InfoRun> info;
        ASSERT_TRUE(ntfstest::infoRunlist(image_, name, info));
        const ntfstest::VcnMap ours = ntfstest::vcnMapOf(parser.getRunlist());
        EXPECT_EQ(ours, ntfstest::vcnMapOf(info)) << text(parser.getRunlist());
        EXPECT_EQ(parser.getParsedClusters(), extents.back().value.lastVcn + 1);
        EXPECT_EQ(parser.getParsedClusters() * volume.clusterSize(), first.allocatedSize);
        for (const NtfsRun& r : parser.getRunlist())
            EXPECT_TRUE(r.isPlain() || r.isSparse() || r.isCompressed())
                << text(parser.getRunlist());
        runs_ = parser.getRunlist();
    }

    bool tool(const std::string& command) { return ntfstest::runTool(command) == 0; }

    testutil::TempDir dir_;
    std::string image_ = dir_.file("v.img");
    Runlist runs_;
    std::size_t extents_ = 0;
};

TEST_F(RunlistRealTest, FragmentedAndSparseFiles) {
    ASSERT_TRUE(ntfstest::makeVolume(image_, 32u << 20, 4096, false));
    testutil::writeAll(dir_.file("one"), std::string(4096, 'x'));
    ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file("one"), "a"));
    ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file("one"), "b"));
    // Growing two files by turns interleaves their clusters.
    std::string script;
    for (int k = 1; k <= 40; ++k) {
        for (const char* f : {"a", "b"})
            script += "ntfsfallocate -o " + std::to_string(k * 4096) + " -l 4096 " +
                      testutil::shellQuote(image_) + " " + f + " >/dev/null && ";
    }
    ASSERT_TRUE(tool(script + "true"));
    // Holes in the middle: allocations beyond the end of the data.
    testutil::writeAll(dir_.file("small"), std::string(10000, 's'));
    ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file("small"), "holes"));
    const std::string q = testutil::shellQuote(image_);
    ASSERT_TRUE(tool("ntfsfallocate -o 40960 -l 8192 " + q +
                     " holes >/dev/null && "
                     "ntfsfallocate -o 200000 -l 4096 " +
                     q + " holes >/dev/null"));

    expectSameMapping("a");
    EXPECT_GE(runs_.size(), 40u);
    expectSameMapping("b");
    expectSameMapping("holes");
    EXPECT_EQ(runs_.size(), 5u) << text(runs_);
}

TEST_F(RunlistRealTest, CompressedFilesOnSmallAndLargeClusters) {
    for (u32 cluster : {512u, 4096u}) {
        SCOPED_TRACE(cluster);
        ASSERT_TRUE(ntfstest::makeVolume(image_, 32u << 20, cluster, true));
        std::string prose;
        std::mt19937 random(7);
        const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon "};
        while (prose.size() < (1u << 20))
            prose += words[random() % 5];
        prose.resize(1u << 20);
        std::string noise(200000, '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        // Zeros become holes, text compressed units, noise stored units.
        const std::string mixed = std::string(70000, '\0') + prose.substr(0, 100000) + noise;
        testutil::writeAll(dir_.file("text"), prose);
        testutil::writeAll(dir_.file("mixed"), mixed);
        ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file("text"), "text"));
        ASSERT_TRUE(ntfstest::copyIn(image_, dir_.file("mixed"), "mixed"));
        expectSameMapping("text");
        // Small clusters need so many runs that the list goes on in an
        // extension record.
        if (cluster == 512) {
            EXPECT_GE(extents_, 2u);
        }
        expectSameMapping("mixed");
        bool compressedUnit = false, sparseRun = false, plainRun = false;
        for (const NtfsRun& r : runs_) {
            compressedUnit |= r.isCompressed();
            sparseRun |= r.isSparse();
            plainRun |= r.isPlain();
        }
        EXPECT_TRUE(compressedUnit && sparseRun && plainRun) << text(runs_);
    }
}

} // namespace
