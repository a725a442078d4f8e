// The pack and unpack commands of the probe, end to end: what a user of a saved
// scan or a saved debug log meets, including the exit codes.

#include "core/CompressedFile.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using testutil::probePath;
using testutil::readAll;
using testutil::run;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeAll;

int probe(const std::string& args) {
    std::string err;
    return run(shellQuote(probePath()) + " " + args, nullptr, &err);
}

std::string lengthsOnly(u32 a, u32 b) {
    std::string s(8, '\0');
    for (int i = 0; i < 4; ++i) {
        s[i] = static_cast<char>(a >> (8 * i));
        s[4 + i] = static_cast<char>(b >> (8 * i));
    }
    return s;
}

TEST(ProbePackTest, PackUnpackIsByteIdentical) {
    TempDir dir;
    std::string in = dir.file("in"), packed = dir.file("packed"), out = dir.file("out");
    std::string data;
    for (int i = 0; i < 200000; ++i)
        data += static_cast<char>((i * 7919) ^ (i >> 5));
    writeAll(in, data);
    ASSERT_EQ(probe("pack " + shellQuote(in) + " " + shellQuote(packed)), 0);
    ASSERT_EQ(probe("unpack " + shellQuote(packed) + " " + shellQuote(out)), 0);
    EXPECT_TRUE(readAll(out) == data);

    writeAll(in, "");
    ASSERT_EQ(probe("pack " + shellQuote(in) + " " + shellQuote(packed)), 0);
    ASSERT_EQ(probe("unpack " + shellQuote(packed) + " " + shellQuote(out)), 0);
    EXPECT_EQ(readAll(out), "");
}

TEST(ProbePackTest, DamagedFilesExitOne) {
    TempDir dir;
    std::string bad = dir.file("bad"), out = dir.file("out");
    std::string tail = std::string(100, '\x33');
    std::string cases[] = {
        std::string(7, '\0'),
        lengthsOnly(3, 4) + tail,
        lengthsOnly(0xFFFFFFFFu, 0xFFFFFFFFu) + tail,
    };
    for (std::string& c : cases) {
        xorChainForward(reinterpret_cast<u8*>(&c[0]), c.size());
        writeAll(bad, c);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(probe("unpack " + shellQuote(bad) + " " + shellQuote(out)), 1) << c.size();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(probe("unpack " + shellQuote(dir.file("missing")) + " " + shellQuote(out)), 1);
    EXPECT_EQ(probe("pack " + shellQuote(dir.file("missing")) + " " + shellQuote(out)), 1);
}

TEST(ProbePackTest, WrongArgumentCountExitsTwo) {
    EXPECT_EQ(probe("pack"), 2);
    EXPECT_EQ(probe("pack a"), 2);
    EXPECT_EQ(probe("unpack a b c"), 2);
}

} // namespace
