#include "cbr/Pattern.h"

#include "tests/cbr/CbrTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cbr::Pattern;
using cbrtest::StubModule;
using testing::ThrowsMessage;

const u8* bytesOf(const std::string& s) {
    return reinterpret_cast<const u8*>(s.data());
}

std::vector<u8> sectorWith(u32 offset, const std::string& bytes, u32 size = 512) {
    std::vector<u8> sector(size, 0);
    std::copy(bytes.begin(), bytes.end(), sector.begin() + offset);
    return sector;
}

TEST(PatternTest, ANewPatternIsEmptyAndMatchesEverySector) {
    Pattern p;
    EXPECT_EQ(p.type(), "");
    EXPECT_EQ(p.offset(), 0u);
    EXPECT_EQ(p.length(), 0u);
    EXPECT_EQ(p.scanModule(), nullptr);
    EXPECT_EQ(p.analyzeModule(), nullptr);
    EXPECT_EQ(p.maxSize(), 0u);
    std::vector<u8> sector(512, 0xAB);
    EXPECT_TRUE(p.matches(sector.data(), 512));
}

TEST(PatternTest, BytesMustEndWithinTheSectorAndNumberAtMost64) {
    const std::string bytes(65, 'x');
    Pattern p;
    EXPECT_NO_THROW(p.setBytes(448, bytesOf(bytes), 64));
    EXPECT_EQ(p.offset(), 448u);
    EXPECT_EQ(p.length(), 64u);
    EXPECT_NO_THROW(p.setBytes(511, bytesOf(bytes), 1));

    Pattern q;
    q.setBytes(3, bytesOf("abc"), 3);
    EXPECT_THAT([&] { q.setBytes(449, bytesOf(bytes), 64); },
                ThrowsMessage<std::runtime_error>("Patterns(58)"));
    EXPECT_THAT([&] { q.setBytes(0, bytesOf(bytes), 65); },
                ThrowsMessage<std::runtime_error>("Patterns(58)"));
    // Offsets near the top of u32 must not wrap past the check.
    EXPECT_THAT([&] { q.setBytes(0xFFFFFFFFu, bytesOf(bytes), 2); },
                ThrowsMessage<std::runtime_error>("Patterns(58)"));
    // A refused call leaves the pattern as it was.
    EXPECT_EQ(q.offset(), 3u);
    EXPECT_EQ(q.length(), 3u);
}

TEST(PatternTest, MatchesTheBytesAtTheirOffsetOnly) {
    Pattern p;
    p.setBytes(4, bytesOf("ftyp"), 4);
    EXPECT_TRUE(p.matches(sectorWith(4, "ftyp").data(), 512));
    EXPECT_FALSE(p.matches(sectorWith(0, "ftyp").data(), 512));
    EXPECT_FALSE(p.matches(sectorWith(4, "ftyP").data(), 512));
    // Bytes that would lie past what the caller has never match.
    EXPECT_FALSE(p.matches(sectorWith(4, "ftyp", 8).data(), 7));
    EXPECT_TRUE(p.matches(sectorWith(4, "ftyp", 8).data(), 8));
}

TEST(PatternTest, TheScanModuleConfirmsOnlyAfterTheBytesMatch) {
    StubModule module;
    bool answer = false;
    module.onCheck = [&](const u8*, u32 size) {
        EXPECT_EQ(size, 2048u);
        return answer;
    };
    Pattern p;
    p.setBytes(0, bytesOf("PK"), 2);
    p.setScanModule(&module);
    auto hit = sectorWith(0, "PK", 2048);
    auto miss = sectorWith(0, "PX", 2048);
    EXPECT_FALSE(p.matches(miss.data(), 2048));
    EXPECT_EQ(module.checks, 0);
    EXPECT_FALSE(p.matches(hit.data(), 2048));
    answer = true;
    EXPECT_TRUE(p.matches(hit.data(), 2048));
    EXPECT_EQ(module.checks, 2);

    // Without bytes the module alone decides.
    Pattern q;
    q.setScanModule(&module);
    EXPECT_TRUE(q.matches(miss.data(), 2048));
}

TEST(PatternTest, CopiesCarryEverything) {
    StubModule module;
    Pattern p;
    p.setType("jpeg");
    p.setBytes(0, bytesOf("\xFF\xD8\xFF"), 3);
    p.setScanModule(&module);
    p.setAnalyzeModule(&module);
    p.setMaxSize(1234);
    Pattern copy = p;
    p.setType("changed");
    p.setBytes(0, bytesOf("zz"), 2);
    EXPECT_EQ(copy.type(), "jpeg");
    EXPECT_EQ(copy.length(), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(copy.bytes()), 3), "\xFF\xD8\xFF");
    EXPECT_EQ(copy.scanModule(), &module);
    EXPECT_EQ(copy.analyzeModule(), &module);
    EXPECT_EQ(copy.maxSize(), 1234u);
}

} // namespace
