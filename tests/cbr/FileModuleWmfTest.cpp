#include "cbr/FileModuleWmf.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

// No tool at hand writes metafiles, so the files here are made byte by byte: the
// placeable header, the metafile header, records, the end record.

namespace {

using moduletest::analyze;
using moduletest::garbage;

void putLE16(std::string& b, u16 v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}
void putLE32(std::string& b, u32 v) {
    putLE16(b, static_cast<u16>(v & 0xFFFF));
    putLE16(b, static_cast<u16>(v >> 16));
}

std::string metafile(u16 type, u16 headerWords, u32 sizeWords) {
    std::string b("\xD7\xCD\xC6\x9A\x00\x00", 6);
    b += std::string(16, '\0'); // bounding box, units per inch, reserved, checksum
    putLE16(b, type);
    putLE16(b, headerWords);
    putLE16(b, 0x0300); // version
    putLE32(b, sizeWords);
    putLE16(b, 0); // objects
    putLE32(b, 3); // largest record
    putLE16(b, 0); // unused
    putLE32(b, 3); // the end record: 3 words, function 0
    putLE16(b, 0);
    return b;
}

TEST(FileModuleWmfTest, TheSizeIsThePlaceableHeaderAndTheMetafileWords) {
    cbr::FileModuleWmf module;
    const std::string wmf = metafile(1, 9, 12); // 9 header words + a 3-word record
    ASSERT_EQ(wmf.size(), 22u + 24u);
    moduletest::expectFound(module, wmf, "wmf");
    EXPECT_EQ(analyze(module, metafile(2, 9, 12)).size(), wmf.size());
    // The window ends before the file does.
    EXPECT_FALSE(analyze(module, wmf.substr(0, wmf.size() - 1)).ok);
}

TEST(FileModuleWmfTest, DamagedMetafileHeadersAreRejected) {
    cbr::FileModuleWmf module;
    const std::string room = garbage(200);
    EXPECT_FALSE(analyze(module, metafile(3, 9, 12) + room).ok);
    EXPECT_FALSE(analyze(module, metafile(1, 10, 12) + room).ok);
    // Fewer words than the metafile header has.
    EXPECT_FALSE(analyze(module, metafile(1, 9, 8) + room).ok);
    // A count whose double wraps round in 32 bits must not pass as a tiny file.
    EXPECT_FALSE(analyze(module, metafile(1, 9, 0x80000000u) + room).ok);
    EXPECT_FALSE(analyze(module, metafile(1, 9, 0).substr(0, 30)).ok);
}

TEST(FileModuleWmfTest, CheckWantsTheKeyAndAZeroHandle) {
    cbr::FileModuleWmf module;
    EXPECT_FALSE(moduletest::check(module, std::string("\xD7\xCD\xC6\x9A\x01\x00", 6)));
    EXPECT_FALSE(moduletest::check(module, std::string("\xD7\xCD\xC6\x9A\x00", 5)));
}

} // namespace
