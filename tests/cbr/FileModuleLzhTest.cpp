#include "cbr/FileModuleLzh.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

// No tool on Debian writes LHA archives, so the members are put together here
// from the header layouts (stored data, method -lh0-), and lhasa, which reads
// them, checks every archive the tests build before the module sees it.

namespace {

using moduletest::analyze;
using moduletest::garbage;

void putLE(std::string& out, u64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// CRC-16 with the reflected polynomial 0xA001, as LHA checks its data.
u16 crc16(const std::string& data) {
    u16 crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = static_cast<u16>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

constexpr u32 DOS_TIME = 0x3A3F6AA4; // 2009-01-31 13:21:08
constexpr u32 UNIX_TIME = 1233407108;

// The fields that levels 0 and 1 share, from the method to the data's CRC.
std::string sharedFields(const std::string& method, const std::string& name,
                         const std::string& data, char level) {
    std::string h = method;
    putLE(h, data.size(), 4);
    putLE(h, data.size(), 4);
    putLE(h, DOS_TIME, 4);
    h += '\x20';
    h += level;
    h += static_cast<char>(name.size());
    h += name;
    putLE(h, crc16(data), 2);
    return h;
}

// Levels 0 and 1 start with the size of the rest of the header and its byte sum.
std::string framed(const std::string& h, const std::string& data) {
    u8 sum = 0;
    for (unsigned char c : h)
        sum = static_cast<u8>(sum + c);
    return std::string(1, static_cast<char>(h.size())) + static_cast<char>(sum) + h + data;
}

std::string level0(const std::string& name, const std::string& data,
                   const std::string& method = "-lh0-") {
    return framed(sharedFields(method, name, data, 0), data);
}

// Level 1 adds the OS id and the size of the first extended header (none here).
std::string level1(const std::string& name, const std::string& data) {
    return framed(sharedFields("-lh0-", name, data, 1) + 'U' + std::string(2, '\0'), data);
}

// Level 2: u16 size of the whole header, the fields, and the name in an
// extended header.
std::string level2(const std::string& name, const std::string& data, char os = 'U') {
    std::string h;
    h += "-lh0-";
    putLE(h, data.size(), 4);
    putLE(h, data.size(), 4);
    putLE(h, UNIX_TIME, 4);
    h += '\x20';
    h += '\x02';
    putLE(h, crc16(data), 2);
    h += os;
    putLE(h, 3 + name.size(), 2);
    h += '\x01';
    h += name;
    putLE(h, 0, 2);
    std::string out;
    putLE(out, h.size() + 2, 2);
    return out + h + data;
}

class FileModuleLzhTest : public ::testing::Test {
protected:
    // Whether lhasa reads the archive and every CRC in it.
    bool lhasaAccepts(const std::string& archive) {
        testutil::writeAll(dir.file("t.lzh"), archive);
        std::string out, err;
        return testutil::run("lha t " + testutil::shellQuote(dir.file("t.lzh")), &out, &err) == 0;
    }

    testutil::TempDir dir;
    cbr::FileModuleLzh module;
};

TEST_F(FileModuleLzhTest, MembersOfEveryLevelAndTheClosingZeroFollowedByGarbage) {
    const std::string members = level0("zero.txt", "level zero\n") +
                                level1("one.txt", garbage(700)) + level2("two.txt", "level two\n");
    const std::string archive = members + '\0';
    ASSERT_TRUE(lhasaAccepts(archive));
    ASSERT_TRUE(moduletest::check(module, archive));
    const auto a = analyze(module, archive + garbage(4000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), archive.size());
    EXPECT_EQ(a.type(), "lzh");
}

TEST_F(FileModuleLzhTest, WindowEndsRightAfterTheLastMemberOrInsideOne) {
    const std::string first = level2("a.txt", garbage(300));
    ASSERT_TRUE(lhasaAccepts(first + '\0'));
    // No room for the closing zero: header and data alone.
    auto a = analyze(module, first);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), first.size());

    // A second member cut short: the first one and the byte after it.
    const std::string second = level0("b.txt", garbage(2000));
    a = analyze(module, first + second.substr(0, 1000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), first.size() + 1);

    EXPECT_FALSE(analyze(module, first.substr(0, first.size() - 1)).ok);
    EXPECT_FALSE(analyze(module, first.substr(0, 23)).ok);
}

TEST_F(FileModuleLzhTest, DamagedFirstHeaderIsNoArchive) {
    std::string archive = level1("a.txt", "data") + '\0';
    archive[3] = 'L';
    EXPECT_FALSE(moduletest::check(module, archive));
    EXPECT_FALSE(analyze(module, archive).ok);
}

TEST_F(FileModuleLzhTest, HeaderTest) {
    const std::string data = "x";
    for (const char* method : {"-lh0-", "-lh5-", "-lh7-", "-lhd-", "-lz5-", "-lzx-"})
        EXPECT_TRUE(moduletest::check(module, level0("a", data, method))) << method;
    for (const char* method : {"-lh8-", "-lhx-", "-lzs-", "-lz4-", "-pm0-", "-lh5_"})
        EXPECT_FALSE(moduletest::check(module, level0("a", data, method))) << method;

    // The size byte of a level-0 header: name length + 24 is turned away.
    std::string h = level0("name", data);
    ASSERT_EQ(static_cast<u8>(h[0]), 4 + 22);
    h[0] = 4 + 24;
    EXPECT_FALSE(moduletest::check(module, h));
    h[0] = 4 + 23;
    EXPECT_TRUE(moduletest::check(module, h));

    // Level 1: name length + 27 is turned away, and the attribute must be 0x20.
    h = level1("name", data);
    ASSERT_EQ(static_cast<u8>(h[0]), 4 + 25);
    EXPECT_TRUE(moduletest::check(module, h));
    h[0] = 4 + 27;
    EXPECT_FALSE(moduletest::check(module, h));
    h = level1("name", data);
    h[19] = 0;
    EXPECT_FALSE(moduletest::check(module, h));

    // Level 2: at least 26 header bytes and a known system.
    EXPECT_TRUE(moduletest::check(module, level2("a", data, 'M')));
    EXPECT_FALSE(moduletest::check(module, level2("a", data, 'X')));
    h = level2("a", data);
    h[0] = 25;
    h[1] = 0;
    EXPECT_FALSE(moduletest::check(module, h));

    h = level0("a", data);
    h[20] = 3;
    EXPECT_FALSE(moduletest::check(module, h));
    EXPECT_FALSE(moduletest::check(module, level0("a", data).substr(0, 23)));
}

} // namespace
