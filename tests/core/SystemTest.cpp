#include "core/System.h"

#include "core/Log.h"
#include "tests/support/TestUtil.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using testutil::TempDir;

namespace {

// Replaces the desktop launcher for one test so that no viewer ever starts.
class LauncherSpy {
public:
    explicit LauncherSpy(bool succeed = true) {
        previous_ = setSystemOpenLauncher([this, succeed](const OpenTarget& t, std::string& err) {
            targets.push_back(t);
            if (!succeed)
                err = "no handler";
            return succeed;
        });
    }
    ~LauncherSpy() { setSystemOpenLauncher(std::move(previous_)); }
    std::vector<OpenTarget> targets;

private:
    SystemOpenLauncher previous_;
};

} // namespace

TEST(FileMask, IgnoresCaseOfMaskAndName) {
    FileMask jpg("*.JPG");
    EXPECT_TRUE(jpg.match("photo.jpg"));
    EXPECT_TRUE(jpg.match("PHOTO.Jpg"));
    EXPECT_FALSE(jpg.match("photo.jpeg"));

    FileMask abc("a?c");
    EXPECT_TRUE(abc.match("ABC"));
    EXPECT_FALSE(abc.match("abbc"));
    EXPECT_FALSE(abc.match("ac"));

    // Beyond ASCII: the lower-casing is Unicode-aware.
    FileMask umlaut("ÄRGER*");
    EXPECT_TRUE(umlaut.match("ärger.txt"));
    // "?" stands for one character, not one byte.
    EXPECT_TRUE(FileMask("?.txt").match("é.txt"));
}

TEST(FileMask, InvalidUtf8MatchesNothing) {
    FileMask invalidMask("*\xff*");
    EXPECT_FALSE(invalidMask.match("anything"));
    EXPECT_FALSE(invalidMask.match(""));

    FileMask all("*");
    EXPECT_TRUE(all.match("ok.txt"));
    EXPECT_FALSE(all.match("bad\xc3(.txt"));
    EXPECT_FALSE(all.match("\xe2\x82")); // cut short
    EXPECT_FALSE(all.match("\xc0\xaf")); // overlong "/"
    EXPECT_FALSE(all.match(nullptr));
    EXPECT_FALSE(FileMask(nullptr).match("x"));
}

TEST(System, MatchSimpleIsCaseSensitive) {
    EXPECT_TRUE(matchSimple("*.txt", "a.txt"));
    EXPECT_FALSE(matchSimple("*.txt", "a.TXT"));
    EXPECT_FALSE(matchSimple("*", "\xff"));
}

TEST(System, HasWildcardsStopsAtInvalidUtf8) {
    EXPECT_FALSE(hasWildcards("report.txt"));
    EXPECT_TRUE(hasWildcards("*.txt"));
    EXPECT_TRUE(hasWildcards("a?"));
    EXPECT_TRUE(hasWildcards("日本*"));
    EXPECT_FALSE(hasWildcards(""));
    EXPECT_FALSE(hasWildcards(nullptr));
    // The scan ends at the first broken sequence: a "*" after it does not count.
    EXPECT_FALSE(hasWildcards("ab\xff*"));
    EXPECT_TRUE(hasWildcards("a*\xff"));
}

TEST(Md5, DigestLifecycle) {
    Md5 md5;
    EXPECT_EQ(md5.hexDigest(), "");
    EXPECT_FALSE(md5.init(1));
    EXPECT_EQ(md5.hexDigest(), "");

    ASSERT_TRUE(md5.init(0));
    EXPECT_EQ(md5.hexDigest(), "d41d8cd98f00b204e9800998ecf8427e");

    ASSERT_TRUE(md5.init(0));
    md5.update("ab", 2);
    md5.update("c", 1);
    EXPECT_EQ(md5.hexDigest(), "900150983cd24fb0d6963f7d28e17f72");
    // Data after the digest was read is dropped, the digest stays.
    md5.update("more", 4);
    EXPECT_EQ(md5.hexDigest(), "900150983cd24fb0d6963f7d28e17f72");

    // A second init starts afresh; a refused type leaves the running one alone.
    ASSERT_TRUE(md5.init(0));
    md5.update("a", 1);
    EXPECT_FALSE(md5.init(2));
    md5.update("bc", 2);
    EXPECT_EQ(md5.hexDigest(), "900150983cd24fb0d6963f7d28e17f72");

    md5.reset();
    md5.update("x", 1);
    EXPECT_EQ(md5.hexDigest(), "");
}

TEST(System, ReadAndWriteWholeFiles) {
    TempDir dir;
    std::string path = dir.file("data.bin");
    std::string bytes("a\0b\xff", 4);
    ASSERT_TRUE(writeFile(path.c_str(), bytes.data(), bytes.size()));
    std::string out;
    ASSERT_TRUE(readFile(path.c_str(), out));
    EXPECT_EQ(out, bytes);

    // Writing replaces the whole file.
    ASSERT_TRUE(writeFile(path.c_str(), "xy", 2));
    ASSERT_TRUE(readFile(path.c_str(), out));
    EXPECT_EQ(out, "xy");
    ASSERT_TRUE(writeFile(path.c_str(), nullptr, 0));
    ASSERT_TRUE(readFile(path.c_str(), out));
    EXPECT_EQ(out, "");

    std::string kept = "unchanged";
    EXPECT_FALSE(readFile(dir.file("missing").c_str(), kept));
    EXPECT_EQ(kept, "unchanged");
    EXPECT_FALSE(writeFile(dir.file("no/such/dir/f").c_str(), "x", 1));
    EXPECT_FALSE(readFile("bad\xff", kept));
    EXPECT_EQ(kept, "unchanged");
}

TEST(System, PathFunctions) {
    TempDir dir;
    std::string name = dir.file("Größe.txt");
    EXPECT_TRUE(fileMissing(name.c_str()));
    ASSERT_TRUE(writeFile(name.c_str(), "1", 1));
    EXPECT_TRUE(fileExists(name.c_str()));
    EXPECT_EQ(fileAccess(name.c_str(), R_OK), 0);

    ASSERT_EQ(setFileTimes(name.c_str(), 1000, 315532800), 0);
    struct stat st;
    ASSERT_EQ(fileStat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 315532800);
    EXPECT_EQ(st.st_size, 1);

    int fd = openFile(name.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    // Files we open are not handed on to the viewers we start.
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    close(fd);

    EXPECT_EQ(removeFile(name.c_str()), 0);
    EXPECT_TRUE(fileMissing(name.c_str()));

    std::string nested = dir.file("a/b/c");
    EXPECT_EQ(makeDirectory(nested.c_str(), 0755), -1);
    EXPECT_EQ(makeDirectoryWithParents(nested.c_str(), 0755), 0);
    EXPECT_EQ(makeDirectory(dir.file("d").c_str(), 0755), 0);
    EXPECT_TRUE(fileExists(dir.file("d").c_str()));

    EXPECT_EQ(buildFileName("/a", "b.txt"), "/a/b.txt");
    EXPECT_EQ(buildFileName("/a/", "/b.txt"), "/a/b.txt");
    EXPECT_EQ(pathDirName("/x/y/prog"), "/x/y");
    EXPECT_EQ(pathDirName("prog"), ".");
    EXPECT_EQ(pathBaseName("/x/y/prog.bin"), "prog.bin");
    EXPECT_FALSE(tempDirectory().empty());
}

TEST(System, PathsThatAreNotUtf8FailCleanly) {
    const char* bad = "/tmp/\xff\xfe";
    EXPECT_FALSE(fileExists(bad));
    errno = 0;
    EXPECT_EQ(makeDirectory(bad, 0755), -1);
    EXPECT_EQ(errno, EILSEQ);
    EXPECT_EQ(openFile(bad, O_RDONLY, 0), -1);
    EXPECT_EQ(removeFile(nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    struct stat st;
    EXPECT_EQ(fileStat(bad, &st), -1);
}

TEST(System, LastErrorTextIsTheErrnoText) {
    errno = ENOENT;
    EXPECT_EQ(lastErrorText(), "No such file or directory");
    removeFile("/nonexistent-dir-hb/x");
    EXPECT_EQ(lastErrorText(), "No such file or directory");
}

TEST(SystemOpen, BuildsFileUriOrKeepsWebAddress) {
    OpenTarget t;
    ASSERT_TRUE(makeOpenTarget("https://example.org/notes?a=1&b=2", t));
    EXPECT_EQ(t.uri, "https://example.org/notes?a=1&b=2");
    EXPECT_EQ(t.localPath, "");
    ASSERT_TRUE(makeOpenTarget("HTTP://example.org", t));
    EXPECT_EQ(t.uri, "HTTP://example.org");

    // Shell-special characters are just characters of a path.
    ASSERT_TRUE(makeOpenTarget("/tmp/a b;$(rm -rf x)&'.txt", t));
    EXPECT_EQ(t.localPath, "/tmp/a b;$(rm -rf x)&'.txt");
    EXPECT_EQ(t.uri.rfind("file:///tmp/a%20b", 0), 0u) << t.uri;
    EXPECT_EQ(t.uri.find(' '), std::string::npos);
    EXPECT_EQ(fallbackOpenArgv(t), (std::vector<std::string>{"xdg-open", t.localPath}));

    // A relative path, even one that looks like an option, becomes absolute.
    ASSERT_TRUE(makeOpenTarget("-rf", t));
    EXPECT_EQ(t.localPath[0], '/');
    EXPECT_EQ(pathBaseName(t.localPath.c_str()), "-rf");

    // Other schemes are not addresses: "mailto:x" is a file in the current folder.
    ASSERT_TRUE(makeOpenTarget("mailto:x", t));
    EXPECT_EQ(t.uri.rfind("file:///", 0), 0u);

    ASSERT_TRUE(makeOpenTarget("/tmp/日本.txt", t));
    EXPECT_EQ(t.uri, "file:///tmp/%E6%97%A5%E6%9C%AC.txt");

    EXPECT_FALSE(makeOpenTarget("/tmp/\xff", t));
    EXPECT_FALSE(makeOpenTarget("", t));
    EXPECT_FALSE(makeOpenTarget(nullptr, t));
}

TEST(SystemOpen, HandsTargetToLauncherAndLogsFailures) {
    {
        LauncherSpy spy;
        EXPECT_TRUE(systemOpenFile("/tmp/report.txt", "shown as"));
        ASSERT_EQ(spy.targets.size(), 1u);
        EXPECT_EQ(spy.targets[0].uri, "file:///tmp/report.txt");

        systemOpen("/tmp/\xff");
        EXPECT_EQ(spy.targets.size(), 1u);
        EXPECT_NE(logMemoryText().find("SystemOpen(14): /tmp/\xff\n"), std::string::npos);
    }
    {
        LauncherSpy failing(false);
        systemOpen("/tmp/none.txt");
        ASSERT_EQ(failing.targets.size(), 1u);
        EXPECT_NE(logMemoryText().find("SystemOpen(21): /tmp/none.txt no handler\n"),
                  std::string::npos);
    }
}
