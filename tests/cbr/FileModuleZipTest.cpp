#include "cbr/FileModuleZip.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;
using moduletest::make;

// Bytes that deflate cannot shrink, so that members keep their size.
std::string noise(std::size_t n) {
    std::string bytes(n, '\0');
    u32 state = 12345;
    for (auto& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

class FileModuleZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::writeAll(dir.file("a.txt"), "hello world\n");
        testutil::writeAll(dir.file("b.bin"), noise(70000));
    }

    testutil::TempDir dir;
    cbr::FileModuleZip module;
};

TEST_F(FileModuleZipTest, ArchiveFollowedByGarbageEndsAfterItsEndRecord) {
    const std::string bytes = make(dir, "zip -q t.zip a.txt b.bin", "t.zip");
    ASSERT_TRUE(moduletest::check(module, bytes));
    const auto a = analyze(module, bytes + garbage(5000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());
    EXPECT_EQ(a.type(), "zip");
}

TEST_F(FileModuleZipTest, CommentIsPartOfTheArchive) {
    testutil::writeAll(dir.file("comment"), std::string(100, 'c') + "\n");
    const std::string bytes = make(dir, "zip -q -z t.zip a.txt < comment", "t.zip");
    ASSERT_EQ(bytes.substr(bytes.size() - 102, 2), std::string("\x64\x00", 2));
    auto a = analyze(module, bytes + garbage(300));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());

    // A comment cut by the window's end: the archive up to the window's end.
    a = analyze(module, bytes.substr(0, bytes.size() - 40));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size() - 40);
}

TEST_F(FileModuleZipTest, DataDescriptorsAreSteppedOverBySearching) {
    // Written to a pipe, zip cannot go back to fill in the sizes.
    const std::string bytes = make(dir, "zip -q - a.txt b.bin | cat > t.zip", "t.zip");
    ASSERT_TRUE(bytes[6] & 0x08) << testutil::hexDump(bytes.data(), 32);
    const auto a = analyze(module, bytes + garbage(1000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());
}

TEST_F(FileModuleZipTest, Zip64SizesAndRecordsBeforeTheEndRecord) {
    // Forced zip64: the local headers leave both sizes to the zip64 extra field.
    const std::string bytes = make(dir, "zip -q -fz t.zip a.txt b.bin", "t.zip");
    ASSERT_EQ(bytes.substr(18, 8), std::string(8, '\xFF'));
    ASSERT_NE(bytes.find("PK\x06\x06"), std::string::npos);
    const auto a = analyze(module, bytes + garbage(1000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), bytes.size());

    // Without its zip64 field the member's size stays all ones: no archive.
    std::string damaged = bytes;
    const std::size_t field = damaged.find(std::string("\x01\x00\x10\x00", 4), 30);
    ASSERT_LT(field, 30u + 5 + static_cast<u8>(bytes[28]));
    damaged[field] = '\x99';
    EXPECT_FALSE(analyze(module, damaged + garbage(1000)).ok);
}

TEST_F(FileModuleZipTest, ArchiveWithoutItsEndRecordIsRejected) {
    const std::string bytes = make(dir, "zip -q t.zip a.txt b.bin", "t.zip");
    const std::size_t end = bytes.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    EXPECT_FALSE(analyze(module, bytes.substr(0, end) + garbage(1000)).ok);
    EXPECT_FALSE(analyze(module, bytes.substr(0, end + 10)).ok);
    // Cut inside the data of a member.
    EXPECT_FALSE(analyze(module, bytes.substr(0, 5000)).ok);

    // A local header whose name length sends the walk into the data.
    std::string damaged = bytes;
    damaged[26] = 0x7F;
    EXPECT_FALSE(analyze(module, damaged).ok);
    damaged = bytes;
    damaged[2] = 5;
    EXPECT_FALSE(moduletest::check(module, damaged));
}

TEST_F(FileModuleZipTest, SearchForTheNextHeaderGivesUpAfterTenMegabytes) {
    // A member with a data descriptor whose data never ends within 10 MB.
    std::string bytes = make(dir, "zip -q - a.txt | cat > t.zip", "t.zip");
    const std::size_t data = 30 + 5 + static_cast<u8>(bytes[28]);
    std::string big = bytes.substr(0, data) + garbage(0xA00010) + bytes.substr(data);
    EXPECT_FALSE(analyze(module, big).ok);
    // Just inside the limit it is found.
    big = bytes.substr(0, data) + garbage(0x9F0000) + bytes.substr(data);
    const auto a = analyze(module, big);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), big.size());
}

} // namespace
