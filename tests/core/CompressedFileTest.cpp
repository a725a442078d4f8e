#include "core/CompressedFile.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <zlib.h>

namespace {

using testutil::bytesOf;
using testutil::hexDump;
using testutil::readAll;
using testutil::TempDir;
using testutil::writeAll;

std::string dump(const std::string& s) {
    return hexDump(s.data(), s.size());
}

bool save(const std::string& path, const std::string& data) {
    return saveCompressedFile(path.c_str(), reinterpret_cast<const u8*>(data.data()), data.size());
}

// A file image: the two length words, the stream, and the byte chain over it all.
std::string image(u32 first, u32 second, const std::string& stream) {
    std::string b(8, '\0');
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<char>(first >> (8 * i));
        b[4 + i] = static_cast<char>(second >> (8 * i));
    }
    b += stream;
    xorChainForward(reinterpret_cast<u8*>(&b[0]), b.size());
    return b;
}

std::string level9Stream(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string stream(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(&stream[0]), &size,
                  reinterpret_cast<const Bytef*>(data.data()), data.size(), 9) != Z_OK)
        throw std::runtime_error("compress2");
    stream.resize(size);
    return stream;
}

// Bytes that compress poorly, made the same way on every run.
std::string noise(std::size_t n) {
    std::string s(n, '\0');
    u32 x = 0x12345678;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

TEST(CompressedFileTest, ByteChainForwardAndBack) {
    std::vector<u8> b{1, 2, 3};
    xorChainForward(b.data(), b.size());
    EXPECT_EQ(b, (std::vector<u8>{3, 1, 3}));
    xorChainBackward(b.data(), b.size());
    EXPECT_EQ(b, (std::vector<u8>{1, 2, 3}));

    u8 one = 0x5A;
    xorChainForward(&one, 1);
    xorChainBackward(&one, 1);
    EXPECT_EQ(one, 0x5A);
    xorChainForward(nullptr, 0);
    xorChainBackward(nullptr, 0);
}

TEST(CompressedFileTest, LayoutIsLengthTwiceThenTheLevel9Stream) {
    TempDir dir;
    std::string data = "hello, hello, hello, hello";
    ASSERT_TRUE(save(dir.file("f"), data));
    std::string file = readAll(dir.file("f"));

    EXPECT_EQ(dump(file), dump(image(26, 26, level9Stream(data))));
}

TEST(CompressedFileTest, SavingTheSameBytesTwiceGivesIdenticalFiles) {
    TempDir dir;
    std::string data = noise(5000) + std::string(5000, 'a');
    ASSERT_TRUE(save(dir.file("a"), data));
    ASSERT_TRUE(save(dir.file("b"), data));
    EXPECT_EQ(readAll(dir.file("a")), readAll(dir.file("b")));
}

TEST(CompressedFileTest, RoundTrips) {
    TempDir dir;
    const std::string contents[] = {
        std::string(),
        std::string("x"),
        std::string("a\0b\0\xff", 5),
        noise(3 << 20),             // does not compress: the stream is longer
        std::string(4 << 20, '\0'), // compresses close to deflate's best ratio
    };
    for (const std::string& data : contents) {
        std::string path = dir.file("rt");
        ASSERT_TRUE(save(path, data)) << data.size();
        std::string back = "stale";
        ASSERT_TRUE(loadCompressedFile(path.c_str(), back)) << data.size();
        EXPECT_TRUE(back == data) << data.size();
    }
}

TEST(CompressedFileTest, DamagedFilesFailAndLeaveTheOutputAlone) {
    TempDir dir;
    std::string path = dir.file("bad");
    std::string out = "untouched";
    std::string stream = level9Stream("abc");

    writeAll(path, image(3, 3, stream));
    ASSERT_TRUE(loadCompressedFile(path.c_str(), out));
    EXPECT_EQ(out, "abc");
    out = "untouched";

    const std::pair<const char*, std::string> cases[] = {
        {"7 bytes", std::string(7, '\0')},
        {"lengths differ", image(3, 4, stream)},
        {"8 bytes, empty content claimed", image(0, 0, "")},
        {"8 bytes, equal lengths", image(10, 10, "")},
        {"stream cut short", image(3, 3, stream.substr(0, stream.size() - 2))},
        {"stream longer than claimed", image(2, 2, stream)},
        {"not a zlib stream", image(3, 3, "garbage!")},
    };
    for (const auto& c : cases) {
        writeAll(path, c.second);
        EXPECT_FALSE(loadCompressedFile(path.c_str(), out)) << c.first;
        EXPECT_EQ(out, "untouched") << c.first;
    }
    EXPECT_FALSE(loadCompressedFile(dir.file("missing").c_str(), out));
}

// A header may claim up to 4 GiB - 1; more than deflate could ever expand the
// stream to is refused before anything of that size is allocated.
TEST(CompressedFileTest, ImpossibleLengthIsRefusedAtOnce) {
    TempDir dir;
    std::string path = dir.file("claim");
    std::string out = "untouched";
    auto start = std::chrono::steady_clock::now();
    writeAll(path, image(0xFFFFFFFFu, 0xFFFFFFFFu, std::string(100, '\x55')));
    EXPECT_FALSE(loadCompressedFile(path.c_str(), out));
    writeAll(path, image(100 * 1032 + 65, 100 * 1032 + 65, std::string(100, '\x55')));
    EXPECT_FALSE(loadCompressedFile(path.c_str(), out));
    EXPECT_EQ(out, "untouched");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(CompressedFileTest, UnwritablePathFails) {
    EXPECT_FALSE(save("/nonexistent-dir/x.bin", "data"));
}

} // namespace
