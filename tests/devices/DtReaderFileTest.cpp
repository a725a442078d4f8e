#include "devices/DtReaderFile.h"

#include "core/Log.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using testutil::TempDir;
using testutil::writeAll;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

std::string sample(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 13 + 5);
    return s;
}

TEST(ReaderFileTest, ReadsUpToTheEndAndNotBeyond) {
    TempDir dir;
    writeAll(dir.file("img"), sample(1000));
    dt::ReaderFile file;
    ASSERT_TRUE(file.open(dir.file("img").c_str()));
    EXPECT_EQ(file.getSize(), 1000);

    std::vector<u8> got(200, 0xAA);
    ASSERT_TRUE(file.read(900, got.data(), 100));
    EXPECT_EQ(std::string(got.begin(), got.begin() + 100), sample(1000).substr(900));

    // Crossing the end: the bytes before it arrive, nothing is zero-filled, and
    // the result is still a failure.
    std::fill(got.begin(), got.end(), 0xAA);
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(file.read(950, got.data(), 100));
    EXPECT_EQ(logSince(mark), "ReaderFile(56): 950 100\n");
    EXPECT_EQ(std::string(got.begin(), got.begin() + 50), sample(1000).substr(950));
    EXPECT_EQ(got[50], 0xAA);

    EXPECT_FALSE(file.read(1000, got.data(), 1));
    EXPECT_FALSE(file.read(5000, got.data(), 1));
    EXPECT_TRUE(file.read(1000, got.data(), 0));
}

TEST(ReaderFileTest, NegativeAndOverflowingRequestsFail) {
    TempDir dir;
    writeAll(dir.file("img"), sample(100));
    dt::ReaderFile file;
    ASSERT_TRUE(file.open(dir.file("img").c_str()));
    u8 got[8];
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(file.read(-1, got, 1));
    EXPECT_EQ(logSince(mark), "ReaderFile(52): -1\n");
    EXPECT_FALSE(file.read(0, got, -8));
    EXPECT_FALSE(file.read(std::numeric_limits<i64>::max(), got, 2));
}

TEST(ReaderFileTest, AnEmptyFileHasNothingToRead) {
    TempDir dir;
    writeAll(dir.file("empty"), "");
    dt::ReaderFile file;
    ASSERT_TRUE(file.open(dir.file("empty").c_str()));
    EXPECT_EQ(file.getSize(), 0);
    u8 got[1];
    EXPECT_TRUE(file.read(0, got, 0));
    EXPECT_FALSE(file.read(0, got, 1));
}

TEST(ReaderFileTest, AFailedOpenKeepsTheFileOpenedBefore) {
    TempDir dir;
    writeAll(dir.file("img"), sample(300));
    dt::ReaderFile file;
    ASSERT_TRUE(file.open(dir.file("img").c_str()));

    const std::string missing = dir.file("missing");
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(file.open(missing.c_str()));
    EXPECT_EQ(logSince(mark), "ReaderFile(34): " + missing + " " + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(file.getSize(), 300);
    u8 got[10];
    ASSERT_TRUE(file.read(290, got, 10));
    EXPECT_EQ(std::string(got, got + 10), sample(300).substr(290));

    // A second good open replaces the first.
    writeAll(dir.file("other"), "xyz");
    ASSERT_TRUE(file.open(dir.file("other").c_str()));
    EXPECT_EQ(file.getSize(), 3);
}

TEST(ReaderFileTest, FoldersAndPipesAreNoImages) {
    TempDir dir;
    dt::ReaderFile file;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(file.open(dir.path().c_str()));
    EXPECT_EQ(logSince(mark), "ReaderFile(34): " + dir.path() + " " + std::strerror(EISDIR) + "\n");

    // Opening a pipe must not wait for a writer; it has no end to seek to.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    mark = logMemoryText().size();
    EXPECT_FALSE(file.open(fifo.c_str()));
    EXPECT_EQ(logSince(mark), "ReaderFile(39): " + fifo + " " + std::strerror(ESPIPE) + "\n");
}

// One system call moves at most about 2 GiB and the reader moves 1 GiB per call;
// a request beyond that must still arrive whole. The file is sparse, so only the
// marks around the piece boundaries take space.
TEST(ReaderFileTest, ALargeReadArrivesWhole) {
    TempDir dir;
    const std::string path = dir.file("sparse");
    const i64 size = (i64(1) << 30) + 4096;
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_NE(fd, -1);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        for (i64 at : {i64(0), (i64(1) << 30) - 3, size - 5})
            ASSERT_EQ(::pwrite(fd, "MARKS", 5, at), 5);
        ::close(fd);
    }
    dt::ReaderFile file;
    ASSERT_TRUE(file.open(path.c_str()));
    ASSERT_EQ(file.getSize(), size);

    // Mapped, not allocated: the pages come and go with the mapping.
    void* mem = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    u8* buffer = static_cast<u8*>(mem);
    const bool ok = file.read(0, buffer, size);
    const std::string around(reinterpret_cast<char*>(buffer) + (i64(1) << 30) - 3, 5);
    const std::string tail(reinterpret_cast<char*>(buffer) + size - 5, 5);
    ::munmap(mem, static_cast<std::size_t>(size));
    ASSERT_TRUE(ok);
    EXPECT_EQ(around, "MARKS");
    EXPECT_EQ(tail, "MARKS");
}

} // namespace
