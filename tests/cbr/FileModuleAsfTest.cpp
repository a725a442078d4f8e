#include "cbr/FileModuleAsf.h"

#include "core/Array.h"
#include "core/DateTime.h"
#include "tests/cbr/ModuleTestUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using moduletest::analyze;
using moduletest::garbage;

// GUIDs in their stored byte order.
const std::string HEADER("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
const std::string
    FILE_PROPERTIES("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
const std::string
    STREAM_PROPERTIES("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
const std::string
    CONTENT_DESCRIPTION("\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
const std::string AUDIO("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
const std::string VIDEO("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);

std::string le(u64 value, unsigned width) {
    std::string bytes(width, '\0');
    for (unsigned i = 0; i < width; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string object(const std::string& guid, const std::string& body) {
    return guid + le(24 + body.size(), 8) + body;
}

std::string fileProperties(u64 fileSize, u64 created) {
    return object(FILE_PROPERTIES,
                  std::string(16, '\x01') + le(fileSize, 8) + le(created, 8) + std::string(48, 0));
}

std::string streamProperties(const std::string& type) {
    return object(STREAM_PROPERTIES, type + std::string(38, 0));
}

// `title` as UTF-16LE bytes with their terminating zero.
std::string contentDescription(const std::string& title, u16 declaredLength) {
    return object(CONTENT_DESCRIPTION, le(declaredLength, 2) + std::string(8, 0) + title);
}

std::string utf16(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii)
        bytes += std::string(1, c) + '\0';
    return bytes + std::string(2, 0);
}

// A header of the given objects, then a data part that fills the file to `size`
// (the file properties must announce it).
std::string asf(const std::string& objects, u32 count, u64 size) {
    std::string header = HEADER + le(30 + objects.size(), 8) + le(count, 4) + "\x01\x02" + objects;
    return header + std::string(size - header.size(), 'D');
}

constexpr u64 FILETIME_2021 = (1614834367ull + FILETIME_UNIX_OFFSET) * 10000000ull;

TEST(FileModuleAsfTest, FfmpegFilesGetTheirSizeTitleTimeAndKind) {
    testutil::TempDir dir;
    cbr::FileModuleAsf module;
    const std::string wma = moduletest::make(
        dir,
        "ffmpeg -v error -f lavfi -i sine=duration=1 -c:a wmav2 -metadata 'title=Hello Title' "
        "-metadata creation_time=2020-01-02T03:04:05Z a.wma",
        "a.wma");
    ASSERT_GT(wma.size(), 1000u);
    EXPECT_TRUE(moduletest::check(module, wma));
    auto found = analyze(module, wma + garbage(3000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), wma.size());
    EXPECT_EQ(found.type(), "wma");
    EXPECT_EQ(found.name(), "Hello Title");
    EXPECT_EQ(found.info.getAttributes().getUInt32("time", NO_TIME), 1577934245u);

    // Video wins over audio whichever stream comes first.
    const std::string sources = "ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5:duration=1 "
                                "-f lavfi -i sine=duration=1 -c:v wmv2 -c:a wmav2 ";
    const std::string videoFirst =
        moduletest::make(dir, sources + "-map 0:v -map 1:a v1.wmv", "v1.wmv");
    const std::string audioFirst =
        moduletest::make(dir, sources + "-map 1:a -map 0:v v2.wmv", "v2.wmv");
    for (const std::string* wmv : {&videoFirst, &audioFirst}) {
        found = analyze(module, *wmv + garbage(100));
        ASSERT_TRUE(found.ok);
        EXPECT_EQ(found.size(), wmv->size());
        EXPECT_EQ(found.type(), "wmv");
        EXPECT_EQ(found.name(), "");
    }

    // A file that the window cuts short is not taken.
    EXPECT_FALSE(analyze(module, wma.substr(0, wma.size() - 1)).ok);
}

TEST(FileModuleAsfTest, CheckWantsTheHeaderGuid) {
    cbr::FileModuleAsf module;
    EXPECT_TRUE(moduletest::check(module, HEADER.substr(0, 12)));
    EXPECT_FALSE(moduletest::check(module, HEADER.substr(0, 11)));
    EXPECT_FALSE(moduletest::check(module, "\x31" + HEADER.substr(1)));
}

TEST(FileModuleAsfTest, TitlesAreCutAtTheirObjectAndAtAWholeCharacter) {
    cbr::FileModuleAsf module;
    const std::string streams = streamProperties(AUDIO);
    // 2000 bytes of "é" announce more than the 1024 bytes read: the title is cut
    // to its first 1022 bytes and the name then to 255 bytes at a character edge.
    std::string longTitle;
    for (int i = 0; i < 1000; ++i)
        longTitle += std::string("\xE9\x00", 2);
    std::string objects =
        fileProperties(4000, FILETIME_2021) + streams + contentDescription(longTitle, 2000);
    auto found = analyze(module, asf(objects, 3, 4000));
    ASSERT_TRUE(found.ok);
    std::string expected;
    for (int i = 0; i < 127; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(found.name(), expected);
    EXPECT_EQ(found.info.getAttributes().getUInt32("time", NO_TIME), 1614834367u);

    // A length beyond its object does not read the next object as text.
    objects = fileProperties(4000, 0) + contentDescription(utf16("Song"), 600) + streams;
    found = analyze(module, asf(objects, 3, 4000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.name(), "Song");
    // A FILETIME before 1970 gives no time.
    EXPECT_EQ(found.info.getAttributes().find("time"), Attributes::NOT_FOUND);

    // Three bytes or fewer are no title.
    objects = fileProperties(4000, 0) + contentDescription(std::string("A\0\0", 3), 3) + streams;
    found = analyze(module, asf(objects, 3, 4000));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.name(), "");
}

TEST(FileModuleAsfTest, DamagedHeadersAreRejected) {
    cbr::FileModuleAsf module;
    const std::string props = fileProperties(2000, FILETIME_2021);
    const std::string audio = streamProperties(AUDIO);
    ASSERT_TRUE(analyze(module, asf(props + audio, 2, 2000)).ok);

    // No stream of a known kind, no file properties.
    EXPECT_FALSE(analyze(module, asf(props + streamProperties(std::string(16, 'x')), 2, 2000)).ok);
    EXPECT_FALSE(analyze(module, asf(audio, 1, 2000)).ok);
    // A file size beyond the window, or below the header's own size.
    EXPECT_FALSE(analyze(module, asf(fileProperties(2001, 0) + audio, 2, 2000)).ok);
    EXPECT_FALSE(analyze(module, asf(fileProperties(0, 0) + audio, 2, 2000)).ok);
    // More objects counted than the header holds.
    EXPECT_FALSE(analyze(module, asf(props + audio, 3, 2000)).ok);

    std::string bytes = asf(props + audio, 2, 2000);
    // A header size out of range.
    std::string patched = bytes;
    setLE64(reinterpret_cast<u8*>(&patched[0]), 16, 0xFA001);
    EXPECT_FALSE(analyze(module, patched).ok);
    // File properties too small for their fields.
    patched = bytes;
    setLE64(reinterpret_cast<u8*>(&patched[0]), 30 + 16, 0x67);
    EXPECT_FALSE(analyze(module, patched).ok);
    // An object of size 0 with four billion objects counted: rejected at once
    // rather than walked in place.
    patched = bytes;
    setLE32(reinterpret_cast<u8*>(&patched[0]), 24, 0xFFFFFFFF);
    setLE64(reinterpret_cast<u8*>(&patched[0]), 30 + 16, 0);
    EXPECT_FALSE(analyze(module, patched).ok);
    // An object size that wraps round 64 bits ends the walk: the stream after
    // it is never reached.
    patched = asf(props + object(std::string(16, 'u'), "12345678") + audio, 3, 2000);
    ASSERT_TRUE(analyze(module, patched).ok);
    setLE64(reinterpret_cast<u8*>(&patched[0]), 30 + 0x68 + 16, ~u64(0) - 0x80);
    EXPECT_FALSE(analyze(module, patched).ok);
    // Cut inside the header.
    EXPECT_FALSE(analyze(module, bytes.substr(0, 100)).ok);
}

} // namespace
