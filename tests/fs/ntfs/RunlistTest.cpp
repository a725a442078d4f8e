#include "fs/ntfs/Runlist.h"

#include "fs/ntfs/NtfsDumps.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>

namespace {

using Bytes = std::vector<u8>;

// A pair of `clusters` at a step of `offset` clusters (two's complement, the
// shortest field that keeps the sign); offset 0 with `sparse` for a hole.
Bytes pair(u64 clusters, u64 offset, bool sparse = false) {
    Bytes length, step;
    for (u64 v = clusters; v != 0 || length.empty(); v >>= 8)
        length.push_back(static_cast<u8>(v));
    const bool back = (offset >> 63) != 0;
    for (u64 v = offset; !sparse; v = back ? v >> 8 | ~u64{0} << 56 : v >> 8) {
        step.push_back(static_cast<u8>(v));
        if (step.size() == 8 || (v >> 7 == (back ? ~u64{0} >> 7 : 0)))
            break;
    }
    Bytes b{static_cast<u8>(step.size() << 4 | length.size())};
    b.insert(b.end(), length.begin(), length.end());
    b.insert(b.end(), step.begin(), step.end());
    return b;
}
Bytes stored(u64 clusters, i64 offset) {
    return pair(clusters, static_cast<u64>(offset));
}
Bytes sparse(u64 clusters) {
    return pair(clusters, 0, true);
}
Bytes array(std::initializer_list<Bytes> pairs) {
    Bytes b;
    for (const Bytes& p : pairs)
        b.insert(b.end(), p.begin(), p.end());
    b.push_back(0);
    return b;
}

struct Decoded {
    bool ok = false;
    std::string runs;
    std::string log;
    u64 clusters = 0;
};

// Parses the arrays in order and finishes, as a caller does for one attribute.
Decoded decode(std::initializer_list<Bytes> arrays, bool compressed = false,
               u64 volume = RunlistParser::ANY_VOLUME) {
    RunlistParser parser(compressed, volume);
    testutil::LogCapture log;
    Decoded d;
    d.ok = true;
    for (const Bytes& a : arrays)
        d.ok = d.ok && parser.parse(a.data(), static_cast<u32>(a.size()));
    d.ok = d.ok && parser.finish();
    d.runs = runlistText(parser.getRunlist());
    d.clusters = getRunlistClusters(parser.getRunlist());
    d.log = log.text();
    return d;
}

TEST(RunlistTest, BadPairsAreRefusedWithTheirRule) {
    const std::pair<Bytes, const char*> cases[] = {
        {{0x11, 0x00, 0x10, 0x00}, "RunlistParser(99)\nRunlistParser(35)\n"}, // length 0
        {{0x10, 0x05, 0x00}, "RunlistParser(99)\nRunlistParser(35)\n"},       // no length field
        {Bytes{0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, "RunlistParser(90)\nRunlistParser(35)\n"},
        {Bytes{0x91, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, "RunlistParser(90)\nRunlistParser(35)\n"},
        {{0x21, 0x05, 0x10}, "RunlistParser(88): pair of 4 bytes in 3\nRunlistParser(35)\n"},
        {{0x11, 0x05, 0x10}, "RunlistParser(30)\n"}, // used up without a terminator
    };
    for (const auto& c : cases) {
        RunlistParser parser;
        testutil::LogCapture log;
        EXPECT_FALSE(parser.parse(c.first.data(), static_cast<u32>(c.first.size())));
        EXPECT_EQ(log.text(), c.second) << testutil::hexDump(c.first.data(), c.first.size());
    }
}

TEST(RunlistTest, OffsetsCountFromThePreviousStoredPairOfTheSameArray) {
    struct Case {
        std::initializer_list<Bytes> arrays;
        const char* runs;
    };
    const Case cases[] = {
        // 100 at 1000, 50 right after it (they join), 20 at 1400, 4 back at 1384.
        {{array({stored(100, 1000), stored(50, 100), stored(20, 300), sparse(5), stored(4, -16)})},
         "{1000, 150} {1400, 20} {1384, 5  (sparse)} {1384, 4} 179 clusters"},
        // Every array counts from cluster 0; a hole goes on into the next array.
        {{array({stored(8, 500), sparse(3)}), array({sparse(5), stored(8, 508)})},
         "{500, 8} {508, 8  (sparse)} {508, 8} 24 clusters"},
        // The sign is the top bit of the field's last byte, whatever its width.
        {{array({stored(1, 0x80), stored(1, -0x80), stored(1, INT64_C(1) << 40),
                 stored(1, -(INT64_C(1) << 40))})},
         "{128, 1} {0, 1} {1099511627776, 1} {0, 1} 4 clusters"},
    };
    for (const Case& c : cases) {
        const Decoded d = decode(c.arrays);
        EXPECT_TRUE(d.ok) << d.log;
        EXPECT_EQ(d.runs, c.runs);
    }
}

// A sparse run completes the compression unit it starts in, when the attribute
// is compressed; otherwise, and at a unit's edge, it is only zeros.
TEST(RunlistTest, SparseRunsCompleteCompressionUnitsOfCompressedAttributesOnly) {
    struct Case {
        std::initializer_list<Bytes> pairs;
        const char* compressed;
        const char* plain;
    };
    const Case cases[] = {
        {{stored(4, 300), sparse(44)},
         "{300, 16 (compressed to 4)} {300, 32  (sparse)} 48 clusters",
         "{300, 4} {300, 44  (sparse)} 48 clusters"},
        {{stored(20, 100), sparse(12)},
         "{100, 16} {116, 16 (compressed to 4)} 32 clusters",
         "{100, 20} {100, 12  (sparse)} 32 clusters"},
        {{stored(2, 100), stored(2, 100), sparse(12)},
         "{100, 0 (compressed chain 2)} {200, 16 (compressed to 2)} 16 clusters",
         "{100, 2} {200, 2} {200, 12  (sparse)} 16 clusters"},
        {{sparse(16), stored(16, 40), sparse(16)},
         "{40, 16  (sparse)} {40, 16} {40, 16  (sparse)} 48 clusters",
         "{40, 16  (sparse)} {40, 16} {40, 16  (sparse)} 48 clusters"},
    };
    for (const Case& c : cases) {
        const Decoded packed = decode({array(c.pairs)}, true);
        EXPECT_TRUE(packed.ok) << packed.log;
        EXPECT_EQ(packed.runs, c.compressed);
        const Decoded plain = decode({array(c.pairs)}, false);
        EXPECT_TRUE(plain.ok) << plain.log;
        EXPECT_EQ(plain.runs, c.plain);
    }
    // 10 sparse clusters cannot complete a unit with 4 stored ones; a unit that
    // begins sparse has no stored run to claim: the list is refused as it was.
    Decoded d = decode({array({stored(4, 300), sparse(10)})}, true);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.runs, "{300, 4} 4 clusters");
    d = decode({array({sparse(5), stored(3, 80), sparse(8)})}, true);
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.runs, "{80, 5  (sparse)} {80, 3} 8 clusters");
}

TEST(RunlistTest, RunArithmeticPastTwoToThe47RefusesTheList) {
    const i64 max = static_cast<i64>(RunlistParser::MAX_CLUSTERS);
    const Bytes cases[] = {
        array({stored(1, -1)}),
        array({stored(10, 100), stored(1, -101)}),
        array({stored(1, max)}),
        array({stored(2, max - 1)}),
        array({stored(~u64{0}, 5)}),
        array({stored(1, INT64_MAX)}),
        array({stored(1, INT64_MIN)}),
        array({sparse(RunlistParser::MAX_CLUSTERS), sparse(1)}),
        array({sparse(~u64{0} / 2 + 1), sparse(~u64{0} / 2 + 1)}),
    };
    for (const Bytes& c : cases) {
        for (bool compressed : {false, true}) {
            const Decoded d = decode({c}, compressed);
            EXPECT_FALSE(d.ok) << testutil::hexDump(c.data(), c.size());
            EXPECT_NE(d.log, "");
            EXPECT_LE(d.clusters, RunlistParser::MAX_CLUSTERS);
        }
    }
    // Right up to the largest list is allowed; a given volume bounds stored runs.
    EXPECT_TRUE(decode({array({stored(1, max - 1), sparse(max - 1)})}).ok);
    EXPECT_TRUE(decode({array({stored(10, 990), sparse(5000)})}, false, 1000).ok);
    EXPECT_FALSE(decode({array({stored(10, 991)})}, false, 1000).ok);
}

TEST(RunlistTest, HostileArraysOnlyGiveRunsAReaderKnows) {
    std::mt19937 random(1234);
    for (int i = 0; i < 20000; ++i) {
        Bytes bytes(random() % 40);
        for (u8& b : bytes) {
            const u32 r = random();
            b = static_cast<u8>(r % 4 == 0 ? (r >> 8) : (r >> 8) % 0x44);
        }
        const bool compressed = random() % 2 == 0;
        const u64 volume = random() % 2 ? RunlistParser::ANY_VOLUME : 5000;
        RunlistParser parser(compressed, volume);
        if (!parser.parse(bytes.data(), static_cast<u32>(bytes.size())) || !parser.finish())
            continue;
        for (const NtfsRun& r : parser.getRunlist()) {
            EXPECT_TRUE(r.isPlain() || r.isSparse() || (compressed && r.isCompressed()));
            EXPECT_TRUE(r.storedInside(std::min(volume, RunlistParser::MAX_CLUSTERS)));
        }
    }
}

// Every non-resident file of the corpus: the runs the file parser decodes map
// each VCN to the cluster ntfsinfo names.
class RunlistCorpusTest : public ::testing::TestWithParam<u32> {};

TEST_P(RunlistCorpusTest, EveryFileMapsItsClustersAsNtfsinfoDoes) {
    const ntfstest::Corpus& corpus = ntfstest::corpus(GetParam());
    ntfstest::CorpusTree tree(corpus.image);
    u32 extended = 0;
    for (const ntfstest::CorpusFile& f : corpus.files) {
        if (f.deleted || f.data.size() <= 1024)
            continue;
        const NtfsAttributeData data = tree.data(f.path);
        if (data.resident)
            continue;
        EXPECT_EQ(ntfstest::vcnMapOf(data.runs), ntfstest::infoMap(corpus.image, f.path))
            << f.path << ": " << runlistText(data.runs);
        extended += tree.map->getParser().getRecordsCache().getRecordNumbers().size() > 1;
    }
    // Fragments spill into extension records on small clusters.
    EXPECT_GE(extended, GetParam() <= 4096 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Clusters, RunlistCorpusTest, ::testing::Values(512u, 4096u, 65536u));

} // namespace
