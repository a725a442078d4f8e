#include "cbr/FileModuleArj.h"

#include "core/DateTime.h"
#include "core/FileNames.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;
using moduletest::make;

// Offsets in the main header that the tests damage or rewrite.
constexpr std::size_t MAIN_SIZE = 2;
constexpr std::size_t MAIN_HOST_OS = 7;
constexpr std::size_t MAIN_MODIFIED = 16;
constexpr std::size_t END_HEADER = 4;

class FileModuleArjTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::writeAll(dir.file("a.txt"), "hello world\n");
        testutil::writeAll(dir.file("b.bin"), garbage(3000));
    }
    std::string arj(const std::string& archive, const std::string& files) {
        return make(dir, "arj a -y " + archive + " " + files, archive);
    }
    // The offset of the first local header: right after the main header.
    static std::size_t firstMember(const std::string& archive) {
        return archive.find("\x60\xEA", 4);
    }

    testutil::TempDir dir;
    cbr::FileModuleArj module;
};

TEST_F(FileModuleArjTest, RealArchiveFollowedByGarbageKeepsItsSizeNameAndTime) {
    const std::string bytes = arj("test.arj", "a.txt b.bin");
    ASSERT_TRUE(moduletest::check(module, bytes));
    const auto a = analyze(module, bytes + garbage(5000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());
    EXPECT_EQ(a.type(), "arj");
    EXPECT_EQ(a.name(), "test");
    // Made on Unix: the time is kept in Unix seconds.
    ASSERT_EQ(bytes[MAIN_HOST_OS], 2);
    const u32 time = a.info.getAttributes().getUInt32("time", NO_TIME);
    EXPECT_NEAR(static_cast<double>(time), static_cast<double>(std::time(nullptr)), 120.0);
}

TEST_F(FileModuleArjTest, ArchiveCutShortEndsWithItsLastWholeMember) {
    const std::string one = arj("one.arj", "a.txt");
    const std::string two = arj("two.arj", "a.txt b.bin");
    // The same name length and first member: the second member starts where the
    // first archive has its end header.
    const std::size_t secondMember = one.size() - END_HEADER;
    ASSERT_EQ(two.compare(secondMember, 2, "\x60\xEA"), 0);

    auto a = analyze(module, two.substr(0, two.size() - 100));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), secondMember);
    // Cut inside the second member's header: the same.
    a = analyze(module, two.substr(0, secondMember + 10));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), secondMember);
    // Cut inside the first member: nothing whole is left.
    EXPECT_FALSE(analyze(module, two.substr(0, firstMember(two) + 20)).ok);
}

TEST_F(FileModuleArjTest, SmallArchiveAtTheEndOfTheSourceIsFound) {
    testutil::writeAll(dir.file("empty"), "");
    const std::string bytes = arj("e.arj", "empty");
    ASSERT_LT(bytes.size(), 260u);
    const auto a = analyze(module, bytes);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());
    EXPECT_EQ(a.name(), "e");
}

TEST_F(FileModuleArjTest, DamagedHeaders) {
    const std::string bytes = arj("test.arj", "a.txt b.bin");
    const std::size_t member = firstMember(bytes);

    // A member whose name and CRC are broken still walks by its sizes.
    std::string damaged = bytes;
    damaged[damaged.find("a.txt", member)] = '\x01';
    const std::size_t crc = member + 4 + static_cast<u8>(bytes[member + MAIN_SIZE]);
    damaged[crc] = static_cast<char>(damaged[crc] ^ 0x55);
    auto a = analyze(module, damaged);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());

    // Without a member or end header after the main header there is no archive.
    damaged = bytes;
    damaged[member] = 'x';
    EXPECT_FALSE(analyze(module, damaged).ok);

    for (u16 size : {u16(31), u16(2601), u16(0)}) {
        damaged = bytes;
        damaged[MAIN_SIZE] = static_cast<char>(size & 0xFF);
        damaged[MAIN_SIZE + 1] = static_cast<char>(size >> 8);
        EXPECT_FALSE(analyze(module, damaged).ok) << size;
    }

    damaged = bytes;
    damaged[10] = 1; // a member header where the main header should be
    EXPECT_FALSE(moduletest::check(module, damaged));
    EXPECT_FALSE(moduletest::check(module, std::string("\x60\xEA", 2)));
}

TEST_F(FileModuleArjTest, NameNeedsTheArjExtensionInAnyCaseAndComesFromTheCodePage) {
    auto a = analyze(module, arj("SHOUT.ARJ", "a.txt"));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.name(), "SHOUT");

    a = analyze(module, arj("other.dat", "a.txt"));
    ASSERT_TRUE(a.ok);
    EXPECT_FALSE(a.info.getAttributes().find("name") != Attributes::NOT_FOUND);

    // The stored bytes are CP850: 0x82 is e with an acute accent.
    std::string bytes = arj("cafX.arj", "a.txt");
    bytes[bytes.find("cafX") + 3] = '\x82';
    ASSERT_EQ(CbrCharsets::instance().arjName(), "CP850");
    a = analyze(module, bytes);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.name(), "caf\xC3\xA9");
}

TEST_F(FileModuleArjTest, TimeOfAnArchiveMadeOnDosIsADosDateAndTime) {
    testutil::ScopedTimeZone utc("UTC");
    std::string bytes = arj("test.arj", "a.txt");
    bytes[MAIN_HOST_OS] = 0;
    // 2009-01-31 13:05:08: date (29 << 9 | 1 << 5 | 31), time (13 << 11 | 5 << 5 | 4).
    const u32 dos = (u32((29 << 9) | (1 << 5) | 31) << 16) | u32((13 << 11) | (5 << 5) | 4);
    for (int i = 0; i < 4; ++i)
        bytes[MAIN_MODIFIED + i] = static_cast<char>((dos >> (8 * i)) & 0xFF);
    auto a = analyze(module, bytes);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.info.getAttributes().getUInt32("time", NO_TIME), 1233407108u);

    for (int i = 0; i < 4; ++i)
        bytes[MAIN_MODIFIED + i] = 0;
    a = analyze(module, bytes);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.info.getAttributes().find("time"), Attributes::NOT_FOUND);
}

} // namespace
