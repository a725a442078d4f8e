#include "fs/ntfs/Runlist.h"

#include "fs/ntfs/NtfsDumps.h"
#include "tests/fs/ntfs/NtfsFixture.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Bytes = std::vector<u8>;

Bytes stored(u64 clusters, i64 offset) {
    return ntfstest::runPair(clusters, static_cast<u64>(offset));
}
Bytes sparse(u64 clusters) {
    return ntfstest::runPair(clusters, 0, true);
}
Bytes array(const std::vector<Bytes>& pairs) {
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
Decoded decode(const std::vector<Bytes>& arrays, bool compressed = false,
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
        const Decoded d = decode({c.first});
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.log, c.second) << testutil::hexDump(c.first.data(), c.first.size());
    }
}

TEST(RunlistTest, OffsetsCountFromThePreviousStoredPairOfTheSameArray) {
    const std::pair<std::vector<Bytes>, const char*> cases[] = {
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
    for (const auto& c : cases) {
        const Decoded d = decode(c.first);
        EXPECT_TRUE(d.ok) << d.log;
        EXPECT_EQ(d.runs, c.second);
    }
}

// A sparse run completes the compression unit it starts in, when the attribute
// is compressed; otherwise, and at a unit's edge, it is only zeros.
TEST(RunlistTest, SparseRunsCompleteCompressionUnitsOfCompressedAttributesOnly) {
    // A unit that begins sparse has no stored run to claim, and 10 sparse
    // clusters cannot complete one with 4 stored: those lists are refused as
    // they were when compressed.
    const std::tuple<std::vector<Bytes>, const char*, const char*> cases[] = {
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
        {{stored(4, 300), sparse(10)},
         "refused {300, 4} 4 clusters",
         "{300, 4} {300, 10  (sparse)} 14 clusters"},
        {{sparse(5), stored(3, 80), sparse(8)},
         "refused {80, 5  (sparse)} {80, 3} 8 clusters",
         "{80, 5  (sparse)} {80, 3} {80, 8  (sparse)} 16 clusters"},
    };
    for (const auto& c : cases) {
        for (bool compressed : {true, false}) {
            const Decoded d = decode({array(std::get<0>(c))}, compressed);
            EXPECT_EQ((d.ok ? "" : "refused ") + d.runs,
                      compressed ? std::get<1>(c) : std::get<2>(c));
        }
    }
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

} // namespace
