#include "core/CompressedFile.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <zlib.h>

namespace {

using testutil::TempDir;

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

TEST(CompressedFileTest, TheLayoutIsTheLengthTwiceThenTheLevel9Stream) {
    TempDir dir;
    const std::string data = "hello, hello, hello, hello";
    ASSERT_TRUE(save(dir.file("f"), data));
    const std::string file = testutil::readAll(dir.file("f"));
    const std::string want = image(26, 26, level9Stream(data));
    EXPECT_EQ(testutil::hexDump(file.data(), file.size()),
              testutil::hexDump(want.data(), want.size()));
    std::vector<u8> b{1, 2, 3};
    xorChainForward(b.data(), b.size());
    EXPECT_EQ(b, (std::vector<u8>{3, 1, 3}));
}

TEST(CompressedFileTest, ContentsComeBackByteForByte) {
    TempDir dir;
    std::string noise(3 << 20, '\0'); // does not compress: the stream is longer
    std::mt19937 random;
    for (char& c : noise)
        c = static_cast<char>(random());
    for (const std::string& data :
         {std::string(), std::string("a\0b\0\xff", 5), noise, std::string(4 << 20, '\0')}) {
        ASSERT_TRUE(save(dir.file("rt"), data)) << data.size();
        std::string back = "stale";
        ASSERT_TRUE(loadCompressedFile(dir.file("rt").c_str(), back)) << data.size();
        EXPECT_TRUE(back == data) << data.size();
    }
    EXPECT_FALSE(save("/nonexistent-dir/x.bin", "data"));
}

// A damaged file fails and leaves the output alone. A header may claim up to
// 4 GiB - 1; more than deflate could expand its stream to is refused before
// anything of that size is allocated, and is never taken for the shorter
// content the stream holds.
TEST(CompressedFileTest, DamagedFilesFailAndLeaveTheOutputAlone) {
    TempDir dir;
    const std::string path = dir.file("bad"), stream = level9Stream("abc");
    const std::pair<const char*, std::string> cases[] = {
        {"7 bytes", std::string(7, '\0')},
        {"lengths differ", image(3, 4, stream)},
        {"no stream", image(10, 10, "")},
        {"stream cut short", image(3, 3, stream.substr(0, stream.size() - 2))},
        {"stream longer than claimed", image(2, 2, stream)},
        {"more than the content compresses to", image(3, 3, stream + std::string(100, '\0'))},
        {"not a zlib stream", image(3, 3, "garbage!")},
        {"claims 4 GiB", image(0xFFFFFFFFu, 0xFFFFFFFFu, std::string(100, '\x55'))},
        {"claims past the ratio",
         image(stream.size() * 1032 + 65, stream.size() * 1032 + 65, stream)},
        {"checksum wrong", image(3, 3, stream.substr(0, stream.size() - 1) + "\x01")},
    };
    for (const auto& c : cases) {
        testutil::writeAll(path, c.second);
        std::string out = "untouched";
        EXPECT_FALSE(loadCompressedFile(path.c_str(), out)) << c.first;
        EXPECT_EQ(out, "untouched") << c.first;
    }
    std::string out;
    EXPECT_FALSE(loadCompressedFile(dir.file("missing").c_str(), out));
}

// Files that pass the length words: one whose stream holds noise from its
// zlib header on is refused by its first blocks, having read no more of it;
// one whose head is a sound file's and whose rest is noise is refused by the
// key that the whole file gives, having read it once.
TEST(CompressedFileTest, ASoundHeadIsNotEnoughAndTheRefusalReadsLittle) {
    TempDir dir;
    std::string noise(2 << 20, '\0');
    std::mt19937 random(7);
    for (char& c : noise)
        c = static_cast<char>(random());
    ASSERT_TRUE(save(dir.file("sound"), noise.substr(0, 1 << 20)));
    std::string soundHead = testutil::readAll(dir.file("sound"));
    soundHead.replace(4096, std::string::npos, noise, 4096, soundHead.size() - 4096);
    const u32 claimed = static_cast<u32>(noise.size() + 2);
    const struct {
        const char* name;
        std::string file;
        long long mayRead;
    } rows[] = {
        {"noise behind a zlib header", image(claimed, claimed, "\x78\xDA" + noise), 64 << 10},
        {"a sound head followed by noise", soundHead,
         static_cast<long long>(soundHead.size()) + (64 << 10)},
    };
    for (const auto& row : rows) {
        const std::string path = dir.file("picked");
        testutil::writeAll(path, row.file);
        CompressedFile file;
        bool opened = true;
        const long long read = testutil::bytesRead([&] { opened = file.open(path.c_str()); });
        EXPECT_FALSE(opened) << row.name;
        EXPECT_LT(read, row.mayRead) << row.name;
    }
}

} // namespace
