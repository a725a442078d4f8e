#include "core/System.h"

#include "tests/support/TestUtil.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

} // namespace
