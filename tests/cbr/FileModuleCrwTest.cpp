#include "cbr/FileModuleCrw.h"

#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// No tool makes CRW files; these tests lay out the CIFF heap by hand: the
// 26-byte header, the records of the heap, and the root directory at the end,
// closed by its own offset in the last four bytes.
struct CiffEntry {
    u16 tag;
    u32 size;
    u32 offset; // from the heap's start
};

constexpr u16 RAW = 0x2005;
constexpr u16 JPEG = 0x2007;
constexpr u16 THUMBNAIL = 0x2008;
constexpr u32 HEAP = 26;

class Ciff {
public:
    explicit Ciff(bool little) : little_(little) {
        bytes_ = little ? std::string("II\x1A\0\0\0", 6) : std::string("MM\0\0\0\x1A", 6);
        bytes_ += "HEAPCCDR";
        bytes_ += std::string(12, '\0');
    }
    // A record of the heap; returns its heap offset.
    u32 record(u32 size, char fill) {
        const u32 at = static_cast<u32>(bytes_.size()) - HEAP;
        bytes_.append(size, fill);
        return at;
    }
    // A directory at heap offset t (overwriting or appending).
    void directory(u32 t, const std::vector<CiffEntry>& entries) {
        std::string d = word(static_cast<u32>(entries.size()), 2);
        for (const CiffEntry& e : entries)
            d += word(e.tag, 2) + word(e.size, 4) + word(e.offset, 4);
        d += word(t, 4);
        if (bytes_.size() < HEAP + t + d.size())
            bytes_.resize(HEAP + t + d.size());
        bytes_.replace(HEAP + t, d.size(), d);
    }
    // The root directory after everything so far.
    void close(const std::vector<CiffEntry>& entries) {
        directory(static_cast<u32>(bytes_.size()) - HEAP, entries);
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string word(u32 v, int width) const {
        std::string out;
        for (int i = 0; i < width; ++i)
            out += static_cast<char>(v >> (little_ ? 8 * i : 8 * (width - 1 - i)));
        return out;
    }
    bool little_;
    std::string bytes_;
};

// A CRW with raw data, a large JPEG and a thumbnail, as the cameras write it.
std::string camera(bool little, u32 rawSize) {
    Ciff c(little);
    const u32 raw = c.record(rawSize, '\x33');
    const u32 jpeg = c.record(40000, '\x44');
    const u32 thumb = c.record(5000, '\x55');
    c.close({{RAW, rawSize, raw}, {JPEG, 40000, jpeg}, {THUMBNAIL, 5000, thumb}});
    return c.bytes();
}

TEST(FileModuleCrwTest, CheckTakesBothByteOrders) {
    cbr::FileModuleCrw module;
    EXPECT_TRUE(moduletest::check(module, camera(true, 10).substr(0, 14)));
    EXPECT_TRUE(moduletest::check(module, camera(false, 10).substr(0, 14)));
    EXPECT_FALSE(moduletest::check(module, camera(true, 10).substr(0, 13)));
    std::string other = camera(true, 10).substr(0, 14);
    other[13] = 'X';
    EXPECT_FALSE(moduletest::check(module, other));
}

TEST(FileModuleCrwTest, ASixMegabyteFileEndsAtItsRootDirectoryWithTheThumbnailAsPreview) {
    cbr::FileModuleCrw module;
    const std::string crw = camera(true, 6000000);
    const auto found = analyze(module, crw + garbage(200000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), crw.size());
    EXPECT_EQ(found.type(), "crw");
    const Attributes& a = found.info.getAttributes();
    EXPECT_EQ(a.getUInt8("raw", 0), 1);
    EXPECT_EQ(a.getUInt32("thumbnail_offset", 0), HEAP + 6000000 + 40000);
    EXPECT_EQ(a.getUInt32("thumbnail_size", 0), 5000u);
    EXPECT_EQ(a.getUInt32("thumbnail_compression", 0), 6u);

    // Big-endian, and a window that ends with the file.
    const std::string big = camera(false, 600000);
    EXPECT_EQ(analyze(module, big).size(), big.size());
    // Cut before the directory offset: nothing.
    EXPECT_FALSE(analyze(module, big.substr(0, big.size() - 1)).ok);
}

TEST(FileModuleCrwTest, TheLargeJpegIsThePreviewOnlyWithoutAThumbnail) {
    cbr::FileModuleCrw module;
    Ciff c(true);
    const u32 raw = c.record(600000, '\x33');
    const u32 jpeg = c.record(7000, '\x44');
    const u32 other = c.record(100, '\x66');
    c.close({{JPEG, 7000, jpeg}, {RAW, 600000, raw}, {JPEG, 100, other}});
    const auto found = analyze(module, c.bytes());
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.info.getAttributes().getUInt32("thumbnail_offset", 0), HEAP + jpeg);
    EXPECT_EQ(found.info.getAttributes().getUInt32("thumbnail_size", 0), 7000u);

    Ciff bare(true);
    const u32 only = bare.record(600000, '\x33');
    bare.close({{RAW, 600000, only}, {0x300A, 0, 0}});
    const auto plain = analyze(module, bare.bytes());
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.info.getAttributes().getUInt32("thumbnail_offset", 0xFFFFFFFF), 0xFFFFFFFFu);
}

TEST(FileModuleCrwTest, DirectoriesWithoutRawDataOrTooManyEntriesAreNotTheEnd) {
    cbr::FileModuleCrw module;
    // A directory without raw data inside the JPEG record is passed over.
    Ciff c(true);
    const u32 raw = c.record(600000, '\x33');
    const u32 jpeg = c.record(40000, '\x44');
    c.close({{RAW, 600000, raw}, {JPEG, 40000, jpeg}});
    const u64 end = c.bytes().size();
    c.directory(jpeg + 100, {{JPEG, 10, 0}, {THUMBNAIL, 10, 20}});
    EXPECT_EQ(analyze(module, c.bytes()).size(), end);

    // Eight entries are the most a root directory has.
    for (u32 n : {8u, 9u}) {
        Ciff many(true);
        const u32 manyRaw = many.record(600000, '\x33');
        std::vector<CiffEntry> entries(n, CiffEntry{0x300A, 0, 0});
        entries[0] = {RAW, 600000, manyRaw};
        many.close(entries);
        EXPECT_EQ(analyze(module, many.bytes() + garbage(100)).ok, n == 8) << n;
    }
    // A file that ends before 500000 bytes is never found.
    EXPECT_FALSE(analyze(module, camera(true, 400000) + garbage(1000)).ok);
}

TEST(FileModuleCrwTest, ALaterRootDirectoryWithin64KBGivesTheEnd) {
    cbr::FileModuleCrw module;
    for (u32 distance : {60000u, 70000u}) {
        // A consistent directory inside the thumbnail record, `distance` bytes
        // before the real end.
        Ciff c(true);
        const u32 raw = c.record(600000, '\x33');
        const u32 thumb = c.record(distance + 100, '\x55');
        c.close({{RAW, 600000, raw}, {THUMBNAIL, distance + 100, thumb}});
        const u32 end = static_cast<u32>(c.bytes().size());
        const u32 decoyEnd = end - distance;
        // Two entries: 2 + 20 + 4 bytes ending at decoyEnd.
        c.directory(decoyEnd - 26 - HEAP, {{RAW, 100, 0}, {0x300A, 0, 0}});
        const auto found = analyze(module, c.bytes());
        ASSERT_TRUE(found.ok);
        EXPECT_EQ(found.size(), distance < 65536 ? end : decoyEnd) << distance;
    }
}

} // namespace
