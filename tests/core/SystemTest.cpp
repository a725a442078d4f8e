#include "core/System.h"

#include "tests/support/FilesCameBack.h"
#include "tests/support/TestUtil.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Masks ignore case as Unicode knows it, "?" is one character, and a name or
// mask that is not UTF-8 matches nothing.
TEST(SystemTest, MasksMatchCharactersNotBytes) {
    const struct {
        const char* mask;
        const char* name;
        bool match;
    } cases[] = {
        {"*.JPG", "PHOTO.Jpg", true},  {"*.JPG", "photo.jpeg", false}, {"a?c", "ABC", true},
        {"a?c", "abbc", false},        {"ÄRGER*", "ärger.txt", true},  {"?.txt", "é.txt", true},
        {"*\xff*", "anything", false}, {"*", "bad\xc3(.txt", false},   {"*", "\xc0\xaf", false},
        {"*", nullptr, false},         {nullptr, "x", false}};
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(FileMask(cases[i].mask).match(cases[i].name), cases[i].match) << "case " << i;
}

TEST(SystemTest, FilesAndPathsThatAreNotUtf8FailCleanly) {
    testutil::TempDir dir;
    const std::string path = dir.file("Größe.bin"), bytes("a\0b\xff", 4);
    ASSERT_TRUE(writeFile(path.c_str(), bytes.data(), bytes.size()));
    std::string out;
    ASSERT_TRUE(readFile(path.c_str(), out));
    EXPECT_EQ(out, bytes);
    ASSERT_EQ(setFileTimes(path.c_str(), 1000, 315532800), 0);
    struct stat st;
    ASSERT_EQ(fileStat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 315532800);
    const int fd = openFile(path.c_str(), O_RDONLY, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC); // never handed on to a viewer we start
    close(fd);

    std::string kept = "unchanged";
    EXPECT_FALSE(readFile("bad\xff", kept));
    EXPECT_EQ(kept, "unchanged");
    errno = 0;
    EXPECT_EQ(makeDirectory("/tmp/\xff\xfe", 0755), -1);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(removeFile(nullptr), -1);
}

// Save Scan, Save Debug and a saved report replace a file only once the new
// one is whole, and say why they could not: on a full disk (a tmpfs of 16 KiB,
// where this user may mount one) and where a folder holds the name.
TEST(SystemTest, AFailedWriteKeepsWhatWasThereAndSaysWhy) {
    testutil::TempDir dir;
    const std::string folder = dir.file("folder");
    ASSERT_EQ(makeDirectory(folder.c_str(), 0755), 0);
    errno = 0;
    EXPECT_FALSE(writeFile(folder.c_str(), "x", 1));
    EXPECT_EQ(errno, EISDIR);
    const std::string full = dir.file("full");
    ASSERT_EQ(makeDirectory(full.c_str(), 0755), 0);
    if (testutil::run("mount -t tmpfs -o size=16k tmpfs " + testutil::shellQuote(full) +
                      " 2>/dev/null") != 0)
        GTEST_SKIP() << "no tmpfs may be mounted here";
    const std::shared_ptr<void> mounted(
        nullptr, [full](void*) { testutil::run("umount " + testutil::shellQuote(full)); });
    const std::string scan = full + "/Scan.bin";
    ASSERT_TRUE(writeFile(scan.c_str(), "old", 3));
    const std::string large(64 * 1024, 'n');
    errno = 0;
    EXPECT_FALSE(writeFile(scan.c_str(), large.data(), large.size()));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(testutil::readAll(scan), "old");
    EXPECT_EQ(testutil::listFolder(full), std::vector<std::string>{"Scan.bin"});
}

// The system's reason reads in the program's language, which the user may
// change while it runs: the text asked for first is not kept.
TEST(SystemTest, ErrorTextsFollowTheLanguage) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    EXPECT_EQ(errorText(ENOSPC), "No space left on device");
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const std::string german = errorText(ENOSPC);
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(german, "Auf dem Ger\xC3\xA4t ist kein Speicherplatz mehr verf\xC3\xBCgbar");
}

// What the user opens goes to the launcher as an argument, never through a
// shell: shell-special characters are characters of a path.
TEST(SystemTest, OpenTargetsAreUrisOrAbsolutePaths) {
    OpenTarget t;
    ASSERT_TRUE(makeOpenTarget("https://example.org/notes?a=1&b=2", t));
    EXPECT_EQ(t.uri, "https://example.org/notes?a=1&b=2");
    EXPECT_EQ(t.localPath, "");
    ASSERT_TRUE(makeOpenTarget("/tmp/a b;$(rm -rf x)&'.txt", t));
    EXPECT_EQ(t.localPath, "/tmp/a b;$(rm -rf x)&'.txt");
    EXPECT_EQ(t.uri.rfind("file:///tmp/a%20b", 0), 0u) << t.uri;
    EXPECT_EQ(fallbackOpenArgv(t), (std::vector<std::string>{"xdg-open", t.localPath}));
    ASSERT_TRUE(makeOpenTarget("-rf", t)); // looks like an option, becomes absolute
    EXPECT_EQ(t.localPath[0], '/');
    ASSERT_TRUE(makeOpenTarget("mailto:x", t)); // other schemes are files here
    EXPECT_EQ(t.uri.rfind("file:///", 0), 0u);
    for (const char* bad : {"/tmp/\xff", ""})
        EXPECT_FALSE(makeOpenTarget(bad, t)) << bad;

    std::vector<OpenTarget> launched;
    SystemOpenLauncher previous =
        setSystemOpenLauncher([&](const OpenTarget& target, std::string& err) {
            launched.push_back(target);
            err = "no handler";
            return false;
        });
    testutil::LogCapture log;
    systemOpen("/tmp/\xff");
    systemOpen("/tmp/none.txt");
    setSystemOpenLauncher(std::move(previous));
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].uri, "file:///tmp/none.txt");
    EXPECT_EQ(log.text(), "SystemOpen(14): /tmp/\xff\nSystemOpen(21): /tmp/none.txt no handler\n");
}

// A transfer calls again after a signal and after a short move, asks no call
// for more than a gigabyte (the kernel moves a little below 2 GiB), and keeps
// the errno of a failure (the end: ReaderKindTest, LinuxBlockDeviceTest). A
// call's answers: a count, or minus its errno.
TEST(SystemTest, TransfersGoOnUntilAllIsMovedOrACallFails) {
    constexpr u64 GIB = u64(1) << 30;
    constexpr u64 LAST = static_cast<u64>(std::numeric_limits<off_t>::max());
    const struct {
        const char* name;
        u64 offset;
        u64 n;
        std::vector<i64> answers; // the last one stands for all calls after it
        int retried;              // an error that the caller mends and calls again on
        const char* asked;        // the count each call is asked for
        u64 done;
        int error;
    } cases[] = {
        {"short moves", 100, 10, {3, 4, 3}, 0, "10 7 3 ", 10, 0},
        {"a signal", 0, 10, {-EINTR, 10}, 0, "10 10 ", 10, 0},
        {"a failure", 0, 10, {4, -EIO}, 0, "10 6 ", 4, EIO},
        {"a failure the caller mends", 0, 10, {-EINVAL, 10}, EINVAL, "10 10 ", 10, 0},
        {"a failure it does not mend", 0, 10, {-EINVAL}, EIO, "10 ", 0, EINVAL},
        {"3 GiB", 0, 3 * GIB, {i64(GIB)}, 0, "1073741824 1073741824 1073741824 ", 3 * GIB, 0},
        {"past the last position", LAST - 1, 4, {1}, 0, "4 3 ", 2, EINVAL},
    };
    for (const auto& c : cases) {
        std::string asked;
        std::size_t call = 0;
        const Transfer t = transferWhole(
            c.offset, c.n,
            [&](std::size_t done, std::size_t count, u64 position) -> ssize_t {
                asked += std::to_string(count) + ' ';
                EXPECT_EQ(position, c.offset + done) << c.name;
                const i64 answer = c.answers[std::min(call++, c.answers.size() - 1)];
                if (answer >= 0)
                    return static_cast<ssize_t>(answer);
                errno = static_cast<int>(-answer);
                return -1;
            },
            [&](int error) {
                errno = 0; // what the mending call may leave
                return error == c.retried;
            });
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_EQ(t.done, c.done) << c.name;
        EXPECT_EQ(t.error, c.error) << c.name;
        EXPECT_FALSE(t.ended) << c.name;
    }
}

} // namespace
