#include "cbr/FileModuleRar.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <zlib.h>

// No tool on Debian writes RAR archives, so the blocks are put together here
// from the block layouts (stored members), with their header CRCs, and bsdtar,
// which reads them, checks the archives the tests build.

namespace {

using moduletest::analyze;
using moduletest::garbage;

const std::string MARKER("Rar!\x1A\x07\x00", 7);

void putLE(std::string& out, u64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

u32 crc32Of(const std::string& s) {
    return static_cast<u32>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A block from its type, flags and the header fields after the size; the CRC
// is the low half of the CRC-32 of the header from the type on.
std::string block(u8 type, u16 flags, const std::string& fields) {
    std::string h;
    h += static_cast<char>(type);
    putLE(h, flags, 2);
    putLE(h, 7 + fields.size(), 2);
    h += fields;
    std::string out;
    putLE(out, crc32Of(h) & 0xFFFF, 2);
    return out + h;
}

std::string mainHeader() {
    return block(0x73, 0, std::string(6, '\0'));
}

std::string endBlock() {
    return block(0x7B, 0x4000, "");
}

// A file (0x74) or sub-block (0x7A) header with its data behind it.
std::string member(const std::string& name, const std::string& data, u8 type = 0x74,
                   u32 statedSize = ~0u) {
    std::string f;
    putLE(f, statedSize == ~0u ? data.size() : statedSize, 4); // packed size
    putLE(f, data.size(), 4);                                  // unpacked size
    f += '\x03';                                               // Unix
    putLE(f, crc32Of(data), 4);
    putLE(f, 0x3A3F6AA4, 4); // DOS time
    f += '\x14';             // version 2.0
    f += '\x30';             // stored
    putLE(f, name.size(), 2);
    putLE(f, 0x81A4, 4);
    f += name;
    return block(type, 0x8000, f) + data;
}

class FileModuleRarTest : public ::testing::Test {
protected:
    bool bsdtarLists(const std::string& archive, const std::string& expected) {
        testutil::writeAll(dir.file("t.rar"), archive);
        std::string out, err;
        const int status =
            testutil::run("bsdtar -tf " + testutil::shellQuote(dir.file("t.rar")), &out, &err);
        EXPECT_EQ(status, 0) << err;
        return status == 0 && out == expected;
    }

    testutil::TempDir dir;
    cbr::FileModuleRar module;
};

TEST_F(FileModuleRarTest, ArchiveFollowedByGarbageEndsAfterItsEndBlock) {
    const std::string archive = MARKER + mainHeader() + member("a.txt", "hello world\n") +
                                member("b.bin", garbage(3000)) + endBlock();
    ASSERT_TRUE(bsdtarLists(archive, "a.txt\nb.bin\n"));
    ASSERT_TRUE(moduletest::check(module, archive));
    const auto a = analyze(module, archive + garbage(5000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), archive.size());
    EXPECT_EQ(a.type(), "rar");

    // A sub-block between the members is stepped over by its data size.
    const std::string withSub = MARKER + mainHeader() + member("a.txt", "hello") +
                                member("CMT", garbage(40), 0x7A) + endBlock();
    EXPECT_EQ(analyze(module, withSub + garbage(100)).size(), withSub.size());
}

TEST_F(FileModuleRarTest, OnlyAMainHeaderOrACutArchive) {
    const std::string start = MARKER + mainHeader();
    auto a = analyze(module, start + garbage(1000));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), 20u);

    // Cut inside the second member's data: the archive ends with the first.
    const std::string first = start + member("a.txt", "hello world\n");
    const std::string whole = first + member("b.bin", garbage(3000)) + endBlock();
    a = analyze(module, whole.substr(0, whole.size() - 500));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), first.size());

    // The main header must fit.
    EXPECT_FALSE(analyze(module, start.substr(0, 19)).ok);
}

TEST_F(FileModuleRarTest, DamagedBlocks) {
    std::string archive = MARKER + mainHeader() + member("a.txt", "hello") + endBlock();
    std::string damaged = archive;
    damaged[9] = 0x74; // no main header
    EXPECT_FALSE(analyze(module, damaged).ok);
    damaged = archive;
    damaged[12] = 12; // main header size below 13
    EXPECT_FALSE(analyze(module, damaged).ok);
    damaged = archive;
    damaged[1] = 'A';
    EXPECT_FALSE(moduletest::check(module, damaged));
    EXPECT_FALSE(moduletest::check(module, MARKER.substr(0, 6)));

    // A file header shorter than 33 bytes ends the walk before it.
    damaged = archive;
    damaged[20 + 5] = 32;
    EXPECT_EQ(analyze(module, damaged).size(), 20u);
}

TEST_F(FileModuleRarTest, DataSizeThatWrapsA32BitSumStillEndsTheWalk) {
    // 33 header bytes + 0xFFFFFFDF data bytes is 2^32: summed in 32 bits the
    // walk would stand still on this block.
    const std::string bad = member("a", "", 0x74, 0xFFFFFFDFu);
    ASSERT_EQ(static_cast<u8>(bad[5]), 33);
    const auto a = analyze(module, MARKER + mainHeader() + bad + garbage(100));
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.size(), 20u);
}

} // namespace
